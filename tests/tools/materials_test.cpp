// Materials from absorption coefficients: the conversion to record values,
// the catalogue against its sources, and the JSON forms that name them.
#include "lib/design/materials.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace zm::cli {
namespace {

constexpr double kSixBands[] = {125, 250, 500, 1000, 2000, 4000};

// The record's fields copied out of the packed entry, so that the checks
// bind no reference to a misaligned double.
struct Values {
  double reflection, scatter;
  std::array<double, ZM_BAND_COUNT> bands;
};

Values Unpack(const TMaterialEntry& m) {
  Values v{m.Reflection, m.Scatter, {}};
  std::memcpy(v.bands.data(), m.BandFactors, sizeof m.BandFactors);
  return v;
}

AbsorptionCurve SixBands(std::vector<double> alpha) {
  return {std::vector<double>(std::begin(kSixBands), std::end(kSixBands)), std::move(alpha)};
}

// Reflection carries the least absorbed band, so that the engine's stop on
// the broadband amplitude never cuts a band that is still loud.
TEST(MaterialConversion, ReflectionIsTheLoudestBandAndFactorsTheRest) {
  const TMaterialEntry m =
      MaterialFromAbsorption("Carpet", SixBands({0.02, 0.06, 0.14, 0.37, 0.60, 0.65}), 0);
  const Values v = Unpack(m);
  EXPECT_DOUBLE_EQ(v.reflection, std::sqrt(0.98));
  EXPECT_EQ(v.bands[0], 1.0);  // 0 Hz holds the 125 Hz value
  for (int b = 1; b < ZM_BAND_COUNT; ++b) EXPECT_LE(v.bands[b], v.bands[b - 1]);
  EXPECT_DOUBLE_EQ(v.reflection * v.bands[5], std::sqrt(0.35));  // 4 kHz exactly
  EXPECT_DOUBLE_EQ(v.bands[7], v.bands[5]);                      // flat above 4 kHz
}

TEST(MaterialConversion, InterpolatesOnALogFrequencyAxisAndHoldsTheEnds) {
  const AbsorptionCurve six = SixBands({0.1, 0.3, 0.3, 0.3, 0.3, 0.5});
  EXPECT_DOUBLE_EQ(InterpolateAbsorption(six, 0), 0.1);
  EXPECT_DOUBLE_EQ(InterpolateAbsorption(six, 21000), 0.5);
  EXPECT_DOUBLE_EQ(InterpolateAbsorption(six, 150), 0.1 + 0.2 * std::log2(150.0 / 125));
  EXPECT_DOUBLE_EQ(InterpolateAbsorption(six, 4000 / std::sqrt(2.0)), 0.4);
  const AbsorptionCurve eight = {{62.5, 125, 250, 500, 1000, 2000, 4000, 8000},
                                 {0.5, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.9}};
  EXPECT_DOUBLE_EQ(InterpolateAbsorption(eight, 0), 0.5);
  EXPECT_DOUBLE_EQ(InterpolateAbsorption(eight, 21000), 0.9);
}

// Read back at the octave centres through the engine's own band response
// (linear in frequency between band frequencies), a measured curve comes
// back within the interpolation's error: the recovered value lies between
// the neighbouring octaves' values.
TEST(MaterialConversion, MeasuredCurveRoundTripsWithinTheInterpolationError) {
  const std::vector<std::vector<double>> curves = {
      {0.02, 0.06, 0.14, 0.37, 0.60, 0.65},  // carpet on concrete
      {0.36, 0.44, 0.31, 0.29, 0.39, 0.25},  // coarse concrete block
      {0.22, 0.82, 0.99, 0.99, 0.99, 0.99},  // glass-fibre board
      {0.3, 0.3, 0.3, 0.3, 0.3, 0.3}};
  for (const auto& alpha : curves) {
    const TMaterialEntry m = MaterialFromAbsorption("M", SixBands(alpha), 0);
    for (size_t k = 0; k < alpha.size(); ++k) {
      const double below = alpha[k == 0 ? 0 : k - 1],
                   above = alpha[std::min(k + 1, alpha.size() - 1)];
      const double bound = std::max(std::fabs(alpha[k] - below), std::fabs(alpha[k] - above));
      EXPECT_NEAR(AbsorptionOfRecord(m, kSixBands[k]), alpha[k], bound + 1e-12)
          << kSixBands[k] << " Hz of " << ::testing::PrintToString(alpha);
    }
    EXPECT_NEAR(AbsorptionOfRecord(m, 4000), alpha[5], 1e-12);  // a band frequency itself
  }
}

TEST(MaterialConversion, ScatteringMapsToTheJitterOfTheSameAngularSpread) {
  EXPECT_EQ(ScatterFromScattering(0), 0.0);
  const double pi = std::numbers::pi;
  EXPECT_DOUBLE_EQ(ScatterFromScattering(1), std::sqrt(3 * pi * pi - 24));
  EXPECT_LT(ScatterFromScattering(1), pi);
  EXPECT_DOUBLE_EQ(ScatteringFromScatter(ScatterFromScattering(0.3)), 0.3);
}

TEST(MaterialCatalogue, HoldsCitedEntriesAndFindsThemByWords) {
  const MaterialCatalogue catalogue = MaterialCatalogue::BuiltIn();
  EXPECT_GE(catalogue.Entries().size(), 40u);
  EXPECT_EQ(catalogue.Bands(), std::vector<double>(std::begin(kSixBands), std::end(kSixBands)));
  for (const CatalogueSource& s : catalogue.Sources()) EXPECT_EQ(s.url.rfind("http", 0), 0u);
  ASSERT_EQ(catalogue.Search("brick painted").size(), 1u);
  EXPECT_EQ(catalogue.Search("BRICK  Painted"), catalogue.Search("brick painted"));
  EXPECT_EQ(catalogue.Search("").size(), catalogue.Entries().size());
  EXPECT_EQ(catalogue.Closest("brik-unglazed", 1), std::vector<std::string>{"brick-unglazed"});
}

class MaterialForms : public ::testing::Test {
 protected:
  MaterialCatalogue catalogue = MaterialCatalogue::BuiltIn();
  std::string loaded;
  MaterialFormContext context{&catalogue, "rooms", [this](const std::string& path) {
                                loaded = path;
                                TMaterialEntry m{};
                                m.InUse = 1;
                                std::strcpy(m.Name, "Oak");
                                m.Reflection = 0.9;
                                return m;
                              }};

  Json Lower(const std::string& text) {
    Json json = ParseJsonText(text, "test");
    LowerMaterialForms(json, context);
    return json;
  }

  std::string ErrorOf(const std::string& text) {
    try {
      Lower(text);
    } catch (const JsonFormatError& e) {
      return e.what();
    }
    return "no error";
  }
};

TEST_F(MaterialForms, BecomeRecordValuesTheJsonReaderTakes) {
  const Json design = Lower(R"({"materials": [
      {"catalogue": "brick-unglazed", "scattering": 0.5},
      {"name": "Drape", "slot": 4, "absorption": {"63": 0.1, "125": 0.1, "250": 0.2, "500": 0.3,
                                                  "1000": 0.4, "2000": 0.5, "4000": 0.6}},
      {"name": "Panel", "file": "oak.zmm"},
      {"name": "Plain", "reflection": 0.5, "bandFactors": 1}]})");
  const Json& m = design["materials"];
  EXPECT_EQ(m[0]["name"], "brick-unglazed");
  EXPECT_DOUBLE_EQ(m[0]["reflection"].get<double>(), std::sqrt(0.97));
  EXPECT_EQ(m[1]["slot"], 4);
  EXPECT_FALSE(m[1].contains("absorption"));
  EXPECT_EQ(loaded, "rooms/oak.zmm");
  EXPECT_EQ(m[3], ParseJsonText(R"({"name": "Plain", "reflection": 0.5, "bandFactors": 1})", "t"));
  TMaterialEntry single;
  MaterialFromJson(
      Lower(
          R"({"format": "zm-material", "name": "W", "absorption": [0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2, 0.2]})"),
      single);
  EXPECT_DOUBLE_EQ(Unpack(single).reflection, std::sqrt(0.8));
}

TEST_F(MaterialForms, RefusalsNameTheValue) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"materials": [{"name": "A", "absorption": [0.1, 0.2, 1.2, 0.1, 0.1, 0.1]}]})",
       "materials[0].absorption[2]: 1.2 is outside 0 to 1 (cap a measured coefficient above 1 at "
       "1)"},
      {R"({"materials": [{"name": "A", "absorption": [0.1, 0.2]}]})",
       "materials[0].absorption: expected 6 coefficients (125 Hz to 4 kHz) or 8 (63 Hz to 8 kHz), "
       "got 2"},
      {R"({"materials": [{"name": "A", "absorption": {"125": 0.1, "250": 0.1, "500": 0.1, "1000": 0.1, "4000": 0.1}}]})",
       "materials[0].absorption: missing the 2000 Hz band"},
      {R"({"materials": [{"name": "A", "absorption": {"1k": 0.1}}]})",
       "materials[0].absorption.1k: not an octave band (63, 125, 250, 500, 1000, 2000, 4000, "
       "8000)"},
      {R"({"materials": [{"absorption": [0, 0, 0, 0, 0, 0]}]})", "materials[0].name: missing"},
      {R"({"materials": [{}, {"catalogue": "brik-unglazed"}]})",
       "materials[1].catalogue: no catalogue material \"brik-unglazed\"; did you mean "
       "\"brick-unglazed\"? (zm materials lists them)"},
      {R"({"materials": [{"catalogue": "carpet", "reflection": 1}]})",
       "materials[0].reflection: give either \"catalogue\" or the record values, not both"},
      {R"({"materials": [{"catalogue": "carpet", "file": "x.zmm"}]})",
       "materials[0].file: give one of \"absorption\", \"catalogue\" and \"file\""},
      {R"({"materials": [{"name": "A", "reflection": 1, "bandFactors": 1, "scattering": 0.1}]})",
       "materials[0].scattering: goes with \"absorption\" or \"catalogue\""},
      {R"({"materials": [{"catalogue": "carpet", "scattering": -0.1}]})",
       "materials[0].scattering: -0.1 is outside 0 to 1"},
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(ErrorOf(text), message) << text;
}

}  // namespace
}  // namespace zm::cli
