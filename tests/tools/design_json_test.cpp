// The JSON form of designs: loss-free round trips and error messages that
// name the offending value.
#include "lib/design/design_json.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "design_builder.h"

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
  };
  for (const auto& [text, message] : cases) {
    EXPECT_EQ(ErrorOf(text).substr(0, message.size()), message) << text;
  }
}

TEST(DesignJson, NamesKeepEveryByteAndNonFiniteNumbersSurvive) {
  test::DesignBuilder b;
  const int m = b.AddMaterial(std::string("\xff\x01 65 characters long", 21));
  std::memset(b.Material(m).Name, 'n', ZM_NAME_LENGTH);  // no terminating zero
  b.Record().Title[0] = 'T';
  b.Record().Title[10] = 'x';  // stale byte after the terminator
  b.Record().Balance = std::numeric_limits<double>::quiet_NaN();
  b.Record().StereoWidth = -std::numeric_limits<double>::infinity();
  b.Record().MinAmplitude = -0.0;
  b.AddWall(0, 0, 1, 0, m);
  const Json json = DesignToJson(b.Record());
  EXPECT_EQ(json["materials"][0]["name"], std::string(65, 'n'));
  EXPECT_TRUE(json.contains("titleBytes"));
  TDesignRecord back;
  DesignFromJson(ParseJsonText(FormatJson(json), "test"), back);
  ExpectSameBytes(b.Record(), back);
}

}  // namespace
}  // namespace zm::cli
