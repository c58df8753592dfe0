// Throughput of the tracing hot paths: placing arrivals, the wall hit test,
// building the filter table, and a whole reference room.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "arrivals.h"
#include "design_builder.h"
#include "impulse/impulse.h"
#include "nearest_hit.h"
#include "scene/hydra.h"
#include "tracer/geometry.h"
#include "tracer/tracer.h"
#include "tracer/wall_scan.h"

namespace zm {
namespace {

constexpr double kPi = std::numbers::pi;

void AddArrivalBench(benchmark::State& state) {
  test::DesignBuilder design;
  design->FilterLength = static_cast<int32_t>(state.range(0));
  design->ImpulseLength = 2.0;
  THydra scene(design.Record());
  TImpulse impulse(scene);
  std::mt19937 source(7);
  std::uniform_real_distribution<double> time(0.0, 1.9);
  std::vector<double> times(4096);
  for (double& t : times) t = time(source);
  const double gains[8] = {1.0, 0.95, 0.9, 0.8, 0.7, 0.6, 0.5, 0.4};
  size_t i = 0;
  for (auto _ : state) {
    AddArrival(impulse, times[i & 4095], 0.01, gains, static_cast<int32_t>(i & 1));
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(AddArrivalBench)->Arg(32)->Arg(256);

// A regular polygon of `count` walls around the origin, hit from inside.
void FindNearestHitBench(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<TWallSegment> table;
  alignas(8) static char tags[150];
  for (int i = 0; i < count; ++i) {
    double a0 = 2 * kPi * i / count;
    double a1 = 2 * kPi * (i + 1) / count;
    double x1 = 10 * std::cos(a0), y1 = 10 * std::sin(a0);
    double x2 = 10 * std::cos(a1), y2 = 10 * std::sin(a1);
    table.push_back({x1, y1, x2, y2, x2 - x1, y2 - y1, reinterpret_cast<const TWall*>(&tags[i])});
  }
  std::mt19937 source(11);
  std::uniform_real_distribution<double> angle(0.0, 2 * kPi);
  std::uniform_real_distribution<double> pos(-3.0, 3.0);
  std::vector<double> rays(3 * 4096);
  for (double& r : rays) r = pos(source);
  for (size_t i = 2; i < rays.size(); i += 3) rays[i] = angle(source);
  THit hit;
  size_t i = 0;
  for (auto _ : state) {
    const double* r = &rays[3 * (i++ & 4095)];
    bool found = FindNearestHit(r[0], r[1], r[2], table.data(), count, nullptr, hit);
    benchmark::DoNotOptimize(found);
    benchmark::DoNotOptimize(hit);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FindNearestHitBench)->Arg(4)->Arg(150);

// The tracer's hit test in a star-shaped room of `range(0)` walls, whole
// table (range(1) = 0) or through clusters (1), on the SIMD path range(2),
// on rays that reflect from wall to wall as in a trace: each test waits for
// the one before.
void WallScanBench(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const auto path = static_cast<TSimdPath>(state.range(2));
  if (!ForceSimdPath(path)) {
    state.SkipWithError("path not available");
    return;
  }
  state.SetLabel(SimdPathName(path));
  test::DesignBuilder design;
  const int material = design.AddMaterial("wall", 0.9, 0.1);
  for (int i = 0; i < count; ++i) {
    const double a0 = 2 * kPi * i / count, a1 = 2 * kPi * (i + 1) / count;
    const double r0 = 9 * (1 + 0.25 * std::sin(5 * a0)), r1 = 9 * (1 + 0.25 * std::sin(5 * a1));
    design.AddWall(r0 * std::cos(a0), r0 * std::sin(a0), r1 * std::cos(a1), r1 * std::sin(a1),
                   material);
  }
  THydra scene(design.Record());
  TTracer tracer(scene, 0);
  const TWallScan scan(tracer.WallTable,
                       state.range(1) != 0 ? TScanMode::Clusters : TScanMode::Plain);
  double x = -3, y = 1, angle = 0.3, draw = 0.25;
  int32_t last = -1;
  TScanBest hit;
  for (auto _ : state) {
    if (scan.Find(x, y, angle, std::cos(angle), std::sin(angle), last, draw, hit)) {
      x = hit.X;
      y = hit.Y;
      last = hit.Index;
      angle = std::remainder(hit.NextAngle, 2 * kPi);
    } else {  // lost through a corner: start again
      x = -3, y = 1, last = -1;
    }
    draw = draw * 3.7 - std::floor(draw * 3.7);
  }
  state.SetItemsProcessed(state.iterations());
  ForceSimdPath(BestSimdPath());
}
BENCHMARK(WallScanBench)->ArgsProduct({{4, 8, 12, 16, 24, 32, 64, 140}, {0, 1}, {0, 1, 2, 3}});

void FilterTableBench(benchmark::State& state) {
  test::DesignBuilder design;
  design->FilterLength = static_cast<int32_t>(state.range(0));
  design->ImpulseLength = 0.001;
  THydra scene(design.Record());
  for (auto _ : state) {
    TImpulse impulse(scene);
    benchmark::DoNotOptimize(impulse.FilterTable.get());
  }
}
BENCHMARK(FilterTableBench)->Arg(32)->Unit(benchmark::kMillisecond);

// A 20 x 15 m room: six outer wall segments and two receivers, 10 000 rays,
// 2 s, eight diffuse arrivals per late reflection.
test::DesignBuilder ReferenceRoom() {
  test::DesignBuilder design;
  design->ImpulseLength = 2.0;
  design->SubArrivals = 8;
  design->MinAmplitude = 0.001;
  design->AirAttenuation = 0.9995;
  design->RandomSeed = 4711;
  int wall = design.AddMaterial("plaster", 0.9, 0.3, 0.95);
  int mic = design.AddMaterial("mic", 1.0, 0.0, 1.0);
  design.AddWall(0, 0, 10, 0, wall);
  design.AddWall(10, 0, 20, 0, wall);
  design.AddWall(20, 0, 20, 15, wall);
  design.AddWall(20, 15, 10, 15, wall);
  design.AddWall(10, 15, 0, 15, wall);
  design.AddWall(0, 15, 0, 0, wall);
  int left = design.AddReceiver(14, 6, 14, 7, mic, 0);
  int right = design.AddReceiver(14, 8, 14, 9, mic, 1);
  design.Wall(left).PassThrough = 1;
  design.Wall(right).PassThrough = 1;
  design.AddEmitter(4, 7.5, 0.0, 10000, 2 * kPi);
  return design;
}

class CountArrivals : public TArrivalObserver {
 public:
  void OnArrival(double, double, const double*, int32_t) override { ++count; }
  int64_t count = 0;
};

void TraceRoomBench(benchmark::State& state) {
  auto design = ReferenceRoom();
  int64_t segments = 0;
  int64_t arrivals = 0;
  {
    THydra scene(design.Record());
    TTracer tracer(scene, 0);
    CountArrivals counter;
    tracer.Impulse->SetArrivalObserver(&counter);
    uint8_t abort = 0;
    tracer.Run(&abort, nullptr, nullptr);
    segments = tracer.SegmentCount;
    arrivals = counter.count;
  }
  for (auto _ : state) {
    state.PauseTiming();
    THydra scene(design.Record());
    auto tracer = std::make_unique<TTracer>(scene, 0);
    uint8_t abort = 0;
    state.ResumeTiming();
    tracer->Run(&abort, nullptr, nullptr);
    state.PauseTiming();
    tracer.reset();
    state.ResumeTiming();
  }
  state.counters["segments/s"] = benchmark::Counter(static_cast<double>(segments),
                                                    benchmark::Counter::kIsIterationInvariantRate);
  state.counters["arrivals/s"] = benchmark::Counter(static_cast<double>(arrivals),
                                                    benchmark::Counter::kIsIterationInvariantRate);
  state.counters["segments"] = static_cast<double>(segments);
  state.counters["arrivals"] = static_cast<double>(arrivals);
}
BENCHMARK(TraceRoomBench)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace zm
