// Rendering arrivals placed by hand, bypassing the tracer: the stereo
// matrix and fixed gain. (The reference time the output is trimmed to shows
// in every render of the process tests, the tool's and the README's.)
#include <gtest/gtest.h>

#include "arrivals.h"
#include "design_builder.h"
#include "impulse/impulse.h"
#include "scene/hydra.h"
#include "scratch_folder.h"
#include "wave_file.h"

namespace zm {
namespace {

using test::WaveFile;

const double kFlat[8] = {1, 1, 1, 1, 1, 1, 1, 1};
constexpr double kRate = 44100.0;

// A float file at unity fixed gain (one emitter of level 1 and one ray)
// unless changed.
class Render : public test::ScratchFolder {
 protected:
  Render() {
    b.AddReceiver(1, -1, 1, 1, b.AddMaterial("Wall"));
    b.AddEmitter(0, 0, 0, 1, 0);
    b->GainMode = 1;
    b->ImpulseLength = 0.01;
  }
  // Builds the scene and impulse; `place` adds arrivals and sets times.
  template <class Place>
  WaveFile Run(Place place) {
    THydra scene(b.Record());
    TImpulse impulse(scene);
    place(impulse);
    impulse.Render(PathOf("out.wav"), "t");
    return WaveFile(PathOf("out.wav"));
  }
  test::DesignBuilder b;
};

TEST_F(Render, StereoMatrixWidthAndBalanceForTwoChannelsOnly) {
  const struct {
    double width, balance, left, right;
  } cases[] = {{1, 0, 1, 0.5},     {0, 0, 0.75, 0.75}, {-1, 0, 0.5, 1},
               {1, 0.5, 0.5, 0.5}, {1, -0.5, 1, 0.25}, {0.5, 0, 0.875, 0.625}};
  for (int channels : {2, 3}) {
    for (const auto& c : cases) {
      b->StereoWidth = c.width;
      b->Balance = c.balance;
      const WaveFile w = Run([&](TImpulse& i) {
        for (int k = 0; k < channels; ++k) AddArrival(i, 100 / kRate, 1.0 / (1 << k), kFlat, k);
      });
      ASSERT_EQ(w.channels, channels);
      SCOPED_TRACE(testing::Message() << c.width << " " << c.balance);
      EXPECT_NEAR(w.Float(100, 0), channels == 2 ? c.left : 1.0, 1e-6);
      EXPECT_NEAR(w.Float(100, 1), channels == 2 ? c.right : 0.5, 1e-6);
    }
  }
}

TEST_F(Render, FixedGainDividesByEveryEmittersLevelTimesRays) {
  b->Emitters[0].RayCount = 10;
  b->Emitters[b.AddEmitter(0, 0, 0, 10, 0, /*group=*/5)].Level = 3.0;
  b->FixedGainDb = -48.0 + 20.0;  // linear 10
  EXPECT_NEAR(Run([](TImpulse& i) { AddArrival(i, 100 / kRate, 1.0, kFlat, 0); }).Float(100, 0),
              10.0 / 40.0, 1e-6);
}

}  // namespace
}  // namespace zm
