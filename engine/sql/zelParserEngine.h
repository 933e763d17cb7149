#pragma once
// Parses one SQL statement clause by clause over the pre-parsed tokens, and
// hands subqueries and UNION parts to its owner as child engines.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/expr/zelBaseParser.h"
#include "engine/expr/zelBaseParserExpr.h"
#include "engine/expr/zelExprParser.h"
#include "engine/expr/zelMiscParsers.h"
#include "engine/expr/zelParserUtils.h"
#include "engine/expr/zelSchemaParser.h"
#include "engine/sql/zelExecParsers.h"
#include "engine/sql/zelFromParser.h"
#include "engine/sql/zelSelectParser.h"
#include "platform/rtl/Variants.h"

namespace zel {

class TZelParserEngine;

// The owner parses a child engine it is given and takes ownership of it.
using TZelParserEngineNotifyEvent =
    std::function<void(TParserNotifyType NotifyType, std::unique_ptr<TZelParserEngine>& Engine,
                       TZelExprNode* Node, plat::Variant& Value)>;

// Holds the token at which a clause parsed by another engine begins.
class TZelTokenAnchor : public TBaseParser {
 public:
  std::string ClassName() const override { return "TZelTokenAnchor"; }
  void SetCurrToken(TParserToken* Token) { CurrToken_ = Token; }
};

class TZelParserEngine : public plat::TObject {
 public:
  TZelParserEngine();
  ~TZelParserEngine() override;
  TZelParserEngine(const TZelParserEngine&) = delete;
  TZelParserEngine& operator=(const TZelParserEngine&) = delete;
  std::string ClassName() const override { return "TZelParserEngine"; }

  bool PreParseSQL(const std::string& Text);
  TZelSQLStatementType GetSQLStatementType() const;
  bool ParseFromClause();
  bool ParseSelectClause();
  bool ParseWhereClause();
  bool ParseGroupByClause();
  bool ParseHavingClause();
  bool ParseOrderByClause();
  bool ParseInsertStatement();
  bool ParseDeleteStatement();
  bool ParseUpdateStatement();
  bool ParseSchemaManipulationStatement();
  bool CheckForUnionStatement(bool CheckOnly, bool& All);
  bool CheckParseDone() const;
  bool CheckNoTokensRemain() const;
  std::string GetCurrentPreParserTokenAsErrorFmt() const;
  void GetParamList(plat::TStrings* List);
  void ParserCallback(TParserNotifyType NotifyType, TBaseParser* Parser, TParserStack* Stack,
                      TZelExprNode* Node, plat::Variant& Value);

  void SetIsSubquery(bool Value) { IsSubquery_ = Value; }
  void SetHasUnionStatement(bool Value) { HasUnionStatement_ = Value; }
  void SetIsUnionSubstatement(bool Value) { IsUnionSubstatement_ = Value; }
  void SetParserEngineNotifyEvent(TZelParserEngineNotifyEvent Value) { OnNotify_ = std::move(Value); }

  bool IsSubquery() const { return IsSubquery_; }
  bool HasUnionStatement() const { return HasUnionStatement_; }
  bool IsUnionSubstatement() const { return IsUnionSubstatement_; }
  bool SubqueryEnded() const { return SubqueryEnded_; }
  const std::string& ErrorMsg() const { return ErrorMsg_; }
  TTableList* TableList() const { return TableList_.get(); }
  TZelFromParser& FromParser() const { return *FromParser_; }
  TZelExprParser& WhereParser() const { return *WhereParser_; }
  TZelSelectParser& SelectParser() const { return *SelectParser_; }
  TZelExprParser& HavingParser() const { return *HavingParser_; }
  TZelInsertParser& InsertParser() const { return *InsertParser_; }
  TZelDeleteParser& DeleteParser() const { return *DeleteParser_; }
  TZelUpdateParser& UpdateParser() const { return *UpdateParser_; }
  TZelSchemaManipulationParser& SchemaParser() const { return *SchemaParser_; }
  TOrderByItems& OrderByItems() const { return *OrderByItems_; }
  TGroupByItems& GroupByItems() const { return *GroupByItems_; }
  TBaseParser* LastParser() const { return LastParser_; }
  // Stands on the SELECT of a UNION part once CheckForUnionStatement found it;
  // the owner passes it to ParserCallback with pntSelectUnion.
  TZelTokenAnchor& UnionAnchor() const { return *UnionAnchor_; }
  // Gives USING and NATURAL joins their condition; needs the tables' fields.
  bool ProcessJoins();

 private:
  bool Finish(TBaseParser& Parser, bool Result);
  void NoteSubqueryEnd(const TBaseParser& Parser);
  const TZelPreParser& ShorterPreParser() const;
  void AnchorSelect(TZelSelectParser& Parser);

  std::unique_ptr<TZelPreParser> MainPreParser_;
  std::unique_ptr<TZelPreParser> SecondPreParser_;
  std::unique_ptr<TTableList> TableList_;
  std::unique_ptr<TZelFromParser> FromParser_;
  std::unique_ptr<TZelExprParser> WhereParser_;
  std::unique_ptr<TZelSelectParser> SelectParser_;
  std::unique_ptr<TZelOrderByParser> OrderByParser_;
  std::unique_ptr<TZelGroupByParser> GroupByParser_;
  std::unique_ptr<TZelExprParser> HavingParser_;
  std::unique_ptr<TZelInsertParser> InsertParser_;
  std::unique_ptr<TZelDeleteParser> DeleteParser_;
  std::unique_ptr<TZelUpdateParser> UpdateParser_;
  std::unique_ptr<TZelSchemaManipulationParser> SchemaParser_;
  std::unique_ptr<TOrderByItems> OrderByItems_;
  std::unique_ptr<TGroupByItems> GroupByItems_;
  std::unique_ptr<TZelTokenAnchor> StartAnchor_;
  std::unique_ptr<TZelTokenAnchor> UnionAnchor_;
  std::string ErrorMsg_;
  TZelParserEngineNotifyEvent OnNotify_;
  bool IsSubquery_ = false;
  bool SubqueryEnded_ = false;
  TBaseParser* LastParser_ = nullptr;
  bool HasUnionStatement_ = false;
  bool IsUnionSubstatement_ = false;
  int32_t Depth_ = 0;  // of child engines above this one
};

}  // namespace zel
