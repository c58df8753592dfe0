#include "lib/design/design_json.h"

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

#include "lib/base/text.h"

namespace zm::cli {

namespace {

using namespace json_text;

// The keys each kind of object may hold, for suggestions when a key is
// misspelt. The reader itself refuses any key it did not ask for.
const KeyList kTopKeys = {"format",       "description", "title",       "titleBytes", "comment",
                          "commentBytes", "options",     "materials",   "walls",      "emitters",
                          "groups",       "points",      "unusedSlots", "hostBlock",  "reserved"};
// With the acoustician's forms that are lowered to the record's keys before
// the reader sees the material.
const KeyList kMaterialKeys = {"format",     "description", "slot",       "inUse",
                               "name",       "nameBytes",   "reflection", "scatter",
                               "scatterDeg", "bandFactors", "reserved",   "absorption",
                               "scattering", "catalogue",   "file"};
const KeyList kWallKeys = {"slot",    "inUse",    "from",         "fromPoint",   "to",
                           "toPoint", "material", "materialSlot", "passThrough", "receiver",
                           "channel", "gain",     "pattern",      "reserved"};
const KeyList kEmitterKeys = {"slot",
                              "inUse",
                              "at",
                              "atPoint",
                              "direction",
                              "directionDeg",
                              "spread",
                              "spreadDeg",
                              "rayCount",
                              "randomDirections",
                              "level",
                              "group",
                              "useDefaultRayCount",
                              "reserved"};
const KeyList kGroupKeys = {"slot",     "inUse",       "name",    "nameBytes",
                            "hostData", "defaultMark", "reserved"};
const KeyList kPointKeys = {"slot", "x", "y", "hostData"};
const KeyList kUnusedSlotKeys = {"materials", "walls", "emitters"};

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
  const std::string text = NameText(field);
  out[key] = BytesToUtf8(text);
  if (text.size() < ZM_NAME_LENGTH && !AllZero(field + text.size(), ZM_NAME_LENGTH - text.size())) {
    out[key + "Bytes"] = Base64Encode(reinterpret_cast<const uint8_t*>(field), ZM_NAME_LENGTH);
  }
}

// A JSON string as the 8-bit text a record holds.
std::string ReadByteString(const Json& j, const std::string& path) {
  if (!j.is_string()) Fail(path, "expected a string, got " + Describe(j));
  std::string bytes;
  if (!Utf8ToBytes(j.get_ref<const std::string&>(), bytes)) {
    Fail(path, "only characters U+0000 to U+00FF can be stored");
  }
  return bytes;
}

bool ReadText(ObjectReader& reader, const std::string& key, char* field, bool required) {
  const Json* text = required ? &reader.Require(key) : reader.Get(key);
  const Json* raw = reader.Get(key + "Bytes");
  std::string bytes;
  if (text != nullptr) {
    bytes = ReadByteString(*text, reader.Path(key));
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
    if (text != nullptr && NameText(field) != bytes) {
      Fail(reader.Path(key), "does not match the text in \"" + key + "Bytes\"");
    }
    return true;
  }
  if (text == nullptr) return false;
  std::memcpy(field, bytes.data(), bytes.size());
  return true;
}

// Optional keys: the value given, else `fallback`.
double ReadOptionalDouble(ObjectReader& reader, const std::string& key, double fallback) {
  const Json* j = reader.Get(key);
  return j == nullptr ? fallback : ReadDouble(*j, reader.Path(key));
}

int32_t ReadOptionalInt32(ObjectReader& reader, const std::string& key, int32_t fallback) {
  const Json* j = reader.Get(key);
  return j == nullptr ? fallback : ReadInt32(*j, reader.Path(key));
}

// A one-byte flag field.
uint8_t ReadOptionalFlag(ObjectReader& reader, const std::string& key, uint8_t fallback = 0) {
  const Json* j = reader.Get(key);
  return j == nullptr ? fallback : uint8_t(ReadFlag(*j, reader.Path(key), 0, 255));
}

// Listed walls and emitters are in use; the flag only carries an unusual
// stored value. Unused slots with stale bytes go in "unusedSlots".
uint8_t ReadListedInUse(ObjectReader& reader) {
  const uint8_t value = ReadOptionalFlag(reader, "inUse", 1);
  if (value == 0) {
    Fail(reader.Path("inUse"),
         "a listed entry must be in use (unused slots go in \"unusedSlots\")");
  }
  return value;
}

std::string Index(const std::string& path, size_t i) {
  return path + "[" + std::to_string(i) + "]";
}

// ---------------------------------------------------------------------------
// Slot arrays: the record's fixed tables (materials, walls, emitters, groups,
// points) as JSON arrays of the entries worth listing. Entries are listed in
// slot order; "slot" is written only when an entry does not follow the
// previous one.

// The slot of an entry: its "slot" key, else the one after the previous
// entry's (`natural`).
int ReadSlot(ObjectReader& reader, int natural, int count) {
  if (const Json* j = reader.Get("slot")) {
    return int(ReadInteger(*j, reader.Path("slot"), 0, count - 1));
  }
  if (natural >= count)
    Fail(reader.PathOrRoot(), "no slot left (at most " + std::to_string(count) + ")");
  return natural;
}

constexpr auto kInUse = [](const auto& entry, int /*slot*/) { return entry.InUse != 0; };

// `listed(entry, slot)` picks the entries; `writeEntry(json, entry)` adds
// their keys after "slot".
template <typename Entry, size_t Count, typename Listed, typename WriteEntry>
Json WriteSlotArray(const Entry (&slots)[Count], Listed listed, WriteEntry writeEntry) {
  Json array = Json::array();
  int natural = 0;
  for (int i = 0; i < int(Count); ++i) {
    if (!listed(slots[i], i)) continue;
    Json entry = Json::object();
    if (i != natural) entry["slot"] = i;
    writeEntry(entry, slots[i]);
    array.push_back(entry);
    natural = i + 1;
  }
  return array;
}

// Notes the path of an entry read into `slot` and the keys it holds.
void NoteOrigin(JsonOrigins* origins, std::map<int, std::string> JsonOrigins::*table, int slot,
                const std::string& path, const Json& entry) {
  if (origins == nullptr) return;
  (origins->*table).emplace(slot, path);
  std::set<std::string>& keys = origins->keys[path];
  for (auto it = entry.begin(); it != entry.end(); ++it) {
    keys.insert(it.key());
    if (it->is_array()) keys.insert(it.key() + "[]");
  }
}

// Reads the array under `key`, if given, into `slots`: `readEntry(reader,
// slot)` returns an entry, and keys it did not ask for (the entry kind's
// `known` keys serve as suggestions) are refused. Returns the slots the
// array filled; each may be filled once. Their paths go into `table` of
// `origins`, when given.
template <typename Entry, size_t Count, typename ReadEntry>
std::vector<bool> ReadSlotArray(ObjectReader& parent, const std::string& key, Entry (&slots)[Count],
                                const KeyList& known, ReadEntry readEntry,
                                JsonOrigins* origins = nullptr,
                                std::map<int, std::string> JsonOrigins::*table = nullptr) {
  std::vector<bool> filled(Count, false);
  const Json* array = parent.Get(key);
  if (array == nullptr) return filled;
  const std::string path = parent.Path(key);
  if (!array->is_array()) Fail(path, "expected an array, got " + Describe(*array));
  int natural = 0;
  for (size_t k = 0; k < array->size(); ++k) {
    ObjectReader reader((*array)[k], Index(path, k), known);
    const int slot = ReadSlot(reader, natural, int(Count));
    if (filled[slot]) {
      Fail(reader.Path("slot"), "slot " + std::to_string(slot) + " is given twice");
    }
    const Entry entry = readEntry(reader, slot);
    reader.Finish();
    if (table != nullptr) NoteOrigin(origins, table, slot, Index(path, k), (*array)[k]);
    slots[slot] = entry;
    filled[slot] = true;
    natural = slot + 1;
  }
  return filled;
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
  if (!ref.hasCoordinates && !ref.hasSlot) reader.Missing(key);
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

// The points table, written only when the coordinates alone would not
// rebuild it: every referenced slot and every slot holding any bytes.
void WritePoint(Json& entry, const TPointEntry& p) {
  entry["x"] = WriteDouble(p.X);
  entry["y"] = WriteDouble(p.Y);
  WriteBytes(entry, "hostData", p.HostData, sizeof p.HostData);
}

Json WritePointsTable(const TDesignRecord& r) {
  std::set<int32_t> referenced;
  for (int32_t ref : PointReferences(r)) referenced.insert(ref);
  auto listed = [&](const TPointEntry& p, int slot) {
    return referenced.contains(slot) || !AllZero(&p, sizeof p);
  };
  return WriteSlotArray(r.Points, listed, WritePoint);
}

TPointEntry ReadPoint(ObjectReader& reader) {
  TPointEntry p;
  std::memset(&p, 0, sizeof p);
  p.X = ReadDouble(reader.Require("x"), reader.Path("x"));
  p.Y = ReadDouble(reader.Require("y"), reader.Path("y"));
  ReadOptionalBytes(reader, "hostData", p.HostData, sizeof p.HostData);
  return p;
}

// ---------------------------------------------------------------------------
// Materials

// The first used slot whose name reads as `text`, or -1.
int FindMaterial(const TDesignRecord& r, const std::string& text) {
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    if (r.Materials[i].InUse && NameText(r.Materials[i].Name) == text) return i;
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

// One factor per band, or a single number for all of them.
std::array<double, ZM_BAND_COUNT> ReadBandFactors(const Json& bands, const std::string& path) {
  std::array<double, ZM_BAND_COUNT> factors;
  if (!bands.is_array()) {
    factors.fill(ReadDouble(bands, path));
    return factors;
  }
  if (bands.size() != ZM_BAND_COUNT) {
    Fail(path, "expected " + std::to_string(ZM_BAND_COUNT) +
                   " band factors (0, 150, 320, 800, 1800, 4000, 9000, 21000 Hz), got " +
                   std::to_string(bands.size()));
  }
  for (int b = 0; b < ZM_BAND_COUNT; ++b) factors[b] = ReadDouble(bands[b], Index(path, b));
  return factors;
}

void ReadMaterialFields(ObjectReader& reader, TMaterialEntry& m) {
  std::memset(&m, 0, sizeof m);
  m.InUse = ReadOptionalFlag(reader, "inUse", 1);
  ReadText(reader, "name", m.Name, true);
  m.Reflection = ReadDouble(reader.Require("reflection"), reader.Path("reflection"));
  double scatter = 0.0;
  ReadAngle(reader, "scatter", scatter);
  m.Scatter = scatter;
  const auto bands = ReadBandFactors(reader.Require("bandFactors"), reader.Path("bandFactors"));
  std::memcpy(m.BandFactors, bands.data(), sizeof m.BandFactors);
  ReadOptionalBytes(reader, "reserved", m.Reserved, sizeof m.Reserved);
}

TMaterialEntry ReadListedMaterial(ObjectReader& reader) {
  TMaterialEntry m;
  ReadMaterialFields(reader, m);
  if (!m.InUse) {
    Fail(reader.Path("inUse"),
         "a listed material must be in use (unused slots go in \"unusedSlots\")");
  }
  return m;
}

// ---------------------------------------------------------------------------
// Walls

// By name when the name leads back to this very slot, else by slot number.
void WriteWallMaterial(Json& entry, int32_t material, const TDesignRecord& r) {
  if (material >= 0 && material < ZM_MATERIAL_SLOTS && r.Materials[material].InUse &&
      FindMaterial(r, NameText(r.Materials[material].Name)) == material) {
    entry["material"] = BytesToUtf8(NameText(r.Materials[material].Name));
  } else {
    entry["materialSlot"] = material;
  }
}

void WriteWall(Json& entry, const TWallEntry& w, const TDesignRecord& r, bool naturalPoints) {
  if (w.InUse != 1) entry["inUse"] = int64_t(w.InUse);
  WritePointRef(entry, "from", w.StartPoint, r, naturalPoints);
  WritePointRef(entry, "to", w.EndPoint, r, naturalPoints);
  WriteWallMaterial(entry, w.Material, r);
  if (w.PassThrough) entry["passThrough"] = WriteFlag(w.PassThrough);
  if (w.Receiver) entry["receiver"] = WriteFlag(w.Receiver);
  if (w.Channel != 0) entry["channel"] = int64_t(w.Channel);
  if (!SameBits(w.Gain, 1.0)) entry["gain"] = WriteDouble(w.Gain);
  if (w.Pattern != 0) entry["pattern"] = int64_t(w.Pattern);
  WriteBytes(entry, "reserved", w.Reserved, sizeof w.Reserved);
}

// Materials are read before the walls, so a name finds its slot.
int32_t ReadWallMaterial(ObjectReader& reader, const TDesignRecord& r) {
  const Json* name = reader.Get("material");
  const Json* slot = reader.Get("materialSlot");
  if (name != nullptr && slot != nullptr) {
    Fail(reader.Path("material"), "give either \"material\" or \"materialSlot\", not both");
  }
  if (slot != nullptr) return ReadInt32(*slot, reader.Path("materialSlot"));
  if (name == nullptr) reader.Missing("material");
  const int found = FindMaterial(r, ReadByteString(*name, reader.Path("material")));
  if (found < 0) {
    Fail(reader.Path("material"), "no material named \"" + name->get<std::string>() + "\"");
  }
  return found;
}

// The end points are only noted in `ends`; they get their slots once all
// walls and emitters are read.
struct WallEnds {
  PointRef from, to;
};

TWallEntry ReadWall(ObjectReader& reader, const TDesignRecord& r, WallEnds& ends) {
  TWallEntry w;
  std::memset(&w, 0, sizeof w);
  w.InUse = ReadListedInUse(reader);
  ends = {ReadPointRef(reader, "from"), ReadPointRef(reader, "to")};
  w.Material = ReadWallMaterial(reader, r);
  w.PassThrough = ReadOptionalFlag(reader, "passThrough");
  w.Receiver = ReadOptionalFlag(reader, "receiver");
  w.Channel = ReadOptionalInt32(reader, "channel", 0);
  w.Gain = ReadOptionalDouble(reader, "gain", 1.0);
  w.Pattern = ReadOptionalInt32(reader, "pattern", 0);
  ReadOptionalBytes(reader, "reserved", w.Reserved, sizeof w.Reserved);
  return w;
}

// ---------------------------------------------------------------------------
// Emitters and groups

void WriteEmitter(Json& entry, const TEmitterEntry& e, const TDesignRecord& r, bool naturalPoints) {
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
}

double RequireAngle(ObjectReader& reader, const std::string& key) {
  double radians = 0.0;
  if (!ReadAngle(reader, key, radians)) reader.Missing(key + "Deg");
  return radians;
}

// Like a wall's ends, the position is only noted in `at`.
TEmitterEntry ReadEmitter(ObjectReader& reader, PointRef& at) {
  TEmitterEntry e;
  std::memset(&e, 0, sizeof e);
  e.InUse = ReadListedInUse(reader);
  at = ReadPointRef(reader, "at");
  e.Direction = RequireAngle(reader, "direction");
  e.Spread = RequireAngle(reader, "spread");
  e.RandomDirections = ReadOptionalFlag(reader, "randomDirections");
  e.Level = ReadOptionalDouble(reader, "level", 1.0);
  e.Group = ReadOptionalInt32(reader, "group", 0);
  e.UseDefaultRayCount = ReadOptionalFlag(reader, "useDefaultRayCount");
  if (const Json* j = reader.Get("rayCount")) {
    e.RayCount = ReadInt32(*j, reader.Path("rayCount"));
  } else if (!e.UseDefaultRayCount) {
    reader.Missing("rayCount", " (or set \"useDefaultRayCount\")");
  }
  ReadOptionalBytes(reader, "reserved", e.Reserved, sizeof e.Reserved);
  return e;
}

// Groups carry no separate in-use meaning: a slot is listed when it holds
// any bytes at all.
void WriteGroup(Json& entry, const TGroupEntry& g) {
  if (g.InUse != 1) entry["inUse"] = WriteFlag(g.InUse);
  WriteText(entry, "name", g.Name);
  WriteBytes(entry, "hostData", g.HostData, sizeof g.HostData);
  if (g.DefaultMark != 0) entry["defaultMark"] = int64_t(g.DefaultMark);
  WriteBytes(entry, "reserved", g.Reserved, sizeof g.Reserved);
}

TGroupEntry ReadGroup(ObjectReader& reader) {
  TGroupEntry g;
  std::memset(&g, 0, sizeof g);
  g.InUse = ReadOptionalFlag(reader, "inUse", 1);
  ReadText(reader, "name", g.Name, true);
  ReadOptionalBytes(reader, "hostData", g.HostData, sizeof g.HostData);
  g.DefaultMark = ReadOptionalInt32(reader, "defaultMark", 0);
  ReadOptionalBytes(reader, "reserved", g.Reserved, sizeof g.Reserved);
  return g;
}

// ---------------------------------------------------------------------------
// Options

// How an option is stored in the record and written in JSON: flags as
// booleans (other values as numbers), the rest as numbers.
enum class OptionKind { Double, Int32, Int16, Flag32, Flag16 };

struct OptionField {
  const char* key;
  size_t offset;
  OptionKind kind;
  double defaultValue;  // what a hand-written design that leaves it out gets
};

// In the order they are written.
constexpr OptionField kOptionFields[] = {
    {"impulseLength", offsetof(TDesignRecord, ImpulseLength), OptionKind::Double, 1.0},
    {"minAmplitude", offsetof(TDesignRecord, MinAmplitude), OptionKind::Double, 0.0001},
    {"sampleRate", offsetof(TDesignRecord, SampleRate), OptionKind::Int32, 44100},
    {"bitsPerSample", offsetof(TDesignRecord, BitsPerSample), OptionKind::Int32, 24},
    {"windowType", offsetof(TDesignRecord, WindowType), OptionKind::Int32, 0},
    {"filterLength", offsetof(TDesignRecord, FilterLength), OptionKind::Int32, 32},
    {"airAttenuation", offsetof(TDesignRecord, AirAttenuation), OptionKind::Double, 0.9995},
    {"coordinateScale", offsetof(TDesignRecord, CoordinateScale), OptionKind::Double, 1.0},
    {"randomSeed", offsetof(TDesignRecord, RandomSeed), OptionKind::Int32, 1},
    {"subArrivals", offsetof(TDesignRecord, SubArrivals), OptionKind::Int32, 0},
    {"balance", offsetof(TDesignRecord, Balance), OptionKind::Double, 0.0},
    {"stereoWidth", offsetof(TDesignRecord, StereoWidth), OptionKind::Double, 1.0},
    {"trimToDirect", offsetof(TDesignRecord, TrimToDirect), OptionKind::Flag32, 0},
    {"directSoundLevel", offsetof(TDesignRecord, DirectSoundLevel), OptionKind::Int32, 1},
    {"leadIn", offsetof(TDesignRecord, LeadIn), OptionKind::Flag16, 0},
    {"gainMode", offsetof(TDesignRecord, GainMode), OptionKind::Int16, 0},
    {"fixedGainDb", offsetof(TDesignRecord, FixedGainDb), OptionKind::Double, -48.0},
    {"defaultRayCount", offsetof(TDesignRecord, DefaultRayCount), OptionKind::Int32, 10000},
};

// Packed fields are reached through their bytes.
template <typename T>
T LoadField(const TDesignRecord& r, size_t offset) {
  T value;
  std::memcpy(&value, reinterpret_cast<const uint8_t*>(&r) + offset, sizeof value);
  return value;
}

template <typename T>
void StoreField(TDesignRecord& r, size_t offset, T value) {
  std::memcpy(reinterpret_cast<uint8_t*>(&r) + offset, &value, sizeof value);
}

Json WriteOption(const TDesignRecord& r, const OptionField& option) {
  switch (option.kind) {
    case OptionKind::Double:
      return WriteDouble(LoadField<double>(r, option.offset));
    case OptionKind::Int32:
      return int64_t(LoadField<int32_t>(r, option.offset));
    case OptionKind::Int16:
      return int64_t(LoadField<int16_t>(r, option.offset));
    case OptionKind::Flag32:
      return WriteFlag(LoadField<int32_t>(r, option.offset));
    case OptionKind::Flag16:
      return WriteFlag(LoadField<int16_t>(r, option.offset));
  }
  return nullptr;
}

// Stores a number, from JSON or a default, in the option's own type.
void StoreOption(TDesignRecord& r, const OptionField& option, double value) {
  switch (option.kind) {
    case OptionKind::Double:
      return StoreField(r, option.offset, value);
    case OptionKind::Int32:
    case OptionKind::Flag32:
      return StoreField(r, option.offset, int32_t(value));
    case OptionKind::Int16:
    case OptionKind::Flag16:
      return StoreField(r, option.offset, int16_t(value));
  }
}

double ReadOption(const Json& j, const std::string& path, const OptionField& option) {
  switch (option.kind) {
    case OptionKind::Double:
      return ReadDouble(j, path);
    case OptionKind::Int32:
      return ReadInt32(j, path);
    case OptionKind::Int16:
      return double(ReadInteger(j, path, INT16_MIN, INT16_MAX));
    case OptionKind::Flag32:
      return double(ReadFlag(j, path, INT32_MIN, INT32_MAX));
    case OptionKind::Flag16:
      return double(ReadFlag(j, path, INT16_MIN, INT16_MAX));
  }
  return 0;
}

void WriteOptions(Json& out, const TDesignRecord& r) {
  Json options = Json::object();
  for (const OptionField& option : kOptionFields) options[option.key] = WriteOption(r, option);
  WriteBytes(options, "reserved", r.Reserved1, sizeof r.Reserved1);
  out["options"] = options;
}

void SetDefaultOptions(TDesignRecord& r) {
  for (const OptionField& option : kOptionFields) StoreOption(r, option, option.defaultValue);
}

const KeyList& OptionKeys() {
  static const KeyList keys = [] {
    KeyList list{"reserved"};
    for (const OptionField& option : kOptionFields) list.emplace_back(option.key);
    return list;
  }();
  return keys;
}

void ReadOptions(const Json& j, const std::string& path, TDesignRecord& r) {
  ObjectReader reader(j, path, OptionKeys());
  for (const OptionField& option : kOptionFields) {
    if (const Json* value = reader.Get(option.key)) {
      StoreOption(r, option, ReadOption(*value, reader.Path(option.key), option));
    }
  }
  ReadOptionalBytes(reader, "reserved", r.Reserved1, sizeof r.Reserved1);
  reader.Finish();
}

// ---------------------------------------------------------------------------
// Unused slots with stale bytes, keyed by slot number

template <typename Entry, size_t Count>
void WriteUnusedSlots(Json& unused, const char* key, const Entry (&slots)[Count]) {
  Json section = Json::object();
  for (size_t i = 0; i < Count; ++i) {
    if (!slots[i].InUse && !AllZero(&slots[i], sizeof(Entry))) {
      section[std::to_string(i)] =
          Base64Encode(reinterpret_cast<const uint8_t*>(&slots[i]), sizeof(Entry));
    }
  }
  if (!section.empty()) unused[key] = section;
}

// The slot a key names, or -1 when it is not a number below `count`.
int SlotNumber(const std::string& key, int count) {
  int slot = -1;
  try {
    size_t end = 0;
    slot = std::stoi(key, &end);
    if (end != key.size()) slot = -1;
  } catch (const std::exception&) {
    slot = -1;
  }
  return slot < count ? slot : -1;
}

template <typename Entry, size_t Count>
void ReadUnusedSlots(ObjectReader& reader, const char* key, Entry (&slots)[Count],
                     const std::vector<bool>& listed) {
  const Json* section = reader.Get(key);
  if (section == nullptr) return;
  const std::string path = reader.Path(key);
  if (!section->is_object())
    Fail(path, "expected an object keyed by slot number, got " + Describe(*section));
  for (auto it = section->begin(); it != section->end(); ++it) {
    const std::string itemPath = path + "." + it.key();
    const int slot = SlotNumber(it.key(), int(Count));
    if (slot < 0) Fail(itemPath, "not a slot number from 0 to " + std::to_string(Count - 1));
    if (listed[slot]) Fail(itemPath, "the slot is already used by an entry");
    ReadBytesInto(*it, itemPath, &slots[slot], sizeof(Entry));
    if (slots[slot].InUse) Fail(itemPath, "the first byte of an unused slot must be zero");
  }
}

// ---------------------------------------------------------------------------
// Whole designs

// The slots the arrays of a design filled; stale bytes may go only where
// they did not.
struct ListedSlots {
  std::vector<bool> materials, walls, emitters;
};

void WriteUnusedSlotSections(Json& out, const TDesignRecord& r) {
  Json unused = Json::object();
  WriteUnusedSlots(unused, "materials", r.Materials);
  WriteUnusedSlots(unused, "walls", r.Walls);
  WriteUnusedSlots(unused, "emitters", r.Emitters);
  if (!unused.empty()) out["unusedSlots"] = unused;
}

void ReadUnusedSlotSections(ObjectReader& top, const ListedSlots& listed, TDesignRecord& r) {
  const Json* unused = top.Get("unusedSlots");
  if (unused == nullptr) return;
  ObjectReader reader(*unused, "unusedSlots", kUnusedSlotKeys);
  ReadUnusedSlots(reader, "materials", r.Materials, listed.materials);
  ReadUnusedSlots(reader, "walls", r.Walls, listed.walls);
  ReadUnusedSlots(reader, "emitters", r.Emitters, listed.emitters);
  reader.Finish();
}

// The wall ends and emitter positions noted while their arrays were read,
// given their point slots in slot order, so that slot numbers come out as
// the writer numbers them.
struct PendingPoints {
  std::map<int, WallEnds> walls;
  std::map<int, PointRef> emitters;
};

void ResolvePoints(const PendingPoints& pending, PointAssigner& assigner, TDesignRecord& r,
                   JsonOrigins* origins) {
  auto resolve = [&](const PointRef& ref) {
    const int32_t slot = ResolvePointRef(ref, r, assigner);
    if (origins != nullptr) origins->points.emplace(slot, ref.path);
    return slot;
  };
  for (const auto& [slot, ends] : pending.walls) {
    r.Walls[slot].StartPoint = resolve(ends.from);
    r.Walls[slot].EndPoint = resolve(ends.to);
  }
  for (const auto& [slot, at] : pending.emitters) r.Emitters[slot].Point = resolve(at);
}

// Materials come first, since walls refer to them by name; the points table
// comes after walls and emitters, whose points are resolved last.
ListedSlots ReadSlotArrays(ObjectReader& top, TDesignRecord& r, JsonOrigins* origins) {
  ListedSlots listed;
  PendingPoints pending;
  listed.materials = ReadSlotArray(
      top, "materials", r.Materials, kMaterialKeys,
      [](ObjectReader& reader, int) { return ReadListedMaterial(reader); }, origins,
      &JsonOrigins::materials);
  listed.walls = ReadSlotArray(
      top, "walls", r.Walls, kWallKeys,
      [&](ObjectReader& reader, int slot) { return ReadWall(reader, r, pending.walls[slot]); },
      origins, &JsonOrigins::walls);
  listed.emitters = ReadSlotArray(
      top, "emitters", r.Emitters, kEmitterKeys,
      [&](ObjectReader& reader, int slot) { return ReadEmitter(reader, pending.emitters[slot]); },
      origins, &JsonOrigins::emitters);
  ReadSlotArray(
      top, "groups", r.Groups, kGroupKeys,
      [](ObjectReader& reader, int) { return ReadGroup(reader); }, origins, &JsonOrigins::groups);
  PointAssigner assigner(r);
  ReadSlotArray(
      top, "points", r.Points, kPointKeys,
      [&](ObjectReader& reader, int slot) {
        assigner.Declare(slot);
        return ReadPoint(reader);
      },
      origins, &JsonOrigins::points);
  ResolvePoints(pending, assigner, r, origins);
  return listed;
}

// "format", when given, must name `expected`; "description" is a note for
// readers and is not stored.
void ReadFormatAndDescription(ObjectReader& reader, const char* expected) {
  if (const Json* format = reader.Get("format")) {
    if (!format->is_string()) Fail("format", "expected a string, got " + Describe(*format));
    const std::string& name = format->get_ref<const std::string&>();
    if (!name.empty() && name != expected) {
      Fail("format", "expected \"" + std::string(expected) + "\", got \"" + name + "\"");
    }
  }
  if (const Json* d = reader.Get("description"); d != nullptr && !d->is_string()) {
    Fail("description", "expected a string, got " + Describe(*d));
  }
}

}  // namespace

std::string FieldText(const char* field, size_t size) {
  size_t length = 0;
  while (length < size && field[length] != 0) ++length;
  return std::string(field, length);
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
  const bool naturalPoints = PointsAreNatural(r);
  out["materials"] = WriteSlotArray(r.Materials, kInUse, WriteMaterialFields);
  out["walls"] = WriteSlotArray(r.Walls, kInUse, [&](Json& entry, const TWallEntry& w) {
    WriteWall(entry, w, r, naturalPoints);
  });
  out["emitters"] = WriteSlotArray(r.Emitters, kInUse, [&](Json& entry, const TEmitterEntry& e) {
    WriteEmitter(entry, e, r, naturalPoints);
  });
  auto holdsBytes = [](const TGroupEntry& g, int) { return !AllZero(&g, sizeof g); };
  out["groups"] = WriteSlotArray(r.Groups, holdsBytes, WriteGroup);
  if (!naturalPoints) out["points"] = WritePointsTable(r);
  WriteUnusedSlotSections(out, r);
  WriteBytes(out, "hostBlock", r.HostBlock, sizeof r.HostBlock);
  WriteBytes(out, "reserved", r.Reserved2, sizeof r.Reserved2);
  return out;
}

void DesignFromJson(const Json& json, TDesignRecord& r, JsonOrigins* origins) {
  std::memset(&r, 0, sizeof r);
  ObjectReader top(json, "", kTopKeys);
  ReadFormatAndDescription(top, kDesignFormat);
  ReadText(top, "title", r.Title, false);
  ReadText(top, "comment", r.Comment, false);
  SetDefaultOptions(r);
  if (const Json* options = top.Get("options")) ReadOptions(*options, "options", r);
  if (origins != nullptr) *origins = JsonOrigins{};
  const ListedSlots listed = ReadSlotArrays(top, r, origins);
  ReadUnusedSlotSections(top, listed, r);
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
  ObjectReader reader(json, "", kMaterialKeys);
  ReadFormatAndDescription(reader, kMaterialFormat);
  TMaterialEntry m;
  ReadMaterialFields(reader, m);
  reader.Finish();
  material = m;
}

}  // namespace zm::cli
