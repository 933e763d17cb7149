#include "engine/storage/zelCommonLists.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "platform/rtl/Exceptions.h"

namespace zel {
namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

void* E(int32_t v) {
  return IntToListEntry(v);
}

std::vector<int32_t> Values(const plat::TList& list) {
  std::vector<int32_t> out;
  for (int32_t i = 0; i < list.Count(); ++i) out.push_back(ListEntryToInt(list.Items(i)));
  return out;
}

TEST(CommonLists, AscendingListSortHasNoOverflow) {
  struct Case {
    int32_t a, b;
    int sign;
  };
  const std::vector<Case> cases = {
      {1, 2, -1},       {2, 1, 1},       {5, 5, 0},     {-1, 1, -1},
      {kMin, kMax, -1}, {kMax, kMin, 1}, {kMin, 1, -1},
  };
  for (const auto& c : cases) {
    const int32_t r = AscendingListSort(E(c.a), E(c.b));
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
  }
}

TEST(CommonLists, BinarySearch) {
  plat::TList list;
  for (int32_t v : {kMin, -7, 0, 3, 3, 3, 9, kMax}) list.Add(E(v));
  for (int32_t v : {kMin, -7, 0, 9, kMax}) {
    const int32_t i = ListBinarySearch(list, E(v));
    ASSERT_GE(i, 0) << v;
    EXPECT_EQ(ListEntryToInt(list.Items(i)), v);
  }
  // Any of the equal entries may be the one met.
  const int32_t i = ListBinarySearch(list, E(3));
  ASSERT_GE(i, 3);
  EXPECT_LE(i, 5);
  for (int32_t v : {-8, 1, 4, kMax - 1}) EXPECT_EQ(ListBinarySearch(list, E(v)), -1) << v;
  plat::TList empty;
  EXPECT_EQ(ListBinarySearch(empty, E(0)), -1);
}

TEST(CompoundList, AddSortAndSearch) {
  TCompoundList list;
  const std::vector<int32_t> addresses = {40, kMax, -3, 10, kMin, 0};
  const std::vector<int32_t> numbers = {4, 6, 3, 1, 5, 2};
  for (size_t i = 0; i < addresses.size(); ++i) list.Add(E(addresses[i]), E(numbers[i]));
  ASSERT_EQ(list.Count(), 6);
  EXPECT_EQ(ListEntryToInt(list.Items(1)), kMax);
  EXPECT_FALSE(list.List1Sorted());
  EXPECT_EQ(list.IndexOfList1(E(10)), 3);  // linear
  EXPECT_EQ(list.IndexOfList2(E(5)), 4);
  EXPECT_EQ(list.IndexOfList1(E(11)), -1);

  list.SortList1();
  EXPECT_TRUE(list.List1Sorted());
  EXPECT_FALSE(list.List2Sorted());
  EXPECT_EQ(Values(list.List1()), (std::vector<int32_t>{kMin, -3, 0, 10, 40, kMax}));
  EXPECT_EQ(Values(list.List2()), (std::vector<int32_t>{5, 3, 2, 1, 4, 6}));  // moved along
  for (int32_t i = 0; i < list.Count(); ++i) {
    EXPECT_EQ(list.IndexOfList1(list.List1().Items(i)), i);
    EXPECT_EQ(list.IndexOfList2(list.List2().Items(i)), i);
  }
  EXPECT_EQ(list.IndexOfList1(E(1)), -1);

  list.SortList2();
  EXPECT_TRUE(list.List2Sorted());
  EXPECT_FALSE(list.List1Sorted());
  EXPECT_EQ(Values(list.List2()), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Values(list.List1()), (std::vector<int32_t>{10, 0, -3, 40, kMin, kMax}));

  // Anything that may break the order drops the flag, so searches stay right.
  list.Add(E(-100), E(0));
  EXPECT_FALSE(list.List2Sorted());
  EXPECT_EQ(list.IndexOfList2(E(0)), 6);
  list.SortList1();
  list.SetItems(0, E(kMax));
  EXPECT_FALSE(list.List1Sorted());
  EXPECT_EQ(list.IndexOfList1(E(kMax)), 0);

  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(list.List1Sorted());
  EXPECT_FALSE(list.List2Sorted());
  EXPECT_EQ(list.IndexOfList1(E(0)), -1);
}

TEST(StackList, PushPopPeek) {
  TStackList stack;
  EXPECT_EQ(stack.Peek(), nullptr);
  EXPECT_THROW(stack.Pop(), plat::EListError);
  for (int32_t v : {1, 2, 3}) stack.Push(E(v));
  EXPECT_EQ(ListEntryToInt(stack.Peek()), 3);
  EXPECT_EQ(ListEntryToInt(stack.Pop()), 3);
  EXPECT_EQ(ListEntryToInt(stack.Pop()), 2);
  stack.Push(E(7));
  EXPECT_EQ(ListEntryToInt(stack.Pop()), 7);
  EXPECT_EQ(ListEntryToInt(stack.Pop()), 1);
  EXPECT_EQ(stack.Count(), 0);
  EXPECT_EQ(stack.Peek(), nullptr);
}

TEST(SortedList, SortsOnlyAboveOneHundredEntries) {
  for (int32_t n : {100, 101, 500}) {
    SCOPED_TRACE(n);
    TSortedList list;
    for (int32_t i = n; i >= 1; --i) list.Add(E(i * 3));
    list.SortList(AscendingListSort);
    if (n <= 100) {
      EXPECT_FALSE(list.Sorted());
      EXPECT_EQ(ListEntryToInt(list.Items(0)), n * 3);  // left as it was
    } else {
      EXPECT_TRUE(list.Sorted());
      EXPECT_EQ(ListEntryToInt(list.Items(0)), 3);
      EXPECT_EQ(ListEntryToInt(list.Items(n - 1)), n * 3);
    }
    for (int32_t i = 1; i <= n; ++i) {
      const int32_t at = list.SortedIndexOf(E(i * 3));
      ASSERT_GE(at, 0) << i;
      EXPECT_EQ(ListEntryToInt(list.Items(at)), i * 3);
    }
    EXPECT_EQ(list.SortedIndexOf(E(1)), -1);
    EXPECT_EQ(list.SortedIndexOf(E(n * 3 + 3)), -1);
  }
}

TEST(SortedList, HalvingMeetsAnEqualEntryNotTheFirst) {
  // Of equal entries a linear search finds the first, the halving the first
  // one it meets.
  TSortedList small;
  TSortedList large;
  for (int i = 0; i < 100; ++i) small.Add(E(7));
  for (int i = 0; i < 101; ++i) large.Add(E(7));
  small.SortList(AscendingListSort);
  large.SortList(AscendingListSort);
  EXPECT_EQ(small.SortedIndexOf(E(7)), 0);
  EXPECT_EQ(large.SortedIndexOf(E(7)), 50);
}

TEST(SortedList, ChangesDropTheSortedFlag) {
  TSortedList list;
  for (int32_t i = 0; i < 200; ++i) list.Add(E(i));
  list.SortList(AscendingListSort);
  ASSERT_TRUE(list.Sorted());
  list.Add(E(-1));  // now out of order
  EXPECT_FALSE(list.Sorted());
  EXPECT_EQ(list.SortedIndexOf(E(-1)), 200);

  list.SortList(AscendingListSort);
  ASSERT_TRUE(list.Sorted());
  list.Insert(0, E(1000));
  EXPECT_FALSE(list.Sorted());
  EXPECT_EQ(list.SortedIndexOf(E(1000)), 0);

  list.SortList(AscendingListSort);
  list.Clear();
  EXPECT_FALSE(list.Sorted());

  // Fewer than 101 entries after a large sort: the flag goes.
  for (int32_t i = 0; i < 150; ++i) list.Add(E(i));
  list.SortList(AscendingListSort);
  ASSERT_TRUE(list.Sorted());
  list.SetCount(50);
  list.SortList(AscendingListSort);
  EXPECT_FALSE(list.Sorted());
}

}  // namespace
}  // namespace zel
