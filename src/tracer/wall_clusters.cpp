#include "tracer/wall_clusters.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zm {

namespace {

// Walls per cluster: one block of the scan kernels.
constexpr int32_t kClusterSize = kLaneBlock;
// Boxes are padded to a whole number of groups for the vector box tests.
constexpr int32_t kBoxGroup = 8;

// Rooms taken: coordinates up to kMaxCoordinate in magnitude and an extent
// of at least kMinExtent (metres); others keep the whole-table scan.
constexpr double kMaxCoordinate = 1.0e5;
constexpr double kMinExtent = 1.0e-3;

// Boxes are widened by this fraction of the room's largest coordinate or
// extent S. The rays taken leave from within 2 S of (0, 0), so a hit test's
// rounding stays below 2^-45 S and the margin lies some 2^25 times above it
// (at 2^-20 S, 10 micrometres in a 10 m room, it costs nothing).
constexpr double kMarginScale = 0x1.0p-20;

// The rays taken have a (cosine, sine) of unit length to this much: then the
// hit test's direction, taken from the far end 10^6 m away, is theirs to far
// below the margin.
constexpr double kUnitSlack = 0x1.0p-40;

// Orders lanes [begin, end) so that each run of kClusterSize holds near
// neighbours: halves along the longer side of their midpoints' spread, the
// first half a whole number of clusters, until one cluster is left.
void OrderIntoClusters(const TWallLanes& walls, std::vector<int32_t>& lanes, size_t begin,
                       size_t end) {
  if (end - begin <= kClusterSize) return;
  auto midX = [&](int32_t lane) { return walls.X1[lane] + 0.5 * walls.DX[lane]; };
  auto midY = [&](int32_t lane) { return walls.Y1[lane] + 0.5 * walls.DY[lane]; };
  double minX = midX(lanes[begin]), maxX = minX, minY = midY(lanes[begin]), maxY = minY;
  for (size_t i = begin; i < end; ++i) {
    minX = std::min(minX, midX(lanes[i]));
    maxX = std::max(maxX, midX(lanes[i]));
    minY = std::min(minY, midY(lanes[i]));
    maxY = std::max(maxY, midY(lanes[i]));
  }
  const bool alongX = maxX - minX >= maxY - minY;
  const size_t clusters = (end - begin + kClusterSize - 1) / kClusterSize;
  const size_t middle = begin + (clusters + 1) / 2 * kClusterSize;
  std::nth_element(lanes.begin() + static_cast<std::ptrdiff_t>(begin),
                   lanes.begin() + static_cast<std::ptrdiff_t>(middle),
                   lanes.begin() + static_cast<std::ptrdiff_t>(end), [&](int32_t a, int32_t b) {
                     return alongX ? midX(a) < midX(b) : midY(a) < midY(b);
                   });
  OrderIntoClusters(walls, lanes, begin, middle);
  OrderIntoClusters(walls, lanes, middle, end);
}

}  // namespace

std::unique_ptr<const TWallClusters> TWallClusters::Build(const TWallLanes& walls, TSimdPath path) {
  // The walls that can be met: table entries of some extent.
  std::vector<int32_t> lanes;
  double minX = std::numeric_limits<double>::infinity(), maxX = -minX;
  double minY = minX, maxY = maxX;
  for (int32_t lane = 0; lane < walls.Count(); ++lane) {
    if (walls.Index[lane] < 0 || (walls.DX[lane] == 0.0 && walls.DY[lane] == 0.0)) continue;
    const double x1 = walls.X1[lane], x2 = x1 + walls.DX[lane];
    const double y1 = walls.Y1[lane], y2 = y1 + walls.DY[lane];
    if (!(std::isfinite(x2) && std::isfinite(y2))) return nullptr;
    minX = std::min({minX, x1, x2});
    maxX = std::max({maxX, x1, x2});
    minY = std::min({minY, y1, y2});
    maxY = std::max({maxY, y1, y2});
    lanes.push_back(lane);
  }
  if (lanes.empty()) return nullptr;
  const double extent = std::max(maxX - minX, maxY - minY);
  const double scale = std::max({extent, -minX, maxX, -minY, maxY});
  if (!(extent >= kMinExtent && scale <= kMaxCoordinate)) return nullptr;

  std::unique_ptr<TWallClusters> clusters(new TWallClusters());
  TWallClusters& built = *clusters;
  built.reach_ = 2.0 * scale;
  const double margin = scale * kMarginScale;
  OrderIntoClusters(walls, lanes, 0, lanes.size());
  for (size_t first = 0; first < lanes.size(); first += kClusterSize) {
    const size_t end = std::min(lanes.size(), first + kClusterSize);
    double boxMinX = std::numeric_limits<double>::infinity(), boxMaxX = -boxMinX;
    double boxMinY = boxMinX, boxMaxY = boxMaxX;
    for (size_t i = first; i < end; ++i) {
      const int32_t lane = lanes[i];
      const double x1 = walls.X1[lane], x2 = x1 + walls.DX[lane];
      const double y1 = walls.Y1[lane], y2 = y1 + walls.DY[lane];
      boxMinX = std::min({boxMinX, x1, x2});
      boxMaxX = std::max({boxMaxX, x1, x2});
      boxMinY = std::min({boxMinY, y1, y2});
      boxMaxY = std::max({boxMaxY, y1, y2});
      built.lanes_.Append(walls, lane);
    }
    while (built.lanes_.Count() % kClusterSize != 0) built.lanes_.AppendNever();
    built.boxes_.CentreX.push_back(0.5 * (boxMinX + boxMaxX));
    built.boxes_.CentreY.push_back(0.5 * (boxMinY + boxMaxY));
    built.boxes_.HalfX.push_back(0.5 * (boxMaxX - boxMinX) + margin);
    built.boxes_.HalfY.push_back(0.5 * (boxMaxY - boxMinY) + margin);
  }
  // Padding boxes of negative size: no line crosses them.
  while (built.boxes_.CentreX.size() % kBoxGroup != 0) {
    built.boxes_.CentreX.push_back(0.0);
    built.boxes_.CentreY.push_back(0.0);
    built.boxes_.HalfX.push_back(-1.0);
    built.boxes_.HalfY.push_back(-1.0);
  }
  built.boxTest_ = BoxTestFor(path);
  return clusters;
}

bool TWallClusters::Find(const TScanRay& ray, double cosine, double sine, int32_t excluded,
                         TScanKernel kernel, TScanBest& best) const {
  if (!(std::fabs(cosine * cosine + sine * sine - 1.0) <= kUnitSlack)) return false;
  if (!(std::fabs(ray.X) <= reach_ && std::fabs(ray.Y) <= reach_)) return false;
  const TBoxLine line{ray.X, ray.Y, cosine, sine, std::fabs(cosine), std::fabs(sine)};
  // Each cluster is one block of lanes_: the kernel tests those whose box
  // the line crosses.
  const int32_t boxes = static_cast<int32_t>(boxes_.CentreX.size());
  for (int32_t first = 0; first < boxes; first += 64) {
    const uint64_t crossed = boxTest_(boxes_, first, std::min(64, boxes - first), line);
    if (crossed != 0) kernel(lanes_, first, crossed, ray, excluded, best);
  }
  return true;
}

}  // namespace zm
