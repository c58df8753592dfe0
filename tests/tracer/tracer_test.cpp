// The tracer on small rooms, every arrival observed as handed to the
// impulse: the worked direct-sound example, directivity, progress and abort,
// pass-through walls, diffuse arrivals, trapped rays, rays kept in a closed
// room, air failures, and the order of random draws (the generator itself
// is checked against its published sequence apart).
#include "tracer/tracer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <vector>

#include "design_builder.h"
#include "scene/hydra.h"
#include "support/exception.h"
#include "support/random.h"

namespace zm {
namespace {

constexpr double kPi = std::numbers::pi;

struct Arrival {
  double time, amplitude, gains[8];
  int32_t channel;
};

using ProgressLog = std::vector<std::pair<int32_t, int32_t>>;

void ZM_CALLBACK LogProgress(int32_t done, int32_t total, void* userData) {
  static_cast<ProgressLog*>(userData)->emplace_back(done, total);
}

// The scene and a tracer for group 0, with every arrival observed.
struct Traced : TArrivalObserver {
  explicit Traced(test::DesignBuilder& design) : scene(design.Record()), tracer(scene, 0) {
    tracer.Impulse->SetArrivalObserver(this);
  }
  void OnArrival(double time, double amplitude, const double* gains, int32_t channel) override {
    arrivals.push_back({time, amplitude, {}, channel});
    std::memcpy(arrivals.back().gains, gains, sizeof arrivals.back().gains);
  }
  bool Run(ProgressLog* log = nullptr) {
    return tracer.Run(&abort, log ? LogProgress : nullptr, log);
  }
  THydra scene;
  TTracer tracer;
  std::vector<Arrival> arrivals;
  uint8_t abort = 0;
};

// An emitter at the origin facing a receiver 10 m away, nothing else.
test::DesignBuilder DirectDesign(int rays = 1024, double spread = 2 * kPi) {
  test::DesignBuilder design;
  design->AirAttenuation = 0.9995;
  design.AddReceiver(10, -1, 10, 1, design.AddMaterial("plain", 0.9));
  design.AddEmitter(0, 0, 0.0, rays, spread);
  return design;
}

TEST(Tracer, DirectSoundOfTheWorkedExample) {
  auto design = DirectDesign();
  Traced t(design);
  ASSERT_TRUE(t.Run());
  // Rays within atan(0.1) of the axis meet the receiver: about 32 of 1024.
  ASSERT_GE(t.arrivals.size(), 30u);
  ASSERT_LE(t.arrivals.size(), 34u);
  for (const Arrival& a : t.arrivals) {
    EXPECT_EQ(a.time, 10.0 / 344.0);
    EXPECT_NEAR(a.amplitude, std::pow(0.9995, 10.0) * std::pow(10.0, -1.35), 1e-12);
  }
  EXPECT_EQ(t.tracer.Impulse->FirstDirectTime, 10.0 / 344.0);
  // Without direct sound nothing is recorded, but the time is still marked.
  design->DirectSoundLevel = 0;
  Traced silent(design);
  ASSERT_TRUE(silent.Run());
  EXPECT_TRUE(silent.arrivals.empty());
  EXPECT_EQ(silent.tracer.Impulse->FirstDirectTime, 10.0 / 344.0);
}

TEST(Tracer, DirectivityFollowsTheSideOfArrival) {
  // The ray travels along +x. A receiver from (10,-1) to (10,1) has angle
  // pi/2, so the ray arrives from its left side (sine -1); reversed, from
  // its right side (sine +1). One ray: normalisation 10^(0.15 * level).
  // Pattern p weighs the sine by w = p / 4: the factor is (1 - w) + w * sine.
  for (auto [pattern, reversed, factor] : {std::tuple{2, false, 0.0},
                                           {4, false, -1.0},
                                           {4, true, 1.0},
                                           {1, false, 0.5},
                                           {3, false, -0.5}}) {
    test::DesignBuilder design;
    const int m = design.AddMaterial("plain", 0.9);
    const int r =
        reversed ? design.AddReceiver(10, 1, 10, -1, m) : design.AddReceiver(10, -1, 10, 1, m);
    design.Wall(r).Pattern = pattern;
    design.AddEmitter(0, 0, 0.0, 1, 0.0);
    Traced t(design);
    ASSERT_TRUE(t.Run());
    ASSERT_EQ(t.arrivals.size(), 1u);
    EXPECT_NEAR(t.arrivals[0].amplitude, std::pow(10.0, 0.15) * factor, 1e-12) << pattern;
  }
  // An evenly spaced emitter of one ray sends it along its direction.
  auto design = DirectDesign(1, 2 * kPi);
  Traced t(design);
  ASSERT_TRUE(t.Run());
  ASSERT_EQ(t.arrivals.size(), 1u);
}

TEST(Tracer, ProgressBeforeEvery512thRayAbortAndDefaultRayCounts) {
  for (auto [rays, expectedCalls] : {std::pair{1024, 2}, std::pair{1025, 3}}) {
    test::DesignBuilder design;
    design.AddEmitter(0, 0, 0, rays, 1.0);
    design.AddEmitter(1, 1, 0, -50, 1.0);  // adds nothing to the total
    design.Emitter(design.AddEmitter(2, 2, 0, 7, 1.0, 3)).UseDefaultRayCount = 1;
    design->DefaultRayCount = 99;
    Traced t(design);
    ProgressLog log;
    ASSERT_TRUE(t.Run(&log));
    ASSERT_EQ(static_cast<int>(log.size()), expectedCalls);
    for (int i = 0; i < expectedCalls; ++i) EXPECT_EQ(log[i], std::pair(512 * i, rays));
    EXPECT_EQ(t.scene.Emitters[2]->RayCount, 99);  // replaced though its group is not traced
  }
  // The abort byte is read before every 512th ray, with or without a callback.
  auto design = DirectDesign();
  Traced quiet(design);
  quiet.abort = 1;
  EXPECT_FALSE(quiet.Run());
  EXPECT_TRUE(quiet.arrivals.empty());
}

TEST(Tracer, PassThroughWallAttenuatesWithoutReflecting) {
  test::DesignBuilder design;
  const int plain = design.AddMaterial("plain", 0.9);
  design.AddReceiver(10, -1, 10, 1, plain);
  design.AddEmitter(0, 0, 0.0, 1, 0.0);
  Traced open(design);
  ASSERT_TRUE(open.Run());
  design.Wall(design.AddWall(5, -1, 5, 1, design.AddMaterial("screen", 0.5, 0.0, 0.8)))
      .PassThrough = 1;
  Traced screened(design);
  ASSERT_TRUE(screened.Run());
  ASSERT_EQ(open.arrivals.size(), 1u);
  ASSERT_EQ(screened.arrivals.size(), 1u);
  // Still direct sound, the same path, half the amplitude, the screen's band factors.
  const Arrival& a = screened.arrivals[0];
  EXPECT_EQ(screened.tracer.Impulse->FirstReflectionTime, kNoArrivalTime);
  EXPECT_DOUBLE_EQ(a.time, 10.0 / 344.0);
  EXPECT_DOUBLE_EQ(a.amplitude, 0.5 * open.arrivals[0].amplitude);
  EXPECT_EQ(std::vector<double>(a.gains, a.gains + 8), std::vector<double>(8, 0.8));
}

// One ray bouncing along y = 0 between walls at x = 0 and x = 10 through a
// pass-through receiver at x = 5: it passes the receiver at 3, 13, 23, ... m
// with 0, 1, 2, ... reflections behind it; 0.2 s is 68.8 m, seven passes.
// The first three are single; the rest bring n diffuse arrivals, spread over
// the last segment with alternating signs and blended band gains.
TEST(Tracer, DiffuseArrivalsFromTheThirdReflectionOn) {
  for (int n : {1, 3}) {
    test::DesignBuilder design;
    design->SubArrivals = n;
    design->ImpulseLength = 0.2;
    design->MinAmplitude = 0.0;
    const int wall = design.AddMaterial("wall", 0.9, 0.0, 0.5);
    design.AddWall(0, -5, 0, 5, wall);
    design.AddWall(10, -5, 10, 5, wall);
    design.Wall(design.AddReceiver(5, -5, 5, 5, design.AddMaterial("open", 1.0))).PassThrough = 1;
    design.AddEmitter(2, 0, 0.0, 1, 0.0);
    Traced t(design);
    ASSERT_TRUE(t.Run());
    const auto& arrivals = t.arrivals;
    ASSERT_EQ(arrivals.size(), 3u + 4u * (1 + n));
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(arrivals[k].time, (3.0 + 10 * k) / 344.0, 1e-12);
    for (int j = 0; j < n; ++j) {
      const Arrival& sub = arrivals[4 + j];
      const double f = (j + 0.5) / n;
      EXPECT_NEAR(sub.time, (28.0 + 5.0 * f) / 344.0, 1e-12);  // from the wall at 28 m to 33 m
      EXPECT_NEAR(sub.amplitude, arrivals[3].amplitude * f * (j % 2 == 0 ? -1 : 1), 1e-15);
      // Between the gains before (g) and after (g * 0.5) the last wall.
      for (int b = 0; b < 8; ++b) EXPECT_NEAR(sub.gains[b], (2 - f) * arrivals[3].gains[b], 1e-15);
    }
  }
}

TEST(Tracer, RayTrappedWhereWallMidpointsMeetEnds) {
  // Two lossless walls crossing at their common midpoint: a ray that reaches
  // the crossing meets one, then the other, at distance 0 to the midpoint,
  // again and again without its time advancing.
  test::DesignBuilder design;
  design->MinAmplitude = 0.0;
  const int lossless = design.AddMaterial("lossless", 1.0);
  design.AddWall(-1, -1, 1, 1, lossless);
  design.AddReceiver(-1, 1, 1, -1, lossless);
  design.AddEmitter(-0.5, 0, 0.0, 1, 0.0);
  Traced t(design);
  ASSERT_TRUE(t.Run());
  EXPECT_GT(t.arrivals.size(), 1000u);
  EXPECT_LE(t.arrivals.size(), static_cast<size_t>(TTracer::kMaxStalledHits) + 2);
}

// Rays stay inside a closed room however much its walls scatter: a
// pass-through receiver ring around the room hears every ray that escapes.
TEST(Tracer, NoRayEscapesAClosedRoomWhateverTheScatter) {
  const bool emulated = std::getenv("ZM_TEST_EMULATED") != nullptr;
  const std::vector<std::vector<double>> rooms = {
      {0, 0, 4, 0, 4, 3, 0, 3},
      // Nine corners: two point into the room, two are acute.
      {0, 0, 6, 0, 6, 2, 4, 2, 4, 3.5, 6.5, 5, 2, 6, 2.5, 3, 0, 3.2}};
  const std::vector<double> ring = {-50, -50, 50, -50, 50, 50, -50, 50};
  for (double scatter : {0.1, 1.0, 2 * kPi}) {
    int64_t reflections = 0;
    for (const auto& room : rooms) {
      test::DesignBuilder design;
      design->ImpulseLength = 5.0;
      const int wall = design.AddMaterial("scattering", 0.98, scatter);
      const int open = design.AddMaterial("open", 1.0);
      for (size_t i = 0, n = room.size(); i < n; i += 2) {
        design.AddWall(room[i], room[i + 1], room[(i + 2) % n], room[(i + 3) % n], wall);
      }
      for (size_t i = 0; i < 8; i += 2) {
        const int r =
            design.AddReceiver(ring[i], ring[i + 1], ring[(i + 2) % 8], ring[(i + 3) % 8], open, 1);
        design.Wall(r).PassThrough = 1;
      }
      design.AddEmitter(1, 1, 0.3, emulated ? 200 : 2000, 2 * kPi);
      Traced t(design);
      ASSERT_TRUE(t.Run());
      EXPECT_EQ(t.arrivals.size(), 0u) << room.size() / 2 << " walls, scatter " << scatter;
      reflections += t.tracer.SegmentCount;
    }
    EXPECT_TRUE(emulated || reflections >= 1000000) << reflections;
  }
}

TEST(Tracer, AirFailures) {
  auto design = DirectDesign(1, 0.0);
  design->AirAttenuation = -0.1;  // without the air material: fails at once
  EXPECT_THROW(TTracer(*std::make_unique<THydra>(design.Record()), 0), EInvalidOp);
  const int air = design.AddMaterial(ZM_AIR_MATERIAL_NAME, 1.0);  // all factors 1: no loss at all
  Traced lossless(design);
  ASSERT_TRUE(lossless.Run());
  ASSERT_EQ(lossless.arrivals.size(), 1u);
  EXPECT_DOUBLE_EQ(lossless.arrivals[0].amplitude, std::pow(10.0, 0.15));
  design.Material(air).Reflection = -0.5;  // a negative base fails at the first receiver hit
  Traced negative(design);
  EXPECT_THROW(negative.Run(), EInvalidOp);
}

// A 10 m square room around the emitter, each wall a figure-of-eight
// receiver on its own channel, reflecting half, with no scatter. A ray
// meets one wall (direct: |polarity| times the sine of its angle to the
// wall), reflects (one draw, whatever the scatter), meets a second wall
// (a reflection: its polarity, times a negative sine, inside a convex room)
// and reflects again (a second draw), and is then below MinAmplitude. So
// ray 1 takes draws 1 to 4 (direction, polarity, two reflections) and ray 2
// draws 5 and 6. The seed is one whose polarities would come out otherwise
// with a draw too many or too few, or direction and polarity swapped.
TEST(Tracer, RandomDrawsComeInTheirFixedOrder) {
  test::DesignBuilder design;
  design->RandomSeed = 123456798;  // seeds: mod and div 31000
  design->MinAmplitude = 0.3;
  const int half = design.AddMaterial("half", 0.5);
  const double corners[5][2] = {{-5, -5}, {5, -5}, {5, 5}, {-5, 5}, {-5, -5}};
  for (int w = 0; w < 4; ++w) {
    const int r = design.AddReceiver(corners[w][0], corners[w][1], corners[w + 1][0],
                                     corners[w + 1][1], half, w);
    design.Wall(r).Pattern = 4;
  }
  design.Emitter(design.AddEmitter(0, 0, 0.0, 2, 2 * kPi)).RandomDirections = 1;
  Traced t(design);
  ASSERT_TRUE(t.Run());
  ASSERT_EQ(t.arrivals.size(), 4u);  // per ray: direct, reflection

  TRandomNumberGenerator random(123456798 % 31000, 123456798 / 31000);
  for (int ray = 0; ray < 2; ++ray) {
    SCOPED_TRACE(ray);
    const double angle = (random.Next() - 0.5) * 2 * kPi;  // Direction 0
    const double polarity = random.Next() < 0.5 ? 1.0 : -1.0;
    // The wall in that direction: bottom, right, top or left, angle w * pi/2.
    const int wall = static_cast<int>(std::floor((angle + 2.75 * kPi) / (kPi / 2))) % 4;
    const Arrival& direct = t.arrivals[2 * ray];
    EXPECT_EQ(direct.channel, wall);
    EXPECT_NEAR(direct.amplitude, std::sin(angle - wall * kPi / 2),
                1e-12);  // normalisation 1 for 2 rays
    EXPECT_EQ(std::signbit(t.arrivals[2 * ray + 1].amplitude), polarity > 0);
    random.Next(), random.Next();  // the two reflections
  }
}

}  // namespace
}  // namespace zm
