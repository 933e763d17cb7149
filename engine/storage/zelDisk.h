#pragma once
// The paged database file: page caches (zelDiskCache.h), the file with its
// routing and page encryption (zelDiskFile.h), the global header and page map
// (zelDiskMap.h), and the disk manager, the storage engine's door to one
// database file.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/zelDiskCache.h"
#include "engine/storage/zelDiskFile.h"
#include "engine/storage/zelDiskMap.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Object.h"

namespace zel {

// OpenFlags: access in bits 0 to 2, sharing in bits 4 to 6.
inline constexpr int32_t ofReadOnly = 0x00;
inline constexpr int32_t ofWrite = 0x01;
inline constexpr int32_t ofReadWrite = 0x02;
inline constexpr int32_t ofExclusive = 0x10;
inline constexpr int32_t ofShared = 0x40;

// One database file. Invariants: GlobalHdr and MapPageMgr exist exactly
// while the file is open (or being created); HeaderWriteLocked implies
// HeaderReadLocked.
class TDiskMgr : public plat::TObject {
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

  // Creates the file with its system area and first map page; leaves it
  // closed.
  void CreateNewFile();
  void Open();
  void Close();

  // The file's size, or its logical end during a transaction.
  int64_t GetFileSize();

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

  void ReadHeader();
  void WriteHeader();
  void SetHeaderReadLock();
  void SetHeaderWriteLock();
  void ReleaseHeaderLock();

  void DiskStartTransaction(bool Skip);
  void DiskCommit();
  void DiskRollback();
  bool IsTransactionActive() const { return File_->GetTransactionActive(); }

 private:
  class THeaderWriteScope;

  void CheckPageSize(const char* Context) const;
  void CheckPageCount(int32_t Count, const char* Context) const;
  void CreateHeaderObjects();
  void FreeHeaderObjects();

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
  // One page of zeros that released pages are overwritten with.
  std::vector<uint8_t> ZeroPage_;
};

}  // namespace zel
