// Users, groups and privileges of a database with enforced security: the
// secured logon, the security manager and the rights applied to tables.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "../storage/StorageTestSupport.h"
#include "engine/dataset/zelDatabase.h"
#include "engine/dataset/zelPwDlg.h"
#include "platform/db/Fields.h"
#include "platform/os/Files.h"
#include "platform/forms/Forms.h"
#include "platform/forms/FormsDriver.h"
#include "platform/rtl/DateTime.h"
#include "support/DatabaseCheck.h"
#include "support/TestDir.h"

namespace zel {
namespace {

using storagetest::ExpectError;

constexpr const char* Key = "guarded";

class SecuredDatabase : public ::testing::Test {
 protected:
  std::string File() const { return Dir.File("secured.zel"); }

  void SetUp() override {
    auto db = std::make_unique<TZelDataBase>();
    db->SetDataBaseName(File());
    db->SetEnforceSecurity(true);
    db->SetMasterKey(Key);
    db->CreateDatabase();
  }

  void TearDown() override {
    SetZelLoginDialogHook(nullptr);
    EXPECT_TRUE(testsupport::DatabaseIsIntact(File()));
  }

  // A component that answers the login with User and Password; not yet
  // connected.
  std::unique_ptr<TZelDataBase> Make(const std::string& User, const std::string& Password) {
    auto db = std::make_unique<TZelDataBase>();
    db->SetDataBaseName(File());
    db->SetExclusive(true);
    db->SetMasterKey(Key);
    db->BeforeLogin = [User, Password](plat::TObject*, std::string& U, std::string& P, std::string&) {
      U = User;
      P = Password;
    };
    return db;
  }

  std::unique_ptr<TZelDataBase> Connect(const std::string& User, const std::string& Password) {
    auto db = Make(User, Password);
    db->SetConnected(true);
    return db;
  }

  // The administrator's first logon, a table "Items" (ID, Name, Secret, Notes) with
  // one row, a table "Hidden", and the group "staff".
  std::unique_ptr<TZelDataBase> Prepare() {
    auto db = Connect("administrator", "x");
    for (const char* name : {"Items", "Hidden"}) {
      TZelTable t;
      t.SetDataBase(db.get());
      t.SetTableName(name);
      t.FieldDefs().Add("ID", plat::ftInteger);
      t.FieldDefs().Add("Name", plat::ftString, 20);
      t.FieldDefs().Add("Secret", plat::ftString, 20);
      t.FieldDefs().Add("Notes", plat::ftMemo);
      t.IndexDefs().Add("ixID", "ID", {plat::ixPrimary, plat::ixUnique});
      t.CreateTable();
      t.Open();
      t.AppendRecord({plat::Variant(1), plat::Variant("one"), plat::Variant("s1")});
      t.Close();
    }
    db->SecurityManager().AddGroup("staff");
    return db;
  }

  // Gives Group the object privileges (type, table, fields) and system
  // privileges.
  static void Grant(TZelDataBase& Db, const std::string& Group,
                    const std::vector<std::tuple<TObjectPrivilegeType, std::string, std::string>>& Objects,
                    const std::vector<TSystemPrivilegeType>& Systems = {}) {
    TPrivileges p;
    p.SetGroupName(Group);
    for (const auto& [type, table, fields] : Objects) {
      TObjectPrivilege* item = p.ObjectPrivileges().Add();
      item->SetObjectType(doTable);
      item->SetObjectName(table);
      item->SetPrivilegeType(type);
      item->SetFields(fields);
    }
    for (const TSystemPrivilegeType type : Systems) p.SystemPrivileges().Add()->SetPrivilegeType(type);
    Db.SecurityManager().SetPrivileges(p, true);
  }

  // The table Name of Db, opened through the dataset.
  static std::unique_ptr<TZelTable> OpenTable(TZelDataBase& Db, const std::string& Name) {
    auto t = std::make_unique<TZelTable>();
    t->SetDataBase(&Db);
    t->SetTableName(Name);
    t->Open();
    return t;
  }

  // Runs Action on each row of the users table.
  static void EachUser(TZelDataBase& Db, const std::function<void(TZelDataSet&)>& Action) {
    TZelDataSet users;
    users.SetInternalTableFlag(true);
    users.SetDataBase(&Db);
    users.SetTableName("$SYSTBL_SECUSERS");
    users.DataSetOpen();
    for (bool more = users.DataSetFirst(); more; more = users.DataSetNext()) Action(users);
    users.DataSetClose();
  }

  // Puts the last password change of every user Days days back.
  static void AgePasswords(TZelDataBase& Db, int32_t Days) {
    EachUser(Db, [&](TZelDataSet& u) {
      u.DataSetSetFieldDataAsVariant(10, plat::Variant::FromDateTime(plat::Now() - Days));
      u.UpdateRecord();
    });
  }

  testsupport::TempDir Dir;
};

TEST_F(SecuredDatabase, TheFirstLogonMakesTheAdministratorWhoseBootstrapPasswordThenCounts) {
  {
    auto db = Connect("administrator", "x");
    EXPECT_TRUE(db->Connected());
    EXPECT_TRUE(db->SecurityManager().LoggedOn());
    EXPECT_EQ(db->SecurityManager().CurrentGroupName(), "administrators");
    EXPECT_EQ(db->Privileges().GroupName(), "administrators");
    EXPECT_EQ(db->DatabasePrivileges(), 0x1Bu);
  }
  auto db = Make("administrator", "x");
  ExpectError(0x2734, "", [&] { db->SetConnected(true); });
  EXPECT_FALSE(db->Connected());
  EXPECT_TRUE(db->MasterKey().empty());
  EXPECT_TRUE(Connect("administrator", "quindo")->Connected());
  ExpectError(0x2734, "", [&] { Connect("Administrator", "quindo"); });
  ExpectError(0x2734, "", [&] { Connect("nobody", "quindo"); });
}

TEST_F(SecuredDatabase, APasswordIsStoredAsItsDigestAndOthersCanThenLogOn) {
  {
    auto db = Prepare();
    db->SecurityManager().AddUser("alice", "secret", "staff");
    std::vector<int32_t> digest;
    EachUser(*db, [&](TZelDataSet& u) {
      if (u.DataSetGetFieldDataAsVariant(1).AsString() != "alice") return;
      for (int32_t i = 2; i <= 6; ++i) digest.push_back(u.DataSetGetFieldDataAsVariant(i).AsInteger());
    });
    EXPECT_EQ(digest, (std::vector<int32_t>{-437650917, -1558262502, -397445686, -1438167238, 1715406324}));
  }
  auto alice = Connect("alice", "secret");
  EXPECT_EQ(alice->SecurityManager().CurrentGroupName(), "staff");
  EXPECT_EQ(alice->DatabasePrivileges(), 0u);
  // Her own password she may always change.
  alice->SecurityManager().ChangePassword("alice", "better");
  alice.reset();
  ExpectError(0x2734, "", [&] { Connect("alice", "secret"); });
  EXPECT_TRUE(Connect("alice", "better")->Connected());
}

TEST_F(SecuredDatabase, AnExpiredPasswordIsRefusedExceptTheAdministrators) {
  {
    auto db = Prepare();
    db->SecurityManager().AddUser("alice", "secret", "staff");
    AgePasswords(*db, 31);
  }
  auto alice = Make("alice", "secret");
  alice->SecurityManager().SetPasswordExpiryPeriod(30);
  ExpectError(0x2734, "The password has expired", [&] { alice->SetConnected(true); });
  EXPECT_FALSE(alice->Connected());
  auto admin = Make("administrator", "quindo");
  admin->SecurityManager().SetPasswordExpiryPeriod(30);
  admin->SetConnected(true);
  // A fresh password is good again; without a period nothing expires.
  admin->SecurityManager().ChangePassword("alice", "fresh");
  admin.reset();
  alice = Make("alice", "fresh");
  alice->SecurityManager().SetPasswordExpiryPeriod(30);
  alice->SetConnected(true);
  EXPECT_TRUE(alice->Connected());
}

TEST_F(SecuredDatabase, RightsOnATableDecideWhatItsCursorMayDo) {
  {
    auto db = Prepare();
    auto& sm = db->SecurityManager();
    sm.AddGroup("readers");
    sm.AddGroup("editors");
    sm.AddUser("bob", "pw", "readers");
    sm.AddUser("eve", "pw", "editors");
    Grant(*db, "readers", {{opExecuteObj, "Items", "ALL"}, {opReadData, "Items", "ID,Name"}});
    Grant(*db, "editors",
          {{opExecuteObj, "Items", "ALL"}, {opReadData, "Items", "ALL"}, {opUpdateData, "Items", "Name"}});
    TPrivileges read;
    read.SetGroupName("readers");
    sm.GetPrivileges(doTable, "Items", read);
    ASSERT_EQ(read.ObjectPrivileges().Count(), 2);
    const TObjectPrivilege* fields = read.ObjectPrivileges().FindPrivilege(doTable, "Items", opReadData);
    ASSERT_NE(fields, nullptr);
    EXPECT_EQ(fields->Fields(), "ID,Name");
  }
  {
    auto bob = Connect("bob", "pw");
    auto table = OpenTable(*bob, "Items");
    TZelTable& t = *table;
    EXPECT_TRUE(t.FieldByName("Name")->Visible());
    EXPECT_FALSE(t.FieldByName("Secret")->Visible());
    EXPECT_EQ(t.FieldByName("Name")->AsString(), "one");
    EXPECT_FALSE(t.CanModify());
    // The framework refuses to start an insert into a dataset that cannot
    // be modified.
    EXPECT_ANY_THROW(t.Insert());
    EXPECT_EQ(t.State(), plat::dsBrowse);
    // The engine's own insert and delete are refused as well.
    t.InitializeNewRecord(t.RecordBuffer(), false);
    ExpectError(0x2980, "Items", [&] { t.AddRecord(false); });
    ExpectError(0x2980, "Items", [&] { t.DeleteRecord(nullptr); });
    t.Close();
    TZelTable hidden;
    hidden.SetDataBase(bob.get());
    hidden.SetTableName("Hidden");
    ExpectError(0x2980, "Hidden", [&] { hidden.Open(); });
    // Catalogue changes need their rights too.
    TZelTable made;
    made.SetDataBase(bob.get());
    made.SetTableName("Made");
    made.FieldDefs().Add("N", plat::ftInteger);
    ExpectError(0x2980, "", [&] { made.CreateTable(); });
    ExpectError(0x2980, "Items", [&] { bob->RenameTable("Items", "Gone"); });
    ExpectError(0x2980, "Items", [&] { bob->DeleteTable("Items", false); });
  }
  {
    auto eve = Connect("eve", "pw");
    auto table = OpenTable(*eve, "Items");
    TZelTable& t = *table;
    EXPECT_TRUE(t.CanModify());
    EXPECT_TRUE(t.FieldByName("ID")->ReadOnly());
    t.Edit();
    t.FieldByName("Name")->SetAsString("uno");
    t.Post();
    t.Insert();
    ExpectError(0x2980, "Items", [&] { t.Post(); });
    t.Cancel();
    // Writing a blob needs the insert right on its field.
    plat::TMemoryStream notes;
    notes.Write("note", 4);
    const int32_t notesNo = t.FieldByName("Notes")->FieldNo() - 1;
    ExpectError(0x2980, "Items", [&] { t.DataSetSetFieldStream(notesNo, false, notes); });
    EXPECT_EQ(t.RecordCount(), 1);
    t.Close();
  }
  // What was refused changed nothing; the allowed edit stands.
  auto admin = Connect("administrator", "quindo");
  auto table = OpenTable(*admin, "Items");
  TZelTable& t = *table;
  EXPECT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "uno");
  EXPECT_TRUE(t.FieldByName("Secret")->Visible());
  t.Close();
  plat::TStringList names;
  admin->GetTableNames(names, false);
  EXPECT_EQ(names.Count(), 2);
}

TEST_F(SecuredDatabase, ARestructureNeedsTheAlterRightOnItsTable) {
  {
    auto db = Prepare();
    auto& sm = db->SecurityManager();
    sm.AddGroup("editors");
    sm.AddUser("bob", "pw", "staff");
    sm.AddUser("eve", "pw", "editors");
    Grant(*db, "staff", {{opExecuteObj, "Items", "ALL"}, {opReadData, "Items", "ALL"}});
    Grant(*db, "editors",
          {{opExecuteObj, "Items", "ALL"}, {opReadData, "Items", "ALL"}, {opAlterObj, "Items", "ALL"}});
  }
  const std::string backup = Dir.File("secured.zex");
  {
    auto bob = Connect("bob", "pw");
    TZelTable t;
    t.SetDataBase(bob.get());
    t.SetTableName("Items");
    // Refused before anything is written, the backup included.
    ExpectError(0x2980, "Items", [&] { t.AddIndex("ixName", "Name", {}); });
    EXPECT_FALSE(plat::FileExists(backup));
    t.Open();
    t.IndexDefs().Update();
    EXPECT_LT(t.IndexDefs().IndexOf("ixName"), 0);
    EXPECT_EQ(t.FieldByName("Name")->AsString(), "one");
    t.Close();
  }
  {
    auto eve = Connect("eve", "pw");
    TZelTable t;
    t.SetDataBase(eve.get());
    t.SetTableName("Items");
    t.AddIndex("ixName", "Name", {});
    t.Open();
    t.IndexDefs().Update();
    EXPECT_GE(t.IndexDefs().IndexOf("ixName"), 0);
    EXPECT_EQ(t.FieldByName("Name")->AsString(), "one");
    t.Close();
  }
}

TEST_F(SecuredDatabase, ABlobIsWrittenWithTheRightOfTheChangeItBelongsTo) {
  {
    auto db = Prepare();
    db->SecurityManager().AddUser("bob", "pw", "staff");
    Grant(*db, "staff",
          {{opExecuteObj, "Items", "ALL"}, {opReadData, "Items", "ALL"}, {opUpdateData, "Items", "ALL"}});
  }
  {
    auto bob = Connect("bob", "pw");
    auto table = OpenTable(*bob, "Items");
    TZelTable& t = *table;
    // Editing a stored record takes the update right, which bob has.
    t.Edit();
    t.FieldByName("Notes")->SetAsString("edited");
    t.Post();
    // A new record's blob takes the insert right, which he has not: the
    // stream refuses before anything is written.
    t.Insert();
    ExpectError(0x2980, "Items",
                [&] { t.CreateBlobStream(t.FieldByName("Notes"), plat::bmWrite); });
    t.Cancel();
    t.Close();
  }
  auto admin = Connect("administrator", "quindo");
  auto table = OpenTable(*admin, "Items");
  EXPECT_EQ(table->RecordCount(), 1);
  EXPECT_EQ(table->FieldByName("Notes")->AsString(), "edited");
  table->Close();
}

TEST_F(SecuredDatabase, RightsOnAllTablesServeATableWithoutItsOwn) {
  {
    auto db = Prepare();
    db->SecurityManager().AddUser("bob", "pw", "staff");
    Grant(*db, "staff",
          {{opExecuteObj, "ALL", "ALL"}, {opReadData, "*", "ALL"}, {opCreateObj, "Items", "ALL"},
           {opExecuteObj, "Hidden", "ALL"}});
  }
  auto bob = Connect("bob", "pw");
  auto table = OpenTable(*bob, "Items");
  TZelTable& t = *table;
  EXPECT_TRUE(t.FieldByName("Secret")->Visible());
  t.Close();
  // "Hidden" has a right of its own, so those on all tables do not apply to
  // it: it opens but none of its fields can be read.
  t.SetTableName("Hidden");
  t.Open();
  EXPECT_FALSE(t.FieldByName("ID")->Visible());
  t.Close();
  // The create right is always one on all tables.
  t.SetTableName("Made");
  t.FieldDefs().Clear();
  t.FieldDefs().Add("N", plat::ftInteger);
  t.IndexDefs().Clear();
  t.CreateTable();
  EXPECT_TRUE(bob->QueryObjectPrivilegeExists(doTable, "ALL", 2));
}

TEST_F(SecuredDatabase, NamesAndTheBuiltInGroupAreGuarded) {
  auto db = Prepare();
  auto& sm = db->SecurityManager();
  struct TCase {
    const char* What;
    int32_t Code;
    std::function<void()> Action;
  };
  TPrivileges admins;
  admins.SetGroupName("administrators");
  const std::vector<TCase> cases = {
      {"one-character group", 0x2585, [&] { sm.AddGroup("g"); }},
      {"31-character group", 0x2585, [&] { sm.AddGroup(std::string(31, 'g')); }},
      {"one-character user", 0x2585, [&] { sm.AddUser("u", "p", "staff"); }},
      {"existing group", 0x2184, [&] { sm.AddGroup("STAFF"); }},
      {"unknown group", 0x2183, [&] { sm.AddUser("carol", "p", "nobody"); }},
      {"rename to existing", 0x2184, [&] { sm.RenameGroup("staff", "administrators"); }},
      {"delete administrators", 0x278C, [&] { sm.DeleteGroup("administrators"); }},
      {"rename administrators", 0x278B, [&] { sm.RenameGroup("administrators", "bosses"); }},
      {"delete administrator", 0x278C, [&] { sm.DeleteUser("administrator"); }},
      {"privileges of administrators", 0x278B, [&] { sm.SetPrivileges(admins, true); }},
      {"revoke administrators", 0x278B, [&] { sm.RevokePrivileges("administrators"); }},
      {"unknown group id", 0x2183, [&] { sm.GetGroupNameFromID(999); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    ExpectError(c.Code, "", c.Action);
  }
  sm.SetMinimumGroupNameLength(1);
  sm.AddGroup("g");
  sm.AddGroup(std::string(30, 'g'));
  plat::TStringList groups;
  sm.ListGroupNames(groups);
  EXPECT_EQ(groups.Count(), 4);
}

TEST_F(SecuredDatabase, DeletingAGroupTakesItsUsersAndRightsAlong) {
  {
    auto db = Prepare();
    auto& sm = db->SecurityManager();
    sm.AddUser("bob", "pw", "staff");
    sm.AddUser("ann", "pw", "staff");
    Grant(*db, "staff", {{opExecuteObj, "Items", "ALL"}}, {spViewUsers});
    plat::TStringList users;
    sm.ListUserNames("staff", users);
    EXPECT_EQ(users.CommaText(), "ann,bob");
    EXPECT_EQ(sm.GetUserGroupName("bob"), "staff");
    sm.RenameGroup("staff", "crew");
    EXPECT_EQ(sm.GetUserGroupName("bob"), "crew");
    db->StartTransaction();
    ExpectError(0x278A, "", [&] { sm.DeleteGroup("crew"); });
    db->Rollback();
    sm.DeleteGroup("crew");
    ExpectError(0x2183, "", [&] { sm.GetGroupIDFromName("crew"); });
    users.Clear();
    sm.AddGroup("crew");
    sm.ListUserNames("crew", users);
    EXPECT_EQ(users.Count(), 0);
    TPrivileges p;
    p.SetGroupName("crew");
    sm.GetPrivileges(doTable, "", p);
    EXPECT_EQ(p.ObjectPrivileges().Count() + p.SystemPrivileges().Count(), 0);
  }
  ExpectError(0x2734, "", [&] { Connect("bob", "pw"); });
}

TEST_F(SecuredDatabase, AUserWhoEditsUsersAndGroupsCannotRaiseHimself) {
  {
    auto db = Prepare();
    auto& sm = db->SecurityManager();
    sm.AddGroup("managers");
    sm.AddUser("mallory", "pw", "managers");
    sm.AddUser("alice", "pw", "staff");
    Grant(*db, "managers", {{opExecuteObj, "ALL", "ALL"}},
          {spViewUsers, spEditUsers, spViewGroups, spEditGroups});
  }
  auto db = Connect("mallory", "pw");
  auto& sm = db->SecurityManager();
  EXPECT_EQ(db->DatabasePrivileges(), 0x1Bu);
  TPrivileges mine, others;
  mine.SetGroupName("managers");
  others.SetGroupName("staff");
  mine.ObjectPrivileges().Add()->SetPrivilegeType(opAlterObj);
  struct TCase {
    const char* What;
    int32_t Code;
    std::function<void()> Action;
  };
  const std::vector<TCase> cases = {
      {"add an administrator", 0x2980, [&] { sm.AddUser("evil", "pw", "administrators"); }},
      {"join the administrators", 0x2980, [&] { sm.ChangeGroup("mallory", "administrators"); }},
      {"move the administrator out", 0x2980, [&] { sm.ChangeGroup("administrator", "managers"); }},
      {"reset the administrator's password", 0x2980,
       [&] { sm.ChangePassword("administrator", "mine"); }},
      {"delete the administrator", 0x278C, [&] { sm.DeleteUser("administrator"); }},
      {"rename the administrators", 0x278B, [&] { sm.RenameGroup("administrators", "x1"); }},
      {"delete the administrators", 0x278C, [&] { sm.DeleteGroup("administrators"); }},
      {"grant himself rights", 0x2980, [&] { sm.SetPrivileges(mine, false); }},
      {"revoke others' rights", 0x2980, [&] { sm.RevokePrivileges("staff"); }},
      {"read others' rights", 0x2980, [&] { sm.GetPrivileges(doTable, "", others); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    ExpectError(c.Code, "", c.Action);
  }
  // What his rights are for still works.
  sm.AddUser("carol", "pw", "staff");
  sm.ChangePassword("alice", "reset");
  sm.ChangeGroup("alice", "managers");
  sm.GetPrivileges(doTable, "", mine);
  EXPECT_EQ(mine.SystemPrivileges().Count(), 4);
  db.reset();
  // A user without rights may not even look.
  auto carol = Connect("carol", "pw");
  plat::TStringList list;
  ExpectError(0x2980, "", [&] { carol->SecurityManager().ListGroupNames(list); });
  ExpectError(0x2980, "", [&] { carol->SecurityManager().ListUserNames("staff", list); });
  ExpectError(0x2980, "", [&] { carol->SecurityManager().AddUser("dave", "pw", "staff"); });
  ExpectError(0x2980, "", [&] { carol->SecurityManager().ChangePassword("alice", "x"); });
}

TEST_F(SecuredDatabase, WithoutTheEventAPersonIsAskedAgainUntilALogonSucceedsOrIsCancelled) {
  Prepare()->SecurityManager().AddUser("alice", "secret", "staff");
  plat::Application()->SetDriver(std::make_unique<plat::TAutomaticDriver>());
  const auto driver = [] { return plat::Application()->Driver().Transcript().size(); };
  std::vector<std::string> answers;
  std::vector<int32_t> flags;
  size_t next = 0;
  SetZelLoginDialogHook([&](TZelPasswordDialog& D) {
    flags.push_back((D.ebMasterKey.Enabled ? 1 : 0) | (D.ebUsername.Enabled ? 2 : 0));
    if (next >= answers.size()) return mrCancel;
    D.ebUsername.SetText("alice");
    D.ebPassword.SetText(answers[next++]);
    return mrOk;
  });
  auto db = std::make_unique<TZelDataBase>();
  db->SetDataBaseName(File());
  db->SetMasterKey(Key);

  // Right at once: asked once, and the logon is not tried again.
  answers = {"secret"};
  size_t boxes = driver();
  db->SetConnected(true);
  EXPECT_EQ(flags, (std::vector<int32_t>{2}));
  EXPECT_EQ(driver(), boxes);
  db->SetConnected(false);

  // Wrong twice, then right: a message box after each refusal.
  answers = {"bad", "worse", "secret"};
  next = 0;
  flags.clear();
  boxes = driver();
  db->SetMasterKey(Key);
  db->SetConnected(true);
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(flags, (std::vector<int32_t>{2, 2, 2}));
  EXPECT_GE(driver(), boxes + 2);
  db->SetConnected(false);

  // Cancel ends it.
  answers = {"bad"};
  next = 0;
  db->SetMasterKey(Key);
  ExpectError(0x271F, "", [&] { db->SetConnected(true); });
  EXPECT_FALSE(db->Connected());
}

TEST(SecurityManager, ItWorksOnlyWhileOpen) {
  TSecurityManager sm;
  EXPECT_FALSE(sm.IsOpen());
  ExpectError(0x2185, "The security manager is not active", [&] { sm.AddGroup("staff"); });
  ExpectError(0x2185, "", [&] { sm.Logon("administrator", "x", "db"); });
  // A database without enforced security never opens it.
  TZelDataBase db;
  db.SetDataBaseName("memory");
  db.SetConnected(true);
  EXPECT_FALSE(db.SecurityManager().IsOpen());
  EXPECT_TRUE(db.QueryObjectPrivilegeExists(doTable, "ALL", 4));
}

}  // namespace
}  // namespace zel
