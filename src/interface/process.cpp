// The processing job behind ZM_process.
#include "interface/jobs.h"

namespace zm {

void ProcessJob(const TDesignRecord& /*design*/, const char* /*outputFile*/, uint8_t* abortFlag,
                TProgressCallback /*progress*/, void* /*userData*/, int32_t /*group*/) {
  *abortFlag = 0;
}

}  // namespace zm
