#include "engine/storage/zelCommonHash.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/storage/zelCommonLists.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace zel {

// ---------------------------------------------------------------- TZelBaseHash

TZelBaseHash::TZelBaseHash(int32_t HashSize, int32_t KeySize, int32_t HashKeyMax)
    : HashSize_(HashSize), KeySize_(KeySize), HashKeyMax_(HashKeyMax) {
  PLAT_ASSERT(HashSize > 0 && KeySize > 0 && HashKeyMax >= 0, "BaseHash invalid size");
  PLAT_ASSERT(HashKeyMax <= HashSize, "BaseHash HashKeyMax above HashSize");
  PLAT_ASSERT(static_cast<uint64_t>(HashKeyMax) * static_cast<uint64_t>(KeySize) <=
                  static_cast<uint64_t>(std::numeric_limits<int32_t>::max()),
              "BaseHash key area too large");
  Buckets_.assign(static_cast<size_t>(HashSize), -1);
  Entries_.resize(static_cast<size_t>(HashKeyMax));
  Keys_.assign(static_cast<size_t>(HashKeyMax) * static_cast<size_t>(KeySize), 0);
  Free_.resize(static_cast<size_t>(HashKeyMax));
  // Entries are handed out from index 0 upwards.
  for (int32_t i = 0; i < HashKeyMax; ++i) {
    Entries_[static_cast<size_t>(i)] = Entry{-1, i, 0};
    Free_[static_cast<size_t>(i)] = HashKeyMax - 1 - i;
  }
  FreeTop_ = HashKeyMax;
}

uint32_t TZelBaseHash::HashOf(const void* Key, int32_t Length) const {
  const auto* bytes = static_cast<const uint8_t*>(Key);
  uint32_t h = 0;
  for (int32_t i = 0; i < Length; ++i) h = ((h << 2) | (h >> 30)) ^ bytes[i];
  return h;
}

int32_t TZelBaseHash::BucketOf(const void* Key, int32_t Length) const {
  PLAT_ASSERT(Length >= 0 && (Key != nullptr || Length == 0), "BaseHash invalid key");
  return static_cast<int32_t>(HashOf(Key, Length) % static_cast<uint32_t>(HashSize_));
}

bool TZelBaseHash::Matches(int32_t Entry, const void* Key, int32_t Length) const {
  const uint8_t* slot = KeySlot(Entry);
  if (Length >= KeySize_) return std::memcmp(slot, Key, static_cast<size_t>(KeySize_)) == 0;
  return (Length == 0 || std::memcmp(slot, Key, static_cast<size_t>(Length)) == 0) &&
         slot[Length] == 0;
}

void TZelBaseHash::Add(const void* Key, int32_t Length, int32_t Value) {
  PLAT_ASSERT(FreeTop_ > 0, "BaseHash is full");
  const int32_t bucket = BucketOf(Key, Length);
  const int32_t e = Free_[static_cast<size_t>(--FreeTop_)];
  // The slot may hold an earlier key: zero it so that a short key ends in 0.
  // A key longer than the slot is cut to the slot's size.
  uint8_t* slot = Keys_.data() + static_cast<size_t>(e) * static_cast<size_t>(KeySize_);
  const size_t n = static_cast<size_t>(std::min(Length, KeySize_));
  std::memset(slot, 0, static_cast<size_t>(KeySize_));
  if (n > 0) std::memcpy(slot, Key, n);
  Entry& entry = Entries_[static_cast<size_t>(e)];
  entry.Value = Value;
  entry.Next = Buckets_[static_cast<size_t>(bucket)];
  Buckets_[static_cast<size_t>(bucket)] = e;
  ++Count_;
}

int32_t TZelBaseHash::FindEntry(const void* Key, int32_t Length) const {
  if (Buckets_.empty()) return -1;
  for (int32_t e = Buckets_[static_cast<size_t>(BucketOf(Key, Length))]; e >= 0;
       e = Entries_[static_cast<size_t>(e)].Next) {
    if (Matches(e, Key, Length)) return e;
  }
  return -1;
}

bool TZelBaseHash::Find(const void* Key, int32_t Length) const {
  return FindEntry(Key, Length) >= 0;
}

int32_t TZelBaseHash::ValueOf(const void* Key, int32_t Length) const {
  const int32_t e = FindEntry(Key, Length);
  return e < 0 ? -1 : Entries_[static_cast<size_t>(e)].Value;
}

bool TZelBaseHash::Delete(const void* Key, int32_t Length) {
  if (Buckets_.empty()) return false;
  int32_t* link = &Buckets_[static_cast<size_t>(BucketOf(Key, Length))];
  while (*link >= 0) {
    const int32_t e = *link;
    if (Matches(e, Key, Length)) {
      *link = Entries_[static_cast<size_t>(e)].Next;
      Entries_[static_cast<size_t>(e)].Next = -1;
      Free_[static_cast<size_t>(FreeTop_++)] = e;
      --Count_;
      return true;
    }
    link = &Entries_[static_cast<size_t>(e)].Next;
  }
  return false;
}

void TZelBaseHash::GetPossibleMatchList(const void* Key, int32_t Length, plat::TList& List) const {
  if (Buckets_.empty()) return;
  const int32_t bucket = Key == nullptr ? BucketOf(nullptr, 0) : BucketOf(Key, Length);
  for (int32_t e = Buckets_[static_cast<size_t>(bucket)]; e >= 0;
       e = Entries_[static_cast<size_t>(e)].Next) {
    if (Key == nullptr || Matches(e, Key, Length)) {
      List.Add(IntToListEntry(Entries_[static_cast<size_t>(e)].Value));
    }
  }
}

bool TZelBaseHash::CheckForDuplicateValues() const {
  std::vector<int32_t> values;
  values.reserve(static_cast<size_t>(Count_));
  for (int32_t head : Buckets_) {
    for (int32_t e = head; e >= 0; e = Entries_[static_cast<size_t>(e)].Next) {
      values.push_back(Entries_[static_cast<size_t>(e)].Value);
    }
  }
  std::sort(values.begin(), values.end());
  return std::adjacent_find(values.begin(), values.end()) != values.end();
}

void TZelBaseHash::Clear() {
  std::vector<int32_t>().swap(Buckets_);
  std::vector<Entry>().swap(Entries_);
  std::vector<uint8_t>().swap(Keys_);
  std::vector<int32_t>().swap(Free_);
  FreeTop_ = 0;
  Count_ = 0;
}

std::string TZelBaseHash::DumpHashValues() const {
  std::string out;
  for (size_t b = 0; b < Buckets_.size(); ++b) {
    if (Buckets_[b] < 0) continue;
    out += "Bucket " + plat::IntToStr(static_cast<int32_t>(b)) + ":";
    for (int32_t e = Buckets_[b]; e >= 0; e = Entries_[static_cast<size_t>(e)].Next) {
      out += " " + plat::IntToStr(Entries_[static_cast<size_t>(e)].Value);
    }
    out += "\n";
  }
  return out;
}

std::string TZelBaseHash::DebugListKeys() const {
  std::string out;
  for (int32_t head : Buckets_) {
    for (int32_t e = head; e >= 0; e = Entries_[static_cast<size_t>(e)].Next) {
      out += "Entry " + plat::IntToStr(e) + ": value " +
             plat::IntToStr(Entries_[static_cast<size_t>(e)].Value) + " key";
      const uint8_t* slot = KeySlot(e);
      for (int32_t i = 0; i < KeySize_; ++i) out += " " + plat::IntToHex(int32_t{slot[i]}, 2);
      out += "\n";
    }
  }
  return out;
}

// ---------------------------------------------------------------- THashCollectionItem

void THashCollectionItem::SetHashKey(const uint8_t* Key) {
  std::memcpy(HashKey_, Key, kHashKeySize);
}

void THashCollectionItem::SetHashFromInts(uint32_t A, uint32_t B) {
  for (int i = 0; i < 4; ++i) {
    HashKey_[i] = static_cast<uint8_t>(A >> (8 * i));
    HashKey_[4 + i] = static_cast<uint8_t>(B >> (8 * i));
  }
  IsHashed_ = true;
}

// ---------------------------------------------------------------- THashCollection

namespace {

constexpr int32_t kDefaultHashSize = 1000;
// From this many items on, a rebuilt hash gets twice as many entries as there
// are items.
constexpr int32_t kGrowThreshold = 500;

}  // namespace

THashCollection::THashCollection(plat::TCollectionItemClass ItemClass, plat::TPersistent* Owner)
    : plat::TCollection(std::move(ItemClass), Owner),
      Hash_(std::make_unique<TZelBaseHash>(kDefaultHashSize, kHashKeySize, kDefaultHashSize)) {}

const plat::TPropList& THashCollection::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<THashCollection>(plat::TCollection::PublishedProperties())
          .Boolean("UseHashSearch", &THashCollection::UseHashSearch,
                   &THashCollection::SetUseHashSearch);
  return list;
}

void THashCollection::AddHashKey(const uint8_t* Key, int32_t ID) {
  if (Hash_->CheckHashFull()) {
    ResetHash();
    // The rebuild took in every hashed item's key; an item whose key was set
    // before this call is in already, and a second entry would outlive the
    // one DeleteHashKey removes.
    if (Hash_->ValueOf(Key, kHashKeySize) == ID) return;
  }
  Hash_->Add(Key, kHashKeySize, ID);
}

THashCollectionItem* THashCollection::FindHashKey(const uint8_t* Key) const {
  const int32_t id = Hash_->ValueOf(Key, kHashKeySize);
  if (id < 0) return nullptr;
  // Items keep the ascending order of their IDs unless someone moved them:
  // try halving first, and fall back to the collection's own walk.
  int32_t lo = 0;
  int32_t hi = Count() - 1;
  while (lo <= hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    plat::TCollectionItem* item = Items(mid);
    if (item->ID() == id) return dynamic_cast<THashCollectionItem*>(item);
    if (item->ID() < id) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  return dynamic_cast<THashCollectionItem*>(FindItemID(id));
}

void THashCollection::DeleteHashKey(THashCollectionItem* Item) {
  if (Item == nullptr) return;
  if (Item->IsHashed()) Hash_->Delete(Item->GetHashKey(), kHashKeySize);
  Item->SetIsHashed(false);
}

void THashCollection::DeleteHashedItem(int32_t Index) {
  DeleteHashKey(dynamic_cast<THashCollectionItem*>(Items(Index)));
  Delete(Index);
}

void THashCollection::ResetHash() {
  const int32_t size = Count() >= kGrowThreshold ? 2 * Count() : kDefaultHashSize;
  auto hash = std::make_unique<TZelBaseHash>(size, kHashKeySize, size);
  for (int32_t i = 0; i < Count(); ++i) {
    const auto* item = dynamic_cast<const THashCollectionItem*>(Items(i));
    if (item != nullptr && item->IsHashed())
      hash->Add(item->GetHashKey(), kHashKeySize, item->ID());
  }
  Hash_ = std::move(hash);
}

void THashCollection::Clear() {
  plat::TCollection::Clear();
  ResetHash();
}

}  // namespace zel
