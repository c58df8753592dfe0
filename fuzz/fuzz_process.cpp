// The whole processing job on designs generated from the fuzz input: a room
// of up to a dozen points, walls, materials (the air among them), emitters
// and groups, every option, with now and then a wild value (NaN, infinities,
// huge, tiny or negative numbers, indices anywhere). Most designs are sound,
// so that most executions trace and render rather than stop at a refusal.
//
// Checked for every design: Failed is 0 or 1; a failure leaves a well-formed
// message and writes nothing; a success leaves the message as it was and,
// for a file output, a whole RIFF/WAVE file whose float samples are finite.
// Work is bounded here (ray counts, impulse length, filter length), not in
// the library.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

#include "interface/fast_process.h"
#include "wave_file.h"
#include "zm/zm.h"

namespace {

namespace fs = std::filesystem;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();

// Work bounds of one execution: the library itself accepts far more.
constexpr double kMaxImpulseSeconds = 0.05;
constexpr int32_t kMaxRaysPerEmitter = 48;
constexpr int32_t kMaxFilterTaps = 64;
constexpr int32_t kMaxSubArrivals = 6;
// Room crossings a ray may make before the impulse ends, at most.
constexpr double kMaxCrossings = 300;

constexpr double kWildReals[] = {kNaN,   kInf, -kInf, 1e308, -1e308, 1e300, 1e-300,
                                 5e-324, -0.0, 0.0,   -1.0,  -1e30,  1e30,  2147483648.0};
constexpr int32_t kWildInts[] = {kIntMin, kIntMax, -1, 0, 1, -200, 200, 1000, 1001, 65536, 768001};

// Draws values from the fuzz input; a value is wild with the design's
// wildness (0 for about half of the designs, so they stay sound).
class Draw {
 public:
  Draw(const uint8_t* data, size_t size) : in_(data, size) {
    const uint8_t mode = in_.ConsumeIntegral<uint8_t>();
    wildPer256_ = mode < 128 ? 0 : mode < 192 ? 2 : mode < 240 ? 8 : 40;
  }

  // True with probability per256 / 256; false once the input is used up,
  // so that short inputs give the usual choices.
  bool Chance(int per256) { return in_.ConsumeIntegral<uint8_t>() >= 256 - per256; }
  bool Wild() { return wildPer256_ > 0 && Chance(wildPer256_); }

  double Real(double lo, double hi) {
    if (Wild()) return in_.PickValueInArray(kWildReals);
    return in_.ConsumeFloatingPointInRange(lo, hi);
  }
  int32_t Int(int32_t lo, int32_t hi) {
    if (Wild()) return in_.PickValueInArray(kWildInts);
    return in_.ConsumeIntegralInRange(lo, hi);
  }
  template <typename T, size_t N>
  T Pick(const T (&values)[N]) {
    return in_.PickValueInArray(values);
  }
  uint8_t Byte() { return in_.ConsumeIntegral<uint8_t>(); }

 private:
  FuzzedDataProvider in_;
  int wildPer256_;
};

void SetName(char (&field)[ZM_NAME_LENGTH], const std::string& name) {
  std::strncpy(field, name.c_str(), sizeof field);  // zeros to the end, unterminated when full
}

// A design of `points` corners of a rough polygon (the room), receivers and
// a few more walls inside, materials, emitters in groups 0 to 2. Returns the
// group to render.
int32_t Generate(Draw& draw, TDesignRecord& d) {
  std::memset(&d, 0, sizeof d);
  SetName(d.Title, draw.Chance(128) ? "Fuzzed room" : "");
  SetName(d.Comment, draw.Chance(64) ? "comment" : "");
  d.ImpulseLength = draw.Real(0.002, kMaxImpulseSeconds);
  d.MinAmplitude = draw.Real(0.0, 0.05);
  d.SampleRate = draw.Chance(56) ? draw.Int(0, 192000) : draw.Pick({44100, 48000, 22050, 96000});
  d.BitsPerSample = draw.Wild() ? draw.Pick(kWildInts) : draw.Pick({8, 16, 24, 32});
  d.WindowType = draw.Int(0, 5);
  // Long filters cost most of the time of a run: usually short ones.
  d.FilterLength = draw.Int(2, draw.Chance(32) ? kMaxFilterTaps : 16);
  d.AirAttenuation = draw.Real(0.99, 1.0);
  d.CoordinateScale = draw.Real(0.2, 3.0);
  d.RandomSeed = draw.Int(0, 1000000);
  d.SubArrivals = draw.Int(0, 3);
  d.Balance = draw.Real(-1.0, 1.0);
  d.StereoWidth = draw.Real(-1.0, 2.0);
  d.TrimToDirect = draw.Int(0, 1);
  d.DirectSoundLevel = draw.Int(0, 3);
  d.LeadIn = static_cast<int16_t>(draw.Int(-1, 1));
  d.GainMode = static_cast<int16_t>(draw.Int(0, 1));
  d.FixedGainDb = draw.Real(-60.0, 0.0);
  d.DefaultRayCount = draw.Int(1, 16);

  // Materials: a few ordinary ones, and usually the air.
  const int materials = 1 + draw.Byte() % 4;
  for (int m = 0; m < materials; ++m) {
    TMaterialEntry& e = d.Materials[m];
    e.InUse = 1;
    // Now and then two materials share a name, or one has none.
    SetName(e.Name, draw.Wild() ? "M0" : "M" + std::to_string(m));
    e.Reflection = draw.Real(-0.9, 0.95);
    e.Scatter = draw.Real(0.0, 1.0);
    // Indexed, never by reference: the record is packed.
    for (int b = 0; b < ZM_BAND_COUNT; ++b) e.BandFactors[b] = draw.Real(0.0, 1.0);
  }
  if (!draw.Chance(64)) {
    TMaterialEntry& air = d.Materials[materials];
    air.InUse = 1;
    SetName(air.Name, ZM_AIR_MATERIAL_NAME);
    air.Reflection = draw.Real(0.9, 1.0);
    for (int b = 0; b < ZM_BAND_COUNT; ++b) air.BandFactors[b] = draw.Real(0.8, 1.0);
  }

  // The room: corners around the middle of a 10 x 10 square.
  const int corners = 3 + draw.Byte() % 6;
  for (int p = 0; p < corners; ++p) {
    const double angle = 6.283185307179586 * (p + draw.Real(0.0, 0.8)) / corners;
    const double radius = draw.Real(2.0, 5.0);
    d.Points[p].X = 5.0 + radius * std::cos(angle);
    d.Points[p].Y = 5.0 + radius * std::sin(angle);
  }
  const int points = corners + 6;  // receivers and inner walls use the rest
  for (int p = corners; p < points; ++p) {
    d.Points[p].X = draw.Real(3.0, 7.0);
    d.Points[p].Y = draw.Real(3.0, 7.0);
  }
  auto pointIndex = [&](int32_t usual) { return draw.Wild() ? draw.Pick(kWildInts) : usual; };
  auto materialIndex = [&] { return draw.Wild() ? draw.Pick(kWildInts) : draw.Byte() % materials; };
  int w = 0;
  for (int p = 0; p < corners; ++p, ++w) {
    TWallEntry& e = d.Walls[w];
    e.InUse = 1;
    e.StartPoint = pointIndex(p);
    e.EndPoint = pointIndex((p + 1) % corners);
    e.Material = materialIndex();
    e.PassThrough = draw.Chance(16);
  }
  const int inner = 1 + draw.Byte() % 3;
  for (int i = 0; i < inner; ++i, ++w) {
    TWallEntry& e = d.Walls[w];
    e.InUse = 1;
    e.StartPoint = pointIndex(corners + 2 * i);
    e.EndPoint = pointIndex(corners + 2 * i + 1);
    e.Material = materialIndex();
    e.PassThrough = !draw.Chance(96);
    e.Receiver = !draw.Chance(56);
    e.Channel = draw.Chance(64) ? draw.Int(0, 7) : draw.Byte() % 2;
    e.Gain = draw.Real(-2.0, 2.0);
    e.Pattern = draw.Int(0, 5);
  }

  const int emitters = 1 + draw.Byte() % 3;
  for (int i = 0; i < emitters; ++i) {
    TEmitterEntry& e = d.Emitters[i];
    e.InUse = 1;
    e.Point = pointIndex(points - 1 - i % 2);
    e.Direction = draw.Real(0.0, 6.3);
    e.RayCount = draw.Chance(16) ? 0 : draw.Int(1, kMaxRaysPerEmitter);
    e.Spread = draw.Real(0.0, 6.3);
    e.RandomDirections = draw.Chance(128);
    e.Level = draw.Real(0.1, 2.0);
    e.Group = draw.Chance(56) ? draw.Int(0, 2) : 0;
    e.UseDefaultRayCount = draw.Chance(32);
  }
  for (int g = 0; g < 3; ++g) {
    d.Groups[g].InUse = 1;
    SetName(d.Groups[g].Name, "G" + std::to_string(g));
  }
  return draw.Chance(32) ? draw.Int(0, 2) : 0;
}

// Keeps one execution short without taking away a refusal: only values the
// library accepts are brought down to the bounds.
void BoundWork(TDesignRecord& d, int32_t group) {
  if (d.FilterLength > kMaxFilterTaps && d.FilterLength <= 1024) d.FilterLength = kMaxFilterTaps;
  if (d.SubArrivals > kMaxSubArrivals && d.SubArrivals <= 1000) d.SubArrivals = kMaxSubArrivals;
  // Ray counts: a group total beyond int32 is refused and stays; anything
  // else is cut per emitter.
  // (Fields are copied out before use: the record is packed, and a
  // reference to one of them would be misaligned.)
  int64_t total = 0;
  const int32_t defaultCount = d.DefaultRayCount;
  for (const TEmitterEntry& e : d.Emitters) {
    const int32_t count = e.UseDefaultRayCount ? defaultCount : e.RayCount;
    if (e.InUse && e.Group == group && count > 0) total += count;
  }
  if (total <= kIntMax) {
    for (TEmitterEntry& e : d.Emitters) {
      if (e.RayCount > kMaxRaysPerEmitter) e.RayCount = kMaxRaysPerEmitter;
    }
    if (defaultCount > kMaxRaysPerEmitter) d.DefaultRayCount = kMaxRaysPerEmitter;
  }
  // The impulse ends after a bounded number of room crossings. Lengths so
  // long that they are refused stay.
  double extent = 0.0;
  for (int p = 0; p < 16; ++p) {
    const double x = std::fabs(d.Points[p].X), y = std::fabs(d.Points[p].Y);
    extent = std::max({extent, x, y});
  }
  const double scale = d.CoordinateScale;
  extent *= std::fabs(scale);
  const double bound = std::min(kMaxImpulseSeconds, kMaxCrossings * extent / 344.0);
  if (std::isfinite(d.ImpulseLength) && d.ImpulseLength > bound && d.ImpulseLength < 1e4) {
    d.ImpulseLength = std::isfinite(bound) ? bound : kMaxImpulseSeconds;
  }
}

// A message as the error record must hold it: printable text from the
// first byte, zero bytes after it to the end of the field.
bool WellFormed(const TErrorRecord& error) {
  const char* begin = error.Message;
  const char* end = begin + sizeof error.Message;
  const char* text = begin + strnlen(begin, sizeof error.Message);
  return text > begin && std::isupper(static_cast<unsigned char>(*begin)) &&
         std::all_of(begin, text, [](unsigned char c) { return c >= 0x20 && c <= 0x7e; }) &&
         std::all_of(text, end, [](char c) { return c == 0; });
}

// A whole RIFF/WAVE file (chunks fill it exactly as its size says) whose
// 32-bit float samples are finite.
bool WholeWave(const fs::path& path, int32_t bits) {
  const zm::test::WaveFile wave(path.string());
  if (!wave.valid) return false;
  for (size_t s = 0; bits == 32 && s + 4 <= wave.data.size(); s += 4) {
    float f;
    std::memcpy(&f, wave.data.data() + s, 4);
    if (!std::isfinite(f)) return false;
  }
  return true;
}

// A private folder for file outputs, on a memory file system where there
// is one (syncing a file there costs nothing).
const fs::path& Folder() {
  static const fs::path folder = [] {
    std::string base = fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
    std::string pattern = base + "/zm-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    std::atexit([] { fs::remove_all(Folder()); });
    return fs::path(pattern);
  }();
  return folder;
}

struct Progress {
  int32_t calls = 0;
  int32_t lastDone = -1;
  int32_t abortAt = -1;  // call at which the host asks to stop, or -1
  uint8_t* abortFlag = nullptr;
};

void ZM_CALLBACK OnProgress(int32_t done, int32_t total, void* userData) {
  auto* p = static_cast<Progress*>(userData);
  if (done <= p->lastDone || done >= total) __builtin_trap();
  p->lastDone = done;
  if (p->calls++ == p->abortAt) *p->abortFlag = 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return -1;
  static TDesignRecord design;
  Draw draw(data, size);
  const int32_t group = Generate(draw, design);
  const bool toFile = draw.Chance(64);
  Progress progress;
  progress.abortAt = draw.Chance(8) ? draw.Byte() % 3 : -1;
  BoundWork(design, group);

  const fs::path output = Folder() / "out.wav";
  TErrorRecord error;
  std::memset(&error, 0xA5, sizeof error);
  uint8_t abortFlag = 1;  // the job clears it first
  progress.abortFlag = &abortFlag;
  // Fast mode reads the same record (and a height that may be wild), so a
  // quarter of the designs go through it, half of those with a height.
  const uint8_t mode = draw.Byte();
  const char* target = toFile ? output.c_str() : "mem:";
  if (mode < 192) {
    ZM_process(&design, target, &error, &abortFlag, OnProgress, &progress, group);
  } else {
    zm::TFastHeight height;
    height.Height = draw.Real(0.5, 12);  // now and then a wild value
    height.Floor = design.Materials[draw.Byte() % ZM_MATERIAL_SLOTS];
    height.Ceiling = design.Materials[draw.Byte() % ZM_MATERIAL_SLOTS];
    zm::ProcessFast(&design, mode < 224 ? nullptr : &height, target, &error, &abortFlag,
                    OnProgress, &progress, group);
  }

  if (error.Failed > 1) __builtin_trap();
  const bool aborted = error.Failed == 0 && abortFlag != 0;
  if (error.Failed) {
    if (!WellFormed(error)) __builtin_trap();
  } else {
    for (uint8_t byte : error.Message) {
      if (byte != 0xA5) __builtin_trap();  // success leaves the message alone
    }
  }
  if (toFile) {
    std::error_code ignored;
    const bool written = fs::exists(output, ignored);
    if (written != (error.Failed == 0 && !aborted)) __builtin_trap();
    if (written) {
      if (!WholeWave(output, design.BitsPerSample)) __builtin_trap();
      fs::remove(output, ignored);
    }
    // Nothing else, no temporary file, is ever left behind.
    if (!fs::is_empty(Folder(), ignored)) __builtin_trap();
  }
  return 0;
}
