// Design files: ZM_loadSetup and ZM_saveSetup.
#include "interface/jobs.h"

namespace zm {

void LoadSetupJob(const char* /*fileName*/, TDesignRecord& /*design*/) {}
void SaveSetupJob(const char* /*fileName*/, const TDesignRecord& /*design*/) {}

}  // namespace zm
