// Material files through ZM_saveMaterial and ZM_loadMaterial: the bytes of
// one entry behind a magic, the air slot's name, and refused loads.
#include <gtest/gtest.h>

#include <random>

#include "design_builder.h"
#include "scratch_folder.h"

namespace zm {
namespace {

using test::BytesOf;
using test::MessageOf;

class MaterialFile : public test::ScratchFolder {
 protected:
  static TMaterialEntry RandomEntry(uint32_t seed, const std::string& name) {
    TMaterialEntry entry;
    std::mt19937 rng(seed);
    auto* raw = reinterpret_cast<uint8_t*>(&entry);
    for (size_t i = 0; i < sizeof(entry); ++i) raw[i] = static_cast<uint8_t>(rng());
    test::DesignBuilder::SetText(entry.Name, name);
    return entry;
  }
  TErrorRecord Load(const std::string& name, TMaterialEntry& entry) {
    TErrorRecord error{};
    ZM_loadMaterial(name.c_str(), &entry, &error);
    return error;
  }
};

TEST_F(MaterialFile, SaveAndLoadCopyTheEntryAndTheAirSlotKeepsItsName) {
  const TMaterialEntry oak = RandomEntry(1, "Oak panel");
  TErrorRecord error{};
  ZM_saveMaterial(PathOf("oak.zmm").c_str(), &oak, &error);
  ASSERT_EQ(error.Failed, 0);
  EXPECT_EQ(Get("oak.zmm"), "ZMM0" + BytesOf(oak));
  Put("longer.zmm", Get("oak.zmm") + "\1\2\3");  // bytes after the entry are never read

  TMaterialEntry plain = RandomEntry(2, "Something else");
  ASSERT_EQ(Load(PathOf("longer.zmm"), plain).Failed, 0);
  EXPECT_EQ(BytesOf(plain), BytesOf(oak));
  TMaterialEntry air = RandomEntry(3, ZM_AIR_MATERIAL_NAME);
  air.Name[20] = 'x';  // stale bytes after the terminator are not part of the name
  ASSERT_EQ(Load(PathOf("oak.zmm"), air).Failed, 0);
  EXPECT_EQ(BytesOf(air), BytesOf(RandomEntry(1, ZM_AIR_MATERIAL_NAME)));
  TMaterialEntry lower = RandomEntry(3, "** air **");  // only the exact name protects a slot
  ASSERT_EQ(Load(PathOf("oak.zmm"), lower).Failed, 0);
  EXPECT_EQ(BytesOf(lower), BytesOf(oak));
}

TEST_F(MaterialFile, RefusedLoadsLeaveTheEntryUntouched) {
  const std::string pastEnd = "Read past end of resource \"" + FullOf("bad.zmm") + "\"";
  const std::string signature = "Invalid signature present in the specified file";
  TErrorRecord error{};
  ZM_saveSetup(PathOf("room.zmd").c_str(), &test::DesignBuilder().Record(), &error);
  ASSERT_EQ(error.Failed, 0);
  const std::pair<std::string, std::string> cases[] = {
      {"zmm0" + std::string(186, '\7'), signature},
      {Get("room.zmd"), signature},
      {"", pastEnd},
      {"ZMM", pastEnd},
      {"ZMM0", pastEnd},
      {"ZMM0" + std::string(185, 'B'), pastEnd},
  };
  for (const auto& [file, message] : cases) {
    Put("bad.zmm", file);
    TMaterialEntry entry = RandomEntry(99, ZM_AIR_MATERIAL_NAME);
    const std::string before = BytesOf(entry);
    error = Load(PathOf("bad.zmm"), entry);
    EXPECT_EQ(error.Failed, 1);
    EXPECT_EQ(MessageOf(error), message.substr(0, ZM_MESSAGE_LENGTH)) << file.size();
    EXPECT_EQ(BytesOf(entry), before);
  }
  TMaterialEntry entry;
  EXPECT_EQ(MessageOf(Load("no-such.zmm", entry)), "Resource \"no-such.zmm\" not found");
}

}  // namespace
}  // namespace zm
