// The processing options of one run, taken from the design record with the
// few conversions the engine relies on.
#pragma once

#include <cstdint>
#include <string>

#include "zm/zm.h"

namespace zm {

inline constexpr int kBandCount = ZM_BAND_COUNT;
// Samples of silence ahead of the output's reference arrival when LeadIn is
// set.
inline constexpr int32_t kLeadInSamples = ZM_LEAD_IN_FRAMES;

class TOptions {
 public:
  // Refuses options the engine cannot work with (see design_checks.h).
  explicit TOptions(const TDesignRecord& design);

  // Refuses a Balance or StereoWidth that is not a finite number. Only the
  // stereo matrix reads them, and only the renderer knows whether it
  // applies (exactly two output channels), so it asks then.
  void RequireStereoSettings() const;

  // Samples per channel of the impulse: 1 + trunc(ImpulseLength x
  // SampleRate). An ImpulseLength of 0 or less is valid (every ray ends at
  // its first hit) and gives 1, one silent frame; a negative product must
  // never reach a buffer size.
  int32_t LengthSamples() const;
  // The largest LengthSamples that construction accepts for this
  // FilterLength: the channel buffers and the output file stay within
  // their bounds.
  int32_t MaxLengthSamples() const;

  double ImpulseLength;
  double MinAmplitude;
  int32_t SampleRate;  // at least 44100
  int32_t BitsPerSample;
  int32_t WindowType;
  int32_t FilterLength;
  double AirAttenuation;
  double SpeedOfSound;  // always 344.0 m/s
  int32_t RandomSeed;
  int32_t SubArrivals;
  double Balance;
  double StereoWidth;
  int32_t TrimToDirect;
  int32_t DirectSoundLevel;
  std::string Title;
  std::string Comment;
  int32_t LeadIn;    // sign-widened from 16 bits; nonzero: kLeadInSamples
  int32_t GainMode;  // sign-widened from 16 bits
  double FixedGain;  // linear: 10^((FixedGainDb + 48) * 0.05)
  int32_t DefaultRayCount;
  double BandFrequencies[kBandCount];  // 0, 150, 320, 800, 1800, 4000, 9000, 21000 Hz
};

}  // namespace zm
