#pragma once
// B-tree pages (TNode) and the B-tree of one index (TBTree).
//
// Page (one block of the index store, little-endian):
//   0   4  leaf flag: 1 leaf, 0 internal
//   4   4  bytes used by entries
//   8   4  next page on the same level, 0 none (leaves only)
//   12  4  prior page on the same level, 0 none (leaves only)
//   16 ..  entries (keys, see zelIndexKeys.h), packed, in key order
//
// Rules the tree keeps (the integrity check of the tests verifies them):
//  1. The root page never moves; its address and the depth live in the
//     owner's variables (the table header slot) and are written back after
//     every change.
//  2. All leaves are at depth - 1; the leaves form one doubly linked chain in
//     key order, from the first leaf (prior 0) to the last (next 0); internal
//     pages have no links.
//  3. An internal entry carries the first key of its child and the number of
//     records below it; no page but the root is ever empty.
//  4. Entries of a page are in ascending key order, and every key of a child
//     lies between its entry's key and the next entry's key.
//  5. A page is split as soon as it has no room left for a key of
//     MaximumKeySize bytes, so an insert always fits.
// Everything read from a page is checked before it is used: a used-bytes
// field out of range, an entry length that breaks the page, or leaf links
// that disagree with the tree give 0x2305 "Index is corrupt".

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/zelApi.h"
#include "engine/storage/zelIndexKeys.h"
#include "engine/storage/zelInterfaceUnit.h"

namespace zel {

class TBTree;
class TCompoundList;
class TReadAheadBuffer;
class TZelBaseHash;

enum TIndexSearchType : uint8_t { stLT, stLE, stEQ, stGE, stGT, stLEG };
enum TReadAheadDirection : uint8_t { rdNone, rdBackwards, rdForwards, rdCenter };

// Limits a search to fewer key fields: with LimitedSearch, the first
// IncludedKeyFieldCount fields (when at least 1), else the fields before the
// first hidden one.
struct TSearchModifier {
  int32_t IncludedKeyFieldCount = 0;
  bool LimitedSearch = false;
};

// Page offsets.
inline constexpr int32_t ndLeaf = 0;
inline constexpr int32_t ndUsed = 4;
inline constexpr int32_t ndNext = 8;
inline constexpr int32_t ndPrior = 12;
inline constexpr int32_t NodeHeaderSize = 16;

// One page in memory. Positions are byte offsets into the entry area. Where
// the store's page cache holds the page, a node reads it there in place and
// takes a copy into its buffer only when it changes the page, so a page that
// is only read is neither copied nor written back. The buffer has room past
// the page for two keys, so a page may overflow by one insert and one key
// update before it is split; what is written is always within the page.
// Invariant: 0 <= Used() <= the buffer's entry room.
class TNode : public plat::TObject {
 public:
  TNode() = default;
  TNode(const TNode&) = delete;
  TNode& operator=(const TNode&) = delete;

  std::string ClassName() const override { return "TNode"; }

  // Sizes the buffer for Tree's key format; it is made, zeroed, when first
  // used (a page read in place never needs it).
  void Open(TBTree* Tree, TBaseIOInterface* IOInterface, int32_t PageSize);
  bool IsOpen() const { return BufferSize_ != 0; }
  // Reads the page unless Addr is loaded already (or Force); a page read
  // anew has its cursor on 0, a loaded one keeps it.
  void ReadNode(uint32_t Addr, bool Force = false);
  void WriteNode();
  // A different address clears the buffer, keeping the leaf flag.
  void SetAddress(uint32_t Addr);
  uint32_t Address() const { return Address_; }
  // Forgets the loaded page.
  void Invalidate() {
    Address_ = 0;
    DropView();
  }
  void ClearNode();
  void SetLeaf(bool Leaf);
  bool CheckIsLeaf() const { return ix::LoadU32(Page() + ndLeaf) == 1; }

  bool CheckNodeFull() const;
  bool RoomForKey(int32_t Size) const { return Used() + Size + NodeHeaderSize <= PageSize_; }
  bool CheckNodeTooEmpty() const { return Used() + NodeHeaderSize < PageSize_ / 2; }
  bool CheckNodeEmpty() const { return Used() == 0; }

  int32_t FindKeyByPosition(TKeySearchType Type, int32_t Pos) const;
  void InsertKey(int32_t Pos, const uint8_t* Key);
  // InsertKey straight into a memory store's block, or a cached disk page
  // the running transaction changed already, marked written; false (nothing
  // done) when the page is neither or would have to split.
  bool InsertKeyInPlace(int32_t Pos, const uint8_t* Key);
  // Known entry positions take an entry of Len bytes put at Pos, the At-th.
  void NoteInsertedEntry(int32_t At, int32_t Pos, int32_t Len);
  // Positions (of a page's entries) take an entry of Len bytes put at Pos,
  // the At-th.
  static void InsertPosition(std::vector<int32_t>& Positions, int32_t At, int32_t Pos,
                             int32_t Len);
  void DeleteKey(int32_t Pos);
  void UpdateKey(int32_t Pos, const uint8_t* Key);
  // Copies the entry at Pos into Key (MaximumKeySize bytes of room).
  void ReadKey(int32_t Pos, uint8_t* Key) const;
  void CopyCurrentKey(uint8_t* Key) const { ReadKey(Cursor_, Key); }
  // Moves Size entry bytes from Source (at SourcePos) to this page at Pos.
  void BlockInsert(int32_t Pos, int32_t Size, const TNode& Source, int32_t SourcePos);
  void BlockDelete(int32_t Pos, int32_t Size);
  // Moves Size entry bytes at Pos of this page to Dest at DestPos.
  void MoveBlock(int32_t Pos, int32_t Size, TNode& Dest, int32_t DestPos);

  // The entry at Pos, checked to lie within the used bytes.
  const uint8_t* EntryAt(int32_t Pos) const {
    EntryLength(Pos);
    return Entries() + Pos;
  }
  int32_t EntryLength(int32_t Pos) const {
    // Taken on every step over a page: the checks inline, the error apart.
    const uint8_t* page = Page();
    const int32_t used = static_cast<int32_t>(ix::LoadU32(page + ndUsed));
    if (Pos >= 0 && Pos + MinKeySize_ <= used) {
      const int32_t len = ix::LoadU16(page + NodeHeaderSize + Pos);
      if (len >= MinKeySize_ && len <= SlotSize_ && Pos + len <= used) return len;
    }
    BadEntry(Pos);
  }
  // The entry at the cursor; a cursor off the entries raises 0x2185 "Node
  // cursor out of range".
  const uint8_t* GetCurrentKey() const;
  uint32_t GetRecordAddress() const { return ix::LoadU32(GetCurrentKey() + keAddress); }
  // Records before the cursor, plus one on a leaf.
  int64_t GetKeyNo() const;
  uint32_t EntryAddress(int32_t Pos) const { return ix::LoadU32(EntryAt(Pos) + keAddress); }
  uint32_t EntryCount(int32_t Pos) const { return ix::LoadU32(EntryAt(Pos) + keCount); }
  // Records at or before the entry at UpTo (a position outside the page:
  // all): 1 per leaf entry, the count of each internal entry.
  int64_t GetRecordCount(int32_t UpTo = -1) const;
  // Records before the entry at Pos.
  int64_t RecordsBefore(int32_t Pos) const;
  int32_t GetCount() const;
  // The position of entry Index (0-based), Used() when past the end.
  int32_t PositionOfIndex(int32_t Index) const;
  // The index of the entry at Pos.
  int32_t IndexOfPosition(int32_t Pos) const;
  int32_t LastPosition() const;

  bool NextRecord();
  bool PriorRecord();
  void SetCursorToEnd(bool First);
  void ForceCursorToPhysicalKey();
  int32_t Cursor() const { return Cursor_; }
  void SetCursor(int32_t Pos) { Cursor_ = Pos; }

  // Leaf: the first entry not below the search key (Used() when every entry
  // is below), or with UpperBound the first entry above it. Internal: the
  // last entry below the search key (with UpperBound: not above it), the
  // first entry when there is none. Returns the comparison of the search key
  // with the chosen entry (0 equal, positive when the search key is greater);
  // Pos and the cursor are set to the entry.
  int32_t SearchNode(const TOptimizedSearchKey& Key, int32_t FieldCount, bool UpperBound,
                     int32_t& Pos);

  uint32_t GetNext() const { return ix::LoadU32(Page() + ndNext); }
  uint32_t GetPrior() const { return ix::LoadU32(Page() + ndPrior); }
  void SetNext(uint32_t Addr) { ix::StoreU32(MutablePage() + ndNext, Addr); }
  void SetPrior(uint32_t Addr) { ix::StoreU32(MutablePage() + ndPrior, Addr); }
  int32_t Used() const { return static_cast<int32_t>(ix::LoadU32(Page() + ndUsed)); }
  int32_t PageSize() const { return PageSize_; }
  uint8_t* Data() { return MutablePage(); }
  const uint8_t* Data() const { return Page(); }
  // Read in place from the page cache (not changed since it was read).
  bool InPlace() const { return View_ != nullptr; }
  // Moves the count of the entry at Pos to Count in the cached page itself
  // and marks the page written; false when the node is neither read in
  // place nor holding what it last wrote (the caller then changes the
  // buffer and writes the node).
  bool SetCountInPlace(int32_t Pos, uint32_t Count);
  // The entry at Pos for a change (taking the page into the buffer).
  uint8_t* MutableEntryAt(int32_t Pos);
  // Copies another node's page image (and leaf flag and links).
  void CopyFrom(const TNode& Source);

 private:
  friend class TBTree;

  void SetUsed(int32_t Value) {
    ix::StoreU32(MutablePage() + ndUsed, static_cast<uint32_t>(Value));
    PositionsValid_ = false;
  }
  // Zeroes the whole buffer and sets the leaf flag.
  void Wipe(bool Leaf);
  uint8_t* Entries() { return MutablePage() + NodeHeaderSize; }
  const uint8_t* Entries() const { return Page() + NodeHeaderSize; }
  // The page's bytes: the cached page when read in place (taken again when
  // the cache changed since), else the buffer.
  const uint8_t* Page() const {
    if (View_ != nullptr && !ViewCurrent()) TakeViewAgain();
    return View_ != nullptr ? View_ : Buffer();
  }
  // The buffer, holding a copy of the page first when it was read in place;
  // during a change in place, the cached page itself.
  uint8_t* MutablePage() {
    if (View_ != nullptr) {
      if (InPlace_) {
        ChangedInPlace_ = true;
        return View_;
      }
      Own();
    }
    Synced_ = false;
    return Buffer();
  }
  // The buffer's bytes, made (all zero) on first use.
  uint8_t* Buffer() const {
    if (Buffer_.empty()) Buffer_.assign(BufferSize_, 0);
    return Buffer_.data();
  }
  // Makes the changes up to the next WriteNode in the cached page itself
  // when the node reads it in place (true then), so that the page is neither
  // copied into the buffer nor back. The caller writes the node right after
  // its changes, with nothing else read or written in between, and the
  // changes keep the entries within the page.
  bool ChangeInPlace();
  void Own();
  // Nothing in the cache changed since the view was taken or confirmed.
  bool ViewCurrent() const { return *Changes_ == Seen_; }
  // Confirms a view whose cache changed since: true (and the view current
  // again) when the page kept its buffer and its bytes, which spares a
  // lookup of the page.
  bool ConfirmView() const {
    if (ViewNotes_ == nullptr || *Slots_ != SeenSlots_ || ViewNotes_->Stamp != ViewStamp_)
      return false;
    Seen_ = *Changes_;
    return true;
  }
  // The notes of the page viewed while they are still its notes, else null.
  TPageNotes* HeldNotes() const {
    return View_ != nullptr && *Slots_ == SeenSlots_ ? ViewNotes_ : nullptr;
  }
  // Marks the page changed in the cache (Page, with its Notes when known)
  // as written; true when the running transaction had changed it already.
  bool MarkWritten(TPageNotes* Notes, const uint8_t* Page);
  // Reads the cached Page (from BlockInPlace, with its Notes and counts),
  // which holds what the buffer holds, in place from now on; nothing done
  // without the notes and counts.
  void AdoptView(uint8_t* Page, TPageNotes* Notes, std::shared_ptr<uint64_t>& Changes,
                 std::shared_ptr<uint64_t>& Slots);
  // Hands the known entry positions to the page's notes.
  void KeepPositions(TPageNotes& Notes) const;
  // Takes the view as current after this node's own write to the page.
  void SeeOwnWrite() {
    Seen_ = *Changes_;
    SeenSlots_ = *Slots_;
    if (ViewNotes_ != nullptr) ViewStamp_ = ViewNotes_->Stamp;
  }
  // Takes the page at Addr in place from the store, with its notes; false
  // (no view, Notes null) where the store cannot.
  bool TakeView(uint32_t Addr, TPageNotes*& Notes);
  void DropView() {
    View_ = nullptr;
    ViewNotes_ = nullptr;
    Changes_.reset();
    Slots_.reset();
    Synced_ = false;
    InPlace_ = false;
    ChangedInPlace_ = false;
  }
  void TakeViewAgain() const;
  // Takes the page at Address_ from the store: in place where it can.
  void Load(uint32_t Addr);
  void CheckOpen(const char* Context) const;
  // Raises 0x2305 for the entry at Pos, which EntryLength found broken.
  [[noreturn]] void BadEntry(int32_t Pos) const;
  // Checks what was read: leaf flag, used bytes, fixed-size slots.
  void CheckHeader() const;
  // The positions of the entries of a page of keys of varying length,
  // gathered (checking every length) once per page image and kept until the
  // entries change.
  const std::vector<int32_t>& Positions() const;
  // The index of the entry at Pos in the known positions (the count when Pos
  // is Used), -1 when Pos starts no entry.
  int32_t EntryIndexAt(int32_t Pos, int32_t Used) const;
  int32_t CompareAt(const TOptimizedSearchKey& Key, int32_t FieldCount, int32_t Pos) const;

  TBTree* Tree_ = nullptr;
  TBaseIOInterface* IOInterface_ = nullptr;
  int32_t PageSize_ = 0;
  int32_t SlotSize_ = 0;
  int32_t MinKeySize_ = 0;
  size_t BufferSize_ = 0;
  mutable std::vector<uint8_t> Buffer_;
  uint32_t Address_ = 0;
  int32_t Cursor_ = 0;
  mutable std::vector<int32_t> Positions_;
  mutable bool PositionsValid_ = false;
  // The buffer holds what this node last wrote to the page and has not
  // changed since: a count can then be set in the cached page as well,
  // without writing the whole page again.
  bool Synced_ = false;
  // Changes go to the cached page itself (see ChangeInPlace), and some did.
  bool InPlace_ = false;
  bool ChangedInPlace_ = false;
  // The page in the cache when read in place, and the cache's change count
  // when it was taken.
  mutable uint8_t* View_ = nullptr;
  mutable std::shared_ptr<uint64_t> Changes_;
  mutable uint64_t Seen_ = 0;
  // The notes of the page viewed (null where the store keeps none), valid
  // while the cache's slot count stands, that count and their stamp when
  // last seen.
  mutable TPageNotes* ViewNotes_ = nullptr;
  mutable std::shared_ptr<uint64_t> Slots_;
  mutable uint64_t SeenSlots_ = 0;
  mutable uint64_t ViewStamp_ = 0;
};

// One index as a B-tree of pages in an index block store.
class ZEL_API TBTree : public plat::TObject {
 public:
  TBTree();
  TBTree(const TBTree&) = delete;
  TBTree& operator=(const TBTree&) = delete;
  ~TBTree() override;

  std::string ClassName() const override { return "TBTree"; }

  // The store, the page size and the owner's root address and depth, which
  // the tree reads and writes back.
  void ConnectToIFace(TBaseIOInterface* IOInterface, uint32_t PageSize, uint32_t* RootRef,
                      uint32_t* DepthRef);
  // Copies the key fields (their DataOffset is the key bitmap size).
  void SetKeyFields(const TKeyFields& Fields);
  TKeyFields& KeyFields() { return KeyFields_; }
  // Allocates the three key buffers.
  void SetMaximumKeySize(int32_t Value);
  int32_t MaximumKeySize() const { return MaximumKeySize_; }
  void SetPageSize(uint32_t Value) { PageSize_ = static_cast<int32_t>(Value); }
  int32_t PageSize() const { return PageSize_; }
  void SetDBStringCompare(TDBStringCompare Value) { DBStringCompare_ = Value; }
  TDBStringCompare DBStringCompare() const { return DBStringCompare_; }
  void SetIndexKeyType(TIndexKeyType Value) { IndexKeyType_ = Value; }
  TIndexKeyType IndexKeyType() const { return IndexKeyType_; }
  void SetLocked(bool Value) { Locked_ = Value; }
  bool Locked() const { return Locked_; }
  TBaseIOInterface* IOInterface() const { return IOInterface_; }

  // Compiles the key format and makes the nodes; refuses without a string
  // compare function (0x2185 "No sort order function assigned").
  void Open();
  void Close();
  bool IsOpen() const { return Open_; }

  // A new empty leaf root; root address and depth 1.
  void CreateTree();
  // Releases every page; DropRoot leaves root and depth 0, otherwise a new
  // empty root is made.
  void EmptyTree(bool DropRoot);

  // Key construction (Markers: one per key field, missing ones fcDefault).
  void ConstructKeyBufFromRecBuf(const uint8_t* RecBuf, const TComparisonMarkers* Markers);
  void ConstructTempKeyBufFromRecBuf(uint8_t* Dest, const uint8_t* RecBuf,
                                     const TComparisonMarkers* Markers);
  void ConstructKeyBufFromKeyBuf(const uint8_t* Key, const TComparisonMarkers* Markers);
  void ConstructKeyBufFromVariants(const plat::Variant& Values, const TComparisonMarkers* Markers);
  void SetKeyBufAddr(uint32_t Addr);
  int32_t CompareKeys(int32_t FieldCount, const TComparisonMarkers* MarkersA,
                      const TComparisonMarkers* MarkersB, const uint8_t* KeyA,
                      const uint8_t* KeyB) const;
  int32_t CompareToOptimizedKey(int32_t FieldCount, const uint8_t* Key) const;
  std::string DecodeKeyBufAsStrings(const uint8_t* Key) const;
  std::string DecodeRecKeyBufAsStrings(const uint8_t* RecBuf);
  std::string CurrentKeyAsStrings();

  // The search key, the work key and the temporary key (MaximumKeySize + 1
  // bytes each), and the decoded search key.
  uint8_t* SearchKey() { return SearchKey_.data(); }
  uint8_t* WorkKey() { return WorkKey_.data(); }
  uint8_t* TempKey() { return TempKey_.data(); }
  const TComparisonMarkers& SearchMarkers() const { return SearchMarkers_; }
  const TOptimizedSearchKey& OptimizedKey() const { return Optimized_; }
  const TKeyFormat& Format() const { return Format_; }

  // Positions the cursor by the search key; 0 when a record satisfying
  // SearchType was found (the cursor is left on it).
  int32_t IndexSearch(TIndexSearchType SearchType, const TSearchModifier* Modifier = nullptr);
  // Inserts the search key (with its record address) at the position of the
  // last descent, which the caller made (IndexSearch with stGE or stEQ).
  int32_t InsertKey();
  // Deletes the entry at the cursor.
  int32_t DeleteKey();
  // Fills the tree, which must be empty, with Keys (whole keys with their
  // record addresses, in ascending order) from the leaves up: every page is
  // filled as far as an insert may fill it before a split, without a search
  // or a split. The root stays where it is.
  void LoadSortedKeys(const std::vector<const uint8_t*>& Keys);

  bool NextRecord();
  bool PriorRecord();
  // Cursor to the first (First) or last entry of the index; false when empty.
  bool SetCursorToEnd(bool First);
  uint32_t GetRecAddr();
  bool Positioned() const { return Positioned_; }

  int32_t GetRecordCount(bool Refresh = false);
  // 1-based number of the record at the cursor, 0 when there is none.
  int32_t GetRecordNo();
  // Address of record RecNo (and the cursor on it), 0 when there is none.
  uint32_t GetAddrOfRecNo(int32_t RecNo);

  // Appends (address, record number) of every record from the cursor on
  // that satisfies SearchType against Key on FieldCount fields, in ascending
  // key order: stLT and stLE walk back from the cursor, the others forward;
  // stEQ stops at the first unequal key, the others at the end of the index
  // or after StopAddr (when not 0).
  void ListMatchingRecords(const uint8_t* Key, int32_t FieldCount, TIndexSearchType SearchType,
                           uint32_t StopAddr, TCompoundList& List);
  // Appends the record address of every entry from the cursor on, in index
  // order, while its first FieldCount fields are not above Key (below it,
  // when not Inclusive); with Key nullptr, to the end of the index. A leaf
  // whose last entry lies within the run is taken whole, without a key
  // comparison per entry. The cursor stays on the last entry looked at.
  void ListRunAddresses(const uint8_t* Key, int32_t FieldCount, bool Inclusive,
                        std::vector<uint32_t>& List);
  // Adds up to Count entries of the cursor's page around the cursor to
  // Buffer (address, key copy, record number); returns the number added.
  int32_t ListReadAheadRecords(TReadAheadDirection Direction, int32_t Count,
                               TReadAheadBuffer& Buffer);
  // Adds (value, record address) of every key whose field KeyFieldNo has a
  // value to Hash, in index order; strings give their characters.
  void FillHashTable(TZelBaseHash& Hash, int32_t KeyFieldNo);

  // The entry at the cursor; nullptr when not positioned.
  const uint8_t* GetCurrentKeyBuf();
  // Key against the entry at the cursor (on FieldCount fields).
  int32_t CompareKeyToCurrentKeyBuf(int32_t FieldCount, const uint8_t* Key,
                                    const TComparisonMarkers* Markers = nullptr);
  // Forgets the loaded pages, so that the next access reads them again.
  void InvalidateInternalBuffers();
  // Forgets the place too, reading nothing: the tree may have been emptied
  // and built anew meanwhile, its pages freed.
  void ForgetPosition() {
    Positioned_ = false;
    PathStale_ = false;
    InvalidateInternalBuffers();
  }

  uint32_t Root() const { return RootRef_ != nullptr ? *RootRef_ : 0; }
  uint32_t Depth() const { return DepthRef_ != nullptr ? *DepthRef_ : 0; }

 private:
  friend class TNode;

  enum TChange : uint8_t { chNone, chSplit, chMerged, chRedistributed };
  struct TLevelChange {
    TChange Kind = chNone;
    bool SiblingLeft = false;
    // Redistributed: the records moved from the sibling to the node
    // (negative: from the node to the sibling).
    int64_t Moved = 0;
  };

  void CheckOpen(const char* Context) const;
  void TakeSearchKey(const TComparisonMarkers* Markers);
  // Adjusts the level nodes to the stored depth and loads the root.
  void PreparePath();
  // Descends by the search key; the leaf cursor ends on the first entry not
  // below it (with UpperBound: above it), stepping to the next leaf when the
  // chosen leaf has none. ForceToKey moves a cursor past the end back to the
  // last entry. Returns the comparison at the leaf cursor.
  int32_t InternalSearch(const TOptimizedSearchKey& Key, int32_t FieldCount, bool UpperBound,
                         bool ForceToKey);
  // The search key against the first entry of the leaf.
  int32_t CompareAt0(const TOptimizedSearchKey& Key, int32_t FieldCount) const;
  // Puts the cursor on the last entry of the index (the caller puts the
  // insert place after it) when the path of the last insert is still current, ends on the
  // rightmost leaf and the search key lies above that leaf's last key; false
  // (nothing done) otherwise.
  bool SearchPastEnd();
  // Searches only the leaf of the current path, when that path is still
  // whole and the search key lies within the leaf (above its first key, not
  // above its last): the outcome of a descent, without one. Result is the
  // comparison at the leaf cursor; false (nothing done) otherwise.
  bool SearchKeptLeaf(int32_t& Result);
  // For SearchKeptLeaf, whose path is whole and whose search key lies above
  // the leaf's last key (Next) or not above its first: the outcome of a
  // descent from the neighbouring leaf, the path moved there when the key
  // lies in it. Result and At as a descent leaves them; false when the
  // neighbour cannot tell (the path may have moved: a descent follows).
  bool SearchNeighbourLeaf(bool Next, int32_t& Result, int32_t& At);
  // Makes the cursor usable after a change: searches the key it was left on.
  void EnsurePath();
  // Moves the cursor one record on or back; false at the end of the index.
  bool StepRecord(bool Forward, const char* Caller);
  // Moves the path to the next or prior leaf; false at the end of the index.
  bool StepLeaf(bool Forward);
  uint32_t LeafCount(const TNode& Node) const;
  // Puts Node's first key, address and record count into the entry at Pos
  // of Parent; Count, when not negative, is the child's record count
  // already known, which spares a count of the child, and FirstKey, when
  // given, the child's first key, which spares a read of its page.
  void UpdateParentEntry(TNode& Parent, int32_t Pos, TNode& Child, int64_t Count = -1,
                         const uint8_t* FirstKey = nullptr);
  // Works the changes of level Level upward to the root.
  void FixUpFrom(int32_t Level, bool Deleting);
  // Puts the change of the level below (ChildChange, and the one record
  // more or less) into the entries of level Level; with InPlace its node
  // changes the cached page itself, which the caller then writes. Where
  // the child changed by its count alone, CountOnly tells whether the entry
  // carries the child's first key (only the count changes) or not (the
  // entry takes the key too).
  void UpdateEntriesAbove(int32_t Level, const TLevelChange& ChildChange, bool Deleting,
                          bool InPlace, bool CountOnly);
  // Fixes the tree up after a key went into or out of the current leaf and
  // leaves the tree positioned on it; on a fault the buffered path is dropped.
  void FixUpLeafChange(bool Deleting);
  // Parent's entry at Pos carries Child's address and first key.
  bool EntryMatchesChild(const TNode& Parent, int32_t Pos, const TNode& Child) const;
  TLevelChange SplitNode(int32_t Level);
  void SplitRoot();
  TLevelChange Rebalance(int32_t Level);
  // Whether a page too empty and its sibling keep their entries: no merge,
  // and no whole entry to move towards the half. RightFirst is the length
  // of the right page's first entry.
  bool KeepsEntries(int32_t LeftUsed, int32_t RightUsed, int32_t RightFirst) const;
  void CollapseRoot();
  // Rewrites one link field of the page at Addr.
  void PatchLink(uint32_t Addr, int32_t Offset, uint32_t Value);
  uint32_t AllocatePage(TNode& Node);
  void ReleasePage(uint32_t Addr);
  void StoreRootAndDepth(uint32_t Depth);
  [[noreturn]] void Corrupt(const char* Context, const std::string& Detail) const;
  TNode& Leaf() { return *Levels_.back(); }
  int32_t LeafLevel() const { return static_cast<int32_t>(Levels_.size()) - 1; }

  TBaseIOInterface* IOInterface_ = nullptr;
  int32_t PageSize_ = 0;
  uint32_t* RootRef_ = nullptr;
  uint32_t* DepthRef_ = nullptr;
  std::vector<std::unique_ptr<TNode>> Levels_;
  std::vector<int32_t> Positions_;
  // Per level, the sibling the last rebalance there read and left as it
  // was, with its page's stamp (TPageNotes): while the page keeps that
  // stamp, the next rebalance need not read it again to find that nothing
  // moves. A run of deletes rebalances the same pages at every step.
  struct TSiblingNote {
    uint32_t Addr = 0;
    uint64_t Stamp = 0;
    bool Leaf = false;
    int32_t Used = 0;
    int32_t First = 0;
  };
  std::vector<TSiblingNote> SiblingNotes_;
  std::unique_ptr<TNode> Spare_;
  std::unique_ptr<TNode> Scratch_;
  TKeyFields KeyFields_;
  TKeyFormat Format_;
  int32_t MaximumKeySize_ = 0;
  std::vector<uint8_t> SearchKey_;
  std::vector<uint8_t> WorkKey_;
  std::vector<uint8_t> TempKey_;
  std::vector<uint8_t> PendingKey_;
  // The first key of the sibling a redistribution left, for its entry above.
  std::vector<uint8_t> SiblingKey_;
  TComparisonMarkers SearchMarkers_;
  TOptimizedSearchKey Optimized_;
  TDBStringCompare DBStringCompare_ = nullptr;
  TIndexKeyType IndexKeyType_ = ikFixed;
  bool Positioned_ = false;
  bool PathPrepared_ = false;
  // The cursor's path is stale after a change; RestoreKey_ holds the key it
  // is to be put back on.
  bool PathStale_ = false;
  std::vector<uint8_t> RestoreKey_;
  TOptimizedSearchKey RestoreOptimized_;
  // The decoded end of the run ListRunAddresses reads.
  TOptimizedSearchKey RunStop_;
  // The last descent was by the whole search key without markers, so an
  // insert can go at InsertPos_ of the leaf without a descent of its own.
  bool DescentValidForInsert_ = false;
  int32_t InsertPos_ = 0;
  // The memory store's change count right after this tree's last insert
  // (0: none to go by). While the store still says so, the path left by that
  // insert is what the store holds, so a key above the last one of the
  // index can go onto the same rightmost leaf without a descent.
  uint64_t AppendStamp_ = 0;
  bool Locked_ = false;
  bool Open_ = false;
};

}  // namespace zel
