#include "lib/base/json_text.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "lib/base/nearest_name.h"

namespace zm::cli {

namespace json_text {

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

std::string FormatDouble(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw JsonFormatError(path + ": " + what);
}

std::string Describe(const Json& j) {
  if (j.is_number()) return "number";
  return j.type_name();
}

ObjectReader::ObjectReader(const Json& json, std::string path, const KeyList& known)
    : json_(json), path_(std::move(path)), known_(known) {
  if (!json_.is_object()) Fail(PathOrRoot(), "expected an object, got " + Describe(json_));
}

void ObjectReader::Missing(const std::string& key, const std::string& note) const {
  for (auto it = json_.begin(); it != json_.end(); ++it) {
    if (std::find(known_.begin(), known_.end(), it.key()) == known_.end()) Unknown(it.key());
  }
  Fail(Path(key), "missing" + note);
}

void ObjectReader::Finish() const {
  for (auto it = json_.begin(); it != json_.end(); ++it) {
    if (!seen_.contains(it.key())) Unknown(it.key());
  }
}

void ObjectReader::Unknown(const std::string& key) const {
  Fail(Path(key), "unknown key" + DidYouMean(key, known_));
}

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

int64_t ReadFlag(const Json& j, const std::string& path, int64_t low, int64_t high) {
  if (j.is_boolean()) return j.get<bool>() ? 1 : 0;
  if (!j.is_number_integer()) Fail(path, "expected a boolean, got " + Describe(j));
  return ReadInteger(j, path, low, high);
}

Json WriteFlag(int64_t value) {
  if (value == 0) return false;
  if (value == 1) return true;
  return value;
}

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

}  // namespace json_text

namespace {

// Indented output that keeps arrays of plain values on one line.
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

}  // namespace zm::cli
