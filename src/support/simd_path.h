// The instruction set that the vector kernels of the library use, chosen
// once at run time from what the processor offers. Every path computes the
// same operations on each value in the same order (never a fused
// multiply-add), so all of them give the same bits; they differ only in how
// many values one instruction handles.
#pragma once

#include <cstdint>

// Whether this build targets x86, whose vector paths it then compiles.
#if defined(__x86_64__) || defined(__i386__)
#define ZM_X86 1
#else
#define ZM_X86 0
#endif

namespace zm {

enum class TSimdPath : int32_t {
  Portable = 0,  // plain C++, for processors without the ones below
  Sse2 = 1,      // 2 doubles per instruction; every x86 build has it
  Avx2 = 2,      // 4 doubles
  Avx512 = 3,    // 8 doubles
};

inline constexpr TSimdPath kSimdPaths[] = {TSimdPath::Portable, TSimdPath::Sse2, TSimdPath::Avx2,
                                           TSimdPath::Avx512};

// Whether this build and this processor (with its operating system) can run
// `path`.
bool SimdPathAvailable(TSimdPath path);

// The widest available path.
TSimdPath BestSimdPath();

// The path that kernels chosen from now on use: the widest one, unless a
// test forced another.
TSimdPath ActiveSimdPath();

// Test hook: makes ActiveSimdPath return `path` (false, and no change, when
// it is not available). Forcing BestSimdPath() restores the default.
bool ForceSimdPath(TSimdPath path);

const char* SimdPathName(TSimdPath path);

// One kernel compiled for each path (the vector ones absent from builds
// for other processors): the one place that maps a path to its kernel.
template <class TKernel>
struct TPathKernels {
  TKernel Portable = nullptr;
  TKernel Sse2 = nullptr;
  TKernel Avx2 = nullptr;
  TKernel Avx512 = nullptr;

  // The kernel of `path`, or the portable one where this build has none.
  TKernel For(TSimdPath path) const {
    TKernel kernel = nullptr;
    switch (path) {
      case TSimdPath::Sse2:
        kernel = Sse2;
        break;
      case TSimdPath::Avx2:
        kernel = Avx2;
        break;
      case TSimdPath::Avx512:
        kernel = Avx512;
        break;
      default:
        break;
    }
    return kernel != nullptr ? kernel : Portable;
  }
};

}  // namespace zm
