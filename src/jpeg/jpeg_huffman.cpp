// Entropy decoding of baseline JPEG: canonical Huffman tables, the bit
// reader over the byte-stuffed scan data, and the coefficients of one block.
#include <cstring>

#include "jpeg/jpeg_decode_internal.h"

namespace jpegdec {

HuffBuild build_huffman_table(std::span<const uint8_t, 16> counts, std::span<const uint8_t> symbols,
                              HuffTable &table) {
  table.fast.fill(0);
  table.maxcode.fill(-1);
  table.first.fill(0);
  table.offset.fill(0);
  table.symbols.assign(symbols.begin(), symbols.end());
  // The next code value; 64-bit because lengths without codes double it.
  int64_t code = 0;
  int32_t index = 0;
  for (int k = 1; k <= 16; ++k) {
    const int32_t n = counts[static_cast<size_t>(k - 1)];
    table.offset[static_cast<size_t>(k)] = index;
    if (n == 0) {
      code *= 2;
      continue;
    }
    const int64_t last = code + n - 1;
    if (last >= 65536) return HuffBuild::code_too_long;
    table.first[static_cast<size_t>(k)] = static_cast<int32_t>(code);
    table.maxcode[static_cast<size_t>(k)] = static_cast<int32_t>(last);
    if (k <= kFastBits) {
      // Every look-up value that starts with this code finds it. A value of
      // k bits or more cannot be read in k bits: such codes of an
      // over-full table are never met.
      for (int32_t i = 0; i < n; ++i) {
        const int64_t c = code + i;
        if (c >= (int64_t{1} << k)) break;
        const int shift = kFastBits - k;
        const auto entry = static_cast<uint16_t>(
            k | (table.symbols[static_cast<size_t>(index + i)] << 8));
        const auto from = static_cast<size_t>(c << shift);
        const auto to = static_cast<size_t>((c + 1) << shift);
        for (size_t e = from; e < to; ++e) table.fast[e] = entry;
      }
    }
    index += n;
    code = (last + 1) * 2;
  }
  table.defined = true;
  return HuffBuild::ok;
}

void reader_start(BitReader &br, size_t pos) {
  br.pos = pos;
  br.run_start = pos;
  br.stop_pos = 0;
  br.acc = 0;
  br.bits = 0;
  br.stop = kStopNone;
  br.status = kStopNone;
}

namespace {

// Loads bytes until more than 56 bits are held or the data cannot go on.
// 0xFF 0x00 is a data byte of 0xFF; 0xFF followed by anything else is a
// marker, where loading stops with the position on the 0xFF.
inline void refill(BitReader &br) {
  while (br.bits <= 56 && br.stop == kStopNone) {
    if (br.pos >= br.size) {
      br.stop = kStopEnd;
      br.stop_pos = br.size;
      break;
    }
    const uint8_t b = br.data[br.pos];
    if (b == 0xFF) {
      if (br.pos + 1 >= br.size) {
        br.stop = kStopEnd;
        br.stop_pos = br.pos;
        break;
      }
      if (br.data[br.pos + 1] != 0x00) {
        br.stop = kStopMarker;
        br.stop_pos = br.pos;
        break;
      }
      br.pos += 2;
    } else {
      br.pos += 1;
    }
    br.acc |= uint64_t{b} << (56 - br.bits);
    br.bits += 8;
  }
}

// Drops n bits (at most 16). Taking more than the real ones records why
// there were no more.
inline void consume(BitReader &br, int n) {
  if (n > br.bits) {
    br.status = br.stop != kStopNone ? br.stop : kStopEnd;
    br.bits = 0;
  } else {
    br.bits -= n;
  }
  br.acc <<= n;
}

enum class Symbol { ok, failed };

// Decodes one Huffman symbol. A status left by earlier bits, a code that
// needs bits past the data, and 16 bits without a match all fail.
inline Symbol decode_symbol(BitReader &br, const HuffTable &t, int &symbol) {
  if (br.status != kStopNone) return Symbol::failed;
  if (br.bits < 16) refill(br);
  const uint16_t entry = t.fast[static_cast<size_t>(br.acc >> (64 - kFastBits))];
  int length = entry & 0xFF;
  if (length != 0) {
    symbol = entry >> 8;
  } else {
    for (length = kFastBits + 1; length <= 16; ++length) {
      const auto code = static_cast<int32_t>(br.acc >> (64 - length));
      const auto k = static_cast<size_t>(length);
      if (code <= t.maxcode[k]) {
        const auto index = static_cast<size_t>(t.offset[k] + (code - t.first[k]));
        if (index >= t.symbols.size()) return Symbol::failed;
        symbol = t.symbols[index];
        break;
      }
    }
    if (length > 16) {
      // The bits read before giving up are gone, as far as the data holds.
      consume(br, 16);
      return Symbol::failed;
    }
  }
  if (length > br.bits) {
    consume(br, length);
    return Symbol::failed;
  }
  consume(br, length);
  return Symbol::ok;
}

// Reads s bits (1 to 16) as a magnitude category value and extends its
// sign: values below 2^(s-1) are negative. Bits past the data read as zeros
// and leave a status for the next symbol.
inline int32_t receive_extend(BitReader &br, int s) {
  if (br.bits < s) refill(br);
  const auto raw = static_cast<int32_t>(br.acc >> (64 - s));
  consume(br, s);
  return raw < (int32_t{1} << (s - 1)) ? raw - (int32_t{1} << s) + 1 : raw;
}

}  // namespace

size_t reader_position(const BitReader &br) {
  // Each whole byte still held was loaded from one data byte or from an
  // 0xFF 0x00 pair; within the scan data every 0xFF is such a pair.
  size_t p = br.pos;
  for (int untouched = br.bits / 8; untouched > 0; --untouched) {
    if (p >= br.run_start + 2 && br.data[p - 1] == 0x00 && br.data[p - 2] == 0xFF)
      p -= 2;
    else
      p -= 1;
  }
  return p;
}

BlockResult decode_block(BitReader &br, const HuffTable &dc, const HuffTable &ac, int32_t &pred,
                         int32_t coef[64], unsigned &used) {
  std::memset(coef, 0, 64 * sizeof(int32_t));
  used = 0;
  int s = 0;
  if (decode_symbol(br, dc, s) != Symbol::ok) return BlockResult::failed_discarded;
  int32_t diff = 0;
  if (s != 0) {
    // No 8-bit DC difference needs more than 11 bits; 16 is the most the
    // format can describe. Larger categories are corrupt data.
    if (s > 16) return BlockResult::failed_discarded;
    diff = receive_extend(br, s);
  }
  // Corrupt data can push the predictor anywhere: wrap instead of overflow.
  pred = static_cast<int32_t>(static_cast<uint32_t>(pred) + static_cast<uint32_t>(diff));
  coef[0] = pred;
  if (pred != 0) used = 0x101;
  for (int k = 1; k < 64;) {
    int rs = 0;
    if (decode_symbol(br, ac, rs) != Symbol::ok) return BlockResult::failed_stored;
    if (rs == 0) break;  // end of block
    k += rs >> 4;
    if (k > 63) return BlockResult::failed_stored;
    const int size = rs & 15;
    if (size != 0) {
      const unsigned z = ZZ[static_cast<size_t>(k)];
      // Every value of a size category above 0 is non-zero.
      coef[z] = receive_extend(br, size);
      used |= (1u << (z >> 3)) | (0x100u << (z & 7));
    }
    ++k;
  }
  return BlockResult::ok;
}

}  // namespace jpegdec
