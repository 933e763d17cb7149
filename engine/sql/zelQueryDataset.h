#pragma once
// TZelQueryDataset: the in-memory result table a SELECT writes its rows into
// (plain, DISTINCT and grouped fills, then HAVING), and the cursor through
// which INSERT, UPDATE and DELETE change a target table. The accumulators of
// the aggregate columns are TFuncResultList, TFuncResultHolder and
// TFuncResultItem.
//
// Rules the fills keep:
//  1. Every aggregate node of a column has its own accumulator, so
//     SUM(a) + SUM(b) adds two sums; a column's final value is its
//     expression with each aggregate node replaced by that node's result.
//  2. SUM, AVG, MIN and MAX over no rows, or over Nulls only, are Null;
//     COUNT is 0. AVG is a float; MIN and MAX keep the column's own type and
//     compare strings under the result's string order.
//  3. The accumulators of a group are found by the group row's record
//     address through a hash, never by a walk over the groups.
//  4. A COUNT(*) answered from a record count is used only when the row
//     source can give that count exactly (no condition left to evaluate).

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/dataset/zelDatabaseTable.h"
#include "engine/expr/zelBaseParserExpr.h"
#include "engine/expr/zelExprEvaluator.h"
#include "engine/expr/zelParserUtils.h"
#include "engine/sql/zelExecParsers.h"
#include "engine/sql/zelSelectParser.h"
#include "platform/rtl/Variants.h"

namespace zel {

class TDataHolder;
class TZelBaseJoinDataProvider;
class TZelNonJoinDataProvider;

// Names of the result table's index definitions and hidden live columns.
inline constexpr const char* ResultOrderByIndexName = "idxorderby";
inline constexpr const char* ResultGroupByIndexName = "idxgroupby";
inline constexpr const char* ResultDistinctIndexName = "idxdistinct";
inline constexpr const char* ResultRecAddrFieldName = "__RecAddr";
inline constexpr const char* ResultRecModFlagFieldName = "__RecModFlag";

// The rows a result is filled from: the plan's root row source with the
// condition that no single row source could take applied to its rows.
class TZelResultRowSource {
 public:
  virtual ~TZelResultRowSource() = default;
  // False when there is no (further) row.
  virtual bool FirstRow() = 0;
  virtual bool NextRow() = 0;
  // Computed columns and aggregate arguments are evaluated against it.
  virtual TZelExprDataProvider* RootProvider() = 0;
  // The root reads one table: the current row has a record address and a
  // modification stamp (live results, row lists of UPDATE and DELETE).
  virtual bool IsSingleTable() = 0;
  virtual uint32_t GetRecAddr() = 0;
  virtual uint32_t GetRecModFlag() = 0;
  // The number of rows the source yields, when it can tell without reading
  // them; -1 otherwise.
  virtual int32_t GetKnownRecordCount() = 0;
  // The record addresses of a single table's rows in the order FirstRow and
  // NextRow give them, when the source knows them without reading the rows;
  // false otherwise (List is then unchanged).
  virtual bool ListRecAddrs(std::vector<uint32_t>& /*List*/) { return false; }
  // The next FirstRow starts a read of every row: a source may then read
  // them all at once, in the order it would give them.
  virtual void ReadsEveryRow() {}
};

// Every record the cursor of Table gives, in its order, read at once instead
// of by a step through the index and a read per record: Rows gets each as
// the cursor holds it (the record and its trailer, RecordBufferSize bytes).
// Without a filter one scan of the record store reads them, put in the
// order of the current index by their keys; with one its list does. False
// (and no rows) where that would not give the cursor's records (a range
// without a filter, a filter handler, blobs read apart from the record),
// where two keys tie, or where the records would take too much memory.
bool ReadCursorRecords(TZelDataSet& Table, std::vector<uint8_t>& Rows);

// One column of a result: its description and where its value comes from.
class TResultSetField {
 public:
  TResultSetField();
  ~TResultSetField();
  TResultSetField(const TResultSetField&) = delete;
  TResultSetField& operator=(const TResultSetField&) = delete;

  TSelectFieldItem* SelectItem = nullptr;  // not owned
  std::string FieldName;                   // unique within the result
  plat::TFieldType DataType = plat::ftUnknown;
  int32_t FieldSize = 0;
  std::string SourceField;
  // A plain column: the provider that holds it and its field number there.
  TZelExprDataProvider* DataProvider = nullptr;
  int32_t SourceFieldNo = -1;
  // A computed column: prepared over the row source's root provider.
  std::unique_ptr<TExprEvaluator> Evaluator;
  // A constant row value (INSERT).
  plat::Variant Value;

  // The column's expression with its aggregate nodes, each fed by its own
  // accumulator (AggNodes[k] by accumulator AggSlots[k]).
  std::unique_ptr<TZelExpr> AggExpr;
  std::vector<TZelExprNode*> AggNodes;
  std::vector<std::unique_ptr<TExprEvaluator>> AggArgEvaluators;  // null for COUNT(*)
  std::vector<int32_t> AggSlots;

  bool IsAggregate() const { return SelectItem != nullptr && SelectItem->HasAggregateFunction; }
  bool IsComputed() const { return Evaluator != nullptr && Evaluator->IsPrepared(); }
  // The value of a plain or computed column in the source's current row.
  plat::Variant GetValue();
};

class TResultSetFields {
 public:
  TResultSetField* Add();
  void Clear() { Items_.clear(); }
  int32_t Count() const { return static_cast<int32_t>(Items_.size()); }
  TResultSetField* GetItems(int32_t Index) const { return Items_[Index].get(); }
  // The first column whose name, select-item name, source name or trimmed
  // expression text is Name (case-insensitive); nullptr when none.
  TResultSetField* FindResultSetField(const std::string& Name) const;
  bool ContainsAggregates() const;

 private:
  std::vector<std::unique_ptr<TResultSetField>> Items_;
};

// Orders two non-Null values of one column: numbers as numbers, dates as
// dates, strings by Compare (the result table's string order).
int32_t CompareColumnValues(const plat::Variant& A, const plat::Variant& B,
                            plat::TFieldType DataType, const TZelDBStringCompare& Compare);

// One aggregate of one group.
class TFuncResultItem {
 public:
  TFuncResultItem(TZelSQLAggFunc AggFunc, bool Distinct, bool CountStar,
                  plat::TFieldType DataType, const TZelDBStringCompare* Compare);

  void SetNewValue(const plat::Variant& Value);
  // COUNT: the count (Integer). SUM, AVG, MIN, MAX: Null without a value;
  // AVG a float, MIN and MAX the value as it came.
  plat::Variant GetResult() const;

  TZelSQLAggFunc AggFunc() const { return AggFunc_; }
  int32_t ValueCount() const { return ValueCount_; }

 private:
  bool Less(const plat::Variant& A, const plat::Variant& B) const;
  double ToFloat(const plat::Variant& Value) const;

  TZelSQLAggFunc AggFunc_;
  bool Distinct_;
  bool CountStar_;
  plat::TFieldType DataType_;
  const TZelDBStringCompare* Compare_;  // the dataset's, outlives the item
  int32_t ValueCount_ = 0;
  double Sum_ = 0;
  plat::Variant Extreme_;  // MIN and MAX
  // DISTINCT: the values seen, in the column's order.
  std::unique_ptr<std::set<plat::Variant, std::function<bool(const plat::Variant&,
                                                             const plat::Variant&)>>>
      Seen_;
};

// The aggregates of one group row.
class TFuncResultHolder {
 public:
  explicit TFuncResultHolder(uint32_t GroupAddr) : GroupAddr_(GroupAddr) {}
  uint32_t GroupAddr() const { return GroupAddr_; }
  TFuncResultItem* Add(std::unique_ptr<TFuncResultItem> Item);
  int32_t Count() const { return static_cast<int32_t>(Items_.size()); }
  TFuncResultItem* Items(int32_t Slot) const { return Items_[Slot].get(); }

 private:
  uint32_t GroupAddr_;
  std::vector<std::unique_ptr<TFuncResultItem>> Items_;
};

// The holders of every group, found by the group row's record address.
class TFuncResultList {
 public:
  TFuncResultHolder* GetHolder(uint32_t GroupAddr) const;
  TFuncResultHolder* AddHolder(uint32_t GroupAddr);
  // A new accumulator of Slot for the group (slots are added in order).
  void AddNewResultItem(uint32_t GroupAddr, int32_t Slot, TZelSQLAggFunc AggFunc, bool Distinct,
                        bool CountStar, plat::TFieldType DataType,
                        const TZelDBStringCompare* Compare);
  void SetNewValue(uint32_t GroupAddr, int32_t Slot, const plat::Variant& Value);
  plat::Variant GetFuncResult(uint32_t GroupAddr, int32_t Slot) const;
  TFuncResultItem* FindFuncResultItem(uint32_t GroupAddr, int32_t Slot) const;
  // The group addresses in the order the groups were formed.
  const std::vector<uint32_t>& GroupOrder() const { return Order_; }
  void Clear();

 private:
  std::unordered_map<uint32_t, std::unique_ptr<TFuncResultHolder>> Holders_;
  std::vector<uint32_t> Order_;
};

class TZelQueryDataset : public TZelBaseTable {
 public:
  explicit TZelQueryDataset(plat::TComponent* AOwner = nullptr);
  ~TZelQueryDataset() override;
  std::string ClassName() const override { return "TZelQueryDataset"; }

  // Creates the memory table from the field and index definitions, or
  // empties it when it was created before (Created).
  void PrepareEmptyResultSet(bool Created);
  void CreateResultSetTable();

  void PopulateResultSet(TResultSetFields& Fields, bool Distinct);
  void PopulateAggregateResultSet(TResultSetFields& Fields, bool Grouped);
  void PopulateSimpleCountResultSet(int32_t Count);
  // Deletes every row for which Root is not True.
  void ProcessHavingClause(TZelExprNode* Root);
  // The record addresses of the rows the source yields (single table).
  void PopulateResultSetAddrList(std::vector<uint32_t>& List);
  void SetReadOnlyResultFields(TResultSetFields& Fields);

  // --- Row operations on a target table (INSERT, UPDATE, DELETE) ---
  // The field number of each named column (0x2710 for a name the table
  // lacks); the table is open.
  std::vector<int32_t> TargetFieldNos(const std::vector<std::string>& Names, const char* Context);
  // One new record, Values[i] into field FieldNos[i], the rest null.
  void InsertRow(const std::vector<int32_t>& FieldNos, const std::vector<plat::Variant>& Values);
  // Appends every row of Source, column i from Source's column i; with
  // Distinct only rows without an equal key in "idxdistinct".
  void InsertDataFromDataset(TResultSetFields& Fields, TZelQueryDataset& Source, bool ResetCount,
                             bool Distinct);
  void UpdateData(bool AllRows, const std::vector<uint32_t>& List,
                  TZelUpdateRowConstructor& RowConstructor);
  // Changes the record SetToRecord read under the statement's write lock.
  // Values holds the SET values while they are stored; kept by the caller
  // from row to row.
  void UpdateCurrentRecord(TZelUpdateRowConstructor& RowConstructor,
                           std::vector<plat::Variant>& Values);
  void DeleteData(bool AllRows, std::vector<uint32_t>& List);
  void SetResultSetFieldFromVariant(int32_t FieldNo, const plat::Variant& Value);
  plat::Variant GetFieldData(int32_t FieldNo) { return DataSetGetFieldDataAsVariant(FieldNo); }

  // The comparison of the result table's string order.
  const TZelDBStringCompare& GetDBStringCompare() const { return DBStringCompare_; }
  TZelResultRowSource* RowSource() const { return RowSource_; }
  void SetRowSource(TZelResultRowSource* Value) { RowSource_ = Value; }
  int32_t MaxRecords() const { return MaxRecords_; }
  void SetMaxRecords(int32_t Value) { MaxRecords_ = Value; }
  bool CreateLiveResult() const { return CreateLiveResult_; }
  void SetCreateLiveResult(bool Value) { CreateLiveResult_ = Value; }
  int32_t GetRowsAffected() const { return RowsAffected_; }
  const TFuncResultList& FuncResults() const { return *FuncResults_; }

 protected:
  void InternalOpen() override;

 private:
  class TDeferredKeys;
  // The keys of a fill's rows put off to its end, where that changes
  // nothing but the cost (this dataset's own memory result, keys that
  // admit duplicates); null when each row takes its keys as it is added.
  std::unique_ptr<TDeferredKeys> DeferKeys(bool Distinct);
  // Opens the emptied result table for a fill, when it is not open already.
  void OpenForFill();
  // The write lock held over filling the table with rows: one for the whole
  // fill of a memory table, none (each row locks) otherwise.
  std::optional<TCursorLock> LockForFill();
  // Copies the plain and computed columns (all of them, or only those
  // without aggregates) of the source's current row into the record buffer.
  void FillColumns(TResultSetFields& Fields, bool SkipAggregates);
  // Notes the plain columns whose stored bytes are those of their result
  // column: the same type, one that reads back exactly as stored.
  void PrepareRawColumns(TResultSetFields& Fields);
  // A field of a fixed size whose stored bytes are those of a result
  // column: copied by these offsets (Size > 0), without a look at the fields.
  struct TFixedCopy {
    int32_t Size = 0;
    int32_t SourceData = 0;
    int32_t SourceNull = 0;
    int32_t TargetData = 0;
    int32_t TargetNull = 0;
    // For Source's bytes as Target's (Size 0 where they may differ).
    static TFixedCopy Between(const TInternalFieldItem& Source, const TInternalFieldItem& Target);
    // From is the source record, nullptr for a row that has none (Null).
    void Copy(const uint8_t* From, uint8_t* Rec) const;
  };
  // A result column filled with the stored bytes of its source column.
  struct TRawColumn {
    TZelBaseJoinDataProvider* Rows = nullptr;
    // A table's rows: the source field is read from the bridge's record,
    // field SourceIndex of the bridge.
    TZelNonJoinDataProvider* Table = nullptr;
    int32_t SourceIndex = -1;
    TFixedCopy Fixed;
  };
  // Column FieldNo from the stored bytes of its source; false when they do
  // not fit it.
  bool CopyRawColumn(const TRawColumn& Column, int32_t SourceFieldNo, int32_t FieldNo);
  // True when the current index holds a key equal to the record buffer's;
  // the record buffer is kept.
  bool KeyExists();
  void PrepareAggregates(TResultSetFields& Fields);
  void CreateAccumulators(TResultSetFields& Fields, uint32_t GroupAddr);
  void FinishAggregates(TResultSetFields& Fields);
  void SetIndexIfDefined(const char* Name);
  uint32_t CurrentRecAddr() const;

  TZelResultRowSource* RowSource_ = nullptr;
  int32_t MaxRecords_ = 0;
  int32_t RowsAffected_ = 0;
  bool CreateLiveResult_ = false;
  // The name of the memory result table this dataset made, which no other
  // cursor has open; empty before one is made.
  std::string OwnResultTable_;
  int32_t SlotCount_ = 0;
  // Per result column: where it is copied from byte for byte (no Rows: it
  // is not).
  std::vector<TRawColumn> RawSources_;
  std::unique_ptr<TDataHolder> RawHolder_;
  TZelDBStringCompare DBStringCompare_;
  std::unique_ptr<TFuncResultList> FuncResults_;
};

}  // namespace zel
