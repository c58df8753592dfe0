#include "files/binary_buffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "stream_fixture.h"

namespace zm {
namespace {

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

TEST(MemResource, AnyMemNameOpensAFreshEmptyBuffer) {
  for (const char* name : {"mem:", "mem:x", "mem:some/where>item", "mem:C:\\a.bin"}) {
    for (int32_t mode : std::initializer_list<int32_t>{rmRead, rmCreate, rmErase, 42}) {
      auto r = RscOpen(name, mode);
      EXPECT_NE(dynamic_cast<TBinaryBuffer*>(r.get()), nullptr);
      EXPECT_EQ(r->Name, "mem:");
      EXPECT_EQ(r->Mode, rmReadWrite);
      EXPECT_TRUE(r->CanRead() && r->CanWrite());
      EXPECT_EQ(r->GetLength(), 0);
      EXPECT_TRUE(r->Eof());
      char byte = 0;
      r->Read(&byte, 0);
      EXPECT_RSC_ERROR(r->Read(&byte, 1), ERscReadPastEnd, "Read past end of resource \"mem:\"");
    }
  }
}

TEST(MemResource, RangeErrorsNameTheValue) {
  TBinaryBuffer b;
  char byte = 0;
  EXPECT_RSC_ERROR(b.SetPosition(-1), ERangeError, "Invalid seek position -1 (\"mem:\")");
  EXPECT_RSC_ERROR(b.SetLength(-5), ERangeError, "Invalid new length -5 (\"mem:\")");
  EXPECT_RSC_ERROR(b.Read(&byte, -2), ERangeError, "Invalid data count -2 (\"mem:\")");
  EXPECT_RSC_ERROR(b.Write(&byte, -3), ERangeError, "Invalid data count -3 (\"mem:\")");
  // A write whose end the 32-bit length cannot hold changes nothing.
  b.SetPosition(INT32_MAX - 1);
  EXPECT_THROW(b.Write("abcd", 4), ERangeError);
  EXPECT_EQ(b.GetLength(), 0);
  EXPECT_EQ(b.Allocated(), 0);
}

TEST(MemResource, ReadPastEndCopiesNothingAndKeepsPosition) {
  TBinaryBuffer b;
  b.Write("abcdef", 6);
  b.SetPosition(4);
  char out[4] = {'x', 'x', 'x', 'x'};
  EXPECT_THROW(b.Read(out, 3), ERscReadPastEnd);
  EXPECT_EQ(std::string(out, 4), "xxxx");
  EXPECT_EQ(b.GetPosition(), 4);
}

TEST(MemResource, WritePastLengthExtendsAndZeroesTheGap) {
  TBinaryBuffer b("mem:", rmReadWrite, 4);
  b.Write("abc", 3);
  b.SetPosition(10);
  EXPECT_TRUE(b.Eof());
  b.Write("XY", 2);
  EXPECT_EQ(b.GetLength(), 12);
  EXPECT_EQ(b.GetPosition(), 12);
  std::string all(12, '?');
  b.SetPosition(0);
  b.Read(all.data(), 12);
  EXPECT_EQ(all, std::string("abc\0\0\0\0\0\0\0XY", 12));
}

TEST(MemResource, BlockSpanningTransfersMatchAReference) {
  for (int32_t blockSize : std::initializer_list<int32_t>{1, 7, TBinaryBuffer::kDefaultBlockSize}) {
    SCOPED_TRACE(blockSize);
    TBinaryBuffer b("mem:", rmReadWrite, blockSize);
    const std::vector<uint8_t> data = Pattern(70000, 1);
    std::vector<uint8_t> reference(data.size());
    std::mt19937 random(static_cast<uint32_t>(blockSize));
    // Overlapping writes of odd sizes at random places, then reads likewise.
    for (int i = 0; i < 200; ++i) {
      int32_t at = static_cast<int32_t>(random() % 60000);
      int32_t count = static_cast<int32_t>(random() % 10000);
      b.SetPosition(at);
      b.Write(data.data() + at, count);
      std::copy(data.begin() + at, data.begin() + at + count, reference.begin() + at);
    }
    int32_t length = b.GetLength();
    reference.resize(static_cast<size_t>(length));
    std::vector<uint8_t> out(static_cast<size_t>(length));
    for (int32_t at = 0; at < length;) {
      int32_t count = std::min<int32_t>(length - at, static_cast<int32_t>(random() % 5000) + 1);
      b.SetPosition(at);
      b.Read(out.data() + at, count);
      EXPECT_EQ(b.GetPosition(), at + count);
      at += count;
    }
    EXPECT_EQ(out, reference);
  }
}

TEST(MemResource, GrowthAppendsBlocksThatNeverMove) {
  TBinaryBuffer b("mem:", rmReadWrite, 16);
  const std::vector<uint8_t> data = Pattern(5000, 2);
  b.Write(data.data(), 10);
  ASSERT_EQ(b.BlockCount(), 1);
  const uint8_t* first = b.BlockData(0);
  // A write larger than the block size gets one block as large as needed.
  b.Write(data.data() + 10, 4990);
  EXPECT_EQ(b.BlockCount(), 2);
  EXPECT_EQ(b.Allocated(), 5000);
  for (int i = 0; i < 100; ++i) b.Write(data.data(), 100);
  EXPECT_EQ(b.BlockData(0), first);
  EXPECT_EQ(std::vector<uint8_t>(first, first + 10),
            std::vector<uint8_t>(data.begin(), data.begin() + 10));
}

TEST(MemResource, SetLengthReleasesAndAddsStorage) {
  TBinaryBuffer b("mem:", rmReadWrite, 16);
  const std::vector<uint8_t> data = Pattern(100, 3);
  b.Write(data.data(), 100);
  b.SetLength(20);
  EXPECT_EQ(b.GetLength(), 20);
  EXPECT_EQ(b.GetPosition(), 100);  // the position is not touched
  EXPECT_EQ(b.Allocated(), 100);    // one block of 100 still holds byte 19
  b.SetLength(60);
  // Bytes that come back into the length read as zeros, not as old data.
  std::vector<uint8_t> out(60);
  b.SetPosition(0);
  b.Read(out.data(), 60);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 20),
            std::vector<uint8_t>(data.begin(), data.begin() + 20));
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 20, out.end()), std::vector<uint8_t>(40, 0));
  b.SetLength(500);
  EXPECT_EQ(b.BlockCount(), 2);
  b.SetLength(50);
  EXPECT_EQ(b.BlockCount(), 1);
  b.SetLength(0);
  EXPECT_EQ(b.BlockCount(), 0);
  EXPECT_EQ(b.Allocated(), 0);
  EXPECT_EQ(b.GetPosition(), 60);
}

}  // namespace
}  // namespace zm
