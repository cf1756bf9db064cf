// Any bytes as a JPEG file for the frame-header probe.
#include "fuzz_target.h"
#include "jpeg/jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  int width = 0, height = 0, components = 0;
  if (tvl_jpeg_info_mem(data, size, &width, &height, &components) == 1 &&
      (width <= 0 || height <= 0 || components < 1 || components > 4))
    __builtin_trap();
  return 0;
}
