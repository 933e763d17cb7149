#pragma once
// Path specifiers: components that name a base directory symbolically. An
// install component keeps a specifier and a relative part (DestDirType +
// DestDir, ArchiveFileType + ArchiveFile) and expands them when it runs.
//
// Every specifier is in the global specifier list while it lives; standard
// ones also in the standard list, where a class is looked up by its first
// instance. The first install container made on a form gives that form one
// instance of every standard class it lacks (EnsureStandardSpecifiers).
// Expansions never end with "\".

#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/Components.h"
#include "setup/library/exceptions_Quillane.h"

namespace setup {

class TInstallContainer;
class TFileContainer;

PLAT_DECLARE_EXCEPTION(IEPathSpecifier, IException);

using TGetPathEvent = std::function<void(TInstallContainer* Object, std::string& Path)>;

class TCustomPathSpecifier : public plat::TComponent {
 public:
  explicit TCustomPathSpecifier(plat::TComponent* AOwner);
  ~TCustomPathSpecifier() override;
  std::string ClassName() const override { return "TCustomPathSpecifier"; }

  // Raises IEPathSpecifier when Object may not use this specifier.
  virtual void ValidateObject(TInstallContainer* Object);
  virtual std::string GetDescription() const { return "Unspecified"; }
  virtual std::string GetObjectDescription(TInstallContainer*) const { return GetDescription(); }
  // The path for Object; the base asks OnGetPath.
  virtual std::string Expand(TInstallContainer* Object);
  virtual std::string GetShortDescription() const { return GetDescription(); }
  virtual std::string GetShortObjectDescription(TInstallContainer* Object) const {
    return GetObjectDescription(Object);
  }

  TGetPathEvent OnGetPath;
};

// A specifier whose path comes from its event.
class TPathSpecifier : public TCustomPathSpecifier {
 public:
  using TCustomPathSpecifier::TCustomPathSpecifier;
  std::string ClassName() const override { return "TPathSpecifier"; }
  const plat::TPropList& PublishedProperties() const override;
  std::string GetDescription() const override { return description_; }
  void SetDescription(const std::string& Value) { description_ = Value; }

 private:
  std::string description_ = "My cool new path specifier";
};

class TStandardPathSpecifier : public TCustomPathSpecifier {
 public:
  explicit TStandardPathSpecifier(plat::TComponent* AOwner);
  ~TStandardPathSpecifier() override;
  std::string ClassName() const override { return "TStandardPathSpecifier"; }
};

// The specifier each file container makes of its own destination.
class TpsFileContainer : public TStandardPathSpecifier {
 public:
  using TStandardPathSpecifier::TStandardPathSpecifier;
  std::string ClassName() const override { return "TpsFileContainer"; }
  const plat::TPropList& PublishedProperties() const override;
  // Read from a form, it replaces the specifier its container made.
  void Loaded() override;
  // A component of the owner holding the name already is renamed
  // "nameClash" + a number first.
  void SetName(const std::string& NewName) override;
  TFileContainer* FileContainer() const { return fileContainer_; }
  void SetFileContainer(TFileContainer* Value) { fileContainer_ = Value; }
  void ValidateObject(TInstallContainer* Object) override;
  std::string Expand(TInstallContainer* Object) override;
  std::string GetDescription() const override;
  std::string GetShortDescription() const override;

 private:
  TFileContainer* fileContainer_ = nullptr;
};

// A standard specifier of the table: descriptions and an expansion.
class TTableSpecifier : public TStandardPathSpecifier {
 public:
  struct TEntry {
    const char* ClassName;
    const char* Description;
    const char* ShortDescription;
    // Raises or does nothing.
    void (*Validate)(TCustomPathSpecifier& Self, TInstallContainer* Object);
    std::string (*Expand)(TInstallContainer* Object);
  };
  TTableSpecifier(plat::TComponent* AOwner, const TEntry& Entry);
  std::string ClassName() const override { return entry_.ClassName; }
  void ValidateObject(TInstallContainer* Object) override;
  std::string GetDescription() const override { return entry_.Description; }
  std::string GetShortDescription() const override { return entry_.ShortDescription; }
  std::string GetShortObjectDescription(TInstallContainer* Object) const override;
  std::string Expand(TInstallContainer* Object) override;

 private:
  const TEntry& entry_;
};

// The standard classes in their registration order.
const std::vector<TTableSpecifier::TEntry>& StandardSpecifierClasses();

// Gives Form one instance of every standard class it has none of, named by
// its default name ("ps" + the class name after "Tps").
void EnsureStandardSpecifiers(plat::TComponent* Form);

// The first standard specifier of a class; raises IEPathSpecifier "Could not
// find the path specifier" when there is none.
TCustomPathSpecifier* FindStandardSpecifier(const std::string& ClassName);

// Where a disk request last found the main archive (empty: not asked).
void SetMainArchiveDirectory(const std::string& Directory);

}  // namespace setup
