// render_corpus: renders a fixed corpus of designs through a chosen build of
// the engine, so that two builds can be compared byte for byte.
//
//   render_corpus LIBRARY OUTDIR [--count N] [--seed S] [DESIGN_FILE...]
//
// LIBRARY is the shared library to load (e.g. build/release/src/libzm.so);
// the same driver thus renders through an old and a new build. The driver
// writes OUTDIR/<name>.wav for N generated designs (default 24, seed 1) and
// for every emitter group of each design file named on the command line.
// Output is always 32-bit float: integer output carries dither noise that
// differs from run to run. One line per design: name, frames, channels,
// bytes. Exits non-zero on any failure, including a generated design that
// the engine refuses (a bug of the generator below).
//
// Designs depend only on the seed: they come from a local generator and use
// nothing but exactly rounded arithmetic (no libm, no std distributions), so
// every platform and every standard library builds the same records.
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "zm/zm.h"

namespace {

namespace fs = std::filesystem;

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2 * kPi;

// The engine's six exports, taken from the library named on the command line.
struct Engine {
  void* handle = nullptr;
  decltype(&ZM_process) process = nullptr;
  decltype(&ZM_loadSetup) loadSetup = nullptr;
  decltype(&ZM_getVersion) getVersion = nullptr;

  bool Open(const std::string& path) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      std::fprintf(stderr, "render_corpus: cannot load %s: %s\n", path.c_str(), dlerror());
      return false;
    }
    process = reinterpret_cast<decltype(process)>(dlsym(handle, "ZM_process"));
    loadSetup = reinterpret_cast<decltype(loadSetup)>(dlsym(handle, "ZM_loadSetup"));
    getVersion = reinterpret_cast<decltype(getVersion)>(dlsym(handle, "ZM_getVersion"));
    if (!process || !loadSetup || !getVersion) {
      std::fprintf(stderr, "render_corpus: %s lacks the engine's exports\n", path.c_str());
      return false;
    }
    return true;
  }
};

// SplitMix64: integer arithmetic only, the same numbers everywhere.
class Generator {
 public:
  explicit Generator(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1), a multiple of 2^-53.
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  double Range(double low, double high) { return low + (high - low) * Unit(); }
  // Uniform in low..high, both included.
  int Int(int low, int high) {
    return low + static_cast<int>(Next() % static_cast<uint64_t>(high - low + 1));
  }
  bool Chance(double p) { return Unit() < p; }
  template <typename T, size_t N>
  T Pick(const T (&values)[N]) {
    return values[Next() % N];
  }

 private:
  uint64_t state_;
};

// Sine and cosine by their series: only exactly rounded operations, so the
// room shapes do not depend on the C library's elementary functions.
double Sine(double x) {
  while (x > kPi) x -= kTwoPi;
  while (x < -kPi) x += kTwoPi;
  double term = x;
  double sum = x;
  for (int k = 1; k < 14; ++k) {
    term = -term * x * x / ((2 * k) * (2 * k + 1));
    sum += term;
  }
  return sum;
}
double Cosine(double x) {
  return Sine(x + kPi / 2);
}

// Coordinates on a 1/1024 m grid: exact in binary, whatever rounding the
// construction above suffered.
double Snap(double v) {
  const double scaled = v * 1024.0;
  const double whole =
      static_cast<double>(static_cast<int64_t>(scaled + (scaled < 0 ? -0.5 : 0.5)));
  return whole / 1024.0;
}

void SetText(char (&field)[ZM_NAME_LENGTH], const std::string& text) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.data(), std::min(text.size(), sizeof field));
}

struct Point {
  double x, y;
};

// Builds one design record: every point and wall takes the next free slot.
class DesignWriter {
 public:
  explicit DesignWriter(TDesignRecord& record) : r_(record) { std::memset(&r_, 0, sizeof r_); }

  int AddPoint(Point p, double scale) {
    if (points_ >= ZM_POINT_SLOTS) throw std::runtime_error("generator: out of point slots");
    TPointEntry& entry = r_.Points[points_];
    // The packed doubles are written through local copies.
    const double x = Snap(p.x) / scale, y = Snap(p.y) / scale;
    std::memcpy(&entry.X, &x, sizeof x);
    std::memcpy(&entry.Y, &y, sizeof y);
    entry.HostData[0] = static_cast<uint8_t>(points_);
    return points_++;
  }

  int AddWall(int start, int end, int material, bool passThrough, bool receiver, int channel,
              double gain, int pattern) {
    if (walls_ >= ZM_WALL_SLOTS) throw std::runtime_error("generator: out of wall slots");
    TWallEntry& w = r_.Walls[walls_];
    w.InUse = 1;
    w.StartPoint = start;
    w.EndPoint = end;
    w.PassThrough = passThrough;
    w.Receiver = receiver;
    w.Material = material;
    w.Channel = channel;
    w.Gain = gain;
    w.Pattern = pattern;
    return walls_++;
  }

  int Walls() const { return walls_; }

 private:
  TDesignRecord& r_;
  int points_ = 0;
  int walls_ = 0;
};

// The shortest distance from the origin to the segment a-b.
double DistanceToSegment(Point a, Point b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  double t = -(a.x * dx + a.y * dy) / (dx * dx + dy * dy);
  t = t < 0 ? 0 : (t > 1 ? 1 : t);
  const double px = a.x + t * dx, py = a.y + t * dy;
  return std::sqrt(px * px + py * py);
}

// The outline of the room, counter-clockwise around the origin, which every
// shape keeps inside so that emitters and receivers can sit near it.
std::vector<Point> RoomOutline(Generator& g, const std::string& kind, int corners) {
  std::vector<Point> outline;
  if (kind == "box") {
    const double w = g.Range(4, 30), h = g.Range(3, 20);
    const Point c[4] = {{-w / 2, -h / 2}, {w / 2, -h / 2}, {w / 2, h / 2}, {-w / 2, h / 2}};
    // Each side split into several walls of the same line.
    int left = corners;
    for (int side = 0; side < 4; ++side) {
      const int pieces = side == 3 ? left : std::max(1, g.Int(1, (left - (3 - side)) / 2 + 1));
      left -= pieces;
      const Point a = c[side], b = c[(side + 1) % 4];
      for (int k = 0; k < pieces; ++k) {
        const double f = static_cast<double>(k) / pieces;
        outline.push_back({a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f});
      }
    }
    return outline;
  }
  // Polygons: corners at increasing angles, so the outline never crosses
  // itself; "star" rooms vary the radius widely and are not convex.
  const double radius = g.Range(3, 15);
  const double wobble = kind == "star" ? 0.45 : 0.1;
  const double step = kTwoPi / corners;
  const double start = g.Range(0, kTwoPi);
  for (int k = 0; k < corners; ++k) {
    const double angle = start + step * (k + g.Range(-0.3, 0.3));
    const double r = radius * (1 - wobble * g.Unit());
    outline.push_back({r * Cosine(angle), r * Sine(angle)});
  }
  return outline;
}

// A point within `reach` of the origin.
Point Near(Generator& g, double reach) {
  const double a = g.Range(0, kTwoPi), r = reach * g.Unit();
  return {r * Cosine(a), r * Sine(a)};
}

// One pseudo-random design; `index` steers the choices that every corpus
// must cover (windows, filter lengths, sub-arrivals, ...) so that even a
// short corpus cycles through all of them. Returns the group to render.
int GenerateDesign(uint64_t seed, int index, TDesignRecord& r, std::string& name) {
  Generator g(seed * 0x100000001B3ull + static_cast<uint64_t>(index) * 0x9E3779B97F4A7C15ull + 1);
  DesignWriter writer(r);

  static const char* const kKinds[] = {"box", "poly", "star"};
  std::string kind = kKinds[index % 3];
  int corners;
  if (index % 8 == 7) {  // a few large irregular rooms
    kind = "star";
    corners = g.Int(101, 130);
  } else if (kind == "box") {
    corners = g.Int(4, 36);
  } else if (kind == "poly") {
    corners = g.Int(3, 12);
  } else {
    corners = g.Int(12, 40);
  }
  static const double kScales[] = {0.5, 0.01, 2.0};
  const double scale = g.Chance(0.25) ? g.Pick(kScales) : 1.0;

  // Options: the index cycles the discrete ones, the generator the rest.
  static const int32_t kFilterLengths[] = {7, 16, 31, 32, 64, 2, 33, 48};
  static const int32_t kSubArrivals[] = {0, 1, 8};
  static const int32_t kDirectLevels[] = {0, 1, 5};
  static const double kMinAmplitudes[] = {1e-2, 3e-3, 1e-3};
  static const double kWidths[] = {1.0, 0.0, -1.0, 0.5, 1.5};
  r.ImpulseLength = g.Range(0.1, 1.0);
  r.MinAmplitude = g.Pick(kMinAmplitudes);
  r.SampleRate = g.Chance(0.5) ? 44100 : 48000;
  r.BitsPerSample = 32;
  r.WindowType = index % 6;
  r.FilterLength = kFilterLengths[index % 8];
  r.AirAttenuation = g.Range(0.995, 1.0);
  r.CoordinateScale = scale;
  r.RandomSeed = static_cast<int32_t>(g.Next() % 932542000u);
  r.SubArrivals = kSubArrivals[index % 3];
  r.Balance = g.Chance(0.5) ? 0.0 : g.Range(-1, 1);
  r.StereoWidth = g.Pick(kWidths);
  r.TrimToDirect = (index / 2) % 2;
  r.DirectSoundLevel = kDirectLevels[(index / 3) % 3];
  r.LeadIn = static_cast<int16_t>((index / 4) % 2);
  r.GainMode = static_cast<int16_t>((index / 5) % 2 ? g.Int(1, 3) : 0);
  r.FixedGainDb = g.Range(-30, 0);
  r.DefaultRayCount = g.Int(200, 3000);

  // Materials in scattered slots, names unique; sometimes the air itself.
  const int materials = g.Int(1, 4);
  std::vector<int> slots;
  int slot = g.Int(0, 3);
  for (int m = 0; m < materials + 2; ++m, slot += g.Int(1, 3)) slots.push_back(slot);
  const bool scatter = index % 4 != 1;
  for (int m = 0; m < materials + 2; ++m) {
    TMaterialEntry& e = r.Materials[slots[m]];
    e.InUse = 1;
    SetText(e.Name, m == materials ? "Curtain" : "Surface " + std::string(1, char('A' + m)));
    e.Reflection = g.Range(0.6, 0.98);
    e.Scatter = scatter && g.Chance(0.7) ? g.Range(0.02, 1.2) : 0.0;
    double factors[ZM_BAND_COUNT];
    for (double& f : factors) f = g.Range(0.3, 1.0);
    std::memcpy(e.BandFactors, factors, sizeof factors);
  }
  const bool air = g.Chance(0.4);
  TMaterialEntry& airSlot = r.Materials[slots[materials + 1]];
  if (air) {
    SetText(airSlot.Name, ZM_AIR_MATERIAL_NAME);
    airSlot.Reflection = g.Range(0.85, 1.0);
    airSlot.Scatter = 0;
    double factors[ZM_BAND_COUNT];
    for (double& f : factors) f = g.Range(0.5, 1.0);
    std::memcpy(airSlot.BandFactors, factors, sizeof factors);
  } else {
    airSlot.InUse = 0;  // a stale, unused slot
  }

  // The room's own walls; one of them may also listen.
  const std::vector<Point> outline = RoomOutline(g, kind, corners);
  const int n = static_cast<int>(outline.size());
  double inner = 1e300;
  for (int k = 0; k < n; ++k)
    inner = std::min(inner, DistanceToSegment(outline[k], outline[(k + 1) % n]));
  const int first = writer.AddPoint(outline[0], scale);
  for (int k = 1; k < n; ++k) writer.AddPoint(outline[k], scale);
  const int listeningWall = g.Chance(0.3) ? g.Int(0, n - 1) : -1;
  for (int k = 0; k < n; ++k) {
    const bool listens = k == listeningWall;
    writer.AddWall(first + k, first + (k + 1) % n, slots[g.Int(0, materials - 1)], false, listens,
                   listens ? g.Int(0, 7) : 0, 1.0, 0);
  }

  // Receivers: short pass-through lines inside, on several channels.
  const int receivers = g.Int(1, 4);
  const double reach = 0.6 * inner;
  for (int k = 0; k < receivers; ++k) {
    const Point mid = Near(g, reach);
    const double half = std::min(g.Range(0.15, 0.8), 0.3 * inner);
    const double a = g.Range(0, kPi);
    const Point p1{mid.x - half * Cosine(a), mid.y - half * Sine(a)};
    const Point p2{mid.x + half * Cosine(a), mid.y + half * Sine(a)};
    const int channel = k == 0 ? 0 : g.Int(0, 7);
    writer.AddWall(writer.AddPoint(p1, scale), writer.AddPoint(p2, scale),
                   slots[g.Int(0, materials - 1)], !g.Chance(0.15), true, channel,
                   g.Range(0.5, 2.0), g.Int(0, 5));
  }
  // A curtain the rays cross.
  if (g.Chance(0.5)) {
    const Point mid = Near(g, 0.5 * inner);
    const double a = g.Range(0, kPi), half = 0.4 * inner;
    writer.AddWall(writer.AddPoint({mid.x - half * Cosine(a), mid.y - half * Sine(a)}, scale),
                   writer.AddPoint({mid.x + half * Cosine(a), mid.y + half * Sine(a)}, scale),
                   slots[materials], true, false, 0, 1.0, 0);
  }

  // Emitters; in some designs they belong to other groups than 0, and one
  // may sit in a group that is not rendered.
  const int emitters = g.Int(1, 3);
  const int group = index % 4 == 3 ? g.Int(1, 63) : 0;
  for (int e = 0; e < emitters; ++e) {
    TEmitterEntry& em = r.Emitters[e + (index % 5 == 2 ? 3 : 0)];
    em.InUse = 1;
    em.Point = writer.AddPoint(Near(g, 0.5 * inner), scale);
    em.Direction = g.Range(0, kTwoPi);
    const bool fullCircle = g.Chance(0.5);
    em.Spread = fullCircle ? kTwoPi : g.Range(0.3, 3.0);
    em.RandomDirections = g.Chance(0.5);
    em.RayCount = g.Int(200, 3000);
    em.UseDefaultRayCount = g.Chance(0.2);
    em.Level = g.Range(0.5, 2.0);
    em.Group = e == 2 && group == 0 && g.Chance(0.5) ? 5 : group;
  }
  r.Groups[0].InUse = 1;
  SetText(r.Groups[0].Name, ZM_DEFAULT_GROUP_NAME);
  r.Groups[0].DefaultMark = 1;
  if (group != 0) {
    r.Groups[group].InUse = 1;
    SetText(r.Groups[group].Name, "Group " + std::to_string(group));
  }

  char label[96];
  std::snprintf(label, sizeof label, "%02d-%s-%dw-%de-w%d-f%d-s%d%s%s", index, kind.c_str(),
                writer.Walls(), emitters, r.WindowType, r.FilterLength, r.SubArrivals,
                air ? "-air" : "", group ? "-group" : "");
  name = label;
  SetText(r.Title, "Corpus " + name);
  SetText(r.Comment, "seed " + std::to_string(seed));
  return group;
}

extern "C" void ZM_CALLBACK IgnoreProgress(int32_t, int32_t, void*) {}

// The file's frames and channels, read from its "fmt " and "data" chunks.
bool DescribeWave(const std::string& path, long& frames, int& channels, long& bytes) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), {});
  bytes = static_cast<long>(data.size());
  auto u32 = [&](size_t at) {
    return uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
           uint32_t(data[at + 3]) << 24;
  };
  if (data.size() < 12 || std::memcmp(data.data(), "RIFF", 4) != 0) return false;
  int blockAlign = 0;
  for (size_t at = 12; at + 8 <= data.size();) {
    const uint32_t size = u32(at + 4);
    if (std::memcmp(&data[at], "fmt ", 4) == 0 && at + 22 <= data.size()) {
      channels = data[at + 10] | data[at + 11] << 8;
      blockAlign = data[at + 20] | data[at + 21] << 8;
    } else if (std::memcmp(&data[at], "data", 4) == 0) {
      if (blockAlign == 0) return false;
      frames = static_cast<long>(size / blockAlign);
      return true;
    }
    at += 8 + size + (size & 1);
  }
  return false;
}

// Renders one design into OUTDIR/<name>.wav and prints its line. The engine
// writes to a relative name inside OUTDIR, so that titles taken from the
// output path do not depend on where OUTDIR lies.
bool Render(const Engine& engine, const TDesignRecord& design, int group, const std::string& name) {
  const std::string file = name + ".wav";
  TErrorRecord error{};
  uint8_t abortFlag = 0;
  engine.process(&design, file.c_str(), &error, &abortFlag, IgnoreProgress, nullptr, group);
  if (error.Failed) {
    std::fprintf(stderr, "render_corpus: %s refused: %.*s\n", name.c_str(),
                 static_cast<int>(sizeof error.Message), error.Message);
    return false;
  }
  long frames = 0, bytes = 0;
  int channels = 0;
  if (!DescribeWave(file, frames, channels, bytes)) {
    std::fprintf(stderr, "render_corpus: %s: no readable WAVE file\n", name.c_str());
    return false;
  }
  std::printf("%-48s %8ld frames %2d channels %9ld bytes\n", name.c_str(), frames, channels, bytes);
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: render_corpus LIBRARY OUTDIR [--count N] [--seed S] [DESIGN_FILE...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string library = fs::absolute(argv[1]).string();
  const fs::path outDir = fs::absolute(argv[2]);
  int count = 24;
  uint64_t seed = 1;
  std::vector<std::string> designFiles;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--count" || arg == "--seed") && i + 1 < argc) {
      char* end = nullptr;
      const unsigned long long value = std::strtoull(argv[++i], &end, 10);
      if (*end != 0) return Usage();
      if (arg == "--count")
        count = static_cast<int>(value);
      else
        seed = value;
    } else if (arg.rfind("--", 0) == 0) {
      return Usage();
    } else {
      designFiles.push_back(fs::absolute(arg).string());
    }
  }

  Engine engine;
  if (!engine.Open(library)) return 1;
  std::error_code failed;
  fs::create_directories(outDir, failed);
  fs::current_path(outDir, failed);
  if (failed) {
    std::fprintf(stderr, "render_corpus: cannot use %s: %s\n", outDir.c_str(),
                 failed.message().c_str());
    return 1;
  }

  int failures = 0;
  auto design = std::make_unique<TDesignRecord>();
  for (int index = 0; index < count; ++index) {
    std::string name;
    int group;
    try {
      group = GenerateDesign(seed, index, *design, name);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "render_corpus: design %d: %s\n", index, e.what());
      ++failures;
      continue;
    }
    if (!Render(engine, *design, group, name)) ++failures;
  }

  for (const std::string& path : designFiles) {
    TErrorRecord error{};
    engine.loadSetup(path.c_str(), design.get(), &error);
    if (error.Failed) {
      std::fprintf(stderr, "render_corpus: %s: %.*s\n", path.c_str(),
                   static_cast<int>(sizeof error.Message), error.Message);
      ++failures;
      continue;
    }
    design->BitsPerSample = 32;
    // Group 0 under the file's own name, then every other group that has
    // an emitter.
    bool groups[ZM_GROUP_SLOTS] = {};
    for (const TEmitterEntry& e : design->Emitters) {
      const int32_t group = e.Group;
      if (e.InUse && group >= 0 && group < ZM_GROUP_SLOTS) groups[group] = true;
    }
    const std::string base = fs::path(path).stem().string();
    for (int group = 0; group < ZM_GROUP_SLOTS; ++group) {
      if (group != 0 && !groups[group]) continue;
      const std::string name = group == 0 ? base : base + "-g" + std::to_string(group);
      if (!Render(engine, *design, group, name)) ++failures;
    }
  }
  if (failures) std::fprintf(stderr, "render_corpus: %d failures\n", failures);
  return failures ? 1 : 0;
}
