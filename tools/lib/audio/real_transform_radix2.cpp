#include "lib/audio/audio_file.h"
#include "lib/audio/real_transform.h"

#include <cmath>
#include <new>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

namespace zm::cli {

// A real transform of N points is a complex one of M = N / 2 over the
// pairs (x[2j], x[2j + 1]), untangled into the transforms of the even and
// odd samples and joined by the twiddles e^(-2 pi i k / N). Everything runs
// in place in the spectrum's buffer, so a transform allocates nothing.

namespace {

using Complex = std::complex<double>;

// Spelled out: the library's operator* checks for infinities on every call.
Complex Times(Complex a, Complex b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

Complex Root(size_t k, size_t n) {
  const double angle = -2.0 * std::numbers::pi * double(k) / double(n);
  return {std::cos(angle), std::sin(angle)};
}

}  // namespace

struct RealTransform::Plans {
  std::vector<Complex> roots;                    // e^(-2 pi i k / M), k < M / 2
  std::vector<Complex> twiddles;                 // e^(-2 pi i k / N), k <= M / 2
  std::vector<std::pair<size_t, size_t>> swaps;  // the bit-reversal order

  void Complexes(Complex* s, size_t m, bool inverse) const {
    for (auto [a, b] : swaps) std::swap(s[a], s[b]);
    for (size_t half = 1; half < m; half *= 2) {
      const size_t stride = m / (2 * half);
      for (size_t start = 0; start < m; start += 2 * half) {
        for (size_t j = 0; j < half; ++j) {
          const Complex w = inverse ? std::conj(roots[j * stride]) : roots[j * stride];
          const Complex u = s[start + j], v = Times(s[start + j + half], w);
          s[start + j] = u + v;
          s[start + j + half] = u - v;
        }
      }
    }
  }
};

RealTransform::RealTransform(size_t size) : size_(size), plans_(std::make_unique<Plans>()) {
  if (size < 4 || (size & (size - 1)) != 0) {
    throw AudioFileError("a transform of " + std::to_string(size) + " points is not supported");
  }
  const size_t m = size / 2;
  for (size_t k = 0; k < m / 2; ++k) plans_->roots.push_back(Root(k, m));
  for (size_t k = 0; k <= m / 2; ++k) plans_->twiddles.push_back(Root(k, size));
  for (size_t i = 1, j = 0; i < m; ++i) {
    size_t bit = m >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) plans_->swaps.emplace_back(i, j);
  }
}

RealTransform::~RealTransform() = default;

void RealTransform::Forward(const double* time, Complex* spectrum) const {
  const size_t m = size_ / 2;
  for (size_t j = 0; j < m; ++j) spectrum[j] = {time[2 * j], time[2 * j + 1]};
  plans_->Complexes(spectrum, m, false);
  const Complex z0 = spectrum[0];
  spectrum[0] = {z0.real() + z0.imag(), 0.0};
  spectrum[m] = {z0.real() - z0.imag(), 0.0};
  // Bins k and M - k come from the same two entries; both are read first.
  for (size_t k = 1; k <= m / 2; ++k) {
    const Complex a = spectrum[k], b = std::conj(spectrum[m - k]);
    const Complex even = 0.5 * (a + b), odd = Times(Complex(0.0, -0.5), a - b);
    const Complex turned = Times(plans_->twiddles[k], odd);
    spectrum[k] = even + turned;
    spectrum[m - k] = std::conj(even - turned);
  }
}

void RealTransform::Inverse(Complex* spectrum, double* time) const {
  const size_t m = size_ / 2;
  const Complex x0 = spectrum[0], xm = std::conj(spectrum[m]);
  spectrum[0] = (x0 + xm) + Times(Complex(0.0, 1.0), x0 - xm);
  for (size_t k = 1; k <= m / 2; ++k) {
    const Complex a = spectrum[k], b = std::conj(spectrum[m - k]);
    const Complex even = a + b, odd = Times(a - b, std::conj(plans_->twiddles[k]));
    spectrum[k] = even + Times(Complex(0.0, 1.0), odd);
    spectrum[m - k] = std::conj(even) + Times(Complex(0.0, 1.0), std::conj(odd));
  }
  plans_->Complexes(spectrum, m, true);
  for (size_t j = 0; j < m; ++j) {
    time[2 * j] = spectrum[j].real();
    time[2 * j + 1] = spectrum[j].imag();
  }
}

void AlignedFree::operator()(double* p) const {
  ::operator delete[](p, std::align_val_t{64});
}

AlignedDoubles AllocateAlignedDoubles(size_t n) {
  try {
    return AlignedDoubles(static_cast<double*>(
        ::operator new[]((n == 0 ? 1 : n) * sizeof(double), std::align_val_t{64})));
  } catch (const std::bad_alloc&) {
    throw AudioFileError("out of memory for " + std::to_string(n) + " samples");
  }
}

}  // namespace zm::cli
