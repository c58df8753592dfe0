// Designs the scene refuses before any work, each with its message, and the
// odd but harmless ones it must keep accepting.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

#include "design_builder.h"
#include "scene/design_checks.h"
#include "scene/hydra.h"

namespace zm {
namespace {

using B = test::DesignBuilder;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Material 0 "Brick", material 1 the air; wall 0 plain (points 0, 1),
// wall 1 a receiver on channel 1 (points 2, 3); emitter 0 at point 4.
B ValidDesign() {
  B b;
  const int brick = b.AddMaterial("Brick");
  b.AddMaterial(ZM_AIR_MATERIAL_NAME, 0.99);
  b.AddWall(0, 0, 10, 0, brick);
  b.AddReceiver(5, -1, 5, 1, brick, 1);
  b.AddEmitter(1, 1, 0, 100, 1.0);
  return b;
}

TEST(DesignChecks, RefusalsWithTheirMessages) {
  const int32_t maxSamples = 16777216 - 3 * 16 - 514;  // 1 GiB of channels at 32 taps
  const std::string tooLong =
      "Impulse length gives more than " + std::to_string(maxSamples) + " samples at ";
  const std::pair<std::function<void(B&)>, std::string> cases[] = {
      // Indices outside the record, checked before the slots they point at are read.
      {[](B& b) { b.Wall(0).StartPoint = 200; }, "Wall 0: start point 200 is outside 0 to 199"},
      {[](B& b) { b.Wall(1).StartPoint = -1; }, "Wall 1: start point -1 is outside 0 to 199"},
      {[](B& b) { b.Wall(0).EndPoint = 5000; }, "Wall 0: end point 5000 is outside 0 to 199"},
      {[](B& b) { b.Wall(0).Material = 20; }, "Wall 0: material 20 is outside 0 to 19"},
      {[](B& b) { b.Wall(1).Material = -7; }, "Wall 1: material -7 is outside 0 to 19"},
      {[](B& b) { b.Emitter(0).Point = 200; }, "Emitter 0: point 200 is outside 0 to 199"},
      {[](B& b) { b.Wall(1).Channel = 8; }, "Wall 1: channel 8 is outside 0 to 7"},
      {[](B& b) { b.Wall(1).Channel = -1; }, "Wall 1: channel -1 is outside 0 to 7"},
      // Numbers that are not finite, or would not stay so (materials, levels
      // and the air are refused only where the run reads them: see RunReads).
      {[](B& b) { b.PointEntry(3).Y = kNaN; }, "Point 3: coordinates are not finite numbers"},
      {[](B& b) { b.PointEntry(4).X = -kInf; }, "Point 4: coordinates are not finite numbers"},
      {[](B& b) { b->CoordinateScale = kNaN; }, "Coordinate scale is not a finite number"},
      {[](B& b) { b->CoordinateScale = 1e300, b.PointEntry(1).X = 1e10; },
       "Point 1: coordinates times the coordinate scale are out of range"},
      {[](B& b) { b.PointEntry(0).X = -1e200, b.PointEntry(1).X = 1e200; },
       "Wall 0: end points are too far apart"},
      {[](B& b) { b.Wall(1).Gain = kNaN; }, "Wall 1: gain is not a finite number"},
      {[](B& b) { b->ImpulseLength = kNaN; }, "Impulse length is not a finite number"},
      {[](B& b) { b->MinAmplitude = kNaN; }, "Minimum amplitude is not a finite number"},
      {[](B& b) { b->GainMode = 1, b->FixedGainDb = kNaN; }, "Fixed gain is not a finite number"},
      {[](B& b) { b->GainMode = 1, b->FixedGainDb = 10000; }, "Fixed gain is too large"},
      // Formats and sizes.
      {[](B& b) { b->BitsPerSample = 12; }, "Bits per sample 12 is not 8, 16, 24 or 32"},
      {[](B& b) { b->FilterLength = 1; }, "Filter length 1 is outside 2 to 1024"},
      {[](B& b) { b->FilterLength = 1025; }, "Filter length 1025 is outside 2 to 1024"},
      {[](B& b) { b->SampleRate = 768001; }, "Sample rate 768001 is above 768000"},
      {[](B& b) { b->ImpulseLength = 1e9; }, tooLong + "44100 Hz"},
      {[=](B& b) { b->SampleRate = 48000, b->ImpulseLength = (maxSamples + 0.5) / 48000; },
       tooLong + "48000 Hz"},
      {[](B& b) { b->SubArrivals = 1001; }, "Sub-arrivals 1001 is above 1000"},
      {[](B& b) { b->DirectSoundLevel = 2001; }, "Direct sound level 2001 is above 2000"},
  };
  for (const auto& [change, message] : cases) {
    B b = ValidDesign();
    change(b);
    try {
      THydra scene(b.Record());
      ADD_FAILURE() << message << ": accepted";
    } catch (const EDesignError& e) {
      EXPECT_EQ(e.Message(), message);
    }
  }
}

TEST(DesignChecks, LimitsThemselvesAreAccepted) {
  B b = ValidDesign();
  b->FilterLength = 2;
  EXPECT_NO_THROW(THydra(b.Record()));
  b->FilterLength = 1024;
  b->SampleRate = 768000;
  b->SubArrivals = 1000;
  b->DirectSoundLevel = 2000;
  b->FixedGainDb = 10000;  // too large, but not applied while GainMode is 0
  const int32_t max = THydra(b.Record()).Options->MaxLengthSamples();
  EXPECT_EQ(max, 16777216 - 3 * 512 - 514);
  b->ImpulseLength = (max - 0.5) / 768000;
  EXPECT_LE(THydra(b.Record()).Options->LengthSamples(), max);
}

TEST(DesignChecks, OddButHarmlessValuesAndUnusedSlotsAreKept) {
  B b = ValidDesign();
  b->ImpulseLength = -2;
  b->SubArrivals = -5;
  b->DirectSoundLevel = -40;
  b->MinAmplitude = -1;
  b->AirAttenuation = -0.5;  // the tracer reports this one itself
  b->WindowType = 99;
  b->RandomSeed = -1;  // so does the generator
  b->CoordinateScale = 0;
  b.Wall(0).Channel = 99;   // not a receiver: never written to
  b.Wall(0).Gain = kNaN;    // nor read
  b.Wall(1).Pattern = -12;  // omnidirectional
  b.Wall(1).Gain = 1e300;
  b.Emitter(0).RayCount = -3;
  b.Emitter(0).Group = 64;       // never traced
  b.Material(1).Scatter = kNaN;  // the air does not scatter
  b.Material(0).Reflection = -2;
  // Unused slots are never checked, whatever they hold.
  TWallEntry& wall = b.Wall(5);
  wall.StartPoint = 9999, wall.EndPoint = -9999, wall.Material = 9999;
  wall.Receiver = 1, wall.Channel = 9999, wall.Gain = kNaN;
  TEmitterEntry& emitter = b.Emitter(7);
  emitter.Point = 9999, emitter.Direction = kNaN, emitter.Level = kInf;
  TMaterialEntry& material = b.Material(12);
  b.SetText(material.Name, "Brick");  // a stale duplicate of a used name
  material.Reflection = kNaN, material.BandFactors[0] = kNaN;
  b.PointEntry(150).X = kNaN;  // no used wall or emitter refers to it
  EXPECT_NO_THROW(THydra(b.Record()));
}

}  // namespace
}  // namespace zm
