// Saving through a temporary file, and exclusive opens.
#include <gtest/gtest.h>

#include <stdexcept>

#include "files/binary_file.h"
#include "files/resource.h"
#include "stream_fixture.h"

namespace zm {
namespace {

using test::StreamFolder;
namespace fs = std::filesystem;

class FileCreate : public StreamFolder {};
class NoSharing : public StreamFolder {};

TEST_F(FileCreate, StartsEmptyAndCommitLeavesOnlyTheNewContent) {
  Put("a.bin", "old content, longer than the new");
  auto r = RscOpenCreate(PathOf("a.bin"));
  EXPECT_EQ(r->Name, FullOf("a.bin"));
  EXPECT_TRUE(r->CanRead() && r->CanWrite());
  EXPECT_EQ(r->GetLength(), 0);
  r->Write("new", 3);
  r->SetPosition(0);
  char out[3];
  r->Read(out, 3);
  EXPECT_EQ(std::string(out, 3), "new");
  // Untouched until the commit (its size, since Windows lets nobody read a
  // file the library holds).
  EXPECT_EQ(fs::file_size(folder_ / "a.bin"), 32u);
  r->Commit();
  EXPECT_EQ(Get("a.bin"), "new");
  EXPECT_EQ(Listing(), std::set<std::string>{"a.bin"});
  // Once committed the resource is closed; committing again does nothing.
  r->Commit();
  EXPECT_RSC_ERROR(r->Write("x", 1), ERscClosed, "Resource \"" + FullOf("a.bin") + "\" is closed");
  EXPECT_THROW(r->GetLength(), ERscClosed);
  r.reset();
  EXPECT_EQ(Get("a.bin"), "new");
}

TEST_F(FileCreate, AFailedSaveKeepsThePreviousFile) {
  Put("a.bin", "previous");
  try {
    auto r = RscOpenCreate(PathOf("a.bin"));
    r->Write("half of a new fi", 16);
    throw std::runtime_error("the job failed half-way");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(Get("a.bin"), "previous");
  EXPECT_EQ(Listing(), std::set<std::string>{"a.bin"});
  // And a save that does succeed afterwards still replaces it.
  auto r = RscOpenCreate(PathOf("a.bin"));
  r->Write("next", 4);
  r->Commit();
  EXPECT_EQ(Get("a.bin"), "next");
}

TEST_F(FileCreate, NewTargetAppearsOnlyAtCommit) {
  {
    auto r = RscOpenCreate(PathOf("new.bin"));
    r->Write("abc", 3);
    EXPECT_FALSE(fs::exists(folder_ / "new.bin"));
  }
  EXPECT_TRUE(Listing().empty());
  auto r = RscOpenCreate(PathOf("new.bin"));
  r->Write("abc", 3);
  r->Commit();
  EXPECT_EQ(Get("new.bin"), "abc");
  EXPECT_EQ(Listing(), std::set<std::string>{"new.bin"});
}

TEST_F(FileCreate, MissingFolderIsAnOpenError) {
  EXPECT_RSC_ERROR(RscOpenCreate(PathOf("none/a.bin")), ERscFileOpenFailed,
                   "File open error (\"" + FullOf("none/a.bin") + "\", mode 3)");
}

TEST_F(FileCreate, SavingThroughALinkUpdatesTheFileItPointsTo) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need privileges on Windows";
#else
  Put("real.bin", "old");
  fs::create_symlink(folder_ / "real.bin", folder_ / "link.bin");
  auto r = RscOpenCreate(PathOf("link.bin"));
  EXPECT_EQ(r->Name, FullOf("link.bin"));
  r->Write("new", 3);
  r->Commit();
  EXPECT_TRUE(fs::is_symlink(folder_ / "link.bin"));
  EXPECT_EQ(Get("real.bin"), "new");
  EXPECT_EQ(Listing(), (std::set<std::string>{"link.bin", "real.bin"}));
#endif
}

TEST_F(NoSharing, AHeldFileRefusesEveryOtherOpenAndIsNotEmptied) {
  Put("a.bin", "precious");
  const std::string name = FullOf("a.bin");
  for (int32_t holder : std::initializer_list<int32_t>{rmRead, rmReadWrite, rmAppend, rmCreate}) {
    SCOPED_TRACE(holder);
    auto held = RscOpen(PathOf("a.bin"), holder);
    for (int32_t mode :
         std::initializer_list<int32_t>{rmRead, rmWrite, rmReadWrite, rmCreate, rmAppend}) {
      EXPECT_RSC_ERROR(RscOpen(PathOf("a.bin"), mode), ERscFileOpenFailed,
                       "File open error (\"" + name + "\", mode " + std::to_string(mode) + ")");
    }
    EXPECT_RSC_ERROR(RscOpen(PathOf("a.bin"), rmErase), ERscFileEraseError,
                     "File erase error (\"" + name + "\")");
    held.reset();
    EXPECT_EQ(Get("a.bin"), "precious");
    EXPECT_EQ(Listing(), std::set<std::string>{"a.bin"});
  }
  // Released, the file opens again.
  auto again = RscOpen(PathOf("a.bin"), rmReadWrite);
  EXPECT_EQ(again->GetLength(), 8);
}

}  // namespace
}  // namespace zm
