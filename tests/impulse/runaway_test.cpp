// Designs whose amplitudes run away: an amplifying material, or a receiver
// gain near the top of the double range. Each renders a file of finite
// samples, loud where the normalised output says it should be.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "design_builder.h"
#include "wave_file.h"
#include "zm/zm.h"

namespace zm {
namespace {

// A lossless box with a pass-through receiver, rendered to a file.
struct Room {
  Room() {
    design->ImpulseLength = 0.3;
    design->MinAmplitude = 0.0;
    design->SubArrivals = 4;
    walls = design.AddMaterial("walls", 1.0, 0.2);
    const int open = design.AddMaterial("open", 1.0);
    const double corners[5][2] = {{0, 0}, {7, 0}, {7, 5}, {0, 5}, {0, 0}};
    for (int i = 0; i < 4; ++i) {
      design.AddWall(corners[i][0], corners[i][1], corners[i + 1][0], corners[i + 1][1], walls);
    }
    receiver = design.AddReceiver(5, 2, 5, 3, open);
    design.Wall(receiver).PassThrough = 1;
    design.Emitter(design.AddEmitter(2, 2.5, 0.0, 400, 6.283185307179586)).RandomDirections = 1;
  }
  // The samples of the file rendered at 16 (integer) or 32 (float) bits.
  std::vector<double> Render(int32_t bits) {
    design->BitsPerSample = bits;
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("zm-runaway-" + std::to_string(bits) + ".wav");
    TErrorRecord error{};
    uint8_t abort = 0;
    ZM_process(&design.Record(), path.string().c_str(), &error, &abort, nullptr, nullptr, 0);
    EXPECT_EQ(error.Failed, 0) << error.Message;
    const test::WaveFile w(path.string());
    std::filesystem::remove(path);
    std::vector<double> samples;
    for (uint32_t m = 0; m < w.Frames(); ++m) {
      for (int c = 0; c < w.channels; ++c)
        samples.push_back(bits == 32 ? w.Float(m, c) : w.Int16(m, c));
    }
    return samples;
  }
  test::DesignBuilder design;
  int walls, receiver;
};

// The largest magnitude, or infinity when any sample is not finite, so that
// a NaN or infinite sample fails every comparison with a finite level.
double Peak(const std::vector<double>& samples) {
  double peak = 0;
  for (double s : samples) peak = std::isfinite(s) ? std::max(peak, std::fabs(s)) : HUGE_VAL;
  return peak;
}

TEST(Runaway, AmplifyingWallsGiveFiniteOutput) {
  // 1.3 per hit overflows after some 2700 hits, which the rays of a box of
  // 7 by 5 cm make within the second; they end there.
  Room room;
  room.design->CoordinateScale = 0.01;
  room.design->ImpulseLength = 1.0;
  room.design.Material(room.walls).Reflection = 1.3;
  EXPECT_NEAR(Peak(room.Render(32)), 0.995, 1e-6);
}

TEST(Runaway, HugeReceiverGainGivesFiniteOutput) {
  Room room;
  room.design.Wall(room.receiver).Gain = 1e300;
  EXPECT_NEAR(Peak(room.Render(32)), 0.995, 1e-6);
  EXPECT_GT(Peak(room.Render(16)), 32000);

  // A fixed gain keeps the level, far beyond the single range: clipped.
  room.design->GainMode = 1;
  EXPECT_EQ(Peak(room.Render(32)), std::numeric_limits<float>::max());
}

}  // namespace
}  // namespace zm
