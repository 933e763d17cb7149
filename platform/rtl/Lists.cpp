#include "platform/rtl/Lists.h"

#include <algorithm>
#include <memory>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/ScopeGuard.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Strings.h"

namespace plat {

namespace {

constexpr const char* kListIndexError = "List index out of bounds (%d)";
constexpr const char* kListCapacityError = "List capacity out of bounds (%d)";
constexpr const char* kListCountError = "List count out of bounds (%d)";
constexpr const char* kSortedListError = "Operation not allowed on sorted list";
constexpr const char* kDuplicateString = "String list does not allow duplicates";

std::string WithNumber(const char* message, int32_t data) {
  std::string text = message;
  const auto at = text.find("%d");
  if (at != std::string::npos) text.replace(at, 2, std::to_string(data));
  return text;
}

// Wraps S in quote characters, doubling each quote inside.
std::string QuotedStr(const std::string& s, char quote) {
  std::string result(1, quote);
  for (char c : s) {
    result += c;
    if (c == quote) result += quote;
  }
  result += quote;
  return result;
}

// Runs body between BeginUpdate and EndUpdate; EndUpdate runs also when body
// raises. An EndUpdate that raises through OnChange after a sound body
// propagates.
template <class Body>
void InUpdate(TStrings& strings, Body&& body) {
  strings.BeginUpdate();
  const auto endUpdate = OnScopeExit([&] { strings.EndUpdate(); });
  body();
}

bool IsBlank(char c) {
  return c != 0 && static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

// ---------------------------------------------------------------- TList

void TList::Error(const char* message, int32_t data) {
  throw EListError(WithNumber(message, data));
}

void TList::CheckIndex(int32_t Index) const {
  if (Index < 0 || Index >= Count()) Error(kListIndexError, Index);
}

void TList::Grow() {
  int32_t delta = 4;
  if (capacity_ > 64) {
    delta = capacity_ / 4;
  } else if (capacity_ > 8) {
    delta = 16;
  }
  SetCapacity(std::min(MaxListSize, capacity_ + delta));
}

int32_t TList::Add(void* Item) {
  const int32_t index = Count();
  if (index == capacity_) Grow();
  items_.push_back(Item);
  return index;
}

void TList::Insert(int32_t Index, void* Item) {
  if (Index < 0 || Index > Count()) Error(kListIndexError, Index);
  if (Count() == capacity_) Grow();
  items_.insert(items_.begin() + Index, Item);
}

void TList::Delete(int32_t Index) {
  CheckIndex(Index);
  items_.erase(items_.begin() + Index);
}

int32_t TList::Remove(void* Item) {
  const int32_t index = IndexOf(Item);
  if (index >= 0) Delete(index);
  return index;
}

void* TList::Extract(void* Item) {
  const int32_t index = IndexOf(Item);
  if (index < 0) return nullptr;
  Delete(index);
  return Item;
}

int32_t TList::IndexOf(void* Item) const {
  const auto it = std::find(items_.begin(), items_.end(), Item);
  return it == items_.end() ? -1 : static_cast<int32_t>(it - items_.begin());
}

void TList::Clear() {
  SetCount(0);
  SetCapacity(0);
}

void TList::SetCount(int32_t NewCount) {
  if (NewCount < 0 || NewCount > MaxListSize) Error(kListCountError, NewCount);
  if (NewCount > capacity_) SetCapacity(NewCount);
  items_.resize(static_cast<size_t>(NewCount), nullptr);
}

void TList::SetCapacity(int32_t NewCapacity) {
  if (NewCapacity < Count() || NewCapacity > MaxListSize) Error(kListCapacityError, NewCapacity);
  if (NewCapacity == capacity_) return;
  if (NewCapacity < capacity_) {
    items_.shrink_to_fit();
  } else {
    items_.reserve(static_cast<size_t>(NewCapacity));
  }
  capacity_ = NewCapacity;
}

void* TList::Items(int32_t Index) const {
  CheckIndex(Index);
  return items_[static_cast<size_t>(Index)];
}

void TList::SetItems(int32_t Index, void* Item) {
  CheckIndex(Index);
  items_[static_cast<size_t>(Index)] = Item;
}

void*& TList::operator[](int32_t Index) {
  CheckIndex(Index);
  return items_[static_cast<size_t>(Index)];
}

void TList::Exchange(int32_t Index1, int32_t Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  std::swap(items_[static_cast<size_t>(Index1)], items_[static_cast<size_t>(Index2)]);
}

void TList::Move(int32_t CurIndex, int32_t NewIndex) {
  if (CurIndex == NewIndex) return;
  CheckIndex(CurIndex);
  if (NewIndex < 0 || NewIndex >= Count()) Error(kListIndexError, NewIndex);
  void* item = items_[static_cast<size_t>(CurIndex)];
  items_.erase(items_.begin() + CurIndex);
  items_.insert(items_.begin() + NewIndex, item);
}

void TList::Pack() {
  items_.erase(std::remove(items_.begin(), items_.end(), nullptr), items_.end());
}

void TList::Sort(const TListSortCompare& Compare) {
  if (Count() < 2) return;
  // Hoare quicksort around the middle item, with its scans bounded so that a comparison that
  // is not a consistent order cannot walk off the list.
  std::vector<void*>& list = items_;
  auto quickSort = [&](auto& self, int32_t l, int32_t r) -> void {
    int32_t i;
    do {
      i = l;
      int32_t j = r;
      void* pivot = list[static_cast<size_t>((l + r) >> 1)];
      do {
        while (i < r && Compare(list[static_cast<size_t>(i)], pivot) < 0) ++i;
        while (j > l && Compare(list[static_cast<size_t>(j)], pivot) > 0) --j;
        if (i <= j) {
          std::swap(list[static_cast<size_t>(i)], list[static_cast<size_t>(j)]);
          ++i;
          --j;
        }
      } while (i <= j);
      if (l < j) self(self, l, j);
      l = i;
    } while (i < r);
  };
  quickSort(quickSort, 0, Count() - 1);
}

void TList::Assign(const TList& Source) {
  if (&Source == this) return;
  Clear();
  SetCapacity(Source.Capacity());
  items_ = Source.items_;
}

// ---------------------------------------------------------------- TStrings

int32_t TStrings::Add(const std::string& S) {
  const int32_t index = Count();
  Insert(index, S);
  return index;
}

int32_t TStrings::AddObject(const std::string& S, TObject* AObject) {
  const int32_t index = Add(S);
  PutObject(index, AObject);
  return index;
}

void TStrings::InsertObject(int32_t Index, const std::string& S, TObject* AObject) {
  Insert(Index, S);
  PutObject(Index, AObject);
}

void TStrings::Put(int32_t Index, const std::string& S) {
  TObject* object = GetObject(Index);
  Delete(Index);
  InsertObject(Index, S, object);
}

TObject* TStrings::GetObject(int32_t) const {
  return nullptr;
}

void TStrings::PutObject(int32_t, TObject*) {}

void TStrings::SetUpdateState(bool) {}

int32_t TStrings::CompareStrings(const std::string& S1, const std::string& S2) const {
  return AnsiCompareText(S1, S2);
}

void TStrings::Exchange(int32_t Index1, int32_t Index2) {
  InUpdate(*this, [&] {
    const std::string s1 = Get(Index1);
    TObject* o1 = GetObject(Index1);
    const std::string s2 = Get(Index2);
    TObject* o2 = GetObject(Index2);
    Put(Index1, s2);
    PutObject(Index1, o2);
    Put(Index2, s1);
    PutObject(Index2, o1);
  });
}

void TStrings::Move(int32_t CurIndex, int32_t NewIndex) {
  if (CurIndex == NewIndex) return;
  InUpdate(*this, [&] {
    const std::string s = Get(CurIndex);
    TObject* object = GetObject(CurIndex);
    Delete(CurIndex);
    InsertObject(NewIndex, s, object);
  });
}

int32_t TStrings::IndexOf(const std::string& S) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (CompareStrings(Get(i), S) == 0) return i;
  }
  return -1;
}

int32_t TStrings::IndexOfObject(TObject* AObject) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (GetObject(i) == AObject) return i;
  }
  return -1;
}

void TStrings::AddStrings(const TStrings& Strings) {
  InUpdate(*this, [&] {
    for (int32_t i = 0; i < Strings.Count(); ++i) AddObject(Strings.Get(i), Strings.GetObject(i));
  });
}

int32_t TStrings::IndexOfName(const std::string& Name) const {
  for (int32_t i = 0; i < Count(); ++i) {
    const std::string s = Get(i);
    const auto separator = s.find('=');
    if (separator != std::string::npos && CompareStrings(s.substr(0, separator), Name) == 0) {
      return i;
    }
  }
  return -1;
}

std::string TStrings::Names(int32_t Index) const {
  const std::string s = Get(Index);
  const auto separator = s.find('=');
  return separator == std::string::npos ? std::string() : s.substr(0, separator);
}

std::string TStrings::Values(const std::string& Name) const {
  const int32_t index = IndexOfName(Name);
  return index < 0 ? std::string() : ValueFromIndex(index);
}

void TStrings::SetValues(const std::string& Name, const std::string& Value) {
  int32_t index = IndexOfName(Name);
  if (!Value.empty()) {
    if (index < 0) index = Add(std::string());
    Put(index, Name + "=" + Value);
  } else if (index >= 0) {
    Delete(index);
  }
}

std::string TStrings::ValueFromIndex(int32_t Index) const {
  const std::string s = Get(Index);
  const auto separator = s.find('=');
  return separator == std::string::npos ? std::string() : s.substr(separator + 1);
}

std::string TStrings::Text() const {
  std::string result;
  for (int32_t i = 0; i < Count(); ++i) {
    result += Get(i);
    result += LineBreak;
  }
  return result;
}

void TStrings::SetText(const std::string& Value) {
  InUpdate(*this, [&] {
    Clear();
    size_t p = 0;
    while (p < Value.size()) {
      const size_t start = p;
      while (p < Value.size() && Value[p] != '\r' && Value[p] != '\n') ++p;
      Add(Value.substr(start, p - start));
      if (p < Value.size() && Value[p] == '\r') ++p;
      if (p < Value.size() && Value[p] == '\n') ++p;
    }
  });
}

std::string TStrings::DelimitedWith(char delimiter, char quote) const {
  const int32_t count = Count();
  if (count == 1 && Get(0).empty()) return std::string(2, quote);
  std::string result;
  for (int32_t i = 0; i < count; ++i) {
    const std::string s = Get(i);
    const bool needsQuotes = std::any_of(s.begin(), s.end(), [&](char c) {
      return static_cast<unsigned char>(c) <= ' ' || c == quote || c == delimiter;
    });
    if (i > 0) result += delimiter;
    result += needsQuotes ? QuotedStr(s, quote) : s;
  }
  return result;
}

void TStrings::SetDelimitedWith(const std::string& value, char delimiter, char quote) {
  InUpdate(*this, [&] {
    Clear();
    const size_t n = value.size();
    size_t p = 0;
    while (p < n && IsBlank(value[p])) ++p;
    while (p < n) {
      std::string s;
      if (value[p] == quote) {
        // A quoted part ends at a quote that is not doubled, or at the end.
        ++p;
        while (p < n) {
          if (value[p] == quote) {
            if (p + 1 < n && value[p + 1] == quote) {
              s += quote;
              p += 2;
              continue;
            }
            ++p;
            break;
          }
          s += value[p++];
        }
      } else {
        const size_t start = p;
        while (p<n&& static_cast<unsigned char>(value[p])> ' ' && value[p] != delimiter) ++p;
        s = value.substr(start, p - start);
      }
      Add(s);
      while (p < n && IsBlank(value[p])) ++p;
      if (p < n && value[p] == delimiter) {
        if (p + 1 == n) Add(std::string());
        do {
          ++p;
        } while (p < n && IsBlank(value[p]));
      }
    }
  });
}

std::string TStrings::DelimitedText() const {
  return DelimitedWith(delimiter_, quoteChar_);
}

void TStrings::SetDelimitedText(const std::string& Value) {
  SetDelimitedWith(Value, delimiter_, quoteChar_);
}

std::string TStrings::CommaText() const {
  return DelimitedWith(',', '"');
}

void TStrings::SetCommaText(const std::string& Value) {
  SetDelimitedWith(Value, ',', '"');
}

void TStrings::LoadFromStream(TStream& Stream) {
  SetText(ReadStreamToEnd(Stream));
}

void TStrings::SaveToStream(TStream& Stream) const {
  const std::string text = Text();
  WriteStreamData(Stream, text.data(), static_cast<int64_t>(text.size()));
}

void TStrings::LoadFromFile(const std::string& FileName) {
  TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TStrings::SaveToFile(const std::string& FileName) const {
  TFileStream stream(FileName, fmCreate);
  SaveToStream(stream);
}

void TStrings::BeginUpdate() {
  if (updateCount_ == 0) SetUpdateState(true);
  ++updateCount_;
}

void TStrings::EndUpdate() {
  if (updateCount_ == 0) return;
  --updateCount_;
  if (updateCount_ == 0) SetUpdateState(false);
}

void TStrings::Assign(const TPersistent* Source) {
  const auto* source = dynamic_cast<const TStrings*>(Source);
  if (source == nullptr) {
    TPersistent::Assign(Source);
    return;
  }
  if (source == this) return;
  InUpdate(*this, [&] {
    Clear();
    delimiter_ = source->delimiter_;
    quoteChar_ = source->quoteChar_;
    AddStrings(*source);
  });
}

// ---------------------------------------------------------------- TStringList

TStringList::~TStringList() {
  // No events while the list goes away.
  OnChange = nullptr;
  OnChanging = nullptr;
  if (ownsObjects_) {
    for (Item& item : items_) {
      std::unique_ptr<TObject> owned(item.object);
      item.object = nullptr;
    }
  }
}

void TStringList::Error(const char* message, int32_t data) {
  throw EStringListError(WithNumber(message, data));
}

void TStringList::CheckIndex(int32_t Index) const {
  if (Index < 0 || Index >= Count()) Error(kListIndexError, Index);
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TStringList::SetUpdateState(bool Updating) {
  if (Updating) {
    if (OnChanging) OnChanging(this);
  } else if (OnChange) {
    OnChange(this);
  }
}

int32_t TStringList::CompareStrings(const std::string& S1, const std::string& S2) const {
  return caseSensitive_ ? AnsiCompareStr(S1, S2) : AnsiCompareText(S1, S2);
}

std::string TStringList::Get(int32_t Index) const {
  CheckIndex(Index);
  return items_[static_cast<size_t>(Index)].text;
}

TObject* TStringList::GetObject(int32_t Index) const {
  CheckIndex(Index);
  return items_[static_cast<size_t>(Index)].object;
}

void TStringList::Put(int32_t Index, const std::string& S) {
  if (sorted_) Error(kSortedListError, 0);
  CheckIndex(Index);
  Changing();
  items_[static_cast<size_t>(Index)].text = S;
  Changed();
}

void TStringList::PutObject(int32_t Index, TObject* AObject) {
  CheckIndex(Index);
  Changing();
  Item& item = items_[static_cast<size_t>(Index)];
  if (ownsObjects_ && item.object != AObject) {
    std::unique_ptr<TObject> old(item.object);
  }
  item.object = AObject;
  Changed();
}

void TStringList::InsertItem(int32_t Index, const std::string& S, TObject* AObject) {
  Changing();
  items_.insert(items_.begin() + Index, Item{S, AObject});
  Changed();
}

int32_t TStringList::AddObject(const std::string& S, TObject* AObject) {
  int32_t index;
  if (!sorted_) {
    index = Count();
  } else if (Find(S, index)) {
    switch (duplicates_) {
      case dupIgnore:
        return index;
      case dupError:
        Error(kDuplicateString, 0);
      case dupAccept:
        break;
    }
  }
  InsertItem(index, S, AObject);
  return index;
}

void TStringList::Insert(int32_t Index, const std::string& S) {
  InsertObject(Index, S, nullptr);
}

void TStringList::InsertObject(int32_t Index, const std::string& S, TObject* AObject) {
  if (sorted_) Error(kSortedListError, 0);
  if (Index < 0 || Index > Count()) Error(kListIndexError, Index);
  InsertItem(Index, S, AObject);
}

void TStringList::Delete(int32_t Index) {
  CheckIndex(Index);
  Changing();
  std::unique_ptr<TObject> owned(ownsObjects_ ? items_[static_cast<size_t>(Index)].object
                                              : nullptr);
  items_.erase(items_.begin() + Index);
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  std::vector<Item> old;
  old.swap(items_);
  if (ownsObjects_) {
    for (Item& item : old) std::unique_ptr<TObject> owned(item.object);
  }
  Changed();
}

void TStringList::Exchange(int32_t Index1, int32_t Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  Changing();
  std::swap(items_[static_cast<size_t>(Index1)], items_[static_cast<size_t>(Index2)]);
  Changed();
}

void TStringList::Move(int32_t CurIndex, int32_t NewIndex) {
  if (CurIndex == NewIndex) return;
  // Checked before anything moves, so a refused move loses no line and an
  // owned object is never freed on the way.
  if (sorted_) Error(kSortedListError, 0);
  CheckIndex(CurIndex);
  if (NewIndex < 0 || NewIndex >= Count()) Error(kListIndexError, NewIndex);
  Changing();
  Item item = std::move(items_[static_cast<size_t>(CurIndex)]);
  items_.erase(items_.begin() + CurIndex);
  items_.insert(items_.begin() + NewIndex, std::move(item));
  Changed();
}

int32_t TStringList::IndexOf(const std::string& S) const {
  if (!sorted_) return TStrings::IndexOf(S);
  int32_t index;
  return Find(S, index) ? index : -1;
}

bool TStringList::Find(const std::string& S, int32_t& Index) const {
  bool found = false;
  int32_t l = 0;
  int32_t h = Count() - 1;
  while (l <= h) {
    const int32_t i = (l + h) >> 1;
    const int32_t c = CompareStrings(items_[static_cast<size_t>(i)].text, S);
    if (c < 0) {
      l = i + 1;
    } else {
      h = i - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != dupAccept) l = i;
      }
    }
  }
  Index = l;
  return found;
}

void TStringList::QuickSort(int32_t L, int32_t R, const TStringListSortCompare& Compare) {
  // The same quicksort over indexes; the pivot is followed when it moves.
  int32_t i;
  do {
    i = L;
    int32_t j = R;
    int32_t p = (L + R) >> 1;
    do {
      while (i < R && Compare(*this, i, p) < 0) ++i;
      while (j > L && Compare(*this, j, p) > 0) --j;
      if (i <= j) {
        if (i != j) std::swap(items_[static_cast<size_t>(i)], items_[static_cast<size_t>(j)]);
        if (p == i) {
          p = j;
        } else if (p == j) {
          p = i;
        }
        ++i;
        --j;
      }
    } while (i <= j);
    if (L < j) QuickSort(L, j, Compare);
    L = i;
  } while (i < R);
}

void TStringList::Sort() {
  CustomSort([](TStringList& list, int32_t a, int32_t b) {
    return list.CompareStrings(list.items_[static_cast<size_t>(a)].text,
                               list.items_[static_cast<size_t>(b)].text);
  });
}

void TStringList::CustomSort(const TStringListSortCompare& Compare) {
  if (sorted_ || Count() < 2) return;
  Changing();
  QuickSort(0, Count() - 1, Compare);
  Changed();
}

void TStringList::SetSorted(bool Value) {
  if (sorted_ == Value) return;
  if (Value) Sort();
  sorted_ = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
  if (caseSensitive_ == Value) return;
  caseSensitive_ = Value;
  if (sorted_) {
    sorted_ = false;
    Sort();
    sorted_ = true;
  }
}

}  // namespace plat
