// The TempStringStack, string variables and copies.
#include <cstring>

#include "support.h"

using Stack = StackTest;

// Reservations of every size, small to oversized, each on top of a value: the room is
// writable up to its terminator, the value below survives any growth, and the top comes back.
TEST_F(Stack, AReservationOfAnySizeFitsAboveTheValuesBelowIt) {
  for (int32_t n : {0, 1, 5, 6, 7, 8191, 8192, 600000}) {
    str_concat(u"below");
    int32_t mark = temp_stack.top + 2;
    char16_t* room = temp_reserve(n, mark);
    EXPECT_EQ(temp_stack.top, mark + 2 * n);
    EXPECT_GE(temp_stack.capacity, temp_stack.top + 2) << n << " units";
    for (int32_t i = 0; i < n; ++i) room[i] = static_cast<char16_t>(u'a' + i % 26);
    room[n] = 0;
    EXPECT_EQ(at(0), u"below");
    EXPECT_EQ(std::u16string(temp_at(mark)).size(), static_cast<size_t>(n));
    temp_restore(0);
    EXPECT_EQ(temp_mark(), 0);
  }
}

// An oversized value is let go once it is dropped: the next small value does not keep its room.
TEST_F(Stack, ShrinksAfterAnOversizedValueIsDropped) {
  temp_reserve(600000, 0);  // 1.2 MB
  EXPECT_GE(temp_stack.capacity, 1200000);
  temp_restore(0);
  temp_reserve(10, 0);
  temp_reserve(10, 0);
  EXPECT_LT(temp_stack.capacity, 1200000);
  EXPECT_EQ(temp_stack.top, 20);
}

// A reservation below the top starts at its offset: the top moves down to its end, and the
// units before the offset stay.
TEST_F(Stack, AReservationBelowTheTopEndsTheStackThere) {
  str_concat(u"abcd");
  temp_reserve(1, 4);
  EXPECT_EQ(temp_stack.top, 6);
  EXPECT_EQ(std::u16string(temp_at(0), 2), u"ab");
}

TEST_F(Stack, ConcatBuildsValuesAtTheMark) {
  int32_t mark = temp_mark();
  str_concat(u"a");
  str_concat(u"b");
  str_concat(u"c");
  EXPECT_EQ(at(mark), u"abc");
  EXPECT_EQ(temp_stack.top, mark + 6);

  int32_t top = temp_stack.top;
  str_concat(nullptr);
  EXPECT_EQ(temp_stack.top, top);
  str_concat(u"");
  EXPECT_EQ(temp_stack.top, top);
  EXPECT_EQ(temp_at(top)[0], 0);
}

TEST_F(Stack, ConcatOfAValueOnTheStackSurvivesTheMove) {
  // The value doubles until an append has outgrown the stack while reading from it.
  std::u16string want = u"0123";
  str_concat(want.c_str());
  for (int32_t first = temp_stack.capacity; temp_stack.capacity == first;) {
    str_concat(temp_at(0));
    want += want;
    ASSERT_EQ(at(0), want);
  }
}

TEST_F(Stack, LocateCountsBothBoundsAsInside) {
  str_concat(u"abc");
  EXPECT_EQ(temp_locate(temp_stack.buffer), 1);
  EXPECT_EQ(temp_locate(temp_stack.buffer + temp_stack.top), temp_stack.top + 1);
  EXPECT_EQ(temp_locate(temp_stack.buffer + temp_stack.top + 2), 0);
  EXPECT_EQ(temp_locate(u"elsewhere"), 0);
  EXPECT_EQ(temp_locate(nullptr), 0);
  EXPECT_EQ(temp_resolve(temp_locate(temp_stack.buffer + 2)), temp_at(2));
}

TEST_F(Stack, TrimGivesUnitsBack) {
  temp_reserve(10, 0);
  temp_trim(3);
  EXPECT_EQ(temp_stack.top, 14);
}

TEST_F(Stack, AssignTempTakesTheLengthFromTopAndRestoresTheMark) {
  char16_t* var = nullptr;
  str_concat(u"keep");
  int32_t mark = temp_mark();
  str_concat(u"value");
  str_concat(u"!");
  str_assign_temp(var, mark);
  EXPECT_EQ(std::u16string(var), u"value!");
  EXPECT_EQ(temp_stack.top, mark);

  // Nothing built since the mark: the empty string.
  str_assign_temp(var, mark);
  ASSERT_NE(var, nullptr);
  EXPECT_EQ(var[0], 0);
  EXPECT_EQ(temp_stack.top, mark);

  // The length comes from top: a unit 0 inside the bytes does not shorten the copy's span.
  temp_reserve(3, mark);
  char16_t* p = temp_resolve(mark + 1);
  p[0] = u'x', p[1] = 0, p[2] = u'y';
  str_assign_temp(var, mark);
  EXPECT_EQ(var[0], u'x');
  EXPECT_EQ(var[2], u'y');
  EXPECT_EQ(var[3], 0);

  // A huge value alone on the stack, taken with the stack's own block: the stack goes on afresh.
  temp_restore(0);
  const std::u16string huge(700000, u'h');
  str_concat(huge.c_str());
  str_assign_temp(var, 0);
  EXPECT_EQ(std::u16string(var), huge);
  EXPECT_EQ(temp_stack.top, 0);
  str_concat(u"after");
  EXPECT_EQ(at(0), u"after");
  str_assign(var, nullptr);
}

TEST_F(Stack, AssignCopiesResizesAndFrees) {
  char16_t* var = nullptr;
  str_assign(var, nullptr);
  EXPECT_EQ(var, nullptr);
  str_assign(var, u"short");
  EXPECT_EQ(std::u16string(var), u"short");
  str_assign(var, u"a considerably longer text than before");
  EXPECT_EQ(std::u16string(var), u"a considerably longer text than before");
  str_assign(var, u"");
  EXPECT_EQ(std::u16string(var), u"");
  str_assign(var, nullptr);
  EXPECT_EQ(var, nullptr);
}

TEST(Strings, CopyAndDuplicate) {
  char16_t dst[8];
  memset(dst, 0xFF, sizeof dst);
  str_copy_n(dst, u"abcdef", 3);
  EXPECT_EQ(std::u16string(dst), u"abc");
  str_copy_n(dst, u"zzz", 0);
  EXPECT_EQ(dst[0], 0);

  char16_t* copy = str_dup(u"copy");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::u16string(copy), u"copy");
  str_free(copy);
  EXPECT_EQ(str_len(nullptr), 0);
  EXPECT_EQ(str_len(u"four"), 4);
}
