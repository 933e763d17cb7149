// Word mappers and the pre-parser.

#include "engine/expr/zelParserUtils.h"

#include <algorithm>
#include <iterator>
#include <unordered_set>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

struct WordOrdinal {
  const char* word;
  int32_t ordinal;
};

// The table's words are upper-case ASCII: an ASCII word matches one exactly
// when its upper-case form is equal; other words take the locale-aware
// comparison.
int32_t LookUp(const std::string& word, std::initializer_list<WordOrdinal> table) {
  bool ascii = true;
  for (const char c : word)
    if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
  const std::string upper = ascii ? plat::UpperCase(word) : std::string();
  for (const WordOrdinal& entry : table)
    if (ascii ? upper == entry.word : plat::AnsiSameText(word, entry.word)) return entry.ordinal;
  return 0;
}

}  // namespace

int32_t TBaseMapper::IsMemberToken(const std::string& word, const std::string& nextWord) {
  TokenCount_ = 1;
  return GetCustomOrdinal(word, nextWord) != 0 ? TokenCount_ : 0;
}

int32_t TAggFuncMapper::GetCustomOrdinal(const std::string& word, const std::string&) {
  return LookUp(
      word,
      {{"COUNT", zafCount}, {"AVG", zafAvg}, {"SUM", zafSum}, {"MAX", zafMax}, {"MIN", zafMin}});
}

int32_t TStrFuncMapper::GetCustomOrdinal(const std::string& word, const std::string&) {
  return LookUp(
      word,
      {{"UPPER", zsfUpper}, {"LOWER", zsfLower}, {"SUBSTRING", zsfSubstring}, {"TRIM", zsfTrim}});
}

int32_t TDataTypeMapper::IsMemberToken(const std::string& word, const std::string& nextWord) {
  TokenCount_ = 1;
  if (plat::AnsiSameText(word, "DOUBLE") && plat::AnsiSameText(nextWord, "PRECISION")) {
    TokenCount_ = 2;
    return TokenCount_;
  }
  return GetCustomOrdinal(word, nextWord) != plat::ftUnknown ? TokenCount_ : 0;
}

int32_t TDataTypeMapper::GetCustomOrdinal(const std::string& word, const std::string& nextWord) {
  if (plat::AnsiSameText(word, "DOUBLE"))
    return plat::AnsiSameText(nextWord, "PRECISION") ? plat::ftFloat : plat::ftUnknown;
  return LookUp(word, {{"CHARACTER", plat::ftString},
                       {"CHAR", plat::ftString},
                       {"VARCHAR", plat::ftString},
                       {"NUMERIC", plat::ftFloat},
                       {"DECIMAL", plat::ftFloat},
                       {"DEC", plat::ftFloat},
                       {"FLOAT", plat::ftFloat},
                       {"REAL", plat::ftFloat},
                       {"INTEGER", plat::ftInteger},
                       {"INT", plat::ftInteger},
                       {"SMALLINT", plat::ftSmallint},
                       {"DOUBLE PRECISION", plat::ftFloat},
                       {"DATE", plat::ftDate},
                       {"TIME", plat::ftTime},
                       {"TIMESTAMP", plat::ftDateTime}});
}

// ---------------------------------------------------------------------------

TZelPreParser::~TZelPreParser() {
  Clear();
  FreeOwnedTokens();
}

void TZelPreParser::SetText(const std::string& s) {
  Clear();
  Text_ = s;
}

void TZelPreParser::Clear() {
  Stacks_.clear();
}

void TZelPreParser::FreeOwnedTokens() {
  FreeOldestTokens(static_cast<int32_t>(OwnedTokens_.size()));
}

void TZelPreParser::FreeOldestTokens(int32_t Count) {
  const auto n = std::min(static_cast<std::size_t>(std::max(Count, 0)), OwnedTokens_.size());
  const auto end = OwnedTokens_.begin() + static_cast<std::ptrdiff_t>(n);
  SpareTokens_.insert(SpareTokens_.end(), std::make_move_iterator(OwnedTokens_.begin()),
                      std::make_move_iterator(end));
  OwnedTokens_.erase(OwnedTokens_.begin(), end);
}

TParserStack* TZelPreParser::Stack(int32_t index) const {
  if (index < 0 || index >= GetSectionCount()) return nullptr;
  return Stacks_[static_cast<std::size_t>(index)].get();
}

TParserToken* TZelPreParser::MakeToken(const TZelTokenParser& scanner, TZelSQLToken kind,
                                       TZelSQLToken section, const std::string& text) {
  if (SpareTokens_.empty()) {
    OwnedTokens_.push_back(std::make_unique<TParserToken>());
  } else {
    OwnedTokens_.push_back(std::move(SpareTokens_.back()));
    SpareTokens_.pop_back();
  }
  TParserToken* token = OwnedTokens_.back().get();
  token->SetCustomOrdinal(0);
  token->SetToken(kind);
  token->SetSection(section);
  token->SetText(text);
  token->SetLineNo(scanner.TokenStartLine());
  token->SetLineOffset(scanner.TokenStartPos());
  token->SetRawTokenText(scanner.RawText());
  return token;
}

void TZelPreParser::SetTypeFromFirstToken(TZelSQLToken kind) {
  switch (kind) {
    case zstSelect:
      SqlStatementType_ = zsSQLSelect;
      break;
    case zstInsert:
      SqlStatementType_ = zsSQLInsert;
      break;
    case zstDelete:
      SqlStatementType_ = zsSQLDelete;
      break;
    case zstUpdate:
      SqlStatementType_ = zsSQLUpdate;
      break;
    case zstCreate:
    case zstDrop:
    case zstAlter:
      SqlStatementType_ = zsSchemaManipulation;
      break;
    default:
      SqlStatementType_ = zsSQLUnknown;
      break;
  }
}

void TZelPreParser::PreParseTokens() {
  const std::size_t firstNew = OwnedTokens_.size();
  if (ParseSingleStack_)
    SingleStackPass();
  else
    SectionedPass();
  if (ParseAsExprOnly_) SqlStatementType_ = zsSQLExprOnly;

  // Give aggregate, data-type and string-function tokens their ordinals.
  TAggFuncMapper aggMapper;
  TDataTypeMapper typeMapper;
  TStrFuncMapper strMapper;
  for (std::size_t i = firstNew; i < OwnedTokens_.size(); ++i) {
    TParserToken& token = *OwnedTokens_[i];
    switch (token.Token()) {
      case zstAggFunc:
        token.SetCustomOrdinal(aggMapper.GetCustomOrdinal(token.Text(), ""));
        break;
      case zstDataType:
        token.SetCustomOrdinal(typeMapper.GetCustomOrdinal(token.Text(), ""));
        break;
      case zstStrFunc:
        token.SetCustomOrdinal(strMapper.GetCustomOrdinal(token.Text(), ""));
        break;
      default:
        break;
    }
  }
}

void TZelPreParser::SingleStackPass() {
  TZelTokenParser scanner;
  scanner.SetTokenString(Text_);
  Stacks_.push_back(std::make_unique<TParserStack>());
  TParserStack& stack = *Stacks_.back();
  stack.SetSection(zstUnknown);
  SqlStatementType_ = zsSQLUnknown;
  bool first = true;
  std::string text;
  for (;;) {
    const TZelSQLToken kind = scanner.GetNextToken(text);
    if (CheckIncludeToken(kind)) {
      if (first) SetTypeFromFirstToken(kind);
      first = false;
      stack.Queue(MakeToken(scanner, kind, zstSelect, text));
    }
    if (kind == zstEnd && text.empty()) break;
  }
  UnparsedText_ = scanner.GetUnparsedText();
}

void TZelPreParser::SectionedPass() {
  TZelTokenParser scanner;
  scanner.SetTokenString(Text_);
  SqlStatementType_ = zsSQLUnknown;
  TParserStack* current = nullptr;
  if (ParseAsExprOnly_) {
    Stacks_.push_back(std::make_unique<TParserStack>());
    current = Stacks_.back().get();
    current->SetSection(zstWhere);
  }
  bool first = true;
  std::string text;
  for (;;) {
    const TZelSQLToken kind = scanner.GetNextToken(text);
    const bool last = kind == zstEnd && text.empty();
    if (ParseAsExprOnly_) {
      current->Queue(MakeToken(scanner, kind, zstWhere, text));
    } else if (CheckIncludeToken(kind)) {
      if (first) SetTypeFromFirstToken(kind);
      first = false;
      const bool fromInWhere =
          kind == zstFrom && current != nullptr && current->Section() == zstWhere;
      if (IsClauseToken(kind) && !fromInWhere) {
        Stacks_.push_back(std::make_unique<TParserStack>());
        current = Stacks_.back().get();
        current->SetSection(kind);
      } else if (current != nullptr) {
        current->Queue(MakeToken(scanner, kind, current->Section(), text));
      }
    }
    if (last) break;
  }
  UnparsedText_ = scanner.GetUnparsedText();
}

TParserStack* TZelPreParser::GetSection(TZelSQLToken kind, const TParserToken* token) {
  PLAT_ASSERT(IsClauseToken(kind), "Invalid section request in GetSection");
  if (ParseSingleStack_ && Stacks_.size() == 1) {
    TParserStack* stack = Stacks_.front().get();
    const bool tokenIsKind = token != nullptr && token->Token() == kind;
    if (stack->Count() > 0 && stack->Peek()->Token() != kind && !tokenIsKind) {
      // Skip to just after the clause keyword.
      while (stack->Count() > 0)
        if (stack->Pop()->Token() == kind) break;
    }
    return stack;
  }
  for (auto it = Stacks_.rbegin(); it != Stacks_.rend(); ++it)
    if ((*it)->Section() == kind) return it->get();
  return nullptr;
}

TParserStack* TZelPreParser::GetSingleStack() const {
  PLAT_ASSERT(ParseSingleStack_, "Cannot get single stack - not parsed as single stack");
  return Stacks_.empty() ? nullptr : Stacks_.front().get();
}

int32_t TZelPreParser::GetSingleStackCount() const {
  if (!ParseSingleStack_ || Stacks_.size() != 1) return 0;
  return Stacks_.front()->Count();
}

void TZelPreParser::SetSingleStackCountTo(int32_t n) {
  if (ParseSingleStack_ && Stacks_.size() == 1) Stacks_.front()->SetCountTo(n);
}

void TZelPreParser::AssignStacks(const TZelPreParser& other) {
  if (&other == this) return;  // clearing first would lose the source
  Clear();
  for (const auto& source : other.Stacks_) {
    Stacks_.push_back(std::make_unique<TParserStack>());
    Stacks_.back()->CopyStack(*source, OwnedTokens_);
    Stacks_.back()->SetSection(source->Section());
  }
}

void TZelPreParser::TrimStacks(const TZelPreParser& other) {
  PLAT_ASSERT(Stacks_.size() == other.Stacks_.size(), "Stack list counts do not match");
  for (std::size_t i = 0; i < Stacks_.size(); ++i)
    Stacks_[i]->SetCountTo(other.Stacks_[i]->Count());
}

bool TZelPreParser::CheckParseComplete() const {
  if (!UnparsedText_.empty()) return false;
  for (const auto& stack : Stacks_) {
    for (int32_t i = 0; i < stack->Count(); ++i) {
      const TParserToken* token = stack->Item(i);
      const bool harmless =
          token->Token() == zstComment || (token->Token() == zstEnd && token->Text().empty());
      if (!harmless) return false;
    }
  }
  return true;
}

void TZelPreParser::GetParamList(plat::TStrings& list) const {
  // Names compare case-insensitively; a name is known when its upper-case
  // form is (equal upper-case forms compare equal ignoring case).
  std::unordered_set<std::string> known;
  for (int32_t i = 0; i < list.Count(); ++i) known.insert(plat::AnsiUpperCase(list.Strings(i)));
  for (const auto& stack : Stacks_) {
    // From the top down, which is reading order.
    for (int32_t n = 0; n + 1 < stack->Count(); ++n) {
      const TParserToken* token = stack->PeekAt(n);
      if (token->Token() != zstParameter) continue;
      const TParserToken* name = stack->PeekAt(n + 1);
      // A parameter sign before the end of the statement names nothing.
      if (name->Token() == zstEnd || name->Text().empty()) continue;
      if (known.insert(plat::AnsiUpperCase(name->Text())).second) list.Add(name->Text());
    }
  }
}

}  // namespace zel
