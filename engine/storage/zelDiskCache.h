#pragma once
// Page caches of the database file. A page cache holds whole pages keyed by
// (upper address, lower address), fetches missing pages through a read
// callback and writes through a write callback: at once outside a transaction,
// at commit inside one. Victims are chosen by least recent use among clean
// pages; dirty pages are never evicted, so a transaction that touches more
// pages than the cache holds makes it grow. Finding a page, a free slot or
// the victim takes constant time: pages are found through an address table
// of their own, free slots through a bit per slot, and the pages in use are
// kept in a list in order of use. The cache knows nothing of
// encryption: the callbacks do that, driven by the access flags kept with
// each page.
//
// The block buffer (TCacheBlockMgr) holds blocks of any size during a
// transaction and writes them at commit.

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "engine/storage/zelCommon.h"
#include "platform/rtl/Collections.h"
#include "platform/rtl/Lists.h"

namespace zel {

enum TCachePageState : uint8_t { cpEmpty, cpClean, cpDirty };

// Moves one page between a cache and the file: buffer, owner (table ID),
// upper address, lower address (the page's file position), access flags.
using TIOTransferPageProc = std::function<void(uint8_t* Buffer, uint32_t Owner, uint32_t Upper,
                                               uint32_t Lower, uint32_t AccessFlags)>;
// Reads Count bytes of consecutive pages from the file at Lower, in plain;
// the number of bytes read, fewer (or -1) when the file would not give them.
using TIOReadRunProc = std::function<int64_t(uint8_t* Buffer, uint32_t Lower, int32_t Count)>;
// The same for a block of Size bytes.
using TIOTransferBlockProc =
    std::function<void(uint8_t* Buffer, uint32_t Owner, uint32_t Size, uint32_t Upper,
                       uint32_t Lower, uint32_t AccessFlags)>;

class TCacheMgr;
class TCachePage;

// What a reader worked out from a cached page's bytes (such as where its
// entries start), kept with the page so that the next reader need not work
// it out again. The cache drops it (Valid false) whenever the page's bytes
// change or the page leaves the cache.
struct TPageNotes {
  std::vector<int32_t> Offsets;
  bool Valid = false;
  // Taken anew whenever the page's bytes change or it comes in, from one
  // count for the whole process: a page that shows the stamp a reader saw
  // still holds the bytes that reader saw.
  uint64_t Stamp = 0;
  // The cached page these notes belong to (null for a store without a
  // page cache), so that a reader holding them finds the page again
  // without a lookup.
  TCachePage* Page = nullptr;
  // The page's bytes changed.
  void Drop() {
    Valid = false;
    Stamp = NewStamp();
  }
  static uint64_t NewStamp();
};

// One cached page. Invariant: Buffer holds PageSize bytes from Open until
// Close; a page whose State is not cpEmpty is in its cache's hash under
// (UpperAddress, LowerAddress), and an empty page is not.
class TCachePage : public THashCollectionItem {
 public:
  explicit TCachePage(plat::TCollection* Collection);
  ~TCachePage() override;

  std::string ClassName() const override { return "TCachePage"; }
  // "index,lower,upper, ID id".
  std::string DisplayName() const override;

  uint8_t* Buffer() const { return Buffer_; }
  uint32_t LowerAddress() const { return LowerAddress_; }
  uint32_t PageOwner() const { return PageOwner_; }
  int32_t PageSize() const { return PageSize_; }
  uint32_t LRUFlag() const { return LRUFlag_; }
  TCachePageState State() const { return State_; }
  uint32_t AccessFlags() const { return AccessFlags_; }
  uint32_t UpperAddress() const { return UpperAddress_; }
  bool RemoveAfterWrite() const { return RemoveAfterWrite_; }

  // Only while no buffer is allocated.
  void SetPageSize(int32_t Value);
  void SetRemoveAfterWrite(bool Value) { RemoveAfterWrite_ = Value; }

  // Allocates the zero-filled buffer of PageSize bytes.
  void OpenPage();
  // Frees the buffer; the page becomes empty.
  void ClosePage();

 private:
  friend class TCacheMgr;

  // Buffer_ is Owned_, or PageSize bytes of a block of its cache's.
  uint8_t* Buffer_ = nullptr;
  std::unique_ptr<uint8_t[]> Owned_;
  uint32_t LowerAddress_ = 0;
  uint32_t PageOwner_ = 0;
  int32_t PageSize_ = 0;
  uint32_t LRUFlag_ = 0;
  TCachePageState State_ = cpEmpty;
  uint32_t AccessFlags_ = 0;
  uint32_t UpperAddress_ = 0;
  bool RemoveAfterWrite_ = false;
  // The page's position in its cache (pages leave a cache only from the end).
  int32_t Slot_ = -1;
  // Listed in the cache's address table under (UpperAddress, LowerAddress).
  bool Keyed_ = false;
  // Neighbours in the cache's list of pages in use, least recent first.
  TCachePage* Older_ = nullptr;
  TCachePage* Newer_ = nullptr;
  bool Listed_ = false;
  // Neighbours among the clean pages of CleanOwner_, while InCleanList_.
  TCachePage* CleanPrev_ = nullptr;
  TCachePage* CleanNext_ = nullptr;
  uint32_t CleanOwner_ = 0;
  bool InCleanList_ = false;
  TPageNotes Notes_;
};

// A page cache. Invariants:
//  1. Every page has a buffer of PageSize bytes while the cache is open.
//  2. The address table holds exactly the pages that are not cpEmpty, each
//     under its (UpperAddress, LowerAddress); no two such pages share a key.
//  3. Dirty pages exist only while InTransaction.
//  4. The use list holds exactly the pages that are not cpEmpty, in the
//     order of their LRUFlag; the empty bits are set exactly for the empty
//     pages' slots.
//  5. The clean lists hold exactly the cpClean pages, each in the list of
//     its PageOwner.
class TCacheMgr : public THashCollection {
 public:
  explicit TCacheMgr(
      plat::TCollectionItemClass ItemClass = plat::CollectionItemClass<TCachePage>());
  ~TCacheMgr() override;

  std::string ClassName() const override { return "TCacheMgr"; }

  void SetReadIO(TIOTransferPageProc Value) { ReadIO_ = std::move(Value); }
  void SetWriteIO(TIOTransferPageProc Value) { WriteIO_ = std::move(Value); }
  // With a run reader, a transfer that misses several neighbouring pages
  // reads them in one go (pages that need no decryption only).
  void SetReadRunIO(TIOReadRunProc Value) { ReadRunIO_ = std::move(Value); }
  void SetLog(plat::TStrings* Value) { Log_ = Value; }
  void SetHits(int32_t Value) { Hits_ = Value; }
  void SetMisses(int32_t Value) { Misses_ = Value; }

  int32_t PageCount() const { return PageCount_; }
  int32_t PageSize() const { return PageSize_; }
  uint32_t AddressMask() const { return AddressMask_; }
  uint32_t LRUCounter() const { return LRUCounter_; }
  bool InTransaction() const { return InTransaction_; }
  // Whether the transaction has changed a page that commit would write.
  bool HasDirtyPages() const { return DirtyCount_ > 0; }
  plat::TStrings* Log() const { return Log_; }
  int32_t Hits() const { return Hits_; }
  int32_t Misses() const { return Misses_; }
  TCachePage* Pages(int32_t Index) const { return static_cast<TCachePage*>(Items(Index)); }
  // Counts every change of a cached page's bytes or of the page a buffer
  // holds: a reader that keeps a pointer into a page takes it again when the
  // count moved. Shared, so that such a reader may outlive the cache.
  const std::shared_ptr<uint64_t>& Changes() const { return Changes_; }
  // Counts only the changes of the page a buffer holds (a page read into it
  // or dropped from it): while it stands, a reader's page keeps its buffer
  // and its notes, and the notes' stamp tells whether its bytes changed.
  const std::shared_ptr<uint64_t>& Slots() const { return Slots_; }

  void Open(int32_t Count, int32_t PageSize);
  void Close();

  int32_t ReadCache(void* Buf, uint32_t Owner, uint32_t Upper, uint32_t Position, int32_t Count,
                    uint32_t AccessFlags);
  int32_t WriteCache(const void* Buf, uint32_t Owner, uint32_t Upper, uint32_t Position,
                     int32_t Count, uint32_t AccessFlags);
  // A range inside one page: Pointer is set into the cached page.
  int32_t ReadCacheByRef(uint32_t Owner, uint32_t Upper, uint32_t Position, int32_t Count,
                         uint32_t AccessFlags, uint8_t*& Pointer);
  // Marks as written a whole page changed through a pointer from
  // ReadCacheByRef.
  int32_t WriteCacheByRef(const void* Buf, uint32_t Owner, uint32_t Upper, uint32_t Position,
                          int32_t Count, uint32_t AccessFlags);
  // WriteCacheByRef for the page whose notes these are, found through them,
  // when the running transaction changed it already: the page stays dirty
  // and only its change is counted. False (nothing done) when the notes'
  // page is not Owner's page at Position, dirty in the transaction.
  bool RewriteDirtyByRef(TPageNotes& Notes, uint32_t Owner, uint32_t Position,
                         uint32_t AccessFlags);
  // Each page touched is keyed with the upper address of its own end (base
  // address plus PageSize): the transaction cache's keys.
  int32_t ReadCacheToPageBoundary(void* Buf, uint32_t Owner, uint32_t Position, int32_t Count,
                                  uint32_t AccessFlags);
  int32_t WriteCacheToPageBoundary(const void* Buf, uint32_t Owner, uint32_t Position,
                                   int32_t Count, uint32_t AccessFlags);

  int32_t FindPage(uint32_t Lower, uint32_t Upper) const;
  // The notes of the page cached for Owner under (Upper, the base of
  // Position); null when it is not cached. Valid until the next access.
  TPageNotes* PageNotes(uint32_t Owner, uint32_t Upper, uint32_t Position);
  uint32_t GetBaseAddress(uint32_t Position) const { return Position & AddressMask_; }
  bool IsBaseAddrInCache(uint32_t Position) const;
  void RemovePage(uint32_t Lower, uint32_t Upper);
  void RemoveAfterWrite(uint32_t Lower, uint32_t Upper);
  void ClearCache();
  // Drops the clean pages of Owner; its dirty pages stay.
  void ClearOwnedPages(uint32_t Owner);

  void StartTransaction();
  void Commit();
  void Rollback();

  void ResetPageCount(int32_t Count);
  int64_t TotalCacheSize() const { return int64_t{Count()} * PageSize_; }
  void DumpState();

 private:
  // How PageFor found the page for an access.
  enum TSlotKind : uint8_t {
    skHit,           // cached for this owner
    skForeignDirty,  // changed in this transaction on behalf of another owner
    skReuse,         // cached clean for another owner: reused in place
    skVictim         // not cached: a free or evicted slot, not in the hash
  };
  struct TSlot {
    TCachePage* Page;
    TSlotKind Kind;
  };

  // The page cached under (Upper, Lower) whatever its owner, or null.
  TCachePage* Lookup(uint32_t Lower, uint32_t Upper) const;
  TSlot PageFor(uint32_t Lower, uint32_t Upper, uint32_t Owner);
  // Reads a page from the file into Page, or takes its bytes from Ahead
  // when given (read with its neighbours), and keys it; on failure the page
  // is left empty.
  void Fetch(TCachePage* Page, uint32_t Owner, uint32_t Upper, uint32_t Base, uint32_t AccessFlags,
             const uint8_t* Ahead = nullptr);
  // The bytes of the uncached page at Base read ahead for a transfer that
  // goes on to Last (a base address): the page's run of uncached neighbours
  // read in one go, kept in Ahead_ from AheadBase_; null where no run was
  // read.
  const uint8_t* ReadAhead(uint32_t Base, uint32_t Last, uint32_t Upper, uint32_t AccessFlags);
  TCachePage* GetNextEmptyPage();
  TCachePage* AddPage();
  void HashInsert(TCachePage* Page, uint32_t Lower, uint32_t Upper);
  void Rekey(TCachePage* Page, uint32_t Lower, uint32_t Upper);
  void Empty(TCachePage* Page);
  // Sets a page's state, keeping the empty bits and the clean lists (the
  // page's owner is set first).
  void SetState(TCachePage* Page, TCachePageState State);
  void UnlistClean(TCachePage* Page);
  void SetEmptyBit(int32_t Slot, bool Empty);
  void Touch(TCachePage* Page);
  void MoveToNewest(TCachePage* Page);
  void Unlist(TCachePage* Page);
  // Ends the transaction; the pages it used stand in the use list in order of
  // use already.
  void EndTransaction();
  // The address table: open addressing with linear probing.
  static uint64_t TableKey(uint32_t Lower, uint32_t Upper) {
    return (uint64_t{Upper} << 32) | Lower;
  }
  size_t TableHome(uint64_t Key) const;
  void TableInsert(TCachePage* Page);
  void TableRemove(TCachePage* Page);
  void TableGrow();
  void Trace(const std::string& Line);
  int32_t TransferRead(void* Buf, uint32_t Owner, uint32_t Upper, bool UpperPerPage,
                       uint32_t Position, int32_t Count, uint32_t AccessFlags);
  int32_t TransferWrite(const void* Buf, uint32_t Owner, uint32_t Upper, bool UpperPerPage,
                        uint32_t Position, int32_t Count, uint32_t AccessFlags);

  struct TTableEntry {
    uint64_t Key;  // upper address in the high half, lower in the low half
    TCachePage* Page;  // null: a free entry
  };
  std::vector<TTableEntry> Table_;
  // The clean pages of each owner, so that dropping an owner's pages does
  // not walk a cache that a long transaction has filled with dirty ones.
  std::unordered_map<uint32_t, TCachePage*> CleanPages_;
  std::shared_ptr<uint64_t> Changes_ = std::make_shared<uint64_t>(0);
  std::shared_ptr<uint64_t> Slots_ = std::make_shared<uint64_t>(0);
  // Page buffers come from blocks of several pages, freed at Close.
  std::vector<std::unique_ptr<uint8_t[]>> BufferBlocks_;
  int32_t BlockPagesLeft_ = 0;
  int32_t TableShift_ = 64;
  int32_t TableUsed_ = 0;
  TCachePage* Oldest_ = nullptr;
  TCachePage* Newest_ = nullptr;
  std::vector<uint64_t> EmptyBits_;
  int32_t EmptyCount_ = 0;
  // Pages in cpDirty: commit and rollback skip the walk when there are none.
  int32_t DirtyCount_ = 0;
  // No empty bit is set in the words before this one.
  size_t EmptyWordHint_ = 0;
  int32_t PageCount_ = 0;
  int32_t PageSize_ = 0;
  uint32_t AddressMask_ = 0;
  uint32_t LRUCounter_ = 0;
  bool InTransaction_ = false;
  plat::TStrings* Log_ = nullptr;
  int32_t Misses_ = 0;
  int32_t Hits_ = 0;
  TIOTransferPageProc WriteIO_;
  TIOTransferPageProc ReadIO_;
  TIOReadRunProc ReadRunIO_;
  std::vector<uint8_t> Ahead_;
  uint32_t AheadBase_ = 0;
  uint32_t AheadBytes_ = 0;
};

// One buffered block. Invariant: Buffer holds BlockSize bytes once opened.
class TCacheBlock : public plat::TCollectionItem {
 public:
  explicit TCacheBlock(plat::TCollection* Collection) : plat::TCollectionItem(Collection) {}

  std::string ClassName() const override { return "TCacheBlock"; }

  uint8_t* Buffer() const { return Buffer_.get(); }
  uint32_t LowAddress() const { return LowAddress_; }
  uint32_t BlockOwner() const { return BlockOwner_; }
  uint32_t BlockSize() const { return BlockSize_; }
  TCachePageState State() const { return State_; }
  uint32_t AccessFlags() const { return AccessFlags_; }
  uint32_t HighAddress() const { return HighAddress_; }

  // Only while no buffer is allocated.
  void SetBlockSize(uint32_t Value);

 private:
  friend class TCacheBlockMgr;

  std::unique_ptr<uint8_t[]> Buffer_;
  uint32_t LowAddress_ = 0;
  uint32_t BlockOwner_ = 0;
  uint32_t BlockSize_ = 0;
  TCachePageState State_ = cpEmpty;
  uint32_t AccessFlags_ = 0;
  uint32_t HighAddress_ = 0;
};

// Blocks written during a transaction, written at commit and dropped at
// rollback. Outside a transaction a write goes straight through.
class TCacheBlockMgr : public plat::TCollection {
 public:
  explicit TCacheBlockMgr(
      plat::TCollectionItemClass ItemClass = plat::CollectionItemClass<TCacheBlock>());
  ~TCacheBlockMgr() override;

  std::string ClassName() const override { return "TCacheBlockMgr"; }

  void SetReadIO(TIOTransferBlockProc Value) { ReadIO_ = std::move(Value); }
  void SetWriteIO(TIOTransferBlockProc Value) { WriteIO_ = std::move(Value); }
  void SetLog(plat::TStrings* Value) { Log_ = Value; }
  bool InTransaction() const { return InTransaction_; }
  int32_t Hits() const { return Hits_; }
  int32_t Misses() const { return Misses_; }
  TCacheBlock* Blocks(int32_t Index) const { return static_cast<TCacheBlock*>(Items(Index)); }

  void Open();
  void Close();
  void StartTransaction();
  void Commit();
  void Rollback();

  void ReadBlock(void* Buf, uint32_t Owner, uint32_t Size, uint32_t High, uint32_t Low,
                 uint32_t AccessFlags);
  void WriteBlock(const void* Buf, uint32_t Owner, uint32_t Size, uint32_t High, uint32_t Low,
                  uint32_t AccessFlags);
  int32_t FindBlock(uint32_t Low, uint32_t High);
  bool IsBaseAddrInCache(uint32_t Low) { return FindBlock(Low, 0) >= 0; }
  void DumpState();

 private:
  bool InTransaction_ = false;
  plat::TStrings* Log_ = nullptr;
  int32_t Misses_ = 0;
  int32_t Hits_ = 0;
  TIOTransferBlockProc WriteIO_;
  TIOTransferBlockProc ReadIO_;
};

}  // namespace zel
