// Arrivals applied in chunks, on the caller's thread or a worker and on every
// SIMD path, leave exactly the samples that AddArrival leaves one arrival at
// a time, including the arrivals it drops.
#include "impulse/accumulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "arrivals.h"
#include "design_builder.h"
#include "scene/hydra.h"

namespace zm {
namespace {

struct Arrival {
  double time, amplitude, gains[8];
  int32_t channel;
};

// Random arrivals, some that are dropped: past the kept range, on channels
// outside 0..7, with a NaN or infinite amplitude or gain, or so loud that
// their taps overflow.
std::vector<Arrival> RandomArrivals(int count) {
  std::mt19937 random(99);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<Arrival> arrivals(count);
  for (Arrival& a : arrivals) {
    a.time = unit(random) * 1.1;
    a.amplitude = unit(random) * 2 - 1;
    for (double& g : a.gains) g = unit(random);
    a.channel = static_cast<int32_t>(random() % 10) - 1;
    switch (random() % 50) {
      case 0:
        a.amplitude = std::numeric_limits<double>::quiet_NaN();
        break;
      case 1:
        a.gains[random() % 8] = std::numeric_limits<double>::infinity();
        break;
      case 2:
        a.amplitude = 1e307;
        break;
    }
  }
  return arrivals;
}

struct Impulse {
  explicit Impulse(int32_t taps) {
    design->FilterLength = taps;
    design->LeadIn = 1;
    scene = std::make_unique<THydra>(design.Record());
    impulse = std::make_unique<TImpulse>(*scene);
  }
  bool SameAs(const Impulse& other) const {
    const size_t bytes = sizeof(double) * kImpulseChannels * impulse->BufferSamples;
    return impulse->WrittenEnd == other.impulse->WrittenEnd &&
           std::memcmp(impulse->ChannelUsed, other.impulse->ChannelUsed,
                       sizeof impulse->ChannelUsed) == 0 &&
           std::memcmp(impulse->ChannelStorage.get(), other.impulse->ChannelStorage.get(), bytes) ==
               0;
  }
  test::DesignBuilder design;
  std::unique_ptr<THydra> scene;
  std::unique_ptr<TImpulse> impulse;
};

TEST(AccumulatorBatches, SameSamplesAsOneArrivalAtATime) {
  // 6000 arrivals fill several batches and chunks; 7 taps leave most of a
  // block of taps empty.
  const std::vector<Arrival> arrivals = RandomArrivals(6000);
  for (int32_t taps : {7, 32, 300}) {
    Impulse reference(taps);
    for (const Arrival& a : arrivals) {
      AddArrival(*reference.impulse, a.time, a.amplitude, a.gains, a.channel);
    }
    for (TSimdPath path : kSimdPaths) {
      if (!ForceSimdPath(path)) continue;
      for (bool background : {false, true}) {
        Impulse batched(taps);
        TAccumulator accumulator(*batched.impulse, background);
        for (const Arrival& a : arrivals)
          AddArrival(accumulator, a.time, a.amplitude, a.gains, a.channel);
        accumulator.Finish();
        EXPECT_TRUE(batched.SameAs(reference))
            << taps << " taps, " << SimdPathName(path) << (background ? ", worker" : "");
      }
    }
  }
  ForceSimdPath(BestSimdPath());
}

TEST(AccumulatorBatches, FiniteSpreadCountStopsAtTheFirstOverflow) {
  // Factors on both sides of the quick test's bound, and NaN: the count must
  // be the number of spread arrivals before the first one that overflows.
  std::mt19937 random(5);
  std::uniform_int_distribution<int> exponent(500, 513);
  for (int trial = 0; trial < 2000; ++trial) {
    TArrivalGroup group{};
    group.SpreadDivisions = 1 + trial % 9;
    for (int b = 0; b < 8; ++b) {
      const double sign = random() % 2 ? 1.0 : -1.0;
      group.GainsBefore[b] = sign * std::ldexp(1.0, exponent(random));
      group.GainChange[b] = -2.5 * group.GainsBefore[b] * (random() % 3);
      group.Air[b] = std::ldexp(1.0, exponent(random));
    }
    if (trial % 50 == 0) group.Air[trial % 8] = std::numeric_limits<double>::quiet_NaN();
    int32_t expected = 0;
    for (double t, a, gains[8]; expected < group.SpreadDivisions; ++expected) {
      group.Spread(expected, t, a, gains);
      if (!std::all_of(gains, gains + 8, [](double g) { return std::isfinite(g); })) break;
    }
    ASSERT_EQ(group.FiniteSpreadCount(), expected) << "trial " << trial;
  }
}

TEST(AccumulatorBatches, AnUnfinishedRunStopsItsWorker) {
  // An aborted or failed run destroys the accumulator without Finish.
  const std::vector<Arrival> arrivals = RandomArrivals(9000);
  Impulse impulse(32);
  TAccumulator accumulator(*impulse.impulse, true);
  for (const Arrival& a : arrivals)
    AddArrival(accumulator, a.time, a.amplitude, a.gains, a.channel);
}

}  // namespace
}  // namespace zm
