// Rendering the accumulated impulse to the output file: trim with a
// fractional shift, stereo matrix, gain, dither, RIFF/WAVE.
#include <algorithm>
#include <cmath>
#include <limits>
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
    "Fixed gain needs emitters with a nonzero level and ray count"};
inline constexpr MessageText sBufferTooShort{
    "Impulse buffer of %d samples cannot hold written end %d"};
}  // namespace msg::render

namespace {

// Reference times at or above this mean "no such arrival".
constexpr double kNoReference = 1e10;
// Peak level of the loudest sample when the output is normalised.
constexpr double kNormalisedPeak = 0.995;
// Samples above 2^kHeadroomLimit (a design's amplitudes near the top of the
// double range) are brought down to about 2^kHeadroomTarget before the
// shift, whose transforms sum a thousand of them, and the stereo matrix.
constexpr int kHeadroomLimit = 960;
constexpr int kHeadroomTarget = 900;

// The part of every written channel that goes to the file: `frames`
// samples from sample index `first` on.
struct TFrameSpan {
  int32_t first;
  int32_t frames;
};

// The time the output is trimmed to, or a negative value for none.
double ReferenceTime(const TOptions& options, double firstDirect, double firstReflection) {
  const bool toDirect = options.TrimToDirect != 0 && firstDirect < kNoReference;
  if (toDirect) return firstDirect;
  if (options.DirectSoundLevel == 0 && firstReflection < kNoReference) return firstReflection;
  return -1.0;
}

// One more than the highest channel that received an arrival (0 and 1
// always count): lower channels without arrivals are written as silence.
int32_t OutputChannelCount(const TImpulse& impulse) {
  int32_t channels = 1;
  for (int c = 0; c < kImpulseChannels; ++c) {
    if (impulse.ChannelUsed[c]) channels = c + 1;
  }
  return channels;
}

// Every index that rendering touches lies inside a channel buffer: the
// shift reads and writes buffer positions 0 .. H + WrittenEnd, the frames
// end at sample index WrittenEnd.
void RequireBufferHoldsWrittenEnd(const TImpulse& impulse) {
  if (impulse.WrittenEnd < 0 ||
      int64_t{impulse.HalfTaps} + impulse.WrittenEnd >= impulse.BufferSamples) {
    throw ERangeError(
        Format(msg::render::sBufferTooShort, {impulse.BufferSamples, impulse.WrittenEnd}));
  }
}

// What fixed-gain mode divides by: Level x RayCount summed over the emitters
// of every group. Refuses a sum that is zero or not finite.
double FixedGainWeight(const THydra& scene) {
  double weight = 0.0;
  for (int32_t e = 0; e < scene.EmitterCount; ++e) {
    const TEmitter& emitter = *scene.Emitters[e];
    weight = weight + emitter.Level * emitter.RayCount;
  }
  if (weight == 0.0 || !std::isfinite(weight))
    throw ERangeError(Format(msg::render::sFixedGainZero));
  return weight;
}

// A sum that overflowed the double range is the only way to a sample that
// is not finite; it becomes the largest finite value of its sign (0 for
// NaN, whose sign means nothing), so that no file ever holds one.
void Tame(double* samples, int32_t count) {
  constexpr double kLargest = std::numeric_limits<double>::max();
  for (int32_t i = 0; i < count; ++i) {
    const double x = samples[i];
    if (std::isfinite(x)) continue;
    samples[i] = std::isnan(x) ? 0.0 : std::copysign(kLargest, x);
  }
}

// Tames the written channels over everything the shift reads and, when
// their peak lies beyond the headroom, scales them down by a power of two,
// which is exact: the normalised gain is then the same, a fixed gain is
// undone by RestoreScale. Returns the exponent removed (0: none).
int KeepInRange(TImpulse& impulse, int32_t channels) {
  const int32_t count = impulse.HalfTaps + impulse.WrittenEnd + 1;
  double peak = 0.0;
  for (int32_t c = 0; c < channels; ++c) {
    Tame(impulse.Channels[c], count);
    peak = std::max(peak, PeakOf(impulse.Channels[c], count));
  }
  if (!(peak > std::ldexp(1.0, kHeadroomLimit))) return 0;
  const int exponent = std::ilogb(peak) - kHeadroomTarget;
  const double factor = std::ldexp(1.0, -exponent);
  for (int32_t c = 0; c < channels; ++c) {
    double* samples = impulse.Channels[c];
    for (int32_t i = 0; i < count; ++i) samples[i] = samples[i] * factor;
  }
  return exponent;
}

// Trim: moves the reference arrival onto a sample boundary, the whole
// samples by starting the span later and the fraction by shifting every
// used channel earlier. A reference beyond the written samples (its own
// arrival may have been dropped) leaves no frames rather than a negative
// count.
TFrameSpan TrimToReference(TImpulse& impulse, const TOptions& options, int32_t channels) {
  const int32_t writtenEnd = impulse.WrittenEnd;
  int32_t trimSamples = 0;
  double trimFraction = 0.0;
  const double reference =
      ReferenceTime(options, impulse.FirstDirectTime, impulse.FirstReflectionTime);
  if (reference >= 0.0) {
    const double d = reference * options.SampleRate;
    const double whole = std::trunc(d);
    if (whole > writtenEnd + 1.0) {
      trimSamples = writtenEnd + 1;
    } else {
      trimSamples = static_cast<int32_t>(whole);
      trimFraction = d - whole;
    }
  }
  const TFrameSpan span{trimSamples, writtenEnd + 1 - trimSamples};

  if (trimFraction > 0.0 && span.frames > 0) {
    for (int32_t c = 0; c < channels; ++c) {
      if (impulse.ChannelUsed[c]) {
        ShiftByFraction(impulse.Channels[c], writtenEnd + 1 + impulse.HalfTaps, trimFraction);
      }
    }
  }
  return span;
}

// Stereo width w and balance p on the two channels: w = 1 leaves them as
// they are, 0 makes both their mean, -1 swaps them; p > 0 lowers the left,
// p < 0 the right.
void ApplyStereoMatrix(TImpulse& impulse, const TOptions& options, TFrameSpan span) {
  const double w = options.StereoWidth;
  const double p = options.Balance;
  const double a = 0.5 * w + 0.5;
  const double b = 0.5 * (1.0 - w);
  const double gl = p >= 0.0 ? 1.0 - p : 1.0;
  const double gr = p < 0.0 ? 1.0 + p : 1.0;
  double* left = impulse.Channel(0) + span.first;
  double* right = impulse.Channel(1) + span.first;
  for (int32_t m = 0; m < span.frames; ++m) {
    const double l = left[m];
    const double r = right[m];
    left[m] = gl * (a * l + b * r);
    right[m] = gr * (b * l + a * r);
  }
}

// The factor for every written sample: normalised to the loudest one, or
// the fixed gain shared out over the emitters' weight.
double OutputGain(const TImpulse& impulse, const TOptions& options, int32_t channels,
                  TFrameSpan span, double fixedGainWeight) {
  if (options.GainMode != 0) return options.FixedGain / fixedGainWeight;
  double peak = 1e-15;
  for (int32_t c = 0; c < channels; ++c) {
    peak = std::max(peak, PeakOf(impulse.Channel(c) + span.first, span.frames));
  }
  return kNormalisedPeak / peak;
}

void ApplyGain(TImpulse& impulse, int32_t channels, TFrameSpan span, double gain) {
  for (int32_t c = 0; c < channels; ++c) {
    double* samples = impulse.Channel(c) + span.first;
    for (int32_t m = 0; m < span.frames; ++m) samples[m] = samples[m] * gain;
  }
}

// Tames the frames that go to the file.
void TameFrames(TImpulse& impulse, int32_t channels, TFrameSpan span) {
  for (int32_t c = 0; c < channels; ++c) Tame(impulse.Channel(c) + span.first, span.frames);
}

// Undoes KeepInRange's scale after a fixed gain; what then overflows is
// tamed, and the converters clip it to their range.
void RestoreScale(TImpulse& impulse, int32_t channels, TFrameSpan span, int exponent) {
  if (exponent == 0) return;
  ApplyGain(impulse, channels, span, std::ldexp(1.0, exponent));
  TameFrames(impulse, channels, span);
}

// Converts every written channel into its slots of the interleaved output.
void Dither(const std::vector<TDitherer>& ditherers, const TImpulse& impulse, TFrameSpan span,
            uint8_t* output) {
  // One lock over all channels keeps the draws in channel order even when
  // another thread renders at the same time.
  SharedRandomLock lock;
  TRandomNumberGenerator& random = lock.Generator();
  for (size_t c = 0; c < ditherers.size(); ++c) {
    ditherers[c].Convert(impulse.Channel(static_cast<int>(c)) + span.first, output, span.frames,
                         random);
  }
}

}  // namespace

double PeakOf(const double* samples, int32_t count) {
  double peak = 1e-15;
  for (int32_t i = 0; i < count; ++i) peak = std::max(peak, std::fabs(samples[i]));
  return peak;
}

void TImpulse::Render(const std::string& fileName, const std::string& title) {
  const TOptions& options = *Scene->Options;
  const int32_t channels = OutputChannelCount(*this);
  RequireBufferHoldsWrittenEnd(*this);
  // Balance and width are read by the stereo matrix alone.
  if (channels == 2) options.RequireStereoSettings();

  // Refusals come before any work, so a bad design touches nothing: a
  // format without a converter, and a fixed gain with nothing to divide by.
  std::vector<TDitherer> ditherers;
  ditherers.reserve(channels);
  for (int32_t c = 0; c < channels; ++c) ditherers.emplace_back(options.BitsPerSample, channels, c);
  const double fixedGainWeight = options.GainMode != 0 ? FixedGainWeight(*Scene) : 0.0;

  const int scaledDown = KeepInRange(*this, channels);
  const TFrameSpan span = TrimToReference(*this, options, channels);
  const int32_t bytesPerSample = options.BitsPerSample / 8;
  std::vector<uint8_t> output(static_cast<size_t>(span.frames) * bytesPerSample * channels);
  std::unique_ptr<TResource> stream = RscOpenCreate(fileName);

  if (channels == 2) {
    ApplyStereoMatrix(*this, options, span);
    TameFrames(*this, channels, span);
  }
  ApplyGain(*this, channels, span, OutputGain(*this, options, channels, span, fixedGainWeight));
  if (options.GainMode != 0) RestoreScale(*this, channels, span, scaledDown);
  Dither(ditherers, *this, span, output.data());
  WriteWave(*stream, output.data(), span.frames, channels, options.SampleRate,
            options.BitsPerSample, title, options.Comment);
  // Only a complete file replaces what was at the output path.
  stream->Commit();
}

}  // namespace zm
