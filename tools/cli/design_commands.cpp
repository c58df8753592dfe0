// zm convert, info and check: designs and materials between their forms,
// and what the tool makes of a design.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/console_text.h"
#include "lib/audio/audio_export.h"
#include "lib/audio/audio_file.h"
#include "lib/checks/check_report.h"
#include "lib/checks/design_summary.h"
#include "lib/design/design_io.h"

namespace zm::cli {

namespace {

// An impulse response (or any sound) in another format: the one --format
// names, else the one the output's extension names.
int ConvertAudio(const std::string& input, const std::string& output,
                 const std::string& formatName) {
  const std::string container = formatName.empty() ? ContainerOfPath(output) : formatName;
  if (container.empty()) {
    throw ToolError(output + ": give --format (" + ExportFormatChoices() +
                    ") or an extension that names one");
  }
  const ExportFormat format = ParseExportFormat(container);
  const AudioData audio = ReadAudioFile(input);
  const ExportResult written = WriteAudioAs(output, audio, format, ReadAudioTags(input));
  std::printf("Wrote %s: %zu channels, %s frames at %d Hz, %s%s%s.\n", output.c_str(),
              audio.channels.size(), Thousands(long(audio.Frames())).c_str(), audio.sampleRate,
              written.description.c_str(), written.note.empty() ? "" : "; ", written.note.c_str());
  return 0;
}

}  // namespace

int Convert(const std::string& input, const std::string& output, const std::string& formatName) {
  if (IsAudioFile(input)) return ConvertAudio(input, output, formatName);
  if (!formatName.empty())
    throw ToolError("--format applies to sound files; " + input + " is not one");
  const bool materialHint = HasExtension(output, ".zmm");
  Document doc = LoadDocument(EnginePath(input), materialHint);
  SaveDocument(EnginePath(output), doc);
  return 0;
}

// The summary of a design, a reverberation estimate and its checks; exits
// as `zm check` does.
int Info(const std::string& path, bool strict) {
  const Document doc = LoadDesignDocument(EnginePath(path));
  const CheckOutcome checks = RunChecks(*doc.design, OriginsOf(doc), kEveryGroup);
  std::printf("%s\nChecks\n%s", SummariseDesign(*doc.design).c_str(), FormatChecks(checks).c_str());
  return checks.ExitCode(strict);
}

// Only the checks: exit 0 clean, 1 refused, 3 warnings under --strict.
int Check(const std::string& path, bool strict) {
  const Document doc = LoadDesignDocument(EnginePath(path));
  const CheckOutcome checks = RunChecks(*doc.design, OriginsOf(doc), kEveryGroup);
  if (!checks.Refused()) std::printf("%s\n", DirectLevelSection(*doc.design).c_str() + 1);
  std::string found = "no problems found\n";
  if (!checks.problems.empty()) {
    found = "\n";
    found += FormatChecks(checks);
  }
  std::printf("%s: %s", path.c_str(), found.c_str());
  return checks.ExitCode(strict);
}

}  // namespace zm::cli
