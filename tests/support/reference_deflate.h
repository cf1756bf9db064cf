// A plain, slow transcription of the compressor's defined algorithm, kept
// apart from src/flate so that the fast tvl_deflate can be checked against it
// byte for byte. No optimisation, no static state: every call owns its tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace refdeflate {

// What happened inside one compression, so that tests can prove that an input
// reaches the path it was made for.
struct Stats {
  int blocks = 0;
  int lit_overflow_blocks = 0;   // literal/length tree needed the 15-bit repair
  int dist_overflow_blocks = 0;  // distance tree needed the 15-bit repair
  int bl_overflow_blocks = 0;    // code-length tree needed the 7-bit repair
  long chain_limit_hits = 0;     // searches stopped by the 128-candidate limit
  long matches = 0;
  long literals = 0;
  int max_distance = 0;
};

// The complete zlib stream for src[0..len).
std::vector<unsigned char> compress(const unsigned char *src, size_t len, Stats *stats = nullptr);

// d_build over elems symbols with the given frequencies (entries may be 0);
// fills lens[0..elems) and codes[0..elems) (codes bit-reversed, as written).
// Returns max code. overflowed (if not null) tells whether the repair ran.
int build(const uint32_t *freq, int elems, int max_length, int *lens, unsigned *codes,
          bool *overflowed = nullptr);

}  // namespace refdeflate
