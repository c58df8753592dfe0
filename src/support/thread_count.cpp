#include "support/thread_count.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace zm {

int32_t ConfiguredThreadCount() {
  if (const char* setting = std::getenv("ZM_THREADS")) {
    char* end = nullptr;
    const long value = std::strtol(setting, &end, 10);
    if (end != setting && *end == '\0' && value >= 1) {
      return static_cast<int32_t>(std::min<long>(value, kMaxThreads));
    }
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return std::clamp(static_cast<int32_t>(hardware), 1, kDefaultThreadCap);
}

}  // namespace zm
