#pragma once
// TZelQueryProvider: the query component's engine room. Item 0 is the
// statement; further items are its subqueries and UNION parts, each with its
// own parser engine, select analyser, row source and result dataset. Every
// step answers success and adds readable lines to an error list; the query
// component turns a failed step into one engine error.
//
// Rules:
//  1. A result table name is "$Q", the item ID in 4 hexadecimal digits and
//     8 random hexadecimal digits; a name the database already holds is
//     drawn again, so two queries never share a result table.
//  2. An item frees only its own result table, and only once it made it.
//  3. The parsed trees stay untouched: planning works on a clone of the
//     WHERE tree, so a statement can be planned again with new parameters
//     or outer values.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/dataset/zelDatabase.h"
#include "engine/sql/zelJoinDataProviderUnit.h"
#include "engine/sql/zelParserEngine.h"
#include "engine/sql/zelQueryDataset.h"
#include "platform/db/Params.h"
#include "platform/rtl/Lists.h"

namespace zel {

class TZelQueryProvider;
class TZelQueryProviderItem;
class TZelKeptCorrelatedRows;
class TZelTargetRowProvider;

// Makes the row source of a planned SELECT item from its tables and the
// item's prepared WHERE tree (WhereExpr). Without one the planner's tree of
// row sources serves; tests give a reference source of their own.
using TZelRowSourceFactory =
    std::function<std::unique_ptr<TZelResultRowSource>(TZelQueryProviderItem& Item)>;

// The rows of a subquery for the evaluator: the subquery item's result.
class TQueryExprNodeDataProvider : public TCustomExprNodeDataProvider {
 public:
  explicit TQueryExprNodeDataProvider(TZelQueryProviderItem& Item) : Item_(Item) {}
  std::string ClassName() const override { return "TQueryExprNodeDataProvider"; }
  bool PrepareAndOpen() override;
  uint64_t RowsStamp() override;
  uint64_t ListedValuesStamp() override;
  void ListColumnValues(std::vector<plat::Variant>& Values) override;
  bool HasAnyRow() override;
  bool First() override;
  bool Next() override;
  int32_t ColumnCount() override;
  plat::Variant ColumnValue(int32_t Index) override;

 private:
  TZelQueryProviderItem& Item_;
  // Counts the results made and the plans whose values were listed.
  uint64_t Stamp_ = 0;
  // The item's plan whose values the stamp stands for.
  uint64_t ListedPlan_ = 0;
};

class TZelQueryProviderItem {
 public:
  TZelQueryProviderItem(TZelQueryProvider& Provider, int32_t ID);
  ~TZelQueryProviderItem();
  TZelQueryProviderItem(const TZelQueryProviderItem&) = delete;
  TZelQueryProviderItem& operator=(const TZelQueryProviderItem&) = delete;

  // --- Validation ---
  bool ValidateSQL();
  bool InternalParseQuery();
  bool InternalParseSelectQuery();
  bool InternalParseWhereQuery();
  bool InternalParseInsertQuery();
  bool InternalParseDeleteQuery();
  bool InternalParseUpdateQuery();
  bool InternalParseSchemaStatement();
  // The table-list check the UPDATE parser calls: every table found, its
  // fields filled.
  bool CheckAndSetParserTableList(TTableList& List);
  void InternalSetupTableLists();
  void CreateParamList();

  // --- Planning ---
  bool Prepare();
  bool PreparePlan();
  void BindParams(TZelExpr* Expr);
  // Bound adds each parameter node bound and the parameter's name.
  void BindExprParams(TZelExpr* Expr,
                      std::vector<std::pair<TZelExprNode*, std::string>>* Bound = nullptr);
  // The ON conditions of the FROM clause.
  void BindFromParams();
  // An outer field of a correlated subquery's WHERE tree, made a constant
  // that takes the value of the outer row.
  struct TOuterFieldRef {
    TZelExprNode* Node = nullptr;
    std::string Table;
    std::string Field;
  };
  // Makes every outer field of Expr a constant holding the outer row's
  // value; Refs, when given, gets them to be bound again later.
  void ResetOuterFieldRefs(TZelExpr* Expr, std::vector<TOuterFieldRef>* Refs = nullptr);
  // Ref's node takes the value of the outer row now current (Null for none).
  void BindOuterFieldRef(const TOuterFieldRef& Ref);
  plat::Variant GetFieldData(const std::string& Table, const std::string& Field);
  TTableNameItem* FindTable(const std::string& Name);
  TTableNameItem* FindTableForField(const std::string& Field);

  // --- Results ---
  bool CreateResultSet();
  // The record addresses of the rows the plan yields (the rows an UPDATE
  // or DELETE changes); the plan reads one table.
  void CreateResultList(std::vector<uint32_t>& List);
  void CreateResultSetFields(TZelQueryDataset& Dataset);
  // Forgets the plan, and the columns found over it.
  void DropRowSource();
  void CreateResultSetIndexes(TZelQueryDataset& Dataset);
  std::string GetResultSetFieldNameFromSortKey(const std::string& Key) const;
  void PrepareHavingExpr();
  // Opens Bridge on the live result's table and maps each table field that
  // a plain column shows to that column's name ("-1" for the others).
  void SetLiveResultBridge(TZelDatasetBridge& Bridge);
  bool ProcessUnionResultSets();
  bool ParseRemainingUnionStatement();
  bool ValidateUnionSubStatements();
  bool IsDistinctUnionStatement() const;

  // --- Execution of INSERT, UPDATE, DELETE and the schema statements
  // (zelQueryProviderExec.cpp) ---
  bool ExecSQL();
  bool InternalExecuteInsertStatement();
  bool InternalExecuteDeleteStatement();
  bool InternalExecuteUpdateStatement();
  bool InternalExecuteSchemaStatement();

  void AssignExternalParserEngine(bool WhereOnly, const std::string& TableName,
                                  const std::string& CorrelationName,
                                  std::unique_ptr<TZelParserEngine> Engine);

  int32_t ID() const { return ID_; }
  TZelQueryProvider& Provider() const { return Provider_; }
  plat::TStringList& SQL() { return *SQL_; }
  plat::TStringList& Errors() { return *Errors_; }
  TZelParserEngine& Engine() const { return *Engine_; }
  TZelSelectAnalyser& SelectAnalyser() const { return *SelectAnalyser_; }
  TSelectFields& GetSelectResultSetFields() const { return SelectAnalyser_->SelectFields(); }
  TResultSetFields& ResultFields() const { return *ResultFields_; }
  TZelQueryDataset& ResultSet() const { return *ResultSet_; }
  TQueryExprNodeDataProvider& NodeDataProvider() const { return *NodeDataProvider_; }
  TZelSQLStatementType GetSQLStatementType() const { return Engine_->GetSQLStatementType(); }
  // The WHERE tree planning works on (a clone, parameters and outer values
  // bound); nullptr without a WHERE clause.
  TZelExpr* WhereExpr() const { return WhereExpr_.get(); }
  TZelResultRowSource* RowSource() const { return RowSource_.get(); }
  const std::string& ResultTableName() const { return ResultTableName_; }
  TZelQueryProviderItem* ParentQuery() const { return ParentQuery_; }
  void SetParentQuery(TZelQueryProviderItem* Value) { ParentQuery_ = Value; }
  bool IsCorrelated() const { return IsCorrelated_; }
  void SetIsCorrelated(bool Value) { IsCorrelated_ = Value; }
  bool RequestLive() const { return RequestLive_; }
  void SetRequestLive(bool Value) { RequestLive_ = Value; }
  bool ResultIsLive() const { return ResultIsLive_; }
  bool CreateDefsOnly() const { return CreateDefsOnly_; }
  void SetCreateDefsOnly(bool Value) { CreateDefsOnly_ = Value; }
  bool UnionAll() const { return UnionAll_; }
  void SetUnionAll(bool Value) { UnionAll_ = Value; }
  bool ResultTableCreated() const { return ResultTableCreated_; }
  bool WhereOnly() const { return WhereOnly_; }
  const std::vector<TZelQueryProviderItem*>& Children() const { return Children_; }
  // Child is being freed: it leaves the child list.
  void ForgetChild(TZelQueryProviderItem* Child);
  // The rows of this correlated subquery kept for the outer statement's run
  // (made at the first call); nullptr when its shape does not allow them.
  TZelKeptCorrelatedRows* KeptCorrelatedRows();
  // Closes what the finished run kept open.
  void ReleaseKeptRows();
  // The plan made can serve the next run (see ReleasePlans).
  bool PlanKeepable() const;
  // Counts the plans made (PreparePlan).
  uint64_t PlansMade() const { return PlansMade_; }
  // An uncorrelated subquery of a SELECT whose one column is an integer
  // column of its tables, without grouping, HAVING, UNION or row limit: its
  // values can be read off its planned rows as its result would hold them.
  bool ValuesListable();
  // Those values, in the rows' order, appended to Values.
  void ListColumnValues(std::vector<plat::Variant>& Values);

 private:
  void InternalCreateObjects();
  void ParserEngineCallback(TParserNotifyType NotifyType,
                            std::unique_ptr<TZelParserEngine>& Engine, TZelExprNode* Node,
                            plat::Variant& Value);
  TZelQueryProviderItem* AddChild();
  bool Fail(const std::string& Message);
  bool ResultFieldNameUsed(const std::string& Name) const;
  // False, with the first failed child's errors, when a child failed.
  bool ChildrenParsed();
  // The statement's first table (INSERT, UPDATE, DELETE and schema target).
  TTableNameItem* TargetTable() const;
  // The result dataset opened on the statement's target table.
  void OpenTargetResultSet();
  void DropResultTable();
  // Drops the parts' result tables after a build (DropResultTable: closes
  // the result and deletes its table while the database is connected; the
  // next build makes it anew).
  friend class TZelQueryProvider;

  TZelQueryProvider& Provider_;
  int32_t ID_;
  std::unique_ptr<plat::TStringList> SQL_;
  std::unique_ptr<plat::TStringList> Errors_;
  std::unique_ptr<TZelParserEngine> Engine_;
  std::unique_ptr<TZelSelectAnalyser> SelectAnalyser_;
  std::unique_ptr<TResultSetFields> ResultFields_;
  std::unique_ptr<TZelExpr> WhereExpr_;
  // The parameter nodes of WhereExpr_ with their parameters' names, and
  // whether the tree stands as bound: the last plan only read it (the
  // whole WHERE went to its table as that table's selection), so that the
  // next run can give the nodes their new values instead of cloning anew.
  std::vector<std::pair<TZelExprNode*, std::string>> WhereParams_;
  bool WhereAsBound_ = false;
  std::unique_ptr<TZelExpr> HavingExpr_;
  std::unique_ptr<TZelResultRowSource> RowSource_;
  // The row source whose providers ResultFields_ was made over, while every
  // column is a plain one: a kept plan's next run finds its columns as the
  // last one did (see CreateResultSetFields).
  const TZelResultRowSource* FieldsMadeOver_ = nullptr;
  std::unique_ptr<TZelQueryDataset> ResultSet_;
  std::unique_ptr<TQueryExprNodeDataProvider> NodeDataProvider_;
  std::unique_ptr<TZelKeptCorrelatedRows> KeptRows_;
  // What the values of an INSERT whose target stays open read, kept with it
  // (shared: it is complete only where statements run).
  std::shared_ptr<TZelTargetRowProvider> KeptValues_;
  std::vector<TZelQueryProviderItem*> Children_;
  TZelQueryProviderItem* ParentQuery_ = nullptr;
  std::string ResultTableName_;
  bool IsCorrelated_ = false;
  bool RequestLive_ = false;
  bool ResultIsLive_ = false;
  bool CreateDefsOnly_ = false;
  bool UnionAll_ = false;
  bool ResultTableCreated_ = false;
  bool WhereOnly_ = false;
  bool ChildrenReleased_ = false;
  uint64_t PlansMade_ = 0;
  enum class TListable : uint8_t { Unknown, No, Yes };
  TListable Listable_ = TListable::Unknown;
};

class TZelQueryProvider {
 public:
  TZelQueryProvider();
  ~TZelQueryProvider();
  TZelQueryProvider(const TZelQueryProvider&) = delete;
  TZelQueryProvider& operator=(const TZelQueryProvider&) = delete;

  bool ValidateSQLOnly();
  bool ValidateSQL();
  bool PreparePlan();
  bool CreateResultSet();
  // Runs item 0, a statement that gives no result set.
  bool ExecSQL();
  TZelSQLStatementType GetSQLStatementType() const;
  TZelQueryDataset* GetResultSet() const;
  bool GetIsLiveRequest() const;
  void SetLiveResultBridge(TZelDatasetBridge& Bridge);
  int32_t GetRowsAffected() const;
  void ResetParams();
  void SetSQL(const std::string& Text);
  plat::TStringList& GetErrors();
  std::string GetErrorsAsText();
  // True when every table of List exists; a missing one adds "Table not
  // found - " + its name when Report.
  bool CheckTableList(TTableList& List, bool Report);
  void GetFieldsForTable(const std::string& Name, TInternalFields& Fields, bool Memory);
  // True when every table the parsed statement names is still found where
  // it was found, with the fields it was parsed against. Disk tables of a
  // connection that is not exclusive are taken as they were: while it stays
  // connected its shared hold of the file keeps every other connection from
  // changing them (their restructuring, renaming and dropping need the file
  // exclusively), and it cannot change them itself either. The caller sees
  // to the connection having stayed up since the parse.
  bool TablesUnchanged();
  // Closes the tables the plans of a finished run hold open; the next run
  // plans again. KeepOpen keeps the plan of a statement that reads one disk
  // table without joins or subqueries, its table open, on a connection that
  // neither holds the file exclusively nor is the memory database: the next
  // run takes the new parameter values into it instead of opening the table
  // and planning anew. The table cannot change its structure meanwhile
  // (that needs the file exclusively, which the connection's shared hold
  // denies every other one, and this one reconnects first, which its query
  // answers by releasing its plans); changed rows show as for any open
  // table. Its result table stays open with it.
  void ReleasePlans(bool KeepOpen = false);
  // The plan of the statement's last run can be kept (see ReleasePlans).
  bool PlanKeepable() const;
  // An INSERT of values leaves its target open after it succeeded, for the
  // next run; CloseTarget closes it.
  bool KeepTargetOpen() const { return KeepTargetOpen_; }
  void SetKeepTargetOpen(bool Value) { KeepTargetOpen_ = Value; }
  void CloseTarget();
  // A result table name no table of the database carries.
  std::string NewResultTableName(int32_t ID);

  TZelQueryProviderItem* Add();
  // Frees the items from the last down to Index.
  void DeleteFrom(int32_t Index);
  int32_t Count() const { return static_cast<int32_t>(Items_.size()); }
  TZelQueryProviderItem* Items(int32_t Index) const { return Items_[Index].get(); }

  plat::TStringList& SQL() { return *SQL_; }
  plat::TStringList& ErrorList() { return *ErrorList_; }
  TZelDataBase* Database() const { return Database_; }
  void SetDatabase(TZelDataBase* Value) { Database_ = Value; }
  plat::TParams* Params() const { return Params_; }
  void SetParams(plat::TParams* Value) { Params_ = Value; }
  int32_t MaxRecords() const { return MaxRecords_; }
  void SetMaxRecords(int32_t Value) { MaxRecords_ = Value; }
  bool RequestLive() const { return RequestLive_; }
  void SetRequestLive(bool Value) { RequestLive_ = Value; }
  bool CreateDefsOnly() const { return CreateDefsOnly_; }
  void SetCreateDefsOnly(bool Value) { CreateDefsOnly_ = Value; }
  const TZelRowSourceFactory& RowSourceFactory() const { return RowSourceFactory_; }
  void SetRowSourceFactory(TZelRowSourceFactory Value) { RowSourceFactory_ = std::move(Value); }

 private:
  std::unique_ptr<plat::TStringList> SQL_;
  std::unique_ptr<plat::TStringList> ErrorList_;
  std::unique_ptr<plat::TStringList> MergedErrors_;
  std::vector<std::unique_ptr<TZelQueryProviderItem>> Items_;
  int32_t NextID_ = 0;
  TZelDataBase* Database_ = nullptr;
  plat::TParams* Params_ = nullptr;
  int32_t MaxRecords_ = 0;
  bool RequestLive_ = false;
  bool CreateDefsOnly_ = false;
  bool KeepTargetOpen_ = false;
  TZelRowSourceFactory RowSourceFactory_;

  bool TableUnchanged(const TTableNameItem& Table);
};

}  // namespace zel
