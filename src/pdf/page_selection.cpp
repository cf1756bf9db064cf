// Page-selection expressions. The expression is read twice, item by item: a
// first pass finds any malformed item before a page is counted and learns
// whether every item is an exclusion; the second cuts each item to the
// document and counts it on its pages in two difference arrays (what the
// items select, what the exclusions remove). Nothing is kept per item, so
// time and memory stay linear however many items there are or overlap.
#include "pdf/page_selection.h"

#include <algorithm>
#include <charconv>

#include "common/limits.h"
#include "pdf/scan.h"

namespace {

enum class Parity { any, odd, even };
enum class BoundKind { page, last, from_end };

// One end of a range as written: page n, the last page, or the n-th page
// counted from the end.
struct Bound {
  BoundKind kind = BoundKind::page;
  int32_t n = 0;
};

// One item as written. A single page has first == last and is_range false.
struct Item {
  std::string_view text;  // as written, without surrounding spaces
  bool exclude = false;
  bool is_range = false;
  Bound first, last;
  Parity parity = Parity::any;
};

// Pages lo..hi of the document (1 <= lo <= hi <= page count), all of them or
// only the odd or the even ones.
struct Span {
  int32_t lo = 0, hi = 0;
  Parity parity = Parity::any;
};

bool is_space(char c) { return c == ' ' || c == '\t'; }

std::string_view trim_spaces(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

// An item longer than this is cut in messages, which stay one short line.
constexpr size_t kMaxQuotedBytes = 40;

// Returns text in double quotes for a message: control bytes read '?', and a
// long text is cut with "...".
std::string quoted(std::string_view text) {
  std::string q = "\"";
  for (size_t i = 0; i < text.size() && i < kMaxQuotedBytes; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    q += (c < 0x20 || c == 0x7f) ? '?' : text[i];
  }
  if (text.size() > kMaxQuotedBytes) q += "...";
  return q + "\"";
}

std::string pages_text(int32_t count) {
  return std::to_string(count) + (count == 1 ? " page" : " pages");
}

// Reads one item's text, front to back. Each step returns false when what
// stands at the cursor is not what the grammar allows there.
struct ItemReader {
  std::string_view s;
  size_t pos = 0;
  std::string why;  // set by a step that knows more than "not an item"

  bool at_end() const { return pos == s.size(); }
  void skip_spaces() {
    while (pos < s.size() && is_space(s[pos])) ++pos;
  }
  bool take(char c) {
    if (pos < s.size() && s[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }
  bool take_word(std::string_view word) {
    if (s.substr(pos, word.size()) != word) return false;
    pos += word.size();
    return true;
  }

  // number: decimal digits, 1 to INT32_MAX.
  bool number(int32_t *out, std::string_view zero_why) {
    const size_t start = pos;
    while (pos < s.size() && is_digit(static_cast<uint8_t>(s[pos]))) ++pos;
    if (pos == start) return false;
    const auto r = std::from_chars(s.data() + start, s.data() + pos, *out);
    if (r.ec == std::errc::result_out_of_range) {
      why = "number too large";
      return false;
    }
    if (*out == 0) {
      why = zero_why;
      return false;
    }
    return true;
  }

  // bound: N, z or rN.
  bool bound(Bound *b) {
    if (take('z')) {
      b->kind = BoundKind::last;
      return true;
    }
    if (take('r')) {
      b->kind = BoundKind::from_end;
      return number(&b->n, "r1 is the last page");
    }
    b->kind = BoundKind::page;
    return number(&b->n, "pages count from 1");
  }

  // parity: odd or even, ending the item.
  bool parity(Parity *p) {
    if (take_word("odd")) {
      *p = Parity::odd;
    } else if (take_word("even")) {
      *p = Parity::even;
    } else {
      why = "odd or even must follow ':'";
      return false;
    }
    return at_end();
  }
};

// Returns true with the item read from its text (spaces around it already
// removed); false with the message.
bool read_item(std::string_view text, Item &item, std::string &error) {
  item = Item{};
  item.text = text;
  ItemReader r;
  r.s = text;
  item.exclude = r.take('x') || r.take('!');
  bool ok = true;
  if (r.take_word("odd")) item.parity = Parity::odd;
  else if (r.take_word("even")) item.parity = Parity::even;
  if (item.parity != Parity::any) {
    // The whole document's odd or even pages: the word is all the item.
    ok = r.at_end();
    item.is_range = true;
    item.first = {BoundKind::page, 1};
    item.last = {BoundKind::last, 0};
  } else if (r.bound(&item.first)) {
    item.last = item.first;
    r.skip_spaces();
    if (r.take('-')) {
      item.is_range = true;
      r.skip_spaces();
      if (r.at_end() || text[r.pos] == ':') {
        item.last = {BoundKind::last, 0};
      } else {
        ok = r.bound(&item.last);
      }
      r.skip_spaces();
    }
    if (ok && r.take(':')) {
      r.skip_spaces();
      ok = r.parity(&item.parity);
      if (ok && !item.is_range) {
        r.why = "odd and even qualify ranges only";
        ok = false;
      }
    }
    ok = ok && r.at_end();
  } else {
    ok = false;
  }
  if (ok) return true;
  error = "bad page selection item " + quoted(text);
  if (!r.why.empty()) error += ": " + r.why;
  return false;
}

// Returns true once `visit` has taken every item of the expression in order;
// false with the message at the first empty or malformed item, or the first
// item `visit` refuses (it then sets the message).
template <typename Visit>
bool for_each_item(std::string_view expr, std::string &error, Visit visit) {
  size_t start = 0;
  while (start <= expr.size()) {
    size_t comma = expr.find(',', start);
    if (comma == std::string_view::npos) comma = expr.size();
    const std::string_view text = trim_spaces(expr.substr(start, comma - start));
    if (text.empty()) {
      error = "empty item in page selection " + quoted(expr);
      return false;
    }
    Item item;
    if (!read_item(text, item, error) || !visit(item)) return false;
    start = comma + 1;
  }
  return true;
}

// Returns the position a bound names in a document of `count` pages; it may
// lie before page 1 or after the last page.
int64_t position(Bound b, int32_t count) {
  switch (b.kind) {
    case BoundKind::last: return count;
    case BoundKind::from_end: return int64_t{count} - b.n + 1;
    default: return b.n;
  }
}

// Returns true with the pages of the item inside the document in `span`
// (`selects` false when there are none); false with the message when the
// item is not an exclusion and names a page the document does not have.
bool cut_to_document(const Item &item, int32_t count, Span &span, bool &selects,
                     std::string &error) {
  if (!item.exclude) {
    if (count <= 0) {
      error = "no page to select for " + quoted(item.text) + ": the document has no pages";
      return false;
    }
    if (!item.is_range && item.first.kind == BoundKind::page && item.first.n > count) {
      error = "page " + std::to_string(item.first.n) + " is past the end: the document has " +
              pages_text(count);
      return false;
    }
    if (!item.is_range && item.first.kind == BoundKind::from_end && item.first.n > count) {
      error = "page r" + std::to_string(item.first.n) +
              " is before the first page: the document has " + pages_text(count);
      return false;
    }
  }
  const int64_t a = position(item.first, count), b = position(item.last, count);
  int64_t lo = std::min(a, b), hi = std::max(a, b);
  // A z end means "to the end": the range runs from its other end on, so
  // that "12-z" and "z-12", like "12-", select nothing on 10 pages.
  if (item.last.kind == BoundKind::last) lo = a;
  else if (item.first.kind == BoundKind::last) lo = b;
  lo = std::max<int64_t>(lo, 1);
  hi = std::min<int64_t>(hi, count);
  selects = lo <= hi;
  if (selects) span = {static_cast<int32_t>(lo), static_cast<int32_t>(hi), item.parity};
  return true;
}

// Counts the span on every page it holds, in a difference array whose
// running sums step by two: odd and even pages are separate chains, so a
// parity span is one chain and a whole span two. `diff` has count + 3 slots.
void add_span(std::vector<int32_t> &diff, Span span) {
  for (int32_t start = span.lo; start <= span.hi && start <= span.lo + 1; ++start) {
    const bool odd = (start & 1) != 0;
    if ((span.parity == Parity::odd && !odd) || (span.parity == Parity::even && odd)) continue;
    const int32_t end = span.hi - ((span.hi - start) & 1);  // the chain's last page
    ++diff[static_cast<size_t>(start)];
    --diff[static_cast<size_t>(end) + 2];
  }
}

// Turns the difference array into the count of spans on each page, in place.
void sum_chains(std::vector<int32_t> &diff) {
  for (size_t p = 2; p < diff.size(); ++p) diff[p] += diff[p - 2];
}

}  // namespace

bool parse_page_selection(std::string_view expr, int32_t page_count,
                          std::vector<int32_t> &pages, std::string &error) {
  pages.clear();
  error.clear();
  if (expr.size() > kMaxPageSelectionBytes) {
    error = "page selection too long: " + std::to_string(expr.size()) + " bytes";
    return false;
  }
  if (trim_spaces(expr).empty()) {
    error = "empty page selection";
    return false;
  }

  bool any_selecting = false;
  const bool well_formed = for_each_item(expr, error, [&](const Item &item) {
    any_selecting = any_selecting || !item.exclude;
    return true;
  });
  if (!well_formed) return false;

  // Counted lazily: a selection that holds no page of the document costs no
  // memory for its pages.
  const int32_t count = std::max(page_count, 0);
  const size_t slots = static_cast<size_t>(count) + 3;
  std::vector<int32_t> in, out;
  const bool fits = for_each_item(expr, error, [&](const Item &item) {
    Span span;
    bool selects = false;
    if (!cut_to_document(item, count, span, selects, error)) return false;
    if (selects) {
      std::vector<int32_t> &diff = item.exclude ? out : in;
      diff.resize(slots);
      add_span(diff, span);
    }
    return true;
  });
  if (!fits) return false;
  if (!any_selecting && count > 0) {
    in.resize(slots);
    add_span(in, {1, count, Parity::any});
  }
  if (in.empty()) return true;

  sum_chains(in);
  sum_chains(out);
  for (int32_t p = 1; p <= count; ++p) {
    const auto i = static_cast<size_t>(p);
    if (in[i] > 0 && (out.empty() || out[i] == 0)) pages.push_back(p);
  }
  return true;
}
