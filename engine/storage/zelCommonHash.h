#pragma once
// A chained hash table of fixed-size byte keys with a 32-bit value each, and
// a collection whose items are found through it by an 8-byte key.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/DB.h"
#include "platform/rtl/Collections.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Object.h"
#include "platform/rtl/Published.h"

namespace zel {

// Fixed capacity: HashKeyMax entries in HashSize buckets, each entry holding
// a key slot of KeySize bytes (zero-filled past the key it was given) and a
// value. Invariants:
//  1. Every entry index is either on the free stack or linked in exactly one
//     bucket chain, the one HashOf gives for its key; Count() entries are
//     linked.
//  2. A chain lists its entries most recent first.
// Exceeding the capacity or bad sizes are internal faults (plat::EAssertionFailed).
class TZelBaseHash : public plat::TObject {
 public:
  // HashSize and KeySize must be positive, HashKeyMax from 0 to HashSize.
  TZelBaseHash(int32_t HashSize, int32_t KeySize, int32_t HashKeyMax);
  TZelBaseHash(const TZelBaseHash&) = delete;
  TZelBaseHash& operator=(const TZelBaseHash&) = delete;

  std::string ClassName() const override { return "TZelBaseHash"; }

  // h := 0; for each byte b: h := (h rotated left by 2) xor b.
  virtual uint32_t HashOf(const void* Key, int32_t Length) const;

  // Keeps the first min(Length, KeySize) bytes of Key; raises the internal
  // fault "BaseHash is full" when every entry is in use.
  void Add(const void* Key, int32_t Length, int32_t Value);
  // A key shorter than KeySize matches a stored key that starts with it and
  // has a 0 byte next; a longer one is compared on its first KeySize bytes.
  // The most recently added match wins.
  bool Find(const void* Key, int32_t Length) const;
  // The value of the match, or -1.
  int32_t ValueOf(const void* Key, int32_t Length) const;
  // Removes the match that Find would see; false when there is none.
  bool Delete(const void* Key, int32_t Length);
  // Adds (IntToListEntry) the value of every entry of Key's bucket that
  // matches Key; with Key nullptr, of every entry of the bucket an empty key
  // falls in.
  void GetPossibleMatchList(const void* Key, int32_t Length, plat::TList& List) const;
  bool CheckHashFull() const { return FreeTop_ == 0; }
  // True when two entries carry the same value.
  bool CheckForDuplicateValues() const;
  // Frees all storage: the hash is then empty and has no room (Add raises).
  void Clear();
  // Diagnostics: one line per bucket in use ("Bucket n: v1 v2 ...") and one
  // per entry ("Entry n: value v key hh hh ...").
  std::string DumpHashValues() const;
  std::string DebugListKeys() const;

  int32_t Count() const { return Count_; }
  int32_t HashSize() const { return HashSize_; }
  int32_t KeySize() const { return KeySize_; }
  int32_t HashKeyMax() const { return HashKeyMax_; }

  const std::string& SourceFieldName() const { return SourceFieldName_; }
  void SetSourceFieldName(const std::string& Value) { SourceFieldName_ = Value; }
  plat::TFieldType DataType() const { return DataType_; }
  void SetDataType(plat::TFieldType Value) { DataType_ = Value; }

 private:
  struct Entry {
    int32_t Next;   // next entry in the bucket chain, -1 at the end
    int32_t Index;  // this entry's own index (its key slot)
    int32_t Value;
  };

  int32_t BucketOf(const void* Key, int32_t Length) const;
  // The entry Find would see, or -1.
  int32_t FindEntry(const void* Key, int32_t Length) const;
  bool Matches(int32_t Entry, const void* Key, int32_t Length) const;
  const uint8_t* KeySlot(int32_t Entry) const {
    return Keys_.data() + static_cast<size_t>(Entry) * static_cast<size_t>(KeySize_);
  }

  int32_t HashSize_ = 0;
  int32_t KeySize_ = 0;
  int32_t HashKeyMax_ = 0;
  std::vector<int32_t> Buckets_;  // head entry of each chain, -1 when empty
  std::vector<Entry> Entries_;
  std::vector<uint8_t> Keys_;
  std::vector<int32_t> Free_;  // free entry indexes; Free_[FreeTop_ - 1] is the top
  int32_t FreeTop_ = 0;
  int32_t Count_ = 0;
  std::string SourceFieldName_;
  plat::TFieldType DataType_ = plat::ftUnknown;
};

// The key of a hashed collection item: 8 bytes.
inline constexpr int32_t kHashKeySize = 8;

class THashCollectionItem : public plat::TCollectionItem {
 public:
  explicit THashCollectionItem(plat::TCollection* Collection) : plat::TCollectionItem(Collection) {}

  std::string ClassName() const override { return "THashCollectionItem"; }

  // Copies the 8 bytes at Key.
  void SetHashKey(const uint8_t* Key);
  // The key is A then B, each 32-bit little-endian; the item counts as hashed.
  void SetHashFromInts(uint32_t A, uint32_t B);
  const uint8_t* GetHashKey() const { return HashKey_; }
  bool IsHashed() const { return IsHashed_; }
  void SetIsHashed(bool Value) { IsHashed_ = Value; }

 private:
  uint8_t HashKey_[kHashKeySize] = {};
  bool IsHashed_ = false;
};

// A collection whose items are found by their 8-byte key through a
// TZelBaseHash that maps the key to the item's ID. Invariant: the hash holds
// one entry for each item whose key was added and not deleted since, and
// nothing else once ResetHash has run; it grows (ResetHash) when full.
class THashCollection : public plat::TCollection {
 public:
  explicit THashCollection(plat::TCollectionItemClass ItemClass,
                           plat::TPersistent* Owner = nullptr);

  std::string ClassName() const override { return "THashCollection"; }
  // UseHashSearch.
  const plat::TPropList& PublishedProperties() const override;

  // Adds Key (8 bytes) for the item with that ID, rebuilding the hash first
  // when it is full.
  void AddHashKey(const uint8_t* Key, int32_t ID);
  // The item whose ID the hash gives for Key, or nullptr.
  THashCollectionItem* FindHashKey(const uint8_t* Key) const;
  // Removes the item's key from the hash and clears its IsHashed.
  void DeleteHashKey(THashCollectionItem* Item);
  // Removes the key of the item at Index, then frees the item.
  void DeleteHashedItem(int32_t Index);
  // A new hash of 1000 buckets and entries, or twice the item count when the
  // collection holds 500 items or more, holding the key of every hashed item.
  void ResetHash();
  // Frees every item, then ResetHash.
  void Clear();

  bool UseHashSearch() const { return UseHashSearch_; }
  void SetUseHashSearch(bool Value) { UseHashSearch_ = Value; }

  const TZelBaseHash& Hash() const { return *Hash_; }

 private:
  std::unique_ptr<TZelBaseHash> Hash_;
  bool UseHashSearch_ = false;
};

}  // namespace zel
