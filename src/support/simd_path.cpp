#include "support/simd_path.h"

#include <atomic>
#include <iterator>

namespace zm {

namespace {
// -1 until the first call decides; a test may overwrite it.
std::atomic<int32_t> activePath{-1};
}  // namespace

bool SimdPathAvailable(TSimdPath path) {
  switch (path) {
    case TSimdPath::Portable:
      return true;
#if ZM_X86
    // The 32-bit builds are compiled for SSE2, so it is there whenever the
    // library runs at all. The wider sets also need the operating system to
    // save their registers, which __builtin_cpu_supports checks as well.
    case TSimdPath::Sse2:
      return true;
    case TSimdPath::Avx2:
      return __builtin_cpu_supports("avx2");
    case TSimdPath::Avx512:
      return __builtin_cpu_supports("avx512f");
#endif
    default:
      return false;
  }
}

TSimdPath BestSimdPath() {
  for (int i = static_cast<int>(std::size(kSimdPaths)) - 1; i > 0; --i) {
    if (SimdPathAvailable(kSimdPaths[i])) return kSimdPaths[i];
  }
  return TSimdPath::Portable;
}

TSimdPath ActiveSimdPath() {
  int32_t path = activePath.load(std::memory_order_relaxed);
  if (path < 0) {
    path = static_cast<int32_t>(BestSimdPath());
    activePath.store(path, std::memory_order_relaxed);
  }
  return static_cast<TSimdPath>(path);
}

bool ForceSimdPath(TSimdPath path) {
  if (!SimdPathAvailable(path)) return false;
  activePath.store(static_cast<int32_t>(path), std::memory_order_relaxed);
  return true;
}

const char* SimdPathName(TSimdPath path) {
  switch (path) {
    case TSimdPath::Sse2:
      return "SSE2";
    case TSimdPath::Avx2:
      return "AVX2";
    case TSimdPath::Avx512:
      return "AVX-512";
    default:
      return "portable";
  }
}

}  // namespace zm
