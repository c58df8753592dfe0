// The tap kernel (TTapKernel), written once against the lane type V and
// compiled once per SIMD path by support/each_path.h, which includes this
// file repeatedly (hence no include guard). V::kWidth taps at a time.
void Taps(const double* phase, const double* nextPhase, int32_t blocks, double fraction,
          const double* coefficients, double* taps) {
  const V f = V::Broadcast(fraction);
  for (int32_t q = 0; q < blocks; ++q) {
    const double* v = phase + q * kTapBlockDoubles;
    const double* next = nextPhase + q * kTapBlockDoubles;
    for (int lane = 0; lane < kTapBlock; lane += V::kWidth) {
      V sum = V::Broadcast(0.0);
      for (int k = 0; k < kTapCoefficients; ++k) {
        const V value = V::Load(v + k * kTapBlock + lane);
        const V step = V::Load(next + k * kTapBlock + lane) - value;
        sum = sum + (value + f * step) * V::Broadcast(coefficients[k]);
      }
      const V window = V::Load(v + kWindowValue * kTapBlock + lane);
      const V windowStep = V::Load(next + kWindowValue * kTapBlock + lane) - window;
      (sum * (window + f * windowStep)).Store(taps + q * kTapBlock + lane);
    }
  }
}
