// Copies of dictionaries as C strings for editing. A damaged file may hold NUL
// bytes inside a dictionary; PDF reads them as whitespace, so the copy holds
// spaces there and stays whole as a C string.
#include <cstdlib>
#include <cstring>

#include "pdf/dict_edit.h"
#include "pdf/scan.h"

OwnedText dict_copy_at(Bytes s, int32_t pos) {
  if (pos < 0) return nullptr;
  const int32_t close = find_dict_close(s, pos, -1);
  if (close <= pos) return nullptr;
  const size_t n = static_cast<size_t>(close - pos);
  char *out = static_cast<char *>(std::malloc(n + 1));
  if (out == nullptr) return nullptr;
  std::memcpy(out, s.data() + pos, n);
  for (size_t i = 0; i < n; ++i)
    if (out[i] == 0) out[i] = ' ';
  out[n] = 0;
  return OwnedText(out);
}

OwnedText obj_dict_copy(const PdfDoc &doc, const ObjEntry &entry) {
  if (entry.in_objstm) {
    if (entry.text == nullptr || entry.text_len <= 0) return nullptr;
    const Bytes text(entry.text, static_cast<size_t>(entry.text_len));
    const void *lt = std::memchr(text.data(), '<', text.size());
    if (lt == nullptr) return nullptr;
    return dict_copy_at(text, static_cast<int32_t>(static_cast<const uint8_t *>(lt) - text.data()));
  }
  const DictRange r = dict_range(doc, entry);
  if (!r.present) return nullptr;
  return dict_copy_at(r.bytes, r.start);
}
