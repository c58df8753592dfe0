#pragma once
// The discrete Fourier transform of real samples, as the octave-band
// analysis and the auralisation's convolution use it. Two builds of one
// interface: FFTW's in the native tool, and a radix-2 one of our own where
// FFTW is not available (the workbench's WebAssembly). Both compute the
// same sums to rounding, so an analysis reads the same either way. FFTW is
// called from nowhere else, so its planner, which is not reentrant, is
// locked in one place.

#include <complex>
#include <cstddef>
#include <memory>

namespace zm::cli {

class RealTransform {
 public:
  // Throws AudioFileError if `size` is not a power of two of at least 4 or
  // the transform cannot be set up.
  explicit RealTransform(size_t size);
  ~RealTransform();
  RealTransform(const RealTransform&) = delete;
  RealTransform& operator=(const RealTransform&) = delete;

  size_t Size() const { return size_; }

  // spectrum[k] = sum over j of time[j] e^(-2 pi i jk / size), for the
  // size / 2 + 1 bins k = 0 .. size / 2. Both buffers from AlignedDoubles.
  void Forward(const double* time, std::complex<double>* spectrum) const;

  // The inverse without its 1/size: time[j] = sum over all size bins of
  // spectrum[k] e^(2 pi i jk / size), the bins above size / 2 being the
  // conjugates of those below. Overwrites `spectrum`.
  void Inverse(std::complex<double>* spectrum, double* time) const;

 private:
  struct Plans;
  size_t size_;
  std::unique_ptr<Plans> plans_;
};

// Memory for the transforms' buffers, aligned for any vector width.
struct AlignedFree {
  void operator()(double* p) const;
};
using AlignedDoubles = std::unique_ptr<double[], AlignedFree>;
AlignedDoubles AllocateAlignedDoubles(size_t n);

}  // namespace zm::cli
