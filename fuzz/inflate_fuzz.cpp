// Any bytes as raw DEFLATE data, into a buffer of 1 MiB.
#include <vector>

#include "flate/flate.h"
#include "fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static std::vector<unsigned char> out(1 << 20);
  const int n = tvl_inflate(data, size, out.data(), out.size());
  if (n > static_cast<int>(out.size())) __builtin_trap();
  return 0;
}
