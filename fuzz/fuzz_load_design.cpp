// Loads arbitrary bytes as a design file. A refused load must leave the
// record exactly as it was.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "files/design_file.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return -1;
  static TDesignRecord design;
  static TDesignRecord before;
  std::memset(&design, 0xA5, sizeof(design));
  std::memcpy(&before, &design, sizeof(design));
  try {
    auto stream = zm::fuzz::StreamOf(data, size);
    zm::ReadDesign(*stream, design);
  } catch (const zm::Exception&) {
    if (std::memcmp(&design, &before, sizeof(design)) != 0) __builtin_trap();
  }
  return 0;
}
