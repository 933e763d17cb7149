#include "engine/expr/zelBaseParserOps.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/storage/zelCommonError.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

namespace zel {
namespace {

using plat::Variant;

// What a three-valued result is: unknown, a Boolean, or Null.
enum Truth { U, F, T };

Truth TruthOf(const Variant& v) {
  if (v.IsEmpty()) return U;
  EXPECT_EQ(v.VarType(), plat::varBoolean);
  return v.AsBoolean() ? T : F;
}

const Variant kUnknown;
const Variant kNull = plat::Null();
const Variant kTrue(true);
const Variant kFalse(false);

TEST(OpEvaluator, Arithmetic) {
  struct Case {
    const char* name;
    TZelExprOperator op;
    Variant left, right, expected;
  };
  const Case cases[] = {
      {"add", zeoADD, Variant(2), Variant(3), Variant(5)},
      {"sub", zeoSUB, Variant(2), Variant(3), Variant(-1)},
      {"minus", zeoMINUS, Variant(7), Variant(3), Variant(4)},
      {"mul", zeoMUL, Variant(4), Variant(3), Variant(12)},
      {"real quotient", zeoDIV, Variant(7), Variant(2), Variant(3.5)},
      {"strings concatenate", zeoADD, Variant("ab"), Variant("cd"), Variant("abcd")},
      {"overflow widens", zeoMUL, Variant(2000000000), Variant(2), Variant(4000000000.0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Variant r = TZelOpEvaluator::EvaluateArithExprValues(c.op, c.left, c.right);
    EXPECT_EQ(r.VarType(), c.expected.VarType());
    EXPECT_TRUE(r == c.expected) << r.AsString();
  }
  EXPECT_EQ(TZelOpEvaluator::EvaluateArithExprValues(zeoDIV, Variant(7), Variant(2)).VarType(),
            plat::varDouble);

  // Null on either side, and operators that are not arithmetic, give unknown.
  const Case unknown[] = {
      {"null left", zeoADD, kNull, Variant(1), kUnknown},
      {"null right", zeoDIV, Variant(1), kNull, kUnknown},
      {"null by zero", zeoDIV, kNull, Variant(0), kUnknown},
      {"mod", zeoMOD, Variant(7), Variant(2), kUnknown},
      {"relational", zeoEQ, Variant(7), Variant(7), kUnknown},
  };
  for (const Case& c : unknown) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(TZelOpEvaluator::EvaluateArithExprValues(c.op, c.left, c.right).IsEmpty());
  }

  // A date moves by days.
  const plat::TDateTime day = plat::EncodeDate(2001, 1, 15);
  const Variant later =
      TZelOpEvaluator::EvaluateArithExprValues(zeoADD, plat::VarFromDateTime(day), Variant(2));
  EXPECT_EQ(later.VarType(), plat::varDate);
  EXPECT_DOUBLE_EQ(later.AsDateTime(), day + 2);

  EXPECT_THROW(TZelOpEvaluator::EvaluateArithExprValues(zeoDIV, Variant(1), Variant(0)),
               plat::Exception);
  EXPECT_THROW(TZelOpEvaluator::EvaluateArithExprValues(zeoSUB, Variant("x"), Variant(1)),
               plat::Exception);
}

TEST(OpEvaluator, ThreeValuedLogic) {
  struct Case {
    TZelExprOperator op;
    Variant left, right;
    Truth expected;
  };
  const Case cases[] = {
      {zeoISBLANK, kNull, kUnknown, T},
      {zeoISBLANK, kUnknown, kUnknown, T},
      {zeoISBLANK, Variant(0), kUnknown, F},
      {zeoNOTBLANK, kNull, kUnknown, F},
      {zeoNOTBLANK, kUnknown, kUnknown, F},
      {zeoNOTBLANK, Variant("x"), kUnknown, T},
      {zeoNOT, kUnknown, kUnknown, U},
      {zeoNOT, kTrue, kUnknown, F},
      {zeoNOT, kFalse, kUnknown, T},
      {zeoAND, kUnknown, kTrue, U},
      {zeoAND, kFalse, kUnknown, F},
      {zeoAND, kUnknown, kFalse, F},
      {zeoAND, kUnknown, kUnknown, U},
      {zeoAND, kNull, kTrue, U},
      {zeoAND, kTrue, kTrue, T},
      {zeoAND, kTrue, kFalse, F},
      {zeoOR, kUnknown, kTrue, T},
      {zeoOR, kTrue, kUnknown, T},
      {zeoOR, kUnknown, kFalse, U},
      {zeoOR, kFalse, kUnknown, U},
      {zeoOR, kNull, kFalse, U},
      {zeoNOT, kNull, kUnknown, U},
      {zeoOR, kUnknown, kUnknown, U},
      {zeoOR, kFalse, kFalse, F},
      {zeoOR, kFalse, kTrue, T},
      {zeoEQ, kTrue, kTrue, U},
      {zeoADD, kTrue, kTrue, U},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE("case " + std::to_string(i));
    Variant result = Variant(123);  // overwritten in every case
    TZelOpEvaluator::EvaluateLogicalExprAsVar(c.op, c.left, c.right, result);
    EXPECT_EQ(TruthOf(result), c.expected);
    EXPECT_EQ(TZelOpEvaluator::EvaluateLogicalExprAsBoolean(c.op, c.left, c.right),
              c.expected == T);
  }
}

TEST(OpEvaluator, RelationalWithNullsAndUnknowns) {
  struct Case {
    TZelExprOperator op;
    Variant left, right;
    bool excludeNulls;
    Truth expected;
  };
  const Case cases[] = {
      // Null orders before every value.
      {zeoEQ, kNull, Variant(5), false, F},
      {zeoNE, kNull, Variant(5), false, T},
      {zeoGT, kNull, Variant(5), false, F},
      {zeoLT, kNull, Variant(5), false, T},
      {zeoGE, kNull, Variant(5), false, F},
      {zeoLE, kNull, Variant(5), false, T},
      {zeoLIKE, kNull, Variant("a"), false, F},
      {zeoADD, kNull, Variant(5), false, F},
      {zeoGT, Variant(5), kNull, false, T},
      {zeoEQ, kNull, kNull, false, T},
      // Excluding nulls: any unknown or Null side is unknown.
      {zeoEQ, kNull, Variant(5), true, U},
      {zeoNE, kNull, Variant(5), true, U},
      {zeoEQ, Variant(5), kNull, true, U},
      {zeoEQ, kUnknown, Variant(5), true, U},
      {zeoNE, Variant(5), kUnknown, true, U},
      // An unknown side is unknown whether Nulls are excluded or not.
      {zeoEQ, kUnknown, Variant(5), false, U},
      {zeoLT, Variant(5), kUnknown, false, U},
      // Values.
      {zeoEQ, Variant(5), Variant(5.0), true, T},
      {zeoNE, Variant(5), Variant(6), true, T},
      {zeoGT, Variant(6), Variant(5), true, T},
      {zeoLT, Variant(6), Variant(5), true, F},
      {zeoGE, Variant(5), Variant(5), true, T},
      {zeoLE, Variant(4), Variant(5), true, T},
      {zeoLE, Variant(6), Variant(5), true, F},
      {zeoLIKE, Variant("ab"), Variant("ab"), true, T},
      {zeoEQ, Variant("abc"), Variant("abd"), true, F},
      {zeoEQ, kTrue, Variant(-1), true, T},
      {zeoAND, Variant(1), Variant(1), true, F},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE("case " + std::to_string(i));
    Variant result = Variant(123);
    TZelOpEvaluator::EvaluateRelopExprAsVar(c.op, c.left, c.right, result, c.excludeNulls);
    EXPECT_EQ(TruthOf(result), c.expected);
    EXPECT_EQ(TZelOpEvaluator::EvaluateRelopExprAsBoolean(c.op, c.left, c.right, c.excludeNulls),
              c.expected == T);
  }
  Variant result;
  EXPECT_THROW(
      TZelOpEvaluator::EvaluateRelopExprAsVar(zeoEQ, Variant("x"), Variant(1), result, false),
      plat::Exception);
}

TEST(DataConversionValidator, OnlyBooleanToNumbersAndDatesIsRefused) {
  for (int from = plat::ftUnknown; from <= plat::ftDateTime; ++from) {
    for (int to = plat::ftUnknown; to <= plat::ftBlob; ++to) {
      const auto f = static_cast<plat::TFieldType>(from);
      const auto t = static_cast<plat::TFieldType>(to);
      const bool refused =
          f == plat::ftBoolean && (t == plat::ftFloat || t == plat::ftDate || t == plat::ftTime ||
                                   t == plat::ftDateTime || t == plat::ftBlob);
      EXPECT_EQ(TZelDataConversionValidator::CheckDataConversionValid(f, t), !refused)
          << from << " -> " << to;
    }
  }
}

plat::TDateTime Parse(const std::string& text, plat::TFieldType type) {
  Variant result;
  TZelDataConversionValidator::ConvertStrToDateTime(text, type, result);
  return result.AsDateTime();
}

// Sets the process-wide format settings for one test and puts them back.
class FormatSettingsGuard {
 public:
  FormatSettingsGuard() : saved_(plat::FormatSettings) {}
  ~FormatSettingsGuard() { plat::FormatSettings = saved_; }

 private:
  plat::TFormatSettings saved_;
};

TEST(DataConversionValidator, StringsToDatesAndTimes) {
  const plat::TDateTime jan15 = plat::EncodeDate(2001, 1, 15);
  struct Case {
    const char* text;
    plat::TFieldType type;
    plat::TDateTime expected;
  };
  const Case cases[] = {
      {"2001-01-15", plat::ftDate, jan15},
      {"2001-Jan-15", plat::ftDate, jan15},
      {"2001-jan-15", plat::ftDate, jan15},
      {"  2001/1/15", plat::ftDate, jan15},
      {"2001-01-15 10:30", plat::ftDateTime, jan15 + plat::EncodeTime(10, 30, 0, 0)},
      {"2001-01-15 10:30:15", plat::ftDateTime, jan15 + plat::EncodeTime(10, 30, 15, 0)},
      {"2001-01-15", plat::ftDateTime, jan15},
      {"2001-01-15 ", plat::ftDateTime, jan15},
      {"10:30", plat::ftTime, plat::EncodeTime(10, 30, 0, 0)},
      {"10:30:15:250", plat::ftTime, plat::EncodeTime(10, 30, 15, 250)},
      {"3:05 pm", plat::ftTime, plat::EncodeTime(15, 5, 0, 0)},
      {"12:05 AM", plat::ftTime, plat::EncodeTime(0, 5, 0, 0)},
      {"12:05 PM", plat::ftTime, plat::EncodeTime(12, 5, 0, 0)},
      {"1899-12-29 06:00", plat::ftDateTime, -1.25},  // time counts forward before 1900
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_NEAR(Parse(c.text, c.type), c.expected, 1e-9);
  }

  Variant result(1);
  TZelDataConversionValidator::ConvertStrToDateTime("", plat::ftDate, result);
  EXPECT_TRUE(result.IsNull());
  TZelDataConversionValidator::ConvertStrToDateTime("2001-01-15", plat::ftDate, result);
  EXPECT_EQ(result.VarType(), plat::varDate);
}

TEST(DataConversionValidator, RetriesYearMonthDayWhateverTheLocaleOrder) {
  FormatSettingsGuard guard;
  plat::FormatSettings.ShortDateFormat = "dd/mm/yyyy";
  EXPECT_EQ(TZelStrToDateTimeConverter::GetSDFOrder(), "DMY");
  EXPECT_DOUBLE_EQ(Parse("15/01/2001", plat::ftDate), plat::EncodeDate(2001, 1, 15));
  EXPECT_DOUBLE_EQ(Parse("2001-Jan-15", plat::ftDate), plat::EncodeDate(2001, 1, 15));

  struct Case {
    const char* format;
    const char* order;
  };
  const Case orders[] = {
      {"yyyy-mm-dd", "YMD"}, {"yyyy/dd/mm", "YDM"}, {"m/d/yy", "MDY"}, {"d.m.yyyy", "DMY"}};
  for (const Case& c : orders) {
    plat::FormatSettings.ShortDateFormat = c.format;
    EXPECT_EQ(TZelStrToDateTimeConverter::GetSDFOrder(), c.order) << c.format;
  }
}

TEST(DataConversionValidator, TwoDigitYearsFollowTheWindow) {
  FormatSettingsGuard guard;
  uint16_t year = 0, month = 0, day = 0;
  plat::DecodeDate(plat::Date(), year, month, day);
  plat::FormatSettings.TwoDigitYearCenturyWindow = 50;
  const int32_t windowStart = year - 50;
  for (int32_t yy : {0, 49, 50, 99}) {
    int32_t expected = yy + (windowStart / 100) * 100;
    if (expected < windowStart) expected += 100;
    TZelStrToDateTimeConverter converter;
    plat::TDateTime value = 0;
    ASSERT_TRUE(
        converter.ConvertStrToDate(std::to_string(yy) + "-03-04", "YMD", plat::ftDate, value))
        << yy;
    EXPECT_DOUBLE_EQ(value, plat::EncodeDate(expected, 3, 4)) << yy;
  }
}

TEST(DataConversionValidator, BadTextRaisesTheEngineErrors) {
  struct Case {
    const char* text;
    plat::TFieldType type;
    int32_t code;
    const char* detail;
  };
  const Case cases[] = {
      {"2001-02-30", plat::ftDate, 0x274B, "2001-02-30 was not of the expected format yyyy-mmm-dd"},
      {"2001-13-01", plat::ftDateTime, 0x274B, "yyyy-mmm-dd"},
      {"2001-01", plat::ftDate, 0x274B, "yyyy-mmm-dd"},
      {"2001-Foo-01", plat::ftDate, 0x274B, "yyyy-mmm-dd"},
      {"hello", plat::ftDate, 0x274B, "yyyy-mmm-dd"},
      {"99999999999-01-01", plat::ftDate, 0x274B, "yyyy-mmm-dd"},
      {"25:00", plat::ftTime, 0x274A, "25:00 was not of the expected format hh:nn:ss"},
      {"noon", plat::ftTime, 0x274A, "hh:nn:ss"},
      {"2001-01-15 10:99", plat::ftDateTime, 0x274A, "hh:nn:ss"},
      {"10:99999999999", plat::ftTime, 0x274A, "hh:nn:ss"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      Parse(c.text, c.type);
      ADD_FAILURE() << "no error";
    } catch (const EZelDatabaseError& e) {
      EXPECT_EQ(e.ErrorCode(), c.code);
      EXPECT_NE(std::string(e.Message()).find(c.detail), std::string::npos) << e.Message();
    }
  }
}

TEST(DataConversionValidator, PerformConversionParsesOnlyStringsIntoTemporalTypes) {
  Variant result;
  TZelDataConversionValidator::PerformDataConversionToType(plat::ftString, plat::ftDate, result,
                                                           Variant("2001-01-15"));
  EXPECT_EQ(result.VarType(), plat::varDate);
  EXPECT_DOUBLE_EQ(result.AsDateTime(), plat::EncodeDate(2001, 1, 15));

  TZelDataConversionValidator::PerformDataConversionToType(plat::ftString, plat::ftTime, result,
                                                           Variant("06:00"));
  EXPECT_DOUBLE_EQ(result.AsDateTime(), 0.25);

  TZelDataConversionValidator::PerformDataConversionToType(plat::ftString, plat::ftInteger, result,
                                                           Variant("12"));
  EXPECT_EQ(result.VarType(), plat::varString);
  TZelDataConversionValidator::PerformDataConversionToType(plat::ftInteger, plat::ftDate, result,
                                                           Variant(12));
  EXPECT_EQ(result.VarType(), plat::varInteger);
}

TEST(StrToDateTimeConverter, ItemsScannersAndLastPos) {
  EXPECT_EQ(TZelStrToDateTimeConverter::GetMonthStr("JAN"), 1);
  EXPECT_EQ(TZelStrToDateTimeConverter::GetMonthStr("dec"), 12);
  EXPECT_EQ(TZelStrToDateTimeConverter::GetMonthStr("7"), 7);
  EXPECT_EQ(TZelStrToDateTimeConverter::GetMonthStr("January"), 0);
  EXPECT_EQ(TZelStrToDateTimeConverter::GetMonthStr("x"), 0);
  EXPECT_EQ(TZelStrToDateTimeConverter::GetDayStr("15"), 15);
  EXPECT_EQ(TZelStrToDateTimeConverter::GetDayStr("MONDAY"), 2);
  EXPECT_EQ(TZelStrToDateTimeConverter::GetDayStr("1a"), 0);

  int32_t pos = 1;
  EXPECT_EQ(TZelStrToDateTimeConverter::ScanDateStrData("ab12-3", pos), "ab12");
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(TZelStrToDateTimeConverter::ScanDateStrGap("ab12-3", pos), "-");
  EXPECT_EQ(pos, 6);
  pos = 1;
  EXPECT_EQ(TZelStrToDateTimeConverter::ScanTimeStrData("10:30", pos), "10");
  EXPECT_EQ(TZelStrToDateTimeConverter::ScanTimeStrGap("10:30", pos), ":");
  EXPECT_EQ(TZelStrToDateTimeConverter::ScanTimeStrData("10:30", pos), "30");
  EXPECT_EQ(pos, 6);
  EXPECT_EQ(TZelStrToDateTimeConverter::ScanTimeStrData("10:30", pos), "");  // at the end
  EXPECT_EQ(pos, 6);

  TZelStrToDateTimeConverter converter;
  plat::TDateTime value = 0;
  ASSERT_TRUE(converter.ConvertStrToDate("2001-01-15 10:30", "YMD", plat::ftDate, value));
  EXPECT_EQ(converter.LastPos(), 12);
  ASSERT_TRUE(
      converter.ConvertStrToDateFromLastPos("2001-01-15 10:30", "YMD", plat::ftTime, value));
  EXPECT_DOUBLE_EQ(value, plat::EncodeTime(10, 30, 0, 0));
  EXPECT_FALSE(converter.ConvertStrToDate("2001-02-30", "YMD", plat::ftDate, value));
  EXPECT_EQ(converter.LastPos(), -1);
  // Three items in the wrong order are no date.
  EXPECT_FALSE(converter.ConvertStrToDate("15-01-2001", "YMD", plat::ftDate, value));
}

}  // namespace
}  // namespace zel
