#pragma once
// Controls: the headless model of what a form shows. A control has a parent
// (the windowed control it sits on), bounds, a caption or text, a font, a
// colour, Enabled and Visible, and paints itself on a recording canvas.
//
// Rules the model keeps:
//  1. A control made with a windowed control as its owner gets that owner
//     as parent, so the nesting of component text is the nesting on screen.
//  2. A parent lists its children in the order they got it; TabOrder is the
//     position among the windowed children that take part in tabbing.
//  3. A control is Showing when it and every parent up to its form are
//     visible; it can take focus when Showing, enabled up the chain and a
//     windowed control.
//  4. Freeing a parent frees no child (the owner does); the children lose
//     their parent.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/forms/Graphics.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Published.h"

namespace plat {

class TWinControl;
class TCustomForm;

enum TAlign : uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };

// A form's modal result; the library's values.
using TModalResult = int32_t;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;
constexpr TModalResult mrAll = 8;
constexpr TModalResult mrNoToAll = 9;
constexpr TModalResult mrYesToAll = 10;
// "mrOk" for 1 and so on; the number for others.
std::string ModalResultName(TModalResult Value);
// The value of a name such as "mrOk" or "Ok" (ignoring case); mrNone when unknown.
TModalResult ModalResultByName(const std::string& Name);
const std::vector<std::pair<std::string, int64_t>>& ModalResultIdents();

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  std::string ClassName() const override { return "TControl"; }
  const TPropList& PublishedProperties() const override;

  TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* AParent);
  // The form this control sits on (itself for a form), or nullptr.
  TCustomForm* ParentForm() const;

  int32_t Left() const { return left_; }
  void SetLeft(int32_t Value) { SetBounds(Value, top_, width_, height_); }
  int32_t Top() const { return top_; }
  void SetTop(int32_t Value) { SetBounds(left_, Value, width_, height_); }
  int32_t Width() const { return width_; }
  void SetWidth(int32_t Value) { SetBounds(left_, top_, Value, height_); }
  int32_t Height() const { return height_; }
  void SetHeight(int32_t Value) { SetBounds(left_, top_, width_, Value); }
  virtual void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight);
  TRect ClientRect() const { return TRect{0, 0, width_, height_}; }
  TRect BoundsRect() const { return TRect{left_, top_, left_ + width_, top_ + height_}; }

  TAlign Align() const { return align_; }
  void SetAlign(TAlign Value);

  // Caption and Text are one string, as in the library.
  const std::string& Caption() const { return text_; }
  void SetCaption(const std::string& Value) { SetText(Value); }
  const std::string& Text() const { return text_; }
  virtual void SetText(const std::string& Value);

  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool Value);
  bool Visible() const { return visible_; }
  virtual void SetVisible(bool Value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Rule 3.
  bool Showing() const;
  bool EnabledChain() const;

  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }
  void SetFont(const TFont* Value) { font_.Assign(Value); }
  TColor Color() const { return color_; }
  void SetColor(TColor Value);
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool Value);

  bool AutoSize() const { return autoSize_; }
  virtual void SetAutoSize(bool Value);
  int32_t Tag() const { return tag_; }
  virtual void SetTag(int32_t Value) { tag_ = Value; }
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& Value) { hint_ = Value; }

  // What a click does: the OnClick event. Buttons add their modal result.
  virtual void Click();
  // Paints on a canvas of the control's size; the base paints nothing.
  virtual void Paint(TCanvas& Canvas);
  void Repaint() { Invalidate(); }
  virtual void Invalidate() {}

  TEventBindings& EventBindings() { return bindings_; }
  TNotifyEvent OnClick;

 protected:
  // A change of text or font; auto-sizing controls resize.
  virtual void TextChanged();
  virtual void AdjustSize() {}
  // Called when the parent's font changes and ParentFont is set.
  void ParentFontChanged();

 private:
  friend class TWinControl;

  TWinControl* parent_ = nullptr;
  int32_t left_ = 0;
  int32_t top_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  TAlign align_ = alNone;
  std::string text_;
  bool enabled_ = true;
  bool visible_ = true;
  TFont font_;
  TColor color_ = clBtnFace;
  bool parentFont_ = true;
  bool autoSize_ = false;
  int32_t tag_ = 0;
  std::string hint_;
  TEventBindings bindings_;
};

// A control that holds other controls and takes part in tabbing.
class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;

  std::string ClassName() const override { return "TWinControl"; }
  const TPropList& PublishedProperties() const override;

  int32_t ControlCount() const { return static_cast<int32_t>(controls_.size()); }
  TControl* Controls(int32_t Index) const { return controls_.at(static_cast<size_t>(Index)); }

  // Rule 2: position among the parent's windowed children; setting moves the
  // control there (clamped), -1 leaves it out of tabbing order changes.
  int32_t TabOrder() const;
  void SetTabOrder(int32_t Value);
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool Value) { tabStop_ = Value; }
  // Windowed children in tab order, descending into containers, that can
  // take focus and have TabStop.
  std::vector<TWinControl*> TabList() const;
  bool CanFocus() const;
  bool Focused() const;
  void SetFocus();

  // Places alClient/alTop/... children inside this control's client area.
  void Realign();
  void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) override;

  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;

 protected:
  void InsertControl(TControl* AControl);
  void RemoveControl(TControl* AControl);

 private:
  friend class TControl;

  std::vector<TControl*> controls_;
  std::vector<TWinControl*> tabOrder_;
  bool tabStop_ = false;
};

// Every control below Root (its children, their children...) in order.
std::vector<TControl*> AllControls(const TWinControl& Root);

}  // namespace plat
