// RC4: a permutation of the 256 byte values, shuffled by the key, that
// yields one key-stream byte per step. The key stream is applied from its
// first byte (no bytes are dropped), as encrypted documents require.
#include <utility>

#include "crypto/crypto.h"

namespace crypto {

void rc4_init(Rc4 &r, Bytes key) {
  // An empty key would leave the schedule nothing to cycle through; it
  // stands for the one-byte key 0.
  static constexpr uint8_t kZeroKey[1] = {0};
  if (key.empty()) key = kZeroKey;
  // Bytes past the 256th never take part in the schedule.
  const size_t key_length = key.size() < 256 ? key.size() : 256;
  for (int i = 0; i < 256; ++i) r.s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (size_t i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + r.s[i] + key[i % key_length]);
    std::swap(r.s[i], r.s[j]);
  }
  r.i = 0;
  r.j = 0;
}

void rc4_apply(Rc4 &r, std::span<uint8_t> data) {
  uint8_t i = r.i, j = r.j;
  for (uint8_t &byte : data) {
    i = static_cast<uint8_t>(i + 1);
    const uint8_t si = r.s[i];
    j = static_cast<uint8_t>(j + si);
    const uint8_t sj = r.s[j];
    r.s[i] = sj;
    r.s[j] = si;
    byte ^= r.s[static_cast<uint8_t>(si + sj)];
  }
  r.i = i;
  r.j = j;
}

}  // namespace crypto
