// MD5 (RFC 1321): 64-byte blocks of little-endian words, four rounds of
// sixteen steps each.
#include <bit>

#include "crypto/crypto.h"
#include "crypto/crypto_internal.h"

namespace crypto {
namespace {

// The additive constant of each step: floor(2^32 * |sin(step + 1)|).
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// The left rotation of each step; it repeats in groups of four per round.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

void md5_compress(uint32_t state[4], const uint8_t *p) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = load_le32(p + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int step = 0; step < 64; ++step) {
    const int round = step / 16;
    uint32_t f;
    int word;
    switch (round) {
      case 0: f = (b & c) | (~b & d); word = step; break;
      case 1: f = (d & b) | (~d & c); word = (5 * step + 1) % 16; break;
      case 2: f = b ^ c ^ d; word = (3 * step + 5) % 16; break;
      default: f = c ^ (b | ~d); word = (7 * step) % 16; break;
    }
    const uint32_t sum = a + f + kSine[step] + x[word];
    a = d;
    d = c;
    c = b;
    b = b + std::rotl(sum, kShift[round][step % 4]);
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void md5_init(Md5 &m) {
  m.state[0] = 0x67452301;
  m.state[1] = 0xefcdab89;
  m.state[2] = 0x98badcfe;
  m.state[3] = 0x10325476;
  m.length = 0;
}

void md5_update(Md5 &m, Bytes data) { absorb_blocks<md5_compress>(m, data); }

Md5Digest md5_final(Md5 &m) { return finish_digest<md5_compress, Md5Digest>(m, 8, false); }

Md5Digest md5(Bytes data) { return hash_once(md5_init, md5_update, md5_final, data); }

}  // namespace crypto
