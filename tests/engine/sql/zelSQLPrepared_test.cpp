// A prepared query is parsed once and planned again for every open or run
// with the parameters' values of the moment. What may have changed between
// runs (values, rows, the tables' structure by this or another connection or
// process) must show in the next result; a statement that no longer fits its
// tables is prepared anew. A kept statement keeps its result table, so the
// result table's name tells whether the statement was parsed again.
#include "engine/sql/zelSQL.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/storage/zelCommonError.h"
#include "tests/engine/sql/zelQueryTestFixture.h"

namespace zel {
namespace {

class PreparedQuery : public querytest::Query {
 protected:
  void SetUp() override {
    Query::SetUp();
    Exec("CREATE TABLE t (id INTEGER, name VARCHAR(10), v INTEGER, PRIMARY KEY (id));"
         "CREATE INDEX iname ON t (name);"
         "INSERT INTO t VALUES (1, 'a', 10); INSERT INTO t VALUES (2, 'b', 20);"
         "INSERT INTO t VALUES (3, 'c', 30)");
  }

  // Runs Text through a query of its own on Database.
  static void ExecOn(TZelDataBase& Database, const std::string& Text) {
    TZelQuery q;
    q.SetDataBase(&Database);
    q.SQL().SetText(Text);
    q.ExecSQL();
  }
  // Changes between runs go through a query of their own, not Q.
  void Exec(const std::string& Text) { ExecOn(Db, Text); }

  // Text run by another connection to the file, which holds it exclusively
  // when Exclusive (this one must be disconnected then).
  void ExecElsewhere(const std::string& Text, bool Exclusive) {
    TZelDataBase other;
    other.SetDataBaseName(File());
    other.SetExclusive(Exclusive);
    other.SetConnected(true);
    ExecOn(other, Text);
    other.SetConnected(false);
  }

  // Text run by a forked process holding the file exclusively; this
  // connection lets go of the file first.
  void ExecInChild(const std::string& Text) {
    Db.SetConnected(false);
    const int code = testsupport::RunInChild([&] {
      TZelDataBase other;
      other.SetDataBaseName(File());
      other.SetExclusive(true);
      other.SetConnected(true);
      ExecOn(other, Text);
      other.SetConnected(false);
      return 0;
    });
    ASSERT_EQ(code, 0);
  }

  // Text run by a process of its own that writes while this connection
  // stays up: 0 when it could.
  int OtherProcessRuns(const std::string& Text) {
    return testsupport::RunInChild([&] {
      TZelDataBase other;
      other.SetDataBaseName(File());
      other.SetLockRetryInterval(5);
      other.SetConnected(true);
      ExecOn(other, Text);
      other.SetConnected(false);
      return 0;
    });
  }

  // Opens Q, and answers its rows and whether it kept the statement (and
  // so its result table) of the open before.
  std::string Run(bool& Kept) {
    Q.Open();
    Kept = !LastResult_.empty() && Q.TableName() == LastResult_;
    LastResult_ = Q.TableName();
    // The fields, and the definitions they were made from, of this result.
    LastFields_.clear();
    std::string defs;
    for (int32_t i = 0; i < Q.FieldCount(); ++i)
      LastFields_ += (i ? "," : "") + Q.Fields().Fields(i)->FieldName();
    for (int32_t i = 0; i < Q.FieldDefs().Count(); ++i)
      defs += (i ? "," : "") + Q.FieldDefs().Items(i)->Name();
    EXPECT_EQ(defs, LastFields_);
    const std::string rows = querytest::Browse(Q);
    if (BeforeClose_) BeforeClose_();
    Q.Close();
    return rows;
  }

  // One open of a table of steps: what changes before it, the parameters'
  // values it takes, and the rows it shows.
  struct Step {
    const char* what;
    std::function<void()> change;
    std::function<void()> bind;
    const char* rows;
  };
  // Makes S's change, binds and opens; answers whether the statement was
  // kept.
  bool RunStep(const Step& S) {
    S.change();
    S.bind();
    bool kept = false;
    EXPECT_EQ(Run(kept), S.rows);
    return kept;
  }

  std::string LastResult_;
  std::string LastFields_;
  // What a test does to the open query before Run closes it.
  std::function<void()> BeforeClose_;
};

TEST_F(PreparedQuery, AKeptSelectShowsWhatChangedBetweenOpens) {
  Q.SQL().SetText("SELECT * FROM t WHERE id = :id");
  // The open before this one leaves its first field hidden: fields are made
  // anew at each open, also on a kept cursor.
  BeforeClose_ = [&] {
    if (Q.FieldCount() > 0) Q.Fields().Fields(0)->SetVisible(false);
  };
  struct Step {
    const char* what;
    std::function<void()> change;
    int32_t id;
    const char* rows;
    bool kept;
    const char* fields;
  } steps[] = {
      {"first open", [] {}, 1, "1,a,10", false, "id,name,v"},
      {"another value", [] {}, 2, "2,b,20", true, "id,name,v"},
      {"a value with no row", [] {}, 9, "", true, "id,name,v"},
      {"field definitions changed while closed",
       [&] { Q.FieldDefs().Items(0)->SetName("changed"); }, 1, "1,a,10", true, "id,name,v"},
      {"field definitions cleared while closed", [&] { Q.FieldDefs().Clear(); }, 1, "1,a,10", true,
       "id,name,v"},
      {"row changed by another connection",
       [&] { ExecElsewhere("UPDATE t SET v = 21 WHERE id = 2", false); }, 2, "2,b,21", true,
       "id,name,v"},
      {"row added by another connection",
       [&] { ExecElsewhere("INSERT INTO t VALUES (4, 'd', 40)", false); }, 4, "4,d,40", true,
       "id,name,v"},
      {"row deleted by this connection", [&] { Exec("DELETE FROM t WHERE id = 4"); }, 4, "", true,
       "id,name,v"},
      {"column added by this connection (reconnecting exclusively)",
       [&] { Exec("ALTER TABLE t ADD w INTEGER"); }, 2, "2,b,21,null", false, "id,name,v,w"},
      {"unchanged again", [] {}, 3, "3,c,30,null", true, "id,name,v,w"},
      {"column dropped by a forked process", [&] { ExecInChild("ALTER TABLE t DROP w"); }, 2,
       "2,b,21", false, "id,name,v"},
      {"index dropped by another connection",
       [&] {
         Db.SetConnected(false);
         ExecElsewhere("DROP INDEX t iname", true);
       },
       1, "1,a,10", false, "id,name,v"},
      {"column renamed by this connection holding the file exclusively",
       [&] {
         Db.SetConnected(false);
         Db.SetExclusive(true);
         Db.SetConnected(true);
         LastResult_.clear();  // the reconnection alone prepares anew
         Q.Open();
         Q.Close();
         LastResult_ = Q.TableName();
         Exec("ALTER TABLE t ALTER name TO label");
       },
       3, "3,c,30", false, "id,label,v"},
      {"column added by a forked process while this one is disconnected",
       [&] {
         Db.SetConnected(false);
         Db.SetExclusive(false);
         ExecInChild("ALTER TABLE t ADD x VARCHAR(5)");
       },
       1, "1,a,10,null", false, "id,label,v,x"},
      {"the text changes, the parameter keeps its value",
       [&] { Q.SQL().SetText("SELECT label FROM t WHERE id = :id"); }, 0, "a", false, "label"},
      {"and changes back to more fields", [&] { Q.SQL().SetText("SELECT v, id FROM t WHERE id = :id"); },
       2, "21,2", false, "v,id"},
      {"kept with those", [] {}, 3, "30,3", true, "v,id"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    s.change();
    if (s.id != 0) Q.ParamByName("id")->SetAsInteger(s.id);
    bool kept = false;
    EXPECT_EQ(Run(kept), s.rows);
    EXPECT_EQ(kept, s.kept);
    EXPECT_EQ(LastFields_, s.fields);
  }
  Q.Close();
  Q.UnPrepare();
  Db.SetConnected(false);
  Db.SetExclusive(false);
  Db.SetConnected(true);
}

TEST_F(PreparedQuery, MemoryTablesChangedByThisConnection) {
  Exec("CREATE TABLE TEMPORARY m (a INTEGER, b VARCHAR(5)); INSERT INTO m VALUES (1, 'x')");
  Q.SQL().SetText("SELECT * FROM m WHERE a >= :a");
  Q.ParamByName("a")->SetAsInteger(0);
  bool kept = false;
  EXPECT_EQ(Run(kept), "1,x");
  EXPECT_EQ(Run(kept), "1,x");
  EXPECT_TRUE(kept);
  // The same name with other columns.
  Exec("DROP TABLE TEMPORARY m; CREATE TABLE TEMPORARY m (a INTEGER, c FLOAT, d INTEGER);"
       "INSERT INTO m VALUES (2, 1.5, 7)");
  EXPECT_EQ(Run(kept), "2,1.5,7");
  EXPECT_FALSE(kept);
  // A disk table of the name comes first once there is one.
  TZelTable disk;
  disk.SetDataBase(&Db);
  disk.SetTableName("m");
  disk.FieldDefs().Add("a", plat::ftInteger, 0, false);
  disk.CreateTable();
  Exec("INSERT INTO m VALUES (5)");
  EXPECT_EQ(Run(kept), "5");
  EXPECT_FALSE(kept);
  // Gone altogether (the exclusive reconnection of the drop takes the
  // memory tables along): the statement is checked again and refused.
  Exec("DROP TABLE m");
  try {
    Q.Open();
    ADD_FAILURE() << "opened on a dropped table";
  } catch (const EZelDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 0x25AD);
    EXPECT_NE(e.Message().find("Table not found - m"), std::string::npos) << e.Message();
  }
  Exec("CREATE TABLE TEMPORARY m (a INTEGER); INSERT INTO m VALUES (3)");
  EXPECT_EQ(Run(kept), "3");
}

TEST_F(PreparedQuery, WritesRunManyTimesCountTheirRows) {
  struct Case {
    const char* sql;
    const char* param;
    std::vector<int32_t> values;
    std::vector<int32_t> affected;
    const char* rows;  // of t afterwards
  } cases[] = {
      {"INSERT INTO t (id, name, v) VALUES (:id, 'n', :id * 10)", "id", {4, 5, 6}, {1, 1, 1},
       "1,a,10;2,b,20;3,c,30;4,n,40;5,n,50;6,n,60"},
      {"UPDATE t SET v = v + 1 WHERE id >= :id", "id", {5, 2, 7}, {2, 5, 0},
       "1,a,10;2,b,21;3,c,31;4,n,41;5,n,52;6,n,62"},
      {"DELETE FROM t WHERE v > :v", "v", {60, 40, 40}, {1, 2, 0}, "1,a,10;2,b,21;3,c,31"},
  };
  for (bool hostTransaction : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.sql) + (hostTransaction ? " in the host's transaction" : ""));
      Q.SQL().SetText(c.sql);
      if (hostTransaction) Db.StartTransaction();
      for (std::size_t i = 0; i < c.values.size(); ++i) {
        Q.ParamByName(c.param)->SetAsInteger(c.values[i]);
        Q.ExecSQL();
        EXPECT_EQ(Q.RowsAffected(), c.affected[i]) << c.values[i];
      }
      if (hostTransaction) Db.Commit();
      EXPECT_EQ(Select("SELECT id, name, v FROM t ORDER BY id"), c.rows);
      EXPECT_FALSE(Db.InTransaction());
    }
    // The next round starts from the same rows.
    Exec("DELETE FROM t WHERE id > 3; UPDATE t SET v = id * 10");
  }
}

TEST_F(PreparedQuery, AWriteFollowsAColumnChangedBetweenRuns) {
  Q.SQL().SetText("INSERT INTO t (id, name, v) VALUES (:id, 'n', 1)");
  Q.ParamByName("id")->SetAsInteger(4);
  Q.ExecSQL();
  // The query's transaction is over, so the file can be taken exclusively.
  Db.SetConnected(false);
  ExecElsewhere("ALTER TABLE t DROP v", true);
  Q.ParamByName("id")->SetAsInteger(5);
  try {
    Q.ExecSQL();
    ADD_FAILURE() << "wrote into a dropped column";
  } catch (const EZelDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 0x25AD);
  }
  Db.SetConnected(false);
  ExecElsewhere("ALTER TABLE t ADD v VARCHAR(5)", true);
  Q.ExecSQL();
  EXPECT_EQ(Q.RowsAffected(), 1);
  EXPECT_EQ(Select("SELECT id, v FROM t WHERE id > 3 ORDER BY id"), "4,null;5,1");
}

TEST_F(PreparedQuery, AFailedRunLeavesTheQueryUsable) {
  // A key violation, then the next value goes in.
  Q.SQL().SetText("INSERT INTO t (id, name) VALUES (:id, 'k')");
  for (int32_t id : {1, 4}) {
    Q.ParamByName("id")->SetAsInteger(id);
    if (id == 1) {
      EXPECT_THROW(Q.ExecSQL(), EZelDatabaseError);
      continue;
    }
    Q.ExecSQL();
    EXPECT_EQ(Q.RowsAffected(), 1);
  }
  // Likewise where the target stays open in the host's transaction: the
  // values computed from the parameters are each run's own, before and after
  // the failure, also when a parameter's type changes.
  Q.SQL().SetText("INSERT INTO t (id, name, v) VALUES (:id, :name, :id * 2 + 1)");
  Db.StartTransaction();
  const struct {
    int32_t id;
    const char* name;  // given as an integer where it is a number
    bool fails;
  } runs[] = {{5, "e", false}, {1, "x", true}, {6, "f", false}, {7, "7", false}};
  for (const auto& run : runs) {
    SCOPED_TRACE(run.id);
    Q.ParamByName("id")->SetAsInteger(run.id);
    if (run.id == 7)
      Q.ParamByName("name")->SetAsInteger(7);
    else
      Q.ParamByName("name")->SetAsString(run.name);
    if (run.fails) {
      EXPECT_THROW(Q.ExecSQL(), EZelDatabaseError);
      continue;
    }
    Q.ExecSQL();
    EXPECT_EQ(Q.RowsAffected(), 1);
  }
  Db.Commit();
  EXPECT_EQ(Select("SELECT id, name, v FROM t WHERE id >= 4 ORDER BY id"),
            "4,k,null;5,e,11;6,f,13;7,7,15");
  // A parameter the host did not give, then given.
  Q.SetParamCheck(false);
  Q.SQL().SetText("SELECT name FROM t WHERE id = :id");
  Q.Params().Clear();
  try {
    Q.Open();
    ADD_FAILURE() << "opened without its parameter";
  } catch (const plat::EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("Parameter 'id' not found"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(Q.Active());
  Q.Params().CreateParam(plat::ftInteger, "id", plat::ptInput)->SetAsInteger(4);
  bool kept = false;
  EXPECT_EQ(Run(kept), "k");
  Q.SetParamCheck(true);
  // A live result asked for after a plain one has its own columns.
  Q.ParamByName("id")->SetAsInteger(2);
  EXPECT_EQ(Run(kept), "b");
  Q.SetRequestLive(true);
  Q.Open();
  EXPECT_TRUE(Q.CanModify());
  Q.Edit();
  Q.FieldByName("name")->SetAsString("bb");
  Q.Post();
  Q.Close();
  Q.SetRequestLive(false);
  EXPECT_EQ(Select("SELECT name FROM t WHERE id = 2"), "bb");
}

// A SELECT of one disk table keeps its plan, and so its table, open from
// open to open on a connection that does not hold the file exclusively; each
// open takes the parameters' values of the moment into it. What changes
// between opens shows, whoever changed it, and what needs the table closed
// finds it closed.
TEST_F(PreparedQuery, AKeptPlanTakesNewValuesAndSeesEveryChange) {
  // The source table's users, and those of the result table.
  const auto users = [&] { return Db.GetLocalConnectedUserCount("t", false); };
  const auto resultUsers = [&] { return Db.GetLocalConnectedUserCount(Q.TableName(), true); };
  const std::string text = "SELECT id, name FROM t WHERE id = :id OR name = :name ORDER BY id";
  Q.SQL().SetText(text);
  Q.ParamByName("name")->SetAsString("");
  const Step steps[] = {
      {"an integer", [] {}, [&] { Q.ParamByName("id")->SetAsInteger(1); }, "1,a"},
      {"another integer", [] {}, [&] { Q.ParamByName("id")->SetAsInteger(3); }, "3,c"},
      {"a string", [] {}, [&] { Q.ParamByName("id")->SetAsString("2"); }, "2,b"},
      {"a float", [] {}, [&] { Q.ParamByName("id")->SetAsFloat(3.0); }, "3,c"},
      {"a null", [] {}, [&] { Q.ParamByName("id")->Clear(); }, ""},
      {"the other parameter", [] {},
       [&] {
         Q.ParamByName("id")->SetAsInteger(1);
         Q.ParamByName("name")->SetAsString("c");
       },
       "1,a;3,c"},
      {"rows changed by another process",
       [&] {
         EXPECT_EQ(OtherProcessRuns("UPDATE t SET name = 'c' WHERE id = 2; "
                                    "DELETE FROM t WHERE id = 1; INSERT INTO t VALUES (1, 'z', 0)"),
                   0);
       },
       [] {}, "1,z;2,c;3,c"},
      {"rows changed inside the host's transaction, seen there",
       [&] {
         Db.StartTransaction();
         Exec("INSERT INTO t VALUES (7, 'c', 70)");
       },
       [] {}, "1,z;2,c;3,c;7,c"},
      {"and gone with its rollback", [&] { Db.Rollback(); }, [] {}, "1,z;2,c;3,c"},
      {"emptied through a table of this connection, one row put back",
       [&] {
         auto table = Table("t");
         table->Open();
         table->EmptyTable();
         table->Close();
         Exec("INSERT INTO t VALUES (3, 'c', 5)");
       },
       [] {}, "3,c"},
      {"the rows put back",
       [&] { Exec("INSERT INTO t VALUES (1, 'z', 0); INSERT INTO t VALUES (2, 'c', 0)"); }, [] {},
       "1,z;2,c;3,c"},
      {"a column added by this connection (reconnecting exclusively)",
       [&] { Exec("ALTER TABLE t ADD w INTEGER"); }, [] {}, "1,z;2,c;3,c"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    RunStep(s);
    EXPECT_EQ(users(), 1);
    // The plan's cursor on the result table, and the closed query's, both
    // kept for the next open.
    EXPECT_EQ(resultUsers(), 2);
    EXPECT_EQ(Q.RowsAffected(), 0) << "a SELECT affects no row";
  }
  // Terms the table's selection takes apart, and one it cannot take (no
  // column of the table) that is checked on each row.
  Q.SQL().SetText("SELECT id FROM t WHERE id > :lo AND name = 'c' AND :enabled = 1");
  struct Values {
    int32_t lo, on;
    const char* rows;
  } values[] = {{0, 1, "2;3"}, {2, 1, "3"}, {2, 0, ""}, {0, 1, "2;3"}};
  for (const Values& v : values) {
    SCOPED_TRACE(std::to_string(v.lo) + " " + std::to_string(v.on));
    Q.ParamByName("lo")->SetAsInteger(v.lo);
    Q.ParamByName("enabled")->SetAsInteger(v.on);
    bool kept = false;
    EXPECT_EQ(Run(kept), v.rows);
    EXPECT_EQ(users(), 1);
  }
  Q.SQL().SetText(text);
  Q.ParamByName("id")->SetAsInteger(1);
  Q.ParamByName("name")->SetAsString("c");
  // Dropped by this connection: refused, and the query is usable again
  // once the table is back.
  Exec("DROP TABLE t");
  EXPECT_THROW(Q.Open(), EZelDatabaseError);
  Exec("CREATE TABLE t (id INTEGER, name VARCHAR(10), PRIMARY KEY (id));"
       "INSERT INTO t VALUES (4, 'c')");
  bool kept = false;
  EXPECT_EQ(Run(kept), "4,c");
  // Whatever ends the statement closes the table.
  for (const auto& end : std::vector<std::function<void()>>{
           [&] { Q.UnPrepare(); }, [&] { Q.SQL().SetText(text); },
           [&] { Db.SetConnected(false); Db.SetConnected(true); }}) {
    EXPECT_EQ(Run(kept), "4,c");
    EXPECT_EQ(users(), 1);
    end();
    EXPECT_EQ(users(), 0);
    EXPECT_EQ(resultUsers(), 0);
  }
  // A query that goes takes its result table along.
  std::string result;
  {
    TZelQuery gone;
    gone.SetDataBase(&Db);
    gone.SQL().SetText("SELECT name FROM t WHERE id = 4");
    gone.Open();
    result = gone.TableName();
    gone.Close();
    EXPECT_EQ(Db.GetLocalConnectedUserCount(result, true), 2);
  }
  plat::TStringList memory;
  Db.GetTableNames(memory, true);
  EXPECT_LT(memory.IndexOf(result), 0);
  // Nor is it kept where this connection holds the file exclusively.
  Db.SetConnected(false);
  Db.SetExclusive(true);
  EXPECT_EQ(Run(kept), "4,c");
  EXPECT_EQ(users(), 0);
}

// The values of an IN subquery are read off its rows once per run, not
// kept from run to run: each run shows what changed its table (by this
// connection, another one or another process, inside a transaction and
// after its rollback), the new value of its parameter, and the new text.
TEST_F(PreparedQuery, AnInSubqueryReadsItsValuesAtEveryRun) {
  Exec("CREATE TABLE o (id INTEGER, tid INTEGER, amt INTEGER, PRIMARY KEY (id));"
       "INSERT INTO o VALUES (1, 1, 5); INSERT INTO o VALUES (2, 2, 9); INSERT INTO o VALUES (3, 9, 9)");
  const char* in = "SELECT id, name FROM t WHERE id IN (SELECT tid FROM o WHERE amt > :a)";
  const char* notIn = "SELECT id, name FROM t WHERE id NOT IN (SELECT tid FROM o WHERE amt > :a)";
  Q.SQL().SetText(in);
  struct Step {
    const char* what;
    std::function<void()> change;
    int32_t a;
    const char* rows;
  } steps[] = {
      {"first run", [] {}, 0, "1,a;2,b"},
      {"another value", [] {}, 6, "2,b"},
      {"a row added by another statement", [&] { Exec("INSERT INTO o VALUES (4, 3, 7)"); }, 6,
       "2,b;3,c"},
      {"a row changed by another connection",
       [&] { ExecElsewhere("UPDATE o SET amt = 1 WHERE id = 2", false); }, 6, "3,c"},
      {"a row deleted by another process",
       [&] { EXPECT_EQ(OtherProcessRuns("DELETE FROM o WHERE id = 4"), 0); }, 4, "1,a"},
      {"a row added inside the host's transaction",
       [&] {
         Db.StartTransaction();
         Exec("INSERT INTO o VALUES (5, 2, 8)");
       },
       4, "1,a;2,b"},
      {"and gone with its rollback", [&] { Db.Rollback(); }, 4, "1,a"},
      {"a Null among the values", [&] { Exec("INSERT INTO o VALUES (6, NULL, 9)"); }, 4, "1,a"},
      {"the text changes to NOT IN: the Null leaves the others unknown",
       [&] { Q.SQL().SetText(notIn); }, 4, ""},
      {"and the Null gone", [&] { Exec("DELETE FROM o WHERE id = 6"); }, 4, "2,b;3,c"},
      {"another value", [] {}, 100, "1,a;2,b;3,c"},
      {"the text changes back", [&] { Q.SQL().SetText(in); }, 4, "1,a"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    s.change();
    Q.ParamByName("a")->SetAsInteger(s.a);
    bool kept = false;
    EXPECT_EQ(Run(kept), s.rows);
  }
}

// A join of two disk tables keeps its plan, and so both tables, open from
// open to open like a SELECT of one: each open takes the new values, the
// tables' selections are applied again and the join chooses how to match
// again (seeking through the index, hashing, or checking the condition
// after the join), so its rows are those a new plan gives, whatever changed.
TEST_F(PreparedQuery, AKeptJoinTakesNewValuesAndSeesEveryChange) {
  Exec("CREATE TABLE u (id INTEGER, tid INTEGER, w INTEGER, PRIMARY KEY (id));"
       "CREATE INDEX u_tid ON u (tid)");
  Db.StartTransaction();
  Exec("INSERT INTO u VALUES (1, 1, 5); INSERT INTO u VALUES (2, 1, 7);"
       "INSERT INTO u VALUES (3, 2, 9); INSERT INTO u VALUES (4, NULL, 1)");
  // Enough rows that few outer rows seek theirs rather than hash them all.
  for (int32_t id = 10; id < 300; ++id)
    Exec("INSERT INTO u VALUES (" + std::to_string(id) + ", " + std::to_string(1000 + id) +
         ", " + std::to_string(id % 40) + ")");
  Db.Commit();
  const auto users = [&](const char* Table) { return Db.GetLocalConnectedUserCount(Table, false); };
  const char* texts[] = {
      "SELECT t.id, u.id FROM t JOIN u ON u.tid = t.id WHERE t.v >= :v ORDER BY 1, 2",
      "SELECT t.id, u.id, u.w FROM t LEFT JOIN u ON u.tid = t.id WHERE t.v >= :v ORDER BY 1, 2",
      "SELECT t.id, u.id FROM t JOIN u ON u.w = t.id WHERE u.id < :v + 100 ORDER BY 1, 2",
      "SELECT t.id, u.id FROM t JOIN u ON u.tid = t.id WHERE u.w < 50 AND t.v >= :v ORDER BY 1, 2",
      "SELECT t.id, u.id FROM u RIGHT JOIN t ON u.tid = t.id AND u.w > 6 WHERE t.v >= :v "
      "ORDER BY 1, 2",
      // A term on the side an outer join extends is checked after the join.
      "SELECT t.id, u.id FROM t LEFT JOIN u ON u.tid = t.id WHERE u.w IS NULL OR u.w > :v "
      "ORDER BY 1, 2",
      "SELECT t.id, u.id FROM t FULL JOIN u ON u.tid = t.id WHERE u.id < 10 OR t.v >= :v "
      "ORDER BY 1, 2",
  };
  struct Step {
    const char* what;
    std::function<void()> change;
    int32_t v;
  } steps[] = {
      {"a value", [] {}, 0},
      {"another value", [] {}, 20},
      {"a value no row passes", [] {}, 100},
      {"rows added to either table",
       [&] { Exec("INSERT INTO u VALUES (5, 3, 8); INSERT INTO t VALUES (4, 'd', 40)"); }, 0},
      {"rows changed and deleted",
       [&] { Exec("UPDATE u SET tid = 3 WHERE id = 1; DELETE FROM u WHERE id = 3; "
                  "UPDATE t SET v = 5 WHERE id = 2"); }, 6},
      {"rows changed by another process",
       [&] {
         EXPECT_EQ(OtherProcessRuns("INSERT INTO u VALUES (6, 2, 30); DELETE FROM t WHERE id = 4"), 0);
       },
       0},
      {"rows changed inside the host's transaction, seen there",
       [&] {
         Db.StartTransaction();
         Exec("INSERT INTO u VALUES (7, 1, 50); UPDATE u SET tid = NULL WHERE id = 2");
       },
       0},
      {"and gone with its rollback", [&] { Db.Rollback(); }, 0},
      {"the inner table emptied", [&] { Exec("DELETE FROM u WHERE id < 10"); }, 0},
      {"and filled again", [&] { Exec("INSERT INTO u VALUES (1, 1, 5); INSERT INTO u VALUES (2, 3, 7)"); }, 0},
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    Q.SQL().SetText(text);
    LastResult_.clear();
    for (const Step& s : steps) {
      SCOPED_TRACE(s.what);
      s.change();
      Q.ParamByName("v")->SetAsInteger(s.v);
      bool kept = false;
      const std::string rows = Run(kept);
      std::string fresh = text;
      fresh.replace(fresh.find(":v"), 2, std::to_string(s.v));
      EXPECT_EQ(rows, Select(fresh));
      EXPECT_EQ(users("t"), 1);
      EXPECT_EQ(users("u"), 1);
    }
    // The steps leave the tables as they found them.
    Exec("DELETE FROM u WHERE id < 10; INSERT INTO u VALUES (1, 1, 5); INSERT INTO u VALUES (2, 1, 7);"
         "INSERT INTO u VALUES (3, 2, 9); INSERT INTO u VALUES (4, NULL, 1); DELETE FROM t WHERE id > 3;"
         "UPDATE t SET v = 20 WHERE id = 2");
  }
  EXPECT_EQ(Select("SELECT t.id, u.id FROM t JOIN u ON u.tid = t.id ORDER BY 1, 2"), "1,1;1,2;2,3");
  // Whatever ends the statement closes both tables; three tables keep none.
  Q.SQL().SetText(texts[0]);
  for (const auto& end : std::vector<std::function<void()>>{
           [&] { Q.UnPrepare(); }, [&] { Q.SQL().SetText(texts[0]); },
           [&] { Db.SetConnected(false); Db.SetConnected(true); }}) {
    bool kept = false;
    Q.ParamByName("v")->SetAsInteger(0);
    EXPECT_EQ(Run(kept), "1,1;1,2;2,3");
    EXPECT_EQ(users("u"), 1);
    end();
    EXPECT_EQ(users("t"), 0);
    EXPECT_EQ(users("u"), 0);
  }
  Q.SQL().SetText("SELECT t.id, u.id FROM t JOIN u ON u.tid = t.id JOIN t t2 ON t2.id = u.tid "
                  "WHERE t.v >= :v ORDER BY 1, 2");
  Q.ParamByName("v")->SetAsInteger(0);
  bool kept = false;
  EXPECT_EQ(Run(kept), "1,1;1,2;2,3");
  EXPECT_EQ(users("u"), 0);
}

// Inside the host's transaction an INSERT keeps its target open from run to
// run; whatever ends the transaction or the statement closes it, so the
// table is free for this connection and others afterwards.
TEST_F(PreparedQuery, AKeptResultTableHoldsOnlyTheLatestRunsRows) {
  // The kept result table is emptied and filled again without being closed:
  // no row, key or group of the run before may show in the next.
  Exec("INSERT INTO t VALUES (4, 'a', 10); INSERT INTO t VALUES (5, 'b', 50)");
  struct Case {
    const char* text;
    std::vector<std::pair<int32_t, const char*>> runs;  // :lo and the rows
  } cases[] = {
      {"SELECT DISTINCT name FROM t WHERE id >= :lo",
       {{1, "a;b;c"}, {3, "a;b;c"}, {5, "b"}, {9, ""}, {1, "a;b;c"}}},
      {"SELECT DISTINCT name, v / 10 FROM t WHERE id >= :lo ORDER BY name",
       {{1, "a,1;b,2;b,5;c,3"}, {4, "a,1;b,5"}, {1, "a,1;b,2;b,5;c,3"}}},
      {"SELECT name, COUNT(*), SUM(v) FROM t WHERE id >= :lo GROUP BY name",
       {{1, "a,2,20;b,2,70;c,1,30"}, {3, "a,1,10;b,1,50;c,1,30"}, {6, ""}, {2, "a,1,10;b,2,70;c,1,30"}}},
      {"SELECT COUNT(*), MAX(v) FROM t WHERE id >= :lo", {{1, "5,50"}, {5, "1,50"}, {9, "0,null"}}},
      {"SELECT id, v FROM t WHERE id >= :lo ORDER BY v DESC, id",
       {{1, "5,50;3,30;2,20;1,10;4,10"}, {4, "5,50;4,10"}, {2, "5,50;3,30;2,20;4,10"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Q.SQL().SetText(c.text);
    LastResult_.clear();
    for (size_t i = 0; i < c.runs.size(); ++i) {
      SCOPED_TRACE(c.runs[i].first);
      Q.ParamByName("lo")->SetAsInteger(c.runs[i].first);
      bool kept = false;
      EXPECT_EQ(Run(kept), c.runs[i].second);
      if (i > 0) {
        EXPECT_TRUE(kept);
      }
    }
  }
}

// A closed query whose plan is kept keeps its cursor on the result table
// open for the next open, which takes it as a fresh one would be: the new
// rows, no filter or range of before, and another database or statement
// let go of it.
TEST_F(PreparedQuery, AClosedQueryKeepsItsCursorOnlyForTheSameResult) {
  const auto resultUsers = [&] { return Db.GetLocalConnectedUserCount(Q.TableName(), true); };
  Q.SQL().SetText("SELECT id, name FROM t WHERE id >= :lo ORDER BY id");
  const auto from = [&](int32_t Lo) { return [this, Lo] { Q.ParamByName("lo")->SetAsInteger(Lo); }; };
  TZelDataBase other;
  const Step steps[] = {
      {"first open", [] {}, from(1), "1,a;2,b;3,c"},
      {"fewer rows", [] {}, from(3), "3,c"},
      {"more rows", [] {}, from(1), "1,a;2,b;3,c"},
      {"filtered", [&] { Q.SetFilter("id <> 2"); Q.SetFiltered(true); }, from(1), "1,a;3,c"},
      {"the filter on other rows", [] {}, from(2), "3,c"},
      {"no longer filtered", [&] { Q.SetFiltered(false); }, from(2), "2,b;3,c"},
      {"a statement run in between", [&] { Exec("UPDATE t SET name = 'x' WHERE id = 3"); }, from(2),
       "2,b;3,x"},
      {"another database set, and this one again",
       [&] {
         const std::string kept = Q.TableName();
         Q.SetDataBase(&other);
         EXPECT_EQ(Db.GetLocalConnectedUserCount(kept, true), 1);
         Q.SetDataBase(&Db);
       },
       from(1), "1,a;2,b;3,x"},
      {"the same text through a second close", [&] { Q.Close(); }, from(3), "3,x"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    RunStep(s);
    EXPECT_EQ(resultUsers(), 2);
  }
  Q.UnPrepare();
  EXPECT_EQ(resultUsers(), 0);
}

// Two bounds on one indexed column, however written, are read as one range
// of the index; a kept statement takes new bounds on every open (its table
// and its filter stay), with rows changed between opens, duplicates, nulls,
// bounds of other types and ranges that hold nothing.
TEST_F(PreparedQuery, AKeptRangeTakesNewBoundsWrittenEitherWay) {
  Exec("CREATE INDEX iv ON t (v); INSERT INTO t VALUES (4, 'd', 20); "
       "INSERT INTO t (id, name) VALUES (5, 'e'); INSERT INTO t VALUES (6, 'f', -5)");
  const char* const texts[] = {
      "SELECT id FROM t WHERE v BETWEEN :lo AND :hi ORDER BY id",
      "SELECT id FROM t WHERE v <= :hi AND v >= :lo ORDER BY id",
      "SELECT id FROM t WHERE :hi >= v AND :lo <= v ORDER BY id",
      "SELECT id FROM t WHERE v < :hi + 1 AND v > :lo - 1 ORDER BY id",
  };
  const auto bounds = [&](int32_t Lo, int32_t Hi) {
    return [this, Lo, Hi] {
      Q.ParamByName("lo")->SetAsInteger(Lo);
      Q.ParamByName("hi")->SetAsInteger(Hi);
    };
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    Q.SQL().SetText(text);
    LastResult_.clear();
    const Step steps[] = {
        {"all", [] {}, bounds(-100, 100), "1;2;3;4;6"},
        {"duplicates at the low end", [] {}, bounds(20, 30), "2;3;4"},
        {"one value", [] {}, bounds(20, 20), "2;4"},
        {"below every row", [] {}, bounds(-100, -6), ""},
        {"low above high", [] {}, bounds(30, 10), ""},
        {"text and float bounds",
         [] {},
         [&] {
           Q.ParamByName("lo")->SetAsString("-5");
           Q.ParamByName("hi")->SetAsFloat(10.0);
         },
         "1;6"},
        {"a null bound", [] {}, [&] { Q.ParamByName("lo")->Clear(); }, ""},
        {"a row changed between opens", [&] { Exec("UPDATE t SET v = 25 WHERE id = 5"); },
         bounds(21, 29), "5"},
        {"inside a transaction", [&] {
           Db.StartTransaction();
           Exec("INSERT INTO t VALUES (7, 'g', 22); DELETE FROM t WHERE id = 5");
         },
         bounds(21, 29), "7"},
        {"after its rollback", [&] { Db.Rollback(); }, bounds(21, 29), "5"},
        {"the change undone", [&] { Exec("UPDATE t SET v = NULL WHERE id = 5"); },
         bounds(-100, 100), "1;2;3;4;6"},
    };
    bool first = true;
    for (const Step& s : steps) {
      SCOPED_TRACE(s.what);
      EXPECT_EQ(RunStep(s), !first);
      first = false;
    }
  }
}

TEST_F(PreparedQuery, AnInsertKeepsItsTargetOpenOnlyForTheHostsTransaction) {
  const auto users = [&] { return Db.GetLocalConnectedUserCount("t", false); };
  // A process that adds a row of its own: 0 when it could.
  const auto otherProcessWrites = [&](int32_t Id) {
    return OtherProcessRuns("INSERT INTO t VALUES (" + std::to_string(Id) + ", 'o', 0)");
  };
  Q.SQL().SetText("INSERT INTO t (id, name) VALUES (:id, 'n')");
  struct Case {
    const char* what;
    std::function<void()> end;  // of the transaction or the statement
    bool committed;
  } cases[] = {
      {"commit", [&] { Db.Commit(); }, true},
      {"rollback", [&] { Db.Rollback(); }, false},
      {"unprepare, then commit", [&] { Q.UnPrepare(); EXPECT_EQ(users(), 0); Db.Commit(); }, true},
      {"another text, then commit",
       [&] {
         Q.SQL().SetText("INSERT INTO t (id, name) VALUES (:id, 'm')");
         EXPECT_EQ(users(), 0);
         Db.Commit();
         Q.SQL().SetText("INSERT INTO t (id, name) VALUES (:id, 'n')");
       },
       true},
      {"disconnect", [&] { Db.SetConnected(false); EXPECT_FALSE(Db.InTransaction()); Db.SetConnected(true); },
       false},
  };
  int32_t id = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t first = id;
    Db.StartTransaction();
    for (int32_t n = 0; n < 3; ++n) {
      Q.ParamByName("id")->SetAsInteger(id++);
      Q.ExecSQL();
      EXPECT_EQ(Q.RowsAffected(), 1);
      EXPECT_EQ(users(), 1);
    }
    // What the others of the connection write meanwhile is seen.
    Exec("INSERT INTO t VALUES (" + std::to_string(id++) + ", 'x', 0)");
    Q.ParamByName("id")->SetAsInteger(id++);
    Q.ExecSQL();
    c.end();
    EXPECT_FALSE(Db.InTransaction());
    EXPECT_EQ(users(), 0);
    EXPECT_EQ(Select("SELECT COUNT(*) FROM t WHERE id >= " + std::to_string(first)),
              c.committed ? "5" : "0");
    EXPECT_EQ(otherProcessWrites(id++), 0);
  }
  // Outside a transaction nothing stays open.
  Q.ParamByName("id")->SetAsInteger(id++);
  Q.ExecSQL();
  EXPECT_EQ(users(), 0);
}

TEST_F(PreparedQuery, AKeptInsertFollowsWhatChangesTheTableBetweenRuns) {
  // A run inside a transaction takes the table's header as this cursor last
  // wrote it, unless something else was written since: every change below
  // moves rows, pages or the trees' roots under the kept cursor.
  Q.SQL().SetText("INSERT INTO t (id, name, v) VALUES (:id, :name, :v)");
  int32_t id = 1000;
  int32_t rows = 3;
  const auto insert = [&](int32_t Count) {
    for (int32_t n = 0; n < Count; ++n, ++id, ++rows) {
      Q.ParamByName("id")->SetAsInteger(id);
      Q.ParamByName("name")->SetAsString("q" + std::to_string(id % 97));
      Q.ParamByName("v")->SetAsInteger(id % 5);
      Q.ExecSQL();
    }
  };
  const auto count = [&](const std::string& Where) { return Select("SELECT COUNT(*) FROM t WHERE " + Where); };
  struct Case {
    const char* what;
    std::function<void()> between;
    bool inTransaction;
  } cases[] = {
      {"nothing", [] {}, true},
      {"rows added by another statement of the connection",
       [&] {
         for (int32_t n = 0; n < 300; ++n, ++id, ++rows)
           Exec("INSERT INTO t VALUES (" + std::to_string(id) + ", 'e', 9)");
       },
       true},
      {"rows deleted by another statement of the connection",
       [&] {
         rows -= std::stoi(count("v = 9"));
         Exec("DELETE FROM t WHERE v = 9");
       },
       true},
      {"keys changed by another statement of the connection",
       [&] { Exec("UPDATE t SET name = 'a' WHERE v = 3"); }, true},
      {"a commit, then rows added by another process",
       [&] {
         Db.Commit();
         std::string text;
         for (int32_t n = 0; n < 300; ++n, ++id, ++rows)
           text += "INSERT INTO t VALUES (" + std::to_string(id) + ", 'p', 8);";
         EXPECT_EQ(OtherProcessRuns(text), 0);
       },
       false},
      {"a rolled back run",
       [&] {
         Db.Rollback();
         Db.StartTransaction();
         insert(300);
         Db.Rollback();
         rows -= 500;
       },
       false},
      {"an index added by another process",
       [&] {
         Db.Commit();
         ExecInChild("CREATE INDEX iv ON t (v)");
         Db.SetConnected(true);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Db.StartTransaction();
    insert(200);
    c.between();
    if (!c.inTransaction) Db.StartTransaction();
    insert(200);
    EXPECT_EQ(count("id > 0"), std::to_string(rows));
    Db.Commit();
    // The index on the names finds every row.
    EXPECT_EQ(count("name >= ''"), std::to_string(rows));
  }
}

}  // namespace
}  // namespace zel
