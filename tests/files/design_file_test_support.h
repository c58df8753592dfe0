// A scratch folder per test for design and material files, with helpers to
// put and inspect raw files and to make writes fail part-way.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "files/hrc.h"
#include "files/resource.h"
#include "zm/zm.h"

#if defined(__unix__)
#include <sys/resource.h>

#include <csignal>
#endif

namespace zm::test {

namespace fs = std::filesystem;

class FormatsFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // A fresh name per run, so that test builds running side by side do
    // not share files.
    folder_ = fs::temp_directory_path() / ("zm-formats-" + std::to_string(std::random_device{}())) /
              (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_.parent_path(), ignored);
  }

  std::string PathOf(const std::string& leaf) const { return (folder_ / leaf).string(); }
  std::string FullOf(const std::string& leaf) const {
    return fs::absolute(folder_ / leaf).lexically_normal().string();
  }

  void Put(const std::string& leaf, const std::vector<uint8_t>& content) const {
    std::ofstream out(folder_ / leaf, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
  }
  std::vector<uint8_t> Get(const std::string& leaf) const {
    std::ifstream in(folder_ / leaf, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
  }

  // A file of `magic` followed by `block` compressed into one HRC block.
  void PutBlockFile(const std::string& leaf, const char* magic,
                    const std::vector<uint8_t>& block) const {
    std::unique_ptr<TResource> stream = RscOpenCreate(PathOf(leaf));
    stream->Write(magic, 4);
    HrcWriteBlock(*stream, block.data(), static_cast<int32_t>(block.size()));
    stream->Commit();
  }

  fs::path folder_;
};

inline std::string MessageOf(const TErrorRecord& error) {
  return std::string(error.Message, strnlen(error.Message, ZM_MESSAGE_LENGTH));
}

template <typename T>
std::vector<uint8_t> BytesOf(const T& record) {
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&record);
  return std::vector<uint8_t>(raw, raw + sizeof(T));
}

#if defined(__unix__)
// Caps the size of files this process writes, so that a save fails part-way
// with a write error, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*oldHandler_)(int) = nullptr;
};
#endif

}  // namespace zm::test
