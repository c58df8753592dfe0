// A readable summary of a design.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "zm/zm.h"

namespace zm::cli {

// The rays a run of `group` traces (emitters of that group, with the default
// ray count applied).
int64_t RaysInGroup(const TDesignRecord& record, int group);

// Groups that have at least one emitter, in ascending order.
std::vector<int> GroupsWithEmitters(const TDesignRecord& record);

// The report of `zm info`: options, materials, walls, emitters and groups,
// then a reverberation estimate.
std::string SummariseDesign(const TDesignRecord& record);

// Per emitter and receiver wall reached directly: the DirectSoundLevel that
// makes the direct-to-reverberant energy ratio physical and the error of the
// design's level and of the level `zm render --physical-direct` picks for
// the emitter's group; then the picks, and what diffuse arrivals add to the
// late energy.
std::string DirectLevelSection(const TDesignRecord& record);

// Wall end points and emitter positions in metres.
struct PlanPoint {
  double x = 0, y = 0;
};
// False, leaving `out` as it was, when `slot` is outside the points table.
bool PointInMetres(const TDesignRecord& record, int32_t slot, PlanPoint& out);

// The smallest box holding the points it was extended by (NaN coordinates
// leave it as it was).
struct PlanBox {
  double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
  void Extend(const PlanPoint& p);
  bool Empty() const { return !(minX <= maxX); }
  double Width() const { return maxX - minX; }
  double Height() const { return maxY - minY; }
};

}  // namespace zm::cli
