// Fast mode's walls: laid out for the vector scan of wall_kernels.h, with
// what a reflection needs, and the reflection itself in vector arithmetic.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "fast/fast_math.h"
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

// Rays to reflect, one per lane: direction (DX, DY), in and out; the
// wall's unit direction (TX, TY), Scatter and the draw, as Reflect takes
// them.
struct TLaneReflections {
  alignas(64) double DX[kScanLanes], DY[kScanLanes], TX[kScanLanes], TY[kScanLanes];
  alignas(64) double Scatter[kScanLanes], Draw[kScanLanes];
};

// Reflect for every lane, to the bit as Reflect on each, on every path.
using TLaneReflect = void (*)(TLaneReflections& lanes);
TLaneReflect LaneReflectFor(TSimdPath path);

// Row r of `rows` (kBandCount doubles each, one per band) plus weights[r]
// times value, for the `count` rows from the first; the same bits on every
// path.
using TRowsAdd = void (*)(double* rows, const double* weights, int count, const double* value);
TRowsAdd RowsAddFor(TSimdPath path);

// out[s] for s in [from, to): each band's stream convolved with its shape
// and the bands summed (wall_kernels.h says in which order); the same bits
// on every path.
using TRowsConvolve = void (*)(const double* rows, int64_t rowCount, const double* shape,
                               int32_t taps, int64_t origin, double* out, int32_t from, int32_t to);
TRowsConvolve RowsConvolveFor(TSimdPath path);

// The unit direction (dx, dy) after reflecting off a wall of unit direction
// (tx, ty): the mirror image, turned by (draw - 0.5) * scatter away from
// the mirror direction as the exact tracer's angles turn it (towards the
// wall for one sign, away for the other, whichever side the ray came from).
// A turn past grazing is mirrored back off grazing, and the result kept at
// least kGrazingMargin from the wall. The tracer reflects eight rays at a
// time with TLaneReflect, which does these operations lane by lane; this
// one-ray form states them plainly and is what the lanes are checked by.
inline void Reflect(double& dx, double& dy, double tx, double ty, double scatter, double draw) {
  // n is the wall's left normal; the ray heads to its left side when
  // d.n > 0, and must leave to the right then.
  const double nx = 0.0 - ty, ny = tx;
  const double along = dx * nx + dy * ny;
  const double side = along > 0.0 ? -1.0 : 1.0;  // the side it leaves to
  double rx = dx - 2.0 * along * nx;
  double ry = dy - 2.0 * along * ny;
  const double turn = (draw - 0.5) * scatter;
  if (turn != 0.0) {
    // The exact tracer's angle a + turn, measured from the wall on the
    // leaving side, turns the mirror direction by side * turn.
    double s, c;
    SinCos(side * turn, s, c);
    const double x = rx * c - ry * s;
    const double y = rx * s + ry * c;
    rx = x;
    ry = y;
    const double across = rx * nx + ry * ny;
    if (across * side < 0.0) {
      // Past grazing: mirrored back into the half-plane it came from, and
      // kept clear of the wall.
      rx = rx - 2.0 * across * nx;
      ry = ry - 2.0 * across * ny;
      if (0.0 - across * side < kGrazingMargin) {
        const double sine = kGrazingMargin;
        const double cosine = std::sqrt(1.0 - sine * sine);
        const double sign = rx * tx + ry * ty < 0.0 ? -1.0 : 1.0;
        rx = sign * cosine * tx + side * sine * nx;
        ry = sign * cosine * ty + side * sine * ny;
      }
    }
  }
  dx = rx;
  dy = ry;
}

}  // namespace zm::fast
