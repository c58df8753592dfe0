// zm: renders room designs into impulse responses, converts designs between
// the engine's files and JSON, summarises them, measures impulse responses
// and draws both.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <regex>
#include <string>

#include "acoustics.h"
#include "audio_export.h"
#include "audio_file.h"
#include "auralise.h"
#include "check_report.h"
#include "design_io.h"
#include "design_json.h"
#include "design_summary.h"
#include "engine_messages.h"
#include "materials.h"
#include "nearest_name.h"
#include "output_file.h"
#include "room_geometry.h"
#include "svg_plot.h"

namespace zm::cli {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// A stopped render exits as a shell reports a process the signal ended:
// 128 + the signal's number (130 for Ctrl-C, 143 for SIGTERM).
constexpr int kExitSignalBase = 128;

// The signal that asked to stop, 0 while none did.
volatile std::sig_atomic_t gStopRequested = 0;

extern "C" void OnStopSignal(int signal) {
  gStopRequested = signal;
}

// The first Ctrl-C asks the engine to stop at its next progress call; the
// handler is reset, so a second one ends the process at once.
void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// A path the engine must take as a plain file name: names starting with
// "mem:" would otherwise open a throw-away memory resource.
std::string EnginePath(const std::string& path) {
  return path.rfind("mem:", 0) == 0 ? "./" + path : path;
}

std::string Duration(double seconds) {
  char buffer[32];
  if (!std::isfinite(seconds) || seconds < 0) return "--:--";
  const long total = std::lround(seconds);
  std::snprintf(buffer, sizeof buffer, "%ld:%02ld", total / 60, total % 60);
  return buffer;
}

std::string Thousands(long long value) {
  std::string digits = std::to_string(value);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0 && digits[i - 1] != '-') out += ',';
    out += digits[i];
  }
  return out;
}

struct Progress {
  uint8_t* abortFlag = nullptr;
  bool quiet = false;
  bool terminal = false;
  bool stopSeen = false;
  bool abortSet = false;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDraw{};
  int lastDecile = -1;
  int32_t total = 0;
  bool drawn = false;

  void Show(int32_t done) {
    if (quiet) return;
    const auto now = std::chrono::steady_clock::now();
    // The rate counts from the first call, after the engine's set-up.
    if (done == 0) start = now;
    const double elapsed = std::chrono::duration<double>(now - start).count();
    const double rate = elapsed > 0 ? done / elapsed : 0;
    const double left = rate > 0 ? (total - done) / rate : NAN;
    const double fraction = total > 0 ? double(done) / total : 1.0;
    if (terminal) {
      if (drawn && now - lastDraw < std::chrono::milliseconds(100) && done < total) return;
      lastDraw = now;
      const int width = 30;
      const int filled = int(fraction * width);
      std::string bar(size_t(filled), '#');
      bar += std::string(size_t(width - filled), '.');
      std::fprintf(stderr, "\r  [%s] %3d%%  %s / %s rays  %s rays/s  %s left   ", bar.c_str(),
                   int(fraction * 100), Thousands(done).c_str(), Thousands(total).c_str(),
                   Thousands(std::llround(rate)).c_str(), Duration(left).c_str());
      drawn = true;
    } else {
      const int decile = int(fraction * 10);
      if (decile == lastDecile) return;
      lastDecile = decile;
      std::fprintf(stderr, "progress: %s / %s rays (%d%%), %s rays/s, %s left\n",
                   Thousands(done).c_str(), Thousands(total).c_str(), int(fraction * 100),
                   Thousands(std::llround(rate)).c_str(), Duration(left).c_str());
    }
    std::fflush(stderr);
  }

  void Finish(bool completed) {
    if (quiet) return;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (terminal && drawn) std::fprintf(stderr, "\r%100s\r", "");
    if (completed) {
      std::fprintf(stderr, "traced %s rays in %.1f s\n", Thousands(total).c_str(), elapsed);
    }
  }
};

extern "C" void ZM_CALLBACK OnProgress(int32_t done, int32_t total, void* userData) {
  auto* progress = static_cast<Progress*>(userData);
  progress->total = total;
  if (gStopRequested) {
    *progress->abortFlag = 1;
    progress->abortSet = true;
    return;
  }
  progress->Show(done);
}

const JsonOrigins* OriginsOf(const Document& doc) {
  return doc.origins ? &*doc.origins : nullptr;
}

std::string Basename(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

// The channel and level of the largest sample.
void FindPeak(const AudioData& audio, double& peak, int& peakChannel) {
  peak = 0;
  peakChannel = 0;
  for (size_t c = 0; c < audio.channels.size(); ++c) {
    for (double v : audio.channels[c]) {
      if (std::fabs(v) > peak) {
        peak = std::fabs(v);
        peakChannel = int(c);
      }
    }
  }
}

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
  const size_t lead = design.LeadIn ? kLeadInFrames : 0;
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, "The reference arrival, %s, lies on frame %zu (%.1f ms)",
                which, lead, lead * 1000.0 / rate);
  return buffer;
}

// "; the first sound ..." when any channel holds one, else empty. The
// threshold is 20 dB below the loudest sample of the whole file: a channel
// with no receiver holds only dither, whose own loudest sample says nothing.
std::string FirstSound(const AudioData& audio, double rate) {
  double peak = 0;
  int peakChannel = 0;
  FindPeak(audio, peak, peakChannel);
  const double threshold = peak * 0.1;
  size_t onset = audio.Frames();
  for (const auto& channel : audio.channels) {
    for (size_t i = 0; i < std::min(onset, channel.size()); ++i) {
      if (peak > 0 && std::fabs(channel[i]) >= threshold) {
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

// True when the file holds nothing but dither: no sample above a few steps
// of its integer encoding (any sample at all for float files).
bool IsSilent(const AudioData& audio) {
  double peak = 0;
  int peakChannel = 0;
  FindPeak(audio, peak, peakChannel);
  const bool integer = audio.encoding.rfind("PCM", 0) == 0 && audio.bitsPerSample > 0;
  return peak <= (integer ? 4.0 * std::ldexp(1.0, 1 - audio.bitsPerSample) : 0.0);
}

void PrintRenderSummary(const std::string& output, const TDesignRecord& design,
                        const AudioData& audio) {
  double peak = 0;
  int peakChannel = 0;
  FindPeak(audio, peak, peakChannel);
  const double rate = audio.sampleRate;
  const double length = audio.Frames() / rate;
  char level[64] = "Silent";
  if (!IsSilent(audio)) {
    std::snprintf(level, sizeof level, "Peak %.2f dBFS on channel %d", 20 * std::log10(peak),
                  peakChannel);
  }
  std::printf("Wrote %s: %zu channels, %s frames (%.3f s) at %d Hz, %s. %s. %s%s.\n",
              output.c_str(), audio.channels.size(), Thousands(long(audio.Frames())).c_str(),
              length, audio.sampleRate, audio.encoding.c_str(), level,
              ReferenceArrival(design, rate).c_str(), FirstSound(audio, rate).c_str());
  if (IsSilent(audio)) {
    std::fprintf(stderr, "zm: warning: the output is silent: no ray reached a receiver\n");
  }
}

std::vector<ChannelParameters> AnalyseAudio(const AudioData& audio) {
  std::vector<ChannelParameters> channels;
  for (size_t c = 0; c < audio.channels.size(); ++c) {
    channels.push_back(AnalyseChannel(audio.channels[c], int(c), audio.sampleRate));
  }
  return channels;
}

struct TraceOutcome {
  TErrorRecord error{};
  bool interrupted = false;
};

// Runs the engine with the stop handlers in place; the first Ctrl-C sets
// the abort flag through the progress callback.
TraceOutcome TraceInterruptibly(const TDesignRecord& design, const std::string& enginePath,
                                int group, Progress& progress) {
  InstallStopHandlers();
  TraceOutcome outcome;
  ZM_process(&design, enginePath.c_str(), &outcome.error, progress.abortFlag, OnProgress, &progress,
             group);
  outcome.interrupted = gStopRequested != 0;
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
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
  return kExitSignalBase + int(gStopRequested);
}

int EndCompletedRender(const std::string& output, const std::string& enginePath,
                       const TDesignRecord& design, Progress& progress, bool report) {
  progress.Finish(true);
  std::error_code ignored;
  if (!std::filesystem::exists(enginePath, ignored)) {
    std::fprintf(stderr, "zm: the engine reported success but wrote no file %s\n", output.c_str());
    return kExitFailure;
  }
  const AudioData audio = ReadAudioFile(enginePath);
  PrintRenderSummary(output, design, audio);
  if (report) std::printf("\n%s", FormatReport(AnalyseAudio(audio)).c_str());
  return 0;
}

// Where the engine writes when the tool converts its file afterwards: a
// hidden file beside the output, so that a long render fills the output's
// disk rather than a small temporary one.
std::string EngineFileBeside(const std::string& output) {
  const std::filesystem::path path(output);
  return (path.parent_path() /
          ("." + path.filename().string() + ".zm-" + std::to_string(getpid()) + ".wav"))
      .string();
}

// Converts the engine's file to the asked format, then reports on the
// result as a render does.
int EndExportedRender(const std::string& output, const std::string& enginePath,
                      const TDesignRecord& design, const ExportFormat& format, Progress& progress,
                      bool report) {
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
  PrintRenderSummary(output, design, audio);
  std::printf("Format: %s%s%s.\n", written.description.c_str(), written.note.empty() ? "" : "; ",
              written.note.c_str());
  if (report) std::printf("\n%s", FormatReport(AnalyseAudio(audio)).c_str());
  return 0;
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

int Render(const std::string& designPath, const std::string& output, int group, bool quiet,
           bool report, const std::string& formatName, bool strict, bool physicalDirect) {
  Document doc = LoadDesignDocument(EnginePath(designPath));
  const TDesignRecord* design = doc.design.get();
  if (group < 0 || group >= ZM_GROUP_SLOTS) {
    throw ToolError("--group " + std::to_string(group) + " is outside 0 to " +
                    std::to_string(ZM_GROUP_SLOTS - 1));
  }
  // Refused before the tracing, not after it.
  if (const std::string reason = WhyNotWritable(EnginePath(output)); !reason.empty()) {
    throw ToolError("cannot write " + output + ": " + reason);
  }
  if (const int code = CheckBeforeRender(doc, group, strict); code >= 0) return code;
  if (physicalDirect) {
    const auto choice = ChooseDirectLevel(PlanOf(*design), group);
    if (!choice)
      throw ToolError("--physical-direct: no receiver is reached directly in group " +
                      std::to_string(group));
    doc.design->DirectSoundLevel = choice->level;
    if (!quiet) {
      std::fprintf(stderr, "direct sound at level %d (physical at %.1f m from emitter [%d])\n",
                   choice->level, choice->reach.distance,
                   PlanOf(*design).emitters[size_t(choice->emitter)].slot);
    }
  }
  // Without --format the engine's own file is the output, unchanged.
  std::optional<ExportFormat> format;
  if (!formatName.empty()) format = ParseExportFormat(formatName);
  const std::string enginePath = format ? EngineFileBeside(output) : EnginePath(output);
  std::error_code ignored;
  const bool existed = std::filesystem::exists(enginePath, ignored);
  uint8_t abortFlag = 0;
  Progress progress;
  progress.abortFlag = &abortFlag;
  progress.quiet = quiet;
  progress.terminal = isatty(STDERR_FILENO) && isatty(STDOUT_FILENO);
  progress.total = int32_t(std::min<int64_t>(RaysInGroup(*design, group), INT32_MAX));
  if (!quiet) {
    std::fprintf(stderr, "rendering %s, group %d: %s rays\n", Basename(designPath).c_str(), group,
                 Thousands(progress.total).c_str());
  }
  const TraceOutcome outcome = TraceInterruptibly(*design, enginePath, group, progress);
  if (outcome.error.Failed || outcome.interrupted) {
    const std::string failure =
        outcome.error.Failed
            ? DescribeRenderFailure(ErrorText(outcome.error), doc, output, enginePath)
            : "";
    return EndUnfinishedRender(failure, enginePath, existed, progress);
  }
  const int code = format
                       ? EndExportedRender(output, enginePath, *design, *format, progress, report)
                       : EndCompletedRender(output, enginePath, *design, progress, report);
  if (code == 0 && strict && IsSilent(ReadAudioFile(EnginePath(output)))) {
    return EndSilentRender(EnginePath(output));
  }
  return code;
}

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
  std::printf(
      "%s: %s", path.c_str(),
      checks.problems.empty() ? "no problems found\n" : ("\n" + FormatChecks(checks)).c_str());
  return checks.ExitCode(strict);
}

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

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw ToolError(path + ": cannot write");
}

int PlotPlan(const std::string& designPath, const std::string& output) {
  std::unique_ptr<TDesignRecord> design = LoadDesign(EnginePath(designPath));
  std::string caption = NameText(design->Title);
  if (caption.empty()) caption = Basename(designPath);
  WriteText(output, PlanSvg(*design, caption));
  return 0;
}

// "1k", "1 kHz", "500", "500Hz": one of the analysis's octave centres.
double ParseBand(const std::string& text) {
  std::string digits;
  double scale = 1;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
      digits += c;
    } else if (c == 'k' || c == 'K') {
      scale = 1000;
    }
  }
  const double centre = digits.empty() ? 0 : std::atof(digits.c_str()) * scale;
  std::string names;
  for (double c : kOctaveCentres) {
    if (centre == c) return c;
    names += (names.empty() ? "" : ", ") + BandName(c);
  }
  throw ToolError("--band " + text + ": not an octave band (" + names + ")");
}

// The channels asked for, or every channel that holds more than dither.
std::vector<int> ChannelsToDraw(const AudioData& audio, const std::vector<int>& asked) {
  for (int channel : asked) {
    if (channel < 0 || size_t(channel) >= audio.channels.size()) {
      throw ToolError("--channel " + std::to_string(channel) + ": the file has " +
                      std::to_string(audio.channels.size()) + " channels");
    }
  }
  if (!asked.empty()) return asked;
  double peak = 0;
  int loudest = 0;
  FindPeak(audio, peak, loudest);
  std::vector<int> channels;
  for (size_t c = 0; c < audio.channels.size(); ++c) {
    double channelPeak = 0;
    for (double v : audio.channels[c]) channelPeak = std::max(channelPeak, std::fabs(v));
    if (channelPeak > peak * 1e-3) channels.push_back(int(c));
  }
  return channels.empty() ? std::vector<int>{0} : channels;
}

int PlotIr(const std::string& path, const std::string& output, const std::vector<int>& channels,
           const std::string& band) {
  const AudioData audio = ReadAudioFile(path);
  if (audio.Frames() == 0) throw ToolError(path + ": no samples");
  const double centre = band.empty() ? 0 : ParseBand(band);
  const std::string caption = (audio.title.empty() ? Basename(path) : audio.title) + " (" +
                              std::to_string(audio.sampleRate) + " Hz)";
  WriteText(output, ImpulseResponseSvg(audio, ChannelsToDraw(audio, channels), centre, caption));
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

// The catalogue's entries that match every word of `query`, with their
// sources; exits 1 when none does, as grep does.
int Materials(const std::vector<std::string>& words) {
  std::string query;
  for (const std::string& w : words) query += w + " ";
  const MaterialCatalogue catalogue = MaterialCatalogue::BuiltIn();
  const std::vector<const CatalogueEntry*> found = catalogue.Search(query);
  if (found.empty()) {
    std::fprintf(stderr, "zm: no catalogue material matches all of: %s\n", query.c_str());
    return kExitFailure;
  }
  std::printf("%-30s", "id");
  for (double band : catalogue.Bands()) {
    std::printf("%7s", band < 1000 ? std::to_string(int(band)).c_str()
                                   : (std::to_string(int(band / 1000)) + "k").c_str());
  }
  std::printf("  name [source]\n");
  std::vector<std::string> cited;
  for (const CatalogueEntry* e : found) {
    std::printf("%-30s", e->id.c_str());
    for (double alpha : e->absorption) {
      // Two decimals as most tables print them, three where a table does.
      std::printf(std::fabs(alpha * 100 - std::round(alpha * 100)) < 1e-9 ? "%7.2f" : "%7.3f",
                  alpha);
    }
    std::printf("  %s [%s]\n", e->name.c_str(), e->source.c_str());
    if (std::find(cited.begin(), cited.end(), e->source) == cited.end()) cited.push_back(e->source);
  }
  std::printf("\n%zu of %zu materials: energy absorption coefficients per octave band (Hz), from\n",
              found.size(), catalogue.Entries().size());
  for (const std::string& key : cited) {
    const CatalogueSource* s = catalogue.Source(key);
    std::printf("  [%s] %s\n      %s\n", key.c_str(), s->title.c_str(), s->url.c_str());
  }
  std::printf("In a JSON design: {\"catalogue\": \"%s\", \"scattering\": 0.1}\n",
              found[0]->id.c_str());
  return 0;
}

// The values of every command's arguments and options.
struct Arguments {
  std::string design, output, input, format;
  std::vector<std::string> words;
  std::string dry;
  AuraliseOptions auralise;
  int group = 0;
  std::vector<int> channels;
  std::string band;
  bool quiet = false, report = false, json = false;
  bool strict = false;
  bool physicalDirect = false;
};

struct Commands {
  CLI::App *render, *convert, *info, *analyze, *plan, *ir, *materials, *auralise;
  CLI::App* check;
};

Commands DefineCommands(CLI::App& app, Arguments& a) {
  Commands c{};
  c.render = app.add_subcommand("render", "Render a design into an impulse-response WAV");
  c.render->add_option("DESIGN", a.design, "design file or JSON design")->required();
  c.render->add_option("OUTPUT", a.output, "WAV file to write")->required();
  c.render->add_option("--group", a.group,
                       "emitter group to render (0 to " + std::to_string(ZM_GROUP_SLOTS - 1) + ")");
  c.render->add_flag("--quiet", a.quiet, "no progress display");
  c.render->add_flag("--physical-direct", a.physicalDirect,
                     "direct sound at the level that makes its ratio to the reflections "
                     "physical (see zm info)");
  c.render->add_flag("--report", a.report, "print the acoustic report of the result");
  c.render->add_flag(
      "--strict", a.strict,
      "treat warnings (a silent result, rays lost through gaps ...) as errors: exit 3");
  c.render->add_option("--format", a.format,
                       "write through libsndfile as " + ExportFormatChoices() +
                           "; without it the engine's own WAV is written unchanged");

  c.convert = app.add_subcommand(
      "convert", "Convert between design/material files and JSON (OUT ending in .json gives JSON)");
  c.convert->add_option("IN", a.input, "design file, material file or JSON")->required();
  c.convert->add_option("OUT", a.output, "file to write")->required();
  c.convert->add_option(
      "--format", a.format,
      "for sound files: " + ExportFormatChoices() + " (default: from OUT's extension)");

  c.info = app.add_subcommand(
      "info", "Summarise a design, estimate its reverberation and check it (exit codes as check)");
  c.info->add_option("DESIGN", a.design, "design file or JSON design")->required();
  c.info->add_flag("--strict", a.strict, "exit 3 on warnings");

  c.check = app.add_subcommand(
      "check", "Check a design: exit 0 clean, 1 refused by the engine, 3 warnings with --strict");
  c.check->add_option("DESIGN", a.design, "design file or JSON design")->required();
  c.check->add_flag("--strict", a.strict, "exit 3 on warnings");

  c.analyze = app.add_subcommand("analyze", "Room parameters of an impulse response");
  c.analyze->add_option("IR", a.input, "impulse response (WAV or any format libsndfile reads)")
      ->required();
  c.analyze->add_flag("--json", a.json, "print JSON");

  CLI::App* plot = app.add_subcommand("plot", "Draw SVG pictures");
  plot->require_subcommand(1);
  c.plan = plot->add_subcommand("plan", "The plan of a design");
  c.plan->add_option("DESIGN", a.design, "design file or JSON design")->required();
  c.plan->add_option("SVG", a.output, "SVG file to write")->required();
  c.ir = plot->add_subcommand(
      "ir", "An impulse response: waveform, echogram, decay curve with T20 and T30 fits");
  c.ir->add_option("IR", a.input, "impulse response")->required();
  c.ir->add_option("SVG", a.output, "SVG file to write")->required();
  c.ir->add_option("--channel", a.channels,
                   "channels to draw, overlaid: --channel 0,2 (default: all that hold sound)")
      ->delimiter(',');
  c.ir->add_option("--band", a.band, "draw one octave band: 125, 250, 500, 1k, 2k, 4k or 8k");

  c.auralise = app.add_subcommand(
      "auralise", "Convolve a dry recording with an impulse response, to listen to the room");
  c.auralise->add_option("DRY", a.dry, "mono or stereo recording")->required();
  c.auralise->add_option("IR", a.input, "impulse response (any number of channels)")->required();
  c.auralise->add_option("OUT", a.output, "sound file to write")->required();
  c.auralise->add_option("--format", a.format,
                         ExportFormatChoices() + " (default: from OUT's extension, float)");
  c.auralise->add_option("--peak", a.auralise.peakDb,
                         "normalise the output's peak to this many dBFS (default -1)");
  c.auralise->add_option("--gain", a.auralise.gainDb,
                         "apply this gain in dB instead of normalising; refused if it would clip");

  c.materials = app.add_subcommand(
      "materials", "List the material catalogue, or the entries matching every WORD");
  c.materials->add_option("WORD", a.words, "words to look for in ids, names and categories");
  return c;
}

int RunCommand(const Commands& c, const Arguments& a) {
  if (c.render->parsed()) {
    return Render(a.design, a.output, a.group, a.quiet, a.report, a.format, a.strict,
                  a.physicalDirect);
  }
  if (c.convert->parsed()) return Convert(a.input, a.output, a.format);
  if (c.info->parsed()) return Info(a.design, a.strict);
  if (c.check->parsed()) return Check(a.design, a.strict);
  if (c.analyze->parsed()) return Analyze(a.input, a.json);
  if (c.plan->parsed()) return PlotPlan(a.design, a.output);
  if (c.ir->parsed()) return PlotIr(a.input, a.output, a.channels, a.band);
  if (c.materials->parsed()) return Materials(a.words);
  if (c.auralise->parsed()) {
    return AuraliseCommand(a.dry, a.input, a.output, a.format, a.auralise);
  }
  return kExitUsage;
}

// The first word that names no command of `app` (or of the command it
// names, for commands with commands of their own), with the nearest
// command's name: CLI11 alone would only say that an argument was not
// expected. Empty when every command word is known.
std::string UnknownCommand(CLI::App& app, int argc, char** argv) {
  CLI::App* level = &app;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.empty() || word[0] == '-') continue;
    const std::vector<CLI::App*> commands = level->get_subcommands([](CLI::App*) { return true; });
    if (commands.empty()) return "";
    std::vector<std::string> names;
    CLI::App* named = nullptr;
    for (CLI::App* command : commands) {
      names.push_back(command->get_name());
      if (command->get_name() == word) named = command;
    }
    if (named == nullptr) {
      const std::string where = level == &app ? "" : " " + level->get_name();
      return "unknown command \"" + word + "\"" + DidYouMean(word, names) + "; \"zm" + where +
             " --help\" lists them";
    }
    level = named;
  }
  return "";
}

int Main(int argc, char** argv) {
  CLI::App app{"zm: room-acoustics impulse responses from plan designs"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "zm tool, engine version " + std::to_string(ZM_getVersion()));
  Arguments arguments;
  const Commands commands = DefineCommands(app, arguments);
  if (const std::string unknown = UnknownCommand(app, argc, argv); !unknown.empty()) {
    std::fprintf(stderr, "zm: %s\n", unknown.c_str());
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }
  try {
    return RunCommand(commands, arguments);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zm: %s\n", e.what());
    return kExitFailure;
  }
}

}  // namespace
}  // namespace zm::cli

int main(int argc, char** argv) {
  return zm::cli::Main(argc, argv);
}
