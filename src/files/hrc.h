// HRC blocks: the library's own greedy LZ77 compression, used inside design
// files. A block is a 12-byte header (magic, uncompressed size, compressed
// size) followed by a token stream; each token carries a run of literal
// bytes and one back-reference or byte run. Every operation works on an open
// stream at its current position, so a block may follow other data.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "files/resource.h"
#include "support/exception.h"

namespace zm {

// "HRC" followed by 0x1A, read as a little-endian 32-bit value.
inline constexpr uint32_t kHrcMagic = 0x1A435248;
inline constexpr int32_t kHrcHeaderSize = 12;
// Largest block either side accepts. Blocks hold design records of a few
// tens of kilobytes; the limit keeps a corrupt or hostile header from
// committing the reader to gigabytes of output from a handful of bytes.
inline constexpr int32_t kHrcMaxBlockSize = 64 * 1024 * 1024;

// No HRC header where a block was expected.
class EHRCDataBlockNotFound : public EDataFormatError {
  using EDataFormatError::EDataFormatError;
};

// A header or token stream that cannot have come from the compressor: it
// would copy past the end of the output, reach before its start, run past
// the compressed data, or declares sizes the data cannot back.
class EHRCDataCorrupt : public EDataFormatError {
  using EDataFormatError::EDataFormatError;
};

namespace msg::hrc {
inline constexpr MessageText sHrcDataBlockNotFound{
    "HRC block not found in resource \"%s\" at pos %d"};
inline constexpr MessageText sHrcDataCorrupt{"Corrupt HRC block in resource \"%s\" at pos %d"};
inline constexpr MessageText sHrcDestinationTooSmall{
    "HRC block of %d bytes in resource \"%s\" at pos %d does not fit a buffer of %d bytes"};
}  // namespace msg::hrc

// Compresses `size` bytes at `data` into one block at the stream's position
// and leaves the stream just after it. The header is written last, by
// seeking back, so the stream must allow seeking backwards.
void HrcWriteBlock(TResource& stream, const void* data, int32_t size);

// The uncompressed size of the block at the stream's position; the position
// is left where it was.
int32_t HrcBlockSize(TResource& stream);

// Decodes the block at the stream's position into `destination`, which must
// be at least as large as the block's uncompressed size, and returns that
// size. The stream is left after the block.
int32_t HrcReadBlock(TResource& stream, std::span<uint8_t> destination);

// Decodes the block at the stream's position into a buffer of exactly its
// uncompressed size. The token stream is checked in full before the buffer
// is allocated, so a corrupt block never costs more memory than its data.
std::vector<uint8_t> HrcReadNewBlock(TResource& stream);

}  // namespace zm
