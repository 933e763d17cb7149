// Seeks from a key buffer, the read-ahead batch around a record reached by a
// search or a step, the index and field definitions a table reports, and
// where a posted record leaves the cursor. On the memory database and on a
// database file.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../storage/StorageTestSupport.h"
#include "DatabaseSuite.h"
#include "engine/dataset/zelDatabase.h"
#include "platform/db/DataSource.h"
#include "platform/db/Fields.h"

namespace zel {
namespace {

using plat::Variant;
using storagetest::ExpectError;

// A table that shows its read-ahead batch and walks the cursor the way one
// framework fetch does.
class ProbeTable : public TZelTable {
 public:
  using TZelTable::TZelTable;
  bool BatchHolds(uint32_t RecAddr) const { return ReadAhead_->GetBufferItem(RecAddr) != nullptr; }
  int32_t BatchCount() const { return ReadAhead_->Count(); }
  uint32_t CurrentAddr() const {
    return ix::LoadU32(RecBuf_.data() + RecordSize_ + rbRecAddr);
  }
  // Steps inside one fetch: '+' next, '-' prior; the first field of each
  // record reached, "|" for a step that failed.
  std::string Walk(const std::string& Steps) {
    TReadAheadScope scope(*this);
    std::string out;
    for (char c : Steps) {
      const bool moved = c == '+' ? DataSetNext() : DataSetPrior();
      out += (out.empty() ? "" : " ") +
             (moved ? DataSetGetFieldDataAsVariant(0).AsString() : std::string("|"));
    }
    return out;
  }
};

class SeekSuite : public datasettest::MemoryOrDiskDatabase {
 protected:
  ProbeTable& NewProbe(const std::string& Name) {
    Tables.push_back(std::make_unique<ProbeTable>());
    auto& t = static_cast<ProbeTable&>(*Tables.back());
    t.SetDataBase(Db.get());
    t.SetTableName(Name);
    t.SetMemory(!Disk());
    return t;
  }

  // An open table of two integer fields with a unique index "ix" + Name on
  // IndexFields, holding the rows given.
  ProbeTable& MakePairTable(const std::string& Name, const std::string& First,
                            const std::string& Second, const std::string& IndexFields,
                            const std::vector<std::pair<int32_t, int32_t>>& Rows) {
    ProbeTable& t = NewProbe(Name);
    t.FieldDefs().Add(First, plat::ftInteger);
    t.FieldDefs().Add(Second, plat::ftInteger);
    t.IndexDefs().Add("ix" + Name, IndexFields, {plat::ixUnique});
    t.CreateTable();
    t.Open();
    for (auto [a, b] : Rows) t.AppendRecord({Variant(a), Variant(b)});
    return t;
  }

  // K (unique index) and V = K + 1, one record per key given.
  ProbeTable& MakeKeys(const std::string& Name, const std::vector<int32_t>& Keys) {
    std::vector<std::pair<int32_t, int32_t>> rows;
    for (int32_t k : Keys) rows.emplace_back(k, k + 1);
    return MakePairTable(Name, "K", "V", "K", rows);
  }

  // An engine key buffer with the first field set to K.
  static std::vector<uint8_t> KeyOf(TZelDataSet& T, int32_t K) {
    std::vector<uint8_t> key(static_cast<size_t>(T.RecordBufferSize()), 0);
    T.DataSetSetFieldDataToRecBufAsVariant(key.data(), 0, Variant(K));
    return key;
  }

  static int32_t CursorK(TZelDataSet& T) { return T.DataSetGetFieldDataAsVariant(0).AsInteger(); }
};

TEST_P(SeekSuite, AFailedSeekFromABufferFallsBackToTheNearestRecord) {
  ProbeTable& t = MakeKeys("Tens", {30, 10, 20});
  struct Case {
    bool Range;  // a range from 10 to 20
    int32_t Key;
    TIndexSearchType Type;
    bool Found;
    int32_t Lands;  // K of the cursor's record after the fallback
  };
  const std::vector<Case> cases = {
      {false, 20, stEQ, true, 20},  {false, 25, stEQ, false, 30}, {false, 99, stEQ, false, 30},
      {false, 5, stEQ, false, 10},  {false, 25, stGE, true, 30},  {false, 25, stLE, true, 20},
      {true, 15, stEQ, false, 20},  {true, 25, stEQ, false, 20},  {true, 25, stGE, false, 20},
      {true, 25, stLE, true, 20},   {true, 5, stEQ, false, 10},   {true, 5, stLE, false, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("key " + std::to_string(c.Key) + " type " + std::to_string(c.Type) +
                 (c.Range ? " in range" : ""));
    if (c.Range)
      t.SetRange({Variant(10)}, {Variant(20)});
    else
      t.CancelRange();
    const std::vector<uint8_t> key = KeyOf(t, c.Key);
    EXPECT_EQ(t.FindBuf(key.data(), c.Type, t.CurrentIndexName(), {}, true), c.Found);
    ASSERT_TRUE(t.HasCurrentRecord());
    EXPECT_EQ(CursorK(t), c.Lands);
    EXPECT_EQ(t.DataSetGetFieldDataAsVariant(1).AsInteger(), c.Lands + 1) << "the whole record";
    // The cursor stands on it: a step goes on from there.
    const bool last = c.Lands == (c.Range ? 20 : 30);
    EXPECT_EQ(t.DataSetNext(), !last);
  }
  // Without the fallback a failed seek does not pretend to a record.
  t.CancelRange();
  const std::vector<uint8_t> key = KeyOf(t, 25);
  EXPECT_FALSE(t.FindBuf(key.data(), stEQ, t.CurrentIndexName(), {}, false));
  ExpectError(0x270D, "Index nothing",
              [&] { t.FindBuf(key.data(), stEQ, "nothing", {}, true); });
  // An empty range has no nearest record.
  t.SetRange({Variant(21)}, {Variant(29)});
  EXPECT_FALSE(t.FindBuf(key.data(), stEQ, t.CurrentIndexName(), {}, true));
  EXPECT_FALSE(t.HasCurrentRecord());
}

TEST_P(SeekSuite, AFieldKeyedToItsHighestPassesAllItsValues) {
  std::vector<std::pair<int32_t, int32_t>> rows;
  for (int32_t a = 1; a <= 3; ++a)
    for (int32_t b = 1; b <= 3; ++b) rows.emplace_back(a, b);
  ProbeTable& t = MakePairTable("AB", "A", "B", "A;B", rows);
  struct Case {
    bool Highest;  // B to its highest, else to its lowest
    TIndexSearchType Type;
    std::string Lands;
  };
  const std::vector<Case> cases = {
      {true, stLE, "2.3"}, {true, stGT, "3.1"}, {true, stLT, "2.3"},
      {false, stGE, "2.1"}, {false, stLT, "1.3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Highest ? "highest" : "lowest") + " type " + std::to_string(c.Type));
    std::vector<uint8_t> key = KeyOf(t, 2);
    if (!c.Highest) {
      key[static_cast<size_t>(t.GetInternalField(1)->NullFlagOffset())] = kfLowest;
      ix::StoreU32(key.data() + t.RecordSize() + rbKeyMarker, kfLowest);
    }
    std::memcpy(t.RecordBuffer(), key.data(), key.size());
    if (c.Highest) t.SetFieldKeyFlagToMax(1);
    ASSERT_TRUE(t.Find(c.Type, "ixAB", {}));
    EXPECT_EQ(CursorK(t) * 10 + t.DataSetGetFieldDataAsVariant(1).AsInteger(),
              std::stoi(c.Lands.substr(0, 1)) * 10 + std::stoi(c.Lands.substr(2)));
  }
}

TEST_P(SeekSuite, StepsAndSearchesReadTheRecordsAroundTheOneReached) {
  std::vector<int32_t> keys;
  for (int32_t k = 1; k <= 40; ++k) keys.push_back(k);
  ProbeTable& t = MakeKeys("Forty", keys);
  t.SetReadAheadBufferSize(4);
  ASSERT_TRUE(t.FindKey({Variant(20)}));
  if (Disk()) {
    // The search reads its neighbours with the record found.
    EXPECT_TRUE(t.BatchHolds(t.CurrentAddr()));
    EXPECT_GE(t.BatchCount(), 3);
  } else {
    EXPECT_EQ(t.BatchCount(), 0) << "memory tables are read where they lie";
  }
  // Steps inside one fetch run from the batch and past its ends, back and
  // forth; the same from a record not found by a search.
  EXPECT_EQ(t.Walk("+++++++--------------+"),
            "21 22 23 24 25 26 27 26 25 24 23 22 21 20 19 18 17 16 15 14 13 14");
  EXPECT_EQ(t.Walk("----"), "13 12 11 10");
  ASSERT_TRUE(t.DataSetLast());
  EXPECT_EQ(t.Walk("++--+"), "| | 39 38 39");
  ASSERT_TRUE(t.DataSetFirst());
  EXPECT_EQ(t.Walk("-+++"), "| 2 3 4");

  // A change through another cursor between two fetches shows at once.
  TZelTable& other = NewTable("Forty");
  other.Open();
  ASSERT_TRUE(other.FindKey({Variant(5)}));
  other.Delete();
  other.AppendRecord({Variant(100), Variant(101)});
  ASSERT_TRUE(other.FindKey({Variant(6)}));
  other.Edit();
  other.FieldByName("K")->SetAsInteger(-6);
  other.Post();
  EXPECT_EQ(t.Walk("++++"), "7 8 9 10");
  EXPECT_EQ(t.Walk("-------"), "9 8 7 4 3 2 1");
  EXPECT_EQ(t.Walk("-"), "-6");
  ASSERT_TRUE(t.DataSetLast());
  EXPECT_EQ(CursorK(t), 100);
}

TEST_P(SeekSuite, APostedRecordIsTheCurrentOne) {
  struct Case {
    bool Append;
    int32_t Key;
    int32_t RecNo;
  };
  const std::vector<Case> cases = {
      {true, 15, 2}, {true, 5, 1}, {true, 35, 4}, {false, 15, 2}, {false, 5, 1}, {false, 35, 4},
  };
  int32_t n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Append ? "Append " : "Insert ") + std::to_string(c.Key));
    ProbeTable& t = MakeKeys("Post" + std::to_string(n++), {10, 20, 30});
    t.Last();
    if (c.Append)
      t.Append();
    else
      t.Insert();
    t.FieldByName("K")->SetAsInteger(c.Key);
    t.FieldByName("V")->SetAsInteger(c.Key + 1);
    t.Post();
    EXPECT_EQ(t.FieldByName("K")->AsInteger(), c.Key);
    EXPECT_EQ(t.RecNo(), c.RecNo);
    t.Next();
    EXPECT_EQ(t.Eof(), c.RecNo == 4);
    if (!t.Eof()) {
      EXPECT_GT(t.FieldByName("K")->AsInteger(), c.Key);
    }
  }
  // The same inside a range, for a key inside it.
  ProbeTable& t = MakeKeys("PostRange", {10, 20, 30, 40});
  t.SetRange({Variant(15)}, {Variant(35)});
  t.Append();
  t.FieldByName("K")->SetAsInteger(25);
  t.Post();
  EXPECT_EQ(t.FieldByName("K")->AsInteger(), 25);
  EXPECT_EQ(t.RecNo(), 2);
  EXPECT_EQ(t.RecordCount(), 3);
}

// The names of a string list, separated by ",".
std::string Joined(const plat::TStrings& List) {
  std::string out;
  for (int32_t i = 0; i < List.Count(); ++i) out += (i > 0 ? "," : "") + List.Strings(i);
  return out;
}

TEST_P(SeekSuite, TheIndexesAndFieldsAreReportedAsTheyWereDefined) {
  ProbeTable& t = NewProbe("People");
  t.FieldDefs().Add("Id", plat::ftInteger, 0, true);
  t.FieldDefs().Add("Name", plat::ftString, 20);
  t.FieldDefs().Add("City", plat::ftWideString, 12);
  t.FieldDefs().Add("Tag", plat::ftBytes, 6);
  t.IndexDefs().Add("pk", "Id", {plat::ixPrimary, plat::ixUnique});
  plat::TIndexDef* mixed = t.IndexDefs().Add("byNameCity", "Name;City", {});
  mixed->SetCaseInsFields("Name");
  mixed->SetDescFields("City");
  t.IndexDefs().Add("byCity", "City", {plat::ixCaseInsensitive, plat::ixDescending});
  t.CreateTable();
  plat::TStringList names;
  t.GetIndexNames(names);
  EXPECT_EQ(Joined(names), "pk,byNameCity,byCity") << "read from the stored definition";
  t.Open();

  EXPECT_EQ(t.InternalGetIndexCount(), 3);
  EXPECT_EQ(t.GetIndexCount(), 3);
  t.GetIndexNames(names);
  EXPECT_EQ(Joined(names), "pk,byNameCity,byCity");
  t.GetIndexFieldNamesList(names);
  EXPECT_EQ(Joined(names), "Id,Name;City,City") << "the record number of a non-unique key is no field";

  struct IndexCase {
    std::string Name, Fields, CaseIns, Desc;
    bool Primary, Unique, CaseInsOption, DescOption;
  };
  const std::vector<IndexCase> indexes = {
      {"pk", "Id", "", "", true, true, false, false},
      {"byNameCity", "Name;City", "Name", "City", false, false, true, true},
      {"byCity", "City", "City", "City", false, false, true, true},
  };
  ASSERT_EQ(t.IndexDefs().Count(), 3);
  for (size_t i = 0; i < indexes.size(); ++i) {
    const IndexCase& c = indexes[i];
    const plat::TIndexDef* def = t.IndexDefs().Items(static_cast<int32_t>(i));
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(def->Name(), c.Name);
    EXPECT_EQ(def->Fields(), c.Fields);
    EXPECT_EQ(def->CaseInsFields(), c.CaseIns);
    EXPECT_EQ(def->DescFields(), c.Desc);
    EXPECT_EQ(def->Options().Contains(plat::ixPrimary), c.Primary);
    EXPECT_EQ(def->Options().Contains(plat::ixUnique), c.Unique);
    EXPECT_EQ(def->Options().Contains(plat::ixCaseInsensitive), c.CaseInsOption);
    EXPECT_EQ(def->Options().Contains(plat::ixDescending), c.DescOption);
  }

  // The definitions describe the same indexes again: a table made from
  // them reports them alike.
  ProbeTable& copy = NewProbe("PeopleCopy");
  copy.FieldDefs().Assign(&t.FieldDefs());
  copy.SetIndexDefs(t.IndexDefs());
  ASSERT_EQ(copy.IndexDefs().Count(), 3);
  copy.CreateTable();
  copy.Open();
  for (int32_t i = 0; i < 3; ++i) {
    const plat::TIndexDef* a = t.IndexDefs().Items(i);
    const plat::TIndexDef* b = copy.IndexDefs().Items(i);
    EXPECT_EQ(b->Name() + b->Fields() + "|" + b->CaseInsFields() + "|" + b->DescFields(),
              a->Name() + a->Fields() + "|" + a->CaseInsFields() + "|" + a->DescFields());
    EXPECT_EQ(b->Options().Contains(plat::ixUnique), a->Options().Contains(plat::ixUnique));
  }

  struct FieldsCase {
    std::string Fields;
    std::string Index;  // "" for 0x270D
  };
  const std::vector<FieldsCase> lookups = {
      {"Id", "pk"},      {"name;CITY", "byNameCity"}, {"Name; City", "byNameCity"},
      {"City", "byCity"}, {"Name", ""},               {"City;Name", ""},
      {"", ""},          {"Id;Name", ""},
  };
  for (const FieldsCase& c : lookups) {
    SCOPED_TRACE("fields '" + c.Fields + "'");
    if (c.Index.empty())
      ExpectError(0x270D, "Index " + c.Fields, [&] { t.FindIndexForFields(c.Fields); });
    else
      EXPECT_EQ(t.FindIndexForFields(c.Fields), c.Index);
  }

  struct FieldCase {
    std::string Name;
    plat::TFieldType Type;
    int32_t Size;
    bool Required;
  };
  const std::vector<FieldCase> fields = {
      {"Id", plat::ftInteger, 0, true},
      {"Name", plat::ftString, 20, false},
      {"City", plat::ftWideString, 12, false},
      {"Tag", plat::ftBytes, 6, false},
  };
  ASSERT_EQ(t.FieldDefs().Count(), 4);
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldCase& c = fields[i];
    SCOPED_TRACE(c.Name);
    plat::TFieldDefs defs;
    plat::TFieldDef& def = *defs.AddFieldDef();
    t.GetFieldDef(t.GetFieldNo(c.Name), def);
    for (const plat::TFieldDef* d : {&def, t.FieldDefs().Items(static_cast<int32_t>(i))}) {
      EXPECT_EQ(d->Name(), c.Name);
      EXPECT_EQ(d->DataType(), c.Type);
      EXPECT_EQ(d->Size(), c.Size);
      EXPECT_EQ(d->Required(), c.Required);
    }
  }
}

TEST_P(SeekSuite, ATableWithoutIndexesReportsNone) {
  ProbeTable& t = NewProbe("Bare");
  t.FieldDefs().Add("K", plat::ftInteger);
  t.CreateTable();
  t.Open();
  plat::TStringList names;
  t.GetIndexNames(names);
  EXPECT_EQ(names.Count(), 0);
  EXPECT_EQ(t.InternalGetIndexCount(), 0);
  EXPECT_EQ(t.GetIndexCount(), 0);
  EXPECT_EQ(t.IndexName(), "");
  ExpectError(0x270D, "", [&] { t.FindIndexForFields("K"); });
}

TEST_P(SeekSuite, ADetailTakesItsMastersRangeAgainOnRequest) {
  ProbeTable& orders = MakeKeys("Orders", {1, 2});
  ProbeTable& lines =
      MakePairTable("Lines", "OrderNo", "Item", "OrderNo;Item", {{1, 11}, {2, 21}, {2, 22}});
  plat::TDataSource source(nullptr);
  source.SetDataSet(&orders);
  lines.SetMasterFields("K");
  lines.SetMasterSource(&source);
  orders.Last();
  EXPECT_EQ(lines.RecordCount(), 2);
  for (auto reapply : std::vector<std::function<void()>>{[&] { lines.CheckMasterRange(); },
                                                         [&] { lines.Loaded(); }}) {
    lines.CancelRange();
    EXPECT_EQ(lines.RecordCount(), 3);
    reapply();
    EXPECT_EQ(lines.RecordCount(), 2);
    EXPECT_EQ(lines.FieldByName("Item")->AsInteger(), 21);
  }
  // Without a link there is nothing to take.
  lines.SetMasterSource(nullptr);
  lines.CheckMasterRange();
  EXPECT_EQ(lines.RecordCount(), 3);
}

TEST_P(SeekSuite, AFilterInsideARangeCountsNumbersAndSearchesItsOwnRecords) {
  // K from 1 to 20 but 14, V = K mod 3; the filter keeps the multiples of
  // 3 and the range 5 to 16 leaves 6, 9, 12 and 15.
  std::vector<std::pair<int32_t, int32_t>> rows;
  for (int32_t k = 20; k >= 1; --k)
    if (k != 14) rows.emplace_back(k, k % 3);
  ProbeTable& t = MakePairTable("Mixed", "K", "V", "K", rows);
  t.SetFilter("V = 0");
  t.SetFiltered(true);
  t.SetRange({Variant(5)}, {Variant(16)});
  const auto shows = [&](int32_t K, int32_t RecNo) {
    EXPECT_EQ(t.FieldByName("K")->AsInteger(), K);
    EXPECT_EQ(t.RecNo(), RecNo);
  };
  auto walk = [&] {
    std::string out;
    for (t.First(); !t.Eof(); t.Next()) out += (out.empty() ? "" : " ") + t.FieldByName("K")->AsString();
    return out;
  };
  EXPECT_EQ(t.RecordCount(), 4);
  EXPECT_EQ(walk(), "6 9 12 15");
  t.Last();
  shows(15, 4);
  t.Prior();
  shows(12, 3);
  t.SetRecNo(2);
  shows(9, 2);
  t.SetRecNo(5);
  shows(9, 2);

  struct LocateCase {
    int32_t K;
    bool Found;  // else the position stays on 9
  };
  for (const LocateCase& c : std::vector<LocateCase>{{3, false}, {7, false}, {18, false}, {12, true}}) {
    SCOPED_TRACE("Locate " + std::to_string(c.K));
    t.SetRecNo(2);
    EXPECT_EQ(t.Locate("K", Variant(c.K), {}), c.Found);
    if (c.Found)
      shows(c.K, 3);
    else
      shows(9, 2);
  }

  struct SearchCase {
    bool Nearest;
    int32_t K;
    int32_t Lands;  // 0: not found, the position stays on 9
    int32_t RecNo;
  };
  const std::vector<SearchCase> searches = {
      {false, 12, 12, 3}, {false, 7, 0, 0},  {false, 3, 0, 0},  {false, 18, 0, 0},
      {true, 7, 9, 2},    {true, 13, 15, 4}, {true, 16, 15, 4}, {true, 99, 15, 4},
      {true, 1, 6, 1},
  };
  for (const SearchCase& c : searches) {
    SCOPED_TRACE((c.Nearest ? "FindNearest " : "FindKey ") + std::to_string(c.K));
    t.SetRecNo(2);
    if (c.Nearest) {
      t.FindNearest({Variant(c.K)});
    } else {
      EXPECT_EQ(t.FindKey({Variant(c.K)}), c.Lands != 0);
    }
    if (c.Lands != 0)
      shows(c.Lands, c.RecNo);
    else
      shows(9, 2);
  }
  // The fallback of a failed seek from a buffer lands on a record of the
  // filter too.
  const std::vector<uint8_t> key = KeyOf(t, 7);
  EXPECT_FALSE(t.FindBuf(key.data(), stEQ, t.CurrentIndexName(), {}, true));
  EXPECT_EQ(CursorK(t), 9);

  // A new range filters the records of the new range.
  t.SetRange({Variant(10)}, {Variant(20)});
  EXPECT_EQ(t.RecordCount(), 3);
  EXPECT_EQ(walk(), "12 15 18");
  t.SetRange({Variant(5)}, {Variant(16)});
  // A posted record that passes both is the current one.
  t.Append();
  t.FieldByName("K")->SetAsInteger(14);
  t.FieldByName("V")->SetAsInteger(0);
  t.Post();
  shows(14, 4);
  EXPECT_EQ(t.RecordCount(), 5);
  t.Next();
  shows(15, 5);
  t.CancelRange();
  EXPECT_EQ(t.RecordCount(), 7);
  EXPECT_EQ(walk(), "3 6 9 12 14 15 18");
  t.SetFiltered(false);
  EXPECT_EQ(t.RecordCount(), 20);
  // Without the filter a locate keeps to the range all the same.
  t.SetRange({Variant(5)}, {Variant(16)});
  for (const LocateCase& c : std::vector<LocateCase>{{3, false}, {18, false}, {7, true}}) {
    SCOPED_TRACE("Locate in range " + std::to_string(c.K));
    t.SetRecNo(5);
    EXPECT_EQ(t.Locate("K", Variant(c.K), {}), c.Found);
    if (c.Found)
      shows(c.K, 3);
    else
      shows(9, 5);
  }
}

INSTANTIATE_TEST_SUITE_P(MemoryAndDisk, SeekSuite, ::testing::Values(false, true),
                         datasettest::MemoryOrDiskName);

}  // namespace
}  // namespace zel
