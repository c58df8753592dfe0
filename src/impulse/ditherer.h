// Converts one channel of samples (full scale +-1.0) into the output sample
// format, in its slot of an interleaved frame buffer. The integer formats get
// triangular-ish dither from seven uniform numbers and are rounded to the
// nearest step and clipped; 32 bits is IEEE single precision, undithered
// and clipped to the single range.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "support/exception.h"
#include "support/little_endian.h"

namespace zm {

namespace msg::dither {
inline constexpr MessageText sBadBits{"No sample format for %d bits per sample"};
inline constexpr MessageText sBadChannel{"Channel %d is outside a frame of %d channels"};
}  // namespace msg::dither

// The largest absolute value among `count` samples, never below 1e-15 (also
// for count 0), so that a gain computed from it stays finite.
double PeakOf(const double* samples, int32_t count);

class TDitherer {
 public:
  // Refuses any format but 8, 16, 24 and 32 bits, so that no sample is ever
  // converted without a converter.
  TDitherer(int32_t bits, int32_t channels, int32_t channel);

  // Converts `count` consecutive samples into this channel's slots of
  // `destination`, drawing seven numbers per integer sample from `random`
  // (anything with `double Next()` yielding [0, 1)).
  template <class Random>
  void Convert(const double* source, uint8_t* destination, int32_t count, Random& random) const;

  // The same, drawing from the library's shared dither generator.
  void Convert(const double* source, uint8_t* destination, int32_t count) const;

  // The integer code of sample x for the dither sum r (seven draws, 0 to 7),
  // before clipping is applied by the encoder.
  double Quantise(double x, double r) const;

  int32_t Bits;
  int32_t Channels;
  int32_t Channel;
  double FullScale;        // 2^(Bits-1); unused for 32 bits
  double Lsb;              // one step in sample units
  double DitherAmplitude;  // 0.4 of a step per unit of (r - 3.5)
  double HalfLsb;

 private:
  void Store(double code, uint8_t* slot) const;
};

// A sample in single precision, rounded to nearest; what rounds beyond the
// single range is clipped to its largest value, so that a file never holds
// an infinity (or a NaN, stored as 0).
inline float ToFloat32(double x) {
  const float f = static_cast<float>(x);
  if (std::isinf(f)) return std::copysign(std::numeric_limits<float>::max(), f);
  return f == f ? f : 0.0f;
}

inline double TDitherer::Quantise(double x, double r) const {
  const double v = (r - 3.5) * DitherAmplitude + (x + HalfLsb);
  double q = std::trunc(FullScale * v);
  if (v < 0) q = q - 1.0;
  return q;
}

template <class Random>
void TDitherer::Convert(const double* source, uint8_t* destination, int32_t count,
                        Random& random) const {
  if (count <= 0) return;  // an empty take may come with no buffer at all
  const int32_t bytes = Bits / 8;
  const int64_t stride = int64_t{Channels} * bytes;
  uint8_t* slot = destination + int64_t{Channel} * bytes;
  if (Bits == 32) {
    for (int32_t i = 0; i < count; ++i, slot += stride) {
      StoreLe32(slot, std::bit_cast<uint32_t>(ToFloat32(source[i])));
    }
    return;
  }
  for (int32_t i = 0; i < count; ++i, slot += stride) {
    double r = random.Next();
    for (int d = 1; d < 7; ++d) r = r + random.Next();
    Store(Quantise(source[i], r), slot);
  }
}

}  // namespace zm
