// zm render: the engine's run with a progress display, Ctrl-C and the
// checks around it, and the output's summary after it.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>

#include "cli/commands.h"
#include "cli/console_text.h"
#include "cli/exit_codes.h"
#include "cli/output_files.h"
#include "cli/progress.h"
#include "cli/stop_signals.h"
#include "lib/audio/acoustics.h"
#include "lib/audio/audio_export.h"
#include "lib/audio/audio_file.h"
#include "lib/base/output_file.h"
#include "lib/base/text.h"
#include "lib/checks/check_report.h"
#include "lib/checks/design_summary.h"
#include "lib/checks/engine_messages.h"
#include "lib/design/design_io.h"
#include "lib/design/room_geometry.h"
#include "zm/zmtool.h"

namespace zm::cli {

namespace {

// Where the output's time 0 lies: the reference arrival the engine trims
// to, or nowhere when nothing was trimmed.
std::string ReferenceArrival(const TDesignRecord& design, double rate) {
  const bool trimmed = design.TrimToDirect != 0 || design.DirectSoundLevel == 0;
  if (!trimmed) {
    return "Nothing was trimmed, so the output keeps the travel time from emitter to receiver";
  }
  const char* which =
      design.TrimToDirect
          ? "the first direct arrival (or, without direct sound, the first reflection)"
          : "the first reflection";
  if (design.TrimToDirect && design.DirectSoundLevel != 0) which = "the first direct arrival";
  const size_t lead = design.LeadIn ? size_t(ZM_LEAD_IN_FRAMES) : 0;
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, "The reference arrival, %s, lies on frame %zu (%.1f ms)",
                which, lead, lead * 1000.0 / rate);
  return buffer;
}

// "; the first sound ..." when any channel holds one, else empty. The
// threshold is 20 dB below the loudest sample of the whole file: a channel
// with no receiver holds only dither, whose own loudest sample says nothing.
std::string FirstSound(const AudioData& audio, const Peak& peak, double rate) {
  const double threshold = peak.level * 0.1;
  size_t onset = audio.Frames();
  for (const auto& channel : audio.channels) {
    for (size_t i = 0; i < std::min(onset, channel.size()); ++i) {
      if (peak.level > 0 && std::fabs(channel[i]) >= threshold) {
        onset = i;
        break;
      }
    }
  }
  char text[128] = "";
  if (onset < audio.Frames()) {
    std::snprintf(text, sizeof text, "; the first sound in the file starts at frame %zu (%.1f ms)",
                  onset, onset * 1000.0 / rate);
  }
  return text;
}

// Prints what was written; returns whether it is silent.
bool PrintRenderSummary(const std::string& output, const TDesignRecord& design,
                        const AudioData& audio) {
  const Peak peak = FindPeak(audio);
  const bool silent = IsSilent(audio);
  const double rate = audio.sampleRate;
  const double length = audio.Frames() / rate;
  char level[64] = "Silent";
  if (!silent) {
    std::snprintf(level, sizeof level, "Peak %.2f dBFS on channel %d", 20 * std::log10(peak.level),
                  peak.channel);
  }
  std::printf("Wrote %s: %zu channels, %s frames (%.3f s) at %d Hz, %s. %s. %s%s.\n",
              output.c_str(), audio.channels.size(), Thousands(long(audio.Frames())).c_str(),
              length, audio.sampleRate, audio.encoding.c_str(), level,
              ReferenceArrival(design, rate).c_str(), FirstSound(audio, peak, rate).c_str());
  if (silent) {
    std::fprintf(stderr, "zm: warning: the output is silent: no ray reached a receiver\n");
  }
  return silent;
}

struct TraceOutcome {
  TErrorRecord error{};
  bool interrupted = false;
};

// Runs the engine with the stop handlers in place; the first Ctrl-C sets
// the abort flag through the progress callback.
// Both modes take the same arguments and keep the same promises about
// progress, the abort byte, refusals and files.
TraceOutcome TraceInterruptibly(const TDesignRecord& design, const std::string& enginePath,
                                int group, bool fast, Progress& progress) {
  InstallStopHandlers();
  TraceOutcome outcome;
  if (fast) {
    zmtool_process_fast(&design, enginePath.c_str(), &outcome.error, progress.abortFlag, OnProgress,
                        &progress, group);
  } else {
    ZM_process(&design, enginePath.c_str(), &outcome.error, progress.abortFlag, OnProgress,
               &progress, group);
  }
  outcome.interrupted = StopSignal() != 0;
  RemoveStopHandlers();
  return outcome;
}

// A failed or interrupted render leaves no file of ours behind.
// `failure`: the engine's message in the user's words, empty when the
// render was interrupted.
int EndUnfinishedRender(const std::string& failure, const std::string& enginePath, bool existed,
                        Progress& progress) {
  progress.Finish(false);
  std::error_code ignored;
  if (!failure.empty()) {
    // A partly written file of ours is of no use to anyone.
    if (!existed) std::filesystem::remove(enginePath, ignored);
    std::fprintf(stderr, "zm: render failed: %s\n", failure.c_str());
    return kExitFailure;
  }
  // Stopped after its last progress call, the engine finished and wrote the
  // file; an interrupted render must leave none.
  if (!progress.abortSet) std::filesystem::remove(enginePath, ignored);
  std::fprintf(stderr, "zm: interrupted, nothing written\n");
  return kExitSignalBase + StopSignal();
}

// A completed render: its exit code so far, and whether its file holds
// only dither.
struct RenderEnd {
  int code = 0;
  bool silent = false;
};

RenderEnd EndCompletedRender(const std::string& output, const std::string& enginePath,
                             const TDesignRecord& design, Progress& progress, bool report) {
  progress.Finish(true);
  std::error_code ignored;
  if (!std::filesystem::exists(enginePath, ignored)) {
    std::fprintf(stderr, "zm: the engine reported success but wrote no file %s\n", output.c_str());
    return {kExitFailure};
  }
  const AudioData audio = ReadAudioFile(enginePath);
  const bool silent = PrintRenderSummary(output, design, audio);
  if (report) std::printf("\n%s", FormatReport(AnalyseAudio(audio)).c_str());
  return {0, silent};
}

// Where the engine writes when the tool converts its file afterwards: a
// hidden file beside the output, so that a long render fills the output's
// disk rather than a small temporary one.
std::string EngineFileBeside(const std::string& output) {
  const std::filesystem::path path(output);
  std::string hidden = ".";
  hidden += path.filename().string();
  hidden += ".zm-";
  hidden += std::to_string(getpid());
  hidden += ".wav";
  return (path.parent_path() / hidden).string();
}

// Converts the engine's file to the asked format, then reports on the
// result as a render does.
RenderEnd EndExportedRender(const std::string& output, const std::string& enginePath,
                            const TDesignRecord& design, const ExportFormat& format,
                            Progress& progress, bool report) {
  progress.Finish(true);
  AudioData rendered;
  try {
    rendered = ReadAudioFile(enginePath);
  } catch (...) {
    std::filesystem::remove(enginePath);
    throw;
  }
  std::filesystem::remove(enginePath);
  // The engine names an untitled output after its path, which here is the
  // hidden file's: the tag names the real one.
  AudioTags tags{AsUtf8(rendered.title), AsUtf8(NameText(design.Comment))};
  if (NameText(design.Title).empty()) tags.title = AsUtf8(output);
  const ExportResult written = WriteAudioAs(output, rendered, format, tags);
  const AudioData audio = ReadAudioFile(output);
  const bool silent = PrintRenderSummary(output, design, audio);
  std::printf("Format: %s%s%s.\n", written.description.c_str(), written.note.empty() ? "" : "; ",
              written.note.c_str());
  if (report) std::printf("\n%s", FormatReport(AnalyseAudio(audio)).c_str());
  return {0, silent};
}

// The engine's message about a failed render in the user's words: JSON
// paths for record slots, and for its output file the system's reason
// rather than the stream's internal mode numbers.
std::string DescribeRenderFailure(const std::string& message, const Document& doc,
                                  const std::string& output, const std::string& enginePath) {
  if (message.find("\"" + enginePath + "\"") == std::string::npos) {
    return DescribeForUser(message, *doc.design, OriginsOf(doc));
  }
  const std::string reason = WhyNotWritable(enginePath);
  return "cannot write " + output + ": " +
         (reason.empty() ? std::regex_replace(message, std::regex(", mode -?[0-9]+"), "") : reason);
}

// The checks before a render: refusals end it, warnings are told and, under
// --strict, end it too. Returns the exit code, or -1 to go on.
int CheckBeforeRender(const Document& doc, int group, bool strict) {
  const CheckOutcome checks = RunChecks(*doc.design, OriginsOf(doc), group);
  for (const DesignProblem& p : checks.problems) {
    std::fprintf(stderr, "zm: %s: %s\n", p.refusal ? "refused" : "warning", p.message.c_str());
  }
  if (checks.Refused()) return kExitRefused;
  if (strict && checks.Warned()) {
    std::fprintf(stderr, "zm: not rendering: --strict makes the warnings above errors\n");
    return kExitWarnings;
  }
  return -1;
}

// A render that wrote a silent file under --strict: the file goes, and the
// exit tells.
int EndSilentRender(const std::string& output) {
  std::error_code ignored;
  std::filesystem::remove(output, ignored);
  std::fprintf(stderr, "zm: removed %s: --strict makes a silent output an error\n", output.c_str());
  return kExitWarnings;
}

// --physical-direct: the direct sound's level for a physical ratio to the
// reflections.
void UsePhysicalDirectLevel(TDesignRecord& design, int group, bool quiet) {
  const Plan plan = PlanOf(design);
  const auto choice = ChooseDirectLevel(plan, group);
  if (!choice)
    throw ToolError("--physical-direct: no receiver is reached directly in group " +
                    std::to_string(group));
  design.DirectSoundLevel = choice->level;
  if (!quiet) {
    std::fprintf(stderr, "direct sound at level %d (physical at %.1f m from emitter [%d])\n",
                 choice->level, choice->reach.distance,
                 plan.emitters[size_t(choice->emitter)].slot);
  }
}

Progress ProgressFor(const TDesignRecord& design, const RenderOptions& o, uint8_t& abortFlag) {
  Progress progress;
  progress.abortFlag = &abortFlag;
  progress.quiet = o.quiet;
  progress.terminal = isatty(STDERR_FILENO) && isatty(STDOUT_FILENO);
  progress.total = int32_t(std::min<int64_t>(RaysInGroup(design, o.group), INT32_MAX));
  if (!o.quiet) {
    std::fprintf(stderr, "rendering %s, group %d: %s rays%s\n", Basename(o.design).c_str(), o.group,
                 Thousands(progress.total).c_str(), o.fast ? " (fast mode)" : "");
  }
  return progress;
}

}  // namespace

int Render(const RenderOptions& o) {
  if (o.group < 0 || o.group >= ZM_GROUP_SLOTS) {
    throw UsageError("--group " + std::to_string(o.group) + " is outside 0 to " +
                     std::to_string(ZM_GROUP_SLOTS - 1));
  }
  // A .wav without --format is the engine's own file, unchanged; any other
  // sound extension is converted to.
  std::optional<ExportFormat> format = OutputFormat(o.format, o.output);
  if (o.format.empty() && format && format->container == "wav") format.reset();
  if (!format && o.ditherSeed) {
    throw UsageError(
        "--dither-seed applies to output the tool writes (--format, or an extension "
        "other than .wav); the engine's own WAV is dithered from the clock");
  }
  Document doc = LoadDesignDocument(EnginePath(o.design));
  TDesignRecord& design = *doc.design;
  // Refused before the tracing, not after it.
  RequireWritable(o.output);
  if (const int code = CheckBeforeRender(doc, o.group, o.strict); code >= 0) return code;
  if (o.physicalDirect) UsePhysicalDirectLevel(design, o.group, o.quiet);
  if (format) {
    // The engine's own integer files carry dither seeded from the clock; the
    // engine writes float here, and the tool dithers from a seed, so that
    // the same command gives the same bytes.
    if (format->encoding.empty()) format->encoding = EncodingOfBits(design.BitsPerSample);
    const int64_t designSeed = design.RandomSeed;  // packed: copied, not bound
    format->ditherSeed = uint64_t(o.ditherSeed.value_or(designSeed));
    design.BitsPerSample = 32;
  }
  const std::string enginePath = format ? EngineFileBeside(o.output) : EnginePath(o.output);
  std::error_code ignored;
  const bool existed = std::filesystem::exists(enginePath, ignored);
  uint8_t abortFlag = 0;
  Progress progress = ProgressFor(design, o, abortFlag);
  const TraceOutcome outcome = TraceInterruptibly(design, enginePath, o.group, o.fast, progress);
  if (outcome.error.Failed || outcome.interrupted) {
    const std::string failure =
        outcome.error.Failed
            ? DescribeRenderFailure(ErrorText(outcome.error), doc, o.output, enginePath)
            : "";
    return EndUnfinishedRender(failure, enginePath, existed, progress);
  }
  const RenderEnd end =
      format ? EndExportedRender(o.output, enginePath, design, *format, progress, o.report)
             : EndCompletedRender(o.output, enginePath, design, progress, o.report);
  if (end.code == 0 && o.strict && end.silent) return EndSilentRender(EnginePath(o.output));
  return end.code;
}

}  // namespace zm::cli
