#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "design_builder.h"
#include "process_wave.h"
#include "zm/zm.h"

namespace zm {
namespace {

namespace fs = std::filesystem;
using test::DesignBuilder;
using test::ParseWave;
using test::ReadBytes;
using test::WaveFile;

// The direct sound of one ray, with DirectSoundLevel 1: 10^0.15.
const double kDirectAmplitude = std::pow(10.0, 0.15);

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zm_process_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // One emitter at the origin firing one ray along +x into a receiver wall
  // whose midpoint is `distance` metres away; nothing else to reflect from.
  static DesignBuilder DirectDesign(double distance = 3.44, int channel = 0, int rays = 1) {
    DesignBuilder b;
    const int wall = b.AddMaterial("Wall", 0.9);
    b.AddReceiver(distance, -10.0, distance, 10.0, wall, channel);
    b.AddEmitter(0.0, 0.0, 0.0, rays, 0.0);
    return b;
  }

  TErrorRecord Process(const DesignBuilder& b, const std::string& path, int32_t group = 0,
                       TProgressCallback progress = nullptr, void* userData = nullptr) {
    TErrorRecord error;
    std::memset(&error, 0x55, sizeof error);
    uint8_t abortFlag = 1;  // the job must clear it first
    ZM_process(&b.Record(), path.c_str(), &error, &abortFlag, progress, userData, group);
    return error;
  }

  static std::string Message(const TErrorRecord& error) {
    return std::string(error.Message, strnlen(error.Message, sizeof error.Message));
  }

  fs::path dir_;
};

TEST_F(ProcessTest, DirectArrivalLandsOnTheFirstFrameWithItsAmplitude) {
  DesignBuilder b = DirectDesign();
  b->TrimToDirect = 1;
  b->GainMode = 1;  // fixed gain 10^0 over one ray of level 1: unity
  ASSERT_EQ(Process(b, Path("d.wav")).Failed, 0);
  const WaveFile w = ParseWave(Path("d.wav"));
  ASSERT_TRUE(w.valid);
  EXPECT_EQ(w.formatTag, 3);
  EXPECT_EQ(w.channels, 2);
  EXPECT_EQ(w.bits, 32);
  EXPECT_EQ(w.sampleRate, 44100u);
  // The arrival at 441 samples is centred on frame 0; its 32-tap tail
  // reaches 16 frames on, and one more is written.
  ASSERT_EQ(w.Frames(), 18u);
  EXPECT_NEAR(w.Float(0, 0), kDirectAmplitude, 1e-5);
  for (uint32_t m = 1; m < w.Frames(); ++m) EXPECT_NEAR(w.Float(m, 0), 0.0, 1e-4) << m;
  for (uint32_t m = 0; m < w.Frames(); ++m) EXPECT_EQ(w.Float(m, 1), 0.0f);
}

TEST_F(ProcessTest, LeadInPutsTheArrivalAtFrame512AndNoTrimKeepsTheTravelTime) {
  DesignBuilder b = DirectDesign();
  b->TrimToDirect = 1;
  b->GainMode = 1;
  b->LeadIn = 1;
  ASSERT_EQ(Process(b, Path("lead.wav")).Failed, 0);
  WaveFile w = ParseWave(Path("lead.wav"));
  ASSERT_EQ(w.Frames(), 18u + 512);
  EXPECT_NEAR(w.Float(512, 0), kDirectAmplitude, 1e-5);
  EXPECT_NEAR(w.Float(0, 0), 0.0, 1e-6);

  b->LeadIn = 0;
  b->TrimToDirect = 0;  // the direct sound is in the impulse: nothing is trimmed
  ASSERT_EQ(Process(b, Path("untrimmed.wav")).Failed, 0);
  w = ParseWave(Path("untrimmed.wav"));
  ASSERT_EQ(w.Frames(), 18u + 441);
  EXPECT_NEAR(w.Float(441, 0), kDirectAmplitude, 1e-5);
}

TEST_F(ProcessTest, NormalisedPeakIs0995OfFullScale) {
  DesignBuilder b = DirectDesign(5.0);  // not on a sample boundary: the shift is used
  b->TrimToDirect = 1;
  ASSERT_EQ(Process(b, Path("n.wav")).Failed, 0);
  const WaveFile w = ParseWave(Path("n.wav"));
  float peak = 0;
  for (uint32_t m = 0; m < w.Frames(); ++m)
    for (uint32_t c = 0; c < w.channels; ++c) peak = std::max(peak, std::fabs(w.Float(m, c)));
  EXPECT_FLOAT_EQ(peak, 0.995f);
  EXPECT_FLOAT_EQ(std::fabs(w.Float(0, 0)), 0.995f);
}

TEST_F(ProcessTest, ReceiverOnChannelFiveGivesSixChannels) {
  DesignBuilder b = DirectDesign(3.44, 5);
  b->TrimToDirect = 1;
  ASSERT_EQ(Process(b, Path("six.wav")).Failed, 0);
  const WaveFile w = ParseWave(Path("six.wav"));
  ASSERT_EQ(w.channels, 6);
  EXPECT_FLOAT_EQ(w.Float(0, 5), 0.995f);
  for (uint32_t m = 0; m < w.Frames(); ++m)
    for (uint32_t c = 0; c < 5; ++c) EXPECT_EQ(w.Float(m, c), 0.0f);
}

TEST_F(ProcessTest, TitleComesFromTheDesignTheGroupOrThePath) {
  DesignBuilder b = DirectDesign();
  b.GroupName(0, "Main").GroupName(3, "Balcony");
  ASSERT_EQ(Process(b, Path("untitled.wav"), 3).Failed, 0);  // a group without emitters
  EXPECT_EQ(ParseWave(Path("untitled.wav")).title, Path("untitled.wav"));
  ASSERT_EQ(Process(b, Path("untitled0.wav")).Failed, 0);
  EXPECT_EQ(ParseWave(Path("untitled0.wav")).title, Path("untitled0.wav"));

  b.Title("Hall");
  ASSERT_EQ(Process(b, Path("g0.wav"), 0).Failed, 0);
  EXPECT_EQ(ParseWave(Path("g0.wav")).title, "Hall");
  ASSERT_EQ(Process(b, Path("g3.wav"), 3).Failed, 0);
  const WaveFile w = ParseWave(Path("g3.wav"));
  EXPECT_EQ(w.title, "Hall - Balcony");
  EXPECT_EQ(w.Frames(), 1u);  // nothing traced: one silent frame
}

struct Calls {
  std::vector<std::pair<int32_t, int32_t>> seen;
  bool abortOnFirst = false;
  uint8_t* abortFlag = nullptr;
};
void ZM_CALLBACK Record(int32_t done, int32_t total, void* userData) {
  auto* calls = static_cast<Calls*>(userData);
  calls->seen.emplace_back(done, total);
}

TEST_F(ProcessTest, ProgressIsReportedBeforeEvery512thRay) {
  for (auto [rays, expected] :
       std::vector<std::pair<int, std::vector<int>>>{{1024, {0, 512}}, {1025, {0, 512, 1024}}}) {
    DesignBuilder b = DirectDesign(3.44, 0, rays);
    b->Emitters[0].Spread = 1.0;
    Calls calls;
    ASSERT_EQ(Process(b, Path("p.wav"), 0, Record, &calls).Failed, 0);
    ASSERT_EQ(calls.seen.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(calls.seen[i].first, expected[i]);
      EXPECT_EQ(calls.seen[i].second, rays);
    }
  }
}

void ZM_CALLBACK AbortAtOnce(int32_t, int32_t, void* userData) {
  *static_cast<uint8_t*>(userData) = 1;
}

TEST_F(ProcessTest, AbortWritesNothingReportsSuccessAndKeepsAnExistingFile) {
  const std::string path = Path("keep.wav");
  { std::ofstream(path, std::ios::binary) << "precious bytes"; }
  const DesignBuilder b = DirectDesign();
  TErrorRecord error;
  std::memset(&error, 0, sizeof error);
  std::strcpy(error.Message, "untouched");
  error.Failed = 1;
  uint8_t abortFlag = 0;
  ZM_process(&b.Record(), path.c_str(), &error, &abortFlag, AbortAtOnce, &abortFlag, 0);
  EXPECT_EQ(error.Failed, 0);
  EXPECT_STREQ(error.Message, "untouched");
  EXPECT_EQ(abortFlag, 1);
  const std::vector<uint8_t> kept = ReadBytes(path);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "precious bytes");
  ZM_process(&b.Record(), Path("none.wav").c_str(), &error, &abortFlag, AbortAtOnce, &abortFlag, 0);
  EXPECT_FALSE(fs::exists(Path("none.wav")));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ProcessTest, FloatRendersRepeatExactlyWhileIntegerDitherDiffers) {
  DesignBuilder b = DirectDesign(4.0, 0, 200);
  b.Title("Same");  // else each file is titled with its own path
  b->Emitters[0].Spread = 0.5;
  b->TrimToDirect = 1;
  ASSERT_EQ(Process(b, Path("f1.wav")).Failed, 0);
  ASSERT_EQ(Process(b, Path("f2.wav")).Failed, 0);
  EXPECT_EQ(ReadBytes(Path("f1.wav")), ReadBytes(Path("f2.wav")));

  b->BitsPerSample = 16;
  ASSERT_EQ(Process(b, Path("i1.wav")).Failed, 0);
  ASSERT_EQ(Process(b, Path("i2.wav")).Failed, 0);
  const WaveFile w1 = ParseWave(Path("i1.wav")), w2 = ParseWave(Path("i2.wav"));
  ASSERT_EQ(w1.data.size(), w2.data.size());
  EXPECT_NE(w1.data, w2.data);
  // Only by the dither: at most two steps apart (1.4 steps of noise each way,
  // rounded), and the silent right channel only by -1, 0 or +1.
  for (uint32_t m = 0; m < w1.Frames(); ++m) {
    EXPECT_LE(std::abs(w1.Int16(m, 0) - w2.Int16(m, 0)), 2);
    EXPECT_LE(std::abs(w1.Int16(m, 1)), 1);
  }
  // 0.995 of full scale is 32604.16 steps; the dither moves it by 1.4 at most.
  EXPECT_GE(w1.Int16(0, 0), 32603);
  EXPECT_LE(w1.Int16(0, 0), 32605);
}

TEST_F(ProcessTest, RefusalsReachTheErrorRecordAndWriteNothing) {
  const std::string path = Path("old.wav");
  { std::ofstream(path, std::ios::binary) << "old"; }
  struct Case {
    const char* what;
    void (*change)(DesignBuilder&);
    int32_t group;
    const char* message;  // a part of the expected message
  };
  const Case cases[] = {
      {"bits 12", [](DesignBuilder& b) { b->BitsPerSample = 12; }, 0, "12"},
      {"channel 9", [](DesignBuilder& b) { b->Walls[0].Channel = 9; }, 0, "9"},
      {"filter 1", [](DesignBuilder& b) { b->FilterLength = 1; }, 0, "1"},
      {"group 64", [](DesignBuilder&) {}, 64, "Emitter group 64 is outside 0 to 63"},
      {"group -1", [](DesignBuilder&) {}, -1, "Emitter group -1 is outside 0 to 63"},
      {"zero fixed gain", [](DesignBuilder& b) { b->GainMode = 1, b->Emitters[0].Level = 0.0; }, 0,
       "Fixed gain needs emitters with a nonzero level and ray count"},
  };
  for (const Case& c : cases) {
    DesignBuilder b = DirectDesign();
    c.change(b);
    const TErrorRecord error = Process(b, path, c.group);
    EXPECT_EQ(error.Failed, 1) << c.what;
    EXPECT_NE(Message(error).find(c.message), std::string::npos)
        << c.what << ": " << Message(error);
    const std::vector<uint8_t> kept = ReadBytes(path);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "old") << c.what;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << c.what;
  }
}

TEST_F(ProcessTest, SuccessfulRenderReplacesAnExistingFile) {
  const std::string path = Path("replace.wav");
  { std::ofstream(path, std::ios::binary) << std::string(100000, 'x'); }
  ASSERT_EQ(Process(DirectDesign(), path).Failed, 0);
  EXPECT_TRUE(ParseWave(path).valid);
}

TEST_F(ProcessTest, ArrivalInTheLastSampleWithOddFilterLengthStaysInsideTheBuffers) {
  // Three taps (H = 1) and a direct arrival in the last kept sample: its
  // start is LengthSamples - 1 and its tail ends two samples past the range.
  DesignBuilder b = DirectDesign(344.0 * 445.2 / 44100.0);
  b->ImpulseLength = 0.0101;  // LengthSamples 446
  b->FilterLength = 3;
  b->TrimToDirect = 1;
  ASSERT_EQ(Process(b, Path("edge.wav")).Failed, 0);
  const WaveFile w = ParseWave(Path("edge.wav"));
  ASSERT_TRUE(w.valid);
  ASSERT_EQ(w.Frames(), 4u);  // samples 445 .. WrittenEnd 448
  // An odd filter length centres an arrival one sample after its time.
  EXPECT_FLOAT_EQ(w.Float(1, 0), 0.995f);
}

TEST_F(ProcessTest, TrimPointBeyondTheWrittenSamplesGivesAnEmptyDataChunk) {
  // With the lead-in, an arrival in the last 512 samples of the range is
  // dropped, but it still sets the time that the output is trimmed to.
  DesignBuilder b = DirectDesign(344.0 * 0.019);
  b->ImpulseLength = 0.02;
  b->LeadIn = 1;
  b->TrimToDirect = 1;
  ASSERT_EQ(Process(b, Path("empty.wav")).Failed, 0);
  const WaveFile w = ParseWave(Path("empty.wav"));
  ASSERT_TRUE(w.valid);
  EXPECT_EQ(w.channels, 2);
  EXPECT_TRUE(w.data.empty());
}

}  // namespace
}  // namespace zm
