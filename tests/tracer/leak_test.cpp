// Rays must stay inside a closed room however much its walls scatter: a
// pass-through receiver ring around the room hears every ray that escapes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <numbers>
#include <utility>
#include <vector>

#include "design_builder.h"
#include "scene/hydra.h"
#include "tracer/tracer.h"

namespace zm {
namespace {

struct EscapeCounter : TArrivalObserver {
  void OnArrival(double, double, const double*, int32_t channel) override {
    if (channel == 1) ++escaped;
  }
  int64_t escaped = 0;
};

using Polygon = std::vector<std::pair<double, double>>;

// Traces a fan of rays from (1, 1) inside the closed polygon `room`, whose
// walls scatter by `scatter`, and returns the rays that crossed the ring;
// `reflections` receives the wall hits followed.
int64_t EscapedRays(const Polygon& room, double scatter, int rays, int64_t& reflections) {
  test::DesignBuilder design;
  design->ImpulseLength = 5.0;
  const int wall = design.AddMaterial("scattering", 0.98, scatter);
  const int ring = design.AddMaterial("open", 1.0);
  for (size_t i = 0; i < room.size(); ++i) {
    const auto [x1, y1] = room[i];
    const auto [x2, y2] = room[(i + 1) % room.size()];
    design.AddWall(x1, y1, x2, y2, wall);
  }
  const Polygon square = {{-50, -50}, {50, -50}, {50, 50}, {-50, 50}};
  for (int i = 0; i < 4; ++i) {
    const int r = design.AddReceiver(square[i].first, square[i].second, square[(i + 1) % 4].first,
                                     square[(i + 1) % 4].second, ring, 1);
    design.Wall(r).PassThrough = 1;
  }
  design.AddEmitter(1, 1, 0.3, rays, 2 * std::numbers::pi);
  THydra scene(design.Record());
  TTracer tracer(scene, 0);
  EscapeCounter counter;
  tracer.Impulse->SetArrivalObserver(&counter);
  uint8_t abort = 0;
  EXPECT_TRUE(tracer.Run(&abort, nullptr, nullptr));
  reflections = tracer.SegmentCount;
  return counter.escaped;
}

TEST(Leak, NoRayEscapesAClosedRoomWhateverTheScatter) {
  // Under an instruction emulator a tenth of the work still clamps often.
  const bool emulated = std::getenv("ZM_TEST_EMULATED") != nullptr;
  const int rays = emulated ? 200 : 2000;
  const Polygon rectangle = {{0, 0}, {4, 0}, {4, 3}, {0, 3}};
  // Nine corners: two point into the room, two are acute.
  const Polygon irregular = {{0, 0},   {6, 0}, {6, 2},   {4, 2},  {4, 3.5},
                             {6.5, 5}, {2, 6}, {2.5, 3}, {0, 3.2}};
  for (double scatter : {0.1, 1.0, 2 * std::numbers::pi}) {
    int64_t reflections = 0;
    for (const Polygon* room : {&rectangle, &irregular}) {
      int64_t followed = 0;
      EXPECT_EQ(EscapedRays(*room, scatter, rays, followed), 0)
          << room->size() << " walls, scatter " << scatter;
      reflections += followed;
    }
    if (!emulated) {
      EXPECT_GE(reflections, 1000000);
    }
  }
}

}  // namespace
}  // namespace zm
