// HRC test helpers: a memory stream that logs its writes, and a lister of
// the tokens of a block written independently of the library's decoder, so
// that a misreading of the token layout cannot hide in both.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "files/binary_buffer.h"

namespace zm::test {

using Bytes = std::vector<uint8_t>;

class LoggedStream : public TBinaryBuffer {
 public:
  explicit LoggedStream(const Bytes& content = {}) {
    if (!content.empty())
      TBinaryBuffer::Write(content.data(), static_cast<int32_t>(content.size()));
    SetPosition(0);
  }
  void Write(const void* data, int32_t count) override {
    writes.emplace_back(GetPosition(), count);
    TBinaryBuffer::Write(data, count);
  }
  Bytes Content() {
    Bytes out(static_cast<size_t>(GetLength()));
    const int32_t position = GetPosition();
    SetPosition(0);
    Read(out.data(), GetLength());
    SetPosition(position);
    return out;
  }
  // A one-byte write behind bytes already written: a carried nibble patched
  // through the stream after its buffer was flushed.
  bool PatchedBehindFlush() const {
    int32_t end = 0;
    for (auto [position, count] : writes) {
      if (count == 1 && position + 1 < end) return true;
      end = std::max(end, position + count);
    }
    return false;
  }
  std::vector<std::pair<int32_t, int32_t>> writes;  // position, count
};

struct Token {
  uint64_t literals, matchLength;
  uint32_t distance;  // 3 marks a byte run
  bool usedNibble;    // low distance bits came from the previous token
  bool opensNibble;   // left a nibble for the next token
};

// The tokens of a well-formed token stream, until `outputSize` bytes are
// accounted for.
inline std::vector<Token> ListTokens(const uint8_t* in, size_t inSize, uint64_t outputSize) {
  std::vector<Token> tokens;
  size_t ip = 0;
  uint64_t produced = 0;
  bool carried = false;
  uint32_t nibble = 0;
  auto next = [&]() -> uint32_t { return ip < inSize ? in[ip++] : 0; };
  auto varint = [&] {
    uint64_t v = 0;
    for (int shift = 0;; shift += 7) {
      const uint32_t b = next();
      v |= uint64_t{b & 0x7F} << shift;
      if (!(b & 0x80)) return v;
    }
  };
  while (produced < outputSize && ip < inSize) {
    Token t{};
    const uint32_t token = next();
    uint32_t d = carried ? nibble : 0;
    int bit = carried ? 4 : 0;
    t.usedNibble = carried;
    carried = false;
    d |= (token >> 6) << bit;
    bit += 2;
    uint64_t l = (token >> 3) & 7, m = token & 7;
    if (l == 7 || m == 7) {
      const uint32_t e = next();
      if (l == 7 && m == 7) {
        l += e >> 4;
        m += e & 15;
      } else {
        (m == 7 ? m : l) += e & 15;
        d |= (e >> 4) << bit;
        bit += 4;
      }
      if (l == 22) l += varint();
      if (m == 22) m += varint();
    }
    const uint32_t b1 = next();
    d |= (b1 & 0x7F) << bit;
    bit += 7;
    if (b1 & 0x80) {
      const uint32_t b2 = next();
      d |= (b2 & (b2 & 0x80 ? 0x07 : 0x7F)) << bit;
      if (b2 & 0x80) {
        carried = t.opensNibble = true;
        nibble = (b2 >> 3) & 0xF;
      }
    }
    t.literals = l;
    t.matchLength = m + 4;
    t.distance = d + 3;
    ip += l;
    produced += l;
    if (produced < outputSize) {
      if (t.distance == 3) next();  // the run's byte
      produced += t.matchLength;
    }
    tokens.push_back(t);
  }
  return tokens;
}

inline Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

}  // namespace zm::test
