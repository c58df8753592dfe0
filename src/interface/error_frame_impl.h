#pragma once

#include <exception>
#include <new>

#include "support/exception.h"

namespace zm {

template <typename Job>
void RunInErrorFrame(TErrorRecord* error, Job&& job) noexcept {
  // Without a record there is nowhere to report to; do nothing at all.
  if (error == nullptr) return;
  try {
    job();
    error->Failed = 0;
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
