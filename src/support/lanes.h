// Lanes: doubles side by side, one type per SIMD path (TDouble1 for the
// portable path, TDouble2 for SSE2, TDouble4 for AVX2, TDouble8 for
// AVX-512), each with the operations the kernels use and no more. A kernel
// is written once against the lane type V and compiled once per path inside
// that path's target region (support/each_path.h), so every path does the
// same operations on each lane in the same order. Multiplications and
// additions stay separate instructions, never fused: that is what keeps the
// paths' results equal to the bit.
//
// Each lane type V has: kWidth; Mask, one flag per lane, joined with & and
// |, read as bits with Bits() (bit k for lane k); + - * / and Store
// (unaligned); and as static members (GCC leaves friends defined in the
// class outside the target region) Broadcast, Load (unaligned); IndexNot,
// the lanes whose int32 index differs from a value; the comparisons Less,
// Greater, LessEq, GreaterEq (false for NaN) and NotLess, NotGreater,
// NotEqual (true for NaN, as the scalar negations are); Select(mask, a, b),
// a where the mask is set; Max(a, b) and Min(a, b), which give b unless a
// is strictly beyond it (as the x86 instructions do); Abs; FlipSignBy(a,
// s), a negated where s has its sign bit set; Trunc, rounding toward zero.
#pragma once

#include <cmath>
#include <cstdint>

#include "support/simd_path.h"

#if ZM_X86
#include <immintrin.h>
#endif

// A target region: the functions defined between ZM_BEGIN_AVX2 (or
// ZM_BEGIN_AVX512) and ZM_END_TARGET may use that instruction set; they run
// only where SimdPathAvailable says so.
#if defined(__clang__)
#define ZM_BEGIN_AVX2 \
  _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define ZM_BEGIN_AVX512 \
  _Pragma("clang attribute push(__attribute__((target(\"avx512f\"))), apply_to = function)")
#define ZM_END_TARGET _Pragma("clang attribute pop")
#else
#define ZM_BEGIN_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define ZM_BEGIN_AVX512 _Pragma("GCC push_options") _Pragma("GCC target(\"avx512f\")")
#define ZM_END_TARGET _Pragma("GCC pop_options")
#endif

namespace zm::lanes {

// The portable path: one double, in plain C++.
struct TMask1 {
  bool On;
  unsigned Bits() const { return On ? 1u : 0u; }
  TMask1 operator&(TMask1 b) const { return {On && b.On}; }
  TMask1 operator|(TMask1 b) const { return {On || b.On}; }
};

struct TDouble1 {
  static constexpr int kWidth = 1;
  using Mask = TMask1;
  double V;
  static TDouble1 Broadcast(double x) { return {x}; }
  static TDouble1 Load(const double* p) { return {*p}; }
  void Store(double* p) const { *p = V; }
  static Mask IndexNot(const int32_t* p, int32_t value) { return {*p != value}; }
  TDouble1 operator+(TDouble1 b) const { return {V + b.V}; }
  TDouble1 operator-(TDouble1 b) const { return {V - b.V}; }
  TDouble1 operator*(TDouble1 b) const { return {V * b.V}; }
  TDouble1 operator/(TDouble1 b) const { return {V / b.V}; }
  static TMask1 Less(TDouble1 a, TDouble1 b) { return {a.V < b.V}; }
  static TMask1 Greater(TDouble1 a, TDouble1 b) { return {a.V > b.V}; }
  static TMask1 LessEq(TDouble1 a, TDouble1 b) { return {a.V <= b.V}; }
  static TMask1 GreaterEq(TDouble1 a, TDouble1 b) { return {a.V >= b.V}; }
  static TMask1 NotLess(TDouble1 a, TDouble1 b) { return {!(a.V < b.V)}; }
  static TMask1 NotGreater(TDouble1 a, TDouble1 b) { return {!(a.V > b.V)}; }
  static TMask1 NotEqual(TDouble1 a, TDouble1 b) { return {a.V != b.V}; }
  static TDouble1 Max(TDouble1 a, TDouble1 b) { return a.V > b.V ? a : b; }
  static TDouble1 Min(TDouble1 a, TDouble1 b) { return a.V < b.V ? a : b; }
  static TDouble1 Abs(TDouble1 a) { return {std::fabs(a.V)}; }
  static TDouble1 FlipSignBy(TDouble1 a, TDouble1 s) { return {std::signbit(s.V) ? -a.V : a.V}; }
  static TDouble1 Trunc(TDouble1 a) { return {std::trunc(a.V)}; }
  static TDouble1 Select(TMask1 m, TDouble1 a, TDouble1 b) { return m.On ? a : b; }
};

}  // namespace zm::lanes

#if ZM_X86

namespace zm::lanes {

// SSE2: two doubles. Every x86 build has it, so it needs no target region.
struct TMask2 {
  __m128d M;
  unsigned Bits() const { return static_cast<unsigned>(_mm_movemask_pd(M)); }
  TMask2 operator&(TMask2 b) const { return {_mm_and_pd(M, b.M)}; }
  TMask2 operator|(TMask2 b) const { return {_mm_or_pd(M, b.M)}; }
};

struct TDouble2 {
  static constexpr int kWidth = 2;
  using Mask = TMask2;
  __m128d V;
  static TDouble2 Broadcast(double x) { return {_mm_set1_pd(x)}; }
  static TDouble2 Load(const double* p) { return {_mm_loadu_pd(p)}; }
  void Store(double* p) const { _mm_storeu_pd(p, V); }
  static Mask IndexNot(const int32_t* p, int32_t value) {
    const __m128i index = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    const __m128i same = _mm_cmpeq_epi32(index, _mm_set1_epi32(value));
    return {_mm_castsi128_pd(_mm_xor_si128(_mm_unpacklo_epi32(same, same), _mm_set1_epi32(-1)))};
  }
  TDouble2 operator+(TDouble2 b) const { return {_mm_add_pd(V, b.V)}; }
  TDouble2 operator-(TDouble2 b) const { return {_mm_sub_pd(V, b.V)}; }
  TDouble2 operator*(TDouble2 b) const { return {_mm_mul_pd(V, b.V)}; }
  TDouble2 operator/(TDouble2 b) const { return {_mm_div_pd(V, b.V)}; }
  static TMask2 Less(TDouble2 a, TDouble2 b) { return {_mm_cmplt_pd(a.V, b.V)}; }
  static TMask2 Greater(TDouble2 a, TDouble2 b) { return {_mm_cmpgt_pd(a.V, b.V)}; }
  static TMask2 LessEq(TDouble2 a, TDouble2 b) { return {_mm_cmple_pd(a.V, b.V)}; }
  static TMask2 GreaterEq(TDouble2 a, TDouble2 b) { return {_mm_cmpge_pd(a.V, b.V)}; }
  static TMask2 NotLess(TDouble2 a, TDouble2 b) { return {_mm_cmpnlt_pd(a.V, b.V)}; }
  static TMask2 NotGreater(TDouble2 a, TDouble2 b) { return {_mm_cmpngt_pd(a.V, b.V)}; }
  static TMask2 NotEqual(TDouble2 a, TDouble2 b) { return {_mm_cmpneq_pd(a.V, b.V)}; }
  static TDouble2 Max(TDouble2 a, TDouble2 b) { return {_mm_max_pd(a.V, b.V)}; }
  static TDouble2 Min(TDouble2 a, TDouble2 b) { return {_mm_min_pd(a.V, b.V)}; }
  static TDouble2 Abs(TDouble2 a) { return {_mm_andnot_pd(_mm_set1_pd(-0.0), a.V)}; }
  static TDouble2 FlipSignBy(TDouble2 a, TDouble2 s) {
    return {_mm_xor_pd(a.V, _mm_and_pd(s.V, _mm_set1_pd(-0.0)))};
  }
  static TDouble2 Trunc(TDouble2 a) {
    const TDouble2 size = Abs(a), big = TDouble2::Broadcast(0x1.0p52);
    TDouble2 whole = (size + big) - big;
    whole = Select(Greater(whole, size), whole - TDouble2::Broadcast(1.0), whole);
    const TDouble2 sign = {_mm_and_pd(a.V, _mm_set1_pd(-0.0))};
    return Select(Less(size, big), TDouble2{_mm_or_pd(whole.V, sign.V)}, a);
  }
  static TDouble2 Select(TMask2 m, TDouble2 a, TDouble2 b) {
    return {_mm_or_pd(_mm_and_pd(m.M, a.V), _mm_andnot_pd(m.M, b.V))};
  }
};
// SSE2 has no rounding instruction. Below 2^52 in magnitude, adding and
// taking away 2^52 rounds to a whole number (to nearest), and one less
// where that went up truncates; from 2^52 on (and for NaN) a is whole.

}  // namespace zm::lanes

ZM_BEGIN_AVX2
namespace zm::lanes {

// AVX2: four doubles.
struct TMask4 {
  __m256d M;
  unsigned Bits() const { return static_cast<unsigned>(_mm256_movemask_pd(M)); }
  TMask4 operator&(TMask4 b) const { return {_mm256_and_pd(M, b.M)}; }
  TMask4 operator|(TMask4 b) const { return {_mm256_or_pd(M, b.M)}; }
};

struct TDouble4 {
  static constexpr int kWidth = 4;
  using Mask = TMask4;
  __m256d V;
  static TDouble4 Broadcast(double x) { return {_mm256_set1_pd(x)}; }
  static TDouble4 Load(const double* p) { return {_mm256_loadu_pd(p)}; }
  void Store(double* p) const { _mm256_storeu_pd(p, V); }
  static Mask IndexNot(const int32_t* p, int32_t value) {
    const __m256i index =
        _mm256_cvtepi32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    const __m256i same = _mm256_cmpeq_epi64(index, _mm256_set1_epi64x(value));
    return {_mm256_castsi256_pd(_mm256_xor_si256(same, _mm256_set1_epi64x(-1)))};
  }
  TDouble4 operator+(TDouble4 b) const { return {_mm256_add_pd(V, b.V)}; }
  TDouble4 operator-(TDouble4 b) const { return {_mm256_sub_pd(V, b.V)}; }
  TDouble4 operator*(TDouble4 b) const { return {_mm256_mul_pd(V, b.V)}; }
  TDouble4 operator/(TDouble4 b) const { return {_mm256_div_pd(V, b.V)}; }
  static TMask4 Less(TDouble4 a, TDouble4 b) { return {_mm256_cmp_pd(a.V, b.V, _CMP_LT_OQ)}; }
  static TMask4 Greater(TDouble4 a, TDouble4 b) { return {_mm256_cmp_pd(a.V, b.V, _CMP_GT_OQ)}; }
  static TMask4 LessEq(TDouble4 a, TDouble4 b) { return {_mm256_cmp_pd(a.V, b.V, _CMP_LE_OQ)}; }
  static TMask4 GreaterEq(TDouble4 a, TDouble4 b) { return {_mm256_cmp_pd(a.V, b.V, _CMP_GE_OQ)}; }
  static TMask4 NotLess(TDouble4 a, TDouble4 b) { return {_mm256_cmp_pd(a.V, b.V, _CMP_NLT_UQ)}; }
  static TMask4 NotGreater(TDouble4 a, TDouble4 b) {
    return {_mm256_cmp_pd(a.V, b.V, _CMP_NGT_UQ)};
  }
  static TMask4 NotEqual(TDouble4 a, TDouble4 b) { return {_mm256_cmp_pd(a.V, b.V, _CMP_NEQ_UQ)}; }
  static TDouble4 Max(TDouble4 a, TDouble4 b) { return {_mm256_max_pd(a.V, b.V)}; }
  static TDouble4 Min(TDouble4 a, TDouble4 b) { return {_mm256_min_pd(a.V, b.V)}; }
  static TDouble4 Abs(TDouble4 a) { return {_mm256_andnot_pd(_mm256_set1_pd(-0.0), a.V)}; }
  static TDouble4 FlipSignBy(TDouble4 a, TDouble4 s) {
    return {_mm256_xor_pd(a.V, _mm256_and_pd(s.V, _mm256_set1_pd(-0.0)))};
  }
  static TDouble4 Trunc(TDouble4 a) {
    return {_mm256_round_pd(a.V, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)};
  }
  static TDouble4 Select(TMask4 m, TDouble4 a, TDouble4 b) {
    return {_mm256_blendv_pd(b.V, a.V, m.M)};
  }
};

}  // namespace zm::lanes
ZM_END_TARGET

ZM_BEGIN_AVX512
namespace zm::lanes {

// AVX-512: eight doubles, with mask registers for the flags. (The masked
// forms with every lane set stand in for plain ones that GCC 12 warns
// about.)
struct TMask8 {
  __mmask8 M;
  unsigned Bits() const { return M; }
  TMask8 operator&(TMask8 b) const { return {static_cast<__mmask8>(M & b.M)}; }
  TMask8 operator|(TMask8 b) const { return {static_cast<__mmask8>(M | b.M)}; }
};

struct TDouble8 {
  static constexpr int kWidth = 8;
  using Mask = TMask8;
  __m512d V;
  static TDouble8 Broadcast(double x) { return {_mm512_set1_pd(x)}; }
  static TDouble8 Load(const double* p) { return {_mm512_loadu_pd(p)}; }
  void Store(double* p) const { _mm512_storeu_pd(p, V); }
  static Mask IndexNot(const int32_t* p, int32_t value) {
    const __m512i index =
        _mm512_maskz_cvtepi32_epi64(0xFF, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    return {_mm512_cmpneq_epi64_mask(index, _mm512_set1_epi64(value))};
  }
  TDouble8 operator+(TDouble8 b) const { return {_mm512_add_pd(V, b.V)}; }
  TDouble8 operator-(TDouble8 b) const { return {_mm512_sub_pd(V, b.V)}; }
  TDouble8 operator*(TDouble8 b) const { return {_mm512_mul_pd(V, b.V)}; }
  TDouble8 operator/(TDouble8 b) const { return {_mm512_div_pd(V, b.V)}; }
  static TMask8 Less(TDouble8 a, TDouble8 b) { return {_mm512_cmp_pd_mask(a.V, b.V, _CMP_LT_OQ)}; }
  static TMask8 Greater(TDouble8 a, TDouble8 b) {
    return {_mm512_cmp_pd_mask(a.V, b.V, _CMP_GT_OQ)};
  }
  static TMask8 LessEq(TDouble8 a, TDouble8 b) {
    return {_mm512_cmp_pd_mask(a.V, b.V, _CMP_LE_OQ)};
  }
  static TMask8 GreaterEq(TDouble8 a, TDouble8 b) {
    return {_mm512_cmp_pd_mask(a.V, b.V, _CMP_GE_OQ)};
  }
  static TMask8 NotLess(TDouble8 a, TDouble8 b) {
    return {_mm512_cmp_pd_mask(a.V, b.V, _CMP_NLT_UQ)};
  }
  static TMask8 NotGreater(TDouble8 a, TDouble8 b) {
    return {_mm512_cmp_pd_mask(a.V, b.V, _CMP_NGT_UQ)};
  }
  static TMask8 NotEqual(TDouble8 a, TDouble8 b) {
    return {_mm512_cmp_pd_mask(a.V, b.V, _CMP_NEQ_UQ)};
  }
  static TDouble8 Max(TDouble8 a, TDouble8 b) { return {_mm512_maskz_max_pd(0xFF, a.V, b.V)}; }
  static TDouble8 Min(TDouble8 a, TDouble8 b) { return {_mm512_maskz_min_pd(0xFF, a.V, b.V)}; }
  static TDouble8 Abs(TDouble8 a) { return {_mm512_abs_pd(a.V)}; }
  static TDouble8 FlipSignBy(TDouble8 a, TDouble8 s) {
    const __m512i sign = _mm512_and_si512(_mm512_castpd_si512(s.V), _mm512_set1_epi64(INT64_MIN));
    return {_mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(a.V), sign))};
  }
  static TDouble8 Trunc(TDouble8 a) {
    return {_mm512_maskz_roundscale_pd(0xFF, a.V, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)};
  }
  static TDouble8 Select(TMask8 m, TDouble8 a, TDouble8 b) {
    return {_mm512_mask_blend_pd(m.M, b.V, a.V)};
  }
};

}  // namespace zm::lanes
ZM_END_TARGET

#endif
