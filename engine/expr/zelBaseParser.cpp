// The SQL tokenizer and its keyword table.

#include "engine/expr/zelBaseParser.h"

#include <array>
#include <cstring>
#include <limits>
#include <span>

#include "engine/expr/zelParserUtils.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

// clang-format off
constexpr std::array<const char*, kZelSQLTokenCount> kTokenNames = {
    "Unknown", "Table name", "Table alias", "Field name", "Ascending", "Descending", "Select",
    "From", "Where", "Group by", "Having", "Union", "Plan", "Order by", "For update", "End",
    "Predicate", "Value", "String literal", "Is null", "Is not null", "Like", "And", "Or", "Number",
    "Comment", "Distinct", "Comma", "Left parenthesis", "Right parenthesis", "Add", "Subtract",
    "Multiply", "Divide", "Between", "As", "Case", "When", "Then", "Nullif", "Coalesce", "Join",
    "Inner", "Outer", "Left", "Right", "Cross", "Natural", "Full", "Aggregate function", "Function",
    "Data type", "Parameter", "Cast", "Not", "In", "Comparison operator", "Null", "True", "False",
    "String function", "For", "Concatenate", "On", "Using", "Escape", "Not like", "Not between",
    "Not in", "Char", "Int", "Smallint", "Float", "Date", "Time", "Timestamp", "Decimal", "Varchar",
    "Numeric", "Boolean", "Money", "Blob", "Extract", "Year", "Month", "Day", "Hour", "Minute",
    "Second", "Current date", "Current time", "Current timestamp", "All", "Exists", "Any", "Some",
    "Insert", "Into", "Values", "Delete", "Update", "Set", "Create", "Table", "Add (keyword)",
    "Drop", "Alter", "Column", "Primary key", "Index", "Autoinc", "Unique", "Type", "To",
    "Temporary", "Ident_current"};
// clang-format on

// How a literal of the keyword table matches.
enum class Rule : uint8_t {
  Plain,       // the word equals the literal (ignoring case)
  Exact,       // the word equals the literal byte for byte
  SelectOnly,  // as Plain, but only while the clause is SELECT
  FollowedBy,  // as Plain, and the next words are follow[0] (and follow[1])
  AfterDot,    // any word read after a lone "."
};

struct Keyword {
  const char* literal;
  TZelSQLToken token;
  Rule rule = Rule::Plain;
  const char* follow[2] = {nullptr, nullptr};
};

using KeywordGroup = std::span<const Keyword>;

// The groups in comparison order; a word is compared only with the group of
// its upper-cased first character.
constexpr Keyword kGroupA[] = {{"ALL", zstAll}, {"ASC", zstAscending}, {"ASCENDING", zstAscending},
                               {"AND", zstAnd}, {"AS", zstAS},         {"AUTOINC", zstAutoInc},
                               {"ANY", zstAny}, {"ADD", zstAddWord},   {"ALTER", zstAlter}};
constexpr Keyword kGroupB[] = {{"BETWEEN", zstBetween}, {"BOOLEAN", zstBoolean}, {"BLOB", zstBlob}};
constexpr Keyword kGroupC[] = {{"CASE", zstCase},
                               {"COALESCE", zstCoalesce},
                               {"CROSS", zstCross},
                               {"CAST", zstCast},
                               {"CHARACTER", zstChar},
                               {"CHAR", zstChar},
                               {"CURRENT_TIME", zstCurrentTime},
                               {"CURRENT_DATE", zstCurrentDate},
                               {"CURRENT_TIMESTAMP", zstCurrentTimestamp},
                               {"CREATE", zstCreate},
                               {"COLUMN", zstColumn}};
constexpr Keyword kGroupD[] = {{"DELETE", zstDelete},   {"DISTINCT", zstDistinct, Rule::SelectOnly},
                               {"DESC", zstDescending}, {"DESCENDING", zstDescending},
                               {"DATE", zstDate},       {"DATETIME", zstTimeStamp},
                               {"DECIMAL", zstDecimal}, {"DAY", zstDay},
                               {"DROP", zstDrop}};
constexpr Keyword kGroupF[] = {
    {"FROM", zstFrom},   {"FOR", zstForUpdate, Rule::FollowedBy, {"UPDATE"}},
    {"FULL", zstFull},   {"FOR", zstFor},
    {"FALSE", zstFalse}, {"FLOAT", zstNumeric}};
constexpr Keyword kGroupI[] = {{"INTO", zstInto},
                               {"INSERT", zstInsert},
                               {"IS", zstIsNull, Rule::FollowedBy, {"NULL"}},
                               {"IS", zstIsNotNull, Rule::FollowedBy, {"NOT", "NULL"}},
                               {"IS", zstValue},
                               {"INNER", zstInner},
                               {"IN", zstIn},
                               {"INTEGER", zstInt},
                               {"INT", zstInt},
                               {"INDEX", zstIndex},
                               {"IDENT_CURRENT", zstIdentCurrent}};
constexpr Keyword kGroupN[] = {{"NULL", zstNull},
                               {"NULLIF", zstNullif},
                               {"NATURAL", zstNatural},
                               {"NOT", zstNotLike, Rule::FollowedBy, {"LIKE"}},
                               {"NOT", zstNotBetween, Rule::FollowedBy, {"BETWEEN"}},
                               {"NOT", zstNotIn, Rule::FollowedBy, {"IN"}},
                               {"NOT", zstNot},
                               {"NUMERIC", zstNumeric}};
constexpr Keyword kGroupS[] = {{"SELECT", zstSelect},
                               {"SMALLINT", zstSmallInt},
                               {"SECOND", zstSecond},
                               {"SOME", zstSome},
                               {"SET", zstSet}};
constexpr Keyword kGroupT[] = {
    {"TEMPORARY", zstTemporary}, {"THEN", zstThen},   {"TRUE", zstTrue}, {"TIME", zstTime},
    {"TIMESTAMP", zstTimeStamp}, {"TABLE", zstTable}, {"TYPE", zstType}, {"TO", zstTo}};
constexpr Keyword kGroupOther[] = {{"*", zstMult, Rule::Exact},
                                   {"/", zstDiv},
                                   {";", zstEnd},
                                   {"", zstFieldName, Rule::AfterDot},
                                   {"VALUES", zstValues},
                                   {"UPDATE", zstUpdate},
                                   {"OR", zstOr},
                                   {"LIKE", zstLike},
                                   {"WHERE", zstWhere},
                                   {"GROUP", zstGroupBy, Rule::FollowedBy, {"BY"}},
                                   {"HAVING", zstHaving},
                                   {"UNION", zstUnion},
                                   {"PLAN", zstPlan},
                                   {"ORDER", zstOrderBy, Rule::FollowedBy, {"BY"}},
                                   {"WHEN", zstWhen},
                                   {"JOIN", zstJoin},
                                   {"OUTER", zstOuter},
                                   {"LEFT", zstLeft},
                                   {"RIGHT", zstRight},
                                   {"||", zstConcatenate},
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
                                   {"PRIMARY", zstPrimaryKey, Rule::FollowedBy, {"KEY"}}};

KeywordGroup GroupOf(char upperFirst) {
  switch (upperFirst) {
    case 'A':
      return kGroupA;
    case 'B':
      return kGroupB;
    case 'C':
      return kGroupC;
    case 'D':
      return kGroupD;
    case 'F':
      return kGroupF;
    case 'I':
      return kGroupI;
    case 'N':
      return kGroupN;
    case 'S':
      return kGroupS;
    case 'T':
      return kGroupT;
    default:
      return kGroupOther;
  }
}

// The closing characters of quoted tokens, in the order of LastQuote_.
constexpr char kClosers[5] = {'"', '#', '\'', ']', '`'};

int QuoteIndex(char close) {
  for (int i = 0; i < 5; ++i)
    if (kClosers[i] == close) return i;
  return 0;
}

bool IsAscii(const std::string& s) {
  for (const char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// Keyword literals are upper-case ASCII. An ASCII word equals one ignoring
// case exactly when its upper-case form is equal; other words take the
// locale-aware comparison.
bool SameWord(const std::string& word, const std::string& upper, bool ascii, const char* literal) {
  return ascii ? upper == literal : plat::AnsiSameText(word, literal);
}

bool IsBlank(char c) {
  return c == 9 || c == 10 || c == 13 || c == ' ';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

const char* ZelSQLTokenName(TZelSQLToken token) {
  return static_cast<std::size_t>(token) < kTokenNames.size() ? kTokenNames[token] : "?";
}

void TZelTokenParser::SetTokenString(const std::string& text) {
  Text_ = text;
  Prepare();
}

void TZelTokenParser::Prepare() {
  CurrChar_ = 0;
  LineNo_ = 1;
  CharPos_ = 1;
  TokenStartPos_ = 1;
  TokenStartLine_ = 1;
  Token_ = zstUnknown;
  ClauseToken_ = zstUnknown;
  AfterDot_ = false;
  LastQuoted_ = false;
  TokenStart_ = kNoStart;
  RawText_.clear();
  LookAhead_ = 0;
  End_ = std::strlen(Text_.c_str());
  for (std::size_t& last : LastQuote_) last = kNoStart;
  for (std::size_t i = 0; i < End_; ++i) {
    const char c = Text_[i];
    for (int q = 0; q < 5; ++q)
      if (c == kClosers[q]) LastQuote_[q] = i;
  }
}

TZelSQLToken TZelTokenParser::GetNextToken(std::string& tokenText) {
  TokenStartPos_ = CharPos_;
  TokenStartLine_ = LineNo_;
  RawText_.clear();
  const TZelSQLToken result = NextSQLToken(tokenText);
  Token_ = result;
  if (IsClauseToken(result)) ClauseToken_ = result;
  return result;
}

void TZelTokenParser::StartToken() {
  if (TokenStart_ == kNoStart) SetTokenStart(CurrChar_);
}

void TZelTokenParser::SetTokenStart(std::size_t p) {
  TokenStart_ = p;
  MarkStart();
}

void TZelTokenParser::MarkStart() {
  TokenStartPos_ = CharPos_;
  TokenStartLine_ = LineNo_;
}

void TZelTokenParser::IncCurrChar() {
  const char c = Cur();
  if (c == '\0') return;  // the end is never consumed
  if (c == 10 || c == 13) {
    // CR LF, LF CR, CR CR and LF LF each count as one line break.
    if (LineNo_ < std::numeric_limits<int32_t>::max()) ++LineNo_;
    CharPos_ = 1;
    ++CurrChar_;
    if (Cur() == 10 || Cur() == 13) ++CurrChar_;
    return;
  }
  RawText_.push_back(c);
  if (CharPos_ < std::numeric_limits<int32_t>::max()) ++CharPos_;
  ++CurrChar_;
}

std::string TZelTokenParser::GetUnparsedText() const {
  return plat::Trim(Text_.substr(CurrChar_ < Text_.size() ? CurrChar_ : Text_.size()));
}

TZelTokenParser::State TZelTokenParser::SaveState() const {
  return State{CurrChar_,    LineNo_,   CharPos_,    TokenStartPos_, TokenStartLine_, Token_,
               ClauseToken_, AfterDot_, LastQuoted_, TokenStart_,    RawText_.size()};
}

void TZelTokenParser::RestoreState(const State& state) {
  CurrChar_ = state.currChar;
  LineNo_ = state.lineNo;
  CharPos_ = state.charPos;
  TokenStartPos_ = state.tokenStartPos;
  TokenStartLine_ = state.tokenStartLine;
  Token_ = state.token;
  ClauseToken_ = state.clauseToken;
  AfterDot_ = state.afterDot;
  LastQuoted_ = state.lastQuoted;
  TokenStart_ = state.tokenStart;
  RawText_.resize(state.rawLength);
}

TZelSQLToken TZelTokenParser::FinishWord(std::string& tokenText) {
  tokenText = Text_.substr(TokenStart_, CurrChar_ - TokenStart_);
  return GetSQLToken(tokenText);
}

void TZelTokenParser::ConsumeNumberRun() {
  while (IsDigit(Cur()) || Cur() == '.') IncCurrChar();
}

bool TZelTokenParser::HasLater(char c, std::size_t from) const {
  const std::size_t last = LastQuote_[QuoteIndex(c)];
  return last != kNoStart && last >= from;
}

bool TZelTokenParser::ScanQuoted(char open, std::string& tokenText, TZelSQLToken& result) {
  const char close = open == '[' ? ']' : open;
  const bool doubling = open == '"' || open == '\'';
  StartToken();  // a word already begun keeps its start
  const State atOpen = SaveState();
  const std::size_t openPos = CurrChar_;

  bool closed = false;
  if (HasLater(close, openPos + 1)) {
    IncCurrChar();
    for (;;) {
      const char c = Cur();
      if (c == '\0') break;
      if (c == close) {
        if (doubling && Next() == close) {
          IncCurrChar();
          IncCurrChar();
          continue;
        }
        closed = true;
        break;
      }
      IncCurrChar();
    }
  }
  if (!closed) {
    // Unclosed: the opening character is an ordinary character of a word.
    RestoreState(atOpen);
    IncCurrChar();
    return false;
  }
  const std::size_t closePos = CurrChar_;
  IncCurrChar();

  // Text: what precedes the quote in the same word, then the content with
  // quotes removed and doubled quotes reduced to one.
  tokenText = Text_.substr(TokenStart_, openPos - TokenStart_);
  for (std::size_t i = openPos + 1; i < closePos; ++i) {
    tokenText.push_back(Text_[i]);
    if (doubling && Text_[i] == close) ++i;
  }
  LastQuoted_ = true;
  if (AfterDot_ || open == '[')
    result = zstFieldName;
  else if (Cur() == '.')
    result = zstTableName;
  else if (open == '\'')
    result = zstStringLiteral;
  else
    result = zstValue;
  return true;
}

TZelSQLToken TZelTokenParser::NextSQLToken(std::string& tokenText) {
  TokenStart_ = kNoStart;
  AfterDot_ = false;
  LastQuoted_ = false;
  for (;;) {
    const char c = Cur();
    switch (c) {
      case '\0':
        if (WordBegun()) return FinishWord(tokenText);
        MarkStart();
        tokenText.clear();
        return zstEnd;

      case 9:
      case 10:
      case 13:
      case ' ':
        if (WordBegun()) return FinishWord(tokenText);
        while (IsBlank(Cur())) IncCurrChar();
        continue;

      case ',':
      case '(':
      case ')':
      case ';':
        if (WordBegun()) return FinishWord(tokenText);
        MarkStart();
        tokenText.assign(1, c);
        IncCurrChar();
        return c == ',' ? zstComma : c == '(' ? zstLParen : c == ')' ? zstRParen : zstEnd;

      case '"':
      case '#':
      case '\'':
      case '[':
      case '`': {
        TZelSQLToken result = zstUnknown;
        if (ScanQuoted(c, tokenText, result)) return result;
        continue;
      }

      case '*':
        if (WordBegun()) return FinishWord(tokenText);
        MarkStart();
        tokenText = "*";
        IncCurrChar();
        return zstMult;

      case '+':
      case '-': {
        if (WordBegun()) return FinishWord(tokenText);
        MarkStart();
        const std::size_t start = CurrChar_;
        IncCurrChar();
        if (Cur() == '.' || IsDigit(Cur())) {
          ConsumeNumberRun();
          tokenText = Text_.substr(start, CurrChar_ - start);
          return zstNumber;
        }
        tokenText.assign(1, c);
        return c == '+' ? zstAdd : zstSub;
      }

      case '.':
        if (WordBegun()) {
          tokenText = Text_.substr(TokenStart_, CurrChar_ - TokenStart_);
          return zstTableName;
        }
        if (IsDigit(Next())) {
          // ".5" is a number; skipping the point would read it as 5.
          MarkStart();
          const std::size_t start = CurrChar_;
          ConsumeNumberRun();
          tokenText = Text_.substr(start, CurrChar_ - start);
          return zstNumber;
        }
        AfterDot_ = true;
        IncCurrChar();
        continue;

      case '/': {
        if (WordBegun()) return FinishWord(tokenText);
        MarkStart();
        const std::size_t start = CurrChar_;
        IncCurrChar();
        if (Cur() == '*') {
          IncCurrChar();
          for (;;) {
            if (Cur() == '\0') break;
            if (Cur() == '*' && Next() == '/') {
              IncCurrChar();
              IncCurrChar();
              break;
            }
            IncCurrChar();
          }
        } else if (Cur() == '/') {
          while (Cur() != '\0' && Cur() != 10 && Cur() != 13) IncCurrChar();
        } else {
          tokenText = "/";
          return GetSQLToken(tokenText);
        }
        tokenText = Text_.substr(start, CurrChar_ - start);
        return zstComment;
      }

      case ':':
        if (WordBegun()) {
          IncCurrChar();
          continue;
        }
        MarkStart();
        IncCurrChar();
        tokenText = ":";
        return zstParameter;

      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9': {
        if (WordBegun()) {
          IncCurrChar();
          continue;
        }
        MarkStart();
        const std::size_t start = CurrChar_;
        ConsumeNumberRun();
        tokenText = Text_.substr(start, CurrChar_ - start);
        return zstNumber;
      }

      case '<':
      case '=':
      case '>': {
        if (WordBegun()) return FinishWord(tokenText);
        MarkStart();
        const std::size_t start = CurrChar_;
        while (Cur() == '<' || Cur() == '=' || Cur() == '>') IncCurrChar();
        tokenText = Text_.substr(start, CurrChar_ - start);
        return zstCompOperator;
      }

      default:
        StartToken();
        IncCurrChar();
        continue;
    }
  }
}

bool TZelTokenParser::NextTokenIs(const std::string& word, std::string& tokenText) {
  const State saved = SaveState();
  std::string next;
  ++LookAhead_;
  NextSQLToken(next);
  --LookAhead_;
  if (!LastQuoted_ && plat::AnsiSameText(next, word)) {
    tokenText += ' ';
    tokenText += next;
    // The token begins at its first word.
    TokenStartPos_ = saved.tokenStartPos;
    TokenStartLine_ = saved.tokenStartLine;
    return true;
  }
  RestoreState(saved);
  return false;
}

TZelSQLToken TZelTokenParser::GetSQLToken(std::string& word) {
  if (word.empty()) return zstEnd;
  const std::string upper = plat::AnsiUpperCase(word);
  const bool ascii = IsAscii(word);
  const KeywordGroup group = GroupOf(upper[0]);
  for (const Keyword& k : group) {
    switch (k.rule) {
      case Rule::Plain:
        if (SameWord(word, upper, ascii, k.literal)) return k.token;
        break;
      case Rule::Exact:
        if (word == k.literal) return k.token;
        break;
      case Rule::SelectOnly:
        if (ClauseToken_ == zstSelect && SameWord(word, upper, ascii, k.literal)) return k.token;
        break;
      case Rule::AfterDot:
        if (AfterDot_) return k.token;
        break;
      case Rule::FollowedBy: {
        if (LookAhead_ > 0 || !SameWord(word, upper, ascii, k.literal)) break;
        const State saved = SaveState();
        std::string joined = word;
        bool all = true;
        for (const char* follow : k.follow) {
          if (follow == nullptr) break;
          if (!NextTokenIs(follow, joined)) {
            all = false;
            break;
          }
        }
        if (all) {
          word = joined;
          return k.token;
        }
        RestoreState(saved);
        break;
      }
    }
  }
  if (IsAggFunc(word)) return zstAggFunc;
  if (IsDataType(word)) return zstDataType;
  if (IsStrFunc(word)) return zstStrFunc;
  return zstFieldName;
}

bool TZelTokenParser::ReadMoreWords(int32_t count, std::string& word) {
  for (int32_t i = 0; i < count; ++i) {
    std::string next;
    ++LookAhead_;
    NextSQLToken(next);
    --LookAhead_;
    word += ' ';
    word += next;
  }
  return true;
}

bool TZelTokenParser::IsAggFunc(std::string& word) {
  TAggFuncMapper mapper;
  const int32_t count = mapper.IsMemberToken(word, "");
  if (count > 1) ReadMoreWords(count - 1, word);
  return count > 0;
}

bool TZelTokenParser::IsDataType(std::string& word) {
  TDataTypeMapper mapper;
  const int32_t count = mapper.IsMemberToken(word, "");
  if (count > 1) ReadMoreWords(count - 1, word);
  return count > 0;
}

bool TZelTokenParser::IsStrFunc(std::string& word) {
  TStrFuncMapper mapper;
  const int32_t count = mapper.IsMemberToken(word, "");
  if (count > 1) ReadMoreWords(count - 1, word);
  return count > 0;
}

}  // namespace zel
