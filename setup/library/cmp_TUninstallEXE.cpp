#include "setup/library/cmp_TUninstallEXE.h"

#include "platform/rtl/Published.h"

#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/routines_Registry.h"
#include "setup/library/routines_Strings.h"

namespace setup {

TUninstallEXE::TUninstallEXE(plat::TComponent* AOwner) : TCustomInstallFile(AOwner) {
  SetNet(true);
}

TUninstallEXE::~TUninstallEXE() {
  if (TCustomInstall* install = CurrentInstall()) install->BuildInfo().AddUninstallOnCreate = false;
}

const plat::TPropList& TUninstallEXE::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TUninstallEXE>(TCustomInstallFile::PublishedProperties())
          .Boolean("Net", &TUninstallEXE::Net, &TUninstallEXE::SetNet, true);
  return list;
}

void TUninstallEXE::WriteUninstallInfo(const std::string& Key) {
  TCustomInstall* install = CurrentInstall();
  if (install == nullptr) {
    throw IECustomInstallFile(plat::Format(
        "%s could not write information about the uninstall to the registry because there was "
        "no TInstall component",
        {Name()}));
  }
  const TInstallInformation& info = install->Information();
  const TControlPanelExtensionInformation& ext = install->win2KExtendedInformation();
  const std::string product = plat::Trim(info.ProductName());
  auto put = [&](const char* name, const std::string& value) {
    if (!value.empty()) WriteRegString(hkLocalMachine, Key, name, value);
  };
  // The path of a file of the extended information, when it was installed now.
  auto installed = [](TCustomInstallFile* file) {
    return file != nullptr && file->InstalledThisRun() ? file->DestinationPath() : std::string();
  };
  WriteRegString(hkLocalMachine, Key, "DisplayName", product);
  WriteRegString(hkLocalMachine, Key, "UninstallString",
                 AddTrailingBackslash(GetFullDestDir()) + DestName() + " " + product);
  put("Comments", ext.Comments);
  put("Contact", ext.Contact);
  put("DisplayIcon", installed(ext.DisplayIcon));
  put("DisplayVersion", info.Version());
  put("HelpLink", ext.HelpLink);
  put("HelpTelephone", ext.HelpTelephone);
  put("Publisher", info.CompanyName());
  put("ProductID", ext.ProductID);
  put("Readme", installed(ext.ReadMe));
  put("URLInfoAbout", ext.URLInfoAbout);
  put("URLUpdateInfo", ext.URLUpdateInfo);
  put("RegCompany", install->RegistrationInformation().RegCompany());
  put("RegOwner", install->RegistrationInformation().RegOwner());
}

}  // namespace setup
