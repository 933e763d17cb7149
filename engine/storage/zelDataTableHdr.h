#pragma once
// Table headers and the table map.
//
// Table header block (256 bytes, little-endian):
//   0x00 u32 TableID              0x18 u32 BlobFirstEmpty
//   0x04 u32 ModifiedFlag         0x1C u32 Generator1
//   0x08 u32 HeaderSize (256)     0x20 u32 Generator2
//   0x0C u32 RecordFirstEmpty     0x24 u32 IndexCount
//   0x10 u32 RecordAutoIncVal     0x28 u32 InternalGenerator
//   0x14 u32 LogicalRecordNo      0x2C u32 zero
//   0x30 + 6i u32 root page of index slot i, 0x34 + 6i u16 its depth
//   the rest zero
// ModifiedFlag goes up by one at every header write; a reader that finds it
// changed drops the table's cached pages. The header manager remembers
// where the header of a table it freed lives, its size and its flag: opened
// again with the same flag in the file, the table's cached pages are still
// current. (A table's header block and size change only with a restructure
// or its deletion, which need the file alone or go through this manager.)
//
// Table map block (8192 bytes, read and written whole): 1000 entries of
// (u32 TableID, u32 header address) at 0, 8, ..., 7992, then 192 unused
// bytes. Rules kept by TTableHeaderMgr:
//  1. Entries are packed from the start; TableID 0 marks the first free one.
//  2. Every TableID in use is BaseTableID + an offset in 0..999, given once.
// A map read from the file that breaks them raises 0x2103.

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "engine/storage/zelApi.h"
#include "engine/storage/zelInterfaceUnit.h"
#include "platform/rtl/Classes.h"

namespace zel {

// Header offsets.
inline constexpr int32_t thTableID = 0x00;
inline constexpr int32_t thModifiedFlag = 0x04;
inline constexpr int32_t thHeaderSize = 0x08;
inline constexpr int32_t thRecordFirstEmpty = 0x0C;
inline constexpr int32_t thRecordAutoIncVal = 0x10;
inline constexpr int32_t thLogicalRecordNo = 0x14;
inline constexpr int32_t thBlobFirstEmpty = 0x18;
inline constexpr int32_t thGenerator1 = 0x1C;
inline constexpr int32_t thGenerator2 = 0x20;
inline constexpr int32_t thIndexCount = 0x24;
inline constexpr int32_t thInternalGenerator = 0x28;
inline constexpr int32_t thIndexSlots = 0x30;
inline constexpr int32_t thIndexSlotSize = 6;
// The fixed part every header has, and the block a header lives in.
inline constexpr int32_t TableHeaderFixedSize = thIndexSlots;
inline constexpr int32_t TableHeaderBlockSize = 256;

inline constexpr int32_t TableMapSize = 8192;
inline constexpr int32_t TableMapEntries = 1000;
inline constexpr int32_t TableMapEntrySize = 8;

class TTableHeaderMgr;

// One table's header, shared by every opener in the process. Invariant: the
// buffer, when allocated, holds HeaderSize bytes and every access is checked
// against it.
class ZEL_API TTableHeader : public plat::TCollectionItem {
 public:
  explicit TTableHeader(plat::TCollection* Collection);

  std::string ClassName() const override { return "TTableHeader"; }

  uint32_t GetTableID() const { return Get(thTableID); }
  void SetTableID(uint32_t Value) { Set(thTableID, Value); }
  uint32_t GetModifiedFlag() const { return Get(thModifiedFlag); }
  void SetModifiedFlag(uint32_t Value) { Set(thModifiedFlag, Value); }
  int32_t GetHeaderSize() const { return static_cast<int32_t>(Get(thHeaderSize)); }
  uint32_t GetRecordFirstEmpty() const { return Get(thRecordFirstEmpty); }
  void SetRecordFirstEmpty(uint32_t Value) { Set(thRecordFirstEmpty, Value); }
  int32_t GetRecordAutoIncVal() const { return static_cast<int32_t>(Get(thRecordAutoIncVal)); }
  void SetRecordAutoIncVal(int32_t Value) { Set(thRecordAutoIncVal, static_cast<uint32_t>(Value)); }
  int32_t GetLogicalRecordNo() const { return static_cast<int32_t>(Get(thLogicalRecordNo)); }
  void SetLogicalRecordNo(int32_t Value) { Set(thLogicalRecordNo, static_cast<uint32_t>(Value)); }
  uint32_t GetBlobFirstEmpty() const { return Get(thBlobFirstEmpty); }
  void SetBlobFirstEmpty(uint32_t Value) { Set(thBlobFirstEmpty, Value); }
  int32_t GetGenerator1() const { return static_cast<int32_t>(Get(thGenerator1)); }
  void SetGenerator1(int32_t Value) { Set(thGenerator1, static_cast<uint32_t>(Value)); }
  int32_t GetGenerator2() const { return static_cast<int32_t>(Get(thGenerator2)); }
  void SetGenerator2(int32_t Value) { Set(thGenerator2, static_cast<uint32_t>(Value)); }
  int32_t GetIndexCount() const { return static_cast<int32_t>(Get(thIndexCount)); }
  void SetIndexCount(int32_t Value) { Set(thIndexCount, static_cast<uint32_t>(Value)); }
  int32_t GetInternalGenerator() const { return static_cast<int32_t>(Get(thInternalGenerator)); }
  void SetInternalGenerator(int32_t Value) {
    Set(thInternalGenerator, static_cast<uint32_t>(Value));
  }
  // Index slot I must be below IndexCount.
  // Every index change of a row saves its slot: the accessors are inline,
  // with only their failures out of line.
  uint32_t GetIndexRoot(int32_t I) const { return Get(SlotOffset(I, "TTableHeader.GetIndexRoot")); }
  void SetIndexRoot(int32_t I, uint32_t Root) { Set(SlotOffset(I, "TTableHeader.SetIndexRoot"), Root); }
  uint16_t GetIndexDepth(int32_t I) const {
    const int32_t offset = SlotOffset(I, "TTableHeader.GetIndexDepth") + 4;
    CheckOffset(offset, 2, "TTableHeader.GetIndexDepth");
    return static_cast<uint16_t>(Buffer_[static_cast<size_t>(offset)] |
                                 (Buffer_[static_cast<size_t>(offset) + 1] << 8));
  }
  void SetIndexDepth(int32_t I, uint16_t Depth) {
    const int32_t offset = SlotOffset(I, "TTableHeader.SetIndexDepth") + 4;
    CheckOffset(offset, 2, "TTableHeader.SetIndexDepth");
    uint8_t* p = Buffer_.data() + offset;
    if ((p[0] | (p[1] << 8)) == Depth) return;
    p[0] = static_cast<uint8_t>(Depth);
    p[1] = static_cast<uint8_t>(Depth >> 8);
    Dirty_ = true;
  }

  // Reallocates a zeroed buffer of Size bytes and stores Size in it.
  void SetHeaderSize(int32_t Size);
  // Reallocates to Size, keeping the old bytes (cut to Size) unless Clear,
  // and stores Size.
  void ResetHeaderSize(int32_t Size, bool Clear);
  void ClearHeader();

  // Reads HeaderSize bytes at BaseAddress; a changed (or first) ModifiedFlag
  // makes the store drop the table's cached pages.
  void ReadHeader();
  // Raises ModifiedFlag and writes HeaderSize bytes at BaseAddress.
  void WriteHeader();

  bool Dirty() const { return Dirty_; }
  void SetDirty(bool Value) { Dirty_ = Value; }
  uint32_t BaseAddress() const { return BaseAddress_; }
  void SetBaseAddress(uint32_t Value) { BaseAddress_ = Value; }
  int32_t UserCount() const { return UserCount_; }
  void SetUserCount(int32_t Value) { UserCount_ = Value; }
  TTableHeaderMgr* Mgr() const;
  const std::vector<uint8_t>& Buffer() const { return Buffer_; }

 private:
  uint32_t Get(int32_t Offset) const {
    CheckOffset(Offset, 4, "TTableHeader.GetHeaderValue");
    const uint8_t* p = Buffer_.data() + Offset;
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
  }
  void Set(int32_t Offset, uint32_t Value) {
    CheckOffset(Offset, 4, "TTableHeader.SetHeaderValue");
    if (Get(Offset) == Value) return;
    uint8_t* p = Buffer_.data() + Offset;
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(Value >> (8 * i));
    Dirty_ = true;
  }
  int32_t SlotOffset(int32_t I, const char* Context) const {
    if (I < 0 || I >= GetIndexCount()) SlotError(Context);
    return thIndexSlots + thIndexSlotSize * I;
  }
  void CheckOffset(int32_t Offset, int32_t Width, const char* Context) const {
    if (Offset < 0 || int64_t{Offset} + Width > static_cast<int64_t>(Buffer_.size())) OffsetError(Context);
  }
  [[noreturn]] void SlotError(const char* Context) const;
  [[noreturn]] void OffsetError(const char* Context) const;
  TBaseIOInterface& Store(const char* Context) const;
  // Raises 0x2103 when a header read from the file has an index count its
  // size cannot hold, or a slot with a root but no depth (or the reverse).
  void CheckIndexSlots(const std::vector<uint8_t>& Buffer) const;

  std::vector<uint8_t> Buffer_;
  bool Dirty_ = false;
  uint32_t BaseAddress_ = 0;
  int32_t UserCount_ = 0;
};

// The table map of one id range and the open headers of its tables.
class TTableHeaderMgr : public plat::TCollection {
 public:
  TTableHeaderMgr();
  ~TTableHeaderMgr() override;

  std::string ClassName() const override { return "TTableHeaderMgr"; }

  uint32_t BaseAddress() const { return BaseAddress_; }
  void SetBaseAddress(uint32_t Value) { BaseAddress_ = Value; }
  uint32_t BaseTableID() const { return BaseTableID_; }
  void SetBaseTableID(uint32_t Value) { BaseTableID_ = Value; }
  TBaseIOInterface* IOInterface() const { return IOInterface_; }

  // Keeps the store and reads the map.
  void Open(TBaseIOInterface* IOInterface);
  // Writes every dirty header and frees all header objects.
  void Close();
  // A new table with a header for IndexCount indexes; returns its id, the
  // lowest free one.
  uint32_t AddTable(int32_t IndexCount);
  // The table's shared header object, counted once more.
  TTableHeader* OpenTable(uint32_t TableID);
  // One opener less; the last writes a dirty header and frees the object,
  // remembering its ModifiedFlag.
  void CloseTable(TTableHeader* Header);
  // Releases the table's header block and takes it out of the map.
  void DeleteTable(uint32_t TableID);
  TTableHeader* FindHdrItemByID(uint32_t TableID) const;
  bool FindTableHeaderInMap(uint32_t TableID, int32_t& Index) const;
  // The size stored in the header block at Addr.
  int32_t ReadHeaderSize(uint32_t Addr);
  void InternalReadMap();
  void InternalWriteMap();

  // Map entry I, as last read or written.
  uint32_t MapTableID(int32_t I) const;
  uint32_t MapAddress(int32_t I) const;
  TTableHeader* Items(int32_t Index) const {
    return static_cast<TTableHeader*>(plat::TCollection::Items(Index));
  }

 private:
  // Enters (TableID, Addr) at the first free entry with the lowest free id.
  uint32_t AddTableHeaderToMap(uint32_t Addr);
  void CheckMap() const;
  void CheckOpen(const char* Context) const;

  std::array<uint8_t, TableMapSize> Map_{};
  // Each table whose header was freed, as it was then.
  struct TClosedHeader {
    uint32_t Address = 0;
    int32_t Size = 0;
    uint32_t ModifiedFlag = 0;
  };
  std::map<uint32_t, TClosedHeader> Closed_;
  TBaseIOInterface* IOInterface_ = nullptr;
  uint32_t BaseAddress_ = 0;
  uint32_t BaseTableID_ = 0;
};

}  // namespace zel
