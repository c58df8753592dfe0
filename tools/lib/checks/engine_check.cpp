#include "lib/checks/engine_check.h"

#include "lib/design/design_io.h"

namespace zm::cli {

namespace {

extern "C" void ZM_CALLBACK AbortAtOnce(int32_t, int32_t, void* userData) {
  *static_cast<uint8_t*>(userData) = 1;
}

}  // namespace

std::string EngineRefusal(const TDesignRecord& design, int group) {
  uint8_t abortFlag = 0;
  TErrorRecord error{};
  ZM_process(&design, ZM_MEMORY_PREFIX "zm-check", &error, &abortFlag, AbortAtOnce, &abortFlag,
             group);
  return error.Failed ? ErrorText(error) : "";
}

}  // namespace zm::cli
