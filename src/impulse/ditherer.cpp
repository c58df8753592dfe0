#include "impulse/ditherer.h"

#include "support/random.h"

namespace zm {

TDitherer::TDitherer(int32_t bits, int32_t channels, int32_t channel)
    : Bits(bits), Channels(channels), Channel(channel) {
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    throw ERangeError(Format(msg::dither::sBadBits, {bits}));
  }
  if (channels < 1 || channel < 0 || channel >= channels) {
    throw ERangeError(Format(msg::dither::sBadChannel, {channel, channels}));
  }
  FullScale = static_cast<double>(int64_t{1} << (bits - 1));
  Lsb = 1.0 / FullScale;
  DitherAmplitude = Lsb * 2.8 / 7.0;
  HalfLsb = Lsb * 0.5;
}

void TDitherer::Store(double code, uint8_t* slot) const {
  // Clip in floating point first: a sample far beyond full scale (or not a
  // number at all) must not reach an integer conversion that cannot hold it.
  const double top = FullScale - 1.0;
  const double bottom = -FullScale;
  int32_t q;
  if (code > top) {
    q = static_cast<int32_t>(top);
  } else if (code < bottom) {
    q = static_cast<int32_t>(bottom);
  } else if (code == code) {
    q = static_cast<int32_t>(code);
  } else {
    q = 0;
  }
  const uint32_t u = static_cast<uint32_t>(q);
  switch (Bits) {
    case 8:
      slot[0] = static_cast<uint8_t>(q + 128);
      break;
    case 16:
      StoreLe16(slot, u);
      break;
    default:  // 24
      StoreLe24(slot, u);
      break;
  }
}

void TDitherer::Convert(const double* source, uint8_t* destination, int32_t count) const {
  SharedRandomLock lock;
  Convert(source, destination, count, lock.Generator());
}

}  // namespace zm
