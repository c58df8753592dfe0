// Loading and saving designs and materials in any of their forms: the
// engine's files (through its exports) and JSON.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "lib/design/design_json.h"
#include "zm/zm.h"

namespace zm::cli {

class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class DocumentKind { Design, Material };

struct Document {
  DocumentKind kind = DocumentKind::Design;
  std::unique_ptr<TDesignRecord> design;  // set for designs
  TMaterialEntry material{};              // set for materials
  std::optional<JsonOrigins> origins;     // set for designs read from JSON
};

inline const JsonOrigins* OriginsOf(const Document& document) {
  return document.origins ? &*document.origins : nullptr;
}

// Told apart by content: "ZMD0".."ZMD5" design files, "ZMM0" material files,
// JSON (first non-blank character "{"). `materialHint` decides JSON without a
// "format" key.
Document LoadDocument(const std::string& path, bool materialHint = false);

// Loads a design; a material (file or JSON) is refused.
Document LoadDesignDocument(const std::string& path);
std::unique_ptr<TDesignRecord> LoadDesign(const std::string& path);

// JSON when `path` ends in ".json", else the engine's file format.
void SaveDocument(const std::string& path, const Document& document);

// `path` as the engine must be given it to take it as a plain file name:
// names starting with ZM_MEMORY_PREFIX would otherwise open a throw-away
// block of memory.
std::string EnginePath(const std::string& path);

// The message of a failed export call (at most 128 characters).
std::string ErrorText(const TErrorRecord& error);

bool HasExtension(const std::string& path, const std::string& extension);

}  // namespace zm::cli
