// File layer for POSIX systems.
//
// POSIX has no "no sharing" open, so every file the library opens is locked
// with flock(LOCK_EX | LOCK_NB) right after open(). flock locks belong to the
// open file description, so a second open inside this same process conflicts
// too, which is what the streams need. Nothing ever truncates on open: the
// lock comes first, and a refused open leaves the file exactly as it was.
//
// Every system call goes through Sys(), where the test seam can make it fail.

// 64-bit file sizes and inode numbers in 32-bit builds too: without them,
// open() and fstat() fail with EOVERFLOW on any file over 2 GiB, and fstat()
// on every file of a file system with large inode numbers.
#define _FILE_OFFSET_BITS 64

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/call_failures.h"
#include "platform/file_layer.h"

namespace zm::platform {

namespace {

int Fd(FileHandle file) {
  return static_cast<int>(file);
}

// Runs one system call, unless the test seam fails it with EIO. Every call
// here returns -1 on failure.
template <typename Call>
auto Sys(Call call) -> decltype(call()) {
  if (CallFails()) {
    errno = EIO;
    return -1;
  }
  return call();
}

// The descriptor is gone after close() whatever it reports, EINTR included,
// so it is never retried; a failure the seam makes up closes it all the same.
bool CloseDescriptor(int fd) {
  const bool failed = CallFails();
  return ::close(fd) == 0 && !failed;
}

// Closes `fd` without disturbing errno-based decisions already taken.
void CloseQuietly(int fd) {
  if (fd < 0) return;
  int saved = errno;
  CloseDescriptor(fd);
  errno = saved;
}

// Makes a freshly opened descriptor what every open of the layer gives:
// blocking, not a directory (which fails here with the open error instead of
// later with a puzzling read error), and exclusively locked. Closes it and
// returns false when any of that fails.
bool Settle(int fd) {
  int status = Sys([&] { return ::fcntl(fd, F_GETFL); });
  struct stat info;
  if (status == -1 || Sys([&] { return ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK); }) != 0 ||
      Sys([&] { return ::fstat(fd, &info); }) != 0) {
    CloseQuietly(fd);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    CloseQuietly(fd);
    errno = EISDIR;
    return false;
  }
  if (Sys([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
    CloseQuietly(fd);
    return false;
  }
  return true;
}

int OpenRaw(const std::string& path, int flags, mode_t create_mode = 0) {
  int fd;
  // O_NONBLOCK only for the open itself (Settle clears it): a FIFO without
  // a partner would otherwise hang the caller here; for writing it fails
  // with ENXIO instead.
  do {
    fd = Sys([&] {
      return ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, create_mode);
    });
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens an existing file and settles it; -1 on failure.
int OpenLocked(const std::string& path, int flags) {
  int fd = OpenRaw(path, flags);
  return fd >= 0 && Settle(fd) ? fd : -1;
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

// The system's own resolution of a path that exists; empty when it does not.
std::string Resolved(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::string();
  std::string result(resolved);
  ::free(resolved);
  return result;
}

// Where a replacement of `target` really has to go: a symbolic link is
// followed, so that saving through it updates the file it points to instead
// of turning the link into a plain file.
std::string ReplacementTarget(const std::string& target) {
  struct stat info;
  if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
  std::string resolved = Resolved(target);
  return resolved.empty() ? target : resolved;
}

bool Interrupted(ssize_t result) {
  return result < 0 && errno == EINTR;
}

// Writing to a FIFO whose reader has gone raises SIGPIPE, which would end
// the host process. The signal is blocked on this thread for the write and,
// when the write raised it, taken back before the old mask returns; a
// SIGPIPE that was already pending is left alone.
class SigpipeBlocked {
 public:
  SigpipeBlocked() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    wasPending_ = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    blocked_ = ::pthread_sigmask(SIG_BLOCK, &pipe_, &old_) == 0;
  }
  ~SigpipeBlocked() {
    if (blocked_) ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeBlocked(const SigpipeBlocked&) = delete;
  SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

  // After a write failed with EPIPE.
  void TakeBack() {
    if (!blocked_ || wasPending_) return;
    int saved = errno;
    const struct timespec now = {0, 0};
    while (::sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
    }
    errno = saved;
  }

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool wasPending_ = false;
  bool blocked_ = false;
};

}  // namespace

FileHandle OpenExisting(const std::string& path, Access access) {
  int flags = access == Access::Read ? O_RDONLY : access == Access::Write ? O_WRONLY : O_RDWR;
  int fd = OpenLocked(path, flags);
  return fd < 0 ? kNoFile : fd;
}

Target HoldTarget(const std::string& path, FileHandle& held) {
  held = kNoFile;
  // Opened for writing so that a target we could not write is refused here,
  // before anything is prepared for it.
  int fd = OpenLocked(path, O_WRONLY);
  if (fd < 0) return errno == ENOENT ? Target::Absent : Target::Failed;
  struct stat info;
  if (Sys([&] { return ::fstat(fd, &info); }) != 0) {
    CloseQuietly(fd);
    return Target::Failed;
  }
  held = fd;
  if (!S_ISREG(info.st_mode)) return Target::Stream;
  return info.st_nlink > 1 ? Target::Rewrite : Target::Replace;
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
    int fd = OpenRaw(candidate, O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return kNoFile;
    }
    // Created, so ours to remove again if it cannot be used.
    if (!Settle(fd)) {
      Sys([&] { return ::unlink(candidate.c_str()); });
      return kNoFile;
    }
    tempPath = candidate;
    return fd;
  }
  return kNoFile;
}

IoResult Read(FileHandle file, void* buffer, int32_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  int32_t done = 0;
  while (done < count) {
    ssize_t got =
        Sys([&] { return ::read(Fd(file), bytes + done, static_cast<size_t>(count - done)); });
    if (Interrupted(got)) continue;
    if (got < 0) return {false, done};
    if (got == 0) break;
    done += static_cast<int32_t>(got);
  }
  return {true, done};
}

IoResult Write(FileHandle file, const void* buffer, int32_t count) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  SigpipeBlocked sigpipe;
  int32_t done = 0;
  while (done < count) {
    ssize_t put =
        Sys([&] { return ::write(Fd(file), bytes + done, static_cast<size_t>(count - done)); });
    if (Interrupted(put)) continue;
    if (put < 0) {
      if (errno == EPIPE) sigpipe.TakeBack();
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
  off_t at = Sys([&] { return ::lseek(Fd(file), 0, SEEK_CUR); });
  if (at < 0 || at > INT32_MAX) return false;
  position = static_cast<int32_t>(at);
  return true;
}

bool Seek(FileHandle file, int32_t position) {
  return Sys([&] { return ::lseek(Fd(file), static_cast<off_t>(position), SEEK_SET); }) >= 0;
}

bool SeekEnd(FileHandle file, int32_t& position) {
  off_t at = Sys([&] { return ::lseek(Fd(file), 0, SEEK_END); });
  if (at < 0 || at > INT32_MAX) return false;
  position = static_cast<int32_t>(at);
  return true;
}

bool Truncate(FileHandle file, int32_t length) {
  int result;
  do {
    result = Sys([&] { return ::ftruncate(Fd(file), static_cast<off_t>(length)); });
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool Flush(FileHandle file) {
  if (Sys([&] { return ::fsync(Fd(file)); }) == 0) return true;
  // Devices and pipes cannot be synced; there is nothing buffered to lose.
  return errno == EINVAL || errno == EROFS;
}

bool Close(FileHandle file) {
  return CloseDescriptor(Fd(file));
}

bool Delete(const std::string& path) {
  // Windows refuses to delete a file that someone holds open; do the same for
  // files the library holds, so that erasing a file in use fails there too.
  int fd = Sys([&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY); });
  if (fd >= 0) {
    bool held = Sys([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0 && errno == EWOULDBLOCK;
    CloseQuietly(fd);
    if (held) return false;
  }
  return Sys([&] { return ::unlink(path.c_str()); }) == 0;
}

bool Exists(const std::string& path) {
  struct stat info;
  return Sys([&] { return ::stat(path.c_str(), &info); }) == 0;
}

namespace {

std::string CurrentFolder() {
  std::vector<char> cwd(256);
  while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    cwd.resize(cwd.size() * 2);
  }
  return std::string(cwd.data());
}

// `name` joined to the current folder, "." and ".." taken as text. Only for
// a name whose folder does not exist, where nothing can be opened anyway.
std::string TextualFullPath(const std::string& name) {
  const std::string joined = !name.empty() && name[0] == '/' ? name : CurrentFolder() + "/" + name;
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

}  // namespace

std::string FullPath(const std::string& name) {
  // The last name stays as given (it may not exist yet, or be a link that
  // a save must go through); everything before it is the system's view.
  std::string folder = FolderOf(name);
  std::string last = BaseOf(name);
  if (last.empty() || last == "." || last == "..") {
    folder = name;
    last.clear();
  }
  std::string resolved = Resolved(folder.empty() ? "." : folder);
  if (resolved.empty()) return TextualFullPath(name);
  if (last.empty()) return resolved;
  return resolved == "/" ? "/" + last : resolved + "/" + last;
}

Replaced ReplaceTarget(FileHandle& temp, FileHandle& held, const std::string& tempPath,
                       const std::string& target) {
  // Rewriting the file in place would have kept its owner, group and
  // permissions; so does this. The owner goes first, since a change of owner
  // clears the set-id bits. Those bits are kept only when the owner could be
  // kept too: a set-id file must never change hands.
  if (held != kNoFile) {
    struct stat info;
    if (Sys([&] { return ::fstat(Fd(held), &info); }) != 0) return Replaced::Failed;
    bool owned = Sys([&] { return ::fchown(Fd(temp), info.st_uid, info.st_gid); }) == 0;
    mode_t mode = info.st_mode & (owned ? 07777 : 0777);
    if (Sys([&] { return ::fchmod(Fd(temp), mode); }) != 0) return Replaced::Failed;
  }
  std::string real = ReplacementTarget(target);
  // rename() pays no heed to flock, so nobody else's hold can refuse it.
  if (Sys([&] { return ::rename(tempPath.c_str(), real.c_str()); }) != 0) return Replaced::Failed;
  // From here on the target is the new file, whose data the caller has
  // flushed; nothing that follows can undo that, so nothing fails any more.
  // Make the rename itself durable where the system allows.
  int folder =
      Sys([&] { return ::open(FolderOf(real).c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY); });
  if (folder >= 0) {
    Sys([&] { return ::fsync(folder); });
    CloseQuietly(folder);
  }
  CloseQuietly(Fd(temp));
  temp = kNoFile;
  if (held != kNoFile) {
    CloseQuietly(Fd(held));
    held = kNoFile;
  }
  return Replaced::Done;
}

}  // namespace zm::platform
