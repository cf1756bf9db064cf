// The stamping pass: numbers for the new objects, and for every selected page
// its new /Contents and resources text.
//
// A page's old content streams stay as they are, bytes and filters included,
// and its new /Contents names them between a stream that opens a q and a
// stream that closes everything the old content leaves open and then draws
// the stamp. The old content is decoded only to learn what it leaves open.
// Pages that need the same opener or closer share one stream, so a document
// of like pages gets two new streams in all.
//
// Old content that cannot be read in full (a damaged stream, a filter that
// cannot be decoded) leaves open what cannot be known. When it is one stream
// it is drawn as a form XObject that holds the same stored bytes and filters:
// a reader parses a form's content on its own, so a string, array, inline
// image or text object left unended ends with it, and it runs between a save
// and a restore of the graphics state, so a q left open or a transformation
// in force ends there too. Marked content is the one thing some readers keep
// open past a form's end, so what the readable part of it leaves open is
// closed after the form. Old content of several streams cannot become one
// form without re-encoding it; it keeps the opener and closer, the closer
// made from what could be decoded, which is what readers show of it.
#include "pdf/content.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>

#include "common/error.h"
#include "pdf/dict_edit.h"
#include "pdf/text_block.h"

namespace {

// Below this the image stamp gets a graphics state with the opacity.
constexpr float kOpaque = 0.999f;

// The form that holds unreadable old content clips nothing a page can show.
constexpr const char *kFormBox = " /BBox [-32767 -32767 32767 32767]";

float clamp_opacity(float o) {
  if (std::isnan(o)) return 1.0f;  // not a number: draw opaque, as without a value
  if (o < 0) return 0.0f;
  if (o > 1) return 1.0f;
  return o;
}

StampObjects number_objects(const PdfDoc &doc, const StampRequest &request, bool extra_font) {
  StampObjects n;
  int32_t next = doc.max_obj_num;
  if (request.kind == STAMP_TEXT) {
    n.font_num = ++next;
    if (extra_font) n.extra_font_num = ++next;
    if (request.font != nullptr) {
      n.embedded_font.type0 = n.font_num;
      n.embedded_font.cid_font = ++next;
      n.embedded_font.descriptor = ++next;
      n.embedded_font.program = ++next;
      n.embedded_font.to_unicode = ++next;
    }
    n.gs_num = ++next;
  } else {
    if (request.opacity < kOpaque) n.gs_num = ++next;
    if (request.has_alpha != 0) n.smask_num = ++next;
    n.image_num = ++next;
  }
  n.last_num = next;
  return n;
}

void append_repeated(std::string &text, std::string_view piece, int64_t count) {
  for (int64_t i = 0; i < count; ++i) text += piece;
}

// Appends " N G R" (without the space when text is empty or ends in '[').
void append_ref(std::string &text, int32_t num, int32_t gen) {
  if (!text.empty() && text.back() != '[') text += ' ';
  text += std::to_string(num);
  text += ' ';
  text += std::to_string(gen);
  text += " R";
}

std::vector<uint8_t> selected_pages(const PdfDoc &doc, const StampRequest &request) {
  const size_t total = doc.page_infos.size();
  if (request.pages == nullptr) return std::vector<uint8_t>(total, 1);
  std::vector<uint8_t> selected(total, 0);
  for (int32_t i = 0; i < request.page_count; ++i) {
    const int32_t k = request.pages[i];
    if (k >= 1 && static_cast<size_t>(k) <= total) selected[static_cast<size_t>(k) - 1] = 1;
  }
  return selected;
}

// What a page's old content leaves open, and how much of it could be read.
struct OldContent {
  ContentRead read = ContentRead::empty;
  OpenState state;
};

// The content streams of a page that hold something: streams written in the
// file (object-stream members cannot be streams).
std::vector<ContentRef> stream_refs(const PdfDoc &doc, const PageContents &contents) {
  std::vector<ContentRef> refs;
  for (const ContentRef &r : contents.refs) {
    const ObjEntry *e = find_obj(doc, r.num);
    if (e != nullptr && e->is_stream && !e->in_objstm) refs.push_back(r);
  }
  return refs;
}

// The pass's working state: the new streams by their bytes, and what old
// content leaves open by the object that holds it, so that like pages cost
// one look.
struct Pass {
  const PdfDoc &doc;
  StampPlan &plan;
  DeflateFn deflate;
  ContentBuffers buffers;
  ByteBuf old_bytes;
  std::unordered_map<std::string, int32_t> stream_by_bytes;
  std::unordered_map<std::string, int32_t> form_by_source;
  std::unordered_map<int64_t, OldContent> old_by_object;
  BlockBox block;  // what the stamp covers in its own space
  TextBlock text;  // a text's lines, laid out once for every page
};

// Returns the new stream numbered num that holds the bytes, compressed when
// that makes it smaller.
NewStream packed_stream(DeflateFn deflate, int32_t num, std::string_view bytes) {
  NewStream s;
  s.num = num;
  unsigned char *packed = nullptr;
  size_t packed_len = 0;
  if (!bytes.empty() &&
      deflate(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), &packed,
              &packed_len) == 0 &&
      packed != nullptr) {
    const std::unique_ptr<unsigned char, decltype(&std::free)> owned(packed, &std::free);
    if (packed_len < bytes.size()) {
      s.entries = " /Filter /FlateDecode";
      s.data.assign(reinterpret_cast<const char *>(packed), packed_len);
    }
  }
  if (s.entries.empty()) s.data = bytes;
  return s;
}

// Returns the number of the new stream with these bytes, made when no page
// needed them before; compressed when that makes it smaller.
int32_t stream_for(Pass &pass, std::string bytes) {
  const auto found = pass.stream_by_bytes.find(bytes);
  if (found != pass.stream_by_bytes.end()) return found->second;
  NewStream s = packed_stream(pass.deflate, ++pass.plan.nums.last_num, bytes);
  pass.stream_by_bytes.emplace(std::move(bytes), s.num);
  pass.plan.streams.push_back(std::move(s));
  return pass.plan.streams.back().num;
}

// Returns what the page's old content leaves open; looked at once for each
// stream or array object that several pages name.
const OldContent &old_content(Pass &pass, const PageContents &contents) {
  int64_t key = 0;
  if (contents.array_num > 0) key = -static_cast<int64_t>(contents.array_num);
  else if (!contents.is_array && contents.refs.size() == 1) key = contents.refs[0].num;
  if (key != 0) {
    const auto found = pass.old_by_object.find(key);
    if (found != pass.old_by_object.end()) return found->second;
  }
  OldContent old;
  pass.old_bytes.length = 0;
  old.read = read_page_content(pass.doc, contents, pass.buffers, pass.old_bytes);
  old.state = open_state(buf_view(pass.old_bytes));
  // Content under no key is looked at for its page alone.
  return pass.old_by_object.insert_or_assign(key, std::move(old)).first->second;
}

// Returns the stream that closes what the old content leaves open, in the
// order that nests inside it, and the opener's q.
std::string closer_text(const OpenState &state) {
  std::string text = "\n";  // the old content's last token ends here
  text += state.closer;
  if (state.in_text) text += "ET\n";
  append_repeated(text, "EMC\n", state.marked);
  append_repeated(text, "Q\n", state.open);
  text += "Q\n";
  return text;
}

// Returns the number of the form that draws the one old content stream e as
// it is stored, with the page's resources.
int32_t form_for(Pass &pass, const ObjEntry &e, const std::string &resources) {
  std::string key = std::to_string(e.num) + ' ' + resources;
  const auto found = pass.form_by_source.find(key);
  if (found != pass.form_by_source.end()) return found->second;
  const Bytes file = doc_bytes(pass.doc);
  const DictRange d = dict_range_in(file, e);
  NewStream form;
  form.num = ++pass.plan.nums.last_num;
  form.entries = " /Type /XObject /Subtype /Form";
  form.entries += kFormBox;
  form.entries += " /Resources " + resources;
  // The filters and their parameters as the old stream states them, so that
  // the stored bytes mean what they meant there.
  for (const char *key_name : {"Filter", "DecodeParms"}) {
    const std::string_view value = key_value_text(d.bytes, d.start, d.end, key_name);
    if (value.empty()) continue;
    form.entries += " /";
    form.entries += key_name;
    form.entries += ' ';
    form.entries += value;
  }
  form.stored = file.subspan(static_cast<size_t>(e.data_pos),
                             static_cast<size_t>(e.data_end - e.data_pos));
  form.stored_num = e.num;
  form.stored_gen = e.gen;
  pass.form_by_source.emplace(std::move(key), form.num);
  pass.plan.streams.push_back(std::move(form));
  return pass.plan.streams.back().num;
}

std::string stamp_text(const StampRequest &request, const StampObjects &nums,
                       const StampNames &names, const PageInfo &info, const TextBlock &block,
                       const BlockBox &box) {
  const float x_pos = static_cast<float>(info.box_x) + request.x;
  const float y_pos = static_cast<float>(info.box_y) + request.y;
  Matrix placed;
  const bool is_placed = request.placement != nullptr;
  if (is_placed) placed = place_block(info, *request.placement, box);
  const Matrix *matrix = is_placed ? &placed : nullptr;
  ByteBuf ops;
  if (request.kind == STAMP_TEXT)
    text_operators(ops, request, nums.gs_num, x_pos, y_pos, names, matrix, &block);
  else
    image_operators(ops, request, nums.gs_num, x_pos, y_pos, names, matrix);
  if (ops.failed) throw std::bad_alloc();
  return ops.data == nullptr ? std::string()
                             : std::string(reinterpret_cast<const char *>(ops.data),
                                           static_cast<size_t>(ops.length));
}

// Makes the page's /Contents and adds what it draws to its resources.
void plan_page(Pass &pass, const StampRequest &request, const PageInfo &info, PageState &page) {
  const PdfDoc &doc = pass.doc;
  const PageContents contents = page_contents(doc, find_obj(doc, info.obj_num));
  const std::vector<ContentRef> refs = stream_refs(doc, contents);

  std::string resources = page_base_resources(doc, info);
  const StampNames names = free_stamp_names(doc, resources);
  const std::string stamp = stamp_text(request, pass.plan.nums, names, info, pass.text, pass.block);

  if (request.layer_under != 0) {
    // The stamp first, in its own q/Q, so that the old content starts in
    // the state it always started in and draws over it; nothing of the old
    // content needs to be read.
    std::string value(1, '[');
    append_ref(value, stream_for(pass, stamp), 0);
    for (const ContentRef &r : refs) append_ref(value, r.num, r.gen);
    value += ']';
    page.contents_value = std::move(value);
    add_stamp_entries(doc, resources, pass.plan.nums, names);
    page.resources = std::move(resources);
    return;
  }
  const OldContent &old = old_content(pass, contents);
  if (old.read == ContentRead::empty) {
    append_ref(page.contents_value, stream_for(pass, stamp), 0);
  } else if (old.read == ContentRead::partly && refs.size() == 1) {
    const int32_t form = form_for(pass, *find_obj(doc, refs[0].num), resources);
    std::string drawn = "/" + names.form + " Do\n";
    append_repeated(drawn, "EMC\n", old.state.marked);
    append_ref(page.contents_value, stream_for(pass, drawn + stamp), 0);
    insert_subdict_entry(doc, resources, "XObject",
                         "/" + names.form + " " + std::to_string(form) + " 0 R");
  } else {
    std::string opener;
    append_repeated(opener, "q\n", old.state.deficit + 1);
    const int32_t opener_num = stream_for(pass, std::move(opener));
    const int32_t closer_num = stream_for(pass, closer_text(old.state) + stamp);
    std::string value(1, '[');
    append_ref(value, opener_num, 0);
    for (const ContentRef &r : refs) append_ref(value, r.num, r.gen);
    append_ref(value, closer_num, 0);
    value += ']';
    page.contents_value = std::move(value);
  }
  add_stamp_entries(doc, resources, pass.plan.nums, names);
  page.resources = std::move(resources);
}

// Returns 1 after adding the embedded font's objects, made once for every
// page: the Type 0 font, its CIDFont and descriptor, the font program with
// the glyphs the text shows, and the ToUnicode CMap.
int add_embedded_font(Pass &pass, const FontFace &face) {
  std::vector<uint8_t> program;
  if (!font_program(face, pass.text.glyphs, program)) return 0;
  const FontObjectNums &nums = pass.plan.nums.embedded_font;
  const FontPdfObjects o = font_pdf_objects(face, pass.text.glyphs, nums, program.size());
  pass.plan.objects.push_back({nums.type0, o.type0});
  pass.plan.objects.push_back({nums.cid_font, o.cid_font});
  pass.plan.objects.push_back({nums.descriptor, o.descriptor});
  NewStream file = packed_stream(
      pass.deflate, nums.program,
      {reinterpret_cast<const char *>(program.data()), program.size()});
  file.entries += o.program_entries;
  pass.plan.streams.push_back(std::move(file));
  pass.plan.streams.push_back(packed_stream(pass.deflate, nums.to_unicode, o.to_unicode));
  return 1;
}

}  // namespace

int build_stamp_plan(const PdfDoc &doc, StampRequest &request, StampPlan &plan, DeflateFn deflate) {
  request.opacity = clamp_opacity(request.opacity);
  plan.pages.clear();
  plan.objects.clear();
  plan.streams.clear();
  Pass pass{doc, plan, deflate, {}, {}, {}, {}, {}, {}, {}};
  if (request.kind == STAMP_TEXT) {
    std::string error;
    const Align align = request.placement != nullptr ? request.placement->align : Align::left;
    if (!layout_text_block(request, align, pass.text, error))
      return set_error(ErrorCode::unsupported, "%s", error.c_str());
    pass.block = pass.text.box;
  } else {
    pass.block = image_block_box(request);
  }
  plan.nums = number_objects(doc, request, pass.text.uses_extra_font);
  plan.pages.resize(doc.page_infos.size());
  if (request.kind == STAMP_TEXT && request.font != nullptr &&
      !add_embedded_font(pass, *request.font))
    return 0;

  const std::vector<uint8_t> selected = selected_pages(doc, request);
  for (size_t k = 0; k < doc.page_infos.size(); ++k) {
    if (selected[k] == 0) continue;
    PageState &page = plan.pages[k];
    page.selected = true;
    plan_page(pass, request, doc.page_infos[k], page);
  }
  return 1;
}
