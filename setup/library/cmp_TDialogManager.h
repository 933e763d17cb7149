#pragma once
// The wizard of the install run: pages, the modal frame that runs them, the
// dialog managers that turn the install's manager messages into pages, and
// the dialog components that put a page under a manager or show it alone.
//
// A page is a form of a registered page class. At each stage of the run the
// install broadcasts a manager message; the dialog manager of that stage
// (an install object, a helper of the root install) builds a modal frame
// with one page per registry entry that belongs to it, ordered by Order,
// and runs it: Next, Previous, pages that skip themselves, Cancel after the
// install's ConfirmUserAbort. Copy pages are shown without a modal loop
// while files are extracted; the change-disk page asks for a volume's path.
//
// Rules the framework keeps:
//  1. A frame or a stand-alone page that ends with modal result 3 (mrAbort)
//     raises EAIUserAbort: the run ends as a user abort.
//  2. A registry entry with a dialog component shows its page only under
//     that component's manager and when the component's CanShow is true; an
//     entry without one shows its page when the page's own manager (found
//     by the page's stage when it is made) is the one running.
//  3. The frame closes only when finishing (Next past the last page) or
//     with modal result 3.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms/Forms.h"
#include "platform/forms/StdCtrls.h"
#include "setup/library/cmp_InstallUI.h"
#include "setup/library/cmp_TInstallContainer.h"
#include "setup/library/cmp_TTranslator.h"

namespace setup {

class TDialogManager;
class TCustomBaseInstallDlg;
class TBaseFormContainer;

namespace msg {
inline constexpr int32_t kRegistrationPages = -962;
}  // namespace msg

// The stage a manager serves. Scoped: the install UI's moments use some of
// the same names.
enum class TManagerType : uint8_t {
  dmBeforeInstall,
  dmAfterGoodInstall,
  dmAfterBadInstall,
  dmDuringCopyFiles,
  dmChangeDisk,
  dmReboot,
  dmRegistration,
  dmUninstall
};

enum TQuillaneDialogPosition : uint8_t {
  qdpCenterLeft,
  qdpCenter,
  qdpCenterRight,
  qdpBottomLeft,
  qdpBottomCenter,
  qdpBottomRight,
  qdpTopLeft,
  qdpTopCenter,
  qdpTopRight
};

// The screen dialogs are placed on (the emulated desktop).
struct TDialogScreen {
  int32_t Width = 1024;
  int32_t Height = 768;
  int32_t CaptionHeight = 19;
};
const TDialogScreen& DialogScreen();
// Places Form by P with the offsets X and Y on the screen.
void PlaceDialog(plat::TControl& Form, TQuillaneDialogPosition P, int32_t X, int32_t Y,
                 const TDialogScreen& Screen = DialogScreen());

// The base of every installer form: translation and fonts on request.
class TBaseQuillaneForm : public plat::TForm {
 public:
  explicit TBaseQuillaneForm(plat::TComponent* AOwner);
  ~TBaseQuillaneForm() override;
  std::string ClassName() const override { return "TBaseQuillaneForm"; }

  bool AutoSetFont() const { return autoSetFont_; }
  void SetAutoSetFont(bool Value) { autoSetFont_ = Value; }
  bool AutoTranslate() const { return autoTranslate_; }
  void SetAutoTranslate(bool Value) { autoTranslate_ = Value; }
  bool OverrideMainTranslator() const { return overrideMainTranslator_; }
  void SetOverrideMainTranslator(bool Value) { overrideMainTranslator_ = Value; }
  TTrevLanguage TranslateIntoLanguage() const { return translateInto_; }
  void SetTranslateIntoLanguage(TTrevLanguage Value) { translateInto_ = Value; }
  // The install container the form serves (not owned).
  TInstallContainer* Container() const { return container_; }
  void SetContainer(TInstallContainer* Value) { container_ = Value; }
  int32_t CharSet() const { return 0; }

  virtual void TranslateDialog() { Translate(); }
  virtual void PrepareDialog() {}
  // Fonts and texts through the translator (the form's own language with
  // OverrideMainTranslator), then lets the application process messages.
  virtual void Translate();

 private:
  bool autoSetFont_ = true;
  bool autoTranslate_ = true;
  bool overrideMainTranslator_ = false;
  TTrevLanguage translateInto_ = tlUser;
  TInstallContainer* container_ = nullptr;
};

// Every installer form while it exists, in creation order.
const std::vector<TBaseQuillaneForm*>& QuillaneForms();

// A wizard page. Made with a frame as owner it sits in the frame's display
// panel, without border, hidden until it is the current page.
class TBaseInstallForm : public TBaseQuillaneForm {
 public:
  // Stage: the manager this page belongs to is the one of that stage.
  TBaseInstallForm(plat::TComponent* AOwner, TManagerType Stage);
  ~TBaseInstallForm() override;
  std::string ClassName() const override { return "TBaseInstallForm"; }

  TCustomBaseInstallDlg* DC() const { return dc_; }
  void SetDC(TCustomBaseInstallDlg* Value);
  TDialogManager* DM() const { return dm_; }
  void SetDM(TDialogManager* Value);
  int32_t Order() const { return order_; }
  void SetOrder(int32_t Value) { order_ = Value; }
  // The frame the page is in, or nullptr when it stands alone.
  TBaseFormContainer* FormContainer() const { return frame_; }

  // Every page before the current one skips itself (true alone).
  virtual bool IsFirstPage();
  // The current page is the last (true alone).
  virtual bool IsLastPage();
  virtual void LeavePage() {}
  // The frame's modal result becomes 3, or the page's own when alone.
  virtual void AbortDialog();
  // The frame's Next and Previous; alone, Next closes the page with mrOk.
  virtual void NextPage();
  virtual void PreviousPage();
  virtual void ActivatePage();
  virtual bool SkipPage() { return false; }
  // Asks the install's ConfirmUserAbort (true without an install); on true
  // acts as AbortDialog.
  virtual bool CancelDialog();

 protected:
  // A page standing alone is activated when it is shown.
  void DoShow() override;

 private:
  TCustomBaseInstallDlg* dc_ = nullptr;
  TDialogManager* dm_ = nullptr;
  int32_t order_ = 0;
  TBaseFormContainer* frame_ = nullptr;
};

// A page shown while files are copied.
class TBaseDuringCopyForm : public TBaseInstallForm {
 public:
  using TBaseInstallForm::TBaseInstallForm;
  std::string ClassName() const override { return "TBaseDuringCopyForm"; }
  // With ConfirmUserAbort: the archive and a running download stop. The
  // modal result becomes 3 in any case.
  virtual void CancelCopy();
  // One of the two is given.
  virtual void Status(const TFileStatusParameter* /*File*/,
                      const TDownloadStatusParameter* /*Download*/) {}
};

// The page that asks for the next volume of the archive.
class TBaseChangeDiskForm : public TBaseInstallForm {
 public:
  using TBaseInstallForm::TBaseInstallForm;
  std::string ClassName() const override { return "TBaseChangeDiskForm"; }
  // With ConfirmUserAbort the modal result becomes 3.
  virtual void Cancel();
  TDiskParameter* Disk() const { return disk_; }
  void SetDisk(TDiskParameter* Value) { disk_ = Value; }

 private:
  TDiskParameter* disk_ = nullptr;
};

// The modal wizard frame: tabs, the display panel holding the pages.
class TBaseFormContainer : public plat::TForm {
 public:
  explicit TBaseFormContainer(plat::TComponent* AOwner);
  ~TBaseFormContainer() override;
  std::string ClassName() const override { return "TBaseFormContainer"; }

  plat::TTabControl* Tabs() const { return tabs_; }
  plat::TPanel* DisplayPanel() const { return displayPanel_; }
  int32_t PageCount() const { return static_cast<int32_t>(pages_.size()); }
  TBaseInstallForm* Pages(int32_t Index) const { return pages_.at(static_cast<size_t>(Index)); }
  int32_t CurrentPage() const { return current_; }
  bool Finishing() const { return finishing_; }

  virtual void NextPage();
  virtual void PreviousPage();
  virtual void SetDialogPosition(TQuillaneDialogPosition P, int32_t X, int32_t Y);

  // Makes the pages of the running manager; the page count.
  int32_t BuildPages();
  // Shows page Index, passing over pages that skip themselves in the
  // direction given; false (nothing changed) when it runs out of pages.
  bool ShowPage(int32_t Index, bool Forward);

  void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) override;

 protected:
  void DoShow() override;

 private:
  void PlacePages();

  plat::TTabControl* tabs_;
  plat::TPanel* displayPanel_;
  std::vector<TBaseInstallForm*> pages_;
  int32_t current_ = -1;
  bool finishing_ = false;
  bool selecting_ = false;
};

// What makes a page: a form class.
using TInstallFormClass = std::function<TBaseInstallForm*(plat::TComponent* Owner)>;

// A registry of page classes.
struct TBIFEntry {
  std::string FormClass;
  TInstallFormClass Create;
  TCustomBaseInstallDlg* Dialog = nullptr;
  int32_t Value = 0;
};

class TBIFList {
 public:
  void Add(const std::string& FormClass, TInstallFormClass Create, TCustomBaseInstallDlg* Dialog);
  // Removes the entries of that class without a component.
  void RemoveClass(const std::string& FormClass);
  // Removes the entries of that component.
  void RemoveDialog(const TCustomBaseInstallDlg* Dialog);
  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
  // Raises IException for an index out of range.
  const TBIFEntry& Items(int32_t Index) const;

 private:
  std::vector<TBIFEntry> entries_;
};

TBIFList& PageRegistry();
TBIFList& CopyPageRegistry();
TBIFList& ChangeDiskRegistry();

template <class F>
void RegisterInstallForm(TBIFList& Registry, const std::string& FormClass) {
  Registry.Add(FormClass, [](plat::TComponent* owner) -> TBaseInstallForm* { return new F(owner); },
               nullptr);
}

// The manager of a stage: the first dialog manager of that type, or nullptr.
TDialogManager* FindDialogManager(TManagerType Type);

class TDialogManager : public TInstallObject {
 public:
  explicit TDialogManager(plat::TComponent* AOwner);
  ~TDialogManager() override;
  std::string ClassName() const override { return "TDialogManager"; }
  const plat::TPropList& PublishedProperties() const override;
  int32_t RegisteredType() const override { return 9000; }

  TManagerType ManagerType() const { return managerType_; }
  void SetManagerType(TManagerType Value) { managerType_ = Value; }
  int32_t Width() const { return width_; }
  void SetWidth(int32_t Value) { width_ = Value; }
  int32_t Height() const { return height_; }
  void SetHeight(int32_t Value) { height_ = Value; }
  TQuillaneDialogPosition Position() const { return position_; }
  void SetPosition(TQuillaneDialogPosition Value) { position_ = Value; }
  int32_t RelativeLeftOffset() const { return leftOffset_; }
  void SetRelativeLeftOffset(int32_t Value) { leftOffset_ = Value; }
  int32_t RelativeTopOffset() const { return topOffset_; }
  void SetRelativeTopOffset(int32_t Value) { topOffset_ = Value; }
  // The frame while the manager runs its pages.
  TBaseFormContainer* FormContainer() const { return frame_; }
  const std::vector<TCustomBaseInstallDlg*>& Dialogs() const { return dialogs_; }
  const std::vector<TBaseDuringCopyForm*>& CopyPages() const { return copyPages_; }

  virtual void RunDialogs();
  virtual void ShowChangeDisk(plat::TObject* Param);
  virtual void AddDialog(TCustomBaseInstallDlg* Dialog);
  virtual void RemoveDialog(TCustomBaseInstallDlg* Dialog);

  int32_t InstallMessage(TInstallContainer* Sender, int32_t Code, plat::TObject* Param) override;

  // The manager whose pages are being built and shown, or nullptr.
  static TDialogManager* Running();

 private:
  void CopyStatus(const TFileStatusParameter* File, const TDownloadStatusParameter* Download);
  void CloseCopyPages();

  TManagerType managerType_ = TManagerType::dmBeforeInstall;
  int32_t width_ = 478;
  int32_t height_ = 395;
  TQuillaneDialogPosition position_ = qdpCenter;
  int32_t leftOffset_ = 0;
  int32_t topOffset_ = 0;
  TBaseFormContainer* frame_ = nullptr;
  std::vector<TCustomBaseInstallDlg*> dialogs_;
  std::vector<TBaseDuringCopyForm*> copyPages_;
};

// A dialog component: puts its page under a manager, or shows it alone.
class TCustomBaseInstallDlg : public TInstallObject {
 public:
  // Registry: where the component enters itself with its page class; Stage:
  // the manager it takes when made (none for a component without stage).
  TCustomBaseInstallDlg(plat::TComponent* AOwner, TBIFList* Registry, const TManagerType* Stage);
  ~TCustomBaseInstallDlg() override;
  std::string ClassName() const override { return "TBaseInstallDlg"; }
  // Order here is the page's place among its manager's pages.
  const plat::TPropList& PublishedProperties() const override;
  int32_t RegisteredType() const override { return 9000; }

  bool AutoSetFont() const { return autoSetFont_; }
  void SetAutoSetFont(bool Value) { autoSetFont_ = Value; }
  bool AutoTranslate() const { return autoTranslate_; }
  void SetAutoTranslate(bool Value) { autoTranslate_ = Value; }
  TDialogManager* DialogManager() const { return manager_; }
  int32_t Order() const { return dlgOrder_; }
  void SetOrder(int32_t Value) { dlgOrder_ = Value; }
  bool OverrideMainTranslator() const { return overrideMainTranslator_; }
  void SetOverrideMainTranslator(bool Value) { overrideMainTranslator_ = Value; }
  plat::TPicture& ThemeBitmap() { return theme_; }
  TTrevLanguage TranslateIntoLanguage() const { return translateInto_; }
  void SetTranslateIntoLanguage(TTrevLanguage Value) { translateInto_ = Value; }
  TQuillaneDialogPosition Position() const { return position_; }
  void SetPosition(TQuillaneDialogPosition Value) { position_ = Value; }
  int32_t RelativeLeftOffset() const { return leftOffset_; }
  void SetRelativeLeftOffset(int32_t Value) { leftOffset_ = Value; }
  int32_t RelativeTopOffset() const { return topOffset_; }
  void SetRelativeTopOffset(int32_t Value) { topOffset_ = Value; }
  // The page this component made or was given, or nullptr.
  TBaseInstallForm* Form() const { return form_; }
  void SetForm(TBaseInstallForm* Value) { form_ = Value; }

  // Joins the new manager's dialogs and leaves the old one's.
  virtual void SetDialogManager(TDialogManager* Value);
  virtual void SetThemeBitmap(const plat::TPicture& Value);
  virtual void Translate();
  // Hands the component's settings to its page ("Cannot AssignDialogProperties
  // for %s because the Dialog is Nil" without one).
  virtual void AssignDialogProperties();
  // OnBeforeExecute, ShowDialog, OnAfterExecute; false on EAbort.
  virtual bool Execute();
  // Shows the page alone: true for mrOk; another result raises EAIUserAbort.
  virtual bool ShowDialog();
  virtual TInstallFormClass GetFormClass() const = 0;
  virtual bool CanShow() { return true; }
  // The manager message that shows the page alone when the component has no
  // manager (0: none).
  virtual int32_t StandAloneTrigger() const { return 0; }

  int32_t InstallMessage(TInstallContainer* Sender, int32_t Code, plat::TObject* Param) override;

  plat::TNotifyEvent OnBeforeExecute;
  plat::TNotifyEvent OnAfterExecute;

 protected:
  void ComponentRemoved(plat::TComponent* AComponent) override;

 private:
  friend class TDialogManager;

  bool autoSetFont_ = true;
  bool autoTranslate_ = true;
  TDialogManager* manager_ = nullptr;
  int32_t dlgOrder_ = 0;
  bool overrideMainTranslator_ = false;
  plat::TPicture theme_;
  TTrevLanguage translateInto_ = tlUser;
  TQuillaneDialogPosition position_ = qdpCenter;
  int32_t leftOffset_ = 0;
  int32_t topOffset_ = 0;
  TBaseInstallForm* form_ = nullptr;
  TBIFList* registry_;
};

}  // namespace setup
