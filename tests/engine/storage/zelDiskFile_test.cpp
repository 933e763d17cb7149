#include <gtest/gtest.h>

#include <cstring>
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

constexpr int32_t kPage = 4096;
constexpr uint32_t kTable = 7;

using storagetest::FileBytes;

std::vector<uint8_t> RawPage(const std::string& Name, uint32_t Page) {
  const std::vector<uint8_t> bytes = FileBytes(Name);
  if (bytes.size() < (Page + 1) * kPage) return {};
  return {bytes.begin() + Page * kPage, bytes.begin() + (Page + 1) * kPage};
}

std::vector<uint8_t> Pattern(uint8_t Seed) {
  std::vector<uint8_t> page(kPage);
  for (int32_t i = 0; i < kPage; ++i)
    page[static_cast<size_t>(i)] = static_cast<uint8_t>(Seed + i * 31 + i / 7);
  return page;
}

std::vector<uint8_t> Scrambled(const std::vector<uint8_t>& Plain, uint32_t Owner) {
  std::vector<uint8_t> out(Plain.size());
  XORCryptBuf(Plain.data(), out.data(), XORPageKey.data(), static_cast<int32_t>(Owner),
              static_cast<int32_t>(XORPageKey.size()), static_cast<int32_t>(Plain.size()));
  return out;
}

std::vector<uint8_t> Enciphered(const std::vector<uint8_t>& Plain, std::string_view Key) {
  TBlowfishData data{};
  BlowfishInit(data, Key.data(), static_cast<int32_t>(Key.size() * 8), nullptr);
  std::vector<uint8_t> out(Plain.size());
  BlowfishEncryptCFB(data, Plain.data(), out.data(), static_cast<int32_t>(Plain.size()));
  return out;
}

// A new database file opened through a TZelFile. Tests write into the system
// area's pages 1 to 4 and append; at the end the appended pages are given to
// a table, as the disk manager does, and the file must pass the integrity
// check.
class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name = dir.File("file.zel");
    TDiskMgr mgr;
    mgr.SetFileName(name);
    mgr.SetPageSize(kPage);
    mgr.CreateNewFile();
  }
  void TearDown() override {
    file.CloseZelFile();
    const int64_t pages = plat::FileSizeByName(name) / kPage;
    if (pages > 6) {
      TDiskMgr mgr;
      mgr.SetFileName(name);
      mgr.SetPageSize(kPage);
      mgr.Open();
      mgr.SetHeaderWriteLock();
      mgr.MapPageMgr()->AdjustMapPageFlags((kTable << 4) | 9, 6 * kPage,
                                           static_cast<int32_t>(pages - 6));
      mgr.ReleaseHeaderLock();
      mgr.Close();
    }
    EXPECT_TRUE(testsupport::FileIsIntact(name));
  }
  void Open(TZelFile& File, bool Exclusive = false) {
    File.SetXORKeyBuf(XORPageKey.data(), static_cast<int32_t>(XORPageKey.size()));
    File.SetPageSize(kPage);
    File.SetOpenRead(true);
    File.SetOpenWrite(true);
    File.SetOpenReadExclusive(Exclusive);
    File.SetOpenWriteExclusive(Exclusive);
    File.OpenZelFile(name);
    File.SetCacheActive(true);
    File.SetBlowKeyBuf(DefaultBlowfishKey.data(), static_cast<int32_t>(DefaultBlowfishKey.size()));
  }
  void Open() { Open(file); }
  void WritePage(uint32_t Page, const std::vector<uint8_t>& Data, uint32_t Flags,
                 uint32_t Owner = kTable) {
    file.SeekAndWriteZelFile(Data.data(), Page * kPage, kPage, Owner, Flags);
  }
  std::vector<uint8_t> ReadPage(uint32_t Page, uint32_t Flags, uint32_t Owner = kTable) {
    std::vector<uint8_t> data(kPage);
    file.SeekAndReadZelFile(data.data(), Page * kPage, kPage, Owner, Flags);
    return data;
  }

  testsupport::TempDir dir;
  std::string name;
  TZelFile file;
};

TEST(ZelFileOpen, CacheSizeFollowsTheFileSize) {
  testsupport::TempDir dir;
  struct Case {
    int64_t Pages;
    int32_t CachePages;
  };
  for (const Case& c : {Case{0, 50}, Case{100, 50}, Case{1000, 250}, Case{10000, 1000},
                        Case{8000, 1000}, Case{399, 99}}) {
    const std::string name = dir.File("sized" + std::to_string(c.Pages));
    {
      plat::TOSFile raw;
      ASSERT_TRUE(raw.Create(name));
      ASSERT_TRUE(raw.SetSize(c.Pages * kPage));
    }
    TZelFile file;
    file.SetXORKeyBuf("k", 1);
    file.SetOpenRead(true);
    file.OpenZelFile(name);
    EXPECT_EQ(file.PageCache().PageCount(), c.CachePages) << c.Pages;
    EXPECT_EQ(file.TransactionCache().PageCount(), c.CachePages) << c.Pages;
  }
}

TEST(ZelFileOpen, RefusesWithoutPageSizeKeyOrFile) {
  testsupport::TempDir dir;
  TZelFile file;
  file.SetPageSize(0);
  file.SetXORKeyBuf("k", 1);
  ExpectError(0x2185, "Database page size not set on opening",
              [&] { file.OpenZelFile(dir.File("x")); });
  TZelFile noKey;
  ExpectError(0x2185, "Crypt key not set before opening",
              [&] { noKey.OpenZelFile(dir.File("x")); });
  TZelFile missing;
  missing.SetXORKeyBuf("k", 1);
  ExpectError(0x2101, "Unable to open file. Error type of: ", [&] {
    missing.OpenZelFile(dir.File("missing.zel"));
  });
  EXPECT_FALSE(missing.CheckOpen());
}

TEST_F(FileTest, ShareModesDecideWhoElseMayOpen) {
  struct Case {
    bool FirstExclusive, SecondExclusive, SecondOpens;
  };
  for (const Case& c : {Case{false, false, true}, Case{true, false, false},
                        Case{false, true, false}, Case{true, true, false}}) {
    TZelFile first, second;
    Open(first, c.FirstExclusive);
    if (c.SecondOpens) {
      Open(second, c.SecondExclusive);
      EXPECT_TRUE(second.CheckOpen());
    } else {
      ExpectError(0x2101, "", [&] { Open(second, c.SecondExclusive); });
    }
  }
}

TEST_F(FileTest, PagesAreStoredByTheirAccessFlags) {
  Open();
  const std::vector<uint8_t> plain = Pattern(1);
  struct Case {
    uint32_t Flags;
    std::vector<uint8_t> OnDisk;
  };
  for (const Case& c : {Case{1, plain}, Case{3, Scrambled(plain, kTable)},
                        Case{5, Enciphered(plain, DefaultBlowfishKey)}}) {
    SCOPED_TRACE(c.Flags);
    WritePage(2, plain, c.Flags);
    EXPECT_EQ(RawPage(name, 2), c.OnDisk);
    EXPECT_EQ(ReadPage(2, c.Flags), plain);  // from the cache
    file.PageCache().ClearCache();
    EXPECT_EQ(ReadPage(2, c.Flags), plain);  // decrypted from the disk
    file.PageCache().ClearCache();
    EXPECT_EQ(ReadPage(2, 1), c.OnDisk);  // read without the cipher
    file.PageCache().ClearCache();
  }
}

TEST_F(FileTest, EqualPagesOfOneOwnerEncryptEqually) {
  Open();
  const std::vector<uint8_t> plain = Pattern(9);
  for (uint32_t flags : {3u, 5u}) {
    WritePage(3, Pattern(200), flags);  // something else in between
    WritePage(2, plain, flags);
    WritePage(4, plain, flags);
    EXPECT_EQ(RawPage(name, 2), RawPage(name, 4)) << flags;
    EXPECT_NE(RawPage(name, 2), plain) << flags;
  }
  // The scrambler steps by the owner: another table's page differs.
  WritePage(4, plain, 3, kTable + 1);
  EXPECT_NE(RawPage(name, 2), RawPage(name, 4));
}

TEST_F(FileTest, EncryptedPagesNeverReachTheDiskInPlain) {
  Open();
  file.SetCacheActive(false);
  const std::vector<uint8_t> plain = Pattern(3);
  // Without the cache bit, or with the cache off, encryption still applies.
  for (uint32_t flags : {2u, 3u}) {
    WritePage(2, plain, flags);
    EXPECT_EQ(RawPage(name, 2), Scrambled(plain, kTable)) << flags;
    file.PageCache().ClearCache();
    EXPECT_EQ(ReadPage(2, flags), plain) << flags;
  }
  file.StartTransaction();
  WritePage(3, plain, 5);
  EXPECT_EQ(RawPage(name, 3), std::vector<uint8_t>(kPage, 0));
  file.Commit();
  EXPECT_EQ(RawPage(name, 3), Enciphered(plain, DefaultBlowfishKey));
  // Unencrypted uncached accesses go straight to the file.
  WritePage(4, plain, 0);
  EXPECT_EQ(RawPage(name, 4), plain);
}

TEST_F(FileTest, ATransactionWritesNothingUntilCommit) {
  Open();
  WritePage(1, Pattern(1), 1);
  const std::vector<uint8_t> before = FileBytes(name);
  const int64_t size = file.SeekZelEof();

  auto changeEverything = [&] {
    file.StartTransaction();
    EXPECT_TRUE(file.GetTransactionActive());
    WritePage(1, Pattern(11), 1);
    WritePage(2, Pattern(12), 5);
    WritePage(3, Pattern(13), 0);  // uncached: into the transaction cache
    const uint8_t tag[4] = {'T', 'A', 'G', '!'};
    file.WriteThroughZelFile(tag, 4 * kPage + 100, 4);
    const std::vector<uint8_t> two = [] {
      std::vector<uint8_t> pages = Pattern(14);
      const std::vector<uint8_t> second = Pattern(15);
      pages.insert(pages.end(), second.begin(), second.end());
      return pages;
    }();
    EXPECT_EQ(file.SeekAndAppendZelFile(two.data(), 2 * kPage, kTable, 1), size);
    EXPECT_EQ(file.SeekZelEof(), size + 2 * kPage);
    EXPECT_EQ(file.SeekAndAppendZelFile(two.data(), kPage, 0, 0), size + 2 * kPage);
    EXPECT_EQ(file.SeekZelEof(), size + 3 * kPage);
    // Reads inside the transaction see its changes.
    EXPECT_EQ(ReadPage(1, 1), Pattern(11));
    EXPECT_EQ(ReadPage(3, 0), Pattern(13));
    uint8_t back[4];
    file.ReadThroughZelFile(back, 4 * kPage + 100, 4);
    EXPECT_EQ(0, std::memcmp(back, tag, 4));
    EXPECT_EQ(FileBytes(name), before);
  };

  changeEverything();
  file.Rollback();
  EXPECT_FALSE(file.GetTransactionActive());
  EXPECT_EQ(FileBytes(name), before);
  EXPECT_EQ(file.SeekZelEof(), size);
  EXPECT_EQ(ReadPage(1, 1), Pattern(1));

  changeEverything();
  file.Commit();
  EXPECT_EQ(file.SeekZelEof(), size + 3 * kPage);
  EXPECT_EQ(RawPage(name, 1), Pattern(11));
  EXPECT_EQ(RawPage(name, 2), Enciphered(Pattern(12), DefaultBlowfishKey));
  EXPECT_EQ(RawPage(name, 3), Pattern(13));
  EXPECT_EQ(RawPage(name, 4)[100], 'T');
  EXPECT_EQ(RawPage(name, 6), Pattern(14));
  EXPECT_EQ(RawPage(name, 7), Pattern(15));
  EXPECT_EQ(RawPage(name, 8), Pattern(14));

  ExpectError(0x2811, "", [&] { file.Commit(); });
  ExpectError(0x2811, "", [&] { file.Rollback(); });
  file.StartTransaction();
  ExpectError(0x2810, "", [&] { file.StartTransaction(); });
  file.Rollback();
}

TEST_F(FileTest, AppendsGoAfterPagesAnotherProcessAppended) {
  Open();
  const int64_t size = file.SeekZelEof();
  file.StartTransaction();
  const int child = testsupport::RunInChild([this] {
    TZelFile other;
    Open(other);
    const std::vector<uint8_t> page(kPage, 0xC1);
    other.SeekAndAppendZelFile(page.data(), kPage, 0, 0);
    return 0;
  });
  ASSERT_EQ(child, 0);
  const std::vector<uint8_t> mine(kPage, 0xA1);
  EXPECT_EQ(file.SeekAndAppendZelFile(mine.data(), kPage, kTable, 1), size + kPage);
  file.Commit();
  EXPECT_EQ(RawPage(name, 6), std::vector<uint8_t>(kPage, 0xC1));
  EXPECT_EQ(RawPage(name, 7), mine);
}

TEST_F(FileTest, KeysAreCheckedAndKept) {
  Open();
  ExpectError(0x2185, "Cannot set Crypt key on an opened file", [&] { file.SetXORKeyBuf("x", 1); });
  const std::vector<uint8_t> plain = Pattern(4);
  WritePage(2, plain, 3);
  EXPECT_EQ(RawPage(name, 2), Scrambled(plain, kTable));  // the old key still serves

  ExpectError(0x2185, "Crypt key error (blowfish): Message was - ",
              [&] { file.SetBlowKeyBuf("", 0); });
  // A key longer than the cipher takes is used up to its limit.
  const std::string longKey(60, 'q');
  file.SetBlowKeyBuf(longKey.data(), static_cast<int32_t>(longKey.size()));
  WritePage(3, plain, 5);
  EXPECT_EQ(RawPage(name, 3), Enciphered(plain, std::string_view(longKey).substr(0, 56)));

  TZelFile keyless;
  keyless.SetXORKeyBuf("k", 1);
  keyless.SetOpenRead(true);
  keyless.SetOpenWrite(true);
  keyless.OpenZelFile(dir.File("file.zel"));
  keyless.SetCacheActive(true);
  ExpectError(0x2185, "Crypt key error (blowfish)",
              [&] { keyless.SeekAndWriteZelFile(plain.data(), 3 * kPage, kPage, 1, 5); });
}

TEST_F(FileTest, ReleasedPagesAreZeroedAndDropped) {
  Open();
  const std::vector<uint8_t> zeros(kPage, 0);
  WritePage(2, Pattern(5), 5);
  file.ReleasePage(2 * kPage, zeros.data());
  EXPECT_EQ(RawPage(name, 2), zeros);
  EXPECT_FALSE(file.PageCache().IsBaseAddrInCache(2 * kPage));

  WritePage(3, Pattern(6), 5);
  file.StartTransaction();
  file.ReleasePage(3 * kPage, zeros.data());
  EXPECT_EQ(RawPage(name, 3), Enciphered(Pattern(6), DefaultBlowfishKey));
  file.Commit();
  EXPECT_EQ(RawPage(name, 3), zeros);
  EXPECT_FALSE(file.PageCache().IsBaseAddrInCache(3 * kPage));
}

TEST_F(FileTest, CopiesTheWholeFile) {
  TZelFile closed;
  ExpectError(0x2101, "", [&] { closed.CopyZelFile(dir.File("copy.zel")); });
  Open();
  WritePage(2, Pattern(8), 3);
  file.CopyZelFile(dir.File("copy.zel"));
  EXPECT_EQ(FileBytes(dir.File("copy.zel")), FileBytes(name));
  EXPECT_TRUE(testsupport::FileIsIntact(dir.File("copy.zel")));
  // Copying onto itself must not truncate the database.
  const std::vector<uint8_t> before = FileBytes(name);
  ExpectError(0x2102, "The file could not be copied correctly", [&] { file.CopyZelFile(name); });
  EXPECT_EQ(FileBytes(name), before);
  file.FlushBuffers();
}

TEST_F(FileTest, ByRefAccessNeedsTheCache) {
  Open();
  uint8_t* page = nullptr;
  ExpectError(0x2185, "SeekAndReadZelFileByRef failed to access cache",
              [&] { file.SeekAndReadZelFileByRef(kPage, 16, kTable, 0, page); });
  ExpectError(0x2185, "SeekAndWriteZelFileByRef accessed in error",
              [&] { file.SeekAndWriteZelFileByRef(page, kPage, kPage, kTable, 0); });
  file.SeekAndReadZelFileByRef(kPage + 16, 16, kTable, 3, page);
  std::memset(page, 0x6B, 16);
  file.SeekAndWriteZelFileByRef(page, kPage, kPage, kTable, 3);
  file.PageCache().ClearCache();
  EXPECT_EQ(ReadPage(1, 3)[20], 0x6B);
}

TEST_F(FileTest, RangesPastTheSizeLimitAreRefused) {
  Open();
  std::vector<uint8_t> buf(kPage);
  struct Case {
    uint32_t Position;
    int32_t Count;
  };
  for (const Case& c : {Case{0xFFFFFF00u, 512}, Case{0x7FFFFF00u, 512}, Case{kPage, -1}}) {
    for (uint32_t flags : {0u, 1u}) {
      ExpectError(0x2185, "Invalid file position",
                  [&] { file.SeekAndReadZelFile(buf.data(), c.Position, c.Count, 1, flags); });
      ExpectError(0x2185, "Invalid file position",
                  [&] { file.SeekAndWriteZelFile(buf.data(), c.Position, c.Count, 1, flags); });
    }
  }
}

TEST_F(FileTest, ATableIdOutOfRangeIsOnlyLogged) {
  Open();
  const int32_t before = GDBLogger()->LogList()->Count();
  WritePage(2, Pattern(2), 1, 3000);
  EXPECT_EQ(ReadPage(2, 1, 3000), Pattern(2));
  const plat::TStringList& log = *GDBLogger()->LogList();
  ASSERT_GT(log.Count(), before);
  EXPECT_NE(log.Strings(log.Count() - 1).find("Invalid table id"), std::string::npos);
}

TEST_F(FileTest, BlockCacheWritesPlainBlocksAtCommit) {
  Open();
  file.StartTransaction();
  const std::vector<uint8_t> block(300, 0x3C);
  file.BlockCache().WriteBlock(block.data(), kTable, 300, 0, kPage + 10, 1);
  EXPECT_EQ(RawPage(name, 1)[10], 0);
  file.Commit();
  EXPECT_EQ(RawPage(name, 1)[10], 0x3C);
  EXPECT_EQ(RawPage(name, 1)[309], 0x3C);
  EXPECT_EQ(RawPage(name, 1)[310], 0);
  // Blocks are never encrypted, so encrypted data may not take that path.
  for (uint32_t flags : {3u, 5u}) {
    ExpectError(0x2185, "Encrypted data cannot be written as a block", [&] {
      file.BlockCache().WriteBlock(block.data(), kTable, 300, 0, 2 * kPage, flags);
    });
  }
  EXPECT_EQ(RawPage(name, 2)[0], 0);
}

}  // namespace
}  // namespace zel
