// In-place real FFT of a power-of-two length with precomputed tables.
//
// Spectrum layout (n doubles): entry 0 = R(0), entry 1 = R(n/2), and for
// 0 < m < n/2 entry 2m = R(m), entry 2m+1 = I(m), where
//   R(m) = sum x_j cos(2 pi j m / n),  I(m) = sum x_j sin(2 pi j m / n)
// (the sine sum with a plus sign). Inverse returns n/2 times the samples, so
// Inverse followed by Scale(InverseScale) restores them.
#pragma once

#include <cstdint>
#include <vector>

namespace zm {

class TFastFourierTransform {
 public:
  // n = 2^log2Size, 2 <= log2Size <= 24.
  explicit TFastFourierTransform(int32_t log2Size);

  void Forward(double* a) const;
  void Inverse(double* a) const;
  // a := a * b, element by element on two packed spectra.
  void MultiplySpectrum(double* a, const double* b) const;
  void Scale(double* a, double factor) const;

  int32_t Log2Size;
  int32_t Size;
  double InverseScale;  // 2 / n

 private:
  // Complex transform of n/2 interleaved points; sign +1 uses exp(+i...).
  void Complex(double* a, bool positive) const;

  std::vector<int32_t> BitReversal_;  // n/2 entries: the permutation of the complex points
  // cos and sin of 2 pi k / n for k = 0 .. n/2 - 1; the complex stages take
  // every (n / span)-th entry, the real split pass takes them all.
  std::vector<double> Cos_;
  std::vector<double> Sin_;
};

}  // namespace zm
