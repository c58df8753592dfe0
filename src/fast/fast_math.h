// The arithmetic of the fast tracer that must give the same bits wherever it
// runs: sine, cosine and exponential as plain polynomials (separate
// multiplies and adds, no library call), and the per-ray random stream.
// The engine is built without contracted multiply-adds, so each of these is
// one fixed sequence of IEEE operations on every processor and SIMD path.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace zm::fast {

// sin(x) and cos(x) for |x| up to about 10^6, within a few ulp. The
// compiler must keep (a + b) - b as written (no -ffast-math).
inline void SinCos(double x, double& sine, double& cosine) {
  // Most calls turn a reflection by a blur of a few degrees: near 0 the
  // series needs about half the terms (the first one dropped, x^11 / 11!
  // or x^12 / 12!, is below 2^-55 of the result for |x| <= 1/8), and the
  // hit step waits on this chain.
  if (std::fabs(x) <= 0.125) {
    const double x2 = x * x;
    double s = 2.7557319223985890653e-06;
    s = s * x2 + -1.9841269841269841270e-04;
    s = s * x2 + 8.3333333333333333333e-03;
    s = s * x2 + -1.6666666666666666667e-01;
    sine = x + x * (x2 * s);
    double c = -2.7557319223985890653e-07;
    c = c * x2 + 2.4801587301587301587e-05;
    c = c * x2 + -1.3888888888888888889e-03;
    c = c * x2 + 4.1666666666666666667e-02;
    c = c * x2 + -0.5;
    cosine = 1.0 + x2 * c;
    return;
  }
  // x = k * pi/2 + r with |r| <= pi/4, pi/2 split in three so that k * pi/2
  // is subtracted without rounding for the k of a ray's angles.
  constexpr double kTwoOverPi = 0.63661977236758134308;
  constexpr double kP1 = 1.5707963267341256e+00;
  constexpr double kP2 = 6.0771005063039660e-11;
  constexpr double kP3 = 2.0222662487111665e-21;
  // Rounded to the nearest whole number by adding and taking off 1.5 * 2^52,
  // exact below 2^51, with no call into the library.
  constexpr double kRound = 6755399441055744.0;
  const double k =
      std::fabs(x) <= 0.78539816339744830962 ? 0.0 : (x * kTwoOverPi + kRound) - kRound;
  const double r = k == 0.0 ? x : ((x - k * kP1) - k * kP2) - k * kP3;
  const double r2 = r * r;
  // Taylor series to r^15 and r^16: below 2^-56 relative on |r| <= pi/4.
  double s = -7.6471637318198164759e-13;
  s = s * r2 + 1.6059043836821614599e-10;
  s = s * r2 + -2.5052108385441718775e-08;
  s = s * r2 + 2.7557319223985890653e-06;
  s = s * r2 + -1.9841269841269841270e-04;
  s = s * r2 + 8.3333333333333333333e-03;
  s = s * r2 + -1.6666666666666666667e-01;
  s = r + r * (r2 * s);
  double c = 4.7794773323873852974e-14;
  c = c * r2 + -1.1470745597729724714e-11;
  c = c * r2 + 2.0876756987868098979e-09;
  c = c * r2 + -2.7557319223985890653e-07;
  c = c * r2 + 2.4801587301587301587e-05;
  c = c * r2 + -1.3888888888888888889e-03;
  c = c * r2 + 4.1666666666666666667e-02;
  c = c * r2 + -0.5;
  c = 1.0 + r2 * c;
  // The quarter turn k mod 4, from 0 to 3 for negative k too, in floating
  // point as the lane kernel takes it: no integer conversion, which an
  // angle out of any integer's range (or not finite: then NaN comes out)
  // would make undefined.
  const double quarter = k * 0.25;
  double whole = std::trunc(quarter);
  if (whole > quarter) whole = whole - 1.0;
  const double q = k - whole * 4.0;
  if (q < 0.5) {
    sine = s, cosine = c;
  } else if (q < 1.5) {
    sine = c, cosine = -s;
  } else if (q < 2.5) {
    sine = -s, cosine = -c;
  } else {
    sine = -c, cosine = s;
  }
}

inline double Sin(double x) {
  double s, c;
  SinCos(x, s, c);
  return s;
}

// e^x within a few ulp; 0 below about -745, infinity above about 709.
inline double Exp(double x) {
  if (!(x > -745.0)) return x != x ? x : 0.0;
  if (x > 709.78) return HUGE_VAL;
  constexpr double kLog2e = 1.4426950408889634074;
  constexpr double kLn2Hi = 6.93147180369123816490e-01;
  constexpr double kLn2Lo = 1.90821492927058770002e-10;
  constexpr double kRound = 6755399441055744.0;
  const double k = (x * kLog2e + kRound) - kRound;
  const double r = (x - k * kLn2Hi) - k * kLn2Lo;
  // Taylor series to r^13 on |r| <= ln2/2: below 2^-56 relative.
  double p = 1.6059043836821614599e-10;
  p = p * r + 2.0876756987868098979e-09;
  p = p * r + 2.5052108385441718775e-08;
  p = p * r + 2.7557319223985890653e-07;
  p = p * r + 2.7557319223985890653e-06;
  p = p * r + 2.4801587301587301587e-05;
  p = p * r + 1.9841269841269841270e-04;
  p = p * r + 1.3888888888888888889e-03;
  p = p * r + 8.3333333333333333333e-03;
  p = p * r + 4.1666666666666666667e-02;
  p = p * r + 1.6666666666666666667e-01;
  p = p * r + 0.5;
  p = p * r + 1.0;
  p = p * r + 1.0;
  // 2^k in two steps, so that results near the subnormal range come out.
  const int64_t n = static_cast<int64_t>(k);
  const int64_t half = n / 2;
  const double a = std::bit_cast<double>(static_cast<uint64_t>(1023 + half) << 52);
  const double b = std::bit_cast<double>(static_cast<uint64_t>(1023 + n - half) << 52);
  return p * a * b;
}

// The random stream of one ray: draw i of ray `ray` of emitter `emitter`
// under seed `seed` is a hash of the four, so rays can be traced in any
// order and on any thread and still take the same numbers.
class TRayStream {
 public:
  TRayStream() : key_(0) {}
  TRayStream(uint64_t seed, uint64_t emitter, uint64_t ray)
      : key_(Mix(Mix(seed * 0x9E3779B97F4A7C15ull + emitter) ^ (ray * 0xD1B54A32D192ED03ull))) {}

  // The next draw, uniform in [0, 1): 53 random bits.
  double Next() { return Peek(counter_++); }
  // The draw that Next will return, without taking it.
  double Peek() const { return Peek(counter_); }

 private:
  double Peek(uint64_t counter) const {
    const uint64_t bits = Mix(key_ + counter * 0x9E3779B97F4A7C15ull);
    return static_cast<double>(bits >> 11) * 0x1.0p-53;
  }
  // The finaliser of SplitMix64: every input bit reaches every output bit.
  static uint64_t Mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  uint64_t key_;
  uint64_t counter_ = 0;
};

}  // namespace zm::fast
