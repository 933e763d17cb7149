// The security manager: logons, users, groups and their privileges.
#include "engine/dataset/zelDatabaseSecurity.h"

#include "engine/dataset/zelDatabase.h"
#include "engine/dataset/zelPwDlg.h"
#include "engine/storage/zelCommon.h"
#include "platform/forms/Dialogs.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

constexpr const char* BootstrapPassword = "quindo";
constexpr int32_t AllPrivileges = 0x7FFFFFFF;
constexpr int32_t NoPrivilegeMsgCode = 0x2980;
constexpr int32_t ObjectTypeTable = 1;

// Field numbers of the security tables.
constexpr int32_t sgGroupID = 0, sgGroupName = 1;
constexpr int32_t suUserName = 1, suPwd0 = 2, suGroupID = 7, suDateCreated = 8,
                  suDateLastModified = 9, suDateLastPWordChange = 10;
constexpr int32_t soGroupID = 0, soObjectType = 1, soObjectID = 2, soPrivilegeID = 3, soAll = 4,
                  soFieldsShort = 5, soFieldsLong = 6, soGrantOption = 7;
constexpr int32_t ssGroupID = 0, ssPrivilegeID = 1, ssGrantOption = 2;
constexpr int32_t oiObjectID = 0, oiObjectName = 1;
constexpr int32_t MaxFieldsShort = 100;

int32_t IntField(const TZelDataSet& Cursor, int32_t FieldNo) {
  const plat::Variant v = Cursor.DataSetGetFieldDataAsVariant(FieldNo);
  return v.IsNull() ? 0 : v.AsInteger();
}

std::string TextField(const TZelDataSet& Cursor, int32_t FieldNo) {
  const plat::Variant v = Cursor.DataSetGetFieldDataAsVariant(FieldNo);
  return v.IsNull() ? std::string() : v.AsString();
}

bool BoolField(const TZelDataSet& Cursor, int32_t FieldNo) {
  const plat::Variant v = Cursor.DataSetGetFieldDataAsVariant(FieldNo);
  return !v.IsNull() && v.AsBoolean();
}

void SetField(TZelDataSet& Cursor, int32_t FieldNo, const plat::Variant& Value) {
  Cursor.DataSetSetFieldDataAsVariant(FieldNo, Value);
}

std::string ReadMemo(TZelDataSet& Cursor, int32_t FieldNo) {
  plat::TMemoryStream stream;
  bool isNull = true;
  Cursor.DataSetGetFieldStreamFromRecBuf(Cursor.RecordBuffer(), FieldNo, stream, isNull);
  if (isNull || stream.Size() == 0) return {};
  return std::string(static_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}

}  // namespace

TSecurityManager::TSecurityManager()
    : LogonPrivileges_(std::make_unique<TInternalPrivileges>()),
      Sha1_(std::make_unique<TSha1Stream>()) {}

TSecurityManager::~TSecurityManager() { Close(); }

void TSecurityManager::Open(TZelDataBase* Database, TZelDataSet* Users, TZelDataSet* ObjectIDs,
                            TZelDataSet* SystemPrivileges, TZelDataSet* ObjectPrivileges,
                            TZelDataSet* Groups) {
  Database_ = Database;
  Users_ = Users;
  ObjectIDs_ = ObjectIDs;
  SystemPrivileges_ = SystemPrivileges;
  ObjectPrivileges_ = ObjectPrivileges;
  Groups_ = Groups;
  Open_ = true;
}

void TSecurityManager::Close() noexcept {
  Logoff();
  Open_ = false;
  Database_ = nullptr;
  Users_ = ObjectIDs_ = SystemPrivileges_ = ObjectPrivileges_ = Groups_ = nullptr;
}

void TSecurityManager::CheckIsOpen() const {
  if (!Open_)
    ZelDatabaseError(0x2185, "TSecurityManager.CheckIsOpen", "The security manager is not active");
}

bool TSecurityManager::IsAdministrator() const {
  return LoggedOn_ && CurrentGroupName_ == AdministratorsGroupName;
}

void TSecurityManager::CheckSystemRight(int32_t Bit, const char* Context) const {
  if (IsAdministrator()) return;
  if (!LoggedOn_ || (LogonPrivileges_->SystemPrivileges().PrivilegeMask() & Bit) == 0)
    ZelDatabaseError(NoPrivilegeMsgCode, Context, "");
}

void TSecurityManager::CheckAdministrator(const char* Context) const {
  if (!IsAdministrator()) ZelDatabaseError(NoPrivilegeMsgCode, Context, "");
}

// The security tables are small: a scan is all a lookup needs, and it does
// not disturb the index the cursors are on.
bool TSecurityManager::FindRow(TZelDataSet& Cursor, int32_t FieldNo, const std::string& Value,
                               bool Exact) {
  for (bool more = Cursor.DataSetFirst(); more; more = Cursor.DataSetNext()) {
    const std::string stored = TextField(Cursor, FieldNo);
    if (Exact ? stored == Value : plat::SameText(stored, Value)) return true;
  }
  return false;
}

bool TSecurityManager::FindRowByID(TZelDataSet& Cursor, int32_t FieldNo, int32_t Value) {
  for (bool more = Cursor.DataSetFirst(); more; more = Cursor.DataSetNext())
    if (IntField(Cursor, FieldNo) == Value) return true;
  return false;
}

template <typename F>
void TSecurityManager::InTransaction(const char* Context, F&& Action) {
  if (Database_->InTransaction()) ZelDatabaseError(0x278A, Context, "");
  Database_->StartTransaction();
  try {
    Action();
  } catch (...) {
    try {
      Database_->Rollback();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
  Database_->Commit();
}

// ---------------------------------------------------------------- logon

bool TSecurityManager::Logon(const std::string& UserName, const std::string& Password,
                             const std::string& DatabaseName) {
  static const char* const Context = "TSecurityManager.Logon";
  CheckIsOpen();
  Logoff();
  if (!FindUser(UserName, true)) {
    if (UserName != AdministratorUserName || FindGroup(AdministratorsGroupName))
      ZelDatabaseError(0x2734, Context, "");
    // A database nobody has logged on to yet: its administrator is made,
    // the group and the user together or neither (a group left alone would
    // lock everybody out).
    InTransaction(Context, [&] {
      InternalAddGroup(AdministratorsGroupName);
      const int32_t groupID = GetGroupIDFromName(AdministratorsGroupName);
      InternalAddUser(AdministratorUserName, BootstrapPassword, groupID);
    });
    if (!FindUser(UserName, true)) ZelDatabaseError(0x2734, Context, "");
  } else {
    TSha1Digest digest;
    Sha1_->Initialize();
    Sha1_->WriteBuffer(Password.data(), static_cast<int32_t>(Password.size()));
    Sha1_->GetDigest(digest);
    for (int32_t i = 0; i < 5; ++i)
      if (IntField(*Users_, suPwd0 + i) != static_cast<int32_t>(digest[static_cast<size_t>(i)]))
        ZelDatabaseError(0x2734, Context, "");
    if (UserName != AdministratorUserName && PasswordExpiryPeriod_ >= 1) {
      const plat::Variant changed = Users_->DataSetGetFieldDataAsVariant(suDateLastPWordChange);
      if (!changed.IsNull() && changed.AsDateTime() + PasswordExpiryPeriod_ < plat::Now())
        ZelDatabaseError(0x2734, Context, "The password has expired");
    }
  }
  const int32_t groupID = IntField(*Users_, suGroupID);
  const std::string groupName = GetGroupNameFromID(groupID);
  CurrentUserName_ = UserName;
  CurrentGroupID_ = groupID;
  CurrentGroupName_ = groupName;
  DatabaseName_ = DatabaseName;
  LoggedOn_ = true;
  try {
    InternalSetLogonPrivileges();
  } catch (...) {
    Logoff();
    throw;
  }
  return true;
}

void TSecurityManager::Logoff() noexcept {
  CurrentUserName_.clear();
  CurrentGroupName_.clear();
  CurrentGroupID_ = 0;
  LoggedOn_ = false;
  LogonPrivileges_->Clear();
  LogonPrivileges_->ObjectPrivileges().SetTablePrivilegeMask(0);
  LogonPrivileges_->SystemPrivileges().SetPrivilegeMask(0);
}

void TSecurityManager::InternalSetLogonPrivileges() {
  LogonPrivileges_->Clear();
  if (CurrentGroupName_ != AdministratorsGroupName) {
    TZelDataSet& o = *ObjectPrivileges_;
    for (bool more = o.DataSetFirst(); more; more = o.DataSetNext()) {
      if (IntField(o, soGroupID) != CurrentGroupID_) continue;
      TInternalObjPriv* item = LogonPrivileges_->ObjectPrivileges().Add();
      item->SetObjectType(IntField(o, soObjectType));
      item->SetObjectID(IntField(o, soObjectID));
      item->SetPrivilegeID(IntField(o, soPrivilegeID));
      item->SetGrantOption(BoolField(o, soGrantOption));
      std::string fields = TextField(o, soFieldsShort);
      if (fields.empty()) fields = ReadMemo(o, soFieldsLong);
      item->SetFields(BoolField(o, soAll), fields);
    }
    TZelDataSet& s = *SystemPrivileges_;
    for (bool more = s.DataSetFirst(); more; more = s.DataSetNext()) {
      if (IntField(s, ssGroupID) != CurrentGroupID_) continue;
      TInternalSysPriv* item = LogonPrivileges_->SystemPrivileges().Add();
      item->SetPrivilegeID(IntField(s, ssPrivilegeID));
      item->SetGrantOption(BoolField(s, ssGrantOption));
    }
  }
  LogonPrivileges_->ObjectPrivileges().SetMasks();
  LogonPrivileges_->SystemPrivileges().SetMask();
}

// ---------------------------------------------------------------- names

void TSecurityManager::ValidateGroupName(const std::string& Name) const {
  const int32_t length = static_cast<int32_t>(Name.size());
  if (length < MinimumGroupNameLength_ || length > MaxSecurityNameLength)
    ZelDatabaseErrorFmt(0x2585, "TSecurityManager.ValidateGroupName", SzelStringInvalidFmt,
                        {Name, MinimumGroupNameLength_, MaxSecurityNameLength});
}

void TSecurityManager::ValidateUserName(const std::string& Name) const {
  const int32_t length = static_cast<int32_t>(Name.size());
  if (length < MinimumUserNameLength_ || length > MaxSecurityNameLength)
    ZelDatabaseErrorFmt(0x2585, "TSecurityManager.ValidateUserName", SzelStringInvalidFmt,
                        {Name, MinimumUserNameLength_, MaxSecurityNameLength});
}

int32_t TSecurityManager::GetGroupIDFromName(const std::string& Name) {
  CheckIsOpen();
  if (!FindGroup(Name)) ZelDatabaseError(0x2183, "TSecurityManager.GetGroupIDFromName", Name);
  return IntField(*Groups_, sgGroupID);
}

std::string TSecurityManager::GetGroupNameFromID(int32_t ID) {
  CheckIsOpen();
  if (!FindRowByID(*Groups_, sgGroupID, ID))
    ZelDatabaseError(0x2183, "TSecurityManager.GetGroupNameFromID", std::to_string(ID));
  return TextField(*Groups_, sgGroupName);
}

int32_t TSecurityManager::GetObjectIDFromName(const std::string& Name) {
  CheckIsOpen();
  if (Name.empty() || Name == "*" || plat::SameText(Name, "ALL")) return 0;
  if (!FindRow(*ObjectIDs_, oiObjectName, Name)) return 0;
  return IntField(*ObjectIDs_, oiObjectID);
}

std::string TSecurityManager::GetObjectNameFromID(int32_t ID) {
  CheckIsOpen();
  if (ID == 0) return "ALL";
  if (!FindRowByID(*ObjectIDs_, oiObjectID, ID))
    ZelDatabaseError(0x2183, "TSecurityManager.GetObjectNameFromID", std::to_string(ID));
  return TextField(*ObjectIDs_, oiObjectName);
}

// ---------------------------------------------------------------- groups

void TSecurityManager::InternalAddGroup(const std::string& Name) {
  TZelDataSet& g = *Groups_;
  g.InitializeNewRecord(g.RecordBuffer(), false);
  SetField(g, sgGroupName, plat::Variant(Name));
  g.AddRecord(true);
}

void TSecurityManager::AddGroup(const std::string& Name) {
  static const char* const Context = "TSecurityManager.AddGroup";
  CheckIsOpen();
  CheckSystemRight(0x10, Context);
  ValidateGroupName(Name);
  if (FindGroup(Name)) ZelDatabaseError(0x2184, Context, Name);
  InternalAddGroup(Name);
}

void TSecurityManager::RenameGroup(const std::string& OldName, const std::string& NewName) {
  static const char* const Context = "TSecurityManager.RenameGroup";
  CheckIsOpen();
  CheckSystemRight(0x10, Context);
  // Its name is what makes the group all-powerful.
  if (plat::SameText(OldName, AdministratorsGroupName))
    ZelDatabaseError(0x278B, Context, AdministratorsGroupName);
  ValidateGroupName(NewName);
  if (FindGroup(NewName)) ZelDatabaseError(0x2184, Context, NewName);
  if (!FindGroup(OldName)) ZelDatabaseError(0x2183, Context, OldName);
  SetField(*Groups_, sgGroupName, plat::Variant(NewName));
  Groups_->UpdateRecord();
}

void TSecurityManager::DeleteGroupRows(TZelDataSet& Cursor, int32_t GroupID) {
  while (FindRowByID(Cursor, 0, GroupID)) Cursor.DeleteRecord(nullptr);
}

void TSecurityManager::DeleteGroup(const std::string& Name) {
  static const char* const Context = "TSecurityManager.DeleteGroup";
  CheckIsOpen();
  CheckSystemRight(0x10, Context);
  if (plat::SameText(Name, AdministratorsGroupName))
    ZelDatabaseError(0x278C, Context, AdministratorsGroupName);
  if (!FindGroup(Name)) ZelDatabaseError(0x2183, Context, Name);
  const int32_t groupID = IntField(*Groups_, sgGroupID);
  InTransaction(Context, [&] {
    if (!FindGroup(Name)) ZelDatabaseError(0x2183, Context, Name);
    Groups_->DeleteRecord(nullptr);
    DeleteGroupRows(*ObjectPrivileges_, groupID);
    DeleteGroupRows(*SystemPrivileges_, groupID);
    while (FindRowByID(*Users_, suGroupID, groupID)) Users_->DeleteRecord(nullptr);
  });
}

void TSecurityManager::ListGroupNames(plat::TStrings& List) {
  CheckIsOpen();
  CheckSystemRight(0x08, "TSecurityManager.ListGroupNames");
  TZelDataSet& g = *Groups_;
  const std::string index = g.CurrentIndexName();
  g.InternalSetIndexName("ixGroupName");
  try {
    for (bool more = g.DataSetFirst(); more; more = g.DataSetNext()) List.Add(TextField(g, sgGroupName));
  } catch (...) {
    g.InternalSetIndexName(index);
    throw;
  }
  g.InternalSetIndexName(index);
}

// ---------------------------------------------------------------- users

void TSecurityManager::StorePassword(const std::string& Password) {
  TSha1Digest digest;
  Sha1_->Initialize();
  Sha1_->WriteBuffer(Password.data(), static_cast<int32_t>(Password.size()));
  Sha1_->GetDigest(digest);
  for (int32_t i = 0; i < 5; ++i)
    SetField(*Users_, suPwd0 + i, plat::Variant(static_cast<int32_t>(digest[static_cast<size_t>(i)])));
}

void TSecurityManager::InternalAddUser(const std::string& UserName, const std::string& Password,
                                       int32_t GroupID) {
  TZelDataSet& u = *Users_;
  u.InitializeNewRecord(u.RecordBuffer(), false);
  SetField(u, suUserName, plat::Variant(UserName));
  SetField(u, suGroupID, plat::Variant(GroupID));
  StorePassword(Password);
  const plat::Variant now = plat::Variant::FromDateTime(plat::Now());
  SetField(u, suDateCreated, now);
  SetField(u, suDateLastModified, now);
  SetField(u, suDateLastPWordChange, now);
  u.AddRecord(true);
}

void TSecurityManager::AddUser(const std::string& UserName, const std::string& Password,
                               const std::string& GroupName) {
  static const char* const Context = "TSecurityManager.AddUser";
  CheckIsOpen();
  CheckSystemRight(0x02, Context);
  ValidateUserName(UserName);
  if (FindUser(UserName)) ZelDatabaseError(0x2184, Context, UserName);
  if (!FindGroup(GroupName)) ZelDatabaseError(0x2183, Context, GroupName);
  const int32_t groupID = IntField(*Groups_, sgGroupID);
  if (TextField(*Groups_, sgGroupName) == AdministratorsGroupName) CheckAdministrator(Context);
  InternalAddUser(UserName, Password, groupID);
}

void TSecurityManager::DeleteUser(const std::string& UserName) {
  static const char* const Context = "TSecurityManager.DeleteUser";
  CheckIsOpen();
  CheckSystemRight(0x02, Context);
  // Without it, the next logon as "administrator" would take any password.
  if (plat::SameText(UserName, AdministratorUserName))
    ZelDatabaseError(0x278C, Context, AdministratorUserName);
  if (FindUser(UserName)) Users_->DeleteRecord(nullptr);
}

void TSecurityManager::ChangeGroup(const std::string& UserName, const std::string& GroupName) {
  static const char* const Context = "TSecurityManager.ChangeGroup";
  CheckIsOpen();
  CheckSystemRight(0x10, Context);
  if (!FindGroup(GroupName)) ZelDatabaseError(0x2183, Context, GroupName);
  const int32_t groupID = IntField(*Groups_, sgGroupID);
  const bool toAdministrators = TextField(*Groups_, sgGroupName) == AdministratorsGroupName;
  if (!FindUser(UserName)) ZelDatabaseError(0x2183, Context, UserName);
  const int32_t fromID = IntField(*Users_, suGroupID);
  if (toAdministrators || GetGroupNameFromID(fromID) == AdministratorsGroupName)
    CheckAdministrator(Context);
  if (!FindUser(UserName)) ZelDatabaseError(0x2183, Context, UserName);
  SetField(*Users_, suGroupID, plat::Variant(groupID));
  SetField(*Users_, suDateLastModified, plat::Variant::FromDateTime(plat::Now()));
  Users_->UpdateRecord();
}

void TSecurityManager::ChangePassword(const std::string& UserName, const std::string& Password) {
  static const char* const Context = "TSecurityManager.ChangePassword";
  CheckIsOpen();
  const bool own = LoggedOn_ && UserName == CurrentUserName_;
  if (!own) CheckSystemRight(0x02, Context);
  if (!FindUser(UserName)) ZelDatabaseError(0x2183, Context, UserName);
  if (!own) {
    const int32_t groupID = IntField(*Users_, suGroupID);
    if (GetGroupNameFromID(groupID) == AdministratorsGroupName) CheckAdministrator(Context);
    if (!FindUser(UserName)) ZelDatabaseError(0x2183, Context, UserName);
  }
  StorePassword(Password);
  const plat::Variant now = plat::Variant::FromDateTime(plat::Now());
  SetField(*Users_, suDateLastModified, now);
  SetField(*Users_, suDateLastPWordChange, now);
  Users_->UpdateRecord();
}

void TSecurityManager::ListUserNames(const std::string& GroupName, plat::TStrings& List) {
  CheckIsOpen();
  CheckSystemRight(0x01, "TSecurityManager.ListUserNames");
  const int32_t groupID = GetGroupIDFromName(GroupName);
  TZelDataSet& u = *Users_;
  const std::string index = u.CurrentIndexName();
  u.InternalSetIndexName("ixGroupUsers");
  try {
    for (bool more = u.DataSetFirst(); more; more = u.DataSetNext())
      if (IntField(u, suGroupID) == groupID) List.Add(TextField(u, suUserName));
  } catch (...) {
    u.InternalSetIndexName(index);
    throw;
  }
  u.InternalSetIndexName(index);
}

std::string TSecurityManager::GetUserGroupName(const std::string& UserName) {
  static const char* const Context = "TSecurityManager.GetUserGroupName";
  CheckIsOpen();
  CheckSystemRight(0x08, Context);
  if (!FindUser(UserName)) ZelDatabaseError(0x2183, Context, UserName);
  return GetGroupNameFromID(IntField(*Users_, suGroupID));
}

// ---------------------------------------------------------------- privileges

void TSecurityManager::GetPrivileges(TDatabaseObjectType ObjectType, const std::string& ObjectName,
                                     TPrivileges& Privileges) {
  static const char* const Context = "TSecurityManager.GetPrivileges";
  CheckIsOpen();
  const std::string group = Privileges.GroupName();
  if (group != CurrentGroupName_) CheckAdministrator(Context);
  const std::string object = ObjectName.empty() || ObjectName == "*" ? "ALL" : ObjectName;
  Privileges.ClearPrivileges();
  if (group == AdministratorsGroupName) {
    for (int32_t t = opCreateObj; t <= opUpdateData; ++t) {
      TObjectPrivilege* item = Privileges.ObjectPrivileges().Add();
      item->SetObjectType(ObjectType == doNone ? doTable : ObjectType);
      item->SetObjectName(object);
      item->SetPrivilegeType(static_cast<TObjectPrivilegeType>(t));
      item->SetFields("ALL");
    }
    for (int32_t t = spViewUsers; t <= spEditGroups; ++t)
      Privileges.SystemPrivileges().Add()->SetPrivilegeType(static_cast<TSystemPrivilegeType>(t));
    return;
  }
  const int32_t groupID = GetGroupIDFromName(group);
  const bool all = plat::SameText(object, "ALL");
  const int32_t objectID = all ? 0 : GetObjectIDFromName(object);
  if (!all && objectID == 0) ZelDatabaseError(0x2183, Context, object);
  struct TRow {
    int32_t ObjectID, PrivilegeID;
    bool All, GrantOption;
    std::string Fields;
  };
  std::vector<TRow> rows;
  TZelDataSet& o = *ObjectPrivileges_;
  for (bool more = o.DataSetFirst(); more; more = o.DataSetNext()) {
    if (IntField(o, soGroupID) != groupID || IntField(o, soObjectType) != ObjectTypeTable) continue;
    if (!all && IntField(o, soObjectID) != objectID) continue;
    TRow row{IntField(o, soObjectID), IntField(o, soPrivilegeID), BoolField(o, soAll),
             BoolField(o, soGrantOption), TextField(o, soFieldsShort)};
    if (row.Fields.empty()) row.Fields = ReadMemo(o, soFieldsLong);
    rows.push_back(std::move(row));
  }
  for (const TRow& row : rows) {
    TObjectPrivilege* item = Privileges.ObjectPrivileges().Add();
    item->SetObjectType(doTable);
    const std::string name = GetObjectNameFromID(row.ObjectID);
    item->SetObjectName(name);
    item->SetPrivilegeType(MapObjectPrivConstToType(row.PrivilegeID));
    item->SetGrantOption(row.GrantOption);
    if (row.All || row.ObjectID == 0) {
      item->SetFields("ALL");
      continue;
    }
    // Field numbers back to the names of the table's fields.
    TTableDef def;
    def.SetMemory(false);
    Database_->QueryTableDef(name, false, def);
    plat::TStringList ids, names;
    ids.SetCommaText(row.Fields);
    for (int32_t i = 0; i < ids.Count(); ++i)
      for (int32_t f = 0; f < def.InternalFields().Count(); ++f)
        if (std::to_string(def.InternalFields().GetIndex(f)->FieldNo()) == ids.Strings(i))
          names.Add(def.InternalFields().GetIndex(f)->FieldName());
    item->SetFields(names.CommaText());
  }
  TZelDataSet& s = *SystemPrivileges_;
  for (bool more = s.DataSetFirst(); more; more = s.DataSetNext()) {
    if (IntField(s, ssGroupID) != groupID) continue;
    TSystemPrivilege* item = Privileges.SystemPrivileges().Add();
    item->SetPrivilegeType(MapSystemPrivConstToType(IntField(s, ssPrivilegeID)));
    item->SetGrantOption(BoolField(s, ssGrantOption));
  }
}

void TSecurityManager::SetPrivileges(const TPrivileges& Privileges, bool Replace) {
  static const char* const Context = "TSecurityManager.SetPrivileges";
  CheckIsOpen();
  if (plat::SameText(Privileges.GroupName(), AdministratorsGroupName))
    ZelDatabaseError(0x278B, Context, AdministratorsGroupName);
  CheckAdministrator(Context);
  const int32_t groupID = GetGroupIDFromName(Privileges.GroupName());
  InternalSetObjectPrivileges(groupID, Privileges.ObjectPrivileges(), Replace);
  InternalSetSystemPrivileges(groupID, Privileges.SystemPrivileges(), Replace);
}

void TSecurityManager::RevokePrivileges(const std::string& GroupName) {
  static const char* const Context = "TSecurityManager.RevokePrivileges";
  CheckIsOpen();
  CheckAdministrator(Context);
  if (plat::SameText(GroupName, AdministratorsGroupName))
    ZelDatabaseError(0x278B, Context, AdministratorsGroupName);
  const int32_t groupID = GetGroupIDFromName(GroupName);
  TObjectPrivileges objects;
  TSystemPrivileges systems;
  InternalSetObjectPrivileges(groupID, objects, true);
  InternalSetSystemPrivileges(groupID, systems, true);
}

void TSecurityManager::InternalSetObjectPrivileges(int32_t GroupID, const TObjectPrivileges& List,
                                                   bool Replace) {
  static const char* const Context = "TSecurityManager.InternalSetObjectPrivileges";
  InTransaction(Context, [&] {
    TZelDataSet& o = *ObjectPrivileges_;
    if (Replace) DeleteGroupRows(o, GroupID);
    for (int32_t i = 0; i < List.Count(); ++i) {
      const TObjectPrivilege& p = *List.Items(i);
      const int32_t privilegeID = MapObjectPrivTypeToConst(p.PrivilegeType());
      if (privilegeID == 0) ZelDatabaseError(0x2185, Context, p.ObjectName());
      int32_t objectID = GetObjectIDFromName(p.ObjectName());
      bool all = true;
      std::string fields;
      if (objectID == 0 || p.PrivilegeType() == opCreateObj) {
        objectID = 0;
      } else if (p.Fields() != "ALL" && p.Fields() != "*" &&
                 (p.PrivilegeType() == opReadData || p.PrivilegeType() == opUpdateData)) {
        all = false;
        TTableDef def;
        def.SetMemory(false);
        Database_->QueryTableDef(p.ObjectName(), false, def);
        plat::TStringList names, ids;
        names.SetCommaText(p.Fields());
        for (int32_t n = 0; n < names.Count(); ++n) {
          const TInternalFieldItem* field = def.InternalFields().FindField(names.Strings(n));
          if (field == nullptr) ZelDatabaseError(0x2183, Context, names.Strings(n));
          ids.Add(std::to_string(field->FieldNo()));
        }
        fields = ids.CommaText();
      }
      bool found = false;
      for (bool more = o.DataSetFirst(); more && !found; more = more && o.DataSetNext())
        found = IntField(o, soGroupID) == GroupID && IntField(o, soObjectType) == ObjectTypeTable &&
                IntField(o, soObjectID) == objectID && IntField(o, soPrivilegeID) == privilegeID;
      if (!found) {
        o.InitializeNewRecord(o.RecordBuffer(), false);
        SetField(o, soGroupID, plat::Variant(GroupID));
        SetField(o, soObjectType, plat::Variant(ObjectTypeTable));
        SetField(o, soObjectID, plat::Variant(objectID));
        SetField(o, soPrivilegeID, plat::Variant(privilegeID));
      }
      SetField(o, soAll, plat::Variant(all));
      SetField(o, soGrantOption, plat::Variant(p.GrantOption()));
      plat::TMemoryStream longFields;
      if (static_cast<int32_t>(fields.size()) <= MaxFieldsShort) {
        SetField(o, soFieldsShort, fields.empty() ? plat::Variant::MakeNull() : plat::Variant(fields));
        o.DataSetSetFieldStream(soFieldsLong, true, longFields);
      } else {
        SetField(o, soFieldsShort, plat::Variant::MakeNull());
        longFields.WriteBuffer(fields.data(), static_cast<int32_t>(fields.size()));
        o.DataSetSetFieldStream(soFieldsLong, false, longFields);
      }
      if (found)
        o.UpdateRecord();
      else
        o.AddRecord(false);
    }
  });
}

void TSecurityManager::InternalSetSystemPrivileges(int32_t GroupID, const TSystemPrivileges& List,
                                                   bool Replace) {
  static const char* const Context = "TSecurityManager.InternalSetSystemPrivileges";
  InTransaction(Context, [&] {
    TZelDataSet& s = *SystemPrivileges_;
    if (Replace) DeleteGroupRows(s, GroupID);
    for (int32_t i = 0; i < List.Count(); ++i) {
      const TSystemPrivilege& p = *List.Items(i);
      const int32_t privilegeID = MapSystemPrivTypeToConst(p.PrivilegeType());
      if (privilegeID == 0) ZelDatabaseError(0x2185, Context, "");
      bool found = false;
      for (bool more = s.DataSetFirst(); more && !found; more = more && s.DataSetNext())
        found = IntField(s, ssGroupID) == GroupID && IntField(s, ssPrivilegeID) == privilegeID;
      if (!found) {
        s.InitializeNewRecord(s.RecordBuffer(), false);
        SetField(s, ssGroupID, plat::Variant(GroupID));
        SetField(s, ssPrivilegeID, plat::Variant(privilegeID));
      }
      SetField(s, ssGrantOption, plat::Variant(p.GrantOption()));
      if (found)
        s.UpdateRecord();
      else
        s.AddRecord(false);
    }
  });
}

bool TSecurityManager::CheckIfLogonHasSystemPrivilege(TSystemPrivilegeType PrivilegeType) const {
  if (IsAdministrator()) return true;
  return LogonPrivileges_->SystemPrivileges().CheckPrivilegeExists(
      MapSystemPrivTypeToConst(PrivilegeType));
}

bool TSecurityManager::CheckIfLogonHasObjectPrivilege(TDatabaseObjectType, const std::string& ObjectName,
                                                      TObjectPrivilegeType PrivilegeType) {
  if (IsAdministrator()) return true;
  const int32_t objectID = ObjectName == "*" ? 0 : GetObjectIDFromName(ObjectName);
  return LogonPrivileges_->ObjectPrivileges().CheckPrivilegeExists(
      objectID, MapObjectPrivTypeToConst(PrivilegeType));
}

namespace {

// The object whose privileges apply to a table: its own when the group has
// any on it, else those on all tables.
int32_t EffectiveObjectID(const TInternalObjPrivs& Privs, int32_t ObjectID) {
  for (int32_t i = 0; i < Privs.Count(); ++i)
    if (Privs.Items(i)->ObjectID() == ObjectID) return ObjectID;
  return 0;
}

}  // namespace

bool TSecurityManager::LogonHasTablePrivilege(int32_t ObjectID, int32_t PrivilegeID) const {
  if (IsAdministrator()) return true;
  if (!LoggedOn_) return false;
  const TInternalObjPrivs& privs = LogonPrivileges_->ObjectPrivileges();
  return privs.CheckPrivilegeExists(EffectiveObjectID(privs, ObjectID), PrivilegeID);
}

void TSecurityManager::InternalSetTablePrivileges(TTableDef& Def, bool FullAccess) {
  TInternalFields& fields = Def.InternalFields();
  if (FullAccess || IsAdministrator()) {
    Def.SetPrivilegeFlags(AllPrivileges);
    for (int32_t i = 0; i < fields.Count(); ++i) fields.GetIndex(i)->SetPrivilegeFlags(AllPrivileges);
    return;
  }
  const TInternalObjPrivs& privs = LogonPrivileges_->ObjectPrivileges();
  const int32_t objectID =
      LoggedOn_ ? EffectiveObjectID(privs, Database_->InternalGetObjectIDFromName(Def.TableName())) : -1;
  int32_t tableFlags = 0;
  for (int32_t i = 0; i < privs.Count(); ++i)
    if (privs.Items(i)->ObjectID() == objectID) tableFlags |= privs.Items(i)->PrivilegeID();
  Def.SetPrivilegeFlags(tableFlags);
  for (int32_t f = 0; f < fields.Count(); ++f) {
    TInternalFieldItem* field = fields.GetIndex(f);
    int32_t flags = tableFlags & ~(opReadDataBit | opUpdateDataBit);
    for (const int32_t bit : {opReadDataBit, opUpdateDataBit})
      if (privs.CheckPrivilegeAndFieldID(objectID, bit, field->FieldNo())) flags |= bit;
    field->SetPrivilegeFlags(flags);
  }
}

// ---------------------------------------------------------------- the database's checks

void TZelDataBase::SecuredLogon(std::string& Username, std::string& Password) {
  bool loggedOn = false;
  if (BeforeLogin) {
    // The handler gave its answer once: a refusal reaches the caller.
    loggedOn = SecurityMgr_->Logon(Username, Password, DataBaseName_);
  } else {
    // A person is asked again after each refusal, until a logon succeeds or
    // the dialog is cancelled.
    while (!loggedOn) {
      try {
        loggedOn = SecurityMgr_->Logon(Username, Password, DataBaseName_);
      } catch (const EZelDatabaseError& e) {
        if (e.ErrorCode() != 0x2734) throw;
        plat::MessageDlg(e.Message(), plat::mtError, plat::TMsgDlgButtons{plat::mbOK});
        std::string key;
        if (!ShowZelLoginDialog(DataBaseName_, 2, key, Password, Username)) break;
      }
    }
  }
  if (!loggedOn) ZelDatabaseError(0x271F, "TZelDataBase.SecuredLogon", "", this);
  Privileges_->SetGroupName(SecurityMgr_->CurrentGroupName());
  SecurityMgr_->GetPrivileges(doTable, "", *Privileges_);
  InternalSetDatabasePrivileges();
}

void TZelDataBase::InternalSetDatabasePrivileges() {
  DatabasePrivileges_ = 0;
  if (IsMemoryDatabase()) {
    DatabasePrivileges_ = 0x7FFFFFFF;
    return;
  }
  for (const TSystemPrivilegeType type : {spViewUsers, spEditUsers, spViewGroups, spEditGroups})
    if (Privileges_->SystemPrivileges().FindPrivilege(type) != nullptr)
      DatabasePrivileges_ |= static_cast<uint32_t>(MapSystemPrivTypeToConst(type));
}

void TZelDataBase::InternalCheckCanOpenDataObject(TDatabaseObjectType ObjectType, const std::string& Name) {
  static const char* const Context = "TZelDataBase.InternalCheckCanOpenDataObject";
  const int32_t objectID = ObjectType == doTable ? InternalGetObjectIDFromName(Name) : 0;
  if (objectID == 0) ZelDatabaseError(0x2183, Context, Name, this);
  if (!SecurityMgr_->LogonHasTablePrivilege(objectID, MapObjectPrivTypeToConst(opExecuteObj)))
    ZelDatabaseError(0x2980, Context, Name, this);
}

bool TZelDataBase::QueryObjectPrivilegeExists(TDatabaseObjectType ObjectType, const std::string& Name,
                                              int32_t PrivilegeConst) {
  if (!Connected_ || !NeedSecurity()) return true;
  const bool all = plat::SameText(Name, "ALL");
  const int32_t objectID = ObjectType == doTable && !all ? InternalGetObjectIDFromName(Name) : 0;
  if (!all && objectID == 0) ZelDatabaseError(0x2183, "TZelDataBase.QueryObjectPrivilegeExists", Name, this);
  return SecurityMgr_->LogonHasTablePrivilege(objectID, PrivilegeConst);
}

void TZelDataBase::CheckObjectPrivilege(const std::string& Name, int32_t PrivilegeConst, const char* Context) {
  if (!QueryObjectPrivilegeExists(doTable, Name, PrivilegeConst)) ZelDatabaseError(0x2980, Context, Name, this);
}

}  // namespace zel
