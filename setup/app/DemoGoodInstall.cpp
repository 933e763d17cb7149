#include "setup/app/DemoGoodInstall.h"

namespace setup {

TAfterGoodInstallDlg::TAfterGoodInstallDlg(plat::TComponent* AOwner)
    : TWizardPageForm(AOwner, TManagerType::dmAfterGoodInstall, "Installation complete",
                      "The Ostra Database Engine has been installed. Click Finish to end the "
                      "setup.",
                      "Next >", true) {
  SetName("AfterGoodInstallDlg");
  SetOrder(20);
}

}  // namespace setup
