// THydra, the scene of one run: everything derived from one design record
// before tracing. Users read its fields directly.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "scene/emitter.h"
#include "scene/material_list.h"
#include "scene/options.h"
#include "scene/wall.h"
#include "zm/zm.h"

namespace zm {

class TMaterialList;

class THydra {
 public:
  // Builds the scene in a fixed order: materials, walls (each finds its
  // material by name), emitters, the 64 groups, options. Refuses a design
  // the engine cannot trace safely (design_checks.h), whatever group is
  // rendered; a failure releases everything built so far.
  explicit THydra(const TDesignRecord& design);
  ~THydra();

  // Refuses, before `group` is traced, what its rays would read and cannot
  // use: a ray total beyond the progress count (GroupRayTotal), and the
  // direction or spread of an emitter of the group that sends rays when it
  // is not a finite number. Other groups' emitters are not looked at.
  void CheckGroup(int32_t group) const;

  // Rays that tracing `group` will send: the effective counts of its
  // emitters (DefaultRayCount for those that use it; negative counts send
  // nothing). Throws when the sum does not fit the int32 that the progress
  // callback counts in. Not checked while building: a group that is never
  // rendered need not fit.
  int32_t GroupRayTotal(int32_t group) const;

  THydra(const THydra&) = delete;
  THydra& operator=(const THydra&) = delete;

  std::unique_ptr<TMaterialList> Materials;
  std::unique_ptr<TOptions> Options;
  std::vector<std::unique_ptr<TWall>> Walls;
  int32_t WallCount = 0;
  std::vector<std::unique_ptr<TEmitter>> Emitters;
  int32_t EmitterCount = 0;
  std::array<std::unique_ptr<TEmitterGroup>, ZM_GROUP_SLOTS> Groups;

 private:
  // Refuses material values that the run reads and cannot use: those of
  // every material a wall uses (its scatter only when a wall reflects) and
  // of the air, which the tracer always reads. `slots` gives each used
  // material's record slot, for the messages.
  void CheckMaterials(const std::vector<std::pair<const TMaterial*, int>>& slots) const;
  // Refuses option values whose use depends on other parts of the scene.
  void CheckOptionsInScene() const;

  // Releases everything, in order: material list, options, walls,
  // emitters, groups. Safe on a scene in any state of construction.
  void Release();

  // The record slot of each entry of Emitters, for the messages.
  std::vector<int32_t> emitterSlots_;
};

}  // namespace zm
