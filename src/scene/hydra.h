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
  explicit THydra(const TDesignRecord& design);
  ~THydra();

  THydra(const THydra&) = delete;
  THydra& operator=(const THydra&) = delete;

  std::unique_ptr<TMaterialList> Materials;
  std::unique_ptr<TOptions> Options;
  std::vector<std::unique_ptr<TWall>> Walls;
  int32_t WallCount = 0;
  std::vector<std::unique_ptr<TEmitter>> Emitters;
  int32_t EmitterCount = 0;
  std::array<std::unique_ptr<TEmitterGroup>, ZM_GROUP_SLOTS> Groups;
};

}  // namespace zm
