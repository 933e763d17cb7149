#include "engine/expr/zelFilterUnit.h"

#include <algorithm>
#include <chrono>

#include "engine/storage/zelCommonLog.h"
#include "platform/rtl/Exceptions.h"

namespace zel {

TZelBaseFilterEvaluator::TZelBaseFilterEvaluator() : Working_(std::make_unique<TZelExprParser>()) {
  Working_->SetValidateFields(true);
  Optimizer_.SetIndexQueryMgr(&IndexQueryMgr_);
}

TZelBaseFilterEvaluator::~TZelBaseFilterEvaluator() = default;

void TZelBaseFilterEvaluator::Close() {
  DefaultList_.Clear();
  ResultList_.Clear();
  Output_.clear();
  PreParser_.Clear();
  Optimizer_.Clear();
  EvaluatedCount_ = 0;
}

void TZelBaseFilterEvaluator::SetParserFlags(TZelExprParser& Parser) const {
  Parser.SetTableList(Tables_);
  Parser.SetValidateFields(true);
  Parser.SetCaseInsensitiveMatch(FilterOptions_.Contains(plat::foCaseInsensitive));
  Parser.SetPartialStringComparison(!FilterOptions_.Contains(plat::foNoPartialCompare));
}

bool TZelBaseFilterEvaluator::Parse() {
  Close();
  Errors_.clear();
  PreParser_.SetText(FilterText_);
  PreParser_.SetParseAsExprOnly(true);
  PreParser_.SetParseSingleStack(true);
  const auto earlierTokens = static_cast<int32_t>(PreParser_.OwnedTokens().size());
  PreParser_.PreParseTokens();
  // Comments mean nothing to a filter; the expression parser would refuse
  // them as tokens.
  TParserStack stack;
  stack.SetSection(zstWhere);
  if (TParserStack* tokens = PreParser_.GetSingleStack(); tokens != nullptr) {
    for (int32_t i = 0; i < tokens->Count(); ++i) {
      TParserToken* token = tokens->PeekAt(i);
      if (token->Token() != zstComment) stack.Queue(token);
    }
  }
  Working_ = std::make_unique<TZelExprParser>();
  SetParserFlags(*Working_);
  TZelParserOptions options;
  options.Include(zpoExtSyntax);
  const bool ok = Working_->Execute(options, &stack) && !Working_->HasParseError();
  if (!ok) {
    Errors_ = Working_->GetErrorMsgNoLine();
    return false;
  }
  Accumulated_.CloneFromExpr(*Working_->Expr(), true, zeoAND);
  // Only the expressions just replaced referred to the tokens of earlier
  // parses (a failed parse keeps them, for the accumulated filter).
  PreParser_.FreeOldestTokens(earlierTokens);
  return true;
}

void TZelBaseFilterEvaluator::Optimize() {
  Optimizer_.SetExcludeRelopNulls(ExcludeRelopNulls_);
  Optimizer_.SetExprRoot(WorkingRoot());
  Optimizer_.AnalyzeExpr();
}

bool TZelBaseFilterEvaluator::Prepare() {
  Close();
  if (!Parse()) return false;
  Optimize();
  return true;
}

bool TZelBaseFilterEvaluator::Open() {
  Close();
  PLAT_ASSERT(DataProvider_ != nullptr, "The Data provider is not assigned");
  DataProvider_->Open();
  if (!Prepare()) return false;
  Evaluate();
  return true;
}

void TZelBaseFilterEvaluator::Evaluate() {
  PLAT_ASSERT(DataProvider_ != nullptr, "The Data provider is not assigned");
  DefaultList_.Clear();
  ResultList_.Clear();
  Output_.clear();
  EvaluatedCount_ = 0;
  const TZelFilterOptimisationLevel level = Optimizer_.GetBaseOptimisationLevel();
  const bool addressOrder = QueryActive_ && !SortedOutput_;
  // Rows wanted in address order with nothing to narrow them: the
  // provider's scan reads them in that order, without listing them first.
  int32_t scanned = 0;
  const bool byScan = addressOrder && level == olNone &&
                      TExprResultListGenerator::ScanResultList(*DataProvider_, WorkingRoot(),
                                                               ExcludeRelopNulls_, ResultList_,
                                                               scanned);
  if (!byScan && (!addressOrder || level == olNone))
    DataProvider_->GetDefaultRecordList(DefaultList_);

  TCompoundList candidates;
  std::vector<void*> result;
  if (byScan) {
    EvaluatedCount_ = scanned;
    result.reserve(static_cast<size_t>(ResultList_.Count()));
    for (int32_t i = 0; i < ResultList_.Count(); ++i) result.push_back(ResultList_.Items(i));
  } else if (level != olNone) {
    Optimizer_.PrepareResultLists();
    const TRecordAddrList& listed = Optimizer_.GetResultSetList();
    if (level == olFull) {
      result.reserve(listed.size());
      for (uint32_t addr : listed) result.push_back(IntToListEntry(static_cast<int32_t>(addr)));
    } else {
      for (uint32_t addr : listed) candidates.Add(IntToListEntry(static_cast<int32_t>(addr)), nullptr);
    }
  }
  if (level != olFull && !byScan) {
    const TCompoundList& source = level == olNone ? DefaultList_ : candidates;
    EvaluatedCount_ = source.Count();
    TExprResultListGenerator::CreateResultList(*DataProvider_, WorkingRoot(), ExcludeRelopNulls_,
                                               ResultList_, source);
    result.reserve(static_cast<size_t>(ResultList_.Count()));
    for (int32_t i = 0; i < ResultList_.Count(); ++i) result.push_back(ResultList_.Items(i));
  }
  const auto byAddress = [](void* A, void* B) { return ListEntryToInt(A) < ListEntryToInt(B); };
  if (!std::is_sorted(result.begin(), result.end(), byAddress))
    std::sort(result.begin(), result.end(), byAddress);
  if (addressOrder) {
    Output_ = std::move(result);
    return;
  }
  // The default list's order, keeping its entries that passed.
  for (int32_t i = 0; i < DefaultList_.Count(); ++i) {
    void* entry = DefaultList_.Items(i);
    if (std::binary_search(result.begin(), result.end(), entry, byAddress)) Output_.push_back(entry);
  }
}

void TZelBaseFilterEvaluator::AssignExpr(TZelFilterExprDriver& Driver, TZelExprOperator Operator) {
  if (Driver.FilterExpr() == nullptr) return;
  const auto started = std::chrono::steady_clock::now();
  Close();
  Working_ = std::make_unique<TZelExprParser>();
  SetParserFlags(*Working_);
  const bool accumulated = Accumulated_.Root() != nullptr;
  if (!Driver.OverwriteExpr() && accumulated)
    Working_->CloneFromExpr(*Accumulated_.Expr(), true, Operator);
  Working_->CloneFromExpr(*Driver.FilterExpr(), Driver.OverwriteExpr() || !accumulated, Operator);
  Accumulated_.CloneFromExpr(*Working_->Expr(), true, Operator);
  ExcludeRelopNulls_ = Driver.ExcludeRelopNulls();
  Optimize();
  if (Driver.AssessExprOnly())
    AssessExpr(Driver);
  else
    Evaluate();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  // A kept statement assigns its filter on every run: a run too short to
  // count adds nothing and skips the monitor's text list.
  if (TDBLogger* logger = GDBLogger(); logger != nullptr && elapsed.count() > 0)
    logger->NamedMonitorDelta("BaseFilterEvaluator.AssignExpr time",
                              static_cast<int32_t>(elapsed.count()));
}

void TZelBaseFilterEvaluator::AssessExpr(TZelFilterExprDriver& Driver) {
  Driver.SetExprOptimizationLevel(Optimizer_.GetBaseOptimisationLevel());
  TExprFieldLimits limits;
  limits.FieldName = Driver.LimitFieldName();
  if (limits.FieldName.empty() || !Optimizer_.AssessExprFieldLimits(limits)) return;
  Driver.SetLimitMinSet(limits.MinSet);
  Driver.SetLimitFieldMin(limits.Min);
  Driver.SetLimitMaxSet(limits.MaxSet);
  Driver.SetLimitFieldMax(limits.Max);
  Driver.SetLimitsAssessed(true);
}

}  // namespace zel
