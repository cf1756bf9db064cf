// Turning a picture file into the image fields of a stamp request: a JPEG
// is embedded as it stands, a PNG is decoded and split into compressed RGB
// and (when some pixel is not opaque) alpha planes. The size of a pixel
// that the picture states is read too; the caller decides whether to use it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "flate/flate.h"
#include "common/owned_text.h"
#include "pdf/stamp_request.h"

// The buffers a prepared request points into; they must outlive the
// engine's run and are released together.
struct PreparedImage {
  std::unique_ptr<uint8_t[]> jpeg;
  std::unique_ptr<uint8_t, FreeDeleter> rgb;
  std::unique_ptr<uint8_t, FreeDeleter> alpha;
  // A pixel's width and height in points from the resolution the picture
  // states (a PNG's pHYs in pixels per metre, a JPEG's JFIF density per
  // inch or per cm); both 0 when it states none, a density of 0, or only
  // the pixels' shape.
  double points_per_pixel_x = 0, points_per_pixel_y = 0;
};

// Returns true after filling the image fields of request from the picture
// at image_path; false after setting the last-error text. The planes of a
// PNG are compressed with deflate (tests give a failing one).
using PlaneDeflateFn = int (*)(const unsigned char *src, size_t len, unsigned char **out,
                               size_t *out_len);
bool prepare_image(const char *image_path, StampRequest &request, PreparedImage &owned,
                   PlaneDeflateFn deflate = tvl_deflate);

// The same for a picture file held in memory; name stands for it in messages.
bool prepare_image_bytes(std::span<const uint8_t> picture, const char *name,
                         StampRequest &request, PreparedImage &owned,
                         PlaneDeflateFn deflate = tvl_deflate);
