// Any bytes as a PNG file.
#include <cstdlib>

#include "fuzz_target.h"
#include "png/png.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string path = fuzz::write_input(data, size);
  int width = 0, height = 0;
  PngDensity density{};
  const char *error = nullptr;
  unsigned char *pixels = tvl_png_decode_density(path.c_str(), &width, &height, &density, &error);
  if ((pixels == nullptr) == (error == nullptr || error[0] == '\0')) std::abort();
  // A failure states no density.
  if (pixels == nullptr && (density.x != 0 || density.y != 0 || density.unit != 0)) std::abort();
  std::free(pixels);
  return 0;
}
