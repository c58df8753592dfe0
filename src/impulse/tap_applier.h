// Applies arrivals to the impulse in chunks, with the same result as
// placing, computing and adding one arrival at a time: each arrival group is
// expanded in order and its arrivals placed and collected in a chunk; then
// the taps of the chunk are computed phase by phase, so that each row of the
// filter table is read once per chunk rather than once per arrival (the
// table is far larger than the caches), and added to the samples in arrival
// order. Every sample thus receives the same additions in the same order as
// one at a time, and every tap is computed by the same operations, so the
// bytes do not change.
#pragma once

#include <cstdint>
#include <vector>

#include "impulse/impulse.h"

namespace zm {

// An arrival and, when SpreadCount > 0, the arrivals spread after it: the
// j-th (j < SpreadCount) at f = (j + 0.5) / SpreadDivisions along the
// segment, with the amplitude scaled by f and signs alternating from minus,
// the band gains blended from GainsBefore towards GainsBefore + GainChange
// and times the air.
struct TArrivalGroup {
  double Time;
  double Amplitude;
  double Gains[ZM_BAND_COUNT];
  int32_t Channel;
  int32_t SpreadCount;
  int32_t SpreadDivisions;
  double SegmentStart;
  double SegmentDuration;
  double GainsBefore[ZM_BAND_COUNT];
  double GainChange[ZM_BAND_COUNT];
  double Air[ZM_BAND_COUNT];

  // The j-th spread arrival.
  void Spread(int32_t j, double& time, double& amplitude, double* gains) const {
    const double f = (j + 0.5) / SpreadDivisions;
    for (int b = 0; b < ZM_BAND_COUNT; ++b)
      gains[b] = (GainChange[b] * f + GainsBefore[b]) * Air[b];
    const double sign = (j % 2 == 0) ? -1.0 : 1.0;
    time = SegmentStart + SegmentDuration * f;
    amplitude = Amplitude * f * sign;
  }
  // How many spread arrivals (of SpreadDivisions) come before the first
  // whose band gains are not all finite.
  int32_t FiniteSpreadCount() const;
};

class TTapApplier {
 public:
  // Applies to `impulse`, which must outlive the applier.
  explicit TTapApplier(TImpulse& impulse);

  TTapApplier(const TTapApplier&) = delete;
  TTapApplier& operator=(const TTapApplier&) = delete;

  // Places the arrivals of `group` (TImpulse::Place, its observer
  // included) into the chunk, applying the chunk when it is full.
  void Add(const TArrivalGroup& group);
  // Applies what the chunk holds.
  void Flush();

 private:
  void Place(double time, double amplitude, const double* gains, int32_t channel);

  TImpulse& impulse_;
  const int32_t chunkSize_;
  const int32_t tapStride_;
  std::vector<TPlacedArrival> chunk_;
  // The taps of the chunk, one row of tapStride_ per arrival, whether each
  // adds anything, and the chunk's arrivals sorted by phase.
  TAlignedDoubles taps_;
  std::vector<uint8_t> adds_;
  std::vector<int32_t> phaseStarts_;
  std::vector<int32_t> byPhase_;
};

}  // namespace zm
