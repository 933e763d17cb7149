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

// Applies Writes to the database Name while its second write fails, which
// raises the write error and leaves the journal behind.
void ApplyFailingAtTheSecondWrite(const std::string& Name, const std::string& Journal,
                                  const std::vector<TJournalWrite>& Writes) {
  testsupport::FaultingFileSystem files;
  files.SetTarget(Name);
  files.FailAt(testsupport::FaultingFileSystem::opWrite, 2);
  testsupport::InstalledFileSystem installed(files);
  std::unique_ptr<plat::TFile> file = OpenFile(Name);
  try {
    TDiskJournal(*file, Journal).Apply(Writes, false);
    ADD_FAILURE() << "no error raised";
  } catch (const EZelDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 0x2402);
  }
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

// Writes reach the file as if made one by one in the order given, whether
// they lie side by side (out of order), overlap or run past the end.
TEST(DiskJournal, WritesLandAsIfMadeInTheirOrder) {
  using TWrites = std::vector<TJournalWrite>;
  const auto fill = [](uint32_t Position, size_t Size, char Byte) {
    return TJournalWrite{Position, std::vector<uint8_t>(Size, static_cast<uint8_t>(Byte))};
  };
  struct Case {
    const char* Name;
    TWrites Writes;
  };
  const Case cases[] = {
      {"side by side", {fill(2 * kPage, kPage, 'x'), fill(0, kPage, 'y'), fill(kPage, kPage, 'z')}},
      {"overlapping", {fill(0, kPage, 'p'), fill(100, 10, 'q'), fill(50, 100, 'r')}},
      {"past the end",
       {fill(4 * kPage, kPage, 'e'), fill(3 * kPage, kPage, 'f'), fill(kPage + 7, 9, 'g')}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    testsupport::TempDir dir;
    const std::string name = dir.File("db.dat");
    { std::ofstream(name, std::ios::binary) << std::string(4 * kPage, 'o'); }
    std::vector<uint8_t> expected = FileBytes(name);
    for (const TJournalWrite& w : c.Writes) {
      if (expected.size() < w.Position + w.Bytes.size())
        expected.resize(w.Position + w.Bytes.size());
      std::copy(w.Bytes.begin(), w.Bytes.end(), expected.begin() + w.Position);
    }
    std::unique_ptr<plat::TFile> file = OpenFile(name);
    TDiskJournal(*file, JournalFileName(name)).Apply(c.Writes, false);
    EXPECT_EQ(FileBytes(name), expected);
    EXPECT_FALSE(plat::FileExists(JournalFileName(name)));
  }
}

// Pages side by side are journalled and written together: a commit whose
// later write fails leaves a journal that holds the original of each and
// puts them back.
TEST(DiskJournal, PagesSideBySideAreJournalledEachWithItsOriginal) {
  testsupport::TempDir dir;
  const std::string name = dir.File("db.dat");
  const std::string journal = JournalFileName(name);
  {
    std::ofstream out(name, std::ios::binary);
    for (const char c : {'a', 'b', 'c', 'd'}) out << std::string(kPage, c);
  }
  const std::vector<uint8_t> original = FileBytes(name);
  ApplyFailingAtTheSecondWrite(name, journal,
                               {{2 * kPage, std::vector<uint8_t>(kPage, 'x')},
                                {3 * kPage + 100, std::vector<uint8_t>(50, 'w')},
                                {0, std::vector<uint8_t>(kPage, 'y')},
                                {kPage, std::vector<uint8_t>(kPage, 'z')}});
  ASSERT_NE(FileBytes(name), original);
  ASSERT_TRUE(plat::FileExists(journal));
  std::unique_ptr<plat::TFile> file = OpenFile(name);
  EXPECT_TRUE(TDiskJournal::Recover(*file, journal));
  EXPECT_EQ(FileBytes(name), original);
  EXPECT_FALSE(plat::FileExists(journal));
}

// A commit of two writes (one past the end) whose second write fails leaves
// the file part new and a complete journal; each case then changes the
// journal or holds it before a recovery. A gap lies between the writes, so
// that they are not made as one.
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
    ApplyFailingAtTheSecondWrite(
        name, journal,
        {{0, std::vector<uint8_t>(kPage / 2, 'n')}, {kPage, std::vector<uint8_t>(2 * kPage, 'n')}});
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
