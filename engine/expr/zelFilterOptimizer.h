#pragma once
// Answers the simple conditions of a filter from a table's indexes, so that
// fewer rows (or none) have to be evaluated.
//
// The optimizer builds a tree of TExprOptimizerNode parallel to the
// expression's conditions. Each node records how much of its condition the
// indexes answer (its level):
//   olFull    its record list holds exactly the rows for which it is True;
//   olPartial its record list holds every such row, and perhaps others;
//   olNone    no list: every row must be evaluated.
// Index lists follow the evaluator's three-valued logic: a row is listed only
// where the condition is True, never where it is unknown. So an AND may take
// the intersection and an OR the union of its operands' lists, and an index
// answer never changes a filter's result, only the work.
//
// Served from an index whose first key field is the field compared (a
// number, a string, a date, a time or a timestamp), with a constant that is
// not Null: =, <>, <, <=, >, >=, BETWEEN (two comparisons), IS [NOT] NULL,
// IN with a list of constants, LIKE 'prefix%'. A string comparison needs an
// index of the same case-sensitivity; an equality, IN or LIKE that is
// case-sensitive may read a case-insensitive index as a candidate list
// (olPartial). A case-insensitive index folds ASCII letters only, so it
// serves ASCII constants only. NOT is always evaluated.
//
// Before the tree is built the expression is simplified (OptimizeExprNode):
// date and time literals become moments, CURRENT_DATE and its kin the
// constant moment of this filter, UPPER(field) the field read
// case-insensitively (where that reads the same), constants of
// case-insensitive comparisons upper-cased, and operators over constants
// their value.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/expr/zelBaseParserExpr.h"
#include "engine/storage/zelCommonLists.h"
#include "engine/storage/zelIndexMgr.h"
#include "platform/rtl/Variants.h"

namespace zel {

enum TNodeResultType : uint8_t { nrNone, nrFixedFalse, nrFixedTrue, nrDynamic };
enum TZelFilterOptimisationLevel : uint8_t { olNone, olPartial, olFull };

// Record addresses; a node's list is in ascending order, each once.
using TRecordAddrList = std::vector<uint32_t>;
// Puts List in ascending order and drops repeated addresses.
void SortRecordList(TRecordAddrList& List);

// One index as the optimizer reads it: runs of keys on its first key field.
class TIndexDataInterface : public plat::TObject {
 public:
  explicit TIndexDataInterface(TIndexItem* Index) : Index_(Index) {}
  std::string ClassName() const override { return "TIndexDataInterface"; }

  TIndexItem* Index() const { return Index_; }
  bool ExcludeRelopNulls() const { return ExcludeRelopNulls_; }
  void SetExcludeRelopNulls(bool Value) { ExcludeRelopNulls_ = Value; }
  // The first key field: its name, type and order.
  const TKeyFieldItem* FirstField() const;

  // These append the addresses they find, unordered and perhaps repeated.
  // Adds to List the addresses of the rows for which "field Operator Value"
  // is True (zeoEQ, zeoNE, zeoLT, zeoLE, zeoGT, zeoGE; zeoISBLANK and
  // zeoNOTBLANK ignore Value). Other operators raise 0x2185.
  void GetRecordList(TZelExprOperator Operator, const plat::Variant& Value, TRecordAddrList& List);
  // Rows with Low <= field <= High (< where a bound is not inclusive).
  void GetBetweenRecordList(const plat::Variant& Low, bool LowInclusive, const plat::Variant& High,
                            bool HighInclusive, TRecordAddrList& List);
  // Rows whose value starts with Prefix (in the index's order: a superset
  // where the collation is not by character).
  void GetPrefixRecordList(const std::string& Prefix, TRecordAddrList& List);

 private:
  // One bound of a run in value order (Null below every value).
  struct TBound {
    bool Set = false;
    plat::Variant Value;
    bool Inclusive = true;
  };
  // Adds the rows whose value lies between Low and High (value order).
  void ListValueRun(const TBound& Low, const TBound& High, TRecordAddrList& List);
  // The same in the index's own order.
  void ListIndexRun(const TBound& First, const TBound& Last, TRecordAddrList& List);
  void BuildKey(const plat::Variant& Value, std::vector<uint8_t>& Key);

  TIndexItem* Index_;
  bool ExcludeRelopNulls_ = false;
  // Kept from run to run: the markers of a search key, the bounds' keys.
  TComparisonMarkers Markers_;
  std::vector<uint8_t> FirstKey_;
  std::vector<uint8_t> LastKey_;
};

// An index offered to the optimizer.
class TIndexQueryItem : public plat::TObject {
 public:
  explicit TIndexQueryItem(TIndexItem* Index)
      : IndexName_(Index->IndexName()), Interface_(std::make_unique<TIndexDataInterface>(Index)) {}
  std::string ClassName() const override { return "TIndexQueryItem"; }
  const std::string& IndexName() const { return IndexName_; }
  TIndexDataInterface* IndexInterface() const { return Interface_.get(); }

 private:
  std::string IndexName_;
  std::unique_ptr<TIndexDataInterface> Interface_;
};

class TIndexQueryMgr : public plat::TObject {
 public:
  std::string ClassName() const override { return "TIndexQueryMgr"; }
  // Offers an open index of the table.
  TIndexQueryItem* Add(TIndexItem* Index);
  int32_t Count() const { return static_cast<int32_t>(Items_.size()); }
  TIndexQueryItem* Items(int32_t Index) const { return Items_.at(static_cast<size_t>(Index)).get(); }
  // The first index whose first key field is FieldName (ignoring case) and,
  // for a string field, is CaseInsensitive as asked; nullptr when none.
  TIndexQueryItem* FindIndexForField(const std::string& FieldName, bool CaseInsensitive) const;
  void Clear() { Items_.clear(); }

 private:
  std::vector<std::unique_ptr<TIndexQueryItem>> Items_;
};

// One field's lowest and highest value that an expression allows.
struct TExprFieldLimits {
  std::string FieldName;
  plat::Variant Min;
  plat::Variant Max;
  bool MinSet = false;
  bool MaxSet = false;
};

class TExprOptimizerNode : public plat::TObject {
 public:
  std::string ClassName() const override { return "TExprOptimizerNode"; }

  TExprOptimizerNode* Left = nullptr;
  TExprOptimizerNode* Right = nullptr;
  TZelExprNode* ExprNode = nullptr;
  // The index serving a leaf, else nullptr.
  TIndexDataInterface* IndexInterface = nullptr;
  TNodeResultType NodeResultType = nrDynamic;
  TZelFilterOptimisationLevel OptimisationLevel = olNone;
  TRecordAddrList RecordList;
  bool ListPrepared = false;
};

class TFilterOptimizer : public plat::TObject {
 public:
  TFilterOptimizer() = default;
  TFilterOptimizer(const TFilterOptimizer&) = delete;
  TFilterOptimizer& operator=(const TFilterOptimizer&) = delete;
  std::string ClassName() const override { return "TFilterOptimizer"; }

  void SetExprRoot(TZelExprNode* Root) { ExprRoot_ = Root; }
  TIndexQueryMgr* IndexQueryMgr() const { return IndexQueryMgr_; }
  void SetIndexQueryMgr(TIndexQueryMgr* Value) { IndexQueryMgr_ = Value; }
  bool ExcludeRelopNulls() const { return ExcludeRelopNulls_; }
  void SetExcludeRelopNulls(bool Value) { ExcludeRelopNulls_ = Value; }

  // Builds the optimizer tree over the expression root.
  void AnalyzeExpr();
  // The root's level; olNone without a root.
  TZelFilterOptimisationLevel GetBaseOptimisationLevel() const;
  // Reads every index-served node's list and combines them up to the root.
  void PrepareResultLists();
  void CombineResultLists() {}
  // The root's list (empty below olPartial).
  const TRecordAddrList& GetResultSetList() const;
  int32_t GetResultSetCount() const { return static_cast<int32_t>(GetResultSetList().size()); }
  // The tightest bounds that the AND-connected comparisons of
  // Limits.FieldName with constants set (=, <, <=, >, >=; a bound's
  // inclusiveness is not kept); false when there is none.
  bool AssessExprFieldLimits(TExprFieldLimits& Limits) const;
  // One line per condition an index serves, in the order of the filter:
  // "index: field OPERATOR full" (or "partial").
  void ListIndexRequests(plat::TStrings& Lines) const;
  int32_t GetNodeCount() const { return static_cast<int32_t>(Nodes_.size()); }
  TExprOptimizerNode* Root() const { return Root_; }
  void Clear();

 private:
  void OptimizeExprNode(TZelExprNode* Node);
  void SimplifyUpper(TZelExprNode* Node);
  TExprOptimizerNode* Build(TZelExprNode* Node);
  TExprOptimizerNode* NewNode(TZelExprNode* Node);
  void AnalyzeLeaf(TExprOptimizerNode* Opt);
  void ChooseLeafIndex(TExprOptimizerNode* Opt);
  void PrepareList(TExprOptimizerNode* Opt);

  TZelExprNode* ExprRoot_ = nullptr;
  TIndexQueryMgr* IndexQueryMgr_ = nullptr;
  bool ExcludeRelopNulls_ = false;
  TExprOptimizerNode* Root_ = nullptr;
  std::vector<std::unique_ptr<TExprOptimizerNode>> Nodes_;
  TRecordAddrList Empty_;
};

}  // namespace zel
