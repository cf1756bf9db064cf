// The stamp's own content operators: a block of text lines in Helvetica, or
// the picture drawn at its pixel size times the scale. Each is wrapped in
// q/Q so that it leaves the graphics state as it found it.
#include <cmath>
#include <string_view>

#include "pdf/content.h"
#include "pdf/number_text.h"
#include "pdf/text_block.h"

namespace {

constexpr double kPi = 3.141592653589793;

// Returns a colour component 0..255 as 0..1.
float unit_component(int32_t c) {
  if (c < 0) return 0.0f;
  if (c > 255) return 1.0f;
  return static_cast<float>(c) / 255.0f;
}

void append_numbers(ByteBuf &ops, const double *values, int count, int precision) {
  for (int i = 0; i < count; ++i) {
    if (i > 0) buf_str(ops, " ");
    buf_fixed(ops, values[i], precision);
  }
}

// Appends "a b c d e f cm": the linear part at `precision` decimals, the
// translation at two.
void append_matrix(ByteBuf &ops, const Matrix &m, int precision) {
  const double linear[4] = {m.a, m.b, m.c, m.d};
  append_numbers(ops, linear, 4, precision);
  buf_str(ops, " ");
  const double origin[2] = {m.e, m.f};
  append_numbers(ops, origin, 2, 2);
  buf_str(ops, " cm\n");
}

void append_name(ByteBuf &ops, const std::string &name) {
  buf_str(ops, "/");
  buf_str(ops, name);
}

// Appends "/Name size Tf"; a whole size is written as an integer, as it
// always was.
void append_font(ByteBuf &ops, const std::string &name, double size) {
  append_name(ops, name);
  buf_str(ops, " ");
  if (size == std::floor(size)) buf_int(ops, static_cast<int64_t>(size));
  else buf_fixed(ops, size, 3);
  buf_str(ops, " Tf");
}

// Appends a line's shows, one per run, each after a change of font when
// its font is not the current one: "(abc) Tj\n", or "() Tj\n" for a line
// that shows nothing; an embedded font's glyph ids as "<0041> Tj\n".
void append_line(ByteBuf &ops, const EncodedLine &line, const StampNames &names, double size,
                 bool glyph_ids, RunFont &current) {
  const char *open = glyph_ids ? "<" : "(";
  const char *close = glyph_ids ? "> Tj\n" : ") Tj\n";
  if (line.runs.empty()) {
    buf_str(ops, open);
    buf_str(ops, close);
  }
  for (const TextRun &run : line.runs) {
    if (run.font != current) {
      append_font(ops, run.font == RunFont::main ? names.font : names.extra_font, size);
      buf_str(ops, " ");
      current = run.font;
    }
    buf_str(ops, open);
    if (glyph_ids) append_hex_codes(ops, run.codes);
    else append_literal_codes(ops, run.codes);
    buf_str(ops, close);
  }
}

void append_opening(ByteBuf &ops, int32_t gs_num, const StampNames &names) {
  buf_str(ops, "\nq\n");
  if (gs_num > 0) {
    append_name(ops, names.gs);
    buf_str(ops, " gs\n");
  }
}

}  // namespace

void text_operators(ByteBuf &ops, const StampRequest &request, int32_t gs_num, float x_pos,
                    float y_pos, const StampNames &names, const Matrix *placed,
                    const TextBlock *laid_out) {
  append_opening(ops, gs_num, names);

  const double rgb[3] = {unit_component(request.color_r), unit_component(request.color_g),
                         unit_component(request.color_b)};
  append_numbers(ops, rgb, 3, 4);
  buf_str(ops, " rg\n");
  append_numbers(ops, rgb, 3, 4);
  buf_str(ops, " RG\n");

  if (placed != nullptr) {
    append_matrix(ops, *placed, 6);
  } else {
    // A rotation that is not a number would make the matrix degenerate.
    const double degrees =
        std::isfinite(request.rotation) ? static_cast<double>(request.rotation) : 0.0;
    const double a = degrees * kPi / 180.0;
    const double s = std::sin(a);
    const double c = std::cos(a);
    append_matrix(ops, Matrix{c, s, -s, c, x_pos, y_pos}, 6);
  }

  // The block as the plan laid it out for every page, or laid out here.
  TextBlock own;
  if (laid_out == nullptr) {
    std::string ignored;  // a line that cannot be shown shows nothing
    layout_text_block(request, request.placement != nullptr ? request.placement->align : Align::left,
                      own, ignored);
  }
  const TextBlock &block = laid_out != nullptr ? *laid_out : own;

  buf_str(ops, "BT\n");
  append_font(ops, names.font, block.font_size);
  buf_str(ops, "\n");
  RunFont current = RunFont::main;
  if (placed != nullptr) {
    // Each line moved to its start within the block, one leading down.
    double x = 0;
    for (size_t i = 0; i < block.lines.size(); ++i) {
      const double move[2] = {block.starts[i] - x, i == 0 ? 0.0 : -block.leading};
      append_numbers(ops, move, 2, 2);
      buf_str(ops, " Td ");
      append_line(ops, block.lines[i], names, block.font_size, block.embedded, current);
      x = block.starts[i];
    }
    buf_str(ops, "ET\nQ\n");
    return;
  }
  buf_fixed(ops, stamp_leading(request), 2);
  buf_str(ops, " TL\n");

  // One show per line; a trailing LF ends the last line without adding one.
  for (size_t i = 0; i < block.lines.size(); ++i) {
    if (i > 0) buf_str(ops, "T* ");
    append_line(ops, block.lines[i], names, block.font_size, block.embedded, current);
  }
  buf_str(ops, "ET\nQ\n");
}

BlockBox image_block_box(const StampRequest &request) {
  const float scale_x = request.image_scale_x > 0 ? request.image_scale_x : 1.0f;
  const float scale_y = request.image_scale_y > 0 ? request.image_scale_y : 1.0f;
  const float w = static_cast<float>(request.image_width) * scale_x;
  const float h = static_cast<float>(request.image_height) * scale_y;
  const double given_w = request.image_box_width, given_h = request.image_box_height;
  if (given_w > 0 || given_h > 0) {
    if (given_w > 0 && given_h > 0) return {0, 0, given_w, given_h};
    return given_w > 0 ? BlockBox{0, 0, given_w, h * given_w / w}
                       : BlockBox{0, 0, w * given_h / h, given_h};
  }
  return {0, 0, w, h};
}

void image_operators(ByteBuf &ops, const StampRequest &request, int32_t gs_num, float x_pos,
                     float y_pos, const StampNames &names, const Matrix *placed) {
  append_opening(ops, gs_num, names);
  const BlockBox box = image_block_box(request);
  if (placed != nullptr) {
    // The picture's unit square stretched to its size, then placed.
    append_matrix(ops, then(Matrix{box.x1, 0, 0, box.y1, 0, 0}, *placed), 4);
    append_name(ops, names.image);
    buf_str(ops, " Do\nQ\n");
    return;
  }
  const double size[2] = {box.x1, box.y1};
  buf_fixed(ops, size[0], 4);
  buf_str(ops, " 0 0 ");
  buf_fixed(ops, size[1], 4);
  buf_str(ops, " ");
  const double origin[2] = {x_pos, y_pos};
  append_numbers(ops, origin, 2, 2);
  buf_str(ops, " cm\n");
  append_name(ops, names.image);
  buf_str(ops, " Do\nQ\n");
}
