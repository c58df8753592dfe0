// Splitting a loop over a range of indices among threads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace zm::fast {

// Calls body(from, to) on `threads` contiguous parts of [0, count), the last
// part on the calling thread, and waits for all. Where the system has no
// thread to spare, the caller does that part itself. The first exception of
// a part is rethrown once every part has ended.
template <typename Body>
void ParallelFor(int32_t threads, int64_t count, Body body) {
  const int64_t parts = std::clamp<int64_t>(threads, 1, std::max<int64_t>(count, 1));
  std::vector<std::thread> helpers;
  std::vector<std::exception_ptr> failures(static_cast<size_t>(parts));
  auto run = [&](int64_t part) {
    try {
      body(count * part / parts, count * (part + 1) / parts);
    } catch (...) {
      failures[static_cast<size_t>(part)] = std::current_exception();
    }
  };
  int64_t part = 0;
  for (; part + 1 < parts; ++part) {
    try {
      helpers.emplace_back(run, part);
    } catch (const std::system_error&) {
      break;
    }
  }
  for (; part < parts; ++part) run(part);
  for (std::thread& helper : helpers) helper.join();
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

}  // namespace zm::fast
