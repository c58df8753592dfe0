// x raised to a real power y, with the library's rules for the edge cases:
// x = 0 gives 0 (an invalid operation when y = 0 too); y = 0 gives 1; a
// negative x is an invalid operation; otherwise exp(y * ln x).
#pragma once

#include <cmath>

#include "support/exception.h"
#include "zm/zm.h"

namespace zm {

inline double Power(double x, double y) {
  if (x == 0.0) {
    if (y == 0.0) throw EInvalidOp();
    return 0.0;
  }
  if (y == 0.0) return 1.0;
  if (x < 0.0) throw EInvalidOp();
  return std::exp(y * std::log(x));
}

// The air's amplitude factor over one air unit of path from its factor per
// metre: what an air material holds as its reflection.
inline double AirFactorPerUnit(double perMetre) {
  return Power(perMetre, ZM_AIR_UNIT_METRES);
}

}  // namespace zm
