#pragma once
// The paged database file: page caches (zelDiskCache.h), the file with its
// routing and page encryption (zelDiskFile.h), the global header and page map
// (zelDiskMap.h), and the disk manager, the storage engine's door to one
// database file.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/zelApi.h"
#include "engine/storage/zelDiskCache.h"
#include "engine/storage/zelDiskFile.h"
#include "engine/storage/zelDiskMap.h"
#include "engine/storage/zelLockMgrUnit.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Object.h"

namespace zel {

// OpenFlags: access in bits 0 to 2, sharing in bits 4 to 6.
inline constexpr int32_t ofReadOnly = 0x00;
inline constexpr int32_t ofWrite = 0x01;
inline constexpr int32_t ofReadWrite = 0x02;
inline constexpr int32_t ofExclusive = 0x10;
inline constexpr int32_t ofShared = 0x40;

// The security header: 40 bytes at file offset 0x300, written and read past
// the page cache.
//   0x00 u32 size (40)   0x04 f64 creation time   0x0C u16 1   0x0E u16 1
//   0x10 SHA-1 digest of the master key, five u32 words
//   0x24 u32 CRC-32 of the 40 bytes with this field 0
inline constexpr uint32_t SecurityHeaderAddress = 0x300;
inline constexpr int32_t SecurityHeaderSize = 40;
inline constexpr int32_t shSize = 0x00;
inline constexpr int32_t shCreationTime = 0x04;
inline constexpr int32_t shWord0C = 0x0C;
inline constexpr int32_t shWord0E = 0x0E;
inline constexpr int32_t shDigest = 0x10;
inline constexpr int32_t shCRC = 0x24;

struct TSecurityHeader {
  uint32_t Size = SecurityHeaderSize;
  double CreationTime = 0;
  uint16_t Word0C = 1;
  uint16_t Word0E = 1;
  TSha1Digest Digest = {};
  uint32_t CRC = 0;
};

// The header's 40 bytes, and back.
void StoreSecurityHeader(const TSecurityHeader& Header, uint8_t* Buf);
void LoadSecurityHeader(const uint8_t* Buf, TSecurityHeader& Header);

// One database file. Invariants: GlobalHdr and MapPageMgr exist exactly
// while the file is open (or being created); HeaderWriteLocked implies
// HeaderReadLocked; the user monitor and the three lock managers exist
// together, only while a file that takes locks is open, and the header flags
// are set only while the table lock manager (when there is one) holds a lock
// of table 0.
class ZEL_API TDiskMgr : public plat::TObject {
 public:
  TDiskMgr();
  TDiskMgr(const TDiskMgr&) = delete;
  TDiskMgr& operator=(const TDiskMgr&) = delete;
  ~TDiskMgr() override;

  std::string ClassName() const override { return "TDiskMgr"; }

  TZelFile& File() { return *File_; }
  int32_t PageSize() const { return PageSize_; }
  void SetPageSize(int32_t Value) { PageSize_ = Value; }
  int32_t OpenFlags() const { return OpenFlags_; }
  void SetOpenFlags(int32_t Value) { OpenFlags_ = Value; }
  const std::string& FileName() const { return FileName_; }
  void SetFileName(const std::string& Value) { FileName_ = Value; }
  TGlobalHdr* GlobalHdr() const { return GlobalHdr_.get(); }
  TMapPageMgr* MapPageMgr() const { return MapPageMgr_.get(); }
  plat::TStrings* DebugStrings() const { return DebugStrings_; }
  void SetDebugStrings(plat::TStrings* Value) { DebugStrings_ = Value; }
  bool Exclusive() const { return Exclusive_; }
  bool ReadOnly() const { return ReadOnly_; }
  void SetReadOnly(bool Value) { ReadOnly_ = Value; }
  bool HeaderReadLocked() const { return HeaderReadLocked_; }
  bool HeaderWriteLocked() const { return HeaderWriteLocked_; }
  int32_t LockRetryInterval() const { return LockRetryInterval_; }
  void SetLockRetryInterval(int32_t Ms) { LockRetryInterval_ = Ms; }
  int32_t LockRetryCount() const { return LockRetryCount_; }
  void SetLockRetryCount(int32_t N) { LockRetryCount_ = N; }
  bool UseLocks() const { return UseLocks_; }
  bool SkipTransactionLock() const { return SkipTransactionLock_; }
  bool IsOpen() const { return File_->CheckOpen() && GlobalHdr_ != nullptr; }
  TDBUserMonitor* UserMonitor() const { return UserMonitor_.get(); }
  TBaseLockMgr* TableLockMgr() const { return TableLockMgr_.get(); }
  TBaseLockMgr* RecordLockMgr() const { return RecordLockMgr_.get(); }
  TBaseLockMgr* TransactionLockMgr() const { return TransactionLockMgr_.get(); }
  const std::string& MasterKey() const { return MasterKey_; }

  // The lock file of a database file: the extension ".zel" (in any case)
  // becomes ".lck"; with any other name every "." of the name becomes "_"
  // before ".lck" is added (orders.dat gets orders_dat.lck).
  static std::string GetLockFileName(const std::string& DatabaseName);

  // Creates the file with its system area and first map page; leaves it
  // closed.
  void CreateNewFile();
  void Open();
  void Close();

  // The file's size, or its logical end during a transaction.
  int64_t GetFileSize();
  // GetFileSize as last seen when that reaches End (see TZelFile::SizeCovering).
  int64_t FileSizeCovering(uint64_t End);
  void CopyCurrentFile(const std::string& Name);
  static bool DoCopyFile(const std::string& Source, const std::string& Target, bool FailIfExists);
  // Bytes held by the page cache, 0 when closed.
  int64_t DiskCacheSize();
  // Writes what a running transaction changed and goes on with it (its locks
  // kept), then flushes the file's buffers.
  void ForceToDisk();

  void ReadPages(uint32_t Address, int32_t Count, void* Buffer, uint32_t TableID,
                 uint32_t AccessFlags);
  void WritePages(uint32_t Address, int32_t Count, const void* Buffer, uint32_t TableID,
                  uint32_t AccessFlags);
  // Writes Count pages at the end of the file; returns their address.
  uint32_t AppendNewPages(const void* Buffer, int32_t Count, uint32_t TableID,
                          uint32_t AccessFlags);
  // Takes Count pages for the owner (TableID shl 4) or Usage, free ones when
  // the map has a run, else new ones at the end, and writes Buffer there.
  uint32_t WriteNewPages(uint32_t TableID, uint32_t AccessFlags, int32_t Count, const void* Buffer,
                         uint32_t Usage);
  void ReleasePages(uint32_t Address, int32_t Count);
  void DeleteOwnedPages(uint32_t TableID, uint32_t Usage, bool Exact);
  // Any size at any address; the ByRef forms (cached accesses only) hand out
  // or take back a pointer into the page cache.
  void ReadCustomSize(uint32_t Address, int32_t Size, uint32_t TableID, uint32_t AccessFlags,
                      void* Buffer);
  void WriteCustomSize(uint32_t Address, int32_t Size, uint32_t TableID, uint32_t AccessFlags,
                       const void* Buffer);
  void ReadCustomSizeByRef(uint32_t Address, int32_t Size, uint32_t TableID, uint32_t AccessFlags,
                           uint8_t*& Pointer);
  void WriteCustomSizeByRef(uint32_t Address, int32_t Size, uint32_t TableID, uint32_t AccessFlags,
                            const void* Buffer);
  // The notes the page cache keeps with the page at Address, if it has it.
  TPageNotes* PageNotes(uint32_t Address, uint32_t TableID, uint32_t AccessFlags);
  // Clears List and adds the address of every block of a fixed-size store:
  // the store takes pages in runs of GetBestPageRequestSize bytes and packs
  // blocks from the start of each run.
  void ListAllocatedFixedBlocks(uint32_t BlockSize, uint32_t TableID, uint32_t Usage,
                                std::vector<uint32_t>& List);
  // The bytes a store of BlockSize blocks requests at a time: one page's
  // worth when little is wasted, else the run of up to ten times that which
  // leaves the smallest rest.
  static uint32_t GetBestPageRequestSize(uint32_t BlockSize, uint32_t PageSize);

  void ReadHeader();
  void WriteHeader();
  void SetHeaderReadLock();
  void SetHeaderWriteLock();
  void ReleaseHeaderLock();
  // The digest check of ReadSecurityHeader compares with MasterKey.
  void ReadSecurityHeader(TSecurityHeader& Header);
  void WriteSecurityHeader(TSecurityHeader& Header);
  // The master key, and the Blowfish key of strongly encrypted tables; an
  // empty key stands for the built-in default key.
  void SetCryptKey(const std::string& Key);

  void DiskStartTransaction(bool Skip);
  void DiskCommit();
  void DiskRollback();
  bool IsTransactionActive() const { return File_->GetTransactionActive(); }

  // Lock types ltRead and ltWrite. Without locks every request is granted as
  // asked and every query answers ltRead. Inside a transaction a table or
  // record lock first takes the table's transaction lock, a table write lock
  // is granted as a read lock (commit upgrades it), and releases wait for
  // the end of the transaction.
  int32_t SetTableLock(uint32_t TableID, int32_t LockType);
  void ReleaseTableLock(uint32_t TableID);
  int32_t QueryTableLockStatus(uint32_t TableID) const;
  // This handle holds a lock of the table (inside a transaction it is kept
  // until the end); no other process can commit to the table meanwhile.
  bool TableLockHeld(uint32_t TableID) const;
  // The file handle's change stamp (TZelFile::ChangeStamp).
  uint64_t ChangeStamp() const { return File_->ChangeStamp(); }
  // Read holds (a statement's run): while one is open, outside a
  // transaction, a table read lock that a cursor gives back is kept, and a
  // cursor that asks again takes it over at no cost; the change stamp stays.
  // When the last hold ends the kept locks go. A write lock asked for a
  // table whose read lock only the hold keeps starts from no lock, as it
  // would without the hold, so that two processes that both hold and both
  // want to write cannot wait on each other.
  void BeginReadHold() { ++ReadHoldDepth_; }
  void EndReadHold();
  int32_t SetRecordLock(uint32_t RecordAddress, uint32_t TableID);
  void ReleaseRecordLock(uint32_t RecordAddress);
  int32_t QueryRecordLockStatus(uint32_t RecordAddress) const;
  // Every lock of the three managers, the header lock included.
  void ReleaseAllLocks();
  // One line per slot of the lock file; 0x2905 for a file without locks.
  void GetCurrentUsers(plat::TStrings& List);

 private:
  class THeaderWriteScope;
  class THeaderReadScope;

  // Size, or the engine error for a size the file would not give.
  int64_t CheckedFileSize(int64_t Size);

  void CheckPageSize(const char* Context) const;
  void CheckPageCount(int32_t Count, const char* Context) const;
  void CreateHeaderObjects();
  void FreeHeaderObjects();
  void OpenLocks();
  void CloseLocks();
  bool LocksActive() const;
  // Removes TableID from the tables only a read hold keeps; whether it was
  // there.
  bool TakeHeldReadLock(uint32_t TableID);
  void CheckSize(int32_t Size, const char* Context) const;

  std::unique_ptr<TZelFile> File_;
  int32_t PageSize_ = 0;
  int32_t OpenFlags_ = ofReadWrite | ofShared;
  std::string FileName_;
  std::unique_ptr<TGlobalHdr> GlobalHdr_;
  std::unique_ptr<TMapPageMgr> MapPageMgr_;
  plat::TStrings* DebugStrings_ = nullptr;
  bool Exclusive_ = false;
  bool ReadOnly_ = false;
  bool HeaderReadLocked_ = false;
  bool HeaderWriteLocked_ = false;
  int32_t LockRetryInterval_ = 200;
  int32_t LockRetryCount_ = 10;
  bool UseLocks_ = false;
  bool SkipTransactionLock_ = false;
  std::unique_ptr<TDBUserMonitor> UserMonitor_;
  std::unique_ptr<TBaseLockMgr> TableLockMgr_;
  std::unique_ptr<TBaseLockMgr> RecordLockMgr_;
  std::unique_ptr<TBaseLockMgr> TransactionLockMgr_;
  std::string MasterKey_;
  // Open read holds, and the tables whose read lock only they keep.
  int32_t ReadHoldDepth_ = 0;
  std::vector<uint32_t> HeldReadTables_;
  // One page of zeros that released pages are overwritten with.
  std::vector<uint8_t> ZeroPage_;
};

}  // namespace zel
