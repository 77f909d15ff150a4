#include "runtime/memory/memory.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Memory, BlocksComeZeroFilled) {
  auto* p = static_cast<unsigned char*>(mem_alloc(1000));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(p[i], 0) << i;
  mem_free(p);
}

TEST(Memory, GrowthKeepsContentAndZeroFillsExactlyTheAddedBytes) {
  auto* p = static_cast<unsigned char*>(mem_alloc(10));
  memset(p, 0xAB, 10);
  p = static_cast<unsigned char*>(mem_grow(p, 100));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(p[i], 0xAB);
  for (int i = 10; i < 100; ++i) EXPECT_EQ(p[i], 0) << i;

  // Shrinking records the new size, so a later growth zero-fills from there.
  memset(p, 0xCD, 100);
  p = static_cast<unsigned char*>(mem_grow(p, 4));
  p = static_cast<unsigned char*>(mem_grow(p, 8));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(p[i], 0xCD);
  for (int i = 4; i < 8; ++i) EXPECT_EQ(p[i], 0) << i;
  mem_free(p);
}

TEST(Memory, NullIsAcceptedAndRefusalsGiveNull) {
  mem_free(nullptr);
  EXPECT_EQ(mem_grow(nullptr, 10), nullptr);
  EXPECT_EQ(mem_alloc(static_cast<size_t>(-1)), nullptr);
}
