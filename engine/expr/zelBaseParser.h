#pragma once
// The SQL tokenizer and keyword table, the token record and token stack, and
// the base class of every statement and clause parser.
//
// Text flows one way: TZelTokenParser reads SQL text character by character
// (the only place that does), the pre-parser (zelParserUtils) stores its
// tokens as TParserToken objects on TParserStack stacks, and every parser
// derived from TBaseParser pops its clause's tokens from such a stack.

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/ClassesBase.h"
#include "platform/rtl/Object.h"

namespace plat {
class Variant;
}

namespace zel {

// The token kinds. Ordinals matter: parsers test ranges and sets of them
// (the clause keywords are zstSelect..zstForUpdate plus insert, delete and
// update).
// clang-format off
enum TZelSQLToken : uint8_t {
  zstUnknown, zstTableName, zstTableAlias, zstFieldName, zstAscending, zstDescending,  // 0
  zstSelect, zstFrom, zstWhere, zstGroupBy, zstHaving, zstUnion,  // 6
  zstPlan, zstOrderBy, zstForUpdate, zstEnd, zstPredicate, zstValue,  // 12
  zstStringLiteral, zstIsNull, zstIsNotNull, zstLike, zstAnd, zstOr,  // 18
  zstNumber, zstComment, zstDistinct, zstComma, zstLParen, zstRParen,  // 24
  zstAdd, zstSub, zstMult, zstDiv, zstBetween, zstAS,  // 30
  zstCase, zstWhen, zstThen, zstNullif, zstCoalesce, zstJoin,  // 36
  zstInner, zstOuter, zstLeft, zstRight, zstCross, zstNatural,  // 42
  zstFull, zstAggFunc, zstFunc, zstDataType, zstParameter, zstCast,  // 48
  zstNot, zstIn, zstCompOperator, zstNull, zstTrue, zstFalse,  // 54
  zstStrFunc, zstFor, zstConcatenate, zstOn, zstUsing, zstEscape,  // 60
  zstNotLike, zstNotBetween, zstNotIn, zstChar, zstInt, zstSmallInt,  // 66
  zstFloat, zstDate, zstTime, zstTimeStamp, zstDecimal, zstVarChar,  // 72
  zstNumeric, zstBoolean, zstMoney, zstBlob, zstExtract, zstYear,  // 78
  zstMonth, zstDay, zstHour, zstMinute, zstSecond, zstCurrentDate,  // 84
  zstCurrentTime, zstCurrentTimestamp, zstAll, zstExists, zstAny, zstSome,  // 90
  zstInsert, zstInto, zstValues, zstDelete, zstUpdate, zstSet,  // 96
  zstCreate, zstTable, zstAddWord, zstDrop, zstAlter, zstColumn,  // 102
  zstPrimaryKey, zstIndex, zstAutoInc, zstUnique, zstType, zstTo,  // 108
  zstTemporary, zstIdentCurrent  // 114
};
// clang-format on
inline constexpr std::size_t kZelSQLTokenCount = 116;

// Diagnostic name of a token kind ("Unknown", "Select", ...); "?" outside the range.
const char* ZelSQLTokenName(TZelSQLToken token);

// True for the keywords that open a clause or a statement: they start a
// section in the pre-parser and are remembered as the tokenizer's ClauseToken.
constexpr bool IsClauseToken(TZelSQLToken token) {
  return (token >= zstSelect && token <= zstForUpdate) || token == zstInsert ||
         token == zstDelete || token == zstUpdate;
}

// A set of token kinds (the library's "set of TZelSQLToken"); it has more
// members than plat::TSet can hold.
class TZelTokenSet {
 public:
  TZelTokenSet() = default;
  TZelTokenSet(std::initializer_list<TZelSQLToken> items) {
    for (TZelSQLToken item : items) Include(item);
  }
  // Every kind from low to high, both included.
  static TZelTokenSet Range(TZelSQLToken low, TZelSQLToken high) {
    TZelTokenSet result;
    for (std::size_t i = low; i <= high && i < kZelSQLTokenCount; ++i)
      result.Include(static_cast<TZelSQLToken>(i));
    return result;
  }

  bool Contains(TZelSQLToken item) const { return item < kZelSQLTokenCount && Bits_.test(item); }
  TZelTokenSet& Include(TZelSQLToken item) {
    if (item < kZelSQLTokenCount) Bits_.set(item);
    return *this;
  }
  TZelTokenSet& Exclude(TZelSQLToken item) {
    if (item < kZelSQLTokenCount) Bits_.reset(item);
    return *this;
  }
  bool Empty() const { return Bits_.none(); }
  void Clear() { Bits_.reset(); }

  friend TZelTokenSet operator+(TZelTokenSet a, const TZelTokenSet& b) {
    a.Bits_ |= b.Bits_;
    return a;
  }
  friend TZelTokenSet operator-(TZelTokenSet a, const TZelTokenSet& b) {
    a.Bits_ &= ~b.Bits_;
    return a;
  }
  friend TZelTokenSet operator*(TZelTokenSet a, const TZelTokenSet& b) {
    a.Bits_ &= b.Bits_;
    return a;
  }
  friend bool operator==(const TZelTokenSet& a, const TZelTokenSet& b) {
    return a.Bits_ == b.Bits_;
  }

 private:
  std::bitset<kZelSQLTokenCount> Bits_;
};

// ---------------------------------------------------------------------------
// The tokenizer.
//
// Invariants kept between calls:
//  1. CurrChar never passes the end of the text: the first NUL byte (the one
//     std::string keeps after the last character, or an earlier one inside
//     the text) is the end, and nothing consumes it.
//  2. Every call of GetNextToken either consumes at least one character or
//     returns zstEnd with empty text at the end, so reading until that token
//     always terminates.
//  3. A two-word look-ahead reads one token in a plain mode that looks no
//     further ahead, so classification is linear in the text and its depth
//     of recursion is bounded.
//  4. TokenStartPos and TokenStartLine give the line and column of the first
//     character of the last token (the first word of a two-word token).
class TZelTokenParser : public plat::TObject {
 public:
  TZelTokenParser() = default;
  std::string ClassName() const override { return "TZelTokenParser"; }

  void SetTokenString(const std::string& text);
  void Prepare();

  // Returns the next token and its text, and records it as Token (and, for a
  // clause keyword, as ClauseToken).
  TZelSQLToken GetNextToken(std::string& tokenText);
  // The scanner proper.
  TZelSQLToken NextSQLToken(std::string& tokenText);
  // Classifies one word; may extend it by the words of a two-word keyword.
  TZelSQLToken GetSQLToken(std::string& word);
  // When the next token is the given word, appends a blank and that token's
  // text to tokenText and keeps the scan after it; otherwise leaves the
  // scanner as it was.
  bool NextTokenIs(const std::string& word, std::string& tokenText);
  bool IsAggFunc(std::string& word);
  bool IsDataType(std::string& word);
  bool IsStrFunc(std::string& word);

  void StartToken();
  // Starts the token being built at the byte offset p of the text.
  void SetTokenStart(std::size_t p);
  void IncCurrChar();
  // The text not yet read, without leading and trailing blanks and control
  // characters. Text after a NUL byte counts as unread.
  std::string GetUnparsedText() const;

  const std::string& Text() const { return Text_; }
  // Byte offset of the character being scanned.
  std::size_t CurrChar() const { return CurrChar_; }
  int32_t LineNo() const { return LineNo_; }
  int32_t CharPos() const { return CharPos_; }
  int32_t TokenStartPos() const { return TokenStartPos_; }
  int32_t TokenStartLine() const { return TokenStartLine_; }
  TZelSQLToken Token() const { return Token_; }
  TZelSQLToken ClauseToken() const { return ClauseToken_; }
  bool AfterDot() const { return AfterDot_; }
  const std::string& RawText() const { return RawText_; }

 private:
  static constexpr std::size_t kNoStart = static_cast<std::size_t>(-1);

  struct State {
    std::size_t currChar;
    int32_t lineNo, charPos, tokenStartPos, tokenStartLine;
    TZelSQLToken token, clauseToken;
    bool afterDot, lastQuoted;
    std::size_t tokenStart, rawLength;
  };
  State SaveState() const;
  void RestoreState(const State& state);

  char Cur() const { return Text_[CurrChar_]; }
  char Next() const { return Cur() == '\0' ? '\0' : Text_[CurrChar_ + 1]; }
  bool WordBegun() const { return TokenStart_ != kNoStart; }
  void MarkStart();
  TZelSQLToken FinishWord(std::string& tokenText);
  void ConsumeNumberRun();
  // Scans a quoted token opened at the current character; false (and the
  // opening character consumed as part of a word) when it is not closed.
  bool ScanQuoted(char open, std::string& tokenText, TZelSQLToken& result);
  bool HasLater(char c, std::size_t from) const;
  bool ReadMoreWords(int32_t count, std::string& word);

  std::string Text_;
  std::size_t CurrChar_ = 0;
  int32_t LineNo_ = 1;
  int32_t CharPos_ = 1;
  int32_t TokenStartPos_ = 1;
  TZelSQLToken Token_ = zstUnknown;
  TZelSQLToken ClauseToken_ = zstUnknown;
  bool AfterDot_ = false;
  std::size_t TokenStart_ = kNoStart;
  std::string RawText_;
  int32_t TokenStartLine_ = 1;
  // Set when the last scanned token was a quoted one: a quoted word is never
  // the second word of a keyword.
  bool LastQuoted_ = false;
  // Inside NextTokenIs: words are classified without looking further ahead.
  int32_t LookAhead_ = 0;
  // Where the text ends (first NUL) and the last offset of each closing
  // quote character before it, so an unclosed quote is seen at once.
  std::size_t End_ = 0;
  std::size_t LastQuote_[5] = {};
};

// ---------------------------------------------------------------------------
// Tokens and token stacks.

class TParserToken : public plat::TObject {
 public:
  std::string ClassName() const override { return "TParserToken"; }

  int32_t LineOffset() const { return LineOffset_; }
  void SetLineOffset(int32_t value) { LineOffset_ = value; }
  int32_t LineNo() const { return LineNo_; }
  void SetLineNo(int32_t value) { LineNo_ = value; }
  TZelSQLToken Token() const { return Token_; }
  void SetToken(TZelSQLToken value) { Token_ = value; }
  TZelSQLToken Section() const { return Section_; }
  void SetSection(TZelSQLToken value) { Section_ = value; }
  const std::string& Text() const { return Text_; }
  void SetText(const std::string& value) { Text_ = value; }
  int32_t CustomOrdinal() const { return CustomOrdinal_; }
  void SetCustomOrdinal(int32_t value) { CustomOrdinal_ = value; }
  const std::string& RawTokenText() const { return RawTokenText_; }
  void SetRawTokenText(const std::string& value) { RawTokenText_ = value; }

  // Copies all seven fields; a null source changes nothing.
  void AssignToken(const TParserToken* source);

 private:
  int32_t LineOffset_ = 0;
  int32_t LineNo_ = 0;
  TZelSQLToken Token_ = zstUnknown;
  TZelSQLToken Section_ = zstUnknown;
  std::string Text_;
  int32_t CustomOrdinal_ = 0;
  std::string RawTokenText_;
};

// Owner of tokens: the pre-parser's list, or a list given to CopyStack.
using TParserTokenList = std::vector<std::unique_ptr<TParserToken>>;

// A stack of token references; it never frees a token. The top is the last
// element; Queue inserts at the bottom, so a stack filled by Queue in reading
// order pops the tokens in reading order.
class TParserStack : public plat::TObject {
 public:
  std::string ClassName() const override { return "TParserStack"; }

  TParserToken* Push(TParserToken* token);
  void PushItem(TParserToken* token) { Push(token); }
  void Queue(TParserToken* token);
  // Pop and Peek give nullptr on an empty stack.
  TParserToken* Pop();
  TParserToken* PopItem() { return Pop(); }
  TParserToken* Peek() const;
  TParserToken* PeekItem() const { return Peek(); }
  // The token n places below the top (0 is the top); nullptr outside the stack.
  TParserToken* PeekAt(int32_t n) const;
  // The token at position index counted from the bottom (0); nullptr outside.
  TParserToken* Item(int32_t index) const;
  int32_t Count() const { return static_cast<int32_t>(List_.size()); }
  bool AtLeast(int32_t n) const { return n <= Count(); }
  void Clear() { List_.clear(); }
  // Removes tokens from the top until n remain.
  void SetCountTo(int32_t n);
  // Makes this stack a copy of source with new tokens, which ownerList owns.
  void CopyStack(const TParserStack& source, TParserTokenList& ownerList);

  TZelSQLToken Section() const { return Section_; }
  void SetSection(TZelSQLToken kind) { Section_ = kind; }

 private:
  std::deque<TParserToken*> List_;
  TZelSQLToken Section_ = zstUnknown;
};

// ---------------------------------------------------------------------------
// The parser base.

enum TZelParserOption : uint8_t {
  zpoExtSyntax,
  zpoAggregate,
  zpoDefaultExpr,
  zpoSQL,
  zpoParameters,
  zpoExtractAggFuncExprText,
  zpoSubqueries
};
using TZelParserOptions = plat::TSet<TZelParserOption>;

enum TParserNotifyType : uint8_t { pntUnknown, pntSubquery, pntFindTableRef, pntSelectUnion };

class TZelExprNode;
class TBaseParser;

// A parser asks its owner for help (subqueries, table references) through
// this callback; the variant carries the request's answer.
using TParserNotifyEvent =
    std::function<void(TParserNotifyType notifyType, TBaseParser* parser, TParserStack* stack,
                       TZelExprNode* node, plat::Variant& value)>;

// A cursor over a token stack with the first error of the parse.
// Syntax errors are never raised: SetError keeps the first one and its token,
// and the owner reads HasParseError and GetErrorMsg after Execute.
class TBaseParser : public plat::TObject {
 public:
  TBaseParser();
  std::string ClassName() const override { return "TBaseParser"; }

  virtual void Clear();
  // Stores the options and the stack and, when there is no current token,
  // reads the first one. Descendants call it first, then parse; the result
  // is true when no error is recorded.
  virtual bool Execute(TZelParserOptions options, TParserStack* stack);

  void NextToken();
  void SyncCurrToken(const TBaseParser& other);
  void RemoveCurrentTokenFromParsedText();
  TZelSQLToken CurrentTokenType() const;
  TZelSQLToken PeekAtTokenType(int32_t n) const;
  bool NextTokenIsLParen() const;
  std::string TokenName() const;
  bool TokenSymbolIs(const std::string& s) const;
  bool AtEndToken() const;

  void SetEndTokens(const TZelTokenSet& tokens) { EndTokens_ = tokens; }
  void SetIsSubquery(bool value) { IsSubquery_ = value; }
  void SetParserNotifyEvent(TParserNotifyEvent callback) { OnParserNotify_ = std::move(callback); }

  void SetError(TParserToken* token, const std::string& message);
  void ClearError();
  bool HasParseError() const { return !ErrorMsg_.empty(); }
  // The message with " Line %d, Character %d. Token '%s'" of its token.
  std::string GetErrorMsg() const;
  // The message with " Character %d. Token '%s'" (one-line texts).
  std::string GetErrorMsgNoLine() const;

  TParserStack* Stack() const { return Stack_; }
  TZelParserOptions Options() const { return Options_; }
  TParserToken* CurrToken() const { return CurrToken_; }
  const std::string& ErrorMsg() const { return ErrorMsg_; }
  TParserToken* ErrorToken() const { return ErrorToken_; }
  const std::string& ParsedText() const { return ParsedText_; }
  const TZelTokenSet& EndTokens() const { return EndTokens_; }
  bool IsSubquery() const { return IsSubquery_; }
  const TParserNotifyEvent& OnParserNotify() const { return OnParserNotify_; }

 protected:
  TParserStack* Stack_ = nullptr;
  TZelParserOptions Options_;
  TParserToken* CurrToken_ = nullptr;
  std::string ErrorMsg_;
  TParserToken* ErrorToken_ = nullptr;
  std::string ParsedText_;
  TZelTokenSet EndTokens_;
  bool IsSubquery_ = false;
  TParserNotifyEvent OnParserNotify_;
};

}  // namespace zel
