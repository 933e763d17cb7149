// A connection keeps the table definitions it parsed while the catalogue is
// unchanged: every schema change must still show at the next open, whoever
// made it, and a rolled-back catalogue change must not come back.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../storage/StorageTestSupport.h"
#include "engine/dataset/zelDatabase.h"
#include "platform/rtl/ComponentText.h"
#include "support/DatabaseCheck.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using storagetest::ExpectError;

class TableDefCache : public ::testing::Test {
 protected:
  std::string File() const { return Dir.File("defs.zel"); }

  void SetUp() override {
    Db.SetDataBaseName(File());
    Db.CreateDatabase();
    Db.SetExclusive(true);
    Db.SetConnected(true);
    auto t = Table(Db);
    t->FieldDefs().Add("K", plat::ftInteger);
    t->FieldDefs().Add("S", plat::ftString, 20);
    t->IndexDefs().Add("ixK", "K", {plat::ixPrimary, plat::ixUnique});
    t->CreateTable();
    t->Open();
    for (int32_t k = 1; k <= 3; ++k) t->AppendRecord({plat::Variant(k), plat::Variant("s" + std::to_string(k))});
    t->Close();
  }

  void TearDown() override {
    Db.SetConnected(false);
    EXPECT_TRUE(testsupport::DatabaseIsIntact(File()));
  }

  static std::unique_ptr<TZelTable> Table(TZelDataBase& On, const std::string& Name = "T") {
    auto t = std::make_unique<TZelTable>();
    t->SetDataBase(&On);
    t->SetTableName(Name);
    return t;
  }

  // The field names of Name as an open of the table sees them.
  static std::vector<std::string> Fields(TZelDataBase& On, const std::string& Name = "T") {
    auto t = Table(On, Name);
    t->Open();
    std::vector<std::string> names;
    for (int32_t i = 0; i < t->FieldCount(); ++i) names.push_back(t->FieldByNumber(i + 1)->FieldName());
    t->Close();
    return names;
  }

  static std::string StoredText(TZelDataBase& On, const std::string& Name) {
    TTableDef def;
    def.SetMemory(false);
    On.QueryTableDef(Name, false, def);
    return plat::WriteComponentText(def);
  }

  testsupport::TempDir Dir;
  TZelDataBase Db;
};

using Names = std::vector<std::string>;

TEST_F(TableDefCache, SchemaChangesOfTheSameConnectionShowAtTheNextOpen) {
  struct Case {
    const char* What;
    std::function<void(TZelTable&)> Change;
    Names Expected;
  };
  const std::vector<Case> cases = {
      {"field added",
       [](TZelTable& T) {
         T.RestructureFieldDefs().AddAndSetFieldDef("Extra", plat::ftInteger, 0, 0, false, "");
         T.RestructureTable({});
       },
       {"K", "S", "Extra"}},
      {"field renamed",
       [](TZelTable& T) {
         T.RestructureFieldDefs().Items(1)->SetName("Label");
         T.RestructureTable({});
       },
       {"K", "Label", "Extra"}},
      {"field dropped",
       [](TZelTable& T) {
         T.RestructureFieldDefs().DeleteItem(2);
         T.RestructureTable({});
       },
       {"K", "Label"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Fields(Db);  // Parsed and kept.
    auto t = Table(Db);
    c.Change(*t);
    EXPECT_EQ(Fields(Db), c.Expected);
  }

  // Indexes: added and dropped through an open table, seen by a second open.
  auto t = Table(Db);
  t->Open();
  t->AddIndex("ixS", "Label", {});
  auto other = Table(Db);
  other->Open();
  other->IndexDefs().Update();
  EXPECT_GE(other->IndexDefs().IndexOf("ixS"), 0);
  other->Close();
  t->DeleteIndex("ixS");
  other->Open();
  other->IndexDefs().Update();
  EXPECT_LT(other->IndexDefs().IndexOf("ixS"), 0);
  other->Close();
  t->Close();

  // Dropped and made again under the same name with other fields.
  Db.DeleteTable("T", false);
  ExpectError(0x2728, "", [&] { Fields(Db); });
  auto again = Table(Db);
  again->FieldDefs().Add("A", plat::ftInteger);
  again->FieldDefs().Add("B", plat::ftFloat);
  again->IndexDefs().Add("ixA", "A", {plat::ixPrimary, plat::ixUnique});
  again->CreateTable();
  EXPECT_EQ(Fields(Db), (Names{"A", "B"}));

  // Renamed: the old name is gone, the new one has the fields.
  Db.RenameTable("T", "U");
  ExpectError(0x2728, "", [&] { Fields(Db, "T"); });
  EXPECT_EQ(Fields(Db, "U"), (Names{"A", "B"}));
}

TEST_F(TableDefCache, AKeptDefinitionReadsAsTheStoredTextAndCannotBeChangedByACaller) {
  const std::string first = StoredText(Db, "T");
  // A caller that changes its copy changes nothing the next caller gets.
  TTableDef def;
  def.SetMemory(false);
  Db.QueryTableDef("T", false, def);
  def.SetTableName("Changed");
  def.InternalFields().Clear();
  def.InternalIndexDefs().Clear();
  EXPECT_EQ(StoredText(Db, "T"), first);

  // The same as a connection that parses the row afresh.
  Db.SetConnected(false);
  Db.SetConnected(true);
  EXPECT_EQ(StoredText(Db, "T"), first);
  TTableDef kept, fresh;
  kept.SetMemory(false);
  Db.QueryTableDef("T", false, kept);
  Db.SetConnected(false);
  Db.SetConnected(true);
  fresh.SetMemory(false);
  Db.QueryTableDef("T", false, fresh);
  ASSERT_EQ(kept.InternalFields().Count(), fresh.InternalFields().Count());
  EXPECT_EQ(kept.RecordSize(), fresh.RecordSize());
  for (int32_t i = 0; i < fresh.InternalFields().Count(); ++i) {
    const TInternalFieldItem* k = kept.InternalFields().GetIndex(i);
    const TInternalFieldItem* f = fresh.InternalFields().GetIndex(i);
    EXPECT_EQ(k->DataOffset(), f->DataOffset());
    EXPECT_EQ(k->NullFlagOffset(), f->NullFlagOffset());
  }
  ASSERT_EQ(kept.KeyFields().Count(), fresh.KeyFields().Count());
  for (int32_t i = 0; i < fresh.KeyFields().Count(); ++i)
    EXPECT_EQ(kept.KeyFields().Items(i)->RecBufOffset(), fresh.KeyFields().Items(i)->RecBufOffset());
}

TEST_F(TableDefCache, ACatalogueChangeRolledBackDoesNotComeBack) {
  auto v = Table(Db, "V");
  v->FieldDefs().Add("A", plat::ftInteger);
  v->IndexDefs().Add("ixA", "A", {plat::ixPrimary, plat::ixUnique});
  v->CreateTable();
  // Restructures are refused inside a transaction; a table made through the
  // database component is not, and its catalogue row goes with the rollback.
  const auto makeLike = [&](const std::string& Source) {
    TTableDef def;
    def.SetMemory(false);
    Db.QueryTableDef(Source, false, def);
    def.SetTableName("R");
    Db.CreateTable(def, false, true);
  };
  Db.StartTransaction();
  makeLike("T");
  EXPECT_EQ(Fields(Db, "R"), (Names{"K", "S"}));
  Db.Rollback();
  ExpectError(0x2728, "", [&] { Fields(Db, "R"); });
  // Made again outside: the catalogue reaches the stamp it had inside the
  // rolled-back transaction once more.
  makeLike("V");
  EXPECT_EQ(Fields(Db, "R"), Names{"A"});
}

TEST_F(TableDefCache, AChangeByAnotherProcessShowsToAConnectionThatKeptTheDefinition) {
  Db.SetConnected(false);
  Db.SetExclusive(false);
  Db.SetConnected(true);
  EXPECT_EQ(Fields(Db), (Names{"K", "S"}));
  // A table made by another process while this connection stays: the
  // catalogue it keeps definitions of changed under it.
  ASSERT_EQ(testsupport::RunInChild([this] {
              TZelDataBase other;
              other.SetDataBaseName(File());
              other.SetConnected(true);
              auto n = Table(other, "N");
              n->FieldDefs().Add("X", plat::ftInteger);
              n->IndexDefs().Add("ixX", "X", {plat::ixPrimary, plat::ixUnique});
              n->CreateTable();
              other.SetConnected(false);
              return 0;
            }),
            0);
  EXPECT_EQ(Fields(Db, "N"), Names{"X"});
  EXPECT_EQ(Fields(Db), (Names{"K", "S"}));
  // A schema change needs the file alone: this connection lets go of it
  // while the child works, the component itself stays as it was.
  Db.SetConnected(false);
  const int code = testsupport::RunInChild([this] {
    TZelDataBase other;
    other.SetDataBaseName(File());
    other.SetExclusive(true);
    other.SetConnected(true);
    auto t = Table(other);
    t->RestructureFieldDefs().AddAndSetFieldDef("Extra", plat::ftInteger, 0, 0, false, "");
    t->RestructureTable({});
    other.SetConnected(false);
    return 0;
  });
  ASSERT_EQ(code, 0);
  Db.SetConnected(true);
  EXPECT_EQ(Fields(Db), (Names{"K", "S", "Extra"}));
  // And a second connection of this process, the same way.
  Db.SetConnected(false);
  {
    TZelDataBase second;
    second.SetDataBaseName(File());
    second.SetExclusive(true);
    second.SetConnected(true);
    auto t = Table(second);
    t->RestructureFieldDefs().DeleteItem(1);
    t->RestructureTable({});
    second.SetConnected(false);
  }
  Db.SetConnected(true);
  EXPECT_EQ(Fields(Db), (Names{"K", "Extra"}));
}

// Reopened here, a table keeps its cached pages only while no one wrote it.
TEST_F(TableDefCache, RowsChangedByAnotherProcessWhileTheTableWasClosedHereShowWhenReopened) {
  Db.SetConnected(false);
  Db.SetExclusive(false);
  Db.SetConnected(true);
  const auto valueOfRow = [this](int32_t K) {
    auto t = Table(Db);
    t->Open();
    std::string value;
    for (t->First(); !t->Eof(); t->Next())
      if (t->FieldByName("K")->AsInteger() == K) value = t->FieldByName("S")->AsString();
    t->Close();
    return value;
  };
  for (const char* value : {"child 1", "child 2"}) {
    SCOPED_TRACE(value);
    EXPECT_NE(valueOfRow(2), value);  // Read, so its pages are cached here.
    ASSERT_EQ(testsupport::RunInChild([this, value] {
                TZelDataBase other;
                other.SetDataBaseName(File());
                other.SetConnected(true);
                auto t = Table(other);
                t->Open();
                for (t->First(); !t->Eof(); t->Next()) {
                  if (t->FieldByName("K")->AsInteger() != 2) continue;
                  t->Edit();
                  t->FieldByName("S")->SetAsString(value);
                  t->Post();
                }
                t->Close();
                other.SetConnected(false);
                return 0;
              }),
              0);
    EXPECT_EQ(valueOfRow(2), value);
  }
  EXPECT_EQ(valueOfRow(3), "s3");
}

}  // namespace
}  // namespace zel
