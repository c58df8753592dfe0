#include "fast/wall_scan.h"

#include <algorithm>
#include <cmath>

#include "fast/fast_math.h"

#define ZM_KERNEL_FILE "fast/wall_kernels.h"
#include "support/each_path.h"

namespace zm::fast {

namespace {
constexpr TPathKernels<TLaneScan> kLaneScans = ZM_PATH_KERNELS(NearestWalls);
constexpr TPathKernels<TRowsAdd> kRowsAdds = ZM_PATH_KERNELS(AddRows);
constexpr TPathKernels<TLaneReflect> kLaneReflects = ZM_PATH_KERNELS(ReflectLanes);
constexpr TPathKernels<TRowsConvolve> kRowsConvolves = ZM_PATH_KERNELS(ConvolveRows);
}  // namespace

TLaneScan LaneScanFor(TSimdPath path) {
  return kLaneScans.For(path);
}

TLaneReflect LaneReflectFor(TSimdPath path) {
  return kLaneReflects.For(path);
}

TRowsAdd RowsAddFor(TSimdPath path) {
  return kRowsAdds.For(path);
}

TRowsConvolve RowsConvolveFor(TSimdPath path) {
  return kRowsConvolves.For(path);
}

}  // namespace zm::fast
