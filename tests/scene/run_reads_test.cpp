// Odd values where the run never reads them must not stop a render; the
// same values where it does read them are refused with the usual messages.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

#include "design_builder.h"
#include "scratch_folder.h"

namespace zm {
namespace {

using test::DesignBuilder;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A 4 m x 3 m box of material 0 with an air material (slot 1), a receiver
// on channel 0 that rays meet, material 2 ("Odd") used by no wall, emitter 0
// in group 0 with 64 rays all around and emitter 1 in group 1.
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
  b.Wall(b.AddReceiver(3, 1, 3, 2, brick, 0)).PassThrough = 1;
  b.AddEmitter(1, 1.5, 0, 64, 6.28);
  b.AddEmitter(2, 1.5, 0, 16, 1.0, 1);
  return b;
}

std::string MessageOfRender(const DesignBuilder& b, int32_t group) {
  TErrorRecord error{};
  uint8_t abortFlag = 0;
  ZM_process(&b.Record(), "mem:", &error, &abortFlag, nullptr, nullptr, group);
  return error.Failed ? test::MessageOf(error) : "";
}

using B = DesignBuilder;
struct Case {
  std::function<void(B&)> change;
  int32_t group;
  std::string message;  // empty: renders
};

TEST(RunReads, OnlyWhatTheRunReadsIsRefused) {
  const Case cases[] = {
      // A material no wall uses; one that only pass-through walls use does
      // not scatter; the air is read whether a wall uses it or not.
      {[](B& b) { b.Material(2).Reflection = kNaN, b.Material(2).BandFactors[4] = -kInf; }, 0, ""},
      {[](B& b) { b.Material(2).Reflection = kNaN, b.AddWall(2, 2, 2, 2.5, 2); }, 0,
       "Material 2: reflection is not a finite number"},
      {[](B& b) { b.Material(2).Scatter = kNaN, b.Wall(b.AddWall(2, 2, 2, 3, 2)).PassThrough = 1; },
       0, ""},
      {[](B& b) { b.Material(2).Scatter = kNaN, b.AddWall(2, 2, 2, 2.5, 2); }, 0,
       "Material 2: scatter is not a finite number"},
      {[](B& b) { b.Material(1).BandFactors[7] = kInf; }, 0,
       "Material 1: band factor 7 is not a finite number"},
      // The air attenuation is read only without an air material.
      {[](B& b) { b->AirAttenuation = kNaN; }, 0, ""},
      {[](B& b) { b->AirAttenuation = kNaN, b.Material(1).InUse = 0; }, 0,
       "Air attenuation is not a finite number"},
      // Balance and width only for exactly two output channels: a receiver
      // on channel 2 that rays meet makes three, one they never meet none.
      {[](B& b) {
         b.Wall(b.AddReceiver(1.5, 0.5, 1.5, 2.5, 0, 2)).PassThrough = 1;
         b->Balance = kNaN, b->StereoWidth = kInf;
       },
       0, ""},
      {[](B& b) { b->Balance = kNaN; }, 0, "Balance is not a finite number"},
      {[](B& b) { b.AddReceiver(10, 10, 10, 11, 0, 2), b->StereoWidth = -kInf; }, 0,
       "Stereo width is not a finite number"},
      // Direction and spread only of emitters that send rays in the group.
      {[](B& b) { b.Emitter(1).Direction = kNaN, b.Emitter(1).Spread = kInf; }, 0, ""},
      {[](B& b) { b.Emitter(1).Spread = kInf; }, 1, "Emitter 1: spread is not a finite number"},
      {[](B& b) {
         b.Emitter(1).Group = 0, b.Emitter(1).RayCount = 0, b.Emitter(1).Direction = kNaN;
       },
       0, ""},
      {[](B& b) { b.Emitter(0).Direction = -kInf; }, 0,
       "Emitter 0: direction is not a finite number"},
      // Levels and the fixed gain only in fixed-gain mode, for every group.
      {[](B& b) { b.Emitter(1).Level = kNaN, b->FixedGainDb = kNaN; }, 0, ""},
      {[](B& b) { b.Emitter(1).Level = kNaN, b->GainMode = 1; }, 0,
       "Emitter 1: level is not a finite number"},
  };
  ASSERT_EQ(MessageOfRender(BaseDesign(), 0), "");
  for (size_t i = 0; i < std::size(cases); ++i) {
    DesignBuilder b = BaseDesign();
    cases[i].change(b);
    EXPECT_EQ(MessageOfRender(b, cases[i].group), cases[i].message) << "case " << i;
  }
}

}  // namespace
}  // namespace zm
