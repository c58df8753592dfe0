// Walls, emitters and options as built from their record fields.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "design_builder.h"
#include "scene/emitter.h"
#include "scene/options.h"
#include "scene/wall.h"

namespace zm {
namespace {

using test::DesignBuilder;

TEST(Wall, GeometryInMetres) {
  DesignBuilder b;
  b->CoordinateScale = 1.5;
  int m = b.AddMaterial("Brick");
  int vertical = b.AddWall(0, 0, 0, 2, m);
  int point = b.AddWall(4, 4, 4, 4, m);
  int leftward = b.AddWall(1, 0, -1, 0, m);

  TWall v(b.Record(), vertical);
  EXPECT_EQ(v.X1, 0.0);
  EXPECT_EQ(v.Y1, 0.0);
  EXPECT_EQ(v.X2, 0.0);
  EXPECT_EQ(v.Y2, 3.0);
  EXPECT_EQ(v.MidX, 0.0);
  EXPECT_EQ(v.MidY, 1.5);
  EXPECT_EQ(v.Angle, std::numbers::pi / 2);
  EXPECT_EQ(v.Length, 3.0);
  EXPECT_EQ(v.MaterialName, "Brick");
  EXPECT_EQ(v.Material, nullptr);  // the scene connects it

  TWall p(b.Record(), point);
  EXPECT_EQ(p.Length, 0.0);
  EXPECT_EQ(p.Angle, 0.0);

  TWall l(b.Record(), leftward);
  EXPECT_EQ(l.Angle, std::numbers::pi);
}

TEST(Wall, PatternWeights) {
  DesignBuilder b;
  int slot = b.AddReceiver(0, 0, 1, 0, b.AddMaterial("Mic"), 3);
  const struct {
    int32_t pattern;
    double weight;
  } cases[] = {{0, 0.0}, {1, 0.25}, {2, 0.5}, {3, 0.75}, {4, 1.0}, {5, 0.0}, {-1, 0.0}};
  for (const auto& c : cases) {
    b.Wall(slot).Pattern = c.pattern;
    EXPECT_EQ(TWall(b.Record(), slot).PatternWeight, c.weight) << "pattern " << c.pattern;
  }
}

TEST(Emitter, PositionInMetres) {
  DesignBuilder b;
  b->CoordinateScale = 0.5;
  int slot = b.AddEmitter(2, -1, 1.25, 300, 0.75, 9);
  TEmitter e(b.Record(), slot);
  EXPECT_EQ(e.X, 1.0);
  EXPECT_EQ(e.Y, -0.5);
}

TEST(Options, SampleRateFloor) {
  DesignBuilder b;
  for (int32_t rate : {0, 8000, 22050, 44099, -5}) {
    b->SampleRate = rate;
    EXPECT_EQ(TOptions(b.Record()).SampleRate, 44100) << rate;
  }
  for (int32_t rate : {44100, 48000, 96000}) {
    b->SampleRate = rate;
    EXPECT_EQ(TOptions(b.Record()).SampleRate, rate);
  }
}

TEST(Options, SignWideningAndFixedGain) {
  DesignBuilder b;
  b->LeadIn = static_cast<int16_t>(0xFFFF);
  b->GainMode = -2;
  TOptions o(b.Record());
  EXPECT_EQ(o.LeadIn, -1);
  EXPECT_EQ(o.GainMode, -2);

  const struct { double db, gain; } gains[] = {{-48, 1.0}, {-28, 10.0}, {-68, 0.1}};
  for (const auto& g : gains) {
    b->FixedGainDb = g.db;
    EXPECT_DOUBLE_EQ(TOptions(b.Record()).FixedGain, g.gain) << g.db;
  }
}

TEST(Options, LengthSamples) {
  DesignBuilder b;
  b->ImpulseLength = 1.0;
  EXPECT_EQ(TOptions(b.Record()).LengthSamples(), 44101);
  b->ImpulseLength = 0.5;
  b->SampleRate = 48000;
  EXPECT_EQ(TOptions(b.Record()).LengthSamples(), 24001);
  // Zero or negative: every ray ends at its first hit, one silent frame.
  for (double length : {0.0, -0.0, -3.0, -1e300}) {
    b->ImpulseLength = length;
    EXPECT_EQ(TOptions(b.Record()).LengthSamples(), 1) << length;
  }
}

}  // namespace
}  // namespace zm
