// Databases and tables through the dataset protocol: one suite run on the
// memory database and on a database file, then what only a file has.
#include "engine/dataset/zelDatabase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <memory>
#include <string>
#include <vector>

#include "../storage/StorageTestSupport.h"
#include "DatabaseSuite.h"
#include "engine/dataset/zelPwDlg.h"
#include "engine/storage/zelCrypt.h"
#include "platform/db/Fields.h"
#include "platform/rtl/ComponentText.h"
#include "platform/rtl/DateTime.h"
#include "support/DatabaseCheck.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using storagetest::ExpectError;

struct TRow {
  std::string Name;
  int32_t Qty;
};

const std::vector<TRow> kRows = {{"pear", 5}, {"Apple", 9}, {"fig", 1}, {"banana", 7}, {"apple2", 3}};

class DatabaseSuite : public datasettest::MemoryOrDiskDatabase {
 protected:
  // A table with a field of every kind and four kinds of index.
  TZelTable& MakeItems() {
    TZelTable& t = NewTable("Items");
    plat::TFieldDefs& f = t.FieldDefs();
    f.Add("ID", plat::ftAutoInc);
    f.Add("Name", plat::ftString, 20);
    f.Add("WName", plat::ftWideString, 10);
    f.Add("Qty", plat::ftInteger);
    f.Add("Price", plat::ftFloat);
    f.Add("Cost", plat::ftCurrency);
    f.Add("Day", plat::ftDate);
    f.Add("At", plat::ftTime);
    f.Add("Stamp", plat::ftDateTime);
    f.Add("Flag", plat::ftBoolean);
    f.Add("Notes", plat::ftMemo);
    f.Add("Data", plat::ftBlob);
    t.IndexDefs().Add("pkID", "ID", {plat::ixPrimary, plat::ixUnique});
    t.IndexDefs().Add("ixName", "Name", {plat::ixUnique, plat::ixCaseInsensitive});
    t.IndexDefs().Add("ixQty", "Qty", {plat::ixDescending});
    t.IndexDefs().Add("ixWName", "WName", {});
    t.CreateTable();
    return t;
  }

  void Fill(TZelTable& T) {
    for (size_t i = 0; i < kRows.size(); ++i) {
      T.Append();
      T.FieldByName("Name")->SetAsString(kRows[i].Name);
      T.FieldByName("WName")->SetAsString("w" + kRows[i].Name);
      T.FieldByName("Qty")->SetAsInteger(kRows[i].Qty);
      T.FieldByName("Price")->SetAsFloat(1.5 * static_cast<double>(i));
      T.FieldByName("Flag")->SetAsBoolean(i % 2 == 0);
      T.FieldByName("Notes")->SetAsString("note of " + kRows[i].Name);
      T.Post();
    }
  }

  std::vector<std::string> Column(TZelTable& T, const char* Field) {
    std::vector<std::string> values;
    for (T.First(); !T.Eof(); T.Next()) values.push_back(T.FieldByName(Field)->AsString());
    return values;
  }
};

TEST_P(DatabaseSuite, RecordsGoInBrowseInEveryOrderAndComeOut) {
  TZelTable& t = MakeItems();
  t.Open();
  Fill(t);
  EXPECT_EQ(t.RecordCount(), 5);
  EXPECT_EQ(t.IndexName(), "pkID");
  EXPECT_EQ(Column(t, "ID"), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
  t.SetIndexName("ixName");
  EXPECT_EQ(Column(t, "Name"),
            (std::vector<std::string>{"Apple", "apple2", "banana", "fig", "pear"}));
  t.SetIndexName("ixQty");
  EXPECT_EQ(Column(t, "Qty"), (std::vector<std::string>{"9", "7", "5", "3", "1"}));
  t.SetIndexFieldNames("WName");
  EXPECT_EQ(t.IndexName(), "ixWName");
  EXPECT_EQ(Column(t, "WName").front(), "wApple");

  // Record numbers follow the index; a record number moves there.
  t.SetIndexName("pkID");
  t.SetRecNo(3);
  EXPECT_EQ(t.RecNo(), 3);
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "fig");
  EXPECT_EQ(t.FieldByName("Notes")->AsString(), "note of fig");
  EXPECT_TRUE(t.FieldByName("Data")->IsNull());
  EXPECT_TRUE(t.FieldByName("Flag")->AsBoolean());

  // Values of every type come back as written.
  t.Edit();
  const plat::TDateTime day = plat::EncodeDate(2024, 2, 29);
  const plat::TDateTime at = plat::EncodeTime(13, 45, 7, 250);
  t.FieldByName("Day")->SetAsDateTime(day + at);
  t.FieldByName("At")->SetAsDateTime(at);
  t.FieldByName("Stamp")->SetAsDateTime(day + at);
  t.FieldByName("Cost")->SetAsFloat(12.34);
  t.FieldByName("WName")->SetAsString("wÄpfel");
  t.FieldByName("Data")->SetAsString(std::string("\0\1\2bytes", 8));
  t.Post();
  const plat::TBookmark fig = t.GetBookmark();
  t.First();
  t.GotoBookmark(fig);
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "fig");
  EXPECT_DOUBLE_EQ(t.FieldByName("Day")->AsDateTime(), day);
  EXPECT_NEAR(t.FieldByName("At")->AsDateTime(), at, 1e-9);
  EXPECT_NEAR(t.FieldByName("Stamp")->AsDateTime(), day + at, 1e-9);
  EXPECT_DOUBLE_EQ(t.FieldByName("Cost")->AsFloat(), 12.34);
  EXPECT_EQ(t.FieldByName("WName")->AsString(), "wÄpfel");
  EXPECT_EQ(t.FieldByName("Data")->AsString(), std::string("\0\1\2bytes", 8));

  // A changed key moves the record in its index.
  t.Edit();
  t.FieldByName("Name")->SetAsString("aaa");
  t.Post();
  t.SetIndexName("ixName");
  t.First();
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "aaa");

  // Deleting takes the record out of every index; its bookmark goes stale.
  t.Delete();
  EXPECT_EQ(t.RecordCount(), 4);
  EXPECT_FALSE(t.BookmarkValid(fig));
  t.SetIndexName("ixQty");
  EXPECT_EQ(Column(t, "Qty"), (std::vector<std::string>{"9", "7", "5", "3"}));
  t.Last();
  t.Delete();
  EXPECT_EQ(t.FieldByName("Qty")->AsInteger(), 5);

  // Emptying starts the logical record numbers again; the counter of the
  // auto-increment field goes on.
  t.EmptyTable();
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_TRUE(t.IsEmpty());
  t.Append();
  t.FieldByName("Name")->SetAsString("again");
  t.Post();
  EXPECT_EQ(t.FieldByName("ID")->AsInteger(), 6);
  EXPECT_EQ(t.RecordCount(), 1);
  t.Close();
}

// IsNull answers from the record the state selects: browsed, edited, new,
// key and calculated records, an emptied table, and the value OnValidate is
// offered (not the record's).
TEST_P(DatabaseSuite, IsNullFollowsTheRecordOfEachState) {
  TZelTable& t = MakeItems();
  t.InitFieldDefs();
  for (int32_t i = 0; i < t.FieldDefs().Count(); ++i) t.FieldDefs().Items(i)->CreateField(&t);
  auto* twice = new plat::TIntegerField(&t);
  twice->SetFieldName("Twice");
  twice->SetCalculated(true);
  twice->SetDataSet(&t);
  t.OnCalcFields = [](plat::TDataSet* D) {
    plat::TField* qty = D->FieldByName("Qty");
    if (!qty->IsNull()) D->FieldByName("Twice")->SetAsInteger(2 * qty->AsInteger());
  };
  t.Open();
  t.Append();
  t.FieldByName("Name")->SetAsString("full");
  t.FieldByName("Qty")->SetAsInteger(9);
  t.FieldByName("Price")->SetAsFloat(0);
  t.FieldByName("Cost")->SetAsFloat(1.25);
  t.FieldByName("Day")->SetAsDateTime(plat::EncodeDate(2024, 1, 2));
  t.FieldByName("Flag")->SetAsBoolean(false);
  t.Post();
  t.Append();
  t.FieldByName("Name")->SetAsString("");
  t.Post();

  // One letter a field: N for Null, v for a value; each agrees with a read
  // of the value.
  const std::vector<const char*> names = {"Name", "Qty", "Price", "Cost", "Day", "Flag", "Twice"};
  const auto nulls = [&] {
    std::string s;
    for (const char* name : names) {
      plat::TField* field = t.FieldByName(name);
      EXPECT_EQ(field->IsNull(), field->AsVariant().IsNull()) << name;
      s += field->IsNull() ? 'N' : 'v';
    }
    return s;
  };
  t.First();
  EXPECT_EQ(nulls(), "vvvvvvv");
  t.Next();
  EXPECT_EQ(nulls(), "vNNNNNN") << "an empty string is a value";
  t.Edit();
  t.FieldByName("Name")->Clear();
  t.FieldByName("Qty")->SetAsInteger(4);
  EXPECT_EQ(nulls(), "NvNNNNv") << "the edited record";
  t.Cancel();
  EXPECT_EQ(nulls(), "vNNNNNN");
  t.Append();
  EXPECT_EQ(nulls(), "NNNNNNN") << "a new record";
  t.Cancel();

  t.SetIndexName("ixQty");
  t.SetKey();
  EXPECT_TRUE(t.FieldByName("Qty")->IsNull()) << "an empty key";
  t.FieldByName("Qty")->SetAsInteger(9);
  EXPECT_FALSE(t.FieldByName("Qty")->IsNull());
  EXPECT_TRUE(t.FieldByName("Twice")->IsNull()) << "a key has no calculated fields";
  EXPECT_TRUE(t.GotoKey());
  EXPECT_EQ(nulls(), "vvvvvvv");

  // OnValidate sees the value being written: Null over a value, a value
  // over Null.
  std::vector<bool> offered;
  t.FieldByName("Price")->OnValidate = [&](plat::TField* F) { offered.push_back(F->IsNull()); };
  t.Edit();
  t.FieldByName("Price")->Clear();
  t.FieldByName("Price")->SetAsFloat(2.5);
  t.Post();
  EXPECT_EQ(offered, (std::vector<bool>{true, false}));
  EXPECT_FALSE(t.FieldByName("Price")->IsNull());

  t.EmptyTable();
  EXPECT_EQ(nulls(), "NNNNNNN") << "no record";
  t.Close();
  EXPECT_TRUE(t.FieldByName("Qty")->IsNull()) << "a closed table";
}

// After a post the cursor stands on the record posted, with its number in
// the current index, and steps to its neighbours there: for a new record, a
// key moved by an edit, and an edit that keeps the key.
TEST_P(DatabaseSuite, APostedRecordIsCurrentWithItsNumberAndNeighbours) {
  TZelTable& t = MakeItems();
  t.Open();
  Fill(t);
  t.SetIndexName("ixName");
  struct TCase {
    bool Insert;
    const char* Name;  // written to Name; null: Qty changes instead
    const char* Expect;
    int32_t RecNo;
    const char* Prior;  // "" for none
    const char* Next;
  };
  const TCase cases[] = {
      {true, "cherry", "cherry", 4, "banana", "fig"},
      {false, "aaa", "aaa", 1, "", "Apple"},
      {false, nullptr, "aaa", 1, "", "Apple"},
      {false, "zz", "zz", 6, "pear", ""},
      {true, "b", "b", 3, "apple2", "banana"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Expect);
    if (c.Insert) {
      t.Append();
    } else {
      t.Edit();
    }
    if (c.Name != nullptr) {
      t.FieldByName("Name")->SetAsString(c.Name);
    } else {
      t.FieldByName("Qty")->SetAsInteger(t.FieldByName("Qty")->AsInteger() + 1);
    }
    t.Post();
    EXPECT_EQ(t.FieldByName("Name")->AsString(), c.Expect);
    EXPECT_EQ(t.RecNo(), c.RecNo);
    t.Next();
    EXPECT_EQ(t.Eof() ? "" : t.FieldByName("Name")->AsString(), c.Next);
    if (!t.Eof()) t.Prior();
    t.Prior();
    EXPECT_EQ(t.Bof() ? "" : t.FieldByName("Name")->AsString(), c.Prior);
    if (!t.Bof()) t.Next();
    EXPECT_EQ(t.FieldByName("Name")->AsString(), c.Expect);
  }
  EXPECT_EQ(Column(t, "Name"),
            (std::vector<std::string>{"Apple", "apple2", "b", "banana", "fig", "pear", "zz"}));
  t.Close();
}

TEST_P(DatabaseSuite, ADuplicateKeyIsRefusedAndNothingIsWritten) {
  TZelTable& t = MakeItems();
  t.Open();
  Fill(t);
  t.Append();
  t.FieldByName("Name")->SetAsString("PEAR");
  ExpectError(0x2601, "ixName", [&] { t.Post(); });
  t.Cancel();
  EXPECT_EQ(t.RecordCount(), 5);
  // An edit that would collide leaves the record as it was.
  t.SetIndexName("ixName");
  t.First();
  t.Edit();
  t.FieldByName("Name")->SetAsString("Fig");
  ExpectError(0x2601, "ixName", [&] { t.Post(); });
  t.Cancel();
  EXPECT_EQ(Column(t, "Name"),
            (std::vector<std::string>{"Apple", "apple2", "banana", "fig", "pear"}));
  // Every index still holds each record once.
  for (const char* index : {"pkID", "ixQty", "ixWName"}) {
    t.SetIndexName(index);
    EXPECT_EQ(t.RecordCount(), 5) << index;
    EXPECT_EQ(Column(t, "Name").size(), 5u) << index;
  }
}

TEST_P(DatabaseSuite, ATableWithoutIndexesReadsInInsertionOrder) {
  TZelTable& t = NewTable("Log");
  t.FieldDefs().Add("Line", plat::ftString, 30);
  t.CreateTable();
  t.SetIndexName("whatever");
  t.Open();
  EXPECT_EQ(t.IndexName(), "");
  for (const char* line : {"zeta", "alpha", "mu"}) t.AppendRecord({plat::Variant(line)});
  EXPECT_EQ(Column(t, "Line"), (std::vector<std::string>{"zeta", "alpha", "mu"}));
  plat::TStringList names;
  t.GetIndexNames(names);
  EXPECT_EQ(names.Count(), 0);
}

TEST_P(DatabaseSuite, DefinitionsAreCheckedBeforeAnythingIsMade) {
  struct TCase {
    const char* What;
    std::string Table;
    plat::TFieldType Type;
    int32_t Size;
    const char* IndexFields;
    int32_t Code;
  };
  const std::vector<TCase> cases = {
      {"41-character name", std::string(41, 'T'), plat::ftInteger, 0, nullptr, 0x2737},
      {"reserved field name", "T1", plat::ftInteger, 0, nullptr, 0x2739},
      {"string of 256", "T2", plat::ftString, 256, nullptr, 0x2586},
      {"index on a memo", "T3", plat::ftMemo, 0, "F", 0x2785},
      {"index on a missing field", "T4", plat::ftInteger, 0, "Nope", 0x2784},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TZelTable& t = NewTable(c.Table);
    t.FieldDefs().Add(c.Code == 0x2739 ? "all" : "F", c.Type, c.Size);
    if (c.IndexFields != nullptr) t.IndexDefs().Add("ix", c.IndexFields, {});
    ExpectError(c.Code, "", [&] { t.CreateTable(); });
    EXPECT_FALSE(t.Exists());
  }
  TZelTable& ok = NewTable(std::string(40, 'T'));
  ok.FieldDefs().Add("F", plat::ftString, 255);
  ok.CreateTable();
  EXPECT_TRUE(ok.Exists());
}

TEST_P(DatabaseSuite, TablesAreListedRenamedAndDeleted) {
  TZelTable& items = MakeItems();
  plat::TStringList indexNames;
  items.GetIndexNames(indexNames);
  EXPECT_EQ(indexNames.CommaText(), "pkID,ixName,ixQty,ixWName");
  items.SetIndexFieldNames("Qty");
  items.Open();
  EXPECT_EQ(items.IndexName(), "ixQty");
  EXPECT_EQ(items.IndexFieldNames(), "Qty");
  ExpectError(0x270D, "", [&] { items.SetIndexName("nope"); });
  items.Close();
  TZelTable& other = NewTable("Orders");
  other.FieldDefs().Add("N", plat::ftInteger);
  other.CreateTable();
  plat::TStringList names;
  Db->GetTableNames(names, !Disk());
  EXPECT_EQ(names.Count(), 2);
  TZelTable& clash = NewTable("ORDERS");
  clash.FieldDefs().Add("N", plat::ftInteger);
  ExpectError(0x3304, "", [&] { clash.CreateTable(); });

  // A table in use is neither deleted nor renamed; nothing changes.
  other.Open();
  ExpectError(0x2745, "", [&] { Db->DeleteTable("Orders", !Disk()); });
  if (Disk()) ExpectError(0x2787, "", [&] { Db->RenameTable("Orders", "Sales"); });
  EXPECT_EQ(Db->GetLocalConnectedUserCount("Orders", !Disk()), 1);
  other.Close();
  EXPECT_EQ(Db->GetLocalConnectedUserCount("Orders", !Disk()), 0);

  if (Disk()) {
    Db->RenameTable("Orders", "Sales");
    ExpectError(0x3304, "", [&] { Db->RenameTable("Sales", "items"); });
    other.SetTableName("Sales");
    other.Open();
    other.AppendRecord({plat::Variant(7)});
    other.Close();
  }
  Db->DeleteTable(Disk() ? "Sales" : "Orders", !Disk());
  names.Clear();
  Db->GetTableNames(names, !Disk());
  ASSERT_EQ(names.Count(), 1);
  EXPECT_EQ(names.Strings(0), "Items");
}

TEST_P(DatabaseSuite, APostReleasesOnlyTheLockItTook) {
  TZelTable& t = MakeItems();
  t.Open();
  t.AppendRecord({plat::Variant(), plat::Variant("one")});
  EXPECT_FALSE(t.Locked());
  t.SetLocked(true);
  t.AppendRecord({plat::Variant(), plat::Variant("two")});
  t.First();
  t.Delete();
  EXPECT_TRUE(t.Locked());
  t.SetLocked(false);
  EXPECT_FALSE(t.Locked());
  EXPECT_EQ(t.RecordCount(), 1);
}

TEST_P(DatabaseSuite, OpeningATableConnectsItsDatabase) {
  MakeItems();
  // Memory tables live as long as the connection; a file keeps its tables.
  if (Disk()) Db->SetConnected(false);
  TZelTable& t = NewTable("Items");
  t.Open();
  EXPECT_TRUE(Db->Connected());
  EXPECT_EQ(t.FieldCount(), 12);
  t.Close();
  ExpectError(0x2728, "", [&] {
    TZelTable& missing = NewTable("Missing");
    missing.Open();
  });
}

TEST_P(DatabaseSuite, NewRecordsTakeTheFieldsDefaults) {
  TZelTable& t = MakeItems();
  t.Open();
  t.FieldByName("Qty")->SetDefaultExpression("42");
  t.FieldByName("Name")->SetDefaultExpression("unnamed");
  t.Append();
  EXPECT_EQ(t.FieldByName("Qty")->AsInteger(), 42);
  t.Post();
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "unnamed");
  EXPECT_EQ(t.FieldByName("ID")->AsInteger(), 1);
  t.Close();
  TInternalFields fields;
  t.QueryInternalFieldDefs(fields);
  EXPECT_EQ(fields.Count(), 12);
  EXPECT_GT(fields.RecordSize(), 0);
}

TEST_P(DatabaseSuite, TheCursorWritesFieldsAndCountsAutoIncrements) {
  TZelTable& t = NewTable("Codes");
  t.FieldDefs().Add("ID", plat::ftAutoInc);
  t.FieldDefs().Add("Code", plat::ftString, 10);
  t.FieldDefs().Add("On", plat::ftBoolean);
  t.IndexDefs().Add("pk", "ID", {plat::ixPrimary, plat::ixUnique});
  t.CreateTable();
  t.Open();
  const int32_t code = t.GetFieldNo("code");
  ASSERT_EQ(code, 1);
  uint8_t* rec = t.RecordBuffer();

  // Text: ten characters fit; eleven are refused raw and cut as a variant.
  t.InitializeNewRecord(rec, false);
  t.DataSetSetFieldData(code, 10, false, "0123456789");
  ExpectError(0x2185, "out of range", [&] { t.DataSetSetFieldData(code, 11, false, "0123456789A"); });
  t.DataSetSetFieldDataAsVariant(code, plat::Variant("abcdefghijkl"));
  EXPECT_EQ(t.DataSetGetFieldDataAsVariant(code).AsString(), "abcdefghij");
  t.DataSetSetFieldDataAsVariant(2, plat::Variant(2));
  EXPECT_TRUE(t.DataSetGetFieldDataAsVariant(2).AsBoolean());
  // A null field leaves the caller's bytes alone.
  t.DataSetSetFieldDataAsVariant(code, plat::Variant::MakeNull());
  char data[16] = "untouched";
  bool isNull = false;
  EXPECT_FALSE(t.DataSetGetFieldData(code, isNull, data));
  EXPECT_TRUE(isNull);
  EXPECT_STREQ(data, "untouched");

  // An explicit auto-increment value above the counter moves it; one
  // below leaves it.
  struct TCase {
    int32_t Given;
    int32_t Expected;
  };
  for (const TCase& c : {TCase{10, 10}, TCase{5, 5}, TCase{0, 11}}) {
    t.InitializeNewRecord(rec, false);
    if (c.Given != 0) t.DataSetSetFieldDataAsVariant(0, plat::Variant(c.Given));
    t.AddRecord(c.Given == 0);
    EXPECT_EQ(t.DataSetGetFieldDataAsVariant(0).AsInteger(), c.Expected);
  }
  t.Refresh();
  EXPECT_EQ(t.RecordCount(), 3);
}

TEST_P(DatabaseSuite, RestructureDescriptorsBuildTheSameDefinitions) {
  TZelTable& t = NewTable("FromDescriptors");
  TRestructureFieldDefs fields;
  fields.AddAndSetFieldDef("Kept", plat::ftString, 12, 0, true, "");
  fields.AddAndSetFieldDef("Gone", plat::ftInteger, 0, 0, false, "")->SetChangeStatus(dcDeleted);
  fields.AddAndSetFieldDef("Count", plat::ftInteger, 0, 0, false, "");
  TRestructureIndexDefs indexes;
  indexes.AddAndSetIndexDef("ixKept", "Kept", "", "Kept", {plat::ixUnique}, nullptr);
  indexes.AddAndSetIndexDef("ixGone", "Gone", "", "", {}, nullptr)->SetChangeStatus(dcDeleted);
  t.SetTableDefFromRSDefs(false, fields, indexes);
  t.InternalCreateTable();
  t.Open();
  EXPECT_EQ(t.FieldCount(), 2);
  EXPECT_TRUE(t.FieldByName("Kept")->Required());
  ASSERT_EQ(t.IndexDefs().Count(), 1);
  EXPECT_TRUE(t.IndexDefs().Items(0)->Options().Contains(plat::ixDescending));
  for (const char* k : {"b", "c", "a"}) t.AppendRecord({plat::Variant(k)});
  EXPECT_EQ(Column(t, "Kept"), (std::vector<std::string>{"c", "b", "a"}));
}

// Random inserts, edits and deletes against a model, from a fixed seed: every
// index keeps every record once, in order, and a refused change changes
// nothing.
TEST_P(DatabaseSuite, RandomChangesKeepEveryIndexInStepWithAModel) {
  const uint32_t seed = 20261210;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  TZelTable& t = NewTable("Model");
  t.FieldDefs().Add("ID", plat::ftAutoInc);
  t.FieldDefs().Add("K", plat::ftString, 8);
  t.FieldDefs().Add("V", plat::ftInteger);
  t.FieldDefs().Add("M", plat::ftMemo);
  t.IndexDefs().Add("pk", "ID", {plat::ixPrimary, plat::ixUnique});
  t.IndexDefs().Add("ixK", "K", {plat::ixUnique, plat::ixCaseInsensitive});
  t.IndexDefs().Add("ixV", "V", {});
  t.CreateTable();
  t.Open();
  struct TRec {
    std::string K;
    int32_t V;
    std::string M;
  };
  std::map<int32_t, TRec> model;
  int32_t nextID = 1;
  const auto lower = [](std::string S) {
    for (char& c : S) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return S;
  };
  const auto taken = [&](const std::string& K, int32_t Except) {
    for (const auto& [id, r] : model)
      if (id != Except && lower(r.K) == lower(K)) return true;
    return false;
  };
  const auto randomKey = [&] {
    std::string k;
    for (int i = 0, n = 1 + static_cast<int>(rng() % 3); i < n; ++i)
      k += static_cast<char>((rng() % 2 ? 'a' : 'A') + static_cast<int>(rng() % 4));
    return k;
  };
  const auto randomMemo = [&] { return std::string(rng() % 3 == 0 ? 0 : rng() % 700, 'm'); };
  const auto check = [&] {
    t.SetIndexName("pk");
    std::vector<std::string> ids;
    for (const auto& entry : model) ids.push_back(std::to_string(entry.first));
    ASSERT_EQ(Column(t, "ID"), ids);
    for (t.First(); !t.Eof(); t.Next()) {
      const TRec& r = model.at(t.FieldByName("ID")->AsInteger());
      ASSERT_EQ(t.FieldByName("K")->AsString(), r.K);
      ASSERT_EQ(t.FieldByName("M")->AsString(), r.M);
    }
    std::vector<std::pair<std::string, int32_t>> byK;
    std::vector<std::pair<int32_t, int32_t>> byV;
    for (const auto& [id, r] : model) {
      byK.emplace_back(lower(r.K), id);
      byV.emplace_back(r.V, id);
    }
    std::sort(byK.begin(), byK.end());
    std::sort(byV.begin(), byV.end());
    std::vector<std::string> expectK, expectV;
    for (const auto& e : byK) expectK.push_back(std::to_string(e.second));
    for (const auto& e : byV) expectV.push_back(std::to_string(e.second));
    t.SetIndexName("ixK");
    ASSERT_EQ(Column(t, "ID"), expectK);
    t.SetIndexName("ixV");
    ASSERT_EQ(Column(t, "ID"), expectV);
    ASSERT_EQ(t.RecordCount(), static_cast<int32_t>(model.size()));
  };
  for (int step = 0; step < 300; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    const uint32_t op = rng() % 10;
    if (op < 5 || model.empty()) {
      const TRec r{randomKey(), static_cast<int32_t>(rng() % 5), randomMemo()};
      t.Append();
      t.FieldByName("K")->SetAsString(r.K);
      t.FieldByName("V")->SetAsInteger(r.V);
      t.FieldByName("M")->SetAsString(r.M);
      if (taken(r.K, 0)) {
        ExpectError(0x2601, "ixK", [&] { t.Post(); });
        t.Cancel();
      } else {
        t.Post();
        model[nextID++] = r;
      }
    } else {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      t.SetIndexName("pk");
      t.First();
      while (!t.Eof() && t.FieldByName("ID")->AsInteger() != it->first) t.Next();
      ASSERT_FALSE(t.Eof());
      if (op < 8) {
        TRec r = it->second;
        if (rng() % 2) r.K = randomKey();
        if (rng() % 2) r.V = static_cast<int32_t>(rng() % 5);
        if (rng() % 2) r.M = randomMemo();
        t.Edit();
        t.FieldByName("K")->SetAsString(r.K);
        t.FieldByName("V")->SetAsInteger(r.V);
        t.FieldByName("M")->SetAsString(r.M);
        if (taken(r.K, it->first)) {
          ExpectError(0x2601, "ixK", [&] { t.Post(); });
          t.Cancel();
        } else {
          t.Post();
          it->second = r;
        }
      } else {
        t.Delete();
        model.erase(it);
      }
    }
    if (step % 25 == 24) {
      check();
      if (HasFatalFailure()) return;
    }
  }
  check();
}

// A change that fails part-way (here: the second blob of a record cannot be
// stored) takes back what it wrote: no record, no blob chain, the old values.
TEST_P(DatabaseSuite, AChangeThatFailsPartWayLeavesNothingBehind) {
  TZelTable& t = NewTable("Docs");
  t.FieldDefs().Add("ID", plat::ftAutoInc);
  t.FieldDefs().Add("A", plat::ftMemo);
  t.FieldDefs().Add("B", plat::ftMemo);
  t.IndexDefs().Add("pk", "ID", {plat::ixPrimary, plat::ixUnique});
  t.SetBlobCompression(true);
  t.CreateTable();
  bool failB = false;
  t.OnCompressBlob = [&](const std::string& Field, plat::TStream&, plat::TStream&,
                         TDataCompressionMode&, int32_t&) {
    if (failB && Field == "B") ZelDatabaseError(0x2185, "test", "blob store refused");
  };
  t.Open();
  const auto blocks = [&]() -> int32_t {
    auto* store = dynamic_cast<TMemoryIOInterface*>(t.TableDef().BlobInterface());
    return store != nullptr ? store->BlockCount() : -1;
  };
  t.AppendRecord({plat::Variant(), plat::Variant("first a"), plat::Variant("first b")});
  const int32_t before = blocks();

  failB = true;
  t.Append();
  t.FieldByName("A")->SetAsString(std::string(3000, 'a'));
  t.FieldByName("B")->SetAsString("b");
  ExpectError(0x2185, "refused", [&] { t.Post(); });
  t.Cancel();
  EXPECT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(blocks(), before);

  t.First();
  t.Edit();
  t.FieldByName("A")->SetAsString(std::string(5000, 'x'));
  t.FieldByName("B")->SetAsString("changed");
  ExpectError(0x2185, "refused", [&] { t.Post(); });
  t.Cancel();
  EXPECT_EQ(blocks(), before);
  t.Refresh();
  EXPECT_EQ(t.FieldByName("A")->AsString(), "first a");
  EXPECT_EQ(t.FieldByName("B")->AsString(), "first b");

  failB = false;
  t.Edit();
  t.FieldByName("A")->SetAsString("second a");
  t.Post();
  EXPECT_EQ(t.FieldByName("A")->AsString(), "second a");
  EXPECT_EQ(t.FieldByName("B")->AsString(), "first b");
  EXPECT_EQ(blocks(), before);
}

// Records read ahead for browsing never hide a change made through another
// cursor of the same process.
TEST_P(DatabaseSuite, ABrowsingCursorSeesAnotherCursorsChangesAtOnce) {
  TZelTable& a = NewTable("Rows");
  a.FieldDefs().Add("N", plat::ftInteger);
  a.FieldDefs().Add("Text", plat::ftString, 10);
  a.IndexDefs().Add("ixN", "N", {plat::ixUnique});
  a.CreateTable();
  a.Open();
  for (int32_t n = 1; n <= 40; ++n)
    a.AppendRecord({plat::Variant(n), plat::Variant("row " + std::to_string(n))});
  TZelTable& b = NewTable("Rows");
  b.Open();
  a.First();
  for (int i = 0; i < 4; ++i) a.Next();
  EXPECT_EQ(a.FieldByName("N")->AsInteger(), 5);
  b.SetRecNo(6);
  b.Edit();
  b.FieldByName("Text")->SetAsString("changed");
  b.Post();
  b.Next();
  EXPECT_EQ(b.FieldByName("N")->AsInteger(), 7);
  b.Delete();
  a.Next();
  EXPECT_EQ(a.FieldByName("Text")->AsString(), "changed");
  a.Next();
  EXPECT_EQ(a.FieldByName("N")->AsInteger(), 8);
  int32_t forwards = 0, backwards = 0;
  for (a.First(); !a.Eof(); a.Next()) ++forwards;
  for (a.Last(); !a.Bof(); a.Prior()) ++backwards;
  EXPECT_EQ(forwards, 39);
  EXPECT_EQ(backwards, 39);
}

// A cursor that read the table's header keeps it only while nobody wrote the
// table since: another cursor's rows, which deepen the index and move the
// auto-increment counter, and its emptying of the table show at the next
// step.
TEST_P(DatabaseSuite, AnotherCursorsGrowthAndEmptyingShowAtTheNextStep) {
  TZelTable& a = NewTable("Rows");
  a.FieldDefs().Add("ID", plat::ftAutoInc);
  a.FieldDefs().Add("N", plat::ftInteger);
  a.IndexDefs().Add("ixN", "N", {});
  a.CreateTable();
  a.Open();
  for (int32_t n = 1; n <= 3; ++n) a.AppendRecord({plat::Variant(), plat::Variant(10 * n)});
  TZelTable& b = NewTable("Rows");
  b.Open();
  a.SetIndexName("ixN");
  a.First();
  EXPECT_EQ(a.FieldByName("N")->AsInteger(), 10);
  for (int32_t n = 1; n <= 3000; ++n) b.AppendRecord({plat::Variant(), plat::Variant(10 * n + 5)});
  a.Next();
  EXPECT_EQ(a.FieldByName("N")->AsInteger(), 15);
  EXPECT_EQ(a.RecordCount(), 3003);
  int32_t forwards = 0;
  for (a.First(); !a.Eof(); a.Next()) ++forwards;
  EXPECT_EQ(forwards, 3003);
  a.AppendRecord({plat::Variant(), plat::Variant(1)});
  EXPECT_EQ(a.FieldByName("ID")->AsInteger(), 3004);
  b.EmptyTable();
  a.First();
  EXPECT_TRUE(a.Eof());
  EXPECT_EQ(a.RecordCount(), 0);
}

TEST_P(DatabaseSuite, StepsNumberRecordsOverManyPagesBothWaysAroundChangesAndFilters) {
  // Inside a transaction the file's table stays locked, so its steps go on
  // from where the last one stood, as a memory table's do.
  TZelTable& a = NewTable("Rows");
  a.FieldDefs().Add("N", plat::ftInteger);
  a.FieldDefs().Add("Text", plat::ftString, 40);
  a.IndexDefs().Add("ixN", "N", {plat::ixUnique});
  a.CreateTable();
  if (Disk()) Db->StartTransaction();
  a.Open();
  const int32_t count = 1500;
  for (int32_t n = count; n >= 1; --n)
    a.AppendRecord({plat::Variant(2 * n), plat::Variant("row " + std::to_string(n))});
  // Every row's number follows from its key: N = 2 * RecNo (+ Shift rows
  // ahead of it).
  const auto expectNumbered = [&](int32_t Shift) {
    EXPECT_EQ(a.RecNo(), a.FieldByName("N")->AsInteger() / 2 + Shift) << a.FieldByName("N")->AsInteger();
  };
  int32_t seen = 0;
  for (a.First(); !a.Eof(); a.Next()) {
    ++seen;
    if (a.RecNo() != seen || a.FieldByName("N")->AsInteger() != 2 * seen) break;
  }
  EXPECT_EQ(seen, count);
  EXPECT_TRUE(a.Eof());
  for (a.Last(); !a.Bof(); a.Prior()) {
    if (a.RecNo() != seen || a.FieldByName("N")->AsInteger() != 2 * seen) break;
    --seen;
  }
  EXPECT_EQ(seen, 0);

  // Another cursor puts a row ahead of this one's: the next steps count it.
  TZelTable& b = NewTable("Rows");
  b.Open();
  a.SetRecNo(700);
  for (int i = 0; i < 10; ++i) a.Next();
  expectNumbered(0);
  b.AppendRecord({plat::Variant(1), plat::Variant("first")});
  for (int i = 0; i < 10; ++i) {
    a.Next();
    expectNumbered(1);
  }
  for (int i = 0; i < 30; ++i) {
    a.Prior();
    expectNumbered(1);
  }
  // A row put right after this cursor's, on the page it stands on, is the
  // next one; the one after it is numbered past it.
  const int32_t here = a.FieldByName("N")->AsInteger();
  b.AppendRecord({plat::Variant(here + 1), plat::Variant("between")});
  a.Next();
  EXPECT_EQ(a.FieldByName("N")->AsInteger(), here + 1);
  EXPECT_EQ(a.RecNo(), here / 2 + 2);
  a.Next();
  expectNumbered(2);
  a.Prior();
  a.Prior();
  expectNumbered(1);
  // A filter numbers its own rows; without it the steps number the index's.
  a.SetFilter("N > 2000");
  a.SetFiltered(true);
  a.First();
  EXPECT_EQ(a.RecNo(), 1);
  for (int i = 0; i < 5; ++i) a.Next();
  EXPECT_EQ(a.RecNo(), 6);
  a.SetFiltered(false);
  const auto expectNumberedAroundTheInserts = [&] {
    expectNumbered(a.FieldByName("N")->AsInteger() > here ? 2 : 1);
  };
  for (int i = 0; i < 5; ++i) {
    a.Next();
    expectNumberedAroundTheInserts();
  }
  a.Prior();
  expectNumberedAroundTheInserts();
  if (Disk()) Db->Commit();
  a.Next();
  expectNumberedAroundTheInserts();
  b.Close();
  a.Close();
}

INSTANTIATE_TEST_SUITE_P(MemoryAndDisk, DatabaseSuite, ::testing::Values(false, true),
                         datasettest::MemoryOrDiskName);

// ---------------------------------------------------------------- database files

class DatabaseFile : public ::testing::Test {
 protected:
  std::string File() const { return Dir.File("file.zel"); }
  std::unique_ptr<TZelDataBase> Make(const std::string& Key = "") {
    auto db = std::make_unique<TZelDataBase>();
    db->SetDataBaseName(File());
    db->SetExclusive(true);
    if (!Key.empty()) {
      db->SetUseEncryption(true);
      db->SetMasterKey(Key);
    }
    return db;
  }
  std::vector<uint8_t> Bytes() const { return storagetest::FileBytes(File()); }
  void Patch(size_t Offset, const std::vector<uint8_t>& Data) {
    std::fstream f(File(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(Offset));
    f.write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
  }
  void TearDown() override {
    if (plat::FileExists(File())) {
      EXPECT_TRUE(testsupport::DatabaseIsIntact(File()));
    }
  }

  testsupport::TempDir Dir;
};

TEST_F(DatabaseFile, TheDefinitionRecordOfANewFileIsExact) {
  auto db = Make();
  db->SetDataBaseName(Dir.Path() + "/" + std::string(35, 'n') + ".zel");
  EXPECT_EQ(db->Directory(), Dir.Path() + "/");
  db->CreateDatabase();
  const std::vector<uint8_t> b =
      storagetest::FileBytes(Dir.Path() + "/" + std::string(35, 'n') + ".zel");
  ASSERT_GE(b.size(), 256u);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[1], 0);
  // The name is cut to 29 characters, then a null unit.
  EXPECT_EQ(b[2 + 2 * 28], 'n');
  EXPECT_EQ(b[2 + 2 * 29], 0);
  const char* version = "1.50.03";
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(b[204 + 2 * i], static_cast<uint8_t>(version[i]));
    EXPECT_EQ(b[205 + 2 * i], 0);
  }
  for (int i = 218; i < 246; ++i) EXPECT_EQ(b[static_cast<size_t>(i)], 0) << i;
  EXPECT_EQ(storagetest::U32(b.data() + 246), 0u);
  uint8_t crcInput[510];
  for (int i = 0; i < 256; ++i) crcInput[i] = static_cast<uint8_t>(i);
  std::memcpy(crcInput + 256, b.data(), 254);
  std::memset(crcInput + 256 + 250, 0, 4);
  EXPECT_EQ(CalcCRC(crcInput, 510), storagetest::U32(b.data() + 250));
  EXPECT_TRUE(testsupport::DatabaseIsIntact(Dir.Path() + "/" + std::string(35, 'n') + ".zel"));
}

TEST_F(DatabaseFile, ABadDefinitionRecordOrANewerFormatIsRefused) {
  Make()->CreateDatabase();
  const std::vector<uint8_t> good = Bytes();
  Patch(70, {static_cast<uint8_t>(good[70] ^ 0x40)});
  auto db = Make();
  ExpectError(0x2301, "", [&] { db->SetConnected(true); });
  EXPECT_FALSE(db->Connected());
  Patch(0, std::vector<uint8_t>(good.begin(), good.begin() + 254));

  // Release 04 of the format, with a CRC that fits.
  std::vector<uint8_t> rec(good.begin(), good.begin() + 254);
  rec[204 + 2 * 6] = '4';
  std::memset(rec.data() + 250, 0, 4);
  uint8_t crcInput[510];
  for (int i = 0; i < 256; ++i) crcInput[i] = static_cast<uint8_t>(i);
  std::memcpy(crcInput + 256, rec.data(), 254);
  const uint32_t crc = CalcCRC(crcInput, 510);
  for (int i = 0; i < 4; ++i) rec[250 + static_cast<size_t>(i)] = static_cast<uint8_t>(crc >> (8 * i));
  Patch(0, rec);
  ExpectError(0x2F09, "1.50.04", [&] { db->SetConnected(true); });
  EXPECT_FALSE(db->Connected());
  Patch(0, std::vector<uint8_t>(good.begin(), good.begin() + 254));
  db->SetConnected(true);
  EXPECT_EQ(db->DataFileVersion(), "1.50.03");
  db->SetConnected(false);
}

TEST_F(DatabaseFile, TheMasterKeyOpensAnEncryptedDatabase) {
  Make("opensesame")->CreateDatabase();
  EXPECT_EQ(storagetest::U32(Bytes().data() + 246), 1u);
  auto db = Make();
  ExpectError(0x2582, "", [&] { db->SetMasterKey("abc"); });
  db->SetMasterKey("wrong key");
  ExpectError(0x2103, "", [&] { db->SetConnected(true); });
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ(db->MasterKey(), "");
  // Without a key the login model asks; its default answer is Cancel.
  ExpectError(0x271F, "", [&] { db->SetConnected(true); });
  db->BeforeLogin = [](plat::TObject*, std::string&, std::string&, std::string& Key) {
    Key = "opensesame";
  };
  db->SetConnected(true);
  EXPECT_TRUE(db->UseEncryption());

  TZelTable t;
  t.SetDataBase(db.get());
  t.SetTableName("Secret");
  t.SetEncryptionLevel(encStrong);
  t.FieldDefs().Add("Text", plat::ftString, 40);
  t.CreateTable();
  t.Open();
  t.AppendRecord({plat::Variant("nightshade")});
  t.Close();
  db->SetConnected(false);
  const std::vector<uint8_t> b = Bytes();
  const std::string text(b.begin(), b.end());
  EXPECT_EQ(text.find("nightshade"), std::string::npos);
  EXPECT_EQ(text.find("Secret"), std::string::npos);
  db->SetConnected(true);
  t.Open();
  EXPECT_EQ(t.FieldByName("Text")->AsString(), "nightshade");
  t.Close();
  // A renamed encrypted table still opens.
  db->RenameTable("Secret", "Hidden");
  t.SetTableName("Hidden");
  t.Open();
  EXPECT_EQ(t.FieldByName("Text")->AsString(), "nightshade");
  t.Close();
  db->SetConnected(false);
}

TEST_F(DatabaseFile, DefinitionsSurviveReconnectAndSystemTablesStayApart) {
  auto db = Make();
  db->CreateDatabase();
  db->SetConnected(true);
  {
    TZelTable t;
    t.SetDataBase(db.get());
    t.SetTableName("People");
    t.FieldDefs().Add("ID", plat::ftAutoInc);
    t.FieldDefs().Add("Name", plat::ftString, 25);
    t.FieldDefs().Add("Born", plat::ftDate);
    t.IndexDefs().Add("ixName", "Name", {plat::ixCaseInsensitive, plat::ixDescending});
    t.CreateTable();
    t.Open();
    t.AppendRecord({plat::Variant(), plat::Variant("Ada")});
    t.AppendRecord({plat::Variant(), plat::Variant("bob")});
  }
  db->SetConnected(false);
  db->SetConnected(true);
  TZelTable t;
  t.SetDataBase(db.get());
  t.SetTableName("People");
  t.Open();
  EXPECT_EQ(t.IndexName(), "ixName");
  ASSERT_EQ(t.IndexDefs().Count(), 1);
  EXPECT_TRUE(t.IndexDefs().Items(0)->Options().Contains(plat::ixDescending));
  EXPECT_EQ(t.FieldDefs().Count(), 3);
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "bob");
  t.Close();

  plat::TStringList user, system;
  db->GetTableNames(user, false);
  db->GetSystemTableNames(system);
  EXPECT_EQ(user.Count(), 1);
  EXPECT_GE(system.IndexOf("$SYSTBL_OBJECTIDREF"), 0);
  EXPECT_GE(system.IndexOf("$SYSTBL_INTGENERATOR"), 0);
  EXPECT_LT(user.IndexOf("$SYSTBL_OBJECTIDREF"), 0);

  // No table is made inside a transaction; flushing does not end one.
  db->DiskMgr()->DiskStartTransaction(false);
  TZelTable late;
  late.SetDataBase(db.get());
  late.SetTableName("Late");
  late.FieldDefs().Add("N", plat::ftInteger);
  ExpectError(0x278A, "", [&] { late.CreateTable(); });
  db->FlushBuffers();
  EXPECT_TRUE(db->InTransaction());
  db->DiskMgr()->DiskRollback();
  db->SetConnected(false);
}

TEST_F(DatabaseFile, ADamagedCatalogueTextGivesAnEngineError) {
  auto db = Make();
  db->CreateDatabase();
  db->SetConnected(true);
  TTableDef def;
  def.SetMemory(false);
  TZelTable t;
  t.SetDataBase(db.get());
  t.SetTableName("Plain");
  t.FieldDefs().Add("Word", plat::ftString, 12);
  t.CreateTable();
  db->QueryTableDef("Plain", false, def);
  // The text form round-trips every published property.
  const std::string text = plat::WriteComponentText(def);
  TTableDef back;
  plat::ReadComponentText(text, back);
  EXPECT_EQ(plat::WriteComponentText(back), text);
  db->SetConnected(false);

  // A definition whose text is cut short: the file keeps its bytes, the
  // catalogue row its blob; opening the table raises, it does not crash.
  std::vector<uint8_t> b = Bytes();
  const std::string needle = "TableName = 'Plain'";
  const auto at = std::search(b.begin(), b.end(), needle.begin(), needle.end());
  ASSERT_NE(at, b.end());
  Patch(static_cast<size_t>(at - b.begin()), std::vector<uint8_t>(needle.size(), '#'));
  db->SetConnected(true);
  ExpectError(0x2103, "Plain", [&] { t.Open(); });
  db->SetConnected(false);
}

TEST_F(DatabaseFile, AFailedCreationLeavesNoFileAndAnExistingFileIsKept) {
  auto db = Make();
  db->SetReadOnly(true);
  EXPECT_THROW(db->CreateDatabase(), EZelDatabaseError);
  EXPECT_FALSE(plat::FileExists(File()));
  EXPECT_FALSE(db->Connected());
  db->SetReadOnly(false);
  db->CreateDatabase();
  const std::vector<uint8_t> made = Bytes();
  ExpectError(0x2184, "", [&] { db->CreateDatabase(); });
  EXPECT_EQ(Bytes(), made);
  db->SetConnected(true);
  ExpectError(0x2788, "", [&] { db->CreateDatabase(); });
  db->SetConnected(false);
}

TEST_F(DatabaseFile, ALongMasterKeyCountsWhole) {
  const std::string key(80, 'k');
  Make(key)->CreateDatabase();
  auto db = Make();
  // The same first 56 characters are not the same key.
  db->SetMasterKey(std::string(56, 'k') + std::string(24, 'x'));
  ExpectError(0x2103, "", [&] { db->SetConnected(true); });
  db->SetMasterKey(key);
  db->SetConnected(true);
  EXPECT_TRUE(db->Connected());
  db->SetConnected(false);
}

TEST_F(DatabaseFile, TheLoginAsksOnlyWhatIsMissing) {
  Make("opensesame")->CreateDatabase();
  int32_t shown = 0;
  int32_t flags = 0;
  SetZelLoginDialogHook([&](TZelPasswordDialog& D) {
    ++shown;
    flags = (D.ebMasterKey.Enabled ? 1 : 0) | (D.ebUsername.Enabled ? 2 : 0);
    D.ebMasterKey.SetText("opensesame");
    return mrOk;
  });
  auto db = Make();
  db->SetConnected(true);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(flags, 1);
  db->SetConnected(false);
  // With the key given nothing is asked.
  db->SetMasterKey("opensesame");
  db->SetConnected(true);
  EXPECT_EQ(shown, 1);
  db->SetConnected(false);
  // The event replaces the dialog.
  int32_t asked = 0;
  db->BeforeLogin = [&](plat::TObject*, std::string&, std::string&, std::string& Key) {
    ++asked;
    Key = "opensesame";
  };
  db->SetConnected(true);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(shown, 1);
  db->SetConnected(false);
  SetZelLoginDialogHook(nullptr);
}

TEST_F(DatabaseFile, EnforcedSecurityImpliesEncryption) {
  auto db = Make();
  db->SetEnforceSecurity(true);
  db->SetMasterKey("guarded");
  EXPECT_TRUE(db->UseEncryption());
  ExpectError(0x2A0E, "", [&] { db->SetUseEncryption(false); });
  db->CreateDatabase();
  const std::vector<uint8_t> b = Bytes();
  EXPECT_EQ(storagetest::U32(b.data() + 246), 2u);
  EXPECT_EQ(storagetest::U32(b.data() + 0x300), 40u);
}

TEST_F(DatabaseFile, ARolledBackTransactionTakesItsRecordsAlongAfterAFlush) {
  auto db = Make();
  db->CreateDatabase();
  db->SetConnected(true);
  TZelTable t;
  t.SetDataBase(db.get());
  t.SetTableName("Kept");
  t.FieldDefs().Add("N", plat::ftInteger);
  t.IndexDefs().Add("ixN", "N", {plat::ixUnique});
  t.CreateTable();
  t.Open();
  t.AppendRecord({plat::Variant(1)});
  db->DiskMgr()->DiskStartTransaction(false);
  t.AppendRecord({plat::Variant(2)});
  t.AppendRecord({plat::Variant(3)});
  t.Flush();
  EXPECT_TRUE(db->InTransaction());
  db->DiskMgr()->DiskRollback();
  t.Close();
  t.Open();
  EXPECT_EQ(t.RecordCount(), 1);
  t.Close();
  db->SetConnected(false);
}

TEST_F(DatabaseFile, EncryptedTablesNeedAnEncryptedDatabase) {
  auto db = Make();
  db->CreateDatabase();
  db->SetConnected(true);
  TZelTable t;
  t.SetDataBase(db.get());
  t.SetTableName("Secret");
  t.SetEncryptionLevel(encStrong);
  t.FieldDefs().Add("N", plat::ftInteger);
  ExpectError(0x2A0E, "", [&] { t.CreateTable(); });
  t.SetEncryptionLevel(encNone);
  t.SetMemory(true);
  t.CreateTable();
  EXPECT_TRUE(t.Exists());
  plat::TStringList users;
  db->GetCurrentUsers(users);
  EXPECT_GE(users.Count(), 1);
  db->SetConnected(false);
  TZelDataBase memory;
  memory.SetDataBaseName("Memory");
  memory.SetConnected(true);
  ExpectError(0x2905, "", [&] { memory.GetCurrentUsers(users); });
}

TEST_F(DatabaseFile, AnotherProcessSeesWhatWasWrittenAndWritesToo) {
  {
    auto db = Make();
    db->SetExclusive(false);
    db->CreateDatabase();
    db->SetConnected(true);
    TZelTable t;
    t.SetDataBase(db.get());
    t.SetTableName("Shared");
    t.FieldDefs().Add("N", plat::ftInteger);
    t.IndexDefs().Add("ixN", "N", {plat::ixUnique});
    t.CreateTable();
  }
  auto db = Make();
  db->SetExclusive(false);
  db->SetLockRetryInterval(5);
  db->SetConnected(true);
  TZelTable t;
  t.SetDataBase(db.get());
  t.SetTableName("Shared");
  t.Open();
  t.AppendRecord({plat::Variant(1)});
  const int code = testsupport::RunInChild([this] {
    TZelDataBase other;
    other.SetDataBaseName(File());
    other.SetLockRetryInterval(5);
    other.SetConnected(true);
    TZelTable mine;
    mine.SetDataBase(&other);
    mine.SetTableName("Shared");
    mine.Open();
    if (mine.RecordCount() != 1) return 1;
    for (int32_t n = 2; n <= 20; ++n) mine.AppendRecord({plat::Variant(n)});
    mine.Close();
    other.SetConnected(false);
    return 0;
  });
  EXPECT_EQ(code, 0);
  t.Refresh();
  EXPECT_EQ(t.RecordCount(), 20);
  t.Last();
  EXPECT_EQ(t.FieldByName("N")->AsInteger(), 20);
  t.Close();
  db->SetConnected(false);
}

TEST(LoginDialog, TheFlagsDecideWhatIsAskedAndOnlyOKChangesTheValues) {
  struct TCase {
    int32_t Flags;
    bool KeyEnabled, UserEnabled;
    const char* Focus;
  };
  for (const TCase& c : {TCase{1, true, false, "ebMasterKey"}, TCase{2, false, true, "ebPassword"},
                         TCase{3, true, true, "ebMasterKey"}}) {
    TZelPasswordDialog seen;
    SetZelLoginDialogHook([&](TZelPasswordDialog& D) {
      seen = D;
      D.ebMasterKey.SetText(std::string(50, 'k'));
      D.ebUsername.SetText("ann");
      D.ebPassword.SetText("pw");
      return mrCancel;
    });
    std::string key = "old", password = "p0", user = "u0";
    EXPECT_FALSE(ShowZelLoginDialog("/data/db.zel", c.Flags, key, password, user));
    EXPECT_EQ(key + password + user, "oldp0u0");
    EXPECT_EQ(seen.ebMasterKey.Enabled, c.KeyEnabled);
    EXPECT_EQ(seen.ebUsername.Enabled, c.UserEnabled);
    EXPECT_EQ(seen.ebMasterKey.Color, c.KeyEnabled ? clWindow : clMenu);
    EXPECT_EQ(seen.ActiveControl, c.Focus);
    EXPECT_EQ(seen.Caption, "Database Login - db.zel");
    EXPECT_EQ(seen.lblMasterKey.Caption, "Database Password:");

    SetZelLoginDialogHook([](TZelPasswordDialog& D) {
      D.ebMasterKey.SetText(std::string(50, 'k'));
      D.ebUsername.SetText("ann");
      D.ebPassword.SetText("pw");
      return mrOk;
    });
    EXPECT_TRUE(ShowZelLoginDialog("db.zel", c.Flags, key, password, user));
    EXPECT_EQ(key, std::string(40, 'k'));
    EXPECT_EQ(user, "ann");
    EXPECT_EQ(password, "pw");
  }
  SetZelLoginDialogHook(nullptr);
  std::string key, password, user;
  EXPECT_FALSE(ShowZelLoginDialog("db.zel", 1, key, password, user));
}

}  // namespace
}  // namespace zel
