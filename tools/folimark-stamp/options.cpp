#include "options.h"

#include <charconv>
#include <cmath>

namespace cli {

namespace {

// A page list longer than this is a mistake, not a document.
constexpr long kMaxListedPages = 1000000;

template <typename T>
bool parse_number(std::string_view text, T *out) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const char *end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, *out);
  return r.ec == std::errc() && r.ptr == end;
}

bool parse_float(std::string_view text, float *out) {
  return parse_number(text, out) && std::isfinite(*out);
}

std::vector<std::string_view> split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(sep, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::vector<int>> parse_page_list(std::string_view list) {
  std::vector<int> pages;
  if (list.empty()) return std::nullopt;
  for (const std::string_view part : split(list, ',')) {
    const size_t dash = part.find('-');
    int first = 0, last = 0;
    if (dash == std::string_view::npos) {
      if (!parse_number(part, &first)) return std::nullopt;
      last = first;
    } else if (!parse_number(part.substr(0, dash), &first) ||
               !parse_number(part.substr(dash + 1), &last) || last < first) {
      return std::nullopt;
    }
    if (static_cast<long>(pages.size()) + (static_cast<long>(last) - first + 1) > kMaxListedPages)
      return std::nullopt;
    for (long p = first; p <= last; ++p) pages.push_back(static_cast<int>(p));
  }
  return pages;
}

std::optional<std::vector<int>> parse_color(std::string_view text) {
  if (text.size() == 7 && text[0] == '#') {
    std::vector<int> rgb;
    for (int k = 0; k < 3; ++k) {
      const int hi = hex_digit(text[1 + 2 * k]), lo = hex_digit(text[2 + 2 * k]);
      if (hi < 0 || lo < 0) return std::nullopt;
      rgb.push_back(hi * 16 + lo);
    }
    return rgb;
  }
  const auto parts = split(text, ',');
  if (parts.size() != 3) return std::nullopt;
  std::vector<int> rgb;
  for (const std::string_view part : parts) {
    int v = 0;
    if (!parse_number(part, &v) || v < 0 || v > 255) return std::nullopt;
    rgb.push_back(v);
  }
  return rgb;
}

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

ParseResult parse_command_line(const std::vector<std::string> &args) {
  ParseResult result;
  Options o;
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    result.options = o;
    return result;
  }
  const std::string &command = args[0];
  if (command == "text") {
    o.command = Command::text;
  } else if (command == "text-pages") {
    o.command = Command::text_pages;
  } else if (command == "datetime") {
    o.command = Command::datetime;
  } else if (command == "image") {
    o.command = Command::image;
  } else {
    result.error = "unknown command '" + command + "' (try --help)";
    return result;
  }
  std::vector<std::string> positional;
  std::vector<std::string> given;  // long names of the options used
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg == "--help" || arg == "-h") {
      o.command = Command::help;
      result.options = o;
      return result;
    }
    if (arg.size() < 2 || arg[0] != '-' || arg == "-" ) {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      positional.insert(positional.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    }
    std::string name = arg, value;
    const size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      result.error = "option " + arg + " needs a value";
      return result;
    }
    bool ok = true;
    if (name == "-x" || name == "--x") {
      ok = parse_float(value, &o.x);
      given.push_back("--x");
    } else if (name == "-y" || name == "--y") {
      ok = parse_float(value, &o.y);
      given.push_back("--y");
    } else if (name == "-s" || name == "--size") {
      ok = parse_number(value, &o.font_size) && o.font_size > 0;
      given.push_back("--size");
    } else if (name == "-o" || name == "--opacity") {
      ok = parse_float(value, &o.opacity) && o.opacity >= 0 && o.opacity <= 1;
      given.push_back("--opacity");
    } else if (name == "-r" || name == "--rotation") {
      ok = parse_float(value, &o.rotation);
      given.push_back("--rotation");
    } else if (name == "-c" || name == "--color") {
      const auto rgb = parse_color(value);
      ok = rgb.has_value();
      if (ok) {
        o.red = (*rgb)[0];
        o.green = (*rgb)[1];
        o.blue = (*rgb)[2];
      }
      given.push_back("--color");
    } else if (name == "-p" || name == "--pages") {
      const auto pages = parse_page_list(value);
      ok = pages.has_value();
      if (ok) o.pages = *pages;
      given.push_back("--pages");
    } else if (name == "--scale") {
      ok = parse_float(value, &o.scale) && o.scale > 0;
      given.push_back("--scale");
    } else {
      result.error = "unknown option " + name + " (try --help)";
      return result;
    }
    if (!ok) {
      result.error = "bad value '" + value + "' for " + name;
      return result;
    }
  }

  // Which options each command takes, and what its last argument is.
  struct Shape {
    Command command;
    std::string_view options;
    std::string_view last;
    bool last_optional;
  };
  static constexpr Shape kShapes[] = {
      {Command::text, "--x --y --size --opacity --rotation --color", "TEXT", false},
      {Command::text_pages, "--x --y --size --opacity --pages", "TEXT", false},
      {Command::datetime, "--x --y --size", "[FORMAT]", true},
      {Command::image, "--x --y --scale --opacity", "PICTURE", false},
  };
  const Shape *shape = &kShapes[0];
  for (const Shape &s : kShapes)
    if (s.command == o.command) shape = &s;
  for (const std::string &option : given) {
    if (shape->options.find(option) == std::string_view::npos) {
      result.error = option + " does not apply to " + command + " (try --help)";
      return result;
    }
  }
  const size_t needed = shape->last_optional ? 2 : 3;
  if (positional.size() < needed || positional.size() > 3) {
    result.error = command + " needs INPUT OUTPUT " + std::string(shape->last) + " (try --help)";
    return result;
  }
  o.input = positional[0];
  o.output = positional[1];
  if (positional.size() == 3) {
    o.text = o.command == Command::image ? positional[2] : unescape_lines(positional[2]);
    o.text_given = true;
  }
  if (o.command == Command::text_pages && o.pages.empty()) {
    result.error = "text-pages needs --pages";
    return result;
  }
  result.options = o;
  return result;
}

const char *usage() {
  return "usage: folimark-stamp COMMAND [options] INPUT OUTPUT [ARGUMENT]\n"
         "\n"
         "Stamps onto the pages of the PDF file INPUT and writes the result to OUTPUT\n"
         "(which may name INPUT: it is replaced only once the new file is complete).\n"
         "\n"
         "commands:\n"
         "  text INPUT OUTPUT TEXT         TEXT on every page\n"
         "  text-pages INPUT OUTPUT TEXT   TEXT, black and unrotated, on the pages of --pages\n"
         "  datetime INPUT OUTPUT [FORMAT] the local date and time, black, on every page\n"
         "  image INPUT OUTPUT PICTURE     a PNG or JPEG picture on every page\n"
         "\n"
         "TEXT is UTF-8; \\n in it starts a new line. FORMAT is a strftime format when it\n"
         "holds a '%', else a picture of the tokens YYYY, YY, MM, DD, HH, mm and ss\n"
         "(such as \"DD.MM.YYYY HH:mm\"); without it the text looks like 2031-07-04 09:05:03.\n"
         "\n"
         "options:\n"
         "  -x, --x POINTS         offset from the page's left edge (default 36)\n"
         "  -y, --y POINTS         offset from the page's bottom edge (default 36)\n"
         "  -s, --size POINTS      font size (default 24; not for image)\n"
         "  -o, --opacity VALUE    0 (invisible) to 1 (opaque, the default; text and image)\n"
         "  -r, --rotation DEGREES counter-clockwise (text only, default 0)\n"
         "  -c, --color COLOUR     R,G,B (0-255 each) or #rrggbb (text only, default black)\n"
         "  -p, --pages LIST       pages for text-pages, e.g. 1,3,5-9\n"
         "      --scale POINTS     points per picture pixel (image only, default 1)\n"
         "  -h, --help             this text\n"
         "\n"
         "On failure the library's message goes to standard error and the exit status is 1;\n"
         "a mistake on the command line gives status 2.\n";
}

}  // namespace cli
