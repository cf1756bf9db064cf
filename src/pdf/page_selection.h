// Page-selection expressions: the text a user writes to say which pages of a
// document to stamp ("1-z:odd,x3"), turned into page numbers for a document
// of a known page count. Pure: it reads only the expression and the count.
// Does not support page labels, descending or repeated output order, or
// selections relative to anything but the first and the last page.
//
// The expression, exactly:
//
//   expression := item ( ',' item )*
//   item       := space* [ 'x' | '!' ] body space*
//   body       := 'odd' | 'even' | bound
//               | bound space* '-' space* [ bound ] [ space* ':' space* parity ]
//   bound      := number | 'z' | 'r' number
//   parity     := 'odd' | 'even'
//   number     := digit+                      (decimal, 1 to 2147483647)
//   space      := ' ' | TAB
//
//   N        page N, counted from 1                      "3"
//   z        the last page                               "z"
//   rN       the N-th page counted from the end          "r1" (= z), "r2"
//   A-B      pages A to B; either end may be N, z or rN  "2-5", "r3-z", "5-2"
//            (a reversed range selects the same pages as the ordered one)
//   A-       A to the last page, the same as A-z         "4-"
//   odd      every odd page; even: every even page       "odd", "even"
//   A-B:odd  the odd pages of a range ("even" alike);    "1-z:odd", "2-10 : even"
//            parity is the page number's, not the position in the range;
//            a single page ("5:odd") takes no qualifier
//   xI, !I   removes the pages item I selects from what   "1-z,x3", "!5-7", "xodd"
//            the other items select; when every item is
//            an exclusion, they remove from all pages      "x1" = "2-z"
//
// Words and letters are lower case only; no space stands between the prefix
// and its item, nor inside "rN". Items may repeat and overlap; the result is
// the union of what the items select, less the union of what the exclusions
// select, in ascending order.
//
// Against the document's page count C:
//   - a range is cut to pages 1..C: "8-20" on 10 pages is 8-10, "r12-3" is
//     1-3; a range lying wholly outside 1..C ("12-20", "r20-r15") selects
//     nothing;
//   - a range with a z end runs from its other end to the last page, the
//     same as the open range: "12-", "12-z" and "z-12" select nothing on 10
//     pages (while "12-8" is 8-12, cut to 8-10);
//   - a single page outside the document is an error: "12" on 10 pages
//     ("page 12 is past the end: the document has 10 pages"), "r12" on 10
//     pages ("page r12 is before the first page: ...");
//   - an exclusion never fails for where its pages lie: "x12" on 10 pages
//     removes nothing;
//   - with no pages (C <= 0) any item that is not an exclusion is an error,
//     and an expression of exclusions only selects nothing.
//
// Errors, besides those above: an empty expression (or spaces only), an
// empty item ("1,,2", "1,", "1, ,2"), 0 or r0, a number above 2147483647,
// an expression longer than 16 MiB (kMaxPageSelectionBytes), and anything
// else the grammar does not make ("1a", "3-4-5", ":odd", "z:foo", "-3",
// "x 3", "Z"). A malformed item anywhere is reported before a page outside
// the document. Each message is one line naming the offending item (control
// bytes in it read '?'); it names no file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Returns true with `pages` set to the selected 1-based page numbers,
// ascending and without repeats; false with `error` set to a one-line
// message (no file name: the caller adds it) when the expression is malformed
// or names a single page past the end. Time and memory are linear in the
// expression's length plus page_count: a range is cut to the document before
// any page of it is visited. Throws std::bad_alloc when memory runs out.
bool parse_page_selection(std::string_view expr, int32_t page_count,
                          std::vector<int32_t> &pages, std::string &error);
