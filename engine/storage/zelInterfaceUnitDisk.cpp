#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/storage/zelCommon.h"
#include "engine/storage/zelDisk.h"
#include "engine/storage/zelDiskCache.h"
#include "engine/storage/zelDiskFile.h"
#include "engine/storage/zelInterfaceUnit.h"

namespace zel {

namespace {

uint32_t LoadU32(const uint8_t* P) {
  return uint32_t{P[0]} | (uint32_t{P[1]} << 8) | (uint32_t{P[2]} << 16) | (uint32_t{P[3]} << 24);
}

void StoreU32(uint8_t* P, uint32_t V) {
  for (int i = 0; i < 4; ++i) P[i] = static_cast<uint8_t>(V >> (8 * i));
}

uint64_t CeilDiv(uint64_t A, uint64_t B) {
  return (A + B - 1) / B;
}

}  // namespace

// For a global store, one allocation or release runs under the header write
// lock (taken unless held) with FirstEmpty loaded from the global header;
// Commit writes it back. The lock is given up at the end only when this
// scope took it, also when the operation fails.
class TDiskIOInterface::TFirstEmptyScope {
 public:
  TFirstEmptyScope(TDiskIOInterface& Store, const char* Context) : store_(Store) {
    if (!store_.IsGlobal()) {
      if (!store_.FirstEmptyValid_)
        ZelDatabaseError(0x2185, Context, "DiskIOInterface - non global first empty not set",
                         &store_);
      return;
    }
    TDiskMgr& mgr = *store_.DiskMgr_;
    took_ = !mgr.HeaderReadLocked() && !mgr.HeaderWriteLocked();
    if (!mgr.HeaderWriteLocked()) mgr.SetHeaderWriteLock();
    store_.GetGlobalFirstEmpty();
  }
  TFirstEmptyScope(const TFirstEmptyScope&) = delete;
  TFirstEmptyScope& operator=(const TFirstEmptyScope&) = delete;
  ~TFirstEmptyScope() {
    if (!took_) return;
    try {
      store_.DiskMgr_->ReleaseHeaderLock();
    } catch (...) {
      // The operation's own failure is the one reported.
    }
  }

  void Commit() {
    if (!store_.IsGlobal()) return;
    TDiskMgr& mgr = *store_.DiskMgr_;
    store_.SetGlobalFirstEmpty();
    if (mgr.GlobalHdr()->Dirty()) mgr.WriteHeader();
    if (took_) {
      took_ = false;
      mgr.ReleaseHeaderLock();
    }
  }

 private:
  TDiskIOInterface& store_;
  bool took_ = false;
};

TDiskIOInterface::TDiskIOInterface() {
  IOMode_ = iomDiskFixedSize;
}

uint32_t TDiskIOInterface::PageSize() const {
  return static_cast<uint32_t>(DiskMgr_->PageSize());
}

void TDiskIOInterface::Open() {
  if (DiskMgr_ == nullptr)
    ZelDatabaseError(0x2185, "TDiskIOInterface.Open",
                     "Unable to open Disk IOInterface - DiskMgr is null", this);
  if (Usage_ == 0)
    ZelDatabaseError(0x2185, "TDiskIOInterface.Open",
                     "Unable to open Disk IOInterface - Usage is not set", this);
  if (BlockSize_ == 0)
    ZelDatabaseError(0x2185, "TDiskIOInterface.Open",
                     "Unable to open Disk IOInterface - Block size is 0", this);
  // Runs keep their header in the first 16 bytes of a block, and a block
  // size is stored in 32-bit signed fields.
  if (BlockSize_ < frHeaderSize || BlockSize_ > std::numeric_limits<int32_t>::max() / 2)
    ZelDatabaseError(0x2185, "TDiskIOInterface.Open",
                     "Unable to open Disk IOInterface - Block size is invalid", this);
  if (!Opened_) {
    Buffer_.assign(static_cast<size_t>(BlockSize_) * 2, 0);
    Opened_ = true;
  } else {
    if (TDBLogger* logger = GDBLogger())
      logger->LogItem("DiskInterface",
                      plat::Format("Open- BlockSize %d FirstEmpty %d", {BlockSize_, FirstEmpty_}));
    Buffer_.assign(static_cast<size_t>(BlockSize_) * 2, 0);
  }
  TBaseIOInterface::Open();
}

void TDiskIOInterface::Close() {
  Buffer_.clear();
  Buffer_.shrink_to_fit();
  NewPages_.clear();
  NewPages_.shrink_to_fit();
}

void TDiskIOInterface::CheckOpen(const char* Context) const {
  if (DiskMgr_ == nullptr || Buffer_.empty()) [[unlikely]]
    ZelNotOpenError(Context, this);
}

void TDiskIOInterface::CheckRange(uint32_t Addr, int32_t Size, const char* Context) const {
  // Addresses come from the file (links, runs, record addresses): one that
  // does not lie inside it is damage, not a place to read or write.
  if (Size < 0) ZelDatabaseError(0x2185, Context, "Invalid block size", this);
  const uint64_t end = uint64_t{Addr} + static_cast<uint64_t>(Size);
  if (Addr >= PageSize() && end <= KnownFileSize_) return;
  KnownFileSize_ = static_cast<uint64_t>(std::max<int64_t>(DiskMgr_->FileSizeCovering(end), 0));
  if (Addr < PageSize() || end > KnownFileSize_)
    ZelDatabaseError(0x2103, Context,
                     "Block address " + std::to_string(Addr) + " lies outside the file", this);
}

void TDiskIOInterface::ReadBlock(uint32_t Addr, int32_t Size, void* Buf) {
  CheckOpen("TDiskIOInterface.ReadBlock");
  CheckRange(Addr, Size, "TDiskIOInterface.ReadBlock");
  DiskMgr_->ReadCustomSize(Addr, Size, TableID_, AccessFlags_, Buf);
}

void TDiskIOInterface::ReadBlockHeader(uint32_t Addr, int32_t Size, void* Buf) {
  CheckOpen("TDiskIOInterface.ReadBlockHeader");
  CheckRange(Addr, Size, "TDiskIOInterface.ReadBlockHeader");
  DiskMgr_->ReadCustomSize(Addr, Size, TableID_, AccessFlags_, Buf);
}

void TDiskIOInterface::WriteBlock(uint32_t Addr, int32_t Size, const void* Buf) {
  CheckOpen("TDiskIOInterface.WriteBlock");
  CheckRange(Addr, Size, "TDiskIOInterface.WriteBlock");
  DiskMgr_->WriteCustomSize(Addr, Size, TableID_, AccessFlags_, Buf);
}

void TDiskIOInterface::WriteBlockHeader(uint32_t Addr, int32_t Size, const void* Buf) {
  CheckOpen("TDiskIOInterface.WriteBlockHeader");
  CheckRange(Addr, Size, "TDiskIOInterface.WriteBlockHeader");
  DiskMgr_->WriteCustomSize(Addr, Size, TableID_, AccessFlags_, Buf);
}

void TDiskIOInterface::ReadBlockByRef(uint32_t Addr, int32_t Size, uint8_t*& P) {
  CheckOpen("TDiskIOInterface.ReadBlockByRef");
  CheckRange(Addr, Size, "TDiskIOInterface.ReadBlockByRef");
  DiskMgr_->ReadCustomSizeByRef(Addr, Size, TableID_, AccessFlags_, P);
}

TPageNotes* TDiskIOInterface::BlockNotes(uint32_t Addr) {
  return DiskMgr_ != nullptr ? DiskMgr_->PageNotes(Addr, TableID_, AccessFlags_) : nullptr;
}

uint8_t* TDiskIOInterface::BlockInPlace(uint32_t Addr, int32_t Size, TPageNotes*& Notes,
                                        std::shared_ptr<uint64_t>& Changes,
                                        std::shared_ptr<uint64_t>& Slots) {
  CheckOpen("TDiskIOInterface.BlockInPlace");
  CheckRange(Addr, Size, "TDiskIOInterface.BlockInPlace");
  TCacheMgr* cache = DiskMgr_->File().PageCacheFor(AccessFlags_);
  if (cache == nullptr || Size != cache->PageSize() || Addr % static_cast<uint32_t>(Size) != 0)
    return nullptr;
  uint8_t* p = nullptr;
  DiskMgr_->ReadCustomSizeByRef(Addr, Size, TableID_, AccessFlags_, p);
  // A page held for another owner cannot be marked written by this one.
  Notes = cache->PageNotes(TableID_, 0, Addr);
  if (Notes == nullptr) return nullptr;
  Changes = cache->Changes();
  Slots = cache->Slots();
  return p;
}

void TDiskIOInterface::WriteBlockByRef(uint32_t Addr, int32_t Size, const void* Buf) {
  CheckOpen("TDiskIOInterface.WriteBlockByRef");
  CheckRange(Addr, Size, "TDiskIOInterface.WriteBlockByRef");
  DiskMgr_->WriteCustomSizeByRef(Addr, Size, TableID_, AccessFlags_, Buf);
}

bool TDiskIOInterface::RewriteBlockByRef(uint32_t Addr, TPageNotes& Notes) {
  CheckOpen("TDiskIOInterface.RewriteBlockByRef");
  return DiskMgr_->File().RewriteDirtyPageByRef(Notes, Addr, TableID_, AccessFlags_);
}

void TDiskIOInterface::GetGlobalFirstEmpty() {
  if (!IsGlobal())
    ZelDatabaseError(0x2185, "TDiskIOInterface.GetGlobalFirstEmpty",
                     "Unable to get a global first empty. Not a global interface", this);
  if (!DiskMgr_->GlobalHdr()->HeaderValid()) DiskMgr_->ReadHeader();
  FirstEmpty_ = DiskMgr_->GlobalHdr()->GlobalInterfaceGetHdrItem(GlobalFirstEmptyOffset_);
  FirstEmptyValid_ = true;
}

void TDiskIOInterface::SetGlobalFirstEmpty() {
  if (!IsGlobal()) return;
  if (!FirstEmptyValid_)
    ZelDatabaseError(0x2185, "TDiskIOInterface.SetGlobalFirstEmpty",
                     "Attempt to write non validated first empty to global header", this);
  DiskMgr_->GlobalHdr()->GlobalInterfaceSetHdrItem(FirstEmpty_, GlobalFirstEmptyOffset_);
}

void TDiskIOInterface::ReadRun(uint32_t Addr, uint32_t& Next, uint32_t& Count,
                               const char* Context) {
  CheckRange(Addr, static_cast<int32_t>(BlockSize_), Context);
  uint8_t* block = Buffer_.data();
  DiskMgr_->ReadCustomSize(Addr, static_cast<int32_t>(BlockSize_), TableID_, AccessFlags_, block);
  Next = LoadU32(block + frNextRun);
  Count = LoadU32(block + frRunCount);
  const bool zeroHead = LoadU32(block) == 0 && LoadU32(block + 4) == 0;
  const uint64_t runBytes = uint64_t{Count} * BlockSize_;
  if (!zeroHead || Count == 0 || Next == Addr || runBytes > std::numeric_limits<int32_t>::max())
    ZelDatabaseError(0x2103, Context, "Free-block run at " + std::to_string(Addr) + " is invalid",
                     this);
  // The run's blocks and the next run lie inside the file.
  CheckRange(Addr, static_cast<int32_t>(runBytes), Context);
  if (Next != 0) CheckRange(Next, static_cast<int32_t>(BlockSize_), Context);
}

uint32_t TDiskIOInterface::AllocateFromNewPages(int32_t Size, const void* Buf) {
  const uint32_t page = PageSize();
  if (static_cast<uint32_t>(Size) == page)
    return DiskMgr_->WriteNewPages(TableID_, AccessFlags_, 1, Buf, Usage_);
  // The request is sized from the store's block size, so that every run of
  // pages the store takes has the length ListBlocks walks by.
  uint64_t request = 0;
  if (IOMode_ == iomDiskFixedSize) {
    request = TDiskMgr::GetBestPageRequestSize(BlockSize_, page);
  } else {
    request = CeilDiv(CeilDiv(static_cast<uint32_t>(Size), BlockSize_) * BlockSize_, page) * page;
  }
  const uint64_t used = CeilDiv(static_cast<uint32_t>(Size), BlockSize_) * BlockSize_;
  if (request < used || request % page != 0 || request > std::numeric_limits<int32_t>::max())
    ZelDatabaseError(0x2185, "TDiskIOInterface.AllocateNewAddress", "Invalid page request size",
                     this);
  const uint64_t leftover = (request - used) / BlockSize_;
  if (NewPages_.size() < request) NewPages_.resize(static_cast<size_t>(request), 0);
  uint8_t* pages = NewPages_.data();
  std::memcpy(pages, Buf, static_cast<size_t>(Size));
  if (leftover > 0) StoreU32(pages + used + frRunCount, static_cast<uint32_t>(leftover));
  // Back to all zero, whether the write went through or not.
  const auto clear = [&] {
    std::memset(pages, 0, static_cast<size_t>(Size));
    if (leftover > 0) std::memset(pages + used, 0, frHeaderSize);
  };
  uint32_t addr = 0;
  try {
    addr = DiskMgr_->WriteNewPages(TableID_, AccessFlags_, static_cast<int32_t>(request / page),
                                   pages, Usage_);
  } catch (...) {
    clear();
    throw;
  }
  clear();
  KnownFileSize_ = std::max<uint64_t>(KnownFileSize_, uint64_t{addr} + request);
  if (leftover > 0) FirstEmpty_ = addr + static_cast<uint32_t>(used);
  return addr;
}

uint32_t TDiskIOInterface::AllocateNewAddress(int32_t Size, const void* Buf) {
  CheckOpen("TDiskIOInterface.AllocateNewAddress");
  if (Size <= 0 || static_cast<uint32_t>(Size) > BlockSize_ || Buf == nullptr)
    ZelDatabaseError(0x2185, "TDiskIOInterface.AllocateNewAddress",
                     "Block request sizes < block size", this);
  TFirstEmptyScope scope(*this, "TDiskIOInterface.AllocateNewAddress");
  const uint32_t before = FirstEmpty_;
  uint32_t result = 0;
  try {
    if (FirstEmpty_ == 0) {
      result = AllocateFromNewPages(Size, Buf);
    } else {
      result = FirstEmpty_;
      uint32_t next = 0;
      uint32_t count = 0;
      ReadRun(result, next, count, "TDiskIOInterface.AllocateNewAddress");
      // The data block and, when the run goes on, the run's new head in the
      // block after it go out in one write; the whole block is written, so
      // nothing of the old run header stays behind the data.
      uint8_t* blocks = Buffer_.data();
      std::memset(blocks, 0, Buffer_.size());
      std::memcpy(blocks, Buf, static_cast<size_t>(Size));
      uint32_t written = BlockSize_;
      if (count > 1) {
        StoreU32(blocks + BlockSize_ + frNextRun, next);
        StoreU32(blocks + BlockSize_ + frRunCount, count - 1);
        written = 2 * BlockSize_;
      }
      DiskMgr_->WriteCustomSize(result, static_cast<int32_t>(written), TableID_, AccessFlags_,
                                blocks);
      FirstEmpty_ = count > 1 ? result + BlockSize_ : next;
    }
    scope.Commit();
  } catch (...) {
    FirstEmpty_ = before;
    throw;
  }
  return result;
}

void TDiskIOInterface::ReleaseBlock(uint32_t Addr, int32_t Size) {
  CheckOpen("TDiskIOInterface.ReleaseBlock");
  if (Size <= 0)
    ZelDatabaseError(0x2185, "TDiskIOInterface.ReleaseBlock", "Invalid block size", this);
  TFirstEmptyScope scope(*this, "TDiskIOInterface.ReleaseBlock");
  const uint32_t before = FirstEmpty_;
  const uint32_t page = PageSize();
  try {
    if (static_cast<uint32_t>(Size) >= page && Addr % page == 0 &&
        static_cast<uint32_t>(Size) % page == 0) {
      CheckRange(Addr, Size, "TDiskIOInterface.ReleaseBlock");
      DiskMgr_->ReleasePages(Addr, static_cast<int32_t>(static_cast<uint32_t>(Size) / page));
    } else {
      const uint32_t n = static_cast<uint32_t>(CeilDiv(static_cast<uint32_t>(Size), BlockSize_));
      CheckRange(Addr, static_cast<int32_t>(uint64_t{n} * BlockSize_),
                 "TDiskIOInterface.ReleaseBlock");
      // Releasing the block that heads the free list would make the run
      // point at itself.
      if (Addr == FirstEmpty_)
        ZelDatabaseError(0x2185, "TDiskIOInterface.ReleaseBlock", "Block is already free", this);
      uint8_t* block = Buffer_.data();
      std::memset(block, 0, BlockSize_);
      StoreU32(block + frNextRun, FirstEmpty_);
      StoreU32(block + frRunCount, n);
      DiskMgr_->WriteCustomSize(Addr, static_cast<int32_t>(BlockSize_), TableID_, AccessFlags_,
                                block);
      std::memset(block, 0, frHeaderSize);
      for (uint32_t k = 1; k < n; ++k)
        DiskMgr_->WriteCustomSize(Addr + k * BlockSize_, static_cast<int32_t>(BlockSize_), TableID_,
                                  AccessFlags_, block);
      FirstEmpty_ = Addr;
    }
    scope.Commit();
  } catch (...) {
    FirstEmpty_ = before;
    throw;
  }
}

// Only this store's pages go back to the map: matching by table alone would
// also free the pages of the table's other stores, whatever DeletePages says.
void TDiskIOInterface::Empty(bool /*DeletePages*/) {
  CheckOpen("TDiskIOInterface.Empty");
  DiskMgr_->DeleteOwnedPages(TableID_, Usage_, true);
  FirstEmptyValid_ = false;
}

void TDiskIOInterface::ListBlocks(std::vector<uint32_t>& List) {
  CheckOpen("TDiskIOInterface.ListBlocks");
  DiskMgr_->ListAllocatedFixedBlocks(BlockSize_, TableID_, Usage_, List);
}

void TDiskIOInterface::NotifyPageChange(uint32_t TableID) {
  if (DiskMgr_ != nullptr && DiskMgr_->IsOpen())
    DiskMgr_->File().PageCache().ClearOwnedPages(TableID);
}

}  // namespace zel
