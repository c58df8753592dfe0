// Design files: writing the current layout, reading it and the five older
// ones, and the repairs that every load applies.
#include "files/design_file.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "files/hrc.h"
#include "support/power.h"
#include "support/text.h"

namespace zm {

namespace {

constexpr char kCurrentMagic[4] = {'Z', 'M', 'D', '5'};
constexpr int32_t kDefaultRayCount = 10000;

constexpr size_t kOldEmitterSize = 34;  // InUse through Level
constexpr size_t kOldWallSize = 27;     // InUse through Gain
constexpr size_t kTitleAndComment = 2 * ZM_NAME_LENGTH;

// Where an earlier release kept each block of the record. The arrays have
// the same slot counts as today; only the entries of emitters and walls
// were shorter, and later blocks were absent.
struct TDesignFileVersion {
  char magic[4];
  bool firstPacking;    // settings packed field by field (kFirstSettings)
  size_t settingsSize;  // otherwise: bytes from ImpulseLength on, packed as today
  bool hasStereoWidth;
  size_t emitters;
  size_t walls;
  size_t points;
  size_t materials;
  size_t hostBlock;  // 0: absent
  size_t size;
};

constexpr TDesignFileVersion kOlderVersions[] = {
    {{'Z', 'M', 'D', '4'}, false, 140, true, 270, 610, 4660, 8860, 12580, 16676},
    {{'Z', 'M', 'D', '3'}, false, 72, true, 202, 542, 4592, 8792, 12512, 16608},
    {{'Z', 'M', 'D', '2'}, false, 72, true, 202, 542, 4592, 8792, 0, 12512},
    {{'Z', 'M', 'D', '1'}, false, 56, false, 186, 526, 4576, 8776, 0, 12496},
    {{'Z', 'M', 'D', '0'}, true, 48, false, 178, 518, 4568, 8768, 0, 12488},
};

// The first release packed its settings differently: no BitsPerSample and
// no SubArrivals.
struct TFieldMove {
  size_t from;
  size_t to;
  size_t size;
};
constexpr TFieldMove kFirstSettings[] = {
    {130, offsetof(TDesignRecord, ImpulseLength), 8},
    {138, offsetof(TDesignRecord, MinAmplitude), 8},
    {146, offsetof(TDesignRecord, SampleRate), 4},
    {150, offsetof(TDesignRecord, WindowType), 4},
    {154, offsetof(TDesignRecord, FilterLength), 4},
    {158, offsetof(TDesignRecord, AirAttenuation), 8},
    {166, offsetof(TDesignRecord, CoordinateScale), 8},
    {174, offsetof(TDesignRecord, RandomSeed), 4},
};

[[noreturn]] void ThrowTooShort(const TResource& stream, size_t have, size_t need) {
  throw EDataFormatError(
      Format(msg::zm::sDesignBlockTooShort,
             {static_cast<long long>(have), static_cast<long long>(need), stream.Name}));
}

void LoadDesignVersion(const TDesignFileVersion& version, const std::vector<uint8_t>& block,
                       TDesignRecord& design) {
  uint8_t* out = reinterpret_cast<uint8_t*>(&design);
  const uint8_t* in = block.data();
  std::memset(out, 0, sizeof(TDesignRecord));
  std::memcpy(out, in, kTitleAndComment);
  if (version.firstPacking) {
    for (const TFieldMove& field : kFirstSettings) {
      std::memcpy(out + field.to, in + field.from, field.size);
    }
  } else {
    std::memcpy(out + offsetof(TDesignRecord, ImpulseLength), in + kTitleAndComment,
                version.settingsSize);
  }
  for (size_t i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    std::memcpy(out + offsetof(TDesignRecord, Emitters) + i * sizeof(TEmitterEntry),
                in + version.emitters + i * kOldEmitterSize, kOldEmitterSize);
  }
  for (size_t i = 0; i < ZM_WALL_SLOTS; ++i) {
    std::memcpy(out + offsetof(TDesignRecord, Walls) + i * sizeof(TWallEntry),
                in + version.walls + i * kOldWallSize, kOldWallSize);
  }
  std::memcpy(out + offsetof(TDesignRecord, Points), in + version.points, sizeof(design.Points));
  std::memcpy(out + offsetof(TDesignRecord, Materials), in + version.materials,
              sizeof(design.Materials));
  if (version.hostBlock != 0) {
    std::memcpy(out + offsetof(TDesignRecord, HostBlock), in + version.hostBlock,
                sizeof(design.HostBlock));
  }

  // Values the old layouts did not hold and that zero would get wrong;
  // everything else absent stays zero.
  if (version.firstPacking) design.BitsPerSample = 16;
  if (!version.hasStereoWidth) design.StereoWidth = 1.0;
}

// The tracer takes the air's attenuation from the material of that name;
// a design without one gets it in the first free slot, if any.
void EnsureAirMaterial(TDesignRecord& design) {
  TMaterialEntry* freeSlot = nullptr;
  for (TMaterialEntry& material : design.Materials) {
    if (material.InUse != 0) {
      if (ReadFixedText(material.Name) == ZM_AIR_MATERIAL_NAME) return;
    } else if (freeSlot == nullptr) {
      freeSlot = &material;
    }
  }
  if (freeSlot == nullptr) return;
  const double reflection = AirFactorPerUnit(design.AirAttenuation);
  freeSlot->InUse = 1;
  WriteFixedText(freeSlot->Name, ZM_AIR_MATERIAL_NAME);
  for (int band = 0; band < ZM_BAND_COUNT; ++band) freeSlot->BandFactors[band] = 1.0;
  freeSlot->Reflection = reflection;
  freeSlot->Scatter = 0.0;
}

void EnsureDefaultGroup(TDesignRecord& design) {
  TGroupEntry& group = design.Groups[0];
  if (group.InUse != 0) return;
  group.InUse = 1;
  WriteFixedText(group.Name, ZM_DEFAULT_GROUP_NAME);
  group.DefaultMark = 1;
}

}  // namespace

void WriteDesign(TResource& stream, const TDesignRecord& design) {
  stream.Write(kCurrentMagic, sizeof(kCurrentMagic));
  HrcWriteBlock(stream, &design, static_cast<int32_t>(sizeof(TDesignRecord)));
}

void ReadDesign(TResource& stream, TDesignRecord& design) {
  char magic[4];
  stream.Read(magic, sizeof(magic));
  const TDesignFileVersion* version = nullptr;
  if (std::memcmp(magic, kCurrentMagic, sizeof(magic)) != 0) {
    for (const TDesignFileVersion& older : kOlderVersions) {
      if (std::memcmp(magic, older.magic, sizeof(magic)) == 0) version = &older;
    }
    if (version == nullptr) throw Exception(std::string(msg::zm::sInvalidSignature.text));
  }

  const std::vector<uint8_t> block = HrcReadNewBlock(stream);
  const size_t needed = version ? version->size : sizeof(TDesignRecord);
  if (block.size() < needed) ThrowTooShort(stream, block.size(), needed);

  // Everything happens on a private copy so that a failure at any step
  // leaves the caller's record as it was.
  auto loaded = std::make_unique<TDesignRecord>();
  if (version == nullptr) {
    std::memcpy(loaded.get(), block.data(), sizeof(TDesignRecord));
  } else {
    LoadDesignVersion(*version, block, *loaded);
  }
  EnsureAirMaterial(*loaded);
  EnsureDefaultGroup(*loaded);
  if (loaded->DefaultRayCount == 0) loaded->DefaultRayCount = kDefaultRayCount;

  std::memcpy(&design, loaded.get(), sizeof(TDesignRecord));
}

}  // namespace zm
