#include "engine/storage/zelDisk.h"

#include <algorithm>
#include <exception>

namespace zel {

namespace {

// The file's own pages (system area, map) are read and written uncached and
// unencrypted.
constexpr uint32_t kSystemAccessFlags = 0;
// The global header (1024 to 1151) must lie inside the five pages of the
// system area.
constexpr int32_t kMinPageSize = 256;
constexpr int32_t kMaxPageSize = 32768;
constexpr int64_t kMaxFileSize = int64_t{1} << 31;

}  // namespace

// Holds the header write lock for one change of the map: takes it when not
// held and, at the end, releases it only when no header lock was held before.
// A change that fails drops what it did to the header in memory; the next
// header lock reads it again.
class TDiskMgr::THeaderWriteScope {
 public:
  explicit THeaderWriteScope(TDiskMgr& Mgr)
      : mgr_(Mgr), heldBefore_(Mgr.HeaderReadLocked_ || Mgr.HeaderWriteLocked_) {
    if (!mgr_.HeaderWriteLocked_) mgr_.SetHeaderWriteLock();
  }
  THeaderWriteScope(const THeaderWriteScope&) = delete;
  THeaderWriteScope& operator=(const THeaderWriteScope&) = delete;
  ~THeaderWriteScope() {
    if (done_ || heldBefore_) return;
    try {
      mgr_.ReleaseTableLock(0);
    } catch (...) {
      // Left to ReleaseAllLocks; the failure that got here is what matters.
    }
    mgr_.HeaderReadLocked_ = mgr_.HeaderWriteLocked_ = false;
    if (mgr_.GlobalHdr_) {
      mgr_.GlobalHdr_->SetDirty(false);
      mgr_.GlobalHdr_->SetHeaderValid(false);
    }
  }
  void Done() {
    done_ = true;
    if (!heldBefore_) mgr_.ReleaseHeaderLock();
  }

 private:
  TDiskMgr& mgr_;
  bool heldBefore_;
  bool done_ = false;
};

TDiskMgr::TDiskMgr() : File_(std::make_unique<TZelFile>()) {}

TDiskMgr::~TDiskMgr() {
  try {
    Close();
  } catch (...) {
    // Nothing can be reported from here; the file is closed regardless.
  }
}

void TDiskMgr::CheckPageSize(const char* Context) const {
  // Map entries address pages by shifting and free links hold 15-bit
  // offsets: the page size is a power of two up to 32 KiB, and at least 256
  // so that the system area holds the global header.
  if (PageSize_ < kMinPageSize || PageSize_ > kMaxPageSize || (PageSize_ & (PageSize_ - 1)) != 0)
    ZelDatabaseError(0x2185, Context, "Invalid database page size", this);
}

void TDiskMgr::CheckPageCount(int32_t Count, const char* Context) const {
  if (Count <= 0 || int64_t{Count} * PageSize_ > kMaxFileSize)
    ZelDatabaseError(0x2185, Context, "Invalid page count", this);
}

void TDiskMgr::CreateHeaderObjects() {
  GlobalHdr_ = std::make_unique<TGlobalHdr>();
  GlobalHdr_->SetHdrSize(GlobalHdrSize);
  GlobalHdr_->SetBaseAddress(GlobalHdrAddress);
  GlobalHdr_->Initialize();
  MapPageMgr_ = std::make_unique<TMapPageMgr>(PageSize_);
  MapPageMgr_->SetDiskMgr(this);
  MapPageMgr_->SetGlobalHdr(GlobalHdr_.get());
  ZeroPage_.assign(static_cast<size_t>(PageSize_), 0);
}

void TDiskMgr::FreeHeaderObjects() {
  MapPageMgr_.reset();
  GlobalHdr_.reset();
  HeaderReadLocked_ = HeaderWriteLocked_ = false;
}

// ---------------------------------------------------------------- create, open, close

void TDiskMgr::CreateNewFile() {
  Close();
  CheckPageSize("TDiskMgr.CreateNewFile");
  if (plat::FileSystem().FileExists(FileName_))
    ZelDatabaseError(0x2B23, "TDiskMgr.CreateNewFile", FileName_, this);
  File_->SetPageSize(PageSize_);
  // Refused when the name appeared since the check: nobody's file is
  // truncated.
  if (File_->CreateZelFile(FileName_, true) <= 0)
    ZelDatabaseError(0x2186, "TDiskMgr.CreateNewFile", FileName_, this);
  try {
    CreateHeaderObjects();
    const std::vector<uint8_t> zeros(static_cast<size_t>(PageSize_) * (SystemAreaPages + 1), 0);
    File_->SeekAndWriteZelFile(zeros.data(), 0, static_cast<int32_t>(zeros.size()), 0,
                               kSystemAccessFlags);
    const uint32_t firstMap = SystemAreaPages * static_cast<uint32_t>(PageSize_);
    GlobalHdr_->SetFirstMapPage(firstMap);
    GlobalHdr_->SetMapPageCount(1);
    GlobalHdr_->SetFirstMapPageEmpty(firstMap);
    WriteHeader();
    GlobalHdr_->SetDirty(false);
    MapPageMgr_->AdjustMapPageFlags(ocSystemArea, 0, static_cast<int32_t>(SystemAreaPages));
    MapPageMgr_->AdjustMapPageFlags(ocMapPage, firstMap, 1);
  } catch (...) {
    // Half a system area is no database: the name is given back, as it was
    // before the call.
    File_->CloseZelFile();
    FreeHeaderObjects();
    plat::FileSystem().DeleteFile(FileName_);
    throw;
  }
  File_->CloseZelFile();
  FreeHeaderObjects();
}

void TDiskMgr::Open() {
  Close();
  if (PageSize_ == 0) ZelDatabaseError(0x2185, "TDiskMgr.Open", "PageSize is 0", this);
  CheckPageSize("TDiskMgr.Open");
  if (!plat::FileSystem().FileExists(FileName_)) ZelDatabaseError(0x2B02, "TDiskMgr.Open", FileName_, this);
  // Only a file that may be written shares locks with other processes.
  UseLocks_ = !plat::FileSystem().FileIsReadOnly(FileName_);
  File_->SetXORKeyBuf(XORPageKey.data(), static_cast<int32_t>(XORPageKey.size()));
  Exclusive_ = (OpenFlags_ & 0x70) == ofExclusive;
  ReadOnly_ = (OpenFlags_ & 7) == ofReadOnly;
  File_->SetPageSize(PageSize_);
  File_->SetOpenRead(true);
  File_->SetOpenWrite((OpenFlags_ & (ofWrite | ofReadWrite)) != 0);
  File_->SetOpenReadExclusive(Exclusive_);
  File_->SetOpenWriteExclusive(Exclusive_);
  if (File_->OpenZelFile(FileName_) <= 0)
    ZelDatabaseError(0x2101, "TDiskMgr.Open", "Error type of: " + GetOSErrorMsg(), this);
  if (UseLocks_) OpenLocks();
  File_->SetCacheActive(true);
  CreateHeaderObjects();
  SetHeaderReadLock();
  ReleaseHeaderLock();
}

void TDiskMgr::Close() {
  // Every step runs even when one before it failed; the first failure is
  // raised once the file, the locks and the lock file are let go.
  std::exception_ptr failure;
  const auto step = [&failure](auto&& Action) {
    try {
      Action();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  };
  if (File_->CheckOpen()) {
    step([this] {
      if (GlobalHdr_ && GlobalHdr_->Dirty() && !ReadOnly_) WriteHeader();
    });
    step([this] { ReleaseAllLocks(); });
  }
  step([this] { CloseLocks(); });
  File_->CloseZelFile();
  Exclusive_ = false;
  FreeHeaderObjects();
  if (failure) std::rethrow_exception(failure);
}

int64_t TDiskMgr::GetFileSize() { return CheckedFileSize(File_->SeekZelEof()); }

int64_t TDiskMgr::FileSizeCovering(uint64_t End) { return CheckedFileSize(File_->SizeCovering(End)); }

int64_t TDiskMgr::CheckedFileSize(int64_t Size) {
  if (Size < 0) ZelDatabaseError(0x2185, "TDiskMgr.GetFileSize", "Unable to get file size", this);
  return Size;
}

// ---------------------------------------------------------------- headers

void TDiskMgr::ReadHeader() {
  if (!HeaderReadLocked_ && !HeaderWriteLocked_)
    ZelDatabaseError(0x2808, "TDiskMgr.ReadHeader", "", this);
  File_->ReadThroughZelFile(GlobalHdr_->Buffer(), GlobalHdr_->BaseAddress(), GlobalHdr_->HdrSize());
  GlobalHdr_->SetDirty(false);
  GlobalHdr_->SetHeaderValid(true);
  // The chain may have changed under another process or a rollback.
  MapPageMgr_->ResetMapChain();
}

void TDiskMgr::WriteHeader() {
  // The write lock is taken for the write only: the caller keeps exactly the
  // header lock it had (none, or a read lock), and the header in memory,
  // which holds the changes to write, is not read again.
  const bool heldBefore = HeaderReadLocked_ || HeaderWriteLocked_;
  const bool upgrade = !HeaderWriteLocked_;
  if (upgrade) SetTableLock(0, ltWrite);
  struct TRestore {
    TDiskMgr& Mgr;
    bool Upgrade, HeldBefore;
    ~TRestore() {
      if (!Upgrade || !Mgr.LocksActive()) return;
      try {
        if (HeldBefore) {
          Mgr.TableLockMgr_->ReleaseUpgrade(0);
        } else {
          Mgr.ReleaseTableLock(0);
        }
      } catch (...) {
        // Unlocking never raises; a lock left is released with all others.
      }
    }
  } restore{*this, upgrade, heldBefore};
  File_->WriteThroughZelFile(GlobalHdr_->Buffer(), GlobalHdr_->BaseAddress(),
                             GlobalHdr_->HdrSize());
  GlobalHdr_->SetDirty(false);
}

void TDiskMgr::SetHeaderReadLock() {
  const bool heldBefore = HeaderReadLocked_ || HeaderWriteLocked_;
  SetTableLock(0, ltRead);
  HeaderReadLocked_ = true;
  if (heldBefore) return;
  try {
    ReadHeader();
  } catch (...) {
    HeaderReadLocked_ = false;
    ReleaseTableLock(0);
    throw;
  }
}

void TDiskMgr::SetHeaderWriteLock() {
  const bool heldBefore = HeaderReadLocked_ || HeaderWriteLocked_;
  const bool readBefore = HeaderReadLocked_;
  if (!HeaderWriteLocked_) SetTableLock(0, ltWrite);
  HeaderReadLocked_ = true;
  HeaderWriteLocked_ = true;
  if (heldBefore) return;
  try {
    ReadHeader();
  } catch (...) {
    HeaderReadLocked_ = readBefore;
    HeaderWriteLocked_ = false;
    ReleaseTableLock(0);
    throw;
  }
}

void TDiskMgr::ReleaseHeaderLock() {
  // The lock goes whether or not the header could be written; inside a
  // transaction the table lock itself stays until the transaction ends.
  struct TClear {
    TDiskMgr& Mgr;
    ~TClear() {
      try {
        Mgr.ReleaseTableLock(0);
      } catch (...) {
        // Unlocking never raises; a lock left is released with all others.
      }
      Mgr.HeaderReadLocked_ = Mgr.HeaderWriteLocked_ = false;
    }
  } clear{*this};
  if (GlobalHdr_ && GlobalHdr_->Dirty()) WriteHeader();
}

// ---------------------------------------------------------------- pages

void TDiskMgr::ReadPages(uint32_t Address, int32_t Count, void* Buffer, uint32_t TableID,
                         uint32_t AccessFlags) {
  CheckPageCount(Count, "TDiskMgr.ReadPages");
  File_->SeekAndReadZelFile(Buffer, Address, Count * PageSize_, TableID, AccessFlags);
}

void TDiskMgr::WritePages(uint32_t Address, int32_t Count, const void* Buffer, uint32_t TableID,
                          uint32_t AccessFlags) {
  CheckPageCount(Count, "TDiskMgr.WritePages");
  File_->SeekAndWriteZelFile(Buffer, Address, Count * PageSize_, TableID, AccessFlags);
}

uint32_t TDiskMgr::AppendNewPages(const void* Buffer, int32_t Count, uint32_t TableID,
                                  uint32_t AccessFlags) {
  CheckPageCount(Count, "TDiskMgr.AppendNewPages");
  // Pages appended to a file that does not end on a page boundary would not
  // be where the map says.
  if (GetFileSize() % PageSize_ != 0)
    ZelDatabaseError(0x2103, "TDiskMgr.AppendNewPages", "File size is not a whole number of pages",
                     this);
  return File_->SeekAndAppendZelFile(Buffer, Count * PageSize_, TableID, AccessFlags);
}

uint32_t TDiskMgr::WriteNewPages(uint32_t TableID, uint32_t AccessFlags, int32_t Count,
                                 const void* Buffer, uint32_t Usage) {
  CheckPageCount(Count, "TDiskMgr.WriteNewPages");
  const uint32_t owner = (TableID << 4) | Usage;
  // A code with bit 15 would read as a free entry, and 0 as a page never
  // given out.
  if (owner == 0 || owner > 0x7FFF)
    ZelDatabaseError(0x2185, "TDiskMgr.WriteNewPages", "Invalid page owner", this);
  THeaderWriteScope scope(*this);
  uint32_t address = MapPageMgr_->GetNextEmptyPageAddress(Count);
  if (address == 0) {
    address = AppendNewPages(Buffer, Count, TableID, AccessFlags);
  } else {
    WritePages(address, Count, Buffer, TableID, AccessFlags);
  }
  MapPageMgr_->AdjustMapPageFlags(owner, address, Count);
  scope.Done();
  return address;
}

void TDiskMgr::ReleasePages(uint32_t Address, int32_t Count) {
  CheckPageCount(Count, "TDiskMgr.ReleasePages");
  THeaderWriteScope scope(*this);
  MapPageMgr_->AdjustMapPageFlags(ocFree, Address, Count);
  for (int32_t i = 0; i < Count; ++i)
    File_->ReleasePage(Address + static_cast<uint32_t>(i * PageSize_), ZeroPage_.data());
  scope.Done();
}

void TDiskMgr::DeleteOwnedPages(uint32_t TableID, uint32_t Usage, bool Exact) {
  THeaderWriteScope scope(*this);
  File_->PageCache().ClearOwnedPages(TableID);
  std::vector<uint32_t> freed;
  MapPageMgr_->DeleteOwnedPages(TableID, Usage, Exact, freed);
  WriteHeader();
  for (const uint32_t address : freed) File_->ReleasePage(address, ZeroPage_.data());
  scope.Done();
}

// ---------------------------------------------------------------- transactions

void TDiskMgr::DiskStartTransaction(bool Skip) {
  SkipTransactionLock_ = Skip;
  File_->StartTransaction();
}

void TDiskMgr::DiskCommit() {
  // A header changed under a header lock the caller still holds would be
  // lost when the locks go: it is written inside the transaction first.
  if (GlobalHdr_ && GlobalHdr_->Dirty() && File_->GetTransactionActive() && !ReadOnly_)
    WriteHeader();
  // Nobody may read the tables while their pages reach the file. A
  // transaction that changed nothing writes no page: its read locks simply
  // go with the rest, and nobody is kept from reading meanwhile.
  if (LocksActive() && File_->HasPendingWrites()) TableLockMgr_->UpgradeReadLocks();
  File_->Commit();
  ReleaseAllLocks();
}

void TDiskMgr::DiskRollback() {
  // The header in memory holds the transaction's changes: it is read again
  // even when a step of the rollback failed.
  std::exception_ptr failure;
  try {
    File_->Rollback();
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    if (HeaderReadLocked_ || HeaderWriteLocked_) {
      ReadHeader();
    } else {
      SetHeaderReadLock();
    }
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  ReleaseAllLocks();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace zel
