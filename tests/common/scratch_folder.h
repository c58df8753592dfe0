// A scratch folder per test, fresh for every run so that builds testing side
// by side share nothing, with helpers that put and read files without going
// through the code under test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

#include "expect_error.h"
#include "zm/zm.h"

namespace zm::test {

namespace fs = std::filesystem;

class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() / ("zm-test-" + std::to_string(std::random_device{}())) /
              (std::string(info->test_suite_name()) + "." + info->name());
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::current_path(fs::temp_directory_path(), ignored);
    fs::remove_all(folder_.parent_path(), ignored);
  }

  std::string PathOf(const std::string& leaf) const { return (folder_ / leaf).string(); }
  // The full path that the library reports for `leaf`.
  std::string FullOf(const std::string& leaf) const {
    return fs::absolute(folder_ / leaf).lexically_normal().string();
  }
  // FullOf in double quotes, as messages name a resource. (Appended, not
  // "\"" + ..., which trips GCC 12's bounds warnings.)
  std::string Quoted(const std::string& leaf) const {
    std::string quoted(1, '"');
    return quoted.append(FullOf(leaf)).append(1, '"');
  }
  void Put(const std::string& leaf, const std::string& content) const {
    std::ofstream(folder_ / leaf, std::ios::binary | std::ios::trunc) << content;
  }
  std::string Get(const std::string& leaf) const {
    std::ifstream in(folder_ / leaf, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::set<std::string> Listing() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  fs::path folder_;
};

// The raw bytes of a record, for byte-exact comparisons.
template <typename T>
std::string BytesOf(const T& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof(T));
}

// The message of an error record, which may fill its field unterminated.
inline std::string MessageOf(const TErrorRecord& error) {
  return std::string(error.Message, strnlen(error.Message, ZM_MESSAGE_LENGTH));
}

}  // namespace zm::test
