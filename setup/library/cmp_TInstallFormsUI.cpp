#include "setup/library/cmp_TInstallFormsUI.h"

#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/forms/FormsDriver.h"

namespace setup {

void TFormsInstallUI::Status(const std::string& Text) {
  plat::Application()->Driver().Status(Text);
  plat::Application()->ProcessMessages();
}

void TFormsInstallUI::ResetStatus() {
  plat::Application()->Driver().Status("");
}

void TFormsInstallUI::FileStatus(const TFileStatusParameter&) {
  plat::Application()->ProcessMessages();
}

void TFormsInstallUI::NewDisk(TDiskParameter&) {
  plat::Application()->ProcessMessages();
}

void TFormsInstallUI::DownloadStatus(const TDownloadStatusParameter&) {
  plat::Application()->ProcessMessages();
}

void TFormsInstallUI::Pages(TDialogMoment) {}

void TFormsInstallUI::Notify(int32_t) {}

TInstallAnswer TFormsInstallUI::MessageBox(const std::string& Text, TInstallButtons Buttons) {
  switch (Buttons) {
    case ibOKCancel:
      return plat::MessageDlg(Text, plat::mtConfirmation, plat::mbOKCancel) == plat::mrOk
                 ? iaOK
                 : iaCancel;
    case ibYesNo: {
      const plat::TMsgDlgButtons yesNo{plat::mbYes, plat::mbNo};
      return plat::MessageDlg(Text, plat::mtConfirmation, yesNo) == plat::mrYes ? iaYes : iaNo;
    }
    case ibOK:
      break;
  }
  plat::MessageDlg(Text, plat::mtInformation, plat::TMsgDlgButtons{plat::mbOK});
  return iaOK;
}

void TFormsInstallUI::ShowException(const std::string&, const std::string& Message) {
  plat::MessageDlg(Message, plat::mtError, plat::TMsgDlgButtons{plat::mbOK});
}

void TFormsInstallUI::Terminate() {
  plat::Application()->Terminate();
}

}  // namespace setup
