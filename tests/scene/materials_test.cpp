// The name-keyed material list: ordering, duplicates, lookups, and how walls
// find their material by the name in their material slot.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "design_builder.h"
#include "scene/hydra.h"
#include "scene/material_list.h"

namespace zm {
namespace {

using test::DesignBuilder;

int32_t CompareNames(const std::string& a, const std::string& b) {
  return TMaterialList::Compare(TMaterialListItem(a), TMaterialListItem(b));
}

TEST(MaterialList, CompareOrdersEmptyFirstThenUnsignedBytes) {
  EXPECT_EQ(CompareNames("", ""), 0);
  EXPECT_EQ(CompareNames("", "a"), -1);
  EXPECT_EQ(CompareNames("a", ""), 1);
  EXPECT_EQ(CompareNames("Wood", "Wood"), 0);
  // A proper prefix sorts first: its end reads as a zero byte.
  EXPECT_EQ(CompareNames("Wood", "Woods"), -'s');
  EXPECT_EQ(CompareNames("Woods", "Wood"), 's');
  // Case-sensitive, and the difference of the first differing bytes.
  EXPECT_EQ(CompareNames("Brick", "brick"), 'B' - 'b');
  // Bytes above 127 are unsigned: an accented letter sorts after 'z'.
  EXPECT_EQ(CompareNames("\xE9t\xE9", "zinc"), 0xE9 - 'z');
}

TEST(MaterialList, DuplicateNameIsRefusedAndTheListStaysAsItWas) {
  DesignBuilder b;
  b.AddMaterial("Brick", 0.5);
  b.AddMaterial("Brick", 0.7);
  TMaterialList list;
  const TMaterial& first = list.AddFromRecord(b.Record(), 0);
  try {
    list.AddFromRecord(b.Record(), 1);
    FAIL() << "the name is taken";
  } catch (const EDuplicateError& e) {
    EXPECT_STREQ(e.what(), "Duplicate BBTree item");
  }
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(&list.Find("Brick"), &first);
  EXPECT_EQ(first.Reflection, 0.5);
  EXPECT_THROW(THydra scene(b.Record()), EDuplicateError);
}

TEST(MaterialList, FindAndSearch) {
  DesignBuilder b;
  b.AddMaterial("Brick");
  b.AddMaterial("");  // an empty name is a valid key
  TMaterialList list;
  list.AddFromRecord(b.Record(), 0);
  list.AddFromRecord(b.Record(), 1);

  EXPECT_EQ(&list.Find("Brick"), &list.Find("Brick"));
  EXPECT_EQ(list.Find("").Name, "");
  try {
    list.Find("brick");
    FAIL() << "names are case-sensitive";
  } catch (const ENotFound& e) {
    EXPECT_STREQ(e.what(), "Material \"brick\" not found");
  }
  try {
    TMaterialList().Find("");
    FAIL();
  } catch (const ENotFound& e) {
    EXPECT_STREQ(e.what(), "Material \"\" not found");
  }
  // Absence is not a failure for Search: the tracer asks for the air so.
  EXPECT_EQ(list.Search(TMaterialListItem(ZM_AIR_MATERIAL_NAME)), nullptr);
  const TMaterialListItem* found = list.Search(TMaterialListItem("Brick"));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Material->Name, "Brick");
}

TEST(MaterialList, NameFillingTheWholeFieldIsReadInFull) {
  DesignBuilder b;
  int slot = b.AddMaterial("x");
  std::memset(b.Material(slot).Name, 'N', ZM_NAME_LENGTH);  // no zero byte at all
  EXPECT_EQ(TMaterial(b.Record(), slot).Name, std::string(65, 'N'));
}

TEST(SceneMaterials, WallsFindTheirMaterialByTheNameInTheirSlot) {
  DesignBuilder b;
  int upper = b.AddMaterial("Brick", 0.5);
  int lower = b.AddMaterial("brick", 0.6);
  // An unused slot whose stale name equals a used material's name.
  int stale = b.AddMaterialAt(5, "Brick", 0.1);
  b.Material(stale).InUse = 0;
  // An unused slot with a name of its own never enters the list.
  b.AddMaterialAt(6, "Ghost");
  b.Material(6).InUse = 0;
  b.AddWall(0, 0, 1, 0, upper);
  b.AddWall(0, 1, 1, 1, lower);
  b.AddWall(0, 2, 1, 2, stale);

  THydra scene(b.Record());
  EXPECT_EQ(scene.Materials->Count(), 2);
  EXPECT_EQ(scene.Walls[0]->Material->Reflection, 0.5);
  EXPECT_EQ(scene.Walls[1]->Material->Reflection, 0.6);
  EXPECT_EQ(scene.Walls[2]->MaterialName, "Brick");
  EXPECT_EQ(scene.Walls[2]->Material, scene.Walls[0]->Material);
  EXPECT_EQ(scene.Materials->Search(TMaterialListItem("Ghost")), nullptr);
}

TEST(SceneMaterials, WallOnAnUnusedEmptySlotIsNotFound) {
  DesignBuilder b;
  b.AddMaterial("Brick");
  b.AddWall(0, 0, 1, 0, 9);  // slot 9 is unused and empty
  try {
    THydra scene(b.Record());
    FAIL();
  } catch (const ENotFound& e) {
    EXPECT_STREQ(e.what(), "Material \"\" not found");
  }
}

}  // namespace
}  // namespace zm
