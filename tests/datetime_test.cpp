// The date/time stamp's text: token pictures, strftime formats and the
// portable rewriting of formats for runtimes that know only the C89
// conversions, judged against the C library's own strftime.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "abi/datetime_text.h"
#include "platform/clock.h"

namespace {

// The C library's conversions between UTC calendar time and broken-down
// fields, under their names on each platform.
std::time_t utc_seconds(std::tm &t) {
#if defined(_WIN32)
  return _mkgmtime(&t);
#else
  return timegm(&t);
#endif
}

std::tm utc_fields(std::time_t seconds) {
  std::tm t{};
#if defined(_WIN32)
  gmtime_s(&t, &seconds);
#else
  gmtime_r(&seconds, &t);
#endif
  return t;
}

// A fixed moment as local time with the given distance from UTC, built
// without the host's time zone.
LocalTime moment(int year, int month, int day, int hour, int minute, int second,
                 long utc_offset = 0) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  std::tm normal = utc_fields(utc_seconds(t));  // fills in the weekday and the day of the year
#if !defined(_WIN32)
  normal.tm_gmtoff = utc_offset;
#endif
  LocalTime lt;
  lt.fields = normal;
  lt.utc_offset_seconds = utc_offset;
  return lt;
}

std::string translated(const char *picture) {
  char out[kDatetimeTextSize];
  std::memset(out, 'X', sizeof out);
  translate_token_picture(picture, out);
  return out;
}

std::string stamp_text(const char *format, const LocalTime &t) {
  char out[kDatetimeTextSize];
  std::memset(out, 'X', sizeof out);
  datetime_stamp_text(format, t, out);
  return out;
}

struct TokenCase {
  const char *picture;
  const char *format;
};

TEST(TokenPicture, TranslatesEachTokenAndCopiesTheRest) {
  const TokenCase cases[] = {
      {"DD.MM.YYYY", "%d.%m.%Y"},
      {"HH:mm:ss", "%H:%M:%S"},
      {"YYYYY", "%YY"},        // four-digit year, then a literal Y
      {"YYY", "%yY"},          // two-digit year, then Y
      {"hh:MM", "hh:%m"},      // tokens are case-sensitive
      {"yyyy dd SS", "yyyy dd SS"},
      {"D M Y H m s", "D M Y H m s"},
      {"MMM", "%mM"},
      {"", ""},
      {"YY-MM-DD HH.mm.ss", "%y-%m-%d %H.%M.%S"},
      {"\xc3\xa9t\xc3\xa9 YYYY", "\xc3\xa9t\xc3\xa9 %Y"},  // other bytes pass unchanged
  };
  for (const TokenCase &c : cases) EXPECT_EQ(translated(c.picture), c.format) << c.picture;
}

TEST(TokenPicture, StopsOnceTwoHundredFiftyTwoBytesAreWritten) {
  std::string months;
  for (int i = 0; i < 200; ++i) months += "MM";
  const std::string out = translated(months.c_str());
  EXPECT_EQ(out.size(), 252u);  // 126 conversions of two bytes each
  std::string expected;
  for (int i = 0; i < 126; ++i) expected += "%m";
  EXPECT_EQ(out, expected);

  // An odd start leaves the last step writing past 252: 253 bytes at most.
  const std::string odd = translated(("x" + months).c_str());
  EXPECT_EQ(odd.size(), 253u);
  EXPECT_EQ(odd.substr(0, 3), "x%m");

  const std::string letters = translated(std::string(1000, 'q').c_str());
  EXPECT_EQ(letters, std::string(252, 'q'));
}

TEST(StampText, DefaultShapeForNullAndEmpty) {
  const LocalTime t = moment(2031, 7, 4, 9, 5, 3);
  EXPECT_EQ(stamp_text(nullptr, t), "2031-07-04 09:05:03");
  EXPECT_EQ(stamp_text("", t), "2031-07-04 09:05:03");
}

TEST(StampText, PicturesAndFormats) {
  const LocalTime t = moment(2031, 7, 4, 9, 5, 3);
  const TokenCase cases[] = {
      {"DD.MM.YYYY", "04.07.2031"},
      {"HH:mm:ss", "09:05:03"},
      {"YYYYY", "2031Y"},
      {"YYY", "31Y"},
      {"hh:MM", "hh:07"},
      {"YYYY %d", "YYYY 04"},  // a '%' anywhere: used as strftime format, no tokens
      {"%Y/%j", "2031/185"},
      {"100%%", "100%"},
  };
  for (const TokenCase &c : cases) EXPECT_EQ(stamp_text(c.picture, t), c.format) << c.picture;
}

TEST(StampText, TextBeyondTwoHundredFiftyFiveBytesIsEmpty) {
  const LocalTime t = moment(2031, 7, 4, 9, 5, 3);
  EXPECT_EQ(stamp_text(std::string(255, 'a').append("%d").c_str(), t), "");
  EXPECT_EQ(stamp_text(std::string(253, 'a').append("%d").c_str(), t), std::string(253, 'a') + "04");
  // A picture of 126 years becomes 504 characters: too long, so empty.
  std::string years;
  for (int i = 0; i < 126; ++i) years += "YYYY";
  EXPECT_EQ(stamp_text(years.c_str(), t), "");
}

// What the platform's formatting prints, whatever its C library: the
// expected texts are glibc's for the original formats. The Windows runtime
// ends the process on most of these conversions unless they are rewritten.
TEST(LocalTimeFormat, PrintsTheSameOnEveryPlatform) {
  const LocalTime moments[] = {moment(2021, 1, 1, 0, 0, 0, 3600), moment(2024, 12, 30, 12, 0, 0, 19800),
                               moment(2024, 2, 29, 13, 7, 9, -34200)};
  struct Case {
    const char *format;
    const char *expected[3];
  };
  const Case cases[] = {
      {"%C", {"20", "20", "20"}},
      {"%D", {"01/01/21", "12/30/24", "02/29/24"}},
      {"%e", {" 1", "30", "29"}},
      {"%F", {"2021-01-01", "2024-12-30", "2024-02-29"}},
      {"%g", {"20", "25", "24"}},
      {"%G", {"2020", "2025", "2024"}},
      {"%h", {"Jan", "Dec", "Feb"}},
      {"%n", {"\n", "\n", "\n"}},
      {"%r", {"12:00:00 AM", "12:00:00 PM", "01:07:09 PM"}},
      {"%R", {"00:00", "12:00", "13:07"}},
      {"%t", {"\t", "\t", "\t"}},
      {"%T", {"00:00:00", "12:00:00", "13:07:09"}},
      {"%u", {"5", "1", "4"}},
      {"%V", {"53", "01", "09"}},
      {"%z", {"+0100", "+0530", "-0930"}},
      {"%EC", {"20", "20", "20"}},
      {"%Ey", {"21", "24", "24"}},
      {"%EY", {"2021", "2024", "2024"}},
      {"%Od", {"01", "30", "29"}},
      {"%Oe", {" 1", "30", "29"}},
      {"%OH", {"00", "12", "13"}},
      {"%OI", {"12", "12", "01"}},
      {"%Om", {"01", "12", "02"}},
      {"%OM", {"00", "00", "07"}},
      {"%OS", {"00", "00", "09"}},
      {"%Ou", {"5", "1", "4"}},
      {"%OU", {"00", "52", "08"}},
      {"%OV", {"53", "01", "09"}},
      {"%Ow", {"5", "1", "4"}},
      {"%OW", {"00", "53", "09"}},
      {"%Oy", {"21", "24", "24"}},
      {"%Q", {"%Q", "%Q", "%Q"}},
      {"%", {"%", "%", "%"}},
      {"ab%", {"ab%", "ab%", "ab%"}},
      {"%Y%Q%d", {"2021%Q01", "2024%Q30", "2024%Q29"}},
      {"%Y-%m-%d %H:%M:%S %j %a %b", {"2021-01-01 00:00:00 001 Fri Jan",
                                        "2024-12-30 12:00:00 365 Mon Dec",
                                        "2024-02-29 13:07:09 060 Thu Feb"}},
  };
  for (const Case &c : cases) {
    for (size_t i = 0; i < 3; ++i) {
      char out[kDatetimeTextSize];
      const size_t n = format_local_time(out, sizeof out, c.format, moments[i]);
      EXPECT_EQ(std::string(out, n), c.expected[i]) << c.format << " #" << i;
    }
  }
}

// The rewritten format, given to the C library, must print what the C
// library prints for the original in the "C" locale.
std::string strftime_of(const std::string &format, const LocalTime &t) {
  char out[512];
  const size_t n = std::strftime(out, sizeof out, format.c_str(), &t.fields);
  return std::string(out, n);
}

#if !defined(_WIN32)
// Here the C library itself is the oracle; the Windows runtime would end the
// process on the originals.
TEST(PortableFormat, MatchesTheCLibraryForEveryLaterConversion) {
  const char *formats[] = {"%C", "%D", "%e", "%F", "%g", "%G", "%h", "%n", "%r", "%R", "%t",
                           "%T", "%u", "%V", "%z", "%Ec", "%EC", "%Ex", "%EX", "%Ey", "%EY",
                           "%Od", "%Oe", "%OH", "%OI", "%Om", "%OM", "%OS", "%Ou", "%OU",
                           "%OV", "%Ow", "%OW", "%Oy", "%a %A %b %B %c %d %H %I %j %m %M %p",
                           "%S %U %w %W %x %X %y %Y %%"};
  // Days around the turn of ISO years (2021-01-01 lies in 2020-W53, 2024-12-30
  // in 2025-W01), a leap day, a Sunday, and offsets east and west of UTC.
  const LocalTime moments[] = {
      moment(2021, 1, 1, 0, 0, 0, 3600),      moment(2021, 1, 3, 23, 59, 59, -18000),
      moment(2024, 12, 30, 12, 0, 0, 19800),  moment(2024, 2, 29, 13, 7, 9, -34200),
      moment(2027, 1, 1, 1, 2, 3),            moment(2005, 1, 2, 7, 8, 9, 45 * 60),
      moment(1999, 12, 31, 23, 59, 60),       moment(2031, 7, 4, 9, 5, 3, -3600 * 12),
  };
  for (const LocalTime &t : moments) {
    for (const char *f : formats) {
      EXPECT_EQ(strftime_of(portable_time_format(f, t), t), strftime_of(f, t))
          << f << " on " << strftime_of("%F %T", t);
    }
  }
}
#endif

TEST(PortableFormat, KeepsOnlyTheOldestConversions) {
  const LocalTime t = moment(2031, 7, 4, 9, 5, 3);
  const std::string out = portable_time_format("%F %T %e %V %G %z %u %C %Oy %Ey", t);
  for (size_t at = out.find('%'); at != std::string::npos; at = out.find('%', at + 2)) {
    ASSERT_LT(at + 1, out.size());
    EXPECT_NE(std::string("aAbBcdHIjmMpSUwWxXyYZ%").find(out[at + 1]), std::string::npos)
        << out;
  }
}

TEST(PortableFormat, UndefinedConversionsStayAsText) {
  const LocalTime t = moment(2031, 7, 4, 9, 5, 3);
  const TokenCase cases[] = {
      {"%Q", "%Q"},       {"%", "%"},         {"ab%", "ab%"},
      {"%Ea", "%Ea"},     {"%Oq", "%Oq"},     {"%E", "%E"},
      {"%5d", "%5d"},     {"%Y%Q%d", "2031%Q04"},
  };
  for (const TokenCase &c : cases)
    EXPECT_EQ(strftime_of(portable_time_format(c.picture, t), t), c.format) << c.picture;
}

TEST(Clock, ReadsTheLocalTime) {
  const std::time_t before = std::time(nullptr);
  LocalTime now;
  ASSERT_TRUE(read_local_time(now));
  const std::time_t after = std::time(nullptr);
  std::tm copy = now.fields;
  const std::time_t back = utc_seconds(copy) - now.utc_offset_seconds;
  EXPECT_GE(back, before);
  EXPECT_LE(back, after);
#if !defined(_WIN32)
  EXPECT_EQ(now.utc_offset_seconds, now.fields.tm_gmtoff);
#endif
}

}  // namespace
