#include "engine/storage/zelCommonLists.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/rtl/Exceptions.h"

namespace zel {

namespace {

// Entries compare by their signed 32-bit values. A plain difference would
// overflow for values more than 2^31 apart and then disagree with the sort.
inline int32_t CompareEntries(void* A, void* B) {
  const int32_t a = ListEntryToInt(A);
  const int32_t b = ListEntryToInt(B);
  return (a > b) - (a < b);
}

int32_t LinearIndexOf(const plat::TList& List, void* P) {
  const int32_t value = ListEntryToInt(P);
  for (int32_t i = 0; i < List.Count(); ++i) {
    if (ListEntryToInt(List.Items(i)) == value) return i;
  }
  return -1;
}

// Lists are searched by a short walk only up to this size; above it they are
// worth sorting and halving.
constexpr int32_t kSortThreshold = 100;

}  // namespace

int32_t AscendingListSort(void* A, void* B) {
  return CompareEntries(A, B);
}

int32_t ListBinarySearch(const plat::TList& List, void* P) {
  int32_t lo = 0;
  int32_t hi = List.Count() - 1;
  while (lo <= hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    const int32_t c = CompareEntries(List.Items(mid), P);
    if (c < 0) {
      lo = mid + 1;
    } else if (c > 0) {
      hi = mid - 1;
    } else {
      return mid;
    }
  }
  return -1;
}

// ---------------------------------------------------------------- TCompoundList

void TCompoundList::Add(void* Lead, void* Second) {
  List1_.Add(Lead);
  List2_.Add(Second);
  List1Sorted_ = false;
  List2Sorted_ = false;
}

int32_t TCompoundList::Count() const {
  if (List1_.Count() != List2_.Count())
    throw plat::Exception("Compound list - list counts do no match");
  return List1_.Count();
}

void TCompoundList::SetItems(int32_t Index, void* Value) {
  List1_.SetItems(Index, Value);
  List1Sorted_ = false;
}

int32_t TCompoundList::IndexOfList1(void* P) const {
  return List1Sorted_ ? ListBinarySearch(List1_, P) : LinearIndexOf(List1_, P);
}

int32_t TCompoundList::IndexOfList2(void* P) const {
  return List2Sorted_ ? ListBinarySearch(List2_, P) : LinearIndexOf(List2_, P);
}

void TCompoundList::SortBy(plat::TList& Key, plat::TList& Other) {
  const int32_t n = Count();
  std::vector<std::pair<void*, void*>> pairs;
  pairs.reserve(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) pairs.emplace_back(Key.Items(i), Other.Items(i));
  std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) {
    return CompareEntries(a.first, b.first) < 0;
  });
  for (int32_t i = 0; i < n; ++i) {
    Key.SetItems(i, pairs[static_cast<size_t>(i)].first);
    Other.SetItems(i, pairs[static_cast<size_t>(i)].second);
  }
}

void TCompoundList::SortList1() {
  SortBy(List1_, List2_);
  List1Sorted_ = true;
  List2Sorted_ = false;
}

void TCompoundList::SortList2() {
  SortBy(List2_, List1_);
  List2Sorted_ = true;
  List1Sorted_ = false;
}

void TCompoundList::Clear() {
  List1_.Clear();
  List2_.Clear();
  List1Sorted_ = false;
  List2Sorted_ = false;
}

// ---------------------------------------------------------------- TStackList

void* TStackList::Pop() {
  void* top = Last();
  Delete(Count() - 1);
  return top;
}

// ---------------------------------------------------------------- TSortedList

void TSortedList::SortList(const plat::TListSortCompare& Compare) {
  if (Count() > kSortThreshold) {
    Sort(Compare);
    Sorted_ = true;
  } else {
    Sorted_ = false;
  }
}

int32_t TSortedList::SortedIndexOf(void* P) const {
  return Sorted_ ? ListBinarySearch(*this, P) : LinearIndexOf(*this, P);
}

}  // namespace zel
