// Fast mode's accumulation. The exact path writes every arrival as a
// band-shaped filter of N taps computed from its eight gains. That shape is
// linear in the gains: the gain curve, straight between neighbouring band
// frequencies, is the sum of eight "hat" curves (1 at one band frequency,
// 0 at its neighbours) weighted by the gains. So the arrivals are added,
// per band, into eight plain sample streams, each at its fractional delay
// through a short interpolator, and each stream is filtered once at the
// end by its hat's filter (the exact path's window and length). The result
// is the exact path's shape up to how the fractional delay is done.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fast/wall_scan.h"
#include "impulse/impulse.h"
#include "scene/options.h"

namespace zm::fast {

// The fractional delay of an arrival, by a Kaiser-windowed sinc. The early
// ones (the direct sound, first and second reflections), few and
// deterministic, take a long one that keeps their spectrum within 0.1 dB
// of the exact path's up to 16 kHz; the rest, the dense tail, one of half
// the taps, at half the cost: within 0.02 dB up to a quarter of the sample
// rate (where the rooms' bands end), within 1 dB up to 16 kHz.
inline constexpr int kEarlyTaps = 16;
inline constexpr int kLateTaps = 8;
inline constexpr int kDelayPhases = 256;

// Zeroed doubles in pages as large as the system gives (a stream is several
// megabytes, written all over: small pages would cost a fault each).
class TStreamStorage {
 public:
  void Reset(size_t count);
  double* get() const { return data_; }

 private:
  struct TFree {
    void operator()(void* block) const;
  };
  std::unique_ptr<void, TFree> block_;
  double* data_ = nullptr;
};

// A late arrival waiting to be added: where it lands and what it adds.
struct TPendingArrival {
  int32_t Row;  // of its whole sample
  int32_t Channel;
  double Fraction;
  double Value[kBandCount];
};

// The per-band sample streams that one share of the rays adds into; only
// this share's thread writes them.
struct TBandStreams {
  // Per channel: rows of kBandCount doubles, one row per sample; empty
  // until the channel receives an arrival.
  TStreamStorage Rows[kImpulseChannels];
  bool Used[kImpulseChannels] = {};
  int32_t WrittenEnd = 0;  // as TImpulse::WrittenEnd, for this share
  // Late arrivals come at random times all over streams larger than the
  // caches; they are gathered here and added a stretch of rows at a time.
  std::vector<TPendingArrival> Pending;
  std::vector<int32_t> Order, Counts;
};

class TBandShaper {
 public:
  // Reads the sizes and band frequencies from `impulse`, which must have
  // been made for the run's scene (its filter table need not be built).
  explicit TBandShaper(const TImpulse& impulse);

  // Adds one arrival to `streams`, or drops it under the same rules as
  // TImpulse::Place: a time that is negative, not finite or past the kept
  // range, a channel outside 0..7, an amplitude or gain that is not finite.
  // `early` chooses the interpolator (see kEarlyTaps).
  void Add(TBandStreams& streams, double time, double amplitude, const double* gains,
           int32_t channel, bool early) const;

  // Sums the shares in their order, filters each band stream by its band's
  // shape and writes the channels, WrittenEnd and ChannelUsed of `impulse`.
  // The same shares give the same bits for any `threads`.
  void Render(std::vector<TBandStreams>& shares, TImpulse& impulse, int32_t threads) const;

  // Adds the late arrivals that `streams` holds back, in an order that
  // depends on nothing but those arrivals.
  void Flush(TBandStreams& streams) const;

  // The filter of band b, offset o (sample index minus the arrival's
  // position) from FirstOffset() on, Taps() values: for tests.
  double Shape(int b, int32_t o) const {
    return shape_[static_cast<size_t>(o - FirstOffset()) * kBandCount + b];
  }
  int32_t FirstOffset() const { return 1 - halfTaps_; }
  int32_t Taps() const { return taps_; }

 private:
  // Rows before sample index 0 and after the last index the impulse keeps.
  int32_t Guard() const { return halfTaps_ + kEarlyTaps; }
  size_t RowCount() const { return static_cast<size_t>(bufferSamples_) + 2 * kEarlyTaps; }
  TRowsAdd rowsAdd_;
  TRowsConvolve rowsConvolve_;
  double sampleRate_;
  int32_t lengthSamples_, leadIn_, taps_, halfTaps_, bufferSamples_;
  // The interpolators' weights at kDelayPhases + 1 phases (band_shaper.cpp).
  std::vector<double> early_, late_;
  // Taps() rows of kBandCount: row i is offset FirstOffset() + i.
  std::vector<double> shape_;
};

}  // namespace zm::fast
