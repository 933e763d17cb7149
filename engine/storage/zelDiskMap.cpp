#include "engine/storage/zelDiskMap.h"

#include <algorithm>

#include "engine/storage/zelDisk.h"

namespace zel {

namespace {

// Map pages are the file's own: uncached and never encrypted, so each change
// is read fresh under the header lock.
constexpr uint32_t kMapAccessFlags = 0;
constexpr uint32_t kFreeLinkMask = 0x7FFF;

bool ValidPageSize(int32_t PageSize) {
  return PageSize >= 256 && PageSize <= 32768 && (PageSize & (PageSize - 1)) == 0;
}

}  // namespace

// ---------------------------------------------------------------- TGlobalHdr

void TGlobalHdr::Initialize() {
  if (HdrSize_ <= 0)
    ZelDatabaseError(0x2185, "TGlobalHdr.Initialize", "Unable to initialize header - size not set",
                     this);
  Buffer_.assign(static_cast<size_t>(HdrSize_), 0);
}

void TGlobalHdr::CheckOffset(int32_t Offset, const char* Context) const {
  // A field must lie wholly inside the header.
  if (Offset < 1 || static_cast<size_t>(Offset) + 4 > Buffer_.size())
    ZelDatabaseError(0x2185, Context, "DB Header. Item offset is out of range", this);
}

uint32_t TGlobalHdr::Get(int32_t Offset) const {
  CheckOffset(Offset, "TGlobalHdr.GlobalInterfaceGetHdrItem");
  return DiskGetU32(Buffer_.data() + Offset);
}

void TGlobalHdr::Set(uint32_t Value, int32_t Offset) {
  CheckOffset(Offset, "TGlobalHdr.GlobalInterfaceSetHdrItem");
  if (DiskGetU32(Buffer_.data() + Offset) == Value) return;
  DiskPutU32(Buffer_.data() + Offset, Value);
  Dirty_ = true;
}

uint32_t TGlobalHdr::GlobalInterfaceGetHdrItem(int32_t Offset) const {
  return Get(Offset);
}

void TGlobalHdr::GlobalInterfaceSetHdrItem(uint32_t Value, int32_t Offset) {
  Set(Value, Offset);
}

// ---------------------------------------------------------------- TMapPageMgr

TMapPageMgr::TMapPageMgr(int32_t PageSize)
    : EntriesPerPage_((PageSize - mpEntries) >> 1), PageShift_(0), PageSize_(PageSize) {
  if (!ValidPageSize(PageSize))
    ZelDatabaseError(0x2185, "TMapPageMgr.Create", "Invalid database page size", this);
  for (int32_t size = PageSize / 2; size > 0; size /= 2) ++PageShift_;
  Buffer_.assign(static_cast<size_t>(PageSize), 0);
  List_.reserve(static_cast<size_t>(EntriesPerPage_));
  Work_.reserve(static_cast<size_t>(EntriesPerPage_) + 1);
}

void TMapPageMgr::Corrupt(const char* Context, const char* Message) const {
  ZelDatabaseError(0x2103, Context, Message, this);
}

int64_t TMapPageMgr::FileEnd() const {
  return DiskMgr_->GetFileSize();
}

bool TMapPageMgr::ValidEntryOffset(uint32_t Offset) const {
  return Offset >= static_cast<uint32_t>(mpEntries) &&
         Offset < static_cast<uint32_t>(mpEntries + 2 * EntriesPerPage_) &&
         (Offset - mpEntries) % 2 == 0;
}

void TMapPageMgr::ReadMapPage(uint32_t Address) {
  DiskMgr_->ReadPages(Address, 1, Buffer_.data(), 0, kMapAccessFlags);
}

void TMapPageMgr::WriteMapPage(uint32_t Address) {
  DiskMgr_->WritePages(Address, 1, Buffer_.data(), 0, kMapAccessFlags);
}

void TMapPageMgr::CheckMapAddress(uint32_t Address, int64_t End) const {
  if (Address % static_cast<uint32_t>(PageSize_) != 0 ||
      Address < SystemAreaPages * static_cast<uint32_t>(PageSize_) ||
      int64_t{Address} + PageSize_ > End)
    Corrupt("TMapPageMgr.SearchMapsForMapPage", "Map Page address invalid");
}

void TMapPageMgr::CollectFreeList(std::vector<uint16_t>& List) const {
  List.clear();
  uint32_t offset = DiskGetU16(Buffer_.data() + mpFirstFree);
  if (offset == 0) return;
  if (!ValidEntryOffset(offset))
    Corrupt("TMapPageMgr.FindEmptyPages", "Empty segment found is invalid");
  // Strictly ascending links inside the entry area: the walk ends within
  // EntriesPerPage steps whatever the page holds.
  for (;;) {
    const uint16_t entry = Entry(offset);
    if ((entry & ocFree) == 0)
      Corrupt("TMapPageMgr.FindEmptyPages", "Free list holds a page in use");
    List.push_back(static_cast<uint16_t>(offset));
    const uint32_t next = entry & kFreeLinkMask;
    if (next == 0) return;
    if (!ValidEntryOffset(next) || next <= offset)
      Corrupt("TMapPageMgr.FindEmptyPages", "Free list is out of order");
    offset = next;
  }
}

void TMapPageMgr::StoreFreeList(const std::vector<uint16_t>& List) {
  DiskPutU16(Buffer_.data() + mpFirstFree, List.empty() ? 0 : List.front());
  for (size_t i = 0; i < List.size(); ++i) {
    const uint16_t next = i + 1 < List.size() ? List[i + 1] : 0;
    SetEntry(List[i], static_cast<uint16_t>(ocFree | next));
  }
}

int32_t TMapPageMgr::TakeRun(int32_t Count) {
  CollectFreeList(List_);
  const auto size = static_cast<int32_t>(List_.size());
  int32_t runStart = 0;
  int32_t found = -1;
  for (int32_t i = 0; i < size; ++i) {
    if (i > 0 && List_[i] != List_[i - 1] + 2) runStart = i;
    if (i - runStart + 1 >= Count) {
      found = runStart;
      break;
    }
  }
  if (found < 0) return -1;
  const int32_t index = (List_[found] - mpEntries) / 2;
  const int64_t firstPage = int64_t{CurrentMapPageID()} * EntriesPerPage_ + index;
  if ((firstPage + Count) << PageShift_ > FileEnd())
    Corrupt("TMapPageMgr.FindEmptyPages", "Free page lies beyond the end of the file");
  // The entries before the run stay on the list: its predecessor now links
  // past it.
  Work_.clear();
  Work_.insert(Work_.end(), List_.begin(), List_.begin() + found);
  Work_.insert(Work_.end(), List_.begin() + found + Count, List_.end());
  StoreFreeList(Work_);
  return index;
}

int64_t TMapPageMgr::FindEmptyPages(int32_t Count) {
  if (Count <= 0 || Count > EntriesPerPage_) return -1;
  const uint32_t hinted = GlobalHdr_->GetFirstMapPageEmpty();
  if (hinted == 0) return -1;
  const uint32_t count = GlobalHdr_->GetMapPageCount();
  // The hint must name a page of the chain; anything else is not followed.
  uint32_t hintedSeq = count;
  const auto known = std::find(Chain_.begin(), Chain_.end(), hinted);
  if (known != Chain_.end() && Chain_.front() == GlobalHdr_->GetFirstMapPage() &&
      static_cast<uint32_t>(known - Chain_.begin()) < count) {
    hintedSeq = static_cast<uint32_t>(known - Chain_.begin());
    SearchMapsForMapPage(hintedSeq);
  } else {
    for (uint32_t n = 0; n < count && hintedSeq == count; ++n)
      if (SearchMapsForMapPage(n) == hinted) hintedSeq = n;
  }
  if (hintedSeq == count) Corrupt("TMapPageMgr.FindEmptyPages", "Illegal map page address");
  int32_t index = TakeRun(Count);
  uint32_t seq = hintedSeq;
  uint32_t address = hinted;
  for (uint32_t n = 0; index < 0 && n < count; ++n) {
    if (n == hintedSeq) continue;
    address = SearchMapsForMapPage(n);
    seq = n;
    index = TakeRun(Count);
  }
  if (index < 0) return -1;
  WriteMapPage(address);
  return (int64_t{seq} * EntriesPerPage_ + index) << PageShift_;
}

uint32_t TMapPageMgr::GetNextEmptyPageAddress(int32_t Count) {
  const int64_t address = FindEmptyPages(Count);
  return address < 0 ? 0 : static_cast<uint32_t>(address);
}

uint32_t TMapPageMgr::SearchMapsForMapPage(uint32_t N) {
  const uint32_t count = GlobalHdr_->GetMapPageCount();
  if (N >= count)
    ZelDatabaseError(0x2185, "TMapPageMgr.SearchMapsForMapPage", "Map Page pageno invalid", this);
  const int64_t end = FileEnd();
  if (int64_t{count} > end / PageSize_)
    Corrupt("TMapPageMgr.SearchMapsForMapPage", "Map Page address invalid");
  const uint32_t first = GlobalHdr_->GetFirstMapPage();
  if (Chain_.empty() || Chain_.front() != first) Chain_.assign(1, first);
  uint32_t n = std::min<uint32_t>(N, static_cast<uint32_t>(Chain_.size()) - 1);
  uint32_t address = Chain_[n];
  // Each step reads the next page and checks its sequence number, so the
  // walk takes at most N + 1 reads and cannot loop.
  for (;;) {
    CheckMapAddress(address, end);
    ReadMapPage(address);
    if (CurrentMapPageID() != n)
      Corrupt("TMapPageMgr.SearchMapsForMapPage", "Map Page address invalid");
    if (n == N) return address;
    const uint32_t next = DiskGetU32(Buffer_.data() + mpNextMapPage);
    if (next == 0) Corrupt("TMapPageMgr.SearchMapsForMapPage", "Map Page address invalid");
    ++n;
    if (Chain_.size() == n) Chain_.push_back(next);
    address = next;
  }
}

uint32_t TMapPageMgr::SearchMapsForFirstEmptyMapPage() {
  const uint32_t count = GlobalHdr_->GetMapPageCount();
  for (uint32_t n = 0; n < count; ++n) {
    const uint32_t address = SearchMapsForMapPage(n);
    if (DiskGetU16(Buffer_.data() + mpFirstFree) != 0) return address;
  }
  return 0;
}

uint32_t TMapPageMgr::AddNewMapPage() {
  const uint32_t count = GlobalHdr_->GetMapPageCount();
  if (count == 0) Corrupt("TMapPageMgr.AddNewMapPage", "Map Page address invalid");
  std::fill(Buffer_.begin(), Buffer_.end(), 0);
  DiskPutU32(Buffer_.data() + mpSequence, count);
  const uint32_t address = DiskMgr_->AppendNewPages(Buffer_.data(), 1, 0, kMapAccessFlags);
  const uint32_t previous = SearchMapsForMapPage(count - 1);
  DiskPutU32(Buffer_.data() + mpNextMapPage, address);
  WriteMapPage(previous);
  if (Chain_.size() == count) Chain_.push_back(address);
  std::fill(Buffer_.begin(), Buffer_.end(), 0);
  DiskPutU32(Buffer_.data() + mpSequence, count);
  return address;
}

void TMapPageMgr::UpdateFirstMapPageEmpty(uint32_t MapAddress, bool ListEmpty) {
  const uint32_t hinted = GlobalHdr_->GetFirstMapPageEmpty();
  if (ListEmpty) {
    // Pages before the hinted one have no free entries, so only emptying
    // the hinted page moves the hint.
    if (hinted == MapAddress) GlobalHdr_->SetFirstMapPageEmpty(SearchMapsForFirstEmptyMapPage());
    return;
  }
  // Map pages are appended, so a lower address is an earlier page.
  if (hinted == 0 || MapAddress < hinted) GlobalHdr_->SetFirstMapPageEmpty(MapAddress);
}

void TMapPageMgr::SetFlagsInPage(uint32_t Flags, uint32_t Address, int32_t Count) {
  if (Count <= 0) return;
  const char* context = "TMapPageMgr.SetMapEntryFlags";
  const char* corrupted = "Error in setting map flags - mapping corrupted";
  if (Address % static_cast<uint32_t>(PageSize_) != 0)
    ZelDatabaseError(0x2185, context, corrupted, this);
  const uint32_t pageNo = Address >> PageShift_;
  const uint32_t mapNo = pageNo / static_cast<uint32_t>(EntriesPerPage_);
  const uint32_t index = pageNo % static_cast<uint32_t>(EntriesPerPage_);
  if (index + static_cast<uint32_t>(Count) > static_cast<uint32_t>(EntriesPerPage_))
    ZelDatabaseError(0x2185, context, corrupted, this);
  const bool freeing = (Flags & ocFree) != 0;
  const uint32_t count = GlobalHdr_->GetMapPageCount();
  if (freeing ? mapNo >= count : mapNo > count) ZelDatabaseError(0x2185, context, corrupted, this);
  if (freeing) {
    // The system area stays put, and only pages that exist can be free.
    if (pageNo < SystemAreaPages || (int64_t{pageNo} + Count) * PageSize_ > FileEnd())
      ZelDatabaseError(0x2185, context, corrupted, this);
  }

  uint32_t mapAddress;
  if (mapNo == count) {
    mapAddress = AddNewMapPage();
    GlobalHdr_->SetMapPageCount(count + 1);
    Pending_.push_back(mapAddress);
  } else {
    mapAddress = SearchMapsForMapPage(mapNo);
  }

  CollectFreeList(List_);
  const auto first = static_cast<uint16_t>(mpEntries + 2 * index);
  const auto end = static_cast<uint16_t>(first + 2 * Count);
  Work_.clear();
  size_t p = 0;
  while (p < List_.size() && List_[p] < first) Work_.push_back(List_[p++]);
  if (freeing) {
    for (uint16_t offset = first; offset < end; offset += 2) {
      if (Entry(offset) == ocMapPage) ZelDatabaseError(0x2185, context, corrupted, this);
      Work_.push_back(offset);
    }
  }
  while (p < List_.size() && List_[p] < end) ++p;
  while (p < List_.size()) Work_.push_back(List_[p++]);
  StoreFreeList(Work_);
  if (!freeing) {
    for (uint16_t offset = first; offset < end; offset += 2)
      SetEntry(offset, static_cast<uint16_t>(Flags));
  }
  WriteMapPage(mapAddress);
  UpdateFirstMapPageEmpty(mapAddress, Work_.empty());
}

void TMapPageMgr::MarkNewMapPages() {
  // Marking a map page's own entry may itself need the next map page.
  while (!Pending_.empty()) {
    const uint32_t address = Pending_.front();
    Pending_.erase(Pending_.begin());
    SetFlagsInPage(ocMapPage, address, 1);
  }
}

void TMapPageMgr::SetMapEntryFlags(uint32_t Flags, uint32_t Address, int32_t Count) {
  try {
    SetFlagsInPage(Flags, Address, Count);
    MarkNewMapPages();
  } catch (...) {
    Pending_.clear();
    throw;
  }
}

void TMapPageMgr::AdjustMapPageFlags(uint32_t Flags, uint32_t Address, int32_t Count) {
  if (Address % static_cast<uint32_t>(PageSize_) != 0)
    ZelDatabaseError(0x2185, "TMapPageMgr.AdjustMapPageFlags",
                     "Error in setting map flags - mapping corrupted", this);
  try {
    uint32_t pageNo = Address >> PageShift_;
    while (Count > 0) {
      const auto index = static_cast<int32_t>(pageNo % static_cast<uint32_t>(EntriesPerPage_));
      const int32_t n = std::min(Count, EntriesPerPage_ - index);
      SetFlagsInPage(Flags, pageNo << PageShift_, n);
      pageNo += static_cast<uint32_t>(n);
      Count -= n;
    }
    MarkNewMapPages();
  } catch (...) {
    Pending_.clear();
    throw;
  }
}

bool TMapPageMgr::Matches(uint16_t Entry, uint32_t PageNo, uint32_t Code, uint32_t Usage,
                          bool Exact) const {
  if (Entry == 0 || (Entry & ocFree) != 0) return false;
  // The system area and the map itself belong to no table, whatever their
  // codes look like.
  if (PageNo < SystemAreaPages || Entry == ocMapPage) return false;
  if (Exact) return Entry == static_cast<uint16_t>((Code << 4) | Usage);
  return static_cast<uint32_t>(Entry >> 4) == Code;
}

void TMapPageMgr::ListPagesUsedByOwner(uint32_t Code, uint32_t Usage, bool Exact,
                                       std::vector<uint32_t>& List) {
  const uint32_t count = GlobalHdr_->GetMapPageCount();
  for (uint32_t n = 0; n < count; ++n) {
    SearchMapsForMapPage(n);
    for (int32_t i = 0; i < EntriesPerPage_; ++i) {
      const uint32_t pageNo = n * static_cast<uint32_t>(EntriesPerPage_) + static_cast<uint32_t>(i);
      if (Matches(Entry(static_cast<uint32_t>(mpEntries + 2 * i)), pageNo, Code, Usage, Exact))
        List.push_back(pageNo << PageShift_);
    }
  }
}

void TMapPageMgr::DeleteOwnedPages(uint32_t Code, uint32_t Usage, bool Exact,
                                   std::vector<uint32_t>& List) {
  const uint32_t count = GlobalHdr_->GetMapPageCount();
  uint32_t firstWithFree = 0;
  for (uint32_t n = 0; n < count; ++n) {
    const uint32_t address = SearchMapsForMapPage(n);
    CollectFreeList(List_);
    Work_.clear();
    bool changed = false;
    size_t p = 0;
    for (int32_t i = 0; i < EntriesPerPage_; ++i) {
      const auto offset = static_cast<uint16_t>(mpEntries + 2 * i);
      if (p < List_.size() && List_[p] == offset) {
        Work_.push_back(List_[p++]);
        continue;
      }
      const uint32_t pageNo = n * static_cast<uint32_t>(EntriesPerPage_) + static_cast<uint32_t>(i);
      if (!Matches(Entry(offset), pageNo, Code, Usage, Exact)) continue;
      List.push_back(pageNo << PageShift_);
      Work_.push_back(offset);
      changed = true;
    }
    if (changed) {
      StoreFreeList(Work_);
      WriteMapPage(address);
    }
    if (firstWithFree == 0 && !Work_.empty()) firstWithFree = address;
  }
  GlobalHdr_->SetFirstMapPageEmpty(firstWithFree);
}

}  // namespace zel
