#include "nearest_hit.h"

#include <cmath>

namespace zm {

bool FindNearestHit(double originX, double originY, double angle, const TWallSegment* table,
                    int32_t count, const TWall* excludedWall, THit& hit) {
  // The direction is taken from the stored far end, not from cos and sin
  // directly, so that it carries exactly the rounding of that end point.
  const double endX = originX + std::cos(angle) * kRayLength;
  const double endY = originY + std::sin(angle) * kRayLength;
  const double dirX = endX - originX;
  const double dirY = endY - originY;

  bool found = false;
  double bestDistance = 0.0;
  for (int32_t i = 0; i < count; ++i) {
    const TWallSegment& w = table[i];
    if (w.Wall == excludedWall && excludedWall != nullptr) continue;
    const double den = dirY * w.DX - dirX * w.DY;
    if (den == 0.0) continue;
    const double ox = w.X1 - originX;
    const double oy = w.Y1 - originY;
    const double u = (oy * dirX - ox * dirY) / den;
    // Written as "not inside" so that a NaN never counts as a crossing.
    if (!(u >= 0.0 && u <= 1.0)) continue;
    const double v = (oy * w.DX - ox * w.DY) / den;
    if (!(v >= 0.0 && v <= 1.0)) continue;
    const double hx = w.X1 + w.DX * u;
    const double hy = w.Y1 + w.DY * u;
    const double ex = originX - hx;
    const double ey = originY - hy;
    const double distance = std::sqrt(ex * ex + ey * ey);
    if (!found || distance < bestDistance) {
      found = true;
      bestDistance = distance;
      hit.X = hx;
      hit.Y = hy;
      hit.Wall = w.Wall;
    }
  }
  return found;
}

}  // namespace zm
