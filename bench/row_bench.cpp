// Row-level work against SQLite in the same run: a table of N records with
// an integer primary key and a string index, through the table-definition,
// record and index managers, and the same table in SQLite.
//
//   insert   N records in key order (as an auto-incremented key gives them)
//            inside one transaction, each record with its two index keys;
//            the names, and so the string index, come in no order
//   lookup   P point lookups by primary key, reading the record
//   scan     every record in primary key order
//   ranges   R ranges of 100 records from a random key, in key order
//
// Both sides read inside one transaction with a cache that holds the file;
// times are CPU seconds. Both fold what they read (key and name) into a
// checksum; the program fails when the two checksums of a phase differ. Each
// repetition runs every phase on both sides; the summary gives per phase the
// median ratio engine/SQLite with its lowest and highest value. Each
// repetition also runs the engine's insert phase once more with the commit
// journal off; the summary gives the median ratio with/without journal.
//
//   row_bench [--records=N] [--lookups=P] [--ranges=R] [--repetitions=K]

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/storage/zelCommonText.h"
#include "bench/BenchSupport.h"
#include "engine/storage/zelDataUnit.h"
#include "engine/storage/zelDisk.h"
#include "engine/storage/zelIndexMgr.h"
#include "engine/storage/zelTableMgrUnit.h"

namespace {

constexpr int32_t kPage = 4096;
constexpr int32_t kNameSize = 24;
constexpr int32_t kRangeRows = 100;

struct Settings {
  int32_t Records = 1000000;
  int32_t Lookups = 100000;
  int32_t Ranges = 1000;
  int32_t Repetitions = 3;
};

using bench::CpuSeconds;
using bench::Median;
using bench::Option;
using bench::TempFolder;

// The name stored with key K: distinct per key, of varying length, and not
// in key order.
std::string NameOf(int32_t K) {
  const uint32_t h = static_cast<uint32_t>(K) * 2654435761u;
  std::string name = "n" + std::to_string(h % 1000003u) + "-" + std::to_string(K);
  name.resize(static_cast<size_t>(4 + K % 17), 'x');
  return name;
}

// What both sides fold each read record into.
struct Checksum {
  uint64_t Value = 0;
  uint64_t Rows = 0;
  void Add(int32_t Key, const char* Name, size_t Length) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < Length; ++i) h = (h ^ static_cast<uint8_t>(Name[i])) * 1099511628211ull;
    Value = Value * 31 + (static_cast<uint64_t>(static_cast<uint32_t>(Key)) ^ h);
    ++Rows;
  }
  bool operator==(const Checksum& Other) const {
    return Value == Other.Value && Rows == Other.Rows;
  }
};

// The keys and probes of one run, the same for both sides.
struct Work {
  std::vector<int32_t> InsertOrder;
  std::vector<int32_t> Probes;
  std::vector<int32_t> RangeStarts;
};

Work MakeWork(const Settings& S) {
  Work w;
  w.InsertOrder.resize(static_cast<size_t>(S.Records));
  std::iota(w.InsertOrder.begin(), w.InsertOrder.end(), 1);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> any(1, S.Records);
  for (int32_t i = 0; i < S.Lookups; ++i) w.Probes.push_back(any(rng));
  std::uniform_int_distribution<int32_t> start(1, std::max(1, S.Records - kRangeRows + 1));
  for (int32_t i = 0; i < S.Ranges; ++i) w.RangeStarts.push_back(start(rng));
  return w;
}

// ---------------------------------------------------------------- engine

// A database file with one user table T(ID integer, Name string), a unique
// primary index on ID and a non-unique index on Name (the record number as
// its hidden last key part), set up as the database component sets it up.
class EngineTable {
 public:
  explicit EngineTable(const std::string& FileName) {
    bench::OpenNewDatabase(disk_, FileName, kPage);
    headers_.SetDiskMgr(&disk_);
    headers_.SetBlockSize(256);
    headers_.SetGlobalFirstEmptyOffset(28);
    headers_.SetAccessFlags(0);
    headers_.SetTableID(0);
    headers_.SetUsage(zel::iuTableHeaders);
    headers_.SetFirstEmptyValid(false);
    headers_.Open();
    tables_.SetHdrDiskInterface(&headers_);
    tables_.SetBaseDefMgrAddress(3 * kPage);
    tables_.Open();

    zel::TTableDef def;
    Define(def);
    tables_.CreateTableDef("T", def);
    table_ = std::make_unique<zel::TTableDef>();
    table_->Assign(&def);
    tables_.OpenTableDefConnection("T", *table_);

    const zel::TInternalFields& fields = def.InternalFields();
    const zel::TInternalFieldItem* id = fields.FindField("ID");
    const zel::TInternalFieldItem* name = fields.FindField("Name");
    idOffset_ = id->DataOffset();
    idNull_ = id->NullFlagOffset();
    nameOffset_ = name->DataOffset();
    nameNull_ = name->NullFlagOffset();
    nameSize_ = name->SizeMarkerOffset();
    recordSize_ = fields.RecordSize();
    record_.assign(static_cast<size_t>(recordSize_), 0);

    records_.SetRecordSize(recordSize_);
    records_.Open(table_->RecordInterface());
    indexes_.SetIOInterface(table_->IndexInterface());
    indexes_.SetTableHeader(table_->TableHeader());
    indexes_.SetDBStringCompareFunction(zel::DBANSICompareStrings);
    indexes_.Assign(&table_->InternalIndexDefs());
    indexes_.AssignKeyFields(table_->KeyFields());
    indexes_.Open();
    primary_ = indexes_.FindIndex("PK");
    byName_ = indexes_.FindIndex("ByName");
  }

  ~EngineTable() {
    indexes_.Close();
    records_.Close();
    tables_.CloseTableDefConnection(table_->TableID());
    tables_.Close();
    headers_.Close();
    disk_.Close();
  }

  void SetJournalled(bool Value) { disk_.File().SetJournalled(Value); }
  void Begin() { disk_.DiskStartTransaction(false); }
  void Commit() { disk_.DiskCommit(); }

  void Insert(int32_t Key, int32_t RecNo) {
    std::fill(record_.begin(), record_.end(), uint8_t{0});
    record_[zel::rpInUse] = 1;
    std::memcpy(record_.data() + zel::rpLogicalRecordNo, &RecNo, 4);
    record_[static_cast<size_t>(idNull_)] = 1;
    std::memcpy(record_.data() + idOffset_, &Key, 4);
    const std::string name = NameOf(Key);
    record_[static_cast<size_t>(nameNull_)] = 1;
    const uint16_t len = static_cast<uint16_t>(name.size());
    std::memcpy(record_.data() + nameSize_, &len, 2);
    std::memcpy(record_.data() + nameOffset_, name.data(), name.size());
    const uint32_t addr = records_.AddRecord(record_.data());
    for (zel::TIndexItem* index : {primary_, byName_}) {
      index->CreateKeyBuffer(record_.data());
      index->InsertKey(addr);
    }
  }

  // Reads the record of key Key into Sum; false when there is none.
  bool Lookup(int32_t Key, Checksum& Sum) {
    std::memcpy(record_.data() + idOffset_, &Key, 4);
    record_[static_cast<size_t>(idNull_)] = 1;
    primary_->CreateKeyBuffer(record_.data());
    if (primary_->FullIndexSearch(zel::stEQ) != 0) return false;
    Read(primary_->GetRecordAddress(), Sum);
    return true;
  }

  void Scan(Checksum& Sum) {
    if (!primary_->BTree().SetCursorToEnd(true)) return;
    do Read(primary_->GetRecordAddress(), Sum);
    while (primary_->NextKey());
  }

  void Range(int32_t From, int32_t Rows, Checksum& Sum) {
    std::memcpy(record_.data() + idOffset_, &From, 4);
    record_[static_cast<size_t>(idNull_)] = 1;
    primary_->CreateKeyBuffer(record_.data());
    if (primary_->FullIndexSearch(zel::stGE) != 0) return;
    for (int32_t i = 0; i < Rows; ++i) {
      Read(primary_->GetRecordAddress(), Sum);
      if (!primary_->NextKey()) break;
    }
  }

 private:
  static void Define(zel::TTableDef& Def) {
    Def.SetTableName("T");
    Def.SetAltName("T");
    Def.SetVersion("1.50.03");
    zel::TInternalFields& fields = Def.InternalFields();
    zel::TInternalFieldItem* id = fields.Add();
    id->SetFieldName("ID");
    id->SetDataType(plat::ftInteger);
    id->SetFieldIndex(0);
    id->SetFieldNo(1);
    zel::TInternalFieldItem* name = fields.Add();
    name->SetFieldName("Name");
    name->SetDataType(plat::ftString);
    name->SetFieldSize(kNameSize);
    name->SetFieldIndex(1);
    name->SetFieldNo(2);
    fields.SetDefaultOffsets();

    struct Part {
      const char* Field;
      bool Hidden;
    };
    const auto addIndex = [&](const char* IndexName, bool Unique, int32_t Sequence,
                              std::vector<Part> Parts) {
      zel::TInternalIndexDef* index = Def.InternalIndexDefs().Add();
      index->SetIndexName(IndexName);
      index->SetUnique(Unique);
      index->SetPrimary(Unique);
      index->SetIndexSequence(Sequence);
      index->SetIndexKeyType(zel::ikMinStringLen);
      index->SetIndexPageSize(kPage);
      zel::TKeyFields keys;
      int32_t position = 0;
      for (const Part& part : Parts) {
        zel::TKeyFieldItem* key = keys.Add();
        key->SetIndexName(IndexName);
        key->SetKeyIndex(position++);
        if (part.Hidden) {
          key->SetFieldName("_RecNo");
          key->SetDataType(plat::ftInteger);
          key->SetFieldSize(4);
          key->SetRecBufOffset(zel::rpLogicalRecordNo);
          key->SetNullFlagOffset(-1);
          key->SetHidden(true);
          continue;
        }
        const zel::TInternalFieldItem* field = fields.FindField(part.Field);
        key->SetFieldName(part.Field);
        key->SetDataType(field->DataType());
        key->SetFieldSize(field->FieldSize());
        key->SetIsVariable(field->IsVariable());
        key->SetPhysicalFieldNo(field->FieldNo());
        key->SetRecBufOffset(field->DataOffset());
        key->SetNullFlagOffset(field->NullFlagOffset());
        key->SetSizeMarkerOffset(field->SizeMarkerOffset());
      }
      zel::CalculateIndexDefSizes(*index, keys);
      for (int32_t k = 0; k < keys.Count(); ++k) Def.KeyFields().Add()->Assign(keys.Items(k));
    };
    addIndex("PK", true, 0, {{"ID", false}});
    addIndex("ByName", false, 1, {{"Name", false}, {"", true}});
    Def.UpdateVersion();
  }

  void Read(uint32_t Addr, Checksum& Sum) {
    uint8_t* p = nullptr;
    records_.ReadRecordByRef(Addr, p);
    int32_t key = 0;
    uint16_t len = 0;
    std::memcpy(&key, p + idOffset_, 4);
    std::memcpy(&len, p + nameSize_, 2);
    Sum.Add(key, reinterpret_cast<const char*>(p + nameOffset_), std::min<size_t>(len, kNameSize));
  }

  zel::TDiskMgr disk_;
  zel::TDiskIOInterface headers_;
  zel::TDiskTableDefMgr tables_;
  std::unique_ptr<zel::TTableDef> table_;
  zel::TRecordMgr records_;
  zel::TIndexManager indexes_;
  zel::TIndexItem* primary_ = nullptr;
  zel::TIndexItem* byName_ = nullptr;
  std::vector<uint8_t> record_;
  int32_t recordSize_ = 0;
  int32_t idOffset_ = 0;
  int32_t idNull_ = 0;
  int32_t nameOffset_ = 0;
  int32_t nameNull_ = 0;
  int32_t nameSize_ = 0;
};

// ---------------------------------------------------------------- SQLite

class SqliteTable {
 public:
  explicit SqliteTable(const std::string& FileName) {
    if (sqlite3_open(FileName.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("open");
    Exec("PRAGMA synchronous=OFF");
    Exec("PRAGMA page_size=4096");
    Exec("PRAGMA cache_size=-1048576");
    Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT)");
    Exec("CREATE INDEX t_name ON t(name)");
    Prepare("INSERT INTO t(id, name) VALUES (?, ?)", &insert_);
    Prepare("SELECT id, name FROM t WHERE id = ?", &find_);
    Prepare("SELECT id, name FROM t ORDER BY id", &scan_);
    Prepare("SELECT id, name FROM t WHERE id >= ? ORDER BY id LIMIT ?", &range_);
  }
  ~SqliteTable() {
    for (sqlite3_stmt* s : {insert_, find_, scan_, range_}) sqlite3_finalize(s);
    sqlite3_close(db_);
  }

  void Begin() { Exec("BEGIN"); }
  void Commit() { Exec("COMMIT"); }

  void Insert(int32_t Key) {
    const std::string name = NameOf(Key);
    sqlite3_bind_int(insert_, 1, Key);
    sqlite3_bind_text(insert_, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(insert_) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
    sqlite3_reset(insert_);
  }
  bool Lookup(int32_t Key, Checksum& Sum) {
    sqlite3_bind_int(find_, 1, Key);
    const bool found = sqlite3_step(find_) == SQLITE_ROW;
    if (found) Row(find_, Sum);
    sqlite3_reset(find_);
    return found;
  }
  void Scan(Checksum& Sum) {
    while (sqlite3_step(scan_) == SQLITE_ROW) Row(scan_, Sum);
    sqlite3_reset(scan_);
  }
  void Range(int32_t From, int32_t Rows, Checksum& Sum) {
    sqlite3_bind_int(range_, 1, From);
    sqlite3_bind_int(range_, 2, Rows);
    while (sqlite3_step(range_) == SQLITE_ROW) Row(range_, Sum);
    sqlite3_reset(range_);
  }

 private:
  void Exec(const char* Sql) { bench::SqliteExec(db_, Sql); }
  void Prepare(const char* Sql, sqlite3_stmt** Stmt) {
    if (sqlite3_prepare_v2(db_, Sql, -1, Stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
  }
  static void Row(sqlite3_stmt* Stmt, Checksum& Sum) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(Stmt, 1));
    Sum.Add(sqlite3_column_int(Stmt, 0), text, static_cast<size_t>(sqlite3_column_bytes(Stmt, 1)));
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* find_ = nullptr;
  sqlite3_stmt* scan_ = nullptr;
  sqlite3_stmt* range_ = nullptr;
};

// ---------------------------------------------------------------- driver

enum Phase { phInsert, phLookup, phScan, phRanges, phCount };
const char* const kPhaseNames[phCount] = {"insert", "lookup", "scan", "ranges"};

struct Result {
  double Seconds[phCount] = {};
  Checksum Sums[phCount];
};

double Time(const std::function<void()>& Body) {
  const double start = CpuSeconds();
  Body();
  return CpuSeconds() - start;
}

template <typename Table>
Result Run(Table& T, const Work& W, const std::function<void(Table&, int32_t, int32_t)>& Insert) {
  Result r;
  r.Seconds[phInsert] = Time([&] {
    T.Begin();
    for (size_t i = 0; i < W.InsertOrder.size(); ++i)
      Insert(T, W.InsertOrder[i], static_cast<int32_t>(i + 1));
    T.Commit();
  });
  T.Begin();
  r.Seconds[phLookup] = Time([&] {
    for (int32_t key : W.Probes)
      if (!T.Lookup(key, r.Sums[phLookup])) throw std::runtime_error("key not found");
  });
  r.Seconds[phScan] = Time([&] { T.Scan(r.Sums[phScan]); });
  r.Seconds[phRanges] = Time([&] {
    for (int32_t from : W.RangeStarts) T.Range(from, kRangeRows, r.Sums[phRanges]);
  });
  T.Commit();
  return r;
}

}  // namespace

int main(int Argc, char** Argv) {
  Settings s;
  s.Records = Option(Argc, Argv, "records", s.Records);
  s.Lookups = Option(Argc, Argv, "lookups", s.Lookups);
  s.Ranges = Option(Argc, Argv, "ranges", s.Ranges);
  s.Repetitions = std::max(1, Option(Argc, Argv, "repetitions", s.Repetitions));
  const Work work = MakeWork(s);
  double load[3] = {};
  if (getloadavg(load, 3) > 0) std::printf("load average at start: %.2f\n", load[0]);
  std::printf("records %d, lookups %d, ranges %d of %d rows, repetitions %d\n", s.Records,
              s.Lookups, s.Ranges, kRangeRows, s.Repetitions);
  std::printf("%-4s %-8s %12s %12s %8s\n", "rep", "phase", "engine s", "SQLite s", "ratio");
  std::vector<double> ratios[phCount];
  std::vector<double> journalRatios;
  bool agree = true;
  for (int32_t rep = 1; rep <= s.Repetitions; ++rep) {
    Result engine;
    Result sqlite;
    {
      TempFolder folder;
      EngineTable table(folder.File("bench.zel"));
      engine = Run<EngineTable>(table, work, [](EngineTable& T, int32_t Key, int32_t RecNo) {
        T.Insert(Key, RecNo);
      });
    }
    {
      TempFolder folder;
      SqliteTable table(folder.File("bench.db"));
      sqlite = Run<SqliteTable>(table, work,
                                [](SqliteTable& T, int32_t Key, int32_t) { T.Insert(Key); });
    }
    double unjournalled = 0;
    {
      TempFolder folder;
      EngineTable table(folder.File("bench.zel"));
      table.SetJournalled(false);
      unjournalled = Time([&] {
        table.Begin();
        for (size_t i = 0; i < work.InsertOrder.size(); ++i)
          table.Insert(work.InsertOrder[i], static_cast<int32_t>(i + 1));
        table.Commit();
      });
    }
    journalRatios.push_back(engine.Seconds[phInsert] / unjournalled);
    std::printf("%-4d %-8s %12.3f %12s %8.2f  (engine without journal; ratio with/without)\n",
                rep, "insert", unjournalled, "", journalRatios.back());
    for (int p = 0; p < phCount; ++p) {
      const double ratio = engine.Seconds[p] / sqlite.Seconds[p];
      ratios[p].push_back(ratio);
      std::printf("%-4d %-8s %12.3f %12.3f %8.2f\n", rep, kPhaseNames[p], engine.Seconds[p],
                  sqlite.Seconds[p], ratio);
      if (p != phInsert && !(engine.Sums[p] == sqlite.Sums[p])) {
        std::printf("checksums differ in %s: engine %" PRIu64 " over %" PRIu64
                    " rows, SQLite %" PRIu64 " over %" PRIu64 " rows\n",
                    kPhaseNames[p], engine.Sums[p].Value, engine.Sums[p].Rows,
                    sqlite.Sums[p].Value, sqlite.Sums[p].Rows);
        agree = false;
      }
    }
  }
  if (getloadavg(load, 3) > 0) std::printf("load average at end: %.2f\n", load[0]);
  std::printf("\n%-8s %8s %8s %8s  (engine/SQLite)\n", "phase", "median", "lowest", "highest");
  for (int p = 0; p < phCount; ++p) {
    const auto [lo, hi] = std::minmax_element(ratios[p].begin(), ratios[p].end());
    std::printf("%-8s %8.2f %8.2f %8.2f\n", kPhaseNames[p], Median(ratios[p]), *lo, *hi);
  }
  {
    const auto [lo, hi] = std::minmax_element(journalRatios.begin(), journalRatios.end());
    std::printf("%-8s %8.2f %8.2f %8.2f  (engine insert, journal/no journal)\n", "journal",
                Median(journalRatios), *lo, *hi);
  }
  if (!agree) {
    std::printf("FAILED: the engine and SQLite read different rows\n");
    return 1;
  }
  return 0;
}
