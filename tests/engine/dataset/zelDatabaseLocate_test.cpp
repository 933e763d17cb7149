// Locate and lookup on tables, by index and by scan, and the record and hash
// lists filters and joins draw on; on the memory database and on a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "../storage/StorageTestSupport.h"
#include "DatabaseSuite.h"
#include "engine/dataset/zelDatabase.h"
#include "engine/storage/zelCommon.h"
#include "platform/db/Fields.h"

namespace zel {
namespace {

using datasettest::MemoryOrDiskDatabase;
using storagetest::ExpectError;

struct TPerson {
  const char* Name;
  const char* City;  // nullptr: null
  int32_t Age;
};

// IDs 1..5 in this order.
const std::vector<TPerson> kPeople = {{"abc", "Oslo", 30},
                                      {"Abd", "Rome", 25},
                                      {"xyz", "Rome", 30},
                                      {"bcd", nullptr, 41},
                                      {"ABX", "Oslo", 25}};

// Shows only the records whose ID is not in Hidden (nothing hidden: no
// filter).
void Hide(TZelTable& T, const std::set<int32_t>& Hidden) {
  T.SetOnFilterRecord([Hidden](plat::TDataSet* D, bool& Accept) {
    Accept = Hidden.count(D->FieldByName("ID")->AsInteger()) == 0;
  });
  T.SetFiltered(!Hidden.empty());
}

class LocateSuite : public MemoryOrDiskDatabase {
 protected:
  TZelTable& MakePeople(bool WithCalc = false) {
    TZelTable& t = NewTable("People");
    plat::TFieldDefs& f = t.FieldDefs();
    f.Add("ID", plat::ftAutoInc);
    f.Add("Name", plat::ftString, 20);
    f.Add("City", plat::ftString, 20);
    f.Add("Age", plat::ftInteger);
    f.Add("Notes", plat::ftMemo);
    t.IndexDefs().Add("pkID", "ID", {plat::ixPrimary, plat::ixUnique});
    t.IndexDefs().Add("ixName", "Name", {plat::ixCaseInsensitive});
    t.IndexDefs().Add("ixCityAge", "City;Age", {});
    t.CreateTable();
    if (WithCalc) {
      t.InitFieldDefs();
      for (int32_t i = 0; i < t.FieldDefs().Count(); ++i) t.FieldDefs().Items(i)->CreateField(&t);
      auto* label = new plat::TStringField(&t);
      label->SetFieldName("Label");
      label->SetSize(40);
      label->SetCalculated(true);
      label->SetDataSet(&t);
      t.OnCalcFields = [](plat::TDataSet* D) {
        D->FieldByName("Label")->SetAsString(D->FieldByName("Name")->AsString() + "@" +
                                             D->FieldByName("City")->AsString());
      };
    }
    t.Open();
    for (const TPerson& p : kPeople) {
      t.Append();
      t.FieldByName("Name")->SetAsString(p.Name);
      if (p.City != nullptr) t.FieldByName("City")->SetAsString(p.City);
      t.FieldByName("Age")->SetAsInteger(p.Age);
      t.Post();
    }
    return t;
  }
};

TEST_P(LocateSuite, LocateFindsTheFirstMatchByIndexOrByScan) {
  struct Case {
    const char* Fields;
    plat::Variant Values;
    plat::TLocateOptions Options;
    int32_t ID;  // 0: not found
  };
  using plat::loCaseInsensitive;
  using plat::loPartialKey;
  const std::vector<Case> cases = {
      {"Name", plat::Variant("abc"), {}, 1},
      {"Name", plat::Variant("ab"), {}, 0},
      {"Name", plat::Variant("ab"), {loPartialKey}, 1},
      // The index ignores case, the search does not: "abc" and "Abd" sort
      // before "ABX" and must not end the search.
      {"Name", plat::Variant("AB"), {loPartialKey}, 5},
      {"Name", plat::Variant("AB"), {loPartialKey, loCaseInsensitive}, 1},
      {"Name", plat::Variant("XYZ"), {}, 0},
      {"Name", plat::Variant("XYZ"), {loCaseInsensitive}, 3},
      {"City;Age", plat::VarArrayOf({"Rome", 30}), {}, 3},
      {"City;Age", plat::VarArrayOf({"Rome", 31}), {}, 0},
      {"City", plat::Variant::MakeNull(), {}, 4},
      {"Age", plat::Variant(41), {}, 4},
      {"Age;Name", plat::VarArrayOf({25, "ABX"}), {}, 5},
      {"Age;City", plat::VarArrayOf({25, "oslo"}), {loCaseInsensitive}, 5},
      {"Name;City", plat::VarArrayOf({"xyz", "Oslo"}), {}, 0},
      {"ID", plat::Variant(2), {}, 2},
  };
  TZelTable& t = MakePeople();
  for (const char* order : {"pkID", "ixName", "ixCityAge"}) {
    t.SetIndexName(order);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(order) + " " + c.Fields);
      t.Last();
      const int32_t before = t.FieldByName("ID")->AsInteger();
      EXPECT_EQ(t.Locate(c.Fields, c.Values, c.Options), c.ID != 0);
      EXPECT_EQ(t.FieldByName("ID")->AsInteger(), c.ID != 0 ? c.ID : before);
      // The cursor really stands there: the record number and the next
      // record follow the current index.
      const int32_t recNo = t.RecNo();
      t.Next();
      if (!t.Eof()) {
        EXPECT_EQ(t.RecNo(), recNo + 1);
      }
    }
  }
  t.Close();
}

TEST_P(LocateSuite, LookupReadsTheValuesAndLeavesTheCursor) {
  TZelTable& t = MakePeople(true);
  t.SetRecNo(2);
  const int32_t recNo = t.RecNo();
  const plat::Variant v = t.Lookup("Name", plat::Variant("xyz"), "City;Age;Label");
  ASSERT_TRUE(v.IsArray());
  EXPECT_EQ(v[0].AsString(), "Rome");
  EXPECT_EQ(v[1].AsInteger(), 30);
  EXPECT_EQ(v[2].AsString(), "xyz@Rome");
  EXPECT_EQ(t.RecNo(), recNo);
  EXPECT_EQ(t.FieldByName("ID")->AsInteger(), 2);
  EXPECT_TRUE(t.Lookup("Name", plat::Variant("nobody"), "City").IsNull());
  EXPECT_EQ(t.Lookup("City;Age", plat::VarArrayOf({"Oslo", 25}), "Name").AsString(), "ABX");
  t.Next();
  EXPECT_EQ(t.FieldByName("ID")->AsInteger(), 3) << "the cursor moves on from where it was";
  t.Close();
}

TEST_P(LocateSuite, FieldsThatCannotBeLocatedAreRefused) {
  TZelTable& t = MakePeople(true);
  ExpectError(0x2710, "Label", [&] { t.Locate("Label", plat::Variant("abc@Oslo"), {}); });
  ExpectError(0x2710, "", [&] { t.Locate("Notes", plat::Variant("x"), {}); });
  EXPECT_THROW(t.Locate("Nope", plat::Variant(1), {}), plat::EDatabaseError);
  // One value per field.
  ExpectError(0x2702, "1 values for 2 fields",
              [&] { t.Locate("Name;Age", plat::Variant("abc"), {}); });
  ExpectError(0x2702, "", [&] { t.Locate("Name;Age", plat::VarArrayOf({"abc", 30, 1}), {}); });
  EXPECT_TRUE(t.Locate("Name", plat::VarArrayOf({"abc"}), {}));
  // A locate in edit state posts the edit first.
  t.First();
  t.Edit();
  t.FieldByName("Age")->SetAsInteger(99);
  EXPECT_TRUE(t.Locate("Age", plat::Variant(99), {}));
  EXPECT_EQ(t.State(), plat::dsBrowse);
  t.Close();
}

TEST_P(LocateSuite, ARecordTheFilterHidesIsPassedOver) {
  TZelTable& t = MakePeople();
  Hide(t, {1});
  EXPECT_TRUE(t.Locate("Name", plat::Variant("ab"), {plat::loPartialKey, plat::loCaseInsensitive}));
  EXPECT_EQ(t.FieldByName("ID")->AsInteger(), 2) << "abc is hidden, Abd comes next";
  EXPECT_FALSE(t.Locate("Name", plat::Variant("ab"), {plat::loPartialKey}));
  Hide(t, {1, 2, 5});
  EXPECT_FALSE(
      t.Locate("Name", plat::Variant("ab"), {plat::loPartialKey, plat::loCaseInsensitive}));
  EXPECT_TRUE(t.Lookup("Age", plat::Variant(25), "ID").IsNull());
  t.Close();
}

TEST_P(LocateSuite, ARangeLimitsWhatLocateAndListsSee) {
  TZelTable& t = MakePeople();
  t.SetIndexName("ixCityAge");
  t.SetRange({plat::Variant("Oslo")}, {plat::Variant("Oslo")});
  EXPECT_FALSE(t.Locate("Name", plat::Variant("xyz"), {}));
  EXPECT_TRUE(t.Locate("Age", plat::Variant(25), {}));
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "ABX") << "Abd is in Rome";
  EXPECT_TRUE(t.Lookup("City;Age", plat::VarArrayOf({"Rome", 30}), "ID").IsNull());
  EXPECT_EQ(t.Lookup("City;Age", plat::VarArrayOf({"Oslo", 30}), "ID").AsInteger(), 1);
  plat::TList all;
  t.LoadCompleteListOfRecords(all);
  EXPECT_EQ(all.Count(), 2);
  TZelBaseHash hash(64, 20, 64);
  hash.SetSourceFieldName("Name");
  t.LoadHashListOfRecords(hash, nullptr, false);
  EXPECT_EQ(hash.Count(), 2);
  EXPECT_TRUE(hash.Find("ABX", 3));
  EXPECT_FALSE(hash.Find("Abd", 3));
  // An empty range finds nothing.
  t.SetRange({plat::Variant("Rome")}, {plat::Variant("Oslo")});
  EXPECT_FALSE(t.Locate("Age", plat::Variant(25), {}));
  t.CancelRange();
  EXPECT_TRUE(t.Locate("Name", plat::Variant("xyz"), {}));
  t.Close();
}

TEST_P(LocateSuite, RecordListsAndHashListsHoldEveryRecordWithAValue) {
  TZelTable& t = MakePeople();
  std::map<int32_t, uint32_t> address;  // ID -> record address
  for (t.First(); !t.Eof(); t.Next())
    address[t.FieldByName("ID")->AsInteger()] = ix::LoadU32(t.GetBookmark().data());
  t.SetIndexName("ixName");
  plat::TList all;
  t.LoadCompleteListOfRecords(all);
  ASSERT_EQ(all.Count(), 5);
  const std::vector<int32_t> byName = {1, 2, 5, 4, 3};
  for (int32_t i = 0; i < all.Count(); ++i)
    EXPECT_EQ(static_cast<uint32_t>(ListEntryToInt(all.Items(i))),
              address[byName[static_cast<size_t>(i)]]);

  struct Case {
    const char* Field;
    std::set<int32_t> Hidden;
    bool WithList;
  };
  // City and Name fill from an index, Age from the records; a filter
  // decides the records either way.
  const std::vector<Case> cases = {{"Name", {}, false},   {"City", {}, false},
                                   {"Age", {}, false},    {"Name", {3}, false},
                                   {"Age", {2, 3}, true}, {"City", {1}, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Field);
    Hide(t, c.Hidden);
    TZelBaseHash hash(64, 20, 64);
    hash.SetSourceFieldName(c.Field);
    plat::TList list;
    t.LoadHashListOfRecords(hash, c.WithList ? &list : nullptr, false);
    int32_t expected = 0;
    for (size_t i = 0; i < kPeople.size(); ++i) {
      const int32_t id = static_cast<int32_t>(i) + 1;
      const TPerson& p = kPeople[i];
      const bool shown = c.Hidden.count(id) == 0;
      if (c.WithList && shown) {
        EXPECT_NE(list.IndexOf(IntToListEntry(static_cast<int32_t>(address[id]))), -1);
      }
      std::string key;
      if (std::string(c.Field) == "Name") key = p.Name;
      if (std::string(c.Field) == "City") {
        if (p.City == nullptr) continue;
        key = p.City;
      }
      if (std::string(c.Field) == "Age") key.assign(reinterpret_cast<const char*>(&p.Age), 4);
      if (!shown) continue;
      ++expected;
      plat::TList matches;
      hash.GetPossibleMatchList(key.data(), static_cast<int32_t>(key.size()), matches);
      EXPECT_NE(matches.IndexOf(IntToListEntry(static_cast<int32_t>(address[id]))), -1) << key;
    }
    EXPECT_EQ(hash.Count(), expected);
    if (c.WithList) {
      EXPECT_EQ(list.Count(), 5 - static_cast<int32_t>(c.Hidden.size()));
    }
  }
  t.Close();
}

// Random rows and random locates under changing filters, checked against a
// pass over the rows: a locate finds a record exactly when one that the
// filter shows matches, and what it finds matches.
TEST_P(LocateSuite, RandomLocatesAgreeWithAPassOverTheRows) {
  const uint32_t seed = 20261210;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  TZelTable& t = NewTable("Random");
  t.FieldDefs().Add("ID", plat::ftAutoInc);
  t.FieldDefs().Add("S", plat::ftString, 6);
  t.FieldDefs().Add("N", plat::ftInteger);
  t.IndexDefs().Add("pk", "ID", {plat::ixPrimary, plat::ixUnique});
  t.IndexDefs().Add("ixS", "S", {plat::ixCaseInsensitive});
  t.IndexDefs().Add("ixSCase", "S;N", {});
  t.IndexDefs().Add("ixN", "N", {plat::ixDescending});
  t.CreateTable();
  t.Open();
  const char letters[] = "aAbB";
  const auto word = [&] {
    std::string s;
    const int len = static_cast<int>(rng() % 4);
    for (int i = 0; i < len; ++i) s += letters[rng() % 4];
    return s;
  };
  struct TRow {
    std::string S;  // empty: null
    int32_t N;
  };
  std::vector<TRow> rows;
  for (int i = 0; i < 120; ++i) {
    TRow r{word(), static_cast<int32_t>(rng() % 5)};
    t.Append();
    if (!r.S.empty()) t.FieldByName("S")->SetAsString(r.S);
    t.FieldByName("N")->SetAsInteger(r.N);
    t.Post();
    rows.push_back(r);
  }
  const auto matches = [](const TRow& Row, const std::string& S, bool UseS, int32_t N, bool UseN,
                          plat::TLocateOptions Options) {
    if (UseN && Row.N != N) return false;
    if (!UseS) return true;
    if (S.empty() || Row.S.empty()) return S.empty() && Row.S.empty();
    std::string have = Row.S;
    if (Options.Contains(plat::loPartialKey)) have = have.substr(0, S.size());
    if (have.size() != S.size()) return false;
    for (size_t i = 0; i < S.size(); ++i) {
      const bool same = Options.Contains(plat::loCaseInsensitive)
                            ? std::tolower(have[i]) == std::tolower(S[i])
                            : have[i] == S[i];
      if (!same) return false;
    }
    return true;
  };
  const char* orders[] = {"pk", "ixS", "ixSCase", "ixN"};
  std::set<int32_t> hidden;
  for (int q = 0; q < 300; ++q) {
    // Now and then another filter: what it hides is never found.
    if (q % 60 == 30) {
      hidden.clear();
      for (int i = 0; i < 40; ++i) hidden.insert(static_cast<int32_t>(rng() % rows.size()) + 1);
      Hide(t, hidden);
    } else if (q % 60 == 0) {
      hidden.clear();
      Hide(t, hidden);
    }
    t.SetIndexName(orders[rng() % 4]);
    const std::string s = word();
    const int32_t n = static_cast<int32_t>(rng() % 6);
    const int kind = static_cast<int>(rng() % 3);
    plat::TLocateOptions options;
    if (rng() % 2) options.Include(plat::loPartialKey);
    if (rng() % 2) options.Include(plat::loCaseInsensitive);
    const plat::Variant sv = s.empty() ? plat::Variant::MakeNull() : plat::Variant(s);
    bool found = false;
    if (kind == 0) found = t.Locate("S", sv, options);
    if (kind == 1) found = t.Locate("N", plat::Variant(n), options);
    if (kind == 2) found = t.Locate("N;S", plat::VarArrayOf({n, sv}), options);
    bool any = false;
    for (size_t i = 0; i < rows.size(); ++i)
      any = any || (hidden.count(static_cast<int32_t>(i) + 1) == 0 &&
                    matches(rows[i], s, kind != 1, n, kind != 0, options));
    ASSERT_EQ(found, any) << "query " << q << " S='" << s << "' N=" << n << " kind " << kind
                          << " order " << t.IndexName() << " partial "
                          << options.Contains(plat::loPartialKey) << " no case "
                          << options.Contains(plat::loCaseInsensitive);
    if (found) {
      const int32_t id = t.FieldByName("ID")->AsInteger();
      EXPECT_TRUE(matches(rows[static_cast<size_t>(id - 1)], s, kind != 1, n, kind != 0, options))
          << "query " << q;
      EXPECT_EQ(hidden.count(id), 0u) << "query " << q;
    }
  }
  t.Close();
}

INSTANTIATE_TEST_SUITE_P(MemoryAndDisk, LocateSuite, ::testing::Values(false, true),
                         datasettest::MemoryOrDiskName);

}  // namespace
}  // namespace zel
