// Filters on tables: Filter, Filtered, FilterOptions and OnFilterRecord
// (alone and inside a range) checked against a model of the rows, the
// filter's record list kept
// current across changes of this and of other processes, the find
// operations and the SQL engine's filter driver.
#include "engine/dataset/zelDatabase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "../storage/StorageTestSupport.h"
#include "engine/expr/zelFilterUnit.h"
#include "platform/db/Fields.h"
#include "support/DatabaseCheck.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using storagetest::ExpectError;

// One row of table Items as the model holds it.
struct TModelRow {
  int32_t ID = 0;
  int32_t Num = 0;
  std::optional<int32_t> Opt;
  std::string Name;
  std::optional<std::string> Tag;
};

// A condition as filter text and as the model's verdict on a row.
struct TCondition {
  std::string Text;
  std::function<bool(const TModelRow&)> Holds;
};

// Null orders before every value and equals Null (table filters do not
// exclude Nulls from comparisons).
template <typename T>
int Compare(const std::optional<T>& A, const T& B) {
  if (!A) return -1;
  return *A < B ? -1 : (B < *A ? 1 : 0);
}

bool Apply(const std::string& Op, int Cmp) {
  if (Op == "=") return Cmp == 0;
  if (Op == "<>") return Cmp != 0;
  if (Op == "<") return Cmp < 0;
  if (Op == "<=") return Cmp <= 0;
  if (Op == ">") return Cmp > 0;
  return Cmp >= 0;
}

// Random conditions over Items. String values are lowercase letters, at
// least two long, and constants at most two long, so that a partial
// comparison is a comparison of the value's prefix.
class TConditionGenerator {
 public:
  TConditionGenerator(std::mt19937& Rng, bool Partial, bool CaseInsensitive)
      : Rng_(Rng), Partial_(Partial), CaseInsensitive_(CaseInsensitive) {}

  TCondition Condition(int Depth) {
    if (Depth <= 0 || Pick(3) == 0) return Leaf();
    switch (Pick(3)) {
      case 0: {
        TCondition a = Condition(Depth - 1), b = Condition(Depth - 1);
        return {"(" + a.Text + ") and (" + b.Text + ")",
                [a, b](const TModelRow& R) { return a.Holds(R) && b.Holds(R); }};
      }
      case 1: {
        TCondition a = Condition(Depth - 1), b = Condition(Depth - 1);
        return {"(" + a.Text + ") or (" + b.Text + ")",
                [a, b](const TModelRow& R) { return a.Holds(R) || b.Holds(R); }};
      }
      default: {
        TCondition a = Condition(Depth - 1);
        return {"not (" + a.Text + ")", [a](const TModelRow& R) { return !a.Holds(R); }};
      }
    }
  }

 private:
  int Pick(int N) { return static_cast<int>(Rng_() % static_cast<uint32_t>(N)); }
  std::string Op() {
    static const char* const ops[] = {"=", "<>", "<", "<=", ">", ">="};
    return ops[Pick(6)];
  }
  std::string Word(int MaxLength) {
    std::string w;
    const int n = 1 + Pick(MaxLength);
    for (int i = 0; i < n; ++i) w += static_cast<char>('a' + Pick(4));
    return w;
  }
  std::string Quoted(const std::string& Word) {
    std::string text = Word;
    if (CaseInsensitive_ && Pick(2) == 0)
      for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "'" + text + "'";
  }
  std::string Prefix(const std::string& Value, size_t Length) const {
    return Partial_ ? Value.substr(0, Length) : Value;
  }

  TCondition Leaf() {
    switch (Pick(9)) {
      case 0: {
        const std::string op = Op();
        const int c = Pick(51);
        return {"Num " + op + " " + std::to_string(c),
                [op, c](const TModelRow& R) { return Apply(op, Compare(std::optional(R.Num), c)); }};
      }
      case 1: {
        const std::string op = Op();
        const int c = Pick(21);
        return {"Opt " + op + " " + std::to_string(c),
                [op, c](const TModelRow& R) { return Apply(op, Compare(R.Opt, c)); }};
      }
      case 2: {
        const bool isNull = Pick(2) == 0;
        return {std::string("Opt is ") + (isNull ? "null" : "not null"),
                [isNull](const TModelRow& R) { return R.Opt.has_value() != isNull; }};
      }
      case 3: {
        const int lo = Pick(51), hi = lo + Pick(15);
        return {"Num between " + std::to_string(lo) + " and " + std::to_string(hi),
                [lo, hi](const TModelRow& R) { return R.Num >= lo && R.Num <= hi; }};
      }
      case 4: {
        const int a = Pick(51), b = Pick(51), c = Pick(51);
        return {"Num in (" + std::to_string(a) + ", " + std::to_string(b) + ", " + std::to_string(c) + ")",
                [a, b, c](const TModelRow& R) { return R.Num == a || R.Num == b || R.Num == c; }};
      }
      case 5:
      case 6: {
        const std::string op = Op();
        const std::string w = Word(2);
        return {"Name " + op + " " + Quoted(w), [this, op, w](const TModelRow& R) {
                  return Apply(op, Compare(std::optional(Prefix(R.Name, w.size())), w));
                }};
      }
      case 7: {
        const std::string w = Word(2);
        return {"Name like " + Quoted(w + "%"),
                [w](const TModelRow& R) { return R.Name.compare(0, w.size(), w) == 0; }};
      }
      default: {
        const std::string op = Op();
        const std::string w = Word(2);
        return {"Tag " + op + " " + Quoted(w), [this, op, w](const TModelRow& R) {
                  std::optional<std::string> tag;
                  if (R.Tag) tag = Prefix(*R.Tag, w.size());
                  return Apply(op, Compare(tag, w));
                }};
      }
    }
  }

  std::mt19937& Rng_;
  bool Partial_;
  bool CaseInsensitive_;
};

class FilterTest : public ::testing::Test {
 protected:
  std::string File() const { return Dir.File("filters.zel"); }

  std::unique_ptr<TZelDataBase> Connect() {
    auto db = std::make_unique<TZelDataBase>();
    db->SetDataBaseName(File());
    db->SetLockRetryMaximum(3);
    db->SetLockRetryInterval(2);
    db->SetConnected(true);
    return db;
  }

  std::unique_ptr<TZelTable> Table(TZelDataBase& Db) {
    auto t = std::make_unique<TZelTable>();
    t->SetDataBase(&Db);
    t->SetTableName("Items");
    return t;
  }

  void SetUp() override {
    TZelDataBase db;
    db.SetDataBaseName(File());
    db.CreateDatabase();
    db.SetConnected(true);
    auto t = Table(db);
    plat::TFieldDefs& f = t->FieldDefs();
    f.Add("ID", plat::ftAutoInc);
    f.Add("Num", plat::ftInteger);
    f.Add("Opt", plat::ftInteger);
    f.Add("Name", plat::ftString, 8);
    f.Add("Tag", plat::ftString, 8);
    t->IndexDefs().Add("pkID", "ID", {plat::ixPrimary, plat::ixUnique});
    t->IndexDefs().Add("ixNum", "Num", {});
    t->IndexDefs().Add("ixOpt", "Opt", {plat::ixDescending});
    t->IndexDefs().Add("ixName", "Name", {});
    t->IndexDefs().Add("ixTag", "Tag", {plat::ixCaseInsensitive});
    t->CreateTable();
    db.SetConnected(false);
  }

  void TearDown() override { EXPECT_TRUE(testsupport::DatabaseIsIntact(File())); }

  static std::string RandomWord(std::mt19937& Rng, int MinLength, int MaxLength) {
    std::string w;
    const int n = MinLength + static_cast<int>(Rng() % static_cast<uint32_t>(MaxLength - MinLength + 1));
    for (int i = 0; i < n; ++i) w += static_cast<char>('a' + Rng() % 4);
    return w;
  }

  static void SetRow(TZelTable& T, std::mt19937& Rng) {
    T.FieldByName("Num")->SetAsInteger(static_cast<int32_t>(Rng() % 51));
    if (Rng() % 5 == 0)
      T.FieldByName("Opt")->Clear();
    else
      T.FieldByName("Opt")->SetAsInteger(static_cast<int32_t>(Rng() % 21));
    T.FieldByName("Name")->SetAsString(RandomWord(Rng, 2, 5));
    if (Rng() % 5 == 0)
      T.FieldByName("Tag")->Clear();
    else
      T.FieldByName("Tag")->SetAsString(RandomWord(Rng, 2, 4));
  }

  static TModelRow Current(TZelTable& T) {
    TModelRow row;
    row.ID = T.FieldByName("ID")->AsInteger();
    row.Num = T.FieldByName("Num")->AsInteger();
    if (!T.FieldByName("Opt")->IsNull()) row.Opt = T.FieldByName("Opt")->AsInteger();
    row.Name = T.FieldByName("Name")->AsString();
    if (!T.FieldByName("Tag")->IsNull()) row.Tag = T.FieldByName("Tag")->AsString();
    return row;
  }

  // The rows in T's order, walked from the start.
  static std::vector<TModelRow> Rows(TZelTable& T) {
    std::vector<TModelRow> rows;
    for (T.First(); !T.Eof(); T.Next()) rows.push_back(Current(T));
    return rows;
  }

  static std::vector<int32_t> IDs(TZelTable& T) {
    std::vector<int32_t> ids;
    for (T.First(); !T.Eof(); T.Next()) ids.push_back(T.FieldByName("ID")->AsInteger());
    return ids;
  }

  void Fill(TZelTable& T, int32_t Count, std::mt19937& Rng) {
    for (int32_t i = 0; i < Count; ++i) {
      T.Append();
      SetRow(T, Rng);
      T.Post();
    }
  }

  // Adds Count random rows (from Seed) through a connection of its own.
  void AddRows(int32_t Count, uint32_t Seed) {
    std::mt19937 rng(Seed);
    auto db = Connect();
    auto t = Table(*db);
    t->Open();
    Fill(*t, Count, rng);
    t->Close();
    db->SetConnected(false);
  }

  testsupport::TempDir Dir;
};

// The filtered table walked forwards and backwards, by RecNo and by the
// find operations, against the rows of an unfiltered cursor in the same
// order that the model lets pass.
void ExpectFilterShows(TZelTable& Filtered, const std::vector<int32_t>& Expected,
                       const std::string& What) {
  SCOPED_TRACE(What);
  ASSERT_EQ(Filtered.RecordCount(), static_cast<int32_t>(Expected.size()));
  std::vector<int32_t> seen;
  int32_t recNo = 0;
  for (Filtered.First(); !Filtered.Eof(); Filtered.Next()) {
    seen.push_back(Filtered.FieldByName("ID")->AsInteger());
    ASSERT_EQ(Filtered.RecNo(), ++recNo);
  }
  ASSERT_EQ(seen, Expected);
  std::vector<int32_t> back;
  for (Filtered.Last(); !Filtered.Bof(); Filtered.Prior())
    back.insert(back.begin(), Filtered.FieldByName("ID")->AsInteger());
  ASSERT_EQ(back, Expected);
  if (Expected.empty()) {
    EXPECT_TRUE(Filtered.IsEmpty());
    EXPECT_FALSE(Filtered.FindFirst());
    return;
  }
  const int32_t middle = static_cast<int32_t>(Expected.size() + 1) / 2;
  Filtered.SetRecNo(middle);
  EXPECT_EQ(Filtered.FieldByName("ID")->AsInteger(), Expected[static_cast<size_t>(middle - 1)]);
  EXPECT_EQ(Filtered.RecNo(), middle);
  ASSERT_TRUE(Filtered.FindLast());
  EXPECT_EQ(Filtered.FieldByName("ID")->AsInteger(), Expected.back());
  EXPECT_EQ(Filtered.FindNext(), false);
  ASSERT_TRUE(Filtered.FindFirst());
  EXPECT_EQ(Filtered.FieldByName("ID")->AsInteger(), Expected.front());
  EXPECT_FALSE(Filtered.FindPrior());
  EXPECT_EQ(Filtered.FindNext(), Expected.size() > 1);
}

TEST_F(FilterTest, RandomFiltersMatchTheModelAcrossOrdersEventsAndChanges) {
  const uint32_t seed = 20261210;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  auto db = Connect();
  auto all = Table(*db);
  auto filtered = Table(*db);
  all->Open();
  Fill(*all, 150, rng);
  filtered->Open();

  static const char* const orders[] = {"", "ixNum", "ixOpt", "ixName", "ixTag"};
  for (int32_t round = 0; round < 60; ++round) {
    const std::string order = orders[rng() % 5];
    const bool partial = rng() % 2 == 0;
    const bool caseInsensitive = rng() % 3 == 0;
    const bool withEvent = rng() % 3 == 0;
    // A range on Num narrows what the filter sees.
    const bool ranged = std::string(order) == "ixNum" && rng() % 2 == 0;
    const int32_t low = static_cast<int32_t>(rng() % 40);
    const int32_t high = low + static_cast<int32_t>(rng() % 20);
    TConditionGenerator gen(rng, partial, caseInsensitive);
    const TCondition cond = gen.Condition(2);
    const std::string what = "round " + std::to_string(round) + ": " + cond.Text + " order '" +
                             order + "'" + (partial ? "" : " no partial") +
                             (caseInsensitive ? " case-insensitive" : "") +
                             (withEvent ? " with OnFilterRecord" : "") +
                             (ranged ? " in range " + std::to_string(low) + ".." + std::to_string(high) : "");

    all->SetIndexName(order);
    filtered->SetFiltered(false);
    filtered->SetIndexName(order);
    if (ranged) filtered->SetRange({plat::Variant(low)}, {plat::Variant(high)});
    plat::TFilterOptions options;
    if (!partial) options.Include(plat::foNoPartialCompare);
    if (caseInsensitive) options.Include(plat::foCaseInsensitive);
    filtered->SetFilterOptions(options);
    filtered->SetFilter(cond.Text);
    filtered->SetOnFilterRecord(withEvent ? plat::TFilterRecordEvent([](plat::TDataSet* D, bool& Accept) {
                                  Accept = D->FieldByName("ID")->AsInteger() % 3 != 0;
                                })
                                          : plat::TFilterRecordEvent());
    filtered->SetFiltered(true);

    const auto expected = [&] {
      std::vector<int32_t> ids;
      for (const TModelRow& row : Rows(*all))
        if (cond.Holds(row) && (!withEvent || row.ID % 3 != 0) &&
            (!ranged || (row.Num >= low && row.Num <= high)))
          ids.push_back(row.ID);
      return ids;
    };
    ExpectFilterShows(*filtered, expected(), what);
    if (HasFatalFailure()) return;

    // Changes through the filtered table itself and through the other
    // cursor show at the next move.
    // A new row through the filtered table need not pass its filter.
    if (filtered->IsEmpty() || rng() % 3 == 0) {
      filtered->Append();
      SetRow(*filtered, rng);
      filtered->Post();
    } else {
      filtered->SetRecNo(1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(filtered->RecordCount())));
      if (rng() % 2 == 0) {
        filtered->Delete();
      } else {
        filtered->Edit();
        SetRow(*filtered, rng);
        filtered->Post();
      }
    }
    all->Append();
    SetRow(*all, rng);
    all->Post();
    all->First();
    all->Edit();
    SetRow(*all, rng);
    all->Post();
    ExpectFilterShows(*filtered, expected(), what + " after changes");
    if (HasFatalFailure()) return;
  }
  filtered->Close();
  all->Close();
  db->SetConnected(false);
}

TEST_F(FilterTest, EmptyBadAndGeneratorTextsAndEvents) {
  AddRows(30, 7);
  std::mt19937 rng(7);
  auto db = Connect();
  auto t = Table(*db);
  t->Open();
  const std::vector<int32_t> every = IDs(*t);

  // An empty or blank text passes every row.
  for (const char* text : {"", "   "}) {
    t->SetFilter(text);
    t->SetFiltered(true);
    EXPECT_EQ(IDs(*t), every) << "'" << text << "'";
    EXPECT_EQ(t->RecordCount(), 30);
    t->SetFiltered(false);
  }

  // The handler alone: it may reject everything although the text passes
  // every row.
  t->SetFilter("");
  t->SetOnFilterRecord([](plat::TDataSet*, bool& Accept) { Accept = false; });
  t->SetFiltered(true);
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_EQ(t->RecordCount(), 0);
  t->SetOnFilterRecord([](plat::TDataSet* D, bool& Accept) {
    Accept = D->FieldByName("ID")->AsInteger() <= 4;
  });
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{1, 2, 3, 4}));
  t->SetFiltered(false);
  t->SetOnFilterRecord(nullptr);

  // A text that does not parse is refused and leaves the table unfiltered.
  for (const char* text : {"Num = ", "Nope = 1", "(Num = 1", "Num = 'x", "Num = = 2"}) {
    SCOPED_TRACE(text);
    t->SetFilter(text);
    ExpectError(0x2743, "", [&] { t->SetFiltered(true); });
    EXPECT_FALSE(t->Filtered());
    EXPECT_EQ(t->RecordCount(), 30);
    // Nor is a bad text taken by a filtered table, which keeps its filter.
    t->SetFilter("Num >= 0");
    t->SetFiltered(true);
    ExpectError(0x2743, "", [&] { t->SetFilter(text); });
    EXPECT_FALSE(t->Filtered());
    EXPECT_EQ(t->RecordCount(), 30);
  }
  // Nor does a table open with one.
  t->Close();
  t->SetFilter("Num = ");
  t->SetFiltered(true);
  ExpectError(0x2743, "", [&] { t->Open(); });
  EXPECT_FALSE(t->Active());
  t->SetFiltered(false);
  t->Open();

  // A table opened with a filter set shows it at once.
  t->Close();
  t->SetFilter("ID > 25");
  t->SetFiltered(true);
  t->Open();
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{26, 27, 28, 29, 30}));
  // Other searches ask the filter whether it holds a record.
  const auto address = [&] {
    const plat::TBookmark mark = t->GetBookmark();
    return static_cast<uint32_t>(mark[0] | mark[1] << 8 | mark[2] << 16 | mark[3] << 24);
  };
  t->First();
  const uint32_t passing = address();
  t->SetFiltered(false);
  t->First();
  const uint32_t hidden = address();
  t->SetFiltered(true);
  EXPECT_TRUE(t->RecordInFilter(passing));
  EXPECT_FALSE(t->RecordInFilter(hidden));
  // Key searches land on records the filter passes.
  t->SetFilter("ID > 25 and ID <> 28");
  const auto at = [&] { return t->FieldByName("ID")->AsInteger(); };
  t->Last();
  EXPECT_FALSE(t->FindKey({plat::Variant(3)}));
  EXPECT_FALSE(t->FindKey({plat::Variant(28)}));
  EXPECT_EQ(at(), 30) << "a failed search leaves the cursor";
  EXPECT_TRUE(t->FindKey({plat::Variant(27)}));
  EXPECT_EQ(at(), 27);
  EXPECT_EQ(t->RecNo(), 2);
  t->FindNearest({plat::Variant(3)});
  EXPECT_EQ(at(), 26);
  t->FindNearest({plat::Variant(28)});
  EXPECT_EQ(at(), 29);
  t->FindNearest({plat::Variant(99)});
  EXPECT_EQ(at(), 30);
  // A new row the filter passes joins the view.
  t->Append();
  SetRow(*t, rng);
  t->Post();
  EXPECT_EQ(t->FieldByName("ID")->AsInteger(), 31);
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{26, 27, 29, 30, 31}));
  // IDENT_CURRENT asks the database for the table's next counter value.
  t->SetFilter("ID = IDENT_CURRENT(Items) - 1");
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{31}));
  ExpectError(0x2728, "NoTable", [&] { t->SetFilter("ID = IDENT_CURRENT(NoTable)"); });
  t->Close();
  db->SetConnected(false);
}

// Prepared filters are found by their exact text and options.
TEST(PreparedFilters, FoundByExactTextAndOptions) {
  TPreparedFilters filters;
  const plat::TFilterOptions caseless{plat::foCaseInsensitive};
  filters.AddFilter("Name = 'a'", caseless).push_back(7);
  EXPECT_EQ(filters.IndexOf("Name = 'a'", caseless), 0);
  EXPECT_EQ(filters.IndexOf("Name = 'a'", {}), -1);
  EXPECT_EQ(filters.IndexOf("Name = 'A'", caseless), -1);
  // The same text and options again replace the entry.
  filters.AddFilter("Name = 'a'", caseless).push_back(8);
  ASSERT_EQ(filters.Count(), 1);
  EXPECT_EQ(filters.GetFilterRecordList(0), (TRecordAddrList{8}));
  filters.Clear();
  EXPECT_EQ(filters.IndexOf("Name = 'a'", caseless), -1);
}

// A memory table filters the same way, and sees another cursor's rows.
TEST(MemoryFilter, FiltersAndFollowsAnotherCursor) {
  TZelDataBase db;
  db.SetDataBaseName("MEMORY");
  db.SetConnected(true);
  const auto table = [&] {
    auto t = std::make_unique<TZelTable>();
    t->SetDataBase(&db);
    t->SetTableName("M");
    t->SetMemory(true);
    return t;
  };
  auto t = table();
  t->FieldDefs().Add("Num", plat::ftInteger);
  t->IndexDefs().Add("ixNum", "Num", {});
  t->CreateTable();
  t->Open();
  for (int32_t n = 1; n <= 10; ++n) t->AppendRecord({plat::Variant(n)});
  t->SetFilter("Num > 7 or Num = 2");
  t->SetFiltered(true);
  std::vector<int32_t> nums;
  for (t->First(); !t->Eof(); t->Next()) nums.push_back(t->FieldByName("Num")->AsInteger());
  EXPECT_EQ(nums, (std::vector<int32_t>{2, 8, 9, 10}));
  auto other = table();
  other->Open();
  other->AppendRecord({plat::Variant(20)});
  other->AppendRecord({plat::Variant(5)});
  other->Close();
  EXPECT_EQ(t->RecordCount(), 5);
  t->Last();
  EXPECT_EQ(t->FieldByName("Num")->AsInteger(), 20);
  EXPECT_EQ(t->RecNo(), 5);
  t->Close();
  db.SetConnected(false);
}

// Another process's change moves the table's change counter: the filtered
// view of this process follows it at its next lock, without a Refresh.
TEST_F(FilterTest, AnotherProcessesChangesShowInTheFilteredView) {
  AddRows(20, 11);
  auto db = Connect();
  auto t = Table(*db);
  t->SetFilter("ID > 10 and ID <= 15 or Num = 1000");
  t->SetFiltered(true);
  t->Open();
  ASSERT_EQ(IDs(*t), (std::vector<int32_t>{11, 12, 13, 14, 15}));
  const int status = testsupport::RunInChild([this] {
    auto other = Connect();
    auto mine = Table(*other);
    mine->Open();
    for (mine->First(); !mine->Eof(); mine->Next())
      if (mine->FieldByName("ID")->AsInteger() == 12) break;
    if (mine->Eof()) return 1;
    mine->Delete();
    mine->Append();
    mine->FieldByName("Num")->SetAsInteger(1000);
    mine->FieldByName("Name")->SetAsString("new");
    mine->Post();
    mine->Close();
    other->SetConnected(false);
    return 0;
  });
  ASSERT_EQ(status, 0);
  EXPECT_EQ(t->RecordCount(), 5);
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{11, 13, 14, 15, 21}));
  t->Close();
  db->SetConnected(false);
}

// The SQL engine's driver: an expression applied, then joined with AND,
// then only assessed.
TEST_F(FilterTest, DriverExpressionsApplyJoinAndAssess) {
  AddRows(40, 3);
  auto db = Connect();
  auto t = Table(*db);
  t->Open();
  TTableList tables;
  TTableNameItem* item = tables.Add();
  item->SetTableName("Items");
  item->TableFields()->Assign(&t->TableDef().InternalFields());
  const auto parse = [&](const std::string& Text) {
    auto parser = std::make_unique<TZelBaseFilterEvaluator>();
    parser->SetTables(&tables);
    parser->SetFilterOptions({plat::foNoPartialCompare});
    parser->SetFilterText(Text);
    EXPECT_TRUE(parser->Prepare()) << Text << ": " << parser->GetErrors();
    return parser;
  };
  auto above = parse("ID > 10");
  auto below = parse("ID <= 15");

  TZelFilterExprDriver driver;
  driver.SetFilterExpr(above->GetFilterExpr());
  driver.SetOverwriteExpr(true);
  driver.SetEnforceExprOrder(true);
  driver.SetOrderIndexName("pkID");
  t->AssignFilterExpr(driver);
  EXPECT_EQ(t->GetCurrentRecordCount(), 30);
  ASSERT_TRUE(t->HasCurrentRecord());
  EXPECT_EQ(t->DataSetGetFieldDataAsVariant(0).AsInteger(), 11) << "on the first record";

  driver.SetFilterExpr(below->GetFilterExpr());
  driver.SetOverwriteExpr(false);
  t->AssignFilterExpr(driver);
  EXPECT_EQ(t->GetCurrentRecordCount(), 5);
  std::vector<int32_t> ids;
  for (bool ok = t->DataSetFirst(); ok; ok = t->DataSetNext())
    ids.push_back(t->DataSetGetFieldDataAsVariant(0).AsInteger());
  EXPECT_EQ(ids, (std::vector<int32_t>{11, 12, 13, 14, 15}));

  driver.SetFilterExpr(above->GetFilterExpr());
  driver.SetOverwriteExpr(true);
  driver.SetAssessExprOnly(true);
  driver.SetLimitFieldName("ID");
  t->AssignFilterExpr(driver);
  EXPECT_EQ(driver.MaximalResultSetSize(), 40);
  ASSERT_TRUE(driver.LimitsAssessed());
  EXPECT_EQ(driver.LimitFieldMin().AsInt64(), 10);
  EXPECT_EQ(t->GetCurrentRecordCount(), 5) << "assessing leaves the filter as it was";
  t->Close();
  db->SetConnected(false);
}

}  // namespace
}  // namespace zel
