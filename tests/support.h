// Shared helpers for the tests: a started string stack, and texts as std::u16string.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "runtime/strings/strings.h"

// True in the Windows build's tests, where some behaviour differs by design.
constexpr bool windows_build() {
#ifdef _WIN32
  return true;
#else
  return false;
#endif
}

// The line end that the build writes.
inline std::string line_end() { return windows_build() ? "\r\n" : "\n"; }

// Each test gets a fresh TempStringStack.
class StackTest : public testing::Test {
 protected:
  void SetUp() override { temp_init(); }
  void TearDown() override { temp_end(); }
};

// The text at a stack offset, copied out.
inline std::u16string at(int32_t offset) { return std::u16string(temp_at(offset)); }

// Runs `write` with standard output sent to a scratch file and returns the bytes that reached
// it. The C runtime's dup2 of descriptor 1 also sets the Windows standard output handle, so a
// console opened inside `write` picks the file up.
inline std::string captured_stdout(const std::function<void()>& write) {
  std::string path = std::string("stdout_") +
                     testing::UnitTest::GetInstance()->current_test_info()->name() + ".out";
  fflush(stdout);
  int saved = dup(1);
  FILE* file = fopen(path.c_str(), "w+b");
  EXPECT_NE(file, nullptr);
  if (!file) return "";
  dup2(fileno(file), 1);
  write();
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  fseek(file, 0, SEEK_SET);
  std::string out;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) out.append(chunk, n);
  fclose(file);
  remove(path.c_str());
  return out;
}
