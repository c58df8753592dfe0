#include "lib/checks/reverberation_estimate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <optional>

#include "lib/audio/acoustics.h"
#include "lib/base/text.h"
#include "lib/design/design_json.h"
#include "lib/design/materials.h"
#include "lib/design/room_height.h"

namespace zm::cli {

namespace {

// Walls scattering less than this on average leave sound running between
// parallel walls longer than a diffuse field would.
constexpr double kLowScattering = 0.2;
// Floor and ceiling absorbing this many times more than the walls leave the
// sound running parallel to them: see docs/height.md.
constexpr double kFlatAbsorptionRatio = 3;
// The bands where the cautions look, as T30 is usually quoted.
constexpr double kMidLow = 500, kMidHigh = 2000;

// Energy the air keeps per metre at `frequency`: the air material's
// amplitude over 75 m when the design has one, else AirAttenuation per
// metre, squared.
double AirEnergyLossPerMetre(const TDesignRecord& r, double frequency) {
  for (const TMaterialEntry& m : r.Materials) {
    if (m.InUse && NameText(m.Name) == ZM_AIR_MATERIAL_NAME) {
      const double kept = 1 - AbsorptionOfRecord(m, frequency);
      return kept > 0 ? -std::log(kept) / ZM_AIR_UNIT_METRES
                      : std::numeric_limits<double>::infinity();
    }
  }
  const double a = r.AirAttenuation;
  return a > 0 ? -2 * std::log(a) : std::numeric_limits<double>::infinity();
}

double Mean(const std::vector<double>& values) {
  double sum = 0;
  for (double v : values) sum += v;
  return values.empty() ? 0 : sum / double(values.size());
}

// Why a render may well measure a different reverberation than `out`
// estimates; `walls` and `flat` are the mean absorption of the walls and of
// floor and ceiling at 500 Hz to 2 kHz.
void AddCautions(const TDesignRecord& r, bool height, double scattering, double walls, double flat,
                 ReverberationEstimate& out) {
  if (scattering < kLowScattering) {
    out.cautions.push_back(
        Printf("the walls scatter little (%.2f on average): sound running between parallel walls "
               "outlasts a diffuse field, so the render's T30 will likely exceed this estimate "
               "(by 7 to 32 %% with no scattering at all)",
               scattering));
  }
  if (height && flat > kFlatAbsorptionRatio * walls) {
    out.cautions.push_back(
        Printf("floor and ceiling absorb %.1f times as much as the walls (%.2f against %.2f at "
               "500 Hz to 2 kHz): in a real room of this kind sound running parallel to them lasts "
               "longer; 3D rooms like it measured 1.3 to 1.85 times this Eyring estimate and 1.5 "
               "to 2.4 times the render's T30 (docs/height.md)",
               walls > 0 ? flat / walls : std::numeric_limits<double>::infinity(), flat, walls));
  }
  const ReverberationBand* slowest = &out.bands.front();
  for (const ReverberationBand& band : out.bands) {
    if (band.eyring > slowest->eyring) slowest = &band;
  }
  if (std::isfinite(r.ImpulseLength) && r.ImpulseLength < slowest->eyring) {
    out.cautions.push_back(
        Printf("impulseLength %.2f s is shorter than the estimated T60 (%.2f s at %s): the tail is "
               "cut before it has decayed by 60 dB and T30 cannot be measured there",
               r.ImpulseLength, slowest->eyring, BandName(slowest->centre).c_str()));
  }
}

}  // namespace

ReverberationEstimate EstimateReverberation(const TDesignRecord& record) {
  ReverberationEstimate out;
  auto plain = std::make_unique<TDesignRecord>();
  const std::optional<RoomHeight> room = UnfoldHeight(record, *plain);
  const TDesignRecord& r = room ? *plain : record;
  const Plan plan = PlanOf(r);
  std::vector<std::pair<double, double>> seats;
  for (const PlanSource& e : plan.emitters) seats.emplace_back(e.x, e.y);
  if (seats.empty()) {
    out.reason = "no emitter to say which room";
    return out;
  }
  const RoomRegion region = RoomAround(plan, seats);
  if (!region.closed) {
    out.reason = "the room around the emitters is not closed";
    return out;
  }
  out.area = region.area;
  double scattering = 0;  // face-weighted
  for (size_t i = 0; i < plan.walls.size(); ++i) {
    if (plan.walls[i].passThrough) continue;
    out.perimeter += region.faceLength[i];
    scattering +=
        region.faceLength[i] * std::min(1.0, ScatteringFromScatter(plan.walls[i].scatter));
  }
  if (!(out.area > 0 && out.perimeter > 0)) {
    out.reason = "the room around the emitters has no area";
    return out;
  }
  scattering /= out.perimeter;
  const double h = room ? room->height : 0;
  out.height = h;
  // Faces the sound meets and the rate it meets them: per second, c / mfp.
  const double surface = room ? out.perimeter * h + 2 * out.area : out.perimeter;
  out.meanFreePath =
      room ? 4 * out.area * h / surface : std::numbers::pi * out.area / out.perimeter;
  out.hitsPerSecond = kSpeedOfSound / out.meanFreePath;
  // Energy falls by 10^-6 in T60: e^(-k T60) = 10^-6.
  const double sixtyDb = 6 * std::numbers::ln10;
  std::vector<double> wallAlpha, flatAlpha;
  for (double centre : kOctaveCentres) {
    ReverberationBand band;
    band.centre = centre;
    double walls = 0;  // m of fully absorbing wall
    for (size_t i = 0; i < plan.walls.size(); ++i) {
      const int m = plan.walls[i].material;
      const double alpha = m >= 0 ? AbsorptionOfRecord(r.Materials[m], centre) : 0.0;
      // A ray crosses a pass-through wall from either side.
      walls += region.faceLength[i] * alpha * (plan.walls[i].passThrough ? 2 : 1);
    }
    double absorbed = walls * (room ? h : 1);
    if (room) {
      const double flat =
          (AbsorptionOfRecord(room->floor, centre) + AbsorptionOfRecord(room->ceiling, centre)) / 2;
      absorbed += 2 * out.area * flat;
      if (centre >= kMidLow && centre <= kMidHigh) {
        wallAlpha.push_back(walls / out.perimeter);
        flatAlpha.push_back(flat);
      }
    }
    band.absorption = absorbed / surface;
    const double air = kSpeedOfSound * AirEnergyLossPerMetre(r, centre);
    band.otherLoss = air;
    const double sabineRate = out.hitsPerSecond * band.absorption + air;
    const double eyringRate = band.absorption < 1
                                  ? out.hitsPerSecond * -std::log(1 - band.absorption) + air
                                  : std::numeric_limits<double>::infinity();
    band.sabine = sabineRate > 0 ? sixtyDb / sabineRate : std::numeric_limits<double>::infinity();
    band.eyring = eyringRate > 0 ? sixtyDb / eyringRate : std::numeric_limits<double>::infinity();
    out.bands.push_back(band);
  }
  out.available = true;

  AddCautions(r, room.has_value(), scattering, Mean(wallAlpha), Mean(flatAlpha), out);
  return out;
}

}  // namespace zm::cli
