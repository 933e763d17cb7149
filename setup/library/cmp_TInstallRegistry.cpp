#include "setup/library/cmp_TInstallRegistry.h"

#include <algorithm>

#include "platform/rtl/Format.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/Strings.h"
#include "platform/win/Registry.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/routines_Strings.h"

namespace setup {

namespace w = plat::win;

namespace {

std::vector<TCustomInstallRegistry*>& RegistryList() {
  static std::vector<TCustomInstallRegistry*> list;
  return list;
}

constexpr const char* kNoInstall = "There is no TInstall component in your project";

}  // namespace

const std::vector<TCustomInstallRegistry*>& InstallRegistries() {
  return RegistryList();
}

// --- TRegistryEntry ---------------------------------------------------------------------

TRegistryEntry::TRegistryEntry(plat::TCollection* Collection) : plat::TCollectionItem(Collection) {}

TCustomInstallRegistry* TRegistryEntry::Registry() const {
  return Collection() != nullptr ? dynamic_cast<TCustomInstallRegistry*>(Collection()->Owner())
                                 : nullptr;
}

bool TRegistryEntry::Loading() const {
  return Registry() != nullptr && Registry()->ComponentState().Contains(plat::csLoading);
}

void TRegistryEntry::SetText(const std::string& Value) {
  text_ = Value;
  if (!Loading()) entryType_ = retText;
}

void TRegistryEntry::SetInteger(int32_t Value) {
  integer_ = Value;
  if (!Loading()) entryType_ = retInteger;
}

void TRegistryEntry::SetBoolean(bool Value) {
  boolean_ = Value;
  if (!Loading()) entryType_ = retBoolean;
}

void TRegistryEntry::SetPathSpecifier(TCustomPathSpecifier* Value) {
  if (Value != nullptr) {
    if (!Loading()) {
      Value->ValidateObject(Registry());
      text_ = "%p";
      entryType_ = retText;
    }
    if (Registry() != nullptr) Value->FreeNotification(Registry());
  }
  pathSpecifier_ = Value;
}

const plat::TPropList& TRegistryEntry::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TRegistryEntry>(plat::TCollectionItem::PublishedProperties())
          .String("Ident", &TRegistryEntry::Ident, &TRegistryEntry::SetIdent)
          .Enumeration("EntryType", &TRegistryEntry::EntryType, &TRegistryEntry::SetEntryType,
                       {"retText", "retInteger", "retBoolean"}, retText)
          .String("Text", &TRegistryEntry::Text, &TRegistryEntry::SetText)
          .Component("PathSpecifier", &TRegistryEntry::PathSpecifier,
                     &TRegistryEntry::SetPathSpecifier)
          .Integer("Integer", &TRegistryEntry::Integer, &TRegistryEntry::SetInteger, 0)
          .Boolean("Boolean", &TRegistryEntry::Boolean, &TRegistryEntry::SetBoolean, false);
  return list;
}

std::string TRegistryEntry::ValueText() const {
  if (pathSpecifier_ == nullptr) return text_;
  std::string out;
  for (size_t i = 0; i < text_.size(); ++i) {
    if (text_[i] != '%') {
      out += text_[i];
      continue;
    }
    if (i + 1 == text_.size()) break;  // a final lone "%" is dropped
    const char next = text_[++i];
    if (next == 'p' || next == 'P') {
      out += pathSpecifier_->Expand(Registry());
    } else {
      out += next;
    }
  }
  return out;
}

// --- TRegistryEntries --------------------------------------------------------------------

TRegistryEntries::TRegistryEntries(TCustomInstallRegistry* Owner)
    : plat::TCollection(plat::CollectionItemClass<TRegistryEntry>(), Owner) {
  if (Owner == nullptr) {
    throw IERegistryEntries("Cannot create a TRegistryEntries component with a Nil Owner");
  }
}

// --- TCustomInstallRegistry ---------------------------------------------------------------

TCustomInstallRegistry::TCustomInstallRegistry(plat::TComponent* AOwner)
    : TInstallObject(AOwner), entries_(std::make_unique<TRegistryEntries>(this)) {
  RegistryList().push_back(this);
}

TCustomInstallRegistry::~TCustomInstallRegistry() {
  auto& list = RegistryList();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  entries_.reset();
}

void TCustomInstallRegistry::ComponentRemoved(plat::TComponent* AComponent) {
  TInstallObject::ComponentRemoved(AComponent);
  for (int32_t i = 0; i < entries_->Count(); ++i) {
    TRegistryEntry* e = entries_->Items(i);
    if (e->pathSpecifier_ == AComponent) e->pathSpecifier_ = nullptr;
  }
  if (AComponent == CurrentInstall() && keySpecifierType_ != ksAbsolute) {
    keySpecifierType_ = ksAbsolute;
  }
}

const plat::TPropList& TCustomInstallRegistry::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TCustomInstallRegistry>(TInstallObject::PublishedProperties())
          .String("Key", &TCustomInstallRegistry::Key, &TCustomInstallRegistry::SetKey,
                  "\\SOFTWARE\\MyStuff")
          .Enumeration("KeySpecifierType", &TCustomInstallRegistry::KeySpecifierType,
                       &TCustomInstallRegistry::SetKeySpecifierType,
                       {"ksAbsolute", "ksCompanyName", "ksProductName", "ksVersion"}, ksAbsolute)
          .Enumeration("RootKey", &TCustomInstallRegistry::RootKey,
                       &TCustomInstallRegistry::SetRootKey,
                       {"hkClassesRoot", "hkCurrentConfig", "hkCurrentUser", "hkDynData",
                        "hkLocalMachine", "hkUsers"},
                       hkLocalMachine)
          .Collection("Entries", &TCustomInstallRegistry::Entries)
          .Event("OnBeforeWriteEntry", &TCustomInstallRegistry::OnBeforeWriteEntry, &TCustomInstallRegistry::EventBindings);
  return list;
}

void TCustomInstallRegistry::SetKeySpecifierType(TKeySpecifier Value) {
  if (Value != ksAbsolute) {
    if (CurrentInstall() == nullptr && !ComponentState().Contains(plat::csLoading)) {
      throw IEInstallRegistry(kNoInstall);
    }
    rootKey_ = hkLocalMachine;
  }
  keySpecifierType_ = Value;
}

std::string TCustomInstallRegistry::FullKey() const {
  if (keySpecifierType_ == ksAbsolute) return RemoveTrailingBackslash(key_);
  TCustomInstall* install = CurrentInstall();
  if (install == nullptr) throw IEInstallRegistry(kNoInstall);
  const TInstallInformation& i = install->Information();
  std::string key = "\\SOFTWARE\\" + i.CompanyName();
  if (keySpecifierType_ >= ksProductName) key += "\\" + i.ProductName();
  if (keySpecifierType_ == ksVersion) key += "\\" + i.Version();
  return key;
}

int32_t TCustomInstallRegistry::InstallMessage(TInstallContainer* Sender, int32_t Code,
                                               plat::TObject* Param) {
  if (Code == msg::kInstallYourself) {
    Install();
    return 0;
  }
  return TInstallObject::InstallMessage(Sender, Code, Param);
}

void TCustomInstallRegistry::ProcessHelpers() {
  const std::string key = FullKey();
  for (int32_t i = 0; i < entries_->Count(); ++i) {
    TRegistryEntry* entry = entries_->Items(i);
    bool write = true;
    if (OnBeforeWriteEntry) OnBeforeWriteEntry(this, entry, write);
    if (!write) continue;
    w::TRegistry reg;
    reg.SetRootKey(RootKeyHandle(rootKey_));
    if (!reg.OpenKey(key, true)) {
      throw IEInstallRegistry(
          plat::Format("%s cannot create the key %s in the registry", {Name(), key}));
    }
    switch (entry->EntryType()) {
      case retText:
        reg.WriteString(entry->Ident(), entry->ValueText());
        break;
      case retInteger:
        reg.WriteInteger(entry->Ident(), entry->Integer());
        break;
      case retBoolean:
        reg.WriteBool(entry->Ident(), entry->Boolean());
        break;
    }
  }
  TInstallObject::ProcessHelpers();
}

void TCustomInstallRegistry::WriteUninstallInfo(const std::string& Key) {
  const std::string list = Key + "RegistryKeys";
  const int32_t n =
      plat::StrToIntDef(ReadRegString(hkLocalMachine, list, "Entries", "0"), 0) + 1;
  WriteRegString(hkLocalMachine, list, "Entries", std::to_string(n));
  const std::string record = list + "\\RegistryKey" + std::to_string(n);
  WriteRegString(hkLocalMachine, record, "Key", FullKey());
  WriteRegInteger(hkLocalMachine, record, "Root", static_cast<int32_t>(rootKey_));
  for (int32_t i = 0; i < entries_->Count(); ++i) {
    TRegistryEntry* entry = entries_->Items(i);
    WriteRegString(hkLocalMachine, record + "\\Entries\\", entry->Ident(), entry->ValueText());
  }
}

}  // namespace setup
