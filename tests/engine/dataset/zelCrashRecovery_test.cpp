// Commits killed half-way: a forked child commits random transactions over
// two tables with indexes and memos, telling the parent through a pipe what
// each one changes and when its commit returned; the parent kills it with
// SIGKILL at a random moment. Reopening must recover the file: intact, every
// reported commit there, nothing of an unfinished transaction visible.
// A connection kept open through the kills must see the recovered state at
// its next lock, never a torn one. ZEL_CRASH_ROUNDS sets the number of rounds (200 by default); the seed of a
// failing round is printed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "engine/dataset/zelDatabase.h"
#include "support/DatabaseCheck.h"
#include "support/TestDir.h"

namespace zel {
namespace {

const char* const kTables[] = {"A", "B"};
constexpr int32_t kKeys = 30;

// Table name and key to value and memo length.
using TState = std::map<std::string, std::map<int32_t, std::pair<int32_t, int32_t>>>;

std::string Memo(int32_t V, int32_t Length) {
  return std::string(static_cast<size_t>(Length), static_cast<char>('a' + V % 26));
}

std::unique_ptr<TZelTable> OpenTable(TZelDataBase& Db, const std::string& Name) {
  auto t = std::make_unique<TZelTable>();
  t->SetDataBase(&Db);
  t->SetTableName(Name);
  return t;
}

void Create(const std::string& File) {
  TZelDataBase db;
  db.SetDataBaseName(File);
  db.CreateDatabase();
  db.SetConnected(true);
  for (const char* name : kTables) {
    auto t = OpenTable(db, name);
    t->FieldDefs().Add("K", plat::ftInteger);
    t->FieldDefs().Add("V", plat::ftInteger);
    t->FieldDefs().Add("M", plat::ftMemo);
    t->IndexDefs().Add("pkK", "K", {plat::ixPrimary, plat::ixUnique});
    t->IndexDefs().Add("ixV", "V", {});
    t->CreateTable();
  }
  db.SetConnected(false);
}

// Reads both tables; a memo that does not match its value is reported as
// length -1.
TState Read(TZelDataBase& db) {
  TState state;
  for (const char* name : kTables) {
    auto t = OpenTable(db, name);
    t->Open();
    auto& rows = state[name];
    for (t->First(); !t->Eof(); t->Next()) {
      const int32_t v = t->FieldByName("V")->AsInteger();
      const std::string m = t->FieldByName("M")->AsString();
      const auto length = static_cast<int32_t>(m.size());
      rows[t->FieldByName("K")->AsInteger()] = {v, m == Memo(v, length) ? length : -1};
    }
    t->Close();
  }
  return state;
}

TState Read(const std::string& File) {
  TZelDataBase db;
  db.SetDataBaseName(File);
  db.SetConnected(true);
  TState state = Read(db);
  db.SetConnected(false);
  return state;
}

bool GoTo(TZelTable& T, int32_t K) {
  for (T.First(); !T.Eof(); T.Next())
    if (T.FieldByName("K")->AsInteger() == K) return true;
  return false;
}

void Say(int Fd, const std::string& Line) {
  (void)!::write(Fd, Line.data(), Line.size());
}

// The child: transactions until killed. Each change goes to the pipe as
// "table key value length" (length -2 for a delete) before the commit,
// "C" once the commit returned.
[[noreturn]] void Work(const std::string& File, uint32_t Seed, int Fd) {
  std::mt19937 random(Seed);
  TZelDataBase db;
  db.SetDataBaseName(File);
  db.SetConnected(true);
  std::unique_ptr<TZelTable> tables[2] = {OpenTable(db, kTables[0]), OpenTable(db, kTables[1])};
  for (auto& t : tables) t->Open();
  for (;;) {
    db.StartTransaction();
    const int changes = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < changes; ++i) {
      const int which = static_cast<int>(random() % 2);
      TZelTable& t = *tables[which];
      const auto k = static_cast<int32_t>(1 + random() % kKeys);
      const auto v = static_cast<int32_t>(random() % 1000);
      const auto length = static_cast<int32_t>(random() % 4) == 0 ? 0 : static_cast<int32_t>(random() % 6000);
      std::ostringstream line;
      line << which << " " << k << " ";
      if (GoTo(t, k)) {
        if (random() % 3 == 0) {
          t.Delete();
          line << "0 -2\n";
          Say(Fd, line.str());
          continue;
        }
        t.Edit();
      } else {
        t.Append();
        t.FieldByName("K")->SetAsInteger(k);
      }
      t.FieldByName("V")->SetAsInteger(v);
      t.FieldByName("M")->SetAsString(Memo(v, length));
      t.Post();
      line << v << " " << length << "\n";
      Say(Fd, line.str());
    }
    db.Commit();
    Say(Fd, "C\n");
  }
}

void Change(TState& State, const std::string& Line) {
  std::istringstream in(Line);
  int which = 0, k = 0, v = 0, length = 0;
  in >> which >> k >> v >> length;
  auto& rows = State[kTables[which]];
  if (length == -2) {
    rows.erase(k);
  } else {
    rows[k] = {v, length};
  }
}

std::string Show(const TState& State) {
  std::ostringstream out;
  for (const auto& [name, rows] : State) {
    out << name << ":";
    for (const auto& [k, row] : rows) out << " " << k << "=" << row.first << "/" << row.second;
    out << "\n";
  }
  return out.str();
}

TEST(CrashRecovery, KilledCommitsAreRecoveredWholeOrNotAtAll) {
  const char* rounds = std::getenv("ZEL_CRASH_ROUNDS");
  const int total = rounds != nullptr ? std::atoi(rounds) : 200;
  const uint32_t seed = 20261210;
  testsupport::TempDir dir;
  const std::string file = dir.File("crash.dat");
  Create(file);
  TState committed = Read(file);
  // Open through every kill; on even rounds it is the first to look.
  TZelDataBase observer;
  observer.SetDataBaseName(file);
  observer.SetConnected(true);
  std::mt19937 random(seed);
  for (int round = 0; round < total; ++round) {
    const uint32_t childSeed = static_cast<uint32_t>(random());
    SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int pid = testsupport::StartChild([&] {
      ::close(fds[0]);
      Work(file, childSeed, fds[1]);
      return 0;
    });
    ::close(fds[1]);
    // Kill after a few reported commits and a random delay.
    const int commitsBeforeKill = static_cast<int>(random() % 2);
    const auto delay = std::chrono::microseconds(random() % 10000);
    std::string pending, buffer;
    int commits = 0;
    bool killed = false;
    const auto take = [&](const std::string& Line) {
      if (Line == "C") {
        std::istringstream lines(pending);
        for (std::string l; std::getline(lines, l);) Change(committed, l);
        pending.clear();
        ++commits;
      } else {
        pending += Line + "\n";
      }
    };
    char chunk[4096];
    while (!killed && commits < commitsBeforeKill) {
      const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
      if (n <= 0) break;
      buffer.append(chunk, static_cast<size_t>(n));
      for (size_t at; (at = buffer.find('\n')) != std::string::npos; buffer.erase(0, at + 1))
        take(buffer.substr(0, at));
    }
    std::this_thread::sleep_for(delay);
    ::kill(pid, SIGKILL);
    for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;) {
      buffer.append(chunk, static_cast<size_t>(n));
      for (size_t at; (at = buffer.find('\n')) != std::string::npos; buffer.erase(0, at + 1))
        take(buffer.substr(0, at));
    }
    ::close(fds[0]);
    EXPECT_EQ(testsupport::WaitChild(pid), -SIGKILL);
    // The last transaction may have committed without saying so.
    TState whole = committed;
    {
      std::istringstream lines(pending);
      for (std::string l; std::getline(lines, l);) Change(whole, l);
    }
    const TState state = round % 2 == 0 ? Read(observer) : Read(file);
    if (round % 2 != 0) {
      ASSERT_EQ(Show(Read(observer)), Show(state));
    }
    ASSERT_TRUE(testsupport::DatabaseIsIntact(file));
    if (state == whole && !pending.empty()) {
      committed = whole;
    } else {
      ASSERT_EQ(Show(state), Show(committed));
    }
  }
  observer.SetConnected(false);
}

}  // namespace
}  // namespace zel
