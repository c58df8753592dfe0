#include "files/resource.h"

#include "files/binary_buffer.h"
#include "files/binary_file.h"
#include "platform/file_layer.h"

namespace zm {

bool TResource::CanRead() const {
  return Mode == rmRead || Mode == rmReadWrite || Mode == rmCreate;
}

bool TResource::CanWrite() const {
  return Mode == rmWrite || Mode == rmReadWrite || Mode == rmCreate || Mode == rmAppend;
}

const std::vector<std::string>& ResourceSearchPaths() {
  static const std::vector<std::string> paths{""};
  return paths;
}

namespace {

// file>item names an item inside a file bank; banks are not supported, so
// such a name never exists.
bool IsBankItem(const std::string& name) {
  return name.find('>') != std::string::npos;
}

bool Exists(const std::string& candidate) {
  return !IsBankItem(candidate) && platform::Exists(candidate);
}

}  // namespace

std::unique_ptr<TResource> RscOpen(const std::string& name, int32_t mode) {
  if (name.rfind("mem:", 0) == 0) return std::make_unique<TBinaryBuffer>("mem:", rmReadWrite);

  std::string candidate;
  if (mode == rmCreate || mode == rmErase) {
    candidate = name;
  } else {
    bool found = false;
    for (const std::string& prefix : ResourceSearchPaths()) {
      candidate = prefix + name;
      if (Exists(candidate)) {
        found = true;
        break;
      }
    }
    if (!found) throw ERscNotFound(Format(msg::rscopen::sRscNotFound, {name}));
  }
  if (IsBankItem(candidate)) throw ERscNotFound(Format(msg::rscopen::sRscNotFound, {name}));
  // The system opens the name as given, so that ".." after a symbolic link
  // means what it means to the system; the full path only names the file.
  return std::make_unique<TBinaryFile>(platform::FullPath(candidate), candidate, mode);
}

}  // namespace zm
