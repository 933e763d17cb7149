#include "platform/db/DB.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DbTestSupport.h"
#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Published.h"

namespace {

using namespace plat;

// Definitions report their errors as EDatabaseError; anything else fails.
std::string ErrorOf(const std::function<void()>& f) {
  return testdb::ErrorOf<EDatabaseError>(f);
}

// Stored table definitions keep field types by ordinal and the engine tests
// ranges of them, so the library's order is pinned here.
TEST(DBEnumerations, FieldTypeOrdinalsAndNames) {
  struct Case {
    TFieldType type;
    int ordinal;
    const char* name;
  };
  const Case cases[] = {
      {ftUnknown, 0, "ftUnknown"},
      {ftString, 1, "ftString"},
      {ftSmallint, 2, "ftSmallint"},
      {ftInteger, 3, "ftInteger"},
      {ftWord, 4, "ftWord"},
      {ftBoolean, 5, "ftBoolean"},
      {ftFloat, 6, "ftFloat"},
      {ftCurrency, 7, "ftCurrency"},
      {ftBCD, 8, "ftBCD"},
      {ftDate, 9, "ftDate"},
      {ftTime, 10, "ftTime"},
      {ftDateTime, 11, "ftDateTime"},
      {ftBytes, 12, "ftBytes"},
      {ftVarBytes, 13, "ftVarBytes"},
      {ftAutoInc, 14, "ftAutoInc"},
      {ftBlob, 15, "ftBlob"},
      {ftMemo, 16, "ftMemo"},
      {ftGraphic, 17, "ftGraphic"},
      {ftFmtMemo, 18, "ftFmtMemo"},
      {ftParadoxOle, 19, "ftParadoxOle"},
      {ftDBaseOle, 20, "ftDBaseOle"},
      {ftTypedBinary, 21, "ftTypedBinary"},
      {ftCursor, 22, "ftCursor"},
      {ftFixedChar, 23, "ftFixedChar"},
      {ftWideString, 24, "ftWideString"},
      {ftLargeint, 25, "ftLargeint"},
      {ftADT, 26, "ftADT"},
      {ftArray, 27, "ftArray"},
      {ftReference, 28, "ftReference"},
      {ftDataSet, 29, "ftDataSet"},
      {ftOraBlob, 30, "ftOraBlob"},
      {ftOraClob, 31, "ftOraClob"},
      {ftVariant, 32, "ftVariant"},
      {ftInterface, 33, "ftInterface"},
      {ftIDispatch, 34, "ftIDispatch"},
      {ftGuid, 35, "ftGuid"},
  };
  EXPECT_EQ(FieldTypeIdents.size(), std::size(cases));
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<int>(c.type), c.ordinal) << c.name;
    EXPECT_EQ(FieldTypeIdents[c.type], c.name);
  }
  // Error texts show the display names.
  EXPECT_EQ(FieldTypeNames[ftSmallint], "SmallInt");
  EXPECT_EQ(FieldTypeNames[ftDBaseOle], "dBaseOle");
  EXPECT_EQ(FieldTypeNames[ftGuid], "Guid");
}

TEST(DBEnumerations, OtherOrdinals) {
  struct Case {
    int actual, expected;
    const char* name;
  };
  const Case cases[] = {
      {dsInactive, 0, "dsInactive"},
      {dsBrowse, 1, "dsBrowse"},
      {dsEdit, 2, "dsEdit"},
      {dsInsert, 3, "dsInsert"},
      {dsSetKey, 4, "dsSetKey"},
      {dsCalcFields, 5, "dsCalcFields"},
      {dsFilter, 6, "dsFilter"},
      {dsNewValue, 7, "dsNewValue"},
      {dsOldValue, 8, "dsOldValue"},
      {dsCurValue, 9, "dsCurValue"},
      {dsBlockRead, 10, "dsBlockRead"},
      {dsInternalCalc, 11, "dsInternalCalc"},
      {ixPrimary, 0, "ixPrimary"},
      {ixUnique, 1, "ixUnique"},
      {ixDescending, 2, "ixDescending"},
      {ixCaseInsensitive, 3, "ixCaseInsensitive"},
      {ixExpression, 4, "ixExpression"},
      {ixNonMaintained, 5, "ixNonMaintained"},
      {loCaseInsensitive, 0, "loCaseInsensitive"},
      {loPartialKey, 1, "loPartialKey"},
      {foCaseInsensitive, 0, "foCaseInsensitive"},
      {foNoPartialCompare, 1, "foNoPartialCompare"},
      {fkData, 0, "fkData"},
      {fkCalculated, 1, "fkCalculated"},
      {fkLookup, 2, "fkLookup"},
      {fkInternalCalc, 3, "fkInternalCalc"},
      {bmRead, 0, "bmRead"},
      {bmWrite, 1, "bmWrite"},
      {bmReadWrite, 2, "bmReadWrite"},
      {usUnmodified, 0, "usUnmodified"},
      {usDeleted, 3, "usDeleted"},
      {gmCurrent, 0, "gmCurrent"},
      {gmPrior, 2, "gmPrior"},
      {grOK, 0, "grOK"},
      {grError, 3, "grError"},
      {faRequired, 2, "faRequired"},
      {ptInput, 1, "ptInput"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected) << c.name;
}

TEST(DBEnumerations, OptionSets) {
  TIndexOptions options{ixPrimary, ixCaseInsensitive};
  EXPECT_TRUE(options.Contains(ixPrimary));
  EXPECT_FALSE(options.Contains(ixUnique));
  EXPECT_EQ(options.Bits(), 0b1001u);
  TLocateOptions locate{loPartialKey};
  EXPECT_TRUE(locate.Contains(loPartialKey));
  EXPECT_FALSE(locate.Contains(loCaseInsensitive));
}

TEST(FieldDefs, AddFindAndProperties) {
  TFieldDefs defs;
  TFieldDef* id = defs.Add("ID", ftAutoInc, 0, true);
  TFieldDef* name = defs.Add("Name", ftString, 30);
  TFieldDef* price = defs.AddFieldDef();
  price->SetName("Price");
  price->SetDataType(ftBCD);
  price->SetSize(2);
  price->SetPrecision(12);

  ASSERT_EQ(defs.Count(), 3);
  EXPECT_EQ(defs[0], id);
  EXPECT_EQ(defs.Items(1), name);
  EXPECT_EQ(defs.Find("name"), name);
  EXPECT_EQ(defs.IndexOf("PRICE"), 2);
  EXPECT_EQ(defs.IndexOf("missing"), -1);

  EXPECT_EQ(name->DataType(), ftString);
  EXPECT_EQ(name->Size(), 30);
  EXPECT_FALSE(name->Required());
  EXPECT_TRUE(id->Required());
  EXPECT_TRUE(id->Attributes().Contains(faRequired));
  EXPECT_EQ(price->Precision(), 12);

  // Field numbers follow positions unless one is given.
  EXPECT_EQ(id->FieldNo(), 1);
  EXPECT_EQ(price->FieldNo(), 3);
  price->SetFieldNo(7);
  EXPECT_EQ(price->FieldNo(), 7);

  // Required is the faRequired attribute, and leaves the others alone.
  name->SetAttributes({faReadonly});
  name->SetRequired(true);
  EXPECT_EQ(name->Attributes(), (TFieldAttributes{faReadonly, faRequired}));
  name->SetRequired(false);
  EXPECT_EQ(name->Attributes(), TFieldAttributes{faReadonly});
}

TEST(FieldDefs, BadNamesAreRefusedAndLeaveNothing) {
  TFieldDefs defs;
  defs.Add("ID", ftInteger);
  TFieldDef* other = defs.Add("Other", ftInteger);
  struct Case {
    std::function<void()> action;
    const char* error;
  };
  const Case cases[] = {
      {[&] { defs.Add("", ftInteger); }, "Field name missing"},
      {[&] { defs.Add("id", ftString, 10); }, "Duplicate name 'id' in TFieldDefs"},
      {[&] { other->SetName("ID"); }, "Duplicate name 'ID' in TFieldDefs"},
      {[&] { defs.Find("Nope"); }, "Field 'Nope' not found"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf(c.action), c.error);
  EXPECT_EQ(defs.Count(), 2);
  EXPECT_EQ(other->Name(), "Other");
  EXPECT_EQ(defs[0]->DataType(), ftInteger);

  // Renaming an item to another case of its own name is no duplicate.
  other->SetName("OTHER");
  EXPECT_EQ(other->Name(), "OTHER");
}

TEST(FieldDefs, AssignCopiesEveryDefinition) {
  TFieldDefs source;
  source.Add("A", ftString, 20, true);
  TFieldDef* b = source.Add("B", ftBCD, 4);
  b->SetPrecision(10);
  b->SetAttributes({faFixed});
  b->SetFieldNo(9);

  TFieldDefs copy;
  copy.Add("Old", ftInteger);
  copy.Assign(&source);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy[0]->Name(), "A");
  EXPECT_EQ(copy[0]->Size(), 20);
  EXPECT_TRUE(copy[0]->Required());
  EXPECT_EQ(copy[1]->DataType(), ftBCD);
  EXPECT_EQ(copy[1]->Precision(), 10);
  EXPECT_EQ(copy[1]->Attributes(), TFieldAttributes{faFixed});
  EXPECT_EQ(copy[1]->FieldNo(), 9);
  EXPECT_EQ(copy.IndexOf("Old"), -1);

  // The copy is independent of its source.
  copy[0]->SetSize(99);
  EXPECT_EQ(source[0]->Size(), 20);

  // One item from another: a name the target collection has already is
  // refused before anything is copied.
  TFieldDef* c = copy.AddFieldDef();
  EXPECT_EQ(ErrorOf([&] { c->Assign(source[1]); }), "Duplicate name 'B' in TFieldDefs");
  EXPECT_EQ(c->Name(), "");
  EXPECT_EQ(c->DataType(), ftUnknown);
  copy[1]->SetName("B2");
  c->Assign(source[1]);
  EXPECT_EQ(c->Name(), "B");
  EXPECT_EQ(c->Precision(), 10);
}

TEST(FieldDefs, ChangesAreReported) {
  TFieldDefs defs;
  int updates = 0;
  defs.OnUpdate = [&](TObject* sender) {
    EXPECT_EQ(sender, &defs);
    ++updates;
  };
  defs.SetUpdated(true);
  defs.Add("A", ftString, 10);
  EXPECT_EQ(updates, 1) << "one report for the whole Add";
  EXPECT_FALSE(defs.Updated());
  defs[0]->SetSize(20);
  EXPECT_EQ(updates, 2);
  defs.BeginUpdate();
  defs[0]->SetSize(30);
  defs[0]->SetRequired(true);
  EXPECT_EQ(updates, 2);
  defs.EndUpdate();
  EXPECT_EQ(updates, 3);
}

class IndexDefsTest : public testing::Test {
 protected:
  void SetUp() override {
    defs.Add("ByA", "A", {ixPrimary, ixUnique});
    defs.Add("ByAB", "A;B", {});
    defs.Add("ByBci", "B", {ixCaseInsensitive});
    TIndexDef* byC = defs.Add("ByC", "C;D", {ixDescending});
    byC->SetCaseInsFields("D");
    byC->SetDescFields("C");
    defs.Add("Expr", "E", {ixExpression});
  }
  TIndexDefs defs;
};

TEST_F(IndexDefsTest, AddFindAndOptions) {
  ASSERT_EQ(defs.Count(), 5);
  TIndexDef* byC = defs.Find("byc");
  EXPECT_EQ(byC, defs[3]);
  EXPECT_EQ(byC->Fields(), "C;D");
  EXPECT_EQ(byC->CaseInsFields(), "D");
  EXPECT_EQ(byC->DescFields(), "C");
  EXPECT_EQ(byC->Options(), TIndexOptions{ixDescending});
  EXPECT_TRUE(defs.Find("ByA")->Options().Contains(ixUnique));
  EXPECT_EQ(defs.IndexOf("EXPR"), 4);

  EXPECT_EQ(ErrorOf([&] { defs.Find("Nope"); }), "Index 'Nope' not found");
  EXPECT_EQ(ErrorOf([&] { defs.Add("bya", "X", {}); }), "Duplicate name 'bya' in TIndexDefs");
  EXPECT_EQ(defs.Count(), 5);
  // An unnamed index (a primary key without a name) is allowed.
  defs.Add("", "Z", {ixPrimary});
  EXPECT_EQ(defs.Count(), 6);
}

TEST_F(IndexDefsTest, CaseInsensitiveParts) {
  struct Case {
    const char* index;
    const char* field;
    bool expected;
  };
  const Case cases[] = {
      {"ByBci", "B", true},                      // the option with no list covers every part
      {"ByBci", "b", true}, {"ByC", "D", true},  // the list names the parts
      {"ByC", "C", false},  {"ByA", "A", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(defs.Find(c.index)->IsCaseInsensitiveField(c.field), c.expected)
        << c.index << " " << c.field;
}

TEST_F(IndexDefsTest, IndexForFields) {
  struct Case {
    const char* fields;
    bool caseInsensitive;
    const char* expected;  // nullptr: none
  };
  const Case cases[] = {
      {"A", false, "ByA"},  // an exact match wins over a longer index
      {"a", false, "ByA"},        {"A;B", false, "ByAB"},
      {" a ; b ", false, "ByAB"}, {"B", false, "ByBci"},
      {"B", true, "ByBci"},       {"C", false, "ByC"},  // leading fields of a longer index
      {"C", true, nullptr},                             // C is compared with case
      {"C;D", true, nullptr},     {"A", true, nullptr},
      {"B;A", false, nullptr},    {"E", false, nullptr},  // expression indexes never match
      {"", false, nullptr},       {"Z", false, nullptr},
  };
  for (const auto& c : cases) {
    TIndexDef* found = defs.GetIndexForFields(c.fields, c.caseInsensitive);
    if (c.expected)
      EXPECT_TRUE(found && found->Name() == c.expected) << c.fields << " " << c.caseInsensitive;
    else
      EXPECT_EQ(found, nullptr) << c.fields << " found " << found->Name();
  }
  EXPECT_EQ(defs.FindIndexForFields("A;B")->Name(), "ByAB");
  EXPECT_EQ(ErrorOf([&] { defs.FindIndexForFields("Z;Y"); }), "No index for fields 'Z;Y'");
}

TEST_F(IndexDefsTest, AssignCopiesEveryDefinition) {
  defs.Find("ByAB")->SetSource("Master");
  TIndexDefs copy;
  copy.Assign(&defs);
  ASSERT_EQ(copy.Count(), defs.Count());
  for (int32_t i = 0; i < defs.Count(); ++i) {
    EXPECT_EQ(copy[i]->Name(), defs[i]->Name());
    EXPECT_EQ(copy[i]->Fields(), defs[i]->Fields());
    EXPECT_EQ(copy[i]->CaseInsFields(), defs[i]->CaseInsFields());
    EXPECT_EQ(copy[i]->DescFields(), defs[i]->DescFields());
    EXPECT_EQ(copy[i]->Options(), defs[i]->Options());
    EXPECT_EQ(copy[i]->Source(), defs[i]->Source());
  }
  copy[0]->SetFields("X");
  EXPECT_EQ(defs[0]->Fields(), "A");
}

// Copies every published property of `from` into `to`, as the component
// text reader does after the writer; returns the names in stream order.
std::vector<std::string> CopyPublished(const TPersistent& from, TPersistent& to) {
  std::vector<std::string> names;
  for (const TPropInfo& info : from.PublishedProperties()) {
    names.push_back(info.Name);
    info.Set(to, info.Get(from));
  }
  return names;
}

// Names of the properties that differ from their defaults (what the writer
// puts in the text).
std::vector<std::string> NonDefault(const TPersistent& object) {
  std::vector<std::string> names;
  for (const TPropInfo& info : object.PublishedProperties())
    if (!info.IsDefault(info.Get(object))) names.push_back(info.Name);
  return names;
}

TEST(DefinitionsStreaming, FieldDefPropertiesCarryEveryValue) {
  TFieldDefs source, target;
  TFieldDef* def = source.Add("Amount", ftBCD, 4, true);
  def->SetPrecision(18);
  def->SetAttributes({faRequired, faFixed});
  TFieldDef* fresh = target.AddFieldDef();
  EXPECT_TRUE(NonDefault(*fresh).empty()) << "a fresh definition writes nothing";

  EXPECT_EQ(CopyPublished(*def, *fresh),
            (std::vector<std::string>{"Name", "Attributes", "DataType", "Precision", "Size"}));
  EXPECT_EQ(fresh->Name(), "Amount");
  EXPECT_EQ(fresh->DataType(), ftBCD);
  EXPECT_EQ(fresh->Size(), 4);
  EXPECT_EQ(fresh->Precision(), 18);
  EXPECT_TRUE(fresh->Required());
  EXPECT_EQ(fresh->Attributes(), (TFieldAttributes{faRequired, faFixed}));

  // Enumeration and set names are the library's.
  const TPropList& props = def->PublishedProperties();
  EXPECT_EQ(props.Find("DataType")->ValueNames[ftWideString], "ftWideString");
  EXPECT_EQ(props.Find("Attributes")->ValueNames[faRequired], "faRequired");
}

TEST(DefinitionsStreaming, IndexDefPropertiesCarryEveryValue) {
  TIndexDefs source, target;
  TIndexDef* def = source.Add("ByName", "Last;First", {ixUnique, ixCaseInsensitive});
  def->SetCaseInsFields("Last");
  def->SetDescFields("First");
  def->SetSource("Other");
  TIndexDef* fresh = target.AddIndexDef();
  EXPECT_TRUE(NonDefault(*fresh).empty());

  EXPECT_EQ(CopyPublished(*def, *fresh),
            (std::vector<std::string>{"Name", "CaseInsFields", "DescFields", "Fields", "Options",
                                      "Source"}));
  EXPECT_EQ(fresh->Name(), "ByName");
  EXPECT_EQ(fresh->Fields(), "Last;First");
  EXPECT_EQ(fresh->CaseInsFields(), "Last");
  EXPECT_EQ(fresh->DescFields(), "First");
  EXPECT_EQ(fresh->Options(), (TIndexOptions{ixUnique, ixCaseInsensitive}));
  EXPECT_EQ(fresh->Source(), "Other");
  EXPECT_EQ(def->PublishedProperties().Find("Options")->ValueNames[ixNonMaintained],
            "ixNonMaintained");
}

// A component that publishes definitions the way a table does.
class TDefsHolder : public TComponent {
 public:
  explicit TDefsHolder(TComponent* owner) : TComponent(owner), fieldDefs_(this), indexDefs_(this) {}
  std::string ClassName() const override { return "TDefsHolder"; }
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  TIndexDefs& IndexDefs() { return indexDefs_; }
  const TPropList& PublishedProperties() const override {
    static const TPropList list = TPublished<TDefsHolder>(TComponent::PublishedProperties())
                                      .Collection("FieldDefs", &TDefsHolder::FieldDefs)
                                      .Collection("IndexDefs", &TDefsHolder::IndexDefs);
    return list;
  }

 private:
  TFieldDefs fieldDefs_;
  TIndexDefs indexDefs_;
};

TEST(DefinitionsStreaming, ComponentTextRoundTrip) {
  TDefsHolder source(nullptr);
  source.SetName("Table1");
  source.FieldDefs().Add("ID", ftAutoInc, 0, true);
  source.FieldDefs().Add("Name", ftString, 40);
  TFieldDef* amount = source.FieldDefs().Add("Amount", ftBCD, 4);
  amount->SetPrecision(18);
  source.FieldDefs().AddFieldDef()->SetName("Bare");
  source.IndexDefs().Add("", "ID", {ixPrimary, ixUnique});
  TIndexDef* byName = source.IndexDefs().Add("ByName", "Name;ID", {ixCaseInsensitive});
  byName->SetDescFields("ID");

  const std::string text = WriteComponentText(source);
  EXPECT_NE(text.find("DataType = ftAutoInc"), std::string::npos) << text;
  EXPECT_NE(text.find("Attributes = [faRequired]"), std::string::npos) << text;
  EXPECT_NE(text.find("Options = [ixPrimary, ixUnique]"), std::string::npos) << text;
  // Defaults are left out: the bare definition writes only its name.
  const size_t bare = text.find("Name = 'Bare'");
  ASSERT_NE(bare, std::string::npos) << text;
  EXPECT_EQ(text.compare(text.find_first_not_of(" \r\n", bare + 13), 3, "end"), 0) << text;

  TDefsHolder target(nullptr);
  target.FieldDefs().Add("Stale", ftInteger);
  ReadComponentText(text, target);
  ASSERT_EQ(target.FieldDefs().Count(), 4);
  for (int32_t i = 0; i < 4; ++i) {
    const TFieldDef* a = source.FieldDefs()[i];
    const TFieldDef* b = target.FieldDefs()[i];
    EXPECT_EQ(b->Name(), a->Name());
    EXPECT_EQ(b->DataType(), a->DataType());
    EXPECT_EQ(b->Size(), a->Size());
    EXPECT_EQ(b->Precision(), a->Precision());
    EXPECT_EQ(b->Attributes(), a->Attributes());
    EXPECT_EQ(b->FieldNo(), i + 1);
  }
  ASSERT_EQ(target.IndexDefs().Count(), 2);
  EXPECT_EQ(target.IndexDefs()[0]->Name(), "");
  EXPECT_EQ(target.IndexDefs()[0]->Options(), (TIndexOptions{ixPrimary, ixUnique}));
  const TIndexDef* read = target.IndexDefs().Find("byname");
  EXPECT_EQ(read->Fields(), "Name;ID");
  EXPECT_EQ(read->DescFields(), "ID");
  EXPECT_EQ(read->Options(), TIndexOptions{ixCaseInsensitive});
}

TEST(DefinitionsStreaming, TextWithDuplicateFieldNamesIsRefused) {
  TDefsHolder source(nullptr);
  source.FieldDefs().Add("A", ftInteger);
  source.FieldDefs().Add("B", ftInteger);
  std::string text = WriteComponentText(source);
  const size_t b = text.find("'B'");
  ASSERT_NE(b, std::string::npos);
  text.replace(b, 3, "'a'");

  TDefsHolder target(nullptr);
  target.FieldDefs().Add("Kept", ftString, 5);
  EXPECT_THROW(ReadComponentText(text, target), EReadError);
  ASSERT_EQ(target.FieldDefs().Count(), 1) << "a failed read changes nothing";
  EXPECT_EQ(target.FieldDefs()[0]->Name(), "Kept");
}

}  // namespace
