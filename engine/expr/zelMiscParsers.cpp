#include "engine/expr/zelMiscParsers.h"

#include "engine/storage/zelConsts.h"
#include "platform/rtl/Strings.h"

namespace zel {

bool ZelTokenToCount(const TParserToken* Token, int32_t& Value) {
  if (Token == nullptr || Token->Token() != zstNumber) return false;
  const std::string& text = Token->Text();
  if (text.empty() || text.size() > 10) return false;
  int64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  if (result > INT32_MAX) return false;
  Value = static_cast<int32_t>(result);
  return true;
}

// ---------------------------------------------------------------------------
// Collections

TOrderByItems::TOrderByItems() : plat::TCollection(plat::CollectionItemClass<TOrderByItem>()) {}

TOrderByItem* TOrderByItems::AddOrderByItem(int32_t FieldIndex, const std::string& SortKey,
                                            bool Descending) {
  TOrderByItem* item = Add();
  item->SetFieldIndex(FieldIndex);
  item->SetSortKey(SortKey);
  item->SetDescending(Descending);
  return item;
}

TGroupByItems::TGroupByItems() : plat::TCollection(plat::CollectionItemClass<TGroupByItem>()) {}

// ---------------------------------------------------------------------------
// ORDER BY

TZelOrderByParser::TZelOrderByParser() {
  SetEndTokens({zstEnd, zstFrom});
}

bool TZelOrderByParser::AtItemEnd() const {
  if (CurrToken_ == nullptr) return true;
  const TZelSQLToken kind = CurrentTokenType();
  return kind == zstAscending || kind == zstDescending || kind == zstComma ||
         EndTokens_.Contains(kind);
}

bool TZelOrderByParser::ExecuteOrderBy(TOrderByItems& Items, TParserStack* Stack) {
  Items.Clear();
  TBaseParser::Execute(Options_, Stack);
  while (CurrToken_ != nullptr && !EndTokens_.Contains(CurrentTokenType()) && !HasParseError()) {
    int32_t fieldIndex = 0;
    std::string sortKey;
    if (CurrentTokenType() == zstNumber) {
      if (!ZelTokenToCount(CurrToken_, fieldIndex) || fieldIndex == 0) {
        // A column number is a whole number counted from 1.
        SetError(CurrToken_, SzelOrderByTerminateErr);
        break;
      }
      NextToken();
    } else {
      const TParserToken* first = CurrToken_;
      NextToken();
      if (AtItemEnd()) {
        sortKey = first->Text();
      } else {
        sortKey = first->RawTokenText();
        while (!AtItemEnd()) {
          sortKey += CurrToken_->RawTokenText();
          NextToken();
        }
        sortKey = plat::Trim(sortKey);
      }
    }
    const bool descending = CurrentTokenType() == zstDescending;
    if (CurrentTokenType() == zstAscending || descending) NextToken();
    Items.AddOrderByItem(fieldIndex, sortKey, descending);
    if (CurrentTokenType() != zstComma) break;
    NextToken();
    // A comma must be followed by another item.
    if (CurrToken_ == nullptr || EndTokens_.Contains(CurrentTokenType()))
      SetError(CurrToken_, SzelOrderByTerminateErr);
  }
  if (CurrToken_ != nullptr && CurrentTokenType() != zstFrom && CurrentTokenType() != zstEnd)
    SetError(CurrToken_, SzelOrderByTerminateErr);
  return !HasParseError();
}

// ---------------------------------------------------------------------------
// GROUP BY

bool TZelGroupByParser::ExecuteGroupBy(TGroupByItems& Items, TParserStack* Stack) {
  Items.Clear();
  TBaseParser::Execute(Options_, Stack);
  // The last token of a stack counts as its end for AtEndToken, so the
  // current token itself is tested.
  const auto atEnd = [this] {
    const TZelSQLToken kind = CurrentTokenType();
    return CurrToken_ == nullptr || kind == zstEnd || EndTokens_.Contains(kind) ||
           (IsSubquery_ && kind == zstRParen);
  };
  while (!atEnd() && !HasParseError()) {
    TGroupByItem* item = Items.Add();
    if (CurrentTokenType() == zstTableName) {
      item->SetTableName(CurrToken_->Text());
      NextToken();
    }
    if (CurrentTokenType() == zstFieldName) {
      item->SetFieldName(CurrToken_->Text());
      NextToken();
    }
    if (item->FieldName().empty()) {
      SetError(CurrToken_, SzelColumnNameMissingErr);
      break;
    }
    // Columns are separated by one comma; anything else ends the clause.
    if (CurrentTokenType() != zstComma) break;
    NextToken();
    if (CurrentTokenType() == zstComma)
      SetError(CurrToken_, SzelColumnNameErr);
    else if (atEnd())
      SetError(CurrToken_, SzelColumnNameMissingErr);
  }
  if (!atEnd() && !HasParseError()) SetError(CurrToken_, SzelGroupByTerminateErr);
  return !HasParseError();
}

// ---------------------------------------------------------------------------
// Data types

bool TZelDataTypeParser::Execute(TZelParserOptions Options, TParserStack* Stack) {
  (void)Options;
  InvalidDataTypes_ = TZelTokenSet{zstAutoInc};
  if (Stack == nullptr) return false;
  TZelParserOptions options;
  options.Include(zpoExtSyntax);
  TBaseParser::Execute(options, Stack);
  ParseDataType(*this);
  return !HasParseError();
}

void TZelDataTypeParser::ParseDataType(TBaseParser& Parser) {
  Scale_ = -1;
  FieldSize_ = 0;
  NotNull_ = false;
  const TZelSQLToken kind = Parser.CurrentTokenType();
  switch (kind) {
    case zstChar:
    case zstVarChar:
      DataType_ = plat::ftString;
      break;
    case zstInt:
      DataType_ = plat::ftInteger;
      break;
    case zstSmallInt:
      DataType_ = plat::ftSmallint;
      break;
    case zstDate:
      DataType_ = plat::ftDate;
      break;
    case zstTime:
      DataType_ = plat::ftTime;
      break;
    case zstTimeStamp:
      DataType_ = plat::ftDateTime;
      break;
    case zstDecimal:
    case zstNumeric:
      DataType_ = plat::ftFloat;
      break;
    case zstBoolean:
      DataType_ = plat::ftBoolean;
      break;
    case zstMoney:
      DataType_ = plat::ftCurrency;
      break;
    case zstBlob:
      DataType_ = plat::ftBlob;
      break;
    case zstAutoInc:
      DataType_ = plat::ftAutoInc;
      break;
    default:
      Parser.SetError(Parser.CurrToken(), SzelDataTypeUnknown);
      return;
  }
  if (InvalidDataTypes_.Contains(kind)) {
    Parser.SetError(Parser.CurrToken(), SzelDataTypeInvalid);
    return;
  }
  Scale_ = 0;
  FieldSize_ = DataType_ == plat::ftString ? 1 : 0;
  Parser.NextToken();

  const bool sized = DataType_ == plat::ftString || DataType_ == plat::ftFloat ||
                     DataType_ == plat::ftTime || DataType_ == plat::ftBlob;
  if (sized && Parser.CurrentTokenType() == zstLParen) {
    Parser.NextToken();
    int32_t size = 0;
    if (!ZelTokenToCount(Parser.CurrToken(), size)) {
      Parser.SetError(Parser.CurrToken(), SzelDataTypeSpecErr);
      return;
    }
    FieldSize_ = size;
    Parser.NextToken();
    if ((DataType_ == plat::ftFloat || DataType_ == plat::ftBlob) &&
        Parser.CurrentTokenType() == zstComma) {
      Parser.NextToken();
      int32_t scale = 0;
      if (!ZelTokenToCount(Parser.CurrToken(), scale)) {
        Parser.SetError(Parser.CurrToken(), SzelDataypeScaleErr);
        return;
      }
      Scale_ = scale;
      Parser.NextToken();
      if (DataType_ == plat::ftBlob) {
        if (scale == 1)
          DataType_ = plat::ftMemo;
        else if (scale == 3)
          DataType_ = plat::ftFmtMemo;
        else if (scale == 5)
          DataType_ = plat::ftGraphic;
      }
    }
    if (Parser.CurrentTokenType() != zstRParen) {
      Parser.SetError(Parser.CurrToken(), SzelRParenMissing);
      return;
    }
    Parser.NextToken();
  }
  if (AllowConstraints_ && Parser.CurrentTokenType() == zstNot) {
    Parser.NextToken();
    if (Parser.CurrentTokenType() != zstNull) {
      Parser.SetError(Parser.CurrToken(), SzelInvalidToken);
      return;
    }
    NotNull_ = true;
    Parser.NextToken();
  }
}

}  // namespace zel
