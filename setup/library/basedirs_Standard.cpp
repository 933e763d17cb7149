#include "setup/library/basedirs_Standard.h"

#include <algorithm>

#include "platform/rtl/Format.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/Strings.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinSystem.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/cmp_TInstallFile.h"
#include "setup/library/routines_API.h"
#include "setup/library/routines_ExpandPaths.h"
#include "setup/library/routines_Registry.h"
#include "setup/library/routines_Strings.h"
#include "setup/library/basedirs_Office.h"

namespace setup {

namespace w = plat::win;

namespace {

std::vector<TCustomPathSpecifier*>& SpecifierList() {
  static std::vector<TCustomPathSpecifier*> list;
  return list;
}
std::vector<TCustomPathSpecifier*>& StandardList() {
  static std::vector<TCustomPathSpecifier*> list;
  return list;
}
std::string& MainArchiveDirectory() {
  static std::string directory;
  return directory;
}

void Erase(std::vector<TCustomPathSpecifier*>& list, TCustomPathSpecifier* s) {
  list.erase(std::remove(list.begin(), list.end(), s), list.end());
}

std::string NameOf(TInstallContainer* Object) {
  return Object != nullptr ? Object->Name() : std::string();
}

// --- Validations.

void NoValidation(TCustomPathSpecifier&, TInstallContainer*) {}

void NeedContainer(TCustomPathSpecifier& Self, TInstallContainer* Object, const char* Missing) {
  if (dynamic_cast<TInstallObject*>(Object) == nullptr) {
    throw IEPathSpecifier(plat::Format("%s must be a %s to use the %s path specifier",
                                       {NameOf(Object), std::string("TInstallObject"), Self.Name()}));
  }
  if (Object->Container() == nullptr) throw IEPathSpecifier(plat::Format(Missing, {Object->Name()}));
}

void ValidateContainerDestDir(TCustomPathSpecifier& Self, TInstallContainer* Object) {
  NeedContainer(Self, Object, "Cannot use ddContainerDestDir for %s unless you assign a Container");
}

void ValidateContainerArchive(TCustomPathSpecifier& Self, TInstallContainer* Object) {
  NeedContainer(Self, Object,
                "Cannot use ddContainerArchiveFile for %s unless you assign a Container");
  if (dynamic_cast<TFileRelated*>(Object->Container()) == nullptr) {
    throw IEPathSpecifier(plat::Format(
        "Cannot use the ddContainerArchiveFile path specifier for %s because the Container is "
        "not a TFileRelated descendant",
        {Object->Name()}));
  }
}

void NeedInstall(TCustomPathSpecifier&, TInstallContainer* Object) {
  if (CurrentInstall() == nullptr) {
    throw IEPathSpecifier(plat::Format(
        "There is no TInstall component so the path specifier could not be expanded for %s",
        {NameOf(Object)}));
  }
}

void ValidateMainInstall(TCustomPathSpecifier& Self, TInstallContainer* Object) {
  NeedInstall(Self, Object);
  if (dynamic_cast<TCustomInstall*>(Object) != nullptr) {
    throw IEPathSpecifier("Cannot use the ddMainInstallDir path specifier for a TInstall component");
  }
}

void ValidateMainArchive(TCustomPathSpecifier& Self, TInstallContainer* Object) {
  NeedInstall(Self, Object);
  const TCustomInstall* install = CurrentInstall();
  if (install->HasOption(coSelfExtract) &&
      plat::Trim(install->OptionValue(coSelfExtract)).empty()) {
    throw IEPathSpecifier(
        "You forgot to pass in the name of the self-extracting executable. Usage example: "
        "\"-eSetup.exe\"");
  }
}

// --- Expansions.

std::string RegistryPath(TRootKeys Root, const std::string& Key, const std::string& Name) {
  return ReadRegString(Root, Key, Name, "");
}

std::string Shell(int32_t Csidl) {
  std::string path;
  if (!w::SHGetSpecialFolderPath(Csidl, path)) return std::string();
  return RemoveTrailingBackslash(path);
}

bool NTFamily() {
  return kOSNTFamily.Contains(GetOSVersion());
}

std::string BdeDll(TInstallContainer*) {
  std::string path = RegistryPath(hkLocalMachine, "\\Software\\Borland\\Database Engine", "DLLPath");
  if (path.empty()) path = ProgramFilesPath() + "\\Borland\\Common Files\\BDE";
  return RemoveTrailingBackslash(GetField(path, 1, ';'));
}

std::string ContainerArchive(TInstallContainer* Object) {
  auto* container = dynamic_cast<TFileRelated*>(Object != nullptr ? Object->Container() : nullptr);
  return container != nullptr ? container->GetFullArchiveFile() : std::string();
}

std::string ContainerDestDir(TInstallContainer* Object) {
  TInstallContainer* container = Object != nullptr ? Object->Container() : nullptr;
  return container != nullptr ? container->GetFullDestDir() : std::string();
}

std::string InstallSource(TInstallContainer*) {
  TCustomInstall* install = CurrentInstall();
  return install != nullptr ? RemoveTrailingBackslash(install->SourceDir()) : std::string();
}

std::string MainInstall(TInstallContainer*) {
  TCustomInstall* install = CurrentInstall();
  return install != nullptr ? install->GetFullDestDir() : std::string();
}

std::string MainArchive(TInstallContainer*) {
  TCustomInstall* install = CurrentInstall();
  if (install == nullptr) return std::string();
  if (install->HasOption(coSelfExtract)) {
    return AddTrailingBackslash(install->SourceDir()) + install->OptionValue(coSelfExtract);
  }
  const std::string dir =
      MainArchiveDirectory().empty() ? install->SourceDir() : MainArchiveDirectory();
  return AddTrailingBackslash(dir) + "files.1";
}

std::string ProgramFiles(TInstallContainer*) { return ProgramFilesPath(); }
std::string CommonFiles(TInstallContainer*) { return CommonFilesPath(); }
std::string Desktop(TInstallContainer*) { return DesktopPath(); }
std::string ProgramMenu(TInstallContainer*) { return ProgramsMenuPath(); }
std::string StartMenu(TInstallContainer*) { return StartMenuPath(); }
std::string StartupMenu(TInstallContainer*) { return StartupMenuPath(); }
std::string SystemDir(TInstallContainer*) { return RemoveTrailingBackslash(GetSystemDir()); }
std::string WindowsDir(TInstallContainer*) { return RemoveTrailingBackslash(GetWindowsDir()); }

constexpr int32_t kUndefined = -1;
constexpr int32_t kEmpty = -2;

// Shell folders of the NT family; the older line has them elsewhere or not
// at all.
template <int32_t NT, int32_t Win9x>
std::string ShellFolder(TInstallContainer*) {
  if (NTFamily()) return Shell(NT);
  if constexpr (Win9x >= 0) return Shell(Win9x);
  if constexpr (Win9x == -1) return "undefined";
  return std::string();
}
template <std::string (*Folder)()>
std::string Office(TInstallContainer*) {
  return Folder();
}

std::string QuickLaunch(TInstallContainer*) {
  const std::string appData = Shell(w::CSIDL_APPDATA);
  if (appData.empty()) return "undefined";
  return appData + "\\Microsoft\\Internet Explorer\\Quick Launch";
}

const std::vector<TTableSpecifier::TEntry> kStandard = {
    {"TpsBDEDLL", "Borland Database Engine DLL Path", "BDE DLL", NoValidation, BdeDll},
    {"TpsCommonFiles", "Path of the common files directory under the program files directory",
     "Common files", NoValidation, CommonFiles},
    {"TpsContainerArchiveFile", "Path to the archive file of the container",
     "Container archive file", ValidateContainerArchive, ContainerArchive},
    {"TpsContainerDestDir", "Path of the group (container)", "Path of the group (container)",
     ValidateContainerDestDir, ContainerDestDir},
    {"TpsDesktopMenu", "Path of the Desktop", "Desktop", NoValidation, Desktop},
    {"TpsInstallSource", "Path from which the user ran the install", "Install source", NeedInstall,
     InstallSource},
    {"TpsMainInstall", "Main installation directory", "Main install dir", ValidateMainInstall,
     MainInstall},
    {"TpsProgramFiles", "Path of the program files directory", "Program files", NoValidation,
     ProgramFiles},
    {"TpsProgramMenu", "Path of the Programs folder under the Start Menu", "Program menu",
     NoValidation, ProgramMenu},
    {"TpsStartMenu", "Path of Start Menu", "Start menu", NoValidation, StartMenu},
    {"TpsStartupMenu", "Path of the Startup folder in the Programs folder under the Start Menu",
     "Startup menu", NoValidation, StartupMenu},
    {"TpsSystem", "Path of system directory", "System dir", NoValidation, SystemDir},
    {"TpsMainArchiveFile", "Archive containing most or all non-internet installation files",
     "Main archive", ValidateMainArchive, MainArchive},
    {"TpsWindow", "Path of the Windows directory", "Windows dir", NoValidation, WindowsDir},
    // The shell folders.
    {"TpsPrinters", "virtual folder containing installed printers", "Installed Printers",
     NoValidation, ShellFolder<w::CSIDL_PRINTERS, kUndefined>},
    {"TpsRecent", "Recently Used Documents", "Recently Used", NoValidation,
     ShellFolder<w::CSIDL_RECENT, kUndefined>},
    {"TpsSendTo", "Send To Menu", "Send To", NoValidation, ShellFolder<w::CSIDL_SENDTO, kEmpty>},
    {"TpsStartup", "User Startup", "Startup", NoValidation, ShellFolder<w::CSIDL_STARTUP, kEmpty>},
    {"TpsControlPanel", "Control Panel", "Control Panel", NoValidation,
     ShellFolder<w::CSIDL_CONTROLS, kEmpty>},
    {"TpsFavorites", "Favorites", "Favorites", NoValidation,
     ShellFolder<w::CSIDL_FAVORITES, kUndefined>},
    {"TpsBitBucket", "Recycle bin", "Recycle bin", NoValidation,
     ShellFolder<w::CSIDL_BITBUCKET, kEmpty>},
    {"TpsCookies", "Cookies", "Cookies", NoValidation, ShellFolder<w::CSIDL_COOKIES, kEmpty>},
    {"TpsCommonAltStartup", "Alternate Startup folder for (All Users profile)",
     "Common Alternate Startup folder", NoValidation,
     ShellFolder<w::CSIDL_COMMON_ALTSTARTUP, w::CSIDL_ALTSTARTUP>},
    {"TpsCommonStartup", "Common Startup directory", "Common Startup", NoValidation,
     ShellFolder<w::CSIDL_COMMON_STARTUP, w::CSIDL_STARTUP>},
    {"TpsCommonDesktopDirectory", "Common Desktop Directory", "Common Desktop", NoValidation,
     ShellFolder<w::CSIDL_COMMON_DESKTOPDIRECTORY, w::CSIDL_DESKTOPDIRECTORY>},
    {"TpsCommonFavorites", "Common Favorites", "Common Favorites", NoValidation,
     ShellFolder<w::CSIDL_COMMON_FAVORITES, w::CSIDL_FAVORITES>},
    {"TpsCommonPrograms", "Common Programs", "Common Programs", NoValidation,
     ShellFolder<w::CSIDL_COMMON_PROGRAMS, w::CSIDL_PROGRAMS>},
    {"TpsCommonStartMenu", "Common Start Menu", "Common Start Menu", NoValidation,
     ShellFolder<w::CSIDL_COMMON_STARTMENU, w::CSIDL_STARTMENU>},
    {"TpsQuickLaunchMenu", "Path of the Quick Launch Toolbar Menu", "Quick Launch Toolbar menu",
     NoValidation, QuickLaunch},
    // The office suite's folders.
    {"TpsOfficeUserTemplates", "Path to the MS Office User Templates directory", "User Templates",
     NoValidation, Office<OfficeUserTemplates>},
    {"TpsOfficeWorkgroupTemplates", "Path to the MS Office Workgroup Templates directory",
     "Workgroup Templates", NoValidation, Office<OfficeWorkgroupTemplates>},
    {"TpsOfficeClipartDirectory", "Path to the MS Office Clipart directory", "Office Clipart dir",
     NoValidation, Office<OfficeClipartDirectory>},
    {"TpsOfficeStartupDirectory", "Path to the MS Office Startup directory", "Office Startup dir",
     NoValidation, Office<OfficeStartupDirectory>},
    {"TpsOfficeToolsDirectory", "Path to the MS Office Tools directory", "Office Tools dir",
     NoValidation, Office<OfficeToolsDirectory>},
    {"TpsOfficeFavoritesDirectory", "Path to the MS Office Favorites directory",
     "Office Favorites dir", NoValidation, Office<OfficeFavoritesDirectory>},
};

}  // namespace

// --- TCustomPathSpecifier -------------------------------------------------------------

TCustomPathSpecifier::TCustomPathSpecifier(plat::TComponent* AOwner) : plat::TComponent(AOwner) {
  SpecifierList().push_back(this);
}

TCustomPathSpecifier::~TCustomPathSpecifier() {
  Erase(SpecifierList(), this);
}

void TCustomPathSpecifier::ValidateObject(TInstallContainer*) {}

std::string TCustomPathSpecifier::Expand(TInstallContainer* Object) {
  std::string path;
  if (OnGetPath) OnGetPath(Object, path);
  return path;
}

TStandardPathSpecifier::TStandardPathSpecifier(plat::TComponent* AOwner)
    : TCustomPathSpecifier(AOwner) {
  StandardList().push_back(this);
}

TStandardPathSpecifier::~TStandardPathSpecifier() {
  Erase(StandardList(), this);
}

// --- TpsFileContainer ---------------------------------------------------------------------

const plat::TPropList& TPathSpecifier::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TPathSpecifier>(plat::TComponent::PublishedProperties())
          .String("Description", &TPathSpecifier::GetDescription, &TPathSpecifier::SetDescription,
                  "My cool new path specifier");
  return list;
}

const plat::TPropList& TpsFileContainer::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TpsFileContainer>(plat::TComponent::PublishedProperties())
          .Component("FileContainer", &TpsFileContainer::FileContainer,
                     &TpsFileContainer::SetFileContainer);
  return list;
}

void TpsFileContainer::Loaded() {
  TStandardPathSpecifier::Loaded();
  if (fileContainer_ != nullptr) fileContainer_->AdoptPathSpecifier(this);
}

void TpsFileContainer::SetName(const std::string& NewName) {
  plat::TComponent* holder = Owner() != nullptr ? Owner()->FindComponent(NewName) : nullptr;
  if (holder != nullptr && holder != this && !NewName.empty()) {
    std::string other = "nameClash";
    for (int32_t n = 1; Owner()->FindComponent(other) != nullptr; ++n) {
      other = "nameClash" + std::to_string(n);
    }
    holder->SetName(other);
  }
  TStandardPathSpecifier::SetName(NewName);
}

void TpsFileContainer::ValidateObject(TInstallContainer* Object) {
  if (dynamic_cast<TFileContainer*>(Object) != nullptr ||
      dynamic_cast<TCustomInstallFile*>(Object) != nullptr) {
    throw IEPathSpecifier("A file container cannot reference another file container or group");
  }
}

std::string TpsFileContainer::Expand(TInstallContainer*) {
  return fileContainer_ != nullptr ? fileContainer_->GetFullDestDir() : std::string();
}

std::string TpsFileContainer::GetDescription() const {
  if (fileContainer_ == nullptr) return "Path specifier for unknown file container";
  return "Path into which " + fileContainer_->Description() + " will be installed";
}

std::string TpsFileContainer::GetShortDescription() const {
  return "<" + GetDescription() + ">";
}

// --- The standard table ----------------------------------------------------------------------

TTableSpecifier::TTableSpecifier(plat::TComponent* AOwner, const TEntry& Entry)
    : TStandardPathSpecifier(AOwner), entry_(Entry) {}

void TTableSpecifier::ValidateObject(TInstallContainer* Object) {
  entry_.Validate(*this, Object);
}

std::string TTableSpecifier::GetShortObjectDescription(TInstallContainer* Object) const {
  if (entry_.Expand == ContainerDestDir) {
    if (dynamic_cast<TCustomInstall*>(Object) != nullptr) return "Main installation directory";
    return "<" + NameOf(Object) + ">";
  }
  return GetObjectDescription(Object);
}

std::string TTableSpecifier::Expand(TInstallContainer* Object) {
  return entry_.Expand(Object);
}

const std::vector<TTableSpecifier::TEntry>& StandardSpecifierClasses() {
  return kStandard;
}

void EnsureStandardSpecifiers(plat::TComponent* Form) {
  if (Form == nullptr) return;
  for (const TTableSpecifier::TEntry& entry : kStandard) {
    const std::string name = std::string("ps") + (entry.ClassName + 3);
    bool present = false;
    for (TCustomPathSpecifier* s : StandardList()) {
      if (s->Owner() == Form && s->ClassName() == entry.ClassName) present = true;
    }
    if (present) continue;
    auto* specifier = new TTableSpecifier(Form, entry);
    if (Form->FindComponent(name) == nullptr) specifier->SetName(name);
  }
}

TCustomPathSpecifier* FindStandardSpecifier(const std::string& ClassName) {
  for (TCustomPathSpecifier* s : StandardList()) {
    if (s->ClassName() == ClassName) return s;
  }
  throw IEPathSpecifier("Could not find the path specifier");
}

void SetMainArchiveDirectory(const std::string& Directory) {
  MainArchiveDirectory() = RemoveTrailingBackslash(Directory);
}

}  // namespace setup
