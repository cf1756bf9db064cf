#include "abi/image_stamp.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>

#include "common/error.h"
#include "jpeg/jpeg.h"
#include "platform/file_io.h"
#include "png/png.h"

namespace {

struct FileCloser {
  void operator()(std::FILE *f) const noexcept { std::fclose(f); }
};

enum class PictureFormat { unknown, jpeg, png };

constexpr uint8_t kPngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

// Names the format of a picture from its first 8 bytes, or reports that it
// is neither.
bool format_of(const uint8_t (&head)[8], const char *name, PictureFormat &format) {
  if (head[0] == 0xFF && head[1] == 0xD8) {
    format = PictureFormat::jpeg;
  } else if (std::memcmp(head, kPngSignature, sizeof head) == 0) {
    format = PictureFormat::png;
  } else {
    set_error(ErrorCode::unsupported, "unsupported image format (must be PNG or JPEG): %s", name);
    return false;
  }
  return true;
}

// Reads the first 8 bytes of the picture and names its format, or reports
// why it cannot.
bool sniff_format(const char *path, PictureFormat &format) {
  std::unique_ptr<std::FILE, FileCloser> f(open_for_reading(path));
  if (!f) {
    set_error(ErrorCode::read, "cannot open image file %s: %s", path, std::strerror(errno));
    return false;
  }
  uint8_t head[8];
  const size_t got = std::fread(head, 1, sizeof head, f.get());
  if (got < sizeof head) {
    // A directory opens but cannot be read: say why rather than "too short".
    if (std::ferror(f.get()) && errno != 0) {
      set_error(ErrorCode::read, "cannot open image file %s: %s", path, std::strerror(errno));
    } else {
      set_error(ErrorCode::damaged, "image file too short: %s", path);
    }
    return false;
  }
  return format_of(head, path, format);
}

// Takes a stated resolution of x and y dots per unit, with units_per_inch
// units to the inch, as the pixel's size in points (72 to the inch). A
// density of 0 states nothing.
void take_resolution(PreparedImage &owned, double x, double y, double units_per_inch) {
  if (!(x > 0 && y > 0)) return;
  owned.points_per_pixel_x = 72 / (x * units_per_inch);
  owned.points_per_pixel_y = 72 / (y * units_per_inch);
}

// JFIF density units: dots per inch and per centimetre (0 gives the aspect
// ratio only); PNG's pHYs unit: pixels per metre.
constexpr uint8_t kJfifPerInch = 1;
constexpr uint8_t kJfifPerCm = 2;
constexpr uint8_t kPngPerMetre = 1;

// Fills the request from a whole JPEG file held in jpeg (size bytes),
// which the request then points into.
bool use_jpeg(std::unique_ptr<uint8_t[]> jpeg, size_t size, const char *name,
              StampRequest &request, PreparedImage &owned) {
  JpegHeader header{};
  if (tvl_jpeg_header_mem(jpeg.get(), size, &header) != 1) {
    set_error(ErrorCode::damaged, "failed to parse JPEG header: %s", name);
    return false;
  }
  // The document declares the samples gray, RGB or CMYK: two components
  // are none of these.
  if (header.components == 2) {
    set_error(ErrorCode::unsupported, "JPEG of 2 components not supported: %s", name);
    return false;
  }
  owned.jpeg = std::move(jpeg);
  request.image_is_jpeg = 1;
  request.image_width = header.width;
  request.image_height = header.height;
  request.image_components = header.components;
  // Adobe's four-component files, CMYK or YCCK, hold inverted samples.
  request.image_inverted = header.components == 4 && header.adobe ? 1 : 0;
  if (header.density_unit == kJfifPerInch || header.density_unit == kJfifPerCm)
    take_resolution(owned, header.x_density, header.y_density,
                    header.density_unit == kJfifPerInch ? 1 : 2.54);
  request.jpeg_data = owned.jpeg.get();
  request.jpeg_size = size;
  return true;
}

// The JPEG is read once and probed in memory, so the size written into the
// document always describes the very bytes embedded.
bool prepare_jpeg(const char *path, StampRequest &request, PreparedImage &owned) {
  ReadResult file = read_whole_file(path);
  switch (file.status) {
    case ReadStatus::ok: break;
    case ReadStatus::cannot_open: set_error(ErrorCode::read, "failed to reopen JPEG"); return false;
    case ReadStatus::out_of_memory: set_error(ErrorCode::memory, "out of memory reading JPEG"); return false;
    default: set_error(ErrorCode::read, "failed to read full JPEG bytes"); return false;
  }
  return use_jpeg(std::move(file.bytes), static_cast<size_t>(file.size), path, request, owned);
}

// Compresses one plane into a zlib stream; false when memory runs out.
bool deflate_plane(PlaneDeflateFn deflate, std::span<const uint8_t> plane,
                   std::unique_ptr<uint8_t, FreeDeleter> &out, size_t &out_size) {
  unsigned char *stream = nullptr;
  size_t length = 0;
  if (deflate(plane.data(), plane.size(), &stream, &length) != 0) return false;
  out.reset(stream);
  out_size = length;
  return true;
}

using Plane = std::unique_ptr<uint8_t[]>;

Plane allocate_plane(uint64_t size) {
  if (size > SIZE_MAX) return nullptr;
  return Plane(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
}

// Fills the request from a PNG that decode(&width, &height, &density,
// &message) turns into RGBA pixels.
template <typename Decode>
bool use_png(Decode decode, const char *name, StampRequest &request, PreparedImage &owned,
             PlaneDeflateFn deflate) {
  int width = 0, height = 0;
  PngDensity density{};
  const char *message = nullptr;
  const std::unique_ptr<uint8_t, FreeDeleter> pixels(decode(&width, &height, &density, &message));
  if (!pixels || width <= 0 || height <= 0) {
    const char *why = message != nullptr && message[0] != '\0' ? message : "unknown";
    const ErrorCode code =
        std::strstr(why, "out of memory") != nullptr ? ErrorCode::memory : ErrorCode::damaged;
    set_error(code, "PNG decode error (%s): %s", why, name);
    return false;
  }
  const uint64_t count = uint64_t(uint32_t(width)) * uint64_t(uint32_t(height));
  const uint8_t *rgba = pixels.get();

  bool has_alpha = false;
  for (uint64_t i = 0; i < count; ++i) {
    if (rgba[i * 4 + 3] != 255) {
      has_alpha = true;
      break;
    }
  }

  {
    Plane rgb = allocate_plane(count * 3);
    if (!rgb) {
      set_error(ErrorCode::memory, "out of memory for PNG RGB");
      return false;
    }
    for (uint64_t i = 0; i < count; ++i) std::memcpy(&rgb[i * 3], &rgba[i * 4], 3);
    if (!deflate_plane(deflate, {rgb.get(), static_cast<size_t>(count * 3)}, owned.rgb, request.rgb_size)) {
      set_error(ErrorCode::memory, "failed to deflate PNG RGB data");
      return false;
    }
  }
  if (has_alpha) {
    Plane alpha = allocate_plane(count);
    if (!alpha) {
      owned.rgb.reset();
      set_error(ErrorCode::memory, "out of memory for PNG mask");
      return false;
    }
    for (uint64_t i = 0; i < count; ++i) alpha[i] = rgba[i * 4 + 3];
    if (!deflate_plane(deflate, {alpha.get(), static_cast<size_t>(count)}, owned.alpha, request.alpha_size)) {
      owned.rgb.reset();
      set_error(ErrorCode::memory, "failed to deflate PNG mask data");
      return false;
    }
  }
  request.image_is_jpeg = 0;
  request.image_width = width;
  request.image_height = height;
  request.image_components = 3;
  request.rgb_data = owned.rgb.get();
  request.alpha_data = owned.alpha.get();
  request.has_alpha = has_alpha ? 1 : 0;
  // 0.0254 metres to the inch.
  if (density.unit == kPngPerMetre) take_resolution(owned, density.x, density.y, 0.0254);
  return true;
}

}  // namespace

bool prepare_image(const char *image_path, StampRequest &request, PreparedImage &owned,
                   PlaneDeflateFn deflate) {
  if (image_path == nullptr) {
    set_error(ErrorCode::argument, "NULL image_path");
    return false;
  }
  PictureFormat format = PictureFormat::unknown;
  if (!sniff_format(image_path, format)) return false;
  if (format == PictureFormat::jpeg) return prepare_jpeg(image_path, request, owned);
  return use_png(
      [image_path](int *w, int *h, PngDensity *density, const char **message) {
        return tvl_png_decode_density(image_path, w, h, density, message);
      },
      image_path, request, owned, deflate);
}

bool prepare_image_bytes(std::span<const uint8_t> picture, const char *name,
                         StampRequest &request, PreparedImage &owned, PlaneDeflateFn deflate) {
  uint8_t head[8];
  if (picture.size() < sizeof head) {
    set_error(ErrorCode::damaged, "image file too short: %s", name);
    return false;
  }
  std::memcpy(head, picture.data(), sizeof head);
  PictureFormat format = PictureFormat::unknown;
  if (!format_of(head, name, format)) return false;
  if (format == PictureFormat::png) {
    return use_png(
        [picture](int *w, int *h, PngDensity *density, const char **message) {
          return tvl_png_decode_mem_density(picture.data(), picture.size(), w, h, density, message);
        },
        name, request, owned, deflate);
  }
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[picture.size()]);
  if (!copy) {
    set_error(ErrorCode::memory, "out of memory reading JPEG");
    return false;
  }
  std::memcpy(copy.get(), picture.data(), picture.size());
  return use_jpeg(std::move(copy), picture.size(), name, request, owned);
}
