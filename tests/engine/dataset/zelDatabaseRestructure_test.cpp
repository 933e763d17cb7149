// Restructuring a table: layout changes copying every record, index-only
// changes, definition-only changes, re-indexing, rebuilding from the backup,
// progress with abort, and copying the database file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "../storage/StorageTestSupport.h"
#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommonLog.h"
#include "engine/storage/zelCrypt.h"
#include "engine/storage/zelDiskJournal.h"
#include "platform/os/Files.h"
#include "support/DatabaseCheck.h"
#include "support/FaultingFileSystem.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using storagetest::ExpectError;
using testsupport::FaultingFileSystem;

constexpr int32_t RowCount = 250;

class Restructure : public ::testing::Test {
 protected:
  std::string File() const { return Dir.File("data.zel"); }

  std::unique_ptr<TZelTable> Table(const std::string& Name = "T") {
    auto t = std::make_unique<TZelTable>();
    t->SetDataBase(&Db);
    t->SetTableName(Name);
    return t;
  }

  // Table T: K (unique key), S (text; every tenth row repeats the one
  // before), B (memo) on RowCount rows.
  void SetUp() override {
    Db.SetDataBaseName(File());
    Db.CreateDatabase();
    Db.SetExclusive(true);
    Db.SetConnected(true);
    auto t = Table();
    t->FieldDefs().Add("K", plat::ftInteger);
    t->FieldDefs().Add("S", plat::ftString, 20);
    t->FieldDefs().Add("B", plat::ftMemo);
    t->IndexDefs().Add("ixK", "K", {plat::ixPrimary, plat::ixUnique});
    t->CreateTable();
    t->Open();
    for (int32_t k = 1; k <= RowCount; ++k)
      t->AppendRecord({plat::Variant(k), plat::Variant(Text(k)), plat::Variant("blob " + std::to_string(k))});
    t->Close();
  }

  void TearDown() override {
    Db.SetConnected(false);
    EXPECT_TRUE(testsupport::DatabaseIsIntact(File()));
  }

  static std::string Text(int32_t K) { return "s" + std::to_string(K % 10 == 0 ? K - 1 : K); }

  // Every row as it was made, in key order.
  void ExpectRowsKept(TZelTable& T) {
    T.SetIndexName("ixK");
    int32_t k = 0;
    for (T.First(); !T.Eof(); T.Next()) {
      ++k;
      ASSERT_EQ(T.FieldByName("K")->AsInteger(), k);
      EXPECT_EQ(T.FieldByName("S")->AsString(), Text(k));
      EXPECT_EQ(T.FieldByName("B")->AsString(), "blob " + std::to_string(k));
    }
    EXPECT_EQ(k, RowCount);
  }

  std::vector<uint32_t> RecordBlocks(TZelTable& T) {
    std::vector<uint32_t> list;
    T.TableDef().RecordInterface()->ListBlocks(list);
    return list;
  }

  testsupport::TempDir Dir;
  TZelDataBase Db;
};

TEST_F(Restructure, AddAndDeleteIndexOnAFilledTable) {
  auto t = Table();
  t->Open();
  t->Next();
  t->Next();
  const int32_t before = t->FieldByName("K")->AsInteger();
  t->AddIndex("ixS", "S", {});
  // The open table reopens on the same record.
  EXPECT_TRUE(t->Active());
  EXPECT_EQ(t->FieldByName("K")->AsInteger(), before);
  t->IndexDefs().Update();
  EXPECT_GE(t->IndexDefs().IndexOf("ixS"), 0);
  t->SetIndexName("ixS");
  EXPECT_EQ(t->RecordCount(), RowCount);
  t->First();
  EXPECT_EQ(t->FieldByName("S")->AsString(), "s1");
  t->Last();
  EXPECT_EQ(t->FieldByName("S")->AsString(), "s99");
  EXPECT_TRUE(plat::FileExists(Dir.File("data.zex")));

  t->DeleteIndex("ixS");
  EXPECT_NE(t->IndexName(), "ixS");
  t->IndexDefs().Update();
  EXPECT_LT(t->IndexDefs().IndexOf("ixS"), 0);
  ExpectRowsKept(*t);
  ExpectError(0x270D, "", [&] { t->DeleteIndex("ixNone"); });
  EXPECT_TRUE(t->Active());
}

TEST_F(Restructure, AddedFieldIsNullInEveryCopiedRecord) {
  auto t = Table();
  t->RestructureFieldDefs().AddAndSetFieldDef("Extra", plat::ftInteger, 0, 0, false, "");
  t->RestructureTable({});
  t->Open();
  ExpectRowsKept(*t);
  for (t->First(); !t->Eof(); t->Next()) EXPECT_TRUE(t->FieldByName("Extra")->IsNull());
  // New rows go on after the copied ones.
  t->AppendRecord({plat::Variant(RowCount + 1), plat::Variant("new"), plat::Variant("b"),
                   plat::Variant(7)});
  EXPECT_EQ(t->RecordCount(), RowCount + 1);
  t->Close();
  EXPECT_TRUE(plat::FileExists(Dir.File("dblog.txt")));
}

TEST_F(Restructure, ARestructureWritesTheDefinitionDumpWhenAsked) {
  Db.SetSaveTableDefinitions(true);
  auto t = Table();
  t->RestructureFieldDefs().AddAndSetFieldDef("Extra", plat::ftInteger, 0, 0, false, "");
  t->RestructureTable({});
  TZelDataBase dump;
  dump.SetDataBaseName(Dir.File("data.zed"));
  dump.SetConnected(true);
  TTableDef def;
  def.SetMemory(false);
  dump.QueryTableDef("T", false, def);
  EXPECT_NE(def.InternalFields().FindField("Extra"), nullptr);
}

TEST_F(Restructure, DeletedAndRetypedFieldsCopyWhatFits) {
  auto t = Table();
  TRestructureFieldDefs& f = t->RestructureFieldDefs();
  // S moves into a longer text field under a new name; B is dropped.
  f.Items(1)->SetName("Label");
  f.Items(1)->SetSize(40);
  f.DeleteItem(2);
  t->RestructureTable({});
  t->Open();
  EXPECT_EQ(t->FieldCount(), 2);
  t->First();
  EXPECT_EQ(t->FieldByName("Label")->AsString(), "s1");
  EXPECT_EQ(t->RecordCount(), RowCount);
}

TEST_F(Restructure, RenameOnlyMovesNoData) {
  auto t = Table();
  t->Open();
  const std::vector<uint32_t> before = RecordBlocks(*t);
  t->Close();
  t->RestructureFieldDefs().Items(1)->SetName("Name");
  t->RestructureTable({});
  t->Open();
  EXPECT_EQ(RecordBlocks(*t), before);
  EXPECT_NE(t->FindField("Name"), nullptr);
  EXPECT_EQ(t->FindField("S"), nullptr);
  t->First();
  EXPECT_EQ(t->FieldByName("Name")->AsString(), "s1");
  EXPECT_EQ(t->RecordCount(), RowCount);
}

TEST_F(Restructure, ReIndexSkipsDuplicateKeysAndReportsThem) {
  auto t = Table();
  // A unique index on S: every tenth row repeats the one before it and is
  // left out of the indexes.
  t->AddIndex("ixS", "S", {plat::ixUnique});
  t->Open();
  EXPECT_EQ(t->RecordCount(), RowCount - RowCount / 10);
  EXPECT_EQ(t->ReIndex(true), RowCount / 10);
  EXPECT_EQ(t->RecordCount(), RowCount - RowCount / 10);
  // Without the flag a duplicate fails, and the indexes stay as they were.
  ExpectError(0x2601, "ixS", [&] { t->ReIndex(false); });
  EXPECT_EQ(t->RecordCount(), RowCount - RowCount / 10);
  t->SetIndexName("ixS");
  EXPECT_EQ(t->RecordCount(), RowCount - RowCount / 10);
}

TEST_F(Restructure, ProgressReachesAHundredAndAnAbortLeavesTheTable) {
  std::vector<int32_t> seen;
  int32_t abortAt = 101;
  Db.OnUpdateProgress = [&](int32_t Percent, bool& Cancel) {
    seen.push_back(Percent);
    Cancel = Percent >= abortAt;
  };
  auto t = Table();
  t->RestructureFieldDefs().AddAndSetFieldDef("Extra", plat::ftInteger, 0, 0, false, "");
  t->RestructureTable({});
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 100);

  // An abort half-way through a copy and through a re-index.
  abortAt = 50;
  t->RestructureFieldDefs().AddAndSetFieldDef("More", plat::ftInteger, 0, 0, false, "");
  ExpectError(0x2186, "", [&] { t->RestructureTable({}); });
  t->Open();
  EXPECT_EQ(t->FindField("More"), nullptr);
  ExpectRowsKept(*t);
  t->Close();
  ExpectError(0x2186, "", [&] { t->AddIndex("ixS", "S", {}); });
  t->Open();
  t->IndexDefs().Update();
  EXPECT_LT(t->IndexDefs().IndexOf("ixS"), 0);
  ExpectRowsKept(*t);
  ExpectError(0x2186, "", [&] { t->ReIndex(true); });
  ExpectRowsKept(*t);
  Db.OnUpdateProgress = nullptr;
}

TEST_F(Restructure, AFailureHalfWayThroughTheCopyLeavesTheTable) {
  auto t = Table();
  // The new unique index meets the first repeated text at the tenth row,
  // while the records are being copied into the new layout.
  t->RestructureFieldDefs().AddAndSetFieldDef("Extra", plat::ftInteger, 0, 0, false, "");
  t->RestructureIndexDefs().AddAndSetIndexDef("ixS", "S", "", "", {plat::ixUnique}, nullptr);
  ExpectError(0x2601, "ixS", [&] { t->RestructureTable({}); });
  t->Open();
  EXPECT_EQ(t->FindField("Extra"), nullptr);
  t->IndexDefs().Update();
  EXPECT_LT(t->IndexDefs().IndexOf("ixS"), 0);
  ExpectRowsKept(*t);
  t->Close();
  // A table rebuilt from another file is emptied and refilled as one: there
  // T repeats a key that is unique here.
  {
    TZelDataBase other;
    other.SetDataBaseName(Dir.File("other.zel"));
    other.CreateDatabase();
    other.SetConnected(true);
    TZelTable o;
    o.SetDataBase(&other);
    o.SetTableName("T");
    o.FieldDefs().Add("K", plat::ftInteger);
    o.CreateTable();
    o.Open();
    for (const int32_t k : {1, 2, 2}) o.AppendRecord({plat::Variant(k)});
    o.Close();
  }
  ExpectError(0x2601, "", [&] { Db.RebuildTable("T", Dir.File("other.zel"), nullptr); });
  EXPECT_TRUE(testsupport::DatabaseIsIntact(Dir.File("other.zel")));
  Db.SetConnected(false);
  EXPECT_TRUE(testsupport::DatabaseIsIntact(File()));
  Db.SetConnected(true);
  t->Open();
  ExpectRowsKept(*t);
}

// A write of the database file fails part-way through a restructure that
// copies every record. Once a write failed, no later one reaches the file,
// as after a lost disk. The file, reopened, holds the table as it was.
TEST_F(Restructure, AWriteFailingHalfWayLeavesTheTableAsItWas) {
  Db.SetConnected(false);
  const std::string name = Dir.File("faulted.zel");
  const auto fromStart = [&] {
    plat::DeleteFile(name);
    plat::DeleteFile(JournalFileName(name));
    ASSERT_TRUE(plat::CopyFile(File(), name, false));
  };
  const auto connect = [&](TZelDataBase& db, TZelTable& t) {
    db.SetDataBaseName(name);
    db.SetExclusive(true);
    db.SetConnected(true);
    t.SetDataBase(&db);
    t.SetTableName("T");
  };
  const auto restructure = [&] {
    TZelDataBase db;
    TZelTable t;
    connect(db, t);
    t.RestructureFieldDefs().AddAndSetFieldDef("Extra", plat::ftInteger, 0, 0, false, "");
    t.RestructureTable({});
    db.SetConnected(false);
  };
  FaultingFileSystem files;
  files.SetTarget(name);
  fromStart();
  {
    testsupport::InstalledFileSystem installed(files);
    restructure();
  }
  const int64_t writes = files.Count(FaultingFileSystem::opWrite);
  ASSERT_GT(writes, 2);

  // The first write, the last ones before the commit ends, and a spread
  // between them.
  std::set<int64_t> positions = {1, 2, writes - 1};
  for (int64_t i = 1; i < 10; ++i) positions.insert(1 + (writes - 2) * i / 10);
  for (const int64_t n : positions) {
    SCOPED_TRACE("failed write " + std::to_string(n) + " of " + std::to_string(writes));
    fromStart();
    files.Reset();
    files.FailAt(FaultingFileSystem::opWrite, n);
    {
      testsupport::InstalledFileSystem installed(files);
      EXPECT_ANY_THROW(restructure());
    }
    EXPECT_TRUE(files.Struck());
    TZelDataBase db;
    TZelTable t;
    connect(db, t);
    t.Open();
    EXPECT_EQ(t.FindField("Extra"), nullptr);
    ExpectRowsKept(t);
    t.Close();
    db.SetConnected(false);
    EXPECT_TRUE(testsupport::DatabaseIsIntact(name));
  }
}

// Blob fields of a file older than data version 3 have no room for the
// compression marks. The file is made older by rewriting its version text
// (and the definition's checksum with it).
TEST_F(Restructure, BlobCompressionIsRefusedInAnOlderFile) {
  Db.SetConnected(false);
  {
    std::fstream f(File(), std::ios::in | std::ios::out | std::ios::binary);
    std::vector<uint8_t> def(DBDefSize);
    f.read(reinterpret_cast<char*>(def.data()), DBDefSize);
    const size_t last = ddVersion + 2 * 6;  // "1.50.03" in 16-bit units
    ASSERT_EQ(def[last], '3');
    def[last] = '2';
    std::fill_n(def.begin() + ddCRC, 4, 0);
    std::vector<uint8_t> summed(256);
    for (size_t i = 0; i < summed.size(); ++i) summed[i] = static_cast<uint8_t>(i);
    summed.insert(summed.end(), def.begin(), def.end());
    const uint32_t crc = CalcCRC(summed.data(), static_cast<int32_t>(summed.size()));
    for (int i = 0; i < 4; ++i) def[ddCRC + static_cast<size_t>(i)] = static_cast<uint8_t>(crc >> (8 * i));
    f.seekp(0);
    f.write(reinterpret_cast<const char*>(def.data()), DBDefSize);
  }
  Db.SetConnected(true);
  ASSERT_EQ(Db.DataFileVersion(), "1.50.02");
  auto t = Table();
  TInternalRestructureRecord settings;
  settings.SetBlobCompression = true;
  settings.BlobCompression = true;
  ExpectError(0x2A0E, "", [&] { t->RestructureTable(settings); });
  EXPECT_FALSE(plat::FileExists(Dir.File("data.zex")));
  t->Open();
  ExpectRowsKept(*t);
  t->Close();
}

TEST_F(Restructure, RefusedWhileInUseOrInATransactionOrInMemory) {
  auto t = Table();
  auto other = Table();
  other->Open();
  t->RestructureFieldDefs().AddAndSetFieldDef("Extra", plat::ftInteger, 0, 0, false, "");
  ExpectError(0x272F, "", [&] { t->RestructureTable({}); });
  ExpectError(0x272F, "", [&] { t->RebuildTable(); });
  EXPECT_EQ(other->RecordCount(), RowCount);
  EXPECT_EQ(other->FindField("Extra"), nullptr);
  other->Close();
  Db.StartTransaction();
  ExpectError(0x278A, "", [&] { t->RestructureTable({}); });
  Db.Rollback();
  TInternalRestructureRecord bad;
  bad.SetBlobBlockSize = true;
  bad.BlobBlockSize = 32;
  ExpectError(0x272D, "", [&] { t->RestructureTable(bad); });

  TZelDataBase memory;
  memory.SetDataBaseName("MEMORY");
  memory.SetConnected(true);
  TZelTable m;
  m.SetDataBase(&memory);
  m.SetTableName("M");
  m.SetMemory(true);
  m.FieldDefs().Add("K", plat::ftInteger);
  m.CreateTable();
  ExpectError(0x2A0E, "", [&] { m.RestructureTable({}); });
  ExpectError(0x2A0E, "", [&] { m.RebuildTable(); });
}

TEST_F(Restructure, RebuildTableKeepsEveryRecordAndBlob) {
  auto t = Table();
  t->Open();
  // Deleted rows leave holes the rebuild closes.
  t->First();
  t->Delete();
  t->Close();
  t->RebuildTable();
  EXPECT_TRUE(plat::FileExists(Dir.File("data.zex")));
  EXPECT_TRUE(plat::FileExists(Dir.File("dblog.txt")));
  t->Open();
  EXPECT_EQ(t->RecordCount(), RowCount - 1);
  t->First();
  EXPECT_EQ(t->FieldByName("K")->AsInteger(), 2);
  EXPECT_EQ(t->FieldByName("B")->AsString(), "blob 2");
}

TEST_F(Restructure, CopyDatabaseNeverOverwritesItself) {
  ExpectError(0x2480, "", [&] { Db.CopyDatabase(File(), true); });
  ExpectError(0x2480, "", [&] { Db.CopyDatabase(Dir.File("./data.zel"), true); });
  const std::string link = Dir.File("link.zel");
  std::filesystem::create_symlink(File(), link);
  ExpectError(0x2480, "", [&] { Db.CopyDatabase(link, true); });
  const std::string copy = Dir.File("copy.zel");
  Db.CopyDatabase(copy, false);
  ExpectError(0x2480, "", [&] { Db.CopyDatabase(copy, false); });
  Db.CopyDatabase(copy, true);
  EXPECT_TRUE(testsupport::DatabaseIsIntact(copy));
  auto t = Table();
  t->Open();
  EXPECT_EQ(t->RecordCount(), RowCount);
}

std::vector<uint8_t> FileBytes(const std::string& Name, size_t Count) {
  std::ifstream in(Name, std::ios::binary);
  std::vector<uint8_t> bytes(Count);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(Count));
  return bytes;
}

std::string ReadText(const std::string& Name) {
  std::ifstream in(Name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(Restructure, RebuildDatabaseKeepsEveryRowAndLeavesBackupAndLog) {
  Db.CreateGenerator("G", 5, 1);
  Db.GetGeneratorValue("G", false);
  Db.SetConnected(false);
  plat::DeleteFile(Dir.File("dblog.txt"));
  Db.RebuildDatabase();
  EXPECT_FALSE(Db.Connected());
  EXPECT_TRUE(testsupport::DatabaseIsIntact(Dir.File("data.zex")));
  const std::string log = ReadText(Dir.File("dblog.txt"));
  for (const char* line : {"Rebuild database start", "Creating table T", "Rebuild database complete"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  Db.SetConnected(true);
  int32_t value = 0, step = 0;
  ASSERT_TRUE(Db.QueryGenerator("G", value, step));
  EXPECT_EQ(value, 6);
  auto t = Table();
  t->Open();
  ExpectRowsKept(*t);
  t->AppendRecord({plat::Variant(RowCount + 1), plat::Variant("x"), plat::Variant("y")});
}

TEST_F(Restructure, ASecuredDatabaseRebuildsWithoutALogonAndStaysSecured) {
  Db.SetConnected(false);
  TZelDataBase secured;
  const std::string file = Dir.File("secured.zel");
  secured.SetDataBaseName(file);
  secured.SetEnforceSecurity(true);
  secured.SetMasterKey("guarded");
  secured.SetDBOwner("keeper");
  secured.SetDefaultSortOrder(static_cast<TSortOrder>(1));
  secured.CreateDatabase();
  const std::vector<uint8_t> before = FileBytes(file, DBDefSize);
  // No login handler: the rebuild must not ask for a user.
  secured.SetMasterKey("guarded");
  secured.RebuildDatabase();
  const std::vector<uint8_t> after = FileBytes(file, DBDefSize);
  for (const int32_t offset : {ddSecurityLevel, ddDefaultSortOrder})
    EXPECT_EQ(storagetest::U32(after.data() + offset), storagetest::U32(before.data() + offset));
  EXPECT_EQ(storagetest::U32(after.data() + ddSecurityLevel), 2u);
  EXPECT_TRUE(std::equal(before.begin() + ddOwner, before.begin() + ddOwner + 62, after.begin() + ddOwner));
  EXPECT_TRUE(testsupport::DatabaseIsIntact(file));
}

TEST_F(Restructure, ImportDataFromAnotherTableWritesTheLog) {
  auto u = Table("U");
  u->FieldDefs().Add("Key", plat::ftInteger);
  u->FieldDefs().Add("Label", plat::ftString, 4);
  u->FieldDefs().Add("Unmapped", plat::ftInteger);
  u->IndexDefs().Add("ixKey", "Key", {plat::ixPrimary, plat::ixUnique});
  u->CreateTable();
  u->Open();
  auto source = Table();
  source->Open();
  ExpectError(0x2180, "FRestructureFieldDefs", [&] { u->ImportData(*source); });
  TRestructureFieldDefs& f = u->RestructureFieldDefs();
  f.Items(0)->SetSourceFieldName("K");
  f.Items(1)->SetSourceFieldName("S");
  f.Items(2)->SetSourceFieldName("Missing");
  // One source row repeats a key already imported and cannot be posted.
  u->AppendRecord({plat::Variant(RowCount), plat::Variant("old"), plat::Variant(1)});
  GDBLogger()->Clear();
  EXPECT_EQ(u->ImportData(*source), RowCount - 1);
  EXPECT_EQ(u->RecordCount(), RowCount);
  const std::string log = GDBLogger()->LogList()->Text();
  for (const char* line : {"Matching fields", "Source field [K] mapped to Field [Key]",
                           "No Source field set for Field [Unmapped]", "Starting import",
                           "could not be added", "Errors detected = 1", "Records inserted = 249"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  // Texts are cut to the destination's size.
  u->First();
  EXPECT_EQ(u->FieldByName("Label")->AsString(), "s1");
  EXPECT_TRUE(u->FieldByName("Unmapped")->IsNull());
}

// A hundred thousand rows, every hundredth with a blob, survive a table
// rebuild and a database rebuild.
TEST_F(Restructure, RebuildsKeepEveryRowOfALargeTable) {
  constexpr int32_t Rows = 100000;
  auto big = Table("Big");
  big->FieldDefs().Add("K", plat::ftInteger);
  big->FieldDefs().Add("B", plat::ftMemo);
  big->IndexDefs().Add("ixK", "K", {plat::ixPrimary, plat::ixUnique});
  big->CreateTable();
  big->DataSetOpen();
  Db.StartTransaction();
  for (int32_t k = 1; k <= Rows; ++k) {
    big->ClearRecord(nullptr);
    big->DataSetSetFieldDataAsVariant(0, plat::Variant(k));
    if (k % 100 == 0) {
      plat::TMemoryStream blob;
      const std::string text = "blob " + std::to_string(k);
      blob.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
      big->DataSetSetFieldStream(1, false, blob);
    }
    big->AddRecord(false);
  }
  Db.Commit();
  big->DataSetClose();
  const auto check = [&] {
    auto t = Table("Big");
    t->Open();
    ASSERT_EQ(t->RecordCount(), Rows);
    t->Last();
    EXPECT_EQ(t->FieldByName("K")->AsInteger(), Rows);
    EXPECT_EQ(t->FieldByName("B")->AsString(), "blob " + std::to_string(Rows));
    int32_t blobs = 0;
    for (t->First(); !t->Eof(); t->Next())
      if (!t->FieldByName("B")->IsNull()) ++blobs;
    EXPECT_EQ(blobs, Rows / 100);
  };
  big->RebuildTable();
  check();
  Db.SetConnected(false);
  Db.RebuildDatabase();
  EXPECT_TRUE(plat::FileExists(Dir.File("data.zex")));
  EXPECT_TRUE(plat::FileExists(Dir.File("dblog.txt")));
  Db.SetConnected(true);
  check();
}

TEST_F(Restructure, TransferRecordBuffersWalksTheRecordsOfTheTable) {
  auto t = Table();
  t->Open();
  const int32_t id = t->TableDef().TableID();
  const int32_t size = t->RecordSize();
  t->Close();
  ExpectError(0x2788, "", [&] { Db.TransferRecordBuffers(id, size, nullptr); });
  Db.SetConnected(false);
  std::vector<int32_t> keys;
  int32_t total = 0;
  Db.TransferRecordBuffers(id, size, [&](const uint8_t* Buffer, TInternalFields* Fields, int32_t,
                                         int32_t Count, bool& Continue) {
    EXPECT_EQ(Fields, nullptr);
    total = Count;
    if (Buffer[0] == 1) keys.push_back(1);
    Continue = keys.size() < 100;
  });
  EXPECT_GE(total, RowCount);
  EXPECT_EQ(keys.size(), 100u);
  Db.SetConnected(true);
}

TEST_F(Restructure, DefinitionDumpRecreatesTheSameTables) {
  Db.DumpTableDefinitions();
  TZelDataBase dump;
  dump.SetDataBaseName(Dir.File("data.zed"));
  dump.SetConnected(true);
  TTableDef original, copy;
  original.SetMemory(false);
  copy.SetMemory(false);
  Db.QueryTableDef("T", false, original);
  dump.QueryTableDef("T", false, copy);
  ASSERT_EQ(copy.InternalFields().Count(), original.InternalFields().Count());
  for (int32_t i = 0; i < copy.InternalFields().Count(); ++i) {
    EXPECT_EQ(copy.InternalFields().GetIndex(i)->FieldName(), original.InternalFields().GetIndex(i)->FieldName());
    EXPECT_EQ(copy.InternalFields().GetIndex(i)->DataType(), original.InternalFields().GetIndex(i)->DataType());
  }
  EXPECT_EQ(copy.InternalIndexDefs().Count(), original.InternalIndexDefs().Count());
  dump.SetConnected(false);
  EXPECT_TRUE(testsupport::DatabaseIsIntact(Dir.File("data.zed")));
}

}  // namespace
}  // namespace zel
