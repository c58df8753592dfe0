// Fast mode's entry, framed and checked as ZM_process is.
#include "interface/fast_process.h"

#include "interface/error_frame.h"
#include "interface/jobs.h"

namespace zm {

void ProcessFast(const TDesignRecord* design, const TFastHeight* height, const char* outputFile,
                 TErrorRecord* error, uint8_t* abortFlag, TProgressCallback progress,
                 void* userData, int32_t group) {
  RunInErrorFrame(error, [&] {
    RequireArgument(design, "design");
    RequireArgument(outputFile, "outputFile");
    RequireArgument(abortFlag, "abortFlag");
    ProcessFastJob(*design, height, outputFile, abortFlag, progress, userData, group);
  });
}

}  // namespace zm
