// Rendering the accumulated impulse to the output file: trim with a
// fractional shift, stereo matrix, gain, dither, RIFF/WAVE.
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "files/resource.h"
#include "impulse/ditherer.h"
#include "impulse/impulse.h"
#include "impulse/shift.h"
#include "impulse/wave_writer.h"
#include "scene/hydra.h"
#include "support/random.h"

namespace zm {

namespace msg::render {
inline constexpr MessageText sFixedGainZero{
    "render.sfixedgainzero", "Fixed gain needs emitters with a nonzero level and ray count"};
inline constexpr MessageText sBufferTooShort{
    "render.sbuffertooshort", "Impulse buffer of %d samples cannot hold written end %d"};
}  // namespace msg::render

namespace {

// Reference times at or above this mean "no such arrival".
constexpr double kNoReference = 1e10;

// The time the output is trimmed to, or a negative value for none.
double ReferenceTime(const TOptions& options, double firstDirect, double firstReflection) {
  const bool toDirect = options.TrimToDirect != 0 && firstDirect < kNoReference;
  if (toDirect) return firstDirect;
  if (options.DirectSoundLevel == 0 && firstReflection < kNoReference) return firstReflection;
  return -1.0;
}

}  // namespace

double PeakOf(const double* samples, int32_t count) {
  double peak = 1e-15;
  for (int32_t i = 0; i < count; ++i) peak = std::max(peak, std::fabs(samples[i]));
  return peak;
}

void TImpulse::Render(const std::string& fileName, const std::string& title) {
  const TOptions& options = *Scene->Options;

  int32_t channels = 1;
  for (int c = 0; c < kImpulseChannels; ++c) {
    if (ChannelUsed[c]) channels = c + 1;
  }
  // Every index below stays inside a channel buffer: the shift reads and
  // writes buffer positions 0 .. H + WrittenEnd, the frames end at index
  // WrittenEnd.
  if (WrittenEnd < 0 || int64_t{HalfTaps} + WrittenEnd >= BufferSamples) {
    throw ERangeError(Format(msg::render::sBufferTooShort, {BufferSamples, WrittenEnd}));
  }

  // Refusals come before any work, so a bad design touches nothing: a
  // format without a converter, and a fixed gain with nothing to divide by.
  std::vector<TDitherer> ditherers;
  ditherers.reserve(channels);
  for (int32_t c = 0; c < channels; ++c) ditherers.emplace_back(options.BitsPerSample, channels, c);
  double emitterWeight = 0.0;
  if (options.GainMode != 0) {
    for (int32_t e = 0; e < Scene->EmitterCount; ++e) {
      const TEmitter& emitter = *Scene->Emitters[e];
      emitterWeight = emitterWeight + emitter.Level * emitter.RayCount;
    }
    if (emitterWeight == 0.0 || !std::isfinite(emitterWeight)) {
      throw ERangeError(Format(msg::render::sFixedGainZero));
    }
  }

  // Trim: the reference arrival moves onto a sample boundary. A reference
  // beyond the written samples (its own arrival may have been dropped)
  // leaves no frames rather than a negative count.
  int32_t trimSamples = 0;
  double trimFraction = 0.0;
  const double reference = ReferenceTime(options, FirstDirectTime, FirstReflectionTime);
  if (reference >= 0.0) {
    const double d = reference * options.SampleRate;
    const double whole = std::trunc(d);
    if (whole > WrittenEnd + 1.0) {
      trimSamples = WrittenEnd + 1;
    } else {
      trimSamples = static_cast<int32_t>(whole);
      trimFraction = d - whole;
    }
  }
  const int32_t frames = WrittenEnd + 1 - trimSamples;

  if (trimFraction > 0.0 && frames > 0) {
    for (int32_t c = 0; c < channels; ++c) {
      if (ChannelUsed[c]) ShiftByFraction(Channels[c], WrittenEnd + 1 + HalfTaps, trimFraction);
    }
  }

  const int32_t bytesPerSample = options.BitsPerSample / 8;
  std::vector<uint8_t> output(static_cast<size_t>(frames) * bytesPerSample * channels);
  std::unique_ptr<TResource> stream = RscOpenCreate(fileName);

  if (channels == 2) {
    const double w = options.StereoWidth;
    const double p = options.Balance;
    const double a = 0.5 * w + 0.5;
    const double b = 0.5 * (1.0 - w);
    const double gl = p >= 0.0 ? 1.0 - p : 1.0;
    const double gr = p < 0.0 ? 1.0 + p : 1.0;
    double* left = Channel(0) + trimSamples;
    double* right = Channel(1) + trimSamples;
    for (int32_t m = 0; m < frames; ++m) {
      const double l = left[m];
      const double r = right[m];
      left[m] = gl * (a * l + b * r);
      right[m] = gr * (b * l + a * r);
    }
  }

  double gain;
  if (options.GainMode == 0) {
    double peak = 1e-15;
    for (int32_t c = 0; c < channels; ++c) {
      peak = std::max(peak, PeakOf(Channel(c) + trimSamples, frames));
    }
    gain = 0.995 / peak;
  } else {
    gain = options.FixedGain / emitterWeight;
  }
  for (int32_t c = 0; c < channels; ++c) {
    double* samples = Channel(c) + trimSamples;
    for (int32_t m = 0; m < frames; ++m) samples[m] = samples[m] * gain;
  }

  {
    // One lock over all channels keeps the draws in channel order even when
    // another thread renders at the same time.
    SharedRandomLock lock;
    TRandomNumberGenerator& random = lock.Generator();
    for (int32_t c = 0; c < channels; ++c) {
      ditherers[c].Convert(Channel(c) + trimSamples, output.data(), frames, random);
    }
  }

  WriteWave(*stream, output.data(), frames, channels, options.SampleRate, options.BitsPerSample,
            title, options.Comment);
  // Only a complete file replaces what was at the output path.
  stream->Commit();
}

}  // namespace zm
