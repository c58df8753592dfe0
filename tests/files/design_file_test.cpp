#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
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

class DesignFile : public test::FormatsFolder {
 protected:
  // A record of random bytes that loads back unchanged: it already has an
  // in-use air material, group 0 in use and a nonzero default ray count.
  static std::unique_ptr<TDesignRecord> RandomRecord(uint32_t seed) {
    auto record = std::make_unique<TDesignRecord>();
    std::mt19937 rng(seed);
    uint8_t* raw = reinterpret_cast<uint8_t*>(record.get());
    for (size_t i = 0; i < sizeof(TDesignRecord); ++i) raw[i] = static_cast<uint8_t>(rng());
    record->AirAttenuation = 0.999;
    record->DefaultRayCount = 777;
    record->Groups[0].InUse = 1;
    for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
      record->Materials[i].InUse = 1;
      test::DesignBuilder::SetText(record->Materials[i].Name, "Material " + std::to_string(i));
    }
    test::DesignBuilder::SetText(record->Materials[7].Name, "** AIR **");
    return record;
  }

  TErrorRecord Save(const std::string& leaf, const TDesignRecord& design) {
    TErrorRecord error{};
    ZM_saveSetup(PathOf(leaf).c_str(), &design, &error);
    return error;
  }

  // Loads into a record prefilled with 0xEE so that every change shows.
  TErrorRecord Load(const std::string& name, TDesignRecord& design) {
    std::memset(&design, 0xEE, sizeof(design));
    TErrorRecord error{};
    ZM_loadSetup(name.c_str(), &design, &error);
    return error;
  }

  // Expects the load of `name` to fail with `message` and the record untouched.
  void ExpectRefused(const std::string& name, const std::string& message) {
    SCOPED_TRACE(name);
    TDesignRecord design;
    TErrorRecord error = Load(name, design);
    EXPECT_EQ(error.Failed, 1);
    // The error record holds the first 128 characters.
    EXPECT_EQ(MessageOf(error), message.substr(0, ZM_MESSAGE_LENGTH));
    EXPECT_EQ(BytesOf(design), std::vector<uint8_t>(sizeof(TDesignRecord), 0xEE));
  }
};

// The air material, default group and ray count a load adds, applied by hand.
void Repair(TDesignRecord& expected, int airSlot, double airReflection) {
  if (airSlot >= 0) {
    TMaterialEntry& air = expected.Materials[airSlot];
    air.InUse = 1;
    test::DesignBuilder::SetText(air.Name, "** AIR **");
    air.Reflection = airReflection;
    air.Scatter = 0.0;
    for (int b = 0; b < ZM_BAND_COUNT; ++b) air.BandFactors[b] = 1.0;
  }
  if (expected.Groups[0].InUse == 0) {
    expected.Groups[0].InUse = 1;
    test::DesignBuilder::SetText(expected.Groups[0].Name, "** Default **");
    expected.Groups[0].DefaultMark = 1;
  }
  if (expected.DefaultRayCount == 0) expected.DefaultRayCount = 10000;
}

TEST_F(DesignFile, SaveAndLoadKeepEveryByte) {
  auto saved = RandomRecord(1);
  ASSERT_EQ(Save("room.zmd", *saved).Failed, 0);
  const std::vector<uint8_t> file = Get("room.zmd");
  ASSERT_GT(file.size(), 16u);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 8), std::string("ZMD5HRC\x1a", 8));

  TDesignRecord loaded;
  TErrorRecord error = Load(PathOf("room.zmd"), loaded);
  EXPECT_EQ(error.Failed, 0) << MessageOf(error);
  EXPECT_EQ(BytesOf(loaded), BytesOf(*saved));
}

TEST_F(DesignFile, LoadAddsAirMaterialDefaultGroupAndRayCount) {
  test::DesignBuilder design;
  design->AirAttenuation = 0.9995;
  design->DefaultRayCount = 0;
  design.AddMaterial("Brick");
  design.AddMaterial("Glass");
  // The free slot that receives the air keeps its reserved tail.
  std::memset(design->Materials[2].Reserved, 0x5A, sizeof(design->Materials[2].Reserved));
  test::DesignBuilder::SetText(design->Materials[2].Name, "stale name that is quite long");
  design->Groups[0].HostData[2] = 9;
  ASSERT_EQ(Save("room.zmd", design.Record()).Failed, 0);

  TDesignRecord loaded;
  ASSERT_EQ(Load(PathOf("room.zmd"), loaded).Failed, 0);
  TDesignRecord expected = design.Record();
  Repair(expected, 2, std::exp(75.0 * std::log(0.9995)));
  EXPECT_EQ(BytesOf(loaded), BytesOf(expected));
  EXPECT_NEAR(+loaded.Materials[2].Reflection, 0.96319, 1e-5);
  EXPECT_EQ(+loaded.DefaultRayCount, 10000);
  EXPECT_EQ(+loaded.Groups[0].DefaultMark, 1);
}

TEST_F(DesignFile, AirMaterialRules) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, const char*>> used;  // slot, name
    std::vector<std::pair<int, const char*>> free;
    double airAttenuation;
    int expectedSlot;  // -1: nothing added
    double expectedReflection;
  };
  const std::vector<Case> cases = {
      {"in-use air kept", {{0, "Brick"}, {4, "** AIR **"}}, {}, 0.9, -1, 0.0},
      {"free slot named air does not count and is the first free",
       {{1, "Brick"}},
       {{0, "** AIR **"}},
       0.9995,
       0,
       std::exp(75.0 * std::log(0.9995))},
      {"comparison is case-sensitive",
       {{0, "** air **"}},
       {},
       0.9,
       1,
       std::exp(75.0 * std::log(0.9))},
      {"zero attenuation gives zero", {{0, "Brick"}}, {}, 0.0, 1, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::DesignBuilder design;
    design->AirAttenuation = c.airAttenuation;
    for (auto [slot, name] : c.used) {
      design->Materials[slot].InUse = 1;
      design->Materials[slot].Reflection = 0.25;
      test::DesignBuilder::SetText(design->Materials[slot].Name, name);
    }
    for (auto [slot, name] : c.free)
      test::DesignBuilder::SetText(design->Materials[slot].Name, name);
    ASSERT_EQ(Save("room.zmd", design.Record()).Failed, 0);

    TDesignRecord loaded;
    ASSERT_EQ(Load(PathOf("room.zmd"), loaded).Failed, 0);
    TDesignRecord expected = design.Record();
    Repair(expected, c.expectedSlot, c.expectedReflection);
    EXPECT_EQ(BytesOf(loaded), BytesOf(expected));
  }
}

TEST_F(DesignFile, NoAirMaterialWhenEverySlotIsUsed) {
  auto record = RandomRecord(2);
  test::DesignBuilder::SetText(record->Materials[7].Name, "Not the air");
  ASSERT_EQ(Save("full.zmd", *record).Failed, 0);
  TDesignRecord loaded;
  ASSERT_EQ(Load(PathOf("full.zmd"), loaded).Failed, 0);
  EXPECT_EQ(BytesOf(loaded), BytesOf(*record));
}

TEST_F(DesignFile, NegativeAirAttenuationFailsAndLeavesTheRecord) {
  test::DesignBuilder design;
  design->AirAttenuation = -0.5;
  ASSERT_EQ(Save("room.zmd", design.Record()).Failed, 0);
  ExpectRefused(PathOf("room.zmd"), "Invalid floating point operation");
}

// Where each block of the record lived in the older layouts.
struct OldLayout {
  const char* magic;
  size_t settingsEnd;  // end of the settings prefix, in today's offsets
  size_t emitters, walls, points, materials, hostBlock, size;
};
const OldLayout kOldLayouts[] = {
    {"ZMD0", 182, 178, 518, 4568, 8768, 0, 12488},
    {"ZMD1", 186, 186, 526, 4576, 8776, 0, 12496},
    {"ZMD2", 202, 202, 542, 4592, 8792, 0, 12512},
    {"ZMD3", 202, 202, 542, 4592, 8792, 12512, 16608},
    {"ZMD4", 270, 270, 610, 4660, 8860, 12580, 16676},
};

// Lays out `source` in an older layout, keeping what that layout held.
std::vector<uint8_t> OldBlock(const OldLayout& layout, const TDesignRecord& source) {
  const uint8_t* in = reinterpret_cast<const uint8_t*>(&source);
  std::vector<uint8_t> block(layout.size, 0xC3);
  auto put = [&](size_t to, size_t from, size_t n) { std::memcpy(&block[to], in + from, n); };
  put(0, 0, 130);
  if (std::string(layout.magic) == "ZMD0") {
    const size_t fields[][3] = {{130, 130, 8}, {138, 138, 8}, {146, 146, 4}, {150, 154, 4},
                                {154, 158, 4}, {158, 162, 8}, {166, 170, 8}, {174, 178, 4}};
    for (const auto& f : fields) put(f[0], f[1], f[2]);
  } else {
    put(130, 130, layout.settingsEnd - 130);
  }
  for (size_t i = 0; i < 10; ++i) put(layout.emitters + 34 * i, 270 + 166 * i, 34);
  for (size_t i = 0; i < 150; ++i) put(layout.walls + 27 * i, 1930 + 47 * i, 27);
  put(layout.points, 8980, 4200);
  put(layout.materials, 13180, 3720);
  if (layout.hostBlock) put(layout.hostBlock, 16900, 4096);
  return block;
}

TEST_F(DesignFile, OlderLayoutsConvertWithTheirDefaults) {
  for (const OldLayout& layout : kOldLayouts) {
    SCOPED_TRACE(layout.magic);
    auto source = RandomRecord(3);
    test::DesignBuilder::SetText(source->Materials[7].Name, "Plain");
    source->Materials[5].InUse = 0;  // receives the air material
    const std::vector<uint8_t> block = OldBlock(layout, *source);
    PutBlockFile("old.zmd", layout.magic, block);

    TDesignRecord loaded;
    TErrorRecord error = Load(PathOf("old.zmd"), loaded);
    ASSERT_EQ(error.Failed, 0) << MessageOf(error);

    // What the old layout held survives; everything else is zero, but for
    // the two values zero would get wrong and the load repairs.
    TDesignRecord expected;
    std::memset(&expected, 0, sizeof(expected));
    uint8_t* out = reinterpret_cast<uint8_t*>(&expected);
    const uint8_t* in = reinterpret_cast<const uint8_t*>(source.get());
    std::memcpy(out, in, layout.settingsEnd);
    for (size_t i = 0; i < 10; ++i) std::memcpy(out + 270 + 166 * i, in + 270 + 166 * i, 34);
    for (size_t i = 0; i < 150; ++i) std::memcpy(out + 1930 + 47 * i, in + 1930 + 47 * i, 27);
    std::memcpy(out + 8980, in + 8980, 4200 + 3720);
    if (layout.hostBlock) std::memcpy(out + 16900, in + 16900, 4096);
    if (std::string(layout.magic) == "ZMD0") expected.BitsPerSample = 16;
    if (layout.settingsEnd < 202) expected.StereoWidth = 1.0;
    Repair(expected, 5, std::exp(75.0 * std::log(0.999)));
    EXPECT_EQ(BytesOf(loaded), BytesOf(expected));

    // The same, told field by field (packed fields are read by value).
    EXPECT_EQ(+loaded.Emitters[3].Group, 0);
    EXPECT_EQ(loaded.Emitters[3].UseDefaultRayCount, 0);
    EXPECT_EQ(+loaded.Walls[9].Pattern, 0);
    EXPECT_EQ(loaded.Groups[1].InUse, 0);
    EXPECT_EQ(+loaded.DefaultRayCount, layout.settingsEnd == 270 ? 777 : 10000);
    EXPECT_EQ(+loaded.Points[199].X, +source->Points[199].X);
    EXPECT_EQ(+loaded.WindowType, +source->WindowType);
  }
}

TEST_F(DesignFile, RefusesFilesThatAreNotDesigns) {
  const std::string path = FullOf("bad.zmd");
  Put("bad.zmd", {});
  ExpectRefused(PathOf("bad.zmd"), "Read past end of resource \"" + path + "\"");
  Put("bad.zmd", {'Z', 'M', 'D'});
  ExpectRefused(PathOf("bad.zmd"), "Read past end of resource \"" + path + "\"");
  Put("bad.zmd", {'z', 'm', 'd', '5', 'H', 'R', 'C', 0x1A, 0, 0, 0, 0, 0, 0, 0, 0});
  ExpectRefused(PathOf("bad.zmd"), "Invalid signature present in the specified file");
  Put("bad.zmd", {'Z', 'M', 'D', '6', 'H', 'R', 'C', 0x1A, 0, 0, 0, 0, 0, 0, 0, 0});
  ExpectRefused(PathOf("bad.zmd"), "Invalid signature present in the specified file");
  Put("bad.zmd", {'Z', 'M', 'D', '5', 'H', 'R', 'C', 0x1B, 0, 0, 0, 0, 0, 0, 0, 0});
  ExpectRefused(PathOf("bad.zmd"), "HRC block not found in resource \"" + path + "\" at pos 4");
  Put("bad.zmd", {'Z', 'M', 'D', '5', 'H', 'R', 'C'});
  ExpectRefused(PathOf("bad.zmd"), "Read past end of resource \"" + path + "\"");
  ExpectRefused("no-such-design.zmd", "Resource \"no-such-design.zmd\" not found");
}

TEST_F(DesignFile, RefusesTruncatedAndCorruptBlocks) {
  ASSERT_EQ(Save("room.zmd", *RandomRecord(4)).Failed, 0);
  std::vector<uint8_t> file = Get("room.zmd");
  Put("cut.zmd", std::vector<uint8_t>(file.begin(), file.end() - 1));
  ExpectRefused(PathOf("cut.zmd"), "Read past end of resource \"" + FullOf("cut.zmd") + "\"");
  // A block that claims one byte more than its tokens produce.
  file[8] = static_cast<uint8_t>(file[8] + 1);
  Put("cut.zmd", file);
  TDesignRecord design;
  TErrorRecord error = Load(PathOf("cut.zmd"), design);
  EXPECT_EQ(MessageOf(error).rfind("Corrupt HRC block in resource \"", 0), 0u);
  EXPECT_EQ(BytesOf(design), std::vector<uint8_t>(sizeof(TDesignRecord), 0xEE));
}

TEST_F(DesignFile, RefusesBlocksShorterThanTheirLayout) {
  const std::string path = FullOf("short.zmd");
  PutBlockFile("short.zmd", "ZMD5", std::vector<uint8_t>(33795, 1));
  ExpectRefused(
      PathOf("short.zmd"),
      "Design block of 33795 bytes is shorter than its layout of 33796 bytes (\"" + path + "\")");
  PutBlockFile("short.zmd", "ZMD2", std::vector<uint8_t>(12511, 1));
  ExpectRefused(
      PathOf("short.zmd"),
      "Design block of 12511 bytes is shorter than its layout of 12512 bytes (\"" + path + "\")");
  PutBlockFile("short.zmd", "ZMD0", {});
  ExpectRefused(
      PathOf("short.zmd"),
      "Design block of 0 bytes is shorter than its layout of 12488 bytes (\"" + path + "\")");

  // Bytes beyond the layout are ignored.
  auto record = RandomRecord(5);
  std::vector<uint8_t> longer = BytesOf(*record);
  longer.resize(longer.size() + 100, 0x77);
  PutBlockFile("long.zmd", "ZMD5", longer);
  TDesignRecord loaded;
  ASSERT_EQ(Load(PathOf("long.zmd"), loaded).Failed, 0);
  EXPECT_EQ(BytesOf(loaded), BytesOf(*record));
}

TEST_F(DesignFile, FailedSaveKeepsThePreviousFile) {
  auto first = RandomRecord(6);
  ASSERT_EQ(Save("room.zmd", *first).Failed, 0);
  const std::vector<uint8_t> before = Get("room.zmd");

  TErrorRecord error = Save("missing-folder/room.zmd", *RandomRecord(7));
  EXPECT_EQ(error.Failed, 1);
  EXPECT_EQ(MessageOf(error),
            ("File open error (\"" + FullOf("missing-folder/room.zmd") + "\", mode 3)")
                .substr(0, ZM_MESSAGE_LENGTH));

#if defined(__unix__)
  {
    // Random records barely compress: the write stops part-way.
    test::FileSizeLimit limit(4096);
    error = Save("room.zmd", *RandomRecord(8));
  }
  EXPECT_EQ(error.Failed, 1);
  const std::string message = MessageOf(error);
  EXPECT_TRUE(message.rfind("File write error", 0) == 0 || message.rfind("Disk full", 0) == 0)
      << message;
#endif
  EXPECT_EQ(Get("room.zmd"), before);
  TDesignRecord loaded;
  ASSERT_EQ(Load(PathOf("room.zmd"), loaded).Failed, 0);
  EXPECT_EQ(BytesOf(loaded), BytesOf(*first));
}

}  // namespace
}  // namespace zm
