#include "engine/expr/zelMiscParsers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/expr/zelParserUtils.h"

namespace zel {
namespace {

// The tokens of a clause (or of a data type) on one stack.
struct Clause {
  TZelPreParser Pre;
  explicit Clause(const std::string& text) {
    Pre.SetText(text);
    Pre.SetParseSingleStack(true);
    Pre.PreParseTokens();
  }
  TParserStack* Stack() { return Pre.GetSingleStack(); }
};

struct OrderView {
  int32_t index;
  std::string key;
  bool descending;
  bool operator==(const OrderView&) const = default;
};

std::ostream& operator<<(std::ostream& os, const OrderView& v) {
  return os << v.index << " '" << v.key << "' " << (v.descending ? "DESC" : "ASC");
}

TEST(OrderByParser, ItemsKeepTheirWrittenForm) {
  struct Case {
    const char* text;
    std::vector<OrderView> items;
  };
  const Case cases[] = {
      {"2 DESC", {{2, "", true}}},
      {"T.Name", {{0, "T.Name", false}}},
      {"name ASC, 1, salary DESC", {{0, "name", false}, {1, "", false}, {0, "salary", true}}},
      {"UPPER(name) DESC, id", {{0, "UPPER(name)", true}, {0, "id", false}}},
      {"a + b * 2", {{0, "a + b * 2", false}}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Clause clause(c.text);
    TOrderByItems items;
    items.Add();  // cleared by the parse
    TZelOrderByParser parser;
    ASSERT_TRUE(parser.ExecuteOrderBy(items, clause.Stack())) << parser.GetErrorMsg();
    std::vector<OrderView> got;
    for (int32_t i = 0; i < items.Count(); ++i)
      got.push_back(
          {items.Items(i)->FieldIndex(), items.Items(i)->SortKey(), items.Items(i)->Descending()});
    EXPECT_EQ(got, c.items);
  }
}

struct GroupView {
  std::string table, field;
  bool operator==(const GroupView&) const = default;
};

std::ostream& operator<<(std::ostream& os, const GroupView& v) {
  return os << v.table << "." << v.field;
}

TEST(GroupByParser, ReadsQualifiedColumns) {
  Clause clause("a, T.b,c");
  TGroupByItems items;
  TZelGroupByParser parser;
  ASSERT_TRUE(parser.ExecuteGroupBy(items, clause.Stack())) << parser.GetErrorMsg();
  std::vector<GroupView> got;
  for (int32_t i = 0; i < items.Count(); ++i)
    got.push_back({items.Items(i)->TableName(), items.Items(i)->FieldName()});
  EXPECT_EQ(got, (std::vector<GroupView>{{"", "a"}, {"T", "b"}, {"", "c"}}));
}

struct TypeCase {
  const char* text;
  plat::TFieldType type;
  int32_t size;
  int32_t scale;
  bool notNull = false;
};

TEST(DataTypeParser, ReadsTypeSizeScaleAndNotNull) {
  const TypeCase cases[] = {
      {"VARCHAR(20)", plat::ftString, 20, 0},
      {"CHAR", plat::ftString, 1, 0},
      {"CHARACTER (5)", plat::ftString, 5, 0},
      {"INTEGER", plat::ftInteger, 0, 0},
      {"INT NOT NULL", plat::ftInteger, 0, 0, true},
      {"SMALLINT", plat::ftSmallint, 0, 0},
      {"DATE", plat::ftDate, 0, 0},
      {"TIME(3)", plat::ftTime, 3, 0},
      {"TIMESTAMP", plat::ftDateTime, 0, 0},
      {"NUMERIC(10,2)", plat::ftFloat, 10, 2},
      {"DECIMAL(8)", plat::ftFloat, 8, 0},
      {"FLOAT", plat::ftFloat, 0, 0},
      {"BOOLEAN", plat::ftBoolean, 0, 0},
      {"MONEY", plat::ftCurrency, 0, 0},
      {"BLOB", plat::ftBlob, 0, 0},
      {"BLOB(0,1)", plat::ftMemo, 0, 1},
      {"BLOB(10,3)", plat::ftFmtMemo, 10, 3},
      {"BLOB(0,5)", plat::ftGraphic, 0, 5},
      {"BLOB(0,2)", plat::ftBlob, 0, 2},
  };
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(c.text);
    Clause clause(c.text);
    TZelDataTypeParser parser;
    parser.SetAllowConstraints(true);
    ASSERT_TRUE(parser.Execute(TZelParserOptions(), clause.Stack())) << parser.GetErrorMsg();
    EXPECT_EQ(parser.DataType(), c.type);
    EXPECT_EQ(parser.FieldSize(), c.size);
    EXPECT_EQ(parser.Scale(), c.scale);
    EXPECT_EQ(parser.NotNull(), c.notNull);
  }
  TZelDataTypeParser parser;
  EXPECT_FALSE(parser.Execute(TZelParserOptions(), nullptr));
}

// Each message of the three parsers with its position.
TEST(MiscParsers, BadClausesGiveTheirMessageAndPosition) {
  enum Kind { Order, Group, Type };
  struct Case {
    Kind kind;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {Order, "a DESC b", "Order By clause incorrectly terminated Line 1, Character 8. Token 'b'"},
      {Order, "a,", "Order By clause incorrectly terminated Line 1, Character 3. Token ''"},
      {Order, "0", "Order By clause incorrectly terminated Line 1, Character 1. Token '0'"},
      {Order, "1.5 DESC",
       "Order By clause incorrectly terminated Line 1, Character 1. Token '1.5'"},
      {Group, "a,, b", "invalid column name descriptor Line 1, Character 3. Token ','"},
      {Group, ", a", "missing column name descriptor Line 1, Character 1. Token ','"},
      {Group, "a, 1", "missing column name descriptor Line 1, Character 4. Token '1'"},
      {Group, "a,", "missing column name descriptor Line 1, Character 3. Token ''"},
      {Group, "a b", "Group By clause incorrectly terminated Line 1, Character 3. Token 'b'"},
      {Type, "DOUBLE", "Unknown Datatype Line 1, Character 1. Token 'DOUBLE'"},
      {Type, "REAL", "Unknown Datatype Line 1, Character 1. Token 'REAL'"},
      {Type, "AUTOINC", "Data type is invalid Line 1, Character 1. Token 'AUTOINC'"},
      {Type, "VARCHAR(", "Data type length/precision not specified Line 1, Character 9. Token ''"},
      {Type, "VARCHAR(-1)",
       "Data type length/precision not specified Line 1, Character 9. Token '-1'"},
      {Type, "NUMERIC(10,x)", "Data type scale invalid Line 1, Character 12. Token 'x'"},
      {Type, "NUMERIC(10,-2)", "Data type scale invalid Line 1, Character 12. Token '-2'"},
      {Type, "VARCHAR(10", "Missing Right Parenthesis Line 1, Character 11. Token ''"},
      {Type, "INT NOT 5", "Invalid token Line 1, Character 9. Token '5'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Clause clause(c.text);
    std::string message;
    bool ok = true;
    if (c.kind == Order) {
      TOrderByItems items;
      TZelOrderByParser parser;
      ok = parser.ExecuteOrderBy(items, clause.Stack());
      message = parser.GetErrorMsg();
    } else if (c.kind == Group) {
      TGroupByItems items;
      TZelGroupByParser parser;
      ok = parser.ExecuteGroupBy(items, clause.Stack());
      message = parser.GetErrorMsg();
    } else {
      TZelDataTypeParser parser;
      parser.SetAllowConstraints(true);
      ok = parser.Execute(TZelParserOptions(), clause.Stack());
      message = parser.GetErrorMsg();
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(message, c.message);
  }
}

}  // namespace
}  // namespace zel
