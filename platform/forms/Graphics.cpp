#include "platform/forms/Graphics.h"

#include <algorithm>

#include "platform/rtl/Exceptions.h"

namespace plat {

const std::vector<std::pair<std::string, int64_t>>& ColorIdents() {
  static const std::vector<std::pair<std::string, int64_t>> idents = {
      {"clBlack", clBlack},     {"clMaroon", clMaroon},   {"clGreen", clGreen},
      {"clNavy", clNavy},       {"clGray", clGray},       {"clSilver", clSilver},
      {"clRed", clRed},         {"clBlue", clBlue},       {"clWhite", clWhite},
      {"clBtnFace", clBtnFace}, {"clWindow", clWindow},   {"clWindowText", clWindowText},
  };
  return idents;
}

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  const int64_t product = static_cast<int64_t>(a) * b;
  const bool negative = (product < 0) != (c < 0);
  const int64_t magnitude = product < 0 ? -product : product;
  const int64_t divisor = c < 0 ? -static_cast<int64_t>(c) : c;
  const int64_t rounded = (magnitude + divisor / 2) / divisor;
  return static_cast<int32_t>(negative ? -rounded : rounded);
}

const TPropList& TFont::PublishedProperties() const {
  static const TPropList list =
      TPublished<TFont>()
          .Integer("Charset", &TFont::Charset, &TFont::SetCharset, 1)
          .NamedInteger("Color", &TFont::Color, &TFont::SetColor, clWindowText, ColorIdents())
          .Integer("Height", &TFont::Height, &TFont::SetHeight, -11)
          .String("Name", &TFont::Name, &TFont::SetName, "MS Sans Serif")
          .Set("Style", &TFont::Style, &TFont::SetStyle,
               {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"}, TFontStyles{});
  return list;
}

void TFont::Assign(const TPersistent* Source) {
  if (const auto* font = dynamic_cast<const TFont*>(Source)) {
    name_ = font->name_;
    size_ = font->size_;
    color_ = font->color_;
    style_ = font->style_;
    charset_ = font->charset_;
    escapement_ = font->escapement_;
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

void TFont::Changed() {
  if (OnChange) OnChange(this);
}

void TFont::SetName(const std::string& Value) {
  if (Value == name_) return;
  name_ = Value;
  Changed();
}

void TFont::SetSize(int32_t Value) {
  if (Value <= 0) throw EInvalidOperation("Font size must be positive");
  if (Value == size_) return;
  size_ = Value;
  Changed();
}

void TFont::SetHeight(int32_t Value) {
  SetSize(std::max(1, MulDiv(Value < 0 ? -Value : Value, 72, 96)));
}

void TFont::SetColor(TColor Value) {
  if (Value == color_) return;
  color_ = Value;
  Changed();
}

void TFont::SetStyle(TFontStyles Value) {
  if (Value == style_) return;
  style_ = Value;
  Changed();
}

void TFont::SetCharset(uint8_t Value) {
  if (Value == charset_) return;
  charset_ = Value;
  Changed();
}

const TPropList& TPicture::PublishedProperties() const {
  static const TPropList list = TPublished<TPicture>().Binary("Data", &TPicture::Data, &TPicture::SetData);
  return list;
}

void TPicture::Assign(const TPersistent* Source) {
  if (const auto* picture = dynamic_cast<const TPicture*>(Source)) {
    data_ = picture->data_;
    return;
  }
  if (Source == nullptr) {
    data_.clear();
    return;
  }
  TPersistent::Assign(Source);
}

int32_t MeasureTextWidth(const std::string& Text, int32_t Size) {
  int32_t characters = 0;
  for (char c : Text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  }
  return characters * std::max(1, Size * 2 / 3);
}

int32_t MeasureTextHeight(int32_t Size) {
  return Size * 4 / 3;
}

void TCanvas::FillRect(const TRect& Rect) {
  TCanvasOp op;
  op.Kind = TCanvasOp::opFillRect;
  op.Color = brushColor_;
  op.Rect = Rect;
  ops_.push_back(std::move(op));
}

void TCanvas::Polygon(const std::vector<TPoint>& Points) {
  TCanvasOp op;
  op.Kind = TCanvasOp::opPolygon;
  op.Color = brushColor_;
  op.Points = Points;
  ops_.push_back(std::move(op));
}

void TCanvas::TextOut(int32_t X, int32_t Y, const std::string& Text) {
  TCanvasOp op;
  op.Kind = TCanvasOp::opText;
  op.Color = font_.Color();
  op.X = X;
  op.Y = Y;
  op.Text = Text;
  op.Escapement = font_.Escapement();
  op.FontName = font_.Name();
  op.FontSize = font_.Size();
  ops_.push_back(std::move(op));
}

int32_t TCanvas::TextWidth(const std::string& Text) const {
  return MeasureTextWidth(Text, font_.Size());
}

int32_t TCanvas::TextHeight(const std::string&) const {
  return MeasureTextHeight(font_.Size());
}

}  // namespace plat
