#include "pdf/load.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "common/error.h"
#include "platform/file_io.h"
#include "pdf/dict_values.h"
#include "pdf/object_read.h"
#include "pdf/object_streams.h"
#include "pdf/reconstruct.h"
#include "pdf/xref.h"

namespace {

// What the index holds for each object number while it is built.
struct Slot {
  ObjEntry entry;
  bool present = false;
};

struct Builder {
  PdfDoc &doc;
  Bytes s;
  std::vector<Slot> slots;        // by object number
  std::vector<int32_t> pending;   // numbers the cross-reference data could not place
  std::unordered_map<int32_t, ObjectStream> streams;  // opened object streams, by container
  std::unordered_map<int32_t, bool> stream_failed;

  Slot &slot(int32_t num) {
    const auto n = static_cast<size_t>(num);
    if (n >= slots.size()) slots.resize(n + 1);
    return slots[n];
  }
  const ObjEntry *find(int32_t num) const {
    if (num <= 0 || static_cast<size_t>(num) >= slots.size()) return nullptr;
    const Slot &sl = slots[static_cast<size_t>(num)];
    return sl.present ? &sl.entry : nullptr;
  }
};

// Returns the integer that object num holds (an indirect /Length), or -1.
int32_t integer_object(const Builder &b, int32_t num) {
  const ObjEntry *e = b.find(num);
  if (e == nullptr || e->is_stream) return -1;
  const DictRange body = object_body(b.doc, *e);
  if (!body.present || !is_digit(body.bytes[body.start])) return -1;
  int32_t pos = body.start;
  return parse_int_at(body.bytes, &pos);
}

// Places every object that the cross-reference data puts in the file and
// whose header there names that very object; the others wait in pending.
void place_file_objects(Builder &b, const XrefData &x) {
  struct Placed {
    int64_t offset;
    int32_t num;
  };
  std::vector<Placed> order;
  for (size_t n = 1; n < x.entries.size(); ++n) {
    const XrefEntry &xe = x.entries[n];
    if (xe.kind != XrefKind::in_file) continue;
    order.push_back({xe.offset, static_cast<int32_t>(n)});
  }
  std::sort(order.begin(), order.end(),
            [](const Placed &a, const Placed &c) { return a.offset < c.offset; });
  const auto length = static_cast<int64_t>(b.s.size());
  // Each object ends where the next one in the file begins, at the latest.
  std::vector<int64_t> bound(order.size(), length);
  for (size_t i = order.size(); i-- > 1;)
    bound[i - 1] = order[i].offset > order[i - 1].offset ? order[i].offset : bound[i];
  std::vector<int32_t> stream_nums;
  for (size_t i = 0; i < order.size(); ++i) {
    const Placed &p = order[i];
    const XrefEntry &xe = x.entries[static_cast<size_t>(p.num)];
    ObjectHeader h;
    if (p.offset <= 0 || p.offset >= length ||
        !read_object_header(b.s, static_cast<int32_t>(p.offset), &h) || h.num != p.num ||
        h.gen != xe.gen) {
      b.pending.push_back(p.num);
      continue;
    }
    Slot &sl = b.slot(p.num);
    sl.entry = read_object_at(b.s, h, static_cast<int32_t>(bound[i]));
    sl.present = true;
    if (sl.entry.is_stream) stream_nums.push_back(static_cast<int32_t>(i));
  }
  // Stream data, now that indirect lengths can be looked up.
  for (const int32_t i : stream_nums) {
    ObjEntry &e = b.slot(order[static_cast<size_t>(i)].num).entry;
    int32_t indirect = -1;
    int32_t declared = stream_length_value(b.s, e, &indirect);
    if (indirect > 0) declared = integer_object(b, indirect);
    settle_stream_extent(b.s, e, declared, static_cast<int32_t>(bound[static_cast<size_t>(i)]));
  }
}

// Returns the opened object stream of container num, or nullptr.
ObjectStream *object_stream_of(Builder &b, int32_t num) {
  const auto it = b.streams.find(num);
  if (it != b.streams.end()) return &it->second;
  if (b.stream_failed.count(num) != 0) return nullptr;
  const ObjEntry *container = b.find(num);
  ObjectStream stream;
  if (container == nullptr || !open_object_stream(b.doc, *container, stream)) {
    b.stream_failed[num] = true;
    return nullptr;
  }
  return &b.streams.emplace(num, std::move(stream)).first->second;
}

// Places every object that the cross-reference data puts in an object
// stream; members that cannot be found wait in pending.
void place_compressed_objects(Builder &b, const XrefData &x) {
  for (size_t n = 1; n < x.entries.size(); ++n) {
    const XrefEntry &xe = x.entries[n];
    if (xe.kind != XrefKind::compressed) continue;
    const auto num = static_cast<int32_t>(n);
    ObjectStream *stream = object_stream_of(b, xe.container);
    const int32_t k = stream != nullptr ? find_object_stream_member(*stream, num, xe.index) : -1;
    if (k < 0) {
      b.pending.push_back(num);
      continue;
    }
    Slot &sl = b.slot(num);
    sl.entry = object_stream_member(*stream, static_cast<size_t>(k));
    sl.present = true;
  }
}

// Returns what the scan found: the last definition in the file of each
// number, or else the one from the last object stream that holds it.
std::vector<Slot> reconstructed_slots(Builder &b, const ScanResult &scan) {
  std::vector<Slot> found;
  const auto put = [&found](const ObjEntry &e) {
    if (e.num <= 0 || e.num > kMaxObjectNumber) return;
    const auto n = static_cast<size_t>(e.num);
    if (n >= found.size()) found.resize(n + 1);
    found[n].entry = e;
    found[n].present = true;
  };
  for (const ObjEntry &e : scan.objects) put(e);
  // Which numbers the file itself defines, before members are added.
  std::vector<uint8_t> in_file(found.size(), 0);
  std::vector<size_t> streams;
  for (size_t n = 0; n < found.size(); ++n) {
    if (!found[n].present) continue;
    in_file[n] = 1;
    if (found[n].entry.is_stream) streams.push_back(n);
  }
  for (const size_t n : streams) {
    ObjectStream stream;
    if (!open_object_stream(b.doc, found[n].entry, stream)) continue;
    for (size_t k = 0; k < stream.members.size(); ++k) {
      const auto num = static_cast<size_t>(stream.members[k].num);
      if (num >= in_file.size() || in_file[num] == 0) put(object_stream_member(stream, k));
    }
  }
  return found;
}

// Returns true for the input's own structure, which the output does not
// carry: object streams and cross-reference streams.
bool is_file_structure(Bytes s, const ObjEntry &e) {
  if (e.in_objstm || !e.is_stream || e.dict_pos < 0) return false;
  return dict_type_is(s, e.dict_pos, e.stream_kw_pos, "ObjStm") ||
         dict_type_is(s, e.dict_pos, e.stream_kw_pos, "XRef");
}

// Takes /Root, /Info, /ID and /Encrypt from the newest trailer that has
// each.
void read_trailer_keys(PdfDoc &doc, const std::vector<int32_t> &newest_first) {
  const Bytes s = doc_bytes(doc);
  for (const int32_t t : newest_first) {
    const int32_t end = trailer_end(s, t);
    if (doc.root_num < 0) {
      doc.root_num = dict_key_ref(s, t, end, "Root");
      if (doc.root_num < 0) doc.root_num = static_cast<int32_t>(dict_key_int(s, t, end, "Root", -1));
    }
    if (doc.info_num < 0) doc.info_num = dict_key_ref(s, t, end, "Info");
    if (!doc.encrypted && find_dict_key(s.first(static_cast<size_t>(end)), t, end, "Encrypt") >= 0) {
      doc.encrypted = 1;
      doc.encrypt_num = dict_key_ref(s, t, end, "Encrypt");
      if (doc.encrypt_num < 0) {
        const int32_t v = key_value_pos(s, t, end, "Encrypt");
        if (v >= 0 && v + 1 < end && s[v] == '<' && s[v + 1] == '<') doc.encrypt_pos = v;
      }
    }
    if (doc.trailer_id.empty()) {
      const int32_t v = key_value_pos(s, t, end, "ID");
      if (v >= 0) {
        const int32_t v_end = skip_pdf_value(s, v);
        if (v < end && s[v] == '[' && v_end > v)
          doc.trailer_id.assign(reinterpret_cast<const char *>(s.data()) + v,
                                static_cast<size_t>(v_end - v));
      }
    }
    if (doc.size < 0) doc.size = dict_key_int(s, t, end, "Size", -1);
  }
}

// Calls found(n) for each reference "n g R" in the bytes, outside strings
// and comments.
template <typename Found>
void for_each_reference(Bytes s, int32_t start, int32_t end, Found found) {
  int64_t prev2 = -1, prev1 = -1;  // the last two integers, -1 when not integers
  int32_t p = start;
  while (p < end) {
    const uint8_t c = s[p];
    if (is_pdf_ws(c)) {
      ++p;
      continue;
    }
    if (c == 'R' && (p + 1 >= end || !is_regular(s[p + 1]))) {
      if (prev2 > 0 && prev2 <= kMaxObjectNumber && prev1 >= 0) found(static_cast<int32_t>(prev2));
      prev2 = prev1 = -1;
      ++p;
      continue;
    }
    if (is_digit(c)) {
      int64_t v = 0;
      int32_t q = p;
      while (q < end && is_digit(s[q])) {
        if (v <= kMaxObjectNumber) v = v * 10 + (s[q] - '0');
        ++q;
      }
      if (q < end && is_regular(s[q])) v = -1;  // "12.5", "3x": not an integer
      while (q < end && is_regular(s[q])) ++q;
      prev2 = prev1;
      prev1 = v;
      p = q;
      continue;
    }
    prev2 = prev1 = -1;
    if (c == '<' && p + 1 < end && s[p + 1] == '<') {
      p += 2;
    } else if (c == '(' || c == '<') {
      const int32_t after = skip_pdf_value(s.first(static_cast<size_t>(end)), p);
      p = after > p ? after : end;
    } else if (c == '%') {
      while (p < end && s[p] != '\n' && s[p] != '\r') ++p;
    } else {
      ++p;
      while (p < end && is_regular(s[p]) && is_regular(s[p - 1])) ++p;
    }
  }
}

// Calls found(n) for each reference an entry makes (its stream data aside).
template <typename Found>
void for_each_reference_of(Bytes file, const ObjEntry &e, Found found) {
  if (e.in_objstm) {
    if (e.text != nullptr)
      for_each_reference(Bytes(e.text, static_cast<size_t>(e.text_len)), 0, e.text_len, found);
    return;
  }
  const int32_t end = e.is_stream ? e.stream_kw_pos : e.endobj_pos;
  if (e.body_pos >= 0 && end > e.body_pos) for_each_reference(file, e.body_pos, end, found);
}

// A /Size far beyond every number the file uses or refers to is damage:
// following it would only make the output's cross-reference table huge.
constexpr int64_t kSizeSlack = 65536;

// Moves the final index into doc: one entry per number in number order, the
// lookup table, and the first number free for new objects (above every
// number used, listed, or referred to: `referenced`).
void finish_index(PdfDoc &doc, std::vector<Slot> &slots, int32_t xref_top, int32_t referenced) {
  doc.objs.clear();
  int32_t top = xref_top > referenced ? xref_top : referenced;
  for (Slot &sl : slots) {
    if (!sl.present) continue;
    doc.objs.push_back(sl.entry);
    if (sl.entry.num > top) top = sl.entry.num;
  }
  if (doc.size - 1 > top && doc.size - 1 <= kMaxObjectNumber && doc.size - 1 <= top + kSizeSlack)
    top = static_cast<int32_t>(doc.size - 1);
  doc.max_obj_num = top;
  doc.loaded_max_num = top;
  doc.index_of_num.assign(static_cast<size_t>(top) + 1, -1);
  for (size_t i = 0; i < doc.objs.size(); ++i)
    doc.index_of_num[static_cast<size_t>(doc.objs[i].num)] = static_cast<int32_t>(i);
}

// The numbers that the document refers to (from its trailers and from the
// entries given) but that no section of the cross-reference data mentions:
// readers look for those in the file.
struct Unlisted {
  const XrefData &x;
  std::vector<uint8_t> seen;
  std::vector<int32_t> found;

  int32_t largest = 0;  // the largest number referred to at all

  void note(int32_t n) {
    if (n > largest) largest = n;
    const auto k = static_cast<size_t>(n);
    if (k < x.entries.size() && x.entries[k].kind != XrefKind::none) return;
    if (k >= seen.size()) seen.resize(k + 1, 0);
    if (seen[k] == 0) found.push_back(n);
    seen[k] = 1;
  }
  void note_references(Bytes s, const ObjEntry &e) {
    for_each_reference_of(s, e, [this](int32_t n) { note(n); });
  }
};

}  // namespace

void build_object_index(PdfDoc &doc) {
  const Bytes s = doc_bytes(doc);
  const XrefData x = read_xref(s);
  doc.startxref_offset = x.startxref;
  doc.startxref_seen = x.startxref >= 0 ? 1 : 0;
  doc.xref_is_stream = x.newest_is_stream ? 1 : 0;
  Builder b{doc, s, {}, {}, {}, {}};
  if (x.usable) {
    place_file_objects(b, x);
    place_compressed_objects(b, x);
  }
  // Data that cannot be read whole, or entries that miss their objects, are
  // repaired from the scan below; so is any object the scan supplies. A
  // number that is referred to but defined nowhere is no repair.
  doc.xref_repaired = !x.usable || !x.complete || !b.pending.empty() ? 1 : 0;
  std::vector<int32_t> trailers = x.usable ? x.trailers : std::vector<int32_t>{};
  Unlisted unlisted{x, {}, {}};
  if (x.usable) {
    for (const int32_t t : x.trailers) {
      for_each_reference(s, t, trailer_end(s, t), [&unlisted](int32_t n) { unlisted.note(n); });
    }
    for (const Slot &sl : b.slots)
      if (sl.present) unlisted.note_references(s, sl.entry);
  }
  if (!x.usable || !x.complete || !b.pending.empty() || !unlisted.found.empty()) {
    // Reconstruction, for what the cross-reference data could not place.
    const ScanResult scan = scan_file_objects(s, [&b](int32_t n) { return integer_object(b, n); });
    std::vector<Slot> found = reconstructed_slots(b, scan);
    const auto fill = [&](int32_t num) {
      if (num > 0 && static_cast<size_t>(num) < found.size() &&
          found[static_cast<size_t>(num)].present &&
          (static_cast<size_t>(num) >= b.slots.size() || !b.slots[static_cast<size_t>(num)].present)) {
        doc.xref_repaired = 1;
        b.slot(num) = found[static_cast<size_t>(num)];
        unlisted.note_references(s, b.slot(num).entry);
      }
    };
    for (size_t n = 1; n < found.size(); ++n) {
      // Without usable data, or with older sections unread, every number no
      // section mentions comes from the scan.
      const bool mentioned = x.usable && n < x.entries.size() && x.entries[n].kind != XrefKind::none;
      if (!mentioned && (!x.usable || !x.complete)) fill(static_cast<int32_t>(n));
    }
    for (const int32_t num : b.pending) fill(num);
    // What the filled objects refer to in turn is looked for too.
    for (size_t i = 0; i < unlisted.found.size(); ++i) fill(unlisted.found[i]);
    // Trailers found by the scan come after those of the chain, newest first.
    size_t taken = 0;
    for (auto it = scan.trailers.rbegin(); it != scan.trailers.rend() && taken < kMaxScannedTrailers;
         ++it, ++taken)
      trailers.push_back(*it);
  }
  // The input's own structure is not part of the document.
  for (Slot &sl : b.slots)
    if (sl.present && is_file_structure(s, sl.entry)) sl.present = false;
  for (const int32_t num : x.xref_streams) {
    if (num > 0 && static_cast<size_t>(num) < b.slots.size()) {
      Slot &sl = b.slots[static_cast<size_t>(num)];
      if (sl.present && sl.entry.is_stream && !sl.entry.in_objstm) sl.present = false;
    }
  }
  read_trailer_keys(doc, trailers);
  int32_t xref_top = 0;
  for (size_t n = x.entries.size(); n-- > 1;) {
    if (x.entries[n].kind != XrefKind::none) {
      xref_top = static_cast<int32_t>(n);
      break;
    }
  }
  finish_index(doc, b.slots, xref_top, unlisted.largest);
}

void settle_catalog(PdfDoc &doc) {
  doc.catalog_num = doc.root_num;
  if (doc.root_num < 0 || find_obj(doc, doc.root_num) == nullptr) {
    for (const ObjEntry &e : doc.objs) {
      const DictRange r = dict_range(doc, e);
      if (r.present && dict_type_is(r.bytes, r.start, r.end, "Catalog")) {
        doc.catalog_num = e.num;
        break;
      }
    }
  }
  doc.out_info_num = doc.info_num;
}

int load_document_bytes(std::unique_ptr<uint8_t[]> bytes, int64_t size, const char *name,
                        PdfDoc &doc, const Decryption &decryption) {
  if (size <= 0) return set_error(ErrorCode::damaged, "empty file: %s", name);
  if (size > kMaxInputSize)
    return set_error(ErrorCode::unsupported, "file too large (2 GiB or more are not supported): %s", name);
  doc.file = std::move(bytes);
  doc.data = doc.file.get();
  doc.length = static_cast<int32_t>(size);
  build_object_index(doc);
  if (doc.objs.empty()) return set_error(ErrorCode::damaged, "no PDF objects found in %s", name);
  if (doc.encrypted) {
    if (!decryption.open)
      return set_error(ErrorCode::encrypted, "encrypted PDFs are not supported: %s", name);
    if (!open_encryption(doc, decryption, name)) return 0;
    // Indexed again with the key: object streams are encrypted, so their
    // members could not be read before.
    PdfDoc opened;
    opened.file = std::move(doc.file);
    opened.data = opened.file.get();
    opened.length = doc.length;
    opened.security = std::move(doc.security);
    doc = std::move(opened);
    build_object_index(doc);
    if (doc.objs.empty()) return set_error(ErrorCode::damaged, "no PDF objects found in %s", name);
  }
  settle_catalog(doc);
  return 1;
}

int load_document_bytes(Bytes input, const char *name, PdfDoc &doc, const Decryption &decryption) {
  if (input.size() > static_cast<size_t>(kMaxInputSize))
    return set_error(ErrorCode::unsupported, "file too large (2 GiB or more are not supported): %s", name);
  auto copy = std::make_unique_for_overwrite<uint8_t[]>(input.size());
  if (!input.empty()) std::memcpy(copy.get(), input.data(), input.size());
  return load_document_bytes(std::move(copy), static_cast<int64_t>(input.size()), name, doc,
                             decryption);
}

int load_document(const char *input_path, PdfDoc &doc, const Decryption &decryption) {
  ReadResult file = read_whole_file(input_path);
  switch (file.status) {
    case ReadStatus::ok:
      break;
    case ReadStatus::cannot_open:
      return set_error(ErrorCode::read, "cannot open %s: %s", input_path, std::strerror(file.error_number));
    case ReadStatus::empty:
      return set_error(ErrorCode::damaged, "empty file: %s", input_path);
    case ReadStatus::too_large:
      return set_error(ErrorCode::unsupported, "file too large (2 GiB or more are not supported): %s", input_path);
    case ReadStatus::out_of_memory:
      return set_error(ErrorCode::memory, "out of memory reading %s", input_path);
    case ReadStatus::read_failed:
      return set_error(ErrorCode::read, "failed to read %s", input_path);
  }
  return load_document_bytes(std::move(file.bytes), file.size, input_path, doc, decryption);
}
