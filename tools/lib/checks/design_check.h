// What a render of a design would meet: the refusals the engine makes only
// while it runs, and designs that render but probably not as meant (silent
// output, rays lost through gaps, materials that add energy). The engine's
// own refusals at build time come from the engine itself (engine_check.h).
//
// Messages name record slots as the engine does ("Emitter 2: ...",
// "Sample rate ..."), so that one translation turns both into JSON paths.
// Nothing here prints, exits or keeps global state.
#pragma once

#include <string>
#include <vector>

#include "zm/zm.h"

namespace zm::cli {

struct DesignProblem {
  // true: the engine refuses the render; false: it renders, but the result
  // is probably not what was meant.
  bool refusal = false;
  std::string message;
};

// Every group with emitters; otherwise the one group a render traces.
inline constexpr int kEveryGroup = -1;

// Probe rays traced from each emitter to look for gaps and receivers.
inline constexpr int kProbeRays = 256;

std::vector<DesignProblem> CheckDesign(const TDesignRecord& record, int group = kEveryGroup);

}  // namespace zm::cli
