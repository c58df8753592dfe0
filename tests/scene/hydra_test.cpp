// Building a whole scene from a design record: slot order, ownership of the
// groups, release after a failure, and the ray total of a group.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "design_builder.h"
#include "scene/design_checks.h"
#include "scene/hydra.h"

namespace zm {
namespace {

using test::DesignBuilder;

TEST(Hydra, EmptyDesignHasNoWallsOrEmittersButAllGroups) {
  DesignBuilder b;
  THydra scene(b.Record());
  EXPECT_EQ(scene.WallCount, 0);
  EXPECT_TRUE(scene.Walls.empty());
  EXPECT_EQ(scene.EmitterCount, 0);
  EXPECT_TRUE(scene.Emitters.empty());
  EXPECT_EQ(scene.Materials->Count(), 0);
  ASSERT_NE(scene.Options, nullptr);
  for (const auto& group : scene.Groups) ASSERT_NE(group, nullptr);
}

TEST(Hydra, TakesUsedSlotsInSlotOrderSkippingGaps) {
  DesignBuilder b;
  int brick = b.AddMaterial("Brick");
  b.AddWallAt(149, 0, 0, 149, 0, brick);
  b.AddWallAt(3, 0, 0, 3, 0, brick);
  b.AddWallAt(7, 0, 0, 7, 0, brick);
  b.AddEmitter(1, 1, 0, 10, 0);
  b.AddEmitter(2, 2, 0, 10, 0);
  b.AddEmitter(3, 3, 0, 10, 0);
  b.Emitter(1).InUse = 0;  // a gap in the middle

  THydra scene(b.Record());
  ASSERT_EQ(scene.WallCount, 3);
  ASSERT_EQ(scene.Walls.size(), 3u);
  EXPECT_EQ(scene.Walls[0]->X2, 3.0);
  EXPECT_EQ(scene.Walls[1]->X2, 7.0);
  EXPECT_EQ(scene.Walls[2]->X2, 149.0);
  for (const auto& wall : scene.Walls) EXPECT_EQ(wall->Material->Name, "Brick");
  ASSERT_EQ(scene.EmitterCount, 2);
  EXPECT_EQ(scene.Emitters[0]->X, 1.0);
  EXPECT_EQ(scene.Emitters[1]->X, 3.0);
}

TEST(Hydra, EveryGroupSlotGivesAGroupWhateverItsInUseByte) {
  DesignBuilder b;
  b.GroupName(0, "** Default **");
  b->Groups[0].InUse = 1;
  b.GroupName(3, "Stage");  // not in use, still named
  THydra scene(b.Record());
  EXPECT_EQ(scene.Groups[0]->Name, "** Default **");
  EXPECT_EQ(scene.Groups[3]->Name, "Stage");
  EXPECT_EQ(scene.Groups[63]->Name, "");
}

// Run under the sanitizer build: a leak of the four walls, the material
// list or the blocks shows up there.
TEST(Hydra, FailureAtTheFifthWallReleasesEverything) {
  DesignBuilder b;
  int brick = b.AddMaterial("Brick");
  int stale = b.AddMaterial("Gone");
  b.Material(stale).InUse = 0;
  for (int i = 0; i < 4; ++i) b.AddWall(0, i, 1, i, brick);
  b.AddWall(0, 9, 1, 9, stale);
  b.AddWall(0, 10, 1, 10, brick);
  b.AddEmitter(0, 0, 0, 10, 0);
  try {
    THydra scene(b.Record());
    FAIL() << "the fifth wall's material is not in use";
  } catch (const ENotFound& e) {
    EXPECT_STREQ(e.what(), "Material \"Gone\" not found");
  }
}

TEST(Hydra, GroupRayTotalCountsEffectiveRaysOfOneGroup) {
  DesignBuilder b;
  b->DefaultRayCount = 500;
  b.AddEmitter(0, 0, 0, 100, 0, 2);
  int byDefault = b.AddEmitter(1, 0, 0, 7, 0, 2);
  b.Emitter(byDefault).UseDefaultRayCount = 1;
  b.AddEmitter(2, 0, 0, -50, 0, 2);  // sends nothing, takes nothing away
  b.AddEmitter(3, 0, 0, 1000, 0, 0);
  THydra scene(b.Record());
  EXPECT_EQ(scene.GroupRayTotal(2), 600);
  EXPECT_EQ(scene.GroupRayTotal(0), 1000);
  EXPECT_EQ(scene.GroupRayTotal(5), 0);
  EXPECT_EQ(scene.GroupRayTotal(-1), 0);
  // The record is not changed; the tracer sets the counts itself.
  EXPECT_EQ(scene.Emitters[byDefault]->RayCount, 7);
}

TEST(Hydra, GroupRayTotalRefusesWhatProgressCannotCount) {
  DesignBuilder b;
  const int32_t max = std::numeric_limits<int32_t>::max();
  b.AddEmitter(0, 0, 0, max, 0, 1);
  b.AddEmitter(1, 0, 0, max, 0, 0);
  b.AddEmitter(2, 0, 0, 1, 0, 0);
  // The scene itself builds: only the traced group has to fit.
  THydra scene(b.Record());
  EXPECT_EQ(scene.GroupRayTotal(1), max);
  try {
    scene.GroupRayTotal(0);
    FAIL() << "two emitters exceed int32";
  } catch (const ERangeError& e) {
    EXPECT_STREQ(e.what(), "Group 0: total ray count exceeds 2147483647");
  }
}

}  // namespace
}  // namespace zm
