// Picture and date/time stamps end to end through the public functions.
// Pictures are written at run time by libpng and libjpeg-turbo; outputs are
// judged by qpdf --check, by qpdf's decoded view of the objects, by
// pdftotext and by pdftoppm's rendering of the page.
#include <folimark.h>
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/e2e_oracles.h"
#include "support/jpeg_maker.h"
#include "support/pdf_builder.h"
#include "support/png_maker.h"

namespace {

using namespace e2e;

// A picture in 8-bit RGBA, rows from the top.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
};

Picture solid(int width, int height, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
  Picture p{width, height, {}};
  for (int i = 0; i < width * height; ++i) p.rgba.insert(p.rgba.end(), {r, g, b, a});
  return p;
}

// Writes the picture as a PNG with libpng in the given format (PNG_FORMAT_RGB,
// PNG_FORMAT_RGBA, PNG_FORMAT_GRAY, or with PNG_FORMAT_FLAG_COLORMAP a palette
// image whose transparent entries become a tRNS chunk).
std::string write_png(const std::string &path, const Picture &p, png_uint_32 format) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(p.width);
  image.height = static_cast<png_uint_32>(p.height);
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> converted;
  const void *pixels = p.rgba.data();
  if ((format & PNG_FORMAT_FLAG_COLORMAP) != 0) {
    // libpng builds the palette itself from RGBA input.
    image.format = PNG_FORMAT_RGBA_COLORMAP;
    std::vector<uint8_t> map;
    for (size_t i = 0; i < p.rgba.size(); i += 4) {
      size_t index = 0;
      while (index * 4 < map.size() && !std::equal(&p.rgba[i], &p.rgba[i] + 4, &map[index * 4])) ++index;
      if (index * 4 == map.size()) map.insert(map.end(), &p.rgba[i], &p.rgba[i] + 4);
      converted.push_back(static_cast<uint8_t>(index));
    }
    image.colormap_entries = static_cast<png_uint_32>(map.size() / 4);
    if (!png_image_write_to_file(&image, path.c_str(), 0, converted.data(), 0, map.data()))
      throw std::runtime_error(std::string("libpng: ") + image.message);
    return path;
  }
  if (format == PNG_FORMAT_RGB || format == PNG_FORMAT_GRAY) {
    for (size_t i = 0; i < p.rgba.size(); i += 4) {
      if (format == PNG_FORMAT_GRAY) {
        converted.push_back(p.rgba[i]);
      } else {
        converted.insert(converted.end(), &p.rgba[i], &p.rgba[i] + 3);
      }
    }
    pixels = converted.data();
    image.format = format;
  }
  if (!png_image_write_to_file(&image, path.c_str(), 0, pixels, 0, nullptr))
    throw std::runtime_error(std::string("libpng: ") + image.message);
  return path;
}

std::string write_jpeg(const std::string &path, const testjpeg::MakeOptions &options) {
  const std::vector<uint8_t> bytes = testjpeg::make_jpeg(options);
  testpdf::write_file(path, std::string(bytes.begin(), bytes.end()));
  return path;
}

// The page the pictures land on: one Letter page with a line of text.
std::string letter_page(const std::string &dir) {
  return ghostscript_pdf(dir, "letter", {{612, 792, {"Alpha bravo charlie"}, ""}});
}

struct Bounds {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;  // pixels, inclusive
  long count = 0;
};

// The pages' own text stands above this height; its anti-aliased edges
// hold grays that must not be taken for a picture.
constexpr int kBelowPageText = 650;

// Returns where the pixels close to the colour are on a 72 dpi rendering
// (one pixel per point) below the page's text, measured from the page's
// lower-left corner.
Bounds find_colour(const Raster &r, int red, int green, int blue, int tolerance = 24) {
  Bounds b;
  for (int y = std::max(0, r.height - kBelowPageText); y < r.height; ++y) {
    for (int x = 0; x < r.width; ++x) {
      const unsigned char *p = r.at(x, y);
      if (std::abs(p[0] - red) > tolerance || std::abs(p[1] - green) > tolerance ||
          std::abs(p[2] - blue) > tolerance)
        continue;
      const int up = r.height - 1 - y;
      b.x0 = std::min(b.x0, x);
      b.x1 = std::max(b.x1, x);
      b.y0 = std::min(b.y0, up);
      b.y1 = std::max(b.y1, up);
      ++b.count;
    }
  }
  return b;
}

// Checks that the picture fills exactly the rectangle (x, y, w, h) in points,
// give or take a pixel of rounding at each edge.
void expect_area(const Bounds &b, double x, double y, double w, double h) {
  EXPECT_NEAR(b.x0, x, 1.5);
  EXPECT_NEAR(b.y0, y, 1.5);
  EXPECT_NEAR(b.x1 + 1, x + w, 1.5);
  EXPECT_NEAR(b.y1 + 1, y + h, 1.5);
  EXPECT_GE(static_cast<double>(b.count), (w - 2) * (h - 2));
}

using PictureStamp = E2e;

TEST_F(PictureStamp, OpaquePngIsDrawnAtItsPlaceWithoutSoftMask) {
  const std::string in = letter_page(dir());
  const std::string png = write_png(dir() + "/red.png", solid(40, 20, 220, 20, 20), PNG_FORMAT_RGB);
  const std::string out = dir() + "/out.pdf";
  ASSERT_EQ(folimark_image(in.c_str(), out.c_str(), png.c_str(), 100, 200, 2, 1), 1)
      << folimark_last_error();
  EXPECT_STREQ(folimark_last_error(), "");
  EXPECT_EQ(qpdf_problems(out), "");
  const std::string objects = qdf_text(out);
  EXPECT_NE(objects.find("/Subtype /Image"), std::string::npos);
  EXPECT_EQ(objects.find("/SMask"), std::string::npos);
  EXPECT_NE(page_text(out, 1).find("Alpha bravo charlie"), std::string::npos);
  expect_area(find_colour(render(out, 1, 72, false), 220, 20, 20), 100, 200, 80, 40);
}

TEST_F(PictureStamp, OneTranslucentPixelBringsASoftMask) {
  const std::string in = letter_page(dir());
  Picture p = solid(30, 30, 20, 20, 220);
  const std::string opaque = write_png(dir() + "/opaque.png", p, PNG_FORMAT_RGBA);
  p.rgba[3] = 254;
  const std::string translucent = write_png(dir() + "/translucent.png", p, PNG_FORMAT_RGBA);
  const std::string out_opaque = dir() + "/opaque.pdf", out = dir() + "/out.pdf";
  ASSERT_EQ(folimark_image(in.c_str(), out_opaque.c_str(), opaque.c_str(), 50, 50, 1, 1), 1);
  ASSERT_EQ(folimark_image(in.c_str(), out.c_str(), translucent.c_str(), 50, 50, 1, 1), 1)
      << folimark_last_error();
  EXPECT_EQ(qdf_text(out_opaque).find("/SMask"), std::string::npos);
  EXPECT_EQ(qpdf_problems(out), "");
  EXPECT_NE(qdf_text(out).find("/SMask"), std::string::npos);
  expect_area(find_colour(render(out, 1, 72, false), 20, 20, 220), 50, 50, 30, 30);
}

TEST_F(PictureStamp, TransparentPaletteEntriesShowThePageThrough) {
  const std::string in = letter_page(dir());
  // Left half green, right half fully transparent.
  Picture p = solid(40, 40, 30, 200, 30);
  for (int y = 0; y < 40; ++y)
    for (int x = 20; x < 40; ++x) p.rgba[(static_cast<size_t>(y) * 40 + x) * 4 + 3] = 0;
  const std::string png = write_png(dir() + "/palette.png", p, PNG_FORMAT_FLAG_COLORMAP);
  ASSERT_NE(testpdf::read_file(png).find("tRNS"), std::string::npos);
  ASSERT_NE(testpdf::read_file(png).find("PLTE"), std::string::npos);
  const std::string out = dir() + "/out.pdf";
  ASSERT_EQ(folimark_image(in.c_str(), out.c_str(), png.c_str(), 300, 400, 1, 1), 1)
      << folimark_last_error();
  EXPECT_EQ(qpdf_problems(out), "");
  EXPECT_NE(qdf_text(out).find("/SMask"), std::string::npos);
  const Raster r = render(out, 1, 72, false);
  expect_area(find_colour(r, 30, 200, 30), 300, 400, 20, 40);
  // The transparent half shows the white page.
  EXPECT_GT(share(r, {0, 0, 612, 792}, {322, 402, 338, 438},
                  [](const unsigned char *px) { return px[0] > 240 && px[1] > 240 && px[2] > 240; }),
            0.95);
}

TEST_F(PictureStamp, JpegIsEmbeddedUnchangedWithItsColourSpace) {
  const std::string in = letter_page(dir());
  struct Case {
    testjpeg::Colour colour;
    const char *space;
  } cases[] = {{testjpeg::Colour::gray, "/DeviceGray"}, {testjpeg::Colour::rgb, "/DeviceRGB"}};
  for (const Case &c : cases) {
    testjpeg::MakeOptions options;
    options.width = 64;
    options.height = 48;
    options.colour = c.colour;
    options.fill = {200, 120, 40};
    const std::string jpg = write_jpeg(dir() + "/pic.jpg", options);
    const std::string out = dir() + "/out.pdf";
    ASSERT_EQ(folimark_image(in.c_str(), out.c_str(), jpg.c_str(), 72, 144, 0.5, 1), 1)
        << folimark_last_error();
    EXPECT_EQ(qpdf_problems(out), "");
    const std::string raw = testpdf::read_file(out);
    const std::string jpeg_bytes = testpdf::read_file(jpg);
    EXPECT_NE(raw.find(jpeg_bytes), std::string::npos) << "the JPEG is not embedded byte for byte";
    const std::string objects =
        must_run({tools().qpdf, "--qdf", "--object-streams=disable", "--decode-level=none", out, "-"}).out;
    EXPECT_NE(objects.find("/DCTDecode"), std::string::npos);
    EXPECT_NE(objects.find(std::string("/ColorSpace ") + c.space), std::string::npos) << c.space;
    const Raster r = render(out, 1, 72, false);
    const Bounds b = c.colour == testjpeg::Colour::gray ? find_colour(r, 200, 200, 200)
                                                        : find_colour(r, 200, 120, 40);
    expect_area(b, 72, 144, 32, 24);
  }
}

// --- JPEG colour spaces, judged by how renderers show them ------------------

// Six patches of 16 x 16 pixels, three across and two down, each of one
// colour given as the PostScript operator that paints it: gray levels,
// RGB or CMYK ink amounts, 0 to 255.
constexpr int kPatch = 16;
using PatchColour = std::array<int, 4>;

struct ColourKind {
  const char *name;
  testjpeg::Colour colour;
  bool adobe_marker = true;  // for CMYK: libjpeg writes an Adobe segment
  bool ycck = false;
  const char *space;         // the colour space the document must declare
  std::array<PatchColour, 6> patches;
};

const ColourKind kColourKinds[] = {
    {"gray", testjpeg::Colour::gray, true, false, "/DeviceGray",
     {{{0}, {255}, {40}, {100}, {160}, {220}}}},
    {"RGB", testjpeg::Colour::rgb, true, false, "/DeviceRGB",
     {{{255, 255, 255}, {0, 0, 0}, {230, 30, 30}, {30, 200, 40}, {20, 40, 210}, {200, 150, 60}}}},
    {"plain CMYK", testjpeg::Colour::cmyk, false, false, "/DeviceCMYK",
     {{{0, 0, 0, 0}, {0, 0, 0, 255}, {255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {40, 120, 200, 30}}}},
    {"Adobe CMYK", testjpeg::Colour::cmyk, true, false, "/DeviceCMYK",
     {{{0, 0, 0, 0}, {0, 0, 0, 255}, {255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {40, 120, 200, 30}}}},
    {"Adobe YCCK", testjpeg::Colour::cmyk, true, true, "/DeviceCMYK",
     {{{0, 0, 0, 0}, {0, 0, 0, 255}, {255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {40, 120, 200, 30}}}},
};

size_t channels_of(testjpeg::Colour c) {
  return c == testjpeg::Colour::gray ? 1 : c == testjpeg::Colour::rgb ? 3 : 4;
}

// The JPEG of the kind's patches. Adobe files store ink amounts inverted, as
// Adobe's own programs write them.
std::vector<uint8_t> patch_jpeg(const ColourKind &kind) {
  testjpeg::MakeOptions o;
  o.width = 3 * kPatch;
  o.height = 2 * kPatch;
  o.colour = kind.colour;
  o.quality = 100;
  o.adobe_marker = kind.adobe_marker;
  o.store_ycck = kind.ycck;
  const size_t n = channels_of(kind.colour);
  const bool inverted = kind.colour == testjpeg::Colour::cmyk && kind.adobe_marker;
  for (int y = 0; y < o.height; ++y)
    for (int x = 0; x < o.width; ++x)
      for (size_t c = 0; c < n; ++c) {
        const int v = kind.patches[static_cast<size_t>(y / kPatch * 3 + x / kPatch)][c];
        o.pixels.push_back(static_cast<uint8_t>(inverted ? 255 - v : v));
      }
  return testjpeg::make_jpeg(o);
}

// A Letter page that Ghostscript paints with the same patches, each 32 pt
// wide, the block's lower-left corner at (x, y).
std::string reference_patches(const std::string &dir, const ColourKind &kind, int x, int y) {
  const char *op = kind.colour == testjpeg::Colour::gray  ? "setgray"
                   : kind.colour == testjpeg::Colour::rgb ? "setrgbcolor"
                                                          : "setcmykcolor";
  std::string ps = "%!PS\n<< /PageSize [612 792] >> setpagedevice\n";
  for (size_t i = 0; i < 6; ++i) {
    for (size_t c = 0; c < channels_of(kind.colour); ++c)
      ps += std::to_string(kind.patches[i][c]) + " 255 div ";
    const int px = x + static_cast<int>(i % 3) * 2 * kPatch;
    const int py = y + (1 - static_cast<int>(i / 3)) * 2 * kPatch;
    ps += std::string(op) + " " + std::to_string(px) + " " + std::to_string(py) + " 32 32 rectfill\n";
  }
  ps += "showpage\n";
  return ghostscript_pdf_of(dir, "reference", ps);
}

// The mean colour of the 16 x 16 points at the middle of patch i, on a 72
// dpi rendering of a Letter page.
std::array<double, 3> patch_colour(const Raster &r, int x, int y, size_t i) {
  const int cx = x + static_cast<int>(i % 3) * 2 * kPatch + kPatch;
  const int cy = y + (1 - static_cast<int>(i / 3)) * 2 * kPatch + kPatch;
  std::array<double, 3> sum{};
  for (int v = cy - 8; v < cy + 8; ++v)
    for (int u = cx - 8; u < cx + 8; ++u)
      for (size_t c = 0; c < 3; ++c) sum[c] += r.at(u, r.height - 1 - v)[c];
  for (double &s : sum) s /= 256;
  return sum;
}

// Stamps each kind's patches as a JPEG at 2 pt per pixel and checks that the
// renderer shows every patch in the colour it shows Ghostscript's painting
// of the same colour in.
void expect_jpeg_colours(const std::string &dir, const std::function<Raster(const std::string &)> &draw) {
  const int x = 100, y = 200;
  const std::string page = ghostscript_pdf(dir, "blank", {{612, 792, {}, ""}});
  for (const ColourKind &kind : kColourKinds) {
    SCOPED_TRACE(kind.name);
    const std::vector<uint8_t> bytes = patch_jpeg(kind);
    const std::string jpg = dir + "/patches.jpg", out = dir + "/out.pdf";
    testpdf::write_file(jpg, std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(folimark_image(page.c_str(), out.c_str(), jpg.c_str(), x, y, 2, 1), 1)
        << folimark_last_error();
    EXPECT_EQ(qpdf_problems(out), "");
    EXPECT_NE(qdf_text(out).find(std::string("/ColorSpace ") + kind.space), std::string::npos);
    const Raster ours = draw(out), reference = draw(reference_patches(dir, kind, x, y));
    for (size_t i = 0; i < 6; ++i) {
      const std::array<double, 3> got = patch_colour(ours, x, y, i), want = patch_colour(reference, x, y, i);
      for (size_t c = 0; c < 3; ++c)
        EXPECT_NEAR(got[c], want[c], 8) << "patch " << i << " channel " << c;
    }
  }
}

TEST_F(PictureStamp, JpegColoursAsPopplerShowsThem) {
  expect_jpeg_colours(dir(), [](const std::string &pdf) { return render(pdf, 1, 72, false); });
}

TEST_F(PictureStamp, JpegColoursAsMupdfShowsThem) {
  need_tool(tools().mutool, "mutool (MuPDF)");
  if (IsSkipped() || HasFatalFailure()) return;
  expect_jpeg_colours(dir(), [](const std::string &pdf) { return render_with_mutool(pdf, 1, 72); });
}

// A JPEG of two components has no colour space in a document: it is refused.
TEST_F(PictureStamp, JpegOfTwoComponentsIsRefused) {
  const std::string in = letter_page(dir());
  const std::string jpg = dir() + "/two.jpg", out = dir() + "/out.pdf";
  // Start of image, then a baseline frame of 2 x 2 pixels and 2 components.
  testpdf::write_file(jpg, std::string("\xFF\xD8\xFF\xC0\x00\x0E\x08\x00\x02\x00\x02\x02"
                                       "\x01\x11\x00\x02\x11\x00\xFF\xD9", 20));
  EXPECT_EQ(folimark_image(in.c_str(), out.c_str(), jpg.c_str(), 0, 0, 1, 1), 0);
  EXPECT_EQ(std::string(folimark_last_error()), "JPEG of 2 components not supported: " + jpg);
  EXPECT_FALSE(fs::exists(out));
}

// --- a picture's size from the resolution it states ---------------------------

// The x-ppi and y-ppi that pdfimages -list gives the first image of page 1:
// its pixels over its size on the page, in inches.
std::pair<int, int> listed_ppi(const std::string &pdf) {
  const std::string list = must_run({tools().pdfimages, "-list", "-f", "1", "-l", "1", pdf}).out;
  std::istringstream lines(list);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream row(line);
    std::vector<std::string> cells;
    for (std::string cell; row >> cell;) cells.push_back(cell);
    // page num type width height color comp bpc enc interp object ID x-ppi y-ppi size ratio
    if (cells.size() >= 14 && cells[2] == "image") return {std::stoi(cells[12]), std::stoi(cells[13])};
  }
  throw std::runtime_error("pdfimages lists no image:\n" + list);
}

// An 80 x 40 picture as PNG (with a pHYs chunk when density is given) or as
// JPEG (with the JFIF density given; unit -1 keeps libjpeg's 1:1 aspect).
std::vector<uint8_t> png_of(std::optional<testpng::Density> density) {
  testpng::Image img;
  img.width = 80;
  img.height = 40;
  img.color_type = 2;
  img.rows.assign(img.row_bytes() * img.height, 90);
  testpng::WriteOptions opt;
  opt.density = density;
  return testpng::write_with_libpng(img, opt);
}

std::vector<uint8_t> jpeg_of(int unit, int x, int y) {
  testjpeg::MakeOptions o;
  o.width = 80;
  o.height = 40;
  o.fill = {90, 90, 90};
  o.density_unit = unit;
  o.x_density = x;
  o.y_density = y;
  return testjpeg::make_jpeg(o);
}

struct ResolutionCase {
  const char *name;
  std::vector<uint8_t> picture;
  int x_ppi, y_ppi;  // as stamped through the extended interface
};

std::vector<ResolutionCase> resolution_cases() {
  return {
      {"PNG without pHYs", png_of(std::nullopt), 72, 72},
      // 5669 pixels per metre is 144 dpi, 2835 is 72 and 11811 is 300.
      {"PNG 144 dpi", png_of(testpng::Density{5669, 5669, 1}), 144, 144},
      {"PNG 300 x 72 dpi", png_of(testpng::Density{11811, 2835, 1}), 300, 72},
      {"PNG aspect ratio only", png_of(testpng::Density{2, 1, 0}), 72, 72},
      {"PNG density 0", png_of(testpng::Density{0, 0, 1}), 72, 72},
      {"JPEG 300 dpi", jpeg_of(1, 300, 300), 300, 300},
      {"JPEG 300 x 150 dpi", jpeg_of(1, 300, 150), 300, 150},
      {"JPEG 118 dots per cm", jpeg_of(2, 118, 118), 300, 300},
      {"JPEG aspect ratio only", jpeg_of(0, 3, 3), 72, 72},
      {"JPEG density 0", jpeg_of(1, 0, 0), 72, 72},
      {"JPEG of libjpeg's defaults", jpeg_of(-1, 0, 0), 72, 72},
  };
}

// The size asked of a picture; a scale of 0 keeps the options' default.
struct AskedSize {
  double scale = 0, width = 0, height = 0;
};

// Stamps the picture onto in through the extended interface, with the
// defaults but for the size asked, and returns the output's path.
std::string stamp_extended(const std::string &in, const std::string &out,
                           const std::vector<uint8_t> &picture, const AskedSize &size) {
  folimark_options o;
  folimark_options_init(&o, sizeof o);
  o.kind = FOLIMARK_KIND_PICTURE;
  o.input_path = in.c_str();
  o.output_path = out.c_str();
  o.picture_data = picture.data();
  o.picture_size = picture.size();
  if (size.scale != 0) o.scale = size.scale;
  o.width = size.width;
  o.height = size.height;
  EXPECT_EQ(folimark_stamp(&o, nullptr, nullptr), FOLIMARK_OK) << folimark_error_message();
  return out;
}

// Through the extended interface with the default scale (0) a picture is
// as large as its resolution says; the classic export keeps 1 pt per pixel
// whatever the picture states, at its scale 1 and 0 alike.
TEST_F(PictureStamp, SizeFromTheStatedResolution) {
  need_tool(tools().pdfimages, "pdfimages");
  if (IsSkipped() || HasFatalFailure()) return;
  const std::string in = letter_page(dir());
  const std::string picture = dir() + "/picture", out = dir() + "/out.pdf";
  for (const ResolutionCase &c : resolution_cases()) {
    SCOPED_TRACE(c.name);
    stamp_extended(in, out, c.picture, {});
    EXPECT_EQ(qpdf_problems(out), "");
    EXPECT_EQ(listed_ppi(out), std::make_pair(c.x_ppi, c.y_ppi));
    testpdf::write_file(picture, std::string(c.picture.begin(), c.picture.end()));
    for (const float scale : {1.0f, 0.0f}) {
      ASSERT_EQ(folimark_image(in.c_str(), out.c_str(), picture.c_str(), 0, 0, scale, 1), 1);
      EXPECT_EQ(listed_ppi(out), std::make_pair(72, 72)) << "classic, scale " << scale;
    }
  }
}

// A scale, width or height given wins over the resolution; one of width and
// height alone keeps the shape the resolution gives the picture.
TEST_F(PictureStamp, GivenSizeWinsOverTheStatedResolution) {
  need_tool(tools().pdfimages, "pdfimages");
  if (IsSkipped() || HasFatalFailure()) return;
  const std::string in = letter_page(dir());
  // 80 x 40 pixels at 144 x 72 dpi: 40 x 40 points.
  const std::vector<uint8_t> png = png_of(testpng::Density{5669, 2835, 1});
  const struct {
    const char *name;
    AskedSize size;
    int x_ppi, y_ppi;
  } cases[] = {
      {"scale 2", {2, 0, 0}, 36, 36},
      {"width 80 pt", {0, 80, 0}, 72, 36},
      {"height 20 pt", {0, 0, 20}, 288, 144},
      {"both", {0, 40, 10}, 144, 288},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = stamp_extended(in, dir() + "/out.pdf", png, c.size);
    EXPECT_EQ(listed_ppi(out), std::make_pair(c.x_ppi, c.y_ppi));
  }
}

TEST_F(PictureStamp, ScaleAtOrBelowZeroMeansOnePointPerPixel) {
  const std::string in = letter_page(dir());
  const std::string png = write_png(dir() + "/p.png", solid(50, 30, 220, 20, 20), PNG_FORMAT_RGB);
  const struct {
    float scale;
    double width, height;
  } cases[] = {{0, 50, 30}, {-2, 50, 30}, {0.5f, 25, 15}, {3, 150, 90}};
  for (const auto &c : cases) {
    const std::string out = dir() + "/out.pdf";
    ASSERT_EQ(folimark_image(in.c_str(), out.c_str(), png.c_str(), 200, 300, c.scale, 1), 1);
    SCOPED_TRACE("scale " + std::to_string(c.scale));
    expect_area(find_colour(render(out, 1, 72, false), 220, 20, 20), 200, 300, c.width, c.height);
  }
}

TEST_F(PictureStamp, OpacityBlendsWithThePage) {
  const std::string in = letter_page(dir());
  const std::string png = write_png(dir() + "/p.png", solid(40, 40, 0, 0, 0), PNG_FORMAT_RGB);
  const std::string out = dir() + "/out.pdf";
  ASSERT_EQ(folimark_image(in.c_str(), out.c_str(), png.c_str(), 100, 100, 1, 0.5f), 1);
  EXPECT_EQ(qpdf_problems(out), "");
  EXPECT_NE(qdf_text(out).find("/ca 0.5"), std::string::npos);
  // Half black over white: mid gray.
  expect_area(find_colour(render(out, 1, 72, false), 128, 128, 128, 12), 100, 100, 40, 40);
}

TEST_F(PictureStamp, EveryPageGetsThePicture) {
  const std::string in = ghostscript_pdf(dir(), "three", three_pages());
  const std::string png = write_png(dir() + "/p.png", solid(20, 20, 20, 20, 220), PNG_FORMAT_RGB);
  const std::string out = dir() + "/out.pdf";
  ASSERT_EQ(folimark_image(in.c_str(), out.c_str(), png.c_str(), 10, 10, 1, 1), 1);
  EXPECT_EQ(qpdf_problems(out), "");
  for (int page = 1; page <= 3; ++page) {
    SCOPED_TRACE("page " + std::to_string(page));
    expect_area(find_colour(render(out, page, 72, false), 20, 20, 220), 10, 10, 20, 20);
  }
}

// Every picture of the corpus (PngSuite, valid and corrupt, and the JPEG
// files) either stamps a document that qpdf finds sound, with the image's
// size as the decoder or probe sees it, or fails with a message and writes
// nothing.
TEST_F(PictureStamp, CorpusPicturesStampOrFailCleanly) {
  const fs::path root = FOLIMARK_CORPUS_DIR;
  std::vector<fs::path> pictures;
  for (const char *folder : {"png/pngsuite/png", "jpeg"}) {
    if (!fs::is_directory(root / folder)) continue;
    for (const auto &entry : fs::directory_iterator(root / folder)) {
      const std::string ext = entry.path().extension().string();
      if (ext == ".png" || ext == ".jpeg" || ext == ".jpg") pictures.push_back(entry.path());
    }
  }
  if (pictures.empty()) GTEST_SKIP() << "no picture corpus under " << root;
  std::sort(pictures.begin(), pictures.end());
  const std::string in = write_doc(dir(), "in", testpdf::simple_document({"one", "two"}));
  const std::string out = dir() + "/out.pdf";
  int stamped = 0, refused = 0;
  for (const fs::path &picture : pictures) {
    SCOPED_TRACE(picture.filename().string());
    fs::remove(out);
    if (folimark_image(in.c_str(), out.c_str(), picture.c_str(), 20, 30, 1, 0.7f) == 1) {
      ++stamped;
      // JPEGs go in unchanged, damaged ones too: qpdf may fail to decode
      // their data, and nothing else may be wrong.
      const ToolResult check = testtool::run({tools().qpdf, "--check", out});
      const bool jpeg = picture.extension() != ".png";
      std::istringstream lines(check.out + check.err);
      for (std::string line; std::getline(lines, line);) {
        if (line.find("WARNING") == std::string::npos) continue;
        const bool damaged_jpeg = line.find("error decoding stream data") != std::string::npos ||
                                  line.find("re-processed without filtering") != std::string::npos;
        EXPECT_TRUE(jpeg && damaged_jpeg) << line;
      }
      EXPECT_TRUE(check.started && !check.timed_out && check.signal == 0 &&
                  (check.exit_code == 0 || (jpeg && check.exit_code == 3)))
          << check.out << check.err;
      EXPECT_EQ(page_count(out), 2);
    } else {
      ++refused;
      EXPECT_STRNE(folimark_last_error(), "");
      EXPECT_FALSE(fs::exists(out));
    }
  }
  // PngSuite's corrupt files are refused; the others stamp, interlaced ones
  // too, and so do most JPEG files.
  EXPECT_GT(stamped, 180);
  EXPECT_GT(refused, 10);
}

// The date/time stamp shows the same text on every page, taken from one
// reading of the clock during the call.
TEST_F(PictureStamp, DatetimeShowsOneReadingOfTheClockOnEveryPage) {
  std::vector<PsPage> pages;
  for (int i = 0; i < 40; ++i) pages.push_back({612, 792, {"page " + std::to_string(i + 1)}, ""});
  const std::string in = ghostscript_pdf(dir(), "many", pages);
  const std::string out = dir() + "/out.pdf";
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(folimark_datetime(in.c_str(), out.c_str(), nullptr, 300, 100, 14), 1)
      << folimark_last_error();
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(qpdf_problems(out), "");
  const std::string all = must_run({tools().pdftotext, "-enc", "UTF-8", out, "-"}).out;
  const std::regex shape(R"((\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2}))");
  std::vector<std::string> found;
  for (std::sregex_iterator it(all.begin(), all.end(), shape), end; it != end; ++it)
    found.push_back(it->str());
  ASSERT_EQ(found.size(), pages.size()) << all;
  for (const std::string &text : found) EXPECT_EQ(text, found.front());
  // The text lies between the clock readings just before and after the call.
  std::tm low{}, high{};
  localtime_r(&before, &low);
  localtime_r(&after, &high);
  char lo[32], hi[32];
  std::strftime(lo, sizeof lo, "%Y-%m-%d %H:%M:%S", &low);
  std::strftime(hi, sizeof hi, "%Y-%m-%d %H:%M:%S", &high);
  EXPECT_GE(found.front(), std::string(lo));
  EXPECT_LE(found.front(), std::string(hi));
}

TEST_F(PictureStamp, DatetimeTokenPictureAndFormat) {
  const std::string in = letter_page(dir());
  const std::string out = dir() + "/out.pdf";
  ASSERT_EQ(folimark_datetime(in.c_str(), out.c_str(), "Stamped DD.MM.YYYY", 72, 600, 0), 1);
  EXPECT_TRUE(std::regex_search(page_text(out, 1), std::regex(R"(Stamped \d{2}\.\d{2}\.\d{4})")))
      << page_text(out, 1);
  ASSERT_EQ(folimark_datetime(in.c_str(), out.c_str(), "YYYY %Y", 72, 600, 20), 1);
  EXPECT_TRUE(std::regex_search(page_text(out, 1), std::regex(R"(YYYY \d{4})")));
  // Black, upright, opaque: dark pixels where the text stands.
  const Raster r = render(out, 1, 72, true);
  EXPECT_GT(share(r, {0, 0, 612, 792}, {72, 600, 200, 615}, dark), 0.05);
  // A failure is the engine's, with its message.
  EXPECT_EQ(folimark_datetime(in.c_str(), nullptr, nullptr, 0, 0, 0), 0);
  EXPECT_STREQ(folimark_last_error(), "NULL path argument");
}

TEST_F(PictureStamp, CommandLineStampsPicturesAndDates) {
  const std::string in = letter_page(dir());
  const std::string png = write_png(dir() + "/p.png", solid(20, 20, 220, 20, 20), PNG_FORMAT_RGB);
  const std::string out = dir() + "/out.pdf";
  must_run({FOLIMARK_STAMP_CLI, "image", "--scale", "2", "-x", "30", "-y", "40", in, out, png});
  EXPECT_EQ(qpdf_problems(out), "");
  expect_area(find_colour(render(out, 1, 72, false), 220, 20, 20), 30, 40, 40, 40);
  must_run({FOLIMARK_STAMP_CLI, "datetime", "-s", "12", in, out, "YYYY"});
  EXPECT_TRUE(std::regex_search(page_text(out, 1), std::regex(R"(\d{4})")));
  const ToolResult bad = testtool::run({FOLIMARK_STAMP_CLI, "image", in, out, dir() + "/none.png"});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.err.find("cannot open image file"), std::string::npos) << bad.err;
}

}  // namespace
