#pragma once
// Users, groups and privileges of a database with enforced security.
//
// The security manager works on the four encrypted security tables and the
// object-ID table of its database, through cursors the database opens for
// it. Rules:
//  1. The group "administrators" holds every right without any privilege
//     rows; it can be neither renamed, deleted nor given privileges.
//  2. The user "administrator" (that exact case) is made with the password
//     "quindo" by the first logon to a database that has no group
//     "administrators"; it can never be deleted, so that this any-password
//     logon never opens again.
//  3. Only members of "administrators" put a user into that group, move such
//     a user to another group or set such a user's password.
//  4. A password is stored as the five words of its SHA-1 digest, as signed
//     32-bit integers in "Pwd0" to "Pwd4".

#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage/zelCrypt.h"
#include "engine/storage/zelDataPrivileges.h"
#include "engine/storage/zelTableMgrUnit.h"
#include "platform/rtl/Classes.h"

namespace zel {

class TZelDataBase;
class TZelDataSet;

inline constexpr const char* AdministratorUserName = "administrator";
inline constexpr const char* AdministratorsGroupName = "administrators";
inline constexpr int32_t MaxSecurityNameLength = 30;

class TSecurityManager {
 public:
  TSecurityManager();
  ~TSecurityManager();
  TSecurityManager(const TSecurityManager&) = delete;
  TSecurityManager& operator=(const TSecurityManager&) = delete;

  void Open(TZelDataBase* Database, TZelDataSet* Users, TZelDataSet* ObjectIDs,
            TZelDataSet* SystemPrivileges, TZelDataSet* ObjectPrivileges, TZelDataSet* Groups);
  void Close() noexcept;
  bool IsOpen() const { return Open_; }
  void CheckIsOpen() const;

  bool Logon(const std::string& UserName, const std::string& Password,
             const std::string& DatabaseName);
  void Logoff() noexcept;

  void AddGroup(const std::string& Name);
  void RenameGroup(const std::string& OldName, const std::string& NewName);
  void DeleteGroup(const std::string& Name);
  void AddUser(const std::string& UserName, const std::string& Password,
               const std::string& GroupName);
  void DeleteUser(const std::string& UserName);
  void ChangeGroup(const std::string& UserName, const std::string& GroupName);
  void ChangePassword(const std::string& UserName, const std::string& Password);
  void ListGroupNames(plat::TStrings& List);
  void ListUserNames(const std::string& GroupName, plat::TStrings& List);
  std::string GetUserGroupName(const std::string& UserName);

  int32_t GetGroupIDFromName(const std::string& Name);
  std::string GetGroupNameFromID(int32_t ID);
  // "ALL" is object 0; an unknown name gives 0 too.
  int32_t GetObjectIDFromName(const std::string& Name);
  std::string GetObjectNameFromID(int32_t ID);
  void ValidateGroupName(const std::string& Name) const;
  void ValidateUserName(const std::string& Name) const;

  // The privileges of the group named in Privileges on the table
  // ObjectName ("" or "*" for all tables).
  void GetPrivileges(TDatabaseObjectType ObjectType, const std::string& ObjectName,
                     TPrivileges& Privileges);
  void SetPrivileges(const TPrivileges& Privileges, bool Replace);
  void RevokePrivileges(const std::string& GroupName);
  bool CheckIfLogonHasObjectPrivilege(TDatabaseObjectType ObjectType,
                                      const std::string& ObjectName,
                                      TObjectPrivilegeType PrivilegeType);
  bool CheckIfLogonHasSystemPrivilege(TSystemPrivilegeType PrivilegeType) const;

  // Whether the logged-on group holds the privilege bit on the table (the
  // table's own privileges, or those on all tables when it has none of its
  // own).
  bool LogonHasTablePrivilege(int32_t ObjectID, int32_t PrivilegeID) const;
  // Sets the table's and its fields' privilege flags from the logged-on
  // group's rights; every flag with FullAccess.
  void InternalSetTablePrivileges(TTableDef& Def, bool FullAccess);

  int32_t PasswordExpiryPeriod() const { return PasswordExpiryPeriod_; }
  void SetPasswordExpiryPeriod(int32_t Value) { PasswordExpiryPeriod_ = Value; }
  int32_t MinimumGroupNameLength() const { return MinimumGroupNameLength_; }
  void SetMinimumGroupNameLength(int32_t Value) { MinimumGroupNameLength_ = Value; }
  int32_t MinimumUserNameLength() const { return MinimumUserNameLength_; }
  void SetMinimumUserNameLength(int32_t Value) { MinimumUserNameLength_ = Value; }

  const std::string& CurrentUserName() const { return CurrentUserName_; }
  const std::string& CurrentGroupName() const { return CurrentGroupName_; }
  int32_t CurrentGroupID() const { return CurrentGroupID_; }
  const std::string& DatabaseName() const { return DatabaseName_; }
  bool LoggedOn() const { return LoggedOn_; }
  const TInternalPrivileges& LogonPrivileges() const { return *LogonPrivileges_; }

 private:
  bool IsAdministrator() const;
  void CheckSystemRight(int32_t Bit, const char* Context) const;
  void CheckAdministrator(const char* Context) const;
  // Positions Cursor on the row whose field FieldNo equals Value (names
  // compared ignoring case unless Exact); false when none.
  bool FindRow(TZelDataSet& Cursor, int32_t FieldNo, const std::string& Value, bool Exact = false);
  bool FindRowByID(TZelDataSet& Cursor, int32_t FieldNo, int32_t Value);
  bool FindGroup(const std::string& Name) { return FindRow(*Groups_, 1, Name); }
  bool FindUser(const std::string& Name, bool Exact = false) { return FindRow(*Users_, 1, Name, Exact); }
  void StorePassword(const std::string& Password);
  void InternalAddGroup(const std::string& Name);
  void InternalAddUser(const std::string& UserName, const std::string& Password, int32_t GroupID);
  void InternalSetLogonPrivileges();
  // Deletes every row of Cursor whose first field is GroupID.
  void DeleteGroupRows(TZelDataSet& Cursor, int32_t GroupID);
  void InternalSetObjectPrivileges(int32_t GroupID, const TObjectPrivileges& List, bool Replace);
  void InternalSetSystemPrivileges(int32_t GroupID, const TSystemPrivileges& List, bool Replace);
  // Runs Action in a database transaction of its own: committed when it
  // returns, rolled back when it fails.
  template <typename F>
  void InTransaction(const char* Context, F&& Action);

  bool Open_ = false;
  TZelDataBase* Database_ = nullptr;
  TZelDataSet* Users_ = nullptr;
  TZelDataSet* ObjectIDs_ = nullptr;
  TZelDataSet* SystemPrivileges_ = nullptr;
  TZelDataSet* ObjectPrivileges_ = nullptr;
  TZelDataSet* Groups_ = nullptr;
  int32_t PasswordExpiryPeriod_ = 0;
  std::string CurrentUserName_;
  int32_t CurrentGroupID_ = 0;
  std::string CurrentGroupName_;
  std::string DatabaseName_;
  bool LoggedOn_ = false;
  std::unique_ptr<TInternalPrivileges> LogonPrivileges_;
  int32_t MinimumGroupNameLength_ = 2;
  int32_t MinimumUserNameLength_ = 2;
  std::unique_ptr<TSha1Stream> Sha1_;
};

}  // namespace zel
