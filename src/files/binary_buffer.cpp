#include "files/binary_buffer.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace zm {

TBinaryBuffer::TBinaryBuffer(std::string name, int32_t mode, int32_t blockSize)
    : TBinaryResource(std::move(name), mode),
      blockSize_(blockSize > 0 ? blockSize : kDefaultBlockSize) {}

void TBinaryBuffer::SetPosition(int32_t position) {
  if (position < 0) throw ERangeError(Format(msg::rsc::sRscInvalidPosition, {position, Name}));
  position_ = position;
}

void TBinaryBuffer::SetLength(int32_t length) {
  if (length < 0) throw ERangeError(Format(msg::rsc::sRscInvalidLength, {length, Name}));
  if (length == 0) {
    blocks_.clear();
    allocated_ = 0;
    lastUsed_ = 0;
  } else if (length < length_) {
    // Keep the block holding the last byte, release everything after it.
    while (!blocks_.empty() && blocks_.back().start >= length) {
      allocated_ -= blocks_.back().size;
      blocks_.pop_back();
    }
    lastUsed_ = 0;
  } else if (length > length_) {
    Reserve(length);
    // A shrink earlier may have left old bytes beyond the length inside a
    // kept block; what is added must read as zeros.
    Zero(length_, length);
  }
  length_ = length;
}

void TBinaryBuffer::Read(void* buffer, int32_t count) {
  if (count < 0) throw ERangeError(Format(msg::rsc::sRscInvalidCount, {count, Name}));
  if (static_cast<int64_t>(position_) + count > length_) {
    throw ERscReadPastEnd(Format(msg::rsc::sRscReadPastEnd, {Name}));
  }
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t offset = position_;
  int64_t left = count;
  while (left > 0) {
    const Block& block = blocks_[FindBlock(offset)];
    int64_t inBlock = offset - block.start;
    int64_t chunk = std::min(left, block.size - inBlock);
    std::memcpy(out, block.data.get() + inBlock, static_cast<size_t>(chunk));
    out += chunk;
    offset += chunk;
    left -= chunk;
  }
  position_ = static_cast<int32_t>(offset);
}

void TBinaryBuffer::Write(const void* buffer, int32_t count) {
  if (count < 0) throw ERangeError(Format(msg::rsc::sRscInvalidCount, {count, Name}));
  int64_t end = static_cast<int64_t>(position_) + count;
  // The length is a 32-bit value; a write that would carry it beyond is
  // refused before anything changes.
  if (end > INT32_MAX) throw ERangeError(Format(msg::rsc::sRscInvalidCount, {count, Name}));
  if (end > length_) {
    Reserve(end);
    // The gap between the old end and a write past it reads as zeros.
    Zero(length_, position_);
    length_ = static_cast<int32_t>(end);
  }
  const auto* in = static_cast<const uint8_t*>(buffer);
  int64_t offset = position_;
  int64_t left = count;
  while (left > 0) {
    Block& block = blocks_[FindBlock(offset)];
    int64_t inBlock = offset - block.start;
    int64_t chunk = std::min(left, block.size - inBlock);
    std::memcpy(block.data.get() + inBlock, in, static_cast<size_t>(chunk));
    in += chunk;
    offset += chunk;
    left -= chunk;
  }
  position_ = static_cast<int32_t>(offset);
}

void TBinaryBuffer::Reserve(int64_t end) {
  if (end <= allocated_) return;
  int64_t size = std::max<int64_t>(blockSize_, end - allocated_);
  // Value-initialised: fresh storage is zero.
  blocks_.push_back(
      Block{std::make_unique<uint8_t[]>(static_cast<size_t>(size)), allocated_, size});
  allocated_ += size;
}

size_t TBinaryBuffer::FindBlock(int64_t offset) {
  if (lastUsed_ >= blocks_.size()) lastUsed_ = 0;
  const Block& last = blocks_[lastUsed_];
  if (offset >= last.start && offset < last.start + last.size) return lastUsed_;
  if (lastUsed_ + 1 < blocks_.size() && offset >= last.start + last.size &&
      offset < blocks_[lastUsed_ + 1].start + blocks_[lastUsed_ + 1].size) {
    return ++lastUsed_;
  }
  auto it = std::upper_bound(blocks_.begin(), blocks_.end(), offset,
                             [](int64_t value, const Block& block) { return value < block.start; });
  lastUsed_ = static_cast<size_t>(it - blocks_.begin()) - 1;
  return lastUsed_;
}

void TBinaryBuffer::Zero(int64_t from, int64_t to) {
  while (from < to) {
    Block& block = blocks_[FindBlock(from)];
    int64_t inBlock = from - block.start;
    int64_t chunk = std::min(to - from, block.size - inBlock);
    std::memset(block.data.get() + inBlock, 0, static_cast<size_t>(chunk));
    from += chunk;
  }
}

}  // namespace zm
