// The extended interface end to end: documents and pictures from paths or
// memory, output to a file or to memory, every result code, the layer, a
// picture's size in points, quoted words in date pictures, the version, and
// several threads stamping at once (run under ThreadSanitizer by the
// `threads` preset).
#include <folimark.h>
#include <gtest/gtest.h>
#include <png.h>

#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/e2e_oracles.h"
#include "support/pdf_builder.h"

namespace {

using namespace e2e;

// A black picture of 40 x 20 pixels, as PNG bytes.
std::string black_png() {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = 40;
  image.height = 20;
  image.format = PNG_FORMAT_GRAY;
  const std::vector<unsigned char> pixels(40 * 20, 0);
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr))
    throw std::runtime_error("libpng cannot size the picture");
  std::string bytes(size, '\0');
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels.data(), 0, nullptr))
    throw std::runtime_error("libpng cannot write the picture");
  return bytes;
}

folimark_options text_options(const std::string &in, const char *text) {
  folimark_options o;
  folimark_options_init(&o, sizeof o);
  o.input_path = in.c_str();
  o.text = text;
  return o;
}

// Returns the stamped document in memory, failing the test on an error.
std::string stamp_to_memory(const folimark_options &o) {
  unsigned char *data = nullptr;
  size_t size = 0;
  const int rc = folimark_stamp(&o, &data, &size);
  EXPECT_EQ(rc, FOLIMARK_OK) << folimark_error_message();
  if (rc != FOLIMARK_OK) return {};
  std::string bytes(reinterpret_cast<const char *>(data), size);
  folimark_free(data);
  return bytes;
}

using Extended = E2e;

// Faults guarded: memory input or output that differs from the file forms
// (a lost byte, another identifier, the picture read differently).
TEST_F(Extended, MemoryInAndOutEqualFileInAndOut) {
  const std::string in = ghostscript_pdf(dir(), "in", three_pages());
  const std::string pdf = testpdf::read_file(in);
  const std::string png = black_png(), png_path = dir() + "/black.png";
  testpdf::write_file(png_path, png);
  for (const int kind : {FOLIMARK_KIND_TEXT, FOLIMARK_KIND_PICTURE}) {
    folimark_options o = text_options(in, "PAID\nin full");
    o.kind = kind;
    o.anchor = FOLIMARK_ANCHOR_TOP_RIGHT;
    o.pages = "1,z";
    o.picture_path = png_path.c_str();
    const std::string file_out = dir() + "/out.pdf";
    o.output_path = file_out.c_str();
    ASSERT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_OK) << folimark_error_message();
    const std::string expected = testpdf::read_file(file_out);
    EXPECT_EQ(qpdf_problems(file_out), "");
    o.output_path = nullptr;
    EXPECT_EQ(stamp_to_memory(o), expected) << "file in, memory out";
    o.input_path = nullptr;
    o.input_data = reinterpret_cast<const unsigned char *>(pdf.data());
    o.input_size = pdf.size();
    if (kind == FOLIMARK_KIND_PICTURE) {
      o.picture_path = nullptr;
      o.picture_data = reinterpret_cast<const unsigned char *>(png.data());
      o.picture_size = png.size();
    }
    EXPECT_EQ(stamp_to_memory(o), expected) << "memory in, memory out";
  }
}

// Faults guarded: a failure without its code, a code without a message, a
// value clamped instead of refused, output left behind after a failure.
TEST_F(Extended, EveryFailureHasItsCode) {
  const std::string in = write_doc(dir(), "in", testpdf::simple_document({"Words"}));
  const std::string encrypted = dir() + "/encrypted.pdf";
  must_run({tools().qpdf, "--encrypt", "user", "owner", "256", "--", in, encrypted});
  const std::string out = dir() + "/out.pdf";
  const std::string not_pdf = "plain words, no objects";
  const std::string gif = "GIF89a, a format the library does not read";
  const std::string broken_png = black_png().substr(0, 60);
  using Edit = std::function<void(folimark_options &)>;
  const struct Case {
    const char *name;
    Edit edit;
    int code;
    const char *message;  // a part of the message
  } cases[] = {
      {"size", [](folimark_options &o) { o.size = 8; }, FOLIMARK_ERROR_ARGUMENT, "options.size"},
      {"kind", [](folimark_options &o) { o.kind = 3; }, FOLIMARK_ERROR_ARGUMENT, "options.kind"},
      {"no text", [](folimark_options &o) { o.text = nullptr; }, FOLIMARK_ERROR_ARGUMENT, "options.text"},
      {"font size", [](folimark_options &o) { o.font_size = 0; }, FOLIMARK_ERROR_ARGUMENT, "options.font_size"},
      {"opacity", [](folimark_options &o) { o.opacity = 1.5; }, FOLIMARK_ERROR_ARGUMENT, "options.opacity"},
      {"red", [](folimark_options &o) { o.red = 256; }, FOLIMARK_ERROR_ARGUMENT, "options.red"},
      {"anchor", [](folimark_options &o) { o.anchor = 9; }, FOLIMARK_ERROR_ARGUMENT, "options.anchor"},
      {"x", [](folimark_options &o) { o.x = 1.0 / 0.0; }, FOLIMARK_ERROR_ARGUMENT, "options.x"},
      {"two inputs", [&](folimark_options &o) { o.input_data = reinterpret_cast<const unsigned char *>(not_pdf.data()); o.input_size = 3; },
       FOLIMARK_ERROR_ARGUMENT, "both set"},
      {"scale", [](folimark_options &o) { o.kind = FOLIMARK_KIND_PICTURE; o.scale = -1; }, FOLIMARK_ERROR_ARGUMENT, "options.scale"},
      {"no picture", [](folimark_options &o) { o.kind = FOLIMARK_KIND_PICTURE; }, FOLIMARK_ERROR_ARGUMENT, "options.picture_path"},
      {"page past the end", [](folimark_options &o) { o.pages = "2"; }, FOLIMARK_ERROR_ARGUMENT, "in.pdf: page 2 is past the end"},
      {"bad selection", [](folimark_options &o) { o.pages = "one"; }, FOLIMARK_ERROR_ARGUMENT, "bad page selection item"},
      {"missing input", [&](folimark_options &o) { o.input_path = "absent.pdf"; }, FOLIMARK_ERROR_READ, "cannot open absent.pdf"},
      {"directory", [&](folimark_options &o) { o.input_path = dir().c_str(); }, FOLIMARK_ERROR_READ, "Is a directory"},
      {"missing picture", [](folimark_options &o) { o.kind = FOLIMARK_KIND_PICTURE; o.picture_path = "absent.png"; },
       FOLIMARK_ERROR_READ, "cannot open image file absent.png"},
      {"not a PDF", [&](folimark_options &o) { o.input_path = nullptr; o.input_data = reinterpret_cast<const unsigned char *>(not_pdf.data()); o.input_size = not_pdf.size(); },
       FOLIMARK_ERROR_DAMAGED, "no PDF objects found in the document in memory"},
      {"broken PNG", [&](folimark_options &o) { o.kind = FOLIMARK_KIND_PICTURE; o.picture_data = reinterpret_cast<const unsigned char *>(broken_png.data()); o.picture_size = broken_png.size(); },
       FOLIMARK_ERROR_DAMAGED, "PNG decode error"},
      {"encrypted", [&](folimark_options &o) { o.input_path = encrypted.c_str(); }, FOLIMARK_ERROR_PASSWORD, "a password is needed to open"},
      {"GIF", [&](folimark_options &o) { o.kind = FOLIMARK_KIND_PICTURE; o.picture_data = reinterpret_cast<const unsigned char *>(gif.data()); o.picture_size = gif.size(); },
       FOLIMARK_ERROR_UNSUPPORTED, "must be PNG or JPEG"},
      {"unwritable", [&](folimark_options &o) { o.output_path = "no/such/dir/out.pdf"; }, FOLIMARK_ERROR_WRITE, "cannot open output file"},
  };
  for (const Case &c : cases) {
    folimark_options o = text_options(in, "PAID");
    o.output_path = out.c_str();
    c.edit(o);
    EXPECT_EQ(folimark_stamp(&o, nullptr, nullptr), c.code) << c.name;
    EXPECT_EQ(folimark_error_code(), c.code) << c.name;
    EXPECT_NE(std::string(folimark_error_message()).find(c.message), std::string::npos)
        << c.name << ": " << folimark_error_message();
    EXPECT_FALSE(fs::exists(out)) << c.name;
  }
  // A success empties this thread's record; the classic buffer is its own.
  folimark_options o = text_options(in, "PAID");
  o.output_path = out.c_str();
  ASSERT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_OK);
  EXPECT_EQ(folimark_error_code(), FOLIMARK_OK);
  EXPECT_STREQ(folimark_error_message(), "");
  EXPECT_EQ(folimark_stamp(nullptr, nullptr, nullptr), FOLIMARK_ERROR_ARGUMENT);
  o.output_path = nullptr;
  EXPECT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_ERROR_ARGUMENT) << "no place for the bytes";
  EXPECT_EQ(folimark_options_init(&o, 8), FOLIMARK_ERROR_ARGUMENT);
}

// Faults guarded: shared state between calls on different threads (a
// data race, one thread's error in another, outputs that differ).
TEST_F(Extended, ThreadsStampAtOnceAsTheyWouldAlone) {
  constexpr int kThreads = 4;
  const std::string png = black_png();
  std::vector<std::string> inputs, alone(kThreads), together(kThreads);
  for (int t = 0; t < kThreads; ++t)
    inputs.push_back(ghostscript_pdf(dir(), "in" + std::to_string(t),
                                     {{612, 792, {"Thread " + std::to_string(t)}, ""}}));
  // Odd threads stamp a picture from memory, even ones a text, and each
  // also makes one call that fails, whose message must be its own.
  const auto job = [&](int t, std::string &result, std::string &error) {
    folimark_options o = text_options(inputs[static_cast<size_t>(t)], "CONFIDENTIAL");
    o.anchor = FOLIMARK_ANCHOR_CENTER;
    o.rotation = 45;
    if (t % 2 == 1) {
      o.kind = FOLIMARK_KIND_PICTURE;
      o.picture_data = reinterpret_cast<const unsigned char *>(png.data());
      o.picture_size = png.size();
    }
    result = stamp_to_memory(o);
    const std::string missing = "absent-" + std::to_string(t) + ".pdf";
    const std::string never = dir() + "/never.pdf";
    o.input_path = missing.c_str();
    o.output_path = never.c_str();
    folimark_stamp(&o, nullptr, nullptr);
    error = folimark_error_message();
  };
  std::vector<std::string> errors(kThreads);
  for (int t = 0; t < kThreads; ++t) job(t, alone[static_cast<size_t>(t)], errors[static_cast<size_t>(t)]);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back(job, t, std::ref(together[static_cast<size_t>(t)]),
                         std::ref(errors[static_cast<size_t>(t)]));
  for (std::thread &th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_FALSE(alone[static_cast<size_t>(t)].empty());
    EXPECT_EQ(together[static_cast<size_t>(t)], alone[static_cast<size_t>(t)]) << t;
    EXPECT_EQ(errors[static_cast<size_t>(t)].rfind("cannot open absent-" + std::to_string(t) + ".pdf", 0), 0u)
        << errors[static_cast<size_t>(t)];
  }
}

// Faults guarded: a stamp under the content drawn over it, or one over it
// hidden; a picture's size in points not kept, or its aspect lost.
TEST_F(Extended, LayerAndPictureSize) {
  // A page that paints itself white all over, then shows a word.
  const std::string painted = testpdf::build(
      {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
       {2, 0, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
       {3, 0, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 400] /Contents 4 0 R >>"},
       {4, 0, testpdf::stream("", "1 1 1 rg 0 0 400 400 re f")}},
      1);
  const std::string in = write_doc(dir(), "painted", painted);
  const std::string png = black_png();
  const struct Case {
    const char *name;
    int layer;
    double scale, width, height;
    Rect drawn;  // what the picture covers, bottom-left at (100, 100)
  } cases[] = {
      {"over, scale 2", FOLIMARK_LAYER_OVER, 2, 0, 0, {100, 100, 180, 140}},
      {"over, width", FOLIMARK_LAYER_OVER, 1, 200, 0, {100, 100, 300, 200}},
      {"over, height", FOLIMARK_LAYER_OVER, 1, 0, 50, {100, 100, 200, 150}},
      {"over, both", FOLIMARK_LAYER_OVER, 1, 120, 30, {100, 100, 220, 130}},
      {"under", FOLIMARK_LAYER_UNDER, 1, 200, 0, {100, 100, 300, 200}},
  };
  for (const Case &c : cases) {
    folimark_options o = text_options(in, nullptr);
    o.kind = FOLIMARK_KIND_PICTURE;
    o.picture_data = reinterpret_cast<const unsigned char *>(png.data());
    o.picture_size = png.size();
    o.x = o.y = 100;
    o.layer = c.layer;
    o.scale = c.scale;
    o.width = c.width;
    o.height = c.height;
    const std::string out = dir() + "/out.pdf";
    o.output_path = out.c_str();
    ASSERT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_OK) << folimark_error_message();
    EXPECT_EQ(qpdf_problems(out), "") << c.name;
    const Raster r = render(out, 1, 72, true);
    const Rect page{0, 0, 400, 400}, d = c.drawn;
    const double inside = share(r, page, {d.x0 + 2, d.y0 + 2, d.x1 - 2, d.y1 - 2}, dark);
    const double beyond = share(r, page, {d.x0, d.y1 + 2, d.x1, d.y1 + 8}, dark) +
                          share(r, page, {d.x1 + 2, d.y0, d.x1 + 8, d.y1}, dark);
    if (c.layer == FOLIMARK_LAYER_UNDER) {
      EXPECT_EQ(inside, 0) << c.name << ": the page's white paint covers it";
    } else {
      EXPECT_GT(inside, 0.99) << c.name;
      EXPECT_EQ(beyond, 0) << c.name;
    }
  }
}

// Faults guarded: literal words of a date picture taken for tokens
// ("COMMENTS" shown as "CO12ENTS"), a doubled quote lost.
TEST_F(Extended, DatePicturesQuoteLiteralWords) {
  const std::string in = write_doc(dir(), "in", testpdf::simple_document({"Words"}));
  const std::string out = dir() + "/out.pdf";
  folimark_options o = text_options(in, "'COMMENTS' YYYY 'It''s'");
  o.kind = FOLIMARK_KIND_DATETIME;
  o.output_path = out.c_str();
  const std::time_t now = std::time(nullptr);
  ASSERT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_OK) << folimark_error_message();
  std::tm local{};
  localtime_r(&now, &local);
  const std::string text = page_text(out, 1);
  EXPECT_NE(text.find("COMMENTS " + std::to_string(1900 + local.tm_year) + " It's"),
            std::string::npos)
      << text;
}

TEST(ExtendedVersion, MatchesTheBuild) {
  int major = -1, minor = -1, patch = -1;
  const std::string text = folimark_version(&major, &minor, &patch);
  EXPECT_EQ(text, FOLIMARK_EXPECTED_VERSION);
  EXPECT_EQ(text, std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch));
  EXPECT_STREQ(folimark_version(nullptr, nullptr, nullptr), FOLIMARK_EXPECTED_VERSION);
}

}  // namespace

namespace {

// Faults guarded: "centred" computed from one page's size for all, from the
// unturned page, or from the media box's origin instead of the visible box.
TEST_F(Extended, CentredOnEveryPageOfMixedSizes) {
  const std::string doc = testpdf::build(
      {{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
       {2, 0, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>"},
       {3, 0, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"},
       {4, 0, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 842 595] /Rotate 90 >>"},
       {5, 0, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 500 500] /CropBox [100 200 400 400] >>"}},
      1);
  const std::string in = write_doc(dir(), "mixed", doc);
  const std::string out = dir() + "/out.pdf";
  folimark_options o = text_options(in, "CENTRE");
  o.anchor = FOLIMARK_ANCHOR_CENTER;
  o.output_path = out.c_str();
  ASSERT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_OK) << folimark_error_message();
  // The centre of each visible box as pdftotext measures it: on the page as
  // displayed, from the media box's top-left corner, y downwards.
  const double centre[3][2] = {{306, 396}, {297.5, 421}, {250, 200}};
  for (int page = 1; page <= 3; ++page) {
    const std::vector<WordBox> words = word_boxes(out, page);
    ASSERT_EQ(words.size(), 1u) << page;
    const WordBox &w = words[0];
    EXPECT_NEAR((w.x_min + w.x_max) / 2, centre[page - 1][0], 1.0) << page;
    EXPECT_NEAR((w.y_min + w.y_max) / 2, centre[page - 1][1], 1.5) << page;
    EXPECT_GT(w.x_max - w.x_min, 2 * (w.y_max - w.y_min)) << page << ": upright for the reader";
  }
}

}  // namespace

namespace {

// Faults guarded: a selection that selects no page taken for "every page".
TEST_F(Extended, SelectionOfNoPageStampsNone) {
  const std::string in = write_doc(dir(), "in", testpdf::simple_document({"Only page"}));
  const std::string out = dir() + "/out.pdf";
  folimark_options o = text_options(in, "PAID");
  o.pages = "even";
  o.output_path = out.c_str();
  ASSERT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_OK) << folimark_error_message();
  EXPECT_EQ(page_text(out, 1).find("PAID"), std::string::npos);
  EXPECT_EQ(qpdf_problems(out), "");
}

}  // namespace
