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
  const V below = V::Broadcast(-kFastPrefilterSlack);
  const V above = V::Broadcast(1.0 + kFastPrefilterSlack);
  for (int g = 0; g < fast::kScanLanes; g += V::kWidth) {
    const V originX = V::Load(&rays.X[g]), originY = V::Load(&rays.Y[g]);
    const V dirX = V::Load(&rays.DX[g]), dirY = V::Load(&rays.DY[g]);
    const V last = V::Load(&rays.Last[g]);
    V best = V::Broadcast(HUGE_VAL), bestU = zero, bestIndex = V::Broadcast(-1.0);
    for (int32_t i = 0; i < wallCount; ++i) {
      const V x1 = V::Broadcast(walls.X1[i]), y1 = V::Broadcast(walls.Y1[i]);
      const V wx = V::Broadcast(walls.DX[i]), wy = V::Broadcast(walls.DY[i]);
      const V den = dirY * wx - dirX * wy;
      const V rx = x1 - originX, ry = y1 - originY;
      const V numU = ry * dirX - rx * dirY;
      const V numV = ry * wx - rx * wy;
      // Division-free first: with den's sign moved onto the numerators, a
      // quotient that rounds into its range has its numerator within a
      // slack far above rounding of that range times |den|. Lanes outside
      // are lanes the exact test below rejects.
      const V size = V::Abs(den);
      const V su = V::FlipSignBy(numU, den), sv = V::FlipSignBy(numV, den);
      const auto maybe =
          (V::NotLess(su, size * below) & V::NotGreater(su, size * above)) &
          (V::NotLess(sv, size * below) & V::NotGreater(sv, size * V::Min(best, far) * above));
      if (maybe.Bits() == 0) continue;
      const V u = numU / den, v = numV / den;
      const auto take =
          ((V::GreaterEq(u, zero) & V::LessEq(u, one)) &
           (V::GreaterEq(v, zero) & V::LessEq(v, far))) &
          (V::Less(v, best) & V::NotEqual(last, V::Broadcast(static_cast<double>(i))));
      best = V::Select(take, v, best);
      bestU = V::Select(take, u, bestU);
      bestIndex = V::Select(take, V::Broadcast(static_cast<double>(i)), bestIndex);
    }
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
