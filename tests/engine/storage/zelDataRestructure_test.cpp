#include "engine/storage/zelDataRestructure.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/storage/zelCommonError.h"
#include "platform/db/DB.h"

namespace zel {
namespace {

using plat::TFieldType;

std::vector<std::string> Lines(const plat::TStrings& List) {
  std::vector<std::string> lines;
  for (int32_t i = 0; i < List.Count(); ++i) lines.push_back(List.Strings(i));
  return lines;
}

// A table's current fields: ID integer (required), Name string 20, Price
// float, Notes memo.
void FillCurrentFields(plat::TFieldDefs& Defs) {
  Defs.Add("ID", plat::ftInteger, 0, true);
  Defs.Add("Name", plat::ftString, 20);
  Defs.Add("Price", plat::ftFloat);
  Defs.Add("Notes", plat::ftMemo);
}

TEST(FieldTypeChangeLosesData, TypeRule) {
  using namespace plat;
  struct Case {
    TFieldType to, from;
    bool lost;
  };
  const Case cases[] = {
      {ftBoolean, ftInteger, true},   {ftBoolean, ftBoolean, false},
      {ftSmallint, ftInteger, true},  {ftWord, ftSmallint, false},
      {ftSmallint, ftBoolean, false}, {ftInteger, ftFloat, true},
      {ftAutoInc, ftDate, true},      {ftInteger, ftDateTime, false},
      {ftInteger, ftSmallint, false}, {ftCurrency, ftFloat, true},
      {ftBCD, ftDateTime, true},      {ftCurrency, ftInteger, false},
      {ftMemo, ftString, true},       {ftBlob, ftGraphic, false},
      {ftString, ftInteger, true},    {ftWideString, ftString, false},
      {ftFloat, ftInteger, false},    {ftDateTime, ftDate, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FieldTypeChangeLosesData(c.to, c.from), c.lost)
        << FieldTypeIdents[c.to] << " <- " << FieldTypeIdents[c.from];
  }
}

TEST(RestructureFieldDefs, ClassifiesEachChange) {
  struct Case {
    const char* what;
    std::function<void(TRestructureFieldDefs&)> change;
    std::vector<TDefChangeType> items;
    TDefChangeType overall;
  };
  const Case cases[] = {
      {"unchanged",
       [](TRestructureFieldDefs&) {},
       {dcNoChange, dcNoChange, dcNoChange, dcNoChange},
       dcNoChange},
      {"rename",
       [](TRestructureFieldDefs& d) { d.Items(1)->SetName("Title"); },
       {dcNoChange, dcDefOnlyChange, dcNoChange, dcNoChange},
       dcDefOnlyChange},
      {"rename in case only",
       [](TRestructureFieldDefs& d) { d.Items(1)->SetName("NAME"); },
       {dcNoChange, dcDefOnlyChange, dcNoChange, dcNoChange},
       dcDefOnlyChange},
      {"required",
       [](TRestructureFieldDefs& d) { d.Items(0)->SetRequired(false); },
       {dcDefOnlyChange, dcNoChange, dcNoChange, dcNoChange},
       dcDefOnlyChange},
      {"shrink string",
       [](TRestructureFieldDefs& d) { d.Items(1)->SetSize(10); },
       {dcNoChange, dcDataLoss, dcNoChange, dcNoChange},
       dcDataLoss},
      {"enlarge string",
       [](TRestructureFieldDefs& d) { d.Items(1)->SetSize(30); },
       {dcNoChange, dcDataChange, dcNoChange, dcNoChange},
       dcDataChange},
      {"integer to string",
       [](TRestructureFieldDefs& d) {
         d.Items(0)->SetDataType(plat::ftString);
         d.Items(0)->SetSize(10);
       },
       {dcDataLoss, dcNoChange, dcNoChange, dcNoChange},
       dcDataLoss},
      {"integer to float",
       [](TRestructureFieldDefs& d) { d.Items(0)->SetDataType(plat::ftFloat); },
       {dcDataChange, dcNoChange, dcNoChange, dcNoChange},
       dcDataChange},
      {"swap positions",
       [](TRestructureFieldDefs& d) { d.SwapDefs(2, 3); },
       {dcNoChange, dcNoChange, dcDefOnlyChange, dcDefOnlyChange},
       dcDefOnlyChange},
      {"add field",
       [](TRestructureFieldDefs& d) {
         d.AddAndSetFieldDef("Qty", plat::ftInteger, 0, 0, false, "");
       },
       {dcNoChange, dcNoChange, dcNoChange, dcNoChange, dcAdded},
       dcAdded},
      // A dropped field loses its values: the whole request is data loss.
      {"drop field",
       [](TRestructureFieldDefs& d) { d.DeleteItem(2); },
       {dcNoChange, dcNoChange, dcDefOnlyChange},
       dcDataLoss},
      {"replace a field by a new one of its name",
       [](TRestructureFieldDefs& d) { d.Items(2)->SetSourceFieldName(""); },
       {dcNoChange, dcNoChange, dcAdded, dcNoChange},
       dcDataLoss},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    plat::TFieldDefs current;
    FillCurrentFields(current);
    TRestructureFieldDefs defs;
    defs.Assign(&current);
    c.change(defs);
    defs.ValidateAgainstOriginalDefs(&current);
    ASSERT_EQ(defs.Count(), static_cast<int32_t>(c.items.size()));
    for (int32_t i = 0; i < defs.Count(); ++i) {
      EXPECT_EQ(defs.Items(i)->ChangeStatus(), c.items[static_cast<size_t>(i)]) << i;
    }
    EXPECT_EQ(defs.ChangeStatus(), c.overall);
  }
}

TEST(RestructureFieldDefs, ChangeLogLines) {
  plat::TFieldDefs current;
  FillCurrentFields(current);
  TRestructureFieldDefs defs;
  defs.Assign(&current);
  plat::TStringList log;
  defs.SetChangeLog(&log);
  defs.Items(1)->SetName("Title");
  defs.DeleteItem(2);
  defs.AddAndSetFieldDef("Qty", plat::ftInteger, 0, 0, false, "");
  defs.ValidateAgainstOriginalDefs(&current);
  const std::vector<std::string> expected = {
      "Field Def: ID status: Unchanged Item",
      "Field Def: Title status: Definition Only Changed",
      "Field Def: Notes status: Definition Only Changed",
      "Field Def: Qty status: New Item",
      "Prior Field Def: Price status: Deleted Item",
      "FieldDefs: Change status is - Data Loss Possible",
  };
  EXPECT_EQ(Lines(log), expected);
  EXPECT_TRUE(defs.CheckIfFieldsDeleted());
}

TEST(RestructureFieldDefs, WithoutCurrentDefinitionsEverythingIsNew) {
  TRestructureFieldDefs defs;
  defs.AddAndSetFieldDef("A", plat::ftInteger, 0, 0, false, "A");
  defs.AddAndSetFieldDef("B", plat::ftString, 10, 0, false, "");
  defs.ValidateAgainstOriginalDefs(nullptr);
  EXPECT_EQ(defs.ChangeStatus(), dcAdded);
  EXPECT_EQ(defs.Items(0)->ChangeStatus(), dcAdded);
  EXPECT_EQ(defs.Items(1)->ChangeStatus(), dcAdded);
  EXPECT_FALSE(defs.CheckIfFieldsDeleted());
}

TEST(RestructureFieldDefs, UnknownSourceFieldChangesNothing) {
  plat::TFieldDefs current;
  FillCurrentFields(current);
  TRestructureFieldDefs defs;
  defs.Assign(&current);
  defs.Items(0)->SetDataType(plat::ftFloat);
  defs.Items(3)->SetSourceFieldName("Missing");
  plat::TStringList log;
  defs.SetChangeLog(&log);
  try {
    defs.ValidateAgainstOriginalDefs(&current);
    FAIL() << "nothing was raised";
  } catch (const EZelDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), 0x2185);
    EXPECT_NE(e.Message().find("Source Def not found"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(defs.Items(0)->ChangeStatus(), dcNoChange);
  EXPECT_EQ(defs.ChangeStatus(), dcNoChange);
  EXPECT_EQ(log.Count(), 0);
}

TEST(RestructureFieldDefs, EditingAndCopying) {
  plat::TFieldDefs current;
  FillCurrentFields(current);
  TRestructureFieldDefs defs;
  defs.Assign(&current);
  EXPECT_EQ(defs.FieldDefs(), &current);
  EXPECT_EQ(defs.Find("price"), defs.Items(2));
  EXPECT_EQ(defs.Find("Qty"), nullptr);
  EXPECT_EQ(defs.FindSourceDef("NAME"), current.Items(1));
  EXPECT_EQ(defs.FindSourceDef("Qty"), nullptr);
  EXPECT_FALSE(defs.CheckIfFieldsDeleted());

  defs.SwapDefs(3, 0);
  EXPECT_EQ(defs.Items(0)->Name(), "Notes");
  EXPECT_EQ(defs.Items(3)->Name(), "ID");
  EXPECT_EQ(defs.Items(1)->Name(), "Name");
  for (auto bad : {std::pair{0, 4}, std::pair{-1, 0}}) {
    EXPECT_THROW(defs.SwapDefs(bad.first, bad.second), plat::Exception);
  }
  defs.Insert(1)->SetName("Inserted");
  EXPECT_EQ(defs.Items(1)->Name(), "Inserted");
  defs.DeleteItem(1);

  // Back to field definitions and into a copy with the settings.
  plat::TFieldDefs out;
  defs.AssignTo(&out);
  ASSERT_EQ(out.Count(), 4);
  EXPECT_EQ(out.Items(3)->Name(), "ID");
  EXPECT_TRUE(out.Items(3)->Required());
  EXPECT_EQ(out.Items(1)->Size(), 20);
  EXPECT_EQ(out.Items(1)->DataType(), plat::ftString);

  plat::TStringList log;
  defs.SetChangeLog(&log);
  defs.SetResetAutoIncValue(true);
  defs.SetAutoIncResetValue(100);
  TRestructureFieldDefs copy;
  copy.Assign(&defs);
  EXPECT_EQ(copy.Count(), 4);
  EXPECT_EQ(copy.Items(0)->SourceFieldName(), "Notes");
  EXPECT_EQ(copy.ChangeLog(), &log);
  EXPECT_EQ(copy.FieldDefs(), &current);
  EXPECT_TRUE(copy.ResetAutoIncValue());
  EXPECT_EQ(copy.AutoIncResetValue(), 100);
}

// Current indexes of the table of FillCurrentFields.
void FillCurrentIndexes(plat::TIndexDefs& Defs) {
  Defs.Add("pk", "ID", {plat::ixPrimary, plat::ixUnique});
  Defs.Add("ixName", "Name;Price", {plat::ixCaseInsensitive})->SetCaseInsFields("Name");
}

TEST(RestructureIndexDefs, ClassifiesEachChange) {
  struct Case {
    const char* what;
    std::function<void(TRestructureFieldDefs&, TRestructureIndexDefs&)> change;
    std::vector<TDefChangeType> items;
    TDefChangeType overall;
    std::vector<std::string> lines;  // the change lines before the status lines
  };
  const Case cases[] = {
      {"unchanged",
       [](TRestructureFieldDefs&, TRestructureIndexDefs&) {},
       {dcNoChange, dcNoChange},
       dcNoChange,
       {}},
      {"index renamed",
       [](TRestructureFieldDefs&, TRestructureIndexDefs& i) { i.Items(1)->SetName("byName"); },
       {dcNoChange, dcDefOnlyChange},
       dcDefOnlyChange,
       {"Index Def: byName - Name changed"}},
      {"options changed",
       [](TRestructureFieldDefs&, TRestructureIndexDefs& i) {
         i.Items(1)->SetOptions({plat::ixUnique});
       },
       {dcNoChange, dcDataChange},
       dcDataChange,
       {"Index Def: ixName - Options or position changed"}},
      {"field renamed everywhere",
       [](TRestructureFieldDefs& f, TRestructureIndexDefs& i) {
         f.Items(1)->SetName("Title");
         i.ReplaceFieldName("name", "Title");
       },
       {dcNoChange, dcNoChange},
       dcNoChange,
       {}},
      {"field list changed",
       [](TRestructureFieldDefs&, TRestructureIndexDefs& i) { i.Items(1)->SetFields("Name"); },
       {dcNoChange, dcDataChange},
       dcDataChange,
       {"Index Def fields changed: ixName from Name;Price to Name"}},
      {"case-insensitive fields changed",
       [](TRestructureFieldDefs&, TRestructureIndexDefs& i) {
         i.Items(1)->SetCaseInsFields("Name;Price");
       },
       {dcNoChange, dcDataChange},
       dcDataChange,
       {"Index Def case insensitive fields changed: ixName from Name to Name;Price"}},
      {"descending fields changed",
       [](TRestructureFieldDefs&, TRestructureIndexDefs& i) { i.Items(0)->SetDescFields("ID"); },
       {dcDataChange, dcNoChange},
       dcDataChange,
       {"Index Def descending fields changed: pk from  to ID"}},
      {"key field changes type",
       [](TRestructureFieldDefs& f, TRestructureIndexDefs&) {
         f.Items(2)->SetDataType(plat::ftInteger);
       },
       {dcNoChange, dcDataChange},
       dcDataChange,
       {"Index Def: ixName - Changed field: Price"}},
      {"new index",
       [](TRestructureFieldDefs&, TRestructureIndexDefs& i) {
         i.AddAndSetIndexDef("ixPrice", "Price", "", "", {}, nullptr);
       },
       {dcNoChange, dcNoChange, dcAdded},
       dcAdded,
       {"New Index Def: ixPrice"}},
      {"index dropped",
       [](TRestructureFieldDefs&, TRestructureIndexDefs& i) { i.DeleteItem(1); },
       {dcNoChange},
       dcDataChange,
       {}},
      {"index moved",
       [](TRestructureFieldDefs&, TRestructureIndexDefs& i) { i.Items(1)->SetIndex(0); },
       {dcDataChange, dcDataChange},
       dcDataChange,
       {"Index Def: ixName - Options or position changed",
        "Index Def: pk - Options or position changed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    plat::TFieldDefs currentFields;
    FillCurrentFields(currentFields);
    plat::TIndexDefs currentIndexes;
    FillCurrentIndexes(currentIndexes);
    TRestructureFieldDefs fields;
    fields.Assign(&currentFields);
    TRestructureIndexDefs indexes;
    indexes.Assign(&currentIndexes);
    plat::TStringList log;
    indexes.SetChangeLog(&log);
    c.change(fields, indexes);
    fields.ValidateAgainstOriginalDefs(&currentFields);
    indexes.ValidateAgainstOriginalDefs(&currentIndexes, fields);
    ASSERT_EQ(indexes.Count(), static_cast<int32_t>(c.items.size()));
    for (int32_t i = 0; i < indexes.Count(); ++i) {
      EXPECT_EQ(indexes.Items(i)->ChangeStatus(), c.items[static_cast<size_t>(i)]) << i;
    }
    EXPECT_EQ(indexes.ChangeStatus(), c.overall);
    std::vector<std::string> changeLines;
    for (const std::string& line : Lines(log)) {
      if (line.find(" status: ") == std::string::npos && line.rfind("IndexDefs:", 0) != 0) {
        changeLines.push_back(line);
      }
    }
    EXPECT_EQ(changeLines, c.lines);
    EXPECT_EQ(Lines(log).back(),
              std::string("IndexDefs: Change status is - ") + DefChangeTypeName(c.overall));
  }
}

TEST(RestructureIndexDefs, StatusAndPriorLines) {
  plat::TFieldDefs currentFields;
  FillCurrentFields(currentFields);
  plat::TIndexDefs currentIndexes;
  FillCurrentIndexes(currentIndexes);
  TRestructureFieldDefs fields;
  fields.Assign(&currentFields);
  TRestructureIndexDefs indexes;
  indexes.Assign(&currentIndexes);
  plat::TStringList log;
  indexes.SetChangeLog(&log);
  indexes.DeleteItem(1);
  indexes.AddAndSetIndexDef("ixPrice", "Price", "", "", {}, nullptr);
  fields.ValidateAgainstOriginalDefs(&currentFields);
  indexes.ValidateAgainstOriginalDefs(&currentIndexes, fields);
  const std::vector<std::string> expected = {
      "Index Def: 'pk' status: Unchanged Item",
      "New Index Def: ixPrice",
      "Index Def: 'ixPrice' status: New Item",
      "Prior Index Def: ixName status: Deleted Item",
      "IndexDefs: Change status is - Data Requirements Changed",
  };
  EXPECT_EQ(Lines(log), expected);
}

TEST(RestructureIndexDefs, IndexOnFieldMissingFromRequestIsRefused) {
  plat::TFieldDefs currentFields;
  FillCurrentFields(currentFields);
  plat::TIndexDefs currentIndexes;
  FillCurrentIndexes(currentIndexes);
  TRestructureFieldDefs fields;
  fields.Assign(&currentFields);
  TRestructureIndexDefs indexes;
  indexes.Assign(&currentIndexes);
  fields.DeleteItem(2);  // Price, still named by ixName
  fields.ValidateAgainstOriginalDefs(&currentFields);
  try {
    indexes.ValidateAgainstOriginalDefs(&currentIndexes, fields);
    FAIL() << "nothing was raised";
  } catch (const plat::Exception& e) {
    EXPECT_EQ(e.Message(),
              "The field 'Price' in index 'ixName' was not found in the table field definitions "
              "- Name;Price");
  }
  EXPECT_EQ(indexes.ChangeStatus(), dcNoChange);
}

TEST(RestructureIndexDefs, NewIndexChecks) {
  struct Case {
    const char* what;
    std::function<void(TRestructureFieldDefs&, TRestructureIndexDefs&)> setup;
    std::string message;  // empty: valid
  };
  auto addStrings = [](TRestructureFieldDefs& f, int n, int32_t size) {
    for (int k = 0; k < n; ++k) {
      f.AddAndSetFieldDef("S" + std::to_string(k), plat::ftString, size, 0, false, "");
    }
  };
  const Case cases[] = {
      {"two primaries, before any other check",
       [](TRestructureFieldDefs&, TRestructureIndexDefs& i) {
         i.AddAndSetIndexDef("a", "Missing", "", "", {plat::ixPrimary}, nullptr);
         i.AddAndSetIndexDef("b", "", "", "", {plat::ixPrimary}, nullptr);
       },
       "Only one primary index is permitted per table"},
      {"no fields",
       [](TRestructureFieldDefs&, TRestructureIndexDefs& i) {
         i.AddAndSetIndexDef("a", "", "", "", {}, nullptr);
       },
       "Field not found"},
      {"unknown field",
       [](TRestructureFieldDefs& f, TRestructureIndexDefs& i) {
         f.AddAndSetFieldDef("A", plat::ftInteger, 0, 0, false, "");
         i.AddAndSetIndexDef("ix", "A;B", "", "", {}, nullptr);
       },
       "The field 'B' in index 'ix' was not found in the table field definitions."},
      {"two strings of 300 bytes",
       [&](TRestructureFieldDefs& f, TRestructureIndexDefs& i) {
         addStrings(f, 2, 300);
         i.AddAndSetIndexDef("ix", "S0;S1", "", "", {}, nullptr);
       },
       "The Index 'ix' with fields 'S0;S1' has exceeded the maximum key size of 500"},
      {"a string of 498 bytes fits exactly",
       [&](TRestructureFieldDefs& f, TRestructureIndexDefs& i) {
         addStrings(f, 1, 498);
         i.AddAndSetIndexDef("ix", "S0", "", "", {}, nullptr);
       },
       ""},
      {"wide strings count twice",
       [](TRestructureFieldDefs& f, TRestructureIndexDefs& i) {
         f.AddAndSetFieldDef("W", plat::ftWideString, 250, 0, false, "");
         i.AddAndSetIndexDef("ix", "W", "", "", {}, nullptr);
       },
       "The Index 'ix' with fields 'W' has exceeded the maximum key size of 500"},
      {"33 fields",
       [](TRestructureFieldDefs& f, TRestructureIndexDefs& i) {
         std::string names;
         for (int k = 0; k < 33; ++k) {
           f.AddAndSetFieldDef("F" + std::to_string(k), plat::ftInteger, 0, 0, false, "");
           names += (k ? ";F" : "F") + std::to_string(k);
         }
         i.AddAndSetIndexDef("ix", names, "", "", {}, nullptr);
       },
       "has exceeded the maximum key field count of 32"},
      {"32 fields",
       [](TRestructureFieldDefs& f, TRestructureIndexDefs& i) {
         std::string names;
         for (int k = 0; k < 32; ++k) {
           f.AddAndSetFieldDef("F" + std::to_string(k), plat::ftInteger, 0, 0, false, "");
           names += (k ? ";F" : "F") + std::to_string(k);
         }
         i.AddAndSetIndexDef("ix", names, "", "", {}, nullptr);
       },
       ""},
      {"memo field",
       [](TRestructureFieldDefs& f, TRestructureIndexDefs& i) {
         f.AddAndSetFieldDef("M", plat::ftMemo, 0, 0, false, "");
         i.AddAndSetIndexDef("ix", "M", "", "", {}, nullptr);
       },
       "cannot be indexed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TRestructureFieldDefs fields;
    TRestructureIndexDefs indexes;
    plat::TStringList log;
    indexes.SetChangeLog(&log);
    c.setup(fields, indexes);
    if (c.message.empty()) {
      EXPECT_NO_THROW(indexes.ValidateNewIndexDefs(fields));
      EXPECT_EQ(Lines(log), std::vector<std::string>{"IndexDefs: Validation OK"});
      continue;
    }
    try {
      indexes.ValidateNewIndexDefs(fields);
      ADD_FAILURE() << "nothing was raised";
    } catch (const EZelDatabaseError& e) {
      EXPECT_EQ(e.ErrorCode(), 0x270C);
      EXPECT_NE(e.Message().find(c.message), std::string::npos) << e.Message();
    }
    EXPECT_EQ(log.Count(), 0);
  }
}

TEST(RestructureIndexDefs, EditingFieldLists) {
  TRestructureIndexDefs indexes;
  indexes.AddAndSetIndexDef("a", "A;B;C", "B", "C;A", {}, nullptr);
  indexes.AddAndSetIndexDef("onlyB", "b", "b", "", {}, nullptr);
  indexes.AddAndSetIndexDef("c", "C", "", "", {plat::ixPrimary}, nullptr);
  EXPECT_FALSE(indexes.CheckForDuplicatePrimaryIndexes());

  indexes.ReplaceFieldName("c", "Cee");
  EXPECT_EQ(indexes.Items(0)->Fields(), "A;B;Cee");
  EXPECT_EQ(indexes.Items(0)->DescFields(), "Cee;A");
  EXPECT_EQ(indexes.Items(2)->Fields(), "Cee");

  indexes.DeleteField("B");
  ASSERT_EQ(indexes.Count(), 2);  // "onlyB" lost its only field
  EXPECT_EQ(indexes.Items(0)->Fields(), "A;Cee");
  EXPECT_EQ(indexes.Items(0)->CaseInsFields(), "");
  EXPECT_EQ(indexes.Find("ONLYB"), nullptr);
  EXPECT_EQ(indexes.Find("C"), indexes.Items(1));

  indexes.Items(0)->SetOptions({plat::ixPrimary});
  EXPECT_TRUE(indexes.CheckForDuplicatePrimaryIndexes());
}

TEST(RestructureIndexDefs, CopiesToAndFromIndexDefs) {
  plat::TIndexDefs current;
  FillCurrentIndexes(current);
  TRestructureIndexDefs indexes;
  indexes.Assign(&current);
  ASSERT_EQ(indexes.Count(), 2);
  EXPECT_EQ(indexes.Items(1)->SourceIndexDef(), current.Items(1));
  EXPECT_EQ(indexes.FindSourceDef(current.Items(0)), indexes.Items(0));
  EXPECT_EQ(indexes.Items(1)->CaseInsFields(), "Name");

  indexes.SetMaximumKeySize(200);
  TRestructureIndexDefs copy;
  copy.Assign(&indexes);
  EXPECT_EQ(copy.MaximumKeySize(), 200);
  EXPECT_EQ(copy.Items(0)->SourceIndexDef(), current.Items(0));

  copy.Items(1)->SetName("renamed");
  plat::TIndexDefs out;
  copy.AssignTo(&out);
  ASSERT_EQ(out.Count(), 2);
  EXPECT_EQ(out.Items(1)->Name(), "renamed");
  EXPECT_EQ(out.Items(1)->Fields(), "Name;Price");
  EXPECT_TRUE(out.Items(0)->Options() == (plat::TIndexOptions{plat::ixPrimary, plat::ixUnique}));
}

}  // namespace
}  // namespace zel
