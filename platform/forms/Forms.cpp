#include "platform/forms/Forms.h"

#include <cstdio>
#include <iostream>

#include "platform/forms/FormsDriver.h"
#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace plat {

namespace {

// The one application object: the library keeps it as a global.
std::unique_ptr<TApplication>& TheApplication() {
  static std::unique_ptr<TApplication> application;
  return application;
}

// Keeps a form on the application's modal stack while its loop runs.
class ModalScope {
 public:
  ModalScope(std::vector<TCustomForm*>& forms, TCustomForm& form, bool& modal)
      : forms_(forms), modal_(modal) {
    forms_.push_back(&form);
    modal_ = true;
  }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;
  ~ModalScope() {
    forms_.pop_back();
    modal_ = false;
  }

 private:
  std::vector<TCustomForm*>& forms_;
  bool& modal_;
};

}  // namespace

// ---------------------------------------------------------------- TCustomForm

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  SetVisible(false);
  Font().OnChange = [this](TObject*) { TextChanged(); };
}

TCustomForm::~TCustomForm() {
  activeControl_ = nullptr;
}

const TPropList& TCustomForm::PublishedProperties() const {
  static const TPropList list =
      TPublished<TCustomForm>(TWinControl::PublishedProperties())
          .Boolean("Visible", &TCustomForm::Visible, &TCustomForm::SetVisible, false)
          .Component("ActiveControl", &TCustomForm::ActiveControl, &TCustomForm::SetActiveControl)
          .Enumeration("Position", &TCustomForm::Position, &TCustomForm::SetPosition,
                       {"poDesigned", "poDefault", "poScreenCenter", "poMainFormCenter"}, poDesigned)
          .Enumeration("BorderStyle", &TCustomForm::BorderStyle, &TCustomForm::SetBorderStyle,
                       {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow"}, bsSizeable)
          .Integer("ClientWidth", &TCustomForm::ClientWidth, &TCustomForm::SetClientWidth, 0)
          .Integer("ClientHeight", &TCustomForm::ClientHeight, &TCustomForm::SetClientHeight, 0)
          .Event("OnCreate", &TCustomForm::OnCreate, &TCustomForm::EventBindings)
          .Event("OnShow", &TCustomForm::OnShow, &TCustomForm::EventBindings)
          .Event("OnHide", &TCustomForm::OnHide, &TCustomForm::EventBindings)
          .Event("OnActivate", &TCustomForm::OnActivate, &TCustomForm::EventBindings)
          .Event("OnCloseQuery", &TCustomForm::OnCloseQuery, &TCustomForm::EventBindings)
          .Event("OnClose", &TCustomForm::OnClose, &TCustomForm::EventBindings);
  return list;
}

void TCustomForm::LoadFormText(const std::vector<std::string>& Texts) {
  RegisterStandardControls();
  ReadComponentTexts(Texts, *this);
  if (OnCreate) OnCreate(this);
}

void TCustomForm::Loaded() {
  TWinControl::Loaded();
  Realign();
}

TModalResult TCustomForm::ShowModal() {
  if (modal_) throw EInvalidOperation("Cannot make a visible window modal");
  if (!Enabled()) throw EInvalidOperation("Cannot make a disabled window modal");
  TApplication& application = *Application();
  TFormsDriver& driver = application.Driver();
  modalResult_ = mrNone;
  {
    ModalScope scope(application.modalForms_, *this, modal_);
    DoShow();
    driver.FormShown(*this);
    try {
      while (true) {
        if (application.Terminated()) {
          if (modalResult_ == mrNone) modalResult_ = mrCancel;
        }
        if (modalResult_ != mrNone) {
          if (application.Terminated() || CloseQuery()) break;
          modalResult_ = mrNone;
        }
        driver.Step(*this);
      }
    } catch (...) {
      DoHide();
      throw;
    }
    DoHide();
  }
  driver.FormClosed(*this, modalResult_);
  return modalResult_;
}

void TCustomForm::DoShow() {
  SetVisible(true);
  if (OnShow) OnShow(this);
  if (activeControl_ == nullptr || !activeControl_->CanFocus()) {
    const auto tabs = TabList();
    activeControl_ = tabs.empty() ? nullptr : tabs.front();
  }
  if (OnActivate) OnActivate(this);
}

void TCustomForm::DoHide() {
  SetVisible(false);
  if (OnHide) OnHide(this);
}

bool TCustomForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

void TCustomForm::Close() {
  if (modal_) {
    if (modalResult_ == mrNone) modalResult_ = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  if (OnClose) OnClose(this, action);
  if (action == caNone) return;
  TApplication* application = Application();
  if (application->MainForm() == this) {
    application->Terminate();
  }
  if (Visible()) {
    DoHide();
    application->Driver().FormClosed(*this, mrNone);
  }
}

void TCustomForm::SetActiveControl(TWinControl* Value) {
  if (Value == activeControl_) return;
  if (Value != nullptr && !ComponentState().Contains(csLoading) && Visible() && !Value->CanFocus()) {
    throw EInvalidOperation("Cannot focus a disabled or invisible window");
  }
  TWinControl* old = activeControl_;
  activeControl_ = Value;
  if (Value != nullptr) Value->FreeNotification(this);
  if (old != nullptr && old->OnExit) old->OnExit(old);
  if (Value != nullptr && Value->OnEnter) Value->OnEnter(Value);
}

void TCustomForm::SelectNext(bool GoForward) {
  const auto tabs = TabList();
  if (tabs.empty()) return;
  const auto it = std::find(tabs.begin(), tabs.end(), activeControl_);
  const auto count = static_cast<std::ptrdiff_t>(tabs.size());
  std::ptrdiff_t index = it == tabs.end() ? (GoForward ? -1 : 0) : it - tabs.begin();
  index = ((index + (GoForward ? 1 : -1)) % count + count) % count;
  SetActiveControl(tabs[static_cast<size_t>(index)]);
}

TButton* TCustomForm::DefaultButton() const {
  for (TControl* control : AllControls(*this)) {
    auto* button = dynamic_cast<TButton*>(control);
    if (button != nullptr && button->Default() && button->Showing() && button->EnabledChain()) {
      return button;
    }
  }
  return nullptr;
}

TButton* TCustomForm::CancelButton() const {
  for (TControl* control : AllControls(*this)) {
    auto* button = dynamic_cast<TButton*>(control);
    if (button != nullptr && button->Cancel() && button->Showing() && button->EnabledChain()) {
      return button;
    }
  }
  return nullptr;
}

TControl* TCustomForm::FindControl(const std::string& Name) const {
  for (TControl* control : AllControls(*this)) {
    if (SameText(control->Name(), Name)) return control;
  }
  return nullptr;
}

void TCustomForm::PaintTo(TCanvas& Canvas) {
  // Controls paint in their own coordinates; the display list keeps them
  // apart by order, which is enough for checks of what a control draws.
  for (TControl* control : AllControls(*this)) {
    if (control->Showing()) control->Paint(Canvas);
  }
}

void TCustomForm::Notification(TComponent* AComponent, TOperation Operation) {
  TWinControl::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == activeControl_) activeControl_ = nullptr;
}

// ---------------------------------------------------------------- TApplication

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {
  RegisterStandardControls();
}

TApplication::~TApplication() {
  Destroying();
  // Forms go first, while the driver they may report to still exists.
  while (ComponentCount() > 0) {
    std::unique_ptr<TComponent> form(Components(ComponentCount() - 1));
    RemoveComponent(form.get());
  }
}

void TApplication::Run() {
  if (mainForm_ == nullptr) return;
  TFormsDriver& driver = Driver();
  mainForm_->DoShow();
  driver.FormShown(*mainForm_);
  while (!terminated_ && mainForm_ != nullptr && mainForm_->Visible()) {
    try {
      driver.Step(*mainForm_);
      if (mainForm_->ModalResult() != mrNone) mainForm_->Close();
    } catch (const EDriverError&) {
      throw;
    } catch (const std::exception& e) {
      HandleException(e);
    }
  }
}

void TApplication::ProcessMessages() {
  Driver().ProcessMessages();
}

void TApplication::HandleException(const std::exception& E) {
  if (dynamic_cast<const EAbort*>(&E) != nullptr) return;
  if (OnException) {
    OnException(this, E);
    return;
  }
  std::fprintf(stderr, "%s\n", E.what());
  std::fflush(stderr);
}

TFormsDriver& TApplication::Driver() {
  if (!driver_) driver_ = CreateDriverFromEnvironment();
  return *driver_;
}

void TApplication::SetDriver(std::unique_ptr<TFormsDriver> Value) {
  driver_ = std::move(Value);
}

TCustomForm* TApplication::ActiveForm() const {
  return modalForms_.empty() ? mainForm_ : modalForms_.back();
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == mainForm_) mainForm_ = nullptr;
}

TApplication* Application() {
  auto& application = TheApplication();
  if (!application) application = std::make_unique<TApplication>(nullptr);
  return application.get();
}

void FreeApplication() {
  TheApplication().reset();
}

}  // namespace plat
