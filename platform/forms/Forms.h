#pragma once
// Forms and the application object.
//
// A form is a windowed control at the top of its controls. ShowModal runs a
// modal loop: the application's driver (see FormsDriver.h) is told the form
// is shown and then asked for one user action at a time until the form has
// a modal result; a button with a ModalResult, Close, or code setting
// ModalResult ends the loop. Modal loops nest: an action may show another
// form modally, which runs its own loop inside the outer one.
//
// Form classes of the setup program derive from TForm, list their event
// handlers in their method table (the names component text binds), and read
// their text with LoadFormText.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms/Controls.h"
#include "platform/forms/StdCtrls.h"

namespace plat {

class TFormsDriver;

enum TCloseAction : uint8_t { caNone, caHide, caFree, caMinimize };
enum TPosition : uint8_t { poDesigned, poDefault, poScreenCenter, poMainFormCenter };
enum TFormBorderStyle : uint8_t { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow };

class TCustomForm : public TWinControl, public IMethodOwner {
 public:
  explicit TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;

  std::string ClassName() const override { return "TCustomForm"; }
  const TPropList& PublishedProperties() const override;
  const TMethodTable& PublishedMethods() const override { return methods_; }

  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult Value) { modalResult_ = Value; }
  // Shows the form and runs its modal loop (see the top of this file);
  // returns the modal result. Raises EInvalidOperation when the form is
  // shown modally already or cannot be shown (disabled).
  TModalResult ShowModal();
  bool Modal() const { return modal_; }
  // Asks OnCloseQuery; then a modal form gets mrCancel (unless it has a
  // result already), any other form is hidden with OnClose's action, and
  // closing the main form ends the application.
  void Close();
  bool CloseQuery();

  // The control that has the focus (nullptr for none). Setting raises
  // EInvalidOperation "Cannot focus a disabled or invisible window" for a
  // control that cannot take focus while the form is showing.
  TWinControl* ActiveControl() const { return activeControl_; }
  void SetActiveControl(TWinControl* Value);
  // Moves the focus to the next (or previous) control of the tab order.
  void SelectNext(bool GoForward);
  // The Default (or Cancel) button that is showing and enabled, or nullptr.
  TButton* DefaultButton() const;
  TButton* CancelButton() const;

  TPosition Position() const { return position_; }
  void SetPosition(TPosition Value) { position_ = Value; }
  TFormBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle Value) { borderStyle_ = Value; }
  int32_t ClientWidth() const { return Width(); }
  void SetClientWidth(int32_t Value) { SetWidth(Value); }
  int32_t ClientHeight() const { return Height(); }
  void SetClientHeight(int32_t Value) { SetHeight(Value); }

  // A control anywhere on the form by name (ignoring case), or nullptr.
  TControl* FindControl(const std::string& Name) const;
  // Paints every showing control of the form, each translated to its place.
  void PaintTo(TCanvas& Canvas);

  void Notification(TComponent* AComponent, TOperation Operation) override;
  void Loaded() override;

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnActivate;
  std::function<void(TObject* Sender, bool& CanClose)> OnCloseQuery;
  std::function<void(TObject* Sender, TCloseAction& Action)> OnClose;

 protected:
  friend class TApplication;

  // The handlers component text may bind (see Published.h).
  TMethodTable& Methods() { return methods_; }
  // Reads the form's component text, the farthest ancestor's text first, and
  // then fires OnCreate.
  void LoadFormText(const std::vector<std::string>& Texts);
  virtual void DoShow();
  virtual void DoHide();

 private:
  TMethodTable methods_;
  TModalResult modalResult_ = mrNone;
  bool modal_ = false;
  TWinControl* activeControl_ = nullptr;
  TPosition position_ = poDesigned;
  TFormBorderStyle borderStyle_ = bsSizeable;
};

class TForm : public TCustomForm {
 public:
  explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
  std::string ClassName() const override { return "TForm"; }
};

// The application: its forms, the driver that shows them, the main loop.
// There is one, `Application`, made on first use.
class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  std::string ClassName() const override { return "TApplication"; }

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& Value) { title_ = Value; }

  // Makes a form owned by the application; the first becomes the main form.
  template <class T>
  T* CreateForm() {
    T* form = new T(this);
    if (mainForm_ == nullptr) mainForm_ = form;
    return form;
  }
  TCustomForm* MainForm() const { return mainForm_; }
  void SetMainForm(TCustomForm* Value) { mainForm_ = Value; }

  // Shows the main form and hands actions to the driver until the main form
  // closes or Terminate is called. An exception escaping an action goes to
  // HandleException and the loop goes on; a driver that cannot go on
  // (EDriverError) ends the loop with its exception.
  void Run();
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  // Lets the driver act between steps of long work (a scripted Cancel).
  void ProcessMessages();
  // Reports an exception: OnException when set, else "<message>" a line on
  // standard error. EAbort is silent.
  void HandleException(const std::exception& E);
  std::function<void(TObject* Sender, const std::exception& E)> OnException;

  // The driver; made from the environment (see FormsDriver.h) on first use.
  TFormsDriver& Driver();
  // Replaces the driver (tests); the application keeps it.
  void SetDriver(std::unique_ptr<TFormsDriver> Value);

  // The forms shown modally, innermost last.
  const std::vector<TCustomForm*>& ModalForms() const { return modalForms_; }
  // The innermost modal form, else the main form.
  TCustomForm* ActiveForm() const;

  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  friend class TCustomForm;

  std::string title_;
  TCustomForm* mainForm_ = nullptr;
  bool terminated_ = false;
  std::unique_ptr<TFormsDriver> driver_;
  std::vector<TCustomForm*> modalForms_;
};

// The application object of the program, made on first call.
TApplication* Application();
// Frees the application object and its forms (at exit, and between tests).
void FreeApplication();

}  // namespace plat
