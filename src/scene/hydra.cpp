#include "scene/hydra.h"

#include <limits>

#include "scene/design_checks.h"

namespace zm {

namespace {

// Runs `release` when the scope is left by an exception, unless Done() was
// called first.
template <typename F>
class ReleaseOnFailure {
 public:
  explicit ReleaseOnFailure(F release) : release_(release) {}
  ~ReleaseOnFailure() {
    if (!done_) release_();
  }
  ReleaseOnFailure(const ReleaseOnFailure&) = delete;
  ReleaseOnFailure& operator=(const ReleaseOnFailure&) = delete;
  void Done() { done_ = true; }

 private:
  F release_;
  bool done_ = false;
};

}  // namespace

THydra::THydra(const TDesignRecord& design) {
  // A failure releases the half-built scene in the scene's own order;
  // members alone would go in reverse order of declaration.
  ReleaseOnFailure guard([this] { Release(); });

  // Materials first: walls find theirs by name.
  Materials = std::make_unique<TMaterialList>();
  std::vector<std::pair<const TMaterial*, int>> materialSlots;
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    if (design.Materials[i].InUse)
      materialSlots.emplace_back(&Materials->AddFromRecord(design, i), i);
  }

  int32_t used = 0;
  for (int i = 0; i < ZM_WALL_SLOTS; ++i) {
    if (design.Walls[i].InUse) ++used;
  }
  Walls.reserve(used);
  for (int i = 0; i < ZM_WALL_SLOTS; ++i) {
    if (!design.Walls[i].InUse) continue;
    Walls.push_back(std::make_unique<TWall>(design, i));
    WallCount = static_cast<int32_t>(Walls.size());
    Walls.back()->Material = &Materials->Find(Walls.back()->MaterialName);
  }
  CheckMaterials(materialSlots);

  used = 0;
  for (int i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    if (design.Emitters[i].InUse) ++used;
  }
  Emitters.reserve(used);
  for (int i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    if (!design.Emitters[i].InUse) continue;
    Emitters.push_back(std::make_unique<TEmitter>(design, i));
    emitterSlots_.push_back(i);
    EmitterCount = static_cast<int32_t>(Emitters.size());
  }

  // Every group exists, used or not: a host may render any of the 64.
  for (int i = 0; i < ZM_GROUP_SLOTS; ++i) {
    Groups[i] = std::make_unique<TEmitterGroup>(design, i);
  }

  Options = std::make_unique<TOptions>(design);
  // Settled once here, so that the checks and the tracer count the same rays.
  for (auto& emitter : Emitters) {
    if (emitter->UseDefaultRayCount) emitter->RayCount = Options->DefaultRayCount;
  }
  CheckOptionsInScene();
  guard.Done();
}

void THydra::CheckMaterials(const std::vector<std::pair<const TMaterial*, int>>& slots) const {
  for (const auto& [material, slot] : slots) {
    // Every hit multiplies the ray by the reflection and band factors; one
    // NaN would silently turn the whole impulse into NaN.
    bool factorsRead = material->Name == ZM_AIR_MATERIAL_NAME;
    bool scatterRead = false;
    for (const auto& wall : Walls) {
      if (wall->Material != material) continue;
      factorsRead = true;
      scatterRead = scatterRead || !wall->PassThrough;
    }
    if (!factorsRead) continue;
    if (!IsFinite(material->Reflection)) RefuseDesign(msg::scene::sMaterialReflection, {slot});
    if (scatterRead && !IsFinite(material->Scatter)) {
      RefuseDesign(msg::scene::sMaterialScatter, {slot});
    }
    for (int b = 0; b < kBandCount; ++b) {
      if (!IsFinite(material->BandFactors[b])) {
        RefuseDesign(msg::scene::sMaterialBandFactor, {slot, b});
      }
    }
  }
}

void THydra::CheckOptionsInScene() const {
  // The tracer derives the air from AirAttenuation only when no material
  // describes it.
  const TMaterialListItem air{std::string(ZM_AIR_MATERIAL_NAME)};
  if (Materials->Search(air) == nullptr) {
    RequireFiniteOption(Options->AirAttenuation, "Air attenuation");
  }
  // The fixed gain weighs every emitter of every group by its level.
  if (Options->GainMode != 0) {
    for (int32_t e = 0; e < EmitterCount; ++e) {
      if (!IsFinite(Emitters[e]->Level))
        RefuseDesign(msg::scene::sEmitterLevel, {emitterSlots_[e]});
    }
  }
}

void THydra::CheckGroup(int32_t group) const {
  GroupRayTotal(group);
  for (int32_t e = 0; e < EmitterCount; ++e) {
    const TEmitter& emitter = *Emitters[e];
    // An emitter without rays never reads its fan.
    if (emitter.Group != group || emitter.RayCount <= 0) continue;
    if (!IsFinite(emitter.Direction)) {
      RefuseDesign(msg::scene::sEmitterDirection, {emitterSlots_[e]});
    }
    if (!IsFinite(emitter.Spread)) RefuseDesign(msg::scene::sEmitterSpread, {emitterSlots_[e]});
  }
}

THydra::~THydra() {
  Release();
}

void THydra::Release() {
  Materials.reset();
  Options.reset();
  Walls.clear();
  WallCount = 0;
  Emitters.clear();
  emitterSlots_.clear();
  EmitterCount = 0;
  for (auto& group : Groups) group.reset();
}

int32_t THydra::GroupRayTotal(int32_t group) const {
  int64_t total = 0;
  for (const auto& emitter : Emitters) {
    const int32_t count = emitter->RayCount;
    if (emitter->Group == group && count > 0) total += count;
  }
  // The progress callback counts rays in an int32.
  if (total > std::numeric_limits<int32_t>::max()) {
    RefuseDesign(msg::scene::sGroupRayTotal, {group});
  }
  return static_cast<int32_t>(total);
}

}  // namespace zm
