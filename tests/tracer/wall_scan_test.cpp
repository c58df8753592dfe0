// The vector hit test against FindNearestHit, the plain scan it must match
// bit for bit, on every SIMD path this processor has: random rays in random
// rooms, rays through wall end points, rays along walls, rays from a wall.
#include "tracer/wall_scan.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "design_builder.h"
#include "nearest_hit.h"
#include "scene/hydra.h"
#include "scene/material_list.h"
#include "scene/wall.h"
#include "tracer/tracer.h"

namespace zm {
namespace {

constexpr double kPi = std::numbers::pi;

// A room of `walls` random walls between points of a pool (so that many
// share end points), two of them collinear and touching, on materials of
// random scatter.
test::DesignBuilder RandomRoom(std::mt19937& random, int walls) {
  test::DesignBuilder design;
  std::uniform_real_distribution<double> coordinate(-10.0, 10.0), scatter(0.0, 2.0);
  for (int m = 0; m < ZM_MATERIAL_SLOTS; ++m)
    design.AddMaterial(std::string("m") + std::to_string(m), 0.9, scatter(random));
  // Snapped to a 1/64 m grid, so that some walls are exactly parallel.
  std::vector<std::pair<double, double>> pool;
  for (int i = 0; i < 120; ++i) {
    pool.emplace_back(std::round(coordinate(random) * 64) / 64,
                      std::round(coordinate(random) * 64) / 64);
  }
  design.AddWall(0.0, 5.0, 4.0, 5.0, 0);
  design.AddWall(4.0, 5.0, 9.0, 5.0, 1);
  for (int w = 2; w < walls; ++w) {
    const auto a = pool[random() % pool.size()];
    auto b = pool[random() % pool.size()];
    if (a == b) b = {a.first + 1.0, a.second};
    design.AddWall(a.first, a.second, b.first, b.second, w % ZM_MATERIAL_SLOTS);
  }
  return design;
}

TEST(WallScan, FindsWhatTheLinearScanFinds) {
  std::mt19937 random(2024);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int walls : {2, 5, 13, 40, 150}) {
    test::DesignBuilder design = RandomRoom(random, walls);
    THydra scene(design.Record());
    TTracer tracer(scene, 0);
    const std::vector<TWallSegment>& table = tracer.WallTable;

    // Rays from random points, from wall end points, from points on walls
    // (excluding that wall), towards end points and along walls.
    struct Ray {
      double x, y, angle;
      int32_t excluded;
    };
    std::vector<Ray> rays;
    for (int i = 0; i < 400; ++i) {
      const TWallSegment& w = table[random() % table.size()];
      const TWallSegment& other = table[random() % table.size()];
      const int32_t index = static_cast<int32_t>(&w - table.data());
      const double f = unit(random);
      const double x = w.X1 + w.DX * f, y = w.Y1 + w.DY * f;
      rays.push_back({unit(random) * 24 - 12, unit(random) * 24 - 12, unit(random) * 4 * kPi, -1});
      rays.push_back({x, y, unit(random) * 2 * kPi - kPi, index});
      rays.push_back({x, y, std::atan2(other.Y2 - y, other.X2 - x), index});
      rays.push_back({w.X1, w.Y1, w.Wall->Angle, -1});
      rays.push_back({w.X1, w.Y1, w.Wall->Angle + kPi, index});
      rays.push_back({w.X2, w.Y2, std::atan2(other.Y1 - w.Y2, other.X1 - w.X2), index});
      rays.push_back({w.X2, w.Y2, (random() % 4) * kPi / 2, -1});
      rays.push_back({x, y, w.Wall->Angle + (random() % 2) * kPi, -1});
    }

    for (TSimdPath path : kSimdPaths) {
      if (!ForceSimdPath(path)) continue;
      for (TScanMode mode : {TScanMode::Plain, TScanMode::Clusters}) {
        std::printf("[ path     ] %s, %d walls, %s\n", SimdPathName(path), walls,
                    mode == TScanMode::Clusters ? "clusters" : "plain");
        TWallScan scan(table, mode);
        ASSERT_EQ(scan.UsesClusters(), mode == TScanMode::Clusters);
        int hits = 0;
        for (const Ray& r : rays) {
          THit expected;
          const TWall* excluded = r.excluded < 0 ? nullptr : table[r.excluded].Wall;
          const bool found = FindNearestHit(r.x, r.y, r.angle, table.data(),
                                            static_cast<int32_t>(table.size()), excluded, expected);
          const double draw = unit(random);
          TScanBest best;
          ASSERT_EQ(scan.Find(r.x, r.y, r.angle, std::cos(r.angle), std::sin(r.angle), r.excluded,
                              draw, best),
                    found)
              << SimdPathName(path) << " ray from " << r.x << "," << r.y << " at " << r.angle;
          if (!found) continue;
          ++hits;
          const TWall& wall = *table[best.Index].Wall;
          ASSERT_EQ(&wall, expected.Wall) << SimdPathName(path);
          ASSERT_EQ(best.X, expected.X);
          ASSERT_EQ(best.Y, expected.Y);
          const double next = ReflectAngle(r.angle, wall.Angle, wall.Material->Scatter, draw);
          ASSERT_EQ(std::bit_cast<uint64_t>(best.NextAngle), std::bit_cast<uint64_t>(next));
        }
        EXPECT_GT(hits, 200);
      }
    }
  }
  ForceSimdPath(BestSimdPath());
}

}  // namespace
}  // namespace zm
