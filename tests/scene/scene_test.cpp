// Building a scene from a design record: the name-keyed material list,
// walls finding their material, options derived from the record, and ray
// totals. (Slot order and gaps show in which slot the design checks name
// first, in the ray totals and in the unused slots they never read.)
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "design_builder.h"
#include "expect_error.h"
#include "scene/design_checks.h"
#include "scene/hydra.h"

namespace zm {
namespace {

using test::DesignBuilder;

TEST(Hydra, GroupRayTotalCountsEffectiveRaysAndRefusesWhatProgressCannotCount) {
  DesignBuilder b;
  b->DefaultRayCount = 500;
  b.AddEmitter(0, 0, 0, 100, 0, 2);
  const int byDefault = b.AddEmitter(1, 0, 0, 7, 0, 2);
  b.Emitter(byDefault).UseDefaultRayCount = 1;
  b.AddEmitter(2, 0, 0, -50, 0, 2);  // sends nothing, takes nothing away
  const int32_t max = std::numeric_limits<int32_t>::max();
  b.AddEmitter(3, 0, 0, max, 0, 1);
  b.AddEmitter(4, 0, 0, max, 0, 0);
  b.AddEmitter(5, 0, 0, 1, 0, 0);
  THydra scene(b.Record());  // only the traced group has to fit
  EXPECT_EQ(scene.GroupRayTotal(2), 600);
  EXPECT_EQ(scene.GroupRayTotal(1), max);
  EXPECT_EQ(scene.GroupRayTotal(5), 0);
  EXPECT_EQ(scene.GroupRayTotal(-1), 0);
  EXPECT_EQ(scene.Emitters[byDefault]->RayCount, 500);
  EXPECT_ERROR(scene.GroupRayTotal(0), ERangeError, "Group 0: total ray count exceeds 2147483647");
}

TEST(MaterialList, DuplicatesAreRefusedAndFullFieldNamesAreRead) {
  DesignBuilder b;
  b.AddMaterial("Brick", 0.5);
  b.AddMaterial("Brick", 0.7);
  TMaterialList list;
  const TMaterial& first = list.AddFromRecord(b.Record(), 0);
  EXPECT_ERROR(list.AddFromRecord(b.Record(), 1), EDuplicateError, "Duplicate BBTree item");
  EXPECT_EQ(&list.Find("Brick"), &first);
  // A name filling its whole field, without a zero byte, is read in full.
  std::memset(b.Material(2).Name, 'N', ZM_NAME_LENGTH);
  EXPECT_EQ(TMaterial(b.Record(), 2).Name, std::string(ZM_NAME_LENGTH, 'N'));
}

TEST(SceneMaterials, WallsFindTheirMaterialByTheNameInTheirSlot) {
  DesignBuilder b;
  const int upper = b.AddMaterial("Brick", 0.5);
  const int lower = b.AddMaterial("brick", 0.6);
  b.AddMaterialAt(5, "Brick", 0.1);  // an unused slot whose stale name is a used one's
  b.AddMaterialAt(6, "Ghost");       // an unused slot's own name never enters the list
  b.Material(5).InUse = b.Material(6).InUse = 0;
  b.AddWall(0, 0, 1, 0, upper);
  b.AddWall(0, 1, 1, 1, lower);
  b.AddWall(0, 2, 1, 2, 5);
  THydra scene(b.Record());
  EXPECT_EQ(scene.Materials->Count(), 2);
  EXPECT_EQ(scene.Walls[0]->Material->Reflection, 0.5);
  EXPECT_EQ(scene.Walls[1]->Material->Reflection, 0.6);
  EXPECT_EQ(scene.Walls[2]->Material, scene.Walls[0]->Material);
  b.AddWall(0, 3, 1, 3, 9);  // slot 9 is unused and empty
  EXPECT_ERROR(THydra(b.Record()), ENotFound, "Material \"\" not found");
}

TEST(SceneParts, OptionsFromTheirRecordFields) {
  DesignBuilder b;
  for (auto [rate, used] : {std::pair{0, 44100}, {44099, 44100}, {-5, 44100}, {96000, 96000}}) {
    b->SampleRate = rate;
    EXPECT_EQ(TOptions(b.Record()).SampleRate, used) << rate;
  }
  b->LeadIn = static_cast<int16_t>(0xFFFF);
  EXPECT_EQ(TOptions(b.Record()).LeadIn, -1);  // widened with its sign
  // 1 + the samples of the impulse length; zero or negative: one silent frame.
  b->SampleRate = 48000;
  for (auto [length, samples] : {std::pair{0.5, 24001}, {0.0, 1}, {-0.0, 1}, {-1e300, 1}}) {
    b->ImpulseLength = length;
    EXPECT_EQ(TOptions(b.Record()).LengthSamples(), samples) << length;
  }
}

}  // namespace
}  // namespace zm
