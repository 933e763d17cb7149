// Filters answered from indexes: a table of 10^6 rows t(i INTEGER, s
// VARCHAR(7)) with an index on each column, filtered through the filter
// evaluator (text in, record addresses out: parse, index runs, evaluation of
// the candidates) against SQLite's "SELECT rowid FROM t WHERE ..." on the
// same rows and indexes (prepared, stepped to the end, finalized), in the
// same run. i holds 10^5 values, about ten rows each; s six random lower-case
// letters. Each iteration runs 100 filters of one shape with different
// constants. The engine's indexes live in a database file; its rows are read
// from memory, which only the LIKE filter (answered partly) touches.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/expr/zelFilterUnit.h"
#include "engine/storage/zelDataUnit.h"
#include "engine/storage/zelDisk.h"
#include "engine/storage/zelIndexUnit.h"

namespace {

constexpr uint32_t kPage = 4096;
constexpr int32_t kRows = 1000000;
constexpr int32_t kValues = 100000;
constexpr int32_t kQueries = 100;

struct Rows {
  std::vector<int32_t> I;
  std::vector<std::string> S;
  Rows() {
    std::mt19937 rng(42);
    I.resize(kRows);
    S.resize(kRows);
    for (int32_t r = 0; r < kRows; ++r) {
      I[static_cast<size_t>(r)] = static_cast<int32_t>(rng() % kValues);
      std::string s(6, 'a');
      for (char& c : s) c = static_cast<char>('a' + rng() % 26);
      S[static_cast<size_t>(r)] = s;
    }
  }
};

const Rows& Data() {
  static const Rows rows;
  return rows;
}

// Record addresses: row r at (r + 1) * 64.
uint32_t AddressOf(int32_t Row) { return static_cast<uint32_t>(Row + 1) * 64; }

// ---------------------------------------------------------------- engine

class EngineTable : public zel::TZelExprDataProvider {
 public:
  explicit EngineTable(const std::string& FileName) {
    bench::OpenNewDatabase(disk_, FileName, kPage);
    bench::OpenIndexStore(store_, disk_, kPage);

    for (zel::TInternalFields* fields : {&fields_, ProviderFields()}) {
      zel::TInternalFieldItem* i = fields->Add();
      i->SetFieldName("i");
      i->SetDataType(plat::ftInteger);
      i->SetFieldIndex(0);
      i->SetFieldNo(1);
      zel::TInternalFieldItem* s = fields->Add();
      s->SetFieldName("s");
      s->SetDataType(plat::ftString);
      s->SetFieldSize(8);
      s->SetFieldIndex(1);
      s->SetFieldNo(2);
      fields->SetDefaultOffsets();
    }
    zel::TTableNameItem* table = tables_.Add();
    table->SetTableName("t");
    for (int32_t k = 0; k < fields_.Count(); ++k) {
      zel::TInternalFieldItem* f = table->TableFields()->Add();
      f->Assign(fields_.GetIndex(k));
    }

    zel::TKeyFields keys;
    zel::TInternalIndexDefs defs;
    int32_t sequence = 0;
    for (const char* name : {"i", "s"}) {
      const zel::TInternalFieldItem* field = fields_.FindField(name);
      zel::TKeyFields one;
      zel::TKeyFieldItem* key = one.Add();
      key->SetIndexName(std::string("by_") + name);
      key->SetFieldName(name);
      key->SetDataType(field->DataType());
      key->SetFieldSize(field->FieldSize());
      key->SetIsVariable(field->IsVariable());
      key->SetPhysicalFieldNo(field->FieldNo());
      key->SetRecBufOffset(field->DataOffset());
      key->SetNullFlagOffset(field->NullFlagOffset());
      key->SetSizeMarkerOffset(field->SizeMarkerOffset());
      zel::TInternalIndexDef* def = defs.Add();
      def->SetIndexName(std::string("by_") + name);
      def->SetIndexSequence(sequence++);
      def->SetIndexKeyType(zel::ikMinStringLen);
      zel::CalculateIndexDefSizes(*def, one);
      keys.Add()->Assign(key);
    }
    headers_ = std::make_unique<zel::TTableHeaderMgr>();
    header_ = bench::OpenNewIndexes(mgr_, store_, *headers_, defs, keys, zel::DBASCIICompareStrings);

    SetDBStringCompare([](const char* A, const char* B, int32_t LA, int32_t LB, bool Partial,
                          bool CaseInsensitive) {
      return zel::DBASCIICompareStrings(A, B, LA, LB, CaseInsensitive, Partial);
    });
    const Rows& rows = Data();
    std::vector<uint8_t> record(static_cast<size_t>(fields_.RecordSize()), 0);
    record[zel::rpInUse] = 1;
    const zel::TInternalFieldItem* fi = fields_.FindField("i");
    const zel::TInternalFieldItem* fs = fields_.FindField("s");
    record[static_cast<size_t>(fi->NullFlagOffset())] = 1;
    record[static_cast<size_t>(fs->NullFlagOffset())] = 1;
    disk_.DiskStartTransaction(false);
    for (int32_t r = 0; r < kRows; ++r) {
      std::memcpy(record.data() + fi->DataOffset(), &rows.I[static_cast<size_t>(r)], 4);
      const std::string& s = rows.S[static_cast<size_t>(r)];
      const uint16_t len = static_cast<uint16_t>(s.size());
      std::memcpy(record.data() + fs->SizeMarkerOffset(), &len, 2);
      std::memcpy(record.data() + fs->DataOffset(), s.data(), s.size());
      for (int32_t k = 0; k < mgr_.Count(); ++k) {
        mgr_.Items(k)->CreateKeyBuffer(record.data());
        if (mgr_.Items(k)->InsertKey(AddressOf(r)) != 0) throw std::runtime_error("insert");
      }
    }
    disk_.DiskCommit();
    disk_.DiskStartTransaction(false);
    filter_.SetDataProvider(this);
    filter_.SetTables(&tables_);
    filter_.SetQueryActive(true);
    filter_.SetExcludeRelopNulls(true);
    filter_.SetFilterOptions({plat::foNoPartialCompare});
    for (int32_t k = 0; k < mgr_.Count(); ++k) filter_.IndexQueryMgr()->Add(mgr_.Items(k));
  }
  ~EngineTable() override {
    disk_.DiskCommit();
    mgr_.Close();
    store_.Close();
    disk_.Close();
  }

  // The number of rows the filter gives.
  int32_t Run(const std::string& Text) {
    filter_.SetFilterText(Text);
    if (!filter_.Open()) throw std::runtime_error(filter_.GetErrors());
    return filter_.GetRecordCount();
  }
  zel::TZelFilterOptimisationLevel Level() const { return filter_.OptimisationLevel(); }

  bool MoveToRecord(void* RecAddr) override {
    current_ = static_cast<int32_t>(zel::ListEntryToInt(RecAddr) / 64) - 1;
    return current_ >= 0 && current_ < kRows;
  }
  plat::Variant GetDataAsVariant(int32_t FieldNo) override {
    if (FieldNo == 1) return plat::Variant(Data().I[static_cast<size_t>(current_)]);
    return plat::Variant(Data().S[static_cast<size_t>(current_)]);
  }

 private:
  zel::TDiskMgr disk_;
  zel::TDiskIOInterface store_;
  zel::TInternalFields fields_;
  zel::TTableList tables_;
  std::unique_ptr<zel::TTableHeaderMgr> headers_;
  zel::TTableHeader* header_ = nullptr;
  zel::TIndexManager mgr_;
  zel::TZelBaseFilterEvaluator filter_;
  int32_t current_ = 0;
};

// ---------------------------------------------------------------- SQLite

class SqliteTable {
 public:
  explicit SqliteTable(const std::string& FileName) {
    if (sqlite3_open(FileName.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("open");
    Exec("PRAGMA journal_mode=OFF");
    Exec("PRAGMA synchronous=OFF");
    Exec("PRAGMA cache_size=-262144");
    // LIKE with a prefix uses an ordinary index only when case-sensitive,
    // as the engine's LIKE on a case-sensitive field is.
    Exec("PRAGMA case_sensitive_like=ON");
    Exec("CREATE TABLE t(i INTEGER, s TEXT)");
    Exec("BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db_, "INSERT INTO t(rowid, i, s) VALUES(?, ?, ?)", -1, &insert, nullptr);
    const Rows& rows = Data();
    for (int32_t r = 0; r < kRows; ++r) {
      sqlite3_bind_int64(insert, 1, AddressOf(r));
      sqlite3_bind_int(insert, 2, rows.I[static_cast<size_t>(r)]);
      sqlite3_bind_text(insert, 3, rows.S[static_cast<size_t>(r)].c_str(), -1, SQLITE_STATIC);
      if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("CREATE INDEX t_i ON t(i)");
    Exec("CREATE INDEX t_s ON t(s)");
    Exec("COMMIT");
    Exec("ANALYZE");
  }
  ~SqliteTable() { sqlite3_close(db_); }

  int32_t Run(const std::string& Where) {
    const std::string sql = "SELECT rowid FROM t WHERE " + Where;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
    int32_t count = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_int64(stmt, 0));
      ++count;
    }
    sqlite3_finalize(stmt);
    return count;
  }

 private:
  void Exec(const char* Sql) { bench::SqliteExec(db_, Sql); }
  sqlite3* db_ = nullptr;
};

// Both tables, built once for every benchmark of the run.
struct Tables {
  bench::TempFolder Folder;
  EngineTable Engine{Folder.File("filter.zel")};
  SqliteTable Sqlite{Folder.File("filter.db")};
};

Tables& Shared() {
  static Tables tables;
  return tables;
}

// The filters of one shape, the same text for both.
std::vector<std::string> Filters(int Shape) {
  std::mt19937 rng(static_cast<uint32_t>(7 + Shape));
  std::vector<std::string> out;
  for (int32_t q = 0; q < kQueries; ++q) {
    const int32_t v = static_cast<int32_t>(rng() % kValues);
    switch (Shape) {
      case 0:
        out.push_back("i = " + std::to_string(v));
        break;
      case 1:  // 1% of the rows
        out.push_back("i BETWEEN " + std::to_string(v % (kValues - 1000)) + " AND " +
                      std::to_string(v % (kValues - 1000) + 999));
        break;
      case 2: {
        std::string list = std::to_string(v);
        for (int32_t k = 1; k < 10; ++k) list += ", " + std::to_string(rng() % kValues);
        out.push_back("i IN (" + list + ")");
        break;
      }
      default: {
        std::string prefix(3, 'a');
        for (char& c : prefix) c = static_cast<char>('a' + rng() % 26);
        out.push_back("s LIKE '" + prefix + "%'");
        break;
      }
    }
  }
  return out;
}

const char* kShapeNames[] = {"Equality", "Range1Percent", "In10", "PrefixLike"};

void BM_Engine(benchmark::State& State) {
  Tables& t = Shared();
  const std::vector<std::string> filters = Filters(static_cast<int>(State.range(0)));
  // Same answers as SQLite, and no row evaluated where the index answers.
  for (const std::string& f : filters)
    if (t.Engine.Run(f) != t.Sqlite.Run(f)) State.SkipWithError(("differs: " + f).c_str());
  int64_t rows = 0;
  for (auto _ : State)
    for (const std::string& f : filters) rows += t.Engine.Run(f);
  State.SetLabel(kShapeNames[State.range(0)]);
  State.counters["rows/query"] =
      static_cast<double>(rows) / static_cast<double>(State.iterations() * kQueries);
}

void BM_Sqlite(benchmark::State& State) {
  Tables& t = Shared();
  const std::vector<std::string> filters = Filters(static_cast<int>(State.range(0)));
  int64_t rows = 0;
  for (auto _ : State)
    for (const std::string& f : filters) rows += t.Sqlite.Run(f);
  State.SetLabel(kShapeNames[State.range(0)]);
  State.counters["rows/query"] =
      static_cast<double>(rows) / static_cast<double>(State.iterations() * kQueries);
}

BENCHMARK(BM_Engine)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
