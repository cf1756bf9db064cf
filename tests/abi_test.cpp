// The C ABI's own checks and the last-error text, before any file is touched.
#include <folimark.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "common/error.h"

namespace {

std::filesystem::path scratch(const char *name) {
  return std::filesystem::temp_directory_path() / (std::string("folimark_abi_") + name);
}

}  // namespace

// Argument checks fail with the documented text and create no output.
TEST(Abi, PageListIsRequired) {
  const auto out = scratch("pages.pdf");
  std::filesystem::remove(out);
  const int pages[] = {1};
  struct Case { const int *pages; int count; };
  for (const Case c : {Case{nullptr, 1}, Case{pages, 0}, Case{pages, -3}}) {
    EXPECT_EQ(folimark_text_pages("in.pdf", out.string().c_str(), "x", 0, 0, 12, 1, c.pages, c.count), 0);
    EXPECT_STREQ(folimark_last_error(), "pages array cannot be NULL and page_count must be > 0");
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

TEST(Abi, NullPathsAreRefused) {
  const int pages[] = {1};
  EXPECT_EQ(folimark_text(nullptr, "out.pdf", "x", 0, 0, 12, 1, 0, 0, 0, 0), 0);
  EXPECT_STREQ(folimark_last_error(), "NULL path argument");
  folimark_cleanup();
  EXPECT_EQ(folimark_text("in.pdf", nullptr, "x", 0, 0, 12, 1, 0, 0, 0, 0), 0);
  EXPECT_STREQ(folimark_last_error(), "NULL path argument");
  folimark_cleanup();
  EXPECT_EQ(folimark_text_pages(nullptr, "o.pdf", nullptr, 0, 0, 12, 1, pages, 1), 0);
  EXPECT_STREQ(folimark_last_error(), "NULL path argument");
  folimark_cleanup();
  EXPECT_EQ(folimark_datetime("in.pdf", nullptr, nullptr, 0, 0, 12), 0);
  EXPECT_STREQ(folimark_last_error(), "NULL path argument");
  folimark_cleanup();
  // The picture is looked at before the paths: its own failure comes first.
  EXPECT_EQ(folimark_image(nullptr, "o.pdf", "absent.png", 0, 0, 1, 1), 0);
  EXPECT_STREQ(folimark_last_error(), "cannot open image file absent.png: No such file or directory");
}

// The error text is emptied by init and cleanup, and is never NULL.
TEST(Abi, InitAndCleanupEmptyTheErrorText) {
  ASSERT_NE(folimark_last_error(), nullptr);
  folimark_text(nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_STRNE(folimark_last_error(), "");
  EXPECT_EQ(folimark_init(), 1);
  EXPECT_STREQ(folimark_last_error(), "");
  folimark_text(nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, 0, 0, 0);
  const char *before = folimark_last_error();
  folimark_cleanup();
  EXPECT_STREQ(folimark_last_error(), "");
  EXPECT_EQ(before, folimark_last_error()) << "the pointer stays the same";
}

// Long messages are cut at 1023 characters and stay terminated.
TEST(Abi, LongMessagesAreCut) {
  const std::string path(5000, 'p');
  EXPECT_EQ(folimark_text(path.c_str(), "out.pdf", "x", 0, 0, 0, 1, 0, 0, 0, 0), 0);
  EXPECT_EQ(std::string(folimark_last_error()).size(), 1023u);
  EXPECT_EQ(std::string(folimark_last_error()).rfind("cannot open ppp", 0), 0u);
  folimark_cleanup();
}
