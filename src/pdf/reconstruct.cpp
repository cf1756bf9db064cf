#include "pdf/reconstruct.h"

#include <cstring>

#include "pdf/object_read.h"

namespace {

int32_t size_of(Bytes s) { return static_cast<int32_t>(s.size()); }

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
      if (indirect > 0) declared = indirect_length(indirect);
      settle_stream_extent(s, e, declared, end, ends);
      resume = e.data_end >= 0 ? e.data_end : e.data_pos;
    } else if (e.obj_end >= 0 && e.endobj_pos >= e.body_pos) {
      // The value closed: what follows it is its endobj or the next object.
      resume = e.endobj_pos;
    } else {
      resume = e.body_pos;  // a value that never closed: look inside it
    }
    if (resume <= h.hdr_pos) resume = h.after_obj;
    out.objects.push_back(e);
    p = resume;
  }
  collect_trailers(s, p, end, out.trailers);
  return out;
}
