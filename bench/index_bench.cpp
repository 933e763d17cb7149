// Index insert and lookup: N integer keys through the index manager on a
// database file, against SQLite in the same run. Both sides work inside one
// transaction on a file in a temporary folder, with caches that hold the
// whole index; keys come in the same shuffled order. The engine's index is
// non-unique (the record number is its hidden last key part, as tables give
// it). SQLite runs in two forms: "Sqlite" is a table t(k, v) with an index
// on k, two B-trees per insert; "SqliteOneTree" is a table without rowid
// keyed by (k, v), one B-tree holding what the engine's index holds, which
// is the like-for-like comparison.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/storage/zelDataUnit.h"
#include "engine/storage/zelDisk.h"
#include "engine/storage/zelIndexUnit.h"

namespace {

constexpr uint32_t kPage = 4096;

using bench::TempFolder;

std::vector<int32_t> ShuffledKeys(int64_t N, uint32_t Seed) {
  std::vector<int32_t> keys(static_cast<size_t>(N));
  std::iota(keys.begin(), keys.end(), 0);
  std::mt19937 rng(Seed);
  std::shuffle(keys.begin(), keys.end(), rng);
  return keys;
}

// ---------------------------------------------------------------- engine

// A database file holding one table's index of N keys: the record layout
// (one integer field), the index store and the index manager.
class EngineIndex {
 public:
  explicit EngineIndex(const std::string& FileName) {
    bench::OpenNewDatabase(disk_, FileName, kPage);
    bench::OpenIndexStore(store_, disk_, kPage);

    zel::TInternalFieldItem* field = fields_.Add();
    field->SetFieldName("K");
    field->SetDataType(plat::ftInteger);
    field->SetFieldIndex(0);
    fields_.SetDefaultOffsets();
    record_.assign(static_cast<size_t>(fields_.RecordSize()), 0);
    record_[zel::rpInUse] = 1;
    record_[static_cast<size_t>(field->NullFlagOffset())] = 1;
    dataOffset_ = field->DataOffset();

    zel::TKeyFields keys;
    zel::TKeyFieldItem* k = keys.Add();
    k->SetIndexName("ByK");
    k->SetFieldName("K");
    k->SetDataType(plat::ftInteger);
    k->SetFieldSize(4);
    k->SetRecBufOffset(field->DataOffset());
    k->SetNullFlagOffset(field->NullFlagOffset());
    zel::TKeyFieldItem* recNo = keys.Add();
    recNo->SetIndexName("ByK");
    recNo->SetFieldName("_RecNo");
    recNo->SetDataType(plat::ftInteger);
    recNo->SetFieldSize(4);
    recNo->SetRecBufOffset(zel::rpLogicalRecordNo);
    recNo->SetNullFlagOffset(-1);
    recNo->SetHidden(true);
    zel::TInternalIndexDefs defs;
    zel::TInternalIndexDef* def = defs.Add();
    def->SetIndexName("ByK");
    zel::CalculateIndexDefSizes(*def, keys);

    headers_ = std::make_unique<zel::TTableHeaderMgr>();
    header_ = bench::OpenNewIndexes(mgr_, store_, *headers_, defs, keys, zel::DBANSICompareStrings);
    mgr_.SetCurrentIndexName("ByK");
    index_ = mgr_.CurrentIndex();
  }

  ~EngineIndex() {
    mgr_.Close();
    store_.Close();
    disk_.Close();
  }

  void Begin() { disk_.DiskStartTransaction(false); }
  void Commit() { disk_.DiskCommit(); }

  void Insert(int32_t Key, int32_t RecNo) {
    std::memcpy(record_.data() + zel::rpLogicalRecordNo, &RecNo, 4);
    std::memcpy(record_.data() + dataOffset_, &Key, 4);
    index_->CreateKeyBuffer(record_.data());
    index_->InsertKey(static_cast<uint32_t>(RecNo) * 64);
  }

  // The record address of the first key equal to Key, 0 when none.
  uint32_t Find(int32_t Key) {
    std::memcpy(record_.data() + dataOffset_, &Key, 4);
    index_->CreateKeyBuffer(record_.data());
    return index_->PartialIndexSearch(zel::stEQ, limited_) == 0 ? index_->GetRecordAddress() : 0;
  }

 private:
  zel::TDiskMgr disk_;
  zel::TDiskIOInterface store_;
  zel::TInternalFields fields_;
  std::unique_ptr<zel::TTableHeaderMgr> headers_;
  zel::TTableHeader* header_ = nullptr;
  zel::TIndexManager mgr_;
  zel::TIndexItem* index_ = nullptr;
  std::vector<uint8_t> record_;
  int32_t dataOffset_ = 0;
  // The visible key part only: the hidden record number is not known.
  const zel::TSearchModifier limited_{0, true};
};

void BM_EngineInsert(benchmark::State& State) {
  const int64_t n = State.range(0);
  const std::vector<int32_t> keys = ShuffledKeys(n, 1);
  for (auto _ : State) {
    State.PauseTiming();
    TempFolder folder;
    auto index = std::make_unique<EngineIndex>(folder.File("bench.zel"));
    State.ResumeTiming();
    index->Begin();
    for (int64_t i = 0; i < n; ++i)
      index->Insert(keys[static_cast<size_t>(i)], static_cast<int32_t>(i + 1));
    index->Commit();
    State.PauseTiming();
    index.reset();
    State.ResumeTiming();
  }
  State.SetItemsProcessed(State.iterations() * n);
}

void BM_EngineLookup(benchmark::State& State) {
  const int64_t n = State.range(0);
  TempFolder folder;
  EngineIndex index(folder.File("bench.zel"));
  const std::vector<int32_t> keys = ShuffledKeys(n, 1);
  index.Begin();
  for (int64_t i = 0; i < n; ++i)
    index.Insert(keys[static_cast<size_t>(i)], static_cast<int32_t>(i + 1));
  index.Commit();
  const std::vector<int32_t> probes = ShuffledKeys(n, 2);
  index.Begin();
  for (auto _ : State) {
    for (int32_t key : probes) {
      const uint32_t addr = index.Find(key);
      if (addr == 0) State.SkipWithError("key not found");
      benchmark::DoNotOptimize(addr);
    }
  }
  index.Commit();
  State.SetItemsProcessed(State.iterations() * n);
}

// ---------------------------------------------------------------- SQLite

class SqliteIndex {
 public:
  // OneTree: a table without rowid keyed by (k, v) instead of a table with
  // an index on k.
  explicit SqliteIndex(const std::string& FileName, bool OneTree = false) {
    if (sqlite3_open(FileName.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("open");
    // No syncing and a cache that holds the whole index, as the engine's
    // cache does inside a transaction.
    Exec("PRAGMA synchronous=OFF");
    Exec("PRAGMA page_size=4096");
    Exec("PRAGMA cache_size=-262144");
    if (OneTree) {
      Exec("CREATE TABLE t(k INTEGER, v INTEGER, PRIMARY KEY(k, v)) WITHOUT ROWID");
      Prepare("SELECT v FROM t WHERE k = ?", &find_);
    } else {
      Exec("CREATE TABLE t(k INTEGER, v INTEGER)");
      Exec("CREATE INDEX t_k ON t(k)");
      Prepare("SELECT rowid FROM t WHERE k = ?", &find_);
    }
    Prepare("INSERT INTO t(k, v) VALUES (?, ?)", &insert_);
  }
  ~SqliteIndex() {
    sqlite3_finalize(insert_);
    sqlite3_finalize(find_);
    sqlite3_close(db_);
  }

  void Exec(const char* Sql) { bench::SqliteExec(db_, Sql); }
  void Insert(int32_t Key, int32_t Value) {
    sqlite3_bind_int(insert_, 1, Key);
    sqlite3_bind_int(insert_, 2, Value);
    if (sqlite3_step(insert_) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
    sqlite3_reset(insert_);
  }
  int64_t Find(int32_t Key) {
    sqlite3_bind_int(find_, 1, Key);
    const int64_t rowid = sqlite3_step(find_) == SQLITE_ROW ? sqlite3_column_int64(find_, 0) : 0;
    sqlite3_reset(find_);
    return rowid;
  }

 private:
  void Prepare(const char* Sql, sqlite3_stmt** Stmt) {
    if (sqlite3_prepare_v2(db_, Sql, -1, Stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* find_ = nullptr;
};

void SqliteInsert(benchmark::State& State, bool OneTree) {
  const int64_t n = State.range(0);
  const std::vector<int32_t> keys = ShuffledKeys(n, 1);
  for (auto _ : State) {
    State.PauseTiming();
    TempFolder folder;
    auto index = std::make_unique<SqliteIndex>(folder.File("bench.db"), OneTree);
    State.ResumeTiming();
    index->Exec("BEGIN");
    for (int64_t i = 0; i < n; ++i)
      index->Insert(keys[static_cast<size_t>(i)], static_cast<int32_t>(i + 1));
    index->Exec("COMMIT");
    State.PauseTiming();
    index.reset();
    State.ResumeTiming();
  }
  State.SetItemsProcessed(State.iterations() * n);
}

void SqliteLookup(benchmark::State& State, bool OneTree) {
  const int64_t n = State.range(0);
  TempFolder folder;
  SqliteIndex index(folder.File("bench.db"), OneTree);
  const std::vector<int32_t> keys = ShuffledKeys(n, 1);
  index.Exec("BEGIN");
  for (int64_t i = 0; i < n; ++i)
    index.Insert(keys[static_cast<size_t>(i)], static_cast<int32_t>(i + 1));
  index.Exec("COMMIT");
  const std::vector<int32_t> probes = ShuffledKeys(n, 2);
  index.Exec("BEGIN");
  for (auto _ : State) {
    for (int32_t key : probes) {
      const int64_t rowid = index.Find(key);
      if (rowid == 0) State.SkipWithError("key not found");
      benchmark::DoNotOptimize(rowid);
    }
  }
  index.Exec("COMMIT");
  State.SetItemsProcessed(State.iterations() * n);
}

void BM_SqliteInsert(benchmark::State& State) { SqliteInsert(State, false); }
void BM_SqliteOneTreeInsert(benchmark::State& State) { SqliteInsert(State, true); }
void BM_SqliteLookup(benchmark::State& State) { SqliteLookup(State, false); }
void BM_SqliteOneTreeLookup(benchmark::State& State) { SqliteLookup(State, true); }

void Sizes(benchmark::internal::Benchmark* B) {
  B->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->MinTime(0.5);
}

BENCHMARK(BM_EngineInsert)->Apply(Sizes);
BENCHMARK(BM_SqliteInsert)->Apply(Sizes);
BENCHMARK(BM_SqliteOneTreeInsert)->Apply(Sizes);
BENCHMARK(BM_EngineLookup)->Apply(Sizes);
BENCHMARK(BM_SqliteLookup)->Apply(Sizes);
BENCHMARK(BM_SqliteOneTreeLookup)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
