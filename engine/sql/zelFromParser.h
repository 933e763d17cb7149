#pragma once
// The FROM clause as a tree of table references and joins, and the step that
// gives USING and NATURAL joins their join condition once the tables' fields
// are known.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/expr/zelBaseParser.h"
#include "engine/expr/zelBaseParserExpr.h"
#include "platform/rtl/Lists.h"

namespace zel {

enum TZelTableRefType : uint8_t {
  trUnknown,
  trCrossJoin,
  trUnionJoin,
  trInnerJoin,
  trLeftOuterJoin,
  trRightOuterJoin,
  trFullOuterJoin,
  trSubQuery,
  trTableName
};

const char* ZelTableRefTypeName(TZelTableRefType Type);

class TZelTableRefNode : public plat::TObject {
 public:
  TZelTableRefNode();
  ~TZelTableRefNode() override;
  std::string ClassName() const override { return "TZelTableRefNode"; }

  void Display(int32_t Indent, plat::TStrings& Lines) const;
  void DisplayTree(int32_t Indent, plat::TStrings& Lines) const;
  bool IsJoin() const { return JoinType_ >= trCrossJoin && JoinType_ <= trFullOuterJoin; }

  TZelExpr* Expr() const { return Expr_.get(); }
  TZelTableRefType JoinType() const { return JoinType_; }
  void SetJoinType(TZelTableRefType Value) { JoinType_ = Value; }
  const std::string& InnerTable() const { return InnerTable_; }
  void SetInnerTable(const std::string& Value) { InnerTable_ = Value; }
  const std::string& OuterTable() const { return OuterTable_; }
  void SetOuterTable(const std::string& Value) { OuterTable_ = Value; }
  TZelTableRefNode* Next() const { return Next_; }
  void SetNext(TZelTableRefNode* Value) { Next_ = Value; }
  TZelTableRefNode* Left() const { return Left_; }
  void SetLeft(TZelTableRefNode* Value) { Left_ = Value; }
  TZelTableRefNode* Right() const { return Right_; }
  void SetRight(TZelTableRefNode* Value) { Right_ = Value; }
  const std::string& Text() const { return Text_; }
  void SetText(const std::string& Value) { Text_ = Value; }
  bool IsNaturalJoin() const { return IsNaturalJoin_; }
  void SetIsNaturalJoin(bool Value) { IsNaturalJoin_ = Value; }
  plat::TStringList& UsingColumnList() const { return *UsingColumnList_; }
  const std::string& CorrelationName() const { return CorrelationName_; }
  void SetCorrelationName(const std::string& Value) { CorrelationName_ = Value; }

 private:
  std::unique_ptr<TZelExpr> Expr_;
  TZelTableRefType JoinType_ = trUnknown;
  std::string InnerTable_;
  std::string OuterTable_;
  TZelTableRefNode* Next_ = nullptr;
  TZelTableRefNode* Left_ = nullptr;
  TZelTableRefNode* Right_ = nullptr;
  std::string Text_;
  bool IsNaturalJoin_ = false;
  std::unique_ptr<plat::TStringList> UsingColumnList_;
  std::string CorrelationName_;
};

class TZelFromParser : public TBaseParser {
 public:
  TZelFromParser();
  ~TZelFromParser() override;
  std::string ClassName() const override { return "TZelFromParser"; }

  void Clear() override;
  bool Execute(TZelParserOptions Options, TParserStack* Stack) override;
  TZelTableRefNode* NewTableRefNode(TZelTableRefType Kind);
  int32_t GetExprCount() const;
  void DebugDisplay(plat::TStrings& Lines) const;
  static bool IsJoinSpecifier(TZelSQLToken Token);

  TTableList* TableList() const { return TableList_.get(); }
  TZelTableRefNode* Root() const { return Root_; }
  // The top of each comma-separated reference, in order.
  const std::vector<TZelTableRefNode*>& Trees() const { return Trees_; }
  const std::vector<std::unique_ptr<TZelTableRefNode>>& Nodes() const { return Nodes_; }

 private:
  TZelTableRefNode* ParseJoinedReference();
  TZelTableRefNode* ParsePrimaryReference();
  void ParseJoinCondition(TZelTableRefNode* Node);
  bool AtFromEnd() const;

  std::unique_ptr<TTableList> TableList_;
  std::vector<std::unique_ptr<TZelTableRefNode>> Nodes_;
  std::vector<TZelTableRefNode*> Trees_;
  TZelTableRefNode* Root_ = nullptr;
  int32_t Depth_ = 0;
};

class TJoinPostProcessor : public plat::TObject {
 public:
  std::string ClassName() const override { return "TJoinPostProcessor"; }
  void SetTableList(TTableList* Value) { TableList_ = Value; }
  bool ProcessJoinTree(TZelTableRefNode* Root);
  const std::string& ErrorMsg() const { return ErrorMsg_; }

 private:
  void ProcessNode(TZelTableRefNode* Node);
  TTableNameItem* ItemOf(const TZelTableRefNode* Leaf) const;
  const TZelTableRefNode* FindHolder(const TZelTableRefNode* Node, const std::string& Column) const;
  void CollectColumns(const TZelTableRefNode* Node, std::vector<std::string>& Columns) const;
  void AddEquality(TZelTableRefNode* Join, const std::string& Column,
                   const TZelTableRefNode* LeftLeaf, const TZelTableRefNode* RightLeaf);

  std::string ErrorMsg_;
  TTableList* TableList_ = nullptr;
};

}  // namespace zel
