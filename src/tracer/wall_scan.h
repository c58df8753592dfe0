// The tracer's nearest-hit search: exactly the wall, hit point and tie rule
// of a plain linear scan (FindNearestHit, the tests' reference in
// tests/testing), found faster. Every wall is tested with
// the same arithmetic as there, several walls per vector instruction, and
// a division-free prefilter spares the divisions for the blocks of walls
// that the ray cannot cross. Alongside, the vector paths compute
// ReflectAngle off every wall they test, so that the direction after the hit
// is ready the moment the wall is known: on a ray each segment waits for the
// last, so the time from one hit test to the next is what counts. In rooms
// of many walls, bounding boxes of clusters of walls (wall_clusters.h) pick the
// few walls a ray can meet, and the same kernels test those.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/simd_path.h"
#include "tracer/geometry.h"

namespace zm {

inline constexpr int32_t kLaneBlock = 8;

// Walls laid out for vector tests: one array per field, padded to whole
// blocks of kLaneBlock lanes with walls that are never met.
struct TWallLanes {
  std::vector<double> X1, Y1, DX, DY;
  std::vector<double> Angle, Scatter;  // the wall's, and its material's
  std::vector<int32_t> Index;          // the wall's entry in the wall table

  int32_t Count() const { return static_cast<int32_t>(Index.size()); }

  void Append(const TWallLanes& from, int32_t lane) {
    X1.push_back(from.X1[lane]);
    Y1.push_back(from.Y1[lane]);
    DX.push_back(from.DX[lane]);
    DY.push_back(from.DY[lane]);
    Angle.push_back(from.Angle[lane]);
    Scatter.push_back(from.Scatter[lane]);
    Index.push_back(from.Index[lane]);
  }

  // A padding lane: a wall of no extent is parallel to every ray (den = 0),
  // so it is never met.
  void AppendNever() {
    for (std::vector<double>* field : {&X1, &Y1, &DX, &DY, &Angle, &Scatter}) field->push_back(0.0);
    Index.push_back(-1);
  }
};

// The ray as the hit test sees it: origin and the direction vector D of
// FindNearestHit (the stored far end minus the origin); its angle, and the
// draw that its next reflection takes.
struct TScanRay {
  double X, Y;
  double DirX, DirY;
  double Angle;
  double Draw;

  // FindNearestHit's distance from the origin to (x, y).
  double DistanceTo(double x, double y) const {
    const double ex = X - x;
    const double ey = Y - y;
    return std::sqrt(ex * ex + ey * ey);
  }
};

// The best hit so far: the smallest distance, and of equal distances the
// earliest wall of the table (whatever the order the walls are tested in);
// NextAngle is ReflectAngle off that wall.
struct TScanBest {
  double Distance;  // valid when HasDistance
  double X, Y;
  double NextAngle;
  int32_t Index = -1;  // none yet
  bool HasDistance = false;
};

// Tests block firstBlock + k of `walls` (its kLaneBlock lanes) for each bit
// k set in `blocks`, in that order, and keeps the better of each accepted
// crossing and `best`. The wall with table index `excluded` is skipped.
using TScanKernel = void (*)(const TWallLanes& walls, int32_t firstBlock, uint64_t blocks,
                             const TScanRay& ray, int32_t excluded, TScanBest& best);

TScanKernel ScanKernelFor(TSimdPath path);

class TWallClusters;

// Whether the scan goes through clusters: by the wall count, or forced
// either way (a test hook; forced clusters still give way where a room's
// numbers do not suit them).
enum class TScanMode { ByWallCount, Plain, Clusters };

class TWallScan {
 public:
  // Lays out `table`, whose entries refer to walls of a scene with their
  // materials, for the kernel of the active SIMD path.
  explicit TWallScan(const std::vector<TWallSegment>& table,
                     TScanMode mode = TScanMode::ByWallCount);
  ~TWallScan();

  bool UsesClusters() const { return clusters_ != nullptr; }

  // FindNearestHit for the ray leaving (originX, originY) at `angle`, whose
  // cosine and sine are given, skipping table entry `excluded` (none when
  // -1). On a hit, `best` holds the point, the table entry and the angle
  // ReflectAngle(angle, wall angle, its material's scatter, draw) gives.
  bool Find(double originX, double originY, double angle, double cosine, double sine,
            int32_t excluded, double draw, TScanBest& best) const;

 private:
  TWallLanes lanes_;
  TScanKernel kernel_;
  std::unique_ptr<const TWallClusters> clusters_;  // none: every ray scans all lanes
};

}  // namespace zm
