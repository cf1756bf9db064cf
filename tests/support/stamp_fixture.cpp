#include "support/stamp_fixture.h"

#include <zlib.h>

#include <cstdio>
#include <stdexcept>

#include "pdf/load.h"

namespace testpdf {

bool load_objects(const std::vector<Object> &objects, PdfDoc &doc, int root) {
  const std::string bytes = build(objects, root);
  const Bytes in(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  return load_document_bytes(in, "fixture.pdf", doc) == 1;
}

void add_page(PdfDoc &doc, int32_t obj_num, int32_t parent_num, int32_t resources_num, double box_x,
              double box_y) {
  PageInfo p;
  p.obj_num = obj_num;
  p.parent_num = parent_num;
  p.resources_num = resources_num;
  p.box_x = box_x;
  p.box_y = box_y;
  doc.page_infos.push_back(p);
}

StampRequest text_request(const char *text, float x, float y) {
  StampRequest r{};
  r.kind = STAMP_TEXT;
  r.text = text;
  r.font_size = 12;
  r.x = x;
  r.y = y;
  r.opacity = 1.0f;
  return r;
}

StampRequest image_request(int32_t width, int32_t height, float opacity, bool alpha) {
  StampRequest r{};
  r.kind = STAMP_IMAGE;
  r.image_width = width;
  r.image_height = height;
  r.opacity = opacity;
  r.has_alpha = alpha ? 1 : 0;
  return r;
}

std::string buf_text(const ByteBuf &buf) {
  if (buf.data == nullptr) return {};
  return {reinterpret_cast<const char *>(buf.data), static_cast<size_t>(buf.length)};
}

std::string stream_text(const PageState &page) {
  const std::string raw = buf_text(page.stream);
  if (!page.compressed) return raw;
  for (uLongf cap = static_cast<uLongf>(raw.size()) * 4 + 1024;; cap *= 4) {
    std::string out(cap, '\0');
    uLongf size = cap;
    const int rc =
        uncompress(reinterpret_cast<Bytef *>(out.data()), &size,
                   reinterpret_cast<const Bytef *>(raw.data()), static_cast<uLong>(raw.size()));
    if (rc == Z_OK) {
      out.resize(size);
      return out;
    }
    if (rc != Z_BUF_ERROR || cap > (1u << 28)) throw std::runtime_error("stream does not inflate");
  }
}

}  // namespace testpdf
