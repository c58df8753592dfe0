// Calls from several threads at once: renders, loads and saves of different
// files give exactly what they give one at a time; two saves racing for the
// same file each succeed or fail with the open error, and the file is then
// one whole version, never a mix. Meant to run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "design_builder.h"
#include "scratch_folder.h"
#include "wave_file.h"

namespace zm {
namespace {

using test::DesignBuilder;
using test::ReadBytes;

constexpr int kThreads = 4;

// A small room; `variant` changes the room and the title, so that every
// design gives different bytes.
DesignBuilder Design(int variant) {
  DesignBuilder b;
  b.Title("Room " + std::to_string(variant));
  b->ImpulseLength = 0.03;
  b->SubArrivals = 2;
  const int wall = b.AddMaterial("Wall", 0.7 + 0.02 * variant);
  const double w = 3.0 + variant;
  b.AddWall(0, 0, w, 0, wall);
  b.AddWall(w, 0, w, 3, wall);
  b.AddWall(w, 3, 0, 3, wall);
  b.AddWall(0, 3, 0, 0, wall);
  b.Wall(b.AddReceiver(w - 1, 1, w - 1, 2, wall, variant % 3)).PassThrough = 1;
  b.AddEmitter(1, 1.5, 0, 300, 6.28);
  return b;
}

std::string Failure(const TErrorRecord& error) {
  return error.Failed ? test::MessageOf(error) : "";
}

class Concurrency : public test::ScratchFolder {
 protected:
  std::string Render(const DesignBuilder& b, const std::string& path) {
    TErrorRecord error{};
    uint8_t abortFlag = 0;
    ZM_process(&b.Record(), path.c_str(), &error, &abortFlag, nullptr, nullptr, 0);
    return Failure(error);
  }
  std::string Save(const DesignBuilder& b, const std::string& path) {
    TErrorRecord error{};
    ZM_saveSetup(path.c_str(), &b.Record(), &error);
    return Failure(error);
  }
  std::string SaveMaterial(const DesignBuilder& b, const std::string& path) {
    TErrorRecord error{};
    ZM_saveMaterial(path.c_str(), &b.Record().Materials[0], &error);
    return Failure(error);
  }
  // The record and material a load gives, as bytes.
  std::string Load(const std::string& path) {
    TErrorRecord error{};
    auto design = std::make_unique<TDesignRecord>();
    ZM_loadSetup(path.c_str(), design.get(), &error);
    return error.Failed ? "failed: " + test::MessageOf(error) : test::BytesOf(*design);
  }
  std::string LoadMaterial(const std::string& path) {
    TErrorRecord error{};
    TMaterialEntry material{};
    ZM_loadMaterial(path.c_str(), &material, &error);
    return error.Failed ? "failed: " + test::MessageOf(error) : test::BytesOf(material);
  }

  // Every job of thread `t`, writing and reading files of its own; each
  // returns what it produced, as bytes.
  std::vector<std::function<std::string()>> JobsOf(int t) {
    const std::string number = std::to_string(t);
    const std::string p = PathOf("t" + number);
    const DesignBuilder* d = &designs_[t];
    // The write comes first, then the read of what it wrote.
    auto then = [](std::string first, const std::function<std::string()>& second) {
      return first + second();
    };
    return {
        [=, this] { return then(Render(*d, p + ".wav"), [=, this] { return Bytes(p + ".wav"); }); },
        [=, this] { return then(Save(*d, p + ".zmd"), [=, this] { return Load(p + ".zmd"); }); },
        [=, this] {
          return then(SaveMaterial(*d, p + ".zmm"), [=, this] { return LoadMaterial(p + ".zmm"); });
        },
        [=, this] { return Render(*d, "mem:"); },
    };
  }
  std::string Bytes(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
  }

  std::vector<DesignBuilder> designs_ = [] {
    std::vector<DesignBuilder> designs;
    for (int t = 0; t < kThreads; ++t) designs.push_back(Design(t));
    return designs;
  }();
};

TEST_F(Concurrency, MixedCallsGiveWhatTheyGiveOneAtATime) {
  std::vector<std::vector<std::string>> expected(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    for (auto& job : JobsOf(t)) expected[t].push_back(job());
  }
  // Per thread, the jobs whose result differed from the lone run.
  std::vector<std::vector<std::string>> differing(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each thread starts at another job, so different kinds overlap.
      auto jobs = JobsOf(t);
      for (int round = 0; round < 2; ++round) {
        for (size_t j = 0; j < jobs.size(); ++j) {
          const size_t k = (j + t) % jobs.size();
          const std::string result = jobs[k]();
          if (result != expected[t][k]) differing[t].push_back("job " + std::to_string(k));
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_TRUE(differing[t].empty()) << "thread " << t << ": " << differing[t].front();
  }
}

TEST_F(Concurrency, RacingSavesLeaveOneWholeVersion) {
  const std::string path = PathOf("same.zmd");
  std::string version[2];
  std::string loadedVersion[2];
  for (int v = 0; v < 2; ++v) {
    ASSERT_EQ(Save(designs_[v], path), "");
    version[v] = Bytes(path);
    loadedVersion[v] = Load(path);
  }
  const std::string openError = "File open error (\"" + FullOf("same.zmd") + "\", mode ";
  std::atomic<int> saved{0};
  std::vector<std::string> odd;
  std::mutex oddMutex;
  auto note = [&](const std::string& what) {
    std::lock_guard<std::mutex> lock(oddMutex);
    odd.push_back(what);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        if (t < 2) {
          const std::string failure = Save(designs_[t], path);
          if (failure.empty()) {
            ++saved;
          } else if (failure.rfind(openError, 0) != 0) {
            note(failure);
          }
        } else {
          // Readers see the old file or the new one, or are refused.
          const std::string loaded = Load(path);
          if (loaded != loadedVersion[0] && loaded != loadedVersion[1] &&
              loaded.rfind("failed: " + openError, 0) != 0) {
            note(loaded.substr(0, 200));
          }
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_TRUE(odd.empty()) << odd.front();
  EXPECT_GT(saved.load(), 0);
  const std::string final = Bytes(path);
  EXPECT_TRUE(final == version[0] || final == version[1]);
  EXPECT_EQ(Listing(), std::set<std::string>{"same.zmd"});
}

}  // namespace
}  // namespace zm
