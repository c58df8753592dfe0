// Fast mode renders statistically the same room as the exact path: over a
// few seeds of a scattering room, the mean broadband decay (T30, EDT) and
// early-to-late balance (C50) agree within loose bounds. The full study,
// per band and over many seeds, is run by the tools.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "design_builder.h"
#include "fast/fast_tracer.h"
#include "scene/hydra.h"
#include "tracer/tracer.h"

namespace zm {
namespace {

constexpr double kRate = 44100.0;

struct Decay {
  double t30, edt, c50;
};

// From the samples of an impulse whose direct sound lies at `direct` s.
Decay Analyse(const double* x, int32_t count, double direct) {
  std::vector<double> remaining(static_cast<size_t>(count) + 1, 0.0);
  for (int32_t i = count; i-- > 0;) remaining[i] = remaining[i + 1] + x[i] * x[i];
  const int32_t start = static_cast<int32_t>(direct * kRate) - 32;
  auto fit = [&](double from, double to) {
    double sx = 0, sy = 0, sxx = 0, sxy = 0, n = 0;
    for (int32_t i = start; i < count; ++i) {
      const double db = 10 * std::log10(remaining[i] / remaining[start]);
      if (db > from || db < to) continue;
      const double t = i / kRate;
      sx += t, sy += db, sxx += t * t, sxy += t * db, n += 1;
    }
    return -60.0 / ((n * sxy - sx * sy) / (n * sxx - sx * sx));
  };
  const int32_t split = start + 32 + static_cast<int32_t>(0.05 * kRate);
  const double early = remaining[start] - remaining[split];
  return {fit(-5, -35), fit(0, -10), 10 * std::log10(early / remaining[split])};
}

TEST(FastEquivalence, SameDecayAndBalanceAsTheExactPath) {
  test::DesignBuilder design;
  design->ImpulseLength = 1.5;
  design->MinAmplitude = 1e-5;
  design->SubArrivals = 8;
  const int wall = design.AddMaterial("wall", std::sqrt(0.7), 0.8);
  for (int b = 0; b < kBandCount; ++b) design.Material(wall).BandFactors[b] = 1.0 - 0.05 * b;
  const double corners[5][2] = {{0, 0}, {12, 0}, {12, 8}, {0, 8}, {0, 0}};
  for (int i = 0; i < 4; ++i) {
    design.AddWall(corners[i][0], corners[i][1], corners[i + 1][0], corners[i + 1][1], wall);
  }
  design.Wall(design.AddReceiver(8, 4.5, 8, 5.5, design.AddMaterial("open", 1.0))).PassThrough = 1;
  design.Emitter(design.AddEmitter(3, 3, 0, 20000, 2 * std::numbers::pi)).RandomDirections = 1;

  constexpr int kSeeds = 3;
  Decay exact{}, fast{};
  for (int seed = 1; seed <= kSeeds; ++seed) {
    design->RandomSeed = seed;
    uint8_t abort = 0;
    THydra exactScene(design.Record()), fastScene(design.Record());
    TTracer e(exactScene, 0);
    fast::TFastTracer f(fastScene, 0, nullptr);
    ASSERT_TRUE(e.Run(&abort, nullptr, nullptr));
    ASSERT_TRUE(f.Run(&abort, nullptr, nullptr));
    const Decay a =
        Analyse(e.Impulse->Channel(0), e.Impulse->WrittenEnd + 1, e.Impulse->FirstDirectTime);
    const Decay b =
        Analyse(f.Impulse->Channel(0), f.Impulse->WrittenEnd + 1, f.Impulse->FirstDirectTime);
    exact = {exact.t30 + a.t30 / kSeeds, exact.edt + a.edt / kSeeds, exact.c50 + a.c50 / kSeeds};
    fast = {fast.t30 + b.t30 / kSeeds, fast.edt + b.edt / kSeeds, fast.c50 + b.c50 / kSeeds};
  }
  std::printf("[ decay    ] exact T30 %.3f EDT %.3f C50 %.2f; fast T30 %.3f EDT %.3f C50 %.2f\n",
              exact.t30, exact.edt, exact.c50, fast.t30, fast.edt, fast.c50);
  EXPECT_NEAR(fast.t30 / exact.t30, 1.0, 0.05);
  EXPECT_NEAR(fast.edt / exact.edt, 1.0, 0.1);
  EXPECT_NEAR(fast.c50, exact.c50, 1.0);
}

}  // namespace
}  // namespace zm
