#pragma once
// Lists of the class library: TList of untyped pointers, and TStrings /
// TStringList of strings with optional objects.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/ClassesBase.h"
#include "platform/rtl/Visibility.h"

namespace plat {

class TStream;

// Errors of TList are EListError, those of TStringList EStringListError.
inline constexpr int32_t MaxListSize = 134217727;

using TListSortCompare = std::function<int32_t(void* Item1, void* Item2)>;

// An ordered list of pointers. The engine also keeps 32-bit integers in it,
// cast to pointers. Invariant: Count() <= Capacity() <= MaxListSize.
class PLAT_API TList : public TObject {
 public:
  TList() = default;
  TList(const TList&) = delete;
  TList& operator=(const TList&) = delete;
  ~TList() override = default;

  std::string ClassName() const override { return "TList"; }

  int32_t Add(void* Item);
  void Insert(int32_t Index, void* Item);
  void Delete(int32_t Index);
  // Deletes the first occurrence of Item; returns its former index or -1.
  int32_t Remove(void* Item);
  // Removes the first occurrence of Item and returns it, or nullptr.
  void* Extract(void* Item);
  int32_t IndexOf(void* Item) const;
  virtual void Clear();

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Growing the count fills the new slots with nullptr.
  void SetCount(int32_t NewCount);
  int32_t Capacity() const { return capacity_; }
  void SetCapacity(int32_t NewCapacity);

  void* Items(int32_t Index) const;
  void SetItems(int32_t Index, void* Item);
  void* operator[](int32_t Index) const { return Items(Index); }
  void*& operator[](int32_t Index);

  void* First() const { return Items(0); }
  void* Last() const { return Items(Count() - 1); }
  void Exchange(int32_t Index1, int32_t Index2);
  void Move(int32_t CurIndex, int32_t NewIndex);
  // Removes every nullptr item.
  void Pack();
  // Quicksort: equal items may change their order.
  void Sort(const TListSortCompare& Compare);
  // Makes this list a copy of Source.
  void Assign(const TList& Source);

 private:
  [[noreturn]] static void Error(const char* message, int32_t data);
  void CheckIndex(int32_t Index) const;
  void Grow();

  std::vector<void*> items_;
  int32_t capacity_ = 0;
};

enum TDuplicates : uint8_t { dupIgnore, dupAccept, dupError };

// The abstract list of strings. Descendants keep the strings; this class
// builds the text forms (Text, CommaText, name=value pairs) on top of them.
class PLAT_API TStrings : public TPersistent {
 public:
  TStrings() = default;
  TStrings(const TStrings&) = delete;
  TStrings& operator=(const TStrings&) = delete;

  std::string ClassName() const override { return "TStrings"; }

  virtual int32_t Count() const = 0;
  std::string Strings(int32_t Index) const { return Get(Index); }
  void SetStrings(int32_t Index, const std::string& S) { Put(Index, S); }
  TObject* Objects(int32_t Index) const { return GetObject(Index); }
  void SetObjects(int32_t Index, TObject* AObject) { PutObject(Index, AObject); }

  virtual int32_t Add(const std::string& S);
  virtual int32_t AddObject(const std::string& S, TObject* AObject);
  virtual void Insert(int32_t Index, const std::string& S) = 0;
  virtual void InsertObject(int32_t Index, const std::string& S, TObject* AObject);
  virtual void Delete(int32_t Index) = 0;
  virtual void Clear() = 0;
  virtual void Exchange(int32_t Index1, int32_t Index2);
  virtual void Move(int32_t CurIndex, int32_t NewIndex);
  virtual int32_t IndexOf(const std::string& S) const;
  int32_t IndexOfObject(TObject* AObject) const;
  void AddStrings(const TStrings& Strings);

  // "name=value" lines. Names compare as IndexOf compares strings.
  int32_t IndexOfName(const std::string& Name) const;
  std::string Names(int32_t Index) const;
  std::string Values(const std::string& Name) const;
  // An empty value deletes the line; a new name is added at the end.
  void SetValues(const std::string& Name, const std::string& Value);
  // The part after the first "=", empty for a line without one.
  std::string ValueFromIndex(int32_t Index) const;

  // Every line followed by LineBreak ("\n"). SetText splits at CR, LF and
  // CRLF; a final line break adds no empty line.
  std::string Text() const;
  void SetText(const std::string& Value);
  static constexpr const char* LineBreak = "\n";

  // Lines joined by Delimiter; a line holding a space, a control character,
  // the delimiter or the quote character is quoted, with inner quotes
  // doubled. CommaText is the same with "," and '"'.
  std::string DelimitedText() const;
  void SetDelimitedText(const std::string& Value);
  std::string CommaText() const;
  void SetCommaText(const std::string& Value);
  char Delimiter() const { return delimiter_; }
  void SetDelimiter(char Value) { delimiter_ = Value; }
  char QuoteChar() const { return quoteChar_; }
  void SetQuoteChar(char Value) { quoteChar_ = Value; }

  virtual void LoadFromStream(TStream& Stream);
  virtual void SaveToStream(TStream& Stream) const;
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName) const;

  // Nested; change events wait for the outermost EndUpdate.
  void BeginUpdate();
  void EndUpdate();
  int32_t UpdateCount() const { return updateCount_; }

  // Copies lines and objects (not owned by the copy) of another TStrings.
  void Assign(const TPersistent* Source) override;

 protected:
  virtual std::string Get(int32_t Index) const = 0;
  virtual void Put(int32_t Index, const std::string& S);
  virtual TObject* GetObject(int32_t Index) const;
  virtual void PutObject(int32_t Index, TObject* AObject);
  // Called with true by the outermost BeginUpdate and false by its EndUpdate.
  virtual void SetUpdateState(bool Updating);
  // How two strings compare for IndexOf and IndexOfName.
  virtual int32_t CompareStrings(const std::string& S1, const std::string& S2) const;

 private:
  std::string DelimitedWith(char delimiter, char quote) const;
  void SetDelimitedWith(const std::string& value, char delimiter, char quote);

  int32_t updateCount_ = 0;
  char delimiter_ = ',';
  char quoteChar_ = '"';
};

class TStringList;
using TStringListSortCompare =
    std::function<int32_t(TStringList& List, int32_t Index1, int32_t Index2)>;

// Strings with objects in a vector. Objects are not freed by the list unless
// OwnsObjects. Invariant: when Sorted, the strings are in CompareStrings order.
class PLAT_API TStringList : public TStrings {
 public:
  explicit TStringList(bool OwnsObjects = false) : ownsObjects_(OwnsObjects) {}
  ~TStringList() override;

  std::string ClassName() const override { return "TStringList"; }

  int32_t Count() const override { return static_cast<int32_t>(items_.size()); }
  // A sorted list puts S in its place (see Duplicates).
  int32_t Add(const std::string& S) override { return AddObject(S, nullptr); }
  int32_t AddObject(const std::string& S, TObject* AObject) override;
  void Insert(int32_t Index, const std::string& S) override;
  void InsertObject(int32_t Index, const std::string& S, TObject* AObject) override;
  void Delete(int32_t Index) override;
  void Clear() override;
  void Exchange(int32_t Index1, int32_t Index2) override;
  void Move(int32_t CurIndex, int32_t NewIndex) override;
  int32_t IndexOf(const std::string& S) const override;

  // Binary search of a sorted list: true when found; Index is the match (the
  // first of equal strings) or where S would be inserted.
  bool Find(const std::string& S, int32_t& Index) const;
  virtual void Sort();
  virtual void CustomSort(const TStringListSortCompare& Compare);

  bool Sorted() const { return sorted_; }
  void SetSorted(bool Value);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates Value) { duplicates_ = Value; }
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool Value);
  bool OwnsObjects() const { return ownsObjects_; }
  void SetOwnsObjects(bool Value) { ownsObjects_ = Value; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  std::string Get(int32_t Index) const override;
  void Put(int32_t Index, const std::string& S) override;
  TObject* GetObject(int32_t Index) const override;
  void PutObject(int32_t Index, TObject* AObject) override;
  void SetUpdateState(bool Updating) override;
  int32_t CompareStrings(const std::string& S1, const std::string& S2) const override;
  virtual void Changed();
  virtual void Changing();

 private:
  struct Item {
    std::string text;
    TObject* object;
  };

  [[noreturn]] static void Error(const char* message, int32_t data);
  void CheckIndex(int32_t Index) const;
  void InsertItem(int32_t Index, const std::string& S, TObject* AObject);
  void QuickSort(int32_t L, int32_t R, const TStringListSortCompare& Compare);

  std::vector<Item> items_;
  bool sorted_ = false;
  bool caseSensitive_ = false;
  bool ownsObjects_ = false;
  TDuplicates duplicates_ = dupIgnore;
};

}  // namespace plat
