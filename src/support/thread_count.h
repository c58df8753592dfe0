// How many threads a run may use. Results never depend on it: the threads
// share the work so that every output value receives the same operations in
// the same order as with one.
#pragma once

#include <cstdint>

namespace zm {

// Threads used without a setting: the processor's count up to this cap.
inline constexpr int32_t kDefaultThreadCap = 4;
// The most that ZM_THREADS may ask for.
inline constexpr int32_t kMaxThreads = 16;

// The environment variable ZM_THREADS when it holds a whole number from 1
// up (capped at kMaxThreads; 1 keeps all work on the calling thread),
// otherwise the hardware's thread count capped at kDefaultThreadCap, and
// at least 1.
int32_t ConfiguredThreadCount();

// For the function a new thread starts with: threads started by the system
// may begin with the stack aligned to only 4 bytes on 32-bit Windows, where
// the library's SSE code wants 16.
#if defined(_WIN32) && !defined(_WIN64) && defined(__GNUC__)
#define ZM_THREAD_ENTRY __attribute__((force_align_arg_pointer))
#else
#define ZM_THREAD_ENTRY
#endif

}  // namespace zm
