// A page's previous content: the streams its /Contents names, and their
// decoded bytes joined in order.
#include <new>

#include "pdf/content.h"
#include "pdf/dict_edit.h"
#include "pdf/stream_filters.h"

namespace {

// Appends the stream numbers of the array whose '[' is at pos. Each element
// is an object number, optionally followed by its generation and R; other
// bytes are passed over.
void read_content_array(const PdfDoc &doc, Bytes s, int32_t pos, PageContents &out) {
  const int32_t end = static_cast<int32_t>(s.size());
  pos = skip_ws(s, pos + 1);
  while (pos < end && s[pos] != ']') {
    if (!is_digit(s[pos])) {
      pos = skip_ws(s, pos + 1);
      continue;
    }
    const int32_t num = parse_int_at(s, &pos);
    int32_t after = skip_ws(s, pos);
    if (after < end && is_digit(s[after])) {
      (void)parse_int_at(s, &after);
      pos = after;
      after = skip_ws(s, pos);
      if (after < end && s[after] == 'R') pos = after + 1;
    }
    pos = skip_ws(s, pos);
    if (num > 0) {
      const ObjEntry *e = find_obj(doc, num);
      out.refs.push_back({num, e != nullptr ? e->gen : 0});
    }
  }
}

}  // namespace

PageContents page_contents(const PdfDoc &doc, const ObjEntry *page) {
  PageContents out;
  if (page == nullptr) return out;
  const DictRange r = dict_range(doc, *page);
  if (!r.present) return out;
  const Bytes s = r.bytes;
  int32_t pos = key_value_pos(s, r.start, r.end, "Contents");
  if (pos < 0 || pos >= r.end) return out;
  if (s[pos] == '[') {
    out.is_array = true;
    read_content_array(doc, s, pos, out);
    return out;
  }
  if (!is_digit(s[pos])) return out;
  const int32_t num = parse_int_at(s, &pos);
  if (num <= 0) return out;
  const ObjEntry *target = find_obj(doc, num);
  if (target != nullptr && !target->is_stream) {
    // A reference to an array object of streams: read as if it stood inline.
    const DictRange body = object_body(doc, *target);
    if (body.present && body.bytes[body.start] == '[') {
      out.is_array = true;
      out.array_num = num;
      read_content_array(doc, body.bytes, body.start, out);
    }
    return out;  // any other object holds no content
  }
  out.refs.push_back({num, target != nullptr ? target->gen : 0});
  return out;
}

ContentRead read_page_content(const PdfDoc &doc, const PageContents &contents,
                              ContentBuffers &buffers, ByteBuf &old_bytes) {
  const Bytes file = doc_bytes(doc);
  bool any = false;
  bool complete = true;
  for (const ContentRef &ref : contents.refs) {
    const ObjEntry *e = find_obj(doc, ref.num);
    if (e == nullptr || !e->is_stream || e->in_objstm) continue;  // holds no content
    if (e->data_pos < 0 || e->data_end <= e->data_pos) continue;  // an empty stream
    any = true;
    Bytes data;
    const DecodeStatus status = decode_stream_view(file, *e, buffers.out, buffers.spare, &data,
                                                   doc.security ? &*doc.security : nullptr);
    if (buffers.out.failed || buffers.spare.failed) throw std::bad_alloc();
    if (status != DecodeStatus::ok) complete = false;
    // Damaged data counts with what decodes of it, as readers show it.
    if (status == DecodeStatus::ok || status == DecodeStatus::damaged)
      buf_bytes(old_bytes, data.data(), data.size());
    if (contents.is_array) buf_str(old_bytes, "\n");
  }
  if (old_bytes.failed) throw std::bad_alloc();
  if (!any) return ContentRead::empty;
  return complete ? ContentRead::all : ContentRead::partly;
}
