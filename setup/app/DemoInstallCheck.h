#pragma once
// The page showing what is about to be installed.

#include "platform/forms/StdCtrls.h"
#include "setup/library/cmp_TStandardDlgs.h"

namespace setup {

class TConfirmInstall : public TWizardPageForm {
 public:
  explicit TConfirmInstall(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TConfirmInstall"; }
  void PrepareDialog() override;

  plat::TMemo* SummaryMemo;
};

}  // namespace setup
