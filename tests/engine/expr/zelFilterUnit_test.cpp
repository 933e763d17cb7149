#include "engine/expr/zelFilterUnit.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/expr/zelBaseParserOps.h"
#include "engine/expr/zelFilterFixture.h"
#include "support/IntegrityCheckTables.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using testing::FilterDatabase;
using testing::FilterRow;
using testing::FilterTable;

// I ascending; SI descending; S case-insensitive ascending and
// case-sensitive descending; W and I together; the moments D and T
// ascending, DT descending.
std::vector<tabledefs::IndexSpec> FilterIndexes() {
  return {{"ixI", "I"},
          {"ixSI", "SI", false, "", "SI"},
          {"ixSci", "S", false, "S", ""},
          {"ixSdesc", "S", false, "", "S"},
          {"ixWI", "W;I"},
          {"ixD", "D"},
          {"ixT", "T"},
          {"ixDTdesc", "DT", false, "", "DT"}};
}

// Text beyond ASCII too: its case is folded by the evaluator, not by the
// indexes' collation.
const std::vector<std::string>& Words() {
  static const std::vector<std::string> words = {
      "a",  "A",  "ab", "Ab", "abc", "b", "B",  "ba", "bc", "c", "ca",
      "CA", "cb", "zz", "a b", "x",  "",  "aa", "\xc3\xa9", "\xc3\x89" "a"};
  return words;
}

// Literals of the moment fields, and the values the rows take from them.
const std::vector<std::string>& MomentTexts(const std::string& Field) {
  static const std::vector<std::string> dates = {"2020-01-01", "2020-01-02", "2020-01-03",
                                                 "2020-01-05", "2020-02-01", "2019-12-31"};
  static const std::vector<std::string> times = {"00:00:00", "01:00:00", "01:30:00",
                                                 "05:00:00", "12:00:00", "23:59:59"};
  static const std::vector<std::string> stamps = {
      "2020-01-01 00:00:00", "2020-01-01 12:00:00", "2020-01-02 01:30:00",
      "2020-01-03 00:00:00", "2019-12-31 23:59:59", "2020-01-02 00:00:00"};
  return Field == "D" ? dates : Field == "T" ? times : stamps;
}

plat::Variant MomentValue(const std::string& Field, size_t Index) {
  const plat::TFieldType type = Field == "D"   ? plat::ftDate
                                : Field == "T" ? plat::ftTime
                                               : plat::ftDateTime;
  plat::Variant value;
  TZelDataConversionValidator::ConvertStrToDateTime(MomentTexts(Field)[Index], type, value);
  return value;
}

// A filter with its table: the same filter is run with the table's indexes
// offered and without any (every row evaluated after the optimizer's
// simplification); the parsed filter is also evaluated over every row
// without any simplification, to check that one.
struct FilterRun {
  FilterTable& Table;
  TTableList Tables;
  TZelBaseFilterEvaluator Indexed;
  TZelBaseFilterEvaluator Plain;
  // Whether the last Run's simplified evaluation matched the reference.
  bool SimplifiedMatches = true;

  explicit FilterRun(FilterTable& Source) : Table(Source) {
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
    // The accumulated expression is the parser's, before any simplification.
    TCompoundList all;
    TCompoundList passed;
    Table.GetDefaultRecordList(all);
    TExprResultListGenerator::CreateResultList(Table, Plain.GetFilterExpr()->FirstNode(), ExcludeNulls,
                                               passed, all);
    for (int32_t i = 0; i < Plain.GetRecordCount(); ++i) Everything.push_back(Plain.Output(i));
    SimplifiedMatches = Plain.GetRecordCount() == passed.Count();
    for (int32_t i = 0; SimplifiedMatches && i < passed.Count(); ++i)
      SimplifiedMatches = Plain.Output(i) == passed.Items(i);
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
  std::string Field(bool& IsString, bool& IsText) {
    static const char* fields[] = {"I", "SI", "W", "S", "S", "D", "T", "DT"};
    const std::string f = fields[Below(8)];
    IsString = f == "S";
    IsText = IsString || f == "D" || f == "T" || f == "DT";
    return f;
  }
  std::string Constant(const std::string& Field) {
    if (Field == "S") return Quote(Words()[static_cast<size_t>(Below(static_cast<int32_t>(Words().size())))]);
    if (Field == "D" || Field == "T" || Field == "DT")
      return Quote(MomentTexts(Field)[static_cast<size_t>(Below(6))]);
    if (Field == "I") return std::to_string(Below(41) - 20);
    if (Field == "SI") return std::to_string(Below(32) - 1);
    return std::to_string(Below(12));
  }

  std::string Atom() {
    bool isString = false;
    bool isText = false;
    const std::string f = Field(isString, isText);
    static const char* ops[] = {"=", "<>", "<", "<=", ">", ">="};
    if (Below(10) == 0) {
      // Constants compared, or a constant computed.
      if (isText || Below(2) == 0) return Constant(f) + " " + ops[Below(6)] + " " + Constant(f);
      return f + " " + ops[Below(6)] + " " + Constant(f) + " + " + std::to_string(Below(3));
    }
    switch (Below(isString ? 12 : 7)) {
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
      case 7:
      case 8:
        return f + (Below(4) == 0 ? " NOT LIKE " : " LIKE ") + Quote(Prefix() + (Below(3) == 0 ? "_%" : "%"));
      case 9:
        // Upper-cased: the constant's case decides whether an index serves.
        return "UPPER(S) " + std::string(ops[Below(6)]) + " " +
               (Below(2) == 0 ? Constant(f) : "UPPER(" + Constant(f) + ")");
      case 10: {
        if (Below(2) == 0) return "UPPER(S) LIKE " + Quote(Prefix() + "%");
        std::string list = Constant(f);
        for (int32_t n = Below(3); n > 0; --n) list += ", " + Constant(f);
        return "UPPER(S) IN (" + list + ")";
      }
      default:
        return "S " + std::string(ops[Below(6)]) + " UPPER(" + Constant(f) + ")";
    }
  }

  std::string Prefix() {
    static const char* prefixes[] = {"a", "ab", "A", "b", "c", "ca", "z", "a ", "AB", "\xc3\xa9"};
    return prefixes[Below(10)];
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
      row.D = maybeNull(MomentValue("D", rng() % 6));
      row.T = maybeNull(MomentValue("T", rng() % 6));
      row.DT = maybeNull(MomentValue("DT", rng() % 6));
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
      // Upper-casing the constants of a case-insensitive comparison is meant
      // to change one answer: beyond ASCII, the upper-cased field would
      // otherwise be compared with the constant as written.
      const bool beyondAscii = std::any_of(text.begin(), text.end(),
                                           [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
      if (!options.Contains(plat::foCaseInsensitive) || !beyondAscii) {
        ASSERT_TRUE(run.SimplifiedMatches) << "filter " << n << ": " << text;
      }
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

// Runs over many leaf pages: whole leaves are taken without comparing their
// keys, the last one up to the end of the run, in both key orders.
TEST(FilterEvaluator, RunsAcrossManyLeaves) {
  testsupport::TempDir dir;
  const std::string file = dir.File("leaves.zel");
  {
    FilterDatabase db(file);
    FilterTable table(db, "T", FilterIndexes());
    for (int32_t r = 0; r < 3000; ++r) {
      FilterRow row;
      row.I = r % 97 == 0 ? plat::Null() : plat::Variant((r * 7919) % 1000);
      row.SI = (r * 31) % 300;
      row.S = Words()[static_cast<size_t>(r) % Words().size()] + std::to_string(r % 50);
      table.Add(row);
    }
    FilterRun run(table);
    const char* cases[] = {
        "I BETWEEN 100 AND 899", "I > 3",          "I <= 998",        "I < 500 OR I > 510",
        "I <> 400",              "I IS NOT NULL",  "SI BETWEEN 10 AND 280", "SI < 299",
        "SI >= 1",               "S LIKE 'a%'",    "S > 'a'",         "S BETWEEN 'ab' AND 'c'",
    };
    std::vector<void*> withIndexes, everything;
    for (const char* text : cases) {
      SCOPED_TRACE(text);
      for (bool excludeNulls : {false, true}) {
        ASSERT_TRUE(run.Run(text, excludeNulls, {plat::foNoPartialCompare}, withIndexes, everything));
        EXPECT_NE(run.Indexed.OptimisationLevel(), olNone);
        EXPECT_EQ(withIndexes, everything);
        EXPECT_TRUE(run.SimplifiedMatches);
      }
    }
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
      row.D = i % 8 == 0 ? plat::Null() : MomentValue("D", static_cast<size_t>(i) % 6);
      row.T = MomentValue("T", static_cast<size_t>(i) % 6);
      row.DT = MomentValue("DT", static_cast<size_t>(i) % 6);
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
  enum TNulls { nBoth, nExcluded, nKept };
  struct Case {
    const char* Text;
    TZelFilterOptimisationLevel Level;
    bool CaseInsensitive = false;
    bool PartialCompare = false;
    TNulls Nulls = nBoth;  // the ExcludeRelopNulls settings the level holds for
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
      // Moments: date, time and (descending) timestamp indexes.
      {"D = '2020-01-02'", olFull},
      {"D BETWEEN '2020-01-01' AND '2020-01-03'", olFull},
      {"D IS NULL", olFull},
      {"D = CURRENT_DATE", olFull},
      {"T IN ('01:00:00', '05:00:00')", olFull},
      {"T < '01:30:00' OR I = 4", olFull},
      {"DT > '2020-01-01 12:00:00'", olFull},
      {"DT BETWEEN '2020-01-01 12:00:00' AND '2020-01-03 00:00:00'", olFull},
      // UPPER(S) is S read case-insensitively: the case-insensitive index
      // serves it where the constant has no lower-case letter. UPPER of a
      // Null is unknown, so this holds where Nulls are excluded.
      {"UPPER(S) = 'AB'", olFull, false, false, nExcluded},
      {"UPPER(S) = 'AB'", olNone, false, false, nKept},
      {"UPPER(S) = 'ab'", olNone, false, false, nExcluded},
      {"UPPER(S) >= 'B'", olFull, false, false, nExcluded},
      {"UPPER(S) IN ('A', 'CA')", olFull, false, false, nExcluded},
      {"UPPER(S) IN ('A', 'ca')", olNone, false, false, nExcluded},
      {"UPPER(S) LIKE 'AB%'", olPartial, false, false, nExcluded},
      {"UPPER(S) = 'AB'", olNone, false, true, nExcluded},  // partial: the field's length
      {"S = UPPER('ab')", olFull},                          // the constant 'AB'
      // The case-insensitive index folds ASCII letters only.
      {"S = '\xc3\xa9'", olFull},
      {"S = '\xc3\xa9'", olNone, true},
      {"S LIKE '\xc3\xa9%'", olNone, true},
  };
  std::vector<void*> withIndexes;
  std::vector<void*> everything;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    plat::TFilterOptions options;
    if (!c.PartialCompare) options.Include(plat::foNoPartialCompare);
    if (c.CaseInsensitive) options.Include(plat::foCaseInsensitive);
    for (bool excludeNulls : {false, true}) {
      if ((c.Nulls == nExcluded && !excludeNulls) || (c.Nulls == nKept && excludeNulls)) continue;
      ASSERT_TRUE(run.Run(c.Text, excludeNulls, options, withIndexes, everything))
          << run.Indexed.GetErrors();
      EXPECT_EQ(static_cast<int>(run.Indexed.OptimisationLevel()), static_cast<int>(c.Level));
      EXPECT_EQ(withIndexes, everything);
      // Two simplifications are meant to change an answer: "*" ending a
      // prefix, and text beyond ASCII upper-cased for a case-insensitive
      // comparison (see CaseInsensitiveTextBeyondAscii).
      const std::string text = c.Text;
      const bool ascii = std::all_of(text.begin(), text.end(),
                                     [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
      if (text.find('*') == std::string::npos && (ascii || !c.CaseInsensitive)) {
        EXPECT_TRUE(run.SimplifiedMatches);
      }
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

TEST(FilterOptimizer, ListsTheConditionsIndexesServe) {
  SmallTable t;
  FilterRun run(*t.Table);
  std::vector<void*> indexed, plain;
  ASSERT_TRUE(run.Run("I = 5 AND (S = 'ab' OR SI > 3) AND F = 1 AND S LIKE 'a%'", true,
                      {plat::foNoPartialCompare}, indexed, plain));
  plat::TStringList lines;
  run.Indexed.Optimizer().ListIndexRequests(lines);
  EXPECT_EQ(lines.Text(), "ixI: I EQ full\nixSdesc: S EQ full\nixSI: SI GT full\n"
                          "ixSdesc: S LIKE partial\n");
  EXPECT_TRUE(t.CloseAndCheck());
}

// A case-insensitive comparison reads the field upper-cased beyond ASCII
// too, so its constant is upper-cased alike: 'é' and 'É' find the same rows.
TEST(FilterOptimizer, CaseInsensitiveTextBeyondAscii) {
  SmallTable t;
  FilterRun run(*t.Table);
  const plat::TFilterOptions options{plat::foNoPartialCompare, plat::foCaseInsensitive};
  std::vector<void*> lower, upper, plain;
  ASSERT_TRUE(run.Run("S = '\xc3\xa9'", true, options, lower, plain));
  EXPECT_EQ(lower.size(), 2u) << "rows 18 and 38";
  ASSERT_TRUE(run.Run("S = '\xc3\x89'", true, options, upper, plain));
  EXPECT_EQ(upper, lower);
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

  // A filter that does not parse leaves the last one standing, its table
  // name included, for the expressions joined to it later.
  run.Indexed.SetFilterText("T.I > 10");
  ASSERT_TRUE(run.Indexed.Open()) << run.Indexed.GetErrors();
  run.Indexed.SetFilterText("T.I = ");
  EXPECT_FALSE(run.Indexed.Open());
  TZelFilterExprDriver joined;
  joined.SetFilterExpr(second.GetFilterExpr());
  run.Indexed.AssignExpr(joined, zeoAND);
  EXPECT_EQ(run.Indexed.GetRecordCount(), 5);
  EXPECT_TRUE(t.CloseAndCheck());
}

}  // namespace
}  // namespace zel
