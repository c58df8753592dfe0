// A run gives the same impulse, bit for bit, with any number of threads and
// on every SIMD path of the processor; and a host's abort reaches a ray that
// would otherwise run for minutes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <thread>
#include <vector>

#include "design_builder.h"
#include "scene/hydra.h"
#include "tracer/tracer.h"

namespace zm {
namespace {

constexpr double kPi = std::numbers::pi;

// What a run leaves in the impulse, as bytes.
std::vector<uint8_t> Trace(test::DesignBuilder& design, int32_t threads, TSimdPath path) {
  EXPECT_TRUE(ForceSimdPath(path));
  THydra scene(design.Record());
  TTracer tracer(scene, 0);
  tracer.Threads = threads;
  uint8_t abort = 0;
  EXPECT_TRUE(tracer.Run(&abort, nullptr, nullptr));
  const TImpulse& impulse = *tracer.Impulse;
  std::vector<uint8_t> bytes;
  auto add = [&bytes](const void* data, size_t size) {
    bytes.insert(bytes.end(), static_cast<const uint8_t*>(data),
                 static_cast<const uint8_t*>(data) + size);
  };
  add(impulse.ChannelStorage.get(), sizeof(double) * kImpulseChannels * impulse.BufferSamples);
  add(impulse.ChannelUsed, sizeof impulse.ChannelUsed);
  for (double value :
       {double(impulse.WrittenEnd), impulse.FirstDirectTime, impulse.FirstReflectionTime})
    add(&value, sizeof value);
  return bytes;
}

// Sixty walls around a star, air from an air material, receivers on three
// channels (one reflecting, one cardioid), sub-arrivals and an odd filter
// length that leaves a partial block of taps; a long one makes arrivals
// straddle the workers' slices of samples.
test::DesignBuilder StarDesign(int32_t filterLength) {
  test::DesignBuilder design;
  design->ImpulseLength = 0.3;
  design->SubArrivals = 4;
  design->FilterLength = filterLength;
  design->LeadIn = 1;
  design.AddMaterial(ZM_AIR_MATERIAL_NAME, 0.98, 0.0, 0.95);
  const int wall = design.AddMaterial("wall", 0.8, 0.3, 0.9);
  const int open = design.AddMaterial("open", 1.0);
  constexpr int kCorners = 60;
  for (int i = 0; i < kCorners; ++i) {
    auto corner = [](int k) {
      const double a = 2 * kPi * (k % kCorners) / kCorners;
      const double r = std::round(64 * 6.0 * (1.0 + 0.3 * std::sin(4 * a))) / 64;
      return std::pair{std::round(64 * r * std::cos(a)) / 64,
                       std::round(64 * r * std::sin(a)) / 64};
    };
    const auto [x1, y1] = corner(i);
    const auto [x2, y2] = corner(i + 1);
    design.AddWall(x1, y1, x2, y2, wall);
  }
  design.Wall(design.AddReceiver(2, -0.5, 2, 0.5, open, 0)).PassThrough = 1;
  design.Wall(design.AddReceiver(-2, -0.5, -2, 0.5, open, 1)).PassThrough = 1;
  design.Wall(design.AddReceiver(-0.5, 2, 0.5, 2.5, wall, 3)).Pattern = 2;
  design.Emitter(design.AddEmitter(0.5, 0.3, 0.0, 1200, 2 * kPi)).RandomDirections = 1;
  return design;
}

TEST(Parallel, SameImpulseForAnyThreadCountAndSimdPath) {
  struct Case {
    const char* name;
    test::DesignBuilder design;
  };
  Case cases[] = {{"star", StarDesign(33)}, {"long filter", StarDesign(301)}};
  for (Case& c : cases) {
    const std::vector<uint8_t> reference = Trace(c.design, 1, TSimdPath::Portable);
    for (TSimdPath path : kSimdPaths) {
      if (!SimdPathAvailable(path)) continue;
      std::printf("[ path     ] %s: %s\n", c.name, SimdPathName(path));
      for (int32_t threads : {1, 2, 4}) {
        EXPECT_TRUE(Trace(c.design, threads, path) == reference)
            << c.name << ", " << SimdPathName(path) << ", " << threads << " threads";
      }
    }
  }
  ForceSimdPath(BestSimdPath());
}

struct AbortingHost {
  uint8_t abort = 0;
  std::atomic<bool> started{false};
};

void ZM_CALLBACK RunStarted(int32_t, int32_t, void* host) {
  static_cast<AbortingHost*>(host)->started.store(true);
}

// The host's callback tells a helper thread that the run has begun; the
// helper sets the abort byte a little later, while the only ray is far
// from done.
TEST(Parallel, AbortReachesAnEndlessRay) {
  test::DesignBuilder design;
  design->CoordinateScale = 1e-4;  // a 0.1 mm box: some 10^9 hits in 300 s
  design->ImpulseLength = 300.0;
  design->MinAmplitude = 0.0;
  const int lossless = design.AddMaterial("lossless", 1.0);
  const double corners[5][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
  for (int i = 0; i < 4; ++i) {
    design.AddWall(corners[i][0], corners[i][1], corners[i + 1][0], corners[i + 1][1], lossless);
  }
  design.AddEmitter(0.3, 0.4, 0.7, 1, 0.0);
  THydra scene(design.Record());
  TTracer tracer(scene, 0);

  AbortingHost shared;
  std::thread host([&shared] {
    while (!shared.started.load()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::atomic_ref<uint8_t>(shared.abort).store(1, std::memory_order_relaxed);
  });
  const auto begun = std::chrono::steady_clock::now();
  const bool finished = tracer.Run(&shared.abort, RunStarted, &shared);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begun;
  host.join();
  EXPECT_FALSE(finished);
  EXPECT_LT(took.count(), 10.0);
  EXPECT_GE(tracer.SegmentCount, TTracer::kAbortCheckHits);
}

}  // namespace
}  // namespace zm
