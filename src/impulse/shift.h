// Moving a sample sequence earlier by a fraction of a sample.
#pragma once

#include <cstdint>

namespace zm {

// Replaces samples[0 .. count-1] by the sequence interpolated at i + fraction
// (0 <= fraction < 1), through fast convolution with a 512-tap Hann-windowed
// sinc; samples outside the range count as silence. Works in place: the
// output trails the input by at least 256 samples.
void ShiftByFraction(double* samples, int32_t count, double fraction);

}  // namespace zm
