#include "platform/rtl/Variants.h"

#include <cmath>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"

namespace plat {

struct VarArrayData {
  TVarType ElementType = varVariant;
  int32_t LowBound = 0;
  std::vector<Variant> Items;
};

void VarArrayDataDeleter::operator()(VarArrayData* data) const noexcept {
  delete data;
}

// Internal access to the representation for the free functions below.
struct VariantAccess {
  static TVarType Type(const Variant& v) { return v.vtype_; }
  static int64_t Int(const Variant& v) { return v.i_; }
  static double Real(const Variant& v) { return v.d_; }
  static const std::string& Str(const Variant& v) { return v.s_; }
  static Variant Make(TVarType type, int64_t i) {
    Variant v;
    v.vtype_ = type;
    v.i_ = i;
    return v;
  }
  static Variant MakeReal(TVarType type, double d) {
    Variant v;
    v.vtype_ = type;
    v.d_ = d;
    return v;
  }
  static Variant MakeStr(TVarType type, std::string s) {
    Variant v(std::move(s));
    v.vtype_ = type;
    return v;
  }
  static Variant MakeArray(std::unique_ptr<VarArrayData> data) {
    TVarType type = varArray | data->ElementType;
    Variant v;
    v.vtype_ = type;
    v.arr_.reset(data.release());
    return v;
  }
};

namespace {

using VA = VariantAccess;

constexpr int64_t kScale = Currency::Scale;

[[noreturn]] void RaiseCast(TVarType from, TVarType to) {
  throw EVariantError("Could not convert variant of type (" + VarTypeAsText(from) +
                      ") into type (" + VarTypeAsText(to) + ")");
}

[[noreturn]] void RaiseOverflow(TVarType from, TVarType to) {
  throw EVariantError("Overflow while converting variant of type (" + VarTypeAsText(from) +
                      ") into type (" + VarTypeAsText(to) + ")");
}

[[noreturn]] void RaiseInvalidOp() {
  throw EVariantError("Invalid variant operation");
}
[[noreturn]] void RaiseBadIndex() {
  throw EVariantError("Variant or safe array index out of bounds");
}
[[noreturn]] void RaiseNotArray() {
  throw EVariantError("Variant is not an array");
}
[[noreturn]] void RaiseZeroDivide() {
  throw EZeroDivide("Floating point division by zero");
}

// The element at index of an array's data (nullptr: not an array).
Variant& ArrayElement(VarArrayData* data, int32_t index) {
  if (data == nullptr) RaiseNotArray();
  int64_t pos = static_cast<int64_t>(index) - data->LowBound;
  if (pos < 0 || pos >= static_cast<int64_t>(data->Items.size())) RaiseBadIndex();
  return data->Items[static_cast<size_t>(pos)];
}

bool IsStrType(TVarType t) {
  return t == varString || t == varOleStr;
}
bool IsInt32Kind(TVarType t) {
  return t == varSmallint || t == varInteger || t == varBoolean;
}

// Half to even, as the runtime rounds.
long double RoundHalfEven(long double x) {
  long double fl = std::floor(x);
  long double diff = x - fl;
  if (diff > 0.5L) return fl + 1;
  if (diff < 0.5L) return fl;
  return std::fmod(fl, 2.0L) == 0 ? fl : fl + 1;
}

// Quotient of n / d rounded half to even (d > 0).
__int128 DivRoundHalfEven(__int128 n, __int128 d) {
  __int128 q = n / d;
  __int128 r = n % d;
  if (r == 0) return q;
  __int128 twice = (r < 0 ? -r : r) * 2;
  int sign = (n < 0) ? -1 : 1;
  if (twice > d || (twice == d && (q % 2) != 0)) q += sign;
  return q;
}

// A long double that is an integral value fits in int64 when inside
// [-2^63, 2^63).
bool FitsInt64(long double x) {
  return x >= -9223372036854775808.0L && x < 9223372036854775808.0L;
}

bool Fits(__int128 x, int64_t lo, int64_t hi) {
  return x >= lo && x <= hi;
}

// A real rounded half to even as an Int64; overflow is reported as a
// conversion of `from` into `target`.
int64_t RoundToInt64(long double x, TVarType from, TVarType target) {
  const long double r = RoundHalfEven(x);
  if (!FitsInt64(r)) RaiseOverflow(from, target);
  return static_cast<int64_t>(r);
}

// The currency units of a double (rounded half to even); false when it is
// NaN or out of the currency range.
bool ScaledUnits(double d, int64_t& units) {
  const long double scaled = RoundHalfEven(static_cast<long double>(d) * kScale);
  if (std::isnan(d) || !FitsInt64(scaled)) return false;
  units = static_cast<int64_t>(scaled);
  return true;
}

// Exact reading of a plain decimal text ("-12.3456", blanks around) into
// currency units; False for anything else (exponents, separators...).
bool ParseCurrencyText(std::string_view text, int64_t& units) {
  size_t p = 0, n = text.size();
  while (p < n && (text[p] == ' ' || text[p] == '\t')) ++p;
  while (n > p && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  bool negative = false;
  if (p < n && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  const char sep = FormatSettings.DecimalSeparator;
  __int128 value = 0;
  bool any = false, overflow = false;
  while (p < n && text[p] >= '0' && text[p] <= '9') {
    value = value * 10 + (text[p++] - '0');
    if (value > static_cast<__int128>(INT64_MAX)) overflow = true, value = INT64_MAX;
    any = true;
  }
  value *= kScale;
  if (p < n && text[p] == sep) {
    ++p;
    int digits = 0;
    int64_t frac = 0;
    int roundDigit = -1;       // the fifth decimal
    bool restNonZero = false;  // any non-zero decimal after the fifth
    while (p < n && text[p] >= '0' && text[p] <= '9') {
      int d = text[p++] - '0';
      any = true;
      if (digits < 4) {
        frac = frac * 10 + d;
      } else if (digits == 4) {
        roundDigit = d;
      } else if (d != 0) {
        restNonZero = true;
      }
      ++digits;
    }
    for (int i = digits; i < 4; ++i) frac *= 10;
    value += frac;
    if (roundDigit > 5 || (roundDigit == 5 && (restNonZero || (value % 2) != 0))) ++value;
  }
  if (!any || p != n) return false;
  if (negative) value = -value;
  if (overflow || !Fits(value, INT64_MIN, INT64_MAX)) RaiseOverflow(varString, varCurrency);
  units = static_cast<int64_t>(value);
  return true;
}

std::string CurrencyText(int64_t units) {
  bool negative = units < 0;
  uint64_t mag = negative ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  std::string result = negative ? "-" : "";
  result += std::to_string(mag / kScale);
  uint64_t frac = mag % kScale;
  if (frac != 0) {
    char digits[5];
    for (int i = 3; i >= 0; --i) digits[i] = static_cast<char>('0' + frac % 10), frac /= 10;
    int len = 4;
    while (digits[len - 1] == '0') --len;
    result += FormatSettings.DecimalSeparator;
    result.append(digits, len);
  }
  return result;
}

// Integer value of a variant for a conversion into `target` (whose name is
// used in the error texts); range checks are the caller's.
int64_t ToIntegral(const Variant& v, TVarType target) {
  TVarType t = VA::Type(v);
  switch (t) {
    case varEmpty:
      return 0;
    case varSmallint:
    case varInteger:
    case varInt64:
      return VA::Int(v);
    case varBoolean:
      return VA::Int(v) ? -1 : 0;
    case varDouble:
    case varDate: {
      double d = VA::Real(v);
      if (std::isnan(d)) RaiseOverflow(t, target);
      return RoundToInt64(d, t, target);
    }
    case varCurrency:
      return static_cast<int64_t>(DivRoundHalfEven(VA::Int(v), kScale));
    case varString:
    case varOleStr: {
      int64_t n;
      if (TryStrToInt64(VA::Str(v), n)) return n;
      double d;
      if (!TryStrToFloat(VA::Str(v), d)) RaiseCast(t, target);
      if (std::isnan(d)) RaiseCast(t, target);
      return RoundToInt64(d, t, target);
    }
    default:
      RaiseCast(t, target);
  }
}

int64_t ToIntegralIn(const Variant& v, TVarType target, int64_t lo, int64_t hi) {
  int64_t n = ToIntegral(v, target);
  if (n < lo || n > hi) RaiseOverflow(VA::Type(v), target);
  return n;
}

// Real value of a variant for a conversion into `target` (varDouble or varDate).
double ToReal(const Variant& v, TVarType target) {
  TVarType t = VA::Type(v);
  switch (t) {
    case varEmpty:
      return 0;
    case varSmallint:
    case varInteger:
    case varInt64:
      return static_cast<double>(VA::Int(v));
    case varBoolean:
      return VA::Int(v) ? -1 : 0;
    case varDouble:
    case varDate:
      return VA::Real(v);
    case varCurrency:
      return Currency::FromUnits(VA::Int(v)).ToDouble();
    case varString:
    case varOleStr: {
      double d;
      bool ok = target == varDate ? TryStrToDateTime(VA::Str(v), d) : TryStrToFloat(VA::Str(v), d);
      if (!ok) RaiseCast(t, target);
      return d;
    }
    default:
      RaiseCast(t, target);
  }
}

// Text meeting a Date in arithmetic or comparison: a number is a count of
// days ("1" is one day, not one o'clock), anything else must read as a date.
Variant TextAsDateOperand(const Variant& text) {
  double d;
  if (TryStrToFloat(VA::Str(text), d)) return Variant::FromDateTime(d);
  if (TryStrToDateTime(VA::Str(text), d)) return Variant::FromDateTime(d);
  RaiseCast(VA::Type(text), varDate);
}

int64_t ToCurrencyUnits(const Variant& v) {
  TVarType t = VA::Type(v);
  switch (t) {
    case varEmpty:
      return 0;
    case varSmallint:
    case varInteger:
    case varInt64:
    case varBoolean: {
      __int128 units = static_cast<__int128>(ToIntegral(v, varCurrency)) * kScale;
      if (!Fits(units, INT64_MIN, INT64_MAX)) RaiseOverflow(t, varCurrency);
      return static_cast<int64_t>(units);
    }
    case varDouble:
    case varDate: {
      int64_t units;
      if (!ScaledUnits(VA::Real(v), units)) RaiseOverflow(t, varCurrency);
      return units;
    }
    case varCurrency:
      return VA::Int(v);
    case varString:
    case varOleStr: {
      int64_t units;
      if (ParseCurrencyText(VA::Str(v), units)) return units;
      double d;
      if (!TryStrToFloat(VA::Str(v), d)) RaiseCast(t, varCurrency);
      if (!ScaledUnits(d, units)) RaiseOverflow(t, varCurrency);
      return units;
    }
    default:
      RaiseCast(t, varCurrency);
  }
}

bool ToBool(const Variant& v) {
  TVarType t = VA::Type(v);
  switch (t) {
    case varEmpty:
      return false;
    case varSmallint:
    case varInteger:
    case varInt64:
    case varBoolean:
    case varCurrency:
      return VA::Int(v) != 0;
    case varDouble:
    case varDate:
      return VA::Real(v) != 0;
    case varString:
    case varOleStr: {
      const std::string& s = VA::Str(v);
      if (SameText(s, "True")) return true;
      if (SameText(s, "False")) return false;
      double d;
      if (TryStrToFloat(s, d)) return d != 0;
      RaiseCast(t, varBoolean);
    }
    default:
      RaiseCast(t, varBoolean);
  }
}

std::string ToText(const Variant& v) {
  TVarType t = VA::Type(v);
  switch (t) {
    case varEmpty:
      return "";
    case varSmallint:
    case varInteger:
    case varInt64:
      return std::to_string(VA::Int(v));
    case varBoolean:
      return VA::Int(v) ? "True" : "False";
    case varDouble:
      return FloatToStr(VA::Real(v));
    case varDate:
      return DateTimeToStr(VA::Real(v));
    case varCurrency:
      return CurrencyText(VA::Int(v));
    case varString:
    case varOleStr:
      return VA::Str(v);
    default:
      RaiseCast(t, varString);
  }
}

// The value of a number-like variant as a long double.
long double RealOf(const Variant& v) {
  switch (VA::Type(v)) {
    case varDouble:
    case varDate:
      return VA::Real(v);
    case varCurrency:
      return static_cast<long double>(VA::Int(v)) / kScale;
    default:
      return static_cast<long double>(ToIntegral(v, varDouble));
  }
}

// ---- comparison ----

int Sign(long double x) {
  return x < 0 ? -1 : (x > 0 ? 1 : 0);
}
template <typename T>
int Cmp(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Texts order by the platform's collation, which is 0 only for equal bytes.
int CompareStrings(std::string_view a, std::string_view b) {
  int r = AnsiCompareStr(a, b);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// The comparison kind of a number-like value.
enum class NumKind { Int, Currency, Real };

NumKind KindOf(TVarType t) {
  if (IsInt32Kind(t) || t == varInt64 || t == varEmpty) return NumKind::Int;
  if (t == varCurrency) return NumKind::Currency;
  return NumKind::Real;
}

int CompareNumbers(const Variant& a, const Variant& b) {
  NumKind ka = KindOf(VA::Type(a)), kb = KindOf(VA::Type(b));
  if (ka == NumKind::Int && kb == NumKind::Int)
    return Cmp(ToIntegral(a, varInt64), ToIntegral(b, varInt64));
  if (ka != NumKind::Real && kb != NumKind::Real) {
    // Currency against currency or integer, exactly.
    __int128 ua = ka == NumKind::Currency ? VA::Int(a)
                                          : static_cast<__int128>(ToIntegral(a, varInt64)) * kScale;
    __int128 ub = kb == NumKind::Currency ? VA::Int(b)
                                          : static_cast<__int128>(ToIntegral(b, varInt64)) * kScale;
    return Cmp(ua, ub);
  }
  if (ka == NumKind::Currency || kb == NumKind::Currency) {
    // A real meets a currency value: compare in currency when the real fits,
    // so that 0.1 equals the currency 0.1.
    const Variant& real = ka == NumKind::Real ? a : b;
    int64_t scaled;
    if (ScaledUnits(VA::Real(real), scaled)) {
      int64_t ua = ka == NumKind::Currency ? VA::Int(a) : scaled;
      int64_t ub = kb == NumKind::Currency ? VA::Int(b) : scaled;
      return Cmp(ua, ub);
    }
  }
  return Sign(RealOf(a) - RealOf(b));
}

bool IsWholeNumberType(TVarType t) {
  return t == varSmallint || t == varInteger || t == varInt64;
}

int Compare(const Variant& a, const Variant& b) {
  TVarType ta = VA::Type(a), tb = VA::Type(b);
  // The common case first: two integers of any width compare by value.
  if (IsWholeNumberType(ta) && IsWholeNumberType(tb)) return Cmp(VA::Int(a), VA::Int(b));
  if ((ta & varArray) || (tb & varArray)) RaiseInvalidOp();
  if (ta == varNull || tb == varNull) return (tb == varNull) - (ta == varNull);
  if (ta == varEmpty && tb == varEmpty) return 0;
  bool sa = IsStrType(ta), sb = IsStrType(tb);
  if (sa && sb) return CompareStrings(VA::Str(a), VA::Str(b));
  if (sa || sb) {
    // The text takes the kind of the other side; Empty stands for "".
    const Variant& other = sa ? b : a;
    const Variant& text = sa ? a : b;
    TVarType to = VA::Type(other);
    Variant converted;
    switch (to) {
      case varEmpty:
        return sa ? CompareStrings(VA::Str(a), "") : CompareStrings("", VA::Str(b));
      case varBoolean:
        converted = Variant(ToBool(text));
        break;
      case varDate:
        converted = TextAsDateOperand(text);
        break;
      case varCurrency:
        converted = Variant(Currency::FromUnits(ToCurrencyUnits(text)));
        break;
      default:
        converted = Variant(ToReal(text, varDouble));
        break;
    }
    return sa ? Compare(converted, b) : Compare(a, converted);
  }
  // Two Booleans order False < True; Empty facing a Boolean is False.
  if ((ta == varBoolean || ta == varEmpty) && (tb == varBoolean || tb == varEmpty))
    return Cmp(VA::Int(a), VA::Int(b));
  return CompareNumbers(a, b);
}

// ---- arithmetic ----

enum class Op { Add, Sub, Mul, Div };

Variant DoubleResult(long double x) {
  return Variant(static_cast<double>(x));
}

// Rank of a numeric kind for the result type of + and -.
enum class Rank { Int, Int64, Real, Currency, Date };

Rank RankOf(TVarType t) {
  switch (t) {
    case varInt64:
      return Rank::Int64;
    case varDouble:
      return Rank::Real;
    case varCurrency:
      return Rank::Currency;
    case varDate:
      return Rank::Date;
    default:
      return Rank::Int;
  }
}

Variant CurrencyOrDouble(__int128 units, long double fallback) {
  if (Fits(units, INT64_MIN, INT64_MAX))
    return Variant(Currency::FromUnits(static_cast<int64_t>(units)));
  return DoubleResult(fallback);
}

// The same for units not yet rounded (half to even).
Variant RoundedCurrencyOrDouble(long double units, long double fallback) {
  long double scaled = RoundHalfEven(units);
  if (!std::isnan(scaled) && FitsInt64(scaled))
    return Variant(Currency::FromUnits(static_cast<int64_t>(scaled)));
  return DoubleResult(fallback);
}

Variant CurrencyArith(Op op, const Variant& a, const Variant& b) {
  TVarType ta = VA::Type(a), tb = VA::Type(b);
  long double ra = RealOf(a), rb = RealOf(b);
  auto exactUnits = [](const Variant& v, __int128& units) {
    TVarType t = VA::Type(v);
    if (t == varCurrency) return units = VA::Int(v), true;
    if (t == varDouble) {
      int64_t scaled;
      if (!ScaledUnits(VA::Real(v), scaled)) return false;
      return units = scaled, true;
    }
    return units = static_cast<__int128>(ToIntegral(v, varCurrency)) * kScale, true;
  };
  switch (op) {
    case Op::Add:
    case Op::Sub: {
      __int128 ua, ub;
      if (!exactUnits(a, ua) || !exactUnits(b, ub))
        return DoubleResult(op == Op::Add ? ra + rb : ra - rb);
      return CurrencyOrDouble(op == Op::Add ? ua + ub : ua - ub, op == Op::Add ? ra + rb : ra - rb);
    }
    case Op::Mul: {
      if (ta == varCurrency && tb == varCurrency)
        return CurrencyOrDouble(
            DivRoundHalfEven(static_cast<__int128>(VA::Int(a)) * VA::Int(b), kScale), ra * rb);
      const Variant& cur = ta == varCurrency ? a : b;
      const Variant& other = ta == varCurrency ? b : a;
      if (VA::Type(other) != varDouble)
        return CurrencyOrDouble(
            static_cast<__int128>(VA::Int(cur)) * ToIntegral(other, varCurrency), ra * rb);
      return RoundedCurrencyOrDouble(static_cast<long double>(VA::Int(cur)) * VA::Real(other),
                                     ra * rb);
    }
    case Op::Div: {
      if (rb == 0) RaiseZeroDivide();
      long double q = ra / rb;
      return RoundedCurrencyOrDouble(q * kScale, q);
    }
  }
  return Variant();
}

Variant Arith(Op op, const Variant& a, const Variant& b) {
  TVarType ta = VA::Type(a), tb = VA::Type(b);
  if ((ta & varArray) || (tb & varArray)) RaiseInvalidOp();
  if (ta == varNull || tb == varNull) return Null();
  if (ta == varEmpty && tb == varEmpty) return Variant();
  bool sa = IsStrType(ta), sb = IsStrType(tb);
  if (op == Op::Add && (sa || ta == varEmpty) && (sb || tb == varEmpty)) {
    // Text concatenation; an Empty side counts as "".
    TVarType rt = (ta == varOleStr || ta == varEmpty) && (tb == varOleStr || tb == varEmpty)
                      ? varOleStr
                      : varString;
    return VA::MakeStr(rt, VA::Str(a) + VA::Str(b));
  }
  if (sa || sb) {
    // Text meets a number (or text meets text in - * /): the text becomes
    // the other side's kind, or a Double.
    auto convert = [op](const Variant& text, TVarType other) {
      if (other == varCurrency) return Variant(Currency::FromUnits(ToCurrencyUnits(text)));
      if (other == varDate && (op == Op::Add || op == Op::Sub)) return TextAsDateOperand(text);
      return Variant(ToReal(text, varDouble));
    };
    Variant ca = sa ? convert(a, tb) : a;
    Variant cb = sb ? convert(b, ta) : b;
    return Arith(op, ca, cb);
  }

  Rank ra = RankOf(ta), rb = RankOf(tb);
  if ((op == Op::Add || op == Op::Sub) && (ra == Rank::Date || rb == Rank::Date)) {
    long double r = op == Op::Add ? RealOf(a) + RealOf(b) : RealOf(a) - RealOf(b);
    if (op == Op::Sub && ra == Rank::Date && rb == Rank::Date) return DoubleResult(r);
    return Variant::FromDateTime(static_cast<double>(r));
  }
  if (ra == Rank::Currency || rb == Rank::Currency) {
    if (ra != Rank::Date && rb != Rank::Date) return CurrencyArith(op, a, b);
  }
  if (ra >= Rank::Real || rb >= Rank::Real || op == Op::Div) {
    long double x = RealOf(a), y = RealOf(b);
    switch (op) {
      case Op::Add:
        return DoubleResult(x + y);
      case Op::Sub:
        return DoubleResult(x - y);
      case Op::Mul:
        return DoubleResult(x * y);
      case Op::Div:
        if (y == 0) RaiseZeroDivide();
        return DoubleResult(x / y);
    }
  }
  // Integers: exact in 64 bits; a 32-bit result that does not fit, or a
  // 64-bit one that overflows, becomes a Double.
  int64_t x = ToIntegral(a, varInt64), y = ToIntegral(b, varInt64);
  int64_t r;
  bool overflow = false;
  switch (op) {
    case Op::Add:
      overflow = __builtin_add_overflow(x, y, &r);
      break;
    case Op::Sub:
      overflow = __builtin_sub_overflow(x, y, &r);
      break;
    default:
      overflow = __builtin_mul_overflow(x, y, &r);
      break;
  }
  bool wide = ra == Rank::Int64 || rb == Rank::Int64;
  if (!overflow) {
    if (wide) return Variant(r);
    if (r >= INT32_MIN && r <= INT32_MAX) return Variant(static_cast<int32_t>(r));
  }
  long double lx = x, ly = y;
  return DoubleResult(op == Op::Add ? lx + ly : (op == Op::Sub ? lx - ly : lx * ly));
}

// ---- logical ----

enum class Logic { And, Or, Xor };

template <typename T>
T ApplyLogic(Logic op, T x, T y) {
  switch (op) {
    case Logic::And:
      return x & y;
    case Logic::Or:
      return x | y;
    default:
      return x ^ y;
  }
}

bool IsTruthLike(TVarType t) {
  return t == varBoolean || IsStrType(t) || t == varEmpty;
}

Variant LogicOp(Logic op, const Variant& a, const Variant& b) {
  TVarType ta = VA::Type(a), tb = VA::Type(b);
  if ((ta & varArray) || (tb & varArray)) RaiseInvalidOp();
  if (ta == varNull || tb == varNull) return Null();
  if (ta == varEmpty && tb == varEmpty) return Variant();
  if (IsTruthLike(ta) && IsTruthLike(tb)) {
    bool x = ToBool(a), y = ToBool(b);
    return Variant(ApplyLogic<bool>(op, x, y));
  }
  if (ta == varInt64 || tb == varInt64)
    return Variant(ApplyLogic<int64_t>(op, ToIntegral(a, varInt64), ToIntegral(b, varInt64)));
  return Variant(ApplyLogic<int32_t>(op, ToIntegralIn(a, varInteger, INT32_MIN, INT32_MAX),
                                     ToIntegralIn(b, varInteger, INT32_MIN, INT32_MAX)));
}

}  // namespace

// ---- Currency ----

Currency Currency::FromDouble(double value) {
  return FromUnits(ToCurrencyUnits(Variant(value)));
}

double Currency::ToDouble() const {
  return static_cast<double>(static_cast<long double>(Value) / kScale);
}

// ---- Variant ----

void Variant::CopyArrayFrom(const Variant& other) {
  arr_.reset(new VarArrayData(*other.arr_));
}

Variant::Variant(const char* value) : vtype_(varString), s_(value ? value : "") {}

Variant Variant::FromDateTime(TDateTime value) noexcept {
  return VA::MakeReal(varDate, value);
}

int32_t Variant::AsInteger() const {
  return static_cast<int32_t>(ToIntegralIn(*this, varInteger, INT32_MIN, INT32_MAX));
}

int64_t Variant::AsInt64() const {
  return ToIntegral(*this, varInt64);
}

double Variant::AsFloat() const {
  return ToReal(*this, varDouble);
}

Currency Variant::AsCurrency() const {
  return Currency::FromUnits(ToCurrencyUnits(*this));
}

bool Variant::AsBoolean() const {
  return ToBool(*this);
}

std::string Variant::AsString() const {
  return ToText(*this);
}

TDateTime Variant::AsDateTime() const {
  return ToReal(*this, varDate);
}

const Variant& Variant::operator[](int32_t index) const {
  return ArrayElement(arr_.get(), index);
}

void Variant::SetElement(int32_t index, Variant value) {
  Variant& slot = ArrayElement(arr_.get(), index);
  if (arr_->ElementType == varVariant)
    slot = std::move(value);
  else
    slot = VarAsType(value, arr_->ElementType);
}

// ---- free functions ----

bool VarIsStr(const Variant& v) noexcept {
  return IsStrType(v.VarType());
}

std::string VarTypeAsText(TVarType type) {
  const char* name = nullptr;
  switch (type & varTypeMask) {
    case varEmpty:
      name = "Empty";
      break;
    case varNull:
      name = "Null";
      break;
    case varSmallint:
      name = "Smallint";
      break;
    case varInteger:
      name = "Integer";
      break;
    case varSingle:
      name = "Single";
      break;
    case varDouble:
      name = "Double";
      break;
    case varCurrency:
      name = "Currency";
      break;
    case varDate:
      name = "Date";
      break;
    case varOleStr:
      name = "OleStr";
      break;
    case varDispatch:
      name = "Dispatch";
      break;
    case varError:
      name = "Error";
      break;
    case varBoolean:
      name = "Boolean";
      break;
    case varVariant:
      name = "Variant";
      break;
    case varUnknown:
      name = "Unknown";
      break;
    case varShortInt:
      name = "ShortInt";
      break;
    case varByte:
      name = "Byte";
      break;
    case varWord:
      name = "Word";
      break;
    case varLongWord:
      name = "LongWord";
      break;
    case varInt64:
      name = "Int64";
      break;
    case varStrArg:
      name = "StrArg";
      break;
    case varString:
      name = "String";
      break;
    case varAny:
      name = "Any";
      break;
    default:
      break;
  }
  std::string text = name ? name : "$" + [&] {
    static const char* hex = "0123456789ABCDEF";
    std::string h;
    for (int shift = 12; shift >= 0; shift -= 4) h += hex[(type & varTypeMask) >> shift & 0xF];
    return h;
  }();
  if (type & varArray) text = "Array " + text;
  if (type & varByRef) text = "Ref " + text;
  return text;
}

Variant VarAsType(const Variant& v, TVarType type) {
  TVarType from = v.VarType();
  if (from == type) return v;
  if (v.IsArray() || (type & varArray)) RaiseCast(from, type);
  switch (type) {
    case varEmpty:
      return Variant();
    case varNull:
      return Null();
    default:
      break;
  }
  if (from == varNull) RaiseCast(from, type);
  switch (type) {
    case varSmallint:
      return Variant(static_cast<int16_t>(ToIntegralIn(v, varSmallint, INT16_MIN, INT16_MAX)));
    case varInteger:
      return Variant(v.AsInteger());
    case varInt64:
      return Variant(v.AsInt64());
    case varDouble:
      return Variant(v.AsFloat());
    case varCurrency:
      return Variant(v.AsCurrency());
    case varDate:
      return Variant::FromDateTime(v.AsDateTime());
    case varBoolean:
      return Variant(v.AsBoolean());
    case varString:
    case varOleStr:
      return VA::MakeStr(type, v.AsString());
    default:
      RaiseCast(from, type);
  }
}

std::string VarToStr(const Variant& v) {
  return v.IsNull() ? std::string() : v.AsString();
}

TDateTime VarToDateTime(const Variant& v) {
  return v.AsDateTime();
}

Variant VarArrayOf(std::vector<Variant> values) {
  auto data = std::make_unique<VarArrayData>();
  data->ElementType = varVariant;
  data->LowBound = 0;
  data->Items = std::move(values);
  return VA::MakeArray(std::move(data));
}

Variant VarArrayCreate(std::initializer_list<int32_t> bounds, TVarType elementType) {
  if (bounds.size() != 2)
    throw EVariantError("Variant arrays of more than one dimension are not supported");
  int32_t low = bounds.begin()[0], high = bounds.begin()[1];
  int64_t count = static_cast<int64_t>(high) - low + 1;
  if (count < 0) throw EVariantError("Error creating variant or safe array");
  Variant zero;
  switch (elementType) {
    case varVariant:
      break;
    case varSmallint:
    case varInteger:
    case varInt64:
    case varDouble:
    case varCurrency:
    case varDate:
    case varBoolean:
    case varString:
    case varOleStr:
      zero = VarAsType(Variant(), elementType);
      break;
    default:
      throw EVariantError("Error creating variant or safe array");
  }
  auto data = std::make_unique<VarArrayData>();
  data->ElementType = elementType;
  data->LowBound = low;
  data->Items.assign(static_cast<size_t>(count), zero);
  return VA::MakeArray(std::move(data));
}

int32_t VarArrayDimCount(const Variant& v) noexcept {
  return v.IsArray() ? 1 : 0;
}

int32_t VarArrayLowBound(const Variant& v, int32_t dim) {
  if (!v.arr_) RaiseNotArray();
  if (dim != 1) RaiseBadIndex();
  return v.arr_->LowBound;
}

int32_t VarArrayHighBound(const Variant& v, int32_t dim) {
  if (!v.arr_) RaiseNotArray();
  if (dim != 1) RaiseBadIndex();
  return static_cast<int32_t>(v.arr_->LowBound + static_cast<int64_t>(v.arr_->Items.size()) - 1);
}

TVariantRelationship VarCompareValue(const Variant& a, const Variant& b) {
  int r = Compare(a, b);
  return r == 0 ? vrEqual : (r < 0 ? vrLessThan : vrGreaterThan);
}

bool operator==(const Variant& a, const Variant& b) {
  return Compare(a, b) == 0;
}
bool operator!=(const Variant& a, const Variant& b) {
  return Compare(a, b) != 0;
}
bool operator<(const Variant& a, const Variant& b) {
  return Compare(a, b) < 0;
}
bool operator<=(const Variant& a, const Variant& b) {
  return Compare(a, b) <= 0;
}
bool operator>(const Variant& a, const Variant& b) {
  return Compare(a, b) > 0;
}
bool operator>=(const Variant& a, const Variant& b) {
  return Compare(a, b) >= 0;
}

Variant operator+(const Variant& a, const Variant& b) {
  return Arith(Op::Add, a, b);
}
Variant operator-(const Variant& a, const Variant& b) {
  return Arith(Op::Sub, a, b);
}
Variant operator*(const Variant& a, const Variant& b) {
  return Arith(Op::Mul, a, b);
}
Variant operator/(const Variant& a, const Variant& b) {
  return Arith(Op::Div, a, b);
}

Variant operator-(const Variant& a) {
  switch (a.VarType()) {
    case varEmpty:
    case varNull:
      return a;
    case varDouble:
      return Variant(-VA::Real(a));
    case varDate:
      return Variant::FromDateTime(-VA::Real(a));
    case varCurrency:
      if (VA::Int(a) == INT64_MIN) return DoubleResult(-RealOf(a));
      return Variant(Currency::FromUnits(-VA::Int(a)));
    case varInt64:
      if (VA::Int(a) == INT64_MIN) return Variant(-static_cast<double>(VA::Int(a)));
      return Variant(-VA::Int(a));
    case varSmallint:
    case varInteger:
    case varBoolean: {
      int64_t n = -ToIntegral(a, varInteger);
      if (n > INT32_MAX) return Variant(static_cast<double>(n));
      return Variant(static_cast<int32_t>(n));
    }
    case varString:
    case varOleStr:
      return Variant(-a.AsFloat());
    default:
      RaiseInvalidOp();
  }
}

Variant VarAnd(const Variant& a, const Variant& b) {
  return LogicOp(Logic::And, a, b);
}
Variant VarOr(const Variant& a, const Variant& b) {
  return LogicOp(Logic::Or, a, b);
}
Variant VarXor(const Variant& a, const Variant& b) {
  return LogicOp(Logic::Xor, a, b);
}

Variant VarNot(const Variant& a) {
  TVarType t = a.VarType();
  if (t & varArray) RaiseInvalidOp();
  if (t == varNull || t == varEmpty) return a;
  if (t == varBoolean || IsStrType(t)) return Variant(!a.AsBoolean());
  if (t == varInt64) return Variant(~VA::Int(a));
  return Variant(~a.AsInteger());
}

}  // namespace plat
