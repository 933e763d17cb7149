#include "engine/sql/zelSQL.h"

#include "engine/expr/zelBaseParser.h"
#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelCommonText.h"
#include "engine/storage/zelConsts.h"
#include "platform/db/DBConsts.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/ScopeGuard.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

constexpr int32_t kErrNoDatabase = 0x2780;
constexpr int32_t kErrSQL = 0x25AD;
constexpr int32_t kErrInTransaction = 0x278A;

}  // namespace

std::vector<std::string> SplitSQLScript(const std::string& Text) {
  TZelTokenParser tokens;
  tokens.SetTokenString(Text);
  std::vector<std::string> pieces;
  std::size_t start = 0;
  bool hasContent = false;  // a token other than a comment since start
  std::string token;
  for (;;) {
    const TZelSQLToken kind = tokens.GetNextToken(token);
    if (kind == zstEnd && token.empty()) break;
    if (kind == zstEnd && token == ";") {
      const std::size_t end = tokens.CurrChar();
      if (hasContent) pieces.push_back(Text.substr(start, end - start));
      start = end;
      hasContent = false;
      continue;
    }
    if (kind != zstComment) hasContent = true;
  }
  if (hasContent) pieces.push_back(Text.substr(start));
  if (pieces.size() <= 1) return {Text};
  for (std::string& piece : pieces) piece = plat::Trim(piece);
  return pieces;
}

// ---------------------------------------------------------------- TZelQueryDataLink

plat::TDataSet* TZelQueryDataLink::GetDetailDataSet() { return Query_; }

void TZelQueryDataLink::ActiveChanged() {
  if (Query_->Active()) Query_->RefreshParams();
}

void TZelQueryDataLink::CheckBrowseMode() {
  if (Query_->Active()) Query_->CheckBrowseMode();
}

void TZelQueryDataLink::RecordChanged(plat::TField* Field) {
  if (Field == nullptr && Query_->Active()) Query_->RefreshParams();
}

// ---------------------------------------------------------------- TZelQuery

TZelQuery::TZelQuery(plat::TComponent* AOwner)
    : TZelBaseTable(AOwner),
      SQL_(std::make_unique<plat::TStringList>()),
      Params_(std::make_unique<plat::TParams>(this)),
      Provider_(std::make_unique<TZelQueryProvider>()),
      DataLink_(std::make_unique<TZelQueryDataLink>(this)) {
  SQL_->OnChange = [this](plat::TObject*) {
    ++SQLChanges_;
    QueryChanged();
  };
  Provider_->SetParams(Params_.get());
}

TZelQuery::~TZelQuery() {
  // A destructor must not throw: what cannot be closed or dropped here is
  // lost with the query.
  try {
    Close();
    // A kept plan's result table is free to go then.
    ReleaseKeptCursor();
    Provider_->ReleasePlans();
    TZelDataBase* db = DataBase();
    if (!TableName().empty() && db != nullptr && db->Connected() && GetExists())
      db->DeleteTable(TableName(), Memory());
  } catch (...) {
  }
  WatchConnection(nullptr);
  SQL_->OnChange = nullptr;
  DataLink_->SetDataSource(nullptr);
  Bridge_.reset();
}

const plat::TPropList& TZelQuery::PublishedProperties() const {
  static const plat::TPropList list = [this] {
    plat::TPropList result =
        plat::TPublished<TZelQuery>(TZelBaseTable::PublishedProperties())
            .Strings("SQL", [](TZelQuery& q) -> plat::TStrings& { return q.SQL(); })
            .Integer("MaxRecords", &TZelQuery::MaxRecords, &TZelQuery::SetMaxRecords)
            .Boolean("ParamCheck", &TZelQuery::ParamCheck, &TZelQuery::SetParamCheck, true)
            .Boolean("RequestLive", &TZelQuery::RequestLive, &TZelQuery::SetRequestLive)
            .Collection("ParamData", [](TZelQuery& q) -> plat::TCollection& { return q.Params(); });
    // The parameters are written only when there are some.
    plat::TPropInfo params = *result.Find("ParamData");
    params.Stored = [](const plat::TPersistent& q) {
      return static_cast<const TZelQuery&>(q).ParamCount() > 0;
    };
    result.Add(std::move(params));
    return result;
  }();
  return list;
}

void TZelQuery::SetSQL(const plat::TStrings& Value) {
  if (SQL_->Text() == Value.Text()) return;
  SQL_->BeginUpdate();
  try {
    SQL_->Assign(&Value);
  } catch (...) {
    SQL_->EndUpdate();
    throw;
  }
  SQL_->EndUpdate();
}

void TZelQuery::SetDataSource(plat::TDataSource* Value) {
  if (Value != nullptr && IsLinkedTo(Value)) plat::DatabaseError(plat::SCircularDataLink, this);
  DataLink_->SetDataSource(Value);
}

TZelSQLStatementType TZelQuery::GetSQLStatementType() const {
  return Provider_->GetSQLStatementType();
}

// A SELECT affects no row (its result table may be kept open, counting its
// rows).
int32_t TZelQuery::GetRowsAffected() const {
  return GetSQLStatementType() == zsSQLSelect ? 0 : Provider_->GetRowsAffected();
}

bool TZelQuery::GetCanModify() { return Active() && Provider_->GetIsLiveRequest(); }

void TZelQuery::RaiseSQLError(const char* Context, const std::string& Text) {
  ZelDatabaseError(kErrSQL, Context, Text, this);
}

template <class F>
bool TZelQuery::KeepingParamValues(F&& Step) {
  plat::TParams given;
  given.Assign(Params_.get());
  const bool result = Step();
  Params_->AssignValues(given);
  return result;
}

void TZelQuery::ConnectDatabase(const char* Context) {
  if (DataBase() == nullptr) ZelDatabaseError(kErrNoDatabase, Context, "", this);
  if (!DataBase()->Connected()) DataBase()->SetConnected(true);
  if (Provider_->Database() != DataBase()) Provider_->SetDatabase(DataBase());
}

void TZelQuery::ReleaseTarget() {
  if (!TargetHeld_) return;
  TargetHeld_ = false;
  if (WatchedDataBase_ != nullptr) WatchedDataBase_->CancelTransactionEndNotify(&ConnectionWatch_);
  Provider_->CloseTarget();
}

void TZelQuery::WatchConnection(TZelDataBase* Database) {
  if (WatchedDataBase_ == Database) return;
  if (WatchedDataBase_ != nullptr) {
    ReleaseTarget();
    // A kept plan's table closes while the database is still connected.
    ReleaseKeptCursor();
    Provider_->ReleasePlans();
    WatchedDataBase_->UnRegisterClient(&ConnectionWatch_);
  }
  WatchedDataBase_ = Database;
  if (Database == nullptr) return;
  // A reconnection may find the file changed by a connection that held it
  // exclusively meanwhile. The watch ends at the first event, so it never
  // outlives the database (which disconnects before it goes).
  Database->RegisterClient(&ConnectionWatch_, [this](plat::TObject*, bool) { WatchConnection(nullptr); });
}

void TZelQuery::QueryChanged() {
  if (ComponentState().Contains(plat::csReading)) return;
  if (Active()) Close();
  if (Prepared_) UnPrepare();
  if (ParamCheck_ || ComponentState().Contains(plat::csDesigning)) {
    Provider_->SetDatabase(DataBase());
    if (DataBase() != nullptr) {
      if (!DataBase()->Connected()) DataBase()->SetConnected(true);
      Provider_->SetSQL(SQL_->Text());
      // A value the host gave stays with its parameter while the text
      // changes around it.
      KeepingParamValues([&] {
        Provider_->ResetParams();
        return true;
      });
    }
  }
  DataEvent(plat::dePropertyChange, 0);
}

void TZelQuery::Prepare() {
  ConnectDatabase("TZelQuery.Prepare");
  const auto release = plat::OnScopeExit([this] { Provider_->ReleasePlans(); });
  InternalPrepare();
}

void TZelQuery::InternalPrepare() {
  const uint32_t start = GetMSTimeMarker();
  // The statement's result table may go with it.
  ReleaseKeptCursor();
  Provider_->SetSQL(SQL_->Text());
  // The parameter list is made here too, so that a text set before the
  // database still gets its parameters.
  bool ok = KeepingParamValues([&] {
    return ParamCheck_ ? Provider_->ValidateSQL() : Provider_->ValidateSQLOnly();
  });
  if (ok) {
    if (DataSource() != nullptr) SetParamsFromDataSource();
    ok = Provider_->PreparePlan();
  }
  Provider_->SetMaxRecords(MaxRecords_);
  PrepareTime_ = GetMSTimeMarker() - start;
  if (!ok) RaiseSQLError("TZelQuery.InternalPrepare", Provider_->GetErrorsAsText());
  Prepared_ = true;
  PreparedLive_ = RequestLive_;
  WatchConnection(Provider_->Database());
}

bool TZelQuery::KeepOrPrepare() {
  const bool keep = Prepared_ && WatchedDataBase_ != nullptr &&
                    WatchedDataBase_ == Provider_->Database() && PreparedLive_ == RequestLive_ &&
                    GetSQLStatementType() != zsSchemaManipulation && Provider_->TablesUnchanged();
  if (!keep) {
    InternalPrepare();
    return false;
  }
  if (DataSource() != nullptr) SetParamsFromDataSource();
  Provider_->SetMaxRecords(MaxRecords_);
  return true;
}

void TZelQuery::CloseLiveBridge() {
  if (Bridge_ == nullptr) return;
  Bridge_->CloseBridge();
  Bridge_.reset();
}

void TZelQuery::UnPrepare() {
  Prepared_ = false;
  CloseLiveBridge();
  ReleaseTarget();
  ReleaseKeptCursor();
  Provider_->ReleasePlans();
}

void TZelQuery::SetPrepare(bool Value) {
  if (Value)
    Prepare();
  else
    UnPrepare();
}

void TZelQuery::InternalConnect(const char* Context) {
  if (DataBase() == nullptr) ZelDatabaseError(kErrNoDatabase, Context, "", this);
  DatabaseWasConnected_ = DataBase()->Connected();
  ConnectDatabase(Context);
  DataBase()->ActivateQueryMode(GetSQLStatementType() != zsSQLSelect);
  RunSucceeded_ = false;
  WasInTransaction_ = DataBase()->InTransaction();
  if (OwnTransactionWanted_ && !WasInTransaction_) DataBase()->StartTransaction();
}

void TZelQuery::InternalDisconnect() {
  TZelDataBase& db = *DataBase();
  db.SetQueryActive(false);
  const bool own = OwnTransactionWanted_ && !WasInTransaction_;
  if (!RunSucceeded_) {
    // What the failed run left behind is not planned on again.
    Prepared_ = false;
    // Called while the run's failure is on its way out: that failure is
    // the one to report.
    try {
      if (own && db.InTransaction()) db.Rollback();
      Close();
    } catch (...) {
    }
  } else if (own) {
    db.Commit();
  }
  db.SetConnected(DatabaseWasConnected_);
}

void TZelQuery::InternalOpen() {
  static const char* const Context = "TZelQuery.InternalOpen";
  // The result lives in memory (where a kept cursor already is).
  if (!Memory()) SetMemory(true);
  ConnectDatabase(Context);
  // The plan of a run that succeeded may stay for the next open.
  bool succeeded = false;
  const auto release = plat::OnScopeExit([&] { Provider_->ReleasePlans(succeeded && Prepared_); });
  // The tables planning reads stay read-locked through the run and its
  // transaction: neither locks them, nor reads their headers, again.
  TTableReadHold hold(DataBase());
  if (KeepOrPrepare() && GetSQLStatementType() == zsSQLSelect && !Provider_->PreparePlan())
    RaiseSQLError(Context, Provider_->GetErrorsAsText());
  if (GetSQLStatementType() != zsSQLSelect) RaiseSQLError(Context, SzelSQLStatmentCannotbeOpened);
  OwnTransactionWanted_ = DataBase()->DataBaseName() != MemoryDatabaseName;
  InternalConnect(Context);
  try {
    const uint32_t start = GetMSTimeMarker();
    Provider_->SetRequestLive(RequestLive_);
    Provider_->SetCreateDefsOnly(CreateDefsOnly_);
    RunSucceeded_ = Provider_->CreateResultSet();
    OpenTime_ = GetMSTimeMarker() - start;
    if (!RunSucceeded_) RaiseSQLError(Context, Provider_->GetErrorsAsText());
    TZelQueryDataset& result = *Provider_->GetResultSet();
    try {
      // The cursor kept open on this result table reads it as it was filled
      // now; any other goes.
      const bool reuse = CursorKept_ && CursorOpen() && !Provider_->GetIsLiveRequest() &&
                         plat::AnsiSameText(TableName(), result.TableName());
      if (!reuse) ReleaseKeptCursor();
      CursorKept_ = false;
      // A reopen that made a result table of another name drops the old one.
      if (!TableName().empty() && !plat::AnsiSameText(TableName(), result.TableName()) &&
          DataBase()->GetLocalConnectedUserCount(TableName(), true) == 0) {
        plat::TStringList names;
        DataBase()->GetTableNames(names, true);
        if (names.IndexOf(TableName()) >= 0) DataBase()->DeleteTable(TableName(), true);
      }
      if (!reuse) {
        SetTableName(result.TableName());
        SetReadOnly(!Provider_->GetIsLiveRequest());
      }
      OpenDataset(reuse);
      if (Provider_->GetIsLiveRequest()) {
        if (Bridge_ == nullptr) Bridge_ = std::make_unique<TZelDatasetBridge>();
        Bridge_->CloseBridge();
        Bridge_->SetDataBase(DataBase());
        Provider_->SetLiveResultBridge(*Bridge_);
        for (int32_t i = 0; i < FieldCount(); ++i) {
          plat::TField* field = Fields().Fields(i);
          plat::TField* source = result.FindField(field->FieldName());
          field->SetReadOnly(source == nullptr || source->ReadOnly());
        }
      }
      // A plan kept for the next open keeps its result table open too: the
      // next open empties and fills it again.
      if (!Provider_->PlanKeepable()) result.Close();
    } catch (...) {
      result.Close();
      if (Bridge_ != nullptr) Bridge_->CloseBridge();
      throw;
    }
  } catch (...) {
    InternalDisconnect();
    throw;
  }
  InternalDisconnect();
  if (Provider_->GetIsLiveRequest() && Bridge_ != nullptr && !Bridge_->IsBridgeOpen())
    Provider_->SetLiveResultBridge(*Bridge_);
  succeeded = true;
}

void TZelQuery::InternalClose() {
  CloseLiveBridge();
  // A plan kept for the next open keeps its result table open: the cursor
  // on it stays open too, rather than be opened again on the same table.
  const TZelQueryDataset* result = Provider_->GetResultSet();
  const bool keep = Prepared_ && !CreateDefsOnly_ && Provider_->PlanKeepable() &&
                    result != nullptr && result->Active() &&
                    plat::AnsiSameText(result->TableName(), TableName());
  CloseDataset(keep);
  CursorKept_ = keep;
}

void TZelQuery::ReleaseKeptCursor() {
  if (!CursorKept_) return;
  CursorKept_ = false;
  DataSetClose();
}

void TZelQuery::InternalRefresh() {
  static const char* const Context = "TZelQuery.InternalRefresh";
  DisableControls();
  try {
    const auto release = plat::OnScopeExit([this] { Provider_->ReleasePlans(); });
    OwnTransactionWanted_ = DataBase()->DataBaseName() != MemoryDatabaseName;
    InternalConnect(Context);
    try {
      Provider_->SetRequestLive(RequestLive_);
      // A statement whose subqueries were released with the last result is
      // parsed again before it is planned anew.
      RunSucceeded_ = KeepingParamValues([&] { return Provider_->ValidateSQLOnly(); }) &&
                      Provider_->PreparePlan() && Provider_->CreateResultSet();
      if (!RunSucceeded_) RaiseSQLError(Context, Provider_->GetErrorsAsText());
      TZelQueryDataset& result = *Provider_->GetResultSet();
      result.Close();
      // The new result has a table of its own: the cursor moves over to it
      // (same columns) and the old table goes.
      if (!plat::AnsiSameText(TableName_, result.TableName())) {
        const std::string old = TableName_;
        DataSetClose();
        TableName_ = result.TableName();
        DataSetOpen();
        DataBase()->DeleteTable(old, true);
      }
    } catch (...) {
      InternalDisconnect();
      throw;
    }
    InternalDisconnect();
    TZelBaseTable::InternalRefresh();
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

void TZelQuery::MoveBridgeToSourceRow(const char* Context) {
  PLAT_ASSERT(Bridge_ != nullptr, "LiveResultBridge is not assigned");
  PLAT_ASSERT(Bridge_->IsBridgeOpen(), "LiveResultBridge is not active");
  (void)Context;
  Bridge_->MoveToRecAddrAndValidate(
      static_cast<uint32_t>(FieldByName(ResultRecAddrFieldName)->AsInteger()),
      static_cast<uint32_t>(FieldByName(ResultRecModFlagFieldName)->AsInteger()));
}

void TZelQuery::InternalPost() {
  if (Provider_->GetIsLiveRequest()) {
    PLAT_ASSERT(Bridge_ != nullptr, "LiveResultBridge is not assigned");
    PLAT_ASSERT(Bridge_->IsBridgeOpen(), "LiveResultBridge is not active");
    const bool editing = State() == plat::dsEdit;
    uint32_t stamp = 0;
    if (editing) {
      MoveBridgeToSourceRow("TZelQuery.InternalPost");
      stamp = static_cast<uint32_t>(FieldByName(ResultRecModFlagFieldName)->AsInteger());
    } else {
      Bridge_->ClearRecord(nullptr);
    }
    // Every data field that shows a column of the source goes back to it.
    for (int32_t i = 0; i < FieldCount(); ++i) {
      plat::TField* field = Fields().Fields(i);
      if (field->FieldKind() != plat::fkData) continue;
      for (int32_t k = 0; k < Bridge_->GetInternalFieldCount(); ++k) {
        if (!plat::AnsiSameText(Bridge_->GetInternalField(k)->SourceField(), field->FieldName()))
          continue;
        Bridge_->DataSetSetFieldDataAsVariant(k, field->IsNull() ? plat::Null() : field->AsVariant());
        break;
      }
    }
    if (editing) {
      Bridge_->UpdateRecord();
      FieldByName(ResultRecModFlagFieldName)->SetAsInteger(static_cast<int32_t>(stamp + 1));
    } else {
      Bridge_->AddRecord(true);
      FieldByName(ResultRecAddrFieldName)->SetAsInteger(static_cast<int32_t>(Bridge_->GetRecAddr()));
      FieldByName(ResultRecModFlagFieldName)
          ->SetAsInteger(static_cast<int32_t>(Bridge_->GetRecModFlag()));
    }
  }
  TZelBaseTable::InternalPost();
}

void TZelQuery::InternalDelete() {
  if (Provider_->GetIsLiveRequest()) {
    MoveBridgeToSourceRow("TZelQuery.InternalDelete");
    Bridge_->DeleteRecord(nullptr);
  }
  TZelBaseTable::InternalDelete();
}

void TZelQuery::InternalOpenForDefs() {
  CreateDefsOnly_ = true;
  InternalOpen();
}

void TZelQuery::InternalCloseForDefs() {
  InternalClose();
  CreateDefsOnly_ = false;
}

void TZelQuery::ExecSQL() {
  static const char* const Context = "TZelQuery.ExecSQL";
  if (DataBase() == nullptr) ZelDatabaseError(kErrNoDatabase, Context, "", this);
  if (Active()) Close();
  ConnectDatabase(Context);
  // The lines are joined again only after the list told of a change, or
  // while it is inside an update, which tells of its changes at the end.
  if (ScriptPieces_.empty() || SQLChanges_ != ScriptChanges_ || SQL_->UpdateCount() != 0) {
    const std::string text = SQL_->Text();
    if (text != ScriptText_ || ScriptPieces_.empty()) {
      ScriptPieces_ = SplitSQLScript(text);
      ScriptText_ = text;
    }
    ScriptChanges_ = SQLChanges_;
  }
  if (ScriptPieces_.size() <= 1) {
    InternalExecSQL();
    return;
  }
  // Setting each statement's text changes the pieces.
  const std::vector<std::string> pieces = ScriptPieces_;
  // The values the host gave for the script reach every statement that
  // names them, also past statements that name none.
  plat::TParams given;
  given.Assign(Params_.get());
  for (const std::string& piece : pieces) {
    SQL_->SetText(piece);
    Params_->AssignValues(given);
    InternalExecSQL();
  }
}

void TZelQuery::InternalExecSQL() {
  static const char* const Context = "TZelQuery.InternalExecSQL";
  // A run lets go of the plan and so of its result table.
  ReleaseKeptCursor();
  const auto release = plat::OnScopeExit([this] { Provider_->ReleasePlans(); });
  // Each run takes the master's current record.
  KeepOrPrepare();
  const TZelSQLStatementType type = GetSQLStatementType();
  if (type == zsSchemaManipulation && DataBase()->InTransaction())
    ZelDatabaseError(kErrInTransaction, Context, "", this);
  OwnTransactionWanted_ = DataBase()->DataBaseName() != MemoryDatabaseName &&
                          (type == zsSQLInsert || type == zsSQLDelete || type == zsSQLUpdate);
  InternalConnect(Context);
  // Inside the host's transaction the target of an INSERT stays open from
  // run to run, until the transaction ends.
  const bool keepTarget = type == zsSQLInsert && WasInTransaction_ && WatchedDataBase_ == DataBase();
  Provider_->SetKeepTargetOpen(keepTarget);
  try {
    RunSucceeded_ = Provider_->ExecSQL();
    if (!RunSucceeded_) RaiseSQLError(Context, Provider_->GetErrorsAsText());
    if (keepTarget && !TargetHeld_) {
      DataBase()->NotifyTransactionEnd(&ConnectionWatch_, [this] { ReleaseTarget(); });
      TargetHeld_ = true;
    }
  } catch (...) {
    RunSucceeded_ = false;
    InternalDisconnect();
    throw;
  }
  InternalDisconnect();
}

void TZelQuery::SetParamsFromDataSource() {
  plat::TDataSource* source = DataLink_->DataSource();
  if (source == nullptr || source->DataSet() == nullptr) return;
  plat::TDataSet& master = *source->DataSet();
  for (int32_t i = 0; i < Params_->Count(); ++i) {
    plat::TParam* param = Params_->Items(i);
    if (param->Bound()) continue;
    param->AssignField(master.FieldByName(param->Name()));
    param->SetBound(false);
  }
}

void TZelQuery::RefreshParams() {
  DisableControls();
  try {
    plat::TDataSource* source = DataLink_->DataSource();
    if (source != nullptr && source->DataSet() != nullptr && source->DataSet()->Active() &&
        source->DataSet()->State() != plat::dsSetKey) {
      Close();
      Open();
    }
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

}  // namespace zel
