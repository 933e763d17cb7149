// Tokens, token stacks and the parser base.

#include <string>

#include "engine/expr/zelBaseParser.h"
#include "platform/rtl/Strings.h"

namespace zel {

void TParserToken::AssignToken(const TParserToken* source) {
  if (source == nullptr || source == this) return;
  lineOffset_ = source->lineOffset_;
  lineNo_ = source->lineNo_;
  token_ = source->token_;
  section_ = source->section_;
  text_ = source->text_;
  customOrdinal_ = source->customOrdinal_;
  rawTokenText_ = source->rawTokenText_;
}

TParserToken* TParserStack::Push(TParserToken* token) {
  list_.push_back(token);
  return token;
}

void TParserStack::Queue(TParserToken* token) {
  list_.push_front(token);
}

TParserToken* TParserStack::Pop() {
  if (list_.empty()) return nullptr;
  TParserToken* token = list_.back();
  list_.pop_back();
  return token;
}

TParserToken* TParserStack::Peek() const {
  return list_.empty() ? nullptr : list_.back();
}

TParserToken* TParserStack::PeekAt(int32_t n) const {
  if (n < 0 || n >= Count()) return nullptr;
  return list_[list_.size() - 1 - static_cast<std::size_t>(n)];
}

TParserToken* TParserStack::Item(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return list_[static_cast<std::size_t>(index)];
}

void TParserStack::SetCountTo(int32_t n) {
  if (n < 0) n = 0;
  while (Count() > n) list_.pop_back();
}

void TParserStack::CopyStack(const TParserStack& source, TParserTokenList& ownerList) {
  if (&source == this) return;  // a copy of itself would be emptied first
  Clear();
  for (TParserToken* token : source.list_) {
    ownerList.push_back(std::make_unique<TParserToken>());
    TParserToken* copy = ownerList.back().get();
    copy->AssignToken(token);
    list_.push_back(copy);
  }
}

TBaseParser::TBaseParser() : endTokens_{zstEnd} {}

void TBaseParser::Clear() {
  stack_ = nullptr;
  options_ = TZelParserOptions();
  currToken_ = nullptr;
  errorMsg_.clear();
  errorToken_ = nullptr;
  parsedText_.clear();
}

bool TBaseParser::Execute(TZelParserOptions options, TParserStack* stack) {
  options_ = options;
  stack_ = stack;
  if (currToken_ == nullptr) NextToken();
  return !HasParseError();
}

void TBaseParser::NextToken() {
  if (stack_ != nullptr && stack_->Count() > 0) {
    currToken_ = stack_->Pop();
    parsedText_ += currToken_->RawTokenText();
  } else {
    currToken_ = nullptr;
  }
}

void TBaseParser::SyncCurrToken(const TBaseParser& other) {
  currToken_ = other.currToken_;
  if (currToken_ != nullptr) {
    parsedText_ += ' ';
    parsedText_ += currToken_->Text();
  }
}

void TBaseParser::RemoveCurrentTokenFromParsedText() {
  if (currToken_ == nullptr || parsedText_.empty()) return;
  const std::size_t cut = currToken_->RawTokenText().size();
  parsedText_.resize(cut < parsedText_.size() ? parsedText_.size() - cut : 0);
}

TZelSQLToken TBaseParser::CurrentTokenType() const {
  return currToken_ != nullptr ? currToken_->Token() : zstUnknown;
}

TZelSQLToken TBaseParser::PeekAtTokenType(int32_t n) const {
  const TParserToken* token = stack_ != nullptr ? stack_->PeekAt(n) : nullptr;
  return token != nullptr ? token->Token() : zstUnknown;
}

bool TBaseParser::NextTokenIsLParen() const {
  const TParserToken* top = stack_ != nullptr ? stack_->Peek() : nullptr;
  return top != nullptr && top->Token() == zstLParen;
}

std::string TBaseParser::TokenName() const {
  return currToken_ != nullptr ? currToken_->Text() : std::string();
}

bool TBaseParser::TokenSymbolIs(const std::string& s) const {
  return currToken_ != nullptr && plat::AnsiSameText(currToken_->Text(), s);
}

bool TBaseParser::AtEndToken() const {
  if (stack_ == nullptr || stack_->Count() == 0) return true;
  const TZelSQLToken kind = CurrentTokenType();
  return endTokens_.Contains(kind) || kind == zstUnknown || kind == zstEnd ||
         (isSubquery_ && kind == zstRParen);
}

void TBaseParser::SetError(TParserToken* token, const std::string& message) {
  if (HasParseError()) return;  // the first error of a parse is the one reported
  errorMsg_ = message;
  errorToken_ = token;
}

void TBaseParser::ClearError() {
  errorMsg_.clear();
  errorToken_ = nullptr;
}

std::string TBaseParser::GetErrorMsg() const {
  if (errorToken_ == nullptr) return errorMsg_;
  return errorMsg_ + " Line " + std::to_string(errorToken_->LineNo()) + ", Character " +
         std::to_string(errorToken_->LineOffset()) + ". Token '" + errorToken_->Text() + "'";
}

std::string TBaseParser::GetErrorMsgNoLine() const {
  if (errorToken_ == nullptr) return errorMsg_;
  return errorMsg_ + " Character " + std::to_string(errorToken_->LineOffset()) + ". Token '" +
         errorToken_->Text() + "'";
}

}  // namespace zel
