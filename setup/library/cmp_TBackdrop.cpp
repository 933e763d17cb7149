#include "setup/library/cmp_TBackdrop.h"

#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Published.h"

namespace setup {

namespace {

TBackdrop*& CurrentBackdrop() {
  static TBackdrop* current = nullptr;
  return current;
}

plat::TColor Blend(plat::TColor from, plat::TColor to, int32_t n, int32_t steps) {
  auto channel = [&](uint8_t a, uint8_t b) { return a + plat::MulDiv(n, b - a, steps); };
  return plat::RGB(channel(plat::GetRValue(from), plat::GetRValue(to)),
                   channel(plat::GetGValue(from), plat::GetGValue(to)),
                   channel(plat::GetBValue(from), plat::GetBValue(to)));
}

}  // namespace

TBackdrop::TBackdrop(plat::TComponent* AOwner) : TPanel(AOwner) {
  SetAlign(plat::alClient);
  SetBevelOuter(plat::bvNone);
  if (AOwner != nullptr && AOwner->ComponentState().Contains(plat::csDesigning) &&
      CurrentBackdrop() == nullptr) {
    SetTag(-1);
  }
}

TBackdrop::~TBackdrop() {
  if (CurrentBackdrop() == this) CurrentBackdrop() = nullptr;
}

const plat::TPropList& TBackdrop::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TBackdrop>(TPanel::PublishedProperties())
          .Enumeration("Align", &TBackdrop::Align, &TBackdrop::SetAlign,
                       {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"}, plat::alClient)
          .Enumeration("Direction", &TBackdrop::Direction, &TBackdrop::SetDirection,
                       {"bdUp", "bdDown", "bdLeft", "bdRight", "bdHorzIn", "bdHorzOut", "bdVertIn",
                        "bdVertOut"},
                       bdUp)
          .NamedInteger("StartColor", &TBackdrop::StartColor, &TBackdrop::SetStartColor, 16711680,
                        plat::ColorIdents())
          .NamedInteger("EndColor", &TBackdrop::EndColor, &TBackdrop::SetEndColor, 0, plat::ColorIdents());
  return list;
}

void TBackdrop::SetTag(int32_t Value) {
  TBackdrop*& current = CurrentBackdrop();
  if (Value == -1) {
    if (current != nullptr && current != this) current->TPanel::SetTag(0);
    current = this;
  } else if (current == this) {
    current = nullptr;
  }
  TPanel::SetTag(Value);
}

TBackdrop* TBackdrop::Current() {
  return CurrentBackdrop();
}

void TBackdrop::Paint(plat::TCanvas& Canvas) {
  const bool horizontal = direction_ == bdUp || direction_ == bdDown || direction_ == bdHorzIn ||
                          direction_ == bdHorzOut;
  const bool mirrored = direction_ >= bdHorzIn;
  const bool forward = direction_ == bdUp || direction_ == bdLeft || direction_ == bdHorzOut ||
                       direction_ == bdVertIn;
  const plat::TColor from = forward ? startColor_ : endColor_;
  const plat::TColor to = forward ? endColor_ : startColor_;
  const int32_t size = horizontal ? Height() : Width();
  auto band = [&](int32_t first, int32_t last) {
    const int32_t a = plat::MulDiv(first, size, 256);
    const int32_t b = plat::MulDiv(last, size, 256);
    Canvas.FillRect(horizontal ? plat::TRect{0, a, Width(), b} : plat::TRect{a, 0, b, Height()});
  };
  const int32_t bands = mirrored ? 128 : 256;
  for (int32_t n = 0; n < bands; ++n) {
    Canvas.SetBrushColor(Blend(from, to, n, bands - 1));
    band(n, n + 1);
    if (mirrored) band(255 - n, 256 - n);
  }
}

void RegisterBackdrop() {
  plat::RegisterClass<TBackdrop>("TBackdrop");
}

}  // namespace setup
