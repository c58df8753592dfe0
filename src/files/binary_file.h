// An operating-system file as a resource.
//
// Every open is exclusive (no other open of the file succeeds while it is
// held). A file opened with rmCreate is never written piecemeal into its
// target; what the target is decides how it gets its content:
//   - nothing there, or a regular file with one name: the resource writes a
//     temporary file beside it, and Commit() puts that in the target's place
//     in one step (keeping the old file's owner, group and permissions);
//   - a regular file with more names (hard links), a device or a FIFO: the
//     target is opened at once (so a refusal comes before any work), the
//     content is built in memory, and Commit() writes it out in one pass from
//     the start, emptying a regular file first. Writers that go back to patch
//     earlier bytes therefore never seek on such a target.
// Destroyed uncommitted, the resource leaves the target exactly as it was and
// no temporary file behind. After Commit() it is closed: further operations
// fail with ERscClosed, and Commit() again does nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "files/binary_buffer.h"
#include "files/resource.h"
#include "platform/file_layer.h"

namespace zm {

class TBinaryFile : public TBinaryResource {
 public:
  // Opens, creates or erases `path` per `mode`; `name`, its full path, names
  // the file in every message (it becomes `Name`). On failure nothing is
  // left open or behind.
  TBinaryFile(std::string name, std::string path, int32_t mode);
  ~TBinaryFile() override = default;

  bool Eof() override;
  int32_t GetPosition() override;
  void SetPosition(int32_t position) override;
  int32_t GetLength() override;
  void SetLength(int32_t length) override;
  void Read(void* buffer, int32_t count) override;
  void Write(const void* buffer, int32_t count) override;
  void Flush() override;
  void Commit() override;

  bool Opened() const { return opened_; }
  bool Erased() const { return erased_; }
  // The target is written in place at commit (see above).
  bool WritesInPlace() const { return staged_ != nullptr; }

 private:
  // Deletes the temporary file of an uncommitted create when it goes.
  struct TempPath {
    std::string path;
    TempPath() = default;
    TempPath(const TempPath&) = delete;
    TempPath& operator=(const TempPath&) = delete;
    ~TempPath() {
      if (!path.empty()) platform::Delete(path);
    }
  };

  // Fails unless the resource holds an open file or staged content.
  void RequireOpen();
  void OpenForCreate();
  void CommitReplacement();
  void CommitInPlace();

  std::string path_;  // the name the system opens: as given, never rewritten
  bool opened_ = false;
  bool erased_ = false;
  bool emptyAtCommit_ = false;  // in place: a regular file, emptied first
  // Declared before the handles so that they are closed before the
  // temporary file is deleted (Windows cannot delete an open file).
  TempPath temp_;
  platform::UniqueFile held_;              // the existing target while a create is pending
  platform::UniqueFile file_;              // the OS handle of every operation (not in place)
  std::unique_ptr<TBinaryBuffer> staged_;  // in place: the content until commit
};

}  // namespace zm
