// One arrival at a time, the plain way the accumulator's batches must
// match: placed, its taps computed, and added over all its samples.
#pragma once

#include <cstdint>

#include "impulse/accumulator.h"
#include "impulse/impulse.h"

namespace zm {

// Adds one arrival (time in seconds from emission, signed amplitude, the
// linear gains at the eight band frequencies, output channel 0..7) to
// `impulse`. Arrivals that Place drops, or whose taps overflow the double
// range, add nothing.
void AddArrival(TImpulse& impulse, double time, double amplitude, const double* gains,
                int32_t channel);

// Hands the same arrival to `accumulator`, as a group of its own.
void AddArrival(TAccumulator& accumulator, double time, double amplitude, const double* gains,
                int32_t channel);

}  // namespace zm
