#include "impulse/tap_applier.h"

#include <algorithm>
#include <cmath>

namespace zm {

namespace {

// Arrivals per chunk: enough that most rows of the filter table serve
// several arrivals of the chunk, few enough that the taps of a chunk (one
// row of scratch per arrival) stay near the size of a cache.
constexpr int32_t kScratchDoubles = 1 << 20;
constexpr int32_t kMinChunk = 256;
constexpr int32_t kMaxChunk = 4096;

int32_t ChunkSizeFor(int32_t tapsPerArrival) {
  return std::clamp(kScratchDoubles / tapsPerArrival, kMinChunk, kMaxChunk);
}

}  // namespace

int32_t TArrivalGroup::FiniteSpreadCount() const {
  // With every factor at most 2^510 in size no blend can overflow, and a
  // NaN fails the test: only a runaway material needs the arrivals checked
  // one by one.
  bool moderate = true;
  for (int b = 0; b < ZM_BAND_COUNT; ++b) {
    moderate = moderate && std::fabs(GainsBefore[b]) <= 0x1p510 &&
               std::fabs(GainChange[b]) <= 0x1p510 && std::fabs(Air[b]) <= 0x1p510;
  }
  if (moderate) return SpreadDivisions;
  for (int32_t j = 0; j < SpreadDivisions; ++j) {
    double time, amplitude, gains[ZM_BAND_COUNT];
    Spread(j, time, amplitude, gains);
    for (double gain : gains) {
      if (!std::isfinite(gain)) return j;
    }
  }
  return SpreadDivisions;
}

TTapApplier::TTapApplier(TImpulse& impulse)
    : impulse_(impulse),
      chunkSize_(ChunkSizeFor(impulse.TapsPerArrival())),
      tapStride_(impulse.TapsPerArrival()) {
  chunk_.reserve(static_cast<size_t>(chunkSize_));
  taps_.Reset(static_cast<size_t>(chunkSize_) * tapStride_, false);
  adds_.assign(static_cast<size_t>(chunkSize_), 0);
  phaseStarts_.assign(kFilterPhases + 1, 0);
  byPhase_.assign(static_cast<size_t>(chunkSize_), 0);
}

void TTapApplier::Add(const TArrivalGroup& group) {
  Place(group.Time, group.Amplitude, group.Gains, group.Channel);
  double gains[ZM_BAND_COUNT];
  for (int32_t j = 0; j < group.SpreadCount; ++j) {
    double time, amplitude;
    group.Spread(j, time, amplitude, gains);
    Place(time, amplitude, gains, group.Channel);
  }
}

void TTapApplier::Place(double time, double amplitude, const double* gains, int32_t channel) {
  TPlacedArrival placed;
  if (!impulse_.Place(time, amplitude, gains, channel, placed)) return;
  chunk_.push_back(placed);
  if (static_cast<int32_t>(chunk_.size()) == chunkSize_) Flush();
}

void TTapApplier::Flush() {
  // A counting sort by phase: the taps of equal phases then come one after
  // another while their two table rows are in the cache.
  const int32_t count = static_cast<int32_t>(chunk_.size());
  std::fill(phaseStarts_.begin(), phaseStarts_.end(), 0);
  for (const TPlacedArrival& arrival : chunk_) ++phaseStarts_[arrival.Phase + 1];
  for (int32_t p = 0; p < kFilterPhases; ++p) phaseStarts_[p + 1] += phaseStarts_[p];
  for (int32_t i = 0; i < count; ++i) byPhase_[phaseStarts_[chunk_[i].Phase]++] = i;
  for (int32_t k = 0; k < count; ++k) {
    const int32_t i = byPhase_[k];
    adds_[i] = impulse_.ComputeTaps(chunk_[i], taps_.get() + static_cast<size_t>(i) * tapStride_);
  }
  for (int32_t i = 0; i < count; ++i) {
    if (!adds_[i]) continue;
    const TPlacedArrival& arrival = chunk_[i];
    impulse_.AddTaps(arrival, taps_.get() + static_cast<size_t>(i) * tapStride_, arrival.Start,
                     arrival.Start + impulse_.FilterTaps);
  }
  chunk_.clear();
}

}  // namespace zm
