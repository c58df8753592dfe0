// Writing impulse responses (and auralised sound) in the standard forms
// other programs read: WAV with a complete float header and its fact chunk,
// WAVE_FORMAT_EXTENSIBLE with a channel mask above two channels, RF64 and
// W64 for long files, FLAC, AIFF and Ogg Vorbis, all through libsndfile,
// with UTF-8 title tags.
//
// Nothing here prints, exits or keeps global state.
#pragma once

#include <string>

#include "lib/audio/audio_file.h"

namespace zm::cli {

// A container and a sample encoding. An empty encoding follows the
// source's (24-bit stays 24-bit, float stays float) as far as the container
// can hold it.
struct ExportFormat {
  std::string container;  // wav, w64, rf64, flac, aiff, ogg
  std::string encoding;   // pcm8, pcm16, pcm24, pcm32, float, double, or ""
};

// "flac", "wav:float", ...; throws AudioFileError naming the choices.
ExportFormat ParseExportFormat(const std::string& text);

// The container that a path's extension names ("x.flac" -> flac), or "".
std::string ContainerOfPath(const std::string& path);

// The choices ParseExportFormat takes, for help texts.
std::string ExportFormatChoices();

struct AudioTags {
  std::string title, comment;  // UTF-8
};

// What WriteAudioAs wrote, in words for a summary ("WAV (extensible, channel
// mask 0x737), float 32-bit"), and any change it had to make to the request.
struct ExportResult {
  std::string description;
  std::string note;
};

// Writes `audio` to `path`. A WAV too long for 32-bit RIFF sizes is written
// as RF64; an encoding the container cannot hold becomes the nearest it can.
ExportResult WriteAudioAs(const std::string& path, const AudioData& audio,
                          const ExportFormat& format, const AudioTags& tags);

// Whether libsndfile can read `path` as audio.
bool IsAudioFile(const std::string& path);

// The title and comment tags of an audio file, as UTF-8.
AudioTags ReadAudioTags(const std::string& path);

}  // namespace zm::cli
