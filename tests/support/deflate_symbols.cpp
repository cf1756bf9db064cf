#include "support/deflate_symbols.h"

#include <stdexcept>

#include "flate/tables.h"

namespace deflate_symbols {
namespace {

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Reader {
  const unsigned char *data;
  size_t len;
  size_t pos = 0;  // byte position
  int bit = 0;     // bit position inside data[pos]

  int get_bit() {
    if (pos >= len) throw Failure("truncated stream");
    int b = (data[pos] >> bit) & 1;
    if (++bit == 8) {
      bit = 0;
      pos++;
    }
    return b;
  }
  int get_bits(int n) {
    int v = 0;
    for (int i = 0; i < n; i++) v |= get_bit() << i;
    return v;
  }
};

// Canonical Huffman decoding table: counts per length and symbols by code.
struct Code {
  int count[16] = {0};
  std::vector<int> symbols;
};

Code make_code(const std::vector<int> &lengths, const char *what) {
  Code c;
  int used = 0;
  for (int l : lengths) {
    if (l < 0 || l > 15) throw Failure(std::string(what) + ": bad length");
    if (l) {
      c.count[l]++;
      used++;
    }
  }
  // Completeness: the Kraft sum must be exactly 1 (the compressor always sends
  // complete codes; a single-symbol code would be legal DEFLATE but is not
  // produced by this compressor, so it is refused too).
  long left = 1;
  for (int l = 1; l <= 15; l++) {
    left = left * 2 - c.count[l];
    if (left < 0) throw Failure(std::string(what) + ": over-subscribed code");
  }
  if (used == 0) throw Failure(std::string(what) + ": empty code");
  if (left != 0) throw Failure(std::string(what) + ": incomplete code");
  for (int l = 1; l <= 15; l++)
    for (size_t s = 0; s < lengths.size(); s++)
      if (lengths[s] == l) c.symbols.push_back(static_cast<int>(s));
  return c;
}

int decode(Reader &r, const Code &c) {
  int code = 0, first = 0, index = 0;
  for (int l = 1; l <= 15; l++) {
    code |= r.get_bit();
    int count = c.count[l];
    if (code - first < count) return c.symbols[static_cast<size_t>(index + code - first)];
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  throw Failure("invalid code");
}

void data_symbols(Reader &r, const Code &lit, const Code &dist, Block &b, std::vector<unsigned char> &out) {
  for (;;) {
    int sym = decode(r, lit);
    if (sym < 256) {
      out.push_back(static_cast<unsigned char>(sym));
      b.symbols.push_back(Symbol{0, sym});
    } else if (sym == 256) {
      return;
    } else {
      sym -= 257;
      if (sym >= 29) throw Failure("bad length symbol");
      int length = flate::base_len[sym] + r.get_bits(flate::extra_bits[sym]);
      int ds = decode(r, dist);
      if (ds >= 30) throw Failure("bad distance symbol");
      int d = flate::base_dist[ds] + r.get_bits(flate::dist_bits[ds]);
      if (static_cast<size_t>(d) > out.size()) throw Failure("distance too far back");
      for (int k = 0; k < length; k++) out.push_back(out[out.size() - static_cast<size_t>(d)]);
      b.symbols.push_back(Symbol{length, d});
    }
  }
}

void parse(const unsigned char *data, size_t len, Parsed &p) {
  if (len < 2) throw Failure("no zlib header");
  if ((data[0] & 0x0F) != 8 || ((data[0] << 8) | data[1]) % 31 != 0 || (data[1] & 0x20))
    throw Failure("bad zlib header");
  Reader r{data, len, 2, 0};
  bool final = false;
  while (!final) {
    Block b;
    b.out_start = p.output.size();
    b.final = final = r.get_bit() != 0;
    b.type = r.get_bits(2);
    if (b.type == 0) {
      if (r.bit) {
        r.bit = 0;
        r.pos++;
      }
      if (r.pos + 4 > len) throw Failure("truncated stored header");
      unsigned n = data[r.pos] | data[r.pos + 1] << 8;
      unsigned nn = data[r.pos + 2] | data[r.pos + 3] << 8;
      if ((n ^ 0xFFFF) != nn) throw Failure("stored length check");
      r.pos += 4;
      if (r.pos + n > len) throw Failure("truncated stored data");
      for (unsigned k = 0; k < n; k++) {
        p.output.push_back(data[r.pos + k]);
        b.symbols.push_back(Symbol{0, data[r.pos + k]});
      }
      r.pos += n;
    } else if (b.type == 1) {
      std::vector<int> ll(288), dl(30, 5);
      for (int s = 0; s < 288; s++) ll[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
      // The fixed distance code has 32 codes of 5 bits; 30 and 31 are never valid.
      dl.resize(32, 5);
      data_symbols(r, make_code(ll, "fixed lit"), make_code(dl, "fixed dist"), b, p.output);
    } else if (b.type == 2) {
      b.hlit = r.get_bits(5);
      b.hdist = r.get_bits(5);
      b.hclen = r.get_bits(4);
      b.cl_lengths.assign(19, 0);
      for (int k = 0; k < b.hclen + 4; k++) b.cl_lengths[flate::DECODE_ORDER[k]] = r.get_bits(3);
      Code cl = make_code(b.cl_lengths, "code-length code");
      int total = b.hlit + 257 + b.hdist + 1;
      std::vector<int> lens;
      while (static_cast<int>(lens.size()) < total) {
        int sym = decode(r, cl);
        if (sym < 16) {
          lens.push_back(sym);
        } else if (sym == 16) {
          if (lens.empty()) throw Failure("repeat with no previous length");
          int rep = 3 + r.get_bits(2);
          int prev = lens.back();
          for (int k = 0; k < rep; k++) lens.push_back(prev);
        } else {
          int rep = sym == 17 ? 3 + r.get_bits(3) : 11 + r.get_bits(7);
          for (int k = 0; k < rep; k++) lens.push_back(0);
        }
      }
      if (static_cast<int>(lens.size()) != total) throw Failure("code lengths overrun");
      b.lit_lengths.assign(lens.begin(), lens.begin() + b.hlit + 257);
      b.dist_lengths.assign(lens.begin() + b.hlit + 257, lens.end());
      if (b.lit_lengths[256] == 0) throw Failure("no end-of-block code");
      data_symbols(r, make_code(b.lit_lengths, "literal/length code"),
                   make_code(b.dist_lengths, "distance code"), b, p.output);
    } else {
      throw Failure("reserved block type");
    }
    p.blocks.push_back(std::move(b));
  }
  p.padding_zero = true;
  while (r.bit != 0) {
    if (r.get_bit() != 0) p.padding_zero = false;
  }
  if (r.pos + 4 > len) throw Failure("missing Adler-32");
  p.adler_stored = static_cast<uint32_t>(data[r.pos]) << 24 | static_cast<uint32_t>(data[r.pos + 1]) << 16 |
                   static_cast<uint32_t>(data[r.pos + 2]) << 8 | data[r.pos + 3];
  p.trailing_bytes = len - (r.pos + 4);
  uint32_t s1 = 1, s2 = 0;
  for (unsigned char c : p.output) {
    s1 = (s1 + c) % 65521;
    s2 = (s2 + s1) % 65521;
  }
  p.adler_computed = s2 << 16 | s1;
}

}  // namespace

Parsed parse_zlib(const unsigned char *data, size_t len) {
  Parsed p;
  try {
    parse(data, len, p);
    p.ok = true;
  } catch (const Failure &f) {
    p.error = f.what();
  }
  return p;
}

}  // namespace deflate_symbols
