#include "support/png_maker.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace testpng {

size_t Image::channels() const {
  switch (color_type) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
  }
}

size_t Image::row_bytes() const {
  return (size_t{width} * channels() * static_cast<size_t>(bit_depth) + 7) / 8;
}

namespace {

// libpng reports errors through a callback that must not return; it jumps
// back to the setjmp in the function that made the libpng calls. Those
// functions keep only trivially destructible locals, so the jump skips no
// destructor.
struct ErrorSink {
  char message[256] = {};
};

[[noreturn]] void on_error(png_structp png, png_const_charp message) {
  auto *sink = static_cast<ErrorSink *>(png_get_error_ptr(png));
  std::snprintf(sink->message, sizeof sink->message, "%s", message);
  png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

void on_write(png_structp png, png_bytep data, png_size_t length) {
  auto *out = static_cast<Bytes *>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void on_flush(png_structp) {}

bool write_rows(png_structp png, png_infop info, const Image &image, const WriteOptions &options,
                png_bytep *row_pointers, const png_color *palette, const png_byte *trans_alpha,
                const png_color_16 *trans_color) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, image.width, image.height, image.bit_depth, image.color_type,
               options.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!image.palette.empty())
    png_set_PLTE(png, info, palette, static_cast<int>(image.palette.size() / 3));
  if (image.trns) {
    const int count = image.color_type == 3 ? static_cast<int>(image.trns->size()) : 1;
    png_set_tRNS(png, info, trans_alpha, count, trans_color);
  }
  if (options.density)
    png_set_pHYs(png, info, options.density->x, options.density->y, options.density->unit);
  if (options.filters >= 0) png_set_filter(png, PNG_FILTER_TYPE_BASE, options.filters);
  png_set_compression_buffer_size(png, options.idat_size);
  png_set_compression_level(png, options.level);
  png_write_info(png, info);
  png_write_image(png, row_pointers);
  png_write_end(png, info);
  return true;
}

uint16_t be16(const Bytes &b, size_t at) {
  return static_cast<uint16_t>(b.size() >= at + 2 ? b[at] << 8 | b[at + 1] : 0);
}

struct Source {
  const Bytes *file;
  size_t pos;
};

void on_read(png_structp png, png_bytep data, png_size_t length) {
  auto *src = static_cast<Source *>(png_get_io_ptr(png));
  if (src->file->size() - src->pos < length) png_error(png, "read past the end of the file");
  std::memcpy(data, src->file->data() + src->pos, length);
  src->pos += length;
}

// Reads the header; returns false after a libpng error.
bool read_header(png_structp png, png_infop info, bool ignore_crc, Rgba &result,
                 size_t *row_bytes) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_benign_errors(png, 1);
  if (ignore_crc) png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
  png_read_info(png, info);
  png_uint_32 x = 0, y = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &x, &y, &unit) != 0) result.density = Density{x, y, unit};
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
  if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE) png_set_interlace_handling(png);
  png_read_update_info(png, info);
  result.width = png_get_image_width(png, info);
  result.height = png_get_image_height(png, info);
  *row_bytes = png_get_rowbytes(png, info);
  return true;
}

bool read_pixels(png_structp png, png_bytep *row_pointers) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, row_pointers);
  return true;
}

}  // namespace

Bytes write_with_libpng(const Image &image, const WriteOptions &options) {
  if (image.rows.size() != image.row_bytes() * image.height)
    throw std::runtime_error("image rows have the wrong size");
  std::vector<png_color> palette;
  for (size_t i = 0; i + 2 < image.palette.size(); i += 3)
    palette.push_back(png_color{image.palette[i], image.palette[i + 1], image.palette[i + 2]});
  png_color_16 key{};
  if (image.trns) {
    key.gray = be16(*image.trns, 0);
    key.red = be16(*image.trns, 0);
    key.green = be16(*image.trns, 2);
    key.blue = be16(*image.trns, 4);
  }
  std::vector<png_bytep> row_pointers;
  for (uint32_t y = 0; y < image.height; ++y)
    row_pointers.push_back(const_cast<png_bytep>(image.rows.data() + y * image.row_bytes()));

  Bytes out;
  ErrorSink sink;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, on_error, on_warning);
  if (png == nullptr) throw std::runtime_error("png_create_write_struct failed");
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, on_write, on_flush);
  const bool ok = info != nullptr &&
                  write_rows(png, info, image, options, row_pointers.data(), palette.data(),
                             image.trns && image.color_type == 3 ? image.trns->data() : nullptr,
                             image.color_type == 3 ? nullptr : &key);
  png_destroy_write_struct(&png, &info);
  if (!ok) throw std::runtime_error(std::string("libpng: ") + sink.message);
  return out;
}

Rgba read_with_libpng(const Bytes &file, bool ignore_crc) {
  Rgba result;
  ErrorSink sink;
  Source src{&file, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &sink, on_error, on_warning);
  if (png == nullptr) {
    result.error = "png_create_read_struct failed";
    return result;
  }
  png_infop info = png_create_info_struct(png);
  png_set_read_fn(png, &src, on_read);
  size_t row_bytes = 0;
  bool ok = info != nullptr &&
            read_header(png, info, ignore_crc, result, &row_bytes);
  if (ok && row_bytes != size_t{result.width} * 4) {
    std::snprintf(sink.message, sizeof sink.message, "rows of %zu bytes, not RGBA", row_bytes);
    ok = false;
  }
  if (ok) {
    result.pixels.resize(size_t{result.width} * result.height * 4);
    std::vector<png_bytep> rows;
    for (uint32_t y = 0; y < result.height; ++y) rows.push_back(result.pixels.data() + y * row_bytes);
    ok = read_pixels(png, rows.data());
  }
  png_destroy_read_struct(&png, &info, nullptr);
  result.ok = ok;
  if (!ok) {
    result.error = sink.message;
    result.pixels.clear();
  }
  return result;
}

Bytes chunk_bytes(const Chunk &chunk) {
  const uint32_t length = chunk.length.value_or(static_cast<uint32_t>(chunk.data.size()));
  Bytes out(12 + chunk.data.size());
  auto put32 = [&out](size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  };
  put32(0, length);
  for (size_t i = 0; i < 4; ++i) out[4 + i] = i < chunk.type.size() ? static_cast<uint8_t>(chunk.type[i]) : 0;
  if (!chunk.data.empty()) std::memcpy(out.data() + 8, chunk.data.data(), chunk.data.size());
  uLong crc = crc32(0, out.data() + 4, static_cast<uInt>(4 + chunk.data.size()));
  if (chunk.bad_crc) crc ^= 0x5A5A5A5Au;
  put32(8 + chunk.data.size(), static_cast<uint32_t>(crc));
  return out;
}

Bytes png_file(const std::vector<Chunk> &chunks) {
  Bytes out(std::begin(kSignature), std::end(kSignature));
  for (const Chunk &c : chunks) {
    const Bytes b = chunk_bytes(c);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

Bytes ihdr_data(uint32_t width, uint32_t height, uint8_t depth, uint8_t color, uint8_t interlace) {
  Bytes d;
  for (uint32_t v : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8) d.push_back(static_cast<uint8_t>(v >> shift));
  d.insert(d.end(), {depth, color, 0, 0, interlace});
  return d;
}

Bytes zlib_compress(const Bytes &data, int level, int window_bits) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  // Room beyond the bound: zlib 1.2 underestimates it for small windows.
  Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 1024);
  z.next_in = const_cast<Bytef *>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

std::vector<ChunkAt> list_chunks(const Bytes &file) {
  std::vector<ChunkAt> chunks;
  size_t pos = 8;
  while (file.size() >= pos + 12) {
    ChunkAt c;
    c.offset = pos;
    c.length = static_cast<uint32_t>(file[pos]) << 24 | static_cast<uint32_t>(file[pos + 1]) << 16 |
               static_cast<uint32_t>(file[pos + 2]) << 8 | file[pos + 3];
    c.type.assign(reinterpret_cast<const char *>(&file[pos + 4]), 4);
    if (file.size() - pos - 12 < c.length) break;
    chunks.push_back(c);
    pos += 12 + size_t{c.length};
  }
  return chunks;
}

}  // namespace testpng
