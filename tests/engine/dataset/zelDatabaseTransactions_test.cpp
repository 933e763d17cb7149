// Transactions, locks, generators, object IDs and the definition dump of the
// database component; several processes on one database file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "../storage/StorageTestSupport.h"
#include "../storage/zelLockTestSupport.h"
#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommonLog.h"
#include "platform/os/Files.h"
#include "support/DatabaseCheck.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using storagetest::ExpectError;

// One byte through a pipe: lets a parent and a forked child take turns.
class TTurn {
 public:
  TTurn() {
    if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
  }
  ~TTurn() {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  TTurn(const TTurn&) = delete;
  TTurn& operator=(const TTurn&) = delete;
  void Give() { (void)!::write(fds_[1], "x", 1); }
  void Take() {
    char c;
    (void)!::read(fds_[0], &c, 1);
  }

 private:
  int fds_[2];
};

class SharedDatabase : public ::testing::Test {
 protected:
  std::string File() const { return Dir.File("shared.zel"); }

  // A connection that shares the file, with retries small enough for tests.
  std::unique_ptr<TZelDataBase> Connect(int32_t Retries = 3) {
    auto db = std::make_unique<TZelDataBase>();
    db->SetDataBaseName(File());
    db->SetLockRetryMaximum(Retries);
    db->SetLockRetryInterval(2);
    db->SetConnected(true);
    return db;
  }

  std::unique_ptr<TZelTable> Table(TZelDataBase& Db, const std::string& Name = "T") {
    auto t = std::make_unique<TZelTable>();
    t->SetDataBase(&Db);
    t->SetTableName(Name);
    return t;
  }

  // Table T: key K (unique) and value V, rows K = 1, 2, 3 with V = 10 K.
  void SetUp() override {
    TZelDataBase db;
    db.SetDataBaseName(File());
    db.CreateDatabase();
    db.SetConnected(true);
    auto t = Table(db);
    t->FieldDefs().Add("K", plat::ftInteger);
    t->FieldDefs().Add("V", plat::ftInteger);
    t->IndexDefs().Add("ixK", "K", {plat::ixPrimary, plat::ixUnique});
    t->CreateTable();
    t->Open();
    for (int32_t k = 1; k <= 3; ++k) t->AppendRecord({plat::Variant(k), plat::Variant(10 * k)});
    t->Close();
    db.SetConnected(false);
  }

  void TearDown() override { EXPECT_TRUE(testsupport::DatabaseIsIntact(File())); }

  static void GoTo(TZelTable& T, int32_t K) {
    for (T.First(); !T.Eof(); T.Next())
      if (T.FieldByName("K")->AsInteger() == K) return;
    ADD_FAILURE() << "no row " << K;
  }

  testsupport::TempDir Dir;
};

// ---------------------------------------------------------------- one process

TEST_F(SharedDatabase, OneTransactionPerConnectionAndItsErrors) {
  TZelDataBase unconnected;
  unconnected.SetDataBaseName(File());
  ExpectError(0x2781, "", [&] { unconnected.StartTransaction(); });
  TZelDataBase memory;
  memory.SetDataBaseName("MEMORY");
  memory.SetConnected(true);
  ExpectError(0x2A80, "", [&] { memory.StartTransaction(); });
  EXPECT_FALSE(memory.InTransaction());
  // No file, no header lock; the flag is kept.
  memory.SetLocked(true);
  EXPECT_TRUE(memory.Locked());
  memory.SetLocked(false);

  auto db = Connect();
  ExpectError(0x2811, "", [&] { db->Commit(); });
  ExpectError(0x2811, "", [&] { db->Rollback(); });
  db->StartTransaction();
  EXPECT_TRUE(db->InTransaction());
  EXPECT_FALSE(db->DiskMgr()->SkipTransactionLock());
  ExpectError(0x2810, "", [&] { db->StartTransaction(); });
  db->Commit();
  EXPECT_FALSE(db->InTransaction());
  // Only a running query without its second flag skips the transaction lock.
  for (const bool flag : {false, true}) {
    db->ActivateQueryMode(flag);
    db->StartTransaction();
    EXPECT_EQ(db->DiskMgr()->SkipTransactionLock(), !flag);
    db->Rollback();
  }
  db->SetQueryActive(false);

  // Disconnecting in the middle of a transaction keeps none of it.
  auto t = Table(*db);
  t->Open();
  db->StartTransaction();
  t->AppendRecord({plat::Variant(4), plat::Variant(40)});
  db->SetConnected(false);
  EXPECT_FALSE(db->InTransaction());
  db->SetConnected(true);
  t->Open();
  EXPECT_EQ(t->RecordCount(), 3);
  t->Close();
  db->SetConnected(false);
}

// A table whose refresh fails: the rollback goes on with the others.
class TRefreshFails : public TZelTable {
 public:
  void InternalRefresh() override { ZelDatabaseError(0x2185, "TRefreshFails", "refresh", this); }
};

TEST_F(SharedDatabase, RollbackTakesInsertsAndEditsBackAndPutsDatasetsInOrder) {
  auto db = Connect();
  TRefreshFails failing;
  failing.SetDataBase(db.get());
  failing.SetTableName("T");
  failing.Open();
  auto t = Table(*db);
  auto other = Table(*db);
  t->Open();
  other->Open();
  db->StartTransaction();
  for (int32_t k = 4; k <= 6; ++k) t->AppendRecord({plat::Variant(k), plat::Variant(0)});
  GoTo(*t, 1);
  t->Edit();
  t->FieldByName("V")->SetAsInteger(99);
  t->Post();
  other->Refresh();
  EXPECT_EQ(other->RecordCount(), 6);
  GoTo(*other, 2);
  other->Edit();
  other->FieldByName("V")->SetAsInteger(77);
  db->Rollback();
  EXPECT_FALSE(db->InTransaction());
  EXPECT_EQ(other->State(), plat::dsBrowse);
  EXPECT_EQ(other->RecordCount(), 3);
  EXPECT_EQ(t->RecordCount(), 3);
  GoTo(*t, 1);
  EXPECT_EQ(t->FieldByName("V")->AsInteger(), 10);
  GoTo(*t, 2);
  EXPECT_EQ(t->FieldByName("V")->AsInteger(), 20);
  // The table is whole and writable after the rollback.
  t->AppendRecord({plat::Variant(7), plat::Variant(70)});
  EXPECT_EQ(t->RecordCount(), 4);

  // What a committed transaction did stays, also for a lock the host held.
  db->StartTransaction();
  t->SetLocked(true);
  t->AppendRecord({plat::Variant(8), plat::Variant(80)});
  db->Commit();
  t->SetLocked(false);
  t->Close();
  other->Close();
  failing.Close();
  db->SetConnected(false);
  db = Connect();
  t = Table(*db);
  t->Open();
  EXPECT_EQ(t->RecordCount(), 5);
  t->Close();
  db->SetConnected(false);
}

// A transaction that outgrows the page cache, splits and merges index
// pages, and reopens its table on the way (which drops the table's clean
// cached pages) leaves after its rollback the file as it was, byte for byte.
TEST_F(SharedDatabase, ALargeRolledBackTransactionLeavesTheFileAsItWas) {
  const auto bytes = [&] {
    std::ifstream in(File(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  const std::string before = bytes();
  auto db = Connect();
  auto t = Table(*db);
  t->Open();
  db->StartTransaction();
  for (int32_t k = 4; k <= 8000; ++k) t->AppendRecord({plat::Variant(k), plat::Variant(k % 7)});
  t->Close();
  t->Open();
  for (t->First(); !t->Eof();) {
    const int32_t k = t->FieldByName("K")->AsInteger();
    if (k % 3 == 0) {
      t->Delete();
      continue;
    }
    t->Edit();
    t->FieldByName("V")->SetAsInteger(k + 1);
    t->Post();
    t->Next();
  }
  EXPECT_EQ(t->RecordCount(), 5334);
  db->Rollback();
  EXPECT_EQ(t->RecordCount(), 3);
  t->Close();
  db->SetConnected(false);
  EXPECT_TRUE(bytes() == before);
}

TEST_F(SharedDatabase, LockCallsReportWhatIsHeldAndMemoryTablesTakeNone) {
  auto db = Connect();
  TTableDef def;
  def.SetMemory(false);
  db->QueryTableDef("T", false, def);
  db->OpenTable("T", def);
  EXPECT_TRUE(db->LockTable(def, ltWrite));
  EXPECT_TRUE(db->TableLockExists(def, ltWrite));
  EXPECT_FALSE(db->TableLockExists(def, ltRead));
  EXPECT_TRUE(db->UnLockTable(def));
  EXPECT_FALSE(db->TableLockExists(def, ltWrite));
  EXPECT_TRUE(db->LockRecord(def, 4096));
  EXPECT_TRUE(db->RecordLockExists(def, 4096));
  EXPECT_TRUE(db->UnLockRecord(def, 4096));
  EXPECT_FALSE(db->RecordLockExists(def, 4096));
  db->CloseTable(def);

  auto m = Table(*db, "M");
  m->SetMemory(true);
  m->FieldDefs().Add("N", plat::ftInteger);
  m->CreateTable();
  TTableDef mem;
  mem.SetMemory(true);
  db->OpenTable("M", mem);
  EXPECT_FALSE(db->LockTable(mem, ltWrite));
  EXPECT_FALSE(db->TableLockExists(mem, ltWrite));
  EXPECT_FALSE(db->LockRecord(mem, 1));
  EXPECT_FALSE(db->RecordLockExists(mem, 1));
  db->CloseTable(mem);
  db->SetConnected(false);
}

// ---------------------------------------------------------------- generators

// Inside a transaction the table stays locked between reads, and a reader
// keeps the header it read; what another cursor of the same connection
// writes meanwhile must still reach it.
TEST_F(SharedDatabase, ACursorSeesWhatAnotherCursorOfItsConnectionWroteInTheTransaction) {
  auto db = Connect();
  auto reader = Table(*db);
  auto writer = Table(*db);
  reader->Open();
  writer->Open();
  const auto sum = [&] {
    int32_t total = 0;
    for (reader->First(); !reader->Eof(); reader->Next()) total += reader->FieldByName("V")->AsInteger();
    return total;
  };
  db->StartTransaction();
  EXPECT_EQ(sum(), 60);
  writer->AppendRecord({plat::Variant(4), plat::Variant(40)});
  EXPECT_EQ(sum(), 100);
  EXPECT_EQ(reader->RecordCount(), 4);
  GoTo(*writer, 2);
  writer->Edit();
  writer->FieldByName("V")->SetAsInteger(25);
  writer->Post();
  EXPECT_EQ(sum(), 105);
  GoTo(*writer, 1);
  writer->Delete();
  EXPECT_EQ(sum(), 95);
  EXPECT_EQ(reader->RecordCount(), 3);
  db->Rollback();
  EXPECT_EQ(sum(), 60);
  EXPECT_EQ(reader->RecordCount(), 3);
  reader->Close();
  writer->Close();
  db->SetConnected(false);
}

TEST_F(SharedDatabase, GeneratorsCountByTheirStepAndPeekWithoutAdvancing) {
  auto db = Connect();
  db->CreateGenerator("Orders", 100, 10);
  EXPECT_EQ(db->GetGeneratorValue("Orders", false), 100);
  EXPECT_EQ(db->GetGeneratorValue("orders", false), 110);
  EXPECT_EQ(db->GetGeneratorValue("Orders", false), 120);
  EXPECT_EQ(db->GetGeneratorValue("Orders", true), 130);
  EXPECT_EQ(db->GetGeneratorValue("Orders", true), 130);
  db->CreateGenerator("Same", 5, 0);
  db->CreateGenerator("Down", 3, -2);
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(db->GetGeneratorValue("Same", false), 5);
  EXPECT_EQ(db->GetGeneratorValue("Down", false), 3);
  EXPECT_EQ(db->GetGeneratorValue("Down", false), 1);
  EXPECT_EQ(db->GetGeneratorValue("Down", false), -1);
  int32_t value = -7, step = -7;
  EXPECT_TRUE(db->QueryGenerator("ORDERS", value, step));
  EXPECT_EQ(value, 130);
  EXPECT_EQ(step, 10);
  EXPECT_FALSE(db->QueryGenerator("None", value, step));
  EXPECT_EQ(value, 130);

  // A value past the integer range is refused and the generator kept.
  db->CreateGenerator("Edge", 2147483640, 10);
  ExpectError(0x2701, "", [&] { db->GetGeneratorValue("Edge", false); });
  EXPECT_EQ(db->GetGeneratorValue("Edge", true), 2147483640);

  plat::TStringList names;
  names.Add("stale");
  db->GetGeneratorNames(names);
  EXPECT_EQ(names.Text(), "Down\nEdge\nOrders\nSame\n");
  db->DeleteGenerator("Same");
  db->DeleteGenerator("NeverMade");
  ExpectError(0x2183, "", [&] { db->GetGeneratorValue("Same", false); });
  db->SetConnected(false);
  db = Connect();
  EXPECT_EQ(db->GetGeneratorValue("Orders", false), 130);
  db->SetConnected(false);
}

TEST_F(SharedDatabase, GeneratorNamesAreCheckedAndTheEnginesOwnAreOutOfReach) {
  auto db = Connect();
  db->CreateGenerator("Orders", 1, 1);
  ExpectError(0x2184, "", [&] { db->CreateGenerator("ORDERS", 1, 1); });
  ExpectError(0x2585, "", [&] { db->CreateGenerator(std::string(21, 'g'), 1, 1); });
  db->CreateGenerator(std::string(20, 'g'), 1, 1);
  int32_t value = 0, step = 0;
  const std::vector<std::function<void(const std::string&)>> hostCalls = {
      [&](const std::string& N) { db->CreateGenerator(N, 1, 1); },
      [&](const std::string& N) { db->GetGeneratorValue(N, false); },
      [&](const std::string& N) { db->GetGeneratorValue(N, true); },
      [&](const std::string& N) { db->DeleteGenerator(N); },
      [&](const std::string& N) { db->QueryGenerator(N, value, step); }};
  for (const auto& call : hostCalls)
    for (const std::string name : {"", "$X", "$INTGEN_OBJID"})
      EXPECT_EQ(locktest::ErrorCodeOf([&] { call(name); }), 0x278D) << "name '" << name << "'";

  TZelDataBase memory;
  memory.SetDataBaseName("MEMORY");
  memory.SetConnected(true);
  ExpectError(0x2A80, "", [&] { memory.CreateGenerator("G", 1, 1); });
  db->SetConnected(false);
}

// ---------------------------------------------------------------- object IDs and the dump

TEST_F(SharedDatabase, TablesGetObjectIDsThatFollowRenamesAndGoWithTheTable) {
  auto db = Connect();
  db->SetConnected(false);
  db->SetExclusive(true);
  db->SetConnected(true);
  const int32_t first = db->InternalGetObjectIDFromName("T");
  EXPECT_EQ(first, 1);
  for (const char* name : {"A", "B"}) {
    auto t = Table(*db, name);
    t->FieldDefs().Add("N", plat::ftInteger);
    t->CreateTable();
  }
  EXPECT_EQ(db->InternalGetObjectIDFromName("a"), 2);
  EXPECT_EQ(db->InternalGetObjectIDFromName("B"), 3);
  EXPECT_EQ(db->InternalGetObjectIDFromName("ALL"), 0);
  db->RenameTable("A", "Renamed");
  EXPECT_EQ(db->InternalGetObjectIDFromName("A"), 0);
  EXPECT_EQ(db->InternalGetObjectIDFromName("Renamed"), 2);
  db->DeleteTable("B", false);
  EXPECT_EQ(db->InternalGetObjectIDFromName("B"), 0);
  // A failed creation leaves no object ID behind; IDs are never reused.
  auto dup = Table(*db, "renamed");
  dup->FieldDefs().Add("N", plat::ftInteger);
  ExpectError(0x3304, "", [&] { dup->CreateTable(); });
  auto c = Table(*db, "C");
  c->FieldDefs().Add("N", plat::ftInteger);
  c->CreateTable();
  EXPECT_EQ(db->InternalGetObjectIDFromName("C"), 4);
  db->SetConnected(false);
  db->SetConnected(true);
  EXPECT_EQ(db->InternalGetObjectIDFromName("Renamed"), 2);
  EXPECT_EQ(db->InternalGetObjectIDFromName("C"), 4);
  db->SetConnected(false);
}

class DefinitionDump : public ::testing::Test {
 protected:
  std::string File() const { return Dir.File("dumped.zel"); }
  std::string DumpFile() const { return Dir.File("dumped.zed"); }
  std::unique_ptr<TZelDataBase> Make(const std::string& Key) {
    auto db = std::make_unique<TZelDataBase>();
    db->SetDataBaseName(File());
    db->SetExclusive(true);
    if (!Key.empty()) {
      db->SetUseEncryption(true);
      db->SetMasterKey(Key);
    }
    db->CreateDatabase();
    db->SetSaveTableDefinitions(true);
    db->SetConnected(true);
    return db;
  }
  void Create(TZelDataBase& Db, const std::string& Name) {
    TZelTable t;
    t.SetDataBase(&Db);
    t.SetTableName(Name);
    t.FieldDefs().Add("N", plat::ftInteger);
    t.FieldDefs().Add("S", plat::ftString, 12);
    t.IndexDefs().Add("ixN", "N", {plat::ixUnique});
    t.CreateTable();
  }
  std::string DumpedTables(const std::string& Key) {
    TZelDataBase dump;
    dump.SetDataBaseName(DumpFile());
    if (!Key.empty()) {
      dump.SetUseEncryption(true);
      dump.SetMasterKey(Key);
    }
    dump.SetConnected(true);
    plat::TStringList names;
    dump.GetTableNames(names, false);
    dump.SetConnected(false);
    return names.Text();
  }
  void TearDown() override {
    EXPECT_TRUE(testsupport::DatabaseIsIntact(File()));
    if (plat::FileExists(DumpFile())) {
      EXPECT_TRUE(testsupport::DatabaseIsIntact(DumpFile()));
    }
  }
  testsupport::TempDir Dir;
};

TEST_F(DefinitionDump, EachNewTableRewritesTheDumpOfAllUserTables) {
  auto db = Make("");
  Create(*db, "First");
  EXPECT_EQ(DumpedTables(""), "First\n");
  Create(*db, "Second");
  EXPECT_EQ(DumpedTables(""), "First\nSecond\n");
  EXPECT_FALSE(plat::FileExists(Dir.File("dumped.zed~")));
  // The dumped definition is the table's, empty.
  TZelDataBase dump;
  dump.SetDataBaseName(DumpFile());
  dump.SetConnected(true);
  TZelTable t;
  t.SetDataBase(&dump);
  t.SetTableName("Second");
  t.Open();
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_EQ(t.FieldByName("S")->Size(), 12);
  t.Close();
  dump.SetConnected(false);
  db->SetConnected(false);
}

TEST_F(DefinitionDump, TheDumpOfAnEncryptedDatabaseNeedsItsKey) {
  auto db = Make("dump-key");
  Create(*db, "Secret");
  db->SetConnected(false);
  EXPECT_EQ(DumpedTables("dump-key"), "Secret\n");
  TZelDataBase wrong;
  wrong.SetDataBaseName(DumpFile());
  wrong.SetUseEncryption(true);
  wrong.SetMasterKey("not-the-key");
  ExpectError(0x2103, "", [&] { wrong.SetConnected(true); });
}

TEST_F(DefinitionDump, AFailedDumpIsLoggedAndTheTableStands) {
  auto db = Make("");
  ASSERT_TRUE(plat::ForceDirectories(DumpFile()));
  Create(*db, "Kept");
  plat::TStringList names;
  db->GetTableNames(names, false);
  EXPECT_EQ(names.Text(), "Kept\n");
  EXPECT_NE(GDBLogger()->LogList()->Text().find("Table definition dump failed"), std::string::npos);
  EXPECT_FALSE(plat::FileExists(Dir.File("dumped.zed~")));
  db->SetConnected(false);
  ASSERT_EQ(::rmdir(DumpFile().c_str()), 0);

  // A database named like its dump keeps its tables.
  TZelDataBase self;
  self.SetDataBaseName(DumpFile());
  self.SetExclusive(true);
  self.CreateDatabase();
  self.SetSaveTableDefinitions(true);
  self.SetConnected(true);
  Create(self, "Own");
  TZelTable own;
  own.SetDataBase(&self);
  own.SetTableName("Own");
  own.Open();
  own.AppendRecord({plat::Variant(1), plat::Variant("kept")});
  own.Close();
  Create(self, "Second");
  self.SetConnected(false);
  self.SetConnected(true);
  own.Open();
  EXPECT_EQ(own.RecordCount(), 1);
  own.Close();
  self.SetConnected(false);
}

// ---------------------------------------------------------------- several processes

TEST_F(SharedDatabase, AnEditedRecordIsLockedUntilItIsPosted) {
  auto db = Connect();
  auto t = Table(*db);
  t->Open();
  GoTo(*t, 1);
  t->Edit();
  const auto editRowOne = [this](int32_t NewValue) {
    return testsupport::RunInChild([this, NewValue] {
      auto other = Connect();
      auto mine = Table(*other);
      mine->Open();
      GoTo(*mine, 1);
      const int32_t code = locktest::ErrorCodeOf([&] {
        mine->Edit();
        mine->FieldByName("V")->SetAsInteger(NewValue);
        mine->Post();
      });
      mine->Close();
      other->SetConnected(false);
      return code == 0 ? 0 : code == 0x2809 ? 1 : 2;
    });
  };
  EXPECT_EQ(editRowOne(11), 1);
  t->FieldByName("V")->SetAsInteger(12);
  t->Post();
  EXPECT_EQ(editRowOne(13), 0);
  t->Refresh();
  GoTo(*t, 1);
  EXPECT_EQ(t->FieldByName("V")->AsInteger(), 13);
  // A cancelled edit lets go as well.
  t->Edit();
  t->Cancel();
  EXPECT_EQ(editRowOne(14), 0);
  t->Close();
  db->SetConnected(false);
}

TEST_F(SharedDatabase, AStaleCopyIsRefusedOnEditAndOnPost) {
  auto db = Connect();
  auto t = Table(*db);
  t->Open();
  GoTo(*t, 2);
  // Another process changes row 2 through the engine cursor, which does not
  // ask for the record lock.
  const auto changeRowTwo = [this](int32_t NewValue) {
    return testsupport::RunInChild([this, NewValue] {
      auto other = Connect();
      TZelDataSet cursor;
      cursor.SetDataBase(other.get());
      cursor.SetTableName("T");
      cursor.DataSetOpen();
      cursor.InitializeNewRecord(cursor.RecordBuffer(), false);
      cursor.DataSetSetFieldDataAsVariant(0, plat::Variant(2));
      if (!cursor.SeekCurrentKey()) return 1;
      cursor.DataSetSetFieldDataAsVariant(1, plat::Variant(NewValue));
      cursor.UpdateRecord();
      cursor.DataSetClose();
      other->SetConnected(false);
      return 0;
    });
  };
  ASSERT_EQ(changeRowTwo(21), 0);
  ExpectError(0x2204, "", [&] { t->Edit(); });
  t->Refresh();
  GoTo(*t, 2);
  EXPECT_EQ(t->FieldByName("V")->AsInteger(), 21);
  t->Edit();
  t->FieldByName("V")->SetAsInteger(22);
  ASSERT_EQ(changeRowTwo(23), 0);
  ExpectError(0x2204, "", [&] { t->Post(); });
  t->Cancel();
  t->Refresh();
  GoTo(*t, 2);
  EXPECT_EQ(t->FieldByName("V")->AsInteger(), 23);
  t->Close();
  db->SetConnected(false);
}

TEST_F(SharedDatabase, CommittedInsertsShowAfterTheNextLockAndUncommittedNever) {
  TTurn toChild, toParent;
  const int pid = testsupport::StartChild([&] {
    auto other = Connect(200);
    auto mine = Table(*other);
    mine->Open();
    int result = 0;
    toChild.Take();  // The parent inserted, not committed.
    mine->Refresh();
    if (mine->RecordCount() != 3) result = 1;
    toParent.Give();
    toChild.Take();  // Committed.
    mine->Refresh();
    if (result == 0 && mine->RecordCount() != 5) result = 2;
    mine->Close();
    other->SetConnected(false);
    return result;
  });
  auto db = Connect();
  auto t = Table(*db);
  t->Open();
  db->StartTransaction();
  t->AppendRecord({plat::Variant(4), plat::Variant(40)});
  t->AppendRecord({plat::Variant(5), plat::Variant(50)});
  toChild.Give();
  toParent.Take();
  db->Commit();
  toChild.Give();
  EXPECT_EQ(testsupport::WaitChild(pid), 0);
  t->Close();
  db->SetConnected(false);
}

TEST_F(SharedDatabase, TwoProcessesDrawingFromOneGeneratorGetDistinctValues) {
  {
    auto db = Connect();
    db->CreateGenerator("Tickets", 1, 1);
    db->SetConnected(false);
  }
  const auto draw = [this](const std::string& Out) {
    return testsupport::StartChild([this, Out] {
      auto db = Connect(500);
      std::ofstream out(Out);
      for (int32_t i = 0; i < 50; ++i) out << db->GetGeneratorValue("Tickets", false) << '\n';
      db->SetConnected(false);
      return 0;
    });
  };
  const int a = draw(Dir.File("a.txt")), b = draw(Dir.File("b.txt"));
  EXPECT_EQ(testsupport::WaitChild(a), 0);
  EXPECT_EQ(testsupport::WaitChild(b), 0);
  std::set<int32_t> values;
  for (const char* name : {"a.txt", "b.txt"}) {
    std::ifstream in(Dir.File(name));
    for (int32_t v; in >> v;) values.insert(v);
  }
  EXPECT_EQ(values.size(), 100u);
  EXPECT_EQ(*values.begin(), 1);
  EXPECT_EQ(*values.rbegin(), 100);
}

TEST_F(SharedDatabase, TheLockFileGoesWithTheLastConnection) {
  const std::string lockFile = TDiskMgr::GetLockFileName(File());
  TTurn toChild, toParent;
  const int pid = testsupport::StartChild([&] {
    auto other = Connect();
    plat::TStringList seen;
    other->GetCurrentUsers(seen);
    toParent.Give();
    toChild.Take();
    other->SetConnected(false);
    return seen.Count() == 1 ? 0 : 1;
  });
  toParent.Take();
  auto db = Connect();
  plat::TStringList users;
  db->GetCurrentUsers(users);
  // One line per user and machine, however many connections it has.
  EXPECT_EQ(users.Count(), 1);
  db->SetConnected(false);
  EXPECT_TRUE(plat::FileExists(lockFile));
  toChild.Give();
  EXPECT_EQ(testsupport::WaitChild(pid), 0);
  EXPECT_FALSE(plat::FileExists(lockFile));
}

TEST_F(SharedDatabase, AReadOnlyFileOpensWithoutALockFile) {
  ASSERT_EQ(::chmod(File().c_str(), 0444), 0);
  TZelDataBase db;
  db.SetDataBaseName(File());
  db.SetReadOnly(true);
  db.SetConnected(true);
  EXPECT_FALSE(plat::FileExists(TDiskMgr::GetLockFileName(File())));
  plat::TStringList users;
  ExpectError(0x2905, "", [&] { db.GetCurrentUsers(users); });
  TZelTable t;
  t.SetDataBase(&db);
  t.SetTableName("T");
  t.Open();
  EXPECT_EQ(t.RecordCount(), 3);
  t.Close();
  db.SetConnected(false);
  ASSERT_EQ(::chmod(File().c_str(), 0644), 0);
}

TEST_F(SharedDatabase, RetrySettingsReachAConnectedDatabase) {
  auto db = Connect(1000);
  auto t = Table(*db);
  t->Open();
  GoTo(*t, 3);
  t->Edit();
  const int code = testsupport::RunInChild([this] {
    auto other = Connect(1000);
    // Connected with a long wait; the change must shorten it.
    other->SetLockRetryMaximum(2);
    other->SetLockRetryInterval(1);
    auto mine = Table(*other);
    mine->Open();
    GoTo(*mine, 3);
    const int32_t error = locktest::ErrorCodeOf([&] { mine->Edit(); });
    mine->Close();
    other->SetConnected(false);
    return error == 0x2809 ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
  t->Cancel();
  t->Close();
  db->SetConnected(false);
}

// N processes each run M transactions that add one to a counter row and
// insert a row of their own.
TEST_F(SharedDatabase, ConcurrentTransactionsLoseNoUpdate) {
  constexpr int32_t N = 4;
  constexpr int32_t M = 200;
  {
    auto db = Connect();
    auto log = Table(*db, "Log");
    log->FieldDefs().Add("P", plat::ftInteger);
    log->FieldDefs().Add("I", plat::ftInteger);
    log->IndexDefs().Add("ixPI", "P;I", {plat::ixPrimary, plat::ixUnique});
    log->CreateTable();
    db->SetConnected(false);
  }
  std::vector<int> pids;
  for (int32_t p = 0; p < N; ++p) {
    pids.push_back(testsupport::StartChild([this, p] {
      auto db = Connect(1000);
      auto counter = Table(*db);
      auto log = Table(*db, "Log");
      counter->Open();
      log->Open();
      for (int32_t i = 0; i < M; ++i) {
        for (int32_t attempt = 0;; ++attempt) {
          const int32_t error = locktest::ErrorCodeOf([&] {
            db->StartTransaction();
            counter->Refresh();
            GoTo(*counter, 1);
            counter->Edit();
            counter->FieldByName("V")->SetAsInteger(counter->FieldByName("V")->AsInteger() + 1);
            counter->Post();
            log->AppendRecord({plat::Variant(p), plat::Variant(i)});
            db->Commit();
          });
          if (error == 0) break;
          if (db->InTransaction()) db->Rollback();
          if ((error != 0x2809 && error != 0x2204) || attempt > 100) return 10 + p;
        }
      }
      counter->Close();
      log->Close();
      db->SetConnected(false);
      return 0;
    }));
  }
  for (int pid : pids) EXPECT_EQ(testsupport::WaitChild(pid), 0);
  auto db = Connect();
  auto counter = Table(*db);
  counter->Open();
  GoTo(*counter, 1);
  EXPECT_EQ(counter->FieldByName("V")->AsInteger(), 10 + N * M);
  counter->Close();
  auto log = Table(*db, "Log");
  log->Open();
  EXPECT_EQ(log->RecordCount(), N * M);
  std::set<std::pair<int32_t, int32_t>> rows;
  for (log->First(); !log->Eof(); log->Next())
    rows.insert({log->FieldByName("P")->AsInteger(), log->FieldByName("I")->AsInteger()});
  EXPECT_EQ(static_cast<int32_t>(rows.size()), N * M);
  log->Close();
  db->SetConnected(false);
}

// ---------------------------------------------------------------- read holds

// Rows K = 10, 20, .. 60 in place of 1 .. 3, so that a key can move between
// two others; the engine cursor reads and writes them.
class ReadHold : public SharedDatabase {
 protected:
  void SetUp() override {
    SharedDatabase::SetUp();
    auto db = Connect();
    auto c = Cursor(*db);
    for (int32_t k = 1; k <= 3; ++k) ChangeRow(*c, k, 0);
    for (int32_t k = 10; k <= 60; k += 10) AddRow(*c, k);
    c->DataSetClose();
    db->SetConnected(false);
  }

  static std::unique_ptr<TZelDataSet> Cursor(TZelDataBase& Db, bool Memory = false) {
    auto c = std::make_unique<TZelDataSet>();
    c->SetDataBase(&Db);
    c->SetTableName(Memory ? "M" : "T");
    c->SetMemory(Memory);
    c->DataSetOpen();
    return c;
  }

  static int32_t Key(const TZelDataSet& C) { return C.DataSetGetFieldDataAsVariant(0).AsInteger(); }

  static void AddRow(TZelDataSet& C, int32_t K) {
    C.InitializeNewRecord(C.RecordBuffer(), false);
    C.DataSetSetFieldDataAsVariant(0, plat::Variant(K));
    C.DataSetSetFieldDataAsVariant(1, plat::Variant(10 * K));
    C.AddRecord(false);
  }

  // Row K gets the key NewKey, or goes (NewKey 0).
  static void ChangeRow(TZelDataSet& C, int32_t K, int32_t NewKey) {
    C.InitializeNewRecord(C.RecordBuffer(), false);
    C.DataSetSetFieldDataAsVariant(0, plat::Variant(K));
    ASSERT_TRUE(C.SeekCurrentKey());
    if (NewKey == 0) {
      C.DeleteRecord(C.RecordBuffer());
      return;
    }
    C.DataSetSetFieldDataAsVariant(0, plat::Variant(NewKey));
    C.UpdateRecord();
  }

  // M: T's fields and key in memory (and the index ixV on V descending),
  // with T's rows.
  static void CreateMemoryCopy(TZelDataBase& Db, bool IndexV) {
    TZelTable m;
    m.SetDataBase(&Db);
    m.SetTableName("M");
    m.SetMemory(true);
    m.FieldDefs().Add("K", plat::ftInteger);
    m.FieldDefs().Add("V", plat::ftInteger);
    m.IndexDefs().Add("ixK", "K", {plat::ixPrimary, plat::ixUnique});
    if (IndexV) m.IndexDefs().Add("ixV", "V", {plat::ixDescending});
    m.CreateTable();
    auto c = Cursor(Db, true);
    for (int32_t k = 10; k <= 60; k += 10) AddRow(*c, k);
    c->DataSetClose();
  }

  // A child that adds row K through a connection of its own: 0 when it
  // could, 1 for a lock error, 2 for another failure.
  int AppendInChild(int32_t K, int32_t Retries) {
    return testsupport::StartChild([this, K, Retries] {
      auto db = Connect(Retries);
      const int32_t code = locktest::ErrorCodeOf([&] {
        auto c = Cursor(*db);
        AddRow(*c, K);
        c->DataSetClose();
      });
      db->SetConnected(false);
      return code == 0 ? 0 : code == 0x2809 ? 1 : 2;
    });
  }
};

TEST_F(ReadHold, AWriterWaitsForTheHoldAndGoesOnAfterIt) {
  auto db = Connect();
  auto c = Cursor(*db);
  int patient = 0;
  {
    TTableReadHold hold(db.get());
    ASSERT_TRUE(c->DataSetFirst());
    ASSERT_TRUE(c->DataSetNext());
    // Between the steps no cursor holds a lock, yet the table stays read.
    EXPECT_EQ(testsupport::WaitChild(AppendInChild(70, 3)), 1);
    {
      // A subquery's hold ends inside the statement's.
      TTableReadHold inner(db.get());
      ASSERT_TRUE(c->DataSetNext());
    }
    EXPECT_EQ(testsupport::WaitChild(AppendInChild(70, 3)), 1);
    patient = AppendInChild(80, 2000);
    ::usleep(100 * 1000);
    ASSERT_TRUE(c->DataSetNext());
    EXPECT_EQ(Key(*c), 40);
    ASSERT_TRUE(c->DataSetLast());
    EXPECT_EQ(Key(*c), 60);
  }
  EXPECT_EQ(testsupport::WaitChild(patient), 0);
  ASSERT_TRUE(c->DataSetLast());
  EXPECT_EQ(Key(*c), 80);
  c->DataSetClose();
  db->SetConnected(false);
}

TEST_F(ReadHold, AHoldLeftByAnErrorLetsWritersIn) {
  auto db = Connect();
  auto c = Cursor(*db);
  try {
    TTableReadHold hold(db.get());
    c->DataSetFirst();
    c->DataSetNext();
    throw std::runtime_error("the statement failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(testsupport::WaitChild(AppendInChild(70, 3)), 0);
  ASSERT_TRUE(c->DataSetLast());
  EXPECT_EQ(Key(*c), 70);
  c->DataSetClose();
  db->SetConnected(false);
}

TEST_F(ReadHold, TwoHoldersThatBothWriteDoNotWaitOnEachOther) {
  locktest::TSignal toParent, toChild;
  const int pid = testsupport::StartChild([&] {
    auto db = Connect(2000);
    auto c = Cursor(*db);
    TTableReadHold hold(db.get());
    if (!c->DataSetFirst()) return 2;
    toParent.Send();
    if (!toChild.Wait()) return 3;
    const int32_t code = locktest::ErrorCodeOf([&] { AddRow(*c, 80); });
    c->DataSetClose();
    return code == 0 ? 0 : 1;
  });
  auto db = Connect(2000);
  auto c = Cursor(*db);
  {
    TTableReadHold hold(db.get());
    ASSERT_TRUE(c->DataSetFirst());
    ASSERT_TRUE(toParent.Wait());
    // Both read the table under their holds; now both write it.
    toChild.Send();
    EXPECT_EQ(locktest::ErrorCodeOf([&] { AddRow(*c, 70); }), 0);
  }
  EXPECT_EQ(testsupport::WaitChild(pid), 0);
  std::vector<int32_t> keys;
  for (bool more = c->DataSetFirst(); more; more = c->DataSetNext()) keys.push_back(Key(*c));
  EXPECT_EQ(keys, (std::vector<int32_t>{10, 20, 30, 40, 50, 60, 70, 80}));
  c->DataSetClose();
  db->SetConnected(false);
}

// A scan under a hold steps on from where its index stands; a change of the
// table through another cursor of the connection makes it search again from
// the record it holds. A memory table's scan steps on in the same way.
TEST_F(ReadHold, AScanSeesChangesMadeThroughTheSameConnection) {
  auto db = Connect();
  CreateMemoryCopy(*db, false);
  struct TCase {
    const char* Name;
    int32_t StandOn;
    bool Forward;
    int32_t Row;     // the row changed through the other cursor
    int32_t NewKey;  // 0: deleted
    int32_t Expected;
  };
  const TCase cases[] = {
      {"the next row deleted", 20, true, 30, 0, 40},
      {"the next row moved away", 20, true, 30, 65, 40},
      {"a row moved in next", 20, true, 50, 25, 25},
      {"the row stood on moved", 20, true, 20, 45, 30},
      {"the row stood on deleted", 20, true, 20, 0, 30},
      {"the row before deleted", 50, false, 40, 0, 30},
      {"a row moved in before", 50, false, 10, 45, 45},
      {"the row stood on moved, stepping back", 50, false, 50, 15, 40},
  };
  for (const bool memory : {false, true}) {
    SCOPED_TRACE(memory ? "memory table" : "disk table");
    auto scan = Cursor(*db, memory);
    auto writer = Cursor(*db, memory);
    // Each step also numbers the record by its place in the index.
    const auto allKeys = [&](bool Forward) {
      std::vector<int32_t> keys;
      for (bool more = Forward ? scan->DataSetFirst() : scan->DataSetLast(); more;
           more = Forward ? scan->DataSetNext() : scan->DataSetPrior()) {
        keys.push_back(Key(*scan));
        const auto n = static_cast<int32_t>(keys.size());
        EXPECT_EQ(scan->DataSetGetRecordNo(), Forward ? n : 7 - n) << Key(*scan);
      }
      return keys;
    };
    TTableReadHold hold(db.get());
    EXPECT_EQ(allKeys(true), (std::vector<int32_t>{10, 20, 30, 40, 50, 60}));
    EXPECT_EQ(allKeys(false), (std::vector<int32_t>{60, 50, 40, 30, 20, 10}));
    for (const TCase& t : cases) {
      SCOPED_TRACE(t.Name);
      ASSERT_TRUE(scan->DataSetFirst());
      while (Key(*scan) != t.StandOn) ASSERT_TRUE(scan->DataSetNext());
      // A step away and back, so that the index keeps its place.
      ASSERT_TRUE(t.Forward ? scan->DataSetPrior() : scan->DataSetNext());
      ASSERT_TRUE(t.Forward ? scan->DataSetNext() : scan->DataSetPrior());
      ASSERT_EQ(Key(*scan), t.StandOn);
      ChangeRow(*writer, t.Row, t.NewKey);
      ASSERT_TRUE(t.Forward ? scan->DataSetNext() : scan->DataSetPrior());
      EXPECT_EQ(Key(*scan), t.Expected);
      std::vector<int32_t> now{10, 20, 30, 40, 50, 60};
      std::erase(now, t.Row);
      if (t.NewKey != 0) now.push_back(t.NewKey);
      EXPECT_EQ(scan->DataSetGetRecordNo(),
                std::count_if(now.begin(), now.end(), [&](int32_t K) { return K <= t.Expected; }));
      // Back to the six rows.
      if (t.NewKey == 0)
        AddRow(*writer, t.Row);
      else
        ChangeRow(*writer, t.NewKey, t.Row);
    }
    EXPECT_EQ(allKeys(true), (std::vector<int32_t>{10, 20, 30, 40, 50, 60}));
    scan->DataSetClose();
    writer->DataSetClose();
  }
}

// Steps from a kept position take no lock of their own under a hold: they
// still stop at a range's ends keeping the record they came from, search
// from a key typed over the buffer, follow an index switched under them,
// and see what a rollback took back.
TEST_F(ReadHold, KeptStepsFollowRangesTypedKeysIndexSwitchesAndRollbacks) {
  {
    TZelDataBase only;
    only.SetDataBaseName(File());
    only.SetExclusive(true);
    only.SetConnected(true);
    Table(only)->AddIndex("ixV", "V", {plat::ixDescending});
  }
  auto db = Connect();
  // T and M: K and V = 10 K, indexed on K and on V descending; rows 10..60.
  CreateMemoryCopy(*db, true);
  for (const bool memory : {false, true}) {
    SCOPED_TRACE(memory ? "memory table" : "disk table");
    TZelTable scan;
    scan.SetDataBase(db.get());
    scan.SetTableName(memory ? "M" : "T");
    scan.SetMemory(memory);
    scan.SetIndexName("ixK");
    scan.Open();
    auto writer = Cursor(*db, memory);
    TTableReadHold hold(db.get());
    // The keys met stepping from the first (or last) record of the range,
    // and where the cursor stays after the step that failed.
    const auto walk = [&](bool Forward) {
      std::vector<int32_t> keys;
      for (bool more = Forward ? scan.DataSetFirst() : scan.DataSetLast(); more;
           more = Forward ? scan.DataSetNext() : scan.DataSetPrior())
        keys.push_back(Key(scan));
      keys.push_back(-Key(scan));
      return keys;
    };
    scan.SetRange({plat::Variant(20)}, {plat::Variant(40)});
    EXPECT_EQ(walk(true), (std::vector<int32_t>{20, 30, 40, -40}));
    EXPECT_EQ(walk(false), (std::vector<int32_t>{40, 30, 20, -20}));
    ASSERT_TRUE(scan.DataSetNext());
    EXPECT_EQ(Key(scan), 30);
    // A row of the range goes, one comes in: the next step searches.
    ChangeRow(*writer, 40, 35);
    ASSERT_TRUE(scan.DataSetNext());
    EXPECT_EQ(Key(scan), 35);
    EXPECT_FALSE(scan.DataSetNext());
    EXPECT_EQ(Key(scan), 35);
    ChangeRow(*writer, 35, 40);
    scan.CancelRange();

    ASSERT_TRUE(scan.DataSetFirst());
    ASSERT_TRUE(scan.DataSetNext());
    ASSERT_EQ(Key(scan), 20);
    // A key typed over the buffer is where the step starts from.
    scan.DataSetSetFieldDataAsVariant(0, plat::Variant(35));
    ASSERT_TRUE(scan.DataSetNext());
    EXPECT_EQ(Key(scan), 40);
    scan.DataSetSetFieldDataAsVariant(0, plat::Variant(35));
    ASSERT_TRUE(scan.DataSetPrior());
    EXPECT_EQ(Key(scan), 30);
    // On another index the step goes on in its order from the same record.
    scan.InternalSetIndexName("ixV");
    ASSERT_TRUE(scan.DataSetNext());
    EXPECT_EQ(Key(scan), 20);
    ASSERT_TRUE(scan.DataSetNext());
    EXPECT_EQ(Key(scan), 10);
    EXPECT_FALSE(scan.DataSetNext());
    scan.InternalSetIndexName("ixK");
    ASSERT_TRUE(scan.DataSetNext());
    EXPECT_EQ(Key(scan), 20);
    ASSERT_TRUE(scan.DataSetNext());
    EXPECT_EQ(Key(scan), 30);
    scan.Close();
    writer->DataSetClose();
  }

  // A row added and taken back by a rollback between two steps.
  auto scan = Cursor(*db);
  auto writer = Cursor(*db);
  TTableReadHold hold(db.get());
  ASSERT_TRUE(scan->DataSetFirst());
  ASSERT_TRUE(scan->DataSetNext());
  ASSERT_EQ(Key(*scan), 20);
  db->StartTransaction();
  AddRow(*writer, 25);
  ASSERT_TRUE(scan->DataSetNext());
  EXPECT_EQ(Key(*scan), 25);
  db->Rollback();
  ASSERT_TRUE(scan->DataSetNext());
  EXPECT_EQ(Key(*scan), 30);
  ASSERT_TRUE(scan->DataSetPrior());
  EXPECT_EQ(Key(*scan), 20);
  scan->DataSetClose();
  writer->DataSetClose();
}

}  // namespace
}  // namespace zel
