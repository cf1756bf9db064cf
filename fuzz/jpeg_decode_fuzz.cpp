// Any bytes as a JPEG file for the baseline decoder.
#include <cstdlib>
#include <cstring>

#include "fuzz_target.h"
#include "jpeg/jpeg.h"

namespace {

// Pictures are decoded whole, so a frame header of a few bytes can ask for
// hundreds of megabytes of pixels. Inputs whose frame headers (the first or
// a later one, which replaces it) ask for more than this are skipped: they
// only spend the fuzzer's time and memory on filling pixels.
constexpr unsigned long kMaxFuzzPixels = 4u << 20;

bool asks_for_too_many_pixels(const uint8_t *data, size_t size) {
  for (size_t i = 0; i + 8 < size; ++i) {
    if (data[i] != 0xFF || (data[i + 1] != 0xC0 && data[i + 1] != 0xC1)) continue;
    const unsigned long height = static_cast<unsigned long>(data[i + 5] << 8 | data[i + 6]);
    const unsigned long width = static_cast<unsigned long>(data[i + 7] << 8 | data[i + 8]);
    if (width * height > kMaxFuzzPixels) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (asks_for_too_many_pixels(data, size)) return 0;
  int width = -1, height = -1;
  const char *message = nullptr;
  unsigned char *pixels = tvl_jpeg_decode_impl(data, size, &width, &height, &message);
  if (message == nullptr) __builtin_trap();
  if (pixels == nullptr) {
    // A failure says why, in the decoder's own words, and states no size.
    if (width != 0 || height != 0 || std::strncmp(message, "jpeg: ", 6) != 0) __builtin_trap();
    return 0;
  }
  if (message[0] != '\0' || width <= 0 || height <= 0) __builtin_trap();
  // Every pixel is opaque; touching them all also shows the block is as
  // large as the size says.
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (size_t i = 0; i < count; ++i)
    if (pixels[4 * i + 3] != 255) __builtin_trap();
  std::free(pixels);
  return 0;
}
