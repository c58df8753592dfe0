#include "cli/console_text.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace zm::cli {

std::string Duration(double seconds) {
  char buffer[32];
  if (!std::isfinite(seconds) || seconds < 0) return "--:--";
  const long total = std::lround(seconds);
  std::snprintf(buffer, sizeof buffer, "%ld:%02ld", total / 60, total % 60);
  return buffer;
}

std::string Thousands(long long value) {
  std::string digits = std::to_string(value);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0 && digits[i - 1] != '-') out += ',';
    out += digits[i];
  }
  return out;
}

std::string Basename(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace zm::cli
