// The reflection angle: the mirror image and the clamped spread of a diffuse
// reflection. (The hit test is checked against a plain scan in the wall
// scan's tests.)
#include "tracer/geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <utility>

namespace zm {
namespace {

constexpr double kPi = std::numbers::pi;

TEST(ReflectAngle, MirrorImageInBothHalfPlanes) {
  for (double theta : {0.1, 1.0, kPi / 2, 3.1})
    EXPECT_DOUBLE_EQ(ReflectAngle(theta, 0.0, 0.0, 0.3), -theta);
  for (double theta : {3.2, 3 * kPi / 2, 6.2})
    EXPECT_DOUBLE_EQ(ReflectAngle(theta, 0.0, 0.0, 0.9), 4 * kPi - theta);
  for (double wall : {-3.0, -1.2, 0.0, 0.7, 2.9}) {
    for (double angle : {-20.0, -7.0, -0.4, 0.3, 1.9, 4.4, 13.0}) {  // unreduced angles too
      const double out = ReflectAngle(angle, wall, 0.0, 0.5);
      EXPECT_NEAR(std::cos(out), std::cos(2 * wall - angle), 1e-9);
      EXPECT_NEAR(std::sin(out), std::sin(2 * wall - angle), 1e-9);
    }
  }
  // An exact negative multiple of 2 pi folds to 0: grazing along the wall.
  EXPECT_DOUBLE_EQ(ReflectAngle(-2 * kPi, 0.0, 0.0, 0.5), 2 * kPi);
}

// A blur past grazing comes back by as much, at least kGrazingMargin from
// the wall: off walls at many angles, from either side, the direction the
// hit test builds from the far end point points into the half-plane the ray
// came from. Blurs inside the half-plane are left alone.
TEST(ReflectAngle, BlurPastGrazingIsMirroredBackOntoTheRaysOwnSide) {
  EXPECT_DOUBLE_EQ(ReflectAngle(0.3, 0.0, 2 * kPi, 0.0), -(kPi - 0.3));
  EXPECT_DOUBLE_EQ(ReflectAngle(4.0, 0.0, 2 * kPi, 0.0), 2 * kPi + (kPi - (2 * kPi - 4.0)));
  EXPECT_EQ(ReflectAngle(0.5, 0.0, 0.999, 0.0), 0.0 - (0.5 - 0.5 * 0.999));
  // A blur a hair past the wall comes back 2^-20 rad (about 10^-6) off it:
  // every render with such a reflection depends on that exact value.
  EXPECT_EQ(ReflectAngle(0.25, 0.0, 1.0, 0.25 - 0x1.0p-40), -0x1.0p-20);
  for (int i = 0; i < 720; ++i) {
    const double dx = 7 * std::cos(i * 0.0087 - kPi), dy = 7 * std::sin(i * 0.0087 - kPi);
    const double wall = std::atan2(dy, dx), ox = 0.37 * i - 100 + 0.6 * dx, oy = 31.3 + 0.6 * dy;
    const double a = 0.2 + 0.004 * i;
    for (double side : {1.0, -1.0}) {  // arriving from the right, then the left side
      // The widest draws, each with a blur just past grazing.
      for (auto [diffusion, draw] :
           {std::pair{2 * a + 1e-12, 0.0}, {(kPi - a + 1e-12) / (0.5 - 0x1p-24), 1 - 0x1p-24}}) {
        const double out = ReflectAngle(wall + side * a, wall, diffusion, draw);
        const double dirX = (ox + std::cos(out) * kRayLength) - ox;
        const double dirY = (oy + std::sin(out) * kRayLength) - oy;
        const double leftward = (dx * dirY - dy * dirX) / (7 * kRayLength);
        EXPECT_LT(side * leftward, -0.9 * kGrazingMargin) << i;
        EXPECT_GT(side * leftward, -1.1 * kGrazingMargin) << i;
      }
    }
  }
}

}  // namespace
}  // namespace zm
