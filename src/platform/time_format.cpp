// Rewriting strftime formats into the conversions every C runtime knows.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace {

constexpr std::string_view kC89Conversions = "aAbBcdHIjmMpSUwWxXyYZ%";

bool is_leap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Digits go straight into the format: they hold no '%'.
void put_number(std::string &out, int64_t value, int width, char pad) {
  char digits[32];
  const int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
  for (int i = n; i < width; ++i) out += pad;
  out.append(digits, static_cast<size_t>(n));
}

struct IsoWeek {
  int64_t year;
  int week;
};

// The ISO 8601 week-numbering year and week: weeks start on Monday and
// belong to the year that holds their Thursday.
IsoWeek iso_week(const std::tm &t) {
  int64_t year = int64_t{t.tm_year} + 1900;
  const int monday_based = (t.tm_wday + 6) % 7;
  int thursday = t.tm_yday - monday_based + 3;
  if (thursday < 0) {
    --year;
    thursday += is_leap(year) ? 366 : 365;
  } else if (thursday >= (is_leap(year) ? 366 : 365)) {
    thursday -= is_leap(year) ? 366 : 365;
    ++year;
  }
  return {year, thursday / 7 + 1};
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Appends the expansion of one conversion c, or returns false when C does
// not define it.
bool expand(std::string &out, char c, const LocalTime &lt) {
  const std::tm &t = lt.fields;
  const int64_t year = int64_t{t.tm_year} + 1900;
  if (kC89Conversions.find(c) != std::string_view::npos) {
    out += '%';
    out += c;
    return true;
  }
  switch (c) {
    case 'C': put_number(out, floor_div(year, 100), 2, '0'); return true;
    case 'D': out += "%m/%d/%y"; return true;
    case 'e': put_number(out, t.tm_mday, 2, ' '); return true;
    case 'F': out += "%Y-%m-%d"; return true;
    case 'g': put_number(out, ((iso_week(t).year % 100) + 100) % 100, 2, '0'); return true;
    case 'G': put_number(out, iso_week(t).year, 1, '0'); return true;
    case 'h': out += "%b"; return true;
    case 'n': out += '\n'; return true;
    case 'r': out += "%I:%M:%S %p"; return true;
    case 'R': out += "%H:%M"; return true;
    case 't': out += '\t'; return true;
    case 'T': out += "%H:%M:%S"; return true;
    case 'u': put_number(out, t.tm_wday == 0 ? 7 : t.tm_wday, 1, '0'); return true;
    case 'V': put_number(out, iso_week(t).week, 2, '0'); return true;
    case 'z': {
      const long offset = lt.utc_offset_seconds;
      const long minutes = (offset < 0 ? -offset : offset) / 60;
      out += offset < 0 ? '-' : '+';
      put_number(out, minutes / 60, 2, '0');
      put_number(out, minutes % 60, 2, '0');
      return true;
    }
    default: return false;
  }
}

// Conversions that accept the E or O modifier; in the "C" locale the
// alternative form is the ordinary one.
bool takes_modifier(char modifier, char c) {
  const std::string_view allowed = modifier == 'E' ? "cCxXyY" : "deHImMSuUVwWy";
  return allowed.find(c) != std::string_view::npos;
}

void put_literal(std::string &out, std::string_view text) {
  for (const char c : text) {
    if (c == '%') out += '%';
    out += c;
  }
}

}  // namespace

std::string portable_time_format(std::string_view format, const LocalTime &t) {
  std::string out;
  out.reserve(format.size() + 16);
  size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 >= format.size()) {  // a lone '%' at the end
      put_literal(out, format.substr(i));
      break;
    }
    char conversion = format[i + 1];
    size_t length = 2;
    if ((conversion == 'E' || conversion == 'O') && i + 2 < format.size() &&
        takes_modifier(conversion, format[i + 2])) {
      conversion = format[i + 2];
      length = 3;
    }
    if (!expand(out, conversion, t)) put_literal(out, format.substr(i, length));
    i += length;
  }
  return out;
}
