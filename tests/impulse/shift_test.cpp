// The fractional-sample shift against a direct convolution, which also pins
// the FFT it runs on (packed layout, product and scale).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "impulse/shift.h"

namespace zm {
namespace {

constexpr double kPi = std::numbers::pi;

std::vector<double> RandomSignal(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> x(n);
  for (double& v : x) v = dist(gen);
  return x;
}

// out[i] = sum over t of h[t] x[i + 256 - t], x silent outside its range,
// with the 512-tap Hann-windowed sinc h.
std::vector<double> DirectShift(const std::vector<double>& x, double fraction) {
  const int n = static_cast<int>(x.size());
  std::vector<double> out(n, 0.0);
  for (int t = 0; t < 512; ++t) {
    const double y = (t - 256 + fraction) * kPi;
    const double h =
        y == 0.0 ? 1.0
                 : (0.5 * std::cos((t + fraction) * 2.0 * kPi / 512 + kPi) + 0.5) * std::sin(y) / y;
    for (int i = 0; i < n; ++i) {
      const int j = i + 256 - t;
      if (j >= 0 && j < n) out[i] += h * x[j];
    }
  }
  return out;
}

TEST(Shift, MatchesTheDirectConvolutionForEveryBlockLayout) {
  // Counts around the block edges, and fraction 0, which must give the input back.
  for (int count : {0, 1, 255, 256, 300, 511, 512, 513, 768, 5000}) {
    for (double fraction : {0.37, 0.0}) {
      const std::vector<double> x = RandomSignal(count, count);
      const std::vector<double> expected = fraction == 0.0 ? x : DirectShift(x, fraction);
      std::vector<double> buffer = x;
      buffer.resize(count + 8, 123.0);  // sentinels: the shift writes count samples
      ShiftByFraction(buffer.data(), count, fraction);
      for (int i = 0; i < count; ++i)
        ASSERT_NEAR(buffer[i], expected[i], 1e-12) << count << " " << i;
      EXPECT_EQ(std::vector<double>(buffer.begin() + count, buffer.end()),
                std::vector<double>(8, 123.0));
    }
  }
}

}  // namespace
}  // namespace zm
