#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelCrypt.h"
#include "engine/storage/zelDataTestSupport.h"
#include "engine/storage/zelDataUnit.h"
#include "engine/storage/zelDisk.h"
#include "platform/os/Files.h"
#include "support/IntegrityCheckStores.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using testdata::BuildLayout;
using testdata::ExpectError;
using testdata::MakeRecord;
using testdata::StorableTypes;

constexpr uint32_t kPage = 4096;
const std::string kKey = "record-key";

// A database file as the database component lays it out: the two header
// stores and the two table maps.
struct Db {
  explicit Db(const std::string& Name) {
    storagetest::OpenDatabaseFile(mgr, Name, kPage, kKey);
    for (auto* store : {&systemHeaders, &userHeaders}) {
      store->SetDiskMgr(&mgr);
      store->SetBlockSize(TableHeaderBlockSize);
      store->SetAccessFlags(0);
      store->SetTableID(0);
      store->SetUsage(iuTableHeaders);
      store->SetIOMode(iomDiskFixedSize);
      store->SetFirstEmptyValid(false);
    }
    systemHeaders.SetGlobalFirstEmptyOffset(32);
    userHeaders.SetGlobalFirstEmptyOffset(28);
    systemHeaders.Open();
    userHeaders.Open();
    systemTables.SetBaseAddress(kPage);
    systemTables.SetBaseTableID(1024);
    systemTables.Open(&systemHeaders);
    userTables.SetBaseAddress(3 * kPage);
    userTables.SetBaseTableID(1);
    userTables.Open(&userHeaders);
  }
  ~Db() {
    userTables.Close();
    systemTables.Close();
  }

  std::unique_ptr<TDiskIOInterface> Store(uint16_t TableID, uint16_t Usage, uint32_t BlockSize,
                                          uint32_t Flags, uint32_t FirstEmpty) {
    auto store = std::make_unique<TDiskIOInterface>();
    store->SetDiskMgr(&mgr);
    store->SetTableID(TableID);
    store->SetUsage(Usage);
    store->SetBlockSize(BlockSize);
    store->SetAccessFlags(Flags);
    store->SetFirstEmpty(FirstEmpty);
    store->SetFirstEmptyValid(true);
    store->Open();
    return store;
  }

  TDiskMgr mgr;
  TDiskIOInterface systemHeaders;
  TDiskIOInterface userHeaders;
  TTableHeaderMgr systemTables;
  TTableHeaderMgr userTables;
};

testsupport::StoreCheck::PageDecoder Decoder(uint32_t Flags) {
  return [Flags](uint32_t TableID, uint8_t* Page, int32_t Size) {
    storagetest::DecryptPage((Flags & 2) != 0, kKey, TableID, Page, Size);
  };
}

class RecordsOnDisk : public ::testing::TestWithParam<uint32_t> {};

TEST_P(RecordsOnDisk, EveryFieldTypeRoundTripsAcrossReopen) {
  const uint32_t flags = GetParam();
  testsupport::TempDir dir;
  const std::string name = dir.File("records.zel");
  std::map<uint32_t, std::vector<uint8_t>> expected;
  uint32_t tableID = 0;
  int32_t recordSize = 0;
  {
    Db db(name);
    tableID = db.userTables.AddTable(0);
    EXPECT_EQ(tableID, 1u) << "the first user table";
    TTableHeader* header = db.userTables.OpenTable(tableID);
    TRecordMgr records;
    BuildLayout(records.InternalFields(), StorableTypes());
    recordSize = records.InternalFields().RecordSize();
    auto store = db.Store(static_cast<uint16_t>(tableID), iuRecords,
                          static_cast<uint32_t>(recordSize), flags, header->GetRecordFirstEmpty());
    records.SetRecordSize(recordSize);
    records.Open(store.get());
    std::vector<uint32_t> addrs;
    for (uint32_t seed = 1; seed <= 30; ++seed) {
      const std::vector<uint8_t> rec = MakeRecord(records.InternalFields(), seed);
      const uint32_t addr = records.AddRecord(rec.data());
      ASSERT_NE(addr, 0u);
      ASSERT_EQ(expected.count(addr), 0u);
      expected[addr] = rec;
      addrs.push_back(addr);
    }
    for (size_t i = 0; i < addrs.size(); i += 3) {
      expected[addrs[i]] = MakeRecord(records.InternalFields(), 1000 + static_cast<uint32_t>(i));
      records.UpdateRecord(addrs[i], expected[addrs[i]].data());
    }
    for (size_t i = 1; i < addrs.size(); i += 5) {
      records.DeleteRecord(addrs[i]);
      expected.erase(addrs[i]);
    }
    // A freed record block is the next one used.
    const std::vector<uint8_t> again = MakeRecord(records.InternalFields(), 77);
    const uint32_t reused = records.AddRecord(again.data());
    EXPECT_EQ(reused, addrs[26]);
    expected[reused] = again;
    header->SetRecordFirstEmpty(store->FirstEmpty());
    header->SetLogicalRecordNo(31);
    db.userTables.CloseTable(header);
  }
  std::set<uint32_t> live;
  uint32_t firstEmpty = 0;
  {
    Db db(name);
    TTableHeader* header = db.userTables.OpenTable(tableID);
    EXPECT_EQ(header->GetLogicalRecordNo(), 31);
    firstEmpty = header->GetRecordFirstEmpty();
    auto store = db.Store(static_cast<uint16_t>(tableID), iuRecords,
                          static_cast<uint32_t>(recordSize), flags, firstEmpty);
    TRecordMgr records;
    BuildLayout(records.InternalFields(), StorableTypes());
    records.SetRecordSize(recordSize);
    records.Open(store.get());
    std::vector<uint8_t> buf(static_cast<size_t>(recordSize));
    for (const auto& [addr, rec] : expected) {
      records.ReadRecord(addr, buf.data(), true);
      EXPECT_EQ(buf, rec) << addr;
      live.insert(addr);
    }
    db.userTables.CloseTable(header);
  }
  const uint16_t code = static_cast<uint16_t>((tableID << 4) | iuRecords);
  const auto checks = [&](testsupport::StoreCheck& s) {
    s.CheckStore("records", code, static_cast<uint32_t>(recordSize), firstEmpty, live);
    for (const auto& [addr, rec] : expected)
      EXPECT_EQ(std::memcmp(s.At(addr), rec.data(), rec.size()), 0) << "stored bytes at " << addr;
  };
  if (flags == 1) {
    EXPECT_TRUE(testsupport::StoresAreIntact(name, checks));
  } else {
    EXPECT_TRUE(testsupport::StoresAreIntact(name, checks, Decoder(flags), {tableID}));
  }
}

INSTANTIATE_TEST_SUITE_P(AllProtections, RecordsOnDisk, ::testing::Values(1u, 3u, 5u));

TEST(TableHeadersOnDisk, IdsMapsAndHeadersSurviveReopen) {
  testsupport::TempDir dir;
  const std::string name = dir.File("tables.zel");
  {
    Db db(name);
    EXPECT_EQ(db.systemTables.AddTable(3), 1024u);
    EXPECT_EQ(db.systemTables.AddTable(0), 1025u);
    for (uint32_t id = 1; id <= 20; ++id)
      EXPECT_EQ(db.userTables.AddTable(static_cast<int32_t>(id % 5)), id);
    db.userTables.DeleteTable(7);
    db.userTables.DeleteTable(3);
    EXPECT_EQ(db.userTables.AddTable(1), 3u);
    TTableHeader* header = db.userTables.OpenTable(12);
    EXPECT_EQ(header->GetIndexCount(), 2);
    header->SetIndexRoot(0, 0x12345000);
    header->SetIndexDepth(0, 2);
    header->SetIndexRoot(1, 0x6000);
    header->SetIndexDepth(1, 4);
    header->SetRecordAutoIncVal(500);
    header->SetGenerator1(-7);
    db.userTables.CloseTable(header);
    ExpectError(0x250F, "34", [&] { db.userTables.AddTable(35); });
  }
  {
    Db db(name);
    TTableHeader* header = db.userTables.OpenTable(12);
    EXPECT_EQ(header->GetIndexRoot(0), 0x12345000u);
    EXPECT_EQ(header->GetIndexDepth(1), 4);
    EXPECT_EQ(header->GetRecordAutoIncVal(), 500);
    EXPECT_EQ(header->GetGenerator1(), -7);
    EXPECT_EQ(header->GetModifiedFlag(), 2u);
    db.userTables.CloseTable(header);
    // The id freed by 7 comes back, then the ids above the highest.
    EXPECT_EQ(db.userTables.AddTable(0), 7u);
    EXPECT_EQ(db.userTables.AddTable(0), 21u);
    db.systemTables.DeleteTable(1024);
    EXPECT_EQ(db.systemTables.AddTable(0), 1024u);
  }
  EXPECT_TRUE(testsupport::StoresAreIntact(name, [](testsupport::StoreCheck& s) {
    std::vector<uint32_t> ids;
    for (const auto& [id, addr] : s.MapEntries()) ids.push_back(id);
    const std::vector<uint32_t> expected = {1,  2,  4,  5,  6,  8,  9,  10, 11, 12, 13,
                                            14, 15, 16, 17, 18, 19, 20, 3,  7,  21};
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(s.MapEntries(true).size(), 2u);
  }));
}

TEST(TableHeadersOnDisk, AnotherConnectionsWriteDropsCachedPages) {
  testsupport::TempDir dir;
  const std::string name = dir.File("shared.zel");
  Db a(name);
  const uint32_t id = a.userTables.AddTable(0);
  TTableHeader* headerA = a.userTables.OpenTable(id);
  auto storeA = a.Store(static_cast<uint16_t>(id), iuRecords, 64, 1, 0);
  const std::vector<uint8_t> first(64, 0x11);
  const uint32_t addr = storeA->AllocateNewAddress(64, first.data());
  headerA->SetRecordFirstEmpty(storeA->FirstEmpty());
  headerA->WriteHeader();

  Db b(name);
  TTableHeader* headerB = b.userTables.OpenTable(id);
  auto storeB =
      b.Store(static_cast<uint16_t>(id), iuRecords, 64, 1, headerB->GetRecordFirstEmpty());
  const std::vector<uint8_t> second(64, 0x22);
  storeB->WriteBlock(addr, 64, second.data());
  headerB->WriteHeader();

  std::vector<uint8_t> buf(64);
  storeA->ReadBlock(addr, 64, buf.data());
  EXPECT_EQ(buf, first) << "A still reads its cached page";
  headerA->ReadHeader();
  storeA->ReadBlock(addr, 64, buf.data());
  EXPECT_EQ(buf, second) << "the changed counter made A drop the table's pages";
  b.userTables.CloseTable(headerB);
  a.userTables.CloseTable(headerA);
  a.userTables.Close();
  b.userTables.Close();
  a.mgr.Close();
  b.mgr.Close();
  EXPECT_TRUE(testsupport::StoresAreIntact(name, [&](testsupport::StoreCheck& s) {
    s.CheckStore("records", static_cast<uint16_t>((id << 4) | iuRecords), 64, storeA->FirstEmpty(),
                 {addr});
  }));
}

}  // namespace
}  // namespace zel
