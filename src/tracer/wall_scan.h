// The tracer's nearest-hit search: exactly the wall, hit point and tie rule
// of FindNearestHit's linear scan, found faster. Every wall is tested with
// the same arithmetic as there, several walls per vector instruction, and
// a division-free prefilter spares the divisions for the blocks of walls
// that the ray cannot cross. Alongside, the vector paths compute
// ReflectAngle off every wall they test, so that the direction after the hit
// is ready the moment the wall is known: on a ray each segment waits for the
// last, so the time from one hit test to the next is what counts.
#pragma once

#include <cstdint>
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
};

// The ray as the hit test sees it: origin and the direction vector D of
// FindNearestHit (the stored far end minus the origin); its angle, and the
// draw that its next reflection takes.
struct TScanRay {
  double X, Y;
  double DirX, DirY;
  double Angle;
  double Draw;
};

// The best hit so far: the smallest distance, and of equal distances the
// earliest wall of the table; NextAngle is ReflectAngle off that wall.
struct TScanBest {
  double Distance;  // valid when HasDistance
  double X, Y;
  double NextAngle;
  int32_t Index = -1;  // none yet
  bool HasDistance = false;
};

// Tests every lane of `walls`, in lane order, and keeps the better of each
// accepted crossing and `best`. The wall with table index `excluded` is
// skipped.
using TScanKernel = void (*)(const TWallLanes& walls, const TScanRay& ray, int32_t excluded,
                             TScanBest& best);

TScanKernel ScanKernelFor(TSimdPath path);

class TWallScan {
 public:
  // Lays out `table`, whose entries refer to walls of a scene with their
  // materials, for the kernel of the active SIMD path.
  explicit TWallScan(const std::vector<TWallSegment>& table);

  // FindNearestHit for the ray leaving (originX, originY) at `angle`, whose
  // cosine and sine are given, skipping table entry `excluded` (none when
  // -1). On a hit, `best` holds the point, the table entry and the angle
  // ReflectAngle(angle, wall angle, its material's scatter, draw) gives.
  bool Find(double originX, double originY, double angle, double cosine, double sine,
            int32_t excluded, double draw, TScanBest& best) const;

 private:
  TWallLanes lanes_;
  TScanKernel kernel_;
};

}  // namespace zm
