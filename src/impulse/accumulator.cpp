#include "impulse/accumulator.h"

#include <algorithm>
#include <climits>
#include <system_error>

#include "support/thread_count.h"

namespace zm {

namespace {

// Arrivals per batch: enough that most rows of the filter table serve
// several arrivals of the batch, few enough that the taps of a batch (one
// row of scratch per arrival) stay near the size of a cache.
constexpr int32_t kScratchDoubles = 1 << 20;
constexpr int32_t kMinBatch = 256;
constexpr int32_t kMaxBatch = 4096;

// Workers share the samples in interleaved slices of this many.
constexpr int32_t kSliceSamples = 4096;

int32_t BatchSizeFor(int32_t tapsPerArrival) {
  return std::clamp(kScratchDoubles / tapsPerArrival, kMinBatch, kMaxBatch);
}

}  // namespace

TAccumulator::TAccumulator(TImpulse& impulse, int32_t workers)
    : impulse_(impulse),
      batchSize_(BatchSizeFor(impulse.TapsPerArrival())),
      tapStride_(impulse.TapsPerArrival()) {
  for (TBatch& slot : slots_) slot.Arrivals.reserve(static_cast<size_t>(batchSize_));
  filling_ = &slots_[0];
  taps_.Reset(static_cast<size_t>(batchSize_) * tapStride_, false);
  adds_.assign(static_cast<size_t>(batchSize_), 0);
  orders_.resize(static_cast<size_t>(std::max(workers, 1)));
  for (TPhaseOrder& order : orders_) {
    order.Counts.assign(kFilterPhases + 1, 0);
    order.Order.assign(static_cast<size_t>(batchSize_), 0);
  }
  for (int32_t w = 0; w < workers; ++w) {
    try {
      threads_.emplace_back(&TAccumulator::WorkerLoop, this, w);
    } catch (const std::system_error&) {
      break;  // the system has no thread to spare: fewer workers, or none
    } catch (...) {
      Stop();  // the started ones, before the failure goes on
      throw;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  workers_ = static_cast<int32_t>(threads_.size());
}

TAccumulator::~TAccumulator() {
  Stop();
}

void TAccumulator::Add(double time, double amplitude, const double* gains, int32_t channel) {
  TPlacedArrival placed;
  if (!impulse_.Place(time, amplitude, gains, channel, placed)) return;
  filling_->Arrivals.push_back(placed);
  if (static_cast<int32_t>(filling_->Arrivals.size()) == batchSize_) Publish();
}

void TAccumulator::Finish() {
  if (!filling_->Arrivals.empty()) Publish();
  if (!threads_.empty()) {
    std::unique_lock<std::mutex> lock(mutex_);
    slotFree_.wait(lock, [&] { return finished_ == published_; });
  }
  Stop();
}

void TAccumulator::Publish() {
  if (threads_.empty()) {
    ComputeTaps(*filling_, 0, kFilterPhases, orders_[0]);
    AddTaps(*filling_, 0, 1);
    filling_->Arrivals.clear();
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  ++published_;
  workReady_.notify_all();
  // The next slot is free once fewer than all slots hold unfinished batches.
  slotFree_.wait(lock, [&] { return published_ - finished_ < kSlots; });
  filling_ = &slots_[published_ % kSlots];
  filling_->Arrivals.clear();
}

ZM_THREAD_ENTRY void TAccumulator::WorkerLoop(int32_t worker) {
  for (int64_t next = 0;; ++next) {
    int32_t workers;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      workReady_.wait(lock, [&] { return started_ > next || published_ > next || stopping_; });
      // Once one worker started a batch all of them finish it, since they
      // meet twice inside it; a stop takes effect between batches.
      if (started_ <= next) {
        if (stopping_) return;
        started_ = next + 1;
      }
      workers = workers_;
    }
    if (worker >= workers) return;  // a later thread failed to start
    ProcessBatch(slots_[next % kSlots], worker, workers, orders_[worker]);
  }
}

void TAccumulator::ProcessBatch(const TBatch& batch, int32_t worker, int32_t workers,
                                TPhaseOrder& order) {
  const int32_t phaseFrom = kFilterPhases * worker / workers;
  const int32_t phaseTo = kFilterPhases * (worker + 1) / workers;
  ComputeTaps(batch, phaseFrom, phaseTo, order);
  if (workers > 1) {
    std::unique_lock<std::mutex> lock(mutex_);
    Rendezvous(lock, workers);
  }
  AddTaps(batch, worker, workers);
  // The taps scratch and the slot are reused once every worker is done.
  std::unique_lock<std::mutex> lock(mutex_);
  if (workers == 1 || Rendezvous(lock, workers)) {
    ++finished_;
    slotFree_.notify_all();
  }
}

void TAccumulator::ComputeTaps(const TBatch& batch, int32_t phaseFrom, int32_t phaseTo,
                               TPhaseOrder& order) {
  // A counting sort of this worker's arrivals by phase; the taps of equal
  // phases then come one after another while their two table rows are in
  // the cache.
  const std::vector<TPlacedArrival>& arrivals = batch.Arrivals;
  const int32_t count = static_cast<int32_t>(arrivals.size());
  std::fill(order.Counts.begin(), order.Counts.end(), 0);
  int32_t mine = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t phase = arrivals[i].Phase;
    if (phase >= phaseFrom && phase < phaseTo) {
      ++order.Counts[phase - phaseFrom + 1];
      ++mine;
    }
  }
  for (int32_t p = phaseFrom; p < phaseTo; ++p) {
    order.Counts[p - phaseFrom + 1] += order.Counts[p - phaseFrom];
  }
  for (int32_t i = 0; i < count; ++i) {
    const int32_t phase = arrivals[i].Phase;
    if (phase >= phaseFrom && phase < phaseTo) order.Order[order.Counts[phase - phaseFrom]++] = i;
  }
  for (int32_t k = 0; k < mine; ++k) {
    const int32_t i = order.Order[k];
    adds_[i] = impulse_.ComputeTaps(arrivals[i], taps_.get() + static_cast<size_t>(i) * tapStride_);
  }
}

void TAccumulator::AddTaps(const TBatch& batch, int32_t worker, int32_t workers) {
  const std::vector<TPlacedArrival>& arrivals = batch.Arrivals;
  const int32_t count = static_cast<int32_t>(arrivals.size());
  const int32_t n = impulse_.FilterTaps;
  const int32_t guard = impulse_.HalfTaps;  // sample index -H is buffer position 0
  for (int32_t i = 0; i < count; ++i) {
    if (!adds_[i]) continue;
    const TPlacedArrival& arrival = arrivals[i];
    const double* taps = taps_.get() + static_cast<size_t>(i) * tapStride_;
    if (workers == 1) {
      impulse_.AddTaps(arrival, taps, INT32_MIN, INT32_MAX);
      continue;
    }
    const int32_t end = arrival.Start + n;
    for (int32_t slice = (arrival.Start + guard) / kSliceSamples;
         slice * kSliceSamples - guard < end; ++slice) {
      if (slice % workers != worker) continue;
      const int32_t from = slice * kSliceSamples - guard;
      impulse_.AddTaps(arrival, taps, from, from + kSliceSamples);
    }
  }
}

bool TAccumulator::Rendezvous(std::unique_lock<std::mutex>& lock, int32_t workers) {
  const int64_t round = rendezvousCount_;
  if (++arrived_ == workers) {
    arrived_ = 0;
    ++rendezvousCount_;
    rendezvous_.notify_all();
    return true;
  }
  rendezvous_.wait(lock, [&] { return rendezvousCount_ != round; });
  return false;
}

void TAccumulator::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  workReady_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

}  // namespace zm
