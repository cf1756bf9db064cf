// Any bytes as the input PDF of a text stamp on every page, handed to the
// engine in memory; an encrypted one is opened with the empty password. The
// output goes to the null device, which the library writes in place.
#include "fuzz_target.h"
#include "pdf/stamp_request.h"

#if defined(_WIN32)
constexpr const char *kNullDevice = "NUL";
#else
constexpr const char *kNullDevice = "/dev/null";
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  StampRequest request{};
  request.kind = STAMP_TEXT;
  request.text = "FUZZ\nline two";
  request.font_size = 12;
  request.rotation = 30;
  request.color_r = 200;
  request.x = 10;
  request.y = 20;
  request.opacity = 0.5f;
  request.open_encrypted = true;
  execute_stamp_bytes({data, size}, "fuzz input", kNullDevice, &request);
  return 0;
}
