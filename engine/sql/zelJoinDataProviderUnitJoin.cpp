// The join analyser and the join evaluator: how a two-way join matches and
// the walk that delivers its rows.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>

#include "engine/sql/zelJoinDataProviderUnit.h"
#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelCommonLog.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"
#include "platform/rtl/SyncObjs.h"

namespace zel {

namespace {

const char* LevelName(TZelFilterOptimisationLevel Level) {
  switch (Level) {
    case olPartial: return "Partial";
    case olFull: return "Full";
    default: return "None";
  }
}

const char* BoolName(bool Value) { return Value ? "True" : "False"; }

bool IsInside(TZelBaseJoinDataProvider* Tree, const TZelBaseJoinDataProvider* P) {
  if (Tree == nullptr) return false;
  if (Tree == P) return true;
  return IsInside(Tree->InnerProvider(), P) || IsInside(Tree->OuterProvider(), P);
}

const char* OperatorText(TZelExprOperator Op) {
  switch (Op) {
    case zeoEQ: return "=";
    case zeoNE: return "<>";
    case zeoGT: return ">";
    case zeoLT: return "<";
    case zeoGE: return ">=";
    case zeoLE: return "<=";
    case zeoAND: return "AND";
    case zeoOR: return "OR";
    case zeoNOT: return "NOT";
    case zeoADD: return "+";
    case zeoSUB: return "-";
    case zeoMUL: return "*";
    case zeoDIV: return "/";
    case zeoISBLANK: return "IS NULL";
    case zeoNOTBLANK: return "IS NOT NULL";
    default: return ZelExprOperatorName(Op);
  }
}

uintptr_t AddrOf(void* P) { return reinterpret_cast<uintptr_t>(P); }

// The most bytes of hashed inner records a join keeps in memory.
constexpr int64_t kMaxKeptInnerBytes = int64_t{16} << 20;

}  // namespace

std::string ZelExprText(const TZelExprNode* Node) {
  if (Node == nullptr) return "";
  switch (Node->Kind()) {
    case enkField: {
      const std::string table = ZelFieldNodeTableName(*Node);
      return (table.empty() ? "" : table + ".") + Node->Data().AsString();
    }
    case enkConst:
    case enkParam:
      if (Node->Data().IsNull() || Node->Data().IsEmpty()) return "NULL";
      if (Node->Data().VarType() == plat::varString) return "'" + Node->Data().AsString() + "'";
      return Node->Data().AsString();
    default:
      break;
  }
  if (Node->Operator() == zeoISBLANK || Node->Operator() == zeoNOTBLANK)
    return "(" + ZelExprText(Node->Left()) + " " + OperatorText(Node->Operator()) + ")";
  if (Node->Right() == nullptr)
    return "(" + std::string(OperatorText(Node->Operator())) + " " + ZelExprText(Node->Left()) + ")";
  return "(" + ZelExprText(Node->Left()) + " " + OperatorText(Node->Operator()) + " " +
         ZelExprText(Node->Right()) + ")";
}

// ---------------------------------------------------------------------------

void TJoinPlan::DisplayPlan(plat::TStrings& Lines) const {
  Lines.Add("Outer : " + OuterProviderName);
  Lines.Add("Inner : " + InnerProviderName);
  Lines.Add(std::string("Indexed : ") + BoolName(IndexedJoin));
  Lines.Add(std::string("Outer range on : ") + BoolName(OuterRangeOn));
  Lines.Add(std::string("Outer Expr exists : ") + BoolName(OuterExprExists));
  Lines.Add(std::string("Outer Expr opt level : ") + LevelName(OuterExprOptLevel));
  Lines.Add(std::string("Inner range on : ") + BoolName(InnerRangeOn));
  Lines.Add(std::string("Inner Expr exists : ") + BoolName(InnerExprExists));
  Lines.Add(std::string("Inner Expr opt level : ") + LevelName(InnerExprOptLevel));
}

// ---------------------------------------------------------------------------

TJoinAnalyser::TJoinAnalyser() = default;
TJoinAnalyser::~TJoinAnalyser() { Clear(); }

void TJoinAnalyser::SetJoinExpr(const TZelExpr* Expr) {
  JoinExpr_.reset();
  if (Expr == nullptr) return;
  JoinExpr_ = std::make_unique<TZelExpr>();
  if (Expr->FirstNode() != nullptr) JoinExpr_->CloneFromTree(Expr->FirstNode());
}

void TJoinAnalyser::Clear() {
  Root_ = nullptr;
  NodeList_ = nullptr;
  Owned_.clear();
}

void TJoinAnalyser::CreateAnalyserTree() {
  Clear();
  if (JoinExpr_ == nullptr || JoinExpr_->FirstNode() == nullptr) return;
  Root_ = ParseJoinNode(JoinExpr_->FirstNode());
  CheckSplit(Root_);
}

TJoinExprNode* TJoinAnalyser::AddNode(TZelExprNode* Node) {
  Owned_.push_back(std::make_unique<TJoinExprNode>());
  TJoinExprNode* node = Owned_.back().get();
  node->Next = NodeList_;
  NodeList_ = node;
  node->ExprNode = Node;
  return node;
}

TJoinExprNode* TJoinAnalyser::ParseJoinNode(TZelExprNode* Node) {
  if (Node == nullptr || Node->Left() == nullptr || Node->Right() == nullptr) return nullptr;
  if (Node->Kind() == enkRelOperator && Node->Operator() == zeoEQ &&
      Node->Left()->Kind() == enkField && Node->Right()->Kind() == enkField) {
    PLAT_ASSERT(OuterProvider_ != nullptr, "zelJoinDataProviderUnit: Left provider is not assigned");
    PLAT_ASSERT(InnerProvider_ != nullptr,
                "zelJoinDataProviderUnit: Right provider is not assigned");
    TInternalFieldItem* lf = nullptr;
    TInternalFieldItem* rf = nullptr;
    TZelBaseJoinDataProvider* lp = ZelFindFieldProvider(*OuterProvider_, *Node->Left(), lf);
    if (lp == nullptr) lp = ZelFindFieldProvider(*InnerProvider_, *Node->Left(), lf);
    TZelBaseJoinDataProvider* rp = ZelFindFieldProvider(*InnerProvider_, *Node->Right(), rf);
    if (rp == nullptr) rp = ZelFindFieldProvider(*OuterProvider_, *Node->Right(), rf);
    // An equality whose two fields are not on opposite sides of this join
    // (a.x = a.y) cannot be hashed: it stays to the nested loop.
    if (lp == nullptr || rp == nullptr || lp == rp ||
        IsInside(InnerProvider_, lp) == IsInside(InnerProvider_, rp))
      return nullptr;
    TJoinExprNode* node = AddNode(Node);
    node->LeftProvider = lp;
    node->RightProvider = rp;
    node->LeftSourceField = lf;
    node->RightSourceField = rf;
    node->SplitOK = true;
    if (auto* leaf = dynamic_cast<TZelNonJoinDataProvider*>(lp))
      node->LeftIndexDef = leaf->DataBridge()->FindIndexForFields(lf->FieldName(), false);
    if (auto* leaf = dynamic_cast<TZelNonJoinDataProvider*>(rp))
      node->RightIndexDef = leaf->DataBridge()->FindIndexForFields(rf->FieldName(), false);
    return node;
  }
  if (Node->Kind() != enkLogicalOperator) return nullptr;
  TJoinExprNode* node = AddNode(Node);
  node->Left = ParseJoinNode(Node->Left());
  node->Right = ParseJoinNode(Node->Right());
  return node;
}

void TJoinAnalyser::CheckSplit(TJoinExprNode* Node) {
  if (Node == nullptr) return;
  CheckSplit(Node->Left);
  CheckSplit(Node->Right);
  if (Node->Left != nullptr && Node->Right != nullptr)
    Node->SplitOK = Node->Left->SplitOK && Node->Right->SplitOK &&
                    (Node->ExprNode->Operator() == zeoAND || Node->ExprNode->Operator() == zeoOR);
}

void TJoinAnalyser::AssessSide(TZelBaseJoinDataProvider* Provider, TInternalFieldItem* Field,
                               plat::TIndexDef* Index, TJoinExprAnalysis& A) {
  A.IndexedJoin = Index != nullptr;
  A.ExprOptimizationLevel = olNone;
  A.DataProvider = Provider;
  A.SourceIndexDef = Index;
  auto* leaf = dynamic_cast<TZelNonJoinDataProvider*>(Provider);
  A.AnalysisPossible = leaf != nullptr;
  if (leaf == nullptr) return;
  A.SourceFieldNo = Field->FieldNo();
  TZelFilterExprDriver driver;
  driver.SetAssessExprOnly(true);
  driver.SetFilterExpr(leaf->JoinSelectExpr());
  driver.SetExcludeRelopNulls(true);
  // Assessed alone: not with what the bridge's filter holds from before.
  driver.SetOverwriteExpr(true);
  leaf->DataBridge()->SetJoinSelectExprRoot(driver);
  A.ExprOptimizationLevel = driver.ExprOptimizationLevel();
  A.MaximalRecordCount = driver.MaximalResultSetSize();
}

bool TJoinAnalyser::AnalyseJoin(TJoinExprAnalysis& A1, TJoinExprAnalysis& A2) {
  if (Root_ == nullptr) return false;
  if (Root_->LeftProvider != nullptr)
    AssessSide(Root_->LeftProvider, Root_->LeftSourceField, Root_->LeftIndexDef, A1);
  if (Root_->RightProvider != nullptr)
    AssessSide(Root_->RightProvider, Root_->RightSourceField, Root_->RightIndexDef, A2);
  return true;
}

void TJoinAnalyser::DetermineInnerProvider(bool Force) {
  if (InnerProvider_ == nullptr || OuterProvider_ == nullptr || IsOuterJoin(JoinType_)) return;
  auto* inner = dynamic_cast<TZelNonJoinDataProvider*>(InnerProvider_);
  auto* outer = dynamic_cast<TZelNonJoinDataProvider*>(OuterProvider_);
  if (inner == nullptr || outer == nullptr) return;
  bool swap = Force;
  if (!Force) {
    const int32_t innerCount = inner->GetRecordCount();
    const int32_t outerCount = outer->GetRecordCount();
    swap = outerCount > innerCount ||
           (outerCount == innerCount && outer->HasJoinSelectExpr() && !inner->HasJoinSelectExpr());
  }
  if (swap) std::swap(InnerProvider_, OuterProvider_);
}

// ---------------------------------------------------------------------------

TJoinExprNodeEvaluator::TJoinExprNodeEvaluator()
    : MatchList(std::make_unique<TSortedList>()), FilterList(std::make_unique<TSortedList>()) {}

TJoinExprNodeEvaluator::~TJoinExprNodeEvaluator() = default;

namespace {

// The key size two fields are hashed under; 0 when they cannot be.
int32_t PairKeySize(const TInternalFieldItem& A, const TInternalFieldItem& B) {
  const int32_t a = ZelJoinHashKeySize(A.DataType(), A.GetWriteableFieldSize());
  const int32_t b = ZelJoinHashKeySize(B.DataType(), B.GetWriteableFieldSize());
  if (a == 0 || b == 0 || (a == 9) != (b == 9)) return 0;
  return std::max(a, b);
}

// Integers of one type: equal stored bytes are equal values and back.
bool SameStoredBytes(const TInternalFieldItem& A, const TInternalFieldItem& B) {
  const auto kind = [](plat::TFieldType T) {
    return T == plat::ftAutoInc ? plat::ftInteger : T;
  };
  const plat::TFieldType t = kind(A.DataType());
  if (t != kind(B.DataType()) || A.FieldSize() != B.FieldSize()) return false;
  return t == plat::ftSmallint || t == plat::ftWord || t == plat::ftInteger ||
         t == plat::ftLargeint;
}

}  // namespace

void TJoinExprNodeEvaluator::Prepare(TZelNonJoinDataProvider* Inner, bool IsOuterJoin) {
  PLAT_ASSERT(SourceNode != nullptr,
              "zelJoinDataProviderUnit: TJoinExprNodeEvaluator - source node is not assigned");
  PLAT_ASSERT(Inner != nullptr,
              "zelJoinDataProviderUnit: TJoinExprNodeEvaluator - InnerProvider is not assigned");
  TZelDatasetBridge& bridge = *Inner->DataBridge();
  if (!bridge.IsBridgeOpen()) bridge.OpenBridge();
  TInternalFieldItem* field = SourceNode->RightProvider == Inner ? SourceNode->RightSourceField
                                                                 : SourceNode->LeftSourceField;
  RawKeys = SameStoredBytes(*SourceNode->LeftSourceField, *SourceNode->RightSourceField);
  KeyLength = RawKeys ? field->FieldSize()
                      : PairKeySize(*SourceNode->LeftSourceField, *SourceNode->RightSourceField);
  PLAT_ASSERT(KeyLength > 0 && KeyLength <= 256,
              "zelJoinDataProviderUnit: Source key length out of range");
  const int32_t n = bridge.GetTotalBridgeRecordCount() + 10;
  Hash = std::make_unique<TZelBaseHash>(2 * n, KeyLength, n);
  Hash->SetSourceFieldName(field->FieldName());
  Hash->SetDataType(field->DataType());
  FilterList->Clear();
  if (RawKeys)
    bridge.LoadHashTable(*Hash, *FilterList, FilterActive, IsOuterJoin);
  else
    bridge.LoadValueHashTable(*Hash, *FilterList, FilterActive);
  FilterList->SortList(
      [](void* A, void* B) { return AddrOf(A) < AddrOf(B) ? -1 : AddrOf(A) > AddrOf(B) ? 1 : 0; });
  Prepared = true;
}

void TJoinExprNodeEvaluator::SetSourceValue(const plat::Variant& Value) {
  std::string key;
  const bool isNull = !ZelJoinHashKey(Value, KeyLength, key);
  SetSourceKey(key.data(), KeyLength, isNull);
}

void TJoinExprNodeEvaluator::SetSourceKey(const char* Data, int32_t Length, bool IsNull) {
  PLAT_ASSERT(Length >= 0 && Length <= 256,
              "zelJoinDataProviderUnit: Source key length out of range");
  Key.assign(static_cast<size_t>(KeyLength), '\0');
  std::copy_n(Data, std::min(Length, KeyLength), Key.begin());
  KeyIsNull = IsNull;
  // Emptied without giving back its room: it is filled again for every row.
  MatchList->SetCount(0);
  if (!KeyIsNull) Hash->GetPossibleMatchList(Key.data(), KeyLength, *MatchList);
}

bool TJoinExprNodeEvaluator::CheckKeyMatch(const char* Data, int32_t Length, bool IsNull) const {
  if (IsNull != KeyIsNull) return false;
  if (IsNull) return true;
  return Length <= static_cast<int32_t>(Key.size()) && std::equal(Data, Data + Length, Key.begin());
}

bool TJoinExprNodeEvaluator::CheckRecordInExpr(void* RecAddr) const {
  return !FilterActive || FilterList->SortedIndexOf(RecAddr) >= 0;
}

// ---------------------------------------------------------------------------

TJoinEvaluator::TJoinEvaluator() : MatchedRecordIDs_(std::make_unique<plat::TStringList>()) {
  // Looked up once per outer row of the second pass: kept sorted.
  MatchedRecordIDs_->SetSorted(true);
  MatchedRecordIDs_->SetDuplicates(plat::dupIgnore);
}
TJoinEvaluator::~TJoinEvaluator() { Clear(); }

void TJoinEvaluator::Clear() {
  // No join node may keep a reference to a freed evaluator.
  if (JoinAnalyser_ != nullptr)
    for (TJoinExprNode* node = JoinAnalyser_->NodeList(); node != nullptr; node = node->Next)
      node->Evaluator = nullptr;
  Evaluators_.clear();
  Chain_ = nullptr;
  HashInner_ = nullptr;
  MasterList_.clear();
  KeepInnerRecords_ = false;
  KeptOffsets_.clear();
  KeptBytes_.clear();
}

bool TJoinEvaluator::TryRange(TJoinExprAnalysis& I, TJoinExprAnalysis& O) {
  const TZelJoinType type = JoinAnalyser_->JoinType();
  if (ForcedMode_ == jfmNestedLoop || ForcedMode_ == jfmHash || ForcedMode_ == jfmSwapped)
    return false;
  // Rows outside the outer side's key span can only be lost by a side whose
  // rows are all kept; and a descending index turns the span around.
  if (type != jtInnerJoin && type != jtLeftOuterJoin) return false;
  auto* inner = dynamic_cast<TZelNonJoinDataProvider*>(I.DataProvider);
  auto* outer = dynamic_cast<TZelNonJoinDataProvider*>(O.DataProvider);
  if (inner == nullptr || outer == nullptr || I.SourceIndexDef == nullptr) return false;
  if (ForcedMode_ != jfmIndexedRange && (!O.IndexedJoin || I.ExprOptimizationLevel != olNone))
    return false;
  const auto fieldOf = [](TZelBaseJoinDataProvider* P, int32_t No) -> TInternalFieldItem* {
    for (int32_t i = 0; i < P->GetProviderFields()->Count(); ++i)
      if (P->GetProviderFields()->GetIndex(i)->FieldNo() == No)
        return P->GetProviderFields()->GetIndex(i);
    return nullptr;
  };
  TInternalFieldItem* innerField = fieldOf(inner, I.SourceFieldNo);
  TInternalFieldItem* outerField = fieldOf(outer, O.SourceFieldNo);
  // The span is compared as numbers: both keys must be numbers.
  const auto isNumber = [](const TInternalFieldItem* F) {
    return F != nullptr && ZelJoinHashKeySize(F->DataType(), F->GetWriteableFieldSize()) == 9;
  };
  if (!isNumber(innerField) || !isNumber(outerField)) return false;
  plat::TIndexDef* ascending = inner->DataBridge()->FindIndexForFields(innerField->FieldName(), true);
  if (ascending == nullptr) return false;
  // The span is taken over the outer side's non-null keys, whatever order its
  // rows follow.
  const std::string outerOrder = outer->DataBridge()->CurrentIndexName();
  outer->SetSelectExpr(true, O.SourceIndexDef != nullptr ? O.SourceIndexDef->Name() : "");
  plat::Variant low, high;
  bool any = false;
  const auto widen = [&](const plat::Variant& V) {
    if (V.IsNull() || V.IsEmpty()) return true;
    try {
      if (!any || V.AsFloat() < low.AsFloat()) low = V;
      if (!any || V.AsFloat() > high.AsFloat()) high = V;
    } catch (const plat::Exception&) {
      // A key that is no number gives no span: no range.
      outer->SetSelectExpr(false, "");
      return false;
    }
    any = true;
    return true;
  };
  // Unselected rows in the order of an index on the key: the non-null keys
  // nearest its two ends span them all, whichever way the index runs.
  const bool ends = O.SourceIndexDef != nullptr && !outer->HasJoinSelectExpr();
  TZelDatasetBridge& outerBridge = *outer->DataBridge();
  for (bool found = outer->FirstProviderRecord(); found; found = outer->NextProviderRecord()) {
    if (!widen(outer->GetDataAsVariant(O.SourceFieldNo))) return false;
    if (ends && any) break;
  }
  if (ends && any) {
    for (bool found = outerBridge.LastBridgeRecord(); found;
         found = outerBridge.PriorBridgeRecord()) {
      const plat::Variant v = outer->GetDataAsVariant(O.SourceFieldNo);
      if (v.IsNull() || v.IsEmpty()) continue;
      if (!widen(v)) return false;
      break;
    }
  }
  if (!any) {
    low = plat::Variant(1);
    high = plat::Variant(0);
  }
  // Read in the key index's order the outer rows would be fetched from all
  // over the table: the join walks them in the order they had before.
  if (ends) outerBridge.RestoreOrder(outerOrder);
  inner->DataBridge()->SetBridgeIndexRange(ascending->Name(), low, high);
  inner->SetSelectExpr(true, ascending->Name());
  return true;
}

namespace {

// The equalities a join condition holds at its top, under ANDs only: each
// row the condition accepts has equal values there.
void CollectEqualities(TJoinExprNode* Node, std::vector<TJoinExprNode*>& Out) {
  if (Node == nullptr) return;
  if (Node->ExprNode->Kind() == enkRelOperator) {
    if (Node->SplitOK && !Node->ExprNode->PartialMatch() && Node->ExprNode->PartialLength() <= 0)
      Out.push_back(Node);
    return;
  }
  if (Node->ExprNode->Kind() != enkLogicalOperator || Node->ExprNode->Operator() != zeoAND) return;
  CollectEqualities(Node->Left, Out);
  CollectEqualities(Node->Right, Out);
}

bool IsNumberField(const TInternalFieldItem* Field) {
  return Field != nullptr &&
         ZelJoinHashKeySize(Field->DataType(), Field->GetWriteableFieldSize()) == 9;
}

// An integer type of at most 32 bits: its values pass through a double
// exactly.
bool IsNarrowInteger(plat::TFieldType Type) {
  return Type == plat::ftSmallint || Type == plat::ftWord || Type == plat::ftInteger ||
         Type == plat::ftAutoInc;
}

// Every value of the outer key's type is one the inner key's type holds: the
// lookup seeks the outer value itself, never one clamped into the inner
// type, so the rows it finds are those equal to it.
bool LookupKeysExact(const TInternalFieldItem& Inner, const TInternalFieldItem& Outer) {
  const plat::TFieldType inner = Inner.DataType();
  const plat::TFieldType outer = Outer.DataType();
  if (!IsNarrowInteger(inner) || !IsNarrowInteger(outer)) return false;
  return inner == outer || inner == plat::ftInteger || inner == plat::ftAutoInc;
}

// Whether the side's own selection can be checked row by row by an
// evaluator: the clock functions get their moment from the cursor's filter.
bool SelectionCheckableByRow(const TZelNonJoinDataProvider& Side) {
  if (!Side.HasJoinSelectExpr()) return true;
  for (const TZelExprNode* node = Side.JoinSelectExpr()->FirstNode(); node != nullptr;
       node = node->Next()) {
    const TParserToken* token = node->ParserToken();
    if (node->Kind() == enkFunc && token != nullptr &&
        (token->Token() == zstCurrentDate || token->Token() == zstCurrentTime ||
         token->Token() == zstCurrentTimestamp))
      return false;
  }
  return true;
}

}  // namespace

bool TJoinEvaluator::TryIndexLookup() {
  if (ForcedMode_ != jfmAuto && ForcedMode_ != jfmIndexLookup) return false;
  TJoinAnalyser& an = *JoinAnalyser_;
  const TZelJoinType type = an.JoinType();
  // As with the range (rule 3): the lookup loses no row only where every
  // row the join keeps comes from the outer side or a match.
  if (type != jtInnerJoin && type != jtLeftOuterJoin) return false;
  std::vector<TJoinExprNode*> equalities;
  CollectEqualities(an.Root(), equalities);
  if (equalities.empty()) return false;
  struct Choice {
    bool Swap = false;
    TJoinExprNode* Node = nullptr;
    std::string Index;
    double Cost = 0;
  };
  std::optional<Choice> best;
  // The outer side must keep its own selection; counting applied it.
  std::vector<const TZelBaseJoinDataProvider*> counted;
  const auto consider = [&](TZelBaseJoinDataProvider* Inner, TZelBaseJoinDataProvider* Outer,
                            bool Swap) {
    auto* leaf = dynamic_cast<TZelNonJoinDataProvider*>(Inner);
    if (leaf == nullptr || !SelectionCheckableByRow(*leaf)) return;
    for (TJoinExprNode* node : equalities) {
      const bool innerIsRight = node->RightProvider == leaf;
      if (!innerIsRight && node->LeftProvider != leaf) continue;
      TInternalFieldItem* innerField = innerIsRight ? node->RightSourceField : node->LeftSourceField;
      TInternalFieldItem* outerField = innerIsRight ? node->LeftSourceField : node->RightSourceField;
      // The key is sought as a number: both fields must be numbers.
      if (!IsNumberField(innerField) || !IsNumberField(outerField)) continue;
      plat::TIndexDef* index = leaf->DataBridge()->FindIndexForFields(innerField->FieldName(), true);
      if (index == nullptr) continue;
      double cost = 0;
      if (ForcedMode_ != jfmIndexLookup) {
        auto* outer = dynamic_cast<TZelNonJoinDataProvider*>(Outer);
        if (outer == nullptr) continue;
        const double innerRows = leaf->DataBridge()->GetTotalBridgeRecordCount();
        // A seek walks the tree and moves the cursor per outer row; the hash
        // reads every inner row once.
        const auto lookupCost = [innerRows](double OuterRows) {
          return OuterRows * 4.0 * (std::log2(innerRows + 2) + 1);
        };
        const auto wins = [&](double OuterRows) {
          return lookupCost(OuterRows) < innerRows + OuterRows;
        };
        if (!wins(1)) continue;
        // The outer side's rows are counted through its selection only where
        // its whole table would be too many: the count evaluates it.
        double outerRows = outer->DataBridge()->GetTotalBridgeRecordCount();
        if (!wins(outerRows) && outer->HasJoinSelectExpr()) {
          outer->SetSelectExpr(false, "");
          counted.push_back(outer);
          outerRows = outer->DataBridge()->GetSelectedBridgeRecordCount();
        }
        if (!wins(outerRows)) continue;
        cost = lookupCost(outerRows);
      }
      if (!best || cost < best->Cost) best = Choice{Swap, node, index->Name(), cost};
      break;
    }
  };
  consider(an.InnerProvider(), an.OuterProvider(), false);
  if (type == jtInnerJoin && dynamic_cast<TZelNonJoinDataProvider*>(an.InnerProvider()) != nullptr &&
      dynamic_cast<TZelNonJoinDataProvider*>(an.OuterProvider()) != nullptr)
    consider(an.OuterProvider(), an.InnerProvider(), true);
  if (!best) return false;
  if (best->Swap) {
    an.DetermineInnerProvider(true);
    Swapped_ = true;
  }
  TJoinExprNode* node = best->Node;
  const bool innerIsRight = node->RightProvider == an.InnerProvider();
  LookupKeySide_ = innerIsRight ? node->LeftProvider : node->RightProvider;
  TInternalFieldItem* keyField = innerIsRight ? node->LeftSourceField : node->RightSourceField;
  LookupKeyFieldNo_ = keyField->FieldNo();
  LookupIndex_ = best->Index;
  // A condition that is this one equality of integers holds for every row
  // sought (rule 1 as with the hash).
  LookupDecides_ = an.Root() == node &&
                   LookupKeysExact(*(innerIsRight ? node->RightSourceField : node->LeftSourceField),
                                   *keyField);
  if (std::find(counted.begin(), counted.end(), an.OuterProvider()) == counted.end())
    an.OuterProvider()->SetSelectExpr(false, "");
  return true;
}

void TJoinEvaluator::AnalyseAndOpenJoin() {
  Clear();
  InnerRangeOn_ = false;
  Swapped_ = false;
  LookupDecides_ = false;
  Plan_ = TJoinPlan();
  TJoinAnalyser& an = *JoinAnalyser_;
  an.CreateAnalyserTree();
  LookupChosen_ = TryIndexLookup();
  if (LookupChosen_) {
    Prepare();
    return;
  }
  TJoinExprAnalysis a1, a2;
  const bool ok = an.AnalyseJoin(a1, a2) && a1.AnalysisPossible && a2.AnalysisPossible &&
                  dynamic_cast<TZelNonJoinDataProvider*>(an.InnerProvider()) != nullptr &&
                  dynamic_cast<TZelNonJoinDataProvider*>(an.OuterProvider()) != nullptr;
  if (ok) {
    TJoinExprAnalysis& I = a1.DataProvider == an.InnerProvider() ? a1 : a2;
    TJoinExprAnalysis& O = &I == &a1 ? a2 : a1;
    bool notOuter = !IsOuterJoin(an.JoinType());
    Plan_.IndexedJoin = I.IndexedJoin && O.IndexedJoin;
    Plan_.InnerExprExists = an.InnerProvider()->HasJoinSelectExpr();
    Plan_.OuterExprExists = an.OuterProvider()->HasJoinSelectExpr();
    Plan_.InnerProviderName = an.InnerProvider()->ProviderName();
    Plan_.OuterProviderName = an.OuterProvider()->ProviderName();
    Plan_.InnerExprOptLevel = I.ExprOptimizationLevel;
    Plan_.OuterExprOptLevel = O.ExprOptimizationLevel;
    if (TryRange(I, O)) {
      notOuter = false;
      InnerRangeOn_ = true;
      Plan_.InnerRangeOn = true;
      Plan_.OuterRangeOn = true;
    } else {
      an.InnerProvider()->SetSelectExpr(false, "");
      an.OuterProvider()->SetSelectExpr(false, "");
    }
    if (TDBLogger* logger = GDBLogger()) {
      plat::TCriticalSectionGuard guard(GDBCriticalSection());
      Plan_.DisplayPlan(*logger->LogList());
    }
    if (notOuter && an.CanHashJoin() && ForcedMode_ != jfmNestedLoop) {
      TZelBaseJoinDataProvider* before = an.InnerProvider();
      an.DetermineInnerProvider(ForcedMode_ == jfmSwapped);
      Swapped_ = an.InnerProvider() != before;
    }
  } else {
    an.InnerProvider()->SetSelectExpr(false, "");
    an.OuterProvider()->SetSelectExpr(false, "");
  }
  Prepare();
}

void TJoinEvaluator::Prepare() {
  JoinModeType_ = jmtJoinExpr;
  Clear();
  Pass_ = 1;
  MatchedRecordIDs_->Clear();
  TJoinAnalyser& an = *JoinAnalyser_;
  if (an.JoinType() == jtRightOuterJoin) {
    Outer_ = an.InnerProvider();
    Inner_ = an.OuterProvider();
  } else {
    Inner_ = an.InnerProvider();
    Outer_ = an.OuterProvider();
  }
  InternalPrepare();
}

bool TJoinEvaluator::HashableNodes() const {
  for (TJoinExprNode* node = JoinAnalyser_->NodeList(); node != nullptr; node = node->Next) {
    if (node->ExprNode->Kind() != enkRelOperator) continue;
    if (node->LeftProvider != Inner_ && node->RightProvider != Inner_) return false;
    if (PairKeySize(*node->LeftSourceField, *node->RightSourceField) == 0) return false;
    // Text compared ignoring case or by prefix is left to the nested loop.
    if (node->ExprNode->PartialMatch() || node->ExprNode->PartialLength() > 0) return false;
  }
  return true;
}

void TJoinEvaluator::BuildNodeEvaluators() {
  const bool outer = IsOuterJoin(JoinAnalyser_->JoinType());
  for (TJoinExprNode* node = JoinAnalyser_->NodeList(); node != nullptr; node = node->Next) {
    auto ev = std::make_unique<TJoinExprNodeEvaluator>();
    ev->SourceNode = node;
    ev->Next = Chain_;
    Chain_ = ev.get();
    node->Evaluator = ev.get();
    if (node->ExprNode->Kind() == enkRelOperator) {
      ev->Prepare(HashInner_, outer);
      const bool innerIsRight = node->RightProvider == HashInner_;
      auto* side = dynamic_cast<TZelNonJoinDataProvider*>(innerIsRight ? node->LeftProvider
                                                                       : node->RightProvider);
      if (ev->RawKeys && side != nullptr) {
        ev->KeyTable = side;
        ev->KeyField = side->DataBridge()->FieldOfNo(
            (innerIsRight ? node->LeftSourceField : node->RightSourceField)->FieldNo());
      }
    }
    Evaluators_.push_back(std::move(ev));
  }
}

void TJoinEvaluator::PrepareIndexLookup() {
  auto* leaf = dynamic_cast<TZelNonJoinDataProvider*>(Inner_);
  PLAT_ASSERT(leaf != nullptr, "zelJoinDataProviderUnit: index lookup without an inner table");
  JoinModeType_ = jmtIndexLookup;
  LookupOpen_ = false;
  leaf->DataBridge()->PrepareIndexLookup(LookupIndex_);
  // The inner side's own selection is checked on each sought row: as the
  // cursor's filter it would be evaluated again at every seek.
  InnerSelection_.reset();
  if (leaf->HasJoinSelectExpr()) {
    InnerSelection_ = std::make_unique<TExprEvaluator>();
    InnerSelection_->SetExcludeRelopNulls(true);
    InnerSelection_->Prepare(leaf, leaf->JoinSelectExpr()->FirstNode());
  }
}

void TJoinEvaluator::SeekLookupKey() {
  LookupKey_ = LookupKeySide_->GetDataAsVariant(LookupKeyFieldNo_);
  // A Null key equals nothing.
  LookupOpen_ = !LookupKey_.IsNull() && !LookupKey_.IsEmpty();
}

bool TJoinEvaluator::NextLookupMatch(bool First) {
  if (!LookupOpen_) return false;
  TZelDatasetBridge& bridge = *static_cast<TZelNonJoinDataProvider*>(Inner_)->DataBridge();
  for (bool found = First ? bridge.FirstLookupRecord(LookupIndex_, LookupKey_)
                          : bridge.NextLookupRecord();
       found; found = bridge.NextLookupRecord()) {
    if (InnerSelection_ != nullptr) {
      InnerSelection_->Reset();
      if (!InnerSelection_->Evaluate()) continue;
    }
    if ((LookupDecides_ && bridge.LookupOnIndex()) || AcceptCurrentPair()) {
      InnerMatchedThisRow_ = true;
      return true;
    }
  }
  LookupOpen_ = false;
  return false;
}

void TJoinEvaluator::InternalPrepare() {
  Check_.reset();
  HashInner_ = nullptr;
  HashDecides_ = false;
  InnerSelection_.reset();
  auto* leaf = dynamic_cast<TZelNonJoinDataProvider*>(Inner_);
  if (LookupChosen_ && Pass_ == 1) {
    PrepareIndexLookup();
  } else if (JoinAnalyser_->CanHashJoin() && leaf != nullptr && ForcedMode_ != jfmNestedLoop &&
      HashableNodes()) {
    HashInner_ = leaf;
    BuildNodeEvaluators();
    JoinModeType_ = jmtHashJoin;
    TZelDatasetBridge& bridge = *leaf->DataBridge();
    KeepInnerRecords_ = static_cast<int64_t>(bridge.GetTotalBridgeRecordCount()) *
                            bridge.RecordBufferSize() <= kMaxKeptInnerBytes;
    // A condition that is one equality of fields whose stored bytes are
    // equal exactly when their values are holds for every hashed candidate.
    const TJoinExprNode* root = JoinAnalyser_->Root();
    HashDecides_ = root != nullptr && root->ExprNode->Kind() == enkRelOperator &&
                   root->Evaluator != nullptr && root->Evaluator->Prepared &&
                   root->Evaluator->RawKeys;
  }
  if (JoinModeType_ != jmtJoinExpr) {
    // Each hashed or sought candidate is checked against the whole condition.
    Check_ = std::make_unique<TExprEvaluator>();
    Check_->SetExcludeRelopNulls(true);
    Check_->Prepare(JoinAnalyser_->Provider(), JoinAnalyser_->JoinExpr()->FirstNode());
  }
  Inner_->SetForceToNullValues(false);
  Outer_->SetForceToNullValues(false);
}

namespace {

// The list's entries in address order, each once.
void SortedInto(const TSortedList& List, std::vector<void*>& Out) {
  Out.clear();
  for (int32_t i = 0; i < List.Count(); ++i) Out.push_back(List.Items(i));
  std::sort(Out.begin(), Out.end(), [](void* A, void* B) { return AddrOf(A) < AddrOf(B); });
  Out.erase(std::unique(Out.begin(), Out.end()), Out.end());
}

std::vector<void*> Sorted(const TSortedList& List) {
  std::vector<void*> out;
  SortedInto(List, out);
  return out;
}

std::vector<void*> Combine(TJoinExprNode* Node) {
  if (Node->Evaluator != nullptr && Node->ExprNode->Kind() == enkRelOperator)
    return Sorted(*Node->Evaluator->MatchList);
  if (Node->Left == nullptr || Node->Right == nullptr)
    return Combine(Node->Left != nullptr ? Node->Left : Node->Right);
  const std::vector<void*> a = Combine(Node->Left);
  const std::vector<void*> b = Combine(Node->Right);
  std::vector<void*> out;
  const auto less = [](void* A, void* B) { return AddrOf(A) < AddrOf(B); };
  if (Node->ExprNode->Operator() == zeoAND)
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out), less);
  else if (Node->ExprNode->Operator() == zeoOR)
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out), less);
  else
    ZelDatabaseError(0x2185, "TJoinEvaluator.InternalCombineRecordLists", "Invalid operator");
  return out;
}

}  // namespace

void TJoinEvaluator::ComputeMatchList() {
  MatchIndex_ = -1;
  for (TJoinExprNodeEvaluator* ev = Chain_; ev != nullptr; ev = ev->Next) {
    if (!ev->Prepared) continue;
    TJoinExprNode* node = ev->SourceNode;
    const bool innerIsRight = node->RightProvider == HashInner_;
    TZelBaseJoinDataProvider* side = innerIsRight ? node->LeftProvider : node->RightProvider;
    TInternalFieldItem* field = innerIsRight ? node->LeftSourceField : node->RightSourceField;
    if (ev->KeyField != nullptr) {
      // An integer key: its stored bytes, or Null without a row.
      TZelDatasetBridge& bridge = *ev->KeyTable->DataBridge();
      const uint8_t* record = bridge.RecordBuffer();
      const TInternalFieldItem& f = *ev->KeyField;
      const bool isNull = ev->KeyTable->ForceToNullValues() || !bridge.HasBridgeRecord() ||
                          record[f.NullFlagOffset()] == 0;
      ev->SetSourceKey(reinterpret_cast<const char*>(record + f.DataOffset()),
                       isNull ? 0 : f.FieldSize(), isNull);
    } else if (ev->RawKeys) {
      TDataHolder holder;
      side->GetRawFieldData(field->FieldNo(), holder);
      const bool isNull = holder.IsNull() || holder.Data() == nullptr;
      ev->SetSourceKey(isNull ? "" : reinterpret_cast<const char*>(holder.Data()),
                       isNull ? 0 : holder.Length(), isNull);
    } else {
      ev->SetSourceValue(side->GetDataAsVariant(field->FieldNo()));
    }
  }
  TJoinExprNode* root = JoinAnalyser_->Root();
  if (root->Evaluator == nullptr || root->ExprNode->Kind() != enkRelOperator) {
    MasterList_ = Combine(root);
    return;
  }
  // One equality: its matches, in the room of the last row's.
  SortedInto(*root->Evaluator->MatchList, MasterList_);
}

bool TJoinEvaluator::AcceptCurrentPair() {
  Check_->Reset();
  return Check_->Evaluate();
}

bool TJoinEvaluator::MoveToHashedRecord(uint32_t RecAddr) {
  TZelDatasetBridge& bridge = *HashInner_->DataBridge();
  if (!KeepInnerRecords_) {
    bridge.MoveToRecAddr(RecAddr);
    return bridge.HasBridgeRecord();
  }
  const size_t size = static_cast<size_t>(bridge.RecordBufferSize());
  if (const auto kept = KeptOffsets_.find(RecAddr); kept != KeptOffsets_.end()) {
      bridge.RestoreRecordBytes(KeptBytes_.data() + kept->second);
    return true;
  }
  bridge.MoveToRecAddr(RecAddr);
  if (!bridge.HasBridgeRecord()) return false;
  KeptOffsets_.emplace(RecAddr, KeptBytes_.size());
  const uint8_t* bytes = bridge.CurrentRecordBytes();
  KeptBytes_.insert(KeptBytes_.end(), bytes, bytes + size);
  return true;
}

bool TJoinEvaluator::NextInnerMatch() {
  // After a null-extended (or UNION) row the outer row is done.
  if (Inner_->ForceToNullValues()) {
    Inner_->SetForceToNullValues(false);
    return false;
  }
  if (JoinModeType_ == jmtHashJoin) {
    while (++MatchIndex_ < static_cast<int32_t>(MasterList_.size())) {
      void* candidate = MasterList_[static_cast<size_t>(MatchIndex_)];
      if (Chain_ != nullptr && !Chain_->CheckRecordInExpr(candidate)) continue;
      if (MoveToHashedRecord(static_cast<uint32_t>(AddrOf(candidate))) &&
          (HashDecides_ || AcceptCurrentPair())) {
        InnerMatchedThisRow_ = true;
        return true;
      }
    }
  } else if (JoinModeType_ == jmtIndexLookup) {
    if (NextLookupMatch(false)) return true;
  } else if (InnerMatchedThisRow_ && Inner_->NextProviderRecord()) {
    return true;
  }
  if (IsOuterJoin(JoinAnalyser_->JoinType()) && !InnerMatchedThisRow_) {
    InnerMatchedThisRow_ = true;
    Inner_->SetForceToNullValues(true);
    return true;
  }
  return false;
}

bool TJoinEvaluator::ResetInner() {
  InnerMatchedThisRow_ = false;
  Inner_->SetForceToNullValues(false);
  if (JoinAnalyser_->JoinType() == jtUnionJoin) {
    InnerMatchedThisRow_ = true;
    Inner_->SetForceToNullValues(true);
    return true;
  }
  if (JoinModeType_ == jmtHashJoin) {
    ComputeMatchList();
    return NextInnerMatch();
  }
  if (JoinModeType_ == jmtIndexLookup) {
    SeekLookupKey();
    return NextLookupMatch(true) || NextInnerMatch();
  }
  TZelStdJoinDataProvider* provider = JoinAnalyser_->Provider();
  if (TZelExpr* expr = JoinAnalyser_->JoinExpr(); expr != nullptr && expr->FirstNode() != nullptr)
    provider->ParseJoinExpr(expr->FirstNode(), Inner_ == provider->InnerProvider());
  if (Inner_->FirstProviderRecord()) {
    InnerMatchedThisRow_ = true;
    return true;
  }
  return NextInnerMatch();
}

bool TJoinEvaluator::PassAdmits() {
  if (JoinAnalyser_->JoinType() != jtFullOuterJoin || Pass_ == 1) return true;
  return MatchedRecordIDs_->IndexOf(Outer_->CurrentRecordIDAsString()) < 0;
}

bool TJoinEvaluator::AdvanceOuter() {
  do {
    if (!Outer_->NextProviderRecord()) return false;
  } while (!PassAdmits());
  return true;
}

bool TJoinEvaluator::Deliver(bool Found) {
  if (!Found) return NextPass();
  if (JoinAnalyser_->JoinType() == jtFullOuterJoin && Pass_ == 1) {
    const std::string id = Inner_->CurrentRecordIDAsString();
    if (!id.empty()) MatchedRecordIDs_->Add(id);
  }
  return true;
}

bool TJoinEvaluator::FirstRecord() {
  bool outer = Outer_->FirstProviderRecord();
  if (outer && !PassAdmits()) outer = AdvanceOuter();
  while (outer) {
    if (ResetInner()) return Deliver(true);
    outer = AdvanceOuter();
  }
  return Deliver(false);
}

bool TJoinEvaluator::NextRecord() {
  if (NextInnerMatch()) return Deliver(true);
  while (AdvanceOuter())
    if (ResetInner()) return Deliver(true);
  return Deliver(false);
}

bool TJoinEvaluator::NextPass() {
  const TZelJoinType type = JoinAnalyser_->JoinType();
  if (Pass_ != 1 || (type != jtUnionJoin && type != jtFullOuterJoin)) return false;
  Pass_ = 2;
  JoinModeType_ = jmtJoinExpr;
  Clear();
  Outer_ = JoinAnalyser_->InnerProvider();
  Inner_ = JoinAnalyser_->OuterProvider();
  // The former inner side still holds the condition of the last outer row.
  Outer_->SetExtraSelectExpRoot(nullptr);
  Inner_->SetExtraSelectExpRoot(nullptr);
  InternalPrepare();
  return FirstRecord();
}

}  // namespace zel
