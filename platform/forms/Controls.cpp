#include "platform/forms/Controls.h"

#include <algorithm>

#include "platform/forms/Forms.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace plat {

namespace {

const std::vector<std::pair<std::string, TModalResult>>& ModalResults() {
  static const std::vector<std::pair<std::string, TModalResult>> names = {
      {"mrNone", mrNone},   {"mrOk", mrOk},         {"mrCancel", mrCancel},
      {"mrAbort", mrAbort}, {"mrRetry", mrRetry},   {"mrIgnore", mrIgnore},
      {"mrYes", mrYes},     {"mrNo", mrNo},         {"mrAll", mrAll},
      {"mrNoToAll", mrNoToAll}, {"mrYesToAll", mrYesToAll},
  };
  return names;
}

}  // namespace

std::string ModalResultName(TModalResult Value) {
  for (const auto& item : ModalResults()) {
    if (item.second == Value) return item.first;
  }
  return std::to_string(Value);
}

TModalResult ModalResultByName(const std::string& Name) {
  for (const auto& item : ModalResults()) {
    if (SameText(item.first, Name) || SameText(item.first.substr(2), Name)) return item.second;
  }
  return mrNone;
}

const std::vector<std::pair<std::string, int64_t>>& ModalResultIdents() {
  static const std::vector<std::pair<std::string, int64_t>> idents = [] {
    std::vector<std::pair<std::string, int64_t>> list;
    for (const auto& item : ModalResults()) list.emplace_back(item.first, item.second);
    return list;
  }();
  return idents;
}

// ---------------------------------------------------------------- TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {
  font_.OnChange = [this](TObject*) {
    parentFont_ = false;
    TextChanged();
  };
  if (auto* parent = dynamic_cast<TWinControl*>(AOwner)) SetParent(parent);
}

TControl::~TControl() {
  if (parent_ != nullptr) parent_->RemoveControl(this);
}

const TPropList& TControl::PublishedProperties() const {
  static const TPropList list =
      TPublished<TControl>(TComponent::PublishedProperties())
          .Integer("Left", &TControl::Left, &TControl::SetLeft, 0)
          .Integer("Top", &TControl::Top, &TControl::SetTop, 0)
          .Integer("Width", &TControl::Width, &TControl::SetWidth, 0)
          .Integer("Height", &TControl::Height, &TControl::SetHeight, 0)
          .Enumeration("Align", &TControl::Align, &TControl::SetAlign,
                       {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"}, alNone)
          .String("Caption", &TControl::Caption, &TControl::SetCaption)
          .Boolean("Enabled", &TControl::Enabled, &TControl::SetEnabled, true)
          .Boolean("Visible", &TControl::Visible, &TControl::SetVisible, true)
          .NamedInteger("Color", &TControl::Color, &TControl::SetColor, clBtnFace, ColorIdents())
          .Persistent("Font", [](TControl& c) -> TFont& { return c.Font(); })
          .Boolean("ParentFont", &TControl::ParentFont, &TControl::SetParentFont, true)
          .Boolean("AutoSize", &TControl::AutoSize, &TControl::SetAutoSize, false)
          .Integer("Tag", &TControl::Tag, &TControl::SetTag, 0)
          .String("Hint", &TControl::Hint, &TControl::SetHint)
          .Event("OnClick", &TControl::OnClick, &TControl::EventBindings);
  return list;
}

void TControl::SetParent(TWinControl* AParent) {
  if (AParent == parent_) return;
  for (TWinControl* p = AParent; p != nullptr; p = p->parent_) {
    if (p == this) throw EInvalidOperation("A control cannot be its own parent");
  }
  if (parent_ != nullptr) parent_->RemoveControl(this);
  if (AParent != nullptr) AParent->InsertControl(this);
  if (parentFont_ && parent_ != nullptr) ParentFontChanged();
}

TCustomForm* TControl::ParentForm() const {
  const TControl* control = this;
  while (control != nullptr) {
    if (auto* form = dynamic_cast<const TCustomForm*>(control)) return const_cast<TCustomForm*>(form);
    control = control->parent_;
  }
  return nullptr;
}

void TControl::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  left_ = ALeft;
  top_ = ATop;
  width_ = std::max(0, AWidth);
  height_ = std::max(0, AHeight);
  if (parent_ != nullptr && align_ != alNone && !ComponentState().Contains(csLoading)) {
    parent_->Realign();
  }
}

void TControl::SetAlign(TAlign Value) {
  align_ = Value;
  if (parent_ != nullptr) parent_->Realign();
}

void TControl::SetText(const std::string& Value) {
  if (Value == text_) return;
  text_ = Value;
  TextChanged();
}

void TControl::SetEnabled(bool Value) {
  enabled_ = Value;
}

void TControl::SetVisible(bool Value) {
  visible_ = Value;
}

bool TControl::Showing() const {
  for (const TControl* c = this; c != nullptr; c = c->parent_) {
    if (!c->visible_) return false;
  }
  return true;
}

bool TControl::EnabledChain() const {
  for (const TControl* c = this; c != nullptr; c = c->parent_) {
    if (!c->enabled_) return false;
  }
  return true;
}

void TControl::SetColor(TColor Value) {
  color_ = Value;
}

void TControl::SetParentFont(bool Value) {
  parentFont_ = Value;
  if (Value && parent_ != nullptr) ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (!parentFont_ || parent_ == nullptr) return;
  TNotifyEvent saved = std::move(font_.OnChange);
  font_.OnChange = nullptr;
  font_.Assign(&parent_->Font());
  font_.OnChange = std::move(saved);
  TextChanged();
}

void TControl::SetAutoSize(bool Value) {
  autoSize_ = Value;
  if (Value) AdjustSize();
}

void TControl::TextChanged() {
  if (autoSize_) AdjustSize();
  if (auto* win = dynamic_cast<TWinControl*>(this)) {
    for (TControl* child : win->controls_) child->ParentFontChanged();
  }
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::Paint(TCanvas&) {}

// ---------------------------------------------------------------- TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {
  // TControl's constructor gave this control its parent before it was a
  // TWinControl, so the parent could not yet see it is one.
  if (Parent() != nullptr) Parent()->tabOrder_.push_back(this);
}

TWinControl::~TWinControl() {
  for (TControl* child : controls_) child->parent_ = nullptr;
  controls_.clear();
  tabOrder_.clear();
}

const TPropList& TWinControl::PublishedProperties() const {
  static const TPropList list =
      TPublished<TWinControl>(TControl::PublishedProperties())
          .Integer("TabOrder", &TWinControl::TabOrder, &TWinControl::SetTabOrder, -1)
          .Boolean("TabStop", &TWinControl::TabStop, &TWinControl::SetTabStop, false)
          .Event("OnEnter", &TWinControl::OnEnter, &TWinControl::EventBindings)
          .Event("OnExit", &TWinControl::OnExit, &TWinControl::EventBindings);
  return list;
}

void TWinControl::InsertControl(TControl* AControl) {
  controls_.push_back(AControl);
  AControl->parent_ = this;
  if (auto* win = dynamic_cast<TWinControl*>(AControl)) tabOrder_.push_back(win);
}

void TWinControl::RemoveControl(TControl* AControl) {
  controls_.erase(std::remove(controls_.begin(), controls_.end(), AControl), controls_.end());
  tabOrder_.erase(std::remove(tabOrder_.begin(), tabOrder_.end(), AControl), tabOrder_.end());
  AControl->parent_ = nullptr;
}

int32_t TWinControl::TabOrder() const {
  if (Parent() == nullptr) return -1;
  const auto& order = Parent()->tabOrder_;
  const auto it = std::find(order.begin(), order.end(), this);
  return it == order.end() ? -1 : static_cast<int32_t>(it - order.begin());
}

void TWinControl::SetTabOrder(int32_t Value) {
  if (Parent() == nullptr || Value < 0) return;
  auto& order = Parent()->tabOrder_;
  order.erase(std::remove(order.begin(), order.end(), this), order.end());
  const size_t at = std::min(static_cast<size_t>(Value), order.size());
  order.insert(order.begin() + static_cast<std::ptrdiff_t>(at), this);
}

std::vector<TWinControl*> TWinControl::TabList() const {
  std::vector<TWinControl*> list;
  for (TWinControl* child : tabOrder_) {
    if (!child->Visible() || !child->Enabled()) continue;
    if (child->TabStop()) list.push_back(child);
    for (TWinControl* inner : child->TabList()) list.push_back(inner);
  }
  return list;
}

bool TWinControl::CanFocus() const {
  return Showing() && EnabledChain();
}

bool TWinControl::Focused() const {
  const TCustomForm* form = ParentForm();
  return form != nullptr && form->ActiveControl() == this;
}

void TWinControl::SetFocus() {
  TCustomForm* form = ParentForm();
  if (form == nullptr) throw EInvalidOperation("Control " + Name() + " has no parent window");
  form->SetActiveControl(this);
}

void TWinControl::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  const bool resized = AWidth != Width() || AHeight != Height();
  TControl::SetBounds(ALeft, ATop, AWidth, AHeight);
  if (resized) Realign();
}

void TWinControl::Realign() {
  TRect area = ClientRect();
  auto place = [&](TAlign which) {
    for (TControl* c : controls_) {
      if (c->align_ != which || !c->Visible()) continue;
      switch (which) {
        case alTop:
          c->left_ = area.Left, c->top_ = area.Top, c->width_ = area.Right - area.Left;
          area.Top += c->height_;
          break;
        case alBottom:
          c->left_ = area.Left, c->width_ = area.Right - area.Left;
          c->top_ = area.Bottom - c->height_;
          area.Bottom -= c->height_;
          break;
        case alLeft:
          c->left_ = area.Left, c->top_ = area.Top, c->height_ = area.Bottom - area.Top;
          area.Left += c->width_;
          break;
        case alRight:
          c->top_ = area.Top, c->height_ = area.Bottom - area.Top;
          c->left_ = area.Right - c->width_;
          area.Right -= c->width_;
          break;
        case alClient:
          c->left_ = area.Left, c->top_ = area.Top;
          c->width_ = std::max(0, area.Right - area.Left);
          c->height_ = std::max(0, area.Bottom - area.Top);
          break;
        case alNone:
          break;
      }
      if (auto* win = dynamic_cast<TWinControl*>(c)) win->Realign();
    }
  };
  for (TAlign which : {alTop, alBottom, alLeft, alRight, alClient}) place(which);
}

std::vector<TControl*> AllControls(const TWinControl& Root) {
  std::vector<TControl*> all;
  for (int32_t i = 0; i < Root.ControlCount(); ++i) {
    TControl* child = Root.Controls(i);
    all.push_back(child);
    if (auto* win = dynamic_cast<TWinControl*>(child)) {
      for (TControl* inner : AllControls(*win)) all.push_back(inner);
    }
  }
  return all;
}

}  // namespace plat
