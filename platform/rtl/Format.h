#pragma once
// Number text and the library's Format. Every conversion of numbers and dates
// to and from text goes through the format settings, so text written by the
// system reads back to the same value.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/rtl/Strings.h"

namespace plat {

// The separators, formats and names used by the text conversions. The
// defaults are the system's fixed choices; a host may change the global
// instance before it starts work (it is not guarded for concurrent changes).
struct TFormatSettings {
  uint8_t CurrencyFormat = 0;  // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
  uint8_t NegCurrFormat = 1;   // 0 "($1)" ... 15 "(1 $)", as the library numbers them
  char ThousandSeparator = ',';
  char DecimalSeparator = '.';
  uint8_t CurrencyDecimals = 2;
  char DateSeparator = '-';
  char TimeSeparator = ':';
  char ListSeparator = ',';
  std::string CurrencyString = "$";
  std::string ShortDateFormat = "yyyy-mm-dd";
  std::string LongDateFormat = "dddd, mmmm d, yyyy";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  std::string ShortTimeFormat = "hh:nn";
  std::string LongTimeFormat = "hh:nn:ss";
  std::string ShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::string LongMonthNames[12] = {"January",   "February", "March",    "April",
                                    "May",       "June",     "July",     "August",
                                    "September", "October",  "November", "December"};
  std::string ShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::string LongDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
  // A two-digit year is placed in the 100 years that begin this many years
  // before the current year; 0 places it in the current century.
  int32_t TwoDigitYearCenturyWindow = 50;
};

// The process-wide settings (the one piece of mutable global state of the
// runtime). Functions below take them as a default argument.
extern TFormatSettings FormatSettings;

// --- Format ------------------------------------------------------------------

enum TVarRecType : uint8_t {
  vtInteger,  // int32
  vtInt64,
  vtUInt64,  // unsigned values above the int64 range
  vtExtended,
  vtString,
  vtChar,
  vtPointer,
};

// One argument of Format. Built implicitly from integers, floating values,
// characters, strings and pointers; a string argument is viewed, not copied,
// so it must outlive the call (temporaries in the argument list do).
class TVarRec {
 public:
  template <std::integral T>
  requires(!std::same_as<T, bool> && !std::same_as<T, char>) TVarRec(T v) {
    if constexpr (std::is_signed_v<T> && sizeof(T) <= 4) {
      type_ = vtInteger, int_ = v;
    } else if constexpr (std::is_signed_v<T> || sizeof(T) < 8) {
      type_ = vtInt64, int_ = static_cast<int64_t>(v);
    } else {
      type_ = vtUInt64, uint_ = static_cast<uint64_t>(v);
    }
  }
  TVarRec(bool) = delete;  // not an argument type of the library's Format
  TVarRec(char c) : type_(vtChar), char_(c) {}
  TVarRec(double v) : type_(vtExtended), double_(v) {}
  TVarRec(float v) : type_(vtExtended), double_(v) {}
  TVarRec(long double v) : type_(vtExtended), double_(static_cast<double>(v)) {}
  TVarRec(const char* s) : type_(vtString), string_(s != nullptr ? s : "") {}
  TVarRec(char* s) : TVarRec(static_cast<const char*>(s)) {}
  TVarRec(const std::string& s) : type_(vtString), string_(s) {}
  TVarRec(std::string_view s) : type_(vtString), string_(s) {}
  TVarRec(const void* p) : type_(vtPointer), pointer_(p) {}
  TVarRec(std::nullptr_t) : type_(vtPointer), pointer_(nullptr) {}
  template <typename T>
  requires(!std::same_as<std::remove_cv_t<T>, char>) TVarRec(T* p)
      : type_(vtPointer), pointer_(static_cast<const void*>(p)) {}

  TVarRecType VType() const { return type_; }
  int64_t AsInt64() const { return int_; }
  uint64_t AsUInt64() const { return uint_; }
  double AsExtended() const { return double_; }
  std::string_view AsString() const { return string_; }
  char AsChar() const { return char_; }
  const void* AsPointer() const { return pointer_; }

 private:
  TVarRecType type_;
  union {
    int64_t int_;
    uint64_t uint_;
    double double_;
    char char_;
    const void* pointer_;
  };
  std::string_view string_;
};

// The library's Format: "%" [index ":"] ["-"] [width] ["." precision] type,
// with index, width and precision as digits or "*" (taken from the next
// argument), and the types d (decimal; precision = minimum digits), u
// (unsigned), x (upper-case hex), e (scientific; precision = significant
// digits, default 15), f (fixed; precision = decimals, default 2), g
// (general; default 15 significant digits), n (fixed with thousand
// separators), m (money), p (pointer), s (string or character; precision =
// maximum length); "%%" is "%". Width pads with blanks on the left, or on the
// right after "-". A bad directive or an argument of the wrong type raises
// EConvertError "Format '%s' invalid or incompatible with argument"; a
// missing argument "No argument for format '%s'".
std::string Format(std::string_view fmt, std::initializer_list<TVarRec> args,
                   const TFormatSettings& settings = FormatSettings);

// --- Floating-point text -----------------------------------------------------

enum TFloatFormat : uint8_t { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

// General form with 15 significant digits ("0.1", "1E20", "1.5E-5").
std::string FloatToStr(double value, const TFormatSettings& settings = FormatSettings);
// `precision` significant digits (1 to 18). `digits`: for ffGeneral and
// ffExponent the minimum exponent digits (0 to 4), for the others the
// decimals. A value with more integer digits than `precision` is written in
// general form. NaN and infinities are "NAN", "INF" and "-INF".
std::string FloatToStrF(double value, TFloatFormat format, int32_t precision, int32_t digits,
                        const TFormatSettings& settings = FormatSettings);
// The library's format pictures: up to three sections separated by ";" (for
// positive, negative and zero values), "0" and "#" digit places, the first
// "." for the decimal point, "," anywhere for thousand separators, "E+",
// "E-", "e+", "e-" with "0"s for scientific form, quoted text in ' or " kept.
// An empty picture gives FloatToStr.
std::string FormatFloat(std::string_view format, double value,
                        const TFormatSettings& settings = FormatSettings);
// A currency amount (rounded to 4 decimals) in general form.
std::string CurrToStr(double value, const TFormatSettings& settings = FormatSettings);

// Float text: optional blanks, an optional sign, digits with at most one
// decimal separator, an optional exponent ("E" or "e", a sign, digits),
// optional blanks; also "INF", "-INF" and "NAN" as FloatToStrRoundTrip writes
// them. A value beyond the double range is refused. Bad text raises
// EConvertError "'%s' is not a valid floating point value".
double StrToFloat(std::string_view s, const TFormatSettings& settings = FormatSettings);
double StrToFloatDef(std::string_view s, double defaultValue,
                     const TFormatSettings& settings = FormatSettings);
bool TryStrToFloat(std::string_view s, double& value,
                   const TFormatSettings& settings = FormatSettings);

// The shortest text that reads back (with "." as the separator) to exactly the
// same double: "0.1", "1E20", "-1.5E-7", "-0". Independent of the settings.
std::string FloatToStrRoundTrip(double value);

}  // namespace plat
