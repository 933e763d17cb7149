#include "engine/storage/zelTableMgrUnit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelCrypt.h"
#include "engine/storage/zelDataTableDefSupport.h"
#include "engine/storage/zelDataTestSupport.h"
#include "engine/storage/zelDisk.h"
#include "platform/os/Files.h"
#include "support/IntegrityCheck.h"
#include "support/IntegrityCheckTables.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using tabledefs::MakeDef;
using testdata::ExpectError;

constexpr int32_t kPage = 4096;
const std::string kKey = "table-key";

// An open database file with its two header stores and table managers, set
// up the way the database component sets them up.
struct Database {
  explicit Database(const std::string& Name) {
    storagetest::OpenDatabaseFile(disk, Name, kPage, kKey);
    const std::pair<TDiskIOInterface*, int32_t> stores[] = {{&userHeaders, 28},
                                                            {&systemHeaders, 32}};
    for (const auto& [store, offset] : stores) {
      store->SetDiskMgr(&disk);
      store->SetBlockSize(256);
      store->SetGlobalFirstEmptyOffset(offset);
      store->SetAccessFlags(0);
      store->SetTableID(0);
      store->SetUsage(iuTableHeaders);
      store->SetFirstEmptyValid(false);
      store->Open();
    }
    user.SetHdrDiskInterface(&userHeaders);
    user.SetBaseDefMgrAddress(3 * kPage);
    user.Open();
    system.SetHdrDiskInterface(&systemHeaders);
    system.SetBaseDefMgrAddress(kPage);
    system.SetSystemTableMgr(true);
    system.Open();
  }
  ~Database() {
    try {
      Close();
    } catch (...) {
    }
  }
  void Close() {
    system.Close();
    systemHeaders.Close();
    user.Close();
    userHeaders.Close();
    disk.Close();
  }

  TDiskMgr disk;
  TDiskIOInterface userHeaders;
  TDiskIOInterface systemHeaders;
  TDiskTableDefMgr user;
  TDiskTableDefMgr system;
};

// Decrypts the pages of encrypted tables for the integrity checker.
testsupport::StoreCheck::PageDecoder Decoder(TEncryptionLevel Level) {
  return [Level](uint32_t TableID, uint8_t* Page, int32_t Size) {
    storagetest::DecryptPage(Level == encWeak, kKey, TableID, Page, Size);
  };
}

::testing::AssertionResult Intact(const std::string& Name, TEncryptionLevel Level = encNone,
                                  std::set<uint32_t> Encrypted = {}) {
  if (Level == encNone) return testsupport::TablesAreIntact(Name);
  return testsupport::TablesAreIntact(Name, {}, Decoder(Level), std::move(Encrypted));
}

size_t PagesOf(const std::string& Name, uint32_t TableID, uint16_t Usage) {
  testsupport::IntegrityCheck check(Name);
  EXPECT_TRUE(check.Run()) << check.Report();
  return check.PagesOwnedBy(static_cast<uint16_t>((TableID << 4) | Usage)).size();
}

// A cursor's copy of a stored definition.
std::unique_ptr<TTableDef> CopyOf(const TTableDef& Def) {
  auto copy = std::make_unique<TTableDef>();
  copy->Assign(&Def);
  return copy;
}

// Adds a record through a connected copy and keeps the store's free-block
// head in the header, as the cursor does.
uint32_t AddRecord(TTableDef& Copy, const std::vector<uint8_t>& Record) {
  TBaseIOInterface& store = *Copy.RecordInterface();
  const uint32_t addr =
      store.AllocateNewAddress(static_cast<int32_t>(Record.size()), Record.data());
  Copy.TableHeader()->SetRecordFirstEmpty(store.FirstEmpty());
  return addr;
}

std::vector<uint8_t> ReadRecord(TTableDef& Copy, uint32_t Addr, size_t Size) {
  std::vector<uint8_t> buf(Size);
  Copy.RecordInterface()->ReadBlock(Addr, static_cast<int32_t>(Size), buf.data());
  return buf;
}

TEST(DiskTableDefMgr, ManagerNeedsItsHeaderStoreAndMap) {
  testsupport::TempDir dir;
  Database db(dir.File("setup.zel"));
  TDiskTableDefMgr mgr;
  ExpectError(0x2183, "", [&] { mgr.Open(); });
  mgr.SetHdrDiskInterface(&db.userHeaders);
  ExpectError(0x2180, "", [&] { mgr.Open(); });
  std::unique_ptr<TTableDef> def = MakeDef("T", false, {});
  ExpectError(0x2180, "", [&] { mgr.CreateTableDef("T", *def); });
  ExpectError(0x2180, "", [&] { mgr.OpenTableDefConnection("T", *def); });
  // A table ID that the map does not list opens nothing.
  def->SetTableID(77);
  EXPECT_THROW(db.user.OpenTableDefConnection("T", *def), EZelDatabaseError);
  EXPECT_EQ(db.user.Count(), 0);
  ExpectError(0x2183, "", [&] { db.user.CloseTableDefConnection(77); });
}

TEST(DiskTableDefMgr, CreateShareWriteAndReopen) {
  testsupport::TempDir dir;
  const std::string name = dir.File("share.zel");
  std::unique_ptr<TTableDef> orders = MakeDef("Orders", false, tabledefs::ThreeIndexes());
  const size_t recordSize = static_cast<size_t>(orders->RecordSize());
  const std::vector<uint8_t> record = testdata::MakeRecord(orders->InternalFields(), 7);
  std::vector<uint8_t> blob(512);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 13 + 5);
  uint32_t recordAddr = 0;
  uint32_t blobAddr = 0;
  {
    Database db(name);
    EXPECT_EQ(db.user.CreateTableDef("Orders", *orders), 0);
    EXPECT_EQ(orders->TableID(), 1);
    EXPECT_EQ(orders->OwnerFlag(), 1u << 4);
    std::unique_ptr<TTableDef> items = MakeDef("Items", false, {});
    db.user.CreateTableDef("Items", *items);
    EXPECT_EQ(items->TableID(), 2);
    std::unique_ptr<TTableDef> internal = MakeDef("$SYS", false, {{"pkI", "I", true}});
    db.system.CreateTableDef("$SYS", *internal);
    EXPECT_EQ(internal->TableID(), 1024);

    // Created tables are listed but unused until a cursor connects.
    plat::TStringList names;
    db.user.GetCurrentTableNames(names);
    EXPECT_EQ(names.CommaText(), "Orders,Items");
    EXPECT_EQ(db.user.CheckTableUserCount("ORDERS"), 0);
    EXPECT_EQ(db.user.CheckTableUserCount("Nothing"), 0);

    // The same name again, or a memory table, is refused with nothing made.
    std::unique_ptr<TTableDef> again = MakeDef("orders", false, {});
    ExpectError(0x2184, "", [&] { db.user.CreateTableDef("orders", *again); });
    std::unique_ptr<TTableDef> memory = MakeDef("Mem", true, {});
    ExpectError(0x2181, "", [&] { db.user.CreateTableDef("Mem", *memory); });
    EXPECT_EQ(again->TableID(), 0);
    EXPECT_EQ(memory->TableID(), 0);
    EXPECT_EQ(db.user.Count(), 2);

    // Two cursors share one master.
    std::unique_ptr<TTableDef> a = CopyOf(*orders);
    std::unique_ptr<TTableDef> b = CopyOf(*orders);
    db.user.OpenTableDefConnection("Orders", *a);
    TTableDef* master = db.user.Items(db.user.IndexOfTableName("orders"));
    ASSERT_TRUE(master->Active());
    EXPECT_TRUE(master->MasterDef());
    EXPECT_EQ(master->UserCount(), 1);
    TBaseIOInterface* index = master->IndexInterface();
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(a->IndexInterface(), index);
    EXPECT_EQ(a->RecordInterface(), master->RecordInterface());
    EXPECT_EQ(a->BlobInterface(), master->BlobInterface());
    EXPECT_EQ(a->TableHeader(), master->TableHeader());
    db.user.OpenTableDefConnection("Orders", *b);
    EXPECT_EQ(master->UserCount(), 2);
    EXPECT_EQ(db.user.CheckTableUserCount("Orders"), 2);
    EXPECT_EQ(master->IndexInterface(), index) << "the second connection opens nothing";
    EXPECT_EQ(b->RecordInterface(), a->RecordInterface());
    EXPECT_EQ(b->TableHeader(), a->TableHeader());
    EXPECT_EQ(db.user.IndexOfTableDef(1), db.user.IndexOfTableName("Orders"));

    // One empty root per index.
    TTableHeader& header = *a->TableHeader();
    ASSERT_EQ(header.GetIndexCount(), 3);
    for (int32_t slot = 0; slot < 3; ++slot) {
      EXPECT_NE(header.GetIndexRoot(slot), 0u);
      EXPECT_EQ(header.GetIndexDepth(slot), 1);
    }

    recordAddr = AddRecord(*a, record);
    blobAddr = b->BlobInterface()->AllocateNewAddress(512, blob.data());
    header.SetBlobFirstEmpty(b->BlobInterface()->FirstEmpty());

    db.user.CloseTableDefConnection(a->TableID());
    EXPECT_EQ(master->UserCount(), 1);
    db.user.CloseTableDefConnection(b->TableID());
    EXPECT_EQ(db.user.IndexOfTableName("Orders"), -1) << "the last user frees the master";
    ExpectError(0x2183, "", [&] { db.user.CloseTableDefConnection(1); });
  }
  ASSERT_TRUE(Intact(name));
  {
    Database db(name);
    std::unique_ptr<TTableDef> c = CopyOf(*orders);
    db.user.OpenTableDefConnection("Orders", *c);
    EXPECT_EQ(ReadRecord(*c, recordAddr, recordSize), record);
    std::vector<uint8_t> back(512);
    c->BlobInterface()->ReadBlock(blobAddr, 512, back.data());
    EXPECT_EQ(back, blob);
    // New records reuse the free blocks the header kept.
    const uint32_t next = AddRecord(*c, record);
    EXPECT_EQ(next, recordAddr + recordSize);
    db.user.CloseTableDefConnection(c->TableID());
  }
  EXPECT_TRUE(Intact(name));
}

TEST(DiskTableDefMgr, DeleteRefusesATableInUseAndFreesEveryPage) {
  testsupport::TempDir dir;
  const std::string name = dir.File("delete.zel");
  std::unique_ptr<TTableDef> orders = MakeDef("Orders", false, tabledefs::ThreeIndexes());
  std::unique_ptr<TTableDef> keep = MakeDef("Keep", false, {{"pkI", "I", true}});
  {
    Database db(name);
    db.user.CreateTableDef("Orders", *orders);
    db.user.CreateTableDef("Keep", *keep);
    std::unique_ptr<TTableDef> a = CopyOf(*orders);
    db.user.OpenTableDefConnection("Orders", *a);
    for (uint32_t seed = 0; seed < 200; ++seed)
      AddRecord(*a, testdata::MakeRecord(orders->InternalFields(), seed));
    std::vector<uint8_t> blob(1500, 7);
    for (int k = 0; k < 20; ++k) a->BlobInterface()->AllocateNewAddress(512, blob.data());
    a->TableHeader()->SetBlobFirstEmpty(a->BlobInterface()->FirstEmpty());

    ExpectError(0x2182, "Orders", [&] { db.user.DeleteTableDef("Orders", *orders); });
    EXPECT_EQ(db.user.CheckTableUserCount("Orders"), 1) << "the user count is unchanged";
    EXPECT_EQ(orders->TableID(), 1);
    EXPECT_TRUE(a->RecordInterface() != nullptr);
    AddRecord(*a, testdata::MakeRecord(orders->InternalFields(), 999));

    db.user.CloseTableDefConnection(a->TableID());
    EXPECT_EQ(db.user.DeleteTableDef("Orders", *orders), 0);
    EXPECT_EQ(orders->TableID(), 0);
    EXPECT_EQ(orders->TableHeader(), nullptr);
    ExpectError(0x2183, "", [&] { db.user.DeleteTableDef("Orders", *orders); });
    // A table that was created and never opened goes just as well.
    std::unique_ptr<TTableDef> unused = MakeDef("Unused", false, {{"ixWide", "WS"}});
    db.user.CreateTableDef("Unused", *unused);
    EXPECT_EQ(unused->TableID(), 1) << "the lowest free ID";
    EXPECT_EQ(db.user.DeleteTableDef("Unused", *unused), 0);
    EXPECT_EQ(db.user.Count(), 1);
  }
  for (uint16_t usage : {iuIndexPages, iuRecords, iuBlobBlocks})
    EXPECT_EQ(PagesOf(name, 1, usage), 0u) << usage;
  EXPECT_EQ(PagesOf(name, keep->TableID(), iuIndexPages), 1u);
  EXPECT_TRUE(Intact(name));
}

TEST(DiskTableDefMgr, EncryptionLevelsReachEveryStore) {
  struct Case {
    TEncryptionLevel level;
    uint32_t flags;
  };
  for (const Case& c : {Case{encNone, 1}, Case{encWeak, 3}, Case{encStrong, 5}}) {
    SCOPED_TRACE(c.flags);
    testsupport::TempDir dir;
    const std::string name = dir.File("enc.zel");
    std::unique_ptr<TTableDef> def = MakeDef("T", false, tabledefs::ThreeIndexes(), c.level);
    const std::vector<uint8_t> record = testdata::MakeRecord(def->InternalFields(), 3);
    uint32_t addr = 0;
    {
      Database db(name);
      db.user.CreateTableDef("T", *def);
      std::unique_ptr<TTableDef> a = CopyOf(*def);
      db.user.OpenTableDefConnection("T", *a);
      for (TBaseIOInterface* store :
           {a->IndexInterface(), a->BlobInterface(), a->RecordInterface()})
        EXPECT_EQ(store->AccessFlags(), c.flags);
      addr = AddRecord(*a, record);
      db.user.CloseTableDefConnection(a->TableID());
    }
    // The roots written at creation decrypt to empty leaves.
    EXPECT_TRUE(Intact(name, c.level, {1}));
    Database db(name);
    std::unique_ptr<TTableDef> b = CopyOf(*def);
    db.user.OpenTableDefConnection("T", *b);
    EXPECT_EQ(ReadRecord(*b, addr, record.size()), record);
  }
}

TEST(MemoryTableDefMgr, TablesLiveUntilDeleted) {
  TMemoryTableDefMgr mgr;
  std::unique_ptr<TTableDef> disk = MakeDef("D", false, {});
  ExpectError(0x2181, "", [&] { mgr.CreateTableDef("D", *disk); });
  std::unique_ptr<TTableDef> unknown = MakeDef("None", true, {});
  ExpectError(0x2183, "None", [&] { mgr.OpenTableDefConnection("None", *unknown); });

  std::unique_ptr<TTableDef> def = MakeDef("Mem", true, {{"pkI", "I", true}, {"ixWide", "WS"}});
  EXPECT_EQ(mgr.CreateTableDef("Mem", *def), 0);
  EXPECT_EQ(def->TableID(), 1);
  ExpectError(0x2184, "", [&] { mgr.CreateTableDef("MEM", *def); });
  EXPECT_EQ(mgr.Count(), 1);

  std::unique_ptr<TTableDef> a = CopyOf(*def);
  mgr.OpenTableDefConnection("Mem", *a);
  TTableHeader& header = *a->TableHeader();
  ASSERT_EQ(header.GetIndexCount(), 2);
  const uint32_t roots[] = {header.GetIndexRoot(0), header.GetIndexRoot(1)};
  for (int32_t slot = 0; slot < 2; ++slot) {
    EXPECT_EQ(header.GetIndexDepth(slot), 1);
    EXPECT_TRUE(a->IndexInterface()->CheckBlockAddressValid(roots[slot]));
  }
  EXPECT_NE(roots[0], roots[1]);
  const std::vector<uint8_t> record = testdata::MakeRecord(def->InternalFields(), 11);
  const uint32_t addr = AddRecord(*a, record);

  // The last cursor going keeps the table and its data.
  mgr.CloseTableDefConnection(a->TableID());
  EXPECT_EQ(mgr.CheckTableUserCount("Mem"), 0);
  mgr.CloseTableDefConnection(a->TableID());
  EXPECT_EQ(mgr.CheckTableUserCount("Mem"), 0) << "never below 0";
  ASSERT_EQ(mgr.IndexOfTableName("Mem"), 0);
  EXPECT_TRUE(mgr.Items(0)->Active());
  std::unique_ptr<TTableDef> b = CopyOf(*def);
  mgr.OpenTableDefConnection("Mem", *b);
  EXPECT_EQ(ReadRecord(*b, addr, record.size()), record);
  EXPECT_EQ(b->TableHeader()->GetIndexRoot(0), roots[0]) << "the roots are made once";

  TInternalRestructureRecord restructure;
  ExpectError(0x2A0E, "", [&] { mgr.RestructureTableDef(*b, restructure); });
  ExpectError(0x2182, "", [&] { mgr.DeleteTableDef("Mem", *def); });
  EXPECT_EQ(mgr.CheckTableUserCount("Mem"), 1);
  EXPECT_EQ(ReadRecord(*b, addr, record.size()), record);

  mgr.CloseTableDefConnection(b->TableID());
  EXPECT_EQ(mgr.DeleteTableDef("Mem", *def), 0);
  EXPECT_EQ(def->TableID(), 0);
  EXPECT_EQ(mgr.Count(), 0);
  ExpectError(0x2183, "", [&] { mgr.OpenTableDefConnection("Mem", *b); });

  // The ID is free again; a closed manager starts over.
  std::unique_ptr<TTableDef> next = MakeDef("Next", true, {});
  mgr.CreateTableDef("Next", *next);
  EXPECT_EQ(next->TableID(), 1);
  mgr.Close();
  EXPECT_EQ(mgr.Count(), 0);
  mgr.CreateTableDef("Next", *next);
  EXPECT_EQ(next->TableID(), 1);

  TMemoryTableDefMgr system;
  system.SetSystemTableMgr(true);
  system.CreateTableDef("Next", *next);
  EXPECT_EQ(next->TableID(), 1024);
}

// The state of a table's storage, as the restructure tests compare it.
struct TableState {
  int32_t indexCount = 0;
  std::vector<uint32_t> roots;
  int32_t logicalRecordNo = 0;
  int32_t autoInc = 0;
  int32_t generator1 = 0;
  int32_t generator2 = 0;
  uint32_t recordFirstEmpty = 0;
  uint32_t modified = 0;
};

TableState ReadState(TDiskTableDefMgr& Mgr, uint32_t TableID) {
  TTableHeader* header = Mgr.HeaderMgr()->OpenTable(TableID);
  TableState state;
  state.indexCount = header->GetIndexCount();
  for (int32_t i = 0; i < state.indexCount; ++i) state.roots.push_back(header->GetIndexRoot(i));
  state.logicalRecordNo = header->GetLogicalRecordNo();
  state.autoInc = header->GetRecordAutoIncVal();
  state.generator1 = header->GetGenerator1();
  state.generator2 = header->GetGenerator2();
  state.recordFirstEmpty = header->GetRecordFirstEmpty();
  state.modified = header->GetModifiedFlag();
  Mgr.HeaderMgr()->CloseTable(header);
  return state;
}

TEST(DiskTableDefMgr, RestructureResetsStorageByChangeStatus) {
  struct Case {
    const char* what;
    TDefChangeType fields;
    TDefChangeType indexes;
    std::vector<tabledefs::IndexSpec> newIndexes;
    bool recordsKept;
    bool treesReplaced;
  };
  const std::vector<tabledefs::IndexSpec> three = tabledefs::ThreeIndexes();
  std::vector<tabledefs::IndexSpec> four = three;
  four.push_back({"ixDate", "D"});
  const std::vector<tabledefs::IndexSpec> two(three.begin(), three.begin() + 2);
  const Case cases[] = {
      {"no change", dcNoChange, dcNoChange, three, true, false},
      {"fields renamed", dcDefOnlyChange, dcDefOnlyChange, three, true, false},
      {"index added", dcNoChange, dcAdded, four, true, true},
      {"index dropped", dcDefOnlyChange, dcDataChange, two, true, true},
      {"field added", dcAdded, dcNoChange, three, false, true},
      {"field dropped", dcDataLoss, dcDataChange, two, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::TempDir dir;
    const std::string name = dir.File("restructure.zel");
    std::unique_ptr<TTableDef> def = MakeDef("T", false, three);
    const std::vector<uint8_t> record = testdata::MakeRecord(def->InternalFields(), 5);
    uint32_t addr = 0;
    TableState before;
    {
      Database db(name);
      db.user.CreateTableDef("T", *def);
      std::unique_ptr<TTableDef> a = CopyOf(*def);
      db.user.OpenTableDefConnection("T", *a);
      for (int k = 0; k < 5; ++k) addr = AddRecord(*a, record);
      std::vector<uint8_t> blob(512, 9);
      a->BlobInterface()->AllocateNewAddress(512, blob.data());
      TTableHeader& header = *a->TableHeader();
      header.SetBlobFirstEmpty(a->BlobInterface()->FirstEmpty());
      header.SetLogicalRecordNo(5);
      header.SetRecordAutoIncVal(50);
      header.SetGenerator1(11);
      header.SetGenerator2(22);
      db.user.CloseTableDefConnection(a->TableID());
      before = ReadState(db.user, 1);

      std::unique_ptr<TTableDef> next = MakeDef("T", false, c.newIndexes);
      next->SetTableID(def->TableID());
      TRestructureFieldDefs fields;
      fields.SetChangeStatus(c.fields);
      TRestructureIndexDefs indexes;
      indexes.SetChangeStatus(c.indexes);
      TInternalRestructureRecord restructure;
      restructure.NewFieldDefs = &fields;
      restructure.NewIndexDefs = &indexes;
      restructure.ResetGenerator1 = true;
      restructure.Generator1 = 100;

      // Refused while a cursor has the table, with nothing changed.
      std::unique_ptr<TTableDef> busy = CopyOf(*def);
      db.user.OpenTableDefConnection("T", *busy);
      ExpectError(0x2182, "", [&] { db.user.RestructureTableDef(*next, restructure); });
      db.user.CloseTableDefConnection(busy->TableID());
      std::unique_ptr<TTableDef> memory = MakeDef("T", true, three);
      ExpectError(0x2181, "", [&] { db.user.RestructureTableDef(*memory, restructure); });
      EXPECT_EQ(ReadState(db.user, 1).roots, before.roots);

      db.user.RestructureTableDef(*next, restructure);
      const TableState after = ReadState(db.user, 1);
      EXPECT_EQ(after.indexCount, static_cast<int32_t>(c.newIndexes.size()));
      EXPECT_EQ(after.autoInc, 50);
      EXPECT_EQ(after.generator1, 100);
      EXPECT_EQ(after.generator2, 22);
      EXPECT_GT(after.modified, before.modified);
      if (!c.treesReplaced) {
        EXPECT_EQ(after.roots, before.roots);
      }
      if (c.recordsKept) {
        // Numbers given out stay given out, or non-unique keys would repeat.
        EXPECT_EQ(after.logicalRecordNo, 5);
        EXPECT_EQ(after.recordFirstEmpty, before.recordFirstEmpty);
        std::unique_ptr<TTableDef> b = CopyOf(*next);
        db.user.OpenTableDefConnection("T", *b);
        EXPECT_EQ(ReadRecord(*b, addr, record.size()), record);
        db.user.CloseTableDefConnection(b->TableID());
      } else {
        EXPECT_EQ(after.logicalRecordNo, 0);
        EXPECT_EQ(after.recordFirstEmpty, 0u);
      }
    }
    EXPECT_EQ(PagesOf(name, 1, iuIndexPages), c.newIndexes.size());
    EXPECT_EQ(PagesOf(name, 1, iuRecords) > 0, c.recordsKept);
    EXPECT_EQ(PagesOf(name, 1, iuBlobBlocks) > 0, c.recordsKept);
    EXPECT_TRUE(Intact(name));
  }
}

}  // namespace
}  // namespace zel
