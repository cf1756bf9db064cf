// The output of one filter decoder: bytes appended to a ByteBuf whose length
// may not pass a limit. Shared by the decoders only.
#pragma once

#include <cstdint>
#include <cstring>

#include "filters/filters.h"
#include "pdf/byte_buf.h"

struct FilterOutput {
  ByteBuf &buf;
  uint64_t limit;
};

// Returns true when storage holds n more bytes after the contents (and a
// terminator after them), growing it as needed; false when the length would
// pass the limit or storage could not grow.
inline bool out_room(FilterOutput &o, uint64_t n) {
  ByteBuf &b = o.buf;
  if (b.length > o.limit || n > o.limit - b.length) return false;
  if (b.data != nullptr && b.capacity - b.length > n) return true;
  buf_reserve(b, n);
  return b.data != nullptr;
}

// Returns true after appending one byte; false as out_room.
inline bool out_byte(FilterOutput &o, uint8_t c) {
  if (!out_room(o, 1)) return false;
  o.buf.data[o.buf.length++] = c;
  return true;
}

// Returns true after appending n bytes from src; false as out_room.
inline bool out_bytes(FilterOutput &o, const uint8_t *src, uint64_t n) {
  if (!out_room(o, n)) return false;
  if (n != 0) std::memcpy(o.buf.data + o.buf.length, src, static_cast<size_t>(n));
  o.buf.length += n;
  return true;
}

// Returns status after ending the contents with the terminator ByteBuf keeps.
inline FilterStatus out_finish(FilterOutput &o, FilterStatus status) {
  if (o.buf.data != nullptr) o.buf.data[o.buf.length] = 0;
  return status;
}
