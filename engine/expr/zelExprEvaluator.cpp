#include "engine/expr/zelExprEvaluator.h"

#include <cmath>
#include <string_view>

#include "engine/expr/zelBaseParserOps.h"
#include "engine/expr/zelExprParser.h"
#include "engine/expr/zelParserUtils.h"
#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelCommonText.h"
#include "platform/rtl/Collation.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

constexpr int32_t kErrInvalidFieldType = 0x2710;
constexpr int32_t kErrSQL = 0x25AD;
constexpr int32_t kErrMultipleRows = 0x25B2;
constexpr int32_t kErrMultipleColumns = 0x25B8;
constexpr int32_t kErrNoStringCompare = 0x2751;
constexpr int32_t kErrGeneratorName = 0x278D;

bool IsUnknownOrNull(const plat::Variant& Value) {
  return Value.IsEmpty() || Value.IsNull();
}

plat::Variant Negate(const plat::Variant& Value) {
  plat::Variant result;
  TZelOpEvaluator::EvaluateLogicalExprAsVar(zeoNOT, Value, plat::Variant(), result);
  return result;
}

bool IsOperatorNode(const TZelExprNode* Node) {
  return Node != nullptr && Node->Left() != nullptr && Node->Right() != nullptr &&
         (Node->Kind() == enkArithOperator || Node->Kind() == enkRelOperator ||
          Node->Kind() == enkLogicalOperator);
}

// The expression as text, for error messages: operands of an operator that
// are operators themselves stand in parentheses.
std::string NodeText(const TZelExprNode* Node, int32_t Depth = 0) {
  if (Node == nullptr) return std::string();
  if (Depth > 32) return "...";
  const std::string token = plat::Trim(Node->ParserToken()->RawTokenText());
  const auto operand = [Depth](const TZelExprNode* child) {
    const std::string text = NodeText(child, Depth + 1);
    return IsOperatorNode(child) ? "(" + text + ")" : text;
  };
  if (IsOperatorNode(Node))
    return operand(Node->Left()) + " " + token + " " + operand(Node->Right());
  if (Node->Kind() == enkFunc && (Node->Left() != nullptr || Node->Right() != nullptr)) {
    std::string inner = NodeText(Node->Left(), Depth + 1);
    if (Node->Right() != nullptr)
      inner += (inner.empty() ? "" : ", ") + NodeText(Node->Right(), Depth + 1);
    return token + "(" + inner + ")";
  }
  return token;
}

// Byte length of the UTF-8 character at Pos; a byte that starts no valid
// sequence counts as one character.
std::size_t CharLength(std::string_view Text, std::size_t Pos) {
  const auto lead = static_cast<unsigned char>(Text[Pos]);
  std::size_t length = lead < 0x80           ? 1
                       : (lead >> 5) == 0x6  ? 2
                       : (lead >> 4) == 0xE  ? 3
                       : (lead >> 3) == 0x1E ? 4
                                             : 1;
  if (Pos + length > Text.size()) return 1;
  for (std::size_t i = 1; i < length; ++i)
    if ((static_cast<unsigned char>(Text[Pos + i]) & 0xC0) != 0x80) return 1;
  return length;
}

// LIKE with an escape character: the character after the escape stands for
// itself. The pattern is cut into items and matched by a dynamic programme
// over (item, character), so the time stays bounded by their product.
bool MatchWithEscape(std::string_view Value, std::string_view Pattern, std::string_view Escape) {
  enum Kind { Literal, One, Run };
  struct Item {
    Kind kind;
    std::string_view text;
  };
  std::vector<Item> items;
  for (std::size_t i = 0; i < Pattern.size();) {
    std::size_t length = CharLength(Pattern, i);
    std::string_view c = Pattern.substr(i, length);
    if (c == Escape && i + length < Pattern.size()) {
      i += length;
      length = CharLength(Pattern, i);
      items.push_back({Literal, Pattern.substr(i, length)});
    } else if (c == "%") {
      items.push_back({Run, c});
    } else if (c == "_") {
      items.push_back({One, c});
    } else {
      items.push_back({Literal, c});
    }
    i += length;
  }
  std::vector<std::string_view> chars;
  for (std::size_t i = 0; i < Value.size();) {
    const std::size_t length = CharLength(Value, i);
    chars.push_back(Value.substr(i, length));
    i += length;
  }
  // matched[j]: the items so far match the first j characters.
  std::vector<char> matched(chars.size() + 1, 0), next(chars.size() + 1, 0);
  matched[0] = 1;
  for (const Item& item : items) {
    std::fill(next.begin(), next.end(), 0);
    for (std::size_t j = 0; j <= chars.size(); ++j) {
      if (item.kind == Run) {
        next[j] = matched[j] || (j > 0 && next[j - 1]);
      } else if (j > 0 && matched[j - 1]) {
        next[j] = item.kind == One || chars[j - 1] == item.text;
      }
    }
    matched.swap(next);
  }
  return matched[chars.size()] != 0;
}

// Value's text: a text value in place, anything else converted into Store.
std::string_view TextOf(const plat::Variant& Value, std::string& Store) {
  if (const std::string* text = Value.StringRef()) return *text;
  Store = Value.AsString();
  return Store;
}

// The first Size bytes of Text, never ending inside a character.
std::string CutAtCharacter(const std::string& Text, int32_t Size) {
  if (Size < 0 || static_cast<std::size_t>(Size) >= Text.size()) return Text;
  std::size_t end = 0;
  while (end < Text.size()) {
    const std::size_t length = CharLength(Text, end);
    if (end + length > static_cast<std::size_t>(Size)) break;
    end += length;
  }
  return Text.substr(0, end);
}

// A whole number for a position or a length, clamped so that the byte
// arithmetic cannot overflow.
int64_t ClampedInteger(const plat::Variant& Value) {
  const double d = std::trunc(Value.AsFloat());
  if (std::isnan(d)) return 0;
  if (d > 1e15) return static_cast<int64_t>(1e15);
  if (d < -1e15) return static_cast<int64_t>(-1e15);
  return static_cast<int64_t>(d);
}

}  // namespace

// ---------------------------------------------------------------------------
// LIKE patterns

void TZelLikePattern::Assign(std::string_view Pattern, std::string_view Escape, bool Fold) {
  if (Assigned_ && Fold == Fold_ && Pattern == Source_ && Escape == Escape_) return;
  Assigned_ = false;
  Source_ = Pattern;
  Escape_ = Escape;
  Fold_ = Fold;
  Pattern_ = Fold ? plat::AnsiUpperCase(Pattern) : std::string(Pattern);
  Runs_.assign(1, std::string());
  ByRuns_ = true;
  // The characters as the character-by-character matchers cut them: without
  // an escape strictly (a malformed sequence is one byte per character),
  // with one as MatchWithEscape does.
  const std::string_view pattern = Pattern_;
  const auto charLength = [this, pattern](std::size_t Pos) -> std::size_t {
    return Escape_.empty() ? plat::DecodeUtf8At(pattern, Pos).Length : CharLength(pattern, Pos);
  };
  for (std::size_t i = 0; i < pattern.size() && ByRuns_;) {
    std::size_t length = charLength(i);
    std::string_view c = pattern.substr(i, length);
    bool literal = true;
    if (!Escape_.empty() && c == Escape_ && i + length < pattern.size()) {
      i += length;
      length = charLength(i);
      c = pattern.substr(i, length);
    } else if (c == "%") {
      if (!Runs_.back().empty() || Runs_.size() == 1) Runs_.emplace_back();
      literal = false;
    } else if (c == "_") {
      ByRuns_ = false;
    }
    // A byte that starts no character of its own could be found inside one.
    if (literal && length == 1 && static_cast<unsigned char>(c[0]) >= 0x80) ByRuns_ = false;
    if (literal) Runs_.back() += c;
    i += length;
  }
  if (!ByRuns_) Runs_.clear();
  Assigned_ = true;
}

bool TZelLikePattern::Matches(std::string_view Value) const {
  if (!ByRuns_)
    return Escape_.empty() ? MatchPatternedStrings(Value, Pattern_)
                           : MatchWithEscape(Value, Pattern_, Escape_);
  if (Runs_.size() == 1) return Value == Runs_.front();
  // The first run starts the value and the last one ends it (either may be
  // empty); those between are found leftmost, in order, in what lies between.
  const std::string_view first = Runs_.front();
  const std::string_view last = Runs_.back();
  if (Value.size() < first.size() + last.size() || !Value.starts_with(first) ||
      !Value.ends_with(last))
    return false;
  const std::string_view middle = Value.substr(0, Value.size() - last.size());
  std::size_t from = first.size();
  for (std::size_t i = 1; i + 1 < Runs_.size(); ++i) {
    const std::size_t at = middle.find(Runs_[i], from);
    if (at == std::string_view::npos) return false;
    from = at + Runs_[i].size();
  }
  return true;
}

// ---------------------------------------------------------------------------
// Providers

int32_t TZelDataProviderBaseDBInterface::GetCurrentGeneratorValue(const std::string& Name) {
  ZelDatabaseError(kErrGeneratorName, "TZelDataProviderBaseDBInterface", Name, this);
}

TZelExprDataProvider::TZelExprDataProvider(TZelDataProviderBaseDBInterface* DBInterface)
    : ProviderFields_(std::make_unique<TInternalFields>()), DBInterface_(DBInterface) {}

TZelExprDataProvider::~TZelExprDataProvider() = default;

plat::Variant TZelExprDataProvider::GetDataAsVariant(int32_t FieldNo) {
  (void)FieldNo;
  return plat::Variant();
}

bool TZelExprDataProvider::IsFieldNull(int32_t FieldNo) {
  return GetDataAsVariant(FieldNo).IsNull();
}

bool TZelExprDataProvider::GetFieldText(int32_t FieldNo, std::string_view& Text, bool& IsNull) {
  (void)FieldNo;
  (void)Text;
  (void)IsNull;
  return false;
}

bool TZelExprDataProvider::GetFieldInteger(int32_t FieldNo, int64_t& Value, bool& IsNull) {
  (void)FieldNo;
  (void)Value;
  (void)IsNull;
  return false;
}

void TZelExprDataProvider::GetDefaultRecordList(TCompoundList& List) {
  (void)List;
}

bool TZelExprDataProvider::MoveToRecord(void* RecAddr) {
  (void)RecAddr;
  return false;
}

bool TZelExprDataProvider::ScanRecords(const std::function<void(void* RecAddr)>& Visit) {
  (void)Visit;
  return false;
}

TInternalFieldItem* TZelExprDataProvider::FindField(const TParserToken* Token,
                                                    const std::string& Name) {
  (void)Token;
  TInternalFields* fields = GetProviderFields();
  return fields == nullptr ? nullptr : fields->FindField(Name);
}

TZelExprDataProvider* TZelExprDataProvider::FindProvider(const std::string& Name) {
  (void)Name;
  return this;
}

bool TZelExprDataProvider::PassFilterEvent(void* RecAddr) {
  (void)RecAddr;
  return false;
}

// ---------------------------------------------------------------------------
// Building the tree

TExprEvaluator::~TExprEvaluator() {
  Clear();
}

void TExprEvaluator::Clear() {
  Root_ = nullptr;
  Nodes_ = nullptr;
  Owned_.clear();
  SubqueryValues_.clear();
  LastKept_ = nullptr;
}

void TExprEvaluator::Prepare(TZelExprDataProvider* Provider, TZelExprNode* Root) {
  Clear();
  DataProvider_ = Provider;
  if (!DBStringCompare_ && Provider != nullptr) DBStringCompare_ = Provider->DBStringCompare();
  Root_ = BuildNode(Root);
}

TExprEvaluatorNode* TExprEvaluator::BuildNode(TZelExprNode* Node) {
  if (Node == nullptr) return nullptr;
  Owned_.push_back(std::make_unique<TExprEvaluatorNode>());
  TExprEvaluatorNode* node = Owned_.back().get();
  node->SetNext(Nodes_);
  Nodes_ = node;
  node->SetExprNode(Node);
  node->SetDataProvider(DataProvider_);
  if (Node->Kind() == enkField) {
    const std::string name = Node->Data().AsString();
    TZelExprDataProvider* provider = DataProvider_;
    PLAT_ASSERT(provider != nullptr, "The Evaluator node data provider could not be found: ");
    if (!Node->TokenArgs().empty() && Node->TokenArgs()[0] != nullptr) {
      const std::string table = Node->TokenArgs()[0]->Text();
      provider = provider->FindProvider(table);
      PLAT_ASSERT(provider != nullptr,
                  ("The Evaluator node data provider could not be found: " + table).c_str());
    }
    node->SetDataProvider(provider);
    node->SetFieldRef(provider->FindField(Node->ParserToken(), name));
    PLAT_ASSERT(node->FieldRef() != nullptr, "Field not found in TExprEvaluator");
  }
  for (TZelExprNode* arg : Node->Args()) node->Args().push_back(BuildNode(arg));
  node->SetLeft(BuildNode(Node->Left()));
  node->SetRight(BuildNode(Node->Right()));
  return node;
}

bool TExprEvaluator::Evaluate() {
  // A whole-number field compared with a whole number, the condition of
  // many a scan, is decided without a Variant.
  bool outcome = false;
  if (Root_ != nullptr && Root_->ExprNode()->Kind() == enkRelOperator &&
      IntegerFieldRelop(Root_, outcome))
    return outcome;
  return EvaluateCondition();
}

bool TExprEvaluator::EvaluateCondition() {
  // So is a whole-number field looked up among a subquery's listed values.
  if (const TZelExprNode* root = Root_ != nullptr ? Root_->ExprNode() : nullptr;
      root != nullptr && root->Kind() == enkNonRelPredicate && root->Operator() == zeoIN) {
    if (bool found = false; ListedIntegerIn(Root_, found))
      return root->ParserToken()->Token() == zstNotIn ? !found : found;
  }
  const plat::Variant value = EvaluateValueExpr();
  try {
    return TZelOpEvaluator::IsTrue(value);
  } catch (const plat::EVariantError& error) {
    // A value such as a text is no condition.
    ZelDatabaseError(kErrSQL, "TExprEvaluator.Evaluate",
                     error.Message() + " in expression " + NodeText(Root_->ExprNode()), this);
  }
}

plat::Variant TExprEvaluator::EvaluateValueExpr() {
  if (Root_ == nullptr) return plat::Variant();
  try {
    return EvaluateNode(Root_);
  } catch (const plat::EVariantError& error) {
    // A value of the wrong kind for its operator (say, text in arithmetic).
    ZelDatabaseError(kErrSQL, "TExprEvaluator.EvaluateNode",
                     error.Message() + " in expression " + (NodeText(Root_->ExprNode())), this);
  }
}

// ---------------------------------------------------------------------------
// Evaluation

plat::Variant TExprEvaluator::Compare(TZelExprOperator Operator, const plat::Variant& Left,
                                      const plat::Variant& Right) const {
  plat::Variant result;
  TZelOpEvaluator::EvaluateRelopExprAsVar(Operator, Left, Right, result, ExcludeRelopNulls_);
  return result;
}

const plat::Variant& TExprEvaluator::Operand(TExprEvaluatorNode* Node, plat::Variant& Slot) {
  if (Node != nullptr) {
    const TZelExprNodeKind kind = Node->ExprNode()->Kind();
    if (kind == enkConst || kind == enkParam) return Node->ExprNode()->Data();
    Slot = EvaluateNode(Node);
  }
  return Slot;
}

plat::Variant TExprEvaluator::EvaluateField(TExprEvaluatorNode* Node) {
  plat::Variant result = Node->DataProvider()->GetDataAsVariant(Node->FieldRef()->FieldNo());
  const plat::TFieldType type = Node->FieldRef()->DataType();
  if (Node->ExprNode()->CaseInsensitiveMatch() && !IsUnknownOrNull(result) &&
      (type == plat::ftString || type == plat::ftWideString || type == plat::ftMemo ||
       type == plat::ftFmtMemo))
    result = plat::Variant(plat::AnsiUpperCase(result.AsString()));
  return result;
}

plat::Variant TExprEvaluator::EvaluateNode(TExprEvaluatorNode* Node) {
  if (Node == nullptr) return plat::Variant();
  TZelExprNode* expr = Node->ExprNode();
  switch (expr->Kind()) {
    case enkConst:
    case enkParam:
      return expr->Data();
    case enkField:
      return EvaluateField(Node);
    case enkRelOperator:
      return EvaluateRelop(Node);
    case enkLogicalOperator:
      return EvaluateLogical(Node);
    case enkArithOperator:
      return EvaluateArith(Node);
    case enkFunc:
      return EvaluateFunction(Node);
    case enkNonRelPredicate:
      return expr->Operator() == zeoLIKE ? EvaluateLike(Node) : EvaluateInPredicate(Node);
    case enkSubquery:
      if (expr->ParserToken()->CustomOrdinal() == zsqExists) {
        TCustomExprNodeDataProvider* rows = expr->ExprNodeDataProvider();
        PLAT_ASSERT(rows != nullptr, "ExprNodeDataProvider is not assigned");
        return plat::Variant(rows->HasAnyRow());
      }
      return EvaluateSubqueryValue(expr, "TExprEvaluator.EvaluateSubqueryValue");
    default:
      return plat::Variant();
  }
}

plat::Variant TExprEvaluator::EvaluateLogical(TExprEvaluatorNode* Node) {
  TZelExprNode* expr = Node->ExprNode();
  const TZelExprOperator op = expr->Operator();
  plat::Variant result;
  if (op == zeoISBLANK || op == zeoNOTBLANK) {
    TExprEvaluatorNode* operand = Node->Left();
    bool isNull = true;
    if (operand != nullptr && operand->ExprNode()->Kind() == enkField)
      // Answered without reading the value.
      isNull = operand->DataProvider()->IsFieldNull(operand->FieldRef()->FieldNo());
    else
      isNull = IsUnknownOrNull(EvaluateNode(operand));
    return plat::Variant(op == zeoISBLANK ? isNull : !isNull);
  }
  if (op == zeoNOT) {
    // The operand of NOT is its right child.
    TExprEvaluatorNode* operand = Node->Right() != nullptr ? Node->Right() : Node->Left();
    return Negate(EvaluateNode(operand));
  }
  const plat::Variant left = EvaluateNode(Node->Left());
  // The left side may decide alone: False for AND, True for OR.
  if (!IsUnknownOrNull(left) && left.AsBoolean() == (op == zeoOR))
    return plat::Variant(op == zeoOR);
  const plat::Variant right = EvaluateNode(Node->Right());
  TZelOpEvaluator::EvaluateLogicalExprAsVar(op, left, right, result);
  return result;
}

plat::Variant TExprEvaluator::EvaluateArith(TExprEvaluatorNode* Node) {
  plat::Variant leftSlot;
  plat::Variant rightSlot;
  const plat::Variant& left = Operand(Node->Left(), leftSlot);
  const plat::Variant& right = Operand(Node->Right(), rightSlot);
  if (IsUnknownOrNull(left) || IsUnknownOrNull(right)) return plat::Variant();
  TZelExprNode* expr = Node->ExprNode();
  if (expr->Operator() == zeoDIV && right.AsFloat() == 0)
    ZelDatabaseError(kErrSQL, "TExprEvaluator.EvaluateArithExpr",
                     "Division by zero in expression " + (NodeText(expr)), this);
  return TZelOpEvaluator::EvaluateArithExprValues(expr->Operator(), left, right);
}

bool TExprEvaluator::TakeIntegerTest(TExprEvaluatorNode* Node, TZelIntegerTest& Test) {
  // The parser puts a field left of a constant, so only that side is looked at.
  TExprEvaluatorNode* field = Node->Left();
  TExprEvaluatorNode* right = Node->Right();
  if (field == nullptr || right == nullptr || field->ExprNode()->Kind() != enkField) return false;
  const TZelExprNode* other = right->ExprNode();
  if (other->Kind() != enkConst && other->Kind() != enkParam) return false;
  const plat::TVarType type = other->Data().VarType();
  if (type != plat::varSmallint && type != plat::varInteger && type != plat::varInt64) return false;
  const TZelExprOperator op = Node->ExprNode()->Operator();
  if (op < zeoEQ || op > zeoLE) return false;
  Test.State = TZelIntegerTest::itApplies;
  Test.Provider = field->DataProvider();
  Test.FieldNo = field->FieldRef()->FieldNo();
  Test.Operator = op;
  Test.Given = other->Data().AsInt64();
  return true;
}

namespace {

// The settled comparison on the current row; false where the field gives
// no whole number (a Null, or a provider that reads it otherwise).
inline bool RunIntegerTest(const TZelIntegerTest& Test, bool& Outcome) {
  int64_t stored = 0;
  bool isNull = true;
  if (!Test.Provider->GetFieldInteger(Test.FieldNo, stored, isNull) || isNull) return false;
  switch (Test.Operator) {
    case zeoEQ:
      Outcome = stored == Test.Given;
      break;
    case zeoNE:
      Outcome = stored != Test.Given;
      break;
    case zeoGT:
      Outcome = stored > Test.Given;
      break;
    case zeoLT:
      Outcome = stored < Test.Given;
      break;
    case zeoGE:
      Outcome = stored >= Test.Given;
      break;
    default:
      Outcome = stored <= Test.Given;
      break;
  }
  return true;
}

}  // namespace

bool TExprEvaluator::IntegerFieldRelop(TExprEvaluatorNode* Node, bool& Outcome) {
  const TZelIntegerTest& settled = Node->IntegerTest();
  if (settled.State == TZelIntegerTest::itApplies) return RunIntegerTest(settled, Outcome);
  if (settled.State == TZelIntegerTest::itNone) return false;
  TZelIntegerTest now;
  return TakeIntegerTest(Node, now) && RunIntegerTest(now, Outcome);
}

void TExprEvaluator::SettleConstants() {
  for (TExprEvaluatorNode* node = Nodes_; node != nullptr; node = node->Next()) {
    if (node->ExprNode()->Kind() != enkRelOperator) continue;
    TZelIntegerTest& test = node->IntegerTest();
    test = TZelIntegerTest();
    if (!TakeIntegerTest(node, test)) test.State = TZelIntegerTest::itNone;
  }
}

plat::Variant TExprEvaluator::EvaluateRelop(TExprEvaluatorNode* Node) {
  if (bool outcome = false; IntegerFieldRelop(Node, outcome)) return plat::Variant(outcome);
  TZelExprNode* expr = Node->ExprNode();
  const TZelExprOperator op = expr->Operator();
  TZelExprNode* leftExpr = expr->Left();
  TZelExprNode* rightExpr = expr->Right();
  const auto quantified = [](const TZelExprNode* n) {
    if (n == nullptr || n->Kind() != enkSubquery) return false;
    const int32_t type = n->ParserToken()->CustomOrdinal();
    return type == zsqAnyOrSome || type == zsqAll;
  };
  const bool leftQuantified = quantified(leftExpr);
  const bool rightQuantified = quantified(rightExpr);
  if (leftQuantified && rightQuantified) {
    // Two sets cannot be compared row by row.
    ZelDatabaseError(kErrMultipleRows, "TExprEvaluator.EvaluateDualSubqueries", (NodeText(expr)),
                     this);
  }
  if (leftQuantified) {
    const plat::Variant right = EvaluateNode(Node->Right());
    return EvaluateQuantified(leftExpr, op, right, true);
  }
  if (rightQuantified) {
    const plat::Variant left = EvaluateNode(Node->Left());
    return EvaluateQuantified(rightExpr, op, left, false);
  }
  // Plain subqueries give their single value through EvaluateNode.
  plat::Variant leftSlot;
  plat::Variant rightSlot;
  const plat::Variant& left = Operand(Node->Left(), leftSlot);
  const plat::Variant& right = Operand(Node->Right(), rightSlot);
  if (leftExpr != nullptr && rightExpr != nullptr && ZelIsStringType(leftExpr->DataType()) &&
      ZelIsStringType(rightExpr->DataType()) && !IsUnknownOrNull(left) && !IsUnknownOrNull(right))
    return EvaluateStringRelop(expr, left, right);
  return Compare(op, left, right);
}

plat::Variant TExprEvaluator::EvaluateStringRelop(TZelExprNode* Node, const plat::Variant& Left,
                                                  const plat::Variant& Right) {
  PLAT_ASSERT(static_cast<bool>(DBStringCompare_), "String Comparison method is not assigned");
  const std::string left = Left.AsString();
  const std::string right = Right.AsString();
  const int32_t partialLength = Node->PartialLength();
  auto leftLength = static_cast<int32_t>(left.size());
  auto rightLength = static_cast<int32_t>(right.size());
  if (partialLength > 0) {
    leftLength = std::min(leftLength, partialLength);
    rightLength = std::min(rightLength, partialLength);
  }
  bool partial = Node->PartialMatch();
  if (partial) {
    // The field side is compared over the other side's length (a prefix).
    // The cut already makes the prefix, so the compare itself is whole: a
    // shorter stored value ('a') must not match a longer constant ('ab'),
    // just as the index's prefix run does not hold it.
    const bool leftField = Node->Left()->Kind() == enkField;
    const bool rightField = Node->Right()->Kind() == enkField;
    if (leftField && !rightField) {
      leftLength = std::min(leftLength, rightLength);
      partial = false;
    } else if (rightField && !leftField) {
      rightLength = std::min(rightLength, leftLength);
      partial = false;
    }
  }
  const int32_t outcome = DBStringCompare_(left.c_str(), right.c_str(), leftLength, rightLength,
                                           partial, Node->CaseInsensitiveMatch());
  return Compare(Node->Operator(), plat::Variant(outcome), plat::Variant(0));
}

plat::Variant TExprEvaluator::EvaluateSubqueryValue(TZelExprNode* Subquery, const char* Caller) {
  TCustomExprNodeDataProvider* rows = Subquery->ExprNodeDataProvider();
  PLAT_ASSERT(rows != nullptr, "ExprNodeDataProvider is not assigned");
  if (!rows->PrepareAndOpen() || !rows->First()) return plat::Variant();
  if (rows->ColumnCount() > 1)
    ZelDatabaseError(kErrMultipleColumns, Caller, (NodeText(Subquery)), this);
  const plat::Variant value = rows->ColumnValue(0);
  if (rows->Next()) ZelDatabaseError(kErrMultipleRows, Caller, "", this);
  return value;
}

plat::Variant TExprEvaluator::EvaluateQuantified(TZelExprNode* Subquery, TZelExprOperator Operator,
                                                 const plat::Variant& Value, bool SubqueryOnLeft) {
  TCustomExprNodeDataProvider* rows = Subquery->ExprNodeDataProvider();
  PLAT_ASSERT(rows != nullptr, SubqueryOnLeft ? "Left ExprNodeDataProvider is not assigned"
                                              : "Right ExprNodeDataProvider is not assigned");
  const bool all = Subquery->ParserToken()->CustomOrdinal() == zsqAll;
  bool unknownSeen = false;
  if (rows->PrepareAndOpen() && rows->First()) {
    if (rows->ColumnCount() > 1)
      ZelDatabaseError(kErrMultipleColumns, "TExprEvaluator.EvaluateLeftSubquery", "", this);
    do {
      const plat::Variant column = rows->ColumnValue(0);
      const plat::Variant outcome =
          SubqueryOnLeft ? Compare(Operator, column, Value) : Compare(Operator, Value, column);
      if (outcome.IsEmpty()) {
        unknownSeen = true;
        continue;
      }
      const bool passed = TZelOpEvaluator::IsTrue(outcome);
      if (!all && passed) return plat::Variant(true);
      if (all && !passed) return plat::Variant(false);
    } while (rows->Next());
  }
  // No row decided: a comparison that was unknown leaves the answer unknown.
  return unknownSeen ? plat::Variant() : plat::Variant(all);
}

namespace {

// Integers compare by value whatever their width: such a value is found by
// its number.
bool IsIntegerValue(const plat::Variant& Value) {
  const plat::TVarType type = Value.VarType();
  return type == plat::varSmallint || type == plat::varInteger || type == plat::varInt64;
}

}  // namespace

const TZelSubqueryValues& TExprEvaluator::KeptSubqueryValues(const TExprEvaluatorNode* Node,
                                                             TCustomExprNodeDataProvider& Rows,
                                                             uint64_t Stamp, bool Listed) {
  // Most conditions read one subquery, row after row: its values are at hand.
  if (LastKept_ != nullptr && LastKept_->first == Node && LastKept_->second.Rows == &Rows &&
      LastKept_->second.Stamp == Stamp)
    return LastKept_->second;
  LastKept_ = &*SubqueryValues_.try_emplace(Node).first;
  TZelSubqueryValues& kept = LastKept_->second;
  if (kept.Rows == &Rows && kept.Stamp == Stamp) return kept;
  kept = TZelSubqueryValues();
  if (Listed) {
    Rows.ListColumnValues(kept.Values);
  } else if (Rows.First()) {
    if (Rows.ColumnCount() > 1)
      ZelDatabaseError(kErrMultipleColumns, "TExprEvaluator.EvaluateInPredicate", "", this);
    do {
      kept.Values.push_back(Rows.ColumnValue(0));
    } while (Rows.Next());
  }
  bool nullKept = false;
  bool unknownKept = false;
  for (const plat::Variant& value : kept.Values) {
    if (IsIntegerValue(value)) {
      kept.Integers.insert(value.AsInt64());
    } else if (value.IsNull() || value.IsEmpty()) {
      // Every Null (and every unknown) compares alike: one is enough.
      bool& seen = value.IsNull() ? nullKept : unknownKept;
      if (!seen) kept.NonIntegers.push_back(value);
      seen = true;
    } else {
      kept.AllIntegers = false;
    }
  }
  // Stamped last: rows that failed to read are read again.
  kept.Rows = &Rows;
  kept.Stamp = Stamp;
  return kept;
}

bool TExprEvaluator::ListedIntegerIn(TExprEvaluatorNode* Node, bool& Found) {
  TExprEvaluatorNode* left = Node->Left();
  const TZelExprNode* expr = Node->ExprNode();
  if (left == nullptr || left->ExprNode()->Kind() != enkField || expr->Args().size() != 1 ||
      expr->Args()[0] == nullptr || expr->Args()[0]->Kind() != enkSubquery)
    return false;
  int64_t stored = 0;
  bool isNull = true;
  if (!left->DataProvider()->GetFieldInteger(left->FieldRef()->FieldNo(), stored, isNull) || isNull)
    return false;
  TCustomExprNodeDataProvider* rows = expr->Args()[0]->ExprNodeDataProvider();
  PLAT_ASSERT(rows != nullptr, "ExprNodeDataProvider is not assigned");
  const uint64_t listed = rows->ListedValuesStamp();
  if (listed == 0) return false;
  const TZelSubqueryValues& kept = KeptSubqueryValues(Node, *rows, listed, true);
  if (!kept.AllIntegers) return false;
  Found = kept.Integers.count(stored) > 0;
  // A Null among the values leaves a value not found unknown.
  return Found || kept.NonIntegers.empty();
}

plat::Variant TExprEvaluator::EvaluateInPredicate(TExprEvaluatorNode* Node) {
  TZelExprNode* expr = Node->ExprNode();
  if (bool found = false; ListedIntegerIn(Node, found)) {
    const plat::Variant result(found);
    return expr->ParserToken()->Token() == zstNotIn ? Negate(result) : result;
  }
  const plat::Variant value = EvaluateNode(Node->Left());
  bool unknownSeen = false;
  bool found = false;
  // A case-insensitive field is read upper-cased; the list is folded alike.
  const bool fold = expr->CaseInsensitiveMatch() && plat::VarIsStr(value);
  const auto test = [&](const plat::Variant& candidate) {
    const plat::Variant outcome = Compare(
        zeoEQ, value,
        fold && plat::VarIsStr(candidate) ? plat::Variant(plat::AnsiUpperCase(candidate.AsString()))
                                          : candidate);
    if (outcome.IsEmpty())
      unknownSeen = true;
    else if (TZelOpEvaluator::IsTrue(outcome))
      found = true;
    return found;
  };
  if (expr->Args().size() == 1 && expr->Args()[0] != nullptr &&
      expr->Args()[0]->Kind() == enkSubquery) {
    TCustomExprNodeDataProvider* rows = expr->Args()[0]->ExprNodeDataProvider();
    PLAT_ASSERT(rows != nullptr, "ExprNodeDataProvider is not assigned");
    // Rows that stay for the statement's run are read once; an integer is
    // then looked up, and only Nulls and unknowns remain to compare.
    const auto lookUp = [&](const TZelSubqueryValues& Kept) {
      if (Kept.AllIntegers && IsIntegerValue(value)) {
        found = Kept.Integers.count(value.AsInt64()) > 0;
        for (size_t i = 0; !found && i < Kept.NonIntegers.size(); ++i) test(Kept.NonIntegers[i]);
      } else {
        for (size_t i = 0; !found && i < Kept.Values.size(); ++i) test(Kept.Values[i]);
      }
    };
    if (const uint64_t listed = rows->ListedValuesStamp(); listed != 0) {
      lookUp(KeptSubqueryValues(Node, *rows, listed, true));
    } else if (rows->PrepareAndOpen()) {
      if (const uint64_t stamp = rows->RowsStamp(); stamp != 0) {
        lookUp(KeptSubqueryValues(Node, *rows, stamp, false));
      } else if (rows->First()) {
        if (rows->ColumnCount() > 1)
          ZelDatabaseError(kErrMultipleColumns, "TExprEvaluator.EvaluateInPredicate", "", this);
        do {
          if (test(rows->ColumnValue(0))) break;
        } while (rows->Next());
      }
    }
  } else {
    for (TExprEvaluatorNode* arg : Node->Args())
      if (test(EvaluateNode(arg))) break;
  }
  plat::Variant result = found         ? plat::Variant(true)
                         : unknownSeen ? plat::Variant()
                                       : plat::Variant(false);
  return expr->ParserToken()->Token() == zstNotIn ? Negate(result) : result;
}

plat::Variant TExprEvaluator::EvaluateLike(TExprEvaluatorNode* Node) {
  TZelExprNode* expr = Node->ExprNode();
  plat::Variant valueSlot;
  plat::Variant patternSlot;
  // A text field that is not folded is matched in the record itself.
  TExprEvaluatorNode* left = Node->Left();
  std::string_view text;
  bool isNull = false;
  const bool inPlace =
      left != nullptr && left->ExprNode()->Kind() == enkField &&
      !left->ExprNode()->CaseInsensitiveMatch() &&
      left->DataProvider()->GetFieldText(left->FieldRef()->FieldNo(), text, isNull);
  const plat::Variant& value = inPlace ? valueSlot : Operand(left, valueSlot);
  const plat::Variant& pattern = Operand(Node->Right(), patternSlot);
  if ((inPlace ? isNull : IsUnknownOrNull(value)) || IsUnknownOrNull(pattern))
    return plat::Variant();
  // Text is read in place; other values are converted.
  std::string valueText;
  std::string patternText;
  if (!inPlace) text = TextOf(value, valueText);
  const std::string_view mask = TextOf(pattern, patternText);
  const bool fold = expr->CaseInsensitiveMatch();
  if (fold) {
    valueText = plat::AnsiUpperCase(text);
    text = valueText;
  }
  std::string_view escape;
  std::string escapeText;
  if (!Node->Args().empty()) {
    plat::Variant escapeSlot;
    const plat::Variant& escapeValue = Operand(Node->Args()[0], escapeSlot);
    if (IsUnknownOrNull(escapeValue)) return plat::Variant();
    escapeText = escapeValue.AsString();
    if (!escapeText.empty())
      escape = std::string_view(escapeText).substr(0, CharLength(escapeText, 0));
  }
  TZelLikePattern& like = Node->LikePattern();
  like.Assign(mask, escape, fold);
  const bool matched = like.Matches(text);
  return plat::Variant(expr->ParserToken()->Token() == zstNotLike ? !matched : matched);
}

plat::Variant TExprEvaluator::EvaluateFunction(TExprEvaluatorNode* Node) {
  TZelExprNode* expr = Node->ExprNode();
  const TParserToken* token = expr->ParserToken();
  switch (token->Token()) {
    case zstStrFunc: {
      const int32_t kind = token->CustomOrdinal();
      if (kind == zsfUpper || kind == zsfLower) {
        const plat::Variant operand = EvaluateNode(Node->Right());
        if (IsUnknownOrNull(operand)) return plat::Variant();
        return plat::Variant(kind == zsfUpper ? plat::AnsiUpperCase(operand.AsString())
                                              : plat::AnsiLowerCase(operand.AsString()));
      }
      if (kind == zsfSubstring) {
        const plat::Variant source = EvaluateNode(Node->Left());
        const plat::Variant start = EvaluateNode(Node->Right());
        const plat::Variant length =
            Node->Args().empty() ? plat::Variant() : EvaluateNode(Node->Args()[0]);
        if (IsUnknownOrNull(source) || IsUnknownOrNull(start) ||
            (!Node->Args().empty() && IsUnknownOrNull(length)))
          return plat::Null();
        const std::string text = source.AsString();
        const auto size = static_cast<int64_t>(text.size());
        // Positions count from 1; the part outside the text is dropped.
        const int64_t first = ClampedInteger(start);
        int64_t last = size + 1;
        if (!Node->Args().empty()) {
          const int64_t count = ClampedInteger(length);
          if (count < 0) return plat::Variant(std::string());
          last = first + count;
        }
        const int64_t begin = std::max<int64_t>(first, 1);
        const int64_t end = std::min<int64_t>(last, size + 1);
        if (end <= begin) return plat::Variant(std::string());
        return plat::Variant(text.substr(static_cast<std::size_t>(begin - 1),
                                         static_cast<std::size_t>(end - begin)));
      }
      // TRIM: the left child is the source, the right one the character.
      const plat::Variant source = EvaluateNode(Node->Left());
      if (IsUnknownOrNull(source)) return plat::Null();
      std::string trim = " ";
      if (Node->Right() != nullptr) {
        const plat::Variant character = EvaluateNode(Node->Right());
        if (!IsUnknownOrNull(character)) {
          const std::string text = character.AsString();
          if (!text.empty()) trim = text.substr(0, CharLength(text, 0));
        }
      }
      std::string text = source.AsString();
      std::size_t begin = 0;
      std::size_t end = text.size();
      if (kind != zsfTrimTrailing)
        while (end - begin >= trim.size() && text.compare(begin, trim.size(), trim) == 0)
          begin += trim.size();
      if (kind != zsfTrimLeading)
        while (end - begin >= trim.size() &&
               text.compare(end - trim.size(), trim.size(), trim) == 0)
          end -= trim.size();
      return plat::Variant(text.substr(begin, end - begin));
    }
    case zstCast:
      return EvaluateCastExpr(expr, EvaluateNode(Node->Right()));
    case zstExtract:
      return EvaluateExtractExpr(expr, EvaluateNode(Node->Right()));
    case zstIdentCurrent: {
      TZelDataProviderBaseDBInterface* db =
          Node->DataProvider() != nullptr ? Node->DataProvider()->DBInterface() : nullptr;
      if (db == nullptr) {
        TZelDataProviderBaseDBInterface none;
        return plat::Variant(none.GetCurrentGeneratorValue(expr->Data().AsString()));
      }
      return plat::Variant(db->GetCurrentGeneratorValue(expr->Data().AsString()));
    }
    case zstCurrentDate:
    case zstCurrentTime:
    case zstCurrentTimestamp:
      return expr->Data();
    default:
      // Aggregates and outer references: supplied by the query engine.
      return plat::Variant();
  }
}

plat::Variant TExprEvaluator::EvaluateCastExpr(TZelExprNode* Node, const plat::Variant& Value) {
  if (Value.IsEmpty()) return Value;
  if (Value.IsNull()) return plat::Null();
  const plat::TFieldType type = Node->DataType();
  try {
    switch (type) {
      case plat::ftString:
      case plat::ftFixedChar:
      case plat::ftWideString:
      case plat::ftMemo:
      case plat::ftFmtMemo:
      case plat::ftBlob:
      case plat::ftGraphic:
        return plat::Variant(
            CutAtCharacter(Value.AsString(), Node->DataSize() > 0 ? Node->DataSize() : -1));
      case plat::ftDate:
        return plat::VarFromDateTime(std::trunc(Value.AsDateTime()));
      case plat::ftTime: {
        const double dateTime = Value.AsDateTime();
        return plat::VarFromDateTime(std::fabs(dateTime - std::trunc(dateTime)));
      }
      case plat::ftDateTime:
        return plat::VarFromDateTime(Value.AsDateTime());
      case plat::ftSmallint:
      case plat::ftInteger:
      case plat::ftWord:
      case plat::ftAutoInc:
        return plat::VarAsType(Value, plat::varInteger);
      case plat::ftLargeint:
        return plat::VarAsType(Value, plat::varInt64);
      case plat::ftFloat:
      case plat::ftBCD:
        return plat::VarAsType(Value, plat::varDouble);
      case plat::ftCurrency:
        return plat::VarAsType(Value, plat::varCurrency);
      case plat::ftBoolean:
        return plat::VarAsType(Value, plat::varBoolean);
      default:
        break;
    }
  } catch (const plat::EVariantError& error) {
    ZelDatabaseError(kErrInvalidFieldType, "TExprEvaluator.EvaluateCastExpr",
                     error.Message() + " in expression " + (NodeText(Node)), this);
  } catch (const plat::EConvertError& error) {
    ZelDatabaseError(kErrInvalidFieldType, "TExprEvaluator.EvaluateCastExpr",
                     error.Message() + " in expression " + (NodeText(Node)), this);
  }
  ZelDatabaseError(kErrInvalidFieldType, "TExprEvaluator.EvaluateCastExpr", (NodeText(Node)), this);
}

plat::Variant TExprEvaluator::EvaluateExtractExpr(TZelExprNode* Node, const plat::Variant& Value) {
  if (Value.IsEmpty()) return Value;
  if (Value.IsNull()) return plat::Null();
  const plat::TFieldType sourceType =
      Node->Right() != nullptr ? Node->Right()->DataType() : plat::ftUnknown;
  if (sourceType != plat::ftUnknown && !ZelIsTemporalType(sourceType) &&
      !ZelIsStringType(sourceType))
    ZelDatabaseError(kErrInvalidFieldType, "TExprEvaluator.EvaluateExtractExpr", (NodeText(Node)),
                     this);
  double dateTime = 0;
  try {
    dateTime = Value.AsDateTime();
  } catch (const plat::EVariantError& error) {
    ZelDatabaseError(kErrInvalidFieldType, "TExprEvaluator.EvaluateExtractExpr",
                     error.Message() + " in expression " + (NodeText(Node)), this);
  }
  int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
  plat::DecodeDate(dateTime, year, month, day);
  plat::DecodeTime(dateTime, hour, minute, second, msec);
  switch (Node->ParserToken()->CustomOrdinal()) {
    case zstYear:
      return plat::Variant(year);
    case zstMonth:
      return plat::Variant(month);
    case zstDay:
      return plat::Variant(day);
    case zstHour:
      return plat::Variant(hour);
    case zstMinute:
      return plat::Variant(minute);
    default:
      return plat::Variant(second + msec / 1000.0);
  }
}

// ---------------------------------------------------------------------------
// Result lists

void TExprResultListGenerator::CreateResultList(TZelExprDataProvider& Provider, TZelExprNode* Root,
                                                bool ExcludeRelopNulls, TCompoundList& ResultList,
                                                const TCompoundList& CandidateList) {
  if (!Provider.DBStringCompare())
    ZelDatabaseError(kErrNoStringCompare, "TExprResultListGenerator.CreateResultList");
  ResultList.Clear();
  const int32_t count = CandidateList.Count();
  if (Root == nullptr) {
    for (int32_t i = 0; i < count; ++i)
      ResultList.Add(CandidateList.List1().Items(i), CandidateList.List2().Items(i));
    return;
  }
  TExprEvaluator evaluator;
  evaluator.SetExcludeRelopNulls(ExcludeRelopNulls);
  evaluator.Prepare(&Provider, Root);
  evaluator.SettleConstants();
  for (int32_t i = 0; i < count; ++i) {
    void* address = CandidateList.List1().Items(i);
    // A row that cannot be read is not part of the result.
    if (!Provider.MoveToRecord(address)) continue;
    evaluator.Reset();
    if (evaluator.Evaluate()) ResultList.Add(address, CandidateList.List2().Items(i));
  }
}

bool TExprResultListGenerator::ScanResultList(TZelExprDataProvider& Provider, TZelExprNode* Root,
                                              bool ExcludeRelopNulls, TCompoundList& ResultList,
                                              int32_t& Scanned) {
  if (!Provider.DBStringCompare())
    ZelDatabaseError(kErrNoStringCompare, "TExprResultListGenerator.ScanResultList");
  ResultList.Clear();
  Scanned = 0;
  TExprEvaluator evaluator;
  evaluator.SetExcludeRelopNulls(ExcludeRelopNulls);
  if (Root != nullptr) {
    evaluator.Prepare(&Provider, Root);
    evaluator.SettleConstants();
  }
  return Provider.ScanRecords([&](void* Address) {
    ++Scanned;
    if (Root != nullptr) {
      evaluator.Reset();
      if (!evaluator.Evaluate()) return;
    }
    ResultList.Add(Address, nullptr);
  });
}

}  // namespace zel
