#include "setup/app/ordlg_SelectDestination.h"

#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/cmp_TOpenFolderDialog.h"

namespace setup {

TSelectDestinationForm::TSelectDestinationForm(plat::TComponent* AOwner)
    : TWizardPageForm(AOwner, TManagerType::dmBeforeInstall, "Choose Destination Location",
                      "Setup will install the files in the following folder. To install into a "
                      "different folder, type it or click Browse.",
                      "Next >", false) {
  SetName("SelectDestinationForm");
  SetOrder(45);
  DestinationEdit = new plat::TEdit(this);
  DestinationEdit->SetName("DestinationEdit");
  DestinationEdit->SetParent(this);
  DestinationEdit->SetBounds(140, 120, 240, 21);
  DestinationEdit->OnChange = [this](plat::TObject*) {
    if (TCustomInstall* install = CurrentInstall()) {
      install->SetDestDirType(nullptr);
      install->SetDestDir(DestinationEdit->Text());
    }
  };
  BrowseButton = new plat::TButton(this);
  BrowseButton->SetName("BrowseButton");
  BrowseButton->SetParent(this);
  BrowseButton->SetCaption("&Browse");
  BrowseButton->SetBounds(386, 120, 80, 25);
  BrowseButton->OnClick = [this](plat::TObject*) { Browse(); };
}

void TSelectDestinationForm::PrepareDialog() {
  TCustomInstall* install = CurrentInstall();
  if (install == nullptr) return;
  const std::string dest = install->GetFullDestDir();
  // Shown without retyping it into the install.
  auto onChange = std::move(DestinationEdit->OnChange);
  DestinationEdit->SetText(dest);
  DestinationEdit->OnChange = std::move(onChange);
  DestinationEdit->SetVisible(!dest.empty());
}

void TSelectDestinationForm::Browse() {
  TCustomInstall* install = CurrentInstall();
  if (install == nullptr) return;
  const std::string dest = install->GetFullDestDir();
  // The dialog opens on the destination, which exists only while it is shown.
  const bool existed = plat::win::DirectoryExists(dest);
  if (!existed) plat::win::ForceDirectories(dest);
  TOpenFolderDialog dialog(nullptr);
  dialog.SetPath(dest);
  const bool chosen = dialog.Execute();
  if (!existed) plat::win::RemoveDirectory(dest);
  if (!chosen) return;
  std::string folder = dialog.Path();
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  install->SetDestDirType(nullptr);
  install->SetDestDir(folder + plat::win::ExtractWinFileName(dest));
  PrepareDialog();
}

}  // namespace setup
