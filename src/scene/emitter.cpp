#include "scene/emitter.h"

#include "scene/design_checks.h"
#include "support/text.h"

namespace zm {

TEmitter::TEmitter(const TDesignRecord& design, int index) {
  const TEmitterEntry& entry = design.Emitters[index];
  const int32_t point = entry.Point;
  if (point < 0 || point >= ZM_POINT_SLOTS) RefuseDesign(msg::scene::sEmitterPoint, {index, point});
  ReadScaledPoint(design, point, X, Y);
  Direction = entry.Direction;
  RayCount = entry.RayCount;
  Spread = entry.Spread;
  RandomDirections = entry.RandomDirections != 0;
  Level = entry.Level;
  Group = entry.Group;
  UseDefaultRayCount = entry.UseDefaultRayCount != 0;
}

TEmitterGroup::TEmitterGroup(const TDesignRecord& design, int index)
    : Name(ReadFixedText(design.Groups[index].Name)) {}

}  // namespace zm
