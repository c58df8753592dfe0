// ZM_process end to end through the C ABI: where the direct sound lands in
// the file, titles, abort and refusals, that nothing is written unless the
// whole render succeeds, and finite samples from amplitudes that run away.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>
#if defined(__GLIBC__)
#include <pthread.h>
#endif

#include "design_builder.h"
#include "scratch_folder.h"
#include "wave_file.h"

namespace zm {
namespace {

using test::DesignBuilder;
using test::ReadBytes;
using test::WaveFile;

// The direct sound of one ray, with DirectSoundLevel 1: 10^0.15.
const double kDirectAmplitude = std::pow(10.0, 0.15);

class Process : public test::ScratchFolder {
 protected:
  // One emitter at the origin firing along +x into a receiver wall whose
  // midpoint is `distance` metres away; nothing else to reflect from.
  static DesignBuilder DirectDesign(double distance = 3.44, int channel = 0, int rays = 1) {
    DesignBuilder b;
    b.AddReceiver(distance, -10.0, distance, 10.0, b.AddMaterial("Wall", 0.9), channel);
    b.AddEmitter(0.0, 0.0, 0.0, rays, 0.0);
    b->TrimToDirect = 1;
    return b;
  }

  TErrorRecord Run(const DesignBuilder& b, const std::string& leaf, int32_t group = 0) {
    TErrorRecord error;
    std::memset(&error, 0x55, sizeof error);
    uint8_t abortFlag = 1;  // the job must clear it first
    ZM_process(&b.Record(), PathOf(leaf).c_str(), &error, &abortFlag, nullptr, nullptr, group);
    return error;
  }
  WaveFile Render(const DesignBuilder& b, int32_t group = 0) {
    const TErrorRecord error = Run(b, "out.wav", group);
    EXPECT_EQ(error.Failed, 0) << test::MessageOf(error);
    WaveFile w(PathOf("out.wav"));
    EXPECT_TRUE(w.valid);
    return w;
  }
};

TEST_F(Process, DirectArrivalLandsOnTheTrimmedFrame) {
  // The arrival at 441 samples; its 32-tap tail reaches 16 frames on, and
  // one more is written. Fixed gain 10^0 over one ray of level 1 is unity.
  const struct {
    int trim, leadIn, frames, peak;
  } cases[] = {{1, 0, 18, 0}, {1, 1, 18 + 512, 512}, {0, 0, 18 + 441, 441}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.peak);
    DesignBuilder b = DirectDesign();
    b->GainMode = 1;
    b->TrimToDirect = c.trim;
    b->LeadIn = static_cast<int16_t>(c.leadIn);
    const WaveFile w = Render(b);
    ASSERT_EQ(w.Frames(), static_cast<uint32_t>(c.frames));
    for (int m = 0; m < c.frames; ++m) {
      EXPECT_NEAR(w.Float(m, 0), m == c.peak ? kDirectAmplitude : 0.0, 1e-4) << m;
      EXPECT_EQ(w.Float(m, 1), 0.0f);
    }
  }
}

TEST_F(Process, TitleComesFromTheDesignTheGroupOrThePath) {
  DesignBuilder b = DirectDesign();
  b.GroupName(0, "Main").GroupName(3, "Balcony");
  EXPECT_EQ(Render(b, 3).title, PathOf("out.wav"));  // a group without emitters
  EXPECT_EQ(Render(b, 0).title, PathOf("out.wav"));
  b.Title("Hall");
  EXPECT_EQ(Render(b, 0).title, "Hall");
  const WaveFile w = Render(b, 3);
  EXPECT_EQ(w.title, "Hall - Balcony");
  EXPECT_EQ(w.Frames(), 1u);  // nothing traced: one silent frame, not 0/0
  EXPECT_EQ(w.Float(0, 0), 0.0f);
}

void ZM_CALLBACK AbortAtOnce(int32_t, int32_t, void* userData) {
  *static_cast<uint8_t*>(userData) = 1;
}

TEST_F(Process, AbortWritesNothingReportsSuccessAndKeepsAnExistingFile) {
  Put("keep.wav", "precious bytes");
  const DesignBuilder b = DirectDesign();
  TErrorRecord error;
  std::memset(&error, 0, sizeof error);
  std::strcpy(error.Message, "untouched");
  error.Failed = 1;
  uint8_t abortFlag = 0;
  for (const char* leaf : {"keep.wav", "none.wav"}) {
    ZM_process(&b.Record(), PathOf(leaf).c_str(), &error, &abortFlag, AbortAtOnce, &abortFlag, 0);
    EXPECT_EQ(error.Failed, 0);
    EXPECT_STREQ(error.Message, "untouched");
    EXPECT_EQ(abortFlag, 1);
  }
  EXPECT_EQ(Get("keep.wav"), "precious bytes");
  EXPECT_EQ(Listing(), std::set<std::string>{"keep.wav"});
}

#if defined(__GLIBC__)
// What an interpreter does to a thread that wants its lock while it shuts
// down: the thread ends inside the callback, unwound through the export.
void ZM_CALLBACK EndThisThread(int32_t, int32_t, void*) {
  pthread_exit(nullptr);
}

void* ProcessEndingInTheCallback(void* design) {
  TErrorRecord error{};
  uint8_t abortFlag = 0;
  ZM_process(static_cast<const TDesignRecord*>(design), "unused.wav", &error, &abortFlag,
             EndThisThread, nullptr, 0);
  return design;
}

TEST_F(Process, ThreadEndedInTheCallbackIsUnwoundThroughTheExport) {
  // Swallowed by the error frame, the unwind would abort the process; let
  // through, it releases the job's objects (the tracer's helper thread too).
  // The child runs afresh rather than forked: sanitizers keep threads of
  // their own.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Under qemu-user the child cannot start afresh: its exec finds no
  // interpreter for the foreign binary.
  if (std::getenv("ZM_TEST_EMULATED")) GTEST_SKIP() << "needs to start the program afresh";
  const DesignBuilder b = DirectDesign(3.44, 0, 1000);
  EXPECT_EXIT(
      {
        pthread_t thread;
        void* result = &thread;
        const void* design = &b.Record();
        if (pthread_create(&thread, nullptr, ProcessEndingInTheCallback,
                           const_cast<void*>(design)) == 0) {
          pthread_join(thread, &result);
        }
        std::exit(result == nullptr ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}
#endif

TEST_F(Process, RefusalsReachTheErrorRecordAndWriteNothing) {
  Put("out.wav", "old");
  const struct {
    void (*change)(DesignBuilder&);
    int32_t group;
    const char* message;
  } cases[] = {
      {[](DesignBuilder&) {}, 64, "Emitter group 64 is outside 0 to 63"},
      {[](DesignBuilder&) {}, -1, "Emitter group -1 is outside 0 to 63"},
      {[](DesignBuilder& b) { b->GainMode = 1, b->Emitters[0].Level = 0.0; }, 0,
       "Fixed gain needs emitters with a nonzero level and ray count"},
  };
  for (const auto& c : cases) {
    DesignBuilder b = DirectDesign();
    c.change(b);
    const TErrorRecord error = Run(b, "out.wav", c.group);
    EXPECT_EQ(error.Failed, 1);
    EXPECT_EQ(test::MessageOf(error), c.message);
    EXPECT_EQ(Get("out.wav"), "old");
    EXPECT_EQ(Listing(), std::set<std::string>{"out.wav"});
  }
}

TEST_F(Process, TrimPointBeyondTheWrittenSamplesGivesAnEmptyDataChunk) {
  // With the lead-in, an arrival in the last 512 samples of the range is
  // dropped, but it still sets the time that the output is trimmed to.
  DesignBuilder b = DirectDesign(344.0 * 0.019);
  b->ImpulseLength = 0.02;
  b->LeadIn = 1;
  const WaveFile w = Render(b);
  EXPECT_EQ(w.channels, 2);
  EXPECT_TRUE(w.data.empty());
}

// A lossless 7 m x 5 m box of scattering walls, with a pass-through
// receiver and sub-arrivals, whose amplitudes run away through its walls or
// its receiver.
DesignBuilder RunawayRoom(double reflection, double receiverGain) {
  DesignBuilder b;
  b->ImpulseLength = 0.3;
  b->MinAmplitude = 0.0;
  b->SubArrivals = 4;
  const int walls = b.AddMaterial("walls", reflection, 0.2);
  const double corners[5][2] = {{0, 0}, {7, 0}, {7, 5}, {0, 5}, {0, 0}};
  for (int i = 0; i < 4; ++i) {
    b.AddWall(corners[i][0], corners[i][1], corners[i + 1][0], corners[i + 1][1], walls);
  }
  const int receiver = b.AddReceiver(5, 2, 5, 3, b.AddMaterial("open", 1.0));
  b.Wall(receiver).PassThrough = 1;
  b.Wall(receiver).Gain = receiverGain;
  b.Emitter(b.AddEmitter(2, 2.5, 0.0, 400, 2 * std::numbers::pi)).RandomDirections = 1;
  return b;
}

// The largest magnitude in a 16-bit or float file, or infinity when any
// sample is not finite, so that a NaN fails every comparison with a level.
double Peak(const WaveFile& w) {
  double peak = 0;
  for (uint32_t m = 0; m < w.Frames(); ++m) {
    for (int c = 0; c < w.channels; ++c) {
      const double s = w.bits == 32 ? w.Float(m, c) : w.Int16(m, c);
      peak = std::isfinite(s) ? std::max(peak, std::fabs(s)) : HUGE_VAL;
    }
  }
  return peak;
}

TEST_F(Process, RunawayAmplitudesStillGiveFiniteSamples) {
  // 1.3 per hit overflows after some 2700 hits, which the rays of a box of
  // 7 by 5 cm make within the second; they end there.
  DesignBuilder amplifying = RunawayRoom(1.3, 1.0);
  amplifying->CoordinateScale = 0.01;
  amplifying->ImpulseLength = 1.0;
  EXPECT_NEAR(Peak(Render(amplifying)), 0.995, 1e-6);

  DesignBuilder loud = RunawayRoom(1.0, 1e300);
  EXPECT_NEAR(Peak(Render(loud)), 0.995, 1e-6);
  loud->BitsPerSample = 16;
  EXPECT_GT(Peak(Render(loud)), 32000);
  // A fixed gain keeps the level, far beyond the single range: clipped.
  loud->BitsPerSample = 32;
  loud->GainMode = 1;
  EXPECT_EQ(Peak(Render(loud)), std::numeric_limits<float>::max());
}

}  // namespace
}  // namespace zm
