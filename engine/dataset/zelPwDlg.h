#pragma once
// The login dialog: asks for the database's master key and, where security
// is enforced, a user name and password. It is a model of the form (its
// captions, edits and buttons); showing it goes through a replaceable hook,
// whose default answer is Cancel, so that nothing ever waits for a person
// who is not there. A host with a screen installs a hook that shows it.

#include <cstdint>
#include <functional>
#include <string>

#include "engine/storage/zelApi.h"

namespace zel {

// Colours the form uses.
enum TZelDialogColor : uint8_t { clBtnFace, clWindow, clMenu };
// Modal results.
inline constexpr int32_t mrNone = 0;
inline constexpr int32_t mrOk = 1;
inline constexpr int32_t mrCancel = 2;

// One edit of the form.
struct TZelDialogEdit {
  std::string Name;
  std::string Text;
  bool Enabled = true;
  int32_t MaxLength = 40;
  char PasswordChar = '\0';
  TZelDialogColor Color = clWindow;
  int32_t TabOrder = 0;
  // Text as typed: beyond MaxLength nothing is taken.
  void SetText(const std::string& Value) { Text = Value.substr(0, static_cast<size_t>(MaxLength)); }
};

struct TZelDialogControl {
  std::string Name;
  std::string Caption;
};

class ZEL_API TZelPasswordDialog {
 public:
  TZelPasswordDialog();

  std::string Caption = "Enter password";
  TZelDialogColor Color = clBtnFace;
  TZelDialogControl OKButton{"OKButton", "&OK"};
  TZelDialogControl CancelButton{"CancelButton", "Cancel"};
  TZelDialogEdit ebMasterKey;
  TZelDialogEdit ebUsername;
  TZelDialogEdit ebPassword;
  TZelDialogControl lblUsername{"lblUsername", ""};
  TZelDialogControl lblPassword{"lblPassword", ""};
  TZelDialogControl lblMasterKey{"lblMasterKey", ""};
  // The name of the edit that has the focus.
  std::string ActiveControl = "ebUsername";
  int32_t ModalResult = mrNone;
};

// Shows the form and returns its modal result.
using TZelShowModalHook = std::function<int32_t(TZelPasswordDialog& Dialog)>;
// Installs the hook; an empty one restores the default (Cancel).
ZEL_API void SetZelLoginDialogHook(TZelShowModalHook Hook);

// Flags bit 0 asks for the master key, bit 1 for user name and password.
// True on OK, and only then are the three strings replaced by the edits'
// texts.
ZEL_API bool ShowZelLoginDialog(const std::string& DatabaseName, int32_t Flags, std::string& MasterKey,
                        std::string& Password, std::string& UserName);

}  // namespace zel
