// Readable JSON form of design records and material entries: the mapping
// between record fields and JSON keys.
//
// The JSON is meant to be written by hand: named fields, angles in degrees,
// materials referred to by name and points given by their coordinates. It is
// also loss-free: every byte of a record, including the areas the engine never
// interprets, survives record -> JSON -> record.
#pragma once

#include <map>
#include <set>
#include <string>

#include "lib/base/json_text.h"
#include "zm/zm.h"

namespace zm::cli {

// The values of the "format" key.
inline constexpr const char* kDesignFormat = "zm-design";
inline constexpr const char* kMaterialFormat = "zm-material";

// Where the entries of a design read from JSON stand in that JSON, so that
// messages about record slots can name what the user wrote.
struct JsonOrigins {
  // Slot -> path of the entry that filled it: walls 12 -> "walls[3]".
  std::map<int, std::string> materials, walls, emitters, groups;
  // Point slot -> the first place that gave it: "walls[0].from", "points[2]".
  std::map<int, std::string> points;
  // Entry path -> the keys it holds; an array value adds "<key>[]" too.
  std::map<std::string, std::set<std::string>> keys;
};

Json DesignToJson(const TDesignRecord& record);
// Fills all of `record` (it is cleared first), and `origins` when given.
void DesignFromJson(const Json& json, TDesignRecord& record, JsonOrigins* origins = nullptr);

Json MaterialToJson(const TMaterialEntry& material);
void MaterialFromJson(const Json& json, TMaterialEntry& material);

// "zm-design", "zm-material" or "" when the document has no "format" key.
std::string JsonFormatOf(const Json& json);

// Text of a char[size] field as the engine reads it: up to the first zero
// byte, or all `size` bytes.
std::string FieldText(const char* field, size_t size);

// The text of a name field (titles, comments, material and group names).
inline std::string NameText(const char* field) {
  return FieldText(field, ZM_NAME_LENGTH);
}

}  // namespace zm::cli
