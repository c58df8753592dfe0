// File layer for POSIX systems.
//
// POSIX has no "no sharing" open, so every file the library opens is locked
// with flock(LOCK_EX | LOCK_NB) right after open(). flock locks belong to the
// open file description, so a second open inside this same process conflicts
// too, which is what the streams need. Nothing ever truncates on open: the
// lock comes first, and a refused open leaves the file exactly as it was.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/file_layer.h"

namespace zm::platform {

namespace {

int Fd(FileHandle file) {
  return static_cast<int>(file);
}

// Closes `fd` without disturbing errno-based decisions already taken.
void CloseQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

// Opens and locks; refuses directories so that they fail here with the open
// error instead of later with a puzzling read error.
int OpenLocked(const std::string& path, int flags, mode_t create_mode = 0) {
  int fd;
  // O_NONBLOCK only for the open itself: a FIFO without a partner would
  // otherwise hang the caller here.
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, create_mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  int status = ::fcntl(fd, F_GETFL);
  if (status != -1) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    CloseQuietly(fd);
    errno = EISDIR;
    return -1;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int saved = errno;
    CloseQuietly(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where a replacement of `target` really has to go: a symbolic link is
// followed, so that saving through it updates the file it points to instead
// of turning the link into a plain file.
std::string ReplacementTarget(const std::string& target) {
  struct stat info;
  if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
  char* resolved = ::realpath(target.c_str(), nullptr);
  if (resolved == nullptr) return target;
  std::string result(resolved);
  ::free(resolved);
  return result;
}

bool Interrupted(ssize_t result) {
  return result < 0 && errno == EINTR;
}

}  // namespace

FileHandle OpenExisting(const std::string& path, Access access) {
  int flags = access == Access::Read ? O_RDONLY : access == Access::Write ? O_WRONLY : O_RDWR;
  int fd = OpenLocked(path, flags);
  return fd < 0 ? kNoFile : fd;
}

HoldResult HoldTarget(const std::string& path, FileHandle& held) {
  held = kNoFile;
  // Opened for writing so that a target we could not overwrite in place is
  // refused here, just as an in-place create would be.
  int fd = OpenLocked(path, O_WRONLY);
  if (fd >= 0) {
    held = fd;
    return HoldResult::Held;
  }
  return errno == ENOENT ? HoldResult::Absent : HoldResult::Failed;
}

FileHandle CreateTempBeside(const std::string& target, std::string& tempPath) {
  static std::atomic<unsigned> counter{0};
  std::string real = ReplacementTarget(target);
  // The name is cut so that the decorations never push it past the file
  // system's name limit.
  std::string prefix = FolderOf(real) + "/." + BaseOf(real).substr(0, 200) + ".zmtmp-" +
                       std::to_string(static_cast<long>(::getpid())) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = prefix + std::to_string(counter.fetch_add(1));
    int fd = OpenLocked(candidate, O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
      tempPath = candidate;
      return fd;
    }
    if (errno != EEXIST) return kNoFile;
  }
  return kNoFile;
}

IoResult Read(FileHandle file, void* buffer, int32_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  int32_t done = 0;
  while (done < count) {
    ssize_t got = ::read(Fd(file), bytes + done, static_cast<size_t>(count - done));
    if (Interrupted(got)) continue;
    if (got < 0) return {false, done};
    if (got == 0) break;
    done += static_cast<int32_t>(got);
  }
  return {true, done};
}

IoResult Write(FileHandle file, const void* buffer, int32_t count) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  int32_t done = 0;
  while (done < count) {
    ssize_t put = ::write(Fd(file), bytes + done, static_cast<size_t>(count - done));
    if (Interrupted(put)) continue;
    if (put < 0) {
      // A full device is a short write, not a mysterious error: the caller
      // reports it as such.
      if (errno == ENOSPC || errno == EDQUOT) return {true, done};
      return {false, done};
    }
    if (put == 0) break;
    done += static_cast<int32_t>(put);
  }
  return {true, done};
}

bool Tell(FileHandle file, int32_t& position) {
  off_t at = ::lseek(Fd(file), 0, SEEK_CUR);
  if (at < 0 || at > INT32_MAX) return false;
  position = static_cast<int32_t>(at);
  return true;
}

bool Seek(FileHandle file, int32_t position) {
  return ::lseek(Fd(file), static_cast<off_t>(position), SEEK_SET) >= 0;
}

bool SeekEnd(FileHandle file, int32_t& position) {
  off_t at = ::lseek(Fd(file), 0, SEEK_END);
  if (at < 0 || at > INT32_MAX) return false;
  position = static_cast<int32_t>(at);
  return true;
}

bool Truncate(FileHandle file, int32_t length) {
  int result;
  do {
    result = ::ftruncate(Fd(file), static_cast<off_t>(length));
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool Flush(FileHandle file) {
  if (::fsync(Fd(file)) == 0) return true;
  // Devices and pipes cannot be synced; there is nothing buffered to lose.
  return errno == EINVAL || errno == EROFS;
}

void Close(FileHandle file) {
  CloseQuietly(Fd(file));
}

bool Delete(const std::string& path) {
  // Windows refuses to delete a file that someone holds open; do the same for
  // files the library holds, so that erasing a file in use fails there too.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd >= 0) {
    bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    CloseQuietly(fd);
    if (held) return false;
  }
  return ::unlink(path.c_str()) == 0;
}

bool Exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

std::string FullPath(const std::string& name) {
  std::string joined;
  if (!name.empty() && name[0] == '/') {
    joined = name;
  } else {
    std::vector<char> cwd(256);
    while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
      if (errno != ERANGE) {
        cwd.assign(1, '\0');
        break;
      }
      cwd.resize(cwd.size() * 2);
    }
    joined = std::string(cwd.data()) + "/" + name;
  }
  // Resolve "." and ".." lexically: the name the user sees in messages is the
  // path they meant, not whatever symbolic links make of it.
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t slash = joined.find('/', start);
    if (slash == std::string::npos) slash = joined.size();
    std::string part = joined.substr(start, slash - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    start = slash + 1;
  }
  std::string result;
  for (const std::string& part : parts) result += "/" + part;
  return result.empty() ? "/" : result;
}

bool ReplaceTarget(FileHandle& temp, FileHandle& held, const std::string& tempPath,
                   const std::string& target) {
  // The data must be on the device before the name points at it, or a crash
  // right after the rename could leave an empty target.
  if (::fsync(Fd(temp)) != 0) return false;
  // An in-place rewrite would have kept the file's permissions; so does this.
  struct stat info;
  if (held != kNoFile && ::fstat(Fd(held), &info) == 0) ::fchmod(Fd(temp), info.st_mode & 07777);
  std::string real = ReplacementTarget(target);
  if (::rename(tempPath.c_str(), real.c_str()) != 0) return false;
  // Make the rename itself durable; a failure here changes nothing visible.
  int folder = ::open(FolderOf(real).c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
  if (folder >= 0) {
    ::fsync(folder);
    CloseQuietly(folder);
  }
  Close(temp);
  temp = kNoFile;
  if (held != kNoFile) {
    Close(held);
    held = kNoFile;
  }
  return true;
}

}  // namespace zm::platform
