// The error frame around every export: what reaches the caller's record for
// each kind of failure, and what a success leaves alone.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "interface/error_frame.h"
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

constexpr uint8_t kFill = 0xA5;

class ErrorFrame : public ::testing::Test {
 protected:
  void SetUp() override { std::memset(&g_, kFill, sizeof g_); }

  template <typename Job>
  void Run(Job&& job) {
    zm::RunInErrorFrame(&g_.record, std::forward<Job>(job));
  }
  void Fail(const std::string& message) {
    Run([&] { throw zm::Exception(message); });
  }

  std::string Message() const { return std::string(g_.record.Message, ZM_MESSAGE_LENGTH); }
  bool GuardIntact() const {
    for (uint8_t b : g_.guard)
      if (b != kFill) return false;
    return true;
  }

  GuardedRecord g_;
};

std::string Text(size_t length) {
  std::string s;
  for (size_t i = 0; i < length; ++i) s += static_cast<char>('a' + i % 26);
  return s;
}

TEST_F(ErrorFrame, ShortMessageIsZeroFilled) {
  const std::string text = "Material \"x\" not found";
  Fail(text);
  EXPECT_EQ(g_.record.Failed, 1);
  EXPECT_EQ(Message(), text + std::string(ZM_MESSAGE_LENGTH - text.size(), '\0'));
  EXPECT_TRUE(GuardIntact());
}

TEST_F(ErrorFrame, MessageLengthsAroundTheField) {
  // 127 characters still get their terminator.
  Fail(Text(127));
  EXPECT_EQ(g_.record.Failed, 1);
  EXPECT_EQ(Message(), Text(127) + '\0');

  // 128 characters fill the field: no terminator, nothing beyond.
  SetUp();
  Fail(Text(128));
  EXPECT_EQ(Message(), Text(128));
  EXPECT_TRUE(GuardIntact());

  // Longer messages are cut to their first 128 characters.
  SetUp();
  Fail(Text(300));
  EXPECT_EQ(g_.record.Failed, 1);
  EXPECT_EQ(Message(), Text(128));
  EXPECT_TRUE(GuardIntact());
}

TEST_F(ErrorFrame, EmptyMessageStillFails) {
  Fail("");
  EXPECT_EQ(g_.record.Failed, 1);
  EXPECT_EQ(Message(), std::string(ZM_MESSAGE_LENGTH, '\0'));
}

TEST_F(ErrorFrame, SuccessLeavesTheMessageAlone) {
  bool ran = false;
  Run([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(g_.record.Failed, 0);
  EXPECT_EQ(Message(), std::string(ZM_MESSAGE_LENGTH, static_cast<char>(kFill)));

  // After a failure, a success clears Failed and keeps the old text.
  Fail("first failure");
  Run([] {});
  EXPECT_EQ(g_.record.Failed, 0);
  EXPECT_STREQ(g_.record.Message, "first failure");
  EXPECT_TRUE(GuardIntact());
}

TEST_F(ErrorFrame, ReportsEveryKindOfException) {
  Run([] { throw zm::ERangeError("Range check error"); });
  EXPECT_EQ(g_.record.Failed, 1);
  EXPECT_STREQ(g_.record.Message, "Range check error");

  Run([] { throw zm::EInvalidOp(); });
  EXPECT_STREQ(g_.record.Message, "Invalid floating point operation");

  Run([] { throw std::bad_alloc(); });
  EXPECT_EQ(g_.record.Failed, 1);
  EXPECT_STREQ(g_.record.Message, "Out of memory");

  Run([] { throw std::bad_array_new_length(); });
  EXPECT_STREQ(g_.record.Message, "Out of memory");

  Run([] { throw std::runtime_error("runtime trouble"); });
  EXPECT_EQ(g_.record.Failed, 1);
  EXPECT_STREQ(g_.record.Message, "runtime trouble");

  Run([] { throw 42; });
  EXPECT_EQ(g_.record.Failed, 1);
  EXPECT_STREQ(g_.record.Message, "Unknown failure");
  EXPECT_TRUE(GuardIntact());
}

TEST_F(ErrorFrame, FormattedMessagesArriveWhole) {
  static constexpr zm::MessageText kNotFound{"test.snotfound", "Item \"%s\" number %d missing"};
  Run([] { throw zm::Exception(zm::Format(kNotFound, {"door", 7})); });
  EXPECT_STREQ(g_.record.Message, "Item \"door\" number 7 missing");
}

TEST(ErrorFrameNullRecord, RunsNothingAndTouchesNothing) {
  bool ran = false;
  zm::RunInErrorFrame(nullptr, [&] {
    ran = true;
    throw zm::Exception("lost");
  });
  EXPECT_FALSE(ran);
}

// The exports through the frame: null arguments are reported by name.
class Exports : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&error_, 0, sizeof error_);
    std::memset(&material_, 0, sizeof material_);
  }
  void ExpectNullArgument(const char* argument) {
    EXPECT_EQ(error_.Failed, 1);
    EXPECT_EQ(std::string(error_.Message),
              std::string("Argument \"") + argument + "\" must not be a null pointer");
    SetUp();
  }

  TErrorRecord error_;
  TMaterialEntry material_;
  uint8_t abort_ = 0;
};

TEST_F(Exports, VersionIs400) {
  EXPECT_EQ(ZM_getVersion(), 400);
}

TEST_F(Exports, NullFileArgumentsAreReportedByName) {
  auto design = std::make_unique<TDesignRecord>();
  std::memset(design.get(), 0, sizeof *design);

  ZM_loadSetup(nullptr, design.get(), &error_);
  ExpectNullArgument("fileName");
  ZM_loadSetup("mem:", nullptr, &error_);
  ExpectNullArgument("design");
  ZM_saveSetup(nullptr, design.get(), &error_);
  ExpectNullArgument("fileName");
  ZM_saveSetup("mem:", nullptr, &error_);
  ExpectNullArgument("design");
  ZM_loadMaterial(nullptr, &material_, &error_);
  ExpectNullArgument("fileName");
  ZM_loadMaterial("mem:", nullptr, &error_);
  ExpectNullArgument("material");
  ZM_saveMaterial(nullptr, &material_, &error_);
  ExpectNullArgument("fileName");
  ZM_saveMaterial("mem:", nullptr, &error_);
  ExpectNullArgument("material");
}

TEST_F(Exports, NullProcessArgumentsAreReportedByName) {
  auto design = std::make_unique<TDesignRecord>();
  std::memset(design.get(), 0, sizeof *design);

  ZM_process(nullptr, "mem:", &error_, &abort_, nullptr, nullptr, 0);
  ExpectNullArgument("design");
  ZM_process(design.get(), nullptr, &error_, &abort_, nullptr, nullptr, 0);
  ExpectNullArgument("outputFile");
  ZM_process(design.get(), "mem:", &error_, nullptr, nullptr, nullptr, 0);
  ExpectNullArgument("abortFlag");
}

TEST_F(Exports, NullErrorRecordLeavesEverythingAlone) {
  // With nowhere to report, the call must not even run its job: a load
  // would otherwise overwrite the caller's record with no word of failure.
  std::memset(&material_, 0x5A, sizeof material_);
  TMaterialEntry before = material_;
  ZM_loadMaterial("mem:", &material_, nullptr);
  EXPECT_EQ(std::memcmp(&material_, &before, sizeof before), 0);

  auto design = std::make_unique<TDesignRecord>();
  std::memset(design.get(), 0x5A, sizeof *design);
  ZM_loadSetup("mem:", design.get(), nullptr);
  EXPECT_EQ(design->Title[0], 0x5A);

  abort_ = 7;
  ZM_process(design.get(), "mem:", nullptr, &abort_, nullptr, nullptr, 0);
  EXPECT_EQ(abort_, 7);

  ZM_saveSetup(nullptr, nullptr, nullptr);
  ZM_saveMaterial(nullptr, nullptr, nullptr);
}

}  // namespace
