// The workbench's entry points: what the page's worker calls in the
// WebAssembly module. Each one runs the zm tool's own code (design JSON,
// checks, analysis, plots) on files in the module's memory file system, so
// that the page and the command give the same answers. Results go back as
// JSON text; failures as {"error": <the tool's message>}.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "lib/audio/acoustics.h"
#include "lib/base/json_text.h"
#include "lib/checks/check_report.h"
#include "lib/design/design_io.h"
#include "lib/design/design_json.h"
#include "lib/design/materials.h"
#include "lib/fast_render.h"
#include "lib/plots/svg_plot.h"
#include "zm/zm.h"

namespace zm::cli {
namespace {

// Names the tool's messages carry, as if the user had typed them.
constexpr const char* kDesignFile = "design.json";
constexpr const char* kRenderFile = "render.wav";

struct Workbench {
  Document design;
  AudioData rendered;
  std::string reply;  // the text the last call handed out
};

Workbench& State() {
  static Workbench state;
  return state;
}

const char* Reply(const Json& json) {
  State().reply = json.dump();
  return State().reply.c_str();
}

template <typename Body>
const char* Guarded(Body body) {
  try {
    return Reply(body());
  } catch (const std::exception& e) {
    return Reply(Json{{"error", e.what()}});
  }
}

std::string ReadBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t U32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
         uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

// The engine's own WAVE output (PCM 16 or 24 bits, or 32-bit float), read
// to the values the command's audio reader gives: integers over 2^(bits-1).
AudioData DecodeEngineWave(const std::string& b) {
  if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) {
    throw ToolError("render.wav: not a WAVE file");
  }
  AudioData audio;
  int format = 0, channels = 0;
  for (size_t at = 12; at + 8 <= b.size();) {
    const std::string tag = b.substr(at, 4);
    const size_t size = U32(b, at + 4), body = at + 8;
    if (body + size > b.size()) break;
    if (tag == "fmt ") {
      format = uint8_t(b[body]) | uint8_t(b[body + 1]) << 8;
      channels = uint8_t(b[body + 2]) | uint8_t(b[body + 3]) << 8;
      audio.sampleRate = int(U32(b, body + 4));
      audio.bitsPerSample = uint8_t(b[body + 14]) | uint8_t(b[body + 15]) << 8;
    } else if (tag == "data" && channels > 0) {
      const size_t width = size_t(audio.bitsPerSample / 8), frames = size / (width * channels);
      audio.channels.assign(size_t(channels), std::vector<double>(frames));
      for (size_t f = 0; f < frames; ++f) {
        for (size_t c = 0; c < size_t(channels); ++c) {
          const size_t p = body + (f * channels + c) * width;
          double value;
          if (format == 3) {
            float x;
            const uint32_t bits = U32(b, p);
            std::memcpy(&x, &bits, 4);
            value = x;
          } else {
            uint32_t raw = 0;
            for (size_t k = 0; k < width; ++k)
              raw |= uint32_t(uint8_t(b[p + k])) << (8 * (4 - width + k));
            value = double(int32_t(raw)) / 2147483648.0;
          }
          audio.channels[c][f] = value;
        }
      }
    }
    at = body + size + (size & 1);
  }
  if (audio.channels.empty()) throw ToolError("render.wav: no samples");
  return audio;
}

Json ProblemsJson(const CheckOutcome& outcome) {
  Json list = Json::array();
  for (const DesignProblem& p : outcome.problems) {
    list.push_back({{"refused", p.refusal}, {"message", p.message}});
  }
  return list;
}

const JsonOrigins* Origins(const Document& doc) {
  return doc.origins ? &*doc.origins : nullptr;
}

// Set by the page's Stop; the progress callback passes it to the engine.
extern "C" int ZmwStopRequested();
EM_JS(int, ZmwStopRequested, (), { return Module.stopRequested ? Module.stopRequested() : 0; });
EM_JS(void, ZmwReportProgress, (int done, int total), {
  if (Module.onProgress) Module.onProgress(done, total);
});

void OnProgress(int32_t done, int32_t total, void* abortFlag) {
  ZmwReportProgress(done, total);
  if (ZmwStopRequested()) *static_cast<uint8_t*>(abortFlag) = 1;
}

}  // namespace
}  // namespace zm::cli

using namespace zm::cli;

extern "C" {

// Loads a design from its JSON text (any form the tool reads) and answers
// with the tool's JSON of it and the findings of `zm check`.
EMSCRIPTEN_KEEPALIVE const char* zmw_load(const char* jsonText) {
  return Guarded([&] {
    {
      std::ofstream out(kDesignFile, std::ios::binary | std::ios::trunc);
      out << jsonText;
    }
    Document doc = LoadDesignDocument(kDesignFile);
    const CheckOutcome checks = RunChecks(*doc.design, Origins(doc), kEveryGroup);
    // Each material's absorption at the catalogue's bands, for its curve.
    const MaterialCatalogue catalogue = MaterialCatalogue::BuiltIn();
    Json absorption = Json::object();
    for (const TMaterialEntry& m : doc.design->Materials) {
      if (!m.InUse) continue;
      Json curve = Json::array();
      for (double band : catalogue.Bands()) curve.push_back(AbsorptionOfRecord(m, band));
      absorption[NameText(m.Name)] = curve;
    }
    State().design = std::move(doc);
    return Json{{"design", FormatJson(DesignToJson(*State().design.design))},
                {"problems", ProblemsJson(checks)},
                {"absorption", absorption}};
  });
}

// Renders emitter group `group` of the loaded design to render.wav and
// answers with the analysis `zm analyze --json` prints for it.
EMSCRIPTEN_KEEPALIVE const char* zmw_render(int group, int fast) {
  return Guarded([&] {
    Workbench& state = State();
    if (!state.design.design) throw ToolError("no design loaded");
    const CheckOutcome checks = RunChecks(*state.design.design, Origins(state.design), group);
    for (const DesignProblem& p : checks.problems) {
      if (p.refusal) throw ToolError(p.message);
    }
    std::remove(kRenderFile);
    TErrorRecord error{};
    uint8_t abortFlag = 0;
    const double started = emscripten_get_now();
    if (fast) {
      ProcessFastDesign(state.design.design.get(), kRenderFile, &error, &abortFlag, OnProgress,
                        &abortFlag, group);
    } else {
      ZM_process(state.design.design.get(), kRenderFile, &error, &abortFlag, OnProgress, &abortFlag,
                 group);
    }
    const double seconds = (emscripten_get_now() - started) / 1000;
    if (error.Failed) throw ToolError(ErrorText(error));
    if (abortFlag) return Json{{"stopped", true}};
    state.rendered = DecodeEngineWave(ReadBytes(kRenderFile));
    std::vector<ChannelParameters> channels;
    for (size_t c = 0; c < state.rendered.channels.size(); ++c) {
      channels.push_back(
          AnalyseChannel(state.rendered.channels[c], int(c), state.rendered.sampleRate));
    }
    Json analysis = ReportToJson(channels, state.rendered.sampleRate);
    analysis["file"] = kRenderFile;
    analysis["frames"] = state.rendered.Frames();
    return Json{{"file", kRenderFile}, {"analysis", analysis}, {"renderSeconds", seconds}};
  });
}

// The waveform, echogram and decay curve of one channel of the last render
// in one octave band (0: broadband), as `zm ir` draws them.
EMSCRIPTEN_KEEPALIVE const char* zmw_plot(int channel, double bandCentre) {
  return Guarded([&] {
    const AudioData& audio = State().rendered;
    if (audio.channels.empty()) throw ToolError("nothing rendered yet");
    return Json{{"svg", ImpulseResponseSvg(audio, {channel}, bandCentre, "")}};
  });
}

// The material catalogue, as libzmtool lists it to the Python package.
EMSCRIPTEN_KEEPALIVE const char* zmw_catalogue() {
  return Guarded([&] {
    const MaterialCatalogue catalogue = MaterialCatalogue::BuiltIn();
    Json entries = Json::array();
    for (const CatalogueEntry& entry : catalogue.Entries()) {
      entries.push_back({{"id", entry.id},
                         {"name", entry.name},
                         {"category", entry.category},
                         {"absorption", entry.absorption}});
    }
    return Json{{"bands", catalogue.Bands()}, {"entries", entries}};
  });
}

}  // extern "C"
