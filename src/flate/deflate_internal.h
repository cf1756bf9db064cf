// Internal entry of the compressor with a replaceable allocator, so that tests
// can make any allocation of a call fail. Not part of the library's interface.
#pragma once

#include <cstddef>

namespace flate {

// The buffer handed back in *out comes from allocate/reallocate and is given to
// the caller, who frees it with the counterpart of these functions (for
// tvl_deflate: malloc, realloc and free). reallocate must leave the old block
// valid when it fails, as realloc does.
struct DeflateAllocator {
  void *(*allocate)(void *ctx, size_t size);
  void *(*reallocate)(void *ctx, void *block, size_t size);
  void (*release)(void *ctx, void *block);
  void *ctx;
};

// tvl_deflate with the given allocator. Returns 0, or -1 when an allocation
// fails, in which case everything allocated is released and *out and *out_len
// are untouched.
int deflate_with_allocator(const unsigned char *src, size_t len, unsigned char **out,
                           size_t *out_len, const DeflateAllocator &alloc);

}  // namespace flate
