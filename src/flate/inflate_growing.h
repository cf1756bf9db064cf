// Internal entry of the raw DEFLATE decompressor for callers that do not know
// the output's size: the output buffer may be enlarged while decoding, so a
// first guess that is too small costs a reallocation, not a second decode.
// Internal to the library; tvl_inflate is this entry with a fixed buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace flate {

// Where the decompressor writes: data[0, capacity). grow, when set, is asked
// for room for `need` bytes in all once what is written would pass capacity;
// it keeps the bytes written so far, updates data and capacity, and returns
// false when it cannot or will not give that room (a limit, or no memory).
struct GrowableOutput {
  uint8_t *data = nullptr;
  size_t capacity = 0;
  bool (*grow)(void *ctx, GrowableOutput &out, size_t need) = nullptr;
  void *ctx = nullptr;
};

enum class InflateEnd {
  complete,  // the final block was decoded; data after it is ignored
  damaged,   // damaged or truncated data
  no_room,   // the output would pass capacity and grow gave no more room
};

struct InflateResult {
  InflateEnd end = InflateEnd::damaged;
  size_t written = 0;  // bytes of output produced, also when decoding stopped early
};

// Returns how decoding the raw DEFLATE data (RFC 1951, no zlib header) of src
// into out ended and how many bytes it produced.
InflateResult inflate_growing(std::span<const uint8_t> src, GrowableOutput &out);

}  // namespace flate
