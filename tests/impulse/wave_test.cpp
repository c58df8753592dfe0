#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "files/binary_buffer.h"
#include "impulse/wave_writer.h"

namespace zm {
namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}
uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
std::string Id(const std::vector<uint8_t>& b, size_t at) {
  return std::string(b.begin() + at, b.begin() + at + 4);
}

std::vector<uint8_t> Write(int frames, int channels, int rate, int bits, const std::string& title,
                           const std::string& comment, std::vector<uint8_t> data = {}) {
  if (data.empty()) data.assign(static_cast<size_t>(frames) * channels * (bits / 8), 0x5A);
  TBinaryBuffer stream;
  WriteWave(stream, data.data(), frames, channels, rate, bits, title, comment);
  std::vector<uint8_t> file(stream.GetLength());
  stream.SetPosition(0);
  stream.Read(file.data(), static_cast<int32_t>(file.size()));
  return file;
}

TEST(WaveWriter, HeaderFieldsAndFinalRiffSize) {
  const auto file = Write(10, 2, 44100, 24, "Hall", "");
  EXPECT_EQ(Id(file, 0), "RIFF");
  EXPECT_EQ(U32(file, 4), file.size() - 8);
  EXPECT_EQ(Id(file, 8), "WAVE");
  EXPECT_EQ(Id(file, 12), "fmt ");
  EXPECT_EQ(U32(file, 16), 16u);
  EXPECT_EQ(U16(file, 20), 1);  // integer PCM
  EXPECT_EQ(U16(file, 22), 2);
  EXPECT_EQ(U32(file, 24), 44100u);
  EXPECT_EQ(U32(file, 28), 264600u);
  EXPECT_EQ(U16(file, 32), 6);
  EXPECT_EQ(U16(file, 34), 24);
  EXPECT_EQ(Id(file, 36), "data");
  EXPECT_EQ(U32(file, 40), 60u);
  EXPECT_EQ(file[44], 0x5A);
  EXPECT_EQ(file[44 + 59], 0x5A);
  EXPECT_EQ(Id(file, 104), "LIST");
}

TEST(WaveWriter, FormatTagIsFloatOnlyForThirtyTwoBits) {
  EXPECT_EQ(U16(Write(3, 2, 48000, 32, "", ""), 20), 3);
  for (int bits : {8, 16, 24}) EXPECT_EQ(U16(Write(3, 2, 48000, bits, "", ""), 20), 1) << bits;
}

TEST(WaveWriter, ProductEntryAloneMakesA28ByteList) {
  const auto file = Write(4, 2, 44100, 16, "", "");
  ASSERT_EQ(file.size(), 44u + 16 + 28);
  const size_t list = 60;
  EXPECT_EQ(Id(file, list), "LIST");
  EXPECT_EQ(U32(file, list + 4), 20u);
  EXPECT_EQ(Id(file, list + 8), "INFO");
  EXPECT_EQ(Id(file, list + 12), "ZLTR");
  EXPECT_EQ(U32(file, list + 16), 8u);
  EXPECT_EQ(std::string(file.begin() + list + 20, file.begin() + list + 28),
            std::string("Zelvane\0", 8));
  EXPECT_EQ(U32(file, 4), 36u + 16 + 28);
}

TEST(WaveWriter, EntriesCarryZeroAndPadBytes) {
  // "Room": size 5, text, zero, pad = 14 bytes. "Hi!" (size 4) needs no pad.
  const auto file = Write(1, 2, 44100, 16, "Room", "Hi!");
  size_t at = 44 + 4 + 12;
  EXPECT_EQ(Id(file, at), "INAM");
  EXPECT_EQ(U32(file, at + 4), 5u);
  EXPECT_EQ(std::string(file.begin() + at + 8, file.begin() + at + 14), std::string("Room\0\0", 6));
  at += 14;
  EXPECT_EQ(Id(file, at), "IENG");
  EXPECT_EQ(U32(file, at + 4), 4u);
  EXPECT_EQ(std::string(file.begin() + at + 8, file.begin() + at + 12), std::string("Hi!\0", 4));
  at += 12;
  EXPECT_EQ(Id(file, at), "ZLTR");
  EXPECT_EQ(at + 16, file.size());
  EXPECT_EQ(U32(file, 44 + 4 + 4), 4u + 14 + 12 + 16);
  EXPECT_EQ(U32(file, 4), file.size() - 8);
}

TEST(WaveWriter, OddDataSizeIsFollowedByAPadByte) {
  // 8 bits, three channels, five frames: 15 data bytes.
  const auto file = Write(5, 3, 44100, 8, "", "");
  EXPECT_EQ(U32(file, 40), 15u);
  EXPECT_EQ(U16(file, 32), 3);
  EXPECT_EQ(file[44 + 14], 0x5A);
  EXPECT_EQ(file[44 + 15], 0);
  EXPECT_EQ(Id(file, 44 + 16), "LIST");
  EXPECT_EQ(U32(file, 4), 36u + 15 + 1 + 28);
  EXPECT_EQ(U32(file, 4), file.size() - 8);
}

TEST(WaveWriter, EmptyDataChunkIsValid) {
  const auto file = Write(0, 2, 44100, 16, "t", "", std::vector<uint8_t>(1));
  EXPECT_EQ(U32(file, 40), 0u);
  EXPECT_EQ(Id(file, 44), "LIST");
  EXPECT_EQ(U32(file, 4), file.size() - 8);
}

TEST(WaveWriter, RefusesSizesThatWouldWrapTheHeader) {
  TBinaryBuffer stream;
  uint8_t byte = 0;
  // 2^29 frames of 8 float channels: 16 GiB of data, more than uint32 counts.
  EXPECT_THROW(WriteWave(stream, &byte, 1 << 29, 8, 44100, 32, "", ""), ERangeError);
  EXPECT_EQ(stream.GetLength(), 0);
}

}  // namespace
}  // namespace zm
