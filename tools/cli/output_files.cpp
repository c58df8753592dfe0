#include "cli/output_files.h"

#include "cli/exit_codes.h"
#include "lib/base/output_file.h"
#include "lib/design/design_io.h"

namespace zm::cli {

namespace {

// Extensions of sound formats zm does not write: a file of that name holding
// another format would mislead every program that opens it.
bool NamesUnwritableSound(const std::string& output) {
  for (const char* extension : {".mp3", ".m4a", ".aac", ".mp4", ".opus", ".wma", ".caf", ".au"}) {
    if (HasExtension(output, extension)) return true;
  }
  return false;
}

}  // namespace

std::optional<ExportFormat> OutputFormat(const std::string& formatName, const std::string& output) {
  if (NamesUnwritableSound(output)) {
    throw UsageError("cannot write " + output + ": zm does not write that format; choose " +
                     ExportFormatChoices());
  }
  const std::string named = ContainerOfPath(output);
  if (formatName.empty()) {
    if (named.empty()) return std::nullopt;
    return ExportFormat{named, "", std::nullopt};
  }
  ExportFormat format;
  try {
    format = ParseExportFormat(formatName);
  } catch (const AudioFileError& e) {
    throw UsageError(std::string("--format ") + e.what());
  }
  // RF64 is WAV grown past 4 GiB, and such files keep the .wav name.
  const bool wavNamed = named == "wav" && format.container == "rf64";
  if (!named.empty() && named != format.container && !wavNamed) {
    throw UsageError("--format " + formatName + " contradicts the extension of " + output +
                     ", which names " + named + "; change one of them");
  }
  return format;
}

void RequireWritable(const std::string& output) {
  if (const std::string reason = WhyNotWritable(EnginePath(output)); !reason.empty()) {
    throw ToolError("cannot write " + output + ": " + reason);
  }
}

void RequireReadable(const std::string& input) {
  if (const std::string reason = WhyNotReadable(EnginePath(input)); !reason.empty()) {
    throw ToolError("cannot read " + input + ": " + reason);
  }
}

}  // namespace zm::cli
