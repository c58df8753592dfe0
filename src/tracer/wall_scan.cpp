#include "tracer/wall_scan.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "scene/material_list.h"
#include "scene/wall.h"
#include "tracer/wall_clusters.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZM_X86 1
#endif

namespace zm {

namespace {

constexpr double kPi = std::numbers::pi;

// The division-free prefilter. With the sign of den moved onto the
// numerators, a quotient that rounds into [0, 1] has its numerator between
// -slack and 1 + slack times |den|, where the slack lies far above the
// rounding of a quotient (2^-53), also for subnormal den. A lane outside
// that range is one the exact test rejects, so skipping it changes nothing;
// most blocks hold no other lane and need no division at all.
constexpr double kPrefilterSlack = 0x1.0p-20;

// From how many walls on the clusters beat scanning the whole table, by
// path: the wider the kernel, the later (measured on a star-shaped room).
size_t ClusterMinWalls(TSimdPath path) {
  switch (path) {
    case TSimdPath::Sse2:
      return 32;
    case TSimdPath::Avx2:
      return 56;
    case TSimdPath::Avx512:
      return 72;
    default:
      return 24;
  }
}

void AddLane(TWallLanes& lanes, const TWallSegment& wall, double angle, double scatter,
             int32_t index) {
  lanes.X1.push_back(wall.X1);
  lanes.Y1.push_back(wall.Y1);
  lanes.DX.push_back(wall.DX);
  lanes.DY.push_back(wall.DY);
  lanes.Angle.push_back(angle);
  lanes.Scatter.push_back(scatter);
  lanes.Index.push_back(index);
}

// Keeps the crossing (x, y) of lane `lane`, with the angle `next` after
// reflecting off it, when it beats `best`: nearer, or as near and earlier in
// the table (FindNearestHit's tie rule, also when clusters hand the walls over
// out of table order or a wall twice). Distances are taken only when two
// crossings compete: most rays cross one wall.
inline void Consider(const TWallLanes& walls, int32_t lane, double x, double y, double next,
                     const TScanRay& ray, int32_t excluded, TScanBest& best) {
  const int32_t index = walls.Index[lane];
  if (index == excluded) return;
  if (best.Index < 0) {
    best = TScanBest{0.0, x, y, next, index, false};
    return;
  }
  if (!best.HasDistance) {
    best.Distance = ray.DistanceTo(best.X, best.Y);
    best.HasDistance = true;
  }
  const double distance = ray.DistanceTo(x, y);
  if (distance < best.Distance || (distance == best.Distance && index < best.Index)) {
    best = TScanBest{distance, x, y, next, index, true};
  }
}

// Consider for each lane of block `first` set in `mask`, in lane order.
// The usual crossing, the only one and the first, is kept without
// Consider's branches: on a ray every hit test waits for the last, so a
// mispredicted branch here delays the whole ray.
inline void ConsiderLanes(const TWallLanes& walls, int32_t first, unsigned mask, const double* x,
                          const double* y, const double* nexts, const TScanRay& ray,
                          int32_t excluded, TScanBest& best) {
  if (best.Index < 0 && (mask & (mask - 1)) == 0) {
    const int lane = __builtin_ctz(mask);
    const int32_t index = walls.Index[first + lane];
    if (index != excluded) {
      best = TScanBest{0.0, x[lane], y[lane], nexts[lane], index, false};
      return;
    }
  }
  for (; mask != 0; mask &= mask - 1) {
    const int lane = __builtin_ctz(mask);
    Consider(walls, first + lane, x[lane], y[lane], nexts[lane], ray, excluded, best);
  }
}

// FindNearestHit's test of one wall, lane by lane: the reference that the
// vector kernels below follow.
void PortableScan(const TWallLanes& walls, int32_t firstBlock, uint64_t blocks, const TScanRay& ray,
                  int32_t excluded, TScanBest& best) {
  for (; blocks != 0; blocks &= blocks - 1) {
    const int32_t first = (firstBlock + __builtin_ctzll(blocks)) * kLaneBlock;
    for (int32_t i = first; i < first + kLaneBlock; ++i) {
      if (walls.Index[i] == excluded) continue;
      const double den = ray.DirY * walls.DX[i] - ray.DirX * walls.DY[i];
      if (den == 0.0) continue;
      const double ox = walls.X1[i] - ray.X;
      const double oy = walls.Y1[i] - ray.Y;
      const double u = (oy * ray.DirX - ox * ray.DirY) / den;
      if (!(u >= 0.0 && u <= 1.0)) continue;
      const double v = (oy * walls.DX[i] - ox * walls.DY[i]) / den;
      if (!(v >= 0.0 && v <= 1.0)) continue;
      const double next = ReflectAngle(ray.Angle, walls.Angle[i], walls.Scatter[i], ray.Draw);
      Consider(walls, i, walls.X1[i] + walls.DX[i] * u, walls.Y1[i] + walls.DY[i] * u, next, ray,
               excluded, best);
    }
  }
}

#if ZM_X86

// The vector kernels compute PortableScan's values for all lanes of a block
// (prefilter first, which also masks out the excluded wall: the ray leaves
// from it, so it always passes the prefilter); a lane that the scalar test
// would skip is masked out, and the few accepted lanes are then weighed one
// by one in lane order.

void Sse2Scan(const TWallLanes& walls, int32_t firstBlock, uint64_t blocks, const TScanRay& ray,
              int32_t excluded, TScanBest& best) {
  const __m128d originX = _mm_set1_pd(ray.X), originY = _mm_set1_pd(ray.Y);
  const __m128d dirX = _mm_set1_pd(ray.DirX), dirY = _mm_set1_pd(ray.DirY);
  const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0), sign = _mm_set1_pd(-0.0);
  const __m128d below = _mm_set1_pd(-kPrefilterSlack), above = _mm_set1_pd(1.0 + kPrefilterSlack);
  const __m128i skip = _mm_set1_epi32(excluded);
  for (; blocks != 0; blocks &= blocks - 1) {
    const int32_t first = (firstBlock + __builtin_ctzll(blocks)) * kLaneBlock;
    for (int32_t i = first; i < first + kLaneBlock; i += 2) {
      const __m128d x1 = _mm_loadu_pd(&walls.X1[i]), y1 = _mm_loadu_pd(&walls.Y1[i]);
      const __m128d dx = _mm_loadu_pd(&walls.DX[i]), dy = _mm_loadu_pd(&walls.DY[i]);
      const __m128d den = _mm_sub_pd(_mm_mul_pd(dirY, dx), _mm_mul_pd(dirX, dy));
      const __m128d ox = _mm_sub_pd(x1, originX), oy = _mm_sub_pd(y1, originY);
      const __m128d numU = _mm_sub_pd(_mm_mul_pd(oy, dirX), _mm_mul_pd(ox, dirY));
      const __m128d numV = _mm_sub_pd(_mm_mul_pd(oy, dx), _mm_mul_pd(ox, dy));
      const __m128d denSign = _mm_and_pd(den, sign), size = _mm_andnot_pd(sign, den);
      const __m128d lo = _mm_mul_pd(size, below), hi = _mm_mul_pd(size, above);
      const __m128d su = _mm_xor_pd(numU, denSign), sv = _mm_xor_pd(numV, denSign);
      __m128d maybe = _mm_and_pd(_mm_cmpnlt_pd(su, lo), _mm_cmpngt_pd(su, hi));
      maybe = _mm_and_pd(maybe, _mm_and_pd(_mm_cmpnlt_pd(sv, lo), _mm_cmpngt_pd(sv, hi)));
      maybe = _mm_and_pd(maybe, _mm_cmpneq_pd(den, zero));
      const __m128i index = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&walls.Index[i]));
      const __m128i isExcluded = _mm_cmpeq_epi32(index, skip);
      maybe = _mm_andnot_pd(_mm_castsi128_pd(_mm_unpacklo_epi32(isExcluded, isExcluded)), maybe);
      if (_mm_movemask_pd(maybe) == 0) continue;

      const __m128d u = _mm_div_pd(numU, den), v = _mm_div_pd(numV, den);
      __m128d ok = _mm_and_pd(_mm_cmpge_pd(u, zero), _mm_cmple_pd(u, one));
      ok = _mm_and_pd(ok, _mm_and_pd(_mm_cmpge_pd(v, zero), _mm_cmple_pd(v, one)));
      int mask = _mm_movemask_pd(_mm_and_pd(ok, _mm_cmpneq_pd(den, zero)));
      if (mask == 0) continue;
      double x[2], y[2];
      _mm_storeu_pd(x, _mm_add_pd(x1, _mm_mul_pd(dx, u)));
      _mm_storeu_pd(y, _mm_add_pd(y1, _mm_mul_pd(dy, u)));
      for (; mask != 0; mask &= mask - 1) {
        const int lane = __builtin_ctz(static_cast<unsigned>(mask));
        const double next =
            ReflectAngle(ray.Angle, walls.Angle[i + lane], walls.Scatter[i + lane], ray.Draw);
        Consider(walls, i + lane, x[lane], y[lane], next, ray, excluded, best);
      }
    }
  }
}

// ReflectAngle, step for step, for four walls at once.
__attribute__((target("avx2"))) __m256d Avx2Reflect(__m256d angle, __m256d wallAngle,
                                                    __m256d scatter, __m256d offset) {
  const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
  const __m256d twoPi = _mm256_set1_pd(kTwoPi), pi = _mm256_set1_pd(kPi);
  __m256d a = _mm256_sub_pd(angle, wallAngle);
  __m256d k = _mm256_round_pd(_mm256_div_pd(a, twoPi), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  k = _mm256_blendv_pd(k, _mm256_sub_pd(k, one), _mm256_cmp_pd(a, zero, _CMP_LT_OQ));
  a = _mm256_sub_pd(a, _mm256_mul_pd(twoPi, k));
  const __m256d fromLeft = _mm256_cmp_pd(a, pi, _CMP_GT_OQ);
  a = _mm256_blendv_pd(a, _mm256_sub_pd(twoPi, a), fromLeft);
  a = _mm256_add_pd(a, _mm256_mul_pd(offset, scatter));
  const __m256d above = _mm256_cmp_pd(a, pi, _CMP_GT_OQ);
  const __m256d below = _mm256_cmp_pd(a, zero, _CMP_LT_OQ);
  __m256d folded = _mm256_blendv_pd(_mm256_sub_pd(zero, a), _mm256_sub_pd(twoPi, a), above);
  folded = _mm256_max_pd(folded, _mm256_set1_pd(kGrazingMargin));
  folded = _mm256_min_pd(folded, _mm256_set1_pd(kPi - kGrazingMargin));
  a = _mm256_blendv_pd(a, folded, _mm256_or_pd(above, below));
  return _mm256_blendv_pd(_mm256_sub_pd(wallAngle, a),
                          _mm256_add_pd(wallAngle, _mm256_add_pd(twoPi, a)), fromLeft);
}

__attribute__((target("avx2"))) void Avx2Scan(const TWallLanes& walls, int32_t firstBlock,
                                              uint64_t blocks, const TScanRay& ray,
                                              int32_t excluded, TScanBest& best) {
  const __m256d originX = _mm256_set1_pd(ray.X), originY = _mm256_set1_pd(ray.Y);
  const __m256d dirX = _mm256_set1_pd(ray.DirX), dirY = _mm256_set1_pd(ray.DirY);
  const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
  const __m256d sign = _mm256_set1_pd(-0.0);
  const __m256d below = _mm256_set1_pd(-kPrefilterSlack);
  const __m256d above = _mm256_set1_pd(1.0 + kPrefilterSlack);
  const __m256d angle = _mm256_set1_pd(ray.Angle), offset = _mm256_set1_pd(ray.Draw - 0.5);
  const __m256i skip = _mm256_set1_epi64x(excluded);
  for (; blocks != 0; blocks &= blocks - 1) {
    const int32_t first = (firstBlock + __builtin_ctzll(blocks)) * kLaneBlock;
    for (int32_t i = first; i < first + kLaneBlock; i += 4) {
      const __m256d x1 = _mm256_loadu_pd(&walls.X1[i]), y1 = _mm256_loadu_pd(&walls.Y1[i]);
      const __m256d dx = _mm256_loadu_pd(&walls.DX[i]), dy = _mm256_loadu_pd(&walls.DY[i]);
      const __m256d den = _mm256_sub_pd(_mm256_mul_pd(dirY, dx), _mm256_mul_pd(dirX, dy));
      const __m256d ox = _mm256_sub_pd(x1, originX), oy = _mm256_sub_pd(y1, originY);
      const __m256d numU = _mm256_sub_pd(_mm256_mul_pd(oy, dirX), _mm256_mul_pd(ox, dirY));
      const __m256d numV = _mm256_sub_pd(_mm256_mul_pd(oy, dx), _mm256_mul_pd(ox, dy));
      const __m256d denSign = _mm256_and_pd(den, sign), size = _mm256_andnot_pd(sign, den);
      const __m256d lo = _mm256_mul_pd(size, below), hi = _mm256_mul_pd(size, above);
      const __m256d su = _mm256_xor_pd(numU, denSign), sv = _mm256_xor_pd(numV, denSign);
      __m256d maybe =
          _mm256_and_pd(_mm256_cmp_pd(su, lo, _CMP_NLT_UQ), _mm256_cmp_pd(su, hi, _CMP_NGT_UQ));
      maybe = _mm256_and_pd(maybe, _mm256_and_pd(_mm256_cmp_pd(sv, lo, _CMP_NLT_UQ),
                                                 _mm256_cmp_pd(sv, hi, _CMP_NGT_UQ)));
      maybe = _mm256_and_pd(maybe, _mm256_cmp_pd(den, zero, _CMP_NEQ_UQ));
      const __m256i index =
          _mm256_cvtepi32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&walls.Index[i])));
      maybe = _mm256_andnot_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(index, skip)), maybe);
      if (_mm256_movemask_pd(maybe) == 0) continue;

      const __m256d next = Avx2Reflect(angle, _mm256_loadu_pd(&walls.Angle[i]),
                                       _mm256_loadu_pd(&walls.Scatter[i]), offset);
      const __m256d u = _mm256_div_pd(numU, den), v = _mm256_div_pd(numV, den);
      __m256d ok =
          _mm256_and_pd(_mm256_cmp_pd(u, zero, _CMP_GE_OQ), _mm256_cmp_pd(u, one, _CMP_LE_OQ));
      ok = _mm256_and_pd(
          ok, _mm256_and_pd(_mm256_cmp_pd(v, zero, _CMP_GE_OQ), _mm256_cmp_pd(v, one, _CMP_LE_OQ)));
      ok = _mm256_and_pd(ok, _mm256_cmp_pd(den, zero, _CMP_NEQ_UQ));
      int mask = _mm256_movemask_pd(ok);
      if (mask == 0) continue;
      double x[4], y[4], nexts[4];
      _mm256_storeu_pd(x, _mm256_add_pd(x1, _mm256_mul_pd(dx, u)));
      _mm256_storeu_pd(y, _mm256_add_pd(y1, _mm256_mul_pd(dy, u)));
      _mm256_storeu_pd(nexts, next);
      ConsiderLanes(walls, i, static_cast<unsigned>(mask), x, y, nexts, ray, excluded, best);
    }
  }
}

// ReflectAngle, step for step, for eight walls at once. (The masked forms
// with every lane set stand in for plain ones that GCC 12 warns about.)
__attribute__((target("avx512f"))) __m512d Avx512Reflect(__m512d angle, __m512d wallAngle,
                                                         __m512d scatter, __m512d offset) {
  const __m512d zero = _mm512_setzero_pd(), one = _mm512_set1_pd(1.0);
  const __m512d twoPi = _mm512_set1_pd(kTwoPi), pi = _mm512_set1_pd(kPi);
  __m512d a = _mm512_sub_pd(angle, wallAngle);
  __m512d k = _mm512_maskz_roundscale_pd(0xFF, _mm512_div_pd(a, twoPi),
                                         _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  k = _mm512_mask_sub_pd(k, _mm512_cmp_pd_mask(a, zero, _CMP_LT_OQ), k, one);
  a = _mm512_sub_pd(a, _mm512_mul_pd(twoPi, k));
  const __mmask8 fromLeft = _mm512_cmp_pd_mask(a, pi, _CMP_GT_OQ);
  a = _mm512_mask_sub_pd(a, fromLeft, twoPi, a);
  a = _mm512_add_pd(a, _mm512_mul_pd(offset, scatter));
  const __mmask8 above = _mm512_cmp_pd_mask(a, pi, _CMP_GT_OQ);
  const __mmask8 below = _mm512_cmp_pd_mask(a, zero, _CMP_LT_OQ);
  __m512d folded = _mm512_mask_sub_pd(_mm512_sub_pd(zero, a), above, twoPi, a);
  folded = _mm512_maskz_max_pd(0xFF, folded, _mm512_set1_pd(kGrazingMargin));
  folded = _mm512_maskz_min_pd(0xFF, folded, _mm512_set1_pd(kPi - kGrazingMargin));
  a = _mm512_mask_mov_pd(a, above | below, folded);
  return _mm512_mask_blend_pd(fromLeft, _mm512_sub_pd(wallAngle, a),
                              _mm512_add_pd(wallAngle, _mm512_add_pd(twoPi, a)));
}

__attribute__((target("avx512f"))) void Avx512Scan(const TWallLanes& walls, int32_t firstBlock,
                                                   uint64_t blocks, const TScanRay& ray,
                                                   int32_t excluded, TScanBest& best) {
  const __m512d originX = _mm512_set1_pd(ray.X), originY = _mm512_set1_pd(ray.Y);
  const __m512d dirX = _mm512_set1_pd(ray.DirX), dirY = _mm512_set1_pd(ray.DirY);
  const __m512d zero = _mm512_setzero_pd(), one = _mm512_set1_pd(1.0);
  const __m512i sign = _mm512_set1_epi64(INT64_MIN);
  const __m512d below = _mm512_set1_pd(-kPrefilterSlack);
  const __m512d above = _mm512_set1_pd(1.0 + kPrefilterSlack);
  const __m512d angle = _mm512_set1_pd(ray.Angle), offset = _mm512_set1_pd(ray.Draw - 0.5);
  const __m512i skip = _mm512_set1_epi64(excluded);
  for (; blocks != 0; blocks &= blocks - 1) {
    const int32_t first = (firstBlock + __builtin_ctzll(blocks)) * kLaneBlock;
    for (int32_t i = first; i < first + kLaneBlock; i += 8) {
      const __m512d x1 = _mm512_loadu_pd(&walls.X1[i]), y1 = _mm512_loadu_pd(&walls.Y1[i]);
      const __m512d dx = _mm512_loadu_pd(&walls.DX[i]), dy = _mm512_loadu_pd(&walls.DY[i]);
      const __m512d den = _mm512_sub_pd(_mm512_mul_pd(dirY, dx), _mm512_mul_pd(dirX, dy));
      const __m512d ox = _mm512_sub_pd(x1, originX), oy = _mm512_sub_pd(y1, originY);
      const __m512d numU = _mm512_sub_pd(_mm512_mul_pd(oy, dirX), _mm512_mul_pd(ox, dirY));
      const __m512d numV = _mm512_sub_pd(_mm512_mul_pd(oy, dx), _mm512_mul_pd(ox, dy));
      const __m512i denSign = _mm512_and_si512(_mm512_castpd_si512(den), sign);
      const __m512d size = _mm512_abs_pd(den);
      const __m512d lo = _mm512_mul_pd(size, below), hi = _mm512_mul_pd(size, above);
      const __m512d su = _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(numU), denSign));
      const __m512d sv = _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(numV), denSign));
      const __mmask8 others = _mm512_cmpneq_epi64_mask(
          _mm512_maskz_cvtepi32_epi64(
              0xFF, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&walls.Index[i]))),
          skip);
      // Side by side rather than one masking the next, for a shorter path.
      const __mmask16 uMaybe = _kand_mask16(_mm512_cmp_pd_mask(su, lo, _CMP_NLT_UQ),
                                            _mm512_cmp_pd_mask(su, hi, _CMP_NGT_UQ));
      const __mmask16 vMaybe = _kand_mask16(_mm512_cmp_pd_mask(sv, lo, _CMP_NLT_UQ),
                                            _mm512_cmp_pd_mask(sv, hi, _CMP_NGT_UQ));
      const __mmask8 maybe = static_cast<__mmask8>(
          _kand_mask16(_kand_mask16(uMaybe, vMaybe),
                       _kand_mask16(_mm512_cmp_pd_mask(den, zero, _CMP_NEQ_UQ), others)));
      if (maybe == 0) continue;

      const __m512d next = Avx512Reflect(angle, _mm512_loadu_pd(&walls.Angle[i]),
                                         _mm512_loadu_pd(&walls.Scatter[i]), offset);
      const __m512d u = _mm512_div_pd(numU, den), v = _mm512_div_pd(numV, den);
      // The exact test alone decides: it never accepts what the prefilter
      // rejected, and leaving the prefilter out keeps it off the path.
      const __mmask16 uIn = _kand_mask16(_mm512_cmp_pd_mask(u, zero, _CMP_GE_OQ),
                                         _mm512_cmp_pd_mask(u, one, _CMP_LE_OQ));
      const __mmask16 vIn = _kand_mask16(_mm512_cmp_pd_mask(v, zero, _CMP_GE_OQ),
                                         _mm512_cmp_pd_mask(v, one, _CMP_LE_OQ));
      const __mmask8 mask = static_cast<__mmask8>(
          _kand_mask16(_kand_mask16(uIn, vIn),
                       _kand_mask16(_mm512_cmp_pd_mask(den, zero, _CMP_NEQ_UQ), others)));
      if (mask == 0) continue;
      double x[8], y[8], nexts[8];
      _mm512_storeu_pd(x, _mm512_add_pd(x1, _mm512_mul_pd(dx, u)));
      _mm512_storeu_pd(y, _mm512_add_pd(y1, _mm512_mul_pd(dy, u)));
      _mm512_storeu_pd(nexts, next);
      ConsiderLanes(walls, i, mask, x, y, nexts, ray, excluded, best);
    }
  }
}

#endif

}  // namespace

TScanKernel ScanKernelFor(TSimdPath path) {
  switch (path) {
#if ZM_X86
    case TSimdPath::Sse2:
      return Sse2Scan;
    case TSimdPath::Avx2:
      return Avx2Scan;
    case TSimdPath::Avx512:
      return Avx512Scan;
#endif
    default:
      return PortableScan;
  }
}

TWallScan::TWallScan(const std::vector<TWallSegment>& table, TScanMode mode)
    : kernel_(ScanKernelFor(ActiveSimdPath())) {
  for (size_t i = 0; i < table.size(); ++i) {
    const TWall& wall = *table[i].Wall;
    AddLane(lanes_, table[i], wall.Angle, wall.Material ? wall.Material->Scatter : 0.0,
            static_cast<int32_t>(i));
  }
  while (lanes_.Count() % kLaneBlock != 0) lanes_.AppendNever();
  const TSimdPath path = ActiveSimdPath();
  const bool wantClusters = mode == TScanMode::Clusters || (mode == TScanMode::ByWallCount &&
                                                            table.size() >= ClusterMinWalls(path));
  if (wantClusters) clusters_ = TWallClusters::Build(lanes_, path);
}

TWallScan::~TWallScan() = default;

bool TWallScan::Find(double originX, double originY, double angle, double cosine, double sine,
                     int32_t excluded, double draw, TScanBest& best) const {
  // As FindNearestHit: the direction carries the rounding of the far end.
  const double endX = originX + cosine * kRayLength;
  const double endY = originY + sine * kRayLength;
  const TScanRay ray{originX, originY, endX - originX, endY - originY, angle, draw};
  best = TScanBest{};
  if (clusters_ == nullptr || !clusters_->Find(ray, cosine, sine, excluded, kernel_, best)) {
    const int32_t blocks = lanes_.Count() / kLaneBlock;
    for (int32_t first = 0; first < blocks; first += 64) {
      const int32_t count = std::min(64, blocks - first);
      kernel_(lanes_, first, count == 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1, ray, excluded,
              best);
    }
  }
  return best.Index >= 0;
}

}  // namespace zm
