// The engine's own verdict on a design, without tracing it.
#pragma once

#include <string>

#include "zm/zm.h"

namespace zm::cli {

// Lets the engine build the scene and the tracer of `group`, stopping at its
// first progress call: whatever it refuses before tracing, it refuses here.
// Returns its message, or "" when it accepts. Nothing is written: the
// output is a throw-away memory resource, even when the group has no rays
// and the run goes on to render.
std::string EngineRefusal(const TDesignRecord& design, int group);

}  // namespace zm::cli
