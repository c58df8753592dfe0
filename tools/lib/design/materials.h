// Wall materials as acousticians give them: energy absorption coefficients
// per octave band and a scattering coefficient, lowered to the amplitude
// factors of the engine's material record; and the catalogue of common
// materials that designs name.
//
// Nothing here prints, exits or keeps global state, so that other front
// ends (a scripting binding) can share it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "lib/design/design_json.h"
#include "zm/zm.h"

namespace zm::cli {

// The frequencies of the engine's eight bands, Hz; a material's band factor
// b applies at kBandFrequencies[b], linearly in between.
inline constexpr double kBandFrequencies[ZM_BAND_COUNT] = {0,    150,  320,  800,
                                                           1800, 4000, 9000, 21000};

// Octave centres 1000 * 2^k Hz and the nominal labels tables print.
inline constexpr double kAbsorptionOctaves[] = {62.5, 125, 250, 500, 1000, 2000, 4000, 8000};
inline constexpr const char* kAbsorptionOctaveLabels[] = {"63",   "125",  "250",  "500",
                                                          "1000", "2000", "4000", "8000"};
inline constexpr int kAbsorptionOctaveCount = 8;

// Energy absorption coefficients at ascending octave centres (a subset of
// kAbsorptionOctaves holding at least 125 Hz to 4 kHz).
struct AbsorptionCurve {
  std::vector<double> frequencies;
  std::vector<double> alpha;
};

// The absorption at `frequency`: straight lines on a log-frequency axis
// between octave centres, held flat beyond the first and the last.
double InterpolateAbsorption(const AbsorptionCurve& curve, double frequency);

// A material record of the given name: the amplitude sqrt(1 - alpha) at
// every band frequency, split so that `Reflection` is the largest band
// amplitude and the band factors (at most 1) carry the rest. `scattering`
// (0 to 1) becomes `Scatter` through ScatterFromScattering. Values outside
// 0 to 1 are the caller's to refuse.
TMaterialEntry MaterialFromAbsorption(const std::string& name, const AbsorptionCurve& curve,
                                      double scattering);

// The absorption a record gives at `frequency`: 1 - a^2, with a the
// engine's amplitude there (Reflection times the band factors, linear in
// frequency between band frequencies).
double AbsorptionOfRecord(const TMaterialEntry& material, double frequency);

// A scattering coefficient s (the fraction of reflected energy sent away
// from the mirror direction) as the width of the engine's uniform angular
// jitter, in radians: the width whose spread matches, at normal incidence,
// a reflection that is specular with weight 1 - s and cosine-distributed
// (2D Lambert) with weight s. s = 1 gives about 136 degrees.
double ScatterFromScattering(double scattering);
double ScatteringFromScatter(double scatter);

struct CatalogueSource {
  std::string key, title, url;
};

struct CatalogueEntry {
  std::string id;                  // what designs write: "catalogue": "brick-unglazed"
  std::string name;                // a readable name
  std::string category;            // floor, wall, ceiling, seating, glass, ...
  std::string source;              // key into the sources
  std::string row;                 // the row's label as the source prints it
  std::vector<double> absorption;  // at the catalogue's bands
};

class MaterialCatalogue {
 public:
  // The catalogue built into the tool (tools/materials.json).
  static MaterialCatalogue BuiltIn();
  // Parses catalogue JSON; throws JsonFormatError naming the bad entry.
  static MaterialCatalogue Parse(const std::string& text);

  const std::vector<CatalogueEntry>& Entries() const { return entries_; }
  const std::vector<CatalogueSource>& Sources() const { return sources_; }
  // The octave centres of every entry's absorption figures.
  const std::vector<double>& Bands() const { return bands_; }

  const CatalogueEntry* Find(const std::string& id) const;
  const CatalogueSource* Source(const std::string& key) const;
  // Entries whose id, name, category or source row contain every word of
  // `query` (case-insensitive); all of them for an empty query.
  std::vector<const CatalogueEntry*> Search(const std::string& query) const;
  // The entry's figures as a curve.
  AbsorptionCurve Curve(const CatalogueEntry& entry) const;
  // Up to `count` ids closest in spelling to `id`, for "did you mean".
  std::vector<std::string> Closest(const std::string& id, size_t count) const;

 private:
  std::vector<double> bands_;
  std::vector<CatalogueSource> sources_;
  std::vector<CatalogueEntry> entries_;
};

// What lowering needs from outside: the catalogue, the folder that relative
// material-file paths start from, and a loader of material files.
struct MaterialFormContext {
  const MaterialCatalogue* catalogue = nullptr;
  std::string baseFolder;
  std::function<TMaterialEntry(const std::string& path)> loadMaterialFile;
};

// Rewrites, in a design's "materials" array or in a single material
// document, every material given by "absorption", "catalogue" or "file"
// into the record form ("reflection", "scatter", "bandFactors"), so that
// the JSON reader sees record values only. Errors are JsonFormatError with
// the JSON path of the value.
void LowerMaterialForms(Json& document, const MaterialFormContext& context);

}  // namespace zm::cli
