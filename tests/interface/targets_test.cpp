// What a save or a render does to whatever already sits at the output path:
// a plain file is replaced whole, keeping owner and mode; a FIFO or a
// hard-linked file keeps being what it is and gets the bytes in place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "design_builder.h"
#include "files/resource.h"
#include "scratch_folder.h"
#include "wave_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zm {
namespace {

namespace fs = std::filesystem;
using test::DesignBuilder;
using test::ReadBytes;

class Targets : public test::ScratchFolder {
 public:
  // Renders (32-bit, so without dither noise) or saves into `path`.
  std::string Render(const std::string& path) {
    TErrorRecord error{};
    uint8_t abortFlag = 0;
    ZM_process(&design_.Record(), path.c_str(), &error, &abortFlag, nullptr, nullptr, 0);
    return error.Failed ? test::MessageOf(error) : "";
  }
  std::string Save(const std::string& path) {
    TErrorRecord error{};
    ZM_saveSetup(path.c_str(), &design_.Record(), &error);
    return error.Failed ? test::MessageOf(error) : "";
  }
  // What a plain new file gets from the same job.
  std::vector<uint8_t> Expected(std::string (Targets::*job)(const std::string&)) {
    EXPECT_EQ((this->*job)(PathOf("expected")), "");
    return ReadBytes(PathOf("expected"));
  }

  DesignBuilder design_ = test::SmallDesign();
};

TEST_F(Targets, HardLinksSeeTheNewContent) {
  Put("a.zmd", "old");
  std::error_code linked;
  fs::create_hard_link(folder_ / "a.zmd", folder_ / "b.zmd", linked);
  if (linked) GTEST_SKIP() << "no hard links here: " << linked.message();
  const std::vector<uint8_t> expected = Expected(&Targets::Save);
  ASSERT_EQ(Save(PathOf("a.zmd")), "");
  EXPECT_EQ(ReadBytes(PathOf("b.zmd")), expected);
#ifndef _WIN32  // the C runtime's stat() says 1 there, whatever the truth
  EXPECT_EQ(fs::hard_link_count(folder_ / "a.zmd"), 2u);
#endif
  // A longer old file is emptied first, and a render goes the same way.
  Put("a.wav", std::string(100000, 'x'));
  fs::create_hard_link(folder_ / "a.wav", folder_ / "b.wav");
  const std::vector<uint8_t> wave = Expected(&Targets::Render);
  ASSERT_EQ(Render(PathOf("b.wav")), "");
  EXPECT_EQ(ReadBytes(PathOf("a.wav")), wave);
  EXPECT_EQ(Listing(), (std::set<std::string>{"a.zmd", "b.zmd", "a.wav", "b.wav", "expected"}));
}

#ifdef _WIN32
TEST_F(Targets, DevicesAreWrittenNotReplaced) {
  EXPECT_EQ(Save("NUL"), "");
  EXPECT_EQ(Render("NUL"), "");
}
#else

bool IsFifo(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

TEST_F(Targets, AReaderThatGoesAwayIsAWriteErrorNotASignal) {
  const std::string fifo = PathOf("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Without a reader the open is refused at once, never waited for.
  EXPECT_EQ(Save(fifo), "File open error (\"" + FullOf("pipe") + "\", mode 3)");
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  auto stream = RscOpenCreate(fifo);
  ::close(reader);
  stream->Write("abc", 3);
  // SIGPIPE would end this process here.
  EXPECT_ERROR(stream->Commit(), ERscFileWriteError,
               "File write error (\"" + FullOf("pipe") + "\")");
  EXPECT_TRUE(IsFifo(fifo));
}

TEST_F(Targets, AReplacedFileKeepsOwnerAndMode) {
  const std::string path = PathOf("a.zmd");
  Put("a.zmd", "old");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  // Only root can give a file away; then a save by root must give it back.
  if (root) {
    ASSERT_EQ(::chown(path.c_str(), 4321, 8765), 0);
  }
  struct stat before;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  ASSERT_EQ(Save(path), "");
  struct stat after;
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);  // replaced, not rewritten
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(ReadBytes(path), Expected(&Targets::Save));
}

#endif

}  // namespace
}  // namespace zm
