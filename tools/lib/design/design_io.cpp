#include "lib/design/design_io.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "lib/design/design_json.h"
#include "lib/design/materials.h"

namespace zm::cli {

namespace {

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError(path + ": cannot open (" + std::strerror(errno) + ")");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw ToolError(path + ": read error");
  return text.str();
}

void WriteWholeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw ToolError(path + ": cannot create (" + std::strerror(errno) + ")");
  out << text;
  out.close();
  if (!out) throw ToolError(path + ": write error");
}

// JSON designs start with "{", after blanks and comments.
bool LooksLikeJson(const std::string& bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const char c = bytes[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (bytes.compare(i, 2, "//") == 0) {
      i = bytes.find('\n', i);
    } else if (bytes.compare(i, 2, "/*") == 0) {
      i = bytes.find("*/", i + 2);
      if (i != std::string::npos) i += 2;
    } else {
      return c == '{';
    }
  }
  return false;
}

bool IsDesignMagic(const std::string& bytes) {
  return bytes.size() >= 4 && bytes.compare(0, 3, "ZMD") == 0 && bytes[3] >= '0' && bytes[3] <= '5';
}

TMaterialEntry LoadMaterialFile(const std::string& path) {
  TMaterialEntry material{};
  TErrorRecord error{};
  ZM_loadMaterial(EnginePath(path).c_str(), &material, &error);
  if (error.Failed) throw ToolError(path + ": " + ErrorText(error));
  return material;
}

// Materials named from the catalogue or by material files, which a JSON
// document finds beside itself.
MaterialFormContext MaterialFormsBeside(const std::string& jsonPath,
                                        const MaterialCatalogue& catalogue) {
  return {&catalogue, std::filesystem::path(jsonPath).parent_path().string(), LoadMaterialFile};
}

}  // namespace

std::string EnginePath(const std::string& path) {
  return path.starts_with(ZM_MEMORY_PREFIX) ? "./" + path : path;
}

std::string ErrorText(const TErrorRecord& error) {
  return FieldText(error.Message, ZM_MESSAGE_LENGTH);
}

bool HasExtension(const std::string& path, const std::string& extension) {
  if (path.size() < extension.size()) return false;
  return std::equal(extension.rbegin(), extension.rend(), path.rbegin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

Document LoadDocument(const std::string& path, bool materialHint) {
  const std::string bytes = ReadWholeFile(path);
  Document doc;
  TErrorRecord error{};
  if (IsDesignMagic(bytes)) {
    doc.design = std::make_unique<TDesignRecord>();
    ZM_loadSetup(path.c_str(), doc.design.get(), &error);
    if (error.Failed) throw ToolError(path + ": " + ErrorText(error));
    return doc;
  }
  if (bytes.compare(0, 4, "ZMM0") == 0) {
    doc.kind = DocumentKind::Material;
    ZM_loadMaterial(path.c_str(), &doc.material, &error);
    if (error.Failed) throw ToolError(path + ": " + ErrorText(error));
    return doc;
  }
  if (!LooksLikeJson(bytes)) {
    throw ToolError(path + ": not a design file, a material file or a JSON design");
  }
  // Syntax errors name the file themselves.
  Json json;
  try {
    json = ParseJsonText(bytes, path);
  } catch (const JsonFormatError& e) {
    throw ToolError(e.what());
  }
  try {
    const MaterialCatalogue catalogue = MaterialCatalogue::BuiltIn();
    LowerMaterialForms(json, MaterialFormsBeside(path, catalogue));
    const std::string format = JsonFormatOf(json);
    if (format == kMaterialFormat || (format.empty() && materialHint)) {
      doc.kind = DocumentKind::Material;
      MaterialFromJson(json, doc.material);
    } else {
      doc.design = std::make_unique<TDesignRecord>();
      doc.origins.emplace();
      DesignFromJson(json, *doc.design, &*doc.origins);
    }
  } catch (const JsonFormatError& e) {
    throw ToolError(path + ": " + e.what());
  }
  return doc;
}

Document LoadDesignDocument(const std::string& path) {
  Document doc = LoadDocument(path);
  if (doc.kind != DocumentKind::Design) throw ToolError(path + ": a material, not a design");
  return doc;
}

std::unique_ptr<TDesignRecord> LoadDesign(const std::string& path) {
  return std::move(LoadDesignDocument(path).design);
}

void SaveDocument(const std::string& path, const Document& doc) {
  if (HasExtension(path, ".json")) {
    const Json json =
        doc.kind == DocumentKind::Design ? DesignToJson(*doc.design) : MaterialToJson(doc.material);
    WriteWholeFile(path, FormatJson(json));
    return;
  }
  TErrorRecord error{};
  if (doc.kind == DocumentKind::Design) {
    ZM_saveSetup(path.c_str(), doc.design.get(), &error);
  } else {
    ZM_saveMaterial(path.c_str(), &doc.material, &error);
  }
  if (error.Failed) throw ToolError(path + ": " + ErrorText(error));
}

}  // namespace zm::cli
