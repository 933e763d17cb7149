#include "platform/forms/Dialogs.h"

#include "platform/forms/Forms.h"
#include "platform/forms/FormsDriver.h"

namespace plat {

TModalResult ButtonResult(TMsgDlgBtn Button) {
  switch (Button) {
    case mbYes: return mrYes;
    case mbNo: return mrNo;
    case mbOK: return mrOk;
    case mbCancel: return mrCancel;
    case mbAbort: return mrAbort;
    case mbRetry: return mrRetry;
    case mbIgnore: return mrIgnore;
    case mbAll: return mrAll;
    case mbNoToAll: return mrNoToAll;
    case mbYesToAll: return mrYesToAll;
    case mbHelp: break;
  }
  return mrNone;
}

TMsgDlgBtn DefaultButtonOf(TMsgDlgButtons Buttons) {
  if (Buttons.Contains(mbOK)) return mbOK;
  if (Buttons.Contains(mbYes)) return mbYes;
  for (int b = mbYes; b <= mbHelp; ++b) {
    if (Buttons.Contains(static_cast<TMsgDlgBtn>(b))) return static_cast<TMsgDlgBtn>(b);
  }
  return mbOK;
}

std::string ButtonCaption(TMsgDlgBtn Button) {
  static const char* const kCaptions[] = {"Yes",   "No",  "OK",       "Cancel",    "Abort", "Retry",
                                          "Ignore", "All", "NoToAll", "YesToAll", "Help"};
  return kCaptions[Button];
}

std::string MsgDlgTypeName(TMsgDlgType Type) {
  static const char* const kNames[] = {"warning", "error", "information", "confirmation", "custom"};
  return kNames[Type];
}

TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                        int32_t) {
  if (Buttons.Empty()) Buttons = TMsgDlgButtons{mbOK};
  return Application()->Driver().MessageBox(Msg, DlgType, Buttons);
}

void ShowMessage(const std::string& Msg) {
  MessageDlg(Msg, mtCustom, TMsgDlgButtons{mbOK});
}

bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value) {
  return Application()->Driver().InputQuery(Caption, Prompt, Value);
}

}  // namespace plat
