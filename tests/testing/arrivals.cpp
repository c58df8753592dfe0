#include "arrivals.h"

#include <algorithm>
#include <vector>

namespace zm {

void AddArrival(TImpulse& impulse, double time, double amplitude, const double* gains,
                int32_t channel) {
  // Kept between calls, so that benchmarks time the arrival, not the memory.
  thread_local std::vector<double> taps;
  taps.resize(static_cast<size_t>(impulse.TapsPerArrival()));
  TPlacedArrival placed;
  if (!impulse.Place(time, amplitude, gains, channel, placed)) return;
  if (!impulse.ComputeTaps(placed, taps.data())) return;
  impulse.AddTaps(placed, taps.data(), placed.Start, placed.Start + impulse.FilterTaps);
}

void AddArrival(TAccumulator& accumulator, double time, double amplitude, const double* gains,
                int32_t channel) {
  TArrivalGroup group{};
  group.Time = time;
  group.Amplitude = amplitude;
  std::copy(gains, gains + ZM_BAND_COUNT, group.Gains);
  group.Channel = channel;
  group.SpreadCount = 0;
  accumulator.Add(group);
}

}  // namespace zm
