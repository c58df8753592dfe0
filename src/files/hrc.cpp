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

// The token layout, shared by the writer and the reader. A token is, in
// order:
//   token byte      match code M in bits 0-2, literal code L in bits 3-5,
//                   the lowest distance bits in bits 6-7;
//   extension byte  when L or M is kCodeEscape. Only one escaped: its extra
//                   nibble low, the next distance bits high. Both escaped:
//                   L's nibble high, M's low, no distance bits;
//   varints         L's, then M's, for a nibble of kNibbleEscape: base 128,
//                   low groups first, kMoreBit on every byte but the last;
//   distance bytes  the next 7 distance bits; kMoreBit set: one more byte
//                   follows with the last 7 bits, or, when it has kMoreBit
//                   set itself, the last 3 bits and a carried nibble above
//                   them: the low 4 distance bits of the next token, which
//                   come before that token's own;
//   literal bytes, then the fill byte of a run.
// Literal count = L, match length = M + kMinMatch, distance = code +
// kRunDistance.
namespace token {
constexpr int kLiteralShift = 3;
constexpr int kDistanceShift = 6;
constexpr uint32_t kCodeMask = 7;
constexpr uint32_t kCodeEscape = 7;
constexpr int kNibbleBits = 4;
constexpr uint32_t kNibbleMask = 0xF;
constexpr uint32_t kNibbleEscape = 15;
constexpr uint32_t kVarintCode = kCodeEscape + kNibbleEscape;
constexpr int kTokenDistanceBits = 2;
constexpr int kExtensionDistanceBits = kNibbleBits;
constexpr int kByteBits = 7;  // payload bits of a distance or varint byte
constexpr uint32_t kByteMask = 0x7F;
constexpr uint32_t kMoreBit = 0x80;
constexpr int kSlotDistanceBits = 3;  // distance bits in a byte that carries a nibble
constexpr uint32_t kSlotDistanceMask = 7;
constexpr int kCarriedShift = kSlotDistanceBits;
constexpr int kCarriedBits = kNibbleBits;
}  // namespace token

// Takes the lowest `bits` bits off `value`.
inline uint32_t TakeBits(uint32_t& value, int bits) {
  const uint32_t taken = value & ((1u << bits) - 1);
  value >>= bits;
  return taken;
}

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

  // Emits the token of a run of literals followed by a back-reference (or,
  // at kRunDistance, a byte run whose fill byte the caller puts next).
  void EmitToken(const uint8_t* literals, int32_t literalCount, int32_t matchLength,
                 int32_t distance) {
    uint32_t dc = static_cast<uint32_t>(distance - kRunDistance);
    if (slotOpen_) {
      PatchSlot(static_cast<uint8_t>(TakeBits(dc, token::kCarriedBits) << token::kCarriedShift));
    }
    PutCodes(static_cast<uint32_t>(literalCount), static_cast<uint32_t>(matchLength - kMinMatch),
             dc);
    PutDistance(dc);
    PutLiterals(literals, literalCount);
  }

  void Put(uint32_t byte) {
    if (fill_ == kBufferSize) Flush();
    buffer_[fill_++] = static_cast<uint8_t>(byte);
  }

 private:
  // The token byte, the extension byte and the varints of the literal
  // count lc and the match code mc, taking distance bits off dc as the
  // layout places them.
  void PutCodes(uint32_t lc, uint32_t mc, uint32_t& dc) {
    using namespace token;
    const bool literalEscaped = lc >= kCodeEscape;
    const bool matchEscaped = mc >= kCodeEscape;
    const uint32_t literalCode = literalEscaped ? kCodeEscape : lc;
    const uint32_t matchCode = matchEscaped ? kCodeEscape : mc;
    Put((TakeBits(dc, kTokenDistanceBits) << kDistanceShift) | (literalCode << kLiteralShift) |
        matchCode);
    if (!literalEscaped && !matchEscaped) return;

    const uint32_t literalRest = lc - literalCode;
    const uint32_t matchRest = mc - matchCode;
    const uint32_t literalNibble = std::min(literalRest, kNibbleEscape);
    const uint32_t matchNibble = std::min(matchRest, kNibbleEscape);
    if (literalEscaped && matchEscaped) {
      Put((literalNibble << kNibbleBits) | matchNibble);
    } else {
      const uint32_t nibble = literalEscaped ? literalNibble : matchNibble;
      Put((TakeBits(dc, kExtensionDistanceBits) << kNibbleBits) | nibble);
    }
    if (literalEscaped && literalNibble == kNibbleEscape) PutVarint(literalRest - kNibbleEscape);
    if (matchEscaped && matchNibble == kNibbleEscape) PutVarint(matchRest - kNibbleEscape);
  }

  // The distance bits left in dc: one byte, or two, the second of which
  // opens the carried-nibble slot when it needs no more than three bits.
  void PutDistance(uint32_t dc) {
    using namespace token;
    if (dc <= kByteMask) {
      Put(dc);
      return;
    }
    Put(TakeBits(dc, kByteBits) | kMoreBit);
    if (dc <= kSlotDistanceMask) {
      slotValue_ = static_cast<uint8_t>(kMoreBit | dc);
      Put(slotValue_);
      slotPosition_ = flushPosition_ + fill_ - 1;
      slotOpen_ = true;
    } else {
      Put(dc);
    }
  }

  void PutVarint(uint32_t x) {
    using namespace token;
    while (x > kByteMask) Put(TakeBits(x, kByteBits) | kMoreBit);
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

// One token as the reader decodes it.
struct TToken {
  uint64_t literalCount;
  uint64_t matchLength;
  uint32_t distanceCode;  // 0: a byte run
};

// Reads tokens off a block's token stream, carrying the nibble from one
// token to the next. Any read past the stream, or a field that the writer
// cannot have produced, fails with the position of the token's first byte.
class TTokenReader {
 public:
  TTokenReader(const TResource& stream, const THeader& header, const std::vector<uint8_t>& tokens)
      : stream_(stream),
        in_(tokens.data()),
        size_(tokens.size()),
        base_(int64_t{header.position} + kHrcHeaderSize) {}

  [[noreturn]] void Fail() const { ThrowCorrupt(stream_, base_ + static_cast<int64_t>(start_)); }

  uint8_t Byte() {
    if (ip_ >= size_) Fail();
    return in_[ip_++];
  }

  // `count` literal bytes, which must be there.
  const uint8_t* Literals(uint64_t count) {
    if (count > size_ - ip_) Fail();
    const uint8_t* literals = in_ + ip_;
    ip_ += static_cast<size_t>(count);
    return literals;
  }

  TToken Next() {
    using namespace token;
    start_ = ip_;
    const uint8_t first = Byte();
    uint32_t d;
    int bit;
    if (hasNibble_) {
      d = nibble_ | (uint32_t{static_cast<uint8_t>(first >> kDistanceShift)} << kCarriedBits);
      bit = kCarriedBits + kTokenDistanceBits;
      hasNibble_ = false;
    } else {
      d = first >> kDistanceShift;
      bit = kTokenDistanceBits;
    }
    uint64_t literalCount = (first >> kLiteralShift) & kCodeMask;
    uint64_t matchCode = first & kCodeMask;
    if (literalCount == kCodeEscape || matchCode == kCodeEscape) {
      ReadExtension(literalCount, matchCode, d, bit);
    }
    ReadDistanceBytes(d, bit);
    // The writer never forms a distance code wider than 16 bits.
    if (d > 0xFFFF) Fail();
    return TToken{literalCount, matchCode + kMinMatch, d};
  }

 private:
  void ReadExtension(uint64_t& literalCount, uint64_t& matchCode, uint32_t& d, int& bit) {
    using namespace token;
    const uint8_t ext = Byte();
    if (literalCount == kCodeEscape && matchCode == kCodeEscape) {
      literalCount += ext >> kNibbleBits;
      matchCode += ext & kNibbleMask;
    } else {
      if (matchCode == kCodeEscape) {
        matchCode += ext & kNibbleMask;
      } else {
        literalCount += ext & kNibbleMask;
      }
      d |= uint32_t{static_cast<uint8_t>(ext >> kNibbleBits)} << bit;
      bit += kExtensionDistanceBits;
    }
    if (literalCount == kVarintCode) literalCount += Varint();
    if (matchCode == kVarintCode) matchCode += Varint();
  }

  void ReadDistanceBytes(uint32_t& d, int bit) {
    using namespace token;
    const uint8_t first = Byte();
    d |= uint32_t{first & kByteMask} << bit;
    bit += kByteBits;
    if ((first & kMoreBit) == 0) return;
    const uint8_t second = Byte();
    if (second & kMoreBit) {
      d |= uint32_t{second & kSlotDistanceMask} << bit;
      nibble_ = (second >> kCarriedShift) & kNibbleMask;
      hasNibble_ = true;
    } else {
      d |= uint32_t{second & kByteMask} << bit;
    }
  }

  uint64_t Varint() {
    using namespace token;
    uint64_t value = 0;
    for (int shift = 0;; shift += kByteBits) {
      const uint8_t b = Byte();
      value |= uint64_t{b & kByteMask} << shift;
      if ((b & kMoreBit) == 0) break;
      if (shift >= 4 * kByteBits) Fail();  // no length needs more than five groups
    }
    if (value > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) Fail();
    return value;
  }

  const TResource& stream_;
  const uint8_t* in_;
  size_t size_;
  int64_t base_;  // stream position of the token stream
  size_t ip_ = 0;
  size_t start_ = 0;  // first byte of the current token
  bool hasNibble_ = false;
  uint32_t nibble_ = 0;
};

// Walks the token stream. With kWrite false it only checks that the stream
// produces exactly `outSize` bytes without stepping out of bounds, which
// lets the caller size its buffer from data it has seen decode.
template <bool kWrite>
void Decode(const TResource& stream, const THeader& header, const std::vector<uint8_t>& tokens,
            uint8_t* out) {
  TTokenReader reader(stream, header, tokens);
  const size_t outSize = static_cast<size_t>(header.uncompressedSize);
  size_t op = 0;
  while (op < outSize) {
    const TToken token = reader.Next();

    if (token.literalCount > 0) {
      if (token.literalCount > outSize - op) reader.Fail();
      const uint8_t* literals = reader.Literals(token.literalCount);
      const size_t count = static_cast<size_t>(token.literalCount);
      if constexpr (kWrite) std::memcpy(out + op, literals, count);
      op += count;
      // The closing token ends here: its match part is never used.
      if (op == outSize) break;
    }

    if (token.matchLength > outSize - op) reader.Fail();
    const size_t length = static_cast<size_t>(token.matchLength);
    if (token.distanceCode == 0) {
      const uint8_t fill = reader.Byte();
      if constexpr (kWrite) std::memset(out + op, fill, length);
    } else {
      const uint64_t distance = uint64_t{token.distanceCode} + kRunDistance;
      if (distance > op) reader.Fail();
      if constexpr (kWrite) CopyMatch(out + op, static_cast<size_t>(distance), length);
    }
    op += length;
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
