#include "lib/checks/engine_messages.h"

#include <map>
#include <regex>

namespace zm::cli {

namespace {

// The start of what a message says about an entry, and the key it is about.
struct FieldRule {
  const char* words;
  const char* key;  // "" for the entry as a whole
};

// Longer words first where one starts another ("end points", "end point").
const std::map<std::string, std::vector<FieldRule>> kEntryFields = {
    {"Wall",
     {{"start point", "from"},
      {"end points", ""},
      {"end point", "to"},
      {"material", "material"},
      {"channel", "channel"},
      {"gain", "gain"}}},
    {"Emitter",
     {{"point", "at"},
      {"at ", "at"},
      {"direction", "direction"},
      {"spread", "spread"},
      {"level", "level"},
      {"ray count", "rayCount"},
      {"group", "group"}}},
    {"Material",
     {{"reflection", "reflection"}, {"scatter", "scatter"}, {"band factor", "bandFactors"}}},
    {"Group", {}},
    {"Point", {}},
};

// Options the engine names in words, as the JSON names them.
const FieldRule kOptionWords[] = {
    {"Impulse length", "impulseLength"},
    {"Minimum amplitude", "minAmplitude"},
    {"Sample rate", "sampleRate"},
    {"Bits per sample", "bitsPerSample"},
    {"Filter length", "filterLength"},
    {"Sub-arrivals", "subArrivals"},
    {"Direct sound level", "directSoundLevel"},
    {"Fixed gain", "fixedGainDb"},
    {"Coordinate scale", "coordinateScale"},
    {"Air attenuation", "airAttenuation"},
    {"Balance", "balance"},
    {"Stereo width", "stereoWidth"},
    {"Random number generator", "randomSeed"},
};

bool StartsWith(const std::string& text, const std::string& start) {
  return text.rfind(start, 0) == 0;
}

const std::map<int, std::string>* SlotPaths(const std::string& kind, const JsonOrigins& o) {
  if (kind == "Wall") return &o.walls;
  if (kind == "Emitter") return &o.emitters;
  if (kind == "Material") return &o.materials;
  if (kind == "Group") return &o.groups;
  return &o.points;
}

// The key as the entry at `path` wrote it: an angle in degrees, a point by
// slot number, one band factor of an array of them.
std::string KeyAsWritten(const std::string& key, const std::string& path, const std::string& rest,
                         const JsonOrigins& origins) {
  const auto found = origins.keys.find(path);
  if (found == origins.keys.end()) return key;
  const std::set<std::string>& keys = found->second;
  if (keys.contains(key + "Deg")) return key + "Deg";
  if (!keys.contains(key) && keys.contains(key + "Point")) return key + "Point";
  if (key == "material" && keys.contains("materialSlot")) return "materialSlot";
  std::smatch band;
  if (key == "bandFactors" && keys.contains("bandFactors[]") &&
      std::regex_search(rest, band, std::regex("^band factor (\\d+)"))) {
    return key + "[" + band[1].str() + "]";
  }
  return key;
}

std::string ExplainDuplicateNames(const TDesignRecord& r, const JsonOrigins* origins) {
  std::map<std::string, int> seen;
  for (int i = 0; i < ZM_MATERIAL_SLOTS; ++i) {
    if (!r.Materials[i].InUse) continue;
    const auto [it, inserted] = seen.emplace(NameText(r.Materials[i].Name), i);
    if (inserted) continue;
    auto place = [&](int slot) {
      if (origins != nullptr && origins->materials.contains(slot))
        return origins->materials.at(slot);
      return "material " + std::to_string(slot);
    };
    return place(it->second) + " and " + place(i) + " are both named \"" + it->first + "\"";
  }
  return "";
}

}  // namespace

std::string DescribeForUser(const std::string& message, const TDesignRecord& record,
                            const JsonOrigins* origins) {
  if (message == "Duplicate BBTree item") {
    const std::string names = ExplainDuplicateNames(record, origins);
    return names.empty() ? message : names + " (" + message + ")";
  }
  if (origins == nullptr) return message;
  for (const FieldRule& option : kOptionWords) {
    if (StartsWith(message, option.words))
      return "options." + std::string(option.key) + ": " + message;
  }
  std::smatch match;
  if (!std::regex_match(message, match,
                        std::regex("(Wall|Emitter|Material|Point|Group) (-?\\d+): (.*)"))) {
    return message;
  }
  const std::string kind = match[1].str(), rest = match[3].str();
  const std::map<int, std::string>& paths = *SlotPaths(kind, *origins);
  const auto path = paths.find(std::stoi(match[2].str()));
  if (path == paths.end()) return message;
  for (const FieldRule& field : kEntryFields.at(kind)) {
    if (!StartsWith(rest, field.words)) continue;
    if (*field.key == 0) break;
    return path->second + "." + KeyAsWritten(field.key, path->second, rest, *origins) + ": " + rest;
  }
  return path->second + ": " + rest;
}

}  // namespace zm::cli
