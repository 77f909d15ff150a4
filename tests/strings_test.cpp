// The TempStringStack, string variables and copies.
#include <cstring>

#include "support.h"

using Stack = StackTest;

TEST_F(Stack, GrowsOnlyWhenTheNeedReachesCapacityLessFour) {
  EXPECT_EQ(temp_stack.capacity, 16);
  const char* before = temp_stack.buffer;
  temp_reserve(5, 0);  // need 10 < 12
  EXPECT_EQ(temp_stack.capacity, 16);
  EXPECT_EQ(temp_stack.buffer, before);
  EXPECT_EQ(temp_stack.top, 10);

  temp_restore(0);
  temp_reserve(6, 0);  // need 12 >= 12
  EXPECT_EQ(temp_stack.capacity, 12 + 16384);
  EXPECT_EQ(temp_stack.top, 12);

  // need == capacity - 4 grows too.
  temp_restore(0);
  int32_t units = (temp_stack.capacity - 4) / 2;
  temp_reserve(units, 0);
  EXPECT_EQ(temp_stack.capacity, 2 * units + 16384);
}

TEST_F(Stack, ShrinksBackToOneMebibyteAfterAnOversizedValue) {
  temp_reserve(600000, 0);  // 1.2 MB
  EXPECT_EQ(temp_stack.capacity, 1200000 + 16384);
  temp_restore(0);

  temp_reserve(550000, 0);  // fits, still above 1 MiB: the capacity follows the need
  EXPECT_EQ(temp_stack.capacity, 1100000);
  temp_restore(0);

  temp_reserve(10, 0);
  EXPECT_EQ(temp_stack.capacity, 1048576);
  temp_reserve(10, 0);
  EXPECT_EQ(temp_stack.capacity, 1048576);  // no longer above the limit: stays
}

TEST_F(Stack, ReserveMeasuresTheNeedFromTopEvenBelowIt) {
  temp_reserve(4, 0);  // top 8
  temp_reserve(2, 0);  // need 8 + 4 = 12 >= 12: grows although the result fits
  EXPECT_EQ(temp_stack.capacity, 12 + 16384);
  EXPECT_EQ(temp_stack.top, 4);
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
  str_concat(u"0123");  // 8 bytes fit the first 16-byte buffer
  EXPECT_EQ(temp_stack.capacity, 16);
  str_concat(temp_at(0));  // the append outgrows it while reading from it
  EXPECT_GT(temp_stack.capacity, 16);
  EXPECT_EQ(at(0), u"01230123");
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
