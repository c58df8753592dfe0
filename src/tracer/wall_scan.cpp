#include "tracer/wall_scan.h"

#include <algorithm>
#include <memory>

#include "scene/material_list.h"
#include "scene/wall.h"
#include "tracer/wall_clusters.h"

namespace zm {

namespace {

// From how many walls on the clusters beat scanning the whole table, by
// path: the wider the kernel, the later (measured on a star-shaped room).
size_t ClusterMinWalls(TSimdPath path) {
  switch (path) {
    case TSimdPath::Sse2:
      return 32;
    case TSimdPath::Avx2:
      return 56;
    case TSimdPath::Avx512:
      return 72;
    default:
      return 24;
  }
}

void AddLane(TWallLanes& lanes, const TWallSegment& wall, double angle, double scatter,
             int32_t index) {
  lanes.X1.push_back(wall.X1);
  lanes.Y1.push_back(wall.Y1);
  lanes.DX.push_back(wall.DX);
  lanes.DY.push_back(wall.DY);
  lanes.Angle.push_back(angle);
  lanes.Scatter.push_back(scatter);
  lanes.Index.push_back(index);
}

}  // namespace

TWallScan::TWallScan(const std::vector<TWallSegment>& table, TScanMode mode)
    : kernel_(ScanKernelFor(ActiveSimdPath())) {
  for (size_t i = 0; i < table.size(); ++i) {
    const TWall& wall = *table[i].Wall;
    AddLane(lanes_, table[i], wall.Angle, wall.Material ? wall.Material->Scatter : 0.0,
            static_cast<int32_t>(i));
  }
  while (lanes_.Count() % kLaneBlock != 0) lanes_.AppendNever();
  const TSimdPath path = ActiveSimdPath();
  const bool wantClusters = mode == TScanMode::Clusters || (mode == TScanMode::ByWallCount &&
                                                            table.size() >= ClusterMinWalls(path));
  if (wantClusters) clusters_ = TWallClusters::Build(lanes_, path);
}

TWallScan::~TWallScan() = default;

bool TWallScan::Find(double originX, double originY, double angle, double cosine, double sine,
                     int32_t excluded, double draw, TScanBest& best) const {
  // As FindNearestHit: the direction carries the rounding of the far end.
  const double endX = originX + cosine * kRayLength;
  const double endY = originY + sine * kRayLength;
  const TScanRay ray{originX, originY, endX - originX, endY - originY, angle, draw};
  best = TScanBest{};
  if (clusters_ == nullptr || !clusters_->Find(ray, cosine, sine, excluded, kernel_, best)) {
    const int32_t blocks = lanes_.Count() / kLaneBlock;
    for (int32_t first = 0; first < blocks; first += 64) {
      const int32_t count = std::min(64, blocks - first);
      kernel_(lanes_, first, count == 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1, ray, excluded,
              best);
    }
  }
  return best.Index >= 0;
}

}  // namespace zm
