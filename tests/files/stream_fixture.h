// A scratch folder per test, with small helpers to put files there and look
// at them without going through the code under test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace zm::test {

namespace fs = std::filesystem;

// Runs `statement` and checks both the exception class and its exact text.
#define EXPECT_RSC_ERROR(statement, type, text)            \
  do {                                                     \
    try {                                                  \
      statement;                                           \
      ADD_FAILURE() << "no exception from " #statement;    \
    } catch (const type& e) {                              \
      EXPECT_EQ(std::string(e.what()), std::string(text)); \
    } catch (const std::exception& e) {                    \
      ADD_FAILURE() << "wrong exception: " << e.what();    \
    }                                                      \
  } while (0)

class StreamFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() / "zm-streams" /
              (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::current_path(fs::temp_directory_path(), ignored);
    fs::remove_all(folder_, ignored);
  }

  // The path of `leaf` in the folder, as a string for RscOpen.
  std::string PathOf(const std::string& leaf) const { return (folder_ / leaf).string(); }
  // What the library is expected to report as the full path of `leaf`.
  std::string FullOf(const std::string& leaf) const {
    return fs::absolute(folder_ / leaf).lexically_normal().string();
  }

  void Put(const std::string& leaf, const std::string& content) const {
    std::ofstream out(folder_ / leaf, std::ios::binary | std::ios::trunc);
    out << content;
  }
  std::string Get(const std::string& leaf) const {
    std::ifstream in(folder_ / leaf, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

}  // namespace zm::test
