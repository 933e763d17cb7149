// SQL statements against SQLite in the same run: the same statement texts,
// run through the query component on a database file and through SQLite on
// a file with the same schema, indexes and rows.
//
//   customers  id PK, name, city, region (20 regions)         10^4 rows
//   orders     id PK, customer_id (indexed), amount, odate (indexed),
//              status, note; a tenth of the orders name a customer that
//              does not exist                                   2 x 10^5 rows
//   items      id PK, order_id (indexed), product, qty, price   10^6 rows
//
// Each repetition runs every read case, then UPDATE and DELETE of a tenth
// of the items by an indexed range of orders, then puts the deleted items
// back with parameterised INSERTs in one transaction: every repetition
// reads the same rows. Both sides read every column of every result row
// and fold it into a checksum (in result order where the statement orders
// its rows, as a multiset otherwise); writes compare their affected rows,
// and after the writes both tables must agree again. The program fails
// loudly when a row count or a checksum differs, or when a case fails on
// one side.
//
// Like for like: both files have pages of 4096 bytes, commit through a
// journal without forcing the file to disk, and cache the same number of
// pages (the engine takes a quarter of the file's pages, at most 1000; its
// database is reconnected after the load so that it sizes its cache on the
// full file, and SQLite gets the same number). Statements run in their own
// transaction unless the case says otherwise; SQLite prepares a statement
// once per case and rebinds it, the query component keeps its SQL text and
// sets its parameters. Times are CPU seconds of the process; the summary
// gives per case the median ratio engine/SQLite with the lowest and
// highest.
//
//   sql_bench [--scale=D] [--lookups=P] [--repetitions=K] [--case=NAME,...]
//             [--skip=NAME,...]
//
// --scale divides the row counts (and the default of 10^4 lookups) by D,
// for a quick look; --case runs only the cases whose name starts with one of
// the NAMEs, --skip leaves those out.

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "engine/dataset/zelDatabase.h"
#include "engine/sql/zelSQL.h"
#include "engine/storage/zelCommonError.h"
#include "platform/db/Fields.h"
#include "platform/db/Params.h"

namespace {

using bench::CpuSeconds;
using bench::Median;
using bench::Option;
using bench::TempFolder;

struct Settings {
  int32_t Scale = 1;
  int32_t Repetitions = 3;
  int32_t Lookups = 10000;
  std::vector<std::string> Only;
  std::vector<std::string> Skip;
  bool Wanted(const std::string& Name) const {
    const auto starts = [&](const std::string& Prefix) { return Name.rfind(Prefix, 0) == 0; };
    if (!Only.empty() && std::none_of(Only.begin(), Only.end(), starts)) return false;
    return std::none_of(Skip.begin(), Skip.end(), starts);
  }
  int32_t Customers() const { return 10000 / Scale; }
  int32_t Orders() const { return 200000 / Scale; }
  int32_t Items() const { return 5 * Orders(); }
  int32_t Days() const { return 36500; }
};

// ---------------------------------------------------------------- checksums

uint64_t Mix(uint64_t V) {
  V ^= V >> 33;
  V *= 0xff51afd7ed558ccdull;
  V ^= V >> 33;
  V *= 0xc4ceb9fe1a85ec53ull;
  return V ^ (V >> 33);
}

// One result row's columns folded in order. Numbers fold by value, whatever
// type carries them (a count may come as an integer on one side and a float
// on the other).
struct RowHash {
  uint64_t Value = 1469598103934665603ull;
  void Add(uint64_t V) { Value = Mix(Value ^ V) + 0x9e3779b97f4a7c15ull; }
  void Null() { Add(0x6e756c6cull); }
  void Number(double V) {
    const double r = std::round(V);
    Add(std::fabs(V - r) < 1e-9 ? static_cast<uint64_t>(static_cast<int64_t>(r))
                                : static_cast<uint64_t>(std::llround(V * 10000.0)) ^ 0xf10a7ull);
  }
  void Text(const char* S, size_t Length) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < Length; ++i) h = (h ^ static_cast<uint8_t>(S[i])) * 1099511628211ull;
    Add(h ^ Length);
  }
};

struct Checksum {
  uint64_t Rows = 0;
  uint64_t InOrder = 0;  // depends on the order of the rows
  uint64_t AsSet = 0;    // does not
  void Add(const RowHash& H) {
    ++Rows;
    InOrder = InOrder * 1000003ull + H.Value;
    AsSet += Mix(H.Value);
  }
  bool Same(const Checksum& Other, bool Ordered) const {
    return Rows == Other.Rows && AsSet == Other.AsSet && (!Ordered || InOrder == Other.InOrder);
  }
};

// ---------------------------------------------------------------- data

std::string Letters(std::mt19937& Rng, int32_t Count) {
  std::string s(static_cast<size_t>(Count), 'a');
  for (char& c : s) c = static_cast<char>('a' + Rng() % 26);
  return s;
}

// The rows of the three tables, as parameter values by column name.
using Row = std::vector<int64_t>;

struct TableRows {
  std::string Insert;  // INSERT ... VALUES (:a, :b, ...)
  std::vector<std::string> Names;
  std::vector<bool> IsText;
  std::vector<std::vector<std::string>> Texts;  // per row, the text columns in order
  std::vector<Row> Numbers;                     // per row, the number columns in order
};

struct Data {
  TableRows Customers;
  TableRows Orders;
  TableRows Items;
};

TableRows Table(const std::string& Name, const std::vector<std::pair<std::string, bool>>& Columns) {
  TableRows t;
  std::string names;
  std::string values;
  for (const auto& [column, text] : Columns) {
    t.Names.push_back(column);
    t.IsText.push_back(text);
    names += (names.empty() ? "" : ", ") + column;
    values += (values.empty() ? ":" : ", :") + column;
  }
  t.Insert = "INSERT INTO " + Name + " (" + names + ") VALUES (" + values + ")";
  return t;
}

const char* const kCities[] = {"alba",  "bora",  "cato",  "dena",  "elko",  "faro",  "gila",
                               "hilo",  "ives",  "jena",  "kiev",  "lima",  "mesa",  "nome",
                               "oslo",  "pisa",  "quito", "reno",  "sala",  "tula",  "ulm",
                               "vaasa", "waco",  "xanten", "york", "zug"};
const char* const kStatus[] = {"new", "paid", "shipped", "returned", "closed"};

Data MakeData(const Settings& S) {
  Data d;
  std::mt19937 rng(2026);
  d.Customers = Table("customers", {{"id", false}, {"name", true}, {"city", true}, {"region", false}});
  for (int32_t id = 1; id <= S.Customers(); ++id) {
    d.Customers.Numbers.push_back({id, 1 + static_cast<int64_t>(rng() % 20)});
    d.Customers.Texts.push_back({"cust" + Letters(rng, 8), kCities[rng() % 26]});
  }
  d.Orders = Table("orders", {{"id", false},
                              {"customer_id", false},
                              {"amount", false},
                              {"odate", false},
                              {"status", true},
                              {"note", true}});
  for (int32_t id = 1; id <= S.Orders(); ++id) {
    // One order in ten names a customer that does not exist.
    const int64_t customer = rng() % 10 == 0 ? S.Customers() + 1 + rng() % 1000
                                             : 1 + rng() % static_cast<uint32_t>(S.Customers());
    d.Orders.Numbers.push_back(
        {id, customer, 1 + static_cast<int64_t>(rng() % 100000), static_cast<int64_t>(rng() % S.Days())});
    d.Orders.Texts.push_back({kStatus[rng() % 5], Letters(rng, 12)});
  }
  d.Items = Table("items", {{"id", false}, {"order_id", false}, {"product", false}, {"qty", false},
                            {"price", false}});
  for (int32_t id = 1; id <= S.Items(); ++id) {
    d.Items.Numbers.push_back({id, (id - 1) / 5 + 1, 1 + static_cast<int64_t>(rng() % 1000),
                               1 + static_cast<int64_t>(rng() % 10),
                               1 + static_cast<int64_t>(rng() % 10000)});
    d.Items.Texts.push_back({});
  }
  return d;
}

const char* const kSchema[] = {
    "CREATE TABLE customers (id INTEGER NOT NULL, name VARCHAR(20), city VARCHAR(20), "
    "region INTEGER, PRIMARY KEY (id))",
    "CREATE TABLE orders (id INTEGER NOT NULL, customer_id INTEGER, amount INTEGER, "
    "odate INTEGER, status VARCHAR(10), note VARCHAR(16), PRIMARY KEY (id))",
    "CREATE TABLE items (id INTEGER NOT NULL, order_id INTEGER, product INTEGER, qty INTEGER, "
    "price INTEGER, PRIMARY KEY (id))",
    "CREATE INDEX orders_customer ON orders (customer_id)",
    "CREATE INDEX orders_odate ON orders (odate)",
    "CREATE INDEX items_order ON items (order_id)",
};

// ---------------------------------------------------------------- cases

// One parameter value set of a run: values by parameter name.
using Binding = std::vector<std::pair<std::string, int64_t>>;

enum class Kind { Select, Write, InsertBatch };

struct Case {
  std::string Name;
  std::string Sql;
  Kind What = Kind::Select;
  bool Ordered = false;
  std::vector<Binding> Runs;  // one run without parameters when empty
};

Case Query(std::string Name, std::string Sql, bool Ordered = false) {
  return {std::move(Name), std::move(Sql), Kind::Select, Ordered, {}};
}

std::vector<Case> MakeCases(const Settings& S, int32_t Rep) {
  std::vector<Case> cases;
  std::mt19937 rng(static_cast<uint32_t>(100 + Rep));
  const auto any = [&](int32_t N) { return static_cast<int64_t>(1 + rng() % static_cast<uint32_t>(N)); };

  Case lookup = Query("pk lookup", "SELECT id, name, city, region FROM customers WHERE id = :id");
  for (int32_t i = 0; i < S.Lookups; ++i) lookup.Runs.push_back({{"id", any(S.Customers())}});
  cases.push_back(lookup);

  Case range = Query("range 1% x20",
             "SELECT id, customer_id, amount, odate FROM orders WHERE odate BETWEEN :lo AND :hi");
  for (int32_t i = 0; i < 20; ++i) {
    const int64_t lo = any(S.Days() - S.Days() / 100);
    range.Runs.push_back({{"lo", lo}, {"hi", lo + S.Days() / 100 - 1}});
  }
  cases.push_back(range);

  Case selective = Query("selective join x100",
                         "SELECT o.id, o.amount, i.product, i.qty, i.price FROM orders o JOIN "
                         "items i ON i.order_id = o.id WHERE o.customer_id = :c");
  for (int32_t i = 0; i < 100; ++i) selective.Runs.push_back({{"c", any(S.Customers())}});
  cases.push_back(selective);

  struct Plain {
    const char* Name;
    const char* Sql;
    bool Ordered;
  };
  static const Plain kPlain[] = {
      {"like count", "SELECT COUNT(*) FROM orders WHERE note LIKE '%ab%'", false},
      {"join group 20",
       "SELECT c.region, COUNT(*), SUM(o.amount) FROM orders o JOIN customers c "
       "ON c.id = o.customer_id GROUP BY c.region",
       false},
      {"join group 10^4",
       "SELECT o.customer_id, COUNT(*), SUM(o.amount) FROM orders o JOIN customers c "
       "ON c.id = o.customer_id GROUP BY o.customer_id",
       false},
      {"left join 10% unmatched",
       "SELECT o.id, o.amount, c.name, c.region FROM orders o LEFT JOIN customers c "
       "ON c.id = o.customer_id",
       false},
      {"order by non-indexed", "SELECT id, customer_id, amount FROM orders ORDER BY amount, id",
       true},
      {"distinct two columns", "SELECT DISTINCT product, qty FROM items", false},
      {"in subquery",
       "SELECT id, name FROM customers WHERE id IN "
       "(SELECT customer_id FROM orders WHERE amount > 99000)",
       false},
      {"correlated exists",
       "SELECT id, name FROM customers c WHERE EXISTS (SELECT id FROM orders o "
       "WHERE o.customer_id = c.id AND o.amount > 99000)",
       false},
      {"union",
       "SELECT customer_id FROM orders WHERE amount > 95000 UNION "
       "SELECT customer_id FROM orders WHERE odate < 1825",
       false},
      {"union all",
       "SELECT customer_id FROM orders WHERE amount > 95000 UNION ALL "
       "SELECT customer_id FROM orders WHERE odate < 1825",
       false},
  };
  for (const Plain& p : kPlain) cases.push_back(Query(p.Name, p.Sql, p.Ordered));

  // A tenth of the orders, and so of the items, different in each
  // repetition.
  const int64_t tenth = S.Orders() / 10;
  const int64_t lo = 1 + (static_cast<int64_t>(Rep) * 3 % 10) * tenth;
  const Binding slice = {{"lo", lo}, {"hi", lo + tenth - 1}};
  cases.push_back({"update 10%",
                   "UPDATE items SET qty = qty + 1 WHERE order_id BETWEEN :lo AND :hi",
                   Kind::Write, false, {slice}});
  cases.push_back({"delete 10%", "DELETE FROM items WHERE order_id BETWEEN :lo AND :hi",
                   Kind::Write, false, {slice}});
  // The deleted items, put back as they were generated.
  Case insert{"insert 10^5 in one tx", "", Kind::InsertBatch, false, {}};
  insert.Runs.push_back(slice);  // replaced by the rows when run
  cases.push_back(insert);
  return cases;
}

// The parameter sets that put back the items of orders Lo..Hi.
std::vector<Binding> ItemRows(const Data& D, int64_t Lo, int64_t Hi) {
  std::vector<Binding> out;
  for (int64_t id = (Lo - 1) * 5 + 1; id <= Hi * 5; ++id) {
    const Row& r = D.Items.Numbers[static_cast<size_t>(id - 1)];
    Binding b;
    for (size_t c = 0; c < r.size(); ++c) b.push_back({D.Items.Names[c], r[c]});
    out.push_back(std::move(b));
  }
  return out;
}

// ---------------------------------------------------------------- engine

class EngineDb {
 public:
  explicit EngineDb(const std::string& FileName) {
    Db_.SetDataBaseName(FileName);
    Db_.CreateDatabase();
    Db_.SetConnected(true);
    Q_.SetDataBase(&Db_);
  }
  ~EngineDb() {
    try {
      Q_.Close();
      if (Db_.InTransaction()) Db_.Rollback();
      Db_.SetConnected(false);
    } catch (...) {
      // Leaving anyway.
    }
  }

  void Exec(const std::string& Sql) {
    Q_.SQL().SetText(Sql);
    Q_.ExecSQL();
  }

  void Load(const TableRows& T) {
    Q_.SQL().SetText(T.Insert);
    Db_.StartTransaction();
    for (size_t r = 0; r < T.Numbers.size(); ++r) {
      size_t n = 0;
      size_t s = 0;
      for (size_t c = 0; c < T.Names.size(); ++c) {
        plat::TParam* p = Q_.ParamByName(T.Names[c]);
        if (T.IsText[c])
          p->SetAsString(T.Texts[r][s++]);
        else
          p->SetAsInteger(static_cast<int32_t>(T.Numbers[r][n++]));
      }
      Q_.ExecSQL();
    }
    Db_.Commit();
  }

  // Sizes the page cache on the loaded file.
  void Reconnect() {
    Q_.Close();
    Db_.SetConnected(false);
    Db_.SetConnected(true);
  }

  Checksum Run(const Case& C, const std::vector<Binding>& Runs) {
    Checksum sum;
    Q_.SQL().SetText(C.Sql);
    if (C.What == Kind::InsertBatch) Db_.StartTransaction();
    try {
      for (const Binding& b : Runs) {
        for (const auto& [name, value] : b) Q_.ParamByName(name)->SetAsInteger(static_cast<int32_t>(value));
        if (C.What == Kind::Select) {
          Q_.Open();
          const int32_t columns = Q_.FieldCount();
          std::vector<plat::TField*> fields;
          for (int32_t i = 0; i < columns; ++i) fields.push_back(Q_.Fields().Fields(i));
          for (; !Q_.Eof(); Q_.Next()) {
            RowHash h;
            for (plat::TField* f : fields) {
              if (f->IsNull())
                h.Null();
              else if (IsText(f->DataType())) {
                const std::string s = f->AsString();
                h.Text(s.data(), s.size());
              } else
                h.Number(f->AsFloat());
            }
            sum.Add(h);
          }
          Q_.Close();
        } else {
          Q_.ExecSQL();
          sum.Rows += static_cast<uint64_t>(Q_.RowsAffected());
        }
      }
    } catch (...) {
      if (C.What == Kind::InsertBatch && Db_.InTransaction()) Db_.Rollback();
      Q_.Close();
      throw;
    }
    if (C.What == Kind::InsertBatch) Db_.Commit();
    return sum;
  }

 private:
  static bool IsText(plat::TFieldType T) {
    return T == plat::ftString || T == plat::ftFixedChar || T == plat::ftWideString ||
           T == plat::ftMemo;
  }
  zel::TZelDataBase Db_;
  zel::TZelQuery Q_;
};

// ---------------------------------------------------------------- SQLite

class SqliteDb {
 public:
  SqliteDb(const std::string& FileName) {
    if (sqlite3_open(FileName.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("open");
    Exec("PRAGMA page_size=4096");
    Exec("PRAGMA synchronous=OFF");
  }
  ~SqliteDb() { sqlite3_close(db_); }

  void Exec(const std::string& Sql) { bench::SqliteExec(db_, Sql.c_str()); }

  void Load(const TableRows& T) {
    Exec("BEGIN");
    sqlite3_stmt* stmt = Prepare(T.Insert);
    for (size_t r = 0; r < T.Numbers.size(); ++r) {
      size_t n = 0;
      size_t s = 0;
      for (size_t c = 0; c < T.Names.size(); ++c) {
        const int at = static_cast<int>(c) + 1;
        if (T.IsText[c])
          sqlite3_bind_text(stmt, at, T.Texts[r][s++].c_str(), -1, SQLITE_TRANSIENT);
        else
          sqlite3_bind_int64(stmt, at, T.Numbers[r][n++]);
      }
      Step(stmt);
      sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    Exec("COMMIT");
  }

  void SetCachePages(int64_t Pages) { Exec("PRAGMA cache_size=" + std::to_string(Pages)); }

  Checksum Run(const Case& C, const std::vector<Binding>& Runs) {
    Checksum sum;
    if (C.What == Kind::InsertBatch) Exec("BEGIN");
    sqlite3_stmt* stmt = Prepare(C.Sql);
    for (const Binding& b : Runs) {
      for (const auto& [name, value] : b) {
        const int at = sqlite3_bind_parameter_index(stmt, (":" + name).c_str());
        if (at == 0) throw std::runtime_error("no parameter " + name);
        sqlite3_bind_int64(stmt, at, value);
      }
      if (C.What == Kind::Select) {
        const int columns = sqlite3_column_count(stmt);
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
          RowHash h;
          for (int i = 0; i < columns; ++i) {
            switch (sqlite3_column_type(stmt, i)) {
              case SQLITE_NULL:
                h.Null();
                break;
              case SQLITE_TEXT:
                h.Text(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                       static_cast<size_t>(sqlite3_column_bytes(stmt, i)));
                break;
              default:
                h.Number(sqlite3_column_double(stmt, i));
            }
          }
          sum.Add(h);
        }
        if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
      } else {
        Step(stmt);
        sum.Rows += static_cast<uint64_t>(sqlite3_changes(db_));
      }
      sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    if (C.What == Kind::InsertBatch) Exec("COMMIT");
    return sum;
  }

 private:
  sqlite3_stmt* Prepare(const std::string& Sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, Sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
    return stmt;
  }
  void Step(sqlite3_stmt* Stmt) {
    if (sqlite3_step(Stmt) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
  }
  sqlite3* db_ = nullptr;
};

// ---------------------------------------------------------------- driver

double WallSeconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The comma-separated values of --Name=.
std::vector<std::string> ListOption(int Argc, char** Argv, const char* Name) {
  const std::string prefix = std::string("--") + Name + "=";
  std::vector<std::string> out;
  for (int i = 1; i < Argc; ++i) {
    if (std::strncmp(Argv[i], prefix.c_str(), prefix.size()) != 0) continue;
    const std::string list = Argv[i] + prefix.size();
    for (size_t at = 0; at < list.size();) {
      const size_t comma = std::min(list.find(',', at), list.size());
      out.push_back(list.substr(at, comma - at));
      at = comma + 1;
    }
  }
  return out;
}

std::string ErrorText(const std::exception_ptr& E) {
  try {
    std::rethrow_exception(E);
  } catch (const zel::EZelDatabaseError& e) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X ", static_cast<unsigned>(e.ErrorCode()));
    std::string text = code + e.Message();
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

// A case's run on one side: its checksum and CPU seconds, or why it failed.
struct Timed {
  Checksum Sum;
  double Seconds = 0;
  std::string Failure;
};

template <typename Db>
Timed TimedRun(Db& D, const Case& C, const std::vector<Binding>& Runs, const char* Side) {
  Timed t;
  try {
    const double start = CpuSeconds();
    t.Sum = D.Run(C, Runs);
    t.Seconds = CpuSeconds() - start;
  } catch (...) {
    t.Failure = std::string(Side) + ": " + ErrorText(std::current_exception());
  }
  return t;
}

}  // namespace

int main(int Argc, char** Argv) {
  // Each line as it comes: a run takes minutes.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Settings s;
  s.Scale = std::max(1, Option(Argc, Argv, "scale", s.Scale));
  s.Repetitions = std::max(1, Option(Argc, Argv, "repetitions", s.Repetitions));
  s.Lookups = std::max(1, Option(Argc, Argv, "lookups", s.Lookups / s.Scale));
  s.Only = ListOption(Argc, Argv, "case");
  s.Skip = ListOption(Argc, Argv, "skip");
  double load[3] = {};
  if (getloadavg(load, 3) > 0) std::printf("load average at start: %.2f\n", load[0]);
  std::printf("customers %d, orders %d, items %d, lookups %d, repetitions %d\n", s.Customers(),
              s.Orders(), s.Items(), s.Lookups, s.Repetitions);
  const Data data = MakeData(s);

  TempFolder folder;
  EngineDb engine(folder.File("sql.zel"));
  SqliteDb sqlite(folder.File("sql.db"));
  double engineLoad = 0;
  double sqliteLoad = 0;
  for (const char* sql : kSchema) {
    engine.Exec(sql);
    sqlite.Exec(sql);
  }
  for (const TableRows* t : {&data.Customers, &data.Orders, &data.Items}) {
    double start = WallSeconds();
    engine.Load(*t);
    engineLoad += WallSeconds() - start;
    start = WallSeconds();
    sqlite.Load(*t);
    sqliteLoad += WallSeconds() - start;
  }
  engine.Reconnect();
  const int64_t pages = std::filesystem::file_size(folder.File("sql.zel")) / zel::DatabasePageSize;
  const int64_t cachePages = std::clamp<int64_t>(pages / 4, 50, 1000);
  sqlite.SetCachePages(cachePages);
  std::printf("loaded in %.1f s (engine, %" PRId64 " pages) and %.1f s (SQLite, %" PRIuMAX
              " pages), wall time; cache of %" PRId64 " pages on both sides\n",
              engineLoad, pages, sqliteLoad,
              static_cast<uintmax_t>(std::filesystem::file_size(folder.File("sql.db")) / 4096),
              cachePages);

  std::printf("%-4s %-26s %10s %10s %8s %10s\n", "rep", "case", "engine s", "SQLite s", "ratio",
              "rows");
  std::map<std::string, std::vector<double>> ratios;
  std::vector<std::string> order;
  std::map<std::string, std::string> failures;
  bool agree = true;
  for (int32_t rep = 1; rep <= s.Repetitions; ++rep) {
    for (const Case& c : MakeCases(s, rep)) {
      if (!s.Wanted(c.Name)) {
        if (rep == 1) std::printf("%-4s %-26s skipped\n", "", c.Name.c_str());
        continue;
      }
      if (ratios.find(c.Name) == ratios.end()) {
        order.push_back(c.Name);
        ratios[c.Name];
      }
      const Case* run = &c;
      Case insert;
      std::vector<Binding> runs = c.Runs;
      if (c.What == Kind::InsertBatch) {
        insert = c;
        insert.Sql = data.Items.Insert;
        runs = ItemRows(data, c.Runs[0][0].second, c.Runs[0][1].second);
        run = &insert;
      }
      if (runs.empty()) runs.push_back({});
      Timed e = TimedRun(engine, *run, runs, "engine");
      Timed q = TimedRun(sqlite, *run, runs, "SQLite");
      std::string failed = e.Failure;
      if (!q.Failure.empty()) failed += (failed.empty() ? "" : "; ") + q.Failure;
      if (!failed.empty()) {
        std::printf("%-4d %-26s NOT RUNNABLE: %s\n", rep, c.Name.c_str(), failed.c_str());
        failures[c.Name] = failed;
        agree = false;
        continue;
      }
      const double ratio = e.Seconds / std::max(q.Seconds, 1e-6);
      ratios[c.Name].push_back(ratio);
      std::printf("%-4d %-26s %10.4f %10.4f %8.2f %10" PRIu64 "\n", rep, c.Name.c_str(),
                  e.Seconds, q.Seconds, ratio, q.Sum.Rows);
      if (!e.Sum.Same(q.Sum, c.Ordered)) {
        std::printf("MISMATCH in %s: engine %" PRIu64 " rows (sum %016" PRIx64 ", order %016" PRIx64
                    "), SQLite %" PRIu64 " rows (sum %016" PRIx64 ", order %016" PRIx64 ")\n  %s\n",
                    c.Name.c_str(), e.Sum.Rows, e.Sum.AsSet, e.Sum.InOrder, q.Sum.Rows, q.Sum.AsSet, q.Sum.InOrder,
                    run->Sql.c_str());
        agree = false;
      }
    }
    // After the writes both item tables must hold the same rows again.
    if (s.Wanted("update") && s.Wanted("delete") && s.Wanted("insert")) {
      const Case all = Query("items after writes", "SELECT id, order_id, product, qty, price FROM items");
      try {
        if (!engine.Run(all, {{}}).Same(sqlite.Run(all, {{}}), false)) {
          std::printf("MISMATCH: the items tables differ after the writes of repetition %d\n", rep);
          agree = false;
        }
      } catch (...) {
        std::printf("items after writes: %s\n", ErrorText(std::current_exception()).c_str());
        agree = false;
      }
    }
  }
  if (getloadavg(load, 3) > 0) std::printf("load average at end: %.2f\n", load[0]);

  std::printf("\n%-26s %8s %8s %8s  (engine/SQLite)\n", "case", "median", "lowest", "highest");
  std::vector<double> medians;
  for (const std::string& name : order) {
    const std::vector<double>& r = ratios[name];
    if (r.empty()) {
      std::printf("%-26s NOT RUNNABLE: %s\n", name.c_str(), failures[name].c_str());
      continue;
    }
    const auto [lo, hi] = std::minmax_element(r.begin(), r.end());
    medians.push_back(Median(r));
    std::printf("%-26s %8.2f %8.2f %8.2f%s\n", name.c_str(), medians.back(), *lo, *hi,
                medians.back() > 2 ? "  over 2x" : "");
  }
  if (!medians.empty())
    std::printf("%-26s %8.2f  (median of the cases' medians)\n", "all cases", Median(medians));
  if (!agree) {
    std::printf("FAILED: the engine and SQLite gave different results, or a case did not run\n");
    return 1;
  }
  return 0;
}
