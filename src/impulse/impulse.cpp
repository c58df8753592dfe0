#include "impulse/impulse.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <numbers>

#include "scene/hydra.h"
#include "scene/options.h"

namespace zm {

namespace {

constexpr double kPi = std::numbers::pi;
// 1/512: the sub-sample step between two phases of the filter table.
constexpr double kPhaseStep = 0.001953125;

}  // namespace

double TImpulse::Window(int32_t windowType, double x, double s) {
  switch (windowType) {
    case 1: {
      double c = std::cos(0.5 * x * s);
      return c * c;
    }
    case 2: {
      double c = std::cos(0.5 * x * s);
      double c2 = c * c;
      return c2 * c2;
    }
    case 3:
      return 0.42 + 0.5 * std::cos(x * s) + 0.08 * std::cos(2 * x * s);
    case 4:
      return 0.5 * std::cos(x * s) + 0.5;
    case 5:
      return 0.46 * std::cos(x * s) + 0.54;
    default:
      return std::cos(0.5 * x * s);
  }
}

TImpulse::TImpulse(const THydra& scene) : Scene(&scene) {
  const TOptions& options = *scene.Options;
  SampleRate_ = options.SampleRate;
  LengthSamples = options.LengthSamples();
  LeadInSamples = options.LeadIn != 0 ? kLeadInSamples : 0;
  WrittenEnd = 0;
  // The scene refuses shorter filters; with fewer than two taps H would be 0
  // and the window scale 1/H undefined, so never go below two.
  FilterTaps = options.FilterLength < 2 ? 2 : options.FilterLength;
  HalfTaps = FilterTaps / 2;

  // Two samples more than the 3H + length + lead-in that the arrivals need:
  // with an odd N an arrival starting at LengthSamples - 1 ends one sample
  // past the even-N end, and the renderer reads up to index WrittenEnd
  // inclusive, so both must exist and start out as silence.
  int64_t perChannel = 3 * int64_t{HalfTaps} + LengthSamples + LeadInSamples + 2;
  if (perChannel > INT32_MAX / kImpulseChannels) throw std::bad_alloc();
  BufferSamples = static_cast<int32_t>(perChannel);
  size_t total = static_cast<size_t>(perChannel) * kImpulseChannels;
  ChannelStorage.reset(new double[total]());
  for (int c = 0; c < kImpulseChannels; ++c) {
    Channels[c] = ChannelStorage.get() + static_cast<size_t>(c) * perChannel;
  }

  BuildFilterTable(options.WindowType);

  FirstDirectTime = kNoArrivalTime;
  FirstReflectionTime = kNoArrivalTime;
  ChannelUsed[0] = true;
  ChannelUsed[1] = true;
}

TImpulse::~TImpulse() = default;

void TImpulse::ComputeRow(double x, int32_t windowType, double* row) const {
  row[28] = Window(windowType, x, 1.0 / HalfTaps);
  if (std::fabs(x) < 1e-8) {
    for (int b = 0; b < 7; ++b) {
      const BandSegment& seg = BandSegments[b];
      row[4 * b] = (seg.High * seg.High - seg.Low * seg.Low) / 2;
      row[4 * b + 2] = seg.High - seg.Low;
    }
    row[30] = 1 - TopBandLow;
    return;
  }
  double x2 = x * x;
  for (int b = 0; b < 7; ++b) {
    const BandSegment& seg = BandSegments[b];
    double a = seg.Low * x;
    double h = seg.High * x;
    double sinA = std::sin(a);
    double sinH = std::sin(h);
    row[4 * b] = (h * sinH + std::cos(h) - std::cos(a) - a * sinA) / x2;
    row[4 * b + 2] = (sinH - sinA) / x;
  }
  row[30] = (std::sin(x) - std::sin(TopBandLow * x)) / x;
}

void TImpulse::BuildFilterTable(int32_t windowType) {
  const TOptions& options = *Scene->Options;
  double u[8];
  for (int i = 0; i < 8; ++i) u[i] = 2 * options.BandFrequencies[i] / SampleRate_;
  for (int b = 0; b < 7; ++b) {
    BandSegments[b].Low = u[b];
    BandSegments[b].High = u[b + 1];
    BandSegments[b].InverseWidth = 1 / (u[b] - u[b + 1]);
  }
  TopBandLow = u[7];

  const int32_t n = FilterTaps;
  const int32_t h = HalfTaps;
  size_t rows = static_cast<size_t>(kFilterPhases + 1) * static_cast<size_t>(n);
  FilterTable.reset(new double[rows * kFilterRowSize]());
  double* table = FilterTable.get();
  auto rowAt = [&](int32_t j, int32_t k) {
    return table + (static_cast<size_t>(j) * n + k) * kFilterRowSize;
  };

  for (int32_t k = 0; k < n; ++k) {
    ComputeRow(static_cast<double>(k - h) * kPi, windowType, rowAt(0, k));
  }
  for (int32_t j = 1; j <= kFilterPhases; ++j) {
    for (int32_t k = 0; k < n; ++k) {
      double* row = rowAt(j, k);
      ComputeRow((static_cast<double>(k - h) + j * kPhaseStep) * kPi, windowType, row);
      double* previous = rowAt(j - 1, k);
      for (int e = 0; e < kFilterRowSize; e += 2) previous[e + 1] = row[e] - previous[e];
    }
  }
}

void TImpulse::AddArrival(double time, double amplitude, const double* gains, int32_t channel) {
  if (Observer != nullptr) Observer->OnArrival(time, amplitude, gains, channel);
  // A non-finite time has no sample to land on, and channels outside the
  // eight buffers would be written out of bounds: drop both.
  if (!std::isfinite(time) || time < 0.0) return;
  if (channel < 0 || channel >= kImpulseChannels) return;

  const double t = time * SampleRate_;
  const double whole = std::trunc(t);
  // Decide in doubles first so that a far-off time cannot overflow int32.
  if (!(LeadInSamples + whole - HalfTaps + 1 < LengthSamples)) return;
  const int32_t i0 = static_cast<int32_t>(whole);
  const int32_t start = LeadInSamples + i0 - HalfTaps + 1;
  const int32_t n = FilterTaps;
  if (start + n > WrittenEnd) WrittenEnd = start + n;

  const double phase = (t - i0) * kFilterPhases;
  const int32_t j = static_cast<int32_t>(phase);
  const double f = phase - j;
  ChannelUsed[channel] = true;

  double a[7];
  double b[7];
  for (int s = 0; s < 7; ++s) {
    const BandSegment& seg = BandSegments[s];
    a[s] = (gains[s] - gains[s + 1]) * seg.InverseWidth * amplitude;
    b[s] = (seg.Low * gains[s + 1] - seg.High * gains[s]) * seg.InverseWidth * amplitude;
  }
  const double e = gains[7] * amplitude;

  double* out = Channel(channel) + start;
  // Taps are taken in descending order: the row of tap N-1-m feeds sample
  // start + m, which mirrors the table's x axis onto time.
  const double* row = FilterTable.get() + (static_cast<size_t>(j) * n + (n - 1)) * kFilterRowSize;
  for (int32_t m = 0; m < n; ++m, row -= kFilterRowSize) {
    double sum = 0.0;
    for (int s = 0; s < 7; ++s) {
      sum = sum + (row[4 * s] + f * row[4 * s + 1]) * a[s];
      sum = sum + (row[4 * s + 2] + f * row[4 * s + 3]) * b[s];
    }
    sum = sum + (row[30] + f * row[31]) * e;
    out[m] += sum * (row[28] + f * row[29]);
  }
}

}  // namespace zm
