// SELECT statements through the query provider over a memory database of
// two tables with Nulls, from the case files; result names, indexes and the
// accumulators on their own.
//
// Each test runs twice: with the planner's row sources, and with a
// reference row source written here (the cross product of the statement's
// tables, filtered by the ON conditions of inner joins and the whole WHERE
// condition; outer joins are the planner's alone).

#include "engine/sql/zelQueryProvider.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/dataset/zelDatabase.h"
#include "engine/dataset/zelDatabaseTable.h"
#include "engine/storage/zelIndexKeys.h"
#include "platform/db/Params.h"
#include "support/DatabaseCheck.h"
#include "support/TestDir.h"
#include "tests/engine/sql/zelSqlCaseRunner.h"

namespace zel {
namespace {

// One table of the statement: its rows read once, and the current one.
class TableRows : public TZelExprDataProvider {
 public:
  TableRows(TZelDataBase& Db, const TTableNameItem& Item)
      : Name_(Item.TableName()), Correlation_(Item.CorrelationName()) {
    TZelTable table;
    table.SetDataBase(&Db);
    table.SetMemory(Item.Memory());
    table.SetTableName(Item.TableName());
    table.Open();
    for (int32_t i = 0; i < table.GetInternalFieldCount(); ++i) {
      TInternalFieldItem* f = ProviderFields()->Add();
      f->SetFieldName(table.GetInternalField(i)->FieldName());
      f->SetDataType(table.GetInternalField(i)->DataType());
      f->SetFieldSize(table.GetInternalField(i)->FieldSize());
      f->SetFieldNo(i + 1);
    }
    for (bool more = table.DataSetFirst(); more; more = table.DataSetNext()) {
      std::vector<plat::Variant> row;
      for (int32_t i = 0; i < table.GetInternalFieldCount(); ++i)
        row.push_back(table.IsFieldBlob(i) ? plat::Variant() : table.DataSetGetFieldDataAsVariant(i));
      Rows.push_back(row);
      Addrs.push_back(ix::LoadU32(table.RecordBuffer() + table.RecordSize() + rbRecAddr));
      Stamps.push_back(ix::LoadU32(table.RecordBuffer() + rpModificationStamp));
    }
    table.Close();
  }
  plat::Variant GetDataAsVariant(int32_t FieldNo) override {
    return Current < Rows.size() ? Rows[Current][static_cast<std::size_t>(FieldNo - 1)] : plat::Variant();
  }
  bool Named(const std::string& Name) const {
    return plat::AnsiSameText(Name, Name_) ||
           (!Correlation_.empty() && plat::AnsiSameText(Name, Correlation_));
  }

  std::vector<std::vector<plat::Variant>> Rows;
  std::vector<uint32_t> Addrs, Stamps;
  std::size_t Current = 0;

 private:
  std::string Name_, Correlation_;
};

// The cross product of the tables; its fields are theirs, in order.
class CrossRows : public TZelExprDataProvider, public TZelResultRowSource {
 public:
  CrossRows(TZelDataBase& Db, TZelQueryProviderItem& Item) {
    TTableList& list = *Item.Engine().TableList();
    for (int32_t t = 0; t < list.Count(); ++t) {
      Tables_.push_back(std::make_unique<TableRows>(Db, *list.Items(t)));
      for (int32_t i = 0; i < Tables_.back()->ProviderFields()->Count(); ++i) {
        TInternalFieldItem* f = ProviderFields()->Add();
        f->Assign(Tables_.back()->ProviderFields()->GetIndex(i));
        f->SetFieldNo(ProviderFields()->Count());
        Map_.push_back({t, i + 1});
      }
    }
    const TZelDBStringCompare compare = Item.ResultSet().GetDBStringCompare();
    SetDBStringCompare(compare);
    for (auto& t : Tables_) t->SetDBStringCompare(compare);
    const auto condition = [&](TZelExprNode* Root) {
      Conditions_.push_back(std::make_unique<TExprEvaluator>());
      Conditions_.back()->SetExcludeRelopNulls(true);
      Conditions_.back()->Prepare(this, Root);
    };
    if (Item.WhereExpr() != nullptr) condition(Item.WhereExpr()->FirstNode());
    for (const auto& node : Item.Engine().FromParser().Nodes())
      if (node->JoinType() == trInnerJoin && node->Expr() != nullptr && node->Expr()->FirstNode())
        condition(node->Expr()->FirstNode());
  }
  plat::Variant GetDataAsVariant(int32_t FieldNo) override {
    const auto [t, no] = Map_[static_cast<std::size_t>(FieldNo - 1)];
    return Tables_[static_cast<std::size_t>(t)]->GetDataAsVariant(no);
  }
  TZelExprDataProvider* FindProvider(const std::string& Name) override {
    for (auto& t : Tables_)
      if (t->Named(Name)) return t.get();
    return Name.empty() ? this : nullptr;
  }
  bool FirstRow() override {
    for (auto& t : Tables_) {
      t->Current = 0;
      if (t->Rows.empty()) return false;
    }
    return Tables_.empty() ? false : Passes() || NextRow();
  }
  bool NextRow() override {
    while (Advance())
      if (Passes()) return true;
    return false;
  }
  TZelExprDataProvider* RootProvider() override { return this; }
  bool IsSingleTable() override { return Tables_.size() == 1; }
  uint32_t GetRecAddr() override { return Tables_[0]->Addrs[Tables_[0]->Current]; }
  uint32_t GetRecModFlag() override { return Tables_[0]->Stamps[Tables_[0]->Current]; }
  int32_t GetKnownRecordCount() override {
    return !Conditions_.empty() ? -1 : static_cast<int32_t>(Tables_[0]->Rows.size());
  }

 private:
  bool Advance() {
    for (std::size_t i = Tables_.size(); i-- > 0;) {
      if (++Tables_[i]->Current < Tables_[i]->Rows.size()) return true;
      Tables_[i]->Current = 0;
    }
    return false;
  }
  bool Passes() {
    for (auto& c : Conditions_) {
      c->Reset();
      if (!c->Evaluate()) return false;
    }
    return true;
  }

  std::vector<std::unique_ptr<TableRows>> Tables_;
  std::vector<std::pair<int32_t, int32_t>> Map_;
  std::vector<std::unique_ptr<TExprEvaluator>> Conditions_;
};

struct Column {
  const char* Name;
  plat::TFieldType Type;
  int32_t Size;
};

struct Index {
  const char* Name;
  const char* Fields;
  plat::TIndexOptions Options;
};

void MakeTable(TZelDataBase& Db, bool Memory, const std::string& Name,
               const std::vector<Column>& Columns,
               const std::vector<std::vector<plat::Variant>>& Rows,
               const std::vector<Index>& Indexes = {}) {
  TZelTable t;
  t.SetDataBase(&Db);
  t.SetMemory(Memory);
  t.SetTableName(Name);
  for (const Column& c : Columns) t.FieldDefs().Add(c.Name, c.Type, c.Size, false);
  for (const Index& i : Indexes) {
    plat::TIndexDef* def = t.IndexDefs().AddIndexDef();
    def->SetName(i.Name);
    def->SetFields(i.Fields);
    def->SetOptions(i.Options);
  }
  t.CreateTable();
  t.Open();
  for (const auto& row : Rows) {
    t.Append();
    for (std::size_t i = 0; i < row.size(); ++i)
      t.Fields().Fields(static_cast<int32_t>(i))->SetValue(row[i]);
    t.Post();
  }
  t.Close();
}

std::unique_ptr<TZelResultRowSource> CrossRowsOf(TZelDataBase& Db, TZelQueryProviderItem& Item) {
  return std::make_unique<CrossRows>(Db, Item);
}

class QueryProviderTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    Db.SetDataBaseName("MEMORY");
    Db.SetConnected(true);
    MakeTable(Db, true, "emp", {{"id", plat::ftInteger, 0}, {"name", plat::ftString, 20},
                      {"salary", plat::ftFloat, 0}, {"dept_id", plat::ftInteger, 0}},
              {{1, "Ann", 3000.0, 10},
               {2, "Bob", 2500.0, 20},
               {3, "Cid", plat::Null(), 10},
               {4, "Dee", 4000.0, plat::Null()},
               {5, "eve", 2500.0, 20},
               {6, plat::Null(), 1000.0, 30}},
              {{"pk", "id", {plat::ixPrimary, plat::ixUnique}}, {"by_dept", "dept_id", {}}});
    MakeTable(Db, true, "dept", {{"dept_id", plat::ftInteger, 0}, {"dname", plat::ftString, 10}},
              {{10, "Sales"}, {20, "Dev"}, {40, plat::Null()}},
              {{"pk", "dept_id", {plat::ixPrimary, plat::ixUnique}}});
    Provider.SetDatabase(&Db);
    Provider.SetParams(&Params);
    if (GetParam())
      Provider.SetRowSourceFactory([this](TZelQueryProviderItem& item) { return CrossRowsOf(Db, item); });
  }

  void TearDown() override {
    DropResult(Provider);
    Provider.SetSQL("");
    plat::TStringList names;
    Db.GetTableNames(names, true);
    EXPECT_EQ(names.Count(), 2) << names.Text();
    Db.SetConnected(false);
  }

  // The statement's result table is its owner's to drop (the query
  // component's), as are those of the queries here.
  void DropResult(TZelQueryProvider& P) {
    if (P.Count() == 0 || !P.Items(0)->ResultTableCreated()) return;
    P.GetResultSet()->Close();
    Db.DeleteTable(P.Items(0)->ResultTableName(), true);
  }

  // The rows of a SELECT, each "a|b|c"; a failed step throws its errors.
  std::vector<std::string> Select(const std::string& Text, int32_t MaxRecords = 0) {
    DropResult(Provider);
    Provider.SetSQL(Text);
    Provider.SetMaxRecords(MaxRecords);
    if (!Provider.ValidateSQL()) throw std::runtime_error(Provider.GetErrorsAsText());
    for (int32_t i = 0; i < Params.Count(); ++i) {
      const auto it = ParamValues.find(Params.Items(i)->Name());
      if (it != ParamValues.end()) Params.Items(i)->SetValue(it->second);
    }
    if (!Provider.PreparePlan() || !Provider.CreateResultSet())
      throw std::runtime_error(Provider.GetErrorsAsText());
    return Rows();
  }

  // The rows of the statement's result.
  std::vector<std::string> Rows() {
    TZelQueryDataset& ds = *Provider.GetResultSet();
    std::vector<std::string> rows;
    if (!ds.Active()) return rows;
    for (ds.First(); !ds.Eof(); ds.Next()) {
      std::string row;
      for (int32_t i = 0; i < ds.Fields().Count(); ++i) {
        if (!ds.Fields().Fields(i)->Visible()) continue;
        row += (row.empty() && i == 0 ? "" : "|") + testing::SqlCaseValue(ds.Fields().Fields(i)->Value());
      }
      rows.push_back(row);
    }
    return rows;
  }

  TZelDataBase Db;
  plat::TParams Params;
  std::map<std::string, plat::Variant> ParamValues;
  TZelQueryProvider Provider;
};

bool ListHasName(const plat::TStrings& List, const std::string& Name) {
  for (int32_t i = 0; i < List.Count(); ++i)
    if (List.Strings(i) == Name) return true;
  return false;
}

TEST_P(QueryProviderTest, CaseFiles) {
  testing::RunSqlCaseFiles({"select.sql", "aggregates.sql"}, [this](const testing::SqlCase& c) {
    int32_t max = 0;
    ParamValues.clear();
    for (const std::string& o : c.Options) {
      const std::size_t space = o.find(' ');
      const std::string key = o.substr(0, space), value = o.substr(space + 1);
      if (key == "maxrecords") max = std::stoi(value);
      if (key == "param") {
        const std::size_t eq = value.find('=');
        ParamValues[value.substr(0, eq)] = plat::Variant(value.substr(eq + 1));
      }
    }
    return Select(c.Statement, max);
  });
}

TEST_P(QueryProviderTest, ResultColumnsIndexesAndNames) {
  Select("SELECT DISTINCT name, id, name, name FROM emp ORDER BY 2 DESC, 1");
  TZelQueryDataset& ds = *Provider.GetResultSet();
  std::vector<std::string> names;
  for (int32_t i = 0; i < ds.FieldDefs().Count(); ++i) names.push_back(ds.FieldDefs().Items(i)->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"name", "id", "name_1", "name_1_2"}));
  const plat::TIndexDef* order = ds.IndexDefs().Find("idxorderby");
  ASSERT_NE(order, nullptr);
  EXPECT_EQ(order->Fields(), "id;name");
  EXPECT_EQ(order->DescFields(), "id");
  const plat::TIndexDef* distinct = ds.IndexDefs().Find("idxdistinct");
  ASSERT_NE(distinct, nullptr);
  EXPECT_EQ(distinct->Fields(), "name;id;name_1;name_1_2");
  // The name is "$Q", four digits of the item and eight random ones.
  const std::string table = Provider.Items(0)->ResultTableName();
  EXPECT_EQ(table.size(), 14u);
  EXPECT_EQ(table.substr(0, 6), "$Q0000");
}

TEST_P(QueryProviderTest, ResultTableNamesNeverCollide) {
  std::set<std::string> names;
  for (int i = 0; i < 200; ++i) names.insert(Provider.NewResultTableName(1));
  EXPECT_EQ(names.size(), 200u);
  // A second provider's result stays when the first one's goes.
  TZelQueryProvider other;
  other.SetDatabase(&Db);
  other.SetRowSourceFactory(Provider.RowSourceFactory());
  other.SetSQL("SELECT id FROM emp");
  ASSERT_TRUE(other.ValidateSQL() && other.PreparePlan() && other.CreateResultSet());
  Select("SELECT name FROM emp");
  EXPECT_NE(other.Items(0)->ResultTableName(), Provider.Items(0)->ResultTableName());
  DropResult(Provider);
  Provider.SetSQL("");
  EXPECT_TRUE(other.GetResultSet()->Active());
  EXPECT_EQ(other.GetResultSet()->RecordCount(), 6);
  DropResult(other);
  // A table that took the drawn name before the result was made keeps it.
  other.SetSQL("SELECT id FROM emp");
  ASSERT_TRUE(other.ValidateSQL() && other.PreparePlan());
  const std::string drawn = other.Items(0)->ResultTableName();
  MakeTable(Db, true, drawn, {{"x", plat::ftInteger, 0}}, {{7}});
  ASSERT_TRUE(other.CreateResultSet());
  EXPECT_NE(other.Items(0)->ResultTableName(), drawn);
  EXPECT_EQ(other.GetResultSet()->RecordCount(), 6);
  DropResult(other);
  Db.DeleteTable(drawn, true);
}

TEST_P(QueryProviderTest, LiveResultOfOneTable) {
  Provider.SetRequestLive(true);
  Select("SELECT id, name, salary * 2 FROM emp WHERE id = 2");
  EXPECT_TRUE(Provider.GetIsLiveRequest());
  TZelQueryDataset& ds = *Provider.GetResultSet();
  EXPECT_FALSE(ds.Fields().Fields(0)->ReadOnly());
  EXPECT_TRUE(ds.Fields().Fields(2)->ReadOnly());
  EXPECT_FALSE(ds.FieldByName("__RecAddr")->Visible());
  // The hidden columns name the source row; the bridge maps the table's
  // fields back to the plain columns.
  TZelDatasetBridge bridge;
  Provider.SetLiveResultBridge(bridge);
  std::vector<std::string> mapping;
  for (int32_t i = 0; i < bridge.GetInternalFieldCount(); ++i)
    mapping.push_back(bridge.GetInternalField(i)->SourceField());
  EXPECT_EQ(mapping, (std::vector<std::string>{"id", "name", "-1", "-1"}));
  const auto addr = static_cast<uint32_t>(ds.FieldByName("__RecAddr")->AsInteger());
  const auto stamp = static_cast<uint32_t>(ds.FieldByName("__RecModFlag")->AsInteger());
  // An edit posted the way the query component posts it: the source row is
  // checked, then changed through the mapping.
  bridge.MoveToRecAddrAndValidate(addr, stamp);
  bridge.DataSetSetFieldDataAsVariant(bridge.GetFieldNo("name"), plat::Variant("Bobby"));
  bridge.UpdateRecord();
  EXPECT_EQ(Select("SELECT name FROM emp WHERE id = 2"), std::vector<std::string>{"Bobby"});
  // The result row read before that change is stale now.
  try {
    bridge.MoveToRecAddrAndValidate(addr, stamp);
    ADD_FAILURE() << "a stale live row was accepted";
  } catch (const EZelDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 0x2204);
  }
  bridge.CloseBridge();
  for (const char* text : {"SELECT dept_id, COUNT(*) FROM emp GROUP BY dept_id",
                           "SELECT DISTINCT name FROM emp",
                           "SELECT e.name FROM emp e, dept d WHERE e.dept_id = d.dept_id"}) {
    Select(text);
    EXPECT_FALSE(Provider.GetIsLiveRequest()) << text;
    EXPECT_EQ(Provider.GetResultSet()->FindField("__RecAddr"), nullptr) << text;
  }
  Provider.SetRequestLive(false);
}

// A blob column comes through with its bytes (the reference source reads
// no blobs).
TEST_P(QueryProviderTest, BlobColumns) {
  if (GetParam()) return;
  MakeTable(Db, true, "notes", {{"id", plat::ftInteger, 0}, {"text", plat::ftMemo, 0}},
            {{1, std::string(5000, 'x')}, {2, plat::Null()}});
  const std::vector<std::string> rows = Select("SELECT id, text FROM notes ORDER BY id");
  EXPECT_EQ(rows, (std::vector<std::string>{"1|" + std::string(5000, 'x'), "2|NULL"}));
  DropResult(Provider);
  Provider.SetSQL("");
  Db.DeleteTable("notes", true);
}

// The row operations of INSERT, UPDATE and DELETE on a target table (they
// need no row source: run once).
TEST_P(QueryProviderTest, RowOperationsOnATable) {
  if (GetParam()) return;
  TZelQueryDataset target;
  target.SetDataBase(&Db);
  target.SetMemory(true);
  target.SetTableName("dept");
  TResultSetFields values;
  TResultSetField* name = values.Add();
  name->FieldName = "dname";
  name->Value = plat::Variant("Ops");
  TResultSetField* no = values.Add();
  no->FieldName = "dept_id";
  no->Value = plat::Variant(50);
  target.Open();
  target.InsertRow(target.TargetFieldNos({"dname", "dept_id"}, "test"),
                   {plat::Variant("Ops"), plat::Variant(50)});
  EXPECT_EQ(target.GetRowsAffected(), 1);
  target.Close();
  // Rows of another result go in by the names of the fields, in order.
  Select("SELECT dname, dept_id + 100 FROM dept WHERE dept_id < 30");
  target.Open();
  target.InsertDataFromDataset(values, *Provider.GetResultSet(), true, false);
  EXPECT_EQ(target.GetRowsAffected(), 2);
  EXPECT_EQ(Select("SELECT dept_id, dname FROM dept WHERE dept_id > 40 ORDER BY 1"),
            (std::vector<std::string>{"50|Ops", "110|Sales", "120|Dev"}));
  // Every row gets the SET values; the listed rows go.
  TZelUpdateRowConstructor set;
  TZelUpdateRowConstructorElement* element = set.Add();
  element->SetTargetColumnName("dname");
  element->SetData(plat::Variant("X"));
  target.UpdateData(true, {}, set);
  EXPECT_EQ(target.GetRowsAffected(), 6);
  std::vector<uint32_t> rows;
  for (bool more = target.DataSetFirst(); more; more = target.DataSetNext())
    if (target.DataSetGetFieldDataAsVariant(0).AsInteger() > 40)
      rows.push_back(ix::LoadU32(target.RecordBuffer() + target.RecordSize() + rbRecAddr));
  target.DeleteData(false, rows);
  EXPECT_EQ(target.GetRowsAffected(), 3);
  EXPECT_EQ(Select("SELECT dept_id, dname FROM dept"),
            (std::vector<std::string>{"10|X", "20|X", "40|X"}));
  std::vector<uint32_t> all;
  target.DeleteData(true, all);
  EXPECT_EQ(target.GetRowsAffected(), 3);
  EXPECT_EQ(target.GetTotalRecordCount(), 0);
  target.Close();
}

// A statement with subqueries and UNION parts is planned and built again
// without being parsed anew (a refresh); only the statement's own result
// table stays in the database.
TEST_P(QueryProviderTest, BuiltAgainWithoutParsing) {
  for (const char* text :
       {"SELECT id FROM emp WHERE dept_id IN (SELECT dept_id FROM dept WHERE dname = 'Sales')",
        "SELECT id FROM emp e WHERE EXISTS (SELECT dept_id FROM dept WHERE dept_id = e.dept_id)",
        "SELECT dept_id FROM dept UNION SELECT dept_id FROM emp ORDER BY 1"}) {
    const std::vector<std::string> first = Select(text);
    plat::TStringList names;
    Db.GetTableNames(names, true);
    EXPECT_EQ(names.Count(), 3) << text;
    ASSERT_TRUE(Provider.PreparePlan() && Provider.CreateResultSet()) << text;
    EXPECT_EQ(Rows(), first) << text;
    names.Clear();
    Db.GetTableNames(names, true);
    EXPECT_EQ(names.Count(), 3) << text;
  }
}

TEST_P(QueryProviderTest, DefinitionsOnly) {
  Provider.SetCreateDefsOnly(true);
  Select("SELECT id, name FROM emp");
  EXPECT_EQ(Provider.GetResultSet()->FieldDefs().Count(), 2);
  EXPECT_FALSE(Provider.GetResultSet()->Active());
  plat::TStringList names;
  Db.GetTableNames(names, true);
  EXPECT_TRUE(ListHasName(names, Provider.Items(0)->ResultTableName()));
  Provider.SetCreateDefsOnly(false);
}

// Each kind of statement is checked against the database's tables; the
// error text joins every line, each followed by ". ".
TEST_P(QueryProviderTest, ValidationByStatementKind) {
  struct Case {
    const char* Text;
    const char* Errors;  // "" when the statement is valid
    int32_t Items;       // items after validation
  } cases[] = {
      {"", "SQL statment is empty. ", 1},
      {"SELECT id FROM nosuch1, emp, nosuch2",
       "Table not found - nosuch1. Table not found - nosuch2. ", 1},
      {"INSERT INTO emp (id, name) VALUES (7, 'Gus')", "", 1},
      {"INSERT INTO nosuch (id) VALUES (7)", "Table not found - nosuch. ", 1},
      {"INSERT INTO emp (id) SELECT dept_id FROM dept", "", 2},
      {"DELETE FROM emp WHERE id = 1", "", 2},
      {"DELETE FROM emp", "", 1},
      {"UPDATE emp SET salary = 1 WHERE id = 2", "", 2},
      {"UPDATE nosuch SET salary = 1",
       "Table not found - nosuch. Table and/or field not found Line 1, Character 15. Token 'SET'. ", 1},
      {"CREATE TABLE emp (x INTEGER)", "Table already exists: emp. ", 1},
      {"CREATE TABLE t2 (x INTEGER)", "", 1},
      {"DROP TABLE nosuch", "Table not found: nosuch. ", 1},
      {"DROP TABLE dept", "", 1},
  };
  for (const Case& c : cases) {
    Provider.SetSQL(c.Text);
    const bool ok = Provider.ValidateSQL();
    EXPECT_EQ(ok, std::string(c.Errors).empty()) << c.Text;
    EXPECT_EQ(Provider.GetErrorsAsText(), c.Errors) << c.Text;
    EXPECT_EQ(Provider.Count(), c.Items) << c.Text;
    if (ok) {
      EXPECT_TRUE(Provider.PreparePlan()) << c.Text;
    }
  }
}

// The WHERE clause of a DELETE picks the rows of its table by address.
TEST_P(QueryProviderTest, RowListOfDelete) {
  Provider.SetSQL("DELETE FROM emp WHERE salary > 2600");
  ASSERT_TRUE(Provider.ValidateSQL()) << Provider.GetErrorsAsText();
  ASSERT_TRUE(Provider.PreparePlan()) << Provider.GetErrorsAsText();
  ASSERT_EQ(Provider.Count(), 2);
  EXPECT_TRUE(Provider.Items(1)->WhereOnly());
  // The rows are chosen when the statement runs, which plans its WHERE.
  ASSERT_TRUE(Provider.Items(1)->Prepare()) << Provider.GetErrorsAsText();
  std::vector<uint32_t> rows;
  Provider.Items(1)->CreateResultList(rows);
  EXPECT_EQ(rows.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(RowSources, QueryProviderTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Reference" : "Planned");
                         });

// A table on disk is found before a memory table of the same name, unless
// the statement asks for the memory table.
TEST(QueryProviderDiskTest, DiskTablesFirst) {
  testsupport::TempDir dir;
  {
    TZelDataBase db;
    db.SetDirectory(dir.Path());
    db.SetDataBaseName("q.zel");
    db.CreateDatabase();
    db.SetConnected(true);
    const std::vector<Column> columns = {{"id", plat::ftInteger, 0}};
    MakeTable(db, false, "t", columns, {{1}, {2}});
    MakeTable(db, true, "t", columns, {{3}});
    TZelQueryProvider provider;
    provider.SetDatabase(&db);
    for (const auto& [text, count] :
         std::vector<std::pair<std::string, int32_t>>{{"SELECT COUNT(*) FROM t", 2},
                                                      {"SELECT COUNT(*) FROM TEMPORARY t", 1}}) {
      provider.SetSQL(text);
      ASSERT_TRUE(provider.ValidateSQL() && provider.PreparePlan() && provider.CreateResultSet())
          << provider.GetErrorsAsText();
      EXPECT_EQ(provider.GetResultSet()->Fields().Fields(0)->AsInteger(), count) << text;
      provider.GetResultSet()->Close();
      db.DeleteTable(provider.Items(0)->ResultTableName(), true);
    }
    provider.SetSQL("");
    db.SetConnected(false);
  }
  EXPECT_TRUE(testsupport::DatabaseIsIntact(dir.File("q.zel")));
}

TEST(FuncResultItemTest, AccumulatorsByFunction) {
  const TZelDBStringCompare compare = [](const char* A, const char* B, int32_t LA, int32_t LB,
                                         bool Partial, bool CI) {
    return DBANSICompareStrings(A, B, LA, LB, CI, Partial);
  };
  const plat::Variant N = plat::Null();
  struct Case {
    TZelSQLAggFunc Func;
    bool Distinct;
    plat::TFieldType Type;
    std::vector<plat::Variant> Values;
    std::string Expected;
  } cases[] = {
      {zafSum, false, plat::ftInteger, {}, "NULL"},
      {zafSum, false, plat::ftInteger, {N, N}, "NULL"},
      {zafAvg, false, plat::ftInteger, {1, 2}, "1.5"},
      {zafAvg, false, plat::ftInteger, {N}, "NULL"},
      {zafMin, false, plat::ftInteger, {}, "NULL"},
      {zafMax, false, plat::ftInteger, {3, N, 10, 2}, "10"},
      {zafMin, false, plat::ftString, {"b", "B", "a", "10"}, "10"},
      {zafMax, false, plat::ftString, {"b", "C", "a"}, "C"},
      {zafCount, false, plat::ftInteger, {1, N, 2}, "2"},
      {zafCount, true, plat::ftInteger, {1, 1, 2, N}, "2"},
      {zafSum, true, plat::ftInteger, {1, 1, 2, N}, "3"},
      {zafAvg, true, plat::ftInteger, {1, 1, 2}, "1.5"},
      {zafCount, false, plat::ftInteger, {}, "0"},
  };
  for (const Case& c : cases) {
    TFuncResultItem item(c.Func, c.Distinct, false, c.Type, &compare);
    for (const plat::Variant& v : c.Values) item.SetNewValue(v);
    EXPECT_EQ(testing::SqlCaseValue(item.GetResult()), c.Expected)
        << static_cast<int>(c.Func) << (c.Distinct ? " distinct" : "");
  }
  // Dates compare as dates and stay dates.
  for (const bool max : {false, true}) {
    TFuncResultItem item(max ? zafMax : zafMin, false, false, plat::ftDateTime, &compare);
    for (const double d : {45000.25, 9000.5, 120000.0}) item.SetNewValue(plat::Variant::FromDateTime(d));
    item.SetNewValue(N);
    EXPECT_EQ(item.GetResult().VarType(), plat::varDate);
    EXPECT_EQ(item.GetResult().AsDateTime(), max ? 120000.0 : 9000.5);
  }
  TFuncResultItem star(zafCount, false, true, plat::ftInteger, &compare);
  for (const plat::Variant& v : {plat::Variant(1), N, N}) star.SetNewValue(v);
  EXPECT_EQ(star.GetResult().AsInteger(), 3);
}

}  // namespace
}  // namespace zel
