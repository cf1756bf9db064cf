// The stamping pass: numbers for the new objects, and for every selected page
// a new content stream (its previous content, isolated in q/Q, then the
// stamp) and its new resources text.
//
// Previous content is copied into the new stream when every one of its
// streams can be decoded; its old stream objects are then left out of the
// output unless a page that is not rewritten still uses them. A page with
// content we cannot decode keeps its old streams by reference instead, between
// a shared stream that opens a q and the new stream that closes it.
#include "pdf/content.h"

#include <cmath>
#include <cstdlib>
#include <new>
#include <string>

#include "pdf/dict_edit.h"

namespace {

// Leaving out is bounded to the first streams of a page's /Contents; later
// ones stay in the output as objects that nothing references, which costs
// only their space.
constexpr size_t kMaxDroppedPerPage = 64;

// Below this the image stamp gets a graphics state with the opacity.
constexpr float kOpaque = 0.999f;

float clamp_opacity(float o) {
  if (std::isnan(o)) return 1.0f;  // not a number: draw opaque, as without a value
  if (o < 0) return 0.0f;
  if (o > 1) return 1.0f;
  return o;
}

StampObjects number_objects(const PdfDoc &doc, const StampRequest &request) {
  StampObjects n;
  int32_t next = doc.max_obj_num;
  if (request.kind == STAMP_TEXT) {
    n.font_num = ++next;
    n.gs_num = ++next;
  } else {
    if (request.opacity < kOpaque) n.gs_num = ++next;
    if (request.has_alpha != 0) n.smask_num = ++next;
    n.image_num = ++next;
  }
  n.last_num = next;
  return n;
}

void append_repeated(ByteBuf &buf, std::string_view text, int64_t count) {
  for (int64_t i = 0; i < count; ++i) buf_str(buf, text);
}

// Moves joined into the page's stream, compressed when the compressor works.
void store_stream(PageState &page, ByteBuf &joined, DeflateFn deflate) {
  unsigned char *packed = nullptr;
  size_t packed_len = 0;
  if (joined.data != nullptr &&
      deflate(joined.data, static_cast<size_t>(joined.length), &packed, &packed_len) == 0 &&
      packed != nullptr) {
    page.stream = buf_adopt(packed, packed_len);
    page.compressed = true;
    return;
  }
  page.stream = std::move(joined);
  buf_shrink_to_fit(page.stream);
  page.compressed = false;
}

// Appends " N G R" (without the space when text is empty).
void append_ref(std::string &text, int32_t num, int32_t gen) {
  if (!text.empty()) text += ' ';
  text += std::to_string(num);
  text += ' ';
  text += std::to_string(gen);
  text += " R";
}

// What the pass learns about the pages' old content objects.
struct ContentUse {
  std::vector<uint8_t> kept;             // by number: a page that is not rewritten names it
  std::vector<int32_t> drop_candidates;  // old content of rewritten pages
  void keep(int32_t num) {
    if (num > 0 && static_cast<size_t>(num) < kept.size()) kept[static_cast<size_t>(num)] = 1;
  }
  void keep_all(const PageContents &c) {
    for (const ContentRef &r : c.refs) keep(r.num);
    keep(c.array_num);
  }
};

std::vector<uint8_t> selected_pages(const PdfDoc &doc, const StampRequest &request) {
  const size_t total = doc.page_infos.size();
  if (request.pages == nullptr || request.page_count <= 0) return std::vector<uint8_t>(total, 1);
  std::vector<uint8_t> selected(total, 0);
  for (int32_t i = 0; i < request.page_count; ++i) {
    const int32_t k = request.pages[i];
    if (k >= 1 && static_cast<size_t>(k) <= total) selected[static_cast<size_t>(k) - 1] = 1;
  }
  return selected;
}

// Builds the page's stream; returns false when its old content could not be
// decoded, in which case the stream only closes the opener's q before the stamp.
bool build_page_stream(const PdfDoc &doc, const StampRequest &request, const StampObjects &nums,
                       const StampNames &names, const PageInfo &info,
                       const PageContents &contents, ByteBuf &scratch, PageState &page,
                       DeflateFn deflate, bool *out_of_memory) {
  ByteBuf old_bytes;
  const bool decoded = append_page_content(doc, contents, scratch, old_bytes);

  const float x_pos = static_cast<float>(info.box_x) + request.x;
  const float y_pos = static_cast<float>(info.box_y) + request.y;
  ByteBuf stamp_ops;
  if (request.kind == STAMP_TEXT)
    text_operators(stamp_ops, request, nums.gs_num, x_pos, y_pos, names);
  else
    image_operators(stamp_ops, request, nums.gs_num, x_pos, y_pos, names);

  ByteBuf joined;
  if (!decoded) {
    buf_str(joined, "Q\n");
  } else if (old_bytes.length > 0) {
    // The old content runs inside its own q/Q, with every q it leaves open
    // closed, so the stamp is drawn in the page's own coordinates.
    const QBalance b = q_balance(buf_view(old_bytes));
    append_repeated(joined, "q\n", b.deficit + 1);
    buf_bytes(joined, old_bytes.data, old_bytes.length);
    buf_str(joined, "\n");
    buf_str(joined, b.closer);
    append_repeated(joined, "Q\n", b.open);
    buf_str(joined, "Q\n");
  }
  buf_bytes(joined, stamp_ops.data, stamp_ops.length);
  if (old_bytes.failed || stamp_ops.failed || joined.failed) *out_of_memory = true;
  store_stream(page, joined, deflate);
  if (page.stream.failed) *out_of_memory = true;
  return decoded;
}

}  // namespace

int build_stamp_plan(const PdfDoc &doc, StampRequest &request, StampPlan &plan, DeflateFn deflate) {
  request.opacity = clamp_opacity(request.opacity);
  plan.nums = number_objects(doc, request);
  const size_t total = doc.page_infos.size();
  const size_t numbers = static_cast<size_t>(doc.max_obj_num) + 1;
  plan.pages.clear();
  plan.pages.resize(total);
  plan.drop_obj.assign(numbers + 63, 0);
  plan.extra.clear();

  const std::vector<uint8_t> selected = selected_pages(doc, request);
  ContentUse use;
  use.kept.assign(numbers, 0);
  std::vector<size_t> kept_pages;  // rewritten pages whose old content stays referenced
  std::vector<PageContents> kept_contents;
  ByteBuf scratch;
  bool out_of_memory = false;

  for (size_t k = 0; k < total; ++k) {
    const PageInfo &info = doc.page_infos[k];
    const ObjEntry *entry = find_obj(doc, info.obj_num);
    PageContents contents = page_contents(doc, entry);
    if (selected[k] == 0) {
      use.keep_all(contents);
      continue;
    }
    PageState &page = plan.pages[k];
    page.selected = true;
    std::string resources = page_base_resources(doc, info);
    const StampNames names = free_stamp_names(doc, resources);
    const bool decoded = build_page_stream(doc, request, plan.nums, names, info, contents, scratch,
                                           page, deflate, &out_of_memory);
    page.content_num = ++plan.nums.last_num;
    if (decoded) {
      append_ref(page.contents_value, page.content_num, 0);
      for (size_t i = 0; i < contents.refs.size() && i < kMaxDroppedPerPage; ++i) {
        // Only content streams are left out; whatever else /Contents names stays.
        const ObjEntry *e = find_obj(doc, contents.refs[i].num);
        if (e != nullptr && e->is_stream && !e->in_objstm)
          use.drop_candidates.push_back(contents.refs[i].num);
      }
      if (contents.array_num > 0) use.drop_candidates.push_back(contents.array_num);
    } else {
      use.keep_all(contents);
      kept_pages.push_back(k);
      kept_contents.push_back(std::move(contents));
    }
    add_stamp_entries(doc, resources, plan.nums, names);
    page.resources = std::move(resources);
    // A buffer that could not grow has lost bytes: the plan cannot be used.
    if (out_of_memory) throw std::bad_alloc();
  }

  if (!kept_pages.empty()) {
    const int32_t opener = ++plan.nums.last_num;
    plan.extra.push_back({opener, "q\n"});
    for (size_t i = 0; i < kept_pages.size(); ++i) {
      PageState &page = plan.pages[kept_pages[i]];
      std::string value = "[";
      value += std::to_string(opener);
      value += " 0 R";
      for (const ContentRef &r : kept_contents[i].refs) {
        const ObjEntry *e = find_obj(doc, r.num);
        if (e != nullptr && e->is_stream && !e->in_objstm) append_ref(value, r.num, r.gen);
      }
      append_ref(value, page.content_num, 0);
      value += ']';
      page.contents_value = std::move(value);
    }
  }

  for (const int32_t num : use.drop_candidates) {
    if (num <= doc.max_obj_num && use.kept[static_cast<size_t>(num)] == 0)
      plan.drop_obj[static_cast<size_t>(num)] = 1;
  }
  return 1;
}
