#include "engine/sql/zelQueryDataset.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <numeric>
#include <unordered_map>

#include "engine/sql/zelJoinDataProviderUnit.h"
#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelCommonText.h"
#include "engine/storage/zelDataRecords.h"
#include "engine/storage/zelDataTableDef.h"
#include "engine/storage/zelDataTableHdr.h"
#include "engine/storage/zelIndexKeys.h"
#include "engine/storage/zelIndexMgr.h"
#include "platform/rtl/Bytes.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

constexpr const char* DatasetContext = "TZelQueryDataset";

// Booleans and currency read back in a form of their own; values of these
// types come back as the bytes they were stored as.
bool ReadsBackAsStored(plat::TFieldType Type) {
  return Type == plat::ftString || Type == plat::ftSmallint || Type == plat::ftWord ||
         Type == plat::ftInteger || Type == plat::ftFloat || Type == plat::ftDate ||
         Type == plat::ftTime || Type == plat::ftDateTime || Type == plat::ftBCD;
}

bool IsStringType(plat::TFieldType Type) {
  return Type == plat::ftString || Type == plat::ftFixedChar || Type == plat::ftWideString ||
         Type == plat::ftMemo || Type == plat::ftFmtMemo;
}

// Every aggregate node of a tree, not looking inside an aggregate.
void CollectAggregateNodes(TZelExprNode* Node, std::vector<TZelExprNode*>& Nodes, int32_t Depth) {
  if (Node == nullptr || Depth > 256) return;
  if (Node->ParserToken()->Token() == zstAggFunc) {
    Nodes.push_back(Node);
    return;
  }
  CollectAggregateNodes(Node->Left(), Nodes, Depth + 1);
  CollectAggregateNodes(Node->Right(), Nodes, Depth + 1);
  for (TZelExprNode* arg : Node->Args()) CollectAggregateNodes(arg, Nodes, Depth + 1);
}

// Rows of one width kept by their bytes, each with a number: an equal row is
// found by a hash of its bytes and one compare, with nothing allocated per
// row looked up. Bytes stand for values only where equal values are equal
// bytes (integers, each after a Null mark, zeros for Null).
class TByteRowMap {
 public:
  explicit TByteRowMap(size_t Width) : Width_(Width) {}

  size_t Width() const { return Width_; }
  // The number kept with Row's bytes; nullptr when they are not kept.
  uint32_t* Find(const uint8_t* Row) {
    if (Slots_.empty()) return nullptr;
    const size_t mask = Slots_.size() - 1;
    for (size_t i = Hash(Row) & mask;; i = (i + 1) & mask) {
      const uint32_t slot = Slots_[i];
      if (slot == 0) return nullptr;
      if (std::memcmp(Rows_.data() + (slot - 1) * Width_, Row, Width_) == 0)
        return &Values_[slot - 1];
    }
  }
  // Keeps Row's bytes, which Find does not know yet, with Value.
  void Add(const uint8_t* Row, uint32_t Value) {
    if ((Values_.size() + 1) * 2 > Slots_.size()) Grow();
    Rows_.insert(Rows_.end(), Row, Row + Width_);
    Values_.push_back(Value);
    Place(static_cast<uint32_t>(Values_.size()));
  }

 private:
  uint64_t Hash(const uint8_t* Row) const {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    const auto mix = [&h](uint64_t Word) {
      h = (h ^ Word) * 0xBF58476D1CE4E5B9ull;
      h ^= h >> 31;
    };
    if (Width_ < 8) {
      uint64_t word = 0;
      for (size_t at = 0; at < Width_; ++at) word = word << 8 | Row[at];
      mix(word);
      return h;
    }
    // Whole words, the last one ending at the row's end (it may overlap).
    uint64_t word = 0;
    for (size_t at = 0; at + 8 < Width_; at += 8) {
      std::memcpy(&word, Row + at, 8);
      mix(word);
    }
    std::memcpy(&word, Row + Width_ - 8, 8);
    mix(word);
    return h;
  }
  // Links row number Row - 1 into the first free slot of its probe.
  void Place(uint32_t Row) {
    const size_t mask = Slots_.size() - 1;
    size_t i = Hash(Rows_.data() + (Row - 1) * Width_) & mask;
    while (Slots_[i] != 0) i = (i + 1) & mask;
    Slots_[i] = Row;
  }
  void Grow() {
    Slots_.assign(std::max<size_t>(64, Slots_.size() * 2), 0);
    for (uint32_t row = 1; row <= Values_.size(); ++row) Place(row);
  }

  size_t Width_;
  std::vector<uint8_t> Rows_;  // end to end, Width_ bytes each
  std::vector<uint32_t> Values_;
  // A power of two of them, at most half in use: row number + 1, 0 free.
  std::vector<uint32_t> Slots_;
};

// Puts entries in the order of their numbers, equal numbers as they came:
// a pass per byte in which the numbers differ, from the lowest byte up,
// instead of a sort by comparisons (few entries are sorted by those).
template <typename TEntry>
void SortByNumber(std::vector<TEntry>& Entries) {
  const size_t count = Entries.size();
  if (count < 256) {
    std::stable_sort(Entries.begin(), Entries.end(),
                     [](const TEntry& A, const TEntry& B) { return A.first < B.first; });
    return;
  }
  uint64_t differ = 0;
  for (const TEntry& e : Entries) differ |= e.first ^ Entries.front().first;
  std::vector<TEntry> spare(count);
  for (int32_t shift = 0; shift < 64; shift += 8) {
    if (((differ >> shift) & 0xFF) == 0) continue;
    size_t at[256] = {};
    for (const TEntry& e : Entries) ++at[(e.first >> shift) & 0xFF];
    size_t sum = 0;
    for (size_t& n : at) {
      const size_t here = n;
      n = sum;
      sum += here;
    }
    for (const TEntry& e : Entries) spare[at[(e.first >> shift) & 0xFF]++] = e;
    Entries.swap(spare);
  }
}

// Reads the rows of the result table for the HAVING condition.
class TResultRowProvider : public TZelExprDataProvider {
 public:
  explicit TResultRowProvider(TZelQueryDataset& Dataset) : Dataset_(Dataset) {
    const int32_t count = Dataset.GetInternalFieldCount();
    for (int32_t i = 0; i < count; ++i) {
      TInternalFieldItem* item = ProviderFields()->Add();
      const TInternalFieldItem* source = Dataset.GetInternalField(i);
      item->SetFieldName(source->FieldName());
      item->SetDataType(source->DataType());
      item->SetFieldSize(source->FieldSize());
      item->SetFieldNo(i + 1);
    }
    SetDBStringCompare(Dataset.GetDBStringCompare());
  }
  plat::Variant GetDataAsVariant(int32_t FieldNo) override {
    if (Dataset_.IsFieldBlob(FieldNo - 1)) return plat::Variant();
    return Dataset_.DataSetGetFieldDataAsVariant(FieldNo - 1);
  }

 private:
  TZelQueryDataset& Dataset_;
};

}  // namespace

// ---------------------------------------------------------------- whole scans

bool ReadCursorRecords(TZelDataSet& Table, std::vector<uint8_t>& Rows) {
  constexpr std::size_t MostBytes = std::size_t{32} << 20;
  Rows.clear();
  if (!Table.CursorOpen() || Table.HasFilterEvent()) return false;
  for (int32_t i = 0; i < Table.GetInternalFieldCount(); ++i)
    if (Table.IsFieldBlob(i)) return false;
  const auto recordSize = static_cast<std::size_t>(Table.RecordSize());
  const auto stride = static_cast<std::size_t>(Table.RecordBufferSize());
  // Rows are written into room made ahead, Used bytes of it taken: a
  // resize per row would clear its bytes first.
  std::size_t used = 0;
  const auto add = [&](std::vector<uint8_t>& To, uint32_t RecAddr, const uint8_t* Record) {
    if (used + stride > To.size()) To.resize(std::max(used + stride, To.size() * 2));
    uint8_t* to = To.data() + used;
    used += stride;
    std::memcpy(to, Record, recordSize);
    std::memset(to + recordSize, 0, RecordBufferTrailer);
    ix::StoreU32(to + recordSize + rbRecAddr, RecAddr);
  };
  if (Table.TZelDataSet::FilterActive()) {
    // The filter lists its records in the cursor's order (and keeps to a
    // range): they are read from its list, one by one but under one lock.
    if (static_cast<std::size_t>(std::max(0, Table.GetFilterRecordCount())) * stride > MostBytes)
      return false;
    std::vector<uint8_t> rows;
    Table.ReadFilterRecords([&](uint32_t RecAddr, int32_t RecNo, const uint8_t* Record) {
      add(rows, RecAddr, Record);
      ix::StoreU32(rows.data() + used - stride + recordSize + rbRecNo,
                   static_cast<uint32_t>(RecNo));
    });
    rows.resize(used);
    Rows.swap(rows);
    return true;
  }
  if (Table.RangeOn()) return false;
  TIndexItem* index = Table.CurrentIndex();
  if (index == nullptr) return false;
  const TKeyFormat& format = index->BTree().Format();
  const TKeyFormat::TField& first = format.Field(0);
  const auto expected = static_cast<std::size_t>(std::max(0, index->GetRecordCount()));
  if (expected * stride > MostBytes) return false;
  std::vector<uint8_t> rows;
  // Each row's first key field as a number (see KeyFieldLead): where these
  // rise from row to row the rows are in the index's order.
  std::vector<uint64_t> leads;
  rows.resize(expected * stride);
  leads.reserve(expected);
  bool tooMany = false;
  Table.ScanRecords([&](uint32_t RecAddr, const uint8_t* Record) {
    if (tooMany || used + stride > MostBytes) {
      tooMany = true;
      return;
    }
    add(rows, RecAddr, Record);
    const bool isNull = first.NullFlagOffset >= 0 && Record[first.NullFlagOffset] != 1;
    leads.push_back(KeyFieldLead(first, isNull ? nullptr : Record + first.RecBufOffset));
  });
  if (tooMany) return false;
  rows.resize(used);
  const std::size_t count = leads.size();
  std::size_t i = 1;
  while (i < count && leads[i - 1] < leads[i]) ++i;
  if (i < count) {
    // Equal first fields, or records out of the index's order (a block
    // used again): whole keys decide.
    const auto keySize = static_cast<std::size_t>(format.MaximumKeySize());
    if (count * keySize > MostBytes) return false;
    std::vector<uint8_t> keys(count * keySize);
    for (std::size_t k = 0; k < count; ++k)
      format.BuildFromRecord(keys.data() + k * keySize, rows.data() + k * stride);
    const auto before = [&](std::size_t A, std::size_t B) {
      if (leads[A] != leads[B]) return leads[A] < leads[B];
      return format.CompareKeys(0, nullptr, nullptr, keys.data() + A * keySize,
                                keys.data() + B * keySize) < 0;
    };
    while (i < count && before(i - 1, i)) ++i;
    if (i < count) {
      std::vector<std::size_t> order(count);
      std::iota(order.begin(), order.end(), std::size_t{0});
      std::sort(order.begin(), order.end(), before);
      for (std::size_t k = 1; k < count; ++k)
        if (!before(order[k - 1], order[k])) return false;
      std::vector<uint8_t> sorted(rows.size());
      for (std::size_t k = 0; k < count; ++k)
        std::memcpy(sorted.data() + k * stride, rows.data() + order[k] * stride, stride);
      rows.swap(sorted);
    }
  }
  // The number of each row in the index, as a step would give it.
  for (std::size_t k = 0; k < count; ++k)
    ix::StoreU32(rows.data() + k * stride + recordSize + rbRecNo, static_cast<uint32_t>(k + 1));
  Rows.swap(rows);
  return true;
}

// ---------------------------------------------------------------- result columns

TResultSetField::TResultSetField() = default;
TResultSetField::~TResultSetField() = default;

plat::Variant TResultSetField::GetValue() {
  if (IsComputed()) {
    Evaluator->Reset();
    return Evaluator->EvaluateValueExpr();
  }
  if (DataProvider == nullptr || SourceFieldNo < 0) return Value;
  // A blob comes as its bytes, through the row source's stream.
  if (IsBlobFieldType(DataType))
    if (auto* rows = dynamic_cast<TZelBaseJoinDataProvider*>(DataProvider)) {
      TDataHolder holder;
      rows->GetRawFieldData(SourceFieldNo, holder);
      if (holder.IsNull()) return plat::Null();
      if (!holder.UsesStream())
        return plat::Variant(std::string(reinterpret_cast<const char*>(holder.Data()),
                                         static_cast<std::size_t>(holder.Length())));
      holder.GetStream().SetPosition(0);
      return plat::Variant(plat::ReadStreamToEnd(holder.GetStream()));
    }
  return DataProvider->GetDataAsVariant(SourceFieldNo);
}

TResultSetField* TResultSetFields::Add() {
  Items_.push_back(std::make_unique<TResultSetField>());
  return Items_.back().get();
}

TResultSetField* TResultSetFields::FindResultSetField(const std::string& Name) const {
  for (const auto& field : Items_) {
    if (plat::AnsiSameText(field->FieldName, Name)) return field.get();
    const TSelectFieldItem* item = field->SelectItem;
    if (item == nullptr) continue;
    if (plat::AnsiSameText(item->FieldName, Name) ||
        (!item->SourceFieldName.empty() && plat::AnsiSameText(item->SourceFieldName, Name)) ||
        plat::AnsiSameText(plat::Trim(item->RawColumnName), plat::Trim(Name)))
      return field.get();
  }
  return nullptr;
}

bool TResultSetFields::ContainsAggregates() const {
  return std::any_of(Items_.begin(), Items_.end(), [](const auto& f) { return f->IsAggregate(); });
}

int32_t CompareColumnValues(const plat::Variant& A, const plat::Variant& B,
                            plat::TFieldType DataType, const TZelDBStringCompare& Compare) {
  if ((IsStringType(DataType) || (plat::VarIsStr(A) && plat::VarIsStr(B))) && Compare) {
    const std::string a = A.AsString(), b = B.AsString();
    return Compare(a.data(), b.data(), static_cast<int32_t>(a.size()),
                   static_cast<int32_t>(b.size()), false, false);
  }
  switch (plat::VarCompareValue(A, B)) {
    case plat::vrLessThan:
      return -1;
    case plat::vrGreaterThan:
      return 1;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------- accumulators

TFuncResultItem::TFuncResultItem(TZelSQLAggFunc AggFunc, bool Distinct, bool CountStar,
                                 plat::TFieldType DataType, const TZelDBStringCompare* Compare)
    : AggFunc_(AggFunc),
      Distinct_(Distinct && !CountStar),
      CountStar_(CountStar),
      DataType_(DataType),
      Compare_(Compare) {
  if (Distinct_)
    Seen_ = std::make_unique<
        std::set<plat::Variant, std::function<bool(const plat::Variant&, const plat::Variant&)>>>(
        [this](const plat::Variant& A, const plat::Variant& B) { return Less(A, B); });
}

bool TFuncResultItem::Less(const plat::Variant& A, const plat::Variant& B) const {
  static const TZelDBStringCompare none;
  return CompareColumnValues(A, B, DataType_, Compare_ != nullptr ? *Compare_ : none) < 0;
}

double TFuncResultItem::ToFloat(const plat::Variant& Value) const {
  try {
    return Value.AsFloat();
  } catch (const std::exception& e) {
    ZelDatabaseError(0x25AD, DatasetContext,
                     std::string("Aggregate column data conversion error : ") + e.what());
  }
}

void TFuncResultItem::SetNewValue(const plat::Variant& Value) {
  if (CountStar_) {
    ++ValueCount_;
    return;
  }
  if (Value.IsNull() || Value.IsEmpty()) return;
  if (Distinct_) {
    // Checked now, so that a bad value fails where it comes in.
    if (AggFunc_ == zafSum || AggFunc_ == zafAvg) ToFloat(Value);
    Seen_->insert(Value);
    ValueCount_ = static_cast<int32_t>(Seen_->size());
    return;
  }
  switch (AggFunc_) {
    case zafSum:
    case zafAvg:
      Sum_ += ToFloat(Value);
      break;
    case zafMin:
      if (ValueCount_ == 0 || Less(Value, Extreme_)) Extreme_ = Value;
      break;
    case zafMax:
      if (ValueCount_ == 0 || Less(Extreme_, Value)) Extreme_ = Value;
      break;
    default:
      break;
  }
  ++ValueCount_;
}

plat::Variant TFuncResultItem::GetResult() const {
  if (AggFunc_ == zafCount) return plat::Variant(ValueCount_);
  if (ValueCount_ == 0) return plat::Null();
  if (Distinct_) {
    switch (AggFunc_) {
      case zafMin:
        return *Seen_->begin();
      case zafMax:
        return *Seen_->rbegin();
      default: {
        double sum = 0;
        for (const plat::Variant& v : *Seen_) sum += ToFloat(v);
        return plat::Variant(AggFunc_ == zafAvg ? sum / static_cast<double>(Seen_->size()) : sum);
      }
    }
  }
  switch (AggFunc_) {
    case zafSum:
      return plat::Variant(Sum_);
    case zafAvg:
      return plat::Variant(Sum_ / static_cast<double>(ValueCount_));
    default:
      return Extreme_;
  }
}

TFuncResultItem* TFuncResultHolder::Add(std::unique_ptr<TFuncResultItem> Item) {
  Items_.push_back(std::move(Item));
  return Items_.back().get();
}

TFuncResultHolder* TFuncResultList::GetHolder(uint32_t GroupAddr) const {
  const auto it = Holders_.find(GroupAddr);
  return it == Holders_.end() ? nullptr : it->second.get();
}

TFuncResultHolder* TFuncResultList::AddHolder(uint32_t GroupAddr) {
  auto& slot = Holders_[GroupAddr];
  if (slot == nullptr) {
    slot = std::make_unique<TFuncResultHolder>(GroupAddr);
    Order_.push_back(GroupAddr);
  }
  return slot.get();
}

void TFuncResultList::AddNewResultItem(uint32_t GroupAddr, int32_t Slot, TZelSQLAggFunc AggFunc,
                                       bool Distinct, bool CountStar, plat::TFieldType DataType,
                                       const TZelDBStringCompare* Compare) {
  TFuncResultHolder* holder = AddHolder(GroupAddr);
  PLAT_ASSERT(holder->Count() == Slot, "Aggregate accumulators are added out of order");
  holder->Add(std::make_unique<TFuncResultItem>(AggFunc, Distinct, CountStar, DataType, Compare));
}

TFuncResultItem* TFuncResultList::FindFuncResultItem(uint32_t GroupAddr, int32_t Slot) const {
  TFuncResultHolder* holder = GetHolder(GroupAddr);
  if (holder == nullptr || Slot < 0 || Slot >= holder->Count()) return nullptr;
  return holder->Items(Slot);
}

void TFuncResultList::SetNewValue(uint32_t GroupAddr, int32_t Slot, const plat::Variant& Value) {
  TFuncResultItem* item = FindFuncResultItem(GroupAddr, Slot);
  PLAT_ASSERT(item != nullptr, "Aggregate accumulator not found");
  item->SetNewValue(Value);
}

plat::Variant TFuncResultList::GetFuncResult(uint32_t GroupAddr, int32_t Slot) const {
  TFuncResultItem* item = FindFuncResultItem(GroupAddr, Slot);
  PLAT_ASSERT(item != nullptr, "Aggregate accumulator not found");
  return item->GetResult();
}

void TFuncResultList::Clear() {
  Holders_.clear();
  Order_.clear();
}

// ---------------------------------------------------------------- the dataset

TZelQueryDataset::TZelQueryDataset(plat::TComponent* AOwner)
    : TZelBaseTable(AOwner), FuncResults_(std::make_unique<TFuncResultList>()) {
  DBStringCompare_ = [this](const char* A, const char* B, int32_t LA, int32_t LB, bool Partial,
                            bool CaseInsensitive) {
    return SortOrder() == soASCII ? DBASCIICompareStrings(A, B, LA, LB, CaseInsensitive, Partial)
                                  : DBANSICompareStrings(A, B, LA, LB, CaseInsensitive, Partial);
  };
}

TZelQueryDataset::~TZelQueryDataset() {
  try {
    SetActive(false);
  } catch (...) {
    // A destructor reports nothing; the table is closed as far as it can be.
  }
}

void TZelQueryDataset::InternalOpen() {
  TZelBaseTable::InternalOpen();
  // The live columns are for the engine only.
  for (const char* name : {ResultRecAddrFieldName, ResultRecModFlagFieldName})
    if (plat::TField* field = FindField(name)) field->SetVisible(false);
}

void TZelQueryDataset::PrepareEmptyResultSet(bool Created) {
  PLAT_ASSERT(FieldDefs().Count() > 0,
              "Field defs are not prepared in TZelQueryDataset.CreateResultSet");
  if (!Active()) SetMemory(true);
  if (TableName().empty()) SetTableName("testqry");
  if (Created) {
    if (!Active()) Open();
    // A fill ends on its first row; left unfilled (definitions only), the
    // emptied buffers show the empty table as First would.
    EmptyTableUnpositioned();
  } else {
    CreateResultSetTable();
  }
}

void TZelQueryDataset::CreateResultSetTable() {
  if (Active()) Close();
  CreateTable();
  OwnResultTable_ = Memory() ? TableName() : std::string();
}

void TZelQueryDataset::OpenForFill() {
  // PrepareEmptyResultSet left the table empty: one still open (a kept plan's,
  // or opened to be emptied) is filled as it is, without a close and an open
  // of its cursor, trees and fields.
  if (!Active()) Open();
  RowsAffected_ = 0;
}

void TZelQueryDataset::SetIndexIfDefined(const char* Name) {
  if (IndexManager().FindIndex(Name) != nullptr) InternalSetIndexName(Name);
}

uint32_t TZelQueryDataset::CurrentRecAddr() const {
  return ix::LoadU32(RecBuf_.data() + RecordSize_ + rbRecAddr);
}

// ---------------------------------------------------------------- keys put off

// The keys of the rows one fill adds to the result, built as each row is
// written and loaded into every index when the fill ends: a sort and a build
// from the leaves up instead of a search and an insert per row and index.
// Keys of rows already there (the first part of a union) are taken out of
// the trees and loaded again with the new ones. DISTINCT is kept by the
// bytes of each row's distinct key, which stand for the key comparison where
// equal values are equal bytes: integer columns only.
class TZelQueryDataset::TDeferredKeys {
 public:
  TDeferredKeys(TZelQueryDataset& Dataset, TIndexItem* Distinct)
      : Dataset_(Dataset), Header_(*Dataset.TableDef_->TableHeader()) {
    OwnerFlag_ = Dataset.TableDef_->RecordInterface()->OwnerFlag();
    LogicalNo_ = Header_.GetLogicalRecordNo();
    if (Distinct != nullptr) {
      DistinctFormat_ = &Distinct->BTree().Format();
      size_t width = 0;
      for (int32_t i = 0; i + 1 < DistinctFormat_->FieldCount(); ++i)
        width += 1 + static_cast<size_t>(DistinctFormat_->Field(i).CoreSize);
      Seen_.emplace(width);
      Signature_.resize(width);
    }
    TIndexManager& indexes = *Dataset.IndexMgr_;
    for (int32_t i = 0; i < indexes.Count(); ++i) {
      TIndexItem* index = indexes.Items(i);
      TKeys& keys = Keys_.emplace_back();
      keys.Index = index;
      if (index == Distinct) Distinct_ = i;
      TBTree& tree = index->BTree();
      if (!tree.SetCursorToEnd(true)) continue;
      keys.HadKeys = true;
      do {
        const uint8_t* key = tree.GetCurrentKeyBuf();
        const size_t at = keys.Used;
        const size_t length = ix::LoadU16(key);
        std::memcpy(Room(keys, length), key, length);
        keys.Used += length;
        keys.Offsets.push_back(at);
        if (index == Distinct) {
          const uint8_t* signature = KeySignature(keys.Bytes.data() + at);
          if (Seen_->Find(signature) == nullptr) Seen_->Add(signature, 0);
        }
      } while (tree.NextRecord());
    }
  }
  TDeferredKeys(const TDeferredKeys&) = delete;
  TDeferredKeys& operator=(const TDeferredKeys&) = delete;
  ~TDeferredKeys() {
    // A fill that failed half way still leaves every written row its keys.
    if (Loaded_) return;
    try {
      Load();
    } catch (...) {
      // The failure of the fill is the one reported.
    }
  }

  // Whether Index's key can stand in for a search for duplicates: integer
  // columns followed by the record number.
  static bool DistinctByBytes(TIndexItem& Index) {
    const TKeyFormat& format = Index.BTree().Format();
    const int32_t count = format.FieldCount();
    if (count < 2 || Index.KeyFields().Count() != count ||
        Index.KeyFields().Items(count - 1)->FieldName() != LogicalRecNoIndexName)
      return false;
    for (int32_t i = 0; i + 1 < count; ++i)
      if (!IsIntegerKey(format.Field(i))) return false;
    return true;
  }

  // Writes the record buffer as a new record, as AddRecord does but for the
  // keys; false (nothing written) for a row whose distinct columns are
  // those of a row already there.
  bool AddRow() {
    uint8_t* rec = Dataset_.RecBuf_.data();
    const int32_t logicalNo = LogicalNo_ + 1;
    // A duplicate is known from the record: no key is built for it.
    const uint8_t* signature = nullptr;
    if (Distinct_ >= 0) {
      signature = RecordSignature(rec);
      if (Seen_->Find(signature) != nullptr) return false;
    }
    TRecordMgr::StampNewRecord(rec, OwnerFlag_, logicalNo);
    // Each key is built past the used bytes and taken once the record is
    // written: a failed write leaves no key behind.
    for (TKeys& keys : Keys_) {
      const TKeyFormat& format = keys.Index->BTree().Format();
      format.BuildFromRecord(Room(keys, static_cast<size_t>(format.MaximumKeySize())), rec);
    }
    const uint32_t addr = Dataset_.RecordMgr_->AddRecord(rec);
    for (TKeys& keys : Keys_) {
      const size_t at = keys.Used;
      uint8_t* key = keys.Bytes.data() + at;
      ix::StoreU32(key + keAddress, addr);
      keys.Used += ix::LoadU16(key);
      keys.Offsets.push_back(at);
    }
    if (Distinct_ >= 0) Seen_->Add(signature, 0);
    LogicalNo_ = logicalNo;
    return true;
  }

  // Every index gets its keys, old and new, in key order.
  void Load() {
    Loaded_ = true;
    Header_.SetLogicalRecordNo(LogicalNo_);
    Header_.SetDirty(true);
    std::vector<std::pair<uint64_t, const uint8_t*>> order;
    std::vector<const uint8_t*> sorted;
    for (TKeys& keys : Keys_) {
      const TKeyFormat& format = keys.Index->BTree().Format();
      order.clear();
      order.reserve(keys.Offsets.size());
      for (size_t at : keys.Offsets)
        order.emplace_back(Lead(format, 0, keys.Bytes.data() + at), keys.Bytes.data() + at);
      SortByNumber(order);
      // Each run of equal numbers is put in order apart: by the second
      // field's number where the first field's is its order (an integer),
      // whole keys deciding the rest.
      const bool second = format.FieldCount() > 1 && IsIntegerKey(format.Field(0));
      for (size_t at = 0; at < order.size();) {
        size_t end = at + 1;
        while (end < order.size() && order[end].first == order[at].first) ++end;
        if (end - at > 1) {
          for (size_t k = at; k < end; ++k)
            order[k].first = second ? Lead(format, 1, order[k].second) : 0;
          std::sort(order.begin() + static_cast<std::ptrdiff_t>(at),
                    order.begin() + static_cast<std::ptrdiff_t>(end),
                    [&format](const auto& A, const auto& B) {
                      if (A.first != B.first) return A.first < B.first;
                      return format.CompareKeys(0, nullptr, nullptr, A.second, B.second) < 0;
                    });
        }
        at = end;
      }
      sorted.clear();
      sorted.reserve(order.size());
      for (const auto& entry : order) sorted.push_back(entry.second);
      if (keys.HadKeys) keys.Index->EmptyIndex();
      keys.Index->LoadSortedKeys(sorted);
    }
  }

 private:
  struct TKeys {
    TIndexItem* Index = nullptr;
    // The keys end to end in the first Used bytes; Offsets holds where each
    // written row's starts.
    std::vector<uint8_t> Bytes;
    size_t Used = 0;
    std::vector<size_t> Offsets;
    bool HadKeys = false;
  };

  // A number that orders keys as their field Field does, where that is an
  // integer (Null first, or last when descending), so that the sort
  // compares whole keys only for equal numbers; 0 for every key otherwise.
  static uint64_t Lead(const TKeyFormat& Format, int32_t Field, const uint8_t* Key) {
    const uint8_t* value = nullptr;
    int32_t size = 0;
    return KeyFieldLead(Format.Field(Field),
                        Format.LocateValue(Key, Field, value, size) ? value : nullptr);
  }
  // A field whose values are integers: equal values are equal bytes, and
  // KeyFieldLead gives their order.
  static bool IsIntegerKey(const TKeyFormat::TField& Field) {
    return Field.Kind == kvSmallint || Field.Kind == kvWord || Field.Kind == kvInteger;
  }

  // Size bytes of room past Keys' used bytes: grown by doubling, as a
  // resize per key would clear the bytes it adds every time.
  static uint8_t* Room(TKeys& Keys, size_t Size) {
    if (Keys.Used + Size > Keys.Bytes.size())
      Keys.Bytes.resize(std::max(Keys.Used + Size, Keys.Bytes.size() * 2));
    return Keys.Bytes.data() + Keys.Used;
  }
  // The distinct columns of a row, from its key or its record, in
  // Signature_: for each a null mark and its bytes, zeros for Null
  // (integers: equal bytes are equal values). ValueOf gives field I's
  // bytes, nullptr for Null.
  template <typename TValueOf>
  const uint8_t* Signature(TValueOf ValueOf) {
    uint8_t* to = Signature_.data();
    for (int32_t i = 0; i + 1 < DistinctFormat_->FieldCount(); ++i) {
      const TKeyFormat::TField& field = DistinctFormat_->Field(i);
      const uint8_t* value = ValueOf(field, i);
      const auto size = static_cast<size_t>(field.CoreSize);
      *to++ = value != nullptr ? 1 : 0;
      if (value == nullptr)
        std::memset(to, 0, size);
      else if (size == 4)  // the common Integer, copied without a call
        std::memcpy(to, value, 4);
      else
        std::memcpy(to, value, size);
      to += size;
    }
    return Signature_.data();
  }
  const uint8_t* KeySignature(const uint8_t* Key) {
    return Signature([&](const TKeyFormat::TField&, int32_t I) -> const uint8_t* {
      const uint8_t* value = nullptr;
      int32_t size = 0;
      return DistinctFormat_->LocateValue(Key, I, value, size) ? value : nullptr;
    });
  }
  // As the key built from the record would have it (BuildFromRecord).
  const uint8_t* RecordSignature(const uint8_t* Record) {
    return Signature([&](const TKeyFormat::TField& F, int32_t) -> const uint8_t* {
      return F.NullFlagOffset >= 0 && Record[F.NullFlagOffset] != 1 ? nullptr
                                                                    : Record + F.RecBufOffset;
    });
  }

  TZelQueryDataset& Dataset_;
  TTableHeader& Header_;
  uint32_t OwnerFlag_ = 0;
  int32_t LogicalNo_ = 0;
  std::vector<TKeys> Keys_;
  int32_t Distinct_ = -1;
  const TKeyFormat* DistinctFormat_ = nullptr;
  // The distinct columns of every row, and the row being added's.
  std::optional<TByteRowMap> Seen_;
  std::vector<uint8_t> Signature_;
  bool Loaded_ = false;
};

std::unique_ptr<TZelQueryDataset::TDeferredKeys> TZelQueryDataset::DeferKeys(bool Distinct) {
  // Only this dataset's memory result, which nobody else reads while it is
  // filled, and only where no row could be refused for its keys.
  if (!Memory() || OwnResultTable_.empty() || TableName() != OwnResultTable_ || !WriteLocked() ||
      FilterActive() || HasFilterEvent() || RecordMgr_->InternalFields().AutoIncFieldNo() >= 0)
    return nullptr;
  for (int32_t i = 0; i < GetInternalFieldCount(); ++i)
    if (IsFieldBlob(i)) return nullptr;
  TIndexItem* distinct = nullptr;
  if (Distinct) {
    distinct = CurrentIndex();
    if (distinct == nullptr || distinct->IndexName() != ResultDistinctIndexName ||
        !TDeferredKeys::DistinctByBytes(*distinct))
      return nullptr;
  }
  for (int32_t i = 0; i < IndexMgr_->Count(); ++i) {
    const TIndexItem* index = IndexMgr_->Items(i);
    if (index->Unique() || index->Primary()) return nullptr;
  }
  CheckPrivilegePresent(TableDef().PrivilegeFlags(), opInsertDataBit);
  return std::make_unique<TDeferredKeys>(*this, distinct);
}

bool TZelQueryDataset::KeyExists() {
  TCursorLock lock(*this, false);
  TIndexItem* index = CurrentIndex();
  index->CreateKeyBuffer(RecBuf_.data());
  // Only the result's columns are compared: a key of a non-unique index
  // ends in the record number.
  int32_t columns = 0;
  for (int32_t i = 0; i < index->KeyFields().Count(); ++i)
    if (index->KeyFields().Items(i)->FieldName() != LogicalRecNoIndexName) ++columns;
  TSearchModifier modifier;
  modifier.IncludedKeyFieldCount = columns;
  modifier.LimitedSearch = true;
  return index->PartialIndexSearch(stEQ, modifier) == 0;
}

void TZelQueryDataset::SetResultSetFieldFromVariant(int32_t FieldNo, const plat::Variant& Value) {
  if (!IsFieldBlob(FieldNo)) {
    DataSetSetFieldDataAsVariant(FieldNo, Value);
    return;
  }
  plat::TMemoryStream stream;
  const bool isNull = Value.IsNull() || Value.IsEmpty();
  if (!isNull) {
    const std::string text = Value.AsString();
    stream.Write(text.data(), static_cast<int32_t>(text.size()));
    stream.SetPosition(0);
  }
  DataSetSetFieldStream(FieldNo, isNull, stream);
}

void TZelQueryDataset::FillColumns(TResultSetFields& Fields, bool SkipAggregates) {
  const int32_t raw = static_cast<int32_t>(RawSources_.size());
  for (int32_t i = 0; i < Fields.Count(); ++i) {
    TResultSetField* field = Fields.GetItems(i);
    if (field->IsAggregate()) {
      if (!SkipAggregates) SetResultSetFieldFromVariant(i, plat::Null());
      continue;
    }
    if (i < raw && RawSources_[static_cast<size_t>(i)].Rows != nullptr &&
        CopyRawColumn(RawSources_[static_cast<size_t>(i)], field->SourceFieldNo, i))
      continue;
    SetResultSetFieldFromVariant(i, field->GetValue());
  }
}

void TZelQueryDataset::PrepareRawColumns(TResultSetFields& Fields) {
  RawSources_.assign(static_cast<size_t>(Fields.Count()), TRawColumn());
  if (RawHolder_ == nullptr) RawHolder_ = std::make_unique<TDataHolder>();
  // Columns of one table follow each other: its provider is cast once.
  const void* castFrom = nullptr;
  TZelBaseJoinDataProvider* castRows = nullptr;
  TZelNonJoinDataProvider* castTable = nullptr;
  for (int32_t i = 0; i < Fields.Count() && i < GetInternalFieldCount(); ++i) {
    TResultSetField* field = Fields.GetItems(i);
    if (field->IsAggregate() || field->IsComputed() || field->SourceFieldNo < 0) continue;
    if (castFrom != field->DataProvider) {
      castFrom = field->DataProvider;
      castRows = dynamic_cast<TZelBaseJoinDataProvider*>(field->DataProvider);
      castTable = dynamic_cast<TZelNonJoinDataProvider*>(castRows);
    }
    TZelBaseJoinDataProvider* rows = castRows;
    TInternalFields* sources = rows != nullptr ? rows->GetProviderFields() : nullptr;
    if (sources == nullptr) continue;
    const TInternalFieldItem* source = nullptr;
    for (int32_t k = 0; k < sources->Count() && source == nullptr; ++k)
      if (sources->GetIndex(k)->FieldNo() == field->SourceFieldNo) source = sources->GetIndex(k);
    const plat::TFieldType type = GetInternalField(i)->DataType();
    if (source == nullptr || !ReadsBackAsStored(type) || source->DataType() != type) continue;
    TRawColumn& column = RawSources_[static_cast<size_t>(i)];
    column.Rows = rows;
    // A table's field is found in its bridge once, not at every row.
    TZelNonJoinDataProvider* table = castTable;
    const TZelDatasetBridge* bridge = table != nullptr ? table->DataBridge() : nullptr;
    if (bridge == nullptr || !bridge->CursorOpen()) continue;
    for (int32_t k = 0; k < bridge->GetInternalFieldCount(); ++k) {
      const TInternalFieldItem* item = bridge->GetInternalField(k);
      if (item->FieldNo() != field->SourceFieldNo) continue;
      if (item->DataType() == type) {
        column.Table = table;
        column.SourceIndex = k;
        column.Fixed = TFixedCopy::Between(*item, *GetInternalField(i));
      }
      break;
    }
  }
}

TZelQueryDataset::TFixedCopy TZelQueryDataset::TFixedCopy::Between(
    const TInternalFieldItem& Source, const TInternalFieldItem& Target) {
  TFixedCopy copy;
  if (Source.DataType() != Target.DataType() || !ReadsBackAsStored(Target.DataType()) ||
      Source.IsVariable() || Target.IsVariable() || Source.FieldSize() != Target.FieldSize())
    return copy;
  copy.Size = Target.FieldSize();
  copy.SourceData = Source.DataOffset();
  copy.SourceNull = Source.NullFlagOffset();
  copy.TargetData = Target.DataOffset();
  copy.TargetNull = Target.NullFlagOffset();
  return copy;
}

void TZelQueryDataset::TFixedCopy::Copy(const uint8_t* From, uint8_t* Rec) const {
  // As DataSetSetFieldDataToRecBuf stores a value of the field's size, or Null.
  uint8_t* to = Rec + TargetData;
  if (From == nullptr || From[SourceNull] == 0) {
    Rec[TargetNull] = 0;
    std::memset(to, 0, static_cast<size_t>(Size));
  } else {
    Rec[TargetNull] = 1;
    plat::CopyBytes(to, From + SourceData, static_cast<size_t>(Size));
  }
}

bool TZelQueryDataset::CopyRawColumn(const TRawColumn& Column, int32_t SourceFieldNo,
                                     int32_t FieldNo) {
  TZelDatasetBridge* bridge = Column.Table != nullptr ? Column.Table->DataBridge() : nullptr;
  if (Column.Fixed.Size > 0 && bridge != nullptr && bridge->CursorOpen()) {
    const bool row = !Column.Table->ForceToNullValues() && bridge->HasBridgeRecord();
    Column.Fixed.Copy(row ? bridge->RecordBuffer() : nullptr, RecBuf_.data());
    return true;
  }
  TDataHolder& holder = *RawHolder_;
  holder.SetUsesStream(false);
  holder.SetData(nullptr);
  const TInternalFieldItem* source = bridge != nullptr && bridge->CursorOpen() &&
                                             Column.SourceIndex < bridge->GetInternalFieldCount()
                                         ? bridge->GetInternalField(Column.SourceIndex)
                                         : nullptr;
  if (source != nullptr && source->FieldNo() == SourceFieldNo) {
    // What GetRawFieldData gives, read straight from the bridge's record.
    const uint8_t* from = bridge->RecordBuffer();
    holder.SetIsNull(Column.Table->ForceToNullValues() || !bridge->HasBridgeRecord() ||
                     from[source->NullFlagOffset()] == 0);
    if (!holder.IsNull()) {
      holder.SetLength(bridge->InternalGetFieldLength(*source, from));
      holder.SetData(from + source->DataOffset());
    }
  } else {
    Column.Rows->GetRawFieldData(SourceFieldNo, holder);
  }
  if (holder.UsesStream()) return false;
  uint8_t* rec = RecBuf_.data();
  if (holder.IsNull()) {
    DataSetSetFieldDataToRecBuf(FieldNo, 0, true, nullptr, rec);
    return true;
  }
  const TInternalFieldItem* f = GetInternalField(FieldNo);
  const int32_t len = holder.Length();
  // A string is copied only where the Variant path would not cut it.
  const bool fits = f->DataType() == plat::ftString
                        ? f->IsVariable() && len <= f->GetWriteableFieldSize()
                        : !f->IsVariable() && len == f->FieldSize();
  if (holder.Data() == nullptr || !fits) return false;
  DataSetSetFieldDataToRecBuf(FieldNo, len, false, holder.Data(), rec);
  return true;
}

std::optional<TZelDataSet::TCursorLock> TZelQueryDataset::LockForFill() {
  // A memory table is this process's alone: one lock over a fill spares every
  // row a read and a write of the table header. A file's table (INSERT ...
  // SELECT) is locked per row, as by any other writer.
  if (!Memory()) return std::nullopt;
  return std::optional<TCursorLock>(std::in_place, *this, true);
}

void TZelQueryDataset::PopulateResultSet(TResultSetFields& Fields, bool Distinct) {
  PLAT_ASSERT(RowSource_ != nullptr, "The result row source is not assigned");
  OpenForFill();
  if (CreateLiveResult_)
    PLAT_ASSERT(RowSource_->IsSingleTable(), "CreateLiveResult request is invalid");
  if (Distinct) SetIndexIfDefined(ResultDistinctIndexName);
  const int32_t columns = Fields.Count();
  int32_t count = 0;
  PrepareRawColumns(Fields);
  {
    const std::optional<TCursorLock> fill = LockForFill();
    const std::unique_ptr<TDeferredKeys> keys = DeferKeys(Distinct);
    if (MaxRecords_ <= 0) RowSource_->ReadsEveryRow();
    for (bool more = RowSource_->FirstRow(); more;) {
      ClearRecord(nullptr);
      FillColumns(Fields, false);
      if (CreateLiveResult_) {
        DataSetSetFieldDataAsVariant(columns,
                                     plat::Variant(static_cast<int32_t>(RowSource_->GetRecAddr())));
        DataSetSetFieldDataAsVariant(
            columns + 1, plat::Variant(static_cast<int32_t>(RowSource_->GetRecModFlag())));
      }
      if (keys != nullptr) {
        if (keys->AddRow()) ++count;
      } else if (!Distinct || !KeyExists()) {
        AddRecord(true);
        ++count;
      }
      more = RowSource_->NextRow();
      // A plain result is cut silently at the limit.
      if (more && MaxRecords_ > 0 && count >= MaxRecords_) break;
    }
    if (keys != nullptr) keys->Load();
  }
  RowsAffected_ = count;
  SetIndexIfDefined(ResultOrderByIndexName);
  First();
}

void TZelQueryDataset::PrepareAggregates(TResultSetFields& Fields) {
  SlotCount_ = 0;
  FuncResults_->Clear();
  for (int32_t i = 0; i < Fields.Count(); ++i) {
    TResultSetField* field = Fields.GetItems(i);
    field->AggExpr.reset();
    field->AggNodes.clear();
    field->AggArgEvaluators.clear();
    field->AggSlots.clear();
    if (!field->IsAggregate()) continue;
    TZelExprNode* root = field->SelectItem->ColumnRoot;
    PLAT_ASSERT(root != nullptr, "AggFunc column expression is not assigned");
    field->AggExpr = std::make_unique<TZelExpr>();
    TZelExprNode* clone = field->AggExpr->CloneFromTree(root);
    CollectAggregateNodes(clone, field->AggNodes, 0);
    for (TZelExprNode* node : field->AggNodes) {
      std::unique_ptr<TExprEvaluator> evaluator;
      if (!node->Args().empty()) {
        evaluator = std::make_unique<TExprEvaluator>();
        evaluator->SetExcludeRelopNulls(true);
        evaluator->SetDBStringCompare(DBStringCompare_);
        evaluator->Prepare(RowSource_->RootProvider(), node->Args().front());
      }
      field->AggArgEvaluators.push_back(std::move(evaluator));
      field->AggSlots.push_back(SlotCount_++);
    }
  }
}

void TZelQueryDataset::CreateAccumulators(TResultSetFields& Fields, uint32_t GroupAddr) {
  for (int32_t i = 0; i < Fields.Count(); ++i) {
    TResultSetField* field = Fields.GetItems(i);
    for (std::size_t k = 0; k < field->AggNodes.size(); ++k) {
      const TZelExprNode* node = field->AggNodes[k];
      const auto func = static_cast<TZelSQLAggFunc>(node->ParserToken()->CustomOrdinal());
      const bool distinct = node->Data().VarType() == plat::varBoolean && node->Data().AsBoolean();
      const plat::TFieldType type =
          node->Args().empty() ? plat::ftInteger : node->Args().front()->DataType();
      FuncResults_->AddNewResultItem(GroupAddr, field->AggSlots[k], func, distinct,
                                     node->Args().empty(), type, &DBStringCompare_);
    }
  }
}

void TZelQueryDataset::FinishAggregates(TResultSetFields& Fields) {
  for (uint32_t addr : FuncResults_->GroupOrder()) {
    SetToRecord(addr, nullptr, false, false);
    for (int32_t i = 0; i < Fields.Count(); ++i) {
      TResultSetField* field = Fields.GetItems(i);
      if (!field->IsAggregate()) continue;
      plat::Variant value;
      if (field->AggNodes.size() == 1 && field->AggNodes[0] == field->AggExpr->FirstNode()) {
        value = FuncResults_->GetFuncResult(addr, field->AggSlots[0]);
      } else {
        // The column's expression over the aggregates' results.
        auto expr = std::make_unique<TZelExpr>();
        TZelExprNode* root = expr->CloneFromTree(field->AggExpr->FirstNode());
        std::vector<TZelExprNode*> nodes;
        CollectAggregateNodes(root, nodes, 0);
        PLAT_ASSERT(nodes.size() == field->AggNodes.size(), "AggFunc nodes do not match");
        for (std::size_t k = 0; k < nodes.size(); ++k) {
          const plat::Variant result = FuncResults_->GetFuncResult(addr, field->AggSlots[k]);
          nodes[k]->ParserToken()->SetToken(zstValue);
          nodes[k]->SetKind(enkConst);
          nodes[k]->SetOperator(zeoCONST2);
          nodes[k]->SetData(result);
          nodes[k]->Args().clear();
        }
        TExprEvaluator evaluator;
        evaluator.SetExcludeRelopNulls(true);
        evaluator.SetDBStringCompare(DBStringCompare_);
        evaluator.Prepare(RowSource_->RootProvider(), root);
        PLAT_ASSERT(evaluator.IsPrepared(), "AggFunc final evaluator is not prepared");
        value = evaluator.EvaluateValueExpr();
      }
      SetResultSetFieldFromVariant(i, value);
    }
    UpdateRecord();
  }
}

void TZelQueryDataset::PopulateSimpleCountResultSet(int32_t Count) {
  ClearRecord(nullptr);
  DataSetSetFieldDataAsVariant(0, plat::Variant(Count));
  AddRecord(true);
  RowsAffected_ = 1;
  First();
}

void TZelQueryDataset::PopulateAggregateResultSet(TResultSetFields& Fields, bool Grouped) {
  PLAT_ASSERT(RowSource_ != nullptr, "The result row source is not assigned");
  OpenForFill();
  // COUNT(*) alone over one table: the table's count, when the source knows
  // it exactly.
  if (Fields.Count() == 1 && !Grouped) {
    const TSelectFieldItem* item = Fields.GetItems(0)->SelectItem;
    const TZelExprNode* root = item != nullptr ? item->ColumnRoot : nullptr;
    if (root != nullptr && root->ParserToken()->Token() == zstAggFunc && root->Args().empty() &&
        RowSource_->IsSingleTable()) {
      const int32_t known = RowSource_->GetKnownRecordCount();
      if (known >= 0) {
        PopulateSimpleCountResultSet(known);
        return;
      }
    }
  }
  {
    const std::optional<TCursorLock> fill = LockForFill();
    PrepareAggregates(Fields);
    PrepareRawColumns(Fields);
    uint32_t single = 0;
    if (!Grouped) {
      ClearRecord(nullptr);
      FillColumns(Fields, false);
      AddRecord(true);
      single = CurrentRecAddr();
      CreateAccumulators(Fields, single);
    } else {
      SetIndexIfDefined(ResultGroupByIndexName);
    }
    int32_t groups = Grouped ? 0 : 1;
    // Groups of integer columns only are found by the columns' bytes, which
    // are equal exactly when the values are, instead of by a search of the
    // result's index; each group's row is still added through the index.
    std::vector<int32_t> byBytes;
    if (const TIndexItem* index = IndexManager().FindIndex(ResultGroupByIndexName);
        Grouped && index != nullptr) {
      for (int32_t i = 0; i < index->KeyFields().Count(); ++i) {
        const std::string& name = index->KeyFields().Items(i)->FieldName();
        if (name == LogicalRecNoIndexName) continue;
        const int32_t no = GetFieldNo(name);
        if (no < 0 || !ZelIsIntegralType(GetInternalField(no)->DataType())) {
          byBytes.clear();
          break;
        }
        byBytes.push_back(no);
      }
    }
    size_t keyWidth = 0;
    for (const int32_t no : byBytes)
      keyWidth += 1 + static_cast<size_t>(GetInternalField(no)->FieldSize());
    TByteRowMap groupAddrs(keyWidth);
    std::vector<uint8_t> key(keyWidth);
    // A cleared record holds Null in every column but a blob's: the
    // aggregates' columns are not set to it again for every row.
    bool clearedIsNull = true;
    for (int32_t i = 0; i < Fields.Count(); ++i)
      if (Fields.GetItems(i)->IsAggregate() && IsFieldBlob(i)) clearedIsNull = false;
    RowSource_->ReadsEveryRow();
    for (bool more = RowSource_->FirstRow(); more;) {
      uint32_t addr = single;
      if (Grouped) {
        ClearRecord(nullptr);
        FillColumns(Fields, clearedIsNull);
        const uint32_t* kept = nullptr;
        if (!byBytes.empty()) {
          uint8_t* to = key.data();
          for (const int32_t no : byBytes) {
            const bool isNull = GetIsFieldNullFromRecBuf(RecBuf_.data(), no);
            const TInternalFieldItem* f = GetInternalField(no);
            const auto size = static_cast<size_t>(f->FieldSize());
            *to++ = isNull ? 0 : 1;
            if (isNull)
              std::memset(to, 0, size);
            else
              std::memcpy(to, RecBuf_.data() + f->DataOffset(), size);
            to += size;
          }
          kept = groupAddrs.Find(key.data());
        }
        if (kept != nullptr) {
          addr = *kept;
        } else if (byBytes.empty() && KeyExists()) {
          LoadFromIndex();
          addr = CurrentRecAddr();
        } else {
          AddRecord(true);
          ++groups;
          addr = CurrentRecAddr();
          CreateAccumulators(Fields, addr);
          if (!byBytes.empty()) groupAddrs.Add(key.data(), addr);
        }
      }
      for (int32_t i = 0; i < Fields.Count(); ++i) {
        TResultSetField* field = Fields.GetItems(i);
        for (std::size_t k = 0; k < field->AggNodes.size(); ++k) {
          TExprEvaluator* evaluator = field->AggArgEvaluators[k].get();
          plat::Variant value;
          if (evaluator != nullptr) {
            evaluator->Reset();
            value = evaluator->EvaluateValueExpr();
          }
          FuncResults_->SetNewValue(addr, field->AggSlots[k], value);
        }
      }
      more = RowSource_->NextRow();
      if (more && MaxRecords_ > 0 && groups > MaxRecords_)
        ZelDatabaseErrorFmt(0x25AD, DatasetContext, "Result set limit of %d has been exceeded",
                            {MaxRecords_}, this);
    }
    if (Grouped && MaxRecords_ > 0 && groups > MaxRecords_)
      ZelDatabaseErrorFmt(0x25AD, DatasetContext, "Result set limit of %d has been exceeded",
                          {MaxRecords_}, this);
    FinishAggregates(Fields);
  }
  SetIndexIfDefined(ResultOrderByIndexName);
  RowsAffected_ = GetTotalRecordCount();
  First();
}

void TZelQueryDataset::ProcessHavingClause(TZelExprNode* Root) {
  if (Root == nullptr) return;
  TResultRowProvider provider(*this);
  TExprEvaluator evaluator;
  evaluator.SetExcludeRelopNulls(true);
  evaluator.SetDBStringCompare(DBStringCompare_);
  evaluator.Prepare(&provider, Root);
  // The addresses first: deleting moves the cursor.
  std::vector<uint32_t> rows;
  for (bool more = DataSetFirst(); more; more = DataSetNext()) rows.push_back(CurrentRecAddr());
  for (uint32_t addr : rows) {
    SetToRecord(addr, nullptr, false, false);
    evaluator.Reset();
    if (!evaluator.Evaluate()) DeleteRecord(nullptr);
  }
  RowsAffected_ = GetTotalRecordCount();
  First();
}

void TZelQueryDataset::PopulateResultSetAddrList(std::vector<uint32_t>& List) {
  PLAT_ASSERT(RowSource_ != nullptr && RowSource_->IsSingleTable(),
              "RootProvider type is incorrect");
  List.clear();
  if (RowSource_->ListRecAddrs(List)) return;
  for (bool more = RowSource_->FirstRow(); more; more = RowSource_->NextRow())
    List.push_back(RowSource_->GetRecAddr());
}

void TZelQueryDataset::SetReadOnlyResultFields(TResultSetFields& Fields) {
  for (int32_t i = 0; i < Fields.Count() && i < this->Fields().Count(); ++i)
    this->Fields().Fields(i)->SetReadOnly(Fields.GetItems(i)->IsComputed());
}

// ---------------------------------------------------------------- row operations

std::vector<int32_t> TZelQueryDataset::TargetFieldNos(const std::vector<std::string>& Names,
                                                      const char* Context) {
  std::vector<int32_t> out;
  for (const std::string& name : Names) {
    const int32_t no = GetFieldNo(name);
    if (no < 0) ZelDatabaseError(0x2710, Context, name, this);
    out.push_back(no);
  }
  return out;
}

void TZelQueryDataset::InsertRow(const std::vector<int32_t>& FieldNos,
                                 const std::vector<plat::Variant>& Values) {
  RowsAffected_ = 0;
  ClearRecord(nullptr);
  for (std::size_t i = 0; i < FieldNos.size() && i < Values.size(); ++i)
    SetResultSetFieldFromVariant(FieldNos[i], Values[i]);
  AddRecord(true);
  RowsAffected_ = 1;
}

void TZelQueryDataset::InsertDataFromDataset(TResultSetFields& Fields, TZelQueryDataset& Source,
                                             bool ResetCount, bool Distinct) {
  if (ResetCount) RowsAffected_ = 0;
  if (!Active()) Open();
  if (Distinct) SetIndexIfDefined(ResultDistinctIndexName);
  // Column i of Source goes to the column named by field i.
  const int32_t columns = std::min(Fields.Count(), Source.GetInternalFieldCount());
  std::vector<std::string> names;
  for (int32_t i = 0; i < columns; ++i) names.push_back(Fields.GetItems(i)->FieldName);
  const std::vector<int32_t> targets = TargetFieldNos(names, "TZelQueryDataset.InsertDataFromDataset");
  {
    const std::optional<TCursorLock> fill = LockForFill();
    const std::unique_ptr<TDeferredKeys> keys = DeferKeys(Distinct);
    // The source's records read at once where they can be, in the order its
    // cursor gives them; a column of the same fixed layout copied as bytes.
    std::vector<uint8_t> scanned;
    const bool whole = ReadCursorRecords(Source, scanned);
    const auto stride = static_cast<size_t>(Source.RecordBufferSize());
    size_t next = 0;
    const auto nextRow = [&](bool First) -> const uint8_t* {
      if (whole)
        return (next + 1) * stride <= scanned.size() ? scanned.data() + stride * next++ : nullptr;
      const bool more = First ? Source.DataSetFirst() : Source.DataSetNext();
      return more ? Source.RecordBuffer() : nullptr;
    };
    std::vector<TFixedCopy> fixed;
    for (int32_t i = 0; i < columns; ++i)
      fixed.push_back(TFixedCopy::Between(*Source.GetInternalField(i),
                                          *GetInternalField(targets[static_cast<size_t>(i)])));
    for (const uint8_t* from = nextRow(true); from != nullptr; from = nextRow(false)) {
      ClearRecord(nullptr);
      for (int32_t i = 0; i < columns; ++i) {
        if (fixed[static_cast<size_t>(i)].Size > 0) {
          fixed[static_cast<size_t>(i)].Copy(from, RecBuf_.data());
          continue;
        }
        plat::Variant value;
        if (!Source.IsFieldBlob(i)) {
          value = Source.DataSetGetFieldDataFromRecBufAsVariant(from, i);
        } else {
          plat::TMemoryStream stream;
          bool isNull = true;
          Source.DataSetGetFieldStreamFromRecBuf(Source.RecordBuffer(), i, stream, isNull);
          stream.SetPosition(0);
          value = isNull ? plat::Null() : plat::Variant(plat::ReadStreamToEnd(stream));
        }
        SetResultSetFieldFromVariant(targets[static_cast<std::size_t>(i)], value);
      }
      if (keys != nullptr) {
        if (keys->AddRow()) ++RowsAffected_;
      } else if (!Distinct || !KeyExists()) {
        AddRecord(true);
        ++RowsAffected_;
      }
    }
    if (keys != nullptr) keys->Load();
  }
  SetIndexIfDefined(ResultOrderByIndexName);
  First();
}

void TZelQueryDataset::UpdateCurrentRecord(TZelUpdateRowConstructor& RowConstructor,
                                           std::vector<plat::Variant>& Values) {
  const bool opened = !Active();
  if (opened) Open();
  // Every SET value is taken from the row as it was before any is stored:
  // SET a = b, b = a swaps.
  Values.resize(static_cast<std::size_t>(RowConstructor.Count()));
  for (int32_t i = 0; i < RowConstructor.Count(); ++i)
    Values[static_cast<std::size_t>(i)] = RowConstructor.GetItems(i)->GetRowData();
  for (int32_t i = 0; i < RowConstructor.Count(); ++i)
    SetResultSetFieldFromVariant(RowConstructor.GetItems(i)->TargetColumnIndex(),
                                 Values[static_cast<std::size_t>(i)]);
  UpdateRecord(true);
  if (opened) Close();
}

void TZelQueryDataset::UpdateData(bool AllRows, const std::vector<uint32_t>& List,
                                  TZelUpdateRowConstructor& RowConstructor) {
  RowsAffected_ = 0;
  for (int32_t i = 0; i < RowConstructor.Count(); ++i) {
    TZelUpdateRowConstructorElement* element = RowConstructor.GetItems(i);
    element->SetTargetColumnIndex(GetFieldNo(element->TargetColumnName()));
  }
  // The addresses are taken before anything changes, so that a changed key
  // never moves a row ahead of the walk.
  std::vector<uint32_t> rows;
  if (AllRows) {
    for (bool more = DataSetFirst(); more; more = DataSetNext()) rows.push_back(CurrentRecAddr());
  } else {
    rows = List;
  }
  if (rows.empty()) return;
  // One write lock for the statement rather than one per row, so that the
  // table header is read and written once; the checks an update makes
  // before it locks come first, as they would.
  CheckInternalActive();
  CheckPrivilegePresent(TableDef().PrivilegeFlags(), opUpdateDataBit);
  TCursorLock lock(*this, true);
  // The target is open only for this statement and nothing reads its
  // position: the record is read by address, without a search of the index.
  std::vector<plat::Variant> values;
  for (uint32_t addr : rows) {
    SetToRecord(addr, nullptr, false, false);
    UpdateCurrentRecord(RowConstructor, values);
    ++RowsAffected_;
  }
}

void TZelQueryDataset::DeleteData(bool AllRows, std::vector<uint32_t>& List) {
  if (AllRows) {
    List.clear();
    for (bool more = DataSetFirst(); more; more = DataSetNext()) List.push_back(CurrentRecAddr());
  }
  RowsAffected_ = 0;
  if (List.empty()) return;
  // As for an update: one write lock for the statement.
  CheckInternalActive();
  CheckPrivilegePresent(TableDef().PrivilegeFlags(), opDeleteDataBit);
  TCursorLock lock(*this, true);
  // Nothing reads the position after a row goes: the cursor is not put on
  // the next row. The delete reads the record at the buffer's address
  // itself (and refuses one not in use).
  for (uint32_t addr : List) {
    SetRecordTrailer(RecBuf_.data(), addr, 0);
    CurrentRecordFlag_ = true;
    DeleteRecord(nullptr, false);
    ++RowsAffected_;
  }
}

}  // namespace zel
