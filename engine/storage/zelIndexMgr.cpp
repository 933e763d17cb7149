#include "engine/storage/zelIndexMgr.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <typeinfo>

#include "engine/storage/zelCommon.h"
#include "engine/storage/zelDataTableHdr.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/Strings.h"

namespace zel {

// ---------------------------------------------------------------- TInternalIndexDef

void TInternalIndexDef::Assign(const plat::TPersistent* Source) {
  const auto* src = dynamic_cast<const TInternalIndexDef*>(Source);
  if (src == nullptr) {
    plat::TCollectionItem::Assign(Source);
    return;
  }
  TIndexAttributes::operator=(*src);
}

const plat::TPropList& TInternalIndexDef::PublishedProperties() const {
  using T = TInternalIndexDef;
  static const plat::TPropList list =
      plat::TPublished<T>(plat::TCollectionItem::PublishedProperties())
          .Boolean("Hidden", &T::Hidden, &T::SetHidden, false)
          .Boolean("Primary", &T::Primary, &T::SetPrimary, false)
          .Boolean("Unique", &T::Unique, &T::SetUnique, false)
          .String("IndexName", &T::IndexName, &T::SetIndexName)
          .Boolean("Maintained", &T::Maintained, &T::SetMaintained)
          .Boolean("Memory", &T::Memory, &T::SetMemory, false)
          .Integer("IndexPageSize", &T::IndexPageSize, &T::SetIndexPageSize)
          .Integer("MaximumKeySize", &T::MaximumKeySize, &T::SetMaximumKeySize)
          .Integer("KeyDataOffset", &T::KeyDataOffset, &T::SetKeyDataOffset)
          .Integer("IndexSequence", &T::IndexSequence, &T::SetIndexSequence)
          .Enumeration("IndexKeyType", &T::IndexKeyType, &T::SetIndexKeyType,
                       {"ikFixed", "ikMinStringLen"});
  return list;
}

TInternalIndexDefs::TInternalIndexDefs(plat::TPersistent* Owner)
    : plat::TCollection(plat::CollectionItemClass<TInternalIndexDef>(), Owner) {}

TInternalIndexDef* TInternalIndexDefs::FindIndexDef(const std::string& Name) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (plat::AnsiSameText(Items(i)->IndexName(), Name)) return Items(i);
  }
  return nullptr;
}

void CalculateIndexDefSizes(TInternalIndexDef& Def, const TKeyFields& IndexKeyFields) {
  if (Def.KeyDataOffset() <= 0)
    Def.SetKeyDataOffset(CalculateKeyBitmapSize(IndexKeyFields.Count()));
  const int32_t size = CalculateMaximumKeySize(IndexKeyFields, Def.KeyDataOffset());
  if (size > MaxKeySizeLimit)
    ZelDatabaseError(0x2582, "TInternalIndexDef.CalculateSizes", Def.IndexName());
  Def.SetMaximumKeySize(size);
  if (Def.IndexPageSize() == 0)
    Def.SetIndexPageSize(static_cast<uint32_t>(CalculateIndexPageSize(size)));
}

// ---------------------------------------------------------------- TIndexItem

TIndexItem::TIndexItem(plat::TCollection* Collection)
    : plat::TCollectionItem(Collection),
      KeyFields_(std::make_unique<TKeyFields>()),
      Tree_(std::make_unique<TBTree>()) {}

TIndexItem::~TIndexItem() = default;

TIndexManager* TIndexItem::Manager() const {
  // Asked several times per record written: the usual owner is told by its
  // exact type, without the walk of a cast.
  plat::TCollection* owner = Collection();
  if (owner != nullptr && typeid(*owner) == typeid(TIndexManager))
    return static_cast<TIndexManager*>(owner);
  return dynamic_cast<TIndexManager*>(owner);
}

void TIndexItem::Assign(const plat::TPersistent* Source) {
  if (const auto* def = dynamic_cast<const TInternalIndexDef*>(Source)) {
    TIndexAttributes::operator=(*def);
    KeyFields_->Clear();
    return;
  }
  if (const auto* item = dynamic_cast<const TIndexItem*>(Source)) {
    TIndexAttributes::operator=(*item);
    KeyFields_->Assign(item->KeyFields_.get());
    Root_ = item->Root_;
    Depth_ = item->Depth_;
    return;
  }
  plat::TCollectionItem::Assign(Source);
}

void TIndexItem::PrepareTree(const char* Context) {
  TIndexManager* mgr = Manager();
  if (mgr == nullptr || mgr->IOInterface() == nullptr)
    ZelDatabaseError(0x2185, Context, "IO Interface is unassigned");
  KeyFields_->SetDataOffset(KeyDataOffset_);
  Tree_->SetKeyFields(*KeyFields_);
  Tree_->SetMaximumKeySize(MaximumKeySize_);
  const uint32_t pageSize = IndexPageSize_ != 0
                                ? IndexPageSize_
                                : static_cast<uint32_t>(CalculateIndexPageSize(MaximumKeySize_));
  Tree_->SetPageSize(pageSize);
  Tree_->SetDBStringCompare(mgr->DBStringCompareFunction());
  Tree_->SetIndexKeyType(IndexKeyType_);
  Tree_->ConnectToIFace(mgr->IOInterface(), pageSize, &Root_, &Depth_);
}

void TIndexItem::Open() {
  TIndexManager* mgr = Manager();
  if (mgr == nullptr || mgr->IOInterface() == nullptr)
    ZelDatabaseError(0x2185, "TIndexItem.Open", "IO Interface is unassigned");
  if (Root_ == 0 || Depth_ == 0) ZelDatabaseError(0x2185, "TIndexItem.Open", "Not initialized");
  PrepareTree("TIndexItem.Open");
  KeyBuffer_.assign(static_cast<size_t>(std::max(MaximumKeySize_, 0)) + 1, 0);
  Tree_->Open();
  if (static_cast<int32_t>(KeyBuffer_.size()) < Tree_->MaximumKeySize() + 1)
    KeyBuffer_.assign(static_cast<size_t>(Tree_->MaximumKeySize()) + 1, 0);
}

void TIndexItem::Close() {
  Tree_->Close();
  Tree_->KeyFields().Clear();
  KeyFields_->Clear();
  KeyBuffer_.clear();
  KeyBuffer_.shrink_to_fit();
}

void TIndexItem::CreateIndex() {
  Root_ = 0;
  Depth_ = 0;
  PrepareTree("TIndexItem.CreateIndex");
  const bool wasOpen = Tree_->IsOpen();
  if (!wasOpen) Tree_->Open();
  Tree_->CreateTree();
  if (!wasOpen) Tree_->Close();
}

void TIndexItem::EmptyIndex() {
  const bool wasOpen = Tree_->IsOpen();
  if (!wasOpen) {
    PrepareTree("TIndexItem.EmptyIndex");
    Tree_->Open();
  }
  Tree_->EmptyTree(false);
  if (!wasOpen) Tree_->Close();
}

void TIndexItem::DeleteIndex() {
  const bool wasOpen = Tree_->IsOpen();
  if (!wasOpen) {
    PrepareTree("TIndexItem.DeleteIndex");
    Tree_->Open();
  }
  Tree_->EmptyTree(true);
  if (!wasOpen) Tree_->Close();
}

void TIndexItem::CreateKeyBuffer(const uint8_t* RecBuf, const TComparisonMarkers* Markers) {
  Tree_->ConstructKeyBufFromRecBuf(RecBuf, Markers);
}

void TIndexItem::CreateTempKeyBuffer(const uint8_t* RecBuf) {
  Tree_->ConstructTempKeyBufFromRecBuf(KeyBuffer_.data(), RecBuf, nullptr);
}

void TIndexItem::CopyKeyBuffer(const uint8_t* Key, const TComparisonMarkers* Markers) {
  Tree_->ConstructKeyBufFromKeyBuf(Key, Markers);
}

int32_t TIndexItem::CompareKeyBuffers(int32_t FieldCount, const TComparisonMarkers* MarkersA,
                                      const TComparisonMarkers* MarkersB, const uint8_t* KeyA,
                                      const uint8_t* KeyB) const {
  return Tree_->CompareKeys(FieldCount, MarkersA, MarkersB, KeyA, KeyB);
}

int32_t TIndexItem::CompareKeyToCurrentKey(int32_t FieldCount, const uint8_t* Key,
                                           const TComparisonMarkers* Markers) {
  return Tree_->CompareKeyToCurrentKeyBuf(FieldCount, Key, Markers);
}

int32_t TIndexItem::FullIndexSearch(TIndexSearchType SearchType) {
  return Tree_->IndexSearch(SearchType, nullptr);
}

int32_t TIndexItem::PartialIndexSearch(TIndexSearchType SearchType,
                                       const TSearchModifier& Modifier) {
  return Tree_->IndexSearch(SearchType, &Modifier);
}

void TIndexItem::SaveHeaderSlot() {
  TIndexManager* mgr = Manager();
  if (mgr == nullptr || mgr->TableHeader() == nullptr) return;
  mgr->TableHeader()->SetIndexRoot(IndexSequence_, Root_);
  mgr->TableHeader()->SetIndexDepth(IndexSequence_, static_cast<uint16_t>(Depth_));
}

int32_t TIndexItem::InsertKey(uint32_t RecAddr) {
  Tree_->SetKeyBufAddr(RecAddr);
  const int32_t r = Tree_->InsertKey();
  SaveHeaderSlot();
  return r;
}

void TIndexItem::LoadSortedKeys(const std::vector<const uint8_t*>& Keys) {
  Tree_->LoadSortedKeys(Keys);
  SaveHeaderSlot();
}

int32_t TIndexItem::DeleteKey() {
  const int32_t r = Tree_->DeleteKey();
  SaveHeaderSlot();
  return r;
}

bool TIndexItem::MoveBy(int32_t N) {
  for (; N > 0; --N)
    if (!Tree_->NextRecord()) return false;
  for (; N < 0; ++N)
    if (!Tree_->PriorRecord()) return false;
  return true;
}

// ---------------------------------------------------------------- TIndexManager

TIndexManager::TIndexManager() : plat::TCollection(plat::CollectionItemClass<TIndexItem>()) {}

TIndexManager::~TIndexManager() {
  Clear();
}

void TIndexManager::CountVisible() {
  VisibleCount_ = 0;
  for (int32_t i = 0; i < Count(); ++i)
    if (!Items(i)->Hidden()) ++VisibleCount_;
}

void TIndexManager::Assign(const plat::TPersistent* Source) {
  if (const auto* mgr = dynamic_cast<const TIndexManager*>(Source)) {
    Clear();
    for (int32_t i = 0; i < mgr->Count(); ++i) Add()->Assign(mgr->Items(i));
    CountVisible();
    return;
  }
  if (const auto* defs = dynamic_cast<const TInternalIndexDefs*>(Source)) {
    Clear();
    for (int32_t i = 0; i < defs->Count(); ++i) Add()->Assign(defs->Items(i));
    CountVisible();
    return;
  }
  plat::TCollection::Assign(Source);
}

void TIndexManager::AssignKeyFields(const TKeyFields& KeyFields) {
  for (int32_t i = 0; i < Count(); ++i) Items(i)->KeyFields().Clear();
  for (int32_t k = 0; k < KeyFields.Count(); ++k) {
    const TKeyFieldItem* field = KeyFields.Items(k);
    TIndexItem* item = FindIndex(field->IndexName());
    if (item == nullptr)
      ZelDatabaseError(0x270D, "TIndexManager.AssignKeyFields", field->IndexName());
    if (field->IsStringType() && field->SizeMarkerOffset() == 0)
      ZelDatabaseError(0x2185, "TIndexManager.AssignKeyFields", "KeyBuffers invalid");
    item->KeyFields().Add()->Assign(field);
  }
  for (int32_t i = 0; i < Count(); ++i)
    if (Items(i)->KeyFields().Count() == 0)
      ZelDatabaseError(0x2185, "TIndexManager.AssignKeyFields", "KeyBuffers invalid");
}

void TIndexManager::Open() {
  if (DBStringCompare_ == nullptr)
    ZelDatabaseError(0x2185, "TIndexManager.Open", "No sort order function assigned");
  // Each index's slot comes from the file: a header without it, or with an
  // empty one, is damaged.
  for (int32_t i = 0; i < Count(); ++i)
    if (TableHeader_ != nullptr && Items(i)->IndexSequence() >= TableHeader_->GetIndexCount())
      ZelDatabaseError(0x2103, "TIndexManager.Open",
                       "Table header has no slot for index " + Items(i)->IndexName());
  ReadIndexHeaders(false);
  for (int32_t i = 0; i < Count(); ++i)
    if (TableHeader_ != nullptr && IOInterface_ != nullptr &&
        (Items(i)->Root() == 0 || Items(i)->Depth() == 0))
      ZelDatabaseError(0x2103, "TIndexManager.Open",
                       "Table header holds no tree for index " + Items(i)->IndexName());
  CountVisible();
  for (int32_t i = 0; i < Count(); ++i) Items(i)->Open();
  Opened_ = true;
}

void TIndexManager::Close() {
  for (int32_t i = 0; i < Count(); ++i) Items(i)->Close();
  Clear();
  IOInterface_ = nullptr;
  VisibleCount_ = 0;
  Opened_ = false;
}

void TIndexManager::ReadIndexHeaders(bool Invalidate) {
  if (Count() == 0) return;
  PLAT_ASSERT(TableHeader_ != nullptr, "IndexManager table header = nil");
  for (int32_t i = 0; i < Count(); ++i) {
    TIndexItem* item = Items(i);
    if (Invalidate) item->InvalidateInternalBuffers();
    item->SetRoot(TableHeader_->GetIndexRoot(item->IndexSequence()));
    item->SetDepth(TableHeader_->GetIndexDepth(item->IndexSequence()));
  }
}

void TIndexManager::WriteIndexHeaders() {
  if (Count() == 0) return;
  PLAT_ASSERT(TableHeader_ != nullptr, "IndexManager table header = nil");
  for (int32_t i = 0; i < Count(); ++i) Items(i)->SaveHeaderSlot();
}

void TIndexManager::CreateIndexes() {
  // Index pages of all tables share one free-block chain kept in the global
  // header.
  if (auto* disk = dynamic_cast<TDiskIOInterface*>(IOInterface_)) {
    if (disk->IsGlobal()) disk->GetGlobalFirstEmpty();
  }
  for (int32_t i = 0; i < Count(); ++i) Items(i)->CreateIndex();
  WriteIndexHeaders();
}

void TIndexManager::CheckSlotFree(const TIndexItem& Item, const char* Context) const {
  for (int32_t i = 0; i < Count(); ++i) {
    const TIndexItem* other = Items(i);
    if (other != &Item && other->IndexSequence() == Item.IndexSequence())
      ZelDatabaseErrorFmt(0x2185, Context, "Index slot %d is used by index %s",
                          {Item.IndexSequence(), other->IndexName()});
  }
}

void TIndexManager::AddIndex(const TInternalIndexDef& IndexDef, const TKeyFields& KeyFields) {
  if (FindIndex(IndexDef.IndexName()) != nullptr)
    ZelDatabaseError(0x272B, "TIndexManager.AddIndex", IndexDef.IndexName());
  if (IndexDef.MaximumKeySize() > MaxKeySizeLimit)
    ZelDatabaseError(0x2582, "TIndexManager.AddIndex", IndexDef.IndexName());
  ReadIndexHeaders(true);
  TIndexItem* item = Add();
  try {
    item->Assign(&IndexDef);
    CheckSlotFree(*item, "TIndexManager.AddIndex");
    for (int32_t k = 0; k < KeyFields.Count(); ++k) {
      const TKeyFieldItem* field = KeyFields.Items(k);
      if (!plat::AnsiSameText(field->IndexName(), item->IndexName())) continue;
      if (field->IsStringType() && field->SizeMarkerOffset() == 0)
        ZelDatabaseError(0x2185, "TIndexManager.AddIndex", "KeyBuffers invalid");
      item->KeyFields().Add()->Assign(field);
    }
    if (item->KeyFields().Count() == 0)
      ZelDatabaseError(0x2185, "TIndexManager.AddIndex", "KeyBuffers invalid");
    if (CalculateMaximumKeySize(item->KeyFields(),
                                item->KeyDataOffset() > 0
                                    ? item->KeyDataOffset()
                                    : CalculateKeyBitmapSize(item->KeyFields().Count())) >
        MaxKeySizeLimit)
      ZelDatabaseError(0x2582, "TIndexManager.AddIndex", IndexDef.IndexName());
  } catch (...) {
    delete item;
    throw;
  }
  item->CreateIndex();
  CountVisible();
  WriteIndexHeaders();
  if (Opened_) item->Open();
}

void TIndexManager::DropIndex(const std::string& Name) {
  TIndexItem* item = FindIndex(Name);
  if (item == nullptr) ZelDatabaseError(0x270D, "TIndexManager.DropIndex", Name);
  ReadIndexHeaders(true);
  const int32_t slot = item->IndexSequence();
  if (item->Root() != 0 && item->Depth() != 0) item->DeleteIndex();
  item->Close();
  delete item;
  CountVisible();
  // The dropped index's own slot is cleared, so no stale root remains; the
  // other indexes keep theirs.
  if (TableHeader_ != nullptr) {
    TableHeader_->SetIndexRoot(slot, 0);
    TableHeader_->SetIndexDepth(slot, 0);
  }
  WriteIndexHeaders();
}

void TIndexManager::EmptyIndex(const std::string& Name) {
  TIndexItem* item = FindIndex(Name);
  if (item == nullptr) ZelDatabaseError(0x270D, "TIndexManager.EmptyIndex", Name);
  ReadIndexHeaders(true);
  item->EmptyIndex();
  WriteIndexHeaders();
}

TIndexItem* TIndexManager::FindIndex(const std::string& Name) const {
  // Cursors ask at every step, mostly with the name as the index spells it:
  // that is found without comparing by collation.
  for (int32_t i = 0; i < Count(); ++i)
    if (Items(i)->IndexName() == Name) return Items(i);
  for (int32_t i = 0; i < Count(); ++i)
    if (plat::AnsiSameText(Items(i)->IndexName(), Name)) return Items(i);
  return nullptr;
}

TIndexItem* TIndexManager::CurrentIndex() const {
  TIndexItem* item = FindIndex(CurrentIndexName_);
  if (item == nullptr) ZelDatabaseError(0x270D, "TIndexManager.CurrentIndex", CurrentIndexName_);
  return item;
}

TIndexItem* TIndexManager::FindIndexForFields(const plat::TStrings& Fields,
                                              bool CaseSensitiveOnly) const {
  const int32_t n = Fields.Count();
  for (int32_t i = 0; i < Count(); ++i) {
    TIndexItem* item = Items(i);
    const TKeyFields& keys = item->KeyFields();
    if (keys.Count() < n) continue;
    bool match = true;
    for (int32_t k = 0; k < n && match; ++k) {
      const TKeyFieldItem* key = keys.Items(k);
      match = plat::AnsiSameText(key->FieldName(), Fields.Strings(k)) &&
              !(CaseSensitiveOnly && key->CaseInsensitive());
    }
    if (match) return item;
  }
  return nullptr;
}

void TIndexManager::Update(plat::TCollectionItem*) {
  ++Changes_;
}

void TIndexManager::InvalidateInternalBuffers() {
  for (int32_t i = 0; i < Count(); ++i) Items(i)->InvalidateInternalBuffers();
}

void TIndexManager::DumpInternalStatus(plat::TStrings& Strings) {
  Strings.Add("Index manager: " + std::to_string(Count()) + " indexes, current '" +
              CurrentIndexName_ + "'");
  for (int32_t i = 0; i < Count(); ++i) {
    const TIndexItem* item = Items(i);
    Strings.Add("  " + item->IndexName() + ": slot " + std::to_string(item->IndexSequence()) +
                " root " + std::to_string(item->Root()) + " depth " +
                std::to_string(item->Depth()) + " key size " +
                std::to_string(item->MaximumKeySize()) + " fields " +
                std::to_string(item->KeyFields().Count()));
  }
}

// ---------------------------------------------------------------- TTemporarySort

TTemporarySort::TTemporarySort(plat::TCollection* Collection)
    : plat::TCollectionItem(Collection), KeyFields_(std::make_unique<TKeyFields>()) {}

void TTemporarySort::Open(int32_t Capacity) {
  if (DBStringCompare_ == nullptr)
    ZelDatabaseError(0x2185, "TTemporarySort.Open", "Sort function not assinged");
  Close();
  Format_.Setup(*KeyFields_, KeyFields_->DataOffset(), 0, ikFixed, DBStringCompare_);
  KeySize_ = Format_.MaximumKeySize();
  Capacity_ = std::max(Capacity, 0);
  Keys_.assign(static_cast<size_t>(Capacity_) * static_cast<size_t>(KeySize_), 0);
  SearchKey_.assign(static_cast<size_t>(KeySize_) + 1, 0);
  Open_ = true;
}

void TTemporarySort::Close() {
  Keys_.clear();
  Keys_.shrink_to_fit();
  SearchKey_.clear();
  Count_ = 0;
  Capacity_ = 0;
  Sorted_ = false;
  Open_ = false;
}

void TTemporarySort::AppendKey(uint32_t RecAddr, const uint8_t* RecBuf) {
  if (!Open_) ZelDatabaseError(0x2185, "TTemporarySort.AppendKey", "Sort is not open");
  if (Count_ >= Capacity_) {
    Capacity_ += std::max(Capacity_ / 4, 1);
    Keys_.resize(static_cast<size_t>(Capacity_) * static_cast<size_t>(KeySize_), 0);
  }
  uint8_t* key = Keys_.data() + static_cast<size_t>(Count_) * static_cast<size_t>(KeySize_);
  Format_.BuildFromRecord(key, RecBuf);
  ix::StoreU32(key + keAddress, RecAddr);
  ++Count_;
  Sorted_ = false;
}

void TTemporarySort::Sort() {
  if (!Open_) ZelDatabaseError(0x2185, "TTemporarySort.Sort", "Sort is not open");
  std::vector<int32_t> order(static_cast<size_t>(Count_));
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return Format_.CompareKeys(0, nullptr, nullptr, Key(a), Key(b)) < 0;
  });
  std::vector<uint8_t> sorted(Keys_.size(), 0);
  const size_t size = static_cast<size_t>(KeySize_);
  for (size_t i = 0; i < order.size(); ++i)
    std::memcpy(sorted.data() + i * size, Key(order[i]), size);
  Keys_.swap(sorted);
  Sorted_ = true;
}

void TTemporarySort::ConstructKeyBufFromRecBuf(uint32_t RecAddr, const uint8_t* RecBuf) {
  if (!Open_)
    ZelDatabaseError(0x2185, "TTemporarySort.ConstructKeyBufFromRecBuf", "Sort is not open");
  Format_.BuildFromRecord(SearchKey_.data(), RecBuf);
  ix::StoreU32(SearchKey_.data() + keAddress, RecAddr);
}

int32_t TTemporarySort::LowerBound() const {
  int32_t lo = 0;
  int32_t hi = Count_;
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    if (Format_.CompareKeys(0, nullptr, nullptr, SearchKey_.data(), Key(mid)) > 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

uint32_t TTemporarySort::FindKey() {
  if (!Open_) return 0;
  if (!Sorted_) Sort();
  const int32_t k = LowerBound();
  if (k < Count_ && Format_.CompareKeys(0, nullptr, nullptr, SearchKey_.data(), Key(k)) == 0)
    return KeyAddress(k);
  return 0;
}

uint32_t TTemporarySort::FindNearest() {
  if (!Open_) return 0;
  if (!Sorted_) Sort();
  const int32_t k = LowerBound();
  return k < Count_ ? KeyAddress(k) : 0;
}

TTemporarySortManager::TTemporarySortManager()
    : plat::TCollection(plat::CollectionItemClass<TTemporarySort>()) {}

void TTemporarySortManager::Close() {
  for (int32_t i = 0; i < Count(); ++i) Items(i)->Close();
}

}  // namespace zel
