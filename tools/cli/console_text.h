// Text the commands print: numbers and durations as people read them.
#pragma once

#include <string>

namespace zm::cli {

// "1,234,567".
std::string Thousands(long long value);
// "m:ss", or "--:--" when unknown.
std::string Duration(double seconds);
// The last part of a path.
std::string Basename(const std::string& path);

}  // namespace zm::cli
