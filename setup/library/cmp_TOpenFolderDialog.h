#pragma once
// The folder dialog: a modal form with a tree of the folders of the mapped
// drives, a path edit and a button that creates a folder, shown through the
// application's driver (a script chooses a folder with "folder '<path>'").
//
//   TOpenFolderDialog dialog(owner);
//   dialog.SetPath("C:\\Program Files");
//   if (dialog.Execute()) use(dialog.Path());
//
// The dialog's controls are named FolderTree, PathEdit, CreateButton,
// OKButton and CancelButton.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms/Forms.h"
#include "platform/forms/StdCtrls.h"

namespace setup {

// The button that creates a folder.
class TOFDCreateButton : public plat::TButton {
 public:
  using plat::TButton::TButton;
  std::string ClassName() const override { return "TOFDCreateButton"; }
};

// The edit that shows and takes the path.
class TOFDPathEdit : public plat::TEdit {
 public:
  using plat::TEdit::TEdit;
  std::string ClassName() const override { return "TOFDPathEdit"; }
};

class TOpenFolderDialog : public plat::TComponent {
 public:
  explicit TOpenFolderDialog(plat::TComponent* AOwner);
  ~TOpenFolderDialog() override;

  std::string ClassName() const override { return "TOpenFolderDialog"; }
  const plat::TPropList& PublishedProperties() const override;

  // The start folder before Execute, the chosen one after it.
  const std::string& Path() const { return path_; }
  void SetPath(const std::string& Value) { path_ = Value; }
  bool ShowCreateButton() const { return showCreateButton_; }
  void SetShowCreateButton(bool Value) { showCreateButton_ = Value; }
  bool UsePathEdit() const { return usePathEdit_; }
  void SetUsePathEdit(bool Value) { usePathEdit_ = Value; }

  // Shows the dialog: true with Path set to the chosen folder, false when
  // cancelled (Path unchanged).
  //  1. The tree starts at the nearest existing folder of Path ("C:\" for a
  //     drive, otherwise without a trailing "\").
  //  2. Choosing a folder in the tree shows it in the edit; typing an
  //     existing folder in the edit chooses it in the tree. OK and the create
  //     button are enabled only while an existing folder is chosen.
  //  3. The create button asks OnBeforeCreateFolder, then creates the path
  //     typed in the edit, or, when the edit holds an existing folder, a new
  //     folder of a name asked for inside it; the dialog then starts again at
  //     the new folder.
  //  4. OK with the path edit creates the edit's path (a folder typed there
  //     need not exist yet) and gives it; without it, the chosen folder.
  bool Execute();

  // Asked before a folder is created; Allow false stops it.
  std::function<void(plat::TObject* Sender, bool& Allow)> OnBeforeCreateFolder;

  // The drives of the machine, as "C:\".
  static std::vector<std::string> Drives();

 private:
  class TDialogForm;
  // One showing of the dialog; restart_ tells Execute to show it again.
  plat::TModalResult ShowOnce(std::string& chosen);

  std::string path_;
  bool showCreateButton_ = true;
  bool usePathEdit_ = true;
  bool restart_ = false;
};

void RegisterOpenFolderDialog();

}  // namespace setup
