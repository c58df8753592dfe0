// An operating-system file as a resource.
//
// Every open is exclusive (no other open of the file succeeds while it is
// held). A file opened with rmCreate is not written in place: the resource
// writes a temporary file beside the target and Commit() puts it in the
// target's place in one step; destroyed uncommitted, it removes the temporary
// file and the target stays exactly as it was. After Commit() the resource is
// closed: further operations fail with ERscClosed, and Commit() again does
// nothing.
#pragma once

#include <cstdint>
#include <string>

#include "files/resource.h"
#include "platform/file_layer.h"

namespace zm {

class TBinaryFile : public TBinaryResource {
 public:
  // `name` is the full path (it becomes `Name`). Opens, creates or erases per
  // `mode`; on failure nothing is left open or behind.
  TBinaryFile(std::string name, int32_t mode);
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

  // Fails unless the resource holds an open file.
  void RequireFile();
  void OpenForCreate();

  bool opened_ = false;
  bool erased_ = false;
  // Declared before the handles so that they are closed before the
  // temporary file is deleted (Windows cannot delete an open file).
  TempPath temp_;
  platform::UniqueFile held_;  // the existing target while a create is pending
  platform::UniqueFile file_;  // the OS handle all operations work on
};

}  // namespace zm
