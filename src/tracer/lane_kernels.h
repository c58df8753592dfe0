// The tracer's kernels, written once against the lane type V and compiled
// once per SIMD path by support/each_path.h (which includes this file
// repeatedly, hence no include guard): the reflection, the hit test of
// wall_scan.h and the box test of wall_clusters.h.

// The direction after reflecting off a wall (ReflectAngle), for each lane.
inline V Reflect(V angle, V wallAngle, V scatter, V offset) {
  const V zero = V::Broadcast(0.0), twoPi = V::Broadcast(kTwoPi), pi = V::Broadcast(kPi);
  // The angle between the ray and the wall's direction, brought into [0, 2pi).
  V a = angle - wallAngle;
  V k = V::Trunc(a / twoPi);
  k = V::Select(V::Less(a, zero), k - V::Broadcast(1.0), k);
  a = a - twoPi * k;
  // Above pi the ray comes from the wall's left side; fold it to [0, pi].
  const auto fromLeft = V::Greater(a, pi);
  a = V::Select(fromLeft, twoPi - a, a);
  a = a + offset * scatter;
  // Past grazing, the excess is mirrored back rather than cut off at the
  // wall. Cut off, a wide blur sends a quarter of the rays that reach a
  // corner straight back into it along the other wall, each time a fraction
  // closer, until the hit point lies within rounding of the corner and the
  // ray slips out between the two walls.
  const auto above = V::Greater(a, pi);
  V folded = V::Select(above, twoPi - a, zero - a);
  folded = V::Min(V::Max(folded, V::Broadcast(kGrazingMargin)), V::Broadcast(kPi - kGrazingMargin));
  a = V::Select(above | V::Less(a, zero), folded, a);
  return V::Select(fromLeft, wallAngle + (twoPi + a), wallAngle - a);
}

// TScanKernel. Each group of lanes is computed whole: the division-free
// prefilter first (which also masks out the excluded wall: the ray leaves
// from it, so it always passes), then, for a group that may hold a
// crossing, the exact test and the reflection off every lane, so that the
// direction after the hit is ready the moment the wall is known. The few
// accepted lanes are then weighed one by one in lane order.
void Scan(const TWallLanes& walls, int32_t firstBlock, uint64_t blocks, const TScanRay& ray,
          int32_t excluded, TScanBest& best) {
  const V originX = V::Broadcast(ray.X), originY = V::Broadcast(ray.Y);
  const V dirX = V::Broadcast(ray.DirX), dirY = V::Broadcast(ray.DirY);
  const V zero = V::Broadcast(0.0), one = V::Broadcast(1.0);
  const V below = V::Broadcast(-kPrefilterSlack), above = V::Broadcast(1.0 + kPrefilterSlack);
  const V angle = V::Broadcast(ray.Angle), offset = V::Broadcast(ray.Draw - 0.5);
  for (; blocks != 0; blocks &= blocks - 1) {
    const int32_t first = (firstBlock + __builtin_ctzll(blocks)) * kLaneBlock;
    for (int32_t i = first; i < first + kLaneBlock; i += V::kWidth) {
      const V x1 = V::Load(&walls.X1[i]), y1 = V::Load(&walls.Y1[i]);
      const V dx = V::Load(&walls.DX[i]), dy = V::Load(&walls.DY[i]);
      const V den = dirY * dx - dirX * dy;
      const V ox = x1 - originX, oy = y1 - originY;
      const V numU = oy * dirX - ox * dirY;
      const V numV = oy * dx - ox * dy;
      const V size = V::Abs(den);
      const V lo = size * below, hi = size * above;
      const V su = V::FlipSignBy(numU, den), sv = V::FlipSignBy(numV, den);
      const auto crossable = V::NotEqual(den, zero) & V::IndexNot(&walls.Index[i], excluded);
      // Side by side rather than one masking the next, for a shorter path.
      const auto maybe = (V::NotLess(su, lo) & V::NotGreater(su, hi)) &
                         (V::NotLess(sv, lo) & V::NotGreater(sv, hi)) & crossable;
      if (maybe.Bits() == 0) continue;

      const V next = Reflect(angle, V::Load(&walls.Angle[i]), V::Load(&walls.Scatter[i]), offset);
      const V u = numU / den, v = numV / den;
      // The exact test alone decides: it never accepts what the prefilter
      // rejected, and leaving the prefilter out keeps it off the path.
      const unsigned mask = ((V::GreaterEq(u, zero) & V::LessEq(u, one)) &
                             (V::GreaterEq(v, zero) & V::LessEq(v, one)) & crossable)
                                .Bits();
      if (mask == 0) continue;
      double x[V::kWidth], y[V::kWidth], nexts[V::kWidth];
      (x1 + dx * u).Store(x);
      (y1 + dy * u).Store(y);
      next.Store(nexts);
      ConsiderLanes(walls, i, mask, x, y, nexts, ray, excluded, best);
    }
  }
}

// TBoxTest. An infinite line crosses a box exactly when the box's
// projection onto the line's normal covers the line's: when the centre lies
// within the box's half-width across the line.
uint64_t BoxTest(const TClusterBoxes& boxes, int32_t first, int32_t count, const TBoxLine& line) {
  const V x = V::Broadcast(line.X), y = V::Broadcast(line.Y);
  const V c = V::Broadcast(line.Cosine), s = V::Broadcast(line.Sine);
  const V ac = V::Broadcast(line.AbsCosine), as = V::Broadcast(line.AbsSine);
  uint64_t bits = 0;
  for (int32_t k = 0; k < count; k += V::kWidth) {
    const int32_t i = first + k;
    const V across = (V::Load(&boxes.CentreX[i]) - x) * s - (V::Load(&boxes.CentreY[i]) - y) * c;
    const V halfWidth = V::Load(&boxes.HalfX[i]) * as + V::Load(&boxes.HalfY[i]) * ac;
    bits |= static_cast<uint64_t>(V::LessEq(V::Abs(across), halfWidth).Bits()) << k;
  }
  return bits;
}
