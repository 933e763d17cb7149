#include "engine/sql/zelSQL.h"

#include "engine/expr/zelBaseParser.h"
#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelCommonText.h"
#include "engine/storage/zelConsts.h"
#include "platform/db/DBConsts.h"
#include "platform/rtl/Published.h"
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
      Statement_(std::make_unique<TZelSQLStatement>()),
      DataLink_(std::make_unique<TZelQueryDataLink>(this)) {
  SQL_->OnChange = [this](plat::TObject*) { QueryChanged(); };
  Statement_->SetParams(Params_.get());
}

TZelQuery::~TZelQuery() {
  // A destructor must not throw: what cannot be closed or dropped here is
  // lost with the query.
  try {
    Close();
    TZelDataBase* db = DataBase();
    if (!TableName().empty() && db != nullptr && db->Connected() && GetExists())
      db->DeleteTable(TableName(), Memory());
  } catch (...) {
  }
  SQL_->OnChange = nullptr;
  DataLink_->SetDataSource(nullptr);
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
  return Statement_->GetSQLStatementType();
}

int32_t TZelQuery::GetRowsAffected() const { return Statement_->GetRowsAffected(); }

bool TZelQuery::GetCanModify() { return false; }

void TZelQuery::RaiseSQLError(const char* Context, const std::string& Text) {
  ZelDatabaseError(kErrSQL, Context, Text, this);
}

void TZelQuery::ConnectDatabase(const char* Context) {
  if (DataBase() == nullptr) ZelDatabaseError(kErrNoDatabase, Context, "", this);
  if (!DataBase()->Connected()) DataBase()->SetConnected(true);
  if (Statement_->Database() != DataBase()) Statement_->SetDatabase(DataBase());
}

void TZelQuery::QueryChanged() {
  if (ComponentState().Contains(plat::csReading)) return;
  if (Active()) Close();
  if (Prepared_) UnPrepare();
  if (ParamCheck_ || ComponentState().Contains(plat::csDesigning)) {
    Statement_->SetDatabase(DataBase());
    if (DataBase() != nullptr) {
      if (!DataBase()->Connected()) DataBase()->SetConnected(true);
      Statement_->SetSQL(SQL_->Text());
      Statement_->ResetParams();
    }
  }
  DataEvent(plat::dePropertyChange, 0);
}

void TZelQuery::Prepare() {
  ConnectDatabase("TZelQuery.Prepare");
  InternalPrepare();
}

void TZelQuery::InternalPrepare() {
  const uint32_t start = GetMSTimeMarker();
  Statement_->SetSQL(SQL_->Text());
  // The parameter list is made here too, so that a text set before the
  // database still gets its parameters; values already given are kept.
  const bool ok = ParamCheck_ ? Statement_->ValidateSQL() : Statement_->ValidateSQLOnly();
  if (ok && DataSource() != nullptr) SetParamsFromDataSource();
  PrepareTime_ = GetMSTimeMarker() - start;
  if (!ok) RaiseSQLError("TZelQuery.InternalPrepare", Statement_->GetErrorsAsText());
  Prepared_ = true;
}

void TZelQuery::UnPrepare() { Prepared_ = false; }

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
  // The result lives in memory.
  SetMemory(true);
  ConnectDatabase(Context);
  if (!Prepared_) Prepare();
  if (GetSQLStatementType() != zsSQLSelect) RaiseSQLError(Context, SzelSQLStatmentCannotbeOpened);
  OwnTransactionWanted_ = DataBase()->DataBaseName() != MemoryDatabaseName;
  InternalConnect(Context);
  try {
    const uint32_t start = GetMSTimeMarker();
    RunSucceeded_ = false;
    OpenTime_ = GetMSTimeMarker() - start;
    RaiseSQLError(Context, "SELECT results are not available yet");
  } catch (...) {
    InternalDisconnect();
    throw;
  }
}

void TZelQuery::InternalClose() {
  UnPrepare();
  TZelBaseTable::InternalClose();
}

void TZelQuery::InternalRefresh() { TZelBaseTable::InternalRefresh(); }

void TZelQuery::InternalOpenForDefs() {
  CreateDefsOnly_ = true;
  InternalOpen();
}

void TZelQuery::InternalCloseForDefs() {
  CreateDefsOnly_ = false;
  InternalClose();
}

void TZelQuery::ExecSQL() {
  static const char* const Context = "TZelQuery.ExecSQL";
  if (DataBase() == nullptr) ZelDatabaseError(kErrNoDatabase, Context, "", this);
  if (Active()) Close();
  ConnectDatabase(Context);
  const std::vector<std::string> pieces = SplitSQLScript(SQL_->Text());
  if (pieces.size() <= 1) {
    InternalExecSQL();
    return;
  }
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
  if (!Prepared_)
    Prepare();
  else if (DataSource() != nullptr)
    // Each run takes the master's current record.
    SetParamsFromDataSource();
  const TZelSQLStatementType type = GetSQLStatementType();
  if (type == zsSchemaManipulation && DataBase()->InTransaction())
    ZelDatabaseError(kErrInTransaction, Context, "", this);
  OwnTransactionWanted_ = DataBase()->DataBaseName() != MemoryDatabaseName &&
                          (type == zsSQLInsert || type == zsSQLDelete || type == zsSQLUpdate);
  InternalConnect(Context);
  try {
    RunSucceeded_ = Statement_->ExecSQL();
    if (!RunSucceeded_) RaiseSQLError(Context, Statement_->GetErrorsAsText());
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
