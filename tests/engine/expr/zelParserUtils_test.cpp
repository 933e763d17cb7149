#include "engine/expr/zelParserUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Exceptions.h"
#include "support/CpuTime.h"

namespace zel {
namespace {

TEST(WordMappers, MapWordsToOrdinals) {
  struct Case {
    const char* word;
    const char* nextWord;
    int32_t agg, str, type;  // GetCustomOrdinal of each mapper
  };
  const Case cases[] = {
      {"COUNT", "", zafCount, 0, plat::ftUnknown},
      {"avg", "", zafAvg, 0, plat::ftUnknown},
      {"Sum", "", zafSum, 0, plat::ftUnknown},
      {"MAX", "", zafMax, 0, plat::ftUnknown},
      {"min", "", zafMin, 0, plat::ftUnknown},
      {"SUBSTRING", "", 0, zsfSubstring, plat::ftUnknown},
      {"upper", "", 0, zsfUpper, plat::ftUnknown},
      {"LOWER", "", 0, zsfLower, plat::ftUnknown},
      {"Trim", "", 0, zsfTrim, plat::ftUnknown},
      {"CHARACTER", "", 0, 0, plat::ftString},
      {"char", "", 0, 0, plat::ftString},
      {"VARCHAR", "", 0, 0, plat::ftString},
      {"NUMERIC", "", 0, 0, plat::ftFloat},
      {"DECIMAL", "", 0, 0, plat::ftFloat},
      {"dec", "", 0, 0, plat::ftFloat},
      {"FLOAT", "", 0, 0, plat::ftFloat},
      {"REAL", "", 0, 0, plat::ftFloat},
      {"INTEGER", "", 0, 0, plat::ftInteger},
      {"INT", "", 0, 0, plat::ftInteger},
      {"SMALLINT", "", 0, 0, plat::ftSmallint},
      {"DOUBLE", "precision", 0, 0, plat::ftFloat},
      {"DOUBLE", "", 0, 0, plat::ftUnknown},
      {"Double Precision", "", 0, 0, plat::ftFloat},
      {"DATE", "", 0, 0, plat::ftDate},
      {"TIME", "", 0, 0, plat::ftTime},
      {"TIMESTAMP", "", 0, 0, plat::ftDateTime},
      {"BLOB", "", 0, 0, plat::ftUnknown},
      {"", "", 0, 0, plat::ftUnknown},
  };
  TAggFuncMapper agg;
  TStrFuncMapper str;
  TDataTypeMapper type;
  for (const Case& c : cases) {
    EXPECT_EQ(agg.GetCustomOrdinal(c.word, c.nextWord), c.agg) << c.word;
    EXPECT_EQ(str.GetCustomOrdinal(c.word, c.nextWord), c.str) << c.word;
    EXPECT_EQ(type.GetCustomOrdinal(c.word, c.nextWord), c.type) << c.word;
    EXPECT_EQ(agg.IsMemberToken(c.word, c.nextWord), c.agg != 0 ? 1 : 0) << c.word;
    EXPECT_EQ(str.IsMemberToken(c.word, c.nextWord), c.str != 0 ? 1 : 0) << c.word;
  }
  EXPECT_EQ(type.IsMemberToken("double", "PRECISION"), 2);
  EXPECT_EQ(type.TokenCount(), 2);
  EXPECT_EQ(type.IsMemberToken("DOUBLE", "x"), 0);
  EXPECT_EQ(type.IsMemberToken("INT", "PRECISION"), 1);
  EXPECT_EQ(type.TokenCount(), 1);
}

struct TokenView {
  TZelSQLToken kind;
  std::string text;
  bool operator==(const TokenView&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TokenView& t) {
  return os << ZelSQLTokenName(t.kind) << " '" << t.text << "'";
}

// The tokens of a stack in reading order (top first), without popping.
std::vector<TokenView> Contents(const TParserStack* stack) {
  std::vector<TokenView> out;
  if (stack == nullptr) return out;
  for (int32_t n = 0; n < stack->Count(); ++n)
    out.push_back({stack->PeekAt(n)->Token(), stack->PeekAt(n)->Text()});
  return out;
}

std::unique_ptr<TZelPreParser> PreParse(const std::string& text, bool single = true,
                                        bool exprOnly = false) {
  auto pre = std::make_unique<TZelPreParser>();
  pre->SetText(text);
  pre->SetParseSingleStack(single);
  pre->SetParseAsExprOnly(exprOnly);
  pre->PreParseTokens();
  return pre;
}

TEST(ZelPreParser, EmptyTextGivesOneEndToken) {
  auto pre = PreParse("");
  ASSERT_EQ(pre->GetSectionCount(), 1);
  EXPECT_EQ(pre->GetSingleStack()->Section(), zstUnknown);
  EXPECT_EQ(Contents(pre->GetSingleStack()), (std::vector<TokenView>{{zstEnd, ""}}));
  EXPECT_EQ(pre->SQLStatementType(), zsSQLUnknown);
  EXPECT_EQ(pre->GetSingleStackCount(), 1);
  EXPECT_TRUE(pre->CheckParseComplete());
}

TEST(ZelPreParser, SingleStackKeepsEveryTokenButComments) {
  auto pre = PreParse("/* lead */ SELECT a -- x\nFROM t; SELECT COUNT(*) // tail");
  EXPECT_EQ(pre->SQLStatementType(), zsSQLSelect);
  const std::vector<TokenView> expected = {
      {zstSelect, "SELECT"}, {zstFieldName, "a"},   {zstSub, "-"},       {zstSub, "-"},
      {zstFieldName, "x"},   {zstFrom, "FROM"},     {zstFieldName, "t"}, {zstEnd, ";"},
      {zstSelect, "SELECT"}, {zstAggFunc, "COUNT"}, {zstLParen, "("},    {zstMult, "*"},
      {zstRParen, ")"},      {zstEnd, ""}};
  EXPECT_EQ(Contents(pre->GetSingleStack()), expected);
  // A second statement is left over.
  EXPECT_FALSE(pre->CheckParseComplete());

  // Every stored token carries the position of its first character, its raw
  // text and the section the single pass gives.
  const TParserStack* stack = pre->GetSingleStack();
  const TParserToken* from = stack->PeekAt(5);
  EXPECT_EQ(from->LineNo(), 2);
  EXPECT_EQ(from->LineOffset(), 1);
  EXPECT_EQ(from->RawTokenText(), "FROM");
  EXPECT_EQ(stack->PeekAt(1)->RawTokenText(), " a");
  EXPECT_EQ(stack->PeekAt(0)->Section(), zstSelect);
  EXPECT_EQ(stack->PeekAt(9)->CustomOrdinal(), zafCount);
}

TEST(ZelPreParser, StatementTypes) {
  struct Case {
    const char* sql;
    TZelSQLStatementType type;
  };
  const Case cases[] = {
      {"SELECT * FROM t", zsSQLSelect},
      {"-- no comment form\nSELECT 1", zsSQLUnknown},
      {"/* c */ select 1", zsSQLSelect},
      {"INSERT INTO t VALUES (1)", zsSQLInsert},
      {"delete from t", zsSQLDelete},
      {"UPDATE t SET a = 1", zsSQLUpdate},
      {"CREATE TABLE t (a INT)", zsSchemaManipulation},
      {"DROP TABLE t", zsSchemaManipulation},
      {"ALTER TABLE t DROP a", zsSchemaManipulation},
      {"WHERE a = 1", zsSQLUnknown},
      {"(SELECT 1)", zsSQLUnknown},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PreParse(c.sql)->SQLStatementType(), c.type) << c.sql;
    EXPECT_EQ(PreParse(c.sql, false)->SQLStatementType(), c.type) << "sectioned: " << c.sql;
    EXPECT_EQ(PreParse(c.sql, false, true)->SQLStatementType(), zsSQLExprOnly) << c.sql;
  }
}

TEST(ZelPreParser, SectionedPassSplitsClauses) {
  auto pre = PreParse(
      "junk SELECT a, b FROM t WHERE SUBSTRING(x FROM 1) = 'y' /* c */ GROUP BY a ORDER BY 1",
      false);
  ASSERT_EQ(pre->GetSectionCount(), 5);
  const std::vector<TZelSQLToken> sections = {zstSelect, zstFrom, zstWhere, zstGroupBy, zstOrderBy};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(pre->Stack(i)->Section(), sections[i]);
  EXPECT_EQ(Contents(pre->GetSection(zstSelect, nullptr)),
            (std::vector<TokenView>{{zstFieldName, "a"}, {zstComma, ","}, {zstFieldName, "b"}}));
  EXPECT_EQ(Contents(pre->GetSection(zstFrom, nullptr)),
            (std::vector<TokenView>{{zstFieldName, "t"}}));
  EXPECT_EQ(Contents(pre->GetSection(zstWhere, nullptr)),
            (std::vector<TokenView>{{zstStrFunc, "SUBSTRING"},
                                    {zstLParen, "("},
                                    {zstFieldName, "x"},
                                    {zstFrom, "FROM"},
                                    {zstNumber, "1"},
                                    {zstRParen, ")"},
                                    {zstCompOperator, "="},
                                    {zstStringLiteral, "y"}}));
  EXPECT_EQ(Contents(pre->GetSection(zstOrderBy, nullptr)),
            (std::vector<TokenView>{{zstNumber, "1"}, {zstEnd, ""}}));
  EXPECT_EQ(pre->GetSection(zstWhere, nullptr)->PeekAt(0)->Section(), zstWhere);
  EXPECT_EQ(pre->GetSection(zstHaving, nullptr), nullptr);
  EXPECT_EQ(pre->GetSingleStackCount(), 0);
  EXPECT_FALSE(pre->CheckParseComplete());  // tokens remain on the stacks
  EXPECT_THROW(pre->GetSingleStack(), plat::EAssertionFailed);
}

TEST(ZelPreParser, FilterTextIsOneWhereStack) {
  auto pre = PreParse("Name = 'x' /* why */ and Age > 3", false, true);
  EXPECT_EQ(pre->SQLStatementType(), zsSQLExprOnly);
  ASSERT_EQ(pre->GetSectionCount(), 1);
  TParserStack* stack = pre->GetSection(zstWhere, nullptr);
  ASSERT_NE(stack, nullptr);
  EXPECT_EQ(stack->Section(), zstWhere);
  const std::vector<TokenView> expected = {
      {zstFieldName, "Name"},    {zstCompOperator, "="}, {zstStringLiteral, "x"},
      {zstComment, "/* why */"}, {zstAnd, "and"},        {zstFieldName, "Age"},
      {zstCompOperator, ">"},    {zstNumber, "3"},       {zstEnd, ""}};
  EXPECT_EQ(Contents(stack), expected);
}

TEST(ZelPreParser, GetSectionSkipsToTheClauseInSingleStackMode) {
  auto pre = PreParse("SELECT a FROM t WHERE b = 1");
  TParserStack* where = pre->GetSection(zstWhere, nullptr);
  ASSERT_EQ(where, pre->GetSingleStack());
  EXPECT_EQ(Contents(where),
            (std::vector<TokenView>{
                {zstFieldName, "b"}, {zstCompOperator, "="}, {zstNumber, "1"}, {zstEnd, ""}}));
  // Asked again, nothing more is skipped when the given token is the keyword.
  auto again = PreParse("SELECT a FROM t WHERE b = 1");
  TParserToken whereToken;
  whereToken.SetToken(zstWhere);
  EXPECT_EQ(again->GetSection(zstWhere, &whereToken)->Count(), 9);
  // The stack standing on the keyword is returned unchanged.
  auto onKeyword = PreParse("WHERE b");
  EXPECT_EQ(onKeyword->GetSection(zstWhere, nullptr)->Count(), 3);
  // A clause that is not there empties the stack.
  auto missing = PreParse("SELECT a FROM t");
  EXPECT_EQ(missing->GetSection(zstHaving, nullptr)->Count(), 0);

  EXPECT_THROW(pre->GetSection(zstComma, nullptr), plat::EAssertionFailed);
  try {
    pre->GetSection(zstEnd, nullptr);
  } catch (const plat::EAssertionFailed& e) {
    EXPECT_EQ(e.Message().rfind("Invalid section request in GetSection", 0), 0u);
  }
}

TEST(ZelPreParser, ParameterList) {
  struct Case {
    const char* sql;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {"SELECT * FROM t WHERE a = :A AND b = :a OR c = :B", {"A", "B"}},
      {"INSERT INTO t VALUES (:x, :Y, :X); UPDATE t SET a = :y", {"x", "Y"}},
      {"SELECT * FROM t WHERE a = :", {}},
      {"SELECT * FROM t WHERE a = :;", {}},
      {"SELECT ':p' FROM t WHERE a:b = 1", {}},
      {"WHERE a = : Name", {"Name"}},
  };
  for (const Case& c : cases) {
    plat::TStringList list;
    PreParse(c.sql)->GetParamList(list);
    std::vector<std::string> names;
    for (int32_t i = 0; i < list.Count(); ++i) names.push_back(list.Strings(i));
    EXPECT_EQ(names, c.names) << c.sql;
  }
  // Names already in the list are known.
  plat::TStringList list;
  list.Add("b");
  PreParse("WHERE x = :B AND y = :c")->GetParamList(list);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Strings(1), "c");
}

TEST(ZelPreParser, CopiesAreCutBackToWhereTheOtherStopped) {
  auto main = PreParse("SELECT a, b FROM t WHERE c = 1");
  TZelPreParser second;
  second.SetParseSingleStack(true);
  second.AssignStacks(*main);
  ASSERT_EQ(second.GetSectionCount(), 1);
  EXPECT_NE(second.GetSingleStack()->Peek(), main->GetSingleStack()->Peek());
  EXPECT_EQ(Contents(second.GetSingleStack()), Contents(main->GetSingleStack()));

  // The second reads up to FROM; the main one then continues from there.
  TParserStack* stack = second.GetSection(zstFrom, nullptr);
  EXPECT_EQ(stack->Peek()->Text(), "t");
  main->TrimStacks(second);
  EXPECT_EQ(Contents(main->GetSingleStack()), Contents(second.GetSingleStack()));
  EXPECT_EQ(main->GetSingleStack()->Peek()->Text(), "t");

  main->SetSingleStackCountTo(2);
  EXPECT_EQ(main->GetSingleStackCount(), 2);

  TZelPreParser two;
  two.SetParseSingleStack(true);
  two.SetText("SELECT a FROM t");
  two.PreParseTokens();
  two.PreParseTokens();  // without Clear a second pass adds a second stack
  EXPECT_EQ(two.GetSectionCount(), 2);
  EXPECT_EQ(two.GetSingleStackCount(), 0);
  try {
    main->TrimStacks(two);
    FAIL() << "no assertion";
  } catch (const plat::EAssertionFailed& e) {
    EXPECT_EQ(e.Message().rfind("Stack list counts do not match", 0), 0u);
  }
}

TEST(ZelPreParser, TokensOutliveTheStacksUntilFreed) {
  TZelPreParser pre;
  pre.SetParseSingleStack(true);
  pre.SetText("SELECT a");
  pre.PreParseTokens();
  const TParserToken* select = pre.GetSingleStack()->Peek();
  pre.SetText("DELETE");  // clears the stacks only
  EXPECT_EQ(pre.GetSectionCount(), 0);
  EXPECT_EQ(pre.GetSingleStack(), nullptr);
  EXPECT_EQ(select->Text(), "SELECT");
  EXPECT_EQ(pre.OwnedTokens().size(), 3u);
  pre.PreParseTokens();
  EXPECT_EQ(pre.SQLStatementType(), zsSQLDelete);
  EXPECT_EQ(pre.OwnedTokens().size(), 5u);
  pre.FreeOwnedTokens();
  EXPECT_TRUE(pre.OwnedTokens().empty());

  // Tokens made over from freed ones carry nothing of their past (the
  // aggregate's ordinal); freeing the earlier passes keeps the last one's.
  pre.SetText("MAX(a)");
  pre.PreParseTokens();
  pre.FreeOwnedTokens();
  pre.SetText("b");
  pre.PreParseTokens();
  const auto before = static_cast<int32_t>(pre.OwnedTokens().size());
  pre.SetText("p q r s");
  pre.PreParseTokens();
  pre.FreeOldestTokens(before);
  std::vector<std::pair<std::string, int32_t>> kept;
  for (const auto& token : pre.OwnedTokens()) kept.push_back({token->Text(), token->CustomOrdinal()});
  const std::vector<std::pair<std::string, int32_t>> expected = {
      {"p", 0}, {"q", 0}, {"r", 0}, {"s", 0}, {"", 0}};
  EXPECT_EQ(kept, expected);
}

TEST(ZelPreParser, TextAfterANulByteIsReportedAsUnparsed) {
  auto pre = PreParse(std::string("SELECT a FROM t\0 DROP TABLE t ", 30));
  EXPECT_EQ(pre->UnparsedText(), "DROP TABLE t");
  EXPECT_FALSE(pre->CheckParseComplete());
  auto trailing = PreParse(std::string("SELECT a\0\0", 10));
  EXPECT_EQ(trailing->UnparsedText(), "");

  // Leftovers other than comments and the final end count.
  auto done = PreParse("x");
  done->GetSingleStack()->Pop();
  EXPECT_TRUE(done->CheckParseComplete());
  EXPECT_FALSE(PreParse("x;")->CheckParseComplete());
}

TEST(ZelPreParser, CustomOrdinals) {
  auto pre = PreParse("SELECT MAX(a), trim(b), CAST(c AS REAL), CAST(d AS DEC) FROM t");
  std::vector<std::pair<std::string, int32_t>> got;
  const TParserStack* stack = pre->GetSingleStack();
  for (int32_t n = 0; n < stack->Count(); ++n) {
    const TParserToken* t = stack->PeekAt(n);
    if (t->Token() == zstAggFunc || t->Token() == zstStrFunc || t->Token() == zstDataType)
      got.push_back({t->Text(), t->CustomOrdinal()});
    else
      EXPECT_EQ(t->CustomOrdinal(), 0) << t->Text();
  }
  const std::vector<std::pair<std::string, int32_t>> expected = {
      {"MAX", zafMax}, {"trim", zsfTrim}, {"REAL", plat::ftFloat}, {"DEC", plat::ftFloat}};
  EXPECT_EQ(got, expected);
}

TEST(ZelPreParser, LongStatementsStayLinear) {
  std::string sql = "SELECT ";
  for (int i = 0; i < 20000; ++i) sql += "a, :p, ";
  sql += "b FROM t";
  const int64_t start = testsupport::ThreadCpuMilliseconds();
  auto pre = PreParse(sql);
  plat::TStringList list;
  pre->GetParamList(list);
  const int64_t ms = testsupport::ThreadCpuMilliseconds() - start;
  EXPECT_EQ(pre->GetSingleStackCount(), 100005);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_LT(ms, 3000);
}

// A small clause parser over the pre-parser's tokens: SELECT, a field list,
// FROM and one table. It shows that errors point at the offending token's
// line and character, whatever stands before it.
class SelectListParser : public TBaseParser {
 public:
  bool Execute(TZelParserOptions options, TParserStack* stack) override {
    TBaseParser::Execute(options, stack);
    if (CurrentTokenType() != zstSelect) {
      SetError(CurrToken(), "Missing select token");
      return false;
    }
    NextToken();
    for (;;) {
      if (CurrentTokenType() != zstFieldName) return Fail();
      NextToken();
      if (CurrentTokenType() != zstComma) break;
      NextToken();
    }
    if (CurrentTokenType() != zstFrom) return Fail();
    NextToken();
    if (CurrentTokenType() != zstFieldName) return Fail();
    NextToken();
    if (!(CurrentTokenType() == zstEnd && TokenName().empty())) return Fail();
    return true;
  }

 private:
  bool Fail() {
    SetError(CurrToken(), AtEndToken() && TokenName().empty() ? "Expression incorrectly terminated"
                                                              : "Invalid token");
    return false;
  }
};

TEST(ZelPreParser, MalformedStatementsReportLineCharacterAndToken) {
  struct Case {
    const char* sql;
    const char* message;
  };
  const Case cases[] = {
      {"SELECT a, b FROM", "Expression incorrectly terminated Line 1, Character 17. Token ''"},
      {"SELECT a,\n  b c FROM t", "Invalid token Line 2, Character 5. Token 'c'"},
      {"DELETE FROM t", "Missing select token Line 1, Character 1. Token 'DELETE'"},
      {"SELECT a FROM t; SELECT", "Invalid token Line 1, Character 16. Token ';'"},
      {"/* note */\nSELECT a FROM [My\nTable] x", "Invalid token Line 3, Character 8. Token 'x'"},
      {"  SELECT a FROM t ORDER\tBY z", "Invalid token Line 1, Character 19. Token 'ORDER BY'"},
      {"SELECT a\r\n FROM t WHERE x IS\r\n NOT NULL",
       "Invalid token Line 2, Character 9. Token 'WHERE'"},
      {"SELECT a 'bc FROM t", "Invalid token Line 1, Character 10. Token ''bc'"},
      {"SELECT a, 'x''y' FROM t", "Invalid token Line 1, Character 11. Token 'x'y'"},
      {"SELECT a FROM\n\n", "Expression incorrectly terminated Line 2, Character 1. Token ''"},
      {"SELECT a FROM t IS NOT NULL", "Invalid token Line 1, Character 17. Token 'IS NOT NULL'"},
  };
  for (const Case& c : cases) {
    auto pre = PreParse(c.sql);
    SelectListParser parser;
    EXPECT_FALSE(parser.Execute({}, pre->GetSingleStack())) << c.sql;
    EXPECT_EQ(parser.GetErrorMsg(), c.message) << c.sql;
  }
  auto ok = PreParse("SELECT a, b\nFROM t");
  SelectListParser parser;
  EXPECT_TRUE(parser.Execute({}, ok->GetSingleStack()));
  EXPECT_EQ(parser.ParsedText(), "SELECT a, bFROM t");
  EXPECT_TRUE(ok->CheckParseComplete());
}

}  // namespace
}  // namespace zel
