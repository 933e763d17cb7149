#pragma once
// INSERT, UPDATE and DELETE read into their model: target table, target
// columns and values; a WHERE clause or the SELECT of an INSERT is left to
// the parser engine through the notification event.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/expr/zelBaseParser.h"
#include "engine/expr/zelBaseParserExpr.h"
#include "engine/expr/zelExprEvaluator.h"
#include "platform/db/DB.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Variants.h"

namespace plat {
class TParam;
class TParams;
}

namespace zel {

class TInternalFields;
class TSelectFields;

// Finds the parameters of one statement's values run after run without
// comparing names the collation's way each time: the list is looked at once
// per run, and while it holds the same parameters under byte for byte the
// same names, a name found before names the same parameter.
class TParamFinder {
 public:
  // Takes the list for a run; what was found in another list is forgotten.
  void Start(const plat::TParams& Params);
  // ParamByName's parameter (and its error for a name not in the list).
  plat::TParam* Find(const plat::TParams& Params, std::string_view Name);

 private:
  std::vector<std::pair<const plat::TParam*, std::string>> List_;
  std::vector<std::pair<std::string, plat::TParam*>> Found_;
};

class TZelRowConstructorElement {
 public:
  TZelRowConstructorElement();
  virtual ~TZelRowConstructorElement();

  TZelExpr* GetExpr();
  TZelExpr* Expr() const { return Expr_.get(); }
  bool HasExpr() const { return Expr_ != nullptr && Expr_->FirstNode() != nullptr; }
  void SetData(const plat::Variant& Value) { Data_ = Value; }
  const plat::Variant& Data() const { return Data_; }
  plat::Variant GetRowData();
  void Prepare(TZelExprDataProvider* Provider);
  // Takes the values of the parameters named, through Finder, started on
  // Params for the run.
  void BindExprParams(const plat::TParams* Params, TParamFinder& Finder);
  bool HasParameter() const { return HasParameter_; }
  void SetHasParameter(bool Value) { HasParameter_ = Value; }

 private:
  std::unique_ptr<TZelExpr> Expr_;
  plat::Variant Data_;
  std::unique_ptr<TExprEvaluator> Evaluator_;
  bool HasParameter_ = false;
  // The parameter a plain value names, once bound.
  std::string ParamName_;
};

class TZelUpdateRowConstructorElement : public TZelRowConstructorElement {
 public:
  const std::string& TargetColumnName() const { return TargetColumnName_; }
  void SetTargetColumnName(const std::string& Value) { TargetColumnName_ = Value; }
  int32_t TargetColumnIndex() const { return TargetColumnIndex_; }
  void SetTargetColumnIndex(int32_t Value) { TargetColumnIndex_ = Value; }

 private:
  std::string TargetColumnName_;
  int32_t TargetColumnIndex_ = -1;
};

template <class Element>
class TZelRowConstructorOf {
 public:
  Element* Add() {
    Items_.push_back(std::make_unique<Element>());
    return Items_.back().get();
  }
  Element* GetItems(int32_t Index) const { return Items_[Index].get(); }
  int32_t Count() const { return static_cast<int32_t>(Items_.size()); }
  void Clear() { Items_.clear(); }
  void Prepare(TZelExprDataProvider* Provider) {
    for (auto& item : Items_) item->Prepare(Provider);
  }
  void BindParams(const plat::TParams* Params) {
    if (Params == nullptr) return;
    Finder_.Start(*Params);
    for (auto& item : Items_)
      if (item->HasParameter()) item->BindExprParams(Params, Finder_);
  }

 private:
  std::vector<std::unique_ptr<Element>> Items_;
  TParamFinder Finder_;
};

using TZelRowConstructor = TZelRowConstructorOf<TZelRowConstructorElement>;
using TZelUpdateRowConstructor = TZelRowConstructorOf<TZelUpdateRowConstructorElement>;

// Shared by the three statements: the value reader and the WHERE hand-over.
class TZelExecParser : public TBaseParser {
 protected:
  TZelExecParser();
  // Reads one value up to one of Ends into Element; Tables (may be null)
  // resolves field references, which are refused without it.
  void ParseValue(TZelRowConstructorElement& Element, const TZelTokenSet& Ends,
                  TTableList* Tables);
  // Plants the marker of a clause the parser engine parses and hands it over.
  void HandOver(TZelExpr& Target);
  void CheckTerminated(const char* Message);
};

class TZelInsertParser : public TZelExecParser {
 public:
  TZelInsertParser();
  std::string ClassName() const override { return "TZelInsertParser"; }
  bool Execute(TZelParserOptions Options, TParserStack* Stack) override;
  void Clear() override;
  void CreateDefaultColumns(const TInternalFields& Fields);
  bool ValidateValueColumns(const TInternalFields& Fields);
  bool ValidateSelectColumns(const TSelectFields& SelectFields, const TInternalFields& TableFields);
  bool ValidateColumnsPresent(const TInternalFields& Fields);
  void ValidateAndSetDataTypes(const TInternalFields& Fields);
  static bool CheckDataConversionValid(plat::TFieldType FromType, plat::TFieldType ToType);

  plat::TStringList& Columns() const { return *Columns_; }
  const std::string& TableName() const { return TableName_; }
  TZelRowConstructor& Values() { return Values_; }
  bool ColumnsNotSpecified() const { return ColumnsNotSpecified_; }
  TZelExpr* SelectExpr() const { return SelectExpr_.get(); }
  bool HasSelectClause() const { return HasSelectClause_; }

 private:
  bool CheckColumnCount(int32_t ValueCount);
  std::unique_ptr<plat::TStringList> Columns_;
  std::string TableName_;
  TZelRowConstructor Values_;
  bool ColumnsNotSpecified_ = false;
  std::unique_ptr<TZelExpr> SelectExpr_;
  bool HasSelectClause_ = false;
};

class TZelDeleteParser : public TZelExecParser {
 public:
  TZelDeleteParser();
  std::string ClassName() const override { return "TZelDeleteParser"; }
  bool Execute(TZelParserOptions Options, TParserStack* Stack) override;
  void Clear() override;
  void SetTables(TTableList* Value) { Tables_ = Value; }
  void SetTableName(const std::string& Value) { TableName_ = Value; }
  void SetHasWhereClause(bool Value) { HasWhereClause_ = Value; }

  const std::string& TableName() const { return TableName_; }
  TZelExpr* WhereExpr() const { return WhereExpr_.get(); }
  bool HasWhereClause() const { return HasWhereClause_; }

 private:
  std::string TableName_;
  std::unique_ptr<TZelExpr> WhereExpr_;
  bool HasWhereClause_ = false;
  TTableList* Tables_ = nullptr;
};

class TZelUpdateParser : public TZelExecParser {
 public:
  using TTableListValidateEvent = std::function<bool(TTableList& Tables)>;

  TZelUpdateParser();
  std::string ClassName() const override { return "TZelUpdateParser"; }
  bool Execute(TZelParserOptions Options, TParserStack* Stack) override;
  void Clear() override;
  void SetTables(TTableList* Value) { Tables_ = Value; }
  void SetTableListValidateEvent(TTableListValidateEvent Value) { OnTableListValidate_ = std::move(Value); }
  void SetCorrelationName(const std::string& Value) { CorrelationName_ = Value; }
  bool ValidateValueColumns(const TInternalFields& Fields);
  void ValidateAndSetDataTypes(const TInternalFields& Fields);

  bool HasWhereClause() const { return HasWhereClause_; }
  const std::string& TableName() const { return TableName_; }
  TZelUpdateRowConstructor& SetList() { return SetList_; }
  TZelExpr* WhereExpr() const { return WhereExpr_.get(); }
  const std::string& CorrelationName() const { return CorrelationName_; }

 private:
  bool HasWhereClause_ = false;
  std::string TableName_;
  TTableList* Tables_ = nullptr;
  TZelUpdateRowConstructor SetList_;
  std::unique_ptr<TZelExpr> WhereExpr_;
  TTableListValidateEvent OnTableListValidate_;
  std::string CorrelationName_;
};

}  // namespace zel
