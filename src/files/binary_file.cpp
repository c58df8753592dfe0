#include "files/binary_file.h"

namespace zm {

TBinaryFile::TBinaryFile(std::string name, std::string path, int32_t mode)
    : TBinaryResource(std::move(name), mode), path_(std::move(path)) {
  if (Mode < rmRead || Mode > rmErase) {
    throw ERscInvalidMode(Format(msg::rsc::sRscInvalidMode, {Name, Mode}));
  }
  if (Mode == rmErase) {
    if (!platform::Delete(path_))
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
    file_.Reset(platform::OpenExisting(path_, access));
    if (!file_.IsOpen()) {
      throw ERscFileOpenFailed(Format(msg::rsc::sRscFileOpenFailed, {Name, Mode}));
    }
  }
  opened_ = true;
  if (Mode == rmAppend) SetPosition(GetLength());
}

void TBinaryFile::OpenForCreate() {
  // The target is held, untouched, for as long as its new content is being
  // prepared, so that it is refused to everyone else exactly as a file
  // emptied in place would be, and so that a target held elsewhere refuses
  // the create before anything is written.
  const platform::Target target = platform::HoldTarget(path_, held_.Ref());
  switch (target) {
    case platform::Target::Failed:
      throw ERscFileOpenFailed(Format(msg::rsc::sRscFileOpenFailed, {Name, Mode}));
    case platform::Target::Rewrite:
    case platform::Target::Stream:
      // Replacing these would cut a hard link or turn a device into a plain
      // file: they get the content in place, once it is complete.
      staged_ = std::make_unique<TBinaryBuffer>(Name, Mode);
      emptyAtCommit_ = target == platform::Target::Rewrite;
      return;
    case platform::Target::Absent:
    case platform::Target::Replace:
      break;
  }
  file_.Reset(platform::CreateTempBeside(path_, temp_.path));
  if (!file_.IsOpen()) {
    throw ERscFileOpenFailed(Format(msg::rsc::sRscFileOpenFailed, {Name, Mode}));
  }
}

void TBinaryFile::RequireOpen() {
  if (!file_.IsOpen() && !staged_) throw ERscClosed(Format(msg::rsc::sRscClosed, {Name}));
}

bool TBinaryFile::Eof() {
  return GetLength() <= GetPosition();
}

int32_t TBinaryFile::GetPosition() {
  if (erased_) throw ERscErased(Format(msg::rsc::sRscErased, {Name}));
  RequireOpen();
  if (staged_) return staged_->GetPosition();
  int32_t position;
  if (!platform::Tell(file_.Get(), position)) {
    throw ERscGetFilePosError(Format(msg::rsc::sRscGetFilePosError, {Name}));
  }
  return position;
}

void TBinaryFile::SetPosition(int32_t position) {
  if (erased_) throw ERscErased(Format(msg::rsc::sRscErased, {Name}));
  if (position < 0) throw ERangeError(Format(msg::rsc::sRscInvalidPosition, {position, Name}));
  RequireOpen();
  if (staged_) return staged_->SetPosition(position);
  if (!platform::Seek(file_.Get(), position)) {
    throw ERscSetFilePosError(Format(msg::rsc::sRscSetFilePosError, {position, Name}));
  }
}

int32_t TBinaryFile::GetLength() {
  if (erased_) throw ERscErased(Format(msg::rsc::sRscErased, {Name}));
  RequireOpen();
  if (staged_) return staged_->GetLength();
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
  RequireOpen();
  if (staged_) return staged_->SetLength(length);
  if (!platform::Truncate(file_.Get(), length)) {
    throw ERscSetFileSizeError(Format(msg::rsc::sRscSetFileSizeError, {length, Name}));
  }
}

void TBinaryFile::Read(void* buffer, int32_t count) {
  if (!CanRead()) throw ERscReadDenied(Format(msg::rsc::sRscReadDenied, {Name}));
  if (count < 0) throw ERangeError(Format(msg::rsc::sRscInvalidCount, {count, Name}));
  RequireOpen();
  if (staged_) return staged_->Read(buffer, count);
  platform::IoResult result = platform::Read(file_.Get(), buffer, count);
  if (!result.ok) throw ERscFileReadError(Format(msg::rsc::sRscFileReadError, {Name}));
  if (result.done < count) throw ERscReadPastEnd(Format(msg::rsc::sRscReadPastEnd, {Name}));
}

void TBinaryFile::Write(const void* buffer, int32_t count) {
  if (!CanWrite()) throw ERscWriteDenied(Format(msg::rsc::sRscWriteDenied, {Name}));
  if (count < 0) throw ERangeError(Format(msg::rsc::sRscInvalidCount, {count, Name}));
  RequireOpen();
  if (staged_) return staged_->Write(buffer, count);
  platform::IoResult result = platform::Write(file_.Get(), buffer, count);
  if (!result.ok) throw ERscFileWriteError(Format(msg::rsc::sRscFileWriteError, {Name}));
  if (result.done < count) throw ERscDiskFull(Format(msg::rsc::sRscDiskFull, {count, Name}));
}

void TBinaryFile::Flush() {
  // Staged content reaches the device at commit; an erased or committed
  // resource has nothing left to flush.
  if (!file_.IsOpen()) return;
  if (!platform::Flush(file_.Get())) {
    throw ERscFileFlushError(Format(msg::rsc::sRscFileFlushError, {Name}));
  }
}

void TBinaryFile::Commit() {
  if (Mode != rmCreate) return;
  if (staged_) {
    CommitInPlace();
  } else if (!temp_.path.empty()) {
    CommitReplacement();
  }
}

void TBinaryFile::CommitReplacement() {
  RequireOpen();
  // The new content must be on the device before the name points at it, or
  // a crash right after the replacement could leave an empty target.
  Flush();
  // On failure the target is untouched; the temporary file goes with the
  // resource.
  switch (platform::ReplaceTarget(file_.Ref(), held_.Ref(), temp_.path, path_)) {
    case platform::Replaced::Done:
      break;
    case platform::Replaced::Held:
      throw ERscFileOpenFailed(Format(msg::rsc::sRscFileOpenFailed, {Name, Mode}));
    case platform::Replaced::Failed:
      throw ERscFileWriteError(Format(msg::rsc::sRscFileWriteError, {Name}));
  }
  temp_.path.clear();
  opened_ = false;
}

void TBinaryFile::CommitInPlace() {
  // Whatever happens from here, the resource is spent: the content goes out
  // once, and a failure part-way leaves the target as far as it was written.
  std::unique_ptr<TBinaryBuffer> content = std::move(staged_);
  platform::UniqueFile target = std::move(held_);
  opened_ = false;
  if (emptyAtCommit_ && !platform::Truncate(target.Get(), 0)) {
    throw ERscSetFileSizeError(Format(msg::rsc::sRscSetFileSizeError, {0, Name}));
  }
  content->ForEachPiece([&](const uint8_t* bytes, int32_t count) {
    platform::IoResult result = platform::Write(target.Get(), bytes, count);
    if (!result.ok) throw ERscFileWriteError(Format(msg::rsc::sRscFileWriteError, {Name}));
    if (result.done < count) throw ERscDiskFull(Format(msg::rsc::sRscDiskFull, {count, Name}));
  });
  if (!platform::Flush(target.Get())) {
    throw ERscFileFlushError(Format(msg::rsc::sRscFileFlushError, {Name}));
  }
  // Some file systems report a failed write only when the file is closed.
  if (!platform::Close(target.Release())) {
    throw ERscFileWriteError(Format(msg::rsc::sRscFileWriteError, {Name}));
  }
}

}  // namespace zm
