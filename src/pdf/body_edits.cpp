#include "pdf/body_edits.h"

#include <algorithm>
#include <cstring>

#include "common/limits.h"

namespace {

bool before(const BodyEdit &a, const BodyEdit &b) {
  return a.num != b.num ? a.num < b.num : a.at < b.at;
}

}  // namespace

void add_body_edit(PdfDoc &doc, BodyEdit edit) { doc.body_edits.push_back(std::move(edit)); }

void sort_body_edits(PdfDoc &doc) {
  std::stable_sort(doc.body_edits.begin(), doc.body_edits.end(), before);
}

std::span<const BodyEdit> body_edits_of(const PdfDoc &doc, int32_t num) {
  const auto by_num = [](const BodyEdit &e, int32_t n) { return e.num < n; };
  const auto first = std::lower_bound(doc.body_edits.begin(), doc.body_edits.end(), num, by_num);
  auto last = first;
  while (last != doc.body_edits.end() && last->num == num) ++last;
  return {first, last};
}

void put_edited(ByteBuf &out, Bytes base, int32_t start, int32_t end,
                std::span<const BodyEdit> edits) {
  int32_t pos = start;
  for (const BodyEdit &e : edits) {
    if (e.at < pos || e.len < 0 || e.at + e.len > end) continue;
    buf_bytes(out, base.data() + pos, static_cast<uint64_t>(e.at - pos));
    buf_str(out, e.text);
    pos = e.at + e.len;
  }
  if (pos < end) buf_bytes(out, base.data() + pos, static_cast<uint64_t>(end - pos));
}

int32_t add_text_object(PdfDoc &doc, std::string_view text) {
  if (doc.max_obj_num >= kMaxObjectNumber || text.size() > static_cast<size_t>(INT32_MAX))
    return 0;
  auto blob = std::make_unique<uint8_t[]>(text.size() + 1);
  std::memcpy(blob.get(), text.data(), text.size());
  // Written as it stands, like an object-stream member: positions in it
  // count from its first byte.
  const ObjEntry entry{.num = ++doc.max_obj_num,
                       .dict_pos = 0,
                       .in_objstm = 1,
                       .text = blob.get(),
                       .text_len = static_cast<int32_t>(text.size())};
  doc.blobs.push_back(std::move(blob));
  doc.objs.push_back(entry);
  doc.index_of_num.resize(static_cast<size_t>(entry.num) + 1, -1);
  doc.index_of_num[static_cast<size_t>(entry.num)] = static_cast<int32_t>(doc.objs.size() - 1);
  return entry.num;
}
