#pragma once
// Message boxes and input queries, shown through the application's driver.

#include <cstdint>
#include <string>

#include "platform/forms/Controls.h"
#include "platform/rtl/Classes.h"

namespace plat {

enum TMsgDlgType : uint8_t { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn : uint8_t {
  mbYes,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp
};
using TMsgDlgButtons = TSet<TMsgDlgBtn>;
constexpr TMsgDlgButtons mbYesNoCancel{mbYes, mbNo, mbCancel};
constexpr TMsgDlgButtons mbOKCancel{mbOK, mbCancel};
constexpr TMsgDlgButtons mbAbortRetryIgnore{mbAbort, mbRetry, mbIgnore};

// The modal result a button gives (mbHelp gives none).
TModalResult ButtonResult(TMsgDlgBtn Button);
// The button taken when a person just presses Enter: OK, else Yes, else the
// first button.
TMsgDlgBtn DefaultButtonOf(TMsgDlgButtons Buttons);
// "Yes", "No", "OK", ... as a button's caption, without "&".
std::string ButtonCaption(TMsgDlgBtn Button);
std::string MsgDlgTypeName(TMsgDlgType Type);

// Shows Msg with the buttons and returns the modal result of the one chosen.
TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                        int32_t HelpCtx = 0);
void ShowMessage(const std::string& Msg);
// Asks for a line of text; false when the person cancels (Value unchanged).
bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value);

}  // namespace plat
