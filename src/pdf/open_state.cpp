// What a content stream leaves open at its end (ISO 32000-1, 7.8.2, 8.4.2,
// 9.4 and 14.6): q without Q, BT without ET, BMC/BDC without EMC, counted by
// a tokenizer that knows just enough of the content syntax to tell operators
// from data: literal and hexadecimal strings, comments, names, array and
// dictionary operands and the binary data of inline images are passed over.
// It also says how to end a construct the content stops inside, since a
// reader would otherwise take everything after it (the stamp) as part of it.
#include <algorithm>

#include "pdf/content.h"

namespace {

// Returns the position just past the ')' that closes the literal string
// whose '(' is at i, or the end with *open_parens set to the nesting left.
size_t skip_literal_string(Bytes s, size_t i, int64_t *open_parens) {
  int64_t depth = 1;
  for (++i; i < s.size(); ++i) {
    const uint8_t c = s[i];
    if (c == '\\') {
      ++i;  // the escaped byte, whatever it is
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      return i + 1;
    }
  }
  *open_parens = depth;
  return s.size();
}

// Returns the position just past the "EI" that ends the inline image data
// starting at i, or the end. The data is binary and has no declared length
// in PDF 1.x, so the end is the first "EI" standing between whitespace and
// whitespace, a delimiter or the end of the content.
size_t skip_inline_image_data(Bytes s, size_t i, bool *unterminated) {
  for (; i + 1 < s.size(); ++i) {
    if (s[i] != 'E' || s[i + 1] != 'I' || i == 0 || !is_pdf_ws(s[i - 1])) continue;
    if (i + 2 == s.size() || !is_regular(s[i + 2])) return i + 2;
  }
  *unterminated = true;
  return s.size();
}

}  // namespace

OpenState open_state(Bytes s) {
  int64_t depth = 0;
  int64_t lowest = 0;
  int64_t marked = 0;
  bool in_text = false;
  std::string nesting;  // '[' and '<' (a dictionary) still open, innermost last
  // The construct the content stops inside, if any.
  enum class Unended { nothing, literal, hex, image } unended = Unended::nothing;
  int64_t open_parens = 0;
  size_t i = 0;
  while (i < s.size()) {
    const uint8_t c = s[i];
    if (is_pdf_ws(c)) {
      ++i;
    } else if (c == '%') {
      while (i < s.size() && s[i] != '\r' && s[i] != '\n') ++i;
    } else if (c == '(') {
      i = skip_literal_string(s, i, &open_parens);
      if (open_parens > 0) unended = Unended::literal;
    } else if (c == '<' && i + 1 < s.size() && s[i + 1] == '<') {
      nesting += '<';
      i += 2;
    } else if (c == '>' && i + 1 < s.size() && s[i + 1] == '>') {
      if (!nesting.empty() && nesting.back() == '<') nesting.pop_back();
      i += 2;
    } else if (c == '<') {
      while (i < s.size() && s[i] != '>') ++i;
      if (i < s.size())
        ++i;
      else
        unended = Unended::hex;
    } else if (c == '[') {
      nesting += '[';
      ++i;
    } else if (c == ']') {
      if (!nesting.empty() && nesting.back() == '[') nesting.pop_back();
      ++i;
    } else if (c == '/') {
      for (++i; i < s.size() && is_regular(s[i]);) ++i;
    } else if (is_pdf_delimiter(c)) {
      ++i;
    } else {
      const size_t start = i;
      while (i < s.size() && is_regular(s[i])) ++i;
      // Operators only stand outside operands; a keyword inside an array or
      // dictionary is an element of it.
      if (!nesting.empty()) continue;
      const size_t n = i - start;
      const std::string_view op(reinterpret_cast<const char *>(s.data() + start), n);
      if (op == "q") {
        ++depth;
      } else if (op == "Q") {
        --depth;
        lowest = std::min(lowest, depth);
      } else if (op == "BDC" || op == "BMC") {
        ++marked;
      } else if (op == "EMC") {
        if (marked > 0) --marked;  // readers pass over an EMC that closes nothing
      } else if (op == "BT") {
        in_text = true;
      } else if (op == "ET") {
        in_text = false;
      } else if (op == "ID") {
        if (i < s.size() && is_pdf_ws(s[i])) ++i;  // the one byte that ends "ID"
        bool unterminated = false;
        i = skip_inline_image_data(s, i, &unterminated);
        if (unterminated) unended = Unended::image;
      }
    }
  }
  OpenState b;
  b.deficit = -lowest;
  b.open = depth - lowest;
  b.marked = marked;
  b.in_text = in_text;
  if (unended == Unended::literal) b.closer.append(static_cast<size_t>(open_parens), ')');
  if (unended == Unended::hex) b.closer += '>';
  if (unended == Unended::image) b.closer += "EI";
  // A dictionary may stop after a key: "null" gives it a value (or is passed
  // over as a stray key) so that ">>" is read as its end.
  for (auto it = nesting.rbegin(); it != nesting.rend(); ++it)
    b.closer += *it == '[' ? "]" : " null >>";
  if (!b.closer.empty()) b.closer += '\n';
  return b;
}
