#include "tracer/geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zm {

namespace {
constexpr double kPi = std::numbers::pi;
}  // namespace

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

double ReflectAngle(double angle, double wallAngle, double diffusion, double draw) {
  // Angle between the ray and the wall's direction, brought into [0, 2pi).
  double a = angle - wallAngle;
  double k = std::trunc(a / kTwoPi);
  if (a < 0.0) k = k - 1.0;
  a = a - kTwoPi * k;

  // Above pi the ray comes from the wall's left side; fold it to [0, pi].
  const bool fromLeft = a > kPi;
  if (fromLeft) a = kTwoPi - a;

  a = a + (draw - 0.5) * diffusion;
  // Past grazing, the excess is mirrored back rather than cut off at the
  // wall. Cut off, a wide blur sends a quarter of the rays that reach a
  // corner straight back into it along the other wall, each time a
  // fraction closer, until the hit point lies within rounding of the corner
  // and the ray slips out between the two walls.
  if (a > kPi || a < 0.0) {
    a = a > kPi ? kTwoPi - a : -a;
    a = std::clamp(a, kGrazingMargin, kPi - kGrazingMargin);
  }
  return fromLeft ? wallAngle + (kTwoPi + a) : wallAngle - a;
}

}  // namespace zm
