// Reading and writing sampled impulse responses through libsndfile.
#pragma once

#include <sndfile.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zm::cli {

struct SndfileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
// An open libsndfile handle, closed when it goes.
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

class AudioFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct AudioData {
  int sampleRate = 0;
  // One vector per channel, full scale +-1.
  std::vector<std::vector<double>> channels;
  // "PCM 16-bit", "float 32-bit", ... as libsndfile names the encoding.
  std::string encoding;
  int bitsPerSample = 0;  // 0 when the encoding has no plain bit depth
  std::string title;      // the file's title string, if any

  size_t Frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

AudioData ReadAudioFile(const std::string& path);

// Writes a WAV file (`bits` 16, 24 or 32 = float); used by tests and tools
// that make synthetic impulse responses.
void WriteAudioFile(const std::string& path, const AudioData& data, int bits);

}  // namespace zm::cli
