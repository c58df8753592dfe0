// Resource streams: every file the library reads or writes goes through a
// TResource opened by name. Names beginning with "mem:" open a throw-away
// memory buffer; anything else is an operating-system file. Every failure
// raises an exception whose message names the resource.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/exception.h"

namespace zm {

enum TOpenMode : int32_t {
  rmRead = 0,       // existing file, read access
  rmWrite = 1,      // existing file, write access
  rmReadWrite = 2,  // existing file, read and write access
  rmCreate = 3,     // new or emptied file, read and write access
  rmAppend = 4,     // existing file, write access, positioned at its end
  rmErase = 5,      // deletes the file; the resource then holds nothing
};

class TResource {
 public:
  TResource(std::string name, int32_t mode) : Name(std::move(name)), Mode(mode) {}
  virtual ~TResource() = default;

  TResource(const TResource&) = delete;
  TResource& operator=(const TResource&) = delete;

  virtual bool CanRead() const;
  virtual bool CanWrite() const;
  virtual bool Eof() = 0;
  virtual int32_t GetPosition() = 0;
  virtual void SetPosition(int32_t position) = 0;
  virtual int32_t GetLength() = 0;
  virtual void SetLength(int32_t length) = 0;
  // Fills exactly `count` bytes or fails; after a short read the bytes that
  // did arrive are in the buffer and the position is past them.
  virtual void Read(void* buffer, int32_t count) = 0;
  // Writes exactly `count` bytes or fails.
  virtual void Write(const void* buffer, int32_t count) = 0;
  virtual void Flush() {}
  // A resource opened with rmCreate gives its target the new content only
  // here, once the whole job has succeeded: a plain file is replaced in one
  // step, a device, FIFO or hard-linked file is written in place in one pass
  // (binary_file.h). Destroying it uncommitted leaves any existing target
  // untouched. A committed file resource is closed: any further operation
  // raises ERscClosed, and a second Commit() does nothing. Other resources
  // have nothing to commit.
  virtual void Commit() {}

  std::string Name;  // a file's full path, or "mem:"
  int32_t Mode;
};

// Byte-oriented resources.
class TBinaryResource : public TResource {
 public:
  using TResource::TResource;
};

// Opens `name` in `mode`; the caller owns the result and destroys it to close.
std::unique_ptr<TResource> RscOpen(const std::string& name, int32_t mode);
inline std::unique_ptr<TResource> RscOpenRead(const std::string& name) {
  return RscOpen(name, rmRead);
}
inline std::unique_ptr<TResource> RscOpenCreate(const std::string& name) {
  return RscOpen(name, rmCreate);
}

// Prefixes tried in order when an existing resource is opened by name; it
// holds only the empty prefix, so names are used as given.
const std::vector<std::string>& ResourceSearchPaths();

// Stream failures. Each names its resource in the message.
class ERscNotFound : public Exception {
  using Exception::Exception;
};
class ERscErased : public Exception {
  using Exception::Exception;
};
class ERscFileOpenFailed : public Exception {
  using Exception::Exception;
};
class ERscInvalidMode : public Exception {
  using Exception::Exception;
};
class ERscReadPastEnd : public Exception {
  using Exception::Exception;
};
class ERscReadDenied : public Exception {
  using Exception::Exception;
};
class ERscWriteDenied : public Exception {
  using Exception::Exception;
};
class ERscFileReadError : public Exception {
  using Exception::Exception;
};
class ERscFileWriteError : public Exception {
  using Exception::Exception;
};
class ERscFileEraseError : public Exception {
  using Exception::Exception;
};
class ERscFileFlushError : public Exception {
  using Exception::Exception;
};
class ERscSetFilePosError : public Exception {
  using Exception::Exception;
};
class ERscGetFilePosError : public Exception {
  using Exception::Exception;
};
class ERscSetFileSizeError : public Exception {
  using Exception::Exception;
};
class ERscGetFileSizeError : public Exception {
  using Exception::Exception;
};
class ERscDiskFull : public Exception {
  using Exception::Exception;
};
// An operation on a file resource after Commit() closed it.
class ERscClosed : public Exception {
  using Exception::Exception;
};

namespace msg::rscopen {
inline constexpr MessageText sRscNotFound{"Resource \"%s\" not found"};
}  // namespace msg::rscopen

namespace msg::rsc {
inline constexpr MessageText sRscErased{"Cannot work with erased resource \"%s\""};
inline constexpr MessageText sRscFileOpenFailed{"File open error (\"%s\", mode %d)"};
inline constexpr MessageText sRscInvalidMode{"Invalid resource open mode (\"%s\", mode %d)"};
inline constexpr MessageText sRscReadPastEnd{"Read past end of resource \"%s\""};
inline constexpr MessageText sRscReadDenied{"Resource \"%s\" cannot be read"};
inline constexpr MessageText sRscWriteDenied{"Resource \"%s\" cannot be written"};
inline constexpr MessageText sRscFileReadError{"File read error (\"%s\")"};
inline constexpr MessageText sRscFileWriteError{"File write error (\"%s\")"};
inline constexpr MessageText sRscFileEraseError{"File erase error (\"%s\")"};
inline constexpr MessageText sRscFileFlushError{"File flush error (\"%s\")"};
inline constexpr MessageText sRscSetFilePosError{"File position %d set error (\"%s\")"};
inline constexpr MessageText sRscGetFilePosError{"File position get error (\"%s\")"};
inline constexpr MessageText sRscSetFileSizeError{"Error setting file length to %d (\"%s\")"};
inline constexpr MessageText sRscGetFileSizeError{"Error getting file length (\"%s\")"};
inline constexpr MessageText sRscDiskFull{"Disk full writing %d bytes to \"%s\""};
inline constexpr MessageText sRscInvalidPosition{"Invalid seek position %d (\"%s\")"};
inline constexpr MessageText sRscInvalidLength{"Invalid new length %d (\"%s\")"};
inline constexpr MessageText sRscInvalidCount{"Invalid data count %d (\"%s\")"};
inline constexpr MessageText sRscClosed{"Resource \"%s\" is closed"};
}  // namespace msg::rsc

}  // namespace zm
