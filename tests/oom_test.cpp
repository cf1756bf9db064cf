// Running out of memory at any allocation of a stamping call: the call fails
// with an out-of-memory message, leaves no output file and leaks nothing
// (the sanitizer build checks the last point).
#include <folimark.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "support/pdf_builder.h"

namespace {

// Allocations left before the next one fails; negative: never fail.
long g_allocations_left = -1;
bool g_failed = false;

void *allocate(std::size_t size) {
  if (g_allocations_left == 0) {
    g_allocations_left = -1;
    g_failed = true;
    throw std::bad_alloc();
  }
  if (g_allocations_left > 0) --g_allocations_left;
  if (void *p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

void *operator new(std::size_t size) { return allocate(size); }
void *operator new[](std::size_t size) { return allocate(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }

// Every allocation in turn fails, in a call that loads, walks, plans and
// writes several pages.
TEST(OutOfMemory, EveryFailedAllocationFailsTheCallCleanly) {
  std::vector<std::string> texts;
  for (int i = 0; i < 5; ++i) texts.push_back("page " + std::to_string(i));
  const std::string in = testpdf::temp_path("oom-in.pdf");
  const std::string out = testpdf::temp_path("oom-out.pdf");
  testpdf::write_file(in, testpdf::simple_document(texts));
  const int pages[] = {2, 4};
  int failures = 0;
  for (long k = 0; k < 100000; ++k) {
    std::filesystem::remove(out);
    g_failed = false;
    g_allocations_left = k;
    const int ok = folimark_text_pages(in.c_str(), out.c_str(), "stamp", 10, 10, 12, 1, pages, 2);
    g_allocations_left = -1;
    if (!g_failed) {
      EXPECT_EQ(ok, 1) << folimark_last_error();
      break;
    }
    ++failures;
    ASSERT_EQ(ok, 0) << "allocation " << k;
    EXPECT_EQ(std::string(folimark_last_error()).rfind("out of memory", 0), 0u)
        << "allocation " << k << ": " << folimark_last_error();
    EXPECT_FALSE(std::filesystem::exists(out)) << "allocation " << k;
  }
  EXPECT_GT(failures, 10);
}
