// The two decorative controls, checked from what they draw.
#include "setup/library/cmp_TBackdrop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/forms/Forms.h"
#include "setup/library/cmp_TRotate3DLabel.h"

namespace setup {
namespace {

using plat::MulDiv;
using plat::TCanvas;
using plat::TCanvasOp;
using plat::TRect;

plat::TColor Blend(plat::TColor a, plat::TColor b, int32_t n, int32_t steps) {
  return plat::RGB(plat::GetRValue(a) + MulDiv(n, plat::GetRValue(b) - plat::GetRValue(a), steps),
                   plat::GetGValue(a) + MulDiv(n, plat::GetGValue(b) - plat::GetGValue(a), steps),
                   plat::GetBValue(a) + MulDiv(n, plat::GetBValue(b) - plat::GetBValue(a), steps));
}

TEST(BackdropTest, PaintsItsBandsInEveryDirection) {
  plat::TForm form(nullptr);
  form.SetBounds(0, 0, 300, 200);
  TBackdrop backdrop(&form);
  EXPECT_EQ(backdrop.Width(), 300);  // fills its parent
  EXPECT_EQ(backdrop.Height(), 200);
  EXPECT_EQ(backdrop.StartColor(), plat::clBlue);
  EXPECT_EQ(backdrop.EndColor(), plat::clBlack);
  const plat::TColor start = plat::RGB(10, 200, 0);
  const plat::TColor end = plat::RGB(250, 0, 100);
  backdrop.SetStartColor(start);
  backdrop.SetEndColor(end);
  struct Case {
    TDirection direction;
    bool horizontal;
    bool mirrored;
    bool fromStart;
  };
  const std::vector<Case> cases = {
      {bdUp, true, false, true},      {bdDown, true, false, false},   {bdLeft, false, false, true},
      {bdRight, false, false, false}, {bdHorzIn, true, true, false},  {bdHorzOut, true, true, true},
      {bdVertIn, false, true, true},  {bdVertOut, false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.direction));
    backdrop.SetDirection(c.direction);
    TCanvas canvas;
    backdrop.Paint(canvas);
    const int32_t bands = c.mirrored ? 128 : 256;
    const auto& ops = canvas.Ops();
    ASSERT_EQ(ops.size(), 256u);  // 256 bands, or 128 with their mirrors
    const plat::TColor from = c.fromStart ? start : end;
    const plat::TColor to = c.fromStart ? end : start;
    const int32_t size = c.horizontal ? 200 : 300;
    auto rect = [&](int32_t first, int32_t last) {
      const int32_t a = MulDiv(first, size, 256);
      const int32_t b = MulDiv(last, size, 256);
      return c.horizontal ? TRect{0, a, 300, b} : TRect{a, 0, b, 200};
    };
    for (int32_t n = 0; n < bands; ++n) {
      const TCanvasOp& op = ops[static_cast<size_t>(c.mirrored ? 2 * n : n)];
      ASSERT_EQ(op.Kind, TCanvasOp::opFillRect);
      ASSERT_EQ(op.Color, Blend(from, to, n, bands - 1)) << n;
      ASSERT_EQ(op.Rect, rect(n, n + 1)) << n;
      if (c.mirrored) {
        const TCanvasOp& mirror = ops[static_cast<size_t>(2 * n + 1)];
        ASSERT_EQ(mirror.Color, op.Color);
        ASSERT_EQ(mirror.Rect, rect(255 - n, 256 - n)) << n;
      }
    }
    // The gradient runs the whole way.
    EXPECT_EQ(ops.front().Color, from);
    EXPECT_EQ(ops.back().Color, to);
  }
}

TEST(BackdropTest, OnlyOneIsCurrent) {
  plat::TForm form(nullptr);
  form.SetDesigning(true);
  TBackdrop first(&form);  // placed while designing, and none was current
  EXPECT_EQ(TBackdrop::Current(), &first);
  EXPECT_EQ(first.Tag(), -1);
  TBackdrop second(&form);
  EXPECT_EQ(second.Tag(), 0);
  second.SetTag(-1);
  EXPECT_EQ(TBackdrop::Current(), &second);
  EXPECT_EQ(first.Tag(), 0);
  second.SetTag(3);
  EXPECT_EQ(TBackdrop::Current(), nullptr);
}

class Rotate3DLabelTest : public ::testing::Test {
 protected:
  Rotate3DLabelTest() : label(&form) {
    label.SetBounds(0, 0, 200, 60);
    label.SetCaption("Ostra");
  }
  std::vector<TCanvasOp> Paint() {
    TCanvas canvas;
    label.Paint(canvas);
    return canvas.Ops();
  }
  plat::TForm form{nullptr};
  TRotate3DLabel label;
};

TEST_F(Rotate3DLabelTest, StartsTransparentBoldAndRaised) {
  EXPECT_EQ(label.Font().Name(), "Arial");
  EXPECT_TRUE(label.Font().Style().Contains(plat::fsBold));
  EXPECT_FALSE(label.AutoSize());
  EXPECT_TRUE(label.MyTransparent());
  EXPECT_EQ(label.LabelStyle().AStyle3D(), A3dRaised);
}

TEST_F(Rotate3DLabelTest, EachEffectDrawsItsShadesAtTheirOffsets) {
  label.SetAlignment(plat::taCenter);
  struct Shade {
    plat::TColor color;
    int32_t dx;
    int32_t dy;
  };
  struct Case {
    T3DEffectShort effect;
    std::vector<Shade> shades;
  };
  const plat::TColor white = plat::clWhite;
  const plat::TColor grey = 8421504;
  const std::vector<Case> cases = {
      {A3dNormal, {}},
      {A3dResit, {{white, -1, -1}, {grey, 1, 1}}},
      {A3dRaised, {{white, 1, 1}, {grey, -1, -1}}},
      {A3dShadowed, {{grey, 5, -5}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.effect));
    label.LabelStyle().SetAStyle3D(c.effect);
    const auto ops = Paint();
    ASSERT_EQ(ops.size(), c.shades.size() + 1);
    const TCanvasOp& text = ops.back();
    EXPECT_EQ(text.Text, "Ostra");
    EXPECT_EQ(text.Color, label.Font().Color());
    // Centred on the control.
    EXPECT_NEAR(text.X, (200 - plat::MeasureTextWidth("Ostra", label.Font().Size())) / 2.0, 0.5);
    for (size_t i = 0; i < c.shades.size(); ++i) {
      EXPECT_EQ(ops[i].Color, c.shades[i].color);
      EXPECT_EQ(ops[i].X - text.X, c.shades[i].dx);
      EXPECT_EQ(ops[i].Y - text.Y, c.shades[i].dy);
    }
  }
}

TEST_F(Rotate3DLabelTest, RotatedTextAndAnOpaqueBox) {
  label.LabelStyle().SetAngle(90);
  label.SetMyTransparent(false);
  label.SetColor(plat::clSilver);
  label.SetAlignment(plat::taCenter);
  const auto ops = Paint();
  ASSERT_EQ(ops.size(), 2u);  // the box, then the text without shades
  const TCanvasOp& box = ops[0];
  const TCanvasOp& text = ops[1];
  EXPECT_EQ(text.Escapement, 900);
  ASSERT_EQ(box.Kind, TCanvasOp::opPolygon);
  EXPECT_EQ(box.Color, plat::clSilver);
  const int32_t width = plat::MeasureTextWidth("Ostra", label.Font().Size());
  const int32_t height = plat::MeasureTextHeight(label.Font().Size());
  // At 90 degrees the text runs upwards: the box's long side is vertical.
  ASSERT_EQ(box.Points.size(), 4u);
  EXPECT_EQ(box.Points[0].Y - box.Points[1].Y, width + 10);
  EXPECT_EQ(box.Points[2].X - box.Points[1].X, height + 7);
  // The rotated text box is centred on the control.
  EXPECT_NEAR(text.X + height / 2.0, 100, 1);
  EXPECT_NEAR(text.Y - width / 2.0, 30, 1);
}

TEST_F(Rotate3DLabelTest, StyleChangesRepaintAndTheLeftTopShadeIsRemembered) {
  TLabelStyle& style = label.LabelStyle();
  const int32_t before = label.RepaintCount();
  style.SetAShadeLTSet(false);
  style.SetAShadeLeftTop(plat::clRed);
  style.SetAShadeLTSet(true);
  EXPECT_EQ(style.AShadeLeftTop(), plat::clWhite);
  style.SetAShadeLTSet(false);
  EXPECT_EQ(style.AShadeLeftTop(), plat::clRed);
  EXPECT_EQ(label.RepaintCount(), before + 4);
  label.SetAlignment(plat::taRightJustify);
  EXPECT_EQ(Paint().back().X, 200 - plat::MeasureTextWidth("Ostra", label.Font().Size()));
  label.SetAlignment(plat::taLeftJustify);
  EXPECT_EQ(Paint().back().X, 0);
}

}  // namespace
}  // namespace setup
