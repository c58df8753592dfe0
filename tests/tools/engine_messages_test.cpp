// Messages about record slots turned back into the JSON paths of a design.
#include "lib/checks/engine_messages.h"

#include <gtest/gtest.h>

#include <string>

namespace zm::cli {
namespace {

// Materials in slots 0 and 3 (the second with one factor per band), walls
// in slots 0 and 5, an emitter given in degrees.
constexpr const char* kDesign = R"({
  "materials": [
    {"name": "M", "reflection": 0.9, "bandFactors": 1},
    {"slot": 3, "name": "N", "reflection": 0.9, "bandFactors": [1, 1, 1, 1, 1, 1, 1, 1]}],
  "walls": [
    {"from": [0, 0], "to": [1, 0], "material": "M"},
    {"slot": 5, "from": [1, 0], "to": [1, 1], "material": "N", "receiver": true}],
  "emitters": [{"at": [0.5, 0.5], "directionDeg": 0, "spreadDeg": 90, "rayCount": 10}]
})";

TEST(EngineMessages, SlotsAndDuplicateNamesBecomeThePathsOfWhatWasWritten) {
  TDesignRecord record;
  JsonOrigins origins;
  DesignFromJson(ParseJsonText(kDesign, "test"), record, &origins);
  const std::pair<const char*, const char*> cases[] = {
      {"Wall 5: channel 9 is outside 0 to 7", "walls[1].channel: channel 9 is outside 0 to 7"},
      {"Wall 5: end points are too far apart", "walls[1]: end points are too far apart"},
      {"Point 2: coordinates are not finite numbers",
       "walls[1].to: coordinates are not finite numbers"},
      {"Emitter 0: direction is not a finite number",
       "emitters[0].directionDeg: direction is not a finite number"},
      {"Material 3: band factor 6 is not a finite number",
       "materials[1].bandFactors[6]: band factor 6 is not a finite number"},
      {"Material 0: band factor 6 is not a finite number",
       "materials[0].bandFactors: band factor 6 is not a finite number"},
      {"Sample rate 900000 is above 768000",
       "options.sampleRate: Sample rate 900000 is above 768000"},
      {"Random number generator parameters out of range",
       "options.randomSeed: Random number generator parameters out of range"},
      // Slots the JSON never listed, and messages that name no slot, stay.
      {"Wall 7: gain is not a finite number", "Wall 7: gain is not a finite number"},
      {"Invalid floating point operation", "Invalid floating point operation"},
  };
  for (const auto& [engine, user] : cases) {
    EXPECT_EQ(DescribeForUser(engine, record, &origins), user);
    // A design file's users know the slots.
    EXPECT_EQ(DescribeForUser(engine, record, nullptr), engine);
  }
  std::memcpy(record.Materials[3].Name, "M", 2);
  EXPECT_EQ(DescribeForUser("Duplicate BBTree item", record, &origins),
            "materials[0] and materials[1] are both named \"M\" (Duplicate BBTree item)");
  EXPECT_EQ(DescribeForUser("Duplicate BBTree item", record, nullptr),
            "material 0 and material 3 are both named \"M\" (Duplicate BBTree item)");
}

}  // namespace
}  // namespace zm::cli
