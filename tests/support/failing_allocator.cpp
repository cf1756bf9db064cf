#include "support/failing_allocator.h"

#include <cstdlib>
#include <new>

long g_allocations_left = -1;
bool g_failed = false;
bool g_tracking = false;
size_t g_largest = 0;

namespace {

void *allocate(std::size_t size) {
  if (g_tracking && size > g_largest) g_largest = size;
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
