#include "engine/storage/zelLockMgrUnit.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/storage/zelConsts.h"
#include "platform/os/Files.h"
#include "platform/os/Os.h"
#include "support/TestDir.h"
#include "zelLockTestSupport.h"

namespace zel {
namespace {

using locktest::CountLockedBytes;
using locktest::ErrorCodeOf;
using locktest::ExpectError;
using locktest::TSignal;
using plat::TFileAccess;
using plat::TFileShare;
using plat::TOSFile;
using testsupport::StartChild;
using testsupport::TempDir;
using testsupport::WaitChild;

constexpr uint64_t kFirstSlotRange = UserSlotLockBase + LockFileSlotSize;

// A database file and its lock file name in a fresh directory.
struct LockFixture {
  TempDir Dir;
  std::string DbName = Dir.File("test.zel");
  std::string LckName = Dir.File("test.lck");

  LockFixture() {
    TOSFile db;
    if (!db.Create(DbName)) throw std::runtime_error("cannot create the database file");
  }
  // A handle of the database file as the disk manager would hold it.
  std::unique_ptr<TOSFile> OpenDb() const {
    auto db = std::make_unique<TOSFile>();
    if (!db->Open(DbName, TFileAccess::faReadWrite, TFileShare::fsDenyNone))
      throw std::runtime_error("cannot open the database file");
    return db;
  }
  // Non-empty slot texts.
  static std::vector<std::string> Users(TDBUserMonitor& Monitor) {
    plat::TStringList list;
    Monitor.GetCurrentUsers(list);
    std::vector<std::string> users;
    for (int32_t i = 0; i < list.Count(); ++i)
      if (!list.Strings(i).empty()) users.push_back(list.Strings(i));
    return users;
  }
};

// True when Handle still is the file at Name.
bool SameFile(plat::TFile& Handle, const std::string& Name) {
  uint64_t d1 = 0, i1 = 0, d2 = 0, i2 = 0;
  return Handle.Identity(d1, i1) && plat::FileIdentity(Name, d2, i2) && d1 == d2 && i1 == i2;
}

TEST(UserMonitor, ConnectionsOfOneUserShareASlotWithTheirOwnBytes) {
  LockFixture f;
  auto db = f.OpenDb();
  TDBUserMonitor first(db.get(), f.LckName);
  first.Open("alice", "host one");
  EXPECT_EQ(first.UserEntry(), "\"host one\",alice");
  EXPECT_EQ(first.SlotLockOffset(), kFirstSlotRange);
  ASSERT_TRUE(plat::FileExists(f.LckName));

  // A second connection of the same user in this process, and one in another
  // process, each take the next free byte of the same slot.
  TDBUserMonitor second(db.get(), f.LckName);
  second.Open("ALICE", "HOST ONE");  // the slot is found without regard to case
  EXPECT_EQ(second.SlotLockOffset(), kFirstSlotRange + 1);

  TSignal ready, done;
  const int child = StartChild([&] {
    auto childDb = f.OpenDb();
    TDBUserMonitor m(childDb.get(), f.LckName);
    m.Open("alice", "host one");
    const auto byte = static_cast<int>(m.SlotLockOffset() - kFirstSlotRange);
    ready.Send();
    done.Wait();
    m.Close();
    return byte;
  });
  ASSERT_TRUE(ready.Wait());
  EXPECT_EQ(LockFixture::Users(first), std::vector<std::string>{"\"host one\",alice"});
  EXPECT_EQ(first.GetCurrentConnectionCount(), 3);
  EXPECT_EQ(first.CountConnectionsForUser(kFirstSlotRange), 3);
  EXPECT_EQ(first.GetCurrentUserCount(), 1);
  done.Send();
  EXPECT_EQ(WaitChild(child), 2);

  // Counting probes every byte but leaves this connection's own byte held.
  EXPECT_EQ(first.GetCurrentConnectionCount(), 2);
  EXPECT_EQ(CountLockedBytes(f.LckName, kFirstSlotRange, LockFileSlotSize), 2);

  second.Close();
  EXPECT_EQ(LockFixture::Users(first).size(), 1u);  // the slot stays for first
  first.Close();
  EXPECT_FALSE(plat::FileExists(f.LckName));  // the last close deletes the file
}

TEST(UserMonitor, SlotsOfOtherUsersAndTheDump) {
  LockFixture f;
  auto db = f.OpenDb();
  TDBUserMonitor a(db.get(), f.LckName), b(db.get(), f.LckName), c(db.get(), f.LckName);
  a.Open("ann", "pc");
  b.Open("bob", "pc");
  c.Open("cy, \"the\" admin", "pc");
  EXPECT_EQ(b.SlotLockOffset(), kFirstSlotRange + LockFileSlotSize);
  EXPECT_EQ(c.UserEntry(), "pc,\"cy, \"\"the\"\" admin\"");
  EXPECT_EQ(a.GetCurrentUserCount(), 3);

  // b's slot is freed and reused by the next new user; a's stays.
  b.Close();
  plat::TStringList list;
  a.GetCurrentUsers(list);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Strings(1), "");
  TDBUserMonitor d(db.get(), f.LckName);
  d.Open("dora", "pc");
  EXPECT_EQ(d.SlotLockOffset(), kFirstSlotRange + LockFileSlotSize);

  plat::TStringList dump;
  a.DebugDumpStatus(dump);
  ASSERT_EQ(dump.Count(), 4);
  EXPECT_EQ(dump.Strings(0), "User pc,ann - connections 1");
  EXPECT_EQ(dump.Strings(1), "User pc,dora - connections 1");
  EXPECT_EQ(dump.Strings(3), "Total Users 3");
}

TEST(UserMonitor, AKilledProcessLeavesASlotThatTheNextCloseSweeps) {
  LockFixture f;
  auto db = f.OpenDb();
  TDBUserMonitor a(db.get(), f.LckName), b(db.get(), f.LckName);
  a.Open("ann", "pc");
  b.Open("bob", "pc");

  TSignal ready, never;
  const int child = StartChild([&] {
    auto childDb = f.OpenDb();
    TDBUserMonitor m(childDb.get(), f.LckName);
    m.Open("ghost", "elsewhere");
    ready.Send();
    never.Wait(10000);
    return 0;
  });
  ASSERT_TRUE(ready.Wait());
  EXPECT_EQ(LockFixture::Users(a).size(), 3u);
  ::kill(child, SIGKILL);
  EXPECT_EQ(WaitChild(child), -SIGKILL);

  // The dead process's text is still there, but nobody holds its range.
  EXPECT_EQ(LockFixture::Users(a).size(), 3u);
  EXPECT_EQ(a.GetCurrentUserCount(), 2);
  b.Close();
  EXPECT_EQ(LockFixture::Users(a), std::vector<std::string>{"pc,ann"});
  EXPECT_TRUE(plat::FileExists(f.LckName));
  a.Close();
  EXPECT_FALSE(plat::FileExists(f.LckName));
}

TEST(UserMonitor, ProcessesOpeningAndClosingAtOnceNeverSplitAcrossTwoLockFiles) {
  LockFixture f;
  constexpr int kProcesses = 5;
  constexpr int kRounds = 40;
  std::vector<int> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(StartChild([&, p] {
      auto db = f.OpenDb();
      for (int round = 0; round < kRounds; ++round) {
        TDBUserMonitor m(db.get(), f.LckName);
        m.Open("user" + std::to_string(p % 2), "pc");
        // While this connection is registered nobody may delete its file,
        // so the path must name it all along.
        if (!SameFile(*m.LockFileHandle(), f.LckName)) return 10;
        if (m.GetCurrentConnectionCount() < 1) return 11;
        if (!SameFile(*m.LockFileHandle(), f.LckName)) return 12;
        m.Close();
      }
      return 0;
    }));
  }
  for (const int child : children) EXPECT_EQ(WaitChild(child), 0);
  EXPECT_FALSE(plat::FileExists(f.LckName));
}

TEST(UserMonitor, WorksWithoutADatabaseHandle) {
  LockFixture f;
  TDBUserMonitor m(nullptr, f.LckName);
  m.Open("ann", "pc");
  EXPECT_TRUE(m.IsOpen());
  m.Close();
  EXPECT_FALSE(plat::FileExists(f.LckName));
  plat::TStringList users;
  ExpectError(0x2101, "", [&] { m.GetCurrentUsers(users); });  // closed: at once

  TDBUserMonitor nowhere(nullptr, f.Dir.File("missing/test.lck"));
  ExpectError(0x2101, "Lock File could not be created: " + f.Dir.File("missing/test.lck"),
              [&] { nowhere.Open("ann", "pc"); });
  EXPECT_FALSE(nowhere.IsOpen());
}

TEST(UserMonitor, ALockFileThatGrewTooLargeIsRefused) {
  LockFixture f;
  {
    TOSFile lck;
    ASSERT_TRUE(lck.Create(f.LckName));
    ASSERT_TRUE(lck.SetSize(LockFileMaxSize));
  }
  auto db = f.OpenDb();
  TDBUserMonitor m(db.get(), f.LckName);
  ExpectError(0x250E, "The lock file has grown too large", [&] { m.Open("ann", "pc"); });
  EXPECT_FALSE(m.IsOpen());
}

TEST(UserMonitor, ASlotPastAShortLockFileIsStillBeyondTheHeader) {
  // A lock file found empty (its creator has not written the header yet)
  // gets its first slot at 4096, never over the mutex's page.
  LockFixture f;
  {
    TOSFile lck;
    ASSERT_TRUE(lck.Create(f.LckName));
  }
  auto db = f.OpenDb();
  TDBUserMonitor m(db.get(), f.LckName);
  m.Open("ann", "pc");
  EXPECT_EQ(m.SlotLockOffset(), kFirstSlotRange);
  EXPECT_EQ(plat::FileSizeByName(f.LckName), 2 * LockFileSlotSize);
}

// ---------------------------------------------------------------- lock managers

struct LockMgrFixture : LockFixture {
  std::unique_ptr<TOSFile> Db = OpenDb();
  TDBUserMonitor Monitor{Db.get(), LckName};

  LockMgrFixture() { Monitor.Open("ann", "pc"); }

  std::unique_ptr<TBaseLockMgr> TableLocks(TDBUserMonitor& M, int32_t Retries = 3,
                                           int32_t Interval = 10) {
    auto mgr = TBaseLockMgr::GetLockManager(M.LockFileHandle(), TableLockBase, TableLockRegion);
    mgr->SetLockRetryCount(Retries);
    mgr->SetLockRetryInterval(Interval);
    mgr->SetReadLockErrMsg(SzelTableReadLockErr);
    mgr->SetWriteLockErrMsg(SzelTableWriteLockErr);
    return mgr;
  }

  // Runs Body in a child that holds a read lock on table ID until told to
  // stop.
  int StartReader(uint32_t ID, TSignal& Ready, TSignal& Stop) {
    return StartChild([&, ID] {
      auto db = OpenDb();
      TDBUserMonitor m(db.get(), LckName);
      m.Open("reader", "pc");
      auto mgr = TableLocks(m);
      mgr->SetReadLock(ID, 1);
      Ready.Send();
      Stop.Wait();
      return 0;
    });
  }
};

TEST(LockMgr, LockAddressesAndTheRecordOfLocks) {
  LockMgrFixture f;
  auto tables = f.TableLocks(f.Monitor);
  auto records = TBaseLockMgr::GetLockManager(f.Monitor.LockFileHandle(), RecordLockBase, 1);
  EXPECT_EQ(tables->GetCalculatedLockAddr(3), TableLockBase + 3 * 0x2000);
  EXPECT_EQ(records->GetCalculatedLockAddr(0x12345), RecordLockBase + 0x12345);

  EXPECT_TRUE(tables->SetReadLock(3, 0));
  EXPECT_TRUE(tables->SetReadLock(3, 1));  // already held: nothing new
  EXPECT_EQ(tables->SetWriteLock(4, 0), ltWrite);
  EXPECT_EQ(records->SetWriteLock(0x12345, 0), ltWrite);
  EXPECT_EQ(records->QueryLockType(0x12345), ltWrite);
  EXPECT_EQ(tables->GetLockCount(), 2);
  EXPECT_EQ(tables->QueryLockType(3), ltRead);
  EXPECT_EQ(tables->QueryLockType(4), ltWrite);
  EXPECT_EQ(tables->QueryLockType(5), ltNone);
  EXPECT_TRUE(tables->LockExists(4, ltWrite));
  EXPECT_FALSE(tables->LockExists(4, ltRead));
  const TLockItem* read = tables->Locks().Items(0);
  EXPECT_GE(read->LckAddr, TableLockBase + 3 * 0x2000);
  EXPECT_LT(read->LckAddr, TableLockBase + 4 * 0x2000);
  EXPECT_EQ(read->LckSize, 1u);

  plat::TStringList dump;
  tables->DebugDumpStatus(dump);
  ASSERT_EQ(dump.Count(), 2);
  EXPECT_EQ(dump.Strings(1),
            "Lock 1: Addr " + std::to_string(TableLockBase + 4 * 0x2000) + " Size 8192 Type 4");

  // A write lock covers a later read request of the same connection.
  EXPECT_TRUE(tables->SetReadLock(4, 1));
  EXPECT_EQ(tables->GetLockCount(), 2);

  tables->ReleaseLock(4);
  EXPECT_EQ(tables->GetLockCount(), 1);
  EXPECT_EQ(CountLockedBytes(f.LckName, TableLockBase + 4 * 0x2000, 0x2000), 0);
  tables->ReleaseAllLocks();
  EXPECT_EQ(tables->GetLockCount(), 0);
  EXPECT_EQ(CountLockedBytes(f.LckName, TableLockBase + 3 * 0x2000, 0x2000), 0);
}

TEST(LockMgr, ReadersShareATableAndAWriterTimesOut) {
  LockMgrFixture f;
  TSignal ready, stop;
  const int reader = f.StartReader(7, ready, stop);
  ASSERT_TRUE(ready.Wait());

  auto mgr = f.TableLocks(f.Monitor, 4, 25);
  EXPECT_TRUE(mgr->SetReadLock(7, 1));  // another reader is welcome
  mgr->ReleaseLock(7);

  const uint32_t start = plat::GetTickCount();
  ExpectError(0x2809, "A write lock could not be obtained on the table",
              [&] { mgr->SetWriteLock(7, 0); });
  const uint32_t elapsed = plat::GetTickCount() - start;
  EXPECT_GE(elapsed, 3u * 25u);  // four tries, three pauses
  // Generous, for a loaded machine: it catches pauses taken in seconds.
  EXPECT_LT(elapsed, 15000u);
  EXPECT_EQ(mgr->GetLockCount(), 0);

  stop.Send();
  EXPECT_EQ(WaitChild(reader), 0);
  EXPECT_EQ(mgr->SetWriteLock(7, 0), ltWrite);  // free once the reader left
}

TEST(LockMgr, AReaderDrawsAgainWhenItsByteIsTaken) {
  // In a region of two bytes with one taken, every try has an even chance;
  // sixty-four tries practically always find the free byte.
  LockMgrFixture f;
  TOSFile other;
  ASSERT_TRUE(other.Open(f.LckName, TFileAccess::faReadWrite, TFileShare::fsDenyNone));
  ASSERT_TRUE(other.LockRange(TableLockBase, 1));
  auto mgr = TBaseLockMgr::GetLockManager(f.Monitor.LockFileHandle(), TableLockBase, 2);
  mgr->SetLockRetryCount(64);
  mgr->SetLockRetryInterval(0);
  EXPECT_TRUE(mgr->SetReadLock(0, 1));
  EXPECT_EQ(mgr->Locks().Items(0)->LckAddr, TableLockBase + 1);
}

TEST(LockMgr, AReadLockUpgradesWhenAlone) {
  LockMgrFixture f;
  auto mgr = f.TableLocks(f.Monitor);
  mgr->SetReadLock(2, 1);
  EXPECT_EQ(mgr->SetWriteLock(2, 0), ltWrite);
  // The read item stays first, so the lock still reports as a read lock, but
  // the whole region is held.
  EXPECT_EQ(mgr->QueryLockType(2), ltRead);
  EXPECT_TRUE(mgr->LockExists(2, ltWrite));
  EXPECT_EQ(CountLockedBytes(f.LckName, TableLockBase + 2 * 0x2000, 0x2000), 0x2000);
  EXPECT_EQ(mgr->SetWriteLock(2, 0), ltWrite);  // held: nothing new
  const int32_t count = mgr->GetLockCount();
  mgr->UpgradeReadLocks();
  EXPECT_EQ(mgr->GetLockCount(), count);

  // Undoing the upgrade keeps exactly the read byte.
  const uint64_t readByte = mgr->Locks().Items(0)->LckAddr;
  mgr->ReleaseUpgrade(2);
  EXPECT_EQ(mgr->GetLockCount(), 1);
  EXPECT_FALSE(mgr->LockExists(2, ltWrite));
  EXPECT_EQ(CountLockedBytes(f.LckName, TableLockBase + 2 * 0x2000, 0x2000), 1);
  EXPECT_EQ(CountLockedBytes(f.LckName, readByte, 1), 1);
  mgr->SetWriteLock(5, 0);
  mgr->ReleaseUpgrade(5);  // a plain write lock is no upgrade
  EXPECT_TRUE(mgr->LockExists(5, ltWrite));
  mgr->ReleaseLock(2);
  EXPECT_EQ(CountLockedBytes(f.LckName, TableLockBase + 2 * 0x2000, 0x2000), 0);
}

TEST(LockMgr, AFailedUpgradeKeepsExactlyTheReadLock) {
  LockMgrFixture f;
  TSignal ready, stop;
  const int reader = f.StartReader(2, ready, stop);
  ASSERT_TRUE(ready.Wait());

  auto mgr = f.TableLocks(f.Monitor, 2, 5);
  mgr->SetReadLock(2, 1);
  ExpectError(0x2809, "A write lock could not be obtained on the table",
              [&] { mgr->SetWriteLock(2, 0); });
  EXPECT_EQ(mgr->GetLockCount(), 1);
  EXPECT_EQ(mgr->QueryLockType(2), ltRead);
  EXPECT_FALSE(mgr->LockExists(2, ltWrite));
  // Only the two readers' bytes are held; whichever side of this reader's
  // byte the upgrade got first was given back.
  EXPECT_EQ(CountLockedBytes(f.LckName, TableLockBase + 2 * 0x2000, 0x2000), 2);
  ExpectError(0x2809, "", [&] { mgr->UpgradeReadLocks(); });
  EXPECT_FALSE(mgr->LockExists(2, ltWrite));

  stop.Send();
  EXPECT_EQ(WaitChild(reader), 0);
  EXPECT_EQ(mgr->SetWriteLock(2, 0), ltWrite);
  EXPECT_TRUE(mgr->LockExists(2, ltWrite));
}

TEST(LockMgr, MissingHandleAndBaseClass) {
  LockFixture f;
  TOSFile closed;
  auto mgr = TBaseLockMgr::GetLockManager(&closed, TableLockBase, TableLockRegion);
  ExpectError(0x2101, "", [&] { mgr->SetReadLock(1, 1); });
  ExpectError(0x2102, "File handle is invalid", [&] { mgr->SetWriteLock(1, 0); });
  EXPECT_THROW(TBaseLockMgr(nullptr, TableLockBase, 1), plat::EAssertionFailed);
  EXPECT_THROW(TBaseLockMgr(&closed, TableLockBase, 0), plat::EAssertionFailed);

  // The base class has no primitives: every request fails after its tries.
  auto db = f.OpenDb();
  TDBUserMonitor m(db.get(), f.LckName);
  m.Open("ann", "pc");
  TBaseLockMgr base(m.LockFileHandle(), TableLockBase, TableLockRegion);
  base.SetLockRetryCount(2);
  base.SetLockRetryInterval(0);
  base.SetReadLockErrMsg("no read");
  EXPECT_EQ(ErrorCodeOf([&] { base.SetReadLock(1, 1); }), 0x2809);
  EXPECT_THROW(base.SetReadLock(1, TableLockRegion + 1), plat::EAssertionFailed);
}

}  // namespace
}  // namespace zel
