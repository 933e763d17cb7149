// Finding records by field values (locate and lookup) and the record lists
// and hash lists that filters and joins draw on.
//
// A locate searches one index: the one whose leading fields are the located
// fields (or most of them), else the current index. Rules:
//  1. The search fields that are the index's leading key fields, in key
//     order, are "in index": the search enters the index at the first key
//     not below their values and stops as soon as the index order has passed
//     them; every other key field is entered at its lowest value.
//  2. Every other located field is compared record by record, so a locate
//     on fields no index starts with reads the whole index.
//  3. A string field searched without case counts as in index only when the
//     index ignores case for it too; else the index order says nothing.
//  4. A record that matches but fails the active filter is passed over.
#include <algorithm>
#include <cstring>

#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"
#include "platform/db/Fields.h"

namespace zel {

namespace {

// The key fields of an index that the user defined (without the hidden
// record number that makes keys unique).
std::vector<const TKeyFieldItem*> VisibleKeyFields(const TIndexItem& Index) {
  std::vector<const TKeyFieldItem*> keys;
  for (int32_t i = 0; i < Index.KeyFields().Count(); ++i)
    if (!Index.KeyFields().Items(i)->Hidden()) keys.push_back(Index.KeyFields().Items(i));
  return keys;
}

}  // namespace

// ---------------------------------------------------------------- the cursor

namespace {

// One field of Key against the same field of Record (both present).
int32_t CompareFieldValues(const TSearchFieldItem& F, const uint8_t* Key, const uint8_t* Record,
                           TDBStringCompare StringCompare, bool Partial, bool CaseInsensitive,
                           const plat::TObject* Sender) {
  const uint8_t* a = Key + F.DataOffset();
  const uint8_t* b = Record + F.DataOffset();
  switch (F.DataType()) {
    case plat::ftString:
    case plat::ftWideString: {
      const int32_t lenA = F.ReadSizeMarker(Key);
      int32_t lenB = F.ReadSizeMarker(Record);
      // A partial value matches every value that starts with it.
      if (Partial) lenB = std::min(lenA, lenB);
      const auto* sa = reinterpret_cast<const char*>(a);
      const auto* sb = reinterpret_cast<const char*>(b);
      return F.DataType() == plat::ftString
                 ? StringCompare(sa, sb, lenA, lenB, CaseInsensitive, false)
                 : DBCompareWideStrings(sa, sb, lenA, lenB, CaseInsensitive, false);
    }
    case plat::ftSmallint:
      return CompareReals(static_cast<int16_t>(ix::LoadU16(a)),
                          static_cast<int16_t>(ix::LoadU16(b)));
    case plat::ftWord:
      return CompareReals(ix::LoadU16(a), ix::LoadU16(b));
    case plat::ftInteger:
    case plat::ftAutoInc:
      return CompareReals(static_cast<int32_t>(ix::LoadU32(a)),
                          static_cast<int32_t>(ix::LoadU32(b)));
    case plat::ftBoolean:
      return CompareReals(a[0] != 0, b[0] != 0);
    case plat::ftFloat:
    case plat::ftCurrency:
    case plat::ftDate:
    case plat::ftTime:
    case plat::ftDateTime:
      return CompareReals(ix::LoadDouble(a), ix::LoadDouble(b));
    case plat::ftBCD:
      return CompareReals(static_cast<double>(static_cast<int64_t>(ix::LoadU64(a))) / 10000.0,
                          static_cast<double>(static_cast<int64_t>(ix::LoadU64(b))) / 10000.0);
    default:
      ZelDatabaseError(0x2710, "TZelDataSet.InternalCompareRecords",
                       std::string(plat::FieldTypeNames[F.DataType()]), Sender);
  }
}

// Nulls order first; both null are equal.
int32_t CompareFields(const TSearchFieldItem& F, const uint8_t* Key, const uint8_t* Record,
                      TDBStringCompare StringCompare, bool Partial, bool CaseInsensitive,
                      const plat::TObject* Sender) {
  const bool keyNull = Key[F.NullFlagOffset()] == 0;
  const bool recNull = Record[F.NullFlagOffset()] == 0;
  int32_t result = 0;
  if (keyNull || recNull)
    result = keyNull == recNull ? 0 : (keyNull ? -1 : 1);
  else
    result = CompareFieldValues(F, Key, Record, StringCompare, Partial, CaseInsensitive, Sender);
  return F.Descending() ? -result : result;
}

}  // namespace

int32_t TZelDataSet::InternalCompareRecords(const uint8_t* Key, const uint8_t* Record,
                                            TSearchFields& SearchFields, bool Partial,
                                            bool CaseInsensitive, int32_t& FieldPos) const {
  for (int32_t i = 0; i < SearchFields.Count(); ++i) {
    FieldPos = i;
    const auto& f = *static_cast<TSearchFieldItem*>(SearchFields.GetIndex(i));
    const int32_t result = CompareFields(f, Key, Record, IndexMgr_->DBStringCompareFunction(),
                                         Partial, CaseInsensitive, this);
    if (result != 0) return result;
  }
  return 0;
}

bool TZelDataSet::DoLocate(const std::string& IndexName, const uint8_t* Buffer,
                           const std::vector<std::string>& FieldNames, bool Partial,
                           bool CaseInsensitive, bool SyncCursor, uint8_t* Found) {
  static const char* const Context = "TZelDataSet.DoLocate";
  CheckInternalActive();
  TIndexItem* index = IndexName.empty() ? CurrentIndex() : IndexMgr_->FindIndex(IndexName);
  if (index == nullptr) ZelDatabaseErrorFmt(0x270D, Context, SzelIndexFmt, {IndexName}, this);
  for (const std::string& name : FieldNames)
    if (GetFieldNo(name) < 0) ZelDatabaseError(0x2784, Context, name, this);

  // The located names in key order first (rule 1), then the others.
  const std::vector<const TKeyFieldItem*> keys = VisibleKeyFields(*index);
  std::vector<std::string> ordered;
  for (const TKeyFieldItem* key : keys)
    if (ContainsFieldName(FieldNames, key->FieldName())) ordered.push_back(key->FieldName());
  for (const std::string& name : FieldNames)
    if (!ContainsFieldName(ordered, name)) ordered.push_back(name);

  TSearchFields search;
  std::vector<bool> caseInsKey;
  int32_t inIndex = 0;
  for (const std::string& name : ordered) {
    TSearchFieldItem* item = search.Add();
    const TInternalFieldItem* field = GetInternalField(GetFieldNo(name));
    item->Assign(field);
    const bool stillInIndex = inIndex == static_cast<int32_t>(search.Count()) - 1 &&
                              inIndex < static_cast<int32_t>(keys.size()) &&
                              plat::SameText(keys[static_cast<size_t>(inIndex)]->FieldName(), name);
    const TKeyFieldItem* key = stillInIndex ? keys[static_cast<size_t>(inIndex)] : nullptr;
    // Rule 3.
    if (key != nullptr && CaseInsensitive && key->IsStringType() && !key->CaseInsensitive())
      key = nullptr;
    caseInsKey.push_back(key != nullptr && key->IsStringType() && key->CaseInsensitive());
    if (key != nullptr) {
      item->SetInIndex(true);
      item->SetDescending(key->Descending());
      ++inIndex;
    }
  }

  // Every key field after the ones in index is entered at its lowest value.
  TComparisonMarkers markers(static_cast<size_t>(index->KeyFields().Count()), fcDefault);
  for (size_t k = static_cast<size_t>(inIndex); k < markers.size(); ++k) markers[k] = fcForceBOF;

  // The index order has passed the wanted values when the first field that
  // differs is in index and lies beyond them in the index's own order: a
  // case-sensitive search on an index that ignores case must not stop at
  // the first value that differs only in case.
  //
  // A partial string value gives the start of the search, but it ends the
  // search only in byte order: in a collation that weighs accents and case
  // after the letters the strings that start with it need not lie together
  // ("aba" < "aBa" < "abz"). No field after a partial string can end it.
  int32_t stopFields = inIndex;
  if (Partial) {
    for (int32_t i = 0; i < inIndex; ++i) {
      const plat::TFieldType type = search.GetIndex(i)->DataType();
      if (type != plat::ftString && type != plat::ftWideString) continue;
      const bool byteOrder =
          type == plat::ftString && IndexMgr_->DBStringCompareFunction() == DBASCIICompareStrings;
      stopFields = byteOrder ? i + 1 : i;
      break;
    }
  }
  const auto PassedInIndex = [&](int32_t Pos, const uint8_t* Record) {
    const auto& f = *static_cast<TSearchFieldItem*>(search.GetIndex(Pos));
    if (!f.InIndex() || Pos >= stopFields) return false;
    if (CaseInsensitive || !caseInsKey[static_cast<size_t>(Pos)]) return true;
    return CompareFields(f, Buffer, Record, IndexMgr_->DBStringCompareFunction(), Partial, true,
                         this) < 0;
  };

  TCursorLock lock(*this, false);
  if (RangeOn() && !RangeActive()) return false;
  // The filter's list is brought up to date before the index is walked: its
  // rebuild moves the index.
  const bool filtered = FilterActive();
  if (filtered) RefreshFilterIfStale();
  // Rule 4; a record outside the range is not shown either.
  const auto Shown = [&](uint32_t Addr, const uint8_t* Record) {
    return filtered ? FilterMgr_->CheckRecordInFilter(Addr) : RecordInRange(Record);
  };
  const bool rangeIndex = RangeOn() && index == CurrentIndex();

  std::vector<uint8_t> record(static_cast<size_t>(RecordBufferSize()));
  index->CreateKeyBuffer(Buffer, &markers);
  if (index->FullIndexSearch(stGE) != 0) return false;
  // On the range's own index the search starts at the range start at the
  // earliest and ends after the range end.
  if (rangeIndex && !CheckKeyBufInRange(index->GetCurrentKeyBuf(), rmRangeStart) &&
      SearchRangeEnd(rmRangeStart) == 0)
    return false;
  uint32_t found = 0;
  do {
    if (rangeIndex && !CheckKeyBufInRange(index->GetCurrentKeyBuf(), rmRangeEnd)) break;
    const uint32_t addr = index->GetRecordAddress();
    RecordMgr_->ReadRecord(addr, record.data(), false);
    int32_t pos = 0;
    const int32_t result =
        InternalCompareRecords(Buffer, record.data(), search, Partial, CaseInsensitive, pos);
    if (result == 0) {
      if (Shown(addr, record.data())) {
        found = addr;
        break;
      }
    } else if (result < 0 && PassedInIndex(pos, record.data())) {
      break;
    }
  } while (index->NextKey());
  if (found == 0) return false;
  if (SyncCursor) return SetToRecord(found, nullptr, true, false);
  if (Found != nullptr) {
    std::memcpy(Found, record.data(), static_cast<size_t>(RecordSize_));
    SetRecordTrailer(Found, found, 0);
  }
  return true;
}

void TZelDataSet::LoadCompleteListOfRecords(plat::TList& List) {
  TCursorLock lock(*this, false);
  TCompoundList master;
  InternalPrepareMasterRecordList(master);
  List.Clear();
  for (int32_t i = 0; i < master.Count(); ++i) List.Add(master.Items(i));
}

void TZelDataSet::LoadHashListOfRecords(TZelBaseHash& Hash, plat::TList* List, bool Unsorted) {
  static const char* const Context = "TZelDataSet.LoadHashListOfRecords";
  CheckInternalActive();
  const int32_t fieldNo = GetFieldNo(Hash.SourceFieldName());
  const std::string missing = "Field not found in LoadHashListOfRecords: " + Hash.SourceFieldName();
  PLAT_ASSERT(fieldNo >= 0, missing.c_str());
  const TInternalFieldItem* field = GetInternalField(fieldNo);
  if (IsBlobFieldType(field->DataType()))
    ZelDatabaseError(0x2710, Context, std::string(plat::FieldTypeNames[field->DataType()]), this);
  TCursorLock lock(*this, false);

  std::vector<uint8_t> record(static_cast<size_t>(RecordBufferSize()));
  const auto addValues = [&](const plat::TList& Addresses) {
    for (int32_t i = 0; i < Addresses.Count(); ++i) {
      const uint32_t addr = static_cast<uint32_t>(ListEntryToInt(Addresses.Items(i)));
      RecordMgr_->ReadRecord(addr, record.data(), false);
      if (record[field->NullFlagOffset()] == 0) continue;
      Hash.Add(record.data() + field->DataOffset(), InternalGetFieldLength(fieldNo, record.data()),
               static_cast<int32_t>(addr));
    }
  };

  const bool filtered = FilterActive();
  if (filtered) RefreshFilterIfStale();
  plat::TList addresses;
  if (filtered) {
    for (const uint32_t addr : FilterMgr_->GetCurrentFilterList())
      addresses.Add(IntToListEntry(static_cast<int32_t>(addr)));
    if (List != nullptr) {
      List->Assign(addresses);
      if (Unsorted) return;
    }
  } else {
    // An index holding the field fills the hash from its keys alone; the
    // current one first. Not within a range, which narrows only the records.
    std::vector<TIndexItem*> candidates;
    if (!RangeOn()) {
      candidates.push_back(CurrentIndex());
      for (int32_t i = 0; i < IndexMgr_->Count(); ++i)
        if (IndexMgr_->Items(i) != candidates.front()) candidates.push_back(IndexMgr_->Items(i));
    }
    for (TIndexItem* index : candidates) {
      for (int32_t k = 0; k < index->KeyFields().Count(); ++k) {
        const TKeyFieldItem* key = index->KeyFields().Items(k);
        if (key->Hidden() || !plat::SameText(key->FieldName(), field->FieldName())) continue;
        index->FillHashTable(Hash, k);
        return;
      }
    }
    TCompoundList master;
    InternalPrepareMasterRecordList(master);
    for (int32_t i = 0; i < master.Count(); ++i) addresses.Add(master.Items(i));
  }
  addresses.Sort(AscendingListSort);
  addValues(addresses);
}

// ---------------------------------------------------------------- the table

int32_t TZelBaseTable::MatchIndex(const std::vector<std::string>& Fields,
                                  const plat::TIndexDef& Def, plat::TLocateOptions Options) const {
  int32_t count = 0;
  for (const std::string& name : SplitFieldNames(Def.Fields())) {
    if (!ContainsFieldName(Fields, name)) break;
    const int32_t fieldNo = GetFieldNo(name);
    if (fieldNo < 0) break;
    const plat::TFieldType type = GetInternalField(fieldNo)->DataType();
    if ((type == plat::ftString || type == plat::ftWideString) &&
        Options.Contains(plat::loCaseInsensitive) &&
        !Def.Options().Contains(plat::ixCaseInsensitive) &&
        !ContainsFieldName(SplitFieldNames(Def.CaseInsFields()), name))
      break;
    ++count;
  }
  return count;
}

void TZelBaseTable::MapFieldsToIndex(const std::vector<std::string>& Fields,
                                     plat::TLocateOptions Options, std::string& IndexName,
                                     int32_t& MatchCount, int32_t& IndexFieldCount) {
  IndexName.clear();
  MatchCount = 0;
  IndexFieldCount = 0;
  for (int32_t i = 0; i < IndexDefs_->Count(); ++i) {
    const plat::TIndexDef& def = *IndexDefs_->Items(i);
    const int32_t count = MatchIndex(Fields, def, Options);
    const int32_t size = static_cast<int32_t>(SplitFieldNames(def.Fields()).size());
    if (count == 0 || count <= MatchCount) continue;
    IndexName = def.Name();
    MatchCount = count;
    IndexFieldCount = size;
    if (count == static_cast<int32_t>(Fields.size()) && count == size) return;
  }
}

bool TZelBaseTable::LocateRecord(const std::string& KeyFields, const plat::Variant& KeyValues,
                                 plat::TLocateOptions Options, bool SyncCursor, uint8_t* Found) {
  static const char* const Context = "TZelBaseTable.LocateRecord";
  CheckBrowseMode();
  CursorPosChanged();
  std::vector<plat::TField*> fields;
  std::vector<std::string> names;
  {
    plat::TTempState temp(*this, plat::dsFilter);
    InitializeNewRecord(FilterBuffer_, false);
    GetFieldList(fields, KeyFields);
    for (plat::TField* field : fields) {
      if (field->FieldKind() == plat::fkCalculated || field->FieldKind() == plat::fkLookup)
        ZelDatabaseError(0x2710, Context, field->FieldName(), this);
      if (field->FieldNo() < 1) ZelDatabaseError(0x2784, Context, field->FieldName(), this);
      // Blobs have no order to compare by.
      if (IsFieldBlob(field->FieldNo() - 1))
        ZelDatabaseError(0x2710, Context, std::string(plat::FieldTypeNames[field->DataType()]),
                         this);
      names.push_back(field->FieldName());
    }
    // One value per field: the value itself for one field, an array else.
    const bool array = KeyValues.IsArray();
    const int32_t low = array ? plat::VarArrayLowBound(KeyValues, 1) : 0;
    const int32_t count = array ? plat::VarArrayHighBound(KeyValues, 1) - low + 1 : 1;
    if ((fields.size() > 1 || array) && count != static_cast<int32_t>(fields.size()))
      ZelDatabaseErrorFmt(0x2702, Context, "%d values for %d fields",
                          {count, static_cast<int32_t>(fields.size())}, this);
    for (size_t i = 0; i < fields.size(); ++i) {
      const plat::Variant& value = array ? KeyValues[low + static_cast<int32_t>(i)] : KeyValues;
      if (!value.IsNull() && !value.IsEmpty()) fields[i]->SetAsVariant(value);
    }
  }
  std::string indexName;
  int32_t matched = 0, indexFields = 0;
  MapFieldsToIndex(names, Options, indexName, matched, indexFields);
  return DoLocate(indexName, FilterBuffer_, names, Options.Contains(plat::loPartialKey),
                  Options.Contains(plat::loCaseInsensitive), SyncCursor, Found);
}

bool TZelBaseTable::Locate(const std::string& KeyFields, const plat::Variant& KeyValues,
                           plat::TLocateOptions Options) {
  CheckBrowseMode();
  DoBeforeScroll();
  const bool found = LocateRecord(KeyFields, KeyValues, Options, true);
  if (found) {
    Resync({plat::rmExact, plat::rmCenter});
    DoAfterScroll();
  }
  return found;
}

plat::Variant TZelBaseTable::Lookup(const std::string& KeyFields, const plat::Variant& KeyValues,
                                    const std::string& ResultFields) {
  std::vector<uint8_t> found(static_cast<size_t>(RecordBufferSize()));
  if (!LocateRecord(KeyFields, KeyValues, {}, false, found.data()))
    return plat::Variant::MakeNull();
  // The record is read as the filter buffer, calculated fields included.
  std::memset(FilterBuffer_, 0, static_cast<size_t>(FrameworkBufferSize()));
  std::memcpy(FilterBuffer_, found.data(), found.size());
  GetCalcFields(FilterBuffer_);
  plat::TTempState temp(*this, plat::dsFilter);
  return FieldValues(ResultFields);
}

}  // namespace zel
