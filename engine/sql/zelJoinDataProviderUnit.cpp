// The dataset bridge, the data holder, the providers and the provider
// manager. The join analyser and evaluator are in
// zelJoinDataProviderUnitJoin.cpp.
#include "engine/sql/zelJoinDataProviderUnit.h"

#include <algorithm>
#include <cmath>
#include <bit>
#include <cstring>

#include "engine/dataset/zelDatabase.h"
#include "engine/expr/zelExprParser.h"
#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelCommonText.h"
#include "engine/storage/zelIndexKeys.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/ScopeGuard.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

int32_t AnsiCompare(const char* A, const char* B, int32_t LengthA, int32_t LengthB, bool Partial,
                    bool CaseInsensitive) {
  return DBANSICompareStrings(A, B, LengthA, LengthB, CaseInsensitive, Partial);
}

bool IsNumberClass(plat::TFieldType Type) {
  switch (Type) {
    case plat::ftSmallint:
    case plat::ftWord:
    case plat::ftInteger:
    case plat::ftAutoInc:
    case plat::ftLargeint:
    case plat::ftFloat:
    case plat::ftCurrency:
    case plat::ftBCD:
    case plat::ftBoolean:
    case plat::ftDate:
    case plat::ftTime:
    case plat::ftDateTime:
      return true;
    default:
      return false;
  }
}

bool IsTextClass(plat::TFieldType Type) {
  return Type == plat::ftString || Type == plat::ftWideString || Type == plat::ftFixedChar;
}

// The value of a key that a variant holds, as a number when it is one.
bool VariantIsNumber(const plat::Variant& V) {
  switch (V.VarType()) {
    case plat::varSmallint:
    case plat::varInteger:
    case plat::varInt64:
    case plat::varDouble:
    case plat::varSingle:
    case plat::varCurrency:
    case plat::varBoolean:
    case plat::varDate:
    case plat::varByte:
    case plat::varWord:
    case plat::varLongWord:
    case plat::varShortInt:
      return true;
    default:
      return false;
  }
}

// A range bound for a field of Type: a number bound of an integer field is
// rounded inwards and kept within what the field holds, so that the range
// loses no row whose value lies between the bounds.
plat::Variant RangeBound(plat::TFieldType Type, const plat::Variant& Value, bool Low) {
  if (!VariantIsNumber(Value)) return Value;
  double lo = 0, hi = 0;
  switch (Type) {
    case plat::ftSmallint: lo = -32768.0; hi = 32767.0; break;
    case plat::ftWord: lo = 0.0; hi = 65535.0; break;
    case plat::ftInteger:
    case plat::ftAutoInc: lo = -2147483648.0; hi = 2147483647.0; break;
    case plat::ftLargeint: lo = -9.2e18; hi = 9.2e18; break;
    default: return Value;
  }
  const double d = Value.AsFloat();
  if (std::isnan(d)) return Value;
  return plat::Variant(std::clamp(Low ? std::ceil(d) : std::floor(d), lo, hi));
}

}  // namespace

const char* ZelJoinTypeName(TZelJoinType Type) {
  static const char* const names[] = {"None", "Cross", "Union", "Inner",
                                      "Left outer", "Right outer", "Full outer"};
  return Type <= jtFullOuterJoin ? names[Type] : "?";
}

int32_t ZelJoinHashKeySize(plat::TFieldType Type, int32_t WriteableSize) {
  if (IsNumberClass(Type)) return 9;
  if (IsTextClass(Type)) return 1 + std::clamp(WriteableSize, 1, 255);
  return 0;
}

bool ZelJoinHashKey(const plat::Variant& Value, int32_t KeySize, std::string& Key) {
  Key.assign(static_cast<size_t>(KeySize), '\0');
  if (Value.IsNull() || Value.IsEmpty() || KeySize < 2) return false;
  if (VariantIsNumber(Value)) {
    if (KeySize < 9) return false;
    double d = Value.AsFloat();
    if (d == 0.0) d = 0.0;  // -0 and 0 are one value
    uint8_t bytes[8];
    ix::StoreU64(bytes, std::bit_cast<uint64_t>(d));
    Key[0] = 'N';
    std::memcpy(Key.data() + 1, bytes, 8);
    return true;
  }
  if (Value.VarType() != plat::varString && Value.VarType() != plat::varOleStr) return false;
  // Upper case and no trailing blanks: every pair the comparison may take
  // for equal lands under one key; the candidates are checked afterwards.
  const std::string text = plat::TrimRight(plat::AnsiUpperCase(Value.AsString()));
  Key[0] = 'S';
  // A cut key still keeps equal values together.
  std::memcpy(Key.data() + 1, text.data(), std::min(text.size(), static_cast<size_t>(KeySize - 1)));
  return true;
}

// ---------------------------------------------------------------------------

plat::TMemoryStream& TDataHolder::GetStream() {
  if (Stream_ == nullptr) Stream_ = std::make_unique<plat::TMemoryStream>();
  return *Stream_;
}

// ---------------------------------------------------------------------------

TZelDatasetBridge::TZelDatasetBridge(plat::TComponent* AOwner) : TZelBaseTable(AOwner) {}

TZelDatasetBridge::~TZelDatasetBridge() {
  try {
    CloseBridge();
  } catch (const plat::Exception&) {
    // Closing a cursor whose database went away has nothing left to release.
  }
}

void TZelDatasetBridge::OpenBridge() {
  if (!CursorOpen())
    DataSetOpen();
  else if (RangeOn())
    SetRangeOn(false);  // a join opened again limits its inner side anew
  UpdateIndexDefs();
  Positioned_ = false;
}

void TZelDatasetBridge::CloseBridge() {
  Positioned_ = false;
  if (CursorOpen()) DataSetClose();
}

int32_t TZelDatasetBridge::FieldIndexOf(int32_t FieldNo) const {
  const int32_t count = GetInternalFieldCount();
  if (FieldNo >= 1 && FieldNo <= count && GetInternalField(FieldNo - 1)->FieldNo() == FieldNo)
    return FieldNo - 1;
  for (int32_t i = 0; i < count; ++i)
    if (GetInternalField(i)->FieldNo() == FieldNo) return i;
  PLAT_ASSERT(false, "zelJoinDataProviderUnit: field number not found in the bridge");
  return -1;
}

// The cursor keeps to its filter and its range.
bool TZelDatasetBridge::FirstBridgeRecord() { return Positioned_ = DataSetFirst(); }

bool TZelDatasetBridge::NextBridgeRecord() {
  // Past the end (or before any move) there is no next record.
  if (!Positioned_) return false;
  return Positioned_ = DataSetNext();
}

bool TZelDatasetBridge::LastBridgeRecord() { return Positioned_ = DataSetLast(); }

bool TZelDatasetBridge::PriorBridgeRecord() {
  if (!Positioned_) return false;
  return Positioned_ = DataSetPrior();
}

void TZelDatasetBridge::GetFieldDataAsVariant(int32_t FieldNo, plat::Variant& Value) {
  const int32_t index = FieldIndexOf(FieldNo);
  if (IsFieldBlob(index)) {
    plat::TMemoryStream stream;
    bool isNull = true;
    DataSetGetFieldStreamFromRecBuf(RecordBuffer(), index, stream, isNull);
    if (isNull) {
      Value = plat::Variant::MakeNull();
      return;
    }
    const auto* p = static_cast<const char*>(stream.Memory());
    Value = plat::Variant(std::string(p == nullptr ? "" : p, static_cast<size_t>(stream.Size())));
    return;
  }
  Value = DataSetGetFieldDataAsVariant(index);
}

void TZelDatasetBridge::GetRawFieldData(int32_t FieldNo, TDataHolder& Holder) {
  const int32_t index = FieldIndexOf(FieldNo);
  if (IsFieldBlob(index)) {
    plat::TMemoryStream& stream = Holder.GetStream();
    stream.Clear();
    bool isNull = true;
    DataSetGetFieldStreamFromRecBuf(RecordBuffer(), index, stream, isNull);
    Holder.SetIsNull(isNull);
    Holder.SetLength(static_cast<int32_t>(stream.Size()));
    Holder.SetData(nullptr);
    Holder.SetUsesStream(true);
    stream.SetPosition(0);
    return;
  }
  const TInternalFieldItem* f = GetInternalField(index);
  Holder.SetIsNull(GetIsFieldNullFromRecBuf(RecordBuffer(), index));
  Holder.SetLength(InternalGetFieldLength(index, RecordBuffer()));
  Holder.SetData(RecordBuffer() + f->DataOffset());
  Holder.SetUsesStream(false);
}

uint32_t TZelDatasetBridge::GetRecAddr() const {
  if (!CursorOpen()) return 0;
  return ix::LoadU32(RecBuf_.data() + RecordSize_ + rbRecAddr);
}

uint32_t TZelDatasetBridge::GetRecModFlag() const {
  if (!CursorOpen()) return 0;
  return ix::LoadU32(RecBuf_.data() + rpModificationStamp);
}

int32_t TZelDatasetBridge::GetTotalBridgeRecordCount() { return GetTotalRecordCount(); }

int32_t TZelDatasetBridge::GetSelectedBridgeRecordCount() {
  return TZelDataSet::FilterActive() ? GetFilterRecordCount() : GetTotalRecordCount();
}

bool TZelDatasetBridge::ListSelectedRecAddrs(std::vector<uint32_t>& List) {
  if (!TZelDataSet::FilterActive()) return false;
  TCursorLock lock(*this, false);
  RefreshFilterIfStale();
  List = FilterMgr_->GetCurrentFilterList();
  Positioned_ = false;
  return true;
}

void TZelDatasetBridge::MoveToRecAddr(uint32_t RecAddr) {
  Positioned_ = SetToRecord(RecAddr, nullptr, false, false);
}

void TZelDatasetBridge::RestoreRecordBytes(const uint8_t* Bytes) {
  std::memcpy(RecBuf_.data(), Bytes, static_cast<size_t>(RecordBufferSize()));
  CurrentRecordFlag_ = true;
  Positioned_ = true;
}

void TZelDatasetBridge::MoveToRecAddrAndValidate(uint32_t RecAddr, uint32_t ModFlag) {
  MoveToRecAddr(RecAddr);
  if (!Positioned_ || GetRecModFlag() != ModFlag)
    ZelDatabaseError(0x2204, "TZelDatasetBridge.MoveToRecAddrAndValidate", "", this);
}

void TZelDatasetBridge::LoadHashTable(TZelBaseHash& Hash, TSortedList& FilterList,
                                      bool& FilterActive, bool IsOuterJoin) {
  // Both kinds of join hash the values of the filter's records: an outer
  // join's unmatched rows are found by the join, not by an empty hash.
  (void)IsOuterJoin;
  FilterList.Clear();
  LoadHashListOfRecords(Hash, &FilterList, false);
  FilterActive = TZelDataSet::FilterActive();
  Positioned_ = false;
}

void TZelDatasetBridge::LoadValueHashTable(TZelBaseHash& Hash, TSortedList& FilterList,
                                           bool& FilterActive) {
  const int32_t index = GetFieldNo(Hash.SourceFieldName());
  PLAT_ASSERT(index >= 0, "zelJoinDataProviderUnit: Hash table SourceFieldName could not be set");
  const int32_t fieldNo = GetInternalField(index)->FieldNo();
  FilterList.Clear();
  FilterActive = TZelDataSet::FilterActive() || RangeOn();
  std::string key;
  for (bool found = FirstBridgeRecord(); found; found = NextBridgeRecord()) {
    const uint32_t addr = GetRecAddr();
    FilterList.Add(reinterpret_cast<void*>(static_cast<uintptr_t>(addr)));
    plat::Variant value;
    GetFieldDataAsVariant(fieldNo, value);
    if (ZelJoinHashKey(value, Hash.KeySize(), key))
      Hash.Add(key.data(), Hash.KeySize(), static_cast<int32_t>(addr));
  }
  Positioned_ = false;
}

void TZelDatasetBridge::SetJoinSelectExprRoot(TZelFilterExprDriver& Driver) {
  TZelExpr* expr = Driver.FilterExpr();
  const bool hasExpr = expr != nullptr && expr->FirstNode() != nullptr;
  if (Driver.AssessExprOnly() && !hasExpr) {
    // Nothing to answer: every row is read.
    Driver.SetExprOptimizationLevel(olNone);
    Driver.SetMaximalResultSetSize(GetTotalBridgeRecordCount());
    return;
  }
  Positioned_ = false;
  // Making an index current drops the range set on it: the index named is
  // made current only when it is another one.
  const std::string order = Driver.OrderIndexName();
  const bool sameIndex = !order.empty() && plat::SameText(order, CurrentIndexName());
  if (!hasExpr) {
    if (!order.empty() && !sameIndex) InternalSetIndexName(order);
    InternalClearFilter();
    return;
  }
  if (sameIndex) Driver.SetOrderIndexName("");
  const auto restore = plat::OnScopeExit([&Driver, order] { Driver.SetOrderIndexName(order); });
  AssignFilterExpr(Driver);
}

void TZelDatasetBridge::SetBridgeIndexRange(const std::string& IndexName, const plat::Variant& Low,
                                            const plat::Variant& High) {
  Positioned_ = false;
  if (!plat::SameText(IndexName, CurrentIndexName())) InternalSetIndexName(IndexName);
  const plat::TIndexDef* def = FindIndexDefByName(IndexName);
  PLAT_ASSERT(def != nullptr, "zelJoinDataProviderUnit: range index not found");
  const int32_t index = GetFieldNo(SplitFieldNames(def->Fields()).front());
  PLAT_ASSERT(index >= 0, "zelJoinDataProviderUnit: range field not found");
  const plat::TFieldType type = GetInternalField(index)->DataType();
  InternalSetRange({RangeBound(type, Low, true)}, {RangeBound(type, High, false)});
  Positioned_ = false;
}

void TZelDatasetBridge::CancelBridgeRange() {
  if (CursorOpen()) SetRangeOn(false);
  Positioned_ = false;
}

void TZelDatasetBridge::RestoreOrder(const std::string& IndexName) {
  Positioned_ = false;
  if (!plat::SameText(IndexName, CurrentIndexName())) InternalSetIndexName(IndexName);
}

void TZelDatasetBridge::PrepareIndexLookup(const std::string& IndexName) {
  Positioned_ = false;
  LookupField_ = -1;
  if (RangeOn()) SetRangeOn(false);
  InternalClearFilter();
  if (!plat::SameText(IndexName, CurrentIndexName())) InternalSetIndexName(IndexName);
}

bool TZelDatasetBridge::SetLookupValue(int32_t Field, const plat::Variant& Value) {
  // As a range's bounds: an integer field holds no fraction, and a number
  // past what it holds is clamped (the join's condition still decides).
  const plat::TFieldType type = GetInternalField(Field)->DataType();
  const plat::Variant low = RangeBound(type, Value, true);
  const plat::Variant high = RangeBound(type, Value, false);
  if (VariantIsNumber(low) && VariantIsNumber(high) && low.AsFloat() > high.AsFloat()) return false;
  LookupRecBuf_.resize(static_cast<size_t>(RecordBufferSize()));
  SetKeyFlags(LookupRecBuf_.data(), kfLowest);
  DataSetSetFieldDataToRecBufAsVariant(LookupRecBuf_.data(), Field, low);
  return true;
}

bool TZelDatasetBridge::InLookupRun(const uint8_t* Key) {
  return Key != nullptr && LookupIndex_->CompareKeyBuffers(0, &LookupEndMarkers_, nullptr,
                                                           LookupKey_.data(), Key) >= 0;
}

bool TZelDatasetBridge::FirstLookupRecord(const std::string& IndexName,
                                          const plat::Variant& Value) {
  Positioned_ = false;
  LookupRun_ = false;
  if (FilterActive() || Active()) {
    SetBridgeIndexRange(IndexName, Value, Value);
    return FirstBridgeRecord();
  }
  CheckInternalActive();
  if (!plat::SameText(IndexName, CurrentIndexName())) InternalSetIndexName(IndexName);
  if (RangeOn()) SetRangeOn(false);
  if (LookupField_ < 0 || !plat::SameText(IndexName, LookupIndexName_)) {
    const plat::TIndexDef* def = FindIndexDefByName(IndexName);
    PLAT_ASSERT(def != nullptr, "zelJoinDataProviderUnit: lookup index not found");
    LookupField_ = GetFieldNo(SplitFieldNames(def->Fields()).front());
    PLAT_ASSERT(LookupField_ >= 0, "zelJoinDataProviderUnit: lookup field not found");
    LookupIndexName_ = IndexName;
  }
  if (!SetLookupValue(LookupField_, Value)) return false;
  TCursorLock lock(*this, false);
  TIndexItem* index = LookupIndex_ = CurrentIndex();
  LookupKey_.assign(static_cast<size_t>(MaxKeySizeLimit) + 1, 0);
  index->BTree().ConstructTempKeyBufFromRecBuf(LookupKey_.data(), LookupRecBuf_.data(), nullptr);
  LookupEndMarkers_ = KeyMarkers(LookupRecBuf_.data(), *index, fcForceEOF);
  // The first entry of the run: the key before any record address.
  const TComparisonMarkers start = KeyMarkers(LookupRecBuf_.data(), *index, fcForceBOF);
  index->CopyKeyBuffer(LookupKey_.data(), &start);
  if (ReadAheadMode() == raReadAheadActive) ReadAheadMode_ = raReadAheadUninitialized;
  if (index->FullIndexSearch(stGE) != 0 || !InLookupRun(index->GetCurrentKeyBuf())) return false;
  LoadFromIndex();
  KeepPosition();
  LookupRun_ = true;
  return Positioned_ = true;
}

bool TZelDatasetBridge::NextLookupRecord() {
  if (!LookupRun_) return NextBridgeRecord();
  if (!Positioned_) return false;
  CheckInternalActive();
  // The step is the cursor's own (from the kept position where it can);
  // the run ends at the first key that differs.
  Positioned_ = false;
  if (!StepRecord(true)) return false;
  LookupIndex_->CreateTempKeyBuffer(RecordBuffer());
  return Positioned_ = InLookupRun(LookupIndex_->GetTempKeyBuffer());
}

plat::TIndexDef* TZelDatasetBridge::FindIndexForFields(const std::string& Fields,
                                                       bool AscendingOnly) {
  if (!CursorOpen()) return nullptr;
  plat::TIndexDef* def = IndexDefs().GetIndexForFields(Fields, false);
  if (def == nullptr || !plat::SameText(def->Fields(), Fields)) return nullptr;
  if (AscendingOnly && (def->Options().Contains(plat::ixDescending) || !def->DescFields().empty()))
    return nullptr;
  return def;
}

void TZelDatasetBridge::AssessJoin(const plat::TStringList& Fields, const plat::Variant& Low,
                                   const plat::Variant& High, TJoinStatistics& Stats) {
  (void)Low;
  (void)High;
  std::string names;
  for (int32_t i = 0; i < Fields.Count(); ++i) names += (i > 0 ? ";" : "") + Fields.Strings(i);
  Stats.SetIndexed(FindIndexForFields(names, false) != nullptr);
}

void TZelDatasetBridge::PrepareJoin(const plat::TStringList& Fields) {
  std::string names;
  for (int32_t i = 0; i < Fields.Count(); ++i) names += (i > 0 ? ";" : "") + Fields.Strings(i);
  if (plat::TIndexDef* def = FindIndexForFields(names, false)) InternalSetIndexName(def->Name());
  JoinBaseFilter_ = Filter();
}

namespace {

std::string Quoted(const std::string& Text) {
  std::string out = "'";
  for (char c : Text) {
    out += c;
    if (c == '\'') out += '\'';  // a quote inside the value stays part of it
  }
  return out + "'";
}

std::string ValueText(const TInternalFieldItem& Field, const TDataHolder& Holder) {
  const uint8_t* p = Holder.Data();
  PLAT_ASSERT(p != nullptr, "zelJoinDataProviderUnit: join value without data");
  switch (Field.DataType()) {
    case plat::ftString:
      return Quoted(std::string(reinterpret_cast<const char*>(p),
                                static_cast<size_t>(std::max(Holder.Length(), 0))));
    case plat::ftSmallint:
      return std::to_string(static_cast<int16_t>(ix::LoadU16(p)));
    case plat::ftWord:
      return std::to_string(ix::LoadU16(p));
    case plat::ftInteger:
    case plat::ftAutoInc:
      return std::to_string(static_cast<int32_t>(ix::LoadU32(p)));
    case plat::ftBoolean:
      return p[0] != 0 ? "True" : "False";
    case plat::ftFloat:
    case plat::ftCurrency:
      return plat::FloatToStr(ix::LoadDouble(p));
    case plat::ftDate:
    case plat::ftDateTime:
      return Quoted(plat::DateTimeToStr(ix::LoadDouble(p)));
    default:
      ZelDatabaseError(0x2710, "GetStringFromData",
                       std::string(plat::FieldTypeNames[Field.DataType()]));
  }
}

}  // namespace

void TZelDatasetBridge::SetJoinValues(TZelExprOperator Operator, const plat::TStringList& Fields,
                                      const std::vector<TDataHolder*>& Values) {
  std::string text = JoinBaseFilter_;
  for (int32_t i = 0; i < Fields.Count(); ++i) {
    const int32_t index = GetFieldNo(Fields.Strings(i));
    PLAT_ASSERT(index >= 0, "zelJoinDataProviderUnit: Join field can not be found");
    PLAT_ASSERT(static_cast<size_t>(i) < Values.size(), "zelJoinDataProviderUnit: join value missing");
    if (!text.empty()) text += " AND ";
    text += "[" + Fields.Strings(i) + "]";
    const TDataHolder& v = *Values[static_cast<size_t>(i)];
    if (v.IsNull()) {
      text += " IS NULL";
      continue;
    }
    switch (Operator) {
      case zeoNE: text += " <> "; break;
      case zeoGT: text += " > "; break;
      case zeoLT: text += " < "; break;
      case zeoGE: text += " >= "; break;
      case zeoLE: text += " <= "; break;
      default: text += " = "; break;
    }
    text += ValueText(*GetInternalField(index), v);
  }
  SetFilterText(text);
  SetFiltered(!text.empty());
  // The framework is not open on the bridge: the cursor's filter manager
  // takes the text itself.
  if (CursorOpen()) {
    if (text.empty())
      InternalClearFilter();
    else
      InternalSetFilter();
    Positioned_ = false;
  }
}

// ---------------------------------------------------------------------------

TJoinFieldItem::TJoinFieldItem(plat::TCollection* Collection)
    : TInternalFieldItem(Collection), Evaluator_(std::make_unique<TExprEvaluator>()) {}

void TJoinFieldItem::Assign(const plat::TPersistent* Source) {
  TInternalFieldItem::Assign(Source);
  if (const auto* item = dynamic_cast<const TJoinFieldItem*>(Source)) {
    SourceFieldNo_ = item->SourceFieldNo_;
    DataProvider_ = item->DataProvider_;
  }
}

void TJoinFieldItem::PrepareJoinExprEvaluator(TZelExprNode* Node) {
  PLAT_ASSERT(DataProvider_ != nullptr,
              "zelJoinDataProviderUnit: Join Field data provider is not yet assigned");
  Evaluator_->Clear();
  if (Node == nullptr) return;
  Evaluator_->SetExcludeRelopNulls(true);
  Evaluator_->Prepare(DataProvider_, Node);
}

TJoinFields::TJoinFields()
    : TInternalFields(
          [](plat::TCollection* c) -> plat::TCollectionItem* { return new TJoinFieldItem(c); },
          nullptr) {}

void TJoinFields::Assign(const plat::TPersistent* Source) {
  const auto* other = dynamic_cast<const TJoinFields*>(Source);
  if (other == nullptr) {
    TInternalFields::Assign(Source);
    return;
  }
  Clear();
  for (int32_t i = 0; i < other->Count(); ++i) Add()->Assign(other->GetItems(i));
}

// ---------------------------------------------------------------------------

TZelBaseJoinDataProvider::TZelBaseJoinDataProvider(TZelDataProviderBaseDBInterface* DBInterface)
    : TZelExprDataProvider(DBInterface), JoinStatistics_(std::make_unique<TJoinStatistics>()) {}

TZelBaseJoinDataProvider::~TZelBaseJoinDataProvider() = default;

void TZelBaseJoinDataProvider::GetRawFieldData(int32_t, TDataHolder&) {}
void TZelBaseJoinDataProvider::SetSelectExpr(bool, const std::string&) {}
void TZelBaseJoinDataProvider::AssessJoin(const plat::TStringList&, const plat::Variant&,
                                          const plat::Variant&, TJoinStatistics&) {}
void TZelBaseJoinDataProvider::PrepareJoin(const plat::TStringList&) {}

void TZelBaseJoinDataProvider::SetJoinValues(TZelExprOperator, const plat::TStringList&,
                                             const std::vector<TDataHolder*>&) {
  throw plat::Exception("SetJoinValue not supported in TZelBaseJoinDataProvider");
}

TZelBaseJoinDataProvider* TZelBaseJoinDataProvider::FindJoinProvider(const std::string& Name) {
  if (plat::AnsiSameText(Name, ProviderName_)) return this;
  if (InnerProvider_ != nullptr)
    if (TZelBaseJoinDataProvider* p = InnerProvider_->FindJoinProvider(Name)) return p;
  if (OuterProvider_ != nullptr)
    if (TZelBaseJoinDataProvider* p = OuterProvider_->FindJoinProvider(Name)) return p;
  return nullptr;
}

void TZelBaseJoinDataProvider::SetJoinSelectExprRoot(const TZelExprNode* Node) {
  JoinSelectExpr_.reset();
  if (Node == nullptr) return;
  JoinSelectExpr_ = std::make_unique<TZelExpr>();
  JoinSelectExpr_->CloneFromTree(Node);
}

void TZelBaseJoinDataProvider::SetForceToNullValues(bool Value) {
  ForceToNullValues_ = Value;
  // The fields of a joined row are read from its leaves, also by name
  // through FindProvider: a null-extended join nulls every leaf under it.
  if (InnerProvider_ != nullptr) InnerProvider_->SetForceToNullValues(Value);
  if (OuterProvider_ != nullptr) OuterProvider_->SetForceToNullValues(Value);
}

std::unique_ptr<TZelExpr> TZelBaseJoinDataProvider::ExtraSelection(const TZelExprNode* Node) const {
  if (Node == nullptr) return nullptr;
  auto expr = std::make_unique<TZelExpr>();
  TZelExprNode* clone = expr->CloneFromTree(Node);
  if (HasJoinSelectExpr()) {
    TZelExprNode* own = expr->CloneSubTree(JoinSelectExpr_->FirstNode());
    expr->SetAsFirstNode(
        expr->NewNode(enkLogicalOperator, zeoAND, plat::Variant(), clone, own, nullptr));
  }
  return expr;
}

std::string TZelBaseJoinDataProvider::SelectionText() const {
  if (!HasJoinSelectExpr()) return "";
  return ZelExprText(JoinSelectExpr_->FirstNode());
}

// ---------------------------------------------------------------------------

TZelNonJoinDataProvider::TZelNonJoinDataProvider(TZelDataProviderBaseDBInterface* DBInterface)
    : TZelBaseJoinDataProvider(DBInterface) {}

TZelNonJoinDataProvider::~TZelNonJoinDataProvider() = default;

TInternalFields* TZelNonJoinDataProvider::GetProviderFields() {
  return DataBridge_ != nullptr ? &DataBridge_->BridgeFields() : ProviderFields();
}

bool TZelNonJoinDataProvider::HasRow() const {
  return DataBridge_ != nullptr && DataBridge_->HasBridgeRecord();
}

plat::Variant TZelNonJoinDataProvider::GetDataAsVariant(int32_t FieldNo) {
  if (ForceToNullValues_ || !HasRow()) return plat::Variant::MakeNull();
  plat::Variant value;
  DataBridge_->GetFieldDataAsVariant(FieldNo, value);
  return value;
}

bool TZelNonJoinDataProvider::GetFieldInteger(int32_t FieldNo, int64_t& Value, bool& IsNull) {
  if (ForceToNullValues_ || !HasRow()) {
    Value = 0;
    IsNull = true;
    return true;
  }
  return DataBridge_->DataSetGetFieldIntegerFromRecBuf(DataBridge_->CurrentRecordBytes(),
                                                       *DataBridge_->FieldOfNo(FieldNo), Value, IsNull);
}

TInternalFieldItem* TZelNonJoinDataProvider::FindField(const TParserToken*,
                                                       const std::string& Name) {
  TInternalFields* fields = GetProviderFields();
  return fields == nullptr ? nullptr : fields->FindField(Name);
}

void TZelNonJoinDataProvider::SetProviderName(const std::string& Name) {
  TZelBaseJoinDataProvider::SetProviderName(Name);
  if (DataBridge_ != nullptr) DataBridge_->SetTableName(Name);
}

void TZelNonJoinDataProvider::GetRawFieldData(int32_t FieldNo, TDataHolder& Holder) {
  if (ForceToNullValues_ || !HasRow()) {
    Holder.SetIsNull(true);
    return;
  }
  DataBridge_->GetRawFieldData(FieldNo, Holder);
}

bool TZelNonJoinDataProvider::NextProviderRecord() { return DataBridge_->NextBridgeRecord(); }
bool TZelNonJoinDataProvider::FirstProviderRecord() { return DataBridge_->FirstBridgeRecord(); }
bool TZelNonJoinDataProvider::LastProviderRecord() { return DataBridge_->LastBridgeRecord(); }

void TZelNonJoinDataProvider::OpenProvider() {
  PLAT_ASSERT(DataBridge_ != nullptr, "zelJoinDataProviderUnit: The data bridge is not assigned");
  DataBridge_->OpenBridge();
  IsOpen_ = true;
}

void TZelNonJoinDataProvider::ApplySelection(TZelExpr* Expr, bool EnforceOrder,
                                             const std::string& IndexName) {
  TZelFilterExprDriver driver;
  driver.SetFilterExpr(Expr);
  driver.SetExcludeRelopNulls(true);
  // Expr is the whole selection (the provider's own with what the join
  // adds for the current outer row): it replaces the one before.
  driver.SetOverwriteExpr(true);
  driver.SetEnforceExprOrder(EnforceOrder);
  driver.SetOrderIndexName(IndexName);
  DataBridge_->SetJoinSelectExprRoot(driver);
}

void TZelNonJoinDataProvider::SetSelectExpr(bool EnforceOrder, const std::string& IndexName) {
  if (!DataBridge_->IsBridgeOpen()) DataBridge_->OpenBridge();
  ApplySelection(JoinSelectExpr_.get(), EnforceOrder, IndexName);
}

void TZelNonJoinDataProvider::SetJoinSelectExprRoot(const TZelExprNode* Node) {
  TZelBaseJoinDataProvider::SetJoinSelectExprRoot(Node);
  if (DataBridge_ != nullptr && DataBridge_->IsBridgeOpen())
    ApplySelection(JoinSelectExpr_.get(), false, "");
}

void TZelNonJoinDataProvider::SetExtraSelectExpRoot(const TZelExprNode* Node) {
  ExtraSelectExpr_ = ExtraSelection(Node);
  if (DataBridge_ != nullptr && DataBridge_->IsBridgeOpen())
    ApplySelection(ExtraSelectExpr_ != nullptr ? ExtraSelectExpr_.get() : JoinSelectExpr_.get(),
                   false, "");
}

void TZelNonJoinDataProvider::AssessJoin(const plat::TStringList& Fields, const plat::Variant& Low,
                                         const plat::Variant& High, TJoinStatistics& Stats) {
  DataBridge_->AssessJoin(Fields, Low, High, Stats);
}

void TZelNonJoinDataProvider::PrepareJoin(const plat::TStringList& Fields) {
  DataBridge_->PrepareJoin(Fields);
}

void TZelNonJoinDataProvider::SetJoinValues(TZelExprOperator Operator,
                                            const plat::TStringList& Fields,
                                            const std::vector<TDataHolder*>& Values) {
  DataBridge_->SetJoinValues(Operator, Fields, Values);
}

TZelBaseJoinDataProvider* TZelNonJoinDataProvider::FindJoinProvider(const std::string& Name) {
  if (plat::AnsiSameText(Name, ProviderName_) ||
      (!Name.empty() && plat::AnsiSameText(Name, CorrelationName_)))
    return this;
  return TZelBaseJoinDataProvider::FindJoinProvider(Name);
}

int32_t TZelNonJoinDataProvider::GetRecordCount() {
  const bool wasOpen = DataBridge_->IsBridgeOpen();
  if (!wasOpen) DataBridge_->OpenBridge();
  const int32_t count = DataBridge_->GetTotalBridgeRecordCount();
  if (!wasOpen) DataBridge_->CloseBridge();
  return count;
}

std::string TZelNonJoinDataProvider::CurrentRecordIDAsString() {
  if (DataBridge_ == nullptr || ForceToNullValues_ || !HasRow()) return "";
  return std::to_string(DataBridge_->GetRecAddr());
}

void TZelNonJoinDataProvider::DescribeProvider(int32_t Indent, plat::TStrings& Lines) const {
  std::string line(static_cast<size_t>(Indent) * 2, ' ');
  line += "table " + ProviderName_;
  if (!CorrelationName_.empty()) line += " " + CorrelationName_;
  if (HasJoinSelectExpr()) line += " where " + SelectionText();
  Lines.Add(line);
}

// ---------------------------------------------------------------------------

TZelStdJoinDataProvider::TZelStdJoinDataProvider(TZelDataProviderBaseDBInterface* DBInterface)
    : TZelBaseJoinDataProvider(DBInterface),
      JoinFields_(std::make_unique<TJoinFields>()),
      OuterFieldMap_(std::make_unique<plat::TStringList>()),
      InnerFieldMap_(std::make_unique<plat::TStringList>()),
      JoinExpr_(std::make_unique<TZelExpr>()),
      JoinAnalyser_(std::make_unique<TJoinAnalyser>()),
      JoinEvaluator_(std::make_unique<TJoinEvaluator>()) {
  JoinEvaluator_->SetJoinAnalyser(JoinAnalyser_.get());
  JoinAnalyser_->SetJoinType(jtInnerJoin);
}

TZelStdJoinDataProvider::~TZelStdJoinDataProvider() {
  // The evaluator's node evaluators refer to the analyser's nodes.
  JoinEvaluator_.reset();
}

plat::Variant TZelStdJoinDataProvider::GetDataAsVariant(int32_t FieldNo) {
  if (ForceToNullValues_) return plat::Variant::MakeNull();
  PLAT_ASSERT(FieldNo >= 0 && FieldNo < JoinFields_->Count(),
              "zelJoinDataProviderUnit: join field number out of range");
  TJoinFieldItem* item = JoinFields_->GetItems(FieldNo);
  return item->DataProvider()->GetDataAsVariant(item->SourceFieldNo());
}

TInternalFieldItem* TZelStdJoinDataProvider::FindField(const TParserToken* Token,
                                                       const std::string& Name) {
  if (TJoinFieldItem* item = JoinFields_->FindField(Name)) return item;
  if (Token != nullptr && Token->Token() == zstTableName)
    return JoinFields_->FindField(Name + "." + Token->Text());
  return nullptr;
}

void TZelStdJoinDataProvider::GetRawFieldData(int32_t FieldNo, TDataHolder& Holder) {
  if (ForceToNullValues_) {
    Holder.SetIsNull(true);
    return;
  }
  TJoinFieldItem* item = JoinFields_->GetItems(FieldNo);
  item->DataProvider()->GetRawFieldData(item->SourceFieldNo(), Holder);
}

bool TZelStdJoinDataProvider::PassesSelection() {
  if (SelectionEvaluator_ == nullptr) return true;
  SelectionEvaluator_->Reset();
  return SelectionEvaluator_->Evaluate();
}

bool TZelStdJoinDataProvider::FirstProviderRecord() {
  bool found = JoinEvaluator_->FirstRecord();
  while (found && !PassesSelection()) found = JoinEvaluator_->NextRecord();
  return found;
}

bool TZelStdJoinDataProvider::NextProviderRecord() {
  bool found = JoinEvaluator_->NextRecord();
  while (found && !PassesSelection()) found = JoinEvaluator_->NextRecord();
  return found;
}

void TZelStdJoinDataProvider::CheckProviders() const {
  PLAT_ASSERT(InnerProvider_ != nullptr && OuterProvider_ != nullptr,
              "zelJoinDataProviderUnit: Right provider has not been set");
}

void TZelStdJoinDataProvider::OpenProvider() {
  PLAT_ASSERT(JoinType_ != jtNone, "zelJoinDataProviderUnit: Join type has not been set");
  CheckProviders();
  InnerProvider_->OpenProvider();
  OuterProvider_->OpenProvider();
  // Opened again for another run of a kept plan: its sides, and so their
  // fields, and its condition are the ones it had.
  if (!IsOpen_) {
    PrepareInternalFields();
    JoinAnalyser_->SetJoinExpr(JoinExpr_.get());
  }
  JoinAnalyser_->SetInnerProvider(InnerProvider_);
  JoinAnalyser_->SetOuterProvider(OuterProvider_);
  JoinAnalyser_->SetProvider(this);
  JoinAnalyser_->SetJoinType(JoinType_);
  JoinEvaluator_->AnalyseAndOpenJoin();
  IsOpen_ = true;
  PrepareSelection();
}

void TZelStdJoinDataProvider::SetSelectExpr(bool EnforceOrder, const std::string& IndexName) {
  InnerProvider_->SetSelectExpr(EnforceOrder, IndexName);
  OuterProvider_->SetSelectExpr(EnforceOrder, IndexName);
}

void TZelStdJoinDataProvider::PrepareSelection() {
  SelectionEvaluator_.reset();
  if (!IsOpen_) return;
  TZelExprNode* root = ExtraSelectExpr_ != nullptr ? ExtraSelectExpr_->FirstNode()
                       : HasJoinSelectExpr()       ? JoinSelectExpr_->FirstNode()
                                                   : nullptr;
  if (root == nullptr) return;
  SelectionEvaluator_ = std::make_unique<TExprEvaluator>();
  SelectionEvaluator_->SetExcludeRelopNulls(true);
  SelectionEvaluator_->Prepare(this, root);
}

void TZelStdJoinDataProvider::SetJoinSelectExprRoot(const TZelExprNode* Node) {
  TZelBaseJoinDataProvider::SetJoinSelectExprRoot(Node);
  ExtraSelectExpr_.reset();
  PrepareSelection();
}

void TZelStdJoinDataProvider::SetExtraSelectExpRoot(const TZelExprNode* Node) {
  // A joined source filters its own rows by what it is given (the condition
  // of the join above it), together with its own selection.
  ExtraSelectExpr_ = ExtraSelection(Node);
  PrepareSelection();
}

std::string TZelStdJoinDataProvider::CurrentRecordIDAsString() {
  if (ForceToNullValues_) return "";
  return "[" + OuterProvider_->CurrentRecordIDAsString() + "," +
         InnerProvider_->CurrentRecordIDAsString() + "]";
}

void TZelStdJoinDataProvider::SetJoinExpr(const TZelExpr* Expr) {
  SetJoinExprRoot(Expr != nullptr ? Expr->FirstNode() : nullptr);
}

void TZelStdJoinDataProvider::SetJoinExprRoot(const TZelExprNode* Node) {
  JoinExpr_ = std::make_unique<TZelExpr>();
  if (Node != nullptr) JoinExpr_->CloneFromTree(Node);
}

void TZelStdJoinDataProvider::PrepareInternalFields() {
  CheckProviders();
  auto fields = std::make_unique<TJoinFields>();
  TInternalFields* outer = OuterProvider_->GetProviderFields();
  const int32_t outerCount = outer != nullptr ? outer->Count() : 0;
  for (int32_t i = 0; i < outerCount; ++i) {
    TInternalFieldItem* source = outer->GetIndex(i);
    TJoinFieldItem* item = fields->Add();
    item->Assign(source);
    item->SetSourceFieldNo(source->FieldNo());
    item->SetFieldNo(i);
    item->SetDataProvider(OuterProvider_);
  }
  TInternalFields* inner = InnerProvider_->GetProviderFields();
  for (int32_t j = 0; inner != nullptr && j < inner->Count(); ++j) {
    TInternalFieldItem* source = inner->GetIndex(j);
    std::string name = source->FieldName();
    while (fields->FindField(name) != nullptr) name += "." + InnerProvider_->ProviderName();
    TJoinFieldItem* item = fields->Add();
    item->Assign(source);
    item->SetFieldName(name);
    item->SetSourceFieldNo(source->FieldNo());
    item->SetFieldNo(outerCount + j);
    item->SetDataProvider(InnerProvider_);
  }
  JoinFields_ = std::move(fields);
}

std::string ZelFieldNodeTableName(const TZelExprNode& Node) {
  if (!Node.TokenArgs().empty() && Node.TokenArgs()[0] != nullptr)
    return Node.TokenArgs()[0]->Text();
  if (Node.Tables().Count() > 0) {
    const TTableNameItem* item = Node.Tables().Items(0);
    return item->CorrelationName().empty() ? item->TableName() : item->CorrelationName();
  }
  return "";
}

TZelBaseJoinDataProvider* ZelFindFieldProvider(TZelBaseJoinDataProvider& Side,
                                               const TZelExprNode& Node,
                                               TInternalFieldItem*& Field) {
  const std::string name = Node.Data().AsString();
  const std::string table = ZelFieldNodeTableName(Node);
  TZelBaseJoinDataProvider* provider = table.empty() ? nullptr : Side.FindJoinProvider(table);
  if (provider == nullptr && table.empty()) provider = &Side;
  Field = provider != nullptr ? provider->FindField(Node.ParserToken(), name) : nullptr;
  return Field != nullptr ? provider : nullptr;
}

void TZelStdJoinDataProvider::ParseJoinExpr(const TZelExprNode* Root, bool Unswapped) {
  if (Root == nullptr || InnerProvider_ == nullptr) return;
  TZelBaseJoinDataProvider& inner = Unswapped ? *InnerProvider_ : *OuterProvider_;
  TZelBaseJoinDataProvider& outer = Unswapped ? *OuterProvider_ : *InnerProvider_;
  TZelExpr clone;
  TZelExprNode* root = clone.CloneFromTree(Root);
  for (TZelExprNode* node = clone.FirstNode(); node != nullptr; node = node->Next()) {
    // References to an enclosing statement are its business, not the join's.
    if (node->Kind() != enkField || node->Operator() == zeoOUTERFIELD) continue;
    TInternalFieldItem* field = nullptr;
    if (TZelBaseJoinDataProvider* p = ZelFindFieldProvider(outer, *node, field)) {
      const plat::Variant value = p->GetDataAsVariant(field->FieldNo());
      node->SetKind(enkConst);
      node->SetData(value);
      node->TokenArgs().clear();
      OuterFieldMap_->AddObject(field->FieldName(), nullptr);
    } else if (ZelFindFieldProvider(inner, *node, field) != nullptr) {
      InnerFieldMap_->AddObject(field->FieldName(), nullptr);
    } else {
      PLAT_ASSERT(false, "zelJoinDataProviderUnit: join field not found");
    }
  }
  OuterFieldMap_->Clear();
  InnerFieldMap_->Clear();
  inner.SetExtraSelectExpRoot(root);
}

void TZelStdJoinDataProvider::DescribeProvider(int32_t Indent, plat::TStrings& Lines) const {
  std::string line(static_cast<size_t>(Indent) * 2, ' ');
  line += std::string(ZelJoinTypeName(JoinType_)) + " join " + ProviderName_;
  if (JoinExpr_->FirstNode() != nullptr) line += " on " + ZelExprText(JoinExpr_->FirstNode());
  if (HasJoinSelectExpr()) line += " where " + SelectionText();
  if (IsOpen_) {
    switch (JoinEvaluator_->JoinModeType()) {
      case jmtHashJoin: line += " [hash"; break;
      case jmtIndexLookup: line += " [index lookup"; break;
      default: line += " [nested loop"; break;
    }
    if (JoinEvaluator_->InnerRangeOn()) line += ", inner range";
    if (JoinEvaluator_->Swapped()) line += ", swapped";
    line += "]";
  }
  Lines.Add(line);
  if (OuterProvider_ != nullptr) OuterProvider_->DescribeProvider(Indent + 1, Lines);
  if (InnerProvider_ != nullptr) InnerProvider_->DescribeProvider(Indent + 1, Lines);
}

// ---------------------------------------------------------------------------

TZelJoinDataProviderMgr::TZelJoinDataProviderMgr()
    : Evaluator_(std::make_unique<TExprEvaluator>()),
      DBInterface_(std::make_unique<TZelDataProviderDBInterface>(nullptr)) {
  SetDBStringCompare(AnsiCompare);
}

TZelJoinDataProviderMgr::~TZelJoinDataProviderMgr() { Clear(); }

void TZelJoinDataProviderMgr::SetDatabase(TZelDataBase* Database) {
  Database_ = Database;
  DBInterface_ = std::make_unique<TZelDataProviderDBInterface>(Database);
}

void TZelJoinDataProviderMgr::SetDBStringCompare(TZelDBStringCompare Routine) {
  DBStringCompare_ = Routine;
  Evaluator_->SetDBStringCompare(std::move(Routine));
}

TZelNonJoinDataProvider* TZelJoinDataProviderMgr::GetNonJoinProvider(
    const std::string& TableName, const std::string& CorrelationName, bool Memory) {
  PLAT_ASSERT(Database_ != nullptr, "zelJoinDataProviderUnit: Database is not assigned");
  PLAT_ASSERT(DBInterface_ != nullptr,
              "zelJoinDataProviderUnit: Provider DB Interface is not assigned");
  auto provider = std::make_unique<TZelNonJoinDataProvider>(DBInterface_.get());
  auto bridge = std::make_unique<TZelDatasetBridge>();
  provider->SetDataBridge(bridge.get());
  bridge->SetDataBase(Database_);
  bridge->SetMemory(Memory);
  provider->SetDBStringCompare(DBStringCompare_);
  provider->SetProviderName(TableName);
  provider->SetCorrelationName(CorrelationName);
  provider->SetJoinType(jtInnerJoin);
  TZelNonJoinDataProvider* result = provider.get();
  NonJoinProviders_.push_back(std::move(provider));
  Bridges_.push_back(std::move(bridge));
  return result;
}

TZelStdJoinDataProvider* TZelJoinDataProviderMgr::GetStdJoinProvider() {
  PLAT_ASSERT(Database_ != nullptr, "zelJoinDataProviderUnit: Database is not assigned");
  PLAT_ASSERT(DBInterface_ != nullptr,
              "zelJoinDataProviderUnit: Provider DB Interface is not assigned");
  auto provider = std::make_unique<TZelStdJoinDataProvider>(DBInterface_.get());
  provider->SetDBStringCompare(DBStringCompare_);
  provider->SetForcedMode(ForcedMode_);
  TZelStdJoinDataProvider* result = provider.get();
  StdJoinProviders_.push_back(std::move(provider));
  return result;
}

bool TZelJoinDataProviderMgr::OpenProviders() {
  if (RootProvider_ == nullptr) return false;
  RootProvider_->OpenProvider();
  if (dynamic_cast<TZelNonJoinDataProvider*>(RootProvider_) != nullptr)
    RootProvider_->SetSelectExpr(false, "");
  Evaluator_->Clear();
  return true;
}

bool TZelJoinDataProviderMgr::TablesOpen() const {
  return std::all_of(Bridges_.begin(), Bridges_.end(),
                     [](const auto& Bridge) { return Bridge->IsBridgeOpen(); });
}

void TZelJoinDataProviderMgr::PrepareJoinExprEvaluator(const TZelExprNode* Node) {
  if (Node != nullptr) {
    RemainingExpr_ = std::make_unique<TZelExpr>();
    RemainingExpr_->CloneFromTree(Node);
  }
  Evaluator_->Clear();
  if (RootProvider_ != nullptr && RootProvider_->IsOpen()) {
    Evaluator_->SetExcludeRelopNulls(true);
    Evaluator_->SetDBStringCompare(DBStringCompare_);
    if (RemainingExpr_ != nullptr && RemainingExpr_->FirstNode() != nullptr)
      Evaluator_->Prepare(RootProvider_, RemainingExpr_->FirstNode());
  }
}

bool TZelJoinDataProviderMgr::PassesRemaining() {
  if (!HasRemainingExpr()) return true;
  if (!Evaluator_->IsPrepared()) PrepareJoinExprEvaluator(nullptr);
  Evaluator_->Reset();
  return Evaluator_->Evaluate();
}

bool TZelJoinDataProviderMgr::FirstProviderRecord() {
  if (RootProvider_ == nullptr) return false;
  bool found = RootProvider_->FirstProviderRecord();
  while (found && !PassesRemaining()) found = RootProvider_->NextProviderRecord();
  return found;
}

bool TZelJoinDataProviderMgr::NextProviderRecord() {
  PLAT_ASSERT(RootProvider_ != nullptr, "zelJoinDataProviderUnit: Root provider is not assigned");
  bool found = RootProvider_->NextProviderRecord();
  while (found && !PassesRemaining()) found = RootProvider_->NextProviderRecord();
  return found;
}

void TZelJoinDataProviderMgr::Clear() {
  Evaluator_->Clear();
  RemainingExpr_.reset();
  RootProvider_ = nullptr;
  StdJoinProviders_.clear();
  NonJoinProviders_.clear();
  Bridges_.clear();
}

void TZelJoinDataProviderMgr::DescribePlan(plat::TStrings& Lines) const {
  if (RootProvider_ != nullptr) RootProvider_->DescribeProvider(0, Lines);
  if (RemainingExpr_ != nullptr && RemainingExpr_->FirstNode() != nullptr)
    Lines.Add("after the join: " + ZelExprText(RemainingExpr_->FirstNode()));
}

}  // namespace zel
