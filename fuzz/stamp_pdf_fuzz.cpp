// Any bytes as the input PDF of a text stamp on every page. The output goes
// to the null device, which the library writes in place.
#include <folimark.h>

#include "fuzz_target.h"

#if defined(_WIN32)
constexpr const char *kNullDevice = "NUL";
#else
constexpr const char *kNullDevice = "/dev/null";
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string in = fuzz::write_input(data, size);
  folimark_text(in.c_str(), kNullDevice, "FUZZ\nline two", 10, 20, 12, 0.5f, 30, 200, 0, 0);
  return 0;
}
