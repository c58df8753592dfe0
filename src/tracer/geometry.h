// Plan geometry of the tracer: the wall table, the nearest wall a ray meets
// and the direction of a ray after it reflects. Positions are (x, y) pairs in
// metres, directions single angles in radians counter-clockwise from +x.
#pragma once

#include <cstdint>
#include <numbers>

namespace zm {

class TWall;

// One wall as the hit test sees it: end points and their differences,
// copied once so that the scan never touches the wall objects.
struct TWallSegment {
  double X1, Y1;
  double X2, Y2;
  double DX, DY;  // X2 - X1, Y2 - Y1
  const TWall* Wall;
};

struct THit {
  double X = 0.0;
  double Y = 0.0;
  const TWall* Wall = nullptr;
};

inline constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Rays are traced as segments of this length; farther walls are never met.
inline constexpr double kRayLength = 1000000.0;

// The nearest wall that a ray leaving (originX, originY) at `angle` meets,
// skipping the entry whose Wall is `excludedWall` (none when null). A wall's
// end points belong to it, a crossing at the origin itself counts, a wall
// parallel to the ray is never met, and of two walls at the same distance
// the earlier table entry wins. Returns false when no wall is met (`hit` is
// then unspecified).
bool FindNearestHit(double originX, double originY, double angle, const TWallSegment* table,
                    int32_t count, const TWall* excludedWall, THit& hit);

// The direction after reflecting off a wall of angle `wallAngle`: the mirror
// image of `angle`, blurred by (draw - 0.5) * diffusion and clamped so that
// the ray stays on the side it came from. `draw` is uniform in [0, 1). The
// result is not reduced into any range.
double ReflectAngle(double angle, double wallAngle, double diffusion, double draw);

}  // namespace zm
