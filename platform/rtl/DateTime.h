#pragma once
// Dates and times as the library keeps them: a double counting days since
// 30 December 1899, the time of day as the fraction, local time. For a
// negative value the fraction still counts forward from midnight: -1.25 is
// 29 December 1899, 06:00.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/rtl/Format.h"

namespace plat {

using TDateTime = double;

inline constexpr int32_t HoursPerDay = 24;
inline constexpr int32_t MinsPerHour = 60;
inline constexpr int32_t SecsPerMin = 60;
inline constexpr int32_t MSecsPerSec = 1000;
inline constexpr int32_t MinsPerDay = HoursPerDay * MinsPerHour;
inline constexpr int32_t SecsPerDay = MinsPerDay * SecsPerMin;
inline constexpr int32_t MSecsPerDay = SecsPerDay * MSecsPerSec;
// Days from 1 January 0001 (day 1) to 30 December 1899, and from 30 December
// 1899 to 1 January 1970.
inline constexpr int32_t DateDelta = 693594;
inline constexpr int32_t UnixDateDelta = 25569;

// Milliseconds since midnight and days since 1 January 0001 (that day is 1).
struct TTimeStamp {
  int32_t Time;
  int32_t Date;
};

bool IsLeapYear(int32_t year);

// Years 1 to 9999. Bad parts raise EConvertError "Invalid argument to date
// encode" / "Invalid argument to time encode"; the Try forms return false.
TDateTime EncodeDate(int32_t year, int32_t month, int32_t day);
TDateTime EncodeTime(int32_t hour, int32_t min, int32_t sec, int32_t msec);
bool TryEncodeDate(int32_t year, int32_t month, int32_t day, TDateTime& date);
bool TryEncodeTime(int32_t hour, int32_t min, int32_t sec, int32_t msec, TDateTime& time);

// Decoding rounds to the nearest millisecond first (so 23:59:59.9999 is the
// next day's midnight). A date outside years 1 to 9999 decodes to zeros.
void DecodeDate(TDateTime date, uint16_t& year, uint16_t& month, uint16_t& day);
void DecodeDate(TDateTime date, int32_t& year, int32_t& month, int32_t& day);
void DecodeTime(TDateTime time, uint16_t& hour, uint16_t& min, uint16_t& sec, uint16_t& msec);
void DecodeTime(TDateTime time, int32_t& hour, int32_t& min, int32_t& sec, int32_t& msec);
// 1 for Sunday to 7 for Saturday.
int32_t DayOfWeek(TDateTime date);

// The local date and time, to the millisecond.
TDateTime Now();
TDateTime Date();
TDateTime Time();

// The value to the nearest millisecond. A value that is not finite or lies
// beyond any calendar raises EConvertError "'%s' is not a valid date and
// time".
TTimeStamp DateTimeToTimeStamp(TDateTime dateTime);
// Raises EConvertError "'%d.%d' is not a valid timestamp" for a time outside
// the day or a date before day 1.
TDateTime TimeStampToDateTime(const TTimeStamp& timeStamp);

// Specifiers (letters in any case): c (short date, then the long time unless
// it is midnight), d dd ddd dddd ddddd dddddd, m mm mmm mmmm (minutes right
// after an h or hh), yy yyyy, h hh, n nn, s ss, z zzz, t (short time), tt
// (long time), am/pm a/p ampm (12-hour clock for the hours before them), "/"
// and ":" (the separators), text in '...' or "..." as it stands; any other
// character is copied.
std::string FormatDateTime(std::string_view format, TDateTime dateTime,
                           const TFormatSettings& settings = FormatSettings);
// ShortDateFormat, LongTimeFormat, and "c".
std::string DateToStr(TDateTime date, const TFormatSettings& settings = FormatSettings);
std::string TimeToStr(TDateTime time, const TFormatSettings& settings = FormatSettings);
std::string DateTimeToStr(TDateTime dateTime, const TFormatSettings& settings = FormatSettings);

// Text to dates: numbers separated by DateSeparator in the order of
// ShortDateFormat (two numbers take the current year; a year of one or two
// digits is placed by TwoDigitYearCenturyWindow); times as
// h[:n[:s[.fraction]]] with TimeSeparator and DecimalSeparator and an
// optional AM/PM marker before or after. A date and time are separated by
// blanks; StrToDateTime also takes a time alone. Bad text raises
// EConvertError "'%s' is not a valid date", "'%s' is not a valid time" or
// "'%s' is not a valid date and time".
TDateTime StrToDate(std::string_view s, const TFormatSettings& settings = FormatSettings);
TDateTime StrToTime(std::string_view s, const TFormatSettings& settings = FormatSettings);
TDateTime StrToDateTime(std::string_view s, const TFormatSettings& settings = FormatSettings);
bool TryStrToDate(std::string_view s, TDateTime& value,
                  const TFormatSettings& settings = FormatSettings);
bool TryStrToTime(std::string_view s, TDateTime& value,
                  const TFormatSettings& settings = FormatSettings);
bool TryStrToDateTime(std::string_view s, TDateTime& value,
                      const TFormatSettings& settings = FormatSettings);

}  // namespace plat
