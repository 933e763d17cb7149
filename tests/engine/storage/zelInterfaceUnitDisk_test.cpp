#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelCrypt.h"
#include "engine/storage/zelDataTestSupport.h"
#include "engine/storage/zelDisk.h"
#include "engine/storage/zelInterfaceUnit.h"
#include "platform/os/Files.h"
#include "support/IntegrityCheckStores.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using testdata::ExpectError;

constexpr uint32_t kPage = 4096;
constexpr uint16_t kTable = 5;
const std::string kKey = "secret-key";

using storagetest::U32;

// The access flags of the three encryption levels.
struct Protection {
  const char* Name;
  uint32_t Flags;
};
const std::vector<Protection> kProtections = {{"plain", 1}, {"xor", 3}, {"blowfish", 5}};

// Decrypts the pages of encrypted tables for the integrity checker.
testsupport::StoreCheck::PageDecoder Decoder(uint32_t Flags) {
  return [Flags](uint32_t TableID, uint8_t* Page, int32_t Size) {
    storagetest::DecryptPage((Flags & 2) != 0, kKey, TableID, Page, Size);
  };
}

::testing::AssertionResult Intact(
    const std::string& Name, uint32_t Flags,
    const std::function<void(testsupport::StoreCheck&)>& Checks = {}) {
  if (Flags == 1) return testsupport::StoresAreIntact(Name, Checks);
  return testsupport::StoresAreIntact(Name, Checks, Decoder(Flags), {kTable});
}

// An open database file with the engine's page size.
struct Db {
  explicit Db(const std::string& Name) { storagetest::OpenDatabaseFile(mgr, Name, kPage, kKey); }
  // A table store; a non-global one starts with FirstEmpty (valid).
  std::unique_ptr<TDiskIOInterface> Store(uint16_t Usage, uint32_t BlockSize, uint32_t Flags,
                                          uint32_t FirstEmpty = 0, int32_t GlobalOffset = 0,
                                          uint16_t TableID = kTable) {
    auto store = std::make_unique<TDiskIOInterface>();
    store->SetDiskMgr(&mgr);
    store->SetTableID(TableID);
    store->SetUsage(Usage);
    store->SetBlockSize(BlockSize);
    store->SetAccessFlags(Flags);
    store->SetGlobalFirstEmptyOffset(GlobalOffset);
    if (GlobalOffset == 0) {
      store->SetFirstEmpty(FirstEmpty);
      store->SetFirstEmptyValid(true);
    }
    store->Open();
    return store;
  }

  TDiskMgr mgr;
};

std::vector<uint8_t> Block(uint32_t Size, uint32_t Seed) {
  std::vector<uint8_t> data(Size);
  for (uint32_t i = 0; i < Size; ++i) data[i] = static_cast<uint8_t>(Seed * 131 + i * 7 + 1);
  return data;
}

TEST(DiskIOInterface, OpenChecksItsSettingsInOrder) {
  testsupport::TempDir dir;
  const std::string name = dir.File("open.zel");
  Db db(name);
  TDiskIOInterface store;
  EXPECT_EQ(store.IOMode(), iomDiskFixedSize);
  ExpectError(0x2185, "DiskMgr is null", [&] { store.Open(); });
  store.SetDiskMgr(&db.mgr);
  ExpectError(0x2185, "Usage is not set", [&] { store.Open(); });
  store.SetUsage(iuRecords);
  ExpectError(0x2185, "Block size is 0", [&] { store.Open(); });
  store.SetBlockSize(64);
  store.SetTableID(3);
  store.Open();
  EXPECT_EQ(store.OwnerFlag(), (3 << 4) | 9);
  store.Open();  // a second open only logs
  uint8_t buf[64] = {};
  ExpectError(0x2185, "non global first empty not set", [&] { store.AllocateNewAddress(64, buf); });
  store.SetFirstEmptyValid(true);
  ExpectError(0x2185, "Block request sizes < block size",
              [&] { store.AllocateNewAddress(65, buf); });
  ExpectError(0x2185, "Not a global interface", [&] { store.GetGlobalFirstEmpty(); });
  db.mgr.Close();
  EXPECT_TRUE(testsupport::StoresAreIntact(name, {}));
}

TEST(DiskIOInterface, EmptyFreesOnlyItsOwnStore) {
  testsupport::TempDir dir;
  const std::string name = dir.File("empty.zel");
  for (const bool deletePages : {false, true}) {
    Db db(name);
    auto records = db.Store(iuRecords, 100, 1);
    auto blobs = db.Store(iuBlobBlocks, 512, 1);
    const auto data = Block(100, 1);
    const uint32_t record = records->AllocateNewAddress(100, data.data());
    const auto blobData = Block(512, 2);
    const uint32_t blob = blobs->AllocateNewAddress(512, blobData.data());
    records->Empty(deletePages);
    EXPECT_FALSE(records->FirstEmptyValid());
    std::vector<uint32_t> pages;
    db.mgr.ListAllocatedFixedBlocks(512, kTable, iuBlobBlocks, pages);
    EXPECT_NE(std::find(pages.begin(), pages.end(), blob), pages.end()) << deletePages;
    db.mgr.ListAllocatedFixedBlocks(100, kTable, iuRecords, pages);
    EXPECT_EQ(std::find(pages.begin(), pages.end(), record), pages.end()) << deletePages;
    blobs->Empty(true);
    db.mgr.Close();
    EXPECT_TRUE(testsupport::StoresAreIntact(name, {}));
  }
}

TEST(DiskIOInterface, AnAddressARolledBackTransactionAppendedLiesOutsideTheFile) {
  testsupport::TempDir dir;
  const std::string name = dir.File("rollback.zel");
  Db db(name);
  db.mgr.DiskStartTransaction(false);
  const auto data = Block(100, 3);
  const uint32_t record = db.Store(iuRecords, 100, 1)->AllocateNewAddress(100, data.data());
  std::vector<uint8_t> back(100);
  db.Store(iuRecords, 100, 1)->ReadBlock(record, 100, back.data());
  EXPECT_EQ(back, data);
  db.mgr.DiskRollback();
  // The size seen inside the transaction went with it.
  ExpectError(0x2103, "outside the file",
              [&] { db.Store(iuRecords, 100, 1)->ReadBlock(record, 100, back.data()); });
  db.mgr.Close();
  EXPECT_TRUE(testsupport::StoresAreIntact(name, {}));
}

TEST(DiskIOInterface, RunsAreUsedNewestFirstAndInOrder) {
  testsupport::TempDir dir;
  const std::string name = dir.File("runs.zel");
  std::set<uint32_t> live;
  uint32_t firstEmpty = 0;
  {
    Db db(name);
    auto store = db.Store(iuRecords, 100, 1);
    // A 100-byte block in a 4096-byte page: the rest of the page becomes one
    // run of 39 blocks behind it.
    const uint32_t a = store->AllocateNewAddress(100, Block(100, 1).data());
    EXPECT_EQ(a % kPage, 0u);
    EXPECT_EQ(store->FirstEmpty(), a + 100);
    std::vector<uint8_t> run(100);
    store->ReadBlock(a + 100, 100, run.data());
    EXPECT_EQ(U32(run.data() + 8), 0u);
    EXPECT_EQ(U32(run.data() + 12), 39u);

    const uint32_t b = store->AllocateNewAddress(100, Block(100, 2).data());
    EXPECT_EQ(b, a + 100);
    // Releasing a block and allocating again gives the same block.
    store->ReleaseBlock(b, 100);
    EXPECT_EQ(store->FirstEmpty(), b);
    EXPECT_EQ(store->AllocateNewAddress(100, Block(100, 3).data()), b);

    // A released run of three comes back in ascending order, then the run
    // that was first before it.
    const uint32_t next = store->FirstEmpty();
    const uint32_t c = store->AllocateNewAddress(100, Block(100, 4).data());
    store->AllocateNewAddress(100, Block(100, 5).data());
    store->AllocateNewAddress(100, Block(100, 6).data());
    const uint32_t rest = store->FirstEmpty();
    store->ReleaseBlock(c, 300);
    EXPECT_EQ(store->AllocateNewAddress(100, Block(100, 7).data()), c);
    EXPECT_EQ(store->AllocateNewAddress(100, Block(100, 8).data()), c + 100);
    EXPECT_EQ(store->AllocateNewAddress(100, Block(100, 9).data()), c + 200);
    EXPECT_EQ(store->FirstEmpty(), rest);
    EXPECT_EQ(c, next);

    // Releasing the block that already heads the free list is refused.
    store->ReleaseBlock(c, 100);
    ExpectError(0x2185, "already free", [&] { store->ReleaseBlock(c, 100); });
    EXPECT_EQ(store->FirstEmpty(), c);
    live = {a, b, c + 100, c + 200};
    firstEmpty = store->FirstEmpty();

    std::vector<uint32_t> listed;
    store->ListBlocks(listed);
    EXPECT_EQ(listed.size(), 40u);
  }
  EXPECT_TRUE(Intact(name, 1, [&](testsupport::StoreCheck& s) {
    s.CheckStore("records", (kTable << 4) | 9, 100, firstEmpty, live);
  }));
}

TEST(DiskIOInterface, PageSizedBlocksUseWholePages) {
  testsupport::TempDir dir;
  const std::string name = dir.File("pages.zel");
  uint32_t a = 0;
  {
    Db db(name);
    auto store = db.Store(iuIndexPages, kPage, 1);
    a = store->AllocateNewAddress(kPage, Block(kPage, 1).data());
    EXPECT_EQ(store->FirstEmpty(), 0u);
    EXPECT_EQ(db.mgr.GetFileSize(), int64_t{a} + kPage) << "exactly one new page";
    const uint32_t b = store->AllocateNewAddress(kPage, Block(kPage, 2).data());
    // A page-aligned, page-sized block goes back to the page map.
    store->ReleaseBlock(a, kPage);
    EXPECT_EQ(store->FirstEmpty(), 0u);
    std::vector<uint32_t> listed;
    store->ListBlocks(listed);
    EXPECT_EQ(listed, std::vector<uint32_t>{b});
    // The next page the store needs is the freed one.
    EXPECT_EQ(store->AllocateNewAddress(kPage, Block(kPage, 3).data()), a);
    store->ReleaseBlock(b, kPage);
  }
  testsupport::IntegrityCheck check(name);
  ASSERT_TRUE(check.Run()) << check.Report();
  EXPECT_TRUE(check.IsFree((a + kPage) / kPage));
  EXPECT_EQ(check.Entry(a / kPage), (kTable << 4) | 8);
}

TEST(DiskIOInterface, GlobalStoresKeepFirstEmptyInTheGlobalHeader) {
  testsupport::TempDir dir;
  const std::string name = dir.File("global.zel");
  {
    Db db(name);
    Db other(name);  // a second connection, as another process would have
    auto store = db.Store(iuTableHeaders, 256, 0, 0, 0x1C, 0);
    auto store2 = other.Store(iuTableHeaders, 256, 0, 0, 0x1C, 0);
    std::set<uint32_t> handed;
    for (int i = 0; i < 40; ++i) {
      TDiskIOInterface& s = i % 3 == 0 ? *store2 : *store;
      const uint32_t addr = s.AllocateNewAddress(256, Block(256, static_cast<uint32_t>(i)).data());
      EXPECT_TRUE(handed.insert(addr).second) << "two connections never get one block";
      EXPECT_FALSE(db.mgr.HeaderWriteLocked());
      EXPECT_FALSE(other.mgr.HeaderWriteLocked());
    }
    store2->ReleaseBlock(*handed.begin(), 256);
    // A lock held by the caller stays held.
    db.mgr.SetHeaderWriteLock();
    EXPECT_EQ(store->AllocateNewAddress(256, Block(256, 99).data()), *handed.begin());
    EXPECT_TRUE(db.mgr.HeaderWriteLocked());
    db.mgr.ReleaseHeaderLock();
    other.mgr.SetHeaderReadLock();
    EXPECT_EQ(other.mgr.GlobalHdr()->GetTableHeadersFirstEmpty(), store->FirstEmpty());
    other.mgr.ReleaseHeaderLock();

    // Both connections give their blocks back; afterwards every header
    // block of the file is free.
    int i = 0;
    for (uint32_t addr : handed) (i++ % 2 == 0 ? store : store2)->ReleaseBlock(addr, 256);
    store->SetFirstEmptyValid(false);
    ExpectError(0x2185, "non validated", [&] { store->SetGlobalFirstEmpty(); });
  }
  EXPECT_TRUE(testsupport::StoresAreIntact(name, {}));
}

// Two processes take and give back header blocks at the same time; the
// header lock keeps them from ever getting the same block.
TEST(DiskIOInterface, ProcessesShareAGlobalStore) {
  testsupport::TempDir dir;
  const std::string name = dir.File("shared.zel");
  { Db create(name); }
  const auto child = [&](uint32_t Seed) {
    return [&, Seed]() -> int {
      TDiskMgr mgr;
      mgr.SetFileName(name);
      mgr.SetPageSize(kPage);
      mgr.SetLockRetryCount(2000);
      mgr.SetLockRetryInterval(1);
      mgr.Open();
      TDiskIOInterface store;
      store.SetDiskMgr(&mgr);
      store.SetUsage(iuTableHeaders);
      store.SetBlockSize(256);
      store.SetGlobalFirstEmptyOffset(0x1C);
      store.Open();
      std::vector<uint32_t> mine;
      std::FILE* out = std::fopen((name + std::to_string(Seed)).c_str(), "w");
      for (uint32_t i = 0; i < 60; ++i) {
        const std::vector<uint8_t> data(256, static_cast<uint8_t>(Seed));
        const uint32_t addr = store.AllocateNewAddress(256, data.data());
        mine.push_back(addr);
        if (i % 3 == 2) {
          store.ReleaseBlock(mine.front(), 256);
          mine.erase(mine.begin());
        }
      }
      // Every block still held carries this process's bytes.
      std::vector<uint8_t> buf(256);
      int bad = 0;
      for (uint32_t addr : mine) {
        store.ReadBlock(addr, 256, buf.data());
        if (buf != std::vector<uint8_t>(256, static_cast<uint8_t>(Seed))) ++bad;
        std::fprintf(out, "%u\n", addr);
      }
      std::fclose(out);
      return bad;
    };
  };
  const int a = testsupport::StartChild(child(1));
  const int b = testsupport::StartChild(child(2));
  EXPECT_EQ(testsupport::WaitChild(a), 0);
  EXPECT_EQ(testsupport::WaitChild(b), 0);
  std::set<uint32_t> held;
  for (uint32_t seed : {1u, 2u}) {
    std::FILE* in = std::fopen((name + std::to_string(seed)).c_str(), "r");
    ASSERT_NE(in, nullptr);
    unsigned addr = 0;
    int count = 0;
    while (std::fscanf(in, "%u", &addr) == 1) {
      EXPECT_TRUE(held.insert(addr).second) << addr << " held by both";
      ++count;
    }
    std::fclose(in);
    EXPECT_EQ(count, 40);
  }
  testsupport::IntegrityCheck check(name);
  check.AddCheck([&](testsupport::IntegrityCheck& c) {
    testsupport::StoreCheck s(c);
    const std::set<uint32_t> free =
        s.FreeBlocks("headers", c.HeaderU32(0x1C), 256, [](uint16_t Code) { return Code == 1; });
    for (uint32_t block : s.StoreBlocks(1, 256)) {
      if (free.count(block) == held.count(block))
        s.Problem("header block " + std::to_string(block) + " is free and held, or neither");
    }
  });
  EXPECT_TRUE(check.Run()) << check.Report();
}

TEST(DiskIOInterface, DamagedFreeListsAreRefused) {
  testsupport::TempDir dir;
  const std::string name = dir.File("damaged.zel");
  Db db(name);
  auto store = db.Store(iuRecords, 100, 1);
  const uint32_t a = store->AllocateNewAddress(100, Block(100, 1).data());
  const uint32_t run = store->FirstEmpty();
  std::vector<uint8_t> header(100, 0);

  struct Case {
    const char* Name;
    uint32_t FirstEmpty;
    uint32_t Next;
    uint32_t Count;
  };
  const std::vector<Case> cases = {
      {"first empty beyond the file", 0x7FFFF000, 0, 1},
      {"first empty in the system area", 1024, 0, 1},
      {"first empty on a live block", a, 0, 1},
      {"count past the file", run, 0, 100000},
      {"count of zero", run, 0, 0},
      {"next beyond the file", run, 0x7FFFF000, 2},
      {"run pointing at itself", run, run, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::memset(header.data(), 0, header.size());
    std::memcpy(header.data() + 8, &c.Next, 4);
    std::memcpy(header.data() + 12, &c.Count, 4);
    store->WriteBlock(run, 100, header.data());
    store->SetFirstEmpty(c.FirstEmpty);
    ExpectError(0x2103, "", [&] { store->AllocateNewAddress(100, Block(100, 2).data()); });
    EXPECT_EQ(store->FirstEmpty(), c.FirstEmpty) << "a failed allocation changes nothing";
  }
  ExpectError(0x2103, "outside the file", [&] { store->ReleaseBlock(0x7FFFF000, 100); });
  std::vector<uint8_t> buf(100);
  ExpectError(0x2103, "outside the file", [&] { store->ReadBlock(0x7FFFF000, 100, buf.data()); });
  ExpectError(0x2103, "outside the file", [&] { store->WriteBlock(0, 100, buf.data()); });

  // With the run mended, nothing else was touched by the refused calls.
  const uint32_t count = 39;
  std::memset(header.data(), 0, header.size());
  std::memcpy(header.data() + 12, &count, 4);
  store->WriteBlock(run, 100, header.data());
  db.mgr.Close();
  EXPECT_TRUE(testsupport::StoresAreIntact(name, [&](testsupport::StoreCheck& s) {
    s.CheckStore("records", (kTable << 4) | 9, 100, run, {a});
  }));
}

// Random allocations, releases and rewrites against a model, for every
// protection and a few block sizes, across a reopen.
TEST(DiskIOInterface, RandomOperationsMatchAModel) {
  testsupport::TempDir dir;
  for (const Protection& p : kProtections) {
    for (uint32_t blockSize : {64u, 1500u}) {
      const uint32_t seed = 1234 + blockSize + p.Flags;
      SCOPED_TRACE(std::string(p.Name) + " block " + std::to_string(blockSize) + " seed " +
                   std::to_string(seed));
      const std::string name = dir.File(std::string(p.Name) + std::to_string(blockSize) + ".zel");
      std::mt19937 rng(seed);
      std::map<uint32_t, std::vector<uint8_t>> model;
      uint32_t firstEmpty = 0;
      {
        Db db(name);
        auto store = db.Store(iuRecords, blockSize, p.Flags);
        for (int op = 0; op < 300; ++op) {
          const uint32_t choice = rng() % 10;
          if (model.empty() || choice < 5) {
            std::vector<uint8_t> data = Block(blockSize, rng());
            const uint32_t addr =
                store->AllocateNewAddress(static_cast<int32_t>(blockSize), data.data());
            ASSERT_EQ(model.count(addr), 0u) << "address handed out twice";
            model[addr] = std::move(data);
          } else {
            auto it = model.begin();
            std::advance(it, rng() % model.size());
            if (choice < 8) {
              store->ReleaseBlock(it->first, static_cast<int32_t>(blockSize));
              model.erase(it);
            } else {
              it->second = Block(blockSize, rng());
              store->WriteBlock(it->first, static_cast<int32_t>(blockSize), it->second.data());
            }
          }
        }
        firstEmpty = store->FirstEmpty();
      }
      {
        Db db(name);
        auto store = db.Store(iuRecords, blockSize, p.Flags, firstEmpty);
        std::vector<uint8_t> buf(blockSize);
        for (const auto& [addr, data] : model) {
          store->ReadBlock(addr, static_cast<int32_t>(blockSize), buf.data());
          ASSERT_EQ(buf, data) << addr;
        }
      }
      std::set<uint32_t> live;
      for (const auto& entry : model) live.insert(entry.first);
      EXPECT_TRUE(Intact(name, p.Flags, [&](testsupport::StoreCheck& s) {
        s.CheckStore("records", (kTable << 4) | 9, blockSize, firstEmpty, live);
      }));
    }
  }
}

}  // namespace
}  // namespace zel

namespace zel {
namespace {

std::vector<uint8_t> BlobData(size_t Size, uint32_t Seed) {
  std::vector<uint8_t> data(Size);
  uint32_t x = Seed;
  for (size_t i = 0; i < Size; ++i) {
    x = x * 1664525u + 1013904223u;
    data[i] = static_cast<uint8_t>(i % 4 == 0 ? x >> 24 : 'a' + (i / 7) % 26);
  }
  return data;
}

// Decodes gzip bytes with stock zlib.
std::vector<uint8_t> StockGunzip(std::vector<uint8_t> In) {
  std::vector<uint8_t> out;
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, 15 + 16), Z_OK);
  z.next_in = In.data();
  z.avail_in = static_cast<uInt>(In.size());
  uint8_t chunk[16384];
  int ret = Z_OK;
  do {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    ret = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
  } while (ret == Z_OK);
  EXPECT_EQ(ret, Z_STREAM_END);
  inflateEnd(&z);
  return out;
}

struct StoredBlob {
  uint32_t Addr = 0;
  std::vector<uint8_t> Data;
  TDataCompressionMode Mode = dcNone;
  int32_t Value = 0;
};

class BlobsOnDisk : public ::testing::TestWithParam<std::tuple<Protection, bool>> {
 protected:
  static constexpr uint32_t kBlobBlock = 512;

  void Open(Db& DbRef, uint32_t FirstEmpty) {
    store = DbRef.Store(iuBlobBlocks, kBlobBlock, Flags(), FirstEmpty);
    blobs = std::make_unique<TBlobInterface>();
    blobs->SetIOInterface(store.get());
    blobs->SetBlobBlockSize(kBlobBlock);
    blobs->SetUseCompression(std::get<1>(GetParam()));
    blobs->Open();
  }
  uint32_t Flags() const { return std::get<0>(GetParam()).Flags; }
  void Put(StoredBlob& Blob, std::vector<uint8_t> Data) {
    plat::TMemoryStream stream;
    if (!Data.empty()) stream.Write(Data.data(), static_cast<int32_t>(Data.size()));
    Blob.Addr = Blob.Addr == 0
                    ? blobs->InsertBlob("B", stream, Blob.Mode, Blob.Value)
                    : blobs->EditBlob("B", Blob.Addr, static_cast<int32_t>(Blob.Data.size()),
                                      stream, Blob.Mode, Blob.Value);
    Blob.Data = std::move(Data);
  }
  std::vector<uint8_t> Get(const StoredBlob& Blob) {
    plat::TMemoryStream out;
    blobs->ReadBlob("B", Blob.Addr, Blob.Value, Blob.Mode, out);
    const auto* p = static_cast<const uint8_t*>(out.Memory());
    return p ? std::vector<uint8_t>(p, p + out.Size()) : std::vector<uint8_t>();
  }

  std::unique_ptr<TDiskIOInterface> store;
  std::unique_ptr<TBlobInterface> blobs;
};

TEST_P(BlobsOnDisk, WrittenGrownShrunkDeletedAndReopened) {
  testsupport::TempDir dir;
  const std::string name = dir.File("blobs.zel");
  const bool compress = std::get<1>(GetParam());
  std::vector<StoredBlob> stored(5);
  // Blowfish costs the most per page written; its large blob is smaller so
  // the test stays quick.
  const size_t large = Flags() == 5 ? size_t{128} << 10 : size_t{1} << 20;
  const std::vector<size_t> sizes = {0, 504, 505, 1000, large};
  uint32_t firstEmpty = 0;
  {
    Db db(name);
    Open(db, 0);
    for (size_t i = 0; i < sizes.size(); ++i) {
      Put(stored[i], BlobData(sizes[i], static_cast<uint32_t>(i)));
      // Compressed, even no data is a gzip stream of 20 bytes.
      EXPECT_EQ(stored[i].Addr == 0, sizes[i] == 0 && !compress);
      if (sizes[i] > 0) {
        EXPECT_EQ(stored[i].Mode, compress ? dcZelZLib : dcNone);
        EXPECT_EQ(stored[i].Value, compress ? 1 : 0);
      }
      EXPECT_EQ(Get(stored[i]), stored[i].Data);
    }
    // Grown and shrunk in place: the first block stays.
    const uint32_t grownAt = stored[3].Addr;
    Put(stored[3], BlobData(5000, 30));
    EXPECT_EQ(stored[3].Addr, grownAt);
    const uint32_t shrunkAt = stored[4].Addr;
    Put(stored[4], BlobData(700, 40));
    EXPECT_EQ(stored[4].Addr, shrunkAt);
    EXPECT_EQ(Get(stored[3]), stored[3].Data);
    EXPECT_EQ(Get(stored[4]), stored[4].Data);

    // Freed blocks are used again before the file grows.
    const int64_t size = db.mgr.GetFileSize();
    blobs->DeleteBlob(stored[2].Addr, 505);
    stored[2] = StoredBlob();
    Put(stored[2], BlobData(900, 20));
    EXPECT_EQ(db.mgr.GetFileSize(), size);
    firstEmpty = store->FirstEmpty();
  }
  {
    Db db(name);
    Open(db, firstEmpty);
    for (const StoredBlob& blob : stored) EXPECT_EQ(Get(blob), blob.Data);
  }
  EXPECT_TRUE(Intact(name, Flags(), [&](testsupport::StoreCheck& s) {
    std::set<uint32_t> live;
    for (const StoredBlob& blob : stored) {
      const std::vector<uint8_t> raw =
          s.BlobChain("blob", blob.Addr, kBlobBlock, (kTable << 4) | 10, &live);
      if (!compress) {
        EXPECT_EQ(raw, blob.Data);
      } else {
        EXPECT_EQ(StockGunzip(raw), blob.Data) << "the stored bytes are a gzip stream";
      }
    }
    s.CheckStore("blobs", (kTable << 4) | 10, kBlobBlock, firstEmpty, live);
  }));
}

INSTANTIATE_TEST_SUITE_P(All, BlobsOnDisk,
                         ::testing::Combine(::testing::ValuesIn(kProtections), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<BlobsOnDisk::ParamType>& info) {
                           return std::string(std::get<0>(info.param).Name) +
                                  (std::get<1>(info.param) ? "Compressed" : "Raw");
                         });

}  // namespace
}  // namespace zel

namespace zel {
namespace {

// The store checks must see what they are there for.
TEST(StoreIntegrityCheck, FindsLeaksBrokenRunsAndChains) {
  testsupport::TempDir dir;
  const std::string name = dir.File("check.zel");
  std::vector<uint32_t> addrs;
  uint32_t firstEmpty = 0;
  {
    Db db(name);
    auto store = db.Store(iuBlobBlocks, 64, 1);
    for (uint32_t i = 0; i < 4; ++i) {
      std::vector<uint8_t> block(64, 0);
      const uint32_t next = i == 0 ? 0 : addrs.back();
      std::memcpy(block.data(), &next, 4);
      const uint32_t used = 56;
      std::memcpy(block.data() + 4, &used, 4);
      addrs.push_back(store->AllocateNewAddress(64, block.data()));
    }
    store->ReleaseBlock(addrs[0], 64);
    firstEmpty = store->FirstEmpty();
  }
  const uint16_t code = (kTable << 4) | 10;
  const auto problems = [&](const std::function<void(testsupport::StoreCheck&)>& Checks) {
    testsupport::IntegrityCheck check(name);
    check.AddCheck([&](testsupport::IntegrityCheck& c) {
      testsupport::StoreCheck s(c);
      Checks(s);
    });
    check.Run();
    return check.Report();
  };
  const std::set<uint32_t> live(addrs.begin() + 1, addrs.end());
  EXPECT_EQ(
      problems([&](testsupport::StoreCheck& s) { s.CheckStore("s", code, 64, firstEmpty, live); }),
      "");
  EXPECT_NE(problems([&](testsupport::StoreCheck& s) {
              s.CheckStore("s", code, 64, firstEmpty, {addrs[1], addrs[2]});
            }).find("leaked"),
            std::string::npos);
  EXPECT_NE(problems([&](testsupport::StoreCheck& s) {
              s.CheckStore("s", code, 64, firstEmpty, {addrs[0], addrs[1], addrs[2], addrs[3]});
            }).find("also free"),
            std::string::npos);
  // addrs[3] -> addrs[2] -> addrs[1] -> addrs[0], which is free and zero:
  // the chain's last block then follows a full block, and uses nothing.
  const std::string chain = problems([&](testsupport::StoreCheck& s) {
    std::set<uint32_t> blocks;
    s.BlobChain("c", addrs[3], 64, code, &blocks);
    s.BlobChain("d", addrs[2], 64, code, &blocks);
  });
  EXPECT_NE(chain.find("belongs to another chain"), std::string::npos) << chain;

  // A damaged run count.
  {
    std::FILE* f = std::fopen(name.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    const uint32_t count = 1000;
    std::fseek(f, static_cast<long>(firstEmpty + 12), SEEK_SET);
    std::fwrite(&count, 4, 1, f);
    std::fclose(f);
  }
  EXPECT_NE(problems([&](testsupport::StoreCheck& s) {
              s.CheckStore("s", code, 64, firstEmpty, live);
            }).find("free run at"),
            std::string::npos);
}

}  // namespace
}  // namespace zel
