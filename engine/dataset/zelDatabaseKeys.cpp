// Key search and ranges: the cursor's seeks and range ends, the base table's
// key buffers, and the table component's key-search and range face.
//
// A range is two record buffers (start and end) whose fields hold values or
// the lowest / highest marker. Rules:
//  1. While the range is on, every move of the cursor ends on a record whose
//     key lies between the two range keys, or fails and keeps the record it
//     came from; an inactive range (start above end) has no record at all.
//  2. Record numbers and counts inside a range come from the positions of
//     its two ends in the current index; those positions are cached only
//     until the table changes, and are looked at only under a lock, so a
//     change by another cursor or process shows at the next lock.
#include <algorithm>
#include <cstring>

#include "engine/dataset/zelDatabaseTable.h"
#include "engine/storage/zelCommon.h"
#include "platform/db/DBConsts.h"
#include "platform/db/Fields.h"
#include "platform/rtl/ScopeGuard.h"

namespace zel {

// ---------------------------------------------------------------- the cursor

void TZelDataSet::SetKeyFlags(uint8_t* Buffer, uint8_t Flag) const {
  std::memset(Buffer, 0, static_cast<size_t>(RecordBufferSize()));
  for (int32_t i = 0; i < GetInternalFieldCount(); ++i)
    Buffer[GetInternalField(i)->NullFlagOffset()] = Flag;
  ix::StoreU32(Buffer + RecordSize_ + rbKeyMarker, Flag);
}

namespace {

TFieldComparisonValue MarkerOfFlag(uint32_t Flag) {
  if (Flag == kfLowest) return fcForceBOF;
  if (Flag == kfHighest) return fcForceEOF;
  return fcDefault;
}

}  // namespace

TComparisonMarkers TZelDataSet::KeyMarkers(const uint8_t* Buffer, TIndexItem& Index,
                                           TFieldComparisonValue NonFieldMarker) const {
  TComparisonMarkers markers;
  const TKeyFields& keys = Index.KeyFields();
  for (int32_t i = 0; i < keys.Count(); ++i) {
    const int32_t flag = keys.Items(i)->NullFlagOffset();
    markers.push_back(flag >= 0 ? MarkerOfFlag(Buffer[flag]) : NonFieldMarker);
  }
  return markers;
}

TIndexItem* TZelDataSet::SeekIndex(const uint8_t* Buffer, TIndexSearchType SearchType,
                                   const std::string& IndexName, const TSearchModifier& Modifier,
                                   const char* Context, int32_t& Result) {
  TIndexItem* index = IndexMgr_->FindIndex(IndexName);
  if (index == nullptr) ZelDatabaseErrorFmt(0x270D, Context, SzelIndexFmt, {IndexName}, this);
  const uint32_t marker = ix::LoadU32(Buffer + RecordSize_ + rbKeyMarker);
  if (marker >= 1) {
    const TComparisonMarkers markers = KeyMarkers(Buffer, *index, MarkerOfFlag(marker));
    index->CreateKeyBuffer(Buffer, &markers);
  } else {
    index->CreateKeyBuffer(Buffer);
  }
  // The nearest key compares only the fields given, so that a partial key
  // lands on the first record that starts with it.
  Result = index->PartialIndexSearch(SearchType, Modifier);
  return index;
}

int32_t TZelDataSet::InternalSearchOnly(const uint8_t* Buffer, TIndexSearchType SearchType,
                                        const std::string& IndexName,
                                        const TSearchModifier& Modifier) {
  CheckInternalActive();
  TCursorLock lock(*this, false);
  int32_t result = 0;
  SeekIndex(Buffer, SearchType, IndexName, Modifier, "TZelDataSet.InternalSearchOnly", result);
  return result;
}

void TZelDataSet::SetNullIndexFieldsToRangeEnd(uint8_t* Buffer, const std::string& IndexName,
                                               TRangeMode Mode,
                                               const std::vector<std::string>& Fields) {
  TIndexItem* index = IndexMgr_->FindIndex(IndexName);
  if (index == nullptr)
    ZelDatabaseErrorFmt(0x270D, "TZelDataSet.SetNullIndexFieldsToRangeEnd", SzelIndexFmt,
                        {IndexName}, this);
  const uint8_t flag = Mode == rmRangeStart ? kfLowest : kfHighest;
  const TKeyFields& keys = index->KeyFields();
  for (int32_t i = 0; i < keys.Count(); ++i) {
    const TKeyFieldItem* key = keys.Items(i);
    if (key->NullFlagOffset() < 0 || Buffer[key->NullFlagOffset()] != kfNull) continue;
    if (std::any_of(Fields.begin(), Fields.end(),
                    [&](const std::string& Name) { return plat::SameText(Name, key->FieldName()); }))
      continue;
    Buffer[key->NullFlagOffset()] = flag;
    ix::StoreU32(Buffer + RecordSize_ + rbKeyMarker, flag);
  }
}

bool TZelDataSet::InternalFind(TIndexSearchType SearchType, const std::string& IndexName,
                               const TSearchModifier& Modifier) {
  static const char* const Context = "TZelDataSet.InternalFind";
  CheckInternalActive();
  TCursorLock lock(*this, false);
  int32_t result = 0;
  TIndexItem* index = SeekIndex(RecBuf_.data(), SearchType, IndexName, Modifier, Context, result);
  if (result != 0) return false;
  const uint32_t addr = index->GetRecordAddress();
  if (addr == 0) return false;
  RecordMgr_->ReadRecord(addr, RecBuf_.data(), true);
  TIndexItem* current = CurrentIndex();
  if (current != index) {
    current->CreateKeyBuffer(RecBuf_.data());
    if (current->FullIndexSearch(stEQ) != 0)
      ZelDatabaseError(0x2185, Context, "Key found but not in current index", this);
  }
  SetRecordTrailer(RecBuf_.data(), addr, current->GetRecordNo());
  CurrentRecordFlag_ = true;
  return true;
}

bool TZelDataSet::Find(TIndexSearchType SearchType, const std::string& IndexName,
                       const TSearchModifier& Modifier) {
  if (FilterActive()) return FindInFilter(SearchType, IndexName, Modifier);
  if (RangeOn_ && !RangeActive_) return false;
  TCursorLock lock(*this, false);
  if (!InternalFind(SearchType, IndexName, Modifier)) return false;
  if (!RangeOn_) return true;
  TIndexItem* index = CurrentIndex();
  index->CreateTempKeyBuffer(RecBuf_.data());
  const uint8_t* key = index->GetTempKeyBuffer();
  if (!CheckKeyBufInRange(key, rmRangeEnd)) {
    if (SearchType == stLT || SearchType == stLE || SearchType == stLEG)
      return MoveToRangeEnd(rmRangeEnd);
    return false;
  }
  if (!CheckKeyBufInRange(key, rmRangeStart)) {
    if (SearchType == stGE || SearchType == stGT || SearchType == stLEG)
      return MoveToRangeEnd(rmRangeStart);
    return false;
  }
  return true;
}

void TZelDataSet::DataSetClearRange() {
  RangeOn_ = false;
  RangeActive_ = false;
  for (TRangeMode mode : {rmRangeStart, rmRangeEnd}) {
    TRangeEnd& end = Range_[mode];
    end.RecBuf.assign(static_cast<size_t>(RecordBufferSize()), 0);
    SetKeyFlags(end.RecBuf.data(), mode == rmRangeStart ? kfLowest : kfHighest);
    end.Key.assign(static_cast<size_t>(MaxKeySizeLimit) + 1, 0);
    end.Markers.clear();
  }
  InvalidateRangePositions();
  InvalidateFilter();
}

void TZelDataSet::SetRangeOn(bool On) {
  if (!On) {
    DataSetClearRange();
  } else {
    TIndexItem* index = CurrentIndex();
    for (TRangeMode mode : {rmRangeStart, rmRangeEnd}) {
      TRangeEnd& end = Range_[mode];
      end.Markers = KeyMarkers(end.RecBuf.data(), *index,
                               mode == rmRangeStart ? fcForceBOF : fcForceEOF);
      index->BTree().ConstructTempKeyBufFromRecBuf(end.Key.data(), end.RecBuf.data(), nullptr);
    }
    const TRangeEnd& start = Range_[rmRangeStart];
    const TRangeEnd& end = Range_[rmRangeEnd];
    RangeActive_ = index->CompareKeyBuffers(0, &start.Markers, &end.Markers, start.Key.data(),
                                            end.Key.data()) <= 0;
    RangeOn_ = true;
  }
  InvalidateRangePositions();
  InvalidateReadAhead();
  InvalidateFilter();
}

void TZelDataSet::InvalidateRangePositions() {
  Range_[rmRangeStart].PositionValid = false;
  Range_[rmRangeEnd].PositionValid = false;
}

bool TZelDataSet::CheckKeyBufInRange(const uint8_t* Key, TRangeMode Mode) const {
  const TRangeEnd& end = Range_[Mode];
  const int32_t c = CurrentIndex()->CompareKeyBuffers(0, &end.Markers, nullptr, end.Key.data(), Key);
  return Mode == rmRangeStart ? c <= 0 : c >= 0;
}

bool TZelDataSet::RecordInRange(const uint8_t* Buffer) {
  if (!RangeOn_) return true;
  if (!RangeActive_) return false;
  TIndexItem* index = CurrentIndex();
  index->CreateTempKeyBuffer(Buffer);
  const uint8_t* key = index->GetTempKeyBuffer();
  return CheckKeyBufInRange(key, rmRangeStart) && CheckKeyBufInRange(key, rmRangeEnd);
}

bool TZelDataSet::StayInRange() {
  if (!RangeOn_) return true;
  if (!RangeActive_) return false;
  TIndexItem* index = CurrentIndex();
  index->CreateTempKeyBuffer(RecBuf_.data());
  const uint8_t* key = index->GetTempKeyBuffer();
  if (!CheckKeyBufInRange(key, rmRangeStart)) return MoveToRangeEnd(rmRangeStart);
  if (!CheckKeyBufInRange(key, rmRangeEnd)) return MoveToRangeEnd(rmRangeEnd);
  return true;
}

uint32_t TZelDataSet::SearchRangeEnd(TRangeMode Mode) {
  TIndexItem* index = CurrentIndex();
  const TRangeEnd& end = Range_[Mode];
  index->CopyKeyBuffer(end.Key.data(), &end.Markers);
  if (index->FullIndexSearch(Mode == rmRangeStart ? stGE : stLE) != 0) return 0;
  // The nearest key may lie past the other end: then the range is empty.
  const uint8_t* key = index->GetCurrentKeyBuf();
  if (key == nullptr || !CheckKeyBufInRange(key, rmRangeStart) ||
      !CheckKeyBufInRange(key, rmRangeEnd))
    return 0;
  return index->GetRecordAddress();
}

bool TZelDataSet::MoveToRangeEnd(TRangeMode Mode) {
  CheckInternalActive();
  TCursorLock lock(*this, false);
  if (!RangeOn_ || !RangeActive_) return false;
  const uint32_t addr = SearchRangeEnd(Mode);
  if (addr == 0) return false;
  LoadFromIndex();
  TRangeEnd& end = Range_[Mode];
  end.RecNo = DataSetGetRecordNo();
  end.RecAddr = addr;
  end.PositionValid = true;
  return true;
}

int32_t TZelDataSet::GetRangeEndRecNo(TRangeMode Mode) {
  if (!Open_) return 0;
  // The lock first: reading the header drops positions another cursor or
  // process made stale.
  TCursorLock lock(*this, false);
  if (!RangeOn_ || !RangeActive_) return 0;
  TRangeEnd& end = Range_[Mode];
  if (!end.PositionValid) {
    end.RecAddr = SearchRangeEnd(Mode);
    end.RecNo = end.RecAddr != 0 ? CurrentIndex()->GetRecordNo() : 0;
    end.PositionValid = true;
  }
  return end.RecNo;
}

int32_t TZelDataSet::GetCurrentRecordCount() {
  if (!Open_) return 0;
  if (FilterActive()) return GetFilterRecordCount();
  if (!RangeOn_) return GetTotalRecordCount();
  TCursorLock lock(*this, false);
  const int32_t first = GetRangeEndRecNo(rmRangeStart);
  const int32_t last = GetRangeEndRecNo(rmRangeEnd);
  return first == 0 || last < first ? 0 : last - first + 1;
}

// ---------------------------------------------------------------- the base table

plat::TIndexDef* TZelBaseTable::FindIndexDefByName(const std::string& Name) const {
  for (int32_t i = 0; i < IndexDefs_->Count(); ++i)
    if (plat::SameText(IndexDefs_->Items(i)->Name(), Name)) return IndexDefs_->Items(i);
  return nullptr;
}

void TZelBaseTable::SetIndexFields(const std::vector<plat::Variant>& Values,
                                   const std::string& IndexName) {
  static const char* const Context = "TZelBaseTable.SetIndexFields";
  const plat::TIndexDef* def = FindIndexDefByName(IndexName);
  if (def == nullptr) ZelDatabaseErrorFmt(0x270D, Context, SzelIndexFmt, {IndexName}, this);
  std::vector<plat::TField*> fields;
  GetFieldList(fields, def->Fields());
  const size_t n = std::min(Values.size(), fields.size());
  for (size_t i = 0; i < n; ++i) fields[i]->AssignValue(Values[i]);
}

void TZelBaseTable::WithKeyState(TKeyMode Mode, const std::function<void()>& Assign) {
  plat::TTempState temp(*this, plat::dsSetKey);
  const TKeyMode saved = KeyMode_;
  KeyMode_ = Mode;
  const auto restore = plat::OnScopeExit([this, saved] { KeyMode_ = saved; });
  Assign();
}

void TZelBaseTable::InternalSetRange(const std::vector<plat::Variant>& StartValues,
                                     const std::vector<plat::Variant>& EndValues) {
  const plat::TIndexDef* def = FindIndexDefByName(CurrentIndexName());
  if (!Active()) {
    // A cursor driven without the framework (the SQL engine's) has no
    // framework fields: the values go straight into the range buffers.
    CheckInternalActive();
    if (def == nullptr)
      ZelDatabaseErrorFmt(0x270D, "TZelBaseTable.InternalSetRange", SzelIndexFmt,
                          {CurrentIndexName()}, this);
    const std::vector<std::string> names = SplitFieldNames(def->Fields());
    DataSetClearRange();
    for (const TRangeMode mode : {rmRangeStart, rmRangeEnd}) {
      const std::vector<plat::Variant>& values = mode == rmRangeStart ? StartValues : EndValues;
      for (size_t i = 0; i < std::min(values.size(), names.size()); ++i) {
        const int32_t fieldNo = GetFieldNo(names[i]);
        if (fieldNo < 0) ZelDatabaseError(0x2701, "TZelBaseTable.InternalSetRange", names[i], this);
        DataSetSetFieldDataToRecBufAsVariant(GetRangeRecBuf(mode), fieldNo, values[i]);
      }
    }
    SetRangeOn(true);
    DataSetFirst();
    return;
  }
  CheckBrowseMode();
  if (def == nullptr)
    ZelDatabaseErrorFmt(0x270D, "TZelBaseTable.InternalSetRange", SzelIndexFmt,
                        {CurrentIndexName()}, this);
  WithKeyState(kmRange, [&] {
    DataSetClearRange();
    RangeMode_ = rmRangeStart;
    SetIndexFields(StartValues, CurrentIndexName());
    RangeMode_ = rmRangeEnd;
    SetIndexFields(EndValues, CurrentIndexName());
    SetRangeOn(true);
  });
  First();
}

// ---------------------------------------------------------------- the table component

int32_t TZelTable::IndexFieldCount() const {
  // Also while opening: the master range is set before the first fetch.
  if (!CursorOpenFlag_) return 0;
  const plat::TIndexDef* def = FindIndexDefByName(CurrentIndexName());
  if (def == nullptr) return 0;
  std::vector<plat::TField*> fields;
  const_cast<TZelTable*>(this)->GetFieldList(fields, def->Fields());
  return static_cast<int32_t>(fields.size());
}

plat::TField* TZelTable::GetIndexField(int32_t Index) const {
  static const char* const Context = "TZelTable.GetIndexField";
  const plat::TIndexDef* def = FindIndexDefByName(CurrentIndexName());
  if (def == nullptr) ZelDatabaseErrorFmt(0x270D, Context, SzelIndexFmt, {CurrentIndexName()}, this);
  std::vector<plat::TField*> fields;
  const_cast<TZelTable*>(this)->GetFieldList(fields, def->Fields());
  if (Index < 0 || Index >= static_cast<int32_t>(fields.size()))
    ZelDatabaseError(0x2701, Context, std::to_string(Index), this);
  return fields[static_cast<size_t>(Index)];
}

void TZelTable::EnterKeyState(TKeyMode Mode, TRangeMode Range, bool Clear) {
  CheckBrowseMode();
  if (Mode == kmFind) {
    if (Clear || KeyBuffer_.size() != static_cast<size_t>(RecordBufferSize())) {
      KeyBuffer_.assign(static_cast<size_t>(RecordBufferSize()), 0);
      KeyFieldCount_ = 0;
    }
  } else {
    RangeMode_ = Range;
    if (Clear) SetKeyFlags(GetRangeRecBuf(Range), Range == rmRangeStart ? kfLowest : kfHighest);
  }
  KeyMode_ = Mode;
  SetState(plat::dsSetKey);
  DataEvent(plat::deDataSetChange, 0);
}

void TZelTable::SetKey() { EnterKeyState(kmFind, rmRangeStart, true); }
void TZelTable::EditKey() { EnterKeyState(kmFind, rmRangeStart, false); }
void TZelTable::SetRangeStart() { EnterKeyState(kmRange, rmRangeStart, true); }
void TZelTable::SetRangeEnd() { EnterKeyState(kmRange, rmRangeEnd, true); }
void TZelTable::EditRangeStart() { EnterKeyState(kmRange, rmRangeStart, false); }
void TZelTable::EditRangeEnd() { EnterKeyState(kmRange, rmRangeEnd, false); }

void TZelTable::CancelKey() {
  if (State() == plat::dsSetKey) Cancel();
}

void TZelTable::SetKeyFieldCount(int32_t Value) {
  CheckSetKeyMode();
  if (Value < 0 || Value > IndexFieldCount())
    ZelDatabaseError(0x2701, "TZelTable.SetKeyFieldCount",
                     "The specified index field count is out of range", this);
  KeyFieldCount_ = Value;
}

bool TZelTable::SeekKey(TIndexSearchType SearchType, int32_t FieldCount) {
  CheckBrowseMode();
  DoBeforeScroll();
  if (KeyBuffer_.size() != static_cast<size_t>(RecordBufferSize()))
    KeyBuffer_.assign(static_cast<size_t>(RecordBufferSize()), 0);
  // A failed search leaves the cursor where it stood.
  const std::vector<uint8_t> saved(RecordBuffer(), RecordBuffer() + RecordBufferSize());
  const bool wasCurrent = HasCurrentRecord();
  bool found = false;
  {
    const auto restore = plat::OnScopeExit([&] {
      if (found) return;
      std::memcpy(RecordBuffer(), saved.data(), saved.size());
      CurrentRecordFlag_ = wasCurrent;
    });
    std::memcpy(RecordBuffer(), KeyBuffer_.data(), KeyBuffer_.size());
    ix::StoreU32(RecordBuffer() + RecordSize() + rbKeyMarker, 0);
    TSearchModifier modifier;
    modifier.IncludedKeyFieldCount = FieldCount;
    modifier.LimitedSearch = true;
    found = Find(SearchType, CurrentIndexName(), modifier);
  }
  if (!found) return false;
  PendingSeek_ = 1;
  Resync({plat::rmExact, plat::rmCenter});
  DoAfterScroll();
  return true;
}

bool TZelTable::GotoKey() {
  CheckBrowseMode();
  return SeekKey(stEQ, KeyFieldCount_ != 0 ? KeyFieldCount_ : IndexFieldCount());
}

void TZelTable::GotoNearest() {
  CheckBrowseMode();
  SeekKey(stLEG, KeyFieldCount_ != 0 ? KeyFieldCount_ : IndexFieldCount());
}

bool TZelTable::SeekValues(const std::vector<plat::Variant>& Values, TIndexSearchType SearchType) {
  CheckBrowseMode();
  KeyBuffer_.assign(static_cast<size_t>(RecordBufferSize()), 0);
  WithKeyState(kmFind, [&] { SetIndexFields(Values, CurrentIndexName()); });
  return SeekKey(SearchType, std::min(static_cast<int32_t>(Values.size()), IndexFieldCount()));
}

bool TZelTable::FindKey(const std::vector<plat::Variant>& Values) {
  return SeekValues(Values, stEQ);
}

void TZelTable::FindNearest(const std::vector<plat::Variant>& Values) {
  SeekValues(Values, stLEG);
}

void TZelTable::ApplyRange() {
  CheckBrowseMode();
  if (FindIndexDefByName(CurrentIndexName()) == nullptr)
    ZelDatabaseErrorFmt(0x270D, "TZelTable.ApplyRange", SzelIndexFmt, {CurrentIndexName()}, this);
  SetRangeOn(true);
  First();
}

void TZelTable::CancelRange() {
  CheckBrowseMode();
  SetRangeOn(false);
  First();
}

void TZelTable::SetRange(const std::vector<plat::Variant>& StartValues,
                         const std::vector<plat::Variant>& EndValues) {
  InternalSetRange(StartValues, EndValues);
}

}  // namespace zel
