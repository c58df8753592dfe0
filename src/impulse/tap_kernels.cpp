#include "impulse/tap_kernels.h"

#define ZM_KERNEL_FILE "impulse/tap_kernel.h"
#include "support/each_path.h"

namespace zm {

namespace {
constexpr TPathKernels<TTapKernel> kTapKernels = ZM_PATH_KERNELS(Taps);
}  // namespace

TTapKernel TapKernelFor(TSimdPath path) {
  return kTapKernels.For(path);
}

}  // namespace zm
