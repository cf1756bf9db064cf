// The text of a date/time stamp: a strftime format or a token picture such
// as "DD.MM.YYYY HH:mm", applied to one reading of the local clock.
#pragma once

#include <cstddef>

#include "platform/clock.h"

inline constexpr size_t kDatetimeTextSize = 256;

// Whether single quotes in a token picture mark literal text: a part
// between quotes ('PAID' DD.MM) is copied as it stands, and '' is a quote.
// The classic exports keep every byte but the tokens as it stands.
enum class PictureQuotes { none, literal };

// Writes the strftime format of a token picture (YYYY, YY, MM, DD, HH, mm,
// ss; every other byte stands for itself) into out, terminated. Translation
// stops once 252 bytes are written, so the result is at most 253 bytes.
void translate_token_picture(const char *picture, char (&out)[kDatetimeTextSize],
                             PictureQuotes quotes = PictureQuotes::none);

// Writes the stamp text for format (NULL or "" for "%Y-%m-%d %H:%M:%S"; a
// format containing '%' is used as it stands, anything else is a token
// picture) at time t into out. A text longer than 255 bytes becomes "".
void datetime_stamp_text(const char *format, const LocalTime &t, char (&out)[kDatetimeTextSize],
                         PictureQuotes quotes = PictureQuotes::none);
