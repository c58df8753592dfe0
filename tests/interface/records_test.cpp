// The boundary layout at run time, as the C++ and the C compiler lay it out,
// against the host's table; and the header used from C.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "c_header_probe.h"
#include "zm/zm.h"

namespace {

struct Expected {
  ZmLayoutEntry actual;  // as this C++ compiler lays it out
  size_t size;           // from the table
  size_t offset;
};

#define ZM_RECORD(type, size) {{#type, "", sizeof(type), 0}, size, 0},
#define ZM_FIELD(type, field, offset, size) \
  {{#type, #field, sizeof(type::field), offsetof(type, field)}, size, offset},
const std::vector<Expected> kLayout = {
#include "record_layout.inc"
};
#undef ZM_RECORD
#undef ZM_FIELD

std::string Label(const ZmLayoutEntry& e) {
  return std::string(e.record) + (e.field[0] ? "." : "") + e.field;
}

TEST(RecordLayout, CppMatchesTheTable) {
  for (const Expected& e : kLayout) {
    SCOPED_TRACE(Label(e.actual));
    EXPECT_EQ(e.actual.size, e.size);
    EXPECT_EQ(e.actual.offset, e.offset);
  }
}

TEST(RecordLayout, CMatchesTheTable) {
  ASSERT_EQ(zmCLayoutCount, kLayout.size());
  for (size_t i = 0; i < kLayout.size(); ++i) {
    const ZmLayoutEntry& c = zmCLayout[i];
    SCOPED_TRACE(Label(c));
    EXPECT_EQ(Label(c), Label(kLayout[i].actual));
    EXPECT_EQ(c.size, kLayout[i].size);
    EXPECT_EQ(c.offset, kLayout[i].offset);
  }
}

// Fields follow each other without gaps and fill their record exactly, so
// the table itself cannot hide padding or a missing field.
TEST(RecordLayout, TableHasNoGaps) {
  size_t recordSize = 0, next = 0;
  std::string record;
  for (const Expected& e : kLayout) {
    if (e.actual.field[0] == '\0') {
      if (!record.empty()) {
        EXPECT_EQ(next, recordSize) << record;
      }
      record = e.actual.record;
      recordSize = e.size;
      next = 0;
      continue;
    }
    EXPECT_EQ(e.offset, next) << Label(e.actual);
    next = e.offset + e.size;
  }
  EXPECT_EQ(next, recordSize) << record;
}

TEST(RecordLayout, SlotArraysHoldTheirCounts) {
  TDesignRecord* d = nullptr;
  EXPECT_EQ(sizeof d->Emitters / sizeof d->Emitters[0], size_t{ZM_EMITTER_SLOTS});
  EXPECT_EQ(sizeof d->Walls / sizeof d->Walls[0], size_t{ZM_WALL_SLOTS});
  EXPECT_EQ(sizeof d->Points / sizeof d->Points[0], size_t{ZM_POINT_SLOTS});
  EXPECT_EQ(sizeof d->Materials / sizeof d->Materials[0], size_t{ZM_MATERIAL_SLOTS});
  EXPECT_EQ(sizeof d->Groups / sizeof d->Groups[0], size_t{ZM_GROUP_SLOTS});
}

TEST(CHeader, CallsTheExports) {
  EXPECT_EQ(ZmCGetVersion(), 400);
  EXPECT_EQ(ZM_getVersion(), ZM_VERSION);

  char message[ZM_MESSAGE_LENGTH + 1];
  EXPECT_EQ(ZmCSaveMaterialWithoutName(message, sizeof message), 1);
  EXPECT_STREQ(message, "Argument \"fileName\" must not be a null pointer");
}

TEST(CHeader, CallbackDefinedInCIsCallable) {
  int calls = 0;
  TProgressCallback callback = ZmCProgressCallback();
  callback(512, 1000, &calls);
  callback(1000, 1000, &calls);
  EXPECT_EQ(calls, 2);
}

}  // namespace
