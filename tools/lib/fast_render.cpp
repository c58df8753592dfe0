#include "lib/fast_render.h"

#include <cstring>
#include <memory>
#include <optional>

#include "lib/design/room_height.h"
// The engine's fast-mode entry: not one of libzm's exports, it comes from
// the engine's static core (see tools/CMakeLists.txt).
#include <interface/fast_process.h>

namespace zm::cli {

void ProcessFastDesign(const TDesignRecord* design, const char* outputFile, TErrorRecord* error,
                       uint8_t* abortFlag, TProgressCallback progress, void* userData,
                       int32_t group) {
  // The engine checks every argument itself and reports as ZM_process does;
  // only the unfolding of the height is ours.
  if (design == nullptr) {
    ProcessFast(design, nullptr, outputFile, error, abortFlag, progress, userData, group);
    return;
  }
  std::unique_ptr<TDesignRecord> plain;
  std::optional<RoomHeight> room;
  try {
    plain = std::make_unique<TDesignRecord>();
    room = UnfoldHeight(*design, *plain);
  } catch (...) {
    if (error != nullptr) {
      *error = TErrorRecord{};
      error->Failed = 1;
      std::strncpy(error->Message, "Out of memory", sizeof error->Message);
    }
    return;
  }
  if (!room) {
    // No intact height: the record as given, floor and ceiling (if any)
    // staying folded into the air, as the exact path traces them.
    ProcessFast(design, nullptr, outputFile, error, abortFlag, progress, userData, group);
    return;
  }
  // The fast tracer meets floor and ceiling itself, so it takes the plan as
  // it was before the fold and the surfaces as given.
  TFastHeight height;
  height.Height = room->height;
  height.Floor = room->floor;
  height.Ceiling = room->ceiling;
  ProcessFast(plain.get(), &height, outputFile, error, abortFlag, progress, userData, group);
}

}  // namespace zm::cli
