// Design and material files through the exports: exact round trips, the
// repairs a load applies, the old design layouts, the air slot of a
// material load, and loads that fail without touching the caller's record.
// (Failed saves are swept call by call in the file-safety tests.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "design_builder.h"
#include "files/binary_buffer.h"
#include "files/hrc.h"
#include "scratch_folder.h"

namespace zm {
namespace {

using test::BytesOf;
using test::DesignBuilder;
using test::MessageOf;

// `magic` followed by `block` compressed into one HRC block.
std::string BlockFile(const char* magic, const std::string& block) {
  TBinaryBuffer stream;
  stream.Write(magic, 4);
  HrcWriteBlock(stream, block.data(), static_cast<int32_t>(block.size()));
  std::string file(static_cast<size_t>(stream.GetLength()), '\0');
  stream.SetPosition(0);
  stream.Read(file.data(), stream.GetLength());
  return file;
}

// Compares two records, naming the first byte where they differ.
void ExpectSameRecord(const TDesignRecord& got, const TDesignRecord& expected) {
  const std::string a = BytesOf(got), b = BytesOf(expected);
  const auto diff = std::mismatch(a.begin(), a.end(), b.begin());
  EXPECT_EQ(diff.first, a.end()) << "first difference at offset " << diff.first - a.begin();
}

class DesignFile : public test::ScratchFolder {
 protected:
  // A record of random bytes that loads back unchanged: every material slot
  // in use and none of them the air (so there is no slot to add it to),
  // group 0 in use and a nonzero default ray count.
  static std::unique_ptr<TDesignRecord> RandomRecord(uint32_t seed) {
    auto record = std::make_unique<TDesignRecord>();
    std::mt19937 rng(seed);
    auto* raw = reinterpret_cast<uint8_t*>(record.get());
    for (size_t i = 0; i < sizeof(TDesignRecord); ++i) raw[i] = static_cast<uint8_t>(rng());
    record->AirAttenuation = 0.999;
    record->DefaultRayCount = 777;
    record->Groups[0].InUse = 1;
    for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
      record->Materials[i].InUse = 1;
      // Two strings, not a literal plus a string: GCC 12 gives a false
      // -Wrestrict warning for that in 32-bit builds.
      DesignBuilder::SetText(record->Materials[i].Name,
                             std::string("Material ") + std::to_string(i));
    }
    return record;
  }

  std::string Saved(const TDesignRecord& design) {
    TErrorRecord error{};
    ZM_saveSetup(PathOf("saved.zmd").c_str(), &design, &error);
    EXPECT_EQ(error.Failed, 0);
    return Get("saved.zmd");
  }

  // Loads into a record prefilled with 0xEE, so that every change shows.
  TErrorRecord Load(const std::string& name, TDesignRecord& design) {
    std::memset(&design, 0xEE, sizeof(design));
    TErrorRecord error{};
    ZM_loadSetup(name.c_str(), &design, &error);
    return error;
  }
};

// The air material, default group and ray count that a load adds, by hand.
void Repair(TDesignRecord& expected, int airSlot, double airReflection) {
  if (airSlot >= 0) {
    TMaterialEntry& air = expected.Materials[airSlot];
    air.InUse = 1;
    DesignBuilder::SetText(air.Name, ZM_AIR_MATERIAL_NAME);
    air.Reflection = airReflection;
    air.Scatter = 0.0;
    for (int b = 0; b < ZM_BAND_COUNT; ++b) air.BandFactors[b] = 1.0;
  }
  if (expected.Groups[0].InUse == 0) {
    expected.Groups[0].InUse = 1;
    DesignBuilder::SetText(expected.Groups[0].Name, "** Default **");
    expected.Groups[0].DefaultMark = 1;
  }
  if (expected.DefaultRayCount == 0) expected.DefaultRayCount = 10000;
}

TEST_F(DesignFile, SaveAndLoadKeepEveryByte) {
  auto saved = RandomRecord(1);
  const std::string file = Saved(*saved);
  EXPECT_EQ(file.substr(0, 8), "ZMD5HRC\x1a");
  TDesignRecord loaded;
  TErrorRecord error = Load(PathOf("saved.zmd"), loaded);
  EXPECT_EQ(error.Failed, 0) << MessageOf(error);
  ExpectSameRecord(loaded, *saved);
  // Bytes beyond the layout are ignored.
  Put("long.zmd", BlockFile("ZMD5", BytesOf(*saved) + std::string(100, 'w')));
  ASSERT_EQ(Load(PathOf("long.zmd"), loaded).Failed, 0);
  ExpectSameRecord(loaded, *saved);
}

TEST_F(DesignFile, LoadRepairsAirMaterialDefaultGroupAndRayCount) {
  // Material names by slot: nullptr leaves a slot alone, a name after "~"
  // is a stale name in a free slot (with its reserved tail set, which the
  // air material keeps).
  const struct {
    std::vector<const char*> names;
    double airAttenuation;
    int airSlot;  // -1: none added
  } cases[] = {
      {{"Brick", "Glass", "~stale long name"}, 0.9995, 2},
      {{"Brick", nullptr, nullptr, nullptr, ZM_AIR_MATERIAL_NAME}, 0.9, -1},  // in use: kept
      {{"~" ZM_AIR_MATERIAL_NAME, "Brick"}, 0.9995, 0},  // a free slot's name does not count
      {{"** air **"}, 0.9, 1},                           // the name is case-sensitive
      {{"Brick"}, 0.0, 1},
  };
  for (const auto& c : cases) {
    DesignBuilder design;
    design->AirAttenuation = c.airAttenuation;
    design->DefaultRayCount = 0;
    design->Groups[0].HostData[2] = 9;
    for (int slot = 0; slot < static_cast<int>(c.names.size()); ++slot) {
      if (!c.names[slot]) continue;
      if (c.names[slot][0] != '~') {
        design.AddMaterialAt(slot, c.names[slot], 0.25);
        continue;
      }
      DesignBuilder::SetText(design->Materials[slot].Name, c.names[slot] + 1);
      std::memset(design->Materials[slot].Reserved, 0x5A, sizeof design->Materials[slot].Reserved);
    }
    Saved(design.Record());
    TDesignRecord loaded;
    ASSERT_EQ(Load(PathOf("saved.zmd"), loaded).Failed, 0);
    TDesignRecord expected = design.Record();
    const double a = c.airAttenuation;
    Repair(expected, c.airSlot, a > 0 ? std::exp(75.0 * std::log(a)) : 0.0);
    ExpectSameRecord(loaded, expected);
  }
}

// The old layouts, from a table of where each block lived (the test's own
// table, not the library's): every byte of a random record that a layout
// holds must land where today's record keeps it, the rest take defaults.
TEST_F(DesignFile, OldLayoutsConvertWithTheirDefaults) {
  const struct {
    const char* magic;
    size_t emitters, walls, points, materials, hostBlock, size;  // the settings end at `emitters`
  } layouts[] = {{"ZMD0", 178, 518, 4568, 8768, 0, 12488},
                 {"ZMD1", 186, 526, 4576, 8776, 0, 12496},
                 {"ZMD2", 202, 542, 4592, 8792, 0, 12512},
                 {"ZMD3", 202, 542, 4592, 8792, 12512, 16608},
                 {"ZMD4", 270, 610, 4660, 8860, 12580, 16676}};
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.magic);
    auto source = RandomRecord(3);
    source->Materials[5].InUse = 0;  // receives the air material
    const std::string in = BytesOf(*source);
    std::string block(layout.size, '\xC3'), kept(sizeof(TDesignRecord), '\0');
    auto move = [&](size_t to, size_t from, size_t n) {
      block.replace(to, n, in, from, n);
      kept.replace(from, n, in, from, n);
    };
    if (layout.emitters == 178) {  // the oldest had no BitsPerSample (offset 150 today)
      move(0, 0, 150);
      move(150, 154, 28);
    } else {
      move(0, 0, layout.emitters);
    }
    for (size_t i = 0; i < 10; ++i) move(layout.emitters + 34 * i, 270 + 166 * i, 34);
    for (size_t i = 0; i < 150; ++i) move(layout.walls + 27 * i, 1930 + 47 * i, 27);
    move(layout.points, 8980, 4200);
    move(layout.materials, 13180, 3720);
    if (layout.hostBlock) move(layout.hostBlock, 16900, 4096);
    Put("old.zmd", BlockFile(layout.magic, block));
    TDesignRecord loaded, expected;
    ASSERT_EQ(Load(PathOf("old.zmd"), loaded).Failed, 0);
    std::memcpy(&expected, kept.data(), sizeof expected);
    if (layout.emitters < 202) expected.StereoWidth = 1.0;
    if (layout.emitters == 178) expected.BitsPerSample = 16;
    Repair(expected, 5, std::exp(75.0 * std::log(0.999)));
    ExpectSameRecord(loaded, expected);
  }
}

TEST_F(DesignFile, RefusedLoadsLeaveTheRecordUntouched) {
  const std::string path = Quoted("bad.zmd");
  const std::string pastEnd = "Read past end of resource " + path;
  const std::string signature = "Invalid signature present in the specified file";
  auto shortBlock = [&](int size, int layout) {
    return "Design block of " + std::to_string(size) + " bytes is shorter than its layout of " +
           std::to_string(layout) + " bytes (" + path + ")";
  };
  const std::string valid = Saved(*RandomRecord(4));
  std::string claimsMore = valid;
  ++claimsMore[8];
  DesignBuilder negativeAir;
  negativeAir->AirAttenuation = -0.5;
  const struct {
    const char* what;
    std::string file, message;
    bool prefix = false;  // a corrupt block's position is left to the decoder's tests
  } cases[] = {
      {"empty", "", pastEnd},
      {"lower-case magic", std::string("zmd5HRC\x1a", 8) + std::string(8, '\0'), signature},
      {"unknown version", std::string("ZMD6HRC\x1a", 8) + std::string(8, '\0'), signature},
      {"no block header", std::string("ZMD5HRC\x1b", 8) + std::string(8, '\0'),
       "HRC block not found in resource " + path + " at pos 4"},
      {"cut header", "ZMD5HRC", pastEnd},
      {"cut block", valid.substr(0, valid.size() - 1), pastEnd},
      {"block claims a byte more", claimsMore, "Corrupt HRC block in resource " + path, true},
      {"short current block", BlockFile("ZMD5", std::string(33795, '\1')),
       shortBlock(33795, 33796)},
      {"short old block", BlockFile("ZMD2", std::string(12511, '\1')), shortBlock(12511, 12512)},
      {"empty oldest block", BlockFile("ZMD0", ""), shortBlock(0, 12488)},
      {"negative air attenuation", Saved(negativeAir.Record()), "Invalid floating point operation"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Put("bad.zmd", c.file);
    TDesignRecord design;
    const TErrorRecord error = Load(PathOf("bad.zmd"), design);
    EXPECT_EQ(error.Failed, 1);
    const std::string got = MessageOf(error);  // the first 128 characters
    EXPECT_EQ(c.prefix ? got.substr(0, c.message.size()) : got,
              c.message.substr(0, ZM_MESSAGE_LENGTH));
    EXPECT_EQ(BytesOf(design), std::string(sizeof(TDesignRecord), '\xEE'));
  }
}

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
  const std::pair<std::string, std::string> cases[] = {
      {"zmm0" + std::string(186, '\7'), signature},
      {"", pastEnd},
      {"ZMM0" + std::string(185, 'B'), pastEnd},
  };
  for (const auto& [file, message] : cases) {
    Put("bad.zmm", file);
    TMaterialEntry entry = RandomEntry(99, ZM_AIR_MATERIAL_NAME);
    const std::string before = BytesOf(entry);
    const TErrorRecord error = Load(PathOf("bad.zmm"), entry);
    EXPECT_EQ(error.Failed, 1);
    EXPECT_EQ(MessageOf(error), message.substr(0, ZM_MESSAGE_LENGTH)) << file.size();
    EXPECT_EQ(BytesOf(entry), before);
  }
}

}  // namespace
}  // namespace zm
