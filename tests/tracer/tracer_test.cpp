#include "tracer/tracer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "design_builder.h"
#include "scene/hydra.h"
#include "support/exception.h"

namespace zm {
namespace {

constexpr double kPi = std::numbers::pi;

struct Arrival {
  double time;
  double amplitude;
  double gains[8];
  int32_t channel;
};

class RecordingObserver : public TArrivalObserver {
 public:
  void OnArrival(double time, double amplitude, const double* gains, int32_t channel) override {
    Arrival a{time, amplitude, {}, channel};
    std::memcpy(a.gains, gains, sizeof a.gains);
    arrivals.push_back(a);
  }
  std::vector<Arrival> arrivals;
};

struct ProgressLog {
  std::vector<std::pair<int32_t, int32_t>> calls;
  uint8_t* abortFlag = nullptr;
  int32_t abortAt = -1;  // call index that sets the abort byte
};

void ZM_CALLBACK LogProgress(int32_t done, int32_t total, void* userData) {
  auto* log = static_cast<ProgressLog*>(userData);
  if (static_cast<int32_t>(log->calls.size()) == log->abortAt) *log->abortFlag = 1;
  log->calls.emplace_back(done, total);
}

// Builds the scene and a tracer for group 0, with every arrival observed.
struct Traced {
  explicit Traced(test::DesignBuilder& design, int32_t group = 0)
      : scene(design.Record()), tracer(scene, group) {
    tracer.Impulse->SetArrivalObserver(&observer);
  }
  bool Run(ProgressLog* log = nullptr) {
    if (log) log->abortFlag = &abort;
    return tracer.Run(&abort, log ? LogProgress : nullptr, log);
  }
  THydra scene;
  TTracer tracer;
  RecordingObserver observer;
  uint8_t abort = 0;
};

// An emitter at the origin facing a receiver 10 m away, nothing else.
test::DesignBuilder DirectDesign(int rays = 1024, double spread = 2 * kPi) {
  test::DesignBuilder design;
  design->AirAttenuation = 0.9995;
  design->DirectSoundLevel = 1;
  int m = design.AddMaterial("plain", 0.9);
  design.AddReceiver(10, -1, 10, 1, m);
  design.AddEmitter(0, 0, 0.0, rays, spread);
  return design;
}

TEST(Tracer, DirectSoundOfTheWorkedExample) {
  auto design = DirectDesign();
  Traced t(design);
  ASSERT_TRUE(t.Run());
  // Rays within atan(0.1) of the axis meet the receiver: about 32 of 1024.
  ASSERT_GE(t.observer.arrivals.size(), 30u);
  ASSERT_LE(t.observer.arrivals.size(), 34u);
  const double expected = std::pow(0.9995, 10.0) * std::pow(10.0, -1.35);
  for (const Arrival& a : t.observer.arrivals) {
    EXPECT_EQ(a.time, 10.0 / 344.0);
    EXPECT_NEAR(a.amplitude, expected, 1e-12);
    EXPECT_NEAR(a.amplitude, 0.0444455, 5e-8);
    for (double g : a.gains) EXPECT_EQ(g, 1.0);
    EXPECT_EQ(a.channel, 0);
  }
  EXPECT_EQ(t.tracer.Impulse->FirstDirectTime, 10.0 / 344.0);
  EXPECT_EQ(t.tracer.Impulse->FirstReflectionTime, kNoArrivalTime);

  // Without direct sound nothing is recorded, but the time is still marked.
  design->DirectSoundLevel = 0;
  Traced silent(design);
  ASSERT_TRUE(silent.Run());
  EXPECT_TRUE(silent.observer.arrivals.empty());
  EXPECT_EQ(silent.tracer.Impulse->FirstDirectTime, 10.0 / 344.0);
}

TEST(Tracer, DirectivityFollowsTheSideOfArrival) {
  struct Case {
    int pattern;
    bool reversed;  // receiver drawn from top to bottom
    double factor;
  };
  // The ray travels along +x. A receiver from (10,-1) to (10,1) has angle
  // pi/2, so the ray arrives from its left side (sine -1); reversed, from
  // its right side (sine +1).
  for (Case c :
       {Case{2, false, 0.0}, Case{4, false, -1.0}, Case{4, true, 1.0}, Case{1, false, 0.5}}) {
    test::DesignBuilder design;
    int m = design.AddMaterial("plain", 0.9);
    int r =
        c.reversed ? design.AddReceiver(10, 1, 10, -1, m) : design.AddReceiver(10, -1, 10, 1, m);
    design.Wall(r).Pattern = c.pattern;
    design.AddEmitter(0, 0, 0.0, 1, 0.0);
    Traced t(design);
    ASSERT_TRUE(t.Run());
    ASSERT_EQ(t.observer.arrivals.size(), 1u);
    // One ray: normalisation 10^(0.15 * level) with level 1.
    EXPECT_NEAR(t.observer.arrivals[0].amplitude, std::pow(10.0, 0.15) * c.factor, 1e-12)
        << "pattern " << c.pattern;
  }
}

TEST(Tracer, SingleEvenlySpacedRayLeavesAlongTheDirection) {
  // A full-circle spread would otherwise give 0/0 for the ray's direction.
  auto design = DirectDesign(1, 2 * kPi);
  Traced t(design);
  ASSERT_TRUE(t.Run());
  ASSERT_EQ(t.observer.arrivals.size(), 1u);
  EXPECT_EQ(t.observer.arrivals[0].time, 10.0 / 344.0);
}

TEST(Tracer, ProgressBeforeEvery512thRayAndDefaultRayCounts) {
  for (auto [rays, expectedCalls] : {std::pair{1024, 2}, std::pair{1025, 3}}) {
    test::DesignBuilder design;
    design.AddEmitter(0, 0, 0, rays, 1.0);
    int negative = design.AddEmitter(1, 1, 0, -50, 1.0);
    int other = design.AddEmitter(2, 2, 0, 7, 1.0, 3);
    design.Emitter(other).UseDefaultRayCount = 1;
    design->DefaultRayCount = 99;
    (void)negative;
    Traced t(design);
    ProgressLog log;
    ASSERT_TRUE(t.Run(&log));
    ASSERT_EQ(static_cast<int>(log.calls.size()), expectedCalls);
    for (int i = 0; i < expectedCalls; ++i) {
      EXPECT_EQ(log.calls[i].first, 512 * i);
      EXPECT_EQ(log.calls[i].second, rays);  // the negative count adds nothing
    }
    // Replaced even though its group is not traced.
    EXPECT_EQ(t.scene.Emitters[2]->RayCount, 99);
  }
}

TEST(Tracer, AbortInTheFirstProgressCallTracesNothing) {
  auto design = DirectDesign();
  Traced t(design);
  ProgressLog log;
  log.abortAt = 0;
  EXPECT_FALSE(t.Run(&log));
  EXPECT_EQ(log.calls.size(), 1u);
  EXPECT_TRUE(t.observer.arrivals.empty());

  // Without a callback the byte is still read at the same points.
  Traced quiet(design);
  quiet.abort = 1;
  EXPECT_FALSE(quiet.tracer.Run(&quiet.abort, nullptr, nullptr));
  EXPECT_TRUE(quiet.observer.arrivals.empty());
}

TEST(Tracer, PassThroughWallAttenuatesWithoutReflecting) {
  auto build = [](bool withScreen) {
    test::DesignBuilder design;
    int plain = design.AddMaterial("plain", 0.9);
    int screen = design.AddMaterial("screen", 0.5, 0.0, 0.8);
    if (withScreen) {
      int w = design.AddWall(5, -1, 5, 1, screen);
      design.Wall(w).PassThrough = 1;
    }
    design.AddReceiver(10, -1, 10, 1, plain);
    design.AddEmitter(0, 0, 0.0, 1, 0.0);
    return design;
  };
  auto plainDesign = build(false);
  auto screenDesign = build(true);
  Traced open(plainDesign);
  Traced screened(screenDesign);
  ASSERT_TRUE(open.Run());
  ASSERT_TRUE(screened.Run());
  ASSERT_EQ(open.observer.arrivals.size(), 1u);
  ASSERT_EQ(screened.observer.arrivals.size(), 1u);
  const Arrival& a = screened.observer.arrivals[0];
  // Still direct sound (no reflection counted), same path length, half the
  // amplitude, and the screen's band factors in the gains.
  EXPECT_EQ(screened.tracer.Impulse->FirstReflectionTime, kNoArrivalTime);
  EXPECT_DOUBLE_EQ(a.time, 10.0 / 344.0);
  EXPECT_DOUBLE_EQ(a.amplitude, 0.5 * open.observer.arrivals[0].amplitude);
  for (double g : a.gains) EXPECT_DOUBLE_EQ(g, 0.8);
}

TEST(Tracer, ArrivalAtExactlyTheImpulseLengthIsNotRecorded) {
  auto design = DirectDesign(1, 0.0);
  design->ImpulseLength = 10.0 / 344.0;
  Traced t(design);
  ASSERT_TRUE(t.Run());
  EXPECT_TRUE(t.observer.arrivals.empty());
  EXPECT_EQ(t.tracer.Impulse->FirstDirectTime, kNoArrivalTime);

  design->ImpulseLength = std::nextafter(10.0 / 344.0, 1.0);
  Traced longer(design);
  ASSERT_TRUE(longer.Run());
  EXPECT_EQ(longer.observer.arrivals.size(), 1u);
}

// One ray bouncing along y = 0 between walls at x = 0 and x = 10 through a
// pass-through receiver at x = 5: it meets the receiver with 0, 1, 2, 3, ...
// reflections behind it.
test::DesignBuilder BouncingDesign(int subArrivals) {
  test::DesignBuilder design;
  design->SubArrivals = subArrivals;
  design->ImpulseLength = 0.2;
  design->MinAmplitude = 0.0;
  int wall = design.AddMaterial("wall", 0.9, 0.0, 0.5);
  int open = design.AddMaterial("open", 1.0);
  design.AddWall(0, -5, 0, 5, wall);
  design.AddWall(10, -5, 10, 5, wall);
  int r = design.AddReceiver(5, -5, 5, 5, open);
  design.Wall(r).PassThrough = 1;
  design.AddEmitter(2, 0, 0.0, 1, 0.0);
  return design;
}

TEST(Tracer, DiffuseArrivalsOnlyFromTheThirdReflectionOn) {
  const int n = 3;
  auto design = BouncingDesign(n);
  Traced t(design);
  ASSERT_TRUE(t.Run());
  const auto& arrivals = t.observer.arrivals;
  // Receiver passes at 3, 13, 23, 33, ... m; 0.2 s is 68.8 m: seven passes.
  // The first three (0, 1, 2 reflections) are single, the rest bring n more.
  ASSERT_EQ(arrivals.size(), 3u + 4u * (1 + n));
  EXPECT_NEAR(arrivals[0].time, 3.0 / 344.0, 1e-12);
  EXPECT_NEAR(arrivals[1].time, 13.0 / 344.0, 1e-12);
  EXPECT_NEAR(arrivals[2].time, 23.0 / 344.0, 1e-12);
  EXPECT_NEAR(arrivals[3].time, 33.0 / 344.0, 1e-12);
  for (int j = 0; j < n; ++j) {
    const Arrival& sub = arrivals[4 + j];
    const double f = (j + 0.5) / n;
    // Spread over the last segment (from the wall at 28 m to 33 m).
    EXPECT_NEAR(sub.time, (28.0 + 5.0 * f) / 344.0, 1e-12);
    EXPECT_NEAR(sub.amplitude, arrivals[3].amplitude * f * (j % 2 == 0 ? -1 : 1), 1e-15);
  }
}

TEST(Tracer, OneDiffuseArrivalSitsMidwayWithHalfAmplitudeAndFlippedSign) {
  auto design = BouncingDesign(1);
  Traced t(design);
  ASSERT_TRUE(t.Run());
  const auto& arrivals = t.observer.arrivals;
  ASSERT_EQ(arrivals.size(), 3u + 4u * 2u);
  const Arrival& main = arrivals[3];
  const Arrival& sub = arrivals[4];
  EXPECT_NEAR(sub.time, 30.5 / 344.0, 1e-12);
  EXPECT_NEAR(sub.amplitude, -0.5 * main.amplitude, 1e-15);
  // Band gains halfway between before (g) and after (g * 0.5) the last wall.
  for (int b = 0; b < 8; ++b) EXPECT_NEAR(sub.gains[b], 1.5 * main.gains[b], 1e-15);
}

TEST(Tracer, SameDesignGivesBitIdenticalChannels) {
  auto build = [] {
    test::DesignBuilder design;
    design->RandomSeed = 123456;
    design->SubArrivals = 4;
    design->ImpulseLength = 0.3;
    int rough = design.AddMaterial("rough", 0.8, 0.7, 0.9);
    design.AddWall(-5, -4, 6, -4, rough);
    design.AddWall(6, -4, 6, 5, rough);
    design.AddWall(6, 5, -5, 5, rough);
    design.AddWall(-5, 5, -5, -4, rough);
    design.AddReceiver(3, -1, 3, 1, rough, 0);
    design.AddReceiver(-2, 2, -1, 3, rough, 1);
    int e = design.AddEmitter(0, 0, 0.3, 600, 2 * kPi);
    design.Emitter(e).RandomDirections = 1;
    return design;
  };
  auto first = build();
  auto second = build();
  Traced a(first);
  Traced b(second);
  ASSERT_TRUE(a.Run());
  ASSERT_TRUE(b.Run());
  ASSERT_GT(a.observer.arrivals.size(), 100u);
  const TImpulse& ia = *a.tracer.Impulse;
  const TImpulse& ib = *b.tracer.Impulse;
  ASSERT_EQ(ia.BufferSamples, ib.BufferSamples);
  EXPECT_EQ(ia.WrittenEnd, ib.WrittenEnd);
  EXPECT_EQ(0, std::memcmp(ia.ChannelStorage.get(), ib.ChannelStorage.get(),
                           sizeof(double) * 8 * static_cast<size_t>(ia.BufferSamples)));
}

TEST(Tracer, RayTrappedWhereWallMidpointsMeetEnds) {
  // Two lossless walls crossing at their common midpoint: a ray that reaches
  // the crossing meets one wall, then the other, at distance 0 to the
  // midpoint, again and again without its time advancing.
  test::DesignBuilder design;
  design->MinAmplitude = 0.0;
  int lossless = design.AddMaterial("lossless", 1.0);
  design.AddWall(-1, -1, 1, 1, lossless);
  int r = design.AddReceiver(-1, 1, 1, -1, lossless);
  (void)r;
  design.AddEmitter(-0.5, 0, 0.0, 1, 0.0);
  Traced t(design);
  ASSERT_TRUE(t.Run());
  // The receiver records each zero-length hit, a bounded number of times.
  EXPECT_GT(t.observer.arrivals.size(), 1000u);
  EXPECT_LE(t.observer.arrivals.size(), static_cast<size_t>(TTracer::kMaxStalledHits) + 2);
}

TEST(Tracer, PowerRuleFailuresAreInvalidOperations) {
  {
    // A negative air base fails at the first receiver hit.
    auto design = DirectDesign(1, 0.0);
    design.AddMaterial(ZM_AIR_MATERIAL_NAME, -0.5);
    Traced t(design);
    EXPECT_THROW(t.Run(), EInvalidOp);
  }
  {
    // Without the air material, a negative attenuation fails at once.
    auto design = DirectDesign(1, 0.0);
    design->AirAttenuation = -0.1;
    THydra scene(design.Record());
    EXPECT_THROW(TTracer(scene, 0), EInvalidOp);
  }
  {
    // All air factors 1: no attenuation at any distance.
    auto design = DirectDesign(1, 0.0);
    design->AirAttenuation = 0.5;  // ignored while the air material exists
    design.AddMaterial(ZM_AIR_MATERIAL_NAME, 1.0);
    Traced t(design);
    ASSERT_TRUE(t.Run());
    ASSERT_EQ(t.observer.arrivals.size(), 1u);
    EXPECT_DOUBLE_EQ(t.observer.arrivals[0].amplitude, std::pow(10.0, 0.15));
  }
}

TEST(Tracer, SeedsOutOfRangeAreRefused) {
  // The seed splits into mod and div 31000, both truncating toward zero.
  for (int32_t seed : {-1, 932542000}) {
    auto design = DirectDesign(1, 0.0);
    design->RandomSeed = seed;
    THydra scene(design.Record());
    EXPECT_THROW(TTracer(scene, 0), ERangeError) << seed;
  }
}

}  // namespace
}  // namespace zm
