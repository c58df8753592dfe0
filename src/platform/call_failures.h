// A test seam in the file layer: every operating-system call that the layer
// makes (open, read, write, seek, truncate, sync, rename, close, delete, ...)
// first asks CallFails(). Tests arm the seam to make the k-th call fail as
// the system itself would (EIO, or the Win32 equivalent), so that every
// failure point of a save or a render can be reached in turn. Unarmed, the
// question costs one relaxed load and one branch.
#pragma once

#include <atomic>
#include <cstdint>

namespace zm::platform {

namespace detail {
extern std::atomic<bool> callFailuresArmed;
bool CountCallAndDecide();
}  // namespace detail

// Arms the seam: from now on calls are counted, and call number `failAt`
// (1 = the next one) fails; 0 only counts. Calls of every thread count, so
// arm it only while nothing else uses the file layer.
void ArmCallFailure(int64_t failAt);
// Stops counting and failing.
void DisarmCallFailure();
// Calls counted since the seam was last armed.
int64_t CountedCalls();

// Whether the current call must fail. Called by the file layer only.
inline bool CallFails() {
  return detail::callFailuresArmed.load(std::memory_order_relaxed) && detail::CountCallAndDecide();
}

}  // namespace zm::platform
