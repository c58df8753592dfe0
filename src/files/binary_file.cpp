#include "files/binary_file.h"

namespace zm {

TBinaryFile::TBinaryFile(std::string name, int32_t mode) : TBinaryResource(std::move(name), mode) {
  if (Mode < rmRead || Mode > rmErase) {
    throw ERscInvalidMode(Format(msg::rsc::sRscInvalidMode, {Name, Mode}));
  }
  if (Mode == rmErase) {
    if (!platform::Delete(Name))
      throw ERscFileEraseError(Format(msg::rsc::sRscFileEraseError, {Name}));
    erased_ = true;
    return;
  }
  if (Mode == rmCreate) {
    OpenForCreate();
  } else {
    platform::Access access = Mode == rmRead        ? platform::Access::Read
                              : Mode == rmReadWrite ? platform::Access::ReadWrite
                                                    : platform::Access::Write;
    file_.Reset(platform::OpenExisting(Name, access));
    if (!file_.IsOpen()) {
      throw ERscFileOpenFailed(Format(msg::rsc::sRscFileOpenFailed, {Name, Mode}));
    }
  }
  opened_ = true;
  if (Mode == rmAppend) SetPosition(GetLength());
}

void TBinaryFile::OpenForCreate() {
  // The target is held, untouched, for as long as its replacement is being
  // written, so that it is refused to everyone else exactly as a file
  // emptied in place would be, and so that a target held elsewhere refuses
  // the create before anything is written.
  if (platform::HoldTarget(Name, held_.Ref()) == platform::HoldResult::Failed) {
    throw ERscFileOpenFailed(Format(msg::rsc::sRscFileOpenFailed, {Name, Mode}));
  }
  file_.Reset(platform::CreateTempBeside(Name, temp_.path));
  if (!file_.IsOpen()) {
    throw ERscFileOpenFailed(Format(msg::rsc::sRscFileOpenFailed, {Name, Mode}));
  }
}

void TBinaryFile::RequireFile() {
  if (!file_.IsOpen()) throw ERscClosed(Format(msg::rsc::sRscClosed, {Name}));
}

bool TBinaryFile::Eof() {
  return GetLength() <= GetPosition();
}

int32_t TBinaryFile::GetPosition() {
  if (erased_) throw ERscErased(Format(msg::rsc::sRscErased, {Name}));
  RequireFile();
  int32_t position;
  if (!platform::Tell(file_.Get(), position)) {
    throw ERscGetFilePosError(Format(msg::rsc::sRscGetFilePosError, {Name}));
  }
  return position;
}

void TBinaryFile::SetPosition(int32_t position) {
  if (erased_) throw ERscErased(Format(msg::rsc::sRscErased, {Name}));
  if (position < 0) throw ERangeError(Format(msg::rsc::sRscInvalidPosition, {position, Name}));
  RequireFile();
  if (!platform::Seek(file_.Get(), position)) {
    throw ERscSetFilePosError(Format(msg::rsc::sRscSetFilePosError, {position, Name}));
  }
}

int32_t TBinaryFile::GetLength() {
  if (erased_) throw ERscErased(Format(msg::rsc::sRscErased, {Name}));
  RequireFile();
  int32_t position;
  if (!platform::Tell(file_.Get(), position)) {
    throw ERscGetFileSizeError(Format(msg::rsc::sRscGetFileSizeError, {Name}));
  }
  int32_t length;
  bool measured = platform::SeekEnd(file_.Get(), length);
  // Back to where the caller was, whether or not the end could be found.
  bool restored = platform::Seek(file_.Get(), position);
  if (!measured) throw ERscGetFileSizeError(Format(msg::rsc::sRscGetFileSizeError, {Name}));
  if (!restored) {
    throw ERscSetFilePosError(Format(msg::rsc::sRscSetFilePosError, {position, Name}));
  }
  return length;
}

void TBinaryFile::SetLength(int32_t length) {
  if (!CanWrite()) throw ERscWriteDenied(Format(msg::rsc::sRscWriteDenied, {Name}));
  if (length < 0) throw ERangeError(Format(msg::rsc::sRscInvalidLength, {length, Name}));
  RequireFile();
  if (!platform::Truncate(file_.Get(), length)) {
    throw ERscSetFileSizeError(Format(msg::rsc::sRscSetFileSizeError, {length, Name}));
  }
}

void TBinaryFile::Read(void* buffer, int32_t count) {
  if (!CanRead()) throw ERscReadDenied(Format(msg::rsc::sRscReadDenied, {Name}));
  if (count < 0) throw ERangeError(Format(msg::rsc::sRscInvalidCount, {count, Name}));
  RequireFile();
  platform::IoResult result = platform::Read(file_.Get(), buffer, count);
  if (!result.ok) throw ERscFileReadError(Format(msg::rsc::sRscFileReadError, {Name}));
  if (result.done < count) throw ERscReadPastEnd(Format(msg::rsc::sRscReadPastEnd, {Name}));
}

void TBinaryFile::Write(const void* buffer, int32_t count) {
  if (!CanWrite()) throw ERscWriteDenied(Format(msg::rsc::sRscWriteDenied, {Name}));
  if (count < 0) throw ERangeError(Format(msg::rsc::sRscInvalidCount, {count, Name}));
  RequireFile();
  platform::IoResult result = platform::Write(file_.Get(), buffer, count);
  if (!result.ok) throw ERscFileWriteError(Format(msg::rsc::sRscFileWriteError, {Name}));
  if (result.done < count) throw ERscDiskFull(Format(msg::rsc::sRscDiskFull, {count, Name}));
}

void TBinaryFile::Flush() {
  // An erased or committed resource has nothing left to flush.
  if (!file_.IsOpen()) return;
  if (!platform::Flush(file_.Get())) {
    throw ERscFileFlushError(Format(msg::rsc::sRscFileFlushError, {Name}));
  }
}

void TBinaryFile::Commit() {
  if (Mode != rmCreate || temp_.path.empty()) return;
  RequireFile();
  if (!platform::ReplaceTarget(file_.Ref(), held_.Ref(), temp_.path, Name)) {
    // The target is untouched; the temporary file goes with the resource.
    throw ERscFileWriteError(Format(msg::rsc::sRscFileWriteError, {Name}));
  }
  temp_.path.clear();
  opened_ = false;
}

}  // namespace zm
