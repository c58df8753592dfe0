// Small text helpers shared by the tool's library.
#pragma once

#include <cstdio>
#include <string>

namespace zm::cli {

// printf into a std::string, for one line of a report; longer text is cut
// at 511 bytes.
std::string Printf(const char* format, auto... args) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

// Record text is 8-bit; JSON text and sound-file tags are UTF-8. Each byte
// maps to the code point of the same value (Latin-1), so any byte string
// survives and plain ASCII reads as is.
std::string BytesToUtf8(const std::string& bytes);

// The inverse of BytesToUtf8; false when `text` holds a code point above
// 255 or is not UTF-8.
bool Utf8ToBytes(const std::string& text, std::string& out);

// Text that may already be UTF-8 (a sound file's tag): kept as it is when it
// is valid UTF-8, else read as Latin-1 bytes.
std::string AsUtf8(const std::string& bytes);

}  // namespace zm::cli
