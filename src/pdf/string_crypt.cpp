#include "pdf/string_crypt.h"

#include <new>
#include <stdexcept>
#include <vector>

#include "pdf/byte_buf.h"
#include "pdf/dict_edit.h"
#include "pdf/string_value.h"
#include "security/security.h"

namespace {

// Returns text with each string value replaced by convert(bytes) written as
// a hexadecimal string. Comments are passed over, and "<<" is no string.
// A string that does not end is left as it stands, with what follows it.
template <typename Convert>
std::string convert_strings(const std::string &text, Convert convert) {
  const Bytes s{reinterpret_cast<const uint8_t *>(text.data()), text.size()};
  const int32_t end = size_of(s);
  ByteBuf out;
  int32_t copied = 0;  // text before this is in out
  std::string bytes;
  std::vector<uint8_t> converted;
  for (int32_t p = 0; p < end;) {
    const uint8_t c = s[p];
    if (c == '%') {
      while (p < end && s[p] != '\n' && s[p] != '\r') ++p;
      continue;
    }
    if (c == '<' && p + 1 < end && s[p + 1] == '<') {
      p += 2;
      continue;
    }
    if (c != '(' && c != '<') {
      ++p;
      continue;
    }
    const int32_t after = read_string_value(s, p, bytes);
    if (after <= p) break;
    converted.clear();
    convert(Bytes{reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()}, converted);
    buf_bytes(out, s.data() + copied, static_cast<uint64_t>(p - copied));
    append_hex_string(out, {reinterpret_cast<const char *>(converted.data()), converted.size()});
    copied = p = after;
  }
  if (copied == 0) return text;
  buf_bytes(out, s.data() + copied, static_cast<uint64_t>(end - copied));
  if (out.failed) throw std::bad_alloc();
  return {reinterpret_cast<const char *>(out.data), static_cast<size_t>(out.length)};
}

bool strings_encrypted(const PdfDoc &doc) {
  return doc.security.has_value() && doc.security->strings != CryptMethod::identity;
}

}  // namespace

std::string decrypt_strings(const PdfDoc &doc, std::string text, int32_t num, int32_t gen) {
  if (!strings_encrypted(doc)) return text;
  const SecurityKey &key = *doc.security;
  return convert_strings(text, [&](Bytes in, std::vector<uint8_t> &out) {
    decrypt_data(key, key.strings, num, gen, in, out);
  });
}

std::string encrypt_strings(const PdfDoc &doc, std::string text, int32_t num, int32_t gen) {
  if (!strings_encrypted(doc)) return text;
  const SecurityKey &key = *doc.security;
  return convert_strings(text, [&](Bytes in, std::vector<uint8_t> &out) {
    if (!encrypt_data(key, key.strings, num, gen, in, out))
      throw std::runtime_error("no random bytes for the encryption of the output");
  });
}

std::string plain_dict_copy(const PdfDoc &doc, const ObjEntry &entry, Bytes bytes, int32_t pos) {
  std::string text = dict_copy_at(bytes, pos);
  if (entry.in_objstm || text.empty()) return text;
  return decrypt_strings(doc, std::move(text), entry.num, entry.gen);
}
