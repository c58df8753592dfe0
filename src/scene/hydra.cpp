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
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    if (design.Materials[i].InUse) Materials->AddFromRecord(design, i);
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

  used = 0;
  for (int i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    if (design.Emitters[i].InUse) ++used;
  }
  Emitters.reserve(used);
  for (int i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    if (!design.Emitters[i].InUse) continue;
    Emitters.push_back(std::make_unique<TEmitter>(design, i));
    EmitterCount = static_cast<int32_t>(Emitters.size());
  }

  // Every group exists, used or not: a host may render any of the 64.
  for (int i = 0; i < ZM_GROUP_SLOTS; ++i) {
    Groups[i] = std::make_unique<TEmitterGroup>(design, i);
  }

  Options = std::make_unique<TOptions>(design);
  guard.Done();
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
  EmitterCount = 0;
  for (auto& group : Groups) group.reset();
}

int32_t THydra::GroupRayTotal(int32_t group) const {
  const int32_t defaultCount = Options ? Options->DefaultRayCount : 0;
  int64_t total = 0;
  for (const auto& emitter : Emitters) {
    if (emitter->Group != group) continue;
    const int32_t count = emitter->UseDefaultRayCount ? defaultCount : emitter->RayCount;
    if (count > 0) total += count;
  }
  // The progress callback counts rays in an int32.
  if (total > std::numeric_limits<int32_t>::max()) {
    RefuseDesign(msg::scene::sGroupRayTotal, {group});
  }
  return static_cast<int32_t>(total);
}

}  // namespace zm
