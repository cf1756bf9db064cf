#include "support/jpeg_maker.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>

namespace testjpeg {
namespace {

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to the setjmp of the call in progress. The functions that
// call setjmp hold no objects with destructors across the jump.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  int frame_code;
};

void on_error(j_common_ptr cinfo) {
  auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings are counted as libjpeg does; the trace message of the frame
// header tells which marker code libjpeg took the frame from.
void on_message(j_common_ptr cinfo, int level) {
  auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
  if (level < 0) {
    ++cinfo->err->num_warnings;
    return;
  }
  if (cinfo->err->msg_code == JTRC_SOF && err->frame_code < 0)
    err->frame_code = cinfo->err->msg_parm.i[0];
}

void init_errors(ErrorManager &err) {
  jpeg_std_error(&err.base);
  err.base.error_exit = on_error;
  err.base.emit_message = on_message;
  err.base.trace_level = 1;
  err.message[0] = '\0';
  err.frame_code = -1;
}

// Returns one sample of the generated picture: smooth ramps, so that every
// component varies.
JSAMPLE sample_at(int x, int y, int c) {
  return static_cast<JSAMPLE>((x * 7 + y * 3 + c * 61) & 0xFF);
}

// Compresses rows (height rows of row_size bytes each) and returns the
// malloc'ed output through out; false with err.message on failure.
bool compress(const MakeOptions &o, int components, const JSAMPLE *pixels, unsigned char **out,
              unsigned long *out_size, ErrorManager &err) {
  jpeg_compress_struct cinfo;
  init_errors(err);
  cinfo.err = &err.base;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, out_size);
  cinfo.image_width = static_cast<JDIMENSION>(o.width);
  cinfo.image_height = static_cast<JDIMENSION>(o.height);
  cinfo.input_components = components;
  cinfo.in_color_space = o.colour == Colour::gray  ? JCS_GRAYSCALE
                         : o.colour == Colour::rgb ? JCS_RGB
                                                   : JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  if (o.store_rgb && o.colour == Colour::rgb) jpeg_set_colorspace(&cinfo, JCS_RGB);
  if (o.store_ycck && o.colour == Colour::cmyk) jpeg_set_colorspace(&cinfo, JCS_YCCK);
  if (!o.adobe_marker) cinfo.write_Adobe_marker = FALSE;
  if (o.density_unit >= 0) {
    cinfo.density_unit = static_cast<UINT8>(o.density_unit);
    cinfo.X_density = static_cast<UINT16>(o.x_density);
    cinfo.Y_density = static_cast<UINT16>(o.y_density);
  }
  jpeg_set_quality(&cinfo, o.quality, TRUE);
  cinfo.restart_interval = o.restart_interval;
  if (o.luma_h > 0 && o.luma_v > 0 && cinfo.num_components > 1) {
    cinfo.comp_info[0].h_samp_factor = o.luma_h;
    cinfo.comp_info[0].v_samp_factor = o.luma_v;
  }
  if (o.second_h > 0 && o.second_v > 0 && cinfo.num_components > 1) {
    cinfo.comp_info[1].h_samp_factor = o.second_h;
    cinfo.comp_info[1].v_samp_factor = o.second_v;
  }
  cinfo.optimize_coding = o.optimize_coding ? TRUE : FALSE;
  if (o.progressive) jpeg_simple_progression(&cinfo);
  jpeg_scan_info scans[MAX_COMPONENTS];
  if (o.separate_scans && !o.progressive) {
    for (int i = 0; i < cinfo.num_components; ++i) {
      scans[i] = jpeg_scan_info{};
      scans[i].comps_in_scan = 1;
      scans[i].component_index[0] = i;
      scans[i].Se = 63;
    }
    cinfo.scan_info = scans;
    cinfo.num_scans = cinfo.num_components;
  }
  jpeg_start_compress(&cinfo, TRUE);
  const size_t row_size = static_cast<size_t>(o.width) * static_cast<size_t>(components);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPLE *>(pixels + cinfo.next_scanline * row_size);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

bool decode(std::span<const uint8_t> bytes, const DecodeOptions &o, LibjpegPixels &p,
            ErrorManager &err) {
  jpeg_decompress_struct cinfo;
  init_errors(err);
  cinfo.err = &err.base;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = cinfo.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  if (o.keep_cmyk && cinfo.num_components == 4) cinfo.out_color_space = JCS_CMYK;
  cinfo.do_fancy_upsampling = o.fancy_upsampling ? TRUE : FALSE;
  if (o.float_dct) cinfo.dct_method = JDCT_FLOAT;
  jpeg_start_decompress(&cinfo);
  p.width = static_cast<int>(cinfo.output_width);
  p.height = static_cast<int>(cinfo.output_height);
  p.components = cinfo.output_components;
  const size_t row_size = static_cast<size_t>(p.width) * static_cast<size_t>(p.components);
  p.pixels.resize(row_size * static_cast<size_t>(p.height));
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = p.pixels.data() + cinfo.output_scanline * row_size;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  p.warnings = static_cast<int>(cinfo.err->num_warnings);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

bool read_header(std::span<const uint8_t> bytes, LibjpegHeader &h, ErrorManager &err) {
  jpeg_decompress_struct cinfo;
  init_errors(err);
  cinfo.err = &err.base;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  const int status = jpeg_read_header(&cinfo, TRUE);
  if (status == JPEG_HEADER_OK) {
    h.width = static_cast<int>(cinfo.image_width);
    h.height = static_cast<int>(cinfo.image_height);
    h.components = cinfo.num_components;
    h.adobe = cinfo.saw_Adobe_marker != 0;
    if (h.adobe) h.adobe_transform = cinfo.Adobe_transform;
    h.jfif = cinfo.saw_JFIF_marker != 0;
    if (h.jfif) {
      h.density_unit = cinfo.density_unit;
      h.x_density = cinfo.X_density;
      h.y_density = cinfo.Y_density;
    }
  }
  jpeg_destroy_decompress(&cinfo);
  return status == JPEG_HEADER_OK;
}

bool read_coefficients(std::span<const uint8_t> bytes, LibjpegCoefficients &out,
                       ErrorManager &err) {
  jpeg_decompress_struct cinfo;
  init_errors(err);
  cinfo.err = &err.base;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  jvirt_barray_ptr *arrays = jpeg_read_coefficients(&cinfo);
  if (cinfo.num_components != 3) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  out.blocks_wide = static_cast<int>(cinfo.comp_info[0].width_in_blocks);
  out.blocks_high = static_cast<int>(cinfo.comp_info[0].height_in_blocks);
  for (int ci = 0; ci < 3; ++ci) {
    const jpeg_component_info &comp = cinfo.comp_info[ci];
    for (JDIMENSION row = 0; row < comp.height_in_blocks; ++row) {
      JBLOCKARRAY line = (*cinfo.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                          arrays[ci], row, 1, FALSE);
      for (JDIMENSION col = 0; col < comp.width_in_blocks; ++col) {
        std::array<int, 64> b{};
        for (size_t k = 0; k < 64; ++k) b[k] = line[0][col][k];
        out.comp[static_cast<size_t>(ci)].push_back(b);
      }
    }
  }
  jpeg_finish_decompress(&cinfo);
  out.warnings = cinfo.err->num_warnings;
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

LibjpegCoefficients read_coefficients_with_libjpeg(std::span<const uint8_t> bytes) {
  LibjpegCoefficients c;
  ErrorManager err;
  c.ok = read_coefficients(bytes, c, err);
  if (!c.ok) c.message = err.message;
  return c;
}

std::vector<uint8_t> make_jpeg(const MakeOptions &o) {
  const int components = o.colour == Colour::gray ? 1 : o.colour == Colour::rgb ? 3 : 4;
  std::vector<JSAMPLE> pixels(static_cast<size_t>(o.width) * static_cast<size_t>(o.height) *
                              static_cast<size_t>(components));
  size_t i = 0;
  if (!o.pixels.empty()) {
    if (o.pixels.size() != pixels.size()) throw std::runtime_error("make_jpeg: wrong pixel count");
    pixels.assign(o.pixels.begin(), o.pixels.end());
  }
  for (int y = 0; y < o.height && o.pixels.empty(); ++y)
    for (int x = 0; x < o.width; ++x)
      for (int c = 0; c < components; ++c)
        pixels[i++] = o.fill[0] < 0 ? sample_at(x, y, c)
                      : c < 3       ? static_cast<JSAMPLE>(o.fill[static_cast<size_t>(c)])
                                    : JSAMPLE{0};
  unsigned char *out = nullptr;
  unsigned long out_size = 0;
  ErrorManager err;
  const bool ok = compress(o, components, pixels.data(), &out, &out_size, err);
  std::vector<uint8_t> file;
  if (ok && out != nullptr) file.assign(out, out + out_size);
  std::free(out);
  if (!ok) throw std::runtime_error(std::string("libjpeg-turbo: ") + err.message);
  return file;
}

LibjpegHeader read_header_with_libjpeg(std::span<const uint8_t> bytes) {
  LibjpegHeader h;
  ErrorManager err;
  h.read = read_header(bytes, h, err);
  h.frame_code = err.frame_code;
  if (!h.read) h.message = err.message;
  return h;
}

LibjpegPixels decode_with_libjpeg(std::span<const uint8_t> bytes, const DecodeOptions &options) {
  LibjpegPixels p;
  ErrorManager err;
  p.ok = decode(bytes, options, p, err);
  if (!p.ok) {
    p.message = err.message;
    p.pixels.clear();
  }
  return p;
}

}  // namespace testjpeg
