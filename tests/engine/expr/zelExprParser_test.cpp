#include "engine/expr/zelExprParser.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/expr/zelExprEvaluator.h"
#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelCommonText.h"
#include "platform/rtl/Exceptions.h"
#include "tests/engine/expr/zelExprFixture.h"

namespace zel {
namespace {

using plat::Variant;
using testing::AllOptions;
using testing::JoinProvider;
using testing::ParsedExpr;

TZelParserOptions NoOptions() {
  return TZelParserOptions();
}

// The ids of the emp rows for which the condition is True.
std::set<int32_t> Selected(ParsedExpr& parsed, bool excludeNulls = true) {
  JoinProvider provider;
  TExprEvaluator evaluator;
  evaluator.SetExcludeRelopNulls(excludeNulls);
  evaluator.Prepare(&provider, parsed.Parser.Root());
  std::set<int32_t> ids;
  for (int32_t row = 1; row <= provider.Emp.RowCount(); ++row) {
    provider.MoveToRecord(reinterpret_cast<void*>(static_cast<intptr_t>(row)));
    evaluator.Reset();
    if (evaluator.Evaluate()) ids.insert(row);
  }
  return ids;
}

Variant ValueAt(ParsedExpr& parsed, int32_t row) {
  JoinProvider provider;
  TExprEvaluator evaluator;
  evaluator.SetExcludeRelopNulls(true);
  evaluator.Prepare(&provider, parsed.Parser.Root());
  provider.MoveToRecord(reinterpret_cast<void*>(static_cast<intptr_t>(row)));
  evaluator.Reset();
  return evaluator.EvaluateValueExpr();
}

// ---------------------------------------------------------------------------
// Conditions over the emp rows (1 Ann, 2 bob, 3 all Null but id, 4 Anna).

struct ConditionCase {
  const char* text;
  std::set<int32_t> selected;
  bool excludeNulls = true;
};

TEST(ExprEvaluator, ConditionsSelectTheRowsTheyShould) {
  const ConditionCase cases[] = {
      // Comparisons, nulls on either side.
      {"id = 1", {1}},
      {"1 = id", {1}},
      {"id <> 1", {2, 3, 4}},
      {"id >= 2 AND id < 4", {2, 3}},
      {"salary > 1000", {1, 2}},
      {"salary <= 1000.5", {1, 4}},
      {"1000 < salary", {1, 2}},
      {"name = 'Ann'", {1}},
      {"name <> 'Ann'", {2, 4}},
      {"name > 'B'", {2}},
      {"salary = salary", {1, 2, 4}},
      {"id = d.id", {}},
      {"dname = 'Sales'", {1, 2, 3, 4}},
      {"e.id < dept.id AND budget > salary", {1, 2, 4}},
      // A number with a fraction is never narrowed to the integer field.
      {"id = 1.5", {}},
      {"id > 1.5", {2, 3, 4}},
      {"id <= 2.0", {1, 2}},
      {"id < 55555555555555555555", {1, 2, 3, 4}},
      {"id > -55555555555555555555", {1, 2, 3, 4}},
      // Without ExcludeRelopNulls Null orders first and equals Null.
      {"salary < 1", {3, 4}, false},
      {"name = name", {1, 2, 3, 4}, false},
      {"name <> 'Ann'", {2, 3, 4}, false},
      // IS NULL, Booleans.
      {"name IS NULL", {3}},
      {"name IS NOT NULL", {1, 2, 4}},
      {"photo IS NULL", {2, 3}},
      {"active", {1, 4}},
      {"NOT active", {2}},
      {"active = TRUE", {1, 4}},
      {"active = FALSE OR salary = 0", {2, 4}},
      {"NOT (name = 'Ann')", {2, 4}},
      // BETWEEN.
      {"id BETWEEN 2 AND 3", {2, 3}},
      {"id NOT BETWEEN 2 AND 3", {1, 4}},
      {"salary BETWEEN 0 AND 1000.5", {1, 4}},
      {"salary NOT BETWEEN 0 AND 1000.5", {2}},
      {"hired BETWEEN '2001-01-01' AND '2006-01-01'", {1, 2}},
      // IN lists.
      {"id IN (1, 2)", {1, 2}},
      {"id NOT IN (1, 2)", {3, 4}},
      {"id IN (1, NULL, 2)", {1, 2}},
      {"id NOT IN (1, NULL)", {}},
      {"salary IN (1000.5, NULL)", {1}},
      {"salary NOT IN (1000.5)", {2, 4}},
      {"name IN ('Ann', 'bob')", {1, 2}},
      {"hired IN ('2001-01-15', '2010-12-31')", {1, 4}},
      {"id IN (1, 2) OR name IN ('Anna')", {1, 2, 4}},
      // LIKE.
      {"name LIKE 'A%'", {1, 4}},
      {"name LIKE 'A_n'", {1}},
      {"name LIKE '_nn_'", {4}},
      {"name LIKE '%'", {1, 2, 4}},
      {"name NOT LIKE 'A%'", {2}},
      {"NOT (name LIKE 'A%')", {2}},
      {"name LIKE 'a%'", {}},
      {"photo LIKE 'y%'", {4}},
      {"name LIKE 'An' || '%'", {1, 4}},
      {"name LIKE 'A!%' ESCAPE '!'", {}},
      {"'A%' LIKE 'A!%' ESCAPE '!'", {1, 2, 3, 4}},
      {"'A_' LIKE 'A!_' ESCAPE '!'", {1, 2, 3, 4}},
      {"'AB' LIKE 'A!_' ESCAPE '!'", {}},
      // Concatenation and arithmetic.
      {"name || 'x' = 'Annx'", {1}},
      {"name + name = 'bobbob'", {2}},
      {"id + 1 = 2", {1}},
      {"id * 2 - 1 = 7", {4}},
      {"salary / 2 = 500.25", {1}},
      {"salary * 2 > 3000", {2}},
      {"id / 2 = 0.5", {1}},
      {"hired + 1 = '2001-01-16'", {1}},
      {"hired - 1 < '2001-01-15'", {1}},
      {"hired - hired = 0", {1, 2, 4}},
      {"(salary + 1) IS NULL", {3}},
      // Dates and times.
      {"hired = '2001-01-15'", {1}},
      {"hired > '2005-01-01'", {2, 4}},
      {"'2005-01-01' < hired", {2, 4}},
      {"stamp >= '2005-06-30 12:00:00'", {2, 4}},
      {"shift > '12:00:00'", {2, 4}},
      {"hired = CURRENT_DATE", {}},
      // Functions in conditions.
      {"UPPER(name) = 'ANN'", {1}},
      {"LOWER(name) LIKE 'a%'", {1, 4}},
      {"SUBSTRING(name FROM 2 FOR 2) = 'nn'", {1, 4}},
      {"TRIM(TRAILING 'a' FROM name) = 'Ann'", {1, 4}},
      {"EXTRACT(YEAR FROM hired) = 2005", {2}},
      {"EXTRACT(MONTH FROM hired) IN (1, 12)", {1, 4}},
      {"CAST(salary AS INTEGER) = 2000", {2}},
      {"CAST(id AS VARCHAR(3)) = '4'", {4}},
      // Subqueries through the test provider.
      {"EXISTS (SELECT x FROM s_one)", {1, 2, 3, 4}},
      {"EXISTS (SELECT x FROM s_empty)", {}},
      {"NOT EXISTS (SELECT x FROM s_empty)", {1, 2, 3, 4}},
      {"id = ANY (SELECT x FROM s_many)", {1, 2}},
      {"id = SOME (SELECT x FROM s_many)", {1, 2}},
      {"id > ALL (SELECT x FROM s_many)", {3, 4}},
      {"id > ALL (SELECT x FROM s_empty)", {1, 2, 3, 4}},
      {"id = ANY (SELECT x FROM s_empty)", {}},
      {"id = ANY (SELECT x FROM s_null)", {2}},
      {"NOT (id = ANY (SELECT x FROM s_null))", {}},
      {"id < ALL (SELECT x FROM s_null)", {}},
      {"NOT (id < ALL (SELECT x FROM s_null))", {2, 3, 4}},
      {"id = (SELECT x FROM s_one)", {2}},
      {"(SELECT x FROM s_one) < id", {3, 4}},
      {"id = (SELECT x FROM s_empty)", {}},
      {"NOT (id = (SELECT x FROM s_empty))", {}},
      {"id IN (SELECT x FROM s_many)", {1, 2}},
      {"id NOT IN (SELECT x FROM s_many)", {3, 4}},
      {"id NOT IN (SELECT x FROM s_null)", {}},
      {"name IN (SELECT n FROM s_names)", {1, 2}},
  };
  for (const ConditionCase& c : cases) {
    SCOPED_TRACE(c.text);
    ParsedExpr parsed;
    ASSERT_TRUE(parsed.Parse(c.text, AllOptions())) << parsed.Parser.GetErrorMsg();
    EXPECT_EQ(Selected(parsed, c.excludeNulls), c.selected);
  }
}

// The truth tables of AND, OR and NOT over True, False and unknown, with
// unknown made by a comparison with row 3's Null salary.
TEST(ExprEvaluator, ThreeValuedLogicIsKleenes) {
  enum Truth { F, T, U };
  const char* atoms[] = {"id = 0", "id = 3", "salary = 1"};
  const Truth andTable[3][3] = {{F, F, F}, {F, T, U}, {F, U, U}};
  const Truth orTable[3][3] = {{F, T, U}, {T, T, T}, {U, T, U}};
  const Truth notTable[3] = {T, F, U};
  const auto truthOf = [](const Variant& v) {
    if (v.IsEmpty() || v.IsNull()) return U;
    return v.AsBoolean() ? T : F;
  };
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      for (const char* op : {"AND", "OR"}) {
        const std::string text = std::string("(") + atoms[a] + ") " + op + " (" + atoms[b] + ")";
        SCOPED_TRACE(text);
        ParsedExpr parsed;
        ASSERT_TRUE(parsed.Parse(text, AllOptions()));
        const Truth expected = std::string(op) == "AND" ? andTable[a][b] : orTable[a][b];
        EXPECT_EQ(truthOf(ValueAt(parsed, 3)), expected);
      }
    }
    const std::string text = std::string("NOT (") + atoms[a] + ")";
    SCOPED_TRACE(text);
    ParsedExpr parsed;
    ASSERT_TRUE(parsed.Parse(text, AllOptions()));
    EXPECT_EQ(truthOf(ValueAt(parsed, 3)), notTable[a]);
  }
}

// ---------------------------------------------------------------------------
// Value expressions.

struct ValueCase {
  const char* text;
  int32_t row;
  Variant expected;  // unassigned: unknown
};

TEST(ExprEvaluator, ValueExpressionsComputeTheirValues) {
  const plat::TDateTime hired1 = plat::EncodeDate(2001, 1, 15);
  const ValueCase cases[] = {
      {"id * 2 + 1", 1, Variant(3.0)},
      {"salary - 0.5", 1, Variant(1000.0)},
      {"id / 4", 2, Variant(0.5)},
      {"salary + id", 3, Variant()},
      {"name || '!'", 2, Variant("bob!")},
      {"hired + 1", 1, plat::VarFromDateTime(hired1 + 1)},
      {"hired - 1", 1, plat::VarFromDateTime(hired1 - 1)},
      {"hired - '2001-01-10'", 1, Variant(5.0)},
      {"UPPER(name)", 1, Variant("ANN")},
      {"UPPER(name)", 3, Variant()},
      {"LOWER('MiXeD')", 1, Variant("mixed")},
      {"SUBSTRING(name FROM 2)", 1, Variant("nn")},
      {"SUBSTRING(name FROM 2 FOR 1)", 1, Variant("n")},
      {"SUBSTRING(name, 1, 2)", 4, Variant("An")},
      {"SUBSTRING(name FROM 0 FOR 2)", 1, Variant("A")},
      {"SUBSTRING(name FROM 9)", 1, Variant("")},
      {"SUBSTRING(name FROM 2 FOR -1)", 1, Variant("")},
      {"SUBSTRING(name FROM 1)", 3, plat::Null()},
      {"SUBSTRING(name FROM salary)", 3, plat::Null()},
      {"TRIM('  x  ')", 1, Variant("x")},
      {"TRIM(BOTH 'A' FROM 'AAbA')", 1, Variant("b")},
      {"TRIM(LEADING 'A' FROM 'AAbA')", 1, Variant("bA")},
      {"TRIM(TRAILING 'A' FROM 'AAbA')", 1, Variant("AAb")},
      {"TRIM(LEADING 'xyz' FROM 'xxy')", 1, Variant("y")},
      {"TRIM(name)", 3, plat::Null()},
      {"TRIM(name FROM 'a')", 3, Variant("a")},
      {"CAST(id AS VARCHAR(5))", 1, Variant("1")},
      {"CAST(name AS CHAR(2))", 4, Variant("An")},
      {"CAST(name AS CHAR)", 4, Variant("A")},
      {"CAST('12' AS INTEGER)", 1, Variant(12)},
      {"CAST(id AS FLOAT)", 2, Variant(2.0)},
      {"CAST(salary AS MONEY)", 1, Variant(plat::Currency::FromDouble(1000.5))},
      {"CAST(stamp AS DATE)", 1, plat::VarFromDateTime(hired1)},
      {"CAST(stamp AS TIME)", 1, plat::VarFromDateTime(plat::EncodeTime(10, 30, 15, 250))},
      {"CAST(hired AS TIMESTAMP)", 1, plat::VarFromDateTime(hired1)},
      {"CAST('2001-01-15' AS DATE)", 1, plat::VarFromDateTime(hired1)},
      {"CAST(active AS BOOLEAN)", 4, Variant(true)},
      {"CAST(name AS INTEGER)", 3, plat::Null()},
      {"EXTRACT(YEAR FROM hired)", 1, Variant(2001)},
      {"EXTRACT(MONTH FROM hired)", 1, Variant(1)},
      {"EXTRACT(DAY FROM hired)", 1, Variant(15)},
      {"EXTRACT(HOUR FROM stamp)", 1, Variant(10)},
      {"EXTRACT(MINUTE FROM stamp)", 1, Variant(30)},
      {"EXTRACT(SECOND FROM stamp)", 1, Variant(15.25)},
      {"EXTRACT(HOUR FROM shift)", 2, Variant(22)},
      {"EXTRACT(YEAR FROM hired)", 3, plat::Null()},
      {"(SELECT x FROM s_one)", 1, Variant(2)},
      {"(SELECT x FROM s_empty)", 1, Variant()},
      {"(SELECT x FROM s_one) * 10", 1, Variant(20.0)},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.text);
    ParsedExpr parsed;
    ASSERT_TRUE(parsed.Parse(c.text, AllOptions())) << parsed.Parser.GetErrorMsg();
    const Variant value = ValueAt(parsed, c.row);
    EXPECT_EQ(value.VarType(), c.expected.VarType()) << plat::VarToStr(value);
    if (c.expected.VarType() == plat::varDate || c.expected.VarType() == plat::varDouble) {
      EXPECT_NEAR(value.AsFloat(), c.expected.AsFloat(), 1e-9);
    } else if (!c.expected.IsEmpty() && !c.expected.IsNull()) {
      EXPECT_TRUE(value == c.expected) << plat::VarToStr(value);
    }
  }
}

// ---------------------------------------------------------------------------
// Engine errors of evaluation.

struct FaultCase {
  const char* text;
  int32_t row;
  int32_t code;
};

TEST(ExprEvaluator, FaultsOfTheDataAreEngineErrors) {
  const FaultCase cases[] = {
      {"id / 0 = 1", 1, 0x25AD},
      {"salary / (id - 1) > 0", 1, 0x25AD},
      {"id = (SELECT x FROM s_many)", 1, 0x25B2},
      {"id = (SELECT x FROM s_two_cols)", 1, 0x25B8},
      {"id IN (SELECT x FROM s_two_cols)", 1, 0x25B8},
      {"CAST(name AS INTEGER) = 1", 1, 0x2710},
      {"EXTRACT(YEAR FROM name) = 1", 1, 0x2710},
      {"EXTRACT(YEAR FROM salary) = 1", 1, 0x2710},
      {"IDENT_CURRENT(gen) = 1", 1, 0x278D},
      {"TRIM(name)", 1, 0x25AD},
      {"name || 'x' = 1", 1, 0x25AD},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.text);
    ParsedExpr parsed;
    ASSERT_TRUE(parsed.Parse(c.text, AllOptions())) << parsed.Parser.GetErrorMsg();
    JoinProvider provider;
    TExprEvaluator evaluator;
    evaluator.SetExcludeRelopNulls(true);
    evaluator.Prepare(&provider, parsed.Parser.Root());
    provider.MoveToRecord(reinterpret_cast<void*>(static_cast<intptr_t>(c.row)));
    try {
      evaluator.Evaluate();
      ADD_FAILURE() << "no error";
    } catch (const EZelDatabaseError& error) {
      EXPECT_EQ(error.ErrorCode(), c.code) << error.Message();
    }
  }
}

TEST(ExprEvaluator, DivisionByZeroNamesTheExpression) {
  ParsedExpr parsed;
  ASSERT_TRUE(parsed.Parse("salary / (id - 1) > 0", AllOptions()));
  JoinProvider provider;
  TExprEvaluator evaluator;
  evaluator.Prepare(&provider, parsed.Parser.Root());
  provider.MoveToRecord(reinterpret_cast<void*>(static_cast<intptr_t>(1)));
  try {
    evaluator.Evaluate();
    FAIL() << "no error";
  } catch (const EZelDatabaseError& error) {
    EXPECT_NE(error.Message().find("salary / (id - 1)"), std::string::npos) << error.Message();
  }
}

class Generators : public TZelDataProviderBaseDBInterface {
 public:
  int32_t GetCurrentGeneratorValue(const std::string& Name) override {
    return Name == "emp" ? 41 : TZelDataProviderBaseDBInterface::GetCurrentGeneratorValue(Name);
  }
};

TEST(ExprEvaluator, IdentCurrentAsksTheDatabase) {
  ParsedExpr parsed;
  ASSERT_TRUE(parsed.Parse("IDENT_CURRENT(emp) + 1", AllOptions()));
  EXPECT_EQ(parsed.Parser.Root()->Left()->DataType(), plat::ftInteger);
  Generators generators;
  JoinProvider provider(&generators);
  TExprEvaluator evaluator;
  evaluator.Prepare(&provider, parsed.Parser.Root());
  EXPECT_EQ(evaluator.EvaluateValueExpr(), Variant(42));
}

TEST(ExprEvaluator, ParametersAndCurrentDateTakeTheirData) {
  ParsedExpr parsed;
  ASSERT_TRUE(parsed.Parse("id = :p OR hired = CURRENT_DATE", AllOptions()));
  parsed.SetParameter("p", Variant(2));
  EXPECT_EQ(Selected(parsed), (std::set<int32_t>{2}));
  for (TZelExprNode* node = parsed.Parser.Expr()->FirstNode(); node != nullptr; node = node->Next())
    if (node->ParserToken()->Token() == zstCurrentDate)
      node->SetData(plat::VarFromDateTime(plat::EncodeDate(2010, 12, 31)));
  EXPECT_EQ(Selected(parsed), (std::set<int32_t>{2, 4}));
}

TEST(ExprEvaluator, CaseInsensitiveMatchFoldsFieldsAndPatterns) {
  for (const char* text : {"name = 'ANN'", "name LIKE 'a%'", "name IN ('ann')"}) {
    SCOPED_TRACE(text);
    ParsedExpr parsed;
    parsed.Parser.SetCaseInsensitiveMatch(true);
    ASSERT_TRUE(parsed.Parse(text, AllOptions()));
    EXPECT_TRUE(Selected(parsed).count(1));
  }
}

// A pattern without "_" is matched by searching its literal runs; that must
// agree with the character-by-character matcher on every value, malformed
// UTF-8 included (a run must not be found inside a character).
TEST(ExprEvaluator, LikeByLiteralRunsAgreesWithCharacterMatching) {
  // "\xC3\xA9" is one character; a lone "\xC3" or "\xA9" is a malformed byte.
  const std::vector<std::string> valueParts = {"a", "b", "\xC3\xA9", "\xC3", "\xA9"};
  const std::vector<std::string> patternParts = {"a", "b", "%", "\xC3\xA9", "\xA9", "_"};
  const auto texts = [](const std::vector<std::string>& Parts, size_t MaxLength) {
    std::vector<std::string> out = {""};
    for (size_t from = 0, length = 1; length <= MaxLength; ++length) {
      const size_t to = out.size();
      for (size_t i = from; i < to; ++i)
        for (const std::string& part : Parts) out.push_back(out[i] + part);
      from = to;
    }
    return out;
  };
  const std::vector<std::string> values = texts(valueParts, 4);
  TZelLikePattern like;
  for (const std::string& pattern : texts(patternParts, 4)) {
    like.Assign(pattern, "", false);
    for (const std::string& value : values)
      ASSERT_EQ(like.Matches(value), MatchPatternedStrings(value, pattern))
          << "'" << value << "' LIKE '" << pattern << "'";
  }
}

TEST(ExprEvaluator, LikeWithEscapeMatchesTheEscapedCharacterItself) {
  struct Case {
    const char* value;
    const char* pattern;
    const char* escape;
    bool matches;
  };
  const Case cases[] = {
      {"50%", "%0!%", "!", true},
      {"50", "%0!%", "!", false},
      {"a%b%c", "a!%%!%c", "!", true},
      {"a%bc", "a!%%!%c", "!", false},
      {"a_c", "a!_c", "!", true},
      {"abc", "a!_c", "!", false},
      {"a!", "a!", "!", true},         // an escape at the end stands for itself
      {"a!!b", "a!!!!b", "!", true},   // an escaped escape
      {"x%", "x%%", "%", true},        // "%" as the escape: "%%" is a literal "%"
      {"xy", "x%%", "%", false},
      {"ab", "a_", "!", true},         // "_" still matches one character
      {"a\xC3\xA9", "a_", "!", true},
      {"\xC3\xA9t\xC3\xA9", "%\xC3\xA9", "!", true},
      {"t\xC3\xA9", "%\xA9", "!", false},  // a malformed byte is not part of a character
  };
  TZelLikePattern like;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("'") + c.value + "' LIKE '" + c.pattern + "' ESCAPE '" + c.escape +
                 "'");
    like.Assign(c.pattern, c.escape, false);
    EXPECT_EQ(like.Matches(c.value), c.matches);
  }
}

// The same node keeps its pattern between rows: a pattern that changes from
// row to row (a field) or between runs (a parameter) is taken apart again.
TEST(ExprEvaluator, LikePatternsThatChangeAreTakenApartAgain) {
  const ConditionCase cases[] = {
      {"name LIKE '%n%'", {1, 4}},
      {"name LIKE '%nn'", {1}},
      {"name LIKE 'A%a'", {4}},
      {"name LIKE '%%'", {1, 2, 4}},
      {"name LIKE name", {1, 2, 4}},
      {"name LIKE dname", {}},
      {"'%' || name LIKE '%' || name", {1, 2, 4}},
      {"name LIKE '%' || name || '%'", {1, 2, 4}},
      {"name LIKE 'A' || name", {}},
      {"name LIKE NULL", {}},
      {"name NOT LIKE NULL", {}},
      {"name LIKE '%n%' ESCAPE NULL", {}},
      {"id LIKE '%'", {1, 2, 3, 4}},
      {"salary LIKE '2%'", {2}},
  };
  for (const ConditionCase& c : cases) {
    SCOPED_TRACE(c.text);
    ParsedExpr parsed;
    ASSERT_TRUE(parsed.Parse(c.text, AllOptions())) << parsed.Parser.GetErrorMsg();
    EXPECT_EQ(Selected(parsed, c.excludeNulls), c.selected);
  }
  ParsedExpr parsed;
  ASSERT_TRUE(parsed.Parse("name LIKE :p", AllOptions()));
  JoinProvider provider;
  TExprEvaluator evaluator;
  evaluator.SetExcludeRelopNulls(true);
  evaluator.Prepare(&provider, parsed.Parser.Root());
  provider.MoveToRecord(reinterpret_cast<void*>(static_cast<intptr_t>(4)));
  TZelExprNode* parameter = parsed.Parser.Root()->Right();
  ASSERT_EQ(parameter->Kind(), enkParam);
  for (const auto& [pattern, matches] :
       std::vector<std::pair<std::string, bool>>{{"%nn%", true}, {"%nx%", false}, {"A%", true}}) {
    SCOPED_TRACE(pattern);
    parameter->SetData(Variant(pattern));
    EXPECT_EQ(evaluator.Evaluate(), matches);
  }
}

TEST(ExprEvaluator, PartialComparisonComparesThePrefix) {
  ParsedExpr parsed;
  parsed.Parser.SetPartialStringComparison(true);
  ASSERT_TRUE(parsed.Parse("name = 'An'", AllOptions()));
  EXPECT_EQ(Selected(parsed), (std::set<int32_t>{1, 4}));
  // A stored value shorter than the constant is no match: "Ann" is not "Anna".
  ParsedExpr longer;
  longer.Parser.SetPartialStringComparison(true);
  ASSERT_TRUE(longer.Parse("name = 'Anna'", AllOptions()));
  EXPECT_EQ(Selected(longer), (std::set<int32_t>{4}));
}

TEST(ExprEvaluator, SubqueryRowsAreReadAfreshForEveryRow) {
  ParsedExpr parsed;
  ASSERT_TRUE(parsed.Parse("id IN (SELECT x FROM s_many)", AllOptions()));
  EXPECT_EQ(Selected(parsed), (std::set<int32_t>{1, 2}));
  ASSERT_EQ(parsed.Subqueries.size(), 1u);
  EXPECT_EQ(parsed.Subqueries[0]->Opened, 4);
}

TEST(ExprEvaluator, KeptSubqueryValuesAnswerAsTheRowsRead) {
  const char* const texts[] = {
      "id IN (SELECT x FROM s_null)",     "id NOT IN (SELECT x FROM s_null)",
      "id IN (SELECT x FROM s_empty)",    "id NOT IN (SELECT x FROM s_empty)",
      "id IN (SELECT x FROM s_mixed)",    "id NOT IN (SELECT x FROM s_mixed)",
      "salary IN (SELECT x FROM s_many)", "salary NOT IN (SELECT x FROM s_many)",
      "name IN (SELECT x FROM s_names)",  "name NOT IN (SELECT x FROM s_names)",
      "NOT (id IN (SELECT x FROM s_many))",
  };
  for (const char* text : texts) {
    for (const bool excludeNulls : {true, false}) {
      SCOPED_TRACE(std::string(text) + (excludeNulls ? " excluding Nulls" : ""));
      ParsedExpr each, kept;
      ASSERT_TRUE(each.Parse(text, AllOptions()));
      ASSERT_TRUE(kept.Parse(text, AllOptions()));
      kept.Subqueries.at(0)->Stamp = 1;
      EXPECT_EQ(Selected(kept, excludeNulls), Selected(each, excludeNulls));
      // Read once for all four rows where a stamp keeps them.
      EXPECT_EQ(kept.Subqueries[0]->Read, 1);
      EXPECT_EQ(each.Subqueries[0]->Read, each.Subqueries[0]->Opened);
    }
  }
  // The values are read again when the stamp changes, not before.
  ParsedExpr parsed;
  ASSERT_TRUE(parsed.Parse("id IN (SELECT x FROM s_many)", AllOptions()));
  testing::VectorRows& rows = *parsed.Subqueries.at(0);
  JoinProvider provider;
  TExprEvaluator evaluator;
  evaluator.SetExcludeRelopNulls(true);
  evaluator.Prepare(&provider, parsed.Parser.Root());
  const auto passes = [&](intptr_t Row) {
    provider.MoveToRecord(reinterpret_cast<void*>(Row));
    evaluator.Reset();
    return evaluator.Evaluate();
  };
  rows.Stamp = 1;
  EXPECT_TRUE(passes(1));
  rows.SetRows({{3}});
  EXPECT_TRUE(passes(1));
  EXPECT_FALSE(passes(3));
  rows.Stamp = 2;
  EXPECT_FALSE(passes(1));
  EXPECT_TRUE(passes(3));
  EXPECT_EQ(rows.Read, 2);
}

TEST(ExprResultListGenerator, FiltersCandidatesInTheirOrder) {
  ParsedExpr parsed;
  ASSERT_TRUE(parsed.Parse("salary > 500 OR name IS NULL", AllOptions()));
  JoinProvider provider;
  TCompoundList candidates;
  for (intptr_t row : {4, 3, 2, 1, 9})
    candidates.Add(reinterpret_cast<void*>(row), reinterpret_cast<void*>(row * 10));
  TCompoundList result;
  result.Add(nullptr, nullptr);  // emptied first
  TExprResultListGenerator::CreateResultList(provider, parsed.Parser.Root(), true, result,
                                             candidates);
  ASSERT_EQ(result.Count(), 3);
  EXPECT_EQ(result.Items(0), reinterpret_cast<void*>(3));
  EXPECT_EQ(result.List2().Items(0), reinterpret_cast<void*>(30));
  EXPECT_EQ(result.Items(1), reinterpret_cast<void*>(2));
  EXPECT_EQ(result.Items(2), reinterpret_cast<void*>(1));

  TExprResultListGenerator::CreateResultList(provider, nullptr, true, result, candidates);
  ASSERT_EQ(result.Count(), 5);
  EXPECT_EQ(result.Items(4), reinterpret_cast<void*>(9));

  provider.SetDBStringCompare(nullptr);
  try {
    TExprResultListGenerator::CreateResultList(provider, nullptr, true, result, candidates);
    FAIL() << "no error";
  } catch (const EZelDatabaseError& error) {
    EXPECT_EQ(error.ErrorCode(), 0x2751);
  }
}

// ---------------------------------------------------------------------------
// The trees the parser builds.

TEST(ExprParser, TypesAndConvertsLiterals) {
  {
    ParsedExpr parsed;
    ASSERT_TRUE(parsed.Parse("5 < id", NoOptions()));
    const TZelExprNode* root = parsed.Parser.Root();
    EXPECT_EQ(root->Operator(), zeoGT);
    EXPECT_EQ(root->Left()->Kind(), enkField);
    EXPECT_EQ(root->Right()->DataType(), plat::ftInteger);
    EXPECT_EQ(root->Right()->Data().VarType(), plat::varInteger);
  }
  {
    ParsedExpr parsed;
    ASSERT_TRUE(parsed.Parse("id = 1.5", NoOptions()));
    EXPECT_EQ(parsed.Parser.Root()->Right()->DataType(), plat::ftFloat);
    EXPECT_EQ(parsed.Parser.Root()->Right()->Data(), Variant(1.5));
  }
  {
    ParsedExpr parsed;
    ASSERT_TRUE(parsed.Parse("hired = '2001-Jan-15'", NoOptions()));
    EXPECT_EQ(parsed.Parser.Root()->Right()->DataType(), plat::ftDate);
    EXPECT_EQ(parsed.Parser.Root()->Right()->Data().VarType(), plat::varDate);
  }
  {
    ParsedExpr parsed;
    ASSERT_TRUE(parsed.Parse("id + 1", AllOptions()));
    EXPECT_EQ(parsed.Parser.Root()->DataType(), plat::ftFloat);
  }
  {
    ParsedExpr parsed;
    ASSERT_TRUE(parsed.Parse("name || dname", AllOptions()));
    EXPECT_EQ(parsed.Parser.Root()->DataType(), plat::ftString);
    EXPECT_EQ(parsed.Parser.Root()->DataSize(), 30);
  }
  {
    ParsedExpr parsed;
    ASSERT_TRUE(parsed.Parse("EXTRACT(SECOND FROM stamp) + EXTRACT(DAY FROM hired)", AllOptions()));
    EXPECT_EQ(parsed.Parser.Root()->Left()->DataType(), plat::ftFloat);
    EXPECT_EQ(parsed.Parser.Root()->Right()->DataType(), plat::ftInteger);
  }
}

TEST(ExprParser, BetweenBecomesTwoComparisons) {
  ParsedExpr parsed;
  ASSERT_TRUE(parsed.Parse("id BETWEEN 1 AND 5", NoOptions()));
  const TZelExprNode* root = parsed.Parser.Root();
  EXPECT_EQ(root->Operator(), zeoAND);
  EXPECT_EQ(root->Left()->Operator(), zeoGE);
  EXPECT_EQ(root->Right()->Operator(), zeoLE);
  EXPECT_NE(root->Left()->Left(), root->Right()->Left());
  ParsedExpr negated;
  ASSERT_TRUE(negated.Parse("id NOT BETWEEN 1 AND 5", NoOptions()));
  EXPECT_EQ(negated.Parser.Root()->Operator(), zeoOR);
  EXPECT_EQ(negated.Parser.Root()->Left()->Operator(), zeoLT);
  EXPECT_EQ(negated.Parser.Root()->Right()->Operator(), zeoGT);
}

TEST(ExprParser, AggregatesCarryDistinctAndTheirText) {
  TZelParserOptions options = AllOptions();
  options.Include(zpoExtractAggFuncExprText);
  ParsedExpr count;
  ASSERT_TRUE(count.Parse("COUNT(*)", options));
  EXPECT_TRUE(count.Parser.Root()->Args().empty());
  EXPECT_EQ(count.Parser.Root()->DataType(), plat::ftInteger);
  EXPECT_EQ(count.Parser.Root()->ScopeKind(), zskAgg);
  ParsedExpr distinct;
  ASSERT_TRUE(distinct.Parse("COUNT(DISTINCT salary * 2 )", options));
  EXPECT_EQ(distinct.Parser.Root()->Data(), Variant(true));
  ASSERT_EQ(distinct.Parser.Root()->Args().size(), 1u);
  EXPECT_EQ(distinct.Parser.Root()->ParserToken()->RawTokenText(), "salary * 2");
  ParsedExpr having;
  ASSERT_TRUE(having.Parse("SUM(salary) > 10", options));
  EXPECT_EQ(having.Parser.Root()->ScopeKind(), zskAgg);
}

TEST(ExprParser, OuterReferencesAreOfferedToTheOwner) {
  ParsedExpr parsed;
  parsed.OfferOuterTable = true;
  parsed.Parser.SetIsSubquery(true);
  ASSERT_TRUE(parsed.Parse("id = ox", NoOptions())) << parsed.Parser.GetErrorMsg();
  const TZelExprNode* outer = parsed.Parser.Root()->Right();
  EXPECT_EQ(outer->Operator(), zeoOUTERFIELD);
  EXPECT_EQ(outer->Kind(), enkFunc);
  EXPECT_EQ(outer->DataType(), plat::ftInteger);

  ParsedExpr refused;
  refused.OfferOuterTable = true;
  refused.Parser.SetIsSubquery(true);
  EXPECT_FALSE(refused.Parse("id = nothing", NoOptions()));
  EXPECT_EQ(refused.Parser.ErrorMsg(), "Field not found");
}

TEST(ExprParser, ExternalExpressionsAndCloning) {
  TZelExpr target;
  ParsedExpr parsed;
  ASSERT_TRUE(parsed.Parse("id + 1", AllOptions(), true, &target));
  EXPECT_EQ(target.FirstNode(), parsed.Parser.Root());
  EXPECT_EQ(parsed.Parser.Root()->Operator(), zeoADD);

  TZelExpr condition;
  ParsedExpr first;
  ASSERT_TRUE(first.Parse("id = 1", NoOptions(), false, &condition));
  ParsedExpr second;
  ASSERT_TRUE(second.Parse("name LIKE 'A%'", NoOptions()));
  second.Parser.CloneFromExpr(condition, false, zeoOR);
  EXPECT_EQ(second.Parser.Root()->Operator(), zeoOR);
  EXPECT_EQ(second.Parser.Root()->ParserToken()->Token(), zstOr);
  EXPECT_EQ(Selected(second), (std::set<int32_t>{1, 4}));
  second.Parser.CloneFromExpr(condition, true, zeoNOTDEFINED);
  EXPECT_EQ(Selected(second), (std::set<int32_t>{1}));
  EXPECT_THROW(second.Parser.CloneFromExpr(condition, false, zeoEQ), plat::EAssertionFailed);
}

// A parser that has parsed nothing yet takes a copied tree, alone or joined.
TEST(ExprParser, CloningIntoAParserThatHasNotParsed) {
  TZelExpr condition;
  ParsedExpr first;
  ASSERT_TRUE(first.Parse("id = 1", NoOptions(), false, &condition));
  ParsedExpr fresh;
  fresh.Parser.CloneFromExpr(condition, false, zeoAND);
  ASSERT_NE(fresh.Parser.Root(), nullptr);
  EXPECT_EQ(Selected(fresh), (std::set<int32_t>{1}));
  ParsedExpr replaced;
  replaced.Parser.CloneFromExpr(condition, true, zeoNOTDEFINED);
  EXPECT_EQ(Selected(replaced), (std::set<int32_t>{1}));
  replaced.Parser.CloneFromExpr(condition, false, zeoOR);
  EXPECT_EQ(replaced.Parser.Root()->Operator(), zeoOR);
  EXPECT_EQ(Selected(replaced), (std::set<int32_t>{1}));
}

TEST(ExprParser, HostileNestingIsRefusedNotOverflowed) {
  std::string orRun = "id = 1";
  for (int i = 0; i < 5000; ++i) orRun += " OR id = 1";
  // Every BETWEEN copies its operand, so nested ones would double in size.
  std::string between = "id";
  for (int i = 0; i < 40; ++i) between = "(" + between + " BETWEEN 1 AND 2)";
  for (const std::string& text : {std::string(5000, '(') + "1", orRun, between}) {
    ParsedExpr parsed;
    EXPECT_FALSE(parsed.Parse(text, AllOptions()));
    EXPECT_EQ(parsed.Parser.ErrorMsg(), "Invalid token");
  }
}

// ---------------------------------------------------------------------------
// Bad texts: each message with its line, character and token.

struct BadText {
  const char* text;
  const char* message;  // GetErrorMsg()
  int options = 1;      // 0 none, 1 all, 2 all but subqueries and parameters, 3 validate
};

TEST(ExprParser, BadTextsGiveTheirMessageAndPosition) {
  const BadText cases[] = {
      {"id = NULL", "Expression data types do not match Line 1, Character 6. Token 'NULL'"},
      {"id IN ()", "IN list is empty Line 1, Character 8. Token ')'"},
      {"id IN (1, 2", "Missing Right Parenthesis Line 1, Character 12. Token ''"},
      {"id IN 1", "Missing Left Parenthesis Line 1, Character 7. Token '1'"},
      {"id IN (1 2)", "Missing Right Parenthesis or comma Line 1, Character 10. Token '2'"},
      {"CASE WHEN id THEN 1", "Invalid token Line 1, Character 1. Token 'CASE'"},
      {"id-1 = 0", "Expression incorrectly terminated Line 1, Character 3. Token '-1'"},
      {"id = 1 name", "Invalid token Line 1, Character 8. Token 'name'"},
      {"id = 1 )", "Expression incorrectly terminated Line 1, Character 8. Token ')'"},
      {"id =", "Expression incorrectly terminated Line 1, Character 5. Token ''"},
      {"(id = 1", "Missing Right Parenthesis Line 1, Character 8. Token ''"},
      {"id BETWEEN 1 OR 2",
       "missing AND operator in between predicate Line 1, Character 14. Token 'OR'"},
      {"CAST(id)", "Missing AS operator in Cast expression Line 1, Character 8. Token ')'"},
      {"CAST(active AS FLOAT) = 1",
       "Cannot convert type Boolean to Float Line 1, Character 1. Token 'CAST'"},
      {"EXTRACT(WEEK FROM hired)",
       "Invalid extract field in EXTRACT expression Line 1, Character 9. Token 'WEEK'"},
      {"EXTRACT(YEAR hired)",
       "Missing FROM operator in Extract expression Line 1, Character 14. Token 'hired'"},
      {"EXTRACT(HOUR FROM hired) = 1",
       "Extract value expression result type is invalid for extract field Line 1, Character 24. "
       "Token ')'",
       3},
      {"id + 1 = 2", "Arithmetic operators not supported Line 1, Character 4. Token '+'", 0},
      {"id * 2 = 2", "Arithmetic operators not supported Line 1, Character 4. Token '*'", 0},
      {"name = 'a' + id", "Expression data types do not match Line 1, Character 12. Token '+'"},
      {"active + 1 = 2", "Expression data types do not match Line 1, Character 8. Token '+'"},
      {"photo = 'x'", "Expression data types do not match Line 1, Character 7. Token '='"},
      {"id IN (photo)", "Expression data types do not match Line 1, Character 4. Token 'IN'"},
      {"photo BETWEEN 'a' AND 'b'",
       "Expression data types do not match Line 1, Character 7. Token 'BETWEEN'"},
      {"id = 'abc'", "Expression data types do not match Line 1, Character 4. Token '='"},
      {"SUM(salary) > id", "Scope is invalid Line 1, Character 17. Token ''"},
      {"EXISTS (SELECT x FROM s_one)",
       "Subqueries are not supported Line 1, Character 1. Token 'EXISTS'", 2},
      {"id IN (SELECT x FROM s_one)",
       "Subqueries are not supported Line 1, Character 8. Token 'SELECT'", 2},
      {"EXISTS (id)", "Missing select token Line 1, Character 9. Token 'id'"},
      {"EXISTS id", "Missing Left Parenthesis Line 1, Character 8. Token 'id'"},
      {"id = ANY (SELECT x FROM s_one", "Missing Right Parenthesis Line 1, Character 30. Token ''"},
      {"id = : = 1", "Parameter name expected but none found Line 1, Character 8. Token '='"},
      {"id = :p", "Parameters are not supported Line 1, Character 6. Token ':'", 2},
      {"nosuch = 1", "Field not found Line 1, Character 1. Token 'nosuch'"},
      {"emp.nosuch = 1",
       "Table and/or field not found (emp.nosuch) Line 1, Character 5. Token 'nosuch'"},
      {"x.id = 1", "Table and/or field not found (x.id) Line 1, Character 3. Token 'id'"},
      {"SUBSTRING(name 2) = 'a'",
       "Missing FROM or COMMA token in SUBSTRING function Line 1, Character 16. Token '2'"},
      {"SUBSTRING name FROM 2", "Missing Left Parenthesis Line 1, Character 11. Token 'name'"},
      {"UPPER() = 'A'", "Expression is empty Line 1, Character 7. Token ')'"},
      {"COUNT() > 1", "Expression is empty Line 1, Character 7. Token ')'"},
      {"UPPER(id + id) = 'A'",
       "Character value expression return type is invalid Line 1, Character 10. Token '+'"},
      {"UPPER(name = 'A'", "Missing Right Parenthesis Line 1, Character 12. Token '='"},
      {"IDENT_CURRENT emp", "Missing Left Parenthesis Line 1, Character 15. Token 'emp'"},
      {"CAST(id AS DOUBLE)", "Unknown Datatype Line 1, Character 12. Token 'DOUBLE'"},
      {"CAST(id AS AUTOINC)", "Data type is invalid Line 1, Character 12. Token 'AUTOINC'"},
      {"CAST(id AS VARCHAR()",
       "Data type length/precision not specified Line 1, Character 20. Token ')'"},
      {"CAST(salary AS NUMERIC(10, x))", "Data type scale invalid Line 1, Character 28. Token 'x'"},
      {"CAST(id AS VARCHAR(10)", "Missing Right Parenthesis Line 1, Character 23. Token ''"},
      {"id = 1 AND\n  name = NULL",
       "Expression data types do not match Line 2, Character 10. Token 'NULL'"},
  };
  for (const BadText& c : cases) {
    SCOPED_TRACE(c.text);
    TZelParserOptions options;
    if (c.options == 1 || c.options == 3) options = AllOptions();
    if (c.options == 2) options.Include(zpoExtSyntax);
    ParsedExpr parsed;
    parsed.Parser.SetValidateFields(c.options == 3);
    EXPECT_FALSE(parsed.Parse(c.text, options));
    EXPECT_EQ(parsed.Parser.GetErrorMsg(), c.message);
    EXPECT_EQ(parsed.Parser.Root(), nullptr);
  }
}

}  // namespace
}  // namespace zel
