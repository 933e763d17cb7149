#include "engine/expr/zelExprParser.h"

#include <cmath>
#include <string_view>
#include <vector>

#include "engine/expr/zelBaseParserOps.h"
#include "engine/expr/zelMiscParsers.h"
#include "engine/expr/zelParserUtils.h"
#include "engine/storage/zelConsts.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

// Deep enough for any written expression, shallow enough that the recursion
// stays far from the stack's end even under the sanitizers.
constexpr int32_t kMaxDepth = 200;
// Bounds the height of the tree (every operator of a run such as
// a OR b OR c adds a level), which the evaluator and the tree copies walk
// recursively.
constexpr int32_t kMaxHeight = 2000;

bool IsRelOperator(TZelExprOperator Operator) {
  return Operator >= zeoEQ && Operator <= zeoLE;
}

TZelExprOperator Mirror(TZelExprOperator Operator) {
  switch (Operator) {
    case zeoGT:
      return zeoLT;
    case zeoLT:
      return zeoGT;
    case zeoGE:
      return zeoLE;
    case zeoLE:
      return zeoGE;
    default:
      return Operator;
  }
}

bool IsConst(const TZelExprNode* Node) {
  return Node != nullptr && Node->Kind() == enkConst;
}

bool IsField(const TZelExprNode* Node) {
  return Node != nullptr && Node->Kind() == enkField;
}

std::string TypeName(plat::TFieldType Type) {
  return Type < plat::FieldTypeNames.size() ? std::string(plat::FieldTypeNames[Type]) : "?";
}

// Counts the parser's nesting for as long as it lives.
class TDepthGuard {
 public:
  explicit TDepthGuard(int32_t& Depth) : Depth_(Depth) { ++Depth_; }
  ~TDepthGuard() { --Depth_; }
  TDepthGuard(const TDepthGuard&) = delete;
  TDepthGuard& operator=(const TDepthGuard&) = delete;

 private:
  int32_t& Depth_;
};

}  // namespace

// The largest operand BETWEEN copies.
constexpr int32_t kMaxCopiedNodes = 4096;

// The number of nodes of a subtree (children and arguments), counted up to
// just past Limit.
int32_t SubtreeSize(const TZelExprNode* Node, int32_t Limit) {
  if (Node == nullptr) return 0;
  int32_t size = 1;
  std::vector<const TZelExprNode*> pending = {Node};
  while (!pending.empty() && size <= Limit) {
    const TZelExprNode* node = pending.back();
    pending.pop_back();
    for (const TZelExprNode* next : {node->Left(), node->Right()})
      if (next != nullptr) {
        ++size;
        pending.push_back(next);
      }
    for (const TZelExprNode* arg : node->Args())
      if (arg != nullptr) {
        ++size;
        pending.push_back(arg);
      }
  }
  return size;
}

// Adds the operators of one run to the parser's tree height for as long as
// it lives.
class THeightGuard {
 public:
  explicit THeightGuard(int32_t& Height) : Height_(Height) {}
  ~THeightGuard() { Height_ -= Added_; }
  THeightGuard(const THeightGuard&) = delete;
  THeightGuard& operator=(const THeightGuard&) = delete;
  // False once the tree would grow too high.
  bool Step() {
    ++Added_;
    return ++Height_ <= kMaxHeight;
  }

 private:
  int32_t& Height_;
  int32_t Added_ = 0;
};

TZelExprOperator ZelOperatorOfText(const std::string& Text) {
  static constexpr struct {
    std::string_view Text;
    TZelExprOperator Operator;
  } kOperators[] = {{"<", zeoLT},  {"<=", zeoLE}, {"=", zeoEQ},  {">=", zeoGE},
                    {">", zeoGT},  {"<>", zeoNE}, {"+", zeoADD}, {"||", zeoADD},
                    {"-", zeoSUB}, {"*", zeoMUL}, {"/", zeoDIV}};
  for (const auto& entry : kOperators)
    if (entry.Text == Text) return entry.Operator;
  return zeoNOTDEFINED;
}

TZelExprNodeKind GetExprNodeKind(TZelExprOperator Operator) {
  if (Operator >= zeoEQ && Operator <= zeoLE) return enkRelOperator;
  switch (Operator) {
    case zeoISBLANK:
    case zeoNOTBLANK:
    case zeoNOT:
    case zeoAND:
    case zeoOR:
      return enkLogicalOperator;
    case zeoFIELD2:
      return enkField;
    case zeoCONST2:
      return enkConst;
    default:
      return Operator >= zeoMINUS && Operator <= zeoDIV ? enkArithOperator : enkUnknown;
  }
}

bool ZelIsNumericType(plat::TFieldType Type) {
  switch (Type) {
    case plat::ftSmallint:
    case plat::ftInteger:
    case plat::ftWord:
    case plat::ftFloat:
    case plat::ftCurrency:
    case plat::ftBCD:
    case plat::ftAutoInc:
    case plat::ftLargeint:
      return true;
    default:
      return false;
  }
}

bool ZelIsIntegralType(plat::TFieldType Type) {
  return Type == plat::ftSmallint || Type == plat::ftInteger || Type == plat::ftWord ||
         Type == plat::ftAutoInc || Type == plat::ftLargeint;
}

bool ZelIsStringType(plat::TFieldType Type) {
  return Type == plat::ftString || Type == plat::ftWideString || Type == plat::ftFixedChar;
}

bool ZelIsTemporalType(plat::TFieldType Type) {
  return Type == plat::ftDate || Type == plat::ftTime || Type == plat::ftDateTime;
}

bool ZelIsBlobType(plat::TFieldType Type) {
  return Type == plat::ftBlob || Type == plat::ftMemo || Type == plat::ftGraphic ||
         Type == plat::ftFmtMemo;
}

// ---------------------------------------------------------------------------
// Set-up and entry points

TZelExprParser::TZelExprParser()
    : Expr_(std::make_unique<TZelExpr>()), Target_(Expr_.get()), ValidEndTokens_{zstEnd} {}

TZelExprParser::~TZelExprParser() = default;

void TZelExprParser::BeginParse(TZelExpr* Target, TZelParserOptions Options, TParserStack* Stack) {
  TBaseParser::Execute(Options, Stack);
  if (Target == nullptr) {
    Expr_ = std::make_unique<TZelExpr>();
    Target_ = Expr_.get();
  } else {
    Expr_.reset();
    Target_ = Target;
  }
  Target_->SetCaseInsensitiveMatch(CaseInsensitiveMatch_);
  Target_->SetPartialStringComparisons(PartialStringComparison_);
  Target_->SetErrorMsg(ErrorMsg_);
  Root_ = nullptr;
  Depth_ = 0;
  Height_ = 0;
}

bool TZelExprParser::AtExprEnd() const {
  if (CurrToken_ == nullptr) return true;
  const TZelSQLToken kind = CurrentTokenType();
  return kind == zstEnd || ValidEndTokens_.Contains(kind) || (IsSubquery_ && kind == zstRParen);
}

bool TZelExprParser::Execute(TZelParserOptions Options, TParserStack* Stack) {
  BeginParse(nullptr, Options, Stack);
  if (!AtExprEnd()) Root_ = ParseCondition();
  if (!HasParseError() && !AtExprEnd())
    Fail(CurrentTokenType() == zstFieldName ? SzelInvalidToken : SzelExprTerminatedIncorrectly);
  if (HasParseError()) Root_ = nullptr;
  Target_->SetAsFirstNode(Root_);
  return !HasParseError();
}

bool TZelExprParser::ExecuteExternalExpr(TZelExpr& Target, TZelParserOptions Options,
                                         TParserStack* Stack) {
  BeginParse(&Target, Options, Stack);
  return FinishExternal(ParseCondition());
}

bool TZelExprParser::ExecuteExternalValueExpr(TZelExpr& Target, TZelParserOptions Options,
                                              TParserStack* Stack) {
  BeginParse(&Target, Options, Stack);
  return FinishExternal(ParseValueExpr());
}

bool TZelExprParser::FinishExternal(TZelExprNode* Root) {
  Root_ = Root;
  if (!HasParseError() && !AtExprEnd()) Fail(SzelExprTerminatedIncorrectly);
  if (HasParseError()) Root_ = nullptr;
  Target_->SetAsFirstNode(Root_);
  return !HasParseError();
}

void TZelExprParser::CloneFromExpr(const TZelExpr& Source, bool Replace,
                                   TZelExprOperator Operator) {
  if (Replace) {
    Target_->Clear();
    Root_ = Target_->CloneFromTree(Source.FirstNode());
    return;
  }
  PLAT_ASSERT(Operator == zeoAND || Operator == zeoOR, "Unsupported Expr assign operator");
  TZelExprNode* copy = Target_->CloneSubTree(Source.FirstNode());
  if (Root_ == nullptr || copy == nullptr) {
    // Joining with nothing would leave an operand missing, which evaluates
    // as unknown; the one tree stands alone instead.
    Root_ = copy != nullptr ? copy : Root_;
    Target_->SetAsFirstNode(Root_);
    return;
  }
  TZelExprNode* node =
      Target_->NewNode(enkLogicalOperator, Operator, plat::Unassigned(), copy, Root_, nullptr);
  if (node == nullptr) return;
  node->SetDataType(plat::ftBoolean);
  node->ParserToken()->SetToken(Operator == zeoAND ? zstAnd : zstOr);
  Target_->SetAsFirstNode(node);
  Root_ = node;
}

// ---------------------------------------------------------------------------
// Helpers

void TZelExprParser::Fail(const std::string& Message) {
  Fail(CurrToken_, Message);
}

void TZelExprParser::Fail(TParserToken* Token, const std::string& Message) {
  SetError(Token, Message);
  // Once the expression holds the error it makes no more nodes.
  if (Target_ != nullptr && Target_->ErrorMsg().empty()) Target_->SetErrorMsg(ErrorMsg_);
}

bool TZelExprParser::Expect(TZelSQLToken Kind, const char* Message) {
  if (HasParseError()) return false;
  if (CurrToken_ == nullptr || CurrentTokenType() != Kind) {
    Fail(Message);
    return false;
  }
  NextToken();
  return true;
}

TZelExprNode* TZelExprParser::MakeNode(TZelExprNodeKind Kind, TZelExprOperator Operator,
                                       TZelExprNode* Left, TZelExprNode* Right,
                                       const TParserToken* Token, plat::TFieldType Type) {
  if (HasParseError()) return nullptr;
  TZelExprScopeKind scope = zskConst;
  const TZelExprNode* operands[] = {Left, Right};
  bool field = false;
  bool agg = false;
  for (const TZelExprNode* operand : operands) {
    if (operand == nullptr) continue;
    field = field || operand->ScopeKind() == zskField;
    agg = agg || operand->ScopeKind() == zskAgg;
  }
  if (field && agg) {
    Fail(SzelExprBadScope);
    return nullptr;
  }
  scope = agg ? zskAgg : field ? zskField : zskConst;
  TZelExprNode* node = Target_->NewNode(Kind, Operator, plat::Unassigned(), Left, Right, Token);
  if (node == nullptr) return nullptr;
  node->SetDataType(Type);
  node->SetScopeKind(scope);
  return node;
}

void TZelExprParser::ConvertConstant(TZelExprNode* Node, plat::TFieldType Type,
                                     TParserToken* Token) {
  if (Node == nullptr || Type == plat::ftUnknown) return;
  try {
    if (ZelIsIntegralType(Type) && !Node->Data().IsNull() && !Node->Data().IsEmpty()) {
      // A number with a fraction, or one an integer cannot hold, keeps its
      // value: narrowing it would change what the comparison selects.
      const double value = Node->Data().AsFloat();
      if (!(value >= INT32_MIN && value <= INT32_MAX) || value != std::trunc(value)) {
        Node->SetData(plat::Variant(value));
        Node->SetDataType(plat::ftFloat);
        return;
      }
      Node->SetData(plat::Variant(value));
    }
    Node->SetAndConvertDataType(Type);
  } catch (const plat::EVariantError&) {
    Fail(Token, SzelExprTypeMismatch);
  } catch (const plat::EConvertError&) {
    Fail(Token, SzelExprTypeMismatch);
  }
}

void TZelExprParser::CheckDataConversions(TZelExprNode* Left, TZelExprNode* Right,
                                          TParserToken* Token) {
  if (HasParseError()) return;
  TZelExprNode* field = nullptr;
  TZelExprNode* constant = nullptr;
  if (IsField(Left) && IsConst(Right)) {
    field = Left;
    constant = Right;
  } else if (IsField(Right) && IsConst(Left)) {
    field = Right;
    constant = Left;
  }
  if (field == nullptr || field->DataType() == plat::ftUnknown) return;
  if (constant->Data().IsNull() || constant->Data().IsEmpty()) return;
  if (ZelIsBlobType(field->DataType())) return;
  ConvertConstant(constant, field->DataType(), Token);
  if (!HasParseError() && constant->DataType() == field->DataType())
    constant->SetDataSize(field->DataSize());
}

void TZelExprParser::ConvertTemporalOperands(TZelExprNode* X, TZelExprNode* Right) {
  if (HasParseError() || X == nullptr || Right == nullptr) return;
  TZelExprNode* text = nullptr;
  plat::TFieldType type = plat::ftUnknown;
  if (ZelIsTemporalType(X->DataType()) && ZelIsStringType(Right->DataType())) {
    text = Right;
    type = X->DataType();
  } else if (ZelIsTemporalType(Right->DataType()) && ZelIsStringType(X->DataType())) {
    text = X;
    type = Right->DataType();
  }
  // Only a literal's text is known now; a string field is compared as it is.
  if (text == nullptr || !IsConst(text) || text->Data().IsNull() || text->Data().IsEmpty()) return;
  plat::Variant value;
  TZelDataConversionValidator::ConvertStrToDateTime(text->Data().AsString(), type, value);
  text->SetData(value);
  text->SetDataType(type);
}

bool TZelExprParser::CheckPredicateTypes(TZelExprNode* X, TZelExprNode* Right, bool IsLike,
                                         TParserToken* Token) {
  if (HasParseError() || X == nullptr) return false;
  const auto binary = [](plat::TFieldType t) {
    return t == plat::ftBytes || t == plat::ftVarBytes || ZelIsBlobType(t);
  };
  if (ZelIsBlobType(X->DataType())) {
    if (!IsLike) {
      Fail(Token, SzelExprTypeMismatch);
      return false;
    }
    if (IsConst(Right)) Right->SetDataType(plat::ftString);
    return true;
  }
  if (binary(X->DataType()) || (Right != nullptr && binary(Right->DataType()))) {
    Fail(Token, SzelExprTypeMismatch);
    return false;
  }
  return true;
}

void TZelExprParser::TypeCheckArithOp(TZelExprNode* Node, TParserToken* OperatorToken) {
  if (Node == nullptr || IgnoreTypeChecks_ || HasParseError()) return;
  TZelExprNode* l = Node->Left();
  TZelExprNode* r = Node->Right();
  if (l == nullptr || r == nullptr) return;
  if (l->Kind() == enkParam && r->Kind() == enkParam) return;
  if (l->Kind() == enkSubquery || r->Kind() == enkSubquery) return;
  if (l->Kind() == enkParam) l->SetDataType(r->DataType());
  if (r->Kind() == enkParam) r->SetDataType(l->DataType());
  const plat::TFieldType lt = l->DataType();
  const plat::TFieldType rt = r->DataType();
  const TZelExprOperator op = Node->Operator();
  plat::TFieldType result = plat::ftUnknown;
  if (ZelIsNumericType(lt) && ZelIsNumericType(rt)) {
    result = plat::ftFloat;
  } else if (ZelIsStringType(lt) && ZelIsStringType(rt) && op == zeoADD) {
    result = plat::ftString;
    if (l->DataSize() >= 0 && r->DataSize() >= 0) Node->SetDataSize(l->DataSize() + r->DataSize());
  } else if (op == zeoADD && ((ZelIsTemporalType(lt) && ZelIsNumericType(rt)) ||
                              (ZelIsNumericType(lt) && ZelIsTemporalType(rt)))) {
    result = plat::ftDateTime;
  } else if (op == zeoSUB && ZelIsTemporalType(lt) && ZelIsNumericType(rt)) {
    result = lt;
  } else if (op == zeoSUB && ZelIsTemporalType(lt) && ZelIsTemporalType(rt)) {
    result = plat::ftFloat;
  } else if (op == zeoSUB && ZelIsStringType(lt) && ZelIsTemporalType(rt)) {
    ConvertTemporalOperands(r, l);
    result = plat::ftFloat;
  } else if (op == zeoSUB && ZelIsTemporalType(lt) && ZelIsStringType(rt)) {
    ConvertTemporalOperands(l, r);
    result = plat::ftFloat;
  } else {
    Fail(OperatorToken, SzelExprTypeMismatch);
    return;
  }
  Node->SetDataType(result);
}

plat::TFieldType TZelExprParser::InternalGetFieldType(const std::string& TableName,
                                                      const std::string& FieldName) const {
  if (TableList_ == nullptr || TableList_->Count() == 0) return plat::ftUnknown;
  const TTableNameItem* item = TableName.empty() ? TableList_->FindTableForField(FieldName)
                                                 : TableList_->FindTable(TableName);
  return item == nullptr ? plat::ftUnknown : item->GetFieldType(FieldName);
}

int32_t TZelExprParser::InternalGetFieldSize(const std::string& TableName,
                                             const std::string& FieldName) const {
  if (TableList_ == nullptr || TableList_->Count() == 0) return 0;
  const TTableNameItem* item = TableName.empty() ? TableList_->FindTableForField(FieldName)
                                                 : TableList_->FindTable(TableName);
  return item == nullptr ? 0 : item->GetFieldSize(FieldName);
}

// ---------------------------------------------------------------------------
// Conditions

TZelExprNode* TZelExprParser::ParseLogicalRun(TZelExprNode* (TZelExprParser::*Operand)(),
                                              TZelSQLToken Kind, TZelExprOperator Operator) {
  TZelExprNode* left = (this->*Operand)();
  THeightGuard height(Height_);
  while (!HasParseError() && CurrToken_ != nullptr && CurrentTokenType() == Kind) {
    TParserToken* token = CurrToken_;
    if (!height.Step()) {
      Fail(SzelInvalidToken);
      return nullptr;
    }
    NextToken();
    TZelExprNode* right = (this->*Operand)();
    if (HasParseError()) return nullptr;
    left = MakeNode(enkLogicalOperator, Operator, left, right, token, plat::ftBoolean);
  }
  return HasParseError() ? nullptr : left;
}

TZelExprNode* TZelExprParser::ParseCondition() {
  return ParseLogicalRun(&TZelExprParser::ParseAndTerm, zstOr, zeoOR);
}

TZelExprNode* TZelExprParser::ParseAndTerm() {
  return ParseLogicalRun(&TZelExprParser::ParseNotTerm, zstAnd, zeoAND);
}

TZelExprNode* TZelExprParser::ParseNotTerm() {
  if (CurrToken_ == nullptr || CurrentTokenType() != zstNot) return ParsePredicate();
  TParserToken* token = CurrToken_;
  NextToken();
  TZelExprNode* operand = ParsePredicate();
  if (HasParseError()) return nullptr;
  return MakeNode(enkLogicalOperator, zeoNOT, nullptr, operand, token, plat::ftBoolean);
}

TZelExprNode* TZelExprParser::ParsePredicate() {
  TZelExprNode* x = ParseValueExpr();
  if (HasParseError() || CurrToken_ == nullptr) return HasParseError() ? nullptr : x;
  switch (CurrentTokenType()) {
    case zstCompOperator:
      return ParseComparison(x);
    case zstIsNull:
    case zstIsNotNull: {
      TParserToken* token = CurrToken_;
      NextToken();
      return MakeNode(enkLogicalOperator, token->Token() == zstIsNull ? zeoISBLANK : zeoNOTBLANK, x,
                      nullptr, token, plat::ftBoolean);
    }
    case zstBetween:
    case zstNotBetween:
      return ParseBetween(x);
    case zstIn:
    case zstNotIn:
      return ParseIn(x);
    case zstLike:
    case zstNotLike:
      return ParseLike(x);
    default:
      return x;
  }
}

TZelExprNode* TZelExprParser::MakeComparison(TZelExprOperator Operator, TZelExprNode* Left,
                                             TZelExprNode* Right, TParserToken* Token) {
  if (!CheckPredicateTypes(Left, Right, false, Token)) return nullptr;
  ConvertTemporalOperands(Left, Right);
  CheckDataConversions(Left, Right, Token);
  return MakeNode(enkRelOperator, Operator, Left, Right, Token, plat::ftBoolean);
}

TZelExprNode* TZelExprParser::ParseComparison(TZelExprNode* X) {
  TParserToken* token = CurrToken_;
  TZelExprOperator op = ZelOperatorOfText(token->Text());
  // A run such as "=<" is no operator: the expression ends before it.
  if (!IsRelOperator(op)) return X;
  NextToken();
  if (CurrentTokenType() == zstNull) {
    Fail(SzelExprTypeMismatch);
    return nullptr;
  }
  TZelExprNode* right = ParseValueExpr();
  if (HasParseError()) return nullptr;
  if (IsField(right) && !IsField(X)) {
    std::swap(X, right);
    op = Mirror(op);
  }
  return MakeComparison(op, X, right, token);
}

TZelExprNode* TZelExprParser::ParseBetween(TZelExprNode* X) {
  TParserToken* token = CurrToken_;
  const bool negated = token->Token() == zstNotBetween;
  NextToken();
  TZelExprNode* low = ParseValueExpr();
  if (HasParseError()) return nullptr;
  if (CurrentTokenType() != zstAnd || CurrToken_ == nullptr) {
    Fail(SzelBetweenPredErr);
    return nullptr;
  }
  NextToken();
  TZelExprNode* high = ParseValueExpr();
  if (HasParseError()) return nullptr;
  // Each comparison needs its own operand node; a deep copy keeps the
  // operand's arguments too. Copies of copies double with every nesting, so
  // the operand's size is bounded.
  if (SubtreeSize(X, kMaxCopiedNodes) > kMaxCopiedNodes) {
    Fail(token, SzelInvalidToken);
    return nullptr;
  }
  TZelExprNode* x2 = Target_->CloneSubTree(X);
  TZelExprNode* first = MakeComparison(negated ? zeoLT : zeoGE, X, low, token);
  TZelExprNode* second = MakeComparison(negated ? zeoGT : zeoLE, x2, high, token);
  if (HasParseError()) return nullptr;
  return MakeNode(enkLogicalOperator, negated ? zeoOR : zeoAND, first, second, token,
                  plat::ftBoolean);
}

TZelExprNode* TZelExprParser::ParseIn(TZelExprNode* X) {
  TParserToken* token = CurrToken_;
  NextToken();
  if (!Expect(zstLParen, SzelLParenMissing)) return nullptr;
  if (!CheckPredicateTypes(X, nullptr, false, token)) return nullptr;
  TZelExprNode* node = MakeNode(enkNonRelPredicate, zeoIN, X, nullptr, token, plat::ftBoolean);
  if (node == nullptr) return nullptr;
  if (CurrentTokenType() == zstSelect) {
    TZelExprNode* subquery = ParsePrimary();
    if (HasParseError()) return nullptr;
    node->Args().push_back(subquery);
    return Expect(zstRParen, SzelRParenMissing) ? node : nullptr;
  }
  if (CurrentTokenType() == zstRParen) {
    Fail(SzelEmptyINList);
    return nullptr;
  }
  for (;;) {
    TZelExprNode* element = ParseCondition();
    if (HasParseError()) return nullptr;
    if (!CheckPredicateTypes(X, element, false, token)) return nullptr;
    if (ZelIsTemporalType(X->DataType())) ConvertTemporalOperands(X, element);
    if (HasParseError()) return nullptr;
    node->Args().push_back(element);
    if (CurrToken_ == nullptr || CurrentTokenType() == zstEnd) {
      Fail(SzelRParenMissing);
      return nullptr;
    }
    if (CurrentTokenType() == zstRParen) {
      NextToken();
      return node;
    }
    if (CurrentTokenType() != zstComma) {
      Fail(SzelExprNoRParenOrComma);
      return nullptr;
    }
    NextToken();
  }
}

TZelExprNode* TZelExprParser::ParseLike(TZelExprNode* X) {
  TParserToken* token = CurrToken_;
  NextToken();
  TZelExprNode* pattern = ParseCharValueExpr();
  if (HasParseError()) return nullptr;
  TZelExprNode* escape = nullptr;
  if (CurrentTokenType() == zstEscape && CurrToken_ != nullptr) {
    NextToken();
    escape = ParseCharValueExpr();
    if (HasParseError()) return nullptr;
  }
  if (!CheckPredicateTypes(X, pattern, true, token)) return nullptr;
  TZelExprNode* node = MakeNode(enkNonRelPredicate, zeoLIKE, X, pattern, token, plat::ftBoolean);
  // The escape belongs to the predicate: the operand may be any node, and its
  // own arguments mean something else.
  if (node != nullptr && escape != nullptr) node->Args().push_back(escape);
  return node;
}

// ---------------------------------------------------------------------------
// Value expressions

TZelExprNode* TZelExprParser::ParseArithRun(bool Additive) {
  TZelExprNode* left = Additive ? ParseTerm() : ParsePrimary();
  THeightGuard height(Height_);
  while (!HasParseError() && CurrToken_ != nullptr) {
    const TZelSQLToken kind = CurrentTokenType();
    const TZelExprOperator op = ZelOperatorOfText(CurrToken_->Text());
    // A signed number ("-1") is a number token, never an operator here.
    const bool isOperator =
        Additive ? (kind == zstAdd || kind == zstSub || kind == zstConcatenate) &&
                       (op == zeoADD || op == zeoSUB)
                 : (kind == zstMult || kind == zstDiv) && (op == zeoMUL || op == zeoDIV);
    if (!isOperator) break;
    TParserToken* token = TakeArithOperator(height);
    if (token == nullptr) return nullptr;
    TZelExprNode* right = Additive ? ParseTerm() : ParsePrimary();
    if (HasParseError()) return nullptr;
    left = MakeNode(enkArithOperator, op, left, right, token, plat::ftUnknown);
    TypeCheckArithOp(left, token);
  }
  return HasParseError() ? nullptr : left;
}

TParserToken* TZelExprParser::TakeArithOperator(THeightGuard& Height) {
  if (!Options_.Contains(zpoExtSyntax)) {
    Fail(SzelExprArithNotSupported);
    return nullptr;
  }
  if (!Height.Step()) {
    Fail(SzelInvalidToken);
    return nullptr;
  }
  TParserToken* token = CurrToken_;
  NextToken();
  return token;
}

TZelExprNode* TZelExprParser::ParseValueExpr() {
  return ParseArithRun(true);
}

TZelExprNode* TZelExprParser::ParseTerm() {
  return ParseArithRun(false);
}

TZelExprNode* TZelExprParser::ParseCharValueExpr() {
  const bool opened = CurrToken_ != nullptr && CurrentTokenType() == zstLParen;
  if (opened) {
    NextToken();
    if (CurrentTokenType() == zstRParen) {
      Fail(SzelEmptyExpr);
      return nullptr;
    }
  }
  TZelExprNode* left = ParsePrimary();
  THeightGuard height(Height_);
  while (!HasParseError() && CurrToken_ != nullptr &&
         (CurrentTokenType() == zstAdd || CurrentTokenType() == zstConcatenate)) {
    TParserToken* token = TakeArithOperator(height);
    if (token == nullptr) return nullptr;
    TZelExprNode* right = ParsePrimary();
    if (HasParseError()) return nullptr;
    left = MakeNode(enkArithOperator, zeoADD, left, right, token, plat::ftUnknown);
    TypeCheckArithOp(left, token);
    if (!HasParseError() && left->DataType() != plat::ftString) {
      Fail(token, SzelCharExprInvalidExprDataType);
      return nullptr;
    }
  }
  if (HasParseError()) return nullptr;
  if (opened && !Expect(zstRParen, SzelRParenMissing)) return nullptr;
  return left;
}

// ---------------------------------------------------------------------------
// Primaries

TZelExprNode* TZelExprParser::ParsePrimary() {
  if (HasParseError()) return nullptr;
  TDepthGuard guard(Depth_);
  if (CurrToken_ == nullptr || CurrentTokenType() == zstEnd) {
    Fail(SzelExprTerminatedIncorrectly);
    return nullptr;
  }
  if (Depth_ > kMaxDepth || Depth_ + Height_ > kMaxHeight) {
    Fail(SzelInvalidToken);
    return nullptr;
  }
  TParserToken* token = CurrToken_;
  switch (token->Token()) {
    case zstLParen: {
      NextToken();
      TZelExprNode* inner = ParseCondition();
      if (HasParseError()) return nullptr;
      return Expect(zstRParen, SzelRParenMissing) ? inner : nullptr;
    }
    case zstNumber:
    case zstStringLiteral:
    case zstValue: {
      TZelExprNode* node = Target_->NewNode(enkConst, zeoCONST2, plat::Variant(token->Text()),
                                            nullptr, nullptr, token);
      if (node == nullptr) return nullptr;
      node->SetScopeKind(zskConst);
      if (token->Token() == zstNumber) {
        try {
          node->SetAndConvertDataType(plat::ftFloat);
        } catch (const plat::EVariantError&) {
          Fail(SzelInvalidToken);
          return nullptr;
        }
      } else {
        node->SetAndConvertDataType(plat::ftString);
      }
      NextToken();
      return node;
    }
    case zstNull:
    case zstTrue:
    case zstFalse: {
      const plat::Variant value =
          token->Token() == zstNull ? plat::Null() : plat::Variant(token->Token() == zstTrue);
      TZelExprNode* node = Target_->NewNode(enkConst, zeoCONST2, value, nullptr, nullptr, token);
      if (node == nullptr) return nullptr;
      node->SetScopeKind(zskConst);
      node->SetDataType(token->Token() == zstNull ? plat::ftUnknown : plat::ftBoolean);
      NextToken();
      return node;
    }
    case zstCurrentDate:
    case zstCurrentTime:
    case zstCurrentTimestamp: {
      TZelExprNode* node =
          Target_->NewNode(enkFunc, zeoFUNC2, plat::Unassigned(), nullptr, nullptr, token);
      if (node == nullptr) return nullptr;
      node->SetScopeKind(zskConst);
      node->SetDataType(token->Token() == zstCurrentDate   ? plat::ftDate
                        : token->Token() == zstCurrentTime ? plat::ftTime
                                                           : plat::ftDateTime);
      NextToken();
      return node;
    }
    case zstTableName:
    case zstFieldName:
      return ParseField();
    case zstParameter:
      return ParseParameter();
    case zstAggFunc:
      return ParseAggregate();
    case zstStrFunc:
      return ParseStringFunction();
    case zstCast:
      return ParseCast();
    case zstExtract:
      return ParseExtract();
    case zstAll:
    case zstExists:
    case zstAny:
    case zstSome:
      return ParseQuantifiedSubquery();
    case zstSelect:
      return ParseSubquery(zsqUnspecified);
    case zstIdentCurrent:
      return ParseIdentCurrent();
    default:
      Fail(SzelInvalidToken);
      return nullptr;
  }
}

TZelExprNode* TZelExprParser::ParseField() {
  TParserToken* tableToken = nullptr;
  if (CurrentTokenType() == zstTableName) {
    tableToken = CurrToken_;
    NextToken();
    if (CurrToken_ == nullptr || CurrentTokenType() != zstFieldName) {
      Fail(CurrToken_ == nullptr ? tableToken : CurrToken_, SzelInvalidToken);
      return nullptr;
    }
  }
  TParserToken* fieldToken = CurrToken_;
  const std::string tableName = tableToken != nullptr ? tableToken->Text() : std::string();
  const std::string fieldName = fieldToken->Text();
  NextToken();

  const bool resolving = TableList_ != nullptr && TableList_->Count() > 0;
  const TTableNameItem* item = nullptr;
  if (resolving) {
    item = tableToken != nullptr ? TableList_->FindTable(tableName)
                                 : TableList_->FindTableForField(fieldName);
    // A named table without the field is no match either.
    if (item != nullptr && item->TableFields()->FindField(fieldName) == nullptr) item = nullptr;
  }
  TZelExprNode* node = Target_->NewFieldNode(
      enkField, zeoFIELD2, plat::Variant(fieldName), nullptr, nullptr, fieldToken,
      InternalGetFieldType(tableName, fieldName), InternalGetFieldSize(tableName, fieldName));
  if (node == nullptr) return nullptr;
  if (item == nullptr) {
    node->SetDataType(plat::ftUnknown);
    node->SetDataSize(0);
  }
  node->SetScopeKind(zskField);
  if (tableToken != nullptr) node->TokenArgs().push_back(tableToken);
  if (item != nullptr) node->TableList()->Add()->Assign(item);

  if (resolving && item == nullptr) {
    if (IsSubquery_ && OnParserNotify_) {
      plat::Variant answer(tableName);
      OnParserNotify_(pntFindTableRef, this, Stack_, node, answer);
      if (HasParseError()) return nullptr;
      if (TZelOpEvaluator::IsTrue(answer)) {
        node->SetOperator(zeoOUTERFIELD);
        node->SetKind(enkFunc);
        const TTableNameItem* outer = tableName.empty()
                                          ? node->TableList()->FindTableForField(fieldName)
                                          : node->TableList()->FindTable(tableName);
        if (outer != nullptr) {
          node->SetDataType(outer->GetFieldType(fieldName));
          node->SetDataSize(outer->GetFieldSize(fieldName));
        }
        return node;
      }
    }
    if (tableToken != nullptr)
      Fail(fieldToken,
           std::string(SzelTableOrFieldNotFound) + " (" + tableName + "." + fieldName + ")");
    else
      Fail(fieldToken, SzelFieldNotFound);
    return nullptr;
  }
  if (ValidateFields_ && node->DataType() == plat::ftUnknown) {
    const bool inDataset =
        TableList_ != nullptr && TableList_->CheckDatasetField(fieldName) != nullptr;
    Fail(fieldToken, inDataset ? SzelFieldNotValidInExpression : SzelFieldNotFound);
    return nullptr;
  }
  return node;
}

TZelExprNode* TZelExprParser::ParseParameter() {
  if (!Options_.Contains(zpoParameters)) {
    Fail(SzelParamsNotSupported);
    return nullptr;
  }
  NextToken();
  if (CurrToken_ == nullptr || CurrentTokenType() != zstFieldName) {
    Fail(SzelParamNotFound);
    return nullptr;
  }
  TParserToken* name = CurrToken_;
  TZelExprNode* node =
      Target_->NewNode(enkParam, zeoPARAMETER, plat::Variant(name->Text()), nullptr, nullptr, name);
  if (node == nullptr) return nullptr;
  node->SetScopeKind(zskConst);
  NextToken();
  return node;
}

TZelExprNode* TZelExprParser::ParseAggregate() {
  if (!Options_.Contains(zpoExtSyntax)) {
    Fail(SzelInvalidToken);
    return nullptr;
  }
  TParserToken* token = CurrToken_;
  NextToken();
  const bool opened = CurrentTokenType() == zstLParen && CurrToken_ != nullptr;
  if (opened) {
    NextToken();
    if (CurrentTokenType() == zstRParen) {
      Fail(SzelEmptyExpr);
      return nullptr;
    }
  }
  bool distinct = false;
  if (CurrentTokenType() == zstDistinct || TokenSymbolIs("DISTINCT")) {
    distinct = true;
    NextToken();
  } else if (CurrentTokenType() == zstAll || TokenSymbolIs("ALL")) {
    NextToken();
  }
  TZelExprNode* argument = nullptr;
  std::string argumentText;
  if (CurrToken_ != nullptr && CurrentTokenType() == zstMult) {
    NextToken();
  } else {
    const auto rawAt = [this] {
      return ParsedText_.size() - (CurrToken_ != nullptr ? CurrToken_->RawTokenText().size() : 0);
    };
    const std::size_t start = rawAt();
    argument = ParseValueExpr();
    if (HasParseError()) return nullptr;
    const std::size_t end = rawAt();
    if (end > start) argumentText = plat::Trim(ParsedText_.substr(start, end - start));
  }
  if (opened && !Expect(zstRParen, SzelRParenMissing)) return nullptr;
  TZelExprNode* node =
      Target_->NewNode(enkFunc, zeoFUNC2, plat::Variant(distinct), nullptr, nullptr, token);
  if (node == nullptr) return nullptr;
  node->SetScopeKind(zskAgg);
  if (argument != nullptr) {
    node->SetDataType(argument->DataType());
    node->SetDataSize(argument->DataSize());
    node->Args().push_back(argument);
  } else {
    node->SetDataType(plat::ftInteger);
  }
  if (Options_.Contains(zpoExtractAggFuncExprText))
    node->ParserToken()->SetRawTokenText(argumentText);
  return node;
}

TZelExprNode* TZelExprParser::ParseStringFunction() {
  if (!Options_.Contains(zpoExtSyntax)) {
    Fail(SzelInvalidToken);
    return nullptr;
  }
  TParserToken* token = CurrToken_;
  const int32_t kind = token->CustomOrdinal();
  NextToken();
  TZelExprNode* left = nullptr;
  TZelExprNode* right = nullptr;
  TZelExprNode* length = nullptr;
  int32_t trimKind = zsfTrimBoth;
  switch (kind) {
    case zsfSubstring:
      if (!Expect(zstLParen, SzelLParenMissing)) return nullptr;
      left = ParseCharValueExpr();
      if (HasParseError()) return nullptr;
      if (CurrToken_ == nullptr ||
          (CurrentTokenType() != zstFrom && CurrentTokenType() != zstComma)) {
        Fail(SzelSUBSTRINGInvalid);
        return nullptr;
      }
      NextToken();
      right = ParseValueExpr();
      if (HasParseError()) return nullptr;
      if (CurrToken_ != nullptr &&
          (CurrentTokenType() == zstFor || CurrentTokenType() == zstComma)) {
        NextToken();
        length = ParseValueExpr();
        if (HasParseError()) return nullptr;
      }
      if (!Expect(zstRParen, SzelRParenMissing)) return nullptr;
      break;
    case zsfUpper:
    case zsfLower:
      right = ParseCharValueExpr();
      if (HasParseError()) return nullptr;
      if (kind == zsfUpper) right->SetCaseInsensitiveMatch(true);
      break;
    case zsfTrim:
    case zsfTrimLeading:
    case zsfTrimTrailing:
    case zsfTrimBoth: {
      if (!Expect(zstLParen, SzelLParenMissing)) return nullptr;
      if (TokenSymbolIs("LEADING")) {
        trimKind = zsfTrimLeading;
        NextToken();
      } else if (TokenSymbolIs("TRAILING")) {
        trimKind = zsfTrimTrailing;
        NextToken();
      } else if (TokenSymbolIs("BOTH")) {
        NextToken();
      }
      TZelExprNode* first = ParseCharValueExpr();
      if (HasParseError()) return nullptr;
      if (CurrToken_ != nullptr && CurrentTokenType() == zstFrom) {
        NextToken();
        right = first;
        left = ParseCharValueExpr();
        if (HasParseError()) return nullptr;
      } else {
        left = first;
      }
      if (!Expect(zstRParen, SzelRParenMissing)) return nullptr;
      break;
    }
    default:
      Fail(token, SzelInvalidToken);
      return nullptr;
  }
  TZelExprNode* node = MakeNode(enkFunc, zeoFUNC2, left, right, token, plat::ftString);
  if (node == nullptr) return nullptr;
  node->SetData(plat::Variant(token->Text()));
  if (kind >= zsfTrim) node->ParserToken()->SetCustomOrdinal(trimKind);
  if (length != nullptr) node->Args().push_back(length);
  const TZelExprNode* first = left != nullptr ? left : right;
  if (node->DataSize() < 0 && first != nullptr) node->SetDataSize(first->DataSize());
  return node;
}

TZelExprNode* TZelExprParser::ParseCast() {
  TParserToken* token = CurrToken_;
  NextToken();
  const bool opened = CurrToken_ != nullptr && CurrentTokenType() == zstLParen;
  if (opened) NextToken();
  TZelExprNode* operand = ParseValueExpr();
  if (HasParseError()) return nullptr;
  if (CurrToken_ == nullptr || CurrentTokenType() != zstAS) {
    Fail(SzelMissingASOperatorInCASTExpr);
    return nullptr;
  }
  NextToken();
  TZelDataTypeParser typeParser;
  typeParser.SetInvalidDataTypes({zstAutoInc});
  typeParser.ParseDataType(*this);
  if (HasParseError()) {
    if (Target_->ErrorMsg().empty()) Target_->SetErrorMsg(ErrorMsg_);
    return nullptr;
  }
  if (!TZelDataConversionValidator::CheckDataConversionValid(operand->DataType(),
                                                             typeParser.DataType())) {
    Fail(token, std::string(SzelTypeConversionErr) + " " + TypeName(operand->DataType()) + " to " +
                    TypeName(typeParser.DataType()));
    return nullptr;
  }
  TZelExprNode* node = MakeNode(enkFunc, zeoFUNC2, nullptr, operand, token, typeParser.DataType());
  if (node == nullptr) return nullptr;
  node->SetData(plat::Variant("CAST"));
  node->SetDataSize(typeParser.FieldSize());
  if (opened && !Expect(zstRParen, SzelRParenMissing)) return nullptr;
  return node;
}

TZelExprNode* TZelExprParser::ParseExtract() {
  TParserToken* token = CurrToken_;
  NextToken();
  const bool opened = CurrToken_ != nullptr && CurrentTokenType() == zstLParen;
  if (opened) NextToken();
  const TZelSQLToken part = CurrentTokenType();
  if (CurrToken_ == nullptr || part < zstYear || part > zstSecond) {
    Fail(SzelInvalidFieldinEXTRACTExpr);
    return nullptr;
  }
  NextToken();
  if (CurrToken_ == nullptr || CurrentTokenType() != zstFrom) {
    Fail(SzelMissingFROMinEXTRACTExpr);
    return nullptr;
  }
  NextToken();
  TZelExprNode* source = ParseValueExpr();
  if (HasParseError()) return nullptr;
  if (ValidateFields_) {
    const plat::TFieldType type = source->DataType();
    const bool ok = part >= zstHour ? type == plat::ftTime || type == plat::ftDateTime
                                    : ZelIsTemporalType(type);
    if (!ok) {
      Fail(SzelInvalidValeExprInEXTRACTExpr);
      return nullptr;
    }
  }
  TZelExprNode* node = MakeNode(enkFunc, zeoFUNC2, nullptr, source, token,
                                part == zstSecond ? plat::ftFloat : plat::ftInteger);
  if (node == nullptr) return nullptr;
  node->SetData(plat::Variant("EXTRACT"));
  node->ParserToken()->SetCustomOrdinal(part);
  if (opened && !Expect(zstRParen, SzelRParenMissing)) return nullptr;
  return node;
}

TZelExprNode* TZelExprParser::ParseQuantifiedSubquery() {
  if (!Options_.Contains(zpoSubqueries)) {
    Fail(SzelExprSubqueriesNotSupported);
    return nullptr;
  }
  const TZelSQLToken kind = CurrentTokenType();
  NextToken();
  if (!Expect(zstLParen, SzelLParenMissing)) return nullptr;
  if (CurrToken_ == nullptr || CurrentTokenType() != zstSelect) {
    Fail(SzelSelectTokenMissing);
    return nullptr;
  }
  TZelExprNode* node = ParseSubquery(kind == zstExists ? zsqExists
                                     : kind == zstAll  ? zsqAll
                                                       : zsqAnyOrSome);
  if (HasParseError()) return nullptr;
  return Expect(zstRParen, SzelRParenMissing) ? node : nullptr;
}

TZelExprNode* TZelExprParser::ParseSubquery(TZelSubqueryType Type) {
  if (!Options_.Contains(zpoSubqueries) || !OnParserNotify_) {
    Fail(SzelExprSubqueriesNotSupported);
    return nullptr;
  }
  CurrToken_->SetCustomOrdinal(Type);
  TZelExprNode* node =
      Target_->NewNode(enkSubquery, zeoSUBQUERY, plat::Unassigned(), nullptr, nullptr, CurrToken_);
  if (node == nullptr) return nullptr;
  // A subquery is evaluated as a whole, so it mixes with fields and
  // aggregates alike.
  node->SetScopeKind(zskConst);
  if (Type == zsqExists) node->SetDataType(plat::ftBoolean);
  plat::Variant value;
  OnParserNotify_(pntSubquery, this, Stack_, node, value);
  if (HasParseError()) {
    if (Target_->ErrorMsg().empty()) Target_->SetErrorMsg(ErrorMsg_);
    return nullptr;
  }
  return node;
}

TZelExprNode* TZelExprParser::ParseIdentCurrent() {
  TParserToken* token = CurrToken_;
  NextToken();
  if (!Expect(zstLParen, SzelLParenMissing)) return nullptr;
  if (CurrToken_ == nullptr || CurrentTokenType() == zstEnd || CurrentTokenType() == zstRParen) {
    Fail(SzelInvalidToken);
    return nullptr;
  }
  const std::string name = CurrToken_->Text();
  NextToken();
  if (!Expect(zstRParen, SzelRParenMissing)) return nullptr;
  TZelExprNode* node =
      Target_->NewNode(enkFunc, zeoFUNC2, plat::Variant(name), nullptr, nullptr, token);
  if (node == nullptr) return nullptr;
  node->SetScopeKind(zskConst);
  node->SetDataType(plat::ftInteger);
  return node;
}

}  // namespace zel
