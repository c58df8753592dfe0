#include "lib/audio/audio_file.h"

#include <sndfile.h>

#include <cmath>
#include <memory>

#include "lib/base/output_file.h"

namespace zm::cli {

namespace {

struct Encoding {
  int subformat;
  const char* name;
  int bitsPerSample;
};

constexpr Encoding kEncodings[] = {
    {SF_FORMAT_PCM_S8, "PCM 8-bit", 8},     {SF_FORMAT_PCM_U8, "PCM 8-bit", 8},
    {SF_FORMAT_PCM_16, "PCM 16-bit", 16},   {SF_FORMAT_PCM_24, "PCM 24-bit", 24},
    {SF_FORMAT_PCM_32, "PCM 32-bit", 32},   {SF_FORMAT_FLOAT, "float 32-bit", 32},
    {SF_FORMAT_DOUBLE, "float 64-bit", 64},
};

// Any other subformat is compressed, with no fixed sample size.
void DescribeEncoding(int format, AudioData& data) {
  data.encoding = "compressed";
  data.bitsPerSample = 0;
  for (const Encoding& e : kEncodings) {
    if ((format & SF_FORMAT_SUBMASK) == e.subformat) {
      data.encoding = e.name;
      data.bitsPerSample = e.bitsPerSample;
    }
  }
}

}  // namespace

AudioData ReadAudioFile(const std::string& path) {
  if (const std::string reason = WhyNotReadable(path); !reason.empty()) {
    throw AudioFileError("cannot read " + path + ": " + reason);
  }
  SF_INFO info{};
  SndfilePtr file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) {
    std::string why = sf_strerror(nullptr);
    if (!why.empty() && why.back() == '.') why.pop_back();
    throw AudioFileError("cannot read " + path + ": it is not a sound file libsndfile reads (" +
                         why + ")");
  }
  if (info.channels < 1 || info.frames < 0) throw AudioFileError(path + ": no audio channels");
  AudioData data;
  data.sampleRate = info.samplerate;
  DescribeEncoding(info.format, data);
  if (const char* title = sf_get_string(file.get(), SF_STR_TITLE)) data.title = title;
  // Integer data is read as +-1 full scale, float data as stored.
  sf_command(file.get(), SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
  const size_t channels = size_t(info.channels);
  data.channels.assign(channels, std::vector<double>());
  for (auto& c : data.channels) c.reserve(size_t(info.frames));
  std::vector<double> block(4096 * channels);
  for (;;) {
    const sf_count_t got = sf_readf_double(file.get(), block.data(), 4096);
    if (got <= 0) break;
    for (sf_count_t f = 0; f < got; ++f) {
      for (size_t c = 0; c < channels; ++c)
        data.channels[c].push_back(block[size_t(f) * channels + c]);
    }
  }
  if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
    throw AudioFileError(path + ": " + sf_strerror(file.get()));
  }
  return data;
}

void WriteAudioFile(const std::string& path, const AudioData& data, int bits) {
  SF_INFO info{};
  info.samplerate = data.sampleRate;
  info.channels = int(data.channels.size());
  info.format = SF_FORMAT_WAV | (bits == 16   ? SF_FORMAT_PCM_16
                                 : bits == 24 ? SF_FORMAT_PCM_24
                                              : SF_FORMAT_FLOAT);
  SndfilePtr file(sf_open(path.c_str(), SFM_WRITE, &info));
  if (!file) throw AudioFileError(path + ": " + sf_strerror(nullptr));
  // The peak chunk of a float file carries the time of writing; without it
  // the same samples give the same bytes.
  sf_command(file.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  const size_t channels = data.channels.size();
  std::vector<double> frames(data.Frames() * channels);
  for (size_t f = 0; f < data.Frames(); ++f) {
    for (size_t c = 0; c < channels; ++c) frames[f * channels + c] = data.channels[c][f];
  }
  if (sf_writef_double(file.get(), frames.data(), sf_count_t(data.Frames())) !=
      sf_count_t(data.Frames())) {
    throw AudioFileError(path + ": " + sf_strerror(file.get()));
  }
}

}  // namespace zm::cli
