#pragma once
// The global header and the page map.
//
// The file is an array of pages. Pages 0 to 4 are the system area (owner code
// 1); page 5 is the first map page (owner code 2). Map pages form a chain;
// each holds one 16-bit entry per page of its range and an ascending list of
// its free entries threaded through the entries themselves.
//
// Map page layout (little-endian):
//   0x00 u32 sequence number (0 for the first)
//   0x04 u32 file address of the next map page (0 for the last)
//   0x08 u16 byte offset of the first free entry (0 = none)
//   0x0A..0x13 zero
//   0x14 entries, (PageSize - 20) / 2 of them
// Entry values: 0 page not given out (or beyond the end of the file); bit 15
// set: free, bits 0..14 the byte offset of the next free entry (0 ends the
// list); otherwise the owner code.
//
// Invariants kept by TMapPageMgr:
//  1. Every free list is strictly ascending and holds only entries with bit
//     15 set.
//  2. No map page before the one FirstMapPageEmpty names has free entries;
//     FirstMapPageEmpty is 0 only when no map page has any.
//  3. Pages 0 to 4 and map pages are never freed.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/storage/zelApi.h"
#include "engine/storage/zelCommon.h"
#include "platform/rtl/Object.h"

namespace zel {

class TDiskMgr;

// Little-endian loads and stores of the file's integers.
inline uint16_t DiskGetU16(const uint8_t* P) {
  return static_cast<uint16_t>(P[0] | (P[1] << 8));
}
inline uint32_t DiskGetU32(const uint8_t* P) {
  return uint32_t{P[0]} | (uint32_t{P[1]} << 8) | (uint32_t{P[2]} << 16) | (uint32_t{P[3]} << 24);
}
inline void DiskPutU16(uint8_t* P, uint16_t V) {
  P[0] = static_cast<uint8_t>(V);
  P[1] = static_cast<uint8_t>(V >> 8);
}
inline void DiskPutU32(uint8_t* P, uint32_t V) {
  for (int i = 0; i < 4; ++i) P[i] = static_cast<uint8_t>(V >> (8 * i));
}

// Global header offsets (128 bytes at file offset 1024).
inline constexpr int32_t ghFirstMapPageEmpty = 0x10;
inline constexpr int32_t ghFirstMapPage = 0x14;
inline constexpr int32_t ghMapPageCount = 0x18;
inline constexpr int32_t ghTableHeadersFirstEmpty = 0x1C;
inline constexpr int32_t ghSystemHeadersFirstEmpty = 0x20;
inline constexpr int32_t ghIndexesFirstEmpty = 0x24;
inline constexpr int32_t ghGlobalDBGenerator = 0x28;
inline constexpr int32_t GlobalHdrSize = 128;
inline constexpr uint32_t GlobalHdrAddress = 1024;

// Map page offsets.
inline constexpr int32_t mpSequence = 0x00;
inline constexpr int32_t mpNextMapPage = 0x04;
inline constexpr int32_t mpFirstFree = 0x08;
inline constexpr int32_t mpEntries = 0x14;

// Owner codes.
inline constexpr uint16_t ocSystemArea = 1;
inline constexpr uint16_t ocMapPage = 2;
inline constexpr uint16_t ocFree = 0x8000;
// Pages of the system area, and the page number of the first map page.
inline constexpr uint32_t SystemAreaPages = 5;

// The 128-byte global header in memory. Invariant: once initialized, the
// buffer holds HdrSize bytes, and every field access lies inside it.
class TGlobalHdr : public plat::TObject {
 public:
  TGlobalHdr() = default;

  std::string ClassName() const override { return "TGlobalHdr"; }

  // Allocates the zeroed buffer of HdrSize bytes.
  void Initialize();

  uint32_t GetFirstMapPageEmpty() const { return Get(ghFirstMapPageEmpty); }
  uint32_t GetFirstMapPage() const { return Get(ghFirstMapPage); }
  uint32_t GetMapPageCount() const { return Get(ghMapPageCount); }
  uint32_t GetTableHeadersFirstEmpty() const { return Get(ghTableHeadersFirstEmpty); }
  uint32_t GetSystemHeadersFirstEmpty() const { return Get(ghSystemHeadersFirstEmpty); }
  uint32_t GetIndexesFirstEmpty() const { return Get(ghIndexesFirstEmpty); }
  uint32_t GetGlobalDBGenerator() const { return Get(ghGlobalDBGenerator); }
  // Each setter marks the header dirty only when the value changes.
  void SetFirstMapPageEmpty(uint32_t Value) { Set(Value, ghFirstMapPageEmpty); }
  void SetFirstMapPage(uint32_t Value) { Set(Value, ghFirstMapPage); }
  void SetMapPageCount(uint32_t Value) { Set(Value, ghMapPageCount); }
  void SetTableHeadersFirstEmpty(uint32_t Value) { Set(Value, ghTableHeadersFirstEmpty); }
  void SetSystemHeadersFirstEmpty(uint32_t Value) { Set(Value, ghSystemHeadersFirstEmpty); }
  void SetIndexesFirstEmpty(uint32_t Value) { Set(Value, ghIndexesFirstEmpty); }
  void SetGlobalDBGenerator(uint32_t Value) { Set(Value, ghGlobalDBGenerator); }

  // The u32 at a byte offset from 1 up to the last one that still lies
  // inside the header.
  uint32_t GlobalInterfaceGetHdrItem(int32_t Offset) const;
  void GlobalInterfaceSetHdrItem(uint32_t Value, int32_t Offset);

  bool Dirty() const { return Dirty_; }
  void SetDirty(bool Value) { Dirty_ = Value; }
  int32_t HdrSize() const { return HdrSize_; }
  void SetHdrSize(int32_t Value) { HdrSize_ = Value; }
  uint32_t BaseAddress() const { return BaseAddress_; }
  void SetBaseAddress(uint32_t Value) { BaseAddress_ = Value; }
  bool HeaderValid() const { return HeaderValid_; }
  void SetHeaderValid(bool Value) { HeaderValid_ = Value; }
  uint8_t* Buffer() { return Buffer_.data(); }
  const uint8_t* Buffer() const { return Buffer_.data(); }

 private:
  uint32_t Get(int32_t Offset) const;
  void Set(uint32_t Value, int32_t Offset);
  void CheckOffset(int32_t Offset, const char* Context) const;

  bool Dirty_ = false;
  int32_t HdrSize_ = GlobalHdrSize;
  std::vector<uint8_t> Buffer_;
  uint32_t BaseAddress_ = GlobalHdrAddress;
  bool HeaderValid_ = false;
};

// Reads and rewrites map pages through the disk manager, which holds the
// header lock around every change. Everything read from a map page is
// checked: a damaged map raises 0x2103 instead of being followed.
class ZEL_API TMapPageMgr : public plat::TObject {
 public:
  // PageSize must be a power of two from 256 to 32768: entries address
  // pages by shifting, free links hold 15-bit offsets, and the system area
  // must hold the global header.
  explicit TMapPageMgr(int32_t PageSize);

  std::string ClassName() const override { return "TMapPageMgr"; }

  void SetDiskMgr(TDiskMgr* Value) { DiskMgr_ = Value; }
  void SetGlobalHdr(TGlobalHdr* Value) { GlobalHdr_ = Value; }

  int32_t EntriesPerPage() const { return EntriesPerPage_; }
  int32_t PageShift() const { return PageShift_; }
  int32_t PageSize() const { return PageSize_; }
  // The map page last read.
  const uint8_t* MapBuffer() const { return Buffer_.data(); }
  uint32_t CurrentMapPageID() const { return DiskGetU32(Buffer_.data() + mpSequence); }

  // Address of Count consecutive free pages, now off their free list, or -1.
  int64_t FindEmptyPages(int32_t Count);
  // The same with 0 for none.
  uint32_t GetNextEmptyPageAddress(int32_t Count);
  // Gives Count pages from Address (inside one map page) the owner code
  // Flags, or frees them when Flags has bit 15 set. Freeing a page that is
  // free already leaves it free.
  void SetMapEntryFlags(uint32_t Flags, uint32_t Address, int32_t Count);
  // The same for a run that may cross map pages.
  void AdjustMapPageFlags(uint32_t Flags, uint32_t Address, int32_t Count);
  // Appends an empty map page to the chain; returns its address. The caller
  // counts it in the header.
  uint32_t AddNewMapPage();
  // Owner match: with Exact the code (Code shl 4) or Usage, else the table
  // ID (entry shr 4) equal to Code. Both add each matching page's address to
  // List; DeleteOwnedPages frees them too.
  void DeleteOwnedPages(uint32_t Code, uint32_t Usage, bool Exact, std::vector<uint32_t>& List);
  void ListPagesUsedByOwner(uint32_t Code, uint32_t Usage, bool Exact, std::vector<uint32_t>& List);
  // Reads map page N (0-based) into the buffer; returns its address.
  uint32_t SearchMapsForMapPage(uint32_t N);
  // The first map page whose free list is not empty, or 0.
  uint32_t SearchMapsForFirstEmptyMapPage();
  // Forgets the remembered chain addresses; called whenever the header is
  // read, since another process or a rollback may have changed the chain.
  void ResetMapChain() { Chain_.clear(); }

 private:
  bool Matches(uint16_t Entry, uint32_t PageNo, uint32_t Code, uint32_t Usage, bool Exact) const;
  // Writes Flags into one map page's run and keeps its list.
  void SetFlagsInPage(uint32_t Flags, uint32_t Address, int32_t Count);
  // Runs the owner-code marks of map pages added during a change.
  void MarkNewMapPages();
  void ReadMapPage(uint32_t Address);
  void WriteMapPage(uint32_t Address);
  // The free list of the buffered page, checked, into List (entry offsets).
  void CollectFreeList(std::vector<uint16_t>& List) const;
  // Rewrites the buffered page's free list from an ascending List.
  void StoreFreeList(const std::vector<uint16_t>& List);
  // Searches the buffered page for Count adjacent free entries; on success
  // takes them off the list and returns the first one's index, else -1.
  int32_t TakeRun(int32_t Count);
  void CheckMapAddress(uint32_t Address, int64_t FileEnd) const;
  bool ValidEntryOffset(uint32_t Offset) const;
  uint16_t Entry(uint32_t Offset) const { return DiskGetU16(Buffer_.data() + Offset); }
  void SetEntry(uint32_t Offset, uint16_t Value) { DiskPutU16(Buffer_.data() + Offset, Value); }
  // Keeps FirstMapPageEmpty right after the buffered page's list changed.
  void UpdateFirstMapPageEmpty(uint32_t MapAddress, bool ListEmpty);
  int64_t FileEnd() const;
  [[noreturn]] void Corrupt(const char* Context, const char* Message) const;

  int32_t EntriesPerPage_;
  int32_t PageShift_;
  int32_t PageSize_;
  std::vector<uint8_t> Buffer_;
  TDiskMgr* DiskMgr_ = nullptr;
  TGlobalHdr* GlobalHdr_ = nullptr;
  // Known addresses of the chain, by sequence number.
  std::vector<uint32_t> Chain_;
  // Map pages added during the running change whose own entry is still to
  // be marked.
  std::vector<uint32_t> Pending_;
  // Scratch lists for free-list edits, sized once.
  std::vector<uint16_t> List_;
  std::vector<uint16_t> Work_;
};

}  // namespace zel
