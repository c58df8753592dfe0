// Fast mode's nearest-hit scan, written once against the lane type V and
// compiled once per SIMD path by support/each_path.h (which includes this
// file repeatedly, hence no include guard). Every lane does the same IEEE
// operations on one wall, so each path finds the same wall at the same
// point; only how many walls one instruction tests differs.

// TFastScan: the nearest wall that the ray from (ox, oy) along the unit
// vector (dx, dy) crosses, skipping wall `excluded`: its index (-1 for
// none), its distance and the crossing's position u along it.
void NearestWall(const fast::TFastWalls& walls, double ox, double oy, double dx, double dy,
                 int32_t excluded, fast::TFastHit& hit) {
  const V originX = V::Broadcast(ox), originY = V::Broadcast(oy);
  const V dirX = V::Broadcast(dx), dirY = V::Broadcast(dy);
  const V zero = V::Broadcast(0.0), one = V::Broadcast(1.0), far = V::Broadcast(kRayLength);
  hit.Index = -1;
  double best = 0.0;
  for (int32_t i = 0; i < walls.Count; i += V::kWidth) {
    const V x1 = V::Load(&walls.X1[i]), y1 = V::Load(&walls.Y1[i]);
    const V wx = V::Load(&walls.DX[i]), wy = V::Load(&walls.DY[i]);
    const V den = dirY * wx - dirX * wy;
    const V rx = x1 - originX, ry = y1 - originY;
    const V u = (ry * dirX - rx * dirY) / den;
    const V v = (ry * wx - rx * wy) / den;
    // A wall parallel to the ray (den 0, also a padding lane) gives no
    // number or an infinite one and fails these.
    unsigned mask =
        ((V::GreaterEq(u, zero) & V::LessEq(u, one)) & (V::GreaterEq(v, zero) & V::LessEq(v, far)))
            .Bits();
    if (mask == 0) continue;
    double us[V::kWidth], vs[V::kWidth];
    u.Store(us);
    v.Store(vs);
    for (; mask != 0; mask &= mask - 1) {
      const int lane = __builtin_ctz(mask);
      if (i + lane == excluded) continue;
      // Strictly nearer: of equal distances the earlier wall stays.
      if (hit.Index < 0 || vs[lane] < best) {
        best = vs[lane];
        hit.Index = i + lane;
        hit.U = us[lane];
      }
    }
  }
  hit.Distance = best;
}
