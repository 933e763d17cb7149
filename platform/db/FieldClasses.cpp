// The typed field classes: their native formats and value conversions.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/db/DBConsts.h"
#include "platform/db/DataSet.h"
#include "platform/db/FieldNative.h"
#include "platform/db/Fields.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Strings.h"

namespace plat {

namespace {

using fieldnative::LoadNative;
using fieldnative::StoreNative;

bool IsIntegralVariant(const Variant& v) {
  switch (v.VarType()) {
    case varSmallint:
    case varInteger:
    case varInt64:
    case varBoolean:
      return true;
    default:
      return false;
  }
}

constexpr double kCurrencyMax = 922337203685477.5807;
// 2^63 as a double: the first value beyond int64.
constexpr double kInt64Limit = 9223372036854775808.0;

// Exact text of a Currency in general form ("12.5", "-0.0001", "100").
std::string CurrencyUnitsToText(int64_t units) {
  const bool negative = units < 0;
  const uint64_t abs =
      negative ? uint64_t{0} - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  std::string text = std::to_string(abs / 10000);
  const uint64_t frac = abs % 10000;
  if (frac != 0) {
    std::string digits = std::to_string(frac);
    digits.insert(0, 4 - digits.size(), '0');
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    text += FormatSettings.DecimalSeparator;
    text += digits;
  }
  return negative ? "-" + text : text;
}

enum class ParseResult { Ok, Bad, Overflow };

// Plain decimal text ([sign] digits [separator digits]) to 1/10000 units,
// rounded half to even at the fourth decimal, without passing through a
// double (which would lose the last digits of large amounts).
ParseResult ParseCurrencyUnits(std::string_view text, int64_t& units) {
  const std::string s = Trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  constexpr uint64_t kWholeLimit = uint64_t{INT64_MAX} / 10000 + 1;
  uint64_t whole = 0;
  bool anyDigit = false;
  bool overflow = false;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (whole > kWholeLimit)
      overflow = true;
    else
      whole = whole * 10 + static_cast<uint64_t>(s[i] - '0');
    ++i;
    anyDigit = true;
  }
  std::string frac;
  if (i < s.size() && s[i] == FormatSettings.DecimalSeparator) {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      frac += s[i++];
      anyDigit = true;
    }
  }
  if (!anyDigit || i != s.size()) return ParseResult::Bad;
  if (overflow || whole > kWholeLimit) return ParseResult::Overflow;
  uint64_t kept = 0;
  for (size_t k = 0; k < 4; ++k)
    kept = kept * 10 + (k < frac.size() ? static_cast<uint64_t>(frac[k] - '0') : 0);
  uint64_t value = whole * 10000 + kept;  // at most about 9.2e18 + 1e4: fits
  if (frac.size() > 4) {
    const char next = frac[4];
    const bool restNonZero = frac.find_first_not_of('0', 5) != std::string::npos;
    if (next > '5' || (next == '5' && (restNonZero || (value & 1) != 0))) ++value;
  }
  const uint64_t limit = negative ? uint64_t{INT64_MAX} + 1 : uint64_t{INT64_MAX};
  if (value > limit) return ParseResult::Overflow;
  units = negative ? static_cast<int64_t>(uint64_t{0} - value) : static_cast<int64_t>(value);
  return ParseResult::Ok;
}

// The picture for a number's text: the display format when displaying or
// when no edit format is set, else the edit format.
const std::string& NumberPicture(const TNumericField& field, bool displayText) {
  return displayText || field.EditFormat().empty() ? field.DisplayFormat() : field.EditFormat();
}

// An integer's text: through the number picture when one is set.
std::string IntegerText(const TNumericField& field, int64_t value, bool displayText) {
  const std::string& picture = NumberPicture(field, displayText);
  return picture.empty() ? IntToStr(value) : FormatFloat(picture, static_cast<double>(value));
}

// Reads integer text typed into field. False for blank text, which the
// caller stores as null.
bool ParseIntegerText(const TField& field, const std::string& text, int64_t& value) {
  if (Trim(text).empty()) return false;
  if (!TryStrToInt64(text, value))
    DatabaseErrorFmt(SInvalidIntegerValue, {text, field.DisplayName()});
  return true;
}

// Text without a NUL: the native text formats end at the first NUL, so such
// a value could not come back unchanged.
void CheckNoNul(const TField& field, std::string_view text) {
  if (text.find('\0') != std::string_view::npos)
    DatabaseErrorFmt(SFieldValueError, {field.DisplayName()});
}

}  // namespace

// ---- TStringField ----

TStringField::TStringField(TComponent* AOwner) : TField(AOwner) {
  SetDataType(ftString);
  SetSize(20);
}

void TStringField::CheckTypeSize(int32_t Value) const {
  if (Value < 0 || Value > 65535) DatabaseError(SInvalidFieldSize);
}

void TStringField::SetFixedChar(bool Value) {
  fixedChar_ = Value;
  if (DataType() == ftString || DataType() == ftFixedChar)
    SetDataType(Value ? ftFixedChar : ftString);
}

std::string TStringField::GetAsString() const {
  TNativeBuffer buffer;
  if (!ReadNative(buffer)) return std::string();
  const char* text = reinterpret_cast<const char*>(buffer.Data());
  const size_t limit = static_cast<size_t>(std::max(Size(), 0));
  std::string value(text, strnlen(text, limit));
  return fixedChar_ ? TrimRight(value) : value;
}

void TStringField::SetAsString(const std::string& Value) {
  CheckNoNul(*this, Value);
  if (static_cast<int64_t>(Value.size()) > Size()) TooLongError(Value.size(), Size());
  std::vector<uint8_t> buffer(static_cast<size_t>(DataSize()) + NativeBufferSlack, 0);
  std::memcpy(buffer.data(), Value.data(), Value.size());
  SetData(buffer.data());
}

int32_t TStringField::GetAsInteger() const {
  const std::string text = GetAsString();
  if (Trim(text).empty()) return 0;
  int32_t value;
  if (!TryStrToInt(text, value)) DatabaseErrorFmt(SInvalidIntegerValue, {text, DisplayName()});
  return value;
}

double TStringField::GetAsFloat() const {
  const std::string text = GetAsString();
  if (Trim(text).empty()) return 0;
  double value;
  if (!TryStrToFloat(text, value)) DatabaseErrorFmt(SInvalidFloatValue, {text, DisplayName()});
  return value;
}

bool TStringField::GetAsBoolean() const {
  const std::string text = GetAsString();
  return !text.empty() && (text[0] == 'T' || text[0] == 't' || text[0] == 'Y' || text[0] == 'y');
}

TDateTime TStringField::GetAsDateTime() const {
  const std::string text = GetAsString();
  if (Trim(text).empty()) return 0;
  return StrToDateTime(text);
}

Variant TStringField::GetAsVariant() const {
  if (IsNull()) return Null();
  return Variant(GetAsString());
}

void TStringField::SetAsInteger(int32_t Value) {
  SetAsString(IntToStr(Value));
}

void TStringField::SetAsFloat(double Value) {
  SetAsString(FloatToStr(Value));
}

void TStringField::SetAsBoolean(bool Value) {
  SetAsString(Value ? std::string(1, STextTrue[0]) : std::string(1, STextFalse[0]));
}

void TStringField::SetAsDateTime(TDateTime Value) {
  SetAsString(DateTimeToStr(Value));
}

void TStringField::SetVarValue(const Variant& Value) {
  SetAsString(Value.AsString());
}

// ---- TWideStringField ----

TWideStringField::TWideStringField(TComponent* AOwner) : TStringField(AOwner) {
  SetDataType(ftWideString);
}

std::string TWideStringField::GetAsString() const {
  TNativeBuffer buffer;
  if (!ReadNative(buffer)) return std::string();
  std::u16string wide;
  const size_t limit = static_cast<size_t>(std::max(Size(), 0));
  for (size_t i = 0; i < limit; ++i) {
    const char16_t unit = LoadNative<char16_t>(buffer.Data() + 2 * i);
    if (unit == 0) break;
    wide += unit;
  }
  return WideToUtf8(wide);
}

void TWideStringField::SetAsString(const std::string& Value) {
  CheckNoNul(*this, Value);
  const std::u16string wide = Utf8ToWide(Value);
  if (static_cast<int64_t>(wide.size()) > Size()) TooLongError(wide.size(), Size());
  std::vector<uint8_t> buffer(static_cast<size_t>(DataSize()) + NativeBufferSlack, 0);
  for (size_t i = 0; i < wide.size(); ++i) StoreNative<char16_t>(buffer.data() + 2 * i, wide[i]);
  SetData(buffer.data());
}

Variant TWideStringField::GetAsVariant() const {
  if (IsNull()) return Null();
  return VarAsType(Variant(GetAsString()), varOleStr);
}

// ---- TIntegerField and its kin ----

TIntegerField::TIntegerField(TComponent* AOwner)
    : TIntegerField(AOwner, ftInteger, INT32_MIN, INT32_MAX) {}

TIntegerField::TIntegerField(TComponent* AOwner, TFieldType DataType, int64_t MinRange,
                             int64_t MaxRange)
    : TNumericField(AOwner), minRange_(MinRange), maxRange_(MaxRange) {
  SetDataType(DataType);
}

int32_t TIntegerField::DataSize() const {
  return DataType() == ftSmallint || DataType() == ftWord ? 2 : 4;
}

bool TIntegerField::ReadInt(int64_t& Value) const {
  switch (DataType()) {
    case ftSmallint: {
      int16_t v = 0;
      if (!ReadFixed(&v, sizeof v)) return false;
      Value = v;
      return true;
    }
    case ftWord: {
      uint16_t v = 0;
      if (!ReadFixed(&v, sizeof v)) return false;
      Value = v;
      return true;
    }
    default: {
      int32_t v = 0;
      if (!ReadFixed(&v, sizeof v)) return false;
      Value = v;
      return true;
    }
  }
}

void TIntegerField::WriteInt(int64_t Value) {
  int64_t lo = minRange_, hi = maxRange_;
  if (minValue_ != 0 || maxValue_ != 0) {
    lo = std::max<int64_t>(lo, minValue_);
    hi = std::min<int64_t>(hi, maxValue_);
  }
  if (Value < lo || Value > hi)
    RangeError(static_cast<double>(Value), static_cast<double>(lo), static_cast<double>(hi));
  alignas(8) uint8_t buffer[8 + NativeBufferSlack] = {};
  switch (DataType()) {
    case ftSmallint:
      StoreNative<int16_t>(buffer, static_cast<int16_t>(Value));
      break;
    case ftWord:
      StoreNative<uint16_t>(buffer, static_cast<uint16_t>(Value));
      break;
    default:
      StoreNative<int32_t>(buffer, static_cast<int32_t>(Value));
      break;
  }
  SetData(buffer);
}

std::string TIntegerField::GetAsString() const {
  int64_t value;
  return ReadInt(value) ? IntToStr(value) : std::string();
}

int32_t TIntegerField::GetAsInteger() const {
  int64_t value;
  return ReadInt(value) ? static_cast<int32_t>(value) : 0;
}

double TIntegerField::GetAsFloat() const {
  int64_t value;
  return ReadInt(value) ? static_cast<double>(value) : 0;
}

Variant TIntegerField::GetAsVariant() const {
  int64_t value;
  if (!ReadInt(value)) return Null();
  if (DataType() == ftSmallint) return Variant(static_cast<int16_t>(value));
  return Variant(static_cast<int32_t>(value));
}

void TIntegerField::GetText(std::string& Text, bool DisplayText) const {
  int64_t value;
  if (ReadInt(value))
    Text = IntegerText(*this, value, DisplayText);
  else
    Text.clear();
}

void TIntegerField::SetAsString(const std::string& Value) {
  int64_t value = 0;
  if (ParseIntegerText(*this, Value, value))
    WriteInt(value);
  else
    Clear();
}

void TIntegerField::SetAsInteger(int32_t Value) {
  WriteInt(Value);
}

void TIntegerField::SetAsFloat(double Value) {
  const double rounded = std::nearbyint(Value);
  if (!(rounded >= -kInt64Limit && rounded < kInt64Limit)) {
    int64_t lo = minRange_, hi = maxRange_;
    if (minValue_ != 0 || maxValue_ != 0) {
      lo = std::max<int64_t>(lo, minValue_);
      hi = std::min<int64_t>(hi, maxValue_);
    }
    RangeError(Value, static_cast<double>(lo), static_cast<double>(hi));
  }
  WriteInt(static_cast<int64_t>(rounded));
}

void TIntegerField::SetVarValue(const Variant& Value) {
  if (VarIsStr(Value))
    SetAsString(Value.AsString());
  else if (IsIntegralVariant(Value))
    WriteInt(Value.AsInt64());
  else
    SetAsFloat(Value.AsFloat());
}

TSmallintField::TSmallintField(TComponent* AOwner)
    : TIntegerField(AOwner, ftSmallint, INT16_MIN, INT16_MAX) {}

TWordField::TWordField(TComponent* AOwner) : TIntegerField(AOwner, ftWord, 0, UINT16_MAX) {}

TAutoIncField::TAutoIncField(TComponent* AOwner)
    : TIntegerField(AOwner, ftAutoInc, INT32_MIN, INT32_MAX) {}

// ---- TLargeintField ----

TLargeintField::TLargeintField(TComponent* AOwner) : TNumericField(AOwner) {
  SetDataType(ftLargeint);
}

int64_t TLargeintField::AsLargeInt() const {
  int64_t value = 0;
  return ReadFixed(&value, sizeof value) ? value : 0;
}

void TLargeintField::SetAsLargeInt(int64_t Value) {
  alignas(8) uint8_t buffer[8 + NativeBufferSlack] = {};
  StoreNative<int64_t>(buffer, Value);
  SetData(buffer);
}

std::string TLargeintField::GetAsString() const {
  int64_t value = 0;
  return ReadFixed(&value, sizeof value) ? IntToStr(value) : std::string();
}

int32_t TLargeintField::GetAsInteger() const {
  const int64_t value = AsLargeInt();
  if (value < INT32_MIN || value > INT32_MAX)
    RangeError(static_cast<double>(value), INT32_MIN, INT32_MAX);
  return static_cast<int32_t>(value);
}

double TLargeintField::GetAsFloat() const {
  return static_cast<double>(AsLargeInt());
}

Variant TLargeintField::GetAsVariant() const {
  int64_t value = 0;
  if (!ReadFixed(&value, sizeof value)) return Null();
  return Variant(value);
}

void TLargeintField::GetText(std::string& Text, bool DisplayText) const {
  int64_t value = 0;
  if (ReadFixed(&value, sizeof value))
    Text = IntegerText(*this, value, DisplayText);
  else
    Text.clear();
}

void TLargeintField::SetAsString(const std::string& Value) {
  int64_t value = 0;
  if (ParseIntegerText(*this, Value, value))
    SetAsLargeInt(value);
  else
    Clear();
}

void TLargeintField::SetAsInteger(int32_t Value) {
  SetAsLargeInt(Value);
}

void TLargeintField::SetAsFloat(double Value) {
  const double rounded = std::nearbyint(Value);
  if (!(rounded >= -kInt64Limit && rounded < kInt64Limit))
    RangeError(Value, static_cast<double>(INT64_MIN), static_cast<double>(INT64_MAX));
  SetAsLargeInt(static_cast<int64_t>(rounded));
}

void TLargeintField::SetVarValue(const Variant& Value) {
  if (VarIsStr(Value))
    SetAsString(Value.AsString());
  else if (IsIntegralVariant(Value))
    SetAsLargeInt(Value.AsInt64());
  else
    SetAsFloat(Value.AsFloat());
}

// ---- TFloatField ----

TFloatField::TFloatField(TComponent* AOwner) : TNumericField(AOwner) {
  SetDataType(ftFloat);
}

void TFloatField::SetPrecision(int32_t Value) {
  precision_ = std::clamp(Value, 2, 15);
}

std::string TFloatField::GetAsString() const {
  double value = 0;
  return ReadFixed(&value, sizeof value) ? FloatToStr(value) : std::string();
}

int32_t TFloatField::GetAsInteger() const {
  double value = 0;
  if (!ReadFixed(&value, sizeof value)) return 0;
  const double rounded = std::nearbyint(value);
  if (!(rounded >= INT32_MIN && rounded <= INT32_MAX)) RangeError(value, INT32_MIN, INT32_MAX);
  return static_cast<int32_t>(rounded);
}

double TFloatField::GetAsFloat() const {
  double value = 0;
  return ReadFixed(&value, sizeof value) ? value : 0;
}

Variant TFloatField::GetAsVariant() const {
  double value = 0;
  if (!ReadFixed(&value, sizeof value)) return Null();
  return Variant(value);
}

void TFloatField::GetText(std::string& Text, bool DisplayText) const {
  double value = 0;
  if (!ReadFixed(&value, sizeof value)) {
    Text.clear();
    return;
  }
  const std::string& picture = NumberPicture(*this, DisplayText);
  if (!picture.empty()) {
    Text = FormatFloat(picture, value);
  } else if (currency_) {
    Text = FloatToStrF(value, DisplayText ? ffCurrency : ffFixed, precision_,
                       FormatSettings.CurrencyDecimals);
  } else {
    Text = FloatToStrF(value, ffGeneral, precision_, 0);
  }
}

void TFloatField::SetAsString(const std::string& Value) {
  if (Trim(Value).empty()) {
    Clear();
    return;
  }
  double value;
  if (!TryStrToFloat(Value, value)) DatabaseErrorFmt(SInvalidFloatValue, {Value, DisplayName()});
  SetAsFloat(value);
}

void TFloatField::SetAsInteger(int32_t Value) {
  SetAsFloat(Value);
}

void TFloatField::SetAsFloat(double Value) {
  // Infinities and NaN have no order: an index over them would be corrupt.
  if (!std::isfinite(Value)) DatabaseErrorFmt(SFieldValueError, {DisplayName()});
  if ((minValue_ != 0 || maxValue_ != 0) && (Value < minValue_ || Value > maxValue_))
    RangeError(Value, minValue_, maxValue_);
  alignas(8) uint8_t buffer[8 + NativeBufferSlack] = {};
  StoreNative<double>(buffer, Value);
  SetData(buffer);
}

void TFloatField::SetVarValue(const Variant& Value) {
  if (VarIsStr(Value))
    SetAsString(Value.AsString());
  else
    SetAsFloat(Value.AsFloat());
}

TCurrencyField::TCurrencyField(TComponent* AOwner) : TFloatField(AOwner) {
  SetDataType(ftCurrency);
  SetCurrency(true);
}

// ---- TBCDField ----

TBCDField::TBCDField(TComponent* AOwner) : TNumericField(AOwner) {
  SetDataType(ftBCD);
  SetSize(4);
}

void TBCDField::CheckTypeSize(int32_t Value) const {
  if (Value < 0 || Value > 32) DatabaseError(SInvalidFieldSize);
}

std::string TBCDField::GetAsString() const {
  int64_t units = 0;
  return ReadFixed(&units, sizeof units) ? CurrencyUnitsToText(units) : std::string();
}

int32_t TBCDField::GetAsInteger() const {
  int64_t units = 0;
  if (!ReadFixed(&units, sizeof units)) return 0;
  int64_t whole = units / 10000;
  const int64_t rest = units % 10000;
  // Halves go to the even neighbour.
  if (rest > 5000 || (rest == 5000 && (whole & 1) != 0)) ++whole;
  if (rest < -5000 || (rest == -5000 && (whole & 1) != 0)) --whole;
  if (whole < INT32_MIN || whole > INT32_MAX)
    RangeError(static_cast<double>(units) / 10000, INT32_MIN, INT32_MAX);
  return static_cast<int32_t>(whole);
}

double TBCDField::GetAsFloat() const {
  int64_t units = 0;
  return ReadFixed(&units, sizeof units) ? static_cast<double>(units) / 10000 : 0;
}

plat::Currency TBCDField::GetAsCurrency() const {
  int64_t units = 0;
  return ReadFixed(&units, sizeof units) ? plat::Currency{units} : plat::Currency{};
}

Variant TBCDField::GetAsVariant() const {
  int64_t units = 0;
  if (!ReadFixed(&units, sizeof units)) return Null();
  return Variant(plat::Currency{units});
}

void TBCDField::GetText(std::string& Text, bool DisplayText) const {
  int64_t units = 0;
  if (!ReadFixed(&units, sizeof units)) {
    Text.clear();
    return;
  }
  const double value = static_cast<double>(units) / 10000;
  const std::string& picture = NumberPicture(*this, DisplayText);
  if (!picture.empty())
    Text = FormatFloat(picture, value);
  else if (currency_)
    Text =
        FloatToStrF(value, DisplayText ? ffCurrency : ffFixed, 18, FormatSettings.CurrencyDecimals);
  else
    Text = CurrencyUnitsToText(units);
}

void TBCDField::SetAsString(const std::string& Value) {
  if (Trim(Value).empty()) {
    Clear();
    return;
  }
  int64_t units = 0;
  switch (ParseCurrencyUnits(Value, units)) {
    case ParseResult::Ok:
      SetAsCurrency(plat::Currency{units});
      return;
    case ParseResult::Overflow:
      RangeError(StrToFloatDef(Value, 0), -kCurrencyMax, kCurrencyMax);
    case ParseResult::Bad:
      break;
  }
  double value;  // exponent forms such as "1E3"
  if (!TryStrToFloat(Value, value)) DatabaseErrorFmt(SInvalidFloatValue, {Value, DisplayName()});
  SetAsFloat(value);
}

void TBCDField::SetAsInteger(int32_t Value) {
  SetAsCurrency(plat::Currency{int64_t{Value} * 10000});
}

void TBCDField::SetAsFloat(double Value) {
  if (!std::isfinite(Value)) DatabaseErrorFmt(SFieldValueError, {DisplayName()});
  plat::Currency value;
  try {
    value = plat::Currency::FromDouble(Value);
  } catch (const EVariantError&) {
    RangeError(Value, -kCurrencyMax, kCurrencyMax);
  }
  SetAsCurrency(value);
}

void TBCDField::SetAsCurrency(plat::Currency Value) {
  if ((minValue_.Value != 0 || maxValue_.Value != 0) && (Value < minValue_ || Value > maxValue_))
    RangeError(Value.ToDouble(), minValue_.ToDouble(), maxValue_.ToDouble());
  alignas(8) uint8_t buffer[8 + NativeBufferSlack] = {};
  StoreNative<int64_t>(buffer, Value.Value);
  SetData(buffer);
}

void TBCDField::SetVarValue(const Variant& Value) {
  if (VarIsStr(Value)) {
    SetAsString(Value.AsString());
  } else if (Value.VarType() == varCurrency) {
    SetAsCurrency(Value.AsCurrency());
  } else if (IsIntegralVariant(Value)) {
    const int64_t v = Value.AsInt64();
    if (v > INT64_MAX / 10000 || v < INT64_MIN / 10000)
      RangeError(static_cast<double>(v), -kCurrencyMax, kCurrencyMax);
    SetAsCurrency(plat::Currency{v * 10000});
  } else {
    SetAsFloat(Value.AsFloat());
  }
}

// ---- TBooleanField ----

TBooleanField::TBooleanField(TComponent* AOwner) : TField(AOwner) {
  SetDataType(ftBoolean);
  SetDisplayValues("");
}

void TBooleanField::SetDisplayValues(const std::string& Value) {
  displayValues_ = Value;
  if (Value.empty()) {
    trueText_ = STextTrue;
    falseText_ = STextFalse;
    return;
  }
  const size_t semicolon = Value.find(';');
  trueText_ = Value.substr(0, semicolon);
  falseText_ = semicolon == std::string::npos ? std::string() : Value.substr(semicolon + 1);
}

int32_t TBooleanField::DefaultDisplayWidth() const {
  return static_cast<int32_t>(std::max(trueText_.size(), falseText_.size()));
}

std::string TBooleanField::GetAsString() const {
  uint16_t value = 0;
  if (!ReadFixed(&value, sizeof value)) return std::string();
  return value != 0 ? trueText_ : falseText_;
}

bool TBooleanField::GetAsBoolean() const {
  uint16_t value = 0;
  return ReadFixed(&value, sizeof value) && value != 0;
}

Variant TBooleanField::GetAsVariant() const {
  uint16_t value = 0;
  if (!ReadFixed(&value, sizeof value)) return Null();
  return Variant(value != 0);
}

void TBooleanField::SetAsBoolean(bool Value) {
  alignas(8) uint8_t buffer[2 + NativeBufferSlack] = {};
  StoreNative<uint16_t>(buffer, Value ? 1 : 0);
  SetData(buffer);
}

void TBooleanField::SetAsString(const std::string& Value) {
  const int64_t length = static_cast<int64_t>(Value.size());
  if (length == 0) {
    Clear();
  } else if (!falseText_.empty() && AnsiSameText(Value, Copy(falseText_, 1, length))) {
    SetAsBoolean(false);
  } else if (!trueText_.empty() && AnsiSameText(Value, Copy(trueText_, 1, length))) {
    SetAsBoolean(true);
  } else {
    DatabaseErrorFmt(SInvalidBoolValue, {Value, DisplayName()});
  }
}

void TBooleanField::SetVarValue(const Variant& Value) {
  if (VarIsStr(Value))
    SetAsString(Value.AsString());
  else
    SetAsBoolean(Value.AsBoolean());
}

// ---- TDateTimeField, TDateField, TTimeField ----

TDateTimeField::TDateTimeField(TComponent* AOwner) : TDateTimeField(AOwner, ftDateTime) {}

TDateTimeField::TDateTimeField(TComponent* AOwner, TFieldType DataType) : TField(AOwner) {
  SetDataType(DataType);
}

int32_t TDateTimeField::DataSize() const {
  return DataType() == ftDateTime ? 8 : 4;
}

int32_t TDateTimeField::DefaultDisplayWidth() const {
  switch (DataType()) {
    case ftDate:
      return 10;
    case ftTime:
      return 8;
    default:
      return 19;
  }
}

TDateTime TDateTimeField::GetAsDateTime() const {
  alignas(8) uint8_t native[8] = {};
  if (!ReadFixed(native, sizeof native)) return 0;
  return NativeToDateTime(DataType(), native);
}

double TDateTimeField::GetAsFloat() const {
  return GetAsDateTime();
}

std::string TDateTimeField::GetAsString() const {
  alignas(8) uint8_t native[8] = {};
  if (!ReadFixed(native, sizeof native)) return std::string();
  const TDateTime value = NativeToDateTime(DataType(), native);
  switch (DataType()) {
    case ftDate:
      return DateToStr(value);
    case ftTime:
      return TimeToStr(value);
    default:
      return DateTimeToStr(value);
  }
}

Variant TDateTimeField::GetAsVariant() const {
  alignas(8) uint8_t native[8] = {};
  if (!ReadFixed(native, sizeof native)) return Null();
  return VarFromDateTime(NativeToDateTime(DataType(), native));
}

void TDateTimeField::GetText(std::string& Text, bool DisplayText) const {
  alignas(8) uint8_t native[8] = {};
  if (!ReadFixed(native, sizeof native)) {
    Text.clear();
    return;
  }
  if (DisplayText && !displayFormat_.empty())
    Text = FormatDateTime(displayFormat_, NativeToDateTime(DataType(), native));
  else
    Text = GetAsString();
}

void TDateTimeField::SetAsDateTime(TDateTime Value) {
  alignas(8) uint8_t buffer[8 + NativeBufferSlack] = {};
  DateTimeToNative(DataType(), Value, buffer);
  SetData(buffer);
}

void TDateTimeField::SetAsFloat(double Value) {
  SetAsDateTime(Value);
}

void TDateTimeField::SetAsString(const std::string& Value) {
  if (Trim(Value).empty()) {
    Clear();
    return;
  }
  switch (DataType()) {
    case ftDate:
      SetAsDateTime(StrToDate(Value));
      break;
    case ftTime:
      SetAsDateTime(StrToTime(Value));
      break;
    default:
      SetAsDateTime(StrToDateTime(Value));
      break;
  }
}

void TDateTimeField::SetVarValue(const Variant& Value) {
  if (VarIsStr(Value))
    SetAsString(Value.AsString());
  else
    SetAsDateTime(Value.AsDateTime());
}

TDateField::TDateField(TComponent* AOwner) : TDateTimeField(AOwner, ftDate) {}

TTimeField::TTimeField(TComponent* AOwner) : TDateTimeField(AOwner, ftTime) {}

// ---- TBinaryField, TBytesField, TVarBytesField ----

TBinaryField::TBinaryField(TComponent* AOwner, TFieldType DataType) : TField(AOwner) {
  SetDataType(DataType);
  SetSize(16);
}

void TBinaryField::CheckTypeSize(int32_t Value) const {
  if (Value < 1 || Value > 65535) DatabaseError(SInvalidFieldSize);
}

std::string TBinaryField::GetAsString() const {
  TNativeBuffer buffer;
  if (!ReadNative(buffer)) return std::string();
  const char* data = reinterpret_cast<const char*>(buffer.Data());
  if (DataType() == ftVarBytes) {
    const size_t length = std::min<size_t>(LoadNative<uint16_t>(data), static_cast<size_t>(Size()));
    return std::string(data + 2, length);
  }
  return std::string(data, static_cast<size_t>(Size()));
}

void TBinaryField::SetAsString(const std::string& Value) {
  if (static_cast<int64_t>(Value.size()) > Size()) TooLongError(Value.size(), Size());
  std::vector<uint8_t> buffer(static_cast<size_t>(DataSize()) + NativeBufferSlack, 0);
  if (DataType() == ftVarBytes) {
    StoreNative<uint16_t>(buffer.data(), static_cast<uint16_t>(Value.size()));
    std::memcpy(buffer.data() + 2, Value.data(), Value.size());
  } else {
    std::memcpy(buffer.data(), Value.data(), Value.size());
  }
  SetData(buffer.data());
}

Variant TBinaryField::GetAsVariant() const {
  if (IsNull()) return Null();
  return Variant(GetAsString());
}

void TBinaryField::SetVarValue(const Variant& Value) {
  SetAsString(Value.AsString());
}

TBytesField::TBytesField(TComponent* AOwner) : TBinaryField(AOwner, ftBytes) {}

TVarBytesField::TVarBytesField(TComponent* AOwner) : TBinaryField(AOwner, ftVarBytes) {}

// ---- TBlobField, TMemoField, TGraphicField ----

TBlobField::TBlobField(TComponent* AOwner) : TBlobField(AOwner, ftBlob) {}

TBlobField::TBlobField(TComponent* AOwner, TFieldType DataType) : TField(AOwner) {
  SetDataType(DataType);
}

void TBlobField::SetBlobType(TFieldType Value) {
  SetDataType(Value);
}

void TBlobField::CheckTypeSize(int32_t Value) const {
  if (Value < 0) DatabaseError(SInvalidFieldSize);
}

bool TBlobField::GetIsNull() const {
  if (DataSet() == nullptr) DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
  std::unique_ptr<TStream> stream =
      DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  return stream == nullptr || stream->Size() == 0;
}

std::string TBlobField::GetAsString() const {
  if (DataSet() == nullptr) DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
  std::unique_ptr<TStream> stream =
      DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  if (stream == nullptr) return std::string();
  const int64_t size = stream->Size();
  if (size > INT32_MAX) DatabaseErrorFmt(SFieldAccessError, {DisplayName(), "String"});
  std::string value(static_cast<size_t>(size), '\0');
  stream->SetPosition(0);
  if (size > 0) stream->ReadBuffer(value.data(), static_cast<int32_t>(size));
  return value;
}

void TBlobField::SetAsString(const std::string& Value) {
  CheckWritable();
  if (Value.size() > static_cast<size_t>(INT32_MAX)) TooLongError(Value.size(), INT32_MAX);
  std::unique_ptr<TStream> stream = DataSet()->CreateBlobStream(this, bmWrite);
  if (stream == nullptr) AccessError("String");
  // Written even when empty: a write stream that saw no write leaves the
  // blob as it was, and an empty value must replace it.
  const int32_t count = static_cast<int32_t>(Value.size());
  if (stream->Write(Value.data(), count) != count) throw EWriteError("Stream write error");
  stream.reset();
  modified_ = true;
}

void TBlobField::Clear() {
  SetAsString(std::string());
}

void TBlobField::LoadFromStream(TStream& Stream) {
  CheckWritable();
  std::unique_ptr<TStream> blob = DataSet()->CreateBlobStream(this, bmWrite);
  if (blob == nullptr) AccessError("String");
  if (Stream.Size() == 0)
    blob->Write(nullptr, 0);
  else
    blob->CopyFrom(Stream, 0);
  blob.reset();
  modified_ = true;
}

void TBlobField::SaveToStream(TStream& Stream) const {
  if (DataSet() == nullptr) DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
  std::unique_ptr<TStream> blob =
      DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  if (blob != nullptr && blob->Size() > 0) Stream.CopyFrom(*blob, 0);
}

void TBlobField::LoadFromFile(const std::string& FileName) {
  TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TBlobField::SaveToFile(const std::string& FileName) const {
  TFileStream stream(FileName, fmCreate);
  SaveToStream(stream);
}

Variant TBlobField::GetAsVariant() const {
  const std::string value = GetAsString();
  if (value.empty()) return Null();
  return Variant(value);
}

void TBlobField::SetVarValue(const Variant& Value) {
  SetAsString(Value.AsString());
}

void TBlobField::GetText(std::string& Text, bool DisplayText) const {
  const bool text = DataType() == ftMemo || DataType() == ftFmtMemo;
  if (text && !DisplayText) {
    Text = GetAsString();
    return;
  }
  std::string name;
  switch (DataType()) {
    case ftMemo:
      name = "Memo";
      break;
    case ftFmtMemo:
      name = "FmtMemo";
      break;
    case ftGraphic:
      name = "Graphic";
      break;
    default:
      name = "Blob";
      break;
  }
  Text = "(" + (IsNull() ? name : UpperCase(name)) + ")";
}

TMemoField::TMemoField(TComponent* AOwner) : TBlobField(AOwner, ftMemo) {}

TGraphicField::TGraphicField(TComponent* AOwner) : TBlobField(AOwner, ftGraphic) {}

// ---- the class of each field type ----

TField* NewField(TFieldType DataType, TComponent* AOwner) {
  switch (DataType) {
    case ftString:
      return new TStringField(AOwner);
    case ftFixedChar: {
      auto* field = new TStringField(AOwner);
      field->SetFixedChar(true);
      return field;
    }
    case ftWideString:
      return new TWideStringField(AOwner);
    case ftSmallint:
      return new TSmallintField(AOwner);
    case ftInteger:
      return new TIntegerField(AOwner);
    case ftWord:
      return new TWordField(AOwner);
    case ftAutoInc:
      return new TAutoIncField(AOwner);
    case ftLargeint:
      return new TLargeintField(AOwner);
    case ftBoolean:
      return new TBooleanField(AOwner);
    case ftFloat:
      return new TFloatField(AOwner);
    case ftCurrency:
      return new TCurrencyField(AOwner);
    case ftBCD:
      return new TBCDField(AOwner);
    case ftDate:
      return new TDateField(AOwner);
    case ftTime:
      return new TTimeField(AOwner);
    case ftDateTime:
      return new TDateTimeField(AOwner);
    case ftBytes:
      return new TBytesField(AOwner);
    case ftVarBytes:
      return new TVarBytesField(AOwner);
    case ftMemo:
      return new TMemoField(AOwner);
    case ftGraphic:
      return new TGraphicField(AOwner);
    case ftBlob:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob: {
      auto* field = new TBlobField(AOwner);
      field->SetBlobType(DataType);
      return field;
    }
    default:
      return nullptr;
  }
}

}  // namespace plat
