// The in-memory resource: "mem:" names, growth in blocks that never move,
// and transfers across block edges.
#include "files/binary_buffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>

#include "scratch_folder.h"

namespace zm {
namespace {

std::string Pattern(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& b : bytes) b = static_cast<char>(random());
  return bytes;
}

std::string ReadAll(TResource& r) {
  std::string all(static_cast<size_t>(r.GetLength()), '?');
  r.SetPosition(0);
  r.Read(all.data(), r.GetLength());
  return all;
}

TEST(MemResource, ReadPastEndCopiesNothingAndWritePastEndZeroesTheGap) {
  TBinaryBuffer b("mem:", rmReadWrite, 4);
  b.Write("abcdef", 6);
  b.SetPosition(4);
  char out[4] = {'x', 'x', 'x', 'x'};
  EXPECT_THROW(b.Read(out, 3), ERscReadPastEnd);
  EXPECT_EQ(std::string(out, 4), "xxxx");
  EXPECT_EQ(b.GetPosition(), 4);
  b.SetLength(2);  // "cdef" stays in the kept block, yet the gap must read as zeros
  b.SetPosition(10);
  b.Write("XY", 2);
  EXPECT_EQ(b.GetPosition(), 12);
  EXPECT_EQ(ReadAll(b), std::string("ab\0\0\0\0\0\0\0\0XY", 12));
  // A write whose end the 32-bit length cannot hold changes nothing.
  b.SetPosition(INT32_MAX - 1);
  EXPECT_THROW(b.Write("abcd", 4), ERangeError);
  EXPECT_EQ(b.GetLength(), 12);
}

TEST(MemResource, TransfersAcrossBlockEdgesMatchAReference) {
  for (int32_t blockSize : {1, 7, TBinaryBuffer::kDefaultBlockSize}) {
    SCOPED_TRACE(blockSize);
    TBinaryBuffer b("mem:", rmReadWrite, blockSize);
    const std::string data = Pattern(70000, 1);
    std::string reference;
    std::mt19937 random(static_cast<uint32_t>(blockSize));
    for (int i = 0; i < 200; ++i) {  // overlapping writes of odd sizes at random places
      const auto at = static_cast<int32_t>(random() % 60000);
      const auto count = static_cast<int32_t>(random() % 10000);
      b.SetPosition(at);
      b.Write(data.data() + at, count);
      reference.resize(std::max(reference.size(), static_cast<size_t>(at + count)));
      reference.replace(at, count, data, at, count);
    }
    std::string out(reference.size(), '?');
    for (int32_t at = 0; at < b.GetLength();) {
      const int32_t count = std::min(b.GetLength() - at, static_cast<int32_t>(random() % 5000) + 1);
      b.SetPosition(at);
      b.Read(out.data() + at, count);
      at += count;
    }
    EXPECT_EQ(out, reference);
  }
}

TEST(MemResource, BlocksNeverMoveAndSetLengthZeroesWhatReturns) {
  TBinaryBuffer b("mem:", rmReadWrite, 16);
  const std::string data = Pattern(5000, 2);
  b.Write(data.data(), 10);
  const uint8_t* first = b.BlockData(0);
  b.Write(data.data() + 10, 4990);  // one block as large as the write needs
  EXPECT_EQ(b.BlockCount(), 2);
  EXPECT_EQ(b.Allocated(), 5000);
  for (int i = 0; i < 100; ++i) b.Write(data.data(), 100);
  EXPECT_EQ(b.BlockData(0), first);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first), 10), data.substr(0, 10));

  b.SetLength(20);
  EXPECT_EQ(b.GetPosition(), 15000);  // the position is not touched
  EXPECT_EQ(b.BlockCount(), 2);       // the second block still holds byte 19
  b.SetLength(60);
  EXPECT_EQ(ReadAll(b), data.substr(0, 20) + std::string(40, '\0'));
  b.SetLength(5);
  EXPECT_EQ(b.BlockCount(), 1);
  b.SetLength(0);
  EXPECT_EQ(b.BlockCount(), 0);
  EXPECT_EQ(b.Allocated(), 0);
}

}  // namespace
}  // namespace zm
