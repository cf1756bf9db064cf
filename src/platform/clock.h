// The local clock and date formatting, the only time functions the library
// uses, so that the platform differences stay in one place.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

struct LocalTime {
  std::tm fields{};            // broken-down local time
  long utc_offset_seconds = 0; // local time minus UTC
};

// Reads the current calendar time and breaks it down into local time.
// Returns false when the platform cannot give either.
bool read_local_time(LocalTime &out);

// Formats t with the strftime format into out (cap bytes, cap > 0), always
// terminated. Returns the length, or 0 with out empty when the text would
// not fit. Any format is safe: conversions the runtime might not define are
// dealt with before it sees them.
size_t format_local_time(char *out, size_t cap, const char *format, const LocalTime &t);

// Returns format rewritten so that it uses only the conversions of C89, the
// set every C runtime implements: the later standard conversions are spelt
// out from t (in their "C" locale form), alternative-form modifiers are
// dropped, and anything undefined is kept as literal text, as glibc prints it.
std::string portable_time_format(std::string_view format, const LocalTime &t);
