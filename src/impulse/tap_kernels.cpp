#include "impulse/tap_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZM_X86 1
#endif

namespace zm {

namespace {

// The reference: one tap at a time. The vector kernels below do exactly
// this to 2, 4 or 8 taps per instruction.
void PortableTaps(const double* phase, const double* nextPhase, int32_t blocks, double fraction,
                  const double* coefficients, double* taps) {
  for (int32_t q = 0; q < blocks; ++q) {
    const double* v = phase + q * kTapBlockDoubles;
    const double* next = nextPhase + q * kTapBlockDoubles;
    for (int lane = 0; lane < kTapBlock; ++lane) {
      double sum = 0.0;
      for (int k = 0; k < kTapCoefficients; ++k) {
        const double value = v[k * kTapBlock + lane];
        const double step = next[k * kTapBlock + lane] - value;
        sum = sum + (value + fraction * step) * coefficients[k];
      }
      const double window = v[kWindowValue * kTapBlock + lane];
      const double windowStep = next[kWindowValue * kTapBlock + lane] - window;
      taps[q * kTapBlock + lane] = sum * (window + fraction * windowStep);
    }
  }
}

#if ZM_X86

void Sse2Taps(const double* phase, const double* nextPhase, int32_t blocks, double fraction,
              const double* coefficients, double* taps) {
  const __m128d f = _mm_set1_pd(fraction);
  for (int32_t q = 0; q < blocks; ++q) {
    const double* v = phase + q * kTapBlockDoubles;
    const double* next = nextPhase + q * kTapBlockDoubles;
    for (int lane = 0; lane < kTapBlock; lane += 2) {
      __m128d sum = _mm_setzero_pd();
      for (int k = 0; k < kTapCoefficients; ++k) {
        const __m128d value = _mm_loadu_pd(v + k * kTapBlock + lane);
        const __m128d step = _mm_sub_pd(_mm_loadu_pd(next + k * kTapBlock + lane), value);
        const __m128d at = _mm_add_pd(value, _mm_mul_pd(f, step));
        sum = _mm_add_pd(sum, _mm_mul_pd(at, _mm_set1_pd(coefficients[k])));
      }
      const __m128d window = _mm_loadu_pd(v + kWindowValue * kTapBlock + lane);
      const __m128d windowStep =
          _mm_sub_pd(_mm_loadu_pd(next + kWindowValue * kTapBlock + lane), window);
      const __m128d windowAt = _mm_add_pd(window, _mm_mul_pd(f, windowStep));
      _mm_storeu_pd(taps + q * kTapBlock + lane, _mm_mul_pd(sum, windowAt));
    }
  }
}

__attribute__((target("avx2"))) void Avx2Taps(const double* phase, const double* nextPhase,
                                              int32_t blocks, double fraction,
                                              const double* coefficients, double* taps) {
  const __m256d f = _mm256_set1_pd(fraction);
  for (int32_t q = 0; q < blocks; ++q) {
    const double* v = phase + q * kTapBlockDoubles;
    const double* next = nextPhase + q * kTapBlockDoubles;
    for (int lane = 0; lane < kTapBlock; lane += 4) {
      __m256d sum = _mm256_setzero_pd();
      for (int k = 0; k < kTapCoefficients; ++k) {
        const __m256d value = _mm256_loadu_pd(v + k * kTapBlock + lane);
        const __m256d step = _mm256_sub_pd(_mm256_loadu_pd(next + k * kTapBlock + lane), value);
        const __m256d at = _mm256_add_pd(value, _mm256_mul_pd(f, step));
        sum = _mm256_add_pd(sum, _mm256_mul_pd(at, _mm256_set1_pd(coefficients[k])));
      }
      const __m256d window = _mm256_loadu_pd(v + kWindowValue * kTapBlock + lane);
      const __m256d windowStep =
          _mm256_sub_pd(_mm256_loadu_pd(next + kWindowValue * kTapBlock + lane), window);
      const __m256d windowAt = _mm256_add_pd(window, _mm256_mul_pd(f, windowStep));
      _mm256_storeu_pd(taps + q * kTapBlock + lane, _mm256_mul_pd(sum, windowAt));
    }
  }
}

__attribute__((target("avx512f"))) void Avx512Taps(const double* phase, const double* nextPhase,
                                                   int32_t blocks, double fraction,
                                                   const double* coefficients, double* taps) {
  static_assert(kTapBlock == 8, "one AVX-512 register holds one block");
  const __m512d f = _mm512_set1_pd(fraction);
  for (int32_t q = 0; q < blocks; ++q) {
    const double* v = phase + q * kTapBlockDoubles;
    const double* next = nextPhase + q * kTapBlockDoubles;
    __m512d sum = _mm512_setzero_pd();
    for (int k = 0; k < kTapCoefficients; ++k) {
      const __m512d value = _mm512_loadu_pd(v + k * kTapBlock);
      const __m512d step = _mm512_sub_pd(_mm512_loadu_pd(next + k * kTapBlock), value);
      const __m512d at = _mm512_add_pd(value, _mm512_mul_pd(f, step));
      sum = _mm512_add_pd(sum, _mm512_mul_pd(at, _mm512_set1_pd(coefficients[k])));
    }
    const __m512d window = _mm512_loadu_pd(v + kWindowValue * kTapBlock);
    const __m512d windowStep =
        _mm512_sub_pd(_mm512_loadu_pd(next + kWindowValue * kTapBlock), window);
    const __m512d windowAt = _mm512_add_pd(window, _mm512_mul_pd(f, windowStep));
    _mm512_storeu_pd(taps + q * kTapBlock, _mm512_mul_pd(sum, windowAt));
  }
}

#endif

}  // namespace

TTapKernel TapKernelFor(TSimdPath path) {
  switch (path) {
#if ZM_X86
    case TSimdPath::Sse2:
      return Sse2Taps;
    case TSimdPath::Avx2:
      return Avx2Taps;
    case TSimdPath::Avx512:
      return Avx512Taps;
#endif
    default:
      return PortableTaps;
  }
}

}  // namespace zm
