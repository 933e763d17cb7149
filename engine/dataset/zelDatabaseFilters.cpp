// Filters of a table cursor: the filter manager, the data provider over a
// cursor's records, and the cursor's and the dataset protocol's filter
// operations.
#include "engine/dataset/zelDatabaseFilters.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

bool BlankText(const std::string& Text) {
  return std::all_of(Text.begin(), Text.end(),
                     [](char C) { return C == ' ' || C == '\t' || C == '\r' || C == '\n'; });
}

// Applies a changed filter of a filtered table. One that cannot be applied
// leaves the table unfiltered, and says so (Filtered False), rather than
// showing every row while claiming a filter.
void ReapplyFilter(TZelBaseTable& Table) {
  try {
    Table.InternalSetFilter();
  } catch (...) {
    Table.plat::TDataSet::SetFiltered(false);
    throw;
  }
  Table.First();
}

}  // namespace

// ---------------------------------------------------------------- prepared filters

TRecordAddrList& TPreparedFilters::AddFilter(const std::string& Text, plat::TFilterOptions Options) {
  auto entry = std::make_unique<TPreparedFilter>(Text, Options);
  TRecordAddrList& list = entry->RecordList();
  const auto same = std::find_if(Items_.begin(), Items_.end(), [&](const auto& Item) {
    return Item->FilterText() == Text && Item->FilterOptions() == Options;
  });
  if (same != Items_.end())
    *same = std::move(entry);
  else
    Items_.push_back(std::move(entry));
  return list;
}

int32_t TPreparedFilters::IndexOf(const std::string& Text, plat::TFilterOptions Options) const {
  for (size_t i = 0; i < Items_.size(); ++i)
    if (Items_[i]->FilterText() == Text)
      return Items_[i]->FilterOptions() == Options ? static_cast<int32_t>(i) : -1;
  return -1;
}

TRecordAddrList& TPreparedFilters::GetFilterRecordList(int32_t Index) {
  return Items_.at(static_cast<size_t>(Index))->RecordList();
}

// ---------------------------------------------------------------- database interface

int32_t TZelDataProviderDBInterface::GetCurrentGeneratorValue(const std::string& TableName) {
  if (Database_ == nullptr) return TZelDataProviderBaseDBInterface::GetCurrentGeneratorValue(TableName);
  TZelTable table;
  table.SetDataBase(Database_);
  table.SetTableName(TableName);
  table.SetMemory(Database_->IsMemoryDatabase() || !table.GetExists());
  table.DataSetOpen();
  const int32_t value = table.DatasetGetNextAutoIncValue();
  table.DataSetClose();
  return value;
}

// ---------------------------------------------------------------- data provider

TZelDataSet& TZelExprDBDataProvider::CheckTable() const {
  PLAT_ASSERT(Table_ != nullptr, "ExprDBDataProvider - source table is not assigned");
  return *Table_;
}

void TZelExprDBDataProvider::Initialize(TZelDataSet* Table) {
  Table_ = Table;
  TZelDataSet& table = CheckTable();
  // The cursor's layout; field numbers are positions in it (1-based).
  TInternalFields& fields = *GetProviderFields();
  fields.Assign(&table.TableDef().InternalFields());
  fields.SetDefaultOffsets();
  fields.Open();
  for (int32_t i = 0; i < fields.Count(); ++i) fields.GetIndex(i)->SetFieldNo(i + 1);
  Refresh();
}

void TZelExprDBDataProvider::Open() {
  TZelExprDataProvider::Open();
  Refresh();
}

void TZelExprDBDataProvider::Refresh() {
  TZelDataSet& table = CheckTable();
  const bool ascii = table.TableDef().SortOrder() == soASCII;
  SetDBStringCompare([ascii](const char* A, const char* B, int32_t LengthA, int32_t LengthB,
                             bool Partial, bool CaseInsensitive) {
    return ascii ? DBASCIICompareStrings(A, B, LengthA, LengthB, CaseInsensitive, Partial)
                 : DBANSICompareStrings(A, B, LengthA, LengthB, CaseInsensitive, Partial);
  });
  SetHasPassFilterEvent(table.HasFilterEvent());
  Buffer_.assign(static_cast<size_t>(table.RecordBufferSize()), 0);
}

const uint8_t* TZelExprDBDataProvider::DataBuffer() const {
  if (Scanned_ != nullptr) return Scanned_;
  return ReadDataFromRecBuf_ ? CheckTable().RecordBuffer() : Buffer_.data();
}

const TInternalFieldItem& TZelExprDBDataProvider::Field(int32_t FieldNo) const {
  if (const TInternalFieldItem* field = ScannedField(FieldNo)) return *field;
  return *CheckTable().GetInternalField(InternalFieldNo(FieldNo));
}

plat::Variant TZelExprDBDataProvider::GetDataAsVariant(int32_t FieldNo) {
  TZelDataSet& table = CheckTable();
  const int32_t fieldNo = InternalFieldNo(FieldNo);
  const TInternalFieldItem& field = Field(FieldNo);
  const plat::TFieldType type = field.DataType();
  if (type == plat::ftMemo || type == plat::ftFmtMemo) {
    plat::TMemoryStream text;
    bool isNull = true;
    table.DataSetGetFieldStreamFromRecBuf(DataBuffer(), fieldNo, text, isNull);
    if (isNull) return plat::Variant::MakeNull();
    if (text.Size() == 0) return plat::Variant(std::string());
    return plat::Variant(std::string(static_cast<const char*>(text.Memory()),
                                     static_cast<size_t>(text.Size())));
  }
  return table.DataSetGetFieldDataFromRecBufAsVariant(DataBuffer(), field);
}

bool TZelExprDBDataProvider::IsFieldNull(int32_t FieldNo) {
  return CheckTable().GetIsFieldNullFromRecBuf(DataBuffer(), InternalFieldNo(FieldNo));
}

bool TZelExprDBDataProvider::GetFieldText(int32_t FieldNo, std::string_view& Text, bool& IsNull) {
  return CheckTable().DataSetGetFieldTextFromRecBuf(DataBuffer(), Field(FieldNo), Text, IsNull);
}

bool TZelExprDBDataProvider::GetFieldInteger(int32_t FieldNo, int64_t& Value, bool& IsNull) {
  // A scan's condition reads each record this way: the shortest path.
  if (const TInternalFieldItem* field = ScannedField(FieldNo))
    return Table_->DataSetGetFieldIntegerFromRecBuf(Scanned_, *field, Value, IsNull);
  return CheckTable().DataSetGetFieldIntegerFromRecBuf(DataBuffer(), Field(FieldNo), Value, IsNull);
}

void TZelExprDBDataProvider::GetDefaultRecordList(TCompoundList& List) {
  TCompoundList master;
  CheckTable().InternalPrepareMasterRecordList(master);
  MasterList_.clear();
  MasterList_.reserve(static_cast<size_t>(master.Count()));
  for (int32_t i = 0; i < master.Count(); ++i) {
    void* addr = master.List1().Items(i);
    void* recNo = master.List2().Items(i);
    MasterList_.emplace_back(static_cast<uint32_t>(ListEntryToInt(addr)), ListEntryToInt(recNo));
    List.Add(addr, recNo);
  }
  SetBaseRecNo(MasterList_.empty() ? 0 : MasterList_.front().second);
}

bool TZelExprDBDataProvider::MoveToRecord(void* RecAddr) {
  CheckTable().ReadRecordBuffer(static_cast<uint32_t>(ListEntryToInt(RecAddr)), Buffer_.data());
  return true;
}

bool TZelExprDBDataProvider::ScanRecords(const std::function<void(void* RecAddr)>& Visit) {
  TZelDataSet& table = CheckTable();
  if (table.RangeOn() || ReadDataFromRecBuf_) return false;
  struct TStandDown {
    const uint8_t*& Scanned;
    std::vector<const TInternalFieldItem*>& Fields;
    ~TStandDown() {
      Scanned = nullptr;
      Fields.clear();
    }
  } standDown{Scanned_, ScannedFields_};
  ScannedFields_.clear();
  for (int32_t i = 0; i < table.GetInternalFieldCount(); ++i)
    ScannedFields_.push_back(table.GetInternalField(i));
  table.ScanRecords([&](uint32_t RecAddr, const uint8_t* Record) {
    Scanned_ = Record;
    Visit(IntToListEntry(static_cast<int32_t>(RecAddr)));
  });
  return true;
}

TInternalFieldItem* TZelExprDBDataProvider::FindField(const TParserToken*, const std::string& Name) {
  return GetProviderFields()->FindField(Name);
}

bool TZelExprDBDataProvider::PassFilterEvent(void* RecAddr) {
  return CheckTable().PassFilterEvent(static_cast<uint32_t>(ListEntryToInt(RecAddr)));
}

TIndexManager* TZelExprDBDataProvider::GetIndexMgr() const { return &CheckTable().IndexManager(); }

void TZelExprDBDataProvider::CopyFilterBufFromRecBuf() {
  TZelDataSet& table = CheckTable();
  std::memcpy(Buffer_.data(), table.RecordBuffer(),
              std::min(Buffer_.size(), static_cast<size_t>(table.RecordBufferSize())));
}

// ---------------------------------------------------------------- evaluator

TZelFilterEvaluator::TZelFilterEvaluator(TZelDataSet& Table)
    : DBInterface_(std::make_unique<TZelDataProviderDBInterface>(Table.DataBase())),
      Provider_(std::make_unique<TZelExprDBDataProvider>(DBInterface_.get())),
      Tables_(std::make_unique<TTableList>()) {
  Provider_->Initialize(&Table);
  SetDataProvider(Provider_.get());
  TTableNameItem* item = Tables_->Add();
  item->SetTableName(Table.TableName());
  item->TableFields()->Assign(Provider_->GetProviderFields());
  item->SetSourceDataset(&Table);
  SetTables(Tables_.get());
  TIndexManager& indexes = Table.IndexManager();
  for (int32_t i = 0; i < indexes.Count(); ++i) IndexQueryMgr()->Add(indexes.Items(i));
}

bool TZelFilterEvaluator::Serves(TZelDataSet& Table) {
  if (Provider_->Table() != &Table ||
      Provider_->GetProviderFields()->Count() != Table.TableDef().InternalFields().Count())
    return false;
  TIndexManager& indexes = Table.IndexManager();
  const TIndexQueryMgr& offered = *IndexQueryMgr();
  if (offered.Count() != indexes.Count()) return false;
  for (int32_t i = 0; i < indexes.Count(); ++i)
    if (offered.Items(i)->IndexInterface()->Index() != indexes.Items(i)) return false;
  return true;
}

TZelFilterEvaluator::~TZelFilterEvaluator() {
  // The base outlives the provider and the table list it points at.
  Close();
  SetDataProvider(nullptr);
  SetTables(nullptr);
}

// ---------------------------------------------------------------- filter manager

TFilterMgr::TFilterMgr() = default;
TFilterMgr::~TFilterMgr() = default;

void TFilterMgr::SetQueryActive(bool Value) {
  QueryActive_ = Value;
  if (!Value) PreparedFilters_.Clear();
}

bool TFilterMgr::OpenFilter(TZelDataSet& Table) {
  CloseFilter();
  ErrorText_.clear();
  Evaluator_ = std::make_unique<TZelFilterEvaluator>(Table);
  FromDriver_ = false;
  HasExpr_ = !BlankText(FilterText_);
  Evaluator_->SetFilterText(FilterText_);
  Evaluator_->SetFilterOptions(FilterOptions_);
  SortedOutput_ = Ordered_;
  Evaluator_->SetSortedOutput(SortedOutput_);
  Evaluator_->SetExcludeRelopNulls(ExcludeRelopNulls_);
  Evaluator_->SetQueryActive(QueryActive_);
  Active_ = Evaluate(nullptr);
  return Active_;
}

bool TFilterMgr::AssignExpr(TZelDataSet& Table, TZelFilterExprDriver& Driver) {
  ErrorText_.clear();
  if (Driver.AssessExprOnly()) {
    // Assessing changes nothing the cursor shows: a probe takes the open
    // filter's expression (unless replaced) and the driver's.
    TZelFilterEvaluator probe(Table);
    probe.SetFilterOptions(FilterOptions_);
    probe.SetQueryActive(QueryActive_);
    if (Evaluator_ != nullptr && Active_ && HasExpr_ && !Driver.OverwriteExpr()) {
      TZelFilterExprDriver open;
      open.SetFilterExpr(Evaluator_->GetFilterExpr());
      open.SetOverwriteExpr(true);
      open.SetAssessExprOnly(true);
      probe.AssignExpr(open, zeoAND);
    }
    probe.AssignExpr(Driver, zeoAND);
    return Active_;
  }
  // Joining with the open filter needs its evaluator, which holds the
  // accumulated expression. An expression that replaces the filter takes
  // the open evaluator when it was made for the cursor as it stands (a
  // kept statement's next run); anything else starts afresh.
  if (Evaluator_ != nullptr && Active_ && Driver.OverwriteExpr() && Evaluator_->Serves(Table)) {
    Active_ = false;
    Stale_ = false;
    ClearCurrentFilter();
    Evaluator_->SetFilterText("");
    Evaluator_->SetFilterOptions(FilterOptions_);
    Evaluator_->SetQueryActive(QueryActive_);
    HasExpr_ = false;
  } else if (Evaluator_ == nullptr || Driver.OverwriteExpr() || !Active_) {
    CloseFilter();
    Evaluator_ = std::make_unique<TZelFilterEvaluator>(Table);
    Evaluator_->SetFilterOptions(FilterOptions_);
    Evaluator_->SetQueryActive(QueryActive_);
    HasExpr_ = false;
  }
  SortedOutput_ = Driver.EnforceExprOrder();
  Evaluator_->SetSortedOutput(SortedOutput_);
  Evaluator_->SetExcludeRelopNulls(Driver.ExcludeRelopNulls());
  FromDriver_ = true;
  HasExpr_ = Driver.FilterExpr() != nullptr || HasExpr_;
  Active_ = Evaluate(&Driver);
  return Active_;
}

void TFilterMgr::CloseFilter() {
  // The evaluator holds the cursor's indexes, which may close after this.
  Evaluator_.reset();
  Active_ = false;
  Stale_ = false;
  ClearCurrentFilter();
}

void TFilterMgr::ClearCurrentFilter() {
  Current_.clear();
  CurrentIndexRecNo_.clear();
  Positions_.clear();
}

void TFilterMgr::ResetFilter() {
  PreparedFilters_.Clear();
  if (Evaluator_ == nullptr || !Active_) return;
  Active_ = Evaluate(nullptr);
}

bool TFilterMgr::Evaluate(TZelFilterExprDriver* Driver) {
  TZelExprDBDataProvider& provider = Evaluator_->DataProvider();
  TZelDataSet& table = *provider.Table();
  provider.ClearMasterList();
  std::vector<uint32_t> passed;
  const auto output = [&] {
    passed.reserve(static_cast<size_t>(Evaluator_->GetRecordCount()));
    for (int32_t i = 0; i < Evaluator_->GetRecordCount(); ++i)
      passed.push_back(static_cast<uint32_t>(ListEntryToInt(Evaluator_->Output(i))));
  };
  if (!HasExpr_) {
    provider.Open();
    TCompoundList all;
    provider.GetDefaultRecordList(all);
    for (int32_t i = 0; i < all.Count(); ++i)
      passed.push_back(static_cast<uint32_t>(ListEntryToInt(all.Items(i))));
  } else if (Driver != nullptr || FromDriver_) {
    // Evaluated again from the accumulated expression, so that the index
    // answers are read afresh.
    TZelFilterExprDriver again;
    if (Driver == nullptr) {
      again.SetFilterExpr(Evaluator_->GetFilterExpr());
      again.SetOverwriteExpr(true);
      again.SetExcludeRelopNulls(ExcludeRelopNulls_);
      Driver = &again;
    }
    provider.Open();
    Evaluator_->AssignExpr(*Driver, zeoAND);
    output();
  } else {
    if (!Evaluator_->Open()) {
      ErrorText_ = Evaluator_->GetErrors();
      return false;
    }
    output();
  }
  BuildCurrentFilter(table, passed);
  Stale_ = false;
  return true;
}

void TFilterMgr::BuildCurrentFilter(TZelDataSet& Table, const std::vector<uint32_t>& Passed) {
  ClearCurrentFilter();
  // Record numbers only where the list follows the index (not for a query
  // that takes its rows in address order).
  std::unordered_map<uint32_t, int32_t> recNos;
  if (!HasExpr_ || !QueryActive_ || SortedOutput_)
    for (const auto& [addr, recNo] : Evaluator_->DataProvider().MasterList())
      recNos.emplace(addr, recNo);
  const bool event = Table.HasFilterEvent();
  // Addresses in ascending order hold no repeats: their positions are made
  // only when first asked for (a statement that takes the whole list never
  // asks).
  const bool ascending =
      std::adjacent_find(Passed.begin(), Passed.end(), std::greater_equal<uint32_t>()) == Passed.end();
  for (uint32_t addr : Passed) {
    if (!ascending && Positions_.count(addr) != 0) continue;
    if (event && !Table.PassFilterEvent(addr)) continue;
    const auto recNo = recNos.find(addr);
    if (!ascending) Positions_.emplace(addr, static_cast<int32_t>(Current_.size()));
    Current_.push_back(addr);
    CurrentIndexRecNo_.push_back(recNo != recNos.end() ? recNo->second : 0);
  }
  PositionsMade_ = !ascending;
}

int32_t TFilterMgr::PositionOf(uint32_t RecAddr) const {
  if (!PositionsMade_) {
    Positions_.reserve(Current_.size());
    for (size_t i = 0; i < Current_.size(); ++i) Positions_.emplace(Current_[i], static_cast<int32_t>(i));
    PositionsMade_ = true;
  }
  const auto it = Positions_.find(RecAddr);
  return it == Positions_.end() ? -1 : it->second;
}

uint32_t TFilterMgr::RecordAt(int32_t Position) const {
  if (Position < 1 || Position > static_cast<int32_t>(Current_.size())) return 0;
  return Current_[static_cast<size_t>(Position - 1)];
}

uint32_t TFilterMgr::MoveBy(uint32_t RecAddr, int32_t Distance) const {
  const int32_t pos = PositionOf(RecAddr);
  if (pos < 0) return 0;
  return RecordAt(pos + 1 + Distance);
}

uint32_t TFilterMgr::MoveToEnd(bool First) const {
  if (Current_.empty()) return 0;
  return First ? Current_.front() : Current_.back();
}

uint32_t TFilterMgr::FindNearest(uint32_t RecAddr, int32_t IndexRecNo, bool Forward) const {
  if (RecAddr != 0 && PositionOf(RecAddr) >= 0) return RecAddr;
  if (Current_.empty()) return 0;
  if (CurrentIndexRecNo_.front() == 0)
    ZelDatabaseError(0x2185, "TFilterMgr.FindNearest", "Error in filter find nearest in active query");
  // The current filter follows the index, so its record numbers ascend.
  if (Forward) {
    const auto it = std::lower_bound(CurrentIndexRecNo_.begin(), CurrentIndexRecNo_.end(), IndexRecNo);
    return it == CurrentIndexRecNo_.end() ? 0 : Current_[static_cast<size_t>(it - CurrentIndexRecNo_.begin())];
  }
  const auto it = std::upper_bound(CurrentIndexRecNo_.begin(), CurrentIndexRecNo_.end(), IndexRecNo);
  return it == CurrentIndexRecNo_.begin()
             ? 0
             : Current_[static_cast<size_t>(it - CurrentIndexRecNo_.begin()) - 1];
}

int32_t TFilterMgr::GetRecNo(uint32_t RecAddr) const {
  if (QueryActive_) return static_cast<int32_t>(RecAddr);
  return PositionOf(RecAddr) + 1;
}

bool TFilterMgr::CheckRecordInFilter(uint32_t RecAddr) const {
  return Active_ && PositionOf(RecAddr) >= 0;
}

int32_t TFilterMgr::GetFilterRecordCount() const {
  return Active_ ? static_cast<int32_t>(Current_.size()) : 0;
}

TZelExprDBDataProvider& TFilterMgr::GetDataProvider() const {
  PLAT_ASSERT(Evaluator_ != nullptr, "ExprFilter is not assigned");
  return Evaluator_->DataProvider();
}

int32_t TFilterMgr::GetBaseRecNo() const { return GetDataProvider().BaseRecNo(); }

void TFilterMgr::RefreshDataProvider() { GetDataProvider().Refresh(); }

// ---------------------------------------------------------------- the cursor's filter

bool TZelDataSet::FilterActive() const { return FilterMgr_->Active(); }

void TZelDataSet::InvalidateFilter() {
  if (FilterMgr_->Active()) FilterMgr_->MarkStale();
}

bool TZelDataSet::HasFilterEvent() const {
  return FilterEventHandler_ != nullptr && OnFilterRecord() != nullptr;
}

bool TZelDataSet::PassFilterEvent(uint32_t RecAddr) {
  if (FilterEventHandler_ == nullptr) return true;
  FilterRecBuf_.assign(static_cast<size_t>(RecordBufferSize()), 0);
  ReadRecordBuffer(RecAddr, FilterRecBuf_.data());
  SetRecordTrailer(FilterRecBuf_.data(), RecAddr, 0);
  return FilterEventHandler_(FilterRecBuf_.data());
}

bool TZelDataSet::RecordInFilter(uint32_t RecAddr) const {
  return !FilterActive() || FilterMgr_->CheckRecordInFilter(RecAddr);
}

void TZelDataSet::RefreshFilterIfStale() {
  if (FilterMgr_->Active() && FilterMgr_->Stale()) FilterMgr_->ResetFilter();
}

void TZelDataSet::InternalCheckFilterStatus(bool, plat::TUpdateStatus) {
  // Rebuilt before its next use, under that use's lock (never in the middle
  // of the change, whose record buffer and index positions it would move).
  InvalidateFilter();
}

void TZelDataSet::InternalPrepareMasterRecordList(TCompoundList& List) {
  CheckInternalActive();
  TCursorLock lock(*this, false);
  TIndexItem* index = CurrentIndex();
  if (!RangeOn()) {
    if (!index->BTree().SetCursorToEnd(true)) return;
    index->ListMatchingRecords(index->GetTempKeyBuffer(), 0, stGE, 0, List);
    return;
  }
  // The records of the range, from its start to its end.
  const int32_t first = GetRangeEndRecNo(rmRangeStart);
  const int32_t last = GetRangeEndRecNo(rmRangeEnd);
  if (first == 0 || last < first) return;
  const uint32_t stop = index->SetRecordNo(last);
  if (stop == 0 || index->SetRecordNo(first) == 0) return;
  index->ListMatchingRecords(index->GetTempKeyBuffer(), 0, stGE, stop, List);
}

void TZelDataSet::ScanRecords(const TRecordVisitor& Visit) {
  CheckInternalActive();
  TCursorLock lock(*this, false);
  TBaseIOInterface& store = *TableDef_->RecordInterface();
  const uint32_t owner = store.OwnerFlag();
  const auto size = static_cast<uint32_t>(RecordSize_);
  std::vector<uint32_t> blocks;
  store.ListBlocks(blocks);
  // A disk store's blocks lie back to back within each run of pages it
  // took: such neighbours are read in one transfer of at most about 64 KB.
  const bool contiguous = store.IOMode() == iomDiskFixedSize && store.BlockSize() == size;
  const size_t most = contiguous ? std::max<size_t>(1, 65536 / size) : 1;
  std::vector<uint8_t> run(most * size);
  for (size_t k = 0; k < blocks.size();) {
    size_t n = 1;
    while (n < most && k + n < blocks.size() && blocks[k + n] == blocks[k + n - 1] + size) ++n;
    RecordMgr_->ReadRecords(blocks[k], static_cast<int32_t>(n), run.data());
    for (size_t i = 0; i < n; ++i) {
      const uint8_t* rec = run.data() + i * size;
      // Released blocks (zero in front) and blocks of other owners are no records.
      if (rec[rpInUse] == 1 && ix::LoadU32(rec + rpOwnerCode) == owner) Visit(blocks[k + i], rec);
    }
    k += n;
  }
}

void TZelDataSet::ReadFilterRecords(
    const std::function<void(uint32_t RecAddr, int32_t RecNo, const uint8_t* Record)>& Visit) {
  CheckInternalActive();
  TCursorLock lock(*this, false);
  RefreshFilterIfStale();
  std::vector<uint8_t> record(static_cast<size_t>(RecordSize_));
  for (int32_t pos = 1;; ++pos) {
    const uint32_t addr = FilterMgr_->RecordAt(pos);
    if (addr == 0) break;
    RecordMgr_->ReadRecord(addr, record.data(), false);
    Visit(addr, FilterMgr_->GetRecNo(addr), record.data());
  }
}

void TZelDataSet::LoadFilterRecord(uint32_t RecAddr) {
  RecordMgr_->ReadRecord(RecAddr, RecBuf_.data(), true);
  SetRecordTrailer(RecBuf_.data(), RecAddr, FilterMgr_->GetRecNo(RecAddr));
  CurrentRecordFlag_ = true;
}

uint32_t TZelDataSet::NearestFilterRecord(bool Forward) {
  const uint32_t addr = BufferRecAddr(RecBuf_.data(), RecordSize_);
  if (FilterMgr_->CheckRecordInFilter(addr)) return addr;
  if (RecBuf_[rpInUse] == 0) return FilterMgr_->MoveToEnd(Forward);
  TIndexItem* index = CurrentIndex();
  index->CreateKeyBuffer(RecBuf_.data());
  if (index->FullIndexSearch(Forward ? stGE : stLE) != 0) return 0;
  return FilterMgr_->FindNearest(0, index->GetRecordNo(), Forward);
}

bool TZelDataSet::MoveToFilterRecord(const std::function<uint32_t()>& Choose) {
  CheckInternalActive();
  TCursorLock lock(*this, false);
  RefreshFilterIfStale();
  const uint32_t addr = Choose();
  if (addr == 0) return false;
  LoadFilterRecord(addr);
  return true;
}

bool TZelDataSet::InternalMoveToFilterRecord(TSeekPosition Position, int32_t Offset) {
  return MoveToFilterRecord([&]() -> uint32_t {
    switch (Position) {
      case spFromStart:
        return FilterMgr_->MoveToEnd(true);
      case spFromEnd:
        return FilterMgr_->MoveToEnd(false);
      case spFromCurrent:
        break;
    }
    const uint32_t current = BufferRecAddr(RecBuf_.data(), RecordSize_);
    if (!CurrentRecordFlag_ && RecBuf_[rpInUse] == 0) return FilterMgr_->MoveToEnd(Offset >= 0);
    if (FilterMgr_->CheckRecordInFilter(current)) return FilterMgr_->MoveBy(current, Offset);
    return NearestFilterRecord(Offset >= 0);
  });
}

bool TZelDataSet::FindInFilter(TIndexSearchType SearchType, const std::string& IndexName,
                               const TSearchModifier& Modifier) {
  CheckInternalActive();
  TCursorLock lock(*this, false);
  RefreshFilterIfStale();
  if (!InternalFind(SearchType, IndexName, Modifier)) return false;
  uint32_t addr = BufferRecAddr(RecBuf_.data(), RecordSize_);
  if (!FilterMgr_->CheckRecordInFilter(addr)) {
    if (SearchType == stEQ) return false;
    const bool forward = SearchType == stGE || SearchType == stGT || SearchType == stLEG;
    addr = NearestFilterRecord(forward);
    if (addr == 0 && SearchType == stLEG) addr = NearestFilterRecord(false);
    if (addr == 0) return false;
  }
  return SetToRecord(addr, nullptr, true, false);
}

bool TZelDataSet::FilterCurrentRecord() {
  return MoveToFilterRecord([&]() -> uint32_t {
    const uint32_t addr = BufferRecAddr(RecBuf_.data(), RecordSize_);
    return FilterMgr_->CheckRecordInFilter(addr) ? addr : 0;
  });
}

bool TZelDataSet::FilterSetRecordNo(int32_t RecNo) {
  return MoveToFilterRecord([&] { return FilterMgr_->RecordAt(RecNo); });
}

int32_t TZelDataSet::GetFilterRecordCount() {
  CheckInternalActive();
  TCursorLock lock(*this, false);
  RefreshFilterIfStale();
  return FilterMgr_->GetFilterRecordCount();
}

void TZelDataSet::InternalSetFilter() {
  static const char* const Context = "TZelDataSet.InternalSetFilter";
  if (FilterMgr_->Active()) FilterMgr_->CloseFilter();
  if (Filter().empty() && OnFilterRecord() == nullptr) return;
  FilterMgr_->SetFilterText(Filter());
  FilterMgr_->SetFilterOptions(FilterOptions());
  TCursorLock lock(*this, false);
  if (!FilterMgr_->OpenFilter(*this)) ZelDatabaseError(0x2743, Context, FilterMgr_->ErrorText(), this);
  FilterMgr_->RefreshDataProvider();
}

void TZelDataSet::InternalClearFilter() {
  FilterMgr_->SetQueryActive(DataBase_ != nullptr && DataBase_->QueryActive_);
  FilterMgr_->CloseFilter();
}

void TZelDataSet::SetInQuery(bool Value) { FilterMgr_->SetQueryActive(Value); }

int32_t TZelDataSet::DatasetGetNextAutoIncValue() {
  CheckInternalActive();
  TCursorLock lock(*this, false);
  if (!lock.Taken()) ReadTableHeader();
  return TableDef_->TableHeader()->GetRecordAutoIncVal() + 1;
}

// ---------------------------------------------------------------- the dataset protocol's filter

bool TZelBaseTable::RecordProcFilter(const uint8_t* Buffer) {
  if (OnFilterRecord() == nullptr || FilterBuffer_ == nullptr) return true;
  plat::TTempState temp(*this, plat::dsFilter);
  std::memcpy(FilterBuffer_, Buffer, static_cast<size_t>(RecordBufferSize()));
  GetCalcFields(FilterBuffer_);
  bool accept = true;
  OnFilterRecord()(this, accept);
  return accept;
}

void TZelBaseTable::SetFiltered(bool Value) {
  if (!Active()) {
    plat::TDataSet::SetFiltered(Value);
    return;
  }
  CheckBrowseMode();
  if (Value != Filtered()) {
    if (Value)
      InternalSetFilter();
    else
      InternalClearFilter();
    plat::TDataSet::SetFiltered(Value);
  } else if (!Value) {
    InternalClearFilter();
  }
  First();
}

void TZelBaseTable::SetFilterText(const std::string& Value) {
  if (!Active() || !Filtered() || Value == Filter()) {
    plat::TDataSet::SetFilterText(Value);
    return;
  }
  CheckBrowseMode();
  plat::TDataSet::SetFilterText(Value);
  ReapplyFilter(*this);
}

void TZelBaseTable::SetFilterOptions(plat::TFilterOptions Value) {
  if (!Active() || !Filtered() || Value == FilterOptions()) {
    plat::TDataSet::SetFilterOptions(Value);
    return;
  }
  CheckBrowseMode();
  plat::TDataSet::SetFilterOptions(Value);
  ReapplyFilter(*this);
}

void TZelBaseTable::SetOnFilterRecord(const plat::TFilterRecordEvent& Value) {
  plat::TDataSet::SetOnFilterRecord(Value);
  if (!Active() || !Filtered()) return;
  CheckBrowseMode();
  ReapplyFilter(*this);
}

bool TZelBaseTable::FindRecord(bool Restart, bool GoForward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  UpdateCursorPos();
  CursorPosChanged();
  bool moved = false;
  if (Restart)
    moved = GoForward ? DataSetFirst() : DataSetLast();
  else
    moved = GoForward ? DataSetNext() : DataSetPrior();
  SetFound(moved);
  if (moved) {
    Resync({plat::rmExact, plat::rmCenter});
    DoAfterScroll();
  }
  return moved;
}

void TZelBaseTable::AssignFilterExpr(TZelFilterExprDriver& Driver) {
  TFilterMgr& filter = FilterMgr();
  filter.SetExcludeRelopNulls(Driver.ExcludeRelopNulls());
  filter.SetQueryActive(true);
  if (!Driver.OrderIndexName().empty()) InternalSetIndexName(Driver.OrderIndexName());
  TCursorLock lock(*this, false);
  filter.AssignExpr(*this, Driver);
  if (Driver.AssessExprOnly())
    Driver.SetMaximalResultSetSize(GetTotalRecordCount());
  else
    DataSetFirst();
}

}  // namespace zel
