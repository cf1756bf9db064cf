// Big-endian reads from untrusted bytes that never run past their end. A
// read that would leaves `ok` false for good and yields 0, so that a parser
// reads a whole record and checks once. Positions count from the start of
// the range; a position beyond it is never dereferenced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct ByteReader {
  std::span<const uint8_t> bytes;
  size_t pos = 0;
  bool ok = true;
};

// Returns a reader of bytes standing at pos.
inline ByteReader reader_at(std::span<const uint8_t> bytes, size_t pos) {
  return ByteReader{bytes, pos, pos <= bytes.size()};
}

// Returns true when count more bytes stand at the reader's position.
inline bool reader_has(const ByteReader &r, size_t count) {
  return r.ok && r.pos <= r.bytes.size() && r.bytes.size() - r.pos >= count;
}

// Returns the count-byte big-endian number at the position (count at most
// 4) and moves past it; 0 with ok cleared when it does not fit.
inline uint32_t read_be(ByteReader &r, size_t count) {
  if (!reader_has(r, count)) {
    r.ok = false;
    return 0;
  }
  uint32_t v = 0;
  for (size_t i = 0; i < count; ++i) v = v << 8 | r.bytes[r.pos + i];
  r.pos += count;
  return v;
}

inline uint8_t read_u8(ByteReader &r) { return static_cast<uint8_t>(read_be(r, 1)); }
inline uint16_t read_u16(ByteReader &r) { return static_cast<uint16_t>(read_be(r, 2)); }
inline int16_t read_i16(ByteReader &r) { return static_cast<int16_t>(read_u16(r)); }
inline uint32_t read_u32(ByteReader &r) { return read_be(r, 4); }

// Moves count bytes on; ok cleared when they are not there.
inline void reader_skip(ByteReader &r, size_t count) {
  if (!reader_has(r, count)) {
    r.ok = false;
    return;
  }
  r.pos += count;
}

// Returns the 16-bit big-endian number at `at`, or 0 with ok false.
inline uint16_t u16_at(std::span<const uint8_t> bytes, size_t at, bool &ok) {
  ByteReader r = reader_at(bytes, at);
  const uint16_t v = read_u16(r);
  ok = ok && r.ok;
  return v;
}

// Returns the 32-bit big-endian number at `at`, or 0 with ok false.
inline uint32_t u32_at(std::span<const uint8_t> bytes, size_t at, bool &ok) {
  ByteReader r = reader_at(bytes, at);
  const uint32_t v = read_u32(r);
  ok = ok && r.ok;
  return v;
}

// Returns the length bytes at offset, or an empty range with ok false when
// they do not all lie inside bytes (offsets and lengths as wide as any
// input declares, without overflow).
inline std::span<const uint8_t> sub_range(std::span<const uint8_t> bytes, uint64_t offset,
                                          uint64_t length, bool &ok) {
  if (offset > bytes.size() || length > bytes.size() - offset) {
    ok = false;
    return {};
  }
  return bytes.subspan(static_cast<size_t>(offset), static_cast<size_t>(length));
}
