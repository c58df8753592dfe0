#include "impulse/shift.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "impulse/fft.h"

namespace zm {

namespace {
constexpr int32_t kTaps = 512;        // kernel length, also the block length
constexpr int32_t kSize = 2 * kTaps;  // transform length
constexpr int32_t kLog2Size = 10;
constexpr int32_t kCentre = kTaps / 2;  // the kernel's delay, skipped at the start
}  // namespace

void ShiftByFraction(double* samples, int32_t count, double fraction) {
  if (count <= 0) return;
  const double pi = std::numbers::pi;
  TFastFourierTransform fft(kLog2Size);

  // A sinc centred on 256 - fraction under a Hann window shifted by the same
  // fraction. The kernel carries the inverse's 2/n so that the convolution
  // comes out at unit gain.
  double kernel[kSize];
  for (int32_t i = 0; i < kTaps; ++i) {
    const double y = (i - kCentre + fraction) * pi;
    if (y == 0.0) {
      kernel[i] = 1.0;
    } else {
      const double window = 0.5 * std::cos((i + fraction) * 2.0 * pi / kTaps + pi) + 0.5;
      kernel[i] = window * std::sin(y) / y;
    }
  }
  std::fill(kernel + kTaps, kernel + kSize, 0.0);
  fft.Scale(kernel, fft.InverseScale);
  fft.Forward(kernel);

  // Overlap-save: each transform sees the previous input block and the new
  // one; the second half of the result is free of wrap-around.
  double previous[kTaps] = {};
  double work[kSize];
  const double* input = samples;
  double* output = samples;
  int32_t inputLeft = count;
  int32_t toWrite = count;
  int32_t skip = kCentre;
  while (toWrite > 0) {
    const int32_t m = std::min(inputLeft, kTaps);
    std::memcpy(work, previous, sizeof previous);
    if (m > 0) std::memcpy(previous, input, sizeof(double) * m);
    std::fill(previous + m, previous + kTaps, 0.0);
    std::memcpy(work + kTaps, previous, sizeof previous);

    fft.Forward(work);
    fft.MultiplySpectrum(work, kernel);
    fft.Inverse(work);

    input += m;
    inputLeft -= m;
    const int32_t q = std::min(toWrite, kTaps - skip);
    std::memcpy(output, work + kTaps + skip, sizeof(double) * q);
    output += q;
    toWrite -= q;
    skip = 0;
  }
}

}  // namespace zm
