#include "platform/forms/StdCtrls.h"

#include <algorithm>

#include "platform/forms/Forms.h"
#include "platform/forms/FormsDriver.h"
#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Exceptions.h"

namespace plat {

namespace {

const std::vector<std::string> kAlignments = {"taLeftJustify", "taRightJustify", "taCenter"};

// Cuts Text to at most Max bytes without splitting a character.
std::string CutAtCharacter(const std::string& text, int32_t max) {
  if (max <= 0 || static_cast<int32_t>(text.size()) <= max) return text;
  size_t end = static_cast<size_t>(max);
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

// ---------------------------------------------------------------- TLabel

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner) {
  SetAutoSize(true);
}

const TPropList& TLabel::PublishedProperties() const {
  static const TPropList list =
      TPublished<TLabel>(TControl::PublishedProperties())
          .Boolean("AutoSize", &TLabel::AutoSize, &TLabel::SetAutoSize, true)
          .Enumeration("Alignment", &TLabel::Alignment, &TLabel::SetAlignment, kAlignments,
                       taLeftJustify)
          .Boolean("Transparent", &TLabel::Transparent, &TLabel::SetTransparent, false)
          .Boolean("WordWrap", &TLabel::WordWrap, &TLabel::SetWordWrap, false);
  return list;
}

void TLabel::AdjustSize() {
  if (wordWrap_) return;
  const int32_t size = Font().Size();
  TControl::SetBounds(Left(), Top(), MeasureTextWidth(Caption(), size), MeasureTextHeight(size));
}

void TLabel::Paint(TCanvas& Canvas) {
  Canvas.Font().Assign(&Font());
  int32_t x = 0;
  const int32_t width = Canvas.TextWidth(Caption());
  if (alignment_ == taRightJustify) x = Width() - width;
  if (alignment_ == taCenter) x = (Width() - width) / 2;
  if (!transparent_) {
    Canvas.SetBrushColor(Color());
    Canvas.FillRect(ClientRect());
  }
  Canvas.TextOut(x, 0, Caption());
}

// ---------------------------------------------------------------- TEdit

TEdit::TEdit(TComponent* AOwner) : TWinControl(AOwner) {
  SetTabStop(true);
  SetColor(clWindow);
}

const TPropList& TEdit::PublishedProperties() const {
  static const TPropList list =
      TPublished<TEdit>(TWinControl::PublishedProperties())
          .String("Text", &TEdit::Text, &TEdit::SetText)
          .Integer("MaxLength", &TEdit::MaxLength, &TEdit::SetMaxLength, 0)
          .String(
              "PasswordChar",
              [](TEdit& e) { return e.PasswordChar() == 0 ? std::string() : std::string(1, e.PasswordChar()); },
              [](TEdit& e, const std::string& v) { e.SetPasswordChar(v.empty() ? 0 : v[0]); })
          .Boolean("ReadOnly", &TEdit::ReadOnly, &TEdit::SetReadOnly, false)
          .Boolean("TabStop", &TEdit::TabStop, &TEdit::SetTabStop, true)
          .NamedInteger("Color", &TEdit::Color, &TEdit::SetColor, clWindow, ColorIdents())
          .Event("OnChange", &TEdit::OnChange, &TEdit::EventBindings);
  return list;
}

void TEdit::SetText(const std::string& Value) {
  const std::string cut = CutAtCharacter(Value, maxLength_);
  if (cut == Text()) return;
  TWinControl::SetText(cut);
  if (OnChange) OnChange(this);
}

void TEdit::SetMaxLength(int32_t Value) {
  maxLength_ = std::max(0, Value);
}

std::string TEdit::DisplayText() const {
  if (passwordChar_ == 0) return Text();
  size_t characters = 0;
  for (char c : Text()) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  }
  return std::string(characters, passwordChar_);
}

// ---------------------------------------------------------------- TMemo

TMemo::TMemo(TComponent* AOwner) : TWinControl(AOwner) {
  SetTabStop(true);
  SetColor(clWindow);
  lines_.OnChange = [this](TObject*) { LinesChanged(); };
}

const TPropList& TMemo::PublishedProperties() const {
  static const TPropList list =
      TPublished<TMemo>(TWinControl::PublishedProperties())
          .Strings("Lines", [](TMemo& m) -> TStrings& { return m.Lines(); })
          .Boolean("ReadOnly", &TMemo::ReadOnly, &TMemo::SetReadOnly, false)
          .Boolean("WordWrap", &TMemo::WordWrap, &TMemo::SetWordWrap, true)
          .Boolean("TabStop", &TMemo::TabStop, &TMemo::SetTabStop, true)
          .NamedInteger("Color", &TMemo::Color, &TMemo::SetColor, clWindow, ColorIdents());
  return list;
}

void TMemo::SetText(const std::string& Value) {
  if (syncing_) return;
  lines_.SetText(Value);
}

void TMemo::LinesChanged() {
  syncing_ = true;
  TWinControl::SetText(lines_.Text());
  syncing_ = false;
}

// ---------------------------------------------------------------- buttons

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner) {
  SetTabStop(true);
}

const TPropList& TButton::PublishedProperties() const {
  static const TPropList list =
      TPublished<TButton>(TWinControl::PublishedProperties())
          .NamedInteger("ModalResult", &TButton::ModalResult, &TButton::SetModalResult, mrNone,
                        ModalResultIdents())
          .Boolean("Default", &TButton::Default, &TButton::SetDefault, false)
          .Boolean("Cancel", &TButton::Cancel, &TButton::SetCancel, false)
          .Boolean("TabStop", &TButton::TabStop, &TButton::SetTabStop, true);
  return list;
}

void TButton::Click() {
  TCustomForm* form = ParentForm();
  if (form != nullptr) form->SetModalResult(modalResult_);
  TWinControl::Click();
}

const TPropList& TBitBtn::PublishedProperties() const {
  static const TPropList list = TPublished<TBitBtn>(TButton::PublishedProperties())
                                    .Persistent("Glyph", [](TBitBtn& b) -> TPicture& { return b.Glyph(); });
  return list;
}

TCheckBox::TCheckBox(TComponent* AOwner) : TWinControl(AOwner) {
  SetTabStop(true);
}

const TPropList& TCheckBox::PublishedProperties() const {
  static const TPropList list = TPublished<TCheckBox>(TWinControl::PublishedProperties())
                                    .Boolean("Checked", &TCheckBox::Checked, &TCheckBox::SetChecked, false)
                                    .Boolean("TabStop", &TCheckBox::TabStop, &TCheckBox::SetTabStop, true);
  return list;
}

void TCheckBox::SetChecked(bool Value) {
  checked_ = Value;
}

void TCheckBox::Click() {
  SetChecked(!checked_);
  TWinControl::Click();
}

void TRadioButton::SetChecked(bool Value) {
  TCheckBox::SetChecked(Value);
  if (!Value || Parent() == nullptr) return;
  for (int32_t i = 0; i < Parent()->ControlCount(); ++i) {
    auto* other = dynamic_cast<TRadioButton*>(Parent()->Controls(i));
    if (other != nullptr && other != this) other->TCheckBox::SetChecked(false);
  }
}

void TRadioButton::Click() {
  SetChecked(true);
  TControl::Click();
}

// ---------------------------------------------------------------- lists

TCustomListControl::TCustomListControl(TComponent* AOwner) : TWinControl(AOwner) {
  SetTabStop(true);
  items_.OnChange = [this](TObject*) { ItemsChanged(); };
}

const TPropList& TCustomListControl::PublishedProperties() const {
  static const TPropList list =
      TPublished<TCustomListControl>(TWinControl::PublishedProperties())
          .Strings("Items", [](TCustomListControl& c) -> TStrings& { return c.Items(); })
          .Integer("ItemIndex", &TCustomListControl::ItemIndex, &TCustomListControl::SetItemIndex, -1)
          .Boolean("TabStop", &TCustomListControl::TabStop, &TCustomListControl::SetTabStop, true)
          .Event("OnChange", &TCustomListControl::OnChange, &TCustomListControl::EventBindings);
  return list;
}

void TCustomListControl::SetItemIndex(int32_t Value) {
  if (Value < 0 || Value >= items_.Count()) Value = -1;
  if (Value == itemIndex_) return;
  itemIndex_ = Value;
  if (OnChange && !ComponentState().Contains(csLoading)) OnChange(this);
}

void TCustomListControl::ItemsChanged() {
  // Items are read after ItemIndex only when the text says so; keep a
  // choice that still fits.
  if (itemIndex_ >= items_.Count()) itemIndex_ = -1;
}

void TComboBox::SetItemIndex(int32_t Value) {
  TCustomListControl::SetItemIndex(Value);
  if (ItemIndex() >= 0) SetText(Items().Strings(ItemIndex()));
}

// ---------------------------------------------------------------- containers

TPanel::TPanel(TComponent* AOwner) : TWinControl(AOwner) {}

const TPropList& TPanel::PublishedProperties() const {
  static const TPropList list =
      TPublished<TPanel>(TWinControl::PublishedProperties())
          .Enumeration("Alignment", &TPanel::Alignment, &TPanel::SetAlignment, kAlignments, taCenter)
          .Enumeration("BevelOuter", &TPanel::BevelOuter, &TPanel::SetBevelOuter,
                       {"bvNone", "bvLowered", "bvRaised", "bvSpace"}, bvRaised);
  return list;
}

TImage::TImage(TComponent* AOwner) : TControl(AOwner) {}

const TPropList& TImage::PublishedProperties() const {
  static const TPropList list =
      TPublished<TImage>(TControl::PublishedProperties())
          .Persistent("Picture", [](TImage& i) -> TPicture& { return i.Picture(); })
          .Boolean("Stretch", &TImage::Stretch, &TImage::SetStretch, false);
  return list;
}

TTabSheet::TTabSheet(TComponent* AOwner) : TWinControl(AOwner) {
  SetAlign(alClient);
}

const TPropList& TTabSheet::PublishedProperties() const {
  static const TPropList list =
      TPublished<TTabSheet>(TWinControl::PublishedProperties())
          .Component("PageControl", &TTabSheet::PageControl, &TTabSheet::SetPageControl);
  return list;
}

TPageControl* TTabSheet::PageControl() const {
  return dynamic_cast<TPageControl*>(Parent());
}

void TTabSheet::SetPageControl(TPageControl* Value) {
  SetParent(Value);
}

int32_t TTabSheet::PageIndex() const {
  TPageControl* pages = PageControl();
  if (pages == nullptr) return -1;
  for (int32_t i = 0; i < pages->PageCount(); ++i) {
    if (pages->Pages(i) == this) return i;
  }
  return -1;
}

TPageControl::TPageControl(TComponent* AOwner) : TWinControl(AOwner) {
  SetTabStop(true);
}

const TPropList& TPageControl::PublishedProperties() const {
  static const TPropList list =
      TPublished<TPageControl>(TWinControl::PublishedProperties())
          .Component("ActivePage", &TPageControl::ActivePage, &TPageControl::SetActivePage)
          .Event("OnChange", &TPageControl::OnChange, &TPageControl::EventBindings);
  return list;
}

int32_t TPageControl::PageCount() const {
  int32_t count = 0;
  for (int32_t i = 0; i < ControlCount(); ++i) {
    if (dynamic_cast<TTabSheet*>(Controls(i)) != nullptr) ++count;
  }
  return count;
}

TTabSheet* TPageControl::Pages(int32_t Index) const {
  for (int32_t i = 0; i < ControlCount(); ++i) {
    if (auto* sheet = dynamic_cast<TTabSheet*>(Controls(i))) {
      if (Index-- == 0) return sheet;
    }
  }
  throw EListError("Page index out of bounds");
}

void TPageControl::SetActivePage(TTabSheet* Value) {
  if (Value != nullptr && Value->PageControl() != this) {
    throw EInvalidOperation("Page " + Value->Name() + " is not on " + Name());
  }
  if (Value == activePage_) return;
  activePage_ = Value;
  if (Value != nullptr) Value->FreeNotification(this);
  for (int32_t i = 0; i < PageCount(); ++i) Pages(i)->SetVisible(Pages(i) == Value);
  if (OnChange && !ComponentState().Contains(csLoading)) OnChange(this);
}

int32_t TPageControl::ActivePageIndex() const {
  return activePage_ == nullptr ? -1 : activePage_->PageIndex();
}

void TPageControl::SetActivePageIndex(int32_t Value) {
  SetActivePage(Value >= 0 && Value < PageCount() ? Pages(Value) : nullptr);
}

void TPageControl::Notification(TComponent* AComponent, TOperation Operation) {
  TWinControl::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == activePage_) activePage_ = nullptr;
}

const TPropList& TTabControl::PublishedProperties() const {
  static const TPropList list =
      TPublished<TTabControl>(TWinControl::PublishedProperties())
          .Strings("Tabs", [](TTabControl& c) -> TStrings& { return c.Tabs(); })
          .Integer("TabIndex", &TTabControl::TabIndex, &TTabControl::SetTabIndex, -1)
          .Event("OnChange", &TTabControl::OnChange, &TTabControl::EventBindings);
  return list;
}

// ---------------------------------------------------------------- progress

TProgressBar::TProgressBar(TComponent* AOwner) : TWinControl(AOwner) {}

const TPropList& TProgressBar::PublishedProperties() const {
  static const TPropList list =
      TPublished<TProgressBar>(TWinControl::PublishedProperties())
          .Integer("Min", &TProgressBar::Min, &TProgressBar::SetMin, 0)
          .Integer("Max", &TProgressBar::Max, &TProgressBar::SetMax, 100)
          .Integer("Position", &TProgressBar::Position, &TProgressBar::SetPosition, 0)
          .Integer("Step", &TProgressBar::Step, &TProgressBar::SetStep, 10);
  return list;
}

void TProgressBar::SetMin(int32_t Value) {
  min_ = Value;
  if (max_ < min_) max_ = min_;
  SetPosition(position_);
}

void TProgressBar::SetMax(int32_t Value) {
  max_ = Value;
  if (min_ > max_) min_ = max_;
  SetPosition(position_);
}

void TProgressBar::SetPosition(int32_t Value) {
  Value = std::clamp(Value, min_, max_);
  if (Value == position_) return;
  position_ = Value;
  if (!ComponentState().Contains(csLoading)) Application()->Driver().Progress(*this);
}

int32_t TProgressBar::Percent() const {
  if (max_ == min_) return 0;
  return static_cast<int32_t>(static_cast<int64_t>(position_ - min_) * 100 / (max_ - min_));
}

// ---------------------------------------------------------------- folder tree

TFolderTree::TFolderTree(TComponent* AOwner) : TWinControl(AOwner) {
  SetTabStop(true);
  SetColor(clWindow);
}

void TFolderTree::SetSelectedPath(const std::string& Value) {
  if (Value == selectedPath_) return;
  selectedPath_ = Value;
  if (OnChange) OnChange(this);
}

// ---------------------------------------------------------------- registration

void RegisterStandardControls() {
  RegisterClass<TLabel>("TLabel");
  RegisterClass<TEdit>("TEdit");
  RegisterClass<TMemo>("TMemo");
  RegisterClass<TButton>("TButton");
  RegisterClass<TBitBtn>("TBitBtn");
  RegisterClass<TCheckBox>("TCheckBox");
  RegisterClass<TRadioButton>("TRadioButton");
  RegisterClass<TListBox>("TListBox");
  RegisterClass<TComboBox>("TComboBox");
  RegisterClass<TRadioGroup>("TRadioGroup");
  RegisterClass<TPanel>("TPanel");
  RegisterClass<TImage>("TImage");
  RegisterClass<TTabSheet>("TTabSheet");
  RegisterClass<TPageControl>("TPageControl");
  RegisterClass<TTabControl>("TTabControl");
  RegisterClass<TProgressBar>("TProgressBar");
  RegisterClass<TFolderTree>("TFolderTree");
}

}  // namespace plat
