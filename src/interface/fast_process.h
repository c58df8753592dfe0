// Fast mode: the same room as ZM_process, traced for speed rather than for
// the exact bytes. Not one of libzm's exports; front ends reach it through
// the tool library (libzmtool), which links the static core.
#pragma once

#include <cstdint>

#include "zm/zm.h"

namespace zm {

// A plan extruded between a flat floor and a flat ceiling; the materials are
// as the design gives them (record values, not folded into the air).
struct TFastHeight {
  double Height = 0;  // m, finite and above 0
  TMaterialEntry Floor{}, Ceiling{};
};

// Traces emitter group `group` of `design` in fast mode and writes the
// impulse response to `outputFile`, with everything ZM_process promises: the
// same refusals and messages in `error`, the same abort byte and progress
// calls, no file on abort or failure. `height` null traces the plan alone
// (the exact path's room); otherwise the plan is a room of that height.
// The same design, seed and height give the same bytes on any machine,
// thread count and SIMD path. Failures go to `error`; only a thread's
// forced unwind (pthread_exit or cancellation from the callback) passes
// through, as it does through ZM_process.
void ProcessFast(const TDesignRecord* design, const TFastHeight* height, const char* outputFile,
                 TErrorRecord* error, uint8_t* abortFlag, TProgressCallback progress,
                 void* userData, int32_t group);

}  // namespace zm
