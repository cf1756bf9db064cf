#include "abi/datetime_text.h"

#include <cstring>
#include <string_view>

namespace {

struct Token {
  std::string_view picture;
  std::string_view conversion;
};

// Longest first: "YYYY" must win over "YY".
constexpr Token kTokens[] = {
    {"YYYY", "%Y"}, {"YY", "%y"}, {"MM", "%m"}, {"DD", "%d"},
    {"HH", "%H"},   {"mm", "%M"}, {"ss", "%S"},
};

// Room a step may need (a two-byte conversion) plus the terminator, kept
// with a margin of one.
constexpr size_t kStopAt = kDatetimeTextSize - 4;

}  // namespace

void translate_token_picture(const char *picture, char (&out)[kDatetimeTextSize],
                             PictureQuotes quotes) {
  const std::string_view whole(picture);
  size_t in = 0;
  size_t written = 0;
  bool quoted = false;
  while (in < whole.size() && written < kStopAt) {
    const std::string_view rest = whole.substr(in);
    if (quotes == PictureQuotes::literal && rest.front() == '\'') {
      // '' is a quote, inside a quoted part or outside; a lone ' opens or
      // closes a part that is copied as it stands.
      if (rest.starts_with("''")) {
        out[written++] = '\'';
        in += 2;
      } else {
        quoted = !quoted;
        ++in;
      }
      continue;
    }
    if (quoted) {
      out[written++] = whole[in++];
      continue;
    }
    bool matched = false;
    for (const Token &token : kTokens) {
      if (rest.starts_with(token.picture)) {
        std::memcpy(out + written, token.conversion.data(), token.conversion.size());
        written += token.conversion.size();
        in += token.picture.size();
        matched = true;
        break;
      }
    }
    if (!matched) out[written++] = whole[in++];
  }
  out[written] = '\0';
}

void datetime_stamp_text(const char *format, const LocalTime &t, char (&out)[kDatetimeTextSize],
                         PictureQuotes quotes) {
  if (format == nullptr || format[0] == '\0') {
    format_local_time(out, sizeof out, "%Y-%m-%d %H:%M:%S", t);
  } else if (std::strchr(format, '%') != nullptr) {
    format_local_time(out, sizeof out, format, t);
  } else {
    char translated[kDatetimeTextSize];
    translate_token_picture(format, translated, quotes);
    format_local_time(out, sizeof out, translated, t);
  }
}
