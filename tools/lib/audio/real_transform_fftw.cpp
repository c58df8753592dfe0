#include "lib/audio/audio_file.h"
#include "lib/audio/real_transform.h"

#include <fftw3.h>

#include <mutex>
#include <string>

namespace zm::cli {

// FFTW's planner is not reentrant; executing a plan on other buffers is.
namespace {
std::mutex plannerMutex;
}

struct RealTransform::Plans {
  fftw_plan forward = nullptr, inverse = nullptr;
  ~Plans() {
    if (forward) fftw_destroy_plan(forward);
    if (inverse) fftw_destroy_plan(inverse);
  }
};

RealTransform::RealTransform(size_t size) : size_(size), plans_(std::make_unique<Plans>()) {
  if (size < 4 || (size & (size - 1)) != 0) {
    throw AudioFileError("a transform of " + std::to_string(size) + " points is not supported");
  }
  const AlignedDoubles time = AllocateAlignedDoubles(size);
  const AlignedDoubles spectrum = AllocateAlignedDoubles(size + 2);
  auto* bins = reinterpret_cast<fftw_complex*>(spectrum.get());
  const std::lock_guard lock(plannerMutex);
  plans_->forward = fftw_plan_dft_r2c_1d(int(size), time.get(), bins, FFTW_ESTIMATE);
  plans_->inverse = fftw_plan_dft_c2r_1d(int(size), bins, time.get(), FFTW_ESTIMATE);
  if (!plans_->forward || !plans_->inverse) {
    throw AudioFileError("cannot set up a transform of " + std::to_string(size) + " points");
  }
}

RealTransform::~RealTransform() = default;

void RealTransform::Forward(const double* time, std::complex<double>* spectrum) const {
  fftw_execute_dft_r2c(plans_->forward, const_cast<double*>(time),
                       reinterpret_cast<fftw_complex*>(spectrum));
}

void RealTransform::Inverse(std::complex<double>* spectrum, double* time) const {
  fftw_execute_dft_c2r(plans_->inverse, reinterpret_cast<fftw_complex*>(spectrum), time);
}

void AlignedFree::operator()(double* p) const {
  fftw_free(p);
}

AlignedDoubles AllocateAlignedDoubles(size_t n) {
  AlignedDoubles memory(fftw_alloc_real(n == 0 ? 1 : n));
  if (!memory) throw AudioFileError("out of memory for " + std::to_string(n) + " samples");
  return memory;
}

}  // namespace zm::cli
