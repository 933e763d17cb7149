#include "engine/expr/zelBaseParserExpr.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Exceptions.h"

namespace zel {
namespace {

TParserToken MakeToken(TZelSQLToken kind, const std::string& text) {
  TParserToken token;
  token.SetToken(kind);
  token.SetText(text);
  token.SetRawTokenText(text);
  return token;
}

// a = 1, built as a parser would: leaves first, then the root moved first.
struct SmallTree {
  TParserToken fieldTok = MakeToken(zstFieldName, "a");
  TParserToken opTok = MakeToken(zstCompOperator, "=");
  TParserToken numTok = MakeToken(zstNumber, "1");
  TZelExprNode* field = nullptr;
  TZelExprNode* value = nullptr;
  TZelExprNode* root = nullptr;

  explicit SmallTree(TZelExpr& expr) {
    field = expr.NewFieldNode(enkField, zeoFIELD2, plat::Variant("a"), nullptr, nullptr, &fieldTok,
                              plat::ftInteger, 4);
    value = expr.NewNode(enkConst, zeoCONST2, plat::Variant(1), nullptr, nullptr, &numTok);
    root = expr.NewNode(enkRelOperator, zeoEQ, plat::Variant(), field, value, &opTok);
  }
};

TEST(ZelExpr, NewNodeFillsNodeAndChainsMostRecentFirst) {
  TZelExpr expr;
  expr.SetCaseInsensitiveMatch(true);
  expr.SetPartialStringComparisons(true);
  SmallTree t(expr);

  EXPECT_EQ(expr.FirstNode(), t.root);
  EXPECT_EQ(t.root->Next(), t.value);
  EXPECT_EQ(t.value->Next(), t.field);
  EXPECT_EQ(t.field->Next(), nullptr);
  EXPECT_EQ(expr.GetNodeCount(), 3);

  EXPECT_EQ(t.value->Kind(), enkConst);
  EXPECT_EQ(t.value->Operator(), zeoCONST2);
  EXPECT_EQ(t.value->OriginalOperator(), zeoCONST2);
  EXPECT_EQ(t.value->Data().AsInteger(), 1);
  EXPECT_EQ(t.value->OriginalData().AsInteger(), 1);
  EXPECT_EQ(t.value->DataType(), plat::ftUnknown);
  EXPECT_EQ(t.value->DataSize(), -1);
  EXPECT_EQ(t.value->PartialLength(), -1);
  EXPECT_TRUE(t.value->CaseInsensitiveMatch());
  EXPECT_TRUE(t.value->PartialMatch());
  EXPECT_EQ(t.value->ParserToken()->Text(), "1");
  EXPECT_NE(t.value->ParserToken(), &t.numTok);  // a copy, not the token itself
  EXPECT_EQ(t.field->DataType(), plat::ftInteger);
  EXPECT_EQ(t.field->DataSize(), 4);
  EXPECT_EQ(t.root->Left(), t.field);
  EXPECT_EQ(t.root->Right(), t.value);

  // A later rewrite keeps the original operator and data.
  t.value->SetOperator(zeoFIELD2);
  t.value->SetData(plat::Variant(2));
  EXPECT_EQ(t.value->OriginalOperator(), zeoCONST2);
  EXPECT_EQ(t.value->OriginalData().AsInteger(), 1);

  // A node without a token gets an empty one.
  TZelExprNode* bare = expr.NewNode(enkConst, zeoCONST2, plat::Null(), nullptr, nullptr, nullptr);
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->ParserToken()->Token(), zstUnknown);
}

TEST(ZelExpr, NothingIsMadeAfterAnError) {
  TZelExpr expr;
  SmallTree t(expr);
  expr.SetErrorMsg("Invalid token");
  EXPECT_EQ(expr.NewNode(enkConst, zeoCONST2, plat::Variant(1), nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(expr.NewFieldNode(enkField, zeoFIELD2, plat::Variant("b"), nullptr, nullptr, nullptr,
                              plat::ftString, 10),
            nullptr);
  EXPECT_EQ(expr.GetNodeCount(), 3);
  EXPECT_EQ(expr.FirstNode(), t.root);

  expr.Clear();
  EXPECT_EQ(expr.FirstNode(), nullptr);
  EXPECT_EQ(expr.GetNodeCount(), 0);
}

TEST(ZelExpr, SetAsFirstNodeMovesOnlyChainMembers) {
  TZelExpr expr;
  SmallTree t(expr);
  TZelExpr other;
  TZelExprNode* foreign =
      other.NewNode(enkConst, zeoCONST2, plat::Variant(9), nullptr, nullptr, nullptr);

  for (TZelExprNode* unchanged : {static_cast<TZelExprNode*>(nullptr), t.root, foreign}) {
    expr.SetAsFirstNode(unchanged);
    EXPECT_EQ(expr.FirstNode(), t.root);
    EXPECT_EQ(expr.GetNodeCount(), 3);
  }

  expr.SetAsFirstNode(t.field);  // the last of the chain
  EXPECT_EQ(expr.FirstNode(), t.field);
  EXPECT_EQ(t.field->Next(), t.root);
  EXPECT_EQ(t.root->Next(), t.value);
  EXPECT_EQ(t.value->Next(), nullptr);
  EXPECT_EQ(expr.GetNodeCount(), 3);

  expr.SetAsFirstNode(t.root);  // from the middle
  EXPECT_EQ(expr.FirstNode(), t.root);
  EXPECT_EQ(t.root->Next(), t.field);
  EXPECT_EQ(t.field->Next(), t.value);
  EXPECT_EQ(expr.GetNodeCount(), 3);
}

TEST(ZelExprNode, SetAndConvertDataType) {
  struct Case {
    const char* name;
    plat::Variant data;
    plat::TFieldType type;
    plat::TVarType expectedVarType;
    int32_t expectedSize;
  };
  const Case cases[] = {
      {"string to integer", plat::Variant("12"), plat::ftInteger, plat::varInteger, -1},
      {"string to smallint", plat::Variant("7"), plat::ftSmallint, plat::varInteger, -1},
      {"integer to string", plat::Variant(123), plat::ftString, plat::varString, 3},
      {"integer to boolean", plat::Variant(1), plat::ftBoolean, plat::varBoolean, -1},
      {"string to float", plat::Variant("1.5"), plat::ftFloat, plat::varDouble, -1},
      {"integer to currency", plat::Variant(3), plat::ftCurrency, plat::varCurrency, -1},
      {"float to date", plat::Variant(36906.0), plat::ftDate, plat::varDate, -1},
      {"float to date-time", plat::Variant(36906.5), plat::ftDateTime, plat::varDate, -1},
      {"time leaves value", plat::Variant(0.5), plat::ftTime, plat::varDouble, -1},
      {"blob leaves value", plat::Variant(5), plat::ftBlob, plat::varInteger, -1},
      {"null only types", plat::Null(), plat::ftInteger, plat::varNull, -1},
      {"unknown only types", plat::Variant(), plat::ftString, plat::varEmpty, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZelExpr expr;
    TZelExprNode* node = expr.NewNode(enkConst, zeoCONST2, c.data, nullptr, nullptr, nullptr);
    node->SetAndConvertDataType(c.type);
    EXPECT_EQ(node->DataType(), c.type);
    EXPECT_EQ(node->Data().VarType(), c.expectedVarType);
    EXPECT_EQ(node->DataSize(), c.expectedSize);
  }

  TZelExpr expr;
  TZelExprNode* node =
      expr.NewNode(enkConst, zeoCONST2, plat::Variant("12"), nullptr, nullptr, nullptr);
  node->SetAndConvertDataType(plat::ftInteger);
  EXPECT_EQ(node->Data().AsInteger(), 12);

  // Text that is no number is refused by the variant conversion.
  node = expr.NewNode(enkConst, zeoCONST2, plat::Variant("abc"), nullptr, nullptr, nullptr);
  EXPECT_THROW(node->SetAndConvertDataType(plat::ftInteger), plat::Exception);
}

TEST(ZelExprNode, EquivalenceIgnoresChildrenButNotValues) {
  TZelExpr expr;
  TParserToken num = MakeToken(zstNumber, "1");
  TParserToken str = MakeToken(zstStringLiteral, "1");
  auto make = [&](const plat::Variant& data, const TParserToken* token) {
    return expr.NewNode(enkConst, zeoCONST2, data, nullptr, nullptr, token);
  };
  TZelExprNode* base = make(plat::Variant(1), &num);

  TZelExprNode* otherChildren = make(plat::Variant(1), &num);
  otherChildren->SetLeft(base);
  otherChildren->SetRight(base);
  EXPECT_TRUE(base->AreNodesEquivalent(otherChildren));
  EXPECT_TRUE(otherChildren->AreNodesEquivalent(base));
  EXPECT_FALSE(base->AreNodesEquivalent(nullptr));

  struct Case {
    const char* name;
    TZelExprNode* node;
  };
  TZelExprNode* otherType = make(plat::Variant("1"), &num);  // same value, other variant type
  TZelExprNode* otherValue = make(plat::Variant(2), &num);
  TZelExprNode* otherToken = make(plat::Variant(1), &str);
  TZelExprNode* otherSize = make(plat::Variant(1), &num);
  otherSize->SetDataSize(4);
  TZelExprNode* otherPartial = make(plat::Variant(1), &num);
  otherPartial->SetPartialLength(3);
  TZelExprNode* otherTables = make(plat::Variant(1), &num);
  otherTables->TableList()->Add()->SetTableName("T");
  TZelExprNode* otherTokenArgs = make(plat::Variant(1), &num);
  otherTokenArgs->TokenArgs().push_back(&str);
  TZelExprNode* otherArgs = make(plat::Variant(1), &num);
  otherArgs->Args().push_back(make(plat::Variant(5), &num));
  const Case cases[] = {{"variant type", otherType},         {"value", otherValue},
                        {"token kind", otherToken},          {"data size", otherSize},
                        {"partial length", otherPartial},    {"table list", otherTables},
                        {"token arguments", otherTokenArgs}, {"arguments", otherArgs}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(base->AreNodesEquivalent(c.node));
  }

  // Arguments are compared recursively, table names exactly.
  TZelExprNode* a = make(plat::Variant(1), &num);
  TZelExprNode* b = make(plat::Variant(1), &num);
  a->Args().push_back(make(plat::Variant("x"), &str));
  b->Args().push_back(make(plat::Variant("x"), &str));
  a->TableList()->Add()->SetTableName("Orders");
  b->TableList()->Add()->SetTableName("Orders");
  EXPECT_TRUE(a->AreNodesEquivalent(b));
  b->Args()[0]->SetData(plat::Variant("y"));
  EXPECT_FALSE(a->AreNodesEquivalent(b));
  b->Args()[0]->SetData(plat::Variant("x"));
  b->TableList()->Items(0)->SetTableName("ORDERS");
  EXPECT_FALSE(a->AreNodesEquivalent(b));
}

TEST(ZelExprNode, AssignNodeCopiesAllButNextAndArgs) {
  TZelExpr expr;
  SmallTree t(expr);
  TParserToken extra = MakeToken(zstYear, "YEAR");
  t.root->TokenArgs().push_back(&extra);
  t.root->Args().push_back(t.value);
  t.root->TableList()->Add()->SetTableName("T1");
  TCustomExprNodeDataProvider provider;
  t.root->SetExprNodeDataProvider(&provider);
  t.root->SetPartialLength(5);

  TZelExprNode* copy =
      expr.NewNode(enkUnknown, zeoNOTDEFINED, plat::Variant(), nullptr, nullptr, nullptr);
  TZelExprNode* nextBefore = copy->Next();
  copy->AssignNode(t.root);
  EXPECT_EQ(copy->Next(), nextBefore);
  EXPECT_TRUE(copy->Args().empty());
  EXPECT_EQ(copy->Left(), t.field);
  EXPECT_EQ(copy->Right(), t.value);
  EXPECT_EQ(copy->Operator(), zeoEQ);
  EXPECT_EQ(copy->Kind(), enkRelOperator);
  EXPECT_EQ(copy->PartialLength(), 5);
  ASSERT_EQ(copy->TokenArgs().size(), 1u);
  EXPECT_EQ(copy->TokenArgs()[0], &extra);  // the same token reference
  EXPECT_EQ(copy->ParserToken()->Text(), "=");
  EXPECT_NE(copy->ParserToken(), t.root->ParserToken());
  ASSERT_EQ(copy->TableList()->Count(), 1);
  EXPECT_EQ(copy->TableList()->Items(0)->TableName(), "T1");
  // Each node changes a table list of its own, whichever changes it first.
  TZelExprNode* second =
      expr.NewNode(enkUnknown, zeoNOTDEFINED, plat::Variant(), nullptr, nullptr, nullptr);
  second->AssignNode(t.root);
  second->TableList()->Items(0)->SetTableName("T2");
  t.root->TableList()->Add()->SetTableName("T3");
  EXPECT_EQ(copy->Tables().Count(), 1);
  EXPECT_EQ(copy->Tables().Items(0)->TableName(), "T1");
  ASSERT_EQ(second->Tables().Count(), 1);
  EXPECT_EQ(second->Tables().Items(0)->TableName(), "T2");
  ASSERT_EQ(t.root->Tables().Count(), 2);
  EXPECT_EQ(t.root->Tables().Items(0)->TableName(), "T1");
  t.root->TableList()->Delete(1);
  EXPECT_EQ(copy->ExprNodeDataProvider(), &provider);
  EXPECT_FALSE(provider.PrepareAndOpen());

  t.root->AssignNode(t.root);  // itself: nothing changes
  EXPECT_EQ(t.root->TokenArgs().size(), 1u);
  EXPECT_EQ(t.root->Args().size(), 1u);
}

TEST(ZelExpr, CloneFromTreeIsIndependentOfTheSource) {
  TZelExpr target;
  {
    TZelExpr source;
    SmallTree t(source);
    // A function node whose argument has children of its own.
    TParserToken fn = MakeToken(zstStrFunc, "UPPER");
    TZelExprNode* func =
        source.NewNode(enkFunc, zeoFUNC2, plat::Variant("UPPER"), nullptr, nullptr, &fn);
    func->Args().push_back(t.root);
    source.SetAsFirstNode(func);

    TZelExprNode* rootCopy = target.CloneFromTree(t.root);
    EXPECT_EQ(target.FirstNode(), rootCopy);
    EXPECT_EQ(target.GetNodeCount(), 3);
    TZelExprNode* funcCopy = target.CloneFromTree(func);
    EXPECT_EQ(target.FirstNode(), funcCopy);
    EXPECT_EQ(target.GetNodeCount(), 7);
    EXPECT_NE(funcCopy->Args()[0], t.root);
    EXPECT_TRUE(funcCopy->AreNodesEquivalent(func));
    EXPECT_EQ(target.CloneFromTree(nullptr), nullptr);
  }
  // The source is gone; every node of the copy lives in the target.
  TZelExprNode* funcCopy = target.FirstNode();
  const TZelExprNode* arg = funcCopy->Args()[0];
  EXPECT_EQ(arg->Operator(), zeoEQ);
  EXPECT_EQ(arg->Left()->Data().AsString(), "a");
  EXPECT_EQ(arg->Right()->Data().AsInteger(), 1);
  EXPECT_EQ(target.ExtractParsedText(arg), "a=1");
}

TEST(ZelExprNode, CloneNodeCopiesArgumentsOneLevel) {
  TZelExpr expr;
  SmallTree t(expr);
  t.root->Args().push_back(t.value);
  TZelExprNode* copy = t.root->CloneNode(expr);
  EXPECT_EQ(expr.GetNodeCount(), 5);
  ASSERT_EQ(copy->Args().size(), 1u);
  EXPECT_NE(copy->Args()[0], t.value);
  EXPECT_TRUE(copy->Args()[0]->AreNodesEquivalent(t.value));
  EXPECT_EQ(copy->Left(), t.field);  // children stay references
}

TEST(ZelExpr, TokenSearchResetAndFieldSearch) {
  TZelExpr expr;
  SmallTree t(expr);
  EXPECT_EQ(expr.FindNodeWithToken(zstNumber), t.value);
  EXPECT_TRUE(expr.ExprContainsToken(zstFieldName));
  EXPECT_FALSE(expr.ExprContainsToken(zstParameter));
  EXPECT_EQ(expr.FindNodeWithToken(zstParameter), nullptr);

  EXPECT_TRUE(expr.ExprContainsField("A"));
  EXPECT_FALSE(expr.ExprContainsField("b"));
  EXPECT_FALSE(expr.ExprContainsField("1"));  // a constant is no field

  expr.ResetSpecifiedNodes(zstNumber, zstValue, enkParam, zeoPARAMETER, plat::Variant("p"));
  EXPECT_FALSE(expr.ExprContainsToken(zstNumber));
  EXPECT_EQ(t.value->ParserToken()->Token(), zstValue);
  EXPECT_EQ(t.value->Kind(), enkParam);
  EXPECT_EQ(t.value->Operator(), zeoPARAMETER);
  EXPECT_EQ(t.value->Data().AsString(), "p");
  EXPECT_EQ(t.field->Kind(), enkField);  // other nodes untouched

  EXPECT_EQ(expr.ExtractParsedText(expr.FirstNode()), "a=1");
  EXPECT_EQ(expr.ExtractParsedText(nullptr), "");
}

TEST(ZelExpr, DisplayListsOneLinePerNode) {
  TZelExpr expr;
  SmallTree t(expr);
  t.root->Args().push_back(t.value);
  plat::TStringList lines;
  expr.Display(lines);
  ASSERT_EQ(lines.Count(), 5);  // root, "Start Args", argument, left, right
  EXPECT_EQ(lines.Strings(0).rfind("RelOperator:EQ :: ", 0), 0u);
  EXPECT_NE(lines.Strings(0).find("  -  = :: Unknown - -1"), std::string::npos);
  EXPECT_EQ(lines.Strings(1), "Start Args");
  EXPECT_EQ(lines.Strings(3).rfind("  Field:FIELD2", 0), 0u);
  EXPECT_NE(lines.Strings(3).find("Integer - 4"), std::string::npos);
}

TInternalFieldItem* AddField(TTableNameItem* item, const std::string& name, plat::TFieldType type,
                             int32_t size) {
  TInternalFieldItem* field = item->TableFields()->Add();
  field->SetFieldName(name);
  field->SetDataType(type);
  if (size > 0) field->SetFieldSize(size);
  return field;
}

TEST(TableList, LookupsSearchFromTheLast) {
  TTableList list;
  EXPECT_EQ(list.Last(), nullptr);
  EXPECT_EQ(list.FindTable(""), nullptr);

  TTableNameItem* orders = list.Add();
  orders->SetTableName("Orders");
  orders->SetCorrelationName("o");
  AddField(orders, "Id", plat::ftInteger, 0);
  AddField(orders, "Name", plat::ftString, 21);
  EXPECT_EQ(list.FindTable(""), orders);  // one table: the empty name finds it
  EXPECT_EQ(list.FindTableName(""), orders);

  TTableNameItem* again = list.Add();
  again->SetTableName("ORDERS");
  again->SetCorrelationName("o2");
  AddField(again, "Id", plat::ftInteger, 0);
  EXPECT_EQ(list.Last(), again);

  struct Case {
    const char* name;
    TTableNameItem* found;
  };
  const Case cases[] = {
      {"FindTable empty name on two tables", list.FindTable("")},
      {"FindTable by correlation name", list.FindTable("O")},
      {"FindTable by table name, last wins", list.FindTable("orders")},
      {"FindTableName ignores correlation names", list.FindTableName("o")},
      {"FindTableName last wins", list.FindTableName("Orders")},
      {"both names", list.FindTableAndCorrelationName("orders", "O")},
      {"both names, wrong pair", list.FindTableAndCorrelationName("x", "o")},
      {"field in both, last wins", list.FindTableForField("id")},
      {"field in the first only", list.FindTableForField("NAME")},
      {"unknown field", list.FindTableForField("Other")},
  };
  TTableNameItem* const expected[] = {nullptr, orders,  again, nullptr, again,
                                      orders,  nullptr, again, orders,  nullptr};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(cases[i].found, expected[i]);
  }

  EXPECT_EQ(orders->GetFieldType("name"), plat::ftString);
  EXPECT_EQ(orders->GetFieldType("missing"), plat::ftUnknown);
  EXPECT_EQ(orders->GetFieldSize("Name"), 20);  // what the string can hold
  EXPECT_EQ(orders->GetFieldSize("Id"), 4);
  EXPECT_EQ(orders->GetFieldSize("missing"), 0);
  EXPECT_EQ(list.CheckDatasetField("Id"), nullptr);  // two tables, no dataset
}

TEST(TableList, MergeListsAndAssign) {
  TTableList a;
  TTableNameItem* t1 = a.Add();
  t1->SetTableName("T1");
  t1->SetCorrelationName("x");
  t1->SetMemory(true);
  t1->SetCorrelatedSubqueryID(7);
  AddField(t1, "F", plat::ftInteger, 0);

  TTableList b;
  b.Add()->SetTableName("T2");
  TTableNameItem* sameAsA = b.Add();
  sameAsA->SetTableName("t1");
  sameAsA->SetCorrelationName("X");
  TTableNameItem* otherAlias = b.Add();
  otherAlias->SetTableName("T1");
  otherAlias->SetCorrelationName("y");

  TTableList merged;
  merged.Add()->SetTableName("Dropped");
  merged.MergeLists(&a, &b);
  ASSERT_EQ(merged.Count(), 3);
  EXPECT_EQ(merged.Items(0)->TableName(), "T1");
  EXPECT_TRUE(merged.Items(0)->Memory());
  EXPECT_EQ(merged.Items(0)->CorrelatedSubqueryID(), 7);
  EXPECT_EQ(merged.Items(0)->GetFieldType("f"), plat::ftInteger);
  EXPECT_NE(merged.Items(0)->TableFields(), t1->TableFields());
  EXPECT_EQ(merged.Items(1)->TableName(), "T2");
  EXPECT_EQ(merged.Items(2)->CorrelationName(), "y");

  // Without A the list is B's items alone; merging a list into itself keeps it.
  merged.MergeLists(nullptr, &b);
  ASSERT_EQ(merged.Count(), 3);
  EXPECT_EQ(merged.Items(1)->CorrelationName(), "X");
  merged.MergeLists(&merged, &merged);
  ASSERT_EQ(merged.Count(), 3);
  EXPECT_EQ(merged.Items(2)->CorrelationName(), "y");
}

}  // namespace
}  // namespace zel
