#include "files/hrc.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "support/little_endian.h"

namespace zm {

namespace {

constexpr int32_t kBufferSize = 32768;
constexpr int32_t kHashSlots = 65536;
constexpr int32_t kMaxDistance = 65538;
constexpr int32_t kMinMatch = 4;
// Distance code 0 (distance 3) marks a byte run instead of a back-reference.
constexpr int32_t kRunDistance = 3;

uint32_t HashAt(const uint8_t* q) {
  uint32_t h = (uint32_t{q[3]} << 16) ^ (uint32_t{q[2]} << 10) ^ (uint32_t{q[1]} << 5) ^ q[0];
  return ((h * 33) >> 5) & 0xFFFF;
}

// Collects the token stream in a fixed buffer that goes to the stream in
// whole pieces. It also owns the carried-nibble slot: a distance byte with
// four free bits whose value is only known once the next token is emitted,
// by which time the byte may already have been flushed to the stream.
class TTokenWriter {
 public:
  TTokenWriter(TResource& stream, int64_t flushPosition)
      : stream_(stream), buffer_(kBufferSize), flushPosition_(flushPosition) {}

  int64_t FlushPosition() const { return flushPosition_; }

  void Flush() {
    if (fill_ == 0) return;
    stream_.Write(buffer_.data(), fill_);
    flushPosition_ += fill_;
    fill_ = 0;
  }

  void EmitToken(const uint8_t* literals, int32_t literalCount, int32_t matchLength,
                 int32_t distance) {
    uint32_t lc = static_cast<uint32_t>(literalCount);
    uint32_t mc = static_cast<uint32_t>(matchLength - kMinMatch);
    uint32_t dc = static_cast<uint32_t>(distance - kRunDistance);

    if (slotOpen_) {
      PatchSlot(static_cast<uint8_t>((dc & 0xF) << 3));
      dc >>= 4;
    }

    if (lc < 7 && mc < 7) {
      Put(((dc & 3) << 6) | (lc << 3) | mc);
      dc >>= 2;
    } else if (lc < 7) {
      Put(((dc & 3) << 6) | (lc << 3) | 7);
      dc >>= 2;
      mc -= 7;
      if (mc < 15) {
        Put(((dc & 0xF) << 4) | mc);
        dc >>= 4;
      } else {
        Put(((dc & 0xF) << 4) | 0xF);
        dc >>= 4;
        PutVarint(mc - 15);
      }
    } else if (mc < 7) {
      Put(((dc & 3) << 6) | 0x38 | mc);
      dc >>= 2;
      lc -= 7;
      if (lc < 15) {
        Put(((dc & 0xF) << 4) | lc);
      } else {
        Put(((dc & 0xF) << 4) | 0xF);
        PutVarint(lc - 15);
      }
      dc >>= 4;
    } else {
      // Both lengths need the extension byte, which then has no room for
      // distance bits.
      Put(((dc & 3) << 6) | 0x3F);
      dc >>= 2;
      lc -= 7;
      mc -= 7;
      uint32_t a = std::min<uint32_t>(lc, 15);
      uint32_t b = std::min<uint32_t>(mc, 15);
      Put((a << 4) | b);
      if (a == 15) PutVarint(lc - 15);
      if (b == 15) PutVarint(mc - 15);
    }

    if (dc <= 127) {
      Put(dc);
    } else {
      Put((dc & 0x7F) | 0x80);
      dc >>= 7;
      if (dc <= 7) {
        // Only three bits used: leave bits 3-6 for the next token.
        slotValue_ = static_cast<uint8_t>(0x80 | dc);
        Put(slotValue_);
        slotPosition_ = flushPosition_ + fill_ - 1;
        slotOpen_ = true;
      } else {
        Put(dc);
      }
    }

    PutLiterals(literals, literalCount);
  }

  void Put(uint32_t byte) {
    if (fill_ == kBufferSize) Flush();
    buffer_[fill_++] = static_cast<uint8_t>(byte);
  }

 private:
  void PutVarint(uint32_t x) {
    while (x > 127) {
      Put((x & 0x7F) | 0x80);
      x >>= 7;
    }
    Put(x);
  }

  void PutLiterals(const uint8_t* p, int32_t count) {
    if (count >= kBufferSize) {
      // A long literal stretch goes straight to the stream.
      Flush();
      stream_.Write(p, count);
      flushPosition_ += count;
      return;
    }
    while (count > 0) {
      if (fill_ == kBufferSize) Flush();
      int32_t piece = std::min(count, kBufferSize - fill_);
      std::memcpy(buffer_.data() + fill_, p, static_cast<size_t>(piece));
      fill_ += piece;
      p += piece;
      count -= piece;
    }
  }

  void PatchSlot(uint8_t nibbleBits) {
    uint8_t value = static_cast<uint8_t>(slotValue_ | nibbleBits);
    if (slotPosition_ >= flushPosition_) {
      buffer_[static_cast<size_t>(slotPosition_ - flushPosition_)] = value;
    } else {
      // The byte has left the buffer: patch it in place on the stream.
      stream_.SetPosition(static_cast<int32_t>(slotPosition_));
      stream_.Write(&value, 1);
      stream_.SetPosition(static_cast<int32_t>(flushPosition_));
    }
    slotOpen_ = false;
  }

  TResource& stream_;
  std::vector<uint8_t> buffer_;
  int32_t fill_ = 0;
  int64_t flushPosition_;  // stream position of buffer_[0]
  bool slotOpen_ = false;
  int64_t slotPosition_ = 0;  // stream position of the slot byte
  uint8_t slotValue_ = 0;
};

struct TFreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// Number of bytes equal to data[p] from p on, counting at most `limit`.
int32_t RunLength(const uint8_t* data, int32_t p, int32_t limit) {
  int32_t n = 1;
  while (n < limit && data[p + n] == data[p]) ++n;
  return n;
}

struct THeader {
  int32_t position;  // where the header starts on the stream
  int32_t uncompressedSize;
  int32_t compressedSize;
};

[[noreturn]] void ThrowCorrupt(const TResource& stream, int64_t position) {
  throw EHRCDataCorrupt(
      Format(msg::hrc::sHrcDataCorrupt, {stream.Name, static_cast<long long>(position)}));
}

[[noreturn]] void ThrowReadPastEnd(const TResource& stream) {
  throw ERscReadPastEnd(Format(msg::rsc::sRscReadPastEnd, {stream.Name}));
}

THeader ReadHeader(TResource& stream) {
  THeader header{};
  header.position = stream.GetPosition();
  uint8_t raw[kHrcHeaderSize];
  stream.Read(raw, kHrcHeaderSize);
  if (LoadLe32(raw) != kHrcMagic) {
    throw EHRCDataBlockNotFound(
        Format(msg::hrc::sHrcDataBlockNotFound, {stream.Name, header.position}));
  }
  header.uncompressedSize = static_cast<int32_t>(LoadLe32(raw + 4));
  header.compressedSize = static_cast<int32_t>(LoadLe32(raw + 8));
  if (header.uncompressedSize < 0 || header.uncompressedSize > kHrcMaxBlockSize ||
      header.compressedSize < 0) {
    ThrowCorrupt(stream, header.position);
  }
  return header;
}

// Reads the token stream, refusing before any allocation a size the stream
// cannot hold.
std::vector<uint8_t> ReadTokens(TResource& stream, const THeader& header) {
  int64_t available = int64_t{stream.GetLength()} - stream.GetPosition();
  if (header.compressedSize > available) ThrowReadPastEnd(stream);
  std::vector<uint8_t> tokens(static_cast<size_t>(header.compressedSize));
  if (!tokens.empty()) stream.Read(tokens.data(), header.compressedSize);
  return tokens;
}

// Copies a back-reference front to back. Distances are at least 4, so
// copying in pieces no wider than the distance only ever reads bytes that
// are already final; overlapping copies thereby repeat the pattern. The
// tail goes byte by byte, so nothing is written past `length`.
void CopyMatch(uint8_t* dst, size_t distance, size_t length) {
  const uint8_t* src = dst - distance;
  if (distance >= length) {
    std::memcpy(dst, src, length);
    return;
  }
  size_t i = 0;
  if (distance >= 16) {
    for (; i + 16 <= length; i += 16) std::memcpy(dst + i, src + i, 16);
  } else {
    for (; i + 4 <= length; i += 4) std::memcpy(dst + i, src + i, 4);
  }
  for (; i < length; ++i) dst[i] = src[i];
}

// Walks the token stream. With kWrite false it only checks that the stream
// produces exactly `outSize` bytes without stepping out of bounds, which
// lets the caller size its buffer from data it has seen decode.
template <bool kWrite>
void Decode(const TResource& stream, const THeader& header, const std::vector<uint8_t>& tokens,
            uint8_t* out) {
  const uint8_t* in = tokens.data();
  const size_t inSize = tokens.size();
  const size_t outSize = static_cast<size_t>(header.uncompressedSize);
  const int64_t base = int64_t{header.position} + kHrcHeaderSize;
  size_t ip = 0;
  size_t op = 0;
  size_t tokenStart = 0;
  bool hasNibble = false;
  uint32_t nibble = 0;

  auto fail = [&]() { ThrowCorrupt(stream, base + static_cast<int64_t>(tokenStart)); };
  auto next = [&]() -> uint8_t {
    if (ip >= inSize) fail();
    return in[ip++];
  };
  auto varint = [&]() -> uint64_t {
    uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
      uint8_t b = next();
      value |= uint64_t{b & 0x7Fu} << shift;
      if ((b & 0x80) == 0) break;
      if (shift >= 28) fail();  // no length needs more than five groups
    }
    if (value > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) fail();
    return value;
  };

  while (op < outSize) {
    tokenStart = ip;
    const uint8_t token = next();
    uint32_t d;
    int bit;
    if (hasNibble) {
      d = nibble | (uint32_t{static_cast<uint8_t>(token >> 6)} << 4);
      bit = 6;
      hasNibble = false;
    } else {
      d = token >> 6;
      bit = 2;
    }
    uint64_t literalCount = (token >> 3) & 7;
    uint64_t matchCode = token & 7;
    if (literalCount == 7 || matchCode == 7) {
      const uint8_t ext = next();
      if (literalCount == 7 && matchCode == 7) {
        literalCount += ext >> 4;
        matchCode += ext & 0xF;
      } else {
        if (matchCode == 7) {
          matchCode += ext & 0xF;
        } else {
          literalCount += ext & 0xF;
        }
        d |= uint32_t{static_cast<uint8_t>(ext >> 4)} << bit;
        bit += 4;
      }
      if (literalCount == 22) literalCount += varint();
      if (matchCode == 22) matchCode += varint();
    }
    const uint8_t first = next();
    d |= uint32_t{first & 0x7Fu} << bit;
    bit += 7;
    if (first & 0x80) {
      const uint8_t second = next();
      if (second & 0x80) {
        d |= uint32_t{second & 0x07u} << bit;
        nibble = (second >> 3) & 0xF;
        hasNibble = true;
      } else {
        d |= uint32_t{second & 0x7Fu} << bit;
      }
    }
    // The compressor never forms a distance code wider than 16 bits.
    if (d > 0xFFFF) fail();

    if (literalCount > 0) {
      if (literalCount > outSize - op || literalCount > inSize - ip) fail();
      if constexpr (kWrite) std::memcpy(out + op, in + ip, static_cast<size_t>(literalCount));
      ip += static_cast<size_t>(literalCount);
      op += static_cast<size_t>(literalCount);
      if (op == outSize) break;
    }

    const uint64_t length = matchCode + kMinMatch;
    if (length > outSize - op) fail();
    if (d == 0) {
      const uint8_t fill = next();
      if constexpr (kWrite) std::memset(out + op, fill, static_cast<size_t>(length));
    } else {
      const uint64_t distance = uint64_t{d} + kRunDistance;
      if (distance > op) fail();
      if constexpr (kWrite) {
        CopyMatch(out + op, static_cast<size_t>(distance), static_cast<size_t>(length));
      }
    }
    op += static_cast<size_t>(length);
  }
}

}  // namespace

void HrcWriteBlock(TResource& stream, const void* data, int32_t size) {
  if (size < 0 || size > kHrcMaxBlockSize) {
    throw ERangeError(Format(msg::rsc::sRscInvalidCount, {size, stream.Name}));
  }
  const uint8_t* const in = static_cast<const uint8_t*>(data);
  const int64_t start = stream.GetPosition();
  // Worst case every byte is a literal, plus a few bytes of token overhead
  // per token; twice the input is far above that.
  if (start + kHrcHeaderSize + 2 * int64_t{size} + 64 > std::numeric_limits<int32_t>::max()) {
    throw ERangeError(Format(msg::rsc::sRscInvalidCount, {size, stream.Name}));
  }
  stream.SetPosition(static_cast<int32_t>(start + kHrcHeaderSize));

  TTokenWriter writer(stream, start + kHrcHeaderSize);
  // Entries hold position + 1, so that zeroed memory is an empty table:
  // calloc can then hand out fresh pages without clearing them, and a
  // small block touches only the few pages it uses.
  std::unique_ptr<int32_t[], TFreeDeleter> table(
      static_cast<int32_t*>(std::calloc(kHashSlots, sizeof(int32_t))));
  if (!table) throw std::bad_alloc();

  int32_t p = 0;
  int32_t anchor = 0;
  int32_t remaining = size;
  while (remaining >= kMinMatch) {
    // A run longer than four bytes only matters as a run token or to keep
    // a match from flooding the table; count it in full only when needed.
    int32_t run = RunLength(in, p, std::min(remaining, 5));
    const uint32_t h = HashAt(in + p);
    const int32_t candidate = table[h] - 1;
    table[h] = p + 1;

    if (candidate >= 0 && candidate <= p - kMinMatch && p - candidate <= kMaxDistance) {
      int32_t length = 0;
      while (length < remaining && in[candidate + length] == in[p + length]) ++length;
      if (length >= kMinMatch) {
        writer.EmitToken(in + anchor, p - anchor, length, p - candidate);
        anchor = p + length;
        if (run <= 4 && length > 4) {
          const int32_t n = std::min(length - 4, remaining - 4);
          for (int32_t i = 0; i < n; ++i) table[HashAt(in + p + i)] = p + i + 1;
        }
        p += length;
        remaining -= length;
        continue;
      }
    }

    if (run >= 4) {
      run = RunLength(in, p, remaining);
      writer.EmitToken(in + anchor, p - anchor, run, kRunDistance);
      writer.Put(in[p]);
      anchor = p + run;
      p += run;
      remaining -= run;
      continue;
    }

    ++p;
    --remaining;
  }
  p += remaining;
  // The closing token carries the trailing literals; its match part is
  // never reached because the output is complete after them.
  if (anchor != p) writer.EmitToken(in + anchor, p - anchor, kMinMatch, 4);

  writer.Flush();
  const int64_t compressed = writer.FlushPosition() - start - kHrcHeaderSize;
  uint8_t header[kHrcHeaderSize];
  StoreLe32(header, kHrcMagic);
  StoreLe32(header + 4, static_cast<uint32_t>(size));
  StoreLe32(header + 8, static_cast<uint32_t>(compressed));
  stream.SetPosition(static_cast<int32_t>(start));
  stream.Write(header, kHrcHeaderSize);
  stream.SetPosition(static_cast<int32_t>(start + kHrcHeaderSize + compressed));
}

int32_t HrcBlockSize(TResource& stream) {
  const int32_t position = stream.GetPosition();
  // Checked up front so that a short stream fails without moving.
  if (int64_t{stream.GetLength()} - position < kHrcHeaderSize) ThrowReadPastEnd(stream);
  uint8_t raw[kHrcHeaderSize];
  stream.Read(raw, kHrcHeaderSize);
  stream.SetPosition(position);
  if (LoadLe32(raw) != kHrcMagic) {
    throw EHRCDataBlockNotFound(Format(msg::hrc::sHrcDataBlockNotFound, {stream.Name, position}));
  }
  return static_cast<int32_t>(LoadLe32(raw + 4));
}

int32_t HrcReadBlock(TResource& stream, std::span<uint8_t> destination) {
  const THeader header = ReadHeader(stream);
  if (static_cast<size_t>(header.uncompressedSize) > destination.size()) {
    throw EHRCDataCorrupt(Format(msg::hrc::sHrcDestinationTooSmall,
                                 {header.uncompressedSize, stream.Name, header.position,
                                  static_cast<long long>(destination.size())}));
  }
  const std::vector<uint8_t> tokens = ReadTokens(stream, header);
  Decode<true>(stream, header, tokens, destination.data());
  return header.uncompressedSize;
}

std::vector<uint8_t> HrcReadNewBlock(TResource& stream) {
  const THeader header = ReadHeader(stream);
  const std::vector<uint8_t> tokens = ReadTokens(stream, header);
  Decode<false>(stream, header, tokens, nullptr);
  std::vector<uint8_t> block(static_cast<size_t>(header.uncompressedSize));
  Decode<true>(stream, header, tokens, block.data());
  return block;
}

}  // namespace zm
