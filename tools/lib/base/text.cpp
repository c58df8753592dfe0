#include "lib/base/text.h"

namespace zm::cli {

namespace {

bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

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

std::string AsUtf8(const std::string& bytes) {
  return IsUtf8(bytes) ? bytes : BytesToUtf8(bytes);
}

}  // namespace zm::cli
