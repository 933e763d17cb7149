#pragma once
// Splits a WHERE condition into selections on single tables and join
// predicates between two tables, for the planner to push down.
//
// The condition is taken apart at its top-level ANDs. The analysis is
// complete only when every part was assigned; otherwise nothing is pushed
// down and the whole condition is evaluated over the joined rows. A part is
// never assigned when it refers to:
//  1. a table on the null-supplying side of an outer join in the FROM
//     clause (filtering that table before the join would bring back the
//     null-extended rows the condition removes);
//  2. no table at all, or something outside the statement (a subquery, an
//     outer reference).

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/expr/zelBaseParserExpr.h"
#include "engine/sql/zelFromParser.h"

namespace zel {

class TQueryAnalyserNode : public plat::TObject {
 public:
  TQueryAnalyserNode() : TableList(std::make_unique<TTableList>()) {}
  std::string ClassName() const override { return "TQueryAnalyserNode"; }
  TZelExprNode* ExprNode = nullptr;
  TQueryAnalyserNode* Left = nullptr;
  TQueryAnalyserNode* Right = nullptr;
  TQueryAnalyserNode* Next = nullptr;
  std::unique_ptr<TTableList> TableList;
  bool SplitOK = false;
  // Refers to something no table of the statement holds.
  bool Opaque = false;
};

// A predicate on one or more tables, several combined with AND.
class TZelPredicateItem : public plat::TObject {
 public:
  TZelPredicateItem() : TableList_(std::make_unique<TTableList>()) {}
  TZelExpr* Expr() const { return Expr_.get(); }
  TZelExprNode* Root() const { return Expr_ != nullptr ? Expr_->FirstNode() : nullptr; }
  TTableList& TableList() const { return *TableList_; }

 protected:
  // The first call clones Node as the root; later calls AND a clone of Node
  // with the previous root.
  void AddRoot(const TZelExprNode* Node);

 private:
  std::unique_ptr<TZelExpr> Expr_;
  std::unique_ptr<TTableList> TableList_;
};

class TZelJoinItem : public TZelPredicateItem {
 public:
  std::string ClassName() const override { return "TZelJoinItem"; }
  TZelExprNode* JoinExprRoot() const { return Root(); }
  void SetJoinExprRoot(const TZelExprNode* Node) { AddRoot(Node); }
};

class TZelSelectItem : public TZelPredicateItem {
 public:
  std::string ClassName() const override { return "TZelSelectItem"; }
  const std::string& TableName() const { return TableName_; }
  void SetTableName(const std::string& Value) { TableName_ = Value; }
  const std::string& CorrelationName() const { return CorrelationName_; }
  void SetCorrelationName(const std::string& Value) { CorrelationName_ = Value; }
  TZelExprNode* SelectExprRoot() const { return Root(); }
  void SetSelectExprRoot(const TZelExprNode* Node) { AddRoot(Node); }

 private:
  std::string TableName_;
  std::string CorrelationName_;
};

class TZelJoins : public plat::TObject {
 public:
  std::string ClassName() const override { return "TZelJoins"; }
  int32_t Count() const { return static_cast<int32_t>(Items_.size()); }
  TZelJoinItem* Items(int32_t Index) const { return Items_.at(static_cast<size_t>(Index)).get(); }
  // The item over exactly these tables, else a new one.
  TZelJoinItem* GetJoinItem(const TTableList& Tables);
  void Clear() { Items_.clear(); }

 private:
  std::vector<std::unique_ptr<TZelJoinItem>> Items_;
};

class TZelSelects : public plat::TObject {
 public:
  std::string ClassName() const override { return "TZelSelects"; }
  int32_t Count() const { return static_cast<int32_t>(Items_.size()); }
  TZelSelectItem* Items(int32_t Index) const { return Items_.at(static_cast<size_t>(Index)).get(); }
  TZelSelectItem* GetSelectItem(const std::string& TableName, const std::string& CorrelationName);
  void Clear() { Items_.clear(); }

 private:
  std::vector<std::unique_ptr<TZelSelectItem>> Items_;
};

class TZelQueryAnalyser : public plat::TObject {
 public:
  TZelQueryAnalyser();
  ~TZelQueryAnalyser() override;
  std::string ClassName() const override { return "TZelQueryAnalyser"; }

  // The FROM clause's trees, so that tables on the null-supplying side of an
  // outer join are known; without them every table counts as preserved.
  void SetFromTrees(const std::vector<TZelTableRefNode*>& Trees) { FromTrees_ = Trees; }
  void Prepare(TZelJoins* Joins, TZelSelects* Selects, TZelExprNode* WhereRoot,
               TTableList* TableList);
  // True without a WHERE condition or when all of it was assigned.
  bool CheckAnalysisComplete() const;
  TZelExpr& GetTempExpr();
  void Clear();

 private:
  TQueryAnalyserNode* Mirror(TZelExprNode* Node);
  void CollectTables(const TZelExprNode* Node, TQueryAnalyserNode& Into);
  void CollectConjuncts(TQueryAnalyserNode* Node, std::vector<TQueryAnalyserNode*>& Out);
  void CreateBareSelects();
  bool IsNullSupplying(const TTableNameItem& Table) const;
  void CollectNullSupplying(const TZelTableRefNode* Node, bool Nullable);

  TZelJoins* Joins_ = nullptr;
  TZelSelects* Selects_ = nullptr;
  TTableList* TableList_ = nullptr;
  TQueryAnalyserNode* Root_ = nullptr;
  std::vector<std::unique_ptr<TQueryAnalyserNode>> Nodes_;
  std::unique_ptr<TZelExpr> TempExpr_;
  std::vector<TZelTableRefNode*> FromTrees_;
  std::set<std::string> NullSupplying_;
};

}  // namespace zel
