// The thin layer between the resource streams and the operating system's
// file services. One implementation per system (posix_file.cpp,
// win32_file.cpp); the streams above it never see an OS call.
//
// Every open is exclusive: while the library holds a file, no other open of
// it through this layer succeeds. On Windows that is the system's own "no
// sharing"; on POSIX systems it is an exclusive lock taken before the file is
// changed in any way, so a refused open never harms the file.
//
// Every system call of the layer can be made to fail by the test seam of
// platform/call_failures.h.
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

// What HoldTarget found at a path that is about to be created.
enum class Target {
  Absent,   // nothing there yet: the new file is written beside and moved in
  Replace,  // a regular file with one name: replaced in one step, the same way
  Rewrite,  // a regular file with more names (hard links): emptied and
            // rewritten through `held`, so that every name sees the content
  Stream,   // a device, FIFO or the like: written through `held` as it is
  Failed,   // there but not writable now (held elsewhere, read-only, a
            // directory, a FIFO without a reader, a socket)
};

// Opens an existing file (never a directory) exclusively; kNoFile on failure.
FileHandle OpenExisting(const std::string& path, Access access);

// Takes hold of whatever is at `path` the way a writer would, without
// changing it, and says how it must be written. Replace, Rewrite and Stream
// leave it open for writing in `held`, so that nobody else opens it while
// the new content is prepared; the other results leave `held` as kNoFile.
// Never waits: a FIFO without a reader is Failed at once.
Target HoldTarget(const std::string& path, FileHandle& held);

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
// Pushes what the system buffers to the device; devices and pipes that
// cannot be synced count as flushed.
bool Flush(FileHandle file);
// Closes the handle in every case; false when the system reported an error
// (some file systems report failed writes only here).
bool Close(FileHandle file);

bool Delete(const std::string& path);
// True when something of that name exists (a directory too: opening it then
// fails, which gives the clearer message).
bool Exists(const std::string& path);
// The full path of `name` for messages: the folder part resolved by the
// system (symbolic links and ".." as the system follows them), then the last
// name. Opening is always done with `name` itself. A folder that does not
// resolve is shown joined to the current directory and normalised as text.
std::string FullPath(const std::string& name);

// Replaces `target` by the file at `tempPath` in one step, so that the target
// is either the old file or the complete new one; the new file takes the
// owner, group and permissions of the old one (`held`, or kNoFile when there
// was none) as far as the system allows. `temp` is the open temporary file,
// already flushed. On success both handles are closed and set to kNoFile. On
// failure the handles may have been closed (they are then set to kNoFile);
// the temporary file is left for the caller to delete. Held: someone else
// took the target in between (Windows cannot replace a file that is open).
enum class Replaced { Done, Held, Failed };
Replaced ReplaceTarget(FileHandle& temp, FileHandle& held, const std::string& tempPath,
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
  // Gives the handle up without closing it.
  FileHandle Release() { return std::exchange(handle_, kNoFile); }
  void Reset(FileHandle handle = kNoFile) {
    if (handle_ != kNoFile) Close(handle_);
    handle_ = handle;
  }

 private:
  FileHandle handle_ = kNoFile;
};

}  // namespace zm::platform
