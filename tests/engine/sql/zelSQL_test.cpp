// The query component on a disk database: schema statements with their
// exclusive reconnection, INSERT with parameters, scripts, the run's own
// transaction, the parameter list, its streaming, the master link, and IN
// and EXISTS subqueries.
#include "engine/sql/zelSQL.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/zelCommonError.h"
#include "platform/db/DataSource.h"
#include "platform/rtl/ComponentText.h"
#include "tests/engine/sql/zelQueryTestFixture.h"

namespace zel {
namespace {

// "ok <rows affected>", or the error code, its table message and the whole
// message.
std::string Outcome(TZelQuery& Q, const std::string& Text) {
  try {
    Q.SQL().SetText(Text);
    Q.ExecSQL();
    return "ok " + std::to_string(Q.RowsAffected());
  } catch (const EZelDatabaseError& e) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X ", static_cast<unsigned>(e.ErrorCode()));
    return code + e.TableMessage() + " | " + e.Message();
  }
}

using querytest::Browse;
using querytest::Query;

TEST(SQLScript, SplitsOnlyAtTheSemicolonsThatEndAStatement) {
  struct Case {
    std::string text;
    std::vector<std::string> pieces;
  } cases[] = {
      {"DELETE FROM t", {"DELETE FROM t"}},
      {"INSERT INTO t VALUES (1);", {"INSERT INTO t VALUES (1);"}},
      {"INSERT INTO t VALUES (1);  \n", {"INSERT INTO t VALUES (1);  \n"}},
      {"INSERT INTO t VALUES (1); INSERT INTO t VALUES (2)",
       {"INSERT INTO t VALUES (1);", "INSERT INTO t VALUES (2)"}},
      {"INSERT INTO t VALUES ('a;b');\nINSERT INTO t VALUES (2);",
       {"INSERT INTO t VALUES ('a;b');", "INSERT INTO t VALUES (2);"}},
      {"DELETE FROM emp /* keep; */ WHERE id = 1", {"DELETE FROM emp /* keep; */ WHERE id = 1"}},
      {"DELETE FROM \"odd;name\"; // done; really\nDELETE FROM u",
       {"DELETE FROM \"odd;name\";", "// done; really\nDELETE FROM u"}},
      {"DELETE FROM t;; ;DELETE FROM u", {"DELETE FROM t;", "DELETE FROM u"}},
      {"DELETE FROM t; /* only a comment */", {"DELETE FROM t; /* only a comment */"}},
      {"", {""}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitSQLScript(c.text), c.pieces) << c.text;
}

TEST_F(Query, SchemaStatementsChangeTheTableOrReportWhyNot) {
  Exec("CREATE TABLE t1 (a INTEGER NOT NULL, b VARCHAR(10), PRIMARY KEY (a))");
  Exec("INSERT INTO t1 VALUES (1, 'one')");
  Exec("INSERT INTO t1 VALUES (2, 'two')");
  ASSERT_EQ(Rows("t1"), "1,one;2,two");

  // Each statement runs on the table as the one before left it.
  struct Case {
    const char* sql;
    const char* outcome;    // "ok 0" or the start of the error
    const char* structure;  // afterwards
    const char* rows;       // afterwards
  } cases[] = {
      {"ALTER TABLE t1 ADD c INTEGER", "ok 0", "a:Integer b:String(10) c:Integer", "1,one,null;2,two,null"},
      {"ALTER TABLE t1 ADD c INTEGER", "0x25AD SQL Error", "a:Integer b:String(10) c:Integer", "1,one,null;2,two,null"},
      {"ALTER TABLE t1 ALTER b TO name", "ok 0", "a:Integer name:String(10) c:Integer", "1,one,null;2,two,null"},
      {"ALTER TABLE t1 DROP c", "ok 0", "a:Integer name:String(10)", "1,one;2,two"},
      {"CREATE INDEX iname ON t1 (name)", "ok 0", "a:Integer name:String(10)", "1,one;2,two"},
      {"CREATE INDEX iname ON t1 (a)", "0x25AD SQL Error", "a:Integer name:String(10)", "1,one;2,two"},
      {"DROP INDEX t1 nosuch", "0x25AD SQL Error", "a:Integer name:String(10)", "1,one;2,two"},
      {"DROP INDEX t1 iname", "ok 0", "a:Integer name:String(10)", "1,one;2,two"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(Outcome(Q, c.sql).substr(0, std::string(c.outcome).size()), c.outcome);
    const std::string s = Structure("t1");
    EXPECT_EQ(s.substr(0, s.find(" |")), c.structure);
    EXPECT_EQ(Rows("t1"), c.rows);
    EXPECT_FALSE(Db.InTransaction());
  }
  EXPECT_NE(Structure("t1").find("[a]"), std::string::npos) << "the primary index stays";

  EXPECT_EQ(Outcome(Q, "CREATE INDEX iname ON t1 (name)"), "ok 0");
  EXPECT_NE(Structure("t1").find("iname[name]"), std::string::npos);
  EXPECT_EQ(Outcome(Q, "DROP TABLE t1"), "ok 0");
  EXPECT_FALSE(Exists("t1"));
}

TEST_F(Query, SchemaErrorsCarryTheirMessageAndPosition) {
  Exec("CREATE TABLE t1 (a INTEGER, c INTEGER)");
  struct Case {
    const char* sql;
    const char* message;
  } cases[] = {
      {"CREATE TABLE t1 (x INTEGER)", "Table already exists: t1"},
      {"ALTER TABLE t1 ADD c INTEGER", "Field already exists : c Line 1, Character 20. Token 'c'"},
      {"ALTER TABLE t1 DROP x", "Field not found : x"},
      {"DROP INDEX t1 nosuch", "Index not found"},
      {"DROP TABLE nosuch", "Table not found: nosuch"},
      {"ALTER TABLE nosuch ADD x INTEGER", "Table not found: nosuch"},
      {"CREATE TABLE t2 x INTEGER", "Missing Left Parenthesis Line 1, Character 17. Token 'x'"},
      {"", "SQL statment is empty"},
      {"   \n ", "SQL statment is empty"},
      {"FROBNICATE t1", "Unrecognised SQL statement type"},
      {"SELECT a FROM t1", "SQL statement cannot be executed by ExecSQL"},
  };
  for (const Case& c : cases) {
    const std::string out = Outcome(Q, c.sql);
    EXPECT_EQ(out.rfind("0x25AD SQL Error", 0), 0u) << c.sql << ": " << out;
    EXPECT_NE(out.find(c.message), std::string::npos) << c.sql << ": " << out;
  }
  EXPECT_EQ(Structure("t1"), "a:Integer c:Integer |");
  EXPECT_FALSE(Exists("t2"));
}

TEST_F(Query, SchemaStatementsReconnectExclusivelyOnlyWhereNeededAndRestoreTheDatabase) {
  Exec("CREATE TABLE t1 (a INTEGER)");
  auto host = Table("t1");
  host->Open();
  // A new table needs no exclusive hold: the host's open table stays open.
  Exec("CREATE TABLE t2 (a INTEGER)");
  EXPECT_TRUE(host->Active());
  EXPECT_FALSE(Db.Exclusive());

  // A change of a disk table reconnects exclusively, which closes the
  // host's datasets, and then puts the database back as it was.
  Exec("ALTER TABLE t2 ADD b INTEGER");
  EXPECT_FALSE(host->Active());
  EXPECT_TRUE(Db.Connected());
  EXPECT_FALSE(Db.Exclusive());

  // The query connects a disconnected database for its run and leaves it
  // connected; the reconnection puts back the state it found.
  Db.SetConnected(false);
  Exec("CREATE INDEX ib ON t2 (b)");
  EXPECT_TRUE(Db.Connected());
  EXPECT_FALSE(Db.Exclusive());
  EXPECT_NE(Structure("t2").find("ib[b]"), std::string::npos);

  // A database held exclusively is used as it is.
  Db.SetConnected(false);
  Db.SetExclusive(true);
  Db.SetConnected(true);
  host->Open();
  Exec("DROP INDEX t2 ib");
  EXPECT_TRUE(host->Active());
  EXPECT_TRUE(Db.Exclusive());
  EXPECT_EQ(Structure("t2").find("ib[b]"), std::string::npos);

  // A memory table needs no reconnection either.
  Exec("CREATE TABLE TEMPORARY m (a INTEGER)");
  Exec("DROP TABLE TEMPORARY m");
  EXPECT_TRUE(host->Active());
  host->Close();
}

TEST_F(Query, SchemaStatementInsideTheHostsTransactionIsRefusedBeforeItRuns) {
  Exec("CREATE TABLE t1 (a INTEGER)");
  Db.StartTransaction();
  for (const char* sql : {"CREATE TABLE t2 (a INTEGER)", "ALTER TABLE t1 ADD b INTEGER", "DROP TABLE t1"})
    EXPECT_EQ(Outcome(Q, sql).substr(0, 6), "0x278A") << sql;
  EXPECT_TRUE(Db.InTransaction());
  Db.Rollback();
  EXPECT_FALSE(Exists("t2"));
  EXPECT_EQ(Structure("t1"), "a:Integer |");
}

TEST_F(Query, InsertTakesItsParametersAndNullsForMissingValues) {
  Exec("CREATE TABLE t1 (a INTEGER, b VARCHAR(10), c FLOAT, PRIMARY KEY (a))");
  Q.SQL().SetText("INSERT INTO t1 (a, b) VALUES (:a, :b)");
  ASSERT_EQ(Q.ParamCount(), 2);
  for (int32_t a : {1, 2, 3}) {
    Q.ParamByName("a")->SetAsInteger(a);
    Q.ParamByName("B")->SetAsString("v" + std::to_string(a));
    Q.ExecSQL();
    EXPECT_EQ(Q.RowsAffected(), 1);
  }
  EXPECT_EQ(Outcome(Q, "INSERT INTO t1 (c, a) VALUES (2.5, 10)"), "ok 1");
  EXPECT_EQ(Outcome(Q, "INSERT INTO t1 VALUES (11 + 1, 'x' || 'y', :c)"), "ok 1");
  EXPECT_EQ(Rows("t1"), "1,v1,null;2,v2,null;3,v3,null;10,null,2.5;12,xy,null");
  EXPECT_NE(Outcome(Q, "INSERT INTO t1 (a, c, b) VALUES (13, 2.5)")
                .find("Number of insert columns does not match number of insert values"),
            std::string::npos);
  EXPECT_THROW(Q.ParamByName("nosuch"), plat::EDatabaseError);
}

// A statement run again and again takes each run's parameters by name, the
// first of a name as the list stands at that run: also after the host
// reorders, renames or adds parameters between runs.
TEST_F(Query, ARepeatedInsertFindsItsParametersAsTheListStandsAtEachRun) {
  Exec("CREATE TABLE t1 (a INTEGER, b INTEGER, PRIMARY KEY (a))");
  Q.SQL().SetText("INSERT INTO t1 (b, a) VALUES (:b + 100, :a)");
  plat::TParams& params = Q.Params();
  ASSERT_EQ(params.Count(), 2);  // b, a
  const auto run = [&](int32_t A, int32_t B) {
    Q.ParamByName("a")->SetAsInteger(A);
    Q.ParamByName("b")->SetAsInteger(B);
    Q.ExecSQL();
  };
  Db.StartTransaction();
  run(1, 1);
  run(2, 2);
  params.Items(1)->SetIndex(0);  // a, b
  run(3, 3);
  params.Items(1)->SetName("B");
  run(4, 4);
  params.CreateParam(plat::ftInteger, "x", plat::ptInput);
  params.Items(2)->SetIndex(0);  // x, a, B
  run(5, 5);
  // An earlier parameter that takes the name is the one found.
  params.Items(0)->SetName("b");
  params.Items(0)->SetAsInteger(50);
  params.Items(1)->SetAsInteger(6);
  Q.ExecSQL();
  // A name no longer in the list is an error; the next run binds again.
  params.Items(0)->SetName("y");
  params.Items(1)->SetName("z");
  EXPECT_THROW(Q.ExecSQL(), plat::EDatabaseError);
  params.Items(1)->SetName("a");
  params.Items(1)->SetAsInteger(7);
  Q.ExecSQL();
  Db.Commit();
  EXPECT_EQ(Rows("t1"), "1,101;2,102;3,103;4,104;5,105;6,150;7,105");
}

TEST_F(Query, AFailedInsertLeavesTheTableAsItWasAndTheHostDecidesInItsTransaction) {
  Exec("CREATE TABLE t1 (a INTEGER, b VARCHAR(10), PRIMARY KEY (a))");
  Exec("INSERT INTO t1 VALUES (1, 'one')");
  // Its own transaction is rolled back.
  EXPECT_EQ(Outcome(Q, "INSERT INTO t1 VALUES (1, 'again')").substr(0, 6), "0x2601");
  EXPECT_FALSE(Db.InTransaction());
  EXPECT_EQ(Rows("t1"), "1,one");
  EXPECT_EQ(Outcome(Q, "INSERT INTO t1 (a, nosuch) VALUES (2, 3)").substr(0, 16), "0x25AD SQL Error");
  EXPECT_NE(Outcome(Q, "INSERT INTO nosuch VALUES (2)").find("Table not found - nosuch. "),
            std::string::npos);

  // Inside the host's transaction the error is raised and the host's
  // transaction goes on; the host commits or rolls back what it did.
  Db.StartTransaction();
  EXPECT_EQ(Outcome(Q, "INSERT INTO t1 VALUES (1, 'dup')").substr(0, 6), "0x2601");
  EXPECT_TRUE(Db.InTransaction());
  Db.Commit();
  EXPECT_EQ(Rows("t1"), "1,one");

  Db.StartTransaction();
  Exec("INSERT INTO t1 VALUES (3, 'three')");
  EXPECT_TRUE(Db.InTransaction());
  Db.Rollback();
  EXPECT_EQ(Rows("t1"), "1,one");
}

// Each statement opens the table afresh; what the one before it wrote in
// the host's transaction is still there (the cache keeps changed pages when
// a table is reopened).
TEST_F(Query, StatementsInTheHostsTransactionSeeEachOther) {
  Exec("CREATE TABLE t1 (a INTEGER, b VARCHAR(10), PRIMARY KEY (a))");
  Exec("INSERT INTO t1 VALUES (1, 'one')");
  Db.StartTransaction();
  Exec("INSERT INTO t1 VALUES (2, 'two')");
  EXPECT_EQ(Outcome(Q, "INSERT INTO t1 VALUES (3, 'three')"), "ok 1");
  Db.Commit();
  EXPECT_EQ(Rows("t1"), "1,one;2,two;3,three");
}

TEST_F(Query, AScriptRunsEachStatementOnceAndKeepsTheLastOne) {
  Exec("CREATE TABLE t1 (a INTEGER, b VARCHAR(20), PRIMARY KEY (a));\n"
       "INSERT INTO t1 VALUES (1, 'semi;colon');  /* not; a; statement */\n"
       "INSERT INTO t1 VALUES (2, 'it''s');\n"
       "// a comment; with semicolons\n"
       "INSERT INTO t1 VALUES (3, :b);");
  EXPECT_EQ(Q.SQL().Text(), "// a comment; with semicolons\nINSERT INTO t1 VALUES (3, :b);\n");
  EXPECT_EQ(Rows("t1"), "1,semi;colon;2,it's;3,null");

  // One statement ended by ";" runs once.
  EXPECT_EQ(Outcome(Q, "INSERT INTO t1 VALUES (4, 'four');"), "ok 1");
  EXPECT_EQ(Rows("t1"), "1,semi;colon;2,it's;3,null;4,four");

  // A parameter value given before the run reaches its statement.
  Q.SQL().SetText("INSERT INTO t1 VALUES (5, :b); CREATE TABLE t2 (x INTEGER); "
                  "INSERT INTO t1 VALUES (6, :b)");
  Q.ParamByName("b")->SetAsString("given");
  Q.ExecSQL();
  EXPECT_EQ(Rows("t1"), "1,semi;colon;2,it's;3,null;4,four;5,given;6,given");

  // A failing statement stops the script; what ran before it stays.
  EXPECT_EQ(Outcome(Q, "INSERT INTO t1 VALUES (7, 'x'); INSERT INTO t1 VALUES (1, 'dup'); "
                       "INSERT INTO t1 VALUES (8, 'y')").substr(0, 6),
            "0x2601");
  EXPECT_NE(Rows("t1").find("7,x"), std::string::npos);
  EXPECT_EQ(Rows("t1").find("8,y"), std::string::npos);
}

TEST_F(Query, OpenRefusesAStatementThatGivesNoRows) {
  Exec("CREATE TABLE t1 (a INTEGER)");
  Q.SQL().SetText("INSERT INTO t1 VALUES (1)");
  try {
    Q.Open();
    ADD_FAILURE() << "opened";
  } catch (const EZelDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 0x25AD);
    EXPECT_NE(e.Message().find("SQL statement cannot be opened (execute by ExecSQL)"), std::string::npos);
  }
  EXPECT_FALSE(Q.Active());
  EXPECT_EQ(Rows("t1"), "");

  TZelQuery lone;
  lone.SQL().SetText("CREATE TABLE t9 (a INTEGER)");
  for (auto action : {+[](TZelQuery& q) { q.ExecSQL(); }, +[](TZelQuery& q) { q.Prepare(); },
                      +[](TZelQuery& q) { q.Open(); }}) {
    try {
      action(lone);
      ADD_FAILURE() << "ran without a database";
    } catch (const EZelDatabaseError& e) {
      EXPECT_EQ(e.ErrorCode(), 0x2780);
    }
  }
}

TEST_F(Query, PrepareAndTheParameterListFollowTheText) {
  Exec("CREATE TABLE t1 (a INTEGER, b VARCHAR(10))");
  Q.SQL().SetText("INSERT INTO t1 VALUES (:a, :b)");
  Q.Prepare();
  EXPECT_TRUE(Q.Prepared());
  EXPECT_EQ(Q.GetSQLStatementType(), zsSQLInsert);
  Q.ParamByName("a")->SetAsInteger(7);
  // A new text unprepares; a parameter of the same name keeps its value.
  Q.SQL().SetText("INSERT INTO t1 (a) VALUES (:a)");
  EXPECT_FALSE(Q.Prepared());
  ASSERT_EQ(Q.ParamCount(), 1);
  EXPECT_EQ(Q.ParamByName("a")->AsInteger(), 7);
  Q.ExecSQL();
  EXPECT_EQ(Rows("t1"), "7,null");
  Q.SetPrepare(false);
  EXPECT_FALSE(Q.Prepared());

  // Without the parameter check the list is left to the host.
  Q.SetParamCheck(false);
  Q.Params().Clear();
  Q.SQL().SetText("INSERT INTO t1 VALUES (:x, :y)");
  EXPECT_EQ(Q.ParamCount(), 0);

  // A bad text is refused by Prepare with its message.
  Q.SetParamCheck(true);
  Q.SQL().SetText("INSERT INTO t1 (a) VALUES (1, 2)");
  EXPECT_THROW(Q.Prepare(), EZelDatabaseError);
  EXPECT_FALSE(Q.Prepared());
}

TEST_F(Query, ParametersAreStreamedOnlyWhenThereAreSome) {
  Exec("CREATE TABLE t1 (a INTEGER)");
  Q.SetName("Query1");
  Q.SQL().SetText("DROP TABLE t1");
  EXPECT_EQ(WriteComponentText(Q).find("ParamData"), std::string::npos);

  Q.SQL().SetText("INSERT INTO t1 VALUES (:a)");
  Q.ParamByName("a")->SetDataType(plat::ftInteger);
  const std::string text = plat::WriteComponentText(Q);
  EXPECT_NE(text.find("ParamData = <"), std::string::npos) << text;
  EXPECT_NE(text.find("SQL.Strings"), std::string::npos) << text;

  TZelQuery copy;
  plat::ReadComponentText(text, copy);
  EXPECT_EQ(copy.SQL().Text(), Q.SQL().Text());
  ASSERT_EQ(copy.ParamCount(), 1);
  EXPECT_EQ(copy.Params().Items(0)->Name(), "a");
  EXPECT_EQ(copy.Params().Items(0)->DataType(), plat::ftInteger);
}

TEST_F(Query, AMasterSourceFillsTheParametersTheHostLeftUnbound) {
  Exec("CREATE TABLE src (a INTEGER, b VARCHAR(10), PRIMARY KEY (a))");
  Exec("CREATE TABLE dst (a INTEGER, b VARCHAR(10), n INTEGER)");
  Exec("INSERT INTO src VALUES (1, 'one'); INSERT INTO src VALUES (2, 'two')");
  auto master = Table("src");
  master->Open();
  plat::TDataSource source(nullptr);
  source.SetDataSet(master.get());
  Q.SetDataSource(&source);
  EXPECT_EQ(Q.DataSource(), &source);
  Q.SQL().SetText("INSERT INTO dst VALUES (:a, :b, :n)");
  Q.ParamByName("n")->SetAsInteger(99);  // bound by the host: kept
  for (master->First(); !master->Eof(); master->Next()) Q.ExecSQL();
  EXPECT_EQ(Rows("dst"), "1,one,99;2,two,99");

  // A master without the parameter's field.
  Q.SQL().SetText("INSERT INTO dst (a) VALUES (:zz)");
  EXPECT_THROW(Q.ExecSQL(), plat::EDatabaseError);

  // The query cannot be its own master.
  plat::TDataSource own(nullptr);
  own.SetDataSet(&Q);
  EXPECT_THROW(Q.SetDataSource(&own), plat::EDatabaseError);
  Q.SetDataSource(nullptr);
  master->Close();
}

class QueryData : public Query {
 protected:
  void SetUp() override {
    Query::SetUp();
    Exec("CREATE TABLE dept (id INTEGER, name VARCHAR(10), PRIMARY KEY (id));"
         "CREATE TABLE emp (id INTEGER, name VARCHAR(10), dept INTEGER, pay FLOAT, PRIMARY KEY (id));"
         "INSERT INTO dept VALUES (1, 'Sales'); INSERT INTO dept VALUES (2, 'Dev');"
         "INSERT INTO dept VALUES (3, 'Ops');"
         "INSERT INTO emp VALUES (1, 'Ann', 1, 100); INSERT INTO emp VALUES (2, 'Bob', 2, 200);"
         "INSERT INTO emp VALUES (3, 'Cid', 2, 300); INSERT INTO emp VALUES (4, 'Dee', NULL, 400)");
  }
};

TEST_F(QueryData, StatementsChangeTheRowsTheySayAndCountThem) {
  struct Case {
    const char* sql;
    int32_t affected;
    const char* check;  // a SELECT
    const char* rows;
  } cases[] = {
      {"UPDATE emp SET pay = pay + 1 WHERE dept = 2", 2, "SELECT id, pay FROM emp ORDER BY id",
       "1,100;2,201;3,301;4,400"},
      {"UPDATE emp SET name = dept, dept = id WHERE id > 3", 1, "SELECT name, dept FROM emp WHERE id = 4",
       "null,4"},
      {"DELETE FROM emp /* keep; */ WHERE id = 1", 1, "SELECT id FROM emp ORDER BY id", "2;3;4"},
      {"UPDATE dept SET id = id + 100", 3, "SELECT id, name FROM dept ORDER BY id",
       "101,Sales;102,Dev;103,Ops"},
      {"INSERT INTO dept (id, name) SELECT id, name FROM emp WHERE pay > 250", 2,
       "SELECT id, name FROM dept ORDER BY id", "3,Cid;4,null;101,Sales;102,Dev;103,Ops"},
      {"DELETE FROM dept WHERE id IN (SELECT dept FROM emp)", 1, "SELECT id FROM dept ORDER BY id",
       "3;101;102;103"},
      {"DELETE FROM dept", 4, "SELECT COUNT(*) FROM dept", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(Outcome(Q, c.sql), "ok " + std::to_string(c.affected));
    EXPECT_EQ(Select(c.check), c.rows);
    EXPECT_FALSE(Db.InTransaction());
  }
}

TEST_F(QueryData, AKeyViolationRollsTheWholeStatementBack) {
  EXPECT_EQ(Outcome(Q, "UPDATE emp SET id = 100").substr(0, 6), "0x2601");
  EXPECT_EQ(Select("SELECT id FROM emp ORDER BY id"), "1;2;3;4");
  EXPECT_EQ(Outcome(Q, "INSERT INTO emp (id, name) SELECT id, name FROM emp WHERE id > 2").substr(0, 6),
            "0x2601");
  EXPECT_EQ(Select("SELECT COUNT(*) FROM emp"), "4");
  EXPECT_FALSE(Db.InTransaction());
}

// An UPDATE or DELETE changes exactly the rows a SELECT with its WHERE
// reads, whether an index, the table's own selection or a check on each
// row picks them; a rollback takes the change back.
TEST_F(QueryData, UpdateAndDeleteChangeTheRowsTheirWhereSelects) {
  const char* const wheres[] = {
      "id BETWEEN 2 AND 3",       "pay > 150",
      "id > 1 AND pay < 350",     "dept IS NULL",
      "dept = 2 OR pay = 400",    "UPPER(name) = 'BOB'",
      "id > 100",                 "dept IN (SELECT id FROM dept WHERE name = 'Dev')",
      "pay + 0 >= 200 AND id < 4",
      "EXISTS (SELECT id FROM dept WHERE id = 3) AND pay < 250",
      "1 = 0 OR id = 4",
  };
  const std::string all = Select("SELECT id, name, dept, pay FROM emp ORDER BY id");
  for (const char* where : wheres) {
    SCOPED_TRACE(where);
    const std::string picked = Select(std::string("SELECT id FROM emp WHERE ") + where + " ORDER BY id");
    const auto count = picked.empty() ? 0 : std::count(picked.begin(), picked.end(), ';') + 1;
    Db.StartTransaction();
    EXPECT_EQ(Outcome(Q, std::string("UPDATE emp SET pay = pay + 1000 WHERE ") + where),
              "ok " + std::to_string(count));
    EXPECT_EQ(Select("SELECT id FROM emp WHERE pay >= 1000 ORDER BY id"), picked);
    Db.Rollback();
    EXPECT_EQ(Select("SELECT id, name, dept, pay FROM emp ORDER BY id"), all);
    Db.StartTransaction();
    EXPECT_EQ(Outcome(Q, std::string("DELETE FROM emp WHERE ") + where), "ok " + std::to_string(count));
    EXPECT_EQ(Select(std::string("SELECT COUNT(*) FROM emp WHERE ") + where), "0");
    EXPECT_EQ(Select("SELECT COUNT(*) FROM emp"), std::to_string(4 - count));
    Db.Rollback();
    EXPECT_EQ(Select("SELECT id, name, dept, pay FROM emp ORDER BY id"), all);
  }
}

// An UPDATE that leaves an indexed column as it was, changes it, makes it
// null or takes it from null keeps every index finding exactly its rows; a
// key that collides part-way through the statement leaves every row and key
// as it was.
TEST_F(Query, UpdatesKeepTheIndexesOfTheColumnsTheyChange) {
  Exec("CREATE TABLE k (id INTEGER NOT NULL, code VARCHAR(8), grp INTEGER, v INTEGER, PRIMARY KEY (id));"
       "CREATE UNIQUE INDEX k_code ON k (code); CREATE INDEX k_grp ON k (grp)");
  for (int32_t id = 1; id <= 6; ++id)
    Exec("INSERT INTO k VALUES (" + std::to_string(id) + ", 'c" + std::to_string(id) + "', " +
         (id == 6 ? std::string("NULL") : std::to_string(id % 3)) + ", " + std::to_string(id) + ")");
  const auto state = [&] {
    return Select("SELECT id, code, grp, v FROM k ORDER BY id") + " | " +
           Select("SELECT code FROM k WHERE code >= 'c' ORDER BY code") + " | " +
           Select("SELECT grp, id FROM k WHERE grp >= 0 ORDER BY grp, id") + " | " +
           Select("SELECT id FROM k WHERE grp IS NULL ORDER BY id");
  };
  struct Case {
    const char* Sql;
    const char* Outcome;
    const char* State;
  } cases[] = {
      {"UPDATE k SET v = v + 10, code = code WHERE grp = 1", "ok 2",
       "1,c1,1,11;2,c2,2,2;3,c3,0,3;4,c4,1,14;5,c5,2,5;6,c6,null,6 | c1;c2;c3;c4;c5;c6 | "
       "0,3;1,1;1,4;2,2;2,5 | 6"},
      {"UPDATE k SET grp = NULL WHERE id <= 2", "ok 2",
       "1,c1,null,11;2,c2,null,2;3,c3,0,3;4,c4,1,14;5,c5,2,5;6,c6,null,6 | c1;c2;c3;c4;c5;c6 | "
       "0,3;1,4;2,5 | 1;2;6"},
      {"UPDATE k SET grp = id WHERE grp IS NULL", "ok 3",
       "1,c1,1,11;2,c2,2,2;3,c3,0,3;4,c4,1,14;5,c5,2,5;6,c6,6,6 | c1;c2;c3;c4;c5;c6 | "
       "0,3;1,1;1,4;2,2;2,5;6,6 | "},
      {"UPDATE k SET code = 'x' || code WHERE id > 4", "ok 2",
       "1,c1,1,11;2,c2,2,2;3,c3,0,3;4,c4,1,14;5,xc5,2,5;6,xc6,6,6 | c1;c2;c3;c4;xc5;xc6 | "
       "0,3;1,1;1,4;2,2;2,5;6,6 | "},
      {"UPDATE k SET code = 'c' WHERE id = 1", "ok 1",
       "1,c,1,11;2,c2,2,2;3,c3,0,3;4,c4,1,14;5,xc5,2,5;6,xc6,6,6 | c;c2;c3;c4;xc5;xc6 | "
       "0,3;1,1;1,4;2,2;2,5;6,6 | "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    EXPECT_EQ(Outcome(Q, c.Sql), c.Outcome);
    EXPECT_EQ(state(), c.State);
  }
  // The third row's new code is the fifth row's, after two rows changed:
  // nothing stays changed. In the host's transaction a change that fits is
  // taken back by the rollback.
  Exec("UPDATE k SET code = 'xc3' WHERE id = 5");
  const std::string before = state();
  EXPECT_EQ(Outcome(Q, "UPDATE k SET code = 'x' || code, grp = grp + 100 WHERE id BETWEEN 1 AND 4")
                .substr(0, 6),
            "0x2601");
  EXPECT_EQ(state(), before);
  Db.StartTransaction();
  EXPECT_EQ(Outcome(Q, "UPDATE k SET code = 'y' || code, grp = grp + 100 WHERE id BETWEEN 1 AND 4"), "ok 4");
  EXPECT_EQ(Select("SELECT id FROM k WHERE grp >= 100 ORDER BY id"), "1;2;3;4");
  Db.Rollback();
  EXPECT_EQ(state(), before);
}

// Statements that delete and move thousands of keys merge and refill index
// pages row after row: the indexes must keep finding exactly the rows left,
// and a rollback must leave the file as it was, byte for byte.
TEST_F(Query, LargeDeletesAndUpdatesKeepEveryIndexWhole) {
  Exec("CREATE TABLE w (id INTEGER NOT NULL, grp INTEGER, v INTEGER, PRIMARY KEY (id));"
       "CREATE INDEX w_grp ON w (grp)");
  // ids 1..5120, grp = (id + 1) / 2.
  for (int32_t id = 1; id <= 10; ++id)
    Exec("INSERT INTO w VALUES (" + std::to_string(id) + ", " + std::to_string((id + 1) / 2) +
         ", " + std::to_string(id) + ")");
  for (int32_t n = 10; n < 5120; n *= 2)
    Exec("INSERT INTO w (id, grp, v) SELECT id + " + std::to_string(n) + ", grp + " +
         std::to_string(n / 2) + ", v FROM w");
  ASSERT_EQ(Select("SELECT COUNT(*), MIN(grp), MAX(grp) FROM w"), "5120,1,2560");
  const auto run = [&] {
    EXPECT_EQ(Outcome(Q, "DELETE FROM w WHERE grp BETWEEN 501 AND 2000"), "ok 3000");
    EXPECT_EQ(Outcome(Q, "UPDATE w SET grp = grp + 10000 WHERE id <= 500"), "ok 500");
    EXPECT_EQ(Outcome(Q, "DELETE FROM w WHERE id > 5000"), "ok 120");
  };
  const auto bytes = [&] {
    std::ifstream in(File(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  Db.SetConnected(false);
  const std::string before = bytes();
  Db.SetConnected(true);
  Db.StartTransaction();
  run();
  EXPECT_EQ(Select("SELECT COUNT(*) FROM w"), "2000");
  Db.Rollback();
  Db.SetConnected(false);
  EXPECT_TRUE(bytes() == before);
  Db.SetConnected(true);
  EXPECT_EQ(Select("SELECT COUNT(*) FROM w"), "5120");

  run();
  struct Case {
    const char* Sql;
    const char* Rows;
  } cases[] = {
      {"SELECT COUNT(*), MIN(id), MAX(id) FROM w", "2000,1,5000"},
      {"SELECT COUNT(*), MIN(id), MAX(id) FROM w WHERE grp > 10000", "500,1,500"},
      {"SELECT COUNT(*), MIN(id), MAX(id) FROM w WHERE grp BETWEEN 400 AND 3000", "1202,799,5000"},
      {"SELECT COUNT(*) FROM w WHERE id BETWEEN 1001 AND 4000", "0"},
      {"SELECT id, grp FROM w WHERE id IN (500, 501, 4001, 5000) ORDER BY id",
       "500,10250;501,251;4001,2001;5000,2500"},
  };
  for (const Case& c : cases) EXPECT_EQ(Select(c.Sql), c.Rows) << c.Sql;
}

// A condition no index narrows reads the table's record store run by run
// rather than through an index: it must see exactly the rows the table
// holds, whether blocks were released and taken again, whether the rows are
// uncommitted changes of the host's transaction, and while a subquery reads
// the same table in the middle of the scan.
TEST_F(Query, ConditionsNoIndexNarrowsSeeExactlyTheLiveRows) {
  Exec("CREATE TABLE s (id INTEGER NOT NULL, v INTEGER, t VARCHAR(12), PRIMARY KEY (id))");
  std::map<int32_t, int32_t> model;  // id -> v; t is "r" + id
  const auto insert = [&](int32_t Id) {
    model[Id] = Id * 7 % 101;
    Exec("INSERT INTO s VALUES (" + std::to_string(Id) + ", " + std::to_string(model[Id]) +
         ", 'r" + std::to_string(Id) + "')");
  };
  const auto remove = [&](const std::string& Where, const std::function<bool(int32_t, int32_t)>& Gone) {
    Exec("DELETE FROM s WHERE " + Where);
    std::erase_if(model, [&](const auto& Row) { return Gone(Row.first, Row.second); });
  };
  // COUNT and SUM of the ids over every condition, from the model.
  const auto check = [&](const char* Stage) {
    SCOPED_TRACE(Stage);
    struct Case {
      const char* Where;
      std::function<bool(int32_t, int32_t)> Holds;
    } cases[] = {
        {"v > 50", [](int32_t, int32_t V) { return V > 50; }},
        // Released blocks read as rows of Nulls.
        {"v IS NULL OR v > 90", [](int32_t, int32_t V) { return V > 90; }},
        {"t LIKE '%7%'", [](int32_t Id, int32_t) { return std::to_string(Id).find('7') != std::string::npos; }},
        {"v + 0 = 3 OR t = 'r2'", [](int32_t Id, int32_t V) { return V == 3 || Id == 2; }},
        {"v IN (SELECT v FROM s WHERE t LIKE 'r1_')",
         [&](int32_t, int32_t V) {
           for (const auto& [id, v] : model)
             if (id >= 10 && id <= 19 && v == V) return true;
           return false;
         }},
    };
    for (const Case& c : cases) {
      int64_t count = 0, sum = 0;
      for (const auto& [id, v] : model)
        if (c.Holds(id, v)) ++count, sum += id;
      EXPECT_EQ(Select(std::string("SELECT COUNT(*), SUM(id) FROM s WHERE ") + c.Where),
                std::to_string(count) + "," + (count == 0 ? "null" : std::to_string(sum)))
          << c.Where;
    }
  };
  // Enough rows for many page runs and many reads of a run.
  Db.StartTransaction();
  for (int32_t id = 1; id <= 3000; ++id) insert(id);
  Db.Commit();
  check("loaded");
  remove("v < 30", [](int32_t, int32_t V) { return V < 30; });
  check("after a delete");
  const std::map<int32_t, int32_t> before = model;
  Db.StartTransaction();
  for (int32_t id = 5001; id <= 5400; ++id) insert(id);  // into released blocks, then new pages
  remove("id BETWEEN 1000 AND 1500", [](int32_t Id, int32_t) { return Id >= 1000 && Id <= 1500; });
  check("inside the transaction");
  Db.Rollback();
  model = before;
  check("after the rollback");
}

// A whole-number column against a whole-number constant or parameter is
// compared on the stored value, taken apart once per scan; any other shape
// of the same comparison (here the column in arithmetic) goes the general
// way. Both must pick the same rows, Nulls and negative values included, on
// either side, alone or within a condition.
TEST_F(Query, WholeNumberComparisonsPickTheRowsOfTheGeneralComparison) {
  Exec("CREATE TABLE n (id INTEGER NOT NULL, s SMALLINT, i INTEGER, f FLOAT, PRIMARY KEY (id))");
  const char* const values[] = {"NULL", "-32768", "-7", "-1", "0", "1", "7", "32767"};
  int32_t id = 0;
  for (const char* s : values)
    for (const char* i : {"NULL", "-2147483648", "-7", "0", "7", "2147483647"})
      Exec("INSERT INTO n VALUES (" + std::to_string(++id) + ", " + s + ", " + i + ", 7.5)");
  const auto ids = [&](const std::string& Where) {
    return Select("SELECT id FROM n WHERE " + Where + " ORDER BY id");
  };
  for (const char* column : {"s", "i"})
    for (const char* op : {"=", "<>", "<", "<=", ">", ">="})
      for (const char* constant : {"-32768", "-7", "0", "7", "32767", "2147483647", "-2147483648"}) {
        const std::string c = constant, col = column, o = op;
        SCOPED_TRACE(col + " " + o + " " + c);
        EXPECT_EQ(ids(col + " " + o + " " + c), ids(col + " + 0 " + o + " " + c));
        EXPECT_EQ(ids(c + " " + o + " " + col), ids(c + " " + o + " " + col + " + 0"));
        // Within a condition, and on candidates an index picked.
        EXPECT_EQ(ids("f > 0 AND " + c + " " + o + " " + col),
                  ids("f > 0 AND " + c + " " + o + " " + col + " + 0"));
        EXPECT_EQ(ids("id > 5 AND " + col + " " + o + " " + c),
                  ids("id > 5 AND " + col + " + 0 " + o + " " + c));
      }
  // A parameter is read as it is set at each run; a float one takes the
  // general way.
  Q.SQL().SetText("SELECT COUNT(*) FROM n WHERE i >= :v");
  for (const auto& [value, rows] : std::vector<std::pair<int32_t, std::string>>{
           {7, "16"}, {-7, "32"}, {2147483647, "8"}}) {
    Q.ParamByName("v")->SetAsInteger(value);
    Q.Open();
    EXPECT_EQ(Browse(Q), rows) << value;
    Q.Close();
  }
  Q.ParamByName("v")->SetAsFloat(6.5);
  Q.Open();
  EXPECT_EQ(Browse(Q), "16");
  Q.Close();
  EXPECT_EQ(Select("SELECT COUNT(*) FROM n WHERE f > 7"), std::to_string(id));
}

// A result of thousands of rows spreads its ORDER BY and DISTINCT keys over
// many index pages, and a union adds its second part to the keys of the
// first: the rows must come in order (ties in the order they were found),
// each distinct row once, Null before every value, and the record numbers
// of the cursor must agree with the rows.
TEST_F(Query, LargeResultsComeOrderedAndDistinct) {
  Exec("CREATE TABLE w (id INTEGER NOT NULL, grp INTEGER, v INTEGER, PRIMARY KEY (id))");
  // ids 1..5120, grp = (id + 1) / 2, v = the id's last digit (10 for 0)
  // found by the doubling.
  struct Row {
    int32_t Id, Grp, V;
  };
  std::vector<Row> rows;
  for (int32_t id = 1; id <= 10; ++id) {
    Exec("INSERT INTO w VALUES (" + std::to_string(id) + ", " + std::to_string((id + 1) / 2) +
         ", " + std::to_string(id) + ")");
    rows.push_back({id, (id + 1) / 2, id});
  }
  for (int32_t n = 10; n < 5120; n *= 2) {
    Exec("INSERT INTO w (id, grp, v) SELECT id + " + std::to_string(n) + ", grp + " +
         std::to_string(n / 2) + ", v FROM w");
    for (size_t i = 0, count = rows.size(); i < count; ++i)
      rows.push_back({rows[i].Id + n, rows[i].Grp + n / 2, rows[i].V});
  }
  Exec("INSERT INTO w VALUES (6001, 7, NULL); INSERT INTO w VALUES (6000, 7, NULL)");
  rows.push_back({6000, 7, -1});
  rows.push_back({6001, 7, -1});
  std::sort(rows.begin(), rows.end(), [](const Row& A, const Row& B) { return A.Id < B.Id; });
  const auto text = [](int32_t V) { return V < 0 ? std::string("null") : std::to_string(V); };
  const auto join = [](const std::vector<std::string>& Items) {
    std::string out;
    for (const std::string& item : Items) out += (out.empty() ? "" : ";") + item;
    return out;
  };

  // By grp descending, then v (Null first), ties in the order of the scan.
  std::vector<Row> byGrp(rows);
  std::stable_sort(byGrp.begin(), byGrp.end(), [](const Row& A, const Row& B) {
    return A.Grp != B.Grp ? A.Grp > B.Grp : A.V < B.V;
  });
  std::vector<std::string> ordered;
  for (const Row& r : byGrp) ordered.push_back(std::to_string(r.Grp) + "," + text(r.V) + "," + std::to_string(r.Id));
  // By v descending (Null last), then id.
  std::vector<Row> byV(rows);
  std::stable_sort(byV.begin(), byV.end(), [](const Row& A, const Row& B) { return A.V > B.V; });
  std::vector<std::string> descending;
  for (const Row& r : byV) descending.push_back(text(r.V) + "," + std::to_string(r.Id));
  // The distinct (v, grp) pairs, and those of the ids up to 3000 and from 2001.
  std::set<std::pair<int32_t, int32_t>> pairs, unionPairs;
  std::vector<std::string> unionAll;
  for (const Row& r : rows) pairs.insert({r.V, r.Grp});
  for (const Row& r : rows)
    if (r.Id <= 3000) {
      unionPairs.insert({r.V, r.Grp});
      unionAll.push_back(text(r.V) + "," + std::to_string(r.Grp));
    }
  for (const Row& r : rows)
    if (r.Id > 2000) {
      unionPairs.insert({r.V, r.Grp});
      unionAll.push_back(text(r.V) + "," + std::to_string(r.Grp));
    }
  std::vector<std::string> distinct, distinctByGrp, unionRows;
  for (const auto& [v, grp] : pairs) distinct.push_back(text(v) + "," + std::to_string(grp));
  for (const auto& [v, grp] : unionPairs) unionRows.push_back(text(v) + "," + std::to_string(grp));
  std::vector<std::pair<int32_t, int32_t>> grpFirst(pairs.begin(), pairs.end());
  std::stable_sort(grpFirst.begin(), grpFirst.end(),
                   [](const auto& A, const auto& B) { return A.second > B.second; });
  for (const auto& [v, grp] : grpFirst) distinctByGrp.push_back(std::to_string(grp) + "," + text(v));

  struct Case {
    std::string Sql;
    std::string Rows;
  } cases[] = {
      {"SELECT grp, v, id FROM w ORDER BY grp DESC, v", join(ordered)},
      {"SELECT v, id FROM w ORDER BY v DESC, id", join(descending)},
      {"SELECT DISTINCT v, grp FROM w", join(distinct)},
      {"SELECT DISTINCT grp, v FROM w ORDER BY grp DESC, v", join(distinctByGrp)},
      {"SELECT v, grp FROM w WHERE id <= 3000 UNION SELECT v, grp FROM w WHERE id > 2000",
       join(unionRows)},
      {"SELECT v, grp FROM w WHERE id <= 3000 UNION ALL SELECT v, grp FROM w WHERE id > 2000",
       join(unionAll)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    EXPECT_EQ(Select(c.Sql), c.Rows);
  }

  // Record numbers and moves over the ordered result, from both ends.
  Q.SQL().SetText("SELECT grp, v, id FROM w ORDER BY grp DESC, v");
  Q.Open();
  ASSERT_EQ(Q.RecordCount(), static_cast<int32_t>(ordered.size()));
  for (int32_t no : {1, 2, 170, 171, 2500, 5121, 5122}) {
    Q.SetRecNo(no);
    EXPECT_EQ(Q.RecNo(), no);
    EXPECT_EQ(Q.Fields().Fields(2)->AsString() + "", std::to_string(byGrp[static_cast<size_t>(no - 1)].Id));
  }
  Q.Last();
  for (size_t k = ordered.size(); k > ordered.size() - 300; --k) {
    ASSERT_EQ(Q.Fields().Fields(2)->AsInteger(), byGrp[k - 1].Id);
    Q.Prior();
  }
  Q.Close();
}

// A SELECT that reads a whole table gives its rows in the order of the
// table's index, as a walk of the index does: also where the records lie in
// another order (blocks used again after a delete, an open transaction),
// where the index leads with text, Null or equal values, runs descending, or
// lets Nulls tie. Ties of an ORDER BY keep that order.
TEST_F(Query, AWholeTableReadKeepsTheOrderOfTheTablesIndex) {
  const char* const indexes[] = {
      "",   // the primary key
      "-",  // none: the order rows were added in
      "CREATE INDEX ib ON t (b)",
      "CREATE DESCENDING INDEX ic ON t (c)",
      "CREATE UNIQUE INDEX ia ON t (a)",
  };
  const auto insert = [&](int32_t From, int32_t To, bool NullKey) {
    for (int32_t id = From; id <= To; ++id) {
      // One Null: a unique index takes no second one.
      const std::string a = NullKey && id == 10 ? "NULL" : std::to_string(id);
      const std::string b = id % 4 == 0 ? "NULL" : "'k" + std::to_string(id % 5) + "'";
      const std::string c = id % 6 == 0 ? "NULL" : std::to_string(id % 7);
      Exec("INSERT INTO t VALUES (" + a + ", " + b + ", " + c + ")");
    }
  };
  // "a,b,c" rows stably ordered by c, Null first.
  const auto byC = [](const std::string& Rows) {
    std::vector<std::string> rows;
    for (size_t at = 0; at < Rows.size();) {
      const size_t end = std::min(Rows.find(';', at), Rows.size());
      rows.push_back(Rows.substr(at, end - at));
      at = end + 1;
    }
    const auto c = [](const std::string& Row) {
      const std::string v = Row.substr(Row.rfind(',') + 1);
      return v == "null" ? -1 : std::stoi(v);
    };
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const std::string& A, const std::string& B) { return c(A) < c(B); });
    std::string out;
    for (const std::string& row : rows) {
      const size_t first = row.find(',');
      out += (out.empty() ? "" : ";") + row.substr(row.rfind(',') + 1) + "," + row.substr(0, first);
    }
    return out;
  };
  // A filtered read by a plan kept from one run to the next, and by a query
  // whose row limit makes its fill step the table's cursor row by row: the
  // same rows in the same order.
  std::unique_ptr<TZelQuery> kept;
  std::unique_ptr<TZelQuery> stepped;
  const auto read = [](TZelQuery& Query, int32_t Low) {
    Query.ParamByName("lo")->SetAsInteger(Low);
    Query.Open();
    const std::string rows = Browse(Query);
    Query.Close();
    return rows;
  };
  const auto filtered = [&](int32_t Low) {
    const std::string rows = read(*kept, Low);
    EXPECT_EQ(rows, read(*stepped, Low)) << Low;
    return rows;
  };
  for (const char* index : indexes) {
    SCOPED_TRACE(index);
    const bool primary = *index == 0;
    Exec(primary ? "CREATE TABLE t (a INTEGER NOT NULL, b VARCHAR(8), c INTEGER, PRIMARY KEY (a))"
                 : "CREATE TABLE t (a INTEGER, b VARCHAR(8), c INTEGER)");
    if (std::string(index).size() > 1) Exec(index);
    const bool nullKeys = !primary;
    insert(1, 40, nullKeys);
    EXPECT_EQ(Select("SELECT * FROM t"), Rows("t"));
    Exec("DELETE FROM t WHERE c = 2 OR c IS NULL");
    insert(41, 70, nullKeys);
    const std::string rows = Rows("t");
    EXPECT_EQ(Select("SELECT * FROM t"), rows);
    EXPECT_EQ(Select("SELECT c, a FROM t ORDER BY c"), byC(rows));
    kept = std::make_unique<TZelQuery>();
    stepped = std::make_unique<TZelQuery>();
    stepped->SetMaxRecords(1 << 30);
    for (TZelQuery* query : {kept.get(), stepped.get()}) {
      query->SetDataBase(&Db);
      query->SQL().SetText("SELECT * FROM t WHERE c >= :lo");
    }
    for (int32_t low : {5, 9, 0}) filtered(low);
    EXPECT_NE(filtered(3), "");
    Db.StartTransaction();
    Exec("DELETE FROM t WHERE c = 3");
    insert(71, 80, nullKeys);
    EXPECT_EQ(Select("SELECT * FROM t"), Rows("t"));
    filtered(4);
    Db.Rollback();
    EXPECT_EQ(Select("SELECT * FROM t"), rows);
    Exec("DELETE FROM t");
    EXPECT_EQ(Select("SELECT * FROM t"), "");
    EXPECT_EQ(filtered(0), "");
    kept.reset();
    stepped.reset();
    Exec("DROP TABLE t");
  }
}

// DISTINCT and UNION tell Null from 0 in every column, within a part and
// across the parts, with a part that gives no row on either side; UNION ALL
// keeps duplicates; an ORDER BY of mixed directions keeps ties in the
// table's order.
TEST_F(Query, DistinctAndUnionTellNullFromZero) {
  Exec("CREATE TABLE d (id INTEGER NOT NULL, x INTEGER, y SMALLINT, PRIMARY KEY (id))");
  const char* const rows[] = {"1, 0, 0",       "2, NULL, 0",    "3, 0, NULL",
                              "4, NULL, NULL", "5, 0, 0",       "6, NULL, 0",
                              "7, 0, NULL",    "8, NULL, NULL", "9, 1, 1"};
  for (const char* row : rows) Exec(std::string("INSERT INTO d VALUES (") + row + ")");
  const std::string distinct = "null,null;null,0;0,null;0,0;1,1";
  struct Case {
    const char* Sql;
    std::string Rows;
  } cases[] = {
      {"SELECT DISTINCT x, y FROM d", distinct},
      {"SELECT x, y FROM d WHERE id <= 4 UNION SELECT x, y FROM d WHERE id >= 5", distinct},
      {"SELECT x, y FROM d WHERE id > 100 UNION SELECT x, y FROM d", distinct},
      {"SELECT x, y FROM d UNION SELECT x, y FROM d WHERE id > 100", distinct},
      {"SELECT x, y FROM d WHERE id > 100 UNION SELECT x, y FROM d WHERE id < 0", ""},
      {"SELECT x, y FROM d WHERE id > 100 UNION ALL SELECT x, y FROM d WHERE id <= 2",
       "0,0;null,0"},
      {"SELECT x, y FROM d WHERE id <= 2 UNION ALL SELECT x, y FROM d WHERE id > 100",
       "0,0;null,0"},
      {"SELECT x, y FROM d WHERE id <= 2 UNION ALL SELECT x, y FROM d WHERE id <= 2",
       "0,0;null,0;0,0;null,0"},
      {"SELECT x, y, id FROM d ORDER BY x DESC, y",
       "1,1,9;0,null,3;0,null,7;0,0,1;0,0,5;null,null,4;null,null,8;null,0,2;null,0,6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sql);
    EXPECT_EQ(Select(c.Sql), c.Rows);
  }
}

// A result column takes its value as the table holds it, whatever its type,
// a string of the full width, Null, and the Nulls of an outer join's missing
// row among them.
TEST_F(Query, ResultColumnsHoldTheValuesOfEveryType) {
  auto t = Table("v");
  const std::pair<const char*, plat::TFieldType> columns[] = {
      {"ID", plat::ftInteger}, {"S", plat::ftString}, {"Sm", plat::ftSmallint},
      {"W", plat::ftWord},     {"F", plat::ftFloat},  {"C", plat::ftCurrency},
      {"D", plat::ftDate},     {"T", plat::ftTime},   {"DT", plat::ftDateTime},
      {"B", plat::ftBoolean}};
  for (const auto& [name, type] : columns)
    t->FieldDefs().Add(name, type, type == plat::ftString ? 5 : 0);
  t->IndexDefs().Add("pk", "ID", {plat::ixPrimary, plat::ixUnique});
  t->CreateTable();
  t->Open();
  const plat::TDateTime day = plat::EncodeDate(2024, 2, 29);
  const plat::TDateTime at = plat::EncodeTime(13, 45, 7, 250);
  t->AppendRecord({plat::Variant(1), plat::Variant("abcde"), plat::Variant(-7), plat::Variant(65535),
                   plat::Variant(-0.1), plat::Variant(12.34), plat::Variant::FromDateTime(day),
                   plat::Variant::FromDateTime(at), plat::Variant::FromDateTime(day + at),
                   plat::Variant(true)});
  t->AppendRecord({plat::Variant(2), plat::Variant(""), plat::Variant(0), plat::Variant(0),
                   plat::Variant(1e300), plat::Variant(-5.0), plat::Variant::FromDateTime(-day),
                   plat::Variant(), plat::Variant(), plat::Variant(false)});
  t->AppendRecord({plat::Variant(3), plat::Variant(), plat::Variant(), plat::Variant(),
                   plat::Variant(), plat::Variant(), plat::Variant(), plat::Variant(),
                   plat::Variant(), plat::Variant()});
  t->Close();
  Exec("CREATE TABLE k (id INTEGER, PRIMARY KEY (id)); INSERT INTO k VALUES (1); "
       "INSERT INTO k VALUES (2); INSERT INTO k VALUES (3); INSERT INTO k VALUES (4)");
  const std::string rows = Rows("v");
  EXPECT_EQ(Select("SELECT ID, S, Sm, W, F, C, D, T, DT, B FROM v ORDER BY ID"), rows);
  std::string joined;
  int32_t key = 0;
  for (size_t at = 0; at <= rows.size();) {
    const size_t end = std::min(rows.find(';', at), rows.size());
    ++key;
    joined += (key > 1 ? ";" : "") + std::to_string(key) + "," + rows.substr(at, end - at);
    at = end + 1;
  }
  EXPECT_EQ(Select("SELECT k.id, v.ID, S, Sm, W, F, C, D, T, DT, B FROM k LEFT JOIN v ON v.ID = k.id "
                   "ORDER BY k.id"),
            joined + ";4,null,null,null,null,null,null,null,null,null,null");
}

TEST_F(QueryData, ParametersFeedWhereAndSetAgainOnEveryRun) {
  Q.SQL().SetText("UPDATE emp SET pay = :pay WHERE id = :id");
  for (int32_t id : {1, 3}) {
    Q.ParamByName("id")->SetAsInteger(id);
    Q.ParamByName("pay")->SetAsFloat(id * 1000.0);
    Q.ExecSQL();
    EXPECT_EQ(Q.RowsAffected(), 1);
  }
  EXPECT_EQ(Select("SELECT id, pay FROM emp ORDER BY id"), "1,1000;2,200;3,3000;4,400");
  Q.SQL().SetText("DELETE FROM emp WHERE pay < :limit");
  Q.ParamByName("limit")->SetAsFloat(500);
  Q.ExecSQL();
  EXPECT_EQ(Q.RowsAffected(), 2);
}

TEST_F(QueryData, OpenBrowsesASelectAndRefusesWhatGivesNoRows) {
  Q.SQL().SetText("SELECT d.name, COUNT(*) FROM emp e, dept d WHERE e.dept = d.id "
                  "GROUP BY d.name ORDER BY 1");
  Q.Open();
  EXPECT_EQ(Browse(Q), "Dev,2;Sales,1");
  EXPECT_EQ(Q.RowsAffected(), 0);
  EXPECT_FALSE(Q.CanModify());
  const std::string first = Q.TableName();
  Q.Close();
  Q.SQL().SetText("SELECT name FROM emp WHERE id = :id");
  Q.ParamByName("id")->SetAsInteger(2);
  Q.Open();
  EXPECT_EQ(Browse(Q), "Bob");
  // A result in a table of another name replaces the old one.
  EXPECT_NE(Q.TableName(), first);
  EXPECT_EQ(ResultTables(), std::vector<std::string>{Q.TableName()});
  Q.Close();
  EXPECT_EQ(Outcome(Q, "SELECT name FROM emp").find("SQL statement cannot be executed by ExecSQL") ==
                std::string::npos,
            false);
  Q.SQL().SetText("UPDATE emp SET pay = 0");
  try {
    Q.Open();
    ADD_FAILURE() << "opened an UPDATE";
  } catch (const EZelDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("SQL statement cannot be opened (execute by ExecSQL)"),
              std::string::npos);
  }
  EXPECT_EQ(Select("SELECT pay FROM emp WHERE id = 1"), "100");

  // MaxRecords limits the rows; Refresh reads the table again.
  Q.SQL().SetText("SELECT id FROM emp ORDER BY id");
  Q.SetMaxRecords(2);
  Q.Open();
  EXPECT_EQ(Browse(Q), "1;2");
  Q.Close();
  Q.SetMaxRecords(0);
  Q.Open();
  TZelQuery other;
  other.SetDataBase(&Db);
  other.SQL().SetText("DELETE FROM emp WHERE id = 4");
  other.ExecSQL();
  Q.Refresh();
  EXPECT_EQ(Browse(Q), "1;2;3");
  Q.Close();
  // The same with a subquery, whose rows are built anew too.
  Q.SQL().SetText("SELECT name FROM dept WHERE id IN (SELECT dept FROM emp) ORDER BY name");
  Q.Open();
  EXPECT_EQ(Browse(Q), "Dev;Sales");
  other.SQL().SetText("UPDATE emp SET dept = 3 WHERE id = 1");
  other.ExecSQL();
  Q.Refresh();
  EXPECT_EQ(Browse(Q), "Dev;Ops");
  Q.Close();
}

// Joins whose inner rows each meet several outer rows, with Null keys and a
// key no dept has, grouped and plain; a run after a change reads the inner
// rows anew.
TEST_F(QueryData, JoinedRowsAndTheirGroupsFollowEveryOuterRow) {
  Exec("INSERT INTO emp VALUES (5, 'Eve', 2, 500); INSERT INTO emp VALUES (6, 'Fay', 9, 600);"
       "INSERT INTO emp VALUES (7, 'Gus', NULL, 700)");
  const struct {
    const char* Sql;
    const char* Rows;
  } cases[] = {
      {"SELECT d.id, COUNT(*), SUM(e.pay) FROM emp e JOIN dept d ON d.id = e.dept GROUP BY d.id",
       "1,1,100;2,3,1000"},
      {"SELECT e.dept, d.id, COUNT(*), SUM(e.pay) FROM emp e LEFT JOIN dept d ON d.id = e.dept "
       "GROUP BY e.dept, d.id",
       "null,null,2,1100;1,1,1,100;2,2,3,1000;9,null,1,600"},
      {"SELECT e.dept, COUNT(*) FROM emp e LEFT JOIN dept d ON d.id = e.dept GROUP BY e.dept "
       "ORDER BY 2 DESC, 1",
       "2,3;null,2;1,1;9,1"},
      {"SELECT e.id, e.pay, d.name FROM emp e LEFT JOIN dept d ON d.id = e.dept ORDER BY e.id",
       "1,100,Sales;2,200,Dev;3,300,Dev;4,400,null;5,500,Dev;6,600,null;7,700,null"},
  };
  for (const auto& c : cases) EXPECT_EQ(Select(c.Sql), c.Rows) << c.Sql;
  Exec("UPDATE dept SET name = 'Eng' WHERE id = 2; UPDATE emp SET dept = 1 WHERE id = 6");
  EXPECT_EQ(Select(cases[3].Sql),
            "1,100,Sales;2,200,Eng;3,300,Eng;4,400,null;5,500,Eng;6,600,Sales;7,700,null");
  EXPECT_EQ(Select(cases[1].Sql), "null,null,2,1100;1,1,2,700;2,2,3,1000");
}

// A few outer rows seek their inner rows through the index on the inner
// key. Where the keys' types hold the same integers the index decides the
// equality; an outer value past what a SMALLINT key holds is sought as the
// nearest key the index has, so there the condition still decides.
TEST_F(Query, IndexLookupJoinsMatchExactlyTheEqualKeys) {
  Exec("CREATE TABLE a (id INTEGER, k INTEGER, sm SMALLINT, PRIMARY KEY (id));"
       "CREATE TABLE b (id INTEGER, k INTEGER, sm SMALLINT, PRIMARY KEY (id));"
       "CREATE INDEX b_k ON b (k); CREATE INDEX b_sm ON b (sm)");
  Db.StartTransaction();
  Exec("INSERT INTO a VALUES (1, 32767, 32767); INSERT INTO a VALUES (2, 40000, 5);"
       "INSERT INTO a VALUES (3, -40000, -32768); INSERT INTO a VALUES (4, 5, NULL);"
       "INSERT INTO a VALUES (5, NULL, 7)");
  Exec("INSERT INTO b VALUES (1, 32767, 32767); INSERT INTO b VALUES (2, -32768, -32768);"
       "INSERT INTO b VALUES (3, 5, 5); INSERT INTO b VALUES (4, 5, 5);"
       "INSERT INTO b VALUES (5, NULL, NULL)");
  // Enough other inner rows that seeking beats hashing the inner table.
  for (int id = 6; id < 400; ++id)
    Exec("INSERT INTO b VALUES (" + std::to_string(id) + ", " + std::to_string(1000 + id) + ", " +
         std::to_string(1000 + id) + ")");
  Db.Commit();
  const struct {
    const char* On;
    const char* Inner;
    const char* Left;
  } cases[] = {
      // INTEGER against INTEGER: the index alone decides.
      {"b.k = a.k", "1,1;4,3;4,4", "1,1;2,null;3,null;4,3;4,4;5,null"},
      // SMALLINT outer values against an INTEGER key: likewise.
      {"a.sm = b.k", "1,1;2,3;2,4;3,2", "1,1;2,3;2,4;3,2;4,null;5,null"},
      // INTEGER outer values against a SMALLINT key: 40000 and -40000 reach
      // the ends of the key's range, which they do not equal.
      {"b.sm = a.k", "1,1;4,3;4,4", "1,1;2,null;3,null;4,3;4,4;5,null"},
      {"b.sm = a.sm", "1,1;2,3;2,4;3,2", "1,1;2,3;2,4;3,2;4,null;5,null"},
  };
  for (const auto& c : cases) {
    for (const char* kind : {"JOIN", "LEFT JOIN"}) {
      const std::string sql = std::string("SELECT a.id, b.id FROM a ") + kind + " b ON " + c.On +
                              " ORDER BY 1, 2";
      EXPECT_EQ(Select(sql), std::string(kind) == "JOIN" ? c.Inner : c.Left) << sql;
    }
  }
}

TEST_F(QueryData, AFillStoppedByTheGroupLimitLeavesTheResultToBeFilledAgain) {
  Q.SQL().SetText("SELECT dept, COUNT(*) FROM emp GROUP BY dept");
  Q.SetMaxRecords(2);
  try {
    Q.Open();
    ADD_FAILURE() << "three groups opened under a limit of two";
  } catch (const EZelDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 0x25AD) << e.what();
  }
  EXPECT_FALSE(Q.Active());
  Q.SetMaxRecords(0);
  Q.Open();
  EXPECT_EQ(Browse(Q), "null,1;1,1;2,2");
  std::string backwards;
  for (Q.Last(); !Q.Bof(); Q.Prior()) backwards += Q.Fields().Fields(1)->AsString();
  EXPECT_EQ(backwards, "211");
  EXPECT_EQ(Q.RecordCount(), 3);
  Q.Close();
}

TEST_F(QueryData, AFreedQueryTakesItsResultTableAlong) {
  {
    TZelQuery q;
    q.SetDataBase(&Db);
    q.SQL().SetText("SELECT name FROM emp WHERE id IN (SELECT id FROM emp WHERE pay > 150)");
    q.Open();
    EXPECT_EQ(Browse(q), "Bob;Cid;Dee");
    EXPECT_EQ(ResultTables().size(), 1u);
  }
  EXPECT_TRUE(ResultTables().empty());
}

TEST_F(QueryData, ALiveResultWritesBackAndRefusesAStaleRow) {
  Q.SQL().SetText("SELECT id, name, pay * 2 FROM emp WHERE dept = 2 ORDER BY id");
  Q.SetRequestLive(true);
  Q.Open();
  ASSERT_TRUE(Q.CanModify());
  EXPECT_FALSE(Q.FieldByName("name")->ReadOnly());
  EXPECT_TRUE(Q.Fields().Fields(2)->ReadOnly());
  Q.First();
  Q.Edit();
  Q.FieldByName("name")->SetAsString("Bobby");
  Q.Post();
  EXPECT_EQ(Select("SELECT name FROM emp WHERE id = 2"), "Bobby");
  // Another writer changes the next row: editing it now is refused.
  TZelQuery other;
  other.SetDataBase(&Db);
  other.SQL().SetText("UPDATE emp SET name = 'Cyd' WHERE id = 3");
  other.ExecSQL();
  Q.Next();
  Q.Edit();
  Q.FieldByName("name")->SetAsString("Lost");
  try {
    Q.Post();
    ADD_FAILURE() << "a stale row was written";
  } catch (const EZelDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 0x2204);
  }
  Q.Cancel();
  EXPECT_EQ(Select("SELECT name FROM emp WHERE id = 3"), "Cyd");
  Q.First();
  Q.Delete();
  EXPECT_EQ(Select("SELECT id FROM emp ORDER BY id"), "1;3;4");
  Q.Close();
  Q.SetRequestLive(false);
}

TEST_F(QueryData, AMasterLinkedQueryFollowsItsMaster) {
  auto master = Table("dept");
  master->Open();
  plat::TDataSource source(nullptr);
  source.SetDataSet(master.get());
  Q.SetDataSource(&source);
  Q.SQL().SetText("SELECT name FROM emp WHERE dept = :id ORDER BY name");
  Q.Open();
  std::vector<std::string> seen;
  for (master->First(); !master->Eof(); master->Next()) seen.push_back(Browse(Q));
  EXPECT_EQ(seen, (std::vector<std::string>{"Ann", "Bob;Cid", ""}));
  Q.Close();
  Q.SetDataSource(nullptr);
  master->Close();
}

// The memory database: its tables live in memory, and no statement starts a
// transaction there.
TEST(MemoryDatabaseQuery, StatementsRunWithoutATransaction) {
  TZelDataBase db;
  db.SetDataBaseName(MemoryDatabaseName);
  db.SetConnected(true);
  TZelQuery q;
  q.SetDataBase(&db);
  q.SQL().SetText("CREATE TABLE m (a INTEGER, PRIMARY KEY (a)); INSERT INTO m VALUES (1);"
                  "INSERT INTO m VALUES (2); CREATE INDEX ia ON m (a); DROP INDEX m ia");
  EXPECT_THROW(q.ExecSQL(), EZelDatabaseError);  // a memory table is not restructured
  EXPECT_FALSE(db.InTransaction());
  TZelTable t;
  t.SetDataBase(&db);
  t.SetTableName("m");
  t.SetMemory(true);
  t.Open();
  EXPECT_EQ(t.RecordCount(), 2);
  t.Close();
  q.SQL().SetText("DROP TABLE m");
  q.ExecSQL();
  EXPECT_FALSE(t.Exists());
}

// IN over a non-correlated subquery (its values kept for the statement's
// run, read again at the next), with Nulls on either side and an empty
// subquery; EXISTS over correlated subqueries, answered from the first
// planned row.
class Subquery : public Query {
 protected:
  void SetUp() override {
    Query::SetUp();
    // c.v and o.cid hold Nulls, o.cid a key twice and one no c has; o.f the
    // integers of c.v as floats, and 2.5.
    for (const char* sql : {
             "CREATE TABLE c (id INTEGER NOT NULL, v INTEGER, name VARCHAR(10), PRIMARY KEY (id))",
             "CREATE TABLE o (id INTEGER NOT NULL, cid INTEGER, amt INTEGER, f FLOAT, "
             "name VARCHAR(10), PRIMARY KEY (id))",
             "CREATE INDEX o_cid ON o (cid)",
             "INSERT INTO c VALUES (1, 1, 'a')",
             "INSERT INTO c VALUES (2, 2, 'b')",
             "INSERT INTO c VALUES (3, 3, 'C')",
             "INSERT INTO c VALUES (4, NULL, 'd')",
             "INSERT INTO c VALUES (5, 5, NULL)",
             "INSERT INTO o VALUES (1, 1, 10, 1.0, 'A')",
             "INSERT INTO o VALUES (2, 1, 3, 2.5, 'b')",
             "INSERT INTO o VALUES (3, 2, 7, NULL, 'x')",
             "INSERT INTO o VALUES (4, NULL, 8, 3.0, NULL)",
             "INSERT INTO o VALUES (5, 9, 2, 2.0, 'c')",
             "INSERT INTO o VALUES (6, 3, 1, 5.0, 'c')",
         })
      Exec(sql);
  }

  // The first column of every row of the open query.
  std::set<int> Ids() {
    std::set<int> out;
    for (Q.First(); !Q.Eof(); Q.Next()) out.insert(Q.Fields().Fields(0)->AsInteger());
    return out;
  }

  std::set<int> Select(const std::string& Text) {
    Q.Close();
    Q.SQL().SetText(Text);
    Q.Open();
    return Ids();
  }
};

TEST_F(Subquery, InAndExistsGiveTheRowsOfSqlsNullRules) {
  struct Case {
    const char* Where;
    std::set<int> Want;
  };
  const Case cases[] = {
      // The set holds 1, 2 and Null: 3 and 5 are not found, so unknown.
      {"v IN (SELECT cid FROM o WHERE amt > 5)", {1, 2}},
      {"v NOT IN (SELECT cid FROM o WHERE amt > 5)", {}},
      {"v NOT IN (SELECT cid FROM o WHERE cid IS NOT NULL)", {5}},
      {"id IN (SELECT cid FROM o)", {1, 2, 3}},
      {"NOT (id IN (SELECT cid FROM o WHERE cid IS NOT NULL))", {4, 5}},
      // An empty subquery: IN is false and NOT IN true, for a Null too.
      {"v IN (SELECT cid FROM o WHERE amt > 100)", {}},
      {"v NOT IN (SELECT cid FROM o WHERE amt > 100)", {1, 2, 3, 4, 5}},
      // Integers against floats and texts against texts: compared as before.
      {"v IN (SELECT f FROM o)", {1, 2, 3, 5}},
      {"v NOT IN (SELECT f FROM o WHERE f IS NOT NULL)", {}},
      {"name IN (SELECT name FROM o)", {2}},
      {"name NOT IN (SELECT name FROM o WHERE name IS NOT NULL)", {1, 3, 4}},
      // Correlated IN stays per row.
      {"id IN (SELECT cid FROM o WHERE o.amt > c.v)", {1, 2}},
      // EXISTS through the index on o.cid, and through a column without one.
      {"EXISTS (SELECT id FROM o WHERE o.cid = c.id AND o.amt > 5)", {1, 2}},
      {"NOT EXISTS (SELECT id FROM o WHERE o.cid = c.id AND o.amt > 5)", {3, 4, 5}},
      {"EXISTS (SELECT id FROM o WHERE o.f = c.v)", {1, 2, 3, 5}},
      {"NOT EXISTS (SELECT id FROM o WHERE o.f = c.v)", {4}},
      {"EXISTS (SELECT id FROM o WHERE o.cid = c.id AND o.name = 'b')", {1}},
      // The kept rows of a correlated subquery: the outer value changes from
      // row to row and is Null for c 4; either side of the term, a field
      // without qualifier, a second outer value, and a nested subquery.
      {"EXISTS (SELECT id FROM o WHERE o.cid = c.v)", {1, 2, 3}},
      {"NOT EXISTS (SELECT id FROM o WHERE c.v = o.cid)", {4, 5}},
      {"EXISTS (SELECT id FROM o WHERE cid = c.id AND amt > c.v)", {1, 2}},
      {"EXISTS (SELECT id FROM o WHERE o.cid = c.id AND EXISTS "
       "(SELECT id FROM c c2 WHERE c2.id = o.amt))",
       {1, 3}},
      // An aggregate has its one row whatever the rows; a group needs them.
      {"EXISTS (SELECT COUNT(*) FROM o WHERE o.cid = c.id)", {1, 2, 3, 4, 5}},
      {"EXISTS (SELECT cid FROM o WHERE o.cid = c.id GROUP BY cid)", {1, 2, 3}},
      // Not correlated.
      {"EXISTS (SELECT id FROM o WHERE amt > 9)", {1, 2, 3, 4, 5}},
      {"EXISTS (SELECT id FROM o WHERE amt > 100)", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Select(std::string("SELECT id FROM c WHERE ") + c.Where), c.Want) << c.Where;
}

// A table read whole is read at once and each row checked against what its
// selection left of the condition (subqueries, an OR over one): the rows and
// their order are those of a read that steps the cursor row by row (as a
// row limit makes it), and a correlated subquery reads the row checked.
TEST_F(Subquery, AWholeReadChecksTheRestOfTheConditionAsAStepwiseReadDoes) {
  TZelQuery stepped;
  stepped.SetDataBase(&Db);
  stepped.SetMaxRecords(1 << 30);
  const auto read = [](TZelQuery& Query, const std::string& Text) {
    Query.Close();
    Query.SQL().SetText(Text);
    Query.Open();
    const std::string rows = Browse(Query);
    Query.Close();
    return rows;
  };
  const struct {
    const char* Where;
    const char* Rows;
  } cases[] = {
      {"id IN (SELECT cid FROM o)", "1,1,a;2,2,b;3,3,C"},
      {"name IN (SELECT name FROM o)", "2,2,b"},
      {"id NOT IN (SELECT cid FROM o WHERE cid IS NOT NULL)", "4,null,d;5,5,null"},
      {"EXISTS (SELECT id FROM o WHERE o.cid = c.id AND o.amt > 5)", "1,1,a;2,2,b"},
      {"v > 1 AND id IN (SELECT cid FROM o WHERE amt > 2)", "2,2,b"},
      {"v > 2 OR id IN (SELECT cid FROM o WHERE amt > 9)", "1,1,a;3,3,C;5,5,null"},
      {"id IN (SELECT cid FROM o WHERE amt > 100)", ""},
  };
  for (const auto& c : cases) {
    const std::string text = std::string("SELECT * FROM c WHERE ") + c.Where;
    EXPECT_EQ(read(Q, text), c.Rows) << c.Where;
    EXPECT_EQ(read(stepped, text), c.Rows) << c.Where;
  }
}

// The values of an IN subquery of one integer column are read off its
// planned rows, and an integer field is looked up among them as stored: a
// field that a LEFT JOIN extends with Null, small integers on either side
// and Nulls among the values still give the rows of SQL's rules.
TEST_F(Subquery, InOverIntegerColumnsKeepsSqlsNullRules) {
  Exec("CREATE TABLE p (id INTEGER NOT NULL, s SMALLINT, PRIMARY KEY (id))");
  for (const char* sql : {"INSERT INTO p VALUES (1, 1)", "INSERT INTO p VALUES (2, 3)",
                          "INSERT INTO p VALUES (3, NULL)", "INSERT INTO p VALUES (4, 9)"})
    Exec(sql);
  struct Case {
    const char* Text;
    std::set<int> Want;
  };
  const Case cases[] = {
      // The joined rows' amounts: 10, 3, 7, 1, and Null for c 4 and 5.
      {"SELECT c.id FROM c LEFT JOIN o ON o.cid = c.id WHERE o.amt IN (SELECT id FROM p)", {1, 3}},
      {"SELECT c.id FROM c LEFT JOIN o ON o.cid = c.id WHERE o.amt NOT IN (SELECT id FROM p)",
       {1, 2}},
      // p.s holds 1, 3, 9 and Null; c.v 1, 2, 3, 5 and Null.
      {"SELECT id FROM c WHERE v IN (SELECT s FROM p)", {1, 3}},
      {"SELECT id FROM c WHERE v NOT IN (SELECT s FROM p WHERE s IS NOT NULL)", {2, 5}},
      {"SELECT id FROM p WHERE s IN (SELECT v FROM c)", {1, 2}},
      {"SELECT id FROM p WHERE s NOT IN (SELECT v FROM c WHERE v IS NOT NULL)", {4}},
      {"SELECT id FROM p WHERE s IN (SELECT v FROM c WHERE v > 100)", {}},
      {"SELECT id FROM p WHERE s NOT IN (SELECT v FROM c WHERE v > 100)", {1, 2, 3, 4}},
  };
  for (const Case& c : cases) EXPECT_EQ(Select(c.Text), c.Want) << c.Text;
}

// Over many outer rows a correlated EXISTS whose only outer value is its
// key stops seeking each row's key once that has cost about a pass over the
// table, and looks the keys up among those of the rows that pass the rest
// of its condition: the rows stay those of SQL's rules on either side of
// the switch, for Null keys, duplicates, keys no row has, an empty rest, a
// rest that passes no row and an emptied table. A writing statement keeps
// seeking (the table may change as it goes).
TEST_F(Subquery, ManyOuterRowsGetTheRowsOfTheirKeysEitherWay) {
  Exec("DELETE FROM c");
  Exec("DELETE FROM o");
  struct Row {
    int Id;
    std::optional<int> Key;
    int Amt;
  };
  std::vector<Row> cs, os;
  Db.StartTransaction();
  for (int id = 1; id <= 300; ++id) {
    cs.push_back({id, id % 11 == 0 ? std::nullopt : std::optional<int>(id - 20), 0});
    Exec("INSERT INTO c VALUES (" + std::to_string(id) + ", " +
         (cs.back().Key ? std::to_string(*cs.back().Key) : "NULL") + ", 'n')");
  }
  for (int id = 1; id <= 2000; ++id) {
    const std::optional<int> key =
        id % 13 == 0 ? std::nullopt : std::optional<int>((id * 37) % 400 - 30);
    os.push_back({id, key, id % 100});
    Exec("INSERT INTO o VALUES (" + std::to_string(id) + ", " +
         (key ? std::to_string(*key) : "NULL") + ", " + std::to_string(id % 100) +
         ", NULL, NULL)");
  }
  Db.Commit();
  const auto want = [&](int MinAmt, bool Negate) {
    std::set<int> out;
    for (const Row& c : cs) {
      bool any = false;
      for (const Row& o : os) any = any || (c.Key && o.Key == c.Key && o.Amt > MinAmt);
      // NOT EXISTS is true for a Null key: no row equals it.
      if (any != Negate) out.insert(c.Id);
    }
    return out;
  };
  struct Case {
    const char* Where;
    int MinAmt;
    bool Negate;
  } cases[] = {
      {"EXISTS (SELECT id FROM o WHERE o.cid = c.v AND o.amt > 90)", 90, false},
      {"NOT EXISTS (SELECT id FROM o WHERE c.v = o.cid AND o.amt > 90)", 90, true},
      {"EXISTS (SELECT id FROM o WHERE o.amt > 98 AND o.cid = c.v)", 98, false},
      {"EXISTS (SELECT id FROM o WHERE o.cid = c.v)", -1, false},
      {"NOT EXISTS (SELECT id FROM o WHERE o.cid = c.v AND o.amt > 200)", 200, true},
  };
  for (const Case& k : cases) {
    const std::set<int> rows = want(k.MinAmt, k.Negate);
    EXPECT_EQ(Select(std::string("SELECT id FROM c WHERE ") + k.Where), rows) << k.Where;
    Exec(std::string("UPDATE c SET name = 'y' WHERE ") + k.Where);
    EXPECT_EQ(Select("SELECT id FROM c WHERE name = 'y'"), rows) << k.Where;
    Exec("UPDATE c SET name = 'n'");
  }
  Exec("DELETE FROM o");
  EXPECT_EQ(Select("SELECT id FROM c WHERE EXISTS (SELECT id FROM o WHERE o.cid = c.v)"),
            std::set<int>{});
  EXPECT_EQ(Select("SELECT id FROM c WHERE NOT EXISTS (SELECT id FROM o WHERE o.cid = c.v)")
                .size(),
            cs.size());
}

TEST_F(Subquery, AnOuterValueOtherThanAnIntegerIsComparedAsBefore) {
  // o.f holds 1.0, 2.5, Null, 3.0, 2.0 and 5.0: found among the keys of c
  // but for 2.5 and Null.
  EXPECT_EQ(Select("SELECT id FROM o WHERE EXISTS (SELECT id FROM c WHERE c.id = o.f)"),
            (std::set<int>{1, 4, 5, 6}));
}

TEST_F(Subquery, ACorrelatedExistsPicksTheRowsToChange) {
  Exec("UPDATE c SET name = 'z' WHERE EXISTS (SELECT id FROM o WHERE o.cid = c.id AND o.amt > 5)");
  EXPECT_EQ(Select("SELECT id FROM c WHERE name = 'z'"), (std::set<int>{1, 2}));
  // The subquery reads the table the UPDATE changes.
  Exec("UPDATE o x SET amt = 0 WHERE EXISTS (SELECT id FROM o WHERE o.cid = x.cid AND o.id > x.id)");
  EXPECT_EQ(Select("SELECT id FROM o WHERE amt = 0"), (std::set<int>{1}));
  Exec("DELETE FROM o WHERE NOT EXISTS (SELECT id FROM c WHERE c.id = o.cid)");
  EXPECT_EQ(Select("SELECT id FROM o"), (std::set<int>{1, 2, 3, 6}));
}

TEST_F(Subquery, AScanReadsEachFieldOfTheRecordItStandsOn) {
  // A condition without an index is decided on each record as the scan reads
  // it: fields first, inside and last in the record, Nulls, texts, and a
  // subquery that scans the same table while the outer scan stands on a row.
  struct Case {
    const char* Sql;
    std::set<int> Want;
  };
  const Case cases[] = {
      {"SELECT id FROM o WHERE id > 4", {5, 6}},
      {"SELECT id FROM o WHERE cid >= 2", {3, 5, 6}},
      {"SELECT id FROM o WHERE cid <> 1", {3, 5, 6}},
      {"SELECT id FROM o WHERE amt < 3", {5, 6}},
      {"SELECT id FROM o WHERE 7 = amt", {3}},
      {"SELECT id FROM o WHERE amt > 2 AND cid <= 2", {1, 2, 3}},
      {"SELECT id FROM o WHERE name = 'c' OR amt = 10", {1, 5, 6}},
      {"SELECT id FROM o WHERE name > 'b'", {3, 5, 6}},
      {"SELECT id FROM c WHERE v > 1", {2, 3, 5}},
      {"SELECT id FROM o WHERE amt > 2 AND cid IN (SELECT cid FROM o WHERE amt < 8)", {1, 2, 3}},
      {"SELECT id FROM o o1 WHERE amt > 5 AND NOT EXISTS (SELECT id FROM o o2 WHERE o2.amt > "
       "o1.amt)",
       {1}},
  };
  for (const Case& c : cases) EXPECT_EQ(Select(c.Sql), c.Want) << c.Sql;
  // The same statement after the scanned rows changed.
  Exec("UPDATE o SET amt = 20 WHERE id = 5");
  EXPECT_EQ(Select("SELECT id FROM o WHERE amt > 9"), (std::set<int>{1, 5}));
}

TEST_F(Subquery, AKeptSubqueryIsReadAgainAtEachRun) {
  // The values of an IN subquery and the open table of a correlated EXISTS
  // are kept for one run of the prepared statement only.
  const std::string texts[] = {
      "SELECT id FROM c WHERE v IN (SELECT cid FROM o WHERE amt > :a)",
      "SELECT id FROM c WHERE EXISTS (SELECT id FROM o WHERE o.cid = c.id AND o.amt > :a)",
  };
  std::string prepared;
  const auto run = [this, &prepared](const std::string& Text, int A) {
    Q.Close();
    if (Text != prepared) {
      Q.SQL().SetText(Text);
      Q.Prepare();
      prepared = Text;
    }
    Q.ParamByName("a")->SetAsInteger(A);
    Q.Open();
    return Ids();
  };
  TZelQuery change;
  change.SetDataBase(&Db);
  const auto exec = [&change](const char* Text) {
    change.SQL().SetText(Text);
    change.ExecSQL();
  };
  for (const std::string& text : texts) {
    EXPECT_EQ(run(text, 5), (std::set<int>{1, 2})) << text;
    EXPECT_EQ(run(text, 0), (std::set<int>{1, 2, 3})) << text;
    EXPECT_EQ(run(text, 100), (std::set<int>{})) << text;
    // Rows the subquery's table gains between runs are found at the next one.
    exec("INSERT INTO o VALUES (7, 5, 500, NULL, NULL)");
    EXPECT_EQ(run(text, 100), (std::set<int>{5})) << text;
    exec("DELETE FROM o WHERE id = 7");
    EXPECT_EQ(run(text, 100), (std::set<int>{})) << text;
  }
}

}  // namespace
}  // namespace zel
