#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "zm/zm.h"

TEST(Exports, VersionIs400) { EXPECT_EQ(ZM_getVersion(), 400); }
