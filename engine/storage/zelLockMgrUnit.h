#pragma once
// The lock file, its user monitor and the lock managers: how several
// processes share one database file.
//
// Lock file layout:
//   0x0000..0x0FFF  header page, all zero; byte 0 is the file's mutex
//   0x1000 + 4096*k user slot k: the connection text ("computer,user" as
//                   comma text), NUL-terminated, then zeros; a first byte of 0
//                   marks a free slot
// The file stays below 0x400000 bytes. Every lock lies beyond its end:
//   0x400000 + S    the 4096-byte lock range of the slot at offset S; each
//                   live connection of that computer and user holds one byte
//   0x800000        table locks, 0x2000 bytes per table ID (ID 0 = the
//                   database header)
//   0x1FFE000       transaction locks, one byte per table ID
//   0x2000000       record locks, one byte per record address
// Byte 0x2000 of the database file itself is the parent lock that guards the
// creation and deletion of the lock file.
//
// The operating system drops the byte locks of a process that dies, so
// whether something is still in use is always asked by trying to lock it.
//
// Rules that keep all processes of one database on one lock file:
//  1. The lock file is created only under the parent lock, after checking
//     again that it does not exist.
//  2. It is deleted only while its mutex and the parent lock are both held.
//  3. Open checks, once it holds the mutex, that its handle still is the file
//     at the path (device and inode); when not, it starts again.
//  4. The parent lock is taken either alone (Open) or inside the mutex
//     (Close), never the other way round, so the two cannot deadlock.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/os/FileSystem.h"
#include "platform/rtl/Collections.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Object.h"

namespace zel {

// Lock types.
inline constexpr int32_t ltNone = 0;
inline constexpr int32_t ltRead = 1;
inline constexpr int32_t ltWrite = 4;

// Lock file geometry and lock regions.
inline constexpr int32_t LockFileSlotSize = 4096;
inline constexpr int64_t LockFileMaxSize = 0x400000;
inline constexpr uint64_t UserSlotLockBase = 0x400000;
inline constexpr uint64_t TableLockBase = 0x800000;
inline constexpr uint32_t TableLockRegion = 0x2000;
inline constexpr uint64_t TransactionLockBase = 0x1FFE000;
inline constexpr uint64_t RecordLockBase = 0x2000000;
inline constexpr uint64_t ParentLockOffset = 0x2000;

// Keeps one connection's slot in the lock file. Invariants: LockFile_ is open
// exactly while the monitor is open; SlotLockOffset_ is 0 or a byte this
// monitor's handle holds; MutexDepth_ counts the nested holders of the
// mutex, which is locked exactly while it is positive.
class TDBUserMonitor : public plat::TObject {
 public:
  // DatabaseHandle may be null: the parent lock is then skipped.
  TDBUserMonitor(plat::TFile* DatabaseHandle, std::string LockFileName);
  TDBUserMonitor(const TDBUserMonitor&) = delete;
  TDBUserMonitor& operator=(const TDBUserMonitor&) = delete;
  ~TDBUserMonitor() override;

  std::string ClassName() const override { return "TDBUserMonitor"; }

  void Open(const std::string& UserName, const std::string& ComputerName);
  void Close();
  bool IsOpen() const { return LockFile_->IsOpen(); }

  // One line per slot: its text, empty for a free slot.
  void GetCurrentUsers(plat::TStrings& List);
  // Slots with at least one live connection.
  int32_t GetCurrentUserCount();
  // Live connections over all slots, this one included.
  int32_t GetCurrentConnectionCount();
  // Bytes of the 4096-byte lock range from RangeStart that cannot be locked,
  // each a live connection (those of this handle included).
  int32_t CountConnectionsForUser(uint64_t RangeStart);
  // Zeroes every slot whose whole lock range can be locked (its connections
  // are gone); returns the number of slots still in use.
  int32_t SweepLockFile();
  void DebugDumpStatus(plat::TStrings& List);

  const std::string& UserEntry() const { return UserEntry_; }
  const std::string& LockFileName() const { return LockFileName_; }
  // The byte this connection holds, 0 when none.
  uint64_t SlotLockOffset() const { return SlotLockOffset_; }
  // The lock file's handle, on which the lock managers lock their regions.
  plat::TFile* LockFileHandle() { return LockFile_.get(); }
  const std::string& LockErrMsg() const { return LockErrMsg_; }
  void SetLockErrMsg(const std::string& Value) { LockErrMsg_ = Value; }

 private:
  class TMutexGuard;
  class TParentLockGuard;

  // One try, then up to 20 more 100 ms apart; false when all failed.
  static bool LockWithRetries(plat::TFile& File, uint64_t Offset, uint64_t Length);
  void LockMutex(const char* Context);
  void UnlockMutex();
  // Tries once, or raises; false only without a database handle.
  bool LockParent(const char* Context);
  void UnlockParent();
  // As LockParent, but answers false instead of raising; needs a handle.
  bool TryLockParent();

  void CreateLockFileIfMissing();
  // True when LockFile_ still is the file at LockFileName_.
  bool HandleIsCurrentFile();
  int64_t LockFileSize(const char* Context);
  // Reads the slot at Offset into SlotBuffer_ (zeros past the end of the
  // file) and returns its text.
  std::string ReadSlot(int64_t Offset, const char* Context);
  void WriteSlot(int64_t Offset, const std::string& Text, const char* Context);
  // Offset of this connection's slot, registering it when absent.
  int64_t FindOrAddSlot(const char* Context);
  int64_t FindSlot(const char* Context);
  void LockSlotByte(int64_t SlotOffset);
  // Zeroes the slot when its whole range can be locked; true when it was.
  bool FreeSlotIfUnused(int64_t SlotOffset, const char* Context);
  void CloseHandle();
  int32_t CountLockedBytes(uint64_t Start, uint64_t Length);

  plat::TFile* DatabaseHandle_;
  std::string LockFileName_;
  std::string UserEntry_;
  // Made by the installed file system when the monitor is made.
  std::unique_ptr<plat::TFile> LockFile_;
  uint64_t SlotLockOffset_ = 0;
  // A slot's bytes plus a terminating zero.
  std::unique_ptr<char[]> SlotBuffer_;
  std::string LockErrMsg_;
  int32_t MutexDepth_ = 0;
};

// One lock a manager holds: LckSize bytes from LckAddr, of type LckType, on
// behalf of RqID (a table ID or a record address).
class TLockItem : public plat::TCollectionItem {
 public:
  explicit TLockItem(plat::TCollection* Collection) : plat::TCollectionItem(Collection) {}
  std::string ClassName() const override { return "TLockItem"; }

  uint32_t LckSize = 0;
  int32_t LckType = ltNone;
  uint64_t LckAddr = 0;
  uint32_t RqID = 0;
};

class TLockCollection : public plat::TCollection {
 public:
  TLockCollection() : plat::TCollection(plat::CollectionItemClass<TLockItem>()) {}
  std::string ClassName() const override { return "TLockCollection"; }

  TLockItem* Items(int32_t Index) const {
    return static_cast<TLockItem*>(plat::TCollection::Items(Index));
  }
};

// The locks of one kind (table, record or transaction) that this connection
// holds, each recorded as an item. Invariant: every recorded item is a range
// the lock file's handle holds, and nothing else of this manager's regions
// is held.
class TBaseLockMgr : public plat::TObject {
 public:
  TBaseLockMgr(plat::TFile* LockFileHandle, uint64_t BaseAddress, uint32_t RegionSize);
  TBaseLockMgr(const TBaseLockMgr&) = delete;
  TBaseLockMgr& operator=(const TBaseLockMgr&) = delete;
  // Releases every lock still held.
  ~TBaseLockMgr() override;

  std::string ClassName() const override { return "TBaseLockMgr"; }

  // The manager of the platform's byte-range locks.
  static std::unique_ptr<TBaseLockMgr> GetLockManager(plat::TFile* LockFileHandle,
                                                      uint64_t BaseAddress, uint32_t RegionSize);

  // True, or raises 0x2809 once every try failed.
  bool SetReadLock(uint32_t ID, uint32_t Size);
  // ltWrite, or raises 0x2809. A read lock of ID is upgraded.
  int32_t SetWriteLock(uint32_t ID, uint32_t Size);
  void UpgradeReadLockToWriteLock(uint32_t ID, uint32_t Size);
  void ReleaseLock(uint32_t ID);
  // Gives back what an upgrade added to ID's read lock, so that exactly the
  // read lock stays; nothing happens to a lock that was not upgraded.
  void ReleaseUpgrade(uint32_t ID);
  void ReleaseAllLocks();
  // Every read lock becomes a write lock (raises when one cannot).
  void UpgradeReadLocks();

  // The type of the first recorded lock of ID, ltNone when none; an upgraded
  // read lock still answers ltRead.
  int32_t QueryLockType(uint32_t ID) const;
  bool LockExists(uint32_t ID, int32_t Type) const;
  int32_t GetLockCount() const { return Locks_->Count(); }
  uint64_t GetCalculatedLockAddr(uint32_t ID) const;
  void DebugDumpStatus(plat::TStrings& List) const;

  const TLockCollection& Locks() const { return *Locks_; }
  uint64_t BaseAddress() const { return BaseAddress_; }
  uint32_t RegionSize() const { return RegionSize_; }
  int32_t LockRetryCount() const { return LockRetryCount_; }
  void SetLockRetryCount(int32_t Value) { LockRetryCount_ = Value; }
  int32_t LockRetryInterval() const { return LockRetryInterval_; }
  void SetLockRetryInterval(int32_t Value) { LockRetryInterval_ = Value; }
  bool BeepOnLockRetry() const { return BeepOnLockRetry_; }
  void SetBeepOnLockRetry(bool Value) { BeepOnLockRetry_ = Value; }
  const std::string& ReadLockErrMsg() const { return ReadLockErrMsg_; }
  void SetReadLockErrMsg(const std::string& Value) { ReadLockErrMsg_ = Value; }
  const std::string& WriteLockErrMsg() const { return WriteLockErrMsg_; }
  void SetWriteLockErrMsg(const std::string& Value) { WriteLockErrMsg_ = Value; }

 protected:
  // The platform's primitives; this base class has none and answers false.
  virtual bool InternalReleaseFileLock(uint64_t Addr, uint32_t Size);
  virtual bool InternalLockFile(uint64_t Addr, uint32_t Size, int32_t Type);
  virtual bool InternalUpgradeReadLock(uint32_t ID, uint32_t Size);

  // Up to LockRetryCount tries of InternalLockFile at the address Where()
  // gives for each try; records the item on success.
  template <class AddrFn>
  bool LockWithRetries(uint32_t ID, uint32_t Size, int32_t Type, AddrFn Where);
  TLockItem* Record(uint32_t ID, uint64_t Addr, uint32_t Size, int32_t Type);
  TLockItem* FindLock(uint32_t ID, int32_t Type) const;
  void PauseAfterFailedTry() const;

  plat::TFile* LockFileHandle_;
  std::unique_ptr<TLockCollection> Locks_;
  uint32_t RegionSize_;
  bool BeepOnLockRetry_ = false;
  int32_t LockRetryCount_ = 10;
  int32_t LockRetryInterval_ = 200;
  uint64_t BaseAddress_;
  std::string WriteLockErrMsg_;
  std::string ReadLockErrMsg_;
};

// Byte-range locks of the platform on the lock file.
class TWinLockMgr : public TBaseLockMgr {
 public:
  using TBaseLockMgr::TBaseLockMgr;
  ~TWinLockMgr() override;
  std::string ClassName() const override { return "TWinLockMgr"; }

 protected:
  bool InternalReleaseFileLock(uint64_t Addr, uint32_t Size) override;
  bool InternalLockFile(uint64_t Addr, uint32_t Size, int32_t Type) override;
  // Locks the rest of the read lock's region around the byte it holds.
  bool InternalUpgradeReadLock(uint32_t ID, uint32_t Size) override;
};

}  // namespace zel
