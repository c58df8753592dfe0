// Fast mode for a design as the tool makes it: the engine's fast tracer
// takes the plan and the height apart, where the exact path takes the
// record with its floor and ceiling folded into the air.
#pragma once

#include <cstdint>

#include "zm/zm.h"

namespace zm::cli {

// Renders `design` in fast mode, with ZM_process's arguments and promises:
// a design with an intact height is traced as a room of that height with
// its floor and ceiling as given; any other record in plan. Failures go to
// `error`; only a forced unwind from the callback passes through.
void ProcessFastDesign(const TDesignRecord* design, const char* outputFile, TErrorRecord* error,
                       uint8_t* abortFlag, TProgressCallback progress, void* userData,
                       int32_t group);

}  // namespace zm::cli
