// Running out of memory at any allocation of a stamping call: the call fails
// with an out-of-memory message, leaves no output file and leaks nothing
// (the sanitizer build checks the last point).
#include <folimark.h>
#include <gtest/gtest.h>

#include "support/failing_allocator.h"

#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include <zlib.h>

#include "support/pdf_builder.h"


// Runs call with each allocation in turn failing, until one run needs no
// failure; every failed run must return 0 with a message that mentions
// running out of memory (at its start when leading; otherwise the PNG
// decoder's "cannot read file", which covers its file buffer, also counts)
// and leave no file at out. Returns the number of failed runs.
template <typename Call>
int fail_each_allocation(const std::string &out, bool leading, Call call) {
  int failures = 0;
  for (long k = 0; k < 100000; ++k) {
    std::filesystem::remove(out);
    g_failed = false;
    g_allocations_left = k;
    const int ok = call();
    g_allocations_left = -1;
    if (!g_failed) {
      EXPECT_EQ(ok, 1) << folimark_last_error();
      break;
    }
    ++failures;
    EXPECT_EQ(ok, 0) << "allocation " << k;
    const std::string message = folimark_last_error();
    const size_t at = message.find("out of memory");
    EXPECT_TRUE(leading ? at == 0
                        : at != std::string::npos ||
                              message.rfind("PNG decode error (png: cannot read file)", 0) == 0)
        << "allocation " << k << ": " << folimark_last_error();
    EXPECT_FALSE(std::filesystem::exists(out)) << "allocation " << k;
    // Nor a temporary file beside it: the output is written as it is composed.
    const std::filesystem::path out_path(out);
    const std::string temp_prefix = out_path.filename().string() + ".tmp-";
    for (const auto &e : std::filesystem::directory_iterator(out_path.parent_path()))
      EXPECT_NE(e.path().filename().string().rfind(temp_prefix, 0), 0u)
          << "allocation " << k << " left " << e.path();
  }
  return failures;
}

// Every allocation in turn fails, in a call that loads, walks, plans and
// writes several pages.
TEST(OutOfMemory, EveryFailedAllocationFailsTheCallCleanly) {
  std::vector<std::string> texts;
  for (int i = 0; i < 5; ++i) texts.push_back("page " + std::to_string(i));
  const std::string in = testpdf::temp_path("oom-in.pdf");
  const std::string out = testpdf::temp_path("oom-out.pdf");
  testpdf::write_file(in, testpdf::simple_document(texts));
  const int pages[] = {2, 4};
  const int failures = fail_each_allocation(out, true, [&] {
    return folimark_text_pages(in.c_str(), out.c_str(), "stamp", 10, 10, 12, 1, pages, 2);
  });
  EXPECT_GT(failures, 10);
}

namespace {

void put_be32(std::string &out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void put_chunk(std::string &out, const char *type, const std::string &data) {
  put_be32(out, static_cast<uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  out += body;
  put_be32(out, static_cast<uint32_t>(
                    crc32(0, reinterpret_cast<const Bytef *>(body.data()), static_cast<uInt>(body.size()))));
}

// An 8-bit RGBA picture whose pixels are all translucent, written by hand.
std::string translucent_png(int width, int height) {
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    for (int x = 0; x < width; ++x) raw += std::string{char(x * 20), char(y * 30), 7, 100};
  }
  std::string header;
  put_be32(header, static_cast<uint32_t>(width));
  put_be32(header, static_cast<uint32_t>(height));
  header += std::string("\x08\x06\x00\x00\x00", 5);
  std::string png("\x89PNG\r\n\x1a\n", 8);
  put_chunk(png, "IHDR", header);
  put_chunk(png, "IDAT", testpdf::zlib_compress(raw));
  put_chunk(png, "IEND", "");
  return png;
}

}  // namespace

// The same for a picture stamp: reading the picture, decoding it, building
// its planes and stamping.
TEST(OutOfMemory, PictureStampFailsCleanlyAtEveryAllocation) {
  const std::string in = testpdf::temp_path("oom-pic-in.pdf");
  const std::string png = testpdf::temp_path("oom-pic.png");
  const std::string out = testpdf::temp_path("oom-pic-out.pdf");
  testpdf::write_file(in, testpdf::simple_document({"a", "b"}));
  testpdf::write_file(png, translucent_png(9, 5));
  const int failures = fail_each_allocation(out, false, [&] {
    return folimark_image(in.c_str(), out.c_str(), png.c_str(), 10, 10, 1, 1);
  });
  EXPECT_GT(failures, 5);
}

// The extended interface with the document, the picture and the result in
// memory: every failed allocation gives the memory code and no block.
TEST(OutOfMemory, ExtendedStampInMemoryFailsWithTheMemoryCode) {
  const std::string pdf = testpdf::simple_document({"a", "b"});
  const std::string png = translucent_png(9, 5);
  folimark_options o;
  folimark_options_init(&o, sizeof o);
  o.kind = FOLIMARK_KIND_PICTURE;
  o.input_data = reinterpret_cast<const unsigned char *>(pdf.data());
  o.input_size = pdf.size();
  o.picture_data = reinterpret_cast<const unsigned char *>(png.data());
  o.picture_size = png.size();
  o.anchor = FOLIMARK_ANCHOR_CENTER;
  int failures = 0;
  for (long k = 0; k < 100000; ++k) {
    g_failed = false;
    g_allocations_left = k;
    unsigned char *data = nullptr;
    size_t size = 0;
    const int rc = folimark_stamp(&o, &data, &size);
    g_allocations_left = -1;
    if (!g_failed) {
      EXPECT_EQ(rc, FOLIMARK_OK) << folimark_error_message();
      EXPECT_GT(size, 0u);
      folimark_free(data);
      break;
    }
    ++failures;
    EXPECT_EQ(rc, FOLIMARK_ERROR_MEMORY) << "allocation " << k << ": " << folimark_error_message();
    EXPECT_EQ(data, nullptr);
  }
  EXPECT_GT(failures, 5);
}
