// The tool's own plan geometry: the room's area and faces and the
// reverberation estimate on rooms whose answers are known. (Probe rays and
// enclosures show in zm check's warnings.)
#include "lib/design/room_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "design_builder.h"
#include "lib/checks/reverberation_estimate.h"
#include "lib/design/materials.h"
#include "lib/design/room_height.h"

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

// Walls of one material, the reflection keeping 1 - alpha of the energy,
// around the corners given in order.
void AddOutline(test::DesignBuilder& b, const std::vector<std::pair<double, double>>& corners,
                int material) {
  for (size_t i = 0; i < corners.size(); ++i) {
    const auto [x1, y1] = corners[i];
    const auto [x2, y2] = corners[(i + 1) % corners.size()];
    b.AddWall(x1, y1, x2, y2, material);
  }
}

TEST(RoomGeometry, RoomAreaAndFacesAreExact) {
  // An L of 27 m2 and 24 m of wall, a free-standing screen (both faces), a
  // pass-through receiver line (no face, its length inside), and a closed
  // box elsewhere that is no part of the room.
  test::DesignBuilder b;
  const int wall = b.AddMaterial("Wall", 0.9);
  AddOutline(b, {{0, 0}, {6, 0}, {6, 3}, {3, 3}, {3, 6}, {0, 6}}, wall);
  const int screen = b.AddWall(1, 1, 2, 1.5, wall);
  const int microphone = b.AddReceiver(1, 4, 2, 4, b.AddMaterial("Microphone", 1.0));
  AddOutline(b, {{10, 0}, {12, 0}, {12, 2}, {10, 2}}, wall);
  b.AddEmitter(1, 2, 0, 100, 2 * std::numbers::pi);
  TDesignRecord r = b.Record();
  r.Walls[microphone].PassThrough = 1;
  const Plan plan = PlanOf(r);
  const RoomRegion room = RoomAround(plan, {{1, 2}});
  ASSERT_TRUE(room.closed);
  EXPECT_NEAR(room.area, 27, 1e-9);
  double faces = 0;
  for (size_t i = 0; i < 6; ++i) faces += room.faceLength[i];
  EXPECT_NEAR(faces, 24, 1e-9);
  EXPECT_NEAR(room.faceLength[size_t(screen)], 2 * std::hypot(1, 0.5), 1e-9);
  EXPECT_NEAR(room.faceLength[size_t(microphone)], 1, 1e-9);
  for (size_t i = 8; i < 12; ++i) EXPECT_EQ(room.faceLength[i], 0) << i;
  EXPECT_FALSE(RoomAround(plan, {{20, 20}}).closed);
  // Without its left wall, or the inner wall of the L, the room is open.
  for (int missing : {5, 3}) {
    TDesignRecord gap = r;
    gap.Walls[missing].InUse = 0;
    EXPECT_FALSE(RoomAround(PlanOf(gap), {{1, 2}}).closed) << missing;
  }
}

// A 10 m x 6 m room of alpha 0.2 with four 0.5 m pass-through receivers.
TDesignRecord MeetingRoom(double scattering) {
  test::DesignBuilder b;
  const int wall = b.AddMaterial("Wall", std::sqrt(0.8), ScatterFromScattering(scattering));
  AddOutline(b, {{0, 0}, {10, 0}, {10, 6}, {0, 6}}, wall);
  const int microphone = b.AddMaterial("Microphone", 1.0);
  for (double x : {2, 4, 6, 8}) b.AddReceiver(x, 4, x + 0.5, 4, microphone);
  b.AddEmitter(5, 2, 0, 1000, 2 * std::numbers::pi);
  TDesignRecord r = b.Record();
  for (TWallEntry& w : r.Walls) w.PassThrough = w.Receiver;
  r.ImpulseLength = 2;
  r.AirAttenuation = 1;
  return r;
}

TEST(RoomGeometry, EstimateFollowsSabineAndEyringIn2DAnd3D) {
  const double sixtyDb = 6 * std::numbers::ln10;
  TDesignRecord r = MeetingRoom(0.5);
  ReverberationEstimate plane = EstimateReverberation(r);
  ASSERT_TRUE(plane.available) << plane.reason;
  EXPECT_NEAR(plane.area, 60, 1e-9);
  EXPECT_NEAR(plane.perimeter, 32, 1e-9);
  EXPECT_NEAR(plane.meanFreePath, std::numbers::pi * 60 / 32, 1e-9);
  const double rate2d = kSpeedOfSound / plane.meanFreePath;
  for (const ReverberationBand& band : plane.bands) {
    EXPECT_NEAR(band.absorption, 0.2, 1e-9);
    EXPECT_NEAR(band.sabine, sixtyDb / (rate2d * 0.2), 1e-9);
    EXPECT_NEAR(band.eyring, sixtyDb / (rate2d * -std::log(0.8)), 1e-9);
  }
  EXPECT_TRUE(plane.cautions.empty());

  // 3 m high, floor 0.2, ceiling 0.6: V = 180, A over 216 m2 of faces.
  RoomHeight height{3, r.Materials[0], r.Materials[0]};
  height.ceiling.Reflection = std::sqrt(0.4);
  FoldHeight(r, height);
  const ReverberationEstimate room = EstimateReverberation(r);
  ASSERT_TRUE(room.available);
  EXPECT_EQ(room.height, 3);
  EXPECT_NEAR(room.meanFreePath, 4 * 180 / 216.0, 1e-9);
  const double absorbed = 0.2 * (96 + 60) + 0.6 * 60;
  for (const ReverberationBand& band : room.bands) {
    EXPECT_NEAR(band.sabine, sixtyDb * 4 * 180 / (kSpeedOfSound * absorbed), 1e-9);
  }
  ASSERT_EQ(room.cautions.size(), 0u);  // 0.4 on floor and ceiling against 0.2

  height.floor.Reflection = std::sqrt(0.6);  // 0.7 on average against 0.2
  height.ceiling.Reflection = 0;
  TDesignRecord dead = MeetingRoom(0.1);
  dead.ImpulseLength = 0.1;
  FoldHeight(dead, height);
  const auto cautions = EstimateReverberation(dead).cautions;
  ASSERT_EQ(cautions.size(), 3u);
  EXPECT_NE(cautions[0].find("scatter little"), std::string::npos);
  EXPECT_NE(cautions[1].find("floor and ceiling absorb 3.5 times"), std::string::npos);
  EXPECT_NE(cautions[2].find("impulseLength 0.10 s is shorter"), std::string::npos);

  EXPECT_FALSE(EstimateReverberation(Room(0.9, 2.0)).available);
}

}  // namespace
}  // namespace zm::cli
