// The plain linear scan for the nearest wall a ray meets: the reference
// that the tracer's vector hit test (tracer/wall_scan.h) must match.
#pragma once

#include <cstdint>

#include "tracer/geometry.h"

namespace zm {

struct THit {
  double X = 0.0;
  double Y = 0.0;
  const TWall* Wall = nullptr;
};

// The nearest wall that a ray leaving (originX, originY) at `angle` meets,
// skipping the entry whose Wall is `excludedWall` (none when null). A wall's
// end points belong to it, a crossing at the origin itself counts, a wall
// parallel to the ray is never met, and of two walls at the same distance
// the earlier table entry wins. Returns false when no wall is met (`hit` is
// then unspecified).
bool FindNearestHit(double originX, double originY, double angle, const TWallSegment* table,
                    int32_t count, const TWall* excludedWall, THit& hit);

}  // namespace zm
