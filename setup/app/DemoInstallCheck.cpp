#include "setup/app/DemoInstallCheck.h"

#include "setup/app/frmMain.h"

namespace setup {

TConfirmInstall::TConfirmInstall(plat::TComponent* AOwner)
    : TWizardPageForm(AOwner, TManagerType::dmBeforeInstall, "Confirm install details",
                      "Setup has the following settings. Click Next to install.", "Next >", false) {
  SetName("ConfirmInstall");
  SetOrder(60);
  SummaryMemo = new plat::TMemo(this);
  SummaryMemo->SetName("SummaryMemo");
  SummaryMemo->SetParent(this);
  SummaryMemo->SetReadOnly(true);
  SummaryMemo->SetBounds(140, 60, 326, 250);
}

void TConfirmInstall::PrepareDialog() {
  SummaryMemo->Lines().Clear();
  if (TMainForm* main = SetupMainForm()) {
    for (const auto& line : main->ConfirmationSummary()) SummaryMemo->Lines().Add(line);
  }
}

}  // namespace setup
