#pragma once
// The engine's small containers: a pair of pointer lists kept in step, a
// stack, and a list that sorts itself only when large. Their entries are
// mostly 32-bit values (record addresses, record numbers) kept as pointers;
// ordering and searching read an entry as a signed 32-bit integer.

#include <cstdint>

#include "platform/rtl/Lists.h"
#include "platform/rtl/Object.h"

namespace zel {

// A 32-bit value as a list entry, and back.
inline void* IntToListEntry(int32_t Value) {
  return reinterpret_cast<void*>(static_cast<intptr_t>(Value));
}
inline int32_t ListEntryToInt(void* Entry) {
  return static_cast<int32_t>(reinterpret_cast<intptr_t>(Entry));
}

// The comparison for ascending order of entries read as signed 32-bit values:
// negative, 0 or positive.
int32_t AscendingListSort(void* A, void* B);

// Halving search of List (ascending by signed 32-bit value) for P: the index
// of the first equal entry the halving meets (not necessarily the leftmost of
// equal entries), or -1.
int32_t ListBinarySearch(const plat::TList& List, void* P);

// Two lists whose entries belong together by index (say, a record address and
// its record number). Invariants: both lists always hold the same number of
// entries; a list's Sorted flag is set only while that list is in ascending
// order, and is cleared by anything that may break it.
class TCompoundList : public plat::TObject {
 public:
  TCompoundList() = default;
  TCompoundList(const TCompoundList&) = delete;
  TCompoundList& operator=(const TCompoundList&) = delete;

  std::string ClassName() const override { return "TCompoundList"; }

  void Add(void* Lead, void* Second);
  // The common count; lists that got out of step raise
  // "Compound list - list counts do no match".
  int32_t Count() const;
  // The lead list's entry.
  void* Items(int32_t Index) const { return List1_.Items(Index); }
  void SetItems(int32_t Index, void* Value);

  // Binary search when that list is sorted, else a linear search; -1 when
  // absent.
  int32_t IndexOfList1(void* P) const;
  int32_t IndexOfList2(void* P) const;
  // Sorts by that list's values; the other list's entries move along.
  void SortList1();
  void SortList2();
  void Clear();

  // The lists themselves, to read; changes go through the methods above so
  // that the lists stay in step and the flags stay true.
  const plat::TList& List1() const { return List1_; }
  const plat::TList& List2() const { return List2_; }
  bool List1Sorted() const { return List1Sorted_; }
  bool List2Sorted() const { return List2Sorted_; }

 private:
  void SortBy(plat::TList& Key, plat::TList& Other);

  plat::TList List1_;
  plat::TList List2_;
  bool List1Sorted_ = false;
  bool List2Sorted_ = false;
};

// A stack of pointers on a list: the last entry is the top.
class TStackList : public plat::TList {
 public:
  std::string ClassName() const override { return "TStackList"; }

  void Push(void* P) { Add(P); }
  // Removes and returns the top; raises plat::EListError when empty.
  void* Pop();
  // The top, or nullptr when empty.
  void* Peek() const { return Count() == 0 ? nullptr : Last(); }
};

// A list that is sorted only when it is large enough for halving to beat a
// linear scan. Sorted is true only while the entries are in the order of the
// last SortList; Clear resets it. Entries added after SortList must be
// followed by another SortList before SortedIndexOf can halve again, so the
// flag is dropped by the adding methods below.
class TSortedList : public plat::TList {
 public:
  std::string ClassName() const override { return "TSortedList"; }

  // Sorts with Compare when the list holds more than 100 entries and then
  // sets Sorted; with 100 or fewer it only clears Sorted. The halving search
  // assumes AscendingListSort order.
  void SortList(const plat::TListSortCompare& Compare);
  // Halving when Sorted, else a linear search; -1 when absent.
  int32_t SortedIndexOf(void* P) const;

  bool Sorted() const { return Sorted_; }

  int32_t Add(void* Item) {
    Sorted_ = false;
    return plat::TList::Add(Item);
  }
  void Insert(int32_t Index, void* Item) {
    Sorted_ = false;
    plat::TList::Insert(Index, Item);
  }
  void SetItems(int32_t Index, void* Item) {
    Sorted_ = false;
    plat::TList::SetItems(Index, Item);
  }
  void Clear() override {
    Sorted_ = false;
    plat::TList::Clear();
  }

 private:
  bool Sorted_ = false;
};

}  // namespace zel
