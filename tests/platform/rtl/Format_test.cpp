#include "platform/rtl/Format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "platform/rtl/Exceptions.h"

namespace plat {
namespace {

TEST(Format, Directives) {
  const std::string name = "table";
  struct Case {
    std::string got;
    const char* want;
  };
  const Case cases[] = {
      {Format("%d", {42}), "42"},
      {Format("%d|%d", {-7, int64_t{-9000000000}}), "-7|-9000000000"},
      {Format("%5d|%-5d|", {42, 42}), "   42|42   |"},
      {Format("%.4d|%6.3d", {-7, 5}), "-0007|   005"},
      {Format("%1d", {12345}), "12345"},  // width never cuts
      {Format("%d", {uint32_t{4000000000u}}), "4000000000"},
      {Format("%d", {uint64_t{18446744073709551615ull}}), "18446744073709551615"},
      {Format("%u|%u", {-1, int64_t{-1}}), "4294967295|18446744073709551615"},
      {Format("%x|%X|%.4x", {255, -1, 10}), "FF|FFFFFFFF|000A"},
      {Format("%x", {int64_t{-1}}), "FFFFFFFFFFFFFFFF"},
      {Format("%s and %s", {"a", name}), "a and table"},
      {Format("%s|%s", {std::string_view("view"), 'c'}), "view|c"},
      {Format("[%8s][%-8s][%.2s]", {"abc", "abc", "abc"}), "[     abc][abc     ][ab]"},
      {Format("%s", {static_cast<const char*>(nullptr)}), ""},
      {Format("%%|%d%%", {5}), "%|5%"},
      {Format("%*d|%-*d|", {4, 7, 3, 8}), "   7|8  |"},
      {Format("%.*f", {1, 2.25}), "2.3"},
      {Format("%*d", {-3, 7}), "7"},  // a negative width pads nothing
      {Format("%.*d", {int64_t{-9}, 7}), "7"},
      {Format("%.*s", {int64_t{1} << 40, "abc"}), "abc"},
      {Format("%1:s %0:s %s", {"a", "b", "c"}), "b a b"},
      {Format("%0:s%0:s", {"x"}), "xx"},
      {Format("%*:s", {1, "b"}), "b"},
      {Format("%f|%.0f|%.3f", {1.5, 2.5, -0.0005}), "1.50|3|-0.001"},
      {Format("%e", {1.5}), "1.50000000000000E+000"},
      {Format("%.3e", {-123456.0}), "-1.23E+005"},
      {Format("%g|%g|%g", {0.1, 1e20, 1e-7}), "0.1|1E020|1E-007"},
      {Format("%n", {1234567.891}), "1,234,567.89"},
      {Format("%.0n", {-999999.5}), "-1,000,000"},
      {Format("%m|%m", {1234.5, -2.0}), "$1,234.50|-$2.00"},
      {Format("%10.1f|%-8g|", {3.14159, 0.5}), "       3.1|0.5     |"},
      {Format("%p", {reinterpret_cast<const void*>(0xABC)}), "0000000000000ABC"},
      {Format("%D %S %F", {1, "s", 1.0}), "1 s 1.00"},
      {Format("no directives", {}), "no directives"},
      {Format("%d", {'\x01' + 0}), "1"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Format, TheSettingsDecide) {
  TFormatSettings s;
  s.DecimalSeparator = ',';
  s.ThousandSeparator = '.';
  s.CurrencyString = "EUR";
  s.CurrencyFormat = 3;
  s.NegCurrFormat = 8;
  EXPECT_EQ(Format("%.2f|%n|%m|%m", {1.5, 1234.5, 1234.5, -1.0}, s),
            "1,50|1.234,50|1.234,50 EUR|-1,00 EUR");
  s.NegCurrFormat = 0;
  s.CurrencyFormat = 0;
  s.CurrencyString = "$";
  EXPECT_EQ(Format("%m", {-1.0}, s), "($1,00)");
}

TEST(Format, BadDirectivesAndArguments) {
  const char* invalid = "invalid or incompatible with argument";
  const std::pair<std::string, std::string> cases[] = {
      {"%d", invalid},  {"%s", invalid}, {"%f", invalid},         {"%x", invalid},
      {"%p", invalid},  {"%q", invalid}, {"abc%", invalid},       {"%5", invalid},
      {"%*d", invalid}, {"%-", invalid}, {"%2:d", "No argument"}, {"%d %d", "No argument"},
  };
  auto run = [](const std::string& fmt) {
    if (fmt == "%d") return Format(fmt, {"text"});
    if (fmt == "%s") return Format(fmt, {12});
    if (fmt == "%f") return Format(fmt, {12});
    if (fmt == "%x") return Format(fmt, {1.5});
    if (fmt == "%p") return Format(fmt, {1});
    if (fmt == "%*d") return Format(fmt, {"w", 1});
    return Format(fmt, {1});
  };
  for (const auto& [fmt, text] : cases) {
    try {
      run(fmt);
      ADD_FAILURE() << fmt << ": no exception";
    } catch (const EConvertError& e) {
      EXPECT_NE(e.Message().find(text), std::string::npos) << fmt << ": " << e.Message();
    }
  }
  try {
    Format("Value %d", {"x"});
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Format 'Value %d' invalid or incompatible with argument");
  }
  try {
    Format("%s %s", {"x"});
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "No argument for format '%s %s'");
  }
}

TEST(FloatText, FloatToStrIsGeneralWith15Digits) {
  struct Case {
    double v;
    const char* want;
  };
  const Case cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {1, "1"},
      {-2.5, "-2.5"},
      {0.1, "0.1"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {0.0001, "0.0001"},
      {0.00001, "1E-5"},
      {1.5e-5, "1.5E-5"},
      {123456789012345.0, "123456789012345"},
      {1234567890123456.0, "1.23456789012346E15"},
      {1e15, "1E15"},
      {1e20, "1E20"},
      {-1.25e-300, "-1.25E-300"},
      {0.1 + 0.2, "0.3"},
      {std::numeric_limits<double>::infinity(), "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
      {std::nan(""), "NAN"},
      {std::numeric_limits<double>::max(), "1.79769313486232E308"},
      {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
  };
  for (const Case& c : cases) EXPECT_EQ(FloatToStr(c.v), c.want) << c.v;
}

TEST(FloatText, FloatToStrF) {
  struct Case {
    double v;
    TFloatFormat f;
    int precision, digits;
    const char* want;
  };
  const Case cases[] = {
      {1234.5678, ffGeneral, 6, 0, "1234.57"},
      {1234.5678, ffGeneral, 3, 0, "1.23E3"},
      {1234.5678, ffGeneral, 3, 2, "1.23E03"},
      {1234.5678, ffExponent, 4, 2, "1.235E+03"},
      {-0.000123, ffExponent, 3, 0, "-1.23E-4"},
      {0, ffExponent, 3, 3, "0.00E+000"},
      {1234.5678, ffFixed, 15, 2, "1234.57"},
      {1234.5678, ffFixed, 15, 0, "1235"},
      {0.5, ffFixed, 15, 0, "1"},  // half away from zero
      {-0.5, ffFixed, 15, 0, "-1"},
      {0.125, ffFixed, 15, 2, "0.13"},
      {-0.001, ffFixed, 15, 2, "0.00"},  // rounded away: no sign
      {1e20, ffFixed, 15, 2, "1E20"},    // more integer digits than precision
      {1234567.891, ffNumber, 15, 2, "1,234,567.89"},
      {-123.0, ffNumber, 15, 0, "-123"},
      {999.999, ffNumber, 15, 2, "1,000.00"},
      {1234.5, ffCurrency, 15, 2, "$1,234.50"},
      {-1234.5, ffCurrency, 15, 1, "-$1,234.5"},
      {12.0, ffFixed, 15, 25, "12.000000000000000000"},  // decimals capped at 18
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FloatToStrF(c.v, c.f, c.precision, c.digits), c.want)
        << c.v << " " << static_cast<int>(c.f) << " " << c.precision << " " << c.digits;
  }
}

TEST(FloatText, FormatFloatPictures) {
  struct Case {
    const char* fmt;
    double v;
    const char* want;
  };
  const Case cases[] = {
      {"0.00", 3.14159, "3.14"},
      {"0.00", -3.14159, "-3.14"},
      {"0.00", 1.005, "1.00"},  // the double nearest 1.005 lies below it
      {"0.00", 1.0051, "1.01"},
      {"0.0", 0.25, "0.3"},  // half away from zero
      {"#,##0.00", 1234567.891, "1,234,567.89"},
      {"#,##0", 999.6, "1,000"},
      {"#,##0", 12, "12"},
      {"000", 7, "007"},
      {"000", 12345, "12345"},
      {"#.##", 0.5, ".5"},
      {"0.##", 0.5, "0.5"},
      {"0.##", 1, "1"},
      {"0.0#", 1, "1.0"},
      {"#", 0, ""},
      {"0", 0.4, "0"},
      {"0.00E+00", 12345, "1.23E+04"},
      {"0.00E-00", 12345, "1.23E04"},
      {"0.00e+0", 0.00012345, "1.23e-4"},
      {"00.0E+0", 12345, "12.3E+3"},
      {"0.00;(0.00)", -3.14159, "(3.14)"},
      {"0.00;(0.00);'zero'", 0, "zero"},
      {"0.00;(0.00);'zero'", 0.001, "zero"},  // rounds to zero
      {"0.00;;'zero'", -2, "-2.00"},          // empty section: the first one
      {"'Total: '0.0' units'", 12.34, "Total: 12.3 units"},
      {"\"x;y\"0", 5, "x;y5"},
      {"", 0.1, "0.1"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatFloat(c.fmt, c.v), c.want) << c.fmt << " " << c.v;
}

TEST(FloatText, CurrToStr) {
  EXPECT_EQ(CurrToStr(12.34567), "12.3457");
  EXPECT_EQ(CurrToStr(-0.5), "-0.5");
  EXPECT_EQ(CurrToStr(922337203685477.0), "922337203685477");
  EXPECT_EQ(CurrToStr(0.00004), "0");
}

TEST(FloatText, StrToFloat) {
  struct Case {
    const char* text;
    bool ok;
    double value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"1.5", true, 1.5},
      {"  -2.25  ", true, -2.25},
      {"+3", true, 3},
      {".5", true, 0.5},
      {"5.", true, 5},
      {"1e3", true, 1000},
      {"1.5E-3", true, 0.0015},
      {"2E+2", true, 200},
      {"1E-400", true, 0},  // below the smallest double: zero
      {"0.000000000000000000000000000000000000001e-300", true, 0},
      {"1E400", false, 0},
      {"1e308", true, 1e308},
      {"", false, 0},
      {" ", false, 0},
      {".", false, 0},
      {"-", false, 0},
      {"1,5", false, 0},
      {"1.5.2", false, 0},
      {"1e", false, 0},
      {"e5", false, 0},
      {"1 000", false, 0},
      {"0x10", false, 0},
      {"abc", false, 0},
      {"--1", false, 0},
  };
  for (const Case& c : cases) {
    double v = -1;
    EXPECT_EQ(TryStrToFloat(c.text, v), c.ok) << "'" << c.text << "'";
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  double v = 0;
  EXPECT_FALSE(TryStrToFloat(std::string(400, '9'), v));
  EXPECT_TRUE(TryStrToFloat("inf", v) && std::isinf(v) && v > 0);
  EXPECT_TRUE(TryStrToFloat("-INF", v) && std::isinf(v) && v < 0);
  EXPECT_TRUE(TryStrToFloat("NaN", v) && std::isnan(v));
  EXPECT_TRUE(TryStrToFloat("-0", v) && v == 0 && std::signbit(v));
  EXPECT_EQ(StrToFloatDef("x", 2.5), 2.5);
  try {
    StrToFloat("1,5");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'1,5' is not a valid floating point value");
  }
  TFormatSettings comma;
  comma.DecimalSeparator = ',';
  EXPECT_EQ(StrToFloat("1,5", comma), 1.5);
  EXPECT_THROW(StrToFloat("1.5", comma), EConvertError);
}

// Text written by the system reads back to the same value.
TEST(FloatText, RoundTrips) {
  const double general[] = {0,
                            1,
                            -1,
                            0.1,
                            0.5,
                            1.5e-5,
                            123.456,
                            -98765.4321,
                            1e15,
                            1e20,
                            3.14159265358979,
                            1e-300,
                            12345678901234.5,
                            0.000123};
  for (double v : general) EXPECT_EQ(StrToFloat(FloatToStr(v)), v) << FloatToStr(v);
  TFormatSettings comma;
  comma.DecimalSeparator = ',';
  for (double v : general) {
    EXPECT_EQ(StrToFloat(FloatToStr(v, comma), comma), v) << FloatToStr(v, comma);
  }

  struct Case {
    double v;
    const char* text;
  };
  const Case shortest[] = {
      {0.1, "0.1"},         {100, "100"},         {1e20, "1E20"},
      {-1.5e-7, "-1.5E-7"}, {-0.0, "-0"},         {0.1 + 0.2, "0.30000000000000004"},
      {1e300, "1E300"},     {123.456, "123.456"}, {5e-324, "5E-324"},
  };
  for (const Case& c : shortest) EXPECT_EQ(FloatToStrRoundTrip(c.v), c.text);

  std::mt19937_64 rng(12345);
  for (int i = 0; i < 2000; ++i) {
    uint64_t bits = rng();
    double v = 0;
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isfinite(v)) continue;
    const std::string text = FloatToStrRoundTrip(v);
    const double back = StrToFloat(text);
    ASSERT_EQ(std::memcmp(&back, &v, sizeof v), 0) << "seed 12345, " << text;
  }
  const double specials[] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()};
  for (double v : specials) EXPECT_EQ(StrToFloat(FloatToStrRoundTrip(v)), v);
  EXPECT_TRUE(std::isnan(StrToFloat(FloatToStrRoundTrip(std::nan("")))));
}

}  // namespace
}  // namespace plat
