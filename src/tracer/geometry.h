// Plan geometry of the tracer: the wall table and the direction of a ray
// after it reflects. Positions are (x, y) pairs in
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

inline constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Rays are traced as segments of this length; farther walls are never met.
inline constexpr double kRayLength = 1000000.0;

// The least angle between a reflected ray and its wall (radians). A ray
// leaving exactly along the wall may, through the rounding of its angle,
// point a hair to the wall's far side, slide along it, pass outside the
// corner and leave the room; this margin keeps it clearly inside.
//
// Errors it must dominate: the returned angle wallAngle + (2 pi + a) lies
// below 4 pi, so its two roundings and the wall's atan2 cost at most about
// 2^-48 rad; the hit test's direction, cos and sin times kRayLength added to
// and taken off the origin, rounds its end point to ulp(10^6) = 2^-33 m at
// 10^6 m, another 2^-52 rad. The margin is 2^28 times their sum. A hit
// point may also sit an ulp of its coordinates (2^-42 m in a room up to
// 1 km across) off its wall's line; a ray leaving it at the margin is clear
// of that after 2^-22 m, a quarter of a micrometre. Acoustically, 10^-6 rad
// from grazing is grazing.
inline constexpr double kGrazingMargin = 0x1.0p-20;

// The direction after reflecting off a wall of angle `wallAngle`: the mirror
// image of `angle`, blurred by (draw - 0.5) * diffusion. A blur past grazing
// is mirrored back off grazing into the half-plane the ray came from, and
// kept at least kGrazingMargin from the wall; any other reflection is left
// as computed. `draw` is uniform in [0, 1). The result is not reduced into
// any range.
double ReflectAngle(double angle, double wallAngle, double diffusion, double draw);

}  // namespace zm
