/* The elementary functions the engine calls, from exactly rounded operations
 * only (+, -, *, /, sqrt, floor, frexp, ldexp), so that every build computes
 * the same bits. Linked into a copy of the engine in place of the C
 * library's own functions, which differ between the 32-bit and 64-bit C
 * libraries in the last bit now and then: that copy must then render exactly
 * the same bytes in both builds, or the 32-bit code itself is at fault.
 *
 * Accurate to a few units in the last place, which is all the comparison
 * needs. An engine that starts to call another inexact function (tan, asin,
 * ...) needs it added here, or its 32-bit renders differ again.
 */
#include <math.h>

static const double kPi = 3.14159265358979323846;
static const double kLn2High = 6.93147180369123816490e-01; /* low bits zero */
static const double kLn2Low = 1.90821492927058770002e-10;

/* sin (cos when `cosine`) of x: x = k pi/2 + r with |r| <= pi/4, pi/2 split
 * in three parts so that k times the first is exact, then the series of r. */
static double SineOrCosine(double x, int cosine) {
  static const double kPiOver2High = 1.57079632673412561417e+00; /* 33 bits */
  static const double kPiOver2Mid = 6.07710050630396597660e-11;
  static const double kPiOver2Low = 2.02226624879595063154e-21;
  if (!isfinite(x)) return x - x;
  double k = floor(x / kPiOver2High + 0.5);
  double r = (x - k * kPiOver2High) - k * kPiOver2Mid - k * kPiOver2Low;
  int quadrant = (int)fmod(fmod(k, 4.0) + 4.0, 4.0) + cosine;
  /* Quadrants 0..4 give sin r, cos r, -sin r, -cos r, sin r. */
  int odd = quadrant & 1, negative = (quadrant & 2) != 0;
  double term = odd ? 1.0 : r, sum = term;
  for (int i = odd ? 1 : 2; i < 28; i += 2) {
    term = -term * r * r / (i * (i + 1.0));
    sum += term;
  }
  return negative ? -sum : sum;
}

static double Exp(double x) {
  if (x != x) return x;
  if (x > 709.8) return HUGE_VAL;
  if (x < -745.2) return 0.0;
  double k = floor(x / kLn2High + 0.5);
  double r = x - k * kLn2High - k * kLn2Low, term = 1.0, sum = 1.0;
  for (int i = 1; i < 20; ++i) {
    term = term * r / i;
    sum += term;
  }
  return ldexp(sum, (int)k);
}

static double Log(double x) {
  if (x != x || x == HUGE_VAL) return x;
  if (x < 0) return NAN;
  if (x == 0) return -HUGE_VAL;
  int exponent;
  double m = frexp(x, &exponent);
  if (m < 0.70710678118654752440) {
    m *= 2;
    --exponent;
  }
  /* ln m = 2 atanh z with z = (m - 1) / (m + 1), |z| < 0.18. */
  double z = (m - 1) / (m + 1), power = z, sum = z;
  for (int k = 1; k < 24; ++k) {
    power *= z * z;
    sum += power / (2 * k + 1);
  }
  return 2 * sum + exponent * kLn2Low + exponent * kLn2High;
}

/* atan t for t >= 0. */
static double ArcTangent(double t) {
  if (t > 1) return kPi / 2 - ArcTangent(1 / t);
  /* Halve the angle three times: t <= tan(pi / 32) < 0.1. */
  for (int i = 0; i < 3; ++i) t = t / (1 + sqrt(1 + t * t));
  double power = t, sum = t;
  for (int k = 1; k < 18; ++k) {
    power *= -t * t;
    sum += power / (2 * k + 1);
  }
  return 8 * sum;
}

double sin(double x) {
  return SineOrCosine(x, 0);
}

double cos(double x) {
  return SineOrCosine(x, 1);
}

void sincos(double x, double* s, double* c) {
  *s = SineOrCosine(x, 0);
  *c = SineOrCosine(x, 1);
}

double exp(double x) {
  return Exp(x);
}

double log(double x) {
  return Log(x);
}

/* The engine raises only positive numbers to real powers. */
double pow(double x, double y) {
  if (y == 0) return 1.0;
  return x > 0 ? Exp(y * Log(x)) : x == 0 ? 0.0 : NAN;
}

/* Walls have finite ends: no infinities here. */
double atan2(double y, double x) {
  if (x != x || y != y) return x + y;
  double a = y == 0 ? (signbit(x) ? kPi : 0.0) : x == 0 ? kPi / 2 : ArcTangent(fabs(y / x));
  if (x < 0 && y != 0) a = kPi - a;
  return signbit(y) ? -a : a;
}
