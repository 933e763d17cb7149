#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelCommon.h"
#include "engine/storage/zelDataUnit.h"
#include "engine/storage/zelDisk.h"
#include "engine/storage/zelIndexUnit.h"
#include "platform/os/Files.h"
#include "support/IntegrityCheckIndex.h"
#include "support/IntegrityCheckStores.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using plat::VarArrayOf;
using plat::Variant;

constexpr uint32_t kPage = 4096;
constexpr uint16_t kTable = 7;
constexpr uint16_t kIndexOwner = (kTable << 4) | iuIndexPages;

using storagetest::ExpectError;

struct FieldDesc {
  const char* Name;
  plat::TFieldType Type;
  int32_t Size = 0;
  bool CaseInsensitive = false;
  bool Descending = false;
};

// A record layout of the given fields and the key fields of one index over
// them; a non-unique index gets the hidden record-number part, as tables
// give it.
struct Layout {
  Layout(const std::vector<FieldDesc>& Columns, bool HiddenRecNo) {
    for (size_t i = 0; i < Columns.size(); ++i) {
      TInternalFieldItem* f = fields.Add();
      f->SetFieldName(Columns[i].Name);
      f->SetDataType(Columns[i].Type);
      if (Columns[i].Size > 0) f->SetFieldSize(Columns[i].Size);
      f->SetFieldIndex(static_cast<int32_t>(i));
    }
    fields.SetDefaultOffsets();
    for (size_t i = 0; i < Columns.size(); ++i) {
      const TInternalFieldItem* f = fields.GetIndex(static_cast<int32_t>(i));
      TKeyFieldItem* k = storagetest::AddKeyField(keys, *f);
      k->SetCaseInsensitive(Columns[i].CaseInsensitive);
      k->SetDescending(Columns[i].Descending);
    }
    if (HiddenRecNo) {
      TKeyFieldItem* k = keys.Add();
      k->SetFieldName("_RecNo");
      k->SetDataType(plat::ftInteger);
      k->SetFieldSize(4);
      k->SetRecBufOffset(rpLogicalRecordNo);
      k->SetNullFlagOffset(-1);
      k->SetHidden(true);
    }
  }

  std::vector<uint8_t> NewRecord(int32_t RecNo) const {
    std::vector<uint8_t> rec(static_cast<size_t>(fields.RecordSize()), 0);
    rec[rpInUse] = 1;
    std::memcpy(rec.data() + rpLogicalRecordNo, &RecNo, 4);
    return rec;
  }
  const TInternalFieldItem& F(int32_t I) const { return *fields.GetIndex(I); }
  void SetInt(std::vector<uint8_t>& R, int32_t I, int32_t V) const {
    R[static_cast<size_t>(F(I).NullFlagOffset())] = 1;
    std::memcpy(R.data() + F(I).DataOffset(), &V, 4);
  }
  void SetSmall(std::vector<uint8_t>& R, int32_t I, int16_t V) const {
    R[static_cast<size_t>(F(I).NullFlagOffset())] = 1;
    std::memcpy(R.data() + F(I).DataOffset(), &V, 2);
  }
  void SetFloat(std::vector<uint8_t>& R, int32_t I, double V) const {
    R[static_cast<size_t>(F(I).NullFlagOffset())] = 1;
    std::memcpy(R.data() + F(I).DataOffset(), &V, 8);
  }
  void SetString(std::vector<uint8_t>& R, int32_t I, const std::string& S) const {
    R[static_cast<size_t>(F(I).NullFlagOffset())] = 1;
    const uint16_t len = static_cast<uint16_t>(S.size());
    std::memcpy(R.data() + F(I).SizeMarkerOffset(), &len, 2);
    std::memcpy(R.data() + F(I).DataOffset(), S.data(), S.size());
  }

  TInternalFields fields;
  TKeyFields keys;
};

// A database file with an index store on it, or a memory store.
struct Storage {
  explicit Storage(const std::string& FileName = "") {
    if (FileName.empty()) {
      store = std::make_unique<TMemoryIOInterface>();
      store->SetBlockSize(kPage);
      store->SetUsage(iuIndexPages);
      store->Open();
      return;
    }
    if (!plat::FileExists(FileName)) {
      TDiskMgr creator;
      creator.SetFileName(FileName);
      creator.SetPageSize(kPage);
      creator.CreateNewFile();
    }
    disk = std::make_unique<TDiskMgr>();
    disk->SetFileName(FileName);
    disk->SetPageSize(kPage);
    disk->Open();
    auto diskStore = std::make_unique<TDiskIOInterface>();
    diskStore->SetDiskMgr(disk.get());
    diskStore->SetTableID(kTable);
    diskStore->SetUsage(iuIndexPages);
    diskStore->SetBlockSize(kPage);
    diskStore->SetAccessFlags(1);
    diskStore->SetGlobalFirstEmptyOffset(ghIndexesFirstEmpty);
    diskStore->Open();
    store = std::move(diskStore);
  }
  ~Storage() {
    store->Close();
    store.reset();
    if (disk) disk->Close();
  }

  std::unique_ptr<TDiskMgr> disk;
  std::unique_ptr<TBaseIOInterface> store;
};

// One B-tree over a layout, with its root and depth kept here as a table
// header would keep them.
struct Tree {
  Tree(const Layout& L, TBaseIOInterface& Store, TIndexKeyType KeyType, TSortOrder Order,
       uint32_t Root = 0, uint32_t Depth = 0)
      : root(Root), depth(Depth) {
    tree.SetKeyFields(L.keys);
    tree.SetPageSize(kPage);
    tree.SetIndexKeyType(KeyType);
    tree.SetDBStringCompare(Order == soANSI ? DBANSICompareStrings : DBASCIICompareStrings);
    tree.ConnectToIFace(&Store, kPage, &root, &depth);
    tree.Open();
    if (root == 0) tree.CreateTree();
  }

  // Inserts the record's key with the address, the way a cursor does.
  void Insert(const std::vector<uint8_t>& Rec, uint32_t Addr) {
    tree.ConstructKeyBufFromRecBuf(Rec.data(), nullptr);
    tree.SetKeyBufAddr(Addr);
    tree.IndexSearch(stGE);
    ASSERT_EQ(tree.InsertKey(), 0);
  }
  int32_t Search(const std::vector<uint8_t>& Rec, TIndexSearchType Type,
                 const TSearchModifier* Modifier = nullptr,
                 const TComparisonMarkers* Markers = nullptr) {
    tree.ConstructKeyBufFromRecBuf(Rec.data(), Markers);
    return tree.IndexSearch(Type, Modifier);
  }

  uint32_t root;
  uint32_t depth;
  TBTree tree;
};

testsupport::IndexPageSource StoreSource(TBaseIOInterface& Store) {
  return [&Store](uint32_t Addr, std::vector<uint8_t>& Page) {
    Page.assign(kPage, 0);
    try {
      Store.ReadBlock(Addr, kPage, Page.data());
    } catch (const EZelDatabaseError&) {
      return false;
    }
    return true;
  };
}

testsupport::IndexTreeReport CheckTree(Tree& T, TBaseIOInterface& Store) {
  testsupport::IndexTreeDesc desc;
  desc.Root = T.root;
  desc.Depth = T.depth;
  desc.Unique = true;
  desc.FixedKeySize = T.tree.IndexKeyType() == ikFixed ? T.tree.MaximumKeySize() : 0;
  const TKeyFormat& format = T.tree.Format();
  desc.Compare = [&format](const uint8_t* A, const uint8_t* B) {
    return format.CompareKeys(0, nullptr, nullptr, A, B);
  };
  return testsupport::CheckIndexTree(StoreSource(Store), desc);
}

// ---------------------------------------------------------------- fixed cases

TEST(BTree, RefusesToOpenWithoutASortOrder) {
  Layout l({{"I", plat::ftInteger}}, false);
  Storage s;
  uint32_t root = 0;
  uint32_t depth = 0;
  TBTree tree;
  tree.SetKeyFields(l.keys);
  tree.ConnectToIFace(s.store.get(), kPage, &root, &depth);
  ExpectError(0x2185, "No sort order function assigned", [&] { tree.Open(); });
}

TEST(BTree, AnEmptyTreeFindsNothing) {
  Layout l({{"I", plat::ftInteger}}, false);
  Storage s;
  Tree t(l, *s.store, ikFixed, soANSI);
  EXPECT_EQ(t.depth, 1u);
  std::vector<uint8_t> rec = l.NewRecord(1);
  l.SetInt(rec, 0, 5);
  for (TIndexSearchType type : {stLT, stLE, stEQ, stGE, stGT, stLEG})
    EXPECT_NE(t.Search(rec, type), 0) << type;
  EXPECT_EQ(t.tree.GetRecordCount(), 0);
  EXPECT_EQ(t.tree.GetRecordNo(), 0);
  EXPECT_EQ(t.tree.GetAddrOfRecNo(1), 0u);
  EXPECT_FALSE(t.tree.NextRecord());
  EXPECT_FALSE(t.tree.SetCursorToEnd(true));
}

TEST(BTree, AscendingInsertsSplitAndAllDeletesShrinkBack) {
  // 118-byte fixed keys: a page splits when it has no room for one more,
  // at the 34th key (34 x 118 + 16 + 118 >= 4096).
  Layout l({{"I", plat::ftInteger}, {"P", plat::ftString, 101}}, false);
  Storage s;
  Tree t(l, *s.store, ikFixed, soANSI);
  ASSERT_EQ(t.tree.MaximumKeySize(), 118);
  const uint32_t root = t.root;
  const auto insert = [&](int32_t v) {
    std::vector<uint8_t> rec = l.NewRecord(v);
    l.SetInt(rec, 0, v);
    l.SetString(rec, 1, "pad");
    t.Insert(rec, 0x1000 + static_cast<uint32_t>(v));
  };
  for (int32_t i = 0; i < 33; ++i) insert(i);
  EXPECT_EQ(t.depth, 1u);
  insert(33);
  EXPECT_EQ(t.depth, 2u);
  EXPECT_EQ(t.root, root);
  auto report = CheckTree(t, *s.store);
  EXPECT_TRUE(report.Ok()) << report.Report();
  EXPECT_EQ(report.Records, 34u);
  EXPECT_EQ(report.Pages.size(), 3u);

  // Grow to three levels, then delete everything in a scattered order.
  std::vector<int32_t> values;
  for (int32_t i = 34; i < 3000; ++i) {
    insert(i);
    values.push_back(i);
  }
  EXPECT_EQ(t.depth, 3u);
  EXPECT_EQ(t.root, root);
  report = CheckTree(t, *s.store);
  EXPECT_TRUE(report.Ok()) << report.Report();
  for (int32_t i = 0; i < 34; ++i) values.push_back(i);
  std::mt19937 rng(7);
  std::shuffle(values.begin(), values.end(), rng);
  for (size_t k = 0; k < values.size(); ++k) {
    std::vector<uint8_t> rec = l.NewRecord(values[k]);
    l.SetInt(rec, 0, values[k]);
    l.SetString(rec, 1, "pad");
    ASSERT_EQ(t.Search(rec, stEQ), 0) << values[k];
    ASSERT_EQ(t.tree.DeleteKey(), 0);
    if (k % 500 == 0) {
      report = CheckTree(t, *s.store);
      ASSERT_TRUE(report.Ok()) << report.Report();
    }
  }
  EXPECT_EQ(t.root, root);
  EXPECT_EQ(t.depth, 1u);
  EXPECT_EQ(t.tree.GetRecordCount(), 0);
  report = CheckTree(t, *s.store);
  EXPECT_TRUE(report.Ok()) << report.Report();
  EXPECT_EQ(report.Pages, std::vector<uint32_t>{root});
  // Only the root is left in the store.
  EXPECT_EQ(static_cast<TMemoryIOInterface&>(*s.store).BlockCount(), 1);
}

// Keys added in ascending order go onto the rightmost leaf without a
// descent while nothing else changed the store. Its edges: a leaf and the
// root splitting under the appends, a key equal to the last one (found, not
// added), and a second tree changing the index between two appends.
TEST(BTree, AppendsAtTheEndKeepTheTreeWhole) {
  Layout l({{"I", plat::ftInteger}, {"P", plat::ftString, 101}}, false);
  Storage s;
  Tree a(l, *s.store, ikFixed, soANSI);
  const auto record = [&](int32_t v) {
    std::vector<uint8_t> rec = l.NewRecord(v);
    l.SetInt(rec, 0, v);
    l.SetString(rec, 1, "pad");
    return rec;
  };
  const auto address = [](int32_t v) { return 0x1000u + static_cast<uint32_t>(v); };
  std::set<int32_t> keys;
  const auto append = [&](Tree& t, int32_t v) {
    ASSERT_NE(t.Search(record(v), stEQ), 0) << v;
    t.tree.SetKeyBufAddr(address(v));
    ASSERT_EQ(t.tree.InsertKey(), 0) << v;
    keys.insert(v);
  };
  const auto expectWhole = [&](Tree& t) {
    const auto report = CheckTree(t, *s.store);
    EXPECT_TRUE(report.Ok()) << report.Report();
    EXPECT_EQ(report.Records, keys.size());
    EXPECT_EQ(t.tree.GetRecordCount(true), static_cast<int32_t>(keys.size()));
    ASSERT_TRUE(t.tree.SetCursorToEnd(true));
    for (int32_t v : keys) {
      EXPECT_EQ(t.tree.GetRecAddr(), address(v));
      t.tree.NextRecord();
    }
  };

  // 34 keys of 118 bytes fill a page: the 34th append splits the root leaf,
  // and later ones split the rightmost leaf again and again until the root
  // splits a second time.
  for (int32_t v = 0; v < 34; ++v) append(a, v * 10);
  EXPECT_EQ(a.depth, 2u);
  for (int32_t v = 34; v < 1300; ++v) append(a, v * 10);
  EXPECT_EQ(a.depth, 3u);
  expectWhole(a);

  // The last key again is a duplicate: found where it is, nothing added.
  ASSERT_EQ(a.Search(record(12990), stEQ), 0);
  EXPECT_EQ(a.tree.GetRecAddr(), address(12990));
  EXPECT_EQ(a.tree.GetRecordNo(), 1300);
  append(a, 13000);

  // A second tree appends above the last key and adds one in the middle;
  // the first tree's next appends must see both.
  Tree b(l, *s.store, ikFixed, soANSI, a.root, a.depth);
  append(b, 13010);
  append(b, 5);
  append(a, 13005);
  append(a, 13020);
  append(b, 13030);
  append(a, 13040);
  EXPECT_EQ(a.depth, b.depth);
  expectWhole(a);
  expectWhole(b);
}

// Sorted keys loaded into an empty tree from the leaves up make a tree the
// checker passes, with its counts, record numbers and leaf chain right, that
// later inserts and deletes keep whole; the root stays where it was. Fixed
// keys of 122 bytes fill a page with 32; varying keys of varying length.
TEST(BTree, SortedKeysLoadIntoAWholeTree) {
  struct Case {
    TIndexKeyType KeyType;
    int32_t Count;
    uint32_t Depth;
  };
  const Case cases[] = {{ikFixed, 0, 1},    {ikFixed, 1, 1},         {ikFixed, 32, 1},
                        {ikFixed, 33, 2},   {ikFixed, 32 * 32, 2},   {ikFixed, 32 * 32 + 1, 3},
                        {ikMinStringLen, 5000, 2}, {ikMinStringLen, 60000, 3}};
  Layout l({{"I", plat::ftInteger}, {"P", plat::ftString, 101}}, true);
  ASSERT_EQ(Tree(l, *Storage().store, ikFixed, soANSI).tree.MaximumKeySize(), 122);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Count) + (c.KeyType == ikFixed ? " fixed" : " varying"));
    Storage s;
    Tree t(l, *s.store, c.KeyType, soANSI);
    const uint32_t root = t.root;
    const auto record = [&](int32_t v) {
      std::vector<uint8_t> rec = l.NewRecord(v);
      l.SetInt(rec, 0, v / 2);
      l.SetString(rec, 1, std::string(static_cast<size_t>(v / 2 % 7), 'x'));
      return rec;
    };
    const auto address = [](int32_t v) { return 0x1000u + static_cast<uint32_t>(v); };
    std::vector<uint8_t> bytes;
    std::vector<size_t> offsets;
    for (int32_t v = 0; v < c.Count; ++v) {
      offsets.push_back(bytes.size());
      bytes.resize(bytes.size() + static_cast<size_t>(t.tree.MaximumKeySize()));
      const int32_t len = t.tree.Format().BuildFromRecord(bytes.data() + offsets.back(), record(v).data());
      bytes.resize(offsets.back() + static_cast<size_t>(len));
      ix::StoreU32(bytes.data() + offsets.back() + keAddress, address(v));
    }
    std::vector<const uint8_t*> keys;
    for (size_t at : offsets) keys.push_back(bytes.data() + at);
    t.tree.LoadSortedKeys(keys);
    EXPECT_EQ(t.root, root);
    EXPECT_EQ(t.depth, c.Depth);
    auto report = CheckTree(t, *s.store);
    EXPECT_TRUE(report.Ok()) << report.Report();
    EXPECT_EQ(report.Records, static_cast<uint64_t>(c.Count));
    EXPECT_EQ(t.tree.GetRecordCount(true), c.Count);
    for (int32_t v = 0; v < c.Count; v += std::max(1, c.Count / 50)) {
      EXPECT_EQ(t.tree.GetAddrOfRecNo(v + 1), address(v));
      ASSERT_EQ(t.Search(record(v), stEQ), 0) << v;
      EXPECT_EQ(t.tree.GetRecordNo(), v + 1);
    }
    int32_t walked = 0;
    for (bool more = t.tree.SetCursorToEnd(true); more; more = t.tree.NextRecord())
      ASSERT_EQ(t.tree.GetRecAddr(), address(walked++));
    EXPECT_EQ(walked, c.Count);
    // The pages are as full as inserts leave them: the next insert splits.
    for (int32_t v = c.Count; v < c.Count + 40; ++v) t.Insert(record(v), address(v));
    for (int32_t v = 0; v < c.Count; v += 3) {
      ASSERT_EQ(t.Search(record(v), stEQ), 0) << v;
      ASSERT_EQ(t.tree.DeleteKey(), 0);
    }
    report = CheckTree(t, *s.store);
    EXPECT_TRUE(report.Ok()) << report.Report();
    EXPECT_EQ(t.root, root);
    // Only an empty tree is loaded.
    ExpectError(0x2185, "Index is not empty", [&] { t.tree.LoadSortedKeys(keys); });
  }
}

TEST(BTreeNode, EntriesOfVaryingLength) {
  Layout l({{"S", plat::ftString, 41}}, false);
  Storage s;
  Tree t(l, *s.store, ikMinStringLen, soANSI);
  TNode unopened;
  ExpectError(0x2185, "Node Buffer not allocated", [&] { unopened.ClearNode(); });
  TNode node;
  node.Open(&t.tree, s.store.get(), kPage);
  node.SetLeaf(true);
  ExpectError(0x2185, "Node is empty", [&] { node.ForceCursorToPhysicalKey(); });
  EXPECT_TRUE(node.CheckNodeEmpty());
  // Keys of 14, 16 and 19 bytes at 0, 14 and 30.
  for (const char* text : {"a", "ccc", "bbbbbb"}) {
    std::vector<uint8_t> rec = l.NewRecord(1);
    l.SetString(rec, 0, text);
    t.tree.ConstructKeyBufFromRecBuf(rec.data(), nullptr);
    node.InsertKey(node.Used(), t.tree.SearchKey());
  }
  EXPECT_EQ(node.Used(), 14 + 16 + 19);
  EXPECT_EQ(node.GetCount(), 3);
  struct Case {
    TKeySearchType Type;
    int32_t Pos;
    int32_t Expected;
  };
  const std::vector<Case> cases = {
      {ksLE, 0, 0},   {ksLE, 13, 0},  {ksLE, 14, 14}, {ksLE, 48, 30}, {ksLE, 99, 30},
      {ksEQ, 14, 14}, {ksEQ, 15, -1}, {ksGE, 1, 14},  {ksGE, 30, 30}, {ksGE, 31, 49},
  };
  for (const Case& c : cases)
    EXPECT_EQ(node.FindKeyByPosition(c.Type, c.Pos), c.Expected) << c.Type << " " << c.Pos;
  node.SetCursor(99);
  ExpectError(0x2185, "Node cursor out of range", [&] { node.GetCurrentKey(); });
  node.ForceCursorToPhysicalKey();
  EXPECT_EQ(node.Cursor(), 30);
  EXPECT_EQ(node.GetKeyNo(), 3);
  std::vector<uint8_t> key(64);
  ExpectError(0x2185, "ReadPos is out of range: 49", [&] { node.ReadKey(49, key.data()); });
  // Replacing the middle key by a longer one moves the rest.
  std::vector<uint8_t> rec = l.NewRecord(1);
  l.SetString(rec, 0, "cccccccccc");
  t.tree.ConstructKeyBufFromRecBuf(rec.data(), nullptr);
  node.UpdateKey(14, t.tree.SearchKey());
  EXPECT_EQ(node.Used(), 14 + 23 + 19);
  EXPECT_EQ(node.FindKeyByPosition(ksLE, 40), 37);
  node.DeleteKey(14);
  EXPECT_EQ(node.Used(), 14 + 19);
  // A zero length where an entry should start.
  node.Data()[NodeHeaderSize + 14] = 0;
  node.Data()[NodeHeaderSize + 15] = 0;
  ExpectError(0x2185, "Invalid key size in Delete key: 0", [&] { node.DeleteKey(14); });
  EXPECT_FALSE(node.CheckNodeFull());
  EXPECT_TRUE(node.CheckNodeTooEmpty());
  EXPECT_TRUE(node.RoomForKey(kPage - 16 - 33));
  EXPECT_FALSE(node.RoomForKey(kPage - 16 - 32));
}

// Entries moved between pages, as splits, merges and redistributions move
// them, and a key replaced by a longer one: each page must go on finding
// its entries where a fresh read of its bytes finds them.
TEST(BTreeNode, MovedEntriesAreFoundWhereTheBytesPutThem) {
  Layout l({{"S", plat::ftString, 41}}, false);
  Storage s;
  Tree t(l, *s.store, ikMinStringLen, soANSI);
  TNode a, b, fresh;
  for (TNode* n : {&a, &b, &fresh}) {
    n->Open(&t.tree, s.store.get(), kPage);
    n->ClearNode();
    n->SetLeaf(true);
  }
  const auto key = [&](const std::string& Text) {
    std::vector<uint8_t> rec = l.NewRecord(1);
    l.SetString(rec, 0, Text);
    t.tree.ConstructKeyBufFromRecBuf(rec.data(), nullptr);
    return t.tree.SearchKey();
  };
  for (int i = 0; i < 12; ++i) a.InsertKey(a.Used(), key(std::string(1 + i % 5, 'a' + i)));
  const auto expectFound = [&](const char* Step) {
    SCOPED_TRACE(Step);
    for (const TNode* n : {&a, &b}) {
      fresh.CopyFrom(*n);
      ASSERT_EQ(n->GetCount(), fresh.GetCount());
      for (int32_t i = 0; i <= fresh.GetCount(); ++i)
        EXPECT_EQ(n->PositionOfIndex(i), fresh.PositionOfIndex(i)) << i;
      EXPECT_EQ(n->LastPosition(), fresh.LastPosition());
    }
    EXPECT_EQ(a.GetCount() + b.GetCount(), 12);
  };
  const auto at = [](const TNode& n, int32_t Index) { return n.PositionOfIndex(Index); };
  a.MoveBlock(at(a, 7), a.Used() - at(a, 7), b, 0);
  expectFound("tail to an empty page");
  b.MoveBlock(0, at(b, 2), a, a.Used());
  expectFound("front of the right to the end of the left");
  a.MoveBlock(at(a, 6), a.Used() - at(a, 6), b, 0);
  expectFound("end of the left to the front of the right");
  b.MoveBlock(at(b, 2), at(b, 4) - at(b, 2), a, at(a, 3));
  expectFound("from the middle into the middle");
  b.UpdateKey(at(b, 1), key("zzzzzzzzzzzz"));
  expectFound("a longer key");
  b.UpdateKey(at(b, 1), key("z"));
  expectFound("a shorter key");
  a.MoveBlock(0, a.Used(), b, 0);
  expectFound("everything to the front of the right");
  EXPECT_TRUE(a.CheckNodeEmpty());
}

// Keys 10, 20, ..., 100 on one page.
struct SmallTree : ::testing::Test {
  SmallTree()
      : l({{"A", plat::ftInteger}, {"B", plat::ftInteger}}, false),
        t(l, *s.store, ikFixed, soANSI) {
    for (int32_t i = 1; i <= 10; ++i) {
      std::vector<uint8_t> rec = l.NewRecord(i);
      l.SetInt(rec, 0, i * 10);
      l.SetInt(rec, 1, i);
      t.Insert(rec, static_cast<uint32_t>(i));
    }
  }
  std::vector<uint8_t> Key(int32_t A, int32_t B) {
    std::vector<uint8_t> rec = l.NewRecord(0);
    l.SetInt(rec, 0, A);
    l.SetInt(rec, 1, B);
    return rec;
  }
  Layout l;
  Storage s;
  Tree t;
};

TEST_F(SmallTree, SearchTypesAtTheEnds) {
  struct Case {
    int32_t A;
    TIndexSearchType Type;
    uint32_t Addr;  // 0: not found
  };
  const std::vector<Case> cases = {
      {100, stGT, 0}, {100, stGE, 10},  {100, stEQ, 10}, {5, stLE, 0},   {5, stLT, 0},
      {5, stGE, 1},   {500, stLEG, 10}, {500, stLE, 10}, {55, stLEG, 6}, {55, stEQ, 0},
      {50, stLT, 4},  {50, stGT, 6},    {10, stLT, 0},   {55, stLT, 5},  {-1, stLEG, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.A) + " type " + std::to_string(c.Type));
    // Only the first field takes part: B is 0 in the search keys.
    const TSearchModifier first{1, true};
    const int32_t found = t.Search(Key(c.A, 0), c.Type, &first);
    EXPECT_EQ(found == 0, c.Addr != 0);
    if (found == 0) {
      EXPECT_EQ(t.tree.GetRecAddr(), c.Addr);
      EXPECT_EQ(t.tree.GetRecordNo(), static_cast<int32_t>(c.Addr));
    }
  }
}

TEST_F(SmallTree, LimitedSearchComparesTheLeadingFields) {
  // (50, 0) is not a key, but A = 50 is.
  EXPECT_NE(t.Search(Key(50, 0), stEQ), 0);
  const TSearchModifier first{1, true};
  EXPECT_EQ(t.Search(Key(50, 0), stEQ, &first), 0);
  EXPECT_EQ(t.tree.GetRecAddr(), 5u);
  // Without LimitedSearch the count is ignored.
  const TSearchModifier ignored{1, false};
  EXPECT_NE(t.Search(Key(50, 0), stEQ, &ignored), 0);
  // Markers: before or after every key with A = 50.
  const TComparisonMarkers bof = {fcDefault, fcForceBOF};
  const TComparisonMarkers eof = {fcDefault, fcForceEOF};
  EXPECT_EQ(t.Search(Key(50, 999), stGE, nullptr, &bof), 0);
  EXPECT_EQ(t.tree.GetRecAddr(), 5u);
  EXPECT_EQ(t.Search(Key(50, -999), stLE, nullptr, &eof), 0);
  EXPECT_EQ(t.tree.GetRecAddr(), 5u);
  EXPECT_EQ(t.Search(Key(50, 0), stGT, nullptr, &eof), 0);
  EXPECT_EQ(t.tree.GetRecAddr(), 6u);
}

TEST_F(SmallTree, RecordNumbersAndMoves) {
  ASSERT_TRUE(t.tree.SetCursorToEnd(true));
  EXPECT_EQ(t.tree.GetRecordNo(), 1);
  ASSERT_TRUE(t.tree.SetCursorToEnd(false));
  EXPECT_EQ(t.tree.GetRecordNo(), t.tree.GetRecordCount());
  EXPECT_FALSE(t.tree.NextRecord());
  for (int32_t n = 1; n <= 10; ++n) {
    EXPECT_EQ(t.tree.GetAddrOfRecNo(n), static_cast<uint32_t>(n));
    EXPECT_EQ(t.tree.GetRecordNo(), n);
  }
  EXPECT_EQ(t.tree.GetAddrOfRecNo(11), 0u);
  EXPECT_EQ(t.tree.GetAddrOfRecNo(0), 0u);
  // Forgetting the pages keeps the cursor's place by key.
  t.tree.GetAddrOfRecNo(4);
  t.tree.InvalidateInternalBuffers();
  EXPECT_TRUE(t.tree.NextRecord());
  EXPECT_EQ(t.tree.GetRecAddr(), 5u);
  EXPECT_EQ(t.tree.CurrentKeyAsStrings(), "50; 5");
}

TEST_F(SmallTree, ListsAroundTheCursor) {
  const TSearchModifier first{1, true};
  struct Case {
    int32_t A;
    TIndexSearchType Type;
    std::vector<int32_t> Addrs;
  };
  const std::vector<Case> cases = {
      {30, stEQ, {3}},
      {30, stGE, {3, 4, 5, 6, 7, 8, 9, 10}},
      {30, stGT, {4, 5, 6, 7, 8, 9, 10}},
      {30, stLE, {1, 2, 3}},
      {30, stLT, {1, 2}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(t.Search(Key(c.A, 0), c.Type, &first), 0);
    TCompoundList list;
    t.tree.ListMatchingRecords(t.tree.SearchKey(), 1, c.Type, 0, list);
    std::vector<int32_t> addrs;
    for (int32_t i = 0; i < list.Count(); ++i) {
      addrs.push_back(ListEntryToInt(list.List1().Items(i)));
      EXPECT_EQ(ListEntryToInt(list.List2().Items(i)), addrs.back());  // record numbers
    }
    EXPECT_EQ(addrs, c.Addrs) << c.Type;
  }
  // A stop address ends a forward walk after it.
  ASSERT_EQ(t.Search(Key(30, 0), stGE, &first), 0);
  TCompoundList stopped;
  t.tree.ListMatchingRecords(t.tree.SearchKey(), 1, stGE, 5, stopped);
  EXPECT_EQ(stopped.Count(), 3);

  // Read-ahead: entries of the page around the cursor.
  TReadAheadBuffer buffer;
  buffer.Open(32, t.tree.MaximumKeySize(), 10000);
  t.tree.GetAddrOfRecNo(5);
  EXPECT_EQ(t.tree.ListReadAheadRecords(rdCenter, 4, buffer), 4);
  ASSERT_EQ(buffer.Count(), 4);
  EXPECT_EQ(buffer.Items(0)->RecNo(), 3);
  EXPECT_EQ(buffer.Items(0)->RecAddr(), 3u);
  EXPECT_EQ(buffer.Items(3)->RecAddr(), 6u);
  EXPECT_EQ(t.tree.DecodeKeyBufAsStrings(buffer.Items(2)->KeyBuf()), "50; 5");
  buffer.Invalidate();
  EXPECT_EQ(t.tree.ListReadAheadRecords(rdBackwards, 20, buffer), 5);
  EXPECT_EQ(buffer.Items(0)->RecNo(), 1);
  buffer.Invalidate();
  EXPECT_EQ(t.tree.ListReadAheadRecords(rdForwards, 20, buffer), 6);
  EXPECT_EQ(buffer.Last()->RecNo(), 10);
  // Listing the same records again into the filled buffer is a fault.
  try {
    t.tree.ListReadAheadRecords(rdForwards, 2, buffer);
    ADD_FAILURE() << "no assertion";
  } catch (const plat::EAssertionFailed& e) {
    EXPECT_NE(e.Message().find("address twice"), std::string::npos) << e.Message();
  }

  // The hash gets every key's value of a field.
  TZelBaseHash hash(64, 4, 64);
  t.tree.FillHashTable(hash, 1);
  for (int32_t b = 1; b <= 10; ++b) EXPECT_EQ(hash.ValueOf(&b, 4), b);
}

TEST(BTree, PartialSearchFindsEqualKeysAtTheEndOfThePriorPage) {
  // Many keys with A = 5 spread over several leaves: a search on A alone
  // must land on the very first of them, whatever page it is on.
  Layout l({{"A", plat::ftInteger}}, true);
  Storage s;
  Tree t(l, *s.store, ikFixed, soANSI);
  int32_t recNo = 0;
  for (int32_t a : {3, 5, 7}) {
    for (int32_t i = 0; i < 400; ++i) {
      std::vector<uint8_t> rec = l.NewRecord(++recNo);
      l.SetInt(rec, 0, a);
      t.Insert(rec, static_cast<uint32_t>(recNo));
    }
  }
  ASSERT_EQ(t.depth, 2u);
  std::vector<uint8_t> rec = l.NewRecord(0);
  l.SetInt(rec, 0, 5);
  const TSearchModifier limited{0, true};  // the fields before the hidden one
  for (TIndexSearchType type : {stEQ, stGE, stLEG}) {
    ASSERT_EQ(t.Search(rec, type, &limited), 0);
    EXPECT_EQ(t.tree.GetRecAddr(), 401u) << type;
    EXPECT_EQ(t.tree.GetRecordNo(), 401) << type;
  }
  ASSERT_EQ(t.Search(rec, stLT, &limited), 0);
  EXPECT_EQ(t.tree.GetRecAddr(), 400u);
  ASSERT_EQ(t.Search(rec, stLE, &limited), 0);
  EXPECT_EQ(t.tree.GetRecAddr(), 800u);
  ASSERT_EQ(t.Search(rec, stGT, &limited), 0);
  EXPECT_EQ(t.tree.GetRecAddr(), 801u);
  ASSERT_EQ(t.Search(rec, stEQ, &limited), 0);
  TCompoundList list;
  t.tree.ListMatchingRecords(t.tree.SearchKey(), 1, stEQ, 0, list);
  EXPECT_EQ(list.Count(), 400);
}

TEST(BTree, CorruptPagesAreReportedNotFollowed) {
  Layout l({{"I", plat::ftInteger}}, false);
  Storage s;
  Tree t(l, *s.store, ikFixed, soANSI);
  for (int32_t i = 0; i < 1000; ++i) {
    std::vector<uint8_t> rec = l.NewRecord(i);
    l.SetInt(rec, 0, i);
    t.Insert(rec, static_cast<uint32_t>(i + 1));
  }
  ASSERT_EQ(t.depth, 2u);
  auto report = CheckTree(t, *s.store);
  ASSERT_TRUE(report.Ok()) << report.Report();
  ASSERT_GE(report.Pages.size(), 4u);
  const uint32_t first = report.Pages[1];
  const uint32_t second = report.Pages[2];
  uint8_t header[16];

  // A loop in the sibling links: the second leaf points back at the first.
  s.store->ReadBlockHeader(second, 16, header);
  std::vector<uint8_t> saved(header, header + 16);
  ix::StoreU32(header + ndNext, first);
  s.store->WriteBlockHeader(second, 16, header);
  t.tree.InvalidateInternalBuffers();
  ExpectError(0x2305, "", [&] {
    t.tree.SetCursorToEnd(true);
    for (int32_t i = 0; i < 5000; ++i)
      if (!t.tree.NextRecord()) break;
  });
  s.store->WriteBlockHeader(second, 16, saved.data());

  // A used-bytes field beyond the page.
  s.store->ReadBlockHeader(first, 16, header);
  saved.assign(header, header + 16);
  ix::StoreU32(header + ndUsed, 5000);
  s.store->WriteBlockHeader(first, 16, header);
  t.tree.InvalidateInternalBuffers();
  ExpectError(0x2305, "", [&] { t.tree.SetCursorToEnd(true); });
  // Used bytes that are no whole number of fixed-size keys.
  ix::StoreU32(header + ndUsed, 31);
  s.store->WriteBlockHeader(first, 16, header);
  t.tree.InvalidateInternalBuffers();
  ExpectError(0x2305, "", [&] { t.tree.GetAddrOfRecNo(3); });
  s.store->WriteBlockHeader(first, 16, saved.data());
  t.tree.InvalidateInternalBuffers();
  EXPECT_EQ(t.tree.GetAddrOfRecNo(3), 3u);

  // A stored depth the root does not agree with.
  t.depth = 1;
  t.tree.InvalidateInternalBuffers();
  ExpectError(0x2305, "", [&] { t.tree.GetRecordCount(); });
}

TEST(BTree, VariableKeysHoldLongStringsWhole) {
  // Keys of up to 400 bytes that differ only past byte 255.
  Layout l({{"S", plat::ftString, 401}}, true);
  Storage s;
  Tree t(l, *s.store, ikMinStringLen, soANSI);
  const std::string stem(300, 'k');
  for (int32_t i = 0; i < 60; ++i) {
    std::vector<uint8_t> rec = l.NewRecord(i + 1);
    l.SetString(rec, 0, stem + std::to_string(1000 + (i * 37) % 60));
    t.Insert(rec, static_cast<uint32_t>(i + 1));
  }
  auto report = CheckTree(t, *s.store);
  ASSERT_TRUE(report.Ok()) << report.Report();
  EXPECT_GE(t.depth, 2u);
  std::vector<uint8_t> rec = l.NewRecord(0);
  l.SetString(rec, 0, stem + "1042");
  const TSearchModifier limited{1, true};
  ASSERT_EQ(t.Search(rec, stEQ, &limited), 0);
  EXPECT_EQ(t.tree.GetRecordNo(), 43);
}

// ---------------------------------------------------------------- model test

// A key kind of the randomized test: its layout, how it fills a record from
// a random generator, and the tree's key type and sort order.
struct Kind {
  std::string Name;
  std::vector<FieldDesc> Fields;
  TIndexKeyType KeyType;
  TSortOrder Order;
  int32_t Steps;
  uint32_t MinDepth;
};

// Names the kind in test output instead of dumping its bytes.
void PrintTo(const Kind& K, std::ostream* Out) { *Out << K.Name; }

std::string RandomText(std::mt19937& Rng, int32_t MaxLen, bool MixedCase) {
  static const char upper[] = "ABCDEFGH";
  static const char lower[] = "abcdefgh";
  std::string s;
  const int32_t len = static_cast<int32_t>(Rng() % static_cast<uint32_t>(MaxLen + 1));
  for (int32_t i = 0; i < len; ++i) {
    const uint32_t r = Rng();
    s += (MixedCase && (r & 8) != 0 ? upper : lower)[r % 4];
  }
  return s;
}

void FillRecord(const Kind& K, const Layout& L, std::vector<uint8_t>& Rec, std::mt19937& Rng) {
  for (size_t i = 0; i < K.Fields.size(); ++i) {
    const int32_t f = static_cast<int32_t>(i);
    // Every fifth value of a multi-field key is null.
    if (K.Fields.size() > 2 && Rng() % 5 == 0) continue;
    switch (K.Fields[i].Type) {
      case plat::ftInteger:
        L.SetInt(Rec, f, static_cast<int32_t>(Rng() % 3000) - 1500);
        break;
      case plat::ftSmallint:
        L.SetSmall(Rec, f, static_cast<int16_t>(Rng() % 7));
        break;
      case plat::ftFloat:
        L.SetFloat(Rec, f, static_cast<double>(Rng() % 11) / 4.0 - 1.0);
        break;
      default:
        // Short strings repeat, long ones make the tree deep.
        L.SetString(Rec, f,
                    RandomText(Rng, Rng() % 2 == 0 ? 3 : K.Fields[i].Size - 1,
                               K.Fields[i].CaseInsensitive));
        break;
    }
  }
}

class BTreeModel : public ::testing::TestWithParam<Kind> {};

TEST_P(BTreeModel, AgreesWithAMultisetAtEveryStep) {
  const Kind& kind = GetParam();
  const uint32_t seed =
      20260 + static_cast<uint32_t>(kind.Steps) + static_cast<uint32_t>(kind.Name.size());
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  testsupport::TempDir dir;
  const std::string file = dir.File("model.zel");
  Layout l(kind.Fields, true);
  uint32_t savedRoot = 0;
  uint32_t savedDepth = 0;

  // The model: every entry with its record, ordered by the whole key.
  TKeyFormat format;
  format.Setup(l.keys, 0, 0, kind.KeyType,
               kind.Order == soANSI ? DBANSICompareStrings : DBASCIICompareStrings);
  struct Entry {
    std::vector<uint8_t> Key;
    std::vector<uint8_t> Rec;
    uint32_t Addr;
  };
  // A probe: the search key and how it is compared; Upper puts the entries
  // equal to it on its left.
  struct Probe {
    const uint8_t* Key;
    int32_t FieldCount;
    const TComparisonMarkers* Markers;
    bool Upper;
  };
  struct Less {
    using is_transparent = void;
    const TKeyFormat* F;
    bool operator()(const Entry& A, const Entry& B) const {
      return F->CompareKeys(0, nullptr, nullptr, A.Key.data(), B.Key.data()) < 0;
    }
    bool operator()(const Entry& A, const Probe& P) const {
      const int32_t c = F->CompareKeys(P.FieldCount, P.Markers, nullptr, P.Key, A.Key.data());
      return P.Upper ? c >= 0 : c > 0;
    }
    bool operator()(const Probe& P, const Entry& A) const {
      const int32_t c = F->CompareKeys(P.FieldCount, P.Markers, nullptr, P.Key, A.Key.data());
      return P.Upper ? c < 0 : c <= 0;
    }
  };
  std::multiset<Entry, Less> model(Less{&format});
  // The same entries unordered, to pick one at random cheaply.
  std::vector<std::vector<uint8_t>> records;

  {
    Storage s(file);
    Tree t(l, *s.store, kind.KeyType, kind.Order);
    int32_t nextRecNo = 0;
    const int32_t visible = static_cast<int32_t>(kind.Fields.size());
    uint32_t maxDepth = 0;
    for (int32_t step = 0; step < kind.Steps; ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      // Grow to about 3000 entries, then hover there.
      const bool insert = model.empty() || (model.size() < 3000 ? rng() % 4 != 0 : rng() % 2 == 0);
      if (insert) {
        const int32_t recNo = ++nextRecNo;
        Entry e{{}, l.NewRecord(recNo), 0x100u + static_cast<uint32_t>(recNo) * 4};
        FillRecord(kind, l, e.Rec, rng);
        e.Key.assign(static_cast<size_t>(format.MaximumKeySize()) + 1, 0);
        format.BuildFromRecord(e.Key.data(), e.Rec.data());
        ix::StoreU32(e.Key.data() + keAddress, e.Addr);
        if (rng() % 4 == 0) {
          // Without a search first the tree finds the place itself.
          t.tree.ConstructKeyBufFromRecBuf(e.Rec.data(), nullptr);
          t.tree.SetKeyBufAddr(e.Addr);
          ASSERT_EQ(t.tree.InsertKey(), 0);
        } else {
          t.Insert(e.Rec, e.Addr);
        }
        records.push_back(e.Rec);
        auto it = model.insert(std::move(e));
        ASSERT_EQ(t.tree.GetRecAddr(), it->Addr);
        if (step % 2 == 0) {
          ASSERT_EQ(t.tree.GetRecordNo(), std::distance(model.begin(), it) + 1);
        }
      } else {
        const size_t pick = rng() % records.size();
        std::swap(records[pick], records.back());
        const std::vector<uint8_t> rec = std::move(records.back());
        records.pop_back();
        ASSERT_EQ(t.Search(rec, stEQ), 0);
        Entry probe{
            std::vector<uint8_t>(static_cast<size_t>(format.MaximumKeySize()) + 1, 0), {}, 0};
        format.BuildFromRecord(probe.Key.data(), rec.data());
        auto it = model.find(probe);
        ASSERT_NE(it, model.end());
        ASSERT_EQ(t.tree.GetRecAddr(), it->Addr);
        ASSERT_EQ(t.tree.DeleteKey(), 0);
        model.erase(it);
      }
      ASSERT_EQ(t.tree.GetRecordCount(), static_cast<int32_t>(model.size()));
      maxDepth = std::max(maxDepth, t.depth);

      // Each search type once, with a probe near a stored key or random,
      // on all fields, on the visible ones, on the first one, or with a
      // marker on the hidden part.
      std::vector<uint8_t> probeRec = l.NewRecord(static_cast<int32_t>(rng() % (nextRecNo + 2)));
      if (!records.empty() && rng() % 3 != 0) {
        probeRec = records[rng() % records.size()];
      } else {
        FillRecord(kind, l, probeRec, rng);
      }
      std::vector<uint8_t> probeKey(static_cast<size_t>(format.MaximumKeySize()) + 1, 0);
      format.BuildFromRecord(probeKey.data(), probeRec.data());
      TComparisonMarkers markers;
      TSearchModifier modifier;
      const TSearchModifier* mod = nullptr;
      int32_t fieldCount = 0;
      switch (rng() % 4) {
        case 1:
          modifier = {0, true};
          fieldCount = visible;
          mod = &modifier;
          break;
        case 2:
          modifier = {1, true};
          fieldCount = 1;
          mod = &modifier;
          break;
        case 3:
          markers.assign(static_cast<size_t>(visible) + 1, fcDefault);
          markers.back() = rng() % 2 == 0 ? fcForceBOF : fcForceEOF;
          break;
        default:
          break;
      }
      if (fieldCount >= visible + 1) fieldCount = 0;
      const TComparisonMarkers* mk = markers.empty() ? nullptr : &markers;
      const Probe lower{probeKey.data(), fieldCount, mk, false};
      const Probe upper{probeKey.data(), fieldCount, mk, true};
      const auto L = model.lower_bound(lower);
      const auto U = model.lower_bound(upper);
      // The record number of one search type a step.
      const int32_t checkRecNo = static_cast<int32_t>(rng() % 6);
      for (int32_t type = stLT; type <= stLEG; ++type) {
        auto expected = model.end();
        switch (type) {
          case stEQ:
            if (L != model.end() &&
                format.CompareKeys(fieldCount, mk, nullptr, probeKey.data(), L->Key.data()) == 0)
              expected = L;
            break;
          case stGE:
            expected = L;
            break;
          case stGT:
            expected = U;
            break;
          case stLE:
            if (U != model.begin()) expected = std::prev(U);
            break;
          case stLT:
            if (L != model.begin()) expected = std::prev(L);
            break;
          case stLEG:
            expected =
                L != model.end() ? L : (model.empty() ? model.end() : std::prev(model.end()));
            break;
        }
        const int32_t r = t.Search(probeRec, static_cast<TIndexSearchType>(type), mod, mk);
        ASSERT_EQ(r == 0, expected != model.end()) << "type " << type;
        if (r != 0) continue;
        ASSERT_EQ(t.tree.GetRecAddr(), expected->Addr) << "type " << type;
        if (type == checkRecNo) {
          ASSERT_EQ(t.tree.GetRecordNo(), std::distance(model.begin(), expected) + 1);
        }
      }

      if (step % 2500 == 2499) {
        const auto report = CheckTree(t, *s.store);
        ASSERT_TRUE(report.Ok()) << report.Report();
        ASSERT_EQ(report.Records, model.size());
        // A few record numbers both ways.
        for (int32_t k = 0; k < 5 && !model.empty(); ++k) {
          const int32_t n = static_cast<int32_t>(rng() % model.size());
          ASSERT_EQ(t.tree.GetAddrOfRecNo(n + 1), std::next(model.begin(), n)->Addr);
        }
      }
    }
    EXPECT_GE(maxDepth, kind.MinDepth);
    savedRoot = t.root;
    savedDepth = t.depth;
  }

  // Read back after reopening: the same entries in the same order, walking
  // both ways.
  {
    Storage s(file);
    Tree t(l, *s.store, kind.KeyType, kind.Order, savedRoot, savedDepth);
    ASSERT_EQ(t.tree.GetRecordCount(), static_cast<int32_t>(model.size()));
    auto it = model.begin();
    if (t.tree.SetCursorToEnd(true)) {
      do {
        ASSERT_NE(it, model.end());
        ASSERT_EQ(t.tree.GetRecAddr(), it->Addr);
        ++it;
      } while (t.tree.NextRecord());
    }
    EXPECT_EQ(it, model.end());
    auto back = model.rbegin();
    if (t.tree.SetCursorToEnd(false)) {
      do {
        ASSERT_EQ(t.tree.GetRecAddr(), back->Addr);
        ++back;
      } while (t.tree.PriorRecord());
    }
    EXPECT_EQ(back, model.rend());
  }
  EXPECT_TRUE(testsupport::IndexesAreIntact(file, [&](testsupport::IndexCheck& check) {
    testsupport::IndexTreeDesc desc;
    desc.Name = kind.Name;
    desc.Root = savedRoot;
    desc.Depth = savedDepth;
    desc.Unique = true;
    desc.Compare = [&format](const uint8_t* A, const uint8_t* B) {
      return format.CompareKeys(0, nullptr, nullptr, A, B);
    };
    const auto report = check.CheckTree(desc, kIndexOwner);
    EXPECT_EQ(report.Records, model.size());
    check.CheckNoStrayPages(kIndexOwner);
  }));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BTreeModel,
    ::testing::Values(Kind{"integer", {{"I", plat::ftInteger}}, ikFixed, soANSI, 25000, 2},
                      Kind{"caseinsensitive",
                           {{"S", plat::ftString, 161, true}},
                           ikMinStringLen,
                           soANSI,
                           25000,
                           3},
                      Kind{"descending",
                           {{"D", plat::ftInteger, 0, false, true},
                            {"T", plat::ftString, 41, true, true}},
                           ikMinStringLen,
                           soASCII,
                           25000,
                           2},
                      Kind{"multifield",
                           {{"A", plat::ftSmallint},
                            {"B", plat::ftString, 51},
                            {"C", plat::ftFloat, 0, false, true}},
                           ikFixed,
                           soANSI,
                           25000,
                           3}),
    [](const ::testing::TestParamInfo<Kind>& Info) { return Info.param.Name; });

// Two cursors' trees over one index: what one changes, the other sees in
// full once told to drop its loaded pages, however the pages were cached
// and whatever it had worked out from them before.
// The file's string-key trees (root, depth) are whole, each holds Records
// keys, and no index page lies outside them.
void ExpectTreesIntact(const std::string& File, const Layout& L,
                       const std::vector<std::pair<uint32_t, uint32_t>>& Trees, size_t Records) {
  TKeyFormat format;
  format.Setup(L.keys, 0, 0, ikMinStringLen, DBANSICompareStrings);
  EXPECT_TRUE(testsupport::IndexesAreIntact(File, [&](testsupport::IndexCheck& check) {
    for (const auto& [root, depth] : Trees) {
      testsupport::IndexTreeDesc desc;
      desc.Root = root;
      desc.Depth = depth;
      desc.Unique = true;
      desc.Compare = [&format](const uint8_t* A, const uint8_t* B) {
        return format.CompareKeys(0, nullptr, nullptr, A, B);
      };
      EXPECT_EQ(check.CheckTree(desc, kIndexOwner).Records, Records);
    }
    check.CheckNoStrayPages(kIndexOwner);
  }));
}

// Records 1..1500 with random 59-character keys, inserted into T with the
// record addresses 0x100 + 4 * number.
std::vector<std::vector<uint8_t>> InsertLongTexts(Tree& T, const Layout& L, std::mt19937& Rng) {
  std::vector<std::vector<uint8_t>> records;
  for (int32_t i = 1; i <= 1500; ++i) {
    records.push_back(L.NewRecord(i));
    L.SetString(records.back(), 0, RandomText(Rng, 59, false));
    T.Insert(records.back(), 0x100u + static_cast<uint32_t>(i) * 4);
  }
  return records;
}

TEST(BTree, ASecondTreeSeesTheFirstTreesChanges) {
  testsupport::TempDir dir;
  const std::string file = dir.File("two.zel");
  Layout l({{"S", plat::ftString, 60}}, true);
  std::mt19937 rng(77);
  std::vector<std::pair<uint32_t, uint32_t>> trees;
  {
  Storage s(file);
  for (const bool inTransaction : {false, true}) {
    SCOPED_TRACE(inTransaction ? "in a transaction" : "outside a transaction");
    Tree a(l, *s.store, ikMinStringLen, soANSI);
    if (inTransaction) s.disk->DiskStartTransaction(false);
    std::vector<std::vector<uint8_t>> records = InsertLongTexts(a, l, rng);
    Tree b(l, *s.store, ikMinStringLen, soANSI, a.root, a.depth);
    for (const auto& rec : records) ASSERT_EQ(b.Search(rec, stEQ), 0);
    // The first tree deletes every other key and inserts longer ones, which
    // moves entries on every page.
    for (size_t i = 0; i < records.size(); i += 2) {
      ASSERT_EQ(a.Search(records[i], stEQ), 0);
      ASSERT_EQ(a.tree.DeleteKey(), 0);
    }
    std::vector<std::vector<uint8_t>> added;
    for (int32_t i = 0; i < 500; ++i) {
      added.push_back(l.NewRecord(5000 + i));
      l.SetString(added.back(), 0, std::string(59, static_cast<char>('a' + i % 8)));
      a.Insert(added.back(), 0x40000u + static_cast<uint32_t>(i) * 4);
    }
    b.root = a.root;
    b.depth = a.depth;
    b.tree.InvalidateInternalBuffers();
    for (size_t i = 0; i < records.size(); ++i) {
      const int32_t r = b.Search(records[i], stEQ);
      if (i % 2 == 0) {
        EXPECT_NE(r, 0) << "deleted key " << i << " still found";
      } else {
        ASSERT_EQ(r, 0) << "key " << i;
        EXPECT_EQ(b.tree.GetRecAddr(), 0x100u + static_cast<uint32_t>(i + 1) * 4);
      }
    }
    for (const auto& rec : added) ASSERT_EQ(b.Search(rec, stEQ), 0);
    EXPECT_EQ(b.tree.GetRecordCount(), 750 + 500);
    if (inTransaction) s.disk->DiskCommit();
    trees.emplace_back(a.root, a.depth);
  }
  }
  ExpectTreesIntact(file, l, trees, 1250);
}

TEST(BTree, ASecondTreeKeepsItsPagesOnlyWhileTheyHoldWhatItSaw) {
  // The second tree is not told of the first one's changes: the pages it
  // holds in place must be taken again once changed, while the ones not
  // changed stay as they are, whatever else the cache wrote.
  testsupport::TempDir dir;
  const std::string file = dir.File("kept.zel");
  Layout l({{"S", plat::ftString, 60}}, true);
  std::mt19937 rng(78);
  std::vector<std::pair<uint32_t, uint32_t>> trees;
  {
  Storage s(file);
  for (const bool inTransaction : {false, true}) {
    SCOPED_TRACE(inTransaction ? "in a transaction" : "outside a transaction");
    Tree a(l, *s.store, ikMinStringLen, soANSI);
    if (inTransaction) s.disk->DiskStartTransaction(false);
    std::vector<std::vector<uint8_t>> records = InsertLongTexts(a, l, rng);
    Tree b(l, *s.store, ikMinStringLen, soANSI, a.root, a.depth);
    for (const auto& rec : records) ASSERT_EQ(b.Search(rec, stEQ), 0);
    // Short keys land between the long ones and move the entries after them.
    for (int32_t round = 0; round < 3; ++round) {
      for (int32_t i = 0; i < 40; ++i) {
        records.push_back(l.NewRecord(5000 + round * 100 + i));
        l.SetString(records.back(), 0, RandomText(rng, 3, false));
        a.Insert(records.back(), 0x40000u + static_cast<uint32_t>(round * 100 + i) * 4);
      }
      ASSERT_EQ(a.depth, b.depth);
      for (size_t i = 0; i < records.size(); ++i) {
        ASSERT_EQ(b.Search(records[i], stEQ), 0) << "key " << i;
        EXPECT_EQ(b.tree.GetRecAddr(), i < 1500 ? 0x100u + static_cast<uint32_t>(i + 1) * 4
                                                : 0x40000u + static_cast<uint32_t>((i - 1500) / 40 * 100 +
                                                                                  (i - 1500) % 40) * 4);
      }
    }
    if (inTransaction) s.disk->DiskCommit();
    trees.emplace_back(a.root, a.depth);
  }
  }
  ExpectTreesIntact(file, l, trees, 1620);
}

// ---------------------------------------------------------------- stored bytes

uint64_t FileDigest(const std::string& Name) {
  std::FILE* in = std::fopen(Name.c_str(), "rb");
  if (in == nullptr) return 0;
  uint64_t h = 1469598103934665603ull;
  uint8_t buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0)
    for (size_t i = 0; i < n; ++i) h = (h ^ buf[i]) * 1099511628211ull;
  std::fclose(in);
  return h;
}

// A record whose string key sorts by N ("000042") and trails up to 49 Pad
// characters, so that neighbouring keys have many lengths.
std::vector<uint8_t> NumberedRecord(const Layout& L, int32_t N, char Pad) {
  std::vector<uint8_t> rec = L.NewRecord(N);
  char text[16];
  std::snprintf(text, sizeof text, "%06d", N);
  L.SetString(rec, 0, text + std::string(static_cast<size_t>(N * 7 % 50), Pad));
  return rec;
}

// The file's one index tree is whole, holds Records keys, and no index
// page lies outside it.
void ExpectIndexIntact(const std::string& File, const Layout& L, TIndexKeyType KeyType,
                       uint32_t Root, uint32_t Depth, size_t Records) {
  EXPECT_TRUE(testsupport::IndexesAreIntact(File, [&](testsupport::IndexCheck& check) {
    testsupport::IndexTreeDesc desc;
    desc.Root = Root;
    desc.Depth = Depth;
    desc.Unique = true;
    TKeyFormat format;
    format.Setup(L.keys, 0, 0, KeyType, DBANSICompareStrings);
    desc.Compare = [&format](const uint8_t* A, const uint8_t* B) {
      return format.CompareKeys(0, nullptr, nullptr, A, B);
    };
    EXPECT_EQ(check.CheckTree(desc, kIndexOwner).Records, Records);
    check.CheckNoStrayPages(kIndexOwner);
  }));
}

// A fixed run of inserts and deletes, inside transactions and outside them,
// must leave exactly the bytes it always left: files written by one build
// are read by every other, so changes to how pages are cached, searched or
// written must not show in the file. The digests were taken from the build
// the file format was settled with.
TEST(BTreeFile, AFixedRunLeavesTheSameBytes) {
  struct Case {
    Kind Key;
    uint64_t Digest;
  };
  const Case cases[] = {
      {{"integer", {{"I", plat::ftInteger}}, ikFixed, soANSI, 0, 0}, 4760294779358391094ull},
      {{"string", {{"S", plat::ftString, 161, true}}, ikMinStringLen, soANSI, 0, 0}, 13205739726651378090ull},
      {{"twofields",
        {{"D", plat::ftInteger, 0, false, true}, {"T", plat::ftString, 41, true, true}},
        ikMinStringLen,
        soASCII,
        0,
        0},
       2406882470900060789ull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Key.Name);
    testsupport::TempDir dir;
    const std::string file = dir.File("bytes.zel");
    Layout l(c.Key.Fields, true);
    std::mt19937 rng(4242);
    uint32_t root = 0;
    uint32_t depth = 0;
    int32_t count = 0;
    {
      Storage s(file);
      Tree t(l, *s.store, c.Key.KeyType, c.Key.Order);
      std::vector<std::vector<uint8_t>> records;
      int32_t recNo = 0;
      const auto insert = [&] {
        ++recNo;
        std::vector<uint8_t> rec = l.NewRecord(recNo);
        FillRecord(c.Key, l, rec, rng);
        t.Insert(rec, 0x100u + static_cast<uint32_t>(recNo) * 4);
        records.push_back(std::move(rec));
      };
      const auto remove = [&] {
        const size_t pick = rng() % records.size();
        std::swap(records[pick], records.back());
        ASSERT_EQ(t.Search(records.back(), stEQ), 0);
        ASSERT_EQ(t.tree.DeleteKey(), 0);
        records.pop_back();
      };
      s.disk->DiskStartTransaction(false);
      for (int32_t i = 0; i < 4000; ++i) insert();
      s.disk->DiskCommit();
      // Outside a transaction every change goes to the file at once.
      for (int32_t i = 0; i < 600; ++i) rng() % 2 == 0 ? insert() : remove();
      s.disk->DiskStartTransaction(false);
      for (int32_t i = 0; i < 2500; ++i) remove();
      for (int32_t i = 0; i < 500; ++i) insert();
      s.disk->DiskCommit();
      root = t.root;
      depth = t.depth;
      count = t.tree.GetRecordCount();
      ASSERT_EQ(count, static_cast<int32_t>(records.size()));
    }
    EXPECT_EQ(FileDigest(file), c.Digest) << std::hex << FileDigest(file);
    EXPECT_TRUE(testsupport::IndexesAreIntact(file, [&](testsupport::IndexCheck& check) {
      testsupport::IndexTreeDesc desc;
      desc.Name = c.Key.Name;
      desc.Root = root;
      desc.Depth = depth;
      desc.Unique = true;
      TKeyFormat format;
      format.Setup(l.keys, 0, 0, c.Key.KeyType,
                   c.Key.Order == soANSI ? DBANSICompareStrings : DBASCIICompareStrings);
      desc.Compare = [&format](const uint8_t* A, const uint8_t* B) {
        return format.CompareKeys(0, nullptr, nullptr, A, B);
      };
      EXPECT_EQ(check.CheckTree(desc, kIndexOwner).Records, static_cast<size_t>(count));
      check.CheckNoStrayPages(kIndexOwner);
    }));
  }
}

// Runs of deletes in key order take the quick ways through the tree: a
// search tries the place the cursor was left on, the key leaves a cached
// leaf in place, and a rebalance that moved nothing does not read the
// sibling again while its page is unchanged. Each run must leave exactly
// the bytes of the same deletes made with every buffered page, place and
// sibling forgotten before each step, and whole trees. The runs empty and
// merge leaves, delete the first and last keys of leaves, run in both
// directions, delete every key and delete keys that share a value.
TEST(BTreeFile, DeleteRunsLeaveTheBytesOfDeletesMadeOneByOne) {
  constexpr int32_t kCount = 6000;
  struct Case {
    const char* Name;
    bool Strings;
    bool Shared;
    bool InTransaction;
    int32_t From;
    int32_t To;
    int32_t By;
  };
  const Case cases[] = {
      {"ascending", false, false, true, 2000, 5400, 1},
      {"ascending strings", true, false, true, 2000, 5400, 1},
      {"descending strings", true, false, true, 5400, 2000, -1},
      {"every other key", true, false, false, 1001, 5999, 2},
      {"every key", false, false, false, 1, kCount, 1},
      {"a run of shared values", false, true, true, 1400, 4300, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    // Fixed keys of 118 bytes or strings of up to 60: three levels at
    // this count. Shared values: seven records to a value, told apart by
    // the hidden record number.
    const bool shared = c.Shared;
    std::vector<int32_t> steps;
    for (int32_t n = c.From; c.By > 0 ? n <= c.To : n >= c.To; n += c.By) steps.push_back(n);
    Layout l(c.Strings ? std::vector<FieldDesc>{{"S", plat::ftString, 61}}
                       : std::vector<FieldDesc>{{"I", plat::ftInteger}, {"P", plat::ftString, 101}},
             shared);
    const TIndexKeyType keyType = c.Strings ? ikMinStringLen : ikFixed;
    const auto record = [&](int32_t N) {
      if (c.Strings) return NumberedRecord(l, N, 'x');
      std::vector<uint8_t> rec = l.NewRecord(N);
      l.SetInt(rec, 0, shared ? N / 7 : N);
      l.SetString(rec, 1, "pad");
      return rec;
    };
    const auto address = [](int32_t N) { return 0x100u + static_cast<uint32_t>(N) * 4; };
    testsupport::TempDir dir;
    uint64_t digests[2] = {};
    uint32_t root = 0;
    uint32_t depth = 0;
    for (const bool oneByOne : {false, true}) {
      SCOPED_TRACE(oneByOne ? "one by one" : "as a run");
      const std::string file = dir.File(oneByOne ? "one.zel" : "run.zel");
      {
        Storage s(file);
        Tree t(l, *s.store, keyType, soANSI);
        s.disk->DiskStartTransaction(false);
        for (int32_t n = 1; n <= kCount; ++n) t.Insert(record(n), address(n));
        s.disk->DiskCommit();
        ASSERT_EQ(t.depth, 3u);
        if (c.InTransaction) s.disk->DiskStartTransaction(false);
        for (const int32_t n : steps) {
          if (oneByOne) t.tree.InvalidateInternalBuffers();
          ASSERT_EQ(t.Search(record(n), stEQ), 0) << n;
          ASSERT_EQ(t.tree.GetRecAddr(), address(n));
          ASSERT_EQ(t.tree.DeleteKey(), 0) << n;
        }
        if (c.InTransaction) s.disk->DiskCommit();
        root = t.root;
        depth = t.depth;
        // What is left is found where it was, what went is not found.
        const std::set<int32_t> gone(steps.begin(), steps.end());
        Tree check(l, *s.store, keyType, soANSI, root, depth);
        EXPECT_EQ(check.tree.GetRecordCount(), kCount - static_cast<int32_t>(gone.size()));
        for (int32_t n = 1; n <= kCount; ++n) {
          const int32_t r = check.Search(record(n), stEQ);
          if (gone.count(n) != 0) {
            EXPECT_NE(r, 0) << n;
          } else {
            ASSERT_EQ(r, 0) << n;
            EXPECT_EQ(check.tree.GetRecAddr(), address(n));
          }
        }
      }
      digests[oneByOne ? 1 : 0] = FileDigest(file);
      ExpectIndexIntact(file, l, keyType, root, depth, kCount - steps.size());
    }
    EXPECT_EQ(digests[0], digests[1]);
  }
}

// A search right after a delete starts from the leaf the delete left; when
// the key lies beyond that leaf (the run crossed into the next one, or a
// rebalance moved its keys into the prior one) the neighbouring leaf
// decides without a descent. Each such search must land where a descent
// from the root lands: same answer, same record number (the whole path),
// same record. Runs in both directions over every other key, probing the
// next key present and the absent key before it, across leaves that empty,
// merge and take keys from either side.
TEST(BTreeFile, SearchesAfterADeleteLandWhereADescentDoes) {
  constexpr int32_t kCount = 12000;
  struct Case {
    const char* Name;
    int32_t From;
    int32_t To;
    int32_t By;
  };
  const Case cases[] = {
      {"ascending", 2000, 10000, 2},
      {"descending", 10000, 2000, -2},
  };
  Layout l({{"S", plat::ftString, 61}}, false);
  const auto record = [&](int32_t N) { return NumberedRecord(l, N, 'x'); };
  const auto address = [](int32_t N) { return 0x100u + static_cast<uint32_t>(N) * 4; };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    testsupport::TempDir dir;
    const std::string file = dir.File("probe.zel");
    uint32_t root = 0;
    uint32_t depth = 0;
    size_t left = 0;
    {
      Storage s(file);
      Tree t(l, *s.store, ikMinStringLen, soANSI);
      s.disk->DiskStartTransaction(false);
      // Even numbers only: the odd ones are the absent keys between them.
      for (int32_t n = 2; n <= kCount; n += 2) t.Insert(record(n), address(n));
      ASSERT_EQ(t.depth, 3u);
      left = kCount / 2;
      struct Landing {
        int32_t Result;
        int32_t RecNo;
        uint32_t Addr;
      };
      const auto land = [&](int32_t N, TIndexSearchType Type) {
        const int32_t r = t.Search(record(N), Type);
        return Landing{r, t.tree.GetRecordNo(), t.tree.Positioned() ? t.tree.GetRecAddr() : 0};
      };
      for (int32_t n = c.From; c.By > 0 ? n <= c.To : n >= c.To; n += c.By) {
        ASSERT_EQ(t.Search(record(n), stEQ), 0) << n;
        ASSERT_EQ(t.tree.GetRecAddr(), address(n));
        ASSERT_EQ(t.tree.DeleteKey(), 0) << n;
        --left;
        // The probe alternates, so each kind follows a delete in turn.
        const int32_t probe = n % 4 == 0 ? n + c.By : n + c.By / 2;
        const TIndexSearchType type = probe % 2 == 0 ? stEQ : stGE;
        const Landing kept = land(probe, type);
        t.tree.InvalidateInternalBuffers();
        const Landing descent = land(probe, type);
        ASSERT_EQ(kept.Result, descent.Result) << n << " probe " << probe;
        ASSERT_EQ(kept.RecNo, descent.RecNo) << n << " probe " << probe;
        ASSERT_EQ(kept.Addr, descent.Addr) << n << " probe " << probe;
      }
      s.disk->DiskCommit();
      root = t.root;
      depth = t.depth;
      EXPECT_EQ(t.tree.GetRecordCount(), static_cast<int32_t>(left));
    }
    ExpectIndexIntact(file, l, ikMinStringLen, root, depth, left);
  }
}

// Deletes that lengthen the entries above a leaf. The pages are loaded as
// full as they go, each leaf starting with a short key and going on with
// long ones, so the pages above hold short entries only and are nearly
// full. A leaf's first key deleted when that leaves the leaf too empty takes
// keys from its right sibling: both entries above take long keys at once,
// past the room of the page above, which must split rather than overflow.
// Later batches replace the first keys of leaves, and merge and
// redistribute pages on every level in both directions; after each batch
// the tree is whole and holds the model's keys, in order.
TEST(BTreeFile, DeletesThatLengthenTheEntriesAboveSplitThePagesAbove) {
  Layout l({{"S", plat::ftString, 401}}, false);
  std::vector<bool> longKey;
  const auto record = [&](int32_t N) {
    std::vector<uint8_t> rec = l.NewRecord(N);
    char text[16];
    std::snprintf(text, sizeof text, "%06d", N);
    l.SetString(rec, 0, text + std::string(longKey[static_cast<size_t>(N)] ? 370 : 0, 'x'));
    return rec;
  };
  const auto address = [](int32_t N) { return 0x100u + static_cast<uint32_t>(N) * 4; };
  testsupport::TempDir dir;
  const std::string file = dir.File("lengthen.zel");
  std::set<int32_t> alive;
  uint32_t root = 0;
  uint32_t depth = 0;
  {
    Storage s(file);
    Tree t(l, *s.store, ikMinStringLen, soANSI);
    const TKeyFormat& format = t.tree.Format();
    std::vector<uint8_t> scratch(static_cast<size_t>(t.tree.MaximumKeySize()));
    const auto keyLength = [&](int32_t N) {
      return format.BuildFromRecord(scratch.data(), record(N).data());
    };
    // Key 0 short and key 1 long, only to measure them.
    longKey = {false, true};
    const int32_t shortLen = keyLength(0);
    const int32_t longLen = keyLength(1);
    // The loader starts a page where the next entry would reach this room
    // (the page would count as full); the leaves are laid out by the same
    // rule: a short key, long keys, short keys up to the room. Two and a
    // half pages above the leaves take their short first keys, under a root.
    const int32_t room = static_cast<int32_t>(kPage) - NodeHeaderSize - t.tree.MaximumKeySize();
    int32_t perUpper = 1;
    for (int32_t used = shortLen; used + shortLen < room; used += shortLen) ++perUpper;
    longKey.clear();
    std::vector<std::vector<int32_t>> leaves;
    while (leaves.size() < static_cast<size_t>(2 * perUpper + perUpper / 2)) {
      std::vector<int32_t>& leaf = leaves.emplace_back();
      int32_t used = 0;
      const auto add = [&](bool Long) {
        leaf.push_back(static_cast<int32_t>(longKey.size()));
        longKey.push_back(Long);
        used += Long ? longLen : shortLen;
      };
      add(false);
      while (used + longLen + shortLen < room) add(true);
      while (used + shortLen < room) add(false);
    }
    const int32_t count = static_cast<int32_t>(longKey.size());
    std::vector<uint8_t> bytes;
    std::vector<size_t> offsets;
    for (int32_t n = 0; n < count; ++n) {
      offsets.push_back(bytes.size());
      bytes.resize(bytes.size() + scratch.size());
      const int32_t len = format.BuildFromRecord(bytes.data() + offsets.back(), record(n).data());
      bytes.resize(offsets.back() + static_cast<size_t>(len));
      ix::StoreU32(bytes.data() + offsets.back() + keAddress, address(n));
      alive.insert(n);
    }
    std::vector<const uint8_t*> keys;
    for (const size_t at : offsets) keys.push_back(bytes.data() + at);
    s.disk->DiskStartTransaction(false);
    t.tree.LoadSortedKeys(keys);
    s.disk->DiskCommit();
    ASSERT_EQ(t.depth, 3u);

    // The first leaf under a page above: its keys go, the longest first,
    // while it stays at least half full, then its short first key empties
    // it below half; the key after the first stays, so the leaf's new first
    // key is long.
    const auto emptyingFirstKeyLast = [&](const std::vector<int32_t>& Leaf) {
      int32_t used = 0;
      for (const int32_t n : Leaf) used += keyLength(n);
      std::vector<int32_t> rest(Leaf.begin() + 2, Leaf.end());
      std::stable_sort(rest.begin(), rest.end(),
                       [&](int32_t A, int32_t B) { return keyLength(A) > keyLength(B); });
      std::vector<int32_t> batch;
      for (const int32_t n : rest) {
        if (used - keyLength(n) + NodeHeaderSize < static_cast<int32_t>(kPage) / 2) continue;
        batch.push_back(n);
        used -= keyLength(n);
      }
      EXPECT_LT(used - shortLen + NodeHeaderSize, static_cast<int32_t>(kPage) / 2);
      batch.push_back(Leaf.front());
      return batch;
    };
    std::mt19937 rng(5151);
    struct Batch {
      const char* Name;
      bool InTransaction;
      // Pages the batch adds to the tree; -1: not pinned.
      int32_t PagesAdded;
      std::function<std::vector<int32_t>()> Keys;
    };
    const Batch batches[] = {
        {"first keys that empty their leaves", true, 2,
         [&] {
           std::vector<int32_t> keys = emptyingFirstKeyLast(leaves[0]);
           const std::vector<int32_t> more = emptyingFirstKeyLast(leaves[static_cast<size_t>(perUpper)]);
           keys.insert(keys.end(), more.begin(), more.end());
           return keys;
         }},
        {"the first keys of leaves", false, -1,
         [&] {
           std::vector<int32_t> keys;
           for (size_t i = static_cast<size_t>(perUpper) + 2; i < leaves.size(); ++i)
             keys.push_back(leaves[i].front());
           return keys;
         }},
        {"all but the last key of every other leaf, backwards", true, -1,
         [&] {
           std::vector<int32_t> keys;
           for (size_t i = leaves.size() - 1; i >= 2; i -= 2)
             for (size_t k = leaves[i].size() - 1; k-- > 0;)
               if (alive.count(leaves[i][k]) != 0) keys.push_back(leaves[i][k]);
           return keys;
         }},
        {"a random half of the rest", false, -1,
         [&] {
           std::vector<int32_t> keys;
           for (const int32_t n : alive)
             if (rng() % 2 == 0) keys.push_back(n);
           std::shuffle(keys.begin(), keys.end(), rng);
           return keys;
         }},
        {"all but every four hundredth key, backwards", true, -1,
         [&] {
           std::vector<int32_t> keys;
           for (auto it = alive.rbegin(); it != alive.rend(); ++it)
             if (*it % 400 != 0) keys.push_back(*it);
           return keys;
         }},
    };
    size_t pages = CheckTree(t, *s.store).Pages.size();
    for (const Batch& b : batches) {
      SCOPED_TRACE(b.Name);
      const std::vector<int32_t> keys = b.Keys();
      ASSERT_FALSE(keys.empty());
      if (b.InTransaction) s.disk->DiskStartTransaction(false);
      for (const int32_t n : keys) {
        ASSERT_EQ(t.Search(record(n), stEQ), 0) << n;
        ASSERT_EQ(t.tree.GetRecAddr(), address(n)) << n;
        ASSERT_EQ(t.tree.DeleteKey(), 0) << n;
        alive.erase(n);
      }
      if (b.InTransaction) s.disk->DiskCommit();
      const auto report = CheckTree(t, *s.store);
      ASSERT_TRUE(report.Ok()) << report.Report();
      if (b.PagesAdded >= 0) {
        EXPECT_EQ(report.Pages.size(), pages + static_cast<size_t>(b.PagesAdded));
      }
      pages = report.Pages.size();
      std::vector<uint32_t> expected;
      for (const int32_t n : alive) expected.push_back(address(n));
      std::vector<uint32_t> inLeaves;
      for (const std::vector<uint8_t>& entry : report.LeafEntries)
        inLeaves.push_back(ix::LoadU32(entry.data() + keAddress));
      EXPECT_EQ(inLeaves, expected);
      std::vector<uint32_t> walked;
      for (bool more = t.tree.SetCursorToEnd(true); more; more = t.tree.NextRecord())
        walked.push_back(t.tree.GetRecAddr());
      EXPECT_EQ(walked, expected);
      EXPECT_EQ(t.tree.GetRecordCount(true), static_cast<int32_t>(alive.size()));
    }
    EXPECT_LT(t.depth, 3u);
    root = t.root;
    depth = t.depth;
  }
  ExpectIndexIntact(file, l, ikMinStringLen, root, depth, alive.size());
}

// A run of deletes or inserts rolled back leaves the file as it was and the
// tree whole for a tree read anew; the same run made again and kept leaves
// the bytes of a run made without the detour. Both runs change leaves the
// transaction changed already in the cached pages themselves.
TEST(BTreeFile, ARolledBackRunLeavesTheFileAsItWas) {
  constexpr int32_t kCount = 4000;
  struct Case {
    const char* Name;
    bool Inserting;
    int32_t After;
  };
  // The inserts put back every other key of 500..3900, left out at first.
  const auto inRun = [](int32_t N) { return N >= 500 && N <= 3900 && N % 2 == 1; };
  const Case cases[] = {{"deletes", false, kCount - 3401}, {"inserts", true, kCount}};
  Layout l({{"S", plat::ftString, 61}}, false);
  const auto record = [&](int32_t N) { return NumberedRecord(l, N, 'y'); };
  const auto address = [](int32_t N) { return 0x100u + static_cast<uint32_t>(N) * 4; };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    testsupport::TempDir dir;
    uint64_t digests[2] = {};
    uint32_t root = 0;
    uint32_t depth = 0;
    const int32_t before = c.Inserting ? kCount - 1700 : kCount;
    for (const bool detour : {false, true}) {
      SCOPED_TRACE(detour ? "after a rollback" : "straight");
      const std::string file = dir.File(detour ? "detour.zel" : "straight.zel");
      {
        Storage s(file);
        Tree t(l, *s.store, ikMinStringLen, soANSI);
        s.disk->DiskStartTransaction(false);
        for (int32_t n = 1; n <= kCount; ++n)
          if (!c.Inserting || !inRun(n)) t.Insert(record(n), address(n));
        s.disk->DiskCommit();
        const uint32_t keptRoot = t.root;
        const uint32_t keptDepth = t.depth;
        const auto run = [&] {
          s.disk->DiskStartTransaction(false);
          for (int32_t n = 500; n <= 3900; ++n) {
            if (c.Inserting) {
              if (inRun(n)) t.Insert(record(n), address(n));
              continue;
            }
            ASSERT_EQ(t.Search(record(n), stEQ), 0) << n;
            ASSERT_EQ(t.tree.DeleteKey(), 0) << n;
          }
        };
        if (detour) {
          const uint64_t digest = FileDigest(file);
          run();
          s.disk->DiskRollback();
          EXPECT_EQ(FileDigest(file), digest);
          // The table header is read again after a rollback: root, depth
          // and the buffered pages go back to what the file holds.
          t.root = keptRoot;
          t.depth = keptDepth;
          t.tree.InvalidateInternalBuffers();
          Tree fresh(l, *s.store, ikMinStringLen, soANSI, t.root, t.depth);
          EXPECT_EQ(fresh.tree.GetRecordCount(), before);
          for (int32_t n = 1; n <= kCount; ++n) {
            if (c.Inserting && inRun(n)) {
              EXPECT_NE(fresh.Search(record(n), stEQ), 0) << n;
              continue;
            }
            ASSERT_EQ(fresh.Search(record(n), stEQ), 0) << n;
            EXPECT_EQ(fresh.tree.GetRecAddr(), address(n));
          }
        }
        run();
        s.disk->DiskCommit();
        EXPECT_EQ(t.tree.GetRecordCount(), c.After);
        root = t.root;
        depth = t.depth;
      }
      digests[detour ? 1 : 0] = FileDigest(file);
      ExpectIndexIntact(file, l, ikMinStringLen, root, depth, static_cast<size_t>(c.After));
    }
    EXPECT_EQ(digests[0], digests[1]);
  }
}

// Index pages of an enciphered store are read and changed in the page cache
// itself: the cache holds them in plain, and only its write to the file
// enciphers, so after inserts and deletes inside and outside transactions
// no key may lie in the file in plain, and the tree reads back whole.
TEST(BTreeFile, EncipheredPagesChangedInPlaceNeverReachTheFileInPlain) {
  testsupport::TempDir dir;
  const std::string file = dir.File("enciphered.zel");
  Layout l({{"S", plat::ftString, 41}}, true);
  const auto record = [&](int32_t RecNo) {
    std::vector<uint8_t> rec = l.NewRecord(RecNo);
    l.SetString(rec, 0, "plainkey" + std::to_string(RecNo * 7919 % 100003));
    return rec;
  };
  uint32_t root = 0;
  uint32_t depth = 0;
  std::set<int32_t> kept;
  {
    Storage s(file);
    s.disk->SetCryptKey("");
    s.store->SetAccessFlags(1 | 4);
    Tree t(l, *s.store, ikMinStringLen, soANSI);
    s.disk->DiskStartTransaction(false);
    for (int32_t n = 1; n <= 3000; ++n) {
      t.Insert(record(n), 0x100u + static_cast<uint32_t>(n) * 4);
      kept.insert(n);
    }
    s.disk->DiskCommit();
    // Outside a transaction every change goes to the file at once.
    for (int32_t n = 1; n <= 400; n += 2) {
      ASSERT_EQ(t.Search(record(n), stEQ), 0);
      ASSERT_EQ(t.tree.DeleteKey(), 0);
      kept.erase(n);
      t.Insert(record(3000 + n), 0x100u + static_cast<uint32_t>(3000 + n) * 4);
      kept.insert(3000 + n);
    }
    root = t.root;
    depth = t.depth;
    ASSERT_GE(depth, 2u);
  }
  std::string bytes;
  {
    std::FILE* in = std::fopen(file.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) bytes.append(buf, n);
    std::fclose(in);
  }
  EXPECT_EQ(bytes.find("plainkey"), std::string::npos);
  {
    Storage s(file);
    s.disk->SetCryptKey("");
    s.store->SetAccessFlags(1 | 4);
    Tree t(l, *s.store, ikMinStringLen, soANSI, root, depth);
    EXPECT_EQ(t.tree.GetRecordCount(), static_cast<int32_t>(kept.size()));
    for (const int32_t n : kept) {
      ASSERT_EQ(t.Search(record(n), stEQ), 0) << n;
      EXPECT_EQ(t.tree.GetRecAddr(), 0x100u + static_cast<uint32_t>(n) * 4);
    }
  }
  // The map and the pages' owners; the enciphered pages themselves are not
  // read by the checker.
  EXPECT_TRUE(testsupport::StoresAreIntact(file, [](testsupport::StoreCheck&) {}, {}, {kTable}));
}

}  // namespace
}  // namespace zel
