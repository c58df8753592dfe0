// Samples to the four output encodings: dither range, clipping, byte order,
// the frame slot written and the number of draws.
#include "impulse/ditherer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace zm {
namespace {

// Always the same number: 0 gives the lowest dither (-1.4 steps), just under
// 1 the highest (+1.4 steps), 0.5 none at all.
struct FixedRandom {
  double value;
  int draws = 0;
  double Next() { return ++draws, value; }
};

constexpr double kHigh = 0.9999999;

std::vector<uint8_t> ConvertOne(int bits, double x, double random) {
  std::vector<uint8_t> out(bits / 8, 0xAA);
  FixedRandom r{random};
  TDitherer(bits, 1, 0).Convert(&x, out.data(), 1, r);
  return out;
}

int Read16(const std::vector<uint8_t>& b) {
  return static_cast<int16_t>(b[0] | (b[1] << 8));
}

TEST(Ditherer, EncodingsDitherAndClip) {
  const double lsb24 = 1.0 / 8388608.0;
  EXPECT_EQ(ConvertOne(8, 0.0, 0.0)[0], 127);  // silence is mid-scale, plus or minus one
  EXPECT_EQ(ConvertOne(8, 0.0, 0.5)[0], 128);
  EXPECT_EQ(ConvertOne(8, 0.0, kHigh)[0], 129);
  for (double random : {0.0, 0.5, kHigh}) EXPECT_EQ(Read16(ConvertOne(16, 1.0, random)), 0x7FFF);
  EXPECT_EQ(Read16(ConvertOne(16, -1.0, 0.5)), -0x8000);
  EXPECT_EQ(Read16(ConvertOne(16, -1.0, kHigh)), -0x7FFF);
  EXPECT_EQ(ConvertOne(24, -lsb24, 0.5), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(ConvertOne(24, 0x123456 * lsb24, 0.5), (std::vector<uint8_t>{0x56, 0x34, 0x12}));
  // Beyond full scale: clipped before the integer conversion, so nothing overflows.
  for (double big : {1.5, 1e6, 1e300, HUGE_VAL}) {
    EXPECT_EQ(ConvertOne(8, big, kHigh)[0], 0xFF);
    EXPECT_EQ(ConvertOne(8, -big, 0.0)[0], 0x00);
    EXPECT_EQ(Read16(ConvertOne(16, big, 0.5)), 0x7FFF);
    EXPECT_EQ(Read16(ConvertOne(16, -big, 0.5)), -0x8000);
    EXPECT_EQ(ConvertOne(24, big, 0.5), (std::vector<uint8_t>{0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(ConvertOne(24, -big, 0.5), (std::vector<uint8_t>{0x00, 0x00, 0x80}));
  }
  EXPECT_EQ(Read16(ConvertOne(16, std::nan(""), 0.5)), 0);  // not a number: silence
  // Float: single precision, low byte first, no noise and no draws.
  FixedRandom r{0.0};
  const double x[2] = {0.5, -3.0};
  uint8_t out[8];
  TDitherer(32, 1, 0).Convert(x, out, 2, r);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8),
            (std::vector<uint8_t>{0, 0, 0, 0x3F, 0, 0, 0x40, 0xC0}));
  EXPECT_EQ(r.draws, 0);
}

TEST(Ditherer, WritesItsSlotOfEachFrameAndDrawsSevenPerSample) {
  // Channel 1 of three, 16 bits: bytes 2-3 of every 6-byte frame.
  FixedRandom r{0.5};
  const double x[3] = {100.0 / 32768, -2.0 / 32768, 0.0};
  std::vector<uint8_t> out(18, 0xAA);
  TDitherer(16, 3, 1).Convert(x, out.data(), 3, r);
  EXPECT_EQ(r.draws, 21);
  EXPECT_EQ(out, (std::vector<uint8_t>{0xAA, 0xAA, 100, 0, 0xAA, 0xAA, 0xAA, 0xAA, 0xFE, 0xFF, 0xAA,
                                       0xAA, 0xAA, 0xAA, 0, 0, 0xAA, 0xAA}));
  for (int bits : {0, 4, 12, 20, 64, -16}) EXPECT_THROW(TDitherer(bits, 2, 0), ERangeError) << bits;
  EXPECT_THROW(TDitherer(16, 2, 2), ERangeError);  // a slot outside the frame
}

}  // namespace
}  // namespace zm
