#include "scene/wall.h"

#include <cmath>

#include "scene/design_checks.h"
#include "support/text.h"

namespace zm {

namespace {

double WeightOfPattern(int32_t pattern) {
  switch (pattern) {
    case 1:
      return 0.25;
    case 2:
      return 0.5;
    case 3:
      return 0.75;
    case 4:
      return 1.0;
    default:
      return 0.0;
  }
}

}  // namespace

TWall::TWall(const TDesignRecord& design, int index) {
  const TWallEntry& entry = design.Walls[index];
  // Indices are checked before they are used, so that nothing outside the
  // record is ever read.
  const int32_t start = entry.StartPoint;
  const int32_t end = entry.EndPoint;
  const int32_t material = entry.Material;
  if (start < 0 || start >= ZM_POINT_SLOTS) {
    RefuseDesign(msg::scene::sWallStartPoint, {index, start});
  }
  if (end < 0 || end >= ZM_POINT_SLOTS) RefuseDesign(msg::scene::sWallEndPoint, {index, end});
  if (material < 0 || material >= ZM_MATERIAL_SLOTS) {
    RefuseDesign(msg::scene::sWallMaterial, {index, material});
  }

  ReadScaledPoint(design, start, X1, Y1);
  ReadScaledPoint(design, end, X2, Y2);
  MidX = (X1 + X2) * 0.5;
  MidY = (Y1 + Y2) * 0.5;
  PassThrough = entry.PassThrough != 0;
  Receiver = entry.Receiver != 0;
  // The name is taken whether or not that slot is used; the scene then
  // looks it up among the used materials.
  MaterialName = ReadFixedText(design.Materials[material].Name);
  Channel = entry.Channel;
  Gain = entry.Gain;
  Pattern = entry.Pattern;
  PatternWeight = WeightOfPattern(Pattern);

  const double dx = X2 - X1;
  const double dy = Y2 - Y1;
  Angle = std::atan2(dy, dx);
  Length = std::sqrt(dx * dx + dy * dy);
  if (!IsFinite(MidX) || !IsFinite(MidY) || !IsFinite(Length)) {
    RefuseDesign(msg::scene::sWallTooLong, {index});
  }

  // Only a receiver writes into the impulse, so only its channel and gain
  // matter; other walls may keep whatever the host left there.
  if (Receiver) {
    if (Channel < 0 || Channel >= ZM_CHANNEL_COUNT)
      RefuseDesign(msg::scene::sWallChannel, {index, Channel});
    if (!IsFinite(Gain)) RefuseDesign(msg::scene::sWallGain, {index});
  }
}

}  // namespace zm
