#include "engine/storage/zelLockMgrUnit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/storage/zelCommon.h"
#include "platform/os/Os.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Random.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

// Mutex and parent lock: one try, then this many more, this far apart.
constexpr int32_t kMutexRetries = 20;
constexpr uint32_t kMutexRetryPause = 100;
// Open starts again when the lock file it opened was deleted before it got
// the mutex; that can only happen while other processes close their last
// connection, so a few rounds always suffice.
constexpr int32_t kMaxOpenRounds = 100;

// Readers draw their byte of a table's region at random; the generator is
// seeded once, when the engine is loaded.
[[maybe_unused]] const bool randomSeeded = [] {
  plat::Randomize();
  return true;
}();

int64_t RoundUpToSlot(int64_t Offset) {
  return (Offset + LockFileSlotSize - 1) / LockFileSlotSize * LockFileSlotSize;
}

}  // namespace

// ---------------------------------------------------------------- TDBUserMonitor

// Holds the lock file's mutex for one operation; nested holders share it.
class TDBUserMonitor::TMutexGuard {
 public:
  TMutexGuard(TDBUserMonitor& Monitor, const char* Context) : monitor_(Monitor) {
    monitor_.LockMutex(Context);
  }
  TMutexGuard(const TMutexGuard&) = delete;
  TMutexGuard& operator=(const TMutexGuard&) = delete;
  ~TMutexGuard() { monitor_.UnlockMutex(); }

 private:
  TDBUserMonitor& monitor_;
};

// Holds the parent lock (when there is a database handle).
class TDBUserMonitor::TParentLockGuard {
 public:
  TParentLockGuard(TDBUserMonitor& Monitor, const char* Context)
      : monitor_(Monitor), held_(Monitor.LockParent(Context)) {}
  TParentLockGuard(const TParentLockGuard&) = delete;
  TParentLockGuard& operator=(const TParentLockGuard&) = delete;
  ~TParentLockGuard() {
    if (held_) monitor_.UnlockParent();
  }

 private:
  TDBUserMonitor& monitor_;
  bool held_;
};

TDBUserMonitor::TDBUserMonitor(plat::TFile* DatabaseHandle, std::string LockFileName)
    : DatabaseHandle_(DatabaseHandle),
      LockFileName_(std::move(LockFileName)),
      LockFile_(plat::FileSystem().NewFile()),
      SlotBuffer_(std::make_unique<char[]>(LockFileSlotSize + 1)),
      LockErrMsg_(SzelLckFileLockErr) {}

TDBUserMonitor::~TDBUserMonitor() {
  try {
    Close();
  } catch (...) {
    // The handle is closed in any case; a slot left behind is swept by the
    // next connection that closes.
  }
  CloseHandle();
}

bool TDBUserMonitor::LockWithRetries(plat::TFile& File, uint64_t Offset, uint64_t Length) {
  for (int32_t attempt = 0;; ++attempt) {
    if (File.LockRange(Offset, Length)) return true;
    if (attempt == kMutexRetries) return false;
    plat::Sleep(kMutexRetryPause);
  }
}

void TDBUserMonitor::LockMutex(const char* Context) {
  if (MutexDepth_ > 0) {
    ++MutexDepth_;
    return;
  }
  // A closed monitor has no file to lock: say so at once instead of retrying.
  if (!LockFile_->IsOpen()) ZelDatabaseError(0x2101, Context, "", this);
  if (!LockWithRetries(*LockFile_, 0, 1)) ZelDatabaseError(0x2809, Context, LockErrMsg_, this);
  MutexDepth_ = 1;
}

void TDBUserMonitor::UnlockMutex() {
  if (MutexDepth_ <= 0) return;
  if (--MutexDepth_ == 0) LockFile_->UnlockRange(0, 1);
}

bool TDBUserMonitor::LockParent(const char* Context) {
  if (DatabaseHandle_ == nullptr || !DatabaseHandle_->IsOpen()) return false;
  if (!LockWithRetries(*DatabaseHandle_, ParentLockOffset, 1))
    ZelDatabaseError(0x2809, Context, LockErrMsg_, this);
  return true;
}

bool TDBUserMonitor::TryLockParent() {
  return LockWithRetries(*DatabaseHandle_, ParentLockOffset, 1);
}

void TDBUserMonitor::UnlockParent() {
  if (DatabaseHandle_ != nullptr) DatabaseHandle_->UnlockRange(ParentLockOffset, 1);
}

void TDBUserMonitor::CloseHandle() {
  LockFile_->Close();
  MutexDepth_ = 0;
  SlotLockOffset_ = 0;
}

void TDBUserMonitor::CreateLockFileIfMissing() {
  if (plat::FileSystem().FileExists(LockFileName_)) return;
  TParentLockGuard parent(*this, "TDBUserMonitor.Open");
  if (plat::FileSystem().FileExists(LockFileName_)) return;
  const std::unique_ptr<plat::TFile> created = plat::FileSystem().NewFile();
  // Made without an exclusive share mode, so that processes that find it at
  // once can open it; they never take slot 0's place (slots start at 4096).
  if (!created->Create(LockFileName_, true, plat::TFileShare::fsDenyNone)) {
    if (plat::IsAlreadyExistsError(created->LastError())) return;
    ZelDatabaseError(0x2101, "TDBUserMonitor.Open",
                     "Lock File could not be created: " + LockFileName_, this);
  }
  const std::vector<char> header(LockFileSlotSize, 0);
  if (created->WriteAt(0, header.data(), LockFileSlotSize) != LockFileSlotSize)
    ZelDatabaseError(0x2402, "TDBUserMonitor.Open", "Unable to complete lock file creation", this);
}

bool TDBUserMonitor::HandleIsCurrentFile() {
  uint64_t device = 0, inode = 0, pathDevice = 0, pathInode = 0;
  if (!LockFile_->Identity(device, inode)) return false;
  if (!plat::FileSystem().FileIdentity(LockFileName_, pathDevice, pathInode)) return false;
  return device == pathDevice && inode == pathInode;
}

int64_t TDBUserMonitor::LockFileSize(const char* Context) {
  const int64_t size = LockFile_->Size();
  if (size < 0) ZelDatabaseError(0x2102, Context, "The lock file could not be opened", this);
  if (size >= LockFileMaxSize)
    ZelDatabaseError(0x250E, Context, "The lock file has grown too large", this);
  return size;
}

std::string TDBUserMonitor::ReadSlot(int64_t Offset, const char* Context) {
  std::memset(SlotBuffer_.get(), 0, LockFileSlotSize + 1);
  if (LockFile_->ReadAt(Offset, SlotBuffer_.get(), LockFileSlotSize) < 0)
    ZelDatabaseError(0x2401, Context, "The lock file could not be read", this);
  // The buffer's extra byte stays zero, so the text ends inside it.
  return std::string(SlotBuffer_.get());
}

void TDBUserMonitor::WriteSlot(int64_t Offset, const std::string& Text, const char* Context) {
  std::memset(SlotBuffer_.get(), 0, LockFileSlotSize + 1);
  std::memcpy(SlotBuffer_.get(), Text.data(), std::min<size_t>(Text.size(), LockFileSlotSize - 1));
  if (LockFile_->WriteAt(Offset, SlotBuffer_.get(), LockFileSlotSize) != LockFileSlotSize)
    ZelDatabaseError(0x2402, Context, "Unable to complete lock file creation", this);
}

int64_t TDBUserMonitor::FindSlot(const char* Context) {
  const int64_t size = LockFileSize(Context);
  for (int64_t offset = LockFileSlotSize; offset < size; offset += LockFileSlotSize) {
    if (plat::AnsiSameText(ReadSlot(offset, Context), UserEntry_)) return offset;
  }
  return 0;
}

int64_t TDBUserMonitor::FindOrAddSlot(const char* Context) {
  const int64_t size = LockFileSize(Context);
  int64_t firstFree = 0;
  for (int64_t offset = LockFileSlotSize; offset < size; offset += LockFileSlotSize) {
    const std::string text = ReadSlot(offset, Context);
    if (plat::AnsiSameText(text, UserEntry_)) return offset;
    if (text.empty() && firstFree == 0) firstFree = offset;
  }
  int64_t slot = firstFree;
  if (slot == 0) {
    slot = std::max<int64_t>(LockFileSlotSize, RoundUpToSlot(size));
    if (slot + LockFileSlotSize > LockFileMaxSize)
      ZelDatabaseError(0x250E, Context, "The lock file has grown too large", this);
  }
  WriteSlot(slot, UserEntry_, Context);
  return slot;
}

void TDBUserMonitor::LockSlotByte(int64_t SlotOffset) {
  SlotLockOffset_ = 0;
  const uint64_t start = UserSlotLockBase + static_cast<uint64_t>(SlotOffset);
  for (uint64_t byte = start; byte < start + LockFileSlotSize; ++byte) {
    if (LockFile_->LockRange(byte, 1)) {
      SlotLockOffset_ = byte;
      return;
    }
  }
}

bool TDBUserMonitor::FreeSlotIfUnused(int64_t SlotOffset, const char* Context) {
  const uint64_t start = UserSlotLockBase + static_cast<uint64_t>(SlotOffset);
  // A range that cannot be locked whole has a live connection (perhaps this
  // handle's own byte); only a range locked here is unlocked again.
  if (!LockFile_->LockRange(start, LockFileSlotSize)) return false;
  try {
    WriteSlot(SlotOffset, std::string(), Context);
  } catch (...) {
    LockFile_->UnlockRange(start, LockFileSlotSize);
    throw;
  }
  LockFile_->UnlockRange(start, LockFileSlotSize);
  return true;
}

void TDBUserMonitor::Open(const std::string& UserName, const std::string& ComputerName) {
  static const char* const kContext = "TDBUserMonitor.Open";
  Close();
  {
    plat::TStringList parts;
    parts.Add(ComputerName);
    parts.Add(UserName);
    UserEntry_ = parts.CommaText();
  }
  for (int32_t round = 0;; ++round) {
    if (round == kMaxOpenRounds)
      ZelDatabaseError(0x2101, kContext, "The lock file could not be opened", this);
    CreateLockFileIfMissing();
    if (!LockFile_->Open(LockFileName_, plat::TFileAccess::faReadWrite,
                        plat::TFileShare::fsDenyNone)) {
      // Deleted between the check and the open by a process closing its
      // last connection: make it again.
      if (plat::IsNotFoundError(LockFile_->LastError())) continue;
      ZelDatabaseError(0x2101, kContext, "The lock file could not be opened", this);
    }
    try {
      LockFileSize(kContext);
      TMutexGuard mutex(*this, kContext);
      if (!HandleIsCurrentFile()) {
        // The file was deleted (and perhaps made anew) before the mutex was
        // ours: registering here would put this connection on a file
        // nobody else sees.
        CloseHandle();
        continue;
      }
      LockSlotByte(FindOrAddSlot(kContext));
    } catch (...) {
      CloseHandle();
      throw;
    }
    return;
  }
}

void TDBUserMonitor::Close() {
  static const char* const kContext = "TDBUserMonitor.Close";
  if (!LockFile_->IsOpen()) return;
  if (SlotLockOffset_ != 0) LockFile_->UnlockRange(SlotLockOffset_, 1);
  SlotLockOffset_ = 0;
  try {
    TMutexGuard mutex(*this, kContext);
    // A file that was deleted and made anew under this handle belongs to
    // others now: neither its slots nor its deletion are this handle's
    // business (its own file is gone already).
    if (HandleIsCurrentFile()) {
      const int64_t slot = FindSlot(kContext);
      if (slot != 0) FreeSlotIfUnused(slot, kContext);
      const bool hasParent = DatabaseHandle_ != nullptr && DatabaseHandle_->IsOpen();
      if (SweepLockFile() == 0 && (!hasParent || TryLockParent())) {
        // Deleted while the mutex and the parent lock are held: an opener
        // that already has the file open finds, once it gets the mutex, that
        // the path no longer names its file and starts again.
        plat::FileSystem().DeleteFile(LockFileName_);
        if (hasParent) UnlockParent();
      }
    }
  } catch (...) {
    CloseHandle();
    throw;
  }
  CloseHandle();
}

int32_t TDBUserMonitor::SweepLockFile() {
  static const char* const kContext = "TDBUserMonitor.SweepLockFile";
  TMutexGuard mutex(*this, kContext);
  const int64_t size = LockFileSize(kContext);
  int32_t inUse = 0;
  for (int64_t offset = LockFileSlotSize; offset < size; offset += LockFileSlotSize) {
    if (ReadSlot(offset, kContext).empty()) {
      // A free slot may still be the range of a connection whose slot text
      // was lost; only an unlockable range counts.
      const uint64_t start = UserSlotLockBase + static_cast<uint64_t>(offset);
      if (LockFile_->LockRange(start, LockFileSlotSize)) {
        LockFile_->UnlockRange(start, LockFileSlotSize);
      } else {
        ++inUse;
      }
      continue;
    }
    if (!FreeSlotIfUnused(offset, kContext)) ++inUse;
  }
  return inUse;
}

int32_t TDBUserMonitor::CountConnectionsForUser(uint64_t RangeStart) {
  return CountLockedBytes(RangeStart, LockFileSlotSize);
}

// Halves a range that cannot be locked until single bytes remain, so a slot
// with a few connections costs a few dozen tries instead of one per byte.
// Only a range locked here is unlocked: a byte this handle holds fails to
// lock like anybody else's and is counted, never released.
int32_t TDBUserMonitor::CountLockedBytes(uint64_t Start, uint64_t Length) {
  if (LockFile_->LockRange(Start, Length)) {
    LockFile_->UnlockRange(Start, Length);
    return 0;
  }
  if (Length == 1) return 1;
  const uint64_t half = Length / 2;
  return CountLockedBytes(Start, half) + CountLockedBytes(Start + half, Length - half);
}

void TDBUserMonitor::GetCurrentUsers(plat::TStrings& List) {
  static const char* const kContext = "TDBUserMonitor.GetCurrentUsers";
  TMutexGuard mutex(*this, kContext);
  List.Clear();
  const int64_t size = LockFileSize(kContext);
  for (int64_t offset = LockFileSlotSize; offset < size; offset += LockFileSlotSize)
    List.Add(ReadSlot(offset, kContext));
}

int32_t TDBUserMonitor::GetCurrentUserCount() {
  static const char* const kContext = "TDBUserMonitor.GetCurrentUserCount";
  TMutexGuard mutex(*this, kContext);
  const int64_t size = LockFileSize(kContext);
  int32_t users = 0;
  for (int64_t offset = LockFileSlotSize; offset < size; offset += LockFileSlotSize) {
    if (CountConnectionsForUser(UserSlotLockBase + static_cast<uint64_t>(offset)) > 0) ++users;
  }
  return users;
}

int32_t TDBUserMonitor::GetCurrentConnectionCount() {
  static const char* const kContext = "TDBUserMonitor.GetCurrentConnectionCount";
  TMutexGuard mutex(*this, kContext);
  const int64_t size = LockFileSize(kContext);
  int32_t connections = 0;
  for (int64_t offset = LockFileSlotSize; offset < size; offset += LockFileSlotSize)
    connections += CountConnectionsForUser(UserSlotLockBase + static_cast<uint64_t>(offset));
  return connections;
}

void TDBUserMonitor::DebugDumpStatus(plat::TStrings& List) {
  static const char* const kContext = "TDBUserMonitor.DebugDumpStatus";
  TMutexGuard mutex(*this, kContext);
  const int64_t size = LockFileSize(kContext);
  int32_t users = 0;
  for (int64_t offset = LockFileSlotSize; offset < size; offset += LockFileSlotSize) {
    const std::string text = ReadSlot(offset, kContext);
    if (text.empty()) continue;
    const int32_t connections =
        CountConnectionsForUser(UserSlotLockBase + static_cast<uint64_t>(offset));
    if (connections > 0) ++users;
    List.Add("User " + text + " - connections " + std::to_string(connections));
  }
  List.Add("Total Users " + std::to_string(users));
}

// ---------------------------------------------------------------- TBaseLockMgr

TBaseLockMgr::TBaseLockMgr(plat::TFile* LockFileHandle, uint64_t BaseAddress, uint32_t RegionSize)
    : LockFileHandle_(LockFileHandle),
      Locks_(std::make_unique<TLockCollection>()),
      RegionSize_(RegionSize),
      BaseAddress_(BaseAddress) {
  PLAT_ASSERT(LockFileHandle != nullptr, "TBaseLockMgr.Create: no lock file handle");
  PLAT_ASSERT(RegionSize > 0, "TBaseLockMgr.Create: region size must be positive");
}

TBaseLockMgr::~TBaseLockMgr() {
  // A descendant has released its locks already; the base has none to drop.
  Locks_->Clear();
}

std::unique_ptr<TBaseLockMgr> TBaseLockMgr::GetLockManager(plat::TFile* LockFileHandle,
                                                           uint64_t BaseAddress,
                                                           uint32_t RegionSize) {
  return std::make_unique<TWinLockMgr>(LockFileHandle, BaseAddress, RegionSize);
}

bool TBaseLockMgr::InternalReleaseFileLock(uint64_t, uint32_t) {
  return false;
}
bool TBaseLockMgr::InternalLockFile(uint64_t, uint32_t, int32_t) {
  return false;
}
bool TBaseLockMgr::InternalUpgradeReadLock(uint32_t, uint32_t) {
  return false;
}

uint64_t TBaseLockMgr::GetCalculatedLockAddr(uint32_t ID) const {
  if (RegionSize_ < 2) return BaseAddress_ + ID;
  return BaseAddress_ + uint64_t{ID} * RegionSize_;
}

TLockItem* TBaseLockMgr::Record(uint32_t ID, uint64_t Addr, uint32_t Size, int32_t Type) {
  auto* item = static_cast<TLockItem*>(Locks_->Add());
  item->RqID = ID;
  item->LckAddr = Addr;
  item->LckSize = Size;
  item->LckType = Type;
  return item;
}

TLockItem* TBaseLockMgr::FindLock(uint32_t ID, int32_t Type) const {
  for (int32_t i = 0; i < Locks_->Count(); ++i) {
    TLockItem* item = Locks_->Items(i);
    if (item->RqID == ID && (Type == ltNone || item->LckType == Type)) return item;
  }
  return nullptr;
}

void TBaseLockMgr::PauseAfterFailedTry() const {
  if (BeepOnLockRetry_) {
    std::fputc('\a', stderr);
    std::fflush(stderr);
  }
  plat::Sleep(static_cast<uint32_t>(std::max(LockRetryInterval_, 0)));
}

template <class AddrFn>
bool TBaseLockMgr::LockWithRetries(uint32_t ID, uint32_t Size, int32_t Type, AddrFn Where) {
  // At least one try, whatever the configured count.
  const int32_t tries = std::max(LockRetryCount_, 1);
  for (int32_t attempt = 1;; ++attempt) {
    const uint64_t addr = Where();
    if (InternalLockFile(addr, Size, Type)) {
      Record(ID, addr, Size, Type);
      return true;
    }
    if (attempt >= tries) return false;
    // No pause after the last try: nothing follows it.
    PauseAfterFailedTry();
  }
}

bool TBaseLockMgr::SetReadLock(uint32_t ID, uint32_t Size) {
  static const char* const kContext = "TBaseLockMgr.SetReadLock";
  // A write lock covers reading: asking this handle for a byte of a region
  // it holds whole could only time out against itself.
  if (FindLock(ID, ltNone) != nullptr) return true;
  if (LockFileHandle_ == nullptr || !LockFileHandle_->IsOpen())
    ZelDatabaseError(0x2101, kContext, "", this);
  if (Size == 0) Size = 1;
  PLAT_ASSERT(Size <= RegionSize_, "TBaseLockMgr.SetReadLock: lock size exceeds the region");
  const uint64_t base = GetCalculatedLockAddr(ID);
  // Readers spread over the region so that they rarely meet; a reader that
  // draws a taken byte draws again on its next try.
  const uint32_t spread = RegionSize_ > 1 ? RegionSize_ - Size + 1 : 1;
  const bool locked = LockWithRetries(ID, Size, ltRead, [&] {
    return spread > 1 ? base + static_cast<uint32_t>(plat::Random(static_cast<int32_t>(spread)))
                      : base;
  });
  if (!locked) ZelDatabaseError(0x2809, kContext, ReadLockErrMsg_, this);
  return true;
}

int32_t TBaseLockMgr::SetWriteLock(uint32_t ID, uint32_t Size) {
  static const char* const kContext = "TBaseLockMgr.SetWriteLock";
  if (LockFileHandle_ == nullptr || !LockFileHandle_->IsOpen())
    ZelDatabaseError(0x2102, kContext, "File handle is invalid", this);
  PLAT_ASSERT(Size <= RegionSize_, "TBaseLockMgr.SetWriteLock: lock size exceeds the region");
  if (LockExists(ID, ltWrite)) return ltWrite;
  if (TLockItem* read = FindLock(ID, ltRead)) {
    UpgradeReadLockToWriteLock(ID, read->LckSize);
    return ltWrite;
  }
  if (Size == 0) Size = RegionSize_;
  const uint64_t addr = GetCalculatedLockAddr(ID);
  if (!LockWithRetries(ID, Size, ltWrite, [addr] { return addr; }))
    ZelDatabaseError(0x2809, kContext, WriteLockErrMsg_, this);
  return ltWrite;
}

void TBaseLockMgr::UpgradeReadLockToWriteLock(uint32_t ID, uint32_t Size) {
  if (!InternalUpgradeReadLock(ID, Size))
    ZelDatabaseError(0x2809, "TBaseLockMgr.UpgradeReadLockToWriteLock", WriteLockErrMsg_, this);
}

void TBaseLockMgr::ReleaseLock(uint32_t ID) {
  for (int32_t i = Locks_->Count() - 1; i >= 0; --i) {
    TLockItem* item = Locks_->Items(i);
    if (item->RqID != ID) continue;
    InternalReleaseFileLock(item->LckAddr, item->LckSize);
    Locks_->Delete(i);
  }
}

void TBaseLockMgr::ReleaseUpgrade(uint32_t ID) {
  if (FindLock(ID, ltRead) == nullptr) return;
  for (int32_t i = Locks_->Count() - 1; i >= 0; --i) {
    TLockItem* item = Locks_->Items(i);
    if (item->RqID != ID || item->LckType != ltWrite) continue;
    InternalReleaseFileLock(item->LckAddr, item->LckSize);
    Locks_->Delete(i);
  }
}

void TBaseLockMgr::ReleaseAllLocks() {
  for (int32_t i = Locks_->Count() - 1; i >= 0; --i) {
    TLockItem* item = Locks_->Items(i);
    InternalReleaseFileLock(item->LckAddr, item->LckSize);
  }
  Locks_->Clear();
}

void TBaseLockMgr::UpgradeReadLocks() {
  struct TRequest {
    uint32_t ID;
    uint32_t Size;
  };
  std::vector<TRequest> requests;
  requests.reserve(static_cast<size_t>(Locks_->Count()));
  for (int32_t i = 0; i < Locks_->Count(); ++i)
    requests.push_back({Locks_->Items(i)->RqID, Locks_->Items(i)->LckSize});
  for (const TRequest& request : requests) SetWriteLock(request.ID, request.Size);
}

int32_t TBaseLockMgr::QueryLockType(uint32_t ID) const {
  const TLockItem* item = FindLock(ID, ltNone);
  return item != nullptr ? item->LckType : ltNone;
}

bool TBaseLockMgr::LockExists(uint32_t ID, int32_t Type) const {
  return FindLock(ID, Type) != nullptr;
}

void TBaseLockMgr::DebugDumpStatus(plat::TStrings& List) const {
  for (int32_t i = 0; i < Locks_->Count(); ++i) {
    const TLockItem* item = Locks_->Items(i);
    List.Add(plat::Format("Lock %d: Addr %d Size %d Type %d",
                          {i, static_cast<int64_t>(item->LckAddr), item->LckSize, item->LckType}));
  }
}

// ---------------------------------------------------------------- TWinLockMgr

TWinLockMgr::~TWinLockMgr() {
  ReleaseAllLocks();
}

bool TWinLockMgr::InternalReleaseFileLock(uint64_t Addr, uint32_t Size) {
  return LockFileHandle_->UnlockRange(Addr, Size);
}

bool TWinLockMgr::InternalLockFile(uint64_t Addr, uint32_t Size, int32_t) {
  // The platform's range locks are exclusive: a reader's share of a region is
  // its own byte, not a shared lock.
  return LockFileHandle_->LockRange(Addr, Size);
}

bool TWinLockMgr::InternalUpgradeReadLock(uint32_t ID, uint32_t) {
  const TLockItem* read = FindLock(ID, ltRead);
  if (read == nullptr) return false;
  const uint64_t regionStart = GetCalculatedLockAddr(ID);
  const uint64_t regionEnd = regionStart + RegionSize_;
  const uint64_t readStart = read->LckAddr;
  const uint64_t readEnd = read->LckAddr + read->LckSize;
  const int32_t before = Locks_->Count();
  if (readStart > regionStart &&
      !LockWithRetries(ID, static_cast<uint32_t>(readStart - regionStart), ltWrite,
                       [regionStart] { return regionStart; }))
    return false;
  if (readEnd < regionEnd && !LockWithRetries(ID, static_cast<uint32_t>(regionEnd - readEnd),
                                              ltWrite, [readEnd] { return readEnd; })) {
    // Give back the first part and its record: what stays is exactly the
    // read lock, so nobody takes this lock for a write lock later.
    for (int32_t i = Locks_->Count() - 1; i >= before; --i) {
      TLockItem* item = Locks_->Items(i);
      InternalReleaseFileLock(item->LckAddr, item->LckSize);
      Locks_->Delete(i);
    }
    return false;
  }
  return true;
}

}  // namespace zel
