#include "platform/rtl/Format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/rtl/Exceptions.h"

namespace plat {

TFormatSettings FormatSettings;

namespace {

// --- Decimal digits of a double ----------------------------------------------

// The most significant digits a conversion produces (what the library's
// extended type carries).
constexpr int kMaxPrecision = 18;
// Digits taken from a double before rounding: far more than it holds, so the
// rounding below is that of the exact binary value.
constexpr int kSourceDigits = 40;

// value = 0.Digits * 10^Exponent. Digits has no trailing zeros; it is empty
// for zero (then Negative is false, so a rounded-away value shows no sign).
struct TFloatRec {
  int32_t Exponent = 0;
  bool Negative = false;
  std::string Digits;
};

// Rounds |value| half away from zero to at most `precision` significant digits
// and at most `decimals` digits after the decimal point, in one step from the
// exact value (so 1.005, stored as 1.00499999999999989..., gives "1.00").
TFloatRec FloatToDecimal(double value, int precision, int decimals) {
  TFloatRec rec;
  if (value == 0 || !std::isfinite(value)) return rec;
  char buf[kSourceDigits + 16];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                                 std::chars_format::scientific, kSourceDigits - 1);
  // "d.ddd...de+XX"
  std::string digits;
  const char* p = buf;
  for (; p < res.ptr && *p != 'e'; ++p) {
    if (*p != '.') digits.push_back(*p);
  }
  int exp10 = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), res.ptr, exp10);
  int exponent = exp10 + 1;
  const int keep = std::min(precision, exponent + std::min(decimals, 9999));
  if (keep < 0) return rec;
  if (keep < static_cast<int>(digits.size())) {
    const bool up = digits[static_cast<size_t>(keep)] >= '5';
    digits.resize(static_cast<size_t>(keep));
    if (up) {
      int i = keep - 1;
      while (i >= 0 && digits[static_cast<size_t>(i)] == '9')
        digits[static_cast<size_t>(i--)] = '0';
      if (i >= 0) {
        ++digits[static_cast<size_t>(i)];
      } else {
        digits.insert(digits.begin(), '1');
        ++exponent;
      }
    }
  }
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  if (digits.empty()) return rec;
  rec.Digits = std::move(digits);
  rec.Exponent = exponent;
  rec.Negative = value < 0;
  return rec;
}

char DigitAt(const TFloatRec& rec, int i) {
  return i >= 0 && i < static_cast<int>(rec.Digits.size()) ? rec.Digits[static_cast<size_t>(i)]
                                                           : '0';
}

std::optional<std::string> SpecialText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  return std::nullopt;
}

void AppendExponent(std::string& out, int exponent, int minDigits, bool plusSign) {
  if (exponent < 0) {
    out.push_back('-');
  } else if (plusSign) {
    out.push_back('+');
  }
  const std::string e = std::to_string(std::abs(exponent));
  if (static_cast<int>(e.size()) < minDigits) out.append(minDigits - e.size(), '0');
  out.append(e);
}

// Integer digits of a decimal record (at least "0"), with thousand separators
// when `separator` is not 0.
std::string IntegerPart(const TFloatRec& rec, char separator) {
  std::string digits;
  for (int i = 0; i < rec.Exponent; ++i) digits.push_back(DigitAt(rec, i));
  if (digits.empty()) digits = "0";
  if (separator == 0) return digits;
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    out.push_back(digits[i]);
    const size_t left = digits.size() - 1 - i;
    if (left > 0 && left % 3 == 0) out.push_back(separator);
  }
  return out;
}

std::string FractionPart(const TFloatRec& rec, int decimals) {
  std::string out;
  for (int i = 0; i < decimals; ++i) out.push_back(DigitAt(rec, rec.Exponent + i));
  return out;
}

std::string FormatGeneral(const TFloatRec& rec, int precision, int expDigits,
                          const TFormatSettings& settings) {
  if (rec.Digits.empty()) return "0";
  std::string out = rec.Negative ? "-" : "";
  const int n = static_cast<int>(rec.Digits.size());
  if (rec.Exponent > precision || rec.Exponent < -3) {
    out.push_back(rec.Digits[0]);
    if (n > 1) {
      out.push_back(settings.DecimalSeparator);
      out.append(rec.Digits, 1);
    }
    out.push_back('E');
    AppendExponent(out, rec.Exponent - 1, expDigits, false);
    return out;
  }
  out.append(IntegerPart(rec, 0));
  if (n > rec.Exponent) {
    out.push_back(settings.DecimalSeparator);
    out.append(FractionPart(rec, n - rec.Exponent));
  }
  return out;
}

std::string FormatExponent(const TFloatRec& rec, int precision, int expDigits,
                           const TFormatSettings& settings) {
  std::string out = rec.Negative ? "-" : "";
  out.push_back(DigitAt(rec, 0));
  if (precision > 1) {
    out.push_back(settings.DecimalSeparator);
    for (int i = 1; i < precision; ++i) out.push_back(DigitAt(rec, i));
  }
  out.push_back('E');
  AppendExponent(out, rec.Digits.empty() ? 0 : rec.Exponent - 1, expDigits, true);
  return out;
}

std::string CurrencyText(std::string_view amount, bool negative, const TFormatSettings& s) {
  const std::string& c = s.CurrencyString;
  const std::string a(amount);
  if (!negative) {
    switch (s.CurrencyFormat) {
      case 1:
        return a + c;
      case 2:
        return c + " " + a;
      case 3:
        return a + " " + c;
      default:
        return c + a;
    }
  }
  switch (s.NegCurrFormat) {
    case 1:
      return "-" + c + a;
    case 2:
      return c + "-" + a;
    case 3:
      return c + a + "-";
    case 4:
      return "(" + a + c + ")";
    case 5:
      return "-" + a + c;
    case 6:
      return a + "-" + c;
    case 7:
      return a + c + "-";
    case 8:
      return "-" + a + " " + c;
    case 9:
      return "-" + c + " " + a;
    case 10:
      return a + " " + c + "-";
    case 11:
      return c + " " + a + "-";
    case 12:
      return c + " -" + a;
    case 13:
      return a + "- " + c;
    case 14:
      return "(" + c + " " + a + ")";
    case 15:
      return "(" + a + " " + c + ")";
    default:
      return "(" + c + a + ")";
  }
}

std::string FloatToText(double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& settings) {
  if (auto special = SpecialText(value)) return *special;
  precision = std::clamp(precision, 1, kMaxPrecision);
  switch (format) {
    case ffExponent:
      return FormatExponent(FloatToDecimal(value, precision, 9999), precision,
                            std::clamp(digits, 0, 4), settings);
    case ffFixed:
    case ffNumber:
    case ffCurrency: {
      digits = std::clamp(digits, 0, kMaxPrecision);
      const TFloatRec rec = FloatToDecimal(value, precision, digits);
      if (rec.Exponent > precision) return FormatGeneral(rec, precision, 0, settings);
      std::string amount = IntegerPart(rec, format == ffFixed ? 0 : settings.ThousandSeparator);
      if (digits > 0) {
        amount.push_back(settings.DecimalSeparator);
        amount.append(FractionPart(rec, digits));
      }
      if (format == ffCurrency) return CurrencyText(amount, rec.Negative, settings);
      return rec.Negative ? "-" + amount : amount;
    }
    case ffGeneral:
    default:
      return FormatGeneral(FloatToDecimal(value, precision, 9999), precision,
                           std::clamp(digits, 0, 4), settings);
  }
}

// --- Format ------------------------------------------------------------------

// Widths and precisions beyond this are taken as this, so a wild argument
// cannot ask for gigabytes of padding.
constexpr int64_t kMaxWidth = 1 << 20;

class Formatter {
 public:
  Formatter(std::string_view fmt, std::initializer_list<TVarRec> args,
            const TFormatSettings& settings)
      : fmt_(fmt), args_(args.begin()), count_(args.size()), settings_(settings) {}

  std::string Run() {
    std::string out;
    while (i_ < fmt_.size()) {
      const char c = fmt_[i_++];
      if (c != '%') {
        out.push_back(c);
        continue;
      }
      if (i_ < fmt_.size() && fmt_[i_] == '%') {
        out.push_back('%');
        ++i_;
        continue;
      }
      Directive(out);
    }
    return out;
  }

 private:
  [[noreturn]] void Invalid() const {
    throw EConvertError("Format '" + std::string(fmt_) + "' invalid or incompatible with argument");
  }

  const TVarRec& NextArg() {
    if (next_ >= count_) {
      throw EConvertError("No argument for format '" + std::string(fmt_) + "'");
    }
    return args_[next_++];
  }

  // Digits or "*" (an integer argument); nothing when neither is there.
  std::optional<int64_t> NumberOrStar() {
    if (i_ < fmt_.size() && fmt_[i_] == '*') {
      ++i_;
      const TVarRec& a = NextArg();
      if (a.VType() != vtInteger && a.VType() != vtInt64) Invalid();
      return std::clamp<int64_t>(a.AsInt64(), -kMaxWidth, kMaxWidth);
    }
    if (i_ >= fmt_.size() || fmt_[i_] < '0' || fmt_[i_] > '9') return std::nullopt;
    int64_t v = 0;
    while (i_ < fmt_.size() && fmt_[i_] >= '0' && fmt_[i_] <= '9') {
      v = std::min<int64_t>(v * 10 + (fmt_[i_++] - '0'), kMaxWidth);
    }
    return v;
  }

  void Directive(std::string& out) {
    std::optional<int64_t> v = NumberOrStar();
    if (i_ < fmt_.size() && fmt_[i_] == ':') {
      if (!v || *v < 0) Invalid();
      next_ = static_cast<size_t>(*v);
      ++i_;
      v.reset();
    }
    bool left = false;
    if (!v && i_ < fmt_.size() && fmt_[i_] == '-') {
      left = true;
      ++i_;
    }
    if (!v) v = NumberOrStar();
    const int64_t width = v.value_or(0);
    int64_t prec = -1;
    if (i_ < fmt_.size() && fmt_[i_] == '.') {
      ++i_;
      prec = NumberOrStar().value_or(0);
    }
    if (i_ >= fmt_.size()) Invalid();
    const char type = static_cast<char>(fmt_[i_++] & ~0x20);  // upper case
    std::string text = Convert(type, NextArg(), prec);
    if (width > 0 && static_cast<int64_t>(text.size()) < width) {
      const size_t pad = static_cast<size_t>(width) - text.size();
      if (left) {
        text.append(pad, ' ');
      } else {
        text.insert(0, pad, ' ');
      }
    }
    out.append(text);
  }

  std::string Convert(char type, const TVarRec& a, int64_t prec) const {
    switch (type) {
      case 'D': {
        std::string digits;
        bool negative = false;
        if (a.VType() == vtInteger || a.VType() == vtInt64) {
          const int64_t i = a.AsInt64();
          negative = i < 0;
          digits =
              std::to_string(negative ? 0 - static_cast<uint64_t>(i) : static_cast<uint64_t>(i));
        } else if (a.VType() == vtUInt64) {
          digits = std::to_string(a.AsUInt64());
        } else {
          Invalid();
        }
        if (prec > static_cast<int64_t>(digits.size())) {
          digits.insert(0, static_cast<size_t>(prec) - digits.size(), '0');
        }
        return negative ? "-" + digits : digits;
      }
      case 'U':
      case 'X': {
        uint64_t u = 0;
        if (a.VType() == vtInteger) {
          u = static_cast<uint32_t>(a.AsInt64());
        } else if (a.VType() == vtInt64) {
          u = static_cast<uint64_t>(a.AsInt64());
        } else if (a.VType() == vtUInt64) {
          u = a.AsUInt64();
        } else {
          Invalid();
        }
        std::string digits = type == 'U' ? std::to_string(u) : IntToHex(u, 0);
        if (prec > static_cast<int64_t>(digits.size())) {
          digits.insert(0, static_cast<size_t>(prec) - digits.size(), '0');
        }
        return digits;
      }
      case 'E':
      case 'F':
      case 'G':
      case 'N':
      case 'M': {
        if (a.VType() != vtExtended) Invalid();
        const double d = a.AsExtended();
        const int p = static_cast<int>(std::min<int64_t>(prec, kMaxPrecision));
        switch (type) {
          case 'E':
            return FloatToText(d, ffExponent, p < 0 ? 15 : p, 3, settings_);
          case 'G':
            return FloatToText(d, ffGeneral, p < 0 ? 15 : p, 3, settings_);
          case 'F':
            return FloatToText(d, ffFixed, kMaxPrecision, p < 0 ? 2 : p, settings_);
          case 'N':
            return FloatToText(d, ffNumber, kMaxPrecision, p < 0 ? 2 : p, settings_);
          default:
            return FloatToText(d, ffCurrency, kMaxPrecision, p < 0 ? settings_.CurrencyDecimals : p,
                               settings_);
        }
      }
      case 'P': {
        if (a.VType() != vtPointer) Invalid();
        return IntToHex(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(a.AsPointer())),
                        static_cast<int32_t>(sizeof(void*) * 2));
      }
      case 'S': {
        std::string s;
        if (a.VType() == vtString) {
          s = std::string(a.AsString());
        } else if (a.VType() == vtChar) {
          s = std::string(1, a.AsChar());
        } else {
          Invalid();
        }
        if (prec >= 0 && static_cast<int64_t>(s.size()) > prec) s.resize(static_cast<size_t>(prec));
        return s;
      }
      default:
        Invalid();
    }
  }

  std::string_view fmt_;
  const TVarRec* args_;
  size_t count_;
  const TFormatSettings& settings_;
  size_t i_ = 0;
  size_t next_ = 0;
};

// --- FormatFloat ---------------------------------------------------------------

// Splits a picture into its ";"-separated sections, quotes respected.
std::vector<std::string_view> Sections(std::string_view format) {
  std::vector<std::string_view> out;
  size_t start = 0;
  char quote = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';' && out.size() < 2) {
      out.push_back(format.substr(start, i - start));
      start = i + 1;
    }
  }
  out.push_back(format.substr(start));
  return out;
}

struct Picture {
  int intPlaces = 0;   // "0" and "#" before the decimal point
  int intZeros = 0;    // integer places from the first "0" on
  int fracPlaces = 0;  // places after the decimal point
  int fracZeros = 0;   // fraction places up to the last "0"
  bool thousands = false;
  bool scientific = false;
};

Picture Analyse(std::string_view sec) {
  Picture p;
  bool point = false;
  char quote = 0;
  for (size_t i = 0; i < sec.size(); ++i) {
    const char c = sec[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    switch (c) {
      case '\'':
      case '"':
        quote = c;
        break;
      case '0':
      case '#':
        if (point) {
          ++p.fracPlaces;
          if (c == '0') p.fracZeros = p.fracPlaces;
        } else {
          ++p.intPlaces;
          if (c == '0' && p.intZeros == 0)
            p.intZeros = 1;
          else if (p.intZeros > 0)
            ++p.intZeros;
        }
        break;
      case '.':
        point = true;
        break;
      case ',':
        p.thousands = true;
        break;
      case 'E':
      case 'e':
        if (i + 1 < sec.size() && (sec[i + 1] == '+' || sec[i + 1] == '-')) {
          p.scientific = true;
          return p;  // the exponent's own "0"s are not digit places
        }
        break;
      default:
        break;
    }
  }
  return p;
}

std::string RenderPicture(std::string_view sec, const Picture& p, const std::string& intDigits,
                          const std::string& fracDigits, int exponent, bool negative,
                          const TFormatSettings& settings) {
  std::string out = negative ? "-" : "";
  const int len = static_cast<int>(intDigits.size());
  int intPlace = 0;
  int fracPlace = 0;
  bool point = false;
  char quote = 0;
  auto emitInt = [&](int from, int to) {  // digits [from, to) of the integer part
    for (int j = from; j < to; ++j) {
      out.push_back(intDigits[static_cast<size_t>(j)]);
      const int left = len - 1 - j;
      if (p.thousands && left > 0 && left % 3 == 0) out.push_back(settings.ThousandSeparator);
    }
  };
  for (size_t i = 0; i < sec.size(); ++i) {
    const char c = sec[i];
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        out.push_back(c);
      }
      continue;
    }
    switch (c) {
      case '\'':
      case '"':
        quote = c;
        break;
      case '0':
      case '#':
        if (point) {
          if (fracPlace < static_cast<int>(fracDigits.size())) {
            out.push_back(fracDigits[static_cast<size_t>(fracPlace)]);
          }
          ++fracPlace;
        } else {
          // Place k of n shows integer digit len - n + k; the first place also
          // shows every digit to its left that has no place of its own.
          const int digit = len - p.intPlaces + intPlace;
          if (intPlace == 0) emitInt(0, std::max(0, digit));
          if (digit >= 0) emitInt(digit, digit + 1);
          ++intPlace;
        }
        break;
      case '.':
        if (!point) {
          point = true;
          if (intPlace == 0 && p.intPlaces == 0) emitInt(0, len);
          if (!fracDigits.empty()) out.push_back(settings.DecimalSeparator);
        } else {
          out.push_back(c);
        }
        break;
      case ',':
        break;
      case 'E':
      case 'e':
        if (p.scientific && i + 1 < sec.size() && (sec[i + 1] == '+' || sec[i + 1] == '-')) {
          const bool plus = sec[i + 1] == '+';
          i += 2;
          int zeros = 0;
          while (i < sec.size() && sec[i] == '0') ++zeros, ++i;
          --i;
          out.push_back(c);
          AppendExponent(out, exponent, std::min(zeros, 4), plus);
          break;
        }
        out.push_back(c);
        break;
      default:
        out.push_back(c);
        break;
    }
  }
  return out;
}

std::string FormatSection(std::string_view sec, double value, bool withSign,
                          const TFormatSettings& settings, bool& isZero) {
  const Picture p = Analyse(sec);
  std::string intDigits;
  std::string fracDigits;
  int exponent = 0;
  TFloatRec rec;
  if (p.scientific) {
    const int places = std::max(1, p.intPlaces + p.fracPlaces);
    rec = FloatToDecimal(value, std::min(places, 15), 9999);
    if (!rec.Digits.empty()) exponent = rec.Exponent - p.intPlaces;
    for (int i = 0; i < p.intPlaces; ++i) intDigits.push_back(DigitAt(rec, i));
    for (int i = p.intPlaces; i < static_cast<int>(rec.Digits.size()); ++i) {
      fracDigits.push_back(rec.Digits[static_cast<size_t>(i)]);
    }
  } else {
    rec = FloatToDecimal(value, 15, p.fracPlaces);
    for (int i = 0; i < rec.Exponent; ++i) intDigits.push_back(DigitAt(rec, i));
    // The digits after the point, with the zeros between the point and them.
    fracDigits = FractionPart(rec, std::max(0, static_cast<int>(rec.Digits.size()) - rec.Exponent));
  }
  // Leading "0" places force integer digits; "#" places do not.
  if (static_cast<int>(intDigits.size()) < p.intZeros) {
    intDigits.insert(0, static_cast<size_t>(p.intZeros) - intDigits.size(), '0');
  }
  if (static_cast<int>(fracDigits.size()) < p.fracZeros) {
    fracDigits.append(static_cast<size_t>(p.fracZeros) - fracDigits.size(), '0');
  }
  isZero = rec.Digits.empty();
  return RenderPicture(sec, p, intDigits, fracDigits, exponent, withSign && rec.Negative, settings);
}

// --- Reading floats ------------------------------------------------------------

bool IsFloatBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return SameText(a, b);
}

}  // namespace

std::string Format(std::string_view fmt, std::initializer_list<TVarRec> args,
                   const TFormatSettings& settings) {
  return Formatter(fmt, args, settings).Run();
}

std::string FloatToStr(double value, const TFormatSettings& settings) {
  return FloatToText(value, ffGeneral, 15, 0, settings);
}

std::string FloatToStrF(double value, TFloatFormat format, int32_t precision, int32_t digits,
                        const TFormatSettings& settings) {
  return FloatToText(value, format, precision, digits, settings);
}

std::string FormatFloat(std::string_view format, double value, const TFormatSettings& settings) {
  if (auto special = SpecialText(value)) return *special;
  const std::vector<std::string_view> sections = Sections(format);
  if (format.empty() || sections[0].empty()) return FloatToStr(value, settings);
  const double magnitude = std::fabs(value);
  const bool hasNegative = sections.size() >= 2 && !sections[1].empty();
  const bool hasZero = sections.size() >= 3 && !sections[2].empty();
  bool isZero = false;
  std::string text;
  if (value < 0 && hasNegative) {
    text = FormatSection(sections[1], magnitude, false, settings, isZero);
  } else {
    text = FormatSection(sections[0], value, true, settings, isZero);
  }
  // A value that rounds to nothing in its section shows as zero.
  if ((isZero || value == 0) && hasZero) {
    return FormatSection(sections[2], 0.0, false, settings, isZero);
  }
  return text;
}

std::string CurrToStr(double value, const TFormatSettings& settings) {
  if (auto special = SpecialText(value)) return *special;
  return FormatGeneral(FloatToDecimal(value, kMaxPrecision, 4), kMaxPrecision, 0, settings);
}

bool TryStrToFloat(std::string_view s, double& value, const TFormatSettings& settings) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && IsFloatBlank(s[b])) ++b;
  while (e > b && IsFloatBlank(s[e - 1])) --e;
  const std::string_view t = s.substr(b, e - b);
  if (EqualsNoCase(t, "NAN")) {
    value = std::nan("");
    return true;
  }
  if (EqualsNoCase(t, "INF") || EqualsNoCase(t, "+INF")) {
    value = HUGE_VAL;
    return true;
  }
  if (EqualsNoCase(t, "-INF")) {
    value = -HUGE_VAL;
    return true;
  }
  // Rebuild the text in the one form from_chars reads, so the decimal
  // separator of the settings never reaches the C library.
  std::string norm;
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  int mantissaDigits = 0;
  int intDigits = 0;         // significant digits before the separator
  int leadingFracZeros = 0;  // zeros after the separator before the first other digit
  bool seenNonZero = false;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
    if (t[i] != '0') seenNonZero = true;
    if (seenNonZero) ++intDigits;
    norm.push_back(t[i++]);
    ++mantissaDigits;
  }
  if (i < t.size() && t[i] == settings.DecimalSeparator) {
    ++i;
    norm.push_back('.');
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
      if (t[i] != '0') seenNonZero = true;
      if (!seenNonZero) ++leadingFracZeros;
      norm.push_back(t[i++]);
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) return false;
  int64_t exp10 = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) expNegative = t[i++] == '-';
    const size_t start = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
      exp10 = std::min<int64_t>(exp10 * 10 + (t[i] - '0'), 100000);
      ++i;
    }
    if (i == start) return false;
    if (expNegative) exp10 = -exp10;
    norm.append("e").append(std::to_string(exp10));
  }
  if (i != t.size()) return false;
  double v = 0;
  const auto res = std::from_chars(norm.data(), norm.data() + norm.size(), v);
  if (res.ptr != norm.data() + norm.size()) return false;
  if (res.ec == std::errc::result_out_of_range) {
    // Decide by the magnitude: huge values are refused, tiny ones are zero.
    const int64_t magnitude = (intDigits > 0 ? intDigits : -leadingFracZeros) + exp10;
    if (magnitude > 0) return false;
    v = 0;
  } else if (res.ec != std::errc()) {
    return false;
  }
  if (!std::isfinite(v)) return false;
  value = negative ? -v : v;
  return true;
}

double StrToFloat(std::string_view s, const TFormatSettings& settings) {
  double v = 0;
  if (!TryStrToFloat(s, v, settings)) {
    throw EConvertError("'" + std::string(s) + "' is not a valid floating point value");
  }
  return v;
}

double StrToFloatDef(std::string_view s, double defaultValue, const TFormatSettings& settings) {
  double v = 0;
  return TryStrToFloat(s, v, settings) ? v : defaultValue;
}

std::string FloatToStrRoundTrip(double value) {
  if (auto special = SpecialText(value)) return *special;
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  const std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
  const size_t e = text.find('e');
  if (e == std::string_view::npos) return std::string(text);
  // "1.5e+20" -> "1.5E20", "1e-07" -> "1E-7": the library's way of writing it.
  std::string out(text.substr(0, e));
  out.push_back('E');
  size_t i = e + 1;
  if (text[i] == '-') out.push_back('-');
  if (text[i] == '+' || text[i] == '-') ++i;
  while (i + 1 < text.size() && text[i] == '0') ++i;
  out.append(text.substr(i));
  return out;
}

}  // namespace plat
