// Whole statements through the parser engine: the model each form parses
// into, and the message, line, character and token of each bad statement.

#include "engine/sql/zelParserEngine.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/rtl/Lists.h"
#include "tests/engine/sql/zelSqlFixture.h"

namespace zel {
namespace {

using testing::ParsedStatement;
using testing::StatementDriver;
using testing::TestCatalogue;

std::string TypeText(plat::TFieldType Type) { return std::string(plat::FieldTypeNames[Type]); }

// A HAVING tree in short: fields as f:name, constants by value (Null as
// "null"), other nodes as (left op right [first argument]).
std::string TreeText(const TZelExprNode* Node) {
  if (Node == nullptr) return "";
  const std::string args =
      Node->Args().empty() ? "" : " [" + TreeText(Node->Args().front()) + "]";
  if (Node->Kind() == enkField) return "f:" + plat::VarToStr(Node->Data()) + args;
  if (Node->Kind() == enkConst)
    return Node->Data().IsNull() ? "null" : plat::VarToStr(Node->Data());
  std::string out = "(" + TreeText(Node->Left()) + " " + ZelExprOperatorName(Node->Operator());
  if (Node->Right() != nullptr) out += " " + TreeText(Node->Right());
  return out + args + ")";
}

// The outer references of a condition: [table.field:type] each.
std::string OuterText(const TZelExpr* Expr) {
  std::string out;
  if (Expr == nullptr) return out;
  for (const TZelExprNode* n = Expr->FirstNode(); n != nullptr; n = n->Next()) {
    if (n->Operator() != zeoOUTERFIELD) continue;
    const TTableNameItem* t = n->TableList()->Count() > 0 ? n->TableList()->Items(0) : nullptr;
    out += " outer[" + (t != nullptr ? t->TableName() : std::string("?")) + "." +
           plat::VarToStr(n->Data()) + ":" + TypeText(n->DataType()) + "]";
  }
  return out;
}

// A compact text of the model: tables, joins, columns, group and order
// items, children.
std::string Describe(const ParsedStatement& S) {
  const TZelParserEngine& e = *S.Engine;
  std::string out;
  switch (e.GetSQLStatementType()) {
    case zsSQLInsert: {
      TZelInsertParser& p = e.InsertParser();
      out = "insert " + p.TableName() + " cols[" + p.Columns().CommaText() + "] values[";
      for (int32_t i = 0; i < p.Values().Count(); ++i) {
        TZelRowConstructorElement* v = p.Values().GetItems(i);
        out += (i ? "," : "");
        out += v->HasExpr() ? "expr" : plat::VarToStr(v->Data());
        if (v->HasParameter()) out += "?";
      }
      out += "]";
      if (p.HasSelectClause()) out += " select";
      break;
    }
    case zsSQLUpdate: {
      TZelUpdateParser& p = e.UpdateParser();
      out = "update " + p.TableName() + (p.CorrelationName().empty() ? "" : " " + p.CorrelationName()) + " set[";
      for (int32_t i = 0; i < p.SetList().Count(); ++i) {
        TZelUpdateRowConstructorElement* v = p.SetList().GetItems(i);
        out += (i ? "," : "") + v->TargetColumnName() + "=" +
               (v->HasExpr() ? "expr" : plat::VarToStr(v->Data()));
      }
      out += "]";
      if (p.HasWhereClause()) out += " where";
      break;
    }
    case zsSchemaManipulation:
      out = "schema " + std::to_string(e.SchemaParser().Operation()) + " " +
            e.TableList()->Items(0)->TableName() +
            (e.TableList()->Items(0)->MemorySpecified() ? " mem" : "");
      break;
    case zsSQLDelete:
      out = "delete " + e.DeleteParser().TableName();
      if (e.DeleteParser().HasWhereClause()) out += " where";
      break;
    default: {
      out = "tables[";
      for (int32_t i = 0; i < e.TableList()->Count(); ++i) {
        const TTableNameItem* t = e.TableList()->Items(i);
        out += (i ? "," : "") + t->TableName();
        if (!t->CorrelationName().empty()) out += " " + t->CorrelationName();
        if (t->MemorySpecified()) out += " mem";
      }
      out += "]";
      for (const auto& node : e.FromParser().Nodes()) {
        if (!node->IsJoin()) continue;
        out += std::string(" ") + ZelTableRefTypeName(node->JoinType());
        if (node->IsNaturalJoin()) out += " natural";
        if (node->Expr()->FirstNode() != nullptr) {
          plat::TStringList lines;
          node->Expr()->Display(lines);
          out += "(" + std::to_string(node->Expr()->GetNodeCount()) + " nodes)";
        }
      }
      if (S.Analyser != nullptr) {
        out += " cols[";
        TSelectFields& f = S.Analyser->SelectFields();
        for (int32_t i = 0; i < f.Count(); ++i) {
          const TSelectFieldItem* c = f.GetItems(i);
          out += (i ? "," : "") + c->FieldName + ":" + TypeText(c->DataType);
          if (c->DataType == plat::ftString) out += "(" + std::to_string(c->FieldSize) + ")";
          if (!c->SourceFieldName.empty() && c->SourceFieldName != c->FieldName)
            out += "<" + c->SourceFieldName;
          if (c->HasAggregateFunction) out += " agg" + std::to_string(c->AggFunc);
        }
        out += "]";
      }
      if (e.SelectParser().IsDistinct()) out += " distinct";
      if (e.WhereParser().Root() != nullptr) out += " where" + OuterText(e.WhereParser().Expr());
      for (int32_t i = 0; i < e.GroupByItems().Count(); ++i)
        out += " group " + e.GroupByItems().Items(i)->FieldName();
      if (e.HavingParser().Root() != nullptr) out += " having " + TreeText(e.HavingParser().Root());
      for (int32_t i = 0; i < e.OrderByItems().Count(); ++i) {
        const TOrderByItem* o = e.OrderByItems().Items(i);
        out += " order " + (o->FieldIndex() > 0 ? std::to_string(o->FieldIndex()) : o->SortKey());
        if (o->Descending()) out += " desc";
      }
      break;
    }
  }
  for (const auto& child : S.Children) out += " {" + Describe(*child) + "}";
  return out;
}

struct GoodCase {
  const char* sql;
  const char* model;
};

// Each statement parses and Text gives its model.
template <std::size_t N>
void ExpectModels(const GoodCase (&Cases)[N], std::string (*Text)(const ParsedStatement&)) {
  TestCatalogue catalogue;
  for (const GoodCase& c : Cases) {
    SCOPED_TRACE(c.sql);
    StatementDriver driver(catalogue);
    auto parsed = driver.Parse(c.sql);
    EXPECT_TRUE(parsed->Ok) << parsed->Error;
    if (parsed->Ok) {
      EXPECT_EQ(Text(*parsed), c.model);
    }
  }
}

TEST(ParserEngine, StatementsParseIntoTheirModel) {
  const GoodCase cases[] = {
      {"SELECT * FROM emp",
       "tables[emp] cols[id:Integer,name:String(21),salary:Float,dept_id:Integer,notes:Memo]"},
      {"SELECT * FROM emp, dept",
       "tables[emp,dept] cols[id:Integer,name:String(21),salary:Float,dept_id:Integer,"
       "notes:Memo,dept_id_1:Integer<dept_id,dname:String(11),id_1:Integer<id]"},
      {"SELECT e.name AS who, salary * 2 dbl FROM emp e",
       "tables[emp e] cols[who:String(21)<name,dbl:Float]"},
      {"SELECT d.* FROM emp e, dept d", "tables[emp e,dept d] cols[dept_id:Integer,dname:String(11),id:Integer]"},
      {"SELECT name FROM emp AS t1, emp t2 WHERE t1.id = t2.id",
       "tables[emp t1,emp t2] cols[name:String(21)] where"},
      {"SELECT name FROM emp JOIN dept ON emp.dept_id = dept.dept_id",
       "tables[emp,dept] trInnerJoin(3 nodes) cols[name:String(21)]"},
      {"SELECT name FROM emp LEFT OUTER JOIN dept ON emp.dept_id = dept.dept_id",
       "tables[emp,dept] trLeftOuterJoin(3 nodes) cols[name:String(21)]"},
      {"SELECT name FROM emp RIGHT JOIN dept ON emp.dept_id = dept.dept_id",
       "tables[emp,dept] trRightOuterJoin(3 nodes) cols[name:String(21)]"},
      {"SELECT name FROM emp FULL JOIN dept USING (dept_id)",
       "tables[emp,dept] trFullOuterJoin(3 nodes) cols[name:String(21)]"},
      {"SELECT name FROM emp INNER JOIN dept USING (dept_id, id)",
       "tables[emp,dept] trInnerJoin(7 nodes) cols[name:String(21)]"},
      {"SELECT name FROM emp NATURAL JOIN dept",
       "tables[emp,dept] trInnerJoin natural(7 nodes) cols[name:String(21)]"},
      {"SELECT city FROM emp CROSS JOIN loc", "tables[emp,loc] trCrossJoin cols[city:String(31)]"},
      {"SELECT city FROM emp UNION JOIN loc", "tables[emp,loc] trUnionJoin cols[city:String(31)]"},
      {"SELECT city FROM (emp JOIN dept ON emp.dept_id = dept.dept_id) LEFT JOIN loc ON 1 = 1",
       "tables[emp,dept,loc] trInnerJoin(3 nodes) trLeftOuterJoin(3 nodes) cols[city:String(31)]"},
      {"SELECT city FROM TEMPORARY loc", "tables[loc mem] cols[city:String(31)]"},
      {"SELECT DISTINCT name FROM emp ORDER BY name DESC",
       "tables[emp] cols[name:String(21)] distinct order name desc"},
      {"SELECT COUNT(*), SUM(salary) * 2 FROM emp",
       "tables[emp] cols[COUNT(*):Integer agg1,SUM(salary) * 2:Float agg3]"},
      {"SELECT dept_id, COUNT(*) FROM emp GROUP BY dept_id HAVING COUNT(*) > 1 ORDER BY 1",
       "tables[emp] cols[dept_id:Integer,COUNT(*):Integer agg1] group dept_id "
       "having (( FUNC2) GT 1) order 1"},
      // An aggregate that is an output column is read from the result row;
      // the fields of its argument become Null constants.
      {"SELECT dept_id, SUM(salary + id) FROM emp GROUP BY dept_id HAVING SUM(salary + id) > 10",
       "tables[emp] cols[dept_id:Integer,SUM(salary + id):Float agg3] group dept_id "
       "having (f:SUM(salary + id) [(null ADD null)] GT 10)"},
      {"SELECT dept_id, MAX(salary), COUNT(DISTINCT salary) FROM emp GROUP BY dept_id "
       "HAVING max(salary) > 1 AND COUNT(DISTINCT salary) < 5",
       "tables[emp] cols[dept_id:Integer,MAX(salary):Float agg4,COUNT(DISTINCT salary):Integer "
       "agg1] group dept_id having ((f:MAX(salary) [null] GT 1) AND (f:COUNT(DISTINCT salary) "
       "[null] LT 5))"},
      {"SELECT name FROM emp WHERE id IN (SELECT id FROM dept WHERE dname = 'x') AND salary > 0",
       "tables[emp] cols[name:String(21)] where {tables[dept] cols[id:Integer] where}"},
      {"SELECT name FROM emp WHERE EXISTS (SELECT * FROM loc) ORDER BY name",
       "tables[emp] cols[name:String(21)] where order name {tables[loc] cols[city:String(31)]}"},
      {"SELECT name FROM emp WHERE id = 1 UNION ALL SELECT dname FROM dept ORDER BY 1",
       "tables[emp] cols[name:String(21)] where order 1 {tables[dept] cols[dname:String(11)]}"},
      {"SELECT name FROM emp UNION SELECT city FROM loc",
       "tables[emp] cols[name:String(21)] {tables[loc] cols[city:String(31)]}"},
      // Correlated subqueries: a field the subquery's tables lack is read
      // from the enclosing statements, nearest first.
      {"SELECT name FROM emp e WHERE EXISTS (SELECT * FROM dept d WHERE d.dept_id = e.dept_id)",
       "tables[emp e] cols[name:String(21)] where {tables[dept d] cols[dept_id:Integer,"
       "dname:String(11),id:Integer] where outer[emp.dept_id:Integer]}"},
      {"SELECT dname FROM dept WHERE id = "
       "(SELECT MAX(id) FROM emp WHERE emp.dept_id = dept.dept_id)",
       "tables[dept] cols[dname:String(11)] where {tables[emp] cols[MAX(id):Integer agg4] "
       "where outer[dept.dept_id:Integer]}"},
      {"SELECT name FROM emp WHERE EXISTS (SELECT * FROM dept WHERE EXISTS "
       "(SELECT * FROM loc WHERE city = name AND dname = city))",
       "tables[emp] cols[name:String(21)] where {tables[dept] cols[dept_id:Integer,"
       "dname:String(11),id:Integer] where {tables[loc] cols[city:String(31)] where "
       "outer[dept.dname:String] outer[emp.name:String]}}"},
      {"DELETE FROM loc WHERE EXISTS (SELECT * FROM emp WHERE name = city)",
       "delete loc where {tables[loc] where {tables[emp] cols[id:Integer,name:String(21),"
       "salary:Float,dept_id:Integer,notes:Memo] where outer[loc.city:String]}}"},
      // FROM inside functions of the select list and comments anywhere.
      {"SELECT SUBSTRING(name FROM 1 FOR 2) s, TRIM(LEADING 'a' FROM name) t /* x */ FROM emp",
       "tables[emp] cols[s:String(20),t:String(20)]"},
      {"SELECT // first\n EXTRACT(YEAR FROM CURRENT_DATE) y /* from */ FROM /* here */ emp "
       "/* tail */",
       "tables[emp] cols[y:Integer]"},
      {"INSERT INTO emp VALUES (1, 'Ann')", "insert emp cols[id,name,salary,dept_id,notes] values[1,Ann]"},
      {"INSERT INTO emp (name, id) VALUES ('Bo', :p * 2)", "insert emp cols[name,id] values[Bo,expr?]"},
      {"INSERT INTO emp (id) VALUES ('7')", "insert emp cols[id] values[7]"},
      {"INSERT INTO emp (id, name) SELECT id, dname FROM dept",
       "insert emp cols[id,name] values[] select {tables[dept] cols[id:Integer,dname:String(11)]}"},
      {"UPDATE emp SET salary = salary + 100, name = NULL WHERE id = 1",
       "update emp set[salary=expr,name=] where {tables[emp] where}"},
      {"UPDATE emp AS e SET e.id = id + 100", "update emp e set[id=expr]"},
      {"DELETE FROM emp", "delete emp"},
      {"CREATE TABLE TEMPORARY t (a INTEGER)", "schema 1 t mem"},
      {"ALTER TABLE emp DROP notes", "schema 2 emp"},
      {"DELETE FROM emp WHERE name LIKE 'A%' AND id IN (SELECT id FROM dept)",
       "delete emp where {tables[emp] where {tables[dept] cols[id:Integer]}}"},
  };
  ExpectModels(cases, Describe);
}

struct BadCase {
  const char* sql;
  const char* message;
};

TEST(ParserEngine, BadStatementsNameMessageAndPosition) {
  const BadCase cases[] = {
      {"SELECT 1", "Failed to parse FROM clause Line 1, Character 9. Token ''"},
      {"SELECT *\nFROM (SELECT * FROM emp)",
       "SELECT statements not supported in FROM clause Line 2, Character 6. Token '('"},
      {"SELECT :p FROM emp", "Parameters are not supported Line 1, Character 8. Token ':'"},
      {"SELECT name, COUNT(*) FROM emp", "Output column must be specified in Group By clause : name"},
      {"SELECT name, id FROM emp ORDER BY 3", "Order by column number is out of range : 3"},
      {"SELECT name, id FROM emp UNION SELECT city FROM loc",
       "Union statement column counts do not match"},
      {"SELECT name FROM emp UNION DELETE",
       "Union statement was incorrectly terminated Line 1, Character 28. Token 'DELETE'"},
      {"SELECT name FROM emp HAVING id > 1", "No group by clause was specified"},
      {"SELECT dept_id, COUNT(*) FROM emp GROUP BY dept_id HAVING SUM(salary) > 1",
       "Fields specified in having clause must appear in the result set: salary"},
      {"SELECT name FROM emp CROSS dept",
       "Invalid cross join syntax - expected CROSS Line 1, Character 32. Token ''"},
      {"SELECT name FROM emp JOIN dept USING dept_id",
       "Missing '(' after USING in a join Line 1, Character 38. Token 'dept_id'"},
      {"SELECT name FROM emp JOIN dept USING (dept_id id)",
       "Invalid column list syntax after USING Line 1, Character 47. Token 'id'"},
      {"SELECT name FROM emp JOIN dept USING (nothing)", "Field not found in join tables: nothing"},
      {"SELECT city FROM emp NATURAL JOIN loc", "Natural join tables have no common column"},
      {"SELECT name FROM emp, ", "Syntax error. Expected table name Line 1, Character 23. Token ''"},
      {"SELECT name, FROM emp", "Select clause incorrectly terminated Line 1, Character 14. Token 'FROM'"},
      {"SELECT x.* FROM emp", "Table not found: x"},
      {"SELECT DISTINCT notes FROM emp",
       "The column is not a valid data type for DISTINCT queries - notes"},
      {"SELECT name FROM emp WHERE id IN (SELECT FROM dept)",
       "Select clause incorrectly terminated Line 1, Character 42. Token 'FROM'"},
      {"SELECT name FROM emp WHERE id IN (SELECT id FROM dept WHERE nothing = 1)",
       "Field not found Line 1, Character 61. Token 'nothing'"},
      {"SELECT name FROM emp e WHERE EXISTS (SELECT * FROM dept WHERE dname = nothing)",
       "Field not found Line 1, Character 71. Token 'nothing'"},
      {"SELECT name FROM emp e WHERE EXISTS (SELECT * FROM dept WHERE dname = e.nothing)",
       "Table and/or field not found (e.nothing) Line 1, Character 73. Token 'nothing'"},
      {"SELECT name FROM emp e WHERE EXISTS (SELECT * FROM dept WHERE dname = x.name)",
       "Table and/or field not found (x.name) Line 1, Character 73. Token 'name'"},
      {"INSERT INTO emp (id, name) VALUES (1)",
       "Number of insert columns does not match number of insert values"},
      {"INSERT INTO emp VALUES (1, 'a', 2, 3, 'n', 6)",
       "Number of insert columns does not match number of insert values"},
      {"INSERT INTO emp (id,,name) VALUES (1, 2)",
       "Column name is missing Line 1, Character 21. Token ','"},
      {"INSERT INTO emp VALUES (x + 1)", "Invalid token Line 1, Character 25. Token 'x'"},
      {"INSERT emp VALUES (1)", "Insert statement syntax is incorrect Line 1, Character 8. Token 'emp'"},
      {"INSERT INTO emp (nothing) VALUES (1)", "Field not found : nothing"},
      {"UPDATE emp SET salary 5", "Missing assignment (=) token Line 1, Character 23. Token '5'"},
      {"UPDATE emp SET dept.id = 1", "Table and/or field not found Line 1, Character 16. Token 'dept'"},
      {"UPDATE emp SET nothing = 1", "Field not found : nothing"},
      {"CREATE TEMPORARY TABLE t (a INTEGER)",
       "Create statment is invalid Line 1, Character 8. Token 'TEMPORARY'"},
      {"CREATE TABLE t (a DOUBLE)", "Unknown Datatype Line 1, Character 19. Token 'DOUBLE'"},
      {"DELETE emp", "Delete statement syntax is incorrect Line 1, Character 8. Token 'emp'"},
      {"DELETE FROM emp WHERE", "Invalid token Line 1, Character 22. Token ''"},
  };
  TestCatalogue catalogue;
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.sql);
    StatementDriver driver(catalogue);
    auto parsed = driver.Parse(c.sql);
    EXPECT_FALSE(parsed->Ok);
    EXPECT_EQ(parsed->Error, c.message);
  }
}

TEST(ParserEngine, ParametersListedOnceInFirstUseOrder) {
  TZelParserEngine engine;
  engine.PreParseSQL("SELECT name FROM emp WHERE id = :B AND salary > :a OR id = :b");
  plat::TStringList list;
  engine.GetParamList(&list);
  EXPECT_EQ(list.CommaText(), "B,a");
}

}  // namespace
}  // namespace zel

namespace zel {
namespace {

// Every nested subquery is a child engine over a copy of the remaining
// tokens, so the nesting is bounded.
TEST(ParserEngine, NestedSubqueriesAreBounded) {
  auto nested = [](int levels) {
    std::string sql = "SELECT name FROM emp WHERE EXISTS (";
    for (int i = 0; i < levels; ++i) sql += "SELECT * FROM loc WHERE EXISTS (";
    sql += "SELECT * FROM loc";
    return sql + std::string(static_cast<std::size_t>(levels) + 1, ')');
  };
  TestCatalogue catalogue;
  StatementDriver driver(catalogue);
  auto shallow = driver.Parse(nested(3));
  EXPECT_TRUE(shallow->Ok) << shallow->Error;
  auto deep = driver.Parse(nested(40));
  EXPECT_FALSE(deep->Ok);
  EXPECT_EQ(deep->Error.rfind("Invalid token", 0), 0u) << deep->Error;
}

}  // namespace
}  // namespace zel

namespace zel {
namespace {

// The diagnostic listings of the FROM and select lists, without the lines of
// the expression trees (whose node names are free to change).
TEST(ParserEngine, DebugDisplayListsTablesJoinsAndColumns) {
  const GoodCase cases[] = {
      {"SELECT * FROM emp e CROSS JOIN loc",
       "StartTables|tbl emp   corr  e|tbl loc   corr  |EndTables|StartJoins|"
       "join trCrossJoin   inner  loc outer emp|EndJoins|StartTree|  emp : text - trTableName|"
       " : text - trCrossJoin|  loc : text - trTableName|EndTree|Column Group|"
       "Output all from - |Start Expr|End Expr"},
      {"SELECT d.*, name AS n FROM emp, dept d",
       "StartTables|tbl emp   corr  |tbl dept   corr  d|EndTables|StartJoins|EndJoins|StartTree|"
       "emp : text - trTableName|dept : text - trTableName|EndTree|Column Group|"
       "Output all from - d|Start Expr|End Expr|Derived Column|RawColumnName - name|Start Expr|"
       "End Expr"},
      {"SELECT COUNT(*), MAX(e.salary) FROM emp e",
       "StartTables|tbl emp   corr  e|EndTables|StartJoins|EndJoins|StartTree|"
       "emp : text - trTableName|EndTree|Agg Func|Func - COUNT :: |Start Expr|End Expr|Agg Func|"
       "Func - MAX :: |Start Expr|End Expr"},
  };
  ExpectModels(cases, [](const ParsedStatement& S) {
    plat::TStringList lines;
    S.Engine->FromParser().DebugDisplay(lines);
    S.Engine->SelectParser().DebugDisplay(lines);
    std::string text;
    for (int32_t i = 0; i < lines.Count(); ++i) {
      const std::string& line = lines.Strings(i);
      if (line.find("  -  ") != std::string::npos || line.find(" Args") != std::string::npos)
        continue;
      text += (text.empty() ? "" : "|") + line;
    }
    return text;
  });
}

}  // namespace
}  // namespace zel
