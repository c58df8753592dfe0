#include "lib/checks/reverberation_estimate.h"

#include <cmath>
#include <limits>
#include <numbers>

#include "lib/audio/acoustics.h"
#include "lib/design/design_json.h"
#include "lib/design/materials.h"

namespace zm::cli {

namespace {

// Energy the air keeps per metre at `frequency`: the air material's
// amplitude over 75 m when the design has one, else AirAttenuation per
// metre, squared.
double AirEnergyLossPerMetre(const TDesignRecord& r, double frequency) {
  for (const TMaterialEntry& m : r.Materials) {
    if (m.InUse && NameText(m.Name) == ZM_AIR_MATERIAL_NAME) {
      const double kept = 1 - AbsorptionOfRecord(m, frequency);
      return kept > 0 ? -std::log(kept) / 75.0 : std::numeric_limits<double>::infinity();
    }
  }
  const double a = r.AirAttenuation;
  return a > 0 ? -2 * std::log(a) : std::numeric_limits<double>::infinity();
}

}  // namespace

ReverberationEstimate EstimateReverberation(const TDesignRecord& r, const Plan& plan,
                                            const EnclosureGrid& grid) {
  ReverberationEstimate out;
  std::vector<std::pair<double, double>> seats;
  for (const PlanSource& e : plan.emitters) seats.emplace_back(e.x, e.y);
  if (seats.empty()) {
    out.reason = "no emitter to say which room";
    return out;
  }
  const EnclosureGrid::Region region = grid.RegionAround(seats);
  if (!region.closed) {
    out.reason = "the room around the emitters is not closed";
    return out;
  }
  out.area = region.area;
  for (double face : region.faceLength) out.perimeter += face;
  if (!(out.area > 0 && out.perimeter > 0)) {
    out.reason = "the room around the emitters has no area";
    return out;
  }
  out.meanFreePath = std::numbers::pi * out.area / out.perimeter;
  // Energy falls by 10^-6 in T60: e^(-k T60) = 10^-6.
  const double sixtyDb = 6 * std::numbers::ln10;
  for (double centre : kOctaveCentres) {
    ReverberationBand band;
    band.centre = centre;
    double absorbed = 0;  // m of fully absorbing face
    for (size_t i = 0; i < plan.walls.size(); ++i) {
      const int m = plan.walls[i].material;
      const double alpha = m >= 0 ? AbsorptionOfRecord(r.Materials[m], centre) : 0.0;
      absorbed += region.faceLength[i] * alpha;
    }
    band.absorption = absorbed / out.perimeter;
    const double air = kSpeedOfSound * AirEnergyLossPerMetre(r, centre);
    const double hitsPerSecond = kSpeedOfSound / out.meanFreePath;
    const double sabineRate = hitsPerSecond * band.absorption + air;
    const double eyringRate = band.absorption < 1
                                  ? hitsPerSecond * -std::log(1 - band.absorption) + air
                                  : std::numeric_limits<double>::infinity();
    band.sabine = sabineRate > 0 ? sixtyDb / sabineRate : std::numeric_limits<double>::infinity();
    band.eyring = eyringRate > 0 ? sixtyDb / eyringRate : std::numeric_limits<double>::infinity();
    out.bands.push_back(band);
  }
  out.available = true;
  return out;
}

}  // namespace zm::cli
