#include "lib/design/materials.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <stdexcept>

namespace zm::cli {

// The text of tools/materials.json, compiled in (material_catalogue_data.cpp
// is generated from it), so that the tool needs no data folder at run time.
extern const char kMaterialCatalogueJson[];

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw JsonFormatError((path.empty() ? "(top level)" : path) + ": " + what);
}

std::string Join(const std::string& path, const std::string& key) {
  return path.empty() ? key : path + "." + key;
}

std::string Index(const std::string& path, size_t i) {
  return path + "[" + std::to_string(i) + "]";
}

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Number(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

// ---------------------------------------------------------------------------
// Conversion

// The variance of the outgoing angle of a 2D Lambert (cosine) reflection
// at normal incidence, pi^2/4 - 2 rad^2; a uniform jitter of width w has
// variance w^2 / 12.
constexpr double kLambertVariance = std::numbers::pi * std::numbers::pi / 4 - 2;

double AmplitudeOf(double alpha) {
  return std::sqrt(1 - alpha);
}

}  // namespace

double InterpolateAbsorption(const AbsorptionCurve& curve, double frequency) {
  const auto& f = curve.frequencies;
  const auto& a = curve.alpha;
  if (frequency <= f.front()) return a.front();
  if (frequency >= f.back()) return a.back();
  const size_t upper = size_t(std::upper_bound(f.begin(), f.end(), frequency) - f.begin());
  const size_t lower = upper - 1;
  const double t = std::log2(frequency / f[lower]) / std::log2(f[upper] / f[lower]);
  return a[lower] + t * (a[upper] - a[lower]);
}

double ScatterFromScattering(double scattering) {
  return std::sqrt(12 * kLambertVariance * scattering);
}

double ScatteringFromScatter(double scatter) {
  return scatter * scatter / (12 * kLambertVariance);
}

TMaterialEntry MaterialFromAbsorption(const std::string& name, const AbsorptionCurve& curve,
                                      double scattering) {
  TMaterialEntry m;
  std::memset(&m, 0, sizeof m);
  m.InUse = 1;
  std::memcpy(m.Name, name.data(), std::min<size_t>(name.size(), ZM_NAME_LENGTH));
  double amplitude[ZM_BAND_COUNT];
  double loudest = 0;
  for (int b = 0; b < ZM_BAND_COUNT; ++b) {
    amplitude[b] = AmplitudeOf(InterpolateAbsorption(curve, kBandFrequencies[b]));
    loudest = std::max(loudest, amplitude[b]);
  }
  // The engine ends a ray on its broadband amplitude alone, so Reflection
  // carries the loss of the least absorbed band: a ray then stops only when
  // every band has fallen below the threshold, and no band is cut early.
  m.Reflection = loudest;
  for (int b = 0; b < ZM_BAND_COUNT; ++b) {
    m.BandFactors[b] = loudest > 0 ? amplitude[b] / loudest : 0;
  }
  m.Scatter = ScatterFromScattering(scattering);
  return m;
}

double AbsorptionOfRecord(const TMaterialEntry& material, double frequency) {
  const double* f = kBandFrequencies;
  double factor = material.BandFactors[ZM_BAND_COUNT - 1];
  for (int b = 0; b + 1 < ZM_BAND_COUNT; ++b) {
    if (frequency < f[b + 1]) {
      const double t = std::max(0.0, (frequency - f[b]) / (f[b + 1] - f[b]));
      factor =
          material.BandFactors[b] + t * (material.BandFactors[b + 1] - material.BandFactors[b]);
      break;
    }
  }
  const double amplitude = material.Reflection * factor;
  return 1 - amplitude * amplitude;
}

// ---------------------------------------------------------------------------
// Catalogue

MaterialCatalogue MaterialCatalogue::BuiltIn() {
  return Parse(kMaterialCatalogueJson);
}

MaterialCatalogue MaterialCatalogue::Parse(const std::string& text) {
  const Json json = ParseJsonText(text, "material catalogue");
  MaterialCatalogue catalogue;
  try {
    catalogue.bands_ = json.at("bands").get<std::vector<double>>();
    for (const auto& [key, source] : json.at("sources").items()) {
      catalogue.sources_.push_back(
          {key, source.at("title").get<std::string>(), source.at("url").get<std::string>()});
    }
  } catch (const nlohmann::json::exception& e) {
    Fail("catalogue", e.what());
  }
  const Json& materials = json.at("materials");
  for (size_t i = 0; i < materials.size(); ++i) {
    const std::string path = Index("materials", i);
    CatalogueEntry entry;
    try {
      const Json& m = materials[i];
      entry = {m.at("id").get<std::string>(),       m.at("name").get<std::string>(),
               m.at("category").get<std::string>(), m.at("source").get<std::string>(),
               m.at("row").get<std::string>(),      m.at("absorption").get<std::vector<double>>()};
    } catch (const nlohmann::json::exception& e) {
      Fail(path, e.what());
    }
    if (entry.absorption.size() != catalogue.bands_.size()) Fail(path, "wrong number of bands");
    if (catalogue.Source(entry.source) == nullptr) Fail(path, "unknown source " + entry.source);
    if (catalogue.Find(entry.id) != nullptr) Fail(path, "duplicate id " + entry.id);
    catalogue.entries_.push_back(std::move(entry));
  }
  return catalogue;
}

const CatalogueEntry* MaterialCatalogue::Find(const std::string& id) const {
  for (const CatalogueEntry& e : entries_) {
    if (e.id == id) return &e;
  }
  return nullptr;
}

const CatalogueSource* MaterialCatalogue::Source(const std::string& key) const {
  for (const CatalogueSource& s : sources_) {
    if (s.key == key) return &s;
  }
  return nullptr;
}

std::vector<const CatalogueEntry*> MaterialCatalogue::Search(const std::string& query) const {
  std::vector<std::string> words;
  std::string word;
  for (char c : Lower(query) + " ") {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  std::vector<const CatalogueEntry*> found;
  for (const CatalogueEntry& e : entries_) {
    const std::string text = Lower(e.id + " " + e.name + " " + e.category + " " + e.row);
    if (std::all_of(words.begin(), words.end(),
                    [&](const std::string& w) { return text.find(w) != std::string::npos; })) {
      found.push_back(&e);
    }
  }
  return found;
}

AbsorptionCurve MaterialCatalogue::Curve(const CatalogueEntry& entry) const {
  return {bands_, entry.absorption};
}

namespace {

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::vector<std::string> MaterialCatalogue::Closest(const std::string& id, size_t count) const {
  std::vector<std::pair<size_t, std::string>> ranked;
  for (const CatalogueEntry& e : entries_) ranked.emplace_back(EditDistance(Lower(id), e.id), e.id);
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> ids;
  for (size_t i = 0; i < ranked.size() && i < count; ++i) ids.push_back(ranked[i].second);
  return ids;
}

// ---------------------------------------------------------------------------
// Lowering JSON material forms

namespace {

constexpr const char* kForms[] = {"absorption", "catalogue", "file"};
constexpr const char* kRecordKeys[] = {"reflection", "scatter", "scatterDeg", "bandFactors"};

double ReadFraction(const Json& value, const std::string& path, const char* what) {
  if (!value.is_number()) Fail(path, std::string("expected ") + what + " (0 to 1)");
  const double v = value.get<double>();
  if (!(v >= 0 && v <= 1)) {
    Fail(path, Number(v) + " is outside 0 to 1" +
                   (v > 1 ? " (cap a measured coefficient above 1 at 1)" : ""));
  }
  return v;
}

// An array of 6 (125 Hz to 4 kHz) or 8 (63 Hz to 8 kHz) coefficients, or
// an object keyed by the octave labels; 125 Hz to 4 kHz are required.
AbsorptionCurve ReadAbsorption(const Json& value, const std::string& path) {
  AbsorptionCurve curve;
  if (value.is_array()) {
    if (value.size() != 6 && value.size() != 8) {
      Fail(path, "expected 6 coefficients (125 Hz to 4 kHz) or 8 (63 Hz to 8 kHz), got " +
                     std::to_string(value.size()));
    }
    const int first = value.size() == 6 ? 1 : 0;
    for (size_t i = 0; i < value.size(); ++i) {
      curve.frequencies.push_back(kAbsorptionOctaves[first + int(i)]);
      curve.alpha.push_back(ReadFraction(value[i], Index(path, i), "an absorption coefficient"));
    }
    return curve;
  }
  if (!value.is_object()) Fail(path, "expected an array or an object of coefficients");
  for (auto it = value.begin(); it != value.end(); ++it) {
    const auto* label =
        std::find(std::begin(kAbsorptionOctaveLabels), std::end(kAbsorptionOctaveLabels), it.key());
    if (label == std::end(kAbsorptionOctaveLabels)) {
      Fail(Join(path, it.key()), "not an octave band (63, 125, 250, 500, 1000, 2000, 4000, 8000)");
    }
  }
  for (int k = 0; k < kAbsorptionOctaveCount; ++k) {
    const auto it = value.find(kAbsorptionOctaveLabels[k]);
    if (it == value.end()) {
      if (k >= 1 && k <= 6)
        Fail(path, std::string("missing the ") + kAbsorptionOctaveLabels[k] + " Hz band");
      continue;
    }
    curve.frequencies.push_back(kAbsorptionOctaves[k]);
    curve.alpha.push_back(
        ReadFraction(*it, Join(path, kAbsorptionOctaveLabels[k]), "an absorption coefficient"));
  }
  return curve;
}

std::string ReadString(const Json& value, const std::string& path) {
  if (!value.is_string()) Fail(path, "expected a string");
  return value.get<std::string>();
}

double ReadScattering(const Json& entry, const std::string& path) {
  const auto it = entry.find("scattering");
  return it == entry.end() ? 0.0 : ReadFraction(*it, Join(path, "scattering"), "a coefficient");
}

TMaterialEntry FromCatalogue(const Json& entry, const std::string& path,
                             const MaterialFormContext& context) {
  const std::string id = ReadString(entry["catalogue"], Join(path, "catalogue"));
  const CatalogueEntry* found = context.catalogue->Find(id);
  if (found == nullptr) {
    const auto near = context.catalogue->Closest(id, 1);
    Fail(Join(path, "catalogue"), "no catalogue material \"" + id + "\"" +
                                      (near.empty() ? "" : "; did you mean \"" + near[0] + "\"?") +
                                      " (zm materials lists them)");
  }
  return MaterialFromAbsorption(id, context.catalogue->Curve(*found), ReadScattering(entry, path));
}

TMaterialEntry FromFile(const Json& entry, const std::string& path,
                        const MaterialFormContext& context) {
  if (entry.contains("scattering")) {
    Fail(Join(path, "scattering"), "a material file brings its own scatter");
  }
  std::filesystem::path file = ReadString(entry["file"], Join(path, "file"));
  if (file.is_relative() && !context.baseFolder.empty()) file = context.baseFolder / file;
  try {
    return context.loadMaterialFile(file.string());
  } catch (const std::exception& e) {
    Fail(Join(path, "file"), e.what());
  }
}

// One material entry in its record form.
Json LowerMaterial(const Json& entry, const std::string& path, const MaterialFormContext& context) {
  std::vector<std::string> forms;
  for (const char* form : kForms) {
    if (entry.contains(form)) forms.emplace_back(form);
  }
  if (forms.empty()) {
    if (entry.contains("scattering")) {
      Fail(Join(path, "scattering"), "goes with \"absorption\" or \"catalogue\"");
    }
    return entry;
  }
  if (forms.size() > 1) {
    Fail(Join(path, forms[1]), "give one of \"absorption\", \"catalogue\" and \"file\"");
  }
  for (const char* key : kRecordKeys) {
    if (entry.contains(key)) {
      Fail(Join(path, key), "give either \"" + forms[0] + "\" or the record values, not both");
    }
  }
  TMaterialEntry m;
  if (forms[0] == "absorption") {
    if (!entry.contains("name")) Fail(Join(path, "name"), "missing");
    m = MaterialFromAbsorption("", ReadAbsorption(entry["absorption"], Join(path, "absorption")),
                               ReadScattering(entry, path));
  } else if (forms[0] == "catalogue") {
    m = FromCatalogue(entry, path, context);
  } else {
    m = FromFile(entry, path, context);
  }
  Json lowered = MaterialToJson(m);
  lowered.erase("format");
  // The entry's other keys ("name", "slot", ...) go to the record reader,
  // which checks them as usual.
  for (auto it = entry.begin(); it != entry.end(); ++it) {
    if (std::find(forms.begin(), forms.end(), it.key()) != forms.end()) continue;
    if (it.key() == "scattering") continue;
    if (it.key() == "name") lowered.erase("nameBytes");
    lowered[it.key()] = it.value();
  }
  return lowered;
}

}  // namespace

void LowerMaterialForms(Json& document, const MaterialFormContext& context) {
  if (!document.is_object()) return;
  const std::string format = JsonFormatOf(document);
  if (format == kMaterialFormat ||
      (!document.contains("materials") && format.empty() &&
       (document.contains("catalogue") || document.contains("absorption") ||
        document.contains("file")))) {
    document = LowerMaterial(document, "", context);
    return;
  }
  auto materials = document.find("materials");
  if (materials == document.end() || !materials->is_array()) return;
  for (size_t i = 0; i < materials->size(); ++i) {
    Json& entry = (*materials)[i];
    if (entry.is_object()) entry = LowerMaterial(entry, Index("materials", i), context);
  }
}

}  // namespace zm::cli
