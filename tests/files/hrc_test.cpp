// The HRC block format: exact bytes, token streams written by hand from the
// layout, round trips through every encoding branch, and refused blocks.
#include "files/hrc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "files/binary_buffer.h"

namespace zm {
namespace {

using Bytes = std::vector<uint8_t>;

// A memory stream that logs its writes, to see the writer patch a byte it
// has already flushed.
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
    SetPosition(0);
    Read(out.data(), GetLength());
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

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

Bytes Compress(const Bytes& input) {
  LoggedStream stream;
  HrcWriteBlock(stream, input.data(), static_cast<int32_t>(input.size()));
  EXPECT_EQ(stream.GetPosition(), stream.GetLength());
  return stream.Content();
}

Bytes Decompress(const Bytes& block) {
  LoggedStream stream(block);
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

void Append(Bytes& to, const Bytes& from, size_t begin, size_t end) {
  to.insert(to.end(), from.begin() + static_cast<ptrdiff_t>(begin),
            from.begin() + static_cast<ptrdiff_t>(end));
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

// Token 1 carries `literals` fresh bytes, then a match of `length` bytes
// from a dictionary that token 0 carried, or a run of one byte: every code,
// nibble and varint boundary of both counts.
TEST(HrcRoundTrip, EveryLengthEncodingBranch) {
  const Bytes dictionary = RandomBytes(1000, 1);
  for (bool run : {false, true}) {
    for (uint32_t literals : {0u, 1u, 6u, 7u, 8u, 21u, 22u, 23u, 300u, 20000u}) {
      for (uint32_t length : {4u, 6u, 10u, 11u, 25u, 26u, 300u, 800u, 100000u}) {
        if (!run && length > 800) continue;
        Bytes input = dictionary;
        Append(input, dictionary, 0, 8);
        Append(input, RandomBytes(literals, 1000 + literals), 0, literals);
        if (run) {
          input.insert(input.end(), length, 0xAB);
        } else {
          Append(input, dictionary, 100, 100 + length);
        }
        // A byte that ends the match, then the closing token's literals.
        input.push_back(run ? 0x01 : static_cast<uint8_t>(dictionary[100 + length] ^ 0xFF));
        input.insert(input.end(), {1, 2});
        EXPECT_EQ(Decompress(Compress(input)), input) << run << " " << literals << " " << length;
      }
    }
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

// Matches 1000, 2008 and 3016 bytes back after fresh data: the second
// opens a nibble slot and the third fills it. When the slot byte lands at
// the end of the 32768-byte buffer, five literals in between force a flush
// and the third token must patch the byte through the stream.
TEST(HrcRoundTrip, CarriedNibbleGoesToTheNextTokenAcrossAFlush) {
  int patched = 0;
  for (size_t n : {32740, 32750, 32760, 32770, 32780}) {
    for (size_t i = 0; i < 10; ++i) {
      const Bytes r = RandomBytes(n + i, 21);
      Bytes input = r;
      Append(input, r, n + i - 1000, n + i - 992);
      Append(input, RandomBytes(5, 22), 0, 5);
      Append(input, r, n + i - 2000, n + i - 1992);
      Append(input, r, n + i - 3000, n + i - 2992);
      input.insert(input.end(), {0, 1, 2});
      LoggedStream stream;
      HrcWriteBlock(stream, input.data(), static_cast<int32_t>(input.size()));
      patched += stream.PatchedBehindFlush();
      ASSERT_EQ(Decompress(stream.Content()), input) << n + i;
    }
  }
  EXPECT_GE(patched, 1);
}

TEST(HrcRoundTrip, VariedInputs) {
  // Text repeats short words back to back, so its matches overlap their
  // source, down to the shortest distance of 4.
  const std::vector<std::pair<std::string, std::function<Bytes(size_t)>>> kinds = {
      {"random", [](size_t n) { return RandomBytes(n, 17); }},
      {"zeros", [](size_t n) { return Bytes(n, 0); }},
      {"text", Text}};
  for (const auto& [name, make] : kinds) {
    for (size_t size : {0, 1, 3, 4, 5, 11, 4096, 32767, 32768, 65539, 3000000}) {
      SCOPED_TRACE(name + " " + std::to_string(size));
      const Bytes input = make(size);
      const Bytes block = Compress(input);
      LoggedStream stream(block);
      EXPECT_EQ(HrcReadNewBlock(stream), input);
      EXPECT_EQ(stream.GetPosition(), static_cast<int32_t>(block.size()));
    }
  }
}

// What reading `block` raises: its text when it is an E, else a description.
template <typename E>
std::string FailureOf(const Bytes& block) {
  LoggedStream stream(block);
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
