#pragma once
// Block stores and blob chains.
//
// All table-level storage (records, blob chains, B-tree pages, table headers)
// lies in fixed-size blocks of a block store. A store belongs to one table and
// one use; together they give the owner code stamped on every page the store
// takes from the page map: (TableID shl 4) or Usage.
//
// Disk stores reuse released blocks through a singly linked list of free-block
// runs kept inside the released blocks themselves (little-endian):
//   0x00  8  zero
//   0x08  4  address of the next run, 0 for the last
//   0x0C  4  number of consecutive free blocks in this run, this one included
//   0x10 ..  zero
// The other blocks of a run are all zero; the newest run is at the front.
//
// Memory stores hand out small 32-bit block numbers, never 0, in ascending
// allocation order, so that an address fits every 32-bit field it is kept in
// (index entries, bookmarks, record prefixes) and a number is never given
// twice within one store.
//
// Blob chain block (little-endian):
//   0  4  address of the next block of the chain, 0 in the last block
//   4  4  number of data bytes used in this block
//   8 ..  data; unused bytes are zero

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/storage/zelApi.h"
#include "engine/storage/zelComp.h"
#include "engine/storage/zelConsts.h"
#include "engine/storage/zelDiskCache.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Object.h"
#include "platform/rtl/Streams.h"

namespace zel {

class TDiskMgr;
struct TPageNotes;

enum TIOMode : uint8_t { iomNone, iomMemory, iomDiskFixedSize, iomDiskVariableSize };

// Use codes of the block stores.
inline constexpr uint16_t iuTableHeaders = 1;
inline constexpr uint16_t iuIndexPages = 8;
inline constexpr uint16_t iuRecords = 9;
inline constexpr uint16_t iuBlobBlocks = 10;

// Free-block run offsets.
inline constexpr int32_t frNextRun = 0x08;
inline constexpr int32_t frRunCount = 0x0C;
inline constexpr int32_t frHeaderSize = 0x10;

// The abstract block store. Operations a store cannot do raise 0x2751
// "Invalid procedure name"; the others do nothing or answer 0 or false.
class ZEL_API TBaseIOInterface : public plat::TObject {
 public:
  TBaseIOInterface() = default;
  TBaseIOInterface(const TBaseIOInterface&) = delete;
  TBaseIOInterface& operator=(const TBaseIOInterface&) = delete;

  std::string ClassName() const override { return "TBaseIOInterface"; }

  // Computes OwnerFlag.
  virtual void Open();
  virtual void Close();
  virtual void Empty(bool DeletePages);
  // Stores Size bytes of Buf in a new block; returns its address.
  virtual uint32_t AllocateNewAddress(int32_t Size, const void* Buf);
  virtual void ReleaseBlock(uint32_t Addr, int32_t Size);
  virtual void WriteBlock(uint32_t Addr, int32_t Size, const void* Buf);
  virtual void WriteBlockByRef(uint32_t Addr, int32_t Size, const void* Buf);
  // WriteBlockByRef of a whole page held in place (BlockInPlace, with its
  // Notes) that the running transaction changed already, the short way;
  // false, nothing done, where the store cannot (WriteBlockByRef then).
  virtual bool RewriteBlockByRef(uint32_t /*Addr*/, TPageNotes& /*Notes*/) { return false; }
  virtual void ReadBlock(uint32_t Addr, int32_t Size, void* Buf);
  // P points at the stored bytes, valid until the next access to the store.
  virtual void ReadBlockByRef(uint32_t Addr, int32_t Size, uint8_t*& P);
  // Notes kept with the cached page at Addr, valid until the next access to
  // the store; null where the store keeps none.
  virtual TPageNotes* BlockNotes(uint32_t /*Addr*/) { return nullptr; }
  // The page of Size bytes at Addr where the store's page cache holds it,
  // with its notes and the cache's change count (the pointer stays good
  // while the count stands); null where the store reads through no page
  // cache of that page size. While the slot count stands, the page keeps
  // its buffer and its notes, whose stamp moves with its bytes. The page
  // may be changed in place and then marked written with WriteBlockByRef.
  virtual uint8_t* BlockInPlace(uint32_t /*Addr*/, int32_t /*Size*/, TPageNotes*& /*Notes*/,
                                std::shared_ptr<uint64_t>& /*Changes*/,
                                std::shared_ptr<uint64_t>& /*Slots*/) {
    return nullptr;
  }
  virtual void WriteBlockHeader(uint32_t Addr, int32_t Size, const void* Buf);
  virtual void ReadBlockHeader(uint32_t Addr, int32_t Size, void* Buf);
  virtual void ShowBlocks(plat::TStrings& Strings);
  virtual void ListBlocks(std::vector<uint32_t>& List);
  virtual bool CheckPageValid(uint32_t Addr);
  virtual void ShowStatus(plat::TStrings& StringList);
  // The block after Addr in allocation order (the first for 0), 0 after the
  // last: how memory tables are scanned without an index.
  virtual uint32_t GetNextMemoryBlockAddress(uint32_t Addr);
  virtual bool CheckBlockAddressValid(uint32_t Addr);
  // Another process may have changed the table's pages.
  virtual void NotifyPageChange(uint32_t TableID);

  uint32_t BlockSize() const { return BlockSize_; }
  void SetBlockSize(uint32_t Value) { BlockSize_ = Value; }
  TIOMode IOMode() const { return IOMode_; }
  void SetIOMode(TIOMode Value) { IOMode_ = Value; }
  plat::TStrings* DebugStrings() const { return DebugStrings_; }
  void SetDebugStrings(plat::TStrings* Value) { DebugStrings_ = Value; }
  uint16_t Usage() const { return Usage_; }
  void SetUsage(uint16_t Value) { Usage_ = Value; }
  uint16_t TableID() const { return TableID_; }
  void SetTableID(uint16_t Value) { TableID_ = Value; }
  uint16_t OwnerFlag() const { return OwnerFlag_; }
  uint32_t FirstEmpty() const { return FirstEmpty_; }
  void SetFirstEmpty(uint32_t Value) { FirstEmpty_ = Value; }
  bool FirstEmptyValid() const { return FirstEmptyValid_; }
  void SetFirstEmptyValid(bool Value) { FirstEmptyValid_ = Value; }
  TDiskMgr* DiskMgr() const { return DiskMgr_; }
  void SetDiskMgr(TDiskMgr* Value) { DiskMgr_ = Value; }
  // 0 for a store whose FirstEmpty its owner keeps; else the offset of the
  // store's first-empty item in the global header.
  int32_t GlobalFirstEmptyOffset() const { return GlobalFirstEmptyOffset_; }
  void SetGlobalFirstEmptyOffset(int32_t Value) { GlobalFirstEmptyOffset_ = Value; }
  uint32_t AccessFlags() const { return AccessFlags_; }
  void SetAccessFlags(uint32_t Value) { AccessFlags_ = Value; }
  // Moves on with every change of a memory store (a disk store's changes
  // show in its file's change stamp, so it says 0): what was read at an
  // equal count is still what the store holds.
  virtual uint64_t Changes() const { return 0; }

 protected:
  [[noreturn]] void NotImplemented(const char* Context) const;

  uint32_t BlockSize_ = 0;
  TIOMode IOMode_ = iomNone;
  plat::TStrings* DebugStrings_ = nullptr;
  uint16_t Usage_ = 0;
  uint16_t TableID_ = 0;
  uint16_t OwnerFlag_ = 0;
  uint32_t FirstEmpty_ = 0;
  TDiskMgr* DiskMgr_ = nullptr;
  int32_t GlobalFirstEmptyOffset_ = 0;
  bool FirstEmptyValid_ = false;
  uint32_t AccessFlags_ = 0;
};

// Blocks in the database file. Invariants: while open, the block buffer holds
// 2 x BlockSize bytes; FirstEmpty is 0 or the address of a run's first block.
// Every run is checked as it is read: a head that is not zero, a count of 0
// or one that reaches past the end of the file, or a link outside the file
// raises 0x2103 instead of being followed. So does any block address outside
// the file (or inside its first page).
class ZEL_API TDiskIOInterface : public TBaseIOInterface {
 public:
  TDiskIOInterface();

  std::string ClassName() const override { return "TDiskIOInterface"; }

  void Open() override;
  void Close() override;
  void Empty(bool DeletePages) override;
  uint32_t AllocateNewAddress(int32_t Size, const void* Buf) override;
  void ReleaseBlock(uint32_t Addr, int32_t Size) override;
  void WriteBlock(uint32_t Addr, int32_t Size, const void* Buf) override;
  void WriteBlockByRef(uint32_t Addr, int32_t Size, const void* Buf) override;
  bool RewriteBlockByRef(uint32_t Addr, TPageNotes& Notes) override;
  void ReadBlock(uint32_t Addr, int32_t Size, void* Buf) override;
  void ReadBlockByRef(uint32_t Addr, int32_t Size, uint8_t*& P) override;
  TPageNotes* BlockNotes(uint32_t Addr) override;
  uint8_t* BlockInPlace(uint32_t Addr, int32_t Size, TPageNotes*& Notes,
                        std::shared_ptr<uint64_t>& Changes,
                        std::shared_ptr<uint64_t>& Slots) override;
  void WriteBlockHeader(uint32_t Addr, int32_t Size, const void* Buf) override;
  void ReadBlockHeader(uint32_t Addr, int32_t Size, void* Buf) override;
  void ListBlocks(std::vector<uint32_t>& List) override;
  void NotifyPageChange(uint32_t TableID) override;

  // For a global store: FirstEmpty from the global header (read when it is
  // not loaded). A non-global store raises 0x2185.
  void GetGlobalFirstEmpty();
  // For a global store: FirstEmpty into the global header; refused while
  // FirstEmpty is not valid.
  void SetGlobalFirstEmpty();
  bool IsGlobal() const { return GlobalFirstEmptyOffset_ != 0; }

 private:
  class TFirstEmptyScope;

  void CheckOpen(const char* Context) const;
  void CheckRange(uint32_t Addr, int32_t Size, const char* Context) const;
  // Reads and checks the run at FirstEmpty: its next link and count.
  void ReadRun(uint32_t Addr, uint32_t& Next, uint32_t& Count, const char* Context);
  uint32_t AllocateFromNewPages(int32_t Size, const void* Buf);
  uint32_t PageSize() const;

  std::vector<uint8_t> Buffer_;
  // A new run of pages is put together here; all zero between uses, so that
  // only the bytes a run sets are cleared again.
  std::vector<uint8_t> NewPages_;
  bool Opened_ = false;
  // A size the file is known to have reached; refreshed before an address
  // beyond it is refused.
  mutable uint64_t KnownFileSize_ = 0;
};

// Blocks in memory, for in-memory databases and query results. Invariant:
// every live block number has a slot in Pages_ with a buffer of at least the
// size it was allocated with (and at least BlockSize); numbers only grow.
class TMemoryIOInterface : public TBaseIOInterface {
 public:
  TMemoryIOInterface();

  std::string ClassName() const override { return "TMemoryIOInterface"; }

  void Empty(bool DeletePages) override;
  uint32_t AllocateNewAddress(int32_t Size, const void* Buf) override;
  void ReleaseBlock(uint32_t Addr, int32_t Size) override;
  void WriteBlock(uint32_t Addr, int32_t Size, const void* Buf) override;
  void ReadBlock(uint32_t Addr, int32_t Size, void* Buf) override;
  void ReadBlockByRef(uint32_t Addr, int32_t Size, uint8_t*& P) override;
  void WriteBlockHeader(uint32_t Addr, int32_t Size, const void* Buf) override;
  void ReadBlockHeader(uint32_t Addr, int32_t Size, void* Buf) override;
  void ListBlocks(std::vector<uint32_t>& List) override;
  bool CheckPageValid(uint32_t Addr) override;
  uint32_t GetNextMemoryBlockAddress(uint32_t Addr) override;
  bool CheckBlockAddressValid(uint32_t Addr) override;

  int32_t BlockCount() const { return Count_; }
  // Blocks are read in place, as a page cache's pages are.
  TPageNotes* BlockNotes(uint32_t Addr) override;
  uint8_t* BlockInPlace(uint32_t Addr, int32_t Size, TPageNotes*& Notes,
                        std::shared_ptr<uint64_t>& Changes,
                        std::shared_ptr<uint64_t>& Slots) override;
  void WriteBlockByRef(uint32_t Addr, int32_t Size, const void* Buf) override;
  uint64_t Changes() const override { return *Changes_; }

 private:
  struct TBlock {
    uint8_t* Data = nullptr;  // null: no block at the address
    // The block's bytes where they are not in its page's room.
    std::unique_ptr<uint8_t[]> Own;
    int32_t Size = 0;
    // Made when a reader first keeps notes on the block (index pages).
    std::unique_ptr<TPageNotes> Notes;
  };
  // Addresses are handed out in order and never again, so a block is found
  // by its number through a table of pages of slots; a page whose blocks
  // were all released goes, so released numbers cost little.
  static constexpr uint32_t SlotBits = 6;
  static constexpr uint32_t SlotsPerPage = 1u << SlotBits;
  struct TSlotPage {
    TBlock Slots[SlotsPerPage];
    uint32_t Live = 0;
    // Room for a block of RoomBlock bytes in every slot, made with the
    // page's first block of that size: blocks of the store's (small) block
    // size, records, take no allocation each.
    std::unique_ptr<uint8_t[]> Room;
    int32_t RoomBlock = 0;
  };
  // The largest block size kept in a page's room.
  static constexpr int32_t MostRoomBlock = 256;

  TBlock* Find(uint32_t Addr);
  // Block's notes, made when first asked for.
  static TPageNotes& NotesOf(TBlock& Block);
  void CheckSize(const TBlock& Block, int32_t Size, const char* Context, const char* Message) const;

  // The bytes of Block changed: what was worked out from them goes.
  void Changed(TBlock& Block);

  // Pages_[k] holds the addresses (FirstPage_ + k) << SlotBits onwards.
  std::deque<std::unique_ptr<TSlotPage>> Pages_;
  uint32_t FirstPage_ = 0;
  int32_t Count_ = 0;
  // Moves with every change of a block's bytes or of the blocks there are:
  // what a node reading a block in place and a cursor stepping on check.
  std::shared_ptr<uint64_t> Changes_ = std::make_shared<uint64_t>(0);
  uint32_t NextAddress_ = 1;
};

// Inserts, rewrites, reads and deletes blob chains in a blob block store,
// optionally compressing them.
class ZEL_API TBlobInterface : public plat::TObject {
 public:
  // Called before a blob is stored; may compress Source into Dest and set
  // Mode and Value.
  using TCompressBlobEvent =
      std::function<void(const std::string& FieldName, plat::TStream& Source, plat::TStream& Dest,
                         TDataCompressionMode& Mode, int32_t& Value)>;
  // Called to decompress a blob stored with dcUsrCustom.
  using TDecompressBlobEvent =
      std::function<void(const std::string& FieldName, plat::TStream& Source, plat::TStream& Dest,
                         TDataCompressionMode Mode, int32_t Value)>;

  TBlobInterface();
  TBlobInterface(const TBlobInterface&) = delete;
  TBlobInterface& operator=(const TBlobInterface&) = delete;
  ~TBlobInterface() override;

  std::string ClassName() const override { return "TBlobInterface"; }

  void Open();
  void Close();
  // The first block of a new chain holding Stream (from its start); 0 for
  // empty data. Mode and Value tell how it was stored.
  uint32_t InsertBlob(const std::string& FieldName, plat::TStream& Stream,
                      TDataCompressionMode& Mode, int32_t& Value);
  // Rewrites the chain at Addr in place (it keeps its first block); returns
  // Addr, or the new chain when Addr was 0, or 0 when the data is empty.
  uint32_t EditBlob(const std::string& FieldName, uint32_t Addr, int32_t OldSize,
                    plat::TStream& Stream, TDataCompressionMode& Mode, int32_t& Value);
  // Appends the blob's data to Dest; returns the bytes appended.
  int64_t ReadBlob(const std::string& FieldName, uint32_t Addr, int32_t Value,
                   TDataCompressionMode Mode, plat::TStream& Dest);
  // Releases every block of the chain at Addr (nothing for 0).
  void DeleteBlob(uint32_t Addr, int32_t Size);
  void CompressToTempStream(plat::TStream& Source);
  void DecompressFromTempStream(plat::TStream& Dest);

  uint32_t BlobBlockSize() const { return BlobBlockSize_; }
  void SetBlobBlockSize(uint32_t Value) { BlobBlockSize_ = Value; }
  TBaseIOInterface* IOInterface() const { return IOInterface_; }
  void SetIOInterface(TBaseIOInterface* Value) { IOInterface_ = Value; }
  bool UseCompression() const { return UseCompression_; }
  void SetUseCompression(bool Value) { UseCompression_ = Value; }
  void SetOnCompressBlob(TCompressBlobEvent Value) { OnCompressBlob = std::move(Value); }
  void SetOnDecompressBlob(TDecompressBlobEvent Value) { OnDecompressBlob = std::move(Value); }

  TCompressBlobEvent OnCompressBlob;
  TDecompressBlobEvent OnDecompressBlob;

 private:
  // The stream to store: the caller's, or the temporary one holding the
  // compressed form.
  plat::TStream& ChooseStoredForm(const std::string& FieldName, plat::TStream& Stream,
                                  TDataCompressionMode& Mode, int32_t& Value);
  // A new chain of the Size bytes of Stream from Offset; 0 for none.
  uint32_t WriteNewBlocks(int64_t Offset, int64_t Size, plat::TStream& Stream);
  uint32_t InternalEditBlob(uint32_t Addr, plat::TStream& Stream);
  int64_t ReadRawChain(uint32_t Addr, plat::TStream& Dest);
  // Releases the chain at Addr; Visited holds the blocks seen so far of
  // the chain this one continues.
  void ReleaseChain(uint32_t Addr, std::unordered_set<uint32_t>& Visited);
  // Reads the block at Addr into the block buffer and checks it: its used
  // count fits the block, and it was not met before in this walk (a loop).
  void ReadChainBlock(uint32_t Addr, std::unordered_set<uint32_t>& Visited, const char* Context);
  uint32_t DataPerBlock() const { return BlobBlockSize_ - 8; }
  void CheckOpen(const char* Context) const;
  TGZip& GZip();

  uint32_t BlobBlockSize_ = 0;
  TBaseIOInterface* IOInterface_ = nullptr;
  std::vector<uint8_t> Buffer_;
  std::unique_ptr<plat::TMemoryStream> TempStream_;
  std::unique_ptr<TGZip> GZip_;
  bool UseCompression_ = false;
};

}  // namespace zel
