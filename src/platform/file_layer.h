// The thin layer between the resource streams and the operating system's
// file services. One implementation per system (posix_file.cpp,
// win32_file.cpp); the streams above it never see an OS call.
//
// Every open is exclusive: while the library holds a file, no other open of
// it through this layer succeeds. On Windows that is the system's own "no
// sharing"; on POSIX systems it is an exclusive lock taken before the file is
// changed in any way, so a refused open never harms the file.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace zm::platform {

// A POSIX descriptor or a Win32 HANDLE value.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

enum class Access { Read, Write, ReadWrite };

// Outcome of a transfer. `ok` false: the system reported an error. `ok` true
// with `done` below the request: the end of the file (reads) or a full device
// (writes) stopped the transfer.
struct IoResult {
  bool ok;
  int32_t done;
};

// What HoldTarget found at a path that is about to be replaced.
enum class HoldResult { Held, Absent, Failed };

// Opens an existing file (never a directory) exclusively; kNoFile on failure.
FileHandle OpenExisting(const std::string& path, Access access);

// Takes hold of the file at `path` the way a writer would, without changing
// it, so that nobody else opens it while its replacement is written beside it.
// Absent: nothing there. Failed: it exists but cannot be held (held elsewhere,
// not writable, a directory).
HoldResult HoldTarget(const std::string& path, FileHandle& held);

// Creates a new, empty, exclusively opened file with a unique name in the
// folder of `target`, for reading and writing; its path goes to `tempPath`.
// kNoFile on failure.
FileHandle CreateTempBeside(const std::string& target, std::string& tempPath);

IoResult Read(FileHandle file, void* buffer, int32_t count);
IoResult Write(FileHandle file, const void* buffer, int32_t count);

// Positions are 32-bit; a position the type cannot hold is a failure.
bool Tell(FileHandle file, int32_t& position);
bool Seek(FileHandle file, int32_t position);
bool SeekEnd(FileHandle file, int32_t& position);
// Cuts or extends the file to `length` bytes; the position stays where it was.
bool Truncate(FileHandle file, int32_t length);
bool Flush(FileHandle file);
void Close(FileHandle file);

bool Delete(const std::string& path);
// True when something of that name exists (a directory too: opening it then
// fails, which gives the clearer message).
bool Exists(const std::string& path);
// The absolute, normalised form of `name`; relative names are taken against
// the current directory.
std::string FullPath(const std::string& name);

// Replaces `target` by the file at `tempPath` in one step, so that the target
// is either the old file or the complete new one. `temp` is the open
// temporary file, `held` the hold on the old target (or kNoFile). On success
// both handles are closed and set to kNoFile. On failure the handles may have
// been closed (they are then set to kNoFile); the temporary file is left for
// the caller to delete.
bool ReplaceTarget(FileHandle& temp, FileHandle& held, const std::string& tempPath,
                   const std::string& target);

// Owns a handle and closes it when it goes.
class UniqueFile {
 public:
  UniqueFile() = default;
  explicit UniqueFile(FileHandle handle) : handle_(handle) {}
  ~UniqueFile() { Reset(); }
  UniqueFile(UniqueFile&& other) noexcept : handle_(std::exchange(other.handle_, kNoFile)) {}
  UniqueFile& operator=(UniqueFile&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, kNoFile);
    }
    return *this;
  }
  UniqueFile(const UniqueFile&) = delete;
  UniqueFile& operator=(const UniqueFile&) = delete;

  FileHandle Get() const { return handle_; }
  FileHandle& Ref() { return handle_; }
  bool IsOpen() const { return handle_ != kNoFile; }
  void Reset(FileHandle handle = kNoFile) {
    if (handle_ != kNoFile) Close(handle_);
    handle_ = handle;
  }

 private:
  FileHandle handle_ = kNoFile;
};

}  // namespace zm::platform
