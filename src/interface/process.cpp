// The processing job behind ZM_process: scene, tracer, run, title, render.
#include <memory>
#include <string>

#include "impulse/impulse.h"
#include "interface/jobs.h"
#include "scene/hydra.h"
#include "support/exception.h"
#include "tracer/tracer.h"

namespace zm {

namespace msg::process {
inline constexpr MessageText sGroupOutOfRange{"process.sgroupoutofrange",
                                              "Emitter group %d is outside 0 to 63"};
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

}  // namespace

void ProcessJob(const TDesignRecord& design, const char* outputFile, uint8_t* abortFlag,
                TProgressCallback progress, void* userData, int32_t group) {
  // Atomic, as the host may set the byte from another thread.
  __atomic_store_n(abortFlag, 0, __ATOMIC_RELAXED);
  // The group indexes the 64 group slots; refuse it before anything is built.
  if (group < 0 || group >= ZM_GROUP_SLOTS) {
    throw ERangeError(Format(msg::process::sGroupOutOfRange, {group}));
  }

  // Declared in this order, the tracer (with its impulse) is released before
  // the scene it refers to, on every path.
  auto scene = std::make_unique<THydra>(design);
  scene->CheckGroup(group);
  // Known before any ray; with a receiver higher up, the render checks them
  // once it knows whether the file has two channels.
  if (OutputIsSurelyStereo(*scene)) scene->Options->RequireStereoSettings();
  auto tracer = std::make_unique<TTracer>(*scene, group);

  if (!tracer->Run(abortFlag, progress, userData)) return;  // aborted: no file, no failure

  tracer->Impulse->Render(outputFile, OutputTitle(*scene, outputFile, group));
}

}  // namespace zm
