// Fast mode's walls: laid out for the vector scan of wall_kernels.h, with
// what a reflection needs, and the reflection itself in vector arithmetic.
#pragma once

#include <cstdint>
#include <vector>

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

using TFastScan = void (*)(const TFastWalls& walls, double ox, double oy, double dx, double dy,
                           int32_t excluded, TFastHit& hit);

// The scan of `path`; the same hits on every path.
TFastScan FastScanFor(TSimdPath path);

// The unit direction (dx, dy) after reflecting off a wall of unit direction
// (tx, ty): the mirror image, turned by (draw - 0.5) * scatter away from
// the mirror direction as the exact tracer's angles turn it (towards the
// wall for one sign, away for the other, whichever side the ray came from).
// A turn past grazing is mirrored back off grazing, and the result kept at
// least kGrazingMargin from the wall.
void Reflect(double& dx, double& dy, double tx, double ty, double scatter, double draw);

}  // namespace zm::fast
