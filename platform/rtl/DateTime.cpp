#include "platform/rtl/DateTime.h"

#include <time.h>

#include <algorithm>
#include <cmath>

#include "platform/rtl/Exceptions.h"

namespace plat {
namespace {

constexpr int32_t kMonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                       {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
// Time stamp days of 1 January 0001 and 31 December 9999.
constexpr int32_t kFirstDay = 1;
constexpr int32_t kLastDay = 3652059;
// Values further from 0 than this have no calendar date and would not fit the
// time stamp's day count.
constexpr double kMaxDays = 1e9;

struct TDateParts {
  int32_t Year = 0;
  int32_t Month = 0;
  int32_t Day = 0;
};

// Days since 1 January 0001 (day 1) into a calendar date; zeros outside years
// 1 to 9999.
TDateParts DecodeDays(int32_t days) {
  TDateParts p;
  if (days < kFirstDay || days > kLastDay) return p;
  constexpr int32_t kD1 = 365;
  constexpr int32_t kD4 = kD1 * 4 + 1;
  constexpr int32_t kD100 = kD4 * 25 - 1;
  constexpr int32_t kD400 = kD100 * 4 + 1;
  int32_t t = days - 1;
  int32_t year = 1 + t / kD400 * 400;
  t %= kD400;
  int32_t i = t / kD100;
  int32_t d = t % kD100;
  if (i == 4) --i, d += kD100;  // the last day of a 400-year cycle
  year += i * 100;
  year += d / kD4 * 4;
  d %= kD4;
  i = d / kD1;
  d %= kD1;
  if (i == 4) --i, d += kD1;  // the last day of a leap cycle
  year += i;
  const int32_t* months = kMonthDays[IsLeapYear(year) ? 1 : 0];
  int32_t month = 0;
  while (d >= months[month]) d -= months[month++];
  p.Year = year;
  p.Month = month + 1;
  p.Day = d + 1;
  return p;
}

struct TTimeParts {
  int32_t Hour = 0;
  int32_t Min = 0;
  int32_t Sec = 0;
  int32_t MSec = 0;
};

TTimeParts DecodeMSecs(int32_t ms) {
  TTimeParts p;
  p.Hour = ms / 3600000;
  p.Min = ms / 60000 % 60;
  p.Sec = ms / 1000 % 60;
  p.MSec = ms % 1000;
  return p;
}

// A date part plus a time part, the time counted forward from the date's
// midnight also before 1899.
TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
  return date < 0 ? date - time : date + time;
}

}  // namespace

bool IsLeapYear(int32_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

bool TryEncodeDate(int32_t year, int32_t month, int32_t day, TDateTime& date) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  const int32_t* months = kMonthDays[IsLeapYear(year) ? 1 : 0];
  if (day > months[month - 1]) return false;
  for (int32_t m = 0; m < month - 1; ++m) day += months[m];
  const int32_t y = year - 1;
  date = static_cast<double>(y * 365 + y / 4 - y / 100 + y / 400 + day - DateDelta);
  return true;
}

bool TryEncodeTime(int32_t hour, int32_t min, int32_t sec, int32_t msec, TDateTime& time) {
  if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 ||
      msec >= 1000) {
    return false;
  }
  time = (hour * 3600000 + min * 60000 + sec * 1000 + msec) / static_cast<double>(MSecsPerDay);
  return true;
}

TDateTime EncodeDate(int32_t year, int32_t month, int32_t day) {
  TDateTime d = 0;
  if (!TryEncodeDate(year, month, day, d)) throw EConvertError("Invalid argument to date encode");
  return d;
}

TDateTime EncodeTime(int32_t hour, int32_t min, int32_t sec, int32_t msec) {
  TDateTime t = 0;
  if (!TryEncodeTime(hour, min, sec, msec, t)) {
    throw EConvertError("Invalid argument to time encode");
  }
  return t;
}

TTimeStamp DateTimeToTimeStamp(TDateTime dateTime) {
  if (!std::isfinite(dateTime) || std::fabs(dateTime) > kMaxDays) {
    throw EConvertError("'" + FloatToStr(dateTime) + "' is not a valid date and time");
  }
  int64_t days = static_cast<int64_t>(std::trunc(dateTime));
  int64_t ms = std::llround(std::fabs(dateTime - static_cast<double>(days)) * MSecsPerDay);
  if (ms >= MSecsPerDay) {
    ms -= MSecsPerDay;
    days += dateTime < 0 ? -1 : 1;
  }
  return TTimeStamp{static_cast<int32_t>(ms), static_cast<int32_t>(days + DateDelta)};
}

TDateTime TimeStampToDateTime(const TTimeStamp& timeStamp) {
  if (timeStamp.Time < 0 || timeStamp.Time >= MSecsPerDay || timeStamp.Date <= 0) {
    throw EConvertError(
        Format("'%d.%d' is not a valid timestamp", {timeStamp.Date, timeStamp.Time}));
  }
  return ComposeDateTime(static_cast<double>(timeStamp.Date - DateDelta),
                         timeStamp.Time / static_cast<double>(MSecsPerDay));
}

void DecodeDate(TDateTime date, int32_t& year, int32_t& month, int32_t& day) {
  const TDateParts p = DecodeDays(DateTimeToTimeStamp(date).Date);
  year = p.Year;
  month = p.Month;
  day = p.Day;
}

void DecodeDate(TDateTime date, uint16_t& year, uint16_t& month, uint16_t& day) {
  int32_t y = 0, m = 0, d = 0;
  DecodeDate(date, y, m, d);
  year = static_cast<uint16_t>(y);
  month = static_cast<uint16_t>(m);
  day = static_cast<uint16_t>(d);
}

void DecodeTime(TDateTime time, int32_t& hour, int32_t& min, int32_t& sec, int32_t& msec) {
  const TTimeParts p = DecodeMSecs(DateTimeToTimeStamp(time).Time);
  hour = p.Hour;
  min = p.Min;
  sec = p.Sec;
  msec = p.MSec;
}

void DecodeTime(TDateTime time, uint16_t& hour, uint16_t& min, uint16_t& sec, uint16_t& msec) {
  int32_t h = 0, n = 0, s = 0, z = 0;
  DecodeTime(time, h, n, s, z);
  hour = static_cast<uint16_t>(h);
  min = static_cast<uint16_t>(n);
  sec = static_cast<uint16_t>(s);
  msec = static_cast<uint16_t>(z);
}

namespace {

// 0 for Sunday; day 1 (1 January 0001) was a Monday. Days before it count on
// backwards, so the result always names a day.
int32_t WeekdayOf(int32_t timeStampDate) {
  return (timeStampDate % 7 + 7) % 7;
}

}  // namespace

int32_t DayOfWeek(TDateTime date) {
  return WeekdayOf(DateTimeToTimeStamp(date).Date) + 1;
}

namespace {

struct TLocalNow {
  TDateTime Date;
  TDateTime Time;
};

TLocalNow LocalNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  TLocalNow now{0, 0};
  TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, now.Date);
  // A leap second shows as the last second of its minute.
  TryEncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59),
                static_cast<int32_t>(ts.tv_nsec / 1000000), now.Time);
  return now;
}

}  // namespace

TDateTime Now() {
  const TLocalNow now = LocalNow();
  return now.Date + now.Time;
}

TDateTime Date() {
  return LocalNow().Date;
}
TDateTime Time() {
  return LocalNow().Time;
}

// --- Formatting ----------------------------------------------------------------

namespace {

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool StartsWithNoCase(std::string_view s, size_t at, std::string_view prefix) {
  return s.size() - at >= prefix.size() && SameText(s.substr(at, prefix.size()), prefix);
}

std::string Padded(int32_t value, int width) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
  return s;
}

class DateFormatter {
 public:
  DateFormatter(TDateTime dt, const TFormatSettings& settings) : settings_(settings) {
    const TTimeStamp ts = DateTimeToTimeStamp(dt);
    date_ = DecodeDays(ts.Date);
    time_ = DecodeMSecs(ts.Time);
    midnight_ = ts.Time == 0;
    dayOfWeek_ = WeekdayOf(ts.Date);
  }

  // Nested formats (c, ddddd, t...) may name other nested formats; a host's
  // format that names itself stops after a few levels.
  void Append(std::string_view fmt, std::string& out, int depth = 0) {
    if (depth > 3) return;
    bool afterHour = false;
    for (size_t i = 0; i < fmt.size();) {
      const char c = fmt[i];
      const char u = Upper(c);
      if (c == '\'' || c == '"') {
        const size_t close = fmt.find(c, i + 1);
        const size_t end = close == std::string_view::npos ? fmt.size() : close;
        out.append(fmt.substr(i + 1, end - i - 1));
        i = end == fmt.size() ? end : end + 1;
        continue;
      }
      if (c == '/') {
        out.push_back(settings_.DateSeparator);
        ++i;
        continue;
      }
      if (c == ':') {
        out.push_back(settings_.TimeSeparator);
        ++i;
        continue;
      }
      if (u == 'A') {
        if (AppendAmPm(fmt, i, out)) afterHour = false;
        continue;
      }
      if (std::string_view("YMDHNSZTC").find(u) == std::string_view::npos) {
        out.push_back(c);
        ++i;
        continue;
      }
      size_t count = 1;
      while (i + count < fmt.size() && Upper(fmt[i + count]) == u) ++count;
      const size_t next = i + count;
      switch (u) {
        case 'Y':
          out.append(count <= 2 ? Padded(date_.Year % 100, 2) : Padded(date_.Year, 4));
          break;
        case 'M':
          if (afterHour && count <= 2) {
            out.append(Padded(time_.Min, static_cast<int>(count)));
          } else if (count <= 2) {
            out.append(Padded(date_.Month, static_cast<int>(count)));
          } else if (date_.Month >= 1) {
            const auto& names = count == 3 ? settings_.ShortMonthNames : settings_.LongMonthNames;
            out.append(names[date_.Month - 1]);
          }
          break;
        case 'D':
          if (count <= 2) {
            out.append(Padded(date_.Day, static_cast<int>(count)));
          } else if (count == 3) {
            out.append(settings_.ShortDayNames[dayOfWeek_]);
          } else if (count == 4) {
            out.append(settings_.LongDayNames[dayOfWeek_]);
          } else if (count == 5) {
            Append(settings_.ShortDateFormat, out, depth + 1);
          } else {
            Append(settings_.LongDateFormat, out, depth + 1);
          }
          break;
        case 'H': {
          int32_t hour = time_.Hour;
          if (TwelveHour(fmt, next)) {
            hour %= 12;
            if (hour == 0) hour = 12;
          }
          out.append(Padded(hour, count >= 2 ? 2 : 1));
          break;
        }
        case 'N':
          out.append(Padded(time_.Min, count >= 2 ? 2 : 1));
          break;
        case 'S':
          out.append(Padded(time_.Sec, count >= 2 ? 2 : 1));
          break;
        case 'Z':
          out.append(Padded(time_.MSec, count >= 2 ? 3 : 1));
          break;
        case 'T':
          Append(count == 1 ? settings_.ShortTimeFormat : settings_.LongTimeFormat, out, depth + 1);
          break;
        case 'C':
          Append(settings_.ShortDateFormat, out, depth + 1);
          if (!midnight_) {
            out.push_back(' ');
            Append(settings_.LongTimeFormat, out, depth + 1);
          }
          break;
      }
      afterHour = u == 'H';
      i = next;
    }
  }

 private:
  // am/pm, a/p or ampm at fmt[i]; anything else starting with "a" is text.
  bool AppendAmPm(std::string_view fmt, size_t& i, std::string& out) const {
    const bool pm = time_.Hour >= 12;
    if (StartsWithNoCase(fmt, i, "am/pm")) {
      out.append(fmt.substr(pm ? i + 3 : i, 2));  // in the case it is written in
      i += 5;
    } else if (StartsWithNoCase(fmt, i, "a/p")) {
      out.push_back(fmt[pm ? i + 2 : i]);
      i += 3;
    } else if (StartsWithNoCase(fmt, i, "ampm")) {
      out.append(pm ? settings_.TimePMString : settings_.TimeAMString);
      i += 4;
    } else {
      out.push_back(fmt[i++]);
      return false;
    }
    return true;
  }

  // True when an am/pm specifier follows in the rest of the format.
  static bool TwelveHour(std::string_view fmt, size_t from) {
    for (size_t i = from; i < fmt.size(); ++i) {
      const char c = fmt[i];
      if (c == '\'' || c == '"') {
        const size_t close = fmt.find(c, i + 1);
        if (close == std::string_view::npos) return false;
        i = close;
        continue;
      }
      if (StartsWithNoCase(fmt, i, "am/pm") || StartsWithNoCase(fmt, i, "a/p") ||
          StartsWithNoCase(fmt, i, "ampm")) {
        return true;
      }
    }
    return false;
  }

  const TFormatSettings& settings_;
  TDateParts date_;
  TTimeParts time_;
  bool midnight_ = false;
  int32_t dayOfWeek_ = 0;
};

}  // namespace

std::string FormatDateTime(std::string_view format, TDateTime dateTime,
                           const TFormatSettings& settings) {
  std::string out;
  DateFormatter(dateTime, settings).Append(format.empty() ? "c" : format, out);
  return out;
}

std::string DateToStr(TDateTime date, const TFormatSettings& settings) {
  return FormatDateTime(settings.ShortDateFormat, date, settings);
}

std::string TimeToStr(TDateTime time, const TFormatSettings& settings) {
  return FormatDateTime(settings.LongTimeFormat, time, settings);
}

std::string DateTimeToStr(TDateTime dateTime, const TFormatSettings& settings) {
  return FormatDateTime("c", dateTime, settings);
}

// --- Reading -------------------------------------------------------------------

namespace {

class DateScanner {
 public:
  DateScanner(std::string_view s, const TFormatSettings& settings) : s_(s), settings_(settings) {}

  size_t pos = 0;

  void SkipBlanks() {
    while (pos < s_.size() && s_[pos] == ' ') ++pos;
  }
  bool AtEnd() {
    SkipBlanks();
    return pos == s_.size();
  }
  bool ScanChar(char c) {
    SkipBlanks();
    if (pos < s_.size() && s_[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }
  // Up to 9 digits after blanks; `digits` tells how many were read.
  bool ScanNumber(int32_t& value, int& digits) {
    SkipBlanks();
    value = 0;
    digits = 0;
    while (pos < s_.size() && s_[pos] >= '0' && s_[pos] <= '9') {
      if (digits == 9) return false;
      value = value * 10 + (s_[pos++] - '0');
      ++digits;
    }
    return digits > 0;
  }
  bool ScanNumber(int32_t& value) {
    int digits = 0;
    return ScanNumber(value, digits);
  }
  bool ScanText(std::string_view text) {
    SkipBlanks();
    if (text.empty() || !StartsWithNoCase(s_, pos, text)) return false;
    pos += text.size();
    return true;
  }
  // An AM or PM marker: 0 for AM, 12 for PM, -1 for none.
  int32_t ScanAmPm() {
    if (ScanText(settings_.TimeAMString) || ScanText("AM")) return 0;
    if (ScanText(settings_.TimePMString) || ScanText("PM")) return 12;
    return -1;
  }

  bool ScanDate(TDateTime& date) {
    int32_t n1 = 0, n2 = 0, n3 = 0;
    int d1 = 0, d2 = 0, d3 = 0;
    if (!ScanNumber(n1, d1) || !ScanChar(settings_.DateSeparator) || !ScanNumber(n2, d2)) {
      return false;
    }
    const char order = DateOrder();
    int32_t y = 0, m = 0, d = 0;
    int yearDigits = 0;
    if (ScanChar(settings_.DateSeparator)) {
      if (!ScanNumber(n3, d3)) return false;
      switch (order) {
        case 'Y':
          y = n1, m = n2, d = n3, yearDigits = d1;
          break;
        case 'D':
          d = n1, m = n2, y = n3, yearDigits = d3;
          break;
        default:
          m = n1, d = n2, y = n3, yearDigits = d3;
          break;
      }
      if (yearDigits <= 2) y = PlaceTwoDigitYear(y);
    } else {
      uint16_t cy = 0, cm = 0, cd = 0;
      DecodeDate(Date(), cy, cm, cd);
      y = cy;
      if (order == 'D') {
        d = n1, m = n2;
      } else {
        m = n1, d = n2;
      }
    }
    return TryEncodeDate(y, m, d, date);
  }

  bool ScanTime(TDateTime& time) {
    int32_t base = ScanAmPm();
    int32_t hour = 0, min = 0, sec = 0, msec = 0;
    if (!ScanNumber(hour)) return false;
    if (ScanChar(settings_.TimeSeparator)) {
      if (!ScanNumber(min)) return false;
      if (ScanChar(settings_.TimeSeparator)) {
        if (!ScanNumber(sec)) return false;
        if (pos < s_.size() && s_[pos] == settings_.DecimalSeparator) {
          ++pos;
          if (!ScanFraction(msec)) return false;
        }
      }
    }
    if (base < 0) base = ScanAmPm();
    if (base >= 0) {
      if (hour < 1 || hour > 12) return false;
      hour = hour % 12 + base;
    }
    return TryEncodeTime(hour, min, sec, msec, time);
  }

 private:
  // Digits of a second's fraction, to the nearest millisecond (up to 999).
  bool ScanFraction(int32_t& msec) {
    int digits = 0;
    int64_t scaled = 0;  // the first four digits, in tenths of a millisecond
    while (pos < s_.size() && s_[pos] >= '0' && s_[pos] <= '9') {
      if (digits < 4) scaled = scaled * 10 + (s_[pos] - '0');
      ++digits;
      ++pos;
    }
    if (digits == 0) return false;
    for (int i = digits; i < 4; ++i) scaled *= 10;
    msec = static_cast<int32_t>(std::min<int64_t>((scaled + 5) / 10, 999));
    return true;
  }

  // 'Y', 'M' or 'D': the first of those letters in the short date format.
  char DateOrder() const {
    for (char c : settings_.ShortDateFormat) {
      const char u = Upper(c);
      if (u == 'Y' || u == 'M' || u == 'D') return u;
    }
    return 'M';
  }

  int32_t PlaceTwoDigitYear(int32_t y) const {
    uint16_t cy = 0, cm = 0, cd = 0;
    DecodeDate(Date(), cy, cm, cd);
    const int32_t window = settings_.TwoDigitYearCenturyWindow;
    const int32_t start = cy - window;
    y += start / 100 * 100;
    if (window > 0 && y < start) y += 100;
    return y;
  }

  std::string_view s_;
  const TFormatSettings& settings_;
};

}  // namespace

bool TryStrToDate(std::string_view s, TDateTime& value, const TFormatSettings& settings) {
  DateScanner scan(s, settings);
  TDateTime d = 0;
  if (!scan.ScanDate(d) || !scan.AtEnd()) return false;
  value = d;
  return true;
}

bool TryStrToTime(std::string_view s, TDateTime& value, const TFormatSettings& settings) {
  DateScanner scan(s, settings);
  TDateTime t = 0;
  if (!scan.ScanTime(t) || !scan.AtEnd()) return false;
  value = t;
  return true;
}

bool TryStrToDateTime(std::string_view s, TDateTime& value, const TFormatSettings& settings) {
  DateScanner scan(s, settings);
  TDateTime d = 0;
  TDateTime t = 0;
  if (scan.ScanDate(d) && (scan.AtEnd() || (scan.ScanTime(t) && scan.AtEnd()))) {
    value = ComposeDateTime(d, t);
    return true;
  }
  return TryStrToTime(s, value, settings);
}

TDateTime StrToDate(std::string_view s, const TFormatSettings& settings) {
  TDateTime v = 0;
  if (!TryStrToDate(s, v, settings)) {
    throw EConvertError("'" + std::string(s) + "' is not a valid date");
  }
  return v;
}

TDateTime StrToTime(std::string_view s, const TFormatSettings& settings) {
  TDateTime v = 0;
  if (!TryStrToTime(s, v, settings)) {
    throw EConvertError("'" + std::string(s) + "' is not a valid time");
  }
  return v;
}

TDateTime StrToDateTime(std::string_view s, const TFormatSettings& settings) {
  TDateTime v = 0;
  if (!TryStrToDateTime(s, v, settings)) {
    throw EConvertError("'" + std::string(s) + "' is not a valid date and time");
  }
  return v;
}

}  // namespace plat
