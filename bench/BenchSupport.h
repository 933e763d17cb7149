#pragma once
// What the benchmark programs share: a temporary folder, a new database
// file opened for use, running a statement on SQLite, CPU time, medians and
// command-line numbers.

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/storage/zelDataUnit.h"
#include "engine/storage/zelDisk.h"
#include "engine/storage/zelIndexUnit.h"
#include "engine/storage/zelInterfaceUnit.h"

namespace bench {

// A temporary folder removed with its files.
struct TempFolder {
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelbenchXXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string File(const std::string& Name) const { return path + "/" + Name; }
  std::string path;
};

// Creates the database file FileName with pages of PageSize bytes and opens
// it with Disk.
inline void OpenNewDatabase(zel::TDiskMgr& Disk, const std::string& FileName, uint32_t PageSize) {
  {
    zel::TDiskMgr creator;
    creator.SetFileName(FileName);
    creator.SetPageSize(PageSize);
    creator.CreateNewFile();
  }
  Disk.SetFileName(FileName);
  Disk.SetPageSize(PageSize);
  Disk.Open();
}

// Opens Store as table 1's store of index pages in Disk.
inline void OpenIndexStore(zel::TDiskIOInterface& Store, zel::TDiskMgr& Disk, uint32_t PageSize) {
  Store.SetDiskMgr(&Disk);
  Store.SetTableID(1);
  Store.SetUsage(zel::iuIndexPages);
  Store.SetBlockSize(PageSize);
  Store.SetAccessFlags(1);
  Store.SetGlobalFirstEmptyOffset(zel::ghIndexesFirstEmpty);
  Store.Open();
}

// Makes the indexes Defs (keyed by Keys) in Store and opens Mgr on them,
// under a new table header of Headers that holds their roots.
inline zel::TTableHeader* OpenNewIndexes(zel::TIndexManager& Mgr, zel::TDiskIOInterface& Store,
                                         zel::TTableHeaderMgr& Headers,
                                         zel::TInternalIndexDefs& Defs, zel::TKeyFields& Keys,
                                         zel::TDBStringCompare Compare) {
  auto* header = static_cast<zel::TTableHeader*>(Headers.Add());
  header->SetHeaderSize(256);
  header->SetIndexCount(Defs.Count());
  Mgr.SetIOInterface(&Store);
  Mgr.SetTableHeader(header);
  Mgr.SetDBStringCompareFunction(Compare);
  Mgr.Assign(&Defs);
  Mgr.AssignKeyFields(Keys);
  Mgr.CreateIndexes();
  Mgr.Open();
  return header;
}

// Runs Sql on Db, raising SQLite's message on failure.
inline void SqliteExec(sqlite3* Db, const char* Sql) {
  if (sqlite3_exec(Db, Sql, nullptr, nullptr, nullptr) != SQLITE_OK)
    throw std::runtime_error(sqlite3_errmsg(Db));
}

// CPU seconds of the process: on a machine shared with other work this
// varies far less than the time on the clock.
inline double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

inline double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  const size_t n = V.size();
  return n % 2 == 1 ? V[n / 2] : (V[n / 2 - 1] + V[n / 2]) / 2;
}

// The value of --Name=N on the command line, or Default.
inline int32_t Option(int Argc, char** Argv, const char* Name, int32_t Default) {
  const std::string prefix = std::string("--") + Name + "=";
  for (int i = 1; i < Argc; ++i)
    if (std::strncmp(Argv[i], prefix.c_str(), prefix.size()) == 0)
      return static_cast<int32_t>(std::atol(Argv[i] + prefix.size()));
  return Default;
}

}  // namespace bench
