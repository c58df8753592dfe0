// JSON text: parsing with comments, the tool's indented layout, and the
// checked reading of values under their JSON paths that the record mapping
// is built on.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace zm::cli {

using Json = nlohmann::ordered_json;

// A JSON document that does not describe a valid record. The message starts
// with the JSON path of the offending value, e.g.
// "walls[3].material: expected a string, got number".
class JsonFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses JSON text; `//` and `/* */` comments are allowed. Syntax errors are
// reported as JsonFormatError naming `source`.
Json ParseJsonText(const std::string& text, const std::string& source);

// Indented JSON that keeps arrays of plain values (coordinates, band
// factors) on one line.
std::string FormatJson(const Json& json);

// The pieces the record mapping reads and writes values with.
namespace json_text {

std::string Base64Encode(const uint8_t* data, size_t size);
bool Base64Decode(const std::string& text, std::vector<uint8_t>& out);
bool AllZero(const void* data, size_t size);
// Enough digits to read back the same double.
std::string FormatDouble(double value);

[[noreturn]] void Fail(const std::string& path, const std::string& what);
// "number", "string", "object" ...
std::string Describe(const Json& j);

// The keys an object may hold, for suggestions when a key is misspelt.
using KeyList = std::vector<std::string>;

// Reads the keys of one JSON object and rejects the ones nobody asked for.
class ObjectReader {
 public:
  ObjectReader(const Json& json, std::string path, const KeyList& known);

  const Json* Get(const std::string& key) {
    seen_.insert(key);
    auto it = json_.find(key);
    return it == json_.end() ? nullptr : &*it;
  }

  const Json& Require(const std::string& key) {
    const Json* j = Get(key);
    if (j == nullptr) Missing(key);
    return *j;
  }

  // A required key is absent. A key this kind of object does not know is
  // most likely the same key misspelt, so that one is named instead.
  [[noreturn]] void Missing(const std::string& key, const std::string& note = "") const;

  std::string Path(const std::string& key) const { return path_.empty() ? key : path_ + "." + key; }
  std::string PathOrRoot() const { return path_.empty() ? "(top level)" : path_; }

  // Refuses the keys that no Get asked for.
  void Finish() const;

 private:
  [[noreturn]] void Unknown(const std::string& key) const;

  const Json& json_;
  std::string path_;
  const KeyList& known_;
  std::set<std::string> seen_;
};

int64_t ReadInteger(const Json& j, const std::string& path, int64_t low, int64_t high);
int32_t ReadInt32(const Json& j, const std::string& path);
// Flags are written as booleans; any other stored byte value as a number.
int64_t ReadFlag(const Json& j, const std::string& path, int64_t low, int64_t high);
Json WriteFlag(int64_t value);
// Doubles are JSON numbers; values JSON cannot hold (infinities, NaNs) are
// written as "0x" and the 16 hex digits of their bits.
double ReadDouble(const Json& j, const std::string& path);
Json WriteDouble(double value);
bool SameBits(double a, double b);

}  // namespace json_text
}  // namespace zm::cli
