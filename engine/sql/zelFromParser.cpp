#include "engine/sql/zelFromParser.h"

#include "engine/expr/zelExprParser.h"
#include "engine/storage/zelConsts.h"
#include "engine/storage/zelDataFields.h"
#include "platform/rtl/Strings.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Variants.h"

namespace zel {

namespace {

constexpr const char* kFailedFromClause = "Failed to parse FROM clause";
constexpr const char* kInvalidCrossJoin = "Invalid cross join syntax - expected CROSS";
constexpr const char* kUsingMissingLParen = "Missing '(' after USING in a join";
constexpr const char* kUsingMissingRParen = "Missing ')' after the USING column list";
constexpr const char* kUsingBadList = "Invalid column list syntax after USING";
constexpr const char* kNaturalNoCommonColumn = "Natural join tables have no common column";
// Nested parentheses are parsed recursively; deeper nesting is refused.
constexpr int32_t kMaxNesting = 64;

const TZelTokenSet& FromEndTokens() {
  static const TZelTokenSet tokens{zstWhere, zstGroupBy, zstHaving, zstUnion, zstOrderBy, zstEnd};
  return tokens;
}

}  // namespace

const char* ZelTableRefTypeName(TZelTableRefType Type) {
  static const char* const names[] = {"trUnknown",       "trCrossJoin",      "trUnionJoin",
                                      "trInnerJoin",     "trLeftOuterJoin",  "trRightOuterJoin",
                                      "trFullOuterJoin", "trSubQuery",       "trTableName"};
  return Type <= trTableName ? names[Type] : "?";
}

TZelTableRefNode::TZelTableRefNode()
    : Expr_(std::make_unique<TZelExpr>()), UsingColumnList_(std::make_unique<plat::TStringList>()) {}

TZelTableRefNode::~TZelTableRefNode() = default;

void TZelTableRefNode::Display(int32_t Indent, plat::TStrings& Lines) const {
  Lines.Add(std::string(Indent, ' ') + Text_ + " : text - " + ZelTableRefTypeName(JoinType_));
  if (Expr_->FirstNode() != nullptr) TZelExprNode::DisplayExprTree(Indent, Expr_->FirstNode(), Lines);
}

void TZelTableRefNode::DisplayTree(int32_t Indent, plat::TStrings& Lines) const {
  if (Left_ != nullptr) Left_->DisplayTree(Indent + 2, Lines);
  Display(Indent, Lines);
  if (Right_ != nullptr) Right_->DisplayTree(Indent + 2, Lines);
}

TZelFromParser::TZelFromParser() : TableList_(std::make_unique<TTableList>()) {
  SetEndTokens(FromEndTokens());
}

TZelFromParser::~TZelFromParser() = default;

void TZelFromParser::Clear() {
  TBaseParser::Clear();
  Nodes_.clear();
  Trees_.clear();
  Root_ = nullptr;
  TableList_->Clear();
  Depth_ = 0;
}

bool TZelFromParser::IsJoinSpecifier(TZelSQLToken Token) {
  switch (Token) {
    case zstUnion: case zstJoin: case zstInner: case zstOuter: case zstLeft: case zstRight:
    case zstCross: case zstNatural: case zstFull:
      return true;
    default:
      return false;
  }
}

TZelTableRefNode* TZelFromParser::NewTableRefNode(TZelTableRefType Kind) {
  Nodes_.push_back(std::make_unique<TZelTableRefNode>());
  TZelTableRefNode* node = Nodes_.back().get();
  node->SetNext(Root_);
  node->SetJoinType(Kind);
  return node;
}

int32_t TZelFromParser::GetExprCount() const {
  int32_t count = 0;
  for (const auto& node : Nodes_)
    if (node->IsJoin() && node->Expr()->FirstNode() != nullptr) ++count;
  return count;
}

void TZelFromParser::DebugDisplay(plat::TStrings& Lines) const {
  Lines.Add("StartTables");
  for (int32_t i = 0; i < TableList_->Count(); ++i)
    Lines.Add("tbl " + TableList_->Items(i)->TableName() + "   corr  " +
              TableList_->Items(i)->CorrelationName());
  Lines.Add("EndTables");
  Lines.Add("StartJoins");
  for (const auto& node : Nodes_)
    if (node->IsJoin())
      Lines.Add(std::string("join ") + ZelTableRefTypeName(node->JoinType()) + "   inner  " +
                node->InnerTable() + " outer " + node->OuterTable());
  Lines.Add("EndJoins");
  Lines.Add("StartTree");
  for (const TZelTableRefNode* tree : Trees_) tree->DisplayTree(0, Lines);
  Lines.Add("EndTree");
}

bool TZelFromParser::AtFromEnd() const {
  return CurrToken_ == nullptr || AtEndToken();
}

bool TZelFromParser::Execute(TZelParserOptions Options, TParserStack* Stack) {
  TBaseParser::Execute(Options, Stack);
  if (CurrentTokenType() == zstFrom) NextToken();
  if (CurrToken_ == nullptr || AtFromEnd()) {
    SetError(CurrToken_, kFailedFromClause);
    return false;
  }
  while (!HasParseError() && !AtFromEnd()) {
    TZelTableRefNode* tree = ParseJoinedReference();
    if (HasParseError()) break;
    if (tree != nullptr) Trees_.push_back(tree);
    if (CurrentTokenType() == zstComma) {
      NextToken();
      if (AtFromEnd()) SetError(CurrToken_, SzelMissingTableReference);
    } else if (!AtFromEnd()) {
      SetError(CurrToken_, SzelInvalidToken);
    }
  }
  return !HasParseError();
}

TZelTableRefNode* TZelFromParser::ParseJoinedReference() {
  TZelTableRefNode* left = ParsePrimaryReference();
  if (HasParseError()) return nullptr;
  if (CurrentTokenType() == zstUnion && PeekAtTokenType(0) != zstJoin) return left;
  for (;;) {
    const TZelSQLToken kind = CurrentTokenType();
    if (!IsJoinSpecifier(kind) || (kind == zstUnion && PeekAtTokenType(0) != zstJoin)) break;
    TZelTableRefType type = trInnerJoin;
    bool natural = false;
    if (kind == zstCross) {
      NextToken();
      if (CurrentTokenType() != zstJoin) {
        NextToken();
        SetError(CurrToken_, kInvalidCrossJoin);
        return nullptr;
      }
      type = trCrossJoin;
    } else {
      if (kind == zstNatural) {
        natural = true;
        NextToken();
      }
      switch (CurrentTokenType()) {
        case zstLeft: type = trLeftOuterJoin; break;
        case zstRight: type = trRightOuterJoin; break;
        case zstFull: type = trFullOuterJoin; break;
        case zstUnion: type = trUnionJoin; break;
        default: break;
      }
      if (type == trLeftOuterJoin || type == trRightOuterJoin || type == trFullOuterJoin) {
        NextToken();
        if (CurrentTokenType() == zstOuter) NextToken();
      }
      if (CurrentTokenType() != zstJoin) {
        NextToken();
        if (CurrentTokenType() != zstJoin) {
          NextToken();
          SetError(CurrToken_, kInvalidCrossJoin);
          return nullptr;
        }
      }
    }
    TZelTableRefNode* node = NewTableRefNode(type);
    node->SetIsNaturalJoin(natural);
    node->SetLeft(left);
    NextToken();  // JOIN
    TZelTableRefNode* right = ParsePrimaryReference();
    if (HasParseError()) return nullptr;
    node->SetRight(right);
    node->SetOuterTable(left->Text());
    node->SetInnerTable(right->Text());
    left = node;
    Root_ = node;
    if (type != trCrossJoin) ParseJoinCondition(node);
    if (HasParseError()) return nullptr;
  }
  return left;
}

void TZelFromParser::ParseJoinCondition(TZelTableRefNode* Node) {
  if (CurrentTokenType() == zstOn) {
    NextToken();
    TZelExprParser parser;
    TZelTokenSet ends = FromEndTokens();
    ends.Include(zstComma).Include(zstRParen);
    for (TZelSQLToken t : {zstUnion, zstJoin, zstInner, zstOuter, zstLeft, zstRight, zstCross,
                           zstNatural, zstFull})
      ends.Include(t);
    parser.SetValidEndTokens(ends);
    parser.SetIsSubquery(IsSubquery_);
    parser.SyncCurrToken(*this);
    if (!parser.ExecuteExternalExpr(*Node->Expr(), TZelParserOptions{zpoExtSyntax}, Stack_))
      SetError(parser.ErrorToken(), parser.ErrorMsg());
    CurrToken_ = parser.CurrToken();
    return;
  }
  if (CurrentTokenType() != zstUsing) return;
  NextToken();
  if (CurrentTokenType() != zstLParen) {
    SetError(CurrToken_, kUsingMissingLParen);
    return;
  }
  NextToken();
  while (CurrToken_ != nullptr && CurrentTokenType() != zstEnd && CurrentTokenType() != zstRParen) {
    Node->UsingColumnList().Add(CurrToken_->Text());
    NextToken();
    if (CurrentTokenType() == zstComma) {
      NextToken();
    } else if (CurrentTokenType() != zstRParen) {
      SetError(CurrToken_, kUsingBadList);
      return;
    }
  }
  if (CurrentTokenType() != zstRParen) {
    SetError(CurrToken_, kUsingMissingRParen);
    return;
  }
  NextToken();
}

TZelTableRefNode* TZelFromParser::ParsePrimaryReference() {
  if (CurrentTokenType() == zstSelect ||
      (CurrentTokenType() == zstLParen && PeekAtTokenType(0) == zstSelect)) {
    NewTableRefNode(trSubQuery);
    SetError(CurrToken_, SzelSelectinFromNotSupported);
    return nullptr;
  }
  if (CurrentTokenType() == zstLParen) {
    if (++Depth_ > kMaxNesting) {
      SetError(CurrToken_, SzelInvalidToken);
      return nullptr;
    }
    NextToken();
    TZelTableRefNode* inner = ParseJoinedReference();
    --Depth_;
    if (HasParseError()) return nullptr;
    if (CurrentTokenType() != zstRParen) {
      SetError(CurrToken_, SzelRParenMissing);
      return nullptr;
    }
    NextToken();
    return inner;
  }
  bool memory = false;
  if (CurrentTokenType() == zstTemporary) {
    memory = true;
    NextToken();
  }
  const TZelSQLToken kind = CurrentTokenType();
  if (CurrToken_ == nullptr || (kind != zstFieldName && kind != zstValue && kind != zstTableName &&
                                kind != zstStringLiteral)) {
    SetError(CurrToken_, SzelMissingTableReference);
    return nullptr;
  }
  TZelTableRefNode* node = NewTableRefNode(trTableName);
  node->SetText(CurrToken_->Text());
  TTableNameItem* item = TableList_->Add();
  item->SetTableName(CurrToken_->Text());
  item->SetMemorySpecified(memory);
  item->SetMemory(memory);
  NextToken();
  if (CurrentTokenType() == zstAS) NextToken();
  if (CurrToken_ != nullptr && (CurrentTokenType() == zstFieldName) &&
      !IsJoinSpecifier(CurrentTokenType())) {
    item->SetCorrelationName(CurrToken_->Text());
    node->SetCorrelationName(CurrToken_->Text());
    NextToken();
  }
  return node;
}

// ---------------------------------------------------------------------------

bool TJoinPostProcessor::ProcessJoinTree(TZelTableRefNode* Root) {
  PLAT_ASSERT(TableList_ != nullptr, "Assertion failure");
  ErrorMsg_.clear();
  if (Root != nullptr) ProcessNode(Root);
  return ErrorMsg_.empty();
}

void TJoinPostProcessor::ProcessNode(TZelTableRefNode* Node) {
  if (Node == nullptr || !ErrorMsg_.empty() || !Node->IsJoin()) return;
  PLAT_ASSERT(Node->Left() != nullptr && Node->Right() != nullptr,
              "Left Join node is not assigned");
  ProcessNode(Node->Left());
  ProcessNode(Node->Right());
  if (!ErrorMsg_.empty()) return;
  if (Node->IsNaturalJoin() && Node->UsingColumnList().Count() == 0) {
    std::vector<std::string> left, right;
    CollectColumns(Node->Left(), left);
    CollectColumns(Node->Right(), right);
    for (const std::string& name : left) {
      bool common = false;
      for (const std::string& other : right) common = common || plat::AnsiSameText(name, other);
      if (common && Node->UsingColumnList().IndexOf(name) < 0) Node->UsingColumnList().Add(name);
    }
    if (Node->UsingColumnList().Count() == 0) {
      ErrorMsg_ = kNaturalNoCommonColumn;
      return;
    }
  }
  for (int32_t i = 0; i < Node->UsingColumnList().Count() && ErrorMsg_.empty(); ++i) {
    const std::string column = Node->UsingColumnList().Strings(i);
    const TZelTableRefNode* left = FindHolder(Node->Left(), column);
    const TZelTableRefNode* right = FindHolder(Node->Right(), column);
    if (left == nullptr || right == nullptr) {
      ErrorMsg_ = "Field not found in join tables: " + column;
      return;
    }
    AddEquality(Node, column, left, right);
  }
}

TTableNameItem* TJoinPostProcessor::ItemOf(const TZelTableRefNode* Leaf) const {
  if (!Leaf->CorrelationName().empty())
    if (TTableNameItem* item = TableList_->FindTable(Leaf->CorrelationName())) return item;
  return TableList_->FindTableName(Leaf->Text());
}

const TZelTableRefNode* TJoinPostProcessor::FindHolder(const TZelTableRefNode* Node,
                                                       const std::string& Column) const {
  if (Node == nullptr) return nullptr;
  if (Node->JoinType() == trTableName) {
    TTableNameItem* item = ItemOf(Node);
    return item != nullptr && item->TableFields()->FindField(Column) != nullptr ? Node : nullptr;
  }
  if (!Node->IsJoin()) return nullptr;
  const TZelTableRefNode* found = FindHolder(Node->Left(), Column);
  return found != nullptr ? found : FindHolder(Node->Right(), Column);
}

void TJoinPostProcessor::CollectColumns(const TZelTableRefNode* Node,
                                        std::vector<std::string>& Columns) const {
  if (Node == nullptr) return;
  if (Node->JoinType() == trTableName) {
    if (TTableNameItem* item = ItemOf(Node))
      for (int32_t i = 0; i < item->TableFields()->Count(); ++i)
        Columns.push_back(item->TableFields()->GetIndex(i)->FieldName());
    return;
  }
  if (!Node->IsJoin()) return;
  CollectColumns(Node->Left(), Columns);
  CollectColumns(Node->Right(), Columns);
}

void TJoinPostProcessor::AddEquality(TZelTableRefNode* Join, const std::string& Column,
                                     const TZelTableRefNode* LeftLeaf,
                                     const TZelTableRefNode* RightLeaf) {
  TZelExpr& expr = *Join->Expr();
  // The root stands first in the chain until new nodes are made.
  TZelExprNode* previous = expr.FirstNode();
  TZelExprNode* sides[2] = {nullptr, nullptr};
  const TZelTableRefNode* leaves[2] = {LeftLeaf, RightLeaf};
  for (int side = 0; side < 2; ++side) {
    const TZelTableRefNode* leaf = leaves[side];
    PLAT_ASSERT(!leaf->Text().empty() || !leaf->CorrelationName().empty(),
                "Neither join table/correlation names is set");
    TTableNameItem* item = ItemOf(leaf);
    if (item == nullptr) {
      ErrorMsg_ = "Join ON field not found: " + leaf->CorrelationName() + " : " + leaf->Text();
      return;
    }
    TInternalFieldItem* field = item->TableFields()->FindField(Column);
    if (field == nullptr) {
      ErrorMsg_ = "Field (" + Column + ") not found in table " + leaf->Text();
      return;
    }
    TParserToken token;
    token.SetToken(zstFieldName);
    token.SetText(Column);
    token.SetRawTokenText(Column);
    TZelExprNode* node = expr.NewFieldNode(enkField, zeoFIELD2, plat::Variant(Column), nullptr,
                                           nullptr, &token, field->DataType(),
                                           field->FieldSize());
    node->SetScopeKind(zskField);
    node->TableList()->Add()->Assign(item);
    sides[side] = node;
  }
  TParserToken eq;
  eq.SetToken(zstCompOperator);
  eq.SetText("=");
  eq.SetRawTokenText("=");
  TZelExprNode* equality = expr.NewNode(enkRelOperator, zeoEQ, plat::Variant(), sides[0], sides[1], &eq);
  equality->SetDataType(plat::ftBoolean);
  TZelExprNode* top = equality;
  if (previous != nullptr) {
    TParserToken andToken;
    andToken.SetToken(zstAnd);
    andToken.SetText("AND");
    andToken.SetRawTokenText("AND");
    top = expr.NewNode(enkLogicalOperator, zeoAND, plat::Variant(), previous, equality,
                       &andToken);
    top->SetDataType(plat::ftBoolean);
  }
  expr.SetAsFirstNode(top);
}

}  // namespace zel
