#pragma once
// The SQL query component TZelQuery: a host sets its database, SQL text and
// parameters and either opens it (a SELECT, whose rows it then reads from an
// in-memory result table) or runs ExecSQL (INSERT, UPDATE, DELETE and the
// schema statements, and scripts of several statements separated by ";").
// Parsing, planning and execution are its provider's.
//
// Rules:
//  1. A statement is parsed and checked once (Prepare, or the first open or
//     run) and stays prepared across closes and runs: each open or run
//     plans it again with the parameters' values of the moment. Any change
//     of SQL, UnPrepare, a failed run, another database, a connect or
//     disconnect of the database and a table of the statement that no
//     longer has the fields it was parsed against make the next open or run
//     prepare it anew; a schema statement, and each statement of a script,
//     is prepared for every run. A prepare, open, refresh or run ends by
//     closing the tables its plans opened: a kept statement holds none,
//     except that an INSERT of values run inside the host's transaction
//     keeps its target open until the transaction ends, the statement is
//     unprepared or changed, or the database disconnects, and that a
//     SELECT of one disk table that opened without failing keeps its plan
//     and table open, on a connection that does not hold the file
//     exclusively, until the statement is unprepared or changed or the
//     database connects or disconnects (see
//     TZelQueryProvider::ReleasePlans).
//  2. A run that starts a transaction (a database other than "MEMORY" with
//     none active, for an open, INSERT, UPDATE or DELETE) ends it: committed
//     when the run succeeded, rolled back otherwise. A transaction the host
//     started is never ended by the query; a failure inside it is raised and
//     the host decides.
//  3. A schema statement never runs inside a transaction (0x278A).
//  4. A run leaves the database connected; a schema statement that had to
//     reconnect it exclusively puts its exclusive setting back.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/dataset/zelDatabase.h"
#include "engine/sql/zelJoinDataProviderUnit.h"
#include "engine/sql/zelQueryProvider.h"
#include "engine/storage/zelApi.h"
#include "platform/db/DataSource.h"
#include "platform/db/Params.h"
#include "platform/rtl/Lists.h"

namespace zel {

class TZelQuery;

// Splits a script into its statements at each ";" that ends one. The text
// is read by the SQL tokenizer, so a ";" inside a string, a quoted name or
// a comment ends nothing. Each statement keeps its ";"; statements holding
// nothing but blanks and comments are left out. A text with one statement
// (a final ";" or none) is returned whole.
ZEL_API std::vector<std::string> SplitSQLScript(const std::string& Text);

// Links a query to a master data source: its parameters follow the master's
// current record.
class ZEL_API TZelQueryDataLink : public plat::TDetailDataLink {
 public:
  explicit TZelQueryDataLink(TZelQuery* Query) : Query_(Query) {}
  std::string ClassName() const override { return "TZelQueryDataLink"; }
  plat::TDataSet* GetDetailDataSet() override;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void RecordChanged(plat::TField* Field) override;

 private:
  TZelQuery* Query_;
};

class ZEL_API TZelQuery : public TZelBaseTable {
 public:
  explicit TZelQuery(plat::TComponent* AOwner = nullptr);
  ~TZelQuery() override;
  std::string ClassName() const override { return "TZelQuery"; }

  // --- Published properties ---
  plat::TStrings& SQL() const { return *SQL_; }
  // Assigns only a text that differs.
  void SetSQL(const plat::TStrings& Value);
  plat::TDataSource* DataSource() const { return DataLink_->DataSource(); }
  // A data source linked to this query itself is refused.
  void SetDataSource(plat::TDataSource* Value);
  int32_t MaxRecords() const { return MaxRecords_; }
  void SetMaxRecords(int32_t Value) { MaxRecords_ = Value; }
  bool ParamCheck() const { return ParamCheck_; }
  void SetParamCheck(bool Value) { ParamCheck_ = Value; }
  int32_t ParamCount() const { return Params_->Count(); }
  plat::TParams& Params() const { return *Params_; }
  void SetParams(const plat::TParams& Value) { Params_->Assign(&Value); }
  int32_t RowsAffected() const { return GetRowsAffected(); }
  bool RequestLive() const { return RequestLive_; }
  void SetRequestLive(bool Value) { RequestLive_ = Value; }
  const plat::TPropList& PublishedProperties() const override;

  // --- Operations ---
  void Prepare();
  void UnPrepare();
  void SetPrepare(bool Value);
  bool Prepared() const { return Prepared_; }
  void ExecSQL();
  plat::TParam* ParamByName(const std::string& Name) const { return Params_->ParamByName(Name); }
  TZelSQLStatementType GetSQLStatementType() const;
  int32_t GetRowsAffected() const;
  // Reopens the query on the master's current record.
  void RefreshParams();
  // Fills every parameter the host has not bound from the master field of
  // the same name.
  void SetParamsFromDataSource();
  // Milliseconds the last prepare and the last result build took.
  uint32_t PrepareTime() const { return PrepareTime_; }
  uint32_t OpenTime() const { return OpenTime_; }

  // --- Dataset overrides ---
  plat::TDataSource* GetDataSource() override { return DataSource(); }
  bool GetCanModify() override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalRefresh() override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalOpenForDefs() override;
  void InternalCloseForDefs() override;
  void DatabaseChanging() override { ReleaseKeptCursor(); }

 private:
  // Closes the cursor a close left open on the kept result table.
  void ReleaseKeptCursor();
  void QueryChanged();
  void InternalPrepare();
  // Readies the statement for a run with the current parameter values:
  // true when the prepared one was kept (a SELECT then still needs its
  // plan), false when it was prepared anew.
  bool KeepOrPrepare();
  // Follows the connects and disconnects of Database (nullptr: none).
  void WatchConnection(TZelDataBase* Database);
  void CloseLiveBridge();
  // Closes the INSERT target kept open for the host's transaction.
  void ReleaseTarget();
  void InternalExecSQL();
  // The run bracket of an open, a refresh or an execution.
  void InternalConnect(const char* Context);
  void InternalDisconnect();
  void ConnectDatabase(const char* Context);
  // 0x25AD with the statement's errors.
  [[noreturn]] void RaiseSQLError(const char* Context, const std::string& Text);
  // Runs Step, keeping the values of parameters that keep their names.
  template <class F>
  bool KeepingParamValues(F&& Step);
  // The source row of the current live row, checked unchanged.
  void MoveBridgeToSourceRow(const char* Context);

  std::unique_ptr<plat::TStringList> SQL_;
  std::unique_ptr<plat::TParams> Params_;
  std::unique_ptr<TZelQueryProvider> Provider_;
  // Writes live edits back to the source table; from a live open to the
  // next close.
  std::unique_ptr<TZelDatasetBridge> Bridge_;
  std::unique_ptr<TZelQueryDataLink> DataLink_;
  // The statements of the SQL text ScriptText_.
  std::string ScriptText_;
  std::vector<std::string> ScriptPieces_;
  // The changes the SQL list told of, and their count when ScriptText_ was
  // taken.
  uint64_t SQLChanges_ = 0;
  uint64_t ScriptChanges_ = 0;
  // Registered with WatchedDataBase_ for its connect events; set only while
  // that database stayed connected since the statement was prepared.
  plat::TObject ConnectionWatch_;
  TZelDataBase* WatchedDataBase_ = nullptr;
  // RequestLive when the statement was prepared: a live result has columns
  // of its own.
  bool PreparedLive_ = false;
  // An INSERT target is open for the host's transaction; WatchedDataBase_
  // closes it at the transaction's end.
  bool TargetHeld_ = false;
  bool ParamCheck_ = true;
  int32_t MaxRecords_ = 0;
  bool RequestLive_ = false;
  bool Prepared_ = false;
  bool DatabaseWasConnected_ = false;
  bool OwnTransactionWanted_ = false;
  bool WasInTransaction_ = false;
  bool RunSucceeded_ = false;
  bool CreateDefsOnly_ = false;
  // The cursor on the result table stayed open at the last close (the plan
  // and its result table were kept): the next open of the statement takes
  // it as it stands.
  bool CursorKept_ = false;
  uint32_t PrepareTime_ = 0;
  uint32_t OpenTime_ = 0;
};

}  // namespace zel
