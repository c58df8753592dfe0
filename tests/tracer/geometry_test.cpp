// The hit test and the reflection angle on hand-made wall tables: nearest
// wall, ties and end points, parallel walls, the excluded wall, the mirror
// image and the clamped spread of a diffuse reflection.
#include "tracer/geometry.h"
#include "nearest_hit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

namespace zm {
namespace {

constexpr double kPi = std::numbers::pi;

// The hit test only compares wall references, so distinct tags stand in for
// real walls.
class Geometry : public ::testing::Test {
 protected:
  const TWall* Tag(int i) { return reinterpret_cast<const TWall*>(&tags_[i]); }
  void Add(double x1, double y1, double x2, double y2, int tag) {
    table_.push_back(TWallSegment{x1, y1, x2, y2, x2 - x1, y2 - y1, Tag(tag)});
  }
  // The tag of the wall hit (-1 for none); the hit point lands in hit_.
  int Hit(double x, double y, double angle, const TWall* excluded = nullptr) {
    if (!FindNearestHit(x, y, angle, table_.data(), static_cast<int32_t>(table_.size()), excluded,
                        hit_))
      return -1;
    return static_cast<int>(reinterpret_cast<const char*>(hit_.Wall) - tags_);
  }
  alignas(8) char tags_[8] = {};
  std::vector<TWallSegment> table_;
  THit hit_;
};

TEST_F(Geometry, NearestWallWhateverTheTableOrder) {
  Add(7, -1, 7, 1, 0);
  Add(3, -1, 3, 1, 1);
  Add(-2, -1, -2, 1, 2);    // behind the origin
  Add(2e6, -1, 2e6, 1, 3);  // beyond a ray's reach
  Add(5, 0.5, 6, 0.5, 4);   // the ray passes below it
  Add(1, 0, 3, 0, 5);       // along the ray: parallel walls are never hit
  Add(1, -1, 3, -1, 6);
  Add(-3, 0, -1, 0, 7);
  EXPECT_EQ(Hit(0, 0, 0), 1);
  EXPECT_EQ(hit_.X, 3.0);
  EXPECT_EQ(Hit(0, 0, 3 * kPi / 2), -1);
  EXPECT_EQ(Hit(10, 0, 0), -1);  // the far wall is out of reach even when alone in front
  EXPECT_EQ(Hit(0, 0, kPi), 2);
}

TEST_F(Geometry, CornerTieGoesToTheEarlierEntryAndTheExcludedWallIsSkipped) {
  // Two walls meeting at (5, 0), met exactly at their shared end point.
  Add(5, -1, 5, 0, 0);
  Add(5, 0, 5, 1, 1);
  EXPECT_EQ(Hit(0, 0, 0), 0);
  std::swap(table_[0], table_[1]);
  EXPECT_EQ(Hit(0, 0, 0), 1);
  // Leaving (5, 0) after hitting wall 1: wall 0 touches the origin and is hit there.
  table_.clear();
  Add(5, -1, 5, 1, 0);
  Add(5, 0, 8, 3, 1);
  Add(9, -1, 9, 1, 2);
  EXPECT_EQ(Hit(5, 0, 0, Tag(0)), 1);
  EXPECT_EQ(hit_.X, 5.0);
  EXPECT_EQ(Hit(5, 0, 0, Tag(1)), 0);
  EXPECT_EQ(Hit(8.5, 0, kPi, Tag(2)), 0);
  EXPECT_NEAR(hit_.X, 5.0, 1e-9);
}

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
