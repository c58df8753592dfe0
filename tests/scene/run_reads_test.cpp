// Odd values where the run never reads them must not stop a render; the
// same values where it does read them are refused with the usual messages.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "design_builder.h"

namespace zm {
namespace {

using test::DesignBuilder;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A 4 m x 3 m box of material 0 with an air material (slot 1), a receiver
// on channel 0 that rays meet, material 2 ("Odd") used by no wall, and
// emitter 0 in group 0 with 64 rays all around.
DesignBuilder BaseDesign() {
  DesignBuilder b;
  b->ImpulseLength = 0.05;
  const int brick = b.AddMaterial("Brick", 0.5);
  b.AddMaterial(ZM_AIR_MATERIAL_NAME, 0.99);
  b.AddMaterial("Odd");
  b.AddWall(0, 0, 4, 0, brick);
  b.AddWall(4, 0, 4, 3, brick);
  b.AddWall(4, 3, 0, 3, brick);
  b.AddWall(0, 3, 0, 0, brick);
  const int mic = b.AddReceiver(3, 1, 3, 2, brick, 0);
  b.Wall(mic).PassThrough = 1;
  b.AddEmitter(1, 1.5, 0, 64, 6.28);
  return b;
}

// Emitter 1 in group 1, of which group 0 knows nothing.
int AddSecondGroup(DesignBuilder& b) {
  return b.AddEmitter(2, 1.5, 0, 16, 1.0, 1);
}

// Where a value is read: a receiver on channel 2 that rays meet makes the
// output three channels, so the stereo matrix is not applied.
void MakeThreeChannels(DesignBuilder& b) {
  const int mic = b.AddReceiver(1.5, 0.5, 1.5, 2.5, 0, 2);
  b.Wall(mic).PassThrough = 1;
}

std::string MessageOfRender(const DesignBuilder& b, int32_t group = 0) {
  TErrorRecord error;
  std::memset(&error, 0, sizeof error);
  uint8_t abortFlag = 0;
  ZM_process(&b.Record(), "mem:", &error, &abortFlag, nullptr, nullptr, group);
  if (error.Failed == 0) return "";
  return std::string(error.Message, strnlen(error.Message, sizeof error.Message));
}

struct Case {
  const char* what;
  std::function<void(DesignBuilder&)> change;
  int32_t group;
  std::string message;  // empty: renders
};

TEST(RunReads, OnlyWhatTheRunReadsIsRefused) {
  const Case cases[] = {
      {"material no wall uses",
       [](auto& b) {
         b.Material(2).Reflection = kNaN;
         b.Material(2).Scatter = kInf;
         b.Material(2).BandFactors[4] = -kInf;
       },
       0, ""},
      {"... once a wall uses it",
       [](auto& b) {
         b.Material(2).Reflection = kNaN;
         b.AddWall(2, 2, 2, 2.5, 2);
       },
       0, "Material 2: reflection is not a finite number"},
      {"scatter of a material only pass-through walls use",
       [](auto& b) {
         b.Material(2).Scatter = kNaN;
         b.Wall(b.AddWall(2, 2, 2, 2.5, 2)).PassThrough = 1;
       },
       0, ""},
      {"... once a wall reflects with it",
       [](auto& b) {
         b.Material(2).Scatter = kNaN;
         b.AddWall(2, 2, 2, 2.5, 2);
       },
       0, "Material 2: scatter is not a finite number"},
      {"the air is read whether or not a wall uses it",
       [](auto& b) { b.Material(1).BandFactors[7] = kInf; }, 0,
       "Material 1: band factor 7 is not a finite number"},
      {"air attenuation beside an air material", [](auto& b) { b->AirAttenuation = kNaN; }, 0, ""},
      {"... without one",
       [](auto& b) {
         b->AirAttenuation = kNaN;
         b.Material(1).InUse = 0;
       },
       0, "Air attenuation is not a finite number"},
      {"balance and width of three channels",
       [](auto& b) {
         MakeThreeChannels(b);
         b->Balance = kNaN;
         b->StereoWidth = kInf;
       },
       0, ""},
      {"... of two", [](auto& b) { b->Balance = kNaN; }, 0, "Balance is not a finite number"},
      {"... of two, a channel-2 receiver that no ray meets",
       [](auto& b) {
         b.AddReceiver(10, 10, 10, 11, 0, 2);
         b->StereoWidth = -kInf;
       },
       0, "Stereo width is not a finite number"},
      {"emitters of a group not traced",
       [](auto& b) {
         const int e = AddSecondGroup(b);
         b.Emitter(e).Direction = kNaN;
         b.Emitter(e).Spread = kInf;
       },
       0, ""},
      {"... when that group is traced", [](auto& b) { b.Emitter(AddSecondGroup(b)).Spread = kInf; },
       1, "Emitter 1: spread is not a finite number"},
      {"an emitter of the traced group without rays",
       [](auto& b) {
         const int e = AddSecondGroup(b);
         b.Emitter(e).Group = 0;
         b.Emitter(e).RayCount = 0;
         b.Emitter(e).Direction = kNaN;
       },
       0, ""},
      {"... with rays", [](auto& b) { b.Emitter(0).Direction = -kInf; }, 0,
       "Emitter 0: direction is not a finite number"},
      {"levels and fixed gain while the output is normalised",
       [](auto& b) {
         b.Emitter(AddSecondGroup(b)).Level = kNaN;
         b->FixedGainDb = kNaN;
       },
       0, ""},
      {"... in fixed-gain mode, of every group",
       [](auto& b) {
         b.Emitter(AddSecondGroup(b)).Level = kNaN;
         b->GainMode = 1;
       },
       0, "Emitter 1: level is not a finite number"},
  };
  ASSERT_EQ(MessageOfRender(BaseDesign()), "");
  for (const Case& c : cases) {
    DesignBuilder b = BaseDesign();
    c.change(b);
    EXPECT_EQ(MessageOfRender(b, c.group), c.message) << c.what;
  }
}

}  // namespace
}  // namespace zm
