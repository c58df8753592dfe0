// Applies the arrivals of a run to the impulse, optionally on a thread of its
// own, with the same result as AddArrival one arrival at a time.
//
// The tracer hands over arrival groups: one arrival at a receiver and the
// diffuse arrivals spread along the segment that led to it, described by a
// few numbers rather than one by one, so that little crosses from the
// tracer's core to the worker's. The worker expands each group in order,
// places its arrivals and collects them in a chunk; then the taps of the
// chunk are computed phase by phase, so that each row of the filter table is
// read once per chunk rather than once per arrival (the table is far larger
// than the caches), and added to the samples in arrival order. Every sample
// thus receives the same additions in the same order as from AddArrival,
// and every tap is computed by the same operations, so the bytes do not
// change.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "impulse/impulse.h"

namespace zm {

// An arrival and, when SpreadCount > 0, the arrivals spread after it: the
// j-th (j < SpreadCount) at f = (j + 0.5) / SpreadDivisions along the
// segment, with the amplitude scaled by f and signs alternating from minus,
// the band gains blended from GainsBefore towards GainsBefore + GainChange
// and times the air.
struct TArrivalGroup {
  double Time;
  double Amplitude;
  double Gains[ZM_BAND_COUNT];
  int32_t Channel;
  int32_t SpreadCount;
  int32_t SpreadDivisions;
  double SegmentStart;
  double SegmentDuration;
  double GainsBefore[ZM_BAND_COUNT];
  double GainChange[ZM_BAND_COUNT];
  double Air[ZM_BAND_COUNT];

  // The j-th spread arrival.
  void Spread(int32_t j, double& time, double& amplitude, double* gains) const {
    const double f = (j + 0.5) / SpreadDivisions;
    for (int b = 0; b < ZM_BAND_COUNT; ++b)
      gains[b] = (GainChange[b] * f + GainsBefore[b]) * Air[b];
    const double sign = (j % 2 == 0) ? -1.0 : 1.0;
    time = SegmentStart + SegmentDuration * f;
    amplitude = Amplitude * f * sign;
  }
  // How many spread arrivals (of SpreadDivisions) come before the first
  // whose band gains are not all finite.
  int32_t FiniteSpreadCount() const;
};

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
  // One arrival with the contract of TImpulse::AddArrival, as a group.
  void Add(double time, double amplitude, const double* gains, int32_t channel);

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
  // Places the arrivals of the groups into the chunk, applying it when full.
  void Expand(const TGroupBatch& batch);
  void AddToChunk(double time, double amplitude, const double* gains, int32_t channel);
  // Computes the taps of the chunk and adds them to the samples.
  void ApplyChunk();
  void Stop();

  TImpulse& impulse_;
  const int32_t chunkSize_;
  const int32_t tapStride_;
  std::vector<TPlacedArrival> chunk_;
  // The taps of the chunk, one row of tapStride_ per arrival, whether each
  // adds anything, and the chunk's arrivals sorted by phase.
  TAlignedDoubles taps_;
  std::vector<uint8_t> adds_;
  std::vector<int32_t> phaseStarts_;
  std::vector<int32_t> byPhase_;

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
