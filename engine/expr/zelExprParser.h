#pragma once
// The parser of conditions and value expressions (WHERE, HAVING and ON
// conditions, select-list, SET and VALUES expressions, filters).
//
// Grammar, from the loosest binding to the tightest:
//   condition  := and-term { OR and-term }
//   and-term   := not-term { AND not-term }
//   not-term   := [NOT] predicate
//   predicate  := value [ compop value | [NOT] BETWEEN value AND value
//                       | [NOT] IN ( list | subquery ) | [NOT] LIKE char [ESCAPE char]
//                       | IS [NOT] NULL ]
//   value      := term { (+ | || | -) term }        (value expression)
//   term       := primary { (* | /) primary }
//   primary    := ( condition ) | literal | field | :param | function | aggregate
//               | CAST | EXTRACT | subquery | [NOT] EXISTS / ANY / SOME / ALL ( subquery )
//
// Every node is typed from the statement's table list; a constant compared
// with a field takes the field's type (a number with a fraction is never
// narrowed to an integer field). Syntax and type errors are recorded with
// their token (TBaseParser::SetError); conversion faults of date and time
// literals raise the engine errors 0x274A and 0x274B.
//
// Subqueries: the parser itself never reads one. At a SELECT it makes an
// enkSubquery node (the SELECT token's CustomOrdinal is the TZelSubqueryType)
// and calls the notify callback with pntSubquery, the parser, its stack and
// the node. The handler parses the subquery from the stack (the parser's
// current token is the SELECT), attaches its row source with
// SetExprNodeDataProvider, and leaves the parser's current token at the first
// token after the subquery (SyncCurrToken); it reports a failure with
// SetError. A field that no table of a subquery's list has is offered to the
// handler with pntFindTableRef (the value holds the table name, or empty
// text); a handler that sets the value to True makes it an outer reference
// (zeoOUTERFIELD), typed from the node's TableList, which the handler fills.

#include <cstdint>
#include <memory>
#include <string>

#include "engine/expr/zelBaseParser.h"
#include "engine/expr/zelBaseParserExpr.h"
#include "platform/db/DB.h"

namespace zel {

class THeightGuard;

class TZelExprParser : public TBaseParser {
 public:
  TZelExprParser();
  ~TZelExprParser() override;
  std::string ClassName() const override { return "TZelExprParser"; }

  // Parses a condition into a new Expr; Root is nullptr for an empty stack.
  bool Execute(TZelParserOptions Options, TParserStack* Stack) override;
  // Parses a condition (or a value expression) into the caller's Expr, which
  // then owns the nodes; this parser's own Expr is freed.
  bool ExecuteExternalExpr(TZelExpr& Target, TZelParserOptions Options, TParserStack* Stack);
  bool ExecuteExternalValueExpr(TZelExpr& Target, TZelParserOptions Options, TParserStack* Stack);

  // With Replace, Root becomes a copy of Source's tree in a cleared Expr;
  // otherwise Root becomes (copy of Source) Operator (old Root), Operator
  // being zeoAND or zeoOR.
  void CloneFromExpr(const TZelExpr& Source, bool Replace, TZelExprOperator Operator);

  TZelExpr* Expr() const { return Target_; }
  TZelExprNode* Root() const { return Root_; }
  const TZelTokenSet& ValidEndTokens() const { return ValidEndTokens_; }
  void SetValidEndTokens(const TZelTokenSet& Value) { ValidEndTokens_ = Value; }
  TTableList* TableList() const { return TableList_; }
  void SetTableList(TTableList* Value) { TableList_ = Value; }
  bool CaseInsensitiveMatch() const { return CaseInsensitiveMatch_; }
  void SetCaseInsensitiveMatch(bool Value) { CaseInsensitiveMatch_ = Value; }
  bool PartialStringComparison() const { return PartialStringComparison_; }
  void SetPartialStringComparison(bool Value) { PartialStringComparison_ = Value; }
  bool IgnoreTypeChecks() const { return IgnoreTypeChecks_; }
  void SetIgnoreTypeChecks(bool Value) { IgnoreTypeChecks_ = Value; }
  bool ValidateFields() const { return ValidateFields_; }
  void SetValidateFields(bool Value) { ValidateFields_ = Value; }

 private:
  // Starts a parse into Target (nullptr: a new own Expr).
  void BeginParse(TZelExpr* Target, TZelParserOptions Options, TParserStack* Stack);
  bool AtExprEnd() const;
  bool FinishExternal(TZelExprNode* Root);
  void Fail(const std::string& Message);
  void Fail(TParserToken* Token, const std::string& Message);
  bool Expect(TZelSQLToken Kind, const char* Message);

  // A left-associative run of one operator level.
  TZelExprNode* ParseLogicalRun(TZelExprNode* (TZelExprParser::*Operand)(), TZelSQLToken Kind,
                                TZelExprOperator Operator);
  TZelExprNode* ParseArithRun(bool Additive);
  // Moves past an arithmetic operator that may stand here; its token, or
  // nullptr once an error is recorded.
  TParserToken* TakeArithOperator(THeightGuard& Height);
  TZelExprNode* ParseCondition();
  TZelExprNode* ParseAndTerm();
  TZelExprNode* ParseNotTerm();
  TZelExprNode* ParsePredicate();
  TZelExprNode* ParseValueExpr();
  TZelExprNode* ParseTerm();
  TZelExprNode* ParsePrimary();
  TZelExprNode* ParseCharValueExpr();

  TZelExprNode* ParseComparison(TZelExprNode* X);
  TZelExprNode* ParseBetween(TZelExprNode* X);
  TZelExprNode* ParseIn(TZelExprNode* X);
  TZelExprNode* ParseLike(TZelExprNode* X);

  TZelExprNode* ParseField();
  TZelExprNode* ParseParameter();
  TZelExprNode* ParseAggregate();
  TZelExprNode* ParseStringFunction();
  TZelExprNode* ParseCast();
  TZelExprNode* ParseExtract();
  TZelExprNode* ParseQuantifiedSubquery();
  TZelExprNode* ParseSubquery(TZelSubqueryType Type);
  TZelExprNode* ParseIdentCurrent();

  // A two-operand node with its scope; "Scope is invalid" for a field mixed
  // with an aggregate.
  TZelExprNode* MakeNode(TZelExprNodeKind Kind, TZelExprOperator Operator, TZelExprNode* Left,
                         TZelExprNode* Right, const TParserToken* Token, plat::TFieldType Type);
  // Type errors of a predicate are reported at its operator Token.
  TZelExprNode* MakeComparison(TZelExprOperator Operator, TZelExprNode* Left, TZelExprNode* Right,
                               TParserToken* Token);
  bool CheckPredicateTypes(TZelExprNode* X, TZelExprNode* Right, bool IsLike, TParserToken* Token);
  void ConvertTemporalOperands(TZelExprNode* X, TZelExprNode* Right);
  void CheckDataConversions(TZelExprNode* Left, TZelExprNode* Right, TParserToken* Token);
  void TypeCheckArithOp(TZelExprNode* Node, TParserToken* OperatorToken);
  // Converts a constant's data, recording a type error instead of raising
  // the variant error for text that does not convert.
  void ConvertConstant(TZelExprNode* Node, plat::TFieldType Type, TParserToken* Token);

  plat::TFieldType InternalGetFieldType(const std::string& TableName,
                                        const std::string& FieldName) const;
  int32_t InternalGetFieldSize(const std::string& TableName, const std::string& FieldName) const;

  std::unique_ptr<TZelExpr> Expr_;
  TZelExpr* Target_ = nullptr;
  TZelExprNode* Root_ = nullptr;
  TZelTokenSet ValidEndTokens_;
  TTableList* TableList_ = nullptr;
  bool CaseInsensitiveMatch_ = false;
  bool PartialStringComparison_ = false;
  bool IgnoreTypeChecks_ = false;
  bool ValidateFields_ = false;
  // Bounds the nesting of parentheses and functions, so hostile text cannot
  // exhaust the stack.
  int32_t Depth_ = 0;
  // The operators of the runs being parsed; bounds the tree's height.
  int32_t Height_ = 0;
};

// The operator of a comparison or arithmetic token's text ("<", "<=", "=",
// ">=", ">", "<>", "+", "||", "-", "*", "/"); zeoNOTDEFINED for any other.
TZelExprOperator ZelOperatorOfText(const std::string& Text);
// enkRelOperator, enkLogicalOperator, enkArithOperator, enkField, enkConst
// or enkUnknown by the operator.
TZelExprNodeKind GetExprNodeKind(TZelExprOperator Operator);
bool ZelIsNumericType(plat::TFieldType Type);
bool ZelIsIntegralType(plat::TFieldType Type);
bool ZelIsStringType(plat::TFieldType Type);
bool ZelIsTemporalType(plat::TFieldType Type);
bool ZelIsBlobType(plat::TFieldType Type);

}  // namespace zel
