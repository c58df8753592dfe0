// The instruction set that the vector kernels of the library use, chosen
// once at run time from what the processor offers. Every path computes the
// same operations on each value in the same order (never a fused
// multiply-add), so all of them give the same bits; they differ only in how
// many values one instruction handles.
#pragma once

#include <cstdint>

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

}  // namespace zm
