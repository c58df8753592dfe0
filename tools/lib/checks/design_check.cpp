#include "lib/checks/design_check.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>

#include "lib/base/text.h"
#include "lib/checks/design_summary.h"
#include "lib/design/design_json.h"
#include "lib/design/room_geometry.h"

namespace zm::cli {

namespace {

// More probe rays for a group whose first ones met no receiver, before it
// is called silent: small microphones in large rooms are easy to miss.
constexpr int kReachProbeRays = 4096;
// The share of probe rays that may slip out of a closed room unremarked.
constexpr double kJointLeakShare = 0.05;

bool IsAirMaterial(const TMaterialEntry& m) {
  return m.InUse && NameText(m.Name) == ZM_AIR_MATERIAL_NAME;
}

class ProblemList {
 public:
  void Refuse(std::string message) { problems_.push_back({true, std::move(message)}); }
  void Warn(std::string message) { problems_.push_back({false, std::move(message)}); }
  std::vector<DesignProblem> Take() { return std::move(problems_); }

 private:
  std::vector<DesignProblem> problems_;
};

// ---------------------------------------------------------------------------
// Refusals the engine makes only once it runs

// A negative air factor fails the engine's power function at the first
// receiver hit, after tracing has begun.
void CheckAir(const TDesignRecord& r, ProblemList& problems) {
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    const TMaterialEntry& m = r.Materials[i];
    if (!IsAirMaterial(m)) continue;
    bool negative = m.Reflection < 0;
    for (int b = 0; b < ZM_BAND_COUNT; ++b) negative = negative || m.BandFactors[b] < 0;
    if (negative) {
      problems.Refuse(Printf(
          "Material %d: the air has a negative factor: the render fails at the first receiver "
          "hit (Invalid floating point operation)",
          i));
    }
  }
}

// The fixed gain divides by the emitters' levels times their rays, once
// tracing is over.
void CheckFixedGain(const TDesignRecord& r, ProblemList& problems) {
  if (r.GainMode == 0) return;
  double sum = 0;
  for (const TEmitterEntry& e : r.Emitters) {
    if (e.InUse) sum += e.Level * (e.UseDefaultRayCount ? r.DefaultRayCount : e.RayCount);
  }
  if (sum == 0) {
    problems.Refuse(
        "Fixed gain: no emitter has a level and rays to normalise by (Fixed gain needs emitters "
        "with a nonzero level and ray count)");
  }
}

// ---------------------------------------------------------------------------
// Designs that render, but not as meant

void CheckOptions(const TDesignRecord& r, ProblemList& problems) {
  if (r.SampleRate < ZM_MIN_SAMPLE_RATE) {
    problems.Warn(Printf("Sample rate %d Hz is below %d Hz: the engine renders at %d Hz",
                         r.SampleRate, ZM_MIN_SAMPLE_RATE, ZM_MIN_SAMPLE_RATE));
  }
  if (!(r.ImpulseLength > 0)) {
    problems.Warn(
        Printf("Impulse length %g s records nothing: the output is silent", r.ImpulseLength));
  }
  if (r.MinAmplitude > 1) {
    problems.Warn(
        Printf("Minimum amplitude %g is above 1: every ray ends at once and the "
               "output is silent",
               r.MinAmplitude));
  }
}

// Materials walls use that give back more than they get.
void CheckMaterialGains(const TDesignRecord& r, ProblemList& problems) {
  std::map<int, bool> used;
  for (const TWallEntry& w : r.Walls) {
    const int32_t material = w.Material;  // packed: copied, not bound
    if (w.InUse && material >= 0 && material < ZM_MATERIAL_SLOTS) used[material] = true;
  }
  for (const auto& [i, _] : used) {
    const TMaterialEntry& m = r.Materials[i];
    if (!m.InUse || IsAirMaterial(m)) continue;
    if (m.Reflection > 1) {
      problems.Warn(
          Printf("Material %d: reflection %g is above 1: every hit adds energy and "
                 "the tail grows instead of decaying",
                 i, m.Reflection));
      continue;
    }
    for (int b = 0; b < ZM_BAND_COUNT; ++b) {
      if (std::fabs(m.Reflection * m.BandFactors[b]) > 1) {
        problems.Warn(
            Printf("Material %d: band factor %d times the reflection is above 1: every "
                   "hit adds energy in that band",
                   i, b));
        break;
      }
    }
  }
}

void CheckEmitters(const TDesignRecord& r, int group, ProblemList& problems) {
  for (int i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    const TEmitterEntry& e = r.Emitters[i];
    if (!e.InUse || (group != kEveryGroup && e.Group != group)) continue;
    const int32_t rays = e.UseDefaultRayCount ? r.DefaultRayCount : e.RayCount;
    if (e.Group < 0 || e.Group >= ZM_GROUP_SLOTS) {
      problems.Warn(Printf("Emitter %d: group %d is outside 0 to %d and is never traced", i,
                           e.Group, ZM_GROUP_SLOTS - 1));
    }
    if (rays <= 0) {
      problems.Warn(Printf("Emitter %d: ray count %d: it sends no rays", i, rays));
    } else if (rays == 1 && !e.RandomDirections) {
      problems.Warn(Printf("Emitter %d: a single evenly spaced ray has no defined direction", i));
    }
  }
}

// The groups a render (or every render) traces, and whether they can sound.
void CheckGroups(const TDesignRecord& r, int group, ProblemList& problems) {
  const std::vector<int> sounding = GroupsWithEmitters(r);
  auto warnSilent = [&](int g) {
    if (RaysInGroup(r, g) > 0) return;
    const bool hasEmitters = std::find(sounding.begin(), sounding.end(), g) != sounding.end();
    problems.Warn(Printf("Group %d: %s: the output is silent", g,
                         hasEmitters ? "its emitters send no rays" : "no emitter"));
  };
  if (group != kEveryGroup) return warnSilent(group);
  if (sounding.empty()) problems.Warn("No emitter: every render is silent");
  for (int g : sounding) warnSilent(g);
  for (int g = 0; g < ZM_GROUP_SLOTS; ++g) {
    // Named groups that nothing sounds in; group 0 is named by default.
    const TGroupEntry& entry = r.Groups[g];
    if (!entry.InUse || NameText(entry.Name) == "** Default **") continue;
    if (std::find(sounding.begin(), sounding.end(), g) == sounding.end()) {
      problems.Warn(Printf("Group %d: no emitter: rendering it gives a silent file", g));
    }
  }
}

// Where an escaping probe ray was last seen, for the messages.
std::string EscapeText(const ProbeResult& probe) {
  return Printf("the first leaves after %d reflection%s, from (%.2f, %.2f) m heading %.0f deg",
                probe.escapeReflections, probe.escapeReflections == 1 ? "" : "s", probe.escapeX,
                probe.escapeY,
                std::remainder(probe.escapeAngle, 2 * std::numbers::pi) * 180 / std::numbers::pi);
}

// Probe rays and the enclosure grid: gaps in the walls, emitters outside
// the room, groups whose sound reaches no receiver.
void CheckGeometry(const TDesignRecord& r, int group, ProblemList& problems) {
  const Plan plan = PlanOf(r);
  bool receiver = false;
  for (const PlanSegment& w : plan.walls) receiver = receiver || w.receiver;
  if (!receiver) problems.Warn("No receiver wall: every render is silent");
  const EnclosureGrid grid(plan);
  const bool anyRoom = grid.EnclosesAnything();
  if (!anyRoom && !plan.emitters.empty()) {
    problems.Warn("The walls enclose no room: rays leave through the gaps between them");
  }
  std::map<int, int> reachedByGroup, sourcesByGroup;
  for (const PlanSource& e : plan.emitters) {
    if ((group != kEveryGroup && e.group != group) || e.rays <= 0) continue;
    ++sourcesByGroup[e.group];
    const bool enclosed = grid.Enclosed(e.x, e.y);
    if (anyRoom && !enclosed) {
      problems.Warn(
          Printf("Emitter %d: at (%.2f, %.2f) m it lies outside every enclosure of "
                 "reflecting walls",
                 e.slot, e.x, e.y));
    }
    ProbeResult probe = ProbeEmitter(plan, e, kProbeRays);
    if (!enclosed && probe.escaped > 0) {
      problems.Warn(Printf("Emitter %d: %d of %d probe rays leave the room (%s)", e.slot,
                           probe.escaped, probe.rays, EscapeText(probe).c_str()));
    } else if (probe.escaped > probe.rays * kJointLeakShare) {
      // In a closed room rays can still slip through a joint where two walls
      // nearly (or, by rounding, just) meet; a few are of no consequence.
      problems.Warn(
          Printf("Emitter %d: %d of %d probe rays slip out where walls (nearly) meet: "
                 "close the joints (%s)",
                 e.slot, probe.escaped, probe.rays, EscapeText(probe).c_str()));
    }
    if (receiver && probe.reached == 0) probe = ProbeEmitter(plan, e, kReachProbeRays);
    reachedByGroup[e.group] += probe.reached;
  }
  if (!receiver) return;
  for (const auto& [g, sources] : sourcesByGroup) {
    if (reachedByGroup[g] == 0) {
      problems.Warn(
          Printf("Group %d: none of the probe rays of its %d emitter%s reaches a "
                 "receiver before the impulse ends: the output is probably silent",
                 g, sources, sources == 1 ? "" : "s"));
    }
  }
}

}  // namespace

std::vector<DesignProblem> CheckDesign(const TDesignRecord& r, int group) {
  ProblemList problems;
  CheckAir(r, problems);
  CheckFixedGain(r, problems);
  CheckOptions(r, problems);
  CheckMaterialGains(r, problems);
  CheckEmitters(r, group, problems);
  CheckGroups(r, group, problems);
  CheckGeometry(r, group, problems);
  return problems.Take();
}

}  // namespace zm::cli
