// Test helpers for HRC blocks: an in-memory stream that records its writes
// (to see the compressor patch a byte it has already flushed), a reader
// that lists the tokens of a block, and input generators.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "files/resource.h"

namespace zm::test {

class RecordingStream : public TResource {
 public:
  struct WriteCall {
    int32_t position;
    int32_t count;
  };

  explicit RecordingStream(std::vector<uint8_t> content = {})
      : TResource("rec:", rmReadWrite), data(std::move(content)) {}

  bool CanRead() const override { return true; }
  bool CanWrite() const override { return true; }
  bool Eof() override { return position >= static_cast<int32_t>(data.size()); }
  int32_t GetPosition() override { return position; }
  void SetPosition(int32_t p) override { position = p; }
  int32_t GetLength() override { return static_cast<int32_t>(data.size()); }
  void SetLength(int32_t length) override { data.resize(static_cast<size_t>(length)); }
  void Read(void* buffer, int32_t count) override {
    if (position + count > GetLength()) {
      throw ERscReadPastEnd(Format(msg::rsc::sRscReadPastEnd, {Name}));
    }
    if (count > 0) std::memcpy(buffer, data.data() + position, static_cast<size_t>(count));
    position += count;
  }
  void Write(const void* buffer, int32_t count) override {
    writes.push_back({position, count});
    if (position + count > GetLength()) data.resize(static_cast<size_t>(position + count));
    if (count > 0) std::memcpy(data.data() + position, buffer, static_cast<size_t>(count));
    position += count;
  }

  // A one-byte write behind bytes already written: the carried nibble
  // patched through the stream.
  bool PatchedBehindFlush() const {
    int32_t end = 0;
    for (const WriteCall& w : writes) {
      if (w.count == 1 && w.position + 1 < end) return true;
      end = std::max(end, w.position + w.count);
    }
    return false;
  }

  std::vector<uint8_t> data;
  std::vector<WriteCall> writes;
  int32_t position = 0;
};

// One token as the compressor laid it out.
struct Token {
  uint64_t literals;
  uint64_t matchLength;
  uint32_t distance;  // 3 marks a byte run
  bool usedNibble;    // low distance bits came from the previous token
  bool opensNibble;   // left a nibble for the next token
  bool hasExtension;
};

// Lists the tokens of a well-formed token stream until `outputSize` bytes
// are accounted for. Kept independent of the library's decoder.
inline std::vector<Token> ListTokens(const uint8_t* in, size_t inSize, uint64_t outputSize) {
  std::vector<Token> tokens;
  size_t ip = 0;
  uint64_t produced = 0;
  bool carried = false;
  uint32_t nibble = 0;
  auto next = [&]() -> uint8_t { return ip < inSize ? in[ip++] : 0; };
  auto varint = [&]() {
    uint64_t v = 0;
    for (int shift = 0;; shift += 7) {
      uint8_t b = next();
      v |= uint64_t{b & 0x7Fu} << shift;
      if (!(b & 0x80)) return v;
    }
  };
  while (produced < outputSize && ip < inSize) {
    Token t{};
    uint8_t token = next();
    uint32_t d = 0;
    int bit = 0;
    if (carried) {
      d = nibble;
      bit = 4;
      t.usedNibble = true;
      carried = false;
    }
    d |= uint32_t{static_cast<uint8_t>(token >> 6)} << bit;
    bit += 2;
    uint64_t l = (token >> 3) & 7, m = token & 7;
    if (l == 7 || m == 7) {
      t.hasExtension = true;
      uint8_t e = next();
      if (l == 7 && m == 7) {
        l += e >> 4;
        m += e & 15;
      } else {
        (m == 7 ? m : l) += e & 15;
        d |= uint32_t{static_cast<uint8_t>(e >> 4)} << bit;
        bit += 4;
      }
      if (l == 22) l += varint();
      if (m == 22) m += varint();
    }
    uint8_t b1 = next();
    d |= uint32_t{b1 & 0x7Fu} << bit;
    bit += 7;
    if (b1 & 0x80) {
      uint8_t b2 = next();
      d |= uint32_t{b2 & (b2 & 0x80 ? 0x07u : 0x7Fu)} << bit;
      if (b2 & 0x80) {
        carried = true;
        nibble = (b2 >> 3) & 0xF;
        t.opensNibble = true;
      }
    }
    t.literals = l;
    t.matchLength = m + 4;
    t.distance = d + 3;
    ip += l;
    produced += l;
    if (produced < outputSize) {
      if (t.distance == 3) next();
      produced += t.matchLength;
    }
    tokens.push_back(t);
  }
  return tokens;
}

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace zm::test
