// File layer for Windows, on the kernel's ANSI file services. Every handle is
// opened with share mode 0, so the system itself refuses any other open of a
// file while the library holds it. Positions are 32-bit (SetFilePointer
// without the high part).
//
// Every system call goes through Sys(), where the test seam can make it fail.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <climits>
#include <string>
#include <vector>

#include "platform/call_failures.h"
#include "platform/file_layer.h"

namespace zm::platform {

namespace {

// Runs one system call, unless the test seam fails it: then `failed` is
// returned, with a device error as the last error.
template <typename Call, typename Result>
Result Sys(Call call, Result failed) {
  if (CallFails()) {
    SetLastError(ERROR_GEN_FAILURE);
    return failed;
  }
  return call();
}

HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
  return Sys(
      [&] {
        return CreateFileA(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
      },
      INVALID_HANDLE_VALUE);
}

HANDLE H(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}
FileHandle F(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

DWORD AccessFlags(Access access) {
  switch (access) {
    case Access::Read:
      return GENERIC_READ;
    case Access::Write:
      return GENERIC_WRITE;
    default:
      return GENERIC_READ | GENERIC_WRITE;
  }
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// SetFilePointer in its 32-bit form: INVALID_SET_FILE_POINTER is also a
// legal low part, so only GetLastError tells a failure apart.
bool MovePointer(FileHandle file, LONG distance, DWORD method, int32_t& position) {
  SetLastError(NO_ERROR);
  DWORD at = Sys([&] { return SetFilePointer(H(file), distance, nullptr, method); },
                 INVALID_SET_FILE_POINTER);
  if (at == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
  if (at > static_cast<DWORD>(INT32_MAX)) return false;
  position = static_cast<int32_t>(at);
  return true;
}

bool DeviceFull(DWORD error) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

}  // namespace

FileHandle OpenExisting(const std::string& path, Access access) {
  return F(Open(path, AccessFlags(access), OPEN_EXISTING));
}

Target HoldTarget(const std::string& path, FileHandle& held) {
  held = F(Open(path, GENERIC_WRITE, OPEN_EXISTING));
  if (held == kNoFile) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? Target::Absent : Target::Failed;
  }
  const DWORD type = Sys([&] { return GetFileType(H(held)); }, DWORD{FILE_TYPE_UNKNOWN});
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) return Target::Stream;
  BY_HANDLE_FILE_INFORMATION info;
  if (type != FILE_TYPE_DISK ||
      !Sys([&] { return GetFileInformationByHandle(H(held), &info); }, FALSE)) {
    Close(held);
    held = kNoFile;
    return Target::Failed;
  }
  return info.nNumberOfLinks > 1 ? Target::Rewrite : Target::Replace;
}

FileHandle CreateTempBeside(const std::string& target, std::string& tempPath) {
  static std::atomic<unsigned> counter{0};
  std::string prefix = FolderOf(target) + "\\." + BaseOf(target).substr(0, 200) + ".zmtmp-" +
                       std::to_string(static_cast<unsigned long>(GetCurrentProcessId())) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = prefix + std::to_string(counter.fetch_add(1));
    HANDLE handle = Open(candidate, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    if (handle != INVALID_HANDLE_VALUE) {
      tempPath = candidate;
      return F(handle);
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return kNoFile;
  }
  return kNoFile;
}

IoResult Read(FileHandle file, void* buffer, int32_t count) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  int32_t done = 0;
  while (done < count) {
    DWORD got = 0;
    if (!Sys(
            [&] {
              return ReadFile(H(file), bytes + done, static_cast<DWORD>(count - done), &got,
                              nullptr);
            },
            FALSE)) {
      return {GetLastError() == ERROR_HANDLE_EOF, done};
    }
    if (got == 0) break;
    done += static_cast<int32_t>(got);
  }
  return {true, done};
}

IoResult Write(FileHandle file, const void* buffer, int32_t count) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  int32_t done = 0;
  while (done < count) {
    DWORD put = 0;
    if (!Sys(
            [&] {
              return WriteFile(H(file), bytes + done, static_cast<DWORD>(count - done), &put,
                               nullptr);
            },
            FALSE)) {
      // A full device is a short write, reported as such by the caller.
      return {DeviceFull(GetLastError()), done + static_cast<int32_t>(put)};
    }
    if (put == 0) break;
    done += static_cast<int32_t>(put);
  }
  return {true, done};
}

bool Tell(FileHandle file, int32_t& position) {
  return MovePointer(file, 0, FILE_CURRENT, position);
}

bool Seek(FileHandle file, int32_t position) {
  int32_t at;
  return MovePointer(file, static_cast<LONG>(position), FILE_BEGIN, at);
}

bool SeekEnd(FileHandle file, int32_t& position) {
  return MovePointer(file, 0, FILE_END, position);
}

bool Truncate(FileHandle file, int32_t length) {
  // SetEndOfFile works at the file pointer: move there, cut, and come back.
  int32_t position;
  if (!Tell(file, position)) return false;
  bool done = Seek(file, length) && Sys([&] { return SetEndOfFile(H(file)); }, FALSE);
  bool restored = Seek(file, position);
  return done && restored;
}

bool Flush(FileHandle file) {
  if (Sys([&] { return FlushFileBuffers(H(file)); }, FALSE)) return true;
  // Devices (NUL, CON) and pipes have nothing of ours buffered to lose.
  return GetFileType(H(file)) != FILE_TYPE_DISK;
}

bool Close(FileHandle file) {
  if (CallFails()) {
    // The handle still goes, as a failing close would leave it closed.
    CloseHandle(H(file));
    return false;
  }
  return CloseHandle(H(file)) != 0;
}

bool Delete(const std::string& path) {
  return Sys([&] { return DeleteFileA(path.c_str()); }, FALSE) != 0;
}

bool Exists(const std::string& path) {
  // GetFileAttributesA rather than FindFirstFileA: the latter would treat
  // "*" and "?" in a name as wildcards and "find" files that were never named.
  return !path.empty() && Sys([&] { return GetFileAttributesA(path.c_str()); },
                              INVALID_FILE_ATTRIBUTES) != INVALID_FILE_ATTRIBUTES;
}

std::string FullPath(const std::string& name) {
  // GetFullPathNameA joins a relative name to the current directory and
  // resolves "." and ".." itself.
  std::vector<char> buffer(MAX_PATH + 1);
  for (;;) {
    DWORD length =
        GetFullPathNameA(name.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return name;
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

Replaced ReplaceTarget(FileHandle& temp, FileHandle& held, const std::string& tempPath,
                       const std::string& target) {
  // Windows refuses to move onto or from a file that is open, so both
  // handles go first. The data is on the device already (the caller
  // flushed it), so a failing close loses nothing.
  Close(temp);
  temp = kNoFile;
  if (held != kNoFile) {
    Close(held);
    held = kNoFile;
  }
  if (Sys(
          [&] {
            return MoveFileExA(tempPath.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
          },
          FALSE)) {
    return Replaced::Done;
  }
  // Another caller opened the target once it was let go: it holds it now,
  // which is what an open refused because of a holder reports too.
  const DWORD error = GetLastError();
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ? Replaced::Held
                                                                          : Replaced::Failed;
}

}  // namespace zm::platform
