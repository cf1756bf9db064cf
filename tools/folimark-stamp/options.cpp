#include "options.h"

#include <algorithm>
#include <array>

#include "colours.h"
#include "units.h"

namespace cli {

namespace {

// More threads than this only add overhead: each holds a whole document in
// memory, and no machine this runs on has so many cores to keep busy.
constexpr long kMaxJobs = 256;
// A font collection holds a few dozen faces at the most.
constexpr long kMaxFontIndex = 65535;

// The commands, by the bit an option names them with.
enum : unsigned { kTextCmd = 1, kDateCmd = 2, kImageCmd = 4 };
constexpr unsigned kTextual = kTextCmd | kDateCmd;
constexpr unsigned kEvery = kTextCmd | kDateCmd | kImageCmd;

struct CommandInfo {
  std::string_view name;
  Command command;
  unsigned bit;
  std::string_view argument;  // what the last positional argument is
  std::string_view argument_option;  // the option that gives it instead
};

constexpr CommandInfo kCommands[] = {
    {"text", Command::text, kTextCmd, "TEXT", "--text"},
    {"text-pages", Command::text_pages, kTextCmd, "TEXT", "--text"},
    {"datetime", Command::datetime, kDateCmd, "FORMAT", "--format"},
    {"image", Command::image, kImageCmd, "PICTURE", "--picture"},
};

// What a good value of each kind looks like, for messages.
constexpr std::string_view kLengthForm = "a length: a number with an optional unit pt, mm, cm or in (10mm)";
constexpr std::string_view kPositiveLengthForm =
    "a length above 0: a number with an optional unit pt, mm, cm or in (10mm)";

struct AnchorName {
  std::string_view name;
  int value;
};

constexpr AnchorName kAnchors[] = {
    {"top-left", FOLIMARK_ANCHOR_TOP_LEFT},       {"top", FOLIMARK_ANCHOR_TOP},
    {"top-right", FOLIMARK_ANCHOR_TOP_RIGHT},     {"left", FOLIMARK_ANCHOR_LEFT},
    {"center", FOLIMARK_ANCHOR_CENTER},           {"right", FOLIMARK_ANCHOR_RIGHT},
    {"bottom-left", FOLIMARK_ANCHOR_BOTTOM_LEFT}, {"bottom", FOLIMARK_ANCHOR_BOTTOM},
    {"bottom-right", FOLIMARK_ANCHOR_BOTTOM_RIGHT},
};

constexpr AnchorName kAligns[] = {
    {"left", FOLIMARK_ALIGN_LEFT}, {"center", FOLIMARK_ALIGN_CENTER}, {"right", FOLIMARK_ALIGN_RIGHT}};

template <size_t N>
std::optional<int> lookup(const AnchorName (&names)[N], std::string_view name) {
  for (const AnchorName &a : names)
    if (a.name == name) return a.value;
  return std::nullopt;
}

// Range checks on option values.
bool any_value(double) { return true; }
bool above_zero(double v) { return v > 0; }
bool zero_to_one(double v) { return v >= 0 && v <= 1; }

// Each sets *field from `value` when it reads as wanted and `fits`.
bool set_number(double *field, std::string_view value, bool (*fits)(double)) {
  const auto v = parse_number(value);
  if (!v || !fits(*v)) return false;
  *field = *v;
  return true;
}

bool set_length(double *field, std::string_view value, bool (*fits)(double)) {
  const auto v = parse_length(value);
  if (!v || !fits(*v)) return false;
  *field = *v;
  return true;
}

bool set_choice(int *field, std::optional<int> choice) {
  if (choice) *field = *choice;
  return choice.has_value();
}

// The TEXT or FORMAT given as an option.
bool set_text(Options &o, std::string_view value) {
  o.text = unescape_lines(value);
  o.text_given = true;
  return true;
}

// One option: its names, the commands it applies to, and how its value is
// read. `set` returns false when the value is wrong; `form` then says what a
// good one looks like.
struct OptionRule {
  std::string_view name;
  char letter;  // the one-letter form, or 0
  unsigned commands;
  bool takes_value;
  bool (*set)(Options &, std::string_view);
  std::string_view form;
};

const OptionRule kOptionRules[] = {
    {"--x", 'x', kEvery, true, [](Options &o, std::string_view v) { return set_length(&o.x, v, any_value); },
     kLengthForm},
    {"--y", 'y', kEvery, true, [](Options &o, std::string_view v) { return set_length(&o.y, v, any_value); },
     kLengthForm},
    {"--anchor", 0, kEvery, true,
     [](Options &o, std::string_view v) { return set_choice(&o.anchor, parse_anchor(v)); },
     "one of top-left, top, top-right, left, center, right, bottom-left, bottom, bottom-right"},
    {"--rotation", 'r', kEvery, true,
     [](Options &o, std::string_view v) { return set_number(&o.rotation, v, any_value); },
     "a number of degrees"},
    {"--opacity", 'o', kEvery, true,
     [](Options &o, std::string_view v) { return set_number(&o.opacity, v, zero_to_one); },
     "a number from 0 to 1"},
    {"--pages", 'p', kEvery, true,
     [](Options &o, std::string_view v) {
       o.pages = v;  // the library reads the selection
       return true;
     },
     ""},
    {"--under", 0, kEvery, false,
     [](Options &o, std::string_view) {
       o.layer = FOLIMARK_LAYER_UNDER;
       return true;
     },
     ""},
    {"--page-space", 0, kEvery, false,
     [](Options &o, std::string_view) {
       o.space = FOLIMARK_SPACE_PAGE;
       return true;
     },
     ""},
    {"--size", 's', kTextual, true,
     [](Options &o, std::string_view v) { return set_length(&o.font_size, v, above_zero); },
     kPositiveLengthForm},
    {"--color", 'c', kTextual, true,
     [](Options &o, std::string_view v) {
       const auto c = parse_color(v);
       if (c) {
         o.red = c->red;
         o.green = c->green;
         o.blue = c->blue;
       }
       return c.has_value();
     },
     kColourForms},
    {"--align", 0, kTextual, true,
     [](Options &o, std::string_view v) { return set_choice(&o.align, parse_align(v)); },
     "left, center or right"},
    {"--font", 0, kTextual, true,
     [](Options &o, std::string_view v) {
       o.font_path = v;
       return !v.empty();
     },
     "a font file"},
    {"--font-index", 0, kTextual, true,
     [](Options &o, std::string_view v) {
       const auto n = parse_count(v);
       if (!n || *n < 0 || *n > kMaxFontIndex) return false;
       o.font_index = static_cast<int>(*n);
       return true;
     },
     "a whole number from 0 to 65535"},
    {"--password", 0, kEvery, true,
     [](Options &o, std::string_view v) {
       o.password = v;
       return true;
     },
     "a password"},
    {"--scale", 0, kImageCmd, true,
     [](Options &o, std::string_view v) { return set_number(&o.scale, v, above_zero); },
     "a number above 0"},
    {"--width", 0, kImageCmd, true,
     [](Options &o, std::string_view v) { return set_length(&o.width, v, above_zero); },
     kPositiveLengthForm},
    {"--height", 0, kImageCmd, true,
     [](Options &o, std::string_view v) { return set_length(&o.height, v, above_zero); },
     kPositiveLengthForm},
    {"--text", 0, kTextCmd, true,
     set_text,
     ""},
    {"--format", 0, kDateCmd, true,
     set_text,
     ""},
    {"--picture", 0, kImageCmd, true,
     [](Options &o, std::string_view v) {
       o.text = v;
       o.text_given = true;
       return true;
     },
     ""},
    {"--in-place", 0, kEvery, false,
     [](Options &o, std::string_view) {
       o.destination = Destination::in_place;
       return true;
     },
     ""},
    {"--output-dir", 0, kEvery, true,
     [](Options &o, std::string_view v) {
       o.destination = Destination::directory;
       o.output_dir = v;
       return !v.empty();
     },
     "a folder"},
    {"--jobs", 'j', kEvery, true,
     [](Options &o, std::string_view v) {
       const auto n = parse_count(v);
       if (!n || *n < 1 || *n > kMaxJobs) return false;
       o.jobs = *n;
       return true;
     },
     "a whole number from 1 to 256"},
};

const OptionRule *find_option(std::string_view name) {
  for (const OptionRule &rule : kOptionRules) {
    if (rule.name == name) return &rule;
    if (rule.letter != 0 && name.size() == 2 && name[0] == '-' && name[1] == rule.letter)
      return &rule;
  }
  return nullptr;
}

// Splits an option argument into its name and its value when written in the
// same argument: "--x=10", "-x=10" or "-x10".
struct OptionWords {
  std::string_view name;
  std::optional<std::string_view> value;
};

OptionWords split_option(std::string_view arg) {
  const size_t eq = arg.find('=');
  if (eq != std::string_view::npos) return {arg.substr(0, eq), arg.substr(eq + 1)};
  if (arg.size() > 2 && arg[1] != '-') return {arg.substr(0, 2), arg.substr(2)};
  return {arg, std::nullopt};
}

// Takes the positional arguments as inputs, outputs and the ARGUMENT, as
// the destination has them. Returns "" or why they do not fit.
std::string take_positionals(const CommandInfo &info, std::vector<std::string> positional,
                             Options &o) {
  const bool argument_last = !o.text_given && info.command != Command::datetime;
  const std::string argument(info.argument);
  if (o.destination == Destination::file) {
    // INPUT OUTPUT, then the ARGUMENT unless given as an option; datetime's FORMAT is optional.
    const size_t most = o.text_given ? 2 : 3;
    if (positional.size() > most) {
      return "too many arguments: " + std::string(info.name) + " takes INPUT OUTPUT" +
             (o.text_given ? "" : " " + argument) + " but was given " +
             std::to_string(positional.size()) + "; quote a " + argument +
             " that holds spaces (\"like this\"), or stamp several files with --in-place or "
             "--output-dir (try --help)";
    }
    if (positional.size() < 2 || (argument_last && positional.size() < 3)) {
      std::string wanted = "INPUT OUTPUT";
      if (!o.text_given) wanted += info.command == Command::datetime ? " [FORMAT]" : " " + argument;
      return std::string(info.name) + " needs " + wanted + " (try --help)";
    }
    if (positional.size() == 3) {
      o.text = info.command == Command::image ? positional[2] : unescape_lines(positional[2]);
      o.text_given = true;
    }
    o.inputs = {positional[0]};
    o.outputs = {positional[1]};
    return "";
  }

  // Several inputs, then the ARGUMENT unless given as an option (datetime
  // takes its FORMAT only as --format here, so that no input is taken for one).
  const std::string flag = o.destination == Destination::in_place ? "--in-place" : "--output-dir";
  if (argument_last) {
    if (positional.size() < 2)
      return std::string(info.name) + " " + flag + " needs INPUT... " + argument + " (try --help)";
    o.text = info.command == Command::image ? positional.back() : unescape_lines(positional.back());
    o.text_given = true;
    positional.pop_back();
  } else if (positional.empty()) {
    return std::string(info.name) + " " + flag + " needs at least one INPUT (try --help)";
  }
  o.inputs = std::move(positional);
  for (const std::string &input : o.inputs) {
    if (input == "-") return "standard input (-) cannot be stamped with " + flag;
    if (o.destination == Destination::in_place) {
      o.outputs.push_back(input);
      continue;
    }
    std::string out = output_path_in(o.output_dir, input);
    if (out.empty()) return "'" + input + "' names a folder, not a file";
    o.outputs.push_back(std::move(out));
  }
  // Two threads must never write the same file.
  std::vector<std::string> sorted = o.outputs;
  std::sort(sorted.begin(), sorted.end());
  const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
  if (twice != sorted.end()) return "two inputs would both be written to " + *twice;
  return "";
}

}  // namespace

int exit_status(size_t failed) { return failed == 0 ? kExitOk : kExitFailed; }

std::optional<int> parse_anchor(std::string_view name) { return lookup(kAnchors, name); }

std::optional<int> parse_align(std::string_view name) { return lookup(kAligns, name); }

std::string unescape_lines(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
      out += text[i + 1] == 'n' ? '\n' : '\\';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string output_path_in(std::string_view dir, std::string_view input) {
#ifdef _WIN32
  constexpr std::string_view kSeparators = "/\\:";
  constexpr char kSeparator = '\\';
#else
  constexpr std::string_view kSeparators = "/";
  constexpr char kSeparator = '/';
#endif
  const size_t last = input.find_last_of(kSeparators);
  const std::string_view name = last == std::string_view::npos ? input : input.substr(last + 1);
  if (name.empty()) return "";
  std::string out(dir);
  if (!out.empty() && kSeparators.find(out.back()) == std::string_view::npos) out += kSeparator;
  out += name;
  return out;
}

ParseResult parse_command_line(const std::vector<std::string> &args) {
  ParseResult result;
  Options o;
  if (args.empty()) {
    result.error = "no COMMAND given: text, text-pages, datetime or image (try --help)";
    return result;
  }
  // --help and --version win wherever they stand before "--".
  for (const std::string &arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h" || (&arg == &args[0] && arg == "help")) {
      result.options = o;
      return result;
    }
    if (arg == "--version") {
      o.command = Command::version;
      result.options = o;
      return result;
    }
  }
  const CommandInfo *info = nullptr;
  for (const CommandInfo &c : kCommands)
    if (c.name == args[0]) info = &c;
  if (info == nullptr) {
    result.error = "unknown command '" + args[0] + "' (try --help)";
    return result;
  }
  o.command = info->command;

  std::vector<std::string> positional;
  bool scale_given = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      positional.insert(positional.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    }
    const OptionWords words = split_option(arg);
    const OptionRule *rule = find_option(words.name);
    if (rule == nullptr) {
      result.error = "unknown option " + std::string(words.name) + " (try --help)";
      return result;
    }
    if ((rule->commands & info->bit) == 0) {
      result.error = std::string(rule->name) + " does not apply to " + args[0] + " (try --help)";
      return result;
    }
    std::string_view value;
    if (!rule->takes_value) {
      if (words.value) {
        result.error = std::string(rule->name) + " takes no value";
        return result;
      }
    } else if (words.value) {
      value = *words.value;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      result.error = "option " + std::string(words.name) + " needs a value";
      return result;
    }
    const Destination before = o.destination;
    if (!rule->set(o, value)) {
      result.error = "bad value '" + std::string(value) + "' for " + std::string(rule->name) +
                     ": give " + std::string(rule->form);
      return result;
    }
    if (before != Destination::file && o.destination != before) {
      result.error = "--in-place and --output-dir exclude each other";
      return result;
    }
    if (rule->name == "--scale") scale_given = true;
  }
  if (scale_given && (o.width > 0 || o.height > 0)) {
    result.error = "--scale and --width or --height exclude each other";
    return result;
  }
  if (o.command == Command::text_pages && o.pages.empty()) {
    result.error = "text-pages needs --pages";
    return result;
  }
  result.error = take_positionals(*info, std::move(positional), o);
  if (result.error.empty()) result.options = std::move(o);
  return result;
}

const char *usage() {
  return R"(usage: folimark-stamp COMMAND [options] INPUT OUTPUT [ARGUMENT]
       folimark-stamp COMMAND [options] --in-place INPUT... [ARGUMENT]
       folimark-stamp COMMAND [options] --output-dir DIR INPUT... [ARGUMENT]
       folimark-stamp --help | --version

Stamps onto the pages of the PDF file INPUT and writes the result to OUTPUT
(which may name INPUT: it is replaced only once the new file is complete).
An INPUT of - is read from standard input, an OUTPUT of - is written to
standard output.

commands:
  text INPUT OUTPUT TEXT          TEXT on every page, or on the pages of --pages
  text-pages INPUT OUTPUT TEXT    TEXT on the pages of --pages, which it needs
  datetime INPUT OUTPUT [FORMAT]  the local date and time
  image INPUT OUTPUT PICTURE      a PNG or JPEG picture

Several files: with --in-place or --output-dir DIR the positional arguments
are the inputs, followed by the TEXT or PICTURE as the last one unless
--text or --picture gives it. datetime then takes a FORMAT only as --format:
all its positional arguments are inputs. The files are stamped in parallel.

placement, for every command:
  -x, --x LENGTH          offset from the anchor, inward (default 36pt)
  -y, --y LENGTH          offset from the anchor, inward (default 36pt)
      --anchor POINT      the point of the page the offsets count from, and
                          the stamp's own point put there: top-left, top,
                          top-right, left, center, right, bottom-left (the
                          default), bottom, bottom-right; from center, x runs
                          right and y up
  -r, --rotation DEGREES  counter-clockwise about the anchored point (default 0)
  -o, --opacity VALUE     0 (invisible) to 1 (opaque, the default)
  -p, --pages SELECTION   the pages to stamp (default every page)
      --under             draw the stamp under the page's content, not over it
      --password WORD     an encrypted INPUT's user or owner password (default
                          the empty one); the output stays encrypted
      --page-space        measure in the page's own unrotated space, not in
                          the page as the reader sees it after its rotation
text, text-pages and datetime:
  -s, --size LENGTH       font size (default 24pt)
  -c, --color COLOUR      the text's colour (default black)
      --align SIDE        left (the default), center or right: how the lines
                          stand against each other
      --font FILE         draw the text in this TrueType or OpenType font
                          (.ttf, .otf, .ttc), embedded with the glyphs the
                          text uses, for any script it covers (default: the
                          built-in Helvetica, Latin only)
      --font-index N      the face of a .ttc collection, from 0 (default 0)
      --text TEXT         (text, text-pages) the TEXT, as an option
      --format FORMAT     (datetime) the FORMAT, as an option
image:
      --scale VALUE       points per picture pixel (default: as the
                          picture's resolution says, else 1); not with
                          --width or --height
      --width LENGTH      the picture's width; alone, the height follows the
                          picture's aspect ratio
      --height LENGTH     the picture's height; alone, the width follows
      --picture PICTURE   the PICTURE, as an option
several files:
      --in-place          replace each INPUT by its stamped version
      --output-dir DIR    write each output into DIR, named like its INPUT
  -j, --jobs N            files stamped at once (default: one per core)
  -h, --help              this text
      --version           the version of folimark-stamp and its library

A value may follow its option as the next argument or after '=' (--x=10mm).
An argument that starts with '-' and is no option goes after "--".

LENGTH   a number with an optional unit: pt (points, 1/72 inch; the default),
         mm, cm or in, such as 36, 12.5mm, 2cm or 0.5in.
COLOUR   R,G,B (0-255 each), #rgb, #rrggbb, or a CSS colour name, in any
         case, such as red, navy, gray, darkgreen or rebeccapurple.
SELECTION  items separated by commas:
         3          page 3              z        the last page
         r2         the second page counted from the end
         2-5        pages 2 to 5; either end may be a number, z or rN
         2-z, 4-    from a page to the last one
         odd, even  every odd or every even page
         1-z:even   the even pages of a range (:odd alike)
         x5, !5     leave out page 5; any item may be left out (x7-9, xodd);
                    a selection of exclusions only leaves them out of all pages
         A range is cut to the document; a single page past its end is an error.
TEXT     UTF-8; \n in it starts a new line and \\ is one backslash.
FORMAT   a strftime format when it holds a '%', else a picture of the tokens
         YYYY, YY, MM, DD, HH, mm and ss, such as "DD.MM.YYYY HH:mm"; words
         between single quotes are copied as they stand ('RECEIVED' DD.MM.YYYY)
         and '' is one quote. Without FORMAT the text reads 2031-07-04 09:05:03.

Exit status: 0 when every file was stamped; 1 when stamping failed for a file
(the reason on standard error, one line per file, and with several files a
count at the end); 2 for a mistake on the command line.
)";
}

}  // namespace cli
