#include "engine/sql/zelParserEngine.h"

#include "engine/storage/zelConsts.h"
#include "platform/rtl/Exceptions.h"

namespace zel {

namespace {

const TZelParserOptions kSelectOptions{zpoExtSyntax};
const TZelParserOptions kWhereOptions{zpoExtSyntax, zpoParameters, zpoSubqueries};
constexpr int32_t kMaxChildDepth = 32;
const TZelParserOptions kHavingOptions{zpoExtSyntax, zpoExtractAggFuncExprText, zpoSubqueries};

}  // namespace

TZelParserEngine::TZelParserEngine()
    : MainPreParser_(std::make_unique<TZelPreParser>()),
      SecondPreParser_(std::make_unique<TZelPreParser>()),
      TableList_(std::make_unique<TTableList>()),
      FromParser_(std::make_unique<TZelFromParser>()),
      WhereParser_(std::make_unique<TZelExprParser>()),
      SelectParser_(std::make_unique<TZelSelectParser>()),
      OrderByParser_(std::make_unique<TZelOrderByParser>()),
      GroupByParser_(std::make_unique<TZelGroupByParser>()),
      HavingParser_(std::make_unique<TZelExprParser>()),
      InsertParser_(std::make_unique<TZelInsertParser>()),
      DeleteParser_(std::make_unique<TZelDeleteParser>()),
      UpdateParser_(std::make_unique<TZelUpdateParser>()),
      SchemaParser_(std::make_unique<TZelSchemaManipulationParser>()),
      OrderByItems_(std::make_unique<TOrderByItems>()),
      GroupByItems_(std::make_unique<TGroupByItems>()),
      StartAnchor_(std::make_unique<TZelTokenAnchor>()),
      UnionAnchor_(std::make_unique<TZelTokenAnchor>()) {
  auto callback = [this](TParserNotifyType type, TBaseParser* parser, TParserStack* stack,
                         TZelExprNode* node, plat::Variant& value) {
    ParserCallback(type, parser, stack, node, value);
  };
  for (TBaseParser* parser : std::initializer_list<TBaseParser*>{
           WhereParser_.get(), HavingParser_.get(), InsertParser_.get(), DeleteParser_.get(),
           UpdateParser_.get()})
    parser->SetParserNotifyEvent(callback);
  GroupByParser_->SetEndTokens({zstHaving, zstUnion, zstOrderBy, zstEnd});
}

TZelParserEngine::~TZelParserEngine() = default;

bool TZelParserEngine::PreParseSQL(const std::string& Text) {
  ErrorMsg_.clear();
  MainPreParser_->Clear();
  MainPreParser_->SetText(Text);
  MainPreParser_->SetParseSingleStack(true);
  MainPreParser_->PreParseTokens();
  SecondPreParser_->Clear();
  SecondPreParser_->SetText(Text);
  SecondPreParser_->SetParseSingleStack(true);
  SecondPreParser_->AssignStacks(*MainPreParser_);
  SecondPreParser_->SetSQLStatementType(MainPreParser_->SQLStatementType());
  for (TBaseParser* parser : std::initializer_list<TBaseParser*>{
           FromParser_.get(), WhereParser_.get(), SelectParser_.get(), OrderByParser_.get(),
           GroupByParser_.get(), HavingParser_.get(), InsertParser_.get(), DeleteParser_.get(),
           UpdateParser_.get(), SchemaParser_.get()})
    parser->Clear();
  LastParser_ = nullptr;
  SubqueryEnded_ = false;
  return true;
}

TZelSQLStatementType TZelParserEngine::GetSQLStatementType() const {
  return MainPreParser_->SQLStatementType();
}

bool TZelParserEngine::Finish(TBaseParser& Parser, bool Result) {
  ErrorMsg_ = Parser.HasParseError() ? Parser.GetErrorMsg() : std::string();
  LastParser_ = &Parser;
  return Result && ErrorMsg_.empty();
}

void TZelParserEngine::NoteSubqueryEnd(const TBaseParser& Parser) {
  if (IsSubquery_ && Parser.CurrentTokenType() == zstRParen) SubqueryEnded_ = true;
}

void TZelParserEngine::AnchorSelect(TZelSelectParser& Parser) {
  Parser.Clear();
  Parser.SetTableList(TableList_.get());
  if (StartAnchor_->CurrToken() != nullptr) Parser.SyncCurrToken(*StartAnchor_);
  Parser.SetIsSubquery(IsSubquery_);
}

bool TZelParserEngine::ParseFromClause() {
  TableList_->Clear();
  SubqueryEnded_ = false;
  // The select list is read once only to reach FROM.
  AnchorSelect(*SelectParser_);
  SelectParser_->SetTableList(nullptr);
  TParserStack* selectStack = SecondPreParser_->GetSection(zstSelect, SelectParser_->CurrToken());
  if (!SelectParser_->Execute(kSelectOptions, selectStack)) {
    return Finish(*SelectParser_, false);
  }
  FromParser_->Clear();
  FromParser_->SetIsSubquery(IsSubquery_);
  FromParser_->SyncCurrToken(*SelectParser_);
  TParserStack* fromStack = SecondPreParser_->GetSection(zstFrom, FromParser_->CurrToken());
  const bool ok = FromParser_->Execute(kSelectOptions, fromStack);
  SelectParser_->Clear();
  NoteSubqueryEnd(*FromParser_);
  if (ok && FromParser_->CurrToken() != nullptr && FromParser_->CurrentTokenType() == zstRParen &&
      !IsSubquery_)
    FromParser_->SetError(FromParser_->CurrToken(), SzelInvalidToken);
  const bool result = Finish(*FromParser_, ok);
  if (result) {
    for (int32_t i = 0; i < FromParser_->TableList()->Count(); ++i)
      TableList_->Add()->Assign(FromParser_->TableList()->Items(i));
  }
  return result;
}

bool TZelParserEngine::ParseSelectClause() {
  AnchorSelect(*SelectParser_);
  TParserStack* stack = MainPreParser_->GetSection(zstSelect, SelectParser_->CurrToken());
  const bool ok = SelectParser_->Execute(kSelectOptions, stack);
  // Leaves the main tokens after the FROM clause, where the next clause starts.
  FromParser_->Clear();
  FromParser_->SetIsSubquery(IsSubquery_);
  if (ok) {
    FromParser_->SyncCurrToken(*SelectParser_);
    FromParser_->Execute(kSelectOptions,
                         MainPreParser_->GetSection(zstFrom, FromParser_->CurrToken()));
  }
  ErrorMsg_ = SelectParser_->HasParseError() ? SelectParser_->GetErrorMsg() : std::string();
  if (ok && ErrorMsg_.empty() && FromParser_->HasParseError())
    ErrorMsg_ = FromParser_->GetErrorMsg();
  LastParser_ = FromParser_.get();
  return ok && ErrorMsg_.empty();
}

bool TZelParserEngine::ProcessJoins() {
  TJoinPostProcessor processor;
  processor.SetTableList(TableList_.get());
  for (TZelTableRefNode* tree : FromParser_->Trees())
    if (!processor.ProcessJoinTree(tree)) {
      ErrorMsg_ = processor.ErrorMsg();
      return false;
    }
  return true;
}

bool TZelParserEngine::ParseWhereClause() {
  if (SubqueryEnded_) return true;
  if (FromParser_->CurrentTokenType() != zstWhere) {
    WhereParser_->Clear();
    WhereParser_->SyncCurrToken(*FromParser_);
    return true;
  }
  WhereParser_->SetValidateFields(true);
  WhereParser_->SetIsSubquery(IsSubquery_);
  WhereParser_->Clear();
  WhereParser_->SetTableList(TableList_.get());
  WhereParser_->SetValidEndTokens({zstGroupBy, zstHaving, zstUnion, zstOrderBy, zstEnd});
  TParserStack* stack = MainPreParser_->GetSection(zstWhere, FromParser_->CurrToken());
  bool ok = WhereParser_->Execute(kWhereOptions, stack);
  if (ok && WhereParser_->Root() == nullptr)
    WhereParser_->SetError(WhereParser_->CurrToken(), SzelInvalidToken);
  NoteSubqueryEnd(*WhereParser_);
  const bool result = Finish(*WhereParser_, ok);
  if (result) FromParser_->SyncCurrToken(*WhereParser_);
  return result;
}

bool TZelParserEngine::ParseGroupByClause() {
  GroupByParser_->Clear();
  GroupByItems_->Clear();
  if (SubqueryEnded_ || WhereParser_->CurrentTokenType() != zstGroupBy) return true;
  GroupByParser_->SetIsSubquery(IsSubquery_);
  TParserStack* stack = MainPreParser_->GetSection(zstGroupBy, WhereParser_->CurrToken());
  const bool ok = GroupByParser_->ExecuteGroupBy(*GroupByItems_, stack);
  NoteSubqueryEnd(*GroupByParser_);
  WhereParser_->SyncCurrToken(*GroupByParser_);
  return Finish(*GroupByParser_, ok);
}

bool TZelParserEngine::ParseHavingClause() {
  HavingParser_->Clear();
  if (SubqueryEnded_ || WhereParser_->CurrentTokenType() != zstHaving) return true;
  if (GroupByItems_->Count() == 0) {
    ErrorMsg_ = SzelNoGroupByClause;
    return false;
  }
  HavingParser_->SetIsSubquery(IsSubquery_);
  HavingParser_->SetTableList(TableList_.get());
  HavingParser_->SetValidEndTokens({zstOrderBy, zstEnd});
  TParserStack* stack = MainPreParser_->GetSection(zstHaving, WhereParser_->CurrToken());
  const bool ok = HavingParser_->Execute(kHavingOptions, stack);
  NoteSubqueryEnd(*HavingParser_);
  WhereParser_->SyncCurrToken(*HavingParser_);
  return Finish(*HavingParser_, ok);
}

bool TZelParserEngine::ParseOrderByClause() {
  OrderByParser_->Clear();
  OrderByItems_->Clear();
  if (SubqueryEnded_ || WhereParser_->CurrentTokenType() != zstOrderBy) return true;
  OrderByParser_->SetIsSubquery(IsSubquery_);
  TParserStack* stack = MainPreParser_->GetSection(zstOrderBy, WhereParser_->CurrToken());
  const bool ok = OrderByParser_->ExecuteOrderBy(*OrderByItems_, stack);
  NoteSubqueryEnd(*OrderByParser_);
  WhereParser_->SyncCurrToken(*OrderByParser_);
  return Finish(*OrderByParser_, ok);
}

bool TZelParserEngine::ParseInsertStatement() {
  InsertParser_->Clear();
  const bool ok =
      InsertParser_->Execute(TZelParserOptions(), MainPreParser_->GetSection(zstInsert, nullptr));
  const bool result = Finish(*InsertParser_, ok);
  if (result) TableList_->Add()->SetTableName(InsertParser_->TableName());
  return result;
}

bool TZelParserEngine::ParseDeleteStatement() {
  DeleteParser_->Clear();
  DeleteParser_->SetTables(TableList_.get());
  const bool ok =
      DeleteParser_->Execute(TZelParserOptions(), MainPreParser_->GetSection(zstDelete, nullptr));
  return Finish(*DeleteParser_, ok);
}

bool TZelParserEngine::ParseUpdateStatement() {
  UpdateParser_->Clear();
  UpdateParser_->SetTables(TableList_.get());
  const bool ok =
      UpdateParser_->Execute(TZelParserOptions(), MainPreParser_->GetSection(zstUpdate, nullptr));
  return Finish(*UpdateParser_, ok);
}

bool TZelParserEngine::ParseSchemaManipulationStatement() {
  SchemaParser_->Clear();
  const bool ok = SchemaParser_->Execute(TZelParserOptions(), MainPreParser_->GetSingleStack());
  const bool result = Finish(*SchemaParser_, ok);
  if (result && !SchemaParser_->TableName().empty()) {
    TTableNameItem* item = TableList_->Add();
    item->SetTableName(SchemaParser_->TableName());
    if (SchemaParser_->TemporaryTable()) {
      item->SetMemory(true);
      item->SetMemorySpecified(true);
    }
  }
  return result;
}

bool TZelParserEngine::CheckForUnionStatement(bool CheckOnly, bool& All) {
  const bool result = WhereParser_->CurrentTokenType() == zstUnion;
  if (CheckOnly || !result) return result;
  HasUnionStatement_ = true;
  TParserStack* stack = MainPreParser_->GetSingleStack();
  if (stack == nullptr || stack->Count() == 0) return false;
  All = stack->Peek()->Token() == zstAll;
  if (All) stack->Pop();
  TParserToken* select = stack->Count() > 0 ? stack->Pop() : nullptr;
  if (select == nullptr || select->Token() != zstSelect) {
    ErrorMsg_ = SzelUnionStatementIncorrectlyTerminated;
    if (select != nullptr) {
      UnionAnchor_->ClearError();
      UnionAnchor_->SetError(select, ErrorMsg_);
      ErrorMsg_ = UnionAnchor_->GetErrorMsg();
    }
    return false;
  }
  UnionAnchor_->Clear();
  UnionAnchor_->SetCurrToken(select);
  return true;
}

bool TZelParserEngine::CheckParseDone() const {
  TParserStack* stack = MainPreParser_->GetSingleStack();
  return stack == nullptr || stack->Count() == 0 || WhereParser_->CurrentTokenType() == zstEnd;
}

bool TZelParserEngine::CheckNoTokensRemain() const { return MainPreParser_->CheckParseComplete(); }

std::string TZelParserEngine::GetCurrentPreParserTokenAsErrorFmt() const {
  TParserStack* stack = MainPreParser_->GetSingleStack();
  if (stack == nullptr || stack->Count() == 0) return std::string();
  const TParserToken* top = stack->Peek();
  return " Line " + std::to_string(top->LineNo()) + ", Character " +
         std::to_string(top->LineOffset()) + ". Token '" + top->Text() + "'";
}

void TZelParserEngine::GetParamList(plat::TStrings* List) {
  PLAT_ASSERT(List != nullptr, "Assertion failure");
  List->Clear();
  SecondPreParser_->Clear();
  SecondPreParser_->SetParseSingleStack(true);
  SecondPreParser_->PreParseTokens();
  SecondPreParser_->GetParamList(*List);
}

const TZelPreParser& TZelParserEngine::ShorterPreParser() const {
  return SecondPreParser_->GetSingleStackCount() < MainPreParser_->GetSingleStackCount()
             ? *SecondPreParser_
             : *MainPreParser_;
}

void TZelParserEngine::ParserCallback(TParserNotifyType NotifyType, TBaseParser* Parser,
                                      TParserStack* Stack, TZelExprNode* Node,
                                      plat::Variant& Value) {
  (void)Stack;
  if (NotifyType == pntFindTableRef) {
    std::unique_ptr<TZelParserEngine> none;
    if (OnNotify_) OnNotify_(NotifyType, none, Node, Value);
    // The requesting parser reads the answer as a Boolean: no answer is "not found".
    if (Value.VarType() != plat::varBoolean) Value = plat::Variant(false);
    return;
  }
  if (NotifyType != pntSubquery && NotifyType != pntSelectUnion) {
    Parser->SetError(Parser->CurrToken(), SzelInvalidToken);
    return;
  }
  // Each child copies the remaining tokens; bound the nesting.
  if (Depth_ >= kMaxChildDepth) {
    Parser->SetError(Parser->CurrToken(), SzelInvalidToken);
    return;
  }
  auto child = std::make_unique<TZelParserEngine>();
  child->Depth_ = Depth_ + 1;
  const TZelPreParser& source = ShorterPreParser();
  for (TZelPreParser* pre : {child->MainPreParser_.get(), child->SecondPreParser_.get()}) {
    pre->SetParseSingleStack(true);
    pre->AssignStacks(source);
    pre->SetSQLStatementType(zsSQLSelect);
  }
  child->StartAnchor_->SetCurrToken(Parser->CurrToken());
  child->SelectParser_->SyncCurrToken(*Parser);
  child->FromParser_->SyncCurrToken(*Parser);
  TZelParserEngine* engine = child.get();
  if (OnNotify_) OnNotify_(NotifyType, child, Node, Value);
  if (!OnNotify_ || child != nullptr) {
    // Nobody took the child: the clause cannot be parsed here.
    Parser->SetError(Parser->CurrToken(), SzelInvalidToken);
    return;
  }
  if (engine->ErrorMsg_.empty() && engine->LastParser_ != nullptr) {
    const TZelPreParser& rest = engine->ShorterPreParser();
    MainPreParser_->TrimStacks(rest);
    if (SecondPreParser_->GetSectionCount() == rest.GetSectionCount())
      SecondPreParser_->TrimStacks(rest);
    Parser->SyncCurrToken(*engine->LastParser_);
    // After a UNION part the statement's remaining clauses follow it.
    if (NotifyType == pntSelectUnion) WhereParser_->SyncCurrToken(*Parser);
  } else if (engine->LastParser_ != nullptr && engine->LastParser_->HasParseError()) {
    // The child's message keeps the child's position.
    Parser->SetError(engine->LastParser_->ErrorToken(), engine->LastParser_->ErrorMsg());
  } else {
    Parser->SetError(Parser->CurrToken(),
                     engine->ErrorMsg_.empty() ? std::string(SzelInvalidToken) : engine->ErrorMsg_);
  }
}

}  // namespace zel
