// A plain, slow raw DEFLATE decoder that reads one bit at a time and copies
// one byte at a time, kept apart from src/flate as the model that the fast
// tvl_inflate must agree with on every input, valid or not. It accepts
// incomplete codes and references into earlier blocks, ignores data after
// the final block and knows nothing of the zlib wrapper.
#pragma once

#include <cstddef>

namespace refinflate {

// Returns the number of bytes written to dst after the final block, or -1
// for damaged or truncated data or output that would pass dst_cap.
int inflate(const unsigned char *src, size_t src_len, unsigned char *dst, size_t dst_cap);

}  // namespace refinflate
