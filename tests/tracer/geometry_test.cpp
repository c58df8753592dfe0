#include "tracer/geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace zm {
namespace {

constexpr double kPi = std::numbers::pi;

// The hit test only compares wall references, so distinct tags stand in for
// real walls.
class GeometryTest : public ::testing::Test {
 protected:
  const TWall* Tag(int i) { return reinterpret_cast<const TWall*>(&tags_[i]); }

  void Add(double x1, double y1, double x2, double y2, int tag) {
    table_.push_back(TWallSegment{x1, y1, x2, y2, x2 - x1, y2 - y1, Tag(tag)});
  }

  bool Hit(double x, double y, double angle, const TWall* excluded = nullptr) {
    return FindNearestHit(x, y, angle, table_.data(), static_cast<int32_t>(table_.size()), excluded,
                          hit_);
  }

  alignas(8) char tags_[8] = {};
  std::vector<TWallSegment> table_;
  THit hit_;
};

TEST_F(GeometryTest, FindsNearestWallWhateverTheTableOrder) {
  Add(7, -1, 7, 1, 0);
  Add(3, -1, 3, 1, 1);
  Add(-2, -1, -2, 1, 2);    // behind the origin
  Add(2e6, -1, 2e6, 1, 3);  // beyond the ray's length
  Add(5, 0.5, 6, 0.5, 4);   // misses: the ray passes below it
  ASSERT_TRUE(Hit(0, 0, 0));
  EXPECT_EQ(hit_.Wall, Tag(1));
  EXPECT_DOUBLE_EQ(hit_.X, 3.0);
  EXPECT_DOUBLE_EQ(hit_.Y, 0.0);

  EXPECT_FALSE(Hit(0, 0, 3 * kPi / 2));  // nothing below
  // The far wall is out of reach even when it is the only one in front.
  EXPECT_FALSE(Hit(10, 0, 0));
}

TEST_F(GeometryTest, CornerTieGoesToEarlierEntryAndEndPointsCount) {
  // Two walls meeting at (5, 0); the ray along +x passes exactly through the
  // shared end point (u = 1 for the first, u = 0 for the second).
  Add(5, -1, 5, 0, 0);
  Add(5, 0, 5, 1, 1);
  ASSERT_TRUE(Hit(0, 0, 0));
  EXPECT_EQ(hit_.Wall, Tag(0));
  EXPECT_EQ(hit_.X, 5.0);
  EXPECT_EQ(hit_.Y, 0.0);

  table_.clear();
  Add(5, 0, 5, 1, 1);
  Add(5, -1, 5, 0, 0);
  ASSERT_TRUE(Hit(0, 0, 0));
  EXPECT_EQ(hit_.Wall, Tag(1));
}

TEST_F(GeometryTest, ParallelAndCollinearWallsAreNeverHit) {
  Add(1, 0, 3, 0, 0);    // along the ray
  Add(1, 1, 3, 1, 1);    // beside it
  Add(-3, 0, -1, 0, 2);  // along the ray, behind
  EXPECT_FALSE(Hit(0, 0, 0));
  EXPECT_FALSE(Hit(0, 0, kPi));
}

TEST_F(GeometryTest, ExcludedWallIsSkippedButTouchingWallIsHitAtOrigin) {
  Add(5, -1, 5, 1, 0);
  Add(5, 0, 8, 3, 1);  // touches the first wall at (5, 0)
  Add(9, -1, 9, 1, 2);
  // Leaving (5, 0) along +x after hitting wall 0: wall 1 starts right here.
  ASSERT_TRUE(Hit(5, 0, 0, Tag(0)));
  EXPECT_EQ(hit_.Wall, Tag(1));
  EXPECT_EQ(hit_.X, 5.0);
  EXPECT_EQ(hit_.Y, 0.0);
  // Excluding wall 1 as well is not possible; excluding it alone still finds
  // wall 0 at distance 0, the earlier entry.
  ASSERT_TRUE(Hit(5, 0, 0, Tag(1)));
  EXPECT_EQ(hit_.Wall, Tag(0));
  // Going left from the far side only wall 0 can be met.
  ASSERT_TRUE(Hit(8.5, 0, kPi, Tag(2)));
  EXPECT_EQ(hit_.Wall, Tag(0));
  EXPECT_NEAR(hit_.X, 5.0, 1e-9);
}

TEST(ReflectAngle, MirrorsInBothHalfPlanes) {
  for (double theta : {0.1, 0.5, 1.0, kPi / 2, 2.5, 3.1}) {
    EXPECT_DOUBLE_EQ(ReflectAngle(theta, 0.0, 0.0, 0.3), -theta) << theta;
  }
  for (double theta : {3.2, 4.0, 3 * kPi / 2, 5.5, 6.2}) {
    EXPECT_DOUBLE_EQ(ReflectAngle(theta, 0.0, 0.0, 0.9), 4 * kPi - theta) << theta;
  }
}

TEST(ReflectAngle, IsTheMirrorImageForAnyWallAndUnreducedAngles) {
  for (double wall : {-3.0, -1.2, 0.0, 0.7, 2.9}) {
    for (double angle : {-20.0, -7.0, -0.4, 0.3, 1.9, 4.4, 13.0}) {
      double out = ReflectAngle(angle, wall, 0.0, 0.5);
      double mirror = 2 * wall - angle;
      EXPECT_NEAR(std::cos(out), std::cos(mirror), 1e-9);
      EXPECT_NEAR(std::sin(out), std::sin(mirror), 1e-9);
    }
  }
  // An exact negative multiple of 2pi folds to 0: grazing along the wall.
  EXPECT_DOUBLE_EQ(ReflectAngle(-2 * kPi, 0.0, 0.0, 0.5), 2 * kPi);
}

TEST(ReflectAngle, LargeDiffusionSpreadsOverTheHalfPlaneAndClamps) {
  const double diffusion = 2 * kPi;
  // From the right side (a = 0.3): out = -a with a clamped to [0, pi].
  EXPECT_DOUBLE_EQ(ReflectAngle(0.3, 0.0, diffusion, 0.0), 0.0);
  EXPECT_DOUBLE_EQ(ReflectAngle(0.3, 0.0, diffusion, 0.999), -kPi);
  // From the left side (a = 2pi - 4): out = 2pi + a with a clamped.
  EXPECT_DOUBLE_EQ(ReflectAngle(4.0, 0.0, diffusion, 0.0), 2 * kPi);
  EXPECT_DOUBLE_EQ(ReflectAngle(4.0, 0.0, diffusion, 0.999), 3 * kPi);
  // Every draw keeps the ray on the side it came from.
  for (int i = 0; i < 100; ++i) {
    double draw = i / 100.0;
    EXPECT_LE(std::sin(ReflectAngle(0.3, 0.0, diffusion, draw)), 1e-12);
    EXPECT_GE(std::sin(ReflectAngle(4.0, 0.0, diffusion, draw)), -1e-12);
  }
}

}  // namespace
}  // namespace zm
