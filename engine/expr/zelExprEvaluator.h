#pragma once
// Evaluation of parsed expressions against the current row of a data
// source, and the filtering of record lists with it.
//
// The evaluator never reads tables: field values come through
// TZelExprDataProvider, which the dataset layer implements for one table and
// the query engine for joins; subquery rows come through each subquery
// node's TCustomExprNodeDataProvider (zelBaseParserExpr.h).
//
// Use:
//   TExprEvaluator evaluator;
//   evaluator.SetExcludeRelopNulls(true);       // SQL: a Null compares unknown
//   evaluator.Prepare(&provider, parser.Root());
//   for each row: provider moves to it; evaluator.Reset();
//                 evaluator.Evaluate() (a condition) or EvaluateValueExpr().
//
// Logic is three-valued (Kleene, see zelBaseParserOps.h): a condition passes
// only when it is True. Parameter nodes evaluate to their Data, which the
// caller sets to the parameter's value; CURRENT_DATE, CURRENT_TIME and
// CURRENT_TIMESTAMP nodes likewise to the Data the caller (the filter
// optimizer) fills in. Aggregate and outer-reference nodes are not computed
// here: the query engine replaces them with constants
// (TZelExpr::ResetSpecifiedNodes) before evaluating; left in place they are
// unknown.
//
// Faults of the data raise engine errors: division by zero, values of the
// wrong kind and a condition that gives no Boolean 0x25AD naming the
// expression; CAST and EXTRACT of a value they cannot take 0x2710; a scalar
// subquery with more than one row, or a comparison of two quantified
// subqueries, 0x25B2; a subquery with more than one column 0x25B8;
// IDENT_CURRENT of an unknown generator 0x278D.
// Misconfiguration (a missing provider, field or string comparison) fails an
// internal assertion.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/expr/zelBaseParserExpr.h"
#include "engine/storage/zelCommonLists.h"
#include "engine/storage/zelDataFields.h"
#include "platform/rtl/Variants.h"

namespace zel {

// Compares A (LengthA bytes) with B (LengthB bytes): negative, zero or
// positive. With Partial a shorter A that is a prefix of B is equal.
using TZelDBStringCompare =
    std::function<int32_t(const char* A, const char* B, int32_t LengthA, int32_t LengthB,
                          bool Partial, bool CaseInsensitive)>;

// The database behind a provider, for what an expression asks of it.
class TZelDataProviderBaseDBInterface : public plat::TObject {
 public:
  std::string ClassName() const override { return "TZelDataProviderBaseDBInterface"; }
  // The current value of the named generator; the base raises 0x278D.
  virtual int32_t GetCurrentGeneratorValue(const std::string& Name);
};

// The rows an expression is evaluated against. A record address is what
// the provider's record lists hold (TCompoundList lead entries).
class TZelExprDataProvider : public plat::TObject {
 public:
  explicit TZelExprDataProvider(TZelDataProviderBaseDBInterface* DBInterface = nullptr);
  ~TZelExprDataProvider() override;
  TZelExprDataProvider(const TZelExprDataProvider&) = delete;
  TZelExprDataProvider& operator=(const TZelExprDataProvider&) = delete;
  std::string ClassName() const override { return "TZelExprDataProvider"; }

  virtual TInternalFields* GetProviderFields() { return ProviderFields_.get(); }
  // The field's value in the current row (FieldNo of its TInternalFieldItem);
  // Null for a field without a value. The base gives unknown.
  virtual plat::Variant GetDataAsVariant(int32_t FieldNo);
  // The base asks GetDataAsVariant.
  virtual bool IsFieldNull(int32_t FieldNo);
  // A text field's value read in place, valid until the provider moves:
  // IsNull for a field without a value, else Text. False (the base) where
  // the value is only given by GetDataAsVariant.
  virtual bool GetFieldText(int32_t FieldNo, std::string_view& Text, bool& IsNull);
  // A whole-number field's value read in place (the value GetDataAsVariant
  // gives as a Smallint or Integer): IsNull for a field without a value,
  // else Value. False (the base) where the value is only given by
  // GetDataAsVariant.
  virtual bool GetFieldInteger(int32_t FieldNo, int64_t& Value, bool& IsNull);
  // Fills List with the addresses of every candidate row; the base adds none.
  virtual void GetDefaultRecordList(TCompoundList& List);
  virtual void Open() {}
  virtual void Refresh() {}
  // Makes the row at RecAddr current; false when it cannot (the base).
  virtual bool MoveToRecord(void* RecAddr);
  // Makes each candidate row current in turn, in address order, and calls
  // Visit with its address: the rows GetDefaultRecordList lists, without
  // the list. False, with nothing visited, where the provider cannot walk
  // its rows so (the base).
  virtual bool ScanRecords(const std::function<void(void* RecAddr)>& Visit);
  // The field Name (the base looks in ProviderFields); Token is the field's
  // token, for providers that tell tables apart by it.
  virtual TInternalFieldItem* FindField(const TParserToken* Token, const std::string& Name);
  // The provider serving the named table (or correlation name); the base
  // serves every table itself.
  virtual TZelExprDataProvider* FindProvider(const std::string& Name);
  virtual bool PassFilterEvent(void* RecAddr);

  TInternalFields* ProviderFields() const { return ProviderFields_.get(); }
  const TZelDBStringCompare& DBStringCompare() const { return DBStringCompare_; }
  void SetDBStringCompare(TZelDBStringCompare Value) { DBStringCompare_ = std::move(Value); }
  int32_t BaseRecNo() const { return BaseRecNo_; }
  void SetBaseRecNo(int32_t Value) { BaseRecNo_ = Value; }
  TZelDataProviderBaseDBInterface* DBInterface() const { return DBInterface_; }
  bool HasPassFilterEvent() const { return HasPassFilterEvent_; }
  void SetHasPassFilterEvent(bool Value) { HasPassFilterEvent_ = Value; }

 private:
  std::unique_ptr<TInternalFields> ProviderFields_;
  TZelDBStringCompare DBStringCompare_;
  int32_t BaseRecNo_ = 0;
  TZelDataProviderBaseDBInterface* DBInterface_ = nullptr;
  bool HasPassFilterEvent_ = false;
};

// A LIKE pattern taken apart once for the rows it is matched against. A
// pattern without "_" whose literal text is whole characters is kept as the
// literal runs between its "%"s, found by plain byte search: a run starting
// with a whole character can only be found at a character boundary of the
// value. Other patterns are matched character by character.
class TZelLikePattern {
 public:
  // Takes Pattern apart unless it is the one already held. Escape is the
  // escape character, empty for none; with Fold the pattern is upper-cased
  // (the escape is not), for a value upper-cased alike.
  void Assign(std::string_view Pattern, std::string_view Escape, bool Fold);
  bool Matches(std::string_view Value) const;

 private:
  std::string Source_;  // Pattern as given
  std::string Escape_;
  bool Fold_ = false;
  bool Assigned_ = false;
  std::string Pattern_;  // as matched (folded with Fold_)
  // Runs_ holds the literals between the "%"s, so their count is one more
  // than the number of "%" groups; empty when matched character by character.
  std::vector<std::string> Runs_;
  bool ByRuns_ = false;
};

// A comparison of a whole-number field with a whole-number constant or
// parameter, taken apart once for a run of rows in which constants stay
// (TExprEvaluator::SettleConstants): the field is always on the left.
struct TZelIntegerTest {
  enum TState : uint8_t { itUnsettled, itApplies, itNone };
  TState State = itUnsettled;
  TZelExprDataProvider* Provider = nullptr;
  int32_t FieldNo = 0;
  TZelExprOperator Operator = zeoNOTDEFINED;
  int64_t Given = 0;
};

// One node of the evaluator's tree, standing for one expression node.
class TExprEvaluatorNode : public plat::TObject {
 public:
  std::string ClassName() const override { return "TExprEvaluatorNode"; }

  TExprEvaluatorNode* Left() const { return Left_; }
  void SetLeft(TExprEvaluatorNode* Value) { Left_ = Value; }
  TExprEvaluatorNode* Next() const { return Next_; }
  void SetNext(TExprEvaluatorNode* Value) { Next_ = Value; }
  TExprEvaluatorNode* Right() const { return Right_; }
  void SetRight(TExprEvaluatorNode* Value) { Right_ = Value; }
  TZelExprNode* ExprNode() const { return ExprNode_; }
  void SetExprNode(TZelExprNode* Value) { ExprNode_ = Value; }
  TInternalFieldItem* FieldRef() const { return FieldRef_; }
  void SetFieldRef(TInternalFieldItem* Value) { FieldRef_ = Value; }
  // The pattern of a LIKE node, kept between rows.
  TZelLikePattern& LikePattern() { return LikePattern_; }
  std::vector<TExprEvaluatorNode*>& Args() { return Args_; }
  TZelIntegerTest& IntegerTest() { return IntegerTest_; }
  TZelExprDataProvider* DataProvider() const { return DataProvider_; }
  void SetDataProvider(TZelExprDataProvider* Value) { DataProvider_ = Value; }

 private:
  TExprEvaluatorNode* Left_ = nullptr;
  TExprEvaluatorNode* Next_ = nullptr;
  TExprEvaluatorNode* Right_ = nullptr;
  TZelExprNode* ExprNode_ = nullptr;
  TInternalFieldItem* FieldRef_ = nullptr;
  std::vector<TExprEvaluatorNode*> Args_;
  TZelLikePattern LikePattern_;
  TZelIntegerTest IntegerTest_;
  TZelExprDataProvider* DataProvider_ = nullptr;
};

// The values of a subquery's rows that stay the same for a whole statement
// run, kept by the IN predicate that reads them instead of the rows being
// walked for each outer row.
struct TZelSubqueryValues {
  const TCustomExprNodeDataProvider* Rows = nullptr;
  uint64_t Stamp = 0;
  // Every value, in the rows' order.
  std::vector<plat::Variant> Values;
  // Where every value but Null is an integer: those values, and the Nulls
  // and unknown values (one of each kind) still to be compared.
  bool AllIntegers = true;
  std::unordered_set<int64_t> Integers;
  std::vector<plat::Variant> NonIntegers;
};

class TExprEvaluator : public plat::TObject {
 public:
  TExprEvaluator() = default;
  ~TExprEvaluator() override;
  TExprEvaluator(const TExprEvaluator&) = delete;
  TExprEvaluator& operator=(const TExprEvaluator&) = delete;
  std::string ClassName() const override { return "TExprEvaluator"; }

  // Builds the evaluator tree over Root, resolving every field once through
  // Provider (a table-qualified field through Provider->FindProvider). The
  // string comparison is the provider's unless one was set here.
  void Prepare(TZelExprDataProvider* Provider, TZelExprNode* Root);
  bool IsPrepared() const { return Root_ != nullptr; }
  // True only when the condition is True for the current row.
  bool Evaluate();
  // The value for the current row; unknown is the unassigned variant.
  plat::Variant EvaluateValueExpr();
  // Starts a row. No result outlives the row it was computed for, so there
  // is nothing to forget.
  void Reset() {}
  // Promises that no constant or parameter of the tree changes until the
  // next Prepare (a scan or a list of candidates, not the rows of a query
  // whose outer references are set as constants): comparisons of a
  // whole-number field with a whole-number constant are then taken apart
  // here once rather than at every row.
  void SettleConstants();
  void Clear();

  TExprEvaluatorNode* Root() const { return Root_; }
  TZelExprDataProvider* DataProvider() const { return DataProvider_; }
  void SetDBStringCompare(TZelDBStringCompare Value) { DBStringCompare_ = std::move(Value); }
  bool ExcludeRelopNulls() const { return ExcludeRelopNulls_; }
  // Set for SQL: a comparison, LIKE or IN with a Null operand is unknown.
  // Clear for table filters, where Null orders first and equals Null.
  void SetExcludeRelopNulls(bool Value) { ExcludeRelopNulls_ = Value; }

 private:
  TExprEvaluatorNode* BuildNode(TZelExprNode* Node);
  // Evaluate's way for every condition it does not decide at once.
  bool EvaluateCondition();
  plat::Variant EvaluateNode(TExprEvaluatorNode* Node);
  // The node's value: a constant or parameter is read in place, anything
  // else is evaluated into Slot.
  const plat::Variant& Operand(TExprEvaluatorNode* Node, plat::Variant& Slot);
  plat::Variant EvaluateField(TExprEvaluatorNode* Node);
  plat::Variant EvaluateRelop(TExprEvaluatorNode* Node);
  // A whole-number field against a whole-number constant or parameter,
  // compared on the stored value; false (Outcome unset) for any other
  // comparison, and where the field is Null.
  static bool IntegerFieldRelop(TExprEvaluatorNode* Node, bool& Outcome);
  // Whether the comparison Node has that shape as its constants stand now;
  // Test is filled when it has.
  static bool TakeIntegerTest(TExprEvaluatorNode* Node, TZelIntegerTest& Test);
  plat::Variant EvaluateStringRelop(TZelExprNode* Node, const plat::Variant& Left,
                                    const plat::Variant& Right);
  plat::Variant EvaluateLogical(TExprEvaluatorNode* Node);
  plat::Variant EvaluateArith(TExprEvaluatorNode* Node);
  plat::Variant EvaluateFunction(TExprEvaluatorNode* Node);
  plat::Variant EvaluateLike(TExprEvaluatorNode* Node);
  plat::Variant EvaluateInPredicate(TExprEvaluatorNode* Node);
  // "field IN (subquery)" with the field's stored whole number and the
  // subquery's listed values (ListedValuesStamp): Found, where that decides
  // it; false where the Variant way must.
  bool ListedIntegerIn(TExprEvaluatorNode* Node, bool& Found);
  plat::Variant EvaluateCastExpr(TZelExprNode* Node, const plat::Variant& Value);
  plat::Variant EvaluateExtractExpr(TZelExprNode* Node, const plat::Variant& Value);
  plat::Variant EvaluateSubqueryValue(TZelExprNode* Subquery, const char* Caller);
  // Compares Value with the rows of a quantified (ANY, SOME, ALL) subquery;
  // SubqueryOnLeft tells on which side of Operator the rows stand.
  plat::Variant EvaluateQuantified(TZelExprNode* Subquery, TZelExprOperator Operator,
                                   const plat::Variant& Value, bool SubqueryOnLeft);
  plat::Variant Compare(TZelExprOperator Operator, const plat::Variant& Left,
                        const plat::Variant& Right) const;
  // The subquery's values, read again only when its rows changed: listed
  // by Rows where Listed, else read from its result.
  const TZelSubqueryValues& KeptSubqueryValues(const TExprEvaluatorNode* Node,
                                               TCustomExprNodeDataProvider& Rows, uint64_t Stamp,
                                               bool Listed);

  TExprEvaluatorNode* Root_ = nullptr;
  TExprEvaluatorNode* Nodes_ = nullptr;
  TZelExprDataProvider* DataProvider_ = nullptr;
  TZelDBStringCompare DBStringCompare_;
  bool ExcludeRelopNulls_ = false;
  std::vector<std::unique_ptr<TExprEvaluatorNode>> Owned_;
  std::unordered_map<const TExprEvaluatorNode*, TZelSubqueryValues> SubqueryValues_;
  // The entry of SubqueryValues_ read last (its elements stay where they are).
  std::pair<const TExprEvaluatorNode* const, TZelSubqueryValues>* LastKept_ = nullptr;
};

// Filters a record list with a condition: the interface the filter and the
// query engine use to turn candidate rows into result rows.
class TExprResultListGenerator {
 public:
  // Empties ResultList, then adds, in CandidateList's order, every entry
  // (address and its companion) whose row Provider can move to and for which
  // Root is True. Without Root every candidate is copied. The provider must
  // have a string comparison (else engine error 0x2751).
  static void CreateResultList(TZelExprDataProvider& Provider, TZelExprNode* Root,
                               bool ExcludeRelopNulls, TCompoundList& ResultList,
                               const TCompoundList& CandidateList);
  // The same over every candidate row of the provider in address order, read
  // by its scan (companions are nil); Scanned gets the number of rows seen.
  // False where the provider cannot scan.
  static bool ScanResultList(TZelExprDataProvider& Provider, TZelExprNode* Root,
                             bool ExcludeRelopNulls, TCompoundList& ResultList, int32_t& Scanned);
};

}  // namespace zel
