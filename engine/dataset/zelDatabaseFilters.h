#pragma once
// Filters of a table cursor. The filter evaluator (engine/expr) parses a
// filter text, answers what it can from the table's indexes and evaluates
// the rest; this unit supplies the table side of it:
//  - TZelExprDBDataProvider reads field values of one cursor's records;
//  - TZelDataProviderDBInterface answers IDENT_CURRENT from the database;
//  - TZelFilterEvaluator is the evaluator bound to one cursor;
//  - TFilterMgr (one per cursor) keeps the filter's result and turns it into
//    cursor moves; TPreparedFilters keeps results already computed for a
//    query.
//
// Rules the filter manager keeps:
//  1. While Active, the current filter lists the records that pass both the
//     filter text and the cursor's OnFilterRecord handler, each once, in the
//     order of the cursor's current index (in address order for a query
//     that asked for no order), with each record's number in that index.
//  2. The list is a snapshot: the cursor marks it stale whenever the table
//     changed (its own changes, or the table header's change counter moved
//     under a lock) or its order changed, and rebuilds it under a lock
//     before the next use. So a filtered view never shows a deleted record
//     or misses a new one.
//  3. A filter's record number is its position in the current filter
//     (1 .. the filter's record count); while a query is active, the
//     record's address.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/expr/zelExprEvaluator.h"
#include "engine/expr/zelFilterUnit.h"
#include "engine/storage/zelApi.h"
#include "engine/storage/zelCommonLists.h"
#include "engine/storage/zelIndexUnit.h"
#include "platform/db/DB.h"

namespace zel {

class TZelDataBase;
class TZelDataSet;

enum TSeekPosition : uint8_t { spFromStart, spFromCurrent, spFromEnd };

// The result of one filter text with its options, kept for a query.
class ZEL_API TPreparedFilter : public plat::TObject {
 public:
  TPreparedFilter(const std::string& Text, plat::TFilterOptions Options)
      : FilterText_(Text), FilterOptions_(Options) {}
  std::string ClassName() const override { return "TPreparedFilter"; }
  const std::string& FilterText() const { return FilterText_; }
  plat::TFilterOptions FilterOptions() const { return FilterOptions_; }
  TRecordAddrList& RecordList() { return RecordList_; }

 private:
  std::string FilterText_;
  plat::TFilterOptions FilterOptions_;
  TRecordAddrList RecordList_;
};

// Prepared filters keyed by their text. Texts compare exactly: a filter
// on 'abc' is not the filter on 'ABC'.
class ZEL_API TPreparedFilters : public plat::TObject {
 public:
  std::string ClassName() const override { return "TPreparedFilters"; }
  // The record list of a new entry; one with the same text and options is
  // replaced.
  TRecordAddrList& AddFilter(const std::string& Text, plat::TFilterOptions Options);
  // -1 when the text is absent or stored with other options.
  int32_t IndexOf(const std::string& Text, plat::TFilterOptions Options) const;
  TRecordAddrList& GetFilterRecordList(int32_t Index);
  int32_t Count() const { return static_cast<int32_t>(Items_.size()); }
  void Clear() { Items_.clear(); }

 private:
  std::vector<std::unique_ptr<TPreparedFilter>> Items_;
};

// What an expression asks of the database: IDENT_CURRENT(table) is the
// table's next auto-increment value.
class ZEL_API TZelDataProviderDBInterface : public TZelDataProviderBaseDBInterface {
 public:
  explicit TZelDataProviderDBInterface(TZelDataBase* Database) : Database_(Database) {}
  std::string ClassName() const override { return "TZelDataProviderDBInterface"; }
  int32_t GetCurrentGeneratorValue(const std::string& TableName) override;

 private:
  TZelDataBase* Database_;
};

// Field values of one cursor's records for the evaluator. Values are read
// from a private buffer that MoveToRecord fills, or from the cursor's
// record buffer (SetReadDataFromRecBuf).
class ZEL_API TZelExprDBDataProvider : public TZelExprDataProvider {
 public:
  explicit TZelExprDBDataProvider(TZelDataProviderBaseDBInterface* DBInterface)
      : TZelExprDataProvider(DBInterface) {}
  std::string ClassName() const override { return "TZelExprDBDataProvider"; }

  void Initialize(TZelDataSet* Table);
  plat::Variant GetDataAsVariant(int32_t FieldNo) override;
  bool IsFieldNull(int32_t FieldNo) override;
  bool GetFieldText(int32_t FieldNo, std::string_view& Text, bool& IsNull) override;
  bool GetFieldInteger(int32_t FieldNo, int64_t& Value, bool& IsNull) override;
  // The cursor's records in its current order (its master record list); the
  // list is kept as the master list.
  void GetDefaultRecordList(TCompoundList& List) override;
  void Open() override;
  void Refresh() override;
  bool MoveToRecord(void* RecAddr) override;
  // The table's scan, each record read where the scan holds it; false while
  // a range is on (the range's records are the candidates).
  bool ScanRecords(const std::function<void(void* RecAddr)>& Visit) override;
  TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name) override;
  bool PassFilterEvent(void* RecAddr) override;

  TIndexManager* GetIndexMgr() const;
  void CopyFilterBufFromRecBuf();
  void SetReadDataFromRecBuf(bool Value) { ReadDataFromRecBuf_ = Value; }
  // The last master list: record addresses and their numbers in the order.
  const std::vector<std::pair<uint32_t, int32_t>>& MasterList() const { return MasterList_; }
  void ClearMasterList() { MasterList_.clear(); }
  TZelDataSet* Table() const { return Table_; }

 private:
  TZelDataSet& CheckTable() const;
  const uint8_t* DataBuffer() const;
  // The cursor's field of a provider field number.
  const TInternalFieldItem& Field(int32_t FieldNo) const;
  // The cursor's internal field number of a provider field number.
  int32_t InternalFieldNo(int32_t FieldNo) const { return FieldNo - 1; }
  // The field as the running scan resolved it; null outside a scan.
  const TInternalFieldItem* ScannedField(int32_t FieldNo) const {
    const auto i = static_cast<size_t>(InternalFieldNo(FieldNo));
    return Scanned_ != nullptr && i < ScannedFields_.size() ? ScannedFields_[i] : nullptr;
  }

  TZelDataSet* Table_ = nullptr;
  std::vector<uint8_t> Buffer_;
  bool ReadDataFromRecBuf_ = false;
  // The record a scan stands on, read in place; null outside a scan.
  const uint8_t* Scanned_ = nullptr;
  // The cursor's fields by internal number while a scan runs, looked up once
  // for the scan rather than once per record read; empty outside a scan.
  std::vector<const TInternalFieldItem*> ScannedFields_;
  std::vector<std::pair<uint32_t, int32_t>> MasterList_;
};

// The filter evaluator bound to one cursor: its provider, its database
// interface, the one-table list the parser checks names against, and every
// open index of the cursor offered to the optimizer.
class ZEL_API TZelFilterEvaluator : public TZelBaseFilterEvaluator {
 public:
  explicit TZelFilterEvaluator(TZelDataSet& Table);
  ~TZelFilterEvaluator() override;
  std::string ClassName() const override { return "TZelFilterEvaluator"; }
  TZelExprDBDataProvider& DataProvider() { return *Provider_; }
  // Whether it was made for Table as the cursor stands: the same layout and
  // the same open indexes offered.
  bool Serves(TZelDataSet& Table);

 private:
  std::unique_ptr<TZelDataProviderDBInterface> DBInterface_;
  std::unique_ptr<TZelExprDBDataProvider> Provider_;
  std::unique_ptr<TTableList> Tables_;
};

class ZEL_API TFilterMgr : public plat::TObject {
 public:
  TFilterMgr();
  ~TFilterMgr() override;
  TFilterMgr(const TFilterMgr&) = delete;
  TFilterMgr& operator=(const TFilterMgr&) = delete;
  std::string ClassName() const override { return "TFilterMgr"; }

  // A new evaluator for Table's filter text and options; false (with
  // ErrorText) when the text does not parse. An empty text passes every
  // record (the OnFilterRecord handler alone decides).
  bool OpenFilter(TZelDataSet& Table);
  // Applies the driver's expression: alone (OverwriteExpr, or no filter
  // open) or joined with the open filter's under AND. With AssessExprOnly
  // the driver only learns what the expression allows.
  bool AssignExpr(TZelDataSet& Table, TZelFilterExprDriver& Driver);
  // Drops the evaluator and the current filter.
  void CloseFilter();
  // Evaluates the open filter again (rule 2) and drops the prepared filters.
  void ResetFilter();

  bool Active() const { return Active_; }
  const std::string& ErrorText() const { return ErrorText_; }
  const std::string& FilterText() const { return FilterText_; }
  void SetFilterText(const std::string& Value) { FilterText_ = Value; }
  plat::TFilterOptions FilterOptions() const { return FilterOptions_; }
  void SetFilterOptions(plat::TFilterOptions Value) { FilterOptions_ = Value; }
  bool Ordered() const { return Ordered_; }
  void SetOrdered(bool Value) { Ordered_ = Value; }
  bool QueryActive() const { return QueryActive_; }
  void SetQueryActive(bool Value);
  bool ExcludeRelopNulls() const { return ExcludeRelopNulls_; }
  void SetExcludeRelopNulls(bool Value) { ExcludeRelopNulls_ = Value; }
  TPreparedFilters& PreparedFilters() { return PreparedFilters_; }

  // Rule 2: the cursor marks the list stale; ResetFilter clears the mark.
  bool Stale() const { return Stale_; }
  void MarkStale() { Stale_ = true; }

  // Moves within the current filter; 0 when there is no such record.
  uint32_t MoveBy(uint32_t RecAddr, int32_t Distance) const;
  uint32_t MoveToEnd(bool First) const;
  // RecAddr itself when it is in the filter, else the nearest filter record
  // after (Forward) or before the index position IndexRecNo; 0 for none.
  uint32_t FindNearest(uint32_t RecAddr, int32_t IndexRecNo, bool Forward) const;
  // The record at Position (1-based) of the current filter, 0 when none.
  uint32_t RecordAt(int32_t Position) const;
  int32_t GetRecNo(uint32_t RecAddr) const;
  bool CheckRecordInFilter(uint32_t RecAddr) const;
  int32_t GetFilterRecordCount() const;
  const std::vector<uint32_t>& GetCurrentFilterList() const { return Current_; }
  TZelFilterEvaluator* Evaluator() const { return Evaluator_.get(); }
  TZelExprDBDataProvider& GetDataProvider() const;
  // The cursor's records in its order at the last evaluation, with their
  // record numbers (empty where a query listed by address).
  const std::vector<std::pair<uint32_t, int32_t>>& GetMasterList() const {
    return GetDataProvider().MasterList();
  }
  int32_t GetBaseRecNo() const;
  void RefreshDataProvider();

 private:
  // Runs the evaluator (with Driver's expression when given, else the
  // expression it holds; without an expression the master list passes),
  // then builds the current filter (rule 1).
  bool Evaluate(TZelFilterExprDriver* Driver);
  void BuildCurrentFilter(TZelDataSet& Table, const std::vector<uint32_t>& Passed);
  void ClearCurrentFilter();
  int32_t PositionOf(uint32_t RecAddr) const;

  bool Active_ = false;
  bool Stale_ = false;
  bool HasExpr_ = false;
  // The expression came (at least in part) from a driver: evaluated again
  // from the accumulated expression rather than from the text.
  bool FromDriver_ = false;
  // What the evaluator was asked for: output in the index's order.
  bool SortedOutput_ = false;
  std::string FilterText_;
  plat::TFilterOptions FilterOptions_;
  bool Ordered_ = false;
  bool QueryActive_ = false;
  bool ExcludeRelopNulls_ = false;
  std::string ErrorText_;
  TPreparedFilters PreparedFilters_;
  std::unique_ptr<TZelFilterEvaluator> Evaluator_;
  // Rule 1: the records, their numbers in the index (0 when listed by
  // address) and each address's position.
  std::vector<uint32_t> Current_;
  std::vector<int32_t> CurrentIndexRecNo_;
  mutable std::unordered_map<uint32_t, int32_t> Positions_;
  mutable bool PositionsMade_ = true;
};

}  // namespace zel
