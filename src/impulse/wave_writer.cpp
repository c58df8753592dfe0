#include "impulse/wave_writer.h"

#include <cstring>
#include <vector>

#include "support/little_endian.h"

namespace zm {

namespace {

constexpr int32_t kHeaderSize = 44;
constexpr const char* kProductName = "Zelvane";

void PutId(uint8_t* p, const char* id) {
  std::memcpy(p, id, 4);
}

// Collects "LIST" entries: id, size (text length + 1), text, zero byte, and a
// pad byte when the size is odd (not counted in the size).
class TEntryBuilder {
 public:
  void Add(const char* id, const std::string& text) {
    const size_t size = text.size() + 1;
    const size_t padded = size + (size & 1);
    const size_t at = used_;
    Reserve(at + 8 + padded);
    PutId(buffer_.data() + at, id);
    StoreLe32(buffer_.data() + at + 4, static_cast<uint32_t>(size));
    std::memcpy(buffer_.data() + at + 8, text.data(), text.size());
    std::memset(buffer_.data() + at + 8 + text.size(), 0, padded - text.size());
    used_ = at + 8 + padded;
  }
  const uint8_t* Data() const { return buffer_.data(); }
  size_t Size() const { return used_; }

 private:
  void Reserve(size_t needed) {
    if (needed > buffer_.size()) buffer_.resize(needed + 512);
  }
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
};

// Write takes an int32 count; a large data block goes out in pieces.
void WriteAll(TResource& stream, const uint8_t* data, uint64_t size) {
  constexpr uint64_t kPiece = uint64_t{1} << 30;
  while (size > 0) {
    const uint64_t piece = size < kPiece ? size : kPiece;
    stream.Write(data, static_cast<int32_t>(piece));
    data += piece;
    size -= piece;
  }
}

}  // namespace

void WriteWave(TResource& stream, const uint8_t* data, int32_t frames, int32_t channels,
               int32_t sampleRate, int32_t bits, const std::string& title,
               const std::string& comment) {
  TEntryBuilder entries;
  if (!title.empty()) entries.Add("INAM", title);
  if (!comment.empty()) entries.Add("IENG", comment);
  entries.Add("ZLTR", kProductName);
  const uint64_t listSize = entries.Size() == 0 ? 0 : 12 + uint64_t{entries.Size()};

  const uint32_t blockAlign = static_cast<uint32_t>(bits / 8) * static_cast<uint32_t>(channels);
  const uint64_t dataSize = static_cast<uint64_t>(frames < 0 ? 0 : frames) * blockAlign;
  const uint64_t pad = dataSize & 1;
  // Every size field is 32 bits; a file whose sizes would wrap around is
  // refused instead of written with a lying header.
  const uint64_t byteRate = static_cast<uint64_t>(sampleRate < 0 ? 0 : sampleRate) * blockAlign;
  if (channels < 1 || channels > 0xFFFF || blockAlign > 0xFFFF || byteRate > 0xFFFFFFFFu ||
      36 + dataSize + pad + listSize > 0xFFFFFFFFu) {
    throw ERangeError(Format(msg::wave::sTooLarge, {frames, channels}));
  }

  uint8_t header[kHeaderSize];
  PutId(header + 0, "RIFF");
  StoreLe32(header + 4, static_cast<uint32_t>(36 + dataSize + pad));
  PutId(header + 8, "WAVE");
  PutId(header + 12, "fmt ");
  StoreLe32(header + 16, 16);
  StoreLe16(header + 20, bits == 32 ? 3 : 1);
  StoreLe16(header + 22, static_cast<uint32_t>(channels));
  StoreLe32(header + 24, static_cast<uint32_t>(sampleRate));
  StoreLe32(header + 28, static_cast<uint32_t>(byteRate));
  StoreLe16(header + 32, blockAlign);
  StoreLe16(header + 34, static_cast<uint32_t>(bits));
  PutId(header + 36, "data");
  StoreLe32(header + 40, static_cast<uint32_t>(dataSize));

  stream.Write(header, kHeaderSize);
  WriteAll(stream, data, dataSize);
  if (pad) {
    const uint8_t zero = 0;
    stream.Write(&zero, 1);
  }

  if (listSize != 0) {
    uint8_t list[12];
    PutId(list + 0, "LIST");
    StoreLe32(list + 4, static_cast<uint32_t>(4 + entries.Size()));
    PutId(list + 8, "INFO");
    stream.Write(list, sizeof list);
    WriteAll(stream, entries.Data(), entries.Size());
    StoreLe32(header + 4, static_cast<uint32_t>(36 + dataSize + pad + listSize));
    stream.SetPosition(0);
    stream.Write(header, kHeaderSize);
  }
}

}  // namespace zm
