// The read locks a statement keeps while it is planned and run: another
// process can write the tables again once the statement is done with them,
// whether it succeeded or failed half-way.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "engine/sql/zelSQL.h"
#include "engine/storage/zelCommonError.h"
#include "support/DatabaseCheck.h"
#include "support/TestDir.h"

namespace zel {
namespace {

class StatementLocks : public ::testing::Test {
 protected:
  std::string File() const { return Dir.File("locks.zel"); }

  // Table T: key K, value V, rows K = 1 .. 6 with V = 10 K.
  void SetUp() override {
    Db.SetDataBaseName(File());
    Db.CreateDatabase();
    Db.SetLockRetryMaximum(3);
    Db.SetLockRetryInterval(2);
    Db.SetConnected(true);
    TZelTable t;
    t.SetDataBase(&Db);
    t.SetTableName("T");
    t.FieldDefs().Add("K", plat::ftInteger);
    t.FieldDefs().Add("V", plat::ftInteger);
    t.IndexDefs().Add("ixK", "K", {plat::ixPrimary, plat::ixUnique});
    t.CreateTable();
    t.Open();
    for (int32_t k = 1; k <= 6; ++k) t.AppendRecord({plat::Variant(k), plat::Variant(10 * k)});
    t.Close();
    Q.SetDataBase(&Db);
  }

  void TearDown() override {
    Q.Close();
    Db.SetConnected(false);
    EXPECT_TRUE(testsupport::DatabaseIsIntact(File()));
  }

  // Another process adds row K, waiting a few milliseconds at most: 0 when
  // it could, the error code otherwise.
  int AppendInChild(int32_t K) {
    return testsupport::RunInChild([this, K] {
      TZelDataBase other;
      other.SetDataBaseName(File());
      other.SetLockRetryMaximum(3);
      other.SetLockRetryInterval(2);
      try {
        other.SetConnected(true);
        TZelTable t;
        t.SetDataBase(&other);
        t.SetTableName("T");
        t.Open();
        t.AppendRecord({plat::Variant(K), plat::Variant(10 * K)});
        t.Close();
        other.SetConnected(false);
      } catch (const EZelDatabaseError& e) {
        return e.ErrorCode() == 0x2809 ? 1 : 2;
      }
      return 0;
    });
  }

  testsupport::TempDir Dir;
  TZelDataBase Db;
  TZelQuery Q;
};

TEST_F(StatementLocks, AWriterGetsInAfterEveryWayAStatementEnds) {
  struct TCase {
    const char* Name;
    const char* Sql;
    std::function<void(TZelQuery&)> Run;
    bool Fails;
  };
  const auto open = [](TZelQuery& Q) { Q.Open(); };
  const auto prepare = [](TZelQuery& Q) { Q.Prepare(); };
  const TCase cases[] = {
      {"planned only", "SELECT a.K, b.V FROM T a JOIN T b ON b.K = a.K", prepare, false},
      {"a join run", "SELECT a.K, b.V FROM T a JOIN T b ON b.K = a.K ORDER BY b.V", open, false},
      {"a run that fails at its third row", "SELECT K, 100 / (K - 3) FROM T", open, true},
      {"a join that fails half-way",
       "SELECT a.K FROM T a LEFT JOIN T b ON b.K = a.K WHERE 100 / (b.K - 4) > 0", open, true},
      // The subquery's table is kept open for the whole outer run.
      {"a correlated EXISTS run",
       "SELECT a.K FROM T a WHERE EXISTS (SELECT K FROM T b WHERE b.K = a.K AND b.V > 20)", open,
       false},
      {"a correlated EXISTS that fails at the third outer row",
       "SELECT a.K FROM T a WHERE EXISTS (SELECT K FROM T b WHERE b.K = a.K AND 100 / (b.K - 3) > 0)",
       open, true},
  };
  int32_t next = 10;
  for (const TCase& t : cases) {
    SCOPED_TRACE(t.Name);
    Q.Close();
    Q.SQL().SetText(t.Sql);
    if (t.Fails) {
      EXPECT_THROW(t.Run(Q), EZelDatabaseError);
    } else {
      t.Run(Q);
    }
    EXPECT_EQ(AppendInChild(next++), 0);
  }
  Q.Close();
  Q.SQL().SetText("SELECT COUNT(*) FROM T");
  Q.Open();
  EXPECT_EQ(Q.Fields().Fields(0)->AsInteger(), 6 + 6);
}

}  // namespace
}  // namespace zel
