// Reads back a rendered wave file, parsed independently of the writer: the
// fields that tests check, and the samples of the "data" chunk.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zm::test {

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct WaveFile {
  // valid: RIFF/WAVE whose chunks fill the file exactly, as its size says.
  bool valid = false;
  uint16_t formatTag = 0, channels = 0, bits = 0;
  uint32_t sampleRate = 0;
  std::vector<uint8_t> data;
  std::string title;  // INAM without its zero byte

  explicit WaveFile(const std::string& path) {
    const std::vector<uint8_t> b = ReadBytes(path);
    auto u32 = [&](size_t at) {
      return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
    };
    auto u16 = [&](size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); };
    auto id = [&](size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); };
    if (b.size() < 12 || id(0) != "RIFF" || id(8) != "WAVE") return;
    size_t at = 12;
    for (uint32_t size; at + 8 <= b.size(); at += 8 + size + (size & 1)) {
      size = u32(at + 4);
      if (at + 8 + size > b.size()) return;
      if (id(at) == "fmt ") {
        formatTag = u16(at + 8), channels = u16(at + 10), sampleRate = u32(at + 12);
        bits = u16(at + 22);
      } else if (id(at) == "data") {
        data.assign(b.begin() + at + 8, b.begin() + at + 8 + size);
      } else if (id(at) == "LIST") {
        for (size_t e = at + 12; e + 8 <= at + 8 + size; e += 8 + u32(e + 4) + (u32(e + 4) & 1)) {
          if (id(e) == "INAM") title.assign(b.begin() + e + 8, b.begin() + e + 7 + u32(e + 4));
        }
      }
    }
    valid = at == b.size() && u32(4) == b.size() - 8;
  }

  uint32_t Frames() const { return channels && bits ? data.size() / (channels * bits / 8) : 0; }
  float Float(uint32_t frame, uint32_t channel) const {
    float f;
    std::memcpy(&f, data.data() + (frame * channels + channel) * 4, 4);
    return f;
  }
  int16_t Int16(uint32_t frame, uint32_t channel) const {
    const uint8_t* p = data.data() + (frame * channels + channel) * 2;
    return static_cast<int16_t>(p[0] | (p[1] << 8));
  }
};

}  // namespace zm::test
