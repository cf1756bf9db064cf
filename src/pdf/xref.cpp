#include "pdf/xref.h"

#include <cstring>
#include <unordered_set>

#include "common/limits.h"
#include "pdf/dict_values.h"
#include "pdf/object_read.h"
#include "pdf/object_streams.h"

namespace {

// Chains longer than this are damage: real documents have a handful of
// updates, and each section costs a parse.
constexpr int kMaxSections = 4096;

// A field of a cross-reference stream entry is at most this many bytes wide.
constexpr int64_t kMaxFieldWidth = 8;

// Records one entry of section `section`: an older section never replaces
// a newer one's entry, and within a hybrid file's section the table's
// entries come before those of its cross-reference stream, free ones
// included, as viewers read them.
void put_entry(XrefData &d, int64_t num, XrefEntry entry, int section) {
  if (num <= 0 || num > kMaxObjectNumber) return;
  const auto n = static_cast<size_t>(num);
  if (n >= d.entries.size()) d.entries.resize(n + 1);
  XrefEntry &slot = d.entries[n];
  if (slot.kind != XrefKind::none) return;
  entry.section = section;
  slot = entry;
}

// Reads an unsigned decimal of at most 10 digits at *p (after whitespace),
// as the fields of a cross-reference table are written.
bool read_field(Bytes s, int32_t *p, int64_t *out) {
  int32_t q = skip_ws(s, *p);
  if (!read_digits(s, &q, 10, out)) return false;
  *p = q;
  return true;
}

// Reads a classic table whose "xref" keyword ends at pos; returns the
// position of its trailer dictionary's "<<", or -1 when the table or its
// trailer cannot be read.
int32_t read_table(Bytes s, int32_t pos, int section, XrefData &d) {
  const int32_t end = size_of(s);
  int32_t p = pos;
  for (;;) {
    p = skip_ws(s, p);
    if (kw_at(s, p, "trailer")) {
      const int32_t dict = skip_ws(s, p + 7);
      return dict + 1 < end && s[dict] == '<' && s[dict + 1] == '<' ? dict : -1;
    }
    int64_t first = 0, count = 0;
    if (!read_field(s, &p, &first) || !read_field(s, &p, &count)) return -1;
    for (int64_t i = 0; i < count; ++i) {
      int64_t offset = 0, gen = 0;
      if (!read_field(s, &p, &offset) || !read_field(s, &p, &gen)) return -1;
      const int32_t t = skip_ws(s, p);
      if (t >= end || (s[t] != 'n' && s[t] != 'f') || (t + 1 < end && is_regular(s[t + 1])))
        return -1;
      p = t + 1;
      // A common writer fault: the first subsection numbered from 1 while
      // it starts with the head of the free list, which is object 0.
      if (i == 0 && first == 1 && s[t] == 'f' && gen == 65535 && offset == 0) first = 0;
      XrefEntry e;
      e.gen = static_cast<int32_t>(gen);
      if (s[t] == 'n') {
        e.kind = XrefKind::in_file;
        e.offset = offset;
      } else {
        e.kind = XrefKind::free_entry;
      }
      put_entry(d, first + i, e, section);
    }
  }
}

// Returns the big-endian number in the w bytes at p.
int64_t field_at(const uint8_t *p, int64_t w) {
  int64_t v = 0;
  for (int64_t i = 0; i < w; ++i) v = (v << 8) | p[i];
  return v;
}

// Reads the cross-reference stream whose header stands at offset; returns
// the position of its dictionary's "<<", or -1 when it cannot be read.
int32_t read_xref_stream(Bytes s, int64_t offset, int section, XrefData &d) {
  if (offset < 0 || offset >= size_of(s)) return -1;
  ObjectHeader h;
  if (!read_object_header(s, static_cast<int32_t>(offset), &h)) return -1;
  ObjEntry e = read_object_at(s, h, size_of(s));
  if (!e.is_stream || e.dict_pos < 0) return -1;
  int32_t indirect = -1;
  settle_stream_extent(s, e, stream_length_value(s, e, &indirect), size_of(s));
  const int32_t dict_end = e.stream_kw_pos;
  const std::vector<int64_t> w = dict_key_ints(s, e.dict_pos, dict_end, "W");
  if (w.size() < 3) return -1;
  int64_t width = 0;
  for (size_t i = 0; i < 3; ++i) {
    if (w[i] < 0 || w[i] > kMaxFieldWidth) return -1;
    width += w[i];
  }
  if (width == 0) return -1;
  ByteBuf scratch;
  int32_t n = 0;
  const uint8_t *data = decode_stream_obj(&e, s, scratch, &n);
  if (data == nullptr) return -1;
  const int64_t size = dict_key_int(s, e.dict_pos, dict_end, "Size", 0);
  std::vector<int64_t> index = dict_key_ints(s, e.dict_pos, dict_end, "Index");
  if (index.size() < 2) index = {0, size};
  int64_t at = 0;
  for (size_t r = 0; r + 1 < index.size(); r += 2) {
    const int64_t first = index[r];
    for (int64_t k = 0; k < index[r + 1] && at + width <= n; ++k, at += width) {
      const uint8_t *row = data + at;
      const int64_t type = w[0] == 0 ? 1 : field_at(row, w[0]);
      const int64_t f1 = field_at(row + w[0], w[1]);
      const int64_t f2 = field_at(row + w[0] + w[1], w[2]);
      XrefEntry x;
      if (type == 0) {
        x.kind = XrefKind::free_entry;
      } else if (type == 1) {
        x.kind = XrefKind::in_file;
        x.offset = f1;
        x.gen = static_cast<int32_t>(f2 > INT32_MAX ? INT32_MAX : f2);
      } else if (type == 2) {
        if (f1 <= 0 || f1 > kMaxObjectNumber || f2 > INT32_MAX) continue;
        x.kind = XrefKind::compressed;
        x.container = static_cast<int32_t>(f1);
        x.index = static_cast<int32_t>(f2);
      } else {
        continue;  // other types are reserved: readers take them as null
      }
      put_entry(d, first + k, x, section);
    }
  }
  d.xref_streams.push_back(h.num);
  return e.dict_pos;
}

}  // namespace

int32_t find_startxref(Bytes s) {
  constexpr std::string_view kw = "startxref";
  const int32_t end = size_of(s);
  for (int32_t p = end - static_cast<int32_t>(kw.size()); p >= 0; --p) {
    if (s[p] != 's' || std::memcmp(s.data() + p, kw.data(), kw.size()) != 0) continue;
    if (!kw_at(s, p, kw) || (p > 0 && is_regular(s[p - 1]))) continue;
    int32_t q = p + static_cast<int32_t>(kw.size());
    int64_t offset = 0;
    if (!read_field(s, &q, &offset) || offset >= end) return -1;
    return static_cast<int32_t>(offset);
  }
  return -1;
}

XrefData read_xref(Bytes s) {
  XrefData d;
  d.startxref = find_startxref(s);
  std::unordered_set<int64_t> seen;
  int64_t offset = d.startxref;
  for (int section = 0; section < kMaxSections; ++section) {
    if (offset < 0) {
      d.complete = d.usable;  // the oldest section: the chain is whole
      return d;
    }
    // An offset outside the file or a loop leaves older sections unread.
    if (offset >= size_of(s) || !seen.insert(offset).second) return d;
    const int32_t p = skip_ws(s, static_cast<int32_t>(offset));
    int32_t trailer = -1;
    if (kw_at(s, p, "xref")) {
      trailer = read_table(s, p + 4, section, d);
      if (trailer >= 0) {
        const int64_t stream = dict_key_int(s, trailer, trailer_end(s, trailer), "XRefStm", -1);
        if (stream > 0) (void)read_xref_stream(s, stream, section, d);
      }
    } else {
      trailer = read_xref_stream(s, offset, section, d);
      if (section == 0) d.newest_is_stream = trailer >= 0;
    }
    if (trailer < 0) return d;  // a section that cannot be read ends the chain
    d.trailers.push_back(trailer);
    if (section == 0) d.usable = true;
    const int32_t end = trailer_end(s, trailer);
    offset = dict_key_int(s, trailer, end, "Prev", -1);
    // A /Prev that is not an offset leaves the older sections unread.
    if (offset < 0 && find_dict_key(s, trailer, end, "Prev") >= 0) return d;
  }
  return d;
}
