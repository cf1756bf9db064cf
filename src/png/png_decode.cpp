// PNG reading: the whole file is read into memory, its chunks are walked, the
// image data of every IDAT chunk is inflated in one call into a buffer of
// exactly the expected size, the zlib trailer is checked, the row filters are
// undone in place and every pixel is converted to 8-bit RGBA. An interlaced
// image holds seven smaller images (the Adam7 passes) one after the other;
// each is unfiltered on its own and its pixels are spread to their places.
//
// Images of the five standard colour types are read at every bit depth the
// PNG standard allows, interlaced or not. 16-bit samples are reduced to their
// high byte. Transparency (tRNS) turns into alpha for palette, gray and RGB
// images; a gray or RGB key is compared with the full stored sample, before
// any reduction to 8 bits. A palette index at or beyond the end of the palette
// gives opaque black. CRCs are not verified and IEND is not required. The
// zlib header may declare any window size zlib allows. The pixel density of
// a pHYs chunk is handed back with the pixels.
//
// Every length from the file is handled in 64-bit arithmetic, and nothing is
// allocated for the raw image before it is known that the compressed data
// could possibly inflate to it.
#include "png/png.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "flate/adler32.h"
#include "flate/flate.h"
#include "platform/file_io.h"

namespace {

// The failure texts. They are constants, so the pointer handed to the
// caller stays valid for the life of the program.
constexpr const char kCannotRead[] = "png: cannot read file";
constexpr const char kBadSignature[] = "png: not a PNG file (bad signature)";
constexpr const char kTruncatedChunk[] = "png: truncated chunk";
constexpr const char kBadIhdrLength[] = "png: bad IHDR length";
constexpr const char kTooLarge[] = "png: image too large";
constexpr const char kBadPlte[] = "png: bad PLTE";
constexpr const char kMissingChunks[] = "png: missing IHDR or IDAT";
constexpr const char kBadInterlace[] = "png: unsupported interlace method";
constexpr const char kBadColorType[] = "png: unsupported color type";
constexpr const char kNoPalette[] = "png: palette PNG without PLTE";
constexpr const char kBadDepth[] = "png: unsupported bit depth";
constexpr const char kPalette16[] = "png: 16-bit palette not supported";
constexpr const char kBadZlibHeader[] = "png: bad zlib header in IDAT";
constexpr const char kInflateFailed[] = "png: inflate failed (corrupt or truncated stream)";
constexpr const char kAdlerMismatch[] = "png: adler-32 checksum mismatch";
constexpr const char kOutOfMemory[] = "png: out of memory";

constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

// Most pixels an image may have: 2^30.
constexpr uint64_t kMaxPixels = uint64_t{1} << 30;
// The raw image is inflated in one call whose capacity must stay below 2^31.
constexpr uint64_t kMaxRawSize = uint64_t{1} << 31;
// DEFLATE codes at best 258 bytes in 2 bits (a 1-bit length code and a 1-bit
// distance code), so one input byte expands to at most 4 * 258 bytes.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t kInflateSlack = 1024;

enum ColorType : uint8_t { kGray = 0, kRgb = 2, kPalette = 3, kGrayAlpha = 4, kRgba = 6 };

uint32_t be32(const uint8_t *p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

uint32_t be16(const uint8_t *p) { return uint32_t{p[0]} << 8 | uint32_t{p[1]}; }

bool type_is(const uint8_t *p, const char (&name)[5]) { return std::memcmp(p, name, 4) == 0; }

// What the chunk walk collects. Palette, transparency and image data are
// views into the file bytes, which outlive the decoding.
struct Chunks {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t depth = 0;
  uint8_t color = 0;
  uint8_t interlace = 0;
  bool has_palette = false;
  std::span<const uint8_t> palette;
  bool has_trns = false;
  std::span<const uint8_t> trns;
  std::vector<std::span<const uint8_t>> idat;
  uint64_t idat_size = 0;
  bool has_density = false;
  PngDensity density{};
};

// Walks the chunks after the signature up to IEND or the end of the file.
// Returns the failure text, or nullptr.
const char *walk_chunks(std::span<const uint8_t> file, Chunks &c) {
  const uint64_t size = file.size();
  uint64_t pos = 8;
  while (size - pos >= 8) {
    const uint64_t length = be32(&file[pos]);
    const uint8_t *type = &file[pos + 4];
    const uint64_t data_pos = pos + 8;
    if (length + 4 > size - data_pos) return kTruncatedChunk;
    const std::span<const uint8_t> data = file.subspan(data_pos, length);
    if (type_is(type, "IHDR")) {
      if (length != 13) return kBadIhdrLength;
      const auto w = static_cast<int32_t>(be32(&data[0]));
      const auto h = static_cast<int32_t>(be32(&data[4]));
      if (w <= 0 || h <= 0) return kTooLarge;
      if (static_cast<uint64_t>(w) * static_cast<uint64_t>(h) > kMaxPixels) return kTooLarge;
      c.width = static_cast<uint32_t>(w);
      c.height = static_cast<uint32_t>(h);
      c.depth = data[8];
      c.color = data[9];
      c.interlace = data[12];
    } else if (type_is(type, "PLTE")) {
      if (length > 768 || length % 3 != 0) return kBadPlte;
      c.palette = data;
      c.has_palette = true;
    } else if (type_is(type, "tRNS")) {
      c.trns = data;
      c.has_trns = true;
    } else if (type_is(type, "pHYs")) {
      // pHYs: x and y pixels per unit, the unit. Only the first, and only
      // before the image data, counts (as libpng reads it).
      if (length == 9 && c.idat.empty() && !c.has_density) {
        c.density = {be32(&data[0]), be32(&data[4]), data[8]};
        c.has_density = true;
      }
    } else if (type_is(type, "IDAT")) {
      c.idat.push_back(data);
      c.idat_size += length;
    } else if (type_is(type, "IEND")) {
      break;
    }
    pos = data_pos + length + 4;
  }
  return nullptr;
}

// Checks the header facts in the order their failures are reported.
const char *check_header(const Chunks &c) {
  if (c.width == 0 || c.height == 0 || c.idat.empty()) return kMissingChunks;
  if (c.interlace > 1) return kBadInterlace;
  if (c.color != kGray && c.color != kRgb && c.color != kPalette && c.color != kGrayAlpha &&
      c.color != kRgba)
    return kBadColorType;
  if (c.color == kPalette && !c.has_palette) return kNoPalette;
  const uint8_t d = c.depth;
  if (d != 1 && d != 2 && d != 4 && d != 8 && d != 16) return kBadDepth;
  if (c.color == kPalette && d == 16) return kPalette16;
  // The PNG standard allows depths below 8 only for gray and palette images.
  if (d < 8 && c.color != kGray && c.color != kPalette) return kBadDepth;
  return nullptr;
}

struct Layout {
  size_t width = 0;
  size_t height = 0;
  size_t row_size = 0;   // bytes of one row without its filter byte
  size_t pixel_size = 0; // bytes of one whole pixel, at least 1, for filtering
  uint64_t raw_size = 0; // every row with its filter byte
};

// The layout of an image of width x height pixels of the file's kind (the
// whole image, or one pass of an interlaced one).
Layout layout_of(const Chunks &c, uint32_t width, uint32_t height) {
  unsigned channels = 1;
  if (c.color == kRgb) channels = 3;
  if (c.color == kGrayAlpha) channels = 2;
  if (c.color == kRgba) channels = 4;
  const uint64_t bits = uint64_t{channels} * c.depth;
  const uint64_t row = (uint64_t{width} * bits + 7) / 8;
  Layout l;
  l.width = width;
  l.height = height;
  l.row_size = static_cast<size_t>(row);  // below 2^34, and checked below 2^31 before use
  l.pixel_size = static_cast<size_t>((bits + 7) / 8);
  l.raw_size = uint64_t{height} * (row + 1);
  return l;
}

// Which pixels of the image a stored image holds: every dx-th pixel from x0
// of every dy-th row from y0.
struct Pass {
  uint8_t x0, y0, dx, dy;
};

constexpr Pass kWholeImage = {0, 0, 1, 1};
constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// One stored image within the inflated data: the whole image, or a pass
// that holds some pixels.
struct Piece {
  Pass pass;
  Layout layout;
  uint64_t offset = 0;  // of its first filter byte
};

struct Pieces {
  std::array<Piece, 7> piece;
  size_t count = 0;
  uint64_t raw_size = 0;  // of all of them together
};

// How many of size pixels a pass holds that starts at start, step apart.
uint32_t pass_extent(uint32_t size, uint8_t start, uint8_t step) {
  return size > start ? (size - start + step - 1) / step : 0;
}

// The stored images in file order. A pass without pixels is not stored at
// all, not even its filter bytes.
Pieces pieces_of(const Chunks &c) {
  Pieces p;
  const auto add = [&](Pass pass, uint32_t width, uint32_t height) {
    if (width == 0 || height == 0) return;
    Piece &piece = p.piece[p.count++];
    piece.pass = pass;
    piece.layout = layout_of(c, width, height);
    piece.offset = p.raw_size;
    p.raw_size += piece.layout.raw_size;
  };
  if (c.interlace == 0) {
    add(kWholeImage, c.width, c.height);
    return p;
  }
  for (const Pass &pass : kAdam7)
    add(pass, pass_extent(c.width, pass.x0, pass.dx), pass_extent(c.height, pass.y0, pass.dy));
  return p;
}

// --- row filters ---------------------------------------------------------

// Undoes the filter of one row in place. prior is the reconstructed row
// above, or nullptr for the first row, which is filtered against zeros.
void unfilter_row(uint8_t filter, uint8_t *row, const uint8_t *prior, size_t n, size_t bpp) {
  const size_t lead = bpp < n ? bpp : n;
  switch (filter) {
    case 1:  // Sub
      for (size_t i = bpp; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
      break;
    case 2:  // Up
      if (prior == nullptr) break;
      for (size_t i = 0; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
      break;
    case 3:  // Average
      if (prior == nullptr) {
        for (size_t i = bpp; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + (row[i - bpp] >> 1));
        break;
      }
      for (size_t i = 0; i < lead; ++i) row[i] = static_cast<uint8_t>(row[i] + (prior[i] >> 1));
      for (size_t i = bpp; i < n; ++i) {
        const unsigned sum = unsigned{row[i - bpp]} + unsigned{prior[i]};
        row[i] = static_cast<uint8_t>(row[i] + (sum >> 1));
      }
      break;
    case 4:  // Paeth; against a zero row above it is the same as Sub
      if (prior == nullptr) {
        for (size_t i = bpp; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
        break;
      }
      // With a = c = 0 the predictor is b.
      for (size_t i = 0; i < lead; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
      for (size_t i = bpp; i < n; ++i) {
        const int a = row[i - bpp];
        const int b = prior[i];
        const int c = prior[i - bpp];
        const int pa = b > c ? b - c : c - b;            // |p - a| with p = a + b - c
        const int pb = a > c ? a - c : c - a;            // |p - b|
        const int pc = (b - c + a - c) < 0 ? -(b - c + a - c) : (b - c + a - c);  // |p - c|
        const int pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        row[i] = static_cast<uint8_t>(row[i] + pred);
      }
      break;
    default:  // None, and unknown filter types, leave the row as stored
      break;
  }
}

void unfilter(uint8_t *raw, const Layout &l) {
  const size_t stride = l.row_size + 1;
  const uint8_t *prior = nullptr;
  for (size_t y = 0; y < l.height; ++y) {
    uint8_t *row = raw + y * stride;
    unfilter_row(row[0], row + 1, prior, l.row_size, l.pixel_size);
    prior = row + 1;
  }
}

// --- conversion to RGBA ----------------------------------------------------

// RGBA of each possible sample value of an image of at most 8 bits per pixel.
struct Lookup {
  uint8_t rgba[256][4];
};

// A palette index beyond the palette gives opaque black; an index below the
// length of the transparency chunk takes its alpha from there.
void fill_palette_lookup(const Chunks &c, Lookup &lut) {
  const size_t entries = c.palette.size() / 3;
  for (size_t i = 0; i < 256; ++i) {
    uint8_t *e = lut.rgba[i];
    if (i < entries) {
      e[0] = c.palette[3 * i];
      e[1] = c.palette[3 * i + 1];
      e[2] = c.palette[3 * i + 2];
      e[3] = c.has_trns && i < c.trns.size() ? c.trns[i] : uint8_t{255};
    } else {
      e[0] = e[1] = e[2] = 0;
      e[3] = 255;
    }
  }
}

// The gray key of a tRNS chunk (first two bytes, big-endian), or -1.
int32_t gray_key(const Chunks &c) {
  return c.has_trns && c.trns.size() >= 2 ? static_cast<int32_t>(be16(c.trns.data())) : -1;
}

// Gray levels scaled to 8 bits; the raw sample equal to the key is clear.
void fill_gray_lookup(const Chunks &c, Lookup &lut) {
  const unsigned top = (1u << c.depth) - 1;
  const int32_t key = gray_key(c);
  for (unsigned s = 0; s < 256; ++s) {
    uint8_t *e = lut.rgba[s];
    const auto v = static_cast<uint8_t>(s <= top ? s * 255 / top : 0);
    e[0] = e[1] = e[2] = v;
    e[3] = static_cast<int32_t>(s) == key ? 0 : 255;
  }
}

template <unsigned Depth>
void convert_indexed_row(const uint8_t *src, uint8_t *dst, size_t width, const Lookup &lut) {
  if constexpr (Depth == 8) {
    for (size_t x = 0; x < width; ++x) std::memcpy(dst + 4 * x, lut.rgba[src[x]], 4);
  } else {
    constexpr unsigned kPerByte = 8 / Depth;
    constexpr unsigned kMask = (1u << Depth) - 1;
    size_t x = 0;
    for (; x + kPerByte <= width; x += kPerByte, ++src) {
      const unsigned b = *src;
      for (unsigned k = 0; k < kPerByte; ++k, dst += 4)
        std::memcpy(dst, lut.rgba[(b >> (8 - Depth * (k + 1))) & kMask], 4);
    }
    if (x < width) {
      const unsigned b = *src;
      for (unsigned k = 0; x < width; ++k, ++x, dst += 4)
        std::memcpy(dst, lut.rgba[(b >> (8 - Depth * (k + 1))) & kMask], 4);
    }
  }
}

void convert_gray16_row(const uint8_t *src, uint8_t *dst, size_t width, int32_t key) {
  for (size_t x = 0; x < width; ++x, src += 2, dst += 4) {
    dst[0] = dst[1] = dst[2] = src[0];
    dst[3] = static_cast<int32_t>(be16(src)) == key ? 0 : 255;
  }
}

// The RGB key of a tRNS chunk (three big-endian 16-bit values).
struct RgbKey {
  int32_t r = -1, g = -1, b = -1;
};

RgbKey rgb_key(const Chunks &c) {
  RgbKey k;
  if (c.has_trns && c.trns.size() >= 6) {
    k.r = static_cast<int32_t>(be16(&c.trns[0]));
    k.g = static_cast<int32_t>(be16(&c.trns[2]));
    k.b = static_cast<int32_t>(be16(&c.trns[4]));
  }
  return k;
}

void convert_rgb8_row(const uint8_t *src, uint8_t *dst, size_t width, RgbKey key) {
  for (size_t x = 0; x < width; ++x, src += 3, dst += 4) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
    const bool clear = src[0] == key.r && src[1] == key.g && src[2] == key.b;
    dst[3] = clear ? 0 : 255;
  }
}

void convert_rgb16_row(const uint8_t *src, uint8_t *dst, size_t width, RgbKey key) {
  for (size_t x = 0; x < width; ++x, src += 6, dst += 4) {
    dst[0] = src[0];
    dst[1] = src[2];
    dst[2] = src[4];
    const bool clear = static_cast<int32_t>(be16(src)) == key.r &&
                       static_cast<int32_t>(be16(src + 2)) == key.g &&
                       static_cast<int32_t>(be16(src + 4)) == key.b;
    dst[3] = clear ? 0 : 255;
  }
}

// Gray+alpha at 8 (Step 1) or 16 bits (Step 2): the high byte of each sample.
template <size_t Step>
void convert_gray_alpha_row(const uint8_t *src, uint8_t *dst, size_t width) {
  for (size_t x = 0; x < width; ++x, src += 2 * Step, dst += 4) {
    dst[0] = dst[1] = dst[2] = src[0];
    dst[3] = src[Step];
  }
}

void convert_rgba16_row(const uint8_t *src, uint8_t *dst, size_t width) {
  for (size_t x = 0; x < width; ++x, src += 8, dst += 4) {
    dst[0] = src[0];
    dst[1] = src[2];
    dst[2] = src[4];
    dst[3] = src[6];
  }
}

// Where converted rows go: the image's RGBA pixels, image_width wide, at
// the places of the pass; scratch holds one converted row of a pass whose
// pixels are spread apart.
struct Target {
  uint8_t *out;
  size_t image_width;
  Pass pass;
  uint8_t *scratch;
};

// Calls row(src, dst) for every row of the unfiltered raw buffer, then
// spreads the row's pixels to their places when the pass leaves gaps.
template <typename RowFn>
void for_each_row(const uint8_t *raw, const Target &t, const Layout &l, RowFn row) {
  const size_t stride = l.row_size + 1;
  const size_t out_stride = t.image_width * 4;
  for (size_t y = 0; y < l.height; ++y) {
    uint8_t *line = t.out + (t.pass.y0 + y * t.pass.dy) * out_stride;
    const uint8_t *src = raw + y * stride + 1;
    if (t.pass.dx == 1) {  // every pixel of the row, from its start
      row(src, line);
      continue;
    }
    row(src, t.scratch);
    for (size_t x = 0; x < l.width; ++x)
      std::memcpy(line + (t.pass.x0 + x * t.pass.dx) * 4, t.scratch + 4 * x, 4);
  }
}

void convert(const Chunks &c, const Layout &l, const uint8_t *raw, const Target &out) {
  const size_t w = l.width;
  if (c.color == kGray || c.color == kPalette) {
    if (c.depth == 16) {
      const int32_t key = gray_key(c);
      for_each_row(raw, out, l, [&](const uint8_t *s, uint8_t *d) { convert_gray16_row(s, d, w, key); });
      return;
    }
    Lookup lut;
    if (c.color == kGray) fill_gray_lookup(c, lut);
    else fill_palette_lookup(c, lut);
    switch (c.depth) {
      case 1:
        for_each_row(raw, out, l, [&](const uint8_t *s, uint8_t *d) { convert_indexed_row<1>(s, d, w, lut); });
        break;
      case 2:
        for_each_row(raw, out, l, [&](const uint8_t *s, uint8_t *d) { convert_indexed_row<2>(s, d, w, lut); });
        break;
      case 4:
        for_each_row(raw, out, l, [&](const uint8_t *s, uint8_t *d) { convert_indexed_row<4>(s, d, w, lut); });
        break;
      default:
        for_each_row(raw, out, l, [&](const uint8_t *s, uint8_t *d) { convert_indexed_row<8>(s, d, w, lut); });
        break;
    }
    return;
  }
  const bool wide = c.depth == 16;
  if (c.color == kRgb) {
    const RgbKey key = rgb_key(c);
    if (wide) for_each_row(raw, out, l, [&](const uint8_t *s, uint8_t *d) { convert_rgb16_row(s, d, w, key); });
    else for_each_row(raw, out, l, [&](const uint8_t *s, uint8_t *d) { convert_rgb8_row(s, d, w, key); });
  } else if (c.color == kGrayAlpha) {
    if (wide) for_each_row(raw, out, l, [&](const uint8_t *s, uint8_t *d) { convert_gray_alpha_row<2>(s, d, w); });
    else for_each_row(raw, out, l, [&](const uint8_t *s, uint8_t *d) { convert_gray_alpha_row<1>(s, d, w); });
  } else {  // RGBA
    if (wide) for_each_row(raw, out, l, [&](const uint8_t *s, uint8_t *d) { convert_rgba16_row(s, d, w); });
    else for_each_row(raw, out, l, [&](const uint8_t *s, uint8_t *d) { std::memcpy(d, s, 4 * w); });
  }
}

// --- the whole decoding ------------------------------------------------------

// A zlib header (RFC 1950) as PNG allows it: method 8 (DEFLATE) with a window
// of at most 32 KiB, a check value that makes the two bytes a multiple of 31,
// and no preset dictionary. Encoders choose smaller windows for small images
// (libpng does), so the first byte is not always 0x78.
bool good_zlib_header(uint8_t cmf, uint8_t flg) {
  const bool deflate = (cmf & 0x0F) == 8 && (cmf >> 4) <= 7;
  const bool checked = (unsigned{cmf} << 8 | flg) % 31 == 0;
  const bool no_dictionary = (flg & 0x20) == 0;
  return deflate && checked && no_dictionary;
}

struct FreeDeleter {
  void operator()(uint8_t *p) const noexcept { std::free(p); }
};

struct Decoded {
  std::unique_ptr<uint8_t, FreeDeleter> pixels;
  int width = 0;
  int height = 0;
  PngDensity density{};
};

// Returns the failure text, or nullptr with the image of the file's bytes in out.
const char *decode_bytes(std::span<const uint8_t> bytes, Decoded &out) {
  if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0) return kBadSignature;
  Chunks c;
  if (const char *e = walk_chunks(bytes, c)) return e;
  if (const char *e = check_header(c)) return e;
  const Pieces pieces = pieces_of(c);

  // The zlib stream: a 2-byte header, the DEFLATE data, a 4-byte Adler-32.
  std::unique_ptr<uint8_t[]> joined;
  std::span<const uint8_t> z = c.idat.front();
  if (c.idat.size() > 1) {
    joined.reset(new (std::nothrow) uint8_t[static_cast<size_t>(c.idat_size)]);
    if (!joined) return kOutOfMemory;
    size_t at = 0;
    for (const auto &part : c.idat) {
      if (!part.empty()) std::memcpy(joined.get() + at, part.data(), part.size());
      at += part.size();
    }
    z = std::span<const uint8_t>(joined.get(), static_cast<size_t>(c.idat_size));
  }
  if (z.size() <= 5 || !good_zlib_header(z[0], z[1])) return kBadZlibHeader;

  if (pieces.raw_size >= kMaxRawSize) return kTooLarge;
  // No DEFLATE stream of this length can produce the image: refuse before
  // allocating for it.
  if (pieces.raw_size > uint64_t{z.size()} * kMaxInflateRatio + kInflateSlack) return kInflateFailed;
  const auto raw_size = static_cast<size_t>(pieces.raw_size);
  std::unique_ptr<uint8_t[]> raw(new (std::nothrow) uint8_t[raw_size]);
  if (!raw) return kOutOfMemory;
  const int produced = tvl_inflate(z.data() + 2, z.size() - 6, raw.get(), raw_size);
  if (produced < 0 || static_cast<uint64_t>(produced) != pieces.raw_size) return kInflateFailed;
  if (flate::adler32_update(1, raw.get(), raw_size) != be32(z.data() + z.size() - 4))
    return kAdlerMismatch;

  const uint64_t out_size = uint64_t{c.width} * c.height * 4;  // at most 2^32
  if constexpr (sizeof(size_t) < sizeof(uint64_t)) {
    if (out_size > SIZE_MAX) return kOutOfMemory;
  }
  out.pixels.reset(static_cast<uint8_t *>(std::malloc(static_cast<size_t>(out_size))));
  if (!out.pixels) return kOutOfMemory;
  // One converted row of a pass, before its pixels are spread apart.
  std::unique_ptr<uint8_t[]> scratch;
  if (c.interlace != 0) {
    scratch.reset(new (std::nothrow) uint8_t[size_t{c.width} * 4]);
    if (!scratch) return kOutOfMemory;
  }
  for (size_t i = 0; i < pieces.count; ++i) {
    const Piece &piece = pieces.piece[i];
    uint8_t *stored = raw.get() + piece.offset;
    unfilter(stored, piece.layout);
    convert(c, piece.layout, stored, {out.pixels.get(), c.width, piece.pass, scratch.get()});
  }
  out.width = static_cast<int>(c.width);
  out.height = static_cast<int>(c.height);
  out.density = c.density;
  return nullptr;
}

// The same for the file at path.
const char *decode_file(const char *path, Decoded &out) {
  if (path == nullptr) return kCannotRead;
  const ReadResult file = read_whole_file(path);
  if (file.status == ReadStatus::empty) return kBadSignature;
  if (file.status != ReadStatus::ok) return kCannotRead;
  return decode_bytes({file.bytes.get(), static_cast<size_t>(file.size)}, out);
}

// Hands the decoded pixels of decode() to a C caller.
template <typename Decode>
unsigned char *decode_for_caller(Decode decode, int *width, int *height, PngDensity *density,
                                 const char **error) {
  if (width != nullptr) *width = 0;
  if (height != nullptr) *height = 0;
  if (density != nullptr) *density = PngDensity{};
  Decoded out;
  const char *failure = nullptr;
  try {
    failure = decode(out);
  } catch (...) {
    // Only allocations can throw here (the list of image data chunks).
    failure = kOutOfMemory;
  }
  if (failure != nullptr) {
    if (error != nullptr) *error = failure;
    return nullptr;
  }
  if (width != nullptr) *width = out.width;
  if (height != nullptr) *height = out.height;
  if (density != nullptr) *density = out.density;
  if (error != nullptr) *error = "";
  return out.pixels.release();
}

}  // namespace

extern "C" unsigned char *tvl_png_decode_density(const char *path, int *width, int *height,
                                                 PngDensity *density, const char **error) {
  return decode_for_caller([path](Decoded &out) { return decode_file(path, out); }, width, height,
                           density, error);
}

extern "C" unsigned char *tvl_png_decode_mem_density(const unsigned char *data, size_t size,
                                                     int *width, int *height, PngDensity *density,
                                                     const char **error) {
  const std::span<const uint8_t> bytes(data, data != nullptr ? size : 0);
  return decode_for_caller([bytes](Decoded &out) { return decode_bytes(bytes, out); }, width,
                           height, density, error);
}

extern "C" unsigned char *tvl_png_decode(const char *path, int *width, int *height,
                                         const char **error) {
  return tvl_png_decode_density(path, width, height, nullptr, error);
}

extern "C" unsigned char *tvl_png_decode_mem(const unsigned char *data, size_t size, int *width,
                                             int *height, const char **error) {
  return tvl_png_decode_mem_density(data, size, width, height, nullptr, error);
}
