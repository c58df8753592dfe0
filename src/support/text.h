// The fixed 65-byte text fields of the boundary records.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

namespace zm {

// Reads a char[N] field up to its first zero byte, or all N bytes when none
// is zero (a name may fill the whole field).
template <size_t N>
std::string ReadFixedText(const char (&field)[N]) {
  const void* zero = std::memchr(field, 0, N);
  size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - field) : N;
  return std::string(field, length);
}

// Stores `text` (cut to N bytes) and fills the rest of the field with zeros.
template <size_t N>
void WriteFixedText(char (&field)[N], std::string_view text) {
  size_t length = text.size() < N ? text.size() : N;
  std::memcpy(field, text.data(), length);
  std::memset(field + length, 0, N - length);
}

}  // namespace zm
