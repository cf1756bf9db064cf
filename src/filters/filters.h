// The decoders of the stream filters that page content and the document's
// own structure use: ASCIIHexDecode, ASCII85Decode, LZWDecode,
// RunLengthDecode and FlateDecode, and the PNG and TIFF predictors that may
// follow LZW and Flate. Each decodes a byte range and appends the result to a
// ByteBuf, never letting the buffer's length pass a limit. Image codecs
// (DCT, JPX, JBIG2, CCITT fax) and decryption are not here.
#pragma once

#include <cstdint>
#include <span>

#include "pdf/byte_buf.h"

enum class FilterStatus {
  ok,
  damaged,    // corrupt data: what was decoded before it stays in the output
  too_large,  // the output would pass the limit, or no memory could be had
              // for it (the buffer's `failed` then tells); the output holds
              // what fitted
};

// Returns how the hexadecimal text of in decoded: white space is skipped,
// '>' ends the data (so does its end), an odd final digit counts as followed
// by 0, and any other byte is damage.
FilterStatus ascii_hex_decode(std::span<const uint8_t> in, ByteBuf &out, uint64_t limit);

// Returns how the base-85 text of in decoded: an optional leading "<~",
// white space skipped, 'z' for a group of four zeros, "~>" ending the data
// (its absence tolerated) and a final partial group of two to four digits.
// A byte outside the alphabet, a group above 2^32 - 1, 'z' inside a group
// and a final group of one digit are damage.
FilterStatus ascii85_decode(std::span<const uint8_t> in, ByteBuf &out, uint64_t limit);

// Returns how the LZW codes of in decoded: 9 to 12 bits, 256 clears the
// table, 257 ends the data (so does its end). early_change (the usual, /EarlyChange
// 1) widens the codes one entry before the width is used up. A full table
// that is not cleared keeps 12-bit codes and adds no more entries. A code
// beyond the next free entry is damage.
FilterStatus lzw_decode(std::span<const uint8_t> in, ByteBuf &out, uint64_t limit, bool early_change);

// Returns how the run-length data of in decoded: a length byte 0-127 copies
// the next n + 1 bytes, 129-255 repeats the next byte 257 - n times, 128
// ends the data (so does its end). A run cut short by the end is damage.
FilterStatus run_length_decode(std::span<const uint8_t> in, ByteBuf &out, uint64_t limit);

// Returns how the DEFLATE data of in decoded: a zlib stream or raw DEFLATE
// (a first two bytes that read as a zlib header are taken for one); the
// Adler-32 trailer is not checked and bytes after the final block are
// ignored. Data that ends before its final block is damage.
FilterStatus flate_decode(std::span<const uint8_t> in, ByteBuf &out, uint64_t limit);

// The decode parameters of a predictor, as /DecodeParms gives them.
struct PredictorParams {
  int64_t predictor = 1;  // 1 none, 2 TIFF, 10-15 PNG (a filter byte on each row)
  int64_t colors = 1;
  int64_t bits_per_component = 8;
  int64_t columns = 1;
};

// Returns true when undo_predictor can undo the predictor the parameters
// name: predictor 1, 2 or 10-15, 1 to 32 colours, 1, 2, 4, 8 or 16 bits per
// component, at least one column.
bool predictor_supported(const PredictorParams &p);

// Returns how undoing a supported predictor on buf's bytes from `start` on
// went: they are replaced by the rows they predict. A partial last row, or a
// PNG filter type above 4, is damage: the rows before it stay, the rest is
// dropped.
FilterStatus undo_predictor(ByteBuf &buf, uint64_t start, const PredictorParams &p);
