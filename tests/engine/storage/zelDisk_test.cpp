#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelDisk.h"
#include "platform/os/Files.h"
#include "support/IntegrityCheck.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using storagetest::ExpectError;

std::vector<uint8_t> FileBytes(const std::string& Name) {
  std::ifstream in(Name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void CreateDatabase(const std::string& Name, int32_t PageSize) {
  TDiskMgr mgr;
  mgr.SetFileName(Name);
  mgr.SetPageSize(PageSize);
  mgr.CreateNewFile();
}

TEST(DiskMgrCreate, ANewFileHasTheSixPageLayout) {
  testsupport::TempDir dir;
  for (int32_t pageSize : {256, 512, 4096}) {
    SCOPED_TRACE(pageSize);
    const std::string name = dir.File("new" + std::to_string(pageSize) + ".zel");
    CreateDatabase(name, pageSize);
    testsupport::IntegrityCheck check(name, pageSize);
    ASSERT_TRUE(check.Run()) << check.Report();
    EXPECT_EQ(check.Bytes().size(), static_cast<size_t>(6 * pageSize));
    EXPECT_EQ(check.HeaderU32(0x14), 5u * pageSize);  // FirstMapPage
    EXPECT_EQ(check.HeaderU32(0x18), 1u);             // MapPageCount
    EXPECT_EQ(check.HeaderU32(0x10), 5u * pageSize);  // FirstMapPageEmpty as created
    for (uint32_t page = 0; page < 5; ++page) EXPECT_EQ(check.Entry(page), 1) << page;
    EXPECT_EQ(check.Entry(5), 2);
    const uint32_t map = 5 * pageSize;
    EXPECT_EQ(check.U16(map + 8), 0);  // no free entry
    EXPECT_EQ(check.U32(map + 4), 0u);
    for (uint32_t offset = 0x14 + 12; offset < static_cast<uint32_t>(pageSize); offset += 2)
      ASSERT_EQ(check.U16(map + offset), 0) << offset;
    // Everything else of the system area is zero until the database writes it.
    for (size_t i = 0; i < static_cast<size_t>(5 * pageSize); ++i)
      if (i < 1024 || i >= 1024 + 128) {
        ASSERT_EQ(check.Bytes()[i], 0) << i;
      }
  }
}

TEST(DiskMgrCreate, RefusesBadPageSizesAndExistingFiles) {
  testsupport::TempDir dir;
  for (int32_t pageSize : {0, 128, 100, 3000, 65536}) {
    TDiskMgr mgr;
    mgr.SetFileName(dir.File("bad.zel"));
    mgr.SetPageSize(pageSize);
    ExpectError(0x2185, "Invalid database page size", [&] { mgr.CreateNewFile(); });
    EXPECT_FALSE(plat::FileExists(dir.File("bad.zel"))) << pageSize;
  }
  const std::string name = dir.File("taken.zel");
  {
    std::ofstream out(name);
    out << "keep me";
  }
  TDiskMgr mgr;
  mgr.SetFileName(name);
  mgr.SetPageSize(4096);
  ExpectError(0x2B23, "", [&] { mgr.CreateNewFile(); });
  EXPECT_EQ(FileBytes(name), (std::vector<uint8_t>{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
}

TEST(DiskMgrOpen, RefusesWithoutPageSizeOrFile) {
  testsupport::TempDir dir;
  TDiskMgr mgr;
  mgr.SetFileName(dir.File("none.zel"));
  ExpectError(0x2185, "PageSize is 0", [&] { mgr.Open(); });
  mgr.SetPageSize(4096);
  ExpectError(0x2B02, dir.File("none.zel"), [&] { mgr.Open(); });
  EXPECT_FALSE(mgr.IsOpen());
}

TEST(DiskMgrOpen, OpensWithTheRequestedSharing) {
  testsupport::TempDir dir;
  const std::string name = dir.File("db.zel");
  CreateDatabase(name, 4096);
  TDiskMgr first;
  first.SetFileName(name);
  first.SetPageSize(4096);
  first.SetOpenFlags(ofReadWrite | ofExclusive);
  first.Open();
  EXPECT_TRUE(first.IsOpen());
  EXPECT_TRUE(first.Exclusive());
  EXPECT_FALSE(first.ReadOnly());
  EXPECT_TRUE(first.UseLocks());
  EXPECT_TRUE(first.GlobalHdr()->HeaderValid());
  EXPECT_EQ(first.GlobalHdr()->GetMapPageCount(), 1u);
  EXPECT_FALSE(first.HeaderReadLocked());
  TDiskMgr second;
  second.SetFileName(name);
  second.SetPageSize(4096);
  ExpectError(0x2101, "", [&] { second.Open(); });
  first.Close();
  EXPECT_FALSE(first.IsOpen());
  EXPECT_FALSE(first.Exclusive());
  second.SetOpenFlags(ofReadOnly | ofShared);
  second.Open();
  EXPECT_TRUE(second.ReadOnly());
  second.Close();
  EXPECT_TRUE(testsupport::FileIsIntact(name));
}

TEST(DiskMgrHeader, ReadingNeedsAHeaderLock) {
  testsupport::TempDir dir;
  const std::string name = dir.File("db.zel");
  CreateDatabase(name, 4096);
  TDiskMgr mgr;
  mgr.SetFileName(name);
  mgr.SetPageSize(4096);
  mgr.Open();
  ExpectError(0x2808, "", [&] { mgr.ReadHeader(); });
  mgr.SetHeaderReadLock();
  mgr.GlobalHdr()->SetGlobalDBGenerator(41);
  mgr.SetHeaderWriteLock();  // already locked: no re-read drops the change
  EXPECT_EQ(mgr.GlobalHdr()->GetGlobalDBGenerator(), 41u);
  mgr.ReleaseHeaderLock();  // writes the changed header
  EXPECT_FALSE(mgr.GlobalHdr()->Dirty());
  mgr.Close();
  testsupport::IntegrityCheck check(name);
  ASSERT_TRUE(check.Run()) << check.Report();
  EXPECT_EQ(check.HeaderU32(0x28), 41u);
}

// A database of small pages, so the map needs several map pages quickly.
class DiskMgrTest : public ::testing::Test {
 protected:
  static constexpr int32_t kPage = 256;

  void SetUp() override {
    name = dir.File("db.zel");
    CreateDatabase(name, kPage);
    Reopen();
  }
  void TearDown() override {
    mgr.Close();
    EXPECT_TRUE(testsupport::FileIsIntact(name, kPage));
  }
  void Reopen() {
    mgr.Close();
    mgr.SetFileName(name);
    mgr.SetPageSize(kPage);
    mgr.Open();
  }
  uint32_t Allocate(int32_t Count, uint32_t Table = 3, uint32_t Usage = 9) {
    const std::vector<uint8_t> data(static_cast<size_t>(Count * kPage),
                                    static_cast<uint8_t>(Table));
    return mgr.WriteNewPages(Table, 1, Count, data.data(), Usage);
  }

  testsupport::TempDir dir;
  std::string name;
  TDiskMgr mgr;
};

TEST_F(DiskMgrTest, TransactionsChangeTheMapOnlyAtCommit) {
  Allocate(3);
  const std::vector<uint8_t> before = FileBytes(name);
  mgr.DiskStartTransaction(false);
  EXPECT_TRUE(mgr.IsTransactionActive());
  // Enough pages to need a second map page.
  const uint32_t run = Allocate(150, 4);
  mgr.ReleasePages(6 * kPage, 1);
  EXPECT_EQ(mgr.GlobalHdr()->GetMapPageCount(), 2u);
  EXPECT_EQ(FileBytes(name), before);
  EXPECT_EQ(mgr.GetFileSize(), static_cast<int64_t>(before.size()) + 151 * kPage);
  mgr.DiskRollback();
  EXPECT_FALSE(mgr.IsTransactionActive());
  EXPECT_EQ(FileBytes(name), before);
  EXPECT_EQ(mgr.GlobalHdr()->GetMapPageCount(), 1u);
  EXPECT_EQ(mgr.GetFileSize(), static_cast<int64_t>(before.size()));

  mgr.DiskStartTransaction(false);
  EXPECT_EQ(Allocate(150, 4), run);
  mgr.ReleasePages(6 * kPage, 1);
  mgr.DiskCommit();
  Reopen();
  testsupport::IntegrityCheck check(name, kPage);
  ASSERT_TRUE(check.Run()) << check.Report();
  EXPECT_EQ(check.MapPages().size(), 2u);
  EXPECT_TRUE(check.IsFree(6));
  EXPECT_EQ(check.PagesOwnedBy((4 << 4) | 9).size(), 150u);
}

TEST_F(DiskMgrTest, WriteNewPagesRefusesOwnerCodesThatReadAsFree) {
  ExpectError(0x2185, "Invalid page owner", [&] { Allocate(1, 2048, 9); });
  ExpectError(0x2185, "Invalid page owner", [&] { Allocate(1, 0, 0); });
  ExpectError(0x2185, "", [&] { Allocate(0); });
}

}  // namespace
}  // namespace zel
