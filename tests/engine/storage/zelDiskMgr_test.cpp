#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/zelDisk.h"
#include "platform/os/Files.h"
#include "platform/os/Os.h"
#include "platform/rtl/DateTime.h"
#include "support/IntegrityCheck.h"
#include "support/TestDir.h"
#include "zelLockTestSupport.h"

namespace zel {
namespace {

using locktest::CountLockedBytes;
using locktest::ErrorCodeOf;
using locktest::ExpectError;
using locktest::TSignal;
using testsupport::FileIsIntact;
using testsupport::StartChild;
using testsupport::TempDir;
using testsupport::WaitChild;

constexpr int32_t kPage = 4096;

std::vector<uint8_t> FileBytes(const std::string& Name) {
  std::ifstream in(Name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A new database in a fresh directory, opened by as many disk managers as a
// test asks for, each with retry settings small enough for milliseconds.
struct DiskFixture {
  TempDir Dir;
  std::string Name = Dir.File("data.zel");
  std::string LckName = Dir.File("data.lck");

  DiskFixture() {
    TDiskMgr mgr;
    mgr.SetFileName(Name);
    mgr.SetPageSize(kPage);
    mgr.CreateNewFile();
  }

  std::unique_ptr<TDiskMgr> Open(int32_t Flags = ofReadWrite | ofShared, int32_t Retries = 3,
                                 int32_t Interval = 10) const {
    auto mgr = std::make_unique<TDiskMgr>();
    mgr->SetFileName(Name);
    mgr->SetPageSize(kPage);
    mgr->SetOpenFlags(Flags);
    mgr->SetLockRetryCount(Retries);
    mgr->SetLockRetryInterval(Interval);
    mgr->Open();
    return mgr;
  }
};

TEST(DiskMgrLocks, LockFileNames) {
  struct Case {
    const char* Database;
    const char* LockFile;
  };
  const Case cases[] = {
      {"/db/shop.zel", "/db/shop.lck"},         {"/db/shop.ZeL", "/db/shop.lck"},
      {"/db/orders.dat", "/db/orders_dat.lck"}, {"/db/a.b.c", "/db/a_b_c.lck"},
      {"/db/plain", "/db/plain.lck"},           {"/db.d/x.dat", "/db.d/x_dat.lck"},
      {"relative.zel", "relative.lck"},
  };
  for (const Case& c : cases) EXPECT_EQ(TDiskMgr::GetLockFileName(c.Database), c.LockFile);
}

TEST(DiskMgrLocks, OpenRegistersTheConnectionAndTheLastCloseRemovesTheLockFile) {
  DiskFixture f;
  auto first = f.Open();
  ASSERT_TRUE(first->UseLocks());
  ASSERT_TRUE(plat::FileExists(f.LckName));
  // A second connection opens the file for reading only; its locks still work.
  auto second = f.Open(ofReadOnly | ofShared);
  EXPECT_TRUE(second->ReadOnly());
  EXPECT_EQ(second->SetTableLock(3, ltWrite), ltWrite);
  second->ReleaseTableLock(3);

  plat::TStringList users;
  first->GetCurrentUsers(users);
  ASSERT_EQ(users.Count(), 1);
  EXPECT_NE(users.Strings(0).find(GetCurrentUser()), std::string::npos);
  EXPECT_EQ(first->UserMonitor()->GetCurrentConnectionCount(), 2);
  EXPECT_GT(first->DiskCacheSize(), 0);

  first->Close();
  EXPECT_EQ(first->DiskCacheSize(), 0);
  EXPECT_TRUE(plat::FileExists(f.LckName));
  second->Close();
  EXPECT_FALSE(plat::FileExists(f.LckName));
  EXPECT_TRUE(FileIsIntact(f.Name));
}

TEST(DiskMgrLocks, AReadOnlyFileOpensWithoutALockFile) {
  DiskFixture f;
  ASSERT_EQ(::chmod(f.Name.c_str(), 0444), 0);
  auto mgr = f.Open(ofReadOnly | ofShared);
  EXPECT_FALSE(mgr->UseLocks());
  EXPECT_EQ(mgr->UserMonitor(), nullptr);
  EXPECT_FALSE(plat::FileExists(f.LckName));
  plat::TStringList users;
  ExpectError(0x2905, "Connection details unavailable for read only database files",
              [&] { mgr->GetCurrentUsers(users); });
  // Without locks every request is granted as asked.
  EXPECT_EQ(mgr->SetTableLock(4, ltWrite), ltWrite);
  EXPECT_EQ(mgr->QueryTableLockStatus(4), ltRead);
  EXPECT_EQ(mgr->SetRecordLock(0x9000, 4), ltWrite);
  EXPECT_EQ(mgr->QueryRecordLockStatus(0x9000), ltRead);
  mgr->SetHeaderReadLock();
  EXPECT_EQ(mgr->GlobalHdr()->GetMapPageCount(), 1u);
  mgr->ReleaseHeaderLock();
  mgr->Close();
  ASSERT_EQ(::chmod(f.Name.c_str(), 0644), 0);
}

TEST(DiskMgrLocks, AWriterWaitingOnAReaderTimesOutAndAnUpgradeNeedsToBeAlone) {
  DiskFixture f;
  auto mgr = f.Open(ofReadWrite | ofShared, 4, 25);
  // Alone, a read lock upgrades (it still reports as the read lock it was).
  EXPECT_EQ(mgr->SetTableLock(7, ltRead), ltRead);
  EXPECT_EQ(mgr->SetTableLock(7, ltWrite), ltRead);
  EXPECT_TRUE(mgr->TableLockMgr()->LockExists(7, ltWrite));
  mgr->ReleaseTableLock(7);
  EXPECT_EQ(mgr->QueryTableLockStatus(7), ltNone);

  TSignal ready, stop;
  const int reader = StartChild([&] {
    auto other = f.Open();
    other->SetTableLock(7, ltRead);
    ready.Send();
    stop.Wait();
    return 0;
  });
  ASSERT_TRUE(ready.Wait());

  const uint32_t start = plat::GetTickCount();
  ExpectError(0x2809, "A write lock could not be obtained on the table",
              [&] { mgr->SetTableLock(7, ltWrite); });
  const uint32_t elapsed = plat::GetTickCount() - start;
  EXPECT_GE(elapsed, 3u * 25u);
  // Generous, for a loaded machine: it catches pauses taken in seconds.
  EXPECT_LT(elapsed, 15000u);
  EXPECT_EQ(mgr->QueryTableLockStatus(7), ltNone);

  // A reader next to the other one fails to upgrade and keeps its read lock.
  EXPECT_EQ(mgr->SetTableLock(7, ltRead), ltRead);
  ExpectError(0x2809, "A write lock could not be obtained on the table",
              [&] { mgr->SetTableLock(7, ltWrite); });
  EXPECT_EQ(mgr->QueryTableLockStatus(7), ltRead);
  EXPECT_FALSE(mgr->TableLockMgr()->LockExists(7, ltWrite));
  EXPECT_EQ(mgr->TableLockMgr()->GetLockCount(), 1);

  stop.Send();
  EXPECT_EQ(WaitChild(reader), 0);
  EXPECT_EQ(mgr->SetTableLock(7, ltWrite), ltRead);
  EXPECT_TRUE(mgr->TableLockMgr()->LockExists(7, ltWrite));
}

TEST(DiskMgrLocks, RecordLocksBelongToOneConnection) {
  DiskFixture f;
  auto a = f.Open();
  auto b = f.Open();
  EXPECT_EQ(a->SetRecordLock(0x7000, 2), ltWrite);
  EXPECT_EQ(a->QueryRecordLockStatus(0x7000), ltWrite);
  ExpectError(0x2809, "A lock could not be obtained on the record",
              [&] { b->SetRecordLock(0x7000, 2); });
  EXPECT_EQ(b->SetRecordLock(0x7001, 2), ltWrite);
  a->ReleaseRecordLock(0x7000);
  EXPECT_EQ(a->QueryRecordLockStatus(0x7000), ltNone);
  EXPECT_EQ(b->SetRecordLock(0x7000, 2), ltWrite);
  b->ReleaseAllLocks();
  EXPECT_EQ(b->RecordLockMgr()->GetLockCount(), 0);
}

TEST(DiskMgrLocks, HeaderLocks) {
  DiskFixture f;
  auto a = f.Open();
  auto b = f.Open();
  ExpectError(0x2808, "", [&] { a->ReadHeader(); });

  a->SetHeaderWriteLock();
  EXPECT_TRUE(a->HeaderReadLocked());
  EXPECT_TRUE(a->HeaderWriteLocked());
  ExpectError(0x2809, "A read lock could not be obtained on the table",
              [&] { b->SetHeaderReadLock(); });
  EXPECT_FALSE(b->HeaderReadLocked());
  a->ReleaseHeaderLock();
  EXPECT_FALSE(a->HeaderWriteLocked());
  EXPECT_EQ(a->QueryTableLockStatus(0), ltNone);

  // Readers share the header.
  a->SetHeaderReadLock();
  b->SetHeaderReadLock();
  b->ReleaseHeaderLock();

  // Writing the header under a read lock keeps exactly that read lock.
  a->GlobalHdr()->SetGlobalDBGenerator(77);
  a->WriteHeader();
  EXPECT_TRUE(a->HeaderReadLocked());
  EXPECT_FALSE(a->HeaderWriteLocked());
  EXPECT_EQ(a->TableLockMgr()->GetLockCount(), 1);
  EXPECT_FALSE(a->TableLockMgr()->LockExists(0, ltWrite));
  a->ReleaseHeaderLock();

  // Without any header lock, writing takes one for the write only.
  a->GlobalHdr()->SetGlobalDBGenerator(78);
  a->WriteHeader();
  EXPECT_FALSE(a->HeaderReadLocked());
  EXPECT_EQ(a->TableLockMgr()->GetLockCount(), 0);
  b->SetHeaderWriteLock();
  EXPECT_EQ(b->GlobalHdr()->GetGlobalDBGenerator(), 78u);
  b->ReleaseHeaderLock();
  a->Close();
  b->Close();
  EXPECT_TRUE(FileIsIntact(f.Name));
}

TEST(DiskMgrLocks, ProcessesAllocatingPagesAtOnceKeepTheMapSound) {
  DiskFixture f;
  constexpr int kProcesses = 4;
  constexpr int kPagesEach = 24;
  TSignal ready, go;
  std::vector<int> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(StartChild([&, p] {
      auto mgr = f.Open(ofReadWrite | ofShared, 1000, 1);
      const std::vector<uint8_t> page(kPage, static_cast<uint8_t>(p + 1));
      ready.Send();
      if (!go.Wait()) return 1;
      for (int i = 0; i < kPagesEach; ++i) {
        const uint32_t address = mgr->WriteNewPages(p + 1, afCached, 1, page.data(), 9);
        // Every fourth page goes back, so that frees and reuse interleave.
        if (i % 4 == 3) mgr->ReleasePages(address, 1);
      }
      return 0;
    }));
  }
  for (int p = 0; p < kProcesses; ++p) ASSERT_TRUE(ready.Wait());
  for (int p = 0; p < kProcesses; ++p) go.Send();
  for (const int child : children) EXPECT_EQ(WaitChild(child), 0);
  testsupport::IntegrityCheck check(f.Name);
  ASSERT_TRUE(check.Run()) << check.Report();
  for (int p = 0; p < kProcesses; ++p) {
    const auto pages = check.PagesOwnedBy(static_cast<uint16_t>(((p + 1) << 4) | 9));
    EXPECT_EQ(pages.size(), static_cast<size_t>(kPagesEach - kPagesEach / 4)) << p;
    for (const uint32_t page : pages)
      EXPECT_EQ(check.Bytes()[size_t{page} * kPage + 100], p + 1) << page;
  }
}

// ---------------------------------------------------------------- transactions

TEST(DiskMgrTransactions, ATableWriteLockIsAReadLockPlusTheTransactionLock) {
  DiskFixture f;
  auto mgr = f.Open();
  mgr->DiskStartTransaction(false);
  EXPECT_EQ(mgr->SetTableLock(5, ltWrite), ltRead);
  EXPECT_EQ(mgr->TransactionLockMgr()->QueryLockType(5), ltWrite);
  EXPECT_EQ(CountLockedBytes(f.LckName, TransactionLockBase + 5, 1), 1);
  mgr->ReleaseTableLock(5);  // kept until the transaction ends
  EXPECT_EQ(mgr->QueryTableLockStatus(5), ltRead);
  EXPECT_EQ(mgr->SetRecordLock(0x8000, 5), ltWrite);
  mgr->ReleaseRecordLock(0x8000);
  EXPECT_EQ(mgr->QueryRecordLockStatus(0x8000), ltWrite);
  const std::vector<uint8_t> page(kPage, 0x5A);
  mgr->WriteNewPages(5, afCached, 1, page.data(), 9);

  // Others may still read the table, but not write it.
  TSignal ready, stop;
  const int other = StartChild([&] {
    auto mgr2 = f.Open();
    mgr2->SetTableLock(5, ltRead);
    mgr2->ReleaseTableLock(5);
    if (ErrorCodeOf([&] { mgr2->SetTableLock(5, ltWrite); }) != 0x2809) return 1;
    mgr2->SetTableLock(5, ltRead);
    ready.Send();
    stop.Wait();
    return 0;
  });
  ASSERT_TRUE(ready.Wait());

  // Commit makes the read locks write locks, which waits for that reader.
  ExpectError(0x2809, "A write lock could not be obtained on the table",
              [&] { mgr->DiskCommit(); });
  EXPECT_TRUE(mgr->IsTransactionActive());
  stop.Send();
  EXPECT_EQ(WaitChild(other), 0);
  mgr->DiskCommit();
  EXPECT_FALSE(mgr->IsTransactionActive());
  EXPECT_EQ(mgr->TableLockMgr()->GetLockCount(), 0);
  EXPECT_EQ(mgr->TransactionLockMgr()->GetLockCount(), 0);
  EXPECT_EQ(mgr->RecordLockMgr()->GetLockCount(), 0);
  EXPECT_EQ(CountLockedBytes(f.LckName, TableLockBase + 5 * TableLockRegion, TableLockRegion), 0);
  mgr->Close();
  EXPECT_TRUE(FileIsIntact(f.Name));
}

TEST(DiskMgrTransactions, ACommitThatWritesNothingNeitherWaitsForReadersNorKeepsALock) {
  DiskFixture f;
  auto mgr = f.Open();
  mgr->DiskStartTransaction(false);
  EXPECT_EQ(mgr->SetTableLock(5, ltWrite), ltRead);
  EXPECT_EQ(mgr->SetTableLock(6, ltRead), ltRead);

  TSignal ready, stop, written;
  const int other = StartChild([&] {
    auto mgr2 = f.Open();
    mgr2->SetTableLock(5, ltRead);
    ready.Send();
    stop.Wait();
    mgr2->ReleaseTableLock(5);
    // Nothing of the committed transaction is left in the way of a writer.
    for (const uint32_t table : {5u, 6u}) {
      if (mgr2->SetTableLock(table, ltWrite) != ltWrite) return 1;
      mgr2->ReleaseTableLock(table);
    }
    written.Send();
    return 0;
  });
  ASSERT_TRUE(ready.Wait());
  mgr->DiskCommit();  // no page to write: the reader is no obstacle
  EXPECT_FALSE(mgr->IsTransactionActive());
  EXPECT_EQ(mgr->TableLockMgr()->GetLockCount(), 0);
  EXPECT_EQ(mgr->TransactionLockMgr()->GetLockCount(), 0);
  stop.Send();
  EXPECT_TRUE(written.Wait());
  EXPECT_EQ(WaitChild(other), 0);
  mgr->Close();
  EXPECT_TRUE(FileIsIntact(f.Name));
}

TEST(DiskMgrTransactions, SkippingTheTransactionLockKeepsTheRequestedType) {
  DiskFixture f;
  auto mgr = f.Open();
  mgr->DiskStartTransaction(true);
  EXPECT_EQ(mgr->SetTableLock(6, ltWrite), ltWrite);
  EXPECT_EQ(mgr->TransactionLockMgr()->GetLockCount(), 0);
  mgr->DiskRollback();
  EXPECT_EQ(mgr->TableLockMgr()->GetLockCount(), 0);
}

TEST(DiskMgrTransactions, CommitAndRollbackEndTheHeaderLock) {
  DiskFixture f;
  auto mgr = f.Open();
  auto other = f.Open();
  for (const bool commit : {true, false}) {
    SCOPED_TRACE(commit);
    mgr->DiskStartTransaction(false);
    mgr->SetHeaderWriteLock();
    const std::vector<uint8_t> page(kPage, 0x5A);
    mgr->WriteNewPages(2, afCached, 1, page.data(), 9);
    if (commit) {
      mgr->DiskCommit();
    } else {
      mgr->DiskRollback();
    }
    EXPECT_FALSE(mgr->HeaderReadLocked());
    EXPECT_FALSE(mgr->HeaderWriteLocked());
    EXPECT_EQ(mgr->TableLockMgr()->GetLockCount(), 0);
    // So the next header lock reads the header again, and others get theirs.
    other->SetHeaderWriteLock();
    other->ReleaseHeaderLock();
  }
  mgr->Close();
  other->Close();
  testsupport::IntegrityCheck check(f.Name);
  ASSERT_TRUE(check.Run()) << check.Report();
  EXPECT_EQ(check.PagesOwnedBy((2 << 4) | 9).size(), 1u);  // the committed one
}

TEST(DiskMgrTransactions, ForceToDiskWritesTheTransactionAndKeepsItGoing) {
  DiskFixture f;
  auto mgr = f.Open();
  mgr->DiskStartTransaction(false);
  const std::vector<uint8_t> page(kPage, 0x3C);
  const uint32_t address = mgr->WriteNewPages(1, afCached, 1, page.data(), 9);
  EXPECT_LT(FileBytes(f.Name).size(), size_t{address} + kPage);
  mgr->ForceToDisk();
  EXPECT_TRUE(mgr->IsTransactionActive());
  EXPECT_EQ(mgr->QueryTableLockStatus(0), ltRead);  // locks stay with the transaction
  const auto bytes = FileBytes(f.Name);
  ASSERT_GE(bytes.size(), size_t{address} + kPage);
  EXPECT_EQ(bytes[address + 10], 0x3C);
  mgr->DiskCommit();
  mgr->ForceToDisk();  // outside a transaction it only flushes
  mgr->Close();
  EXPECT_TRUE(FileIsIntact(f.Name));
}

// ---------------------------------------------------------------- security header

TEST(DiskMgrSecurity, TheHeaderRoundTripsAndRefusesWrongKeysAndDamage) {
  DiskFixture f;
  {
    auto mgr = f.Open();
    mgr->SetCryptKey("open sesame");
    TSecurityHeader written;
    const double before = plat::Now();
    mgr->WriteSecurityHeader(written);
    EXPECT_EQ(written.Size, 40u);
    EXPECT_GE(written.CreationTime, before);
    TSecurityHeader read;
    mgr->ReadSecurityHeader(read);
    EXPECT_EQ(read.CreationTime, written.CreationTime);
    EXPECT_EQ(read.Digest, written.Digest);
    EXPECT_EQ(read.CRC, written.CRC);
    TSha1Digest digest;
    GetSHA1FromString("open sesame", digest);
    EXPECT_EQ(read.Digest, digest);
  }
  EXPECT_TRUE(FileIsIntact(f.Name));

  struct Case {
    const char* Key;
    bool Accepted;
  };
  for (const Case& c : {Case{"open sesame", true}, Case{"Open Sesame", false}, Case{"", false}}) {
    SCOPED_TRACE(c.Key);
    auto mgr = f.Open();
    mgr->SetCryptKey(c.Key);
    TSecurityHeader header;
    if (c.Accepted) {
      mgr->ReadSecurityHeader(header);
    } else {
      ExpectError(0x2103, "The MasterKey is incorrect", [&] { mgr->ReadSecurityHeader(header); });
    }
  }

  // One changed byte anywhere in the header breaks its CRC.
  for (const uint32_t offset : {0x04u, 0x12u, 0x26u}) {
    SCOPED_TRACE(offset);
    auto bytes = FileBytes(f.Name);
    {
      plat::TOSFile raw;
      ASSERT_TRUE(raw.Open(f.Name, plat::TFileAccess::faReadWrite, plat::TFileShare::fsDenyNone));
      const uint8_t flipped = bytes[SecurityHeaderAddress + offset] ^ 0x40;
      ASSERT_EQ(raw.WriteAt(SecurityHeaderAddress + offset, &flipped, 1), 1);
    }
    EXPECT_FALSE(FileIsIntact(f.Name));
    auto mgr = f.Open();
    mgr->SetCryptKey("open sesame");
    TSecurityHeader header;
    ExpectError(0x2103, "The Security Header CRC is incorrect",
                [&] { mgr->ReadSecurityHeader(header); });
    mgr->Close();
    plat::TOSFile raw;
    ASSERT_TRUE(raw.Open(f.Name, plat::TFileAccess::faReadWrite, plat::TFileShare::fsDenyNone));
    ASSERT_EQ(
        raw.WriteAt(SecurityHeaderAddress + offset, &bytes[SecurityHeaderAddress + offset], 1), 1);
  }
}

TEST(DiskMgrSecurity, AnEmptyKeyStandsForTheDefaultKey) {
  DiskFixture f;
  auto mgr = f.Open();
  mgr->SetCryptKey("");
  EXPECT_EQ(mgr->MasterKey(), std::string(DefaultBlowfishKey));
  TSecurityHeader header;
  mgr->WriteSecurityHeader(header);
  TSha1Digest digest;
  GetSHA1FromString(std::string(DefaultBlowfishKey), digest);
  EXPECT_EQ(header.Digest, digest);
  mgr->SetCryptKey(std::string(DefaultBlowfishKey));
  mgr->ReadSecurityHeader(header);
  mgr->SetCryptKey("anything else");
  ExpectError(0x2103, "The MasterKey is incorrect", [&] { mgr->ReadSecurityHeader(header); });
  mgr->Close();
  EXPECT_TRUE(FileIsIntact(f.Name));
}

TEST(DiskMgrCreate, AnExistingNameIsRefusedAndLeftAlone) {
  DiskFixture f;
  const auto before = FileBytes(f.Name);
  TDiskMgr mgr;
  mgr.SetFileName(f.Name);
  mgr.SetPageSize(kPage);
  ExpectError(0x2B23, "", [&] { mgr.CreateNewFile(); });
  EXPECT_EQ(FileBytes(f.Name), before);
}

// ---------------------------------------------------------------- blocks

TEST(DiskMgrBlocks, BestPageRequestSizes) {
  struct Case {
    uint32_t Block, Page, Expected;
  };
  const Case cases[] = {
      {1024, 4096, 4096},  {600, 4096, 4096},  {1500, 4096, 28672}, {3000, 4096, 12288},
      {5000, 4096, 45056}, {4096, 4096, 4096}, {8192, 4096, 8192},  {1, 4096, 4096},
      {100, 256, 256},     {4095, 4096, 4096}, {2049, 4096, 36864},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Block);
    EXPECT_EQ(TDiskMgr::GetBestPageRequestSize(c.Block, c.Page), c.Expected);
  }
  ExpectError(0x2185, "", [] { TDiskMgr::GetBestPageRequestSize(0, 4096); });
}

TEST(DiskMgrBlocks, ListAllocatedFixedBlocksWalksTheStoresRuns) {
  DiskFixture f;
  auto mgr = f.Open();
  // A store of 1500-byte blocks takes 7 pages at a time and fits 19 blocks.
  const uint32_t request = TDiskMgr::GetBestPageRequestSize(1500, kPage);
  ASSERT_EQ(request, 7u * kPage);
  const std::vector<uint8_t> run(request, 0);
  const uint32_t first = mgr->WriteNewPages(3, afCached, 7, run.data(), 9);
  const uint32_t other = mgr->WriteNewPages(3, afCached, 1, run.data(), 8);  // another use
  const uint32_t second = mgr->WriteNewPages(3, afCached, 7, run.data(), 9);
  ASSERT_LT(first, other);
  std::vector<uint32_t> blocks{12345};
  mgr->ListAllocatedFixedBlocks(1500, 3, 9, blocks);
  ASSERT_EQ(blocks.size(), 38u);
  for (uint32_t b = 0; b < 19; ++b) {
    EXPECT_EQ(blocks[b], first + b * 1500);
    EXPECT_EQ(blocks[19 + b], second + b * 1500);
  }
  EXPECT_EQ(mgr->QueryTableLockStatus(0), ltNone);  // the header lock is given back

  mgr->ListAllocatedFixedBlocks(kPage, 3, 8, blocks);
  EXPECT_EQ(blocks, std::vector<uint32_t>{other});

  // A run cut short is a damaged store, not a list of wrong addresses.
  mgr->ReleasePages(second + 3 * kPage, 1);
  ExpectError(0x2103, "", [&] { mgr->ListAllocatedFixedBlocks(1500, 3, 9, blocks); });
  ExpectError(0x2185, "", [&] { mgr->ListAllocatedFixedBlocks(0, 3, 9, blocks); });
  mgr->Close();
  EXPECT_TRUE(FileIsIntact(f.Name));
}

TEST(DiskMgrBlocks, CustomSizesCopiesAndTheCacheSize) {
  DiskFixture f;
  auto mgr = f.Open();
  const std::vector<uint8_t> page(kPage, 0);
  const uint32_t address = mgr->WriteNewPages(1, afCached, 1, page.data(), 9);
  const char text[] = "twelve bytes";
  mgr->WriteCustomSize(address + 100, 12, 1, afCached, text);
  char back[12] = {};
  mgr->ReadCustomSize(address + 100, 12, 1, afCached, back);
  EXPECT_EQ(std::memcmp(back, text, 12), 0);
  uint8_t* pointer = nullptr;
  mgr->ReadCustomSizeByRef(address, kPage, 1, afCached, pointer);
  ASSERT_NE(pointer, nullptr);
  EXPECT_EQ(pointer[100], 't');
  pointer[0] = 0x77;
  mgr->WriteCustomSizeByRef(address, kPage, 1, afCached, pointer);
  EXPECT_EQ(mgr->DiskCacheSize(), 50 * kPage);

  const std::string copy = f.Dir.File("copy.zel");
  mgr->CopyCurrentFile(copy);
  EXPECT_EQ(FileBytes(copy), FileBytes(f.Name));
  EXPECT_EQ(FileBytes(copy)[address], 0x77);
  EXPECT_FALSE(TDiskMgr::DoCopyFile(f.Name, copy, true));
  EXPECT_TRUE(TDiskMgr::DoCopyFile(f.Name, copy, false));
  mgr->Close();
  EXPECT_TRUE(FileIsIntact(copy));
}

}  // namespace
}  // namespace zel
