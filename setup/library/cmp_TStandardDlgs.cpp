#include "setup/library/cmp_TStandardDlgs.h"

#include "platform/forms/FormsDriver.h"
#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Published.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/cmp_TOpenFolderDialog.h"
#include "setup/library/exceptions_Quillane.h"

namespace setup {

namespace {

constexpr TManagerType kBefore = TManagerType::dmBeforeInstall;
constexpr TManagerType kGood = TManagerType::dmAfterGoodInstall;
constexpr TManagerType kBad = TManagerType::dmAfterBadInstall;
constexpr TManagerType kReboot = TManagerType::dmReboot;
constexpr TManagerType kChangeDisk = TManagerType::dmChangeDisk;
constexpr TManagerType kCopy = TManagerType::dmDuringCopyFiles;

template <class C>
C* Make(plat::TComponent* owner, const char* name, int32_t left, int32_t top, int32_t width,
        int32_t height, const std::string& caption = std::string()) {
  C* control = new C(owner);
  control->SetName(name);
  if (!caption.empty()) control->SetCaption(caption);
  control->SetBounds(left, top, width, height);
  return control;
}

plat::TLabel* WrappedLabel(plat::TComponent* owner, const char* name, int32_t top,
                   const std::string& caption) {
  auto* label = Make<plat::TLabel>(owner, name, 12, top, 454, 40, caption);
  label->SetWordWrap(true);
  return label;
}

template <class F>
TInstallFormClass FormClass() {
  return [](plat::TComponent* owner) -> TBaseInstallForm* { return new F(owner); };
}

void HandThemeTo(TCustomBaseInstallDlg& dialog, plat::TImage* image) {
  if (!dialog.ThemeBitmap().Empty()) image->Picture().Assign(&dialog.ThemeBitmap());
}

}  // namespace

// --- Wizard pages ------------------------------------------------------------------------------

TWizardPageForm::TWizardPageForm(plat::TComponent* AOwner, TManagerType Stage,
                                 const std::string& Caption, const std::string& Text_,
                                 const std::string& Forward, bool WithFinish)
    : TBaseInstallForm(AOwner, Stage) {
  SetCaption(Caption);
  if (FormContainer() == nullptr) SetBounds(0, 0, 478, 395);
  ThemeImage = Make<plat::TImage>(this, "ThemeImage", 12, 12, 120, 300);
  TextLabel = WrappedLabel(this, "TextLabel", 12, Text_);
  PreviousButton = Make<plat::TButton>(this, "PreviousButton", 130, 330, 80, 25, "< Previous");
  NextButton = Make<plat::TButton>(this, "NextButton", 214, 330, 80, 25, Forward);
  NextButton->SetDefault(true);
  if (WithFinish) {
    FinishButton = Make<plat::TButton>(this, "FinishButton", 214, 330, 80, 25, "Finish");
    FinishButton->SetDefault(true);
    FinishButton->OnClick = [this](plat::TObject*) { NextPage(); };
  }
  CancelButton = Make<plat::TButton>(this, "CancelButton", 386, 330, 80, 25, "Cancel");
  CancelButton->SetCancel(true);
  PreviousButton->OnClick = [this](plat::TObject*) { PreviousPage(); };
  NextButton->OnClick = [this](plat::TObject*) { NextPage(); };
  CancelButton->OnClick = [this](plat::TObject*) { CancelDialog(); };
}

void TWizardPageForm::ActivatePage() {
  TBaseInstallForm::ActivatePage();
  PreviousButton->SetVisible(!IsFirstPage());
  plat::TButton* forward = NextButton;
  if (FinishButton != nullptr) {
    const bool last = IsLastPage();
    NextButton->SetVisible(!last);
    FinishButton->SetVisible(last);
    if (last) forward = FinishButton;
  }
  plat::TCustomForm* form = FormContainer() != nullptr ? static_cast<plat::TCustomForm*>(FormContainer())
                                                        : this;
  if (form->Visible() && forward->CanFocus()) form->SetActiveControl(forward);
}

TLicenseForm::TLicenseForm(plat::TComponent* AOwner)
    : TWizardPageForm(AOwner, kBefore, "Software license agreement",
                      "Please read the following License Agreement.", "Accept >", false) {
  SetName("LicenseForm");
  SetOrder(20);
  AgreementMemo = Make<plat::TMemo>(this, "AgreementMemo", 12, 56, 454, 200);
  AgreementMemo->SetReadOnly(true);
  AcceptLabel = WrappedLabel(this, "AcceptLabel", 264,
                     "By clicking on the Accept button below, you agree to all terms stated in "
                     "the License Agreement. You may cancel the installation by clicking on the "
                     "Cancel button.");
}

TReadmeForm::TReadmeForm(plat::TComponent* AOwner)
    : TWizardPageForm(AOwner, kGood, "Installation successful",
                      "Installation is complete. The README file below contains information "
                      "about this product that may not be in the help files.",
                      "Next >", false) {
  SetName("ReadmeForm");
  SetOrder(0);
  ReadmeMemo = Make<plat::TMemo>(this, "ReadmeMemo", 12, 56, 454, 260);
  ReadmeMemo->SetReadOnly(true);
}

TGoodInstallForm::TGoodInstallForm(plat::TComponent* AOwner)
    : TWizardPageForm(AOwner, kGood, "Setup complete",
                      "The software has been properly installed. You may start the software by "
                      "clicking on the icon.",
                      "Next >", true) {
  SetName("GoodInstallForm");
  SetOrder(10);
}

TBadInstallForm::TBadInstallForm(plat::TComponent* AOwner)
    : TWizardPageForm(AOwner, kBad, "Setup incomplete",
                      "This software has not been properly installed and will not work "
                      "correctly if you try to use it.",
                      "Next >", true) {
  SetName("BadInstallForm");
  SetOrder(10);
}

TRebootForm::TRebootForm(plat::TComponent* AOwner)
    : TWizardPageForm(AOwner, kReboot, "Reboot windows",
                      "Several components could not be installed on your system because they "
                      "were in use. For the installation to proceed, you will need to reboot "
                      "your computer. If you decide not to reboot now, the software will "
                      "probably not work until you do reboot.",
                      "Next >", true) {
  SetName("RebootForm");
  SetOrder(10);
  RebootGroup = Make<plat::TRadioGroup>(this, "RebootGroup", 140, 120, 326, 80);
  RebootGroup->Items().Add("Yes, I would like to reboot windows");
  RebootGroup->Items().Add("No, I would not like to reboot windows");
  RebootGroup->OnChange = [](plat::TObject* sender) {
    if (TCustomInstall* install = CurrentInstall()) {
      install->SetReboot(static_cast<plat::TRadioGroup*>(sender)->ItemIndex() == 0);
    }
  };
}

void TRebootForm::PrepareDialog() {
  TCustomInstall* install = CurrentInstall();
  const int32_t choice = install != nullptr && install->Reboot() ? 0 : 1;
  // Showing the choice is no choice of the person's.
  const plat::TNotifyEvent change = std::move(RebootGroup->OnChange);
  RebootGroup->SetItemIndex(choice);
  RebootGroup->OnChange = change;
}

// --- Change disk -------------------------------------------------------------------------------

TChangeDiskForm::TChangeDiskForm(plat::TComponent* AOwner) : TBaseChangeDiskForm(AOwner, kChangeDisk) {
  SetName("ChangeDiskForm");
  SetCaption("Setup needs the next disk");
  SetBorderStyle(plat::bsDialog);
  SetBounds(0, 0, 400, 190);
  PromptLabel = Make<plat::TLabel>(this, "PromptLabel", 12, 12, 376, 16, "Please insert disk number %d");
  HintLabel = WrappedLabel(this, "HintLabel", 36,
                   "If the files on this disk can be found in another location, for example, in "
                   "another drive, enter its full path or click the Browse button to select its "
                   "path.");
  PathLabel = Make<plat::TLabel>(this, "PathLabel", 12, 100, 40, 16, "Path:");
  PathEdit = Make<plat::TEdit>(this, "PathEdit", 56, 96, 332, 21);
  PathEdit->SetTabStop(true);
  ProceedButton = Make<plat::TButton>(this, "ProceedButton", 132, 150, 80, 25, "Proceed");
  ProceedButton->SetDefault(true);
  ProceedButton->SetModalResult(plat::mrOk);
  BrowseButton = Make<plat::TButton>(this, "BrowseButton", 220, 150, 80, 25, "&Browse...");
  CancelButton = Make<plat::TButton>(this, "CancelButton", 308, 150, 80, 25, "Cancel");
  CancelButton->SetCancel(true);
  PathEdit->OnChange = [this](plat::TObject*) {
    if (Disk() != nullptr) Disk()->Path = PathEdit->Text();
  };
  BrowseButton->OnClick = [this](plat::TObject*) {
    TOpenFolderDialog folder(nullptr);
    folder.SetPath(PathEdit->Text());
    if (folder.Execute()) {
      if (Disk() != nullptr) Disk()->Path = folder.Path();
      PathEdit->SetText(folder.Path());
    }
  };
  CancelButton->OnClick = [this](plat::TObject*) { Cancel(); };
}

void TChangeDiskForm::PrepareDialog() {
  if (Disk() == nullptr) return;
  PromptLabel->SetCaption(
      plat::Format(TranslateText("Please insert disk number %d"), {Disk()->Disk}));
  PathEdit->SetText(Disk()->Path);
}

// --- Copy file ---------------------------------------------------------------------------------

TCopyFileForm::TCopyFileForm(plat::TComponent* AOwner) : TBaseDuringCopyForm(AOwner, kCopy) {
  SetName("CopyFileForm");
  SetCaption("Copying installation files");
  SetBorderStyle(plat::bsDialog);
  SetBounds(0, 0, 474, 146);
  ProcessingLabel = Make<plat::TLabel>(this, "ProcessingLabel", 12, 8, 100, 16, "Processing");
  FileLabel = Make<plat::TLabel>(this, "FileLabel", 12, 26, 450, 16, "---");
  FileProgress = Make<plat::TProgressBar>(this, "FileProgress", 12, 48, 450, 16);
  TotalProgress = Make<plat::TProgressBar>(this, "TotalProgress", 12, 72, 450, 16);
  Make<plat::TLabel>(this, "FileProgressLabel", 12, 48, 80, 16, "File progress");
  Make<plat::TLabel>(this, "TotalProgressLabel", 12, 72, 80, 16, "Total progress");
  TransferImage = Make<plat::TImage>(this, "TransferImage", 420, 8, 32, 32);
  TransferImage->SetVisible(false);
  CancelButton = Make<plat::TButton>(this, "CancelButton", 196, 100, 80, 25, "Cancel");
  CancelButton->SetCancel(true);
  CancelButton->OnClick = [this](plat::TObject*) { CancelCopy(); };
}

void TCopyFileForm::Status(const TFileStatusParameter* File,
                           const TDownloadStatusParameter* Download) {
  if (File != nullptr) {
    TransferImage->SetVisible(false);
    FileProgress->SetPosition(File->FilePercentDone);
    TotalProgress->SetPosition(File->OverallPercentDone);
    FileLabel->SetCaption(File->FileName);
  } else if (Download != nullptr) {
    TransferImage->SetVisible(true);
    FileProgress->SetPosition(Download->Percentage);
    FileLabel->SetCaption(Download->FileName);
  }
  Repaint();
  plat::Application()->ProcessMessages();
}

// --- Install status ----------------------------------------------------------------------------

TInstallStatusForm::TInstallStatusForm(plat::TComponent* AOwner) : TBaseQuillaneForm(AOwner) {
  SetName("InstallStatusForm");
  SetBorderStyle(plat::bsNone);
  SetBounds(0, 0, 200, 48);
  Picture = Make<plat::TImage>(this, "Picture", 8, 8, 32, 32);
  StatusLabel = Make<plat::TLabel>(this, "StatusLabel", 48, 16, 0, 16);
  StatusLabel->SetAutoSize(true);
}

void TInstallStatusForm::ShowText(const std::string& Text) {
  StatusLabel->SetCaption(Text);
  StatusLabel->SetTop((Height() - StatusLabel->Height()) / 2);
  SetWidth(StatusLabel->Width() + Picture->Width() + 25);
  PlaceDialog(*this, qdpCenter, 0, 0);
  Show();
  Repaint();
}

// --- Components --------------------------------------------------------------------------------

TLicenseDlg::TLicenseDlg(plat::TComponent* AOwner)
    : TCustomBaseInstallDlg(AOwner, &PageRegistry(), &kBefore) {
  SetOrder(20);
  PageRegistry().Add("TLicenseForm", FormClass<TLicenseForm>(), this);
}

TInstallFormClass TLicenseDlg::GetFormClass() const { return FormClass<TLicenseForm>(); }

void TLicenseDlg::AssignDialogProperties() {
  TCustomBaseInstallDlg::AssignDialogProperties();
  auto* form = static_cast<TLicenseForm*>(Form());
  form->AgreementMemo->Lines().Assign(&license_);
  form->ThemeImage->SetVisible(!ThemeBitmap().Empty());
  HandThemeTo(*this, form->ThemeImage);
}

const plat::TPropList& TLicenseDlg::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TLicenseDlg>(TCustomBaseInstallDlg::PublishedProperties())
          .Strings("LicenseAgreement",
                   [](TLicenseDlg& o) -> plat::TStrings& { return o.LicenseAgreement(); });
  return list;
}

TReadmeDlg::TReadmeDlg(plat::TComponent* AOwner)
    : TCustomBaseInstallDlg(AOwner, &PageRegistry(), &kBefore) {
  SetOrder(30);
  PageRegistry().Add("TReadmeForm", FormClass<TReadmeForm>(), this);
}

TInstallFormClass TReadmeDlg::GetFormClass() const { return FormClass<TReadmeForm>(); }

void TReadmeDlg::AssignDialogProperties() {
  TCustomBaseInstallDlg::AssignDialogProperties();
  auto* form = static_cast<TReadmeForm*>(Form());
  form->ReadmeMemo->Lines().Assign(&readme_);
  form->ThemeImage->SetVisible(!ThemeBitmap().Empty());
  HandThemeTo(*this, form->ThemeImage);
}

TBadInstallationDlg::TBadInstallationDlg(plat::TComponent* AOwner)
    : TCustomBaseInstallDlg(AOwner, &PageRegistry(), &kBad) {
  SetOrder(10);
  PageRegistry().Add("TBadInstallForm", FormClass<TBadInstallForm>(), this);
}

TInstallFormClass TBadInstallationDlg::GetFormClass() const { return FormClass<TBadInstallForm>(); }

void TBadInstallationDlg::AssignDialogProperties() {
  TCustomBaseInstallDlg::AssignDialogProperties();
  auto* form = static_cast<TBadInstallForm*>(Form());
  form->ThemeImage->SetVisible(!ThemeBitmap().Empty());
  HandThemeTo(*this, form->ThemeImage);
}

TRebootDlg::TRebootDlg(plat::TComponent* AOwner)
    : TCustomBaseInstallDlg(AOwner, &PageRegistry(), &kReboot) {
  SetOrder(10);
  PageRegistry().Add("TRebootForm", FormClass<TRebootForm>(), this);
}

TInstallFormClass TRebootDlg::GetFormClass() const { return FormClass<TRebootForm>(); }

void TRebootDlg::AssignDialogProperties() {
  TCustomBaseInstallDlg::AssignDialogProperties();
  auto* form = static_cast<TRebootForm*>(Form());
  form->ThemeImage->SetVisible(!ThemeBitmap().Empty());
  HandThemeTo(*this, form->ThemeImage);
  form->PrepareDialog();
}

TChangeDiskDlg::TChangeDiskDlg(plat::TComponent* AOwner)
    : TCustomBaseInstallDlg(AOwner, &ChangeDiskRegistry(), &kChangeDisk) {
  ChangeDiskRegistry().Add("TChangeDiskForm", FormClass<TChangeDiskForm>(), this);
}

TInstallFormClass TChangeDiskDlg::GetFormClass() const { return FormClass<TChangeDiskForm>(); }

TCopyFileDlg::TCopyFileDlg(plat::TComponent* AOwner)
    : TCustomBaseInstallDlg(AOwner, &CopyPageRegistry(), &kCopy) {
  SetPosition(qdpBottomCenter);
  SetRelativeTopOffset(30);
  CopyPageRegistry().Add("TCopyFileForm", FormClass<TCopyFileForm>(), this);
}

TInstallFormClass TCopyFileDlg::GetFormClass() const { return FormClass<TCopyFileForm>(); }

TInstallStatusDlg::TInstallStatusDlg(plat::TComponent* AOwner)
    : TCustomBaseInstallDlg(AOwner, nullptr, nullptr) {}

TInstallStatusDlg::~TInstallStatusDlg() { delete statusForm_; }

// The status form is no wizard page: there is nothing to show alone.
TInstallFormClass TInstallStatusDlg::GetFormClass() const { return {}; }

int32_t TInstallStatusDlg::InstallMessage(TInstallContainer* Sender, int32_t Code,
                                          plat::TObject* Param) {
  const int32_t result = TCustomBaseInstallDlg::InstallMessage(Sender, Code, Param);
  if (DialogManager() != nullptr || (Code != msg::kStatus && Code != msg::kResetStatus)) {
    return result;
  }
  if (Code == msg::kStatus) {
    if (Param == nullptr) throw IException::CreateFmt("%s got a nil PO parameter", {Name()});
    auto* text = dynamic_cast<TMessageParameter*>(Param);
    if (text == nullptr) {
      throw IException::CreateFmt(
          "The PO object passed to %s is not a TMessageParameter object", {Name()});
    }
    texts_.push_back(text->Text);
  } else if (!texts_.empty()) {
    texts_.pop_back();
  }
  if (texts_.empty()) {
    if (statusForm_ != nullptr) statusForm_->Hide();
    return result;
  }
  if (statusForm_ == nullptr) {
    // Owned here: it lives as long as the component, not the application.
    statusForm_ = new TInstallStatusForm(nullptr);
    statusForm_->SetAutoSetFont(AutoSetFont());
    statusForm_->SetAutoTranslate(AutoTranslate());
    statusForm_->TranslateDialog();
  }
  statusForm_->ShowText(texts_.back());
  plat::Application()->Driver().Status(texts_.back());
  return result;
}

const plat::TPropList& TReadmeDlg::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TReadmeDlg>(TCustomBaseInstallDlg::PublishedProperties())
          .Strings("ReadmeText", [](TReadmeDlg& o) -> plat::TStrings& { return o.ReadmeText(); });
  return list;
}

void RegisterDialogClasses() {
  plat::RegisterClass<TDialogManager>("TDialogManager");
  plat::RegisterClass<TLicenseDlg>("TLicenseDlg");
  plat::RegisterClass<TReadmeDlg>("TReadmeDlg");
  plat::RegisterClass<TBadInstallationDlg>("TBadInstallationDlg");
  plat::RegisterClass<TRebootDlg>("TRebootDlg");
  plat::RegisterClass<TChangeDiskDlg>("TChangeDiskDlg");
  plat::RegisterClass<TCopyFileDlg>("TCopyFileDlg");
  plat::RegisterClass<TInstallStatusDlg>("TInstallStatusDlg");
}

}  // namespace setup
