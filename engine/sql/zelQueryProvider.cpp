#include "engine/sql/zelQueryProvider.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>
#include <utility>

#include "engine/expr/zelExprParser.h"
#include "engine/sql/zelJoinDataProviderUnit.h"
#include "engine/sql/zelQueryAnalyser.h"
#include "engine/sql/zelQueryPlanner.h"
#include "engine/storage/zelCommonError.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Random.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

// The longest field name a table takes.
constexpr std::size_t MaxResultFieldNameLength = 40;

std::string Hex(uint32_t Value, int32_t Digits) {
  static const char* const digits = "0123456789ABCDEF";
  std::string out(static_cast<std::size_t>(Digits), '0');
  for (int32_t i = Digits - 1; i >= 0; --i, Value >>= 4) out[static_cast<std::size_t>(i)] = digits[Value & 15];
  return out;
}

bool ListHas(const plat::TStrings& List, const std::string& Name) {
  for (int32_t i = 0; i < List.Count(); ++i)
    if (plat::AnsiSameText(List.Strings(i), Name)) return true;
  return false;
}

// The planned rows of a SELECT: the tree of row sources the planner builds
// from the FROM clause and the WHERE predicates it could assign, with the
// rest of the WHERE condition applied to the root's rows.
class TZelPlanRowSource : public TZelResultRowSource {
 public:
  explicit TZelPlanRowSource(TZelQueryProviderItem& Item) {
    TZelParserEngine& engine = Item.Engine();
    TTableList& tables = *engine.TableList();
    TZelExprNode* where = Item.WhereExpr() != nullptr ? Item.WhereExpr()->FirstNode() : nullptr;
    HasWhere_ = where != nullptr;
    Analyser_.SetFromTrees(engine.FromParser().Trees());
    Analyser_.Prepare(&Joins_, &Selects_, where, &tables);
    Mgr_.SetDatabase(Item.Provider().Database());
    Mgr_.SetDBStringCompare(Item.ResultSet().GetDBStringCompare());
    Plan_.SetTableList(&tables);
    Plan_.SetJoins(&Joins_);
    Plan_.SetSelects(&Selects_);
    Plan_.SetProviderMgr(&Mgr_);
    Plan_.SetFromRoot(engine.FromParser().Root());
    Plan_.SetFromTrees(engine.FromParser().Trees());
    TZelQueryPlanner().CreatePlan(&Plan_);
    Mgr_.OpenProviders();
    if (!Analyser_.CheckAnalysisComplete()) Mgr_.PrepareJoinExprEvaluator(where);
    Complete_ = Analyser_.CheckAnalysisComplete();
    Keepable_ = Joins_.Count() == 0 &&
                (Leaf() != nullptr ? Selects_.Count() <= 1 : JoinOfTwoTables());
    // A WHERE of one term that went whole to a table is that table's
    // selection as it stands: a new run passes it on without analysing it
    // again.
    if (Keepable_ && where != nullptr && Complete_ &&
        !(where->Kind() == enkLogicalOperator && where->Operator() == zeoAND))
      for (int32_t i = 0; i < Selects_.Count(); ++i)
        if (Selects_.Items(i)->SelectExprRoot() != nullptr) WholeWhereTable_ = TableOf(*Selects_.Items(i));
  }
  // One table, or two joined in the FROM clause, and no joins made of the
  // WHERE condition: the plan's shape does not depend on the values the
  // WHERE tree holds, so it can serve the next run with other ones.
  bool Keepable() const { return Keepable_; }
  // Rebind passes the WHERE tree on to the one table as it is, and reads
  // nothing else of it.
  bool TakesWhereAsIs() {
    return Keepable_ && WholeWhereTable_ != nullptr && Leaf() != nullptr;
  }
  // Takes the item's WHERE tree bound anew (other parameter values) while
  // the tables stay open: the selections are analysed and applied again,
  // and a join chooses how to match anew, as planning would. False when a
  // table was closed meanwhile.
  bool Rebind(TZelQueryProviderItem& Item) {
    if (!Keepable_ || !Mgr_.TablesOpen()) return false;
    TZelNonJoinDataProvider* leaf = Leaf();
    TZelExprNode* where = Item.WhereExpr() != nullptr ? Item.WhereExpr()->FirstNode() : nullptr;
    if ((where != nullptr) != HasWhere_) return false;
    // The tree is a clone of the same parsed one: its shape is as planned.
    if (WholeWhereTable_ != nullptr) {
      if (leaf != nullptr) {
        leaf->SetJoinSelectExprRoot(where);
        return true;
      }
      WholeWhereTable_->TakeSelection(where);
      Mgr_.OpenProviders();
      return true;
    }
    Analyser_.Prepare(&Joins_, &Selects_, where, Item.Engine().TableList());
    if (Joins_.Count() != 0 || Analyser_.CheckAnalysisComplete() != Complete_) return false;
    if (leaf != nullptr) {
      if (Selects_.Count() > 1) return false;
      leaf->SetJoinSelectExprRoot(Selects_.Count() == 1 ? Selects_.Items(0)->SelectExprRoot() : nullptr);
    } else {
      for (int32_t i = 0; i < Selects_.Count(); ++i) {
        TZelBaseJoinDataProvider* table = TableOf(*Selects_.Items(i));
        if (table == nullptr) return false;
        table->TakeSelection(Selects_.Items(i)->SelectExprRoot());
      }
      Mgr_.OpenProviders();
    }
    if (!Complete_) Mgr_.PrepareJoinExprEvaluator(where);
    return true;
  }
  bool FirstRow() override {
    Scanning_ = false;
    Next_ = 0;
    // One table read whole: its records read at once instead of a step of
    // its cursor per row, each tested against what the table's selection
    // left of the condition as it is given out.
    TZelNonJoinDataProvider* leaf = Leaf();
    if (std::exchange(EveryRow_, false) && leaf != nullptr && !leaf->ForceToNullValues() &&
        ReadCursorRecords(*leaf->DataBridge(), Scanned_)) {
      Scanning_ = true;
      ScanBridge_ = leaf->DataBridge();
      return NextScanned();
    }
    return Mgr_.FirstProviderRecord();
  }
  bool NextRow() override { return Scanning_ ? NextScanned() : Mgr_.NextProviderRecord(); }
  void ReadsEveryRow() override { EveryRow_ = true; }
  TZelExprDataProvider* RootProvider() override { return Mgr_.RootProvider(); }
  bool IsSingleTable() override { return Leaf() != nullptr; }
  uint32_t GetRecAddr() override { return Leaf()->DataBridge()->GetRecAddr(); }
  uint32_t GetRecModFlag() override { return Leaf()->DataBridge()->GetRecModFlag(); }
  // Where the table's selection decides the rows alone, they are its list.
  bool ListRecAddrs(std::vector<uint32_t>& List) override {
    TZelNonJoinDataProvider* leaf = Leaf();
    return leaf != nullptr && !Mgr_.HasRemainingExpr() && leaf->DataBridge()->ListSelectedRecAddrs(List);
  }
  // The table's count leaves its selection out: exact only without WHERE.
  int32_t GetKnownRecordCount() override {
    return Leaf() != nullptr && !HasWhere_ ? Leaf()->GetRecordCount() : -1;
  }

 private:
  TZelNonJoinDataProvider* Leaf() { return dynamic_cast<TZelNonJoinDataProvider*>(Mgr_.RootProvider()); }
  // The table of the tree a selection is for (as the planner finds it).
  TZelBaseJoinDataProvider* TableOf(const TZelSelectItem& Select) const {
    return Mgr_.RootProvider()->FindJoinProvider(
        Select.CorrelationName().empty() ? Select.TableName() : Select.CorrelationName());
  }
  // The root joins two tables: opening it again sets everything its last
  // run left behind (the tables' selections, ranges and lookups) anew.
  bool JoinOfTwoTables() const {
    const auto* join = dynamic_cast<const TZelStdJoinDataProvider*>(Mgr_.RootProvider());
    return join != nullptr && dynamic_cast<const TZelNonJoinDataProvider*>(join->InnerProvider()) &&
           dynamic_cast<const TZelNonJoinDataProvider*>(join->OuterProvider());
  }
  // The next of the scanned rows that passes the rest of the condition made
  // the table's current record.
  bool NextScanned() {
    TZelDatasetBridge& bridge = *ScanBridge_;
    const auto stride = static_cast<std::size_t>(bridge.RecordBufferSize());
    for (;;) {
      if ((Next_ + 1) * stride > Scanned_.size()) {
        Scanning_ = false;
        std::vector<uint8_t>().swap(Scanned_);
        return false;
      }
      bridge.RestoreRecordBytes(Scanned_.data() + Next_++ * stride);
      if (Complete_ || Mgr_.PassesRemaining()) return true;
    }
  }

  TZelQueryAnalyser Analyser_;
  TZelJoins Joins_;
  TZelSelects Selects_;
  TZelPlan Plan_;
  TZelJoinDataProviderMgr Mgr_;
  bool HasWhere_ = false;
  // Every part of the WHERE condition went to a table.
  bool Complete_ = false;
  bool Keepable_ = false;
  // The table the whole WHERE condition went to as its selection, if any.
  TZelBaseJoinDataProvider* WholeWhereTable_ = nullptr;
  // The rows of a whole scan being given out (ReadCursorRecords's), and the
  // next one's number.
  bool EveryRow_ = false;
  bool Scanning_ = false;
  std::vector<uint8_t> Scanned_;
  std::size_t Next_ = 0;
  // The scanned table's bridge, found once per scan rather than per row.
  TZelDatasetBridge* ScanBridge_ = nullptr;
};

}  // namespace

// The rows of a correlated subquery of one table whose WHERE condition has,
// among its AND-ed terms, "column = outer value" on a column of integers
// that an ascending index leads with. Made at the first outer row and kept
// for the outer statement's run: the table stays open on that index, and
// each outer row only takes the new outer values and reads the index range
// of its value, checking the whole condition on every row found, instead of
// planning the subquery again. Without such a shape (several tables, a
// nested subquery, no such term or index) nothing is kept and the subquery
// is planned per outer row.
//
// Where the key term is the condition's only reference to the outer row,
// the answer hangs on the outer value alone: once the index reads have cost
// about as much as reading the table, the keys of the rows that pass the
// rest of the condition are collected in one filtered pass, and each later
// outer row only looks its value up among them.
class TZelKeptCorrelatedRows {
 public:
  explicit TZelKeptCorrelatedRows(TZelQueryProviderItem& Item);
  TZelKeptCorrelatedRows(const TZelKeptCorrelatedRows&) = delete;
  TZelKeptCorrelatedRows& operator=(const TZelKeptCorrelatedRows&) = delete;

  bool Usable() const { return Leaf_ != nullptr; }
  // Whether the subquery has a row for the current outer row. Decided is
  // false when the outer value is no integer (or one too large for a range
  // bound): the index is not searched with it and the caller plans the
  // subquery instead.
  bool HasAnyRow(bool& Decided);

 private:
  // The outer node of an AND-ed "field = outer value" under Node, the
  // field and the term; nullptr when there is none.
  TZelExprNode* FindKeyTerm(TZelExprNode* Node, TZelExprNode*& Field, TZelExprNode*& Term) const;
  bool IsOuterNode(const TZelExprNode* Node) const;
  // The AND-ed parts of Node other than Skip, into Rest.
  static void CollectRest(const TZelExprNode* Node, const TZelExprNode* Skip, TZelSelectItem& Rest);
  // Reads the keys of the rows that pass the rest of the condition.
  void CollectKeys();

  TZelQueryProviderItem& Item_;
  TZelExpr Where_;
  std::vector<TZelQueryProviderItem::TOuterFieldRef> OuterRefs_;
  TZelExprNode* Key_ = nullptr;
  std::string IndexName_;
  TZelJoinDataProviderMgr Mgr_;
  TZelNonJoinDataProvider* Leaf_ = nullptr;
  // The key set: the condition without its key term, the key field, the
  // table's rows and what the index reads have cost so far (in rows read
  // through the index; a filtered pass reads a row for far less).
  bool KeySetPossible_ = false;
  bool KeySetMade_ = false;
  TZelSelectItem Rest_;
  int32_t KeyFieldNo_ = 0;
  double TableRows_ = 0;
  double ReadCost_ = 0;
  std::unordered_set<int64_t> Keys_;
  // Last: it refers to Where_ and to the leaf.
  TExprEvaluator Evaluator_;
};

namespace {

// What a row read through an index costs, in rows of a filtered pass over
// the table.
constexpr double kIndexReadCost = 8;

// An integer that an index range bound holds exactly (the bound passes
// through a double).
bool IsExactRangeInteger(const plat::Variant& Value) {
  const plat::TVarType type = Value.VarType();
  if (type == plat::varSmallint || type == plat::varInteger) return true;
  if (type != plat::varInt64) return false;
  constexpr int64_t exact = int64_t{1} << 53;
  const int64_t value = Value.AsInt64();
  return value >= -exact && value <= exact;
}

}  // namespace

TZelKeptCorrelatedRows::TZelKeptCorrelatedRows(TZelQueryProviderItem& Item) : Item_(Item) {
  TZelParserEngine& engine = Item.Engine();
  const TTableList& tables = *engine.TableList();
  // One table and no join: the FROM clause made no join tree.
  const TZelTableRefNode* joins = engine.FromParser().Root();
  const TZelExpr* where = engine.WhereParser().Expr();
  if (tables.Count() != 1 || joins != nullptr || where == nullptr || where->FirstNode() == nullptr)
    return;
  // A nested subquery reads this one's current row from its planned rows.
  for (const TZelExprNode* node = where->FirstNode(); node != nullptr; node = node->Next())
    if (node->Kind() == enkSubquery || node->Operator() == zeoSUBQUERY) return;
  Where_.CloneFromTree(where->FirstNode());
  Item.ResetOuterFieldRefs(&Where_, &OuterRefs_);
  Item.BindExprParams(&Where_);
  TZelExprNode* field = nullptr;
  TZelExprNode* term = nullptr;
  Key_ = FindKeyTerm(Where_.FirstNode(), field, term);
  if (Key_ == nullptr) return;

  TTableReadHold hold(Item.Provider().Database());
  const TTableNameItem* table = tables.Items(0);
  Mgr_.SetDatabase(Item.Provider().Database());
  Mgr_.SetDBStringCompare(Item.ResultSet().GetDBStringCompare());
  TZelNonJoinDataProvider* leaf =
      Mgr_.GetNonJoinProvider(table->TableName(), table->CorrelationName(), table->Memory());
  leaf->OpenProvider();
  const TInternalFieldItem* column = leaf->FindField(field->ParserToken(), field->Data().AsString());
  if (column == nullptr || !ZelIsIntegralType(column->DataType())) return;
  const plat::TIndexDef* index = leaf->DataBridge()->FindIndexForFields(column->FieldName(), true);
  if (index == nullptr) return;
  IndexName_ = index->Name();
  leaf->DataBridge()->PrepareIndexLookup(IndexName_);
  // A statement that writes may change the table as it goes: its rows are
  // sought one by one, as they stand at each.
  const TZelQueryProviderItem* top = &Item;
  while (top->ParentQuery() != nullptr) top = top->ParentQuery();
  KeySetPossible_ = OuterRefs_.size() == 1 && top->GetSQLStatementType() == zsSQLSelect;
  if (KeySetPossible_) {
    CollectRest(Where_.FirstNode(), term, Rest_);
    KeyFieldNo_ = column->FieldNo();
    TableRows_ = leaf->DataBridge()->GetTotalBridgeRecordCount();
  }
  Evaluator_.SetExcludeRelopNulls(true);
  Evaluator_.SetDBStringCompare(Item.ResultSet().GetDBStringCompare());
  Evaluator_.Prepare(leaf, Where_.FirstNode());
  Leaf_ = leaf;
}

bool TZelKeptCorrelatedRows::IsOuterNode(const TZelExprNode* Node) const {
  return std::any_of(OuterRefs_.begin(), OuterRefs_.end(),
                     [Node](const auto& Ref) { return Ref.Node == Node; });
}

TZelExprNode* TZelKeptCorrelatedRows::FindKeyTerm(TZelExprNode* Node, TZelExprNode*& Field,
                                                  TZelExprNode*& Term) const {
  if (Node == nullptr) return nullptr;
  if (Node->Kind() == enkLogicalOperator && Node->Operator() == zeoAND) {
    if (TZelExprNode* key = FindKeyTerm(Node->Left(), Field, Term)) return key;
    return FindKeyTerm(Node->Right(), Field, Term);
  }
  Term = Node;
  if (Node->Kind() != enkRelOperator || Node->Operator() != zeoEQ || !Node->Args().empty())
    return nullptr;
  TZelExprNode* left = Node->Left();
  TZelExprNode* right = Node->Right();
  if (left == nullptr || right == nullptr) return nullptr;
  if (left->Kind() == enkField && IsOuterNode(right)) {
    Field = left;
    return right;
  }
  if (right->Kind() == enkField && IsOuterNode(left)) {
    Field = right;
    return left;
  }
  return nullptr;
}

void TZelKeptCorrelatedRows::CollectRest(const TZelExprNode* Node, const TZelExprNode* Skip,
                                         TZelSelectItem& Rest) {
  if (Node == nullptr || Node == Skip) return;
  if (Node->Kind() == enkLogicalOperator && Node->Operator() == zeoAND) {
    CollectRest(Node->Left(), Skip, Rest);
    CollectRest(Node->Right(), Skip, Rest);
    return;
  }
  Rest.SetSelectExprRoot(Node);
}

void TZelKeptCorrelatedRows::CollectKeys() {
  const TTableNameItem* table = Item_.Engine().TableList()->Items(0);
  TZelNonJoinDataProvider* pass =
      Mgr_.GetNonJoinProvider(table->TableName(), table->CorrelationName(), table->Memory());
  pass->OpenProvider();
  // As the cursor's filter the rest is answered from the indexes where it
  // can be, else checked on the stored records.
  pass->SetJoinSelectExprRoot(Rest_.SelectExprRoot());
  for (bool found = pass->FirstProviderRecord(); found; found = pass->NextProviderRecord()) {
    const plat::Variant key = pass->GetDataAsVariant(KeyFieldNo_);
    if (!key.IsNull() && !key.IsEmpty()) Keys_.insert(key.AsInt64());
  }
  pass->DataBridge()->CloseBridge();
  KeySetMade_ = true;
}

bool TZelKeptCorrelatedRows::HasAnyRow(bool& Decided) {
  for (const auto& ref : OuterRefs_) Item_.BindOuterFieldRef(ref);
  const plat::Variant& key = Key_->Data();
  Decided = true;
  // A term compared with Null is never true, nor is the AND it stands in.
  if (key.IsNull() || key.IsEmpty()) return false;
  if (!IsExactRangeInteger(key)) {
    Decided = false;
    return false;
  }
  TTableReadHold hold(Item_.Provider().Database());
  if (KeySetPossible_ && !KeySetMade_ && ReadCost_ * kIndexReadCost >= TableRows_) CollectKeys();
  if (KeySetMade_) return Keys_.count(key.AsInt64()) > 0;
  Leaf_->DataBridge()->SetBridgeIndexRange(IndexName_, key, key);
  // The search down the tree, then each row read.
  ReadCost_ += std::log2(TableRows_ + 2) + 1;
  for (bool found = Leaf_->FirstProviderRecord(); found; found = Leaf_->NextProviderRecord()) {
    ReadCost_ += 1;
    Evaluator_.Reset();
    if (Evaluator_.Evaluate()) return true;
  }
  return false;
}

// ---------------------------------------------------------------- subquery rows

bool TQueryExprNodeDataProvider::PrepareAndOpen() {
  TZelQueryDataset& dataset = Item_.ResultSet();
  if (Item_.IsCorrelated() || !dataset.Active()) {
    if (dataset.Active()) dataset.Close();
    // The plan the statement's preparation made for this run serves a
    // subquery whose rows do not hang on the outer row.
    if ((Item_.IsCorrelated() || Item_.RowSource() == nullptr) && !Item_.PreparePlan()) return false;
  }
  if (dataset.Active()) return true;
  ++Stamp_;
  return Item_.CreateResultSet() && dataset.Active();
}

uint64_t TQueryExprNodeDataProvider::RowsStamp() {
  return Item_.IsCorrelated() || !Item_.ResultSet().Active() ? 0 : Stamp_;
}

uint64_t TQueryExprNodeDataProvider::ListedValuesStamp() {
  if (!Item_.ValuesListable()) return 0;
  if (Item_.RowSource() == nullptr && !Item_.PreparePlan()) return 0;
  // A new plan may give other rows.
  if (ListedPlan_ != Item_.PlansMade()) {
    ListedPlan_ = Item_.PlansMade();
    ++Stamp_;
  }
  return Stamp_;
}

void TQueryExprNodeDataProvider::ListColumnValues(std::vector<plat::Variant>& Values) {
  Item_.ListColumnValues(Values);
}

bool TQueryExprNodeDataProvider::HasAnyRow() {
  TZelParserEngine& engine = Item_.Engine();
  TSelectFields& select = Item_.GetSelectResultSetFields();
  const TZelExpr* having = engine.HavingParser().Expr();
  // A correlated subquery of plain rows has one exactly when its planned
  // rows have a first one: its result need not be made per outer row.
  if (!Item_.IsCorrelated() || select.ContainsAggregateColumns() ||
      select.ContainsGroupedOutput() || engine.HasUnionStatement() ||
      (having != nullptr && having->FirstNode() != nullptr))
    return PrepareAndOpen() && First();
  if (TZelKeptCorrelatedRows* kept = Item_.KeptCorrelatedRows()) {
    bool decided = false;
    const bool any = kept->HasAnyRow(decided);
    if (decided) return any;
  }
  // The result refers to the row source the plan replaces.
  if (Item_.ResultSet().Active()) Item_.ResultSet().Close();
  return Item_.PreparePlan() && Item_.RowSource()->FirstRow();
}

bool TQueryExprNodeDataProvider::First() {
  TZelQueryDataset& dataset = Item_.ResultSet();
  if (!dataset.Active()) return false;
  dataset.First();
  return !dataset.Eof();
}

bool TQueryExprNodeDataProvider::Next() {
  TZelQueryDataset& dataset = Item_.ResultSet();
  if (!dataset.Active()) return false;
  dataset.Next();
  return !dataset.Eof();
}

int32_t TQueryExprNodeDataProvider::ColumnCount() { return Item_.ResultFields().Count(); }

plat::Variant TQueryExprNodeDataProvider::ColumnValue(int32_t Index) {
  TZelQueryDataset& dataset = Item_.ResultSet();
  if (Index < 0 || Index >= ColumnCount() || dataset.IsFieldBlob(Index)) return plat::Variant();
  plat::Variant value = dataset.Fields().Fields(Index)->Value();
  return value;
}

// ---------------------------------------------------------------- the item

TZelQueryProviderItem::TZelQueryProviderItem(TZelQueryProvider& Provider, int32_t ID)
    : Provider_(Provider),
      ID_(ID),
      SQL_(std::make_unique<plat::TStringList>()),
      Errors_(std::make_unique<plat::TStringList>()) {
  Engine_ = std::make_unique<TZelParserEngine>();
  InternalCreateObjects();
  ResultTableName_ = Provider.NewResultTableName(ID);
}

TZelQueryProviderItem::~TZelQueryProviderItem() {
  try {
    if (ID_ > 0) DropResultTable();
  } catch (...) {
    // A result table that cannot be dropped now goes with the database.
  }
}

void TZelQueryProviderItem::DropResultTable() {
  if (ResultSet_ == nullptr || !ResultTableCreated_) return;
  if (ResultSet_->Active()) ResultSet_->Close();
  ResultSet_->SetRowSource(nullptr);
  TZelDataBase* db = Provider_.Database();
  if (db == nullptr || !db->Connected()) return;
  db->DeleteTable(ResultTableName_, true);
  ResultTableCreated_ = false;
}

void TZelQueryProviderItem::InternalCreateObjects() {
  SelectAnalyser_ = std::make_unique<TZelSelectAnalyser>();
  ResultFields_ = std::make_unique<TResultSetFields>();
  if (ResultSet_ == nullptr) ResultSet_ = std::make_unique<TZelQueryDataset>();
  // Subquery nodes of the parent already point at it.
  if (NodeDataProvider_ == nullptr) {
    NodeDataProvider_ = std::make_unique<TQueryExprNodeDataProvider>(*this);
    NodeDataProvider_->SetProviderDataset(ResultSet_.get());
  }
  Engine_->SetParserEngineNotifyEvent(
      [this](TParserNotifyType type, std::unique_ptr<TZelParserEngine>& engine,
             TZelExprNode* node, plat::Variant& value) {
        ParserEngineCallback(type, engine, node, value);
      });
}

bool TZelQueryProviderItem::Fail(const std::string& Message) {
  if (!Message.empty()) Errors_->Add(Message);
  return false;
}

bool TZelQueryProviderItem::ValidateSQL() {
  Errors_->Clear();
  if (plat::Trim(SQL_->Text()).empty()) return Fail("SQL statment is empty");
  if (!Engine_->PreParseSQL(SQL_->Text())) return Fail(Engine_->ErrorMsg());
  if (!InternalParseQuery()) return false;
  if (Children_.empty() && !Engine_->CheckNoTokensRemain())
    return Fail("Unrecognized tokens beyond end of statement: " +
                Engine_->GetCurrentPreParserTokenAsErrorFmt());
  return true;
}

bool TZelQueryProviderItem::InternalParseQuery() {
  switch (Engine_->GetSQLStatementType()) {
    case zsSQLSelect:
      return InternalParseSelectQuery();
    case zsSQLInsert:
      return InternalParseInsertQuery();
    case zsSQLDelete:
      return InternalParseDeleteQuery();
    case zsSQLUpdate:
      return InternalParseUpdateQuery();
    case zsSchemaManipulation:
      return InternalParseSchemaStatement();
    default:
      return Fail(Engine_->GetCurrentPreParserTokenAsErrorFmt() + " Unrecognised SQL statement type");
  }
}

bool TZelQueryProviderItem::CheckAndSetParserTableList(TTableList& List) {
  if (!Provider_.CheckTableList(List, true)) return false;
  InternalSetupTableLists();
  return true;
}

TTableNameItem* TZelQueryProviderItem::TargetTable() const {
  TTableList& list = *Engine_->TableList();
  return list.Count() > 0 ? list.Items(0) : nullptr;
}

bool TZelQueryProviderItem::InternalParseInsertQuery() {
  TZelParserEngine& e = *Engine_;
  if (!e.ParseInsertStatement()) return Fail(e.ErrorMsg());
  if (!CheckAndSetParserTableList(*e.TableList())) return false;
  TZelInsertParser& p = e.InsertParser();
  const TInternalFields& fields = *TargetTable()->TableFields();
  bool ok;
  if (p.HasSelectClause()) {
    PLAT_ASSERT(Children_.size() == 1, "Insert select count is incorrect");
    if (!Children_[0]->Errors().Text().empty()) return false;
    ok = p.ValidateSelectColumns(Children_[0]->GetSelectResultSetFields(), fields);
  } else {
    ok = p.ValidateValueColumns(fields);
  }
  return ok || Fail(p.ErrorMsg());
}

bool TZelQueryProviderItem::InternalParseDeleteQuery() {
  if (!Engine_->ParseDeleteStatement()) return Fail(Engine_->ErrorMsg());
  if (!CheckAndSetParserTableList(*Engine_->TableList())) return false;
  return ChildrenParsed();
}

bool TZelQueryProviderItem::InternalParseUpdateQuery() {
  TZelUpdateParser& p = Engine_->UpdateParser();
  p.SetTableListValidateEvent([this](TTableList& List) { return CheckAndSetParserTableList(List); });
  if (!Engine_->ParseUpdateStatement()) return Fail(Engine_->ErrorMsg());
  TTableNameItem* target = TargetTable();
  if (target == nullptr) return Fail("Table not found");
  if (!p.ValidateValueColumns(*target->TableFields())) return Fail(p.ErrorMsg());
  p.ValidateAndSetDataTypes(*target->TableFields());
  return ChildrenParsed();
}

bool TZelQueryProviderItem::InternalParseSchemaStatement() {
  TZelParserEngine& e = *Engine_;
  if (!e.ParseSchemaManipulationStatement()) return Fail(e.ErrorMsg());
  TZelSchemaManipulationParser& p = e.SchemaParser();
  const bool found = Provider_.CheckTableList(*e.TableList(), false);
  if (p.Operation() == ddCreateTable) {
    if (found) return Fail("Table already exists: " + p.TableName());
    return true;
  }
  if (!found) return Fail("Table not found: " + p.TableName());
  InternalSetupTableLists();
  return true;
}

bool TZelQueryProviderItem::ChildrenParsed() {
  for (TZelQueryProviderItem* child : Children_)
    if (!child->Errors().Text().empty()) {
      for (int32_t i = 0; i < child->Errors().Count(); ++i) Errors_->Add(child->Errors().Strings(i));
      return false;
    }
  return true;
}

void TZelQueryProviderItem::InternalSetupTableLists() {
  TTableList& list = *Engine_->TableList();
  for (int32_t i = 0; i < list.Count(); ++i) {
    TTableNameItem* item = list.Items(i);
    if (item->TableFields()->Count() == 0)
      Provider_.GetFieldsForTable(item->TableName(), *item->TableFields(), item->Memory());
  }
}

bool TZelQueryProviderItem::InternalParseSelectQuery() {
  TZelParserEngine& e = *Engine_;
  TZelSelectAnalyser& a = *SelectAnalyser_;
  if (!e.ParseFromClause()) return Fail(e.ErrorMsg());
  if (!Provider_.CheckTableList(*e.TableList(), true)) return false;
  InternalSetupTableLists();
  if (!e.ParseSelectClause() || !e.ProcessJoins()) return Fail(e.ErrorMsg());
  a.SetIsDistinct(e.SelectParser().IsDistinct());
  if (!a.CheckSelect(&e.SelectParser().Nodes(), e.TableList())) return Fail(a.ErrorMsg());
  if (!e.ParseWhereClause() || !e.ParseGroupByClause()) return Fail(e.ErrorMsg());
  if (!a.CheckGroupedColumns(e.GroupByItems())) return Fail(a.ErrorMsg());
  if (!e.ParseHavingClause()) return Fail(e.ErrorMsg());
  if (!a.CheckHavingExpr(e.HavingParser().Expr())) return Fail(a.ErrorMsg());
  if (!e.IsUnionSubstatement()) {
    bool all = false;
    while (e.CheckForUnionStatement(false, all)) {
      e.SetHasUnionStatement(true);
      if (!ParseRemainingUnionStatement()) return false;
      Children_.back()->SetUnionAll(all);
    }
    if (!ValidateUnionSubStatements()) return false;
    if (!e.ParseOrderByClause()) return Fail(e.ErrorMsg());
    if (!a.CheckOrderByColumns(e.OrderByItems())) return Fail(a.ErrorMsg());
  }
  if (!e.ErrorMsg().empty()) return Fail(e.ErrorMsg());
  return ChildrenParsed();
}

bool TZelQueryProviderItem::InternalParseWhereQuery() {
  if (!Provider_.CheckTableList(*Engine_->TableList(), true)) return false;
  InternalSetupTableLists();
  if (!Engine_->ParseWhereClause()) return Fail(Engine_->ErrorMsg());
  return ChildrenParsed();
}

bool TZelQueryProviderItem::ParseRemainingUnionStatement() {
  plat::Variant value;
  Engine_->ParserCallback(pntSelectUnion, &Engine_->UnionAnchor(), nullptr, nullptr, value);
  if (Engine_->UnionAnchor().HasParseError())
    return Fail(Engine_->UnionAnchor().GetErrorMsg());
  if (Children_.empty() || !Children_.back()->Engine().IsUnionSubstatement())
    return Fail(Engine_->ErrorMsg());
  TZelQueryProviderItem& child = *Children_.back();
  if (!child.Errors().Text().empty()) {
    for (int32_t i = 0; i < child.Errors().Count(); ++i) Errors_->Add(child.Errors().Strings(i));
    return false;
  }
  return true;
}

bool TZelQueryProviderItem::ValidateUnionSubStatements() {
  for (TZelQueryProviderItem* child : Children_) {
    if (!child->Engine().IsUnionSubstatement()) continue;
    if (!SelectAnalyser_->ValidateUnionSelectFields(child->GetSelectResultSetFields()))
      return Fail(SelectAnalyser_->ErrorMsg());
  }
  return true;
}

bool TZelQueryProviderItem::IsDistinctUnionStatement() const {
  if (!Engine_->HasUnionStatement()) return false;
  return std::any_of(Children_.begin(), Children_.end(), [](const TZelQueryProviderItem* c) {
    return c->Engine().IsUnionSubstatement() && !c->UnionAll();
  });
}

TZelQueryProviderItem* TZelQueryProviderItem::AddChild() {
  TZelQueryProviderItem* child = Provider_.Add();
  child->SetParentQuery(this);
  Children_.push_back(child);
  return child;
}

void TZelQueryProviderItem::ParserEngineCallback(TParserNotifyType NotifyType,
                                                 std::unique_ptr<TZelParserEngine>& Engine,
                                                 TZelExprNode* Node, plat::Variant& Value) {
  if (NotifyType == pntFindTableRef) {
    const std::string name = Value.IsEmpty() || Value.IsNull() ? "" : plat::VarToStr(Value);
    TTableNameItem* found = nullptr;
    if (!name.empty()) found = FindTable(name);
    if (found == nullptr && Node != nullptr) {
      found = FindTableForField(plat::VarToStr(Node->Data()));
      if (found != nullptr && !name.empty() && !plat::AnsiSameText(found->TableName(), name) &&
          !plat::AnsiSameText(found->CorrelationName(), name))
        found = nullptr;
    }
    if (found != nullptr && Node != nullptr &&
        found->TableFields()->FindField(plat::VarToStr(Node->Data())) == nullptr)
      found = nullptr;
    if (found == nullptr || Node == nullptr) {
      Value = plat::Variant(false);
      return;
    }
    IsCorrelated_ = true;
    Node->TableList()->Add()->Assign(found);
    Value = plat::Variant(true);
    return;
  }
  if (Engine == nullptr) return;
  TZelQueryProviderItem* child = AddChild();
  if (NotifyType == pntSelectUnion) {
    Engine->SetIsUnionSubstatement(true);
    child->AssignExternalParserEngine(false, "", "", std::move(Engine));
    return;
  }
  const TZelSQLStatementType type = Engine_->GetSQLStatementType();
  const bool where = Node != nullptr && !Node->Data().IsEmpty() && !Node->Data().IsNull() &&
                     plat::AnsiSameText(plat::VarToStr(Node->Data()), "WHERE");
  if (where && (type == zsSQLDelete || type == zsSQLUpdate)) {
    // The rows of the statement's one table that the WHERE clause picks.
    PLAT_ASSERT(Engine_->TableList()->Count() == 1, "Parser engine table count is incorrect");
    const TTableNameItem* table = Engine_->TableList()->Items(0);
    child->AssignExternalParserEngine(true, table->TableName(), table->CorrelationName(),
                                      std::move(Engine));
    return;
  }
  if (type != zsSQLInsert) Engine->SetIsSubquery(true);
  if (Node != nullptr && type != zsSQLInsert)
    Node->SetExprNodeDataProvider(&child->NodeDataProvider());
  child->AssignExternalParserEngine(false, "", "", std::move(Engine));
}

void TZelQueryProviderItem::AssignExternalParserEngine(bool WhereOnly, const std::string& TableName,
                                                       const std::string& CorrelationName,
                                                       std::unique_ptr<TZelParserEngine> Engine) {
  Engine_ = std::move(Engine);
  WhereOnly_ = WhereOnly;
  InternalCreateObjects();
  if (!TableName.empty()) {
    TTableNameItem* item = Engine_->TableList()->Add();
    item->SetTableName(TableName);
    item->SetCorrelationName(CorrelationName);
  }
  const bool ok = WhereOnly ? InternalParseWhereQuery() : InternalParseQuery();
  if (!ok && Errors_->Count() == 0) Errors_->Add(Engine_->ErrorMsg());
}

void TZelQueryProviderItem::CreateParamList() {
  plat::TParams* params = Provider_.Params();
  if (params == nullptr) return;
  params->Clear();
  plat::TStringList names;
  Engine_->GetParamList(&names);
  for (int32_t i = 0; i < names.Count(); ++i)
    if (params->FindParam(names.Strings(i)) == nullptr)
      params->CreateParam(plat::ftUnknown, names.Strings(i), plat::ptInput);
}

// ---------------------------------------------------------------- planning

TTableNameItem* TZelQueryProviderItem::FindTable(const std::string& Name) {
  for (TZelQueryProviderItem* item = ParentQuery_; item != nullptr; item = item->ParentQuery_) {
    TTableNameItem* found = item->Engine().TableList()->FindTable(Name);
    if (found == nullptr) found = item->Engine().TableList()->FindTableName(Name);
    if (found != nullptr) {
      found->SetInCorrelatedSubquery(true);
      found->SetCorrelatedSubqueryID(item->ID());
      return found;
    }
  }
  return nullptr;
}

TTableNameItem* TZelQueryProviderItem::FindTableForField(const std::string& Field) {
  for (TZelQueryProviderItem* item = ParentQuery_; item != nullptr; item = item->ParentQuery_) {
    TTableNameItem* found = item->Engine().TableList()->FindTableForField(Field);
    if (found != nullptr) {
      found->SetInCorrelatedSubquery(true);
      found->SetCorrelatedSubqueryID(item->ID());
      return found;
    }
  }
  return nullptr;
}

plat::Variant TZelQueryProviderItem::GetFieldData(const std::string& Table,
                                                  const std::string& Field) {
  // An UPDATE's own row is the one its cursor stands on.
  if (Engine_->GetSQLStatementType() == zsSQLUpdate && ResultSet_->Active() &&
      (plat::AnsiSameText(Table, ResultSet_->TableName()) ||
       plat::AnsiSameText(Table, Engine_->UpdateParser().CorrelationName()))) {
    const int32_t no = ResultSet_->GetFieldNo(Field);
    if (no >= 0 && !ResultSet_->IsFieldBlob(no)) return ResultSet_->DataSetGetFieldDataAsVariant(no);
  }
  if (RowSource_ != nullptr && RowSource_->RootProvider() != nullptr) {
    TZelExprDataProvider* provider = RowSource_->RootProvider()->FindProvider(Table);
    if (provider != nullptr) {
      if (TInternalFieldItem* field = provider->FindField(nullptr, Field))
        return provider->GetDataAsVariant(field->FieldNo());
      return plat::Variant();
    }
  }
  if (ParentQuery_ != nullptr) return ParentQuery_->GetFieldData(Table, Field);
  return plat::Variant();
}

void TZelQueryProviderItem::ResetOuterFieldRefs(TZelExpr* Expr, std::vector<TOuterFieldRef>* Refs) {
  if (Expr == nullptr) return;
  for (TZelExprNode* node = Expr->FirstNode(); node != nullptr; node = node->Next()) {
    if (node->Operator() != zeoOUTERFIELD) continue;
    TOuterFieldRef ref;
    ref.Node = node;
    ref.Field = plat::VarToStr(node->Data());
    if (node->Tables().Count() > 0) {
      const TTableNameItem* t = node->Tables().Items(0);
      ref.Table = !t->CorrelationName().empty() ? t->CorrelationName() : t->TableName();
    }
    BindOuterFieldRef(ref);
    node->SetOperator(zeoCONST2);
    node->SetKind(enkConst);
    if (Refs != nullptr) Refs->push_back(std::move(ref));
  }
}

void TZelQueryProviderItem::BindOuterFieldRef(const TOuterFieldRef& Ref) {
  plat::Variant value =
      ParentQuery_ != nullptr ? ParentQuery_->GetFieldData(Ref.Table, Ref.Field) : plat::Variant();
  Ref.Node->SetData(value.IsEmpty() ? plat::Null() : value);
}

namespace {

void BindNode(TZelExprNode& Node, const plat::TParam& Param) {
  Node.SetData(Param.IsNull() ? plat::Null() : Param.Value());
  Node.SetOperator(zeoCONST2);
  Node.SetKind(enkConst);
  Node.SetDataType(Param.DataType());
}

}  // namespace

void TZelQueryProviderItem::BindExprParams(
    TZelExpr* Expr, std::vector<std::pair<TZelExprNode*, std::string>>* Bound) {
  plat::TParams* params = Provider_.Params();
  if (Expr == nullptr || params == nullptr) return;
  for (TZelExprNode* node = Expr->FirstNode(); node != nullptr; node = node->Next()) {
    if (node->Operator() != zeoPARAMETER) continue;
    std::string name = plat::VarToStr(node->Data());
    BindNode(*node, *params->ParamByName(name));
    if (Bound != nullptr) Bound->emplace_back(node, std::move(name));
  }
}

void TZelQueryProviderItem::BindFromParams() {
  for (const auto& node : Engine_->FromParser().Nodes()) BindExprParams(node->Expr());
}

void TZelQueryProviderItem::BindParams(TZelExpr* Expr) {
  plat::TParams* params = Provider_.Params();
  if (params == nullptr) return;
  switch (Engine_->GetSQLStatementType()) {
    case zsSQLInsert:
      Engine_->InsertParser().Values().BindParams(params);
      break;
    case zsSQLUpdate:
      Engine_->UpdateParser().SetList().BindParams(params);
      break;
    default:
      BindExprParams(Expr);
      break;
  }
}

void TZelQueryProviderItem::CreateResultList(std::vector<uint32_t>& List) {
  PLAT_ASSERT(RowSource_ != nullptr, "Result set is not assigned");
  TTableReadHold hold(Provider_.Database());
  ResultSet_->SetRowSource(RowSource_.get());
  ResultSet_->PopulateResultSetAddrList(List);
}

TZelKeptCorrelatedRows* TZelQueryProviderItem::KeptCorrelatedRows() {
  if (KeptRows_ == nullptr) KeptRows_ = std::make_unique<TZelKeptCorrelatedRows>(*this);
  return KeptRows_->Usable() ? KeptRows_.get() : nullptr;
}

void TZelQueryProviderItem::ReleaseKeptRows() { KeptRows_.reset(); }

bool TZelQueryProviderItem::PlanKeepable() const {
  const auto* plan = dynamic_cast<const TZelPlanRowSource*>(RowSource_.get());
  const TZelDataBase* db = Provider_.Database();
  // A secured database checks the user's right to a table as it opens it: a
  // kept table would not be asked again.
  if (plan == nullptr || !plan->Keepable() || IsCorrelated_ || WhereOnly_ || ResultIsLive_ ||
      GetSQLStatementType() != zsSQLSelect || db == nullptr || !db->Connected() ||
      db->Exclusive() || db->IsMemoryDatabase() || db->NeedSecurity())
    return false;
  // This connection may drop or change a memory table at any time.
  const TTableList& tables = *Engine_->TableList();
  for (int32_t i = 0; i < tables.Count(); ++i)
    if (tables.Items(i)->Memory()) return false;
  return true;
}

bool TZelQueryProviderItem::ValuesListable() {
  if (Provider_.MaxRecords() > 0) return false;
  // The parsed statement decides the rest: found out once.
  if (Listable_ == TListable::Unknown) {
    Listable_ = TListable::No;
    // A statement that writes may change the rows as it goes.
    const TZelQueryProviderItem* top = this;
    while (top->ParentQuery() != nullptr) top = top->ParentQuery();
    const TSelectFields& select = GetSelectResultSetFields();
    const TZelExpr* having = Engine_->HavingParser().Expr();
    if (WhereOnly_ || IsCorrelated_ || GetSQLStatementType() != zsSQLSelect || top == this ||
        top->GetSQLStatementType() != zsSQLSelect || select.Count() != 1 ||
        select.ContainsAggregateColumns() || select.ContainsGroupedOutput() ||
        Engine_->HasUnionStatement() || (having != nullptr && having->FirstNode() != nullptr))
      return false;
    const TSelectFieldItem& column = *select.GetItems(0);
    if (!column.HasAggregateFunction && column.SourceTableItem != nullptr &&
        ZelIsIntegralType(column.DataType))
      Listable_ = TListable::Yes;
  }
  return Listable_ == TListable::Yes;
}

void TZelQueryProviderItem::ListColumnValues(std::vector<plat::Variant>& Values) {
  PLAT_ASSERT(RowSource_ != nullptr, "Result set is not assigned");
  TTableReadHold hold(Provider_.Database());
  // The column's table and field, found as the result's column finds them.
  const TSelectFieldItem& column = *GetSelectResultSetFields().GetItems(0);
  const TTableNameItem& table = *column.SourceTableItem;
  TZelExprDataProvider* root = RowSource_->RootProvider();
  TZelExprDataProvider* rows =
      !table.CorrelationName().empty() ? root->FindProvider(table.CorrelationName()) : nullptr;
  if (rows == nullptr) rows = root->FindProvider(table.TableName());
  PLAT_ASSERT(rows != nullptr, "The result set field data provider could not be found");
  const TInternalFieldItem* field = rows->FindField(nullptr, column.SourceFieldName);
  // A column the table does not hold reads as the result's would: Null.
  const int32_t fieldNo = field != nullptr ? field->FieldNo() : -1;
  RowSource_->ReadsEveryRow();
  for (bool more = RowSource_->FirstRow(); more; more = RowSource_->NextRow())
    Values.push_back(fieldNo >= 0 ? rows->GetDataAsVariant(fieldNo) : plat::Null());
}

void TZelQueryProviderItem::ForgetChild(TZelQueryProviderItem* Child) {
  const auto it = std::find(Children_.begin(), Children_.end(), Child);
  if (it == Children_.end()) return;
  Children_.erase(it);
  ChildrenReleased_ = true;
}

bool TZelQueryProviderItem::Prepare() {
  // The parsed trees point at the children's row providers.
  PLAT_ASSERT(!ChildrenReleased_, "The statement's subqueries were released; validate it again");
  switch (WhereOnly_ ? zsSQLSelect : Engine_->GetSQLStatementType()) {
    case zsSQLSelect:
      // A correlated subquery is planned when it is read, with the values
      // of the outer row.
      if (!IsCorrelated_ && !PreparePlan()) return false;
      break;
    case zsSQLInsert:
    case zsSQLDelete:
    case zsSQLUpdate:
    case zsSchemaManipulation:
      break;
    default:
      return Fail("Unrecognised SQL statement type");
  }
  // The rows an UPDATE or DELETE changes are chosen when it runs, inside its
  // transaction: choosing them here too would read the index twice.
  const bool rowsChosenAtRun = !WhereOnly_ && (Engine_->GetSQLStatementType() == zsSQLDelete ||
                                               Engine_->GetSQLStatementType() == zsSQLUpdate);
  for (TZelQueryProviderItem* child : Children_)
    if (!(rowsChosenAtRun && child->WhereOnly_) && !child->Prepare()) return false;
  return true;
}

bool TZelQueryProviderItem::PreparePlan() {
  // Planning opens the tables and samples their indexes.
  TTableReadHold hold(Provider_.Database());
  ++PlansMade_;
  auto* kept = dynamic_cast<TZelPlanRowSource*>(RowSource_.get());
  plat::TParams* params = Provider_.Params();
  // A tree the last run only read is what a new clone bound now would be,
  // but for the parameters' values and types.
  if (WhereAsBound_ && kept != nullptr && kept->TakesWhereAsIs() && params != nullptr) {
    for (const auto& [node, name] : WhereParams_) BindNode(*node, *params->ParamByName(name));
  } else {
    WhereAsBound_ = false;
    WhereParams_.clear();
    WhereExpr_.reset();
    if (TZelExpr* where = Engine_->WhereParser().Expr(); where != nullptr && where->FirstNode() != nullptr) {
      WhereExpr_ = std::make_unique<TZelExpr>();
      WhereExpr_->CloneFromTree(where->FirstNode());
      if (IsCorrelated_) ResetOuterFieldRefs(WhereExpr_.get());
      // A SELECT's own tree is bound by its parameters' names alone, so it
      // can be bound again in place (an INSERT or UPDATE binds its values
      // instead, a correlated tree takes the outer row's too).
      if (Engine_->GetSQLStatementType() == zsSQLSelect && !IsCorrelated_ && params != nullptr) {
        BindExprParams(WhereExpr_.get(), &WhereParams_);
        WhereAsBound_ = true;
      } else {
        BindParams(WhereExpr_.get());
      }
    }
  }
  // Until the plan is known to leave the tree as it is.
  const bool bound = std::exchange(WhereAsBound_, false);
  BindFromParams();
  if (kept != nullptr) {
    try {
      if (kept->Rebind(*this)) {
        WhereAsBound_ = bound && kept->TakesWhereAsIs();
        return true;
      }
    } catch (...) {
      DropRowSource();
      throw;
    }
  }
  DropRowSource();
  if (Provider_.RowSourceFactory())
    RowSource_ = Provider_.RowSourceFactory()(*this);
  else
    RowSource_ = std::make_unique<TZelPlanRowSource>(*this);
  return RowSource_ != nullptr;
}

// ---------------------------------------------------------------- results

bool TZelQueryProviderItem::ResultFieldNameUsed(const std::string& Name) const {
  // The column being named is the last one.
  for (int32_t j = 0; j + 1 < ResultFields_->Count(); ++j)
    if (plat::AnsiSameText(ResultFields_->GetItems(j)->FieldName, Name)) return true;
  return false;
}

void TZelQueryProviderItem::DropRowSource() {
  FieldsMadeOver_ = nullptr;
  RowSource_.reset();
}

void TZelQueryProviderItem::CreateResultSetFields(TZelQueryDataset& Dataset) {
  // The same select items over the same open tables come out as they did.
  if (ResultTableCreated_ && FieldsMadeOver_ != nullptr && FieldsMadeOver_ == RowSource_.get())
    return;
  FieldsMadeOver_ = nullptr;
  bool plain = true;
  ResultFields_->Clear();
  if (!ResultTableCreated_) Dataset.FieldDefs().Clear();
  TSelectFields& select = GetSelectResultSetFields();
  TZelExprDataProvider* root = RowSource_->RootProvider();
  for (int32_t i = 0; i < select.Count(); ++i) {
    TSelectFieldItem* item = select.GetItems(i);
    TResultSetField* field = ResultFields_->Add();
    field->SelectItem = item;
    field->DataType = item->DataType;
    // An average is a float whatever it averages.
    if (item->HasAggregateFunction && item->AggFunc == zafAvg && item->AggExprRoot == nullptr)
      field->DataType = plat::ftFloat;
    field->FieldSize = field->DataType == plat::ftString || field->DataType == plat::ftWideString
                           ? item->FieldSize
                           : 0;
    field->SourceField = item->SourceFieldName.empty() ? item->FieldName : item->SourceFieldName;
    if (!item->HasAggregateFunction) {
      if (item->SourceTableItem != nullptr) {
        const TTableNameItem* t = item->SourceTableItem;
        TZelExprDataProvider* provider =
            !t->CorrelationName().empty() ? root->FindProvider(t->CorrelationName()) : nullptr;
        if (provider == nullptr) provider = root->FindProvider(t->TableName());
        PLAT_ASSERT(provider != nullptr, "The result set field data provider could not be found");
        field->DataProvider = provider;
        TInternalFieldItem* source = provider->FindField(nullptr, item->SourceFieldName);
        field->SourceFieldNo = source != nullptr ? source->FieldNo() : -1;
      } else {
        plain = false;
        PLAT_ASSERT(item->ExprRoot != nullptr, "Select field expr root is not assigned");
        field->DataProvider = root;
        field->Evaluator = std::make_unique<TExprEvaluator>();
        field->Evaluator->SetExcludeRelopNulls(true);
        field->Evaluator->SetDBStringCompare(Dataset.GetDBStringCompare());
        field->Evaluator->Prepare(root, item->ExprRoot);
      }
    } else {
      plain = false;
    }
    // Later columns of a taken name get "_1", "_2" ... appended to the name
    // as it stands, so the suffixes add up; a name that would pass the
    // field-name limit starts again from the select name with the attempt
    // number alone. An expression's text is cut to the limit.
    const std::string base = item->FieldName.substr(0, MaxResultFieldNameLength);
    std::string name = base;
    for (int32_t attempt = 1; ResultFieldNameUsed(name); ++attempt) {
      const std::string suffix = "_" + std::to_string(attempt);
      name += suffix;
      if (name.size() > MaxResultFieldNameLength)
        name = base.substr(0, MaxResultFieldNameLength - suffix.size()) + suffix;
    }
    field->FieldName = name;
    if (!ResultTableCreated_)
      Dataset.FieldDefs().Add(name, field->DataType, field->FieldSize, false);
  }
  if (plain) FieldsMadeOver_ = RowSource_.get();
}

std::string TZelQueryProviderItem::GetResultSetFieldNameFromSortKey(const std::string& Key) const {
  if (Key.empty()) return "";
  for (int32_t i = 0; i < ResultFields_->Count(); ++i)
    if (plat::AnsiSameText(ResultFields_->GetItems(i)->FieldName, Key))
      return ResultFields_->GetItems(i)->FieldName;
  std::string table, field = Key;
  const std::size_t dot = Key.find('.');
  if (dot != std::string::npos) {
    table = Key.substr(0, dot);
    field = Key.substr(dot + 1);
  }
  for (int32_t i = 0; i < ResultFields_->Count(); ++i) {
    const TResultSetField* f = ResultFields_->GetItems(i);
    if (!plat::AnsiSameText(f->SourceField, field)) continue;
    if (!table.empty()) {
      const TTableNameItem* t = f->SelectItem != nullptr ? f->SelectItem->SourceTableItem : nullptr;
      if (t == nullptr || (!plat::AnsiSameText(t->TableName(), table) &&
                           !plat::AnsiSameText(t->CorrelationName(), table)))
        continue;
    }
    return f->FieldName;
  }
  return "";
}

void TZelQueryProviderItem::CreateResultSetIndexes(TZelQueryDataset& Dataset) {
  if (ResultTableCreated_) return;
  plat::TIndexDefs& defs = Dataset.IndexDefs();
  defs.Clear();
  std::string fields, desc;
  TOrderByItems& order = Engine_->OrderByItems();
  for (int32_t i = 0; i < order.Count(); ++i) {
    const TOrderByItem* item = order.Items(i);
    std::string name;
    if (item->FieldIndex() > 0 && item->FieldIndex() <= ResultFields_->Count()) {
      name = ResultFields_->GetItems(item->FieldIndex() - 1)->FieldName;
    } else {
      name = GetResultSetFieldNameFromSortKey(item->SortKey());
      PLAT_ASSERT(!name.empty(), ("The result set field could not be found: " + item->SortKey()).c_str());
    }
    fields += (fields.empty() ? "" : ";") + name;
    if (item->Descending()) desc += (desc.empty() ? "" : ";") + name;
  }
  if (!fields.empty()) {
    plat::TIndexDef* def = defs.AddIndexDef();
    def->SetName(ResultOrderByIndexName);
    def->SetFields(fields);
    def->SetDescFields(desc);
  }
  if (GetSelectResultSetFields().ContainsGroupedOutput()) {
    fields.clear();
    for (int32_t i = 0; i < ResultFields_->Count(); ++i)
      if (!ResultFields_->GetItems(i)->IsAggregate())
        fields += (fields.empty() ? "" : ";") + ResultFields_->GetItems(i)->FieldName;
    if (!fields.empty()) {
      plat::TIndexDef* def = defs.AddIndexDef();
      def->SetName(ResultGroupByIndexName);
      def->SetFields(fields);
      def->SetOptions({plat::ixUnique});
    }
  }
  if (Engine_->SelectParser().IsDistinct() || IsDistinctUnionStatement()) {
    fields.clear();
    for (int32_t i = 0; i < ResultFields_->Count(); ++i)
      fields += (fields.empty() ? "" : ";") + ResultFields_->GetItems(i)->FieldName;
    plat::TIndexDef* def = defs.AddIndexDef();
    def->SetName(ResultDistinctIndexName);
    def->SetFields(fields);
  }
}

void TZelQueryProviderItem::PrepareHavingExpr() {
  HavingExpr_.reset();
  TZelExpr* having = Engine_->HavingParser().Expr();
  if (having == nullptr || having->FirstNode() == nullptr) return;
  HavingExpr_ = std::make_unique<TZelExpr>();
  TZelExprNode* root = HavingExpr_->CloneFromTree(having->FirstNode());
  (void)root;
  for (TZelExprNode* node = HavingExpr_->FirstNode(); node != nullptr; node = node->Next()) {
    std::string name;
    if (node->ParserToken()->Token() == zstAggFunc) {
      // An aggregate the select analyser left in place (COUNT(*) among
      // them) is read from the result column written the same way.
      const bool distinct = node->Data().VarType() == plat::varBoolean && node->Data().AsBoolean();
      name = node->ParserToken()->Text() + "(" + (distinct ? "DISTINCT " : "") +
             (node->Args().empty() ? std::string("*") : node->ParserToken()->RawTokenText()) + ")";
    } else if (node->Kind() == enkField) {
      name = plat::VarToStr(node->Data());
    } else {
      continue;
    }
    TResultSetField* field = ResultFields_->FindResultSetField(name);
    if (field == nullptr)
      ZelDatabaseErrorFmt(0x25AD, "TZelQueryProviderItem.PrepareHavingExpr",
                          "Column name in having clause not found: %s", {name});
    node->SetKind(enkField);
    node->SetOperator(zeoFIELD2);
    node->ParserToken()->SetToken(zstUnknown);
    node->TableList()->Clear();
    node->Args().clear();
    node->SetData(plat::Variant(field->FieldName));
    node->SetDataType(field->DataType);
    node->SetDataSize(field->FieldSize);
  }
}

bool TZelQueryProviderItem::CreateResultSet() {
  TZelQueryDataset& ds = *ResultSet_;
  PLAT_ASSERT(RowSource_ != nullptr, "Result set is not assigned");
  // The tables the run reads stay read-locked until it ends.
  TTableReadHold hold(Provider_.Database());
  if (!ResultTableCreated_) {
    // Drawn again when a table of the name came to be since the item was
    // made (another query's).
    if (Provider_.Database()->Connected()) {
      plat::TStringList names;
      Provider_.Database()->GetTableNames(names, true);
      if (ListHas(names, ResultTableName_)) ResultTableName_ = Provider_.NewResultTableName(ID_);
    }
    ds.SetDataBase(Provider_.Database());
    ds.SetTableName(ResultTableName_);
  }
  ds.SetRowSource(RowSource_.get());
  CreateResultSetFields(ds);
  CreateResultSetIndexes(ds);
  TSelectFields& select = GetSelectResultSetFields();
  ResultIsLive_ = RequestLive_ && RowSource_->IsSingleTable() && !select.ContainsAggregateColumns() &&
                  !Engine_->SelectParser().IsDistinct() && !Engine_->HasUnionStatement();
  if (ResultIsLive_ && !ResultTableCreated_) {
    ds.FieldDefs().Add(ResultRecAddrFieldName, plat::ftInteger, 0, false);
    ds.FieldDefs().Add(ResultRecModFlagFieldName, plat::ftInteger, 0, false);
  }
  ds.SetCreateLiveResult(ResultIsLive_);
  ds.PrepareEmptyResultSet(ResultTableCreated_);
  ResultTableCreated_ = true;
  ds.SetMaxRecords(Provider_.MaxRecords());
  if (CreateDefsOnly_) return true;
  // GROUP BY without aggregates forms groups too: its rows are distinct.
  if (select.ContainsAggregateColumns() || select.ContainsGroupedOutput()) {
    ds.PopulateAggregateResultSet(*ResultFields_, select.ContainsGroupedOutput());
    PrepareHavingExpr();
    if (HavingExpr_ != nullptr) ds.ProcessHavingClause(HavingExpr_->FirstNode());
  } else {
    ds.PopulateResultSet(*ResultFields_,
                         Engine_->SelectParser().IsDistinct() || IsDistinctUnionStatement());
  }
  if (Engine_->HasUnionStatement()) return ProcessUnionResultSets();
  if (ResultIsLive_) ds.SetReadOnlyResultFields(*ResultFields_);
  return true;
}

void TZelQueryProviderItem::SetLiveResultBridge(TZelDatasetBridge& Bridge) {
  if (!ResultIsLive_) return;
  const TTableNameItem* source = Engine_->TableList()->Items(0);
  Bridge.CloseBridge();
  if (Bridge.DataBase() == nullptr) Bridge.SetDataBase(Provider_.Database());
  Bridge.SetMemory(source->Memory());
  Bridge.SetTableName(source->TableName());
  Bridge.OpenBridge();
  for (int32_t i = 0; i < Bridge.GetInternalFieldCount(); ++i)
    Bridge.GetInternalField(i)->SetSourceField("-1");
  // Only plain columns write back; computed ones are read-only.
  for (int32_t i = 0; i < ResultFields_->Count(); ++i) {
    const TResultSetField* field = ResultFields_->GetItems(i);
    if (field->IsComputed() || field->SourceFieldNo < 1) continue;
    Bridge.GetInternalField(field->SourceFieldNo - 1)->SetSourceField(field->FieldName);
  }
}

bool TZelQueryProviderItem::ProcessUnionResultSets() {
  const bool distinct = IsDistinctUnionStatement();
  for (TZelQueryProviderItem* child : Children_) {
    if (!child->Engine().IsUnionSubstatement()) continue;
    if (!child->CreateResultSet()) return Fail("Union result set could not be created");
    ResultSet_->InsertDataFromDataset(*ResultFields_, child->ResultSet(), false, distinct);
  }
  return true;
}

// ---------------------------------------------------------------- the provider

TZelQueryProvider::TZelQueryProvider()
    : SQL_(std::make_unique<plat::TStringList>()),
      ErrorList_(std::make_unique<plat::TStringList>()),
      MergedErrors_(std::make_unique<plat::TStringList>()) {}

TZelQueryProvider::~TZelQueryProvider() { DeleteFrom(0); }

std::string TZelQueryProvider::NewResultTableName(int32_t ID) {
  // Result tables are memory tables of the connection: only those and the
  // names of this provider's items not yet made into tables can be taken.
  // (Disk tables live apart, and a "$" name would be a system table there.)
  const auto taken = [&](const std::string& Name) {
    for (const auto& item : Items_)
      if (plat::AnsiSameText(item->ResultTableName(), Name)) return true;
    return Database_ != nullptr && Database_->MemoryTableExists(Name);
  };
  for (;;) {
    const std::string name = "$Q" + Hex(static_cast<uint32_t>(ID), 4) +
                             Hex(static_cast<uint32_t>(plat::Random(0xFFFFFF)), 8);
    if (!taken(name)) return name;
  }
}

TZelQueryProviderItem* TZelQueryProvider::Add() {
  Items_.push_back(std::make_unique<TZelQueryProviderItem>(*this, NextID_++));
  return Items_.back().get();
}

void TZelQueryProvider::DeleteFrom(int32_t Index) {
  while (Count() > Index) {
    TZelQueryProviderItem* gone = Items_.back().get();
    for (int32_t i = 0; i + 1 < Count(); ++i) Items_[static_cast<std::size_t>(i)]->ForgetChild(gone);
    Items_.pop_back();
  }
  if (Items_.empty()) NextID_ = 0;
}

void TZelQueryProvider::SetSQL(const std::string& Text) {
  SQL_->SetText(Text);
  DeleteFrom(0);
}

bool TZelQueryProvider::ValidateSQLOnly() {
  DeleteFrom(0);
  ErrorList_->Clear();
  MergedErrors_->Clear();
  TZelQueryProviderItem* item = Add();
  item->SQL().SetText(SQL_->Text());
  return item->ValidateSQL();
}

bool TZelQueryProvider::ValidateSQL() {
  const bool ok = ValidateSQLOnly();
  if (ok && Params_ != nullptr) Items_[0]->CreateParamList();
  return ok;
}

void TZelQueryProvider::ResetParams() {
  if (Params_ == nullptr || Database_ == nullptr) return;
  if (!ValidateSQL() && !Items_.empty()) Items_[0]->CreateParamList();
}

bool TZelQueryProvider::PreparePlan() { return !Items_.empty() && Items_[0]->Prepare(); }

bool TZelQueryProvider::CreateResultSet() {
  if (Items_.empty()) return false;
  TZelQueryProviderItem& first = *Items_[0];
  first.SetRequestLive(RequestLive_ && Count() == 1);
  first.SetCreateDefsOnly(CreateDefsOnly_);
  bool ok = false;
  try {
    ok = first.CreateResultSet();
  } catch (...) {
    for (int32_t i = Count() - 1; i >= 1; --i) Items_[static_cast<std::size_t>(i)]->DropResultTable();
    throw;
  }
  // The parts' tables go; the parts stay, so that the statement can be
  // planned and built again (a refresh) without being parsed anew.
  for (int32_t i = Count() - 1; i >= 1; --i) Items_[static_cast<std::size_t>(i)]->DropResultTable();
  return ok;
}

TZelSQLStatementType TZelQueryProvider::GetSQLStatementType() const {
  return Items_.empty() ? zsSQLUnknown : Items_[0]->GetSQLStatementType();
}

TZelQueryDataset* TZelQueryProvider::GetResultSet() const {
  return Items_.empty() ? nullptr : &Items_[0]->ResultSet();
}

void TZelQueryProvider::SetLiveResultBridge(TZelDatasetBridge& Bridge) {
  if (Count() == 1) Items_[0]->SetLiveResultBridge(Bridge);
}

bool TZelQueryProvider::GetIsLiveRequest() const {
  return Count() == 1 && Items_[0]->ResultIsLive();
}

int32_t TZelQueryProvider::GetRowsAffected() const {
  if (Items_.empty()) return 0;
  const TZelQueryProviderItem& item = *Items_[0];
  switch (item.GetSQLStatementType()) {
    case zsSQLSelect:
      return item.ResultSet().Active() ? item.ResultSet().GetTotalRecordCount() : 0;
    case zsSQLInsert:
    case zsSQLUpdate:
    case zsSQLDelete:
      return item.ResultSet().GetRowsAffected();
    default:
      return 0;
  }
}

plat::TStringList& TZelQueryProvider::GetErrors() {
  MergedErrors_->Clear();
  const auto addAll = [this](const plat::TStrings& List) {
    for (int32_t i = 0; i < List.Count(); ++i)
      if (!plat::Trim(List.Strings(i)).empty()) MergedErrors_->Add(List.Strings(i));
  };
  addAll(*ErrorList_);
  for (const auto& item : Items_) addAll(item->Errors());
  return *MergedErrors_;
}

std::string TZelQueryProvider::GetErrorsAsText() {
  std::string text;
  plat::TStringList& errors = GetErrors();
  for (int32_t i = 0; i < errors.Count(); ++i) text += errors.Strings(i) + ". ";
  return text;
}

bool TZelQueryProvider::CheckTableList(TTableList& List, bool Report) {
  PLAT_ASSERT(Database_ != nullptr, "The database has not been assigned");
  if (!Database_->Connected()) Database_->SetConnected(true);
  plat::TStringList disk, memory;
  if (!Database_->IsMemoryDatabase()) Database_->GetTableNames(disk, false);
  Database_->GetTableNames(memory, true);
  bool all = true;
  for (int32_t i = 0; i < List.Count(); ++i) {
    TTableNameItem* item = List.Items(i);
    bool found = false;
    if (!item->MemorySpecified() && ListHas(disk, item->TableName())) {
      item->SetMemory(false);
      found = true;
    }
    if (!found && ListHas(memory, item->TableName())) {
      item->SetMemory(true);
      found = true;
    }
    if (!found) {
      // A table made in the memory database can only live in memory.
      if (Database_->IsMemoryDatabase()) item->SetMemory(true);
      all = false;
      if (Report) ErrorList_->Add("Table not found - " + item->TableName());
    }
  }
  return all;
}

void TZelQueryProvider::GetFieldsForTable(const std::string& Name, TInternalFields& Fields,
                                          bool Memory) {
  TZelBaseTable table;
  table.SetDataBase(Database_);
  table.SetMemory(Memory);
  table.SetTableName(Name);
  table.QueryInternalFieldDefs(Fields);
}

}  // namespace zel
