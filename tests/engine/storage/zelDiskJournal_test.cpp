// The commit journal on a plain file: a commit cut short by a failing disk
// leaves a journal that puts the original bytes and length back, unless it
// is torn or its writer still holds it.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelDiskJournal.h"
#include "platform/os/Files.h"
#include "support/FaultingFileSystem.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using storagetest::FileBytes;

constexpr uint32_t kPage = 4096;

std::unique_ptr<plat::TFile> OpenFile(const std::string& Name) {
  std::unique_ptr<plat::TFile> file = plat::FileSystem().NewFile();
  EXPECT_TRUE(file->Open(Name, plat::TFileAccess::faReadWrite, plat::TFileShare::fsDenyNone));
  return file;
}

TEST(DiskJournal, NamedBesideTheDatabase) {
  EXPECT_EQ(JournalFileName("/d/orders.dat"), "/d/orders_dat.jnl");
  EXPECT_EQ(JournalFileName("/d/orders.zel"), "/d/orders.jnl");
}

TEST(DiskJournal, WritesReachTheFileAndTheJournalGoes) {
  testsupport::TempDir dir;
  const std::string name = dir.File("db.dat");
  { std::ofstream(name, std::ios::binary) << std::string(2 * kPage, 'o'); }
  std::unique_ptr<plat::TFile> file = OpenFile(name);
  for (const bool durable : {false, true}) {
    TDiskJournal(*file, JournalFileName(name))
        .Apply({{kPage, std::vector<uint8_t>(kPage, durable ? 'd' : 'n')},
                {2 * kPage, std::vector<uint8_t>(kPage, 'x')}},
               durable);
    const std::vector<uint8_t> bytes = FileBytes(name);
    ASSERT_EQ(bytes.size(), 3 * kPage);
    EXPECT_EQ(bytes[kPage], durable ? 'd' : 'n');
    EXPECT_FALSE(plat::FileExists(JournalFileName(name)));
  }
}

// A commit of two writes (one past the end) whose second write fails leaves
// the file part new and a complete journal; each case then changes the
// journal or holds it before a recovery.
TEST(DiskJournal, RecoveryPlaysBackOnlyACompleteJournalOfADeadWriter) {
  enum Damage { dNone, dTornBody, dTornHeader, dWriterAlive };
  struct Case {
    const char* Name;
    Damage Kind;
    bool Restored;
  };
  const Case cases[] = {{"complete", dNone, true},
                        {"torn body", dTornBody, false},
                        {"torn header", dTornHeader, false},
                        {"writer alive", dWriterAlive, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    testsupport::TempDir dir;
    const std::string name = dir.File("db.dat");
    const std::string journal = JournalFileName(name);
    { std::ofstream(name, std::ios::binary) << std::string(2 * kPage, 'o'); }
    const std::vector<uint8_t> original = FileBytes(name);
    {
      testsupport::FaultingFileSystem files;
      files.SetTarget(name);
      files.FailAt(testsupport::FaultingFileSystem::opWrite, 2);
      testsupport::InstalledFileSystem installed(files);
      std::unique_ptr<plat::TFile> file = OpenFile(name);
      try {
        TDiskJournal(*file, journal)
            .Apply({{0, std::vector<uint8_t>(kPage, 'n')},
                    {kPage, std::vector<uint8_t>(2 * kPage, 'n')}},
                   false);
        ADD_FAILURE() << "no error raised";
      } catch (const EZelDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode(), 0x2402);
      }
    }
    const std::vector<uint8_t> torn = FileBytes(name);
    ASSERT_NE(torn, original);
    ASSERT_TRUE(plat::FileExists(journal));
    std::unique_ptr<plat::TFile> holder;
    std::unique_ptr<plat::TFile> j = OpenFile(journal);
    const int64_t size = j->Size();
    if (c.Kind == dTornBody) {
      const uint8_t byte = 'x';
      ASSERT_EQ(j->WriteAt(size - 1, &byte, 1), 1);
    }
    if (c.Kind == dTornHeader) {
      ASSERT_TRUE(j->SetSize(40));
    }
    if (c.Kind == dWriterAlive) {
      ASSERT_TRUE(j->LockRange(0, 1));
      holder = std::move(j);
    }
    j.reset();

    std::unique_ptr<plat::TFile> file = OpenFile(name);
    EXPECT_EQ(TDiskJournal::Recover(*file, journal), c.Kind == dNone || c.Kind == dTornBody ||
                                                         c.Kind == dTornHeader);
    EXPECT_EQ(FileBytes(name), c.Restored ? original : torn);
    EXPECT_EQ(plat::FileExists(journal), c.Kind == dWriterAlive);
    if (c.Kind == dWriterAlive) {
      // Once the writer is gone, the next recovery plays it back.
      holder.reset();
      EXPECT_TRUE(TDiskJournal::Recover(*file, journal));
      EXPECT_EQ(FileBytes(name), original);
      EXPECT_FALSE(plat::FileExists(journal));
    }
  }
}

}  // namespace
}  // namespace zel
