// Decodes arbitrary bytes as an HRC block, both into a fresh buffer and into
// a fixed one. Refusals are expected; crashes, leaks and out-of-bounds
// accesses are not.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "files/hrc.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return -1;
  try {
    auto stream = zm::fuzz::StreamOf(data, size);
    std::vector<uint8_t> block = zm::HrcReadNewBlock(*stream);
    if (static_cast<int32_t>(block.size()) != zm::HrcBlockSize(*zm::fuzz::StreamOf(data, size))) {
      __builtin_trap();
    }
  } catch (const zm::Exception&) {
  }
  try {
    auto stream = zm::fuzz::StreamOf(data, size);
    std::vector<uint8_t> destination(4096);
    zm::HrcReadBlock(*stream, destination);
  } catch (const zm::Exception&) {
  }
  return 0;
}
