#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "impulse/fft.h"

namespace zm {
namespace {

std::vector<double> RandomSignal(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> x(n);
  for (double& v : x) v = dist(gen);
  return x;
}

// The packed spectrum computed the slow way, straight from its definition.
std::vector<double> DirectPacked(const std::vector<double>& x) {
  const int n = static_cast<int>(x.size());
  std::vector<double> out(n);
  auto r = [&](int m) {
    long double s = 0;
    for (int j = 0; j < n; ++j)
      s += x[j] * std::cos(2.0L * std::numbers::pi_v<long double> * j * m / n);
    return static_cast<double>(s);
  };
  auto i = [&](int m) {
    long double s = 0;
    for (int j = 0; j < n; ++j)
      s += x[j] * std::sin(2.0L * std::numbers::pi_v<long double> * j * m / n);
    return static_cast<double>(s);
  };
  out[0] = r(0);
  out[1] = r(n / 2);
  for (int m = 1; m < n / 2; ++m) {
    out[2 * m] = r(m);
    out[2 * m + 1] = i(m);
  }
  return out;
}

TEST(Fft, PackedLayoutMatchesDirectTransform) {
  for (int k : {2, 3, 4, 5, 10}) {
    const int n = 1 << k;
    TFastFourierTransform fft(k);
    ASSERT_EQ(fft.Size, n);
    EXPECT_DOUBLE_EQ(fft.InverseScale, 2.0 / n);
    std::vector<double> x = RandomSignal(n, 17 + k);
    std::vector<double> expected = DirectPacked(x);
    fft.Forward(x.data());
    for (int m = 0; m < n; ++m)
      EXPECT_NEAR(x[m], expected[m], 1e-12 * n) << "n=" << n << " m=" << m;
  }
}

TEST(Fft, InverseGivesHalfSizeTimesSamplesAndRoundTrips) {
  for (int k : {2, 3, 6, 10, 12}) {
    TFastFourierTransform fft(k);
    const std::vector<double> x = RandomSignal(fft.Size, 5 + k);
    std::vector<double> a = x;
    fft.Forward(a.data());
    fft.Inverse(a.data());
    for (int j = 0; j < fft.Size; ++j) EXPECT_NEAR(a[j], x[j] * fft.Size / 2, 1e-11 * fft.Size);
    fft.Scale(a.data(), fft.InverseScale);
    for (int j = 0; j < fft.Size; ++j) EXPECT_NEAR(a[j], x[j], 1e-13 * k) << "n=" << fft.Size;
  }
}

TEST(Fft, MultiplySpectrumIsCircularConvolution) {
  for (int k : {2, 4, 10}) {
    TFastFourierTransform fft(k);
    const int n = fft.Size;
    const std::vector<double> x = RandomSignal(n, 1), h = RandomSignal(n, 2);
    std::vector<double> expected(n, 0.0);
    for (int i = 0; i < n; ++i)
      for (int t = 0; t < n; ++t) expected[i] += h[t] * x[(i - t + n) % n];
    std::vector<double> a = x, b = h;
    fft.Forward(a.data());
    fft.Forward(b.data());
    fft.MultiplySpectrum(a.data(), b.data());
    fft.Inverse(a.data());
    fft.Scale(a.data(), fft.InverseScale);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(a[i], expected[i], 1e-11 * n);
  }
}

}  // namespace
}  // namespace zm
