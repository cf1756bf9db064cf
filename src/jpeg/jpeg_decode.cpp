// Decoding baseline (sequential, Huffman-coded, 8-bit) JPEG files to RGBA:
// the marker walk, the frame and table segments, the scans and their
// restart markers. Entropy decoding, the inverse DCT and the colour
// conversion are in jpeg_huffman.cpp, jpeg_idct.cpp and jpeg_colour.cpp.
//
// Every read is checked against the end of the data, whatever the segment
// lengths claim. The working state lives on the heap; failures are reported
// as constant texts, so no state is shared between calls.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "jpeg/jpeg.h"
#include "jpeg/jpeg_app_segments.h"
#include "jpeg/jpeg_decode_internal.h"

namespace {

using namespace jpegdec;

constexpr const char *kCannotRead = "jpeg: cannot read file";
constexpr const char *kNoScanData = "jpeg: no scan data";
constexpr const char *kCorruptStream = "jpeg: corrupt stream";
constexpr const char *kBadSegmentLength = "jpeg: bad segment length";
constexpr const char *kTruncatedSegment = "jpeg: truncated segment";
constexpr const char *kBadSof = "jpeg: bad SOF";
constexpr const char *kOnly8Bit = "jpeg: only 8-bit samples supported";
constexpr const char *kUnsupportedSof = "jpeg: unsupported SOF";
constexpr const char *kBadComponentSpec = "jpeg: bad component spec";
constexpr const char *kBadDht = "jpeg: bad DHT";
constexpr const char *kTruncatedDht = "jpeg: truncated DHT";
constexpr const char *kBadQuantId = "jpeg: bad quant table id";
constexpr const char *kTruncatedDqt = "jpeg: truncated DQT";
constexpr const char *kBadQuantValue = "jpeg: bad quant value";
constexpr const char *kBadSos = "jpeg: bad SOS";
constexpr const char *kBadSosCount = "jpeg: bad SOS count";
constexpr const char *kUnknownSosComponent = "jpeg: unknown SOS component";
constexpr const char *kMissingQuant = "jpeg: missing quant table";
constexpr const char *kMissingHuffman = "jpeg: missing Huffman table";
constexpr const char *kOutOfMemory = "jpeg: out of memory";
constexpr const char *kDecodeError = "jpeg: decode error in scan data";

// Largest picture decoded, in pixels.
constexpr uint64_t kMaxPixels = 200'000'000;

struct Component {
  int id = 0;
  int h = 1, v = 1;  // sampling factors, 1 to 15
  int tq = 0;        // quantisation table number, 0 to 3
  int32_t pred = 0;
  bool scanned = false;
  std::array<int32_t, 64> quant{};  // taken when the component's scan starts
  size_t plane_w = 0, plane_h = 0;  // whole MCUs of samples
  std::vector<uint8_t> plane;
};

struct Decoder {
  std::span<const uint8_t> data;
  std::array<std::array<int32_t, 64>, 4> quant{};
  std::array<bool, 4> quant_defined{};
  std::array<HuffTable, 4> dc, ac;

  bool have_frame = false;
  size_t width = 0, height = 0;
  int ncomp = 0;
  std::array<Component, 4> comps;

  unsigned restart_interval = 0;  // MCUs; 0 = none
  bool saw_jfif = false;
  bool saw_adobe = false;
  int adobe_transform = 0;

  bool planes_ready = false;
  int hmax = 1, vmax = 1;
  size_t mcus_across = 0, mcus_down = 0;
};

// One scan's components, in the order of the scan header.
struct Scan {
  int count = 0;
  std::array<int, 4> comp{};  // index into Decoder::comps
  std::array<int, 4> dc{}, ac{};
};

unsigned be16(std::span<const uint8_t> b, size_t at) {
  return static_cast<unsigned>(b[at] << 8 | b[at + 1]);
}

size_t ceil_div(size_t a, size_t b) { return (a + b - 1) / b; }

// Frame header (SOF0 baseline, or SOF1 extended sequential, which decodes
// the same way for 8-bit samples). A later frame header replaces an earlier
// one.
const char *read_frame(Decoder &d, std::span<const uint8_t> p) {
  if (p.size() <= 6) return kBadSof;
  if (p[0] != 8) return kOnly8Bit;
  const size_t height = be16(p, 1);
  const size_t width = be16(p, 3);
  const int count = p[5];
  if (count < 1 || count > 4 || width == 0 || height == 0 ||
      uint64_t{width} * uint64_t{height} > kMaxPixels)
    return kUnsupportedSof;
  if (p.size() < 6 + 3 * static_cast<size_t>(count)) return kBadSof;
  for (int i = 0; i < count; ++i) {
    const size_t at = 6 + 3 * static_cast<size_t>(i);
    Component &c = d.comps[static_cast<size_t>(i)];
    c = Component{};
    c.id = p[at];
    c.h = p[at + 1] >> 4;
    c.v = p[at + 1] & 15;
    c.tq = p[at + 2];
    if (c.h == 0 || c.v == 0 || c.tq > 3) return kBadComponentSpec;
  }
  d.width = width;
  d.height = height;
  d.ncomp = count;
  d.have_frame = true;
  return nullptr;
}

const char *read_huffman_tables(Decoder &d, std::span<const uint8_t> p) {
  size_t i = 0;
  while (i < p.size()) {
    const uint8_t t = p[i];
    if ((t & 0x0C) != 0 || (t >> 4) > 1) return kBadDht;
    if (p.size() - i < 17) return kTruncatedDht;
    const std::span<const uint8_t, 16> counts = p.subspan(i + 1).first<16>();
    size_t total = 0;
    for (uint8_t n : counts) total += n;
    if (p.size() - i - 17 < total) return kTruncatedDht;
    HuffTable &table = (t >> 4) == 0 ? d.dc[t & 3] : d.ac[t & 3];
    if (build_huffman_table(counts, p.subspan(i + 17, total), table) != HuffBuild::ok) {
      table.defined = false;
      return kBadDht;
    }
    i += 17 + total;
  }
  return nullptr;
}

const char *read_quant_tables(Decoder &d, std::span<const uint8_t> p) {
  size_t i = 0;
  while (i < p.size()) {
    const uint8_t t = p[i];
    if ((t & 0x0C) != 0) return kBadQuantId;
    const size_t number = t & 3;
    const bool wide = (t >> 4) != 0;
    const size_t need = wide ? 129 : 65;
    if (p.size() - i < need) return kTruncatedDqt;
    for (size_t k = 0; k < 64; ++k) {
      const unsigned q = wide ? be16(p, i + 1 + 2 * k) : p[i + 1 + k];
      if (q == 0 || q > 255) return kBadQuantValue;
      d.quant[number][ZZ[k]] = static_cast<int32_t>(q);
    }
    d.quant_defined[number] = true;
    i += need;
  }
  return nullptr;
}

const char *read_scan_header(Decoder &d, std::span<const uint8_t> p, Scan &scan) {
  if (p.empty()) return kBadSos;
  const int count = p[0];
  if (count == 0 || count > 4) return kBadSosCount;
  if (!d.have_frame) return kUnknownSosComponent;
  if (p.size() < 1 + 2 * static_cast<size_t>(count)) return kBadSos;
  scan.count = count;
  for (int j = 0; j < count; ++j) {
    const size_t at = 1 + 2 * static_cast<size_t>(j);
    int found = -1;
    for (int i = 0; i < d.ncomp; ++i)
      if (d.comps[static_cast<size_t>(i)].id == p[at]) {
        found = i;
        break;
      }
    if (found < 0) return kUnknownSosComponent;
    for (int k = 0; k < j; ++k)
      if (scan.comp[static_cast<size_t>(k)] == found) return kBadSos;
    const auto sj = static_cast<size_t>(j);
    scan.comp[sj] = found;
    scan.dc[sj] = p[at + 1] >> 4;
    scan.ac[sj] = p[at + 1] & 15;
    Component &c = d.comps[static_cast<size_t>(found)];
    if (!d.quant_defined[static_cast<size_t>(c.tq)]) return kMissingQuant;
    if (scan.dc[sj] > 3 || scan.ac[sj] > 3 || !d.dc[static_cast<size_t>(scan.dc[sj])].defined ||
        !d.ac[static_cast<size_t>(scan.ac[sj])].defined)
      return kMissingHuffman;
    c.quant = d.quant[static_cast<size_t>(c.tq)];
  }
  return nullptr;
}

// Blocks of a component in a scan of its own: its samples cover the picture
// scaled by its sampling factors, rounded up.
size_t own_blocks_across(const Decoder &d, const Component &c) {
  return ceil_div(ceil_div(d.width * static_cast<size_t>(c.h), static_cast<size_t>(d.hmax)), 8);
}
size_t own_blocks_down(const Decoder &d, const Component &c) {
  return ceil_div(ceil_div(d.height * static_cast<size_t>(c.v), static_cast<size_t>(d.vmax)), 8);
}

// Sets up the MCU grid and the sample planes at the first scan, whose
// entropy-coded data starts at data_start.
const char *prepare_planes(Decoder &d, size_t data_start) {
  d.hmax = 1;
  d.vmax = 1;
  for (int i = 0; i < d.ncomp; ++i) {
    d.hmax = std::max(d.hmax, d.comps[static_cast<size_t>(i)].h);
    d.vmax = std::max(d.vmax, d.comps[static_cast<size_t>(i)].v);
  }
  d.mcus_across = ceil_div(d.width, 8 * static_cast<size_t>(d.hmax));
  d.mcus_down = ceil_div(d.height, 8 * static_cast<size_t>(d.vmax));

  // Every block needs at least two bits (a DC and an AC code of one bit or
  // more). Data too short for that cannot fill the picture: refuse before
  // allocating planes for it.
  uint64_t blocks = 0;
  for (int i = 0; i < d.ncomp; ++i) {
    const Component &c = d.comps[static_cast<size_t>(i)];
    blocks += uint64_t{own_blocks_across(d, c)} * own_blocks_down(d, c);
  }
  if (d.data.size() - data_start < (blocks + 3) / 4) return kDecodeError;

  for (int i = 0; i < d.ncomp; ++i) {
    Component &c = d.comps[static_cast<size_t>(i)];
    c.plane_w = d.mcus_across * static_cast<size_t>(c.h) * 8;
    c.plane_h = d.mcus_down * static_cast<size_t>(c.v) * 8;
    // At most (65,535 + 120)^2 samples; blocks never decoded read as the
    // level-shifted zero, 128.
    c.plane.assign(c.plane_w * c.plane_h, uint8_t{128});
  }
  d.planes_ready = true;
  return nullptr;
}

struct ScanEnd {
  bool failed = false;
  size_t position = 0;  // first byte after the entropy-coded data consumed
};

void reset_predictors(Decoder &d, const Scan &scan) {
  for (int j = 0; j < scan.count; ++j)
    d.comps[static_cast<size_t>(scan.comp[static_cast<size_t>(j)])].pred = 0;
}

// Decodes the entropy-coded data of one scan, starting at start. A scan of
// several components is interleaved in MCUs of each component's h x v
// blocks; a scan of one component holds its blocks in raster order.
ScanEnd decode_scan(Decoder &d, const Scan &scan, size_t start) {
  BitReader br;
  br.data = d.data.data();
  br.size = d.data.size();
  reader_start(br, start);
  reset_predictors(d, scan);

  const bool interleaved = scan.count > 1;
  size_t across = d.mcus_across, down = d.mcus_down;
  if (!interleaved) {
    const Component &c = d.comps[static_cast<size_t>(scan.comp[0])];
    across = own_blocks_across(d, c);
    down = own_blocks_down(d, c);
  }
  const uint64_t total = uint64_t{across} * down;
  uint64_t done = 0;
  unsigned restarts_left = d.restart_interval;
  int32_t coef[64];

  for (size_t my = 0; my < down; ++my) {
    for (size_t mx = 0; mx < across; ++mx) {
      for (int j = 0; j < scan.count; ++j) {
        const auto sj = static_cast<size_t>(j);
        Component &c = d.comps[static_cast<size_t>(scan.comp[sj])];
        const HuffTable &dc = d.dc[static_cast<size_t>(scan.dc[sj])];
        const HuffTable &ac = d.ac[static_cast<size_t>(scan.ac[sj])];
        const int bh = interleaved ? c.h : 1;
        const int bv = interleaved ? c.v : 1;
        for (int by = 0; by < bv; ++by) {
          for (int bx = 0; bx < bh; ++bx) {
            unsigned used = 0;
            const BlockResult r = decode_block(br, dc, ac, c.pred, coef, used);
            if (r == BlockResult::failed_discarded) return {true, reader_position(br)};
            const size_t x0 = (mx * static_cast<size_t>(bh) + static_cast<size_t>(bx)) * 8;
            const size_t y0 = (my * static_cast<size_t>(bv) + static_cast<size_t>(by)) * 8;
            idct_block_to_plane(coef, used, c.quant.data(), c.plane.data(), c.plane_w,
                                c.plane_h, x0, y0);
            if (r == BlockResult::failed_stored) return {true, reader_position(br)};
          }
        }
      }
      ++done;
      // A restart marker follows every restart_interval MCUs, except after
      // the last one.
      if (d.restart_interval != 0 && done < total && --restarts_left == 0) {
        if (br.status != kStopNone) return {true, reader_position(br)};
        const size_t p = reader_position(br);
        if (p + 1 >= br.size || br.data[p] != 0xFF || br.data[p + 1] < 0xD0 ||
            br.data[p + 1] > 0xD7)
          return {true, p};
        reader_start(br, p + 2);
        reset_predictors(d, scan);
        restarts_left = d.restart_interval;
      }
    }
  }
  // Bits that the last value needed but the data did not hold.
  if (br.status != kStopNone) return {true, reader_position(br)};
  return {false, reader_position(br)};
}

bool all_scanned(const Decoder &d) {
  for (int i = 0; i < d.ncomp; ++i)
    if (!d.comps[static_cast<size_t>(i)].scanned) return false;
  return true;
}

bool at_end_of_image(std::span<const uint8_t> b, size_t p) {
  return p + 1 < b.size() && b[p] == 0xFF && b[p + 1] == 0xD9;
}

// How the components are colours, as libjpeg-compatible decoders read them:
// a JFIF segment means YCbCr; an Adobe segment's transform tells RGB from
// YCbCr and CMYK from YCCK; without either, three components named R, G, B
// are RGB.
ColourModel colour_model(const Decoder &d) {
  switch (d.ncomp) {
    case 1:
    case 2:  // no standard meaning: the first component as gray
      return ColourModel::gray;
    case 3:
      if (d.saw_jfif) return ColourModel::ycbcr;
      if (d.saw_adobe) return d.adobe_transform == 0 ? ColourModel::rgb : ColourModel::ycbcr;
      if (d.comps[0].id == 'R' && d.comps[1].id == 'G' && d.comps[2].id == 'B')
        return ColourModel::rgb;
      return ColourModel::ycbcr;
    default:
      if (!d.saw_adobe) return ColourModel::cmyk_plain;
      return d.adobe_transform == 0 ? ColourModel::cmyk_adobe : ColourModel::ycck_adobe;
  }
}

struct FreeBlock {
  void operator()(void *p) const noexcept { std::free(p); }
};
using Pixels = std::unique_ptr<uint8_t, FreeBlock>;

const char *produce_image(const Decoder &d, Pixels &out) {
  const uint64_t size = uint64_t{d.width} * d.height * 4;  // at most 800,000,000
  out.reset(static_cast<uint8_t *>(std::malloc(static_cast<size_t>(size))));
  if (!out) return kOutOfMemory;
  std::array<PlaneView, 4> planes{};
  for (int i = 0; i < d.ncomp; ++i) {
    const Component &c = d.comps[static_cast<size_t>(i)];
    planes[static_cast<size_t>(i)] = {c.plane.data(), c.plane_w, c.plane_h, c.h, c.v};
  }
  convert_to_rgba(std::span<const PlaneView>(planes.data(), static_cast<size_t>(d.ncomp)), d.hmax,
                  d.vmax, colour_model(d), d.width, d.height, out.get());
  return nullptr;
}

bool is_sequential_frame(uint8_t code) { return code == 0xC0 || code == 0xC1; }

// Progressive, lossless, hierarchical and arithmetic-coded frames.
bool is_other_frame(uint8_t code) {
  return code >= 0xC2 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// Walks the markers from offset 2 (the start-of-image marker is not
// examined), decoding each scan where its header ends, until every frame
// component has been decoded or an end-of-image marker follows a scan.
const char *decode(Decoder &d, Pixels &out) {
  const std::span<const uint8_t> b = d.data;
  const size_t n = b.size();
  if (n < 6) return kNoScanData;
  bool started = false;
  size_t pos = 2;
  for (;;) {
    if (started && at_end_of_image(b, pos)) break;
    if (n - pos < 4) return kNoScanData;
    if (b[pos] != 0xFF) return kCorruptStream;
    size_t m = pos;
    while (m + 1 < n && b[m + 1] == 0xFF) ++m;
    if (m + 1 >= n) return kNoScanData;
    const uint8_t code = b[m + 1];
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD9)) {
      pos = m + 2;
      continue;
    }
    if (code == 0x00) {
      // A stuffed zero is not a marker; the next step finds no 0xFF.
      pos = m + 1;
      continue;
    }
    if (n - m < 4) return kNoScanData;
    const size_t length = be16(b, m + 2);
    if (length < 2) return kBadSegmentLength;
    if (length > n - m - 2) return kTruncatedSegment;
    const std::span<const uint8_t> p = b.subspan(m + 4, length - 2);
    pos = m + 2 + length;

    const char *failure = nullptr;
    if (is_sequential_frame(code)) {
      // A frame header between the scans of a frame is corrupt.
      failure = started ? kBadSof : read_frame(d, p);
    } else if (is_other_frame(code)) {
      failure = kUnsupportedSof;
    } else if (code == 0xC4) {
      failure = read_huffman_tables(d, p);
    } else if (code == 0xDB) {
      failure = read_quant_tables(d, p);
    } else if (code == 0xDD) {
      if (p.size() < 2) return kBadSegmentLength;
      d.restart_interval = be16(p, 0);
    } else if (code == jpegapp::kJfifMarker) {
      if (jpegapp::read_jfif(p)) d.saw_jfif = true;
    } else if (code == jpegapp::kAdobeMarker) {
      if (const auto transform = jpegapp::read_adobe_transform(p)) {
        d.saw_adobe = true;
        d.adobe_transform = *transform;
      }
    } else if (code == 0xDA) {
      Scan scan;
      failure = read_scan_header(d, p, scan);
      if (failure == nullptr && !d.planes_ready) failure = prepare_planes(d, pos);
      if (failure != nullptr) return failure;
      const ScanEnd end = decode_scan(d, scan, pos);
      started = true;
      for (int j = 0; j < scan.count; ++j)
        d.comps[static_cast<size_t>(scan.comp[static_cast<size_t>(j)])].scanned = true;
      if (end.failed) {
        // Data that stops early at the end-of-image marker still gives the
        // picture, with the blocks not reached left flat.
        if (!at_end_of_image(b, end.position)) return kDecodeError;
        break;
      }
      if (all_scanned(d)) break;
      pos = end.position;
    }
    if (failure != nullptr) return failure;
  }
  return produce_image(d, out);
}

}  // namespace

extern "C" unsigned char *tvl_jpeg_decode_impl(const unsigned char *data, uint64_t size,
                                               int *width, int *height, const char **message) {
  if (width != nullptr) *width = 0;
  if (height != nullptr) *height = 0;
  if (data == nullptr) size = 0;
  const char *failure = nullptr;
  Pixels out;
  int w = 0, h = 0;
  try {
    bool too_large = false;
    if constexpr (sizeof(size_t) < sizeof(uint64_t)) too_large = size > SIZE_MAX;
    if (too_large) {
      failure = kOutOfMemory;
    } else {
      auto d = std::make_unique<Decoder>();
      d->data = std::span<const uint8_t>(data, static_cast<size_t>(size));
      failure = decode(*d, out);
      w = static_cast<int>(d->width);
      h = static_cast<int>(d->height);
    }
  } catch (...) {
    // Only allocations throw here.
    failure = kOutOfMemory;
  }
  if (failure != nullptr) {
    if (message != nullptr) *message = failure;
    return nullptr;
  }
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
  if (message != nullptr) *message = "";
  return out.release();
}

extern "C" unsigned char *tvl_jpeg_decode(const char *path, int *width, int *height,
                                          const char **message) {
  if (width != nullptr) *width = 0;
  if (height != nullptr) *height = 0;
  JpegFileSpan file{};
  if (!jpg_read_file(path, &file)) {
    if (message != nullptr) *message = kCannotRead;
    return nullptr;
  }
  unsigned char *pixels = tvl_jpeg_decode_impl(file.data, file.size, width, height, message);
  std::free(file.data);
  return pixels;
}
