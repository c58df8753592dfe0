// What every command checks of the files it is given before it starts
// work, so that each says in the same words what it could not do: the
// output's format (from --format or the extension, never contradicting
// each other) and whether its files can be read and written.
#pragma once

#include <optional>
#include <string>

#include "lib/audio/audio_export.h"

namespace zm::cli {

// The format of a sound file to write: --format's, else the one the
// extension names. nullopt when neither names one; a `--format` that is
// unknown or that the extension contradicts, and an extension of a sound
// format zm does not write (.mp3), are a UsageError.
std::optional<ExportFormat> OutputFormat(const std::string& formatName, const std::string& output);

// Throws "cannot write OUTPUT: why" unless `output` can be written.
void RequireWritable(const std::string& output);

// Throws "cannot read INPUT: why" unless `input` can be opened.
void RequireReadable(const std::string& input);

}  // namespace zm::cli
