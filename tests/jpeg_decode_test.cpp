// The baseline JPEG decoder, judged by libjpeg-turbo: files it makes at test
// time decode to pixels close to its own decoding (repeated chroma samples,
// float IDCT); crafted and patched files reach every failure; truncated and
// mutated files never crash; the corpus decodes as libjpeg-turbo reads it.
#include <gtest/gtest.h>

#include "support/failing_allocator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "jpeg/jpeg.h"
#include "support/jpeg_maker.h"



namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testjpeg::Colour;
using testjpeg::MakeOptions;

constexpr const char *kDecodeError = "jpeg: decode error in scan data";
constexpr const char *kNoScanData = "jpeg: no scan data";
constexpr const char *kTruncatedSegment = "jpeg: truncated segment";
constexpr const char *kUnsupportedSof = "jpeg: unsupported SOF";

// --- running the decoder ------------------------------------------------------

struct Decoded {
  bool ok = false;
  int width = -1, height = -1;
  std::string message;
  Bytes rgba;
};

Decoded decode(std::span<const uint8_t> bytes) {
  Decoded d;
  const char *message = nullptr;
  unsigned char *p = tvl_jpeg_decode_impl(bytes.data(), bytes.size(), &d.width, &d.height,
                                          &message);
  d.ok = p != nullptr;
  d.message = message != nullptr ? message : "(no message)";
  if (p != nullptr) {
    d.rgba.assign(p, p + static_cast<size_t>(d.width) * static_cast<size_t>(d.height) * 4);
    std::free(p);
  }
  return d;
}

// libjpeg-turbo with the same upsampling (repeated samples) and a float IDCT.
testjpeg::LibjpegPixels reference(std::span<const uint8_t> bytes, bool keep_cmyk = false) {
  return testjpeg::decode_with_libjpeg(bytes, {.fancy_upsampling = false, .float_dct = true,
                                               .keep_cmyk = keep_cmyk});
}

// --- pictures -------------------------------------------------------------------

// A deterministic picture that behaves like a photograph for the codec:
// smooth gradients, a few sharp-edged shapes and a little noise.
Bytes natural_picture(int w, int h, int components, uint32_t seed) {
  Bytes px(static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(components));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-6, 6);
  const double pi = 3.14159265358979;
  size_t i = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double fx = w > 1 ? x / double(w - 1) : 0.0;
      const double fy = h > 1 ? y / double(h - 1) : 0.0;
      const bool in_box = fx > 0.2 && fx < 0.55 && fy > 0.3 && fy < 0.7;
      const double dx = fx - 0.7, dy = fy - 0.4;
      const bool in_disc = dx * dx + dy * dy < 0.04;
      for (int c = 0; c < components; ++c) {
        double v = 128 + 80 * std::sin(2 * pi * (fx * (0.8 + 0.3 * c) + fy * (0.5 + 0.2 * c)) + c);
        v += 30 * std::cos(2 * pi * fy * 1.7 + c * 0.5);
        if (in_box) v += c == 1 ? -70 : 60;
        if (in_disc) v -= c == 2 ? -55 : 45;
        v += noise(rng);
        px[i++] = static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(v)), 0, 255));
      }
    }
  }
  return px;
}

Bytes make(MakeOptions o, uint32_t seed = 1) {
  const int components = o.colour == Colour::gray ? 1 : o.colour == Colour::rgb ? 3 : 4;
  o.pixels = natural_picture(o.width, o.height, components, seed);
  return testjpeg::make_jpeg(o);
}

// --- comparing ---------------------------------------------------------------------

struct Difference {
  double psnr = 0;
  int max_abs = 0;
};

// Our RGB channels against libjpeg-turbo's samples (one per pixel for gray,
// three otherwise).
Difference difference(const Decoded &ours, const Bytes &ref, int ref_components) {
  double sum = 0;
  int max_abs = 0;
  size_t n = 0;
  const size_t pixels = ours.rgba.size() / 4;
  for (size_t p = 0; p < pixels; ++p) {
    for (size_t c = 0; c < 3; ++c) {
      const int want = ref[p * static_cast<size_t>(ref_components) +
                           (ref_components == 1 ? 0 : c)];
      const int d = ours.rgba[p * 4 + c] - want;
      sum += double(d) * d;
      max_abs = std::max(max_abs, std::abs(d));
      ++n;
    }
  }
  const double mse = n ? sum / double(n) : 0;
  return {mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse), max_abs};
}

bool alpha_opaque(const Decoded &d) {
  for (size_t i = 3; i < d.rgba.size(); i += 4)
    if (d.rgba[i] != 255) return false;
  return true;
}

// --- crafted files -------------------------------------------------------------------

void put16(Bytes &b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}

Bytes segment(uint8_t code, const Bytes &payload) {
  Bytes b = {0xFF, code};
  put16(b, static_cast<unsigned>(payload.size() + 2));
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

struct FrameComp {
  uint8_t id, hv, tq;
};

Bytes sof(uint8_t code, unsigned w, unsigned h, const std::vector<FrameComp> &comps,
          uint8_t precision = 8) {
  Bytes p = {precision};
  put16(p, h);
  put16(p, w);
  p.push_back(static_cast<uint8_t>(comps.size()));
  for (const FrameComp &c : comps) p.insert(p.end(), {c.id, c.hv, c.tq});
  return segment(code, p);
}

Bytes dqt(uint8_t id, uint8_t value) {
  Bytes p(65, value);  // the table number, then 64 entries
  p[0] = id;
  return segment(0xDB, p);
}

// One table: class (0 DC, 1 AC) and number in tc_th, then counts and symbols.
Bytes dht_payload(uint8_t tc_th, const std::array<uint8_t, 16> &counts, const Bytes &symbols) {
  Bytes p = {tc_th};
  p.insert(p.end(), counts.begin(), counts.end());
  p.insert(p.end(), symbols.begin(), symbols.end());
  return p;
}

// DC and AC tables 0 with a single one-bit code each, for symbol 0: one
// block is then the two bits 0 0 (DC difference 0, end of block).
Bytes one_bit_tables() {
  std::array<uint8_t, 16> counts{};
  counts[0] = 1;
  Bytes p = dht_payload(0x00, counts, {0});
  const Bytes ac = dht_payload(0x10, counts, {0});
  p.insert(p.end(), ac.begin(), ac.end());
  return segment(0xC4, p);
}

struct ScanComp {
  uint8_t id, tables;
};

Bytes sos(const std::vector<ScanComp> &comps) {
  Bytes p = {static_cast<uint8_t>(comps.size())};
  for (const ScanComp &c : comps) p.insert(p.end(), {c.id, c.tables});
  p.insert(p.end(), {0, 63, 0});
  return segment(0xDA, p);
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes &p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

const Bytes kSoi = {0xFF, 0xD8};
const Bytes kEoi = {0xFF, 0xD9};

// An 8 x 8 gray file whose single block has only a DC difference of 0
// (scan data 0 0 and padding ones).
Bytes flat_gray_file() {
  return join({kSoi, dqt(0, 1), sof(0xC0, 8, 8, {{1, 0x11, 0}}), one_bit_tables(),
               sos({{1, 0x00}}), Bytes{0x3F}, kEoi});
}

// The offset of the first segment with the given marker code in a file made
// by libjpeg-turbo (segments follow each other without fill bytes).
size_t find_segment(const Bytes &b, uint8_t code) {
  size_t pos = 2;
  while (pos + 4 <= b.size() && b[pos] == 0xFF) {
    if (b[pos + 1] == code) return pos;
    pos += 2 + (size_t{b[pos + 2]} << 8 | b[pos + 3]);
  }
  ADD_FAILURE() << "no segment " << int(code);
  return 0;
}

Bytes read_file(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ===================================================================================
// Agreement with libjpeg-turbo

struct OracleCase {
  const char *name;
  MakeOptions options;
  double min_psnr;  // dB
  int max_abs;      // largest difference of one channel
};

// RGB output differs from libjpeg-turbo in two roundings: it rounds the
// colour conversion (ours truncates toward zero) and its float IDCT is
// single precision. Gray output differs only in the IDCT.
const OracleCase kOracleCases[] = {
    {"gray", {.width = 64, .height = 48, .colour = Colour::gray}, 50, 1},
    {"444", {.width = 64, .height = 48, .luma_h = 1, .luma_v = 1}, 45, 2},
    {"422", {.width = 64, .height = 48, .luma_h = 2, .luma_v = 1}, 45, 2},
    {"420", {.width = 64, .height = 48, .luma_h = 2, .luma_v = 2}, 45, 2},
    {"440", {.width = 64, .height = 48, .luma_h = 1, .luma_v = 2}, 45, 2},
    {"411", {.width = 64, .height = 48, .luma_h = 4, .luma_v = 1}, 45, 2},
    {"420_restart_1", {.width = 80, .height = 40, .restart_interval = 1, .luma_h = 2, .luma_v = 2},
     45, 2},
    {"420_restart_3", {.width = 80, .height = 40, .restart_interval = 3, .luma_h = 2, .luma_v = 2},
     45, 2},
    {"444_restart_7", {.width = 72, .height = 40, .restart_interval = 7, .luma_h = 1, .luma_v = 1},
     45, 2},
    {"gray_restart_2", {.width = 40, .height = 24, .colour = Colour::gray, .restart_interval = 2},
     50, 1},
    // 2 x 1 MCUs, one restart interval each: none follows the last MCU.
    {"420_restart_divides", {.width = 32, .height = 16, .restart_interval = 1, .luma_h = 2,
                             .luma_v = 2},
     45, 2},
    {"420_1x1", {.width = 1, .height = 1, .luma_h = 2, .luma_v = 2}, 45, 2},
    {"444_1x1", {.width = 1, .height = 1, .luma_h = 1, .luma_v = 1}, 45, 2},
    {"gray_1x1", {.width = 1, .height = 1, .colour = Colour::gray}, 50, 1},
    {"420_17x9", {.width = 17, .height = 9, .luma_h = 2, .luma_v = 2}, 45, 2},
    {"422_17x9", {.width = 17, .height = 9, .luma_h = 2, .luma_v = 1}, 45, 2},
    {"420_33x31", {.width = 33, .height = 31, .luma_h = 2, .luma_v = 2}, 45, 2},
    {"444_33x31", {.width = 33, .height = 31, .luma_h = 1, .luma_v = 1}, 45, 2},
    {"gray_33x31", {.width = 33, .height = 31, .colour = Colour::gray}, 50, 1},
    {"420_1000x3", {.width = 1000, .height = 3, .luma_h = 2, .luma_v = 2}, 45, 2},
    {"444_3x1000", {.width = 3, .height = 1000, .luma_h = 1, .luma_v = 1}, 45, 2},
    {"420_optimized", {.width = 64, .height = 48, .luma_h = 2, .luma_v = 2,
                       .optimize_coding = true},
     45, 2},
    {"gray_optimized", {.width = 64, .height = 48, .colour = Colour::gray,
                        .optimize_coding = true},
     50, 1},
    {"444_separate_scans", {.width = 41, .height = 27, .luma_h = 1, .luma_v = 1,
                            .separate_scans = true},
     45, 2},
    {"420_separate_scans", {.width = 41, .height = 27, .restart_interval = 2, .luma_h = 2,
                            .luma_v = 2, .separate_scans = true},
     45, 2},
    {"rgb_stored", {.width = 40, .height = 24, .luma_h = 1, .luma_v = 1, .store_rgb = true}, 50,
     1},
};

class OracleTest : public ::testing::TestWithParam<OracleCase> {};

TEST_P(OracleTest, MatchesLibjpeg) {
  const OracleCase &c = GetParam();
  const Bytes file = make(c.options);
  const Decoded ours = decode(file);
  const auto ref = reference(file);
  ASSERT_TRUE(ref.ok) << ref.message;
  ASSERT_TRUE(ours.ok) << ours.message;
  EXPECT_EQ(ours.message, "");
  ASSERT_EQ(ours.width, ref.width);
  ASSERT_EQ(ours.height, ref.height);
  EXPECT_TRUE(alpha_opaque(ours));
  if (c.options.colour == Colour::gray) {
    for (size_t i = 0; i < ours.rgba.size(); i += 4) {
      ASSERT_EQ(ours.rgba[i], ours.rgba[i + 1]);
      ASSERT_EQ(ours.rgba[i], ours.rgba[i + 2]);
    }
  }
  const Difference d = difference(ours, ref.pixels, ref.components);
  EXPECT_GE(d.psnr, c.min_psnr);
  EXPECT_LE(d.max_abs, c.max_abs);
  std::printf("  %-22s PSNR %.1f dB, max difference %d\n", c.name, d.psnr, d.max_abs);
}

INSTANTIATE_TEST_SUITE_P(Files, OracleTest, ::testing::ValuesIn(kOracleCases),
                         [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(JpegDecodeQuality, EveryQualityMatchesLibjpeg) {
  for (const int quality : {10, 20, 30, 40, 50, 60, 70, 75, 80, 85, 90, 95, 98, 100}) {
    for (const int h : {1, 2}) {
      SCOPED_TRACE(testing::Message() << "quality " << quality << ", luma " << h << "x" << h);
      const Bytes file =
          make({.width = 96, .height = 64, .quality = quality, .luma_h = h, .luma_v = h},
               static_cast<uint32_t>(quality));
      const Decoded ours = decode(file);
      const auto ref = reference(file);
      ASSERT_TRUE(ours.ok) << ours.message;
      ASSERT_TRUE(ref.ok);
      const Difference d = difference(ours, ref.pixels, ref.components);
      EXPECT_GE(d.psnr, 45);
      EXPECT_LE(d.max_abs, 3);
    }
  }
}

// A gray file whose only component claims 2 x 2 sampling holds its blocks in
// raster order all the same (a scan of one component is never interleaved),
// so it decodes exactly like the file that says 1 x 1.
TEST(JpegDecodeScans, SingleComponentScanIgnoresSamplingFactors) {
  const Bytes file = make({.width = 40, .height = 24, .colour = Colour::gray});
  Bytes patched = file;
  const size_t at = find_segment(patched, 0xC0);
  ASSERT_EQ(patched[at + 11], 0x11);
  patched[at + 11] = 0x22;
  const Decoded a = decode(file), b = decode(patched);
  ASSERT_TRUE(a.ok && b.ok) << b.message;
  EXPECT_EQ(a.rgba, b.rgba);
  const auto ref = reference(patched);
  ASSERT_TRUE(ref.ok);
  EXPECT_LE(difference(b, ref.pixels, 1).max_abs, 1);
}

// Sampling where the first component is not the largest: every component is
// scaled to the picture by its own factors.
TEST(JpegDecodeScans, LumaBelowMaximumSampling) {
  for (const auto &[h, v] : {std::pair{2, 2}, std::pair{2, 1}, std::pair{1, 2}}) {
    SCOPED_TRACE(testing::Message() << "second component " << h << "x" << v);
    const Bytes file = make({.width = 45, .height = 30, .luma_h = 1, .luma_v = 1, .second_h = h,
                             .second_v = v});
    const Decoded ours = decode(file);
    const auto ref = reference(file);
    ASSERT_TRUE(ref.ok) << ref.message;
    EXPECT_EQ(ref.warnings, 0);
    ASSERT_TRUE(ours.ok) << ours.message;
    const Difference d = difference(ours, ref.pixels, 3);
    EXPECT_GE(d.psnr, 45);
    EXPECT_LE(d.max_abs, 2);
  }
}

// Four components: CMYK (Adobe transform 0) and YCCK (transform 2), stored
// inverted as Adobe does. libjpeg-turbo gives C, M, Y, K; the colour is then
// the inverted ink times the inverted black.
TEST(JpegDecodeColour, CmykAndYcckMatchLibjpeg) {
  for (const bool ycck : {false, true}) {
    for (const int h : {1, 2}) {
      SCOPED_TRACE(testing::Message() << (ycck ? "YCCK" : "CMYK") << " luma " << h);
      const Bytes file = make({.width = 37, .height = 21, .colour = Colour::cmyk, .luma_h = h,
                               .luma_v = h, .store_ycck = ycck});
      const Decoded ours = decode(file);
      const auto ref = reference(file, /*keep_cmyk=*/true);
      ASSERT_TRUE(ref.ok) << ref.message;
      ASSERT_EQ(ref.components, 4);
      ASSERT_TRUE(ours.ok) << ours.message;
      Bytes rgb;
      for (size_t p = 0; p < ref.pixels.size(); p += 4)
        for (size_t c = 0; c < 3; ++c)
          rgb.push_back(static_cast<uint8_t>((ref.pixels[p + c] * ref.pixels[p + 3] + 127) / 255));
      const Difference d = difference(ours, rgb, 3);
      EXPECT_GE(d.psnr, 45);
      EXPECT_LE(d.max_abs, ycck ? 3 : 1);
    }
  }
}

// Four components without an Adobe segment are ink amounts.
TEST(JpegDecodeColour, CmykWithoutAdobeSegmentIsInk) {
  const Bytes file = join({kSoi, dqt(0, 1),
                           sof(0xC0, 8, 8, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}, {4, 0x11, 0}}),
                           one_bit_tables(), sos({{1, 0}, {2, 0}, {3, 0}, {4, 0}}),
                           Bytes{0x00}, kEoi});
  // Eight bits of zeros: four flat blocks at 128. 255 - 128 - 128 + 64 = 63.
  const Decoded d = decode(file);
  ASSERT_TRUE(d.ok) << d.message;
  for (size_t i = 0; i < d.rgba.size(); i += 4) {
    ASSERT_EQ(d.rgba[i], 63);
    ASSERT_EQ(d.rgba[i + 1], 63);
    ASSERT_EQ(d.rgba[i + 2], 63);
  }
}

// Two components have no standard colour meaning: the first is gray.
TEST(JpegDecodeColour, TwoComponentsGiveGrayOfTheFirst) {
  const Bytes two = join({kSoi, dqt(0, 1), sof(0xC0, 8, 8, {{1, 0x11, 0}, {2, 0x11, 0}}),
                    one_bit_tables(), sos({{1, 0}, {2, 0}}), Bytes{0x0F}, kEoi});
  const Decoded d = decode(two);
  ASSERT_TRUE(d.ok) << d.message;
  EXPECT_EQ(d.width, 8);
  for (size_t i = 0; i < d.rgba.size(); i += 4) ASSERT_EQ(d.rgba[i], 128);
}

// ===================================================================================
// Defined results of small crafted files

TEST(JpegDecodeEdges, DcOfZeroGivesMidGray) {
  const Decoded d = decode(flat_gray_file());
  ASSERT_TRUE(d.ok) << d.message;
  EXPECT_EQ(d.width, 8);
  EXPECT_EQ(d.height, 8);
  ASSERT_EQ(d.rgba.size(), 8u * 8 * 4);
  for (size_t i = 0; i < d.rgba.size(); i += 4) {
    EXPECT_EQ(d.rgba[i], 128);
    EXPECT_EQ(d.rgba[i + 1], 128);
    EXPECT_EQ(d.rgba[i + 2], 128);
    EXPECT_EQ(d.rgba[i + 3], 255);
  }
}

TEST(JpegDecodeEdges, SixteenSquareWithSubsampledChroma) {
  const Bytes file = make({.width = 16, .height = 16, .luma_h = 2, .luma_v = 2});
  const Decoded d = decode(file);
  ASSERT_TRUE(d.ok) << d.message;
  EXPECT_EQ(d.rgba.size(), 1024u);
  const auto ref = reference(file);
  EXPECT_LE(difference(d, ref.pixels, 3).max_abs, 2);
}

// SOF1 (extended sequential) with 8-bit samples is decoded the same way.
TEST(JpegDecodeEdges, ExtendedSequentialFrameDecodesLikeBaseline) {
  Bytes file = make({.width = 24, .height = 16});
  const Decoded baseline = decode(file);
  file[find_segment(file, 0xC0) + 1] = 0xC1;
  const Decoded extended = decode(file);
  ASSERT_TRUE(extended.ok) << extended.message;
  EXPECT_EQ(baseline.rgba, extended.rgba);
}

// Data that stops early at the end-of-image marker gives the picture; the
// blocks not reached are flat 128, as libjpeg-turbo leaves them.
TEST(JpegDecodeEdges, EndOfImageInsideScanGivesPartialPicture) {
  const Bytes full = make({.width = 64, .height = 64, .luma_h = 2, .luma_v = 2});
  const size_t sos_at = find_segment(full, 0xDA);
  const size_t data = sos_at + 2 + (size_t{full[sos_at + 2]} << 8 | full[sos_at + 3]);
  Bytes cut(full.begin(), full.begin() + static_cast<long>(data + (full.size() - data) * 3 / 5));
  if (cut.back() == 0xFF) cut.pop_back();
  cut.insert(cut.end(), kEoi.begin(), kEoi.end());
  const Decoded ours = decode(cut);
  ASSERT_TRUE(ours.ok) << ours.message;
  const auto ref = reference(cut);
  ASSERT_TRUE(ref.ok);
  EXPECT_GT(ref.warnings, 0);
  // Only the MCU row where the data stops (16 rows) may differ more.
  int rows_differing = 0;
  for (int y = 0; y < 64; ++y) {
    int worst = 0;
    for (int x = 0; x < 64; ++x)
      for (int c = 0; c < 3; ++c)
        worst = std::max(worst, std::abs(ours.rgba[(size_t(y) * 64 + size_t(x)) * 4 + size_t(c)] -
                                         ref.pixels[(size_t(y) * 64 + size_t(x)) * 3 + size_t(c)]));
    if (worst > 2) ++rows_differing;
  }
  EXPECT_LE(rows_differing, 16);
  // The last row was never reached.
  for (int x = 0; x < 64; ++x) EXPECT_EQ(ours.rgba[(63 * 64 + size_t(x)) * 4], 128);
}

TEST(JpegDecodeEdges, ThreadsDecodeAtTheSameTime) {
  const Bytes file = make({.width = 120, .height = 80, .luma_h = 2, .luma_v = 2});
  const Decoded expected = decode(file);
  ASSERT_TRUE(expected.ok);
  std::vector<Decoded> results(4);
  std::vector<std::thread> threads;
  for (auto &r : results) threads.emplace_back([&r, &file] { r = decode(file); });
  for (auto &t : threads) t.join();
  for (const auto &r : results) EXPECT_EQ(r.rgba, expected.rgba);
}

TEST(JpegDecodeEdges, NullArgumentsAreTolerated) {
  const Bytes file = flat_gray_file();
  unsigned char *p = tvl_jpeg_decode_impl(file.data(), file.size(), nullptr, nullptr, nullptr);
  ASSERT_NE(p, nullptr);
  std::free(p);
  const char *message = nullptr;
  int w = 7, h = 7;
  EXPECT_EQ(tvl_jpeg_decode_impl(nullptr, 100, &w, &h, &message), nullptr);
  EXPECT_STREQ(message, kNoScanData);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
}

TEST(JpegDecodeFile, ReadsFileAndReportsMissingOne) {
  const fs::path path = fs::temp_directory_path() / "folimark_jpeg_decode_test.jpg";
  const Bytes file = make({.width = 20, .height = 10});
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(file.data()), static_cast<long>(file.size()));
  }
  int w = 0, h = 0;
  const char *message = nullptr;
  unsigned char *p = tvl_jpeg_decode(path.c_str(), &w, &h, &message);
  ASSERT_NE(p, nullptr) << message;
  EXPECT_EQ(w, 20);
  EXPECT_EQ(h, 10);
  EXPECT_EQ(std::memcmp(p, decode(file).rgba.data(), 20 * 10 * 4), 0);
  std::free(p);
  fs::remove(path);

  w = h = 5;
  EXPECT_EQ(tvl_jpeg_decode(path.c_str(), &w, &h, &message), nullptr);
  EXPECT_STREQ(message, "jpeg: cannot read file");
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(tvl_jpeg_decode(nullptr, &w, &h, &message), nullptr);
  EXPECT_STREQ(message, "jpeg: cannot read file");
}

// ===================================================================================
// Every failure message

struct FailureCase {
  const char *name;
  Bytes file;
  const char *message;
};

Bytes base_tables() { return join({dqt(0, 1), one_bit_tables()}); }
Bytes gray_frame() { return sof(0xC0, 8, 8, {{1, 0x11, 0}}); }
Bytes gray_scan() { return join({sos({{1, 0x00}}), Bytes{0x3F}, kEoi}); }

std::vector<FailureCase> failure_cases() {
  std::vector<FailureCase> v;
  std::array<uint8_t, 16> one{};
  one[0] = 1;
  // Code lengths whose values run past 16 bits: two codes of each length
  // from 1 to 15 push the first 16-bit code to 131,068.
  std::array<uint8_t, 16> overfull{};
  overfull.fill(2);
  Bytes wide_quant = {0x10};
  for (int k = 0; k < 64; ++k) put16(wide_quant, k == 5 ? 256 : 1);
  Bytes zero_quant = {0x00};
  for (int k = 0; k < 64; ++k) zero_quant.push_back(k == 63 ? 0 : 1);

  v.push_back({"five_bytes", {0xFF, 0xD8, 0xFF, 0xD9, 0x00}, kNoScanData});
  v.push_back({"no_scan", join({kSoi, dqt(0, 1), kEoi}), kNoScanData});
  v.push_back({"ends_in_fill", join({kSoi, Bytes{0xFF, 0xFF, 0xFF, 0xFF}}), kNoScanData});
  v.push_back({"no_marker", join({kSoi, Bytes{0x12, 0x34, 0x56, 0x78}}), "jpeg: corrupt stream"});
  v.push_back({"stuffed_zero", join({kSoi, Bytes{0xFF, 0x00, 0x12, 0x34, 0x56}}),
               "jpeg: corrupt stream"});
  v.push_back({"length_below_two", join({kSoi, Bytes{0xFF, 0xFE, 0x00, 0x01, 0, 0}}),
               "jpeg: bad segment length"});
  v.push_back({"segment_past_end", join({kSoi, Bytes{0xFF, 0xFE, 0x00, 0x40, 1, 2, 3}}),
               kTruncatedSegment});
  v.push_back({"short_restart_interval",
               join({kSoi, segment(0xDD, {0}), base_tables(), gray_frame(), gray_scan()}),
               "jpeg: bad segment length"});
  v.push_back({"sof_too_short", join({kSoi, segment(0xC0, {8, 0, 8, 0, 8, 1})}), "jpeg: bad SOF"});
  v.push_back({"sof_entries_missing",
               join({kSoi, segment(0xC0, {8, 0, 8, 0, 8, 3, 1, 0x11, 0}), gray_scan()}),
               "jpeg: bad SOF"});
  v.push_back({"sof_between_scans",
               join({kSoi, base_tables(), sof(0xC0, 8, 8, {{1, 0x11, 0}, {2, 0x11, 0}}),
                     sos({{1, 0}}), Bytes{0x3F}, gray_frame(), gray_scan()}),
               "jpeg: bad SOF"});
  v.push_back({"precision_12", join({kSoi, sof(0xC0, 8, 8, {{1, 0x11, 0}}, 12), gray_scan()}),
               "jpeg: only 8-bit samples supported"});
  v.push_back({"five_components",
               join({kSoi, sof(0xC0, 8, 8,
                               {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}, {4, 0x11, 0}, {5, 0x11, 0}}),
                     gray_scan()}),
               kUnsupportedSof});
  v.push_back({"zero_components", join({kSoi, segment(0xC0, {8, 0, 8, 0, 8, 0, 1, 0x11, 0})}),
               kUnsupportedSof});
  v.push_back({"zero_width", join({kSoi, sof(0xC0, 0, 8, {{1, 0x11, 0}}), gray_scan()}),
               kUnsupportedSof});
  v.push_back({"zero_height", join({kSoi, sof(0xC0, 8, 0, {{1, 0x11, 0}}), gray_scan()}),
               kUnsupportedSof});
  v.push_back({"too_many_pixels", join({kSoi, sof(0xC0, 20000, 10001, {{1, 0x11, 0}}), gray_scan()}),
               kUnsupportedSof});
  v.push_back({"lossless_frame", join({kSoi, sof(0xC3, 8, 8, {{1, 0x11, 0}}), gray_scan()}),
               kUnsupportedSof});
  v.push_back({"arithmetic_frame", join({kSoi, sof(0xC9, 8, 8, {{1, 0x11, 0}}), gray_scan()}),
               kUnsupportedSof});
  v.push_back({"progressive", make({.width = 32, .height = 32, .progressive = true}),
               kUnsupportedSof});
  v.push_back({"progressive_gray",
               make({.width = 32, .height = 32, .colour = Colour::gray, .progressive = true}),
               kUnsupportedSof});
  v.push_back({"h_zero", join({kSoi, sof(0xC0, 8, 8, {{1, 0x01, 0}}), gray_scan()}),
               "jpeg: bad component spec"});
  v.push_back({"v_zero", join({kSoi, sof(0xC0, 8, 8, {{1, 0x10, 0}}), gray_scan()}),
               "jpeg: bad component spec"});
  v.push_back({"quant_number_4", join({kSoi, sof(0xC0, 8, 8, {{1, 0x11, 4}}), gray_scan()}),
               "jpeg: bad component spec"});
  v.push_back({"dht_class_2", join({kSoi, segment(0xC4, dht_payload(0x20, one, {0}))}),
               "jpeg: bad DHT"});
  v.push_back({"dht_number_bit_2", join({kSoi, segment(0xC4, dht_payload(0x04, one, {0}))}),
               "jpeg: bad DHT"});
  v.push_back({"dht_codes_past_16_bits",
               join({kSoi, segment(0xC4, dht_payload(0x00, overfull, Bytes(32, 1)))}),
               "jpeg: bad DHT"});
  v.push_back({"dht_symbols_missing", join({kSoi, segment(0xC4, dht_payload(0x00, overfull, {1, 2}))}),
               "jpeg: truncated DHT"});
  v.push_back({"dht_counts_missing", join({kSoi, segment(0xC4, {0x00, 1, 0, 0})}),
               "jpeg: truncated DHT"});
  v.push_back({"dqt_id_bit_2", join({kSoi, dqt(0x04, 1)}), "jpeg: bad quant table id"});
  v.push_back({"dqt_id_bit_3", join({kSoi, dqt(0x08, 1)}), "jpeg: bad quant table id"});
  v.push_back({"dqt_short", join({kSoi, segment(0xDB, Bytes(40, 1))}), "jpeg: truncated DQT"});
  v.push_back({"dqt_wide_short", join({kSoi, segment(0xDB, join({Bytes{0x10}, Bytes(100, 1)}))}),
               "jpeg: truncated DQT"});
  v.push_back({"dqt_zero", join({kSoi, segment(0xDB, zero_quant)}), "jpeg: bad quant value"});
  v.push_back({"dqt_wide_256", join({kSoi, segment(0xDB, wide_quant)}), "jpeg: bad quant value"});
  v.push_back({"sos_empty", join({kSoi, base_tables(), gray_frame(), segment(0xDA, {}), kEoi}),
               "jpeg: bad SOS"});
  v.push_back({"sos_entries_missing",
               join({kSoi, base_tables(), gray_frame(), segment(0xDA, {2, 1, 0}), kEoi}),
               "jpeg: bad SOS"});
  v.push_back({"sos_component_twice",
               join({kSoi, base_tables(), gray_frame(), sos({{1, 0}, {1, 0}}), Bytes{0x0F}, kEoi}),
               "jpeg: bad SOS"});
  v.push_back({"sos_count_5",
               join({kSoi, base_tables(), gray_frame(),
                     sos({{1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}}), kEoi}),
               "jpeg: bad SOS count"});
  v.push_back({"sos_count_0", join({kSoi, base_tables(), gray_frame(), sos({}), kEoi}),
               "jpeg: bad SOS count"});
  v.push_back({"sos_before_sof", join({kSoi, base_tables(), gray_scan()}),
               "jpeg: unknown SOS component"});
  v.push_back({"sos_unknown_id",
               join({kSoi, base_tables(), gray_frame(), sos({{2, 0}}), Bytes{0x3F}, kEoi}),
               "jpeg: unknown SOS component"});
  v.push_back({"quant_undefined",
               join({kSoi, one_bit_tables(), sof(0xC0, 8, 8, {{1, 0x11, 1}}), dqt(0, 1),
                     gray_scan()}),
               "jpeg: missing quant table"});
  v.push_back({"dc_table_undefined",
               join({kSoi, base_tables(), gray_frame(), sos({{1, 0x10}}), Bytes{0x3F}, kEoi}),
               "jpeg: missing Huffman table"});
  v.push_back({"ac_table_undefined",
               join({kSoi, base_tables(), gray_frame(), sos({{1, 0x01}}), Bytes{0x3F}, kEoi}),
               "jpeg: missing Huffman table"});
  v.push_back({"table_number_9",
               join({kSoi, base_tables(), gray_frame(), sos({{1, 0x90}}), Bytes{0x3F}, kEoi}),
               "jpeg: missing Huffman table"});
  v.push_back({"no_scan_data_at_all", join({kSoi, base_tables(), gray_frame(), sos({{1, 0}})}),
               kDecodeError});
  // 0xFF bits: no code of the one-bit tables starts with 1.
  v.push_back({"bad_code", join({kSoi, base_tables(), gray_frame(), sos({{1, 0}}),
                                 Bytes{0xFF, 0x00, 0x12, 0x34, 0x56}, kEoi}),
               kDecodeError});
  // A marker other than end-of-image where a block should start.
  v.push_back({"marker_in_scan",
               join({kSoi, base_tables(), sof(0xC0, 24, 8, {{1, 0x11, 0}}), sos({{1, 0}}),
                     Bytes{0x0F}, segment(0xFE, {1, 2}), kEoi}),
               kDecodeError});
  // Three blocks wanted, restart interval 1: a comment where the first restart
  // marker belongs.
  v.push_back({"restart_marker_missing",
               join({kSoi, segment(0xDD, {0, 1}), base_tables(), sof(0xC0, 24, 8, {{1, 0x11, 0}}),
                     sos({{1, 0}}), Bytes{0x3F}, segment(0xFE, {1, 2}), Bytes{0x3F}, kEoi}),
               kDecodeError});
  // The DC category of a crafted table above 16.
  {
    Bytes tables = dqt(0, 1);
    const Bytes dc = dht_payload(0x00, one, {17});
    const Bytes ac = dht_payload(0x10, one, {0});
    tables = join({tables, segment(0xC4, join({dc, ac}))});
    v.push_back({"dc_category_17",
                 join({kSoi, tables, gray_frame(), sos({{1, 0}}), Bytes{0x00, 0x00, 0x00}, kEoi}),
                 kDecodeError});
  }
  return v;
}

TEST(JpegDecodeFailures, EveryMessage) {
  for (const FailureCase &c : failure_cases()) {
    SCOPED_TRACE(c.name);
    const Decoded d = decode(c.file);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.message, c.message);
    EXPECT_EQ(d.width, 0);
    EXPECT_EQ(d.height, 0);
  }
}

// The crafted base files themselves decode, so the failures above come from
// the one change each makes.
TEST(JpegDecodeFailures, CraftedBaseFilesDecode) {
  for (const Bytes &file :
       {flat_gray_file(), join({kSoi, segment(0xDD, {0, 1}), base_tables(),
                                sof(0xC0, 24, 8, {{1, 0x11, 0}}), sos({{1, 0}}), Bytes{0x3F, 0xFF,
                                0xD0, 0x3F, 0xFF, 0xD1, 0x3F}, kEoi})}) {
    const Decoded d = decode(file);
    EXPECT_TRUE(d.ok) << d.message;
  }
}

TEST(JpegDecodeFailures, OutOfMemoryAtEveryAllocation) {
  const Bytes file = make({.width = 40, .height = 24, .luma_h = 2, .luma_v = 2});
  int failed_runs = 0;
  for (long n = 0;; ++n) {
    int w = -1, h = -1;
    const char *message = nullptr;
    g_failed = false;
    g_allocations_left = n;
    unsigned char *p = tvl_jpeg_decode_impl(file.data(), file.size(), &w, &h, &message);
    const bool failed = g_failed;
    g_allocations_left = -1;
    std::free(p);
    if (!failed) {
      EXPECT_NE(p, nullptr) << message;
      break;
    }
    ++failed_runs;
    EXPECT_EQ(p, nullptr);
    EXPECT_STREQ(message, "jpeg: out of memory");
    EXPECT_EQ(w, 0);
  }
  EXPECT_GT(failed_runs, 3);
}

// A small file that claims a huge picture is refused before planes are
// allocated for it: its data cannot hold even the shortest code of every
// block.
TEST(JpegDecodeFailures, TinyFileClaimingHugePictureAllocatesLittle) {
  for (const auto &[w, h] : {std::pair{14142u, 14142u}, std::pair{65535u, 3000u}}) {
    const Bytes file = join({kSoi, base_tables(), sof(0xC0, w, h, {{1, 0x22, 0}, {2, 0x11, 0},
                                                                    {3, 0x11, 0}}),
                             sos({{1, 0}, {2, 0}, {3, 0}}), Bytes(100, 0x00), kEoi});
    g_largest = 0;
    g_tracking = true;
    const Decoded d = decode(file);
    g_tracking = false;
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.message, kDecodeError);
    EXPECT_LT(g_largest, size_t{1} << 20);
  }
}

// ===================================================================================
// Truncation at every length

// The message a libjpeg-turbo file (segments back to back, one scan) gives
// when cut to length: the first segment that does not fit decides; inside
// the scan data it is a decode error, and losing only the end-of-image
// marker loses no data.
std::string expected_for_cut(const Bytes &file, size_t length) {
  if (length < 6) return kNoScanData;
  size_t pos = 2;
  for (;;) {
    if (length - pos < 4) return kNoScanData;
    const size_t end = pos + 2 + (size_t{file[pos + 2]} << 8 | file[pos + 3]);
    if (end > length) return kTruncatedSegment;
    if (file[pos + 1] == 0xDA) break;
    pos = end;
  }
  return length >= file.size() - 2 ? "" : kDecodeError;
}

TEST(JpegDecodeTruncation, EveryCutLength) {
  const std::vector<std::pair<const char *, MakeOptions>> files = {
      {"420", {.width = 48, .height = 32, .luma_h = 2, .luma_v = 2}},
      {"444_restart_2", {.width = 40, .height = 24, .restart_interval = 2, .luma_h = 1,
                         .luma_v = 1}},
      {"gray_optimized", {.width = 33, .height = 17, .colour = Colour::gray,
                          .optimize_coding = true}},
  };
  for (const auto &[name, options] : files) {
    const Bytes file = make(options);
    for (size_t length = 0; length < file.size(); ++length) {
      SCOPED_TRACE(testing::Message() << name << " cut to " << length << " of " << file.size());
      const Bytes cut(file.begin(), file.begin() + static_cast<long>(length));
      const Decoded d = decode(cut);
      EXPECT_EQ(d.ok ? "" : d.message, expected_for_cut(file, length));
    }
  }
}

// A file in several scans, cut anywhere: never a crash, and any cut before
// the end-of-image marker fails.
TEST(JpegDecodeTruncation, SeparateScansCutAnywhere) {
  const Bytes file = make({.width = 40, .height = 24, .luma_h = 2, .luma_v = 2,
                           .separate_scans = true});
  for (size_t length = 0; length < file.size(); ++length) {
    const Bytes cut(file.begin(), file.begin() + static_cast<long>(length));
    const Decoded d = decode(cut);
    EXPECT_EQ(d.ok, length >= file.size() - 2) << length;
  }
}

// ===================================================================================
// The corpus

TEST(JpegDecodeCorpus, EveryFile) {
  const fs::path dir = fs::path(FOLIMARK_CORPUS_DIR) / "jpeg";
  if (!fs::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
  std::vector<fs::path> paths;
  for (const auto &e : fs::directory_iterator(dir))
    if (e.path().extension() == ".jpeg") paths.push_back(e.path());
  std::sort(paths.begin(), paths.end());
  ASSERT_FALSE(paths.empty());
  int compared = 0;
  for (const fs::path &path : paths) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    const Bytes file = read_file(path);
    const Decoded ours = decode(file);
    const auto header = testjpeg::read_header_with_libjpeg(file);
    const auto ref = reference(file);
    if (name == "hippopotamus-bad-comment-length.jpeg") {
      // A comment segment whose length is 0: libjpeg-turbo reads on after
      // the length bytes; a length below 2 is malformed and refused.
      EXPECT_EQ(ours.message, "jpeg: bad segment length");
    } else if (header.frame_code == 0xC2) {
      // Progressive, whole or cut after any scan.
      EXPECT_EQ(ours.message, kUnsupportedSof);
    } else if (name.find("truncated") != std::string::npos) {
      // Cut without an end-of-image marker: djpeg fills in what is missing
      // (its picture is beside the file); we refuse, so there is nothing to
      // compare with it.
      EXPECT_EQ(ours.message, kDecodeError);
    } else if (ref.ok && ref.warnings == 0) {
      ASSERT_TRUE(ours.ok) << ours.message;
      ASSERT_EQ(ours.width, ref.width);
      ASSERT_EQ(ours.height, ref.height);
      const Difference d = difference(ours, ref.pixels, ref.components);
      EXPECT_GE(d.psnr, 45);
      EXPECT_LE(d.max_abs, 3);
      std::printf("  %-40s PSNR %.1f dB, max difference %d\n", name.c_str(), d.psnr, d.max_abs);
      ++compared;
    } else {
      // libjpeg-turbo refuses it or warns: we must not produce a picture
      // from a broken header, and say why.
      std::printf("  %-40s libjpeg-turbo: %s; ours: %s\n", name.c_str(),
                  ref.ok ? "warnings" : ref.message.c_str(), ours.message.c_str());
      EXPECT_FALSE(ours.ok);
    }
  }
  EXPECT_GT(compared, 15);
}

// ===================================================================================
// Random mutations

TEST(JpegDecodeMutations, NeverCrash) {
  std::vector<Bytes> seeds = {
      make({.width = 40, .height = 32, .luma_h = 2, .luma_v = 2}),
      make({.width = 33, .height = 17, .restart_interval = 1, .luma_h = 2, .luma_v = 1}),
      make({.width = 24, .height = 24, .colour = Colour::gray, .optimize_coding = true}),
      make({.width = 20, .height = 12, .colour = Colour::cmyk, .store_ycck = true}),
      make({.width = 30, .height = 20, .luma_h = 2, .luma_v = 2, .separate_scans = true}),
  };
  const fs::path dir = fs::path(FOLIMARK_CORPUS_DIR) / "jpeg";
  for (const char *name : {"hippopotamus.jpeg", "peacock.s-very-weird.jpeg", "pjw-thumbnail.jpeg"})
    if (fs::exists(dir / name)) seeds.push_back(read_file(dir / name));

  std::mt19937 rng(20240611);
  int decoded = 0, total = 0;
  for (const Bytes &seed : seeds) {
    for (int round = 0; round < 1000; ++round) {
      Bytes b = seed;
      const int kind = static_cast<int>(rng() % 5);
      auto at = [&] { return static_cast<size_t>(rng() % b.size()); };
      if (kind == 0) {  // a few random bytes
        for (int i = 0, n = 1 + static_cast<int>(rng() % 6); i < n; ++i)
          b[at()] = static_cast<uint8_t>(rng());
      } else if (kind == 1) {  // flipped bits
        for (int i = 0, n = 1 + static_cast<int>(rng() % 4); i < n; ++i)
          b[at()] ^= static_cast<uint8_t>(1u << (rng() % 8));
      } else if (kind == 2) {  // cut, maybe closed with end-of-image
        b.resize(at());
        if (rng() % 2) b.insert(b.end(), kEoi.begin(), kEoi.end());
      } else if (kind == 3) {  // marker-like bytes in odd places
        const size_t p = at();
        b[p] = 0xFF;
        if (p + 1 < b.size()) b[p + 1] = static_cast<uint8_t>(0xC0 + rng() % 64);
      } else {  // a block of bytes copied elsewhere
        const size_t from = at(), to = at();
        const size_t n = std::min<size_t>({rng() % 64, b.size() - from, b.size() - to});
        std::memmove(b.data() + to, b.data() + from, n);
      }
      const Decoded d = decode(b);
      ++total;
      if (d.ok) {
        ++decoded;
        EXPECT_GT(d.width, 0);
        EXPECT_GT(d.height, 0);
        EXPECT_EQ(d.message, "");
      } else {
        EXPECT_EQ(d.message.rfind("jpeg: ", 0), 0u) << d.message;
      }
    }
  }
  std::printf("  %d of %d mutated files decoded\n", decoded, total);
}

}  // namespace
