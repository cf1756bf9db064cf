// The two application segments that say how a JPEG's samples are meant:
// JFIF (APP0: YCbCr samples, and the pixel density) and Adobe (APP14: the
// colour transform, and for four components samples stored inverted). The
// header probe and the decoder both read them here. Each reader takes the
// segment's payload, the bytes after its length field.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace jpegapp {

inline constexpr uint8_t kJfifMarker = 0xE0;   // APP0
inline constexpr uint8_t kAdobeMarker = 0xEE;  // APP14

// What a JFIF segment says of the pixels' size.
struct JfifDensity {
  uint8_t unit = 0;  // 0: the densities give the aspect ratio only; 1: per inch; 2: per cm
  unsigned x = 0, y = 0;
};

// Returns the density of a JFIF segment's payload, or nothing when the
// payload is not a whole JFIF header.
inline std::optional<JfifDensity> read_jfif(std::span<const uint8_t> p) {
  // "JFIF\0", version (2), unit (1), x and y density (2 each), thumbnail
  // width and height (1 each).
  if (p.size() < 14 || std::memcmp(p.data(), "JFIF\0", 5) != 0) return std::nullopt;
  JfifDensity d;
  d.unit = p[7];
  d.x = static_cast<unsigned>(p[8] << 8 | p[9]);
  d.y = static_cast<unsigned>(p[10] << 8 | p[11]);
  return d;
}

// Returns the colour transform of an Adobe segment's payload (0: none, RGB
// or CMYK; 1: YCbCr; 2: YCCK), or nothing when the payload is not a whole
// Adobe segment.
inline std::optional<uint8_t> read_adobe_transform(std::span<const uint8_t> p) {
  // "Adobe", version (2), flags0 (2), flags1 (2), transform (1).
  if (p.size() < 12 || std::memcmp(p.data(), "Adobe", 5) != 0) return std::nullopt;
  return p[11];
}

}  // namespace jpegapp
