#include "impulse/fft.h"

#include <cmath>
#include <numbers>

#include "support/exception.h"

namespace zm {

namespace msg::fft {
inline constexpr MessageText sFftSize{"Transform size 2^%d is outside 2^2 to 2^24"};
}  // namespace msg::fft

TFastFourierTransform::TFastFourierTransform(int32_t log2Size) {
  if (log2Size < 2 || log2Size > 24) throw ERangeError(Format(msg::fft::sFftSize, {log2Size}));
  Log2Size = log2Size;
  Size = int32_t{1} << log2Size;
  InverseScale = 2.0 / Size;

  const int32_t half = Size / 2;
  BitReversal_.resize(half);
  const int32_t bits = log2Size - 1;
  for (int32_t i = 0; i < half; ++i) {
    int32_t r = 0;
    for (int32_t b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    BitReversal_[i] = r;
  }
  Cos_.resize(half);
  Sin_.resize(half);
  for (int32_t k = 0; k < half; ++k) {
    const double angle = 2.0 * std::numbers::pi * k / Size;
    Cos_[k] = std::cos(angle);
    Sin_[k] = std::sin(angle);
  }
}

void TFastFourierTransform::Complex(double* a, bool positive) const {
  const int32_t points = Size / 2;
  for (int32_t i = 0; i < points; ++i) {
    const int32_t j = BitReversal_[i];
    if (j > i) {
      std::swap(a[2 * i], a[2 * j]);
      std::swap(a[2 * i + 1], a[2 * j + 1]);
    }
  }
  const double sign = positive ? 1.0 : -1.0;
  for (int32_t span = 2; span <= points; span *= 2) {
    const int32_t halfSpan = span / 2;
    const int32_t stride = Size / span;  // table step for exp(2 pi i k / span)
    for (int32_t start = 0; start < points; start += span) {
      for (int32_t k = 0; k < halfSpan; ++k) {
        const double wr = Cos_[k * stride];
        const double wi = sign * Sin_[k * stride];
        double* p = a + 2 * (start + k);
        double* q = a + 2 * (start + k + halfSpan);
        const double tr = wr * q[0] - wi * q[1];
        const double ti = wr * q[1] + wi * q[0];
        q[0] = p[0] - tr;
        q[1] = p[1] - ti;
        p[0] = p[0] + tr;
        p[1] = p[1] + ti;
      }
    }
  }
}

// The n real samples are taken as n/2 complex points z_j = x_2j + i x_2j+1.
// After their complex transform Z, the spectra of the even and odd samples
// are E(k) = (Z(k) + conj Z(N-k)) / 2 and O(k) = (Z(k) - conj Z(N-k)) / 2i,
// and X(k) = E(k) + exp(2 pi i k / n) O(k).
void TFastFourierTransform::Forward(double* a) const {
  const int32_t points = Size / 2;
  Complex(a, true);
  const double e0 = a[0];
  const double o0 = a[1];
  a[0] = e0 + o0;
  a[1] = e0 - o0;
  for (int32_t k = 1; k <= points / 2; ++k) {
    const int32_t mk = points - k;
    const double zr = a[2 * k], zi = a[2 * k + 1];
    const double cr = a[2 * mk], ci = a[2 * mk + 1];
    const double er = 0.5 * (zr + cr), ei = 0.5 * (zi - ci);
    const double orr = 0.5 * (zi + ci), oi = 0.5 * (cr - zr);
    const double wr = Cos_[k], wi = Sin_[k];
    const double tr = wr * orr - wi * oi;
    const double ti = wr * oi + wi * orr;
    // X(N-k) = conj(E(k)) - conj(exp(2 pi i k / n) O(k)), since the twiddle of
    // N-k is minus the conjugate of the twiddle of k.
    a[2 * k] = er + tr;
    a[2 * k + 1] = ei + ti;
    a[2 * mk] = er - tr;
    a[2 * mk + 1] = ti - ei;
  }
}

void TFastFourierTransform::Inverse(double* a) const {
  const int32_t points = Size / 2;
  const double x0 = a[0];
  const double xn = a[1];
  a[0] = x0 + xn;  // 2 E(0) + 2i O(0): both halves carry a factor 2 here
  a[1] = x0 - xn;
  for (int32_t k = 1; k <= points / 2; ++k) {
    const int32_t mk = points - k;
    const double xr = a[2 * k], xi = a[2 * k + 1];
    const double yr = a[2 * mk], yi = a[2 * mk + 1];
    // 2E(k) = X(k) + conj X(N-k); 2 w O(k) = X(k) - conj X(N-k).
    const double er = xr + yr, ei = xi - yi;
    const double tr = xr - yr, ti = xi + yi;
    const double wr = Cos_[k], wi = Sin_[k];
    const double orr = wr * tr + wi * ti;  // times conj(w)
    const double oi = wr * ti - wi * tr;
    // 2Z(k) = 2E(k) + i 2O(k); 2Z(N-k) = conj(2E(k)) + i conj(2O(k)) with
    // the odd spectrum of N-k being the conjugate of that of k.
    a[2 * k] = er - oi;
    a[2 * k + 1] = ei + orr;
    a[2 * mk] = er + oi;
    a[2 * mk + 1] = orr - ei;
  }
  // Every Z came out doubled; the unscaled inverse transform of n/2 points
  // then yields n/2 times 2 z_j, so halve once here.
  for (int32_t i = 0; i < Size; ++i) a[i] = 0.5 * a[i];
  Complex(a, false);
}

void TFastFourierTransform::MultiplySpectrum(double* a, const double* b) const {
  a[0] = a[0] * b[0];
  a[1] = a[1] * b[1];
  for (int32_t m = Size / 2 - 1; m >= 1; --m) {
    const double ar = a[2 * m], ai = a[2 * m + 1];
    const double br = b[2 * m], bi = b[2 * m + 1];
    a[2 * m] = ar * br - ai * bi;
    a[2 * m + 1] = ar * bi + ai * br;
  }
}

void TFastFourierTransform::Scale(double* a, double factor) const {
  for (int32_t i = 0; i < Size; ++i) a[i] = a[i] * factor;
}

}  // namespace zm
