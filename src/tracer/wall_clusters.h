// Walls grouped into small clusters of neighbours, each with a bounding box,
// so that in a room of many walls a ray tests only the clusters whose box
// its line crosses, and still finds exactly the wall, hit point and
// reflected angle that the whole-table scan finds: the same kernels test
// the walls, and the boxes only decide which.
//
// Why that is exact. A wall the per-wall arithmetic accepts has its computed
// hit point on the wall and within rounding of the ray's line (also where
// rounding accepts a crossing behind the origin of a ray along the wall).
// Each box holds its walls widened by a margin far above that rounding, so
// the line crosses the box of every wall that can be accepted; the walls of
// the other clusters would all be rejected anyway. Ties (equal distance) go
// to the earlier table entry whatever the order of testing.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tracer/wall_scan.h"

namespace zm {

// Bounding boxes as centres and half sizes, one array per field.
struct TClusterBoxes {
  std::vector<double> CentreX, CentreY, HalfX, HalfY;
};

// The ray's line as the box test sees it: a point and the direction.
struct TBoxLine {
  double X, Y;
  double Cosine, Sine;
  double AbsCosine, AbsSine;
};

// Which boxes of [first, first + count) the line crosses, as bits of the
// result (bit k for box first + k); count is a multiple of 8, at most 64.
using TBoxTest = uint64_t (*)(const TClusterBoxes& boxes, int32_t first, int32_t count,
                              const TBoxLine& line);

// The box test of `path`, which must be available (SimdPathAvailable).
TBoxTest BoxTestFor(TSimdPath path);

class TWallClusters {
 public:
  // Clusters of the walls of `walls` (padding lanes left out), laid out for
  // `path`'s kernels. None when the room's numbers do not suit them: a
  // coordinate that is not finite or beyond 100 km, or a room less than a
  // millimetre across.
  static std::unique_ptr<const TWallClusters> Build(const TWallLanes& walls, TSimdPath path);

  // What the whole-table scan of `ray` with `kernel` leaves in `best`
  // (which starts empty). (cosine, sine) is the ray's direction. Returns
  // false, with `best` untouched, for a ray it does not take: one leaving
  // from far outside the room, or whose direction is not a unit vector; the
  // caller then scans the whole table.
  bool Find(const TScanRay& ray, double cosine, double sine, int32_t excluded, TScanKernel kernel,
            TScanBest& best) const;

 private:
  TWallClusters() = default;

  double reach_ = 0.0;   // rays leave from within this of (0, 0) in x and y
  TClusterBoxes boxes_;  // padded to whole groups of 8
  TWallLanes lanes_;     // cluster c: lanes [c * kClusterSize, (c + 1) * kClusterSize)
  TBoxTest boxTest_ = nullptr;
};

}  // namespace zm
