// Compressing arbitrary bytes and decoding the block gives them back, and
// the block fits on the stream exactly.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "files/hrc.h"
#include "files/resource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return -1;
  auto stream = zm::RscOpen("mem:", zm::rmReadWrite);
  // Some bytes ahead of the block, as the design file's magic.
  stream->Write("ZMD5", 4);
  zm::HrcWriteBlock(*stream, data, static_cast<int32_t>(size));
  if (stream->GetPosition() != stream->GetLength()) __builtin_trap();
  stream->SetPosition(4);
  if (zm::HrcBlockSize(*stream) != static_cast<int32_t>(size)) __builtin_trap();
  std::vector<uint8_t> decoded = zm::HrcReadNewBlock(*stream);
  if (decoded.size() != size || (size > 0 && std::memcmp(decoded.data(), data, size) != 0)) {
    __builtin_trap();
  }
  if (stream->GetPosition() != stream->GetLength()) __builtin_trap();
  return 0;
}
