// The disk manager's share of multi-process work: the lock file and the lock
// managers, lock routing, the security header and encryption key, and the
// block-level services the block stores build on.

#include <algorithm>
#include <cstring>

#include "engine/storage/zelDisk.h"
#include "engine/storage/zelDiskJournal.h"
#include "platform/os/FileSystem.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Random.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

constexpr uint32_t kTransactionLockRetries = 20;

void StoreDigest(uint8_t* P, const TSha1Digest& Digest) {
  for (size_t i = 0; i < Digest.size(); ++i) DiskPutU32(P + 4 * i, Digest[i]);
}

}  // namespace

// Holds the header read lock for one walk of the map: takes it when no
// header lock is held and gives it back at the end, also on failure.
class TDiskMgr::THeaderReadScope {
 public:
  explicit THeaderReadScope(TDiskMgr& Mgr)
      : mgr_(Mgr), heldBefore_(Mgr.HeaderReadLocked_ || Mgr.HeaderWriteLocked_) {
    if (!heldBefore_) mgr_.SetHeaderReadLock();
  }
  THeaderReadScope(const THeaderReadScope&) = delete;
  THeaderReadScope& operator=(const THeaderReadScope&) = delete;
  ~THeaderReadScope() {
    if (heldBefore_) return;
    try {
      mgr_.ReleaseHeaderLock();
    } catch (...) {
      // Releasing a read lock writes nothing; there is nothing to report.
    }
  }

 private:
  TDiskMgr& mgr_;
  bool heldBefore_;
};

void TDiskMgr::CheckSize(int32_t Size, const char* Context) const {
  if (Size <= 0) ZelDatabaseError(0x2185, Context, "Invalid transfer size", this);
}

// ---------------------------------------------------------------- security header

void StoreSecurityHeader(const TSecurityHeader& Header, uint8_t* Buf) {
  std::fill(Buf, Buf + SecurityHeaderSize, uint8_t{0});
  DiskPutU32(Buf + shSize, Header.Size);
  uint64_t bits = 0;
  static_assert(sizeof(bits) == sizeof(Header.CreationTime));
  std::memcpy(&bits, &Header.CreationTime, sizeof(bits));
  DiskPutU32(Buf + shCreationTime, static_cast<uint32_t>(bits));
  DiskPutU32(Buf + shCreationTime + 4, static_cast<uint32_t>(bits >> 32));
  DiskPutU16(Buf + shWord0C, Header.Word0C);
  DiskPutU16(Buf + shWord0E, Header.Word0E);
  StoreDigest(Buf + shDigest, Header.Digest);
  DiskPutU32(Buf + shCRC, Header.CRC);
}

void LoadSecurityHeader(const uint8_t* Buf, TSecurityHeader& Header) {
  Header.Size = DiskGetU32(Buf + shSize);
  const uint64_t bits = uint64_t{DiskGetU32(Buf + shCreationTime)} |
                        (uint64_t{DiskGetU32(Buf + shCreationTime + 4)} << 32);
  std::memcpy(&Header.CreationTime, &bits, sizeof(bits));
  Header.Word0C = DiskGetU16(Buf + shWord0C);
  Header.Word0E = DiskGetU16(Buf + shWord0E);
  for (size_t i = 0; i < Header.Digest.size(); ++i)
    Header.Digest[i] = DiskGetU32(Buf + shDigest + 4 * i);
  Header.CRC = DiskGetU32(Buf + shCRC);
}

void TDiskMgr::WriteSecurityHeader(TSecurityHeader& Header) {
  Header.Size = SecurityHeaderSize;
  Header.CreationTime = plat::Now();
  Header.Word0C = 1;
  Header.Word0E = 1;
  GetSHA1FromString(MasterKey_, Header.Digest);
  Header.CRC = 0;
  uint8_t buffer[SecurityHeaderSize];
  StoreSecurityHeader(Header, buffer);
  Header.CRC = CalcCRC(buffer, SecurityHeaderSize);
  DiskPutU32(buffer + shCRC, Header.CRC);
  File_->WriteThroughZelFile(buffer, SecurityHeaderAddress, SecurityHeaderSize);
}

void TDiskMgr::ReadSecurityHeader(TSecurityHeader& Header) {
  static const char* const kContext = "TDiskMgr.ReadSecurityHeader";
  uint8_t buffer[SecurityHeaderSize];
  File_->ReadThroughZelFile(buffer, SecurityHeaderAddress, SecurityHeaderSize);
  const uint32_t stored = DiskGetU32(buffer + shCRC);
  DiskPutU32(buffer + shCRC, 0);
  if (CalcCRC(buffer, SecurityHeaderSize) != stored)
    ZelDatabaseError(0x2103, kContext, "The Security Header CRC is incorrect", this);
  DiskPutU32(buffer + shCRC, stored);
  LoadSecurityHeader(buffer, Header);
  TSha1Digest expected;
  GetSHA1FromString(MasterKey_, expected);
  if (Header.Digest != expected)
    ZelDatabaseError(0x2103, kContext, "The MasterKey is incorrect", this);
}

void TDiskMgr::SetCryptKey(const std::string& Key) {
  MasterKey_ = Key.empty() ? std::string(DefaultBlowfishKey) : Key;
  File_->SetBlowKeyBuf(MasterKey_.data(), static_cast<int32_t>(MasterKey_.size()));
}

// ---------------------------------------------------------------- lock file and managers

std::string TDiskMgr::GetLockFileName(const std::string& DatabaseName) {
  return FileNameBeside(DatabaseName, ".lck");
}

void TDiskMgr::OpenLocks() {
  UserMonitor_ = std::make_unique<TDBUserMonitor>(&File_->OSFile(), GetLockFileName(FileName_));
  UserMonitor_->Open(GetCurrentUser(), GetCurrentComputer());
  plat::TFile* lockFile = UserMonitor_->LockFileHandle();

  TableLockMgr_ = TBaseLockMgr::GetLockManager(lockFile, TableLockBase, TableLockRegion);
  TableLockMgr_->SetLockRetryCount(LockRetryCount_);
  TableLockMgr_->SetLockRetryInterval(LockRetryInterval_);
  TableLockMgr_->SetReadLockErrMsg(SzelTableReadLockErr);
  TableLockMgr_->SetWriteLockErrMsg(SzelTableWriteLockErr);

  RecordLockMgr_ = TBaseLockMgr::GetLockManager(lockFile, RecordLockBase, 1);
  RecordLockMgr_->SetLockRetryCount(LockRetryCount_);
  RecordLockMgr_->SetLockRetryInterval(LockRetryInterval_);
  RecordLockMgr_->SetReadLockErrMsg(SzelRecordLockErr);
  RecordLockMgr_->SetWriteLockErrMsg(SzelRecordLockErr);

  // Writers of one table queue on its transaction lock; a jittered interval
  // keeps two waiting processes from retrying in step.
  TransactionLockMgr_ = TBaseLockMgr::GetLockManager(lockFile, TransactionLockBase, 1);
  TransactionLockMgr_->SetLockRetryCount(kTransactionLockRetries);
  TransactionLockMgr_->SetLockRetryInterval(80 + plat::Random(40));
  TransactionLockMgr_->SetReadLockErrMsg(SzelTransactionLockErr);
  TransactionLockMgr_->SetWriteLockErrMsg(SzelTransactionLockErr);
}

void TDiskMgr::CloseLocks() {
  HeldReadTables_.clear();
  // Managers first: their locks live on the monitor's handle.
  TableLockMgr_.reset();
  RecordLockMgr_.reset();
  TransactionLockMgr_.reset();
  if (UserMonitor_) {
    std::unique_ptr<TDBUserMonitor> monitor = std::move(UserMonitor_);
    monitor->Close();
  }
}

bool TDiskMgr::LocksActive() const {
  return UseLocks_ && TableLockMgr_ != nullptr;
}

// ---------------------------------------------------------------- lock routing

int32_t TDiskMgr::SetTableLock(uint32_t TableID, int32_t LockType) {
  if (LockType != ltRead && LockType != ltWrite)
    ZelDatabaseError(0x2185, "TDiskMgr.SetTableLock", "Invalid lock type", this);
  if (!IsTransactionActive() && LocksActive() && TakeHeldReadLock(TableID)) {
    if (LockType == ltRead) return ltRead;
    // A writer starts from no lock of the table, as without the hold.
    TableLockMgr_->ReleaseLock(TableID);
    File_->NoteChange();
  }
  int32_t type = LockType;
  if (IsTransactionActive() && LocksActive() && !SkipTransactionLock_) {
    // Writers of a table are serialised by its transaction lock; the table
    // itself stays readable until commit upgrades the read locks.
    TransactionLockMgr_->SetWriteLock(TableID, 0);
    if (type == ltWrite) type = ltRead;
  }
  if (!LocksActive()) return type;
  // While this handle holds the table, no other process can have committed
  // to it, so a journal left by a dead one cannot hold its pages.
  const int32_t held = TableLockMgr_->QueryLockType(TableID);
  if (type == ltRead) {
    TableLockMgr_->SetReadLock(TableID, 1);
  } else {
    TableLockMgr_->SetWriteLock(TableID, 0);
  }
  if (held != ltNone && (type == ltRead || held == ltWrite)) return TableLockMgr_->QueryLockType(TableID);
  // A process that died committing let its locks go with its pages half
  // written.
  File_->RecoverJournal();
  return TableLockMgr_->QueryLockType(TableID);
}

void TDiskMgr::ReleaseTableLock(uint32_t TableID) {
  // Inside a transaction every lock is kept until commit or rollback.
  if (IsTransactionActive() || !LocksActive()) return;
  // A read hold keeps a plain read lock; a write lock goes as always.
  if (ReadHoldDepth_ > 0 && TableLockMgr_->QueryLockType(TableID) == ltRead &&
      !TableLockMgr_->LockExists(TableID, ltWrite)) {
    if (std::find(HeldReadTables_.begin(), HeldReadTables_.end(), TableID) == HeldReadTables_.end())
      HeldReadTables_.push_back(TableID);
    return;
  }
  TableLockMgr_->ReleaseLock(TableID);
  File_->NoteChange();
}

bool TDiskMgr::TakeHeldReadLock(uint32_t TableID) {
  const auto it = std::find(HeldReadTables_.begin(), HeldReadTables_.end(), TableID);
  if (it == HeldReadTables_.end()) return false;
  HeldReadTables_.erase(it);
  return true;
}

void TDiskMgr::EndReadHold() {
  if (ReadHoldDepth_ > 0) --ReadHoldDepth_;
  if (ReadHoldDepth_ > 0) return;
  std::vector<uint32_t> held;
  held.swap(HeldReadTables_);
  // Inside a transaction the locks stay until its end.
  if (held.empty() || IsTransactionActive() || !LocksActive()) return;
  for (const uint32_t table : held) TableLockMgr_->ReleaseLock(table);
  File_->NoteChange();
}

bool TDiskMgr::TableLockHeld(uint32_t TableID) const {
  return LocksActive() && TableLockMgr_->QueryLockType(TableID) != ltNone;
}

int32_t TDiskMgr::QueryTableLockStatus(uint32_t TableID) const {
  if (!LocksActive()) return ltRead;
  return TableLockMgr_->QueryLockType(TableID);
}

int32_t TDiskMgr::SetRecordLock(uint32_t RecordAddress, uint32_t TableID) {
  if (!LocksActive()) return ltWrite;
  if (IsTransactionActive()) TransactionLockMgr_->SetWriteLock(TableID, 0);
  RecordLockMgr_->SetWriteLock(RecordAddress, 0);
  return RecordLockMgr_->QueryLockType(RecordAddress);
}

void TDiskMgr::ReleaseRecordLock(uint32_t RecordAddress) {
  if (IsTransactionActive() || !LocksActive()) return;
  RecordLockMgr_->ReleaseLock(RecordAddress);
}

int32_t TDiskMgr::QueryRecordLockStatus(uint32_t RecordAddress) const {
  if (!LocksActive()) return ltRead;
  return RecordLockMgr_->QueryLockType(RecordAddress);
}

void TDiskMgr::ReleaseAllLocks() {
  if (File_->CheckOpen() && LocksActive()) {
    TableLockMgr_->ReleaseAllLocks();
    RecordLockMgr_->ReleaseAllLocks();
    TransactionLockMgr_->ReleaseAllLocks();
  }
  // The header lock and the read holds' locks went with the table locks.
  HeaderReadLocked_ = HeaderWriteLocked_ = false;
  HeldReadTables_.clear();
  File_->NoteChange();
}

void TDiskMgr::GetCurrentUsers(plat::TStrings& List) {
  if (!LocksActive() || !UserMonitor_)
    ZelDatabaseError(0x2905, "TDiskMgr.GetCurrentUsers",
                     "Connection details unavailable for read only database files", this);
  UserMonitor_->GetCurrentUsers(List);
}

// ---------------------------------------------------------------- blocks

void TDiskMgr::ReadCustomSize(uint32_t Address, int32_t Size, uint32_t TableID,
                              uint32_t AccessFlags, void* Buffer) {
  CheckSize(Size, "TDiskMgr.ReadCustomSize");
  File_->SeekAndReadZelFile(Buffer, Address, Size, TableID, AccessFlags);
}

void TDiskMgr::WriteCustomSize(uint32_t Address, int32_t Size, uint32_t TableID,
                               uint32_t AccessFlags, const void* Buffer) {
  CheckSize(Size, "TDiskMgr.WriteCustomSize");
  File_->SeekAndWriteZelFile(Buffer, Address, Size, TableID, AccessFlags);
}

void TDiskMgr::ReadCustomSizeByRef(uint32_t Address, int32_t Size, uint32_t TableID,
                                   uint32_t AccessFlags, uint8_t*& Pointer) {
  CheckSize(Size, "TDiskMgr.ReadCustomSizeByRef");
  File_->SeekAndReadZelFileByRef(Address, Size, TableID, AccessFlags, Pointer);
}

void TDiskMgr::WriteCustomSizeByRef(uint32_t Address, int32_t Size, uint32_t TableID,
                                    uint32_t AccessFlags, const void* Buffer) {
  CheckSize(Size, "TDiskMgr.WriteCustomSizeByRef");
  File_->SeekAndWriteZelFileByRef(Buffer, Address, Size, TableID, AccessFlags);
}

TPageNotes* TDiskMgr::PageNotes(uint32_t Address, uint32_t TableID, uint32_t AccessFlags) {
  return File_->PageNotes(Address, TableID, AccessFlags);
}

uint32_t TDiskMgr::GetBestPageRequestSize(uint32_t BlockSize, uint32_t PageSize) {
  if (BlockSize == 0 || PageSize == 0)
    ZelDatabaseError(0x2185, "TDiskMgr.GetBestPageRequestSize", "Block or page size is 0");
  const uint64_t block = BlockSize, page = PageSize;
  const uint64_t rounded = (block + page - 1) / page * page;
  if (page >= block && rounded % block <= page / 4) return static_cast<uint32_t>(rounded);
  // Several pages at once waste less of the last block's room.
  uint64_t best = rounded;
  for (uint64_t x = rounded; x < 10 * rounded; x += page)
    if (x % block < best % block) best = x;
  return static_cast<uint32_t>(best);
}

void TDiskMgr::ListAllocatedFixedBlocks(uint32_t BlockSize, uint32_t TableID, uint32_t Usage,
                                        std::vector<uint32_t>& List) {
  static const char* const kContext = "TDiskMgr.ListAllocatedFixedBlocks";
  if (BlockSize == 0) ZelDatabaseError(0x2185, kContext, "Block size is 0", this);
  List.clear();
  THeaderReadScope scope(*this);
  const uint32_t page = static_cast<uint32_t>(PageSize_);
  const uint32_t request = GetBestPageRequestSize(BlockSize, page);
  const uint32_t pagesPerRun = request / page;
  const uint32_t blocksPerRun = request / BlockSize;
  std::vector<uint32_t> pages;
  MapPageMgr_->ListPagesUsedByOwner(TableID, Usage, true, pages);
  // A store takes its pages in runs of one request; a run that is cut short
  // or not consecutive means the map and the store disagree.
  for (size_t i = 0; i < pages.size(); i += pagesPerRun) {
    const uint32_t runStart = pages[i];
    for (uint32_t k = 1; k < pagesPerRun; ++k) {
      if (i + k >= pages.size() || pages[i + k] != runStart + k * page)
        ZelDatabaseError(0x2103, kContext, "A run of a fixed block store is incomplete", this);
    }
    for (uint32_t b = 0; b < blocksPerRun; ++b) List.push_back(runStart + b * BlockSize);
  }
}

// ---------------------------------------------------------------- file services

void TDiskMgr::CopyCurrentFile(const std::string& Name) {
  File_->CopyZelFile(Name);
}

bool TDiskMgr::DoCopyFile(const std::string& Source, const std::string& Target, bool FailIfExists) {
  plat::TFileSystem& files = plat::FileSystem();
  const std::unique_ptr<plat::TFile> source = files.NewFile();
  const std::unique_ptr<plat::TFile> target = files.NewFile();
  return source->Open(Source, plat::TFileAccess::faRead, plat::TFileShare::fsDenyNone) &&
         target->Create(Target, FailIfExists, plat::TFileShare::fsDenyNone) &&
         plat::CopyFileContent(*source, *target);
}

int64_t TDiskMgr::DiskCacheSize() {
  return File_->CheckOpen() ? File_->PageCache().TotalCacheSize() : 0;
}

void TDiskMgr::ForceToDisk() {
  if (!File_->CheckOpen()) return;
  if (IsTransactionActive()) {
    // The work so far reaches the file, but the transaction, with its locks,
    // goes on: readers must be shut out as at a commit.
    if (GlobalHdr_ && GlobalHdr_->Dirty()) WriteHeader();
    if (LocksActive()) TableLockMgr_->UpgradeReadLocks();
    File_->Commit(true);
    File_->StartTransaction();
  }
  File_->FlushBuffers();
}

}  // namespace zel
