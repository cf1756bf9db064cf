// Any bytes as a page count and a page-selection expression: the first four
// bytes, little-endian, give the count (modulo 100000, so that a run stays
// quick), the rest is the expression. A selection is ascending, without
// repeats and inside the document; a failure says why and selects nothing.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_target.h"
#include "pdf/page_selection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4) return 0;
  const uint32_t raw = uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 |
                       uint32_t{data[3]} << 24;
  const auto count = static_cast<int32_t>(raw % 100000);
  const std::string_view expr(reinterpret_cast<const char *>(data + 4), size - 4);
  std::vector<int32_t> pages;
  std::string error;
  if (!parse_page_selection(expr, count, pages, error)) {
    if (error.empty() || !pages.empty()) __builtin_trap();
    return 0;
  }
  if (pages.size() > static_cast<size_t>(count)) __builtin_trap();
  int32_t previous = 0;
  for (const int32_t p : pages) {
    if (p <= previous || p > count) __builtin_trap();
    previous = p;
  }
  return 0;
}
