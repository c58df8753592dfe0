// Arrivals added into the channel buffers: one sample for a flat arrival on
// an exact sample time, the band-gain curve, and the edges of the buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <vector>

#include "arrivals.h"
#include "design_builder.h"
#include "impulse/impulse.h"
#include "scene/hydra.h"

namespace zm {
namespace {

const double kFlat[8] = {1, 1, 1, 1, 1, 1, 1, 1};
const double kBands[8] = {1, 0.5, 0.2, 0.7, 0.1, 0.9, 0.3, 0.6};

// A 65536 Hz rate makes binary fractions of a second land on exact samples.
struct Accumulator {
  explicit Accumulator(int filterLength = 32, int windowType = 0, int leadIn = 0,
                       double seconds = 1.0, int sampleRate = 65536) {
    design->SampleRate = sampleRate;
    design->FilterLength = filterLength;
    design->WindowType = windowType;
    design->LeadIn = static_cast<int16_t>(leadIn);
    design->ImpulseLength = seconds;
    scene = std::make_unique<THydra>(design.Record());
    impulse = std::make_unique<TImpulse>(*scene);
  }
  int H() const { return impulse->HalfTaps; }
  double At(int channel, int index) const { return impulse->Channel(channel)[index]; }
  // Every sample of the buffers, guards included.
  std::vector<double> All() const {
    const double* p = impulse->ChannelStorage.get();
    return std::vector<double>(p, p + 8 * static_cast<size_t>(impulse->BufferSamples));
  }

  test::DesignBuilder design;
  std::unique_ptr<THydra> scene;
  std::unique_ptr<TImpulse> impulse;
};

TEST(ImpulseAccumulator, FlatArrivalOnExactSampleHitsOneSampleForEveryWindow) {
  const double gains[8] = {0.75, 0.75, 0.75, 0.75, 0.75, 0.75, 0.75, 0.75};
  for (int n : {32, 33}) {
    for (int window : {0, 1, 2, 3, 4, 5, 6, -1}) {
      Accumulator acc(n, window);
      AddArrival(*acc.impulse, 0.5, -2.0, gains, 3);
      // Centred on sample 32768; an odd filter lands one sample later.
      const int first = 32768 - acc.H() + 1;
      for (int i = first; i < first + n; ++i) {
        EXPECT_NEAR(acc.At(3, i), i == 32768 + n % 2 ? -1.5 : 0.0, 1e-12)
            << "N " << n << " window " << window << " i " << i;
      }
      EXPECT_EQ(acc.impulse->WrittenEnd, first + n);
    }
  }
  // Unknown window types fall back to the plain cosine.
  for (int unknown : {6, -1})
    EXPECT_EQ(TImpulse::Window(unknown, 7.5, 0.0625), TImpulse::Window(0, 7.5, 0.0625));
}

// The piecewise-linear gain curve at normalised frequency u (1 = Nyquist).
double GainCurve(const double* gains, const double* bandHz, double rate, double u) {
  for (int b = 0; b < 7; ++b) {
    const double lo = 2 * bandHz[b] / rate, hi = 2 * bandHz[b + 1] / rate;
    if (u <= hi) return gains[b] + (gains[b + 1] - gains[b]) * (u - lo) / (hi - lo);
  }
  return gains[7];
}

TEST(ImpulseAccumulator, MagnitudeResponseFollowsTheGainCurve) {
  // N = 256 taps at 44100 Hz. The window smooths the ideal response over
  // about 3/N of the Nyquist frequency, which leaves a linear stretch of the
  // curve unchanged; so compare at least 4/N away from every band corner,
  // and from the Nyquist frequency, where a fractionally delayed arrival
  // meets its own mirror image. There the error stays well under 1%.
  const int n = 256;
  const double rate = 44100, amplitude = 0.6;
  const double gains[8] = {1.0, 0.9, 0.7, 0.5, 0.8, 0.3, 0.2, 0.1};
  Accumulator acc(n, 0, 0, 1.0, 44100);
  // A time between table phases exercises the interpolation too.
  AddArrival(*acc.impulse, 0.25 + 0.3716 / rate, amplitude, gains, 0);
  const double* bands = acc.scene->Options->BandFrequencies;
  const int first = acc.impulse->WrittenEnd - n;
  int checked = 0;
  for (double hz = 100; hz < 22000; hz += 50) {
    const double u = 2 * hz / rate;
    bool nearCorner = u > 1.0 - 4.0 / n;
    for (int b = 0; b < 8; ++b) nearCorner |= std::fabs(u - 2 * bands[b] / rate) < 4.0 / n;
    if (nearCorner) continue;
    std::complex<double> sum = 0;
    for (int i = first; i < first + n; ++i)
      sum += acc.At(0, i) * std::polar(1.0, -std::numbers::pi * u * i);
    EXPECT_NEAR(std::abs(sum), amplitude * GainCurve(gains, bands, rate, u), 0.01 * amplitude)
        << hz << " Hz";
    ++checked;
  }
  EXPECT_GT(checked, 300);
}

TEST(ImpulseAccumulator, ArrivalsAtTheEdgesOfTheBuffers) {
  for (int n : {32, 33}) {
    Accumulator acc(n);
    const int h = acc.H(), length = acc.impulse->LengthSamples;
    ASSERT_EQ(length, 65537);
    // Time zero writes into the front guard, all but its first sample.
    AddArrival(*acc.impulse, 0.0, 1.0, kBands, 1);
    EXPECT_EQ(acc.impulse->WrittenEnd, -h + 1 + n);
    EXPECT_EQ(acc.At(1, -h), 0.0);
    EXPECT_NE(acc.At(1, -h + 1), 0.0);
    // Start index length - 1: the last arrival kept. Everything the renderer
    // reads (up to WrittenEnd inclusive) is inside the buffer, its last
    // sample still silence.
    const double halfStep = 0.5 / 65536;
    AddArrival(*acc.impulse, (length - 2 + h) / 65536.0 + halfStep, 1.0, kFlat, 0);
    EXPECT_EQ(acc.impulse->WrittenEnd, length - 1 + n);
    ASSERT_LE(acc.impulse->WrittenEnd + h, acc.impulse->BufferSamples - 1);
    EXPECT_EQ(acc.At(0, acc.impulse->WrittenEnd), 0.0);
    EXPECT_NE(acc.At(0, acc.impulse->WrittenEnd - 1), 0.0);
    // One sample later it starts at the length and is dropped, as is
    // anything it cannot place.
    const std::vector<double> before = acc.All();
    const double inf = HUGE_VAL;
    for (double time :
         {(length - 1 + h) / 65536.0 + halfStep, std::nan(""), inf, -inf, -1e-9, 1e300}) {
      AddArrival(*acc.impulse, time, 1.0, kFlat, 2);
    }
    AddArrival(*acc.impulse, 0.1, 1.0, kFlat, 8);
    AddArrival(*acc.impulse, 0.1, 1.0, kFlat, -1);
    EXPECT_EQ(acc.impulse->WrittenEnd, length - 1 + n);
    EXPECT_EQ(acc.All(), before);
    for (int c = 2; c < 8; ++c) EXPECT_FALSE(acc.impulse->ChannelUsed[c]);
  }
}

}  // namespace
}  // namespace zm
