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
  // Samples to compress instead (width * height * components, interleaved,
  // rows from the top); empty: fill or ramps.
  std::vector<uint8_t> pixels = {};
  // Horizontal and vertical sampling factors of the first component (2, 2
  // gives 4:2:0, 2, 1 gives 4:2:2, 1, 1 gives 4:4:4); 0: libjpeg's default.
  int luma_h = 0, luma_v = 0;
  // The same for the second component (Cb, or M of CMYK); 0: libjpeg's default.
  int second_h = 0, second_v = 0;
  bool optimize_coding = false;  // Huffman tables fitted to the picture
  // One sequential scan per component instead of one interleaved scan.
  bool separate_scans = false;
  // An RGB picture stored as R, G, B (Adobe transform 0) instead of YCbCr.
  bool store_rgb = false;
  // A CMYK picture stored as YCCK (Adobe transform 2) instead of CMYK.
  bool store_ycck = false;
  // libjpeg writes an Adobe segment for CMYK, YCCK and stored RGB; false
  // leaves it out.
  bool adobe_marker = true;
  // The JFIF segment's density (libjpeg writes the segment for gray and
  // YCbCr files): unit 0 (aspect ratio), 1 (per inch) or 2 (per cm); a
  // negative unit keeps libjpeg's 1:1 aspect.
  int density_unit = -1;
  int x_density = 1, y_density = 1;
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
  // The Adobe and JFIF segments libjpeg saw before the first scan.
  bool adobe = false;
  int adobe_transform = -1;
  bool jfif = false;
  int density_unit = -1, x_density = -1, y_density = -1;
  std::string message;  // libjpeg's error text when read is false
};

LibjpegHeader read_header_with_libjpeg(std::span<const uint8_t> bytes);

struct DecodeOptions {
  bool fancy_upsampling = true;  // false: chroma samples repeated, not interpolated
  bool float_dct = false;        // JDCT_FLOAT instead of the default integer IDCT
  bool keep_cmyk = false;        // four-component files as C, M, Y, K (components 4)
};

// libjpeg-turbo's decoding of a whole file: gray files as one sample per
// pixel, all others as R, G, B (or C, M, Y, K with keep_cmyk).
struct LibjpegPixels {
  bool ok = false;
  int width = 0, height = 0, components = 0;  // components of the output: 1, 3 or 4
  std::vector<uint8_t> pixels = {};
  std::string message;  // libjpeg's error text when ok is false
  int warnings = 0;     // e.g. for data that ends early
};

LibjpegPixels decode_with_libjpeg(std::span<const uint8_t> bytes, const DecodeOptions &options = {});

// libjpeg-turbo's quantised DCT coefficients of a three-component file:
// each component's blocks in raster order, each block row-major.
struct LibjpegCoefficients {
  bool ok = false;  // false for a file libjpeg refuses or without three components
  long warnings = 0;
  int blocks_wide = 0, blocks_high = 0;  // of the first component
  std::array<std::vector<std::array<int, 64>>, 3> comp = {};
  std::string message;  // libjpeg's error text when it refused the file
};

LibjpegCoefficients read_coefficients_with_libjpeg(std::span<const uint8_t> bytes);

}  // namespace testjpeg
