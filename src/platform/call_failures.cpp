#include "platform/call_failures.h"

namespace zm::platform {

namespace detail {

std::atomic<bool> callFailuresArmed{false};

namespace {
std::atomic<int64_t> counted{0};
std::atomic<int64_t> failingCall{0};
}  // namespace

bool CountCallAndDecide() {
  const int64_t number = counted.fetch_add(1, std::memory_order_relaxed) + 1;
  return number == failingCall.load(std::memory_order_relaxed);
}

}  // namespace detail

void ArmCallFailure(int64_t failAt) {
  detail::counted.store(0, std::memory_order_relaxed);
  detail::failingCall.store(failAt, std::memory_order_relaxed);
  detail::callFailuresArmed.store(true, std::memory_order_relaxed);
}

void DisarmCallFailure() {
  detail::callFailuresArmed.store(false, std::memory_order_relaxed);
  detail::failingCall.store(0, std::memory_order_relaxed);
}

int64_t CountedCalls() {
  return detail::counted.load(std::memory_order_relaxed);
}

}  // namespace zm::platform
