#include "pdf/object_read.h"

#include <cstring>

#include "pdf/dict_values.h"

namespace {

// Object and generation numbers are at most ten digits: anything longer is
// not a header (and would overflow).
constexpr int kMaxHeaderDigits = 10;

// Returns the first byte of stream data after the "stream" keyword at kw:
// spaces and tabs, then one CR LF, CR or LF, are passed over.
int32_t stream_data_start(Bytes s, int32_t kw) {
  const int32_t end = size_of(s);
  int32_t d = kw + 6;
  int32_t k = d;
  while (k < end && (s[k] == ' ' || s[k] == '\t')) ++k;
  if (k + 1 < end && s[k] == '\r' && s[k + 1] == '\n') return k + 2;
  if (k < end && (s[k] == '\r' || s[k] == '\n')) return k + 1;
  return d;
}

// Sets obj_end from the "endobj" that ends the object after `from`, when
// there is one before bound.
void settle_endobj(Bytes s, ObjEntry &e, int32_t from, int32_t bound, KeywordMemo *memo) {
  const Bytes b = s.first(static_cast<size_t>(bound));
  const int32_t at = skip_ws(b, from);
  int32_t t = at;
  if (!bytes_at(b, at, "endobj"))
    t = memo != nullptr ? find_end_keyword_memo(s, from, *memo)
                        : find_end_keyword(s, from, bound, "endobj");
  if (t >= 0 && t < bound) e.obj_end = t + 6;
}

}  // namespace

bool read_object_header(Bytes s, int32_t pos, ObjectHeader *out) {
  const int32_t end = size_of(s);
  const int32_t p = skip_ws(s, pos);
  if (p < 0 || p >= end || !is_digit(s[p])) return false;
  int64_t num = 0, gen = 0;
  int32_t q = p;
  if (!read_digits(s, &q, kMaxHeaderDigits, &num)) return false;
  const int32_t g = skip_ws(s, q);
  if (g == q) return false;  // the two numbers need whitespace between them
  q = g;
  if (!read_digits(s, &q, kMaxHeaderDigits, &gen)) return false;
  const int32_t k = skip_ws(s, q);
  if (!kw_at(s, k, "obj") || num > INT32_MAX || gen > INT32_MAX) return false;
  out->num = static_cast<int32_t>(num);
  out->gen = static_cast<int32_t>(gen);
  out->hdr_pos = p;
  out->after_obj = k + 3;
  return true;
}

ObjEntry read_object_at(Bytes s, const ObjectHeader &header, int32_t bound, KeywordMemo *endobj) {
  if (bound > size_of(s) || bound < 0) bound = size_of(s);
  const Bytes b = s.first(static_cast<size_t>(bound));
  ObjEntry e;
  e.num = header.num;
  e.gen = header.gen;
  e.hdr_pos = header.hdr_pos;
  const int32_t v = skip_ws(b, header.after_obj);
  e.body_pos = v;
  if (v >= bound) {
    e.endobj_pos = bound;
    return e;
  }
  if (bytes_at(b, v, "endobj")) {
    // An empty object: readers take it as null.
    e.endobj_pos = v;
    e.obj_end = v + 6;
    return e;
  }
  int32_t end_of_value;
  if (v + 1 < bound && b[v] == '<' && b[v + 1] == '<') {
    e.dict_pos = v;
    end_of_value = find_object_dict_close(b, v, -1);
    if (end_of_value >= 0) {
      const int32_t k = skip_ws(b, end_of_value);
      if (kw_at(b, k, "stream")) {
        e.is_stream = 1;
        e.stream_kw_pos = k;
        e.data_pos = stream_data_start(b, k);
        e.endobj_pos = end_of_value;
        return e;
      }
    }
  } else {
    end_of_value = skip_object_value(b, v);
  }
  if (end_of_value < 0) {
    // A value that does not close: the body runs to its endobj, or to the
    // bound when it has none.
    // obj_end stays -1: the value did not close.
    int32_t t = endobj != nullptr ? find_end_keyword_memo(s, v, *endobj)
                                  : find_end_keyword(s, v, bound, "endobj");
    e.endobj_pos = t >= 0 && t < bound ? t : bound;
    return e;
  }
  e.endobj_pos = end_of_value;
  settle_endobj(s, e, end_of_value, bound, endobj);
  if (e.obj_end < 0) e.obj_end = end_of_value;
  return e;
}

int32_t find_end_keyword_memo(Bytes s, int32_t from, KeywordMemo &memo) {
  if (memo.last_from >= 0 && from >= memo.last_from && (memo.last_hit < 0 || from <= memo.last_hit))
    return memo.last_hit;
  memo.last_from = from;
  memo.last_hit = find_end_keyword(s, from, size_of(s), memo.keyword);
  return memo.last_hit;
}

void settle_stream_extent(Bytes s, ObjEntry &e, int32_t declared, int32_t bound,
                          KeywordMemo *memo) {
  if (!e.is_stream || e.data_pos < 0) return;
  if (bound > size_of(s) || bound < 0) bound = size_of(s);
  int32_t endstream = -1;
  if (declared >= 0 && static_cast<int64_t>(e.data_pos) + declared <= bound) {
    int32_t q = e.data_pos + declared;
    while (q < bound && is_pdf_ws(s[q])) ++q;
    if (bytes_at(s.first(static_cast<size_t>(bound)), q, "endstream")) {
      e.data_end = e.data_pos + declared;
      endstream = q;
    }
  }
  if (endstream < 0) {
    // The length is missing or wrong: the data ends before the next
    // "endstream", less the end-of-line in front of it, or, where the
    // keyword is missing or misspelt, before the object's "endobj".
    endstream = memo != nullptr ? find_end_keyword_memo(s, e.data_pos, memo[0])
                                : find_end_keyword(s, e.data_pos, bound, "endstream");
    if (endstream >= bound) endstream = -1;
    int32_t endobj = memo != nullptr ? find_end_keyword_memo(s, e.data_pos, memo[1])
                                     : find_end_keyword(s, e.data_pos, bound, "endobj");
    if (endobj >= bound) endobj = -1;
    if (endobj >= 0 && (endstream < 0 || endobj < endstream)) {
      int32_t data_end = endobj;
      if (data_end > e.data_pos && s[data_end - 1] == '\n') --data_end;
      if (data_end > e.data_pos && s[data_end - 1] == '\r') --data_end;
      e.data_end = data_end;
      e.stream_len = data_end - e.data_pos;
      e.obj_end = endobj + 6;
      return;
    }
    if (endstream < 0) return;
    int32_t data_end = endstream;
    if (data_end > e.data_pos && s[data_end - 1] == '\n') --data_end;
    if (data_end > e.data_pos && s[data_end - 1] == '\r') --data_end;
    e.data_end = data_end;
  }
  e.stream_len = e.data_end - e.data_pos;
  e.obj_end = endstream + 9;
  settle_endobj(s, e, endstream + 9, bound, nullptr);
}

int32_t stream_length_value(Bytes s, const ObjEntry &e, int32_t *indirect) {
  *indirect = -1;
  if (e.dict_pos < 0 || e.stream_kw_pos <= e.dict_pos) return -1;
  const Bytes dict = s.first(static_cast<size_t>(e.stream_kw_pos));
  const int32_t value = key_value_pos(dict, e.dict_pos, e.stream_kw_pos, "Length");
  if (value < 0 || value >= e.stream_kw_pos || !is_digit(dict[value])) return -1;
  int32_t pos = value;
  const int32_t v = parse_int_at(dict, &pos);
  const int32_t end = skip_object_value(dict, value);
  if (end > pos) {
    // "n g R": the length is the integer inside object n.
    *indirect = v;
    return -1;
  }
  return v;
}

int32_t find_end_keyword(Bytes s, int32_t from, int32_t bound, std::string_view keyword) {
  if (bound > size_of(s) || bound < 0) bound = size_of(s);
  if (from < 0) from = 0;
  const int64_t n = static_cast<int64_t>(keyword.size());
  for (int64_t i = from; i + n <= bound; ++i) {
    const void *hit = std::memchr(s.data() + i, keyword[0], static_cast<size_t>(bound - n - i + 1));
    if (hit == nullptr) return -1;
    i = static_cast<const uint8_t *>(hit) - s.data();
    if (std::memcmp(s.data() + i, keyword.data(), keyword.size()) != 0) continue;
    const int64_t after = i + n;
    if (after == size_of(s) || !is_regular(s[static_cast<size_t>(after)]))
      return static_cast<int32_t>(i);
  }
  return -1;
}

