// Every system call of a save or a render fails in turn (k = 1, 2, ...
// until the job makes fewer than k calls). Replacing a plain file, a failed
// job leaves the previous file byte for byte and no temporary file; written
// in place (a hard-linked file), it leaves the old content when it fails
// before the target is emptied and a prefix of the new content after. The
// error record always names the file.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "design_builder.h"
#include "platform/call_failures.h"
#include "scratch_folder.h"
#include "wave_file.h"

namespace zm {
namespace {

namespace fs = std::filesystem;
using test::DesignBuilder;
using test::ReadBytes;

// One job: writes the file at `path`, returns the error record.
using Job = std::function<TErrorRecord(const std::string& path)>;

struct Sweep {
  int calls = 0;     // system calls of the job when nothing fails
  int failures = 0;  // of them, the ones whose failure fails the job
};

class FailurePoints : public test::ScratchFolder {
 protected:
  void TearDown() override {
    platform::DisarmCallFailure();
    test::ScratchFolder::TearDown();
  }

  // A failing save or render gives one of the stream's messages, naming the
  // file by its full path.
  bool ClearMessage(const std::string& message, const std::string& leaf) const {
    const std::string name = FullOf(leaf);
    if (message.find("\"" + name + "\"") == std::string::npos) return false;
    for (const char* start :
         {"File open error (", "File write error (", "File flush error (", "File position ",
          "Error setting file length to ", "Error getting file length (", "Disk full writing "}) {
      if (message.rfind(start, 0) == 0) return true;
    }
    return false;
  }

  // Runs `job` onto `leaf`, which holds `old` before every attempt (and has a
  // second name when `linked`), failing call k for every k in turn.
  Sweep Run(const Job& job, const std::string& leaf, bool linked) {
    const std::string path = PathOf(leaf);
    Put(leaf, "old");
    EXPECT_EQ(job(path).Failed, 0);
    const std::vector<uint8_t> fresh = ReadBytes(path);
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    Sweep sweep;
    for (int k = 1;; ++k) {
      SCOPED_TRACE(k);
      fs::remove(folder_ / "second");
      Put(leaf, "old");
      if (linked) fs::create_hard_link(folder_ / leaf, folder_ / "second");
      const std::set<std::string> listing = Listing();

      platform::ArmCallFailure(k);
      const TErrorRecord error = job(path);
      const int64_t calls = platform::CountedCalls();
      platform::DisarmCallFailure();

      EXPECT_EQ(Listing(), listing);  // nothing left beside the target
      const std::vector<uint8_t> now = ReadBytes(path);
      if (error.Failed == 0) {
        EXPECT_EQ(now, fresh);
      } else {
        ++sweep.failures;
        EXPECT_TRUE(ClearMessage(test::MessageOf(error), leaf)) << test::MessageOf(error);
        const bool prefix = linked && now.size() <= fresh.size() &&
                            std::equal(now.begin(), now.end(), fresh.begin());
        EXPECT_TRUE(now == old || prefix);
      }
      if (calls < k) {
        sweep.calls = static_cast<int>(calls);
        EXPECT_EQ(error.Failed, 0);
        break;
      }
    }
    return sweep;
  }

  void Report(const char* path, const Sweep& sweep) {
    std::cout << path << ": " << sweep.calls << " system calls, " << sweep.failures
              << " of them fail the job\n";
    EXPECT_GT(sweep.failures, 0);
  }

  DesignBuilder design_ = test::SmallDesign();
};

TEST_F(FailurePoints, SaveAndRenderAtEveryCall) {
  const Job saveDesign = [&](const std::string& path) {
    TErrorRecord error{};
    ZM_saveSetup(path.c_str(), &design_.Record(), &error);
    return error;
  };
  const Job saveMaterial = [&](const std::string& path) {
    TErrorRecord error{};
    ZM_saveMaterial(path.c_str(), &design_->Materials[0], &error);
    return error;
  };
  const Job render = [&](const std::string& path) {
    TErrorRecord error{};
    uint8_t abortFlag = 0;
    ZM_process(&design_.Record(), path.c_str(), &error, &abortFlag, nullptr, nullptr, 0);
    return error;
  };
  Put("probe", "");
  std::error_code linking;
  fs::create_hard_link(PathOf("probe"), PathOf("probe2"), linking);
  const bool links = !linking;
  fs::remove(folder_ / "probe");
  fs::remove(folder_ / "probe2");

  for (bool linked : {false, true}) {
    if (linked && !links) continue;
    SCOPED_TRACE(linked);
    const std::string how = linked ? " (in place)" : " (replaced)";
    Report(("design save" + how).c_str(), Run(saveDesign, "a.zmd", linked));
    Report(("material save" + how).c_str(), Run(saveMaterial, "a.zmm", linked));
    Report(("render" + how).c_str(), Run(render, "a.wav", linked));
  }
}

}  // namespace
}  // namespace zm
