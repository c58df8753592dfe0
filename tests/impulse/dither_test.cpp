#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "impulse/ditherer.h"

namespace zm {
namespace {

// Always the same number: 0 gives the lowest dither (-1.4 steps), just under
// 1 the highest (+1.4 steps), 0.5 none at all.
struct FixedRandom {
  double value;
  int draws = 0;
  double Next() {
    ++draws;
    return value;
  }
};

struct UniformRandom {
  std::mt19937_64 gen{12345};
  std::uniform_real_distribution<double> dist{0.0, 1.0};
  double Next() { return dist(gen); }
};

constexpr double kHigh = 0.9999999;

std::vector<uint8_t> ConvertOne(int bits, double x, double random) {
  TDitherer d(bits, 1, 0);
  std::vector<uint8_t> out(bits / 8, 0xAA);
  FixedRandom r{random};
  d.Convert(&x, out.data(), 1, r);
  return out;
}

int16_t Read16(const std::vector<uint8_t>& b) {
  return static_cast<int16_t>(b[0] | (b[1] << 8));
}

TEST(Ditherer, EightBitSilenceIsMidScalePlusOrMinusOne) {
  EXPECT_EQ(ConvertOne(8, 0.0, 0.0)[0], 127);
  EXPECT_EQ(ConvertOne(8, 0.0, 0.5)[0], 128);
  EXPECT_EQ(ConvertOne(8, 0.0, kHigh)[0], 129);
  TDitherer d(8, 1, 0);
  UniformRandom r;
  std::vector<double> silence(5000, 0.0);
  std::vector<uint8_t> out(silence.size());
  d.Convert(silence.data(), out.data(), 5000, r);
  for (uint8_t v : out) ASSERT_TRUE(v >= 127 && v <= 129) << int(v);
}

TEST(Ditherer, SixteenBitFullScale) {
  for (double random : {0.0, 0.5, kHigh}) EXPECT_EQ(Read16(ConvertOne(16, 1.0, random)), 0x7FFF);
  EXPECT_EQ(Read16(ConvertOne(16, -1.0, 0.0)), -0x8000);
  EXPECT_EQ(Read16(ConvertOne(16, -1.0, 0.5)), -0x8000);
  EXPECT_EQ(Read16(ConvertOne(16, -1.0, kHigh)), -0x7FFF);  // 0x8001
}

TEST(Ditherer, TwentyFourBitIsLowByteFirst) {
  const double lsb = 1.0 / 8388608.0;
  EXPECT_EQ(ConvertOne(24, -lsb, 0.5), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(ConvertOne(24, 256 * lsb, 0.5), (std::vector<uint8_t>{0x00, 0x01, 0x00}));
  EXPECT_EQ(ConvertOne(24, 0x123456 * lsb, 0.5), (std::vector<uint8_t>{0x56, 0x34, 0x12}));
}

TEST(Ditherer, ClipsBeyondFullScaleWithoutOverflow) {
  for (double big : {1.5, 1e6, 1e300, HUGE_VAL}) {
    EXPECT_EQ(ConvertOne(8, big, kHigh)[0], 0xFF);
    EXPECT_EQ(ConvertOne(8, -big, 0.0)[0], 0x00);
    EXPECT_EQ(Read16(ConvertOne(16, big, 0.5)), 0x7FFF);
    EXPECT_EQ(Read16(ConvertOne(16, -big, 0.5)), -0x8000);
    EXPECT_EQ(ConvertOne(24, big, 0.5), (std::vector<uint8_t>{0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(ConvertOne(24, -big, 0.5), (std::vector<uint8_t>{0x00, 0x00, 0x80}));
  }
  // Not a number: stored as silence rather than converted undefinedly.
  EXPECT_EQ(Read16(ConvertOne(16, std::nan(""), 0.5)), 0);
}

TEST(Ditherer, FloatIsSinglePrecisionWithoutNoise) {
  FixedRandom r{0.0};
  TDitherer d(32, 1, 0);
  const double x[2] = {0.5, -3.0};
  uint8_t out[8];
  d.Convert(x, out, 2, r);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x3F}));
  EXPECT_EQ(std::vector<uint8_t>(out + 4, out + 8), (std::vector<uint8_t>{0x00, 0x00, 0x40, 0xC0}));
  EXPECT_EQ(r.draws, 0);
}

TEST(Ditherer, WritesItsSlotOfEachFrameAndDrawsSevenPerSample) {
  // Channel 1 of three, 16 bits: bytes 2-3 of every 6-byte frame.
  TDitherer d(16, 3, 1);
  FixedRandom r{0.5};
  const double x[3] = {100.0 / 32768, -2.0 / 32768, 0.0};
  std::vector<uint8_t> out(18, 0xAA);
  d.Convert(x, out.data(), 3, r);
  EXPECT_EQ(r.draws, 21);
  const std::vector<uint8_t> expected{0xAA, 0xAA, 100,  0,    0xAA, 0xAA, 0xAA, 0xAA, 0xFE,
                                      0xFF, 0xAA, 0xAA, 0xAA, 0xAA, 0,    0,    0xAA, 0xAA};
  EXPECT_EQ(out, expected);
}

// For an input spread evenly over the steps, the error q - FullScale*x is
// the dither plus an independent rounding error uniform on one step. The
// dither is 0.4 step times (sum of seven uniforms - 3.5): mean 0, variance
// 0.16 * 7/12. So the error has mean 0, variance 0.16*7/12 + 1/12 = 0.17667
// steps^2, and never exceeds 1.4 + 0.5 steps.
TEST(Ditherer, NoiseHasZeroMeanAndTheStatedSpread) {
  TDitherer d(16, 1, 0);
  UniformRandom r;
  std::mt19937 gen(99);
  std::uniform_real_distribution<double> level(-0.5, 0.5);
  const int n = 200000;
  std::vector<double> x(n);
  for (double& v : x) v = level(gen);
  std::vector<uint8_t> out(2 * n);
  d.Convert(x.data(), out.data(), n, r);
  double sum = 0, sumSq = 0, worst = 0;
  for (int i = 0; i < n; ++i) {
    const int16_t q = static_cast<int16_t>(out[2 * i] | (out[2 * i + 1] << 8));
    const double e = q - 32768.0 * x[i];
    sum += e;
    sumSq += e * e;
    worst = std::max(worst, std::fabs(e));
  }
  const double mean = sum / n;
  const double variance = sumSq / n - mean * mean;
  // Standard error of the mean: sqrt(0.177 / 2e5) ~ 0.001.
  EXPECT_NEAR(mean, 0.0, 0.005);
  EXPECT_NEAR(variance, 0.16 * 7.0 / 12.0 + 1.0 / 12.0, 0.005);
  EXPECT_LE(worst, 1.9 + 1e-9);
}

TEST(Ditherer, RefusesFormatsWithoutAConverter) {
  for (int bits : {0, 4, 12, 20, 64, -16}) EXPECT_THROW(TDitherer(bits, 2, 0), ERangeError) << bits;
  EXPECT_THROW(TDitherer(16, 2, 2), ERangeError);
  EXPECT_THROW(TDitherer(16, 0, 0), ERangeError);
}

}  // namespace
}  // namespace zm
