#pragma once
// Privilege records: what a group may do with database objects and with the
// security system itself.
//
// Two families of records carry the same rights:
//  - the internal privileges keep an object privilege by numeric object ID,
//    privilege bit and covered field IDs, and a system privilege by bit; the
//    table cursor and the database ask them before they act;
//  - the public privileges keep an object privilege by object name and
//    privilege type, and a system privilege by type; they are what a host
//    edits when it changes a group's rights.
// The bit values are the ones stored in the security tables' PrivilegeID
// columns, so they never change.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/rtl/Classes.h"

namespace zel {

enum TObjectPrivilegeType : uint8_t {
  opNone,
  opCreateObj,
  opDeleteObj,
  opExecuteObj,
  opAlterObj,
  opInsertData,
  opDeleteData,
  opReadData,
  opUpdateData
};

// The stored bit of each object privilege type, by ordinal.
inline constexpr std::array<int32_t, 9> ObjectPrivilegeConsts = {0,   2,    4,    8,   16,
                                                                 256, 1024, 2048, 4096};
inline constexpr std::array<const char*, 9> ObjectPrivilegeNames = {
    "None",        "Create Object", "Delete Object", "Open object", "Alter Object",
    "Insert data", "Delete data",   "Read data",     "Update data"};

enum TSystemPrivilegeType : uint8_t {
  spNone,
  spViewUsers,
  spEditUsers,
  spViewGroups,
  spEditGroups
};

inline constexpr std::array<int32_t, 5> SystemPrivilegeConsts = {0, 1, 2, 8, 16};
inline constexpr std::array<const char*, 5> SystemPrivilegeNames = {
    "None", "View users", "Edit users", "View groups", "Edit groups"};

enum TDatabaseObjectType : uint8_t { doNone, doTable };

// The type whose stored bit is Value; opNone for any other value.
TObjectPrivilegeType MapObjectPrivConstToType(int32_t Value);
int32_t MapObjectPrivTypeToConst(TObjectPrivilegeType Type);
// The same for system privileges.
TSystemPrivilegeType MapSystemPrivConstToType(int32_t Value);
int32_t MapSystemPrivTypeToConst(TSystemPrivilegeType Type);

// ---------------------------------------------------------------------------
// Internal records.

// One object privilege of the logged-on group. FieldIDValues holds the
// covered field IDs in decimal; it matters only while AllFields is false.
class TInternalObjPriv : public plat::TCollectionItem {
 public:
  explicit TInternalObjPriv(plat::TCollection* Collection);

  std::string ClassName() const override { return "TInternalObjPriv"; }

  bool GrantOption() const { return GrantOption_; }
  void SetGrantOption(bool Value) { GrantOption_ = Value; }
  int32_t PrivilegeID() const { return PrivilegeID_; }
  void SetPrivilegeID(int32_t Value) { PrivilegeID_ = Value; }
  int32_t ObjectID() const { return ObjectID_; }
  void SetObjectID(int32_t Value) { ObjectID_ = Value; }
  bool AllFields() const { return AllFields_; }
  int32_t ObjectType() const { return ObjectType_; }
  void SetObjectType(int32_t Value) { ObjectType_ = Value; }
  const plat::TStringList& FieldIDValues() const { return *FieldIDValues_; }

  // AllFields and the covered field IDs given as comma text.
  void SetFields(bool AllFields, const std::string& FieldIDs);
  // Replaces the field IDs by a copy of List.
  void SetFieldIDValues(const plat::TStrings& List);

 private:
  bool GrantOption_ = false;
  int32_t PrivilegeID_ = 0;
  int32_t ObjectID_ = 0;
  bool AllFields_ = false;
  std::unique_ptr<plat::TStringList> FieldIDValues_;
  int32_t ObjectType_ = 0;
};

class TInternalObjPrivs : public plat::TCollection {
 public:
  TInternalObjPrivs();

  std::string ClassName() const override { return "TInternalObjPrivs"; }

  TInternalObjPriv* Add() { return static_cast<TInternalObjPriv*>(plat::TCollection::Add()); }
  TInternalObjPriv* Items(int32_t Index) const {
    return static_cast<TInternalObjPriv*>(plat::TCollection::Items(Index));
  }

  // The first item with both values, or nullptr.
  TInternalObjPriv* FindPrivilege(int32_t ObjectID, int32_t PrivilegeID) const;
  bool CheckPrivilegeExists(int32_t ObjectID, int32_t PrivilegeID) const;
  // Whether the privilege exists and covers the field: all fields, or
  // FieldID among the listed ones.
  bool CheckPrivilegeAndFieldID(int32_t ObjectID, int32_t PrivilegeID, int32_t FieldID) const;
  // TablePrivilegeMask := the OR of the privilege bits of object 1.
  void SetMasks();

  int32_t TablePrivilegeMask() const { return TablePrivilegeMask_; }
  void SetTablePrivilegeMask(int32_t Value) { TablePrivilegeMask_ = Value; }

 private:
  int32_t TablePrivilegeMask_ = 0;
};

class TInternalSysPriv : public plat::TCollectionItem {
 public:
  explicit TInternalSysPriv(plat::TCollection* Collection) : plat::TCollectionItem(Collection) {}

  std::string ClassName() const override { return "TInternalSysPriv"; }

  bool GrantOption() const { return GrantOption_; }
  void SetGrantOption(bool Value) { GrantOption_ = Value; }
  int32_t PrivilegeID() const { return PrivilegeID_; }
  void SetPrivilegeID(int32_t Value) { PrivilegeID_ = Value; }

 private:
  bool GrantOption_ = false;
  int32_t PrivilegeID_ = 0;
};

class TInternalSysPrivs : public plat::TCollection {
 public:
  TInternalSysPrivs();

  std::string ClassName() const override { return "TInternalSysPrivs"; }

  TInternalSysPriv* Add() { return static_cast<TInternalSysPriv*>(plat::TCollection::Add()); }
  TInternalSysPriv* Items(int32_t Index) const {
    return static_cast<TInternalSysPriv*>(plat::TCollection::Items(Index));
  }

  TInternalSysPriv* FindPrivilege(int32_t PrivilegeID) const;
  bool CheckPrivilegeExists(int32_t PrivilegeID) const;
  // PrivilegeMask := the OR of every item's privilege bit.
  void SetMask();

  int32_t PrivilegeMask() const { return PrivilegeMask_; }
  void SetPrivilegeMask(int32_t Value) { PrivilegeMask_ = Value; }

 private:
  int32_t PrivilegeMask_ = 0;
};

// The logged-on group's rights as the checks use them.
class TInternalPrivileges : public plat::TObject {
 public:
  TInternalPrivileges();
  TInternalPrivileges(const TInternalPrivileges&) = delete;
  TInternalPrivileges& operator=(const TInternalPrivileges&) = delete;

  std::string ClassName() const override { return "TInternalPrivileges"; }

  TInternalObjPrivs& ObjectPrivileges() { return *ObjectPrivileges_; }
  const TInternalObjPrivs& ObjectPrivileges() const { return *ObjectPrivileges_; }
  TInternalSysPrivs& SystemPrivileges() { return *SystemPrivileges_; }
  const TInternalSysPrivs& SystemPrivileges() const { return *SystemPrivileges_; }

  // Empties both collections.
  void Clear();

 private:
  std::unique_ptr<TInternalObjPrivs> ObjectPrivileges_;
  std::unique_ptr<TInternalSysPrivs> SystemPrivileges_;
};

// ---------------------------------------------------------------------------
// Public records.

class TObjectPrivilege : public plat::TCollectionItem {
 public:
  explicit TObjectPrivilege(plat::TCollection* Collection) : plat::TCollectionItem(Collection) {}

  std::string ClassName() const override { return "TObjectPrivilege"; }

  const std::string& ObjectName() const { return ObjectName_; }
  void SetObjectName(const std::string& Value) { ObjectName_ = Value; }
  TDatabaseObjectType ObjectType() const { return ObjectType_; }
  void SetObjectType(TDatabaseObjectType Value) { ObjectType_ = Value; }
  TObjectPrivilegeType PrivilegeType() const { return PrivilegeType_; }
  void SetPrivilegeType(TObjectPrivilegeType Value) { PrivilegeType_ = Value; }
  const std::string& Fields() const { return Fields_; }
  void SetFields(const std::string& Value) { Fields_ = Value; }
  bool GrantOption() const { return GrantOption_; }
  void SetGrantOption(bool Value) { GrantOption_ = Value; }

  // From another TObjectPrivilege every field; otherwise the library's rule.
  void Assign(const plat::TPersistent* Source) override;

 private:
  std::string ObjectName_;
  TDatabaseObjectType ObjectType_ = doNone;
  TObjectPrivilegeType PrivilegeType_ = opNone;
  std::string Fields_;
  bool GrantOption_ = false;
};

class TObjectPrivileges : public plat::TCollection {
 public:
  TObjectPrivileges();

  std::string ClassName() const override { return "TObjectPrivileges"; }

  TObjectPrivilege* Add() { return static_cast<TObjectPrivilege*>(plat::TCollection::Add()); }
  TObjectPrivilege* Items(int32_t Index) const {
    return static_cast<TObjectPrivilege*>(plat::TCollection::Items(Index));
  }

  // The first item with all three equal (the name compared exactly), or
  // nullptr.
  TObjectPrivilege* FindPrivilege(TDatabaseObjectType ObjectType, const std::string& ObjectName,
                                  TObjectPrivilegeType PrivilegeType) const;
  // Whether any item has that type and name.
  bool CheckForNamedObjectPrivileges(TDatabaseObjectType ObjectType,
                                     const std::string& ObjectName) const;
};

class TSystemPrivilege : public plat::TCollectionItem {
 public:
  explicit TSystemPrivilege(plat::TCollection* Collection) : plat::TCollectionItem(Collection) {}

  std::string ClassName() const override { return "TSystemPrivilege"; }

  TSystemPrivilegeType PrivilegeType() const { return PrivilegeType_; }
  void SetPrivilegeType(TSystemPrivilegeType Value) { PrivilegeType_ = Value; }
  bool GrantOption() const { return GrantOption_; }
  void SetGrantOption(bool Value) { GrantOption_ = Value; }

  void Assign(const plat::TPersistent* Source) override;

 private:
  TSystemPrivilegeType PrivilegeType_ = spNone;
  bool GrantOption_ = false;
};

class TSystemPrivileges : public plat::TCollection {
 public:
  TSystemPrivileges();

  std::string ClassName() const override { return "TSystemPrivileges"; }

  TSystemPrivilege* Add() { return static_cast<TSystemPrivilege*>(plat::TCollection::Add()); }
  TSystemPrivilege* Items(int32_t Index) const {
    return static_cast<TSystemPrivilege*>(plat::TCollection::Items(Index));
  }

  TSystemPrivilege* FindPrivilege(TSystemPrivilegeType PrivilegeType) const;
};

// One group's rights as a host edits them.
class TPrivileges : public plat::TObject {
 public:
  TPrivileges();
  TPrivileges(const TPrivileges&) = delete;
  TPrivileges& operator=(const TPrivileges&) = delete;

  std::string ClassName() const override { return "TPrivileges"; }

  const std::string& GroupName() const { return GroupName_; }
  void SetGroupName(const std::string& Value) { GroupName_ = Value; }
  TObjectPrivileges& ObjectPrivileges() { return *ObjectPrivileges_; }
  const TObjectPrivileges& ObjectPrivileges() const { return *ObjectPrivileges_; }
  TSystemPrivileges& SystemPrivileges() { return *SystemPrivileges_; }
  const TSystemPrivileges& SystemPrivileges() const { return *SystemPrivileges_; }

  // Empties both collections (the group name stays).
  void ClearPrivileges();

 private:
  std::string GroupName_;
  std::unique_ptr<TObjectPrivileges> ObjectPrivileges_;
  std::unique_ptr<TSystemPrivileges> SystemPrivileges_;
};

}  // namespace zel
