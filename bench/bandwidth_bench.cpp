// How close the accumulation of workload D (filter length 256: a table of
// 17 MB, 64 KB of it per arrival) comes to the machine's memory bandwidth:
// a plain stream copy, and the filter-table bytes that the arrivals of D
// consume per second, with the caller alone and with worker threads.
//
//   bench_bandwidth [--benchmark_filter=...]
//
// Table bytes are counted as the arrivals read them, two phase rows of 16
// values per tap; batches sort arrivals by phase so that the memory behind
// them is read less often, which is how the rate can pass the copy rate.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "arrivals.h"
#include "design_builder.h"
#include "impulse/accumulator.h"
#include "impulse/impulse.h"
#include "scene/hydra.h"
#include "tracer/tracer.h"

namespace zm {
namespace {

void StreamCopy(benchmark::State& state) {
  // Far larger than any cache.
  const size_t bytes = size_t{256} << 20;
  std::vector<char> from(bytes, 1), to(bytes, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.counters["read_B/s"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["read+write_B/s"] = benchmark::Counter(
      2.0 * static_cast<double>(bytes), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(StreamCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

// Workload D's room (bench/speed_workloads.cpp), with fewer rays.
test::DesignBuilder RoomD() {
  test::DesignBuilder design;
  design->ImpulseLength = 2.0;
  design->MinAmplitude = 1e-4;
  design->SubArrivals = 8;
  design->FilterLength = 256;
  design->RandomSeed = 4711;
  const int wall = design.AddMaterial("Wall", std::sqrt(0.8), 0.1);
  const int open = design.AddMaterial("Open", 1.0);
  const double corners[5][2] = {{0, 0}, {20, 0}, {20, 15}, {0, 15}, {0, 0}};
  for (int i = 0; i < 4; ++i) {
    design.AddWall(corners[i][0], corners[i][1], corners[i + 1][0], corners[i + 1][1], wall);
  }
  design.Wall(design.AddReceiver(14, 8.5, 14, 9.5, open)).PassThrough = 1;
  design.Emitter(design.AddEmitter(5, 7, 0.0, 20000, 2 * std::numbers::pi)).RandomDirections = 1;
  return design;
}

struct Arrival {
  double time, amplitude, gains[8];
  int32_t channel;
};

class Recorder : public TArrivalObserver {
 public:
  void OnArrival(double time, double amplitude, const double* gains, int32_t channel) override {
    Arrival a{time, amplitude, {}, channel};
    std::memcpy(a.gains, gains, sizeof a.gains);
    arrivals.push_back(a);
  }
  std::vector<Arrival> arrivals;
};

// The arrivals of room D, traced once.
const std::vector<Arrival>& ArrivalsOfD() {
  static const std::vector<Arrival> arrivals = [] {
    test::DesignBuilder design = RoomD();
    THydra scene(design.Record());
    TTracer tracer(scene, 0);
    Recorder recorder;
    tracer.Impulse->SetArrivalObserver(&recorder);
    uint8_t abort = 0;
    tracer.Run(&abort, nullptr, nullptr);
    return recorder.arrivals;
  }();
  return arrivals;
}

// Argument: 1 to accumulate on a worker thread, 0 on the caller's.
void AccumulateD(benchmark::State& state) {
  const std::vector<Arrival>& arrivals = ArrivalsOfD();
  test::DesignBuilder design = RoomD();
  THydra scene(design.Record());
  TImpulse impulse(scene);
  for (auto _ : state) {
    TAccumulator accumulator(impulse, state.range(0) != 0);
    for (const Arrival& a : arrivals)
      AddArrival(accumulator, a.time, a.amplitude, a.gains, a.channel);
    accumulator.Finish();
  }
  const double tableBytes = 2.0 * kTapValues * impulse.FilterTaps * sizeof(double);
  state.counters["arrivals"] = static_cast<double>(arrivals.size());
  state.counters["table_B/s"] =
      benchmark::Counter(tableBytes * static_cast<double>(arrivals.size()),
                         benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(AccumulateD)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zm

BENCHMARK_MAIN();
