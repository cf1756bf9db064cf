// The bit reader of inflate: a 64-bit buffer, first bit lowest, filled from
// the input several bytes at a time. Past the end of the input it shifts in
// zero bytes and counts them, so that table lookups may look further ahead
// than the code they decode; a step is valid only if none of those phantom
// bits was taken, which the decoder checks before it trusts the step.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace flate {

struct BitReader {
  const uint8_t *begin;
  const uint8_t *next;  // next byte to load
  const uint8_t *end;
  uint64_t bitbuf;      // loaded bits not yet taken, next bit lowest
  unsigned bitcnt;      // their number, at most 63; bits above it are 0 or the input's next bits
  unsigned overread;    // zero bytes loaded past the end of the input

  // Returns true when every bit taken so far came from the input.
  bool only_real_bits_taken() const { return bitcnt >= 8 * overread; }

  // Returns the offset of the first byte none of whose bits has been taken.
  size_t byte_position() const {
    const size_t taken = 8 * (static_cast<size_t>(next - begin) + overread) - bitcnt;
    return (taken + 7) / 8;
  }

  // Drops the buffered bits and continues at input offset pos (at most the
  // input's length).
  void restart_at(size_t pos) {
    next = begin + pos;
    bitbuf = 0;
    bitcnt = 0;
    overread = 0;
  }
};

inline BitReader make_bit_reader(std::span<const uint8_t> in) {
  return BitReader{in.data(), in.data(), in.data() + in.size(), 0, 0, 0};
}

inline uint64_t load_le64(const uint8_t *p) {
  uint64_t v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, 8);
  } else {
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  }
  return v;
}

// Fills the buffer to 56..63 bits from 8 bytes at in, which the caller
// guarantees are there. Loads one word and advances by the whole bytes that
// fit; the byte that only partly fits is loaded again next time, which is
// harmless because its bits already sit where they belong.
inline void refill_unchecked(const uint8_t *&in, uint64_t &bitbuf, unsigned &bitcnt) {
  bitbuf |= load_le64(in) << bitcnt;
  in += (63 - bitcnt) >> 3;
  bitcnt |= 56;
}

// Fills the buffer to at least 56 bits, with zero bytes past the input's end.
inline void refill(BitReader &br) {
  if (br.end - br.next >= 8) {
    refill_unchecked(br.next, br.bitbuf, br.bitcnt);
    return;
  }
  while (br.bitcnt < 56) {
    uint64_t byte = 0;
    if (br.next != br.end)
      byte = *br.next++;
    else
      ++br.overread;
    br.bitbuf |= byte << br.bitcnt;
    br.bitcnt += 8;
  }
}

// Returns the next n bits (n <= 32, at most bitcnt), first bit lowest, and
// takes them.
inline unsigned take_bits(BitReader &br, unsigned n) {
  const auto v = static_cast<unsigned>(br.bitbuf & ((uint64_t{1} << n) - 1));
  br.bitbuf >>= n;
  br.bitcnt -= n;
  return v;
}

}  // namespace flate
