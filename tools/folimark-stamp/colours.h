// Colours as written on the command line of folimark-stamp: "R,G,B" (0 to
// 255 each), "#rgb", "#rrggbb", or one of the named colours of CSS (Color
// Module Level 4, such as "navy" or "rebeccapurple"), case-insensitive.
// Does not read alpha, percentages, rgb()/hsl() notation or "transparent".
#pragma once

#include <optional>
#include <string_view>

namespace cli {

struct Rgb {
  int red = 0, green = 0, blue = 0;  // 0..255 each
  bool operator==(const Rgb &) const = default;
};

// Returns the colour `text` names in one of the forms above, or nothing.
std::optional<Rgb> parse_color(std::string_view text);

// The forms parse_color reads, for messages and the usage text.
inline constexpr std::string_view kColourForms =
    "R,G,B (0-255 each), #rgb, #rrggbb or a CSS colour name such as navy or rebeccapurple";

}  // namespace cli
