// TBTree: search, navigation, insert with splits, delete with merge and
// redistribution, record numbers.

#include "engine/storage/zelIndexTree.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "engine/storage/zelCommon.h"
#include "engine/storage/zelDataReadAhead.h"
#include "platform/rtl/ScopeGuard.h"

namespace zel {

using ix::LoadU32;
using ix::StoreU32;

namespace {

// No tree in a 32-bit file needs more levels than this; a deeper stored
// depth is corruption.
constexpr uint32_t MaxDepth = 32;

}  // namespace

TBTree::TBTree() : Spare_(std::make_unique<TNode>()), Scratch_(std::make_unique<TNode>()) {}

TBTree::~TBTree() = default;

void TBTree::Corrupt(const char* Context, const std::string& Detail) const {
  ZelDatabaseError(0x2305, Context, Detail, this);
}

void TBTree::CheckOpen(const char* Context) const {
  if (!Open_) ZelDatabaseError(0x2185, Context, "BTree is not open", this);
}

void TBTree::ConnectToIFace(TBaseIOInterface* IOInterface, uint32_t PageSize, uint32_t* RootRef,
                            uint32_t* DepthRef) {
  IOInterface_ = IOInterface;
  PageSize_ = static_cast<int32_t>(PageSize);
  RootRef_ = RootRef;
  DepthRef_ = DepthRef;
  InvalidateInternalBuffers();
}

void TBTree::SetKeyFields(const TKeyFields& Fields) {
  KeyFields_.Assign(&Fields);
}

void TBTree::SetMaximumKeySize(int32_t Value) {
  MaximumKeySize_ = Value;
  const size_t size = static_cast<size_t>(std::max(Value, 0)) + 1;
  SearchKey_.assign(size, 0);
  WorkKey_.assign(size, 0);
  TempKey_.assign(size, 0);
  PendingKey_.assign(size, 0);
  SiblingKey_.assign(size, 0);
  RestoreKey_.assign(size, 0);
}

void TBTree::Open() {
  if (DBStringCompare_ == nullptr)
    ZelDatabaseError(0x2185, "TBTree.Open", "No sort order function assigned", this);
  if (IOInterface_ == nullptr)
    ZelDatabaseError(0x2185, "TBTree.Open", "IO Interface is unassigned", this);
  Close();
  Format_.Setup(KeyFields_, KeyFields_.DataOffset(), MaximumKeySize_, IndexKeyType_,
                DBStringCompare_);
  if (MaximumKeySize_ != Format_.MaximumKeySize()) SetMaximumKeySize(Format_.MaximumKeySize());
  // A split must leave keys on both pages and a merge must fit, whatever
  // the keys' sizes.
  if (PageSize_ - NodeHeaderSize < 4 * MaximumKeySize_)
    ZelDatabaseErrorFmt(0x2185, "TBTree.Open", "Page size %d too small for keys of %d",
                        {PageSize_, MaximumKeySize_}, this);
  const size_t n = static_cast<size_t>(Format_.FieldCount());
  Optimized_.Fields.assign(n, {});
  RestoreOptimized_.Fields.assign(n, {});
  Spare_->Open(this, IOInterface_, PageSize_);
  Scratch_->Open(this, IOInterface_, PageSize_);
  Open_ = true;
}

void TBTree::Close() {
  Levels_.clear();
  Positions_.clear();
  SiblingNotes_.clear();
  Spare_ = std::make_unique<TNode>();
  Scratch_ = std::make_unique<TNode>();
  Open_ = false;
  Positioned_ = false;
  PathPrepared_ = false;
  PathStale_ = false;
  DescentValidForInsert_ = false;
}

void TBTree::InvalidateInternalBuffers() {
  // A positioned cursor keeps its place by key: the next move searches the
  // key it stood on.
  if (Positioned_ && !PathStale_ && !Levels_.empty()) {
    try {
      const uint8_t* cur = Leaf().EntryAt(Positions_.back());
      std::memcpy(RestoreKey_.data(), cur, ix::LoadU16(cur));
      PathStale_ = true;
    } catch (...) {
      Positioned_ = false;
    }
  }
  for (auto& level : Levels_) level->Invalidate();
  if (Spare_) Spare_->Invalidate();
  if (Scratch_) Scratch_->Invalidate();
  std::fill(SiblingNotes_.begin(), SiblingNotes_.end(), TSiblingNote{});
  PathPrepared_ = false;
  DescentValidForInsert_ = false;
  AppendStamp_ = 0;
}

// ---------------------------------------------------------------- pages

uint32_t TBTree::AllocatePage(TNode& Node) {
  const uint32_t addr = IOInterface_->AllocateNewAddress(PageSize_, Node.Data());
  for (auto& level : Levels_)
    if (level->Address() == addr) level->Invalidate();
  if (Spare_->Address() == addr) Spare_->Invalidate();
  if (Scratch_->Address() == addr) Scratch_->Invalidate();
  Node.Address_ = addr;
  return addr;
}

void TBTree::ReleasePage(uint32_t Addr) {
  IOInterface_->ReleaseBlock(Addr, PageSize_);
  for (auto& level : Levels_)
    if (level->Address() == Addr) level->Invalidate();
  if (Spare_->Address() == Addr) Spare_->Invalidate();
  if (Scratch_->Address() == Addr) Scratch_->Invalidate();
}

void TBTree::PatchLink(uint32_t Addr, int32_t Offset, uint32_t Value) {
  const auto patch = [&](TNode& node) {
    // A node read in place sees the patched cached page.
    if (node.Address() == Addr && !node.InPlace()) StoreU32(node.Data() + Offset, Value);
  };
  for (auto& level : Levels_) patch(*level);
  patch(*Spare_);
  patch(*Scratch_);
  uint8_t header[NodeHeaderSize] = {};
  IOInterface_->ReadBlockHeader(Addr, NodeHeaderSize, header);
  StoreU32(header + Offset, Value);
  IOInterface_->WriteBlockHeader(Addr, NodeHeaderSize, header);
}

void TBTree::CreateTree() {
  CheckOpen("TBTree.CreateTree");
  TNode& root = *Scratch_;
  root.Invalidate();
  root.Wipe(true);
  const uint32_t addr = AllocatePage(root);
  *RootRef_ = addr;
  *DepthRef_ = 1;
  Positioned_ = false;
  PathStale_ = false;
  InvalidateInternalBuffers();
}

void TBTree::EmptyTree(bool DropRoot) {
  CheckOpen("TBTree.EmptyTree");
  const uint32_t root = *RootRef_;
  const uint32_t depth = root != 0 ? *DepthRef_ : 0;
  if (root != 0 && (depth == 0 || depth > MaxDepth)) Corrupt("TBTree.EmptyTree", "Invalid tree depth");
  if (depth == 1) {
    // The root alone (a kept statement's result table, emptied on every
    // run): nothing to gather.
    InvalidateInternalBuffers();
    ReleasePage(root);
  } else if (root != 0) {
    // Gather every page first, so that a damaged tree is found out before
    // anything is released; a page met twice means the tree is corrupt.
    std::vector<uint32_t> pages;
    std::unordered_set<uint32_t> seen;
    std::vector<std::pair<uint32_t, uint32_t>> todo{{root, 0}};
    while (!todo.empty()) {
      const auto [addr, level] = todo.back();
      todo.pop_back();
      if (!seen.insert(addr).second) Corrupt("TBTree.EmptyTree", "Index page met twice");
      pages.push_back(addr);
      if (level + 1 >= depth) continue;
      Scratch_->ReadNode(addr, true);
      if (Scratch_->CheckIsLeaf()) Corrupt("TBTree.EmptyTree", "Leaf page above the leaf level");
      for (int32_t pos = 0; pos < Scratch_->Used(); pos += Scratch_->EntryLength(pos))
        todo.emplace_back(Scratch_->EntryAddress(pos), level + 1);
    }
    InvalidateInternalBuffers();
    for (uint32_t addr : pages) ReleasePage(addr);
  }
  Positioned_ = false;
  PathStale_ = false;
  if (DropRoot) {
    *RootRef_ = 0;
    *DepthRef_ = 0;
    InvalidateInternalBuffers();
  } else {
    CreateTree();
  }
}

// ---------------------------------------------------------------- keys

void TBTree::TakeSearchKey(const TComparisonMarkers* Markers) {
  if (Markers != nullptr)
    SearchMarkers_ = *Markers;
  else
    SearchMarkers_.clear();
  Format_.Decode(SearchKey_.data(), Markers, Optimized_);
  DescentValidForInsert_ = false;
}

void TBTree::ConstructKeyBufFromRecBuf(const uint8_t* RecBuf, const TComparisonMarkers* Markers) {
  CheckOpen("TBTree.ConstructKeyBufFromRecBuf");
  Format_.BuildFromRecord(SearchKey_.data(), RecBuf);
  TakeSearchKey(Markers);
}

void TBTree::ConstructTempKeyBufFromRecBuf(uint8_t* Dest, const uint8_t* RecBuf,
                                           const TComparisonMarkers*) {
  CheckOpen("TBTree.ConstructTempKeyBufFromRecBuf");
  Format_.BuildFromRecord(Dest, RecBuf);
}

void TBTree::ConstructKeyBufFromKeyBuf(const uint8_t* Key, const TComparisonMarkers* Markers) {
  CheckOpen("TBTree.ConstructKeyBufFromKeyBuf");
  const int32_t len = Format_.CheckedLength(Key, "TBTree.ConstructKeyBufFromKeyBuf");
  if (Key != SearchKey_.data()) {
    std::memset(SearchKey_.data(), 0, SearchKey_.size());
    std::memcpy(SearchKey_.data(), Key, static_cast<size_t>(len));
  }
  TakeSearchKey(Markers);
}

void TBTree::ConstructKeyBufFromVariants(const plat::Variant& Values,
                                         const TComparisonMarkers* Markers) {
  CheckOpen("TBTree.ConstructKeyBufFromVariants");
  Format_.BuildFromVariants(SearchKey_.data(), Values, "TBTree.ConstructKeyBufFromVariants");
  TakeSearchKey(Markers);
}

void TBTree::SetKeyBufAddr(uint32_t Addr) {
  StoreU32(SearchKey_.data() + keAddress, Addr);
}

int32_t TBTree::CompareKeys(int32_t FieldCount, const TComparisonMarkers* MarkersA,
                            const TComparisonMarkers* MarkersB, const uint8_t* KeyA,
                            const uint8_t* KeyB) const {
  return Format_.CompareKeys(FieldCount, MarkersA, MarkersB, KeyA, KeyB);
}

int32_t TBTree::CompareToOptimizedKey(int32_t FieldCount, const uint8_t* Key) const {
  return Format_.CompareToOptimizedKey(FieldCount, Optimized_, Key);
}

std::string TBTree::DecodeKeyBufAsStrings(const uint8_t* Key) const {
  return Format_.KeyAsStrings(Key);
}

std::string TBTree::DecodeRecKeyBufAsStrings(const uint8_t* RecBuf) {
  Format_.BuildFromRecord(TempKey_.data(), RecBuf);
  return Format_.KeyAsStrings(TempKey_.data());
}

std::string TBTree::CurrentKeyAsStrings() {
  const uint8_t* key = GetCurrentKeyBuf();
  return key != nullptr ? Format_.KeyAsStrings(key) : std::string();
}

// ---------------------------------------------------------------- descent

void TBTree::PreparePath() {
  CheckOpen("TBTree.PreparePath");
  const uint32_t root = RootRef_ != nullptr ? *RootRef_ : 0;
  const uint32_t depth = DepthRef_ != nullptr ? *DepthRef_ : 0;
  if (root == 0 || depth == 0)
    ZelDatabaseError(0x2185, "TBTree.PreparePath", "Index has no root", this);
  if (depth > MaxDepth) Corrupt("TBTree.PreparePath", "Invalid tree depth");
  if (Levels_.size() != depth) {
    while (Levels_.size() > depth) Levels_.pop_back();
    while (Levels_.size() < depth) {
      Levels_.push_back(std::make_unique<TNode>());
      Levels_.back()->Open(this, IOInterface_, PageSize_);
    }
    Positions_.assign(depth, 0);
    SiblingNotes_.assign(depth, {});
    Positioned_ = false;
  }
  Levels_[0]->ReadNode(root);
  if (Levels_[0]->CheckIsLeaf() != (depth == 1))
    Corrupt("TBTree.PreparePath", "Root page does not match the tree depth");
  PathPrepared_ = true;
}

int32_t TBTree::InternalSearch(const TOptimizedSearchKey& Key, int32_t FieldCount, bool UpperBound,
                               bool ForceToKey) {
  PreparePath();
  PathStale_ = false;
  DescentValidForInsert_ = false;
  Positioned_ = false;
  const int32_t leafLevel = LeafLevel();
  int32_t r = 1;
  int32_t pos = 0;
  for (int32_t level = 0; level <= leafLevel; ++level) {
    TNode& node = *Levels_[static_cast<size_t>(level)];
    if (level > 0) {
      const TNode& parent = *Levels_[static_cast<size_t>(level) - 1];
      node.ReadNode(parent.EntryAddress(Positions_[static_cast<size_t>(level) - 1]));
      if (node.CheckIsLeaf() != (level == leafLevel))
        Corrupt("TBTree.InternalSearch", "Page level does not match the tree depth");
      if (node.CheckNodeEmpty()) Corrupt("TBTree.InternalSearch", "Empty page below the root");
    } else if (level < leafLevel && node.CheckNodeEmpty()) {
      Corrupt("TBTree.InternalSearch", "Empty internal root");
    }
    r = node.SearchNode(Key, FieldCount, UpperBound, pos);
    Positions_[static_cast<size_t>(level)] = pos;
  }
  TNode& leaf = Leaf();
  if (leaf.CheckNodeEmpty()) return 1;
  if (pos >= leaf.Used()) {
    // Every key of this leaf lies below the search key; the answer is the
    // first key of the next leaf, if there is one.
    if (StepLeaf(true)) {
      pos = 0;
      r = CompareAt0(Key, FieldCount);
      if (UpperBound && r == 0) r = -1;
    } else if (ForceToKey) {
      pos = leaf.LastPosition();
      leaf.SetCursor(pos);
      Positions_[static_cast<size_t>(leafLevel)] = pos;
    }
  }
  Positioned_ = pos < Leaf().Used();
  InsertPos_ = pos;
  return r;
}

int32_t TBTree::CompareAt0(const TOptimizedSearchKey& Key, int32_t FieldCount) const {
  const TNode& leaf = *Levels_.back();
  return Format_.CompareToOptimizedKey(FieldCount, Key, leaf.EntryAt(0));
}

bool TBTree::StepLeaf(bool Forward) {
  DescentValidForInsert_ = false;
  const int32_t leafLevel = LeafLevel();
  TNode& leaf = Leaf();
  const uint32_t from = leaf.Address();
  const uint32_t link = Forward ? leaf.GetNext() : leaf.GetPrior();
  int32_t level = leafLevel - 1;
  for (; level >= 0; --level) {
    TNode& node = *Levels_[static_cast<size_t>(level)];
    int32_t& p = Positions_[static_cast<size_t>(level)];
    if (Forward) {
      const int32_t next = p + node.EntryLength(p);
      if (next < node.Used()) {
        p = next;
        break;
      }
    } else if (p > 0) {
      p = node.FindKeyByPosition(ksLE, p - 1);
      break;
    }
  }
  if (level < 0) {
    if (link != 0) Corrupt("TBTree.StepLeaf", "Leaf link points past the end of the index");
    return false;
  }
  for (int32_t l = level + 1; l <= leafLevel; ++l) {
    TNode& parent = *Levels_[static_cast<size_t>(l) - 1];
    TNode& node = *Levels_[static_cast<size_t>(l)];
    node.ReadNode(parent.EntryAddress(Positions_[static_cast<size_t>(l) - 1]));
    if (node.CheckIsLeaf() != (l == leafLevel))
      Corrupt("TBTree.StepLeaf", "Page level does not match the tree depth");
    if (node.CheckNodeEmpty()) Corrupt("TBTree.StepLeaf", "Empty page below the root");
    const int32_t p = Forward ? 0 : node.LastPosition();
    Positions_[static_cast<size_t>(l)] = p;
    node.SetCursor(p);
  }
  // The leaf chain must agree with the tree: this is what catches a loop or
  // a stray link in the sibling pointers.
  const TNode& now = Leaf();
  if (now.Address() != link || (Forward ? now.GetPrior() : now.GetNext()) != from)
    Corrupt("TBTree.StepLeaf", "Leaf links disagree with the tree");
  return true;
}

void TBTree::EnsurePath() {
  if (!PathStale_) {
    if (Positioned_ && !PathPrepared_) PreparePath();
    return;
  }
  Format_.Decode(RestoreKey_.data(), nullptr, RestoreOptimized_);
  InternalSearch(RestoreOptimized_, 0, false, true);
}

// ---------------------------------------------------------------- search

int32_t TBTree::IndexSearch(TIndexSearchType SearchType, const TSearchModifier* Modifier) {
  CheckOpen("TBTree.IndexSearch");
  int32_t fieldCount = 0;
  if (Modifier != nullptr && Modifier->LimitedSearch)
    fieldCount = Modifier->IncludedKeyFieldCount >= 1 ? Modifier->IncludedKeyFieldCount
                                                      : Format_.VisibleFieldCount();
  if (fieldCount >= Format_.FieldCount()) fieldCount = 0;
  // stGT and stLE look for the first key above the search key, so that keys
  // equal on the compared fields are all passed.
  const bool upper = SearchType == stGT || SearchType == stLE;
  const bool plainKey = fieldCount == 0 && !upper &&
                        std::all_of(SearchMarkers_.begin(), SearchMarkers_.end(),
                                    [](TFieldComparisonValue m) { return m == fcDefault; });
  // Rows added in key order each go after the last key: no descent then.
  int32_t r = 1;
  if (!(plainKey && (SearchPastEnd() || SearchKeptLeaf(r))))
    r = InternalSearch(Optimized_, fieldCount, upper, true);
  if (!Positioned_) return r != 0 ? r : 1;
  if (plainKey) {
    InsertPos_ = r > 0 ? Leaf().Used() : Positions_.back();
    DescentValidForInsert_ = true;
  }
  switch (SearchType) {
    case stEQ:
      return r;
    case stGE:
      return r <= 0 ? 0 : r;
    case stGT:
      return r < 0 ? 0 : 1;
    case stLT:
    case stLE:
      if (r > 0) return 0;
      return PriorRecord() ? 0 : -1;
    case stLEG:
      return 0;
  }
  return r;
}

bool TBTree::SearchPastEnd() {
  const uint64_t stamp = AppendStamp_;
  AppendStamp_ = 0;
  if (stamp == 0 || !PathPrepared_ || IOInterface_->Changes() != stamp) return false;
  const int32_t leafLevel = LeafLevel();
  if (Levels_.empty() || static_cast<uint32_t>(Levels_.size()) != Depth() ||
      Levels_[0]->Address() != Root())
    return false;
  for (int32_t level = 0; level < leafLevel; ++level) {
    const TNode& node = *Levels_[static_cast<size_t>(level)];
    const int32_t pos = Positions_[static_cast<size_t>(level)];
    if (node.CheckNodeEmpty() || pos != node.LastPosition() ||
        node.EntryAddress(pos) != Levels_[static_cast<size_t>(level) + 1]->Address())
      return false;
  }
  TNode& leaf = Leaf();
  if (leaf.CheckNodeEmpty() || leaf.GetNext() != 0 || !leaf.CheckIsLeaf()) return false;
  const int32_t last = leaf.LastPosition();
  if (Format_.CompareToOptimizedKey(0, Optimized_, leaf.EntryAt(last)) <= 0) return false;
  for (int32_t level = 0; level < leafLevel; ++level)
    Levels_[static_cast<size_t>(level)]->SetCursor(Positions_[static_cast<size_t>(level)]);
  leaf.SetCursor(last);
  Positions_.back() = last;
  PathStale_ = false;
  Positioned_ = true;
  return true;
}

bool TBTree::SearchKeptLeaf(int32_t& Result) {
  if (!PathPrepared_ || Levels_.empty() || static_cast<uint32_t>(Levels_.size()) != Depth() ||
      Levels_[0]->Address() != Root())
    return false;
  TNode& leaf = Leaf();
  if (leaf.Address() == 0 || !leaf.CheckIsLeaf() || leaf.CheckNodeEmpty()) return false;
  // Keys taken in order (a run of deletes or inserts) are found at or just
  // after where the last change left the cursor: a key above one entry and
  // not above the next has the next one's place, in this leaf.
  const int32_t used = leaf.Used();
  int32_t at = Positions_.back();
  int32_t result = 0;
  bool placed = false;
  if (at >= 0 && at < used && leaf.FindKeyByPosition(ksEQ, at) == at) {
    const int32_t c = Format_.CompareToOptimizedKey(0, Optimized_, leaf.EntryAt(at));
    if (c > 0) {
      const int32_t next = at + leaf.EntryLength(at);
      if (next < used) {
        at = next;
        result = Format_.CompareToOptimizedKey(0, Optimized_, leaf.EntryAt(at));
        placed = result <= 0;
      }
    } else if (at > 0) {
      result = c;
      placed = Format_.CompareToOptimizedKey(
                   0, Optimized_, leaf.EntryAt(leaf.FindKeyByPosition(ksLE, at - 1))) > 0;
    }
  }
  // Above the leaf's first key and not above its last, a descent chooses
  // this leaf on every level: each entry of the path holds a key not above
  // the leaf's first, and the entry after it one not below the leaf's last.
  int32_t neighbour = 0;
  if (!placed) {
    if (Format_.CompareToOptimizedKey(0, Optimized_, leaf.EntryAt(leaf.LastPosition())) > 0)
      neighbour = 1;
    else if (Format_.CompareToOptimizedKey(0, Optimized_, leaf.EntryAt(0)) <= 0)
      neighbour = -1;
  }
  // The path left by the last search or change must still lead from the
  // root to the leaf, entry by entry.
  const int32_t leafLevel = LeafLevel();
  for (int32_t level = 0; level < leafLevel; ++level) {
    const TNode& node = *Levels_[static_cast<size_t>(level)];
    const int32_t pos = Positions_[static_cast<size_t>(level)];
    if (node.CheckIsLeaf() || pos < 0 || pos >= node.Used() ||
        node.FindKeyByPosition(ksEQ, pos) != pos ||
        node.EntryAddress(pos) != Levels_[static_cast<size_t>(level) + 1]->Address())
      return false;
  }
  if (placed) {
    leaf.SetCursor(at);
    Result = result;
  } else if (neighbour == 0) {
    Result = leaf.SearchNode(Optimized_, 0, false, at);
  } else if (!SearchNeighbourLeaf(neighbour > 0, Result, at)) {
    return false;
  }
  for (int32_t level = 0; level < leafLevel; ++level)
    Levels_[static_cast<size_t>(level)]->SetCursor(Positions_[static_cast<size_t>(level)]);
  Positions_.back() = at;
  PathStale_ = false;
  DescentValidForInsert_ = false;
  Positioned_ = true;
  InsertPos_ = at;
  return true;
}

bool TBTree::SearchNeighbourLeaf(bool Next, int32_t& Result, int32_t& At) {
  // A descent ends in the last leaf whose first key lies below the search
  // key (the first leaf when none does), every entry above carrying its
  // child's first key; when every key of that leaf lies below the search
  // key, it steps on to the next leaf's first entry.
  TNode& leaf = Leaf();
  const auto compare = [this](const TNode& Node, int32_t Pos) {
    return Format_.CompareToOptimizedKey(0, Optimized_, Node.EntryAt(Pos));
  };
  if (Next) {
    // Above every key of this leaf, whose first key lies below the search
    // key: the descent ends here or further on.
    if (leaf.GetNext() == 0 || !StepLeaf(true)) return false;
    TNode& next = Leaf();
    const int32_t first = compare(next, 0);
    if (first <= 0) {
      // The descent ends on the leaf before and steps on to this one.
      At = 0;
      Result = first;
      return true;
    }
    if (compare(next, next.LastPosition()) > 0) return false;
    Result = next.SearchNode(Optimized_, 0, false, At);
    return true;
  }
  // Not above this leaf's first key: the descent ends on the prior leaf,
  // and stays there unless every key of it lies below the search key.
  const int32_t first = compare(leaf, 0);
  const uint32_t prior = leaf.GetPrior();
  if (prior == 0) {
    At = 0;
    Result = first;
    return true;
  }
  TNode& peek = *Spare_;
  peek.ReadNode(prior, true);
  if (!peek.CheckIsLeaf() || peek.CheckNodeEmpty() || peek.GetNext() != leaf.Address())
    return false;
  if (compare(peek, peek.LastPosition()) > 0) {
    At = 0;
    Result = first;
    return true;
  }
  if (peek.GetPrior() != 0 && compare(peek, 0) <= 0) return false;
  if (!StepLeaf(false)) return false;
  Result = Leaf().SearchNode(Optimized_, 0, false, At);
  return true;
}

bool TBTree::NextRecord() {
  return StepRecord(true, "TBTree.NextRecord");
}

bool TBTree::PriorRecord() {
  return StepRecord(false, "TBTree.PriorRecord");
}

bool TBTree::StepRecord(bool Forward, const char* Caller) {
  CheckOpen(Caller);
  EnsurePath();
  if (!Positioned_) return false;
  DescentValidForInsert_ = false;
  TNode& leaf = Leaf();
  leaf.SetCursor(Positions_.back());
  if (Forward ? leaf.NextRecord() : leaf.PriorRecord()) {
    Positions_.back() = leaf.Cursor();
    return true;
  }
  return StepLeaf(Forward);
}

bool TBTree::SetCursorToEnd(bool First) {
  CheckOpen("TBTree.SetCursorToEnd");
  PreparePath();
  PathStale_ = false;
  DescentValidForInsert_ = false;
  Positioned_ = false;
  const int32_t leafLevel = LeafLevel();
  for (int32_t level = 0; level <= leafLevel; ++level) {
    TNode& node = *Levels_[static_cast<size_t>(level)];
    if (level > 0) {
      node.ReadNode(Levels_[static_cast<size_t>(level) - 1]->EntryAddress(
          Positions_[static_cast<size_t>(level) - 1]));
      if (node.CheckIsLeaf() != (level == leafLevel) || node.CheckNodeEmpty())
        Corrupt("TBTree.SetCursorToEnd", "Page does not match the tree");
    }
    const int32_t p = First ? 0 : node.LastPosition();
    node.SetCursor(p);
    Positions_[static_cast<size_t>(level)] = p;
  }
  Positioned_ = !Leaf().CheckNodeEmpty();
  return Positioned_;
}

uint32_t TBTree::GetRecAddr() {
  CheckOpen("TBTree.GetRecAddr");
  EnsurePath();
  if (!Positioned_) return 0;
  TNode& leaf = Leaf();
  if (!leaf.CheckIsLeaf())
    ZelDatabaseError(0x2185, "TBTree.GetRecAddr",
                     "Attempt to read record address from non-leaf node", this);
  return leaf.EntryAddress(Positions_.back());
}

const uint8_t* TBTree::GetCurrentKeyBuf() {
  CheckOpen("TBTree.GetCurrentKeyBuf");
  EnsurePath();
  if (!Positioned_) return nullptr;
  // The caller keeps the key while it reads other pages: it must not point
  // into a cached page that may be dropped meanwhile.
  TNode& leaf = Leaf();
  leaf.MutablePage();
  return leaf.EntryAt(Positions_.back());
}

int32_t TBTree::CompareKeyToCurrentKeyBuf(int32_t FieldCount, const uint8_t* Key,
                                          const TComparisonMarkers* Markers) {
  const uint8_t* current = GetCurrentKeyBuf();
  if (current == nullptr)
    ZelDatabaseError(0x2185, "TBTree.CompareKeyToCurrentKeyBuf", "Cursor is out of range", this);
  return Format_.CompareKeys(FieldCount, Markers, nullptr, Key, current);
}

// ---------------------------------------------------------------- counts

int32_t TBTree::GetRecordCount(bool Refresh) {
  CheckOpen("TBTree.GetRecordCount");
  const uint32_t root = *RootRef_;
  if (root == 0) return 0;
  if (!Levels_.empty() && Levels_[0]->Address() != 0 && Levels_[0]->Address() != root) {
    if (TDBLogger* log = GDBLogger()) log->NamedMonitorDelta("ROOTADDRNOTVALID", 1);
  }
  if (Refresh && !Levels_.empty()) {
    if (Positioned_ && !PathStale_) InvalidateInternalBuffers();
    Levels_[0]->Invalidate();
  }
  PreparePath();
  return static_cast<int32_t>(Levels_[0]->GetRecordCount());
}

int32_t TBTree::GetRecordNo() {
  CheckOpen("TBTree.GetRecordNo");
  EnsurePath();
  if (!Positioned_) return 0;
  int64_t n = 1;
  for (size_t level = 0; level < Levels_.size(); ++level)
    n += Levels_[level]->RecordsBefore(Positions_[level]);
  return static_cast<int32_t>(n);
}

uint32_t TBTree::GetAddrOfRecNo(int32_t RecNo) {
  CheckOpen("TBTree.GetAddrOfRecNo");
  PreparePath();
  PathStale_ = false;
  DescentValidForInsert_ = false;
  if (RecNo < 1 || RecNo > Levels_[0]->GetRecordCount()) {
    Positioned_ = false;
    return 0;
  }
  int64_t n = RecNo;
  const int32_t leafLevel = LeafLevel();
  for (int32_t level = 0; level <= leafLevel; ++level) {
    TNode& node = *Levels_[static_cast<size_t>(level)];
    if (level > 0) {
      node.ReadNode(Levels_[static_cast<size_t>(level) - 1]->EntryAddress(
          Positions_[static_cast<size_t>(level) - 1]));
      if (node.CheckIsLeaf() != (level == leafLevel))
        Corrupt("TBTree.GetAddrOfRecNo", "Page level does not match the tree depth");
    }
    int32_t pos = 0;
    if (level < leafLevel) {
      for (pos = 0; pos < node.Used(); pos += node.EntryLength(pos)) {
        const int64_t count = node.EntryCount(pos);
        if (n <= count) break;
        n -= count;
      }
      if (pos >= node.Used()) Corrupt("TBTree.GetAddrOfRecNo", "Record counts disagree");
    } else {
      pos = node.PositionOfIndex(static_cast<int32_t>(n - 1));
      if (pos >= node.Used()) Corrupt("TBTree.GetAddrOfRecNo", "Record counts disagree");
    }
    node.SetCursor(pos);
    Positions_[static_cast<size_t>(level)] = pos;
  }
  Positioned_ = true;
  return Leaf().EntryAddress(Positions_.back());
}

// ---------------------------------------------------------------- insert and delete

uint32_t TBTree::LeafCount(const TNode& Node) const {
  return static_cast<uint32_t>(Node.GetRecordCount());
}

void TBTree::UpdateParentEntry(TNode& Parent, int32_t Pos, TNode& Child, int64_t Count,
                               const uint8_t* FirstKey) {
  if (FirstKey != nullptr) {
    std::memcpy(WorkKey_.data(), FirstKey, ix::LoadU16(FirstKey));
  } else if (Child.CheckNodeEmpty()) {
    // Only a root's only child can be empty, and the root takes it over.
    StoreU32(Parent.MutableEntryAt(Pos) + keCount, 0);
    return;
  } else {
    Child.ReadKey(0, WorkKey_.data());
  }
  StoreU32(WorkKey_.data() + keAddress, Child.Address());
  StoreU32(WorkKey_.data() + keCount,
           Count >= 0 ? static_cast<uint32_t>(Count) : LeafCount(Child));
  Parent.UpdateKey(Pos, WorkKey_.data());
}

bool TBTree::EntryMatchesChild(const TNode& Parent, int32_t Pos, const TNode& Child) const {
  if (Child.CheckNodeEmpty()) return false;
  const uint8_t* entry = Parent.EntryAt(Pos);
  const uint8_t* first = Child.EntryAt(0);
  const uint16_t len = ix::LoadU16(first);
  return ix::LoadU16(entry) == len && LoadU32(entry + keAddress) == Child.Address() &&
         std::memcmp(entry + keBitmap, first + keBitmap, static_cast<size_t>(len - keBitmap)) == 0;
}

int32_t TBTree::InsertKey() {
  CheckOpen("TBTree.InsertKey");
  if (!DescentValidForInsert_ || PathStale_ || !PathPrepared_) {
    Format_.Decode(SearchKey_.data(), nullptr, RestoreOptimized_);
    InternalSearch(RestoreOptimized_, 0, false, false);
  }
  TNode& leaf = Leaf();
  const int32_t pos = std::min(InsertPos_, leaf.Used());
  StoreU32(SearchKey_.data() + keCount, 0);
  if (!leaf.InsertKeyInPlace(pos, SearchKey_.data())) leaf.InsertKey(pos, SearchKey_.data());
  std::memcpy(RestoreKey_.data(), SearchKey_.data(), ix::LoadU16(SearchKey_.data()));
  Positions_.back() = pos;
  FixUpLeafChange(false);
  AppendStamp_ = IOInterface_->Changes();
  return 0;
}

int32_t TBTree::DeleteKey() {
  CheckOpen("TBTree.DeleteKey");
  EnsurePath();
  if (!Positioned_) return -1;
  TNode& leaf = Leaf();
  const int32_t pos = Positions_.back();
  leaf.ReadKey(pos, RestoreKey_.data());
  if (leaf.ChangeInPlace()) {
    // The key leaves the cached page itself, marked written at once: the
    // page is neither copied into the buffer nor back.
    const auto write = plat::OnScopeExit([&] { leaf.WriteNode(); });
    leaf.DeleteKey(pos);
  } else {
    leaf.DeleteKey(pos);
  }
  Positions_.back() = pos;
  FixUpLeafChange(true);
  return 0;
}

void TBTree::LoadSortedKeys(const std::vector<const uint8_t*>& Keys) {
  static const char* const Context = "TBTree.LoadSortedKeys";
  CheckOpen(Context);
  const uint32_t root = RootRef_ != nullptr ? *RootRef_ : 0;
  if (root == 0 || *DepthRef_ != 1) ZelDatabaseError(0x2185, Context, "Index is not empty", this);
  Scratch_->ReadNode(root, true);
  if (!Scratch_->CheckIsLeaf() || !Scratch_->CheckNodeEmpty())
    ZelDatabaseError(0x2185, Context, "Index is not empty", this);
  InvalidateInternalBuffers();
  Positioned_ = false;
  PathStale_ = false;
  if (Keys.empty()) return;
  // The entries of the level being paged (the keys, then the entries made
  // for the pages below), and the entries for the level above.
  std::vector<const uint8_t*> level(Keys);
  std::vector<uint8_t> store, upper;
  std::vector<size_t> offsets, starts;
  std::vector<uint32_t> addrs;
  // Cleared once per page written: a kept statement's result table loads
  // its few keys on every run, where clearing costs more than the keys.
  const auto page = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(PageSize_));
  const auto clear = [&page, this] { std::memset(page.get(), 0, static_cast<size_t>(PageSize_)); };
  const int32_t room = PageSize_ - NodeHeaderSize - Format_.MaximumKeySize();
  bool leaf = true;
  uint32_t depth = 1;
  for (;;) {
    // A page takes entries while it stays below full (TNode::CheckNodeFull).
    starts.clear();
    int32_t used = 0;
    for (size_t i = 0; i < level.size(); ++i) {
      const int32_t len = Format_.CheckedLength(level[i], Context);
      if (i == 0 || used + len >= room) {
        starts.push_back(i);
        used = 0;
      }
      used += len;
    }
    const bool top = starts.size() == 1;
    if (!top && depth >= MaxDepth) ZelDatabaseError(0x2185, Context, "Index too deep", this);
    addrs.assign(starts.size(), root);
    if (!top) {
      clear();
      for (uint32_t& addr : addrs) addr = IOInterface_->AllocateNewAddress(PageSize_, page.get());
    }
    upper.clear();
    offsets.clear();
    for (size_t p = 0; p < starts.size(); ++p) {
      const size_t from = starts[p];
      const size_t to = p + 1 < starts.size() ? starts[p + 1] : level.size();
      clear();
      StoreU32(page.get() + ndLeaf, leaf ? 1 : 0);
      if (leaf) {
        StoreU32(page.get() + ndNext, p + 1 < addrs.size() ? addrs[p + 1] : 0);
        StoreU32(page.get() + ndPrior, p > 0 ? addrs[p - 1] : 0);
      }
      int32_t at = NodeHeaderSize;
      uint32_t count = 0;
      for (size_t i = from; i < to; ++i) {
        const int32_t len = ix::LoadU16(level[i]);
        std::memcpy(page.get() + at, level[i], static_cast<size_t>(len));
        if (leaf) StoreU32(page.get() + at + keCount, 0);
        at += len;
        count += leaf ? 1 : LoadU32(level[i] + keCount);
      }
      StoreU32(page.get() + ndUsed, static_cast<uint32_t>(at - NodeHeaderSize));
      IOInterface_->WriteBlock(addrs[p], PageSize_, page.get());
      if (top) break;
      // The page's entry above: its first key, its address and its records.
      const int32_t len = ix::LoadU16(level[from]);
      offsets.push_back(upper.size());
      upper.insert(upper.end(), level[from], level[from] + len);
      StoreU32(upper.data() + offsets.back() + keCount, count);
      StoreU32(upper.data() + offsets.back() + keAddress, addrs[p]);
    }
    if (top) break;
    store.swap(upper);
    level.clear();
    for (size_t offset : offsets) level.push_back(store.data() + offset);
    leaf = false;
    ++depth;
  }
  *DepthRef_ = depth;
  InvalidateInternalBuffers();
}

void TBTree::FixUpLeafChange(bool Deleting) {
  try {
    FixUpFrom(LeafLevel(), Deleting);
  } catch (...) {
    // The buffered path may be half updated: drop it and the position.
    InvalidateInternalBuffers();
    Positioned_ = false;
    PathStale_ = false;
    throw;
  }
  PathStale_ = true;
  Positioned_ = true;
  DescentValidForInsert_ = false;
}

void TBTree::UpdateEntriesAbove(int32_t Level, const TLevelChange& ChildChange, bool Deleting,
                                bool InPlace, bool CountOnly) {
  TNode& node = *Levels_[static_cast<size_t>(Level)];
  TNode& child = *Levels_[static_cast<size_t>(Level) + 1];
  int32_t& pos = Positions_[static_cast<size_t>(Level)];
  if (ChildChange.Kind == chMerged && ChildChange.SiblingLeft) {
    // The child took over its left sibling; the sibling's entry goes.
    const int32_t sib = node.FindKeyByPosition(ksLE, pos - 1);
    node.DeleteKey(sib);
    pos = sib;
  }
  if (ChildChange.Kind == chRedistributed) {
    // The one record more or less, and what came from or went to the
    // sibling.
    const int64_t count = int64_t{node.EntryCount(pos)} + (Deleting ? -1 : 1);
    UpdateParentEntry(node, pos, child, count + ChildChange.Moved);
  } else if (ChildChange.Kind == chNone) {
    // One record more or less below the entry, none moved to or from a
    // sibling: its count moves by one, with no recount of the child; in
    // the cached page itself while the key stays.
    const uint32_t count = node.EntryCount(pos);
    const uint32_t moved = Deleting ? count - 1 : count + 1;
    if (!CountOnly)
      UpdateParentEntry(node, pos, child, moved);
    else if (InPlace || !node.SetCountInPlace(pos, moved))
      StoreU32(node.MutableEntryAt(pos) + keCount, moved);
  } else {
    UpdateParentEntry(node, pos, child);
  }
  const int32_t next = pos + node.EntryLength(pos);
  switch (ChildChange.Kind) {
    case chMerged:
      if (!ChildChange.SiblingLeft) node.DeleteKey(next);
      break;
    case chSplit:
      node.InsertKey(next, PendingKey_.data());
      break;
    case chRedistributed: {
      const int32_t sib = ChildChange.SiblingLeft ? node.FindKeyByPosition(ksLE, pos - 1) : next;
      UpdateParentEntry(node, sib, *Spare_, int64_t{node.EntryCount(sib)} - ChildChange.Moved,
                        SiblingKey_.data());
      break;
    }
    case chNone:
      break;
  }
}

void TBTree::FixUpFrom(int32_t Level, bool Deleting) {
  TLevelChange childChange;
  // The child's first key is the one it had, which its entry here carries
  // (rule 3): a change past a page's first entry leaves it, and so does a
  // change of no more than a count below an entry.
  bool childFirstKept = false;
  for (int32_t level = Level; level >= 0; --level) {
    TNode& node = *Levels_[static_cast<size_t>(level)];
    const bool past = Positions_[static_cast<size_t>(level)] > 0;
    const bool firstKept =
        level == Level ? past : childChange.Kind == chNone && (childFirstKept || past);
    if (level < Level) {
      // A delete changes the entries here in the cached page itself when
      // they cannot outgrow it, written before anything else is read, and
      // even when the change fails: the cache must not keep bytes it was not
      // told of. A count alone (the child's first key kept, or still the
      // entry's key) goes through SetCountInPlace instead, which keeps the
      // page's known positions without a copy of them. Asked once here, the
      // entry's match is not asked again below.
      const bool countOnly =
          childChange.Kind == chNone &&
          (childFirstKept || EntryMatchesChild(node, Positions_[static_cast<size_t>(level)],
                                               *Levels_[static_cast<size_t>(level) + 1]));
      bool inPlace = Deleting && !countOnly && node.RoomForKey(2 * Format_.MaximumKeySize()) &&
                     node.ChangeInPlace();
      if (inPlace) {
        // The child's page, the only other one read here, is taken first;
        // should that have moved this page in the cache, the change goes
        // through the buffer after all.
        TNode& child = *Levels_[static_cast<size_t>(level) + 1];
        child.Page();
        if (!node.ViewCurrent()) {
          node.WriteNode();
          inPlace = false;
        }
      }
      try {
        UpdateEntriesAbove(level, childChange, Deleting, inPlace, countOnly);
      } catch (...) {
        if (inPlace) {
          try {
            node.WriteNode();
          } catch (...) {
            // The first failure is the one to report.
          }
        }
        throw;
      }
      if (inPlace) node.WriteNode();
    }
    TLevelChange change;
    if (node.CheckNodeFull()) {
      if (level == 0) {
        SplitRoot();
        return;
      }
      change = SplitNode(level);
    } else if (Deleting && level > 0 && node.CheckNodeTooEmpty() &&
               Levels_[static_cast<size_t>(level) - 1]->GetCount() > 1) {
      change = Rebalance(level);
    }
    node.WriteNode();
    childChange = change;
    childFirstKept = firstKept;
  }
  if (Deleting) CollapseRoot();
}

TBTree::TLevelChange TBTree::SplitNode(int32_t Level) {
  TNode& node = *Levels_[static_cast<size_t>(Level)];
  TNode& right = *Spare_;
  const int32_t used = node.Used();
  int32_t split = node.FindKeyByPosition(ksLE, used / 2);
  if (split <= 0) split = node.EntryLength(0);
  const bool leaf = node.CheckIsLeaf();
  right.Invalidate();
  right.Wipe(leaf);
  node.MoveBlock(split, used - split, right, 0);
  const uint32_t oldNext = node.GetNext();
  if (leaf) {
    right.SetNext(oldNext);
    right.SetPrior(node.Address());
  }
  const uint32_t addr = AllocatePage(right);
  if (leaf) {
    if (oldNext != 0) PatchLink(oldNext, ndPrior, addr);
    node.SetNext(addr);
  }
  right.ReadKey(0, PendingKey_.data());
  StoreU32(PendingKey_.data() + keAddress, addr);
  StoreU32(PendingKey_.data() + keCount, LeafCount(right));
  return {chSplit, false};
}

void TBTree::SplitRoot() {
  TNode& root = *Levels_[0];
  SplitNode(0);
  const uint32_t rightAddr = Spare_->Address();
  TNode& copy = *Scratch_;
  copy.Invalidate();
  copy.CopyFrom(root);
  const uint32_t copyAddr = AllocatePage(copy);
  if (root.CheckIsLeaf()) PatchLink(rightAddr, ndPrior, copyAddr);
  root.Wipe(false);
  copy.ReadKey(0, WorkKey_.data());
  StoreU32(WorkKey_.data() + keAddress, copyAddr);
  StoreU32(WorkKey_.data() + keCount, LeafCount(copy));
  root.InsertKey(0, WorkKey_.data());
  root.InsertKey(root.Used(), PendingKey_.data());
  root.WriteNode();
  *DepthRef_ = *DepthRef_ + 1;
  // The levels below the root now hold other pages; forget them.
  for (size_t level = 1; level < Levels_.size(); ++level) Levels_[level]->Invalidate();
  PathPrepared_ = false;
}

bool TBTree::KeepsEntries(int32_t LeftUsed, int32_t RightUsed, int32_t RightFirst) const {
  const int32_t total = LeftUsed + RightUsed;
  if (PageSize_ / 3 >= total) return false;
  if (LeftUsed == RightUsed) return true;
  // The fuller side gives whole entries towards the half: the left its
  // tail, always at least one; the right its head, none when its first
  // entry reaches past the half or is its only one.
  const int32_t half = total / 2;
  if (LeftUsed > half) return false;
  return half - LeftUsed < RightFirst || RightFirst >= RightUsed;
}

TBTree::TLevelChange TBTree::Rebalance(int32_t Level) {
  TNode& node = *Levels_[static_cast<size_t>(Level)];
  TNode& parent = *Levels_[static_cast<size_t>(Level) - 1];
  const int32_t pos = Positions_[static_cast<size_t>(Level) - 1];
  const int32_t leftPos = pos > 0 ? parent.FindKeyByPosition(ksLE, pos - 1) : -1;
  const int32_t rightPos = pos + parent.EntryLength(pos);
  const bool hasLeft = leftPos >= 0;
  const bool hasRight = rightPos < parent.Used();
  bool useLeft = hasLeft;
  if (hasLeft && hasRight) useLeft = parent.EntryCount(leftPos) <= parent.EntryCount(rightPos);
  const uint32_t sibAddr = parent.EntryAddress(useLeft ? leftPos : rightPos);
  const bool leaf = node.CheckIsLeaf();
  const auto firstLength = [](const TNode& Node) {
    return Node.CheckNodeEmpty() ? 0 : Node.EntryLength(0);
  };
  // The sibling's notes; the spare node holds them when it still views
  // the sibling, which spares a lookup.
  const auto sibNotes = [&]() -> const TPageNotes* {
    const TPageNotes* held = Spare_->Address() == sibAddr ? Spare_->HeldNotes() : nullptr;
    return held != nullptr ? held : IOInterface_->BlockNotes(sibAddr);
  };
  TSiblingNote& known = SiblingNotes_[static_cast<size_t>(Level)];
  if (known.Addr == sibAddr && known.Leaf == leaf) {
    const TPageNotes* notes = sibNotes();
    if (notes != nullptr && notes->Stamp == known.Stamp &&
        (useLeft ? KeepsEntries(known.Used, node.Used(), firstLength(node))
                 : KeepsEntries(node.Used(), known.Used, known.First)))
      return {chNone, useLeft};
  }
  TNode& sib = *Spare_;
  sib.ReadNode(sibAddr, true);
  if (sib.CheckIsLeaf() != leaf || sib.CheckNodeEmpty())
    Corrupt("TBTree.Rebalance", "Sibling page does not match the tree");
  TNode& left = useLeft ? sib : node;
  TNode& right = useLeft ? node : sib;
  // Both pages' used bytes, read once: nothing below changes them before
  // the move.
  const int32_t leftUsed = left.Used();
  const int32_t rightUsed = right.Used();
  const int32_t total = leftUsed + rightUsed;
  if (PageSize_ / 3 >= total) {
    PLAT_ASSERT(total + MaximumKeySize_ <= PageSize_, "Merged index page would not fit");
    node.BlockInsert(useLeft ? 0 : node.Used(), sib.Used(), sib, 0);
    if (node.CheckIsLeaf()) {
      if (useLeft) {
        const uint32_t beyond = sib.GetPrior();
        node.SetPrior(beyond);
        if (beyond != 0) PatchLink(beyond, ndNext, node.Address());
      } else {
        const uint32_t beyond = sib.GetNext();
        node.SetNext(beyond);
        if (beyond != 0) PatchLink(beyond, ndPrior, node.Address());
      }
    }
    ReleasePage(sibAddr);
    return {chMerged, useLeft};
  }
  if (KeepsEntries(leftUsed, rightUsed, firstLength(right))) {
    const TPageNotes* notes = sibNotes();
    known = notes != nullptr
                ? TSiblingNote{sibAddr, notes->Stamp, leaf, useLeft ? leftUsed : rightUsed,
                               firstLength(sib)}
                : TSiblingNote{};
    return {chNone, useLeft};
  }
  // The records in the entries [From, To) of Node, so that the parent's
  // counts follow without a count of either page.
  const auto records = [](const TNode& Node, int32_t From, int32_t To) -> int64_t {
    if (Node.CheckIsLeaf()) return Node.IndexOfPosition(To) - Node.IndexOfPosition(From);
    int64_t n = 0;
    for (int32_t p = From; p < To; p += Node.EntryLength(p)) n += Node.EntryCount(p);
    return n;
  };
  const int32_t half = total / 2;
  const bool fromLeft = leftUsed > half;
  int32_t b = 0;
  if (fromLeft) {
    b = left.FindKeyByPosition(ksLE, half);
    if (b <= 0) b = left.EntryLength(0);
  } else {
    b = std::max(right.FindKeyByPosition(ksLE, half - leftUsed), 0);
  }
  const int32_t move = fromLeft ? leftUsed - b : b;
  // Nothing moved: both pages stay as they were, and so do their entries.
  if (move == 0) return {chNone, useLeft};
  // Both pages are written right after the move: they change in the cached
  // pages themselves where they can (each ends near half full, within its
  // page), and are written even when the move fails half way.
  bool nodeInPlace = node.ChangeInPlace();
  const bool sibInPlace = sib.ChangeInPlace();
  if (nodeInPlace && !node.ViewCurrent()) {
    // Taking the sibling moved the node's page in the cache.
    node.WriteNode();
    nodeInPlace = false;
  }
  const auto writeSib = plat::OnScopeFailure([&] {
    if (sibInPlace) sib.WriteNode();
  });
  const auto writeNode = plat::OnScopeFailure([&] {
    if (nodeInPlace) node.WriteNode();
  });
  int64_t toRight = 0;
  if (fromLeft) {
    toRight = records(left, b, leftUsed);
    left.MoveBlock(b, move, right, 0);
  } else {
    toRight = -records(right, 0, b);
    right.MoveBlock(0, b, left, leftUsed);
  }
  sib.WriteNode();
  if (nodeInPlace) node.WriteNode();
  // The sibling's entry above takes its first key; taken while the page is
  // at hand, not read again after the writes that follow.
  sib.ReadKey(0, SiblingKey_.data());
  return {chRedistributed, useLeft, useLeft ? toRight : -toRight};
}

void TBTree::CollapseRoot() {
  TNode& root = *Levels_[0];
  bool changed = false;
  while (*DepthRef_ > 1 && !root.CheckIsLeaf() && root.GetCount() == 1) {
    const uint32_t child = root.EntryAddress(0);
    Scratch_->ReadNode(child, true);
    root.CopyFrom(*Scratch_);
    root.SetNext(0);
    root.SetPrior(0);
    root.WriteNode();
    ReleasePage(child);
    *DepthRef_ = *DepthRef_ - 1;
    changed = true;
  }
  if (changed) {
    for (size_t level = 1; level < Levels_.size(); ++level) Levels_[level]->Invalidate();
    PathPrepared_ = false;
  }
}

// ---------------------------------------------------------------- lists

void TBTree::ListMatchingRecords(const uint8_t* Key, int32_t FieldCount,
                                 TIndexSearchType SearchType, uint32_t StopAddr,
                                 TCompoundList& List) {
  CheckOpen("TBTree.ListMatchingRecords");
  EnsurePath();
  if (!Positioned_) return;
  const bool backward = SearchType == stLT || SearchType == stLE;
  int32_t recNo = GetRecordNo();
  std::vector<std::pair<uint32_t, int32_t>> found;
  for (;;) {
    const uint8_t* entry = Leaf().EntryAt(Positions_.back());
    if (SearchType == stEQ && Format_.CompareKeys(FieldCount, nullptr, nullptr, Key, entry) != 0)
      break;
    const uint32_t addr = LoadU32(entry + keAddress);
    found.emplace_back(addr, recNo);
    if (StopAddr != 0 && addr == StopAddr) break;
    if (backward) {
      if (!PriorRecord()) break;
      --recNo;
    } else {
      if (!NextRecord()) break;
      ++recNo;
    }
  }
  if (backward) std::reverse(found.begin(), found.end());
  for (const auto& [addr, no] : found)
    List.Add(IntToListEntry(static_cast<int32_t>(addr)), IntToListEntry(no));
}

void TBTree::ListRunAddresses(const uint8_t* Key, int32_t FieldCount, bool Inclusive,
                              std::vector<uint32_t>& List) {
  CheckOpen("TBTree.ListRunAddresses");
  EnsurePath();
  if (!Positioned_) return;
  DescentValidForInsert_ = false;
  TOptimizedSearchKey& stop = RunStop_;
  if (Key != nullptr) Format_.Decode(Key, nullptr, stop);
  const auto inRun = [&](const uint8_t* Entry) {
    if (Key == nullptr) return true;
    const int32_t c = Format_.CompareToOptimizedKey(FieldCount, stop, Entry);
    return Inclusive ? c >= 0 : c > 0;
  };
  for (;;) {
    TNode& leaf = Leaf();
    // Read through the const view: the page stays in the cache, uncopied.
    const TNode& page = leaf;
    const int32_t last = leaf.LastPosition();
    const bool whole = inRun(leaf.EntryAt(last));
    int32_t pos = Positions_.back();
    for (;;) {
      const int32_t len = leaf.EntryLength(pos);
      const uint8_t* entry = page.Entries() + pos;
      if (!whole && !inRun(entry)) {
        leaf.SetCursor(pos);
        Positions_.back() = pos;
        return;
      }
      List.push_back(LoadU32(entry + keAddress));
      if (pos >= last) break;
      pos += len;
    }
    leaf.SetCursor(last);
    Positions_.back() = last;
    if (!StepLeaf(true)) return;
  }
}

int32_t TBTree::ListReadAheadRecords(TReadAheadDirection Direction, int32_t Count,
                                     TReadAheadBuffer& Buffer) {
  CheckOpen("TBTree.ListReadAheadRecords");
  EnsurePath();
  if (!Positioned_ || Count < 1) return 0;
  TNode& leaf = Leaf();
  const int32_t n = leaf.GetCount();
  const int32_t cur = leaf.IndexOfPosition(Positions_.back());
  int32_t first = cur;
  int32_t last = cur;
  switch (Direction) {
    case rdBackwards:
      first = std::max(0, cur - Count + 1);
      break;
    case rdCenter: {
      const int32_t half = Count / 2;
      first = std::max(0, cur - half);
      last = std::min(n - 1, cur + std::max(half, 1) - 1);
      break;
    }
    default:
      last = std::min(n - 1, cur + Count - 1);
      break;
  }
  const int32_t base = GetRecordNo() - (cur - first);
  int32_t pos = leaf.PositionOfIndex(first);
  TReadAheadBufferItem* prior = Buffer.Count() > 0 ? Buffer.Last() : nullptr;
  for (int32_t i = first; i <= last; ++i) {
    const uint8_t* entry = leaf.EntryAt(pos);
    const int32_t len = leaf.EntryLength(pos);
    const uint32_t addr = LoadU32(entry + keAddress);
    PLAT_ASSERT(Buffer.GetIndexOfBufferItem(addr) < 0, "Read-ahead buffer holds an address twice");
    const int32_t recNo = base + (i - first);
    PLAT_ASSERT(prior == nullptr || prior->RecNo() + 1 == recNo,
                "Read-ahead record numbers out of sequence");
    TReadAheadBufferItem* item = Buffer.Add();
    const int32_t keySize = Buffer.KeySize();
    if (item->KeyBuf() != nullptr && keySize > 0) {
      std::memset(item->KeyBuf(), 0, static_cast<size_t>(keySize));
      std::memcpy(item->KeyBuf(), entry, static_cast<size_t>(std::min(len, keySize)));
    }
    item->SetRecAddr(addr);
    item->SetRecNo(recNo);
    prior = item;
    pos += len;
  }
  return last - first + 1;
}

void TBTree::FillHashTable(TZelBaseHash& Hash, int32_t KeyFieldNo) {
  CheckOpen("TBTree.FillHashTable");
  if (KeyFieldNo < 0 || KeyFieldNo >= Format_.FieldCount())
    ZelDatabaseErrorFmt(0x2185, "TBTree.FillHashTable", "Key field %d out of range", {KeyFieldNo},
                        this);
  if (!SetCursorToEnd(true)) return;
  do {
    const uint8_t* entry = Leaf().EntryAt(Positions_.back());
    const uint8_t* value = nullptr;
    int32_t size = 0;
    if (Format_.LocateValue(entry, KeyFieldNo, value, size))
      Hash.Add(value, size, static_cast<int32_t>(LoadU32(entry + keAddress)));
  } while (NextRecord());
}

}  // namespace zel
