#include "setup/library/cmp_TOpenFolderDialog.h"

#include "platform/forms/Dialogs.h"
#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/Strings.h"
#include "platform/win/WinFiles.h"
#include "setup/library/cmp_TTranslator.h"
#include "setup/library/routines_FileSystem.h"

namespace setup {

namespace {

namespace w = plat::win;

std::string LibraryText(const char* library, uint32_t id, const char* fallback) {
  const std::string text = LoadLibraryString(library, id);
  return TranslateText(text.empty() ? fallback : text);
}

// "C:\" for a drive's root, otherwise without a trailing "\".
std::string Normalized(std::string path) {
  if (path.size() > 3) {
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
  } else if (!path.empty() && path.back() != '\\') {
    path += '\\';
  }
  return path;
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

}  // namespace

// The dialog's form: built in code, its controls wired to the rules of
// Execute.
class TOpenFolderDialog::TDialogForm : public plat::TForm {
 public:
  TDialogForm(TOpenFolderDialog& dialog) : TForm(nullptr), dialog_(dialog) {
    SetName("FolderDialog");
    SetCaption(LibraryText("shell32.dll", 9248, "Select a folder"));
    SetBounds(0, 0, 320, 360);
    tree = new plat::TFolderTree(this);
    tree->SetName("FolderTree");
    tree->SetBounds(8, 8, 304, dialog.usePathEdit_ ? 240 : 300);
    edit = new TOFDPathEdit(this);
    edit->SetName("PathEdit");
    edit->SetBounds(8, 256, 304, 21);
    edit->SetVisible(dialog.usePathEdit_);
    create = new TOFDCreateButton(this);
    create->SetName("CreateButton");
    create->SetCaption(LibraryText("comdlg32.dll", 703, "&New Folder"));
    create->SetBounds(8, 320, 90, 25);
    create->SetVisible(dialog.showCreateButton_);
    ok = new plat::TButton(this);
    ok->SetName("OKButton");
    ok->SetCaption(TranslateText("OK"));
    ok->SetDefault(true);
    ok->SetModalResult(plat::mrOk);
    ok->SetBounds(142, 320, 80, 25);
    cancel = new plat::TButton(this);
    cancel->SetName("CancelButton");
    cancel->SetCaption(TranslateText("Cancel"));
    cancel->SetCancel(true);
    cancel->SetModalResult(plat::mrCancel);
    cancel->SetBounds(232, 320, 80, 25);

    tree->OnChange = [this](plat::TObject*) { SelectionChanged(); };
    edit->OnKeyUp = [this](plat::TObject*, uint16_t&) {
      const std::string typed = plat::Trim(edit->Text());
      if (!typed.empty() && w::DirectoryExists(typed)) {
        fromEdit_ = true;
        tree->SetSelectedPath(Normalized(typed));
        fromEdit_ = false;
      }
    };
    create->OnClick = [this](plat::TObject*) { CreateFolder(); };
  }

  void Start(const std::string& path) {
    const std::string start = Normalized(NearestExistingFolder(path));
    if (start.empty()) {
      ListFolders(std::string());
      SelectionChanged();
    } else {
      tree->SetSelectedPath(start);
      if (tree->Items().Count() == 0) SelectionChanged();
    }
  }

  plat::TFolderTree* tree;
  TOFDPathEdit* edit;
  TOFDCreateButton* create;
  plat::TButton* ok;
  plat::TButton* cancel;

 private:
  // The drives, then the folders on the way down to the selection and the
  // folders inside each.
  void ListFolders(const std::string& selected) {
    plat::TStringList& items = tree->Items();
    items.Clear();
    for (const std::string& drive : TOpenFolderDialog::Drives()) items.Add(drive);
    if (selected.empty()) return;
    std::string folder;
    size_t from = 0;
    while (true) {
      const size_t slash = selected.find('\\', from);
      folder = slash == std::string::npos ? selected : Normalized(selected.substr(0, slash + 1));
      for (const w::TWinFindData& entry : w::FindFiles(Join(folder, "*.*"))) {
        if ((entry.Attributes & w::FILE_ATTRIBUTE_DIRECTORY) != 0) items.Add(Join(folder, entry.Name));
      }
      if (slash == std::string::npos || slash + 1 >= selected.size()) break;
      from = slash + 1;
    }
  }

  void SelectionChanged() {
    const std::string& path = tree->SelectedPath();
    const bool exists = !path.empty() && w::DirectoryExists(path);
    if (exists) ListFolders(path);
    if (!fromEdit_) edit->SetText(path);
    ok->SetEnabled(exists);
    create->SetVisible(dialog_.showCreateButton_ && ok->Enabled());
  }

  void CreateFolder() {
    bool allow = true;
    if (dialog_.OnBeforeCreateFolder) dialog_.OnBeforeCreateFolder(&dialog_, allow);
    if (!allow) return;
    std::string target = dialog_.usePathEdit_ ? plat::Trim(edit->Text()) : std::string();
    if (target.empty() || w::DirectoryExists(target)) {
      const std::string base = target.empty() ? tree->SelectedPath() : target;
      std::string name;
      if (!plat::InputQuery(LibraryText("comdlg32.dll", 703, "&New Folder"),
                            LibraryText("shell32.dll", 8977, "Name of the new folder:"), name) ||
          plat::Trim(name).empty()) {
        return;
      }
      target = Join(Normalized(base), plat::Trim(name));
    }
    if (!w::ForceDirectories(target)) {
      plat::MessageDlg(TranslateText("Cannot create the folder ") + target, plat::mtError,
                       plat::TMsgDlgButtons{plat::mbOK});
      return;
    }
    dialog_.restart_ = true;
    dialog_.path_ = Normalized(target);
    edit->SetText(dialog_.path_);
    fromEdit_ = true;
    tree->SetSelectedPath(dialog_.path_);
    fromEdit_ = false;
    ok->Click();
  }

  TOpenFolderDialog& dialog_;
  bool fromEdit_ = false;
};

TOpenFolderDialog::TOpenFolderDialog(plat::TComponent* AOwner) : TComponent(AOwner) {}

TOpenFolderDialog::~TOpenFolderDialog() = default;

const plat::TPropList& TOpenFolderDialog::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TOpenFolderDialog>(TComponent::PublishedProperties())
          .String("Path", &TOpenFolderDialog::Path, &TOpenFolderDialog::SetPath)
          .Boolean("ShowCreateButton", &TOpenFolderDialog::ShowCreateButton,
                   &TOpenFolderDialog::SetShowCreateButton, true)
          .Boolean("UsePathEdit", &TOpenFolderDialog::UsePathEdit, &TOpenFolderDialog::SetUsePathEdit,
                   true);
  return list;
}

std::vector<std::string> TOpenFolderDialog::Drives() {
  std::vector<std::string> drives;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const std::string root = std::string(1, letter) + ":\\";
    if (w::DirectoryExists(root)) drives.push_back(root);
  }
  return drives;
}

plat::TModalResult TOpenFolderDialog::ShowOnce(std::string& chosen) {
  TDialogForm form(*this);
  form.Start(path_);
  const plat::TModalResult result = form.ShowModal();
  if (result != plat::mrOk) return result;
  const std::string typed = plat::Trim(form.edit->Text());
  if (usePathEdit_ && !form.tree->SelectedPath().empty() && !typed.empty()) {
    if (!w::ForceDirectories(typed)) {
      plat::MessageDlg(TranslateText("Cannot create the folder ") + typed, plat::mtError,
                       plat::TMsgDlgButtons{plat::mbOK});
      return plat::mrCancel;
    }
    chosen = Normalized(typed);
  } else {
    chosen = form.tree->SelectedPath();
  }
  return result;
}

bool TOpenFolderDialog::Execute() {
  while (true) {
    restart_ = false;
    std::string chosen;
    const plat::TModalResult result = ShowOnce(chosen);
    if (restart_) continue;  // path_ holds the new folder: start there
    if (result != plat::mrOk) return false;
    path_ = chosen;
    return true;
  }
}

void RegisterOpenFolderDialog() {
  plat::RegisterClass<TOpenFolderDialog>("TOpenFolderDialog");
}

}  // namespace setup
