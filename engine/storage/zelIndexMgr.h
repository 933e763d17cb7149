#pragma once
// Index definitions, the index manager of a table cursor and the temporary
// sort.
//
// A table's indexes are described in its definition by TInternalIndexDef
// items (with the key fields of all indexes in one TKeyFields) and operated
// by a TIndexManager holding one TIndexItem per index. Each item owns one
// B-tree and keeps the tree's root address and depth, which live in the
// table header's index slot IndexSequence. Rules:
//  1. Two items never share an IndexSequence, so no index writes another's
//     header slot.
//  2. A dropped index leaves its own slot at root 0 and depth 0; the other
//     items keep their slots.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/zelApi.h"
#include "engine/storage/zelIndexKeys.h"
#include "engine/storage/zelIndexTree.h"
#include "engine/storage/zelInterfaceUnit.h"
#include "platform/rtl/Classes.h"

namespace zel {

class TTableHeader;

// The settings an index definition and an open index share; copying one
// copies them all.
class ZEL_API TIndexAttributes {
 public:
  bool Hidden() const { return Hidden_; }
  void SetHidden(bool Value) { Hidden_ = Value; }
  bool Primary() const { return Primary_; }
  void SetPrimary(bool Value) { Primary_ = Value; }
  bool Unique() const { return Unique_; }
  void SetUnique(bool Value) { Unique_ = Value; }
  const std::string& IndexName() const { return IndexName_; }
  void SetIndexName(const std::string& Value) { IndexName_ = Value; }
  bool Maintained() const { return Maintained_; }
  void SetMaintained(bool Value) { Maintained_ = Value; }
  bool Memory() const { return Memory_; }
  void SetMemory(bool Value) { Memory_ = Value; }
  uint32_t IndexPageSize() const { return IndexPageSize_; }
  void SetIndexPageSize(uint32_t Value) { IndexPageSize_ = Value; }
  int32_t MaximumKeySize() const { return MaximumKeySize_; }
  void SetMaximumKeySize(int32_t Value) { MaximumKeySize_ = Value; }
  int32_t KeyDataOffset() const { return KeyDataOffset_; }
  void SetKeyDataOffset(int32_t Value) { KeyDataOffset_ = Value; }
  int32_t IndexSequence() const { return IndexSequence_; }
  void SetIndexSequence(int32_t Value) { IndexSequence_ = Value; }
  TIndexKeyType IndexKeyType() const { return IndexKeyType_; }
  void SetIndexKeyType(TIndexKeyType Value) { IndexKeyType_ = Value; }

 protected:
  bool Hidden_ = false;
  bool Primary_ = false;
  bool Unique_ = false;
  std::string IndexName_;
  bool Maintained_ = false;
  bool Memory_ = false;
  uint32_t IndexPageSize_ = 0;
  int32_t MaximumKeySize_ = 0;
  int32_t KeyDataOffset_ = 0;
  int32_t IndexSequence_ = 0;
  TIndexKeyType IndexKeyType_ = ikFixed;
};

// One index of a table definition (stored with it).
class ZEL_API TInternalIndexDef : public plat::TCollectionItem, public TIndexAttributes {
 public:
  explicit TInternalIndexDef(plat::TCollection* Collection) : plat::TCollectionItem(Collection) {}

  std::string ClassName() const override { return "TInternalIndexDef"; }

  void Assign(const plat::TPersistent* Source) override;
  const plat::TPropList& PublishedProperties() const override;
};

class ZEL_API TInternalIndexDefs : public plat::TCollection {
 public:
  explicit TInternalIndexDefs(plat::TPersistent* Owner = nullptr);

  std::string ClassName() const override { return "TInternalIndexDefs"; }

  TInternalIndexDef* Add() { return static_cast<TInternalIndexDef*>(plat::TCollection::Add()); }
  TInternalIndexDef* Items(int32_t Index) const {
    return static_cast<TInternalIndexDef*>(plat::TCollection::Items(Index));
  }
  // By name, ignoring case; nullptr when none.
  TInternalIndexDef* FindIndexDef(const std::string& Name) const;
};

// Checks an index definition's sizes against its key fields: KeyDataOffset
// := count div 8 + 1 when it is 0, MaximumKeySize := what the fields need;
// more than 500 bytes raises 0x2582 "Key size too large" with the index
// name; IndexPageSize from the key size when it is 0.
ZEL_API void CalculateIndexDefSizes(TInternalIndexDef& Def, const TKeyFields& IndexKeyFields);

class TIndexManager;

// One open index of a table cursor. Invariant: while open, the tree is
// connected to Root and Depth of this item and the key buffer holds
// MaximumKeySize + 1 bytes.
class ZEL_API TIndexItem : public plat::TCollectionItem, public TIndexAttributes {
 public:
  explicit TIndexItem(plat::TCollection* Collection);
  ~TIndexItem() override;

  std::string ClassName() const override { return "TIndexItem"; }

  // From a TInternalIndexDef: the definition's properties (key fields
  // cleared); from a TIndexItem also its key fields, Root and Depth.
  void Assign(const plat::TPersistent* Source) override;

  void Open();
  void Close();
  bool IsOpen() const { return Tree_->IsOpen(); }
  // A new empty tree (one leaf page); Root and Depth are its.
  void CreateIndex();
  // Empties the tree, keeping a fresh empty root.
  void EmptyIndex();
  // Empties the tree and drops the root (Root and Depth 0).
  void DeleteIndex();

  // Key operations of the tree.
  void CreateKeyBuffer(const uint8_t* RecBuf, const TComparisonMarkers* Markers = nullptr);
  // The record's key into the item's own key buffer (GetTempKeyBuffer).
  void CreateTempKeyBuffer(const uint8_t* RecBuf);
  void CopyKeyBuffer(const uint8_t* Key, const TComparisonMarkers* Markers = nullptr);
  int32_t CompareKeyBuffers(int32_t FieldCount, const TComparisonMarkers* MarkersA,
                            const TComparisonMarkers* MarkersB, const uint8_t* KeyA,
                            const uint8_t* KeyB) const;
  uint8_t* GetTempKeyBuffer() { return KeyBuffer_.data(); }
  const uint8_t* GetCurrentKeyBuf() { return Tree_->GetCurrentKeyBuf(); }
  int32_t CompareKeyToCurrentKey(int32_t FieldCount, const uint8_t* Key,
                                 const TComparisonMarkers* Markers = nullptr);

  // 0 when found.
  int32_t FullIndexSearch(TIndexSearchType SearchType);
  int32_t PartialIndexSearch(TIndexSearchType SearchType, const TSearchModifier& Modifier);
  // Puts RecAddr into the search key's address field and inserts it; 0 on
  // success. The header slot follows the tree's root and depth.
  int32_t InsertKey(uint32_t RecAddr);
  int32_t DeleteKey();
  // Fills the empty index with Keys in ascending order (TBTree::LoadSortedKeys).
  void LoadSortedKeys(const std::vector<const uint8_t*>& Keys);
  bool NextKey() { return Tree_->NextRecord(); }
  bool PriorKey() { return Tree_->PriorRecord(); }
  // N moves forward (N > 0) or back; true when all of them succeeded.
  bool MoveBy(int32_t N);

  uint32_t GetRecordAddress() { return Tree_->GetRecAddr(); }
  int32_t GetRecordCount() { return Tree_->GetRecordCount(); }
  int32_t GetRecordNo() { return Tree_->GetRecordNo(); }
  // The cursor on record RecNo; its address, 0 when there is none.
  uint32_t SetRecordNo(int32_t RecNo) { return Tree_->GetAddrOfRecNo(RecNo); }
  void ListMatchingRecords(const uint8_t* Key, int32_t FieldCount, TIndexSearchType SearchType,
                           uint32_t StopAddr, TCompoundList& List) {
    Tree_->ListMatchingRecords(Key, FieldCount, SearchType, StopAddr, List);
  }
  int32_t ListReadAheadRecords(TReadAheadDirection Direction, int32_t Count,
                               TReadAheadBuffer& Buffer) {
    return Tree_->ListReadAheadRecords(Direction, Count, Buffer);
  }
  void FillHashTable(TZelBaseHash& Hash, int32_t KeyFieldNo) {
    Tree_->FillHashTable(Hash, KeyFieldNo);
  }
  void InvalidateInternalBuffers() { Tree_->InvalidateInternalBuffers(); }

  TBTree& BTree() { return *Tree_; }
  TKeyFields& KeyFields() { return *KeyFields_; }
  const TKeyFields& KeyFields() const { return *KeyFields_; }
  uint32_t Root() const { return Root_; }
  void SetRoot(uint32_t Value) { Root_ = Value; }
  uint32_t Depth() const { return Depth_; }
  void SetDepth(uint32_t Value) { Depth_ = Value; }

 private:
  friend class TIndexManager;

  TIndexManager* Manager() const;
  // Hands the sizes, key fields and sort order to the tree and connects it.
  void PrepareTree(const char* Context);
  // Root and Depth into the table header slot, when there is a header.
  void SaveHeaderSlot();

  uint32_t Root_ = 0;
  uint32_t Depth_ = 0;
  std::unique_ptr<TKeyFields> KeyFields_;
  std::unique_ptr<TBTree> Tree_;
  std::vector<uint8_t> KeyBuffer_;
};

// The open indexes of one table cursor.
class ZEL_API TIndexManager : public plat::TCollection {
 public:
  TIndexManager();
  ~TIndexManager() override;

  std::string ClassName() const override { return "TIndexManager"; }

  TIndexItem* Add() { return static_cast<TIndexItem*>(plat::TCollection::Add()); }
  TIndexItem* Items(int32_t Index) const {
    return static_cast<TIndexItem*>(plat::TCollection::Items(Index));
  }

  TBaseIOInterface* IOInterface() const { return IOInterface_; }
  void SetIOInterface(TBaseIOInterface* Value) { IOInterface_ = Value; }
  TTableHeader* TableHeader() const { return TableHeader_; }
  void SetTableHeader(TTableHeader* Value) { TableHeader_ = Value; }
  const std::string& CurrentIndexName() const { return CurrentIndexName_; }
  void SetCurrentIndexName(const std::string& Value) { CurrentIndexName_ = Value; }
  TDBStringCompare DBStringCompareFunction() const { return DBStringCompare_; }
  void SetDBStringCompareFunction(TDBStringCompare Value) { DBStringCompare_ = Value; }
  void SetDebugStrings(plat::TStrings* Value) { DebugStrings_ = Value; }
  // Indexes that are not hidden.
  int32_t VisibleIndexCount() const { return VisibleCount_; }
  bool Opened() const { return Opened_; }

  // From a TIndexManager or from TInternalIndexDefs: one item per source
  // item.
  void Assign(const plat::TPersistent* Source) override;
  // Gives each key field to the item its IndexName names.
  void AssignKeyFields(const TKeyFields& KeyFields);

  void Open();
  // Closes and removes every item; forgets the store.
  void Close();
  void ReadIndexHeaders(bool Invalidate);
  void WriteIndexHeaders();
  void CreateIndexes();
  void AddIndex(const TInternalIndexDef& IndexDef, const TKeyFields& KeyFields);
  void DropIndex(const std::string& Name);
  void EmptyIndex(const std::string& Name);
  TIndexItem* FindIndex(const std::string& Name) const;
  TIndexItem* CurrentIndex() const;
  TIndexItem* FindIndexForFields(const plat::TStrings& Fields, bool CaseSensitiveOnly) const;
  void InvalidateInternalBuffers();
  void DumpInternalStatus(plat::TStrings& Strings);
  // Moves on whenever an item is added, removed or moved: an item pointer
  // taken at an equal count still points at a live item.
  uint64_t Changes() const { return Changes_; }

 protected:
  void Update(plat::TCollectionItem* Item) override;

 private:
  void CountVisible();
  // The item's slot must not be another item's.
  void CheckSlotFree(const TIndexItem& Item, const char* Context) const;

  TBaseIOInterface* IOInterface_ = nullptr;
  TTableHeader* TableHeader_ = nullptr;
  std::string CurrentIndexName_;
  TDBStringCompare DBStringCompare_ = nullptr;
  plat::TStrings* DebugStrings_ = nullptr;
  int32_t VisibleCount_ = 0;
  bool Opened_ = false;
  uint64_t Changes_ = 0;
};

// Keys of one table's records in an in-memory sorted array, for sorting by
// key fields without an index. Keys have the B-tree format (ikFixed slots).
class TTemporarySort : public plat::TCollectionItem {
 public:
  explicit TTemporarySort(plat::TCollection* Collection);

  std::string ClassName() const override { return "TTemporarySort"; }

  TKeyFields& KeyFields() { return *KeyFields_; }
  TDBStringCompare DBStringCompare() const { return DBStringCompare_; }
  void SetDBStringCompare(TDBStringCompare Value) { DBStringCompare_ = Value; }

  // Room for Capacity keys; refuses without a string compare function.
  void Open(int32_t Capacity);
  void Close();
  // The record's key, with RecAddr in its address field; the array grows by
  // a quarter when full.
  void AppendKey(uint32_t RecAddr, const uint8_t* RecBuf);
  void Sort();
  void ConstructKeyBufFromRecBuf(uint32_t RecAddr, const uint8_t* RecBuf);
  // The address of a key equal to the search key, else 0.
  uint32_t FindKey();
  // The address of the first key not below the search key, 0 when all are.
  uint32_t FindNearest();

  int32_t KeySize() const { return KeySize_; }
  int32_t Count() const { return Count_; }
  int32_t Capacity() const { return Capacity_; }
  bool Sorted() const { return Sorted_; }
  const uint8_t* Key(int32_t Index) const {
    return Keys_.data() + static_cast<size_t>(Index) * static_cast<size_t>(KeySize_);
  }
  uint32_t KeyAddress(int32_t Index) const { return ix::LoadU32(Key(Index) + keAddress); }

 private:
  // The first key not below the search key.
  int32_t LowerBound() const;

  std::unique_ptr<TKeyFields> KeyFields_;
  TDBStringCompare DBStringCompare_ = nullptr;
  TKeyFormat Format_;
  int32_t KeySize_ = 0;
  int32_t Capacity_ = 0;
  int32_t Count_ = 0;
  std::vector<uint8_t> Keys_;
  std::vector<uint8_t> SearchKey_;
  bool Sorted_ = false;
  bool Open_ = false;
};

class TTemporarySortManager : public plat::TCollection {
 public:
  TTemporarySortManager();

  std::string ClassName() const override { return "TTemporarySortManager"; }

  TTemporarySort* Add() { return static_cast<TTemporarySort*>(plat::TCollection::Add()); }
  TTemporarySort* Items(int32_t Index) const {
    return static_cast<TTemporarySort*>(plat::TCollection::Items(Index));
  }
  // Closes every item.
  void Close();
};

}  // namespace zel
