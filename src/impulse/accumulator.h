// Applies the arrivals of a run to the impulse in batches, optionally on
// worker threads, with the same result as AddArrival one arrival at a time.
//
// Within a batch the taps of the arrivals are computed phase by phase, so
// that each row of the filter table is read once per batch rather than once
// per arrival (the table is far larger than the caches), into one row of
// scratch per arrival; then they are added to the samples in arrival order.
// Every sample thus receives the same additions in the same order as from
// AddArrival, and every tap is computed by the same operations, so the
// bytes do not change.
//
// With workers the calling thread only places arrivals and hands over full
// batches. The workers take each batch in turn: first each computes the
// taps of the arrivals in its share of the phases, then, once all are done,
// each adds the taps that fall in its share of the samples (interleaved
// slices, so that every worker gets a fair part of any impulse).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "impulse/impulse.h"

namespace zm {

class TAccumulator {
 public:
  // Accumulates into `impulse`, which must outlive the accumulator, with
  // `workers` threads besides the caller (0: everything on the caller's
  // thread). When the system cannot start a thread, the ones started (or the
  // caller alone) do the work.
  TAccumulator(TImpulse& impulse, int32_t workers);
  // Stops the workers. Arrivals not yet applied by Finish are lost, which is
  // what an aborted or failed run wants.
  ~TAccumulator();

  TAccumulator(const TAccumulator&) = delete;
  TAccumulator& operator=(const TAccumulator&) = delete;

  // Hands one arrival on, with the contract of TImpulse::AddArrival; the
  // impulse's placement (WrittenEnd, ChannelUsed, its observer) happens at
  // once, the samples change by Finish.
  void Add(double time, double amplitude, const double* gains, int32_t channel);

  // Applies every arrival handed on so far and stops the workers.
  void Finish();

  int32_t Workers() const { return static_cast<int32_t>(threads_.size()); }

 private:
  struct TBatch {
    std::vector<TPlacedArrival> Arrivals;
  };
  // One worker's view of the current batch: its arrivals sorted by phase.
  struct TPhaseOrder {
    std::vector<int32_t> Counts;
    std::vector<int32_t> Order;
  };

  void Publish();
  void WorkerLoop(int32_t worker);
  // A worker's share of a batch, meeting the other workers between the
  // taps and the samples and after them.
  void ProcessBatch(const TBatch& batch, int32_t worker, int32_t workers, TPhaseOrder& order);
  void ComputeTaps(const TBatch& batch, int32_t phaseFrom, int32_t phaseTo, TPhaseOrder& order);
  void AddTaps(const TBatch& batch, int32_t worker, int32_t workers);
  // Waits until all `workers` reach it; true for the last to arrive. The
  // caller holds `lock`.
  bool Rendezvous(std::unique_lock<std::mutex>& lock, int32_t workers);
  void Stop();

  TImpulse& impulse_;
  const int32_t batchSize_;
  const int32_t tapStride_;
  // Slots the caller fills in turn; a slot is free again once the workers
  // finished the batch in it.
  static constexpr int32_t kSlots = 3;
  TBatch slots_[kSlots];
  TBatch* filling_ = nullptr;
  // The taps of the batch being applied, one row of tapStride_ per arrival,
  // and whether each arrival adds anything.
  TAlignedDoubles taps_;
  std::vector<uint8_t> adds_;
  std::vector<TPhaseOrder> orders_;

  std::mutex mutex_;
  std::condition_variable workReady_;
  std::condition_variable slotFree_;
  std::condition_variable rendezvous_;
  int32_t workers_ = 0;    // threads that started
  int64_t published_ = 0;  // batches handed to the workers
  int64_t started_ = 0;    // batches a worker began
  int64_t finished_ = 0;   // batches all workers are done with
  int32_t arrived_ = 0;    // workers at the current rendezvous
  int64_t rendezvousCount_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace zm
