#include "platform/rtl/Variants.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"

namespace plat {
// Readable failures: "Integer 3", "String 'x'", "Null".
void PrintTo(const Variant& v, std::ostream* os) {
  *os << VarTypeAsText(VarType(v));
  if (VarIsArray(v)) {
    *os << " [";
    for (int32_t i = VarArrayLowBound(v, 1); i <= VarArrayHighBound(v, 1); ++i) {
      if (i != VarArrayLowBound(v, 1)) *os << ", ";
      PrintTo(v[i], os);
    }
    *os << "]";
  } else if (!VarIsNull(v) && !VarIsEmpty(v)) {
    *os << " '" << v.AsString() << "'";
  }
}
}  // namespace plat

namespace {

using plat::Currency;
using plat::EVariantError;
using plat::Null;
using plat::Unassigned;
using plat::Variant;
using plat::VarType;

// Same kind and same value (arrays element by element).
bool Same(const Variant& a, const Variant& b) {
  if (VarType(a) != VarType(b)) return false;
  if (plat::VarIsArray(a)) {
    if (plat::VarArrayLowBound(a, 1) != plat::VarArrayLowBound(b, 1) ||
        plat::VarArrayHighBound(a, 1) != plat::VarArrayHighBound(b, 1))
      return false;
    for (int32_t i = plat::VarArrayLowBound(a, 1); i <= plat::VarArrayHighBound(a, 1); ++i)
      if (!Same(a[i], b[i])) return false;
    return true;
  }
  if (VarIsNull(a) || VarIsEmpty(a)) return true;
  return plat::VarCompareValue(a, b) == plat::vrEqual;
}

std::string Show(const Variant& v) {
  return testing::PrintToString(v);
}

Variant Cur(int64_t units) {
  return Variant(Currency::FromUnits(units));
}
Variant Date(double d) {
  return plat::VarFromDateTime(d);
}
Variant Small(int16_t n) {
  return Variant(n);
}
Variant I64(int64_t n) {
  return Variant(n);
}

// Runs `f` and returns the text of the EVariantError it raises ("" if none).
std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EVariantError& e) {
    return e.Message();
  }
  return "";
}

std::string CantConvert(const char* from, const char* to) {
  return std::string("Could not convert variant of type (") + from + ") into type (" + to + ")";
}

TEST(Variants, ConstructionPicksTheLibraryKind) {
  struct Case {
    Variant value;
    plat::TVarType type;
  };
  const Case cases[] = {
      {Variant(), plat::varEmpty},
      {Null(), plat::varNull},
      {Variant(static_cast<int16_t>(5)), plat::varSmallint},
      {Variant(static_cast<uint16_t>(5)), plat::varInteger},
      {Variant(5), plat::varInteger},
      {Variant(5u), plat::varInt64},
      {Variant(static_cast<int64_t>(5)), plat::varInt64},
      {Variant(UINT64_MAX), plat::varDouble},
      {Variant(1.5), plat::varDouble},
      {Variant(1.5f), plat::varDouble},
      {Variant(true), plat::varBoolean},
      {Variant("x"), plat::varString},
      {Variant(std::string("x")), plat::varString},
      {Variant(std::string_view("x")), plat::varString},
      {Cur(15000), plat::varCurrency},
      {Date(36526.0), plat::varDate},
      {plat::VarArrayOf({1, 2}), static_cast<plat::TVarType>(plat::varArray | plat::varVariant)},
  };
  for (const auto& c : cases) EXPECT_EQ(VarType(c.value), c.type) << Show(c.value);
  EXPECT_TRUE(plat::VarIsEmpty(Unassigned()));
  EXPECT_TRUE(plat::VarIsNull(Null()));
  EXPECT_FALSE(plat::VarIsNull(Variant()));
}

TEST(Variants, TypeNames) {
  EXPECT_EQ(plat::VarTypeAsText(plat::varString), "String");
  EXPECT_EQ(plat::VarTypeAsText(plat::varInteger), "Integer");
  EXPECT_EQ(plat::VarTypeAsText(plat::varNull), "Null");
  EXPECT_EQ(plat::VarTypeAsText(plat::varArray | plat::varVariant), "Array Variant");
  EXPECT_EQ(plat::varString, 0x100);
  EXPECT_EQ(plat::varInt64, 20);
  EXPECT_EQ(plat::varBoolean, 11);
}

// VarAsType on a table of values: each row is a value, the target kind, and
// the expected result or the expected error text.
TEST(Variants, ConversionTable) {
  using namespace plat;
  struct Case {
    Variant from;
    TVarType to;
    Variant expected;
    std::string error;
  };
  const Case cases[] = {
      // Boolean True is -1 as a number, "True" as text.
      {true, varInteger, -1, ""},
      {true, varSmallint, Small(-1), ""},
      {true, varDouble, -1.0, ""},
      {true, varCurrency, Cur(-10000), ""},
      {true, varString, "True", ""},
      {false, varInteger, 0, ""},
      {false, varString, "False", ""},
      // Text to numbers: blanks allowed, reals rounded half to even.
      {"12", varInteger, 12, ""},
      {" 12 ", varInteger, 12, ""},
      {"-7", varInt64, I64(-7), ""},
      {"12.5", varInteger, 12, ""},
      {"13.5", varInteger, 14, ""},
      {"2.25", varDouble, 2.25, ""},
      {"abc", varInteger, {}, CantConvert("String", "Integer")},
      {"", varDouble, {}, CantConvert("String", "Double")},
      {"1x", varDouble, {}, CantConvert("String", "Double")},
      // Reals to integers round half to even; out of range is an overflow.
      {2.5, varInteger, 2, ""},
      {3.5, varInteger, 4, ""},
      {-2.5, varInteger, -2, ""},
      {2.4999, varInteger, 2, ""},
      {1e10, varInt64, I64(10000000000LL), ""},
      {1e10,
       varInteger,
       {},
       "Overflow while converting variant of type (Double) into type (Integer)"},
      {40000,
       varSmallint,
       {},
       "Overflow while converting variant of type (Integer) into type (Smallint)"},
      {I64(1LL << 40),
       varInteger,
       {},
       "Overflow while converting variant of type (Int64) into type (Integer)"},
      {Cur(25000), varInteger, 2, ""},
      {Cur(35000), varInteger, 4, ""},
      // Text to Boolean: the Boolean texts in any case, or a number.
      {"true", varBoolean, true, ""},
      {"FALSE", varBoolean, false, ""},
      {"0", varBoolean, false, ""},
      {"2", varBoolean, true, ""},
      {"yes", varBoolean, {}, CantConvert("String", "Boolean")},
      {0.0, varBoolean, false, ""},
      {Cur(1), varBoolean, true, ""},
      // Currency: four decimals, half to even, exact from text.
      {"1.23456", varCurrency, Cur(12346), ""},
      {"0.00025", varCurrency, Cur(2), ""},
      {"0.00035", varCurrency, Cur(4), ""},
      {"0.000250001", varCurrency, Cur(3), ""},
      {"-0.00025", varCurrency, Cur(-2), ""},
      {"922337203685477.5807", varCurrency, Cur(INT64_MAX), ""},
      {"922337203685477.5808",
       varCurrency,
       {},
       "Overflow while converting variant of type (String) into type (Currency)"},
      {"1e3", varCurrency, Cur(10000000), ""},
      {0.03125, varCurrency, Cur(312), ""},  // exactly 312.5 units
      {0.09375, varCurrency, Cur(938), ""},  // exactly 937.5 units
      {-0.03125, varCurrency, Cur(-312), ""},
      {1e300,
       varCurrency,
       {},
       "Overflow while converting variant of type (Double) into type (Currency)"},
      {7, varCurrency, Cur(70000), ""},
      {Cur(15000), varString, "1.5", ""},
      {Cur(123400), varString, "12.34", ""},
      {Cur(-1), varString, "-0.0001", ""},
      {Cur(50000), varString, "5", ""},
      {Cur(INT64_MIN), varString, "-922337203685477.5808", ""},
      {Cur(15000), varDouble, 1.5, ""},
      // Dates read and write through the format settings ("yyyy-mm-dd").
      {"2001-01-15", varDate, Date(36906), ""},
      {"2001-01-15 10:30:00", varDate, Date(36906.4375), ""},
      {"2001-02-30", varDate, {}, CantConvert("String", "Date")},
      {"soon", varDate, {}, CantConvert("String", "Date")},
      {Date(36906), varString, "2001-01-15", ""},
      {Date(36906.4375), varString, "2001-01-15 10:30:00", ""},
      {Date(36906.75), varDouble, 36906.75, ""},
      {36906.5, varDate, Date(36906.5), ""},
      {Date(36906.5), varInteger, 36906, ""},  // half to even
      {true, varDate, Date(-1), ""},
      // Numbers to text.
      {I64(-9000000000LL), varString, "-9000000000", ""},
      {1.5, varString, "1.5", ""},
      {Small(7), varString, "7", ""},
      // Empty converts to every kind's zero; Null converts to nothing.
      {Variant(), varInteger, 0, ""},
      {Variant(), varString, "", ""},
      {Variant(), varBoolean, false, ""},
      {Variant(), varCurrency, Cur(0), ""},
      {Null(), varInteger, {}, CantConvert("Null", "Integer")},
      {Null(), varString, {}, CantConvert("Null", "String")},
      {Null(), varNull, Null(), ""},
      {5, varEmpty, Variant(), ""},
      {5, varNull, Null(), ""},
      // Kinds we do not carry.
      {5, varSingle, {}, CantConvert("Integer", "Single")},
      {VarArrayOf({1}), varInteger, {}, CantConvert("Array Variant", "Integer")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Show(c.from) + " -> " + VarTypeAsText(c.to));
    if (c.error.empty()) {
      Variant got = VarAsType(c.from, c.to);
      EXPECT_TRUE(Same(got, c.expected)) << Show(got) << " expected " << Show(c.expected);
    } else {
      EXPECT_EQ(ErrorOf([&] { VarAsType(c.from, c.to); }), c.error);
    }
  }
}

TEST(Variants, AccessorsAndVarToStr) {
  EXPECT_EQ(Variant("42").AsInteger(), 42);
  EXPECT_EQ(Variant(true).AsInt64(), -1);
  EXPECT_EQ(Variant(Currency::FromUnits(12345)).AsFloat(), 1.2345);
  EXPECT_EQ(Variant(0.5).AsCurrency(), Currency::FromUnits(5000));
  EXPECT_EQ(Currency::FromDouble(0.03125).Value, 312);
  EXPECT_EQ(Variant("x").AsString(), "x");
  EXPECT_EQ(plat::VarToStr(Null()), "");
  EXPECT_EQ(plat::VarToStr(Variant()), "");
  EXPECT_EQ(plat::VarToStr(12), "12");
  // Each accessor names its own target in the error.
  EXPECT_EQ(ErrorOf([] { Variant("x").AsInteger(); }), CantConvert("String", "Integer"));
  EXPECT_EQ(ErrorOf([] { Variant("x").AsInt64(); }), CantConvert("String", "Int64"));
  EXPECT_EQ(ErrorOf([] { Variant("x").AsFloat(); }), CantConvert("String", "Double"));
  EXPECT_EQ(ErrorOf([] { Variant("x").AsCurrency(); }), CantConvert("String", "Currency"));
  EXPECT_EQ(ErrorOf([] { Variant("x").AsDateTime(); }), CantConvert("String", "Date"));
  EXPECT_EQ(ErrorOf([] { Null().AsBoolean(); }), CantConvert("Null", "Boolean"));
  EXPECT_EQ(ErrorOf([] { Null().AsDateTime(); }), CantConvert("Null", "Date"));
}

TEST(Variants, ComparisonTable) {
  using namespace plat;
  enum Expect { LT, EQ, GT, ERR };
  struct Case {
    Variant a, b;
    Expect expected;
  };
  const Case cases[] = {
      // Null sorts first and equals only Null.
      {Null(), Null(), EQ},
      {Null(), 5, LT},
      {5, Null(), GT},
      {Null(), Variant(), LT},
      {Null(), "", LT},
      {Null(), false, LT},
      // Empty is the other side's zero.
      {Variant(), Variant(), EQ},
      {Variant(), 0, EQ},
      {Variant(), -1, GT},
      {Variant(), "", EQ},
      {Variant(), "a", LT},
      {Variant(), false, EQ},
      {Variant(), true, LT},
      // Boolean True is -1 against numbers; two Booleans order False < True.
      {true, -1, EQ},
      {true, 1, LT},
      {true, Cur(-10000), EQ},
      {false, 0.0, EQ},
      {false, true, LT},
      {true, "True", EQ},
      {"-1", true, EQ},
      // Text against numbers converts the text; text against text stays text.
      {"10", 9, GT},
      {"10", "9", LT},
      {"2.5", 2.5, EQ},
      {" 3 ", 3, EQ},
      {"abc", 1, ERR},
      {1, "abc", ERR},
      {"maybe", true, ERR},
      {"abc", "abc", EQ},
      {"abc", "abd", LT},
      {"a", "B", LT},  // the collation, not byte order
      {"b", "A", GT},
      {"a", "A", LT},
      {"\xC3\xA9", "f", LT},  // e-acute sorts with e
      // Numbers of different kinds by value.
      {3, 3.0, EQ},
      {Small(3), I64(3), EQ},
      {I64((1LL << 53) + 1), static_cast<double>(1LL << 53), GT},
      {I64(INT64_MAX), static_cast<double>(INT64_MAX), LT},  // the double is 2^63
      {Cur(1000), 0.1, EQ},
      {0.1, Cur(1000), EQ},
      {Cur(10000), 1, EQ},
      {Cur(10001), 1, GT},
      {Cur(INT64_MAX), 1e300, LT},
      {Date(36526.5), 36526.5, EQ},
      {Date(36906), "2001-01-15", EQ},
      {"2001-01-16", Date(36906), GT},
      {Date(36906), "36906", EQ},  // a number against a date is a day count
      {Date(36906), "someday", ERR},
      {Date(36526), Date(36527), LT},
      // Arrays take part in no comparison.
      {VarArrayOf({1}), VarArrayOf({1}), ERR},
      {VarArrayOf({1}), Null(), ERR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Show(c.a) + " vs " + Show(c.b));
    if (c.expected == ERR) {
      EXPECT_THROW(VarCompareValue(c.a, c.b), EVariantError);
      continue;
    }
    TVariantRelationship r = VarCompareValue(c.a, c.b);
    EXPECT_EQ(r, c.expected == LT ? vrLessThan : c.expected == EQ ? vrEqual : vrGreaterThan);
    // The operators agree with the relationship, both ways round.
    EXPECT_EQ(c.a == c.b, c.expected == EQ);
    EXPECT_EQ(c.a != c.b, c.expected != EQ);
    EXPECT_EQ(c.a < c.b, c.expected == LT);
    EXPECT_EQ(c.a <= c.b, c.expected != GT);
    EXPECT_EQ(c.a > c.b, c.expected == GT);
    EXPECT_EQ(c.a >= c.b, c.expected != LT);
    EXPECT_EQ(c.b < c.a, c.expected == GT);
  }
  EXPECT_EQ(ErrorOf([] { (void)(Variant("abc") == Variant(1)); }), CantConvert("String", "Double"));
  EXPECT_EQ(ErrorOf([] { (void)(Variant(VarArrayOf({})) == Variant(1)); }),
            "Invalid variant operation");
}

TEST(Variants, ArithmeticTable) {
  using namespace plat;
  enum OpKind { Add, Sub, Mul, Div };
  struct Case {
    Variant a;
    OpKind op;
    Variant b;
    Variant expected;
    std::string error;
  };
  const double two31 = 2147483648.0;
  const Case cases[] = {
      {1, Add, 2, 3, ""},
      {Small(32767), Add, Small(1), 32768, ""},
      // 32-bit overflow becomes a Double, never wraps.
      {INT32_MAX, Add, 1, two31, ""},
      {INT32_MIN, Sub, 1, -two31 - 1, ""},
      {65536, Mul, 65536, 4294967296.0, ""},
      {I64(3), Add, 4, I64(7), ""},
      {I64(INT64_MAX), Add, 1, 9223372036854775808.0, ""},
      {I64(INT64_MIN), Mul, -1, 9223372036854775808.0, ""},
      {I64(1LL << 40), Mul, 2, I64(1LL << 41), ""},
      // Division is the real quotient.
      {7, Div, 2, 3.5, ""},
      {6, Div, 3, 2.0, ""},
      {1, Div, 0, {}, "zero"},
      {1.5, Div, 0.0, {}, "zero"},
      // Booleans count as -1 and 0.
      {true, Add, 1, 0, ""},
      {true, Mul, true, 1, ""},
      {true, Add, true, -2, ""},
      // Text: "+" of two texts concatenates, otherwise texts are numbers.
      {"ab", Add, "cd", "abcd", ""},
      {"3", Sub, "1", 2.0, ""},
      {"3", Add, 1, 4.0, ""},
      {2, Mul, "1.5", 3.0, ""},
      {"x", Add, 1, {}, CantConvert("String", "Double")},
      {Cur(10000), Add, "0.00005", Cur(10000), ""},
      // Null in gives Null out; Empty is the other side's zero.
      {Null(), Add, 1, Null(), ""},
      {1, Mul, Null(), Null(), ""},
      {"a", Add, Null(), Null(), ""},
      {Variant(), Add, 1, 1, ""},
      {Variant(), Add, "a", "a", ""},
      {Variant(), Add, Variant(), Variant(), ""},
      {5, Sub, Variant(), 5, ""},
      // Dates move by days; the difference of two dates is a count of days.
      {Date(36526), Add, 1, Date(36527), ""},
      {Date(36526.75), Sub, 0.25, Date(36526.5), ""},
      {Date(36530), Sub, Date(36526), 4.0, ""},
      {1, Add, Date(36526), Date(36527), ""},
      {Date(36906), Add, "1", Date(36907), ""},  // one day, not one o'clock
      {Date(36910), Sub, "2001-01-15", 4.0, ""},
      {Date(36906), Add, "later", {}, CantConvert("String", "Date")},
      // Currency stays exact and rounds half to even at four decimals.
      {Cur(1), Mul, Cur(5000), Cur(0), ""},  // 0.0001 * 0.5 = 0.00005 -> 0
      {Cur(3), Mul, Cur(5000), Cur(2), ""},  // 0.0003 * 0.5 = 0.00015 -> 0.0002
      {Cur(15000), Add, 1, Cur(25000), ""},
      {Cur(15000), Sub, Cur(5000), Cur(10000), ""},
      {Cur(100000), Div, 4, Cur(25000), ""},
      {Cur(10000), Div, 3, Cur(3333), ""},
      {Cur(20000), Div, 3, Cur(6667), ""},
      {Cur(10000), Add, 0.1, Cur(11000), ""},
      {Cur(10000), Mul, 0.03125, Cur(312), ""},
      {Cur(INT64_MAX), Add, Cur(1), 922337203685477.5808, ""},
      {Cur(10000), Div, Cur(0), {}, "zero"},
      // Arrays take part in no arithmetic.
      {VarArrayOf({1}), Add, 1, {}, "Invalid variant operation"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Show(c.a) + " op" + std::to_string(c.op) + " " + Show(c.b));
    auto run = [&] {
      switch (c.op) {
        case Add:
          return c.a + c.b;
        case Sub:
          return c.a - c.b;
        case Mul:
          return c.a * c.b;
        default:
          return c.a / c.b;
      }
    };
    if (c.error == "zero") {
      EXPECT_THROW(run(), EZeroDivide);
    } else if (!c.error.empty()) {
      EXPECT_EQ(ErrorOf([&] { run(); }), c.error);
    } else {
      Variant got = run();
      EXPECT_TRUE(Same(got, c.expected)) << Show(got) << " expected " << Show(c.expected);
    }
  }
}

TEST(Variants, Negation) {
  using namespace plat;
  struct Case {
    Variant a, expected;
  };
  const Case cases[] = {
      {5, -5},
      {INT32_MIN, 2147483648.0},
      {I64(INT64_MIN), 9223372036854775808.0},
      {true, 1},
      {Small(-32768), 32768},
      {Cur(15000), Cur(-15000)},
      {1.5, -1.5},
      {"2", -2.0},
      {Null(), Null()},
      {Variant(), Variant()},
  };
  for (const auto& c : cases) {
    Variant got = -c.a;
    EXPECT_TRUE(Same(got, c.expected)) << Show(c.a) << " gave " << Show(got);
  }
  EXPECT_THROW(-VarArrayOf({1}), EVariantError);
}

TEST(Variants, LogicalTable) {
  using namespace plat;
  enum OpKind { And, Or, Xor };
  struct Case {
    Variant a;
    OpKind op;
    Variant b, expected;
  };
  const Case cases[] = {
      {true, And, false, false},
      {true, Or, false, true},
      {true, Xor, true, false},
      {true, And, "False", false},
      {"true", Or, "false", true},
      {Null(), And, true, Null()},
      {true, Or, Null(), Null()},
      {Variant(), Or, true, true},
      {12, And, 10, 8},
      {12, Or, 3, 15},
      {I64(1LL << 40), Or, 1, I64((1LL << 40) | 1)},
      {true, And, 6, 6},  // True is -1: all bits
  };
  for (const auto& c : cases) {
    Variant got = c.op == And ? VarAnd(c.a, c.b) : c.op == Or ? VarOr(c.a, c.b) : VarXor(c.a, c.b);
    EXPECT_TRUE(Same(got, c.expected))
        << Show(c.a) << " op" << c.op << " " << Show(c.b) << " gave " << Show(got);
  }
  EXPECT_TRUE(Same(VarNot(true), false));
  EXPECT_TRUE(Same(VarNot("False"), true));
  EXPECT_TRUE(Same(VarNot(0), -1));
  EXPECT_TRUE(Same(VarNot(Null()), Null()));
  EXPECT_TRUE(Same(VarNot(Variant()), Variant()));
  EXPECT_THROW(VarAnd("maybe", true), EVariantError);
}

TEST(Variants, ArraysOfVariants) {
  using namespace plat;
  Variant a = VarArrayOf({1, "a", Null()});
  EXPECT_TRUE(VarIsArray(a));
  EXPECT_EQ(VarType(a), varArray | varVariant);
  EXPECT_EQ(VarArrayDimCount(a), 1);
  EXPECT_EQ(VarArrayLowBound(a, 1), 0);
  EXPECT_EQ(VarArrayHighBound(a, 1), 2);
  EXPECT_TRUE(Same(a[1], "a"));
  EXPECT_TRUE(VarIsNull(a[2]));

  // Copies are independent.
  Variant b = a;
  b.SetElement(0, 99);
  EXPECT_TRUE(Same(a[0], 1));
  EXPECT_TRUE(Same(b[0], 99));
  Variant moved = std::move(b);
  EXPECT_TRUE(Same(moved[0], 99));
  // A moved-from variant is a clean Empty.
  Variant t = true;
  Variant taken = std::move(t);
  EXPECT_TRUE(VarIsEmpty(t));                     // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(VarCompareValue(t, false), vrEqual);  // NOLINT(bugprone-use-after-move)

  // Arrays nest.
  Variant nested = VarArrayOf({a, 2});
  EXPECT_TRUE(Same(nested[0][1], "a"));

  EXPECT_EQ(ErrorOf([&] { (void)a[3]; }), "Variant or safe array index out of bounds");
  EXPECT_EQ(ErrorOf([&] { (void)a[-1]; }), "Variant or safe array index out of bounds");
  EXPECT_EQ(ErrorOf([&] { VarArrayLowBound(a, 2); }), "Variant or safe array index out of bounds");
  EXPECT_EQ(ErrorOf([&] { a.SetElement(3, 1); }), "Variant or safe array index out of bounds");

  Variant scalar = 5;
  EXPECT_FALSE(VarIsArray(scalar));
  EXPECT_EQ(VarArrayDimCount(scalar), 0);
  EXPECT_EQ(ErrorOf([&] { VarArrayLowBound(scalar, 1); }), "Variant is not an array");
  EXPECT_EQ(ErrorOf([&] { VarArrayHighBound(scalar, 1); }), "Variant is not an array");
  EXPECT_EQ(ErrorOf([&] { (void)scalar[0]; }), "Variant is not an array");

  Variant empty = VarArrayOf({});
  EXPECT_EQ(VarArrayHighBound(empty, 1), -1);
}

TEST(Variants, CreatedArraysKeepTheirBoundsAndElementType) {
  using namespace plat;
  Variant a = VarArrayCreate({1, 3}, varInteger);
  EXPECT_EQ(VarType(a), varArray | varInteger);
  EXPECT_EQ(VarArrayLowBound(a, 1), 1);
  EXPECT_EQ(VarArrayHighBound(a, 1), 3);
  EXPECT_TRUE(Same(a[1], 0));
  EXPECT_EQ(ErrorOf([&] { (void)a[0]; }), "Variant or safe array index out of bounds");
  a.SetElement(2, "7");  // converted to the element type
  EXPECT_TRUE(Same(a[2], 7));
  EXPECT_EQ(ErrorOf([&] { a.SetElement(3, "x"); }), CantConvert("String", "Integer"));
  EXPECT_TRUE(Same(a[3], 0)) << "a failed store leaves the element";

  Variant v = VarArrayCreate({-2, 0}, varVariant);
  EXPECT_TRUE(VarIsEmpty(v[-2]));
  Variant none = VarArrayCreate({0, -1}, varVariant);
  EXPECT_EQ(VarArrayHighBound(none, 1), -1);

  EXPECT_THROW(VarArrayCreate({0, -2}, varVariant), EVariantError);
  EXPECT_THROW(VarArrayCreate({0, 1, 0, 1}, varVariant), EVariantError);
  EXPECT_THROW(VarArrayCreate({0, 1}, varSingle), EVariantError);
}

}  // namespace
