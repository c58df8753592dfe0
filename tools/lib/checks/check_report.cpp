#include "lib/checks/check_report.h"

#include <algorithm>

#include "lib/checks/design_summary.h"
#include "lib/checks/engine_check.h"
#include "lib/checks/engine_messages.h"

namespace zm::cli {

bool CheckOutcome::Refused() const {
  return std::any_of(problems.begin(), problems.end(),
                     [](const DesignProblem& p) { return p.refusal; });
}

bool CheckOutcome::Warned() const {
  return std::any_of(problems.begin(), problems.end(),
                     [](const DesignProblem& p) { return !p.refusal; });
}

int CheckOutcome::ExitCode(bool strict) const {
  if (Refused()) return kExitRefused;
  return strict && Warned() ? kExitWarnings : kExitClean;
}

CheckOutcome RunChecks(const TDesignRecord& design, const JsonOrigins* origins, int group) {
  CheckOutcome outcome;
  auto add = [&](DesignProblem problem) {
    problem.message = DescribeForUser(problem.message, design, origins);
    const bool repeated =
        std::any_of(outcome.problems.begin(), outcome.problems.end(),
                    [&](const DesignProblem& p) { return p.message == problem.message; });
    if (!repeated) outcome.problems.push_back(problem);
  };
  // The engine builds every group's tracer the same but for its emitters.
  std::vector<int> groups{group};
  if (group == kEveryGroup) {
    groups.clear();
    for (int g : GroupsWithEmitters(design)) {
      if (g >= 0 && g < ZM_GROUP_SLOTS) groups.push_back(g);
    }
    if (groups.empty()) groups.push_back(0);
  }
  for (int g : groups) {
    const std::string refusal = EngineRefusal(design, g);
    if (!refusal.empty()) add({true, refusal});
  }
  for (const DesignProblem& problem : CheckDesign(design, group)) add(problem);
  std::stable_partition(outcome.problems.begin(), outcome.problems.end(),
                        [](const DesignProblem& p) { return p.refusal; });
  return outcome;
}

std::string FormatChecks(const CheckOutcome& outcome, const std::string& indent) {
  if (outcome.problems.empty()) return indent + "no problems found\n";
  std::string out;
  for (const DesignProblem& p : outcome.problems) {
    out += indent + (p.refusal ? "refused: " : "warning: ") + p.message + "\n";
  }
  return out;
}

}  // namespace zm::cli
