#include "engine/sql/zelExecParsers.h"

#include <algorithm>

#include "engine/expr/zelBaseParserOps.h"
#include "engine/expr/zelExprParser.h"
#include "engine/sql/zelSelectParser.h"
#include "engine/storage/zelConsts.h"
#include "engine/storage/zelDataFields.h"
#include "platform/db/Params.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

constexpr const char* kInsertTerminated = "Insert statement incorrectly terminated";
constexpr const char* kUpdateTerminated = "Update statement incorrectly terminated";
constexpr const char* kDeleteTerminated = "Delete statement incorrectly terminated";

// Literal type of a stored value: integers and strings are converted to the
// column's type, anything else is left as it is.
plat::TFieldType LiteralType(const plat::Variant& Value) {
  switch (Value.VarType()) {
    case plat::varSmallint: case plat::varInteger: case plat::varShortInt: case plat::varWord:
    case plat::varByte:
      return plat::ftInteger;
    case plat::varString: case plat::varOleStr:
      return plat::ftString;
    default:
      return plat::ftUnknown;
  }
}

void ConvertLiteral(TZelRowConstructorElement& Element, plat::TFieldType FieldType) {
  if (Element.HasExpr() || Element.Data().IsNull() || Element.HasParameter()) return;
  const plat::TFieldType type = LiteralType(Element.Data());
  if (type == plat::ftUnknown || type == FieldType) return;
  plat::Variant result;
  TZelDataConversionValidator::PerformDataConversionToType(type, FieldType, result, Element.Data());
  Element.SetData(result);
}

void BindNodes(TZelExprNode* Node, const plat::TParams& Params, TParamFinder& Finder, int32_t Depth) {
  if (Node == nullptr || Depth > 512) return;
  if (Node->Operator() == zeoPARAMETER || Node->OriginalOperator() == zeoPARAMETER) {
    // The name is read in place where the node holds it as text.
    const std::string* name = Node->OriginalData().StringRef();
    const plat::TParam* param = name != nullptr
                                    ? Finder.Find(Params, *name)
                                    : Finder.Find(Params, plat::VarToStr(Node->OriginalData()));
    Node->SetKind(enkConst);
    Node->SetOperator(zeoCONST2);
    Node->SetData(param->Value());
    Node->SetDataType(param->DataType());
  }
  BindNodes(Node->Left(), Params, Finder, Depth + 1);
  BindNodes(Node->Right(), Params, Finder, Depth + 1);
  for (TZelExprNode* arg : Node->Args()) BindNodes(arg, Params, Finder, Depth + 1);
}

}  // namespace

void TParamFinder::Start(const plat::TParams& Params) {
  const int32_t count = Params.Count();
  bool same = static_cast<size_t>(count) == List_.size();
  for (int32_t i = 0; same && i < count; ++i) {
    const plat::TParam* param = Params.Items(i);
    const auto& [seen, name] = List_[static_cast<size_t>(i)];
    same = param == seen && param->Name() == name;
  }
  if (same) return;
  Found_.clear();
  List_.clear();
  for (int32_t i = 0; i < count; ++i) List_.emplace_back(Params.Items(i), Params.Items(i)->Name());
}

plat::TParam* TParamFinder::Find(const plat::TParams& Params, std::string_view Name) {
  for (const auto& [name, param] : Found_)
    if (name == Name) return param;
  plat::TParam* param = Params.ParamByName(Name);
  Found_.emplace_back(std::string(Name), param);
  return param;
}

TZelRowConstructorElement::TZelRowConstructorElement() = default;
TZelRowConstructorElement::~TZelRowConstructorElement() = default;

TZelExpr* TZelRowConstructorElement::GetExpr() {
  if (Expr_ == nullptr) {
    Expr_ = std::make_unique<TZelExpr>();
    Evaluator_ = std::make_unique<TExprEvaluator>();
  }
  return Expr_.get();
}

plat::Variant TZelRowConstructorElement::GetRowData() {
  if (Evaluator_ != nullptr && Evaluator_->IsPrepared()) return Evaluator_->EvaluateValueExpr();
  return Data_;
}

void TZelRowConstructorElement::Prepare(TZelExprDataProvider* Provider) {
  if (!HasExpr()) return;
  Evaluator_->SetExcludeRelopNulls(false);
  Evaluator_->Prepare(Provider, Expr_->FirstNode());
}

void TZelRowConstructorElement::BindExprParams(const plat::TParams* Params, TParamFinder& Finder) {
  if (!HasParameter_ || Params == nullptr) return;
  if (HasExpr()) {
    for (TZelExprNode* node = Expr_->FirstNode(); node != nullptr; node = node->Next())
      BindNodes(node, *Params, Finder, 0);
    return;
  }
  // The value takes the name's place, so the name is kept for the next run.
  if (ParamName_.empty()) ParamName_ = plat::VarToStr(Data_);
  const plat::TParam* param = Finder.Find(*Params, ParamName_);
  Data_ = param->IsNull() ? plat::Null() : param->Value();
}

// ---------------------------------------------------------------------------

TZelExecParser::TZelExecParser() { SetEndTokens({zstEnd}); }

void TZelExecParser::CheckTerminated(const char* Message) {
  if (!HasParseError() && CurrToken_ != nullptr && !AtEndToken()) SetError(CurrToken_, Message);
}

void TZelExecParser::ParseValue(TZelRowConstructorElement& Element, const TZelTokenSet& Ends,
                                TTableList* Tables) {
  if (CurrToken_ == nullptr) {
    SetError(CurrToken_, SzelInvalidToken);
    return;
  }
  Element.SetHasParameter(CurrentTokenType() == zstParameter);
  const TZelSQLToken next = PeekAtTokenType(0);
  if (Ends.Contains(next) || next == zstEnd) {
    switch (CurrentTokenType()) {
      case zstNull: Element.SetData(plat::Null()); NextToken(); return;
      case zstTrue: Element.SetData(plat::Variant(true)); NextToken(); return;
      case zstFalse: Element.SetData(plat::Variant(false)); NextToken(); return;
      case zstNumber: {
        double value = 0;
        if (!plat::TryStrToFloat(CurrToken_->Text(), value)) break;
        Element.SetData(plat::Variant(value));
        NextToken();
        return;
      }
      case zstStringLiteral: Element.SetData(plat::Variant(CurrToken_->Text())); NextToken(); return;
      case zstCurrentDate: Element.SetData(plat::VarFromDateTime(plat::Date())); NextToken(); return;
      case zstCurrentTime: Element.SetData(plat::VarFromDateTime(plat::Time())); NextToken(); return;
      case zstCurrentTimestamp:
        Element.SetData(plat::VarFromDateTime(plat::Now()));
        NextToken();
        return;
      case zstParameter: Element.SetData(plat::Variant(CurrToken_->Text())); NextToken(); return;
      default: break;
    }
  }
  TZelExprParser parser;
  parser.SetValidEndTokens(Ends);
  parser.SetTableList(Tables);
  parser.SetValidateFields(Tables != nullptr);
  // Without tables a field is refused below, at its own token.
  parser.SetIgnoreTypeChecks(Tables == nullptr);
  parser.SyncCurrToken(*this);
  TZelExpr& expr = *Element.GetExpr();
  if (!parser.ExecuteExternalValueExpr(expr, TZelParserOptions{zpoExtSyntax, zpoParameters}, Stack_))
    SetError(parser.ErrorToken(), parser.ErrorMsg());
  CurrToken_ = parser.CurrToken();
  if (HasParseError()) return;
  for (TZelExprNode* node = expr.FirstNode(); node != nullptr; node = node->Next()) {
    if (node->Operator() == zeoPARAMETER) Element.SetHasParameter(true);
    if (Tables == nullptr && node->Kind() == enkField) {
      SetError(node->ParserToken(), SzelInvalidToken);
      return;
    }
  }
}

void TZelExecParser::HandOver(TZelExpr& Target) {
  TZelExprNode* marker = Target.NewNode(enkSubquery, zeoSUBQUERY, plat::Variant(CurrToken_->Text()),
                                        nullptr, nullptr, CurrToken_);
  Target.SetAsFirstNode(marker);
  if (!OnParserNotify_) return;
  plat::Variant value;
  OnParserNotify_(pntSubquery, this, Stack_, marker, value);
}

// ---------------------------------------------------------------------------

TZelInsertParser::TZelInsertParser()
    : Columns_(std::make_unique<plat::TStringList>()), SelectExpr_(std::make_unique<TZelExpr>()) {}

void TZelInsertParser::Clear() {
  TBaseParser::Clear();
  Columns_->Clear();
  TableName_.clear();
  Values_.Clear();
  ColumnsNotSpecified_ = false;
  SelectExpr_->Clear();
  HasSelectClause_ = false;
}

bool TZelInsertParser::Execute(TZelParserOptions Options, TParserStack* Stack) {
  TBaseParser::Execute(Options, Stack);
  if (CurrentTokenType() != zstInsert) {
    SetError(CurrToken_, SzelInsertStatmentSyntaxError);
    return false;
  }
  NextToken();
  if (CurrentTokenType() != zstInto) {
    SetError(CurrToken_, SzelInsertStatmentSyntaxError);
    return false;
  }
  NextToken();
  if (CurrToken_ == nullptr || CurrentTokenType() == zstEnd) {
    SetError(CurrToken_, kInsertTerminated);
    return false;
  }
  TableName_ = CurrToken_->Text();
  NextToken();
  ColumnsNotSpecified_ = CurrentTokenType() != zstLParen;
  if (!ColumnsNotSpecified_) {
    NextToken();
    while (!HasParseError() && CurrToken_ != nullptr && CurrentTokenType() != zstEnd &&
           CurrentTokenType() != zstRParen) {
      if (CurrentTokenType() == zstComma) {
        SetError(CurrToken_, SzelMissingColumnSpecifier);
        break;
      }
      Columns_->Add(CurrToken_->Text());
      NextToken();
      if (CurrentTokenType() == zstComma) NextToken();
    }
    if (!HasParseError() && CurrentTokenType() != zstRParen) SetError(CurrToken_, SzelRParenMissing);
    if (HasParseError()) return false;
    NextToken();
  }
  if (CurrentTokenType() == zstValues) {
    NextToken();
    if (CurrentTokenType() != zstLParen) {
      SetError(CurrToken_, SzelLParenMissing);
      return false;
    }
    NextToken();
    const TZelTokenSet ends{zstComma, zstRParen};
    for (;;) {
      if (CurrentTokenType() == zstComma) {
        SetError(CurrToken_, SzelMissingColumnSpecifier);
        break;
      }
      ParseValue(*Values_.Add(), ends, nullptr);
      if (HasParseError() || CurrentTokenType() != zstComma) break;
      NextToken();
    }
    if (!HasParseError() && CurrentTokenType() != zstRParen) SetError(CurrToken_, SzelRParenMissing);
    if (!HasParseError()) NextToken();
  } else if (CurrentTokenType() == zstSelect) {
    HasSelectClause_ = true;
    HandOver(*SelectExpr_);
  } else {
    SetError(CurrToken_, SzelInvalidToken);
  }
  CheckTerminated(kInsertTerminated);
  return !HasParseError();
}

void TZelInsertParser::CreateDefaultColumns(const TInternalFields& Fields) {
  Columns_->Clear();
  for (int32_t i = 0; i < Fields.Count(); ++i) Columns_->Add(Fields.GetIndex(i)->FieldName());
}

bool TZelInsertParser::CheckColumnCount(int32_t ValueCount) {
  if (!ColumnsNotSpecified_ && Columns_->Count() == 0) {
    SetError(nullptr, SzelNoInsertColumnsSpecified);
    return false;
  }
  // Without a column list the values fill the fields in order: fewer leave
  // the rest Null, more have no field to go to.
  if (ColumnsNotSpecified_ ? ValueCount > Columns_->Count() : ValueCount != Columns_->Count()) {
    SetError(nullptr, SzelInsertColumnsCountMismatch);
    return false;
  }
  return true;
}

bool TZelInsertParser::ValidateValueColumns(const TInternalFields& Fields) {
  if (ColumnsNotSpecified_) CreateDefaultColumns(Fields);
  if (!CheckColumnCount(Values_.Count())) return false;
  if (!ValidateColumnsPresent(Fields)) return false;
  ValidateAndSetDataTypes(Fields);
  return !HasParseError();
}

bool TZelInsertParser::ValidateColumnsPresent(const TInternalFields& Fields) {
  for (int32_t i = 0; i < Columns_->Count(); ++i)
    if (Fields.FindField(Columns_->Strings(i)) == nullptr) {
      SetError(nullptr, std::string(SzelFieldNotFound) + " : " + Columns_->Strings(i));
      return false;
    }
  return true;
}

void TZelInsertParser::ValidateAndSetDataTypes(const TInternalFields& Fields) {
  for (int32_t i = 0; i < Columns_->Count() && i < Values_.Count(); ++i)
    if (const TInternalFieldItem* field = Fields.FindField(Columns_->Strings(i)))
      ConvertLiteral(*Values_.GetItems(i), field->DataType());
}

bool TZelInsertParser::CheckDataConversionValid(plat::TFieldType FromType,
                                                plat::TFieldType ToType) {
  if (FromType == plat::ftUnknown || ToType == plat::ftUnknown) return false;
  return TZelDataConversionValidator::CheckDataConversionValid(FromType, ToType);
}

bool TZelInsertParser::ValidateSelectColumns(const TSelectFields& SelectFields,
                                             const TInternalFields& TableFields) {
  if (ColumnsNotSpecified_) CreateDefaultColumns(TableFields);
  if (!CheckColumnCount(SelectFields.Count())) return false;
  if (!ValidateColumnsPresent(TableFields)) return false;
  for (int32_t i = 0; i < SelectFields.Count(); ++i) {
    const plat::TFieldType from = SelectFields.GetItems(i)->DataType;
    const plat::TFieldType to = TableFields.FindField(Columns_->Strings(i))->DataType();
    if (!CheckDataConversionValid(from, to)) {
      SetError(nullptr, std::string(SzelTypeConversionErr) + " " +
                            std::string(plat::FieldTypeNames[from]) + " -> " +
                            std::string(plat::FieldTypeNames[to]));
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------

TZelDeleteParser::TZelDeleteParser() : WhereExpr_(std::make_unique<TZelExpr>()) {}

void TZelDeleteParser::Clear() {
  TBaseParser::Clear();
  TableName_.clear();
  WhereExpr_->Clear();
  HasWhereClause_ = false;
}

bool TZelDeleteParser::Execute(TZelParserOptions Options, TParserStack* Stack) {
  TBaseParser::Execute(Options, Stack);
  if (CurrentTokenType() == zstDelete) NextToken();
  else SetError(CurrToken_, SzelDeleteStatmentSyntaxError);
  if (!HasParseError() && CurrentTokenType() != zstFrom)
    SetError(CurrToken_, SzelDeleteStatmentSyntaxError);
  if (HasParseError()) return false;
  NextToken();
  if (CurrToken_ == nullptr || CurrentTokenType() == zstEnd) {
    SetError(CurrToken_, SzelMissingTableReference);
    return false;
  }
  TableName_ = CurrToken_->Text();
  if (Tables_ != nullptr) Tables_->Add()->SetTableName(TableName_);
  NextToken();
  if (CurrentTokenType() == zstWhere) {
    HasWhereClause_ = true;
    HandOver(*WhereExpr_);
  }
  CheckTerminated(kDeleteTerminated);
  return !HasParseError();
}

// ---------------------------------------------------------------------------

TZelUpdateParser::TZelUpdateParser() : WhereExpr_(std::make_unique<TZelExpr>()) {}

void TZelUpdateParser::Clear() {
  TBaseParser::Clear();
  HasWhereClause_ = false;
  TableName_.clear();
  SetList_.Clear();
  WhereExpr_->Clear();
  CorrelationName_.clear();
}

bool TZelUpdateParser::Execute(TZelParserOptions Options, TParserStack* Stack) {
  TBaseParser::Execute(Options, Stack);
  if (CurrentTokenType() != zstUpdate) {
    SetError(CurrToken_, SzelUpdateStatmentSyntaxError);
    return false;
  }
  NextToken();
  if (CurrToken_ == nullptr || CurrentTokenType() == zstEnd || CurrentTokenType() == zstSet) {
    SetError(CurrToken_, SzelMissingTableReference);
    return false;
  }
  TableName_ = CurrToken_->Text();
  TTableNameItem* item = nullptr;
  if (Tables_ != nullptr) {
    item = Tables_->Add();
    item->SetTableName(TableName_);
  }
  NextToken();
  if (CurrentTokenType() == zstAS) NextToken();
  if (CurrToken_ != nullptr &&
      (CurrentTokenType() == zstFieldName || CurrentTokenType() == zstStringLiteral)) {
    CorrelationName_ = CurrToken_->Text();
    if (item != nullptr) item->SetCorrelationName(CorrelationName_);
    NextToken();
  }
  if (OnTableListValidate_ && Tables_ != nullptr && !OnTableListValidate_(*Tables_)) {
    SetError(CurrToken_, SzelTableOrFieldNotFound);
    return false;
  }
  if (CurrentTokenType() != zstSet) {
    SetError(CurrToken_, SzelUpdateStatmentSyntaxError);
    return false;
  }
  NextToken();
  const TZelTokenSet ends{zstWhere, zstComma};
  for (;;) {
    if (CurrentTokenType() == zstTableName) {
      const std::string qualifier = CurrToken_->Text();
      if (!plat::AnsiSameText(qualifier, TableName_) &&
          !plat::AnsiSameText(qualifier, CorrelationName_)) {
        SetError(CurrToken_, SzelTableOrFieldNotFound);
        break;
      }
      NextToken();
    }
    if (CurrentTokenType() != zstFieldName) {
      SetError(CurrToken_, SzelUpdateMissingColumnReference);
      break;
    }
    TZelUpdateRowConstructorElement* element = SetList_.Add();
    element->SetTargetColumnName(CurrToken_->Text());
    NextToken();
    if (CurrentTokenType() != zstCompOperator || CurrToken_->Text() != "=") {
      SetError(CurrToken_, SzelMissingAssignmentToken);
      break;
    }
    NextToken();
    if (CurrentTokenType() == zstComma) {
      SetError(CurrToken_, SzelMissingColumnSpecifier);
      break;
    }
    // The target's own columns may be used in the new values.
    ParseValue(*element, ends, Tables_);
    if (HasParseError() || CurrentTokenType() != zstComma) break;
    NextToken();
  }
  if (!HasParseError() && CurrentTokenType() == zstWhere) {
    HasWhereClause_ = true;
    HandOver(*WhereExpr_);
  }
  CheckTerminated(kUpdateTerminated);
  return !HasParseError();
}

bool TZelUpdateParser::ValidateValueColumns(const TInternalFields& Fields) {
  for (int32_t i = 0; i < SetList_.Count(); ++i)
    if (Fields.FindField(SetList_.GetItems(i)->TargetColumnName()) == nullptr) {
      SetError(nullptr, std::string(SzelFieldNotFound) + " : " +
                            SetList_.GetItems(i)->TargetColumnName());
      return false;
    }
  return true;
}

void TZelUpdateParser::ValidateAndSetDataTypes(const TInternalFields& Fields) {
  for (int32_t i = 0; i < SetList_.Count(); ++i)
    if (const TInternalFieldItem* field = Fields.FindField(SetList_.GetItems(i)->TargetColumnName()))
      ConvertLiteral(*SetList_.GetItems(i), field->DataType());
}

}  // namespace zel
