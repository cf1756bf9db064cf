// Where a stamp stands: the matrix that takes the stamp's own space (its
// block of text lines or its picture, x to the right and y up as the reader
// sees them) into the page's space.
//
// Positions are measured in the page's visible box either as the reader sees
// the page, after /Rotate turns it clockwise for display, or in the page's
// own unrotated space. An anchor names one of nine points of the box
// (corners, edge midpoints, centre); offsets run inward from it, and the
// block's point of the same name stands there, so that "36 pt from the
// top-right corner" holds on every page whatever its size and rotation.
#pragma once

#include <cstdint>

#include "pdf/pdf_doc.h"

// A PDF transformation matrix [a b c d e f]: x' = a x + c y + e, y' = b x + d y + f.
struct Matrix {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};

// The nine points of a box, by column (left, centre, right) and row
// (bottom, middle, top).
enum class Anchor : int32_t {
  bottom_left,
  bottom,
  bottom_right,
  left,
  center,
  right,
  top_left,
  top,
  top_right,
};

// The box a stamp's block covers in its own space, around its origin (the
// start of the first line's baseline, or the picture's lower-left corner).
struct BlockBox {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// How the lines of a text block stand within its width.
enum class Align : int32_t { left, center, right };

struct StampPlacement {
  Anchor anchor = Anchor::bottom_left;
  double dx = 0, dy = 0;      // offsets from the anchor, inward (centre: right and up)
  bool reader_space = true;   // false: the page's unrotated space
  double rotation = 0;        // degrees counter-clockwise about the anchor point
  Align align = Align::left;  // text lines within the block
};

// The page's visible box as the reader sees it: its width and height after
// /Rotate, and the matrix from that space (origin at the displayed lower-left
// corner) into the page's space.
struct DisplayFrame {
  double width = 0, height = 0;
  Matrix to_page;
};
DisplayFrame display_frame(const PageInfo &page, bool reader_space);

// Returns the matrix that draws a block covering `block` with its anchor
// point at the placement's point on the page, upright for the reader (or
// for the unrotated page), turned by its rotation about that point.
Matrix place_block(const PageInfo &page, const StampPlacement &where, const BlockBox &block);

// Returns m1 then m2: the matrix that applies m1 first.
Matrix then(const Matrix &m1, const Matrix &m2);
