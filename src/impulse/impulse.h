// The impulse of one run: up to eight channels of double samples into which
// every arrival found by the tracer is written as a short, band-shaped,
// sub-sample-accurate impulse taken from a precomputed filter table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "impulse/tap_kernels.h"
#include "support/thread_count.h"
#include "zm/zm.h"

namespace zm {

class THydra;

inline constexpr int kImpulseChannels = ZM_CHANNEL_COUNT;
// Sub-sample positions of the filter table; the table holds one extra phase
// as the far end of the last interpolation interval.
inline constexpr int kFilterPhases = 512;
// "No arrival seen yet" for FirstDirectTime / FirstReflectionTime.
inline constexpr double kNoArrivalTime = 1e20;

// One straight piece of the gain curve between two neighbouring band
// frequencies, in normalised frequency (1.0 = Nyquist).
struct BandSegment {
  double Low;
  double High;
  double InverseWidth;  // 1 / (Low - High): negative
};

// Doubles whose first one lies on a 64-byte boundary, so that no vector load
// straddles two cache lines.
class TAlignedDoubles {
 public:
  // `count` doubles, zeroed when `zeroed` (a large block then comes as fresh
  // zero pages, and pages never written cost nothing); the previous block is
  // released. Throws std::bad_alloc.
  void Reset(size_t count, bool zeroed);
  double* get() const { return data_; }

 private:
  struct TFree {
    void operator()(void* block) const;
  };
  std::unique_ptr<void, TFree> storage_;
  double* data_ = nullptr;
};

// Where an accepted arrival lands and what it carries.
struct TPlacedArrival {
  double Amplitude;
  double Gains[ZM_BAND_COUNT];
  double Fraction;  // between table phase Phase and Phase + 1
  int32_t Start;    // sample index of the filter's first tap
  int32_t Phase;
  int32_t Channel;
};

// Sees every arrival exactly as handed to Place, before any check.
// Meant for tests and diagnostics; an impulse without one pays one branch.
class TArrivalObserver {
 public:
  virtual ~TArrivalObserver() = default;
  virtual void OnArrival(double time, double amplitude, const double* gains, int32_t channel) = 0;
};

class TImpulse {
 public:
  // Reads SampleRate, ImpulseLength, FilterLength, WindowType and LeadIn from
  // the scene's options; the scene must outlive the impulse. The filter
  // table is built on up to `threads` threads (the same table for any);
  // without `filterTable` it is not built, and the arrivals must be
  // written into the channels by other means (fast mode's band shaper).
  explicit TImpulse(const THydra& scene, int32_t threads = 1, bool filterTable = true);
  ~TImpulse();

  TImpulse(const TImpulse&) = delete;
  TImpulse& operator=(const TImpulse&) = delete;

  // An arrival (time in seconds from emission, signed amplitude, the linear
  // gains at the eight band frequencies, output channel 0..7) is added in
  // three steps: Place, ComputeTaps, AddTaps.

  // Decides where the arrival lands, or drops
  // it silently (false) when its time is negative, not finite or past the
  // kept range, its channel lies outside 0..7, or its amplitude or a band
  // gain is not finite. An accepted arrival marks its channel used and
  // extends WrittenEnd.
  bool Place(double time, double amplitude, const double* gains, int32_t channel,
             TPlacedArrival& placed);

  // The amounts a placed arrival adds to the FilterTaps samples from its
  // Start on, into taps[0 .. TapsPerArrival()). False, and nothing to add,
  // when they would overflow the double range.
  bool ComputeTaps(const TPlacedArrival& arrival, double* taps) const;

  // Adds the taps of `arrival` that fall on sample indices from..to-1.
  void AddTaps(const TPlacedArrival& arrival, const double* taps, int32_t from, int32_t to);

  // Room that ComputeTaps needs: FilterTaps rounded up to whole blocks.
  int32_t TapsPerArrival() const { return FilterBlocks * kTapBlock; }

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
  TAlignedDoubles ChannelStorage;
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
  // Phases 0 to 512, each a row of FilterBlocks blocks of kTapBlock taps
  // (kTapValues values each, see tap_kernels.h). Tap offset m, the one that
  // lands on sample Start + m, is lane m % 8 of block m / 8 and holds the
  // filter's tap N - 1 - m: the table's x axis runs backwards in time.
  // Lanes past N hold zeros.
  TAlignedDoubles FilterTable;
  int32_t FilterBlocks = 0;
  BandSegment BandSegments[7] = {};
  double TopBandLow = 0.0;  // u_7, the normalised top band frequency
  double FirstDirectTime = kNoArrivalTime;
  double FirstReflectionTime = kNoArrivalTime;

 private:
  void BuildFilterTable(int32_t windowType, int32_t threads);
  // Rows of phases from..to-1 of the table.
  void BuildPhases(int32_t from, int32_t to, int32_t windowType);
  static ZM_THREAD_ENTRY void BuildPhasesOn(TImpulse* impulse, int32_t from, int32_t to,
                                            int32_t windowType);
  // The kTapValues values of the table at x, in table order.
  void ComputeValues(double x, int32_t windowType, double* values) const;
  const double* PhaseRow(int32_t phase) const {
    return FilterTable.get() + static_cast<size_t>(phase) * FilterBlocks * kTapBlockDoubles;
  }

  double SampleRate_ = 44100.0;
  TArrivalObserver* Observer = nullptr;
  TTapKernel TapKernel_ = nullptr;
};

}  // namespace zm
