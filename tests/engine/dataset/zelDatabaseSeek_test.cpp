// Seeks from a key buffer, the read-ahead batch around a record reached by a
// search or a step, the index and field definitions a table reports, and
// where a posted record leaves the cursor. On the memory database and on a
// database file.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
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

  // K (unique index) and V = K + 1, one record per key given.
  ProbeTable& MakeKeys(const std::string& Name, const std::vector<int32_t>& Keys) {
    ProbeTable& t = NewProbe(Name);
    t.FieldDefs().Add("K", plat::ftInteger);
    t.FieldDefs().Add("V", plat::ftInteger);
    t.IndexDefs().Add("ix" + Name, "K", {plat::ixUnique});
    t.CreateTable();
    t.Open();
    for (int32_t k : Keys) t.AppendRecord({Variant(k), Variant(k + 1)});
    return t;
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
  ProbeTable& t = NewProbe("Pairs");
  t.FieldDefs().Add("A", plat::ftInteger);
  t.FieldDefs().Add("B", plat::ftInteger);
  t.IndexDefs().Add("ixAB", "A;B", {plat::ixUnique});
  t.CreateTable();
  t.Open();
  for (int32_t a = 1; a <= 3; ++a)
    for (int32_t b = 1; b <= 3; ++b) t.AppendRecord({Variant(a), Variant(b)});
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

INSTANTIATE_TEST_SUITE_P(MemoryAndDisk, SeekSuite, ::testing::Values(false, true),
                         datasettest::MemoryOrDiskName);

}  // namespace
}  // namespace zel
