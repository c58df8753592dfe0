// The C interface of libzmtool: each call converts its arguments, runs the
// tool's own code and turns every exception into a code and a message, so
// that nothing C++ crosses into the caller.
#include "zm/zmtool.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "lib/audio/acoustics.h"
#include "lib/audio/auralise.h"
#include "lib/checks/check_report.h"
#include "lib/checks/design_summary.h"
#include "lib/checks/reverberation_estimate.h"
#include "lib/design/design_io.h"
#include "lib/design/materials.h"
#include "lib/design/room_geometry.h"
#include "lib/fast_render.h"

namespace zm::cli {
namespace {

// Thrown for a refused design, so that the frame can tell it from bad input.
class Refusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void WriteMessage(const std::string& text, char* message, size_t messageSize) {
  if (message == nullptr || messageSize == 0) return;
  const size_t length = std::min(text.size(), messageSize - 1);
  std::memcpy(message, text.data(), length);
  message[length] = '\0';
}

// Runs `body` and reports its outcome as the interface promises.
template <typename Body>
int Guarded(char* message, size_t messageSize, Body&& body) {
  try {
    body();
    return ZMTOOL_OK;
  } catch (const Refusal& e) {
    WriteMessage(e.what(), message, messageSize);
    return ZMTOOL_REFUSED;
  } catch (const std::bad_alloc&) {
    WriteMessage("out of memory", message, messageSize);
  } catch (const std::exception& e) {
    WriteMessage(e.what(), message, messageSize);
  } catch (...) {
    WriteMessage("unexpected failure", message, messageSize);
  }
  return ZMTOOL_BAD_INPUT;
}

void Require(const void* pointer, const char* name) {
  if (pointer == nullptr) throw ToolError(std::string(name) + " is null");
}

// A malloc'ed copy the caller frees with zmtool_free.
char* CopyText(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

double* Interleave(const AudioData& audio) {
  const size_t frames = audio.Frames(), channels = audio.channels.size();
  auto* samples =
      static_cast<double*>(std::malloc(std::max<size_t>(1, frames * channels) * sizeof(double)));
  if (samples == nullptr) throw std::bad_alloc();
  for (size_t c = 0; c < channels; ++c) {
    for (size_t i = 0; i < frames; ++i) samples[i * channels + c] = audio.channels[c][i];
  }
  return samples;
}

AudioData Deinterleave(const double* samples, size_t frames, int channels, int sampleRate,
                       const char* name) {
  if (channels <= 0) throw ToolError(std::string(name) + ": no channels");
  if (sampleRate <= 0) throw ToolError(std::string(name) + ": sample rate must be positive");
  if (frames > 0) Require(samples, name);
  AudioData audio;
  audio.sampleRate = sampleRate;
  audio.channels.assign(size_t(channels), std::vector<double>(frames));
  for (size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) audio.channels[size_t(c)][i] = samples[i * channels + c];
  }
  return audio;
}

// Parses a JSON document and lowers its material forms, as the tool does
// for a file found in `baseFolder`.
Json LoweredJson(const char* jsonText, const char* baseFolder) {
  Require(jsonText, "jsonText");
  Json json = ParseJsonText(jsonText, "JSON text");
  const MaterialCatalogue catalogue = MaterialCatalogue::BuiltIn();
  const std::string base = baseFolder != nullptr ? baseFolder : "";
  MaterialFormContext context{&catalogue, base, [](const std::string& path) {
                                TMaterialEntry material{};
                                TErrorRecord error{};
                                ZM_loadMaterial(EnginePath(path).c_str(), &material, &error);
                                if (error.Failed) throw ToolError(path + ": " + ErrorText(error));
                                return material;
                              }};
  LowerMaterialForms(json, context);
  return json;
}

Json FiniteOrNull(double value) {
  return std::isfinite(value) ? Json(value) : Json(nullptr);
}

}  // namespace
}  // namespace zm::cli

using namespace zm::cli;

extern "C" {

int zmtool_design_from_json(const char* jsonText, const char* baseFolder, TDesignRecord* design,
                            char* message, size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(design, "design");
    const Json json = LoweredJson(jsonText, baseFolder);
    if (JsonFormatOf(json) == kMaterialFormat) throw ToolError("a material, not a design");
    auto record = std::make_unique<TDesignRecord>();
    DesignFromJson(json, *record);
    *design = *record;
  });
}

int zmtool_design_to_json(const TDesignRecord* design, char** json, char* message,
                          size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(design, "design");
    Require(json, "json");
    *json = CopyText(FormatJson(DesignToJson(*design)));
  });
}

int zmtool_material_from_json(const char* jsonText, const char* baseFolder,
                              TMaterialEntry* material, char* message, size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(material, "material");
    Json json = LoweredJson(jsonText, baseFolder);
    if (JsonFormatOf(json) == kDesignFormat) throw ToolError("a design, not a material");
    TMaterialEntry entry{};
    MaterialFromJson(json, entry);
    *material = entry;
  });
}

int zmtool_material_to_json(const TMaterialEntry* material, char** json, char* message,
                            size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(material, "material");
    Require(json, "json");
    *json = CopyText(FormatJson(MaterialToJson(*material)));
  });
}

int zmtool_check_design(const TDesignRecord* design, const char* jsonText, int group, char* message,
                        size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(design, "design");
    if (group < 0 || group >= ZM_GROUP_SLOTS) {
      throw ToolError("group " + std::to_string(group) + " is outside 0 to 63");
    }
    std::optional<JsonOrigins> origins;
    if (jsonText != nullptr) {
      // Only the origins are wanted; the record is the caller's.
      auto scratch = std::make_unique<TDesignRecord>();
      origins.emplace();
      DesignFromJson(LoweredJson(jsonText, nullptr), *scratch, &*origins);
    }
    const CheckOutcome outcome = RunChecks(*design, origins ? &*origins : nullptr, group);
    for (const DesignProblem& problem : outcome.problems) {
      if (problem.refusal) throw Refusal(problem.message);
    }
  });
}

int zmtool_catalogue(const char* query, char** json, char* message, size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(json, "json");
    const MaterialCatalogue catalogue = MaterialCatalogue::BuiltIn();
    Json entries = Json::array();
    for (const CatalogueEntry* entry : catalogue.Search(query != nullptr ? query : "")) {
      entries.push_back({{"id", entry->id},
                         {"name", entry->name},
                         {"category", entry->category},
                         {"source", entry->source},
                         {"row", entry->row},
                         {"bands", catalogue.Bands()},
                         {"absorption", entry->absorption}});
    }
    *json = CopyText(entries.dump());
  });
}

int zmtool_read_audio(const char* path, double** samples, size_t* frames, int* channels,
                      int* sampleRate, char* message, size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(path, "path");
    Require(samples, "samples");
    Require(frames, "frames");
    Require(channels, "channels");
    Require(sampleRate, "sampleRate");
    const AudioData audio = ReadAudioFile(path);
    *samples = Interleave(audio);
    *frames = audio.Frames();
    *channels = int(audio.channels.size());
    *sampleRate = audio.sampleRate;
  });
}

int zmtool_analyze(const double* samples, size_t frames, int channels, int sampleRate, char** json,
                   char* message, size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(json, "json");
    const AudioData audio = Deinterleave(samples, frames, channels, sampleRate, "ir");
    *json = CopyText(ReportToJson(AnalyseAudio(audio), sampleRate).dump());
  });
}

int zmtool_auralise(const double* dry, size_t dryFrames, int dryChannels, int dryRate,
                    const double* ir, size_t irFrames, int irChannels, int irRate,
                    const double* gainDb, double** output, size_t* outputFrames,
                    int* outputChannels, double* appliedGainDb, char* message, size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(output, "output");
    Require(outputFrames, "outputFrames");
    Require(outputChannels, "outputChannels");
    AuraliseOptions options;
    if (gainDb != nullptr) options.gainDb = *gainDb;
    const AuraliseResult heard =
        Auralise(Deinterleave(dry, dryFrames, dryChannels, dryRate, "dry"),
                 Deinterleave(ir, irFrames, irChannels, irRate, "ir"), options);
    *output = Interleave(heard.output);
    *outputFrames = heard.output.Frames();
    *outputChannels = int(heard.output.channels.size());
    if (appliedGainDb != nullptr) *appliedGainDb = heard.gainDb;
  });
}

int zmtool_resample(const double* samples, size_t frames, int channels, int fromRate, int toRate,
                    double** output, size_t* outputFrames, char* message, size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(output, "output");
    Require(outputFrames, "outputFrames");
    if (toRate <= 0) throw ToolError("toRate: the sample rate must be positive");
    AudioData audio = Deinterleave(samples, frames, channels, fromRate, "samples");
    if (toRate != fromRate) {
      for (std::vector<double>& channel : audio.channels) {
        channel = Resample(channel, fromRate, toRate);
      }
      audio.sampleRate = toRate;
    }
    *output = Interleave(audio);
    *outputFrames = audio.Frames();
  });
}

int zmtool_write_audio(const char* path, const double* samples, size_t frames, int channels,
                       int sampleRate, char* message, size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(path, "path");
    WriteAudioFile(path, Deinterleave(samples, frames, channels, sampleRate, "samples"), 32);
  });
}

int zmtool_direct_level(const TDesignRecord* design, int group, char** json, char* message,
                        size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(design, "design");
    Require(json, "json");
    if (group < 0 || group >= ZM_GROUP_SLOTS) {
      throw ToolError("group " + std::to_string(group) + " is outside 0 to 63");
    }
    const Plan plan = PlanOf(*design);
    const auto choice = ChooseDirectLevel(plan, group);
    Json out = Json::object();
    out["level"] = choice ? Json(choice->level) : Json(nullptr);
    if (!choice)
      out["reason"] = "no receiver is reached directly in group " + std::to_string(group);
    Json pairs = Json::array();
    for (const PlanSource& source : plan.emitters) {
      if (source.group != group) continue;
      for (int w = 0; w < int(plan.walls.size()); ++w) {
        if (!plan.walls[size_t(w)].receiver) continue;
        const auto reach = DirectReachOf(plan, source, w);
        if (!reach) continue;
        // Each level step is 3 dB of direct energy.
        pairs.push_back(
            {{"emitter", source.slot},
             {"receiver", plan.walls[size_t(w)].slot},
             {"distance", reach->distance},
             {"rays", reach->rays},
             {"physicalLevel", reach->level},
             {"errorDb", choice ? Json(3.0 * (choice->level - reach->level)) : Json(nullptr)},
             {"designErrorDb", 3.0 * (design->DirectSoundLevel - reach->level)}});
      }
    }
    out["pairs"] = pairs;
    *json = CopyText(out.dump());
  });
}

int zmtool_reverberation_estimate(const TDesignRecord* design, char** json, char* message,
                                  size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(design, "design");
    Require(json, "json");
    const ReverberationEstimate estimate = EstimateReverberation(*design);
    Json out = {{"available", estimate.available}};
    if (!estimate.available) {
      out["reason"] = estimate.reason;
      *json = CopyText(out.dump());
      return;
    }
    out["area"] = estimate.area;
    out["perimeter"] = estimate.perimeter;
    out["meanFreePath"] = estimate.meanFreePath;
    out["hitsPerSecond"] = estimate.hitsPerSecond;
    Json bands = Json::array();
    for (const ReverberationBand& band : estimate.bands) {
      bands.push_back({{"centreHz", band.centre},
                       {"absorption", band.absorption},
                       {"otherLoss", FiniteOrNull(band.otherLoss)},
                       {"sabine", FiniteOrNull(band.sabine)},
                       {"eyring", FiniteOrNull(band.eyring)}});
    }
    out["bands"] = bands;
    *json = CopyText(out.dump());
  });
}

int zmtool_constants(char** json, char* message, size_t messageSize) {
  return Guarded(message, messageSize, [&] {
    Require(json, "json");
    const Json figures = {{"designRecordSize", ZM_DESIGN_RECORD_SIZE},
                          {"materialEntrySize", ZM_MATERIAL_ENTRY_SIZE},
                          {"nameLength", ZM_NAME_LENGTH},
                          {"bandCount", ZM_BAND_COUNT},
                          {"groupSlots", ZM_GROUP_SLOTS},
                          {"emitterSlots", ZM_EMITTER_SLOTS},
                          {"wallSlots", ZM_WALL_SLOTS},
                          {"pointSlots", ZM_POINT_SLOTS},
                          {"materialSlots", ZM_MATERIAL_SLOTS},
                          {"channelCount", ZM_CHANNEL_COUNT},
                          {"minSampleRate", ZM_MIN_SAMPLE_RATE},
                          {"leadInFrames", ZM_LEAD_IN_FRAMES},
                          {"memoryPrefix", ZM_MEMORY_PREFIX}};
    *json = CopyText(figures.dump());
  });
}

void zmtool_process_fast(const TDesignRecord* design, const char* outputFile, TErrorRecord* error,
                         uint8_t* abortFlag, TProgressCallback progress, void* userData,
                         int32_t group) {
  ProcessFastDesign(design, outputFile, error, abortFlag, progress, userData, group);
}

void zmtool_free(void* pointer) {
  std::free(pointer);
}

}  // extern "C"
