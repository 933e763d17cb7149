// Schema statements: the change each form parses into, the messages of bad
// statements with their positions, the checks against a table's fields and
// indexes, and the restructure descriptors the change fills.

#include "engine/expr/zelSchemaParser.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/expr/zelParserUtils.h"
#include "engine/storage/zelDataRestructure.h"

namespace zel {
namespace {

struct Parsed {
  TZelPreParser PreParser;
  TZelSchemaManipulationParser Parser;
  bool Ok = false;
};

void Parse(Parsed& P, const std::string& Sql) {
  P.PreParser.Clear();
  P.Parser.Clear();
  P.PreParser.SetText(Sql);
  P.PreParser.SetParseSingleStack(true);
  P.PreParser.PreParseTokens();
  P.Ok = P.Parser.Execute(TZelParserOptions(), P.PreParser.GetSingleStack());
}

std::string FieldsText(const TInternalFields& Fields) {
  std::string out;
  for (int32_t i = 0; i < Fields.Count(); ++i) {
    const TInternalFieldItem* f = Fields.GetIndex(i);
    out += (i ? "," : "") + f->FieldName();
    if (!f->SourceField().empty()) out += "<" + f->SourceField();
    if (f->DataType() != plat::ftUnknown) out += ":" + std::string(plat::FieldTypeNames[f->DataType()]);
    if (f->DataType() == plat::ftString) out += "(" + std::to_string(f->FieldSize()) + ")";
    if (f->Required()) out += "!";
  }
  return out;
}

std::string Describe(const TZelSchemaManipulationParser& P) {
  std::string out = std::to_string(P.Operation()) + " " + P.TableName();
  if (P.TemporaryTable()) out += " temp";
  if (!P.IndexName().empty()) out += " index " + P.IndexName();
  if (P.Operation() == ddCreateIndex || P.IndexOptions().Contains(plat::ixPrimary))
    out += " [" + P.GetIndexFieldsAsText() + "]";
  if (P.IndexOptions().Contains(plat::ixPrimary)) out += " primary";
  if (P.IndexOptions().Contains(plat::ixUnique)) out += " unique";
  if (P.IndexOptions().Contains(plat::ixDescending)) out += " desc";
  if (P.AddedFields().Count() > 0) out += " add(" + FieldsText(P.AddedFields()) + ")";
  if (P.DroppedFields().Count() > 0) out += " drop(" + FieldsText(P.DroppedFields()) + ")";
  if (P.AlteredFields().Count() > 0) out += " alter(" + FieldsText(P.AlteredFields()) + ")";
  return out;
}

TEST(SchemaParser, StatementsParseIntoTheirChange) {
  const struct {
    const char* sql;
    const char* model;
  } cases[] = {
      {"CREATE TABLE T (A INTEGER NOT NULL, B VARCHAR(20), PRIMARY KEY (A))",
       "1 T [A] primary add(A:Integer!,B:String(20))"},
      {"CREATE TABLE TEMPORARY T (A AUTOINC, D DECIMAL(10,2))", "1 T temp add(A:AutoInc,D:Float)"},
      {"ALTER TABLE T ADD C INTEGER, DROP COLUMN B, ALTER A TO ID, ALTER COLUMN B TYPE CHAR(5)",
       "2 T add(C:Integer) drop(B) alter(ID<A,B:String(5))"},
      {"CREATE UNIQUE DESC INDEX I ON T (A, B)", "3 T index I [A;B] unique desc"},
      {"CREATE ASC INDEX I ON TEMPORARY T ()", "3 T temp index I []"},
      {"DROP TABLE T", "4 T"},
      {"DROP INDEX T I", "5 T index I"},
      {"DROP INDEX T Primary", "5 T [] primary"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    Parsed p;
    Parse(p, c.sql);
    EXPECT_TRUE(p.Ok) << p.Parser.GetErrorMsg();
    EXPECT_EQ(Describe(p.Parser), c.model);
  }
}

TEST(SchemaParser, BadStatementsNameMessageAndPosition) {
  const struct {
    const char* sql;
    const char* message;
  } cases[] = {
      {"CREATE TEMPORARY TABLE T (A INTEGER)",
       "Create statment is invalid Line 1, Character 8. Token 'TEMPORARY'"},
      {"CREATE TABLE T (A DOUBLE)", "Unknown Datatype Line 1, Character 19. Token 'DOUBLE'"},
      {"CREATE TABLE T A INTEGER", "Missing Left Parenthesis Line 1, Character 16. Token 'A'"},
      {"CREATE TABLE T (, A INTEGER)",
       "Column name is missing Line 1, Character 17. Token ','"},
      {"CREATE TABLE T (A INTEGER", "Missing Right Parenthesis Line 1, Character 26. Token ''"},
      {"CREATE INDEX I T (A)", "Missing ON token Line 1, Character 16. Token 'T'"},
      {"CREATE INDEX I ON T (A,,B)", "Column name is missing Line 1, Character 24. Token ','"},
      {"ALTER T ADD C INTEGER", "Alter table statment is invalid Line 1, Character 7. Token 'T'"},
      {"ALTER TABLE T RENAME C", "Invalid token Line 1, Character 15. Token 'RENAME'"},
      {"ALTER TABLE T ALTER C INTEGER", "Invalid token Line 1, Character 23. Token 'INTEGER'"},
      {"ALTER TABLE T ADD C INTEGER,, DROP B",
       "Column name is missing Line 1, Character 29. Token ','"},
      {"DROP VIEW V", "Drop statment is invalid Line 1, Character 6. Token 'VIEW'"},
      {"DROP TABLE T X", "Update statement incorrectly terminated Line 1, Character 14. Token 'X'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    Parsed p;
    Parse(p, c.sql);
    EXPECT_FALSE(p.Ok);
    EXPECT_EQ(p.Parser.GetErrorMsg(), c.message);
  }
}

class SchemaChecks : public ::testing::Test {
 protected:
  SchemaChecks() {
    for (const char* name : {"A", "B", "C"}) {
      TInternalFieldItem* f = Fields.Add();
      f->SetFieldName(name);
      f->SetDataType(plat::ftInteger);
      FieldDefs.AddAndSetFieldDef(name, plat::ftInteger, 0, 0, false, name);
    }
    Indexes.Add("", "A", plat::TIndexOptions{plat::ixPrimary});
    Indexes.Add("IB", "B;A", plat::TIndexOptions());
    IndexDefs.AddAndSetIndexDef("", "A", "", "", plat::TIndexOptions{plat::ixPrimary}, nullptr);
    IndexDefs.AddAndSetIndexDef("IB", "B;A", "", "", plat::TIndexOptions(), nullptr);
  }
  std::string Check(const std::string& Sql) {
    Parse(P, Sql);
    if (!P.Ok) return "parse: " + P.Parser.GetErrorMsg();
    return P.Parser.ValidateTableChanges(Fields, &Indexes) ? "ok" : P.Parser.GetErrorMsg();
  }
  Parsed P;
  TInternalFields Fields;
  plat::TIndexDefs Indexes;
  TRestructureFieldDefs FieldDefs;
  TRestructureIndexDefs IndexDefs;
};

TEST_F(SchemaChecks, ChangesAreCheckedAgainstTheTable) {
  const struct {
    const char* sql;
    const char* result;
  } cases[] = {
      {"ALTER TABLE T ADD D INTEGER, DROP B, ALTER A TO ID", "ok"},
      {"ALTER TABLE T ADD C INTEGER", "Field already exists : C Line 1, Character 19. Token 'C'"},
      {"ALTER TABLE T DROP X", "Field not found : X Line 1, Character 20. Token 'X'"},
      {"ALTER TABLE T ALTER A TO B", "Field already exists : B Line 1, Character 26. Token 'B'"},
      {"ALTER TABLE T ALTER X TO Y", "Field not found : X Line 1, Character 26. Token 'Y'"},
      {"ALTER TABLE T ALTER X TYPE INTEGER", "Field not found : X Line 1, Character 21. Token 'X'"},
      {"CREATE INDEX IC ON T (C)", "ok"},
      {"CREATE UNIQUE INDEX I ON T ()", "No index columns specified"},
      {"CREATE INDEX IC ON T (Z)", "Field not found : Z Line 1, Character 23. Token 'Z'"},
      {"CREATE INDEX IB ON T (C)", "Index already exists"},
      {"DROP INDEX T primary", "ok"},
      {"DROP INDEX T IX", "Index not found"},
      {"CREATE TABLE T (A INTEGER)", "ok"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    std::string result = Check(c.sql);
    // Messages without a token position end at the message.
    if (result.rfind("No index", 0) == 0 || result.rfind("Index ", 0) == 0)
      result = result.substr(0, result.find(" Line "));
    EXPECT_EQ(result, c.result);
  }
}

TEST_F(SchemaChecks, ChangesFillTheRestructureDescriptors) {
  ASSERT_EQ(Check("ALTER TABLE T ADD D VARCHAR(8) NOT NULL, DROP C, ALTER A TO ID, ALTER B TYPE SMALLINT"),
            "ok");
  P.Parser.SetRestructureFieldDefs(FieldDefs);
  P.Parser.SetRestructureIndexDefs(IndexDefs);
  std::string fields;
  for (int32_t i = 0; i < FieldDefs.Count(); ++i) {
    const TRestructureFieldDef* d = FieldDefs.Items(i);
    fields += d->Name() + "<" + d->SourceFieldName() + ":" +
              std::string(plat::FieldTypeNames[d->DataType()]) + (d->Required() ? "!" : "") + " ";
  }
  EXPECT_EQ(fields, "ID<A:Integer B<B:SmallInt D<:String! ");
  EXPECT_EQ(IndexDefs.Items(0)->Fields(), "ID");
  EXPECT_EQ(IndexDefs.Items(1)->Fields(), "B;ID");

  ASSERT_EQ(Check("DROP INDEX T primary"), "ok");
  P.Parser.SetRestructureIndexDefs(IndexDefs);
  ASSERT_EQ(IndexDefs.Count(), 1);
  EXPECT_EQ(IndexDefs.Items(0)->Name(), "IB");

  ASSERT_EQ(Check("CREATE UNIQUE INDEX IC ON T (C, A)"), "ok");
  P.Parser.SetRestructureIndexDefs(IndexDefs);
  ASSERT_EQ(IndexDefs.Count(), 2);
  EXPECT_EQ(IndexDefs.Items(1)->Fields(), "C;A");
  EXPECT_TRUE(IndexDefs.Items(1)->Options().Contains(plat::ixUnique));
}

}  // namespace
}  // namespace zel
