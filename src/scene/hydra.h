// THydra, the scene of one run: everything derived from one design record
// before tracing. Users read its fields directly.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
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
  // the engine cannot trace safely (design_checks.h); a failure releases
  // everything built so far.
  explicit THydra(const TDesignRecord& design);
  ~THydra();

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
  // Releases everything, in order: material list, options, walls,
  // emitters, groups. Safe on a scene in any state of construction.
  void Release();
};

}  // namespace zm
