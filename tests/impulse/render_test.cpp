#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "../interface/process_wave.h"
#include "design_builder.h"
#include "impulse/ditherer.h"
#include "impulse/impulse.h"
#include "scene/hydra.h"

namespace zm {
namespace {

namespace fs = std::filesystem;
using test::DesignBuilder;
using test::WaveFile;

const double kFlat[8] = {1, 1, 1, 1, 1, 1, 1, 1};
constexpr double kRate = 44100.0;

// Renders arrivals placed by hand, bypassing the tracer, into a float file
// at unity fixed gain (one emitter of level 1 and one ray) unless changed.
class RenderTest : public ::testing::Test {
 protected:
  RenderTest() {
    const int wall = b.AddMaterial("Wall");
    b.AddReceiver(1, -1, 1, 1, wall);
    b.AddEmitter(0, 0, 0, 1, 0);
    b->GainMode = 1;
    b->ImpulseLength = 0.01;
    path_ = (fs::temp_directory_path() /
             ("zm_render_" + std::to_string(getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".wav"))
                .string();
  }
  ~RenderTest() override { fs::remove(path_); }

  // Builds the scene and impulse; `place` adds arrivals and sets times.
  template <class Place>
  WaveFile Render(Place place) {
    THydra scene(b.Record());
    TImpulse impulse(scene);
    place(impulse);
    impulse.Render(path_, "t");
    return test::ParseWave(path_);
  }

  DesignBuilder b;
  std::string path_;
};

TEST_F(RenderTest, StereoMatrixWidthAndBalance) {
  struct Case {
    double width, balance, left, right;
  };
  for (const Case& c :
       {Case{1, 0, 1, 0.5}, Case{0, 0, 0.75, 0.75}, Case{-1, 0, 0.5, 1}, Case{1, 0.5, 0.5, 0.5},
        Case{1, -0.5, 1, 0.25}, Case{0.5, 0, 0.875, 0.625}}) {
    b->StereoWidth = c.width;
    b->Balance = c.balance;
    const WaveFile w = Render([](TImpulse& i) {
      i.AddArrival(100 / kRate, 1.0, kFlat, 0);
      i.AddArrival(100 / kRate, 0.5, kFlat, 1);
    });
    ASSERT_EQ(w.channels, 2);
    EXPECT_NEAR(w.Float(100, 0), c.left, 1e-6) << c.width << " " << c.balance;
    EXPECT_NEAR(w.Float(100, 1), c.right, 1e-6) << c.width << " " << c.balance;
  }
}

TEST_F(RenderTest, NoStereoMatrixForThreeChannels) {
  b->StereoWidth = -1;
  b->Balance = 0.5;
  const WaveFile w = Render([](TImpulse& i) {
    i.AddArrival(100 / kRate, 1.0, kFlat, 0);
    i.AddArrival(100 / kRate, 0.5, kFlat, 1);
    i.AddArrival(100 / kRate, 0.25, kFlat, 2);
  });
  ASSERT_EQ(w.channels, 3);
  EXPECT_NEAR(w.Float(100, 0), 1.0, 1e-6);
  EXPECT_NEAR(w.Float(100, 1), 0.5, 1e-6);
  EXPECT_NEAR(w.Float(100, 2), 0.25, 1e-6);
}

TEST_F(RenderTest, ReferenceIsTheFirstReflectionOnlyWithoutDirectSound) {
  // The first reflection at 200 samples, a direct arrival time at 50.
  auto place = [](TImpulse& i) {
    i.AddArrival(200 / kRate, 1.0, kFlat, 0);
    i.FirstReflectionTime = 200 / kRate;
    i.FirstDirectTime = 50 / kRate;
  };
  b->DirectSoundLevel = 0;
  b->TrimToDirect = 0;
  WaveFile w = Render(place);
  EXPECT_NEAR(w.Float(0, 0), 1.0, 1e-6);
  const uint32_t trimmedFrames = w.Frames();

  b->TrimToDirect = 1;  // trims to the direct time even though its sound is out
  w = Render(place);
  EXPECT_EQ(w.Frames(), trimmedFrames + 150);
  EXPECT_NEAR(w.Float(150, 0), 1.0, 1e-6);

  b->DirectSoundLevel = 1;
  b->TrimToDirect = 0;  // direct sound in the impulse and no trim asked: nothing
  w = Render(place);
  EXPECT_EQ(w.Frames(), trimmedFrames + 200);

  b->DirectSoundLevel = 0;
  b->TrimToDirect = 1;
  w = Render([](TImpulse& i) {  // no direct time recorded: falls back
    i.AddArrival(200 / kRate, 1.0, kFlat, 0);
    i.FirstReflectionTime = 200 / kRate;
  });
  EXPECT_EQ(w.Frames(), trimmedFrames);
}

TEST_F(RenderTest, FractionalTrimPutsTheReferenceOnFrameZero) {
  // A pulse trimmed to its own fractional time must come out as the same
  // pulse placed on a whole sample. Its band ends at 9 kHz (0.41 of the
  // Nyquist frequency), where the shift interpolates closely; what remains
  // (about 3e-6) is the filter table's linear step between its 1/512-sample
  // phases. Trimming the wrong way or by a sample more would differ by 0.05.
  b->DirectSoundLevel = 0;
  const double gains[8] = {1, 1, 1, 1, 1, 1, 0, 0};
  auto at = [&](double samples) {
    return Render([&](TImpulse& i) {
      i.AddArrival(samples / kRate, 1.0, gains, 0);
      i.FirstReflectionTime = samples / kRate;
    });
  };
  const WaveFile whole = at(200.0), fractional = at(200.375);
  ASSERT_EQ(whole.Frames(), fractional.Frames());
  for (uint32_t m = 0; m < 12; ++m) {
    EXPECT_NEAR(fractional.Float(m, 0), whole.Float(m, 0), 2e-5) << m;
  }
}

TEST_F(RenderTest, FixedGainDividesByEveryEmittersLevelTimesRays) {
  b->Emitters[0].RayCount = 10;
  const int other = b.AddEmitter(0, 0, 0, 10, 0, /*group=*/5);
  b->Emitters[other].Level = 3.0;
  b->FixedGainDb = -48.0 + 20.0;  // linear 10
  const WaveFile w = Render([](TImpulse& i) { i.AddArrival(100 / kRate, 1.0, kFlat, 0); });
  EXPECT_NEAR(w.Float(100, 0), 10.0 / 40.0, 1e-6);
}

TEST_F(RenderTest, NothingTracedGivesOneSilentFrame) {
  const WaveFile w = Render([](TImpulse&) {});
  ASSERT_TRUE(w.valid);
  EXPECT_EQ(w.channels, 2);
  EXPECT_EQ(w.Frames(), 1u);
  EXPECT_EQ(w.Float(0, 0), 0.0f);
}

TEST_F(RenderTest, UncreatableOutputThrowsAndLeavesNothing) {
  THydra scene(b.Record());
  TImpulse impulse(scene);
  impulse.AddArrival(100 / kRate, 1.0, kFlat, 0);
  const std::string bad = (fs::temp_directory_path() / "zm_no_such_dir" / "x.wav").string();
  EXPECT_THROW(impulse.Render(bad, "t"), Exception);
  EXPECT_FALSE(fs::exists(bad));
}

TEST(PeakOf, LargestMagnitudeWithAFloor) {
  const double x[4] = {0.25, -0.75, 0.5, 1e-20};
  EXPECT_EQ(PeakOf(x, 4), 0.75);
  EXPECT_EQ(PeakOf(x + 3, 1), 1e-15);
  EXPECT_EQ(PeakOf(nullptr, 0), 1e-15);
}

}  // namespace
}  // namespace zm
