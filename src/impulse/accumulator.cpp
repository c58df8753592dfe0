#include "impulse/accumulator.h"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "support/thread_count.h"

namespace zm {

namespace {

// Arrivals per chunk: enough that most rows of the filter table serve
// several arrivals of the chunk, few enough that the taps of a chunk (one
// row of scratch per arrival) stay near the size of a cache.
constexpr int32_t kScratchDoubles = 1 << 20;
constexpr int32_t kMinChunk = 256;
constexpr int32_t kMaxChunk = 4096;

// Groups per batch: a few hundred kilobytes in all slots, and a hand-over
// every few hundred receiver hits.
constexpr int32_t kGroupsPerBatch = 512;

int32_t ChunkSizeFor(int32_t tapsPerArrival) {
  return std::clamp(kScratchDoubles / tapsPerArrival, kMinChunk, kMaxChunk);
}

}  // namespace

int32_t TArrivalGroup::FiniteSpreadCount() const {
  // With every factor at most 2^510 in size no blend can overflow, and a
  // NaN fails the test: only a runaway material needs the arrivals checked
  // one by one.
  bool moderate = true;
  for (int b = 0; b < ZM_BAND_COUNT; ++b) {
    moderate = moderate && std::fabs(GainsBefore[b]) <= 0x1p510 &&
               std::fabs(GainChange[b]) <= 0x1p510 && std::fabs(Air[b]) <= 0x1p510;
  }
  if (moderate) return SpreadDivisions;
  for (int32_t j = 0; j < SpreadDivisions; ++j) {
    double time, amplitude, gains[ZM_BAND_COUNT];
    Spread(j, time, amplitude, gains);
    for (double gain : gains) {
      if (!std::isfinite(gain)) return j;
    }
  }
  return SpreadDivisions;
}

TAccumulator::TAccumulator(TImpulse& impulse, bool background)
    : impulse_(impulse),
      chunkSize_(ChunkSizeFor(impulse.TapsPerArrival())),
      tapStride_(impulse.TapsPerArrival()) {
  chunk_.reserve(static_cast<size_t>(chunkSize_));
  taps_.Reset(static_cast<size_t>(chunkSize_) * tapStride_, false);
  adds_.assign(static_cast<size_t>(chunkSize_), 0);
  phaseStarts_.assign(kFilterPhases + 1, 0);
  byPhase_.assign(static_cast<size_t>(chunkSize_), 0);
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

void TAccumulator::Add(double time, double amplitude, const double* gains, int32_t channel) {
  TArrivalGroup group{};
  group.Time = time;
  group.Amplitude = amplitude;
  std::copy(gains, gains + ZM_BAND_COUNT, group.Gains);
  group.Channel = channel;
  group.SpreadCount = 0;
  Add(group);
}

void TAccumulator::Finish() {
  if (OnWorker()) {
    filling_->Last = true;
    Publish();
    std::unique_lock<std::mutex> lock(mutex_);
    slotFree_.wait(lock, [&] { return expanded_ == published_; });
  } else {
    ApplyChunk();
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
    if (batch.Last) ApplyChunk();
    std::lock_guard<std::mutex> lock(mutex_);
    ++expanded_;
    slotFree_.notify_one();
  }
}

void TAccumulator::Expand(const TGroupBatch& batch) {
  double gains[ZM_BAND_COUNT];
  for (int32_t g = 0; g < batch.Count; ++g) {
    const TArrivalGroup& group = batch.Groups[g];
    AddToChunk(group.Time, group.Amplitude, group.Gains, group.Channel);
    for (int32_t j = 0; j < group.SpreadCount; ++j) {
      double time, amplitude;
      group.Spread(j, time, amplitude, gains);
      AddToChunk(time, amplitude, gains, group.Channel);
    }
  }
}

void TAccumulator::AddToChunk(double time, double amplitude, const double* gains, int32_t channel) {
  TPlacedArrival placed;
  if (!impulse_.Place(time, amplitude, gains, channel, placed)) return;
  chunk_.push_back(placed);
  if (static_cast<int32_t>(chunk_.size()) == chunkSize_) ApplyChunk();
}

void TAccumulator::ApplyChunk() {
  // A counting sort by phase: the taps of equal phases then come one after
  // another while their two table rows are in the cache.
  const int32_t count = static_cast<int32_t>(chunk_.size());
  std::fill(phaseStarts_.begin(), phaseStarts_.end(), 0);
  for (const TPlacedArrival& arrival : chunk_) ++phaseStarts_[arrival.Phase + 1];
  for (int32_t p = 0; p < kFilterPhases; ++p) phaseStarts_[p + 1] += phaseStarts_[p];
  for (int32_t i = 0; i < count; ++i) byPhase_[phaseStarts_[chunk_[i].Phase]++] = i;
  for (int32_t k = 0; k < count; ++k) {
    const int32_t i = byPhase_[k];
    adds_[i] = impulse_.ComputeTaps(chunk_[i], taps_.get() + static_cast<size_t>(i) * tapStride_);
  }
  for (int32_t i = 0; i < count; ++i) {
    if (!adds_[i]) continue;
    const TPlacedArrival& arrival = chunk_[i];
    impulse_.AddTaps(arrival, taps_.get() + static_cast<size_t>(i) * tapStride_, arrival.Start,
                     arrival.Start + impulse_.FilterTaps);
  }
  chunk_.clear();
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
