// Preparing a picture for the stamp: which format a file is taken for, the
// planes a PNG becomes (judged by zlib inflating them), and every refusal
// with its message and without output.
#include <folimark.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "abi/image_stamp.h"
#include "common/error.h"
#include "support/jpeg_maker.h"
#include "support/pdf_builder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string write_rgba_png(const std::string &path, int width, int height,
                           const std::vector<uint8_t> &rgba) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr))
    throw std::runtime_error(image.message);
  return path;
}

std::vector<uint8_t> inflate_all(const uint8_t *data, size_t size, size_t expected) {
  std::vector<uint8_t> out(expected + 1);
  uLongf length = static_cast<uLongf>(out.size());
  EXPECT_EQ(uncompress(out.data(), &length, data, static_cast<uLong>(size)), Z_OK);
  out.resize(length);
  return out;
}

std::vector<uint8_t> gradient(int width, int height, bool translucent) {
  std::vector<uint8_t> rgba;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      rgba.insert(rgba.end(), {static_cast<uint8_t>(x * 9), static_cast<uint8_t>(y * 13),
                               static_cast<uint8_t>(x ^ y),
                               static_cast<uint8_t>(translucent ? (x * 31 + y) & 0xFF : 255)});
  return rgba;
}

class ImagePreparation : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testpdf::temp_path("image-prep-" + std::string(::testing::UnitTest::GetInstance()
                                                              ->current_test_info()
                                                              ->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    pdf_ = dir_ + "/in.pdf";
    testpdf::write_file(pdf_, testpdf::simple_document({"one", "two"}));
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  std::string dir_, pdf_;
};

TEST_F(ImagePreparation, PngBecomesRgbAndAlphaPlanes) {
  for (const bool translucent : {false, true}) {
    const std::vector<uint8_t> rgba = gradient(13, 7, translucent);
    const std::string png = write_rgba_png(path("g.png"), 13, 7, rgba);
    StampRequest request{};
    PreparedImage owned;
    ASSERT_TRUE(prepare_image(png.c_str(), request, owned)) << error_text();
    EXPECT_EQ(request.image_is_jpeg, 0);
    EXPECT_EQ(request.image_width, 13);
    EXPECT_EQ(request.image_height, 7);
    EXPECT_EQ(request.image_components, 3);
    EXPECT_EQ(request.has_alpha, translucent ? 1 : 0);
    std::vector<uint8_t> rgb, alpha;
    for (size_t i = 0; i < rgba.size(); i += 4) {
      rgb.insert(rgb.end(), &rgba[i], &rgba[i] + 3);
      alpha.push_back(rgba[i + 3]);
    }
    EXPECT_EQ(inflate_all(request.rgb_data, request.rgb_size, rgb.size()), rgb);
    if (translucent) {
      EXPECT_EQ(inflate_all(request.alpha_data, request.alpha_size, alpha.size()), alpha);
    } else {
      EXPECT_EQ(request.alpha_data, nullptr);
      EXPECT_EQ(request.alpha_size, 0u);
    }
  }
}

TEST_F(ImagePreparation, JpegCarriesItsBytesSizeAndComponents) {
  // Adobe's four-component files (libjpeg-turbo writes its segment unless
  // told not to) hold inverted samples.
  const struct {
    testjpeg::Colour colour;
    bool adobe_marker;
    int components, inverted;
  } cases[] = {{testjpeg::Colour::gray, true, 1, 0},
               {testjpeg::Colour::rgb, true, 3, 0},
               {testjpeg::Colour::cmyk, true, 4, 1},
               {testjpeg::Colour::cmyk, false, 4, 0}};
  for (const auto &c : cases) {
    testjpeg::MakeOptions options;
    options.width = 33;
    options.height = 17;
    options.colour = c.colour;
    options.adobe_marker = c.adobe_marker;
    const std::vector<uint8_t> bytes = testjpeg::make_jpeg(options);
    const std::string jpg = path("p.jpg");
    testpdf::write_file(jpg, std::string(bytes.begin(), bytes.end()));
    StampRequest request{};
    PreparedImage owned;
    ASSERT_TRUE(prepare_image(jpg.c_str(), request, owned)) << error_text();
    EXPECT_EQ(request.image_is_jpeg, 1);
    EXPECT_EQ(request.image_width, 33);
    EXPECT_EQ(request.image_height, 17);
    EXPECT_EQ(request.image_components, c.components);
    EXPECT_EQ(request.image_inverted, c.inverted);
    ASSERT_EQ(request.jpeg_size, bytes.size());
    EXPECT_EQ(std::memcmp(request.jpeg_data, bytes.data(), bytes.size()), 0);
    EXPECT_EQ(request.rgb_data, nullptr);
  }
}

// A compressor that fails from its nth call on.
int g_deflate_calls_left = 0;
int failing_deflate(const unsigned char *src, size_t len, unsigned char **out, size_t *out_len) {
  if (g_deflate_calls_left-- <= 0) return -1;
  return tvl_deflate(src, len, out, out_len);
}

TEST_F(ImagePreparation, CompressionFailuresAreReported) {
  const std::string png = write_rgba_png(path("t.png"), 5, 5, gradient(5, 5, true));
  const struct {
    int succeed;
    const char *message;
  } cases[] = {{0, "failed to deflate PNG RGB data"}, {1, "failed to deflate PNG mask data"}};
  for (const auto &c : cases) {
    g_deflate_calls_left = c.succeed;
    StampRequest request{};
    PreparedImage owned;
    EXPECT_FALSE(prepare_image(png.c_str(), request, owned, failing_deflate));
    EXPECT_STREQ(error_text(), c.message);
  }
}

// Each refusal through the public function: message, result 0, no output.
TEST_F(ImagePreparation, RefusalsNameTheirCause) {
  const std::string out = path("out.pdf");
  const auto refuse = [&](const char *image, const std::string &message) {
    fs::remove(out);
    EXPECT_EQ(folimark_image(pdf_.c_str(), out.c_str(), image, 0, 0, 1, 1), 0);
    EXPECT_EQ(std::string(folimark_last_error()), message) << (image ? image : "NULL");
    EXPECT_FALSE(fs::exists(out));
  };
  refuse(nullptr, "NULL image_path");
  refuse(path("absent.png").c_str(),
         "cannot open image file " + path("absent.png") + ": No such file or directory");
  refuse(dir_.c_str(), "cannot open image file " + dir_ + ": Is a directory");

  const struct {
    const char *name;
    std::string bytes;
    std::string message;  // "%s" stands for the path
  } files[] = {
      {"empty", "", "image file too short: %s"},
      {"seven", "\x89PNG\r\n\x1a"s, "image file too short: %s"},
      {"jpeg8", "\xFF\xD8\xFF\xE0\0\x10JF"s, "failed to parse JPEG header: %s"},
      {"gif", "GIF89a\x01\0\x01\0\0\0"s, "unsupported image format (must be PNG or JPEG): %s"},
      {"bmp", "BM\x3a\0\0\0\0\0\0\0"s, "unsupported image format (must be PNG or JPEG): %s"},
      {"eoi", "\xFF\xD9\xFF\xD8\0\0\0\0\0"s,
       "unsupported image format (must be PNG or JPEG): %s"},
      {"png_sig_only", "\x89PNG\r\n\x1a\n"s, "PNG decode error (png: missing IHDR or IDAT): %s"},
      {"png_bad", "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0"s, "PNG decode error (png: truncated chunk): %s"},
  };
  for (const auto &f : files) {
    const std::string p = path(f.name);
    testpdf::write_file(p, f.bytes);
    std::string message = f.message;
    message.replace(message.find("%s"), 2, p);
    refuse(p.c_str(), message);
  }
}

// A valid picture with a bad output path: the engine's message, and the
// prepared planes are released (the sanitizer build checks for leaks).
TEST_F(ImagePreparation, EngineFailureAfterPreparation) {
  const std::string png = write_rgba_png(path("t.png"), 4, 4, gradient(4, 4, true));
  EXPECT_EQ(folimark_image(pdf_.c_str(), nullptr, png.c_str(), 0, 0, 1, 1), 0);
  EXPECT_STREQ(folimark_last_error(), "NULL path argument");
  EXPECT_EQ(folimark_image(nullptr, path("o.pdf").c_str(), png.c_str(), 0, 0, 1, 1), 0);
  EXPECT_STREQ(folimark_last_error(), "NULL path argument");
  EXPECT_EQ(folimark_image(path("none.pdf").c_str(), path("o.pdf").c_str(), png.c_str(), 0, 0, 1, 1), 0);
  EXPECT_FALSE(fs::exists(path("o.pdf")));
}

// The JPEG is read a second time after its first bytes were looked at; a
// file that vanishes or cannot be read whole in between is reported. A
// named pipe fed by another thread makes both happen on cue.
TEST_F(ImagePreparation, JpegThatChangesAfterTheFirstLook) {
  const std::string fifo = path("pipe.jpg");
  const std::string head = "\xFF\xD8\xFF\xE0\0\x10JFIF"s;
  const struct {
    bool vanish;
    const char *message;
  } cases[] = {{true, "failed to reopen JPEG"}, {false, "failed to read full JPEG bytes"}};
  for (const auto &c : cases) {
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> done{false};
    std::thread feeder([&] {
      FILE *w = std::fopen(fifo.c_str(), "wb");  // waits for the first reader
      if (c.vanish) unlink(fifo.c_str());         // gone before the bytes arrive
      std::fwrite(head.data(), 1, head.size(), w);
      std::fflush(w);
      // Kept open otherwise, so the second open finds a pipe that cannot be
      // measured rather than waiting for a writer.
      while (!c.vanish && !done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::fclose(w);
    });
    EXPECT_EQ(folimark_image(pdf_.c_str(), path("o.pdf").c_str(), fifo.c_str(), 0, 0, 1, 1), 0);
    done = true;
    feeder.join();
    unlink(fifo.c_str());
    EXPECT_STREQ(folimark_last_error(), c.message);
    EXPECT_FALSE(fs::exists(path("o.pdf")));
  }
}

}  // namespace
