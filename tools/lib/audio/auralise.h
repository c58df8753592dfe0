// Listening to a room: a dry recording convolved with an impulse response.
//
// Nothing here prints, exits or keeps global state.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "lib/audio/audio_file.h"

namespace zm::cli {

struct AuraliseOptions {
  // A fixed gain in dB; without it the output is normalised to `peakDb`.
  std::optional<double> gainDb;
  double peakDb = -1.0;
};

struct AuraliseResult {
  AudioData output;  // at the dry signal's rate, as float
  double gainDb = 0;
  double peakDb = 0;  // of the output, after the gain
  // How dry channels met IR channels, in words.
  std::string channelMap;
  // The IR's rate before it was resampled to the dry signal's, or 0.
  int resampledFrom = 0;
};

// Convolves `dry` (one or two channels) with `ir` (any number):
//   mono dry:                  output channel c = dry * ir[c];
//   stereo dry, mono IR:       output channel c = dry[c] * ir;
//   stereo dry, stereo IR:     output channel c = dry[c] * ir[c];
//   stereo dry, more channels: the dry pair is mixed to mono ((L + R) / 2),
//                              since the IR holds one source heard at every
//                              receiver, then as for a mono dry signal.
// An IR at another rate is resampled to the dry signal's first, its values
// scaled so that an impulse keeps its area. The output keeps the whole
// tail (dry length + IR length - 1 frames). Throws AudioFileError for a
// dry signal of more than two channels, an empty input, or a fixed gain
// that would clip.
AuraliseResult Auralise(const AudioData& dry, const AudioData& ir, const AuraliseOptions& options);

// Linear convolution of `signal` with each of `responses`, by FFT
// overlap-add; all responses must have the same length.
std::vector<std::vector<double>> ConvolveEach(const std::vector<double>& signal,
                                              const std::vector<std::vector<double>>& responses);

// `samples` at `fromRate` resampled to `toRate` (very high quality).
std::vector<double> Resample(const std::vector<double>& samples, int fromRate, int toRate);

}  // namespace zm::cli
