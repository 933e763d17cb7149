#pragma once
// The last page after a good install.

#include "setup/library/cmp_TStandardDlgs.h"

namespace setup {

class TAfterGoodInstallDlg : public TWizardPageForm {
 public:
  explicit TAfterGoodInstallDlg(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TAfterGoodInstallDlg"; }
};

}  // namespace setup
