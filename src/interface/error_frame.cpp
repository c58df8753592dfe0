#include "interface/error_frame.h"

#include <cstring>

namespace zm {

void ReportFailure(TErrorRecord& error, std::string_view message) {
  size_t length = message.size() < sizeof(error.Message) ? message.size() : sizeof(error.Message);
  std::memcpy(error.Message, message.data(), length);
  std::memset(error.Message + length, 0, sizeof(error.Message) - length);
  error.Failed = 1;
}

}  // namespace zm
