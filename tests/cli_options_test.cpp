// The command line of folimark-stamp: lists, colours and option mistakes.
#include <gtest/gtest.h>

#include <clocale>

#include "options.h"

// Page lists: ranges, single pages and malformed lists.
TEST(CliOptions, PageLists) {
  EXPECT_EQ(cli::parse_page_list("1,3,5-9"), (std::vector<int>{1, 3, 5, 6, 7, 8, 9}));
  EXPECT_EQ(cli::parse_page_list("4"), (std::vector<int>{4}));
  EXPECT_EQ(cli::parse_page_list("2-2,2"), (std::vector<int>{2, 2}));
  for (const char *bad : {"", ",", "1,", "a", "3-1", "1-", "-2", "1..3", "1-2-3", "1-2000000"})
    EXPECT_FALSE(cli::parse_page_list(bad).has_value()) << bad;
}

// Colours: both notations, and values outside 0..255.
TEST(CliOptions, Colours) {
  EXPECT_EQ(cli::parse_color("255,0,128"), (std::vector<int>{255, 0, 128}));
  EXPECT_EQ(cli::parse_color("#FF8000"), (std::vector<int>{255, 128, 0}));
  EXPECT_EQ(cli::parse_color("#0a0b0c"), (std::vector<int>{10, 11, 12}));
  for (const char *bad : {"256,0,0", "-1,0,0", "1,2", "1,2,3,4", "#12345", "#GG0000", "red"})
    EXPECT_FALSE(cli::parse_color(bad).has_value()) << bad;
}

TEST(CliOptions, TextEscapes) {
  EXPECT_EQ(cli::unescape_lines("a\\nb"), "a\nb");
  EXPECT_EQ(cli::unescape_lines("c:\\\\new"), "c:\\new");
  EXPECT_EQ(cli::unescape_lines("tail\\"), "tail\\");
}

// Whole command lines: defaults, every option, and each kind of mistake.
TEST(CliOptions, CommandLines) {
  const auto ok = cli::parse_command_line(
      {"text", "--x", "10.5", "-y=20", "--size", "12", "--opacity", "0.25", "--rotation", "45",
       "--color", "#102030", "in.pdf", "out.pdf", "Hi"});
  ASSERT_TRUE(ok.options) << ok.error;
  EXPECT_EQ(ok.options->command, cli::Command::text);
  EXPECT_FLOAT_EQ(ok.options->x, 10.5f);
  EXPECT_FLOAT_EQ(ok.options->y, 20.0f);
  EXPECT_EQ(ok.options->font_size, 12);
  EXPECT_FLOAT_EQ(ok.options->opacity, 0.25f);
  EXPECT_FLOAT_EQ(ok.options->rotation, 45.0f);
  EXPECT_EQ(ok.options->red, 16);
  EXPECT_EQ(ok.options->blue, 48);
  EXPECT_EQ(ok.options->text, "Hi");

  const auto pages = cli::parse_command_line({"text-pages", "-p", "2,4", "a.pdf", "b.pdf", "x"});
  ASSERT_TRUE(pages.options) << pages.error;
  EXPECT_EQ(pages.options->pages, (std::vector<int>{2, 4}));

  const std::vector<std::vector<std::string>> bad = {
      {"stamp", "a", "b", "c"},                         // unknown command
      {"text", "a", "b"},                               // missing TEXT
      {"text", "--size", "0", "a", "b", "c"},           // size must be positive
      {"text", "--opacity", "1.5", "a", "b", "c"},      // opacity outside 0..1
      {"text", "--x", "1,5", "a", "b", "c"},            // decimal comma
      {"text", "--x", "nan", "a", "b", "c"},
      {"text", "--frobnicate", "1", "a", "b", "c"},     // unknown option
      {"text", "a", "b", "c", "--size"},                // option without value
      {"text", "--pages", "1", "a", "b", "c"},          // pages only with text-pages
      {"text-pages", "a", "b", "c"},                    // text-pages without pages
      {"text-pages", "-p", "1", "--color", "1,2,3", "a", "b", "c"},
      {"datetime", "a"},                                // missing OUTPUT
      {"datetime", "a", "b", "c", "d"},                 // too many arguments
      {"datetime", "--color", "1,2,3", "a", "b"},       // date/time is black
      {"datetime", "--opacity", "0.5", "a", "b"},       // and opaque
      {"image", "a", "b"},                              // missing PICTURE
      {"image", "--size", "12", "a", "b", "p.png"},     // no font size for pictures
      {"image", "--scale", "0", "a", "b", "p.png"},     // scale must be positive
      {"image", "--rotation", "90", "a", "b", "p.png"},
      {"text", "--scale", "2", "a", "b", "c"},          // scale only for pictures
  };
  for (const auto &args : bad) {
    const auto r = cli::parse_command_line(args);
    EXPECT_FALSE(r.options) << args[1];
    EXPECT_FALSE(r.error.empty());
  }
  EXPECT_EQ(cli::parse_command_line({}).options->command, cli::Command::help);
  EXPECT_EQ(cli::parse_command_line({"image", "-h"}).options->command, cli::Command::help);
  EXPECT_EQ(cli::parse_command_line({"text", "--help"}).options->command, cli::Command::help);
}

TEST(CliOptions, DatetimeAndImageCommands) {
  const auto plain = cli::parse_command_line({"datetime", "in.pdf", "out.pdf"});
  ASSERT_TRUE(plain.options) << plain.error;
  EXPECT_EQ(plain.options->command, cli::Command::datetime);
  EXPECT_FALSE(plain.options->text_given);  // the library's default format

  const auto format =
      cli::parse_command_line({"datetime", "-x", "5", "-s", "10", "in.pdf", "out.pdf", "DD.MM.YYYY"});
  ASSERT_TRUE(format.options) << format.error;
  EXPECT_TRUE(format.options->text_given);
  EXPECT_EQ(format.options->text, "DD.MM.YYYY");
  EXPECT_EQ(format.options->font_size, 10);

  const auto image = cli::parse_command_line(
      {"image", "--scale", "0.5", "--opacity", "0.3", "-y", "7", "in.pdf", "out.pdf", "a\\n.png"});
  ASSERT_TRUE(image.options) << image.error;
  EXPECT_EQ(image.options->command, cli::Command::image);
  EXPECT_FLOAT_EQ(image.options->scale, 0.5f);
  EXPECT_FLOAT_EQ(image.options->opacity, 0.3f);
  EXPECT_EQ(image.options->text, "a\\n.png");  // a path is taken as it stands
}

// Numbers read the same under a locale with a decimal comma.
TEST(CliOptions, NumbersIgnoreTheLocale) {
  const char *previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE locale";
  const auto r = cli::parse_command_line({"text", "--x", "12.5", "a", "b", "c"});
  std::setlocale(LC_NUMERIC, saved.c_str());
  ASSERT_TRUE(r.options);
  EXPECT_FLOAT_EQ(r.options->x, 12.5f);
}
