// The wave writer's header, LIST/INFO entries, pads and size fields, read
// back byte by byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/binary_buffer.h"
#include "impulse/wave_writer.h"

namespace zm {
namespace {

struct Written {
  std::vector<uint8_t> b;
  uint32_t U32(size_t at) const {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
  }
  uint16_t U16(size_t at) const { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
  std::string Text(size_t at, size_t n = 4) const {
    return std::string(b.begin() + at, b.begin() + at + n);
  }
};

Written Write(int frames, int channels, int bits, const std::string& title = "",
              const std::string& comment = "") {
  const std::vector<uint8_t> data(static_cast<size_t>(frames) * channels * (bits / 8) + 1, 0x5A);
  TBinaryBuffer stream;
  WriteWave(stream, data.data(), frames, channels, 44100, bits, title, comment);
  Written w{std::vector<uint8_t>(stream.GetLength())};
  stream.SetPosition(0);
  stream.Read(w.b.data(), stream.GetLength());
  EXPECT_EQ(w.U32(4), w.b.size() - 8);  // the RIFF size, patched at the end
  return w;
}

TEST(WaveWriter, HeaderFields) {
  // 24-bit integer PCM, 2 channels at 44100 Hz: 264600 bytes a second, 6 a frame.
  const Written w = Write(10, 2, 24, "Hall");
  EXPECT_EQ(w.Text(8, 28),
            std::string("WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xAC\0\0\x98\t\x04\0\x06\0\x18\0", 28));
  EXPECT_EQ(w.Text(36, 8), std::string("data\x3C\0\0\0", 8));
  EXPECT_EQ(w.Text(44, 60), std::string(60, 0x5A));
  EXPECT_EQ(w.Text(104), "LIST");
  EXPECT_EQ(Write(3, 2, 32).U16(20), 3);  // float only for 32 bits
}

TEST(WaveWriter, ListEntriesAndPads) {
  // The product entry alone: a 28-byte list.
  Written w = Write(4, 2, 16);
  EXPECT_EQ(w.b.size(), 44u + 16 + 28);
  EXPECT_EQ(w.Text(60, 28), std::string("LIST\x14\0\0\0INFOZLTR\x08\0\0\0Zelvane\0", 28));
  // "Room": size 5, text, zero, pad = 14 bytes. "Hi!" (size 4) needs no pad.
  w = Write(1, 2, 16, "Room", "Hi!");
  EXPECT_EQ(w.U32(52), 4u + 14 + 12 + 16);
  EXPECT_EQ(w.Text(60, 26), std::string("INAM\x05\0\0\0Room\0\0IENG\x04\0\0\0Hi!\0", 26));
  EXPECT_EQ(w.Text(86), "ZLTR");
  // An odd data size is followed by a pad byte: 8 bits, three channels, five frames.
  w = Write(5, 3, 8);
  EXPECT_EQ(w.U32(40), 15u);
  EXPECT_EQ(w.U16(32), 3);
  EXPECT_EQ(w.Text(44 + 14, 2), std::string("\x5A\0", 2));
  EXPECT_EQ(w.Text(44 + 16), "LIST");
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
