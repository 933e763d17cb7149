#pragma once
// Colours, fonts, pictures and a canvas that records what is drawn as a
// display list, so that painting code can be checked without a screen.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Published.h"

namespace plat {

// 0x00BBGGRR; values with the top bit set name system colours.
using TColor = int32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBtnFace = static_cast<TColor>(0x8000000F);
constexpr TColor clWindow = static_cast<TColor>(0x80000005);
constexpr TColor clWindowText = static_cast<TColor>(0x80000008);

// The colour names component text may use.
const std::vector<std::pair<std::string, int64_t>>& ColorIdents();

inline uint8_t GetRValue(TColor c) { return static_cast<uint8_t>(c & 0xFF); }
inline uint8_t GetGValue(TColor c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
inline uint8_t GetBValue(TColor c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }
inline TColor RGB(int32_t r, int32_t g, int32_t b) {
  return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
// a * b / c rounded to nearest, as the painting arithmetic expects.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  friend bool operator==(const TRect&, const TRect&) = default;
};

enum TFontStyle : uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle>;

// Invariant: Size() > 0 is the point size; Height() is its pixel form at 96
// dots per inch, negative as the library keeps it.
class TFont : public TPersistent {
 public:
  std::string ClassName() const override { return "TFont"; }
  const TPropList& PublishedProperties() const override;
  void Assign(const TPersistent* Source) override;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& Value);
  int32_t Size() const { return size_; }
  void SetSize(int32_t Value);
  int32_t Height() const { return -MulDiv(size_, 96, 72); }
  void SetHeight(int32_t Value);
  TColor Color() const { return color_; }
  void SetColor(TColor Value);
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles Value);
  uint8_t Charset() const { return charset_; }
  void SetCharset(uint8_t Value);
  // Tenths of a degree counter-clockwise; set on a canvas font to rotate text.
  int32_t Escapement() const { return escapement_; }
  void SetEscapement(int32_t Value) { escapement_ = Value; }

  TNotifyEvent OnChange;

 private:
  void Changed();

  std::string name_ = "MS Sans Serif";
  int32_t size_ = 8;
  TColor color_ = clWindowText;
  TFontStyles style_;
  uint8_t charset_ = 1;  // the default character set
  int32_t escapement_ = 0;
};

// A picture kept as the bytes it was loaded from (component text "Data").
class TPicture : public TPersistent {
 public:
  std::string ClassName() const override { return "TPicture"; }
  const TPropList& PublishedProperties() const override;
  void Assign(const TPersistent* Source) override;

  const std::string& Data() const { return data_; }
  void SetData(const std::string& Value) { data_ = Value; }
  bool Empty() const { return data_.empty(); }

 private:
  std::string data_;
};

// One thing drawn on a canvas.
struct TCanvasOp {
  enum Kind : uint8_t { opFillRect, opPolygon, opText } Kind = opFillRect;
  TColor Color = clBlack;        // brush colour for shapes, font colour for text
  TRect Rect;                    // opFillRect
  std::vector<TPoint> Points;    // opPolygon
  int32_t X = 0;                 // opText: where the text starts
  int32_t Y = 0;
  std::string Text;
  int32_t Escapement = 0;        // opText: angle in tenths of a degree
  std::string FontName;
  int32_t FontSize = 0;
};

// Records drawing operations. Text is measured by a fixed rule so that
// layouts come out the same everywhere: every character is (size*2/3, at
// least 1) pixels wide and a line is (size*4/3) pixels high, both from the
// font's point size.
class TCanvas : public TObject {
 public:
  std::string ClassName() const override { return "TCanvas"; }

  TFont& Font() { return font_; }
  TColor BrushColor() const { return brushColor_; }
  void SetBrushColor(TColor Value) { brushColor_ = Value; }

  void FillRect(const TRect& Rect);
  void Polygon(const std::vector<TPoint>& Points);
  void TextOut(int32_t X, int32_t Y, const std::string& Text);
  int32_t TextWidth(const std::string& Text) const;
  int32_t TextHeight(const std::string& Text) const;

  const std::vector<TCanvasOp>& Ops() const { return ops_; }
  void Clear() { ops_.clear(); }

 private:
  TFont font_;
  TColor brushColor_ = clWhite;
  std::vector<TCanvasOp> ops_;
};

// The measuring rule of TCanvas for a font of the given point size.
int32_t MeasureTextWidth(const std::string& Text, int32_t Size);
int32_t MeasureTextHeight(int32_t Size);

}  // namespace plat
