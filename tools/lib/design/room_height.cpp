#include "lib/design/room_height.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>

#include "lib/design/design_json.h"

namespace zm::cli {

namespace {

constexpr char kMagic[4] = {'Z', 'M', 'H', 'T'};
constexpr uint32_t kTagVersion = 1;

// What the tag holds after its header; stored byte for byte, as the engine
// stores the record itself.
struct MaterialFactors {
  double reflection;
  double bands[ZM_BAND_COUNT];
};
struct TagPayload {
  double height;
  TMaterialEntry floor, ceiling;
  int32_t airSlot;
  TMaterialEntry airBefore;                     // the air slot as given
  MaterialFactors original[ZM_MATERIAL_SLOTS];  // every slot's factors as given
};
struct TagHeader {
  char magic[4];
  uint32_t version, size, checksum;
};
static_assert(sizeof(TagHeader) + sizeof(TagPayload) <= kHeightTagSize);

uint32_t Checksum(const void* data, size_t size) {
  uint32_t h = 2166136261u;  // FNV-1a
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) h = (h ^ bytes[i]) * 16777619u;
  return h;
}

// A ray in the plan meets the walls at c P / (pi S) per second, one in the
// room at c P / (4 S): per hit in the plan the walls must take the energy
// of pi/4 hits, -ln(1 - alpha') = (pi/4) (-ln(1 - alpha)), so the amplitude
// is raised to pi/4. The sign, which the engine allows, is kept.
double PlaneWallAmplitude(double amplitude) {
  return std::copysign(std::pow(std::fabs(amplitude), std::numbers::pi / 4), amplitude);
}

// The engine's power rule for the air material it creates.
double AirPerUnit(double attenuation) {
  if (attenuation == 0) return 0;
  return std::exp(ZM_AIR_UNIT_METRES * std::log(attenuation));
}

}  // namespace

int AirSlotOf(const TDesignRecord& r) {
  int freeSlot = -1;
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    if (r.Materials[i].InUse) {
      if (NameText(r.Materials[i].Name) == ZM_AIR_MATERIAL_NAME) return i;
    } else if (freeSlot < 0) {
      freeSlot = i;
    }
  }
  return freeSlot;
}

void FoldHeight(TDesignRecord& r, const RoomHeight& height) {
  auto payload = std::make_unique<TagPayload>();
  std::memset(payload.get(), 0, sizeof *payload);
  payload->height = height.height;
  payload->floor = height.floor;
  payload->ceiling = height.ceiling;
  const int airSlot = AirSlotOf(r);
  payload->airSlot = airSlot;
  payload->airBefore = r.Materials[airSlot];
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    TMaterialEntry& m = r.Materials[i];
    payload->original[i].reflection = m.Reflection;
    std::memcpy(payload->original[i].bands, m.BandFactors, sizeof m.BandFactors);
    if (i == airSlot || !m.InUse) continue;
    m.Reflection = PlaneWallAmplitude(m.Reflection);
    // By index: the record is packed, its doubles may be misaligned.
    for (int b = 0; b < ZM_BAND_COUNT; ++b) m.BandFactors[b] = PlaneWallAmplitude(m.BandFactors[b]);
  }

  TMaterialEntry& air = r.Materials[airSlot];
  if (!air.InUse) {
    // As design loading creates it.
    air.InUse = 1;
    std::memset(air.Name, 0, sizeof air.Name);
    std::memcpy(air.Name, ZM_AIR_MATERIAL_NAME, sizeof ZM_AIR_MATERIAL_NAME - 1);
    for (int b = 0; b < ZM_BAND_COUNT; ++b) air.BandFactors[b] = 1.0;
    air.Reflection = AirPerUnit(r.AirAttenuation);
    air.Scatter = 0.0;
  }
  // Floor and ceiling are met c / (2H) times per second, alternately: the
  // energy kept per metre is ((1 - af)(1 - ac))^(1 / (4H)), the amplitude
  // per unit of the air material (a_f a_c)^(unit / (4H)).
  const double exponent = ZM_AIR_UNIT_METRES / (4 * height.height);
  double amplitude[ZM_BAND_COUNT];
  double loudest = 0;
  for (int b = 0; b < ZM_BAND_COUNT; ++b) {
    const double kept =
        std::pow(BandAmplitude(height.floor, b) * BandAmplitude(height.ceiling, b), exponent);
    amplitude[b] = BandAmplitude(air, b) * kept;
    loudest = std::max(loudest, std::fabs(amplitude[b]));
  }
  // Split as materials are: Reflection the least lost band, factors at most 1.
  air.Reflection = loudest;
  for (int b = 0; b < ZM_BAND_COUNT; ++b) {
    air.BandFactors[b] = loudest > 0 ? amplitude[b] / loudest : 1.0;
  }

  TagHeader header{};
  std::memcpy(header.magic, kMagic, sizeof kMagic);
  header.version = kTagVersion;
  header.size = sizeof(TagPayload);
  header.checksum = Checksum(payload.get(), sizeof *payload);
  uint8_t* tag = r.HostBlock + kHeightTagOffset;
  std::memcpy(tag, &header, sizeof header);
  std::memcpy(tag + sizeof header, payload.get(), sizeof *payload);
}

std::optional<RoomHeight> UnfoldHeight(const TDesignRecord& folded, TDesignRecord& plain) {
  const uint8_t* tag = folded.HostBlock + kHeightTagOffset;
  TagHeader header;
  std::memcpy(&header, tag, sizeof header);
  if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.version != kTagVersion ||
      header.size != sizeof(TagPayload)) {
    return std::nullopt;
  }
  auto payload = std::make_unique<TagPayload>();
  std::memcpy(payload.get(), tag + sizeof header, sizeof *payload);
  if (Checksum(payload.get(), sizeof *payload) != header.checksum) return std::nullopt;
  const int airSlot = payload->airSlot;
  if (airSlot < 0 || airSlot >= ZM_MATERIAL_SLOTS) return std::nullopt;

  plain = folded;
  std::memset(plain.HostBlock + kHeightTagOffset, 0, kHeightTagSize);
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    plain.Materials[i].Reflection = payload->original[i].reflection;
    std::memcpy(plain.Materials[i].BandFactors, payload->original[i].bands,
                sizeof plain.Materials[i].BandFactors);
  }
  plain.Materials[airSlot] = payload->airBefore;

  RoomHeight height{payload->height, payload->floor, payload->ceiling};
  // Only when folding the result gives the record back is it the design
  // the tag describes.
  auto again = std::make_unique<TDesignRecord>(plain);
  if (AirSlotOf(*again) != airSlot) return std::nullopt;
  FoldHeight(*again, height);
  if (std::memcmp(again.get(), &folded, sizeof folded) != 0) return std::nullopt;
  return height;
}

}  // namespace zm::cli
