// What the primitives of src/crypto share, internal to it: words assembled
// from bytes in either order whatever the host's (all of them), and for MD5
// and the SHA-2 hashes the buffering of input into whole blocks, the padding
// that ends a message with its length, and hashing in one call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace crypto {

inline uint32_t load_le32(const uint8_t *p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline uint32_t load_be32(const uint8_t *p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

inline uint64_t load_be64(const uint8_t *p) {
  return uint64_t{load_be32(p)} << 32 | load_be32(p + 4);
}

inline void store_le32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void store_be32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

inline void store_be64(uint8_t *p, uint64_t v) {
  store_be32(p, static_cast<uint32_t>(v >> 32));
  store_be32(p + 4, static_cast<uint32_t>(v));
}

// The states of the hashes (Md5, Sha256, Sha512) name their fields alike:
// state, the chaining words; length, the bytes taken so far, which also
// says how much of block is filled; block, the bytes waiting for a whole
// block. compress(state, p) takes the block at p into the chaining words.

// Takes data in: compress runs over every whole block that data completes,
// the rest waits in block.
template <auto compress, typename Hash>
void absorb_blocks(Hash &h, std::span<const uint8_t> data) {
  constexpr size_t N = sizeof(Hash::block);
  if (data.empty()) return;
  size_t filled = static_cast<size_t>(h.length % N);
  h.length += data.size();
  const uint8_t *p = data.data();
  size_t left = data.size();
  if (filled > 0) {
    const size_t take = left < N - filled ? left : N - filled;
    std::memcpy(h.block + filled, p, take);
    p += take;
    left -= take;
    if (filled + take < N) return;
    compress(h.state, h.block);
  }
  for (; left >= N; p += N, left -= N) compress(h.state, p);
  if (left > 0) std::memcpy(h.block, p, left);
}

// Ends the message and returns the digest. The message ends with a 1 bit,
// zeros, and its length in bits in the last length_field bytes of a block
// (8, or 16 for the 128-byte blocks), little-endian for MD5, big-endian for
// SHA-2; the length in bits is a 67-bit number, whose top bits go in the
// high half of a 16-byte field. The digest is the first bytes of the
// chaining words, each written in the same byte order.
template <auto compress, typename Digest, typename Hash>
Digest finish_digest(Hash &h, size_t length_field, bool big_endian) {
  constexpr size_t N = sizeof(Hash::block);
  size_t filled = static_cast<size_t>(h.length % N);
  h.block[filled++] = 0x80;
  if (filled > N - length_field) {
    std::memset(h.block + filled, 0, N - filled);
    compress(h.state, h.block);
    filled = 0;
  }
  std::memset(h.block + filled, 0, N - filled);
  const uint64_t bits_low = h.length << 3;
  const uint64_t bits_high = h.length >> 61;
  if (big_endian) {
    if (length_field == 16) store_be64(h.block + N - 16, bits_high);
    store_be64(h.block + N - 8, bits_low);
  } else {
    store_le32(h.block + N - 8, static_cast<uint32_t>(bits_low));
    store_le32(h.block + N - 4, static_cast<uint32_t>(bits_low >> 32));
  }
  compress(h.state, h.block);

  Digest out;
  constexpr size_t word_size = sizeof(h.state[0]);
  for (size_t i = 0; i < out.size(); ++i) {
    const size_t in_word = i % word_size;
    const size_t shift = 8 * (big_endian ? word_size - 1 - in_word : in_word);
    out[i] = static_cast<uint8_t>(h.state[i / word_size] >> shift);
  }
  return out;
}

// Returns the digest of data by a hash's own init, update and final.
template <typename State, typename Digest>
Digest hash_once(void (*init)(State &), void (*update)(State &, std::span<const uint8_t>),
                 Digest (*final)(State &), std::span<const uint8_t> data) {
  State state;
  init(state);
  update(state, data);
  return final(state);
}

}  // namespace crypto
