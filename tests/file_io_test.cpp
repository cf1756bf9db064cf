// Reading the input and replacing the output: what reaches the disk, and
// what is left there when something fails.
#include <folimark.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <filesystem>
#include <string>

#include "platform/file_io.h"
#include "support/pdf_builder.h"

namespace fs = std::filesystem;

namespace {

std::string sample_input(const std::string &name) {
  const std::string path = testpdf::temp_path(name);
  testpdf::write_file(path, testpdf::simple_document({"hello"}));
  return path;
}

// Fails the test when a temporary file of the replacement is left in dir.
void expect_no_temporary_files(const fs::path &dir) {
  for (const auto &entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

bool starts_with(const std::string &text, const std::string &prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

// The output may name the input: the new file takes its place in one step.
TEST(FileIo, OutputNamingTheInputReplacesIt) {
  const std::string in = sample_input("in-place.pdf");
  const std::string before = testpdf::read_file(in);
  ASSERT_EQ(folimark_text(in.c_str(), in.c_str(), "first", 10, 10, 12, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  const std::string once = testpdf::read_file(in);
  EXPECT_NE(once, before);
  EXPECT_TRUE(starts_with(once, "%PDF-1.4"));
  // The replaced file is complete: it stamps again.
  ASSERT_EQ(folimark_text(in.c_str(), in.c_str(), "second", 10, 30, 12, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  EXPECT_GT(testpdf::read_file(in).size(), once.size());
  expect_no_temporary_files(fs::path(in).parent_path());
}

// An output that cannot be replaced (a directory of that name) fails with the
// reason, and leaves both the directory and no temporary file behind.
TEST(FileIo, OutputThatCannotBeReplacedFails) {
  const std::string in = sample_input("dir-in.pdf");
  const fs::path dir = testpdf::temp_path("output-is-a-directory.pdf");
  fs::create_directories(dir / "inside");
  EXPECT_EQ(folimark_text(in.c_str(), dir.string().c_str(), "x", 10, 10, 12, 1, 0, 0, 0, 0), 0);
  const std::string message = folimark_last_error();
  EXPECT_TRUE(starts_with(message, "cannot open output file " + dir.string() + " for writing: "))
      << message;
  EXPECT_TRUE(fs::is_directory(dir / "inside"));
  expect_no_temporary_files(dir.parent_path());
}

// An output abandoned before its commit (a failure while it is composed)
// leaves the file at its path as it was, and no temporary file.
TEST(FileIo, UncommittedOutputLeavesThePathAsItWas) {
  const std::string path = testpdf::temp_path("abandoned.pdf");
  testpdf::write_file(path, "the file as it was");
  {
    OutputFile out;
    ASSERT_EQ(output_open(out, path.c_str()).status, WriteStatus::ok);
    const std::string text = "half of a new file";
    EXPECT_TRUE(output_write(out, {reinterpret_cast<const uint8_t *>(text.data()), text.size()}));
  }
  EXPECT_EQ(testpdf::read_file(path), "the file as it was");
  expect_no_temporary_files(fs::path(path).parent_path());
}

// An output in a folder that does not exist fails before anything is made.
TEST(FileIo, OutputInAMissingFolderFails) {
  const std::string in = sample_input("missing-dir-in.pdf");
  const fs::path out = fs::path(testpdf::temp_path("no-such-folder")) / "out.pdf";
  fs::remove_all(out.parent_path());
  EXPECT_EQ(folimark_text(in.c_str(), out.string().c_str(), "x", 10, 10, 12, 1, 0, 0, 0, 0), 0);
  EXPECT_EQ(std::string(folimark_last_error()),
            "cannot open output file " + out.string() + " for writing: No such file or directory");
  EXPECT_FALSE(fs::exists(out.parent_path()));
}

#if defined(_WIN32)
// An output another program holds open without sharing deletion cannot be
// replaced; it is left as it was.
TEST(FileIoWindows, OutputHeldOpenElsewhereIsKept) {
  const std::string in = sample_input("held-in.pdf");
  const std::string out = testpdf::temp_path("held-out.pdf");
  testpdf::write_file(out, "held contents");
  const HANDLE held = CreateFileA(out.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(folimark_text(in.c_str(), out.c_str(), "x", 10, 10, 12, 1, 0, 0, 0, 0), 0);
  EXPECT_EQ(std::string(folimark_last_error()),
            "cannot open output file " + out + " for writing: Permission denied");
  CloseHandle(held);
  EXPECT_EQ(testpdf::read_file(out), "held contents");
  expect_no_temporary_files(fs::path(out).parent_path());
}

// The NUL device is written in place, not replaced by a file.
TEST(FileIoWindows, NulDeviceIsWrittenInPlace) {
  const std::string in = sample_input("nul-in.pdf");
  EXPECT_EQ(folimark_text(in.c_str(), "NUL", "x", 10, 10, 12, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  EXPECT_FALSE(fs::exists(fs::current_path() / "NUL.tmp-"));
  expect_no_temporary_files(fs::current_path());
}
#endif

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
  std::error_code ec;
  fs::create_symlink(target, link, ec);
  if (ec) GTEST_SKIP() << "cannot make a symbolic link here: " << ec.message();
  ASSERT_EQ(folimark_text(in.c_str(), link.c_str(), "x", 10, 10, 12, 1, 0, 0, 0, 0), 1)
      << folimark_last_error();
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(starts_with(testpdf::read_file(target), "%PDF-1.4"));
  expect_no_temporary_files(fs::path(target).parent_path());
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
