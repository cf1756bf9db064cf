#include "pdf/stream_filters.h"

#include <array>
#include <string_view>
#include <vector>

#include "common/limits.h"
#include "filters/filters.h"
#include "pdf/dict_values.h"
#include "security/security.h"

namespace {

enum class FilterKind { ascii_hex, ascii85, lzw, run_length, flate };

struct FilterStep {
  FilterKind kind = FilterKind::flate;
  PredictorParams predictor;
  bool early_change = true;
};

struct FilterChain {
  std::array<FilterStep, kMaxFilterChain> steps;
  int count = 0;
  // A /Crypt filter first in the chain names the stream's own crypt filter;
  // only /Identity (its default) is told apart: the data is not encrypted.
  bool crypt = false;
  bool crypt_identity = true;
};

// The filters decoded here, by full name and by the abbreviation that
// inline images use (which some writers put on streams too).
struct FilterName {
  std::string_view full;
  std::string_view abbreviation;
  FilterKind kind;
};
constexpr FilterName kFilterNames[] = {
    {"FlateDecode", "Fl", FilterKind::flate},
    {"ASCII85Decode", "A85", FilterKind::ascii85},
    {"ASCIIHexDecode", "AHx", FilterKind::ascii_hex},
    {"LZWDecode", "LZW", FilterKind::lzw},
    {"RunLengthDecode", "RL", FilterKind::run_length},
};

// Returns true with the name whose '/' is at pos in *name and *end past it.
bool read_name(Bytes d, int32_t pos, std::string_view *name, int32_t *end) {
  if (pos < 0 || pos >= size_of(d) || d[pos] != '/') return false;
  *end = skip_pdf_value(d, pos);
  if (*end <= pos) return false;
  *name = {reinterpret_cast<const char *>(d.data()) + pos + 1, static_cast<size_t>(*end - pos - 1)};
  return true;
}

// Returns true after appending the filter whose name stands at pos.
bool add_filter(Bytes d, int32_t pos, FilterChain &chain, int32_t *end) {
  std::string_view name;
  if (chain.count == kMaxFilterChain || !read_name(d, pos, &name, end)) return false;
  if (name == "Crypt" && chain.count == 0 && !chain.crypt) {
    chain.crypt = true;
    return true;
  }
  for (const FilterName &f : kFilterNames) {
    if (name == f.full || name == f.abbreviation) {
      chain.steps[static_cast<size_t>(chain.count++)].kind = f.kind;
      return true;
    }
  }
  return false;  // an image filter, a /Crypt filter not first, or a name unknown here
}

// Reads the parameters of the /Crypt filter, the dictionary at pos: its
// /Name, /Identity when absent.
void read_crypt_params(Bytes d, int32_t pos, FilterChain &chain) {
  if (pos + 1 >= size_of(d) || d[pos] != '<' || d[pos + 1] != '<') return;
  const int32_t end = size_of(d);
  chain.crypt_identity = key_value_pos(d, pos, end, "Name") < 0 ||
                         dict_key_name_is(d, pos, end, "Name", "Identity");
}

// Returns true after reading the parameters of the dictionary whose "<<"
// is at pos into step; "null" leaves the defaults.
bool read_params(Bytes d, int32_t pos, FilterStep &step) {
  if (kw_at(d, pos, "null")) return true;
  if (pos + 1 >= size_of(d) || d[pos] != '<' || d[pos + 1] != '<') return false;  // a reference, or junk
  const int32_t end = size_of(d);
  PredictorParams &p = step.predictor;
  p.predictor = dict_key_int(d, pos, end, "Predictor", 1);
  p.colors = dict_key_int(d, pos, end, "Colors", 1);
  p.bits_per_component = dict_key_int(d, pos, end, "BitsPerComponent", 8);
  p.columns = dict_key_int(d, pos, end, "Columns", 1);
  step.early_change = dict_key_int(d, pos, end, "EarlyChange", 1) != 0;
  return true;
}

// Returns true with the stream's filters and their parameters in chain;
// false when one of them is not decoded here.
bool read_chain(const DictRange &r, FilterChain &chain) {
  chain.count = 0;
  const Bytes d = r.bytes;
  const int32_t end = size_of(d);
  int32_t pos = key_value_pos(d, r.start, end, "Filter");
  if (pos < 0 || (pos < end && kw_at(d, pos, "null"))) return true;
  if (pos >= end) return false;  // a key without a value
  int32_t after = 0;
  if (d[pos] == '[') {
    for (pos = skip_ws(d, pos + 1); pos < end && d[pos] != ']'; pos = skip_ws(d, after))
      if (!add_filter(d, pos, chain, &after)) return false;
    if (pos >= end) return false;  // the array does not close
  } else if (!add_filter(d, pos, chain, &after)) {
    return false;
  }

  // /DP is the abbreviation inline images use.
  pos = key_value_pos(d, r.start, end, "DecodeParms");
  if (pos < 0) pos = key_value_pos(d, r.start, end, "DP");
  if (pos >= end) return false;
  if (pos >= 0 && d[pos] == '[') {
    // One element a filter, in order; missing ones leave the defaults.
    pos = skip_ws(d, pos + 1);
    if (chain.crypt && pos < end && d[pos] != ']') {
      read_crypt_params(d, pos, chain);
      after = skip_pdf_value(d, pos);
      if (after <= pos) return false;
      pos = skip_ws(d, after);
    }
    for (int k = 0; k < chain.count && pos < end && d[pos] != ']'; ++k) {
      if (!read_params(d, pos, chain.steps[static_cast<size_t>(k)])) return false;
      after = skip_pdf_value(d, pos);
      if (after <= pos) return false;
      pos = skip_ws(d, after);
    }
  } else if (pos >= 0) {
    // One dictionary: the parameters of every filter (only LZW and Flate
    // read any; a lone /Crypt filter its name).
    if (chain.crypt && chain.count == 0) read_crypt_params(d, pos, chain);
    for (int k = 0; k < chain.count; ++k)
      if (!read_params(d, pos, chain.steps[static_cast<size_t>(k)])) return false;
  }
  for (int k = 0; k < chain.count; ++k)
    if (!predictor_supported(chain.steps[static_cast<size_t>(k)].predictor)) return false;
  return true;
}

// Returns how one step decoded in into out (emptied first).
FilterStatus run_step(const FilterStep &step, Bytes in, ByteBuf &out) {
  out.length = 0;
  switch (step.kind) {
    case FilterKind::ascii_hex: return ascii_hex_decode(in, out, kMaxInflatedStream);
    case FilterKind::ascii85: return ascii85_decode(in, out, kMaxInflatedStream);
    case FilterKind::run_length: return run_length_decode(in, out, kMaxInflatedStream);
    case FilterKind::lzw:
    case FilterKind::flate: break;
  }
  const FilterStatus s = step.kind == FilterKind::lzw ? lzw_decode(in, out, kMaxInflatedStream, step.early_change)
                                                      : flate_decode(in, out, kMaxInflatedStream);
  if (s == FilterStatus::too_large) return s;
  // Whatever came through, damaged or not, is predicted rows.
  const FilterStatus p = undo_predictor(out, 0, step.predictor);
  return s == FilterStatus::ok ? p : s;
}

// Empties the buffer and returns status.
DecodeStatus fail(ByteBuf &out, DecodeStatus status) {
  out.length = 0;
  if (out.data != nullptr) out.data[0] = 0;
  return status;
}

// Returns how the stream's stored data is encrypted: not at all when its
// own /Crypt filter says /Identity, nor cross-reference streams, nor
// metadata when the document leaves it in the clear; else as the
// document's streams are.
CryptMethod stream_method(const SecurityKey &key, const DictRange &r, const FilterChain &chain) {
  if (chain.crypt && chain.crypt_identity) return CryptMethod::identity;
  if (r.present) {
    const int32_t end = size_of(r.bytes);
    if (dict_type_is(r.bytes, r.start, end, "XRef")) return CryptMethod::identity;
    if (!key.encrypt_metadata && dict_type_is(r.bytes, r.start, end, "Metadata"))
      return CryptMethod::identity;
  }
  return key.streams;
}

}  // namespace

DecodeStatus decode_stream_view(Bytes file, const ObjEntry &e, ByteBuf &out, ByteBuf &spare, Bytes *data,
                                const SecurityKey *key) {
  *data = {};
  if (!e.is_stream || e.in_objstm) return fail(out, DecodeStatus::unsupported);
  if (e.data_pos < 0 || e.data_end < e.data_pos || e.data_end > size_of(file))
    return fail(out, DecodeStatus::damaged);
  FilterChain chain;
  const DictRange r = dict_range_in(file, e);
  if (r.present && !read_chain(r, chain)) return fail(out, DecodeStatus::unsupported);
  Bytes in = file.subspan(static_cast<size_t>(e.data_pos), static_cast<size_t>(e.data_end - e.data_pos));
  std::vector<uint8_t> plain;
  if (key != nullptr && !in.empty()) {
    const CryptMethod method = stream_method(*key, r, chain);
    if (method != CryptMethod::identity) {
      if (!decrypt_data(*key, method, e.num, e.gen, in, plain)) return fail(out, DecodeStatus::unsupported);
      in = plain;
      if (chain.count == 0) {
        out.length = 0;
        buf_bytes(out, plain.data(), plain.size());
        if (out.failed) return fail(out, DecodeStatus::too_large);
        *data = buf_view(out);
        return DecodeStatus::ok;
      }
    }
  }
  // No data decodes to none, whatever the filters: writers leave empty
  // streams with their usual /Filter.
  if (chain.count == 0 || in.empty()) {
    *data = in;
    return DecodeStatus::ok;
  }
  // The steps alternate between the two buffers so that the last one
  // writes to out.
  DecodeStatus status = DecodeStatus::ok;
  for (int k = 0; k < chain.count; ++k) {
    ByteBuf &target = (chain.count - 1 - k) % 2 == 0 ? out : spare;
    const FilterStatus s = run_step(chain.steps[static_cast<size_t>(k)], in, target);
    if (s == FilterStatus::too_large) {
      fail(spare, DecodeStatus::too_large);
      return fail(out, DecodeStatus::too_large);
    }
    if (s == FilterStatus::damaged) status = DecodeStatus::damaged;
    in = buf_view(target);
  }
  *data = in;
  return status;
}

DecodeStatus decode_stream(Bytes file, const ObjEntry &e, ByteBuf &out, const SecurityKey *key) {
  ByteBuf spare;  // only chains of two or more filters give it storage
  Bytes data;
  const DecodeStatus status = decode_stream_view(file, e, out, spare, &data, key);
  if (status != DecodeStatus::ok && status != DecodeStatus::damaged) return status;
  if (data.data() == out.data && out.data != nullptr) return status;
  // The stored bytes, copied.
  out.length = 0;
  buf_reserve(out, data.size());
  if (out.data == nullptr) return DecodeStatus::too_large;
  buf_bytes(out, data.data(), data.size());
  out.data[out.length] = 0;
  return status;
}
