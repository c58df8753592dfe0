// The error frame around every export: what reaches the caller's record for
// each kind of failure and each message length, and null arguments. (What
// a success leaves alone is held by the process tests' abort.)
#include "interface/error_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "support/exception.h"
#include "zm/zm.h"

namespace {

// The record followed by guard bytes, to catch a write past its 129 bytes.
#pragma pack(push, 1)
struct GuardedRecord {
  TErrorRecord record;
  uint8_t guard[16];
};
#pragma pack(pop)

class ErrorFrame : public ::testing::Test {
 protected:
  void SetUp() override { std::memset(&g_, 0xA5, sizeof g_); }
  template <typename Job>
  void Run(Job&& job) {
    zm::RunInErrorFrame(&g_.record, std::forward<Job>(job));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g_.guard), 16), std::string(16, '\xA5'));
  }
  std::string Message() const { return std::string(g_.record.Message, ZM_MESSAGE_LENGTH); }
  GuardedRecord g_;
};

TEST_F(ErrorFrame, MessagesAreCutOrZeroFilledToTheField) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += static_cast<char>('a' + i % 26);
  // 127 characters still get a terminator; 128 fill the field without one.
  for (size_t length : {0, 22, 127, 128, 129, 300}) {
    SCOPED_TRACE(length);
    SetUp();
    Run([&] { throw zm::Exception(text.substr(0, length)); });
    EXPECT_EQ(g_.record.Failed, 1);
    EXPECT_EQ(Message(), (text.substr(0, length) + std::string(128, '\0')).substr(0, 128));
  }
}

TEST_F(ErrorFrame, ReportsEveryKindOfException) {
  static constexpr zm::MessageText kNotFound{"Item \"%s\" number %d missing"};
  const std::pair<void (*)(), const char*> cases[] = {
      {[] {
         throw zm::Exception(zm::Format(kNotFound, {"door", 7}));
       },
       "Item \"door\" number 7 missing"},
      {[] { throw std::bad_alloc(); }, "Out of memory"},
      {[] { throw std::runtime_error("runtime trouble"); }, "runtime trouble"},
      {[] { throw 42; }, "Unknown failure"},
  };
  for (const auto& [job, message] : cases) {
    g_.record.Failed = 0;
    Run(job);
    EXPECT_EQ(g_.record.Failed, 1);
    EXPECT_STREQ(g_.record.Message, message);
  }
}

TEST(Exports, NullArgumentsAreReportedByName) {
  auto design = std::make_unique<TDesignRecord>();
  std::memset(design.get(), 0, sizeof *design);
  TMaterialEntry material{};
  TErrorRecord error;
  uint8_t abortFlag = 0;
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { ZM_loadSetup(nullptr, design.get(), &error); }, "fileName"},
      {[&] { ZM_loadSetup("mem:", nullptr, &error); }, "design"},
      {[&] { ZM_saveSetup(nullptr, design.get(), &error); }, "fileName"},
      {[&] { ZM_saveSetup("mem:", nullptr, &error); }, "design"},
      {[&] { ZM_loadMaterial(nullptr, &material, &error); }, "fileName"},
      {[&] { ZM_loadMaterial("mem:", nullptr, &error); }, "material"},
      {[&] { ZM_saveMaterial(nullptr, &material, &error); }, "fileName"},
      {[&] { ZM_saveMaterial("mem:", nullptr, &error); }, "material"},
      {[&] { ZM_process(nullptr, "mem:", &error, &abortFlag, nullptr, nullptr, 0); }, "design"},
      {[&] { ZM_process(design.get(), nullptr, &error, &abortFlag, nullptr, nullptr, 0); },
       "outputFile"},
      {[&] { ZM_process(design.get(), "mem:", &error, nullptr, nullptr, nullptr, 0); },
       "abortFlag"},
  };
  for (const auto& [call, argument] : cases) {
    std::memset(&error, 0, sizeof error);
    call();
    EXPECT_EQ(error.Failed, 1);
    EXPECT_EQ(std::string(error.Message),
              std::string("Argument \"") + argument + "\" must not be a null pointer");
  }
}

TEST(Exports, NullErrorRecordRunsNothing) {
  // With nowhere to report, a call must not even run its job: a load would
  // otherwise overwrite the caller's record with no word of failure.
  TMaterialEntry material;
  std::memset(&material, 0x5A, sizeof material);
  ZM_loadMaterial("mem:", &material, nullptr);
  EXPECT_EQ(material.InUse, 0x5A);
  auto design = std::make_unique<TDesignRecord>();
  std::memset(design.get(), 0x5A, sizeof *design);
  ZM_loadSetup("mem:", design.get(), nullptr);
  EXPECT_EQ(design->Title[0], 0x5A);
  uint8_t abortFlag = 7;
  ZM_process(design.get(), "mem:", nullptr, &abortFlag, nullptr, nullptr, 0);
  EXPECT_EQ(abortFlag, 7);
  ZM_saveSetup(nullptr, nullptr, nullptr);
  ZM_saveMaterial(nullptr, nullptr, nullptr);
}

}  // namespace
