#include "lib/audio/auralise.h"
#include "lib/audio/real_transform.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <memory>

namespace zm::cli {

namespace {

// One block transform pair of size `size`, with the buffers it works in.
class BlockTransform {
 public:
  explicit BlockTransform(size_t size)
      : transform_(size),
        time_(AllocateAlignedDoubles(size)),
        spectrumMemory_(AllocateAlignedDoubles(size + 2)),
        spectrum_(reinterpret_cast<std::complex<double>*>(spectrumMemory_.get())) {}

  size_t Bins() const { return transform_.Size() / 2 + 1; }

  // The spectrum of `count` samples from `samples`, zero-padded.
  void Forward(const double* samples, size_t count, std::vector<std::complex<double>>& out) {
    std::fill(time_.get(), time_.get() + transform_.Size(), 0.0);
    std::copy(samples, samples + count, time_.get());
    transform_.Forward(time_.get(), spectrum_);
    out.assign(spectrum_, spectrum_ + Bins());
  }

  // The product of two spectra back in time, scaled by 1/size (the
  // transforms are unnormalised); returns the block's samples.
  const double* InverseOfProduct(const std::vector<std::complex<double>>& a,
                                 const std::vector<std::complex<double>>& b) {
    const double scale = 1.0 / double(transform_.Size());
    for (size_t k = 0; k < Bins(); ++k) spectrum_[k] = a[k] * b[k] * scale;
    transform_.Inverse(spectrum_, time_.get());
    return time_.get();
  }

 private:
  RealTransform transform_;
  AlignedDoubles time_, spectrumMemory_;
  std::complex<double>* spectrum_;
};

std::string Decibels(double db) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.2f dB", db);
  return text;
}

std::vector<double> MixToMono(const AudioData& audio) {
  std::vector<double> mono(audio.Frames());
  for (size_t f = 0; f < mono.size(); ++f) {
    mono[f] = 0.5 * (audio.channels[0][f] + audio.channels[1][f]);
  }
  return mono;
}

}  // namespace

std::vector<std::vector<double>> ConvolveEach(const std::vector<double>& signal,
                                              const std::vector<std::vector<double>>& responses) {
  const size_t m = responses.at(0).size();
  const size_t n = signal.size();
  std::vector<std::vector<double>> out(responses.size(), std::vector<double>(n + m - 1, 0.0));
  // Overlap-add: blocks of `hop` input samples, transforms long enough that
  // a block's full convolution (hop + m - 1 samples) does not wrap around.
  size_t size = 256;
  while (size < 2 * m) size *= 2;
  const size_t hop = size - m + 1;
  BlockTransform transform(size);
  std::vector<std::vector<std::complex<double>>> responseSpectra(responses.size());
  for (size_t c = 0; c < responses.size(); ++c) {
    transform.Forward(responses[c].data(), m, responseSpectra[c]);
  }
  std::vector<std::complex<double>> block;
  for (size_t start = 0; start < n; start += hop) {
    transform.Forward(signal.data() + start, std::min(hop, n - start), block);
    for (size_t c = 0; c < responses.size(); ++c) {
      const double* y = transform.InverseOfProduct(block, responseSpectra[c]);
      const size_t count = std::min(size, out[c].size() - start);
      for (size_t k = 0; k < count; ++k) out[c][start + k] += y[k];
    }
  }
  return out;
}

std::vector<double> Resample(const std::vector<double>& samples, int fromRate, int toRate) {
  const size_t length =
      size_t(std::ceil(double(samples.size()) * double(toRate) / double(fromRate)));
  std::vector<double> out(length);
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
  size_t done = 0;
  const soxr_error_t error =
      soxr_oneshot(fromRate, toRate, 1, samples.data(), samples.size(), nullptr, out.data(),
                   out.size(), &done, &io, &quality, nullptr);
  if (error) throw AudioFileError(std::string("resampling failed: ") + error);
  out.resize(done);
  return out;
}

AuraliseResult Auralise(const AudioData& dry, const AudioData& ir, const AuraliseOptions& options) {
  if (dry.channels.empty() || dry.Frames() == 0) throw AudioFileError("the dry signal is empty");
  if (ir.channels.empty() || ir.Frames() == 0)
    throw AudioFileError("the impulse response is empty");
  if (dry.channels.size() > 2) {
    throw AudioFileError("the dry signal has " + std::to_string(dry.channels.size()) +
                         " channels; give a mono or stereo one");
  }
  AuraliseResult result;
  std::vector<std::vector<double>> responses = ir.channels;
  if (ir.sampleRate != dry.sampleRate) {
    result.resampledFrom = ir.sampleRate;
    // Band-limited interpolation keeps sample values; an impulse keeps its
    // area (and so the output its level) when they are scaled by the rate
    // ratio.
    const double scale = double(ir.sampleRate) / double(dry.sampleRate);
    for (auto& r : responses) {
      r = Resample(r, ir.sampleRate, dry.sampleRate);
      for (double& v : r) v *= scale;
    }
  }
  const size_t dryChannels = dry.channels.size(), irChannels = responses.size();
  std::vector<std::vector<double>> out;
  if (dryChannels == 1 || irChannels > 2) {
    const std::vector<double> mono = dryChannels == 1 ? dry.channels[0] : MixToMono(dry);
    out = ConvolveEach(mono, responses);
    result.channelMap =
        (dryChannels == 1 ? "mono dry signal" : "stereo dry signal mixed to mono,") +
        std::string(" through each of the IR's ") + std::to_string(irChannels) + " channel" +
        (irChannels == 1 ? "" : "s");
  } else {
    for (size_t c = 0; c < 2; ++c) {
      out.push_back(ConvolveEach(dry.channels[c], {responses[irChannels == 1 ? 0 : c]})[0]);
    }
    result.channelMap = irChannels == 1 ? "each dry channel through the mono IR"
                                        : "left through the IR's channel 0, right through 1";
  }

  double peak = 0;
  for (const auto& channel : out) {
    for (double v : channel) peak = std::max(peak, std::fabs(v));
  }
  double gain = 1;
  if (options.gainDb) {
    gain = std::pow(10.0, *options.gainDb / 20);
    if (peak * gain > 1) {
      throw AudioFileError("a gain of " + Decibels(*options.gainDb) + " would clip (peak " +
                           Decibels(20 * std::log10(peak * gain)) + " FS); at most " +
                           Decibels(-20 * std::log10(peak)) + " fits");
    }
  } else if (peak > 0) {
    gain = std::pow(10.0, std::min(options.peakDb, 0.0) / 20) / peak;
  }
  for (auto& channel : out) {
    for (double& v : channel) v *= gain;
  }
  result.gainDb = 20 * std::log10(gain);
  result.peakDb = peak > 0 ? 20 * std::log10(peak * gain) : -INFINITY;
  result.output.sampleRate = dry.sampleRate;
  result.output.channels = std::move(out);
  result.output.encoding = "float 32-bit";
  result.output.bitsPerSample = 32;
  return result;
}

}  // namespace zm::cli
