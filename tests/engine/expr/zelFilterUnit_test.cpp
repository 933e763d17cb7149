#include "engine/expr/zelFilterUnit.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
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
    if (Below(10) == 0) {
      // Constants compared, or a constant computed.
      if (isString || Below(2) == 0) return Constant(f) + " " + ops[Below(6)] + " " + Constant(f);
      return f + " " + ops[Below(6)] + " " + Constant(f) + " + " + std::to_string(Below(3));
    }
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
  const int32_t records = EnvScale("ZEL_FILTER_RECORDS", 400);
  const int32_t filters = EnvScale("ZEL_FILTER_COUNT", 1200);
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
      // Partial comparison makes a string comparison a prefix one.
      plat::TFilterOptions options;
      if (n % 5 != 0) options.Include(plat::foNoPartialCompare);
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

// A small table: I = 1..40 (Null every tenth), S one of Words().
struct SmallTable {
  testsupport::TempDir Dir;
  std::string File = Dir.File("small.zel");
  std::unique_ptr<FilterDatabase> Db = std::make_unique<FilterDatabase>(File);
  std::unique_ptr<FilterTable> Table = std::make_unique<FilterTable>(*Db, "T", FilterIndexes());

  SmallTable() {
    for (int32_t i = 1; i <= 40; ++i) {
      FilterRow row;
      row.I = i % 10 == 0 ? plat::Null() : plat::Variant(i);
      row.SI = i % 7;
      row.W = i % 3;
      row.S = Words()[static_cast<size_t>(i) % Words().size()];
      Table->Add(row);
    }
  }
  ::testing::AssertionResult CloseAndCheck() {
    Table->Close();
    Db->Close();
    return testsupport::TablesAreIntact(File);
  }
};

// With partial matching, "ab*" reads as the prefix "ab": the rows of
// S = 'ab', among them those longer than the prefix; without it the "*" is
// a character like any other.
TEST(FilterOptimizer, StarEndsAPrefixUnderPartialMatching) {
  SmallTable t;
  FilterRun run(*t.Table);
  std::vector<void*> star, starPlain, prefix, prefixPlain;
  plat::TFilterOptions partial;
  ASSERT_TRUE(run.Run("S = 'ab*'", false, partial, star, starPlain));
  ASSERT_TRUE(run.Run("S = 'ab'", false, partial, prefix, prefixPlain));
  EXPECT_EQ(star, prefix);
  EXPECT_EQ(starPlain, prefix);
  ASSERT_TRUE(run.Run("S = 'abc'", false, partial, prefix, prefixPlain));
  EXPECT_FALSE(prefix.empty());
  for (void* row : prefix) EXPECT_NE(std::find(star.begin(), star.end(), row), star.end());
  plat::TFilterOptions exact;
  exact.Include(plat::foNoPartialCompare);
  ASSERT_TRUE(run.Run("S = 'ab*'", false, exact, star, starPlain));
  EXPECT_TRUE(star.empty());
  EXPECT_TRUE(t.CloseAndCheck());
}

// The clock's values are filled in before any row is evaluated.
TEST(FilterOptimizer, CurrentDateAndTimeHaveValues) {
  SmallTable t;
  FilterRun run(*t.Table);
  std::vector<void*> indexed, plain;
  plat::TFilterOptions options;
  ASSERT_TRUE(run.Run("CURRENT_DATE IS NOT NULL AND CURRENT_TIME IS NOT NULL AND "
                      "CURRENT_TIMESTAMP >= CURRENT_DATE AND I = 5",
                      true, options, indexed, plain))
      << run.Indexed.GetErrors();
  EXPECT_EQ(indexed.size(), 1u);
  EXPECT_EQ(indexed, plain);
  EXPECT_TRUE(t.CloseAndCheck());
}

TEST(FilterOptimizer, LevelByConditionShape) {
  SmallTable t;
  FilterRun run(*t.Table);
  struct Case {
    const char* Text;
    TZelFilterOptimisationLevel Level;
    bool CaseInsensitive = false;
    bool PartialCompare = false;
  };
  const Case cases[] = {
      {"I = 5", olFull},
      {"5 > I", olFull},
      {"I <> 5", olFull},
      {"I BETWEEN 3 AND 9", olFull},
      {"I NOT BETWEEN 3 AND 9", olFull},
      {"I IS NULL", olFull},
      {"I IS NOT NULL", olFull},
      {"I IN (1, 5, 7)", olFull},
      {"SI >= 4", olFull},                  // descending index
      {"W = 2", olFull},                    // first field of a two-field index
      {"S = 'ab'", olFull},                 // case-sensitive index
      {"S < 'b'", olFull},
      {"S = 'ab'", olFull, true},           // case-insensitive index
      {"S IN ('a', 'b')", olFull},
      {"I = 5 AND SI = 2", olFull},
      {"I = 5 OR SI = 2", olFull},
      {"I = 5 AND F = 6", olPartial},       // F has no index
      {"(I = 1 OR SI = 2) AND F = 1", olPartial},
      {"S LIKE 'ab%'", olPartial},
      {"S LIKE 'a_%'", olPartial},
      {"I = 5 OR F = 6", olNone},
      {"F = 1", olNone},
      {"S LIKE '%b'", olNone},
      {"S LIKE 'a'", olNone},
      {"S NOT LIKE 'ab%'", olNone},
      {"I NOT IN (1, 2)", olNone},
      {"NOT (I = 5)", olNone},
      {"NOT (I = 5 AND SI = 2)", olNone},
      {"I = SI", olNone},
      {"I + 1 = 5", olNone},
      {"I = 2.5", olNone},                  // not a value of an integer key
      {"S = 'abcdefghijklmnopqrstuvwxyz'", olNone},  // longer than the key holds
      {"S = 'ab'", olPartial, false, true},            // a prefix
      {"S > 'ab'", olNone, false, true},
      {"I = 5", olFull, false, true},
      {"S = 'ab*'", olPartial, false, true},           // a prefix up to the "*"
      {"S = 'ab*'", olPartial, true, true},
      {"S = 'ab*'", olFull},                           // "*" as itself
      // Comparisons and arithmetic of constants are computed first.
      {"I = 5 AND 1 = 2", olNone},
      {"1 = 1 AND I > 3", olFull},
      {"I > 3 AND 2 + 2 = 4", olFull},
      {"1 = 1 AND S LIKE 'ab%'", olPartial},
      {"I = 5 OR 1 = 2", olFull},
      {"I = 5 OR 1 = 1", olNone},
      {"I = 1 + 4", olFull},
      {"(1 < 2 AND I = 5) OR (SI = 2 AND 3 = 3)", olFull},
  };
  std::vector<void*> withIndexes;
  std::vector<void*> everything;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    plat::TFilterOptions options;
    if (!c.PartialCompare) options.Include(plat::foNoPartialCompare);
    if (c.CaseInsensitive) options.Include(plat::foCaseInsensitive);
    for (bool excludeNulls : {false, true}) {
      ASSERT_TRUE(run.Run(c.Text, excludeNulls, options, withIndexes, everything))
          << run.Indexed.GetErrors();
      EXPECT_EQ(static_cast<int>(run.Indexed.OptimisationLevel()), static_cast<int>(c.Level));
      EXPECT_EQ(withIndexes, everything);
      // A full answer evaluates no row; a partial one fewer than all.
      const int32_t evaluated = run.Indexed.EvaluatedCount();
      if (c.Level == olFull) {
        EXPECT_EQ(evaluated, 0);
      } else if (c.Level == olPartial) {
        EXPECT_LT(evaluated, 40);
      } else {
        EXPECT_EQ(evaluated, 40);
      }
    }
  }
  EXPECT_TRUE(t.CloseAndCheck());
}

TEST(FilterEvaluator, OrderCommentsErrorsAndCombinedExpressions) {
  SmallTable t;
  FilterRun run(*t.Table);
  std::vector<void*> withIndexes;
  std::vector<void*> everything;
  const plat::TFilterOptions options{plat::foNoPartialCompare};

  // Comments are no part of a filter.
  ASSERT_TRUE(run.Run("I < 4 /* the first rows */", false, options, withIndexes, everything))
      << run.Indexed.GetErrors();
  EXPECT_EQ(withIndexes.size(), 7u) << "three values and four Nulls, which sort first";

  // A parse error is reported, not raised.
  run.Indexed.SetFilterText("I = ");
  EXPECT_FALSE(run.Indexed.Open());
  EXPECT_FALSE(run.Indexed.GetErrors().empty());

  // The default order is kept; a query takes address order. Rows went in by
  // address, so reverse order shows which one applies: the default list is
  // the table's, so both agree here, and the output is sorted either way.
  run.Indexed.SetFilterText("SI = 3");
  run.Indexed.SetQueryActive(true);
  ASSERT_TRUE(run.Indexed.Open());
  for (int32_t i = 1; i < run.Indexed.GetRecordCount(); ++i)
    EXPECT_LT(ListEntryToInt(run.Indexed.Output(i - 1)), ListEntryToInt(run.Indexed.Output(i)));
  run.Indexed.SetQueryActive(false);

  // Two expressions joined with AND give the rows of both.
  TZelBaseFilterEvaluator source;
  source.SetTables(&run.Tables);
  source.SetFilterOptions({plat::foNoPartialCompare});
  source.SetFilterText("I > 10");
  ASSERT_TRUE(source.Prepare());
  TZelFilterExprDriver driver;
  driver.SetFilterExpr(source.GetFilterExpr());
  driver.SetOverwriteExpr(true);
  run.Indexed.AssignExpr(driver, zeoAND);
  EXPECT_EQ(run.Indexed.GetRecordCount(), 27);  // 11..40 less 20, 30, 40
  TZelBaseFilterEvaluator second;
  second.SetTables(&run.Tables);
  second.SetFilterOptions({plat::foNoPartialCompare});
  second.SetFilterText("I <= 15");
  ASSERT_TRUE(second.Prepare());
  driver.SetFilterExpr(second.GetFilterExpr());
  driver.SetOverwriteExpr(false);
  run.Indexed.AssignExpr(driver, zeoAND);
  EXPECT_EQ(static_cast<int>(run.Indexed.OptimisationLevel()), static_cast<int>(olFull));
  EXPECT_EQ(run.Indexed.GetRecordCount(), 5);
  // Assessing only fills in the level.
  driver.SetAssessExprOnly(true);
  driver.SetFilterExpr(source.GetFilterExpr());
  driver.SetOverwriteExpr(true);
  run.Indexed.AssignExpr(driver, zeoAND);
  EXPECT_EQ(static_cast<int>(driver.ExprOptimizationLevel()), static_cast<int>(olFull));
  EXPECT_FALSE(driver.LimitsAssessed()) << "no field named";

  // The limits of one field, from the comparisons joined by AND.
  TZelBaseFilterEvaluator limited;
  limited.SetTables(&run.Tables);
  limited.SetFilterOptions({plat::foNoPartialCompare});
  limited.SetFilterText("I > 3 AND SI = 2 AND I <= 30 AND I >= 5 AND (I < 9 OR I > 20)");
  ASSERT_TRUE(limited.Prepare());
  driver.SetFilterExpr(limited.GetFilterExpr());
  driver.SetLimitFieldName("i");
  run.Indexed.AssignExpr(driver, zeoAND);
  ASSERT_TRUE(driver.LimitsAssessed());
  EXPECT_TRUE(driver.LimitMinSet());
  EXPECT_EQ(driver.LimitFieldMin().AsInt64(), 5);
  EXPECT_TRUE(driver.LimitMaxSet());
  EXPECT_EQ(driver.LimitFieldMax().AsInt64(), 30);
  EXPECT_TRUE(t.CloseAndCheck());
}

}  // namespace
}  // namespace zel
