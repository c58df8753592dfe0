// std::bit_cast for a standard library that lacks it (emscripten 3.1.6's
// libc++). Included ahead of every C++ source of the WebAssembly build.
#pragma once

#include <bit>

#if !defined(__cpp_lib_bit_cast)
namespace std {
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif
