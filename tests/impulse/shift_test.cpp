#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "impulse/shift.h"

namespace zm {
namespace {

constexpr double kPi = std::numbers::pi;

// The convolution the shift promises, evaluated directly:
// out[i] = sum over t of h[t] x[i + 256 - t], x silent outside the range.
std::vector<double> DirectShift(const std::vector<double>& x, double fraction) {
  double h[512];
  for (int i = 0; i < 512; ++i) {
    const double y = (i - 256 + fraction) * kPi;
    h[i] = y == 0.0
               ? 1.0
               : (0.5 * std::cos((i + fraction) * 2.0 * kPi / 512 + kPi) + 0.5) * std::sin(y) / y;
  }
  const int n = static_cast<int>(x.size());
  std::vector<double> out(n, 0.0);
  for (int i = 0; i < n; ++i) {
    for (int t = 0; t < 512; ++t) {
      const int j = i + 256 - t;
      if (j >= 0 && j < n) out[i] += h[t] * x[j];
    }
  }
  return out;
}

TEST(Shift, MatchesTheDirectConvolutionForEveryBlockLayout) {
  // Counts around the block edges: one partial block, exactly the skip, two
  // blocks with a silent second input, one full block and just past it.
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  for (int count : {1, 255, 256, 300, 511, 512, 513, 768, 5000}) {
    std::vector<double> x(count);
    for (double& v : x) v = dist(gen);
    const std::vector<double> expected = DirectShift(x, 0.37);
    // Sentinels after the range must survive: the shift writes count samples.
    std::vector<double> buffer = x;
    buffer.resize(count + 8, 123.0);
    ShiftByFraction(buffer.data(), count, 0.37);
    for (int i = 0; i < count; ++i) ASSERT_NEAR(buffer[i], expected[i], 1e-12) << count << " " << i;
    for (int i = count; i < count + 8; ++i) EXPECT_EQ(buffer[i], 123.0);
  }
}

TEST(Shift, CountZeroWritesNothing) {
  std::vector<double> buffer(16, 5.0);
  ShiftByFraction(buffer.data(), 0, 0.5);
  for (double v : buffer) EXPECT_EQ(v, 5.0);
}

TEST(Shift, FractionZeroReproducesTheInput) {
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> x(2000);
  for (double& v : x) v = dist(gen);
  std::vector<double> y = x;
  ShiftByFraction(y.data(), static_cast<int32_t>(y.size()), 0.0);
  // The kernel is 1 at its centre and sin(k pi)/(k pi), a rounding residue of
  // about 1e-17, elsewhere.
  for (size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(y[i], x[i], 1e-13);
}

// A band-limited signal read at i + fraction must equal the same formula
// evaluated there. The sines lie at or below 0.3 of the Nyquist frequency,
// far from the edge where the 512-tap Hann-windowed sinc rolls off; there its
// passband error is of the order of 1e-8 (measured: 2e-8 at worst), so 1e-6
// leaves a wide margin, while reading the signal at i - fraction or one
// sample off would miss by more than 0.05.
double Signal(double t) {
  return std::sin(0.05 * kPi * t + 0.3) + 0.7 * std::sin(0.17 * kPi * t + 1.1) +
         0.5 * std::cos(0.3 * kPi * t - 0.4);
}

TEST(Shift, BandLimitedSignalMovesEarlierByTheFraction) {
  const int count = 4000;
  for (double fraction : {0.25, 0.5, 0.9}) {
    std::vector<double> x(count);
    for (int i = 0; i < count; ++i) x[i] = Signal(i);
    ShiftByFraction(x.data(), count, fraction);
    double worst = 0.0;
    for (int i = 256; i < count - 256; ++i)
      worst = std::max(worst, std::fabs(x[i] - Signal(i + fraction)));
    EXPECT_LT(worst, 1e-6) << "fraction " << fraction;
  }
}

}  // namespace
}  // namespace zm
