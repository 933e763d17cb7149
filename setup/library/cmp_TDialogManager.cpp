#include "setup/library/cmp_TDialogManager.h"

#include <algorithm>
#include <cmath>

#include "platform/forms/FormsDriver.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Published.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/cmp_TNetInstallLocation.h"
#include "setup/library/exceptions_Quillane.h"

namespace setup {

namespace {

std::vector<TBaseQuillaneForm*>& FormList() {
  static std::vector<TBaseQuillaneForm*> forms;
  return forms;
}

TDialogManager* running = nullptr;

template <class T>
void Erase(std::vector<T*>& list, const T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

bool ConfirmAbort() {
  TCustomInstall* install = CurrentInstall();
  return install == nullptr || install->ConfirmUserAbort();
}

}  // namespace

// --- Placing ---------------------------------------------------------------------------------

const TDialogScreen& DialogScreen() {
  static const TDialogScreen screen;
  return screen;
}

void PlaceDialog(plat::TControl& Form, TQuillaneDialogPosition P, int32_t X, int32_t Y,
                 const TDialogScreen& Screen) {
  const int32_t w = Form.Width();
  const int32_t h = Form.Height();
  int32_t left = X;
  switch (P) {
    case qdpCenter:
    case qdpBottomCenter:
    case qdpTopCenter:
      left = static_cast<int32_t>(std::lround(Screen.Width / 2.0 - w / 2.0)) + X;
      break;
    case qdpCenterRight:
    case qdpBottomRight:
    case qdpTopRight:
      left = Screen.Width - w - X;
      break;
    default:
      break;
  }
  int32_t top = Y;
  switch (P) {
    case qdpCenterLeft:
    case qdpCenter:
    case qdpCenterRight:
      top = static_cast<int32_t>(std::lround(Screen.Height / 2.0 - h / 2.0)) + Y;
      break;
    case qdpBottomLeft:
    case qdpBottomCenter:
    case qdpBottomRight:
      top = Screen.Height - Screen.CaptionHeight - h - Y;
      break;
    default:
      break;
  }
  Form.SetBounds(left, top, w, h);
}

// --- TBaseQuillaneForm -------------------------------------------------------------------------

TBaseQuillaneForm::TBaseQuillaneForm(plat::TComponent* AOwner) : plat::TForm(AOwner) {
  FormList().push_back(this);
}

TBaseQuillaneForm::~TBaseQuillaneForm() { Erase(FormList(), this); }

const std::vector<TBaseQuillaneForm*>& QuillaneForms() { return FormList(); }

void TBaseQuillaneForm::Translate() {
  if (autoSetFont_) {
    if (overrideMainTranslator_) {
      ApplyFontIntoGlobal(translateInto_, this, false);
    } else {
      ApplyFontGlobal(this, false);
    }
  }
  if (autoTranslate_) {
    if (overrideMainTranslator_) {
      TranslateComponentIntoGlobal(tlEnglish, translateInto_, this);
    } else {
      TranslateComponentGlobal(tlEnglish, this);
    }
  }
  plat::Application()->ProcessMessages();
}

// --- TBaseInstallForm --------------------------------------------------------------------------

TBaseInstallForm::TBaseInstallForm(plat::TComponent* AOwner, TManagerType Stage)
    : TBaseQuillaneForm(AOwner), dm_(FindDialogManager(Stage)) {
  frame_ = dynamic_cast<TBaseFormContainer*>(AOwner);
  if (frame_ != nullptr) {
    SetParent(frame_->DisplayPanel());
    SetBorderStyle(plat::bsNone);
    SetVisible(false);
    const plat::TRect r = frame_->DisplayPanel()->ClientRect();
    SetBounds(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
  }
}

TBaseInstallForm::~TBaseInstallForm() {
  if (dc_ != nullptr && dc_->Form() == this) dc_->SetForm(nullptr);
}

void TBaseInstallForm::SetDC(TCustomBaseInstallDlg* Value) { dc_ = Value; }
void TBaseInstallForm::SetDM(TDialogManager* Value) { dm_ = Value; }

bool TBaseInstallForm::IsFirstPage() {
  if (frame_ == nullptr) return true;
  for (int32_t i = 0; i < frame_->CurrentPage(); ++i) {
    if (!frame_->Pages(i)->SkipPage()) return false;
  }
  return true;
}

bool TBaseInstallForm::IsLastPage() {
  return frame_ == nullptr || frame_->CurrentPage() == frame_->PageCount() - 1;
}

void TBaseInstallForm::AbortDialog() {
  if (frame_ != nullptr) {
    frame_->SetModalResult(plat::mrAbort);
  } else {
    SetModalResult(plat::mrAbort);
  }
}

void TBaseInstallForm::NextPage() {
  if (frame_ != nullptr) {
    frame_->NextPage();
  } else {
    SetModalResult(plat::mrOk);
  }
}

void TBaseInstallForm::PreviousPage() {
  if (frame_ != nullptr) frame_->PreviousPage();
}

void TBaseInstallForm::ActivatePage() { PrepareDialog(); }

void TBaseInstallForm::DoShow() {
  if (frame_ == nullptr) ActivatePage();
  TBaseQuillaneForm::DoShow();
}

bool TBaseInstallForm::CancelDialog() {
  const bool confirmed = ConfirmAbort();
  if (confirmed) AbortDialog();
  return confirmed;
}

void TBaseDuringCopyForm::CancelCopy() {
  if (ConfirmAbort()) {
    if (TCustomInstall* install = CurrentInstall()) install->Archive().SetAbort(true);
    SetDownloadAbort(true);
  }
  SetModalResult(plat::mrAbort);
}

void TBaseChangeDiskForm::Cancel() {
  if (ConfirmAbort()) SetModalResult(plat::mrAbort);
}

// --- TBaseFormContainer ------------------------------------------------------------------------

TBaseFormContainer::TBaseFormContainer(plat::TComponent* AOwner) : plat::TForm(AOwner) {
  SetName("DialogContainer");
  SetBorderStyle(plat::bsDialog);
  plat::TForm::SetBounds(0, 0, 478, 395);
  tabs_ = new plat::TTabControl(this);
  tabs_->SetName("Tabs");
  tabs_->SetBounds(0, 0, 478, 0);
  tabs_->SetVisible(false);
  displayPanel_ = new plat::TPanel(this);
  displayPanel_->SetName("DisplayPanel");
  displayPanel_->SetBevelOuter(plat::bvNone);
  displayPanel_->SetAlign(plat::alClient);
  displayPanel_->SetBounds(0, 0, 478, 395);
  tabs_->OnChange = [this](plat::TObject*) {
    if (selecting_) return;
    const int32_t chosen = tabs_->TabIndex();
    if (current_ >= 0 && current_ < PageCount()) pages_[static_cast<size_t>(current_)]->LeavePage();
    ShowPage(chosen, chosen >= current_);
  };
  OnCloseQuery = [this](plat::TObject*, bool& CanClose) {
    CanClose = finishing_ || ModalResult() == plat::mrAbort;
  };
}

TBaseFormContainer::~TBaseFormContainer() {
  // The pages are owned components; they go with the frame.
  pages_.clear();
}

void TBaseFormContainer::SetDialogPosition(TQuillaneDialogPosition P, int32_t X, int32_t Y) {
  PlaceDialog(*this, P, X, Y);
}

void TBaseFormContainer::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  plat::TForm::SetBounds(ALeft, ATop, AWidth, AHeight);
  PlacePages();
}

void TBaseFormContainer::PlacePages() {
  if (displayPanel_ == nullptr) return;
  const plat::TRect r = displayPanel_->ClientRect();
  for (TBaseInstallForm* page : pages_) {
    page->SetBounds(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
  }
}

int32_t TBaseFormContainer::BuildPages() {
  TDialogManager* manager = TDialogManager::Running();
  if (manager == nullptr) throw IException("The current dialog manager is not defined");
  std::vector<int32_t> keys;
  const TBIFList& registry = PageRegistry();
  for (int32_t i = 0; i < registry.Count(); ++i) {
    const TBIFEntry entry = registry.Items(i);
    TCustomBaseInstallDlg* dialog = entry.Dialog;
    if (dialog != nullptr && (dialog->DialogManager() != manager || !dialog->CanShow())) continue;
    std::unique_ptr<TBaseInstallForm> form(entry.Create(this));
    if (dialog == nullptr && form->DM() != manager) continue;
    int32_t key = form->Order();
    if (dialog != nullptr) {
      form->SetDC(dialog);
      key = dialog->Order();
      dialog->SetForm(form.get());
      dialog->AssignDialogProperties();
    }
    tabs_->Tabs().Add(form->Caption());
    const plat::TRect r = displayPanel_->ClientRect();
    form->SetBounds(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
    form->TranslateDialog();
    pages_.push_back(form.release());
    keys.push_back(key);
  }
  // An exchange sort: equal keys keep no promised order.
  for (size_t i = 0; i < pages_.size(); ++i) {
    for (size_t j = i + 1; j < pages_.size(); ++j) {
      if (keys[j] < keys[i]) {
        std::swap(keys[i], keys[j]);
        std::swap(pages_[i], pages_[j]);
      }
    }
  }
  selecting_ = true;
  tabs_->Tabs().Clear();
  for (TBaseInstallForm* page : pages_) tabs_->Tabs().Add(page->Caption());
  selecting_ = false;
  return PageCount();
}

bool TBaseFormContainer::ShowPage(int32_t Index, bool Forward) {
  while (true) {
    if (Index < 0 || Index >= PageCount()) return false;
    if (!pages_[static_cast<size_t>(Index)]->SkipPage()) break;
    Index += Forward ? 1 : -1;
  }
  TBaseInstallForm* page = pages_[static_cast<size_t>(Index)];
  for (TBaseInstallForm* other : pages_) {
    if (other != page) other->SetVisible(false);
  }
  selecting_ = true;
  tabs_->SetTabIndex(Index);
  selecting_ = false;
  current_ = Index;
  SetCaption(page->Caption());
  page->SetVisible(true);
  page->ActivatePage();
  return true;
}

void TBaseFormContainer::DoShow() {
  if (!ShowPage(0, false)) ShowPage(0, true);
  plat::TForm::DoShow();
}

void TBaseFormContainer::NextPage() {
  const int32_t before = current_;
  if (!ShowPage(current_ + 1, true)) ShowPage(current_ + 1, false);
  if (current_ == before) {
    finishing_ = true;
    SetModalResult(plat::mrOk);
  }
}

void TBaseFormContainer::PreviousPage() {
  if (!ShowPage(current_ - 1, false)) ShowPage(current_ - 1, true);
}

// --- Registries --------------------------------------------------------------------------------

void TBIFList::Add(const std::string& FormClass, TInstallFormClass Create,
                   TCustomBaseInstallDlg* Dialog) {
  entries_.push_back(TBIFEntry{FormClass, std::move(Create), Dialog, 0});
}

void TBIFList::RemoveClass(const std::string& FormClass) {
  std::erase_if(entries_, [&](const TBIFEntry& e) {
    return e.Dialog == nullptr && e.FormClass == FormClass;
  });
}

void TBIFList::RemoveDialog(const TCustomBaseInstallDlg* Dialog) {
  std::erase_if(entries_, [&](const TBIFEntry& e) { return e.Dialog == Dialog; });
}

const TBIFEntry& TBIFList::Items(int32_t Index) const {
  if (Index < 0 || Index >= Count()) {
    throw IException::CreateFmt("%d is an invalid index in the BIFList", {Index});
  }
  return entries_[static_cast<size_t>(Index)];
}

TBIFList& PageRegistry() {
  static TBIFList list;
  return list;
}

TBIFList& CopyPageRegistry() {
  static TBIFList list;
  return list;
}

TBIFList& ChangeDiskRegistry() {
  static TBIFList list;
  return list;
}

// --- TDialogManager ----------------------------------------------------------------------------

TDialogManager* FindDialogManager(TManagerType Type) {
  for (TInstallContainer* c : InstallContainers()) {
    auto* manager = dynamic_cast<TDialogManager*>(c);
    if (manager != nullptr && manager->ManagerType() == Type) return manager;
  }
  return nullptr;
}

TDialogManager* TDialogManager::Running() { return running; }

TDialogManager::TDialogManager(plat::TComponent* AOwner) : TInstallObject(AOwner) {}

TDialogManager::~TDialogManager() {
  CloseCopyPages();
  for (TCustomBaseInstallDlg* dialog : dialogs_) dialog->manager_ = nullptr;
  for (TBaseQuillaneForm* form : QuillaneForms()) {
    if (auto* page = dynamic_cast<TBaseInstallForm*>(form); page != nullptr && page->DM() == this) {
      page->SetDM(nullptr);
    }
  }
  if (running == this) running = nullptr;
}

void TDialogManager::AddDialog(TCustomBaseInstallDlg* Dialog) {
  if (Dialog == nullptr) {
    throw IException::CreateFmt("Cannot add a NIL Dialog to the Dialog Manager %s", {Name()});
  }
  if (std::find(dialogs_.begin(), dialogs_.end(), Dialog) == dialogs_.end()) {
    dialogs_.push_back(Dialog);
  }
}

void TDialogManager::RemoveDialog(TCustomBaseInstallDlg* Dialog) { Erase(dialogs_, Dialog); }

void TDialogManager::RunDialogs() {
  TDialogManager* const outer = running;
  running = this;
  std::unique_ptr<TBaseFormContainer> frame;
  struct TEnd {
    TDialogManager& self;
    TDialogManager* outer;
    std::unique_ptr<TBaseFormContainer>& frame;
    ~TEnd() {
      running = outer;
      self.frame_ = nullptr;
      frame.reset();
      if (plat::TCustomForm* main = plat::Application()->MainForm()) main->Repaint();
      try {
        plat::Application()->ProcessMessages();
      } catch (...) {
        // Messages after the pages: what ended the pages is what counts.
      }
    }
  } end{*this, outer, frame};
  frame = std::make_unique<TBaseFormContainer>(nullptr);
  frame_ = frame.get();
  frame->SetPosition(plat::poDesigned);
  frame->SetBounds(frame->Left(), frame->Top(), width_, height_);
  frame->SetDialogPosition(position_, leftOffset_, topOffset_);
  if (frame->BuildPages() == 0) return;
  if (frame->ShowModal() == plat::mrAbort) throw EAIUserAbort();
}

void TDialogManager::CopyStatus(const TFileStatusParameter* File,
                                const TDownloadStatusParameter* Download) {
  if (copyPages_.empty()) {
    const TBIFList& registry = CopyPageRegistry();
    for (int32_t i = 0; i < registry.Count(); ++i) {
      const TBIFEntry entry = registry.Items(i);
      // Kept by the manager until -996 closes them.
      std::unique_ptr<TBaseInstallForm> made(entry.Create(nullptr));
      auto* page = dynamic_cast<TBaseDuringCopyForm*>(made.get());
      if (page == nullptr || page->DM() != this) continue;
      if (entry.Dialog != nullptr) {
        page->SetDC(entry.Dialog);
        entry.Dialog->SetForm(page);
        PlaceDialog(*page, entry.Dialog->Position(), entry.Dialog->RelativeLeftOffset(),
                    entry.Dialog->RelativeTopOffset());
      } else {
        PlaceDialog(*page, position_, leftOffset_, topOffset_);
      }
      page->PrepareDialog();
      // Shown before it is translated: messages processed while translating
      // already find the page.
      page->Show();
      plat::Application()->Driver().FormShown(*page);
      made.release();
      copyPages_.push_back(page);
      page->TranslateDialog();
    }
  }
  const std::vector<TBaseDuringCopyForm*> pages = copyPages_;
  for (TBaseDuringCopyForm* page : pages) page->Status(File, Download);
}

void TDialogManager::CloseCopyPages() {
  std::vector<TBaseDuringCopyForm*> pages;
  pages.swap(copyPages_);
  for (TBaseDuringCopyForm* page : pages) {
    if (page->Visible()) {
      page->Hide();
      plat::Application()->Driver().FormClosed(*page, page->ModalResult());
    }
    delete page;
  }
}

void TDialogManager::ShowChangeDisk(plat::TObject* Param) {
  const TBIFList& registry = ChangeDiskRegistry();
  if (registry.Count() == 0) return;
  const TBIFEntry entry = registry.Items(0);
  std::unique_ptr<TBaseInstallForm> made(entry.Create(plat::Application()));
  auto* page = dynamic_cast<TBaseChangeDiskForm*>(made.get());
  if (page == nullptr || page->DM() != this) return;
  if (Param == nullptr) {
    throw IException(
        "The ParameterObject is Nil in the TDialogManager. Cannot show the change disk form");
  }
  auto* disk = dynamic_cast<TDiskParameter*>(Param);
  if (disk == nullptr) throw IException("TChangeDiskDlg says bad second parameter");
  disk->Handled = true;
  if (entry.Dialog != nullptr) {
    page->SetDC(entry.Dialog);
    entry.Dialog->SetForm(page);
  }
  page->SetDisk(disk);
  page->PrepareDialog();
  page->TranslateDialog();
  PlaceDialog(*page, position_, leftOffset_, topOffset_);
  if (page->ShowModal() == plat::mrAbort) throw EAIUserAbort();
}

int32_t TDialogManager::InstallMessage(TInstallContainer* Sender, int32_t Code,
                                       plat::TObject* Param) {
  const int32_t result = TInstallObject::InstallMessage(Sender, Code, Param);
  auto pages = [&](TManagerType type) {
    if (managerType_ == type) RunDialogs();
  };
  auto check = [&]<class P>(const char* type) -> const P* {
    if (Param == nullptr) throw IException::CreateFmt("%s got a nil PO parameter", {Name()});
    const auto* p = dynamic_cast<const P*>(Param);
    if (p == nullptr) {
      throw IException::CreateFmt(
          std::string("The PO object passed to %s is not a ") + type + " object", {Name()});
    }
    return p;
  };
  switch (Code) {
    case msg::kBeforeInstallPages:
      pages(TManagerType::dmBeforeInstall);
      break;
    case msg::kGoodInstallPages:
      pages(TManagerType::dmAfterGoodInstall);
      break;
    case msg::kBadInstallPages:
      pages(TManagerType::dmAfterBadInstall);
      break;
    case msg::kRebootPages:
      pages(TManagerType::dmReboot);
      break;
    case msg::kRegistrationPages:
      pages(TManagerType::dmRegistration);
      break;
    case msg::kFileStatus:
      if (managerType_ == TManagerType::dmDuringCopyFiles) {
        CopyStatus(check.operator()<TFileStatusParameter>("TFileStatusParameter"), nullptr);
      }
      break;
    case msg::kDataReceived:
      if (managerType_ == TManagerType::dmDuringCopyFiles) {
        CopyStatus(nullptr,
                   check.operator()<TDownloadStatusParameter>("TDownloadStatusParameter"));
      }
      break;
    case msg::kCloseCopyPages:
      if (managerType_ == TManagerType::dmDuringCopyFiles) CloseCopyPages();
      break;
    case msg::kNewDisk:
      if (managerType_ == TManagerType::dmChangeDisk) ShowChangeDisk(Param);
      break;
    default:
      break;
  }
  return result;
}

// --- TCustomBaseInstallDlg ---------------------------------------------------------------------

TCustomBaseInstallDlg::TCustomBaseInstallDlg(plat::TComponent* AOwner, TBIFList* Registry,
                                             const TManagerType* Stage)
    : TInstallObject(AOwner), registry_(Registry) {
  SetInstallTypes(TInstallTypeSet{itFull, itDefault, itCompact, itCustom});
  if (Stage != nullptr) SetDialogManager(FindDialogManager(*Stage));
}

namespace {

const std::vector<std::string> kPositionNames = {
    "qdpCenterLeft", "qdpCenter",   "qdpCenterRight", "qdpBottomLeft", "qdpBottomCenter",
    "qdpBottomRight", "qdpTopLeft", "qdpTopCenter",   "qdpTopRight"};

}  // namespace

const plat::TPropList& TDialogManager::PublishedProperties() const {
  using T = TDialogManager;
  static const plat::TPropList list =
      plat::TPublished<T>(TInstallObject::PublishedProperties())
          .Enumeration("ManagerType", &T::ManagerType, &T::SetManagerType,
                       {"dmBeforeInstall", "dmAfterGoodInstall", "dmAfterBadInstall",
                        "dmDuringCopyFiles", "dmChangeDisk", "dmReboot", "dmRegistration",
                        "dmUninstall"},
                       TManagerType::dmBeforeInstall)
          .Integer("Width", &T::Width, &T::SetWidth, 478)
          .Integer("Height", &T::Height, &T::SetHeight, 395)
          .Enumeration("Position", &T::Position, &T::SetPosition, kPositionNames, qdpCenter)
          .Integer("RelativeLeftOffset", &T::RelativeLeftOffset, &T::SetRelativeLeftOffset, 0)
          .Integer("RelativeTopOffset", &T::RelativeTopOffset, &T::SetRelativeTopOffset, 0);
  return list;
}

const plat::TPropList& TCustomBaseInstallDlg::PublishedProperties() const {
  using T = TCustomBaseInstallDlg;
  // Not the install object's Order, which places a helper in its container.
  static const plat::TPropList list =
      plat::TPublished<T>(TInstallContainer::PublishedProperties())
          .Component("Container", [](T& o) { return o.Container(); },
                     [](T& o, TInstallContainer* v) { o.SetContainer(v); })
          .Component("DialogManager", &T::DialogManager, &T::SetDialogManager)
          .Integer("Order", &T::Order, &T::SetOrder)
          .Boolean("AutoSetFont", &T::AutoSetFont, &T::SetAutoSetFont, true)
          .Boolean("AutoTranslate", &T::AutoTranslate, &T::SetAutoTranslate, true)
          .Boolean("OverrideMainTranslator", &T::OverrideMainTranslator,
                   &T::SetOverrideMainTranslator, false)
          .Enumeration("Position", &T::Position, &T::SetPosition, kPositionNames, qdpCenter)
          .Integer("RelativeLeftOffset", &T::RelativeLeftOffset, &T::SetRelativeLeftOffset, 0)
          .Integer("RelativeTopOffset", &T::RelativeTopOffset, &T::SetRelativeTopOffset, 0);
  return list;
}

TCustomBaseInstallDlg::~TCustomBaseInstallDlg() {
  if (registry_ != nullptr) registry_->RemoveDialog(this);
  if (manager_ != nullptr) manager_->RemoveDialog(this);
  for (TBaseQuillaneForm* form : QuillaneForms()) {
    if (auto* page = dynamic_cast<TBaseInstallForm*>(form); page != nullptr && page->DC() == this) {
      page->SetDC(nullptr);
    }
  }
}

void TCustomBaseInstallDlg::ComponentRemoved(plat::TComponent* AComponent) {
  TInstallObject::ComponentRemoved(AComponent);
  if (AComponent == manager_) manager_ = nullptr;
}

void TCustomBaseInstallDlg::SetDialogManager(TDialogManager* Value) {
  if (Value == manager_) return;
  if (Value != nullptr) Value->AddDialog(this);
  if (manager_ != nullptr) manager_->RemoveDialog(this);
  manager_ = Value;
}

void TCustomBaseInstallDlg::SetThemeBitmap(const plat::TPicture& Value) { theme_.Assign(&Value); }

void TCustomBaseInstallDlg::Translate() {
  if (form_ != nullptr) form_->TranslateDialog();
}

void TCustomBaseInstallDlg::AssignDialogProperties() {
  if (form_ == nullptr) {
    throw IException::CreateFmt(
        "Cannot AssignDialogProperties for %s because the Dialog is Nil", {Name()});
  }
  form_->SetAutoSetFont(autoSetFont_);
  form_->SetAutoTranslate(autoTranslate_);
  form_->SetContainer(Container());
  form_->SetOverrideMainTranslator(overrideMainTranslator_);
  form_->SetTranslateIntoLanguage(translateInto_);
  form_->SetDC(this);
  Translate();
}

bool TCustomBaseInstallDlg::Execute() {
  try {
    if (OnBeforeExecute) OnBeforeExecute(this);
    const bool result = ShowDialog();
    plat::Application()->ProcessMessages();
    if (OnAfterExecute) OnAfterExecute(this);
    return result;
  } catch (const plat::EAbort&) {
    return false;
  }
}

bool TCustomBaseInstallDlg::ShowDialog() {
  const TInstallFormClass make = GetFormClass();
  if (!CanShow() || !make) return true;
  std::unique_ptr<TBaseInstallForm> form(make(plat::Application()));
  form_ = form.get();
  struct TForget {
    TBaseInstallForm*& form;
    ~TForget() { form = nullptr; }
  } forget{form_};
  AssignDialogProperties();
  PlaceDialog(*form, position_, leftOffset_, topOffset_);
  if (form->ShowModal() != plat::mrOk) throw EAIUserAbort();
  return true;
}

int32_t TCustomBaseInstallDlg::InstallMessage(TInstallContainer* Sender, int32_t Code,
                                              plat::TObject* Param) {
  const int32_t result = TInstallObject::InstallMessage(Sender, Code, Param);
  if (manager_ == nullptr && Code != 0 && Code == StandAloneTrigger()) Execute();
  return result;
}

}  // namespace setup
