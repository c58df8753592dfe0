// Rays stay inside a closed room however much its walls scatter: a
// pass-through receiver ring around the room hears every ray that escapes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <numbers>
#include <vector>

#include "design_builder.h"
#include "scene/hydra.h"
#include "tracer/tracer.h"

namespace zm {
namespace {

struct Escapes : TArrivalObserver {
  void OnArrival(double, double, const double*, int32_t channel) override { count += channel == 1; }
  int64_t count = 0;
};

TEST(Leak, NoRayEscapesAClosedRoomWhateverTheScatter) {
  const bool emulated = std::getenv("ZM_TEST_EMULATED") != nullptr;
  const std::vector<std::vector<double>> rooms = {
      {0, 0, 4, 0, 4, 3, 0, 3},
      // Nine corners: two point into the room, two are acute.
      {0, 0, 6, 0, 6, 2, 4, 2, 4, 3.5, 6.5, 5, 2, 6, 2.5, 3, 0, 3.2}};
  const std::vector<double> ring = {-50, -50, 50, -50, 50, 50, -50, 50};
  for (double scatter : {0.1, 1.0, 2 * std::numbers::pi}) {
    int64_t reflections = 0;
    for (const auto& room : rooms) {
      test::DesignBuilder design;
      design->ImpulseLength = 5.0;
      const int wall = design.AddMaterial("scattering", 0.98, scatter);
      const int open = design.AddMaterial("open", 1.0);
      for (size_t i = 0, n = room.size(); i < n; i += 2) {
        design.AddWall(room[i], room[i + 1], room[(i + 2) % n], room[(i + 3) % n], wall);
      }
      for (size_t i = 0; i < 8; i += 2) {
        const int r =
            design.AddReceiver(ring[i], ring[i + 1], ring[(i + 2) % 8], ring[(i + 3) % 8], open, 1);
        design.Wall(r).PassThrough = 1;
      }
      design.AddEmitter(1, 1, 0.3, emulated ? 200 : 2000, 2 * std::numbers::pi);
      THydra scene(design.Record());
      TTracer tracer(scene, 0);
      Escapes escapes;
      tracer.Impulse->SetArrivalObserver(&escapes);
      uint8_t abort = 0;
      ASSERT_TRUE(tracer.Run(&abort, nullptr, nullptr));
      EXPECT_EQ(escapes.count, 0) << room.size() / 2 << " walls, scatter " << scatter;
      reflections += tracer.SegmentCount;
    }
    EXPECT_TRUE(emulated || reflections >= 1000000) << reflections;
  }
}

}  // namespace
}  // namespace zm
