#include "support/stamp_fixture.h"

#include <zlib.h>

#include <cstdio>
#include <sstream>
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

const NewStream *new_stream(const StampPlan &plan, int32_t num) {
  for (const NewStream &s : plan.streams)
    if (s.num == num) return &s;
  return nullptr;
}

std::string stream_text(const NewStream &stream) {
  if (stream.data.empty())
    return {reinterpret_cast<const char *>(stream.stored.data()), stream.stored.size()};
  const std::string &raw = stream.data;
  if (stream.entries.find("/FlateDecode") == std::string::npos) return raw;
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

std::vector<int32_t> contents_numbers(const PageState &page) {
  std::string text = page.contents_value;
  for (char &c : text)
    if (c == '[' || c == ']') c = ' ';
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  std::vector<int32_t> nums;
  for (size_t i = 0; i + 2 < words.size(); ++i) {
    if (words[i + 2] != "R") continue;
    nums.push_back(std::stoi(words[i]));
    i += 2;
  }
  return nums;
}

std::string last_stream_text(const StampPlan &plan, const PageState &page) {
  const std::vector<int32_t> nums = contents_numbers(page);
  if (nums.empty()) return {};
  const NewStream *s = new_stream(plan, nums.back());
  return s == nullptr ? std::string() : stream_text(*s);
}

}  // namespace testpdf
