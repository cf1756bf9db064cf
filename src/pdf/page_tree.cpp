#include "pdf/page_tree.h"

#include <algorithm>
#include <vector>

#include "common/error.h"
#include "common/limits.h"

namespace {

// A tree visits each node once; a file whose nodes share kids could make the
// walk exponential, so the number of visits is bounded by the index size.
constexpr size_t kMinVisitBudget = 65536;

// What the walk reads of one entry, read once however often the entry is
// visited: shared nodes would otherwise be rescanned on every visit.
struct NodeFacts {
  int8_t type = -1;        // obj_type, -1 until read
  int8_t boxed = -1;       // own usable box: -1 unknown, 0 none, 1 yes
  int8_t resources = -1;   // own /Resources: -1 unknown, 0 no, 1 yes
  bool kids_read = false;
  bool parent_read = false;
  int32_t parent = -1;
  double box[4] = {0, 0, 0, 0};
  std::vector<int32_t> kids;
};

// What a page takes from the nodes above it.
struct Inherited {
  bool boxed = false;
  double box[4] = {0, 0, 595, 842};
  int32_t resources_num = -1;
};

struct Walk {
  PdfDoc &doc;
  std::vector<NodeFacts> facts;     // by position in doc.objs
  std::vector<uint8_t> on_path;     // by object number
  size_t visits_left = 0;
};

// Returns the range of an entry in which /Pages of the catalog is searched.
DictRange catalog_range(const PdfDoc &doc, const ObjEntry &e) {
  if (e.in_objstm) return dict_range(doc, e);
  DictRange r;
  const int32_t end = e.stream_kw_pos > 0 ? e.stream_kw_pos : doc.length;
  r.bytes = doc_bytes(doc).first(static_cast<size_t>(end));
  r.start = e.dict_pos >= 0 ? e.dict_pos : 0;
  r.end = end;
  r.present = true;
  return r;
}

// Returns the number after the reference value of /name in a range, or -1.
int32_t int_after_name(const DictRange &r, const char *name, int32_t name_len) {
  if (!r.present) return -1;
  const int32_t at = find_name(r.bytes, r.start, r.end, name);
  if (at < 0) return -1;
  int32_t pos = at + 1 + name_len;
  return parse_int_at(r.bytes, &pos);
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

// Returns true with the box of the first usable occurrence of /key.
bool box_from_key(const DictRange &r, const char *key, double *x, double *y, double *w,
                  double *h) {
  const Bytes s = r.bytes;
  const int32_t key_len = static_cast<int32_t>(std::char_traits<char>::length(key));
  for (int32_t hit = find_name(s, r.start, r.end, key); hit >= 0;
       hit = find_name(s, hit + 1, r.end, key)) {
    int32_t p = skip_ws(s, hit + 1 + key_len);
    if (p >= r.end || s[p] != '[') continue;
    p = skip_ws(s, p + 1);
    double v[4];
    int count = 0;
    while (count < 4 && p < r.end) {
      const uint8_t c = s[p];
      if (c == '+' || c == '-' || is_digit(c)) {
        v[count++] = read_box_number(s, &p);
      } else if (c == ']') {
        break;
      } else {
        ++p;
      }
      p = skip_ws(s, p);
    }
    if (count < 4) continue;
    const double x0 = v[0] < v[2] ? v[0] : v[2], x1 = v[0] < v[2] ? v[2] : v[0];
    const double y0 = v[1] < v[3] ? v[1] : v[3], y1 = v[1] < v[3] ? v[3] : v[1];
    if (x1 > x0 && y1 > y0) {
      *x = x0;
      *y = y0;
      *w = x1 - x0;
      *h = y1 - y0;
      return true;
    }
  }
  return false;
}

// Returns the kids of a node's first /Kids array. There is no cap on their
// number: writers commonly list every page of a document in one flat array.
std::vector<int32_t> read_kids(const PdfDoc &doc, const ObjEntry &e) {
  std::vector<int32_t> kids;
  const DictRange r = dict_range(doc, e);
  if (!r.present) return kids;
  const Bytes s = r.bytes;
  int32_t p = -1;
  for (int32_t hit = find_name(s, r.start, r.end, "Kids"); hit >= 0;
       hit = find_name(s, hit + 1, r.end, "Kids")) {
    const int32_t v = skip_ws(s, hit + 5);
    if (v < r.end && s[v] == '[') {
      p = v + 1;
      break;
    }
  }
  if (p < 0) return kids;
  p = skip_ws(s, p);
  while (p < r.end && s[p] != ']') {
    if (!is_digit(s[p])) {
      p = skip_ws(s, p + 1);
      continue;
    }
    const int32_t kid = parse_int_at(s, &p);
    if (kid > 0) kids.push_back(kid);
    p = skip_ws(s, p);
    if (p < r.end && is_digit(s[p])) (void)parse_int_at(s, &p);
    p = skip_ws(s, p);
    if (p < r.end && s[p] == 'R') ++p;
    p = skip_ws(s, p);
  }
  return kids;
}

NodeFacts &facts_of(Walk &walk, const ObjEntry &e) {
  return walk.facts[static_cast<size_t>(&e - walk.doc.objs.data())];
}

int type_of(Walk &walk, const ObjEntry &e) {
  NodeFacts &f = facts_of(walk, e);
  if (f.type < 0) f.type = static_cast<int8_t>(obj_type(walk.doc, e));
  return f.type;
}

bool own_box(Walk &walk, const ObjEntry &e, double box[4]) {
  NodeFacts &f = facts_of(walk, e);
  if (f.boxed < 0)
    f.boxed = page_box(walk.doc, e, &f.box[0], &f.box[1], &f.box[2], &f.box[3]) ? 1 : 0;
  if (f.boxed) std::copy(f.box, f.box + 4, box);
  return f.boxed == 1;
}

bool own_resources(Walk &walk, const ObjEntry &e) {
  NodeFacts &f = facts_of(walk, e);
  if (f.resources < 0) {
    const DictRange r = dict_range(walk.doc, e);
    f.resources = r.present && find_name(r.bytes, r.start, r.end, "Resources") >= 0 ? 1 : 0;
  }
  return f.resources == 1;
}

// Returns what the kids of node e inherit, given what e inherits.
Inherited pass_down(Walk &walk, const ObjEntry &e, const Inherited &above) {
  Inherited below = above;
  if (own_box(walk, e, below.box)) below.boxed = true;
  if (own_resources(walk, e)) below.resources_num = e.num;
  return below;
}

// Makes the page entry: its own box, else the nearest ancestor's; the
// nearest ancestor holding /Resources when it has none of its own.
PageInfo make_page(Walk &walk, const ObjEntry &e, int32_t parent, const Inherited &above) {
  PageInfo page;
  page.obj_num = e.num;
  page.parent_num = parent;
  double box[4];
  const double *chosen = own_box(walk, e, box) ? box : above.box;
  page.box_x = chosen[0];
  page.box_y = chosen[1];
  page.box_w = chosen[2];
  page.box_h = chosen[3];
  if (!own_resources(walk, e)) page.resources_num = above.resources_num;
  return page;
}

int32_t parent_of(Walk &walk, const ObjEntry &e) {
  NodeFacts &f = facts_of(walk, e);
  if (!f.parent_read) {
    f.parent = int_after_name(dict_range(walk.doc, e), "Parent", 6);
    f.parent_read = true;
  }
  return f.parent;
}

// Returns what a page found without the tree inherits, by following its
// /Parent links up to a loop or the depth limit.
Inherited inherited_by_parents(Walk &walk, const ObjEntry &page) {
  std::vector<const ObjEntry *> chain;  // nearest first
  const ObjEntry *node = &page;
  for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
    const int32_t parent = parent_of(walk, *node);
    if (parent <= 0 || parent == page.num) break;
    const ObjEntry *next = find_obj(walk.doc, parent);
    if (next == nullptr || std::find(chain.begin(), chain.end(), next) != chain.end()) break;
    chain.push_back(next);
    node = next;
  }
  Inherited in;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    // Nearer nodes override: apply from the root down, keeping the nearest.
    const Inherited below = pass_down(walk, **it, Inherited{});
    if (below.boxed) {
      in.boxed = true;
      std::copy(below.box, below.box + 4, in.box);
    }
    if (below.resources_num >= 0) in.resources_num = below.resources_num;
  }
  return in;
}

const std::vector<int32_t> &kids_of(Walk &walk, const ObjEntry &e) {
  NodeFacts &f = facts_of(walk, e);
  if (!f.kids_read) {
    f.kids = read_kids(walk.doc, e);
    f.kids_read = true;
  }
  return f.kids;
}

void visit(Walk &walk, int32_t num, int32_t parent, int depth, const Inherited &above) {
  if (depth > kMaxTreeDepth || walk.visits_left == 0) return;
  const ObjEntry *e = find_obj(walk.doc, num);
  if (e == nullptr) return;
  if (walk.on_path[static_cast<size_t>(num)]) return;  // a cycle back to an ancestor
  --walk.visits_left;
  if (type_of(walk, *e) == 1) {
    walk.doc.page_infos.push_back(make_page(walk, *e, parent, above));
    return;
  }
  const std::vector<int32_t> &kids = kids_of(walk, *e);
  if (kids.empty()) return;
  const Inherited below = pass_down(walk, *e, above);
  walk.on_path[static_cast<size_t>(num)] = 1;
  for (const int32_t kid : kids) visit(walk, kid, num, depth + 1, below);
  walk.on_path[static_cast<size_t>(num)] = 0;
}

Walk make_walk(PdfDoc &doc) {
  Walk walk{doc, std::vector<NodeFacts>(doc.objs.size()),
            std::vector<uint8_t>(doc.index_of_num.size(), 0), 0};
  walk.visits_left = 4 * doc.objs.size() > kMinVisitBudget ? 4 * doc.objs.size() : kMinVisitBudget;
  return walk;
}

}  // namespace

bool page_box(const PdfDoc &doc, const ObjEntry &entry, double *x, double *y, double *w,
              double *h) {
  const DictRange r = dict_range(doc, entry);
  if (!r.present) return false;
  return box_from_key(r, "CropBox", x, y, w, h) || box_from_key(r, "MediaBox", x, y, w, h);
}

void walk_pages(PdfDoc &doc, int32_t root_num) {
  Walk walk = make_walk(doc);
  visit(walk, root_num, -1, 0, Inherited{});
}

int locate_pages(const char *input_path, PdfDoc &doc) {
  if (doc.catalog_num > 0) {
    if (const ObjEntry *catalog = find_obj(doc, doc.catalog_num)) {
      const int32_t root = int_after_name(catalog_range(doc, *catalog), "Pages", 5);
      if (root > 0) walk_pages(doc, root);
    }
  }
  if (doc.page_infos.empty()) {
    Walk walk = make_walk(doc);
    for (const ObjEntry &e : doc.objs) {
      if (type_of(walk, e) == 1)
        doc.page_infos.push_back(make_page(walk, e, -1, inherited_by_parents(walk, e)));
    }
  }
  if (doc.page_infos.empty()) {
    set_error("could not locate page tree in %s", input_path);
    return 0;
  }
  return 1;
}

int check_requested_pages(const PdfDoc &doc, const StampRequest &request) {
  if (request.pages == nullptr || request.page_count <= 0) return 1;
  const long total = static_cast<long>(doc.page_infos.size());
  for (int32_t i = 0; i < request.page_count; ++i) {
    const int32_t page = request.pages[i];
    if (page < 1 || page > total) {
      set_error("page %d is out of range (document has %ld pages)", page, total);
      return 0;
    }
  }
  return 1;
}
