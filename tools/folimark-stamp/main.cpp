// folimark-stamp: the library's stamping functions from the command line.
#include <folimark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "options.h"

int main(int argc, char **argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const cli::ParseResult parsed = cli::parse_command_line(args);
  if (!parsed.options) {
    std::fprintf(stderr, "folimark-stamp: %s\n", parsed.error.c_str());
    return 2;
  }
  const cli::Options &o = *parsed.options;
  int ok = 0;
  switch (o.command) {
    case cli::Command::help:
      std::fputs(cli::usage(), stdout);
      return 0;
    case cli::Command::text:
      ok = folimark_text(o.input.c_str(), o.output.c_str(), o.text.c_str(), o.x, o.y, o.font_size,
                         o.opacity, o.rotation, o.red, o.green, o.blue);
      break;
    case cli::Command::text_pages:
      ok = folimark_text_pages(o.input.c_str(), o.output.c_str(), o.text.c_str(), o.x, o.y,
                               o.font_size, o.opacity, o.pages.data(),
                               static_cast<int>(o.pages.size()));
      break;
    case cli::Command::datetime:
      ok = folimark_datetime(o.input.c_str(), o.output.c_str(), o.text_given ? o.text.c_str() : nullptr,
                             o.x, o.y, o.font_size);
      break;
    case cli::Command::image:
      ok = folimark_image(o.input.c_str(), o.output.c_str(), o.text.c_str(), o.x, o.y, o.scale,
                          o.opacity);
      break;
  }
  if (!ok) {
    std::fprintf(stderr, "folimark-stamp: %s\n", folimark_last_error());
    return 1;
  }
  return 0;
}
