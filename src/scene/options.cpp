#include "scene/options.h"

#include <cmath>
#include <limits>

#include "scene/design_checks.h"
#include "support/text.h"

namespace zm {

namespace {

constexpr double kBandTable[kBandCount] = {0, 150, 320, 800, 1800, 4000, 9000, 21000};

}  // namespace

TOptions::TOptions(const TDesignRecord& design) {
  ImpulseLength = design.ImpulseLength;
  MinAmplitude = design.MinAmplitude;
  SampleRate = design.SampleRate < ZM_MIN_SAMPLE_RATE ? ZM_MIN_SAMPLE_RATE : design.SampleRate;
  BitsPerSample = design.BitsPerSample;
  WindowType = design.WindowType;
  FilterLength = design.FilterLength;
  AirAttenuation = design.AirAttenuation;
  SpeedOfSound = 344.0;
  RandomSeed = design.RandomSeed;
  SubArrivals = design.SubArrivals;
  Balance = design.Balance;
  StereoWidth = design.StereoWidth;
  TrimToDirect = design.TrimToDirect;
  DirectSoundLevel = design.DirectSoundLevel;
  Title = ReadFixedText(design.Title);
  Comment = ReadFixedText(design.Comment);
  LeadIn = static_cast<int32_t>(design.LeadIn);
  GainMode = static_cast<int32_t>(design.GainMode);
  const double fixedGainDb = design.FixedGainDb;
  FixedGain = std::pow(10.0, (fixedGainDb + 48) * 0.05);
  DefaultRayCount = design.DefaultRayCount;
  for (int b = 0; b < kBandCount; ++b) BandFrequencies[b] = kBandTable[b];

  RequireFiniteOption(ImpulseLength, "Impulse length");
  RequireFiniteOption(MinAmplitude, "Minimum amplitude");
  if (SampleRate > kMaxSampleRate) {
    RefuseDesign(msg::scene::sSampleRate, {SampleRate, kMaxSampleRate});
  }
  // Only these four formats have a converter and a wave format tag.
  if (BitsPerSample != 8 && BitsPerSample != 16 && BitsPerSample != 24 && BitsPerSample != 32) {
    RefuseDesign(msg::scene::sBitsPerSample, {BitsPerSample});
  }
  // Below 2 taps the filter has no half-length and its window divides by 0.
  if (FilterLength < kMinFilterLength || FilterLength > kMaxFilterLength) {
    RefuseDesign(msg::scene::sFilterLength, {FilterLength, kMinFilterLength, kMaxFilterLength});
  }
  if (SubArrivals > kMaxSubArrivals) {
    RefuseDesign(msg::scene::sSubArrivals, {SubArrivals, kMaxSubArrivals});
  }
  if (DirectSoundLevel > kMaxDirectSoundLevel) {
    RefuseDesign(msg::scene::sDirectSoundLevel, {DirectSoundLevel, kMaxDirectSoundLevel});
  }
  // The fixed gain is only applied in fixed-gain mode; elsewhere any value
  // is stale and harmless. The air attenuation, balance and stereo width
  // are checked where it is known whether the run reads them (THydra,
  // RequireStereoSettings).
  if (GainMode != 0) {
    RequireFiniteOption(fixedGainDb, "Fixed gain");
    if (!IsFinite(FixedGain)) RefuseDesign(msg::scene::sFixedGainTooLarge);
  }

  const int32_t maxSamples = MaxLengthSamples();
  if (ImpulseLength > 0 && ImpulseLength * SampleRate >= maxSamples) {
    RefuseDesign(msg::scene::sImpulseTooLong, {maxSamples, SampleRate});
  }
}

void TOptions::RequireStereoSettings() const {
  RequireFiniteOption(Balance, "Balance");
  RequireFiniteOption(StereoWidth, "Stereo width");
}

int32_t TOptions::LengthSamples() const {
  if (!(ImpulseLength > 0)) return 1;
  const double samples = ImpulseLength * SampleRate;
  // Construction refuses lengths beyond MaxLengthSamples; the clamp only
  // keeps a hand-edited object from overflowing the conversion.
  if (!(samples < std::numeric_limits<int32_t>::max() - 1)) {
    return std::numeric_limits<int32_t>::max();
  }
  return 1 + static_cast<int32_t>(std::trunc(samples));
}

int32_t TOptions::MaxLengthSamples() const {
  // Channel storage: 8 channels x (3H + LengthSamples + lead-in + 2)
  // doubles, within kMaxChannelStorageBytes.
  const int64_t half = FilterLength / 2;
  const int64_t perChannel = kMaxChannelStorageBytes / (ZM_CHANNEL_COUNT * int64_t{sizeof(double)});
  int64_t limit = perChannel - 3 * half - kLeadInSamples - 2;
  // Output file: (LengthSamples + N + 1) frames of 8 channels x 4 bytes, a
  // 44-byte header and a list chunk of at most a few hundred bytes, all
  // counted by uint32 sizes.
  const int64_t fileLimit = (kMaxWaveFileBytes - 1024) / (ZM_CHANNEL_COUNT * 4) - FilterLength - 1;
  if (fileLimit < limit) limit = fileLimit;
  return static_cast<int32_t>(limit);
}

}  // namespace zm
