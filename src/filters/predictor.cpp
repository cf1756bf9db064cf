// The predictors that may follow LZWDecode and FlateDecode: PNG row filters
// (/Predictor 10 to 15, a filter-type byte before each row, whatever the
// number says) and TIFF predictor 2 (each sample stored as its difference
// from the same colour's sample to its left).
#include "filters/filter_output.h"
#include "filters/filters.h"
#include "inflate/inflate.h"

namespace {

// The most colours a predictor row is read with: far beyond the four that
// images use, and it keeps a row's bit count small.
constexpr int64_t kMaxColors = 32;
// The most columns: what a PDF integer can say.
constexpr int64_t kMaxColumns = INT32_MAX;

// Undoes TIFF predictor 2 on one row of `samples` samples of `bits` bits,
// first bit highest, in place.
void tiff_row(uint8_t *row, uint64_t samples, unsigned bits, unsigned colors) {
  if (bits == 8) {
    for (uint64_t i = colors; i < samples; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - colors]);
  } else if (bits == 16) {
    for (uint64_t i = colors; i < samples; ++i) {
      uint8_t *s = row + 2 * i;
      const uint8_t *l = row + 2 * (i - colors);
      const unsigned v = (unsigned{s[0]} << 8 | s[1]) + (unsigned{l[0]} << 8 | l[1]);
      s[0] = static_cast<uint8_t>(v >> 8);
      s[1] = static_cast<uint8_t>(v);
    }
  } else {
    // 1, 2 or 4 bits: samples never straddle a byte.
    const unsigned mask = (1u << bits) - 1;
    const auto get = [&](uint64_t i) {
      const uint64_t bit = i * bits;
      return row[bit / 8] >> (8 - bits - bit % 8) & mask;
    };
    for (uint64_t i = colors; i < samples; ++i) {
      const unsigned v = (get(i) + get(i - colors)) & mask;
      const uint64_t bit = i * bits;
      const unsigned shift = static_cast<unsigned>(8 - bits - bit % 8);
      uint8_t &b = row[bit / 8];
      b = static_cast<uint8_t>((b & ~(mask << shift)) | v << shift);
    }
  }
}

}  // namespace

bool predictor_supported(const PredictorParams &p) {
  const bool known = p.predictor <= 2 || (p.predictor >= 10 && p.predictor <= 15);
  const int64_t bits = p.bits_per_component;
  return known && p.colors >= 1 && p.colors <= kMaxColors && p.columns >= 1 && p.columns <= kMaxColumns &&
         (bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16);
}

FilterStatus undo_predictor(ByteBuf &buf, uint64_t start, const PredictorParams &p) {
  if (p.predictor <= 1 || buf.data == nullptr || start >= buf.length || !predictor_supported(p))
    return FilterStatus::ok;
  // Below 2^41 bits: the bounds of predictor_supported keep this exact.
  const uint64_t pixel_bits = static_cast<uint64_t>(p.colors * p.bits_per_component);
  const uint64_t row_bytes = (pixel_bits * static_cast<uint64_t>(p.columns) + 7) / 8;
  uint8_t *data = buf.data + start;
  const uint64_t len = buf.length - start;
  uint64_t rows = 0;
  uint64_t whole_rows = 0;
  if (p.predictor >= 10) {
    whole_rows = len / (row_bytes + 1);
    rows = whole_rows == 0 ? 0
                           : inflate_png_unfilter_rows(data, static_cast<size_t>(len), static_cast<size_t>(row_bytes),
                                                       static_cast<size_t>((pixel_bits + 7) / 8));
  } else {
    whole_rows = len / row_bytes;
    const uint64_t samples = static_cast<uint64_t>(p.columns * p.colors);
    for (rows = 0; rows < whole_rows; ++rows)
      tiff_row(data + rows * row_bytes, samples, static_cast<unsigned>(p.bits_per_component),
               static_cast<unsigned>(p.colors));
  }
  const uint64_t row_in = p.predictor >= 10 ? row_bytes + 1 : row_bytes;
  buf.length = start + rows * row_bytes;
  buf.data[buf.length] = 0;
  return rows == whole_rows && len % row_in == 0 ? FilterStatus::ok : FilterStatus::damaged;
}
