// The tool's own plan geometry: probe rays, enclosures and the
// reverberation estimate on rooms whose answers are known.
#include "lib/design/room_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "design_builder.h"
#include "lib/checks/reverberation_estimate.h"

namespace zm::cli {
namespace {

// A closed 10 m x 8 m room of one material (band factors 1), a receiver
// line inside, one emitter sending rays all round; `gap` leaves a hole of
// that width in the bottom wall.
TDesignRecord Room(double reflection, double gap = 0) {
  test::DesignBuilder b;
  const int wall = b.AddMaterial("Wall", reflection);
  b.AddWall(0, 0, 5 - gap / 2, 0, wall);
  b.AddWall(5 + gap / 2, 0, 10, 0, wall);
  b.AddWall(10, 0, 10, 8, wall);
  b.AddWall(10, 8, 0, 8, wall);
  b.AddWall(0, 8, 0, 0, wall);
  b.AddReceiver(7, 3, 7, 5, b.AddMaterial("Microphone", 1.0), 0);
  b.AddEmitter(2, 4, 0, 1000, 2 * std::numbers::pi);
  TDesignRecord r = b.Record();
  r.ImpulseLength = 2;
  r.MinAmplitude = 1e-4;
  r.AirAttenuation = 1;
  return r;
}

TEST(RoomGeometry, ClosedRoomsKeepTheirRaysAndOpenOnesLoseThem) {
  const Plan closed = PlanOf(Room(0.9));
  const ProbeResult inside = ProbeEmitter(closed, closed.emitters[0], 256);
  EXPECT_EQ(inside.escaped, 0);
  EXPECT_GT(inside.reached, 0);
  EXPECT_TRUE(EnclosureGrid(closed).Enclosed(2, 4));
  EXPECT_FALSE(EnclosureGrid(closed).Enclosed(12, 4));

  const Plan open = PlanOf(Room(0.9, 2.0));
  EXPECT_GT(ProbeEmitter(open, open.emitters[0], 256).escaped, 0);
  EXPECT_FALSE(EnclosureGrid(open).EnclosesAnything());
}

TEST(RoomGeometry, EstimateFollowsSabineAndEyringIn2D) {
  // alpha = 1 - 0.9^2 = 0.19 on every face; the receiver (alpha 0) adds its
  // two faces to the perimeter only.
  const TDesignRecord r = Room(0.9);
  const Plan plan = PlanOf(r);
  const ReverberationEstimate estimate = EstimateReverberation(r, plan, EnclosureGrid(plan));
  ASSERT_TRUE(estimate.available) << estimate.reason;
  EXPECT_NEAR(estimate.area, 80, 0.8);
  EXPECT_NEAR(estimate.perimeter, 36 + 4, 0.4);
  const double absorbed = 36 * 0.19;
  const double sabine = 6 * std::numbers::ln10 * std::numbers::pi * 80 / (kSpeedOfSound * absorbed);
  const double eyring = 6 * std::numbers::ln10 * std::numbers::pi * 80 /
                        (kSpeedOfSound * 40 * -std::log(1 - absorbed / 40));
  for (const ReverberationBand& band : estimate.bands) {
    EXPECT_NEAR(band.sabine, sabine, 0.02 * sabine) << band.centre;
    EXPECT_NEAR(band.eyring, eyring, 0.02 * eyring) << band.centre;
  }
  const Plan open = PlanOf(Room(0.9, 2.0));
  EXPECT_FALSE(EstimateReverberation(r, open, EnclosureGrid(open)).available);
}

}  // namespace
}  // namespace zm::cli
