// Room parameters measured on impulse responses whose decay is known.
#include "lib/audio/acoustics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace zm::cli {
namespace {

// Exponentially decaying white noise of reverberation time `t60`, after
// `delay` seconds of silence. Random signs of constant size make the energy
// envelope exact, so the analytic values hold sample for sample.
std::vector<double> DecayingNoise(double t60, int rate, double length, double delay,
                                  uint32_t seed = 5) {
  std::mt19937 random(seed);
  const double decay = 3.0 * std::numbers::ln10 / t60;  // amplitude: -60 dB at t60
  std::vector<double> x(size_t(length * rate), 0.0);
  const size_t start = size_t(delay * rate);
  for (size_t i = start; i < x.size(); ++i) {
    const double t = double(i - start) / rate;
    x[i] = (random() & 1 ? 0.5 : -0.5) * std::exp(-decay * t);
  }
  return x;
}

TEST(Acoustics, KnownDecaysGiveTheirReverberationTimeAndClarity) {
  for (double t60 : {0.5, 1.0}) {
    SCOPED_TRACE("T = " + std::to_string(t60));
    const int rate = 48000;
    const std::vector<double> x = DecayingNoise(t60, rate, 2.5 * t60 + 0.2, 0.030);
    const ChannelParameters c = AnalyseChannel(x, 0, rate);
    EXPECT_EQ(c.onset, size_t(0.030 * rate));  // measured from the onset, not sample 0
    const BandParameters& b = c.bands.at(0);
    EXPECT_NEAR(b.t20, t60, 0.02 * t60);
    EXPECT_NEAR(b.t30, t60, 0.02 * t60);
    EXPECT_NEAR(b.edt, t60, 0.02 * t60);
    // Clarity, definition and centre time of the energy e^(-2at) from the onset.
    const double twoA = 6.0 * std::numbers::ln10 / t60;
    EXPECT_NEAR(b.c80, 10.0 * std::log10(std::exp(twoA * 0.080) - 1.0), 0.2);
    EXPECT_NEAR(b.d50, 1.0 - std::exp(-twoA * 0.050), 0.01);
    EXPECT_NEAR(b.ts, 1 / twoA, 0.002);
    // White noise decays alike in every octave band.
    for (size_t k = 1; k < c.bands.size(); ++k) {
      SCOPED_TRACE(c.bands[k].band);
      ASSERT_TRUE(c.bands[k].available);
      EXPECT_NEAR(c.bands[k].t30, t60, 0.1 * t60);
    }
  }
}

TEST(Acoustics, SilenceAndLowRatesAreReportedNotGuessed) {
  const ChannelParameters silent = AnalyseChannel(std::vector<double>(1000, 0.0), 0, 44100);
  EXPECT_TRUE(silent.silent);
  // An integer file's unused channel: dither of one step either way.
  std::vector<double> dither(44100);
  for (size_t i = 0; i < dither.size(); ++i) dither[i] = double(int(i * 7 % 3) - 1) / 32768;
  EXPECT_TRUE(AnalyseChannel(dither, 0, 44100).silent);
  // A long decay cut early sounds: its clarity is measured, its decay time
  // is missing because of the cut.
  const ChannelParameters cut = AnalyseChannel(DecayingNoise(15.0, 44100, 0.5, 0.0), 0, 44100);
  EXPECT_FALSE(cut.silent);
  EXPECT_FALSE(std::isnan(cut.bands.at(0).c50));
  EXPECT_EQ(cut.bands.at(0).notes.at("t30").rfind("the response is cut at 0.50 s", 0), 0u);
  // At 16 kHz the 8 kHz octave lies beyond the Nyquist frequency.
  const ChannelParameters low = AnalyseChannel(DecayingNoise(0.4, 16000, 1.2, 0.0), 0, 16000);
  EXPECT_FALSE(low.bands.back().available);
  EXPECT_NEAR(low.bands.at(0).t30, 0.4, 0.008);
}

TEST(Acoustics, OctaveFilterPassesItsBandOnly) {
  const int rate = 48000;
  std::vector<double> tone(rate);
  for (size_t i = 0; i < tone.size(); ++i)
    tone[i] = std::sin(2 * std::numbers::pi * 1000.0 * i / rate);
  auto rms = [](const std::vector<double>& x) {
    double sum = 0;
    for (size_t i = x.size() / 4; i < 3 * x.size() / 4; ++i) sum += x[i] * x[i];
    return std::sqrt(sum / (x.size() / 2));
  };
  const double in = rms(tone);
  EXPECT_NEAR(rms(OctaveFilter(tone, 1000, rate)) / in, 1.0, 0.1);
  EXPECT_LT(rms(OctaveFilter(tone, 4000, rate)) / in, 0.01);
  EXPECT_LT(rms(OctaveFilter(tone, 250, rate)) / in, 0.01);
  // A proper octave band: half the power at both edges.
  for (double edge : {1000 / std::numbers::sqrt2, 1000 * std::numbers::sqrt2}) {
    for (size_t i = 0; i < tone.size(); ++i)
      tone[i] = std::sin(2 * std::numbers::pi * edge * i / rate);
    EXPECT_NEAR(rms(OctaveFilter(tone, 1000, rate)) / rms(tone), std::sqrt(0.5), 0.01) << edge;
  }
}

// The bands are filtered in blocks: an impulse anywhere away from the file's
// ends, across the seams between blocks too, must come out the same.
TEST(Acoustics, OctaveFilterIsTheSameFilterThroughoutALongFile) {
  const int rate = 48000;
  const size_t length = 4 * rate, half = 12000, reference = length / 2;
  std::vector<double> x(length, 0.0);
  for (double centre : {125.0, 4000.0}) {
    x[reference] = 1;
    const std::vector<double> expected = OctaveFilter(x, centre, rate);
    x[reference] = 0;
    double peak = 0;
    for (double v : expected) peak = std::max(peak, std::fabs(v));
    double worst = 0;
    for (size_t at = half; at + half < length; at += 4999) {
      x[at] = 1;
      const std::vector<double> y = OctaveFilter(x, centre, rate);
      x[at] = 0;
      for (size_t k = 0; k < 2 * half; ++k) {
        worst = std::max(worst, std::fabs(y[at - half + k] - expected[reference - half + k]));
      }
    }
    EXPECT_LT(worst, 1e-8 * peak) << centre;  // 160 dB down
  }
}

}  // namespace
}  // namespace zm::cli
