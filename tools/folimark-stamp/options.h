// Command-line parsing of folimark-stamp, apart from main so that tests can
// reach it: commands, options with their units, colours, anchors, and the
// positional arguments of one file or of several. Pure: it reads only the
// arguments, and numbers read the same whatever the locale.
#pragma once

#include <folimark.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

enum class Command { help, version, text, text_pages, datetime, image };

// Where the stamped documents go.
enum class Destination {
  file,       // INPUT OUTPUT: one document; "-" reads standard input or writes standard output
  in_place,   // --in-place: each input replaced by its stamped version
  directory,  // --output-dir DIR: each output named like its input, inside DIR
};

struct Options {
  Command command = Command::help;

  std::vector<std::string> inputs;   // one with Destination::file; "-" is standard input
  std::vector<std::string> outputs;  // the output of each input; "-" is standard output
  std::string output_dir;            // Destination::directory
  Destination destination = Destination::file;
  long jobs = 0;  // files stamped at once; 0: as many as the machine has cores

  std::string text;         // text: the text; datetime: the format; image: the picture's path
  bool text_given = false;  // datetime without FORMAT uses the library's default
  std::string pages;        // a page selection, passed to the library as written; "" for all

  // What goes into folimark_options, with the command line's defaults.
  double x = 36, y = 36;  // points
  double font_size = 24;  // points
  double opacity = 1;
  double rotation = 0;  // degrees, counter-clockwise
  double scale = 0;     // points per picture pixel; 0: from the picture's resolution, else 1
  double width = 0, height = 0;  // picture, points; 0: from the scale or the aspect ratio
  int red = 0, green = 0, blue = 0;
  int anchor = FOLIMARK_ANCHOR_BOTTOM_LEFT;
  int align = FOLIMARK_ALIGN_LEFT;
  int layer = FOLIMARK_LAYER_OVER;
  int space = FOLIMARK_SPACE_DISPLAYED;
  std::string font_path;  // the font file the text is drawn in; "": the built-in Helvetica
  int font_index = 0;     // the face of a font collection
  std::string password;   // an encrypted input's user or owner password; "": the empty one
};

struct ParseResult {
  std::optional<Options> options;
  std::string error;  // set when options is empty: a usage error
};

// Exit statuses of folimark-stamp.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // stamping failed for a file
inline constexpr int kExitUsage = 2;   // the command line is wrong

// Returns the exit status after stamping with `failed` files failing.
int exit_status(size_t failed);

// Returns the parsed command line (argv[0] excluded), or why it is wrong.
ParseResult parse_command_line(const std::vector<std::string> &args);

// Returns the FOLIMARK_ANCHOR_ value a name such as "top-right" stands for.
std::optional<int> parse_anchor(std::string_view name);

// Returns the FOLIMARK_ALIGN_ value of "left", "center" or "right".
std::optional<int> parse_align(std::string_view name);

// Returns the text with each two-character sequence "\n" turned into a line
// feed and "\\" into a backslash, so that a shell argument can hold several lines.
std::string unescape_lines(std::string_view text);

// Returns the path inside `dir` that has the same file name as `input`, or
// "" when `input` ends in a separator and so names no file. Paths are UTF-8
// text; '/' separates them everywhere, '\\' and a drive's ':' on Windows too.
std::string output_path_in(std::string_view dir, std::string_view input);

// The usage text printed by --help.
const char *usage();

}  // namespace cli
