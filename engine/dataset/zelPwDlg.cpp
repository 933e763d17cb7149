// The login dialog's model and the hook that shows it.
#include "engine/dataset/zelPwDlg.h"

#include <mutex>

#include "engine/storage/zelConsts.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}

// The installed way of showing the dialog; empty shows nothing and answers
// Cancel.
TZelShowModalHook& Hook() {
  static TZelShowModalHook hook;
  return hook;
}

}  // namespace

TZelPasswordDialog::TZelPasswordDialog() {
  ebMasterKey.Name = "ebMasterKey";
  ebMasterKey.PasswordChar = '*';
  ebMasterKey.TabOrder = 2;
  ebUsername.Name = "ebUsername";
  ebUsername.TabOrder = 3;
  ebPassword.Name = "ebPassword";
  ebPassword.PasswordChar = '*';
  ebPassword.TabOrder = 4;
}

void SetZelLoginDialogHook(TZelShowModalHook Value) {
  std::lock_guard<std::mutex> lock(HookMutex());
  Hook() = std::move(Value);
}

bool ShowZelLoginDialog(const std::string& DatabaseName, int32_t Flags, std::string& MasterKey,
                        std::string& Password, std::string& UserName) {
  TZelPasswordDialog form;
  form.lblMasterKey.Caption = SzelMasterKeyLabel;
  form.lblUsername.Caption = SzelUsernameLabel;
  form.lblPassword.Caption = SzelPasswordLabel;
  form.ebMasterKey.SetText(MasterKey);
  form.ebMasterKey.Enabled = (Flags & 1) != 0;
  form.ebUsername.SetText(UserName);
  form.ebPassword.SetText(Password);
  form.ebUsername.Enabled = (Flags & 2) != 0;
  form.ebPassword.Enabled = (Flags & 2) != 0;
  form.Caption = std::string(SzelLoginPrompt) + " - " + plat::ExtractFileName(DatabaseName);
  for (TZelDialogEdit* edit : {&form.ebMasterKey, &form.ebUsername, &form.ebPassword})
    if (!edit->Enabled) edit->Color = clMenu;
  form.ActiveControl = form.ebMasterKey.Enabled ? form.ebMasterKey.Name : form.ebPassword.Name;
  TZelShowModalHook hook;
  {
    std::lock_guard<std::mutex> lock(HookMutex());
    hook = Hook();
  }
  form.ModalResult = hook ? hook(form) : mrCancel;
  if (form.ModalResult != mrOk) return false;
  // What was typed never exceeds the edits' length.
  UserName = form.ebUsername.Text.substr(0, static_cast<size_t>(form.ebUsername.MaxLength));
  Password = form.ebPassword.Text.substr(0, static_cast<size_t>(form.ebPassword.MaxLength));
  MasterKey = form.ebMasterKey.Text.substr(0, static_cast<size_t>(form.ebMasterKey.MaxLength));
  return true;
}

}  // namespace zel
