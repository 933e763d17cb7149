#pragma once
// A label of the installer's main window whose text can be drawn rotated and
// with a 3-D effect.

#include <cstdint>
#include <string>

#include "platform/forms/StdCtrls.h"

namespace setup {

enum T3DEffectShort : uint8_t { A3dNormal, A3dResit, A3dRaised, A3dShadowed };

// The label's drawing style. Every change fires OnChange (the label
// repaints). Setting AShadeLTSet remembers AShadeLeftTop and makes it white;
// clearing it gives the remembered colour back.
class TLabelStyle : public plat::TPersistent {
 public:
  std::string ClassName() const override { return "TLabelStyle"; }
  const plat::TPropList& PublishedProperties() const override;
  void Assign(const plat::TPersistent* Source) override;

  int32_t Angle() const { return angle_; }
  void SetAngle(int32_t Value);
  T3DEffectShort AStyle3D() const { return style_; }
  void SetAStyle3D(T3DEffectShort Value);
  plat::TColor AShadeRightBottom() const { return shadeRightBottom_; }
  void SetAShadeRightBottom(plat::TColor Value);
  plat::TColor AShadeLeftTop() const { return shadeLeftTop_; }
  void SetAShadeLeftTop(plat::TColor Value);
  bool AShadeLTSet() const { return shadeLTSet_; }
  void SetAShadeLTSet(bool Value);
  int32_t AHShadeOffSet() const { return hOffset_; }
  void SetAHShadeOffSet(int32_t Value);
  int32_t AVShadeOffSet() const { return vOffset_; }
  void SetAVShadeOffSet(int32_t Value);

  plat::TNotifyEvent OnChange;

 private:
  void Changed();

  int32_t angle_ = 0;
  T3DEffectShort style_ = A3dRaised;
  plat::TColor shadeRightBottom_ = 8421504;
  plat::TColor shadeLeftTop_ = 16777215;
  plat::TColor rememberedLeftTop_ = 16777215;
  bool shadeLTSet_ = true;
  int32_t hOffset_ = 5;
  int32_t vOffset_ = -5;
};

// Painting: the text is drawn with the label's font at escapement Angle * 10,
// placed about the control's centre along the rotated baseline: centred, or
// starting at x 0 (taLeftJustify) or ending at the right edge
// (taRightJustify). With MyTransparent off the style counts as A3dNormal and
// a polygon of the label's colour, 10 pixels wider and 7 taller than the
// text and rotated with it, is filled behind. A3dResit draws the left-top
// shade at offset (-1, -1) and the right-bottom shade at (+1, +1); A3dRaised
// the left-top shade at (+1, +1) and the right-bottom one at (-1, -1);
// A3dShadowed only the right-bottom shade at (AHShadeOffSet, AVShadeOffSet);
// then the text in the font colour.
//
// The label whose Tag is -1 is the current one, as for TBackdrop.
class TRotate3DLabel : public plat::TLabel {
 public:
  explicit TRotate3DLabel(plat::TComponent* AOwner);
  ~TRotate3DLabel() override;

  std::string ClassName() const override { return "TRotate3DLabel"; }
  const plat::TPropList& PublishedProperties() const override;

  TLabelStyle& LabelStyle() { return style_; }
  bool MyTransparent() const { return myTransparent_; }
  void SetMyTransparent(bool Value) { myTransparent_ = Value; }
  // How often the label asked to be repainted (style changes).
  int32_t RepaintCount() const { return repaints_; }

  void SetTag(int32_t Value) override;
  static TRotate3DLabel* Current();

  void Paint(plat::TCanvas& Canvas) override;
  void Invalidate() override { ++repaints_; }

 private:
  TLabelStyle style_;
  bool myTransparent_ = true;
  int32_t repaints_ = 0;
};

void RegisterRotate3DLabel();

}  // namespace setup
