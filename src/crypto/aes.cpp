// AES with 128 and 256-bit keys (FIPS 197), and CBC over whole blocks.
// The state is four big-endian column words. A round is done with one
// table per direction, made at compile time from the field arithmetic:
// entry x holds the column that S-box(x) contributes through MixColumns
// (for decryption, inverse S-box(x) through InvMixColumns); the other three
// row positions are rotations of it. Table lookups depend on the data, so
// this is not constant-time (see crypto.h). 192-bit keys are not offered:
// encrypted documents do not use them.
#include <array>
#include <bit>
#include <cstring>

#include "crypto/crypto.h"
#include "crypto/crypto_internal.h"

namespace crypto {
namespace {

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr uint8_t gf_mul(uint8_t a, uint8_t b) {
  uint8_t product = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (b & 1) product = static_cast<uint8_t>(product ^ a);
    const bool carry = (a & 0x80) != 0;
    a = static_cast<uint8_t>(a << 1);
    if (carry) a = static_cast<uint8_t>(a ^ 0x1b);
    b = static_cast<uint8_t>(b >> 1);
  }
  return product;
}

// The S-box: the multiplicative inverse (0 for 0), then the affine map.
// Inverses come from powers of the generator 3: the inverse of 3^i is
// 3^(255 - i).
constexpr std::array<uint8_t, 256> make_sbox() {
  std::array<uint8_t, 256> power{}, log{};
  power[0] = 1;
  for (int i = 0; i < 255; ++i) {
    log[power[i]] = static_cast<uint8_t>(i);
    power[i + 1] = gf_mul(power[i], 3);
  }
  std::array<uint8_t, 256> box{};
  for (int x = 0; x < 256; ++x) {
    const uint8_t b = x == 0 ? 0 : power[(255 - log[x]) % 255];
    box[x] = static_cast<uint8_t>(b ^ std::rotl(b, 1) ^ std::rotl(b, 2) ^ std::rotl(b, 3) ^
                                  std::rotl(b, 4) ^ 0x63);
  }
  return box;
}

constexpr std::array<uint8_t, 256> make_inverse(const std::array<uint8_t, 256> &box) {
  std::array<uint8_t, 256> inverse{};
  for (int x = 0; x < 256; ++x) inverse[box[x]] = static_cast<uint8_t>(x);
  return inverse;
}

constexpr uint32_t column(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t{b0} << 24 | uint32_t{b1} << 16 | uint32_t{b2} << 8 | uint32_t{b3};
}

constexpr std::array<uint8_t, 256> kSbox = make_sbox();
constexpr std::array<uint8_t, 256> kInverseSbox = make_inverse(kSbox);

// Entry x: S(x) times the first column of MixColumns, (2, 1, 1, 3).
constexpr std::array<uint32_t, 256> kEncryptTable = [] {
  std::array<uint32_t, 256> t{};
  for (int x = 0; x < 256; ++x) {
    const uint8_t s = kSbox[x];
    t[x] = column(gf_mul(s, 2), s, s, gf_mul(s, 3));
  }
  return t;
}();

// Entry x: S^-1(x) times the first column of InvMixColumns, (14, 9, 13, 11).
constexpr std::array<uint32_t, 256> kDecryptTable = [] {
  std::array<uint32_t, 256> t{};
  for (int x = 0; x < 256; ++x) {
    const uint8_t s = kInverseSbox[x];
    t[x] = column(gf_mul(s, 14), gf_mul(s, 9), gf_mul(s, 13), gf_mul(s, 11));
  }
  return t;
}();

inline uint8_t byte_of(uint32_t word, int index) {  // index 0 is the top byte
  return static_cast<uint8_t>(word >> (24 - 8 * index));
}

inline uint32_t sub_word(uint32_t w) {
  return column(kSbox[byte_of(w, 0)], kSbox[byte_of(w, 1)], kSbox[byte_of(w, 2)],
                kSbox[byte_of(w, 3)]);
}

// InvMixColumns of one column: the decryption table undoes the S-box it
// folds in when given S(b).
inline uint32_t inverse_mix_column(uint32_t w) {
  return kDecryptTable[kSbox[byte_of(w, 0)]] ^
         std::rotr(kDecryptTable[kSbox[byte_of(w, 1)]], 8) ^
         std::rotr(kDecryptTable[kSbox[byte_of(w, 2)]], 16) ^
         std::rotr(kDecryptTable[kSbox[byte_of(w, 3)]], 24);
}

// One round over the whole state. Output column c takes row r from input
// column c + r (encryption's ShiftRows) or c - r (decryption's), each
// through the table rotated to row r, then the round key.
template <int direction>
inline void full_round(const std::array<uint32_t, 256> &table, const uint32_t in[4],
                       const uint32_t *key, uint32_t out[4]) {
  for (int c = 0; c < 4; ++c) {
    out[c] = table[byte_of(in[c], 0)] ^
             std::rotr(table[byte_of(in[(c + direction) & 3], 1)], 8) ^
             std::rotr(table[byte_of(in[(c + 2 * direction) & 3], 2)], 16) ^
             std::rotr(table[byte_of(in[(c + 3 * direction) & 3], 3)], 24) ^ key[c];
  }
}

// The last round: no column mixing, only the S-box, the row shift and the key.
template <int direction>
inline void last_round(const std::array<uint8_t, 256> &box, const uint32_t in[4],
                       const uint32_t *key, uint32_t out[4]) {
  for (int c = 0; c < 4; ++c) {
    out[c] = column(box[byte_of(in[c], 0)], box[byte_of(in[(c + direction) & 3], 1)],
                    box[byte_of(in[(c + 2 * direction) & 3], 2)],
                    box[byte_of(in[(c + 3 * direction) & 3], 3)]) ^
             key[c];
  }
}

// Runs the cipher (direction 1) or the equivalent inverse cipher
// (direction 3, a shift of -1 modulo 4) over one block.
template <int direction>
void run_block(const uint32_t *keys, int rounds, const std::array<uint32_t, 256> &table,
               const std::array<uint8_t, 256> &box, const uint8_t in[16], uint8_t out[16]) {
  uint32_t s[4], t[4];
  for (int c = 0; c < 4; ++c) s[c] = load_be32(in + 4 * c) ^ keys[c];
  for (int round = 1; round < rounds; ++round) {
    full_round<direction>(table, s, keys + 4 * round, t);
    std::memcpy(s, t, sizeof s);
  }
  last_round<direction>(box, s, keys + 4 * rounds, t);
  for (int c = 0; c < 4; ++c) store_be32(out + 4 * c, t[c]);
}

bool key_is_set(const AesKey &k) { return k.rounds == 10 || k.rounds == 14; }

}  // namespace

bool aes_set_key(AesKey &k, Bytes key) {
  k = AesKey{};
  if (key.size() != 16 && key.size() != 32) return false;
  const int key_words = static_cast<int>(key.size() / 4);
  const int rounds = key_words + 6;
  const int total = 4 * (rounds + 1);
  uint32_t *w = k.round_keys;
  for (int i = 0; i < key_words; ++i) w[i] = load_be32(key.data() + 4 * i);
  uint8_t round_constant = 1;
  for (int i = key_words; i < total; ++i) {
    uint32_t temp = w[i - 1];
    if (i % key_words == 0) {
      temp = sub_word(std::rotl(temp, 8)) ^ uint32_t{round_constant} << 24;
      round_constant = gf_mul(round_constant, 2);
    } else if (key_words == 8 && i % key_words == 4) {
      temp = sub_word(temp);
    }
    w[i] = w[i - key_words] ^ temp;
  }
  // The equivalent inverse cipher takes the round keys last to first, with
  // InvMixColumns applied to all but the outer two.
  uint32_t *d = k.inverse_keys;
  for (int round = 0; round <= rounds; ++round) {
    const uint32_t *from = w + 4 * (rounds - round);
    const bool outer = round == 0 || round == rounds;
    for (int c = 0; c < 4; ++c) d[4 * round + c] = outer ? from[c] : inverse_mix_column(from[c]);
  }
  k.rounds = rounds;
  return true;
}

void aes_encrypt_block(const AesKey &k, const uint8_t in[16], uint8_t out[16]) {
  if (!key_is_set(k)) {
    std::memset(out, 0, 16);
    return;
  }
  run_block<1>(k.round_keys, k.rounds, kEncryptTable, kSbox, in, out);
}

void aes_decrypt_block(const AesKey &k, const uint8_t in[16], uint8_t out[16]) {
  if (!key_is_set(k)) {
    std::memset(out, 0, 16);
    return;
  }
  run_block<3>(k.inverse_keys, k.rounds, kDecryptTable, kInverseSbox, in, out);
}

bool aes_cbc_encrypt(const AesKey &k, const uint8_t iv[16], std::span<uint8_t> data) {
  if (!key_is_set(k) || data.size() % 16 != 0) return false;
  const uint8_t *previous = iv;
  for (size_t at = 0; at < data.size(); at += 16) {
    uint8_t *block = data.data() + at;
    for (int i = 0; i < 16; ++i) block[i] ^= previous[i];
    aes_encrypt_block(k, block, block);
    previous = block;
  }
  return true;
}

bool aes_cbc_decrypt(const AesKey &k, const uint8_t iv[16], std::span<uint8_t> data) {
  if (!key_is_set(k) || data.size() % 16 != 0) return false;
  uint8_t previous[16], cipher[16];
  std::memcpy(previous, iv, 16);
  for (size_t at = 0; at < data.size(); at += 16) {
    uint8_t *block = data.data() + at;
    std::memcpy(cipher, block, 16);
    aes_decrypt_block(k, block, block);
    for (int i = 0; i < 16; ++i) block[i] ^= previous[i];
    std::memcpy(previous, cipher, 16);
  }
  return true;
}

}  // namespace crypto
