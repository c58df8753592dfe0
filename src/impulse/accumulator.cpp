#include "impulse/accumulator.h"

#include <system_error>

#include "support/thread_count.h"

namespace zm {

namespace {

// Groups per batch: a few hundred kilobytes in all slots, and a hand-over
// every few hundred receiver hits.
constexpr int32_t kGroupsPerBatch = 512;

}  // namespace

TAccumulator::TAccumulator(TImpulse& impulse, bool background) : applier_(impulse) {
  // Without a worker one group at a time is expanded at once.
  const size_t groups = background ? kGroupsPerBatch : 1;
  for (TGroupBatch& slot : slots_) slot.Groups.resize(groups);
  filling_ = &slots_[0];
  if (!background) return;
  try {
    worker_ = std::thread(&TAccumulator::WorkerLoop, this);
  } catch (const std::system_error&) {
    // The system has no thread to spare: the caller does the work.
  }
}

TAccumulator::~TAccumulator() {
  Stop();
}

void TAccumulator::Add(const TArrivalGroup& group) {
  TGroupBatch& batch = *filling_;
  batch.Groups[batch.Count++] = group;
  if (!OnWorker()) {
    Expand(batch);
    batch.Count = 0;
    return;
  }
  if (batch.Count == static_cast<int32_t>(batch.Groups.size())) Publish();
  // The worker's core read the next group's memory last; asking for it now
  // spares the tracer the wait when it stores the group.
  const char* next = reinterpret_cast<const char*>(&filling_->Groups[filling_->Count]);
  for (size_t line = 0; line < sizeof(TArrivalGroup); line += 64)
    __builtin_prefetch(next + line, 1);
}

void TAccumulator::Finish() {
  if (OnWorker()) {
    filling_->Last = true;
    Publish();
    std::unique_lock<std::mutex> lock(mutex_);
    slotFree_.wait(lock, [&] { return expanded_ == published_; });
  } else {
    applier_.Flush();
  }
  Stop();
}

void TAccumulator::Publish() {
  std::unique_lock<std::mutex> lock(mutex_);
  ++published_;
  workReady_.notify_one();
  // The next slot is free once fewer than all slots hold unexpanded batches.
  slotFree_.wait(lock, [&] { return published_ - expanded_ < kSlots; });
  filling_ = &slots_[published_ % kSlots];
  filling_->Count = 0;
  filling_->Last = false;
}

ZM_THREAD_ENTRY void TAccumulator::WorkerLoop() {
  for (int64_t next = 0;; ++next) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      workReady_.wait(lock, [&] { return published_ > next || stopping_; });
      if (stopping_) return;
    }
    const TGroupBatch& batch = slots_[next % kSlots];
    Expand(batch);
    if (batch.Last) applier_.Flush();
    std::lock_guard<std::mutex> lock(mutex_);
    ++expanded_;
    slotFree_.notify_one();
  }
}

void TAccumulator::Expand(const TGroupBatch& batch) {
  for (int32_t g = 0; g < batch.Count; ++g) applier_.Add(batch.Groups[g]);
}

void TAccumulator::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  workReady_.notify_one();
  if (worker_.joinable()) worker_.join();
}

}  // namespace zm
