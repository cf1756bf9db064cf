// Placement as the reader sees the page: a picture stamp anchored at each
// kind of point of pages turned by /Rotate (own or inherited) and of boxes
// not at the origin lands where poppler's rendering of the page, turned for
// display, shows it; a text block's lines align within it and its corner
// stands at the anchor, as poppler's word boxes show.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <string>
#include <vector>

#include "abi/image_stamp.h"
#include "common/error.h"
#include "pdf/placement.h"
#include "pdf/stamp_request.h"
#include "support/e2e_oracles.h"
#include "support/pdf_builder.h"

namespace {

using namespace e2e;

// A black picture of 40 x 20 pixels, drawn at one point per pixel, with a
// white notch of 10 x 10 in its top-left corner that tells which way is up.
std::string black_png(const std::string &dir) {
  const std::string path = dir + "/black.png";
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = 40;
  image.height = 20;
  image.format = PNG_FORMAT_GRAY;
  std::vector<unsigned char> pixels(40 * 20, 0);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) pixels[static_cast<size_t>(y * 40 + x)] = 255;
  if (!png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr))
    throw std::runtime_error(std::string("libpng: ") + image.message);
  return path;
}

// One page of a 300 x 200 media box at (100, 50), turned by rotate (on the
// page, or on its parent when inherited).
std::string rotated_page(int rotate, bool inherited) {
  const std::string turn = " /Rotate " + std::to_string(rotate);
  return testpdf::build({{1, 0, "<< /Type /Catalog /Pages 2 0 R >>"},
                         {2, 0, "<< /Type /Pages /Kids [3 0 R] /Count 1" +
                                    (inherited ? turn : std::string()) + " >>"},
                         {3, 0,
                          "<< /Type /Page /Parent 2 0 R /MediaBox [100 50 400 250]" +
                              (inherited ? std::string() : turn) + " >>"}},
                        1);
}

struct Rect {
  double x0, y0, x1, y1;  // as displayed, in points from the lower-left corner
};

struct Case {
  const char *name;
  int rotate;
  bool inherited;
  StampPlacement where;
  Rect expected;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

// Displayed 300 x 200, or 200 x 300 when turned a quarter; the picture 40 x 20.
const Case kCases[] = {
    {"unturned_top_right", 0, false, {Anchor::top_right, 20, 30, true, 0}, {240, 150, 280, 170}},
    {"quarter_top_right", 90, false, {Anchor::top_right, 20, 30, true, 0}, {140, 250, 180, 270}},
    {"half_bottom_left", 180, false, {Anchor::bottom_left, 10, 15, true, 0}, {10, 15, 50, 35}},
    {"three_quarters_center", 270, false, {Anchor::center, 0, 0, true, 0}, {80, 140, 120, 160}},
    {"inherited_quarter_top", 90, true, {Anchor::top, 0, 12, true, 0}, {80, 268, 120, 288}},
    {"negative_rotate_right", -90, false, {Anchor::right, 5, 0, true, 0}, {155, 140, 195, 160}},
    // The page's own space: the picture lies along the unrotated page, which
    // the reader sees turned (page x runs up the display, page y leftwards).
    {"page_space_quarter", 90, false, {Anchor::bottom_left, 10, 15, false, 0}, {15, 250, 35, 290}},
    // Turned a quarter counter-clockwise about the lower-left anchor point.
    {"rotated_block", 0, false, {Anchor::bottom_left, 100, 50, true, 90}, {80, 50, 100, 90}},
};

class Placed : public E2e, public ::testing::WithParamInterface<Case> {};

TEST_P(Placed, PictureStandsWhereTheReaderExpects) {
  const Case &c = GetParam();
  const std::string in = write_doc(dir(), "in", rotated_page(c.rotate, c.inherited));
  const std::string out = dir() + "/out.pdf";
  const std::string png = black_png(dir());
  StampRequest request{};
  request.kind = STAMP_IMAGE;
  request.opacity = 1;
  request.image_scale_x = request.image_scale_y = 1;
  PreparedImage owned;
  ASSERT_TRUE(prepare_image(png.c_str(), request, owned)) << error_text();
  request.placement = &c.where;
  ASSERT_EQ(execute_stamp(in.c_str(), out.c_str(), &request), 1) << error_text();
  ASSERT_EQ(qpdf_problems(out), "");

  const Raster r = render(out, 1, 72, true);
  int left = r.width, right = -1, top = r.height, bottom = -1;
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < r.width; ++x)
      if (dark(r.at(x, y))) {
        left = std::min(left, x);
        right = std::max(right, x + 1);
        top = std::min(top, y);
        bottom = std::max(bottom, y + 1);
      }
  ASSERT_GE(right, 0) << "no picture on the page";
  // Rows count down from the displayed top edge.
  EXPECT_NEAR(left, c.expected.x0, 1.5);
  EXPECT_NEAR(right, c.expected.x1, 1.5);
  EXPECT_NEAR(r.height - bottom, c.expected.y0, 1.5);
  EXPECT_NEAR(r.height - top, c.expected.y1, 1.5);
  if (c.where.rotation == 0 && c.where.reader_space) {
    // Upright for the reader: the notch at the top-left, ink at the other corners.
    EXPECT_FALSE(dark(r.at(left + 3, top + 3))) << "the picture is not upright";
    EXPECT_TRUE(dark(r.at(right - 3, top + 3)));
    EXPECT_TRUE(dark(r.at(left + 3, bottom - 3)));
  }
}

INSTANTIATE_TEST_SUITE_P(Rotations, Placed, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case> &p) { return p.param.name; });

// A text block of two lines, each aligned within the block's width from
// Helvetica's advance widths, with the block's corner at the anchor: judged
// by the word boxes poppler finds on the page as displayed.
TEST_F(E2e, TextBlockAlignedAtTheAnchor) {
  struct Align {
    ::Align align;
    const char *name;
  };
  for (const int rotate : {0, 90}) {
    for (const Align a : {Align{::Align::left, "left"}, Align{::Align::center, "center"},
                          Align{::Align::right, "right"}}) {
      const std::string in = write_doc(dir(), "in", rotated_page(rotate, false));
      const std::string out = dir() + "/out.pdf";
      StampPlacement where;
      where.anchor = Anchor::top_right;
      where.dx = 20;
      where.dy = 30;
      where.align = a.align;
      StampRequest request{};
      request.kind = STAMP_TEXT;
      request.text = "WIDEWORDWIDE\nNARROW";
      request.font_size = 20;
      request.opacity = 1;
      request.placement = &where;
      ASSERT_EQ(execute_stamp(in.c_str(), out.c_str(), &request), 1) << error_text();
      const auto boxes = word_boxes(out, 1);
      ASSERT_EQ(boxes.size(), 2u) << a.name;
      const WordBox &wide = boxes[0].text == "WIDEWORDWIDE" ? boxes[0] : boxes[1];
      const WordBox &narrow = boxes[0].text == "NARROW" ? boxes[0] : boxes[1];
      const double width = rotate == 90 ? 200 : 300;  // as displayed
      // The widest line fills the block: its right edge at the anchor.
      EXPECT_NEAR(wide.x_max, width - 20, 1.0) << a.name << " " << rotate;
      EXPECT_NEAR(wide.y_min, 30, 1.0) << a.name << " " << rotate;  // the ascender line
      EXPECT_LT(wide.y_max, narrow.y_min + 1) << "lines stack downwards";
      const double shift[] = {wide.x_min - narrow.x_min,
                              (wide.x_min + wide.x_max) / 2 - (narrow.x_min + narrow.x_max) / 2,
                              wide.x_max - narrow.x_max};
      EXPECT_NEAR(shift[static_cast<int>(a.align)], 0, 1.0) << a.name << " " << rotate;
    }
  }
}

}  // namespace
