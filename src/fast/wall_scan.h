// Fast mode's walls: laid out for the vector scan of wall_kernels.h, with
// what a reflection needs, and the reflection itself in vector arithmetic.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/options.h"
#include "support/simd_path.h"
#include "tracer/geometry.h"

namespace zm::fast {

// One array per field, padded to whole vectors of the widest path with
// walls of no extent, which no ray ever crosses.
struct TFastWalls {
  std::vector<double> X1, Y1, DX, DY;
  int32_t Count = 0;  // padded
};

struct TFastHit {
  int32_t Index;    // -1: no wall met
  double Distance;  // along the ray
  double U;         // the crossing is X1 + DX u, Y1 + DY u
};

// Rays scanned together, one per lane: as many as the widest path holds,
// on every path, so that rays are grouped and their arrivals ordered alike
// whatever the path.
inline constexpr int kScanLanes = 8;

// Inputs (origin, unit direction, the wall to skip, as a double) and
// results (the NearestWall of each ray: index, -1 for none; distance;
// position along the wall) of a lane scan.
struct TLaneRays {
  alignas(64) double X[kScanLanes], Y[kScanLanes], DX[kScanLanes], DY[kScanLanes];
  alignas(64) double Last[kScanLanes];
  alignas(64) double Index[kScanLanes], Distance[kScanLanes], U[kScanLanes];
};

using TLaneScan = void (*)(const TFastWalls& walls, int32_t wallCount, TLaneRays& rays);
TLaneScan LaneScanFor(TSimdPath path);

// Row r of `rows` (kBandCount doubles each, one per band) plus weights[r]
// times value, for the `count` rows from the first; the same bits on every
// path.
using TRowsAdd = void (*)(double* rows, const double* weights, int count, const double* value);
TRowsAdd RowsAddFor(TSimdPath path);

// The unit direction (dx, dy) after reflecting off a wall of unit direction
// (tx, ty): the mirror image, turned by (draw - 0.5) * scatter away from
// the mirror direction as the exact tracer's angles turn it (towards the
// wall for one sign, away for the other, whichever side the ray came from).
// A turn past grazing is mirrored back off grazing, and the result kept at
// least kGrazingMargin from the wall.
void Reflect(double& dx, double& dy, double tx, double ty, double scatter, double draw);

}  // namespace zm::fast
