#include "engine/expr/zelFilterUnit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/expr/zelFilterFixture.h"
#include "support/IntegrityCheckTables.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using testing::FilterDatabase;
using testing::FilterRow;
using testing::FilterTable;

// I ascending; SI descending; S case-insensitive ascending and
// case-sensitive descending; W and I together.
std::vector<tabledefs::IndexSpec> FilterIndexes() {
  return {{"ixI", "I"},
          {"ixSI", "SI", false, "", "SI"},
          {"ixSci", "S", false, "S", ""},
          {"ixSdesc", "S", false, "", "S"},
          {"ixWI", "W;I"}};
}

const std::vector<std::string>& Words() {
  static const std::vector<std::string> words = {"a",  "A",   "ab",  "Ab", "abc", "b",
                                                 "B",  "ba",  "bc",  "c",  "ca",  "CA",
                                                 "cb", "zz",  "a b", "x",  "",    "aa"};
  return words;
}

// A filter with its table: the same filter is run with the table's indexes
// offered and without any (every row evaluated).
struct FilterRun {
  TTableList Tables;
  TZelBaseFilterEvaluator Indexed;
  TZelBaseFilterEvaluator Plain;

  explicit FilterRun(FilterTable& Table) {
    testing::BuildFilterTableList(Tables, "T");
    for (TZelBaseFilterEvaluator* f : {&Indexed, &Plain}) {
      f->SetDataProvider(&Table);
      f->SetTables(&Tables);
    }
    for (int32_t k = 0; k < Table.Indexes().Count(); ++k)
      Indexed.IndexQueryMgr()->Add(Table.Indexes().Items(k));
  }
  // Both outputs; false when the text does not parse.
  bool Run(const std::string& Text, bool ExcludeNulls, plat::TFilterOptions Options,
           std::vector<void*>& WithIndexes, std::vector<void*>& Everything) {
    for (TZelBaseFilterEvaluator* f : {&Indexed, &Plain}) {
      f->SetFilterText(Text);
      f->SetExcludeRelopNulls(ExcludeNulls);
      f->SetFilterOptions(Options);
      if (!f->Open()) return false;
    }
    WithIndexes.clear();
    Everything.clear();
    for (int32_t i = 0; i < Indexed.GetRecordCount(); ++i) WithIndexes.push_back(Indexed.Output(i));
    for (int32_t i = 0; i < Plain.GetRecordCount(); ++i) Everything.push_back(Plain.Output(i));
    return true;
  }
};

std::string Quote(const std::string& S) { return "'" + S + "'"; }

class FilterGenerator {
 public:
  explicit FilterGenerator(uint32_t Seed) : Rng_(Seed) {}

  std::string Condition(int32_t Depth) {
    const int32_t pick = Below(Depth > 0 ? 10 : 7);
    if (pick < 7) return Atom();
    if (pick == 7) return "NOT (" + Condition(Depth - 1) + ")";
    return "(" + Condition(Depth - 1) + (pick == 8 ? " AND " : " OR ") + Condition(Depth - 1) + ")";
  }

 private:
  int32_t Below(int32_t N) { return static_cast<int32_t>(Rng_() % static_cast<uint32_t>(N)); }

  // A field and a constant of its kind.
  std::string Field(bool& IsString) {
    static const char* fields[] = {"I", "SI", "W", "S", "S"};
    const std::string f = fields[Below(5)];
    IsString = f == "S";
    return f;
  }
  std::string Constant(const std::string& Field) {
    if (Field == "S") return Quote(Words()[static_cast<size_t>(Below(static_cast<int32_t>(Words().size())))]);
    if (Field == "I") return std::to_string(Below(41) - 20);
    if (Field == "SI") return std::to_string(Below(32) - 1);
    return std::to_string(Below(12));
  }

  std::string Atom() {
    bool isString = false;
    const std::string f = Field(isString);
    static const char* ops[] = {"=", "<>", "<", "<=", ">", ">="};
    switch (Below(isString ? 9 : 7)) {
      case 0:
      case 1:
      case 2:
        return f + " " + ops[Below(6)] + " " + Constant(f);
      case 3:
        return f + (Below(3) == 0 ? " NOT BETWEEN " : " BETWEEN ") + Constant(f) + " AND " +
               Constant(f);
      case 4: {
        std::string list = Constant(f);
        for (int32_t n = Below(4); n > 0; --n) list += ", " + Constant(f);
        return f + (Below(3) == 0 ? " NOT IN (" : " IN (") + list + ")";
      }
      case 5:
        return f + (Below(2) == 0 ? " IS NULL" : " IS NOT NULL");
      case 6:
        // Constant first: the parser turns it round.
        return Constant(f) + " " + ops[Below(6)] + " " + f;
      default: {
        static const char* prefixes[] = {"a", "ab", "A", "b", "c", "ca", "z", "a "};
        const std::string p = prefixes[Below(8)];
        return f + (Below(4) == 0 ? " NOT LIKE " : " LIKE ") + Quote(p + (Below(3) == 0 ? "_%" : "%"));
      }
    }
  }

  std::mt19937 Rng_;
};

int32_t EnvScale(const char* Name, int32_t Default) {
  const char* text = std::getenv(Name);
  const int32_t value = text != nullptr ? std::atoi(text) : 0;
  return value > 0 ? value : Default;
}

TEST(FilterEvaluator, RandomFiltersMatchEvaluatingEveryRow) {
  const uint32_t seed = static_cast<uint32_t>(EnvScale("ZEL_FILTER_SEED", 20261210));
  const int32_t records = EnvScale("ZEL_FILTER_RECORDS", 700);
  const int32_t filters = EnvScale("ZEL_FILTER_COUNT", 3000);
  SCOPED_TRACE("seed " + std::to_string(seed) + " (ZEL_FILTER_SEED)");
  testsupport::TempDir dir;
  const std::string file = dir.File("filter.zel");
  {
    FilterDatabase db(file);
    FilterTable table(db, "T", FilterIndexes());
    std::mt19937 rng(seed);
    const auto maybeNull = [&](plat::Variant V) { return rng() % 9 == 0 ? plat::Null() : V; };
    for (int32_t r = 0; r < records; ++r) {
      FilterRow row;
      row.I = maybeNull(static_cast<int32_t>(rng() % 41) - 20);
      row.SI = maybeNull(static_cast<int32_t>(rng() % 30));
      row.W = maybeNull(static_cast<int32_t>(rng() % 10));
      row.S = maybeNull(Words()[rng() % Words().size()]);
      table.Add(row);
    }
    FilterRun run(table);
    FilterGenerator gen(seed);
    int32_t levels[3] = {0, 0, 0};
    std::vector<void*> withIndexes;
    std::vector<void*> everything;
    for (int32_t n = 0; n < filters; ++n) {
      const std::string text = gen.Condition(3);
      const bool excludeNulls = n % 2 == 0;
      plat::TFilterOptions options{plat::foNoPartialCompare};
      if (n % 3 == 0) options.Include(plat::foCaseInsensitive);
      ASSERT_TRUE(run.Run(text, excludeNulls, options, withIndexes, everything))
          << text << ": " << run.Indexed.GetErrors() << " / " << run.Plain.GetErrors();
      ++levels[run.Indexed.OptimisationLevel()];
      ASSERT_EQ(withIndexes, everything)
          << "filter " << n << ": " << text << (excludeNulls ? " (nulls excluded)" : "")
          << (options.Contains(plat::foCaseInsensitive) ? " (case-insensitive)" : "");
    }
    // Every kind of answer was exercised.
    EXPECT_GT(levels[olFull], filters / 20);
    EXPECT_GT(levels[olPartial], filters / 20);
    EXPECT_GT(levels[olNone], filters / 20);
    table.Close();
    db.Close();
  }
  EXPECT_TRUE(testsupport::TablesAreIntact(file));
}

}  // namespace
}  // namespace zel
