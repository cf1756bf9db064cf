#include "pdf/page_tree.h"

#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/error.h"
#include "common/limits.h"
#include "pdf/dict_values.h"
#include "pdf/body_edits.h"
#include "pdf/string_crypt.h"

namespace {

// A tree visits each node once; a file whose nodes share kids could make the
// walk exponential, so the number of visits is bounded by the index size.
constexpr size_t kMinVisitBudget = 65536;

// A rectangle by its corners, x0 <= x1 and y0 <= y1.
struct Rect {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// The box of a page for which no ancestor gives a usable /MediaBox.
constexpr Rect kDefaultBox{0, 0, 595, 842};

struct OptRect {
  bool set = false;
  Rect rect;
};

// One element of a /Kids array: a reference (num > 0), or a dictionary
// written inline at [at, end) of the bytes holding the array (num 0).
struct Kid {
  int32_t num = 0;
  int32_t at = 0;
  int32_t end = 0;
};

// The keys the walk reads of an entry's own dictionary.
enum Key { kType, kKids, kMediaBox, kCropBox, kResources, kRotate, kParent, kKeyCount };
constexpr std::string_view kKeyNames[kKeyCount] = {"Type",      "Kids",   "MediaBox", "CropBox",
                                                   "Resources", "Rotate", "Parent"};

// Where the values of those keys stand in a dictionary's own entries (not in
// dictionaries nested in its values), -1 for a key it lacks. A repeated key
// counts by its last occurrence, as readers take it.
struct Keys {
  bool is_dict = false;  // the value is a dictionary
  int32_t value[kKeyCount] = {-1, -1, -1, -1, -1, -1, -1};
};

// What the walk reads of one entry, read once however often the entry is
// visited: shared nodes would otherwise be rescanned on every visit.
struct NodeFacts {
  bool read = false;
  bool is_dict = false;
  bool is_page_type = false;  // /Type /Page
  bool has_kids = false;      // a /Kids key, whatever its value
  bool resources = false;     // its own /Resources
  OptRect media, crop;
  int rotate = -1;            // its own /Rotate, normalised; -1 without one
  int32_t parent = -1;
  int32_t kids_holder = 0;    // the object whose text holds the /Kids array
  Bytes kids_bytes;           // the bytes the kids' positions count from
  std::vector<Kid> kids;
};

// What a page takes from the nodes above it: each attribute from the
// nearest node that has it.
struct Inherited {
  OptRect media, crop;
  int rotate = 0;
  int32_t resources_num = -1;
};

struct Walk {
  PdfDoc &doc;
  std::deque<NodeFacts> facts;  // by position in doc.objs; grows with new entries
  std::vector<uint8_t> on_path; // by object number
  size_t visits_left = 0;
  // The number given to each inline dictionary, by holder and position.
  std::map<std::pair<int32_t, int32_t>, int32_t> made;
};

// Reads the keys of the dictionary that starts the range. A dictionary that
// cannot be walked entry by entry (damaged) is searched as text instead,
// where the first occurrence of each key counts.
Keys read_keys(const DictRange &r) {
  Keys k;
  if (!r.present) return k;
  const Bytes s = r.bytes;
  int32_t pos = skip_ws(s, r.start);
  if (pos + 1 >= r.end || s[pos] != '<' || s[pos + 1] != '<') return k;
  k.is_dict = true;
  pos += 2;
  for (;;) {
    pos = skip_ws(s, pos);
    if (pos >= r.end || (s[pos] == '>' && pos + 1 < r.end && s[pos + 1] == '>')) return k;
    if (s[pos] != '/') break;
    const int32_t key_end = skip_pdf_value(s, pos);
    if (key_end < 0) break;
    const std::string_view key(reinterpret_cast<const char *>(s.data()) + pos + 1,
                               static_cast<size_t>(key_end - pos - 1));
    for (int i = 0; i < kKeyCount; ++i)
      if (key == kKeyNames[i]) k.value[i] = skip_ws(s, key_end);
    pos = skip_pdf_value(s, key_end);
    if (pos < 0) break;
  }
  for (int i = 0; i < kKeyCount; ++i) {
    const int32_t at = find_name(s, r.start, r.end, kKeyNames[i]);
    k.value[i] = at < 0 ? -1 : skip_ws(s, at + 1 + static_cast<int32_t>(kKeyNames[i].size()));
  }
  return k;
}

// Reads a number of a box array: sign, digits, fraction; no exponent.
double read_box_number(Bytes s, int32_t *pos) {
  const int32_t end = static_cast<int32_t>(s.size());
  int32_t p = *pos;
  bool negative = false;
  if (s[p] == '+' || s[p] == '-') {
    negative = s[p] == '-';
    ++p;
  }
  double value = 0;
  while (p < end && is_digit(s[p])) value = value * 10 + (s[p++] - '0');
  if (p < end && s[p] == '.') {
    ++p;
    double f = 0.1;
    while (p < end && is_digit(s[p])) {
      value += (s[p++] - '0') * f;
      f *= 0.1;
    }
  }
  *pos = p;
  return negative ? -value : value;
}

// Returns the rectangle of the box array at pos (directly or by reference),
// corners normalised; unset unless it has four numbers and a positive area.
OptRect read_box(const PdfDoc &doc, const DictRange &r, int32_t pos) {
  OptRect out;
  if (pos < 0) return out;
  const DictRange v = resolve_value(doc, r, pos);
  if (!v.present || v.start >= v.end || v.bytes[v.start] != '[') return out;
  const Bytes s = v.bytes;
  int32_t p = skip_ws(s, v.start + 1);
  double n[4];
  int count = 0;
  while (count < 4 && p < v.end) {
    const uint8_t c = s[p];
    if (c == '+' || c == '-' || c == '.' || is_digit(c)) {
      n[count++] = read_box_number(s, &p);
    } else if (c == ']') {
      break;
    } else {
      ++p;
    }
    p = skip_ws(s, p);
  }
  if (count < 4) return out;
  const Rect rect{std::min(n[0], n[2]), std::min(n[1], n[3]), std::max(n[0], n[2]),
                  std::max(n[1], n[3])};
  if (rect.x1 > rect.x0 && rect.y1 > rect.y0) out = {true, rect};
  return out;
}

// Returns the /Rotate value at pos as readers apply it: an integer, taken
// modulo 360; one that is not a multiple of 90 shows the page unrotated.
// -1 when the value is not an integer (readers then keep the inherited one).
int read_rotate(const PdfDoc &doc, const DictRange &r, int32_t pos) {
  if (pos < 0) return -1;
  const DictRange v = resolve_value(doc, r, pos);
  if (!v.present) return -1;
  int32_t p = v.start;
  const int32_t value = parse_int_at(v.bytes, &p);
  if (p == v.start || (p < v.end && v.bytes[p] == '.')) return -1;
  if (value < 0 && p == v.start + 1) return -1;  // a lone sign
  int degrees = static_cast<int>(value % 360);
  if (degrees < 0) degrees += 360;
  return degrees % 90 == 0 ? degrees : 0;
}

// Returns whether the name value at pos is /Page.
bool is_page_name(const DictRange &r, int32_t pos) {
  if (pos < 0 || pos >= r.end || r.bytes[pos] != '/') return false;
  const int32_t end = skip_pdf_value(r.bytes, pos);
  return end == pos + 5 && std::string_view(reinterpret_cast<const char *>(r.bytes.data()) + pos,
                                            5) == "/Page";
}

// Reads the elements of the /Kids array at pos (directly or by reference).
// References are read leniently: a lone number is taken as an object
// number, and bytes that start no element are passed over.
void read_kids(const PdfDoc &doc, const DictRange &r, int32_t pos, int32_t own_num,
               NodeFacts &f) {
  int32_t followed = 0;
  const DictRange v = resolve_value(doc, r, pos, &followed);
  if (!v.present || v.start >= v.end || v.bytes[v.start] != '[') return;
  f.kids_holder = followed > 0 ? followed : own_num;
  f.kids_bytes = v.bytes;
  const Bytes s = v.bytes;
  int32_t p = skip_ws(s, v.start + 1);
  while (p < v.end && s[p] != ']') {
    if (s[p] == '<' && p + 1 < v.end && s[p + 1] == '<') {
      const int32_t end = skip_pdf_value(s, p);
      if (end < 0) break;
      f.kids.push_back({0, p, end});
      p = skip_ws(s, end);
      continue;
    }
    if (s[p] == '(') {
      p = skip_ws(s, skip_pdf_value(s, p));
      continue;
    }
    if (!is_digit(s[p])) {
      p = skip_ws(s, p + 1);
      continue;
    }
    const int32_t kid = parse_int_at(s, &p);
    if (kid > 0) f.kids.push_back({kid, 0, 0});
    p = skip_ws(s, p);
    if (p < v.end && is_digit(s[p])) (void)parse_int_at(s, &p);
    p = skip_ws(s, p);
    if (p < v.end && s[p] == 'R') ++p;
    p = skip_ws(s, p);
  }
}

NodeFacts read_facts(const PdfDoc &doc, const ObjEntry &e) {
  NodeFacts f;
  f.read = true;
  const DictRange r = dict_range(doc, e);
  const Keys k = read_keys(r);
  if (!k.is_dict) return f;
  f.is_dict = true;
  f.is_page_type = is_page_name(r, k.value[kType]);
  f.has_kids = k.value[kKids] >= 0;
  f.resources = k.value[kResources] >= 0;
  f.media = read_box(doc, r, k.value[kMediaBox]);
  f.crop = read_box(doc, r, k.value[kCropBox]);
  f.rotate = read_rotate(doc, r, k.value[kRotate]);
  if (k.value[kParent] >= 0) {
    int32_t p = k.value[kParent];
    f.parent = parse_int_at(r.bytes, &p);
  }
  if (f.has_kids) read_kids(doc, r, k.value[kKids], e.num, f);
  return f;
}

size_t index_of(const Walk &walk, const ObjEntry &e) {
  return static_cast<size_t>(&e - walk.doc.objs.data());
}

const NodeFacts &facts_of(Walk &walk, size_t index) {
  NodeFacts &f = walk.facts[index];
  if (!f.read) f = read_facts(walk.doc, walk.doc.objs[index]);
  return f;
}

const NodeFacts &facts_of(Walk &walk, const ObjEntry &e) { return facts_of(walk, index_of(walk, e)); }

// Returns what the kids of a node with facts f (object num) inherit.
Inherited pass_down(const NodeFacts &f, int32_t num, const Inherited &above) {
  Inherited below = above;
  if (f.media.set) below.media = f.media;
  if (f.crop.set) below.crop = f.crop;
  if (f.rotate >= 0) below.rotate = f.rotate;
  if (f.resources) below.resources_num = num;
  return below;
}

// Returns the visible box: the crop box clipped to the media box (the
// default box without one); the media box when they do not overlap.
Rect visible_box(const OptRect &media, const OptRect &crop) {
  const Rect m = media.set ? media.rect : kDefaultBox;
  if (!crop.set) return m;
  const Rect c{std::max(m.x0, crop.rect.x0), std::max(m.y0, crop.rect.y0),
               std::min(m.x1, crop.rect.x1), std::min(m.y1, crop.rect.y1)};
  return c.x1 > c.x0 && c.y1 > c.y0 ? c : m;
}

// Makes the page entry: each attribute its own, else the nearest
// ancestor's; /Resources recorded by the nearest ancestor holding them.
PageInfo make_page(const NodeFacts &f, int32_t num, int32_t parent, const Inherited &above) {
  const Inherited mine = pass_down(f, num, above);
  const Rect box = visible_box(mine.media, mine.crop);
  PageInfo page;
  page.obj_num = num;
  page.parent_num = parent;
  page.box_x = box.x0;
  page.box_y = box.y0;
  page.box_w = box.x1 - box.x0;
  page.box_h = box.y1 - box.y0;
  page.rotate = mine.rotate;
  if (!f.resources) page.resources_num = above.resources_num;
  return page;
}

// Returns what a page found without the tree inherits, by following its
// /Parent links up to a loop or the depth limit.
Inherited inherited_by_parents(Walk &walk, const ObjEntry &page) {
  std::vector<const ObjEntry *> chain;  // nearest first
  const ObjEntry *node = &page;
  for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
    const int32_t parent = facts_of(walk, *node).parent;
    if (parent <= 0 || parent == page.num) break;
    const ObjEntry *next = find_obj(walk.doc, parent);
    if (next == nullptr || std::find(chain.begin(), chain.end(), next) != chain.end()) break;
    chain.push_back(next);
    node = next;
  }
  Inherited in;
  // From the root down, so that nearer nodes override.
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    in = pass_down(facts_of(walk, **it), (*it)->num, in);
  return in;
}

void visit(Walk &walk, int32_t num, int32_t parent, int depth, const Inherited &above);

// Returns the text of an inline kid as an object of its own: its bytes with
// /Parent naming the node that holds it (replaced, or added when missing),
// and /Type added when missing, so that readers need not repair the tree.
std::string adopted_text(Bytes bytes, const Kid &kid, int32_t node_num) {
  const DictRange r{bytes.first(static_cast<size_t>(kid.end)), kid.at, kid.end, true};
  const Keys k = read_keys(r);
  const auto text = [&](int32_t from, int32_t to) {
    return std::string(reinterpret_cast<const char *>(bytes.data()) + from,
                       static_cast<size_t>(to - from));
  };
  const std::string parent = std::to_string(node_num) + " 0 R";
  const int32_t value = k.value[kParent];
  const int32_t value_end = value >= 0 ? skip_pdf_value(r.bytes, value) : -1;
  const bool replace = value_end > value && value_end <= kid.end - 2;
  std::string out = replace ? text(kid.at, value) + parent + text(value_end, kid.end - 2)
                            : text(kid.at, kid.end - 2);
  std::string added;
  if (!replace) added += "/Parent " + parent + " ";
  if (k.value[kType] < 0) added += k.value[kKids] >= 0 ? "/Type /Pages " : "/Type /Page ";
  if (!added.empty() && !is_pdf_ws(static_cast<uint8_t>(out.back()))) out += ' ';
  return out + added + ">>";
}

// Gives an inline kid of node node_num its own object and has the node's
// /Kids name it by reference; returns its number, or 0 when that cannot be
// done. A dictionary is adopted once however often its node is visited.
int32_t adopt_inline_kid(Walk &walk, int32_t node_num, const NodeFacts &node, const Kid &kid) {
  const auto key = std::make_pair(node.kids_holder, kid.at);
  if (const auto it = walk.made.find(key); it != walk.made.end()) return it->second;
  const ObjEntry *holder = find_obj(walk.doc, node.kids_holder);
  if (holder == nullptr || holder->is_stream) return 0;
  // The adopted text holds its strings in the clear, as added objects do.
  std::string text = adopted_text(node.kids_bytes, kid, node_num);
  if (!holder->in_objstm) text = decrypt_strings(walk.doc, std::move(text), holder->num, holder->gen);
  const int32_t num = add_text_object(walk.doc, text);
  if (num <= 0) return 0;
  walk.made[key] = num;
  walk.facts.emplace_back();
  walk.on_path.resize(static_cast<size_t>(num) + 1, 0);
  add_body_edit(walk.doc, {node.kids_holder, kid.at, kid.end - kid.at, std::to_string(num) + " 0 R"});
  return num;
}

void visit_kids(Walk &walk, size_t index, int32_t num, int depth, const Inherited &above) {
  const NodeFacts &f = walk.facts[index];
  const Inherited below = pass_down(f, num, above);
  walk.on_path[static_cast<size_t>(num)] = 1;
  for (const Kid &kid : f.kids) {
    const int32_t kid_num = kid.num > 0 ? kid.num : adopt_inline_kid(walk, num, f, kid);
    if (kid_num > 0) visit(walk, kid_num, num, depth + 1, below);
  }
  walk.on_path[static_cast<size_t>(num)] = 0;
}

// Visits an entry: the root (depth 0) is a page only when typed /Page; a kid
// is a page when typed /Page or when it is a dictionary without /Kids, and a
// node when it has /Kids, as readers take page trees.
void visit(Walk &walk, int32_t num, int32_t parent, int depth, const Inherited &above) {
  if (depth > kMaxTreeDepth || walk.visits_left == 0) return;
  const ObjEntry *e = find_obj(walk.doc, num);
  if (e == nullptr) return;
  if (walk.on_path[static_cast<size_t>(num)]) return;  // a cycle back to an ancestor
  --walk.visits_left;
  const size_t index = index_of(walk, *e);
  const NodeFacts &f = facts_of(walk, index);
  const bool page = f.is_page_type || (depth > 0 && f.is_dict && !f.has_kids && !e->is_stream);
  if (page) {
    walk.doc.page_infos.push_back(make_page(f, num, parent, above));
    return;
  }
  if (!f.kids.empty()) visit_kids(walk, index, num, depth, above);
}

Walk make_walk(PdfDoc &doc) {
  Walk walk{doc, std::deque<NodeFacts>(doc.objs.size()),
            std::vector<uint8_t>(doc.index_of_num.size(), 0), 0, {}};
  walk.visits_left = 4 * doc.objs.size() > kMinVisitBudget ? 4 * doc.objs.size() : kMinVisitBudget;
  return walk;
}

}  // namespace

bool page_box(const PdfDoc &doc, const ObjEntry &entry, double *x, double *y, double *w,
              double *h) {
  const DictRange r = dict_range(doc, entry);
  const Keys k = read_keys(r);
  const OptRect media = read_box(doc, r, k.value[kMediaBox]);
  const OptRect crop = read_box(doc, r, k.value[kCropBox]);
  if (!media.set && !crop.set) return false;
  const Rect box = media.set ? visible_box(media, crop) : crop.rect;
  *x = box.x0;
  *y = box.y0;
  *w = box.x1 - box.x0;
  *h = box.y1 - box.y0;
  return true;
}

void walk_pages(PdfDoc &doc, int32_t root_num) {
  Walk walk = make_walk(doc);
  visit(walk, root_num, -1, 0, Inherited{});
}

int locate_pages(const char *input_path, PdfDoc &doc) {
  if (doc.catalog_num > 0) {
    if (const ObjEntry *catalog = find_obj(doc, doc.catalog_num)) {
      const DictRange r = dict_range(doc, *catalog);
      const int32_t root = r.present ? dict_key_ref(r.bytes, r.start, r.end, "Pages") : -1;
      if (root > 0) walk_pages(doc, root);
    }
  }
  sort_body_edits(doc);
  if (doc.page_infos.empty()) {
    // No tree yields a page: every object typed /Page, in index order.
    Walk walk = make_walk(doc);
    for (const ObjEntry &e : doc.objs) {
      const NodeFacts &f = facts_of(walk, e);
      if (f.is_page_type) doc.page_infos.push_back(make_page(f, e.num, -1, inherited_by_parents(walk, e)));
    }
  }
  if (doc.page_infos.empty()) {
    set_error(ErrorCode::damaged, "could not locate page tree in %s", input_path);
    return 0;
  }
  return 1;
}

int check_requested_pages(const PdfDoc &doc, const StampRequest &request) {
  if (request.pages == nullptr) return 1;
  const long total = static_cast<long>(doc.page_infos.size());
  for (int32_t i = 0; i < request.page_count; ++i) {
    const int32_t page = request.pages[i];
    if (page < 1 || page > total) {
      set_error(ErrorCode::argument, "page %d is out of range (document has %ld pages)", page, total);
      return 0;
    }
  }
  return 1;
}
