#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelDisk.h"

namespace zel {
namespace {

using storagetest::ExpectError;

// A disk in memory behind the cache's callbacks: it records every transfer
// and can be told to fail.
struct FakeDisk {
  struct Call {
    char Kind;  // 'R' or 'W'
    uint32_t Owner, Upper, Lower, Flags;
  };
  int32_t PageSize;
  std::map<uint32_t, std::vector<uint8_t>> Pages;
  std::vector<Call> Calls;
  bool FailReads = false;
  bool FailWrites = false;

  explicit FakeDisk(int32_t Size) : PageSize(Size) {}

  std::vector<uint8_t>& Page(uint32_t Lower) {
    auto& page = Pages[Lower];
    if (page.empty()) page.assign(static_cast<size_t>(PageSize), 0);
    return page;
  }
  int Count(char Kind) const {
    int n = 0;
    for (const Call& c : Calls) n += c.Kind == Kind;
    return n;
  }
  // Run reads: where each began and how many bytes it asked for; ShortRuns
  // makes every run give only its first page, FailRuns none.
  std::vector<std::pair<uint32_t, int32_t>> Runs;
  bool ShortRuns = false;
  bool FailRuns = false;
  void AttachRuns(TCacheMgr& Cache) {
    Cache.SetReadRunIO([this](uint8_t* Buf, uint32_t Lower, int32_t Count) -> int64_t {
      Runs.push_back({Lower, Count});
      if (FailRuns) return -1;
      const int32_t given = ShortRuns ? PageSize : Count;
      for (int32_t at = 0; at < given; at += PageSize)
        std::memcpy(Buf + at, Page(Lower + static_cast<uint32_t>(at)).data(),
                    static_cast<size_t>(PageSize));
      return given;
    });
  }
  void Attach(TCacheMgr& Cache) {
    Cache.SetReadIO(
        [this](uint8_t* Buf, uint32_t Owner, uint32_t Upper, uint32_t Lower, uint32_t Flags) {
          Calls.push_back({'R', Owner, Upper, Lower, Flags});
          if (FailReads) throw std::runtime_error("read failed");
          std::memcpy(Buf, Page(Lower).data(), static_cast<size_t>(PageSize));
        });
    Cache.SetWriteIO(
        [this](uint8_t* Buf, uint32_t Owner, uint32_t Upper, uint32_t Lower, uint32_t Flags) {
          Calls.push_back({'W', Owner, Upper, Lower, Flags});
          if (FailWrites) throw std::runtime_error("write failed");
          std::memcpy(Page(Lower).data(), Buf, static_cast<size_t>(PageSize));
        });
  }
};

constexpr int32_t kPage = 64;

class CacheTest : public ::testing::Test {
 protected:
  void OpenCache(int32_t Count) {
    disk.Attach(cache);
    cache.Open(Count, kPage);
  }
  void Read(uint32_t Page, uint32_t Owner = 1, uint32_t Flags = 1) {
    uint8_t buf[kPage];
    cache.ReadCache(buf, Owner, 0, Page * kPage, kPage, Flags);
  }
  void Write(uint32_t Page, uint8_t Fill, uint32_t Owner = 1, uint32_t Flags = 1) {
    std::vector<uint8_t> buf(kPage, Fill);
    cache.WriteCache(buf.data(), Owner, 0, Page * kPage, kPage, Flags);
  }
  bool Cached(uint32_t Page) const { return cache.FindPage(Page * kPage, 0) >= 0; }

  FakeDisk disk{kPage};
  TCacheMgr cache;
};

TEST(CacheMgrOpen, RefusesMissingCallbacksAndPageSize) {
  TCacheMgr noRead;
  noRead.SetWriteIO([](uint8_t*, uint32_t, uint32_t, uint32_t, uint32_t) {});
  ExpectError(0x2751, "ReadIO", [&] { noRead.Open(4, 64); });
  TCacheMgr noWrite;
  noWrite.SetReadIO([](uint8_t*, uint32_t, uint32_t, uint32_t, uint32_t) {});
  ExpectError(0x2751, "WriteIO", [&] { noWrite.Open(4, 64); });
  FakeDisk disk(64);
  TCacheMgr zero;
  disk.Attach(zero);
  ExpectError(0x2185, "Page size = 0", [&] { zero.Open(4, 0); });
}

TEST(CacheMgrOpen, AddressMaskRoundsPageSizeDown) {
  struct Case {
    int32_t PageSize;
    uint32_t Mask;
  };
  for (const Case& c : {Case{4096, 0xFFFFF000u}, Case{512, 0xFFFFFE00u}, Case{3000, 0xFFFFF800u},
                        Case{1, 0xFFFFFFFFu}}) {
    FakeDisk disk(c.PageSize);
    TCacheMgr cache;
    disk.Attach(cache);
    cache.Open(2, c.PageSize);
    EXPECT_EQ(cache.AddressMask(), c.Mask) << c.PageSize;
    EXPECT_EQ(cache.Count(), 2);
    EXPECT_EQ(cache.TotalCacheSize(), 2 * c.PageSize);
  }
}

TEST_F(CacheTest, EvictsTheLeastRecentlyUsedCleanPage) {
  OpenCache(50);
  for (uint32_t p = 0; p < 50; ++p) Read(p);
  Read(0);  // page 0 is now the most recent; page 1 the oldest
  plat::TStringList log;
  cache.SetLog(&log);
  Read(50);
  EXPECT_EQ(cache.Count(), 50);
  EXPECT_TRUE(Cached(0));
  EXPECT_FALSE(Cached(1));
  EXPECT_TRUE(Cached(50));
  EXPECT_EQ(log.Strings(0), "GetNextEmptyPage. Replacing OldestPage: 1");
  Read(51);
  EXPECT_FALSE(Cached(2));
}

TEST_F(CacheTest, PagesReadInATransactionCountAsRecentlyUsedAfterIt) {
  for (const bool commit : {true, false}) {
    SCOPED_TRACE(commit);
    OpenCache(3);
    for (uint32_t p = 0; p < 3; ++p) Read(p);
    cache.StartTransaction();
    Read(1);
    Read(0);
    if (commit) {
      cache.Commit();
    } else {
      cache.Rollback();
    }
    Read(3);  // page 2 is the oldest now
    EXPECT_FALSE(Cached(2));
    EXPECT_TRUE(Cached(0));
    EXPECT_TRUE(Cached(1));
    Read(4);
    EXPECT_FALSE(Cached(1));
    EXPECT_TRUE(Cached(0));
    cache.Close();
  }
}

TEST_F(CacheTest, GrowsInsideATransactionAndKeepsItsSize) {
  OpenCache(4);
  cache.StartTransaction();
  for (uint32_t p = 0; p < 4; ++p) Write(p, static_cast<uint8_t>(p + 1));
  plat::TStringList log;
  cache.SetLog(&log);
  Read(9);  // every page is dirty: the cache adds one instead of evicting
  EXPECT_EQ(cache.Count(), 5);
  EXPECT_EQ(log.Strings(0), "GetNextEmptyPage. Adding new page");
  EXPECT_EQ(log.Strings(1), "Add cache page");
  EXPECT_EQ(disk.Count('W'), 0);
  cache.Commit();
  EXPECT_EQ(disk.Count('W'), 4);
  EXPECT_EQ(cache.Count(), 5);
  EXPECT_EQ(disk.Page(3 * kPage)[0], 4);
  // Outside the transaction clean pages are evicted again, dirty ones never.
  Read(20);
  EXPECT_EQ(cache.Count(), 5);
}

TEST_F(CacheTest, WholePageWritesAreNotReadFirst) {
  OpenCache(4);
  Write(3, 0xAA);
  EXPECT_EQ(disk.Count('R'), 0);
  EXPECT_EQ(disk.Count('W'), 1);  // outside a transaction: written at once
  uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  cache.WriteCache(ten, 1, 0, 5 * kPage + 20, 10, 1);
  EXPECT_EQ(disk.Count('R'), 1);
  EXPECT_EQ(disk.Page(5 * kPage)[20], 1);
  EXPECT_EQ(disk.Page(5 * kPage)[19], 0);
  EXPECT_EQ(cache.Misses(), 1);
  EXPECT_EQ(cache.Hits(), 1);
}

TEST_F(CacheTest, AnotherOwnerRereadsWithItsOwnFlags) {
  OpenCache(4);
  Read(2, /*Owner=*/1, /*Flags=*/1);
  Read(2, /*Owner=*/7, /*Flags=*/5);
  ASSERT_EQ(disk.Count('R'), 2);
  EXPECT_EQ(disk.Calls[1].Owner, 7u);
  EXPECT_EQ(disk.Calls[1].Flags, 5u);
  const TCachePage* page = cache.Pages(cache.FindPage(2 * kPage, 0));
  EXPECT_EQ(page->PageOwner(), 7u);
  EXPECT_EQ(page->AccessFlags(), 5u);
  EXPECT_EQ(cache.Count(), 4);  // reused in place
}

TEST_F(CacheTest, ARangeAcrossABoundaryTouchesBothPages) {
  OpenCache(4);
  std::vector<uint8_t> data(20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i + 1);
  cache.WriteCache(data.data(), 1, 0, kPage - 10, 20, 1);
  EXPECT_EQ(disk.Count('W'), 2);
  EXPECT_EQ(disk.Page(0)[kPage - 1], 10);
  EXPECT_EQ(disk.Page(kPage)[0], 11);
  std::vector<uint8_t> back(20);
  cache.ReadCache(back.data(), 1, 0, kPage - 10, 20, 1);
  EXPECT_EQ(back, data);
}

TEST_F(CacheTest, CommitWritesDirtyPagesAndEmptiesRemoveAfterWrite) {
  OpenCache(4);
  cache.StartTransaction();
  Write(1, 0x11, /*Owner=*/3, /*Flags=*/3);
  Write(2, 0x22);
  cache.RemoveAfterWrite(2 * kPage, 0);
  EXPECT_EQ(disk.Count('W'), 0);
  cache.Commit();
  ASSERT_EQ(disk.Count('W'), 2);
  EXPECT_EQ(disk.Calls[0].Owner, 3u);
  EXPECT_EQ(disk.Calls[0].Flags, 3u);
  EXPECT_EQ(disk.Page(2 * kPage)[0], 0x22);
  EXPECT_TRUE(Cached(1));
  EXPECT_FALSE(Cached(2));
  EXPECT_FALSE(cache.InTransaction());
}

TEST_F(CacheTest, RollbackDropsDirtyPages) {
  OpenCache(4);
  Write(1, 0x11);
  cache.StartTransaction();
  Write(1, 0x99);
  Write(2, 0x22);
  cache.Rollback();
  EXPECT_EQ(disk.Count('W'), 1);
  EXPECT_FALSE(Cached(1));
  EXPECT_FALSE(Cached(2));
  uint8_t buf[kPage];
  cache.ReadCache(buf, 1, 0, kPage, kPage, 1);
  EXPECT_EQ(buf[0], 0x11);
}

TEST_F(CacheTest, CommitAndRollbackNeedATransaction) {
  OpenCache(2);
  ExpectError(0x2811, "", [&] { cache.Commit(); });
  ExpectError(0x2811, "", [&] { cache.Rollback(); });
}

TEST_F(CacheTest, FailedTransfersLeaveNothingCached) {
  OpenCache(2);
  disk.FailReads = true;
  EXPECT_THROW(Read(1), std::runtime_error);
  EXPECT_FALSE(Cached(1));
  disk.FailReads = false;
  disk.FailWrites = true;
  EXPECT_THROW(Write(1, 0x55), std::runtime_error);
  EXPECT_FALSE(Cached(1));  // the cache must not serve bytes the disk never got
  disk.FailWrites = false;
  Read(1);
  EXPECT_EQ(disk.Page(kPage)[0], 0);
}

TEST_F(CacheTest, AChangedPageIsNeverRereadForAnotherOwner) {
  OpenCache(4);
  cache.StartTransaction();
  Write(1, 0x77, /*Owner=*/5, /*Flags=*/5);
  uint8_t buf[kPage];
  cache.ReadCache(buf, 0, 0, kPage, kPage, 1);
  EXPECT_EQ(buf[0], 0x77);
  EXPECT_EQ(disk.Count('R'), 0);
  // A part written by another owner joins the page, which keeps its flags.
  uint8_t part[4] = {1, 2, 3, 4};
  cache.WriteCache(part, 0, 0, kPage + 8, 4, 1);
  cache.Commit();
  ASSERT_EQ(disk.Count('W'), 1);
  EXPECT_EQ(disk.Calls.back().Owner, 5u);
  EXPECT_EQ(disk.Calls.back().Flags, 5u);
  EXPECT_EQ(disk.Page(kPage)[8], 1);
  EXPECT_EQ(disk.Page(kPage)[0], 0x77);
  // A writer that asks for encryption takes the page over instead.
  cache.StartTransaction();
  Write(2, 0x10, /*Owner=*/0, /*Flags=*/1);
  cache.WriteCache(part, 6, 0, 2 * kPage + 8, 4, 3);
  cache.Commit();
  EXPECT_EQ(disk.Calls.back().Owner, 6u);
  EXPECT_EQ(disk.Calls.back().Flags, 3u);
}

// A transfer that misses neighbouring pages reads each run of them in one
// go, up to the next page the cache holds (whose bytes it keeps); pages that
// need decryption, and pages a short or failed run did not give, are read
// one by one.
TEST_F(CacheTest, MissedNeighboursAreReadInOneRun) {
  disk.AttachRuns(cache);
  OpenCache(16);
  for (uint32_t p = 0; p < 12; ++p) disk.Page(p * kPage).assign(kPage, static_cast<uint8_t>(p + 1));
  Read(3);
  cache.StartTransaction();
  Write(6, 0xEE);
  std::vector<uint8_t> buf(10 * kPage);
  cache.ReadCache(buf.data(), 1, 0, 0, 10 * kPage, 1);
  const std::vector<std::pair<uint32_t, int32_t>> runs = {
      {0, 3 * kPage}, {4 * kPage, 2 * kPage}, {7 * kPage, 3 * kPage}};
  EXPECT_EQ(disk.Runs, runs);
  EXPECT_EQ(disk.Count('R'), 1);  // page 3, before
  for (uint32_t p = 0; p < 10; ++p)
    EXPECT_EQ(buf[p * kPage + 5], p == 6 ? 0xEE : p + 1) << p;
  cache.Rollback();
  // Served from the cache now, and the rolled back page read again alone.
  disk.Runs.clear();
  cache.ReadCache(buf.data(), 1, 0, kPage / 2, 9 * kPage, 1);
  EXPECT_TRUE(disk.Runs.empty());
  EXPECT_EQ(disk.Count('R'), 2);
  EXPECT_EQ(buf[6 * kPage], 7);

  const auto fresh = [&](uint32_t Flags) {
    cache.ClearCache();
    disk.Runs.clear();
    disk.Calls.clear();
    cache.ReadCache(buf.data(), 1, 0, 0, 4 * kPage, Flags);
    for (uint32_t p = 0; p < 4; ++p) EXPECT_EQ(buf[p * kPage], p + 1) << p;
  };
  fresh(1 | 2);
  EXPECT_TRUE(disk.Runs.empty());
  EXPECT_EQ(disk.Count('R'), 4);
  // Each short run gives one page; the next run starts after it.
  disk.ShortRuns = true;
  fresh(1);
  EXPECT_EQ(disk.Runs.size(), 3u);
  EXPECT_EQ(disk.Count('R'), 1);
  disk.ShortRuns = false;
  disk.FailRuns = true;
  fresh(1);
  EXPECT_EQ(disk.Count('R'), 4);
}

TEST_F(CacheTest, ByRefAccessSharesThePageBuffer) {
  OpenCache(4);
  uint8_t* p = nullptr;
  cache.ReadCacheByRef(1, 0, kPage + 4, 8, 1, p);
  ASSERT_NE(p, nullptr);
  p[0] = 0x5A;
  cache.WriteCacheByRef(p, 1, 0, kPage, kPage, 1);
  EXPECT_EQ(disk.Page(kPage)[4], 0x5A);
  ExpectError(0x2185, "WriteCacheByRef - error in write size",
              [&] { cache.WriteCacheByRef(p, 1, 0, kPage, 8, 1); });
  ExpectError(0x2185, "WriteCacheByRef - page not found",
              [&] { cache.WriteCacheByRef(p, 2, 0, kPage, kPage, 1); });
  ExpectError(0x2185, "", [&] { cache.ReadCacheByRef(1, 0, kPage - 2, 8, 1, p); });
}

// A page changed through a pointer and marked written once in a
// transaction is marked written again through its notes, without a lookup:
// only while it is that owner's page at that place and still dirty. Taken
// anywhere else, the change would be lost (a clean page is written at once
// or dropped, not at commit) or land on another page. Taken, the change
// counts as one: the readers' change count moves and the notes are dropped.
TEST_F(CacheTest, APageDirtyInTheTransactionIsMarkedWrittenAgainThroughItsNotes) {
  OpenCache(4);
  uint8_t* p = nullptr;
  cache.ReadCacheByRef(1, 0, kPage, 8, 1, p);
  TPageNotes* notes = cache.PageNotes(1, 0, kPage);
  ASSERT_NE(notes, nullptr);
  // Outside a transaction the page is written at once: never the short way.
  p[0] = 0x11;
  EXPECT_FALSE(cache.RewriteDirtyByRef(*notes, 1, kPage, 1));
  cache.WriteCacheByRef(p, 1, 0, kPage, kPage, 1);
  EXPECT_EQ(disk.Page(kPage)[0], 0x11);
  cache.StartTransaction();
  // Clean in the transaction: the first write goes the long way.
  EXPECT_FALSE(cache.RewriteDirtyByRef(*notes, 1, kPage, 1));
  p[0] = 0x22;
  cache.WriteCacheByRef(p, 1, 0, kPage, kPage, 1);
  // Another owner, another place, another page's notes: refused.
  EXPECT_FALSE(cache.RewriteDirtyByRef(*notes, 2, kPage, 1));
  EXPECT_FALSE(cache.RewriteDirtyByRef(*notes, 1, 2 * kPage, 1));
  TPageNotes copy = *notes;
  EXPECT_FALSE(cache.RewriteDirtyByRef(copy, 1, kPage, 1));
  // Dirty: taken, counted and the notes dropped.
  notes->Valid = true;
  const uint64_t changes = *cache.Changes();
  const uint64_t stamp = notes->Stamp;
  p[0] = 0x33;
  EXPECT_TRUE(cache.RewriteDirtyByRef(*notes, 1, kPage, 1));
  EXPECT_EQ(*cache.Changes(), changes + 1);
  EXPECT_FALSE(notes->Valid);
  EXPECT_NE(notes->Stamp, stamp);
  EXPECT_EQ(disk.Count('W'), 1);
  cache.Commit();
  EXPECT_EQ(disk.Count('W'), 2);
  EXPECT_EQ(disk.Page(kPage)[0], 0x33);
  // Clean again after the commit: refused.
  EXPECT_FALSE(cache.RewriteDirtyByRef(*notes, 1, kPage, 1));
}

TEST_F(CacheTest, PageBoundaryAccessesKeyEachPageByItsEnd) {
  OpenCache(4);
  std::vector<uint8_t> data(2 * kPage, 0x31);
  cache.WriteCacheToPageBoundary(data.data(), 0, kPage, 2 * kPage, 0);
  EXPECT_GE(cache.FindPage(kPage, 2 * kPage), 0);
  EXPECT_GE(cache.FindPage(2 * kPage, 3 * kPage), 0);
  EXPECT_FALSE(cache.IsBaseAddrInCache(kPage));
  // A smaller access to the same page finds the same entry.
  uint8_t byte = 0;
  cache.ReadCacheToPageBoundary(&byte, 0, 2 * kPage + 3, 1, 0);
  EXPECT_EQ(byte, 0x31);
  EXPECT_EQ(disk.Count('R'), 0);
}

TEST_F(CacheTest, ClearingAndResizing) {
  OpenCache(4);
  Read(0, 1);
  Read(1, 2);
  Read(2, 2);
  cache.ClearOwnedPages(2);
  EXPECT_TRUE(Cached(0));
  EXPECT_FALSE(Cached(1));
  EXPECT_FALSE(Cached(2));
  // A page changed in a transaction is not in the file yet: it stays.
  cache.StartTransaction();
  Write(1, 0x44, 2);
  cache.ClearOwnedPages(2);
  EXPECT_TRUE(Cached(1));
  cache.Commit();
  EXPECT_EQ(disk.Page(kPage)[0], 0x44);
  cache.ClearOwnedPages(2);
  EXPECT_FALSE(Cached(1));
  cache.RemovePage(0, 0);
  EXPECT_FALSE(Cached(0));
  Read(3);
  cache.ClearCache();
  EXPECT_FALSE(Cached(3));

  cache.ResetPageCount(6);
  EXPECT_EQ(cache.Count(), 6);
  cache.StartTransaction();
  for (uint32_t p = 0; p < 6; ++p) Write(p, 1);
  cache.ResetPageCount(2);  // dirty pages stay
  EXPECT_EQ(cache.Count(), 6);
  EXPECT_EQ(cache.PageCount(), 2);
  cache.Commit();
  cache.ResetPageCount(2);
  EXPECT_EQ(cache.Count(), 2);
  // The shrunken cache still finds what it holds.
  Read(7);
  EXPECT_TRUE(Cached(7));
}

TEST_F(CacheTest, DumpStateDescribesEveryPage) {
  OpenCache(2);
  Read(3, 9);
  plat::TStringList log;
  cache.SetLog(&log);
  cache.DumpState();
  ASSERT_EQ(log.Count(), 3);
  EXPECT_EQ(log.Strings(0), "Cache dump: Hits 0  Misses 1");
  EXPECT_EQ(log.Strings(1), "Page 0: Addr 192  Owner 9 State Clean LRUFlag 0");
  EXPECT_EQ(log.Strings(2), "Page 1: Addr 0  Owner 0 State Empty LRUFlag 0");
  EXPECT_EQ(cache.Pages(0)->DisplayName(), "0,192,0, ID " + std::to_string(cache.Pages(0)->ID()));
}

// Random reads and writes of random ranges, in and out of transactions,
// against a model of what the disk and a reader must see.
TEST(CacheMgrModel, RandomAccessesAgreeWithAModel) {
  constexpr int32_t kPages = 12;
  const uint32_t seed = 20240611;
  std::mt19937 rng(seed);
  FakeDisk disk(kPage);
  TCacheMgr cache;
  disk.Attach(cache);
  disk.AttachRuns(cache);
  cache.Open(3, kPage);
  std::vector<uint8_t> committed(kPages * kPage, 0);
  std::vector<uint8_t> visible = committed;
  bool inTransaction = false;
  for (int step = 0; step < 4000; ++step) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
    const int op = static_cast<int>(rng() % 10);
    if (op == 0) {
      if (!inTransaction) {
        cache.StartTransaction();
        inTransaction = true;
      } else if (rng() % 2 == 0) {
        cache.Commit();
        committed = visible;
        inTransaction = false;
      } else {
        cache.Rollback();
        visible = committed;
        inTransaction = false;
      }
      continue;
    }
    const uint32_t pos = rng() % (kPages * kPage - 1);
    const int32_t count =
        static_cast<int32_t>(1 + rng() % std::min<uint32_t>(3 * kPage, kPages * kPage - pos));
    std::vector<uint8_t> buf(static_cast<size_t>(count));
    if (op < 6) {
      cache.ReadCache(buf.data(), 1, 0, pos, count, 1);
      ASSERT_EQ(0, std::memcmp(buf.data(), visible.data() + pos, buf.size()));
    } else {
      for (auto& b : buf) b = static_cast<uint8_t>(rng());
      cache.WriteCache(buf.data(), 1, 0, pos, count, 1);
      std::memcpy(visible.data() + pos, buf.data(), buf.size());
      if (!inTransaction) committed = visible;
    }
    // The disk holds exactly what was committed.
    for (const auto& [lower, page] : disk.Pages)
      ASSERT_EQ(0, std::memcmp(page.data(), committed.data() + lower, kPage)) << lower;
  }
}

// Which slot a page goes to and which page is dropped, against a model that
// scans every slot: the lowest empty slot first, else (outside a
// transaction) the least recently used clean page, else a new slot. Pages
// of several owners, some of them dropped by owner.
TEST(CacheMgrModel, RandomAccessesChooseTheSlotsAModelChooses) {
  struct Slot {
    TCachePageState State = cpEmpty;
    uint32_t Lower = 0;
    uint32_t Used = 0;
    uint32_t Owner = 0;
  };
  constexpr uint32_t kPages = 40;
  const uint32_t seed = 20261210;
  std::mt19937 rng(seed);
  FakeDisk disk(kPage);
  TCacheMgr cache;
  disk.Attach(cache);
  cache.Open(8, kPage);
  std::vector<Slot> model(8);
  uint32_t clock = 0;
  bool inTransaction = false;
  const auto find = [&](uint32_t Lower) -> int32_t {
    for (size_t i = 0; i < model.size(); ++i)
      if (model[i].State != cpEmpty && model[i].Lower == Lower) return static_cast<int32_t>(i);
    return -1;
  };
  const auto victim = [&]() -> size_t {
    for (size_t i = 0; i < model.size(); ++i)
      if (model[i].State == cpEmpty) return i;
    int32_t oldest = -1;
    if (!inTransaction)
      for (size_t i = 0; i < model.size(); ++i)
        if (model[i].State == cpClean &&
            (oldest < 0 || model[i].Used < model[static_cast<size_t>(oldest)].Used))
          oldest = static_cast<int32_t>(i);
    if (oldest >= 0) return static_cast<size_t>(oldest);
    model.emplace_back();
    return model.size() - 1;
  };
  for (int step = 0; step < 20000; ++step) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
    const int op = static_cast<int>(rng() % 20);
    const uint32_t lower = (rng() % kPages) * kPage;
    if (op == 0) {
      if (!inTransaction) {
        cache.StartTransaction();
      } else if (rng() % 2 == 0) {
        cache.Commit();
        for (Slot& s : model)
          if (s.State == cpDirty) s.State = cpClean;
      } else {
        cache.Rollback();
        for (Slot& s : model)
          if (s.State == cpDirty) s = Slot{};
      }
      inTransaction = !inTransaction;
      continue;
    }
    const uint32_t owner = 1 + rng() % 3;
    if (op == 1) {
      cache.RemovePage(lower, 0);
      if (const int32_t i = find(lower); i >= 0) model[static_cast<size_t>(i)] = Slot{};
    } else if (op == 2) {
      cache.ClearOwnedPages(owner);
      for (Slot& s : model)
        if (s.State == cpClean && s.Owner == owner) s = Slot{};
    } else {
      const bool write = op < 9;
      std::vector<uint8_t> buf(kPage, static_cast<uint8_t>(step));
      if (write)
        cache.WriteCache(buf.data(), owner, 0, lower, kPage, 1);
      else
        cache.ReadCache(buf.data(), owner, 0, lower, kPage, 1);
      int32_t i = find(lower);
      if (i < 0) {
        i = static_cast<int32_t>(victim());
        model[static_cast<size_t>(i)] = Slot{cpClean, lower, 0, owner};
      }
      Slot& s = model[static_cast<size_t>(i)];
      // A read of another owner's changed page leaves it to that owner; a
      // whole page written, or a clean page read, is the reader's.
      if (write || s.State == cpClean) s.Owner = owner;
      if (write) s.State = inTransaction ? cpDirty : cpClean;
      s.Used = clock++;
    }
    ASSERT_EQ(cache.Count(), static_cast<int32_t>(model.size()));
    for (size_t i = 0; i < model.size(); ++i) {
      const TCachePage* page = cache.Pages(static_cast<int32_t>(i));
      ASSERT_EQ(page->State(), model[i].State) << "slot " << i;
      if (model[i].State == cpEmpty) continue;
      ASSERT_EQ(page->LowerAddress(), model[i].Lower) << "slot " << i;
      ASSERT_EQ(page->LRUFlag(), model[i].Used) << "slot " << i;
      ASSERT_EQ(page->PageOwner(), model[i].Owner) << "slot " << i;
      ASSERT_EQ(cache.FindPage(model[i].Lower, 0), static_cast<int32_t>(i));
    }
  }
}

// ---------------------------------------------------------------- block buffer

struct BlockDisk {
  std::map<uint32_t, std::vector<uint8_t>> Written;
  int Reads = 0;
  void Attach(TCacheBlockMgr& Blocks) {
    Blocks.SetReadIO([this](uint8_t* Buf, uint32_t, uint32_t Size, uint32_t, uint32_t, uint32_t) {
      ++Reads;
      std::memset(Buf, 0xEE, Size);
    });
    Blocks.SetWriteIO([this](uint8_t* Buf, uint32_t, uint32_t Size, uint32_t, uint32_t Low,
                             uint32_t) { Written[Low].assign(Buf, Buf + Size); });
  }
};

TEST(CacheBlockMgr, BuffersBlocksUntilCommit) {
  BlockDisk disk;
  TCacheBlockMgr blocks;
  ExpectError(0x2751, "ReadIO", [&] { blocks.Open(); });
  disk.Attach(blocks);
  blocks.Open();
  const std::vector<uint8_t> data(100, 0x42);
  blocks.WriteBlock(data.data(), 3, 100, 0, 1000, 1);  // outside a transaction: at once
  EXPECT_EQ(disk.Written.count(1000), 1u);
  disk.Written.clear();

  blocks.StartTransaction();
  blocks.WriteBlock(data.data(), 3, 100, 0, 2000, 1);
  EXPECT_TRUE(disk.Written.empty());
  std::vector<uint8_t> back(100);
  blocks.ReadBlock(back.data(), 3, 100, 0, 2000, 1);
  EXPECT_EQ(back, data);
  EXPECT_EQ(disk.Reads, 0);
  ExpectError(0x2185, "CacheBlock invalid",
              [&] { blocks.WriteBlock(data.data(), 3, 50, 0, 2000, 1); });
  ExpectError(0x2183, "", [&] { blocks.WriteBlock(data.data(), 3, 100, 0, 2050, 1); });
  ExpectError(0x2183, "", [&] { blocks.WriteBlock(data.data(), 3, 100, 0, 1950, 1); });
  blocks.Commit();
  EXPECT_EQ(disk.Written.at(2000), data);
  EXPECT_EQ(blocks.Count(), 0);

  blocks.StartTransaction();
  blocks.WriteBlock(data.data(), 3, 100, 0, 3000, 1);
  blocks.Rollback();
  EXPECT_EQ(disk.Written.count(3000), 0u);
  ExpectError(0x2811, "", [&] { blocks.Commit(); });
  ExpectError(0x2811, "", [&] { blocks.Rollback(); });
}

}  // namespace
}  // namespace zel
