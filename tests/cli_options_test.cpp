// The command line of folimark-stamp: lengths with units, colours, anchors,
// whole command lines for one file and for several, and usage mistakes.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cmath>

#include "colours.h"
#include "options.h"
#include "progress.h"
#include "units.h"

namespace {

// The separator folimark-stamp puts between a folder and a file name.
#ifdef _WIN32
const std::string sep = "\\";
#else
const std::string sep = "/";
#endif

// Returns the options of a command line that must parse.
cli::Options parsed(const std::vector<std::string> &args) {
  const cli::ParseResult r = cli::parse_command_line(args);
  if (!r.options) ADD_FAILURE() << "refused: " << r.error;
  return r.options.value_or(cli::Options{});
}

// Returns the message of a command line that must be refused.
std::string refused(const std::vector<std::string> &args) {
  const cli::ParseResult r = cli::parse_command_line(args);
  std::string line;
  for (const std::string &a : args) line += a + " ";
  EXPECT_FALSE(r.options) << "accepted: " << line;
  EXPECT_FALSE(r.error.empty()) << line;
  return r.error;
}

}  // namespace

// Lengths: each unit, signs, and what is no length.
TEST(CliOptions, Lengths) {
  const struct {
    const char *text;
    double points;
  } good[] = {{"36", 36},          {"+2.5", 2.5},   {"12pt", 12},   {"25.4mm", 72},
              {"2.54cm", 72},      {"0.5in", 36},   {"-10mm", -720.0 / 25.4},
              {"1e2", 100},        {"0", 0}};
  for (const auto &c : good) {
    const auto v = cli::parse_length(c.text);
    ASSERT_TRUE(v.has_value()) << c.text;
    EXPECT_NEAR(*v, c.points, 1e-9) << c.text;
  }
  for (const char *bad : {"", "mm", "10 mm", " 10", "10MM", "10px", "10mmm", "1,5", "1.5.2",
                          "nan", "inf", "1e400", "1e308in", "0x10", "--1", "++1"})
    EXPECT_FALSE(cli::parse_length(bad).has_value()) << bad;
}

// Colours: the numeric forms, CSS names (whose gray, green, maroon and purple
// differ from older lists), any case, and what is no colour.
TEST(CliOptions, Colours) {
  const struct {
    const char *text;
    cli::Rgb rgb;
  } good[] = {
      {"255,0,128", {255, 0, 128}},   {"0,0,0", {0, 0, 0}},         {"#FF8000", {255, 128, 0}},
      {"#0a0b0c", {10, 11, 12}},      {"#abc", {170, 187, 204}},    {"#F00", {255, 0, 0}},
      {"gray", {128, 128, 128}},      {"grey", {128, 128, 128}},    {"green", {0, 128, 0}},
      {"maroon", {128, 0, 0}},        {"purple", {128, 0, 128}},    {"rebeccapurple", {102, 51, 153}},
      {"RebeccaPurple", {102, 51, 153}}, {"NAVY", {0, 0, 128}},     {"aliceblue", {240, 248, 255}},
      {"yellowgreen", {154, 205, 50}}, {"lightgoldenrodyellow", {250, 250, 210}},
      {"darkslategrey", {47, 79, 79}},
  };
  for (const auto &c : good) EXPECT_EQ(cli::parse_color(c.text), c.rgb) << c.text;
  for (const char *bad : {"", "256,0,0", "-1,0,0", "1,2", "1,2,3,4", "1,,3", "1, 2, 3", "#12345",
                          "#1234", "#GG0000", "#", "ff0000", "transparent", "gray50", "red ",
                          "lightgoldenrodyellowish", "rgb(1,2,3)"})
    EXPECT_FALSE(cli::parse_color(bad).has_value()) << bad;
  // A colour that does not parse is refused with the forms that would.
  const std::string why = refused({"text", "--color", "reddish", "a", "b", "c"});
  EXPECT_NE(why.find("reddish"), std::string::npos) << why;
  for (const char *form : {"R,G,B", "#rgb", "#rrggbb", "CSS colour name"})
    EXPECT_NE(why.find(form), std::string::npos) << why;
}

// Anchors and alignments by name; near misses are refused.
TEST(CliOptions, AnchorsAndAlignments) {
  const std::pair<const char *, int> anchors[] = {
      {"top-left", FOLIMARK_ANCHOR_TOP_LEFT},       {"top", FOLIMARK_ANCHOR_TOP},
      {"top-right", FOLIMARK_ANCHOR_TOP_RIGHT},     {"left", FOLIMARK_ANCHOR_LEFT},
      {"center", FOLIMARK_ANCHOR_CENTER},           {"right", FOLIMARK_ANCHOR_RIGHT},
      {"bottom-left", FOLIMARK_ANCHOR_BOTTOM_LEFT}, {"bottom", FOLIMARK_ANCHOR_BOTTOM},
      {"bottom-right", FOLIMARK_ANCHOR_BOTTOM_RIGHT}};
  for (const auto &[name, value] : anchors) EXPECT_EQ(cli::parse_anchor(name), value) << name;
  for (const char *bad : {"", "middle", "Top", "top_left", "topleft", "left-top"})
    EXPECT_FALSE(cli::parse_anchor(bad).has_value()) << bad;
  const std::pair<const char *, int> aligns[] = {
      {"left", FOLIMARK_ALIGN_LEFT}, {"center", FOLIMARK_ALIGN_CENTER}, {"right", FOLIMARK_ALIGN_RIGHT}};
  for (const auto &[name, value] : aligns) EXPECT_EQ(cli::parse_align(name), value) << name;
  for (const char *bad : {"", "centre", "justify", "top"})
    EXPECT_FALSE(cli::parse_align(bad).has_value()) << bad;
}

TEST(CliOptions, TextEscapes) {
  EXPECT_EQ(cli::unescape_lines("a\\nb"), "a\nb");
  EXPECT_EQ(cli::unescape_lines("c:\\\\new"), "c:\\new");
  EXPECT_EQ(cli::unescape_lines("tail\\"), "tail\\");
}

// Output names inside a folder: the input's file name, one separator.
TEST(CliOptions, OutputPathsInAFolder) {
  const struct {
    const char *dir, *input;
    std::string out;
  } cases[] = {{"out", "a.pdf", "out" + sep + "a.pdf"},
               {"out/", "dir/sub/a.pdf", "out/a.pdf"},
               {"/", "/abs/b.pdf", "/b.pdf"},
               {"out", "dir/", ""},
               {"out", "Größe.pdf", "out" + sep + "Größe.pdf"}};
  for (const auto &c : cases) EXPECT_EQ(cli::output_path_in(c.dir, c.input), c.out) << c.input;
#ifdef _WIN32
  EXPECT_EQ(cli::output_path_in("o", "C:\\in\\a.pdf"), "o\\a.pdf");
  EXPECT_EQ(cli::output_path_in("o\\", "C:a.pdf"), "o\\a.pdf");
#endif
}

// Whole command lines: every option reaches its field.
TEST(CliOptions, EveryOption) {
  const cli::Options t = parsed({"text", "--x", "10.5", "-y=20mm", "--size", "0.5in", "--opacity",
                                 "0.25", "--rotation", "-45", "--color", "#102030", "--anchor",
                                 "top-right", "--align", "center", "--under", "--page-space",
                                 "--pages", "1-z:even,x3", "--font", "f.ttc", "--font-index", "2",
                                 "in.pdf", "out.pdf", "Hi\\nthere"});
  EXPECT_EQ(t.command, cli::Command::text);
  EXPECT_DOUBLE_EQ(t.x, 10.5);
  EXPECT_NEAR(t.y, 20 * 72 / 25.4, 1e-9);
  EXPECT_DOUBLE_EQ(t.font_size, 36);
  EXPECT_DOUBLE_EQ(t.opacity, 0.25);
  EXPECT_DOUBLE_EQ(t.rotation, -45);
  EXPECT_EQ((cli::Rgb{t.red, t.green, t.blue}), (cli::Rgb{16, 32, 48}));
  EXPECT_EQ(t.anchor, FOLIMARK_ANCHOR_TOP_RIGHT);
  EXPECT_EQ(t.align, FOLIMARK_ALIGN_CENTER);
  EXPECT_EQ(t.layer, FOLIMARK_LAYER_UNDER);
  EXPECT_EQ(t.space, FOLIMARK_SPACE_PAGE);
  EXPECT_EQ(t.pages, "1-z:even,x3");  // passed to the library as written
  EXPECT_EQ(t.font_path, "f.ttc");
  EXPECT_EQ(t.font_index, 2);
  EXPECT_EQ(t.text, "Hi\nthere");
  EXPECT_EQ(t.inputs, std::vector<std::string>{"in.pdf"});
  EXPECT_EQ(t.outputs, std::vector<std::string>{"out.pdf"});

  const cli::Options i = parsed({"image", "--width", "50mm", "--height=2in", "--opacity", "0.3",
                                 "in.pdf", "out.pdf", "a\\n.png"});
  EXPECT_NEAR(i.width, 50 * 72 / 25.4, 1e-9);
  EXPECT_DOUBLE_EQ(i.height, 144);
  EXPECT_EQ(i.text, "a\\n.png");  // a path is taken as it stands
  EXPECT_DOUBLE_EQ(parsed({"image", "--scale", "0.5", "a", "b", "p.png"}).scale, 0.5);

  const cli::Options d = parsed({"datetime", "-s", "10", "--color", "red", "--format",
                                 "'RECEIVED' DD.MM.YYYY", "in.pdf", "out.pdf"});
  EXPECT_EQ(d.command, cli::Command::datetime);
  EXPECT_TRUE(d.text_given);
  EXPECT_EQ(d.text, "'RECEIVED' DD.MM.YYYY");
  EXPECT_EQ(d.red, 255);
  EXPECT_FALSE(parsed({"datetime", "in.pdf", "out.pdf"}).text_given);  // the library's default

  // The defaults keep the look of earlier versions.
  const cli::Options plain = parsed({"text", "a", "b", "c"});
  EXPECT_DOUBLE_EQ(plain.x, 36);
  EXPECT_DOUBLE_EQ(plain.y, 36);
  EXPECT_DOUBLE_EQ(plain.font_size, 24);
  EXPECT_DOUBLE_EQ(plain.opacity, 1);
  EXPECT_EQ(plain.anchor, FOLIMARK_ANCHOR_BOTTOM_LEFT);
  EXPECT_EQ(plain.layer, FOLIMARK_LAYER_OVER);
  EXPECT_EQ(plain.space, FOLIMARK_SPACE_DISPLAYED);
  EXPECT_TRUE(plain.pages.empty());

  EXPECT_EQ(parsed({"text-pages", "-p", "2,4", "a", "b", "x"}).pages, "2,4");
  EXPECT_EQ(parsed({"text", "--text", "A\\nB", "in", "out"}).text, "A\nB");
  EXPECT_EQ(parsed({"image", "--picture", "p.png", "in", "out"}).text, "p.png");
  EXPECT_EQ(parsed({"text", "--", "in", "out", "-5%"}).text, "-5%");
}

// Standard streams and several inputs: where each output goes.
TEST(CliOptions, InputsAndOutputs) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> inputs, outputs;
    std::string text;
  } cases[] = {
      {{"text", "-", "-", "X"}, {"-"}, {"-"}, "X"},
      {{"text", "--in-place", "a.pdf", "b.pdf", "X"}, {"a.pdf", "b.pdf"}, {"a.pdf", "b.pdf"}, "X"},
      {{"text", "--in-place", "a.pdf", "X"}, {"a.pdf"}, {"a.pdf"}, "X"},
      {{"text", "--output-dir", "o", "a.pdf", "d/b.pdf", "X"},
       {"a.pdf", "d/b.pdf"}, {"o" + sep + "a.pdf", "o" + sep + "b.pdf"}, "X"},
      {{"text", "--text", "X", "--in-place", "a.pdf", "b.pdf"}, {"a.pdf", "b.pdf"}, {"a.pdf", "b.pdf"}, "X"},
      {{"image", "--output-dir=o/", "a.pdf", "b.pdf", "p.png"}, {"a.pdf", "b.pdf"}, {"o/a.pdf", "o/b.pdf"}, "p.png"},
      // datetime takes a FORMAT only as --format with several files: all are inputs.
      {{"datetime", "--in-place", "a.pdf", "b.pdf"}, {"a.pdf", "b.pdf"}, {"a.pdf", "b.pdf"}, ""},
      {{"datetime", "--in-place", "--format", "YYYY", "a.pdf"}, {"a.pdf"}, {"a.pdf"}, "YYYY"},
  };
  for (const auto &c : cases) {
    const cli::Options o = parsed(c.args);
    EXPECT_EQ(o.inputs, c.inputs) << c.args[1];
    EXPECT_EQ(o.outputs, c.outputs) << c.args[1];
    EXPECT_EQ(o.text, c.text) << c.args[1];
  }
  EXPECT_EQ(parsed({"text", "--in-place", "a", "X"}).destination, cli::Destination::in_place);
  EXPECT_EQ(parsed({"text", "--output-dir", "o", "a", "X"}).destination, cli::Destination::directory);
  EXPECT_EQ(parsed({"text", "-j", "3", "--in-place", "a", "X"}).jobs, 3);
  EXPECT_EQ(parsed({"text", "-j2", "--in-place", "a", "X"}).jobs, 2);
  EXPECT_EQ(parsed({"text", "--jobs=256", "--in-place", "a", "X"}).jobs, 256);
  EXPECT_EQ(parsed({"text", "--in-place", "a", "X"}).jobs, 0);  // as many as the machine has cores
}

// Too many positional arguments: the message says so and how to mend it.
TEST(CliOptions, TooManyArguments) {
  for (const auto &args : std::vector<std::vector<std::string>>{
           {"text", "in.pdf", "out.pdf", "two", "words"},
           {"datetime", "a", "b", "DD", "MM"},
           {"text", "--text", "T", "a", "b", "c"}}) {
    const std::string why = refused(args);
    EXPECT_NE(why.find("too many arguments"), std::string::npos) << why;
    EXPECT_NE(why.find("quote"), std::string::npos) << why;
  }
}

// Usage mistakes, each refused with a message.
TEST(CliOptions, Mistakes) {
  const std::vector<std::vector<std::string>> bad = {
      {"stamp", "a", "b", "c"},                         // unknown command
      {"text", "a", "b"},                               // missing TEXT
      {"text", "--size", "0", "a", "b", "c"},           // size must be positive
      {"text", "--size", "-2mm", "a", "b", "c"},
      {"text", "--opacity", "1.5", "a", "b", "c"},      // opacity outside 0..1
      {"text", "--x", "1,5", "a", "b", "c"},            // decimal comma
      {"text", "--x", "nan", "a", "b", "c"},
      {"text", "--x", "10px", "a", "b", "c"},           // unknown unit
      {"text", "--frobnicate", "1", "a", "b", "c"},     // unknown option
      {"text", "a", "b", "c", "--size"},                // option without value
      {"text", "--under=yes", "a", "b", "c"},           // a flag takes no value
      {"text", "--anchor", "middle", "a", "b", "c"},
      {"text", "--align", "justify", "a", "b", "c"},
      {"text-pages", "a", "b", "c"},                    // text-pages without pages
      {"text-pages", "--pages", "", "a", "b", "c"},
      {"datetime", "a"},                                // missing OUTPUT
      {"image", "a", "b"},                              // missing PICTURE
      {"image", "--size", "12", "a", "b", "p.png"},     // no font size for pictures
      {"image", "--color", "red", "a", "b", "p.png"},
      {"image", "--align", "left", "a", "b", "p.png"},
      {"image", "--font", "f.ttf", "a", "b", "p.png"},  // no font for pictures
      {"text", "--font", "", "a", "b", "c"},
      {"text", "--font-index", "-1", "a", "b", "c"},
      {"text", "--font-index", "1.5", "a", "b", "c"},
      {"image", "--scale", "0", "a", "b", "p.png"},     // scale must be positive
      {"image", "--width", "0", "a", "b", "p.png"},
      {"image", "--scale", "2", "--width", "1in", "a", "b", "p.png"},  // one or the other
      {"text", "--scale", "2", "a", "b", "c"},          // scale only for pictures
      {"text", "--width", "2", "a", "b", "c"},
      {"text", "--format", "YYYY", "a", "b"},           // each command's own argument option
      {"datetime", "--text", "x", "a", "b"},
      {"image", "--text", "x", "a", "b"},
      {"text", "--in-place", "X"},                      // no input
      {"datetime", "--output-dir", "o"},
      {"text", "--in-place", "-", "X"},                 // standard input has no place
      {"text", "--output-dir", "o", "-", "X"},
      {"text", "--output-dir", "", "a", "X"},
      {"text", "--output-dir", "o", "dir/", "X"},       // a folder is no input
      {"text", "--in-place", "--output-dir", "o", "a", "X"},
      {"text", "--output-dir", "o", "--in-place", "a", "X"},
      {"text", "--output-dir", "o", "x/a.pdf", "y/a.pdf", "X"},  // both to o/a.pdf
      {"text", "--in-place", "a.pdf", "a.pdf", "X"},
      {"text", "-j", "0", "--in-place", "a", "X"},
      {"text", "-j", "257", "--in-place", "a", "X"},
      {"text", "--jobs", "two", "--in-place", "a", "X"},
  };
  for (const auto &args : bad) refused(args);
}

// Exit statuses: 2 for what the parser refuses, 0 for help and version
// (which print and stop), 1 once any file failed.
TEST(CliOptions, ExitStatuses) {
  const struct {
    std::vector<std::string> args;
    std::optional<cli::Command> command;  // nothing: a usage error
  } lines[] = {
      {{}, std::nullopt},  // no arguments: a usage error on standard error
      {{"--help"}, cli::Command::help},
      {{"help"}, cli::Command::help},
      {{"image", "-h"}, cli::Command::help},
      {{"text", "a", "--help"}, cli::Command::help},
      {{"--version"}, cli::Command::version},
      {{"text", "--version"}, cli::Command::version},
      {{"text", "--", "a", "b", "--help"}, cli::Command::text},
      {{"text", "--bogus"}, std::nullopt},
  };
  for (const auto &line : lines) {
    const cli::ParseResult r = cli::parse_command_line(line.args);
    ASSERT_EQ(r.options.has_value(), line.command.has_value()) << r.error;
    if (r.options) {
      EXPECT_EQ(r.options->command, *line.command);
    }
  }
  EXPECT_EQ(cli::exit_status(0), cli::kExitOk);
  EXPECT_EQ(cli::exit_status(1), cli::kExitFailed);
  EXPECT_EQ(cli::exit_status(7), cli::kExitFailed);
  EXPECT_EQ(cli::kExitOk, 0);
  EXPECT_EQ(cli::kExitFailed, 1);
  EXPECT_EQ(cli::kExitUsage, 2);
}

// Numbers read the same under a locale with a decimal comma.
TEST(CliOptions, NumbersIgnoreTheLocale) {
  const char *previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  // A German locale by its POSIX or its Windows name.
  bool german = false;
  for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252"})
    german = german || std::setlocale(LC_NUMERIC, name) != nullptr;
  if (!german) {
#if !defined(_WIN32)
    // The test set-up script makes the locale; CI requires it.
    const char *required = std::getenv("FOLIMARK_REQUIRE_TOOLS");
    if (required != nullptr && *required != '\0') FAIL() << "no de_DE.UTF-8 locale";
#endif
    GTEST_SKIP() << "no German locale";
  }
  const auto r = cli::parse_command_line({"text", "--x", "12.5", "--y", "2.5mm", "a", "b", "c"});
  const auto comma = cli::parse_length("12,5");
  std::setlocale(LC_NUMERIC, saved.c_str());
  ASSERT_TRUE(r.options);
  EXPECT_DOUBLE_EQ(r.options->x, 12.5);
  EXPECT_NEAR(r.options->y, 2.5 * 72 / 25.4, 1e-9);
  EXPECT_FALSE(comma.has_value());
}

// The progress line shown on a terminal: the count, and the file's name cut
// at its start when the line would be too long.
TEST(CliOptions, ProgressLine) {
  EXPECT_EQ(cli::progress_line(3, 10, "a.pdf", 78), "[3/10] a.pdf");
  EXPECT_EQ(cli::progress_line(1, 2, "folder/long-name.pdf", 16), "[1/2] ...ame.pdf");
  EXPECT_EQ(cli::progress_line(1, 2, "x.pdf", 3), "[1/2] ...");
}
