#include "fast/wall_scan.h"

#include <cmath>

#include "fast/fast_math.h"

#define ZM_KERNEL_FILE "fast/wall_kernels.h"
#include "support/each_path.h"

namespace zm::fast {

namespace {
constexpr TPathKernels<TLaneScan> kLaneScans = ZM_PATH_KERNELS(NearestWalls);
constexpr TPathKernels<TRowsAdd> kRowsAdds = ZM_PATH_KERNELS(AddRows);
}  // namespace

TLaneScan LaneScanFor(TSimdPath path) {
  return kLaneScans.For(path);
}

TRowsAdd RowsAddFor(TSimdPath path) {
  return kRowsAdds.For(path);
}

void Reflect(double& dx, double& dy, double tx, double ty, double scatter, double draw) {
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
