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

  // Direction and spread set every ray's angle; the level weighs the
  // emitter in the fixed-gain normalisation of every group.
  if (!IsFinite(Direction)) RefuseDesign(msg::scene::sEmitterDirection, {index});
  if (!IsFinite(Spread)) RefuseDesign(msg::scene::sEmitterSpread, {index});
  if (!IsFinite(Level)) RefuseDesign(msg::scene::sEmitterLevel, {index});
}

TEmitterGroup::TEmitterGroup(const TDesignRecord& design, int index)
    : Name(ReadFixedText(design.Groups[index].Name)) {}

}  // namespace zm
