// Copies of dictionaries for editing. The bytes are copied as they stand and
// carry their length: a NUL inside a string (a palette, a UTF-16 text, a
// checksum) is data and neither ends nor changes the copy.
#include <cstring>

#include "pdf/dict_edit.h"
#include "pdf/scan.h"
#include "pdf/string_crypt.h"

std::string dict_copy_at(Bytes s, int32_t pos) {
  if (pos < 0) return {};
  const int32_t close = find_dict_close(s, pos, -1);
  if (close <= pos) return {};
  return {reinterpret_cast<const char *>(s.data()) + pos, static_cast<size_t>(close - pos)};
}

std::string obj_dict_copy(const PdfDoc &doc, const ObjEntry &entry) {
  if (entry.in_objstm) {
    if (entry.text == nullptr || entry.text_len <= 0) return {};
    const Bytes text(entry.text, static_cast<size_t>(entry.text_len));
    const void *lt = std::memchr(text.data(), '<', text.size());
    if (lt == nullptr) return {};
    return dict_copy_at(text, static_cast<int32_t>(static_cast<const uint8_t *>(lt) - text.data()));
  }
  const DictRange r = dict_range(doc, entry);
  if (!r.present) return {};
  return plain_dict_copy(doc, entry, r.bytes, r.start);
}
