// What a save or a render does to whatever already sits at the output path:
// a plain file is replaced whole, keeping owner and mode; a FIFO, a device
// or a hard-linked file keeps being what it is and gets the bytes in place;
// ".." in a name means what the system says it means.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "design_builder.h"
#include "files/resource.h"
#include "scratch_folder.h"
#include "wave_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// Reads a FIFO from before any writer opens it until the last writer closes
// it, on a thread of its own.
class FifoReader {
 public:
  explicit FifoReader(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK)), thread_([this] { Drain(); }) {}
  ~FifoReader() { Finish(); }
  std::vector<uint8_t> Finish() {
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return bytes_;
  }

 private:
  void Drain() {
    // Linux reports the hang-up only after a writer has come and gone.
    for (pollfd p{fd_, POLLIN, 0}; ::poll(&p, 1, 20000) > 0;) {
      char chunk[4096];
      ssize_t got = ::read(fd_, chunk, sizeof chunk);
      if (got == 0) return;
      if (got > 0) bytes_.insert(bytes_.end(), chunk, chunk + got);
    }
  }
  int fd_;
  std::vector<uint8_t> bytes_;
  std::thread thread_;
};

bool IsFifo(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

TEST_F(Targets, AFifoWithAReaderGetsTheBytesAndStaysAFifo) {
  const std::string fifo = PathOf("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  using Job = std::string (Targets::*)(const std::string&);
  for (Job job : {static_cast<Job>(&Targets::Render), static_cast<Job>(&Targets::Save)}) {
    const std::vector<uint8_t> expected = Expected(job);
    FifoReader reader(fifo);
    EXPECT_EQ((this->*job)(fifo), "");
    EXPECT_EQ(reader.Finish(), expected);
    EXPECT_TRUE(IsFifo(fifo));
  }
  // Without a reader the open is refused at once, never waited for.
  EXPECT_EQ(Save(fifo), "File open error (\"" + FullOf("pipe") + "\", mode 3)");
  EXPECT_TRUE(IsFifo(fifo));
  EXPECT_EQ(Listing(), (std::set<std::string>{"pipe", "expected"}));
}

TEST_F(Targets, AReaderThatGoesAwayIsAWriteErrorNotASignal) {
  const std::string fifo = PathOf("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  auto stream = RscOpenCreate(fifo);
  ::close(reader);
  stream->Write("abc", 3);
  // SIGPIPE would end this process here.
  EXPECT_ERROR(stream->Commit(), ERscFileWriteError,
               "File write error (\"" + FullOf("pipe") + "\")");
  EXPECT_TRUE(IsFifo(fifo));
}

TEST_F(Targets, ADeviceStaysADevice) {
  if (::geteuid() != 0) GTEST_SKIP() << "creating a device node needs root";
  // A null device of our own: the system's /dev/null is never touched.
  const std::string device = PathOf("null");
  ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
  EXPECT_EQ(Render(device), "");
  EXPECT_EQ(Save(device), "");
  struct stat info;
  ASSERT_EQ(::lstat(device.c_str(), &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  EXPECT_EQ(info.st_rdev, ::makedev(1, 3));
  EXPECT_EQ(Listing(), std::set<std::string>{"null"});
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

TEST_F(Targets, DotDotAfterALinkIsResolvedByTheSystem) {
  fs::create_directories(folder_ / "a" / "b");
  fs::create_directory_symlink(folder_ / "a" / "b", folder_ / "link");
  fs::current_path(folder_);
  const std::vector<uint8_t> expected = Expected(&Targets::Save);
  ASSERT_EQ(Save("link/../x.zmd"), "");
  EXPECT_EQ(ReadBytes(PathOf("a/x.zmd")), expected);
  EXPECT_FALSE(fs::exists(folder_ / "x.zmd"));
  // Loads and messages follow the system too.
  TErrorRecord error{};
  ZM_loadSetup("link/../x.zmd", &design_.Record(), &error);
  EXPECT_EQ(error.Failed, 0) << test::MessageOf(error);
  fs::create_directory(folder_ / "a" / "dir");
  EXPECT_EQ(Save("link/../dir"),
            "File open error (\"" + fs::canonical(folder_ / "a").string() + "/dir\", mode 3)");
}
#endif

}  // namespace
}  // namespace zm
