// Reads back the wave files the process tests render: the fields they check,
// parsed independently of the writer.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zm::test {

struct WaveFile {
  bool valid = false;
  std::vector<uint8_t> bytes;
  uint32_t riffSize = 0;
  uint16_t formatTag = 0, channels = 0, bits = 0;
  uint32_t sampleRate = 0;
  std::vector<uint8_t> data;
  std::string title;  // INAM without its zero byte; empty when absent
  bool hasTitle = false;

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

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline WaveFile ParseWave(const std::string& path) {
  WaveFile w;
  w.bytes = ReadBytes(path);
  const std::vector<uint8_t>& b = w.bytes;
  auto u32 = [&](size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
  };
  auto u16 = [&](size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); };
  auto id = [&](size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); };
  if (b.size() < 12 || id(0) != "RIFF" || id(8) != "WAVE") return w;
  w.riffSize = u32(4);
  size_t at = 12;
  while (at + 8 <= b.size()) {
    const std::string chunk = id(at);
    const uint32_t size = u32(at + 4);
    if (at + 8 + size > b.size()) return w;
    if (chunk == "fmt ") {
      w.formatTag = u16(at + 8);
      w.channels = u16(at + 10);
      w.sampleRate = u32(at + 12);
      w.bits = u16(at + 22);
    } else if (chunk == "data") {
      w.data.assign(b.begin() + at + 8, b.begin() + at + 8 + size);
    } else if (chunk == "LIST") {
      size_t e = at + 12;
      while (e + 8 <= at + 8 + size) {
        const uint32_t len = u32(e + 4);
        if (id(e) == "INAM") {
          w.hasTitle = true;
          w.title.assign(b.begin() + e + 8, b.begin() + e + 8 + len - 1);
        }
        e += 8 + len + (len & 1);
      }
    }
    at += 8 + size + (size & 1);
  }
  w.valid = at == b.size() && w.riffSize == b.size() - 8;
  return w;
}

}  // namespace zm::test
