#pragma once
// Registry entries: a list of values written under one key during the
// install's typed pass, and recorded for the uninstall.
//
// A text value may hold macros: "%p" (or "%P") is the entry's path
// specifier expanded for the owning component, "%%" is "%", "%" before any
// other character is that character and a final lone "%" is dropped. A text
// without path specifier is written as it stands.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/Collections.h"
#include "setup/library/cmp_TInstallContainer.h"
#include "setup/library/routines_Registry.h"

namespace setup {

PLAT_DECLARE_EXCEPTION(IERegistryEntry, IException);
PLAT_DECLARE_EXCEPTION(IERegistryEntries, IException);
PLAT_DECLARE_EXCEPTION(IEInstallRegistry, IException);
PLAT_DECLARE_EXCEPTION(IEInstallRegistryList, IException);

class TCustomInstallRegistry;

enum TRegistryEntryType : uint8_t { retText, retInteger, retBoolean };
enum TKeySpecifier : uint8_t { ksAbsolute, ksCompanyName, ksProductName, ksVersion };

class TRegistryEntry : public plat::TCollectionItem {
 public:
  explicit TRegistryEntry(plat::TCollection* Collection);
  std::string ClassName() const override { return "TRegistryEntry"; }
  const plat::TPropList& PublishedProperties() const override;

  const std::string& Ident() const { return ident_; }
  void SetIdent(const std::string& Value) { ident_ = Value; }
  TRegistryEntryType EntryType() const { return entryType_; }
  void SetEntryType(TRegistryEntryType Value) { entryType_ = Value; }
  const std::string& Text() const { return text_; }
  void SetText(const std::string& Value);
  TCustomPathSpecifier* PathSpecifier() const { return pathSpecifier_; }
  // Validated against the owning component; sets the text to "%p".
  void SetPathSpecifier(TCustomPathSpecifier* Value);
  int32_t Integer() const { return integer_; }
  void SetInteger(int32_t Value);
  bool Boolean() const { return boolean_; }
  void SetBoolean(bool Value);

  TCustomInstallRegistry* Registry() const;
  // The text with its macros expanded.
  std::string ValueText() const;

 private:
  friend class TCustomInstallRegistry;
  // While the owning component is read from a form, values are only stored.
  bool Loading() const;
  std::string ident_;
  TRegistryEntryType entryType_ = retText;
  std::string text_;
  TCustomPathSpecifier* pathSpecifier_ = nullptr;
  int32_t integer_ = 0;
  bool boolean_ = false;
};

class TRegistryEntries : public plat::TCollection {
 public:
  // Raises IERegistryEntries for a nil owner.
  explicit TRegistryEntries(TCustomInstallRegistry* Owner);
  ~TRegistryEntries() override { Clear(); }
  std::string ClassName() const override { return "TRegistryEntries"; }
  TRegistryEntry* Add() { return static_cast<TRegistryEntry*>(plat::TCollection::Add()); }
  TRegistryEntry* Items(int32_t Index) const {
    return static_cast<TRegistryEntry*>(plat::TCollection::Items(Index));
  }
};

using TBeforeWriteEntryEvent =
    std::function<void(TCustomInstallRegistry* Sender, TRegistryEntry* Entry, bool& Write)>;

class TCustomInstallRegistry : public TInstallObject {
 public:
  explicit TCustomInstallRegistry(plat::TComponent* AOwner);
  ~TCustomInstallRegistry() override;
  std::string ClassName() const override { return "TInstallRegistry"; }
  const plat::TPropList& PublishedProperties() const override;

  const std::string& Key() const { return key_; }
  void SetKey(const std::string& Value) { key_ = Value; }
  TKeySpecifier KeySpecifierType() const { return keySpecifierType_; }
  // A derived kind needs an install and sets RootKey to hkLocalMachine.
  void SetKeySpecifierType(TKeySpecifier Value);
  TRootKeys RootKey() const { return rootKey_; }
  void SetRootKey(TRootKeys Value) { rootKey_ = Value; }
  TRegistryEntries& Entries() { return *entries_; }

  // The key the values go under, as the key specifier makes it.
  std::string FullKey() const;
  int32_t RegisteredType() const override { return 8500; }
  int32_t InstallMessage(TInstallContainer* Sender, int32_t Code, plat::TObject* Param) override;
  void ProcessHelpers() override;
  void WriteUninstallInfo(const std::string& Key) override;

  TBeforeWriteEntryEvent OnBeforeWriteEntry;

 protected:
  void ComponentRemoved(plat::TComponent* AComponent) override;

 private:
  std::string key_ = "\\SOFTWARE\\MyStuff";
  TKeySpecifier keySpecifierType_ = ksAbsolute;
  TRootKeys rootKey_ = hkLocalMachine;
  std::unique_ptr<TRegistryEntries> entries_;
};

// The global list of registry components.
const std::vector<TCustomInstallRegistry*>& InstallRegistries();

}  // namespace setup
