#include "impulse/impulse.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numbers>
#include <system_error>
#include <thread>
#include <vector>

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

TImpulse::TImpulse(const THydra& scene, int32_t threads, bool filterTable) : Scene(&scene) {
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
  ChannelStorage.Reset(total, true);
  for (int c = 0; c < kImpulseChannels; ++c) {
    Channels[c] = ChannelStorage.get() + static_cast<size_t>(c) * perChannel;
  }

  if (filterTable) {
    BuildFilterTable(options.WindowType, threads);
    TapKernel_ = TapKernelFor(ActiveSimdPath());
  }

  FirstDirectTime = kNoArrivalTime;
  FirstReflectionTime = kNoArrivalTime;
  ChannelUsed[0] = true;
  ChannelUsed[1] = true;
}

TImpulse::~TImpulse() = default;

void TImpulse::ComputeValues(double x, int32_t windowType, double* values) const {
  values[kWindowValue] = Window(windowType, x, 1.0 / HalfTaps);
  if (std::fabs(x) < 1e-8) {
    for (int b = 0; b < 7; ++b) {
      const BandSegment& seg = BandSegments[b];
      values[2 * b] = (seg.High * seg.High - seg.Low * seg.Low) / 2;
      values[2 * b + 1] = seg.High - seg.Low;
    }
    values[14] = 1 - TopBandLow;
    return;
  }
  double x2 = x * x;
  for (int b = 0; b < 7; ++b) {
    const BandSegment& seg = BandSegments[b];
    double a = seg.Low * x;
    double h = seg.High * x;
    double sinA = std::sin(a);
    double sinH = std::sin(h);
    values[2 * b] = (h * sinH + std::cos(h) - std::cos(a) - a * sinA) / x2;
    values[2 * b + 1] = (sinH - sinA) / x;
  }
  values[14] = (std::sin(x) - std::sin(TopBandLow * x)) / x;
}

void TImpulse::BuildFilterTable(int32_t windowType, int32_t threads) {
  const TOptions& options = *Scene->Options;
  double u[8];
  for (int i = 0; i < 8; ++i) u[i] = 2 * options.BandFrequencies[i] / SampleRate_;
  for (int b = 0; b < 7; ++b) {
    BandSegments[b].Low = u[b];
    BandSegments[b].High = u[b + 1];
    BandSegments[b].InverseWidth = 1 / (u[b] - u[b + 1]);
  }
  TopBandLow = u[7];

  FilterBlocks = (FilterTaps + kTapBlock - 1) / kTapBlock;
  // Lanes past N stay zero: they are computed with the others, never added.
  FilterTable.Reset(static_cast<size_t>(kFilterPhases + 1) * FilterBlocks * kTapBlockDoubles, true);

  // Some thousand rows of trigonometry per thread at least, or the threads
  // cost more than they save.
  constexpr int64_t kRowsPerThread = 8192;
  const int64_t rows = int64_t{kFilterPhases + 1} * FilterTaps;
  const int32_t parts =
      static_cast<int32_t>(std::clamp<int64_t>(rows / kRowsPerThread, 1, threads));
  std::vector<std::thread> helpers;
  int32_t done = 0;
  for (int32_t part = 1; part < parts; ++part) {
    const int32_t from = (kFilterPhases + 1) * (part - 1) / parts;
    const int32_t to = (kFilterPhases + 1) * part / parts;
    try {
      helpers.emplace_back(BuildPhasesOn, this, from, to, windowType);
    } catch (const std::system_error&) {
      break;  // the system has no thread to spare: the caller builds the rest
    } catch (...) {
      for (std::thread& helper : helpers) helper.join();
      throw;
    }
    done = to;
  }
  BuildPhases(done, kFilterPhases + 1, windowType);
  for (std::thread& helper : helpers) helper.join();
}

void TImpulse::BuildPhasesOn(TImpulse* impulse, int32_t from, int32_t to, int32_t windowType) {
  impulse->BuildPhases(from, to, windowType);
}

void TImpulse::BuildPhases(int32_t from, int32_t to, int32_t windowType) {
  const int32_t n = FilterTaps;
  const int32_t h = HalfTaps;
  double values[kTapValues];
  for (int32_t j = from; j < to; ++j) {
    double* row = FilterTable.get() + static_cast<size_t>(j) * FilterBlocks * kTapBlockDoubles;
    for (int32_t m = 0; m < n; ++m) {
      const int32_t k = n - 1 - m;
      ComputeValues((static_cast<double>(k - h) + j * kPhaseStep) * kPi, windowType, values);
      double* lane = row + (m / kTapBlock) * kTapBlockDoubles + m % kTapBlock;
      for (int v = 0; v < kTapValues; ++v) lane[v * kTapBlock] = values[v];
    }
  }
}

bool TImpulse::Place(double time, double amplitude, const double* gains, int32_t channel,
                     TPlacedArrival& placed) {
  if (Observer != nullptr) Observer->OnArrival(time, amplitude, gains, channel);
  // A non-finite time has no sample to land on, and channels outside the
  // eight buffers would be written out of bounds: drop both. A non-finite
  // amplitude or gain would turn whole stretches of output into NaN.
  if (!std::isfinite(time) || time < 0.0) return false;
  if (channel < 0 || channel >= kImpulseChannels) return false;
  bool finite = std::isfinite(amplitude);
  for (int b = 0; b < kBandCount; ++b) finite = finite && std::isfinite(gains[b]);
  if (!finite) return false;

  const double t = time * SampleRate_;
  const double whole = std::trunc(t);
  // Decide in doubles first so that a far-off time cannot overflow int32.
  if (!(LeadInSamples + whole - HalfTaps + 1 < LengthSamples)) return false;
  const int32_t i0 = static_cast<int32_t>(whole);
  const int32_t start = LeadInSamples + i0 - HalfTaps + 1;
  if (start + FilterTaps > WrittenEnd) WrittenEnd = start + FilterTaps;

  const double phase = (t - i0) * kFilterPhases;
  placed.Phase = static_cast<int32_t>(phase);
  placed.Fraction = phase - placed.Phase;
  placed.Start = start;
  placed.Channel = channel;
  placed.Amplitude = amplitude;
  for (int b = 0; b < kBandCount; ++b) placed.Gains[b] = gains[b];
  ChannelUsed[channel] = true;
  return true;
}

bool TImpulse::ComputeTaps(const TPlacedArrival& arrival, double* taps) const {
  // A_s and B_s put the straight line of the gains between the segment's
  // ends (times the amplitude) as A_s * w + B_s; E is the top band's gain.
  const double* gains = arrival.Gains;
  const double amplitude = arrival.Amplitude;
  double coefficients[kTapCoefficients];
  for (int s = 0; s < 7; ++s) {
    const BandSegment& seg = BandSegments[s];
    coefficients[2 * s] = (gains[s] - gains[s + 1]) * seg.InverseWidth * amplitude;
    coefficients[2 * s + 1] =
        (seg.Low * gains[s + 1] - seg.High * gains[s]) * seg.InverseWidth * amplitude;
  }
  coefficients[14] = gains[7] * amplitude;
  // Amplitudes near the top of the double range can overflow here; such an
  // arrival is dropped rather than turning the output into infinities.
  for (double c : coefficients) {
    if (!std::isfinite(c)) return false;
  }
  TapKernel_(PhaseRow(arrival.Phase), PhaseRow(arrival.Phase + 1), FilterBlocks, arrival.Fraction,
             coefficients, taps);
  return true;
}

void TImpulse::AddTaps(const TPlacedArrival& arrival, const double* taps, int32_t from,
                       int32_t to) {
  double* out = Channel(arrival.Channel);
  const int32_t begin = std::max(arrival.Start, from);
  const int32_t end = std::min(arrival.Start + FilterTaps, to);
  const double* tap = taps - arrival.Start;
  for (int32_t i = begin; i < end; ++i) out[i] = out[i] + tap[i];
}

void TAlignedDoubles::Reset(size_t count, bool zeroed) {
  constexpr size_t kAlignment = 64;
  constexpr size_t kSlack = kAlignment / sizeof(double);
  storage_.reset();
  data_ = nullptr;
  if (count > SIZE_MAX / sizeof(double) - kSlack) throw std::bad_alloc();
  const size_t bytes = (count + kSlack) * sizeof(double);
  void* block = zeroed ? std::calloc(1, bytes) : std::malloc(bytes);
  if (block == nullptr) throw std::bad_alloc();
  storage_.reset(block);
  const uintptr_t address = reinterpret_cast<uintptr_t>(block);
  data_ = static_cast<double*>(block) +
          (kAlignment - address % kAlignment) % kAlignment / sizeof(double);
}

void TAlignedDoubles::TFree::operator()(void* block) const {
  std::free(block);
}

}  // namespace zm
