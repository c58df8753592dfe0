// Sound sources and the emitter groups that a run renders one at a time.
#pragma once

#include <cstdint>
#include <string>

#include "zm/zm.h"

namespace zm {

class TEmitter {
 public:
  TEmitter(const TDesignRecord& design, int index);

  double X, Y;
  double Direction;
  int32_t RayCount;  // DefaultRayCount where UseDefaultRayCount (the scene sets it)
  double Spread;
  bool RandomDirections;
  double Level;
  int32_t Group;
  bool UseDefaultRayCount;
};

class TEmitterGroup {
 public:
  TEmitterGroup(const TDesignRecord& design, int index);

  std::string Name;
};

}  // namespace zm
