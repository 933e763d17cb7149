#pragma once
// The page choosing the IDEs the design package is registered with.

#include <array>

#include "platform/forms/StdCtrls.h"
#include "setup/app/VCLInstall.h"
#include "setup/library/cmp_TStandardDlgs.h"

namespace setup {

class TBeforeInstallDialog1 : public TWizardPageForm {
 public:
  explicit TBeforeInstallDialog1(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TBeforeInstallDialog1"; }
  void PrepareDialog() override;
  void NextPage() override;
  bool SkipPage() override;

  plat::TPanel* ProductsGroup;
  plat::TCheckBox *D3CB, *D4CB, *D5CB, *D6CB, *B6CB, *D7CB;
  // The box of an IDE index (Delphi 3, 4, 5, 6, Builder 6, Delphi 7).
  plat::TCheckBox* Box(int Index) const;
};

}  // namespace setup
