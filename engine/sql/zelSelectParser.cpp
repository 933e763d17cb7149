#include "engine/sql/zelSelectParser.h"

#include "engine/expr/zelBaseParserOps.h"
#include "engine/expr/zelExprParser.h"
#include "engine/expr/zelMiscParsers.h"
#include "engine/storage/zelConsts.h"
#include "engine/storage/zelDataFields.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"
#include "platform/rtl/Variants.h"

namespace zel {

namespace {

constexpr const char* kSelectTerminated = "Select clause incorrectly terminated";
constexpr int32_t kDistinctColumnLimit = 32;

bool IsDistinctInvalidType(plat::TFieldType Type) {
  return Type == plat::ftBytes || Type == plat::ftVarBytes ||
         (Type >= plat::ftBlob && Type <= plat::ftCursor) ||
         (Type >= plat::ftADT && Type <= plat::ftDataSet);
}

std::string Unquote(const std::string& Name) {
  for (char quote : {'"', '\''})
    if (Name.size() >= 2 && Name.front() == quote && Name.back() == quote)
      return Name.substr(1, Name.size() - 2);
  return Name;
}

// Drops a leading "table." or "correlation." from a column's text.
std::string StripQualifier(const std::string& Raw, const TTableNameItem* Item) {
  const std::string lower = plat::LowerCase(Raw);
  for (const std::string& prefix : {Item->TableName(), Item->CorrelationName()}) {
    if (prefix.empty()) continue;
    const std::string wanted = plat::LowerCase(prefix) + ".";
    if (lower.compare(0, wanted.size(), wanted) == 0) return Raw.substr(wanted.size());
  }
  return Raw;
}

const TZelExprNode* FindAggregateNode(const TZelExprNode* Node, int32_t Depth = 0) {
  if (Node == nullptr || Depth > 256) return nullptr;
  if (Node->ParserToken()->Token() == zstAggFunc) return Node;
  if (const TZelExprNode* found = FindAggregateNode(Node->Left(), Depth + 1)) return found;
  if (const TZelExprNode* found = FindAggregateNode(Node->Right(), Depth + 1)) return found;
  for (const TZelExprNode* arg : Node->Args())
    if (const TZelExprNode* found = FindAggregateNode(arg, Depth + 1)) return found;
  return nullptr;
}

}  // namespace

TZelSelectNode::TZelSelectNode() : Expr_(std::make_unique<TZelExpr>()) {}
TZelSelectNode::~TZelSelectNode() = default;

void TZelSelectNode::Display(int32_t Indent, plat::TStrings& Lines) const {
  const std::string pad(Indent, ' ');
  switch (SelectNodeType_) {
    case snGroupColumn:
      Lines.Add(pad + "Column Group");
      Lines.Add(pad + "Output all from - " + Qualifier_);
      break;
    case snSingleColumn:
      Lines.Add(pad + "Derived Column");
      Lines.Add(pad + "RawColumnName - " + RawColumnName_);
      break;
    case snAggFunc:
      Lines.Add(pad + "Agg Func");
      Lines.Add(pad + "Func - " + (Token_ != nullptr ? Token_->Text() : "") + " :: " + Qualifier_);
      break;
  }
  Lines.Add(pad + "Start Expr");
  if (Expr_->FirstNode() != nullptr) TZelExprNode::DisplayExprTree(Indent, Expr_->FirstNode(), Lines);
  Lines.Add(pad + "End Expr");
}

TZelSelectParser::TZelSelectParser() {
  SetEndTokens({zstFrom, zstWhere, zstGroupBy, zstHaving, zstOrderBy, zstEnd});
}

TZelSelectParser::~TZelSelectParser() = default;

void TZelSelectParser::Clear() {
  TBaseParser::Clear();
  Nodes_.clear();
  IsDistinct_ = false;
}

void TZelSelectParser::DebugDisplay(plat::TStrings& Lines) const {
  for (const auto& node : Nodes_) node->Display(0, Lines);
}

TZelSelectNode* TZelSelectParser::NewNode(TSelectNodeType Type) {
  Nodes_.push_back(std::make_unique<TZelSelectNode>());
  TZelSelectNode* node = Nodes_.back().get();
  if (Nodes_.size() > 1) Nodes_[Nodes_.size() - 2]->SetNext(node);
  node->SetSelectNodeType(Type);
  node->SetToken(CurrToken_);
  return node;
}

bool TZelSelectParser::Execute(TZelParserOptions Options, TParserStack* Stack) {
  TBaseParser::Execute(Options, Stack);
  if (CurrentTokenType() == zstSelect) NextToken();
  IsDistinct_ = CurrentTokenType() == zstDistinct;
  if (CurrentTokenType() == zstDistinct || CurrentTokenType() == zstAll) NextToken();
  if (CurrentTokenType() == zstMult) {
    NewNode(snGroupColumn);
    NextToken();
  } else {
    do {
      if (CurrentTokenType() == zstComma) NextToken();
      ParseSubList();
    } while (!HasParseError() && CurrentTokenType() == zstComma);
  }
  if (!HasParseError() && !AtEndToken()) SetError(CurrToken_, kSelectTerminated);
  return !HasParseError();
}

void TZelSelectParser::ParseSubList() {
  if (CurrToken_ == nullptr || AtEndToken()) {
    SetError(CurrToken_, kSelectTerminated);
    return;
  }
  if (CurrentTokenType() == zstTableName && PeekAtTokenType(0) == zstMult) {
    TZelSelectNode* node = NewNode(snGroupColumn);
    node->SetQualifier(CurrToken_->Text());
    NextToken();
    NextToken();
    return;
  }
  ParseDerivedColumn(CurrentTokenType() == zstAggFunc ? snAggFunc : snSingleColumn);
}

void TZelSelectParser::ParseDerivedColumn(TSelectNodeType Type) {
  TZelSelectNode* node = NewNode(Type);
  TZelExprParser parser;
  parser.SetValidEndTokens(
      {zstUnknown, zstFieldName, zstFrom, zstStringLiteral, zstComma, zstAS, zstEnd});
  parser.SetTableList(TableList_);
  parser.SetValidateFields(TableList_ != nullptr && TableList_->Count() > 0);
  // Without tables (the pass that only looks for FROM) types are unknown.
  parser.SetIgnoreTypeChecks(TableList_ == nullptr || TableList_->Count() == 0);
  parser.SetIsSubquery(IsSubquery_);
  parser.SyncCurrToken(*this);
  if (!parser.ExecuteExternalValueExpr(*node->Expr(), TZelParserOptions{zpoExtSyntax, zpoSQL},
                                       Stack_))
    SetError(parser.ErrorToken(), parser.ErrorMsg());
  std::string text = parser.ParsedText();
  if (parser.CurrToken() != nullptr) {
    const std::size_t cut = parser.CurrToken()->RawTokenText().size();
    text.resize(cut < text.size() ? text.size() - cut : 0);
  }
  CurrToken_ = parser.CurrToken();
  if (HasParseError()) return;
  TZelExprNode* root = node->Expr()->FirstNode();
  node->SetRawColumnName(root != nullptr ? plat::Trim(text)
                         : node->Token() != nullptr ? node->Token()->Text()
                                                    : std::string());
  if (root != nullptr && root->Operator() == zeoISBLANK && root->DataType() == plat::ftUnknown)
    root->SetDataType(plat::ftInteger);
  if (CurrentTokenType() == zstAS) NextToken();
  if (CurrToken_ != nullptr &&
      (CurrentTokenType() == zstFieldName || CurrentTokenType() == zstStringLiteral)) {
    node->SetOutputColumnName(CurrToken_->Text());
    NextToken();
  }
}

// ---------------------------------------------------------------------------

TSelectFieldItem* TSelectFields::Add() {
  Items_.push_back(std::make_unique<TSelectFieldItem>());
  return Items_.back().get();
}

TSelectFieldItem* TSelectFields::AddSelectField(const std::string& Name,
                                                const std::string& SourceName,
                                                const TInternalFieldItem* FieldItem,
                                                TTableNameItem* TableItem) {
  TSelectFieldItem* item = Add();
  item->FieldName = plat::Trim(Name);
  item->SourceFieldName = plat::Trim(SourceName);
  item->SourceTableItem = TableItem;
  if (FieldItem != nullptr) {
    item->DataType = FieldItem->DataType();
    item->FieldSize =
        FieldItem->IsVariable() ? FieldItem->GetWriteableFieldSize() : FieldItem->FieldSize();
  }
  return item;
}

bool TSelectFields::ContainsAggregateColumns() const {
  for (const auto& item : Items_)
    if (item->HasAggregateFunction) return true;
  return false;
}

bool TSelectFields::ContainsGroupedOutput() const {
  for (const auto& item : Items_)
    if (item->IsGrouped) return true;
  return false;
}

TSelectFieldItem* TSelectFields::FindField(const std::string& Name) const {
  for (const auto& item : Items_)
    if (plat::AnsiSameText(item->FieldName, Name)) return item.get();
  const std::string trimmed = plat::Trim(Name);
  for (const auto& item : Items_)
    if (plat::AnsiSameText(plat::Trim(item->RawColumnName), trimmed)) return item.get();
  return nullptr;
}

TSelectFieldItem* TSelectFields::FindColumn(const std::string& Name,
                                            const std::string& Qualifier) const {
  if (TSelectFieldItem* item = FindField(Name)) return item;
  for (const auto& item : Items_) {
    if (!plat::AnsiSameText(item->SourceFieldName, Name)) continue;
    if (!Qualifier.empty() &&
        (item->SourceTableItem == nullptr ||
         (!plat::AnsiSameText(item->SourceTableItem->TableName(), Qualifier) &&
          !plat::AnsiSameText(item->SourceTableItem->CorrelationName(), Qualifier))))
      continue;
    return item.get();
  }
  return nullptr;
}

void TSelectFields::Assign(const TSelectFields& Source) {
  if (&Source == this) return;
  Items_.clear();
  for (const auto& item : Source.Items_) Items_.push_back(std::make_unique<TSelectFieldItem>(*item));
}

// ---------------------------------------------------------------------------

bool TZelSelectAnalyser::CheckSelect(
    const std::vector<std::unique_ptr<TZelSelectNode>>* SelectRoot, TTableList* TableList) {
  SelectFields_.Clear();
  ErrorMsg_.clear();
  if (SelectRoot == nullptr || TableList == nullptr) return false;
  TableList_ = TableList;
  const auto& nodes = *SelectRoot;
  if (!nodes.empty() && nodes.front()->SelectNodeType() == snGroupColumn &&
      nodes.front()->Qualifier().empty()) {
    PrepareAllFields();
  } else {
    for (const auto& node : nodes) {
      if (!ErrorMsg_.empty()) break;
      if (node->SelectNodeType() == snGroupColumn) {
        TTableNameItem* item = TableList_->FindTable(node->Qualifier());
        if (item == nullptr)
          ErrorMsg_ = std::string(SzelTableNotFound) + ": " + node->Qualifier();
        else
          AddFieldsForTable(node->Qualifier(), item);
      } else {
        AnalyseColumnNode(*node);
      }
    }
  }
  if (ErrorMsg_.empty())
    for (int32_t i = 0; i < SelectFields_.Count(); ++i)
      if (SelectFields_.GetItems(i)->DataType == plat::ftAutoInc)
        SelectFields_.GetItems(i)->DataType = plat::ftInteger;
  if (IsDistinct_ && ErrorMsg_.empty()) {
    if (SelectFields_.Count() > kDistinctColumnLimit) {
      ErrorMsg_ = std::string(SzelSelectDistinctMaxColsLimit) + " (" +
                  std::to_string(kDistinctColumnLimit) + ")";
    } else {
      for (int32_t i = SelectFields_.Count() - 1; i >= 0; --i)
        if (IsDistinctInvalidType(SelectFields_.GetItems(i)->DataType)) {
          ErrorMsg_ = std::string(SzelSelectDistinctInvalidColumnType) + " - " +
                      SelectFields_.GetItems(i)->FieldName;
          break;
        }
    }
  }
  return ErrorMsg_.empty();
}

void TZelSelectAnalyser::PrepareAllFields() {
  for (int32_t i = 0; i < TableList_->Count(); ++i)
    AddFieldsForTable(TableList_->Items(i)->TableName(), TableList_->Items(i));
}

void TZelSelectAnalyser::AddFieldsForTable(const std::string& Qualifier,
                                           TTableNameItem* TableItem) {
  (void)Qualifier;
  TInternalFields& fields = *TableItem->TableFields();
  for (int32_t i = 0; i < fields.Count(); ++i) {
    const TInternalFieldItem* field = fields.GetIndex(i);
    std::string name = field->FieldName();
    for (int32_t n = 1; SelectFields_.FindField(name) != nullptr; ++n)
      name = field->FieldName() + "_" + std::to_string(n);
    SelectFields_.AddSelectField(name, field->FieldName(), field, TableItem);
  }
}

void TZelSelectAnalyser::AnalyseColumnNode(const TZelSelectNode& Node) {
  TZelExprNode* root = Node.Expr()->FirstNode();
  if (root == nullptr) return;
  TSelectFieldItem* item = SelectFields_.Add();
  item->FieldName = plat::Trim(Node.OutputColumnName().empty() ? Node.RawColumnName()
                                                               : Node.OutputColumnName());
  item->DataType = root->DataType();
  item->FieldSize = root->DataSize();
  item->RawColumnName = Node.RawColumnName();
  item->ColumnRoot = root;
  item->HasAggregateFunction =
      Node.SelectNodeType() == snAggFunc || Node.Expr()->ExprContainsToken(zstAggFunc);
  if (item->HasAggregateFunction) {
    item->CustomQualifier = Node.Qualifier();
    item->DistinctQuantifier = root->Data().VarType() == plat::varBoolean && root->Data().AsBoolean();
    if (root->ParserToken()->Token() == zstAggFunc && root->Args().size() <= 1) {
      item->ExprRoot = root->Args().empty() ? root : root->Args().front();
      item->AggFunc = static_cast<TZelSQLAggFunc>(root->ParserToken()->CustomOrdinal());
    } else {
      const TZelExprNode* agg = FindAggregateNode(root);
      PLAT_ASSERT(agg != nullptr, "failed to find AggFunc expr node");
      PLAT_ASSERT(agg->Args().size() == 1, "Node expr args count is not as expected");
      item->ExprRoot = agg->Args().front();
      item->AggFunc = static_cast<TZelSQLAggFunc>(agg->ParserToken()->CustomOrdinal());
      item->AggExprRoot = root;
    }
    if (item->AggFunc == zafCount) item->DataType = plat::ftInteger;
    return;
  }
  item->ExprRoot = root;
  if (root->Kind() != enkField || root->TableList()->Count() == 0) return;
  TTableNameItem* source = TableList_->FindTableAndCorrelationName(
      root->TableList()->Items(0)->TableName(), root->TableList()->Items(0)->CorrelationName());
  if (source == nullptr) source = TableList_->FindTableName(root->TableList()->Items(0)->TableName());
  if (source == nullptr) return;
  item->SourceTableItem = source;
  item->ExprRoot = nullptr;
  std::string name = Unquote(StripQualifier(Node.RawColumnName(), source));
  // The parsed field name serves when the written text has another form.
  if (source->TableFields()->FindField(name) == nullptr) name = plat::VarToStr(root->Data());
  item->SourceFieldName = name;
  if (const TInternalFieldItem* field = source->TableFields()->FindField(name)) {
    item->DataType = field->DataType();
    item->FieldSize = field->IsVariable() ? field->GetWriteableFieldSize() : field->FieldSize();
  }
}

bool TZelSelectAnalyser::CheckGroupedColumns(TGroupByItems& GroupByItems) {
  ErrorMsg_.clear();
  for (int32_t i = 0; i < GroupByItems.Count(); ++i) {
    TGroupByItem* group = GroupByItems.Items(i);
    group->SetResultSetIndex(-1);
    TSelectFieldItem* column = SelectFields_.FindColumn(group->FieldName(), group->TableName());
    if (column == nullptr) {
      ErrorMsg_ = std::string(SzelGroupByColumnNotFound) + " : " + group->FieldName();
      return false;
    }
    group->SetResultSetIndex(i);
    column->IsGrouped = true;
  }
  if (SelectFields_.ContainsAggregateColumns() || GroupByItems.Count() > 0)
    for (int32_t i = 0; i < SelectFields_.Count(); ++i) {
      const TSelectFieldItem* column = SelectFields_.GetItems(i);
      if (!column->HasAggregateFunction && !column->IsGrouped) {
        ErrorMsg_ = std::string(SzelNonAggColumnNotInGroupBy) + " : " + column->FieldName;
        return false;
      }
    }
  return true;
}

bool TZelSelectAnalyser::CheckHavingFields(const TZelExprNode* Node) {
  if (Node == nullptr) return true;
  if (Node->Kind() == enkField) {
    const std::string name = plat::VarToStr(Node->Data());
    if (SelectFields_.FindColumn(name, "") == nullptr) {
      ErrorMsg_ = std::string(SzelHavingFieldNotInResult) + ": " + name;
      return false;
    }
    return true;
  }
  if (!CheckHavingFields(Node->Left()) || !CheckHavingFields(Node->Right())) return false;
  for (const TZelExprNode* arg : Node->Args())
    if (!CheckHavingFields(arg)) return false;
  return true;
}

void TZelSelectAnalyser::NullHavingFields(TZelExprNode* Node) {
  if (Node == nullptr) return;
  if (Node->Kind() == enkField) {
    Node->SetKind(enkConst);
    Node->SetOperator(zeoCONST2);
    Node->SetData(plat::Null());
  }
  NullHavingFields(Node->Left());
  NullHavingFields(Node->Right());
  if (!Node->Args().empty()) NullHavingFields(Node->Args().front());
}

bool TZelSelectAnalyser::CheckHavingExpr(TZelExpr* Expr) {
  ErrorMsg_.clear();
  if (Expr == nullptr || Expr->FirstNode() == nullptr) return true;
  // Aggregates that are output columns are read from the result row.
  for (TZelExprNode* node = Expr->FirstNode(); node != nullptr; node = node->Next()) {
    if (node->ParserToken()->Token() != zstAggFunc || node->Args().empty()) continue;
    // The node's raw text is only the argument's text: the aggregate is
    // matched as written, so that a plain output column of the same text
    // (salary + id beside SUM(salary + id)) is never taken for it.
    const std::string text = node->ParserToken()->Text() + "(" +
                             (node->Data().AsBoolean() ? "DISTINCT " : "") +
                             node->ParserToken()->RawTokenText() + ")";
    TSelectFieldItem* column = SelectFields_.FindField(text);
    if (column == nullptr) continue;
    node->SetKind(enkField);
    node->SetOperator(zeoFIELD2);
    node->SetData(plat::Variant(column->FieldName));
    node->SetDataType(column->DataType);
    node->SetDataSize(column->FieldSize);
    // The result row already holds the aggregate: the fields it was made of
    // are no longer read, and must not be checked against the result set.
    if (!node->Args().empty()) NullHavingFields(node->Args().front());
  }
  return CheckHavingFields(Expr->FirstNode());
}

bool TZelSelectAnalyser::CheckOrderByColumns(TOrderByItems& OrderByItems) {
  ErrorMsg_.clear();
  for (int32_t i = 0; i < OrderByItems.Count() && ErrorMsg_.empty(); ++i) {
    const TOrderByItem* item = OrderByItems.Items(i);
    if (item->FieldIndex() < 1) {
      std::string name = item->SortKey(), qualifier;
      const std::size_t dot = name.find('.');
      if (dot != std::string::npos) {
        qualifier = name.substr(0, dot);
        name = name.substr(dot + 1);
      }
      if (SelectFields_.FindColumn(name, qualifier) == nullptr)
        ErrorMsg_ = std::string(SzelOrderByColumnNotPresent) + " : " + item->SortKey();
    } else if (item->FieldIndex() > SelectFields_.Count()) {
      ErrorMsg_ = std::string(SzelOrderByColumnIndexOutOfRange) + " : " +
                  std::to_string(item->FieldIndex());
    }
  }
  return ErrorMsg_.empty();
}

bool TZelSelectAnalyser::ValidateUnionSelectFields(const TSelectFields& Fields) {
  ErrorMsg_.clear();
  if (Fields.Count() != SelectFields_.Count()) {
    ErrorMsg_ = SzelUnionColumnCountError;
    return false;
  }
  for (int32_t i = 0; i < Fields.Count(); ++i) {
    const plat::TFieldType from = Fields.GetItems(i)->DataType;
    const plat::TFieldType to = SelectFields_.GetItems(i)->DataType;
    if (!TZelDataConversionValidator::CheckDataConversionValid(from, to)) {
      ErrorMsg_ = std::string(SzelTypeConversionErr) + " " +
                  std::string(plat::FieldTypeNames[from]) + " -> " +
                  std::string(plat::FieldTypeNames[to]);
      return false;
    }
  }
  return true;
}

}  // namespace zel
