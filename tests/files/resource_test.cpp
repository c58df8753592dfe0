// Opening files by name and the operations of an open file.
#include <gtest/gtest.h>

#include "files/binary_file.h"
#include "files/resource.h"
#include "stream_fixture.h"

namespace zm {
namespace {

using test::StreamFolder;
namespace fs = std::filesystem;

class FileResource : public StreamFolder {};

TEST_F(FileResource, MissingNamesAreReportedAsPassed) {
  EXPECT_EQ(ResourceSearchPaths(), std::vector<std::string>{""});
  const std::string missing = "no/such/../folder/file.bin";
  for (int32_t mode : std::initializer_list<int32_t>{rmRead, rmWrite, rmReadWrite, rmAppend, 9}) {
    EXPECT_RSC_ERROR(RscOpen(missing, mode), ERscNotFound,
                     "Resource \"no/such/../folder/file.bin\" not found");
  }
  // file>item names a file-bank item, which never exists, even when the
  // file part does.
  Put("bank.bin", "data");
  const std::string item = PathOf("bank.bin") + ">item";
  for (int32_t mode : std::initializer_list<int32_t>{rmRead, rmCreate, rmErase}) {
    EXPECT_RSC_ERROR(RscOpen(item, mode), ERscNotFound, "Resource \"" + item + "\" not found");
  }
  EXPECT_EQ(Get("bank.bin"), "data");
}

TEST_F(FileResource, InvalidModeAndEraseErrors) {
  Put("a.bin", "abc");
  for (int32_t mode : std::initializer_list<int32_t>{6, -1}) {
    EXPECT_RSC_ERROR(RscOpen(PathOf("a.bin"), mode), ERscInvalidMode,
                     "Invalid resource open mode (\"" + FullOf("a.bin") + "\", mode " +
                         std::to_string(mode) + ")");
  }
  EXPECT_RSC_ERROR(RscOpen(PathOf("gone.bin"), rmErase), ERscFileEraseError,
                   "File erase error (\"" + FullOf("gone.bin") + "\")");
}

TEST_F(FileResource, ErasedResourceRefusesEverything) {
  Put("a.bin", "abc");
  auto r = RscOpen(PathOf("a.bin"), rmErase);
  EXPECT_FALSE(fs::exists(folder_ / "a.bin"));
  auto* file = dynamic_cast<TBinaryFile*>(r.get());
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->Erased());
  EXPECT_FALSE(file->Opened());
  const std::string erased = "Cannot work with erased resource \"" + FullOf("a.bin") + "\"";
  EXPECT_RSC_ERROR(r->GetPosition(), ERscErased, erased);
  EXPECT_RSC_ERROR(r->SetPosition(0), ERscErased, erased);
  EXPECT_RSC_ERROR(r->GetLength(), ERscErased, erased);
  EXPECT_RSC_ERROR(r->Eof(), ERscErased, erased);
  char byte = 0;
  EXPECT_RSC_ERROR(r->Read(&byte, 1), ERscReadDenied,
                   "Resource \"" + FullOf("a.bin") + "\" cannot be read");
  EXPECT_RSC_ERROR(r->Write(&byte, 1), ERscWriteDenied,
                   "Resource \"" + FullOf("a.bin") + "\" cannot be written");
}

TEST_F(FileResource, AccessFollowsTheMode) {
  Put("a.bin", "abc");
  const std::string cannotRead = "Resource \"" + FullOf("a.bin") + "\" cannot be read";
  const std::string cannotWrite = "Resource \"" + FullOf("a.bin") + "\" cannot be written";
  char byte = 'z';
  {
    auto r = RscOpenRead(PathOf("a.bin"));
    EXPECT_TRUE(r->CanRead());
    EXPECT_FALSE(r->CanWrite());
    EXPECT_RSC_ERROR(r->Write(&byte, 1), ERscWriteDenied, cannotWrite);
    EXPECT_RSC_ERROR(r->SetLength(0), ERscWriteDenied, cannotWrite);
  }
  for (int32_t mode : std::initializer_list<int32_t>{rmWrite, rmAppend}) {
    auto r = RscOpen(PathOf("a.bin"), mode);
    EXPECT_FALSE(r->CanRead());
    EXPECT_RSC_ERROR(r->Read(&byte, 1), ERscReadDenied, cannotRead);
  }
  EXPECT_EQ(Get("a.bin"), "abc");
}

TEST_F(FileResource, RangeErrorsNameTheFile) {
  Put("a.bin", "abc");
  auto r = RscOpen(PathOf("a.bin"), rmReadWrite);
  const std::string name = FullOf("a.bin");
  char byte = 0;
  EXPECT_RSC_ERROR(r->SetPosition(-7), ERangeError, "Invalid seek position -7 (\"" + name + "\")");
  EXPECT_RSC_ERROR(r->SetLength(-1), ERangeError, "Invalid new length -1 (\"" + name + "\")");
  EXPECT_RSC_ERROR(r->Read(&byte, -2), ERangeError, "Invalid data count -2 (\"" + name + "\")");
  EXPECT_RSC_ERROR(r->Write(&byte, -3), ERangeError, "Invalid data count -3 (\"" + name + "\")");
}

TEST_F(FileResource, ReadsAtAndPastTheEnd) {
  Put("a.bin", "abcde");
  auto r = RscOpenRead(PathOf("a.bin"));
  r->SetPosition(5);
  EXPECT_TRUE(r->Eof());
  char out[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
  r->Read(out, 0);
  EXPECT_RSC_ERROR(r->Read(out, 1), ERscReadPastEnd,
                   "Read past end of resource \"" + FullOf("a.bin") + "\"");
  // A short read delivers what there was and leaves the position past it;
  // the resource stays usable.
  r->SetPosition(2);
  EXPECT_THROW(r->Read(out, 8), ERscReadPastEnd);
  EXPECT_EQ(std::string(out, 8), "cdexxxxx");
  EXPECT_EQ(r->GetPosition(), 5);
  r->SetPosition(0);
  r->Read(out, 2);
  EXPECT_EQ(std::string(out, 2), "ab");
}

TEST_F(FileResource, LengthPositionAndAppend) {
  Put("a.bin", "abcdef");
  {
    auto r = RscOpen(PathOf("a.bin"), rmReadWrite);
    r->SetPosition(2);
    EXPECT_EQ(r->GetLength(), 6);
    EXPECT_EQ(r->GetPosition(), 2);
    EXPECT_FALSE(r->Eof());
    r->SetLength(4);
    EXPECT_EQ(r->GetLength(), 4);
    EXPECT_EQ(r->GetPosition(), 2);
    r->Write("XY", 2);
    r->Flush();
  }
  EXPECT_EQ(Get("a.bin"), "abXY");
  {
    auto r = RscOpen(PathOf("a.bin"), rmAppend);
    EXPECT_EQ(r->GetPosition(), 4);
    r->Write("12", 2);
  }
  EXPECT_EQ(Get("a.bin"), "abXY12");
}

TEST_F(FileResource, RelativeNamesBecomeNormalisedFullPaths) {
  Put("a.bin", "abc");
  fs::create_directories(folder_ / "sub");
  fs::current_path(folder_);
  EXPECT_EQ(RscOpenRead("sub/.././a.bin")->Name, FullOf("a.bin"));
  EXPECT_EQ(RscOpenRead("a.bin")->Name, FullOf("a.bin"));
  auto created = RscOpenCreate("sub/../sub/new.bin");
  EXPECT_EQ(created->Name, FullOf("sub/new.bin"));
  created->Write("n", 1);
  created->Commit();
  EXPECT_EQ(Get("sub/new.bin"), "n");
}

TEST_F(FileResource, FoldersCannotBeOpened) {
  fs::create_directories(folder_ / "dir");
  EXPECT_RSC_ERROR(RscOpenRead(PathOf("dir")), ERscFileOpenFailed,
                   "File open error (\"" + FullOf("dir") + "\", mode 0)");
  EXPECT_RSC_ERROR(RscOpenCreate(PathOf("dir")), ERscFileOpenFailed,
                   "File open error (\"" + FullOf("dir") + "\", mode 3)");
  EXPECT_EQ(Listing(), std::set<std::string>{"dir"});
}

TEST_F(FileResource, DeviceFailuresHaveTheirOwnMessages) {
#ifdef _WIN32
  GTEST_SKIP() << "needs /dev/full and /proc";
#else
  if (!fs::exists("/dev/full") || !fs::exists("/proc/self/mem")) GTEST_SKIP() << "needs Linux";
  auto full = RscOpen("/dev/full", rmWrite);
  EXPECT_RSC_ERROR(full->Write("0123456789", 10), ERscDiskFull,
                   "Disk full writing 10 bytes to \"/dev/full\"");
  // Offset 0 of a process's memory is never mapped: the read itself fails.
  auto memory = RscOpenRead("/proc/self/mem");
  char out[4];
  EXPECT_RSC_ERROR(memory->Read(out, 4), ERscFileReadError, "File read error (\"/proc/self/mem\")");
#endif
}

}  // namespace
}  // namespace zm
