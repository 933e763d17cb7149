#include "engine/expr/zelBaseParser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/CpuTime.h"

namespace zel {
namespace {

struct Tok {
  TZelSQLToken kind;
  std::string text;
  int32_t line = 0;  // 0: not checked
  int32_t col = 0;
  bool operator==(const Tok& o) const {
    return kind == o.kind && text == o.text && (line == 0 || o.line == 0 || line == o.line) &&
           (col == 0 || o.col == 0 || col == o.col);
  }
};

std::ostream& operator<<(std::ostream& os, const Tok& t) {
  return os << "{" << ZelSQLTokenName(t.kind) << " '" << t.text << "' " << t.line << ":" << t.col
            << "}";
}

// Reads the whole text the way the pre-parser does: up to the end token with
// empty text (a ";" is an end token with text and reading goes on).
std::vector<Tok> Scan(const std::string& sql, std::vector<std::string>* raw = nullptr) {
  TZelTokenParser scanner;
  scanner.SetTokenString(sql);
  std::vector<Tok> tokens;
  for (int guard = 0; guard < 100000; ++guard) {
    std::string text;
    const TZelSQLToken kind = scanner.GetNextToken(text);
    tokens.push_back({kind, text, scanner.TokenStartLine(), scanner.TokenStartPos()});
    if (raw != nullptr) raw->push_back(scanner.RawText());
    if (kind == zstEnd && text.empty()) break;
  }
  return tokens;
}

Tok End(int32_t line = 0, int32_t col = 0) {
  return {zstEnd, "", line, col};
}

TEST(ZelTokenParser, TokenSequences) {
  struct Case {
    std::string sql;
    std::vector<Tok> expected;
  };
  const std::vector<Case> cases = {
      {"", {End(1, 1)}},
      {"T.NAME", {{zstTableName, "T", 1, 1}, {zstFieldName, "NAME", 1, 3}, End(1, 7)}},
      {"T.*", {{zstTableName, "T"}, {zstMult, "*", 1, 3}, End()}},
      {"T.VALUES", {{zstTableName, "T"}, {zstFieldName, "VALUES"}, End()}},
      {"T.DATE", {{zstTableName, "T"}, {zstDate, "DATE"}, End()}},
      {"t.\"x y\"", {{zstTableName, "t"}, {zstFieldName, "x y", 1, 3}, End()}},
      {"'It''s'", {{zstStringLiteral, "It's", 1, 1}, End(1, 8)}},
      {"[My Field]", {{zstFieldName, "My Field"}, End()}},
      {"[T].x", {{zstFieldName, "T"}, {zstFieldName, "x"}, End()}},
      {"\"abc\".x", {{zstTableName, "abc"}, {zstFieldName, "x", 1, 7}, End()}},
      {"\"a\"\"b\" `c d` #2001-01-15#",
       {{zstValue, "a\"b", 1, 1}, {zstValue, "c d", 1, 8}, {zstValue, "2001-01-15", 1, 14}, End()}},
      {"x>=-1.5",
       {{zstFieldName, "x"}, {zstCompOperator, ">=", 1, 2}, {zstNumber, "-1.5", 1, 4}, End()}},
      {"a - b", {{zstFieldName, "a"}, {zstSub, "-", 1, 3}, {zstFieldName, "b", 1, 5}, End()}},
      {"a -1", {{zstFieldName, "a"}, {zstNumber, "-1", 1, 3}, End()}},
      {"a-1", {{zstFieldName, "a"}, {zstNumber, "-1", 1, 2}, End()}},
      {"a+b", {{zstFieldName, "a"}, {zstAdd, "+"}, {zstFieldName, "b"}, End()}},
      {".5 + +.5", {{zstNumber, ".5", 1, 1}, {zstAdd, "+"}, {zstNumber, "+.5", 1, 6}, End()}},
      {"1.2.3 12ab", {{zstNumber, "1.2.3"}, {zstNumber, "12"}, {zstFieldName, "ab", 1, 9}, End()}},
      {":Param1", {{zstParameter, ":", 1, 1}, {zstFieldName, "Param1", 1, 2}, End()}},
      {"abc:def a1b2", {{zstFieldName, "abc:def"}, {zstFieldName, "a1b2"}, End()}},
      {"is not null", {{zstIsNotNull, "is not null", 1, 1}, End()}},
      {"x IS\r\n  NULL", {{zstFieldName, "x"}, {zstIsNull, "IS NULL", 1, 3}, End(2, 7)}},
      {"IS 5", {{zstValue, "IS"}, {zstNumber, "5", 1, 4}, End()}},
      {"IS NOT 5", {{zstValue, "IS"}, {zstNot, "NOT", 1, 4}, {zstNumber, "5"}, End()}},
      {"IS NOT IN", {{zstValue, "IS"}, {zstNotIn, "NOT IN", 1, 4}, End()}},
      {"IS 'null'", {{zstValue, "IS"}, {zstStringLiteral, "null"}, End()}},
      {"not like not Between NOT IN NOT x",
       {{zstNotLike, "not like"},
        {zstNotBetween, "not Between"},
        {zstNotIn, "NOT IN"},
        {zstNot, "NOT", 1, 29},
        {zstFieldName, "x", 1, 33},
        End()}},
      {"group by ORDER\n BY",
       {{zstGroupBy, "group by", 1, 1}, {zstOrderBy, "ORDER BY", 1, 10}, End()}},
      {"GROUP x ORDER [BY]",
       {{zstFieldName, "GROUP"},
        {zstFieldName, "x"},
        {zstFieldName, "ORDER"},
        {zstFieldName, "BY"},
        End()}},
      {"FOR UPDATE FOR x",
       {{zstForUpdate, "FOR UPDATE"}, {zstFor, "FOR", 1, 12}, {zstFieldName, "x"}, End()}},
      {"PRIMARY KEY PRIMARY", {{zstPrimaryKey, "PRIMARY KEY"}, {zstFieldName, "PRIMARY"}, End()}},
      {"SELECT DISTINCT a",
       {{zstSelect, "SELECT"}, {zstDistinct, "DISTINCT"}, {zstFieldName, "a"}, End()}},
      {"HAVING COUNT(DISTINCT a)",
       {{zstHaving, "HAVING"},
        {zstAggFunc, "COUNT"},
        {zstLParen, "(", 1, 13},
        {zstFieldName, "DISTINCT"},
        {zstFieldName, "a"},
        {zstRParen, ")", 1, 24},
        End()}},
      {"COUNT substring REAL DOUBLE",
       {{zstAggFunc, "COUNT"},
        {zstStrFunc, "substring"},
        {zstDataType, "REAL"},
        {zstFieldName, "DOUBLE"},
        End()}},
      {"FLOAT DATETIME char Character",
       {{zstNumeric, "FLOAT"},
        {zstTimeStamp, "DATETIME"},
        {zstChar, "char"},
        {zstChar, "Character"},
        End()}},
      {"'abc", {{zstFieldName, "'abc", 1, 1}, End()}},
      {"[x y", {{zstFieldName, "[x"}, {zstFieldName, "y"}, End()}},
      {"ab'cd' x", {{zstStringLiteral, "abcd", 1, 1}, {zstFieldName, "x"}, End()}},
      {"/* c */SELECT", {{zstComment, "/* c */", 1, 1}, {zstSelect, "SELECT", 1, 8}, End()}},
      {"/*/ x", {{zstComment, "/*/ x"}, End()}},
      {"x // note\ny",
       {{zstFieldName, "x"}, {zstComment, "// note", 1, 3}, {zstFieldName, "y", 2, 1}, End()}},
      {"a/*1\n2*/b",
       {{zstFieldName, "a"}, {zstComment, "/*1\n2*/", 1, 2}, {zstFieldName, "b", 2, 4}, End()}},
      {"--x", {{zstSub, "-"}, {zstSub, "-"}, {zstFieldName, "x"}, End()}},
      {"a/b", {{zstFieldName, "a"}, {zstDiv, "/", 1, 2}, {zstFieldName, "b"}, End()}},
      {"a\r\nb", {{zstFieldName, "a", 1, 1}, {zstFieldName, "b", 2, 1}, End()}},
      {"a\n\rb\r\rc\n\nd",
       {{zstFieldName, "a", 1, 1},
        {zstFieldName, "b", 2, 1},
        {zstFieldName, "c", 3, 1},
        {zstFieldName, "d", 4, 1},
        End()}},
      {"a\n\n\nb", {{zstFieldName, "a"}, {zstFieldName, "b", 3, 1}, End()}},
      {"'multi\nline' x",
       {{zstStringLiteral, "multi\nline", 1, 1}, {zstFieldName, "x", 2, 7}, End()}},
      {"a,b;c(d)",
       {{zstFieldName, "a"},
        {zstComma, ","},
        {zstFieldName, "b"},
        {zstEnd, ";", 1, 4},
        {zstFieldName, "c"},
        {zstLParen, "("},
        {zstFieldName, "d"},
        {zstRParen, ")"},
        End()}},
      {"x<>y a=<b c<<d",
       {{zstFieldName, "x"},
        {zstCompOperator, "<>"},
        {zstFieldName, "y"},
        {zstFieldName, "a"},
        {zstCompOperator, "=<"},
        {zstFieldName, "b"},
        {zstFieldName, "c"},
        {zstCompOperator, "<<"},
        {zstFieldName, "d"},
        End()}},
      {"a||b a || b",
       {{zstFieldName, "a||b"},
        {zstFieldName, "a"},
        {zstConcatenate, "||"},
        {zstFieldName, "b"},
        End()}},
      {"\tx\t", {{zstFieldName, "x", 1, 2}, End(1, 4)}},
      {std::string("a\0b", 3), {{zstFieldName, "a"}, End(1, 2)}},
      {"CURRENT_DATE current_time CURRENT_TIMESTAMP IDENT_CURRENT",
       {{zstCurrentDate, "CURRENT_DATE"},
        {zstCurrentTime, "current_time"},
        {zstCurrentTimestamp, "CURRENT_TIMESTAMP"},
        {zstIdentCurrent, "IDENT_CURRENT"},
        End()}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Scan(c.sql), c.expected) << "SQL: " << c.sql;
  }
}

// One statement of every keyword: each word reaches its token through the
// group of its first letter.
TEST(ZelTokenParser, KeywordTable) {
  struct Case {
    const char* word;
    TZelSQLToken kind;
  };
  const Case cases[] = {
      {"all", zstAll},
      {"Asc", zstAscending},
      {"ASCENDING", zstAscending},
      {"AND", zstAnd},
      {"AS", zstAS},
      {"AUTOINC", zstAutoInc},
      {"ANY", zstAny},
      {"ADD", zstAddWord},
      {"ALTER", zstAlter},
      {"BETWEEN", zstBetween},
      {"BOOLEAN", zstBoolean},
      {"BLOB", zstBlob},
      {"CASE", zstCase},
      {"COALESCE", zstCoalesce},
      {"CROSS", zstCross},
      {"CAST", zstCast},
      {"CREATE", zstCreate},
      {"COLUMN", zstColumn},
      {"DELETE", zstDelete},
      {"DESC", zstDescending},
      {"DESCENDING", zstDescending},
      {"DATE", zstDate},
      {"DECIMAL", zstDecimal},
      {"DAY", zstDay},
      {"DROP", zstDrop},
      {"FROM", zstFrom},
      {"FULL", zstFull},
      {"FALSE", zstFalse},
      {"INTO", zstInto},
      {"INSERT", zstInsert},
      {"INNER", zstInner},
      {"IN", zstIn},
      {"INTEGER", zstInt},
      {"INT", zstInt},
      {"INDEX", zstIndex},
      {"NULL", zstNull},
      {"NULLIF", zstNullif},
      {"NATURAL", zstNatural},
      {"NUMERIC", zstNumeric},
      {"SELECT", zstSelect},
      {"SMALLINT", zstSmallInt},
      {"SECOND", zstSecond},
      {"SOME", zstSome},
      {"SET", zstSet},
      {"TEMPORARY", zstTemporary},
      {"THEN", zstThen},
      {"TRUE", zstTrue},
      {"TIME", zstTime},
      {"TIMESTAMP", zstTimeStamp},
      {"TABLE", zstTable},
      {"TYPE", zstType},
      {"TO", zstTo},
      {"VALUES", zstValues},
      {"UPDATE", zstUpdate},
      {"OR", zstOr},
      {"LIKE", zstLike},
      {"WHERE", zstWhere},
      {"HAVING", zstHaving},
      {"UNION", zstUnion},
      {"PLAN", zstPlan},
      {"WHEN", zstWhen},
      {"JOIN", zstJoin},
      {"OUTER", zstOuter},
      {"LEFT", zstLeft},
      {"RIGHT", zstRight},
      {"ON", zstOn},
      {"USING", zstUsing},
      {"ESCAPE", zstEscape},
      {"VARCHAR", zstVarChar},
      {"MONEY", zstMoney},
      {"EXTRACT", zstExtract},
      {"YEAR", zstYear},
      {"MONTH", zstMonth},
      {"HOUR", zstHour},
      {"MINUTE", zstMinute},
      {"EXISTS", zstExists},
      {"UNIQUE", zstUnique},
      {"avg", zstAggFunc},
      {"Sum", zstAggFunc},
      {"MAX", zstAggFunc},
      {"min", zstAggFunc},
      {"DEC", zstDataType},
      {"upper", zstStrFunc},
      {"LOWER", zstStrFunc},
      {"trim", zstStrFunc},
      {"ASCX", zstFieldName},
      {"Zed", zstFieldName},
      {"_x", zstFieldName},
      {"$Q1", zstFieldName},
      {"\xC3\xA9t\xC3\xA9", zstFieldName},
  };
  for (const Case& c : cases) {
    const std::vector<Tok> tokens = Scan(c.word);
    ASSERT_EQ(tokens.size(), 2u) << c.word;
    EXPECT_EQ(tokens[0].kind, c.kind) << c.word;
    EXPECT_EQ(tokens[0].text, c.word);
  }
  // The lone "." rule belongs to the unlettered group only.
  EXPECT_EQ(Scan("t.WHERE")[1].kind, zstFieldName);
  EXPECT_EQ(Scan("t.SELECT")[1].kind, zstSelect);
  EXPECT_EQ(Scan("t.COUNT")[1].kind, zstAggFunc);
}

TEST(ZelTokenParser, ClauseTokenFollowsClauseKeywords) {
  TZelTokenParser scanner;
  scanner.SetTokenString("SELECT a FROM t WHERE x GROUP BY y ORDER BY z; DELETE");
  std::vector<TZelSQLToken> clauses;
  std::string text;
  for (;;) {
    const TZelSQLToken kind = scanner.GetNextToken(text);
    EXPECT_EQ(scanner.Token(), kind);
    clauses.push_back(scanner.ClauseToken());
    if (kind == zstEnd && text.empty()) break;
  }
  const std::vector<TZelSQLToken> expected = {
      zstSelect,  zstSelect,  zstFrom,    zstFrom,    zstWhere,  zstWhere, zstGroupBy,
      zstGroupBy, zstOrderBy, zstOrderBy, zstOrderBy, zstDelete, zstDelete};
  EXPECT_EQ(clauses, expected);

  // DISTINCT is a keyword only in the select list.
  EXPECT_EQ(Scan("SELECT a FROM t WHERE DISTINCT")[5].kind, zstFieldName);
  EXPECT_EQ(Scan("SELECT (DISTINCT")[2].kind, zstDistinct);
}

TEST(ZelTokenParser, RawTextKeepsBlanksAndDropsLineBreaks) {
  struct Case {
    std::string sql;
    std::vector<std::string> raw;
  };
  const std::vector<Case> cases = {
      {"SELECT  a , b", {"SELECT", "  a", " ,", " b", ""}},
      {"is\r\n not null x", {"is not null", " x", ""}},
      // A failed look-ahead leaves nothing behind in the raw text.
      {"FOR x", {"FOR", " x", ""}},
      {"NOT x", {"NOT", " x", ""}},
      {"IS NOT 5", {"IS", " NOT", " 5", ""}},
      {"'a\nb' ", {"'ab'", " "}},
      {"x   ", {"x", "   "}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> raw;
    Scan(c.sql, &raw);
    EXPECT_EQ(raw, c.raw) << c.sql;
  }
}

TEST(ZelTokenParser, PrepareAndUnparsedText) {
  TZelTokenParser scanner;
  scanner.SetTokenString("SELECT a\n; rest of it  \t");
  std::string text;
  EXPECT_EQ(scanner.GetNextToken(text), zstSelect);
  EXPECT_EQ(scanner.GetUnparsedText(), "a\n; rest of it");
  scanner.GetNextToken(text);
  scanner.GetNextToken(text);
  EXPECT_EQ(scanner.LineNo(), 2);
  // Calls at the end keep answering the end.
  while (!(scanner.GetNextToken(text) == zstEnd && text.empty())) {
  }
  EXPECT_EQ(scanner.GetNextToken(text), zstEnd);
  EXPECT_EQ(text, "");
  EXPECT_EQ(scanner.GetUnparsedText(), "");

  scanner.Prepare();
  EXPECT_EQ(scanner.LineNo(), 1);
  EXPECT_EQ(scanner.CharPos(), 1);
  EXPECT_EQ(scanner.Token(), zstUnknown);
  EXPECT_EQ(scanner.ClauseToken(), zstUnknown);
  EXPECT_EQ(scanner.GetNextToken(text), zstSelect);

  // Text after a NUL byte is never scanned but stays visible as unread text.
  scanner.SetTokenString(std::string("a\0 DROP b", 9));
  EXPECT_EQ(scanner.GetNextToken(text), zstFieldName);
  EXPECT_EQ(scanner.GetNextToken(text), zstEnd);
  EXPECT_EQ(scanner.GetUnparsedText(), "DROP b");
}

// Inputs built to make a careless scanner quadratic, exponential or deeply
// recursive; each must end in tokens quickly.
TEST(ZelTokenParser, HostileInputsEndQuickly) {
  auto repeat = [](const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  };
  const std::vector<std::string> inputs = {
      repeat("[", 200000),          repeat("\"", 200001),    repeat("'", 200001),
      repeat("#`[\"'", 40000),      repeat("NOT ", 20000),   repeat("IS ", 20000),
      repeat("FOR ", 20000),        repeat("GROUP ", 20000), repeat("'x", 100000),
      repeat("a.", 100000),         repeat("/*", 100000),    repeat("-", 200000),
      repeat("\r\n", 100000) + "x",
  };
  for (const std::string& sql : inputs) {
    const int64_t start = testsupport::ThreadCpuMilliseconds();
    TZelTokenParser scanner;
    scanner.SetTokenString(sql);
    std::string text;
    std::size_t count = 0;
    TZelSQLToken kind;
    do {
      kind = scanner.GetNextToken(text);
      ASSERT_LE(++count, sql.size() + 1) << sql.substr(0, 20);
    } while (!(kind == zstEnd && text.empty()));
    EXPECT_LT(testsupport::ThreadCpuMilliseconds() - start, 2000) << sql.substr(0, 20);
  }
}

// Random texts over the characters the scanner treats specially: every call
// consumes text or ends, positions stay in range, and nothing reads past the
// text (the sanitizers watch that).
TEST(ZelTokenParser, RandomTextsTerminate) {
  const std::string alphabet = "ab1.:;,()*+-/<=>'\"#[]` \t\r\n|_\xC3\xA9IS NOT";
  std::mt19937 rng(12345);
  for (int round = 0; round < 3000; ++round) {
    std::string sql;
    const int length = static_cast<int>(rng() % 40);
    for (int i = 0; i < length; ++i) sql += alphabet[rng() % alphabet.size()];
    if (rng() % 10 == 0) sql.insert(sql.size() / 2, 1, '\0');
    TZelTokenParser scanner;
    scanner.SetTokenString(sql);
    std::string text;
    std::size_t count = 0;
    std::size_t lastPos = 0;
    TZelSQLToken kind;
    do {
      kind = scanner.GetNextToken(text);
      ASSERT_LE(++count, sql.size() + 1) << "seed round " << round;
      ASSERT_LE(scanner.CurrChar(), sql.size());
      ASSERT_GE(scanner.CurrChar(), lastPos);
      ASSERT_GE(scanner.TokenStartLine(), 1);
      ASSERT_GE(scanner.TokenStartPos(), 1);
      lastPos = scanner.CurrChar();
    } while (!(kind == zstEnd && text.empty()));
  }
}

TEST(ZelTokenParser, TokenNames) {
  EXPECT_STREQ(ZelSQLTokenName(zstUnknown), "Unknown");
  EXPECT_STREQ(ZelSQLTokenName(zstIdentCurrent), "Ident_current");
  EXPECT_STREQ(ZelSQLTokenName(static_cast<TZelSQLToken>(200)), "?");
  // Ordinals that ranges of the parsers depend on.
  EXPECT_EQ(zstSelect, 6);
  EXPECT_EQ(zstForUpdate, 14);
  EXPECT_EQ(zstEnd, 15);
  EXPECT_EQ(zstAggFunc, 49);
  EXPECT_EQ(zstChar, 69);
  EXPECT_EQ(zstInsert, 96);
  EXPECT_EQ(zstIdentCurrent, 115);
  for (int i = 0; i < static_cast<int>(kZelSQLTokenCount); ++i)
    EXPECT_STRNE(ZelSQLTokenName(static_cast<TZelSQLToken>(i)), "") << i;
}

TEST(ZelTokenSet, Operations) {
  const TZelTokenSet clauses = TZelTokenSet::Range(zstSelect, zstForUpdate);
  EXPECT_TRUE(clauses.Contains(zstSelect));
  EXPECT_TRUE(clauses.Contains(zstForUpdate));
  EXPECT_FALSE(clauses.Contains(zstEnd));
  EXPECT_FALSE(clauses.Contains(static_cast<TZelSQLToken>(200)));
  TZelTokenSet s{zstEnd, zstIdentCurrent};
  EXPECT_TRUE(s.Contains(zstIdentCurrent));
  EXPECT_TRUE((s * clauses).Empty());
  EXPECT_TRUE((s + clauses).Contains(zstWhere));
  EXPECT_EQ((s + clauses) - clauses, s);
  s.Exclude(zstEnd);
  EXPECT_FALSE(s.Contains(zstEnd));
}

// ---------------------------------------------------------------------------
// Tokens, stacks and the parser base.

class ParserBaseTest : public ::testing::Test {
 protected:
  TParserToken* Make(TZelSQLToken kind, const std::string& text, int32_t line = 1, int32_t col = 1,
                     const std::string& raw = "") {
    owned.push_back(std::make_unique<TParserToken>());
    TParserToken* t = owned.back().get();
    t->SetToken(kind);
    t->SetText(text);
    t->SetLineNo(line);
    t->SetLineOffset(col);
    t->SetRawTokenText(raw.empty() ? text : raw);
    return t;
  }
  TParserTokenList owned;
};

TEST_F(ParserBaseTest, QueuedStackPopsInReadingOrder) {
  TParserStack stack;
  TParserToken* a = Make(zstFieldName, "A");
  TParserToken* b = Make(zstFieldName, "B");
  TParserToken* c = Make(zstFieldName, "C");
  stack.Queue(a);
  stack.Queue(b);
  stack.Queue(c);
  EXPECT_EQ(stack.Count(), 3);
  EXPECT_EQ(stack.Peek(), a);
  EXPECT_EQ(stack.PeekAt(0), a);
  EXPECT_EQ(stack.PeekAt(2), c);
  EXPECT_EQ(stack.PeekAt(3), nullptr);
  EXPECT_EQ(stack.PeekAt(-1), nullptr);
  EXPECT_TRUE(stack.AtLeast(3));
  EXPECT_FALSE(stack.AtLeast(4));

  TParserStack copy;
  TParserTokenList copies;
  copy.CopyStack(stack, copies);
  ASSERT_EQ(copies.size(), 3u);
  EXPECT_NE(copy.Peek(), a);
  EXPECT_EQ(copy.Peek()->Text(), "A");

  EXPECT_EQ(stack.Pop(), a);
  EXPECT_EQ(stack.PopItem(), b);
  EXPECT_EQ(stack.Pop(), c);
  EXPECT_EQ(stack.Pop(), nullptr);
  EXPECT_EQ(stack.Peek(), nullptr);

  // SetCountTo cuts from the top: the tokens read first go.
  copy.SetCountTo(1);
  ASSERT_EQ(copy.Count(), 1);
  EXPECT_EQ(copy.Peek()->Text(), "C");
  copy.SetCountTo(5);
  EXPECT_EQ(copy.Count(), 1);

  TParserStack pushed;
  EXPECT_EQ(pushed.Push(a), a);
  pushed.PushItem(b);
  EXPECT_EQ(pushed.Pop(), b);
  pushed.Clear();
  EXPECT_EQ(pushed.Count(), 0);
}

TEST_F(ParserBaseTest, AssignTokenCopiesEveryField) {
  TParserToken* source = Make(zstAggFunc, "COUNT", 3, 7, "  COUNT");
  source->SetSection(zstHaving);
  source->SetCustomOrdinal(1);
  TParserToken copy;
  copy.AssignToken(source);
  EXPECT_EQ(copy.Token(), zstAggFunc);
  EXPECT_EQ(copy.Section(), zstHaving);
  EXPECT_EQ(copy.Text(), "COUNT");
  EXPECT_EQ(copy.LineNo(), 3);
  EXPECT_EQ(copy.LineOffset(), 7);
  EXPECT_EQ(copy.CustomOrdinal(), 1);
  EXPECT_EQ(copy.RawTokenText(), "  COUNT");
  copy.AssignToken(nullptr);
  EXPECT_EQ(copy.Text(), "COUNT");
}

TEST_F(ParserBaseTest, FirstErrorWinsAndCarriesItsPosition) {
  TBaseParser parser;
  TParserToken* first = Make(zstFieldName, "abc", 2, 5);
  TParserToken* second = Make(zstComma, ",", 9, 9);
  EXPECT_FALSE(parser.HasParseError());
  parser.SetError(first, "Invalid token");
  parser.SetError(second, "Expression incorrectly terminated");
  EXPECT_TRUE(parser.HasParseError());
  EXPECT_EQ(parser.ErrorToken(), first);
  EXPECT_EQ(parser.GetErrorMsg(), "Invalid token Line 2, Character 5. Token 'abc'");
  EXPECT_EQ(parser.GetErrorMsgNoLine(), "Invalid token Character 5. Token 'abc'");

  parser.ClearError();
  EXPECT_FALSE(parser.HasParseError());
  parser.SetError(nullptr, "Field not found");
  EXPECT_EQ(parser.GetErrorMsg(), "Field not found");
  EXPECT_EQ(parser.GetErrorMsgNoLine(), "Field not found");

  parser.Clear();
  EXPECT_FALSE(parser.HasParseError());
  EXPECT_EQ(parser.GetErrorMsg(), "");
}

TEST_F(ParserBaseTest, CursorOverTheStack) {
  TParserStack stack;
  stack.Queue(Make(zstFieldName, "a", 1, 1, "a"));
  stack.Queue(Make(zstCompOperator, "=", 1, 3, " ="));
  stack.Queue(Make(zstLParen, "(", 1, 5, " ("));
  stack.Queue(Make(zstEnd, ""));

  TBaseParser parser;
  EXPECT_EQ(parser.CurrentTokenType(), zstUnknown);
  EXPECT_TRUE(parser.AtEndToken());
  EXPECT_TRUE(parser.Execute(TZelParserOptions{zpoExtSyntax}, &stack));
  EXPECT_TRUE(parser.Options().Contains(zpoExtSyntax));
  EXPECT_EQ(parser.Stack(), &stack);
  EXPECT_EQ(parser.TokenName(), "a");
  EXPECT_TRUE(parser.TokenSymbolIs("A"));
  EXPECT_FALSE(parser.TokenSymbolIs("b"));
  EXPECT_EQ(parser.PeekAtTokenType(0), zstCompOperator);
  EXPECT_EQ(parser.PeekAtTokenType(2), zstEnd);
  EXPECT_EQ(parser.PeekAtTokenType(stack.Count()), zstUnknown);
  EXPECT_FALSE(parser.NextTokenIsLParen());
  EXPECT_FALSE(parser.AtEndToken());
  EXPECT_EQ(parser.ParsedText(), "a");

  parser.NextToken();
  EXPECT_TRUE(parser.NextTokenIsLParen());
  EXPECT_EQ(parser.ParsedText(), "a =");
  parser.RemoveCurrentTokenFromParsedText();
  EXPECT_EQ(parser.ParsedText(), "a");

  // A second Execute keeps the current token.
  parser.Execute(TZelParserOptions{}, &stack);
  EXPECT_EQ(parser.CurrentTokenType(), zstCompOperator);

  TBaseParser other;
  other.SyncCurrToken(parser);
  EXPECT_EQ(other.CurrToken(), parser.CurrToken());
  EXPECT_EQ(other.ParsedText(), " =");

  parser.NextToken();
  parser.NextToken();
  EXPECT_EQ(parser.CurrentTokenType(), zstEnd);
  EXPECT_TRUE(parser.AtEndToken());
  parser.NextToken();
  EXPECT_EQ(parser.CurrToken(), nullptr);
  EXPECT_EQ(parser.CurrentTokenType(), zstUnknown);
  EXPECT_EQ(parser.TokenName(), "");

  parser.Clear();
  EXPECT_EQ(parser.Stack(), nullptr);
  EXPECT_EQ(parser.CurrToken(), nullptr);
  EXPECT_EQ(parser.ParsedText(), "");
  EXPECT_TRUE(parser.Options().Empty());
}

TEST_F(ParserBaseTest, AtEndTokenAtClosingParenthesis) {
  struct Case {
    bool isSubquery;
    bool rParenEnds;
    bool expected;
  };
  const Case cases[] = {
      {false, false, false}, {true, false, true}, {false, true, true}, {true, true, true}};
  for (const Case& c : cases) {
    TParserStack stack;
    stack.Queue(Make(zstRParen, ")"));
    stack.Queue(Make(zstEnd, ""));
    TBaseParser parser;
    parser.SetIsSubquery(c.isSubquery);
    if (c.rParenEnds) parser.SetEndTokens({zstEnd, zstRParen});
    parser.Execute({}, &stack);
    EXPECT_EQ(parser.AtEndToken(), c.expected) << c.isSubquery << c.rParenEnds;
  }
  // The default end tokens hold the end of statement only.
  TBaseParser parser;
  EXPECT_TRUE(parser.EndTokens().Contains(zstEnd));
  EXPECT_FALSE(parser.EndTokens().Contains(zstRParen));
}

}  // namespace
}  // namespace zel
