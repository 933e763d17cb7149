#pragma once
// The standard controls the setup program's forms use.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/forms/Controls.h"
#include "platform/rtl/Lists.h"

namespace plat {

// A string list that tells its control when it changes.
class TControlStrings : public TStringList {
 public:
  std::string ClassName() const override { return "TStrings"; }
};

// Text on a form; auto-sized to its caption unless AutoSize is off.
class TLabel : public TControl {
 public:
  explicit TLabel(TComponent* AOwner);
  std::string ClassName() const override { return "TLabel"; }
  const TPropList& PublishedProperties() const override;

  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment Value) { alignment_ = Value; }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool Value) { transparent_ = Value; }
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool Value) { wordWrap_ = Value; }
  void Paint(TCanvas& Canvas) override;

 protected:
  void AdjustSize() override;

 private:
  TAlignment alignment_ = taLeftJustify;
  bool transparent_ = false;
  bool wordWrap_ = false;
};

// A one-line edit. MaxLength (0: no limit) cuts typed and set text, in bytes
// at a character boundary; PasswordChar hides the text where it is shown.
class TEdit : public TWinControl {
 public:
  explicit TEdit(TComponent* AOwner);
  std::string ClassName() const override { return "TEdit"; }
  const TPropList& PublishedProperties() const override;

  void SetText(const std::string& Value) override;
  int32_t MaxLength() const { return maxLength_; }
  void SetMaxLength(int32_t Value);
  char PasswordChar() const { return passwordChar_; }
  void SetPasswordChar(char Value) { passwordChar_ = Value; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool Value) { readOnly_ = Value; }
  // The text as a person sees it (password characters in place of the text).
  std::string DisplayText() const;

  TNotifyEvent OnChange;
  // Fired by drivers after a key is typed into the edit.
  std::function<void(TObject* Sender, uint16_t& Key)> OnKeyUp;

 private:
  int32_t maxLength_ = 0;
  char passwordChar_ = 0;
  bool readOnly_ = false;
};

// Several lines of text; Text is the lines joined.
class TMemo : public TWinControl {
 public:
  explicit TMemo(TComponent* AOwner);
  std::string ClassName() const override { return "TMemo"; }
  const TPropList& PublishedProperties() const override;

  TStringList& Lines() { return lines_; }
  const TStringList& Lines() const { return lines_; }
  void SetText(const std::string& Value) override;
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool Value) { readOnly_ = Value; }
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool Value) { wordWrap_ = Value; }

 private:
  void LinesChanged();
  TControlStrings lines_;
  bool readOnly_ = false;
  bool wordWrap_ = true;
  bool syncing_ = false;
};

// A push button: a click fires OnClick and then, when ModalResult is set,
// gives the form that result. Default is the forward button (Enter), Cancel
// the one Escape presses.
class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* AOwner);
  std::string ClassName() const override { return "TButton"; }
  const TPropList& PublishedProperties() const override;

  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult Value) { modalResult_ = Value; }
  bool Default() const { return default_; }
  void SetDefault(bool Value) { default_ = Value; }
  bool Cancel() const { return cancel_; }
  void SetCancel(bool Value) { cancel_ = Value; }
  void Click() override;

 private:
  TModalResult modalResult_ = mrNone;
  bool default_ = false;
  bool cancel_ = false;
};

// A button with a picture.
class TBitBtn : public TButton {
 public:
  explicit TBitBtn(TComponent* AOwner) : TButton(AOwner) {}
  std::string ClassName() const override { return "TBitBtn"; }
  const TPropList& PublishedProperties() const override;
  TPicture& Glyph() { return glyph_; }

 private:
  TPicture glyph_;
};

// A check box: a click toggles Checked, then fires OnClick.
class TCheckBox : public TWinControl {
 public:
  explicit TCheckBox(TComponent* AOwner);
  std::string ClassName() const override { return "TCheckBox"; }
  const TPropList& PublishedProperties() const override;

  bool Checked() const { return checked_; }
  virtual void SetChecked(bool Value);
  void Click() override;

 private:
  bool checked_ = false;
};

// A radio button: checking one unchecks the radio buttons beside it (the
// same parent).
class TRadioButton : public TCheckBox {
 public:
  explicit TRadioButton(TComponent* AOwner) : TCheckBox(AOwner) {}
  std::string ClassName() const override { return "TRadioButton"; }
  void SetChecked(bool Value) override;
  void Click() override;
};

// Lists of items with one chosen (ItemIndex, -1 for none).
class TCustomListControl : public TWinControl {
 public:
  explicit TCustomListControl(TComponent* AOwner);
  const TPropList& PublishedProperties() const override;

  TStringList& Items() { return items_; }
  const TStringList& Items() const { return items_; }
  int32_t ItemIndex() const { return itemIndex_; }
  // Out of range gives -1. Fires OnChange when the choice changes.
  virtual void SetItemIndex(int32_t Value);

  TNotifyEvent OnChange;

 protected:
  virtual void ItemsChanged();

 private:
  TControlStrings items_;
  int32_t itemIndex_ = -1;
};

class TListBox : public TCustomListControl {
 public:
  explicit TListBox(TComponent* AOwner) : TCustomListControl(AOwner) {}
  std::string ClassName() const override { return "TListBox"; }
};

// A combo box: Text follows the chosen item.
class TComboBox : public TCustomListControl {
 public:
  explicit TComboBox(TComponent* AOwner) : TCustomListControl(AOwner) {}
  std::string ClassName() const override { return "TComboBox"; }
  void SetItemIndex(int32_t Value) override;
};

// A group of radio buttons given by its items.
class TRadioGroup : public TCustomListControl {
 public:
  explicit TRadioGroup(TComponent* AOwner) : TCustomListControl(AOwner) {}
  std::string ClassName() const override { return "TRadioGroup"; }
};

enum TPanelBevel : uint8_t { bvNone, bvLowered, bvRaised, bvSpace };

// A container with a caption.
class TPanel : public TWinControl {
 public:
  explicit TPanel(TComponent* AOwner);
  std::string ClassName() const override { return "TPanel"; }
  const TPropList& PublishedProperties() const override;

  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment Value) { alignment_ = Value; }
  TPanelBevel BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TPanelBevel Value) { bevelOuter_ = Value; }

 private:
  TAlignment alignment_ = taCenter;
  TPanelBevel bevelOuter_ = bvRaised;
};

class TImage : public TControl {
 public:
  explicit TImage(TComponent* AOwner);
  std::string ClassName() const override { return "TImage"; }
  const TPropList& PublishedProperties() const override;

  TPicture& Picture() { return picture_; }
  bool Stretch() const { return stretch_; }
  void SetStretch(bool Value) { stretch_ = Value; }

 private:
  TPicture picture_;
  bool stretch_ = false;
};

class TPageControl;

// One page of a page control: the page control is its parent.
class TTabSheet : public TWinControl {
 public:
  explicit TTabSheet(TComponent* AOwner);
  std::string ClassName() const override { return "TTabSheet"; }
  const TPropList& PublishedProperties() const override;

  TPageControl* PageControl() const;
  void SetPageControl(TPageControl* Value);
  int32_t PageIndex() const;
};

// Pages of which one, the active page, is visible.
class TPageControl : public TWinControl {
 public:
  explicit TPageControl(TComponent* AOwner);
  std::string ClassName() const override { return "TPageControl"; }
  const TPropList& PublishedProperties() const override;

  int32_t PageCount() const;
  TTabSheet* Pages(int32_t Index) const;
  TTabSheet* ActivePage() const { return activePage_; }
  void SetActivePage(TTabSheet* Value);
  int32_t ActivePageIndex() const;
  void SetActivePageIndex(int32_t Value);
  void Notification(TComponent* AComponent, TOperation Operation) override;

  TNotifyEvent OnChange;

 private:
  TTabSheet* activePage_ = nullptr;
};

// Tabs without pages: TabIndex chooses among Tabs.
class TTabControl : public TCustomListControl {
 public:
  explicit TTabControl(TComponent* AOwner) : TCustomListControl(AOwner) {}
  std::string ClassName() const override { return "TTabControl"; }
  const TPropList& PublishedProperties() const override;
  TStringList& Tabs() { return Items(); }
  int32_t TabIndex() const { return ItemIndex(); }
  void SetTabIndex(int32_t Value) { SetItemIndex(Value); }
};

// Position between Min and Max. Every change is reported to the
// application's driver, which keeps it in its transcript.
class TProgressBar : public TWinControl {
 public:
  explicit TProgressBar(TComponent* AOwner);
  std::string ClassName() const override { return "TProgressBar"; }
  const TPropList& PublishedProperties() const override;

  int32_t Min() const { return min_; }
  void SetMin(int32_t Value);
  int32_t Max() const { return max_; }
  void SetMax(int32_t Value);
  int32_t Position() const { return position_; }
  // Clamped to Min..Max.
  void SetPosition(int32_t Value);
  int32_t Step() const { return step_; }
  void SetStep(int32_t Value) { step_ = Value; }
  void StepIt() { SetPosition(position_ + step_); }
  void StepBy(int32_t Delta) { SetPosition(position_ + Delta); }
  // 0..100, from the position within Min..Max.
  int32_t Percent() const;

 private:
  int32_t min_ = 0;
  int32_t max_ = 100;
  int32_t position_ = 0;
  int32_t step_ = 10;
};

// A tree of folders shown by path. Who fills it gives Items (the folders
// that are listed, one path a line) and keeps them up to date as the
// selection moves; SelectedPath is the folder chosen, "" for none.
class TFolderTree : public TWinControl {
 public:
  explicit TFolderTree(TComponent* AOwner);
  std::string ClassName() const override { return "TFolderTree"; }

  TStringList& Items() { return items_; }
  const std::string& SelectedPath() const { return selectedPath_; }
  // Fires OnChange when the path differs.
  void SetSelectedPath(const std::string& Value);

  TNotifyEvent OnChange;

 private:
  TStringList items_;
  std::string selectedPath_;
};

// Registers the classes of this unit (and TForm's) for component text.
void RegisterStandardControls();

}  // namespace plat
