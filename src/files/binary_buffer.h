// A growable memory resource ("mem:"). Its bytes live in a chain of blocks
// that are never moved or copied once allocated: growing appends a block,
// shrinking releases trailing ones.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/resource.h"

namespace zm {

class TBinaryBuffer : public TBinaryResource {
 public:
  static constexpr int32_t kDefaultBlockSize = 16384;

  // A block size below 1 falls back to the default.
  explicit TBinaryBuffer(std::string name = "mem:", int32_t mode = rmReadWrite,
                         int32_t blockSize = kDefaultBlockSize);

  bool Eof() override { return position_ >= length_; }
  int32_t GetPosition() override { return position_; }
  void SetPosition(int32_t position) override;
  int32_t GetLength() override { return length_; }
  void SetLength(int32_t length) override;
  void Read(void* buffer, int32_t count) override;
  void Write(const void* buffer, int32_t count) override;

  // Hands the content, bytes 0 to the length, to `sink(bytes, count)` in
  // order, one block at a time, without copying it.
  template <typename Sink>
  void ForEachPiece(Sink&& sink) const {
    int64_t left = length_;
    for (const Block& block : blocks_) {
      if (left <= 0) break;
      const int64_t count = block.size < left ? block.size : left;
      sink(static_cast<const uint8_t*>(block.data.get()), static_cast<int32_t>(count));
      left -= count;
    }
  }

  int32_t BlockSize() const { return blockSize_; }
  int64_t Allocated() const { return allocated_; }
  // The blocks, in order, for callers that want to see the storage itself.
  int32_t BlockCount() const { return static_cast<int32_t>(blocks_.size()); }
  const uint8_t* BlockData(int32_t index) const { return blocks_[index].data.get(); }

 private:
  struct Block {
    std::unique_ptr<uint8_t[]> data;
    int64_t start;
    int64_t size;
  };

  // Makes sure bytes [0, end) are backed by blocks.
  void Reserve(int64_t end);
  // Index of the block holding `offset`, which must be allocated. Starts its
  // search at the block last used, since access is nearly always sequential.
  size_t FindBlock(int64_t offset);
  // Sets [from, to) to zero; both must be allocated.
  void Zero(int64_t from, int64_t to);

  std::vector<Block> blocks_;
  int64_t allocated_ = 0;
  int32_t length_ = 0;
  int32_t blockSize_;
  int32_t position_ = 0;
  size_t lastUsed_ = 0;
};

}  // namespace zm
