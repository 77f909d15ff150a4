// The object table: registration and reuse, unknown numbers, growth and the clean-up order.
#include "runtime/objects/objects.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Rec {
  intptr_t handle;  // live while non-zero
  int32_t value;
};

// Tables live until the process ends; a plain array keeps them reachable for the leak checker.
ObjectTable* tables[16];
int table_count = 0;
ObjectTable* current = nullptr;  // the table the clean-ups below work on
std::vector<intptr_t> cleaned;

// An owner's clean-up: records the number and frees it; number 1 also takes number 2 along.
void cleanup(intptr_t number) {
  cleaned.push_back(number);
  objtab_free(current, number);
  if (number == 1) objtab_free(current, 2);
}

class ObjTab : public testing::Test {
 protected:
  void SetUp() override {
    cleaned.clear();
    current = tables[table_count++] = objtab_create(sizeof(Rec), 16, cleanup);
    ASSERT_NE(current, nullptr);
  }
  // Registers a number and makes its record live.
  Rec* open(intptr_t number) {
    auto* rec = static_cast<Rec*>(objtab_alloc(current, number));
    if (rec) rec->handle = 42;
    return rec;
  }
  intptr_t open_dynamic() { return objtab_handle(current, open(OBJ_AUTO)); }
};

TEST_F(ObjTab, ReRegistrationCleansUpAndReusesTheSameZeroedStorage) {
  EXPECT_EQ(objtab_get(current, 0), nullptr);
  Rec* first = open(0);
  first->value = 99;
  EXPECT_EQ(objtab_get(current, 0), first);
  auto* second = static_cast<Rec*>(objtab_alloc(current, 0));
  EXPECT_EQ(second, first);
  EXPECT_EQ(cleaned, std::vector<intptr_t>{0});
  EXPECT_EQ(second->handle, 0);
  EXPECT_EQ(second->value, 0);
  EXPECT_EQ(objtab_get(current, 0), nullptr);  // zero first field: not live
}

TEST_F(ObjTab, UnknownAndReleasedNumbersYieldNoneAndChangeNothing) {
  Rec* slot = open(0);
  intptr_t a = open_dynamic(), b = open_dynamic();
  EXPECT_LT(a, -1);
  EXPECT_LT(b, -1);
  EXPECT_NE(a, b);
  objtab_free(current, a);
  // 16: just past the 16 slots the table begins with.
  for (intptr_t n : {intptr_t{-1}, intptr_t{-5}, intptr_t{16}, intptr_t{1000}, a, b - 1,
                     INTPTR_MIN}) {
    EXPECT_EQ(objtab_get(current, n), nullptr) << n;
    objtab_free(current, n);
  }
  EXPECT_EQ(objtab_get(current, 0), slot);
  EXPECT_NE(objtab_get(current, b), nullptr);
  // The last number's slots would be more memory than the memory layer hands out: a refused
  // growth registers nothing.
  constexpr auto refused = static_cast<intptr_t>(SIZE_MAX / sizeof(void*) - 16);
  for (intptr_t n : {intptr_t{-5}, INTPTR_MAX, refused}) {
    EXPECT_EQ(objtab_alloc(current, n), nullptr) << n;
    EXPECT_EQ(objtab_get(current, n), nullptr) << n;
  }
  EXPECT_NE(open_dynamic(), a);  // handles are never issued twice
}

TEST_F(ObjTab, FreeAllCleansNumbersAscendingThenDynamicNewestFirst) {
  // 16 and 100 grow the slots (to 32, then 116); 115 then lies in the last slot.
  for (intptr_t n : {3, 0, 7, 16, 100, 115}) ASSERT_NE(open(n), nullptr) << n;
  intptr_t a = open_dynamic(), b = open_dynamic();
  objtab_alloc(current, 5);  // registered, never live: not cleaned
  objtab_free_all(current);
  EXPECT_EQ(cleaned, (std::vector<intptr_t>{0, 3, 7, 16, 100, 115, b, a}));
  for (intptr_t n : {intptr_t{0}, intptr_t{115}, a, b}) EXPECT_EQ(objtab_get(current, n), nullptr);
  EXPECT_NE(open(3), nullptr);  // still usable
}

TEST_F(ObjTab, FreeAllSkipsWhatAnEarlierCleanupFreed) {
  for (intptr_t n : {1, 2, 3}) open(n);
  objtab_free_all(current);
  EXPECT_EQ(cleaned, (std::vector<intptr_t>{1, 3}));
}

TEST(ObjTabPlain, WithoutCleanupRecordsStayAsTheyAre) {
  ObjTable<Rec> plain = {tables[table_count++] = objtab_create(sizeof(Rec), 16, nullptr)};
  Rec* rec = plain.alloc(4);
  *rec = {9, 22};
  EXPECT_EQ(plain.alloc(4), rec);
  EXPECT_EQ(rec->value, 22);
  Rec* dyn = plain.alloc(OBJ_AUTO);
  dyn->handle = 9;
  plain.free_all();
  EXPECT_EQ(plain.get(4), rec);
  EXPECT_EQ(plain.get(plain.handle(dyn)), dyn);
}

}  // namespace
