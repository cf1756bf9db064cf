// Any bytes as a zlib stream for the standalone decompressor, then the
// output as PNG-filtered rows.
#include <vector>

#include "fuzz_target.h"
#include "inflate/inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static std::vector<unsigned char> out(1 << 20);
  size_t written = 1;
  const int rc = inflate_decompress(data, size, out.data(), out.size(), &written);
  if (rc != 0 && rc != -1) __builtin_trap();
  if (written > out.size() || (rc == -1 && written != 0)) __builtin_trap();

  // Measuring agrees with decoding wherever decoding had room.
  size_t counted = 1;
  const int count_rc = inflate_decompress(data, size, INFLATE_COUNT_ONLY, 0, &counted);
  if (rc == 0 && (count_rc != 0 || counted != written)) __builtin_trap();

  // The output as filtered rows of a stride the input picks: undone for
  // one byte per pixel, both forms rebuild the same rows.
  if (rc == 0 && size >= 1 && written > 0) {
    const size_t stride = 1 + data[size - 1] % 64;
    std::vector<unsigned char> copy(out.begin(), out.begin() + static_cast<long>(written));
    const size_t rows = inflate_png_unfilter_rows(copy.data(), copy.size(), stride, 1);
    if (rows > written / (stride + 1)) __builtin_trap();
    const int unfilter_rc = inflate_png_unfilter(out.data(), written, static_cast<int>(stride));
    if (unfilter_rc != 0 && unfilter_rc != -1) __builtin_trap();
    for (size_t i = 0; i < rows * stride; ++i)
      if (copy[i] != out[i]) __builtin_trap();
  }
  return 0;
}
