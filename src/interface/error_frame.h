// The guard around every export's job: whatever the job throws ends up in
// the caller's error record, and nothing escapes to the host.
#pragma once

#include <string_view>

#include "zm/zm.h"

namespace zm {

// Copies `message` into the record as the boundary expects: at most 128
// characters, zero-filled, no terminator when it fills the field.
void ReportFailure(TErrorRecord& error, std::string_view message);

// Runs `job` and reports its outcome in `error`: Failed = 0 and Message
// untouched on success; Failed = 1 and the message on any exception. Not
// noexcept: a thread ended inside the job (cancelled, or pthread_exit from
// a callback, as an interpreter does to a thread that wants its lock while
// it shuts down) is unwound through the frame, releasing what the job holds.
template <typename Job>
void RunInErrorFrame(TErrorRecord* error, Job&& job);

}  // namespace zm

#include "interface/error_frame_impl.h"
