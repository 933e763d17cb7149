// Tokens, token stacks and the parser base.

#include <string>

#include "engine/expr/zelBaseParser.h"
#include "platform/rtl/Strings.h"

namespace zel {

void TParserToken::AssignToken(const TParserToken* source) {
  if (source == nullptr || source == this) return;
  LineOffset_ = source->LineOffset_;
  LineNo_ = source->LineNo_;
  Token_ = source->Token_;
  Section_ = source->Section_;
  Text_ = source->Text_;
  CustomOrdinal_ = source->CustomOrdinal_;
  RawTokenText_ = source->RawTokenText_;
}

TParserToken* TParserStack::Push(TParserToken* token) {
  List_.push_back(token);
  return token;
}

void TParserStack::Queue(TParserToken* token) {
  List_.push_front(token);
}

TParserToken* TParserStack::Pop() {
  if (List_.empty()) return nullptr;
  TParserToken* token = List_.back();
  List_.pop_back();
  return token;
}

TParserToken* TParserStack::Peek() const {
  return List_.empty() ? nullptr : List_.back();
}

TParserToken* TParserStack::PeekAt(int32_t n) const {
  if (n < 0 || n >= Count()) return nullptr;
  return List_[List_.size() - 1 - static_cast<std::size_t>(n)];
}

TParserToken* TParserStack::Item(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return List_[static_cast<std::size_t>(index)];
}

void TParserStack::SetCountTo(int32_t n) {
  if (n < 0) n = 0;
  while (Count() > n) List_.pop_back();
}

void TParserStack::CopyStack(const TParserStack& source, TParserTokenList& ownerList) {
  if (&source == this) return;  // a copy of itself would be emptied first
  Clear();
  for (TParserToken* token : source.List_) {
    ownerList.push_back(std::make_unique<TParserToken>());
    TParserToken* copy = ownerList.back().get();
    copy->AssignToken(token);
    List_.push_back(copy);
  }
}

TBaseParser::TBaseParser() : EndTokens_{zstEnd} {}

void TBaseParser::Clear() {
  Stack_ = nullptr;
  Options_ = TZelParserOptions();
  CurrToken_ = nullptr;
  ErrorMsg_.clear();
  ErrorToken_ = nullptr;
  ParsedText_.clear();
}

bool TBaseParser::Execute(TZelParserOptions options, TParserStack* stack) {
  Options_ = options;
  Stack_ = stack;
  if (CurrToken_ == nullptr) NextToken();
  return !HasParseError();
}

void TBaseParser::NextToken() {
  if (Stack_ != nullptr && Stack_->Count() > 0) {
    CurrToken_ = Stack_->Pop();
    ParsedText_ += CurrToken_->RawTokenText();
  } else {
    CurrToken_ = nullptr;
  }
}

void TBaseParser::SyncCurrToken(const TBaseParser& other) {
  CurrToken_ = other.CurrToken_;
  if (CurrToken_ != nullptr) {
    ParsedText_ += ' ';
    ParsedText_ += CurrToken_->Text();
  }
}

void TBaseParser::RemoveCurrentTokenFromParsedText() {
  if (CurrToken_ == nullptr || ParsedText_.empty()) return;
  const std::size_t cut = CurrToken_->RawTokenText().size();
  ParsedText_.resize(cut < ParsedText_.size() ? ParsedText_.size() - cut : 0);
}

TZelSQLToken TBaseParser::CurrentTokenType() const {
  return CurrToken_ != nullptr ? CurrToken_->Token() : zstUnknown;
}

TZelSQLToken TBaseParser::PeekAtTokenType(int32_t n) const {
  const TParserToken* token = Stack_ != nullptr ? Stack_->PeekAt(n) : nullptr;
  return token != nullptr ? token->Token() : zstUnknown;
}

bool TBaseParser::NextTokenIsLParen() const {
  const TParserToken* top = Stack_ != nullptr ? Stack_->Peek() : nullptr;
  return top != nullptr && top->Token() == zstLParen;
}

std::string TBaseParser::TokenName() const {
  return CurrToken_ != nullptr ? CurrToken_->Text() : std::string();
}

bool TBaseParser::TokenSymbolIs(const std::string& s) const {
  return CurrToken_ != nullptr && plat::AnsiSameText(CurrToken_->Text(), s);
}

bool TBaseParser::AtEndToken() const {
  if (Stack_ == nullptr || Stack_->Count() == 0) return true;
  const TZelSQLToken kind = CurrentTokenType();
  return EndTokens_.Contains(kind) || kind == zstUnknown || kind == zstEnd ||
         (IsSubquery_ && kind == zstRParen);
}

void TBaseParser::SetError(TParserToken* token, const std::string& message) {
  if (HasParseError()) return;  // the first error of a parse is the one reported
  ErrorMsg_ = message;
  ErrorToken_ = token;
}

void TBaseParser::ClearError() {
  ErrorMsg_.clear();
  ErrorToken_ = nullptr;
}

std::string TBaseParser::GetErrorMsg() const {
  if (ErrorToken_ == nullptr) return ErrorMsg_;
  return ErrorMsg_ + " Line " + std::to_string(ErrorToken_->LineNo()) + ", Character " +
         std::to_string(ErrorToken_->LineOffset()) + ". Token '" + ErrorToken_->Text() + "'";
}

std::string TBaseParser::GetErrorMsgNoLine() const {
  if (ErrorToken_ == nullptr) return ErrorMsg_;
  return ErrorMsg_ + " Character " + std::to_string(ErrorToken_->LineOffset()) + ". Token '" +
         ErrorToken_->Text() + "'";
}

}  // namespace zel
