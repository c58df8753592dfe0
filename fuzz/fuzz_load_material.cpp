// Loads arbitrary bytes as a material file, into an ordinary slot and into
// the air slot. A refused load must leave the entry exactly as it was.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "files/material_file.h"
#include "fuzz_input.h"

namespace {

void LoadInto(const uint8_t* data, size_t size, const char* name) {
  TMaterialEntry entry;
  std::memset(&entry, 0x5A, sizeof(entry));
  std::strncpy(entry.Name, name, sizeof(entry.Name));  // zeros to the end
  const TMaterialEntry before = entry;
  try {
    auto stream = zm::fuzz::StreamOf(data, size);
    zm::ReadMaterial(*stream, entry);
    if (std::strcmp(name, "** AIR **") == 0 &&
        std::memcmp(entry.Name, before.Name, sizeof(entry.Name)) != 0) {
      __builtin_trap();
    }
  } catch (const zm::Exception&) {
    if (std::memcmp(&entry, &before, sizeof(entry)) != 0) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return -1;
  LoadInto(data, size, "Plaster");
  LoadInto(data, size, "** AIR **");
  return 0;
}
