// Fast mode against the exact path on designs where both must agree: the
// same rays and wall hits, the early arrivals on the same samples at the same
// level, and everything a host sees (refusals, progress, abort); and against
// itself: the same bytes for any thread count and SIMD path.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "design_builder.h"
#include "fast/fast_tracer.h"
#include "interface/fast_process.h"
#include "scene/hydra.h"
#include "scratch_folder.h"
#include "support/simd_path.h"
#include "tracer/tracer.h"

namespace zm {
namespace {

constexpr double kPi = std::numbers::pi;

std::vector<double> Samples(const TImpulse& impulse, int channel) {
  const double* c = impulse.Channel(channel);
  return std::vector<double>(c, c + impulse.WrittenEnd + 1);
}

// What a run leaves in the impulse, as numbers to compare bit for bit.
std::vector<double> TraceFast(const test::DesignBuilder& design, const fast::TRoomHeight* height,
                              int32_t threads) {
  THydra scene(design.Record());
  fast::TFastTracer tracer(scene, 0, height);
  tracer.Threads = threads;
  uint8_t abort = 0;
  EXPECT_TRUE(tracer.Run(&abort, nullptr, nullptr));
  const TImpulse& impulse = *tracer.Impulse;
  std::vector<double> result;
  for (int c = 0; c < kImpulseChannels; ++c) {
    const std::vector<double> samples = Samples(impulse, c);
    result.insert(result.end(), samples.begin(), samples.end());
    result.push_back(impulse.ChannelUsed[c]);
  }
  result.push_back(impulse.FirstDirectTime);
  result.push_back(impulse.FirstReflectionTime);
  result.push_back(static_cast<double>(tracer.WallHits + tracer.SurfaceHits));
  return result;
}

// A star of 40 walls with scatter, air from an air material, receivers on
// three channels (two passed through, one cardioid), sub-arrivals, lead-in
// and an odd filter length; 2600 rays make several blocks for every share.
test::DesignBuilder StarDesign() {
  test::DesignBuilder design;
  design->ImpulseLength = 0.3;
  design->SubArrivals = 4;
  design->FilterLength = 33;
  design->LeadIn = 1;
  design.AddMaterial(ZM_AIR_MATERIAL_NAME, 0.98, 0.0, 0.95);
  const int wall = design.AddMaterial("wall", 0.8, 0.3, 0.9);
  const int open = design.AddMaterial("open", 1.0);
  constexpr int kCorners = 40;
  auto corner = [](int k) {
    const double a = 2 * kPi * (k % kCorners) / kCorners;
    const double r = 6.0 * (1.0 + 0.3 * std::sin(4 * a));
    return std::pair{r * std::cos(a), r * std::sin(a)};
  };
  for (int i = 0; i < kCorners; ++i) {
    design.AddWall(corner(i).first, corner(i).second, corner(i + 1).first, corner(i + 1).second,
                   wall);
  }
  design.Wall(design.AddReceiver(2, -0.5, 2, 0.5, open, 0)).PassThrough = 1;
  design.Wall(design.AddReceiver(-2, -0.5, -2, 0.5, open, 1)).PassThrough = 1;
  design.Wall(design.AddReceiver(-0.5, 2, 0.5, 2.5, wall, 3)).Pattern = 2;
  design.Emitter(design.AddEmitter(0.5, 0.3, 0.0, 2600, 2 * kPi)).RandomDirections = 1;
  return design;
}

fast::TRoomHeight Office(double height) {
  fast::TRoomHeight room;
  room.Height = height;
  room.Reflection[0] = 0.87;
  room.Reflection[1] = 0.55;
  for (int b = 0; b < kBandCount; ++b) {
    room.BandFactors[0][b] = 1.0 - 0.02 * b;
    room.BandFactors[1][b] = 0.9;
  }
  room.ScatterProbability[0] = 0.2;
  room.ScatterProbability[1] = 0.5;
  return room;
}

TEST(FastMode, SameBytesForAnyThreadCountAndSimdPath) {
  const test::DesignBuilder design = StarDesign();
  const fast::TRoomHeight room = Office(2.7);
  for (const fast::TRoomHeight* height : {static_cast<const fast::TRoomHeight*>(nullptr), &room}) {
    ASSERT_TRUE(ForceSimdPath(TSimdPath::Portable));
    const std::vector<double> reference = TraceFast(design, height, 1);
    for (TSimdPath path : kSimdPaths) {
      if (!SimdPathAvailable(path)) continue;
      ASSERT_TRUE(ForceSimdPath(path));
      for (int32_t threads : {1, 2, 4}) {
        EXPECT_TRUE(TraceFast(design, height, threads) == reference)
            << (height ? "with height, " : "plan, ") << SimdPathName(path) << ", " << threads
            << " threads";
      }
    }
  }
  ForceSimdPath(BestSimdPath());
}

// The hit step reflects eight rays at once; each lane must give the scalar
// reflection's bits on every path, over blurs from none to past grazing
// and turns in every quarter (the sine and cosine switch there), and a
// turn far past any integer, whose quarter is still taken alike.
TEST(FastMode, LaneReflectionsMatchTheScalarOneOnEveryPath) {
  fast::TRayStream draws(1, 2, 3);
  for (TSimdPath path : kSimdPaths) {
    if (!SimdPathAvailable(path)) continue;
    const fast::TLaneReflect reflect = fast::LaneReflectFor(path);
    for (double scatter : {0.0, 0.1, 0.3, 1.5, 3.0, 7.0, 1e30}) {
      for (int round = 0; round < 200; ++round) {
        fast::TLaneReflections lanes{};
        double dx[fast::kScanLanes], dy[fast::kScanLanes];
        for (int k = 0; k < fast::kScanLanes; ++k) {
          double wall[2];
          fast::SinCos(2 * kPi * draws.Next(), wall[1], wall[0]);
          fast::SinCos(2 * kPi * draws.Next(), lanes.DY[k], lanes.DX[k]);
          lanes.TX[k] = wall[0], lanes.TY[k] = wall[1];
          lanes.Scatter[k] = scatter;
          lanes.Draw[k] = draws.Next();
          dx[k] = lanes.DX[k], dy[k] = lanes.DY[k];
          fast::Reflect(dx[k], dy[k], wall[0], wall[1], scatter, lanes.Draw[k]);
        }
        reflect(lanes);
        for (int k = 0; k < fast::kScanLanes; ++k) {
          ASSERT_EQ(std::bit_cast<uint64_t>(lanes.DX[k]), std::bit_cast<uint64_t>(dx[k]))
              << SimdPathName(path) << ", scatter " << scatter;
          ASSERT_EQ(std::bit_cast<uint64_t>(lanes.DY[k]), std::bit_cast<uint64_t>(dy[k]))
              << SimdPathName(path) << ", scatter " << scatter;
        }
      }
    }
  }
}

// Energy of the samples within `half` of `at`, and where its peak lies.
struct Arrival {
  double energy = 0.0;
  int peak = -1;
};
Arrival ArrivalAt(const std::vector<double>& samples, double at, int half) {
  Arrival a;
  double largest = -1.0;
  for (int i = static_cast<int>(at) - half; i <= static_cast<int>(at) + half; ++i) {
    if (i < 0 || i >= static_cast<int>(samples.size())) continue;
    a.energy += samples[i] * samples[i];
    if (std::fabs(samples[i]) > largest) largest = std::fabs(samples[i]), a.peak = i;
  }
  return a;
}

// Two evenly spaced rays: one straight into an absorbing receiver, one off a
// wall whose bands fall with frequency and then into the receiver. Both
// paths trace these two rays alike, so the impulses must show the direct
// sound and the reflection on the same samples at the same level.
TEST(FastMode, DirectSoundAndReflectionLandWhereTheExactPathPutsThem) {
  test::DesignBuilder design;
  const int wall = design.AddMaterial("wall", 0.5, 0.0);
  for (int b = 0; b < kBandCount; ++b) design.Material(wall).BandFactors[b] = 1.0 - 0.1 * b;
  design.AddWall(-7, 2, 13, 2, wall);
  design.AddReceiver(6, -0.5, 6, 0.5, design.AddMaterial("absorber", 0.0));
  const double up = std::atan2(4.0, 6.0);
  design.AddEmitter(0, 0, up / 2, 2, up);

  THydra exactScene(design.Record());
  TTracer exact(exactScene, 0);
  uint8_t abort = 0;
  ASSERT_TRUE(exact.Run(&abort, nullptr, nullptr));
  THydra fastScene(design.Record());
  fast::TFastTracer fast(fastScene, 0, nullptr);
  ASSERT_TRUE(fast.Run(&abort, nullptr, nullptr));
  EXPECT_DOUBLE_EQ(fast.Impulse->FirstDirectTime, exact.Impulse->FirstDirectTime);
  EXPECT_DOUBLE_EQ(fast.Impulse->FirstReflectionTime, exact.Impulse->FirstReflectionTime);
  EXPECT_EQ(fast.Impulse->WrittenEnd, exact.Impulse->WrittenEnd);

  const std::vector<double> e = Samples(*exact.Impulse, 0), f = Samples(*fast.Impulse, 0);
  for (double time : {exact.Impulse->FirstDirectTime, exact.Impulse->FirstReflectionTime}) {
    const Arrival a = ArrivalAt(e, time * 44100, 40), b = ArrivalAt(f, time * 44100, 40);
    EXPECT_EQ(b.peak, a.peak) << time;
    const double db = 10 * std::log10(b.energy / a.energy);
    std::printf("[ level    ] arrival at %.6f s: %+.4f dB\n", time, db);
    EXPECT_NEAR(db, 0.0, 0.1) << time;
  }
}

// A rectangle with mirror walls and rays evenly spaced: deterministic
// geometry, so both paths must trace the same rays to the same number of
// wall hits under each of the stopping rules.
TEST(FastMode, SameRaysAndWallHitsAsTheExactRule) {
  struct Case {
    const char* rule;
    double minAmplitude, impulseLength, reflection;
  } cases[] = {{"too weak", 1e-3, 5.0, 0.8}, {"too late", 0.0, 0.4, 1.0}};
  for (const Case& c : cases) {
    test::DesignBuilder design;
    design->MinAmplitude = c.minAmplitude;
    design->ImpulseLength = c.impulseLength;
    const int wall = design.AddMaterial("wall", c.reflection, 0.0);
    const double corners[5][2] = {{0, 0}, {7.3, 0}, {7.3, 4.1}, {0, 4.1}, {0, 0}};
    for (int i = 0; i < 4; ++i) {
      design.AddWall(corners[i][0], corners[i][1], corners[i + 1][0], corners[i + 1][1], wall);
    }
    design.Wall(design.AddReceiver(5, 1, 5, 2, design.AddMaterial("open", 1.0))).PassThrough = 1;
    design.AddEmitter(1.3, 2.2, 0.1, 300, 2 * kPi - 0.01);
    // An opening in the wall lets some rays out: "no wall met" ends them.
    design.Wall(0).EndPoint = design.Point(6.0, 0);

    THydra exactScene(design.Record());
    TTracer exact(exactScene, 0);
    uint8_t abort = 0;
    ASSERT_TRUE(exact.Run(&abort, nullptr, nullptr));
    THydra fastScene(design.Record());
    fast::TFastTracer fast(fastScene, 0, nullptr);
    ASSERT_TRUE(fast.Run(&abort, nullptr, nullptr));
    EXPECT_EQ(fast.RayCount, 300) << c.rule;
    EXPECT_EQ(fast.WallHits, exact.SegmentCount) << c.rule;
    EXPECT_EQ(fast.SurfaceHits, 0) << c.rule;
  }
}

}  // namespace
}  // namespace zm

namespace zm {
namespace {

// What a host sees of one call: the error record, the progress calls, and
// whether a file was written.
struct Outcome {
  TErrorRecord error{};
  std::vector<int32_t> progress;
  bool wrote = false;

  bool operator==(const Outcome& o) const {
    return error.Failed == o.error.Failed &&
           std::memcmp(error.Message, o.error.Message, sizeof error.Message) == 0 &&
           progress == o.progress && wrote == o.wrote;
  }
};

struct Host {
  std::vector<int32_t>* calls;
  uint8_t* abortFlag;
  int32_t abortAt;  // the progress count at which the host asks to stop
};

void ZM_CALLBACK Progress(int32_t done, int32_t total, void* data) {
  Host& host = *static_cast<Host*>(data);
  host.calls->push_back(done);
  host.calls->push_back(total);
  if (done == host.abortAt) *host.abortFlag = 1;
}

class FastProcess : public test::ScratchFolder {
 protected:
  Outcome Call(bool fast, const TDesignRecord* design, const TFastHeight* height, int32_t group,
               int32_t abortAt = -1, bool nullOutput = false) {
    Outcome outcome;
    std::memset(&outcome.error, 0x55, sizeof outcome.error);
    const std::string file = PathOf(fast ? "fast.wav" : "exact.wav");
    std::remove(file.c_str());
    uint8_t abortFlag = 1;  // the job must clear it first
    Host host{&outcome.progress, &abortFlag, abortAt};
    const char* name = nullOutput ? nullptr : file.c_str();
    if (fast) {
      ProcessFast(design, height, name, &outcome.error, &abortFlag, Progress, &host, group);
    } else {
      ZM_process(design, name, &outcome.error, &abortFlag, Progress, &host, group);
    }
    outcome.wrote = std::filesystem::exists(file);
    return outcome;
  }
  void ExpectAlike(const TDesignRecord* design, int32_t group, int32_t abortAt = -1,
                   bool nullOutput = false) {
    const Outcome exact = Call(false, design, nullptr, group, abortAt, nullOutput);
    const Outcome fast = Call(true, design, nullptr, group, abortAt, nullOutput);
    EXPECT_TRUE(fast == exact) << "exact: " << test::MessageOf(exact.error)
                               << "; fast: " << test::MessageOf(fast.error);
  }
};

TEST_F(FastProcess, RefusesProgressesAndAbortsAsTheExactPath) {
  test::DesignBuilder design;
  const int wall = design.AddMaterial("wall", 0.7, 0.2);
  const double corners[5][2] = {{0, 0}, {5, 0}, {5, 4}, {0, 4}, {0, 0}};
  for (int i = 0; i < 4; ++i) {
    design.AddWall(corners[i][0], corners[i][1], corners[i + 1][0], corners[i + 1][1], wall);
  }
  design.AddReceiver(3, 1, 3, 2, design.AddMaterial("open", 1.0));
  design.AddEmitter(1, 1, 0, 1500, 2 * kPi);

  {
    SCOPED_TRACE("a whole run: progress at 0, 512 and 1024, then the file");
    ExpectAlike(&design.Record(), 0);
    EXPECT_EQ(Call(true, &design.Record(), nullptr, 0).progress,
              (std::vector<int32_t>{0, 1500, 512, 1500, 1024, 1500}));
  }
  for (int32_t at : {0, 1024}) {
    SCOPED_TRACE("the host stops at " + std::to_string(at) + ": no file, no failure");
    ExpectAlike(&design.Record(), 0, at);
  }
  {
    SCOPED_TRACE("null arguments and a group outside the slots");
    ExpectAlike(nullptr, 0);
    ExpectAlike(&design.Record(), 0, -1, true);
    ExpectAlike(&design.Record(), 64);
  }
  {
    SCOPED_TRACE("a seed the generator refuses, and a design the scene refuses");
    design->RandomSeed = -1;
    ExpectAlike(&design.Record(), 0);
    design->RandomSeed = 1;
    design.Material(wall).Reflection = std::nan("");
    ExpectAlike(&design.Record(), 0);
    design.Material(wall).Reflection = 0.7;
  }
  {
    SCOPED_TRACE("a height or floor that cannot be traced");
    TFastHeight height{};
    height.Height = 2.5;
    height.Floor.Reflection = 0.8;
    height.Ceiling.Reflection = 0.5;
    EXPECT_EQ(Call(true, &design.Record(), &height, 0).error.Failed, 0);
    height.Height = 0.0;
    EXPECT_EQ(test::MessageOf(Call(true, &design.Record(), &height, 0).error),
              "Room height is not a finite number above 0");
    height.Height = 2.5;
    height.Ceiling.BandFactors[3] = std::nan("");
    EXPECT_EQ(test::MessageOf(Call(true, &design.Record(), &height, 0).error),
              "Ceiling material: band factor 3 is not a finite number");
  }
}

}  // namespace
}  // namespace zm

namespace zm {
namespace {

// With a mirror floor and ceiling that lose nothing, the plan of every ray
// is the plan room's: the same walls in the same order, each met later by
// the ray's 1 / cos(elevation). Only rays too steep to reach their last
// walls before the impulse ends may meet fewer.
TEST(FastMode, LosslessMirrorFloorAndCeilingKeepThePlanRoom) {
  test::DesignBuilder design;
  design->MinAmplitude = 1e-2;
  design->ImpulseLength = 4.0;
  const int wall = design.AddMaterial("wall", 0.7, 0.0);
  const double corners[5][2] = {{0, 0}, {6, 0}, {6, 4}, {0, 4}, {0, 0}};
  for (int i = 0; i < 4; ++i) {
    design.AddWall(corners[i][0], corners[i][1], corners[i + 1][0], corners[i + 1][1], wall);
  }
  design.Wall(design.AddReceiver(4, 1, 4, 3, design.AddMaterial("open", 1.0))).PassThrough = 1;
  design.Emitter(design.AddEmitter(1, 2, 0, 400, 2 * kPi)).RandomDirections = 1;
  fast::TRoomHeight mirrors;
  mirrors.Height = 3.0;
  for (int s = 0; s < 2; ++s) {
    mirrors.Reflection[s] = 1.0;
    for (double& f : mirrors.BandFactors[s]) f = 1.0;
  }
  uint8_t abort = 0;
  THydra planScene(design.Record()), roomScene(design.Record());
  fast::TFastTracer plan(planScene, 0, nullptr), room(roomScene, 0, &mirrors);
  ASSERT_TRUE(plan.Run(&abort, nullptr, nullptr));
  ASSERT_TRUE(room.Run(&abort, nullptr, nullptr));
  EXPECT_LE(room.WallHits, plan.WallHits);
  EXPECT_GT(room.WallHits, plan.WallHits * 0.97);
  EXPECT_GT(room.SurfaceHits, room.WallHits / 2);
  // The direct sound is the plan's; the first reflection, off the floor or
  // ceiling now, comes after it.
  EXPECT_EQ(room.Impulse->FirstDirectTime, plan.Impulse->FirstDirectTime);
  EXPECT_GT(room.Impulse->FirstReflectionTime, room.Impulse->FirstDirectTime);
  EXPECT_LT(room.Impulse->FirstReflectionTime, plan.Impulse->FirstReflectionTime);
}

}  // namespace
}  // namespace zm

namespace zm {
namespace {

// One arrival with falling band gains, a quarter and a half sample off the
// grid: fast mode's shape against the exact path's filter, as spectra. The
// early interpolator follows it to 16 kHz; the late one to the top of the
// 4 kHz octave, where the rooms' bands end.
TEST(FastMode, SingleArrivalSpectrumFollowsTheExactFilter) {
  test::DesignBuilder design;
  design->ImpulseLength = 0.05;
  design.AddWall(0, 0, 1, 0, design.AddMaterial("wall"));
  THydra scene(design.Record());
  const double gains[kBandCount] = {1.0, 0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3};
  for (double fraction : {0.25, 0.5}) {
    const double time = (1000 + fraction) / 44100.0;
    TImpulse exact(scene);
    TPlacedArrival placed;
    ASSERT_TRUE(exact.Place(time, 1.0, gains, 0, placed));
    std::vector<double> taps(exact.TapsPerArrival());
    ASSERT_TRUE(exact.ComputeTaps(placed, taps.data()));
    exact.AddTaps(placed, taps.data(), placed.Start, placed.Start + exact.FilterTaps);
    for (const auto& [early, top] : {std::pair{true, 16000.0}, std::pair{false, 5657.0}}) {
      TImpulse impulse(scene, 1, false);
      fast::TBandShaper shaper(impulse);
      std::vector<fast::TBandStreams> shares(1);
      shaper.Add(shares[0], time, 1.0, gains, 0, early);
      shaper.Render(shares, impulse, 1);
      double worst = 0.0;
      for (double f = 100.0; f <= top; f += 100.0) {
        const double w = 2 * kPi * f / 44100.0;
        std::complex<double> a = 0.0, b = 0.0;
        for (int n = 960; n < 1040; ++n) {
          a += exact.Channel(0)[n] * std::polar(1.0, -w * n);
          b += impulse.Channel(0)[n] * std::polar(1.0, -w * n);
        }
        worst = std::max(worst, std::fabs(20 * std::log10(std::abs(b) / std::abs(a))));
      }
      EXPECT_LT(worst, 0.1) << fraction << (early ? " early" : " late");
    }
  }
}

}  // namespace
}  // namespace zm

namespace zm {
namespace {

void ZM_CALLBACK Started(int32_t, int32_t, void* flag) {
  static_cast<std::atomic<bool>*>(flag)->store(true);
}

// A ray in a tiny lossless box would run for minutes; the host's abort,
// set while it runs, is heard within the ray.
TEST(FastMode, AbortReachesAnEndlessRay) {
  test::DesignBuilder design;
  design->CoordinateScale = 1e-4;
  design->ImpulseLength = 300.0;
  design->MinAmplitude = 0.0;
  const int lossless = design.AddMaterial("lossless", 1.0);
  const double corners[5][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
  for (int i = 0; i < 4; ++i) {
    design.AddWall(corners[i][0], corners[i][1], corners[i + 1][0], corners[i + 1][1], lossless);
  }
  design.AddEmitter(0.3, 0.4, 0.7, 1, 0.0);
  THydra scene(design.Record());
  fast::TFastTracer tracer(scene, 0, nullptr);
  uint8_t abort = 0;
  std::atomic<bool> started{false};
  std::thread host([&] {
    while (!started.load()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::atomic_ref<uint8_t>(abort).store(1, std::memory_order_relaxed);
  });
  const auto begun = std::chrono::steady_clock::now();
  const bool finished = tracer.Run(&abort, Started, &started);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begun;
  host.join();
  EXPECT_FALSE(finished);
  EXPECT_LT(took.count(), 10.0);
}

}  // namespace
}  // namespace zm
