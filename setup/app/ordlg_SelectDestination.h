#pragma once
// The page choosing the install's destination folder.

#include "platform/forms/StdCtrls.h"
#include "setup/library/cmp_TStandardDlgs.h"

namespace setup {

class TSelectDestinationForm : public TWizardPageForm {
 public:
  explicit TSelectDestinationForm(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TSelectDestinationForm"; }
  void PrepareDialog() override;

  plat::TEdit* DestinationEdit;
  plat::TButton* BrowseButton;

 private:
  void Browse();
};

}  // namespace setup
