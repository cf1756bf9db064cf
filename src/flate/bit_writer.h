// LSB-first bit writer with a 64-bit buffer. The caller guarantees room:
// every flush stores 8 bytes at the write position, so at least 8 bytes must
// be available past the final length.
#pragma once

#include <cstdint>
#include <cstring>

namespace flate {

struct BitWriter {
  unsigned char *out;  // next byte to write
  uint64_t buf = 0;    // pending bits, least significant first
  unsigned count = 0;  // pending bit count; at most 7 after flush()

  // Appends the n low bits of v (v < 2^n). The pending count must stay below 64.
  void put(uint64_t v, unsigned n) {
    buf |= v << count;
    count += n;
  }

  // Moves the whole bytes out; leaves at most 7 bits pending.
  void flush() {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(out, &buf, 8);
#else
    for (int i = 0; i < 8; i++) out[i] = static_cast<unsigned char>(buf >> (8 * i));
#endif
    const unsigned bytes = count >> 3;  // at most 7, so the shift stays below 64
    out += bytes;
    buf >>= bytes * 8;
    count &= 7;
  }

  // put() then flush(), for up to 57 bits.
  void put_flush(uint64_t v, unsigned n) {
    put(v, n);
    flush();
  }

  // Completes the last partial byte with zero bits.
  void finish() {
    flush();
    if (count) *out++ = static_cast<unsigned char>(buf);
    buf = 0;
    count = 0;
  }
};

}  // namespace flate
