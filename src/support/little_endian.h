// Little-endian packing: every multi-byte integer of the library's formats
// (design and material files, block headers, WAVE headers and samples) is
// stored low byte first, whatever the byte order of the machine.
#pragma once

#include <cstdint>

namespace zm {

inline void StoreLe16(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
}

inline void StoreLe24(uint8_t* out, uint32_t value) {
  StoreLe16(out, value);
  out[2] = static_cast<uint8_t>(value >> 16);
}

inline void StoreLe32(uint8_t* out, uint32_t value) {
  StoreLe24(out, value);
  out[3] = static_cast<uint8_t>(value >> 24);
}

inline uint32_t LoadLe32(const uint8_t* in) {
  return uint32_t{in[0]} | (uint32_t{in[1]} << 8) | (uint32_t{in[2]} << 16) |
         (uint32_t{in[3]} << 24);
}

}  // namespace zm
