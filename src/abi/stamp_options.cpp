#include "abi/stamp_options.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/error.h"
#include "platform/clock.h"

namespace {

// Largest offset, size or dimension in points accepted: far beyond any page
// (PDF pages end at 14,400 units of user space), short of overflow.
constexpr double kMaxLength = 1e6;
constexpr double kMaxFontSize = 10000;
constexpr double kMaxScale = 1000;

int refuse(const char *field, const char *why) {
  return set_error(ErrorCode::argument, "options.%s %s", field, why);
}

// Returns 1 when v is finite and within [low, high].
int check_range(const char *field, double v, double low, double high, const char *range) {
  if (!std::isfinite(v) || v < low || v > high) return refuse(field, range);
  return 1;
}

int check_choice(const char *field, int32_t v, int32_t last) {
  if (v < 0 || v > last) {
    return set_error(ErrorCode::argument, "options.%s must be 0 to %d, not %d", field,
                     static_cast<int>(last), static_cast<int>(v));
  }
  return 1;
}

// Returns 1 when exactly one of a path and bytes is given.
int check_source(const char *path_field, const char *path, const char *data_field,
                 const unsigned char *data, size_t size) {
  if (path != nullptr && data != nullptr)
    return set_error(ErrorCode::argument, "options.%s and options.%s are both set; give one",
                     path_field, data_field);
  if (path == nullptr && data == nullptr)
    return set_error(ErrorCode::argument, "options.%s and options.%s are both NULL; give one",
                     path_field, data_field);
  if (data != nullptr && size == 0)
    return set_error(ErrorCode::argument, "options.%s is set but its size is 0", data_field);
  return 1;
}

int check_numbers(const folimark_options &o) {
  return check_range("x", o.x, -kMaxLength, kMaxLength, "must be a number from -1e6 to 1e6") &&
         check_range("y", o.y, -kMaxLength, kMaxLength, "must be a number from -1e6 to 1e6") &&
         check_range("opacity", o.opacity, 0, 1, "must be from 0 to 1") &&
         check_range("rotation", o.rotation, -kMaxLength, kMaxLength,
                     "must be a number of degrees from -1e6 to 1e6") &&
         check_choice("red", o.red, 255) && check_choice("green", o.green, 255) &&
         check_choice("blue", o.blue, 255) && check_choice("anchor", o.anchor, 8) &&
         check_choice("align", o.align, 2) && check_choice("layer", o.layer, 1) &&
         check_choice("space", o.space, 1);
}

int check_kind_numbers(const folimark_options &o) {
  if (o.kind != FOLIMARK_KIND_PICTURE) {
    return std::isfinite(o.font_size) && o.font_size > 0 && o.font_size <= kMaxFontSize
               ? 1
               : refuse("font_size", "must be above 0 and at most 10000 points");
  }
  if (!(std::isfinite(o.scale) && o.scale >= 0 && o.scale <= kMaxScale))
    return refuse("scale",
                  "must be 0 (from the picture's resolution) or above 0 and at most 1000 points "
                  "per pixel");
  for (const auto &[field, v] : {std::pair{"width", o.width}, std::pair{"height", o.height}}) {
    if (!std::isfinite(v) || v < 0 || v > kMaxLength)
      return refuse(field, "must be 0 (not set) or above 0 and at most 1e6 points");
  }
  return 1;
}

// The points per pixel of a picture: the scale asked for, else the size of
// a pixel the picture states, else 1.
void set_picture_scale(double scale, const PreparedImage &image, StampRequest &request) {
  if (scale > 0) {
    request.image_scale_x = request.image_scale_y = static_cast<float>(scale);
  } else if (image.points_per_pixel_x > 0 && image.points_per_pixel_y > 0) {
    request.image_scale_x = static_cast<float>(image.points_per_pixel_x);
    request.image_scale_y = static_cast<float>(image.points_per_pixel_y);
  } else {
    request.image_scale_x = request.image_scale_y = 1;
  }
}

// Returns 1 with the font the text is drawn in prepared, when the options
// give one.
int read_font(const folimark_options &o, StampRequest &request, RequestParts &parts) {
  if (o.font_path == nullptr && o.font_data == nullptr) return 1;
  if (o.font_path != nullptr && o.font_data != nullptr)
    return set_error(ErrorCode::argument,
                     "options.font_path and options.font_data are both set; give one");
  if (o.font_data != nullptr && o.font_data_size == 0)
    return refuse("font_data", "is set but its size is 0");
  if (o.font_index < 0) return refuse("font_index", "must be 0 or more");
  const bool read = o.font_path != nullptr
                        ? prepare_font(o.font_path, o.font_index, parts.font)
                        : prepare_font_bytes({o.font_data, o.font_data_size}, o.font_index,
                                             parts.font);
  if (!read) return 0;
  request.font = &parts.font.face;
  return 1;
}

}  // namespace

folimark_options full_options(const folimark_options &host) {
  folimark_options o{};
  default_options(o);
  // Only whole versions of the record are taken: a first-version host's
  // size may take in padding that the next version's first field covers.
  size_t taken = kOptionsSizeV1;
  if (host.size >= sizeof o) taken = sizeof o;
  else if (host.size >= kOptionsSizeV2) taken = kOptionsSizeV2;
  else taken = std::min<size_t>(host.size, kOptionsSizeV1);
  std::memcpy(&o, &host, taken);
  o.size = host.size;
  return o;
}

void default_options(folimark_options &o) {
  o.kind = FOLIMARK_KIND_TEXT;
  o.font_size = 24;
  o.opacity = 1;
  o.scale = 0;
}

int read_options(const folimark_options &o, StampRequest &request, RequestParts &parts,
                 StampSource &source) {
  if (!check_choice("kind", o.kind, FOLIMARK_KIND_PICTURE)) return 0;
  if (!check_source("input_path", o.input_path, "input_data", o.input_data, o.input_size)) return 0;
  if (!check_numbers(o) || !check_kind_numbers(o)) return 0;

  source.in_memory = o.input_data != nullptr;
  source.name = source.in_memory ? "the document in memory" : o.input_path;
  if (source.in_memory) source.bytes = {o.input_data, o.input_size};

  parts.placement.anchor = static_cast<Anchor>(o.anchor);
  parts.placement.dx = o.x;
  parts.placement.dy = o.y;
  parts.placement.reader_space = o.space == FOLIMARK_SPACE_DISPLAYED;
  parts.placement.rotation = o.rotation;
  parts.placement.align = static_cast<Align>(o.align);
  request.placement = &parts.placement;
  request.rotation = static_cast<float>(o.rotation);
  request.opacity = static_cast<float>(o.opacity);
  request.page_selection = o.pages;
  request.layer_under = o.layer == FOLIMARK_LAYER_UNDER ? 1 : 0;
  request.open_encrypted = true;
  request.password = o.password;

  switch (o.kind) {
    case FOLIMARK_KIND_TEXT:
    case FOLIMARK_KIND_DATETIME:
      request.kind = STAMP_TEXT;
      request.font_size = o.font_size;
      request.color_r = o.red;
      request.color_g = o.green;
      request.color_b = o.blue;
      if (!read_font(o, request, parts)) return 0;
      if (o.kind == FOLIMARK_KIND_TEXT) {
        if (o.text == nullptr) return refuse("text", "is NULL; a text stamp needs its text");
        request.text = o.text;
        return 1;
      } else {
        // One reading of the clock for the whole call: every page shows the same text.
        LocalTime now;
        if (!read_local_time(now))
          return set_error(ErrorCode::unsupported, "cannot read the local time");
        datetime_stamp_text(o.text, now, parts.datetime_text, PictureQuotes::literal);
        request.text = parts.datetime_text;
        return 1;
      }
    default:
      request.kind = STAMP_IMAGE;
      request.image_box_width = static_cast<float>(o.width);
      request.image_box_height = static_cast<float>(o.height);
      if (!check_source("picture_path", o.picture_path, "picture_data", o.picture_data,
                        o.picture_size))
        return 0;
      if (o.picture_path != nullptr ? !prepare_image(o.picture_path, request, parts.image)
                                    : !prepare_image_bytes({o.picture_data, o.picture_size},
                                                           "the picture in memory", request,
                                                           parts.image))
        return 0;
      set_picture_scale(o.scale, parts.image, request);
      return 1;
  }
}
