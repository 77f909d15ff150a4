// Shared helpers for the tests: a started string stack, and texts as std::u16string.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "runtime/strings/strings.h"

// Each test gets a fresh TempStringStack.
class StackTest : public testing::Test {
 protected:
  void SetUp() override { temp_init(); }
  void TearDown() override { temp_end(); }
};

// The text at a stack offset, copied out.
inline std::u16string at(int32_t offset) { return std::u16string(temp_at(offset)); }
