// Reading the /Encrypt dictionary: its numbers, names and strings, the
// crypt filters of /CF, and the first string of the trailer's /ID.
#include <algorithm>

#include "common/limits.h"
#include "pdf/dict_values.h"
#include "pdf/string_value.h"
#include "security/security.h"

namespace {

// Returns the value of key in dict, a reference followed; present false
// when the key is absent.
DictRange value_of(const PdfDoc &doc, const DictRange &dict, std::string_view key) {
  const int32_t p = key_value_pos(dict.bytes, dict.start, dict.end, key);
  if (p < 0) return {};
  DictRange v = resolve_value(doc, dict, p);
  v.present = v.present && v.start < v.end;
  return v;
}

// The bytes of a range up to its end.
Bytes upto_end(const DictRange &v) {
  return v.bytes.first(static_cast<size_t>(std::min<int64_t>(v.end, size_of(v.bytes))));
}

bool int_value(const DictRange &v, int64_t &out) {
  int32_t p = v.start;
  return v.present && read_int_token(upto_end(v), &p, &out);
}

// Returns the name a name token stands for, its #xx escapes decoded, or
// false when no name stands at the range's start.
bool name_value(const DictRange &v, std::string &out) {
  const Bytes s = upto_end(v);
  if (!v.present || v.start >= size_of(s) || s[v.start] != '/') return false;
  out.clear();
  for (int32_t i = v.start + 1; i < size_of(s) && is_regular(s[i]); ++i) {
    if (s[i] == '#' && i + 2 < size_of(s) && hex_digit_value(s[i + 1]) >= 0 &&
        hex_digit_value(s[i + 2]) >= 0) {
      out += static_cast<char>(hex_digit_value(s[i + 1]) << 4 | hex_digit_value(s[i + 2]));
      i += 2;
    } else {
      out += static_cast<char>(s[i]);
    }
  }
  return true;
}

bool string_value(const DictRange &v, std::string &out) {
  return v.present && read_string_value(upto_end(v), v.start, out) >= 0;
}

bool is_dictionary(const DictRange &v) {
  const Bytes s = upto_end(v);
  return v.present && v.start >= 0 && v.start + 1 < size_of(s) && s[v.start] == '<' &&
         s[v.start + 1] == '<';
}

// Reads the entries of /CF: each a crypt filter's name and its dictionary.
void read_crypt_filters(const PdfDoc &doc, const DictRange &cf, EncryptParams &out) {
  if (!is_dictionary(cf)) return;
  const Bytes s = upto_end(cf);
  int32_t pos = cf.start + 2;
  DictEntry e;
  while (out.crypt_filters.size() < kMaxCryptFilters && read_dict_entry(s, pos, e) == 1 &&
         e.value_end > 0) {
    CryptFilter filter;
    DictRange key{s, e.key_pos, e.value_pos, true};
    name_value(key, filter.name);
    DictRange entry = resolve_value(doc, cf, e.value_pos);
    if (is_dictionary(entry)) name_value(value_of(doc, entry, "CFM"), filter.cfm);
    out.crypt_filters.push_back(std::move(filter));
    pos = e.value_end;
  }
}

}  // namespace

DictRange encrypt_dict_range(const PdfDoc &doc) {
  DictRange r;
  if (doc.encrypt_num >= 0) {
    const ObjEntry *e = find_obj(doc, doc.encrypt_num);
    if (e != nullptr) r = dict_range(doc, *e);
  } else if (doc.encrypt_pos >= 0) {
    const Bytes s = doc_bytes(doc);
    const int32_t end = trailer_end(s, doc.encrypt_pos);
    r = DictRange{s.first(static_cast<size_t>(end)), doc.encrypt_pos, end, true};
  }
  r.present = is_dictionary(r);
  return r;
}

bool read_encrypt_params(const PdfDoc &doc, const DictRange &dict, EncryptParams &out,
                         std::string &why) {
  out = EncryptParams{};
  if (!is_dictionary(dict)) {
    why = "the /Encrypt entry is not a dictionary";
    return false;
  }
  if (!name_value(value_of(doc, dict, "Filter"), out.filter)) {
    why = "the /Encrypt dictionary names no security handler (/Filter)";
    return false;
  }
  name_value(value_of(doc, dict, "SubFilter"), out.sub_filter);
  int64_t n = 0;
  if (int_value(value_of(doc, dict, "V"), n) && n >= 0 && n <= INT32_MAX) out.v = static_cast<int32_t>(n);
  if (int_value(value_of(doc, dict, "R"), n) && n >= 0 && n <= INT32_MAX) out.r = static_cast<int32_t>(n);
  if (int_value(value_of(doc, dict, "Length"), n) && n >= INT32_MIN && n <= INT32_MAX) {
    out.length_bits = static_cast<int32_t>(n);
    out.length_given = true;
  }
  // /P is a 32-bit field; some producers write it unsigned (4294967292 for -4).
  if (int_value(value_of(doc, dict, "P"), n)) {
    out.p = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(n)));
    out.p_given = true;
  }
  string_value(value_of(doc, dict, "O"), out.o);
  string_value(value_of(doc, dict, "U"), out.u);
  string_value(value_of(doc, dict, "OE"), out.oe);
  string_value(value_of(doc, dict, "UE"), out.ue);
  string_value(value_of(doc, dict, "Perms"), out.perms);
  const DictRange meta = value_of(doc, dict, "EncryptMetadata");
  out.encrypt_metadata = !(meta.present && kw_at(meta.bytes, meta.start, "false"));
  name_value(value_of(doc, dict, "StmF"), out.stm_f);
  name_value(value_of(doc, dict, "StrF"), out.str_f);
  if (!name_value(value_of(doc, dict, "EFF"), out.eff)) out.eff = out.stm_f;
  read_crypt_filters(doc, value_of(doc, dict, "CF"), out);
  return true;
}

std::string first_file_id(std::string_view trailer_id) {
  const Bytes s(reinterpret_cast<const uint8_t *>(trailer_id.data()), trailer_id.size());
  std::string id;
  const int32_t open = skip_ws(s, 0);
  if (open < size_of(s) && s[open] == '[') read_string_value(s, open + 1, id);
  return id;
}

bool crypt_filter_method(const EncryptParams &params, std::string_view name, CryptMethod &out,
                         std::string &why) {
  if (name == "Identity") {
    out = CryptMethod::identity;
    return true;
  }
  const auto it = std::find_if(params.crypt_filters.begin(), params.crypt_filters.end(),
                               [name](const CryptFilter &f) { return f.name == name; });
  if (it == params.crypt_filters.end()) {
    why = "the crypt filter /" + std::string(name) + " is not defined in /CF";
    return false;
  }
  // A crypt filter without /CFM does not encrypt.
  if (it->cfm.empty() || it->cfm == "None") {
    out = CryptMethod::identity;
  } else if (it->cfm == "V2") {
    out = CryptMethod::rc4;
  } else if (it->cfm == "AESV2") {
    out = CryptMethod::aesv2;
  } else if (it->cfm == "AESV3") {
    out = CryptMethod::aesv3;
  } else {
    why = "the crypt filter method /" + it->cfm + " is not supported";
    return false;
  }
  return true;
}
