#include "engine/sql/zelQueryPlanner.h"

#include "engine/storage/zelCommonError.h"
#include "platform/rtl/Exceptions.h"

namespace zel {

TZelJoinType MapJoinType(TZelTableRefType Type) {
  switch (Type) {
    case trCrossJoin: return jtCrossJoin;
    case trUnionJoin: return jtUnionJoin;
    case trInnerJoin: return jtInnerJoin;
    case trLeftOuterJoin: return jtLeftOuterJoin;
    case trRightOuterJoin: return jtRightOuterJoin;
    case trFullOuterJoin: return jtFullOuterJoin;
    default: return jtNone;
  }
}

void TZelQueryPlanner::CreatePlan(TZelPlan* Plan) {
  PLAT_ASSERT(Plan != nullptr, "zelQueryPlanner: The Plan is not assigned");
  PLAT_ASSERT(Plan->TableList() != nullptr, "zelQueryPlanner: The TableList is not assigned");
  PLAT_ASSERT(Plan->Joins() != nullptr, "zelQueryPlanner: The Joins is not assigned");
  PLAT_ASSERT(Plan->Selects() != nullptr, "zelQueryPlanner: The Selects is not assigned");
  PLAT_ASSERT(Plan->ProviderMgr() != nullptr, "zelQueryPlanner: The ProviderMgr is not assigned");
  Plan->PreparePlan();
}

TZelNonJoinDataProvider* TZelPlan::NewLeaf(const std::string& TableName,
                                           const std::string& Correlation) {
  const TTableNameItem* item = TableList_->FindTableAndCorrelationName(TableName, Correlation);
  return ProviderMgr_->GetNonJoinProvider(TableName, Correlation,
                                          item != nullptr && item->Memory());
}

TZelStdJoinDataProvider* TZelPlan::NewJoin(TZelJoinType Type, const std::string& Name,
                                           TZelBaseJoinDataProvider* Outer,
                                           TZelBaseJoinDataProvider* Inner) {
  TZelStdJoinDataProvider* join = ProviderMgr_->GetStdJoinProvider();
  join->SetProviderName(Name);
  join->SetJoinType(Type);
  join->SetOuterProvider(Outer);
  join->SetInnerProvider(Inner);
  return join;
}

TZelBaseJoinDataProvider* TZelPlan::FindInRoot(const std::string& TableName,
                                               const std::string& Correlation) const {
  if (Root_ == nullptr) return nullptr;
  return Root_->FindJoinProvider(Correlation.empty() ? TableName : Correlation);
}

TZelBaseJoinDataProvider* TZelPlan::ParseFromNode(TZelTableRefNode* Node) {
  if (Node == nullptr) return nullptr;
  if (Node->JoinType() == trTableName) {
    PLAT_ASSERT(Node->Left() == nullptr, "zelQueryPlanner: Node.left should be nil");
    PLAT_ASSERT(Node->Right() == nullptr, "zelQueryPlanner: Node.right should be nil");
    return NewLeaf(Node->Text(), Node->CorrelationName());
  }
  if (!Node->IsJoin()) return nullptr;
  PLAT_ASSERT(Node->Left() != nullptr, "zelQueryPlanner: Node.left should be assigned");
  PLAT_ASSERT(Node->Right() != nullptr, "zelQueryPlanner: Node.right should be assigned");
  TZelBaseJoinDataProvider* outer = ParseFromNode(Node->Left());
  TZelBaseJoinDataProvider* inner = ParseFromNode(Node->Right());
  PLAT_ASSERT(outer != nullptr && inner != nullptr, "zelQueryPlanner: join side without rows");
  const std::string name =
      !Node->Text().empty() ? Node->Text() : outer->ProviderName() + "." + inner->ProviderName();
  TZelStdJoinDataProvider* join = NewJoin(MapJoinType(Node->JoinType()), name, outer, inner);
  join->SetCorrelationName(Node->CorrelationName());
  join->SetJoinExpr(Node->Expr());
  return join;
}

void TZelPlan::InternalCreatePlan() {
  ProviderMgr_->Clear();
  Root_ = nullptr;
  // Each comma-separated reference that joins tables keeps its own joins;
  // single tables come in with the WHERE joins or as cross joins below.
  std::vector<TZelTableRefNode*> trees = FromTrees_;
  if (trees.empty() && FromRoot_ != nullptr) trees.push_back(FromRoot_);
  for (TZelTableRefNode* tree : trees) {
    if (tree == nullptr || (!tree->IsJoin() && tree != FromRoot_)) continue;
    TZelBaseJoinDataProvider* source = ParseFromNode(tree);
    if (source == nullptr) continue;
    Root_ = Root_ == nullptr ? source
                             : NewJoin(jtCrossJoin, Root_->ProviderName() + "." +
                                                        source->ProviderName(),
                                       Root_, source);
  }
  InternalCreateJoins();
  InternalJoinUnmatchedSelects();
  InternalAssignSelects();
  ProviderMgr_->SetRootProvider(Root_);
}

void TZelPlan::InternalCreateJoins() {
  for (int32_t i = 0; i < Joins_->Count(); ++i) {
    TZelJoinItem* item = Joins_->Items(i);
    if (item->TableList().Count() != 2)
      ZelDatabaseError(0x2185, "TZelPlan.InternalCreateJoins", "Joins > 2 not yet implemented");
    const TTableNameItem* a = item->TableList().Items(0);
    const TTableNameItem* b = item->TableList().Items(1);
    TZelBaseJoinDataProvider* foundA = FindInRoot(a->TableName(), a->CorrelationName());
    TZelBaseJoinDataProvider* foundB = FindInRoot(b->TableName(), b->CorrelationName());
    if (foundA != nullptr && foundB != nullptr)
      ZelDatabaseError(0x2185, "TZelPlan.InternalCreateJoins",
                       "Multi select joins not yet implemented");
    TZelStdJoinDataProvider* join = nullptr;
    if (foundA != nullptr || foundB != nullptr) {
      const TTableNameItem* other = foundA != nullptr ? b : a;
      join = NewJoin(jtInnerJoin, Root_->ProviderName() + "." + other->TableName(), Root_,
                     NewLeaf(other->TableName(), other->CorrelationName()));
    } else {
      join = NewJoin(jtInnerJoin, a->TableName() + "." + b->TableName(),
                     NewLeaf(a->TableName(), a->CorrelationName()),
                     NewLeaf(b->TableName(), b->CorrelationName()));
      // The rows already planned stay: the new pair joins them as a cross
      // product, not in their place.
      if (Root_ != nullptr)
        join = NewJoin(jtCrossJoin, Root_->ProviderName() + "." + join->ProviderName(), Root_,
                       join);
    }
    if (join->JoinType() == jtInnerJoin)
      join->SetJoinExprRoot(item->JoinExprRoot());
    else
      static_cast<TZelStdJoinDataProvider*>(join->InnerProvider())
          ->SetJoinExprRoot(item->JoinExprRoot());
    Root_ = join;
  }
}

void TZelPlan::InternalJoinUnmatchedSelects() {
  for (int32_t i = 0; i < Selects_->Count(); ++i) {
    TZelSelectItem* item = Selects_->Items(i);
    if (FindInRoot(item->TableName(), item->CorrelationName()) != nullptr) continue;
    TZelNonJoinDataProvider* leaf = NewLeaf(item->TableName(), item->CorrelationName());
    Root_ = Root_ == nullptr ? static_cast<TZelBaseJoinDataProvider*>(leaf)
                             : NewJoin(jtCrossJoin, Root_->ProviderName() + "." +
                                                        item->TableName(),
                                       Root_, leaf);
  }
  ProviderMgr_->SetRootProvider(Root_);
}

void TZelPlan::InternalAssignSelects() {
  PLAT_ASSERT(Root_ != nullptr, "zelQueryPlanner: Root provider is not assigned in InternalAssignSelects");
  for (int32_t i = 0; i < Selects_->Count(); ++i) {
    TZelSelectItem* item = Selects_->Items(i);
    TZelBaseJoinDataProvider* source = FindInRoot(item->TableName(), item->CorrelationName());
    if (source == nullptr)
      ZelDatabaseError(0x2728, "TZelPlan.InternalAssignSelects", item->TableName());
    source->SetJoinSelectExprRoot(item->SelectExprRoot());
  }
}

}  // namespace zel
