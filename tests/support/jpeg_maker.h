// Test-only JPEG files made in memory by libjpeg-turbo, and libjpeg-turbo's
// own reading of a file's frame header, used as the oracle for the probe.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace testjpeg {

enum class Colour { gray, rgb, cmyk };

struct MakeOptions {
  int width = 16;
  int height = 16;
  Colour colour = Colour::rgb;
  bool progressive = false;     // jpeg_simple_progression
  unsigned restart_interval = 0;  // MCUs between restart markers; 0: none
  int quality = 75;
  // A picture of one colour instead of the generated ramps: R, G, B (a gray
  // picture takes the first value, a CMYK one the three as C, M, Y with K
  // 0). A negative first value keeps the ramps.
  std::array<int, 3> fill = {-1, -1, -1};
};

// Returns a complete JPEG file compressed by libjpeg-turbo from a generated
// picture; throws std::runtime_error when libjpeg-turbo refuses.
std::vector<uint8_t> make_jpeg(const MakeOptions &options);

// What libjpeg-turbo's jpeg_read_header makes of a file.
struct LibjpegHeader {
  bool read = false;   // jpeg_read_header succeeded
  int frame_code = -1;  // the marker code of the frame header it read (0xC0...)
  int width = 0;
  int height = 0;
  int components = 0;
  std::string message;  // libjpeg's error text when read is false
};

LibjpegHeader read_header_with_libjpeg(std::span<const uint8_t> bytes);

}  // namespace testjpeg
