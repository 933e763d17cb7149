#pragma once
// The select list of a SELECT statement and its analysis against the
// statement's tables: output columns, GROUP BY, HAVING, ORDER BY, DISTINCT
// and UNION checks.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/expr/zelBaseParser.h"
#include "engine/expr/zelBaseParserExpr.h"
#include "engine/expr/zelParserUtils.h"
#include "platform/db/DB.h"
#include "platform/rtl/Lists.h"

namespace zel {

class TOrderByItems;
class TGroupByItems;
class TInternalFieldItem;

enum TSelectNodeType : uint8_t { snSingleColumn, snGroupColumn, snAggFunc };

class TZelSelectNode : public plat::TObject {
 public:
  TZelSelectNode();
  ~TZelSelectNode() override;
  std::string ClassName() const override { return "TZelSelectNode"; }
  void Display(int32_t Indent, plat::TStrings& Lines) const;

  TZelExpr* Expr() const { return Expr_.get(); }
  TZelSelectNode* Next() const { return Next_; }
  void SetNext(TZelSelectNode* Value) { Next_ = Value; }
  const std::string& Qualifier() const { return Qualifier_; }
  void SetQualifier(const std::string& Value) { Qualifier_ = Value; }
  TParserToken* Token() const { return Token_; }
  void SetToken(TParserToken* Value) { Token_ = Value; }
  const std::string& RawColumnName() const { return RawColumnName_; }
  void SetRawColumnName(const std::string& Value) { RawColumnName_ = Value; }
  TSelectNodeType SelectNodeType() const { return SelectNodeType_; }
  void SetSelectNodeType(TSelectNodeType Value) { SelectNodeType_ = Value; }
  const std::string& OutputColumnName() const { return OutputColumnName_; }
  void SetOutputColumnName(const std::string& Value) { OutputColumnName_ = Value; }

 private:
  std::unique_ptr<TZelExpr> Expr_;
  TZelSelectNode* Next_ = nullptr;
  std::string Qualifier_;
  TParserToken* Token_ = nullptr;
  std::string RawColumnName_;
  TSelectNodeType SelectNodeType_ = snSingleColumn;
  std::string OutputColumnName_;
};

class TZelSelectParser : public TBaseParser {
 public:
  TZelSelectParser();
  ~TZelSelectParser() override;
  std::string ClassName() const override { return "TZelSelectParser"; }

  void Clear() override;
  bool Execute(TZelParserOptions Options, TParserStack* Stack) override;
  void DebugDisplay(plat::TStrings& Lines) const;

  TZelSelectNode* FirstNode() const { return Nodes_.empty() ? nullptr : Nodes_.front().get(); }
  const std::vector<std::unique_ptr<TZelSelectNode>>& Nodes() const { return Nodes_; }
  TTableList* TableList() const { return TableList_; }
  void SetTableList(TTableList* Value) { TableList_ = Value; }
  bool IsDistinct() const { return IsDistinct_; }
  void SetIsDistinct(bool Value) { IsDistinct_ = Value; }

 private:
  TZelSelectNode* NewNode(TSelectNodeType Type);
  void ParseSubList();
  void ParseDerivedColumn(TSelectNodeType Type);

  std::vector<std::unique_ptr<TZelSelectNode>> Nodes_;
  TTableList* TableList_ = nullptr;
  bool IsDistinct_ = false;
};

// One output column: its description and where its value comes from.
class TSelectFieldItem {
 public:
  std::string FieldName;
  plat::TFieldType DataType = plat::ftUnknown;
  int32_t FieldSize = 0;
  TTableNameItem* SourceTableItem = nullptr;
  bool HasAggregateFunction = false;
  TZelExprNode* ExprRoot = nullptr;
  std::string SourceFieldName;
  std::string RawColumnName;
  bool DistinctQuantifier = false;
  bool IsGrouped = false;
  TZelSQLAggFunc AggFunc = zafUnknown;
  std::string CustomQualifier;
  TZelExprNode* AggExprRoot = nullptr;
  // The column's whole expression as written (nullptr for table columns
  // added by "*").
  TZelExprNode* ColumnRoot = nullptr;
};

class TSelectFields {
 public:
  TSelectFieldItem* Add();
  TSelectFieldItem* AddSelectField(const std::string& Name, const std::string& SourceName,
                                   const TInternalFieldItem* FieldItem, TTableNameItem* TableItem);
  bool ContainsAggregateColumns() const;
  bool ContainsGroupedOutput() const;
  TSelectFieldItem* FindField(const std::string& Name) const;
  TSelectFieldItem* FindColumn(const std::string& Name, const std::string& Qualifier) const;
  void Assign(const TSelectFields& Source);
  void Clear() { Items_.clear(); }
  int32_t Count() const { return static_cast<int32_t>(Items_.size()); }
  TSelectFieldItem* GetItems(int32_t Index) const { return Items_[Index].get(); }

 private:
  std::vector<std::unique_ptr<TSelectFieldItem>> Items_;
};

class TZelSelectAnalyser : public plat::TObject {
 public:
  std::string ClassName() const override { return "TZelSelectAnalyser"; }

  bool CheckSelect(const std::vector<std::unique_ptr<TZelSelectNode>>* SelectRoot,
                   TTableList* TableList);
  void AnalyseColumnNode(const TZelSelectNode& Node);
  void AddFieldsForTable(const std::string& Qualifier, TTableNameItem* TableItem);
  void PrepareAllFields();
  bool CheckGroupedColumns(TGroupByItems& GroupByItems);
  bool CheckHavingExpr(TZelExpr* Expr);
  bool CheckOrderByColumns(TOrderByItems& OrderByItems);
  bool ValidateUnionSelectFields(const TSelectFields& Fields);
  void SetIsDistinct(bool Value) { IsDistinct_ = Value; }
  void SetSelectFields(const TSelectFields& Value) { SelectFields_.Assign(Value); }

  TSelectFields& SelectFields() { return SelectFields_; }
  const std::string& ErrorMsg() const { return ErrorMsg_; }

 private:
  bool CheckHavingFields(const TZelExprNode* Node);
  // Makes every field node of an aggregate's argument a Null constant.
  static void NullHavingFields(TZelExprNode* Node);

  TSelectFields SelectFields_;
  TTableList* TableList_ = nullptr;
  std::string ErrorMsg_;
  bool IsDistinct_ = false;
};

}  // namespace zel
