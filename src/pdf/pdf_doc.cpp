#include "pdf/pdf_doc.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "pdf/dict_edit.h"

const ObjEntry *find_obj(const PdfDoc &doc, int32_t num) {
  if (num < 0 || static_cast<size_t>(num) >= doc.index_of_num.size()) return nullptr;
  const int32_t i = doc.index_of_num[static_cast<size_t>(num)];
  return i < 0 ? nullptr : &doc.objs[static_cast<size_t>(i)];
}

DictRange dict_range_in(Bytes file, const ObjEntry &entry) {
  DictRange r;
  if (entry.in_objstm) {
    if (entry.text == nullptr) return r;
    r.bytes = Bytes(entry.text, static_cast<size_t>(entry.text_len));
    r.start = 0;
    r.end = entry.text_len;
    r.present = true;
    return r;
  }
  if (entry.dict_pos < 0) return r;
  int32_t end = size_of(file);
  if (entry.stream_kw_pos > 0) {
    end = entry.stream_kw_pos;
  } else if (entry.endobj_pos > 0) {
    end = entry.endobj_pos;
  }
  if (end > size_of(file)) end = size_of(file);
  r.bytes = file.first(static_cast<size_t>(end));
  r.start = entry.dict_pos;
  r.end = end;
  r.present = true;
  return r;
}

DictRange dict_range(const PdfDoc &doc, const ObjEntry &entry) {
  return dict_range_in(doc_bytes(doc), entry);
}

DictRange resolve_value(const PdfDoc &doc, const DictRange &r, int32_t pos,
                        int32_t *followed) {
  if (followed != nullptr) *followed = 0;
  DictRange v = r;
  v.start = skip_ws(r.bytes, pos);
  if (v.start >= r.end || !is_digit(r.bytes[v.start])) return v;
  int32_t p = v.start;
  const int32_t num = parse_int_at(r.bytes, &p);
  p = skip_ws(r.bytes, p);
  if (p >= r.end || !is_digit(r.bytes[p])) return v;
  (void)parse_int_at(r.bytes, &p);
  p = skip_ws(r.bytes, p);
  if (p >= r.end || r.bytes[p] != 'R') return v;
  const ObjEntry *target = find_obj(doc, num);
  DictRange body = target != nullptr ? object_body(doc, *target) : DictRange{};
  if (!body.present) return body;
  body.start = skip_ws(body.bytes, body.start);
  if (followed != nullptr) *followed = num;
  return body;
}

DictRange object_body(const PdfDoc &doc, const ObjEntry &entry) {
  if (entry.in_objstm || entry.is_stream) {
    DictRange r = dict_range(doc, entry);
    if (r.present && entry.in_objstm) r.start = skip_ws(r.bytes, r.start);
    r.present = r.present && r.start < r.end;
    return r;
  }
  DictRange r;
  if (entry.body_pos < 0 || entry.endobj_pos <= entry.body_pos || entry.endobj_pos > doc.length)
    return r;
  r.bytes = doc_bytes(doc).first(static_cast<size_t>(entry.endobj_pos));
  r.start = entry.body_pos;
  r.end = entry.endobj_pos;
  r.present = true;
  return r;
}

int obj_type(const PdfDoc &doc, const ObjEntry &entry) {
  const DictRange r = dict_range(doc, entry);
  if (!r.present) return 0;
  const Bytes s = r.bytes;
  for (int32_t hit = find_name(s, r.start, r.end, "Type"); hit >= 0;
       hit = find_name(s, hit + 1, r.end, "Type")) {
    const int32_t v = skip_ws(s, hit + 5);
    if (v + 4 >= r.end || s[v] != '/' || std::memcmp(s.data() + v + 1, "Page", 4) != 0) continue;
    if (v + 5 == r.end || !is_alnum(s[v + 5])) return 1;
    if (s[v + 5] == 's' && (v + 6 == r.end || !is_alnum(s[v + 6]))) return 2;
  }
  return 0;
}

char *get_obj_dict_text(const PdfDoc &doc, const ObjEntry &entry) {
  const std::string dict = obj_dict_copy(doc, entry);
  if (dict.empty()) return nullptr;
  char *text = static_cast<char *>(std::malloc(dict.size() + 1));
  if (text != nullptr) std::memcpy(text, dict.c_str(), dict.size() + 1);
  return text;
}
