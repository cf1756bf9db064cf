// The JPEG frame-header probe and the whole-file reader, against files that
// libjpeg-turbo makes at test time and reads back as the oracle, hand-made
// and patched marker sequences, every prefix of real files, and the corpus.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "jpeg/jpeg.h"
#include "support/jpeg_maker.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testjpeg::Colour;
using testjpeg::MakeOptions;

namespace {

// What the probe returned; the results start at a value no picture has, so
// that a failure can be checked to have left them alone.
struct Probe {
  int ok = -1;
  int width = -7;
  int height = -7;
  int components = -7;
};

// Probes a copy of bytes in a heap block of exactly their size, so that the
// sanitizer build catches any read past the end.
Probe probe(const Bytes &bytes) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.empty() ? 1 : bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  Probe p;
  p.ok = tvl_jpeg_info_mem(copy.get(), bytes.size(), &p.width, &p.height, &p.components);
  return p;
}

void expect_size(const Probe &p, int width, int height, int components, const std::string &what) {
  ASSERT_EQ(p.ok, 1) << what;
  EXPECT_EQ(p.width, width) << what;
  EXPECT_EQ(p.height, height) << what;
  EXPECT_EQ(p.components, components) << what;
}

void expect_failure(const Probe &p, const std::string &what) {
  EXPECT_EQ(p.ok, 0) << what;
  EXPECT_EQ(p.width, -7) << what << ": width touched";
  EXPECT_EQ(p.height, -7) << what << ": height touched";
  EXPECT_EQ(p.components, -7) << what << ": components touched";
}

Bytes hex(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b.push_back(static_cast<uint8_t>(v));
  return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes &p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

// A frame header segment with the given marker code, declared length,
// height, width and component count; the component list is the one the
// length leaves room for, filled with plausible entries.
Bytes frame_segment(int code, int length, int height, int width, int components) {
  Bytes b = hex({0xFF, code, length >> 8, length & 0xFF, 8, height >> 8, height & 0xFF,
                 width >> 8, width & 0xFF, components});
  for (int i = 8; i < length; ++i) b.push_back(static_cast<uint8_t>(i % 3 == 0 ? 1 : 0x11));
  return b;
}

Bytes baseline_frame(int height, int width, int components) {
  return frame_segment(0xC0, 8 + 3 * components, height, width, components);
}

const Bytes kStart = hex({0xFF, 0xD8});
const Bytes kEnd = hex({0xFF, 0xD9});

// The offset of the frame header (the 0xFF of its marker) in a file that
// libjpeg-turbo wrote: its marker code, its length for the component count
// and the precision 8 in a row do not occur in the tables before it.
size_t frame_offset(const Bytes &file, int components) {
  const int length = 8 + 3 * components;
  for (size_t i = 2; i + 4 < file.size(); ++i)
    if (file[i] == 0xFF && (file[i + 1] == 0xC0 || file[i + 1] == 0xC2) && file[i + 2] == 0 &&
        file[i + 3] == length && file[i + 4] == 8)
      return i;
  ADD_FAILURE() << "no frame header found";
  return 0;
}

fs::path temp_dir() {
  return fs::temp_directory_path() /
         ("folimark-jpeg-test-" + std::to_string(static_cast<long>(getpid())));
}

std::string temp_path(const std::string &name) {
  fs::create_directories(temp_dir());
  return (temp_dir() / name).string();
}

// Removes the test's temporary folder once every test has run.
struct TempDirCleanup : ::testing::Environment {
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(temp_dir(), ec);
  }
};
[[maybe_unused]] ::testing::Environment *const kCleanup =
    ::testing::AddGlobalTestEnvironment(new TempDirCleanup);

void write_file(const std::string &path, const Bytes &bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(f.good()) << path;
}

Bytes read_file(const fs::path &path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------------------
// Files made by libjpeg-turbo: the probe gives what libjpeg-turbo reads back.

struct MadeCase {
  const char *name;
  MakeOptions options;
  int components;
};

const MadeCase kMadeCases[] = {
    {"baseline RGB 640x480", {640, 480, Colour::rgb, false, 0, 75}, 3},
    {"progressive RGB", {100, 75, Colour::rgb, true, 0, 75}, 3},
    {"progressive gray", {40, 24, Colour::gray, true, 0, 75}, 1},
    {"gray", {33, 20, Colour::gray, false, 0, 75}, 1},
    {"CMYK", {40, 30, Colour::cmyk, false, 0, 75}, 4},
    {"progressive CMYK", {24, 40, Colour::cmyk, true, 0, 75}, 4},
    {"restart markers", {64, 64, Colour::rgb, false, 1, 75}, 3},
    {"restart markers, progressive", {64, 48, Colour::rgb, true, 2, 75}, 3},
    {"1x1", {1, 1, Colour::rgb, false, 0, 75}, 3},
    {"17x9", {17, 9, Colour::rgb, false, 0, 75}, 3},
    {"widest libjpeg allows", {65500, 1, Colour::gray, false, 0, 75}, 1},
    {"tallest libjpeg allows", {1, 65500, Colour::gray, false, 0, 75}, 1},
    {"quality 100", {31, 17, Colour::rgb, false, 0, 100}, 3},
    {"quality 1", {31, 17, Colour::rgb, false, 0, 1}, 3},
};

TEST(JpegInfoMade, GivesTheFrameThatLibjpegReads) {
  for (const MadeCase &c : kMadeCases) {
    const Bytes file = testjpeg::make_jpeg(c.options);
    const testjpeg::LibjpegHeader oracle = testjpeg::read_header_with_libjpeg(file);
    ASSERT_TRUE(oracle.read) << c.name << ": " << oracle.message;
    EXPECT_EQ(oracle.frame_code, c.options.progressive ? 0xC2 : 0xC0) << c.name;
    EXPECT_EQ(oracle.width, c.options.width) << c.name;
    EXPECT_EQ(oracle.height, c.options.height) << c.name;
    EXPECT_EQ(oracle.components, c.components) << c.name;
    expect_size(probe(file), oracle.width, oracle.height, oracle.components, c.name);
  }
}

// The file reader and the probe together, through a real file.
TEST(JpegInfoMade, ProbesAFileOnDisk) {
  const Bytes file = testjpeg::make_jpeg({640, 480, Colour::rgb, false, 0, 75});
  const std::string path = temp_path("baseline.jpg");
  write_file(path, file);
  int width = -7, height = -7, components = -7;
  ASSERT_EQ(tvl_jpeg_info(path.c_str(), &width, &height, &components), 1);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  EXPECT_EQ(components, 3);
  fs::remove(path);
}

// ---------------------------------------------------------------------------
// A real baseline file, patched: each case changes it and says what the walk
// must give.

struct PatchCase {
  const char *name;
  std::function<void(Bytes &file, size_t frame)> patch;
  bool ok;  // true: the size of the unpatched file (or the one below)
  int width = 48;
  int height = 32;
  int components = 3;
};

void insert_at(Bytes &file, size_t at, const Bytes &bytes) {
  file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
}

void put_be16(Bytes &file, size_t at, unsigned value) {
  file[at] = static_cast<uint8_t>(value >> 8);
  file[at + 1] = static_cast<uint8_t>(value & 0xFF);
}

// libjpeg-turbo writes the JFIF segment right after the start-of-image.
constexpr size_t kApp0 = 2;

const PatchCase kPatchCases[] = {
    {"unpatched", [](Bytes &, size_t) {}, true},
    {"fill bytes before the frame marker",
     [](Bytes &f, size_t at) { insert_at(f, at, Bytes(5, 0xFF)); }, true},
    {"fill bytes before the first marker",
     [](Bytes &f, size_t) { insert_at(f, kApp0, Bytes(3, 0xFF)); }, true},
    {"first two bytes are not examined",
     [](Bytes &f, size_t) { f[0] = 0; f[1] = 0; }, true},
    {"no 0xFF where the first marker must start", [](Bytes &f, size_t) { f[kApp0] = 0; }, false},
    {"frame is extended sequential (SOF1)", [](Bytes &f, size_t at) { f[at + 1] = 0xC1; }, false},
    {"frame is lossless (SOF3)", [](Bytes &f, size_t at) { f[at + 1] = 0xC3; }, false},
    {"frame is arithmetic (SOF9)", [](Bytes &f, size_t at) { f[at + 1] = 0xC9; }, false},
    {"frame is progressive (SOF2)", [](Bytes &f, size_t at) { f[at + 1] = 0xC2; }, true},
    {"height 0 (left to a DNL segment)", [](Bytes &f, size_t at) { put_be16(f, at + 5, 0); },
     false},
    {"width 0", [](Bytes &f, size_t at) { put_be16(f, at + 7, 0); }, false},
    {"largest size",
     [](Bytes &f, size_t at) { put_be16(f, at + 5, 65535); put_be16(f, at + 7, 65535); }, true,
     65535, 65535},
    {"5 components", [](Bytes &f, size_t at) { f[at + 9] = 5; }, false},
    {"255 components", [](Bytes &f, size_t at) { f[at + 9] = 255; }, false},
    {"2 components (the count is taken as it stands)",
     [](Bytes &f, size_t at) { f[at + 9] = 2; }, true, 48, 32, 2},
    {"zero components: skipped, and the walk runs into the scan data",
     [](Bytes &f, size_t at) { f[at + 9] = 0; }, false},
    {"a zero-component frame before the real one is skipped",
     [](Bytes &f, size_t at) { insert_at(f, at, frame_segment(0xC0, 9, 7, 9, 0)); }, true},
    {"a frame of length 8 before the real one is skipped",
     [](Bytes &f, size_t at) { insert_at(f, at, frame_segment(0xC0, 8, 7, 9, 3)); }, true},
    {"an SOF1 frame before the real one is skipped",
     [](Bytes &f, size_t at) { insert_at(f, at, frame_segment(0xC1, 17, 7, 9, 3)); }, true},
    {"an earlier progressive frame decides",
     [](Bytes &f, size_t at) { insert_at(f, at, frame_segment(0xC2, 11, 7, 9, 1)); }, true, 9, 7,
     1},
    {"markers without a segment before the frame",
     [](Bytes &f, size_t at) {
       Bytes markers = hex({0xFF, 0x01});
       for (int code = 0xD0; code <= 0xD9; ++code) markers.insert(markers.end(), {0xFF, uint8_t(code)});
       insert_at(f, at, markers);
     },
     true},
    {"an empty comment before the frame",
     [](Bytes &f, size_t at) { insert_at(f, at, hex({0xFF, 0xFE, 0x00, 0x02})); }, true},
    {"a reserved marker with a segment before the frame",
     [](Bytes &f, size_t at) { insert_at(f, at, hex({0xFF, 0x4F, 0x00, 0x03, 0x00})); }, true},
    {"a stuffed zero where a marker must be",
     [](Bytes &f, size_t at) { insert_at(f, at, hex({0xFF, 0x00})); }, false},
    {"the first segment's length runs past the end",
     [](Bytes &f, size_t) { put_be16(f, kApp0 + 2, 0xFFFF); }, false},
    {"segment length 0", [](Bytes &f, size_t) { put_be16(f, kApp0 + 2, 0); }, false},
    {"segment length 1", [](Bytes &f, size_t) { put_be16(f, kApp0 + 2, 1); }, false},
    {"segment length 2 lands inside the segment",
     [](Bytes &f, size_t) { put_be16(f, kApp0 + 2, 2); }, false},
    {"segment length one short", [](Bytes &f, size_t) { put_be16(f, kApp0 + 2, 15); }, false},
    {"segment length one long", [](Bytes &f, size_t) { put_be16(f, kApp0 + 2, 17); }, false},
};

TEST(JpegInfoPatched, FollowsTheMarkerWalk) {
  const Bytes original = testjpeg::make_jpeg({48, 32, Colour::rgb, false, 0, 75});
  const size_t frame = frame_offset(original, 3);
  ASSERT_EQ(original[kApp0 + 1], 0xE0);
  ASSERT_EQ(original[kApp0 + 3], 16);
  for (const PatchCase &c : kPatchCases) {
    Bytes file = original;
    c.patch(file, frame);
    const Probe p = probe(file);
    if (c.ok)
      expect_size(p, c.width, c.height, c.components, c.name);
    else
      expect_failure(p, c.name);
  }
}

// libjpeg-turbo reads an SOF1 frame as a valid sequential picture; the probe
// refuses it because only baseline and progressive frames may be embedded.
TEST(JpegInfoPatched, ExtendedSequentialIsValidForLibjpegButRefused) {
  Bytes file = testjpeg::make_jpeg({48, 32, Colour::rgb, false, 0, 75});
  file[frame_offset(file, 3) + 1] = 0xC1;
  const testjpeg::LibjpegHeader oracle = testjpeg::read_header_with_libjpeg(file);
  ASSERT_TRUE(oracle.read) << oracle.message;
  EXPECT_EQ(oracle.frame_code, 0xC1);
  expect_failure(probe(file), "SOF1");
}

// ---------------------------------------------------------------------------
// Hand-made marker sequences at the edges of the walk.

struct HandCase {
  const char *name;
  Bytes bytes;
  bool ok;
  int width = 0;
  int height = 0;
  int components = 0;
};

const HandCase kHandCases[] = {
    {"empty", {}, false},
    {"1 byte", hex({0xFF}), false},
    {"5 bytes", hex({0xFF, 0xD8, 0xFF, 0xD9, 0x00}), false},
    {"5 bytes of a frame header", hex({0xFF, 0xD8, 0xFF, 0xC0, 0x00}), false},
    {"smallest frame, ending where the segment ends",
     concat({kStart, frame_segment(0xC0, 9, 16, 32, 3)}), true, 32, 16, 3},
    {"smallest frame, one byte short",
     [] {
       Bytes b = concat({kStart, frame_segment(0xC0, 9, 16, 32, 3)});
       b.pop_back();
       return b;
     }(),
     false},
    {"smallest progressive frame", concat({kStart, frame_segment(0xC2, 9, 5, 6, 1)}), true, 6, 5,
     1},
    {"frame of length 8 is not a frame header",
     concat({kStart, frame_segment(0xC0, 8, 16, 32, 3), kEnd, kEnd}), false},
    {"4 components", concat({kStart, baseline_frame(3, 2, 4), kEnd}), true, 2, 3, 4},
    {"5 components", concat({kStart, baseline_frame(3, 2, 5), kEnd}), false},
    {"zero components with 3 bytes after decides, and fails",
     concat({kStart, frame_segment(0xC0, 9, 3, 2, 0), hex({0xFF, 0xD9, 0x00})}), false},
    {"zero components with 4 bytes after is skipped",
     concat({kStart, frame_segment(0xC0, 9, 3, 2, 0), baseline_frame(30, 20, 1)}), true, 20, 30, 1},
    {"zero components skipped, then the data ends",
     concat({kStart, frame_segment(0xC0, 9, 3, 2, 0), kEnd, kEnd}), false},
    {"many fill bytes", concat({kStart, Bytes(1000, 0xFF), baseline_frame(3, 2, 1)}), true, 2, 3,
     1},
    {"the data ends in fill bytes", concat({kStart, Bytes(20, 0xFF)}), false},
    {"a skipped segment with 3 bytes after it",
     concat({kStart, hex({0xFF, 0xFE, 0x00, 0x04, 'h', 'i', 0xFF, 0xC0, 0x00})}), false},
    {"a segment header cut after its marker code", concat({kStart, hex({0xFF, 0xFF, 0xFF, 0xE1, 0x00})}),
     false},
    {"a marker without segment too near the end", concat({kStart, hex({0xFF, 0xD0, 0xFF, 0xD9})}),
     false},
    {"a start-of-image in the middle is passed over",
     concat({kStart, kStart, baseline_frame(3, 2, 3)}), true, 2, 3, 3},
    {"the scan header is skipped and the scan data stops the walk",
     concat({kStart, hex({0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 0x3F, 0, 0x12, 0x34}),
             baseline_frame(3, 2, 3)}),
     false},
    {"a stuffed zero", concat({kStart, hex({0xFF, 0x00}), baseline_frame(3, 2, 3)}), false},
    {"a stuffed zero is no segment, even where a length could follow",
     concat({kStart, hex({0xFF, 0x00, 0x00, 0x02}), baseline_frame(3, 2, 3)}), false},
    {"segment length 0 never moves backwards",
     concat({kStart, hex({0xFF, 0xFE, 0x00, 0x00}), baseline_frame(3, 2, 3)}), false},
    {"segment length 1", concat({kStart, hex({0xFF, 0xFE, 0x00, 0x01}), baseline_frame(3, 2, 3)}),
     false},
    {"segment length running past the end",
     concat({kStart, hex({0xFF, 0xFE, 0x00, 0x40, 0, 0, 0, 0})}), false},
    {"a frame header whose length runs past the end",
     [] {
       Bytes b = concat({kStart, baseline_frame(3, 2, 3)});
       put_be16(b, 4, 18);
       return b;
     }(),
     false},
};

TEST(JpegInfoHandMade, EdgesOfTheWalk) {
  for (const HandCase &c : kHandCases) {
    const Probe p = probe(c.bytes);
    if (c.ok)
      expect_size(p, c.width, c.height, c.components, c.name);
    else
      expect_failure(p, c.name);
  }
}

// A long chain of empty segments is walked in one pass.
TEST(JpegInfoHandMade, LongChainOfSegments) {
  Bytes file = kStart;
  for (int i = 0; i < 200000; ++i) file.insert(file.end(), {0xFF, 0xFE, 0x00, 0x02});
  const Bytes frame = baseline_frame(480, 640, 3);
  file.insert(file.end(), frame.begin(), frame.end());
  expect_size(probe(file), 640, 480, 3, "chain");
}

TEST(JpegInfoHandMade, NullArgumentsFail) {
  const Bytes file = concat({kStart, baseline_frame(3, 2, 3)});
  int w = -7, h = -7, c = -7;
  EXPECT_EQ(tvl_jpeg_info_mem(nullptr, 20, &w, &h, &c), 0);
  EXPECT_EQ(tvl_jpeg_info_mem(file.data(), file.size(), nullptr, &h, &c), 0);
  EXPECT_EQ(tvl_jpeg_info_mem(file.data(), file.size(), &w, nullptr, &c), 0);
  EXPECT_EQ(tvl_jpeg_info_mem(file.data(), file.size(), &w, &h, nullptr), 0);
  EXPECT_EQ(tvl_jpeg_info(nullptr, &w, &h, &c), 0);
  EXPECT_EQ(w, -7);
  EXPECT_EQ(h, -7);
  EXPECT_EQ(c, -7);
}

// ---------------------------------------------------------------------------
// The Adobe and JFIF segments: what the header gives for them.

// The whole header of a heap copy of bytes (see probe), or ok 0.
struct HeaderProbe {
  int ok = -1;
  JpegHeader header{-7, -7, -7, -7, -7, -7, -7, -7};
};

HeaderProbe probe_header(const Bytes &bytes) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.empty() ? 1 : bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  HeaderProbe p;
  p.ok = tvl_jpeg_header_mem(copy.get(), bytes.size(), &p.header);
  return p;
}

// Checks the header against libjpeg-turbo's reading of the same file.
void expect_header_as_libjpeg(const Bytes &file, const std::string &what) {
  const testjpeg::LibjpegHeader oracle = testjpeg::read_header_with_libjpeg(file);
  ASSERT_TRUE(oracle.read) << what << ": " << oracle.message;
  const HeaderProbe p = probe_header(file);
  ASSERT_EQ(p.ok, 1) << what;
  const JpegHeader &h = p.header;
  EXPECT_EQ(h.width, oracle.width) << what;
  EXPECT_EQ(h.height, oracle.height) << what;
  EXPECT_EQ(h.components, oracle.components) << what;
  EXPECT_EQ(h.adobe, oracle.adobe ? 1 : 0) << what;
  if (oracle.adobe) {
    EXPECT_EQ(h.adobe_transform, oracle.adobe_transform) << what;
  }
  // Without a JFIF segment the density is unstated: unit 0, densities 0.
  EXPECT_EQ(h.density_unit, oracle.jfif ? oracle.density_unit : 0) << what;
  EXPECT_EQ(h.x_density, oracle.jfif ? oracle.x_density : 0) << what;
  EXPECT_EQ(h.y_density, oracle.jfif ? oracle.y_density : 0) << what;
}

MakeOptions made(Colour colour, void (*change)(MakeOptions &)) {
  MakeOptions o;
  o.width = 24;
  o.height = 16;
  o.colour = colour;
  change(o);
  return o;
}

TEST(JpegHeaderMade, AdobeAndJfifAsLibjpegReadsThem) {
  const struct {
    const char *name;
    MakeOptions options;
    int adobe, transform;  // what libjpeg-turbo was asked to write
  } cases[] = {
      {"Adobe CMYK", made(Colour::cmyk, [](MakeOptions &) {}), 1, 0},
      {"plain CMYK", made(Colour::cmyk, [](MakeOptions &o) { o.adobe_marker = false; }), 0, 0},
      {"YCCK", made(Colour::cmyk, [](MakeOptions &o) { o.store_ycck = true; }), 1, 2},
      {"progressive Adobe CMYK", made(Colour::cmyk, [](MakeOptions &o) { o.progressive = true; }), 1, 0},
      {"RGB stored as RGB", made(Colour::rgb, [](MakeOptions &o) { o.store_rgb = true; }), 1, 0},
      {"JFIF 300 dpi", made(Colour::rgb, [](MakeOptions &o) {
         o.density_unit = 1; o.x_density = 300; o.y_density = 300; }), 0, 0},
      {"JFIF 72 x 144 per cm, gray", made(Colour::gray, [](MakeOptions &o) {
         o.density_unit = 2; o.x_density = 72; o.y_density = 144; }), 0, 0},
      {"JFIF aspect ratio only", made(Colour::rgb, [](MakeOptions &o) {
         o.density_unit = 0; o.x_density = 2; o.y_density = 1; }), 0, 0},
      {"JFIF density 0", made(Colour::gray, [](MakeOptions &o) {
         o.density_unit = 1; o.x_density = 0; o.y_density = 0; }), 0, 0},
  };
  for (const auto &c : cases) {
    const Bytes file = testjpeg::make_jpeg(c.options);
    const testjpeg::LibjpegHeader oracle = testjpeg::read_header_with_libjpeg(file);
    ASSERT_EQ(oracle.adobe, c.adobe == 1) << c.name;
    if (c.adobe) {
      ASSERT_EQ(oracle.adobe_transform, c.transform) << c.name;
    }
    expect_header_as_libjpeg(file, c.name);
  }
}

// A JFIF segment and an Adobe segment, with any payload tail.
Bytes jfif_segment(int unit, int x, int y) {
  return hex({0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 2, unit, x >> 8, x & 0xFF, y >> 8,
              y & 0xFF, 0, 0});
}
Bytes adobe_segment(int transform) {
  return hex({0xFF, 0xEE, 0x00, 0x0E, 'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, transform});
}
const Bytes kScan = hex({0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 0x3F, 0, 0x12, 0x34});

// Where the segments stand decides whether they count.
TEST(JpegHeaderHandMade, SegmentsUpToTheFirstScanCount) {
  const Bytes frame = baseline_frame(3, 2, 4);
  const struct {
    const char *name;
    Bytes bytes;
    int adobe, transform, unit, x, y;
  } cases[] = {
      {"none", concat({kStart, frame, kScan}), 0, 0, 0, 0, 0},
      {"both before the frame", concat({kStart, jfif_segment(1, 300, 150), adobe_segment(2), frame, kScan}),
       1, 2, 1, 300, 150},
      {"both between frame and scan", concat({kStart, frame, adobe_segment(1), jfif_segment(2, 65535, 1), kScan}),
       1, 1, 2, 65535, 1},
      {"after the first scan they do not count",
       concat({kStart, frame, kScan, adobe_segment(2), jfif_segment(1, 9, 9), kEnd}), 0, 0, 0, 0, 0},
      {"the last of each counts",
       concat({kStart, adobe_segment(2), jfif_segment(1, 1, 1), frame, adobe_segment(0),
               jfif_segment(2, 5, 6), kScan}),
       1, 0, 2, 5, 6},
      {"an Adobe segment one byte short is not one",
       concat({kStart, hex({0xFF, 0xEE, 0x00, 0x0D, 'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0}), frame, kScan}),
       0, 0, 0, 0, 0},
      {"a JFIF segment one byte short is not one",
       concat({kStart, hex({0xFF, 0xE0, 0x00, 0x0F, 'J', 'F', 'I', 'F', 0, 1, 2, 1, 0, 9, 0, 9, 0}), frame, kScan}),
       0, 0, 0, 0, 0},
      {"another identifier in APP14 or APP0",
       concat({kStart, hex({0xFF, 0xEE, 0x00, 0x0E, 'A', 'd', 'o', 'b', 'x', 0, 100, 0, 0, 0, 0, 2}),
               hex({0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'X', 'X', 0, 1, 2, 1, 0, 9, 0, 9, 0, 0}), frame, kScan}),
       0, 0, 0, 0, 0},
      {"a damaged segment after the frame ends the walk with the frame",
       concat({kStart, frame, hex({0xFF, 0xFE, 0x00, 0x01}), adobe_segment(2), kScan}), 0, 0, 0, 0, 0},
      {"an Adobe segment cut by the end of the data",
       [&] {
         Bytes b = concat({kStart, frame, adobe_segment(2)});
         b.pop_back();
         return b;
       }(),
       0, 0, 0, 0, 0},
      {"an Adobe segment ending the data counts", concat({kStart, frame, adobe_segment(2)}), 1, 2, 0, 0, 0},
  };
  for (const auto &c : cases) {
    const HeaderProbe p = probe_header(c.bytes);
    ASSERT_EQ(p.ok, 1) << c.name;
    EXPECT_EQ(p.header.width, 2) << c.name;
    EXPECT_EQ(p.header.height, 3) << c.name;
    EXPECT_EQ(p.header.components, 4) << c.name;
    EXPECT_EQ(p.header.adobe, c.adobe) << c.name;
    EXPECT_EQ(p.header.adobe_transform, c.transform) << c.name;
    EXPECT_EQ(p.header.density_unit, c.unit) << c.name;
    EXPECT_EQ(p.header.x_density, c.x) << c.name;
    EXPECT_EQ(p.header.y_density, c.y) << c.name;
  }
}

// The header fails exactly where the frame probe fails, and leaves its
// result alone then.
TEST(JpegHeaderHandMade, FailsWhereTheFrameProbeFails) {
  for (const HandCase &c : kHandCases) {
    const HeaderProbe p = probe_header(c.bytes);
    EXPECT_EQ(p.ok, c.ok ? 1 : 0) << c.name;
    if (!c.ok) {
      EXPECT_EQ(p.header.width, -7) << c.name;
    }
  }
  JpegHeader h{};
  EXPECT_EQ(tvl_jpeg_header_mem(nullptr, 10, &h), 0);
  const Bytes file = concat({kStart, baseline_frame(3, 2, 3)});
  EXPECT_EQ(tvl_jpeg_header_mem(file.data(), file.size(), nullptr), 0);
}

// ---------------------------------------------------------------------------
// Every prefix of real files: no read past the end, and success exactly when
// the frame header is complete.

TEST(JpegInfoTruncated, EveryPrefixFailsUntilTheFrameHeaderIsComplete) {
  const MakeOptions files[] = {
      {20, 12, Colour::rgb, false, 0, 75},
      {20, 12, Colour::gray, true, 0, 75},
      {9, 7, Colour::cmyk, false, 3, 75},
  };
  for (const MakeOptions &o : files) {
    const Bytes file = testjpeg::make_jpeg(o);
    const int components = o.colour == Colour::gray ? 1 : o.colour == Colour::rgb ? 3 : 4;
    const size_t frame_end = frame_offset(file, components) + 2 + 8 + 3 * components;
    for (size_t k = 0; k <= file.size(); ++k) {
      const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(k));
      const std::string what = "prefix of " + std::to_string(k) + " bytes";
      if (k >= frame_end)
        expect_size(probe(prefix), o.width, o.height, components, what);
      else
        expect_failure(probe(prefix), what);
    }
  }
}

// Every header byte of a real file set to values that matter to the walk:
// whatever comes out is never a read outside the data, and a success always
// reports a usable frame.
TEST(JpegInfoTruncated, DamagedHeaderBytesNeverMisbehave) {
  const Bytes original = testjpeg::make_jpeg({20, 12, Colour::rgb, false, 0, 75});
  const size_t header_end = std::min(original.size(), frame_offset(original, 3) + 200);
  const uint8_t values[] = {0x00, 0x01, 0x02, 0x08, 0x7F, 0xC0, 0xC2, 0xD9, 0xFE, 0xFF};
  for (size_t at = 0; at < header_end; ++at) {
    for (uint8_t v : values) {
      Bytes file = original;
      file[at] = v;
      const Probe p = probe(file);
      if (p.ok == 1) {
        EXPECT_GE(p.width, 1);
        EXPECT_GE(p.height, 1);
        EXPECT_GE(p.components, 1);
        EXPECT_LE(p.components, 4);
      } else {
        expect_failure(p, "byte " + std::to_string(at) + " = " + std::to_string(v));
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The corpus of real files.

// Files where the walk legitimately differs from libjpeg-turbo: libjpeg
// resynchronises on the next marker after a damaged segment, the walk
// stops there. The comment segment of this file declares length 0, so the
// walk lands on a byte that is not 0xFF and fails.
const char *const kRefusedWhereLibjpegRecovers[] = {"hippopotamus-bad-comment-length.jpeg"};

TEST(JpegInfoCorpus, AgreesWithLibjpeg) {
  const fs::path dir = fs::path(FOLIMARK_CORPUS_DIR) / "jpeg";
  if (!fs::is_directory(dir)) GTEST_SKIP() << "corpus folder absent: " << dir;
  int compared = 0;
  for (const auto &entry : fs::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    const Bytes file = read_file(entry.path());
    const Probe p = probe(file);
    // The file version gives the same as the memory version.
    Probe q;
    q.ok = tvl_jpeg_info(entry.path().string().c_str(), &q.width, &q.height, &q.components);
    EXPECT_EQ(q.ok, p.ok) << name;
    EXPECT_EQ(q.width, p.width) << name;
    EXPECT_EQ(q.height, p.height) << name;
    EXPECT_EQ(q.components, p.components) << name;

    const bool refused = std::find_if(std::begin(kRefusedWhereLibjpegRecovers),
                                      std::end(kRefusedWhereLibjpegRecovers), [&](const char *n) {
                                        return name == n;
                                      }) != std::end(kRefusedWhereLibjpegRecovers);
    if (refused) {
      expect_failure(p, name);
      continue;
    }
    if (p.ok == 0) expect_failure(p, name);
    const testjpeg::LibjpegHeader oracle = testjpeg::read_header_with_libjpeg(file);
    if (!oracle.read || (oracle.frame_code != 0xC0 && oracle.frame_code != 0xC2)) continue;
    expect_size(p, oracle.width, oracle.height, oracle.components, name);
    expect_header_as_libjpeg(file, name);
    ++compared;
  }
  EXPECT_GT(compared, 0) << "no corpus file was compared with libjpeg";
}

// The documented deviation really is one: libjpeg-turbo reads the file.
TEST(JpegInfoCorpus, BadCommentLengthIsReadByLibjpeg) {
  const fs::path path =
      fs::path(FOLIMARK_CORPUS_DIR) / "jpeg" / "hippopotamus-bad-comment-length.jpeg";
  if (!fs::exists(path)) GTEST_SKIP() << "corpus file absent: " << path;
  const testjpeg::LibjpegHeader oracle = testjpeg::read_header_with_libjpeg(read_file(path));
  EXPECT_TRUE(oracle.read) << oracle.message;
  expect_failure(probe(read_file(path)), path.filename().string());
}

// ---------------------------------------------------------------------------
// The whole-file reader.

TEST(JpegReadFile, HoldsExactlyTheFileBytes) {
  const Bytes file = testjpeg::make_jpeg({17, 9, Colour::rgb, false, 0, 75});
  const std::string path = temp_path("exact.jpg");
  write_file(path, file);
  JpegFileSpan span{nullptr, 12345};
  ASSERT_EQ(jpg_read_file(path.c_str(), &span), 1);
  ASSERT_NE(span.data, nullptr);
  ASSERT_EQ(span.size, file.size());
  EXPECT_EQ(std::memcmp(span.data, file.data(), file.size()), 0);
  std::free(span.data);  // the block comes from malloc (the sanitizer checks the pairing)
  fs::remove(path);
}

struct ReadCase {
  const char *name;
  Bytes contents;
  bool ok;
};

TEST(JpegReadFile, SmallFiles) {
  const ReadCase cases[] = {
      {"empty", {}, false},
      {"1 byte", hex({0xFF}), false},
      {"2 bytes", hex({0xFF, 0xD8}), true},
      {"5 bytes", hex({0xFF, 0xD8, 0xFF, 0xD9, 0x00}), true},
  };
  for (const ReadCase &c : cases) {
    const std::string path = temp_path("small.jpg");
    write_file(path, c.contents);
    JpegFileSpan span{reinterpret_cast<unsigned char *>(&span), 99};
    const int ok = jpg_read_file(path.c_str(), &span);
    ASSERT_EQ(ok, c.ok ? 1 : 0) << c.name;
    if (c.ok) {
      ASSERT_EQ(span.size, c.contents.size()) << c.name;
      EXPECT_EQ(std::memcmp(span.data, c.contents.data(), c.contents.size()), 0) << c.name;
      std::free(span.data);
    } else {
      EXPECT_EQ(span.data, nullptr) << c.name;
      EXPECT_EQ(span.size, 0u) << c.name;
    }
    // Too small to probe, whether or not the reader takes it.
    int w = -7, h = -7, n = -7;
    EXPECT_EQ(tvl_jpeg_info(path.c_str(), &w, &h, &n), 0) << c.name;
    EXPECT_EQ(w, -7) << c.name;
    fs::remove(path);
  }
}

TEST(JpegReadFile, UnreadablePathsFail) {
  const std::string missing = temp_path("missing.jpg");
  fs::remove(missing);
  const std::string directory = temp_path("a-directory");
  fs::create_directories(directory);
  for (const std::string &path : {missing, directory}) {
    JpegFileSpan span{reinterpret_cast<unsigned char *>(&span), 99};
    EXPECT_EQ(jpg_read_file(path.c_str(), &span), 0) << path;
    EXPECT_EQ(span.data, nullptr) << path;
    int w = -7, h = -7, n = -7;
    EXPECT_EQ(tvl_jpeg_info(path.c_str(), &w, &h, &n), 0) << path;
    EXPECT_EQ(w, -7) << path;
  }
  JpegFileSpan span{};
  EXPECT_EQ(jpg_read_file(nullptr, &span), 0);
  EXPECT_EQ(span.data, nullptr);
  EXPECT_EQ(jpg_read_file(missing.c_str(), nullptr), 0);
  fs::remove(directory);
}

// Files of 2 GiB or more are refused before anything is allocated or read
// (a sparse file costs no disk space).
TEST(JpegReadFile, TwoGibibytesAreRefused) {
  const std::string big = temp_path("big.jpg");
  write_file(big, concat({kStart, baseline_frame(3, 2, 3)}));
  std::error_code ec;
  fs::resize_file(big, uint64_t{1} << 31, ec);
  if (ec) GTEST_SKIP() << "cannot make a sparse file: " << ec.message();
  JpegFileSpan span{};
  EXPECT_EQ(jpg_read_file(big.c_str(), &span), 0);
  EXPECT_EQ(span.data, nullptr);
  int w = -7, h = -7, n = -7;
  EXPECT_EQ(tvl_jpeg_info(big.c_str(), &w, &h, &n), 0);
  fs::remove(big);
}

}  // namespace
