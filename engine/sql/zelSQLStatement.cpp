#include "engine/sql/zelSQLStatement.h"

#include <unordered_set>

#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelConsts.h"
#include "engine/storage/zelDataRestructure.h"
#include "platform/db/Params.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

constexpr const char* kTokensBeyondEnd = "Unrecognized tokens beyond end of statement: ";

// A table component on the statement's table, not owned by anyone else.
std::unique_ptr<TZelTable> TableOf(TZelDataBase& Database, const TTableNameItem& Table) {
  auto table = std::make_unique<TZelTable>();
  table->SetDataBase(&Database);
  table->SetTableName(Table.TableName());
  table->SetMemory(Table.Memory());
  return table;
}

// Holds the database exclusively for a schema change of a disk table and
// puts its exclusive setting and connected state back afterwards, also when
// the change fails.
class TExclusiveReconnect {
 public:
  TExclusiveReconnect(TZelDataBase& Database, bool NeedExclusive)
      : Database_(Database), WasConnected_(Database.Connected()),
        WasExclusive_(Database.Exclusive()) {
    if (NeedExclusive && !WasExclusive_) {
      if (WasConnected_) Database_.SetConnected(false);
      Changed_ = true;
      Database_.SetExclusive(true);
    }
    Database_.SetConnected(true);
  }
  ~TExclusiveReconnect() {
    // The failure that ended the scope, if any, is the one to report.
    try {
      if (Changed_) {
        Database_.SetConnected(false);
        Database_.SetExclusive(WasExclusive_);
      }
      Database_.SetConnected(WasConnected_);
    } catch (...) {
    }
  }
  TExclusiveReconnect(const TExclusiveReconnect&) = delete;
  TExclusiveReconnect& operator=(const TExclusiveReconnect&) = delete;

 private:
  TZelDataBase& Database_;
  bool WasConnected_;
  bool WasExclusive_;
  bool Changed_ = false;
};

}  // namespace

TZelSQLStatement::TZelSQLStatement() : Engine_(std::make_unique<TZelParserEngine>()) {}
TZelSQLStatement::~TZelSQLStatement() = default;

void TZelSQLStatement::SetSQL(const std::string& Value) {
  SQL_ = Value;
  Engine_ = std::make_unique<TZelParserEngine>();
  Validated_ = false;
  Bound_ = false;
  Errors_.clear();
}

TZelSQLStatementType TZelSQLStatement::GetSQLStatementType() const {
  return Validated_ ? Engine_->GetSQLStatementType() : zsSQLUnknown;
}

std::string TZelSQLStatement::GetErrorsAsText() const {
  std::string text;
  for (const std::string& line : Errors_)
    if (!line.empty()) text += line + ". ";
  return text;
}

bool TZelSQLStatement::ValidateSQLOnly() {
  Errors_.clear();
  Validated_ = false;
  Bound_ = false;
  RowsAffected_ = 0;
  Engine_ = std::make_unique<TZelParserEngine>();
  if (plat::Trim(SQL_).empty()) {
    AddError(SzelEmptySQLStatement);
    return false;
  }
  if (!Engine_->PreParseSQL(SQL_)) {
    AddError(Engine_->ErrorMsg());
    return false;
  }
  Validated_ = true;
  return InternalParseQuery();
}

bool TZelSQLStatement::ValidateSQL() {
  const bool result = ValidateSQLOnly();
  if (result && Params_ != nullptr) CreateParamList();
  return result;
}

void TZelSQLStatement::ResetParams() {
  if (Params_ == nullptr || Database_ == nullptr) return;
  if (!ValidateSQL()) CreateParamList();
}

void TZelSQLStatement::CreateParamList() {
  if (Params_ == nullptr) return;
  plat::TStringList names;
  Engine_->GetParamList(&names);
  // A value the host gave stays with its parameter while the text changes
  // around it (each statement of a script is set as a new text).
  plat::TParams old;
  old.Assign(Params_);
  Params_->Clear();
  for (int32_t i = 0; i < names.Count(); ++i)
    Params_->CreateParam(plat::ftUnknown, names.Strings(i), plat::ptInput);
  Params_->AssignValues(old);
}

bool TZelSQLStatement::InternalParseQuery() {
  bool result = false;
  switch (Engine_->GetSQLStatementType()) {
    case zsSQLInsert:
      result = InternalParseInsertQuery();
      break;
    case zsSchemaManipulation:
      result = InternalParseSchemaStatement();
      break;
    case zsSQLSelect:
    case zsSQLDelete:
    case zsSQLUpdate:
      // Their clauses are parsed where their rows are read.
      return true;
    default:
      AddError(Engine_->GetCurrentPreParserTokenAsErrorFmt() + " " + SzelUnrecognizedSQLStatement);
      return false;
  }
  if (result && !Engine_->CheckNoTokensRemain()) {
    AddError(kTokensBeyondEnd + Engine_->GetCurrentPreParserTokenAsErrorFmt());
    return false;
  }
  return result;
}

bool TZelSQLStatement::InternalParseInsertQuery() {
  if (!Engine_->ParseInsertStatement()) {
    AddError(Engine_->ErrorMsg());
    return false;
  }
  TTableList& tables = *Engine_->TableList();
  if (!CheckTableList(tables, true)) return false;
  InternalSetupTableLists(tables);
  TZelInsertParser& parser = Engine_->InsertParser();
  if (!parser.ValidateValueColumns(*tables.Items(0)->TableFields())) {
    AddError(parser.ErrorMsg());
    return false;
  }
  return true;
}

bool TZelSQLStatement::InternalParseSchemaStatement() {
  if (!Engine_->ParseSchemaManipulationStatement()) {
    AddError(Engine_->ErrorMsg());
    return false;
  }
  TTableList& tables = *Engine_->TableList();
  const bool found = CheckTableList(tables, false);
  const std::string name = Engine_->SchemaParser().TableName();
  if (Engine_->SchemaParser().Operation() == ddCreateTable) {
    if (found) {
      AddError(std::string(SzelTableExists) + ": " + name);
      return false;
    }
    return true;
  }
  if (!found) {
    AddError(std::string(SzelTableNotFound) + ": " + name);
    return false;
  }
  InternalSetupTableLists(tables);
  return true;
}

bool TZelSQLStatement::CheckTableList(TTableList& Tables, bool ReportErrors) {
  PLAT_ASSERT(Database_ != nullptr, "The database has not been assigned");
  if (!Database_->Connected()) Database_->SetConnected(true);
  std::unordered_set<std::string> disk, memory;
  plat::TStringList names;
  if (!Database_->IsMemoryDatabase()) {
    Database_->GetTableNames(names, false);
    for (int32_t i = 0; i < names.Count(); ++i) disk.insert(plat::AnsiUpperCase(names.Strings(i)));
  }
  names.Clear();
  Database_->GetTableNames(names, true);
  for (int32_t i = 0; i < names.Count(); ++i) memory.insert(plat::AnsiUpperCase(names.Strings(i)));

  bool result = true;
  for (int32_t i = 0; i < Tables.Count(); ++i) {
    TTableNameItem* item = Tables.Items(i);
    const std::string key = plat::AnsiUpperCase(item->TableName());
    bool found = false;
    if (!item->MemorySpecified() && disk.count(key) != 0) {
      item->SetMemory(false);
      found = true;
    }
    if (!found && memory.count(key) != 0) {
      item->SetMemory(true);
      found = true;
    }
    if (!found) {
      // A table made in the memory database can only live in memory.
      if (Database_->IsMemoryDatabase()) item->SetMemory(true);
      result = false;
      if (ReportErrors) AddError(std::string(SzelTableNotFound) + " - " + item->TableName());
    }
  }
  return result;
}

void TZelSQLStatement::InternalSetupTableLists(TTableList& Tables) {
  for (int32_t i = 0; i < Tables.Count(); ++i) {
    TTableNameItem* item = Tables.Items(i);
    TableOf(*Database_, *item)->QueryInternalFieldDefs(*item->TableFields());
  }
}

bool TZelSQLStatement::ExecSQL() {
  RowsAffected_ = 0;
  if (!Validated_) return false;
  switch (Engine_->GetSQLStatementType()) {
    case zsSQLInsert:
      return InternalExecuteInsertStatement();
    case zsSchemaManipulation:
      return InternalExecuteSchemaStatement();
    case zsSQLDelete:
    case zsSQLUpdate:
      AddError("UPDATE and DELETE statements cannot be executed yet");
      return false;
    default:
      AddError(SzelSQLStatmentCannotbeExecuted);
      return false;
  }
}

bool TZelSQLStatement::InternalExecuteInsertStatement() {
  TZelInsertParser& parser = Engine_->InsertParser();
  if (parser.HasSelectClause()) {
    AddError("INSERT ... SELECT cannot be executed yet");
    return false;
  }
  // Binding puts the values in place of the parameter names, so a statement
  // run before is parsed afresh to bind this run's values.
  if (Bound_ && !ValidateSQLOnly()) return false;
  TZelInsertParser& fresh = Engine_->InsertParser();
  fresh.Values().BindParams(Params_);
  Bound_ = true;
  TZelExprDataProvider constants;
  fresh.Values().Prepare(&constants);

  auto table = TableOf(*Database_, *Engine_->TableList()->Items(0));
  table->Open();
  table->Append();
  try {
    for (int32_t i = 0; i < fresh.Columns().Count(); ++i) {
      plat::TField* field = table->FieldByName(fresh.Columns().Strings(i));
      if (i < fresh.Values().Count())
        field->SetValue(fresh.Values().GetItems(i)->GetRowData());
      else
        field->Clear();
    }
    table->Post();
  } catch (...) {
    table->Cancel();
    throw;
  }
  RowsAffected_ = 1;
  return true;
}

bool TZelSQLStatement::InternalExecuteSchemaStatement() {
  TZelSchemaManipulationParser& parser = Engine_->SchemaParser();
  const TSQLSchemaManipulationOp op = parser.Operation();
  const TTableNameItem& target = *Engine_->TableList()->Items(0);
  // A memory table needs no exclusive hold of the file, nor does a new table.
  TExclusiveReconnect hold(*Database_, op != ddCreateTable && !target.Memory() &&
                                           !Database_->IsMemoryDatabase());
  auto table = TableOf(*Database_, target);
  if (op == ddDropTable) {
    Database_->DeleteTable(target.TableName(), target.Memory());
    return true;
  }
  TInternalFields fields;
  plat::TIndexDefs indexes;
  if (op != ddCreateTable) {
    table->Open();
    fields.Assign(&table->TableDef().InternalFields());
    indexes.Assign(&table->IndexDefs());
    table->Close();
  }
  if (!parser.ValidateTableChanges(fields, &indexes)) {
    AddError(parser.GetErrorMsg());
    return false;
  }
  if (op == ddCreateTable) {
    const TInternalFields& added = parser.AddedFields();
    for (int32_t i = 0; i < added.Count(); ++i) {
      const TInternalFieldItem* item = added.GetIndex(i);
      table->FieldDefs().Add(item->FieldName(), item->DataType(), item->FieldSize(),
                             item->Required());
    }
    if (!parser.IndexName().empty() || parser.IndexOptions().Contains(plat::ixPrimary))
      table->IndexDefs().Add(parser.IndexName(), parser.GetIndexFieldsAsText(),
                             parser.IndexOptions());
    return table->CreateTable();
  }
  parser.SetRestructureFieldDefs(table->RestructureFieldDefs());
  parser.SetRestructureIndexDefs(table->RestructureIndexDefs());
  table->RestructureTable(TInternalRestructureRecord{});
  return true;
}

}  // namespace zel
