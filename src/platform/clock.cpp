#include "platform/clock.h"

#include <cstdint>

namespace {

// Days from 1970-01-01 to the given proleptic Gregorian date.
int64_t days_from_civil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// The local time's distance from UTC, from the broken-down fields alone.
long utc_offset(const std::tm &local, std::time_t now) {
  const int64_t local_seconds =
      days_from_civil(int64_t{local.tm_year} + 1900, local.tm_mon + 1, local.tm_mday) * 86400 +
      local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return static_cast<long>(local_seconds - static_cast<int64_t>(now));
}

}  // namespace

#if defined(_WIN32)

bool read_local_time(LocalTime &out) {
  const __time64_t now = _time64(nullptr);
  if (now == -1 || _localtime64_s(&out.fields, &now) != 0) return false;
  out.utc_offset_seconds = utc_offset(out.fields, static_cast<std::time_t>(now));
  return true;
}

size_t format_local_time(char *out, size_t cap, const char *format, const LocalTime &t) {
  // The Windows runtime ends the process on a conversion it does not know.
  const std::string safe = portable_time_format(format, t);
  const size_t n = std::strftime(out, cap, safe.c_str(), &t.fields);
  if (n == 0) out[0] = '\0';
  return n;
}

#else

bool read_local_time(LocalTime &out) {
  const std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &out.fields) == nullptr) return false;
  out.utc_offset_seconds = utc_offset(out.fields, now);
  return true;
}

size_t format_local_time(char *out, size_t cap, const char *format, const LocalTime &t) {
  // glibc and the other POSIX runtimes print an unknown conversion as text,
  // so the format goes through unchanged and keeps their extensions.
  const size_t n = std::strftime(out, cap, format, &t.fields);
  if (n == 0) out[0] = '\0';
  return n;
}

#endif
