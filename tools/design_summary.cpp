#include "design_summary.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <set>

#include "design_json.h"

namespace zm::cli {

namespace {

constexpr const char* kAirName = "** AIR **";

std::string Printf(const char* format, auto... args) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

std::string Name(const char* field) {
  return FieldText(field, ZM_NAME_LENGTH);
}

double Degrees(double radians) {
  return radians * 180.0 / std::numbers::pi;
}

bool HasUsedMaterial(const TDesignRecord& r, const std::string& name) {
  for (const TMaterialEntry& m : r.Materials) {
    if (m.InUse && Name(m.Name) == name) return true;
  }
  return false;
}

}  // namespace

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
    const int32_t rays = e.UseDefaultRayCount ? r.DefaultRayCount : e.RayCount;
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
  std::vector<DesignProblem> problems;
  auto refuse = [&](std::string message) { problems.push_back({true, std::move(message)}); };
  auto warn = [&](std::string message) { problems.push_back({false, std::move(message)}); };

  // Material names must be unique among used slots; walls find them by name.
  std::map<std::string, int> names;
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    const TMaterialEntry& m = r.Materials[i];
    if (!m.InUse) continue;
    auto [it, inserted] = names.emplace(Name(m.Name), i);
    if (!inserted) {
      refuse(Printf("materials %d and %d are both named \"%s\" (Duplicate BBTree item)", it->second,
                    i, Name(m.Name).c_str()));
    }
  }

  int receivers = 0;
  for (int i = 0; i < ZM_WALL_SLOTS; ++i) {
    const TWallEntry& w = r.Walls[i];
    if (!w.InUse) continue;
    for (int32_t point : {w.StartPoint, w.EndPoint}) {
      if (point < 0 || point >= ZM_POINT_SLOTS) {
        refuse(Printf("wall %d: point %d is outside 0 to %d", i, point, ZM_POINT_SLOTS - 1));
      }
    }
    const int32_t material = w.Material;
    if (material < 0 || material >= ZM_MATERIAL_SLOTS) {
      refuse(Printf("wall %d: material slot %d is outside 0 to %d", i, material,
                    ZM_MATERIAL_SLOTS - 1));
    } else if (!names.contains(Name(r.Materials[material].Name))) {
      refuse(Printf("wall %d: Material \"%s\" not found", i,
                    Name(r.Materials[material].Name).c_str()));
    }
    if (w.Receiver) {
      ++receivers;
      if (w.Channel < 0 || w.Channel > 7) {
        refuse(Printf("wall %d: receiver channel %d is outside 0 to 7", i, w.Channel));
      }
    }
  }
  for (int i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    const TEmitterEntry& e = r.Emitters[i];
    if (!e.InUse) continue;
    if (e.Point < 0 || e.Point >= ZM_POINT_SLOTS) {
      refuse(Printf("emitter %d: point %d is outside 0 to %d", i, e.Point, ZM_POINT_SLOTS - 1));
    }
    if (e.Group < 0 || e.Group >= ZM_GROUP_SLOTS) {
      warn(Printf("emitter %d: group %d is outside 0 to 63 and is never traced", i, e.Group));
    }
    const int32_t rays = e.UseDefaultRayCount ? r.DefaultRayCount : e.RayCount;
    if (rays == 1 && !e.RandomDirections) {
      warn(Printf("emitter %d: a single evenly spaced ray has no defined direction", i));
    }
  }
  if (r.RandomSeed < 0 || r.RandomSeed > 932541999) {
    refuse(
        Printf("random seed %d is outside 0 to 932541999 "
               "(Random number generator parameters out of range)",
               r.RandomSeed));
  }
  if (r.FilterLength < 2) refuse(Printf("filter length %d is below 2", r.FilterLength));
  if (r.BitsPerSample != 8 && r.BitsPerSample != 16 && r.BitsPerSample != 24 &&
      r.BitsPerSample != 32) {
    refuse(Printf("%d bits per sample: only 8, 16, 24 and 32 are written", r.BitsPerSample));
  }
  if (!HasUsedMaterial(r, kAirName)) {
    if (r.AirAttenuation < 0) {
      refuse(
          "negative air attenuation and no \"** AIR **\" material "
          "(Invalid floating point operation)");
    }
  } else {
    for (const TMaterialEntry& m : r.Materials) {
      if (!m.InUse || Name(m.Name) != kAirName) continue;
      bool negative = m.Reflection < 0;
      for (int b = 0; b < ZM_BAND_COUNT; ++b) negative = negative || m.BandFactors[b] < 0;
      if (negative) {
        refuse(
            "the \"** AIR **\" material has a negative factor "
            "(Invalid floating point operation at the first receiver hit)");
      }
    }
  }
  if (r.GainMode != 0) {
    double sum = 0;
    for (const TEmitterEntry& e : r.Emitters) {
      if (e.InUse) sum += e.Level * (e.UseDefaultRayCount ? r.DefaultRayCount : e.RayCount);
    }
    if (sum == 0) refuse("fixed gain with no emitter level or rays to normalise by");
  }
  if (receivers == 0) warn("no receiver wall: every render is silent");
  if (GroupsWithEmitters(r).empty()) warn("no emitter: every render is silent");
  if (!(r.ImpulseLength > 0)) warn(Printf("impulse length %g s records nothing", r.ImpulseLength));
  if (r.MinAmplitude > 1) warn("minimum amplitude above 1 ends every ray at once");
  return problems;
}

std::string SummariseDesign(const TDesignRecord& r) {
  std::string out;
  auto add = [&](const std::string& s) { out += s; };
  add(Printf("Title:    %s\n", Name(r.Title).empty() ? "(none)" : Name(r.Title).c_str()));
  if (!Name(r.Comment).empty()) add(Printf("Comment:  %s\n", Name(r.Comment).c_str()));

  const int rate = r.SampleRate < 44100 ? 44100 : r.SampleRate;
  add("\nOptions\n");
  add(Printf("  impulse length   %g s, %d Hz%s, %d-bit%s\n", r.ImpulseLength, rate,
             rate != r.SampleRate ? Printf(" (record says %d)", r.SampleRate).c_str() : "",
             r.BitsPerSample, r.BitsPerSample == 32 ? " float" : ""));
  add(Printf("  filter           %d taps, window %d\n", r.FilterLength, r.WindowType));
  add(Printf("  rays             stop below amplitude %g; default ray count %d; seed %d\n",
             r.MinAmplitude, r.DefaultRayCount, r.RandomSeed));
  add(Printf("  air              %g per metre; coordinates x %g = metres\n", r.AirAttenuation,
             r.CoordinateScale));
  add(Printf("  diffuse tail     %d extra arrivals per late reflection\n", r.SubArrivals));
  add(Printf("  direct sound     %s\n", r.DirectSoundLevel == 0
                                            ? "not recorded"
                                            : Printf("level %d", r.DirectSoundLevel).c_str()));
  add(Printf("  output starts    %s%s\n",
             r.TrimToDirect            ? "at the first direct arrival"
             : r.DirectSoundLevel == 0 ? "at the first reflection"
                                       : "at time 0 (travel time kept)",
             r.LeadIn ? ", after a 512-sample lead-in" : ""));
  add(Printf("  gain             %s\n",
             r.GainMode == 0 ? "normalised to 0.995 of full scale"
                             : Printf("fixed, %g dB", r.FixedGainDb + 48.0).c_str()));
  add(Printf("  stereo           width %g, balance %g\n", r.StereoWidth, r.Balance));

  add("\nMaterials\n");
  std::map<int, int> wallsPerMaterial;
  for (const TWallEntry& w : r.Walls) {
    if (w.InUse) ++wallsPerMaterial[int(w.Material)];
  }
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    const TMaterialEntry& m = r.Materials[i];
    if (!m.InUse) continue;
    std::string bands;
    for (int b = 0; b < ZM_BAND_COUNT; ++b) bands += Printf(b ? " %.2f" : "%.2f", m.BandFactors[b]);
    add(Printf("  [%2d] %-24s reflection %.3f  scatter %5.1f deg  bands %s  (%d walls)\n", i,
               std::string(1, '"').append(Name(m.Name)).append(1, '"').c_str(), m.Reflection,
               Degrees(m.Scatter), bands.c_str(), wallsPerMaterial[i]));
  }

  add("\nWalls\n");
  int walls = 0, receivers = 0, passThrough = 0;
  double length = 0, minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
  for (int i = 0; i < ZM_WALL_SLOTS; ++i) {
    const TWallEntry& w = r.Walls[i];
    if (!w.InUse) continue;
    ++walls;
    PlanPoint a, b;
    const bool geometry = PointInMetres(r, w.StartPoint, a) && PointInMetres(r, w.EndPoint, b);
    if (geometry) {
      length += std::hypot(b.x - a.x, b.y - a.y);
      for (const PlanPoint& p : {a, b}) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
      }
    }
    if (w.PassThrough) ++passThrough;
    if (w.Receiver) {
      ++receivers;
      const char* patterns[] = {"omni", "w 0.25", "w 0.5 (cardioid)", "w 0.75", "w 1 (figure-8)"};
      const char* pattern = (w.Pattern >= 1 && w.Pattern <= 4) ? patterns[w.Pattern] : patterns[0];
      add(Printf(
          "  receiver wall %d: channel %d, gain %g, %s%s, from (%.2f, %.2f) to (%.2f, %.2f) m\n", i,
          w.Channel, w.Gain, pattern, w.PassThrough ? ", pass-through" : "", a.x, a.y, b.x, b.y));
    }
  }
  add(Printf("  %d walls (%d receivers, %d pass-through), %.1f m in all", walls, receivers,
             passThrough, length));
  if (walls > 0 && minX <= maxX) {
    add(Printf("; plan %.1f m x %.1f m", maxX - minX, maxY - minY));
  }
  add("\n");

  add("\nEmitters\n");
  for (int i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    const TEmitterEntry& e = r.Emitters[i];
    if (!e.InUse) continue;
    PlanPoint p;
    PointInMetres(r, e.Point, p);
    const int32_t rays = e.UseDefaultRayCount ? r.DefaultRayCount : e.RayCount;
    add(
        Printf("  [%d] at (%.2f, %.2f) m, facing %.1f deg, fan %.1f deg, %d %s rays%s, level %g, "
               "group %d\n",
               i, p.x, p.y, Degrees(e.Direction), Degrees(e.Spread), rays,
               e.RandomDirections ? "random" : "evenly spaced",
               e.UseDefaultRayCount ? " (default count)" : "", e.Level, e.Group));
  }

  add("\nGroups\n");
  for (int g : GroupsWithEmitters(r)) {
    if (g < 0 || g >= ZM_GROUP_SLOTS) continue;
    const std::string name = Name(r.Groups[g].Name);
    add(Printf("  group %d %-24s %lld rays  (zm render --group %d)\n", g,
               name.empty() ? "(no name)" : ("\"" + name + "\"").c_str(),
               static_cast<long long>(RaysInGroup(r, g)), g));
  }

  add("\nChecks\n");
  const std::vector<DesignProblem> problems = CheckDesign(r);
  if (problems.empty()) add("  no problems found\n");
  for (const DesignProblem& p : problems) {
    add(Printf("  %s: %s\n", p.refusal ? "refused" : "warning", p.message.c_str()));
  }
  return out;
}

}  // namespace zm::cli
