// A page's previous content: the streams its /Contents names, and their
// decoded bytes joined in order.
#include "pdf/content.h"
#include "pdf/dict_edit.h"
#include "pdf/object_streams.h"

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

// Returns true when a stream's filters are none or /FlateDecode alone.
bool stream_filter_decodable(Bytes file, const ObjEntry &e) {
  if (e.dict_pos < 0 || e.stream_kw_pos <= e.dict_pos) return true;
  const int32_t end = e.stream_kw_pos;
  const Bytes dict = file.first(static_cast<size_t>(end));
  int32_t pos = key_value_pos(dict, e.dict_pos, end, "Filter");
  if (pos < 0) return true;
  bool in_array = false;
  if (pos < end && dict[pos] == '[') {
    in_array = true;
    pos = skip_ws(dict, pos + 1);
  }
  // The full name, or its abbreviation /Fl.
  int32_t name_len = 0;
  if (find_name(dict, pos, end, "FlateDecode") == pos) name_len = 12;
  else if (find_name(dict, pos, end, "Fl") == pos) name_len = 3;
  else return false;
  if (!in_array) return true;
  pos = skip_ws(dict, pos + name_len);
  return pos < end && dict[pos] == ']';
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

ContentRead read_page_content(const PdfDoc &doc, const PageContents &contents, ByteBuf &scratch,
                              ByteBuf &old_bytes) {
  const Bytes file = doc_bytes(doc);
  bool any = false;
  bool complete = true;
  for (const ContentRef &ref : contents.refs) {
    const ObjEntry *e = find_obj(doc, ref.num);
    if (e == nullptr || !e->is_stream || e->in_objstm) continue;  // holds no content
    if (e->data_pos < 0 || e->data_end <= e->data_pos) continue;  // an empty stream
    any = true;
    if (!stream_filter_decodable(file, *e)) {
      complete = false;
      continue;
    }
    int32_t n = 0;
    const uint8_t *bytes = decode_stream_obj(e, file, scratch, &n);
    if (bytes == nullptr) {
      complete = false;
      continue;
    }
    if (n > 0) buf_bytes(old_bytes, bytes, static_cast<uint64_t>(n));
    if (contents.is_array) buf_str(old_bytes, "\n");
  }
  if (!any) return ContentRead::empty;
  return complete ? ContentRead::all : ContentRead::partly;
}
