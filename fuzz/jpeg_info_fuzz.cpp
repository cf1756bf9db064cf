// Any bytes as a JPEG file for the header probe.
#include "fuzz_target.h"
#include "jpeg/jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  int width = 0, height = 0, components = 0;
  const int ok = tvl_jpeg_info_mem(data, size, &width, &height, &components);
  if (ok == 1 && (width <= 0 || height <= 0 || components < 1 || components > 4))
    __builtin_trap();
  // The whole header agrees with the frame probe and holds values its
  // segments can state.
  JpegHeader header{};
  if (tvl_jpeg_header_mem(data, size, &header) != ok) __builtin_trap();
  if (ok == 1 && (header.width != width || header.height != height ||
                  header.components != components || header.adobe < 0 || header.adobe > 1 ||
                  header.adobe_transform < 0 || header.adobe_transform > 255 ||
                  header.density_unit < 0 || header.density_unit > 255 || header.x_density < 0 ||
                  header.x_density > 65535 || header.y_density < 0 || header.y_density > 65535))
    __builtin_trap();
  return 0;
}
