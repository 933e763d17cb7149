// TNode: one B-tree page in memory.

#include <algorithm>
#include <cstring>

#include "engine/storage/zelCommon.h"
#include "engine/storage/zelDiskCache.h"
#include "engine/storage/zelIndexTree.h"

namespace zel {

using ix::LoadU16;
using ix::LoadU32;
using ix::StoreU32;

namespace {

[[noreturn]] void NodeError(const TNode* Node, const char* Context, const std::string& Detail) {
  ZelDatabaseError(0x2185, Context, Detail, Node);
}

}  // namespace

void TNode::CheckOpen(const char* Context) const {
  if (!IsOpen()) NodeError(this, Context, "Node Buffer not allocated");
}

void TNode::Open(TBTree* Tree, TBaseIOInterface* IOInterface, int32_t PageSize) {
  Tree_ = Tree;
  IOInterface_ = IOInterface;
  PageSize_ = PageSize;
  SlotSize_ = Tree->Format().MaximumKeySize();
  MinKeySize_ = Tree->Format().MinimumKeySize();
  const size_t size = static_cast<size_t>(PageSize) + 2 * static_cast<size_t>(SlotSize_);
  // A buffer of the same size is cleared now; another is made when used.
  if (Buffer_.size() == size)
    std::fill(Buffer_.begin(), Buffer_.end(), uint8_t{0});
  else
    Buffer_.clear();
  BufferSize_ = size;
  DropView();
  Address_ = 0;
  Cursor_ = 0;
  PositionsValid_ = false;
}

void TNode::CheckHeader() const {
  const uint8_t* page = View_ != nullptr ? View_ : Buffer();
  const uint32_t leaf = LoadU32(page + ndLeaf);
  const int64_t used = LoadU32(page + ndUsed);
  if (leaf > 1)
    ZelDatabaseErrorFmt(0x2305, "TNode.ReadNode", "Page %u has leaf flag %u", {Address_, leaf},
                        this);
  if (used > PageSize_ - NodeHeaderSize)
    ZelDatabaseErrorFmt(0x2305, "TNode.ReadNode", "Page %u has %d bytes used",
                        {Address_, static_cast<int32_t>(std::min<int64_t>(used, INT32_MAX))}, this);
  if (Tree_->Format().KeyType() == ikFixed && used % SlotSize_ != 0)
    ZelDatabaseErrorFmt(0x2305, "TNode.ReadNode", "Page %u has %d bytes used in slots of %d",
                        {Address_, static_cast<int32_t>(used), SlotSize_}, this);
}

void TNode::ReadNode(uint32_t Addr, bool Force) {
  CheckOpen("TNode.ReadNode");
  // A page already here keeps its cursor: the tree's path relies on it.
  if (!Force && Addr != 0 && Addr == Address_) return;
  Cursor_ = 0;
  // Read again, a page viewed in the cache unchanged since is what the
  // store holds: no lookup.
  if (Addr != 0 && Addr == Address_ && View_ != nullptr && (ViewCurrent() || ConfirmView())) return;
  Address_ = 0;
  PositionsValid_ = false;
  DropView();
  Load(Addr);
}

bool TNode::TakeView(uint32_t Addr, TPageNotes*& Notes) {
  Notes = nullptr;
  View_ = IOInterface_->BlockInPlace(Addr, PageSize_, Notes, Changes_, Slots_);
  if (View_ == nullptr || Slots_ == nullptr) {
    View_ = nullptr;
    ViewNotes_ = nullptr;
    Changes_.reset();
    Slots_.reset();
    Notes = nullptr;
    return false;
  }
  Seen_ = *Changes_;
  SeenSlots_ = *Slots_;
  ViewNotes_ = Notes;
  ViewStamp_ = Notes != nullptr ? Notes->Stamp : 0;
  return true;
}

void TNode::Load(uint32_t Addr) {
  TPageNotes* notes = nullptr;
  if (!TakeView(Addr, notes)) IOInterface_->ReadBlock(Addr, PageSize_, Buffer());
  Address_ = Addr;
  try {
    CheckHeader();
  } catch (...) {
    Address_ = 0;
    DropView();
    throw;
  }
  if (Tree_->Format().KeyType() == ikFixed) return;
  // Entry positions are worked out once per cached page and kept with it.
  if (notes == nullptr) notes = IOInterface_->BlockNotes(Addr);
  if (notes == nullptr) return;
  if (notes->Valid) {
    Positions_ = notes->Offsets;
    PositionsValid_ = true;
    return;
  }
  try {
    notes->Offsets = Positions();
    notes->Valid = true;
  } catch (const EZelDatabaseError&) {
    // A damaged entry is reported where it is used, as before.
  }
}

void TNode::TakeViewAgain() const {
  // The cache changed since the page was taken: unless the page kept its
  // buffer and its bytes, the buffer may hold another page now, or this
  // page with other bytes. Take it again, positions too.
  if (ConfirmView()) return;
  auto* self = const_cast<TNode*>(this);
  const uint32_t addr = Address_;
  const int32_t cursor = Cursor_;
  self->DropView();
  self->PositionsValid_ = false;
  self->Load(addr);
  self->Cursor_ = cursor;
}

void TNode::Own() {
  const uint8_t* page = Page();
  if (View_ == nullptr) return;
  std::memcpy(Buffer(), page, static_cast<size_t>(PageSize_));
  DropView();
}

uint8_t* TNode::MutableEntryAt(int32_t Pos) {
  EntryLength(Pos);
  return Entries() + Pos;
}

bool TNode::SetCountInPlace(int32_t Pos, uint32_t Count) {
  if (View_ == nullptr && !Synced_) return false;
  EntryLength(Pos);
  uint8_t* page = View_;
  TPageNotes* notes = nullptr;
  std::shared_ptr<uint64_t> changes, slots;
  if (page == nullptr) {
    if (!Synced_) return false;
    // The cached page holds the buffer's bytes: both take the count.
    page = IOInterface_->BlockInPlace(Address_, PageSize_, notes, changes, slots);
    if (page == nullptr) return false;
    StoreU32(Buffer() + NodeHeaderSize + Pos + keCount, Count);
  }
  StoreU32(page + NodeHeaderSize + Pos + keCount, Count);
  // The entries stay where they are: their known positions stay with the
  // page when it is marked written.
  if (notes == nullptr) notes = HeldNotes();
  if (notes == nullptr) notes = IOInterface_->BlockNotes(Address_);
  const bool known = notes != nullptr && notes->Valid;
  // A page the transaction changed already is read in place from now on,
  // so that the next count needs no lookup of the page.
  if (MarkWritten(notes, page) && page != View_) AdoptView(page, notes, changes, slots);
  if (known) notes->Valid = true;
  if (page == View_) SeeOwnWrite();
  return true;
}

bool TNode::ChangeInPlace() {
  if (View_ == nullptr) return false;
  const uint8_t* page = Page();
  if (View_ == nullptr || page != View_) return false;
  InPlace_ = true;
  ChangedInPlace_ = false;
  return true;
}

bool TNode::MarkWritten(TPageNotes* Notes, const uint8_t* Page) {
  // A page the transaction changed before is marked written again without
  // a lookup or the checks its first write made.
  if (Notes != nullptr && IOInterface_->RewriteBlockByRef(Address_, *Notes)) return true;
  IOInterface_->WriteBlockByRef(Address_, PageSize_, Page);
  return false;
}

void TNode::AdoptView(uint8_t* Page, TPageNotes* Notes, std::shared_ptr<uint64_t>& Changes,
                      std::shared_ptr<uint64_t>& Slots) {
  if (Notes == nullptr || Changes == nullptr || Slots == nullptr) return;
  View_ = Page;
  ViewNotes_ = Notes;
  Changes_ = std::move(Changes);
  Slots_ = std::move(Slots);
  Synced_ = false;
  SeeOwnWrite();
}

void TNode::WriteNode() {
  CheckOpen("TNode.WriteNode");
  if (InPlace_) {
    InPlace_ = false;
    if (!ChangedInPlace_) return;
    ChangedInPlace_ = false;
    // The page is where the changes left it, whatever the cache counted
    // since (a sibling changed in place alongside may have been written
    // first): it is not taken again.
    PLAT_ASSERT(static_cast<int32_t>(LoadU32(View_ + ndUsed)) <= PageSize_ - NodeHeaderSize,
                "Index page overflow on write");
    MarkWritten(HeldNotes(), View_);
    // The change is this node's own: its view stays, with the positions.
    SeeOwnWrite();
    if (PositionsValid_ && Tree_->Format().KeyType() != ikFixed) {
      TPageNotes* notes = ViewNotes_ != nullptr ? ViewNotes_ : IOInterface_->BlockNotes(Address_);
      if (notes != nullptr) KeepPositions(*notes);
    }
    return;
  }
  // A page read in place and not changed is the cached page itself; a
  // buffer not changed since it was written is what the page holds.
  if (View_ != nullptr || Synced_) return;
  PLAT_ASSERT(Used() <= PageSize_ - NodeHeaderSize, "Index page overflow on write");
  IOInterface_->WriteBlock(Address_, PageSize_, Buffer());
  Synced_ = true;
  // A memory store's block now holds the buffer's bytes: read in place
  // again, later count changes and inserts go straight into it instead of
  // through the buffer and a copy of the whole page. (A cached disk page
  // is changed through the buffer again more often than not: it stays
  // there.)
  TPageNotes* notes = nullptr;
  if (IOInterface_->IOMode() != iomMemory || !TakeView(Address_, notes))
    notes = IOInterface_->BlockNotes(Address_);
  // The page's entry positions, when known, go with it.
  if (notes != nullptr && PositionsValid_ && Tree_->Format().KeyType() != ikFixed)
    KeepPositions(*notes);
}

void TNode::SetAddress(uint32_t Addr) {
  CheckOpen("TNode.SetAddress");
  if (Addr == Address_) return;
  Wipe(CheckIsLeaf());
  Address_ = Addr;
  Cursor_ = 0;
}

void TNode::ClearNode() {
  CheckOpen("TNode.ClearNode");
  Wipe(CheckIsLeaf());
  Cursor_ = 0;
}

void TNode::Wipe(bool Leaf) {
  DropView();
  if (!Buffer_.empty()) std::fill(Buffer_.begin(), Buffer_.end(), uint8_t{0});
  SetLeaf(Leaf);
  // An empty page: no entries, so their positions are known (slots of one
  // size need none).
  Positions_.clear();
  PositionsValid_ = Tree_->Format().KeyType() != ikFixed;
}

void TNode::SetLeaf(bool Leaf) {
  StoreU32(MutablePage() + ndLeaf, Leaf ? 1 : 0);
}

bool TNode::CheckNodeFull() const {
  return Used() + NodeHeaderSize + SlotSize_ >= PageSize_;
}

void TNode::CopyFrom(const TNode& Source) {
  const uint8_t* from = Source.Page();
  const size_t size = Source.View_ != nullptr ? static_cast<size_t>(Source.PageSize_)
                                              : std::min(BufferSize_, Source.BufferSize_);
  DropView();
  std::memcpy(Buffer(), from, std::min(BufferSize_, size));
  Cursor_ = 0;
  PositionsValid_ = false;
}

// ---------------------------------------------------------------- entries

void TNode::BadEntry(int32_t Pos) const {
  const int32_t used = Used();
  if (Pos < 0 || Pos + MinKeySize_ > used)
    ZelDatabaseErrorFmt(0x2305, "TNode.EntryLength", "Entry at %d of page %u past %d used",
                        {Pos, Address_, used}, this);
  ZelDatabaseErrorFmt(0x2305, "TNode.EntryLength", "Entry at %d of page %u has length %d",
                      {Pos, Address_, static_cast<int32_t>(LoadU16(Entries() + Pos))}, this);
}

const std::vector<int32_t>& TNode::Positions() const {
  if (PositionsValid_) return Positions_;
  Positions_.clear();
  const int32_t used = Used();
  const int32_t min = MinKeySize_;
  const uint8_t* e = Entries();
  // The checks of EntryLength, on every entry once.
  for (int32_t pos = 0; pos < used;) {
    const int32_t len = pos + min <= used ? LoadU16(e + pos) : 0;
    if (len < min || len > SlotSize_ || pos + len > used) BadEntry(pos);
    Positions_.push_back(pos);
    pos += len;
  }
  PositionsValid_ = true;
  return Positions_;
}

int32_t TNode::GetCount() const {
  if (Tree_->Format().KeyType() == ikFixed) return Used() / SlotSize_;
  return static_cast<int32_t>(Positions().size());
}

int32_t TNode::PositionOfIndex(int32_t Index) const {
  if (Tree_->Format().KeyType() == ikFixed) return std::min(Index * SlotSize_, Used());
  if (Index <= 0) return 0;
  const std::vector<int32_t>& p = Positions();
  return static_cast<size_t>(Index) < p.size() ? p[static_cast<size_t>(Index)] : Used();
}

int32_t TNode::IndexOfPosition(int32_t Pos) const {
  if (Tree_->Format().KeyType() == ikFixed) return Pos / SlotSize_;
  const std::vector<int32_t>& p = Positions();
  return static_cast<int32_t>(std::lower_bound(p.begin(), p.end(), Pos) - p.begin());
}

int32_t TNode::LastPosition() const {
  if (Used() == 0) return 0;
  return FindKeyByPosition(ksLE, Used() - 1);
}

int32_t TNode::FindKeyByPosition(TKeySearchType Type, int32_t Pos) const {
  const int32_t used = Used();
  if (Tree_->Format().KeyType() == ikFixed) {
    switch (Type) {
      case ksLE:
        if (used == 0 || Pos < 0) return -1;
        return (std::min(Pos, used - 1) / SlotSize_) * SlotSize_;
      case ksEQ:
        return Pos >= 0 && Pos < used && Pos % SlotSize_ == 0 ? Pos : -1;
      case ksGE:
        if (Pos <= 0) return 0;
        return std::min(((Pos + SlotSize_ - 1) / SlotSize_) * SlotSize_, used);
    }
    return -1;
  }
  const std::vector<int32_t>& p = Positions();
  switch (Type) {
    case ksLE: {
      const auto it = std::upper_bound(p.begin(), p.end(), Pos);
      return it == p.begin() ? -1 : *(it - 1);
    }
    case ksEQ: {
      const auto it = std::lower_bound(p.begin(), p.end(), Pos);
      return it != p.end() && *it == Pos ? Pos : -1;
    }
    case ksGE: {
      const auto it = std::lower_bound(p.begin(), p.end(), Pos);
      return it == p.end() ? used : *it;
    }
  }
  return -1;
}

void TNode::InsertKey(int32_t Pos, const uint8_t* Key) {
  CheckOpen("TNode.InsertKey");
  const int32_t len = Tree_->Format().CheckedLength(Key, "TNode.InsertKey");
  const int32_t used = Used();
  PLAT_ASSERT(Pos >= 0 && Pos <= used, "Insert position outside the page");
  PLAT_ASSERT(static_cast<size_t>(NodeHeaderSize + used + len) <= BufferSize_,
              "Index page buffer overflow");
  // Known entry positions follow the insert instead of being walked again.
  const int32_t at = PositionsValid_ ? EntryIndexAt(Pos, used) : -1;
  uint8_t* e = Entries();
  std::memmove(e + Pos + len, e + Pos, static_cast<size_t>(used - Pos));
  std::memcpy(e + Pos, Key, static_cast<size_t>(len));
  SetUsed(used + len);
  if (at >= 0) NoteInsertedEntry(at, Pos, len);
}

void TNode::NoteInsertedEntry(int32_t At, int32_t Pos, int32_t Len) {
  InsertPosition(Positions_, At, Pos, Len);
  PositionsValid_ = true;
}

void TNode::InsertPosition(std::vector<int32_t>& Positions, int32_t At, int32_t Pos, int32_t Len) {
  const auto it = Positions.insert(Positions.begin() + At, Pos);
  for (auto next = it + 1; next != Positions.end(); ++next) *next += Len;
}

bool TNode::InsertKeyInPlace(int32_t Pos, const uint8_t* Key) {
  CheckOpen("TNode.InsertKeyInPlace");
  // A memory store's block is the page itself: no copy to change and copy
  // back. So is a cached disk page the running transaction changed already:
  // the file still holds what it held, and a rollback drops the page. A page
  // that splits takes the buffer path, so that a failed split leaves the
  // stored page as it was.
  const bool memory = IOInterface_->IOMode() == iomMemory;
  if (View_ == nullptr && (memory || !Synced_)) return false;
  // Taking a changed page again may lose the view.
  Page();
  if (View_ == nullptr && (memory || !Synced_)) return false;
  const int32_t len = Tree_->Format().CheckedLength(Key, "TNode.InsertKeyInPlace");
  const int32_t used = Used();
  PLAT_ASSERT(Pos >= 0 && Pos <= used, "Insert position outside the page");
  if (used + len + NodeHeaderSize + SlotSize_ >= PageSize_) return false;
  uint8_t* target = View_;
  TPageNotes* notes = nullptr;
  bool notesKnown = false;
  if (!memory) {
    std::shared_ptr<uint64_t> changes, slots;
    if (target == nullptr) {
      // The buffer holds what this node last wrote, which the cached page
      // holds.
      target = IOInterface_->BlockInPlace(Address_, PageSize_, notes, changes, slots);
      if (target == nullptr || changes == nullptr || slots == nullptr) return false;
    } else {
      notes = HeldNotes();
    }
    // Marked written before the key goes in, which nothing reads in between:
    // the mark is what tells whether the transaction changed the page
    // already.
    if (notes == nullptr) return false;
    notesKnown = notes->Valid;
    if (!IOInterface_->RewriteBlockByRef(Address_, *notes)) return false;
    // The node reads the cached page from now on, not the buffer.
    if (View_ == nullptr) AdoptView(target, notes, changes, slots);
  }
  const int32_t at = PositionsValid_ ? EntryIndexAt(Pos, used) : -1;
  uint8_t* e = target + NodeHeaderSize;
  std::memmove(e + Pos + len, e + Pos, static_cast<size_t>(used - Pos));
  std::memcpy(e + Pos, Key, static_cast<size_t>(len));
  ix::StoreU32(target + ndUsed, static_cast<uint32_t>(used + len));
  PositionsValid_ = false;
  if (memory) IOInterface_->WriteBlockByRef(Address_, PageSize_, View_);
  // The change is this node's own: its view stays, with the positions.
  SeeOwnWrite();
  if (at < 0) return true;
  NoteInsertedEntry(at, Pos, len);
  if (notes == nullptr) notes = IOInterface_->BlockNotes(Address_);
  if (notes == nullptr) return true;
  // Positions the notes knew are those of the bytes the node saw, its own:
  // they take the entry as the node's did, without a copy of them all.
  if (notesKnown && notes->Offsets.size() + 1 == Positions_.size()) {
    InsertPosition(notes->Offsets, at, Pos, len);
    notes->Valid = true;
  } else {
    KeepPositions(*notes);
  }
  return true;
}

void TNode::KeepPositions(TPageNotes& Notes) const {
  // A page taking one key after another grows its positions by one each
  // time: the notes get the node's room, not a new copy at every insert.
  if (Notes.Offsets.capacity() < Positions_.size()) Notes.Offsets.reserve(Positions_.capacity());
  Notes.Offsets = Positions_;
  Notes.Valid = true;
}

int32_t TNode::EntryIndexAt(int32_t Pos, int32_t Used) const {
  const auto it = std::lower_bound(Positions_.begin(), Positions_.end(), Pos);
  if (it == Positions_.end() ? Pos != Used : *it != Pos) return -1;
  return static_cast<int32_t>(it - Positions_.begin());
}

void TNode::DeleteKey(int32_t Pos) {
  CheckOpen("TNode.DeleteKey");
  const int32_t used = Used();
  if (Pos < 0 || Pos + 2 > used)
    NodeError(this, "TNode.DeleteKey", "ReadPos is out of range: " + std::to_string(Pos));
  const int32_t len = LoadU16(Entries() + Pos);
  if (len == 0 || len > SlotSize_ || Pos + len > used)
    NodeError(this, "TNode.DeleteKey", "Invalid key size in Delete key: " + std::to_string(len));
  BlockDelete(Pos, len);
  if (Cursor_ > Pos) Cursor_ = std::max(Pos, Cursor_ - len);
}

void TNode::UpdateKey(int32_t Pos, const uint8_t* Key) {
  CheckOpen("TNode.UpdateKey");
  const int32_t oldLen = EntryLength(Pos);
  const int32_t newLen = Tree_->Format().CheckedLength(Key, "TNode.UpdateKey");
  const int32_t used = Used();
  uint8_t* e = Entries();
  if (newLen != oldLen) {
    PLAT_ASSERT(static_cast<size_t>(NodeHeaderSize + used + newLen - oldLen) <= BufferSize_,
                "Index page buffer overflow");
    std::memmove(e + Pos + newLen, e + Pos + oldLen, static_cast<size_t>(used - Pos - oldLen));
    if (newLen < oldLen)
      std::memset(e + used - (oldLen - newLen), 0, static_cast<size_t>(oldLen - newLen));
    const int32_t at = PositionsValid_ ? EntryIndexAt(Pos, used) : -1;
    SetUsed(used + newLen - oldLen);
    if (at >= 0) {
      // The entries after this one move by the change of its length.
      for (size_t i = static_cast<size_t>(at) + 1; i < Positions_.size(); ++i)
        Positions_[i] += newLen - oldLen;
      PositionsValid_ = true;
    }
  }
  std::memcpy(e + Pos, Key, static_cast<size_t>(newLen));
}

void TNode::ReadKey(int32_t Pos, uint8_t* Key) const {
  CheckOpen("TNode.ReadKey");
  if (Pos < 0 || Pos >= Used())
    NodeError(this, "TNode.ReadKey", "ReadPos is out of range: " + std::to_string(Pos));
  const int32_t len = EntryLength(Pos);
  std::memcpy(Key, Entries() + Pos, static_cast<size_t>(len));
}

void TNode::BlockInsert(int32_t Pos, int32_t Size, const TNode& Source, int32_t SourcePos) {
  const int32_t used = Used();
  const int32_t sourceUsed = Source.Used();
  PLAT_ASSERT(
      Pos >= 0 && Pos <= used && Size >= 0 && SourcePos >= 0 && SourcePos + Size <= sourceUsed,
      "Block move outside the pages");
  PLAT_ASSERT(static_cast<size_t>(NodeHeaderSize + used + Size) <= BufferSize_,
              "Index page buffer overflow");
  // Whole entries between pages whose entry positions are known keep them
  // known: a page is not walked again after each move.
  const int32_t at = PositionsValid_ && &Source != this ? EntryIndexAt(Pos, used) : -1;
  int32_t first = -1;
  int32_t last = -1;
  if (at >= 0 && Source.PositionsValid_) {
    first = Source.EntryIndexAt(SourcePos, sourceUsed);
    if (first >= 0) last = Source.EntryIndexAt(SourcePos + Size, sourceUsed);
  }
  uint8_t* e = Entries();
  std::memmove(e + Pos + Size, e + Pos, static_cast<size_t>(used - Pos));
  std::memcpy(e + Pos, Source.Entries() + SourcePos, static_cast<size_t>(Size));
  SetUsed(used + Size);
  if (last < 0) return;
  for (auto it = Positions_.begin() + at; it != Positions_.end(); ++it) *it += Size;
  const auto from = Source.Positions_.begin();
  const auto to = Positions_.insert(Positions_.begin() + at, from + first, from + last);
  for (auto it = to; it != to + (last - first); ++it) *it += Pos - SourcePos;
  PositionsValid_ = true;
}

void TNode::BlockDelete(int32_t Pos, int32_t Size) {
  const int32_t used = Used();
  PLAT_ASSERT(Pos >= 0 && Size >= 0 && Pos + Size <= used, "Block delete outside the page");
  // Known entry positions follow when whole entries go.
  const int32_t first = PositionsValid_ ? EntryIndexAt(Pos, used) : -1;
  const int32_t last = first >= 0 ? EntryIndexAt(Pos + Size, used) : -1;
  uint8_t* e = Entries();
  std::memmove(e + Pos, e + Pos + Size, static_cast<size_t>(used - Pos - Size));
  std::memset(e + used - Size, 0, static_cast<size_t>(Size));
  SetUsed(used - Size);
  if (last < 0) return;
  const auto it = Positions_.erase(Positions_.begin() + first, Positions_.begin() + last);
  for (auto next = it; next != Positions_.end(); ++next) *next -= Size;
  PositionsValid_ = true;
}

void TNode::MoveBlock(int32_t Pos, int32_t Size, TNode& Dest, int32_t DestPos) {
  Dest.BlockInsert(DestPos, Size, *this, Pos);
  BlockDelete(Pos, Size);
}

const uint8_t* TNode::GetCurrentKey() const {
  CheckOpen("TNode.GetCurrentKey");
  if (Cursor_ < 0 || Cursor_ >= Used())
    NodeError(this, "TNode.GetCurrentKey", "Node cursor out of range");
  return EntryAt(Cursor_);
}

int64_t TNode::GetKeyNo() const {
  return RecordsBefore(Cursor_) + (CheckIsLeaf() ? 1 : 0);
}

// ---------------------------------------------------------------- counting

int64_t TNode::GetRecordCount(int32_t UpTo) const {
  const int32_t used = Used();
  const bool all = UpTo < 0 || UpTo >= used;
  if (CheckIsLeaf()) {
    if (all) return GetCount();
    return IndexOfPosition(UpTo) + 1;
  }
  int64_t n = 0;
  if (Tree_->Format().KeyType() == ikFixed) {
    // Slots of one size: the used bytes were checked to be whole slots.
    const int32_t end = all ? used : std::min(used, (UpTo / SlotSize_ + 1) * SlotSize_);
    for (int32_t pos = 0; pos < end; pos += SlotSize_) n += LoadU32(Entries() + pos + keCount);
    return n;
  }
  for (const int32_t pos : Positions()) {
    n += LoadU32(Entries() + pos + keCount);
    if (!all && pos >= UpTo) break;
  }
  return n;
}

int64_t TNode::RecordsBefore(int32_t Pos) const {
  if (CheckIsLeaf()) return IndexOfPosition(Pos);
  int64_t n = 0;
  if (Tree_->Format().KeyType() == ikFixed) {
    const int32_t end = std::min(Pos, Used());
    for (int32_t pos = 0; pos < end; pos += SlotSize_) n += LoadU32(Entries() + pos + keCount);
    return n;
  }
  for (const int32_t pos : Positions()) {
    if (pos >= Pos) break;
    n += LoadU32(Entries() + pos + keCount);
  }
  return n;
}

// ---------------------------------------------------------------- cursor

bool TNode::NextRecord() {
  if (Cursor_ >= Used()) return false;
  const int32_t next = Cursor_ + EntryLength(Cursor_);
  if (next >= Used()) return false;
  Cursor_ = next;
  return true;
}

bool TNode::PriorRecord() {
  if (Cursor_ <= 0 || Used() == 0) return false;
  Cursor_ = FindKeyByPosition(ksLE, std::min(Cursor_, Used()) - 1);
  return true;
}

void TNode::SetCursorToEnd(bool First) {
  Cursor_ = First ? 0 : LastPosition();
}

void TNode::ForceCursorToPhysicalKey() {
  if (Used() == 0) NodeError(this, "TNode.ForceCursorToPhysicalKey", "Node is empty");
  if (Cursor_ >= Used()) Cursor_ = LastPosition();
}

// ---------------------------------------------------------------- search

int32_t TNode::CompareAt(const TOptimizedSearchKey& Key, int32_t FieldCount, int32_t Pos) const {
  return Tree_->Format().CompareToOptimizedKey(FieldCount, Key, Entries() + Pos);
}

int32_t TNode::SearchNode(const TOptimizedSearchKey& Key, int32_t FieldCount, bool UpperBound,
                          int32_t& Pos) {
  CheckOpen("TNode.SearchNode");
  const bool fixed = Tree_->Format().KeyType() == ikFixed;
  int32_t count;
  if (fixed) {
    count = Used() / SlotSize_;
  } else {
    count = static_cast<int32_t>(Positions().size());
  }
  const auto position = [&](int32_t i) {
    return fixed ? i * SlotSize_ : Positions_[static_cast<size_t>(i)];
  };
  // k := the first entry the search key does not lie beyond: lower bound,
  // or upper bound when ties go right.
  int32_t lo = 0;
  int32_t hi = count;
  int32_t cmpLeft = 1;
  int32_t cmpRight = -1;
  while (lo < hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    const int32_t c = CompareAt(Key, FieldCount, position(mid));
    if (c > 0 || (UpperBound && c == 0)) {
      lo = mid + 1;
      cmpLeft = c;
    } else {
      hi = mid;
      cmpRight = c;
    }
  }
  const int32_t k = lo;
  int32_t r;
  if (CheckIsLeaf()) {
    if (k < count) {
      Pos = position(k);
      r = cmpRight;
    } else {
      Pos = Used();
      r = 1;
    }
  } else if (k > 0) {
    Pos = position(k - 1);
    r = cmpLeft;
  } else {
    Pos = 0;
    r = count > 0 ? cmpRight : 1;
  }
  Cursor_ = Pos;
  return r;
}

}  // namespace zel
