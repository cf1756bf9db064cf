#include "pdf/text_block.h"

#include <algorithm>


namespace {

constexpr int32_t kDefaultFontSize = 24;
constexpr double kDefaultLeading = 28.8;  // 1.2 times the default size

// Helvetica's ascender and descender, in thousandths of the size.
constexpr double kAscent = 718;
constexpr double kDescent = -207;

}  // namespace

std::vector<std::string_view> text_lines(const char *text) {
  const std::string_view all = text != nullptr ? std::string_view(text) : "";
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    const size_t next = end == std::string_view::npos ? all.size() : end + 1;
    if (end == std::string_view::npos) end = all.size();
    std::string_view line = all.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = next;
  }
  return lines;
}

double stamp_font_size(const StampRequest &request) {
  return request.font_size <= 0 ? kDefaultFontSize : request.font_size;
}

double stamp_leading(const StampRequest &request) {
  if (request.font_size <= 0) return kDefaultLeading;
  return static_cast<double>(static_cast<float>(request.font_size) * 1.2f);
}

bool layout_text_block(const StampRequest &request, Align align, TextBlock &b,
                       std::string &error) {
  b = {};
  b.font_size = stamp_font_size(request);
  b.leading = stamp_leading(request);
  b.embedded = request.font != nullptr;
  std::vector<double> widths;
  double width = 0;
  for (const std::string_view line : text_lines(request.text)) {
    b.lines.emplace_back();
    EncodedLine &encoded_line = b.lines.back();
    const bool encoded =
        request.font != nullptr
            ? encode_embedded_line(*request.font, line, encoded_line, b.glyphs, error)
            : encode_builtin_line(line, encoded_line, error);
    if (!encoded) return false;
    for (const TextRun &run : b.lines.back().runs)
      if (run.font == RunFont::extra) b.uses_extra_font = true;
    widths.push_back(b.lines.back().width_units * b.font_size / 1000);
    width = std::max(width, widths.back());
  }
  const double share = align == Align::left ? 0 : align == Align::center ? 0.5 : 1;
  for (const double w : widths) b.starts.push_back((width - w) * share);
  if (!b.lines.empty()) {
    // The embedded font's own ascent and descent, or Helvetica's.
    const FontFace *face = request.font;
    const double ascent = face != nullptr ? to_thousandths(*face, face->ascent) : kAscent;
    const double descent = face != nullptr ? to_thousandths(*face, face->descent) : kDescent;
    const double n = static_cast<double>(b.lines.size());
    b.box = {0, -(n - 1) * b.leading + descent * b.font_size / 1000, width,
             ascent * b.font_size / 1000};
  }
  return true;
}
