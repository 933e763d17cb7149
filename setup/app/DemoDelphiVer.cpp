#include "setup/app/DemoDelphiVer.h"

#include "platform/forms/Dialogs.h"
#include "setup/app/frmMain.h"

namespace setup {

namespace {

plat::TCheckBox* CheckBox(plat::TWinControl* parent, const char* name, int32_t top,
                          const std::string& caption) {
  auto* box = new plat::TCheckBox(parent->Owner());
  box->SetName(name);
  box->SetParent(parent);
  box->SetCaption(caption);
  box->SetBounds(12, top, 200, 20);
  return box;
}

}  // namespace

TBeforeInstallDialog1::TBeforeInstallDialog1(plat::TComponent* AOwner)
    : TWizardPageForm(AOwner, TManagerType::dmBeforeInstall, "Delphi version selection",
                      "Choose the products the components are installed into.", "Next >", false) {
  SetName("BeforeInstallDialog1");
  SetOrder(40);
  ProductsGroup = new plat::TPanel(this);
  ProductsGroup->SetName("ProductsGroup");
  ProductsGroup->SetParent(this);
  ProductsGroup->SetCaption("Borland Products");
  ProductsGroup->SetBounds(140, 60, 320, 170);
  D3CB = CheckBox(ProductsGroup, "D3CB", 20, "Delphi 3");
  D4CB = CheckBox(ProductsGroup, "D4CB", 44, "Delphi 4");
  D5CB = CheckBox(ProductsGroup, "D5CB", 68, "Delphi 5");
  D6CB = CheckBox(ProductsGroup, "D6CB", 92, "Delphi 6");
  B6CB = CheckBox(ProductsGroup, "B6CB", 116, "Builder 6");
  D7CB = CheckBox(ProductsGroup, "D7CB", 140, "Delphi 7");
}

plat::TCheckBox* TBeforeInstallDialog1::Box(int Index) const {
  plat::TCheckBox* const boxes[kIDECount] = {D3CB, D4CB, D5CB, D6CB, B6CB, D7CB};
  return boxes[Index];
}

void TBeforeInstallDialog1::PrepareDialog() {
  TMainForm* main = SetupMainForm();
  if (main == nullptr) return;
  for (int i : {0, 1, 2, 3, 4}) {
    const bool found = main->PackageInstaller().Query(i).Found;
    Box(i)->SetChecked(found);
    Box(i)->SetEnabled(found && main->CheckComponentSupportVersion(i));
  }
}

void TBeforeInstallDialog1::NextPage() {
  TMainForm* main = SetupMainForm();
  if (main != nullptr) {
    if (!main->AnyIDEAvailable()) {
      plat::ShowMessage(
          "No Delphi products are selected or the correct version of Delphi is not present on "
          "this system. Installation is unable to proceed.");
      return;
    }
    bool any = false;
    std::array<bool, kIDECount> choice{};
    for (int i = 0; i < kIDECount; ++i) {
      choice[i] = Box(i)->Checked();
      any = any || (Box(i)->Enabled() && Box(i)->Checked());
    }
    if (!any) {
      plat::ShowMessage(
          "Either no products are selected or present on this system. Installation is unable to "
          "proceed.");
      return;
    }
    main->SetIDEChoice(choice);
  }
  TWizardPageForm::NextPage();
}

bool TBeforeInstallDialog1::SkipPage() {
  TMainForm* main = SetupMainForm();
  if (main == nullptr) return false;
  const bool skip = main->IDECount() <= 1 && main->AnyIDEAvailable();
  if (skip) main->SetIDEChoice({true, true, true, true, true, true});
  LogAndSave(std::string("Delphi Ver Dlg skip - ") + (skip ? "True" : "False"));
  return skip;
}

}  // namespace setup
