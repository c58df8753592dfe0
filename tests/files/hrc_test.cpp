#include "files/hrc.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "design_builder.h"
#include "hrc_test_support.h"

namespace zm {
namespace {

using test::Bytes;
using test::ListTokens;
using test::RandomBytes;
using test::RecordingStream;
using test::Token;

std::vector<uint8_t> Compress(const std::vector<uint8_t>& input) {
  RecordingStream stream;
  HrcWriteBlock(stream, input.data(), static_cast<int32_t>(input.size()));
  EXPECT_EQ(stream.position, static_cast<int32_t>(stream.data.size()));
  return stream.data;
}

std::vector<uint8_t> Decompress(const std::vector<uint8_t>& block) {
  RecordingStream stream(block);
  return HrcReadNewBlock(stream);
}

std::vector<Token> TokensOf(const std::vector<uint8_t>& block, size_t outputSize) {
  return ListTokens(block.data() + kHrcHeaderSize, block.size() - kHrcHeaderSize, outputSize);
}

std::vector<uint8_t> Header(int32_t uncompressed, int32_t compressed) {
  std::vector<uint8_t> h = {0x48, 0x52, 0x43, 0x1A};
  for (int32_t v : {uncompressed, compressed}) {
    for (int i = 0; i < 4; ++i)
      h.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
  }
  return h;
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& from, size_t begin, size_t end) {
  to.insert(to.end(), from.begin() + static_cast<ptrdiff_t>(begin),
            from.begin() + static_cast<ptrdiff_t>(end));
}

// Compresses, checks the header, and decodes through both read paths.
void ExpectRoundTrip(const std::vector<uint8_t>& input, const std::string& what) {
  SCOPED_TRACE(what);
  const std::vector<uint8_t> block = Compress(input);
  ASSERT_GE(block.size(), 12u);
  RecordingStream sized(block);
  EXPECT_EQ(HrcBlockSize(sized), static_cast<int32_t>(input.size()));
  EXPECT_EQ(sized.position, 0);
  EXPECT_EQ(Decompress(block), input);

  // A destination of exactly the uncompressed size is the normal case.
  std::vector<uint8_t> exact(input.size());
  RecordingStream stream(block);
  EXPECT_EQ(HrcReadBlock(stream, exact), static_cast<int32_t>(input.size()));
  EXPECT_EQ(stream.position, static_cast<int32_t>(block.size()));
  EXPECT_EQ(exact, input);
}

TEST(HrcFormat, ExactVectors) {
  EXPECT_EQ(Compress({}), Header(0, 0));

  std::vector<uint8_t> abc = Header(3, 5);
  abc.insert(abc.end(), {0x58, 0x00, 0x61, 0x62, 0x63});
  EXPECT_EQ(Compress(Bytes("abc")), abc);

  std::vector<uint8_t> zeros = Header(100, 5);
  zeros.insert(zeros.end(), {0x07, 0x0F, 0x4A, 0x00, 0x00});
  EXPECT_EQ(Compress(std::vector<uint8_t>(100, 0)), zeros);
}

// A token with `literals` fresh bytes and a match of `length` bytes taken
// from a dictionary that an earlier token already carried.
TEST(HrcFormat, EveryLengthEncodingBranch) {
  const std::vector<uint8_t> dictionary = RandomBytes(1000, 1);
  for (uint32_t literals : {0u, 1u, 6u, 7u, 8u, 21u, 22u, 23u, 300u, 20000u}) {
    for (uint32_t length : {4u, 6u, 10u, 11u, 25u, 26u, 300u, 800u}) {
      std::vector<uint8_t> input = dictionary;
      Append(input, dictionary, 0, 8);
      const std::vector<uint8_t> fresh = RandomBytes(literals, 1000 + literals);
      input.insert(input.end(), fresh.begin(), fresh.end());
      Append(input, dictionary, 100, 100 + length);
      const uint8_t after = input[100 + length];
      input.insert(input.end(), {static_cast<uint8_t>(after ^ 0xFF), 1, 2});

      const std::vector<uint8_t> block = Compress(input);
      const std::vector<Token> tokens = TokensOf(block, input.size());
      SCOPED_TRACE("literals " + std::to_string(literals) + " length " + std::to_string(length));
      ASSERT_EQ(tokens.size(), 3u);
      EXPECT_EQ(tokens[1].literals, literals);
      EXPECT_EQ(tokens[1].matchLength, length);
      EXPECT_EQ(tokens[1].distance, 1008 + literals - 100);
      EXPECT_EQ(tokens[2].literals, 3u);  // the closing token
      EXPECT_EQ(Decompress(block), input);
    }
  }
}

TEST(HrcFormat, RunTokensOfEveryLength) {
  for (uint32_t literals : {0u, 5u, 30u}) {
    for (uint32_t run : {4u, 10u, 11u, 25u, 26u, 300u, 100000u}) {
      std::vector<uint8_t> input = RandomBytes(literals, 7);
      input.insert(input.end(), run, 0xAB);
      input.insert(input.end(), {0x01, 0x02});
      const std::vector<uint8_t> block = Compress(input);
      const std::vector<Token> tokens = TokensOf(block, input.size());
      SCOPED_TRACE("literals " + std::to_string(literals) + " run " + std::to_string(run));
      ASSERT_EQ(tokens.size(), 2u);
      EXPECT_EQ(tokens[0].literals, literals);
      EXPECT_EQ(tokens[0].distance, 3u);
      EXPECT_EQ(tokens[0].matchLength, run);
      EXPECT_EQ(Decompress(block), input);
    }
  }
}

uint32_t HashOf(const uint8_t* q) {
  uint32_t h = (uint32_t{q[3]} << 16) ^ (uint32_t{q[2]} << 10) ^ (uint32_t{q[1]} << 5) ^ q[0];
  return ((h * 33) >> 5) & 0xFFFF;
}

// A 16-byte marker at the start and again `distance` bytes later, with a
// filler in between that never takes the marker's hash slot.
std::vector<uint8_t> MarkerAtDistance(size_t distance) {
  std::vector<uint8_t> input = RandomBytes(distance, 11);
  Append(input, input, 0, 16);
  input.insert(input.end(), {0, 1, 2});
  const uint32_t marker = HashOf(input.data());
  std::mt19937 rng(5);
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t i = 1; i < distance; ++i) {
      if (HashOf(input.data() + i) == marker) {
        input[i] = static_cast<uint8_t>(rng());
        changed = true;
      }
    }
  }
  return input;
}

TEST(HrcFormat, WindowEndsAt65538Bytes) {
  const std::vector<uint8_t> inside = MarkerAtDistance(65538);
  const std::vector<uint8_t> insideBlock = Compress(inside);
  bool used = false;
  for (const Token& t : TokensOf(insideBlock, inside.size())) {
    if (t.distance == 65538 && t.matchLength >= 16) used = true;
  }
  EXPECT_TRUE(used);
  EXPECT_EQ(Decompress(insideBlock), inside);

  const std::vector<uint8_t> outside = MarkerAtDistance(65539);
  const std::vector<uint8_t> outsideBlock = Compress(outside);
  for (const Token& t : TokensOf(outsideBlock, outside.size())) EXPECT_LE(t.distance, 65538u);
  EXPECT_EQ(Decompress(outsideBlock), outside);
  // The unused marker costs its 16 bytes as literals.
  EXPECT_GT(outsideBlock.size(), insideBlock.size() + 8);
}

// A match longer than its distance repeats the pattern; distance 4 is the
// shortest a match may reach back.
TEST(HrcFormat, OverlappingMatchesRepeatAPattern) {
  for (size_t period : {4, 5, 16, 23}) {
    const std::vector<uint8_t> pattern = RandomBytes(period, 30);
    std::vector<uint8_t> input;
    while (input.size() < 400) Append(input, pattern, 0, period);
    input.push_back(static_cast<uint8_t>(input[input.size() - period] ^ 0xFF));
    const std::vector<uint8_t> block = Compress(input);
    const std::vector<Token> tokens = TokensOf(block, input.size());
    SCOPED_TRACE(period);
    ASSERT_GE(tokens.size(), 1u);
    EXPECT_EQ(tokens[0].literals, period);
    EXPECT_EQ(tokens[0].distance, period);
    EXPECT_EQ(tokens[0].matchLength, input.size() - 1 - period);
    EXPECT_EQ(Decompress(block), input);
  }
}

TEST(HrcFormat, CarriedNibbleGoesToTheNextToken) {
  const std::vector<uint8_t> r = RandomBytes(5000, 3);
  std::vector<uint8_t> input = r;
  Append(input, r, 4000, 4008);  // distance 1000: the extension byte takes four bits
  Append(input, r, 3000, 3008);  // distance 2008, no extension: opens a slot
  Append(input, r, 2000, 2008);  // fills the slot
  input.insert(input.end(), {0, 1, 2});
  const std::vector<uint8_t> block = Compress(input);
  const std::vector<Token> tokens = TokensOf(block, input.size());
  ASSERT_EQ(tokens.size(), 4u);
  EXPECT_FALSE(tokens[0].opensNibble);
  EXPECT_TRUE(tokens[1].opensNibble);
  EXPECT_EQ(tokens[1].distance, 2008u);
  EXPECT_TRUE(tokens[2].usedNibble);
  EXPECT_EQ(tokens[2].distance, 3016u);
  EXPECT_EQ(Decompress(block), input);
}

// The slot-opening token carries five literals; when its slot byte lands in
// the last bytes of the 32768-byte buffer those literals force a flush, and
// the next token must patch the byte through the stream.
TEST(HrcFormat, CarriedNibbleSurvivesABufferFlush) {
  int patched = 0;
  for (size_t n = 32740; n < 32780; ++n) {
    const std::vector<uint8_t> r = RandomBytes(n, 21);
    std::vector<uint8_t> input = r;
    Append(input, r, n - 1000, n - 992);
    Append(input, RandomBytes(5, 22), 0, 5);
    Append(input, r, n - 2000, n - 1992);
    Append(input, r, n - 3000, n - 2992);
    input.insert(input.end(), {0, 1, 2});

    RecordingStream stream;
    HrcWriteBlock(stream, input.data(), static_cast<int32_t>(input.size()));
    if (stream.PatchedBehindFlush()) ++patched;
    ASSERT_EQ(Decompress(stream.data), input) << "prefix " << n;
  }
  EXPECT_GE(patched, 1);
}

std::vector<uint8_t> Text(size_t size) {
  static const char* words[] = {"wall ",    "ray ", "reflection ", "the ",     "absorbs ",
                                "emitter ", "of ",  "room\n",      "diffuse ", "air "};
  std::mt19937 rng(9);
  std::string s;
  while (s.size() < size) s += words[rng() % 10];
  s.resize(size);
  return Bytes(s);
}

TEST(HrcRoundTrip, VariedInputs) {
  std::vector<std::pair<std::string, std::function<std::vector<uint8_t>(size_t)>>> kinds = {
      {"random", [](size_t n) { return RandomBytes(n, 17); }},
      {"zeros", [](size_t n) { return std::vector<uint8_t>(n, 0); }},
      {"text", Text},
      {"runs",
       [](size_t n) {
         std::mt19937 rng(2);
         std::vector<uint8_t> v;
         while (v.size() < n) v.insert(v.end(), rng() % 40 + 1, static_cast<uint8_t>(rng() % 3));
         v.resize(n);
         return v;
       }},
      {"period 5",
       [](size_t n) {
         std::vector<uint8_t> v(n);
         for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>("ab\0c\x7f"[i % 5]);
         return v;
       }},
      {"mixed", [](size_t n) {
         std::mt19937 rng(4);
         std::vector<uint8_t> v;
         while (v.size() < n) {
           size_t piece = rng() % 70000;
           std::vector<uint8_t> part = rng() % 2 ? RandomBytes(piece, rng()) : Text(piece);
           v.insert(v.end(), part.begin(), part.end());
         }
         v.resize(n);
         return v;
       }}};
  for (const auto& [name, make] : kinds) {
    for (size_t size : {0, 1, 3, 4, 5, 11, 100, 4096, 32767, 32768, 65539, 200000, 3000000}) {
      ExpectRoundTrip(make(size), name + " " + std::to_string(size));
    }
  }
}

TEST(HrcRoundTrip, DesignRecord) {
  test::DesignBuilder design;
  design.Title("Concert hall");
  int m = design.AddMaterial("Plaster", 0.95, 0.1, 0.9);
  for (int i = 0; i < 40; ++i) design.AddWall(i, 0, i + 1, 0.5 * i, m);
  design.AddEmitter(1, 1, 0.0, 1000, 6.28);
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&design.Record());
  const std::vector<uint8_t> input(raw, raw + sizeof(TDesignRecord));
  ExpectRoundTrip(input, "design");
  EXPECT_LT(Compress(input).size(), input.size() / 4);
}

TEST(HrcWriter, RefusesANegativeSizeAndWritesNothing) {
  RecordingStream stream;
  uint8_t byte = 0;
  try {
    HrcWriteBlock(stream, &byte, -1);
    FAIL() << "no exception";
  } catch (const ERangeError& e) {
    EXPECT_STREQ(e.what(), "Invalid data count -1 (\"rec:\")");
  }
  EXPECT_TRUE(stream.writes.empty());
}

template <typename E>
std::string FailureOf(const std::vector<uint8_t>& block, bool newBlock = true) {
  RecordingStream stream(block);
  try {
    if (newBlock) {
      HrcReadNewBlock(stream);
    } else {
      std::vector<uint8_t> out(64);
      HrcReadBlock(stream, out);
    }
  } catch (const E& e) {
    return e.what();
  } catch (const Exception& e) {
    return std::string("other exception: ") + e.what();
  }
  return "no exception";
}

std::vector<uint8_t> WithTokens(int32_t uncompressed, std::vector<uint8_t> tokens) {
  std::vector<uint8_t> block = Header(uncompressed, static_cast<int32_t>(tokens.size()));
  block.insert(block.end(), tokens.begin(), tokens.end());
  return block;
}

TEST(HrcDecoder, RefusesCorruptBlocksNamingTheirPosition) {
  const std::string atHeader = "Corrupt HRC block in resource \"rec:\" at pos 0";
  const std::string atFirst = "Corrupt HRC block in resource \"rec:\" at pos 12";
  const std::string atSecond = "Corrupt HRC block in resource \"rec:\" at pos 17";

  EXPECT_EQ(FailureOf<EHRCDataCorrupt>(WithTokens(-1, {})), atHeader);
  EXPECT_EQ(FailureOf<EHRCDataCorrupt>(Header(5, -3)), atHeader);
  EXPECT_EQ(FailureOf<EHRCDataCorrupt>(WithTokens(kHrcMaxBlockSize + 1, {0, 0})), atHeader);
  // "abc" claiming two bytes: the literals would overrun the output.
  EXPECT_EQ(FailureOf<EHRCDataCorrupt>(WithTokens(2, {0x58, 0x00, 0x61, 0x62, 0x63})), atFirst);
  // "abc" claiming more: the closing token's match reaches before the start.
  EXPECT_EQ(FailureOf<EHRCDataCorrupt>(WithTokens(10, {0x58, 0x00, 0x61, 0x62, 0x63})), atFirst);
  // A first token that copies from before the start of the output.
  EXPECT_EQ(FailureOf<EHRCDataCorrupt>(WithTokens(8, {0x00, 0x05})), atFirst);
  // Literals beyond the end of the token stream.
  EXPECT_EQ(FailureOf<EHRCDataCorrupt>(WithTokens(6, {0x30, 0x00, 0x61, 0x62})), atFirst);
  // A hundred zeros claiming 101 bytes: the tokens run out.
  EXPECT_EQ(FailureOf<EHRCDataCorrupt>(WithTokens(101, {0x07, 0x0F, 0x4A, 0x00, 0x00})), atSecond);
  // A run longer than the output.
  EXPECT_EQ(FailureOf<EHRCDataCorrupt>(WithTokens(99, {0x07, 0x0F, 0x4A, 0x00, 0x00})), atFirst);
  // A length varint that never ends, and one beyond 32 bits.
  EXPECT_EQ(FailureOf<EHRCDataCorrupt>(
                WithTokens(50, {0x07, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00})),
            atFirst);
  EXPECT_EQ(FailureOf<EHRCDataCorrupt>(
                WithTokens(50, {0x07, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00})),
            atFirst);
  // Distance bits beyond sixteen, which the compressor never forms.
  EXPECT_EQ(FailureOf<EHRCDataCorrupt>(WithTokens(
                20, {0x20, 0x00, 'a', 'b', 'c', 'd', 'e', 0x07, 0x0F, 0x00, 0xFF, 0x7F})),
            "Corrupt HRC block in resource \"rec:\" at pos 19");

  EXPECT_EQ(FailureOf<EHRCDataBlockNotFound>({'H', 'R', 'C', 0x1B, 0, 0, 0, 0, 0, 0, 0, 0}),
            "HRC block not found in resource \"rec:\" at pos 0");
  EXPECT_EQ(FailureOf<EHRCDataCorrupt>(Compress(RandomBytes(65, 1)), false),
            "HRC block of 65 bytes in resource \"rec:\" at pos 0 does not fit a buffer of 64 "
            "bytes");
}

TEST(HrcDecoder, TruncatedBlocksReadPastTheEnd) {
  const std::vector<uint8_t> block = Compress(Text(3000));
  for (size_t cut = 0; cut < block.size(); ++cut) {
    std::vector<uint8_t> shortBlock(block.begin(), block.begin() + static_cast<ptrdiff_t>(cut));
    EXPECT_EQ(FailureOf<ERscReadPastEnd>(shortBlock), "Read past end of resource \"rec:\"") << cut;
  }
  // A compressed size far beyond the stream is refused before allocating.
  std::vector<uint8_t> claimsMore = Header(100, 5);
  claimsMore.push_back(0x07);
  EXPECT_EQ(FailureOf<ERscReadPastEnd>(claimsMore), "Read past end of resource \"rec:\"");
  std::vector<uint8_t> huge = Header(1000, 0x7FFFFFFF);
  EXPECT_EQ(FailureOf<ERscReadPastEnd>(huge), "Read past end of resource \"rec:\"");
}

TEST(HrcDecoder, MutatedBlocksFailCleanly) {
  const std::vector<uint8_t> original = Compress(Text(20000));
  std::mt19937 rng(12);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> block = original;
    for (int flips = 1 + round % 4; flips > 0; --flips) {
      block[kHrcHeaderSize + rng() % (block.size() - kHrcHeaderSize)] = static_cast<uint8_t>(rng());
    }
    RecordingStream stream(block);
    std::vector<uint8_t> exact(20000);
    try {
      HrcReadBlock(stream, exact);
    } catch (const EHRCDataCorrupt&) {
    }
  }
}

TEST(HrcBlockSize, LeavesThePositionAndChecksTheMagic) {
  RecordingStream stream(Compress(Text(777)));
  EXPECT_EQ(HrcBlockSize(stream), 777);
  EXPECT_EQ(stream.position, 0);

  RecordingStream shifted({1, 2, 3, 4, 5});
  shifted.position = 2;
  EXPECT_THROW(HrcBlockSize(shifted), ERscReadPastEnd);
  EXPECT_EQ(shifted.position, 2);

  RecordingStream wrong(std::vector<uint8_t>(20, 'x'));
  wrong.position = 4;
  try {
    HrcBlockSize(wrong);
    FAIL() << "no exception";
  } catch (const EHRCDataBlockNotFound& e) {
    EXPECT_STREQ(e.what(), "HRC block not found in resource \"rec:\" at pos 4");
  }
  EXPECT_EQ(wrong.position, 4);
}

}  // namespace
}  // namespace zm
