#include "engine/storage/zelDataPrivileges.h"

#include <string>

namespace zel {

TObjectPrivilegeType MapObjectPrivConstToType(int32_t Value) {
  for (size_t i = 0; i < ObjectPrivilegeConsts.size(); ++i) {
    if (ObjectPrivilegeConsts[i] == Value) return static_cast<TObjectPrivilegeType>(i);
  }
  return opNone;
}

int32_t MapObjectPrivTypeToConst(TObjectPrivilegeType Type) {
  return Type < ObjectPrivilegeConsts.size() ? ObjectPrivilegeConsts[Type] : 0;
}

TSystemPrivilegeType MapSystemPrivConstToType(int32_t Value) {
  for (size_t i = 0; i < SystemPrivilegeConsts.size(); ++i) {
    if (SystemPrivilegeConsts[i] == Value) return static_cast<TSystemPrivilegeType>(i);
  }
  return spNone;
}

int32_t MapSystemPrivTypeToConst(TSystemPrivilegeType Type) {
  return Type < SystemPrivilegeConsts.size() ? SystemPrivilegeConsts[Type] : 0;
}

// ---------------------------------------------------------------------------

TInternalObjPriv::TInternalObjPriv(plat::TCollection* Collection)
    : plat::TCollectionItem(Collection), FieldIDValues_(std::make_unique<plat::TStringList>()) {}

void TInternalObjPriv::SetFields(bool AllFields, const std::string& FieldIDs) {
  AllFields_ = AllFields;
  FieldIDValues_->SetCommaText(FieldIDs);
}

void TInternalObjPriv::SetFieldIDValues(const plat::TStrings& List) {
  FieldIDValues_->Assign(&List);
}

TInternalObjPrivs::TInternalObjPrivs()
    : plat::TCollection(plat::CollectionItemClass<TInternalObjPriv>()) {}

TInternalObjPriv* TInternalObjPrivs::FindPrivilege(int32_t ObjectID, int32_t PrivilegeID) const {
  for (int32_t i = 0; i < Count(); ++i) {
    TInternalObjPriv* item = Items(i);
    if (item->ObjectID() == ObjectID && item->PrivilegeID() == PrivilegeID) return item;
  }
  return nullptr;
}

bool TInternalObjPrivs::CheckPrivilegeExists(int32_t ObjectID, int32_t PrivilegeID) const {
  return FindPrivilege(ObjectID, PrivilegeID) != nullptr;
}

bool TInternalObjPrivs::CheckPrivilegeAndFieldID(int32_t ObjectID, int32_t PrivilegeID,
                                                 int32_t FieldID) const {
  const TInternalObjPriv* item = FindPrivilege(ObjectID, PrivilegeID);
  if (item == nullptr) return false;
  if (item->AllFields()) return true;
  // Compared as the decimal text the security tables keep.
  const std::string id = std::to_string(FieldID);
  const plat::TStringList& ids = item->FieldIDValues();
  for (int32_t i = 0; i < ids.Count(); ++i) {
    if (ids.Strings(i) == id) return true;
  }
  return false;
}

void TInternalObjPrivs::SetMasks() {
  int32_t mask = 0;
  for (int32_t i = 0; i < Count(); ++i) {
    if (Items(i)->ObjectID() == 1) mask |= Items(i)->PrivilegeID();
  }
  TablePrivilegeMask_ = mask;
}

TInternalSysPrivs::TInternalSysPrivs()
    : plat::TCollection(plat::CollectionItemClass<TInternalSysPriv>()) {}

TInternalSysPriv* TInternalSysPrivs::FindPrivilege(int32_t PrivilegeID) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (Items(i)->PrivilegeID() == PrivilegeID) return Items(i);
  }
  return nullptr;
}

bool TInternalSysPrivs::CheckPrivilegeExists(int32_t PrivilegeID) const {
  return FindPrivilege(PrivilegeID) != nullptr;
}

void TInternalSysPrivs::SetMask() {
  int32_t mask = 0;
  for (int32_t i = 0; i < Count(); ++i) mask |= Items(i)->PrivilegeID();
  PrivilegeMask_ = mask;
}

TInternalPrivileges::TInternalPrivileges()
    : ObjectPrivileges_(std::make_unique<TInternalObjPrivs>()),
      SystemPrivileges_(std::make_unique<TInternalSysPrivs>()) {}

void TInternalPrivileges::Clear() {
  ObjectPrivileges_->Clear();
  SystemPrivileges_->Clear();
}

// ---------------------------------------------------------------------------

void TObjectPrivilege::Assign(const plat::TPersistent* Source) {
  const auto* source = dynamic_cast<const TObjectPrivilege*>(Source);
  if (source == nullptr) {
    plat::TCollectionItem::Assign(Source);
    return;
  }
  ObjectName_ = source->ObjectName_;
  ObjectType_ = source->ObjectType_;
  PrivilegeType_ = source->PrivilegeType_;
  Fields_ = source->Fields_;
  GrantOption_ = source->GrantOption_;
}

TObjectPrivileges::TObjectPrivileges()
    : plat::TCollection(plat::CollectionItemClass<TObjectPrivilege>()) {}

TObjectPrivilege* TObjectPrivileges::FindPrivilege(TDatabaseObjectType ObjectType,
                                                   const std::string& ObjectName,
                                                   TObjectPrivilegeType PrivilegeType) const {
  for (int32_t i = 0; i < Count(); ++i) {
    TObjectPrivilege* item = Items(i);
    if (item->ObjectType() == ObjectType && item->ObjectName() == ObjectName &&
        item->PrivilegeType() == PrivilegeType) {
      return item;
    }
  }
  return nullptr;
}

bool TObjectPrivileges::CheckForNamedObjectPrivileges(TDatabaseObjectType ObjectType,
                                                      const std::string& ObjectName) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (Items(i)->ObjectType() == ObjectType && Items(i)->ObjectName() == ObjectName) return true;
  }
  return false;
}

void TSystemPrivilege::Assign(const plat::TPersistent* Source) {
  const auto* source = dynamic_cast<const TSystemPrivilege*>(Source);
  if (source == nullptr) {
    plat::TCollectionItem::Assign(Source);
    return;
  }
  PrivilegeType_ = source->PrivilegeType_;
  GrantOption_ = source->GrantOption_;
}

TSystemPrivileges::TSystemPrivileges()
    : plat::TCollection(plat::CollectionItemClass<TSystemPrivilege>()) {}

TSystemPrivilege* TSystemPrivileges::FindPrivilege(TSystemPrivilegeType PrivilegeType) const {
  for (int32_t i = 0; i < Count(); ++i) {
    if (Items(i)->PrivilegeType() == PrivilegeType) return Items(i);
  }
  return nullptr;
}

TPrivileges::TPrivileges()
    : ObjectPrivileges_(std::make_unique<TObjectPrivileges>()),
      SystemPrivileges_(std::make_unique<TSystemPrivileges>()) {}

void TPrivileges::ClearPrivileges() {
  ObjectPrivileges_->Clear();
  SystemPrivileges_->Clear();
}

}  // namespace zel
