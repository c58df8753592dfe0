// `zm check`, the checks of `zm info` and the ones before a render: the
// engine's own refusal, then CheckDesign's findings, in the user's terms.
#pragma once

#include <string>
#include <vector>

#include "lib/checks/design_check.h"
#include "lib/design/design_json.h"
#include "zm/zm.h"

namespace zm::cli {

// Exit codes of a check (2 is the usage error of every command).
inline constexpr int kExitClean = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitWarnings = 3;  // only under --strict

struct CheckOutcome {
  std::vector<DesignProblem> problems;  // refusals first
  bool Refused() const;
  bool Warned() const;
  // kExitRefused, else kExitWarnings when `strict` and there are warnings,
  // else kExitClean.
  int ExitCode(bool strict) const;
};

// `group`: kEveryGroup, or the one group a render traces. `origins` null
// for designs from design files.
CheckOutcome RunChecks(const TDesignRecord& design, const JsonOrigins* origins, int group);

// One line per problem, "  refused: ..." or "  warning: ..."; "  no problems
// found" when there are none. Each line starts with `indent`.
std::string FormatChecks(const CheckOutcome& outcome, const std::string& indent = "  ");

}  // namespace zm::cli
