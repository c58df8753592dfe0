// The zm tool's JSON design reader on arbitrary bytes. Syntax errors and
// designs it refuses (JsonFormatError) are expected answers; anything else
// that escapes, and any sanitizer report, is a finding. A design it accepts
// must come back byte for byte through its own JSON form.
#include <cstdint>
#include <cstring>
#include <string>

#include "lib/design/design_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zm::cli;
  const std::string text(reinterpret_cast<const char*>(data), size);
  TDesignRecord record;
  JsonOrigins origins;
  try {
    DesignFromJson(ParseJsonText(text, "fuzz"), record, &origins);
  } catch (const JsonFormatError&) {
    return 0;
  }
  TDesignRecord back;
  DesignFromJson(ParseJsonText(FormatJson(DesignToJson(record)), "again"), back);
  if (std::memcmp(&record, &back, sizeof record) != 0) __builtin_trap();
  return 0;
}
