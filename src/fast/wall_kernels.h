// Fast mode's nearest-hit scan, written once against the lane type V and
// compiled once per SIMD path by support/each_path.h (which includes this
// file repeatedly, hence no include guard). Every lane does the same IEEE
// operations on one wall, so each path finds the same wall at the same
// point; only how many walls one instruction tests differs.

// TLaneScan: the nearest wall for kScanLanes rays at once, lane k of each
// array one ray, V::kWidth lanes per instruction. Each lane's result is the
// same on every path: the same operations on each wall, the walls taken in
// order, the first crossing kept and a later one only when strictly
// nearer. A lane whose direction is (0, 0) meets nothing.
void NearestWalls(const fast::TFastWalls& walls, int32_t wallCount, fast::TLaneRays& rays) {
  const V zero = V::Broadcast(0.0), one = V::Broadcast(1.0), far = V::Broadcast(kRayLength);
  for (int g = 0; g < fast::kScanLanes; g += V::kWidth) {
    const V originX = V::Load(&rays.X[g]), originY = V::Load(&rays.Y[g]);
    const V dirX = V::Load(&rays.DX[g]), dirY = V::Load(&rays.DY[g]);
    const V last = V::Load(&rays.Last[g]);
    // The best crossing so far as numerators over a positive denominator:
    // compared by cross-multiplying, divided out once at the end.
    V bestNumV = V::Broadcast(HUGE_VAL), bestNumU = zero, bestSize = one;
    V bestIndex = V::Broadcast(-1.0);
    for (int32_t i = 0; i < wallCount; ++i) {
      const V x1 = V::Broadcast(walls.X1[i]), y1 = V::Broadcast(walls.Y1[i]);
      const V wx = V::Broadcast(walls.DX[i]), wy = V::Broadcast(walls.DY[i]);
      const V den = dirY * wx - dirX * wy;
      const V rx = x1 - originX, ry = y1 - originY;
      // With den's sign moved onto the numerators, the crossing lies on the
      // wall for su in [0, |den|] and ahead of the origin for sv >= 0; its
      // distance is sv / |den|, nearer than the best when sv times the
      // best's |den| is below the best's sv times |den|. A wall parallel to
      // the ray (den 0, also padding) fails the first test or the last.
      const V size = V::Abs(den);
      const V su = V::FlipSignBy(ry * dirX - rx * dirY, den);
      const V sv = V::FlipSignBy(ry * wx - rx * wy, den);
      const auto take = ((V::GreaterEq(su, zero) & V::LessEq(su, size)) &
                         (V::GreaterEq(sv, zero) & V::LessEq(sv, size * far))) &
                        (V::Less(sv * bestSize, bestNumV * size) & V::Greater(size, zero)) &
                        V::NotEqual(last, V::Broadcast(static_cast<double>(i)));
      if (take.Bits() == 0) continue;
      bestNumV = V::Select(take, sv, bestNumV);
      bestNumU = V::Select(take, su, bestNumU);
      bestSize = V::Select(take, size, bestSize);
      bestIndex = V::Select(take, V::Broadcast(static_cast<double>(i)), bestIndex);
    }
    const V best = bestNumV / bestSize, bestU = bestNumU / bestSize;
    best.Store(&rays.Distance[g]);
    bestU.Store(&rays.U[g]);
    bestIndex.Store(&rays.Index[g]);
  }
}

// TRowsAdd: row r of `rows` (kBandCount doubles each) += weights[r] *
// value, for r = 0 .. count - 1.
void AddRows(double* rows, const double* weights, int count, const double* value) {
  V v[kBandCount / V::kWidth];
  for (int j = 0; j < kBandCount / V::kWidth; ++j) v[j] = V::Load(value + j * V::kWidth);
  for (int r = 0; r < count; ++r, rows += kBandCount) {
    const V w = V::Broadcast(weights[r]);
    for (int j = 0; j < kBandCount / V::kWidth; ++j) {
      double* at = rows + j * V::kWidth;
      (V::Load(at) + w * v[j]).Store(at);
    }
  }
}

// TRowsConvolve: out[s] for s in [from, to): row (s + origin - i) of
// `rows` times row i of `shape` (kBandCount doubles each), summed per band
// over i from first to last in order, then the bands summed in order,
// rows outside 0 .. rowCount - 1 left out.
void ConvolveRows(const double* rows, int64_t rowCount, const double* shape, int32_t taps,
                  int64_t origin, double* out, int32_t from, int32_t to) {
  constexpr int kVectors = kBandCount / V::kWidth;
  for (int32_t s = from; s < to; ++s) {
    const int64_t base = int64_t{s} + origin;
    const int32_t first = static_cast<int32_t>(std::max<int64_t>(0, base - (rowCount - 1)));
    const int32_t last = static_cast<int32_t>(std::min<int64_t>(taps, base + 1));
    V sum[kVectors];
    for (int j = 0; j < kVectors; ++j) sum[j] = V::Broadcast(0.0);
    for (int32_t i = first; i < last; ++i) {
      const double* x = rows + static_cast<size_t>(base - i) * kBandCount;
      const double* k = shape + static_cast<size_t>(i) * kBandCount;
      for (int j = 0; j < kVectors; ++j) {
        sum[j] = sum[j] + V::Load(k + j * V::kWidth) * V::Load(x + j * V::kWidth);
      }
    }
    alignas(64) double bands[kBandCount];
    for (int j = 0; j < kVectors; ++j) sum[j].Store(bands + j * V::kWidth);
    double total = 0.0;
    for (int b = 0; b < kBandCount; ++b) total = total + bands[b];
    out[s] = total;
  }
}

// sin(x) and cos(x) lane by lane, the same operations as fast_math.h's
// SinCos on each lane, so a lane gives that function's bits.
void LaneSinCos(V x, V& sine, V& cosine) {
  const V zero = V::Broadcast(0.0), minusOne = V::Broadcast(-1.0);
  const V x2 = x * x;
  V s = V::Broadcast(2.7557319223985890653e-06);
  s = s * x2 + V::Broadcast(-1.9841269841269841270e-04);
  s = s * x2 + V::Broadcast(8.3333333333333333333e-03);
  s = s * x2 + V::Broadcast(-1.6666666666666666667e-01);
  const V smallSine = x + x * (x2 * s);
  V c = V::Broadcast(-2.7557319223985890653e-07);
  c = c * x2 + V::Broadcast(2.4801587301587301587e-05);
  c = c * x2 + V::Broadcast(-1.3888888888888888889e-03);
  c = c * x2 + V::Broadcast(4.1666666666666666667e-02);
  c = c * x2 + V::Broadcast(-0.5);
  const V smallCosine = V::Broadcast(1.0) + x2 * c;
  // Blurs of a few degrees keep every lane here: no reduction needed.
  const auto small = V::LessEq(V::Abs(x), V::Broadcast(0.125));
  if (small.Bits() == (1u << V::kWidth) - 1) {
    sine = smallSine;
    cosine = smallCosine;
    return;
  }

  const V round = V::Broadcast(6755399441055744.0);
  const V k = V::Select(V::LessEq(V::Abs(x), V::Broadcast(0.78539816339744830962)), zero,
                        (x * V::Broadcast(0.63661977236758134308) + round) - round);
  const V r = V::Select(
      V::NotEqual(k, zero),
      ((x - k * V::Broadcast(1.5707963267341256e+00)) - k * V::Broadcast(6.0771005063039660e-11)) -
          k * V::Broadcast(2.0222662487111665e-21),
      x);
  const V r2 = r * r;
  V fs = V::Broadcast(-7.6471637318198164759e-13);
  fs = fs * r2 + V::Broadcast(1.6059043836821614599e-10);
  fs = fs * r2 + V::Broadcast(-2.5052108385441718775e-08);
  fs = fs * r2 + V::Broadcast(2.7557319223985890653e-06);
  fs = fs * r2 + V::Broadcast(-1.9841269841269841270e-04);
  fs = fs * r2 + V::Broadcast(8.3333333333333333333e-03);
  fs = fs * r2 + V::Broadcast(-1.6666666666666666667e-01);
  fs = r + r * (r2 * fs);
  V fc = V::Broadcast(4.7794773323873852974e-14);
  fc = fc * r2 + V::Broadcast(-1.1470745597729724714e-11);
  fc = fc * r2 + V::Broadcast(2.0876756987868098979e-09);
  fc = fc * r2 + V::Broadcast(-2.7557319223985890653e-07);
  fc = fc * r2 + V::Broadcast(2.4801587301587301587e-05);
  fc = fc * r2 + V::Broadcast(-1.3888888888888888889e-03);
  fc = fc * r2 + V::Broadcast(4.1666666666666666667e-02);
  fc = fc * r2 + V::Broadcast(-0.5);
  fc = V::Broadcast(1.0) + r2 * fc;
  // The quarter turn k mod 4, from 0 to 3 for negative k too, as the
  // scalar's two's complement k & 3.
  const V quarter = k * V::Broadcast(0.25);
  V whole = V::Trunc(quarter);
  whole = V::Select(V::Greater(whole, quarter), whole - V::Broadcast(1.0), whole);
  const V q = k - whole * V::Broadcast(4.0);
  const V minusS = V::FlipSignBy(fs, minusOne), minusC = V::FlipSignBy(fc, minusOne);
  const auto q0 = V::Less(q, V::Broadcast(0.5)), q1 = V::Less(q, V::Broadcast(1.5)),
             q2 = V::Less(q, V::Broadcast(2.5));
  const V fullSine = V::Select(q0, fs, V::Select(q1, fc, V::Select(q2, minusS, minusC)));
  const V fullCosine = V::Select(q0, fc, V::Select(q1, minusS, V::Select(q2, minusC, fs)));
  sine = V::Select(small, smallSine, fullSine);
  cosine = V::Select(small, smallCosine, fullCosine);
}

// TLaneReflect: Reflect (wall_scan.h) for every lane, the same operations
// on each lane, so each gives that function's bits on every path.
void ReflectLanes(fast::TLaneReflections& lanes) {
  const V zero = V::Broadcast(0.0), one = V::Broadcast(1.0), minusOne = V::Broadcast(-1.0);
  const V two = V::Broadcast(2.0), margin = V::Broadcast(kGrazingMargin);
  const V marginCosine = V::Broadcast(std::sqrt(1.0 - kGrazingMargin * kGrazingMargin));
  for (int g = 0; g < fast::kScanLanes; g += V::kWidth) {
    const V dx = V::Load(&lanes.DX[g]), dy = V::Load(&lanes.DY[g]);
    const V tx = V::Load(&lanes.TX[g]), ty = V::Load(&lanes.TY[g]);
    const V nx = zero - ty, ny = tx;
    const V along = dx * nx + dy * ny;
    const V side = V::Select(V::Greater(along, zero), minusOne, one);
    const V mx = dx - two * along * nx, my = dy - two * along * ny;
    const V turn = (V::Load(&lanes.Draw[g]) - V::Broadcast(0.5)) * V::Load(&lanes.Scatter[g]);
    V s, c;
    LaneSinCos(side * turn, s, c);
    const V x = mx * c - my * s, y = mx * s + my * c;
    const V across = x * nx + y * ny;
    const auto past = V::Less(across * side, zero);
    const V bx = x - two * across * nx, by = y - two * across * ny;
    const auto tooClose = V::Less(zero - across * side, margin);
    const V sign = V::Select(V::Less(bx * tx + by * ty, zero), minusOne, one);
    const V cx = sign * marginCosine * tx + side * margin * nx;
    const V cy = sign * marginCosine * ty + side * margin * ny;
    const auto turned = V::NotEqual(turn, zero);
    const auto clamped = turned & past & tooClose;
    const auto mirrored = turned & past;
    V rx = V::Select(turned, x, mx), ry = V::Select(turned, y, my);
    rx = V::Select(mirrored, bx, rx);
    ry = V::Select(mirrored, by, ry);
    rx = V::Select(clamped, cx, rx);
    ry = V::Select(clamped, cy, ry);
    rx.Store(&lanes.DX[g]);
    ry.Store(&lanes.DY[g]);
  }
}
