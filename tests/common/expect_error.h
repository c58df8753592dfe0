// Checks of an exception's class and exact text.
#pragma once

#include <gtest/gtest.h>

#include <string>

// Runs `statement`, expecting an exception of `type` with exactly `text`.
#define EXPECT_ERROR(statement, type, text)                \
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
