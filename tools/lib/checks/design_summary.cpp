#include "lib/checks/design_summary.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <set>

#include "lib/audio/acoustics.h"
#include "lib/base/text.h"
#include "lib/checks/reverberation_estimate.h"
#include "lib/design/design_json.h"
#include "lib/design/room_geometry.h"

namespace zm::cli {

namespace {

double Degrees(double radians) {
  return radians * 180.0 / std::numbers::pi;
}

// The rays an emitter traces: its own count or the design's default.
int32_t EmitterRays(const TDesignRecord& r, const TEmitterEntry& e) {
  return e.UseDefaultRayCount ? r.DefaultRayCount : e.RayCount;
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
                r.LeadIn ? Printf(", after a %d-sample lead-in", ZM_LEAD_IN_FRAMES).c_str() : "");
}

std::string OptionsSection(const TDesignRecord& r) {
  const int rate = r.SampleRate < ZM_MIN_SAMPLE_RATE ? ZM_MIN_SAMPLE_RATE : r.SampleRate;
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

// Energy of one late receiver hit, with its diffuse arrivals, against one
// arrival: 1 + sum over j of ((j + 0.5) / n)^2 = 1 + (4 n^2 - 1) / (12 n).
double SubArrivalEnergy(int32_t n) {
  return n > 0 ? 1.0 + (4.0 * n * n - 1.0) / (12.0 * n) : 1.0;
}

}  // namespace

std::string DirectLevelSection(const TDesignRecord& r) {
  const Plan plan = PlanOf(r);
  std::string out =
      "\nDirect sound (the level at which its ratio to the reflections is physical)\n";
  std::map<int, DirectLevelChoice> chosen;
  for (int g : GroupsWithEmitters(r)) {
    if (const auto choice = ChooseDirectLevel(plan, g)) chosen[g] = *choice;
  }
  bool any = false;
  for (int e = 0; e < int(plan.emitters.size()); ++e) {
    const PlanSource& source = plan.emitters[size_t(e)];
    const auto found = chosen.find(source.group);
    for (int w = 0; w < int(plan.walls.size()); ++w) {
      if (!plan.walls[size_t(w)].receiver) continue;
      const auto reach = DirectReachOf(plan, source, w);
      if (!reach) continue;
      any = true;
      // Each level step is 3 dB of direct energy.
      out += Printf(
          "  emitter [%d] -> receiver wall [%d]: %.1f m, %.1f direct rays, level %.1f;"
          " the design's %d gives %+.1f dB",
          source.slot, plan.walls[size_t(w)].slot, reach->distance, reach->rays, reach->level,
          r.DirectSoundLevel, 3.0 * (r.DirectSoundLevel - reach->level));
      if (found != chosen.end()) {
        out += Printf(", level %d %+.1f dB", found->second.level,
                      3.0 * (found->second.level - reach->level));
      }
      out += "\n";
    }
  }
  if (!any) return out + "  no receiver is reached directly\n";
  for (const auto& [group, choice] : chosen) {
    out += Printf(
        "  group %d: zm render --physical-direct uses level %d (emitter [%d], receiver "
        "wall [%d])\n",
        group, choice.level, plan.emitters[size_t(choice.emitter)].slot,
        plan.walls[size_t(choice.receiver)].slot);
  }
  if (r.SubArrivals > 0) {
    const double energy = SubArrivalEnergy(r.SubArrivals);
    out += Printf(
        "  reflections from the third on carry %d diffuse arrivals each: x%.2f energy "
        "(%+.1f dB) in the late part\n",
        r.SubArrivals, energy, 10 * std::log10(energy));
  }
  return out;
}

namespace {

// The diffuse-field estimate, one column per octave band.
std::string ReverberationSection(const TDesignRecord& r) {
  const Plan plan = PlanOf(r);
  const ReverberationEstimate estimate = EstimateReverberation(r, plan, EnclosureGrid(plan));
  std::string out = "\nReverberation estimate (2D diffuse field, Sabine and Eyring)\n";
  if (!estimate.available) return out + "  none: " + estimate.reason + "\n";
  out += Printf("  room %.1f m2, wall faces %.1f m, mean free path %.2f m (pi S / P)\n",
                estimate.area, estimate.perimeter, estimate.meanFreePath);
  std::string header = Printf("  %-13s", ""), alpha = Printf("  %-13s", "absorption"),
              sabine = Printf("  %-13s", "Sabine [s]"), eyring = Printf("  %-13s", "Eyring [s]");
  for (const ReverberationBand& band : estimate.bands) {
    header += Printf(" %7s", BandName(band.centre).c_str());
    alpha += Printf(" %7.2f", band.absorption);
    sabine += Printf(" %7.2f", band.sabine);
    eyring += Printf(" %7.2f", band.eyring);
  }
  return out + header + "\n" + alpha + "\n" + sabine + "\n" + eyring + "\n";
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

std::string SummariseDesign(const TDesignRecord& r) {
  return TitleSection(r) + OptionsSection(r) + MaterialsSection(r) + WallsSection(r) +
         EmittersSection(r) + GroupsSection(r) + DirectLevelSection(r) + ReverberationSection(r);
}

}  // namespace zm::cli
