#pragma once
// The first page of the setup.

#include "setup/library/cmp_TStandardDlgs.h"

namespace setup {

class TWelcomeForm : public TWizardPageForm {
 public:
  explicit TWelcomeForm(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TWelcomeForm"; }
  void PrepareDialog() override;
};

}  // namespace setup
