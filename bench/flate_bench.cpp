// Throughput of our DEFLATE pair beside zlib on the same data.
//   compress:   tvl_deflate vs zlib levels 1 and 6 (MB/s of input, ratio)
//   decompress: tvl_inflate vs zlib inflate on zlib level-6 streams (MB/s of output)
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "flate/flate.h"
#include "sample_data.h"

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes &sample(int which) {
  static const Bytes text = bench::pdf_content(4 << 20);
  static const Bytes image = bench::rgb_image(1200, 1165);  // about 4 MiB
  return which == 0 ? text : image;
}

const char *sample_name(int which) { return which == 0 ? "pdf-content" : "rgb-image"; }

Bytes zlib_compress(const Bytes &in, int level) {
  uLongf size = compressBound(static_cast<uLong>(in.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()), level) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(size);
  return out;
}

void BM_tvl_deflate(benchmark::State &state) {
  const Bytes &in = sample(static_cast<int>(state.range(0)));
  size_t out_len = 0;
  for (auto _ : state) {
    unsigned char *out = nullptr;
    if (tvl_deflate(in.data(), in.size(), &out, &out_len) != 0) state.SkipWithError("failed");
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  state.SetLabel(sample_name(static_cast<int>(state.range(0))));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["ratio"] = static_cast<double>(out_len) / static_cast<double>(in.size());
  state.counters["out_bytes"] = static_cast<double>(out_len);
}

void BM_zlib_compress(benchmark::State &state) {
  const Bytes &in = sample(static_cast<int>(state.range(0)));
  const int level = static_cast<int>(state.range(1));
  size_t out_len = 0;
  for (auto _ : state) {
    Bytes out = zlib_compress(in, level);
    out_len = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(sample_name(static_cast<int>(state.range(0))));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["ratio"] = static_cast<double>(out_len) / static_cast<double>(in.size());
  state.counters["out_bytes"] = static_cast<double>(out_len);
}

void BM_tvl_inflate(benchmark::State &state) {
  const Bytes &in = sample(static_cast<int>(state.range(0)));
  const Bytes packed = zlib_compress(in, 6);
  Bytes out(in.size());
  for (auto _ : state) {
    // Our callers strip the two header bytes; the trailer is ignored.
    const int n = tvl_inflate(packed.data() + 2, packed.size() - 2, out.data(), out.size());
    if (n != static_cast<int>(in.size())) state.SkipWithError("wrong size");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(sample_name(static_cast<int>(state.range(0))));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_zlib_inflate(benchmark::State &state) {
  const Bytes &in = sample(static_cast<int>(state.range(0)));
  const Bytes packed = zlib_compress(in, 6);
  Bytes out(in.size());
  for (auto _ : state) {
    uLongf size = static_cast<uLongf>(out.size());
    if (uncompress(out.data(), &size, packed.data(), static_cast<uLong>(packed.size())) != Z_OK)
      state.SkipWithError("uncompress failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(sample_name(static_cast<int>(state.range(0))));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

}  // namespace

BENCHMARK(BM_tvl_deflate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_zlib_compress)->Args({0, 1})->Args({0, 6})->Args({1, 1})->Args({1, 6})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_tvl_inflate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_zlib_inflate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
