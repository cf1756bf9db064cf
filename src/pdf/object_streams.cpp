#include "pdf/object_streams.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "pdf/dict_edit.h"
#include "pdf/dict_values.h"
#include "pdf/object_read.h"
#include "pdf/stream_filters.h"

bool stream_is_flate(Bytes file, const ObjEntry &e) {
  if (e.dict_pos < 0) return false;
  const int32_t end = dict_range_in(file, e).end;
  const Bytes dict = file.first(static_cast<size_t>(end));
  const int32_t value = key_value_pos(dict, e.dict_pos, end, "Filter");
  if (value < 0) return false;
  // /Fl is the abbreviation that inline images use; some writers put it on
  // streams too, and readers accept it there.
  return find_name(dict, value, end, "FlateDecode") >= 0 || find_name(dict, value, end, "Fl") >= 0;
}

const uint8_t *decode_stream_obj(const ObjEntry *entry, Bytes file, ByteBuf &scratch,
                                 int32_t *out_len, bool *decoded, const SecurityKey *key) {
  if (decoded != nullptr) *decoded = false;
  if (entry == nullptr || !entry->is_stream || entry->in_objstm || entry->data_pos < 0 ||
      entry->data_end <= entry->data_pos)
    return nullptr;
  ByteBuf spare;  // only chains of filters give it storage
  Bytes data;
  if (decode_stream_view(file, *entry, scratch, spare, &data, key) != DecodeStatus::ok) {
    scratch.length = 0;
    return nullptr;
  }
  // Decoded data stays below kMaxInflatedStream, stored data below the file's size.
  *out_len = static_cast<int32_t>(data.size());
  if (data.data() != scratch.data) return data.data();  // the stored bytes, in place
  if (decoded != nullptr) *decoded = true;
  return scratch.data;
}

bool open_object_stream(PdfDoc &doc, const ObjEntry &container, ObjectStream &out) {
  const Bytes file = doc_bytes(doc);
  if (container.in_objstm || !container.is_stream || container.dict_pos < 0) return false;
  const int32_t dict_end = dict_range_in(file, container).end;
  if (!dict_type_is(file, container.dict_pos, dict_end, "ObjStm")) return false;
  // An object stream that extends another one is rare and its members
  // would need that one's too: its objects are left to reconstruction.
  if (find_dict_key(file.first(static_cast<size_t>(dict_end)), container.dict_pos, dict_end,
                    "Extends") >= 0)
    return false;
  ByteBuf scratch;
  int32_t length = 0;
  const uint8_t *text = decode_stream_obj(&container, file, scratch, &length, nullptr,
                                          doc.security ? &*doc.security : nullptr);
  if (text == nullptr || length <= 0) return false;
  const int64_t count = dict_key_int(file, container.dict_pos, dict_end, "N", -1);
  const int64_t first = dict_key_int(file, container.dict_pos, dict_end, "First", -1);
  if (first < 0 || first >= length || count <= 0) return false;

  // The header: pairs of object number and offset, read up to /First.
  const Bytes header(text, static_cast<size_t>(first));
  std::vector<ObjectStream::Member> members;
  int32_t pos = 0;
  while (static_cast<int64_t>(members.size()) < count) {
    const int32_t num = parse_int_at(header, &pos);
    const int32_t offset = parse_int_at(header, &pos);
    if (num <= 0 || offset < 0) break;
    const int64_t start = first + offset;
    if (start < length) members.push_back({num, static_cast<int32_t>(start), length});
    if (pos >= first) break;
  }
  // Each member's text ends where the next one (by offset) begins.
  std::vector<int32_t> starts;
  starts.reserve(members.size());
  for (const ObjectStream::Member &m : members) starts.push_back(m.start);
  std::sort(starts.begin(), starts.end());
  for (ObjectStream::Member &m : members) {
    const auto next = std::upper_bound(starts.begin(), starts.end(), m.start);
    if (next != starts.end()) m.end = *next;
  }

  auto blob = std::make_unique<uint8_t[]>(static_cast<size_t>(length));
  std::memcpy(blob.get(), text, static_cast<size_t>(length));
  out.text = blob.get();
  out.length = length;
  out.members = std::move(members);
  out.by_num.clear();
  doc.blobs.push_back(std::move(blob));
  return true;
}

ObjEntry object_stream_member(const ObjectStream &stream, size_t k) {
  const ObjectStream::Member &m = stream.members[k];
  ObjEntry e;
  e.num = m.num;
  e.gen = 0;
  e.hdr_pos = 0;
  e.body_pos = 0;
  e.stream_kw_pos = 0;
  e.data_pos = 0;
  e.data_end = 0;
  e.endobj_pos = 0;
  e.obj_end = 0;
  e.stream_len = 0;
  e.in_objstm = 1;
  e.text = stream.text + m.start;
  e.text_len = m.end - m.start;
  const void *lt = std::memchr(e.text, '<', static_cast<size_t>(e.text_len));
  e.dict_pos = lt == nullptr ? -1 : static_cast<int32_t>(static_cast<const uint8_t *>(lt) - e.text);
  return e;
}

int32_t find_object_stream_member(ObjectStream &stream, int32_t num, int32_t index) {
  if (index >= 0 && static_cast<size_t>(index) < stream.members.size() &&
      stream.members[static_cast<size_t>(index)].num == num)
    return index;
  if (stream.by_num.empty()) {
    for (size_t k = 0; k < stream.members.size(); ++k)
      stream.by_num.emplace(stream.members[k].num, static_cast<int32_t>(k));
  }
  const auto it = stream.by_num.find(num);
  return it == stream.by_num.end() ? -1 : it->second;
}
