// Command-line parsing of folimark-stamp, apart from main so that tests can
// reach it. Numbers are read the same whatever the locale.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

enum class Command { help, text, text_pages, datetime, image };

struct Options {
  Command command = Command::help;
  std::string input, output;
  std::string text;     // text and text-pages: the text; datetime: the format; image: the picture
  bool text_given = false;  // datetime without FORMAT uses the library's default
  float x = 36, y = 36;
  int font_size = 24;
  float opacity = 1;
  float rotation = 0;
  int red = 0, green = 0, blue = 0;
  float scale = 1;
  std::vector<int> pages;
};

struct ParseResult {
  std::optional<Options> options;
  std::string error;  // set when options is empty
};

// Returns the parsed command line (argv[0] excluded), or why it is wrong.
ParseResult parse_command_line(const std::vector<std::string> &args);

// Returns the page numbers of a list such as "1,3,5-9", or nothing.
std::optional<std::vector<int>> parse_page_list(std::string_view list);

// Returns {r, g, b} from "R,G,B" (0..255 each) or "#rrggbb", or nothing.
std::optional<std::vector<int>> parse_color(std::string_view text);

// Returns the text with each two-character sequence "\n" turned into a line
// feed and "\\" into a backslash, so that a shell argument can hold several lines.
std::string unescape_lines(std::string_view text);

// The usage text printed by --help.
const char *usage();

}  // namespace cli
