#include "engine/storage/zelDiskCache.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

#include "platform/rtl/Format.h"

namespace zel {

namespace {

// Access flag bits that ask the write callback to encrypt.
constexpr uint32_t kEncryptionFlags = 2 | 4;

const char* StateName(TCachePageState State) {
  switch (State) {
    case cpEmpty:
      return "Empty";
    case cpClean:
      return "Clean";
    case cpDirty:
      return "Dirty";
  }
  return "Empty";
}

// Number of shifts that turn an all-ones word into the mask of a page's base
// address: log2 of the page size, rounded down.
uint32_t MaskFor(int32_t PageSize) {
  uint32_t mask = 0xFFFFFFFFu;
  for (uint32_t size = static_cast<uint32_t>(PageSize); size > 1; size >>= 1) mask <<= 1;
  return mask;
}

}  // namespace

uint64_t TPageNotes::NewStamp() {
  // Shared by every cache and store of the process, so that a page of a
  // store opened anew never shows a stamp a reader saw before.
  static std::atomic<uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

// ---------------------------------------------------------------- TCachePage

TCachePage::TCachePage(plat::TCollection* Collection) : THashCollectionItem(Collection) {
  Notes_.Page = this;
}

TCachePage::~TCachePage() = default;

std::string TCachePage::DisplayName() const {
  return plat::Format("%d,%d,%d, ID %d",
                      {Index(), int64_t{LowerAddress_}, int64_t{UpperAddress_}, ID()});
}

void TCachePage::SetPageSize(int32_t Value) {
  if (Buffer_)
    ZelDatabaseError(0x2185, "TCachePage.SetPageSize", "Cannot set page size on opened cache page",
                     this);
  PageSize_ = Value;
}

void TCachePage::OpenPage() {
  if (PageSize_ <= 0) ZelDatabaseError(0x2185, "TCachePage.OpenPage", "Page size = 0", this);
  Owned_ = std::make_unique<uint8_t[]>(static_cast<size_t>(PageSize_));  // zero-filled
  Buffer_ = Owned_.get();
  State_ = cpEmpty;
}

void TCachePage::ClosePage() {
  Owned_.reset();
  Buffer_ = nullptr;
  State_ = cpEmpty;
  LowerAddress_ = UpperAddress_ = PageOwner_ = 0;
  RemoveAfterWrite_ = false;
}

// ---------------------------------------------------------------- TCacheMgr

TCacheMgr::TCacheMgr(plat::TCollectionItemClass ItemClass)
    : THashCollection(std::move(ItemClass)) {}

TCacheMgr::~TCacheMgr() {
  Close();
}

void TCacheMgr::Trace(const std::string& Line) {
  if (Log_ != nullptr) Log_->Add(Line);
}

void TCacheMgr::Open(int32_t Count, int32_t PageSize) {
  Close();
  ++*Changes_;
  ++*Slots_;
  PageCount_ = Count;
  PageSize_ = PageSize;
  LRUCounter_ = 0;
  if (!ReadIO_) ZelDatabaseError(0x2751, "TCacheMgr.Open", "ReadIO", this);
  if (!WriteIO_) ZelDatabaseError(0x2751, "TCacheMgr.Open", "WriteIO", this);
  if (PageSize <= 0) ZelDatabaseError(0x2185, "TCacheMgr.Open", "Page size = 0", this);
  AddressMask_ = MaskFor(PageSize);
  for (int32_t i = 0; i < Count; ++i) AddPage();
  Hits_ = 0;
  Misses_ = 0;
}

void TCacheMgr::Close() {
  ++*Changes_;
  ++*Slots_;
  Clear();
  CleanPages_.clear();
  BufferBlocks_.clear();
  BlockPagesLeft_ = 0;
  Table_.clear();
  TableShift_ = 64;
  TableUsed_ = 0;
  Oldest_ = Newest_ = nullptr;
  EmptyBits_.clear();
  EmptyCount_ = 0;
  DirtyCount_ = 0;
  EmptyWordHint_ = 0;
  InTransaction_ = false;
  PageSize_ = 0;
}

TCachePage* TCacheMgr::AddPage() {
  auto* page = static_cast<TCachePage*>(Add());
  try {
    page->SetPageSize(PageSize_);
    if (PageSize_ <= 0) page->OpenPage();  // raises
    // One allocation per 16 pages: a cache that grows page by page inside a
    // transaction would otherwise spend its time in the allocator.
    constexpr int32_t kBlockPages = 16;
    if (BlockPagesLeft_ == 0) {
      // Not cleared: a slot's bytes are always filled whole (read from the
      // file or written) before anything reads them.
      BufferBlocks_.push_back(
          std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(PageSize_) * kBlockPages));
      BlockPagesLeft_ = kBlockPages;
    }
    const auto used = static_cast<size_t>(kBlockPages - BlockPagesLeft_--);
    page->Buffer_ = BufferBlocks_.back().get() + static_cast<size_t>(PageSize_) * used;
    page->State_ = cpEmpty;
  } catch (...) {
    delete page;
    throw;
  }
  page->Slot_ = Count() - 1;
  SetEmptyBit(page->Slot_, true);
  // Room for every page at half load keeps probes short.
  if (static_cast<size_t>(Count()) * 2 > Table_.size()) TableGrow();
  Trace("Add cache page");
  return page;
}

void TCacheMgr::SetEmptyBit(int32_t Slot, bool Empty) {
  const size_t word = static_cast<size_t>(Slot) / 64;
  const uint64_t bit = uint64_t{1} << (static_cast<uint32_t>(Slot) % 64);
  if (word >= EmptyBits_.size()) EmptyBits_.resize(word + 1, 0);
  const bool was = (EmptyBits_[word] & bit) != 0;
  if (was == Empty) return;
  if (Empty) {
    EmptyBits_[word] |= bit;
    ++EmptyCount_;
    EmptyWordHint_ = std::min(EmptyWordHint_, word);
  } else {
    EmptyBits_[word] &= ~bit;
    --EmptyCount_;
  }
}

void TCacheMgr::SetState(TCachePage* Page, TCachePageState State) {
  if ((Page->State_ == cpEmpty) != (State == cpEmpty)) SetEmptyBit(Page->Slot_, State == cpEmpty);
  if ((Page->State_ == cpDirty) != (State == cpDirty)) DirtyCount_ += State == cpDirty ? 1 : -1;
  Page->State_ = State;
  if (State != cpClean) {
    UnlistClean(Page);
    return;
  }
  if (Page->InCleanList_) {
    if (Page->CleanOwner_ == Page->PageOwner_) return;
    UnlistClean(Page);
  }
  TCachePage*& head = CleanPages_[Page->PageOwner_];
  Page->CleanPrev_ = nullptr;
  Page->CleanNext_ = head;
  if (head != nullptr) head->CleanPrev_ = Page;
  head = Page;
  Page->CleanOwner_ = Page->PageOwner_;
  Page->InCleanList_ = true;
}

void TCacheMgr::UnlistClean(TCachePage* Page) {
  if (!Page->InCleanList_) return;
  if (Page->CleanNext_ != nullptr) Page->CleanNext_->CleanPrev_ = Page->CleanPrev_;
  if (Page->CleanPrev_ != nullptr) {
    Page->CleanPrev_->CleanNext_ = Page->CleanNext_;
  } else if (Page->CleanNext_ != nullptr) {
    CleanPages_[Page->CleanOwner_] = Page->CleanNext_;
  } else {
    CleanPages_.erase(Page->CleanOwner_);
  }
  Page->CleanPrev_ = Page->CleanNext_ = nullptr;
  Page->InCleanList_ = false;
}

void TCacheMgr::Unlist(TCachePage* Page) {
  if (!Page->Listed_) return;
  (Page->Older_ != nullptr ? Page->Older_->Newer_ : Oldest_) = Page->Newer_;
  (Page->Newer_ != nullptr ? Page->Newer_->Older_ : Newest_) = Page->Older_;
  Page->Older_ = Page->Newer_ = nullptr;
  Page->Listed_ = false;
}

void TCacheMgr::Touch(TCachePage* Page) {
  Page->LRUFlag_ = LRUCounter_++;
  // Also inside a transaction: its end then finds the use list in order
  // without a walk over every cached page.
  MoveToNewest(Page);
}

void TCacheMgr::MoveToNewest(TCachePage* Page) {
  if (Page->Listed_ && Page == Newest_) return;
  Unlist(Page);
  Page->Older_ = Newest_;
  (Newest_ != nullptr ? Newest_->Newer_ : Oldest_) = Page;
  Newest_ = Page;
  Page->Listed_ = true;
}

size_t TCacheMgr::TableHome(uint64_t Key) const {
  return static_cast<size_t>((Key * 0x9E3779B97F4A7C15ull) >> TableShift_);
}

void TCacheMgr::TableInsert(TCachePage* Page) {
  const size_t mask = Table_.size() - 1;
  const uint64_t key = TableKey(Page->LowerAddress_, Page->UpperAddress_);
  size_t i = TableHome(key);
  while (Table_[i].Page != nullptr) i = (i + 1) & mask;
  Table_[i] = {key, Page};
  ++TableUsed_;
}

void TCacheMgr::TableRemove(TCachePage* Page) {
  const size_t mask = Table_.size() - 1;
  size_t i = TableHome(TableKey(Page->LowerAddress_, Page->UpperAddress_));
  while (Table_[i].Page != Page) {
    PLAT_ASSERT(Table_[i].Page != nullptr, "Cache page missing from its address table");
    i = (i + 1) & mask;
  }
  // Shifts back the entries of the run after i that may not stay behind the
  // hole, so that every probe still reaches its entry.
  for (size_t j = (i + 1) & mask; Table_[j].Page != nullptr; j = (j + 1) & mask) {
    const size_t home = TableHome(Table_[j].Key);
    if (((j - home) & mask) >= ((j - i) & mask)) {
      Table_[i] = Table_[j];
      i = j;
    }
  }
  Table_[i] = {0, nullptr};
  --TableUsed_;
}

void TCacheMgr::TableGrow() {
  size_t size = std::max<size_t>(Table_.size(), 64);
  while (size / 2 < static_cast<size_t>(std::max(TableUsed_ + 1, Count()))) size *= 2;
  if (size == Table_.size()) return;
  std::vector<TTableEntry> old;
  old.swap(Table_);
  Table_.assign(size, TTableEntry{0, nullptr});
  TableShift_ = 64;
  for (size_t s = size; s > 1; s >>= 1) --TableShift_;
  TableUsed_ = 0;
  for (const TTableEntry& entry : old)
    if (entry.Page != nullptr) TableInsert(entry.Page);
}

void TCacheMgr::HashInsert(TCachePage* Page, uint32_t Lower, uint32_t Upper) {
  Page->LowerAddress_ = Lower;
  Page->UpperAddress_ = Upper;
  if (TableUsed_ + 1 > static_cast<int32_t>(Table_.size() / 2)) TableGrow();
  TableInsert(Page);
  Page->Keyed_ = true;
}

void TCacheMgr::Rekey(TCachePage* Page, uint32_t Lower, uint32_t Upper) {
  if (Page->Keyed_) {
    if (Page->LowerAddress_ == Lower && Page->UpperAddress_ == Upper) return;
    TableRemove(Page);
    Page->Keyed_ = false;
  }
  HashInsert(Page, Lower, Upper);
}

void TCacheMgr::Empty(TCachePage* Page) {
  ++*Changes_;
  ++*Slots_;
  if (Page->Keyed_) {
    TableRemove(Page);
    Page->Keyed_ = false;
  }
  Unlist(Page);
  Page->Notes_.Drop();
  SetState(Page, cpEmpty);
  Page->PageOwner_ = 0;
  Page->LowerAddress_ = 0;
  Page->UpperAddress_ = 0;
  Page->RemoveAfterWrite_ = false;
}

TCachePage* TCacheMgr::Lookup(uint32_t Lower, uint32_t Upper) const {
  if (TableUsed_ == 0) return nullptr;
  const size_t mask = Table_.size() - 1;
  const uint64_t key = TableKey(Lower, Upper);
  for (size_t i = TableHome(key);; i = (i + 1) & mask) {
    const TTableEntry& entry = Table_[i];
    if (entry.Page == nullptr) return nullptr;
    if (entry.Key == key) return entry.Page;
  }
}

TPageNotes* TCacheMgr::PageNotes(uint32_t Owner, uint32_t Upper, uint32_t Position) {
  TCachePage* page = Lookup(GetBaseAddress(Position), Upper);
  return page != nullptr && page->PageOwner_ == Owner ? &page->Notes_ : nullptr;
}

int32_t TCacheMgr::FindPage(uint32_t Lower, uint32_t Upper) const {
  const TCachePage* page = Lookup(Lower, Upper);
  return page == nullptr ? -1 : page->Slot_;
}

bool TCacheMgr::IsBaseAddrInCache(uint32_t Position) const {
  return Lookup(GetBaseAddress(Position), 0) != nullptr;
}

TCachePage* TCacheMgr::GetNextEmptyPage() {
  if (EmptyCount_ > 0) {
    while (EmptyBits_[EmptyWordHint_] == 0) ++EmptyWordHint_;
    const int32_t slot = static_cast<int32_t>(EmptyWordHint_ * 64) +
                         std::countr_zero(EmptyBits_[EmptyWordHint_]);
    if (Log_ != nullptr) Trace("GetNextEmptyPage. EmptyPage: " + std::to_string(slot));
    return Pages(slot);
  }
  // Inside a transaction the cache grows rather than drop a clean page.
  TCachePage* oldest = nullptr;
  if (!InTransaction_) {
    oldest = Oldest_;
    while (oldest != nullptr && oldest->State_ != cpClean) oldest = oldest->Newer_;
  }
  if (oldest == nullptr) {
    Trace("GetNextEmptyPage. Adding new page");
    return AddPage();
  }
  if (Log_ != nullptr)
    Trace("GetNextEmptyPage. Replacing OldestPage: " + std::to_string(oldest->Slot_));
  Empty(oldest);
  return oldest;
}

TCacheMgr::TSlot TCacheMgr::PageFor(uint32_t Lower, uint32_t Upper, uint32_t Owner) {
  if (PageSize_ <= 0) ZelDatabaseError(0x2185, "TCacheMgr.PageFor", "Object not initialized", this);
  TCachePage* page = Lookup(Lower, Upper);
  if (page != nullptr) {
    if (page->PageOwner_ == Owner) return {page, skHit};
    // A page changed in the running transaction holds the only copy of its
    // data: it is never re-read over, whoever asks for it.
    if (page->State_ == cpDirty) return {page, skForeignDirty};
    return {page, skReuse};
  }
  return {GetNextEmptyPage(), skVictim};
}

void TCacheMgr::Fetch(TCachePage* Page, uint32_t Owner, uint32_t Upper, uint32_t Base,
                      uint32_t AccessFlags, const uint8_t* Ahead) {
  ++Misses_;
  ++*Changes_;
  ++*Slots_;
  try {
    if (Ahead != nullptr)
      std::memcpy(Page->Buffer(), Ahead, static_cast<size_t>(PageSize_));
    else
      ReadIO_(Page->Buffer(), Owner, Upper, Base, AccessFlags);
  } catch (...) {
    Empty(Page);
    throw;
  }
  Page->Notes_.Drop();
  Page->PageOwner_ = Owner;
  SetState(Page, cpClean);
  Page->AccessFlags_ = AccessFlags;
  Rekey(Page, Base, Upper);
}

const uint8_t* TCacheMgr::ReadAhead(uint32_t Base, uint32_t Last, uint32_t Upper,
                                    uint32_t AccessFlags) {
  if (Base - AheadBase_ < AheadBytes_) return Ahead_.data() + (Base - AheadBase_);
  AheadBytes_ = 0;
  if (!ReadRunIO_ || (AccessFlags & kEncryptionFlags) != 0 || Last <= Base) return nullptr;
  // A run long enough to spare most of a scan's reads, short enough to stay
  // in the processor's caches.
  constexpr uint32_t kMostPages = 32;
  const auto page = static_cast<uint32_t>(PageSize_);
  uint32_t pages = 1;
  while (pages < kMostPages && Base + pages * page <= Last &&
         Lookup(Base + pages * page, Upper) == nullptr)
    ++pages;
  if (pages == 1) return nullptr;
  if (Ahead_.size() < size_t{pages} * page) Ahead_.resize(size_t{pages} * page);
  // A short or failed read leaves the pages it did not give to be read one
  // by one, which reports what is wrong.
  const int64_t read = ReadRunIO_(Ahead_.data(), Base, static_cast<int32_t>(pages * page));
  if (read < static_cast<int64_t>(page)) return nullptr;
  AheadBase_ = Base;
  AheadBytes_ = static_cast<uint32_t>(read) / page * page;
  return Ahead_.data();
}

int32_t TCacheMgr::TransferRead(void* Buf, uint32_t Owner, uint32_t Upper, bool UpperPerPage,
                                uint32_t Position, int32_t Count, uint32_t AccessFlags) {
  auto* out = static_cast<uint8_t*>(Buf);
  int32_t remaining = Count;
  uint32_t pos = Position;
  // Pages read ahead serve this transfer only: what follows may change them.
  AheadBytes_ = 0;
  const uint32_t last = Count > 0 ? GetBaseAddress(Position + static_cast<uint32_t>(Count - 1)) : 0;
  while (remaining > 0) {
    const uint32_t base = GetBaseAddress(pos);
    const uint32_t offset = pos - base;
    const uint32_t upper = UpperPerPage ? base + static_cast<uint32_t>(PageSize_) : Upper;
    const TSlot slot = PageFor(base, upper, Owner);
    if (slot.Kind == skHit || slot.Kind == skForeignDirty) {
      ++Hits_;
    } else {
      Fetch(slot.Page, Owner, upper, base, AccessFlags,
            UpperPerPage ? nullptr : ReadAhead(base, last, upper, AccessFlags));
    }
    const int32_t n = std::min<int32_t>(remaining, PageSize_ - static_cast<int32_t>(offset));
    std::memcpy(out, slot.Page->Buffer() + offset, static_cast<size_t>(n));
    Touch(slot.Page);
    out += n;
    pos += static_cast<uint32_t>(n);
    remaining -= n;
  }
  return Count;
}

int32_t TCacheMgr::TransferWrite(const void* Buf, uint32_t Owner, uint32_t Upper, bool UpperPerPage,
                                 uint32_t Position, int32_t Count, uint32_t AccessFlags) {
  const auto* in = static_cast<const uint8_t*>(Buf);
  int32_t remaining = Count;
  uint32_t pos = Position;
  while (remaining > 0) {
    const uint32_t base = GetBaseAddress(pos);
    const uint32_t offset = pos - base;
    const uint32_t upper = UpperPerPage ? base + static_cast<uint32_t>(PageSize_) : Upper;
    const int32_t n = std::min<int32_t>(remaining, PageSize_ - static_cast<int32_t>(offset));
    const bool whole = n == PageSize_;
    const TSlot slot = PageFor(base, upper, Owner);
    TCachePage* page = slot.Page;
    // A part written into another owner's changed page joins that page, which
    // keeps its owner and encryption unless the writer asks for encryption
    // itself: either way no byte that was to be encrypted reaches the disk
    // in plain.
    const bool keepOwner =
        slot.Kind == skForeignDirty && !whole && (AccessFlags & kEncryptionFlags) == 0;
    if (slot.Kind == skHit || slot.Kind == skForeignDirty || whole) {
      ++Hits_;
    } else {
      Fetch(page, Owner, upper, base, AccessFlags);
    }
    std::memcpy(page->Buffer() + offset, in, static_cast<size_t>(n));
    ++*Changes_;
    page->Notes_.Drop();
    if (!keepOwner) {
      page->PageOwner_ = Owner;
      page->AccessFlags_ = AccessFlags;
    }
    if (InTransaction_) {
      SetState(page, cpDirty);
    } else {
      try {
        WriteIO_(page->Buffer(), page->PageOwner_, upper, base, page->AccessFlags_);
      } catch (...) {
        // The cache must not serve bytes the file never got.
        Empty(page);
        throw;
      }
      SetState(page, cpClean);
    }
    Rekey(page, base, upper);
    Touch(page);
    in += n;
    pos += static_cast<uint32_t>(n);
    remaining -= n;
  }
  return Count;
}

int32_t TCacheMgr::ReadCache(void* Buf, uint32_t Owner, uint32_t Upper, uint32_t Position,
                             int32_t Count, uint32_t AccessFlags) {
  return TransferRead(Buf, Owner, Upper, false, Position, Count, AccessFlags);
}

int32_t TCacheMgr::WriteCache(const void* Buf, uint32_t Owner, uint32_t Upper, uint32_t Position,
                              int32_t Count, uint32_t AccessFlags) {
  return TransferWrite(Buf, Owner, Upper, false, Position, Count, AccessFlags);
}

int32_t TCacheMgr::ReadCacheToPageBoundary(void* Buf, uint32_t Owner, uint32_t Position,
                                           int32_t Count, uint32_t AccessFlags) {
  return TransferRead(Buf, Owner, 0, true, Position, Count, AccessFlags);
}

int32_t TCacheMgr::WriteCacheToPageBoundary(const void* Buf, uint32_t Owner, uint32_t Position,
                                            int32_t Count, uint32_t AccessFlags) {
  return TransferWrite(Buf, Owner, 0, true, Position, Count, AccessFlags);
}

int32_t TCacheMgr::ReadCacheByRef(uint32_t Owner, uint32_t Upper, uint32_t Position, int32_t Count,
                                  uint32_t AccessFlags, uint8_t*& Pointer) {
  const uint32_t base = GetBaseAddress(Position);
  const uint32_t offset = Position - base;
  if (Count < 0 || offset + static_cast<uint32_t>(Count) > static_cast<uint32_t>(PageSize_))
    ZelDatabaseError(0x2185, "TCacheMgr.ReadCacheByRef", "ReadCacheByRef - range crosses a page",
                     this);
  const TSlot slot = PageFor(base, Upper, Owner);
  if (slot.Kind == skHit || slot.Kind == skForeignDirty) {
    ++Hits_;
  } else {
    Fetch(slot.Page, Owner, Upper, base, AccessFlags);
  }
  Touch(slot.Page);
  Pointer = slot.Page->Buffer() + offset;
  return Count;
}

int32_t TCacheMgr::WriteCacheByRef(const void* /*Buf*/, uint32_t Owner, uint32_t Upper,
                                   uint32_t Position, int32_t Count, uint32_t AccessFlags) {
  if (Count != PageSize_)
    ZelDatabaseError(0x2185, "TCacheMgr.WriteCacheByRef", "WriteCacheByRef - error in write size",
                     this);
  const uint32_t base = GetBaseAddress(Position);
  TCachePage* page = Lookup(base, Upper);
  if (page == nullptr || page->PageOwner_ != Owner)
    ZelDatabaseError(0x2185, "TCacheMgr.WriteCacheByRef", "WriteCacheByRef - page not found", this);
  page->AccessFlags_ = AccessFlags;
  ++*Changes_;
  page->Notes_.Drop();
  if (InTransaction_) {
    SetState(page, cpDirty);
  } else {
    try {
      WriteIO_(page->Buffer(), Owner, Upper, base, AccessFlags);
    } catch (...) {
      Empty(page);
      throw;
    }
    SetState(page, cpClean);
  }
  Touch(page);
  return Count;
}

bool TCacheMgr::RewriteDirtyByRef(TPageNotes& Notes, uint32_t Owner, uint32_t Position,
                                  uint32_t AccessFlags) {
  TCachePage* page = Notes.Page;
  // A dirty page stays in the cache, under its key, until the transaction
  // ends: the notes' page is the one a lookup would find.
  if (page == nullptr || &page->Notes_ != &Notes || !InTransaction_ || page->State_ != cpDirty ||
      !page->Keyed_ || page->UpperAddress_ != 0 || page->LowerAddress_ != Position ||
      page->PageOwner_ != Owner)
    return false;
  page->AccessFlags_ = AccessFlags;
  ++*Changes_;
  page->Notes_.Drop();
  Touch(page);
  return true;
}

void TCacheMgr::RemovePage(uint32_t Lower, uint32_t Upper) {
  if (TCachePage* page = Lookup(Lower, Upper)) Empty(page);
}

void TCacheMgr::RemoveAfterWrite(uint32_t Lower, uint32_t Upper) {
  if (TCachePage* page = Lookup(Lower, Upper)) page->RemoveAfterWrite_ = true;
}

void TCacheMgr::ClearCache() {
  ++*Changes_;
  ++*Slots_;
  // The use list holds every page that is not empty: a cache that holds a
  // few pages is cleared without a walk over all its slots.
  for (TCachePage* page = Oldest_; page != nullptr;) {
    TCachePage* newer = page->Newer_;
    Empty(page);
    page = newer;
  }
  if (EmptyCount_ == Count()) return;
  for (int32_t i = 0; i < Count(); ++i) Empty(Pages(i));
}

void TCacheMgr::ClearOwnedPages(uint32_t Owner) {
  // Only what was read can be stale: a dirty page holds this connection's
  // own change, not yet in the file, and dropping it would lose that change.
  // Emptying a page takes it out of its list, and the last one the entry.
  for (auto found = CleanPages_.find(Owner); found != CleanPages_.end();
       found = CleanPages_.find(Owner))
    Empty(found->second);
}

void TCacheMgr::StartTransaction() {
  InTransaction_ = true;
}

void TCacheMgr::EndTransaction() {
  InTransaction_ = false;
}

void TCacheMgr::Commit() {
  if (!InTransaction_) ZelDatabaseError(0x2811, "TCachePage.Commit", "", this);
  for (int32_t i = 0; i < Count() && DirtyCount_ > 0; ++i) {
    TCachePage* page = Pages(i);
    if (page->State_ != cpDirty) continue;
    WriteIO_(page->Buffer(), page->PageOwner_, page->UpperAddress_, page->LowerAddress_,
             page->AccessFlags_);
    if (page->RemoveAfterWrite_) {
      Empty(page);
    } else {
      SetState(page, cpClean);
    }
  }
  EndTransaction();
}

void TCacheMgr::Rollback() {
  if (!InTransaction_) ZelDatabaseError(0x2811, "TCacheMgr.Rollback", "", this);
  for (int32_t i = 0; i < Count() && DirtyCount_ > 0; ++i) {
    TCachePage* page = Pages(i);
    if (page->State_ == cpDirty) Empty(page);
  }
  EndTransaction();
}

void TCacheMgr::ResetPageCount(int32_t Count) {
  PageCount_ = Count;
  while (this->Count() < Count) AddPage();
  while (this->Count() > Count) {
    TCachePage* last = Pages(this->Count() - 1);
    if (last->State_ == cpDirty) break;
    Empty(last);
    SetEmptyBit(last->Slot_, false);
    Delete(this->Count() - 1);
  }
}

void TCacheMgr::DumpState() {
  if (Log_ == nullptr) return;
  Log_->Add(plat::Format("Cache dump: Hits %d  Misses %d", {Hits_, Misses_}));
  for (int32_t i = 0; i < Count(); ++i) {
    const TCachePage* page = Pages(i);
    Log_->Add(plat::Format("Page %d: Addr %d  Owner %d State %s LRUFlag %d",
                           {i, int64_t{page->LowerAddress_}, int64_t{page->PageOwner_},
                            StateName(page->State_), int64_t{page->LRUFlag_}}));
  }
}

// ---------------------------------------------------------------- TCacheBlock

void TCacheBlock::SetBlockSize(uint32_t Value) {
  if (Buffer_)
    ZelDatabaseError(0x2185, "TCacheBlock.SetBlockSize",
                     "Cannot set Block size on opened cache Block", this);
  BlockSize_ = Value;
}

// ---------------------------------------------------------------- TCacheBlockMgr

TCacheBlockMgr::TCacheBlockMgr(plat::TCollectionItemClass ItemClass)
    : plat::TCollection(std::move(ItemClass)) {}

TCacheBlockMgr::~TCacheBlockMgr() {
  Clear();
}

void TCacheBlockMgr::Open() {
  if (!ReadIO_) ZelDatabaseError(0x2751, "TCacheBlockMgr.Open", "ReadIO", this);
  if (!WriteIO_) ZelDatabaseError(0x2751, "TCacheBlockMgr.Open", "WriteIO", this);
}

void TCacheBlockMgr::Close() {
  Clear();
  InTransaction_ = false;
}

void TCacheBlockMgr::StartTransaction() {
  Open();
  InTransaction_ = true;
}

int32_t TCacheBlockMgr::FindBlock(uint32_t Low, uint32_t High) {
  for (int32_t i = 0; i < Count(); ++i) {
    const TCacheBlock* block = Blocks(i);
    if (block->HighAddress_ != High) continue;
    if (block->LowAddress_ == Low) {
      if (Log_ != nullptr) Log_->Add("Find Block: " + std::to_string(i));
      return i;
    }
    if (block->LowAddress_ < Low && uint64_t{block->LowAddress_} + block->BlockSize_ > Low)
      ZelDatabaseError(0x2183, "TCacheBlockMgr.FindBlock", "", this);
  }
  return -1;
}

void TCacheBlockMgr::ReadBlock(void* Buf, uint32_t Owner, uint32_t Size, uint32_t High,
                               uint32_t Low, uint32_t AccessFlags) {
  const int32_t index = FindBlock(Low, High);
  if (index < 0) {
    ++Misses_;
    ReadIO_(static_cast<uint8_t*>(Buf), Owner, Size, High, Low, AccessFlags);
    return;
  }
  const TCacheBlock* block = Blocks(index);
  if (block->BlockOwner_ != Owner || block->BlockSize_ != Size)
    ZelDatabaseError(0x2185, "TCacheBlockMgr.ReadBlock", "CacheBlock invalid", this);
  ++Hits_;
  std::memcpy(Buf, block->Buffer(), Size);
}

void TCacheBlockMgr::WriteBlock(const void* Buf, uint32_t Owner, uint32_t Size, uint32_t High,
                                uint32_t Low, uint32_t AccessFlags) {
  // Blocks reach the file as they are: data that asks for encryption must
  // take the page path.
  if ((AccessFlags & kEncryptionFlags) != 0)
    ZelDatabaseError(0x2185, "TCacheBlockMgr.WriteBlock",
                     "Encrypted data cannot be written as a block", this);
  // Nothing would ever write a block held outside a transaction.
  if (!InTransaction_) {
    WriteIO_(static_cast<uint8_t*>(const_cast<void*>(Buf)), Owner, Size, High, Low, AccessFlags);
    return;
  }
  TCacheBlock* block = nullptr;
  const int32_t index = FindBlock(Low, High);
  if (index < 0) {
    // Two buffered blocks over the same bytes would overwrite each other at
    // commit in an order that has nothing to do with the writes.
    for (int32_t i = 0; i < Count(); ++i) {
      const TCacheBlock* other = Blocks(i);
      if (other->HighAddress_ == High && uint64_t{other->LowAddress_} < uint64_t{Low} + Size &&
          uint64_t{Low} < uint64_t{other->LowAddress_} + other->BlockSize_)
        ZelDatabaseError(0x2183, "TCacheBlockMgr.WriteBlock", "", this);
    }
    ++Misses_;
    block = static_cast<TCacheBlock*>(Add());
    block->SetBlockSize(Size);
    block->Buffer_ = std::make_unique<uint8_t[]>(Size);
    block->LowAddress_ = Low;
    block->HighAddress_ = High;
    block->BlockOwner_ = Owner;
  } else {
    block = Blocks(index);
    if (block->BlockOwner_ != Owner || block->BlockSize_ != Size)
      ZelDatabaseError(0x2185, "TCacheBlockMgr.WriteBlock", "CacheBlock invalid", this);
    ++Hits_;
  }
  std::memcpy(block->Buffer(), Buf, Size);
  block->AccessFlags_ = AccessFlags;
  block->State_ = cpDirty;
}

void TCacheBlockMgr::Commit() {
  if (!InTransaction_) ZelDatabaseError(0x2811, "TCacheBlockMgr.Commit", "", this);
  for (int32_t i = 0; i < Count(); ++i) {
    TCacheBlock* block = Blocks(i);
    if (block->State_ != cpDirty) continue;
    WriteIO_(block->Buffer(), block->BlockOwner_, block->BlockSize_, block->HighAddress_,
             block->LowAddress_, block->AccessFlags_);
    block->State_ = cpClean;
  }
  Clear();
  InTransaction_ = false;
}

void TCacheBlockMgr::Rollback() {
  if (!InTransaction_) ZelDatabaseError(0x2811, "TCacheBlockMgr.Rollback", "", this);
  Clear();
  InTransaction_ = false;
}

void TCacheBlockMgr::DumpState() {
  if (Log_ == nullptr) return;
  Log_->Add(plat::Format("Block cache dump: Hits %d  Misses %d", {Hits_, Misses_}));
  for (int32_t i = 0; i < Count(); ++i) {
    const TCacheBlock* block = Blocks(i);
    Log_->Add(plat::Format("Block %d: Addr %d  Size %d  Owner %d State %s",
                           {i, int64_t{block->LowAddress_}, int64_t{block->BlockSize_},
                            int64_t{block->BlockOwner_}, StateName(block->State_)}));
  }
}

}  // namespace zel
