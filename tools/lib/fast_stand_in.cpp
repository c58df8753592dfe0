// TEMPORARY stand-in for the engine's fast-mode entry until the engine's
// fast tracer is merged: it renders through the exact path, ignoring the
// height, so that the front ends can be built and tested against the
// contract. tools/ and web/CMakeLists.txt leave it out once the engine has
// fast sources of its own.
#include <interface/fast_process.h>

namespace zm {

void ProcessFast(const TDesignRecord* design, const TFastHeight* /*height*/, const char* outputFile,
                 TErrorRecord* error, uint8_t* abortFlag, TProgressCallback progress,
                 void* userData, int32_t group) noexcept {
  ZM_process(design, outputFile, error, abortFlag, progress, userData, group);
}

}  // namespace zm
