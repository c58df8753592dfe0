// The output file: RIFF/WAVE with a 16-byte "fmt " chunk, the "data" chunk
// and a "LIST"/"INFO" chunk naming the title, the comment and the product.
#pragma once

#include <cstdint>
#include <string>

#include "files/resource.h"
#include "support/exception.h"

namespace zm {

namespace msg::wave {
inline constexpr MessageText sTooLarge{
    "The output of %d frames of %d channels is too large for a wave file"};
}  // namespace msg::wave

// Writes the whole file through `stream`, which must be fresh and at
// position 0. `data` holds frames × channels × (bits / 8) bytes of
// interleaved samples. The header is written first and rewritten at the end,
// once the size of the "LIST" chunk is known.
void WriteWave(TResource& stream, const uint8_t* data, int32_t frames, int32_t channels,
               int32_t sampleRate, int32_t bits, const std::string& title,
               const std::string& comment);

}  // namespace zm
