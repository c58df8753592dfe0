// A readable summary of a design and the problems a render would meet.
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

std::vector<DesignProblem> CheckDesign(const TDesignRecord& record);

// The rays a run of `group` traces (emitters of that group, with the default
// ray count applied).
int64_t RaysInGroup(const TDesignRecord& record, int group);

// Groups that have at least one emitter, in ascending order.
std::vector<int> GroupsWithEmitters(const TDesignRecord& record);

std::string SummariseDesign(const TDesignRecord& record);

// Wall end points and emitter positions in metres.
struct PlanPoint {
  double x = 0, y = 0;
};
bool PointInMetres(const TDesignRecord& record, int32_t slot, PlanPoint& out);

}  // namespace zm::cli
