#include "pdf/object_streams.h"

#include <cstring>
#include <vector>

#include "flate/flate.h"

namespace {

// Inflate guesses the output size from the input and retries at four times
// the size; this many attempts reach far beyond any real content stream.
constexpr int kInflateAttempts = 5;

int32_t dict_end_of(Bytes file, const ObjEntry &e) {
  return e.stream_kw_pos > 0 ? e.stream_kw_pos : static_cast<int32_t>(file.size());
}

// Returns the integer after /name in [dict_pos, end), or `missing`.
int32_t dict_int(Bytes file, const ObjEntry &e, int32_t end, const char *name, int32_t missing) {
  const Bytes dict = file.first(static_cast<size_t>(end));
  const int32_t at = find_name(dict, e.dict_pos, end, name);
  if (at < 0) return missing;
  int32_t pos = at + 1 + static_cast<int32_t>(std::strlen(name));
  return parse_int_at(dict, &pos);
}

struct MemberRef {
  int32_t num;
  int32_t offset;
};

}  // namespace

bool stream_is_flate(Bytes file, const ObjEntry &e) {
  if (e.dict_pos < 0) return false;
  const int32_t end = dict_end_of(file, e);
  const Bytes dict = file.first(static_cast<size_t>(end));
  const int32_t filter = find_name(dict, e.dict_pos, end, "Filter");
  if (filter < 0) return false;
  // /Fl is the abbreviation that inline images use; some writers put it on
  // streams too, and readers accept it there.
  const int32_t value = skip_ws(dict, filter + 7);
  return find_name(dict, value, end, "FlateDecode") >= 0 || find_name(dict, value, end, "Fl") >= 0;
}

const uint8_t *decode_stream_obj(const ObjEntry *entry, Bytes file, ByteBuf &scratch,
                                 int32_t *out_len, bool *decoded) {
  if (decoded != nullptr) *decoded = false;
  if (entry == nullptr || !entry->is_stream || entry->in_objstm || entry->data_pos < 0 ||
      entry->data_end <= entry->data_pos)
    return nullptr;
  const uint8_t *data = file.data() + entry->data_pos;
  const size_t stored = static_cast<size_t>(entry->data_end - entry->data_pos);
  if (!stream_is_flate(file, *entry)) {
    *out_len = static_cast<int32_t>(stored);
    return data;
  }
  size_t n = stored;
  // A zlib header (method 8, window field at most 7, check bits) is dropped;
  // the Adler-32 trailer is ignored by the inflater.
  if (n >= 3 && (data[0] & 0x8F) == 0x08 && ((data[0] << 8) | data[1]) % 31 == 0) {
    data += 2;
    n -= 2;
  }
  uint64_t capacity = 4 * static_cast<uint64_t>(stored) + 4096;
  // The inflater counts its output in an int: a huge stream's first guess
  // is held below 2^31.
  if (capacity > static_cast<uint64_t>(INT32_MAX)) capacity = INT32_MAX;
  for (int attempt = 0; attempt < kInflateAttempts; ++attempt) {
    scratch.length = 0;
    buf_reserve(scratch, capacity);
    if (scratch.data == nullptr) return nullptr;
    const int got = tvl_inflate(data, n, scratch.data, static_cast<size_t>(capacity));
    if (got >= 0) {
      scratch.length = static_cast<uint64_t>(got);
      *out_len = got;
      if (decoded != nullptr) *decoded = true;
      return scratch.data;
    }
    capacity *= 4;
    if (capacity > kMaxInflatedStream) break;
  }
  scratch.length = 0;
  return nullptr;
}

void expand_object_streams(PdfDoc &doc) {
  const Bytes file = doc_bytes(doc);
  const size_t scanned = doc.objs.size();
  for (size_t i = 0; i < scanned; ++i) {
    const ObjEntry container = doc.objs[i];  // a copy: appending moves the array
    if (container.in_objstm || !container.is_stream || container.dict_pos < 0) continue;
    const int32_t dict_end = dict_end_of(file, container);
    if (find_name(file.first(static_cast<size_t>(dict_end)), container.dict_pos, dict_end,
                  "ObjStm") < 0)
      continue;
    ByteBuf scratch;
    int32_t length = 0;
    const uint8_t *text = decode_stream_obj(&container, file, scratch, &length);
    if (text == nullptr || length <= 0) continue;
    const int32_t dict_limit = container.stream_kw_pos;
    const int32_t count = dict_int(file, container, dict_limit, "N", -1);
    const int32_t first = dict_int(file, container, dict_limit, "First", -1);
    if (first < 0 || first >= length || count <= 0) continue;

    // The header: pairs of object number and offset, read up to /First.
    const Bytes header(text, static_cast<size_t>(first));
    std::vector<MemberRef> refs;
    int32_t pos = 0;
    while (first > 0 && static_cast<int32_t>(refs.size()) < count) {
      const int32_t num = parse_int_at(header, &pos);
      const int32_t offset = parse_int_at(header, &pos);
      if (num <= 0 || offset < 0) break;
      refs.push_back({num, offset});
      if (pos >= first) break;
    }

    auto blob = std::make_unique<uint8_t[]>(static_cast<size_t>(length));
    std::memcpy(blob.get(), text, static_cast<size_t>(length));
    const uint8_t *kept = blob.get();
    doc.blobs.push_back(std::move(blob));

    for (size_t k = 0; k < refs.size(); ++k) {
      const int64_t start = static_cast<int64_t>(first) + refs[k].offset;
      if (start < 0 || start >= length) continue;
      int64_t stop = length;
      if (k + 1 < refs.size()) {
        stop = static_cast<int64_t>(first) + refs[k + 1].offset;
        if (stop > length || refs[k].offset >= refs[k + 1].offset) continue;
      }
      ObjEntry member;
      member.num = refs[k].num;
      member.gen = 0;
      member.hdr_pos = 0;
      member.stream_kw_pos = 0;
      member.data_pos = 0;
      member.data_end = 0;
      member.endobj_pos = 0;
      member.obj_end = 0;
      member.stream_len = 0;
      member.in_objstm = 1;
      member.text = kept + start;
      member.text_len = static_cast<int32_t>(stop - start);
      const void *lt = std::memchr(member.text, '<', static_cast<size_t>(member.text_len));
      member.dict_pos =
          lt == nullptr ? -1 : static_cast<int32_t>(static_cast<const uint8_t *>(lt) - member.text);
      doc.objs.push_back(member);
    }
  }
}
