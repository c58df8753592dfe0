// libzmtool's C interface: outcomes as codes and messages, allocated text
// released by the caller, nothing written on failure.
#include "zm/zmtool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr const char* kRoom = R"({"format": "zm-design",
  "materials": [{"catalogue": "brick-unglazed", "name": "Brick"},
                {"name": "Mic", "reflection": 1, "bandFactors": 1}],
  "walls": [{"from": [0, 0], "to": [4, 0], "material": "Brick"},
            {"from": [4, 0], "to": [4, 3], "material": "Brick"},
            {"from": [4, 3], "to": [0, 3], "material": "Brick"},
            {"from": [0, 3], "to": [0, 0], "material": "Brick"},
            {"from": [3, 1], "to": [3, 1.3], "material": "Mic", "passThrough": true,
             "receiver": true, "channel": CHANNEL}],
  "emitters": [{"at": [1, 1.5], "directionDeg": 0, "spreadDeg": 360, "rayCount": 100}]})";

std::string Room(int channel) {
  const std::string text = kRoom;
  const size_t at = text.find("CHANNEL");
  return text.substr(0, at) + std::to_string(channel) + text.substr(at + 7);
}

TEST(ZmTool, DesignsRoundTripAndRefusalsNameTheJsonPath) {
  auto design = std::make_unique<TDesignRecord>();
  char message[256] = "";
  ASSERT_EQ(zmtool_design_from_json(Room(0).c_str(), nullptr, design.get(), message, 256),
            ZMTOOL_OK)
      << message;
  char* json = nullptr;
  ASSERT_EQ(zmtool_design_to_json(design.get(), &json, message, 256), ZMTOOL_OK);
  auto again = std::make_unique<TDesignRecord>();
  EXPECT_EQ(zmtool_design_from_json(json, "", again.get(), message, 256), ZMTOOL_OK);
  EXPECT_EQ(std::memcmp(design.get(), again.get(), sizeof(TDesignRecord)), 0);
  zmtool_free(json);
  EXPECT_EQ(zmtool_check_design(design.get(), nullptr, 0, message, 256), ZMTOOL_OK);

  const std::string bad = Room(9);
  ASSERT_EQ(zmtool_design_from_json(bad.c_str(), nullptr, design.get(), message, 256), ZMTOOL_OK);
  EXPECT_EQ(zmtool_check_design(design.get(), bad.c_str(), 0, message, 256), ZMTOOL_REFUSED);
  EXPECT_NE(std::string(message).find("walls[4].channel"), std::string::npos) << message;
  // A short buffer gets the start of the message, terminated.
  char tiny[6];
  EXPECT_EQ(zmtool_check_design(design.get(), nullptr, 0, tiny, sizeof tiny), ZMTOOL_REFUSED);
  EXPECT_EQ(std::strlen(tiny), 5u);
}

TEST(ZmTool, BadInputIsReportedAndLeavesOutputsAlone) {
  TMaterialEntry material{};
  material.Reflection = 0.5;
  char message[128] = "";
  EXPECT_EQ(
      zmtool_material_from_json(R"({"catalogue": "brick"})", nullptr, &material, message, 128),
      ZMTOOL_BAD_INPUT);
  EXPECT_NE(std::string(message).find("did you mean"), std::string::npos) << message;
  EXPECT_EQ(double{material.Reflection}, 0.5);  // a copy: the field is packed
  EXPECT_EQ(zmtool_design_from_json(nullptr, nullptr, nullptr, nullptr, 0), ZMTOOL_BAD_INPUT);
  double* out = nullptr;
  size_t frames = 7;
  int channels = 0;
  const double dry[3] = {1, 0, 0};
  EXPECT_EQ(zmtool_auralise(dry, 1, 3, 48000, dry, 3, 1, 48000, nullptr, &out, &frames, &channels,
                            nullptr, message, 128),
            ZMTOOL_BAD_INPUT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(frames, 7u);
  EXPECT_EQ(zmtool_analyze(dry, 3, 1, 0, nullptr, message, 128), ZMTOOL_BAD_INPUT);
}

}  // namespace
