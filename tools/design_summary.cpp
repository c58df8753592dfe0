#include "design_summary.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <set>

#include "design_json.h"

namespace zm::cli {

namespace {

// The engine draws seeds from 0 to this value; others it refuses.
constexpr int32_t kMaxRandomSeed = 932541999;
// Sample rates below this one are rendered at this one.
constexpr int32_t kMinSampleRate = 44100;

std::string Printf(const char* format, auto... args) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

double Degrees(double radians) {
  return radians * 180.0 / std::numbers::pi;
}

// The rays an emitter traces: its own count or the design's default.
int32_t EmitterRays(const TDesignRecord& r, const TEmitterEntry& e) {
  return e.UseDefaultRayCount ? r.DefaultRayCount : e.RayCount;
}

bool IsAirMaterial(const TMaterialEntry& m) {
  return m.InUse && NameText(m.Name) == ZM_AIR_MATERIAL_NAME;
}

// ---------------------------------------------------------------------------
// Checks, in the order the report lists them

class ProblemList {
 public:
  void Refuse(std::string message) { problems_.push_back({true, std::move(message)}); }
  void Warn(std::string message) { problems_.push_back({false, std::move(message)}); }
  std::vector<DesignProblem> Take() { return std::move(problems_); }

 private:
  std::vector<DesignProblem> problems_;
};

// Material names must be unique among used slots; walls find them by name.
// Returns the used names.
std::set<std::string> CheckMaterialNames(const TDesignRecord& r, ProblemList& problems) {
  std::map<std::string, int> names;
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    const TMaterialEntry& m = r.Materials[i];
    if (!m.InUse) continue;
    auto [it, inserted] = names.emplace(NameText(m.Name), i);
    if (!inserted) {
      problems.Refuse(Printf("materials %d and %d are both named \"%s\" (Duplicate BBTree item)",
                             it->second, i, NameText(m.Name).c_str()));
    }
  }
  std::set<std::string> used;
  for (const auto& [name, slot] : names) used.insert(name);
  return used;
}

void CheckWall(const TDesignRecord& r, int i, const std::set<std::string>& materialNames,
               ProblemList& problems) {
  const TWallEntry& w = r.Walls[i];
  for (int32_t point : {w.StartPoint, w.EndPoint}) {
    if (point < 0 || point >= ZM_POINT_SLOTS) {
      problems.Refuse(Printf("wall %d: point %d is outside 0 to %d", i, point, ZM_POINT_SLOTS - 1));
    }
  }
  const int32_t material = w.Material;
  if (material < 0 || material >= ZM_MATERIAL_SLOTS) {
    problems.Refuse(
        Printf("wall %d: material slot %d is outside 0 to %d", i, material, ZM_MATERIAL_SLOTS - 1));
  } else if (!materialNames.contains(NameText(r.Materials[material].Name))) {
    problems.Refuse(Printf("wall %d: Material \"%s\" not found", i,
                           NameText(r.Materials[material].Name).c_str()));
  }
  if (w.Receiver && (w.Channel < 0 || w.Channel >= ZM_CHANNEL_COUNT)) {
    problems.Refuse(Printf("wall %d: receiver channel %d is outside 0 to %d", i, w.Channel,
                           ZM_CHANNEL_COUNT - 1));
  }
}

void CheckEmitter(const TDesignRecord& r, int i, ProblemList& problems) {
  const TEmitterEntry& e = r.Emitters[i];
  if (e.Point < 0 || e.Point >= ZM_POINT_SLOTS) {
    problems.Refuse(
        Printf("emitter %d: point %d is outside 0 to %d", i, e.Point, ZM_POINT_SLOTS - 1));
  }
  if (e.Group < 0 || e.Group >= ZM_GROUP_SLOTS) {
    problems.Warn(Printf("emitter %d: group %d is outside 0 to %d and is never traced", i, e.Group,
                         ZM_GROUP_SLOTS - 1));
  }
  if (EmitterRays(r, e) == 1 && !e.RandomDirections) {
    problems.Warn(Printf("emitter %d: a single evenly spaced ray has no defined direction", i));
  }
}

void CheckOutputOptions(const TDesignRecord& r, ProblemList& problems) {
  if (r.RandomSeed < 0 || r.RandomSeed > kMaxRandomSeed) {
    problems.Refuse(
        Printf("random seed %d is outside 0 to %d "
               "(Random number generator parameters out of range)",
               r.RandomSeed, kMaxRandomSeed));
  }
  if (r.FilterLength < 2) problems.Refuse(Printf("filter length %d is below 2", r.FilterLength));
  if (r.BitsPerSample != 8 && r.BitsPerSample != 16 && r.BitsPerSample != 24 &&
      r.BitsPerSample != 32) {
    problems.Refuse(
        Printf("%d bits per sample: only 8, 16, 24 and 32 are written", r.BitsPerSample));
  }
}

// The air is the air material when there is one, else AirAttenuation; a
// negative factor fails the engine's power function.
void CheckAir(const TDesignRecord& r, ProblemList& problems) {
  bool hasAirMaterial = false;
  for (const TMaterialEntry& m : r.Materials) {
    if (!IsAirMaterial(m)) continue;
    hasAirMaterial = true;
    bool negative = m.Reflection < 0;
    for (int b = 0; b < ZM_BAND_COUNT; ++b) negative = negative || m.BandFactors[b] < 0;
    if (negative) {
      problems.Refuse("the \"" ZM_AIR_MATERIAL_NAME
                      "\" material has a negative factor "
                      "(Invalid floating point operation at the first receiver hit)");
    }
  }
  if (!hasAirMaterial && r.AirAttenuation < 0) {
    problems.Refuse("negative air attenuation and no \"" ZM_AIR_MATERIAL_NAME
                    "\" material (Invalid floating point operation)");
  }
}

void CheckFixedGain(const TDesignRecord& r, ProblemList& problems) {
  if (r.GainMode == 0) return;
  double sum = 0;
  for (const TEmitterEntry& e : r.Emitters) {
    if (e.InUse) sum += e.Level * EmitterRays(r, e);
  }
  if (sum == 0) problems.Refuse("fixed gain with no emitter level or rays to normalise by");
}

void CheckForSilence(const TDesignRecord& r, ProblemList& problems) {
  bool receiver = false;
  for (const TWallEntry& w : r.Walls) receiver = receiver || (w.InUse && w.Receiver);
  if (!receiver) problems.Warn("no receiver wall: every render is silent");
  if (GroupsWithEmitters(r).empty()) problems.Warn("no emitter: every render is silent");
  if (!(r.ImpulseLength > 0)) {
    problems.Warn(Printf("impulse length %g s records nothing", r.ImpulseLength));
  }
  if (r.MinAmplitude > 1) problems.Warn("minimum amplitude above 1 ends every ray at once");
}

// ---------------------------------------------------------------------------
// Summary sections

std::string TitleSection(const TDesignRecord& r) {
  const std::string title = NameText(r.Title), comment = NameText(r.Comment);
  std::string out = Printf("Title:    %s\n", title.empty() ? "(none)" : title.c_str());
  if (!comment.empty()) out += Printf("Comment:  %s\n", comment.c_str());
  return out;
}

std::string OutputStart(const TDesignRecord& r) {
  return Printf("%s%s",
                r.TrimToDirect            ? "at the first direct arrival"
                : r.DirectSoundLevel == 0 ? "at the first reflection"
                                          : "at time 0 (travel time kept)",
                r.LeadIn ? Printf(", after a %d-sample lead-in", kLeadInFrames).c_str() : "");
}

std::string OptionsSection(const TDesignRecord& r) {
  const int rate = r.SampleRate < kMinSampleRate ? kMinSampleRate : r.SampleRate;
  std::string out = "\nOptions\n";
  out += Printf("  impulse length   %g s, %d Hz%s, %d-bit%s\n", r.ImpulseLength, rate,
                rate != r.SampleRate ? Printf(" (record says %d)", r.SampleRate).c_str() : "",
                r.BitsPerSample, r.BitsPerSample == 32 ? " float" : "");
  out += Printf("  filter           %d taps, window %d\n", r.FilterLength, r.WindowType);
  out += Printf("  rays             stop below amplitude %g; default ray count %d; seed %d\n",
                r.MinAmplitude, r.DefaultRayCount, r.RandomSeed);
  out += Printf("  air              %g per metre; coordinates x %g = metres\n", r.AirAttenuation,
                r.CoordinateScale);
  out += Printf("  diffuse tail     %d extra arrivals per late reflection\n", r.SubArrivals);
  out += Printf("  direct sound     %s\n", r.DirectSoundLevel == 0
                                               ? "not recorded"
                                               : Printf("level %d", r.DirectSoundLevel).c_str());
  out += Printf("  output starts    %s\n", OutputStart(r).c_str());
  out += Printf("  gain             %s\n",
                r.GainMode == 0 ? "normalised to 0.995 of full scale"
                                : Printf("fixed, %g dB", r.FixedGainDb + 48.0).c_str());
  out += Printf("  stereo           width %g, balance %g\n", r.StereoWidth, r.Balance);
  return out;
}

std::string MaterialsSection(const TDesignRecord& r) {
  std::map<int, int> wallsPerMaterial;
  for (const TWallEntry& w : r.Walls) {
    if (w.InUse) ++wallsPerMaterial[int(w.Material)];
  }
  std::string out = "\nMaterials\n";
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    const TMaterialEntry& m = r.Materials[i];
    if (!m.InUse) continue;
    std::string bands;
    for (int b = 0; b < ZM_BAND_COUNT; ++b) bands += Printf(b ? " %.2f" : "%.2f", m.BandFactors[b]);
    out += Printf("  [%2d] %-24s reflection %.3f  scatter %5.1f deg  bands %s  (%d walls)\n", i,
                  std::string(1, '"').append(NameText(m.Name)).append(1, '"').c_str(), m.Reflection,
                  Degrees(m.Scatter), bands.c_str(), wallsPerMaterial[i]);
  }
  return out;
}

std::string ReceiverLine(int i, const TWallEntry& w, const PlanPoint& a, const PlanPoint& b) {
  const char* patterns[] = {"omni", "w 0.25", "w 0.5 (cardioid)", "w 0.75", "w 1 (figure-8)"};
  const char* pattern = (w.Pattern >= 1 && w.Pattern <= 4) ? patterns[w.Pattern] : patterns[0];
  return Printf(
      "  receiver wall %d: channel %d, gain %g, %s%s, from (%.2f, %.2f) to (%.2f, %.2f) m\n", i,
      w.Channel, w.Gain, pattern, w.PassThrough ? ", pass-through" : "", a.x, a.y, b.x, b.y);
}

// One line per receiver, then the totals and the extent of the plan.
std::string WallsSection(const TDesignRecord& r) {
  std::string out = "\nWalls\n";
  int walls = 0, receivers = 0, passThrough = 0;
  double length = 0;
  PlanBox box;
  for (int i = 0; i < ZM_WALL_SLOTS; ++i) {
    const TWallEntry& w = r.Walls[i];
    if (!w.InUse) continue;
    ++walls;
    PlanPoint a, b;
    if (PointInMetres(r, w.StartPoint, a) && PointInMetres(r, w.EndPoint, b)) {
      length += std::hypot(b.x - a.x, b.y - a.y);
      box.Extend(a);
      box.Extend(b);
    }
    if (w.PassThrough) ++passThrough;
    if (w.Receiver) {
      ++receivers;
      out += ReceiverLine(i, w, a, b);
    }
  }
  out += Printf("  %d walls (%d receivers, %d pass-through), %.1f m in all", walls, receivers,
                passThrough, length);
  if (walls > 0 && !box.Empty()) out += Printf("; plan %.1f m x %.1f m", box.Width(), box.Height());
  return out + "\n";
}

std::string EmittersSection(const TDesignRecord& r) {
  std::string out = "\nEmitters\n";
  for (int i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    const TEmitterEntry& e = r.Emitters[i];
    if (!e.InUse) continue;
    PlanPoint p;
    PointInMetres(r, e.Point, p);
    out += Printf(
        "  [%d] at (%.2f, %.2f) m, facing %.1f deg, fan %.1f deg, %d %s rays%s, level %g, "
        "group %d\n",
        i, p.x, p.y, Degrees(e.Direction), Degrees(e.Spread), EmitterRays(r, e),
        e.RandomDirections ? "random" : "evenly spaced",
        e.UseDefaultRayCount ? " (default count)" : "", e.Level, e.Group);
  }
  return out;
}

std::string GroupsSection(const TDesignRecord& r) {
  std::string out = "\nGroups\n";
  for (int g : GroupsWithEmitters(r)) {
    if (g < 0 || g >= ZM_GROUP_SLOTS) continue;
    const std::string name = NameText(r.Groups[g].Name);
    out += Printf("  group %d %-24s %lld rays  (zm render --group %d)\n", g,
                  name.empty() ? "(no name)" : ("\"" + name + "\"").c_str(),
                  static_cast<long long>(RaysInGroup(r, g)), g);
  }
  return out;
}

std::string ChecksSection(const TDesignRecord& r) {
  std::string out = "\nChecks\n";
  const std::vector<DesignProblem> problems = CheckDesign(r);
  if (problems.empty()) out += "  no problems found\n";
  for (const DesignProblem& p : problems) {
    out += Printf("  %s: %s\n", p.refusal ? "refused" : "warning", p.message.c_str());
  }
  return out;
}

}  // namespace

void PlanBox::Extend(const PlanPoint& p) {
  minX = std::min(minX, p.x);
  maxX = std::max(maxX, p.x);
  minY = std::min(minY, p.y);
  maxY = std::max(maxY, p.y);
}

bool PointInMetres(const TDesignRecord& r, int32_t slot, PlanPoint& out) {
  if (slot < 0 || slot >= ZM_POINT_SLOTS) return false;
  out.x = r.Points[slot].X * r.CoordinateScale;
  out.y = r.Points[slot].Y * r.CoordinateScale;
  return true;
}

int64_t RaysInGroup(const TDesignRecord& r, int group) {
  int64_t total = 0;
  for (const TEmitterEntry& e : r.Emitters) {
    if (!e.InUse || e.Group != group) continue;
    const int32_t rays = EmitterRays(r, e);
    if (rays > 0) total += rays;
  }
  return total;
}

std::vector<int> GroupsWithEmitters(const TDesignRecord& r) {
  std::set<int> groups;
  for (const TEmitterEntry& e : r.Emitters) {
    if (e.InUse) groups.insert(int(e.Group));
  }
  return {groups.begin(), groups.end()};
}

std::vector<DesignProblem> CheckDesign(const TDesignRecord& r) {
  ProblemList problems;
  const std::set<std::string> materialNames = CheckMaterialNames(r, problems);
  for (int i = 0; i < ZM_WALL_SLOTS; ++i) {
    if (r.Walls[i].InUse) CheckWall(r, i, materialNames, problems);
  }
  for (int i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    if (r.Emitters[i].InUse) CheckEmitter(r, i, problems);
  }
  CheckOutputOptions(r, problems);
  CheckAir(r, problems);
  CheckFixedGain(r, problems);
  CheckForSilence(r, problems);
  return problems.Take();
}

std::string SummariseDesign(const TDesignRecord& r) {
  return TitleSection(r) + OptionsSection(r) + MaterialsSection(r) + WallsSection(r) +
         EmittersSection(r) + GroupsSection(r) + ChecksSection(r);
}

}  // namespace zm::cli
