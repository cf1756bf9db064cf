// The seven classic exports: each fills a StampRequest and calls the
// engine. Their last error is one process-wide buffer, whose address stays
// the same for the life of the library, as hosts of these functions expect;
// each call copies its thread's record there.
#include <folimark.h>

#include <cstring>

#include "abi/datetime_text.h"
#include "abi/guarded.h"
#include "abi/image_stamp.h"
#include "common/error.h"
#include "pdf/stamp_request.h"

namespace {

char g_last_error[sizeof ErrorRecord{}.text];

// Runs body behind the boundary and publishes its error text.
template <typename Body>
int classic(Body body) noexcept {
  const int result = guarded(body);
  std::memcpy(g_last_error, thread_error().text, sizeof g_last_error);
  return result;
}

}  // namespace

extern "C" {

FOLIMARK_API int folimark_init(void) {
  clear_error();
  g_last_error[0] = '\0';
  return 1;
}

FOLIMARK_API void folimark_cleanup(void) {
  clear_error();
  g_last_error[0] = '\0';
}

FOLIMARK_API const char *folimark_last_error(void) { return g_last_error; }

FOLIMARK_API int folimark_text(const char *input_path, const char *output_path,
                               const char *text, float x, float y, int font_size,
                               float opacity, float rotation, int red, int green, int blue) {
  return classic([&] {
    StampRequest request{};
    request.kind = STAMP_TEXT;
    request.text = text != nullptr ? text : "";
    request.font_size = font_size;
    request.rotation = rotation;
    request.color_r = red;
    request.color_g = green;
    request.color_b = blue;
    request.x = x;
    request.y = y;
    request.opacity = opacity;
    return execute_stamp(input_path, output_path, &request);
  });
}

FOLIMARK_API int folimark_text_pages(const char *input_path, const char *output_path,
                                     const char *text, float x, float y, int font_size,
                                     float opacity, const int *pages, int page_count) {
  return classic([&] {
    if (pages == nullptr || page_count <= 0) {
      set_error(ErrorCode::argument, "pages array cannot be NULL and page_count must be > 0");
      return 0;
    }
    StampRequest request{};
    request.kind = STAMP_TEXT;
    request.text = text != nullptr ? text : "";
    request.font_size = font_size;
    request.x = x;
    request.y = y;
    request.opacity = opacity;
    request.pages = pages;
    request.page_count = page_count;
    return execute_stamp(input_path, output_path, &request);
  });
}

FOLIMARK_API int folimark_datetime(const char *input_path, const char *output_path,
                                   const char *format, float x, float y, int font_size) {
  return classic([&] {
    // One reading of the clock for the whole call: every page shows the same text.
    LocalTime now;
    if (!read_local_time(now)) {
      set_error(ErrorCode::unsupported, "cannot read the local time");
      return 0;
    }
    char text[kDatetimeTextSize];
    datetime_stamp_text(format, now, text);
    StampRequest request{};
    request.kind = STAMP_TEXT;
    request.text = text;
    request.font_size = font_size;
    request.x = x;
    request.y = y;
    request.opacity = 1.0f;
    return execute_stamp(input_path, output_path, &request);
  });
}

FOLIMARK_API int folimark_image(const char *input_path, const char *output_path,
                                const char *image_path, float x, float y, float scale,
                                float opacity) {
  return classic([&] {
    StampRequest request{};
    request.kind = STAMP_IMAGE;
    request.x = x;
    request.y = y;
    request.opacity = opacity;
    request.image_scale_x = request.image_scale_y = scale > 0 ? scale : 1.0f;
    PreparedImage image;
    if (!prepare_image(image_path, request, image)) return 0;
    return execute_stamp(input_path, output_path, &request);
  });
}

}  // extern "C"
