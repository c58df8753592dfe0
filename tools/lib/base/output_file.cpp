#include "lib/base/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace zm::cli {

std::string WhyNotWritable(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::is_directory(path, error)) return "it is a folder";
  const fs::path parent = fs::path(path).parent_path();
  const fs::path folder = parent.empty() ? fs::path(".") : parent;
  const fs::file_status status = fs::status(folder, error);
  if (!fs::exists(status)) return "the folder " + folder.string() + " does not exist";
  if (!fs::is_directory(status)) return folder.string() + " is not a folder";
  const bool existed = fs::exists(path, error);
  // No O_TRUNC: an existing file keeps its contents.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return std::strerror(errno);
  close(fd);
  if (!existed) fs::remove(path, error);
  return "";
}

}  // namespace zm::cli
