#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelCommon.h"
#include "engine/storage/zelDataUnit.h"
#include "engine/storage/zelDisk.h"
#include "engine/storage/zelIndexUnit.h"
#include "platform/rtl/Lists.h"
#include "support/IntegrityCheckIndex.h"
#include "support/TestDir.h"

namespace zel {
namespace {

constexpr uint32_t kPage = 4096;
constexpr uint16_t kTable = 9;

using storagetest::ExpectError;

// A table of three fields (A integer, B string, C integer) with record
// helpers, its index definitions and key fields.
struct Table {
  Table() {
    const struct {
      const char* Name;
      plat::TFieldType Type;
      int32_t Size;
    } columns[] = {{"A", plat::ftInteger, 0}, {"B", plat::ftString, 21}, {"C", plat::ftInteger, 0}};
    for (const auto& desc : columns) {
      TInternalFieldItem* f = fields.Add();
      f->SetFieldName(desc.Name);
      f->SetDataType(desc.Type);
      if (desc.Size > 0) f->SetFieldSize(desc.Size);
      f->SetFieldIndex(fields.Count() - 1);
    }
    fields.SetDefaultOffsets();
    header = static_cast<TTableHeader*>(headers.Add());
    header->SetHeaderSize(256);
    header->SetIndexCount(6);
  }

  // An index over the named fields in slot Slot.
  TInternalIndexDef* AddDef(const std::string& Name, std::vector<std::string> Fields, int32_t Slot,
                            bool CaseInsensitive = false) {
    TInternalIndexDef* def = defs.Add();
    def->SetIndexName(Name);
    def->SetIndexSequence(Slot);
    TKeyFields own;
    for (const std::string& field : Fields) {
      const TInternalFieldItem* f = fields.FindField(field);
      for (TKeyFields* target : {&keys, &own}) {
        TKeyFieldItem* k = storagetest::AddKeyField(*target, *f);
        k->SetIndexName(Name);
        k->SetCaseInsensitive(CaseInsensitive && f->DataType() == plat::ftString);
      }
    }
    CalculateIndexDefSizes(*def, own);
    return def;
  }

  std::vector<uint8_t> Record(int32_t A, const std::string& B, int32_t C) const {
    std::vector<uint8_t> rec(static_cast<size_t>(fields.RecordSize()), 0);
    rec[rpInUse] = 1;
    const auto* fa = fields.GetIndex(0);
    const auto* fb = fields.GetIndex(1);
    const auto* fc = fields.GetIndex(2);
    rec[static_cast<size_t>(fa->NullFlagOffset())] = 1;
    std::memcpy(rec.data() + fa->DataOffset(), &A, 4);
    rec[static_cast<size_t>(fb->NullFlagOffset())] = 1;
    const uint16_t len = static_cast<uint16_t>(B.size());
    std::memcpy(rec.data() + fb->SizeMarkerOffset(), &len, 2);
    std::memcpy(rec.data() + fb->DataOffset(), B.data(), B.size());
    rec[static_cast<size_t>(fc->NullFlagOffset())] = 1;
    std::memcpy(rec.data() + fc->DataOffset(), &C, 4);
    return rec;
  }

  TInternalFields fields;
  TInternalIndexDefs defs;
  TKeyFields keys;
  TTableHeaderMgr headers;
  TTableHeader* header;
};

// A manager over a memory store, with the table's indexes created.
struct Managed : ::testing::Test {
  Managed() {
    store.SetBlockSize(kPage);
    store.SetUsage(iuIndexPages);
    store.Open();
    table.AddDef("ByA", {"A"}, 0);
    table.AddDef("ByB", {"B", "A"}, 1, true);
    table.AddDef("ByC", {"C"}, 2);
    mgr.SetIOInterface(&store);
    mgr.SetTableHeader(table.header);
    mgr.SetDBStringCompareFunction(DBANSICompareStrings);
    mgr.Assign(&table.defs);
    mgr.AssignKeyFields(table.keys);
    mgr.CreateIndexes();
  }

  void Insert(int32_t A, const std::string& B, int32_t C, uint32_t Addr) {
    const std::vector<uint8_t> rec = table.Record(A, B, C);
    for (int32_t i = 0; i < mgr.Count(); ++i) {
      TIndexItem* item = mgr.Items(i);
      item->CreateKeyBuffer(rec.data());
      ASSERT_EQ(item->InsertKey(Addr), 0);
    }
  }

  TMemoryIOInterface store;
  Table table;
  TIndexManager mgr;
};

TEST_F(Managed, CreatesOneRootPerIndexInItsSlot) {
  EXPECT_EQ(store.BlockCount(), 3);
  for (int32_t slot = 0; slot < 3; ++slot) {
    EXPECT_NE(table.header->GetIndexRoot(slot), 0u) << slot;
    EXPECT_EQ(table.header->GetIndexDepth(slot), 1) << slot;
  }
  mgr.Open();
  EXPECT_EQ(mgr.VisibleIndexCount(), 3);
  EXPECT_EQ(mgr.FindIndex("byb")->KeyFields().Count(), 2);
  EXPECT_EQ(mgr.FindIndex("ByB")->MaximumKeySize(), 10 + 1 + 2 + 21 + 4);
}

TEST_F(Managed, KeysAreSearchedThroughTheItems) {
  mgr.Open();
  for (int32_t i = 0; i < 500; ++i)
    Insert(i, std::string(1, static_cast<char>('a' + i % 26)) + "x", 1000 - i,
           static_cast<uint32_t>(i + 1));
  // The header slots follow the trees as they grow.
  for (int32_t slot = 0; slot < 3; ++slot)
    EXPECT_EQ(table.header->GetIndexDepth(slot), mgr.Items(slot)->Depth()) << slot;
  EXPECT_EQ(mgr.FindIndex("ByA")->Depth(), 2u);

  mgr.SetCurrentIndexName("ByC");
  TIndexItem* byC = mgr.CurrentIndex();
  EXPECT_EQ(byC->GetRecordCount(), 500);
  byC->CreateKeyBuffer(table.Record(0, "", 990).data());
  ASSERT_EQ(byC->FullIndexSearch(stEQ), 0);
  EXPECT_EQ(byC->GetRecordAddress(), 11u);
  EXPECT_EQ(byC->GetRecordNo(), 490);
  EXPECT_TRUE(byC->MoveBy(-3));
  EXPECT_EQ(byC->GetRecordNo(), 487);
  EXPECT_FALSE(byC->MoveBy(100));
  EXPECT_EQ(byC->SetRecordNo(1), 500u);

  // A case-insensitive partial search on the string alone.
  TIndexItem* byB = mgr.FindIndex("ByB");
  byB->CreateKeyBuffer(table.Record(0, "CX", 0).data());
  ASSERT_EQ(byB->PartialIndexSearch(stGE, TSearchModifier{1, true}), 0);
  EXPECT_EQ(byB->GetRecordAddress(), 3u);  // A = 2 is the first "cx"
  byB->CreateTempKeyBuffer(table.Record(2, "cX", 0).data());
  EXPECT_EQ(byB->CompareKeyToCurrentKey(0, byB->GetTempKeyBuffer()), 0);

  // Deleting through an item.
  TIndexItem* byA = mgr.FindIndex("ByA");
  byA->CreateKeyBuffer(table.Record(7, "", 0).data());
  ASSERT_EQ(byA->FullIndexSearch(stEQ), 0);
  ASSERT_EQ(byA->DeleteKey(), 0);
  EXPECT_EQ(byA->GetRecordCount(), 499);
  EXPECT_NE(byA->FullIndexSearch(stEQ), 0);
}

TEST_F(Managed, AddingAnIndex) {
  mgr.Open();
  Insert(1, "x", 2, 77);
  TInternalIndexDef* dup = table.AddDef("bya", {"C"}, 3);
  ExpectError(0x272B, "bya", [&] { mgr.AddIndex(*dup, table.keys); });
  TInternalIndexDef* taken = table.AddDef("Taken", {"C"}, 1);
  ExpectError(0x2185, "Index slot 1", [&] { mgr.AddIndex(*taken, table.keys); });
  EXPECT_EQ(mgr.Count(), 3);
  TInternalIndexDef* big = table.AddDef("Big", {"C"}, 4);
  big->SetMaximumKeySize(501);
  ExpectError(0x2582, "Big", [&] { mgr.AddIndex(*big, table.keys); });

  TInternalIndexDef* fresh = table.AddDef("ByCA", {"C", "A"}, 5);
  mgr.AddIndex(*fresh, table.keys);
  TIndexItem* item = mgr.FindIndex("ByCA");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->KeyFields().Count(), 2);
  EXPECT_EQ(item->Depth(), 1u);
  EXPECT_EQ(table.header->GetIndexRoot(5), item->Root());
  EXPECT_EQ(mgr.VisibleIndexCount(), 4);
  // The new index is open and empty; the table's records are the caller's
  // to add.
  EXPECT_EQ(item->GetRecordCount(), 0);
  item->CreateKeyBuffer(table.Record(1, "x", 2).data());
  EXPECT_EQ(item->InsertKey(77), 0);
  EXPECT_EQ(item->GetRecordCount(), 1);
}

TEST_F(Managed, DroppingAMiddleIndexClearsOnlyItsSlot) {
  mgr.Open();
  for (int32_t i = 0; i < 300; ++i)
    Insert(i, "k" + std::to_string(i), i, static_cast<uint32_t>(i + 1));
  const uint32_t rootA = table.header->GetIndexRoot(0);
  const uint32_t rootC = table.header->GetIndexRoot(2);
  const int32_t blocks = store.BlockCount();
  ASSERT_EQ(mgr.FindIndex("ByB")->Depth(), 2u);
  ExpectError(0x270D, "Nope", [&] { mgr.DropIndex("Nope"); });
  mgr.DropIndex("byb");
  EXPECT_EQ(mgr.Count(), 2);
  EXPECT_EQ(mgr.VisibleIndexCount(), 2);
  EXPECT_EQ(mgr.FindIndex("ByB"), nullptr);
  // No stale root in the dropped slot; the others keep theirs.
  EXPECT_EQ(table.header->GetIndexRoot(1), 0u);
  EXPECT_EQ(table.header->GetIndexDepth(1), 0);
  EXPECT_EQ(table.header->GetIndexRoot(0), rootA);
  EXPECT_EQ(table.header->GetIndexRoot(2), rootC);
  EXPECT_LT(store.BlockCount(), blocks);
  // The remaining indexes still work.
  TIndexItem* byC = mgr.FindIndex("ByC");
  EXPECT_EQ(byC->GetRecordCount(), 300);
  byC->CreateKeyBuffer(table.Record(0, "", 299).data());
  EXPECT_EQ(byC->FullIndexSearch(stEQ), 0);
}

TEST_F(Managed, EmptyingAnIndexLeavesAnEmptyRoot) {
  mgr.Open();
  for (int32_t i = 0; i < 300; ++i) Insert(i, "v", i, static_cast<uint32_t>(i + 1));
  ExpectError(0x270D, "", [&] { mgr.EmptyIndex("Nope"); });
  mgr.EmptyIndex("ByA");
  TIndexItem* byA = mgr.FindIndex("ByA");
  EXPECT_EQ(byA->Depth(), 1u);
  EXPECT_NE(byA->Root(), 0u);
  EXPECT_EQ(table.header->GetIndexRoot(0), byA->Root());
  EXPECT_EQ(byA->GetRecordCount(), 0);
  EXPECT_EQ(mgr.FindIndex("ByC")->GetRecordCount(), 300);
}

TEST_F(Managed, FindingAnIndexForFields) {
  table.AddDef("ByAC", {"A", "C"}, 3);
  mgr.Close();
  mgr.SetIOInterface(&store);
  mgr.Assign(&table.defs);
  mgr.AssignKeyFields(table.keys);
  struct Case {
    std::vector<std::string> Fields;
    bool CaseSensitiveOnly;
    const char* Expected;
  };
  const std::vector<Case> cases = {
      {{"A"}, false, "ByA"},        {{"a", "c"}, false, "ByAC"}, {{"C", "A"}, false, nullptr},
      {{"B"}, false, "ByB"},        {{"B"}, true, nullptr},      {{"B", "A", "C"}, false, nullptr},
      {{"A", "B"}, false, nullptr},
  };
  for (const Case& c : cases) {
    plat::TStringList names;
    for (const std::string& f : c.Fields) names.Add(f);
    TIndexItem* found = mgr.FindIndexForFields(names, c.CaseSensitiveOnly);
    if (c.Expected == nullptr) {
      EXPECT_EQ(found, nullptr) << names.Count();
    } else {
      ASSERT_NE(found, nullptr) << c.Expected;
      EXPECT_EQ(found->IndexName(), c.Expected);
    }
  }
  mgr.SetCurrentIndexName("Gone");
  ExpectError(0x270D, "Gone", [&] { mgr.CurrentIndex(); });
}

TEST(IndexManager, RefusesBadSettings) {
  Table table;
  table.AddDef("ByA", {"A"}, 0);
  TMemoryIOInterface store;
  store.SetBlockSize(kPage);
  TIndexManager mgr;
  mgr.SetTableHeader(table.header);
  mgr.Assign(&table.defs);

  // Key fields for an index that is not there, or a string without size
  // marker, or an index left without key fields.
  TKeyFields stray;
  stray.Add()->SetIndexName("Other");
  ExpectError(0x270D, "Other", [&] { mgr.AssignKeyFields(stray); });
  TKeyFields noMarker;
  TKeyFieldItem* k = noMarker.Add();
  k->SetIndexName("ByA");
  k->SetDataType(plat::ftString);
  ExpectError(0x2185, "KeyBuffers invalid", [&] { mgr.AssignKeyFields(noMarker); });
  TKeyFields none;
  ExpectError(0x2185, "KeyBuffers invalid", [&] { mgr.AssignKeyFields(none); });
  mgr.AssignKeyFields(table.keys);

  ExpectError(0x2185, "No sort order function assigned", [&] { mgr.Open(); });
  mgr.SetDBStringCompareFunction(DBASCIICompareStrings);
  ExpectError(0x2185, "IO Interface is unassigned", [&] { mgr.Open(); });
  mgr.SetIOInterface(&store);
  // Slot 0 holds no root yet: the header, as if read from a file, is
  // damaged.
  ExpectError(0x2103, "holds no tree for index ByA", [&] { mgr.Open(); });
}

TEST(IndexManager, IndexesInADatabaseFile) {
  testsupport::TempDir dir;
  const std::string file = dir.File("mgr.zel");
  {
    TDiskMgr creator;
    creator.SetFileName(file);
    creator.SetPageSize(kPage);
    creator.CreateNewFile();
  }
  Table table;
  table.AddDef("ByA", {"A"}, 0);
  table.AddDef("ByB", {"B", "A"}, 1);
  table.AddDef("ByC", {"C"}, 2);
  std::vector<std::pair<uint32_t, uint32_t>> slots;
  {
    TDiskMgr disk;
    disk.SetFileName(file);
    disk.SetPageSize(kPage);
    disk.Open();
    TDiskIOInterface store;
    store.SetDiskMgr(&disk);
    store.SetTableID(kTable);
    store.SetUsage(iuIndexPages);
    store.SetBlockSize(kPage);
    store.SetAccessFlags(1);
    store.SetGlobalFirstEmptyOffset(ghIndexesFirstEmpty);
    store.Open();
    TIndexManager mgr;
    mgr.SetIOInterface(&store);
    mgr.SetTableHeader(table.header);
    mgr.SetDBStringCompareFunction(DBANSICompareStrings);
    mgr.Assign(&table.defs);
    mgr.AssignKeyFields(table.keys);
    mgr.CreateIndexes();
    mgr.Open();
    for (int32_t i = 0; i < 2000; ++i) {
      const std::vector<uint8_t> rec = table.Record(i * 7 % 2000, "s" + std::to_string(i), -i);
      for (int32_t k = 0; k < mgr.Count(); ++k) {
        mgr.Items(k)->CreateKeyBuffer(rec.data());
        ASSERT_EQ(mgr.Items(k)->InsertKey(static_cast<uint32_t>(i + 1)), 0);
      }
    }
    mgr.DropIndex("ByB");
    for (int32_t slot = 0; slot < 3; ++slot)
      slots.emplace_back(table.header->GetIndexRoot(slot), table.header->GetIndexDepth(slot));
    mgr.Close();
    store.Close();
    disk.Close();
  }
  EXPECT_EQ(slots[1], std::make_pair(0u, 0u));
  EXPECT_TRUE(testsupport::IndexesAreIntact(file, [&](testsupport::IndexCheck& check) {
    for (int32_t slot : {0, 2}) {
      testsupport::IndexTreeDesc desc;
      desc.Name = "slot " + std::to_string(slot);
      desc.Root = slots[static_cast<size_t>(slot)].first;
      desc.Depth = slots[static_cast<size_t>(slot)].second;
      desc.FixedKeySize = 15;
      EXPECT_EQ(check.CheckTree(desc, (kTable << 4) | iuIndexPages).Records, 2000u);
    }
    // The dropped index's pages went back to the page map.
    check.CheckNoStrayPages((kTable << 4) | iuIndexPages);
  }));
}

TEST(TemporarySort, SortsAndFindsKeys) {
  Table table;
  TTemporarySortManager sorts;
  TTemporarySort* sort = sorts.Add();
  ExpectError(0x2185, "Sort function not assinged", [&] { sort->Open(4); });
  sort->SetDBStringCompare(DBANSICompareStrings);
  // Descending C, then ascending B.
  const TInternalFieldItem* fc = table.fields.FindField("C");
  const TInternalFieldItem* fb = table.fields.FindField("B");
  for (const TInternalFieldItem* f : {fc, fb}) {
    TKeyFieldItem* k = storagetest::AddKeyField(sort->KeyFields(), *f);
    k->SetDescending(f == fc);
  }
  sort->Open(2);
  EXPECT_EQ(sort->KeySize(), 10 + 1 + 4 + 2 + 21);
  struct Row {
    int32_t C;
    const char* B;
    uint32_t Addr;
  };
  const std::vector<Row> rows = {
      {1, "b", 10}, {3, "a", 20}, {1, "a", 30}, {2, "z", 40}, {3, "c", 50}};
  for (const Row& r : rows) sort->AppendKey(r.Addr, table.Record(0, r.B, r.C).data());
  EXPECT_EQ(sort->Count(), 5);
  EXPECT_GE(sort->Capacity(), 5);
  EXPECT_FALSE(sort->Sorted());
  sort->Sort();
  std::vector<uint32_t> order;
  for (int32_t i = 0; i < sort->Count(); ++i) order.push_back(sort->KeyAddress(i));
  EXPECT_EQ(order, (std::vector<uint32_t>{20, 50, 40, 30, 10}));

  sort->ConstructKeyBufFromRecBuf(0, table.Record(0, "z", 2).data());
  EXPECT_EQ(sort->FindKey(), 40u);
  sort->ConstructKeyBufFromRecBuf(0, table.Record(0, "b", 3).data());
  EXPECT_EQ(sort->FindKey(), 0u);
  EXPECT_EQ(sort->FindNearest(), 50u);
  sort->ConstructKeyBufFromRecBuf(0, table.Record(0, "c", 1).data());
  EXPECT_EQ(sort->FindNearest(), 0u);
  sorts.Close();
  EXPECT_EQ(sort->Count(), 0);
  EXPECT_EQ(sort->Capacity(), 0);
}

}  // namespace
}  // namespace zel
