// The inner loop of the impulse: the taps of one arrival, the amounts it adds
// to each sample under its filter, computed from two neighbouring phases of
// the filter table. One kernel per SIMD path, all giving the same bits.
#pragma once

#include <cstdint>

#include "support/simd_path.h"

namespace zm {

// Values per tap and phase in the filter table, in the order the sum takes
// them: P and Q of each of the seven band segments, the top band term T,
// and last the window W, which multiplies the sum.
inline constexpr int kTapValues = 16;
inline constexpr int kWindowValue = 15;
// Taps are stored in blocks of this many side by side, one value of all of
// them after another, so that a vector instruction reads a value of 2, 4 or
// 8 taps at once.
inline constexpr int kTapBlock = 8;
inline constexpr int kTapBlockDoubles = kTapValues * kTapBlock;

// One factor per table value but the window, in the same order: A and B of
// each band segment (the straight line of its gains times the amplitude),
// then the top band's gain times the amplitude.
inline constexpr int kTapCoefficients = 15;

// Writes taps[m] for m below kTapBlock * blocks. `phase` and `nextPhase`
// are the table rows of the arrival's phase j and of j + 1; each value is
// interpolated as v + fraction * (next - v), the k-th one multiplied by
// coefficients[k] and summed in order starting from 0, and the sum
// multiplied by the interpolated window.
using TTapKernel = void (*)(const double* phase, const double* nextPhase, int32_t blocks,
                            double fraction, const double* coefficients, double* taps);

// The kernel of `path`, which must be available (SimdPathAvailable).
TTapKernel TapKernelFor(TSimdPath path);

}  // namespace zm
