#include "design_json.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <numbers>
#include <set>
#include <vector>

namespace zm::cli {

namespace {

// ---------------------------------------------------------------------------
// Small encodings

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Encode(const uint8_t* data, size_t size) {
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (size_t i = 0; i < size; i += 3) {
    uint32_t chunk = uint32_t(data[i]) << 16;
    if (i + 1 < size) chunk |= uint32_t(data[i + 1]) << 8;
    if (i + 2 < size) chunk |= uint32_t(data[i + 2]);
    out += kBase64Alphabet[(chunk >> 18) & 63];
    out += kBase64Alphabet[(chunk >> 12) & 63];
    out += i + 1 < size ? kBase64Alphabet[(chunk >> 6) & 63] : '=';
    out += i + 2 < size ? kBase64Alphabet[chunk & 63] : '=';
  }
  return out;
}

bool Base64Decode(const std::string& text, std::vector<uint8_t>& out) {
  out.clear();
  if (text.size() % 4 != 0) return false;
  auto value = [](char c) -> int {
    const char* p = std::strchr(kBase64Alphabet, c);
    return (c != 0 && p != nullptr) ? int(p - kBase64Alphabet) : -1;
  };
  for (size_t i = 0; i < text.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      char c = text[i + k];
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        v[k] = 0;
        ++pad;
      } else {
        if (pad > 0) return false;
        v[k] = value(c);
        if (v[k] < 0) return false;
      }
    }
    uint32_t chunk =
        (uint32_t(v[0]) << 18) | (uint32_t(v[1]) << 12) | (uint32_t(v[2]) << 6) | uint32_t(v[3]);
    out.push_back(uint8_t(chunk >> 16));
    if (pad < 2) out.push_back(uint8_t(chunk >> 8));
    if (pad < 1) out.push_back(uint8_t(chunk));
  }
  return true;
}

bool AllZero(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  return std::all_of(p, p + size, [](uint8_t b) { return b == 0; });
}

// Record text is 8-bit; JSON text is UTF-8. Each byte maps to the code point
// of the same value, so any byte string survives and plain ASCII reads as is.
std::string BytesToUtf8(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool Utf8ToBytes(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += char(c);
    } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
      unsigned code = (unsigned(c & 0x1F) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F);
      if (code < 0x80 || code > 0xFF) return false;
      out += char(code);
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

std::string FormatDouble(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

// ---------------------------------------------------------------------------
// Reading with paths

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw JsonFormatError(path + ": " + what);
}

std::string Describe(const Json& j) {
  if (j.is_number()) return "number";
  return j.type_name();
}

// Reads the keys of one JSON object and rejects the ones nobody asked for.
class ObjectReader {
 public:
  ObjectReader(const Json& json, std::string path) : json_(json), path_(std::move(path)) {
    if (!json_.is_object()) Fail(PathOrRoot(), "expected an object, got " + Describe(json_));
  }

  const Json* Get(const std::string& key) {
    seen_.insert(key);
    auto it = json_.find(key);
    return it == json_.end() ? nullptr : &*it;
  }

  const Json& Require(const std::string& key) {
    const Json* j = Get(key);
    if (j == nullptr) Fail(Path(key), "missing");
    return *j;
  }

  std::string Path(const std::string& key) const { return path_.empty() ? key : path_ + "." + key; }
  std::string PathOrRoot() const { return path_.empty() ? "(top level)" : path_; }

  void Finish() const {
    for (auto it = json_.begin(); it != json_.end(); ++it) {
      if (!seen_.contains(it.key())) Fail(Path(it.key()), "unknown key");
    }
  }

 private:
  const Json& json_;
  std::string path_;
  std::set<std::string> seen_;
};

int64_t ReadInteger(const Json& j, const std::string& path, int64_t low, int64_t high) {
  if (!j.is_number_integer()) {
    if (j.is_number()) Fail(path, "expected an integer, got " + FormatDouble(j.get<double>()));
    Fail(path, "expected an integer, got " + Describe(j));
  }
  int64_t v = 0;
  if (j.is_number_unsigned()) {
    uint64_t u = j.get<uint64_t>();
    if (u > uint64_t(std::numeric_limits<int64_t>::max())) {
      Fail(path, "out of range " + std::to_string(low) + " to " + std::to_string(high));
    }
    v = int64_t(u);
  } else {
    v = j.get<int64_t>();
  }
  if (v < low || v > high) {
    Fail(path, std::to_string(v) + " is out of range " + std::to_string(low) + " to " +
                   std::to_string(high));
  }
  return v;
}

int32_t ReadInt32(const Json& j, const std::string& path) {
  return int32_t(ReadInteger(j, path, std::numeric_limits<int32_t>::min(),
                             std::numeric_limits<int32_t>::max()));
}

// Flags are written as booleans; any other stored byte value as a number.
int64_t ReadFlag(const Json& j, const std::string& path, int64_t low, int64_t high) {
  if (j.is_boolean()) return j.get<bool>() ? 1 : 0;
  if (!j.is_number_integer()) Fail(path, "expected a boolean, got " + Describe(j));
  return ReadInteger(j, path, low, high);
}

// Listed walls and emitters are in use; the flag only carries an unusual
// stored value. Unused slots with stale bytes go in "unusedSlots".
int64_t ReadInUse(const Json& j, const std::string& path) {
  const int64_t value = ReadFlag(j, path, 0, 255);
  if (value == 0) Fail(path, "a listed entry must be in use (unused slots go in \"unusedSlots\")");
  return value;
}

Json WriteFlag(int64_t value) {
  if (value == 0) return false;
  if (value == 1) return true;
  return value;
}

// Doubles are JSON numbers; values JSON cannot hold (infinities, NaNs) are
// written as "0x" and the 16 hex digits of their bits.
double ReadDouble(const Json& j, const std::string& path) {
  if (j.is_number()) return j.get<double>();
  if (j.is_string()) {
    const std::string& s = j.get_ref<const std::string&>();
    if (s.size() == 18 && s[0] == '0' && s[1] == 'x' &&
        s.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos) {
      return std::bit_cast<double>(uint64_t(std::stoull(s.substr(2), nullptr, 16)));
    }
    Fail(path, "expected a number, got string \"" + s + "\"");
  }
  Fail(path, "expected a number, got " + Describe(j));
}

Json WriteDouble(double value) {
  if (std::isfinite(value)) return value;
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%016llx",
                static_cast<unsigned long long>(std::bit_cast<uint64_t>(value)));
  return std::string(buffer);
}

bool SameBits(double a, double b) {
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

// Degrees are what people write; the record holds radians. A value is written
// in degrees only when reading it back gives the very same radians, else in
// radians under the plain key.
constexpr double kDegToRad = std::numbers::pi / 180.0;

double DegreesToRadians(double degrees) {
  return degrees * kDegToRad;
}

void WriteAngle(Json& out, const std::string& key, double radians) {
  if (std::isfinite(radians)) {
    const double exact = radians / kDegToRad;
    if (std::isfinite(exact)) {
      // Prefer a short decimal (what a person typed) over the full expansion.
      for (int decimals = 0; decimals <= 12; ++decimals) {
        const double scale = std::pow(10.0, decimals);
        const double candidate = std::round(exact * scale) / scale;
        if (std::isfinite(candidate) && SameBits(DegreesToRadians(candidate), radians)) {
          out[key + "Deg"] = candidate;
          return;
        }
      }
      // Otherwise the exact quotient or one of its close neighbours.
      double up = exact, down = exact;
      for (int step = 0; step < 4; ++step) {
        for (double c : {up, down}) {
          if (std::isfinite(c) && SameBits(DegreesToRadians(c), radians)) {
            out[key + "Deg"] = c;
            return;
          }
        }
        up = std::nextafter(up, HUGE_VAL);
        down = std::nextafter(down, -HUGE_VAL);
      }
    }
  }
  out[key] = WriteDouble(radians);
}

// Reads "<key>Deg" (degrees) or "<key>" (radians); exactly one may be given.
bool ReadAngle(ObjectReader& reader, const std::string& key, double& radians) {
  const Json* degrees = reader.Get(key + "Deg");
  const Json* plain = reader.Get(key);
  if (degrees != nullptr && plain != nullptr) {
    Fail(reader.Path(key), "give either \"" + key + "Deg\" or \"" + key + "\", not both");
  }
  if (degrees != nullptr) {
    radians = DegreesToRadians(ReadDouble(*degrees, reader.Path(key + "Deg")));
    return true;
  }
  if (plain != nullptr) {
    radians = ReadDouble(*plain, reader.Path(key));
    return true;
  }
  return false;
}

// Uninterpreted bytes: base64, omitted when all zero.
void WriteBytes(Json& out, const std::string& key, const void* data, size_t size) {
  if (!AllZero(data, size)) out[key] = Base64Encode(static_cast<const uint8_t*>(data), size);
}

void ReadBytesInto(const Json& j, const std::string& path, void* data, size_t size) {
  if (!j.is_string()) Fail(path, "expected a base64 string, got " + Describe(j));
  std::vector<uint8_t> bytes;
  if (!Base64Decode(j.get_ref<const std::string&>(), bytes)) Fail(path, "invalid base64");
  if (bytes.size() != size) {
    Fail(path, "expected " + std::to_string(size) + " bytes, got " + std::to_string(bytes.size()));
  }
  std::memcpy(data, bytes.data(), size);
}

void ReadOptionalBytes(ObjectReader& reader, const std::string& key, void* data, size_t size) {
  if (const Json* j = reader.Get(key)) ReadBytesInto(*j, reader.Path(key), data, size);
}

// Text fields: the text up to the first zero byte; when the bytes after it
// are not all zero (or there is no zero byte and the text is not the whole
// field), the whole field is carried as "<key>Bytes" as well.
void WriteText(Json& out, const std::string& key, const char* field) {
  const std::string text = FieldText(field, ZM_NAME_LENGTH);
  out[key] = BytesToUtf8(text);
  if (text.size() < ZM_NAME_LENGTH && !AllZero(field + text.size(), ZM_NAME_LENGTH - text.size())) {
    out[key + "Bytes"] = Base64Encode(reinterpret_cast<const uint8_t*>(field), ZM_NAME_LENGTH);
  }
}

bool ReadText(ObjectReader& reader, const std::string& key, char* field, bool required) {
  const Json* text = required ? &reader.Require(key) : reader.Get(key);
  const Json* raw = reader.Get(key + "Bytes");
  std::string bytes;
  if (text != nullptr) {
    if (!text->is_string()) Fail(reader.Path(key), "expected a string, got " + Describe(*text));
    if (!Utf8ToBytes(text->get_ref<const std::string&>(), bytes)) {
      Fail(reader.Path(key), "only characters U+0000 to U+00FF can be stored");
    }
    if (bytes.size() > ZM_NAME_LENGTH) {
      Fail(reader.Path(key), "longer than " + std::to_string(ZM_NAME_LENGTH) + " characters");
    }
    if (bytes.find('\0') != std::string::npos) {
      Fail(reader.Path(key), "must not contain a zero character");
    }
  }
  std::memset(field, 0, ZM_NAME_LENGTH);
  if (raw != nullptr) {
    ReadBytesInto(*raw, reader.Path(key + "Bytes"), field, ZM_NAME_LENGTH);
    if (text != nullptr && FieldText(field, ZM_NAME_LENGTH) != bytes) {
      Fail(reader.Path(key), "does not match the text in \"" + key + "Bytes\"");
    }
    return true;
  }
  if (text == nullptr) return false;
  std::memcpy(field, bytes.data(), bytes.size());
  return true;
}

// Slots: entries are listed in slot order; "slot" is written only when an
// entry does not follow the previous one.
int ReadSlot(ObjectReader& reader, int natural, int count) {
  if (const Json* j = reader.Get("slot")) {
    return int(ReadInteger(*j, reader.Path("slot"), 0, count - 1));
  }
  if (natural >= count)
    Fail(reader.PathOrRoot(), "no slot left (at most " + std::to_string(count) + ")");
  return natural;
}

const Json& RequireArray(const Json& j, const std::string& path) {
  if (!j.is_array()) Fail(path, "expected an array, got " + Describe(j));
  return j;
}

std::string Index(const std::string& path, size_t i) {
  return path + "[" + std::to_string(i) + "]";
}

// ---------------------------------------------------------------------------
// Points

using Coordinates = std::pair<uint64_t, uint64_t>;

Coordinates BitsOf(double x, double y) {
  return {std::bit_cast<uint64_t>(x), std::bit_cast<uint64_t>(y)};
}

Json WritePointCoordinates(const TPointEntry& p) {
  return Json::array({WriteDouble(p.X), WriteDouble(p.Y)});
}

std::pair<double, double> ReadCoordinates(const Json& j, const std::string& path) {
  if (!j.is_array() || j.size() != 2) {
    Fail(path, "expected [x, y], got " +
                   (j.is_array() ? "an array of " + std::to_string(j.size()) : Describe(j)));
  }
  return {ReadDouble(j[0], Index(path, 0)), ReadDouble(j[1], Index(path, 1))};
}

// The references to points in the order the reader assigns them: used walls
// in slot order (start, end), then used emitters in slot order.
std::vector<int32_t> PointReferences(const TDesignRecord& r) {
  std::vector<int32_t> refs;
  for (const TWallEntry& w : r.Walls) {
    if (w.InUse) {
      refs.push_back(int32_t(w.StartPoint));
      refs.push_back(int32_t(w.EndPoint));
    }
  }
  for (const TEmitterEntry& e : r.Emitters) {
    if (e.InUse) refs.push_back(int32_t(e.Point));
  }
  return refs;
}

// True when the reader, given only coordinates, would rebuild the points
// table exactly: points numbered in order of first use, no two alike, no
// host bytes and nothing in the slots beyond.
bool PointsAreNatural(const TDesignRecord& r) {
  std::vector<int32_t> order;
  std::set<int32_t> seen;
  for (int32_t ref : PointReferences(r)) {
    if (ref < 0 || ref >= ZM_POINT_SLOTS) return false;
    if (seen.insert(ref).second) order.push_back(ref);
  }
  std::set<Coordinates> coordinates;
  for (size_t i = 0; i < order.size(); ++i) {
    if (order[i] != int32_t(i)) return false;
    const TPointEntry& p = r.Points[i];
    if (!AllZero(p.HostData, sizeof p.HostData)) return false;
    if (!coordinates.insert(BitsOf(p.X, p.Y)).second) return false;
  }
  for (size_t i = order.size(); i < ZM_POINT_SLOTS; ++i) {
    if (!AllZero(&r.Points[i], sizeof(TPointEntry))) return false;
  }
  return true;
}

// Assigns point slots while the walls and emitters are read back.
class PointAssigner {
 public:
  explicit PointAssigner(TDesignRecord& r) : record_(r) {}

  void Declare(int slot) { taken_[slot] = true; }

  // The slot of a point given by coordinates: the lowest taken slot with the
  // same coordinates, else the lowest free one.
  int32_t SlotFor(double x, double y, const std::string& path) {
    const Coordinates wanted = BitsOf(x, y);
    for (int i = 0; i < ZM_POINT_SLOTS; ++i) {
      if (taken_[i] && BitsOf(record_.Points[i].X, record_.Points[i].Y) == wanted) return i;
    }
    for (int i = 0; i < ZM_POINT_SLOTS; ++i) {
      if (!taken_[i]) {
        taken_[i] = true;
        record_.Points[i].X = x;
        record_.Points[i].Y = y;
        return i;
      }
    }
    Fail(path, "too many distinct points (at most " + std::to_string(ZM_POINT_SLOTS) + ")");
  }

 private:
  TDesignRecord& record_;
  std::array<bool, ZM_POINT_SLOTS> taken_{};
};

// A point reference as written: "<key>": [x, y] and, when the coordinates
// alone would not find the slot, "<key>Point": slot.
struct PointRef {
  bool hasCoordinates = false;
  double x = 0, y = 0;
  bool hasSlot = false;
  int32_t slot = 0;
  std::string path;
};

PointRef ReadPointRef(ObjectReader& reader, const std::string& key) {
  PointRef ref;
  ref.path = reader.Path(key);
  if (const Json* j = reader.Get(key)) {
    auto [x, y] = ReadCoordinates(*j, reader.Path(key));
    ref.hasCoordinates = true;
    ref.x = x;
    ref.y = y;
  }
  if (const Json* j = reader.Get(key + "Point")) {
    ref.hasSlot = true;
    ref.slot = ReadInt32(*j, reader.Path(key + "Point"));
  }
  if (!ref.hasCoordinates && !ref.hasSlot) Fail(ref.path, "missing");
  return ref;
}

int32_t ResolvePointRef(const PointRef& ref, TDesignRecord& r, PointAssigner& points) {
  if (!ref.hasSlot) return points.SlotFor(ref.x, ref.y, ref.path);
  if (ref.hasCoordinates) {
    if (ref.slot < 0 || ref.slot >= ZM_POINT_SLOTS) {
      Fail(ref.path, "coordinates given for point slot " + std::to_string(ref.slot) +
                         ", which is outside 0 to " + std::to_string(ZM_POINT_SLOTS - 1));
    }
    const TPointEntry& p = r.Points[ref.slot];
    if (BitsOf(p.X, p.Y) != BitsOf(ref.x, ref.y)) {
      Fail(ref.path, "does not match point slot " + std::to_string(ref.slot));
    }
  }
  return ref.slot;
}

void WritePointRef(Json& out, const std::string& key, int32_t slot, const TDesignRecord& r,
                   bool natural) {
  if (slot < 0 || slot >= ZM_POINT_SLOTS) {
    out[key + "Point"] = slot;
    return;
  }
  const TPointEntry& p = r.Points[slot];
  out[key] = WritePointCoordinates(p);
  if (natural) return;
  // With a points table the reader takes the lowest slot of equal
  // coordinates; name the slot when that is not this one.
  for (int i = 0; i < ZM_POINT_SLOTS; ++i) {
    if (BitsOf(r.Points[i].X, r.Points[i].Y) == BitsOf(p.X, p.Y)) {
      if (i != slot) out[key + "Point"] = slot;
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Materials

// The first used slot whose name reads as `text`, or -1.
int FindMaterial(const TDesignRecord& r, const std::string& text) {
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    if (r.Materials[i].InUse && FieldText(r.Materials[i].Name, ZM_NAME_LENGTH) == text) return i;
  }
  return -1;
}

void WriteMaterialFields(Json& out, const TMaterialEntry& m) {
  if (m.InUse != 1) out["inUse"] = WriteFlag(m.InUse);
  WriteText(out, "name", m.Name);
  out["reflection"] = WriteDouble(m.Reflection);
  if (!SameBits(m.Scatter, 0.0)) WriteAngle(out, "scatter", m.Scatter);
  bool allEqual = true;
  for (int b = 1; b < ZM_BAND_COUNT; ++b)
    allEqual = allEqual && SameBits(m.BandFactors[b], m.BandFactors[0]);
  if (allEqual) {
    out["bandFactors"] = WriteDouble(m.BandFactors[0]);
  } else {
    Json bands = Json::array();
    for (int b = 0; b < ZM_BAND_COUNT; ++b) bands.push_back(WriteDouble(m.BandFactors[b]));
    out["bandFactors"] = bands;
  }
  WriteBytes(out, "reserved", m.Reserved, sizeof m.Reserved);
}

void ReadMaterialFields(ObjectReader& reader, TMaterialEntry& m) {
  std::memset(&m, 0, sizeof m);
  m.InUse = 1;
  if (const Json* j = reader.Get("inUse"))
    m.InUse = uint8_t(ReadFlag(*j, reader.Path("inUse"), 0, 255));
  ReadText(reader, "name", m.Name, true);
  m.Reflection = ReadDouble(reader.Require("reflection"), reader.Path("reflection"));
  double scatter = 0.0;
  ReadAngle(reader, "scatter", scatter);
  m.Scatter = scatter;
  const Json& bands = reader.Require("bandFactors");
  const std::string bandsPath = reader.Path("bandFactors");
  if (bands.is_array()) {
    if (bands.size() != ZM_BAND_COUNT) {
      Fail(bandsPath,
           "expected 8 band factors (0, 150, 320, 800, 1800, 4000, 9000, 21000 Hz), got " +
               std::to_string(bands.size()));
    }
    for (int b = 0; b < ZM_BAND_COUNT; ++b)
      m.BandFactors[b] = ReadDouble(bands[b], Index(bandsPath, b));
  } else {
    const double all = ReadDouble(bands, bandsPath);
    for (int b = 0; b < ZM_BAND_COUNT; ++b) m.BandFactors[b] = all;
  }
  ReadOptionalBytes(reader, "reserved", m.Reserved, sizeof m.Reserved);
}

// ---------------------------------------------------------------------------
// Options

struct IntOption {
  const char* key;
  size_t offset;
};

void WriteOptions(Json& out, const TDesignRecord& r) {
  Json o = Json::object();
  o["impulseLength"] = WriteDouble(r.ImpulseLength);
  o["minAmplitude"] = WriteDouble(r.MinAmplitude);
  o["sampleRate"] = int64_t(r.SampleRate);
  o["bitsPerSample"] = int64_t(r.BitsPerSample);
  o["windowType"] = int64_t(r.WindowType);
  o["filterLength"] = int64_t(r.FilterLength);
  o["airAttenuation"] = WriteDouble(r.AirAttenuation);
  o["coordinateScale"] = WriteDouble(r.CoordinateScale);
  o["randomSeed"] = int64_t(r.RandomSeed);
  o["subArrivals"] = int64_t(r.SubArrivals);
  o["balance"] = WriteDouble(r.Balance);
  o["stereoWidth"] = WriteDouble(r.StereoWidth);
  o["trimToDirect"] = WriteFlag(r.TrimToDirect);
  o["directSoundLevel"] = int64_t(r.DirectSoundLevel);
  o["leadIn"] = WriteFlag(r.LeadIn);
  o["gainMode"] = int64_t(r.GainMode);
  o["fixedGainDb"] = WriteDouble(r.FixedGainDb);
  o["defaultRayCount"] = int64_t(r.DefaultRayCount);
  WriteBytes(o, "reserved", r.Reserved1, sizeof r.Reserved1);
  out["options"] = o;
}

// Options a hand-written design leaves out take these values.
void SetDefaultOptions(TDesignRecord& r) {
  r.ImpulseLength = 1.0;
  r.MinAmplitude = 0.0001;
  r.SampleRate = 44100;
  r.BitsPerSample = 24;
  r.WindowType = 0;
  r.FilterLength = 32;
  r.AirAttenuation = 0.9995;
  r.CoordinateScale = 1.0;
  r.RandomSeed = 1;
  r.SubArrivals = 0;
  r.Balance = 0.0;
  r.StereoWidth = 1.0;
  r.TrimToDirect = 0;
  r.DirectSoundLevel = 1;
  r.LeadIn = 0;
  r.GainMode = 0;
  r.FixedGainDb = -48.0;
  r.DefaultRayCount = 10000;
}

void ReadOptions(const Json& j, const std::string& path, TDesignRecord& r) {
  ObjectReader reader(j, path);
  auto dbl = [&](const char* key, double& target) {
    if (const Json* v = reader.Get(key)) target = ReadDouble(*v, reader.Path(key));
  };
  auto i32 = [&](const char* key, int32_t& target) {
    if (const Json* v = reader.Get(key)) target = ReadInt32(*v, reader.Path(key));
  };
  // Packed members cannot be bound to references: go through locals.
  double impulseLength = r.ImpulseLength, minAmplitude = r.MinAmplitude,
         airAttenuation = r.AirAttenuation, coordinateScale = r.CoordinateScale,
         balance = r.Balance, stereoWidth = r.StereoWidth, fixedGainDb = r.FixedGainDb;
  int32_t sampleRate = r.SampleRate, bits = r.BitsPerSample, window = r.WindowType,
          filterLength = r.FilterLength, seed = r.RandomSeed, subArrivals = r.SubArrivals,
          directLevel = r.DirectSoundLevel, defaultRays = r.DefaultRayCount;
  dbl("impulseLength", impulseLength);
  dbl("minAmplitude", minAmplitude);
  i32("sampleRate", sampleRate);
  i32("bitsPerSample", bits);
  i32("windowType", window);
  i32("filterLength", filterLength);
  dbl("airAttenuation", airAttenuation);
  dbl("coordinateScale", coordinateScale);
  i32("randomSeed", seed);
  i32("subArrivals", subArrivals);
  dbl("balance", balance);
  dbl("stereoWidth", stereoWidth);
  if (const Json* v = reader.Get("trimToDirect")) {
    r.TrimToDirect = int32_t(ReadFlag(*v, reader.Path("trimToDirect"), INT32_MIN, INT32_MAX));
  }
  i32("directSoundLevel", directLevel);
  if (const Json* v = reader.Get("leadIn")) {
    r.LeadIn = int16_t(ReadFlag(*v, reader.Path("leadIn"), INT16_MIN, INT16_MAX));
  }
  if (const Json* v = reader.Get("gainMode")) {
    r.GainMode = int16_t(ReadInteger(*v, reader.Path("gainMode"), INT16_MIN, INT16_MAX));
  }
  dbl("fixedGainDb", fixedGainDb);
  i32("defaultRayCount", defaultRays);
  ReadOptionalBytes(reader, "reserved", r.Reserved1, sizeof r.Reserved1);
  reader.Finish();
  r.ImpulseLength = impulseLength;
  r.MinAmplitude = minAmplitude;
  r.SampleRate = sampleRate;
  r.BitsPerSample = bits;
  r.WindowType = window;
  r.FilterLength = filterLength;
  r.AirAttenuation = airAttenuation;
  r.CoordinateScale = coordinateScale;
  r.RandomSeed = seed;
  r.SubArrivals = subArrivals;
  r.Balance = balance;
  r.StereoWidth = stereoWidth;
  r.DirectSoundLevel = directLevel;
  r.FixedGainDb = fixedGainDb;
  r.DefaultRayCount = defaultRays;
}

// ---------------------------------------------------------------------------
// Unused slots with stale bytes

template <typename Entry>
void WriteUnusedSlots(Json& unused, const char* key, const Entry* slots, int count) {
  Json section = Json::object();
  for (int i = 0; i < count; ++i) {
    if (!slots[i].InUse && !AllZero(&slots[i], sizeof(Entry))) {
      section[std::to_string(i)] =
          Base64Encode(reinterpret_cast<const uint8_t*>(&slots[i]), sizeof(Entry));
    }
  }
  if (!section.empty()) unused[key] = section;
}

template <typename Entry>
void ReadUnusedSlots(ObjectReader& reader, const char* key, Entry* slots, int count,
                     const std::vector<bool>& used) {
  const Json* section = reader.Get(key);
  if (section == nullptr) return;
  const std::string path = reader.Path(key);
  if (!section->is_object())
    Fail(path, "expected an object keyed by slot number, got " + Describe(*section));
  for (auto it = section->begin(); it != section->end(); ++it) {
    const std::string itemPath = path + "." + it.key();
    int slot = -1;
    try {
      size_t end = 0;
      slot = std::stoi(it.key(), &end);
      if (end != it.key().size()) slot = -1;
    } catch (const std::exception&) {
      slot = -1;
    }
    if (slot < 0 || slot >= count) {
      Fail(itemPath, "not a slot number from 0 to " + std::to_string(count - 1));
    }
    if (used[slot]) Fail(itemPath, "the slot is already used by an entry");
    ReadBytesInto(*it, itemPath, &slots[slot], sizeof(Entry));
    if (slots[slot].InUse) Fail(itemPath, "the first byte of an unused slot must be zero");
  }
}

std::string FormatOf(ObjectReader& reader) {
  const Json* format = reader.Get("format");
  if (format == nullptr) return "";
  if (!format->is_string()) Fail("format", "expected a string, got " + Describe(*format));
  return format->get<std::string>();
}

}  // namespace

std::string FieldText(const char* field, size_t size) {
  size_t length = 0;
  while (length < size && field[length] != 0) ++length;
  return std::string(field, length);
}

namespace {

void Dump(const Json& j, int indent, std::string& out) {
  const std::string pad(size_t(indent), ' ');
  if (j.is_object()) {
    if (j.empty()) {
      out += "{}";
      return;
    }
    out += "{\n";
    size_t k = 0;
    for (auto it = j.begin(); it != j.end(); ++it, ++k) {
      out += pad + "  " + Json(it.key()).dump() + ": ";
      Dump(*it, indent + 2, out);
      out += k + 1 < j.size() ? ",\n" : "\n";
    }
    out += pad + "}";
  } else if (j.is_array()) {
    const bool flat =
        std::none_of(j.begin(), j.end(), [](const Json& e) { return e.is_structured(); });
    if (flat) {
      out += "[";
      for (size_t k = 0; k < j.size(); ++k) out += (k ? ", " : "") + j[k].dump();
      out += "]";
      return;
    }
    out += "[\n";
    for (size_t k = 0; k < j.size(); ++k) {
      out += pad + "  ";
      Dump(j[k], indent + 2, out);
      out += k + 1 < j.size() ? ",\n" : "\n";
    }
    out += pad + "]";
  } else {
    out += j.dump();
  }
}

}  // namespace

std::string FormatJson(const Json& json) {
  std::string out;
  Dump(json, 0, out);
  return out + "\n";
}

Json ParseJsonText(const std::string& text, const std::string& source) {
  try {
    return Json::parse(text, nullptr, true, /*ignore_comments=*/true);
  } catch (const nlohmann::json::parse_error& e) {
    std::string what = e.what();
    // Drop the library's "[json.exception.parse_error.101] " prefix.
    auto bracket = what.find("] ");
    if (bracket != std::string::npos) what = what.substr(bracket + 2);
    throw JsonFormatError(source + ": " + what);
  }
}

std::string JsonFormatOf(const Json& json) {
  if (!json.is_object()) return "";
  auto it = json.find("format");
  if (it == json.end() || !it->is_string()) return "";
  return it->get<std::string>();
}

Json DesignToJson(const TDesignRecord& r) {
  Json out = Json::object();
  out["format"] = kDesignFormat;
  if (!AllZero(r.Title, sizeof r.Title)) WriteText(out, "title", r.Title);
  if (!AllZero(r.Comment, sizeof r.Comment)) WriteText(out, "comment", r.Comment);
  WriteOptions(out, r);

  Json materials = Json::array();
  int natural = 0;
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    const TMaterialEntry& m = r.Materials[i];
    if (!m.InUse) continue;
    Json entry = Json::object();
    if (i != natural) entry["slot"] = i;
    WriteMaterialFields(entry, m);
    materials.push_back(entry);
    natural = i + 1;
  }
  out["materials"] = materials;

  const bool naturalPoints = PointsAreNatural(r);
  Json walls = Json::array();
  natural = 0;
  for (int i = 0; i < ZM_WALL_SLOTS; ++i) {
    const TWallEntry& w = r.Walls[i];
    if (!w.InUse) continue;
    Json entry = Json::object();
    if (i != natural) entry["slot"] = i;
    if (w.InUse != 1) entry["inUse"] = int64_t(w.InUse);
    WritePointRef(entry, "from", w.StartPoint, r, naturalPoints);
    WritePointRef(entry, "to", w.EndPoint, r, naturalPoints);
    const int32_t material = w.Material;
    if (material >= 0 && material < ZM_MATERIAL_SLOTS && r.Materials[material].InUse &&
        FindMaterial(r, FieldText(r.Materials[material].Name, ZM_NAME_LENGTH)) == material) {
      entry["material"] = BytesToUtf8(FieldText(r.Materials[material].Name, ZM_NAME_LENGTH));
    } else {
      entry["materialSlot"] = material;
    }
    if (w.PassThrough) entry["passThrough"] = WriteFlag(w.PassThrough);
    if (w.Receiver) entry["receiver"] = WriteFlag(w.Receiver);
    if (w.Channel != 0) entry["channel"] = int64_t(w.Channel);
    if (!SameBits(w.Gain, 1.0)) entry["gain"] = WriteDouble(w.Gain);
    if (w.Pattern != 0) entry["pattern"] = int64_t(w.Pattern);
    WriteBytes(entry, "reserved", w.Reserved, sizeof w.Reserved);
    walls.push_back(entry);
    natural = i + 1;
  }
  out["walls"] = walls;

  Json emitters = Json::array();
  natural = 0;
  for (int i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    const TEmitterEntry& e = r.Emitters[i];
    if (!e.InUse) continue;
    Json entry = Json::object();
    if (i != natural) entry["slot"] = i;
    if (e.InUse != 1) entry["inUse"] = int64_t(e.InUse);
    WritePointRef(entry, "at", e.Point, r, naturalPoints);
    WriteAngle(entry, "direction", e.Direction);
    WriteAngle(entry, "spread", e.Spread);
    entry["rayCount"] = int64_t(e.RayCount);
    if (e.RandomDirections) entry["randomDirections"] = WriteFlag(e.RandomDirections);
    if (!SameBits(e.Level, 1.0)) entry["level"] = WriteDouble(e.Level);
    if (e.Group != 0) entry["group"] = int64_t(e.Group);
    if (e.UseDefaultRayCount) entry["useDefaultRayCount"] = WriteFlag(e.UseDefaultRayCount);
    WriteBytes(entry, "reserved", e.Reserved, sizeof e.Reserved);
    emitters.push_back(entry);
    natural = i + 1;
  }
  out["emitters"] = emitters;

  Json groups = Json::array();
  natural = 0;
  for (int i = 0; i < ZM_GROUP_SLOTS; ++i) {
    const TGroupEntry& g = r.Groups[i];
    if (AllZero(&g, sizeof g)) continue;
    Json entry = Json::object();
    if (i != natural) entry["slot"] = i;
    if (g.InUse != 1) entry["inUse"] = WriteFlag(g.InUse);
    WriteText(entry, "name", g.Name);
    WriteBytes(entry, "hostData", g.HostData, sizeof g.HostData);
    if (g.DefaultMark != 0) entry["defaultMark"] = int64_t(g.DefaultMark);
    WriteBytes(entry, "reserved", g.Reserved, sizeof g.Reserved);
    groups.push_back(entry);
    natural = i + 1;
  }
  out["groups"] = groups;

  if (!naturalPoints) {
    Json points = Json::array();
    std::set<int32_t> referenced;
    for (int32_t ref : PointReferences(r)) referenced.insert(ref);
    natural = 0;
    for (int i = 0; i < ZM_POINT_SLOTS; ++i) {
      const TPointEntry& p = r.Points[i];
      if (!referenced.contains(i) && AllZero(&p, sizeof p)) continue;
      Json entry = Json::object();
      if (i != natural) entry["slot"] = i;
      entry["x"] = WriteDouble(p.X);
      entry["y"] = WriteDouble(p.Y);
      WriteBytes(entry, "hostData", p.HostData, sizeof p.HostData);
      points.push_back(entry);
      natural = i + 1;
    }
    out["points"] = points;
  }

  Json unused = Json::object();
  WriteUnusedSlots(unused, "materials", r.Materials, ZM_MATERIAL_SLOTS);
  WriteUnusedSlots(unused, "walls", r.Walls, ZM_WALL_SLOTS);
  WriteUnusedSlots(unused, "emitters", r.Emitters, ZM_EMITTER_SLOTS);
  if (!unused.empty()) out["unusedSlots"] = unused;
  WriteBytes(out, "hostBlock", r.HostBlock, sizeof r.HostBlock);
  WriteBytes(out, "reserved", r.Reserved2, sizeof r.Reserved2);
  return out;
}

void DesignFromJson(const Json& json, TDesignRecord& r) {
  std::memset(&r, 0, sizeof r);
  ObjectReader top(json, "");
  const std::string format = FormatOf(top);
  if (!format.empty() && format != kDesignFormat) {
    Fail("format", "expected \"" + std::string(kDesignFormat) + "\", got \"" + format + "\"");
  }
  top.Get("description");  // a note for the reader; not stored in the record
  if (const Json* d = top.Get("description"); d != nullptr && !d->is_string()) {
    Fail("description", "expected a string, got " + Describe(*d));
  }
  ReadText(top, "title", r.Title, false);
  ReadText(top, "comment", r.Comment, false);
  SetDefaultOptions(r);
  if (const Json* options = top.Get("options")) ReadOptions(*options, "options", r);

  // Materials first: walls refer to them by name.
  std::vector<bool> materialUsed(ZM_MATERIAL_SLOTS, false);
  if (const Json* materials = top.Get("materials")) {
    RequireArray(*materials, "materials");
    int natural = 0;
    for (size_t k = 0; k < materials->size(); ++k) {
      ObjectReader reader((*materials)[k], Index("materials", k));
      const int slot = ReadSlot(reader, natural, ZM_MATERIAL_SLOTS);
      if (materialUsed[slot])
        Fail(reader.Path("slot"), "slot " + std::to_string(slot) + " is given twice");
      TMaterialEntry m;
      ReadMaterialFields(reader, m);
      if (!m.InUse)
        Fail(reader.Path("inUse"),
             "a listed material must be in use (unused slots go in \"unusedSlots\")");
      reader.Finish();
      r.Materials[slot] = m;
      materialUsed[slot] = true;
      natural = slot + 1;
    }
  }

  // Walls and emitters are read first and their points resolved afterwards,
  // in slot order, so that slot numbers come out as the writer numbers them.
  struct WallRefs {
    PointRef from, to;
  };
  std::map<int, WallRefs> wallRefs;
  std::vector<bool> wallUsed(ZM_WALL_SLOTS, false);
  if (const Json* walls = top.Get("walls")) {
    RequireArray(*walls, "walls");
    int natural = 0;
    for (size_t k = 0; k < walls->size(); ++k) {
      ObjectReader reader((*walls)[k], Index("walls", k));
      const int slot = ReadSlot(reader, natural, ZM_WALL_SLOTS);
      if (wallUsed[slot])
        Fail(reader.Path("slot"), "slot " + std::to_string(slot) + " is given twice");
      TWallEntry w;
      std::memset(&w, 0, sizeof w);
      w.InUse = 1;
      if (const Json* j = reader.Get("inUse"))
        w.InUse = uint8_t(ReadInUse(*j, reader.Path("inUse")));
      WallRefs refs{ReadPointRef(reader, "from"), ReadPointRef(reader, "to")};
      const Json* name = reader.Get("material");
      const Json* slotIndex = reader.Get("materialSlot");
      if (name != nullptr && slotIndex != nullptr) {
        Fail(reader.Path("material"), "give either \"material\" or \"materialSlot\", not both");
      }
      if (name != nullptr) {
        if (!name->is_string())
          Fail(reader.Path("material"), "expected a string, got " + Describe(*name));
        std::string bytes;
        if (!Utf8ToBytes(name->get<std::string>(), bytes)) {
          Fail(reader.Path("material"), "only characters U+0000 to U+00FF can be stored");
        }
        const int found = FindMaterial(r, bytes);
        if (found < 0)
          Fail(reader.Path("material"), "no material named \"" + name->get<std::string>() + "\"");
        w.Material = found;
      } else if (slotIndex != nullptr) {
        w.Material = ReadInt32(*slotIndex, reader.Path("materialSlot"));
      } else {
        Fail(reader.Path("material"), "missing");
      }
      if (const Json* j = reader.Get("passThrough"))
        w.PassThrough = uint8_t(ReadFlag(*j, reader.Path("passThrough"), 0, 255));
      if (const Json* j = reader.Get("receiver"))
        w.Receiver = uint8_t(ReadFlag(*j, reader.Path("receiver"), 0, 255));
      if (const Json* j = reader.Get("channel")) w.Channel = ReadInt32(*j, reader.Path("channel"));
      w.Gain = 1.0;
      if (const Json* j = reader.Get("gain")) w.Gain = ReadDouble(*j, reader.Path("gain"));
      if (const Json* j = reader.Get("pattern")) w.Pattern = ReadInt32(*j, reader.Path("pattern"));
      ReadOptionalBytes(reader, "reserved", w.Reserved, sizeof w.Reserved);
      reader.Finish();
      r.Walls[slot] = w;
      wallUsed[slot] = true;
      wallRefs[slot] = refs;
      natural = slot + 1;
    }
  }

  std::map<int, PointRef> emitterRefs;
  std::vector<bool> emitterUsed(ZM_EMITTER_SLOTS, false);
  if (const Json* emitters = top.Get("emitters")) {
    RequireArray(*emitters, "emitters");
    int natural = 0;
    for (size_t k = 0; k < emitters->size(); ++k) {
      ObjectReader reader((*emitters)[k], Index("emitters", k));
      const int slot = ReadSlot(reader, natural, ZM_EMITTER_SLOTS);
      if (emitterUsed[slot])
        Fail(reader.Path("slot"), "slot " + std::to_string(slot) + " is given twice");
      TEmitterEntry e;
      std::memset(&e, 0, sizeof e);
      e.InUse = 1;
      if (const Json* j = reader.Get("inUse"))
        e.InUse = uint8_t(ReadInUse(*j, reader.Path("inUse")));
      PointRef at = ReadPointRef(reader, "at");
      double angle = 0.0;
      if (!ReadAngle(reader, "direction", angle)) Fail(reader.Path("directionDeg"), "missing");
      e.Direction = angle;
      if (!ReadAngle(reader, "spread", angle)) Fail(reader.Path("spreadDeg"), "missing");
      e.Spread = angle;
      if (const Json* j = reader.Get("randomDirections"))
        e.RandomDirections = uint8_t(ReadFlag(*j, reader.Path("randomDirections"), 0, 255));
      e.Level = 1.0;
      if (const Json* j = reader.Get("level")) e.Level = ReadDouble(*j, reader.Path("level"));
      if (const Json* j = reader.Get("group")) e.Group = ReadInt32(*j, reader.Path("group"));
      if (const Json* j = reader.Get("useDefaultRayCount"))
        e.UseDefaultRayCount = uint8_t(ReadFlag(*j, reader.Path("useDefaultRayCount"), 0, 255));
      if (const Json* j = reader.Get("rayCount")) {
        e.RayCount = ReadInt32(*j, reader.Path("rayCount"));
      } else if (!e.UseDefaultRayCount) {
        Fail(reader.Path("rayCount"), "missing (or set \"useDefaultRayCount\")");
      }
      ReadOptionalBytes(reader, "reserved", e.Reserved, sizeof e.Reserved);
      reader.Finish();
      r.Emitters[slot] = e;
      emitterUsed[slot] = true;
      emitterRefs[slot] = at;
      natural = slot + 1;
    }
  }

  if (const Json* groups = top.Get("groups")) {
    RequireArray(*groups, "groups");
    std::vector<bool> used(ZM_GROUP_SLOTS, false);
    int natural = 0;
    for (size_t k = 0; k < groups->size(); ++k) {
      ObjectReader reader((*groups)[k], Index("groups", k));
      const int slot = ReadSlot(reader, natural, ZM_GROUP_SLOTS);
      if (used[slot]) Fail(reader.Path("slot"), "slot " + std::to_string(slot) + " is given twice");
      TGroupEntry g;
      std::memset(&g, 0, sizeof g);
      g.InUse = 1;
      if (const Json* j = reader.Get("inUse"))
        g.InUse = uint8_t(ReadFlag(*j, reader.Path("inUse"), 0, 255));
      ReadText(reader, "name", g.Name, true);
      ReadOptionalBytes(reader, "hostData", g.HostData, sizeof g.HostData);
      if (const Json* j = reader.Get("defaultMark"))
        g.DefaultMark = ReadInt32(*j, reader.Path("defaultMark"));
      ReadOptionalBytes(reader, "reserved", g.Reserved, sizeof g.Reserved);
      reader.Finish();
      r.Groups[slot] = g;
      used[slot] = true;
      natural = slot + 1;
    }
  }

  PointAssigner assigner(r);
  if (const Json* points = top.Get("points")) {
    RequireArray(*points, "points");
    int natural = 0;
    std::vector<bool> used(ZM_POINT_SLOTS, false);
    for (size_t k = 0; k < points->size(); ++k) {
      ObjectReader reader((*points)[k], Index("points", k));
      const int slot = ReadSlot(reader, natural, ZM_POINT_SLOTS);
      if (used[slot]) Fail(reader.Path("slot"), "slot " + std::to_string(slot) + " is given twice");
      TPointEntry p;
      std::memset(&p, 0, sizeof p);
      p.X = ReadDouble(reader.Require("x"), reader.Path("x"));
      p.Y = ReadDouble(reader.Require("y"), reader.Path("y"));
      ReadOptionalBytes(reader, "hostData", p.HostData, sizeof p.HostData);
      reader.Finish();
      r.Points[slot] = p;
      used[slot] = true;
      assigner.Declare(slot);
      natural = slot + 1;
    }
  }
  for (auto& [slot, refs] : wallRefs) {
    r.Walls[slot].StartPoint = ResolvePointRef(refs.from, r, assigner);
    r.Walls[slot].EndPoint = ResolvePointRef(refs.to, r, assigner);
  }
  for (auto& [slot, ref] : emitterRefs) r.Emitters[slot].Point = ResolvePointRef(ref, r, assigner);

  if (const Json* unused = top.Get("unusedSlots")) {
    ObjectReader reader(*unused, "unusedSlots");
    ReadUnusedSlots(reader, "materials", r.Materials, ZM_MATERIAL_SLOTS, materialUsed);
    ReadUnusedSlots(reader, "walls", r.Walls, ZM_WALL_SLOTS, wallUsed);
    ReadUnusedSlots(reader, "emitters", r.Emitters, ZM_EMITTER_SLOTS, emitterUsed);
    reader.Finish();
  }
  ReadOptionalBytes(top, "hostBlock", r.HostBlock, sizeof r.HostBlock);
  ReadOptionalBytes(top, "reserved", r.Reserved2, sizeof r.Reserved2);
  top.Finish();
}

Json MaterialToJson(const TMaterialEntry& material) {
  Json out = Json::object();
  out["format"] = kMaterialFormat;
  WriteMaterialFields(out, material);
  return out;
}

void MaterialFromJson(const Json& json, TMaterialEntry& material) {
  ObjectReader reader(json, "");
  const std::string format = FormatOf(reader);
  if (!format.empty() && format != kMaterialFormat) {
    Fail("format", "expected \"" + std::string(kMaterialFormat) + "\", got \"" + format + "\"");
  }
  if (const Json* d = reader.Get("description"); d != nullptr && !d->is_string()) {
    Fail("description", "expected a string, got " + Describe(*d));
  }
  TMaterialEntry m;
  ReadMaterialFields(reader, m);
  reader.Finish();
  material = m;
}

}  // namespace zm::cli
