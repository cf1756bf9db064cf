#include "pdf/reconstruct.h"

#include <cstring>
#include <unordered_map>

#include "pdf/dict_values.h"
#include "pdf/object_read.h"

namespace {

// Bytes that values read past the next object header may cost beyond twice
// the file's size, so that small files with long quoted texts are read whole.
constexpr int64_t kWideReadSlack = 1 << 20;

// Returns the header of the first object that begins at or after from, or
// false when none follows.
bool next_header(Bytes s, int32_t from, ObjectHeader *out) {
  const int32_t end = size_of(s);
  for (int32_t p = from; p + 3 <= end; ++p) {
    const void *o = std::memchr(s.data() + p, 'o', static_cast<size_t>(end - 3 - p + 1));
    if (o == nullptr) return false;
    p = static_cast<int32_t>(static_cast<const uint8_t *>(o) - s.data());
    if (!kw_at(s, p, "obj")) continue;
    const int32_t h = object_header_start(s, p);
    if (h < from || h < 0) continue;
    if (read_object_header(s, h, out) && out->num > 0) return true;
  }
  return false;
}

// Candidate ends a stream's data is tried at before its length object has
// been read; beyond these, the first "endstream" is taken.
constexpr int kLengthCandidates = 64;

// Returns the integer value of the object whose header is h, or -1.
int32_t integer_body(Bytes s, const ObjectHeader &h) {
  int32_t p = skip_ws(s, h.after_obj);
  if (p >= size_of(s) || !is_digit(s[p])) return -1;
  return parse_int_at(s, &p);
}

// Returns the length of a stream's data when its /Length names object num
// and that object stands right after the stream (as most writers put it),
// holding the length that ends the data at one of the first "endstream"
// keywords after it; -1 when no candidate fits. Data that quotes other PDF
// files holds "endstream" keywords of its own, which this tells apart.
int32_t length_from_following_object(Bytes s, const ObjEntry &e, int32_t num,
                                     KeywordMemo &endstream) {
  int32_t from = e.data_pos;
  for (int k = 0; k < kLengthCandidates; ++k) {
    const int32_t es = find_end_keyword_memo(s, from, endstream);
    if (es < 0) return -1;
    from = es + 9;
    int32_t q = skip_ws(s, es + 9);
    if (!kw_at(s, q, "endobj")) continue;
    ObjectHeader h;
    if (!read_object_header(s, q + 6, &h) || h.num != num) continue;
    const int32_t v = integer_body(s, h);
    const int32_t raw = es - e.data_pos;
    if (v >= 0 && v <= raw && raw - v <= 2) return v;
  }
  return -1;
}

// Records the trailer dictionaries that stand in [from, to).
void collect_trailers(Bytes s, int32_t from, int32_t to, std::vector<int32_t> &trailers) {
  const Bytes gap = s.first(static_cast<size_t>(to));
  for (int32_t t = find_kw(gap, from, "trailer"); t >= 0; t = find_kw(gap, t + 7, "trailer")) {
    const int32_t d = skip_ws(s, t + 7);
    if (d + 1 < size_of(s) && s[d] == '<' && s[d + 1] == '<') trailers.push_back(d);
  }
}

}  // namespace

ScanResult scan_file_objects(Bytes s, const std::function<int32_t(int32_t)> &indirect_length) {
  ScanResult out;
  const int32_t end = size_of(s);
  // The searches for the end keywords, shared by every object of the scan.
  KeywordMemo ends[2] = {{"endstream"}, {"endobj"}};
  int64_t wide_budget = 2 * static_cast<int64_t>(end) + kWideReadSlack;
  std::unordered_map<int32_t, int32_t> integers;  // the last integer object of each number
  int32_t p = 0;
  ObjectHeader h;
  while (next_header(s, p, &h)) {
    collect_trailers(s, p, h.hdr_pos, out.trailers);
    // A previous object whose value never closed ends where this one begins.
    if (!out.objects.empty()) {
      ObjEntry &prev = out.objects.back();
      if (!prev.is_stream && prev.endobj_pos > h.hdr_pos) {
        prev.endobj_pos = h.hdr_pos;
        prev.obj_end = h.hdr_pos;
      }
    }
    // The value is read up to the next header first; only a value that
    // does not close there (a string quoting PDF syntax, say) is read
    // further, within a budget, so that a file full of unterminated strings
    // still costs a bounded number of passes.
    ObjectHeader next;
    const bool has_next = next_header(s, h.after_obj, &next);
    ObjEntry e = read_object_at(s, h, has_next ? next.hdr_pos : end, &ends[1]);
    if (has_next && !e.is_stream && e.obj_end < 0 && wide_budget > 0) {
      ObjEntry wide = read_object_at(s, h, end, &ends[1]);
      const int64_t cost = (wide.obj_end >= 0 ? wide.obj_end : end) - h.hdr_pos;
      wide_budget -= cost;
      if (wide.obj_end >= 0 || wide.is_stream) e = wide;
    }
    int32_t resume;
    if (e.is_stream) {
      int32_t indirect = -1;
      int32_t declared = stream_length_value(s, e, &indirect);
      if (indirect > 0) {
        declared = indirect_length(indirect);
        const auto known = integers.find(indirect);
        if (declared < 0 && known != integers.end()) declared = known->second;
        if (declared < 0) declared = length_from_following_object(s, e, indirect, ends[0]);
      }
      settle_stream_extent(s, e, declared, end, ends);
      resume = e.data_end >= 0 ? e.data_end : e.data_pos;
    } else if (e.obj_end >= 0 && e.endobj_pos >= e.body_pos) {
      // The value closed: what follows it is its endobj or the next object.
      resume = e.endobj_pos;
    } else {
      resume = e.body_pos;  // a value that never closed: look inside it
    }
    if (resume <= h.hdr_pos) resume = h.after_obj;
    if (!e.is_stream) {
      // Integers met so far serve the indirect lengths of later streams.
      const int32_t v = integer_body(s.first(static_cast<size_t>(e.endobj_pos)), h);
      if (v >= 0) integers[e.num] = v;
    }
    out.objects.push_back(e);
    p = resume;
  }
  collect_trailers(s, p, end, out.trailers);
  return out;
}
