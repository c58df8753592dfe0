// The impulse of one run: up to eight channels of double samples into which
// every arrival found by the tracer is written as a short, band-shaped,
// sub-sample-accurate impulse taken from a precomputed filter table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "zm/zm.h"

namespace zm {

class THydra;

inline constexpr int kImpulseChannels = ZM_CHANNEL_COUNT;
// Sub-sample positions of the filter table; the table holds one extra phase
// as the far end of the last interpolation interval.
inline constexpr int kFilterPhases = 512;
// Doubles per filter-table row: per band segment P, dP, Q, dQ; then the
// window and its difference, and the top band term and its difference.
inline constexpr int kFilterRowSize = 32;
// "No arrival seen yet" for FirstDirectTime / FirstReflectionTime.
inline constexpr double kNoArrivalTime = 1e20;

// One straight piece of the gain curve between two neighbouring band
// frequencies, in normalised frequency (1.0 = Nyquist).
struct BandSegment {
  double Low;
  double High;
  double InverseWidth;  // 1 / (Low - High): negative
};

// Sees every arrival exactly as handed to AddArrival, before any check.
// Meant for tests and diagnostics; an impulse without one pays one branch.
class TArrivalObserver {
 public:
  virtual ~TArrivalObserver() = default;
  virtual void OnArrival(double time, double amplitude, const double* gains, int32_t channel) = 0;
};

class TImpulse {
 public:
  // Reads SampleRate, ImpulseLength, FilterLength, WindowType and LeadIn from
  // the scene's options; the scene must outlive the impulse.
  explicit TImpulse(const THydra& scene);
  ~TImpulse();

  TImpulse(const TImpulse&) = delete;
  TImpulse& operator=(const TImpulse&) = delete;

  // Adds one arrival: time in seconds from emission, signed amplitude, the
  // linear gains at the eight band frequencies, output channel 0..7.
  // Arrivals at negative or non-finite times, past the kept range, or on a
  // channel outside 0..7 are dropped silently.
  void AddArrival(double time, double amplitude, const double* gains, int32_t channel);

  // Turns the accumulated channels into the output file (defined with the
  // renderer). Changes the channel buffers in place; call once.
  void Render(const std::string& fileName, const std::string& title);

  // Sample index 0 of channel c (buffer position H); indices -H up to
  // BufferSamples - H - 1 are valid.
  double* Channel(int c) { return Channels[c] + HalfTaps; }
  const double* Channel(int c) const { return Channels[c] + HalfTaps; }

  // The window function of the table for a window type (any type other than
  // 1..5 is the plain cosine), at x with scale s = 1 / H.
  static double Window(int32_t windowType, double x, double s);

  void SetArrivalObserver(TArrivalObserver* observer) { Observer = observer; }

  // One block holding the eight channel buffers, zeroed at construction.
  std::unique_ptr<double[]> ChannelStorage;
  // Start (buffer position 0, sample index -H) of each channel buffer.
  double* Channels[kImpulseChannels] = {};
  // Channel received at least one arrival; 0 and 1 are always written out.
  bool ChannelUsed[kImpulseChannels] = {};
  int32_t LengthSamples = 0;
  // Largest start index + N of all accepted arrivals.
  int32_t WrittenEnd = 0;
  int32_t LeadInSamples = 0;
  const THydra* Scene = nullptr;
  int32_t FilterTaps = 0;  // N
  int32_t HalfTaps = 0;    // H = N div 2
  // Doubles per channel buffer: 3H + LengthSamples + LeadInSamples + 2.
  int32_t BufferSamples = 0;
  // (512 + 1) phases x N taps rows of kFilterRowSize doubles; row (j, k) at
  // row index j * N + k.
  std::unique_ptr<double[]> FilterTable;
  BandSegment BandSegments[7] = {};
  double TopBandLow = 0.0;  // u_7, the normalised top band frequency
  double FirstDirectTime = kNoArrivalTime;
  double FirstReflectionTime = kNoArrivalTime;

 private:
  void BuildFilterTable(int32_t windowType);
  void ComputeRow(double x, int32_t windowType, double* row) const;

  double SampleRate_ = 44100.0;
  TArrivalObserver* Observer = nullptr;
};

}  // namespace zm
