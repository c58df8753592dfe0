// The tracer's kernels (lane_kernels.h), compiled for each SIMD path.
#include <cmath>
#include <cstdint>
#include <numbers>

#include "support/simd_path.h"
#include "tracer/geometry.h"
#include "tracer/wall_clusters.h"
#include "tracer/wall_scan.h"

namespace zm {

namespace {

constexpr double kPi = std::numbers::pi;

// The division-free prefilter. With the sign of den moved onto the
// numerators, a quotient that rounds into [0, 1] has its numerator between
// -slack and 1 + slack times |den|, where the slack lies far above the
// rounding of a quotient (2^-53), also for subnormal den. A lane outside
// that range is one the exact test rejects, so skipping it changes nothing;
// most blocks hold no other lane and need no division at all.
constexpr double kPrefilterSlack = 0x1.0p-20;

// Keeps the crossing (x, y) of lane `lane`, with the angle `next` after
// reflecting off it, when it beats `best`: nearer, or as near and earlier in
// the table (FindNearestHit's tie rule, also when clusters hand the walls over
// out of table order or a wall twice). Distances are taken only when two
// crossings compete: most rays cross one wall.
inline void Consider(const TWallLanes& walls, int32_t lane, double x, double y, double next,
                     const TScanRay& ray, int32_t excluded, TScanBest& best) {
  const int32_t index = walls.Index[lane];
  if (index == excluded) return;
  if (best.Index < 0) {
    best = TScanBest{0.0, x, y, next, index, false};
    return;
  }
  if (!best.HasDistance) {
    best.Distance = ray.DistanceTo(best.X, best.Y);
    best.HasDistance = true;
  }
  const double distance = ray.DistanceTo(x, y);
  if (distance < best.Distance || (distance == best.Distance && index < best.Index)) {
    best = TScanBest{distance, x, y, next, index, true};
  }
}

// Consider for each lane of block `first` set in `mask`, in lane order.
// The usual crossing, the only one and the first, is kept without
// Consider's branches: on a ray every hit test waits for the last, so a
// mispredicted branch here delays the whole ray.
[[gnu::always_inline]] inline void ConsiderLanes(const TWallLanes& walls, int32_t first,
                                                 unsigned mask, const double* x, const double* y,
                                                 const double* nexts, const TScanRay& ray,
                                                 int32_t excluded, TScanBest& best) {
  if (best.Index < 0 && (mask & (mask - 1)) == 0) {
    const int lane = __builtin_ctz(mask);
    const int32_t index = walls.Index[first + lane];
    if (index != excluded) {
      best = TScanBest{0.0, x[lane], y[lane], nexts[lane], index, false};
      return;
    }
  }
  for (; mask != 0; mask &= mask - 1) {
    const int lane = __builtin_ctz(mask);
    Consider(walls, first + lane, x[lane], y[lane], nexts[lane], ray, excluded, best);
  }
}

}  // namespace

}  // namespace zm

#define ZM_KERNEL_FILE "tracer/lane_kernels.h"
#include "support/each_path.h"

namespace zm {

namespace {
constexpr TPathKernels<TScanKernel> kScanKernels = ZM_PATH_KERNELS(Scan);
constexpr TPathKernels<TBoxTest> kBoxTests = ZM_PATH_KERNELS(BoxTest);
}  // namespace

double ReflectAngle(double angle, double wallAngle, double diffusion, double draw) {
  using lanes::TDouble1;
  return portable::Reflect(TDouble1{angle}, TDouble1{wallAngle}, TDouble1{diffusion},
                           TDouble1{draw - 0.5})
      .V;
}

TScanKernel ScanKernelFor(TSimdPath path) {
  return kScanKernels.For(path);
}

TBoxTest BoxTestFor(TSimdPath path) {
  return kBoxTests.For(path);
}

}  // namespace zm
