#pragma once
// The backdrop of the installer's main window: a panel that fills its parent
// with a colour gradient painted as bands.

#include <cstdint>
#include <string>

#include "platform/forms/StdCtrls.h"

namespace setup {

enum TDirection : uint8_t { bdUp, bdDown, bdLeft, bdRight, bdHorzIn, bdHorzOut, bdVertIn, bdVertOut };

// Painting: the colour difference per channel between StartColor and
// EndColor is spread over bands. bdUp, bdDown, bdLeft and bdRight paint 256
// bands, band n with colour from + MulDiv(n, to - from, 255) per channel,
// covering MulDiv(n, size, 256) to MulDiv(n + 1, size, 256) of the height
// (horizontal bands: up, down) or width (vertical: left, right). The In and
// Out directions paint 128 bands with step MulDiv(n, to - from, 127), each
// also mirrored at MulDiv(255 - n, size, 256) to MulDiv(256 - n, size, 256).
// From start to end: up, left, HorzOut, VertIn; from end to start: down,
// right, HorzIn, VertOut.
//
// The backdrop whose Tag is -1 is the current one (Current); giving another
// one Tag -1 sets the former one's Tag to 0. One placed on a form being
// designed becomes current when there is none.
class TBackdrop : public plat::TPanel {
 public:
  explicit TBackdrop(plat::TComponent* AOwner);
  ~TBackdrop() override;

  std::string ClassName() const override { return "TBackdrop"; }
  const plat::TPropList& PublishedProperties() const override;

  TDirection Direction() const { return direction_; }
  void SetDirection(TDirection Value) { direction_ = Value; }
  plat::TColor StartColor() const { return startColor_; }
  void SetStartColor(plat::TColor Value) { startColor_ = Value; }
  plat::TColor EndColor() const { return endColor_; }
  void SetEndColor(plat::TColor Value) { endColor_ = Value; }

  void SetTag(int32_t Value) override;
  static TBackdrop* Current();

  void Paint(plat::TCanvas& Canvas) override;

 private:
  TDirection direction_ = bdUp;
  plat::TColor startColor_ = 16711680;
  plat::TColor endColor_ = 0;
};

void RegisterBackdrop();

}  // namespace setup
