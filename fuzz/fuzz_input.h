// Feeds fuzz input to the library through a memory resource, as a file's
// content would arrive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "files/resource.h"

namespace zm::fuzz {

inline std::unique_ptr<TResource> StreamOf(const uint8_t* data, size_t size) {
  std::unique_ptr<TResource> stream = RscOpen("mem:", rmReadWrite);
  stream->Write(data, static_cast<int32_t>(size));
  stream->SetPosition(0);
  return stream;
}

}  // namespace zm::fuzz
