#include "engine/expr/zelFilterOptimizer.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "engine/expr/zelBaseParser.h"
#include "engine/expr/zelBaseParserOps.h"
#include "engine/expr/zelExprEvaluator.h"
#include "engine/expr/zelExprParser.h"
#include "engine/expr/zelParserUtils.h"
#include "engine/storage/zelCommonError.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

void Union(TRecordAddrList& Into, const TRecordAddrList& Other) {
  TRecordAddrList out;
  out.reserve(Into.size() + Other.size());
  std::set_union(Into.begin(), Into.end(), Other.begin(), Other.end(), std::back_inserter(out));
  Into.swap(out);
}

void Intersect(TRecordAddrList& Into, const TRecordAddrList& Other) {
  TRecordAddrList out;
  std::set_intersection(Into.begin(), Into.end(), Other.begin(), Other.end(),
                        std::back_inserter(out));
  Into.swap(out);
}

bool IsComparison(TZelExprOperator Op) {
  return Op == zeoEQ || Op == zeoNE || Op == zeoLT || Op == zeoLE || Op == zeoGT || Op == zeoGE;
}

std::string FieldNameOf(const TZelExprNode* Node) {
  const std::string name = Node->Data().AsString();
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

bool IsIntegralValue(const plat::Variant& V) {
  switch (V.VarType()) {
    case plat::varSmallint:
    case plat::varInteger:
    case plat::varShortInt:
    case plat::varByte:
    case plat::varWord:
    case plat::varLongWord:
    case plat::varInt64:
      return true;
    default:
      return false;
  }
}

bool IsNumericValue(const plat::Variant& V) {
  return IsIntegralValue(V) || V.VarType() == plat::varDouble || V.VarType() == plat::varSingle ||
         V.VarType() == plat::varCurrency;
}

// Whether the index key holds Value exactly as the evaluator compares it:
// a key cut short, a fraction dropped or a value out of the field's range
// would list rows that do not match.
bool KeyHoldsValue(const TKeyFieldItem& Field, const plat::Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty()) return false;
  switch (Field.DataType()) {
    case plat::ftString:
      return plat::VarIsStr(Value) &&
             static_cast<int32_t>(Value.AsString().size()) <= Field.FieldSize() - 1;
    case plat::ftSmallint:
    case plat::ftInteger:
    case plat::ftWord: {
      // A whole number may come as a float (an IN list keeps its numbers so).
      int64_t v = 0;
      if (IsIntegralValue(Value)) {
        v = Value.AsInt64();
      } else {
        if (!IsNumericValue(Value)) return false;
        const double d = Value.AsFloat();
        if (!(d >= -2147483648.0 && d <= 2147483647.0) || d != std::floor(d)) return false;
        v = static_cast<int64_t>(d);
      }
      if (Field.DataType() == plat::ftSmallint) return v >= -32768 && v <= 32767;
      if (Field.DataType() == plat::ftWord) return v >= 0 && v <= 65535;
      return v >= INT32_MIN && v <= INT32_MAX;
    }
    case plat::ftFloat:
      return IsNumericValue(Value);
    case plat::ftDate:
    case plat::ftTime:
    case plat::ftDateTime:
      // Keyed as the moment's number, which is how the evaluator compares.
      return Value.VarType() == plat::varDate || IsNumericValue(Value);
    default:
      return false;
  }
}

// The least string above every string that starts with Prefix, in byte
// order; empty when there is none.
std::string PrefixSuccessor(std::string Prefix) {
  while (!Prefix.empty()) {
    unsigned char& last = reinterpret_cast<unsigned char&>(Prefix.back());
    if (last != 0xFF) {
      ++last;
      return Prefix;
    }
    Prefix.pop_back();
  }
  return Prefix;
}

}  // namespace

void SortRecordList(TRecordAddrList& List) {
  if (std::is_sorted(List.begin(), List.end())) {
    List.erase(std::unique(List.begin(), List.end()), List.end());
    return;
  }
  // A run of an index comes in key order, which for a range of many keys is
  // no order of addresses at all: three counting passes of 11 bits beat a
  // comparison sort there.
  constexpr size_t kRadixFrom = 512;
  if (List.size() < kRadixFrom) {
    std::sort(List.begin(), List.end());
  } else {
    TRecordAddrList other(List.size());
    TRecordAddrList* from = &List;
    TRecordAddrList* to = &other;
    for (int32_t shift = 0; shift < 32; shift += 11) {
      size_t counts[2048] = {};
      for (uint32_t v : *from) ++counts[(v >> shift) & 2047];
      size_t sum = 0;
      for (size_t& c : counts) {
        const size_t n = c;
        c = sum;
        sum += n;
      }
      for (uint32_t v : *from) (*to)[counts[(v >> shift) & 2047]++] = v;
      std::swap(from, to);
    }
    // Three passes leave the sorted list in the other vector.
    List.swap(other);
  }
  List.erase(std::unique(List.begin(), List.end()), List.end());
}

// ---------------------------------------------------------------------------
// TIndexDataInterface

const TKeyFieldItem* TIndexDataInterface::FirstField() const {
  return Index_->KeyFields().Count() == 0 ? nullptr : Index_->KeyFields().Items(0);
}

void TIndexDataInterface::BuildKey(const plat::Variant& Value, std::vector<uint8_t>& Key) {
  TBTree& tree = Index_->BTree();
  // Fields after the first sort below every value, so that a search lands
  // on the first key whose first field is Value.
  if (Markers_.empty()) {
    Markers_.assign(static_cast<size_t>(Index_->KeyFields().Count()), fcForceBOF);
    Markers_[0] = fcDefault;
  }
  tree.ConstructKeyBufFromVariants(Value, &Markers_);
  Key.assign(tree.SearchKey(), tree.SearchKey() + tree.MaximumKeySize() + 1);
}

void TIndexDataInterface::ListIndexRun(const TBound& First, const TBound& Last,
                                       TRecordAddrList& List) {
  TBTree& tree = Index_->BTree();
  if (Last.Set) BuildKey(Last.Value, LastKey_);
  if (First.Set) {
    // The search reads the tree's search key, so the first bound goes last.
    BuildKey(First.Value, FirstKey_);
    TSearchModifier modifier;
    modifier.LimitedSearch = true;
    modifier.IncludedKeyFieldCount = 1;
    // Not 0: no key of the index lies at or after the bound.
    if (tree.IndexSearch(First.Inclusive ? stGE : stGT, &modifier) != 0) return;
  } else if (!tree.SetCursorToEnd(true)) {
    return;
  }
  tree.ListRunAddresses(Last.Set ? LastKey_.data() : nullptr, 1, Last.Inclusive, List);
}

void TIndexDataInterface::ListValueRun(const TBound& Low, const TBound& High,
                                       TRecordAddrList& List) {
  // A descending field keeps the highest value first (and Null last).
  if (FirstField()->Descending())
    ListIndexRun(High, Low, List);
  else
    ListIndexRun(Low, High, List);
}

void TIndexDataInterface::GetRecordList(TZelExprOperator Operator, const plat::Variant& Value,
                                        TRecordAddrList& List) {
  // Null sorts below every value. A comparison is True for a Null key only
  // where Null orders below the constant and Nulls are not excluded.
  TBound nullsOut{true, plat::Null(), false};
  TBound below = ExcludeRelopNulls_ ? nullsOut : TBound{};
  TBound none;
  switch (Operator) {
    case zeoEQ:
      ListValueRun({true, Value, true}, {true, Value, true}, List);
      return;
    case zeoNE:
      ListValueRun(below, {true, Value, false}, List);
      ListValueRun({true, Value, false}, none, List);
      return;
    case zeoLT:
    case zeoLE:
      ListValueRun(below, {true, Value, Operator == zeoLE}, List);
      return;
    case zeoGT:
    case zeoGE:
      ListValueRun({true, Value, Operator == zeoGE}, none, List);
      return;
    case zeoISBLANK:
      ListValueRun({true, plat::Null(), true}, {true, plat::Null(), true}, List);
      return;
    case zeoNOTBLANK:
      ListValueRun(nullsOut, none, List);
      return;
    default:
      ZelDatabaseError(0x2185, "TIndexDataInterface.GetRecordList",
                       "Unexpected seek type in Internal Find", this);
  }
}

void TIndexDataInterface::GetBetweenRecordList(const plat::Variant& Low, bool LowInclusive,
                                               const plat::Variant& High, bool HighInclusive,
                                               TRecordAddrList& List) {
  ListValueRun({true, Low, LowInclusive}, {true, High, HighInclusive}, List);
}

void TIndexDataInterface::GetPrefixRecordList(const std::string& Prefix, TRecordAddrList& List) {
  const std::string upper = FirstField()->CaseInsensitive() ? plat::AnsiUpperCase(Prefix) : Prefix;
  const std::string next = PrefixSuccessor(upper);
  TBound high;
  if (!next.empty()) high = {true, plat::Variant(next), false};
  ListValueRun({true, plat::Variant(upper), true}, high, List);
}

// ---------------------------------------------------------------------------
// TIndexQueryMgr

TIndexQueryItem* TIndexQueryMgr::Add(TIndexItem* Index) {
  Items_.push_back(std::make_unique<TIndexQueryItem>(Index));
  return Items_.back().get();
}

TIndexQueryItem* TIndexQueryMgr::FindIndexForField(const std::string& FieldName,
                                                   bool CaseInsensitive) const {
  for (const auto& item : Items_) {
    const TKeyFieldItem* first = item->IndexInterface()->FirstField();
    if (first == nullptr || !plat::AnsiSameText(first->FieldName(), FieldName)) continue;
    if (ZelIsStringType(first->DataType()) && first->CaseInsensitive() != CaseInsensitive)
      continue;
    return item.get();
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// TFilterOptimizer

void TFilterOptimizer::Clear() {
  Root_ = nullptr;
  Nodes_.clear();
}

TExprOptimizerNode* TFilterOptimizer::NewNode(TZelExprNode* Node) {
  Nodes_.push_back(std::make_unique<TExprOptimizerNode>());
  Nodes_.back()->ExprNode = Node;
  return Nodes_.back().get();
}

namespace {

bool IsConst(const TZelExprNode* Node) { return Node != nullptr && Node->Kind() == enkConst; }

// True, False, or unknown (Null) where Node is such a constant; nullopt else.
enum class TConstTruth { No, True, FalseOrUnknown };
TConstTruth ConstTruth(const TZelExprNode* Node) {
  if (!IsConst(Node)) return TConstTruth::No;
  const plat::Variant& data = Node->Data();
  if (data.IsNull()) return TConstTruth::FalseOrUnknown;
  if (data.VarType() != plat::varBoolean) return TConstTruth::No;
  return data.AsBoolean() ? TConstTruth::True : TConstTruth::FalseOrUnknown;
}

}  // namespace

namespace {

bool IsAsciiText(const std::string& Text) {
  return std::all_of(Text.begin(), Text.end(),
                     [](char C) { return static_cast<unsigned char>(C) < 0x80; });
}

// Text that a case-insensitive comparison reads unchanged: no lower-case
// letter, and nothing beyond ASCII, which the indexes' collation does not
// fold while the upper-casing of the field's value does.
bool IsFoldedText(const plat::Variant& Value) {
  if (!plat::VarIsStr(Value)) return false;
  const std::string text = Value.AsString();
  return IsAsciiText(text) && plat::AnsiUpperCase(text) == text;
}

bool IsStringField(const TZelExprNode* Node) {
  return Node != nullptr && Node->Kind() == enkField &&
         (Node->DataType() == plat::ftString || Node->DataType() == plat::ftWideString);
}

// The constants a condition compares its left operand with: the right
// operand, or an IN list; empty when any of them is not a constant.
std::vector<TZelExprNode*> ComparedConstants(TZelExprNode* Node) {
  std::vector<TZelExprNode*> out;
  const TZelExprOperator op = Node->Operator();
  if (Node->Kind() == enkRelOperator && IsComparison(op)) {
    out.push_back(Node->Right());
  } else if (Node->Kind() == enkNonRelPredicate && op == zeoLIKE && Node->Args().empty()) {
    out.push_back(Node->Right());
  } else if (Node->Kind() == enkNonRelPredicate && op == zeoIN) {
    out.assign(Node->Args().begin(), Node->Args().end());
  }
  for (TZelExprNode* c : out)
    if (!IsConst(c)) return {};
  return out;
}

}  // namespace

// Bottom-up simplification before the optimizer tree is built: literals are
// put in the form the indexes compare (dates as dates, case-insensitive text
// upper-cased), UPPER over a field becomes the field read case-insensitively,
// and a comparison or arithmetic over two constants becomes the constant it
// computes, so that the conditions around it see a fixed truth. None of this
// changes what a row evaluates to.
void TFilterOptimizer::OptimizeExprNode(TZelExprNode* Node) {
  if (Node == nullptr) return;
  OptimizeExprNode(Node->Left());
  OptimizeExprNode(Node->Right());
  for (TZelExprNode* arg : Node->Args()) OptimizeExprNode(arg);
  const TZelExprNodeKind kind = Node->Kind();
  if (kind == enkConst) {
    // A date, time or timestamp literal still held as its text.
    if (ZelIsTemporalType(Node->DataType()) && plat::VarIsStr(Node->Data()) &&
        !Node->Data().AsString().empty()) {
      plat::Variant value;
      TZelDataConversionValidator::ConvertStrToDateTime(Node->Data().AsString(),
                                                        Node->DataType(), value);
      Node->SetData(value);
    }
    return;
  }
  if (kind == enkFunc && Node->ParserToken() != nullptr) {
    // The clock is read once per filter, so every row sees the same moment;
    // as a constant it can be looked up in an index.
    plat::Variant now;
    switch (Node->ParserToken()->Token()) {
      case zstCurrentDate:
        now = plat::VarFromDateTime(plat::Date());
        break;
      case zstCurrentTime:
        now = plat::VarFromDateTime(plat::Time());
        break;
      case zstCurrentTimestamp:
        now = plat::VarFromDateTime(plat::Now());
        break;
      case zstStrFunc:
        if (Node->ParserToken()->CustomOrdinal() == zsfUpper) SimplifyUpper(Node);
        return;
      default:
        return;
    }
    Node->SetData(now);
    Node->SetKind(enkConst);
    return;
  }
  const std::vector<TZelExprNode*> constants = ComparedConstants(Node);
  if (!constants.empty() && IsStringField(Node->Left())) {
    // UPPER(field) compared with text that has no lower-case letter reads
    // the same as a case-insensitive comparison of the field, which a
    // case-insensitive index can answer.
    if (Node->Left()->CaseInsensitiveMatch() && !Node->CaseInsensitiveMatch() &&
        std::all_of(constants.begin(), constants.end(),
                    [](const TZelExprNode* C) { return IsFoldedText(C->Data()); }))
      Node->SetCaseInsensitiveMatch(true);
    // The field is read upper-cased here, so its constants are too.
    if (Node->CaseInsensitiveMatch() && Node->Left()->CaseInsensitiveMatch())
      for (TZelExprNode* c : constants)
        if (plat::VarIsStr(c->Data())) c->SetData(plat::Variant(plat::AnsiUpperCase(c->Data().AsString())));
  }
  // With partial matching, a string constant ending in "*" asks for the
  // values that start with the text before it.
  TZelExprNode* right = Node->Right();
  if (kind == enkRelOperator && Node->PartialMatch() && IsConst(right) &&
      (right->DataType() == plat::ftString || right->DataType() == plat::ftWideString) &&
      plat::VarIsStr(right->Data())) {
    const std::string text = right->Data().AsString();
    if (text.size() > 1 && text.back() == '*') {
      right->SetData(plat::Variant(text.substr(0, text.size() - 1)));
      right->SetPartialLength(static_cast<int32_t>(text.size() - 1));
      Node->SetPartialLength(static_cast<int32_t>(text.size() - 1));
    }
  }
  if ((kind != enkRelOperator && kind != enkArithOperator) || !Node->Args().empty() ||
      !IsConst(Node->Left()) || !IsConst(Node->Right()))
    return;
  // Strings compare by the table's collation, which only the evaluator has.
  if (ZelIsStringType(Node->Left()->DataType()) || ZelIsStringType(Node->Right()->DataType()))
    return;
  plat::Variant value;
  try {
    TZelExprDataProvider provider;
    TExprEvaluator evaluator;
    evaluator.SetExcludeRelopNulls(ExcludeRelopNulls_);
    evaluator.Prepare(&provider, Node);
    value = evaluator.EvaluateValueExpr();
  } catch (const EZelDatabaseError&) {
    // A fault (a division by zero, say) is left for the evaluator to raise
    // when a row reaches it.
    return;
  }
  Node->SetKind(enkConst);
  Node->SetData(value);
  Node->SetLeft(nullptr);
  Node->SetRight(nullptr);
}

// UPPER over a string field is the field read case-insensitively (the
// evaluator upper-cases such a field's value); over a constant it is the
// upper-cased constant. The field stays wrapped where the two would read
// differently: under partial matching a field, unlike a function, is
// compared over the other side's length only; and UPPER of a Null is
// unknown, which compares as a Null field does only when Nulls are excluded
// from comparisons.
void TFilterOptimizer::SimplifyUpper(TZelExprNode* Node) {
  TZelExprNode* operand = Node->Right();
  if (operand == nullptr || Node->Left() != nullptr || !Node->Args().empty()) return;
  if (IsStringField(operand)) {
    if (Node->PartialMatch() || !ExcludeRelopNulls_) return;
    Node->AssignNode(operand);
    Node->SetCaseInsensitiveMatch(true);
    return;
  }
  if (!IsConst(operand)) return;
  const plat::Variant& value = operand->Data();
  if (value.IsNull() || value.IsEmpty()) {
    Node->SetData(value);
  } else if (plat::VarIsStr(value)) {
    Node->SetData(plat::Variant(plat::AnsiUpperCase(value.AsString())));
  } else {
    return;
  }
  Node->SetKind(enkConst);
  Node->SetRight(nullptr);
}

void TFilterOptimizer::AnalyzeExpr() {
  Clear();
  if (ExprRoot_ == nullptr) return;
  OptimizeExprNode(ExprRoot_);
  Root_ = Build(ExprRoot_);
}

void TFilterOptimizer::ListIndexRequests(plat::TStrings& Lines) const {
  for (const auto& opt : Nodes_) {
    if (opt->IndexInterface == nullptr) continue;
    const TZelExprNode* node = opt->ExprNode;
    Lines.Add(opt->IndexInterface->Index()->IndexName() + ": " + FieldNameOf(node->Left()) + " " +
              ZelExprOperatorName(node->Operator()) +
              (opt->OptimisationLevel == olFull ? " full" : " partial"));
  }
}

TZelFilterOptimisationLevel TFilterOptimizer::GetBaseOptimisationLevel() const {
  return Root_ == nullptr ? olNone : Root_->OptimisationLevel;
}

const TRecordAddrList& TFilterOptimizer::GetResultSetList() const {
  return Root_ == nullptr ? Empty_ : Root_->RecordList;
}

TExprOptimizerNode* TFilterOptimizer::Build(TZelExprNode* Node) {
  if (Node == nullptr) return nullptr;
  TExprOptimizerNode* opt = NewNode(Node);
  const TZelExprOperator op = Node->Operator();
  if (op == zeoAND || op == zeoOR) {
    opt->Left = Build(Node->Left());
    opt->Right = Build(Node->Right());
    const TZelFilterOptimisationLevel l = opt->Left->OptimisationLevel;
    const TZelFilterOptimisationLevel r = opt->Right->OptimisationLevel;
    const TConstTruth lc = ConstTruth(Node->Left());
    const TConstTruth rc = ConstTruth(Node->Right());
    // An operand that leaves the result to the other one (True in an AND,
    // False or unknown in an OR) takes that one's level and list. A fixed
    // AND False, or OR True, is left to the evaluator.
    const TConstTruth neutral = op == zeoAND ? TConstTruth::True : TConstTruth::FalseOrUnknown;
    if (lc != TConstTruth::No || rc != TConstTruth::No) {
      if (lc == neutral && rc == TConstTruth::No)
        opt->OptimisationLevel = r;
      else if (rc == neutral && lc == TConstTruth::No)
        opt->OptimisationLevel = l;
      return opt;
    }
    if (op == zeoAND) {
      // Rows True for both are in each listed operand's list.
      if (l == olFull && r == olFull)
        opt->OptimisationLevel = olFull;
      else if (l != olNone || r != olNone)
        opt->OptimisationLevel = olPartial;
    } else if (l != olNone && r != olNone) {
      // Rows True for either are in one of the two lists.
      opt->OptimisationLevel = l == olFull && r == olFull ? olFull : olPartial;
    }
    return opt;
  }
  // NOT, and anything not listed below, stays for the evaluator: the
  // complement of a list would also hold the rows where the operand is
  // unknown.
  AnalyzeLeaf(opt);
  return opt;
}

void TFilterOptimizer::AnalyzeLeaf(TExprOptimizerNode* Opt) {
  ChooseLeafIndex(Opt);
  if (Opt->IndexInterface == nullptr || !Opt->IndexInterface->FirstField()->CaseInsensitive())
    return;
  // A case-insensitive index folds ASCII letters only, while the field's
  // value is upper-cased beyond ASCII too: text outside ASCII is left to the
  // evaluator.
  for (const TZelExprNode* c : ComparedConstants(Opt->ExprNode))
    if (plat::VarIsStr(c->Data()) && !IsAsciiText(c->Data().AsString())) {
      Opt->IndexInterface = nullptr;
      Opt->OptimisationLevel = olNone;
      return;
    }
}

void TFilterOptimizer::ChooseLeafIndex(TExprOptimizerNode* Opt) {
  if (IndexQueryMgr_ == nullptr) return;
  TZelExprNode* node = Opt->ExprNode;
  const TZelExprOperator op = node->Operator();
  TZelExprNode* field = node->Left();
  if (field == nullptr || field->Kind() != enkField) return;
  const std::string name = FieldNameOf(field);
  const bool nodeCI = node->CaseInsensitiveMatch();
  const TZelSQLToken token =
      node->ParserToken() != nullptr ? node->ParserToken()->Token() : zstUnknown;

  const auto serve = [&](TIndexQueryItem* item, TZelFilterOptimisationLevel level) {
    if (item == nullptr) return false;
    Opt->IndexInterface = item->IndexInterface();
    Opt->OptimisationLevel = level;
    return true;
  };
  // An equality that is case-sensitive may take its candidates from a
  // case-insensitive index: those rows include every exact match.
  const auto serveEquality = [&](bool AllExact) {
    if (serve(IndexQueryMgr_->FindIndexForField(name, nodeCI), AllExact ? olFull : olPartial))
      return;
    if (!nodeCI) serve(IndexQueryMgr_->FindIndexForField(name, true), olPartial);
  };

  if (op == zeoISBLANK || op == zeoNOTBLANK) {
    TIndexQueryItem* item = IndexQueryMgr_->FindIndexForField(name, false);
    if (item == nullptr) item = IndexQueryMgr_->FindIndexForField(name, true);
    serve(item, olFull);
    return;
  }
  // UPPER(field) compared with text in lower case: no index orders the
  // field's values the way that comparison reads them.
  if (IsStringField(field) && field->CaseInsensitiveMatch() != nodeCI) return;
  if (node->Kind() == enkRelOperator && IsComparison(op)) {
    TZelExprNode* value = node->Right();
    if (value == nullptr || value->Kind() != enkConst) return;
    if (node->PartialMatch() && plat::VarIsStr(value->Data())) {
      // A partial comparison reads the field over the constant's length: an
      // equality holds for the values that start with the constant and for
      // those the constant starts with; their runs give candidates.
      if (op == zeoEQ) serveEquality(false);
      return;
    }
    TIndexQueryItem* item = IndexQueryMgr_->FindIndexForField(name, nodeCI);
    TZelFilterOptimisationLevel level = olFull;
    if (item == nullptr && op == zeoEQ && !nodeCI) {
      item = IndexQueryMgr_->FindIndexForField(name, true);
      level = olPartial;
    }
    if (item != nullptr && KeyHoldsValue(*item->IndexInterface()->FirstField(), value->Data()))
      serve(item, level);
    return;
  }
  if (op == zeoIN && token != zstNotIn) {
    if (node->Args().empty()) return;
    for (TZelExprNode* arg : node->Args())
      if (arg == nullptr || arg->Kind() != enkConst) return;
    serveEquality(true);
    if (Opt->IndexInterface == nullptr) return;
    for (TZelExprNode* arg : node->Args())
      if (!KeyHoldsValue(*Opt->IndexInterface->FirstField(), arg->Data())) {
        Opt->IndexInterface = nullptr;
        Opt->OptimisationLevel = olNone;
        return;
      }
    return;
  }
  if (op == zeoLIKE && token != zstNotLike && node->Args().empty()) {
    TZelExprNode* pattern = node->Right();
    if (pattern == nullptr || pattern->Kind() != enkConst || !plat::VarIsStr(pattern->Data()))
      return;
    const std::string text = pattern->Data().AsString();
    if (text.size() <= 1 || text[0] == '%' || text[0] == '_') return;
    // LIKE always leaves its candidates to the evaluator.
    serveEquality(false);
  }
}

namespace {

// Negative, zero or positive; numbers as numbers, anything else as text.
int32_t CompareLimit(const plat::Variant& A, const plat::Variant& B) {
  if (IsNumericValue(A) && IsNumericValue(B)) {
    const double a = A.AsFloat();
    const double b = B.AsFloat();
    return a < b ? -1 : a > b ? 1 : 0;
  }
  const std::string a = A.AsString();
  const std::string b = B.AsString();
  return a < b ? -1 : a > b ? 1 : 0;
}

void CollectLimits(const TZelExprNode* Node, TExprFieldLimits& Limits) {
  if (Node == nullptr) return;
  if (Node->Operator() == zeoAND) {
    CollectLimits(Node->Left(), Limits);
    CollectLimits(Node->Right(), Limits);
    return;
  }
  if (Node->Kind() != enkRelOperator || Node->Left() == nullptr || Node->Right() == nullptr ||
      Node->Left()->Kind() != enkField || Node->Right()->Kind() != enkConst ||
      !plat::AnsiSameText(FieldNameOf(Node->Left()), Limits.FieldName))
    return;
  const plat::Variant& value = Node->Right()->Data();
  if (value.IsNull() || value.IsEmpty()) return;
  const TZelExprOperator op = Node->Operator();
  if (op == zeoEQ || op == zeoGT || op == zeoGE) {
    if (!Limits.MinSet || CompareLimit(value, Limits.Min) > 0) Limits.Min = value;
    Limits.MinSet = true;
  }
  if (op == zeoEQ || op == zeoLT || op == zeoLE) {
    if (!Limits.MaxSet || CompareLimit(value, Limits.Max) < 0) Limits.Max = value;
    Limits.MaxSet = true;
  }
}

}  // namespace

bool TFilterOptimizer::AssessExprFieldLimits(TExprFieldLimits& Limits) const {
  Limits.MinSet = false;
  Limits.MaxSet = false;
  CollectLimits(ExprRoot_, Limits);
  return Limits.MinSet || Limits.MaxSet;
}

void TFilterOptimizer::PrepareResultLists() {
  if (Root_ != nullptr && Root_->OptimisationLevel != olNone) PrepareList(Root_);
}

void TFilterOptimizer::PrepareList(TExprOptimizerNode* Opt) {
  if (Opt->ListPrepared) return;
  Opt->ListPrepared = true;
  TZelExprNode* node = Opt->ExprNode;
  const TZelExprOperator op = node->Operator();
  if (op == zeoAND || op == zeoOR) {
    TExprOptimizerNode* l = Opt->Left;
    TExprOptimizerNode* r = Opt->Right;
    // Two bounds on one index (BETWEEN, or > and <, in either order) read a
    // single range.
    if (op == zeoAND && l->IndexInterface != nullptr && l->IndexInterface == r->IndexInterface &&
        l->OptimisationLevel == olFull && r->OptimisationLevel == olFull &&
        l->ExprNode->Kind() == enkRelOperator && r->ExprNode->Kind() == enkRelOperator) {
      const auto isLow = [](const TExprOptimizerNode* N) {
        return N->ExprNode->Operator() == zeoGE || N->ExprNode->Operator() == zeoGT;
      };
      const auto isHigh = [](const TExprOptimizerNode* N) {
        return N->ExprNode->Operator() == zeoLE || N->ExprNode->Operator() == zeoLT;
      };
      const TExprOptimizerNode* low = isLow(l) ? l : r;
      const TExprOptimizerNode* high = low == l ? r : l;
      if (isLow(low) && isHigh(high)) {
        l->IndexInterface->GetBetweenRecordList(
            low->ExprNode->Right()->Data(), low->ExprNode->Operator() == zeoGE,
            high->ExprNode->Right()->Data(), high->ExprNode->Operator() == zeoLE, Opt->RecordList);
        SortRecordList(Opt->RecordList);
        return;
      }
    }
    const bool lListed = l->OptimisationLevel != olNone;
    const bool rListed = r->OptimisationLevel != olNone;
    if (lListed) PrepareList(l);
    if (rListed) PrepareList(r);
    if (lListed && rListed) {
      Opt->RecordList = l->RecordList;
      if (op == zeoAND)
        Intersect(Opt->RecordList, r->RecordList);
      else
        Union(Opt->RecordList, r->RecordList);
    } else if (lListed) {
      Opt->RecordList = l->RecordList;
    } else if (rListed) {
      Opt->RecordList = r->RecordList;
    }
    return;
  }
  TIndexDataInterface* index = Opt->IndexInterface;
  if (index == nullptr) return;
  // The runs are appended as read; the list is put in order once.
  struct TNormalize {
    TRecordAddrList& List;
    ~TNormalize() { SortRecordList(List); }
  } normalize{Opt->RecordList};
  index->SetExcludeRelopNulls(ExcludeRelopNulls_);
  if (op == zeoIN) {
    for (TZelExprNode* arg : node->Args()) index->GetRecordList(zeoEQ, arg->Data(), Opt->RecordList);
  } else if (op == zeoLIKE) {
    const std::string text = node->Right()->Data().AsString();
    index->GetPrefixRecordList(text.substr(0, text.find_first_of("%_")), Opt->RecordList);
  } else if (op == zeoEQ && node->PartialMatch() && plat::VarIsStr(node->Right()->Data())) {
    // Over the shorter length, a value equals the constant when either
    // starts with the other.
    const std::string text = node->Right()->Data().AsString();
    index->GetPrefixRecordList(text, Opt->RecordList);
    for (size_t k = 0; k < text.size(); ++k)
      index->GetRecordList(zeoEQ, plat::Variant(text.substr(0, k)), Opt->RecordList);
  } else {
    index->GetRecordList(op, node->Right() != nullptr ? node->Right()->Data() : plat::Variant(),
                         Opt->RecordList);
  }
}

}  // namespace zel
