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
