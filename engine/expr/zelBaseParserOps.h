#pragma once
// The meaning of the expression operators over variant operands, the literal
// conversions the parsers may apply, and the reading of date and time texts.
//
// Three-valued logic: the unassigned variant is "unknown", the result of a
// test whose truth cannot be decided; Null is a field without a value. The
// logical operators are Kleene's: False AND unknown is False, True OR unknown
// is True, NOT unknown is unknown, and a Null operand counts as unknown. A row
// passes only when its condition is True (IsTrue). The operations here never
// raise for unknown or Null operands; errors of the variant arithmetic and
// comparison themselves (incompatible kinds) pass through to the caller.

#include <cstdint>
#include <string>

#include "engine/expr/zelBaseParserExpr.h"
#include "platform/db/DB.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Variants.h"

namespace zel {

class TZelOpEvaluator {
 public:
  // Null on either side gives unknown; an operator that is not arithmetic
  // gives unknown.
  static plat::Variant EvaluateArithExprValues(TZelExprOperator Operator, const plat::Variant& Left,
                                               const plat::Variant& Right);
  // IS NULL holds for Null and for unknown values.
  static void EvaluateLogicalExprAsVar(TZelExprOperator Operator, const plat::Variant& Left,
                                       const plat::Variant& Right, plat::Variant& Result);
  static bool EvaluateLogicalExprAsBoolean(TZelExprOperator Operator, const plat::Variant& Left,
                                           const plat::Variant& Right);
  // An unknown operand gives unknown. With ExcludeRelopNulls a Null operand
  // does too; without it Null orders before every value and equals Null.
  static void EvaluateRelopExprAsVar(TZelExprOperator Operator, const plat::Variant& Left,
                                     const plat::Variant& Right, plat::Variant& Result,
                                     bool ExcludeRelopNulls);
  static bool EvaluateRelopExprAsBoolean(TZelExprOperator Operator, const plat::Variant& Left,
                                         const plat::Variant& Right, bool ExcludeRelopNulls);
  // True only for a result that is not unknown and equals True.
  static bool IsTrue(const plat::Variant& Value);
};

class TZelDataConversionValidator {
 public:
  // Only a Boolean into a float, date, time, date-time or blob is refused.
  static bool CheckDataConversionValid(plat::TFieldType FromType, plat::TFieldType ToType);
  // A string into a date, time or date-time is parsed; anything else is
  // passed on unchanged.
  static void PerformDataConversionToType(plat::TFieldType FromType, plat::TFieldType ToType,
                                          plat::Variant& Result, const plat::Variant& Value);
  // Empty text gives Null. A date part is read in the locale's order, then
  // in year-month-day order; a bad date raises 0x274B, a bad time 0x274A.
  static void ConvertStrToDateTime(const std::string& Text, plat::TFieldType FieldType,
                                   plat::Variant& Result);
};

// Reads dates and times from text. Positions are 1-based; LastPos is the
// position just after the last date or time read (-1 after a failed date).
class TZelStrToDateTimeConverter : public plat::TObject {
 public:
  std::string ClassName() const override { return "TZelStrToDateTimeConverter"; }

  // With ftTime a time is read, with any other type a date. Order is a
  // three-letter text of D, M and Y.
  bool ConvertStrToDate(const std::string& Text, const std::string& Order,
                        plat::TFieldType FieldType, plat::TDateTime& DateTime);
  bool ConvertStrToDateFromLastPos(const std::string& Text, const std::string& Order,
                                   plat::TFieldType FieldType, plat::TDateTime& DateTime);
  // The order of the day, month and year in the locale's short date format.
  static std::string GetSDFOrder();

  bool GetDate(const std::string& Text, const std::string& Order, int32_t StartPos,
               plat::TDateTime& DateTime);
  bool GetTime(const std::string& Text, int32_t StartPos, plat::TDateTime& DateTime);
  // A day item of three or more characters names a weekday (1 Sunday to 7);
  // a shorter one is a number. 0 when neither.
  static int32_t GetDayStr(const std::string& Item);
  // A month item of three or more characters is a short month name (1 to
  // 12); a shorter one is a number. 0 when neither.
  static int32_t GetMonthStr(const std::string& Item);

  // Each scanner returns the run that starts at Pos and moves Pos after it.
  // Date gaps are runs of anything but letters and digits; time gaps runs of
  // anything but digits.
  static std::string ScanDateStrGap(const std::string& Text, int32_t& Pos);
  static std::string ScanDateStrData(const std::string& Text, int32_t& Pos);
  static std::string ScanTimeStrGap(const std::string& Text, int32_t& Pos);
  static std::string ScanTimeStrData(const std::string& Text, int32_t& Pos);

  int32_t LastPos() const { return LastPos_; }
  void SetLastPos(int32_t Value) { LastPos_ = Value; }

 private:
  int32_t LastPos_ = 1;
};

}  // namespace zel
