#include "platform/rtl/DateTime.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "platform/rtl/Exceptions.h"

namespace plat {
namespace {

// A date and time as the library composes them: the time counts forward from
// the date's midnight, also before 1899.
TDateTime At(int y, int m, int d, int h = 0, int n = 0, int s = 0, int z = 0) {
  const TDateTime date = EncodeDate(y, m, d);
  const TDateTime time = EncodeTime(h, n, s, z);
  return date < 0 ? date - time : date + time;
}

TEST(DateTime, EncodeDate) {
  struct Case {
    int y, m, d;
    bool ok;
    double value;
  };
  const Case cases[] = {
      {1899, 12, 30, true, 0},       {1900, 1, 1, true, 2},      {1970, 1, 1, true, 25569},
      {2000, 1, 1, true, 36526},     {2001, 1, 15, true, 36906}, {1, 1, 1, true, -693593},
      {9999, 12, 31, true, 2958465}, {1899, 12, 29, true, -1},   {2000, 2, 29, true, 36585},
      {1600, 2, 29, true, -109512},  {1900, 2, 29, false, 0},    {2001, 2, 29, false, 0},
      {2001, 4, 31, false, 0},       {2001, 13, 1, false, 0},    {2001, 0, 1, false, 0},
      {2001, 1, 0, false, 0},        {0, 1, 1, false, 0},        {10000, 1, 1, false, 0},
      {-5, 1, 1, false, 0},
  };
  for (const Case& c : cases) {
    TDateTime v = -7;
    EXPECT_EQ(TryEncodeDate(c.y, c.m, c.d, v), c.ok) << c.y << "-" << c.m << "-" << c.d;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.y << "-" << c.m << "-" << c.d;
    } else {
      EXPECT_EQ(v, -7);
    }
  }
  try {
    EncodeDate(2001, 2, 29);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Invalid argument to date encode");
  }
}

TEST(DateTime, EncodeTime) {
  EXPECT_EQ(EncodeTime(0, 0, 0, 0), 0);
  EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_EQ(EncodeTime(6, 0, 0, 0), 0.25);
  EXPECT_DOUBLE_EQ(EncodeTime(23, 59, 59, 999), 86399999.0 / MSecsPerDay);
  const int bad[][4] = {
      {24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}, {-1, 0, 0, 0}};
  for (const auto& b : bad) {
    TDateTime t = 0;
    EXPECT_FALSE(TryEncodeTime(b[0], b[1], b[2], b[3], t));
  }
  try {
    EncodeTime(25, 0, 0, 0);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Invalid argument to time encode");
  }
}

TEST(DateTime, DecodeAndDayOfWeek) {
  struct Case {
    TDateTime v;
    int y, m, d, h, n, s, z, dow;
  };
  const Case cases[] = {
      {0, 1899, 12, 30, 0, 0, 0, 0, 7},
      {-1.25, 1899, 12, 29, 6, 0, 0, 0, 6},
      {-0.5, 1899, 12, 30, 12, 0, 0, 0, 7},
      {36526.75, 2000, 1, 1, 18, 0, 0, 0, 7},
      {36906 + 0.5 + 1.0 / MSecsPerDay, 2001, 1, 15, 12, 0, 0, 1, 2},
      {36526.999999999999, 2000, 1, 2, 0, 0, 0, 0, 1},  // rounds to the next midnight
      {-1.999999999999, 1899, 12, 28, 0, 0, 0, 0, 5},
      {-693593, 1, 1, 1, 0, 0, 0, 0, 2},
      {2958465.5, 9999, 12, 31, 12, 0, 0, 0, 6},
      {36585, 2000, 2, 29, 0, 0, 0, 0, 3},
      {-109512, 1600, 2, 29, 0, 0, 0, 0, 3},
      {401768, 2999, 12, 31, 0, 0, 0, 0, 3},
  };
  for (const Case& c : cases) {
    int32_t y, m, d, h, n, s, z;
    DecodeDate(c.v, y, m, d);
    DecodeTime(c.v, h, n, s, z);
    EXPECT_EQ((std::array<int32_t, 7>{y, m, d, h, n, s, z}),
              (std::array<int32_t, 7>{c.y, c.m, c.d, c.h, c.n, c.s, c.z}))
        << c.v;
    EXPECT_EQ(DayOfWeek(c.v), c.dow) << c.v;
  }
  uint16_t y, m, d;
  DecodeDate(-700000, y, m, d);  // before year 1
  EXPECT_EQ(y + m + d, 0);
  DecodeDate(2958466, y, m, d);  // after year 9999
  EXPECT_EQ(y + m + d, 0);
  // Outside the calendar a value still formats safely.
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd ddd mmm", -700000), "0000-00-00 Sat ");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd ddd", 2958466), "0000-00-00 Sat");
  EXPECT_EQ(DayOfWeek(-693594), 1);  // the Sunday before day 1
  DecodeDate(At(2024, 7, 4), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240704);
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2023));
}

TEST(DateTime, TimeStamps) {
  struct Case {
    TDateTime v;
    int32_t time, date;
  };
  const Case cases[] = {
      {0, 0, DateDelta},
      {0.5, 43200000, DateDelta},
      {-1.25, 21600000, DateDelta - 1},
      {36526.75, 64800000, DateDelta + 36526},
      {-693593, 0, 1},
  };
  for (const Case& c : cases) {
    const TTimeStamp ts = DateTimeToTimeStamp(c.v);
    EXPECT_EQ(ts.Time, c.time) << c.v;
    EXPECT_EQ(ts.Date, c.date) << c.v;
    EXPECT_EQ(TimeStampToDateTime(ts), c.v) << c.v;
  }
  struct Bad {
    TTimeStamp ts;
    const char* message;
  };
  const Bad bad[] = {
      {{-1, 5}, "'5.-1' is not a valid timestamp"},
      {{MSecsPerDay, 5}, "'5.86400000' is not a valid timestamp"},
      {{0, 0}, "'0.0' is not a valid timestamp"},
  };
  for (const Bad& b : bad) {
    try {
      TimeStampToDateTime(b.ts);
      ADD_FAILURE() << b.message;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), b.message);
    }
  }
  for (double v : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300, -1e12}) {
    EXPECT_THROW(DateTimeToTimeStamp(v), EConvertError) << v;
    EXPECT_THROW(FormatDateTime("yyyy", v), EConvertError) << v;
  }
}

TEST(DateTime, FormatDateTime) {
  const TDateTime morning = At(2001, 1, 5, 7, 8, 9, 45);  // a Friday
  const TDateTime evening = At(2001, 1, 5, 19, 0, 0, 0);
  struct Case {
    const char* fmt;
    TDateTime v;
    const char* want;
  };
  const Case cases[] = {
      {"yyyy-mm-dd hh:nn:ss.zzz", morning, "2001-01-05 07:08:09.045"},
      {"yy/m/d h:n:s.z", morning, "01-1-5 7:8:9.45"},
      {"YYYY-MM-DD HH:NN:SS", morning, "2001-01-05 07:08:09"},
      {"dddd ddd mmmm mmm", morning, "Friday Fri January Jan"},
      {"h:mm", morning, "7:08"},  // minutes right after an hour
      {"hh:mm:ss", morning, "07:08:09"},
      {"mm dd", morning, "01 05"},
      {"h am/pm", morning, "7 am"},
      {"h AM/PM", evening, "7 PM"},
      {"hh:nn a/p", evening, "07:00 p"},
      {"h ampm", evening, "7 PM"},
      {"hh", evening, "19"},
      {"h am/pm", At(2001, 1, 5), "12 am"},
      {"h am/pm", At(2001, 1, 5, 12), "12 pm"},
      {"c", morning, "2001-01-05 07:08:09"},
      {"c", At(2001, 1, 5), "2001-01-05"},
      {"", morning, "2001-01-05 07:08:09"},
      {"ddddd", morning, "2001-01-05"},
      {"dddddd", morning, "Friday, January 5, 2001"},
      {"t|tt", morning, "07:08|07:08:09"},
      {"'yyyy' \"mm\" yyyy", morning, "yyyy mm 2001"},
      {"'unclosed", morning, "unclosed"},
      {"yyyy 'at' hh", morning, "2001 at 07"},
      {"at", morning, "a07:08"},  // "t" is the short time
      {"yyyy-mm-dd hh:nn", At(1850, 6, 1, 12, 0), "1850-06-01 12:00"},
      {"yyyy", At(5, 1, 1), "0005"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatDateTime(c.fmt, c.v), c.want) << c.fmt;

  TFormatSettings s;
  s.DateSeparator = '/';
  s.TimeSeparator = '.';
  s.ShortDateFormat = "dd/mm/yyyy";
  s.LongTimeFormat = "hh.nn.ss";
  s.TimeAMString = "vorm.";
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn", morning, s), "2001/01/05 07.08");
  EXPECT_EQ(DateTimeToStr(morning, s), "05/01/2001 07.08.09");
  EXPECT_EQ(FormatDateTime("h ampm", morning, s), "7 vorm.");
  // A format that names itself does not loop.
  s.ShortDateFormat = "ddddd";
  EXPECT_EQ(DateToStr(morning, s), "");
}

TEST(DateTime, ReadingText) {
  struct Case {
    const char* text;
    int kind;  // 0 date, 1 time, 2 date and time
    bool ok;
    TDateTime value;
  };
  const Case cases[] = {
      {"2001-01-15", 0, true, At(2001, 1, 15)},
      {" 2001-1-5 ", 0, true, At(2001, 1, 5)},
      {"2001 - 01 - 15", 0, true, At(2001, 1, 15)},
      {"99-12-31", 0, true, At(1999, 12, 31)},  // two-digit years by the window
      {"01-02-03", 0, true, At(2001, 2, 3)},
      {"0001-01-01", 0, true, At(1, 1, 1)},
      {"2001-02-30", 0, false, 0},
      {"2001/01/15", 0, false, 0},
      {"2001-01-15x", 0, false, 0},
      {"2001-01-15 10:00", 0, false, 0},
      {"", 0, false, 0},
      {"12345678901-1-1", 0, false, 0},
      {"13:45", 1, true, EncodeTime(13, 45, 0, 0)},
      {"13:45:30", 1, true, EncodeTime(13, 45, 30, 0)},
      {"1:05:07.5", 1, true, EncodeTime(1, 5, 7, 500)},
      {"1:05:07.123456", 1, true, EncodeTime(1, 5, 7, 123)},
      {"1:05:07.9996", 1, true, EncodeTime(1, 5, 7, 999)},
      {"7:15 PM", 1, true, EncodeTime(19, 15, 0, 0)},
      {"7:15 pm", 1, true, EncodeTime(19, 15, 0, 0)},
      {"PM 7:15", 1, true, EncodeTime(19, 15, 0, 0)},
      {"12:00 AM", 1, true, 0},
      {"12:30 PM", 1, true, EncodeTime(12, 30, 0, 0)},
      {"12", 1, true, 0.5},
      {"13:00 PM", 1, false, 0},
      {"24:00", 1, false, 0},
      {"12:60", 1, false, 0},
      {"12:", 1, false, 0},
      {"12:00:", 1, false, 0},
      {"12:00:00.", 1, false, 0},
      {"abc", 1, false, 0},
      {"2001-01-15 13:45:30", 2, true, At(2001, 1, 15, 13, 45, 30)},
      {"2001-01-15", 2, true, At(2001, 1, 15)},
      {"13:45", 2, true, EncodeTime(13, 45, 0, 0)},
      {"1850-06-01 12:00:00", 2, true, At(1850, 6, 1, 12)},
      {"2001-01-15 25:00", 2, false, 0},
      {"2001-01-15 x", 2, false, 0},
      {"2001-01-15 13:45 junk", 2, false, 0},
  };
  for (const Case& c : cases) {
    TDateTime v = -99;
    bool ok = false;
    switch (c.kind) {
      case 0:
        ok = TryStrToDate(c.text, v);
        break;
      case 1:
        ok = TryStrToTime(c.text, v);
        break;
      default:
        ok = TryStrToDateTime(c.text, v);
        break;
    }
    EXPECT_EQ(ok, c.ok) << "'" << c.text << "'";
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  struct Error {
    TDateTime (*convert)(std::string_view, const TFormatSettings&);
    const char* message;
  };
  const Error errors[] = {
      {&StrToDate, "'x' is not a valid date"},
      {&StrToTime, "'x' is not a valid time"},
      {&StrToDateTime, "'x' is not a valid date and time"},
  };
  for (const Error& e : errors) {
    try {
      e.convert("x", FormatSettings);
      ADD_FAILURE() << e.message;
    } catch (const EConvertError& ex) {
      EXPECT_EQ(ex.Message(), e.message);
    }
  }
  // The order of the short date format decides.
  TFormatSettings dmy;
  dmy.ShortDateFormat = "dd/mm/yyyy";
  dmy.DateSeparator = '/';
  EXPECT_EQ(StrToDate("15/01/2001", dmy), At(2001, 1, 15));
  TFormatSettings mdy = dmy;
  mdy.ShortDateFormat = "m/d/yy";
  EXPECT_EQ(StrToDate("1/15/2001", mdy), At(2001, 1, 15));
  uint16_t y, m, d;
  DecodeDate(StrToDate("3/4", mdy), y, m, d);  // the current year
  EXPECT_EQ(m * 100 + d, 304);
}

// Text written through the settings reads back to the same value.
TEST(DateTime, RoundTrips) {
  const TDateTime values[] = {
      At(2001, 1, 15, 13, 45, 30),
      At(1899, 12, 30),
      At(1899, 12, 29, 23, 59, 59),
      At(1850, 6, 1, 12),
      At(1, 1, 1),
      At(9999, 12, 31, 23, 59, 59),
      At(2000, 2, 29, 0, 0, 1),
      At(1970, 1, 1, 0, 0, 0),
  };
  TFormatSettings other;
  other.ShortDateFormat = "dd.mm.yyyy";
  other.DateSeparator = '.';
  other.LongTimeFormat = "h:nn:ss am/pm";
  for (TDateTime v : values) {
    EXPECT_EQ(StrToDateTime(DateTimeToStr(v)), v) << DateTimeToStr(v);
    EXPECT_EQ(StrToDateTime(DateTimeToStr(v, other), other), v) << DateTimeToStr(v, other);
    const TDateTime datePart = v < 0 ? std::ceil(v) : std::floor(v);
    EXPECT_EQ(StrToDate(DateToStr(v)), datePart) << DateToStr(v);
    EXPECT_NEAR(StrToTime(TimeToStr(v)), std::fabs(v - datePart), 1e-10) << TimeToStr(v);
  }
  // Milliseconds survive "zzz" and time stamps, before and after 1899.
  std::mt19937 rng(99);
  for (int i = 0; i < 500; ++i) {
    const int32_t day = static_cast<int32_t>(rng() % 3000000) - 690000;
    const int32_t ms = static_cast<int32_t>(rng() % MSecsPerDay);
    const TDateTime v = TimeStampToDateTime(TTimeStamp{ms, day + DateDelta});
    const TTimeStamp ts = DateTimeToTimeStamp(v);
    ASSERT_EQ(ts.Date, day + DateDelta) << "seed 99, " << v;
    ASSERT_EQ(ts.Time, ms) << "seed 99, " << v;
    const std::string text = FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", v);
    ASSERT_EQ(StrToDateTime(text), v) << "seed 99, " << text;
  }
}

TEST(DateTime, NowIsLocalAndConsistent) {
  const TDateTime date = Date();
  const TDateTime now = Now();
  const TDateTime time = Time();
  EXPECT_EQ(date, std::floor(date));
  EXPECT_GE(now, date);
  EXPECT_LT(now, date + 2);  // a midnight may pass between the calls
  EXPECT_GE(time, 0);
  EXPECT_LT(time, 1);
  EXPECT_GT(date, At(2020, 1, 1));
}

}  // namespace
}  // namespace plat
