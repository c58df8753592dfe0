// The HRC block format: exact bytes, token streams written by hand from the
// layout, round trips through every encoding branch, and refused blocks.
#include "files/hrc.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "files/binary_buffer.h"

namespace zm {
namespace {

using Bytes = std::vector<uint8_t>;

// A memory stream holding `content`, read from its start.
class MemoryStream : public TBinaryBuffer {
 public:
  explicit MemoryStream(const Bytes& content = {}) {
    if (!content.empty()) Write(content.data(), static_cast<int32_t>(content.size()));
    SetPosition(0);
  }
  Bytes Content() {
    Bytes out(static_cast<size_t>(GetLength()));
    SetPosition(0);
    Read(out.data(), GetLength());
    return out;
  }
};

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

Bytes Compress(const Bytes& input) {
  MemoryStream stream;
  HrcWriteBlock(stream, input.data(), static_cast<int32_t>(input.size()));
  EXPECT_EQ(stream.GetPosition(), stream.GetLength());
  return stream.Content();
}

Bytes Decompress(const Bytes& block) {
  MemoryStream stream(block);
  return HrcReadNewBlock(stream);
}

Bytes Header(int32_t uncompressed, int32_t compressed, Bytes tokens = {}) {
  Bytes h = {'H', 'R', 'C', 0x1A};
  for (int32_t v : {uncompressed, compressed}) {
    for (int i = 0; i < 4; ++i)
      h.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
  }
  h.insert(h.end(), tokens.begin(), tokens.end());
  return h;
}

Bytes WithTokens(int32_t uncompressed, const Bytes& tokens) {
  return Header(uncompressed, static_cast<int32_t>(tokens.size()), tokens);
}

Bytes Text(size_t size) {
  static const char* words[] = {"wall ",    "ray ", "reflection ", "the ",     "absorbs ",
                                "emitter ", "of ",  "room\n",      "diffuse ", "air "};
  std::mt19937 rng(9);
  Bytes s;
  while (s.size() < size) {
    const char* w = words[rng() % 10];
    s.insert(s.end(), w, w + std::char_traits<char>::length(w));
  }
  s.resize(size);
  return s;
}

TEST(HrcFormat, ExactVectors) {
  EXPECT_EQ(Compress({}), Header(0, 0));
  EXPECT_EQ(Compress({'a', 'b', 'c'}), Header(3, 5, {0x58, 0x00, 'a', 'b', 'c'}));
  EXPECT_EQ(Compress(Bytes(100, 0)), Header(100, 5, {0x07, 0x0F, 0x4A, 0x00, 0x00}));
}

Bytes Of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// Token streams written by hand from the layout, so that the reader is held
// to the format itself; the writer is then held to the reader by the round
// trips below, whichever branch it takes.
TEST(HrcFormat, HandWrittenTokensDecodeAsTheLayoutSays) {
  const std::string b9000(9000, 'b'), b3000(3000, 'b');
  const struct {
    const char* what;
    std::string tokens, output;
  } cases[] = {
      // Literal code escaped: 7 + 2 literals, distance code 6 split as 2
      // bits in the token byte and 1 in the extension byte's high nibble.
      {"one code escaped", std::string("\xB8\x12\x00", 3) + "ABCDEFGHI", "ABCDEFGHIABCD"},
      // Both escaped (no distance bits in the extension): 22 + a varint of 3
      // literals, a match of 11 from 25 back.
      {"both codes escaped", std::string("\xBF\xF0\x03\x05", 4) + "ABCDEFGHIJKLMNOPQRSTUVWXY",
       "ABCDEFGHIJKLMNOPQRSTUVWXYABCDEFGHIJK"},
      // Two runs (match varints of two bytes, fill bytes after the
      // literal); a match 3001 back whose second distance byte carries the
      // nibble 3; the next token's match 12006 back starts from that nibble
      // and ends with a second distance byte of 7 bits.
      {"runs and a carried nibble",
       std::string("\x0F\x0F\x8E\x46\x00"
                   "ab"
                   "\x0F\x0F\x9E\x17\x00"
                   "cb"
                   "\x80\xED\x9D"
                   "\x80\xBB\x01",
                   20),
       "a" + b9000 + "c" + b3000 + "cbbb" + "abbb"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Decompress(WithTokens(static_cast<int32_t>(c.output.size()), Of(c.tokens))),
              Of(c.output))
        << c.what;
  }
}

// A 16-byte marker at the start and again `distance` bytes later, with
// zeros in between: a run whose positions hash alike, so the marker keeps
// its hash slot.
Bytes MarkerAtDistance(size_t distance) {
  const Bytes marker = RandomBytes(16, 11);
  Bytes input = marker;
  input.resize(distance);
  input.insert(input.end(), marker.begin(), marker.end());
  input.insert(input.end(), {0, 1, 2});
  return input;
}

// The reader refuses a distance beyond 65538, so the round trip alone
// shows the writer never reaches past it; the marker repeated at the edge
// must still be matched, not written out again as literals.
TEST(HrcRoundTrip, WindowEndsAt65538Bytes) {
  const Bytes inside = MarkerAtDistance(65538), outside = MarkerAtDistance(65539);
  const Bytes insideBlock = Compress(inside), outsideBlock = Compress(outside);
  EXPECT_LT(insideBlock.size() + 8, outsideBlock.size());
  EXPECT_EQ(Decompress(insideBlock), inside);
  EXPECT_EQ(Decompress(outsideBlock), outside);
}

// Between them the inputs take the writer through its branches: random bytes
// give long literal stretches, zeros runs from a few bytes to millions,
// and text short overlapping matches (down to the shortest distance of 4)
// with literal and match counts across every escape and varint boundary,
// and carried nibbles whose slot byte had already gone to the stream.
TEST(HrcRoundTrip, VariedInputs) {
  const std::vector<std::pair<std::string, std::function<Bytes(size_t)>>> kinds = {
      {"random", [](size_t n) { return RandomBytes(n, 17); }},
      {"zeros", [](size_t n) { return Bytes(n, 0); }},
      {"text", Text}};
  for (const auto& [name, make] : kinds) {
    for (size_t size : {0, 1, 3, 4, 5, 11, 4096, 32767, 32768, 65539, 3000000}) {
      SCOPED_TRACE(name + " " + std::to_string(size));
      const Bytes input = make(size);
      const Bytes block = Compress(input);
      MemoryStream stream(block);
      EXPECT_EQ(HrcReadNewBlock(stream), input);
      EXPECT_EQ(stream.GetPosition(), static_cast<int32_t>(block.size()));
    }
  }
}

// What reading `block` raises: its text when it is an E, else a description.
template <typename E>
std::string FailureOf(const Bytes& block) {
  MemoryStream stream(block);
  try {
    HrcReadNewBlock(stream);
  } catch (const E& e) {
    return e.what();
  } catch (const Exception& e) {
    return std::string("other exception: ") + e.what();
  }
  return "no exception";
}

TEST(HrcDecoder, RefusesCorruptBlocksNamingTheirPosition) {
  const std::string at = "Corrupt HRC block in resource \"mem:\" at pos ";
  const struct {
    const char* what;
    Bytes block;
    int position;
  } cases[] = {
      {"negative size", WithTokens(-1, {}), 0},
      {"negative compressed size", Header(5, -3), 0},
      {"above the limit", WithTokens(kHrcMaxBlockSize + 1, {0, 0}), 0},
      {"literals overrun the output", WithTokens(2, {0x58, 0x00, 'a', 'b', 'c'}), 12},
      {"closing match before the start", WithTokens(10, {0x58, 0x00, 'a', 'b', 'c'}), 12},
      {"first match before the start", WithTokens(8, {0x00, 0x05}), 12},
      {"literals beyond the tokens", WithTokens(6, {0x30, 0x00, 'a', 'b'}), 12},
      {"tokens run out", WithTokens(101, {0x07, 0x0F, 0x4A, 0x00, 0x00}), 17},
      {"run longer than the output", WithTokens(99, {0x07, 0x0F, 0x4A, 0x00, 0x00}), 12},
      {"endless varint", WithTokens(50, {0x07, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}),
       12},
      {"varint beyond 32 bits", WithTokens(50, {0x07, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0}),
       12},
      {"distance beyond 16 bits",
       WithTokens(20, {0x20, 0x00, 'a', 'b', 'c', 'd', 'e', 0x07, 0x0F, 0x00, 0xFF, 0x7F}), 19},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FailureOf<EHRCDataCorrupt>(c.block), at + std::to_string(c.position)) << c.what;
  }
  EXPECT_EQ(FailureOf<EHRCDataBlockNotFound>({'H', 'R', 'C', 0x1B, 0, 0, 0, 0, 0, 0, 0, 0}),
            "HRC block not found in resource \"mem:\" at pos 0");
}

TEST(HrcDecoder, TruncatedBlocksReadPastTheEnd) {
  const std::string pastEnd = "Read past end of resource \"mem:\"";
  const Bytes block = Compress(Text(3000));
  for (size_t cut = 0; cut < block.size(); ++cut) {
    EXPECT_EQ(FailureOf<ERscReadPastEnd>(Bytes(block.begin(), block.begin() + cut)), pastEnd)
        << cut;
  }
  // A compressed size far beyond the stream is refused before allocating.
  EXPECT_EQ(FailureOf<ERscReadPastEnd>(Header(1000, 0x7FFFFFFF)), pastEnd);
}

}  // namespace
}  // namespace zm
