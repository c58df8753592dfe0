// Compiles the kernels of the file named by ZM_KERNEL_FILE once per SIMD
// path: included at file scope, after ZM_KERNEL_FILE is defined as that
// file's quoted name and after everything the kernels use is declared. The
// kernels, written against the lane type V (support/lanes.h), land in
// zm::portable, zm::sse2, zm::avx2 and zm::avx512, each built for its
// instruction set; ZM_PATH_KERNELS(Name) lists Name of every path this build
// compiled, as TPathKernels (support/simd_path.h) takes them.
//
// A template region cannot be given a target by its lane type, so each path
// includes the file anew; hence no include guard, here or there.
#include "support/lanes.h"

namespace zm::portable {
namespace {
using V = lanes::TDouble1;
#include ZM_KERNEL_FILE
}  // namespace
}  // namespace zm::portable

#if ZM_X86

namespace zm::sse2 {
namespace {
using V = lanes::TDouble2;
#include ZM_KERNEL_FILE
}  // namespace
}  // namespace zm::sse2

ZM_BEGIN_AVX2
namespace zm::avx2 {
namespace {
using V = lanes::TDouble4;
#include ZM_KERNEL_FILE
}  // namespace
}  // namespace zm::avx2
ZM_END_TARGET

ZM_BEGIN_AVX512
namespace zm::avx512 {
namespace {
using V = lanes::TDouble8;
#include ZM_KERNEL_FILE
}  // namespace
}  // namespace zm::avx512
ZM_END_TARGET

#endif

#ifndef ZM_PATH_KERNELS
#if ZM_X86
#define ZM_PATH_KERNELS(Name) \
  { portable::Name, sse2::Name, avx2::Name, avx512::Name }
#else
#define ZM_PATH_KERNELS(Name) \
  { portable::Name }
#endif
#endif

#undef ZM_KERNEL_FILE
