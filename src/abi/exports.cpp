// The C ABI: each export fills a StampRequest and calls the engine. No C++
// exception ever leaves this file; running out of memory becomes a failure
// with a message.
#include <folimark.h>

#include <new>

#include "abi/datetime_text.h"
#include "abi/image_stamp.h"
#include "common/error.h"
#include "pdf/stamp_request.h"

namespace {

template <typename Body>
int guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    set_error("out of memory");
  } catch (...) {
    set_error("internal error");
  }
  return 0;
}

}  // namespace

extern "C" {

FOLIMARK_API int folimark_init(void) {
  clear_error();
  return 1;
}

FOLIMARK_API void folimark_cleanup(void) { clear_error(); }

FOLIMARK_API const char *folimark_last_error(void) { return g_err; }

FOLIMARK_API int folimark_text(const char *input_path, const char *output_path,
                               const char *text, float x, float y, int font_size,
                               float opacity, float rotation, int red, int green, int blue) {
  return guarded([&] {
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
  return guarded([&] {
    if (pages == nullptr || page_count <= 0) {
      set_error("pages array cannot be NULL and page_count must be > 0");
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
  return guarded([&] {
    // One reading of the clock for the whole call: every page shows the same text.
    LocalTime now;
    if (!read_local_time(now)) {
      set_error("cannot read the local time");
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
  return guarded([&] {
    StampRequest request{};
    request.kind = STAMP_IMAGE;
    request.x = x;
    request.y = y;
    request.opacity = opacity;
    request.image_scale = scale > 0 ? scale : 1.0f;
    PreparedImage image;
    if (!prepare_image(image_path, request, image)) return 0;
    return execute_stamp(input_path, output_path, &request);
  });
}

}  // extern "C"
