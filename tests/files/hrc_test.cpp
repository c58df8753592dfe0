// The HRC block format: exact bytes, every token encoding read back by an
// independent token lister, round trips, and refused blocks.
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

struct Token {
  uint64_t literals, matchLength;
  uint32_t distance;  // 3 marks a byte run
  bool usedNibble;    // low distance bits came from the previous token
  bool opensNibble;   // left a nibble for the next token
};

// The tokens of a well-formed token stream, until `outputSize` bytes are
// accounted for; written apart from the library's decoder, so that a
// misreading of the token layout cannot hide in both.
std::vector<Token> ListTokens(const uint8_t* in, size_t inSize, uint64_t outputSize) {
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

std::vector<Token> TokensOf(const Bytes& block, size_t outputSize) {
  return ListTokens(block.data() + kHrcHeaderSize, block.size() - kHrcHeaderSize, outputSize);
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

// Token 1 carries `literals` fresh bytes, then a match of `length` bytes
// from a dictionary that token 0 carried, or a run of one byte (distance 3).
TEST(HrcFormat, EveryLengthEncodingBranch) {
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
        const Bytes block = Compress(input);
        const std::vector<Token> tokens = TokensOf(block, input.size());
        SCOPED_TRACE(std::to_string(run) + " " + std::to_string(literals) + " " +
                     std::to_string(length));
        ASSERT_EQ(tokens.size(), 3u);
        EXPECT_EQ(tokens[1].literals, literals);
        EXPECT_EQ(tokens[1].matchLength, length);
        EXPECT_EQ(tokens[1].distance, run ? 3 : 1008 + literals - 100);
        EXPECT_EQ(Decompress(block), input);
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

TEST(HrcFormat, WindowEndsAt65538Bytes) {
  const Bytes inside = MarkerAtDistance(65538), outside = MarkerAtDistance(65539);
  const Bytes insideBlock = Compress(inside), outsideBlock = Compress(outside);
  bool used = false;
  for (const Token& t : TokensOf(insideBlock, inside.size())) used |= t.distance == 65538;
  EXPECT_TRUE(used);
  for (const Token& t : TokensOf(outsideBlock, outside.size())) EXPECT_LE(t.distance, 65538u);
  EXPECT_EQ(Decompress(insideBlock), inside);
  EXPECT_EQ(Decompress(outsideBlock), outside);
}

// Matches 1000, 2008 and 3016 bytes back after fresh data: the first takes
// four distance bits into its extension byte, the second (no extension)
// opens a nibble slot and the third fills it. When the slot byte lands at
// the end of the 32768-byte buffer, five literals in between force a flush
// and the third token must patch the byte through the stream.
TEST(HrcFormat, CarriedNibbleGoesToTheNextTokenAcrossAFlush) {
  int patched = 0;
  for (size_t n : {5000, 32740, 32750, 32760, 32770, 32780}) {
    for (size_t i = 0; i < (n == 5000 ? 1 : 10); ++i) {
      const Bytes r = RandomBytes(n + i, 21);
      Bytes input = r;
      Append(input, r, n + i - 1000, n + i - 992);
      if (n != 5000) Append(input, RandomBytes(5, 22), 0, 5);
      Append(input, r, n + i - 2000, n + i - 1992);
      Append(input, r, n + i - 3000, n + i - 2992);
      input.insert(input.end(), {0, 1, 2});
      LoggedStream stream;
      HrcWriteBlock(stream, input.data(), static_cast<int32_t>(input.size()));
      patched += stream.PatchedBehindFlush();
      const Bytes block = stream.Content();
      ASSERT_EQ(Decompress(block), input) << n + i;
      if (n == 5000) {
        const std::vector<Token> tokens = TokensOf(block, input.size());
        ASSERT_EQ(tokens.size(), 4u);
        EXPECT_FALSE(tokens[0].opensNibble);
        EXPECT_TRUE(tokens[1].opensNibble);
        EXPECT_EQ(tokens[1].distance, 2008u);
        EXPECT_TRUE(tokens[2].usedNibble);
        EXPECT_EQ(tokens[2].distance, 3016u);
      }
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
