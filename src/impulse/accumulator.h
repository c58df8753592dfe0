// Hands the arrival groups of a run from the tracer to a tap applier
// (tap_applier.h), optionally on a thread of its own. The groups describe
// the diffuse arrivals spread along the segment that led to a receiver by a
// few numbers rather than one by one, so that little crosses from the
// tracer's core to the worker's; the worker expands and applies them in
// order, so the result is the same on either thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "impulse/impulse.h"
#include "impulse/tap_applier.h"

namespace zm {

class TAccumulator {
 public:
  // Accumulates into `impulse`, which must outlive the accumulator; on a
  // worker thread when `background` and the system can start one, else on
  // the caller's thread.
  TAccumulator(TImpulse& impulse, bool background);
  // Stops the worker. Arrivals not yet applied by Finish are lost, which is
  // what an aborted or failed run wants.
  ~TAccumulator();

  TAccumulator(const TAccumulator&) = delete;
  TAccumulator& operator=(const TAccumulator&) = delete;

  // Hands one group on. Each arrival is placed (TImpulse::Place, its
  // observer included) in order, on the worker.
  void Add(const TArrivalGroup& group);

  // Applies every arrival handed on so far and stops the worker.
  void Finish();

  bool OnWorker() const { return worker_.joinable(); }

 private:
  struct TGroupBatch {
    std::vector<TArrivalGroup> Groups;
    int32_t Count = 0;
    bool Last = false;  // the worker applies its whole chunk after it
  };

  void Publish();
  void WorkerLoop();
  // Hands the groups of `batch` to the applier.
  void Expand(const TGroupBatch& batch);
  void Stop();

  TTapApplier applier_;

  // Batches the caller fills in turn; one is free again once the worker has
  // expanded it.
  static constexpr int32_t kSlots = 3;
  TGroupBatch slots_[kSlots];
  TGroupBatch* filling_ = nullptr;

  std::mutex mutex_;
  std::condition_variable workReady_;
  std::condition_variable slotFree_;
  int64_t published_ = 0;  // batches handed to the worker
  int64_t expanded_ = 0;   // batches the worker is done with
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace zm
