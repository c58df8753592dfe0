#include "scene/design_checks.h"

namespace zm {

void ReadScaledPoint(const TDesignRecord& design, int32_t point, double& x, double& y) {
  const double scale = design.CoordinateScale;
  if (!IsFinite(scale)) RefuseDesign(msg::scene::sCoordinateScale);
  const double rawX = design.Points[point].X;
  const double rawY = design.Points[point].Y;
  if (!IsFinite(rawX) || !IsFinite(rawY)) RefuseDesign(msg::scene::sPointNotFinite, {point});
  x = rawX * scale;
  y = rawY * scale;
  if (!IsFinite(x) || !IsFinite(y)) RefuseDesign(msg::scene::sPointOutOfRange, {point});
}

}  // namespace zm
