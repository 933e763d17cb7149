#pragma once
// Builds a statement's tree of row sources in the provider manager from the
// FROM clause, the join predicates and the selections the query analyser
// found.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/sql/zelFromParser.h"
#include "engine/sql/zelJoinDataProviderUnit.h"
#include "engine/sql/zelQueryAnalyser.h"

namespace zel {

TZelJoinType MapJoinType(TZelTableRefType Type);

class TZelPlan : public plat::TObject {
 public:
  std::string ClassName() const override { return "TZelPlan"; }

  void PreparePlan() { InternalCreatePlan(); }
  void PrepareCrossJoinPlan() { InternalJoinUnmatchedSelects(); }

  TTableList* TableList() const { return TableList_; }
  void SetTableList(TTableList* Value) { TableList_ = Value; }
  TZelJoins* Joins() const { return Joins_; }
  void SetJoins(TZelJoins* Value) { Joins_ = Value; }
  TZelSelects* Selects() const { return Selects_; }
  void SetSelects(TZelSelects* Value) { Selects_ = Value; }
  TZelJoinDataProviderMgr* ProviderMgr() const { return ProviderMgr_; }
  void SetProviderMgr(TZelJoinDataProviderMgr* Value) { ProviderMgr_ = Value; }
  TZelTableRefNode* FromRoot() const { return FromRoot_; }
  void SetFromRoot(TZelTableRefNode* Value) { FromRoot_ = Value; }
  // Every top-level FROM reference; where given, each one that joins tables
  // becomes a row source (cross-joined with the others), not only FromRoot.
  void SetFromTrees(const std::vector<TZelTableRefNode*>& Trees) { FromTrees_ = Trees; }

 private:
  void InternalCreatePlan();
  TZelBaseJoinDataProvider* ParseFromNode(TZelTableRefNode* Node);
  void InternalCreateJoins();
  void InternalJoinUnmatchedSelects();
  void InternalAssignSelects();
  TZelNonJoinDataProvider* NewLeaf(const std::string& TableName, const std::string& Correlation);
  TZelBaseJoinDataProvider* FindInRoot(const std::string& TableName,
                                       const std::string& Correlation) const;
  TZelStdJoinDataProvider* NewJoin(TZelJoinType Type, const std::string& Name,
                                   TZelBaseJoinDataProvider* Outer,
                                   TZelBaseJoinDataProvider* Inner);

  TTableList* TableList_ = nullptr;
  TZelJoins* Joins_ = nullptr;
  TZelSelects* Selects_ = nullptr;
  TZelJoinDataProviderMgr* ProviderMgr_ = nullptr;
  TZelTableRefNode* FromRoot_ = nullptr;
  std::vector<TZelTableRefNode*> FromTrees_;
  TZelBaseJoinDataProvider* Root_ = nullptr;
};

class TZelQueryPlanner : public plat::TObject {
 public:
  std::string ClassName() const override { return "TZelQueryPlanner"; }
  void CreatePlan(TZelPlan* Plan);
};

}  // namespace zel
