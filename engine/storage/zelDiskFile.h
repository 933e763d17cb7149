#pragma once
// The open database file. It is the only class that reads or writes the
// file; every access names an owner (table ID) and access flags and is routed
// to the page cache (cache A), to the transaction cache (cache B) or straight
// to the file. Pages are encrypted on their way from cache A to the disk and
// decrypted on the way back.
//
// Access flags: 1 use the page cache, 2 XOR scrambling, 4 Blowfish (XOR wins
// when both are set). Tables use 1, 3 or 5.
//
// Invariants:
//  1. ScratchBuffer holds PageSize bytes exactly while the file is open.
//  2. TransactionActive only while open; TransactionFileEnd is 0 outside a
//     transaction and, inside one, at least the file's size when it began.
//  3. A page whose access flags ask for encryption reaches the disk only
//     through the page-write callback, which encrypts it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/zelCrypt.h"
#include "engine/storage/zelDiskCache.h"
#include "engine/storage/zelDiskJournal.h"
#include "platform/os/FileSystem.h"
#include "platform/rtl/Object.h"

namespace zel {

// Access flag bits.
inline constexpr uint32_t afCached = 1;
inline constexpr uint32_t afXOR = 2;
inline constexpr uint32_t afBlowfish = 4;

class TZelFile : public plat::TObject {
 public:
  TZelFile();
  TZelFile(const TZelFile&) = delete;
  TZelFile& operator=(const TZelFile&) = delete;
  ~TZelFile() override;

  std::string ClassName() const override { return "TZelFile"; }

  // 1 while the file is open, 0 when closed (the file system behind it need
  // not be the operating system's, so there is no descriptor to give).
  int32_t Handle() const;
  bool CheckOpen() const { return Handle() > 0; }

  bool OpenRead() const { return OpenRead_; }
  bool OpenWrite() const { return OpenWrite_; }
  bool OpenReadExclusive() const { return OpenReadExclusive_; }
  bool OpenWriteExclusive() const { return OpenWriteExclusive_; }
  void SetOpenRead(bool Value) { OpenRead_ = Value; }
  void SetOpenWrite(bool Value) { OpenWrite_ = Value; }
  void SetOpenReadExclusive(bool Value) { OpenReadExclusive_ = Value; }
  void SetOpenWriteExclusive(bool Value) { OpenWriteExclusive_ = Value; }
  int32_t PageSize() const { return PageSize_; }
  void SetPageSize(int32_t Value) { PageSize_ = Value; }
  bool CacheActive() const { return CacheActive_; }
  void SetCacheActive(bool Value) { CacheActive_ = Value; }
  bool GetTransactionActive() const { return CheckOpen() && TransactionActive_; }
  uint32_t TransactionFileEnd() const { return TransactionFileEnd_; }

  TCacheMgr& PageCache() { return *PageCache_; }
  // The open file itself: the lock file's parent lock is a byte lock on it.
  plat::TFile& OSFile() { return *File_; }
  TCacheBlockMgr& BlockCache() { return *BlockCache_; }
  TCacheMgr& TransactionCache() { return *TransactionCache_; }

  // Only while the file is closed.
  void SetXORKeyBuf(const void* Buf, int32_t Len);
  // At any time. A key longer than the cipher takes (56 bytes) is used up to
  // that length.
  void SetBlowKeyBuf(const void* Buf, int32_t Len);

  // Creates Name empty, read-write and exclusive; returns the handle, or 0 or
  // less when the file could not be created. With FailIfExists an existing
  // file is left alone and the call fails.
  int32_t CreateZelFile(const std::string& Name, bool FailIfExists = false);
  int32_t OpenZelFile(const std::string& Name);
  void CloseZelFile();

  int32_t SeekAndReadZelFile(void* Buf, uint32_t Position, int32_t Count, uint32_t TableID,
                             uint32_t AccessFlags);
  int32_t SeekAndWriteZelFile(const void* Buf, uint32_t Position, int32_t Count, uint32_t TableID,
                              uint32_t AccessFlags);
  // Cached accesses only: Pointer is set into the cached page.
  int32_t SeekAndReadZelFileByRef(uint32_t Position, int32_t Count, uint32_t TableID,
                                  uint32_t AccessFlags, uint8_t*& Pointer);
  // The notes kept with the page cached at Position, null when the access
  // does not go through the page cache or the page is not there.
  TPageNotes* PageNotes(uint32_t Position, uint32_t TableID, uint32_t AccessFlags) {
    return UsesPageCache(AccessFlags) ? PageCache_->PageNotes(TableID, 0, Position) : nullptr;
  }
  // The page cache an access of AccessFlags goes through, null when none.
  TCacheMgr* PageCacheFor(uint32_t AccessFlags) {
    return UsesPageCache(AccessFlags) ? PageCache_.get() : nullptr;
  }
  // Marks a page changed through such a pointer as written.
  int32_t SeekAndWriteZelFileByRef(const void* Buf, uint32_t Position, int32_t Count,
                                   uint32_t TableID, uint32_t AccessFlags);
  // The same for a whole page that the running transaction changed already,
  // found through its notes (TCacheMgr::RewriteDirtyByRef); false, nothing
  // done, when it is not such a page.
  bool RewriteDirtyPageByRef(TPageNotes& Notes, uint32_t Position, uint32_t TableID,
                             uint32_t AccessFlags);
  // Writes at the logical end of the file; returns the position written.
  uint32_t SeekAndAppendZelFile(const void* Buf, int32_t Count, uint32_t TableID,
                                uint32_t AccessFlags);
  // Uncached, unencrypted accesses for the file's own headers.
  int32_t ReadThroughZelFile(void* Buf, uint32_t Position, int32_t Count);
  int32_t WriteThroughZelFile(const void* Buf, uint32_t Position, int32_t Count);
  // Writes one whole page unencrypted and drops it from the page cache.
  void ReleasePage(uint32_t Position, const void* Buf);

  int64_t SeekZelBof() { return 0; }
  // The file's size, or the logical end during a transaction; -1 when the
  // size cannot be read.
  int64_t SeekZelEof();
  // SeekZelEof as last seen, when that reaches End; otherwise asked again.
  // For range checks of addresses read under a lock: what was seen is
  // forgotten whenever a lock is taken afresh, and when the file may have
  // shrunk (rollback, a commit played back).
  int64_t SizeCovering(uint64_t End);
  int64_t SeekZelPosition(int64_t Pos) { return Pos; }

  void StartTransaction();
  // The transaction's pages reach the file through the commit journal; with
  // Durable the journal and then the file are flushed to the disk before the
  // journal goes.
  void Commit(bool Durable = false);
  void Rollback();
  // Whether the transaction holds a change that its commit would write.
  bool HasPendingWrites() const {
    return PageCache_->HasDirtyPages() || BlockCache_->Count() > 0 ||
           TransactionCache_->HasDirtyPages();
  }
  // Off only in the benchmark that measures what the journal costs.
  void SetJournalled(bool Value) { Journalled_ = Value; }
  // Moves on with every write, transaction boundary and recovery through
  // this handle: what was read at an equal stamp is still what the file
  // holds, as long as no other process could write meanwhile.
  uint64_t ChangeStamp() const { return ChangeStamp_; }
  void NoteChange() { ++ChangeStamp_; }

  // Plays back the journal of a commit whose process died half-way, if
  // there is one; called as locks are taken, before pages are read.
  void RecoverJournal();

  void FlushBuffers();
  void CopyZelFile(const std::string& Name);

 private:
  // Closes the caches and the handle; CloseZelFile also drops the keys.
  void Shutdown(bool DropKeys);
  // Page callbacks of the two page caches.
  void ReadPage(uint8_t* Buffer, uint32_t Owner, uint32_t Upper, uint32_t Position,
                uint32_t AccessFlags);
  void WritePage(uint8_t* Buffer, uint32_t Owner, uint32_t Upper, uint32_t Position,
                 uint32_t AccessFlags);
  // Block callbacks: plain positioned reads and writes.
  void ReadBlockIO(uint8_t* Buffer, uint32_t Owner, uint32_t Size, uint32_t Upper,
                   uint32_t Position, uint32_t AccessFlags);
  void WriteBlockIO(uint8_t* Buffer, uint32_t Owner, uint32_t Size, uint32_t Upper,
                    uint32_t Position, uint32_t AccessFlags);
  void ReadPlain(void* Buf, uint32_t Position, int32_t Count, const char* Context);
  void WritePlain(const void* Buf, uint32_t Position, int32_t Count, const char* Context);
  // Scrambles or enciphers one page from Source into Target.
  void EncryptPage(const uint8_t* Source, uint8_t* Target, uint32_t Owner, uint32_t AccessFlags);
  void DecryptPage(const uint8_t* Source, uint8_t* Target, uint32_t Owner, uint32_t AccessFlags);
  void CryptPage(const uint8_t* Source, uint8_t* Target, uint32_t Owner, uint32_t AccessFlags,
                 bool Encrypt);
  // True when the access goes through cache A.
  bool UsesPageCache(uint32_t AccessFlags) const;
  // Refuses a range past the file size limit; logs a table ID out of range.
  void CheckAccess(uint32_t TableID, uint32_t Position, int32_t Count, const char* Context) const;

  // Puts a page or block write in place, or into Pending_ while a commit
  // gathers its writes.
  void WriteOut(const void* Buf, uint32_t Position, int32_t Count, const char* Context);

  // Made by the installed file system at each open or create.
  std::unique_ptr<plat::TFile> File_;
  std::unique_ptr<uint8_t[]> ScratchBuffer_;
  std::vector<uint8_t> XORKey_;
  std::vector<uint8_t> BlowKey_;
  uint32_t TransactionFileEnd_ = 0;
  // What SizeCovering saw last; 0 when forgotten.
  uint64_t SeenSize_ = 0;
  std::unique_ptr<TCacheMgr> PageCache_;
  std::unique_ptr<TCacheBlockMgr> BlockCache_;
  std::unique_ptr<TCacheMgr> TransactionCache_;
  bool OpenWrite_ = false;
  bool OpenRead_ = false;
  bool OpenReadExclusive_ = false;
  bool OpenWriteExclusive_ = false;
  int32_t PageSize_ = 4096;
  bool CacheActive_ = false;
  bool TransactionActive_ = false;
  TBlowfishData BlowfishData_ = {};
  std::string FileName_;
  // The writes of the commit under way, gathered before any is made.
  std::vector<TJournalWrite>* Pending_ = nullptr;
  bool Journalled_ = true;
  uint64_t ChangeStamp_ = 0;
};

}  // namespace zel
