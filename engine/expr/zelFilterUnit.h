#pragma once
// The filter evaluator: turns a filter text, or a prepared expression, into
// the addresses of a data source's rows that satisfy it. The indexes the
// caller offers (IndexQueryMgr) answer what they can; the remaining
// candidates are evaluated row by row. TZelFilterExprDriver is how a caller
// hands a prepared expression and its settings to the evaluator.
//
// Use:
//   TZelBaseFilterEvaluator filter;
//   filter.SetDataProvider(&provider); filter.SetTables(&tables);
//   filter.IndexQueryMgr()->Add(index) for each usable open index;
//   filter.SetFilterText("a > 5 and b = 'x'"); filter.Open();
//   filter.GetRecordCount(), filter.Output(i).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/expr/zelExprEvaluator.h"
#include "engine/expr/zelExprParser.h"
#include "engine/expr/zelFilterOptimizer.h"
#include "engine/expr/zelParserUtils.h"
#include "platform/db/DB.h"

namespace zel {

class TZelFilterExprDriver : public plat::TObject {
 public:
  std::string ClassName() const override { return "TZelFilterExprDriver"; }

  TZelExpr* FilterExpr() const { return FilterExpr_; }
  void SetFilterExpr(TZelExpr* Value) { FilterExpr_ = Value; }
  bool OverwriteExpr() const { return OverwriteExpr_; }
  void SetOverwriteExpr(bool Value) { OverwriteExpr_ = Value; }
  bool OpenExistingExpr() const { return OpenExistingExpr_; }
  void SetOpenExistingExpr(bool Value) { OpenExistingExpr_ = Value; }
  bool EnforceExprOrder() const { return EnforceExprOrder_; }
  void SetEnforceExprOrder(bool Value) { EnforceExprOrder_ = Value; }
  bool ExcludeRelopNulls() const { return ExcludeRelopNulls_; }
  void SetExcludeRelopNulls(bool Value) { ExcludeRelopNulls_ = Value; }
  TZelFilterOptimisationLevel ExprOptimizationLevel() const { return ExprOptimizationLevel_; }
  void SetExprOptimizationLevel(TZelFilterOptimisationLevel Value) {
    ExprOptimizationLevel_ = Value;
  }
  bool AssessExprOnly() const { return AssessExprOnly_; }
  void SetAssessExprOnly(bool Value) { AssessExprOnly_ = Value; }
  const std::string& LimitFieldName() const { return LimitFieldName_; }
  void SetLimitFieldName(const std::string& Value) { LimitFieldName_ = Value; }
  const plat::Variant& LimitFieldMin() const { return LimitFieldMin_; }
  void SetLimitFieldMin(const plat::Variant& Value) { LimitFieldMin_ = Value; }
  const plat::Variant& LimitFieldMax() const { return LimitFieldMax_; }
  void SetLimitFieldMax(const plat::Variant& Value) { LimitFieldMax_ = Value; }
  bool LimitMinSet() const { return LimitMinSet_; }
  void SetLimitMinSet(bool Value) { LimitMinSet_ = Value; }
  bool LimitMaxSet() const { return LimitMaxSet_; }
  void SetLimitMaxSet(bool Value) { LimitMaxSet_ = Value; }
  bool LimitsAssessed() const { return LimitsAssessed_; }
  void SetLimitsAssessed(bool Value) { LimitsAssessed_ = Value; }
  int32_t MaximalResultSetSize() const { return MaximalResultSetSize_; }
  void SetMaximalResultSetSize(int32_t Value) { MaximalResultSetSize_ = Value; }
  const std::string& OrderIndexName() const { return OrderIndexName_; }
  void SetOrderIndexName(const std::string& Value) { OrderIndexName_ = Value; }

 private:
  TZelExpr* FilterExpr_ = nullptr;
  bool OverwriteExpr_ = false;
  bool OpenExistingExpr_ = false;
  bool EnforceExprOrder_ = false;
  bool ExcludeRelopNulls_ = false;
  TZelFilterOptimisationLevel ExprOptimizationLevel_ = olNone;
  bool AssessExprOnly_ = false;
  std::string LimitFieldName_;
  plat::Variant LimitFieldMin_;
  plat::Variant LimitFieldMax_;
  bool LimitMinSet_ = false;
  bool LimitMaxSet_ = false;
  bool LimitsAssessed_ = false;
  int32_t MaximalResultSetSize_ = 0;
  std::string OrderIndexName_;
};

class TZelBaseFilterEvaluator : public plat::TObject {
 public:
  TZelBaseFilterEvaluator();
  ~TZelBaseFilterEvaluator() override;
  TZelBaseFilterEvaluator(const TZelBaseFilterEvaluator&) = delete;
  TZelBaseFilterEvaluator& operator=(const TZelBaseFilterEvaluator&) = delete;
  std::string ClassName() const override { return "TZelBaseFilterEvaluator"; }

  // Parses the filter text; false with GetErrors on a parse error.
  bool Parse();
  void Optimize();
  bool Prepare();
  // Opens the provider, prepares and evaluates.
  bool Open();
  // Fills the output; the data provider must be set.
  void Evaluate();
  // Applies the driver's expression, alone (OverwriteExpr) or joined with
  // the accumulated one under Operator (zeoAND or zeoOR).
  void AssignExpr(TZelFilterExprDriver& Driver, TZelExprOperator Operator);
  void AssessExpr(TZelFilterExprDriver& Driver);
  void Close();

  std::string GetErrors() const { return Errors_; }
  // The accumulated expression.
  TZelExpr* GetFilterExpr() const { return Accumulated_.Expr(); }
  int32_t GetRecordCount() const { return static_cast<int32_t>(Output_.size()); }
  void* Output(int32_t Index) const { return Output_.at(static_cast<size_t>(Index)); }
  int32_t GetBaseRecNo() const { return DataProvider_ != nullptr ? DataProvider_->BaseRecNo() : 0; }
  TZelFilterOptimisationLevel OptimisationLevel() const {
    return Optimizer_.GetBaseOptimisationLevel();
  }
  const TFilterOptimizer& Optimizer() const { return Optimizer_; }
  // How many rows the last Evaluate handed to the evaluator.
  int32_t EvaluatedCount() const { return EvaluatedCount_; }

  TIndexQueryMgr* IndexQueryMgr() { return &IndexQueryMgr_; }
  bool Active() const { return Active_; }
  void SetActive(bool Value) { Active_ = Value; }
  void SetDataProvider(TZelExprDataProvider* Value) { DataProvider_ = Value; }
  bool ExcludeRelopNulls() const { return ExcludeRelopNulls_; }
  void SetExcludeRelopNulls(bool Value) { ExcludeRelopNulls_ = Value; }
  void SetFilterOptions(plat::TFilterOptions Value) { FilterOptions_ = Value; }
  void SetFilterText(const std::string& Value) { FilterText_ = Value; }
  void SetQueryActive(bool Value) { QueryActive_ = Value; }
  void SetSortedOutput(bool Value) { SortedOutput_ = Value; }
  void SetTables(TTableList* Value) { Tables_ = Value; }

 private:
  void SetParserFlags(TZelExprParser& Parser) const;
  TZelExprNode* WorkingRoot() const { return Working_->Root(); }

  TCompoundList DefaultList_;
  TCompoundList ResultList_;
  TZelPreParser PreParser_;
  std::unique_ptr<TZelExprParser> Working_;
  TFilterOptimizer Optimizer_;
  TIndexQueryMgr IndexQueryMgr_;
  TZelExprParser Accumulated_;
  std::vector<void*> Output_;
  TZelExprDataProvider* DataProvider_ = nullptr;
  TTableList* Tables_ = nullptr;
  bool ExcludeRelopNulls_ = false;
  std::string FilterText_;
  plat::TFilterOptions FilterOptions_;
  bool Active_ = false;
  bool QueryActive_ = false;
  bool SortedOutput_ = false;
  std::string Errors_;
  int32_t EvaluatedCount_ = 0;
};

}  // namespace zel
