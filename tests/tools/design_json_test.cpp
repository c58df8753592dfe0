// The JSON form of designs: loss-free round trips and error messages that
// name the offending value.
#include "lib/design/design_json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "design_builder.h"
#include "lib/design/room_height.h"

namespace zm::cli {
namespace {

using Record = std::unique_ptr<TDesignRecord>;

Record RandomRecord(uint32_t seed) {
  Record r = std::make_unique<TDesignRecord>();
  std::mt19937 random(seed);
  auto* bytes = reinterpret_cast<uint8_t*>(r.get());
  for (size_t i = 0; i < sizeof(TDesignRecord); ++i) bytes[i] = uint8_t(random());
  return r;
}

Record ThroughJsonText(const TDesignRecord& r) {
  const std::string text = FormatJson(DesignToJson(r));
  Record back = std::make_unique<TDesignRecord>();
  DesignFromJson(ParseJsonText(text, "test"), *back);
  return back;
}

void ExpectSameBytes(const TDesignRecord& a, const TDesignRecord& b) {
  const auto* pa = reinterpret_cast<const uint8_t*>(&a);
  const auto* pb = reinterpret_cast<const uint8_t*>(&b);
  for (size_t i = 0; i < sizeof(TDesignRecord); ++i) {
    if (pa[i] != pb[i]) {
      ADD_FAILURE() << "records differ first at byte " << i;
      return;
    }
  }
}

// Plausible designs read from JSON (natural point numbering) come back byte
// for byte under the design JSON fuzzer; these exercise the explicit points
// table and every stale byte.
TEST(DesignJson, RandomRecordsSurviveRecordToJsonToRecord) {
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE("random record " + std::to_string(seed));
    Record r = RandomRecord(seed);
    ExpectSameBytes(*r, *ThroughJsonText(*r));
  }
}

TEST(DesignJson, HandWrittenDesignReadsAsMeantAndWritesBackTheSame) {
  const std::string text = R"({
  "format": "zm-design",
  "title": "Box",
  "options": {"sampleRate": 48000, "randomSeed": 7},
  "materials": [
    {"name": "Wall", "reflection": 0.9, "scatterDeg": 10, "bandFactors": [1, 1, 0.9, 0.9, 0.8, 0.8, 0.7, 0.7]},
    {"slot": 3, "name": "Mic", "reflection": 1.0, "bandFactors": 1.0}
  ],
  "walls": [
    {"from": [0.0, 0.0], "to": [4.0, 0.0], "material": "Wall"},
    {"from": [4.0, 0.0], "to": [4.0, 3.0], "material": "Wall"},
    {"slot": 9, "from": [2.0, 1.0], "to": [2.0, 1.2], "material": "Mic", "passThrough": true, "receiver": true, "channel": 1, "pattern": 2}
  ],
  "emitters": [{"at": [1.0, 1.0], "directionDeg": 90, "spreadDeg": 45.5, "rayCount": 500, "group": 2}],
  "groups": [{"name": "Default"}, {"slot": 2, "name": "Lectern"}]
})";
  const Json json = ParseJsonText(text, "test");
  TDesignRecord r;
  DesignFromJson(json, r);
  EXPECT_EQ(+r.BitsPerSample, 24);  // a default
  EXPECT_EQ(+r.Materials[3].InUse, 1);
  EXPECT_DOUBLE_EQ(+r.Materials[0].Scatter, 10 * std::numbers::pi / 180);
  // Points are numbered in order of first use, equal coordinates shared.
  EXPECT_EQ(+r.Walls[0].StartPoint, 0);
  EXPECT_EQ(+r.Walls[0].EndPoint, 1);
  EXPECT_EQ(+r.Walls[1].StartPoint, 1);
  EXPECT_EQ(+r.Walls[9].StartPoint, 3);
  EXPECT_EQ(+r.Walls[9].Material, 3);
  EXPECT_EQ(+r.Emitters[0].Point, 5);
  EXPECT_DOUBLE_EQ(+r.Emitters[0].Direction, std::numbers::pi / 2);

  const Json back = DesignToJson(r);
  EXPECT_EQ(back["emitters"][0]["directionDeg"], 90.0);
  EXPECT_EQ(back["walls"][2]["slot"], 9);
  EXPECT_FALSE(back.contains("points"));
  // Written back and read again, the JSON is stable.
  TDesignRecord again;
  DesignFromJson(back, again);
  EXPECT_EQ(DesignToJson(again), back);
}

TEST(DesignJson, PointsOutOfFirstUseOrderKeepTheirSlots) {
  test::DesignBuilder b;
  const int m = b.AddMaterial("M");
  b.AddWall(0, 0, 1, 0, m);
  b.AddWall(1, 0, 1, 1, m);
  b.Wall(0).StartPoint = 2;  // points 0 and 2 swapped against first use
  b.Record().Points[2] = b.Record().Points[0];
  b.Record().Points[0].X = 1;
  b.Record().Points[0].Y = 1;
  b.Wall(1).EndPoint = 0;
  b.Record().Points[5].X = 0;  // a stray point: all its bytes must survive
  b.Record().Points[5].HostData[1] = 9;
  const Json json = DesignToJson(b.Record());
  ASSERT_TRUE(json.contains("points"));
  TDesignRecord back;
  DesignFromJson(json, back);
  ExpectSameBytes(b.Record(), back);
}

std::string ErrorOf(const std::string& text) {
  try {
    TDesignRecord r;
    DesignFromJson(ParseJsonText(text, "design.json"), r);
  } catch (const JsonFormatError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(DesignJson, MistakesAreReportedWithTheirPath) {
  const std::string walls =
      R"({"materials": [{"name": "M", "reflection": 0.9, "bandFactors": 1}], "walls": [)";
  const std::string wall = R"({"from": [0, 0], "to": [1, 0], "material": )";
  const std::string emitter = R"({"emitters": [{"directionDeg": 0, "spreadDeg": 0, )";
  // Each message starts as given (some go on to say what was expected). A
  // misspelt key is named, with the key meant, even where the one meant is
  // required and so is missing too.
  const std::pair<std::string, std::string> cases[] = {
      {walls + wall + R"("M"}, )" + wall + R"("M"}, )" + wall + "3}]}",
       "walls[2].material: expected a string, got number"},
      {walls + wall + R"("M", "colour": "red"}]})", "walls[0].colour: unknown key"},
      {walls + wall + R"("N"}]})", "walls[0].material: no material named \"N\""},
      {R"({"options": {"sampleRate": 44100.5}})",
       "options.sampleRate: expected an integer, got 44100.5"},
      {R"({"optoins": {}})", "optoins: unknown key (did you mean \"options\"?)"},
      {emitter + R"("at": [0, 0], "rayCout": 1}]})",
       "emitters[0].rayCout: unknown key (did you mean \"rayCount\"?)"},
      {R"({"materials": [{"name": "M", "reflection": 0.9, "bandFactors": [1, 2]}]})",
       "materials[0].bandFactors: expected 8"},
      {emitter + R"("at": [0], "rayCount": 1}]})",
       "emitters[0].at: expected [x, y], got an array of 1"},
      {emitter + R"("at": [0, 0], "direction": 0, "rayCount": 1}]})",
       "emitters[0].direction: give either \"directionDeg\" or \"direction\", not both"},
      {R"({"groups": [{"name": "a"}, {"slot": 0, "name": "b"}]})",
       "groups[1].slot: slot 0 is given twice"},
      {R"({"hostBlock": "AAAA"})", "hostBlock: expected 4096 bytes, got 3"},
      {R"({"title": ")" + std::string(66, 'x') + "\"}", "title: longer than 65 characters"},
      {"{\"title\": 1,}", "design.json:"},
      // A key given twice, found after nested arrays and objects.
      {walls + wall + R"("M"}, )" + wall + R"("M", "material": "M"}]})",
       "design.json: walls[1].material: the key is given twice"},
      {R"({"materials": [{"bandFactors": [1, [2, {}], 3], "name": "M", "name": "N"}]})",
       "design.json: materials[0].name: the key is given twice"},
  };
  for (const auto& [text, message] : cases) {
    EXPECT_EQ(ErrorOf(text).substr(0, message.size()), message) << text;
  }
}

// A 4 m x 3 m box with walls of 0.9 and a height: the floor named from the
// materials, the ceiling given in place.
const std::string kTallBox = R"({
  "format": "zm-design",
  "options": {"airAttenuation": 0.999},
  "height": 2.5,
  "floor": "Wall",
  "ceiling": {"name": "Tiles", "reflection": 0.6, "bandFactors": [1, 1, 1, 0.9, 0.8, 0.8, 0.8, 0.8]},
  "materials": [
    {"name": "Wall", "reflection": 0.9, "scatterDeg": 10, "bandFactors": [1, 1, 0.9, 0.9, 0.8, 0.8, 0.7, 0.7]},
    {"name": "Mic", "reflection": 1.0, "bandFactors": 1.0}
  ],
  "walls": [
    {"from": [0.0, 0.0], "to": [4.0, 0.0], "material": "Wall"},
    {"from": [4.0, 0.0], "to": [4.0, 3.0], "material": "Wall"},
    {"from": [4.0, 3.0], "to": [0.0, 3.0], "material": "Wall"},
    {"from": [0.0, 3.0], "to": [0.0, 0.0], "material": "Wall"},
    {"from": [2.0, 1.0], "to": [2.0, 1.2], "material": "Mic", "passThrough": true, "receiver": true}
  ],
  "emitters": [{"at": [1.0, 1.0], "directionDeg": 0, "spreadDeg": 360, "rayCount": 500}]
})";

TEST(DesignJson, HeightFoldsIntoTheMaterialsAndComesBack) {
  const Json given = ParseJsonText(kTallBox, "test");
  TDesignRecord r;
  DesignFromJson(given, r);
  // Walls keep a^(pi/4) per band; the air, created in the first free slot,
  // carries the floor and ceiling: (a_f a_c)^(75 / 4H) per 75 m.
  const double wall[] = {1, 1, 0.9, 0.9, 0.8, 0.8, 0.7, 0.7};
  const double tiles[] = {1, 1, 1, 0.9, 0.8, 0.8, 0.8, 0.8};
  ASSERT_EQ(NameText(r.Materials[2].Name), ZM_AIR_MATERIAL_NAME);
  for (int b = 0; b < ZM_BAND_COUNT; ++b) {
    EXPECT_NEAR(BandAmplitude(r.Materials[0], b), std::pow(0.9 * wall[b], std::numbers::pi / 4),
                1e-12);
    EXPECT_DOUBLE_EQ(BandAmplitude(r.Materials[1], b), 1.0);
    const double air =
        std::pow(0.999, 75) * std::pow(0.9 * wall[b] * 0.6 * tiles[b], 75 / (4 * 2.5));
    EXPECT_NEAR(BandAmplitude(r.Materials[2], b), air, 1e-12 * air) << b;
  }
  for (int b = 0; b < ZM_BAND_COUNT; ++b) EXPECT_LE(+r.Materials[2].BandFactors[b], 1.0);

  // Written out, the design is the one given; read back, the same bytes.
  const Json back = DesignToJson(r);
  EXPECT_EQ(back["height"], 2.5);
  EXPECT_EQ(back["floor"]["name"], "Wall");
  EXPECT_EQ(back["ceiling"]["reflection"], 0.6);
  ASSERT_EQ(back["materials"].size(), 2u);
  EXPECT_EQ(back["materials"][0]["reflection"], 0.9);
  EXPECT_EQ(back["materials"][0]["bandFactors"], given["materials"][0]["bandFactors"]);
  ExpectSameBytes(r, *ThroughJsonText(r));

  // A host that changes a material after the fold gets its record kept as
  // bytes, not a design the record no longer is.
  TDesignRecord edited = r;
  edited.Materials[0].Reflection = 0.5;
  EXPECT_FALSE(DesignToJson(edited).contains("height"));
  ExpectSameBytes(edited, *ThroughJsonText(edited));

  // The plan alone leaves the record as it was, host block included.
  Json flat = given;
  for (const char* key : {"height", "floor", "ceiling"}) flat.erase(key);
  TDesignRecord plain;
  DesignFromJson(flat, plain);
  EXPECT_EQ(+plain.Materials[0].Reflection, 0.9);
  EXPECT_FALSE(+plain.Materials[2].InUse);
  EXPECT_TRUE(json_text::AllZero(plain.HostBlock, sizeof plain.HostBlock));
}

TEST(DesignJson, HeightMistakesAreRefused) {
  Json base = ParseJsonText(kTallBox, "test");
  auto errorOf = [&](const std::function<void(Json&)>& change) {
    Json j = base;
    change(j);
    return ErrorOf(FormatJson(j));
  };
  EXPECT_EQ(errorOf([](Json& j) { j.erase("height"); }).substr(0, 5), "floor");
  EXPECT_EQ(errorOf([](Json& j) { j["height"] = 0; }).substr(0, 20), "height: must be a fi");
  EXPECT_EQ(errorOf([](Json& j) { j.erase("ceiling"); }).substr(0, 8), "ceiling:");
  EXPECT_EQ(errorOf([](Json& j) { j["floor"] = "Carpet"; }),
            "floor: no material named \"Carpet\" in \"materials\"");
  EXPECT_EQ(errorOf([](Json& j) { j["ceiling"]["reflection"] = 1.2; }).substr(0, 24),
            "ceiling: keeps 1.2 of th");
  EXPECT_EQ(errorOf([](Json& j) { j["options"]["airAttenuation"] = -1; }).substr(0, 27),
            "options.airAttenuation: the");
  std::string host(ZM_HOST_BLOCK_SIZE, '\0');
  host[kHeightTagOffset] = 1;
  EXPECT_EQ(errorOf([&](Json& j) {
              j["hostBlock"] = json_text::Base64Encode(
                  reinterpret_cast<const uint8_t*>(host.data()), host.size());
            }).substr(0, 30),
            "hostBlock: bytes 2048 to 4095 ");
  EXPECT_EQ(errorOf([](Json& j) {
              std::string name = "M";
              for (int i = 2; i < ZM_MATERIAL_SLOTS; ++i) {
                name += "+";
                j["materials"].push_back({{"name", name}, {"reflection", 1}, {"bandFactors", 1}});
              }
            }).substr(0, 44),
            "height: the floor and ceiling go into the \"*");
}

}  // namespace
}  // namespace zm::cli
