// Reading the input and replacing the output: what reaches the disk, and
// what is left there when something fails.
#include <folimark.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/pdf_builder.h"

namespace fs = std::filesystem;

namespace {

std::string sample_input(const std::string &name) {
  const std::string path = testpdf::temp_path(name);
  testpdf::write_file(path, testpdf::simple_document({"hello"}));
  return path;
}

}  // namespace

// A short write (a full device) fails with its message, and the device is
// written in place rather than replaced by a regular file.
TEST(FileIo, FullDeviceGivesWriteError) {
  struct stat before;
  if (stat("/dev/full", &before) != 0 || !S_ISCHR(before.st_mode)) GTEST_SKIP() << "no /dev/full";
  const std::string in = sample_input("full-in.pdf");
  EXPECT_EQ(folimark_text(in.c_str(), "/dev/full", "x", 10, 10, 12, 1, 0, 0, 0, 0), 0);
  EXPECT_STREQ(folimark_last_error(), "write error on /dev/full");
  struct stat after;
  ASSERT_EQ(stat("/dev/full", &after), 0);
  EXPECT_TRUE(S_ISCHR(after.st_mode));
}

// An output path that is a symbolic link: the file it names is replaced and
// the link stays a link.
TEST(FileIo, SymbolicLinkOutputReplacesItsTarget) {
  const std::string in = sample_input("link-in.pdf");
  const std::string target = testpdf::temp_path("link-target.pdf");
  const std::string link = testpdf::temp_path("link.pdf");
  testpdf::write_file(target, "old");
  fs::remove(link);
  fs::create_symlink(target, link);
  ASSERT_EQ(folimark_text(in.c_str(), link.c_str(), "x", 10, 10, 12, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(testpdf::read_file(target).rfind("%PDF-1.4", 0), 0u);
  for (const auto &entry : fs::directory_iterator(fs::path(target).parent_path()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos)
        << entry.path();
}

// Files of 2 GiB or more are refused before anything is read (a sparse file
// costs no disk space).
TEST(FileIo, InputOfTwoGibibytesIsRefused) {
  const std::string big = testpdf::temp_path("big.pdf");
  testpdf::write_file(big, "%PDF-1.4\n");
  std::error_code ec;
  fs::resize_file(big, (uint64_t{1} << 31), ec);
  if (ec) GTEST_SKIP() << "cannot make a sparse file: " << ec.message();
  const std::string out = testpdf::temp_path("big-out.pdf");
  fs::remove(out);
  EXPECT_EQ(folimark_text(big.c_str(), out.c_str(), "x", 10, 10, 12, 1, 0, 0, 0, 0), 0);
  EXPECT_EQ(std::string(folimark_last_error()),
            "file too large (2 GiB or more are not supported): " + big);
  EXPECT_FALSE(fs::exists(out));
  fs::remove(big);
}
