// Finding the size and component count of a JPEG picture by walking its
// marker segments up to the first baseline or progressive frame header, and
// what the Adobe and JFIF segments up to the first scan header say of it.
// Every read is checked against the end of the data, whatever the segment
// lengths claim.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>

#include "jpeg/jpeg.h"
#include "jpeg/jpeg_app_segments.h"

namespace {

constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kBaselineFrame = 0xC0;
constexpr uint8_t kProgressiveFrame = 0xC2;
constexpr uint8_t kScanHeader = 0xDA;

// The big-endian 16-bit value at at; the caller has checked that both bytes
// lie inside bytes.
unsigned read_be16(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<unsigned>(bytes[at] << 8 | bytes[at + 1]);
}

// Markers that stand alone, without a length or a segment: TEM, the restart
// markers, start-of-image and end-of-image.
bool is_standalone_marker(uint8_t code) {
  return code == 0x01 || (code >= 0xD0 && code <= 0xD9);
}

// Takes what an application segment's payload says into header.
void read_app_segment(uint8_t code, std::span<const uint8_t> payload, JpegHeader &header) {
  if (code == jpegapp::kAdobeMarker) {
    if (const auto transform = jpegapp::read_adobe_transform(payload)) {
      header.adobe = 1;
      header.adobe_transform = *transform;
    }
  } else if (code == jpegapp::kJfifMarker) {
    if (const auto density = jpegapp::read_jfif(payload)) {
      header.density_unit = density->unit;
      header.x_density = static_cast<int>(density->x);
      header.y_density = static_cast<int>(density->y);
    }
  }
}

// Walks the marker segments from offset 2 (the caller has already seen the
// start-of-image marker there) and returns the first usable frame header's
// size, or nothing when the walk meets a malformed or truncated segment
// first. Once the frame is found the walk goes on to the first scan header,
// and anything it cannot pass ends it with what it has. Each step moves
// strictly forward, so the walk always ends.
std::optional<JpegHeader> read_header(std::span<const uint8_t> bytes) {
  const size_t n = bytes.size();
  if (n <= 5) return std::nullopt;
  JpegHeader header{};
  bool have_frame = false;
  const auto stop = [&]() -> std::optional<JpegHeader> {
    if (have_frame) return header;
    return std::nullopt;
  };
  size_t pos = 2;
  for (;;) {
    if (pos >= n || bytes[pos] != kMarkerPrefix) return stop();
    // Further 0xFF bytes are fill; m is the last of them, the code follows.
    size_t m = pos;
    while (m + 1 < n && bytes[m + 1] == kMarkerPrefix) ++m;
    if (m + 1 >= n) return stop();
    const uint8_t code = bytes[m + 1];

    if (is_standalone_marker(code)) {
      if (n - m < 6) return stop();
      pos = m + 2;
      continue;
    }
    // A zero after 0xFF is a stuffed data byte, never a marker: the walk has
    // run into entropy-coded data.
    if (code == 0x00) return stop();

    if (n - m < 4) return stop();
    const size_t length = read_be16(bytes, m + 2);
    // The length counts its own two bytes; anything shorter is malformed.
    if (length < 2) return stop();
    const size_t end = m + 2 + length;
    if (end > n) return stop();
    if (have_frame && code == kScanHeader) return header;

    // A frame header of more than 8 bytes reaches at least m + 10, so the
    // component count at m + 9 lies inside the segment.
    if (!have_frame && (code == kBaselineFrame || code == kProgressiveFrame) && length > 8) {
      const uint8_t components = bytes[m + 9];
      // A frame without components is passed over when there is room for
      // another marker after it; otherwise it decides, and fails.
      if (components != 0 || n - end < 4) {
        const unsigned height = read_be16(bytes, m + 5);
        const unsigned width = read_be16(bytes, m + 7);
        if (width == 0 || height == 0 || components < 1 || components > 4) return std::nullopt;
        header.width = static_cast<int>(width);
        header.height = static_cast<int>(height);
        header.components = components;
        have_frame = true;
      }
    }
    read_app_segment(code, bytes.subspan(m + 4, length - 2), header);
    // Any other segment (other frame types, tables, application data,
    // comments, a scan header before the frame) is skipped; another marker
    // must fit after it.
    if (n - end < 4) return stop();
    pos = end;
  }
}

}  // namespace

int tvl_jpeg_header_mem(const unsigned char *data, size_t size, JpegHeader *header) {
  if (data == nullptr || header == nullptr) return 0;
  const std::optional<JpegHeader> found = read_header(std::span<const uint8_t>(data, size));
  if (!found) return 0;
  *header = *found;
  return 1;
}

int tvl_jpeg_info_mem(const unsigned char *data, size_t size, int *width, int *height,
                      int *components) {
  if (width == nullptr || height == nullptr || components == nullptr) return 0;
  JpegHeader header;
  if (tvl_jpeg_header_mem(data, size, &header) != 1) return 0;
  *width = header.width;
  *height = header.height;
  *components = header.components;
  return 1;
}

int tvl_jpeg_info(const char *path, int *width, int *height, int *components) {
  if (width == nullptr || height == nullptr || components == nullptr) return 0;
  JpegFileSpan file{};
  if (!jpg_read_file(path, &file)) return 0;
  const int ok = tvl_jpeg_info_mem(file.data, static_cast<size_t>(file.size), width, height,
                                   components);
  std::free(file.data);
  return ok;
}
