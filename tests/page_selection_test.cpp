// Page-selection expressions: every form of item against page counts, the
// cuts at either end of the document, and the malformed items, each with the
// pages it selects or a piece of its message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pdf/page_selection.h"

namespace {

struct Case {
  std::string expr;
  int32_t count;
  std::vector<int32_t> pages;  // expected when error is empty
  std::string error;           // a piece of the expected message, or empty
};

std::vector<int32_t> one_to(int32_t n) {
  std::vector<int32_t> v;
  for (int32_t p = 1; p <= n; ++p) v.push_back(p);
  return v;
}

}  // namespace

// Each form of item, whitespace, the cuts at the document's ends, and what
// makes an expression wrong.
TEST(PageSelection, Table) {
  const std::string past10 = "the document has 10 pages";
  const Case cases[] = {
      // Single pages: N, z, rN.
      {"3", 10, {3}, ""},
      {"007", 10, {7}, ""},
      {"z", 10, {10}, ""},
      {"r1", 10, {10}, ""},
      {"r3", 10, {8}, ""},
      // Ranges with any ends, reversed, open.
      {"2-4", 10, {2, 3, 4}, ""},
      {"4-2", 10, {2, 3, 4}, ""},
      {"8-", 10, {8, 9, 10}, ""},
      {"8-z", 10, {8, 9, 10}, ""},
      {"r3-z", 10, {8, 9, 10}, ""},
      {"z-r3", 10, {8, 9, 10}, ""},
      {"r2-r1", 10, {9, 10}, ""},
      {"2-r8", 10, {2, 3}, ""},
      // Odd and even: alone, and on ranges by page number, not position.
      {"odd", 5, {1, 3, 5}, ""},
      {"even", 5, {2, 4}, ""},
      {"1-z:odd", 6, {1, 3, 5}, ""},
      {"2-10:even", 10, {2, 4, 6, 8, 10}, ""},
      {"3-8:even", 10, {4, 6, 8}, ""},
      {"3-8:odd", 10, {3, 5, 7}, ""},
      {"10-2:odd", 10, {3, 5, 7, 9}, ""},
      {"r4-z:odd", 10, {7, 9}, ""},
      {"4-:odd", 9, {5, 7, 9}, ""},
      {"4-4:even", 9, {4}, ""},
      {"5-5:even", 9, {}, ""},
      // Unions and repeats come out ascending, once each.
      {"3,1,3,2-4", 5, {1, 2, 3, 4}, ""},
      {"odd,even", 4, {1, 2, 3, 4}, ""},
      {"z,r1,1-z", 3, {1, 2, 3}, ""},
      // Exclusions, before or after what they remove from; alone they
      // remove from all pages.
      {"1-z,x3", 5, {1, 2, 4, 5}, ""},
      {"x3,1-5", 5, {1, 2, 4, 5}, ""},
      {"!5-7", 8, {1, 2, 3, 4, 8}, ""},
      {"x1", 3, {2, 3}, ""},
      {"x2,x4", 5, {1, 3, 5}, ""},
      {"xodd", 5, {2, 4}, ""},
      {"!even", 5, {1, 3, 5}, ""},
      {"1-z:odd,x3-5", 9, {1, 7, 9}, ""},
      {"2-9,x1-z:even", 9, {3, 5, 7, 9}, ""},
      {"3,x3", 5, {}, ""},
      {"xz,xr2", 4, {1, 2}, ""},
      // Spaces and tabs around items, '-' and ':'.
      {" 1 - 3 , z ", 10, {1, 2, 3, 10}, ""},
      {"\t2\t-\t6\t:\teven\t", 10, {2, 4, 6}, ""},
      {"4 -", 6, {4, 5, 6}, ""},
      {"4 - : odd", 8, {5, 7}, ""},
      {" x3 , 1-4", 5, {1, 2, 4}, ""},
      // Ranges cut at the ends; wholly outside, they select nothing.
      {"8-20", 10, {8, 9, 10}, ""},
      {"12-20", 10, {}, ""},
      {"12-", 10, {}, ""},
      {"12-z", 10, {}, ""},
      {"z-12", 10, {}, ""},
      {"12-8", 10, {8, 9, 10}, ""},
      {"z-z", 10, {10}, ""},
      {"12-:odd,2", 10, {2}, ""},
      {"r12-3", 10, {1, 2, 3}, ""},
      {"r20-r15", 10, {}, ""},
      {"1-2000000000", 10, one_to(10), ""},
      {"2147483647-1:even", 4, {2, 4}, ""},
      {"r2147483647-z", 3, {1, 2, 3}, ""},
      // Exclusions never fail for where their pages lie.
      {"1-z,x12", 10, one_to(10), ""},
      {"xr12", 3, {1, 2, 3}, ""},
      // A single page outside the document.
      {"12", 10, {}, "page 12 is past the end: " + past10},
      {"1-z,12", 10, {}, "page 12 is past the end: " + past10},
      {"2", 1, {}, "page 2 is past the end: the document has 1 page"},
      {"2147483647", 10, {}, "page 2147483647 is past the end"},
      {"r12", 10, {}, "page r12 is before the first page: " + past10},
      {"r2", 1, {}, "page r2 is before the first page: the document has 1 page"},
      // One page.
      {"z", 1, {1}, ""},
      {"r1", 1, {1}, ""},
      {"1-", 1, {1}, ""},
      {"2-", 1, {}, ""},
      {"odd", 1, {1}, ""},
      {"even", 1, {}, ""},
      {"x1", 1, {}, ""},
      // No pages: anything that selects is wrong, exclusions select nothing.
      {"1", 0, {}, "the document has no pages"},
      {"z", 0, {}, "the document has no pages"},
      {"1-z", 0, {}, "\"1-z\": the document has no pages"},
      {"odd", 0, {}, "the document has no pages"},
      {"1-z,x3", 0, {}, "the document has no pages"},
      {"x1", 0, {}, ""},
      {"xodd,x3-,!z", 0, {}, ""},
      {"x1", -4, {}, ""},
      {"1", -4, {}, "the document has no pages"},
      // Empty expression, empty items.
      {"", 10, {}, "empty page selection"},
      {" \t ", 10, {}, "empty page selection"},
      {"1,,2", 10, {}, "empty item in page selection \"1,,2\""},
      {"1,", 10, {}, "empty item"},
      {",1", 10, {}, "empty item"},
      {"1, ,2", 10, {}, "empty item"},
      // Numbers out of bounds.
      {"0", 10, {}, "\"0\": pages count from 1"},
      {"0-3", 10, {}, "\"0-3\""},
      {"3-0", 10, {}, "\"3-0\""},
      {"r0", 10, {}, "\"r0\""},
      {"-3", 10, {}, "\"-3\""},
      {"+3", 10, {}, "\"+3\""},
      {"2147483648", 10, {}, "\"2147483648\": number too large"},
      {"1-99999999999999999999999", 10, {}, "number too large"},
      {"r2147483648", 10, {}, "number too large"},
      // Junk.
      {"1a", 10, {}, "\"1a\""},
      {"3-4-5", 10, {}, "\"3-4-5\""},
      {":odd", 10, {}, "\":odd\""},
      {"z:foo", 10, {}, "\"z:foo\""},
      {"1-z:foo", 10, {}, "odd or even"},
      {"1-z:", 10, {}, "\"1-z:\""},
      {"1-z:odd:even", 10, {}, "\"1-z:odd:even\""},
      {"5:odd", 10, {}, "\"5:odd\": odd and even qualify ranges only"},
      {"z:even", 10, {}, "ranges only"},
      {"odd:even", 10, {}, "\"odd:even\""},
      {"oddz", 10, {}, "\"oddz\""},
      {"Z", 10, {}, "\"Z\""},
      {"3 4", 10, {}, "\"3 4\""},
      {"x 3", 10, {}, "\"x 3\""},
      {"r 3", 10, {}, "\"r 3\""},
      {"x", 10, {}, "\"x\""},
      {"!", 10, {}, "\"!\""},
      {"xx3", 10, {}, "\"xx3\""},
      {"-", 10, {}, "\"-\""},
      {"1\n2", 10, {}, "\"1?2\""},
      // A malformed item is reported before a page outside the document.
      {"12,1a", 10, {}, "\"1a\""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("\"" + c.expr + "\" on " + std::to_string(c.count) + " pages");
    std::vector<int32_t> pages = {99};  // stale contents must not survive
    std::string error = "stale";
    const bool ok = parse_page_selection(c.expr, c.count, pages, error);
    if (c.error.empty()) {
      EXPECT_TRUE(ok) << error;
      EXPECT_EQ(pages, c.pages);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      EXPECT_EQ(error.find('\n'), std::string::npos) << error;
      EXPECT_TRUE(pages.empty());
    }
  }
}

// Many overlapping items over many pages: counting each item on each of its
// pages would take 10^11 steps here; the work must stay linear.
TEST(PageSelection, OverlapsStayLinear) {
  std::string expr;
  for (int i = 0; i < 100000; ++i) expr += i % 2 == 0 ? "1-z," : "x2-z:even,";
  expr += "odd";
  std::vector<int32_t> pages;
  std::string error;
  ASSERT_TRUE(parse_page_selection(expr, 1000000, pages, error)) << error;
  ASSERT_EQ(pages.size(), 500000u);
  EXPECT_EQ(pages.front(), 1);
  EXPECT_EQ(pages.back(), 999999);
}
