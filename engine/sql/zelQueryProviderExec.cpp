// Statements that give no result set: INSERT, UPDATE and DELETE work through
// the item's result dataset opened on the target table; the schema
// statements through a table component and the table's restructuring. And
// what a statement kept parsed from one run to the next needs: the check
// that its tables still fit the parse, and the release of its plans.

#include "engine/sql/zelQueryProvider.h"

#include <exception>

#include "engine/dataset/zelDatabaseFilters.h"
#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelDataRestructure.h"

namespace zel {

// The values of the target's record buffer, through which the INSERT values
// and the SET expressions of an UPDATE are evaluated (SET reads the row
// being changed).
class TZelTargetRowProvider {
 public:
  explicit TZelTargetRowProvider(TZelQueryDataset& Target)
      : DBInterface_(Target.DataBase()), Provider_(&DBInterface_) {
    Provider_.Initialize(&Target);
    Provider_.SetReadDataFromRecBuf(true);
  }
  TZelExprDataProvider* Get() { return &Provider_; }
  // The target's field number of each INSERT column, found at the first
  // run; and the values of the row being inserted.
  bool ColumnsKnown() const { return ColumnsKnown_; }
  const std::vector<int32_t>& Columns() const { return Columns_; }
  void SetColumns(std::vector<int32_t> Value) {
    Columns_ = std::move(Value);
    ColumnsKnown_ = true;
  }
  std::vector<plat::Variant>& Row() { return Row_; }

 private:
  TZelDataProviderDBInterface DBInterface_;
  TZelExprDBDataProvider Provider_;
  bool ColumnsKnown_ = false;
  std::vector<int32_t> Columns_;
  std::vector<plat::Variant> Row_;
};

namespace {

// Closes the target's result dataset when the statement ends; with Keep
// only when it fails.
class TCloseAtEnd {
 public:
  explicit TCloseAtEnd(TZelQueryDataset& DataSet, bool Keep = false)
      : DataSet_(DataSet), Keep_(Keep), Exceptions_(std::uncaught_exceptions()) {}
  ~TCloseAtEnd() {
    if (Keep_ && std::uncaught_exceptions() == Exceptions_) return;
    // The statement's own failure, if any, is the one to report.
    try {
      DataSet_.Close();
    } catch (...) {
    }
  }
  TCloseAtEnd(const TCloseAtEnd&) = delete;
  TCloseAtEnd& operator=(const TCloseAtEnd&) = delete;

 private:
  TZelQueryDataset& DataSet_;
  bool Keep_;
  int Exceptions_;
};

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

bool TZelQueryProvider::ExecSQL() { return !Items_.empty() && Items_[0]->ExecSQL(); }

bool TZelQueryProviderItem::ExecSQL() {
  switch (Engine_->GetSQLStatementType()) {
    case zsSQLInsert:
      return InternalExecuteInsertStatement();
    case zsSQLDelete:
      return InternalExecuteDeleteStatement();
    case zsSQLUpdate:
      return InternalExecuteUpdateStatement();
    case zsSchemaManipulation:
      return InternalExecuteSchemaStatement();
    default:
      return Fail("SQL statement cannot be executed by ExecSQL");
  }
}

void TZelQueryProviderItem::OpenTargetResultSet() {
  BindParams(nullptr);
  TTableNameItem* target = TargetTable();
  PLAT_ASSERT(ResultSet_ != nullptr && target != nullptr, "Result set is not assigned");
  ResultSet_->Close();
  ResultSet_->SetDataBase(Provider_.Database());
  ResultSet_->SetTableName(target->TableName());
  ResultSet_->SetMemory(target->Memory());
  ResultSet_->Open();
}

bool TZelQueryProviderItem::InternalExecuteInsertStatement() {
  TZelInsertParser& parser = Engine_->InsertParser();
  // A memory table's target could be dropped meanwhile.
  const bool keep = Provider_.KeepTargetOpen() && !parser.HasSelectClause() && !TargetTable()->Memory();
  // The kept target's layout and the values' evaluators built on it serve
  // every run of the statement; parameters are bound into the parsed nodes
  // the evaluators read.
  if (keep && ResultSet_->Active() && KeptValues_ != nullptr) {
    BindParams(nullptr);
  } else {
    KeptValues_.reset();
    OpenTargetResultSet();
  }
  TCloseAtEnd close(*ResultSet_, keep);
  std::shared_ptr<TZelTargetRowProvider> target = KeptValues_;
  if (target == nullptr) {
    target = std::make_shared<TZelTargetRowProvider>(*ResultSet_);
    parser.Values().Prepare(target->Get());
    if (keep) KeptValues_ = target;
  }
  const plat::TStringList& columns = parser.Columns();
  TZelRowConstructor& values = parser.Values();
  if (!parser.HasSelectClause()) {
    // Every value is taken before the record is cleared for the new row.
    std::vector<plat::Variant>& row = target->Row();
    row.clear();
    for (int32_t i = 0; i < columns.Count(); ++i)
      row.push_back(i < values.Count() ? values.GetItems(i)->GetRowData() : plat::Variant::MakeNull());
    if (!target->ColumnsKnown()) {
      std::vector<std::string> names;
      for (int32_t i = 0; i < columns.Count(); ++i) names.push_back(columns.Strings(i));
      target->SetColumns(ResultSet_->TargetFieldNos(names, "TZelQueryDataset.InsertData"));
    }
    ResultSet_->InsertRow(target->Columns(), row);
    return true;
  }
  FieldsMadeOver_ = nullptr;
  ResultFields_->Clear();
  for (int32_t i = 0; i < columns.Count(); ++i) {
    TResultSetField* field = ResultFields_->Add();
    field->FieldName = columns.Strings(i);
    field->Value = i < values.Count() ? values.GetItems(i)->GetRowData() : plat::Variant::MakeNull();
  }
  PLAT_ASSERT(Children_.size() == 1, "Insert select count is incorrect");
  TZelQueryProviderItem& select = *Children_[0];
  const bool built = select.Prepare() && select.CreateResultSet();
  if (built) ResultSet_->InsertDataFromDataset(*ResultFields_, select.ResultSet(), true, false);
  return built;
}

bool TZelQueryProviderItem::InternalExecuteDeleteStatement() {
  OpenTargetResultSet();
  TCloseAtEnd close(*ResultSet_);
  const bool allRows = !Engine_->DeleteParser().HasWhereClause();
  // Every row to delete is known before the first goes.
  std::vector<uint32_t> rows;
  if (!allRows) {
    PLAT_ASSERT(Children_.size() == 1, "Delete where count is incorrect");
    TZelQueryProviderItem& where = *Children_[0];
    if (!where.Prepare()) return false;
    where.CreateResultList(rows);
  }
  ResultSet_->DeleteData(allRows, rows);
  return true;
}

bool TZelQueryProviderItem::InternalExecuteUpdateStatement() {
  OpenTargetResultSet();
  TCloseAtEnd close(*ResultSet_);
  TZelTargetRowProvider current(*ResultSet_);
  TZelUpdateParser& parser = Engine_->UpdateParser();
  parser.SetList().Prepare(current.Get());
  const bool allRows = !parser.HasWhereClause();
  // Every row to change is known before the first changes, so a changed
  // key never moves a row ahead of the walk or twice through it.
  std::vector<uint32_t> rows;
  if (!allRows) {
    PLAT_ASSERT(!Children_.empty(), "Update where count is incorrect");
    TZelQueryProviderItem& where = *Children_.back();
    // Its references to the target are its own rows.
    where.SetIsCorrelated(false);
    if (!where.Prepare()) return false;
    where.CreateResultList(rows);
  }
  ResultSet_->UpdateData(allRows, rows, parser.SetList());
  return true;
}

bool TZelQueryProviderItem::InternalExecuteSchemaStatement() {
  TZelDataBase& db = *Provider_.Database();
  TZelSchemaManipulationParser& parser = Engine_->SchemaParser();
  const TSQLSchemaManipulationOp op = parser.Operation();
  const TTableNameItem& target = *TargetTable();
  // A new table and a memory table need no exclusive hold of the file.
  TExclusiveReconnect hold(db, op != ddCreateTable && !target.Memory() && !db.IsMemoryDatabase());
  TZelTable table;
  table.SetDataBase(&db);
  table.SetTableName(target.TableName());
  table.SetMemory(target.Memory());
  if (op == ddDropTable) {
    db.DeleteTable(target.TableName(), target.Memory());
    return true;
  }
  TInternalFields fields;
  plat::TIndexDefs indexes;
  if (op != ddCreateTable) {
    table.Open();
    fields.Assign(&table.TableDef().InternalFields());
    indexes.Assign(&table.IndexDefs());
    table.Close();
  }
  if (!parser.ValidateTableChanges(fields, &indexes)) return Fail(parser.GetErrorMsg());
  if (op == ddCreateTable) {
    const TInternalFields& added = parser.AddedFields();
    for (int32_t i = 0; i < added.Count(); ++i) {
      const TInternalFieldItem* item = added.GetIndex(i);
      table.FieldDefs().Add(item->FieldName(), item->DataType(), item->FieldSize(),
                            item->Required());
    }
    if (!parser.IndexName().empty() || parser.IndexOptions().Contains(plat::ixPrimary))
      table.IndexDefs().Add(parser.IndexName(), parser.GetIndexFieldsAsText(),
                            parser.IndexOptions());
    return table.CreateTable();
  }
  parser.SetRestructureFieldDefs(table.RestructureFieldDefs());
  parser.SetRestructureIndexDefs(table.RestructureIndexDefs());
  table.RestructureTable(TInternalRestructureRecord{});
  return true;
}

// ---------------------------------------------------------------- kept statements

bool TZelQueryProvider::TablesUnchanged() {
  if (Database_ == nullptr || !Database_->Connected()) return false;
  for (const auto& item : Items_) {
    const TTableList& list = *item->Engine().TableList();
    for (int32_t i = 0; i < list.Count(); ++i)
      if (!TableUnchanged(*list.Items(i))) return false;
  }
  return true;
}

bool TZelQueryProvider::TableUnchanged(const TTableNameItem& Table) {
  TZelDataBase& db = *Database_;
  if (!Table.Memory() && !db.IsMemoryDatabase() && !db.Exclusive()) return true;
  const auto find = [&](bool Memory, TTableDef& Def) {
    try {
      db.QueryTableDef(Table.TableName(), Memory, Def);
      return true;
    } catch (const EZelDatabaseError&) {
      return false;
    }
  };
  TTableDef def;
  if (!find(Table.Memory(), def)) return false;
  // A disk table comes first where the statement did not say memory.
  TTableDef disk;
  if (Table.Memory() && !Table.MemorySpecified() && !db.IsMemoryDatabase() && find(false, disk))
    return false;
  const TInternalFields& now = def.InternalFields();
  const TInternalFields& parsed = *Table.TableFields();
  if (now.Count() != parsed.Count()) return false;
  for (int32_t i = 0; i < now.Count(); ++i) {
    const TInternalFieldItem& a = *now.GetIndex(i);
    const TInternalFieldItem& b = *parsed.GetIndex(i);
    if (a.FieldName() != b.FieldName() || a.DataType() != b.DataType() ||
        a.FieldSize() != b.FieldSize() || a.FieldNo() != b.FieldNo() ||
        a.Required() != b.Required() || a.NumDecimalPlaces() != b.NumDecimalPlaces())
      return false;
  }
  return true;
}

void TZelQueryProvider::CloseTarget() {
  if (!Items_.empty() && Items_[0]->GetSQLStatementType() == zsSQLInsert) Items_[0]->ResultSet_->Close();
}

bool TZelQueryProvider::PlanKeepable() const { return Items_.size() == 1 && Items_[0]->PlanKeepable(); }

void TZelQueryProvider::ReleasePlans(bool KeepOpen) {
  const bool keep = KeepOpen && PlanKeepable();
  for (const auto& item : Items_) {
    item->ReleaseKeptRows();
    if (item->RowSource_ == nullptr) continue;
    if (item->ResultSet_->RowSource() == item->RowSource_.get()) item->ResultSet_->SetRowSource(nullptr);
    if (!keep) item->DropRowSource();
  }
  // The result table a kept plan left open.
  if (!keep && !Items_.empty() && Items_[0]->GetSQLStatementType() == zsSQLSelect &&
      Items_[0]->ResultSet_->Active())
    Items_[0]->ResultSet_->Close();
}

}  // namespace zel
