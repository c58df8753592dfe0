// zm plot plan and zm plot ir: SVG pictures of a design and of an impulse
// response.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console_text.h"
#include "lib/audio/acoustics.h"
#include "lib/audio/audio_file.h"
#include "lib/design/design_io.h"
#include "lib/plots/svg_plot.h"

namespace zm::cli {

namespace {

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw ToolError(path + ": cannot write");
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
  const double peak = FindPeak(audio).level;
  std::vector<int> channels;
  for (size_t c = 0; c < audio.channels.size(); ++c) {
    double channelPeak = 0;
    for (double v : audio.channels[c]) channelPeak = std::max(channelPeak, std::fabs(v));
    if (channelPeak > peak * 1e-3) channels.push_back(int(c));
  }
  return channels.empty() ? std::vector<int>{0} : channels;
}

}  // namespace

int PlotPlan(const std::string& designPath, const std::string& output) {
  std::unique_ptr<TDesignRecord> design = LoadDesign(EnginePath(designPath));
  std::string caption = NameText(design->Title);
  if (caption.empty()) caption = Basename(designPath);
  WriteText(output, PlanSvg(*design, caption));
  return 0;
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

}  // namespace zm::cli
