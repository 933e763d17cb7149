#pragma once
// The query component's fixture: a disk database made for each test, ended
// by the integrity checker, with a query on it and readers of its tables and
// of query results.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/sql/zelSQL.h"
#include "support/DatabaseCheck.h"
#include "support/TestDir.h"

namespace zel::querytest {

// The rows of an open query: "1,x;2,null".
inline std::string Browse(TZelQuery& Q) {
  std::string out;
  for (Q.First(); !Q.Eof(); Q.Next()) {
    if (!out.empty()) out += ";";
    for (int32_t i = 0; i < Q.FieldCount(); ++i) {
      plat::TField* f = Q.Fields().Fields(i);
      if (!f->Visible()) continue;
      out += (i ? "," : "") + (f->IsNull() ? std::string("null") : f->AsString());
    }
  }
  return out;
}

class Query : public ::testing::Test {
 protected:
  void SetUp() override {
    Db.SetDataBaseName(File());
    Db.CreateDatabase();
    Db.SetConnected(true);
    Q.SetDataBase(&Db);
  }

  void TearDown() override {
    Q.Close();
    if (Db.InTransaction()) Db.Rollback();
    Db.SetConnected(false);
    EXPECT_TRUE(testsupport::DatabaseIsIntact(File()));
  }

  std::string File() const { return Dir.File("sql.zel"); }

  void Exec(const std::string& Text) {
    Q.SQL().SetText(Text);
    Q.ExecSQL();
  }

  std::unique_ptr<TZelTable> Table(const std::string& Name, bool Memory = false) {
    auto t = std::make_unique<TZelTable>();
    t->SetDataBase(&Db);
    t->SetTableName(Name);
    t->SetMemory(Memory);
    return t;
  }

  // The rows of a table in its primary order: "1,x;2,null".
  std::string Rows(const std::string& Name, bool Memory = false) {
    auto t = Table(Name, Memory);
    t->Open();
    std::string out;
    for (t->First(); !t->Eof(); t->Next()) {
      if (!out.empty()) out += ";";
      for (int32_t i = 0; i < t->FieldCount(); ++i) {
        plat::TField* f = t->Fields().Fields(i);
        out += (i ? "," : "") + (f->IsNull() ? std::string("null") : f->AsString());
      }
    }
    return out;
  }

  // Columns and indexes: "a:Integer b:String(10) | ib[b]".
  std::string Structure(const std::string& Name) {
    auto t = Table(Name);
    t->Open();
    std::string out;
    for (int32_t i = 0; i < t->FieldDefs().Count(); ++i) {
      const plat::TFieldDef* d = t->FieldDefs().Items(i);
      out += (i ? " " : "") + d->Name() + ":" + std::string(plat::FieldTypeNames[d->DataType()]);
      if (d->DataType() == plat::ftString) out += "(" + std::to_string(d->Size()) + ")";
    }
    out += " |";
    for (int32_t i = 0; i < t->IndexDefs().Count(); ++i) {
      const plat::TIndexDef* d = t->IndexDefs().Items(i);
      out += " " + d->Name() + "[" + d->Fields() + "]";
    }
    return out;
  }

  bool Exists(const std::string& Name) { return Table(Name)->Exists(); }

  // The rows of a SELECT run by a query of its own.
  std::string Select(const std::string& Text) {
    TZelQuery s;
    s.SetDataBase(&Db);
    s.SQL().SetText(Text);
    s.Open();
    const std::string rows = Browse(s);
    s.Close();
    return rows;
  }

  // The memory tables that hold query results.
  std::vector<std::string> ResultTables() {
    plat::TStringList names;
    Db.GetTableNames(names, true);
    std::vector<std::string> out;
    for (int32_t i = 0; i < names.Count(); ++i)
      if (names.Strings(i).rfind("$Q", 0) == 0) out.push_back(names.Strings(i));
    return out;
  }

  testsupport::TempDir Dir;
  TZelDataBase Db;
  TZelQuery Q;
};

}  // namespace zel::querytest
