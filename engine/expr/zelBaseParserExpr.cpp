#include "engine/expr/zelBaseParserExpr.h"

#include <array>

#include "platform/db/DataSet.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

constexpr std::array<const char*, kZelExprOperatorCount> kOperatorNames = {
    "NOTDEFINED", "ISBLANK",   "NOTBLANK", "EQ",       "NE",         "GT",       "LT",
    "GE",         "LE",        "NOT",      "AND",      "OR",         "TUPLE2",   "FIELD2",
    "CONST2",     "MINUS",     "ADD",      "SUB",      "MUL",        "DIV",      "MOD",
    "REM",        "SUM",       "COUNT",    "MIN",      "MAX",        "AVG",      "CONT",
    "UDF2",       "CONTINUE2", "LIKE",     "IN",       "LIST2",      "UPPER",    "LOWER",
    "FUNC2",      "LISTELEM2", "ASSIGN",   "SUBQUERY", "OUTERFIELD", "PARAMETER"};

constexpr std::array<const char*, 10> kKindNames = {
    "Unknown",       "Field",           "Const", "Param",           "RelOperator",
    "ArithOperator", "LogicalOperator", "Func",  "NonRelPredicate", "Subquery"};

// Same kind and value; values of kinds that cannot be compared are unequal.
bool SameVariant(const plat::Variant& a, const plat::Variant& b) {
  if (a.VarType() != b.VarType()) return false;
  if (a.IsEmpty() || a.IsNull()) return true;
  if (a.IsArray() || b.IsArray()) return false;
  return a == b;
}

}  // namespace

const char* ZelExprOperatorName(TZelExprOperator op) {
  return op < kOperatorNames.size() ? kOperatorNames[op] : "?";
}

const char* ZelExprNodeKindName(TZelExprNodeKind kind) {
  return kind < kKindNames.size() ? kKindNames[kind] : "?";
}

// ---------------------------------------------------------------------------
// TTableNameItem

TTableNameItem::TTableNameItem(plat::TCollection* Collection)
    : plat::TCollectionItem(Collection), TableFields_(std::make_unique<TInternalFields>()) {}

void TTableNameItem::Assign(const plat::TPersistent* Source) {
  const auto* source = dynamic_cast<const TTableNameItem*>(Source);
  if (source == nullptr) {
    plat::TCollectionItem::Assign(Source);
    return;
  }
  if (source == this) return;
  CorrelationName_ = source->CorrelationName_;
  TableName_ = source->TableName_;
  TableFields_->Assign(source->TableFields_.get());
  Memory_ = source->Memory_;
  MemorySpecified_ = source->MemorySpecified_;
  InCorrelatedSubquery_ = source->InCorrelatedSubquery_;
  CorrelatedSubqueryID_ = source->CorrelatedSubqueryID_;
}

plat::TFieldType TTableNameItem::GetFieldType(const std::string& Name) const {
  const TInternalFieldItem* field = TableFields_->FindField(Name);
  return field == nullptr ? plat::ftUnknown : field->DataType();
}

int32_t TTableNameItem::GetFieldSize(const std::string& Name) const {
  const TInternalFieldItem* field = TableFields_->FindField(Name);
  return field == nullptr ? 0 : field->GetWriteableFieldSize();
}

// ---------------------------------------------------------------------------
// TTableList

TTableList::TTableList() : plat::TCollection(plat::CollectionItemClass<TTableNameItem>()) {}

TTableNameItem* TTableList::FindFromLast(const std::string& Name, bool ByCorrelation) const {
  if (Name.empty()) return Count() == 1 ? Items(0) : nullptr;
  for (int32_t i = Count() - 1; i >= 0; --i) {
    TTableNameItem* item = Items(i);
    if ((ByCorrelation && plat::AnsiSameText(item->CorrelationName(), Name)) ||
        plat::AnsiSameText(item->TableName(), Name))
      return item;
  }
  return nullptr;
}

TTableNameItem* TTableList::FindTable(const std::string& Name) const {
  return FindFromLast(Name, true);
}

TTableNameItem* TTableList::FindTableName(const std::string& Name) const {
  return FindFromLast(Name, false);
}

TTableNameItem* TTableList::FindTableAndCorrelationName(const std::string& TableName,
                                                        const std::string& CorrelationName) const {
  if (TableName.empty() && CorrelationName.empty()) return Count() == 1 ? Items(0) : nullptr;
  for (int32_t i = Count() - 1; i >= 0; --i) {
    TTableNameItem* item = Items(i);
    if (plat::AnsiSameText(item->TableName(), TableName) &&
        plat::AnsiSameText(item->CorrelationName(), CorrelationName))
      return item;
  }
  return nullptr;
}

TTableNameItem* TTableList::FindTableForField(const std::string& FieldName) const {
  for (int32_t i = Count() - 1; i >= 0; --i) {
    TTableNameItem* item = Items(i);
    if (item->TableFields()->FindField(FieldName) != nullptr) return item;
  }
  return nullptr;
}

plat::TField* TTableList::CheckDatasetField(const std::string& FieldName) const {
  if (Count() != 1 || Items(0)->SourceDataset() == nullptr) return nullptr;
  return Items(0)->SourceDataset()->FindField(FieldName);
}

void TTableList::MergeLists(const TTableList* A, const TTableList* B) {
  // Built aside, so that A or B may be this list.
  TTableList merged;
  if (A != nullptr) merged.Assign(A);
  if (B != nullptr) {
    for (int32_t i = 0; i < B->Count(); ++i) {
      const TTableNameItem* item = B->Items(i);
      bool present = false;
      for (int32_t j = 0; j < merged.Count() && !present; ++j)
        present = plat::AnsiSameText(merged.Items(j)->TableName(), item->TableName()) &&
                  plat::AnsiSameText(merged.Items(j)->CorrelationName(), item->CorrelationName());
      if (!present) merged.Add()->Assign(item);
    }
  }
  Assign(&merged);
}

// ---------------------------------------------------------------------------
// TZelExprNode

TZelExprNode::TZelExprNode() = default;

TZelExprNode::~TZelExprNode() = default;

TTableList* TZelExprNode::TableList() const {
  if (!TableList_) {
    TableList_ = std::make_shared<TTableList>();
  } else if (TableList_.use_count() > 1) {
    auto own = std::make_shared<TTableList>();
    own->Assign(TableList_.get());
    TableList_ = std::move(own);
  }
  return TableList_.get();
}

const TTableList& TZelExprNode::Tables() const {
  static const TTableList none;
  return TableList_ ? *TableList_ : none;
}

void TZelExprNode::AssignNode(const TZelExprNode* Source) {
  if (Source == nullptr || Source == this) return;
  DataSize_ = Source->DataSize_;
  Left_ = Source->Left_;
  Right_ = Source->Right_;
  Operator_ = Source->Operator_;
  OriginalOperator_ = Source->OriginalOperator_;
  Kind_ = Source->Kind_;
  ScopeKind_ = Source->ScopeKind_;
  DataType_ = Source->DataType_;
  TokenArgs_ = Source->TokenArgs_;
  ParserToken_.AssignToken(&Source->ParserToken_);
  Data_ = Source->Data_;
  OriginalData_ = Source->OriginalData_;
  CaseInsensitiveMatch_ = Source->CaseInsensitiveMatch_;
  PartialMatch_ = Source->PartialMatch_;
  PartialLength_ = Source->PartialLength_;
  TableList_ = Source->TableList_;
  ExprNodeDataProvider_ = Source->ExprNodeDataProvider_;
}

TZelExprNode* TZelExprNode::CloneNode(TZelExpr& Owner) const {
  TZelExprNode* copy = Owner.AddNode();
  copy->AssignNode(this);
  for (const TZelExprNode* arg : Args_) {
    TZelExprNode* argCopy = Owner.AddNode();
    argCopy->AssignNode(arg);
    copy->Args_.push_back(argCopy);
  }
  return copy;
}

void TZelExprNode::SetAndConvertDataType(plat::TFieldType FieldType) {
  // Unknown has no value to convert either: turning it into 0 or "" would
  // invent a constant.
  if (!Data_.IsNull() && !Data_.IsEmpty()) {
    switch (FieldType) {
      case plat::ftString:
        Data_ = plat::Variant(Data_.AsString());
        DataSize_ = static_cast<int32_t>(Data_.AsString().size());
        break;
      case plat::ftSmallint:
      case plat::ftInteger:
        Data_ = plat::Variant(Data_.AsInteger());
        break;
      case plat::ftBoolean:
        Data_ = plat::Variant(Data_.AsBoolean());
        break;
      case plat::ftFloat:
        Data_ = plat::Variant(Data_.AsFloat());
        break;
      case plat::ftCurrency:
        Data_ = plat::Variant(Data_.AsCurrency());
        break;
      case plat::ftDate:
      case plat::ftDateTime:
        Data_ = plat::VarFromDateTime(Data_.AsDateTime());
        break;
      default:
        break;
    }
  }
  DataType_ = FieldType;
}

bool TZelExprNode::AreNodesEquivalent(const TZelExprNode* Other) const {
  if (Other == nullptr) return false;
  if (Other == this) return true;
  if (DataSize_ != Other->DataSize_ || Operator_ != Other->Operator_ || Kind_ != Other->Kind_ ||
      ScopeKind_ != Other->ScopeKind_ || DataType_ != Other->DataType_ ||
      ParserToken_.Token() != Other->ParserToken_.Token())
    return false;
  if (!SameVariant(Data_, Other->Data_)) return false;
  if (CaseInsensitiveMatch_ != Other->CaseInsensitiveMatch_ ||
      PartialMatch_ != Other->PartialMatch_ || PartialLength_ != Other->PartialLength_)
    return false;
  const int32_t tables = TableList_ ? TableList_->Count() : 0;
  if (tables != (Other->TableList_ ? Other->TableList_->Count() : 0)) return false;
  for (int32_t i = 0; i < tables; ++i)
    if (TableList_->Items(i)->TableName() != Other->TableList_->Items(i)->TableName()) return false;
  if (TokenArgs_.size() != Other->TokenArgs_.size()) return false;
  for (std::size_t i = 0; i < TokenArgs_.size(); ++i) {
    const TParserToken* a = TokenArgs_[i];
    const TParserToken* b = Other->TokenArgs_[i];
    if ((a == nullptr) != (b == nullptr)) return false;
    if (a != nullptr && a->Token() != b->Token()) return false;
  }
  if (Args_.size() != Other->Args_.size()) return false;
  for (std::size_t i = 0; i < Args_.size(); ++i) {
    const TZelExprNode* a = Args_[i];
    const TZelExprNode* b = Other->Args_[i];
    if (a == nullptr || b == nullptr) {
      if (a != b) return false;
    } else if (!a->AreNodesEquivalent(b)) {
      return false;
    }
  }
  return true;
}

void TZelExprNode::Display(int32_t Indent, plat::TStrings& Lines) const {
  const std::string pad(static_cast<std::size_t>(Indent < 0 ? 0 : Indent), ' ');
  const auto type = static_cast<std::size_t>(DataType_);
  const std::string typeName =
      type < plat::FieldTypeNames.size() ? std::string(plat::FieldTypeNames[type]) : "?";
  Lines.Add(pad + ZelExprNodeKindName(Kind_) + ":" + ZelExprOperatorName(Operator_) +
            " :: " + ZelSQLTokenName(ParserToken_.Token()) + "  -  " + ParserToken_.Text() +
            " :: " + typeName + " - " + std::to_string(DataSize_));
  if (!Args_.empty()) {
    Lines.Add(pad + "Start Args");
    for (const TZelExprNode* arg : Args_) DisplayExprTree(Indent + 2, arg, Lines);
  }
}

void TZelExprNode::DisplayExprTree(int32_t Indent, const TZelExprNode* Node,
                                   plat::TStrings& Lines) {
  if (Node == nullptr) return;
  Node->Display(Indent, Lines);
  DisplayExprTree(Indent + 2, Node->Left_, Lines);
  DisplayExprTree(Indent + 2, Node->Right_, Lines);
}

// ---------------------------------------------------------------------------
// TZelExpr

TZelExpr::~TZelExpr() {
  Clear();
}

void TZelExpr::Clear() {
  FirstNode_ = nullptr;
  Owned_.clear();
}

TZelExprNode* TZelExpr::AddNode() {
  Owned_.push_back(std::make_unique<TZelExprNode>());
  TZelExprNode* node = Owned_.back().get();
  node->SetNext(FirstNode_);
  FirstNode_ = node;
  return node;
}

TZelExprNode* TZelExpr::NewNode(TZelExprNodeKind Kind, TZelExprOperator Operator,
                                const plat::Variant& Data, TZelExprNode* Left, TZelExprNode* Right,
                                const TParserToken* Token) {
  if (!ErrorMsg_.empty()) return nullptr;
  TZelExprNode* node = AddNode();
  node->SetKind(Kind);
  node->SetOperator(Operator);
  node->SetOriginalOperator(Operator);
  node->SetData(Data);
  node->SetOriginalData(Data);
  node->SetLeft(Left);
  node->SetRight(Right);
  node->SetParserToken(Token);
  node->SetPartialLength(-1);
  node->SetCaseInsensitiveMatch(CaseInsensitiveMatch_);
  node->SetPartialMatch(PartialStringComparisons_);
  node->SetDataType(plat::ftUnknown);
  node->SetDataSize(-1);
  return node;
}

TZelExprNode* TZelExpr::NewFieldNode(TZelExprNodeKind Kind, TZelExprOperator Operator,
                                     const plat::Variant& Data, TZelExprNode* Left,
                                     TZelExprNode* Right, const TParserToken* Token,
                                     plat::TFieldType FieldType, int32_t Size) {
  TZelExprNode* node = NewNode(Kind, Operator, Data, Left, Right, Token);
  if (node != nullptr) {
    node->SetDataType(FieldType);
    node->SetDataSize(Size);
  }
  return node;
}

void TZelExpr::SetAsFirstNode(TZelExprNode* Node) {
  if (Node == nullptr || Node == FirstNode_ || FirstNode_ == nullptr) return;
  for (TZelExprNode* prev = FirstNode_; prev->Next() != nullptr; prev = prev->Next()) {
    if (prev->Next() == Node) {
      prev->SetNext(Node->Next());
      Node->SetNext(FirstNode_);
      FirstNode_ = Node;
      return;
    }
  }
}

TZelExprNode* TZelExpr::CloneSubTree(const TZelExprNode* Node) {
  if (Node == nullptr) return nullptr;
  TZelExprNode* copy = AddNode();
  copy->AssignNode(Node);
  // The arguments are copied whole too: a copy that kept references to the
  // source's argument subtrees would dangle once the source is cleared.
  for (const TZelExprNode* arg : Node->Args()) copy->Args().push_back(CloneSubTree(arg));
  copy->SetLeft(CloneSubTree(Node->Left()));
  copy->SetRight(CloneSubTree(Node->Right()));
  return copy;
}

TZelExprNode* TZelExpr::CloneFromTree(const TZelExprNode* Node) {
  TZelExprNode* copy = CloneSubTree(Node);
  SetAsFirstNode(copy);
  return copy;
}

TZelExprNode* TZelExpr::FindNodeWithToken(TZelSQLToken TokenKind) const {
  for (TZelExprNode* node = FirstNode_; node != nullptr; node = node->Next())
    if (node->ParserToken()->Token() == TokenKind) return node;
  return nullptr;
}

bool TZelExpr::ExprContainsToken(TZelSQLToken TokenKind) const {
  return FindNodeWithToken(TokenKind) != nullptr;
}

void TZelExpr::ResetSpecifiedNodes(TZelSQLToken TokenKind, TZelSQLToken NewTokenKind,
                                   TZelExprNodeKind NewKind, TZelExprOperator NewOperator,
                                   const plat::Variant& NewData) {
  for (TZelExprNode* node = FirstNode_; node != nullptr; node = node->Next()) {
    if (node->ParserToken()->Token() != TokenKind) continue;
    node->ParserToken()->SetToken(NewTokenKind);
    node->SetOperator(NewOperator);
    node->SetKind(NewKind);
    node->SetData(NewData);
  }
}

bool TZelExpr::ExprContainsField(const std::string& Name) const {
  for (const TZelExprNode* node = FirstNode_; node != nullptr; node = node->Next())
    if (node->Kind() == enkField && plat::VarIsStr(node->Data()) &&
        plat::AnsiSameText(node->Data().AsString(), Name))
      return true;
  return false;
}

std::string TZelExpr::ExtractParsedText(const TZelExprNode* Node) const {
  if (Node == nullptr) return std::string();
  return ExtractParsedText(Node->Left()) + Node->ParserToken()->RawTokenText() +
         ExtractParsedText(Node->Right());
}

int32_t TZelExpr::GetNodeCount() const {
  int32_t count = 0;
  for (const TZelExprNode* node = FirstNode_; node != nullptr; node = node->Next()) ++count;
  return count;
}

void TZelExpr::Display(plat::TStrings& Lines) const {
  TZelExprNode::DisplayExprTree(0, FirstNode_, Lines);
}

}  // namespace zel
