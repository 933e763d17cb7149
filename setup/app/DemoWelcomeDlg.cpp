#include "setup/app/DemoWelcomeDlg.h"

#include "platform/rtl/Strings.h"
#include "setup/app/frmMain.h"

namespace setup {

TWelcomeForm::TWelcomeForm(plat::TComponent* AOwner)
    : TWizardPageForm(AOwner, TManagerType::dmBeforeInstall, "Welcome",
                      "This program will install a copy of the Product onto your computer.",
                      "Next >", false) {
  SetName("WelcomeForm");
  SetOrder(5);
}

void TWelcomeForm::PrepareDialog() {
  if (TMainForm* main = SetupMainForm()) {
    TextLabel->SetCaption(
        plat::StringReplace(TextLabel->Caption(), "Product", main->ProductTitle(), {}));
  }
}

}  // namespace setup
