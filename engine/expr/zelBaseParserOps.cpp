#include "engine/expr/zelBaseParserOps.h"

#include <cctype>

#include "engine/storage/zelCommonError.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

constexpr int32_t kErrInvalidTimeValue = 0x274A;
constexpr int32_t kErrInvalidDateValue = 0x274B;
constexpr const char* kConvertCaller = "TExprOptimizerMgr.ConvertStrToDateTime";
constexpr const char* kConvertFormatMsg = "Value %s was not of the expected format %s";

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Letters include every byte of a multi-byte character, so month names in
// UTF-8 stay one item.
bool IsLetterOrDigit(char c) {
  const auto u = static_cast<unsigned char>(c);
  return IsDigit(c) || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u >= 0x80;
}

// A run of at most nine digits (so it cannot overflow); false otherwise.
bool ParseNumber(const std::string& Item, int32_t& Value) {
  if (Item.empty() || Item.size() > 9) return false;
  int32_t result = 0;
  for (char c : Item) {
    if (!IsDigit(c)) return false;
    result = result * 10 + (c - '0');
  }
  Value = result;
  return true;
}

int32_t NumberOrZero(const std::string& Item) {
  int32_t value = 0;
  return ParseNumber(Item, value) ? value : 0;
}

// Offset of the first letter c in s, or the length (after every letter).
std::size_t LetterPos(const std::string& s, char c) {
  const std::size_t p = s.find(c);
  return p == std::string::npos ? s.size() : p;
}

}  // namespace

// ---------------------------------------------------------------------------
// TZelOpEvaluator

bool TZelOpEvaluator::IsTrue(const plat::Variant& Value) {
  if (Value.IsEmpty() || Value.IsNull()) return false;
  // What conditions give; anything else is compared with True.
  if (Value.VarType() == plat::varBoolean) return Value.AsBoolean();
  return Value == plat::Variant(true);
}

plat::Variant TZelOpEvaluator::EvaluateArithExprValues(TZelExprOperator Operator,
                                                       const plat::Variant& Left,
                                                       const plat::Variant& Right) {
  if (Left.IsNull() || Right.IsNull()) return plat::Unassigned();
  switch (Operator) {
    case zeoADD:
      return Left + Right;
    case zeoSUB:
    case zeoMINUS:
      return Left - Right;
    case zeoMUL:
      return Left * Right;
    case zeoDIV:
      // The real quotient; a zero divisor raises the variant division error.
      return plat::Variant(Left.AsFloat()) / plat::Variant(Right.AsFloat());
    default:
      return plat::Unassigned();
  }
}

namespace {

enum class Truth { False, True, Unknown };

// Unknown and Null are "unknown"; anything else is read as a Boolean.
Truth TruthOf(const plat::Variant& Value) {
  if (Value.IsEmpty() || Value.IsNull()) return Truth::Unknown;
  return Value.AsBoolean() ? Truth::True : Truth::False;
}

plat::Variant VariantOf(Truth Value) {
  if (Value == Truth::Unknown) return plat::Unassigned();
  return plat::Variant(Value == Truth::True);
}

}  // namespace

void TZelOpEvaluator::EvaluateLogicalExprAsVar(TZelExprOperator Operator, const plat::Variant& Left,
                                               const plat::Variant& Right, plat::Variant& Result) {
  Result = plat::Unassigned();
  switch (Operator) {
    case zeoISBLANK:
      // An unknown value (say, arithmetic over a Null) has no value either.
      Result = plat::Variant(Left.IsNull() || Left.IsEmpty());
      break;
    case zeoNOTBLANK:
      Result = plat::Variant(!Left.IsNull() && !Left.IsEmpty());
      break;
    case zeoNOT: {
      const Truth value = TruthOf(Left);
      Result = VariantOf(value == Truth::Unknown ? Truth::Unknown
                         : value == Truth::True  ? Truth::False
                                                 : Truth::True);
      break;
    }
    case zeoAND: {
      // Kleene: False decides, else unknown wins over True.
      const Truth l = TruthOf(Left);
      const Truth r = TruthOf(Right);
      if (l == Truth::False || r == Truth::False)
        Result = VariantOf(Truth::False);
      else if (l == Truth::True && r == Truth::True)
        Result = VariantOf(Truth::True);
      break;
    }
    case zeoOR: {
      // Kleene: True decides, else unknown wins over False.
      const Truth l = TruthOf(Left);
      const Truth r = TruthOf(Right);
      if (l == Truth::True || r == Truth::True)
        Result = VariantOf(Truth::True);
      else if (l == Truth::False && r == Truth::False)
        Result = VariantOf(Truth::False);
      break;
    }
    default:
      break;
  }
}

bool TZelOpEvaluator::EvaluateLogicalExprAsBoolean(TZelExprOperator Operator,
                                                   const plat::Variant& Left,
                                                   const plat::Variant& Right) {
  plat::Variant result;
  EvaluateLogicalExprAsVar(Operator, Left, Right, result);
  return IsTrue(result);
}

namespace {

// The comparison's truth, computed without building a value on the way.
Truth RelopTruth(TZelExprOperator Operator, const plat::Variant& Left, const plat::Variant& Right,
                 bool ExcludeRelopNulls) {
  // An unknown operand leaves the comparison unknown; a Null one too when
  // Nulls are excluded (otherwise Null orders first and equals Null).
  if (Left.IsEmpty() || Right.IsEmpty()) return Truth::Unknown;
  if (ExcludeRelopNulls && (Left.IsNull() || Right.IsNull())) return Truth::Unknown;
  bool outcome = false;
  if (Left.IsNull() && !Right.IsNull()) {
    // Null orders before every value.
    outcome = Operator == zeoNE || Operator == zeoLT || Operator == zeoLE;
  } else {
    switch (Operator) {
      case zeoEQ:
      case zeoNE:
      case zeoGT:
      case zeoLT:
      case zeoGE:
      case zeoLE:
      case zeoLIKE: {
        const plat::TVariantRelationship rel = plat::VarCompareValue(Left, Right);
        const bool eq = rel == plat::vrEqual;
        const bool lt = rel == plat::vrLessThan;
        const bool gt = rel == plat::vrGreaterThan;
        switch (Operator) {
          case zeoEQ:
          case zeoLIKE:
            outcome = eq;
            break;
          case zeoNE:
            outcome = !eq;
            break;
          case zeoGT:
            outcome = gt;
            break;
          case zeoLT:
            outcome = lt;
            break;
          case zeoGE:
            outcome = gt || eq;
            break;
          default:
            outcome = lt || eq;
            break;
        }
        break;
      }
      default:
        break;
    }
  }
  return outcome ? Truth::True : Truth::False;
}

}  // namespace

void TZelOpEvaluator::EvaluateRelopExprAsVar(TZelExprOperator Operator, const plat::Variant& Left,
                                             const plat::Variant& Right, plat::Variant& Result,
                                             bool ExcludeRelopNulls) {
  // Unknown should the comparison raise.
  Result = plat::Unassigned();
  Result = VariantOf(RelopTruth(Operator, Left, Right, ExcludeRelopNulls));
}

bool TZelOpEvaluator::EvaluateRelopExprAsBoolean(TZelExprOperator Operator,
                                                 const plat::Variant& Left,
                                                 const plat::Variant& Right,
                                                 bool ExcludeRelopNulls) {
  plat::Variant result;
  EvaluateRelopExprAsVar(Operator, Left, Right, result, ExcludeRelopNulls);
  return IsTrue(result);
}

// ---------------------------------------------------------------------------
// TZelDataConversionValidator

bool TZelDataConversionValidator::CheckDataConversionValid(plat::TFieldType FromType,
                                                           plat::TFieldType ToType) {
  if (FromType != plat::ftBoolean) return true;
  switch (ToType) {
    case plat::ftFloat:
    case plat::ftDate:
    case plat::ftTime:
    case plat::ftDateTime:
    case plat::ftBlob:
      return false;
    default:
      return true;
  }
}

void TZelDataConversionValidator::PerformDataConversionToType(plat::TFieldType FromType,
                                                              plat::TFieldType ToType,
                                                              plat::Variant& Result,
                                                              const plat::Variant& Value) {
  if (FromType == plat::ftString &&
      (ToType == plat::ftDate || ToType == plat::ftTime || ToType == plat::ftDateTime))
    ConvertStrToDateTime(plat::VarToStr(Value), ToType, Result);
  else
    Result = Value;
}

void TZelDataConversionValidator::ConvertStrToDateTime(const std::string& Text,
                                                       plat::TFieldType FieldType,
                                                       plat::Variant& Result) {
  if (Text.empty()) {
    Result = plat::Null();
    return;
  }
  TZelStrToDateTimeConverter converter;
  const std::string order = TZelStrToDateTimeConverter::GetSDFOrder();
  plat::TDateTime date = 0;
  plat::TDateTime time = 0;
  bool dateRead = false;
  if (FieldType == plat::ftDate || FieldType == plat::ftDateTime) {
    if (!converter.ConvertStrToDate(Text, order, plat::ftDate, date) &&
        !converter.ConvertStrToDate(Text, "YMD", plat::ftDate, date))
      ZelDatabaseErrorFmt(kErrInvalidDateValue, kConvertCaller, kConvertFormatMsg,
                          {Text, "yyyy-mmm-dd"});
    dateRead = true;
  }
  bool timeOk = true;
  if (FieldType == plat::ftTime)
    timeOk = converter.ConvertStrToDate(Text, order, plat::ftTime, time);
  else if (FieldType == plat::ftDateTime && dateRead &&
           static_cast<int32_t>(Text.size()) >= converter.LastPos())
    timeOk = converter.ConvertStrToDateFromLastPos(Text, order, plat::ftTime, time);
  if (!timeOk)
    ZelDatabaseErrorFmt(kErrInvalidTimeValue, kConvertCaller, kConvertFormatMsg,
                        {Text, plat::FormatSettings.LongTimeFormat});
  Result = plat::VarFromDateTime(date < 0 ? date - time : date + time);
}

// ---------------------------------------------------------------------------
// TZelStrToDateTimeConverter

bool TZelStrToDateTimeConverter::ConvertStrToDate(const std::string& Text, const std::string& Order,
                                                  plat::TFieldType FieldType,
                                                  plat::TDateTime& DateTime) {
  LastPos_ = 1;
  return ConvertStrToDateFromLastPos(Text, Order, FieldType, DateTime);
}

bool TZelStrToDateTimeConverter::ConvertStrToDateFromLastPos(const std::string& Text,
                                                             const std::string& Order,
                                                             plat::TFieldType FieldType,
                                                             plat::TDateTime& DateTime) {
  const int32_t start = LastPos_ < 1 ? 1 : LastPos_;
  if (FieldType == plat::ftTime) return GetTime(Text, start, DateTime);
  return GetDate(Text, Order, start, DateTime);
}

std::string TZelStrToDateTimeConverter::GetSDFOrder() {
  const std::string format = plat::UpperCase(plat::FormatSettings.ShortDateFormat);
  const std::size_t y = LetterPos(format, 'Y');
  const std::size_t m = LetterPos(format, 'M');
  const std::size_t d = LetterPos(format, 'D');
  if (y < m && y < d) return m <= d ? "YMD" : "YDM";
  return m <= d ? "MDY" : "DMY";
}

int32_t TZelStrToDateTimeConverter::GetDayStr(const std::string& Item) {
  if (Item.size() < 3) return NumberOrZero(Item);
  std::string name = plat::AnsiLowerCase(Item);
  name = plat::AnsiUpperCase(name.substr(0, 1)) + name.substr(1);
  for (int32_t i = 0; i < 7; ++i) {
    const std::string& day = plat::FormatSettings.LongDayNames[i];
    if (!day.empty() && name.find(day) != std::string::npos) return i + 1;
  }
  return 0;
}

int32_t TZelStrToDateTimeConverter::GetMonthStr(const std::string& Item) {
  if (Item.size() < 3) return NumberOrZero(Item);
  for (int32_t i = 0; i < 12; ++i)
    if (plat::AnsiSameText(plat::FormatSettings.ShortMonthNames[i], Item)) return i + 1;
  return 0;
}

std::string TZelStrToDateTimeConverter::ScanDateStrGap(const std::string& Text, int32_t& Pos) {
  const int32_t start = Pos;
  while (Pos >= 1 && Pos <= static_cast<int32_t>(Text.size()) && !IsLetterOrDigit(Text[Pos - 1]))
    ++Pos;
  return Pos > start ? Text.substr(start - 1, Pos - start) : std::string();
}

std::string TZelStrToDateTimeConverter::ScanDateStrData(const std::string& Text, int32_t& Pos) {
  const int32_t start = Pos;
  while (Pos >= 1 && Pos <= static_cast<int32_t>(Text.size()) && IsLetterOrDigit(Text[Pos - 1]))
    ++Pos;
  return Pos > start ? Text.substr(start - 1, Pos - start) : std::string();
}

std::string TZelStrToDateTimeConverter::ScanTimeStrGap(const std::string& Text, int32_t& Pos) {
  const int32_t start = Pos;
  while (Pos >= 1 && Pos <= static_cast<int32_t>(Text.size()) && !IsDigit(Text[Pos - 1])) ++Pos;
  return Pos > start ? Text.substr(start - 1, Pos - start) : std::string();
}

std::string TZelStrToDateTimeConverter::ScanTimeStrData(const std::string& Text, int32_t& Pos) {
  const int32_t start = Pos;
  while (Pos >= 1 && Pos <= static_cast<int32_t>(Text.size()) && IsDigit(Text[Pos - 1])) ++Pos;
  return Pos > start ? Text.substr(start - 1, Pos - start) : std::string();
}

bool TZelStrToDateTimeConverter::GetDate(const std::string& Text, const std::string& Order,
                                         int32_t StartPos, plat::TDateTime& DateTime) {
  const auto size = static_cast<int32_t>(Text.size());
  int32_t pos = StartPos < 1 ? 1 : StartPos;
  while (pos <= size && Text[pos - 1] == ' ') ++pos;
  int32_t day = 0, month = 0, year = 0;
  bool yearSet = false;
  int32_t items = 0;
  for (; items < 3 && items < static_cast<int32_t>(Order.size()) && pos <= size; ++items) {
    const std::string item = ScanDateStrData(Text, pos);
    ScanDateStrGap(Text, pos);
    if (item.empty()) break;
    switch (Order[items]) {
      case 'D':
        day = GetDayStr(item);
        break;
      case 'M':
        month = GetMonthStr(item);
        break;
      case 'Y': {
        int32_t value = 0;
        if (ParseNumber(item, value)) {
          if (value < 100) {
            uint16_t currentYear = 0, m = 0, d = 0;
            plat::DecodeDate(plat::Date(), currentYear, m, d);
            const int32_t window = plat::FormatSettings.TwoDigitYearCenturyWindow;
            const int32_t windowStart = currentYear - window;
            value += (windowStart / 100) * 100;
            if (window != 0 && value < windowStart) value += 100;
          }
          year = value;
          yearSet = true;
        }
        break;
      }
      default:
        break;
    }
  }
  plat::TDateTime value = 0;
  const bool ok = items == 3 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && yearSet &&
                  plat::TryEncodeDate(year, month, day, value);
  if (!ok) {
    LastPos_ = -1;
    return false;
  }
  DateTime = value;
  LastPos_ = pos;
  return true;
}

bool TZelStrToDateTimeConverter::GetTime(const std::string& Text, int32_t StartPos,
                                         plat::TDateTime& DateTime) {
  const auto size = static_cast<int32_t>(Text.size());
  int32_t pos = StartPos < 1 ? 1 : StartPos;
  while (pos <= size && Text[pos - 1] == ' ') ++pos;
  const int32_t timeStart = pos;
  int32_t parts[4] = {0, 0, 0, 0};
  int32_t items = 0;
  for (; items < 4 && pos <= size; ++items) {
    const std::string item = ScanTimeStrData(Text, pos);
    if (!ParseNumber(item, parts[items])) return false;
    ScanTimeStrGap(Text, pos);
  }
  // A text without a single number is no time.
  if (items == 0) return false;
  // Only the time's own text is searched for the markers, so a date part in
  // front of it cannot turn the hour.
  const std::string upper = plat::AnsiUpperCase(Text.substr(timeStart - 1));
  const std::string pm = plat::AnsiUpperCase(plat::FormatSettings.TimePMString);
  const std::string am = plat::AnsiUpperCase(plat::FormatSettings.TimeAMString);
  if (upper.find("PM") != std::string::npos ||
      (!pm.empty() && upper.find(pm) != std::string::npos)) {
    if (parts[0] < 12) parts[0] += 12;
  } else if (upper.find("AM") != std::string::npos ||
             (!am.empty() && upper.find(am) != std::string::npos)) {
    if (parts[0] == 12) parts[0] = 0;
  }
  plat::TDateTime value = 0;
  if (!plat::TryEncodeTime(parts[0], parts[1], parts[2], parts[3], value)) return false;
  DateTime = value;
  LastPos_ = pos;
  return true;
}

}  // namespace zel
