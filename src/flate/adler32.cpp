#include "flate/adler32.h"

namespace flate {

uint32_t adler32_update(uint32_t adler, const unsigned char *p, size_t len) {
  constexpr uint32_t kBase = 65521;
  constexpr size_t kRun = 5552;  // longest run before s2 could overflow 32 bits
  uint32_t s1 = adler & 0xFFFF;
  uint32_t s2 = adler >> 16;
  while (len > 0) {
    size_t run = len < kRun ? len : kRun;
    len -= run;
    // Sixteen bytes per step: s2 gains 16 * s1 plus the weighted bytes.
    for (; run >= 16; run -= 16, p += 16) {
      uint32_t sum = 0, weighted = 0;
      for (int k = 0; k < 16; k++) {
        sum += p[k];
        weighted += static_cast<uint32_t>(16 - k) * p[k];
      }
      s2 += 16 * s1 + weighted;
      s1 += sum;
    }
    for (; run > 0; run--) {
      s1 += *p++;
      s2 += s1;
    }
    s1 %= kBase;
    s2 %= kBase;
  }
  return s2 << 16 | s1;
}

}  // namespace flate
