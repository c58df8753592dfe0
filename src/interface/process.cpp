// The processing job behind ZM_process: scene, tracer, run, title, render.
#include <memory>
#include <string>

#include "fast/fast_tracer.h"
#include "impulse/impulse.h"
#include "interface/jobs.h"
#include "scene/design_checks.h"
#include "scene/hydra.h"
#include "support/exception.h"
#include "tracer/tracer.h"

namespace zm {

namespace msg::process {
inline constexpr MessageText sGroupOutOfRange{"Emitter group %d is outside 0 to 63"};
inline constexpr MessageText sHeight{"Room height is not a finite number above 0"};
inline constexpr MessageText sSurfaceValue{"%s material: %s is not a finite number"};
inline constexpr MessageText sSurfaceBandFactor{
    "%s material: band factor %d is not a finite number"};
}  // namespace msg::process

namespace {

// The file's title: the design's title, followed by the group's name for
// any group but 0; the output path itself when the design has no title.
std::string OutputTitle(const THydra& scene, const char* outputFile, int32_t group) {
  const std::string& title = scene.Options->Title;
  if (title.empty()) return outputFile;
  if (group == 0) return title;
  const TEmitterGroup* entry = scene.Groups[group].get();
  return title + " - " + (entry ? entry->Name : std::string());
}

// Arrivals reach only the channels of receivers, and the file has as many
// channels as the highest one reached (two at least). Without a receiver
// above channel 1 it is sure to have two, which the stereo matrix reads.
bool OutputIsSurelyStereo(const THydra& scene) {
  for (const auto& wall : scene.Walls) {
    if (wall->Receiver && wall->Channel > 1) return false;
  }
  return true;
}

// The steps both modes take before tracing: clear the abort byte, refuse a
// group outside the slots, build and check the scene.
std::unique_ptr<THydra> PrepareScene(const TDesignRecord& design, uint8_t* abortFlag,
                                     int32_t group) {
  // Atomic, as the host may set the byte from another thread.
  __atomic_store_n(abortFlag, 0, __ATOMIC_RELAXED);
  // The group indexes the 64 group slots; refuse it before anything is built.
  if (group < 0 || group >= ZM_GROUP_SLOTS) {
    throw ERangeError(Format(msg::process::sGroupOutOfRange, {group}));
  }
  auto scene = std::make_unique<THydra>(design);
  scene->CheckGroup(group);
  // Known before any ray; with a receiver higher up, the render checks them
  // once it knows whether the file has two channels.
  if (OutputIsSurelyStereo(*scene)) scene->Options->RequireStereoSettings();
  return scene;
}

// Floor or ceiling as the fast tracer reads it; refuses values it cannot use.
void ReadSurface(const TMaterialEntry& entry, const char* name, fast::TRoomHeight& room,
                 int surface) {
  if (!IsFinite(entry.Reflection)) {
    RefuseDesign(msg::process::sSurfaceValue, {name, "reflection"});
  }
  if (!IsFinite(entry.Scatter)) RefuseDesign(msg::process::sSurfaceValue, {name, "scatter"});
  room.Reflection[surface] = entry.Reflection;
  room.ScatterProbability[surface] = fast::ScatterProbabilityOf(entry.Scatter);
  for (int b = 0; b < kBandCount; ++b) {
    if (!IsFinite(entry.BandFactors[b])) {
      RefuseDesign(msg::process::sSurfaceBandFactor, {name, b});
    }
    room.BandFactors[surface][b] = entry.BandFactors[b];
  }
}

}  // namespace

void ProcessFastJob(const TDesignRecord& design, const TFastHeight* height, const char* outputFile,
                    uint8_t* abortFlag, TProgressCallback progress, void* userData, int32_t group) {
  // Declared in this order, the tracer (with its impulse) is released before
  // the scene it refers to, on every path.
  auto scene = PrepareScene(design, abortFlag, group);
  fast::TRoomHeight room;
  if (height != nullptr) {
    if (!(IsFinite(height->Height) && height->Height > 0.0)) RefuseDesign(msg::process::sHeight);
    room.Height = height->Height;
    ReadSurface(height->Floor, "Floor", room, 0);
    ReadSurface(height->Ceiling, "Ceiling", room, 1);
  }
  auto tracer =
      std::make_unique<fast::TFastTracer>(*scene, group, height != nullptr ? &room : nullptr);
  if (!tracer->Run(abortFlag, progress, userData)) return;  // aborted: no file, no failure
  tracer->Impulse->Render(outputFile, OutputTitle(*scene, outputFile, group));
}

void ProcessJob(const TDesignRecord& design, const char* outputFile, uint8_t* abortFlag,
                TProgressCallback progress, void* userData, int32_t group) {
  // Declared in this order, the tracer (with its impulse) is released before
  // the scene it refers to, on every path.
  auto scene = PrepareScene(design, abortFlag, group);
  auto tracer = std::make_unique<TTracer>(*scene, group);

  if (!tracer->Run(abortFlag, progress, userData)) return;  // aborted: no file, no failure

  tracer->Impulse->Render(outputFile, OutputTitle(*scene, outputFile, group));
}

}  // namespace zm
