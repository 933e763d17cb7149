#pragma once
// The ready pages of the installer and their dialog components.
//
//   page                caption                        stage             order
//   TLicenseForm        "Software license agreement"   before install    20
//   TReadmeForm         "Installation successful"      after good        0
//   TGoodInstallForm    "Setup complete"               after good        10
//   TBadInstallForm     "Setup incomplete"             after bad         10
//   TRebootForm         "Reboot windows"               reboot            10
//   TChangeDiskForm     "Setup needs the next disk"    change disk
//   TCopyFileForm       "Copying installation files"   during copy
//   TInstallStatusForm  (no caption, no border)        none
//
// A standard page is shown only through its dialog component placed in the
// description (TGoodInstallForm has none: the program registers it itself
// when it wants it). A component with no manager shows its page alone when
// it hears its trigger message (licence -981, readme -977, bad install
// -994, reboot -987); the install-status component keeps a stack of status
// texts (-974 pushes, -973 pops).
//
// Wizard buttons: "< Previous" is hidden on the first page; on pages with
// "Finish", "Next >" is hidden on the last page and "Finish" shown instead.
// "Next >", "Accept >" and "Finish" go on, "< Previous" back, "Cancel"
// asks whether to abort.

#include <string>
#include <vector>

#include "platform/forms/StdCtrls.h"
#include "setup/library/cmp_TDialogManager.h"

namespace setup {

// A wizard page with the standard buttons.
class TWizardPageForm : public TBaseInstallForm {
 public:
  // Forward: the caption of the forward button; WithFinish: the page has a
  // "Finish" button.
  TWizardPageForm(plat::TComponent* AOwner, TManagerType Stage, const std::string& Caption,
                  const std::string& Text, const std::string& Forward, bool WithFinish);
  std::string ClassName() const override { return "TWizardPageForm"; }
  void ActivatePage() override;

  plat::TLabel* TextLabel;
  plat::TImage* ThemeImage;
  plat::TButton* PreviousButton;
  plat::TButton* NextButton;
  plat::TButton* FinishButton = nullptr;
  plat::TButton* CancelButton;
};

class TLicenseForm : public TWizardPageForm {
 public:
  explicit TLicenseForm(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TLicenseForm"; }
  plat::TMemo* AgreementMemo;
  plat::TLabel* AcceptLabel;
};

class TReadmeForm : public TWizardPageForm {
 public:
  explicit TReadmeForm(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TReadmeForm"; }
  plat::TMemo* ReadmeMemo;
};

class TGoodInstallForm : public TWizardPageForm {
 public:
  explicit TGoodInstallForm(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TGoodInstallForm"; }
};

class TBadInstallForm : public TWizardPageForm {
 public:
  explicit TBadInstallForm(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TBadInstallForm"; }
};

// Selects Yes when the install's Reboot is set; a choice sets Reboot.
class TRebootForm : public TWizardPageForm {
 public:
  explicit TRebootForm(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TRebootForm"; }
  void PrepareDialog() override;
  plat::TRadioGroup* RebootGroup;
};

class TChangeDiskForm : public TBaseChangeDiskForm {
 public:
  explicit TChangeDiskForm(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TChangeDiskForm"; }
  void PrepareDialog() override;
  plat::TLabel* PromptLabel;
  plat::TLabel* HintLabel;
  plat::TLabel* PathLabel;
  plat::TEdit* PathEdit;
  plat::TButton* ProceedButton;
  plat::TButton* BrowseButton;
  plat::TButton* CancelButton;
};

class TCopyFileForm : public TBaseDuringCopyForm {
 public:
  explicit TCopyFileForm(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TCopyFileForm"; }
  void Status(const TFileStatusParameter* File, const TDownloadStatusParameter* Download) override;
  plat::TLabel* ProcessingLabel;
  plat::TLabel* FileLabel;
  plat::TProgressBar* FileProgress;
  plat::TProgressBar* TotalProgress;
  plat::TImage* TransferImage;
  plat::TButton* CancelButton;
};

class TInstallStatusForm : public TBaseQuillaneForm {
 public:
  explicit TInstallStatusForm(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TInstallStatusForm"; }
  // Shows Text in one line, the form fitted to it and centred.
  void ShowText(const std::string& Text);
  plat::TImage* Picture;
  plat::TLabel* StatusLabel;
};

// --- The dialog components.

class TLicenseDlg : public TCustomBaseInstallDlg {
 public:
  explicit TLicenseDlg(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TLicenseDlg"; }
  const plat::TPropList& PublishedProperties() const override;
  plat::TStringList& LicenseAgreement() { return license_; }
  TInstallFormClass GetFormClass() const override;
  void AssignDialogProperties() override;
  int32_t StandAloneTrigger() const override { return -981; }

 private:
  plat::TStringList license_;
};

// Takes the before-install manager when made; its page belongs to the
// after-good-install stage.
class TReadmeDlg : public TCustomBaseInstallDlg {
 public:
  explicit TReadmeDlg(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TReadmeDlg"; }
  const plat::TPropList& PublishedProperties() const override;
  plat::TStringList& ReadmeText() { return readme_; }
  TInstallFormClass GetFormClass() const override;
  void AssignDialogProperties() override;
  int32_t StandAloneTrigger() const override { return -977; }

 private:
  plat::TStringList readme_;
};

class TBadInstallationDlg : public TCustomBaseInstallDlg {
 public:
  explicit TBadInstallationDlg(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TBadInstallationDlg"; }
  TInstallFormClass GetFormClass() const override;
  void AssignDialogProperties() override;
  int32_t StandAloneTrigger() const override { return -994; }
};

class TRebootDlg : public TCustomBaseInstallDlg {
 public:
  explicit TRebootDlg(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TRebootDlg"; }
  TInstallFormClass GetFormClass() const override;
  void AssignDialogProperties() override;
  int32_t StandAloneTrigger() const override { return -987; }
};

class TChangeDiskDlg : public TCustomBaseInstallDlg {
 public:
  explicit TChangeDiskDlg(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TChangeDiskDlg"; }
  TInstallFormClass GetFormClass() const override;
};

class TCopyFileDlg : public TCustomBaseInstallDlg {
 public:
  explicit TCopyFileDlg(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TCopyFileDlg"; }
  TInstallFormClass GetFormClass() const override;
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }

 private:
  int32_t width_ = 474;
  int32_t height_ = 146;
};

// The stack of status texts, shown in a small form of its own.
class TInstallStatusDlg : public TCustomBaseInstallDlg {
 public:
  explicit TInstallStatusDlg(plat::TComponent* AOwner);
  ~TInstallStatusDlg() override;
  std::string ClassName() const override { return "TInstallStatusDlg"; }
  TInstallFormClass GetFormClass() const override;
  int32_t InstallMessage(TInstallContainer* Sender, int32_t Code, plat::TObject* Param) override;

  const std::vector<std::string>& Texts() const { return texts_; }
  TInstallStatusForm* StatusForm() const { return statusForm_; }

 private:
  std::vector<std::string> texts_;
  TInstallStatusForm* statusForm_ = nullptr;
};

// Makes the dialog manager and the dialog components known to the reader
// of component text.
void RegisterDialogClasses();

}  // namespace setup
