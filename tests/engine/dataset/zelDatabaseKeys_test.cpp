// Key search, ranges and master/detail on tables, on the memory database
// and on a database file; a range that another process changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../storage/StorageTestSupport.h"
#include "DatabaseSuite.h"
#include "engine/dataset/zelDatabase.h"
#include "platform/db/DataSource.h"
#include "platform/db/Fields.h"
#include "support/DatabaseCheck.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using plat::Variant;
using storagetest::ExpectError;
using Values = std::vector<Variant>;

// Action raises the library's database error with a message holding Text.
template <typename F>
void ExpectDatabaseError(const std::string& Text, F&& Action) {
  try {
    Action();
    ADD_FAILURE() << "no error raised, expected " << Text;
  } catch (const plat::EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find(Text), std::string::npos) << e.what();
  }
}

class KeySuite : public datasettest::MemoryOrDiskDatabase {
 protected:
  // A new table of integer fields, with one index on IndexFields.
  TZelTable& MakeTable(const std::string& Name, const std::vector<std::string>& FieldNames,
                       const std::string& IndexFields, bool Unique) {
    TZelTable& t = NewTable(Name);
    for (const std::string& f : FieldNames) t.FieldDefs().Add(f, plat::ftInteger);
    plat::TIndexOptions options;
    if (Unique) options.Include(plat::ixUnique);
    t.IndexDefs().Add("ix" + Name, IndexFields, options);
    t.CreateTable();
    t.Open();
    return t;
  }

  // Keys 10, 20, 30 in K, each with V = K + 1.
  TZelTable& MakeTens() {
    TZelTable& t = MakeTable("Tens", {"K", "V"}, "K", true);
    for (int32_t k : {30, 10, 20}) t.AppendRecord({Variant(k), Variant(k + 1)});
    return t;
  }

  // Every pair (A, B) with A and B from 1 to 3, on the index (A, B).
  TZelTable& MakePairs() {
    TZelTable& t = MakeTable("Pairs", {"A", "B"}, "A;B", true);
    for (int32_t a = 3; a >= 1; --a)
      for (int32_t b = 1; b <= 3; ++b) t.AppendRecord({Variant(a), Variant(b)});
    return t;
  }

  // The rows as "A.B" texts, forwards; backwards must give the same.
  static std::string Rows(TZelTable& T, const std::vector<std::string>& Fields) {
    auto row = [&] {
      std::string text;
      for (const std::string& f : Fields)
        text += (text.empty() ? "" : ".") + T.FieldByName(f)->AsString();
      return text;
    };
    std::string forwards, backwards;
    for (T.First(); !T.Eof(); T.Next()) forwards += (forwards.empty() ? "" : " ") + row();
    for (T.Last(); !T.Bof(); T.Prior()) backwards = row() + (backwards.empty() ? "" : " ") + backwards;
    EXPECT_EQ(forwards, backwards) << "backwards";
    return forwards;
  }

};

TEST_P(KeySuite, FindKeyAndFindNearestLandOnTheRightRecord) {
  TZelTable& t = MakeTens();
  struct Case {
    bool Nearest;
    int32_t Key;
    bool Found;
    int32_t Lands;  // K of the record after the search
  };
  const std::vector<Case> cases = {
      {true, 25, true, 30}, {true, 99, true, 30}, {true, 5, true, 10}, {true, 20, true, 20},
      {false, 20, true, 20}, {false, 25, false, 0}, {false, 99, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.Nearest ? "FindNearest " : "FindKey ") + std::to_string(c.Key));
    t.First();
    t.Next();
    bool found = true;
    if (c.Nearest)
      t.FindNearest({Variant(c.Key)});
    else
      found = t.FindKey({Variant(c.Key)});
    EXPECT_EQ(found, c.Found);
    // A failed search leaves the position, and moving on starts from there.
    const int32_t expected = c.Found ? c.Lands : 20;
    EXPECT_EQ(t.FieldByName("K")->AsInteger(), expected);
    EXPECT_EQ(t.FieldByName("V")->AsInteger(), expected + 1);
    EXPECT_EQ(t.RecNo(), expected / 10);
    t.Next();
    EXPECT_EQ(t.Eof(), expected == 30);
  }
}

TEST_P(KeySuite, TheKeyStateFillsTheSearchKeyThroughTheFields) {
  TZelTable& t = MakeTens();
  t.SetKey();
  EXPECT_EQ(t.State(), plat::dsSetKey);
  t.FieldByName("K")->SetAsInteger(20);
  EXPECT_EQ(t.FieldByName("K")->AsInteger(), 20) << "the field reads the key";
  EXPECT_TRUE(t.GotoKey());
  EXPECT_EQ(t.State(), plat::dsBrowse);
  EXPECT_EQ(t.FieldByName("V")->AsInteger(), 21);

  t.EditKey();
  EXPECT_EQ(t.FieldByName("K")->AsInteger(), 20) << "EditKey keeps the key";
  t.FieldByName("K")->SetAsInteger(21);
  t.GotoNearest();
  EXPECT_EQ(t.FieldByName("K")->AsInteger(), 30);

  t.SetKey();
  EXPECT_TRUE(t.FieldByName("K")->IsNull()) << "SetKey starts empty";
  t.FieldByName("K")->SetAsInteger(10);
  t.CancelKey();
  EXPECT_EQ(t.State(), plat::dsBrowse);
  EXPECT_EQ(t.FieldByName("K")->AsInteger(), 30) << "a cancelled key moves nothing";

  // The key field count is set in the key state only, within the index.
  ExpectDatabaseError("not in edit or insert mode", [&] { t.SetKeyFieldCount(1); });
  t.SetKey();
  ExpectError(0x2701, "index field count is out of range", [&] { t.SetKeyFieldCount(2); });
  t.SetKeyFieldCount(1);
  t.CancelKey();
  ExpectError(0x270D, "Index ixNone", [&] { t.SetIndexName("ixNone"); });
  EXPECT_EQ(t.IndexName(), "ixTens");
}

TEST_P(KeySuite, PartialKeysSearchTheLeadingFields) {
  TZelTable& t = MakePairs();
  EXPECT_TRUE(t.FindKey({Variant(2)}));
  EXPECT_EQ(t.FieldByName("A")->AsString() + "." + t.FieldByName("B")->AsString(), "2.1");
  EXPECT_TRUE(t.FindKey({Variant(3), Variant(2)}));
  EXPECT_EQ(t.RecNo(), 8);
  EXPECT_FALSE(t.FindKey({Variant(2), Variant(7)}));
  EXPECT_EQ(t.RecNo(), 8);
  t.FindNearest({Variant(2), Variant(7)});
  EXPECT_EQ(t.FieldByName("A")->AsString() + "." + t.FieldByName("B")->AsString(), "3.1");

  // A key field count limits GotoKey to the leading fields.
  t.SetKey();
  t.FieldByName("A")->SetAsInteger(1);
  EXPECT_FALSE(t.GotoKey()) << "all fields: (1, null) is no record";
  t.EditKey();
  ExpectError(0x2701, "", [&] { t.SetKeyFieldCount(3); });
  t.SetKeyFieldCount(1);
  EXPECT_TRUE(t.GotoKey());
  EXPECT_EQ(t.RecNo(), 1);
}

TEST_P(KeySuite, RangesShowTheirRecordsWithCountsAndNumbers) {
  TZelTable& t = MakePairs();
  struct Case {
    Values Start, End;
    std::string Rows;
  };
  const std::vector<Case> cases = {
      {{1}, {1}, "1.1 1.2 1.3"},
      {{1, 2}, {2, 1}, "1.2 1.3 2.1"},
      {{2}, {}, "2.1 2.2 2.3 3.1 3.2 3.3"},
      {{}, {1, 2}, "1.1 1.2"},
      {{}, {}, "1.1 1.2 1.3 2.1 2.2 2.3 3.1 3.2 3.3"},
      {{1, 4}, {2, 0}, ""},
      {{30}, {10}, ""},
      {{4}, {9}, ""},
  };
  for (const Case& c : cases) {
    t.SetRange(c.Start, c.End);
    const std::string rows = Rows(t, {"A", "B"});
    SCOPED_TRACE("range to " + rows);
    EXPECT_EQ(rows, c.Rows);
    const int32_t count = rows.empty() ? 0 : static_cast<int32_t>(std::count(rows.begin(), rows.end(), ' ') + 1);
    EXPECT_EQ(t.RecordCount(), count);
    EXPECT_EQ(t.IsEmpty(), count == 0);
    int32_t n = 0;
    for (t.First(); !t.Eof(); t.Next()) EXPECT_EQ(t.RecNo(), ++n);
    if (count == 0) continue;
    t.SetRecNo(count);
    EXPECT_EQ(t.RecNo(), count);
    t.SetRecNo(count + 1);
    EXPECT_EQ(t.RecNo(), count) << "a number past the range does not move";
    // Searches stay inside the range.
    t.First();
    EXPECT_EQ(t.FindKey({Variant(3), Variant(3)}), rows.find("3.3") != std::string::npos);
    t.FindNearest({Variant(9)});
    EXPECT_EQ(t.RecNo(), count) << "nearest past the range end lands on it";
    t.FindNearest({Variant(0)});
    EXPECT_EQ(t.RecNo(), 1) << "nearest before the range start lands on it";
  }
  t.CancelRange();
  EXPECT_EQ(t.RecordCount(), 9);
}

TEST_P(KeySuite, SeeksPastARangeEndLandOnItOrFail) {
  TZelTable& t = MakeTable("Nums", {"K"}, "K", true);
  for (int32_t k = 10; k <= 50; k += 10) t.AppendRecord({Variant(k)});
  t.SetRange({Variant(20)}, {Variant(40)});
  struct Case {
    TIndexSearchType Type;
    int32_t Key;
    int32_t Lands;  // 0: the seek fails
  };
  const std::vector<Case> cases = {
      {stGE, 45, 0},  {stGT, 45, 0},  {stEQ, 45, 0},  {stLE, 45, 40}, {stLT, 45, 40},
      {stLEG, 45, 40}, {stLE, 15, 0}, {stLT, 15, 0},  {stEQ, 15, 0},  {stGE, 15, 20},
      {stGT, 15, 20}, {stLEG, 15, 20}, {stGE, 25, 30}, {stLE, 25, 20}, {stLT, 30, 20},
      {stGT, 30, 40}, {stEQ, 30, 30}, {stLEG, 35, 40},
  };
  const int32_t k = t.GetFieldNo("K");
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.Type) + " key " + std::to_string(c.Key));
    std::memset(t.RecordBuffer(), 0, static_cast<size_t>(t.RecordBufferSize()));
    t.DataSetSetFieldDataAsVariant(k, Variant(c.Key));
    EXPECT_EQ(t.Find(c.Type, "ixNums", TSearchModifier{}), c.Lands != 0);
    if (c.Lands != 0) {
      EXPECT_EQ(t.DataSetGetFieldDataAsVariant(k).AsInteger(), c.Lands);
    }
  }
}

TEST_P(KeySuite, ASearchOnlyProbesWithOpenEndsAndLeavesTheCursor) {
  TZelTable& t = MakePairs();
  t.FindKey({Variant(2), Variant(2)});
  const int32_t a = t.GetFieldNo("A");
  struct Case {
    int32_t A;
    TRangeMode OpenEnd;
    TIndexSearchType Type;
    bool Found;
  };
  // (A, open B) against the rows (1..3, 1..3).
  const std::vector<Case> cases = {
      {2, rmRangeStart, stGE, true},  {2, rmRangeStart, stLT, true},
      {1, rmRangeStart, stLT, false}, {3, rmRangeEnd, stGT, false},
      {3, rmRangeEnd, stLE, true},    {9, rmRangeStart, stGE, false},
  };
  std::vector<uint8_t> buffer(static_cast<size_t>(t.RecordBufferSize()));
  for (const Case& c : cases) {
    SCOPED_TRACE("A " + std::to_string(c.A) + " type " + std::to_string(c.Type));
    std::fill(buffer.begin(), buffer.end(), 0);
    t.DataSetSetFieldDataToRecBufAsVariant(buffer.data(), a, Variant(c.A));
    t.SetNullIndexFieldsToRangeEnd(buffer.data(), "ixPairs", c.OpenEnd, {"a"});
    EXPECT_EQ(t.InternalSearchOnly(buffer.data(), c.Type, "ixPairs", TSearchModifier{}) == 0,
              c.Found);
  }
  t.Next();
  EXPECT_EQ(t.RecNo(), 6) << "the cursor stayed on (2, 2)";
  ExpectError(0x270D, "Index ixNone",
              [&] { t.InternalSearchOnly(buffer.data(), stEQ, "ixNone", TSearchModifier{}); });
}

TEST_P(KeySuite, ARangeOnAnIndexWithDuplicatesTakesThemAll) {
  TZelTable& t = MakeTable("Dups", {"A", "N"}, "A", false);
  for (int32_t n = 1; n <= 12; ++n) t.AppendRecord({Variant(n % 3), Variant(n)});
  t.SetRange({Variant(1)}, {Variant(1)});
  EXPECT_EQ(Rows(t, {"N"}), "1 4 7 10");
  EXPECT_EQ(t.RecordCount(), 4);
  t.Last();
  t.SetRecNo(0);
  EXPECT_EQ(t.RecNo(), 4) << "record number 0 does not move";
  EXPECT_TRUE(t.FindKey({Variant(1)}));
  EXPECT_EQ(t.FieldByName("N")->AsInteger(), 1);
  t.SetRange({Variant(2)}, {});
  EXPECT_EQ(Rows(t, {"N"}), "2 5 8 11");
}

TEST_P(KeySuite, RangeEndsAreEditedThroughTheFields) {
  TZelTable& t = MakePairs();
  t.SetRangeStart();
  t.FieldByName("A")->SetAsInteger(2);
  t.SetRangeEnd();
  t.FieldByName("A")->SetAsInteger(2);
  t.FieldByName("B")->SetAsInteger(2);
  t.ApplyRange();
  EXPECT_EQ(Rows(t, {"A", "B"}), "2.1 2.2");
  t.EditRangeEnd();
  EXPECT_EQ(t.FieldByName("B")->AsInteger(), 2) << "EditRangeEnd keeps the end";
  t.FieldByName("A")->SetAsInteger(3);
  t.ApplyRange();
  EXPECT_EQ(Rows(t, {"A", "B"}), "2.1 2.2 2.3 3.1 3.2");
  t.EditRangeStart();
  t.FieldByName("B")->SetAsInteger(3);
  t.ApplyRange();
  EXPECT_EQ(Rows(t, {"A", "B"}), "2.3 3.1 3.2");
  t.SetRangeStart();
  EXPECT_TRUE(t.FieldByName("A")->IsNull()) << "SetRangeStart opens the start";
  t.CancelKey();
  EXPECT_EQ(t.RecordCount(), 3) << "a cancelled edit leaves the range";

  // Changing the index drops the range.
  t.SetIndexName("");
  EXPECT_EQ(t.RecordCount(), 9);
}

TEST_P(KeySuite, ChangesInsideAndOutsideTheRangeShowAtOnce) {
  TZelTable& t = MakeTable("Nums", {"K"}, "K", true);
  for (int32_t k = 10; k <= 50; k += 10) t.AppendRecord({Variant(k)});
  t.SetRange({Variant(20)}, {Variant(40)});
  EXPECT_EQ(Rows(t, {"K"}), "20 30 40");
  t.InsertRecord({Variant(35)});
  EXPECT_EQ(t.RecordCount(), 4);
  EXPECT_EQ(t.FieldByName("K")->AsInteger(), 35);
  EXPECT_EQ(t.RecNo(), 3);
  // A record posted outside the range leaves the cursor inside it.
  t.InsertRecord({Variant(60)});
  EXPECT_EQ(t.RecordCount(), 4);
  EXPECT_EQ(t.FieldByName("K")->AsInteger(), 40);
  t.First();
  t.Edit();
  t.FieldByName("K")->SetAsInteger(5);
  t.Post();
  EXPECT_EQ(t.FieldByName("K")->AsInteger(), 30);
  EXPECT_EQ(Rows(t, {"K"}), "30 35 40");

  // Another cursor on the same table changes it.
  TZelTable& other = NewTable("Nums");
  other.Open();
  other.FindKey({Variant(30)});
  other.Delete();
  other.AppendRecord({Variant(25)});
  EXPECT_EQ(t.RecordCount(), 3);
  EXPECT_EQ(Rows(t, {"K"}), "25 35 40");
}

TEST_P(KeySuite, ADetailFollowsItsMaster) {
  TZelTable& orders = MakeTable("Orders", {"OrderNo"}, "OrderNo", true);
  for (int32_t n : {1, 2, 3}) orders.AppendRecord({Variant(n)});
  TZelTable& lines = MakeTable("Lines", {"OrderNo", "Item"}, "OrderNo;Item", true);
  for (auto [order, item] : std::vector<std::pair<int32_t, int32_t>>{
           {1, 11}, {2, 21}, {1, 12}, {3, 31}, {2, 22}, {2, 23}})
    lines.AppendRecord({Variant(order), Variant(item)});

  plat::TDataSource source(nullptr);
  source.SetDataSet(&orders);
  lines.SetMasterFields("OrderNo");
  lines.SetMasterSource(&source);
  orders.First();
  EXPECT_EQ(Rows(lines, {"Item"}), "11 12");
  orders.Next();
  EXPECT_EQ(lines.FieldByName("Item")->AsInteger(), 21) << "scrolling the master moves the detail";
  EXPECT_EQ(lines.RecordCount(), 3);
  EXPECT_EQ(Rows(lines, {"Item"}), "21 22 23");

  lines.Insert();
  EXPECT_EQ(lines.FieldByName("OrderNo")->AsInteger(), 2) << "a new detail takes the link";
  lines.FieldByName("Item")->SetAsInteger(24);
  lines.Post();
  EXPECT_EQ(Rows(lines, {"Item"}), "21 22 23 24");
  orders.Last();
  EXPECT_EQ(Rows(lines, {"Item"}), "31");
  {
    plat::TDataSource back(nullptr);
    back.SetDataSet(&lines);
    ExpectDatabaseError("Circular datalinks", [&] { orders.SetMasterSource(&back); });
  }

  // A detail opened after its master takes the range at once.
  lines.Close();
  lines.Open();
  EXPECT_EQ(Rows(lines, {"Item"}), "31");

  // More link fields than the detail's index has fields.
  lines.SetMasterFields("OrderNo;OrderNo;OrderNo");
  ExpectDatabaseError("Master-detail errorOrderNo is not a valid index field for this index",
                      [&] { lines.Insert(); });
  lines.Cancel();
  lines.SetMasterSource(nullptr);
  EXPECT_EQ(lines.RecordCount(), 7) << "without a master every record shows";
}

INSTANTIATE_TEST_SUITE_P(MemoryAndDisk, KeySuite, ::testing::Values(false, true),
                         datasettest::MemoryOrDiskName);

TEST(KeysAcrossProcesses, ARangeSeesAnotherProcessesChangesAtTheNextLock) {
  testsupport::TempDir dir;
  const std::string file = dir.File("shared.zel");
  auto connect = [&](TZelDataBase& Db) {
    Db.SetDataBaseName(file);
    Db.SetLockRetryInterval(2);
    Db.SetConnected(true);
  };
  {
    TZelDataBase db;
    db.SetDataBaseName(file);
    db.CreateDatabase();
  }
  TZelDataBase db;
  connect(db);
  TZelTable t;
  t.SetDataBase(&db);
  t.SetTableName("Nums");
  t.FieldDefs().Add("K", plat::ftInteger);
  t.IndexDefs().Add("ixK", "K", {plat::ixUnique});
  t.CreateTable();
  t.Open();
  for (int32_t k = 10; k <= 50; k += 10) t.AppendRecord({Variant(k)});
  t.SetRange({Variant(20)}, {Variant(40)});
  EXPECT_EQ(t.RecordCount(), 3);
  t.Last();
  EXPECT_EQ(t.RecNo(), 3);

  const int code = testsupport::RunInChild([&] {
    TZelDataBase other;
    connect(other);
    TZelTable mine;
    mine.SetDataBase(&other);
    mine.SetTableName("Nums");
    mine.Open();
    if (!mine.FindKey({Variant(30)})) return 1;
    mine.Delete();
    mine.AppendRecord({Variant(25)});
    mine.AppendRecord({Variant(35)});
    mine.AppendRecord({Variant(5)});
    mine.Close();
    other.SetConnected(false);
    return 0;
  });
  ASSERT_EQ(code, 0);
  EXPECT_EQ(t.RecordCount(), 4);
  t.SetRecNo(2);
  EXPECT_EQ(t.FieldByName("K")->AsInteger(), 25);
  std::string rows;
  for (t.First(); !t.Eof(); t.Next()) rows += t.FieldByName("K")->AsString() + " ";
  EXPECT_EQ(rows, "20 25 35 40 ");
  t.Close();
  db.SetConnected(false);
  EXPECT_TRUE(testsupport::DatabaseIsIntact(file));
}

}  // namespace
}  // namespace zel
