#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "design_builder.h"
#include "design_file_test_support.h"
#include "zm/zm.h"

namespace zm {
namespace {

using test::BytesOf;
using test::MessageOf;

class MaterialFile : public test::FormatsFolder {
 protected:
  static TMaterialEntry RandomEntry(uint32_t seed, const std::string& name) {
    TMaterialEntry entry;
    std::mt19937 rng(seed);
    uint8_t* raw = reinterpret_cast<uint8_t*>(&entry);
    for (size_t i = 0; i < sizeof(entry); ++i) raw[i] = static_cast<uint8_t>(rng());
    test::DesignBuilder::SetText(entry.Name, name);
    return entry;
  }

  TErrorRecord Save(const std::string& leaf, const TMaterialEntry& entry) {
    TErrorRecord error{};
    ZM_saveMaterial(PathOf(leaf).c_str(), &entry, &error);
    return error;
  }

  TErrorRecord Load(const std::string& name, TMaterialEntry& entry) {
    TErrorRecord error{};
    ZM_loadMaterial(name.c_str(), &entry, &error);
    return error;
  }

  void ExpectRefused(const std::string& name, const std::string& message) {
    SCOPED_TRACE(name);
    TMaterialEntry entry = RandomEntry(99, "** AIR **");
    const std::vector<uint8_t> before = BytesOf(entry);
    TErrorRecord error = Load(name, entry);
    EXPECT_EQ(error.Failed, 1);
    EXPECT_EQ(MessageOf(error), message.substr(0, ZM_MESSAGE_LENGTH));
    EXPECT_EQ(BytesOf(entry), before);
  }
};

TEST_F(MaterialFile, SaveAndLoadCopyAllBytes) {
  const TMaterialEntry saved = RandomEntry(1, "Oak panel");
  ASSERT_EQ(Save("oak.zmm", saved).Failed, 0);
  std::vector<uint8_t> expectedFile = {'Z', 'M', 'M', '0'};
  const std::vector<uint8_t> payload = BytesOf(saved);
  expectedFile.insert(expectedFile.end(), payload.begin(), payload.end());
  EXPECT_EQ(Get("oak.zmm"), expectedFile);

  TMaterialEntry loaded = RandomEntry(2, "Something else");
  ASSERT_EQ(Load(PathOf("oak.zmm"), loaded).Failed, 0);
  EXPECT_EQ(BytesOf(loaded), payload);

  // Bytes after the entry are never read.
  expectedFile.insert(expectedFile.end(), {1, 2, 3});
  Put("longer.zmm", expectedFile);
  ASSERT_EQ(Load(PathOf("longer.zmm"), loaded).Failed, 0);
  EXPECT_EQ(BytesOf(loaded), payload);
}

TEST_F(MaterialFile, AirSlotKeepsItsName) {
  ASSERT_EQ(Save("oak.zmm", RandomEntry(1, "Oak panel")).Failed, 0);
  TMaterialEntry air = RandomEntry(3, "** AIR **");
  air.Name[20] = 'x';  // stale bytes after the terminator are not part of the name
  ASSERT_EQ(Load(PathOf("oak.zmm"), air).Failed, 0);

  TMaterialEntry expected = RandomEntry(1, "** AIR **");
  EXPECT_EQ(BytesOf(air), BytesOf(expected));

  // Only the exact name protects a slot.
  TMaterialEntry lower = RandomEntry(3, "** air **");
  ASSERT_EQ(Load(PathOf("oak.zmm"), lower).Failed, 0);
  EXPECT_EQ(BytesOf(lower), BytesOf(RandomEntry(1, "Oak panel")));
}

TEST_F(MaterialFile, AirFileLoadsIntoAnOrdinarySlot) {
  ASSERT_EQ(Save("air.zmm", RandomEntry(4, "** AIR **")).Failed, 0);
  TMaterialEntry slot = RandomEntry(5, "Brick");
  ASSERT_EQ(Load(PathOf("air.zmm"), slot).Failed, 0);
  EXPECT_EQ(BytesOf(slot), BytesOf(RandomEntry(4, "** AIR **")));
}

TEST_F(MaterialFile, RefusesFilesThatAreNotMaterials) {
  const std::string path = FullOf("bad.zmm");
  // A lower-case magic in front of a full-sized entry.
  std::vector<uint8_t> lower(4 + 186, 7);
  std::copy_n("zmm0", 4, lower.begin());
  Put("bad.zmm", lower);
  ExpectRefused(PathOf("bad.zmm"), "Invalid signature present in the specified file");

  test::DesignBuilder design;
  TErrorRecord error{};
  ZM_saveSetup(PathOf("room.zmd").c_str(), &design.Record(), &error);
  ASSERT_EQ(error.Failed, 0);
  ExpectRefused(PathOf("room.zmd"), "Invalid signature present in the specified file");

  Put("bad.zmm", {});
  ExpectRefused(PathOf("bad.zmm"), "Read past end of resource \"" + path + "\"");
  Put("bad.zmm", {'Z', 'M', 'M'});
  ExpectRefused(PathOf("bad.zmm"), "Read past end of resource \"" + path + "\"");
  ExpectRefused("no-such-material.zmm", "Resource \"no-such-material.zmm\" not found");
}

TEST_F(MaterialFile, ShortFileLeavesTheEntryUntouched) {
  const std::string path = FullOf("short.zmm");
  for (size_t bodySize : {0, 1, 100, 185}) {
    std::vector<uint8_t> file = {'Z', 'M', 'M', '0'};
    file.insert(file.end(), bodySize, 0x42);
    Put("short.zmm", file);
    ExpectRefused(PathOf("short.zmm"), "Read past end of resource \"" + path + "\"");
  }
}

TEST_F(MaterialFile, FailedSaveKeepsThePreviousFile) {
  ASSERT_EQ(Save("oak.zmm", RandomEntry(1, "Oak panel")).Failed, 0);
  const std::vector<uint8_t> before = Get("oak.zmm");
  TErrorRecord error = Save("missing-folder/oak.zmm", RandomEntry(2, "Pine"));
  EXPECT_EQ(error.Failed, 1);
  EXPECT_EQ(MessageOf(error),
            ("File open error (\"" + FullOf("missing-folder/oak.zmm") + "\", mode 3)")
                .substr(0, ZM_MESSAGE_LENGTH));
#if defined(__unix__)
  {
    test::FileSizeLimit limit(100);
    error = Save("oak.zmm", RandomEntry(2, "Pine"));
  }
  EXPECT_EQ(error.Failed, 1);
#endif
  EXPECT_EQ(Get("oak.zmm"), before);
}

}  // namespace
}  // namespace zm
