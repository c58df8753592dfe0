#include "lib/audio/audio_export.h"
#include "lib/base/text.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

namespace zm::cli {

namespace {

struct Container {
  const char* name;
  int format;
  const char* extension;
  const char* description;
};

constexpr Container kContainers[] = {
    {"wav", SF_FORMAT_WAV, ".wav", "WAV"},     {"rf64", SF_FORMAT_RF64, ".rf64", "RF64"},
    {"w64", SF_FORMAT_W64, ".w64", "W64"},     {"flac", SF_FORMAT_FLAC, ".flac", "FLAC"},
    {"aiff", SF_FORMAT_AIFF, ".aiff", "AIFF"}, {"ogg", SF_FORMAT_OGG, ".ogg", "Ogg"},
};

struct Encoding {
  const char* name;
  int subformat;
  const char* description;
  int bytes;
};

constexpr Encoding kEncodings[] = {
    {"pcm8", SF_FORMAT_PCM_U8, "PCM 8-bit", 1},    {"pcm16", SF_FORMAT_PCM_16, "PCM 16-bit", 2},
    {"pcm24", SF_FORMAT_PCM_24, "PCM 24-bit", 3},  {"pcm32", SF_FORMAT_PCM_32, "PCM 32-bit", 4},
    {"float", SF_FORMAT_FLOAT, "float 32-bit", 4}, {"double", SF_FORMAT_DOUBLE, "float 64-bit", 8},
};

const Container* FindContainer(const std::string& name) {
  for (const Container& c : kContainers) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

const Encoding* FindEncoding(const std::string& name) {
  for (const Encoding& e : kEncodings) {
    if (name == e.name) return &e;
  }
  return nullptr;
}

// The encoding that keeps the source's samples: its bit depth, float as
// float, 24-bit for compressed sources.
std::string SourceEncoding(const AudioData& audio) {
  if (audio.encoding.rfind("float 64", 0) == 0) return "double";
  if (audio.encoding.rfind("float", 0) == 0) return "float";
  switch (audio.bitsPerSample) {
    case 8:
      return "pcm8";
    case 16:
      return "pcm16";
    case 32:
      return "pcm32";
    default:
      return "pcm24";
  }
}

// Speaker positions for more than two channels: standard layouts without a
// low-frequency channel, so that no player low-passes a receiver as LFE
// (3.0, quad, 5.0, hexagonal, 7.0, octagonal). Receivers have no speaker
// positions of their own; this only keeps readers from guessing.
std::vector<int> ChannelMap(int channels) {
  using V = std::vector<int>;
  switch (channels) {
    case 3:
      return V{SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER};
    case 4:
      return V{SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_REAR_LEFT,
               SF_CHANNEL_MAP_REAR_RIGHT};
    case 5:
      return V{SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER,
               SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT};
    case 6:
      return V{SF_CHANNEL_MAP_LEFT,      SF_CHANNEL_MAP_RIGHT,      SF_CHANNEL_MAP_CENTER,
               SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT, SF_CHANNEL_MAP_REAR_CENTER};
    case 7:
      return V{SF_CHANNEL_MAP_LEFT,      SF_CHANNEL_MAP_RIGHT,      SF_CHANNEL_MAP_CENTER,
               SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT, SF_CHANNEL_MAP_SIDE_LEFT,
               SF_CHANNEL_MAP_SIDE_RIGHT};
    case 8:
      return V{SF_CHANNEL_MAP_LEFT,      SF_CHANNEL_MAP_RIGHT,      SF_CHANNEL_MAP_CENTER,
               SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT, SF_CHANNEL_MAP_REAR_CENTER,
               SF_CHANNEL_MAP_SIDE_LEFT, SF_CHANNEL_MAP_SIDE_RIGHT};
    default:
      return {};
  }
}

// The WAV channel-mask bits of the layouts above, for the summary.
unsigned ChannelMask(int channels) {
  constexpr unsigned kMasks[] = {0, 0, 0, 0x7, 0x33, 0x37, 0x137, 0x637, 0x737};
  return channels >= 0 && channels <= 8 ? kMasks[channels] : 0;
}

uint32_t Read32(const char* p) {
  return uint32_t(uint8_t(p[0])) | uint32_t(uint8_t(p[1])) << 8 | uint32_t(uint8_t(p[2])) << 16 |
         uint32_t(uint8_t(p[3])) << 24;
}

void Write32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = char(v >> (8 * i));
}

// libsndfile writes the "fmt " chunk of a plain float WAV in 16 bytes, but
// every format other than integer PCM carries a size field for its
// extension (18 bytes, size 0); readers such as sox warn without it. The
// chunks before the data are small, so they are rebuilt in memory and the
// data is copied behind them.
void CompleteFloatFormatChunk(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(12, '\0');
  if (!in.read(head.data(), 12) || head.compare(0, 4, "RIFF") != 0) return;
  std::string rebuilt = head;
  bool changed = false;
  for (;;) {
    char chunk[8];
    if (!in.read(chunk, 8)) return;
    const uint32_t size = Read32(chunk + 4);
    if (std::memcmp(chunk, "data", 4) == 0) {
      rebuilt.append(chunk, 8);
      break;
    }
    std::string body((size + 1) & ~1u, '\0');
    if (size > (1u << 20) || !in.read(body.data(), std::streamsize(body.size()))) return;
    if (std::memcmp(chunk, "fmt ", 4) == 0 && size == 16 && uint8_t(body[0]) == 3) {
      Write32(chunk + 4, 18);
      body += std::string(2, '\0');
      changed = true;
    }
    rebuilt.append(chunk, 8);
    rebuilt += body;
  }
  if (!changed) return;
  Write32(rebuilt.data() + 4, Read32(rebuilt.data() + 4) + 2);
  const std::string temporary = path + ".header";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << rebuilt << in.rdbuf();
    if (!out) {
      std::filesystem::remove(temporary);
      throw AudioFileError(path + ": cannot complete the float header");
    }
  }
  std::filesystem::rename(temporary, path);
}

}  // namespace

ExportFormat ParseExportFormat(const std::string& text) {
  ExportFormat format;
  const size_t colon = text.find(':');
  format.container = text.substr(0, colon);
  if (colon != std::string::npos) format.encoding = text.substr(colon + 1);
  if (FindContainer(format.container) == nullptr ||
      (!format.encoding.empty() && FindEncoding(format.encoding) == nullptr)) {
    throw AudioFileError("unknown format \"" + text + "\"; choose " + ExportFormatChoices());
  }
  return format;
}

std::string ExportFormatChoices() {
  std::string text;
  for (const Container& c : kContainers) text += std::string(text.empty() ? "" : ", ") + c.name;
  text += ", optionally with :";
  for (const Encoding& e : kEncodings)
    text += std::string(e.name) + (&e == std::end(kEncodings) - 1 ? "" : "|");
  return text + " (e.g. wav:float)";
}

std::string ContainerOfPath(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  if (extension == ".aif") return "aiff";
  if (extension == ".oga") return "ogg";
  for (const Container& c : kContainers) {
    if (extension == c.extension) return c.name;
  }
  return "";
}

bool IsAudioFile(const std::string& path) {
  SF_INFO info{};
  SndfilePtr file(sf_open(path.c_str(), SFM_READ, &info));
  return file != nullptr;
}

AudioTags ReadAudioTags(const std::string& path) {
  SF_INFO info{};
  SndfilePtr file(sf_open(path.c_str(), SFM_READ, &info));
  AudioTags tags;
  if (!file) return tags;
  if (const char* title = sf_get_string(file.get(), SF_STR_TITLE)) tags.title = AsUtf8(title);
  if (const char* comment = sf_get_string(file.get(), SF_STR_COMMENT))
    tags.comment = AsUtf8(comment);
  return tags;
}

namespace {

// What a file of `format` holding `audio` becomes: libsndfile's major and
// sub format, the encoding written, and whether WAV needs the extensible
// header.
struct FileLayout {
  const Container* container = nullptr;
  std::string encoding;
  int major = 0;
  int subformat = 0;
  bool extensible = false;
};

// Chooses the layout, noting in `result` where the request had to change.
FileLayout ChooseLayout(const std::string& path, const AudioData& audio, const ExportFormat& format,
                        ExportResult& result) {
  FileLayout layout;
  layout.container = FindContainer(format.container);
  if (layout.container == nullptr) {
    throw AudioFileError("unknown format \"" + format.container + "\"");
  }
  const int channels = int(audio.channels.size());
  std::string& encoding = layout.encoding;
  encoding = format.encoding.empty() ? SourceEncoding(audio) : format.encoding;
  // ffmpeg cannot time a W64 file without the fact chunk that libsndfile
  // writes for float only; float holds 8- to 24-bit samples exactly.
  if (format.encoding.empty() && layout.container->format == SF_FORMAT_W64 && encoding != "pcm32" &&
      encoding != "double") {
    encoding = "float";
  }
  int& major = layout.major;
  major = layout.container->format;
  if (major == SF_FORMAT_FLAC &&
      (encoding == "pcm32" || encoding == "float" || encoding == "double")) {
    result.note = "FLAC holds at most 24-bit integers: written as PCM 24-bit";
    encoding = "pcm24";
  }
  if (major == SF_FORMAT_OGG) {
    layout.subformat = SF_FORMAT_VORBIS;
  } else {
    layout.subformat = FindEncoding(encoding)->subformat;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_W64 && major != SF_FORMAT_RF64 &&
        layout.subformat == SF_FORMAT_PCM_U8) {
      layout.subformat = SF_FORMAT_PCM_S8;  // unsigned 8-bit is a WAV convention
    }
  }
  const double bytes = double(audio.Frames()) * channels * FindEncoding(encoding)->bytes;
  if (major == SF_FORMAT_WAV && bytes > double(UINT32_MAX) - 65536) {
    major = SF_FORMAT_RF64;
    result.note = "too long for WAV's 32-bit sizes: written as RF64";
  }
  layout.extensible = major == SF_FORMAT_WAV && channels > 2;
  if (layout.extensible) major = SF_FORMAT_WAVEX;

  SF_INFO info{};
  info.samplerate = audio.sampleRate;
  info.channels = channels;
  info.format = major | layout.subformat;
  if (!sf_format_check(&info)) {
    throw AudioFileError(path + ": " + layout.container->description + " cannot hold " +
                         std::to_string(channels) + " channels of " + encoding + " at " +
                         std::to_string(audio.sampleRate) + " Hz");
  }
  return layout;
}

// The channel map and tags, then the samples interleaved block by block.
void WriteSamples(SNDFILE* file, const std::string& path, const AudioData& audio,
                  const AudioTags& tags) {
  const int channels = int(audio.channels.size());
  std::vector<int> map = ChannelMap(channels);
  if (!map.empty()) {
    sf_command(file, SFC_SET_CHANNEL_MAP_INFO, map.data(), int(map.size() * sizeof(int)));
  }
  // Containers without tags refuse them; the samples matter more.
  if (!tags.title.empty()) sf_set_string(file, SF_STR_TITLE, tags.title.c_str());
  if (!tags.comment.empty()) sf_set_string(file, SF_STR_COMMENT, tags.comment.c_str());
  sf_set_string(file, SF_STR_SOFTWARE, "zm");
  // Values are written as they are: a normalised source never exceeds full
  // scale, and clipping (rather than wrapping) keeps any that do sane.
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  std::vector<double> block;
  const size_t frames = audio.Frames(), step = 4096;
  for (size_t start = 0; start < frames; start += step) {
    const size_t count = std::min(step, frames - start);
    block.resize(count * size_t(channels));
    for (size_t f = 0; f < count; ++f) {
      for (int c = 0; c < channels; ++c)
        block[f * size_t(channels) + size_t(c)] = audio.channels[size_t(c)][start + f];
    }
    if (sf_writef_double(file, block.data(), sf_count_t(count)) != sf_count_t(count)) {
      throw AudioFileError(path + ": " + sf_strerror(file));
    }
  }
}

// "WAV (extensible, channel mask 0x3F), PCM 24-bit" and the like.
std::string DescribeLayout(const FileLayout& layout, int channels) {
  std::string description = layout.major == SF_FORMAT_RF64 ? "RF64" : layout.container->description;
  if (layout.extensible || (layout.major == SF_FORMAT_RF64 && channels > 2)) {
    char mask[48];
    std::snprintf(mask, sizeof mask, " (extensible, channel mask 0x%X)", ChannelMask(channels));
    description += mask;
  }
  return description + (layout.major == SF_FORMAT_OGG
                            ? ", Vorbis"
                            : ", " + std::string(FindEncoding(layout.encoding)->description));
}

}  // namespace

ExportResult WriteAudioAs(const std::string& path, const AudioData& audio,
                          const ExportFormat& format, const AudioTags& tags) {
  const int channels = int(audio.channels.size());
  if (channels < 1) throw AudioFileError(path + ": no channels to write");
  ExportResult result;
  const FileLayout layout = ChooseLayout(path, audio, format, result);

  // Written beside the output and renamed onto it when complete, so that a
  // failure leaves neither a broken file nor a truncated earlier one.
  const std::filesystem::path target(path);
  const std::string partial =
      (target.parent_path() / ("." + target.filename().string() + ".zm-partial")).string();
  struct RemoveUnlessRenamed {
    const std::string& path;
    ~RemoveUnlessRenamed() {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
  } cleanup{partial};
  SF_INFO info{};
  info.samplerate = audio.sampleRate;
  info.channels = channels;
  info.format = layout.major | layout.subformat;
  SndfilePtr file(sf_open(partial.c_str(), SFM_WRITE, &info));
  if (!file) throw AudioFileError(path + ": " + sf_strerror(nullptr));
  WriteSamples(file.get(), path, audio, tags);
  file.reset();
  if (layout.major == SF_FORMAT_WAV &&
      (layout.subformat == SF_FORMAT_FLOAT || layout.subformat == SF_FORMAT_DOUBLE)) {
    CompleteFloatFormatChunk(partial);
  }
  std::error_code error;
  std::filesystem::rename(partial, path, error);
  if (error) throw AudioFileError(path + ": " + error.message());
  result.description = DescribeLayout(layout, channels);
  return result;
}

}  // namespace zm::cli
