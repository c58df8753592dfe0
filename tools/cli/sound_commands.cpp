// zm analyze and zm auralise: an impulse response measured, and heard.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console_text.h"
#include "lib/audio/acoustics.h"
#include "lib/audio/audio_export.h"
#include "lib/audio/audio_file.h"
#include "lib/audio/auralise.h"
#include "lib/design/design_io.h"

namespace zm::cli {

int Analyze(const std::string& path, bool json) {
  const AudioData audio = ReadAudioFile(path);
  const std::vector<ChannelParameters> channels = AnalyseAudio(audio);
  if (json) {
    Json out = ReportToJson(channels, audio.sampleRate);
    out["file"] = path;
    out["frames"] = audio.Frames();
    std::printf("%s\n", out.dump(2).c_str());
  } else {
    std::printf("%s: %zu channels, %s frames at %d Hz (%s)\n", path.c_str(), audio.channels.size(),
                Thousands(long(audio.Frames())).c_str(), audio.sampleRate, audio.encoding.c_str());
    std::printf("%s", FormatReport(channels).c_str());
  }
  return 0;
}

// The dry recording heard in the room of the impulse response.
int AuraliseCommand(const std::string& dryPath, const std::string& irPath,
                    const std::string& output, const std::string& formatName,
                    const AuraliseOptions& options) {
  const std::string container = formatName.empty() ? ContainerOfPath(output) : formatName;
  if (container.empty()) {
    throw ToolError(output + ": give --format (" + ExportFormatChoices() +
                    ") or an extension that names one");
  }
  const ExportFormat format = ParseExportFormat(container);
  const AudioData dry = ReadAudioFile(dryPath);
  const AudioData ir = ReadAudioFile(irPath);
  const AuraliseResult heard = Auralise(dry, ir, options);
  AudioTags tags = ReadAudioTags(dryPath);
  const AudioTags room = ReadAudioTags(irPath);
  tags.title = (tags.title.empty() ? Basename(dryPath) : tags.title) + " in " +
               (room.title.empty() ? Basename(irPath) : room.title);
  const ExportResult written = WriteAudioAs(output, heard.output, format, tags);
  const AudioData& out = heard.output;
  std::printf("Wrote %s: %zu channels, %s frames (%.3f s) at %d Hz, %s%s%s.\n", output.c_str(),
              out.channels.size(), Thousands(long(out.Frames())).c_str(),
              double(out.Frames()) / out.sampleRate, out.sampleRate, written.description.c_str(),
              written.note.empty() ? "" : "; ", written.note.c_str());
  std::printf("Channels: %s.\n", heard.channelMap.c_str());
  if (heard.resampledFrom != 0) {
    std::printf("The impulse response was resampled from %d Hz to %d Hz.\n", heard.resampledFrom,
                out.sampleRate);
  }
  std::printf("Gain %.2f dB (%s), peak %.2f dBFS.\n", heard.gainDb,
              options.gainDb ? "as given" : "normalised", heard.peakDb);
  return 0;
}

}  // namespace zm::cli
