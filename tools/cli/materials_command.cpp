// zm materials: the built-in catalogue, searched.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "lib/design/materials.h"

namespace zm::cli {

// The catalogue's entries that match every word of `query`, with their
// sources; exits 1 when none does, as grep does.
int Materials(const std::vector<std::string>& words) {
  std::string query;
  for (const std::string& w : words) query += w + " ";
  const MaterialCatalogue catalogue = MaterialCatalogue::BuiltIn();
  const std::vector<const CatalogueEntry*> found = catalogue.Search(query);
  if (found.empty()) {
    std::fprintf(stderr, "zm: no catalogue material matches all of: %s\n", query.c_str());
    return kExitFailure;
  }
  std::printf("%-30s", "id");
  for (double band : catalogue.Bands()) {
    std::printf("%7s", band < 1000 ? std::to_string(int(band)).c_str()
                                   : (std::to_string(int(band / 1000)) + "k").c_str());
  }
  std::printf("  name [source]\n");
  std::vector<std::string> cited;
  for (const CatalogueEntry* e : found) {
    std::printf("%-30s", e->id.c_str());
    for (double alpha : e->absorption) {
      // Two decimals as most tables print them, three where a table does.
      std::printf(std::fabs(alpha * 100 - std::round(alpha * 100)) < 1e-9 ? "%7.2f" : "%7.3f",
                  alpha);
    }
    std::printf("  %s [%s]\n", e->name.c_str(), e->source.c_str());
    if (std::find(cited.begin(), cited.end(), e->source) == cited.end()) cited.push_back(e->source);
  }
  std::printf("\n%zu of %zu materials: energy absorption coefficients per octave band (Hz), from\n",
              found.size(), catalogue.Entries().size());
  for (const std::string& key : cited) {
    const CatalogueSource* s = catalogue.Source(key);
    std::printf("  [%s] %s\n      %s\n", key.c_str(), s->title.c_str(), s->url.c_str());
  }
  std::printf("In a JSON design: {\"catalogue\": \"%s\", \"scattering\": 0.1}\n",
              found[0]->id.c_str());
  return 0;
}

}  // namespace zm::cli
