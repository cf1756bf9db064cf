#include "pdf/load.h"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "common/error.h"
#include "platform/file_io.h"
#include "pdf/object_streams.h"

namespace {

// startxref stands in the last few hundred bytes of any sane file; looking
// further back would only find the keyword inside data.
constexpr int32_t kStartxrefWindow = 2048;


bool is_objstm(Bytes s, const ObjEntry &e) {
  if (!e.is_stream || e.dict_pos < 0 || e.in_objstm) return false;
  int32_t end = static_cast<int32_t>(s.size());
  if (e.stream_kw_pos > 0) end = e.stream_kw_pos;
  else if (e.endobj_pos > 0) end = e.endobj_pos;
  return find_name(s, e.dict_pos, end, "ObjStm") >= 0;
}

// Returns the first entry (among those found by the scan) for each object
// number, built on first use: indirect /Length lookups need it.
struct FirstByNumber {
  const std::vector<ObjEntry> &index;
  std::unordered_map<int32_t, int32_t> table;
  bool built = false;

  const ObjEntry *find(int32_t num) {
    if (!built) {
      table.reserve(index.size());
      for (size_t i = 0; i < index.size(); ++i)
        table.emplace(index[i].num, static_cast<int32_t>(i));
      built = true;
    }
    const auto it = table.find(num);
    return it == table.end() ? nullptr : &index[static_cast<size_t>(it->second)];
  }
};

// Returns the /Length of a stream object when it is usable: a direct
// integer, or a reference to a non-stream object holding one. -1 otherwise.
int32_t declared_length(Bytes s, const ObjEntry &e, FirstByNumber &first) {
  const Bytes dict = s.first(static_cast<size_t>(e.stream_kw_pos));
  const int32_t name = find_name(dict, e.dict_pos, e.stream_kw_pos, "Length");
  if (name < 0) return -1;
  int32_t pos = skip_ws(dict, name + 7);
  if (pos >= e.stream_kw_pos || !is_digit(dict[pos])) return -1;
  const int32_t v = parse_int_at(dict, &pos);
  int32_t after = skip_ws(dict, pos);
  if (after >= e.stream_kw_pos || !is_digit(dict[after])) return v;
  (void)parse_int_at(dict, &after);
  const int32_t r = skip_ws(dict, after);
  if (r >= e.stream_kw_pos || dict[r] != 'R') return v;
  // An indirect length: the integer inside object v.
  if (v <= 0) return -1;
  const ObjEntry *target = first.find(v);
  if (target == nullptr || target->is_stream) return -1;
  int32_t q = target->hdr_pos;
  (void)parse_int_at(s, &q);
  (void)parse_int_at(s, &q);
  q = skip_ws(s, q);
  if (kw_at(s, q, "obj")) q += 3;
  return parse_int_at(s, &q);
}

// Returns find_kw(s, from, keyword), remembering the last answer: a search
// from any position between the last start and its hit has the same answer,
// so objects that lack their endobj or endstream cost one scan of the rest of
// the file in all, not one each.
struct KeywordSearch {
  std::string_view keyword;
  int32_t last_from = -1;
  int32_t last_hit = -1;

  int32_t find(Bytes s, int32_t from) {
    if (last_from >= 0 && from >= last_from && (last_hit < 0 || from <= last_hit)) return last_hit;
    last_from = from;
    last_hit = find_kw(s, from, keyword);
    return last_hit;
  }
};

struct BodySearches {
  KeywordSearch endobj{"endobj"};
  KeywordSearch endstream{"endstream"};
};

// The header positions of the scanned objects, asked for in rising order:
// after(pos) is the first header beyond pos, or -1 when none follows. The
// questions only move forward, so all of them together cost one pass.
struct NextHeader {
  const std::vector<ObjEntry> &index;
  size_t at;

  int32_t after(int32_t pos) {
    while (at < index.size() && (index[at].in_objstm || index[at].hdr_pos <= pos)) ++at;
    return at < index.size() ? index[at].hdr_pos : -1;
  }
};

// The smaller of two scan limits, where -1 means the end of the file.
int32_t nearer_limit(int32_t a, int32_t b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return a < b ? a : b;
}

void resolve_stream(Bytes s, ObjEntry &e, FirstByNumber &first, BodySearches &search) {
  const int32_t length = static_cast<int32_t>(s.size());
  const int32_t v = declared_length(s, e, first);
  if (v >= 0 && static_cast<int64_t>(e.data_pos) + v <= length) {
    e.data_end = e.data_pos + v;
    e.stream_len = v;
    const int32_t t = search.endobj.find(s, e.data_end);
    if (t >= 0) {
      e.endobj_pos = t;
      e.obj_end = t + 6;
    }
    return;
  }
  // The length is missing or wrong: the stream ends at "endstream", less
  // the end-of-line before it.
  const int32_t end = search.endstream.find(s, e.data_pos);
  if (end < 0) return;
  int32_t data_end = end;
  if (end > e.data_pos && (s[end - 1] == '\n' || s[end - 1] == '\r')) {
    data_end = end - 1;
    if (end > e.data_pos + 1 && s[end - 2] == '\r' && s[end - 1] == '\n') data_end = end - 2;
  }
  e.data_end = data_end;
  e.stream_len = data_end - e.data_pos;
  const int32_t t = search.endobj.find(s, end + 9);
  if (t >= 0) {
    e.endobj_pos = t;
    e.obj_end = t + 6;
  }
}

void resolve_plain(Bytes s, ObjEntry &e, BodySearches &search, NextHeader &next) {
  const int32_t length = static_cast<int32_t>(s.size());
  int32_t t;
  if (e.dict_pos < 0) {
    t = search.endobj.find(s, e.hdr_pos);
    if (t < 0) return;
  } else {
    // The dictionary ends before the next object's header at the latest.
    const int32_t bound = next.after(e.dict_pos);
    t = search.endobj.find(s, e.dict_pos);
    if (t >= 0) {
      const int32_t c = find_object_dict_close(s, e.dict_pos, nearer_limit(t, bound));
      // An "obj" between the dictionary and this "endobj" means the endobj
      // belongs to a later object: this one ends with its dictionary.
      if (c >= 0 && find_kw(s.first(static_cast<size_t>(t) + 1), c, "obj") >= 0) t = c;
    } else {
      t = find_object_dict_close(s, e.dict_pos, bound);
      if (t < 0) return;
    }
  }
  e.endobj_pos = t;
  e.obj_end = t + 5 < length && std::memcmp(s.data() + t, "endobj", 6) == 0 ? t + 6 : t;
}

}  // namespace

void parse_trailer_dict(Bytes s, int32_t dict_pos, PdfDoc &doc) {
  const int32_t end = static_cast<int32_t>(s.size());
  const auto reference_after = [&](int32_t name, int32_t name_len) {
    int32_t pos = name + 1 + name_len;
    return parse_int_at(s, &pos);
  };
  if (doc.root_num < 0) {
    const int32_t at = find_name(s, dict_pos, end, "Root");
    if (at >= 0) doc.root_num = reference_after(at, 4);
  }
  if (doc.info_num < 0) {
    const int32_t at = find_name(s, dict_pos, end, "Info");
    if (at >= 0) doc.info_num = reference_after(at, 4);
  }
  if (find_name(s, dict_pos, end, "Encrypt") >= 0) doc.encrypted = 1;
}

void read_trailer_facts(PdfDoc &doc) {
  const Bytes s = doc_bytes(doc);
  const int32_t length = doc.length;
  if (length < 9) return;
  int32_t hit = -1;
  const int32_t lowest = length - kStartxrefWindow > 0 ? length - kStartxrefWindow : 0;
  for (int32_t p = length - 9; p >= lowest; --p) {
    if (s[p] == 's' && kw_at(s, p, "startxref")) {
      hit = p;
      break;
    }
  }
  if (hit < 0) return;
  doc.startxref_seen = 1;
  int32_t pos = hit + 9;
  while (pos < length && !(s[pos] == '+' || s[pos] == '-' || is_digit(s[pos]))) ++pos;
  if (pos >= length) {
    doc.startxref_offset = -1;
    return;
  }
  doc.startxref_offset = parse_int_at(s, &pos);
  if (doc.startxref_offset < 0 || doc.startxref_offset >= length) return;
  int32_t at = skip_ws(s, doc.startxref_offset);
  if (kw_at(s, at, "xref")) {
    const int32_t trailer = find_kw(s, at, "trailer");
    if (trailer < 0) return;
    at = trailer + 7;
  } else {
    if (at >= length || !is_digit(s[at])) return;
    const int32_t obj = find_kw(s, at, "obj");
    if (obj < 0) return;
    at = obj + 3;
  }
  at = skip_ws(s, at);
  if (at >= length || s[at] != '<') return;
  parse_trailer_dict(s, at, doc);
}

void scan_pass1(Bytes s, std::vector<ObjEntry> &index) {
  const int32_t length = static_cast<int32_t>(s.size());
  if (length < 4) return;
  const uint8_t *base = s.data();
  const size_t first = index.size();
  // First every object header, in file order; the position of each "obj"
  // waits in dict_pos until the dictionaries are looked at below.
  for (int32_t p = 0; p <= length - 4; ++p) {
    // Jump to the next candidate "obj".
    const void *o = std::memchr(base + p, 'o', static_cast<size_t>(length - 4 - p + 1));
    if (o == nullptr) break;
    p = static_cast<int32_t>(static_cast<const uint8_t *>(o) - base);
    if (!kw_at(s, p, "obj")) continue;
    const int32_t hdr = object_header_start(s, p);
    if (hdr < 0) continue;
    ObjEntry e;
    int32_t q = hdr;
    e.num = parse_int_at(s, &q);
    e.gen = parse_int_at(s, &q);
    if (e.num < 1) continue;
    e.hdr_pos = hdr;
    e.dict_pos = p;
    index.push_back(e);
  }
  // Then each dictionary, which never runs past the next object's header:
  // a string left open in one object must not make every object scan to
  // the end of the file.
  NextHeader next{index, first};
  for (size_t i = first; i < index.size(); ++i) {
    ObjEntry &e = index[i];
    const int32_t after = skip_ws(s, e.dict_pos + 3);
    e.dict_pos = -1;
    if (after >= length || s[after] != '<') continue;
    e.dict_pos = after;
    const int32_t close = find_object_dict_close(s, after, next.after(after));
    if (close < 0) continue;
    const int32_t kw = skip_ws(s, close);
    if (!kw_at(s, kw, "stream")) continue;
    e.stream_kw_pos = kw;
    e.is_stream = 1;
    int32_t d = kw + 6;
    int32_t k = d;
    while (k < length && (s[k] == ' ' || s[k] == '\t')) ++k;
    if (k + 1 < length && s[k] == '\r' && s[k + 1] == '\n') {
      d = k + 2;
    } else if (k < length && (s[k] == '\r' || s[k] == '\n')) {
      d = k + 1;
    }
    e.data_pos = d;
  }
}

void resolve_body_bounds(Bytes s, std::vector<ObjEntry> &index) {
  FirstByNumber first{index, {}, false};
  BodySearches search;
  NextHeader next{index, 0};
  for (ObjEntry &e : index) {
    if (e.in_objstm) continue;
    if (e.is_stream) {
      resolve_stream(s, e, first, search);
    } else {
      resolve_plain(s, e, search, next);
    }
  }
}

void select_definitions(PdfDoc &doc) {
  const Bytes s = doc_bytes(doc);
  int32_t top = 0;
  for (const ObjEntry &e : doc.objs)
    if (e.num <= kMaxObjectNumber && e.num > top) top = e.num;
  std::vector<int32_t> last_plain(static_cast<size_t>(top) + 1, -1);
  std::vector<int32_t> last_objstm(static_cast<size_t>(top) + 1, -1);
  std::vector<bool> container(doc.objs.size(), false);
  for (size_t i = 0; i < doc.objs.size(); ++i) {
    const ObjEntry &e = doc.objs[i];
    if (e.num < 0 || e.num > top) continue;
    if (e.in_objstm) {
      last_objstm[static_cast<size_t>(e.num)] = static_cast<int32_t>(i);
    } else if (is_objstm(s, e)) {
      container[i] = true;
    } else {
      last_plain[static_cast<size_t>(e.num)] = static_cast<int32_t>(i);
    }
  }
  std::vector<ObjEntry> kept;
  kept.reserve(doc.objs.size());
  int32_t max_num = 0;
  for (size_t i = 0; i < doc.objs.size(); ++i) {
    const ObjEntry &e = doc.objs[i];
    if (e.num < 0 || e.num > top) continue;
    const size_t n = static_cast<size_t>(e.num);
    const bool keep = e.in_objstm
                          ? last_plain[n] == -1 && last_objstm[n] == static_cast<int32_t>(i)
                          : !container[i] && last_plain[n] == static_cast<int32_t>(i);
    if (!keep) continue;
    kept.push_back(e);
    if (e.num > max_num) max_num = e.num;
  }
  doc.objs = std::move(kept);
  doc.max_obj_num = max_num;
  doc.index_of_num.assign(static_cast<size_t>(max_num) + 1, -1);
  for (size_t i = 0; i < doc.objs.size(); ++i) {
    int32_t &slot = doc.index_of_num[static_cast<size_t>(doc.objs[i].num)];
    if (slot < 0) slot = static_cast<int32_t>(i);
  }
}

void settle_catalog(PdfDoc &doc) {
  doc.catalog_num = doc.root_num;
  if (doc.root_num < 0 || find_obj(doc, doc.root_num) == nullptr) {
    for (const ObjEntry &e : doc.objs) {
      DictRange r = dict_range(doc, e);
      if (!r.present && !e.in_objstm) {
        // No dictionary: search the object from its header instead.
        int32_t end = doc.length;
        if (e.stream_kw_pos > 0) end = e.stream_kw_pos;
        else if (e.endobj_pos > 0) end = e.endobj_pos;
        r.bytes = doc_bytes(doc).first(static_cast<size_t>(end));
        r.start = e.hdr_pos;
        r.end = end;
        r.present = true;
      }
      if (r.present && find_name(r.bytes, r.start, r.end, "Catalog") >= 0) {
        doc.catalog_num = e.num;
        break;
      }
    }
  }
  doc.out_info_num = doc.info_num;
}

int load_document(const char *input_path, PdfDoc &doc) {
  ReadResult file = read_whole_file(input_path);
  switch (file.status) {
    case ReadStatus::ok:
      break;
    case ReadStatus::cannot_open:
      set_error("cannot open %s: %s", input_path, std::strerror(file.error_number));
      return 0;
    case ReadStatus::empty:
      set_error("empty file: %s", input_path);
      return 0;
    case ReadStatus::too_large:
      set_error("file too large (2 GiB or more are not supported): %s", input_path);
      return 0;
    case ReadStatus::out_of_memory:
      set_error("out of memory reading %s", input_path);
      return 0;
    case ReadStatus::read_failed:
      set_error("failed to read %s", input_path);
      return 0;
  }
  doc.file = std::move(file.bytes);
  doc.data = doc.file.get();
  doc.length = static_cast<int32_t>(file.size);

  read_trailer_facts(doc);
  const Bytes s = doc_bytes(doc);
  scan_pass1(s, doc.objs);
  resolve_body_bounds(s, doc.objs);
  expand_object_streams(doc);
  select_definitions(doc);
  if (doc.objs.empty()) {
    set_error("no PDF objects found in %s", input_path);
    return 0;
  }
  if (doc.encrypted) {
    set_error("encrypted PDFs are not supported: %s", input_path);
    return 0;
  }
  settle_catalog(doc);
  return 1;
}
