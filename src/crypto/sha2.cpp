// SHA-256 over 64-byte blocks of 32-bit words and SHA-512 over 128-byte
// blocks of 64-bit words, both big-endian; SHA-384 is SHA-512 started from
// other values and cut to 48 bytes. SHA-224 and the SHA-512/t hashes are
// not offered: encrypted documents do not use them.
#include <bit>

#include "crypto/crypto.h"
#include "crypto/crypto_internal.h"

namespace crypto {
namespace {

// The first 32 bits of the fractional parts of the cube roots of the first
// 64 primes.
constexpr uint32_t kRound256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// The first 64 bits of the fractional parts of the cube roots of the first
// 80 primes.
constexpr uint64_t kRound512[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc,
    0x3956c25bf348b538, 0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118,
    0xd807aa98a3030242, 0x12835b0145706fbe, 0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2,
    0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235, 0xc19bf174cf692694,
    0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5,
    0x983e5152ee66dfab, 0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4,
    0xc6e00bf33da88fc2, 0xd5a79147930aa725, 0x06ca6351e003826f, 0x142929670a0e6e70,
    0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed, 0x53380d139d95b3df,
    0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30,
    0xd192e819d6ef5218, 0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8,
    0x19a4c116b8d2d0c8, 0x1e376c085141ab53, 0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8,
    0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373, 0x682e6ff3d6b2b8a3,
    0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b,
    0xca273eceea26619c, 0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178,
    0x06f067aa72176fba, 0x0a637dc5a2c898a6, 0x113f9804bef90dae, 0x1b710b35131c471b,
    0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc, 0x431d67c49c100d4c,
    0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817,
};

// The word size's rotations and shifts: W is uint32_t for SHA-256 and
// uint64_t for SHA-512, which differ only in these amounts and the round
// count.
struct Amounts {
  int big0[3], big1[3], small0[3], small1[3];  // the last of small0/small1 is a shift
};
constexpr Amounts kAmounts256 = {{2, 13, 22}, {6, 11, 25}, {7, 18, 3}, {17, 19, 10}};
constexpr Amounts kAmounts512 = {{28, 34, 39}, {14, 18, 41}, {1, 8, 7}, {19, 61, 6}};

template <typename W, int Rounds>
void sha2_compress(W state[8], const W (&message)[16], const W (&round_constants)[Rounds],
                   const Amounts &n) {
  W w[Rounds];
  for (int t = 0; t < 16; ++t) w[t] = message[t];
  for (int t = 16; t < Rounds; ++t) {
    const W s0 = std::rotr(w[t - 15], n.small0[0]) ^ std::rotr(w[t - 15], n.small0[1]) ^
                 (w[t - 15] >> n.small0[2]);
    const W s1 = std::rotr(w[t - 2], n.small1[0]) ^ std::rotr(w[t - 2], n.small1[1]) ^
                 (w[t - 2] >> n.small1[2]);
    w[t] = static_cast<W>(w[t - 16] + s0 + w[t - 7] + s1);
  }
  W a = state[0], b = state[1], c = state[2], d = state[3];
  W e = state[4], f = state[5], g = state[6], h = state[7];
  for (int t = 0; t < Rounds; ++t) {
    const W big1 = std::rotr(e, n.big1[0]) ^ std::rotr(e, n.big1[1]) ^ std::rotr(e, n.big1[2]);
    const W choose = (e & f) ^ (~e & g);
    const W t1 = static_cast<W>(h + big1 + choose + round_constants[t] + w[t]);
    const W big0 = std::rotr(a, n.big0[0]) ^ std::rotr(a, n.big0[1]) ^ std::rotr(a, n.big0[2]);
    const W majority = (a & b) ^ (a & c) ^ (b & c);
    const W t2 = static_cast<W>(big0 + majority);
    h = g;
    g = f;
    f = e;
    e = static_cast<W>(d + t1);
    d = c;
    c = b;
    b = a;
    a = static_cast<W>(t1 + t2);
  }
  const W add[8] = {a, b, c, d, e, f, g, h};
  for (int i = 0; i < 8; ++i) state[i] = static_cast<W>(state[i] + add[i]);
}

void sha256_block(uint32_t state[8], const uint8_t *p) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = load_be32(p + 4 * i);
  sha2_compress(state, m, kRound256, kAmounts256);
}

void sha512_block(uint64_t state[8], const uint8_t *p) {
  uint64_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = load_be64(p + 8 * i);
  sha2_compress(state, m, kRound512, kAmounts512);
}

void sha512_start(Sha512 &s, const uint64_t (&initial)[8]) {
  for (int i = 0; i < 8; ++i) s.state[i] = initial[i];
  s.length = 0;
}

}  // namespace

void sha256_init(Sha256 &s) {
  // The first 32 bits of the fractional parts of the square roots of the
  // first 8 primes.
  constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  for (int i = 0; i < 8; ++i) s.state[i] = kInitial[i];
  s.length = 0;
}

void sha256_update(Sha256 &s, Bytes data) { absorb_blocks<sha256_block>(s, data); }

Sha256Digest sha256_final(Sha256 &s) {
  return finish_digest<sha256_block, Sha256Digest>(s, 8, true);
}

Sha256Digest sha256(Bytes data) { return hash_once(sha256_init, sha256_update, sha256_final, data); }

void sha384_init(Sha512 &s) {
  // The first 64 bits of the fractional parts of the square roots of the
  // ninth to sixteenth primes.
  constexpr uint64_t kInitial[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                    0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                    0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
  sha512_start(s, kInitial);
}

void sha512_init(Sha512 &s) {
  // The first 64 bits of the fractional parts of the square roots of the
  // first 8 primes.
  constexpr uint64_t kInitial[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                    0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                    0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
  sha512_start(s, kInitial);
}

void sha512_update(Sha512 &s, Bytes data) { absorb_blocks<sha512_block>(s, data); }

Sha384Digest sha384_final(Sha512 &s) {
  return finish_digest<sha512_block, Sha384Digest>(s, 16, true);
}

Sha512Digest sha512_final(Sha512 &s) {
  return finish_digest<sha512_block, Sha512Digest>(s, 16, true);
}

Sha384Digest sha384(Bytes data) { return hash_once(sha384_init, sha512_update, sha384_final, data); }

Sha512Digest sha512(Bytes data) { return hash_once(sha512_init, sha512_update, sha512_final, data); }

}  // namespace crypto
