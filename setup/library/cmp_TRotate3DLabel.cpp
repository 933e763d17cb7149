#include "setup/library/cmp_TRotate3DLabel.h"

#include <cmath>
#include <numbers>

#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Published.h"

namespace setup {

namespace {

TRotate3DLabel*& CurrentLabel() {
  static TRotate3DLabel* current = nullptr;
  return current;
}

}  // namespace

// ---------------------------------------------------------------- TLabelStyle

const plat::TPropList& TLabelStyle::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TLabelStyle>()
          .Integer("Angle", &TLabelStyle::Angle, &TLabelStyle::SetAngle, 0)
          .Enumeration("AStyle3D", &TLabelStyle::AStyle3D, &TLabelStyle::SetAStyle3D,
                       {"A3dNormal", "A3dResit", "A3dRaised", "A3dShadowed"}, A3dRaised)
          .NamedInteger("AShadeRightBottom", &TLabelStyle::AShadeRightBottom,
                        &TLabelStyle::SetAShadeRightBottom, 8421504, plat::ColorIdents())
          .NamedInteger("AShadeLeftTop", &TLabelStyle::AShadeLeftTop, &TLabelStyle::SetAShadeLeftTop,
                        16777215, plat::ColorIdents())
          .Boolean("AShadeLTSet", &TLabelStyle::AShadeLTSet, &TLabelStyle::SetAShadeLTSet, true)
          .Integer("AHShadeOffSet", &TLabelStyle::AHShadeOffSet, &TLabelStyle::SetAHShadeOffSet, 5)
          .Integer("AVShadeOffSet", &TLabelStyle::AVShadeOffSet, &TLabelStyle::SetAVShadeOffSet, -5);
  return list;
}

void TLabelStyle::Assign(const plat::TPersistent* Source) {
  if (const auto* other = dynamic_cast<const TLabelStyle*>(Source)) {
    angle_ = other->angle_;
    style_ = other->style_;
    shadeRightBottom_ = other->shadeRightBottom_;
    shadeLeftTop_ = other->shadeLeftTop_;
    rememberedLeftTop_ = other->rememberedLeftTop_;
    shadeLTSet_ = other->shadeLTSet_;
    hOffset_ = other->hOffset_;
    vOffset_ = other->vOffset_;
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

void TLabelStyle::Changed() {
  if (OnChange) OnChange(this);
}

void TLabelStyle::SetAngle(int32_t Value) {
  angle_ = Value;
  Changed();
}

void TLabelStyle::SetAStyle3D(T3DEffectShort Value) {
  style_ = Value;
  Changed();
}

void TLabelStyle::SetAShadeRightBottom(plat::TColor Value) {
  shadeRightBottom_ = Value;
  Changed();
}

void TLabelStyle::SetAShadeLeftTop(plat::TColor Value) {
  shadeLeftTop_ = Value;
  Changed();
}

void TLabelStyle::SetAShadeLTSet(bool Value) {
  if (Value) {
    rememberedLeftTop_ = shadeLeftTop_;
    shadeLeftTop_ = plat::clWhite;
  } else {
    shadeLeftTop_ = rememberedLeftTop_;
  }
  shadeLTSet_ = Value;
  Changed();
}

void TLabelStyle::SetAHShadeOffSet(int32_t Value) {
  hOffset_ = Value;
  Changed();
}

void TLabelStyle::SetAVShadeOffSet(int32_t Value) {
  vOffset_ = Value;
  Changed();
}

// ---------------------------------------------------------------- TRotate3DLabel

TRotate3DLabel::TRotate3DLabel(plat::TComponent* AOwner) : TLabel(AOwner) {
  SetTransparent(true);
  SetAutoSize(false);
  Font().SetName("Arial");
  Font().SetStyle(plat::TFontStyles{plat::fsBold});
  style_.OnChange = [this](plat::TObject*) { Invalidate(); };
  if (AOwner != nullptr && AOwner->ComponentState().Contains(plat::csDesigning) &&
      CurrentLabel() == nullptr) {
    SetTag(-1);
  }
}

TRotate3DLabel::~TRotate3DLabel() {
  if (CurrentLabel() == this) CurrentLabel() = nullptr;
}

const plat::TPropList& TRotate3DLabel::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TRotate3DLabel>(TLabel::PublishedProperties())
          .Boolean("AutoSize", &TRotate3DLabel::AutoSize, &TRotate3DLabel::SetAutoSize, false)
          .Boolean("Transparent", &TRotate3DLabel::Transparent, &TRotate3DLabel::SetTransparent, true)
          .Persistent("LabelStyle", [](TRotate3DLabel& l) -> TLabelStyle& { return l.LabelStyle(); })
          .Boolean("MyTransparent", &TRotate3DLabel::MyTransparent, &TRotate3DLabel::SetMyTransparent,
                   true);
  return list;
}

void TRotate3DLabel::SetTag(int32_t Value) {
  TRotate3DLabel*& current = CurrentLabel();
  if (Value == -1) {
    if (current != nullptr && current != this) current->TLabel::SetTag(0);
    current = this;
  } else if (current == this) {
    current = nullptr;
  }
  TLabel::SetTag(Value);
}

TRotate3DLabel* TRotate3DLabel::Current() {
  return CurrentLabel();
}

void TRotate3DLabel::Paint(plat::TCanvas& Canvas) {
  Canvas.Font().Assign(&Font());
  Canvas.Font().SetEscapement(style_.Angle() * 10);
  const std::string& text = Caption();
  const double radians = style_.Angle() * std::numbers::pi / 180.0;
  const double c = std::cos(radians);
  const double s = std::sin(radians);
  const int32_t width = Canvas.TextWidth(text);
  const int32_t height = Canvas.TextHeight(text);
  // Along the rotated baseline the text runs (c, -s); "down" in the text is
  // (s, c). Start so that the text box is centred on the control's centre.
  double x = Width() / 2.0 - width / 2.0 * c - height / 2.0 * s;
  const double y = Height() / 2.0 + width / 2.0 * s - height / 2.0 * c;
  if (Alignment() == plat::taLeftJustify) x = 0;
  if (Alignment() == plat::taRightJustify) x = Width() - width;
  const auto at = [&](double u, double v) {
    return plat::TPoint{static_cast<int32_t>(std::lround(x + u * c + v * s)),
                        static_cast<int32_t>(std::lround(y - u * s + v * c))};
  };
  T3DEffectShort effect = style_.AStyle3D();
  if (!myTransparent_) {
    effect = A3dNormal;
    Canvas.SetBrushColor(Color());
    Canvas.Polygon({at(-5, -3), at(width + 5, -3), at(width + 5, height + 4), at(-5, height + 4)});
  }
  const plat::TPoint base = at(0, 0);
  const plat::TColor textColor = Font().Color();
  auto shade = [&](plat::TColor color, int32_t dx, int32_t dy) {
    Canvas.Font().SetColor(color);
    Canvas.TextOut(base.X + dx, base.Y + dy, text);
  };
  switch (effect) {
    case A3dResit:
      shade(style_.AShadeLeftTop(), -1, -1);
      shade(style_.AShadeRightBottom(), 1, 1);
      break;
    case A3dRaised:
      shade(style_.AShadeLeftTop(), 1, 1);
      shade(style_.AShadeRightBottom(), -1, -1);
      break;
    case A3dShadowed:
      shade(style_.AShadeRightBottom(), style_.AHShadeOffSet(), style_.AVShadeOffSet());
      break;
    case A3dNormal:
      break;
  }
  Canvas.Font().SetColor(textColor);
  Canvas.TextOut(base.X, base.Y, text);
}

void RegisterRotate3DLabel() {
  plat::RegisterClass<TRotate3DLabel>("TRotate3DLabel");
}

}  // namespace setup
