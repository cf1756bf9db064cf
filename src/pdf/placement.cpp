#include "pdf/placement.h"

#include <cmath>

namespace {

constexpr double kPi = 3.141592653589793;

// Returns the low end (k = 0), the middle (1) or the high end (2) of the
// span [low, high], for a column or a row of an anchor.
double pick(int k, double low, double high) {
  if (k == 0) return low;
  if (k == 1) return (low + high) / 2;
  return high;
}

}  // namespace

Matrix then(const Matrix &m1, const Matrix &m2) {
  Matrix m;
  m.a = m1.a * m2.a + m1.b * m2.c;
  m.b = m1.a * m2.b + m1.b * m2.d;
  m.c = m1.c * m2.a + m1.d * m2.c;
  m.d = m1.c * m2.b + m1.d * m2.d;
  m.e = m1.e * m2.a + m1.f * m2.c + m2.e;
  m.f = m1.e * m2.b + m1.f * m2.d + m2.f;
  return m;
}

DisplayFrame display_frame(const PageInfo &page, bool reader_space) {
  const double x0 = page.box_x, y0 = page.box_y, w = page.box_w, h = page.box_h;
  DisplayFrame f;
  // /Rotate turns the page clockwise for display; the displayed lower-left
  // corner is then the box's lower-right (90), upper-right (180) or
  // upper-left (270) corner.
  switch (reader_space ? page.rotate : 0) {
    case 90:
      f.width = h;
      f.height = w;
      f.to_page = {0, 1, -1, 0, x0 + w, y0};
      break;
    case 180:
      f.width = w;
      f.height = h;
      f.to_page = {-1, 0, 0, -1, x0 + w, y0 + h};
      break;
    case 270:
      f.width = h;
      f.height = w;
      f.to_page = {0, -1, 1, 0, x0, y0 + h};
      break;
    default:
      f.width = w;
      f.height = h;
      f.to_page = {1, 0, 0, 1, x0, y0};
      break;
  }
  return f;
}

Matrix place_block(const PageInfo &page, const StampPlacement &where, const BlockBox &block) {
  const DisplayFrame frame = display_frame(page, where.reader_space);
  const int col = static_cast<int>(where.anchor) % 3;
  const int row = static_cast<int>(where.anchor) / 3;
  // The anchor point, the offsets pointing into the box.
  const double ax = pick(col, 0, frame.width) + (col == 2 ? -where.dx : where.dx);
  const double ay = pick(row, 0, frame.height) + (row == 2 ? -where.dy : where.dy);
  // The block's point of the same name.
  const double bx = pick(col, block.x0, block.x1);
  const double by = pick(row, block.y0, block.y1);
  // A rotation that is not a number would make the matrix degenerate.
  const double degrees = std::isfinite(where.rotation) ? where.rotation : 0.0;
  const double s = std::sin(degrees * kPi / 180.0);
  const double c = std::cos(degrees * kPi / 180.0);
  const Matrix in_display{c, s, -s, c, ax - (c * bx - s * by), ay - (s * bx + c * by)};
  return then(in_display, frame.to_page);
}
