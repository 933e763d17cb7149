#include "engine/sql/zelQueryAnalyser.h"

#include "platform/rtl/Strings.h"

namespace zel {

namespace {

std::string TableKey(const std::string& Table, const std::string& Correlation) {
  return plat::AnsiUpperCase(Table) + "|" + plat::AnsiUpperCase(Correlation);
}

bool SameTables(const TTableList& A, const TTableList& B) {
  if (A.Count() != B.Count()) return false;
  for (int32_t i = 0; i < A.Count(); ++i)
    if (B.FindTableAndCorrelationName(A.Items(i)->TableName(), A.Items(i)->CorrelationName()) ==
        nullptr)
      return false;
  return true;
}

}  // namespace

void TZelPredicateItem::AddRoot(const TZelExprNode* Node) {
  if (Node == nullptr) return;
  if (Expr_ == nullptr || Expr_->FirstNode() == nullptr) {
    Expr_ = std::make_unique<TZelExpr>();
    Expr_->CloneFromTree(Node);
    return;
  }
  TZelExprNode* previous = Expr_->FirstNode();
  TZelExprNode* clone = Expr_->CloneSubTree(Node);
  Expr_->SetAsFirstNode(
      Expr_->NewNode(enkLogicalOperator, zeoAND, plat::Variant(), clone, previous, nullptr));
}

TZelJoinItem* TZelJoins::GetJoinItem(const TTableList& Tables) {
  for (const auto& item : Items_)
    if (SameTables(item->TableList(), Tables)) return item.get();
  Items_.push_back(std::make_unique<TZelJoinItem>());
  Items_.back()->TableList().MergeLists(&Tables, nullptr);
  return Items_.back().get();
}

TZelSelectItem* TZelSelects::GetSelectItem(const std::string& TableName,
                                           const std::string& CorrelationName) {
  for (const auto& item : Items_)
    if (plat::AnsiSameText(item->TableName(), TableName) &&
        plat::AnsiSameText(item->CorrelationName(), CorrelationName))
      return item.get();
  Items_.push_back(std::make_unique<TZelSelectItem>());
  Items_.back()->SetTableName(TableName);
  Items_.back()->SetCorrelationName(CorrelationName);
  Items_.back()->TableList().Add()->SetTableName(TableName);
  Items_.back()->TableList().Items(0)->SetCorrelationName(CorrelationName);
  return Items_.back().get();
}

TZelQueryAnalyser::TZelQueryAnalyser() = default;
TZelQueryAnalyser::~TZelQueryAnalyser() = default;

TZelExpr& TZelQueryAnalyser::GetTempExpr() {
  if (TempExpr_ == nullptr) TempExpr_ = std::make_unique<TZelExpr>();
  return *TempExpr_;
}

void TZelQueryAnalyser::Clear() {
  Root_ = nullptr;
  Nodes_.clear();
}

void TZelQueryAnalyser::CollectTables(const TZelExprNode* Node, TQueryAnalyserNode& Into) {
  if (Node == nullptr) return;
  if (Node->Kind() == enkSubquery || Node->Operator() == zeoOUTERFIELD ||
      Node->Operator() == zeoSUBQUERY)
    Into.Opaque = true;
  if (Node->Kind() == enkField) {
    if (Node->Tables().Count() == 0) Into.Opaque = true;
    Into.TableList->MergeLists(Into.TableList.get(), &Node->Tables());
  }
  CollectTables(Node->Left(), Into);
  CollectTables(Node->Right(), Into);
  for (const TZelExprNode* arg : Node->Args()) CollectTables(arg, Into);
}

TQueryAnalyserNode* TZelQueryAnalyser::Mirror(TZelExprNode* Node) {
  if (Node == nullptr) return nullptr;
  auto owned = std::make_unique<TQueryAnalyserNode>();
  TQueryAnalyserNode* node = owned.get();
  node->ExprNode = Node;
  node->Next = Nodes_.empty() ? nullptr : Nodes_.back().get();
  Nodes_.push_back(std::move(owned));
  if (Node->Kind() == enkLogicalOperator && Node->Operator() == zeoAND) {
    node->Left = Mirror(Node->Left());
    node->Right = Mirror(Node->Right());
    for (TQueryAnalyserNode* child : {node->Left, node->Right}) {
      if (child == nullptr) continue;
      node->TableList->MergeLists(node->TableList.get(), child->TableList.get());
      node->Opaque = node->Opaque || child->Opaque;
    }
  } else {
    CollectTables(Node, *node);
  }
  return node;
}

void TZelQueryAnalyser::CollectConjuncts(TQueryAnalyserNode* Node,
                                         std::vector<TQueryAnalyserNode*>& Out) {
  if (Node == nullptr) return;
  if (Node->ExprNode->Kind() == enkLogicalOperator && Node->ExprNode->Operator() == zeoAND &&
      Node->Left != nullptr && Node->Right != nullptr) {
    CollectConjuncts(Node->Left, Out);
    CollectConjuncts(Node->Right, Out);
    return;
  }
  Out.push_back(Node);
}

void TZelQueryAnalyser::CollectNullSupplying(const TZelTableRefNode* Node, bool Nullable) {
  if (Node == nullptr) return;
  if (Node->JoinType() == trTableName) {
    if (Nullable) NullSupplying_.insert(TableKey(Node->Text(), Node->CorrelationName()));
    return;
  }
  const TZelTableRefType t = Node->JoinType();
  const bool full = t == trFullOuterJoin || t == trUnionJoin;
  CollectNullSupplying(Node->Left(), Nullable || full || t == trRightOuterJoin);
  CollectNullSupplying(Node->Right(), Nullable || full || t == trLeftOuterJoin);
}

bool TZelQueryAnalyser::IsNullSupplying(const TTableNameItem& Table) const {
  return NullSupplying_.count(TableKey(Table.TableName(), Table.CorrelationName())) > 0;
}

void TZelQueryAnalyser::CreateBareSelects() {
  Joins_->Clear();
  Selects_->Clear();
  for (int32_t i = 0; TableList_ != nullptr && i < TableList_->Count(); ++i)
    Selects_->GetSelectItem(TableList_->Items(i)->TableName(),
                            TableList_->Items(i)->CorrelationName());
}

void TZelQueryAnalyser::Prepare(TZelJoins* Joins, TZelSelects* Selects, TZelExprNode* WhereRoot,
                                TTableList* TableList) {
  Joins_ = Joins;
  Selects_ = Selects;
  TableList_ = TableList;
  Clear();
  NullSupplying_.clear();
  for (const TZelTableRefNode* tree : FromTrees_) CollectNullSupplying(tree, false);
  CreateBareSelects();
  Root_ = Mirror(WhereRoot);
  if (Root_ == nullptr) return;
  std::vector<TQueryAnalyserNode*> parts;
  CollectConjuncts(Root_, parts);
  bool all = true;
  for (TQueryAnalyserNode* part : parts) {
    const TTableList& tables = *part->TableList;
    bool pushable = !part->Opaque && tables.Count() > 0;
    for (int32_t i = 0; pushable && i < tables.Count(); ++i)
      if (IsNullSupplying(*tables.Items(i))) pushable = false;
    if (pushable && tables.Count() == 1) {
      const TTableNameItem* t = tables.Items(0);
      Selects_->GetSelectItem(t->TableName(), t->CorrelationName())
          ->SetSelectExprRoot(part->ExprNode);
      part->SplitOK = true;
    } else if (pushable && part->ExprNode->Kind() == enkRelOperator) {
      Joins_->GetJoinItem(tables)->SetJoinExprRoot(part->ExprNode);
      part->SplitOK = true;
    }
    all = all && part->SplitOK;
  }
  // The ANDs above the parts are assigned when all parts are.
  for (const auto& node : Nodes_)
    if (!node->SplitOK && node->Left != nullptr) node->SplitOK = all;
  Root_->SplitOK = all;
  if (!all) CreateBareSelects();
}

bool TZelQueryAnalyser::CheckAnalysisComplete() const {
  return Root_ == nullptr || Root_->SplitOK;
}

}  // namespace zel
