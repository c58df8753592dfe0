#pragma once

#include <exception>
#include <new>

#include "support/exception.h"

// libstdc++ unwinds a thread that is cancelled or calls pthread_exit with
// this exception; it must pass through, or the process aborts.
#if defined(__GLIBCXX__) && !defined(_WIN32)
#include <cxxabi.h>
#define ZM_HAS_FORCED_UNWIND 1
// It carries no exception object, which the sanitizer's null check of the
// handler's reference would report.
#define ZM_CATCHES_FORCED_UNWIND __attribute__((no_sanitize("null")))
#else
#define ZM_HAS_FORCED_UNWIND 0
#define ZM_CATCHES_FORCED_UNWIND
#endif

namespace zm {

template <typename Job>
ZM_CATCHES_FORCED_UNWIND void RunInErrorFrame(TErrorRecord* error, Job&& job) {
  // Without a record there is nowhere to report to; do nothing at all.
  if (error == nullptr) return;
  try {
    job();
    error->Failed = 0;
#if ZM_HAS_FORCED_UNWIND
  } catch (const abi::__forced_unwind&) {
    throw;
#endif
  } catch (const Exception& e) {
    ReportFailure(*error, e.Message());
  } catch (const std::bad_alloc&) {
    ReportFailure(*error, msg::runtime::sOutOfMemory.text);
  } catch (const std::exception& e) {
    // what() of a foreign exception is not ours to trust with a null.
    const char* text = e.what();
    ReportFailure(*error, text != nullptr ? text : msg::runtime::sUnknownFailure.text);
  } catch (...) {
    ReportFailure(*error, msg::runtime::sUnknownFailure.text);
  }
}

}  // namespace zm
