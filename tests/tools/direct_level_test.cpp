// The direct sound level that `zm info` reports as physical, measured: a
// diffusing room traced at that level, the direct-to-reverberant energy ratio
// of its arrivals against 2D diffuse-field theory.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "design_builder.h"
#include "lib/design/room_geometry.h"
#include "scene/hydra.h"
#include "tracer/tracer.h"

namespace zm {
namespace {

// Direct arrivals come at one time and add up in phase, reflections in energy.
struct Energies : TArrivalObserver {
  void OnArrival(double time, double amplitude, const double*, int32_t) override {
    if (std::fabs(time - 9.0 / 344.0) < 1e-9) {
      direct += amplitude;
    } else {
      reverberant += amplitude * amplitude;
    }
  }
  double direct = 0, reverberant = 0;
};

TEST(DirectLevel, RatioToTheReflectionsIsPhysicalWithinTheLevelsRounding) {
  // 20 m x 15 m, walls reflecting 0.8; a 1 m receiver that lets rays
  // through, 9 m from an emitter of 20000 rays all round.
  const double pi = std::numbers::pi, rays = 20000, area = 20 * 15, r2 = 0.8 * 0.8;
  test::DesignBuilder design;
  design->MinAmplitude = 1e-4;
  const int wall = design.AddMaterial("wall", 0.8, 1.0), open = design.AddMaterial("open", 1.0);
  const double corners[] = {0, 0, 20, 0, 20, 15, 0, 15};
  for (int i = 0; i < 8; i += 2) {
    design.AddWall(corners[i], corners[i + 1], corners[(i + 2) % 8], corners[(i + 3) % 8], wall);
  }
  design.Wall(design.AddReceiver(12, 7, 12, 8, open)).PassThrough = 1;
  design.AddEmitter(3, 7.5, 0.0, int(rays), 2 * pi);
  const auto choice = cli::ChooseDirectLevel(cli::PlanOf(design.Record()), 0);
  ASSERT_TRUE(choice.has_value());
  design->DirectSoundLevel = choice->level;

  THydra scene(design.Record());
  TTracer tracer(scene, 0);
  Energies energies;
  tracer.Impulse->SetArrivalObserver(&energies);
  uint8_t abort = 0;
  ASSERT_TRUE(tracer.Run(&abort, nullptr, nullptr));
  // A path of length s crosses a 1 m segment about 2 s / (pi A) times; after
  // its n-th reflection a ray carries R^2n over a mean free path pi A / P.
  const double reverberant = rays * 2 / (pi * area) * (pi * area / 70) * r2 / (1 - r2);
  const double predicted =
      10 * std::log10(choice->reach.rays / reverberant) + 3 * (choice->level - choice->reach.level);
  const double measured = 10 * std::log10(energies.direct * energies.direct / energies.reverberant);
  EXPECT_NEAR(measured, predicted, 2.5);
}

}  // namespace
}  // namespace zm
