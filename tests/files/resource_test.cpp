// Files opened by name: modes, messages, saving through a temporary file,
// and exclusive opens.
#include "files/resource.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "files/binary_buffer.h"
#include "scratch_folder.h"

namespace zm {
namespace {

namespace fs = std::filesystem;

class FileResource : public test::ScratchFolder {
 protected:
  std::string OpenError(const std::string& leaf, int32_t mode) const {
    return "File open error (" + Quoted(leaf) + ", mode " + std::to_string(mode) + ")";
  }
};

TEST_F(FileResource, NamesThatCannotBeOpened) {
  for (int32_t mode : {+rmRead, +rmWrite, +rmReadWrite, +rmAppend, 9}) {
    EXPECT_ERROR(RscOpen("no/such/../file.bin", mode), ERscNotFound,
                 "Resource \"no/such/../file.bin\" not found");
  }
  // file>item names a file-bank item, which never exists, even when the file does.
  Put("bank.bin", "data");
  for (int32_t mode : {+rmRead, +rmCreate, +rmErase}) {
    EXPECT_ERROR(RscOpen(PathOf("bank.bin") + ">item", mode), ERscNotFound,
                 "Resource \"" + PathOf("bank.bin") + ">item\" not found");
  }
  for (int32_t mode : {6, -1}) {
    EXPECT_ERROR(RscOpen(PathOf("bank.bin"), mode), ERscInvalidMode,
                 "Invalid resource open mode (" + Quoted("bank.bin") + ", mode " +
                     std::to_string(mode) + ")");
  }
  EXPECT_ERROR(RscOpen(PathOf("gone.bin"), rmErase), ERscFileEraseError,
               "File erase error (" + Quoted("gone.bin") + ")");
  EXPECT_ERROR(RscOpenCreate(PathOf("none/a.bin")), ERscFileOpenFailed, OpenError("none/a.bin", 3));
  fs::create_directories(folder_ / "dir");
  EXPECT_ERROR(RscOpenRead(PathOf("dir")), ERscFileOpenFailed, OpenError("dir", 0));
  EXPECT_ERROR(RscOpenCreate(PathOf("dir")), ERscFileOpenFailed, OpenError("dir", 3));
  EXPECT_EQ(Listing(), (std::set<std::string>{"bank.bin", "dir"}));
  EXPECT_EQ(Get("bank.bin"), "data");
}

TEST_F(FileResource, CreateReplacesTheTargetOnlyAtCommit) {
  for (const bool existing : {true, false}) {
    SCOPED_TRACE(existing);
    if (existing) Put("a.bin", "old content, longer than the new");
    const std::set<std::string> before = Listing();
    {
      auto r = RscOpenCreate(PathOf("a.bin"));
      EXPECT_EQ(r->GetLength(), 0);
      r->Write("half of a new fi", 16);
      // Dropped without commit (as by an exception): target intact, no temporary left.
    }
    EXPECT_EQ(Listing(), before);
    if (existing) {
      EXPECT_EQ(Get("a.bin"), "old content, longer than the new");
    }
    auto r = RscOpenCreate(PathOf("a.bin"));
    r->Write("new", 3);
    if (existing) {
      EXPECT_EQ(fs::file_size(folder_ / "a.bin"), 32u);  // held, so not read on Windows
    } else {
      EXPECT_FALSE(fs::exists(folder_ / "a.bin"));
    }
    r->Commit();
    EXPECT_EQ(Get("a.bin"), "new");
    EXPECT_EQ(Listing(), std::set<std::string>{"a.bin"});
    // Once committed the resource is closed; committing again does nothing.
    r->Commit();
    EXPECT_ERROR(r->Write("x", 1), ERscClosed, "Resource " + Quoted("a.bin") + " is closed");
    fs::remove(folder_ / "a.bin");
  }
}

TEST_F(FileResource, SavingThroughALinkUpdatesTheFileItPointsTo) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need privileges on Windows";
#else
  Put("real.bin", "old");
  fs::create_symlink(folder_ / "real.bin", folder_ / "link.bin");
  auto r = RscOpenCreate(PathOf("link.bin"));
  r->Write("new", 3);
  r->Commit();
  EXPECT_TRUE(fs::is_symlink(folder_ / "link.bin"));
  EXPECT_EQ(Get("real.bin"), "new");
  EXPECT_EQ(Listing(), (std::set<std::string>{"link.bin", "real.bin"}));
#endif
}

TEST_F(FileResource, AHeldFileRefusesEveryOtherOpenAndIsNotEmptied) {
  Put("a.bin", "precious");
  for (int32_t holder : {+rmRead, +rmReadWrite, +rmAppend, +rmCreate}) {
    SCOPED_TRACE(holder);
    auto held = RscOpen(PathOf("a.bin"), holder);
    for (int32_t mode : {+rmRead, +rmWrite, +rmReadWrite, +rmCreate, +rmAppend}) {
      EXPECT_ERROR(RscOpen(PathOf("a.bin"), mode), ERscFileOpenFailed, OpenError("a.bin", mode));
    }
    EXPECT_ERROR(RscOpen(PathOf("a.bin"), rmErase), ERscFileEraseError,
                 "File erase error (" + Quoted("a.bin") + ")");
    held.reset();
    EXPECT_EQ(Get("a.bin"), "precious");
    EXPECT_EQ(Listing(), std::set<std::string>{"a.bin"});
  }
}

TEST_F(FileResource, RangeErrorsNameTheValueAndTheResource) {
  Put("a.bin", "abc");
  TBinaryBuffer buffer;
  auto file = RscOpen(PathOf("a.bin"), rmReadWrite);
  for (TResource* r : {static_cast<TResource*>(&buffer), file.get()}) {
    const std::string name = " (\"" + r->Name + "\")";
    char byte = 0;
    EXPECT_ERROR(r->SetPosition(-7), ERangeError, "Invalid seek position -7" + name);
    EXPECT_ERROR(r->SetLength(-1), ERangeError, "Invalid new length -1" + name);
    EXPECT_ERROR(r->Read(&byte, -2), ERangeError, "Invalid data count -2" + name);
    EXPECT_ERROR(r->Write(&byte, -3), ERangeError, "Invalid data count -3" + name);
  }
}

TEST_F(FileResource, DeviceFailuresHaveTheirOwnMessages) {
#ifdef _WIN32
  GTEST_SKIP() << "needs /dev/full and /proc";
#else
  if (!fs::exists("/dev/full") || !fs::exists("/proc/self/mem")) GTEST_SKIP() << "needs Linux";
  EXPECT_ERROR(RscOpen("/dev/full", rmWrite)->Write("0123456789", 10), ERscDiskFull,
               "Disk full writing 10 bytes to \"/dev/full\"");
  // Offset 0 of a process's memory is never mapped: the read itself fails.
  char out[4];
  // The message names the file by its folder as the system resolves it.
  EXPECT_ERROR(RscOpenRead("/proc/self/mem")->Read(out, 4), ERscFileReadError,
               "File read error (\"" + (fs::canonical("/proc/self") / "mem").string() + "\")");
#endif
}

// Positions and lengths are 32-bit, files are not: a larger file opens and
// reads from its start like any other, and only its length is refused.
TEST_F(FileResource, AFileBeyondTwoGigabytesOpensAndOnlyItsLengthIsRefused) {
  Put("big.bin", "head");
  std::error_code failed;
  fs::resize_file(folder_ / "big.bin", (std::uintmax_t{1} << 31) + 4096, failed);
  if (failed) GTEST_SKIP() << "no sparse 2 GiB file here: " << failed.message();
  auto r = RscOpenRead(PathOf("big.bin"));
  char head[4] = {};
  r->Read(head, 4);
  EXPECT_EQ(std::string(head, 4), "head");
  EXPECT_ERROR(r->GetLength(), ERscGetFileSizeError,
               "Error getting file length (" + Quoted("big.bin") + ")");
}

}  // namespace
}  // namespace zm
