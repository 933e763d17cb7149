// The engine as a host sees it: this program links the shared library only
// and includes nothing but its public header, so what it uses must be on the
// library's face, and exceptions, the log and files must work across the
// library's edge.
#include "zel15rd5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/DatabaseCheck.h"
#include "support/IntegrityCheckTables.h"
#include "support/TestDir.h"

namespace {

constexpr int32_t kPage = 4096;

// Raises an engine error inside the library; true when the host catches it
// as E.
template <class E>
bool CaughtAs() {
  try {
    zel::ZelDatabaseError(0x2809, "THost.Raise", "Table CUSTOMERS");
  } catch (const E& e) {
    return std::strstr(e.what(), "Table CUSTOMERS") != nullptr;
  } catch (...) {
  }
  return false;
}

// An engine error raised inside the library is caught by the host under
// every class of its tree, and the library's log (one copy, shared with the
// host) holds its line.
TEST(Zel15rd5Face, ErrorsReachTheHostUnderEveryClassOfTheirTree) {
  EXPECT_TRUE(CaughtAs<zel::EZelDatabaseError>());
  EXPECT_TRUE(CaughtAs<plat::EDatabaseError>());
  EXPECT_TRUE(CaughtAs<plat::Exception>());
  EXPECT_TRUE(CaughtAs<std::exception>());
  plat::TStringList* log = zel::GDBLogger()->LogList();
  ASSERT_GT(log->Count(), 0);
  EXPECT_NE(log->Strings(log->Count() - 1).find("THost.Raise"), std::string::npos);
}

// A database file a host makes through the face: a table created, records
// committed, and after reopening the records read back; the file passes the
// integrity checker.
TEST(Zel15rd5Face, StorageRoundTrip) {
  testsupport::TempDir dir;
  const std::string file = dir.File("host.zel");
  {
    zel::TDiskMgr creator;
    creator.SetFileName(file);
    creator.SetPageSize(kPage);
    creator.CreateNewFile();
  }
  struct TDatabase {
    explicit TDatabase(const std::string& FileName) {
      Disk.SetFileName(FileName);
      Disk.SetPageSize(kPage);
      Disk.Open();
      Headers.SetDiskMgr(&Disk);
      Headers.SetBlockSize(zel::TableHeaderBlockSize);
      Headers.SetUsage(zel::iuTableHeaders);
      Headers.SetGlobalFirstEmptyOffset(zel::ghTableHeadersFirstEmpty);
      Headers.Open();
      Tables.SetHdrDiskInterface(&Headers);
      Tables.SetBaseDefMgrAddress(3 * kPage);
      Tables.Open();
    }
    ~TDatabase() {
      Tables.Close();
      Headers.Close();
      Disk.Close();
    }
    zel::TDiskMgr Disk;
    zel::TDiskIOInterface Headers;
    zel::TDiskTableDefMgr Tables;
  };
  const auto makeDef = [] {
    auto def = std::make_unique<zel::TTableDef>();
    def->SetTableName("Items");
    zel::TInternalFieldItem* field = def->InternalFields().Add();
    field->SetFieldName("ID");
    field->SetDataType(plat::ftInteger);
    field->SetFieldIndex(0);
    field->SetFieldNo(1);
    def->InternalFields().SetDefaultOffsets();
    def->UpdateVersion();
    return def;
  };

  const std::vector<uint32_t> ids = {7, 11, 13};
  std::vector<uint32_t> addrs;
  int32_t tableID = 0;
  {
    TDatabase db(file);
    std::unique_ptr<zel::TTableDef> def = makeDef();
    db.Tables.CreateTableDef("Items", *def);
    tableID = def->TableID();
    db.Disk.DiskStartTransaction(false);
    db.Tables.OpenTableDefConnection("Items", *def);
    {
      zel::TRecordMgr records;
      records.SetRecordSize(def->RecordSize());
      records.Open(def->RecordInterface());
      for (const uint32_t id : ids) {
        std::vector<uint8_t> rec(static_cast<size_t>(def->RecordSize()), 0);
        rec[zel::rpInUse] = 1;
        const zel::TInternalFieldItem* field = def->InternalFields().FindField("ID");
        rec[static_cast<size_t>(field->NullFlagOffset())] = 1;
        zel::ix::StoreU32(rec.data() + field->DataOffset(), id);
        addrs.push_back(records.AddRecord(rec.data()));
      }
      def->TableHeader()->SetRecordFirstEmpty(def->RecordInterface()->FirstEmpty());
      records.Close();
    }
    db.Tables.CloseTableDefConnection(def->TableID());
    db.Disk.DiskCommit();
  }
  {
    TDatabase db(file);
    std::unique_ptr<zel::TTableDef> def = makeDef();
    def->SetTableID(tableID);
    db.Tables.OpenTableDefConnection("Items", *def);
    zel::TRecordMgr records;
    records.SetRecordSize(def->RecordSize());
    records.Open(def->RecordInterface());
    const int32_t offset = def->InternalFields().FindField("ID")->DataOffset();
    for (size_t i = 0; i < ids.size(); ++i) {
      std::vector<uint8_t> rec(static_cast<size_t>(def->RecordSize()));
      records.ReadRecord(addrs[i], rec.data(), false);
      EXPECT_EQ(zel::ix::LoadU32(rec.data() + offset), ids[i]);
    }
    records.Close();
    db.Tables.CloseTableDefConnection(def->TableID());
  }
  EXPECT_TRUE(testsupport::TablesAreIntact(file));
}

// A host runs SQL through the query component: a table made by a script, a
// row inserted with parameters, an engine error raised by a statement, and
// the rows browsed through an open SELECT.
TEST(Zel15rd5Face, QueryRunsStatements) {
  testsupport::TempDir dir;
  const std::string file = dir.File("query.zel");
  {
    zel::TZelDataBase db;
    db.SetDataBaseName(file);
    db.CreateDatabase();
    zel::TZelQuery q;
    q.SetDataBase(&db);
    q.SQL().SetText("CREATE TABLE items (id INTEGER, label VARCHAR(20), PRIMARY KEY (id));"
                    "INSERT INTO items VALUES (1, 'first; of all')");
    q.ExecSQL();
    q.SQL().SetText("INSERT INTO items (id, label) VALUES (:id, :label)");
    q.ParamByName("id")->SetAsInteger(2);
    q.ParamByName("label")->SetAsString("second");
    q.ExecSQL();
    EXPECT_EQ(q.RowsAffected(), 1);
    q.SQL().SetText("DROP TABLE nosuch");
    try {
      q.ExecSQL();
      ADD_FAILURE() << "dropped a missing table";
    } catch (const zel::EZelDatabaseError& e) {
      EXPECT_EQ(e.ErrorCode(), 0x25AD);
      EXPECT_NE(std::string(e.what()).find("Table not found: nosuch"), std::string::npos);
    }
    q.SQL().SetText("SELECT id, label FROM items ORDER BY id DESC");
    q.Open();
    std::string rows;
    for (q.First(); !q.Eof(); q.Next())
      rows += std::to_string(q.FieldByName("id")->AsInteger()) + ":" +
              q.FieldByName("label")->AsString() + ";";
    q.Close();
    EXPECT_EQ(rows, "2:second;1:first; of all;");
    db.SetConnected(false);
  }
  EXPECT_TRUE(testsupport::DatabaseIsIntact(file));
}

}  // namespace
