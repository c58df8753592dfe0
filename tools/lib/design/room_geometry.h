// The plan of a design as the tracer sees it, in metres, and what can be
// learnt from it without running the engine: probe rays that find leaks and
// the receivers sound reaches, the enclosures of the plan, and the area and
// perimeter of the room around the emitters for a reverberation estimate.
//
// Nothing here prints, exits or keeps global state.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "zm/zm.h"

namespace zm::cli {

inline constexpr double kSpeedOfSound = 344.0;  // m/s, as the engine has it

struct PlanSegment {
  int slot = 0;  // the wall's slot in the record
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool passThrough = false, receiver = false;
  int material = -1;  // slot of its material when that slot is in use, else -1
  double reflection = 1, scatter = 0;
  double Length() const;
};

struct PlanSource {
  int slot = 0;  // the emitter's slot in the record
  double x = 0, y = 0, direction = 0, spread = 0;
  int32_t rays = 0;  // with the design's default applied
  int32_t group = 0;
  bool randomDirections = false;
};

// The walls and emitters the engine would build, in slot order; entries
// whose points lie outside the points table or are not finite numbers are
// left out (the engine refuses those designs anyway).
struct Plan {
  std::vector<PlanSegment> walls;
  std::vector<PlanSource> emitters;
  double maxDistance = 0;   // metres a ray travels before the impulse ends
  double minAmplitude = 0;  // a ray weaker than this ends
};

Plan PlanOf(const TDesignRecord& record);

// The wall a ray from (x, y) at `angle` meets first, ignoring wall index
// `excluded` (an index into plan.walls, or -1); -1 when it meets none.
struct RayHit {
  int wall = -1;
  double x = 0, y = 0, distance = 0;
};
RayHit NearestHit(const Plan& plan, double x, double y, double angle, int excluded);

// What probe rays, traced from one emitter as the engine traces its rays
// (evenly over its fan, mirror reflection blurred by the material's scatter,
// through pass-through walls, until too weak or too late), found.
struct ProbeResult {
  int rays = 0;
  int escaped = 0;  // met no wall before they ended: lost through a gap or outwards
  int reached = 0;  // met a receiver wall before they ended
  // Where the first escaping ray was last seen, heading where, and after how
  // many reflections.
  double escapeX = 0, escapeY = 0, escapeAngle = 0;
  int escapeReflections = 0;
};
ProbeResult ProbeEmitter(const Plan& plan, const PlanSource& source, int rays);

// The direct sound of an emitter at a receiver wall: the rays of its fan
// that meet the receiver before any reflection add up in phase, each scaled
// by the emitter's normalisation g = 10^(-0.15 (log2 N - L)), while
// reflections add up in energy. `level` is the DirectSoundLevel L (not
// rounded) at which the direct energy (k g)^2 equals k, what k rays of unit
// energy carry, so that the direct-to-reverberant ratio is the physical one.
// Each step of L away from it changes that ratio by 3 dB.
struct DirectReach {
  double rays = 0;      // k: rays of the fan expected to meet the receiver
  double level = 0;     // log2 N - (10/3) log10 k
  double distance = 0;  // to the receiver's middle, metres
};
// Nothing when the receiver is outside the fan or behind a reflecting wall.
// `receiver` indexes plan.walls.
std::optional<DirectReach> DirectReachOf(const Plan& plan, const PlanSource& source, int receiver);

// The one level a design can have, chosen for the first receiver (in wall
// order) that an emitter of `group` reaches directly and the nearest such
// emitter; rounded, never 0 (which would record no direct sound).
struct DirectLevelChoice {
  int emitter = -1, receiver = -1;  // indices into plan.emitters, plan.walls
  DirectReach reach;
  int32_t level = 1;
};
std::optional<DirectLevelChoice> ChooseDirectLevel(const Plan& plan, int group);

// The plan on a grid of square cells, walls that reflect as barriers, and
// the region of free cells reachable from given points: what is enclosed.
class EnclosureGrid {
 public:
  explicit EnclosureGrid(const Plan& plan);

  // True when the region around (x, y) is closed on all sides by walls
  // that reflect, at the grid's resolution.
  bool Enclosed(double x, double y) const;
  // True when the walls enclose any region at all.
  bool EnclosesAnything() const;

  // Area (m²) of the union of the regions around the points, and the
  // length of wall faces (m) that border it: a wall inside the region
  // counts with both faces, an outside wall with the face towards the
  // region. `faceLength[i]` is that length for plan.walls[i].
  struct Region {
    bool closed = false;  // none of the regions reaches the outside
    double area = 0;
    std::vector<double> faceLength;
  };
  Region RegionAround(const std::vector<std::pair<double, double>>& points) const;

 private:
  int Index(int column, int row) const { return row * columns_ + column; }
  bool CellOf(double x, double y, int& column, int& row) const;
  std::vector<uint8_t> Flood(const std::vector<int>& seeds) const;

  const Plan& plan_;
  double originX_ = 0, originY_ = 0, cell_ = 1;
  int columns_ = 0, rows_ = 0;
  std::vector<uint8_t> blocked_;
  std::vector<uint8_t> outside_;  // reachable from the grid's border
};

}  // namespace zm::cli
