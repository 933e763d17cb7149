#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>

#include "engine/storage/zelCommon.h"
#include "engine/storage/zelDataTableHdr.h"

namespace zel {

namespace {

// Indexes a header has room for.
constexpr int32_t kMaxIndexes = (TableHeaderBlockSize - TableHeaderFixedSize) / thIndexSlotSize;
// The part of a header block read to learn its size.
constexpr int32_t kSizeProbe = 64;

uint32_t LoadU32(const uint8_t* P) {
  return uint32_t{P[0]} | (uint32_t{P[1]} << 8) | (uint32_t{P[2]} << 16) | (uint32_t{P[3]} << 24);
}

void StoreU32(uint8_t* P, uint32_t V) {
  for (int i = 0; i < 4; ++i) P[i] = static_cast<uint8_t>(V >> (8 * i));
}

std::string TableHeaderText(const char* Resource) {
  return std::string("Table header: ") + Resource;
}

}  // namespace

// ---------------------------------------------------------------- TTableHeader

TTableHeader::TTableHeader(plat::TCollection* Collection) : plat::TCollectionItem(Collection) {}

// Headers are made by their manager's Add only, so the collection is one;
// the header is reached on every lock of a table, too often for a cast that
// checks.
TTableHeaderMgr* TTableHeader::Mgr() const { return static_cast<TTableHeaderMgr*>(Collection()); }

void TTableHeader::OffsetError(const char* Context) const {
  ZelDatabaseError(0x2185, Context, TableHeaderText(SzelOffsetValueIsOutOfRange), this);
}

void TTableHeader::SlotError(const char* Context) const {
  ZelDatabaseError(0x2185, Context, TableHeaderText(SzelIndexFieldOutOfRange), this);
}

void TTableHeader::SetHeaderSize(int32_t Size) {
  ResetHeaderSize(Size, true);
}

void TTableHeader::ResetHeaderSize(int32_t Size, bool Clear) {
  // The size is stored inside the header, so the header holds at least its
  // fixed fields; it lives in one block.
  if (Size < TableHeaderFixedSize || Size > TableHeaderBlockSize)
    ZelDatabaseError(0x2185, "TTableHeader.SetHeaderSize",
                     TableHeaderText(SzelOffsetValueIsOutOfRange), this);
  std::vector<uint8_t> buffer(static_cast<size_t>(Size), 0);
  if (!Clear) std::copy_n(Buffer_.begin(), std::min(Buffer_.size(), buffer.size()), buffer.begin());
  Buffer_.swap(buffer);
  StoreU32(Buffer_.data() + thHeaderSize, static_cast<uint32_t>(Size));
}

void TTableHeader::ClearHeader() {
  std::fill(Buffer_.begin(), Buffer_.end(), 0);
}

TBaseIOInterface& TTableHeader::Store(const char* Context) const {
  TTableHeaderMgr* mgr = Mgr();
  if (Buffer_.empty() || mgr == nullptr || mgr->IOInterface() == nullptr)
    ZelDatabaseError(0x2180, Context, "", this);
  return *mgr->IOInterface();
}

void TTableHeader::CheckIndexSlots(const std::vector<uint8_t>& Buffer) const {
  const uint32_t count = LoadU32(Buffer.data() + thIndexCount);
  const uint64_t end = thIndexSlots + uint64_t{thIndexSlotSize} * count;
  if (end > Buffer.size())
    ZelDatabaseError(0x2103, "TTableHeader.ReadHeader",
                     "Table header index count " + std::to_string(count) + " is out of range",
                     this);
  // A tree has a root page and a depth, an unused slot neither.
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* slot = Buffer.data() + thIndexSlots + thIndexSlotSize * i;
    if ((LoadU32(slot) == 0) != ((slot[4] | slot[5]) == 0))
      ZelDatabaseError(0x2103, "TTableHeader.ReadHeader",
                       "Table header index slot " + std::to_string(i) + " is damaged", this);
  }
}

void TTableHeader::ReadHeader() {
  TBaseIOInterface& store = Store("TTableHeader.ReadHeader");
  const uint32_t oldFlag = LoadU32(Buffer_.data() + thModifiedFlag);
  std::vector<uint8_t> buffer(Buffer_.size());
  store.ReadBlock(BaseAddress_, static_cast<int32_t>(buffer.size()), buffer.data());
  // A header whose stored size disagrees with the block it was opened with
  // is not this table's header any more.
  if (LoadU32(buffer.data() + thHeaderSize) != Buffer_.size())
    ZelDatabaseError(0x2103, "TTableHeader.ReadHeader", "Table header size is invalid", this);
  CheckIndexSlots(buffer);
  Buffer_.swap(buffer);
  Dirty_ = false;
  const uint32_t newFlag = LoadU32(Buffer_.data() + thModifiedFlag);
  if (oldFlag == 0 || oldFlag != newFlag) store.NotifyPageChange(GetTableID());
}

void TTableHeader::WriteHeader() {
  TBaseIOInterface& store = Store("TTableHeader.WriteHeader");
  SetModifiedFlag(GetModifiedFlag() + 1);
  store.WriteBlock(BaseAddress_, static_cast<int32_t>(Buffer_.size()), Buffer_.data());
  Dirty_ = false;
}

// ---------------------------------------------------------------- TTableHeaderMgr

TTableHeaderMgr::TTableHeaderMgr() : plat::TCollection(plat::CollectionItemClass<TTableHeader>()) {}

TTableHeaderMgr::~TTableHeaderMgr() {
  Clear();
}

uint32_t TTableHeaderMgr::MapTableID(int32_t I) const {
  PLAT_ASSERT(I >= 0 && I < TableMapEntries, "Table map entry out of range");
  return LoadU32(Map_.data() + I * TableMapEntrySize);
}

uint32_t TTableHeaderMgr::MapAddress(int32_t I) const {
  PLAT_ASSERT(I >= 0 && I < TableMapEntries, "Table map entry out of range");
  return LoadU32(Map_.data() + I * TableMapEntrySize + 4);
}

void TTableHeaderMgr::CheckOpen(const char* Context) const {
  if (IOInterface_ == nullptr) ZelDatabaseError(0x2180, Context, "", this);
}

void TTableHeaderMgr::Open(TBaseIOInterface* IOInterface) {
  if (BaseAddress_ == 0)
    ZelDatabaseError(0x2185, "TTableHeaderMgr.Open",
                     "Base address of table header mapper has not been set", this);
  IOInterface_ = IOInterface;
  CheckOpen("TTableHeaderMgr.Open");
  InternalReadMap();
}

void TTableHeaderMgr::Close() {
  // Every header is freed even when writing one fails; the first failure
  // is reported afterwards.
  std::exception_ptr failure;
  for (int32_t i = 0; i < Count(); ++i) {
    TTableHeader* header = Items(i);
    if (!header->Dirty()) continue;
    try {
      header->WriteHeader();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  Clear();
  if (failure) std::rethrow_exception(failure);
}

void TTableHeaderMgr::CheckMap() const {
  std::array<bool, TableMapEntries> used{};
  bool ended = false;
  for (int32_t i = 0; i < TableMapEntries; ++i) {
    const uint32_t id = MapTableID(i);
    if (id == 0) {
      ended = true;
      continue;
    }
    const uint32_t offset = id - BaseTableID_;
    if (ended || id < BaseTableID_ || offset >= TableMapEntries || used[offset] ||
        MapAddress(i) == 0)
      ZelDatabaseError(0x2103, "TTableHeaderMgr.InternalReadMap",
                       "Table map entry " + std::to_string(i) + " is invalid", this);
    used[offset] = true;
  }
}

void TTableHeaderMgr::InternalReadMap() {
  CheckOpen("TTableHeaderMgr.InternalReadMap");
  std::array<uint8_t, TableMapSize> map{};
  IOInterface_->ReadBlock(BaseAddress_, TableMapSize, map.data());
  Map_.swap(map);
  try {
    CheckMap();
  } catch (...) {
    Map_.swap(map);
    throw;
  }
}

void TTableHeaderMgr::InternalWriteMap() {
  CheckOpen("TTableHeaderMgr.InternalWriteMap");
  IOInterface_->WriteBlock(BaseAddress_, TableMapSize, Map_.data());
}

bool TTableHeaderMgr::FindTableHeaderInMap(uint32_t TableID, int32_t& Index) const {
  for (int32_t i = 0; i < TableMapEntries; ++i) {
    const uint32_t id = MapTableID(i);
    if (id == 0) break;
    if (id == TableID) {
      Index = i;
      return true;
    }
  }
  Index = -1;
  return false;
}

TTableHeader* TTableHeaderMgr::FindHdrItemByID(uint32_t TableID) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (!Items(i)->Buffer().empty() && Items(i)->GetTableID() == TableID) return Items(i);
  return nullptr;
}

int32_t TTableHeaderMgr::ReadHeaderSize(uint32_t Addr) {
  CheckOpen("TTableHeaderMgr.ReadHeaderSize");
  uint8_t probe[kSizeProbe];
  IOInterface_->ReadBlock(Addr, kSizeProbe, probe);
  const uint32_t size = LoadU32(probe + thHeaderSize);
  if (size < TableHeaderFixedSize || size > TableHeaderBlockSize)
    ZelDatabaseError(0x2103, "TTableHeaderMgr.ReadHeaderSize",
                     "Table header size " + std::to_string(size) + " is invalid", this);
  return static_cast<int32_t>(size);
}

uint32_t TTableHeaderMgr::AddTableHeaderToMap(uint32_t Addr) {
  std::array<bool, TableMapEntries> used{};
  int32_t freeEntry = -1;
  for (int32_t i = 0; i < TableMapEntries; ++i) {
    const uint32_t id = MapTableID(i);
    if (id == 0) {
      if (freeEntry < 0) freeEntry = i;
      continue;
    }
    used[id - BaseTableID_] = true;
  }
  const auto lowest = std::find(used.begin(), used.end(), false);
  if (freeEntry < 0 || lowest == used.end())
    ZelDatabaseError(0x2581, "TTableHeaderMgr.AddTable", "", this);
  const uint32_t tableID = BaseTableID_ + static_cast<uint32_t>(lowest - used.begin());
  uint8_t* entry = Map_.data() + freeEntry * TableMapEntrySize;
  StoreU32(entry, tableID);
  StoreU32(entry + 4, Addr);
  InternalWriteMap();
  return tableID;
}

uint32_t TTableHeaderMgr::AddTable(int32_t IndexCount) {
  CheckOpen("TTableHeaderMgr.AddTable");
  InternalReadMap();
  if (MapTableID(TableMapEntries - 1) != 0)
    ZelDatabaseError(0x2581, "TTableHeaderMgr.AddTable", "", this);
  if (IndexCount < 0 || IndexCount > kMaxIndexes)
    ZelDatabaseErrorFmt(0x250F, "TTableHeaderMgr.AddTable", SzelMaxLimitFmt, {kMaxIndexes}, this);
  const int32_t size = CalcTableHeaderSize(IndexCount);
  IOInterface_->SetFirstEmptyValid(false);
  const std::vector<uint8_t> zeros(static_cast<size_t>(size), 0);
  const uint32_t addr = IOInterface_->AllocateNewAddress(size, zeros.data());
  uint32_t tableID = 0;
  try {
    tableID = AddTableHeaderToMap(addr);
    Closed_.erase(tableID);
    auto* header = static_cast<TTableHeader*>(Add());
    std::unique_ptr<TTableHeader> owner(header);
    header->SetBaseAddress(addr);
    header->SetHeaderSize(size);
    header->SetIndexCount(IndexCount);
    header->SetTableID(tableID);
    header->WriteHeader();
  } catch (...) {
    // The block (and the map entry, when it was made) are given back, so a
    // failed add leaves no table behind.
    try {
      int32_t index = -1;
      if (tableID != 0 && FindTableHeaderInMap(tableID, index)) {
        std::memset(Map_.data() + index * TableMapEntrySize, 0, TableMapEntrySize);
        InternalWriteMap();
      }
      IOInterface_->SetFirstEmptyValid(false);
      IOInterface_->ReleaseBlock(addr, size);
    } catch (...) {
    }
    throw;
  }
  return tableID;
}

TTableHeader* TTableHeaderMgr::OpenTable(uint32_t TableID) {
  if (TTableHeader* open = FindHdrItemByID(TableID)) {
    open->SetUserCount(open->UserCount() + 1);
    return open;
  }
  CheckOpen("TTableHeaderMgr.OpenTable");
  const auto closed = Closed_.find(TableID);
  uint32_t addr = 0;
  int32_t size = 0;
  if (closed != Closed_.end()) {
    addr = closed->second.Address;
    size = closed->second.Size;
  } else {
    InternalReadMap();
    int32_t index = -1;
    if (!FindTableHeaderInMap(TableID, index))
      ZelDatabaseError(0x2185, "TTableHeaderMgr.OpenTable",
                       "The TableID could not be found: " + std::to_string(TableID), this);
    addr = MapAddress(index);
    size = ReadHeaderSize(addr);
  }
  auto* header = static_cast<TTableHeader*>(Add());
  std::unique_ptr<TTableHeader> owner(header);
  header->SetHeaderSize(size);
  header->SetBaseAddress(addr);
  header->SetTableID(TableID);
  // As if the header had stayed open: the cached pages are dropped only
  // when the table changed since.
  if (closed != Closed_.end()) header->SetModifiedFlag(closed->second.ModifiedFlag);
  header->ReadHeader();
  if (header->GetTableID() != TableID)
    ZelDatabaseError(0x2103, "TTableHeaderMgr.OpenTable",
                     "Table header of " + std::to_string(TableID) + " names another table", this);
  header->SetUserCount(1);
  header->SetDirty(false);
  return owner.release();
}

void TTableHeaderMgr::CloseTable(TTableHeader* Header) {
  if (Header == nullptr)
    ZelDatabaseError(0x2185, "TTableHeaderMgr.CloseTable", SzelObjectNotAssigned, this);
  Header->SetUserCount(Header->UserCount() - 1);
  if (Header->UserCount() > 0) return;
  std::unique_ptr<TTableHeader> owner(Header);
  if (Header->Dirty()) Header->WriteHeader();
  if (!Header->Buffer().empty())
    Closed_[Header->GetTableID()] = {Header->BaseAddress(), Header->GetHeaderSize(),
                                     Header->GetModifiedFlag()};
}

void TTableHeaderMgr::DeleteTable(uint32_t TableID) {
  CheckOpen("TTableHeaderMgr.DeleteTable");
  InternalReadMap();
  int32_t index = -1;
  if (!FindTableHeaderInMap(TableID, index))
    ZelDatabaseError(0x2183, "TTableHeaderMgr.DeleteTable", "Delete table", this);
  const uint32_t addr = MapAddress(index);
  const int32_t size = ReadHeaderSize(addr);
  Closed_.erase(TableID);
  IOInterface_->SetFirstEmptyValid(false);
  IOInterface_->ReleaseBlock(addr, size);
  const int32_t last = TableMapEntries - 1;
  uint8_t* base = Map_.data();
  std::memmove(base + index * TableMapEntrySize, base + (index + 1) * TableMapEntrySize,
               static_cast<size_t>((last - index) * TableMapEntrySize));
  std::memset(base + last * TableMapEntrySize, 0, TableMapEntrySize);
  InternalWriteMap();
}

}  // namespace zel
